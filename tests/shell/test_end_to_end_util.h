// One real editor under Xvfb for a whole test program, driven by xdotool
// like a user would: keys go to the focused window, and every check waits
// for something a user could see (bytes on disk, a process, pixels).
#pragma once
#include "gui_harness.h"
#include "test_util.h"
#include "../render/screenshot_pixels.h"
#include <functional>
#include <string>

constexpr double E2E_DEADLINE = 30; // seconds; generous for a loaded 2-core machine

struct End_To_End_Editor {
    Gui_Session session;
    Temp_Dir tmp;
    Editor_Process editor;
    std::string window;
    std::string work;  // the editor's working directory, where the tests' files live
    std::string bin;   // the editor's own copy of the executable directory
    std::string start_error; // why start() failed, for every case to report

    // Copies the executable directory, lets `prepare` change it (a custom
    // layer, say), starts the editor in `work` with `arguments` and waits for
    // its window to have the keyboard. "%W" in `arguments` stands for `work`.
    bool start(const std::string &arguments, const std::function<void(End_To_End_Editor &)> &prepare = nullptr);
    bool alive();
    // Gives the window the keyboard again (something may have taken it).
    bool focus();
    // xdotool key / type, to the focused window.
    void keys(const std::string &keys);
    void type(const std::string &text);
    void click(int x, int y);
    bool screenshot(Rgb_Image *image);
    std::string path(const std::string &name) const { return work + "/" + name; }
};

// Polls until `condition` holds or `seconds` pass.
bool wait_until(const std::function<bool()> &condition, double seconds = E2E_DEADLINE);
// Waits for a file to hold exactly `expected`; `actual` gets what it held last.
bool wait_for_bytes(const std::string &path, const std::string &expected, std::string *actual,
                    double seconds = E2E_DEADLINE);
// True while a process whose command line is exactly `command` runs.
bool process_runs(const std::string &command);
// Pixels of the image within `tolerance` of the colour, in the rectangle.
int count_colour(const Rgb_Image &img, int r, int g, int b, int tolerance, int left, int top, int right, int bottom);
