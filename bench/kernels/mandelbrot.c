// Float math: escape times of a 600 x 400 view of the Mandelbrot set in f64.
#include <stdint.h>
#include <stdio.h>
int main(void) {
    int64_t width = 600, height = 400, total = 0;
    for (int64_t y = 0; y < height; y++) {
        double ci = (double)y * 2.0 / (double)height - 1.0;
        for (int64_t x = 0; x < width; x++) {
            double cr = (double)x * 3.0 / (double)width - 2.0;
            double zr = 0.0, zi = 0.0;
            int64_t n = 0;
            while (n < 500) {
                double zr2 = zr * zr, zi2 = zi * zi;
                if (zr2 + zi2 > 4.0) break;
                zi = 2.0 * zr * zi + ci;
                zr = zr2 - zi2 + cr;
                n += 1;
            }
            total += n;
        }
    }
    printf("%lld\n", (long long)total);
    return 0;
}
