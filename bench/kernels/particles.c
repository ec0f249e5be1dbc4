// Struct-heavy code: 2,000 particles moved through a box for 30,000 steps,
// vectors passed to and returned from functions by value.
#include <stdint.h>
#include <stdio.h>
typedef struct { int32_t x, y; } Vector;
typedef struct { Vector position, velocity; int32_t bounces; } Particle;
static Particle particles[2000];
static Vector add(Vector a, Vector b) { Vector r; r.x = a.x + b.x; r.y = a.y + b.y; return r; }
static void reflect(Particle *p, int32_t limit) {
    if (p->position.x < 0 || p->position.x > limit) { p->velocity.x = 0 - p->velocity.x; p->bounces += 1; }
    if (p->position.y < 0 || p->position.y > limit) { p->velocity.y = 0 - p->velocity.y; p->bounces += 1; }
}
int main(void) {
    int64_t n = 2000;
    for (int64_t i = 0; i < n; i++) {
        Particle *p = &particles[i];
        p->position.x = (int32_t)(i * 37 % 10000);
        p->position.y = (int32_t)(i * 91 % 10000);
        p->velocity.x = (int32_t)(i % 13) - 6;
        p->velocity.y = (int32_t)(i % 11) - 5;
        p->bounces = 0;
    }
    for (int64_t step = 0; step < 30000; step++) {
        for (int64_t i = 0; i < n; i++) {
            Particle *p = &particles[i];
            p->position = add(p->position, p->velocity);
            reflect(p, 10000);
        }
    }
    int64_t total = 0;
    for (int64_t i = 0; i < n; i++) total += (int64_t)particles[i].bounces + particles[i].position.x;
    printf("%lld\n", (long long)total);
    return 0;
}
