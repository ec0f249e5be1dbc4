#include "test_end_to_end_util.h"
#include <dirent.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

static double now_seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

bool wait_until(const std::function<bool()> &condition, double seconds) {
    double deadline = now_seconds() + seconds;
    for (;;) {
        if (condition()) return true;
        if (now_seconds() > deadline) return false;
        usleep(20000);
    }
}

bool wait_for_bytes(const std::string &path, const std::string &expected, std::string *actual, double seconds) {
    actual->clear();
    return wait_until([&] { return read_whole_file(path, actual) && *actual == expected; }, seconds);
}

static std::string quoted(const std::string &text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool End_To_End_Editor::start(const std::string &arguments, const std::function<void(End_To_End_Editor &)> &prepare) {
    if (tmp.path.empty() || !session.start(1280, 800)) {
        start_error = "no X server";
        return false;
    }
    work = tmp.file("work");
    bin = tmp.file("bin");
    if (run_command("mkdir -p " + quoted(work)) != 0 || !editor.prepare(bin)) {
        start_error = "could not copy the executable directory";
        return false;
    }
    if (prepare) prepare(*this);
    // The editor takes its working directory (the file lister's start) from us.
    char previous[4096];
    if (!getcwd(previous, sizeof previous) || chdir(work.c_str()) != 0) return false;
    std::string expanded = arguments;
    for (size_t at; (at = expanded.find("%W")) != std::string::npos;) expanded.replace(at, 2, work);
    bool started = editor.start(session, expanded);
    if (chdir(previous) != 0) return false;
    if (!started) {
        start_error = "the editor did not start";
        return false;
    }
    window = wait_for_window(session, "^Tarno", E2E_DEADLINE);
    if (window.empty()) {
        start_error = "no editor window appeared";
        return false;
    }
    if (!focus()) {
        start_error = "the editor window never got the keyboard";
        return false;
    }
    return true;
}

bool End_To_End_Editor::alive() { return editor.pid > 0 && !editor.wait_for_exit(0); }

bool End_To_End_Editor::focus() {
    return wait_until([&] {
        run_in_display(session, "xdotool windowfocus --sync " + window + " 2>/dev/null");
        std::string focused;
        run_in_display(session, "xdotool getwindowfocus 2>/dev/null", &focused);
        return atol(focused.c_str()) == atol(window.c_str());
    }, 10);
}

void End_To_End_Editor::keys(const std::string &k) { run_in_display(session, "xdotool key --delay 40 " + k); }

void End_To_End_Editor::type(const std::string &text) {
    run_in_display(session, "xdotool type --delay 30 -- " + quoted(text));
}

void End_To_End_Editor::click(int x, int y) {
    run_in_display(session, "xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
                                " click 1");
}

bool End_To_End_Editor::screenshot(Rgb_Image *image) {
    std::string png = tmp.file("shot.png");
    return take_screenshot(session, window, png) && load_png(png, image);
}

bool process_runs(const std::string &command) {
    DIR *proc = opendir("/proc");
    if (!proc) return false;
    bool found = false;
    while (dirent *e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::string line;
        if (!read_whole_file(std::string("/proc/") + e->d_name + "/cmdline", &line)) continue;
        for (char &c : line)
            if (c == 0) c = ' ';
        while (!line.empty() && line.back() == ' ') line.pop_back();
        if (line == command) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

int count_colour(const Rgb_Image &img, int r, int g, int b, int tolerance, int left, int top, int right, int bottom) {
    int n = 0;
    for (int y = top < 0 ? 0 : top; y < bottom && y < img.height; y++)
        for (int x = left < 0 ? 0 : left; x < right && x < img.width; x++) {
            const unsigned char *p = img.at(x, y);
            n += abs(p[0] - r) <= tolerance && abs(p[1] - g) <= tolerance && abs(p[2] - b) <= tolerance;
        }
    return n;
}
