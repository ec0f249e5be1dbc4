// Sieve of Eratosthenes over 250,000 flags, 400 times.
#include <stdint.h>
#include <stdio.h>
static uint8_t flags[262144];
int main(void) {
    int64_t n = 250000, total = 0;
    for (int64_t round = 0; round < 400; round++) {
        for (int64_t i = 0; i < n; i++) flags[i] = 1;
        int64_t count = 0;
        for (int64_t i = 2; i < n; i++) {
            if (flags[i]) {
                count += 1;
                for (int64_t j = i + i; j < n; j += i) flags[j] = 0;
            }
        }
        total += count;
    }
    printf("%lld\n", (long long)total);
    return 0;
}
