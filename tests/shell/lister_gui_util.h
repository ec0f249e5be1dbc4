// The real editor with its default custom layer, driven by keys through the
// X test extension, and its window read back as pixels.
#pragma once
#include <functional>
#include <string>
#include <time.h>
#include <unistd.h>
#include "gui_harness.h"
#include "../render/screenshot_pixels.h"

inline double gui_now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

// Keys go to the focused window: focus it first (waiting until it has it).
inline bool gui_keys(const Gui_Session &session, const std::string &window, const std::string &keys) {
    return run_in_display(session, "xdotool windowfocus --sync " + window + " key --delay 30 " + keys) == 0;
}
inline bool gui_type(const Gui_Session &session, const std::string &window, const std::string &text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    return run_in_display(session, "xdotool windowfocus --sync " + window + " type --delay 20 " + quoted) == 0;
}

// Screenshots until `done` holds for one (true) or the deadline passes (false);
// `img` keeps the last one taken.
inline bool gui_wait_for_pixels(const Gui_Session &session, const std::string &window, const std::string &png,
                                Rgb_Image *img, double seconds, const std::function<bool(const Rgb_Image &)> &done) {
    for (double deadline = gui_now() + seconds; gui_now() < deadline; usleep(50000))
        if (take_screenshot(session, window, png) && load_png(png, img) && done(*img)) return true;
    return false;
}

// Waits for the window to show something other than `before`: a key's
// effect has been drawn, so the frame that handled it is over.
inline bool gui_wait_for_change(const Gui_Session &session, const std::string &window, const std::string &png,
                                const Rgb_Image &before, Rgb_Image *after, double seconds) {
    return gui_wait_for_pixels(session, window, png, after, seconds, [&](const Rgb_Image &now) {
        return now.width != before.width || now.height != before.height || now.rgb != before.rgb;
    });
}

// Rows [top, bottom] of horizontal bands in which `pick` finds pixels, top
// to bottom; bands closer than `gap` rows merge.
struct Row_Band { int top, bottom, left, right, pixels; };
inline std::vector<Row_Band> gui_bands(const Rgb_Image &img, const std::function<bool(const unsigned char *)> &pick,
                                       int x0 = 0, int x1 = -1, int gap = 2) {
    if (x1 < 0) x1 = img.width;
    std::vector<Row_Band> bands;
    for (int y = 0; y < img.height; y++) {
        int n = 0, left = x1, right = -1;
        for (int x = x0; x < x1; x++)
            if (pick(img.at(x, y))) {
                n++;
                if (x < left) left = x;
                right = x;
            }
        if (!n) continue;
        if (!bands.empty() && y - bands.back().bottom <= gap) {
            Row_Band &b = bands.back();
            b.bottom = y;
            b.pixels += n;
            if (left < b.left) b.left = left;
            if (right > b.right) b.right = right;
        } else {
            bands.push_back({y, y, left, right, n});
        }
    }
    return bands;
}
