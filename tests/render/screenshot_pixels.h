// Screenshots as pixels: a PNG read through ImageMagick into RGB bytes.
#pragma once
#include <string>
#include <vector>
#include "test_util.h"

struct Rgb_Image {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;
    const unsigned char *at(int x, int y) const { return &rgb[((size_t)y * width + x) * 3]; }
    bool is_bright(int x, int y, int threshold = 96) const {
        const unsigned char *p = at(x, y);
        return p[0] > threshold && p[1] > threshold && p[2] > threshold;
    }
};

inline bool load_png(const std::string &png, Rgb_Image *out) {
    std::string ppm;
    if (run_command("convert '" + png + "' -depth 8 ppm:-", &ppm) != 0) return false;
    int w, h, maxval, consumed = 0;
    if (sscanf(ppm.c_str(), "P6 %d %d %d%n", &w, &h, &maxval, &consumed) != 3 || maxval != 255) return false;
    size_t start = (size_t)consumed + 1, bytes = (size_t)w * h * 3;
    if (ppm.size() < start + bytes) return false;
    out->width = w;
    out->height = h;
    out->rgb.assign(ppm.begin() + start, ppm.begin() + start + bytes);
    return true;
}

// Bounding box of the bright (text) pixels; false when there are none.
struct Box { int left, top, right, bottom; };
inline bool bright_box(const Rgb_Image &img, Box *box) {
    bool any = false;
    *box = {img.width, img.height, -1, -1};
    for (int y = 0; y < img.height; y++)
        for (int x = 0; x < img.width; x++) {
            if (!img.is_bright(x, y)) continue;
            any = true;
            if (x < box->left) box->left = x;
            if (x > box->right) box->right = x;
            if (y < box->top) box->top = y;
            if (y > box->bottom) box->bottom = y;
        }
    return any;
}
