// Nested loops over arrays: a 96 x 96 product of s32 matrices, 150 times.
#include <stdint.h>
#include <stdio.h>
#define N 96
static int32_t memory[3 * N * N];
int main(void) {
    int32_t *a = memory, *b = a + N * N, *c = b + N * N;
    for (int64_t i = 0; i < N * N; i++) { a[i] = (int32_t)(i % 7) - 3; b[i] = (int32_t)(i % 5) - 2; }
    int64_t check = 0;
    for (int64_t round = 0; round < 150; round++) {
        for (int64_t row = 0; row < N; row++) {
            for (int64_t column = 0; column < N; column++) {
                int32_t sum = 0;
                for (int64_t k = 0; k < N; k++) sum += a[row * N + k] * b[k * N + column];
                c[row * N + column] = sum + (int32_t)round;
            }
        }
        check += c[round * 31 % (N * N)];
    }
    printf("%lld\n", (long long)check);
    return 0;
}
