// Runs the real editor in a private X server: Xvfb on a free display with
// openbox as the window manager, the editor from its own copy of the
// executable's directory. Nothing here relies on the session's $DISPLAY.
#pragma once
#include <string>
#include <sys/types.h>

struct Gui_Session {
    pid_t xvfb = -1;
    pid_t window_manager = -1;
    int display = -1;
    std::string display_name; // ":N"
    bool start(int width = 1280, int height = 800);
    void stop();
    ~Gui_Session() { stop(); }
};

struct Editor_Process {
    pid_t pid = -1;
    std::string directory; // the copied executable directory
    int exit_status = -1;  // set once it has ended: exit code, or 128 + signal
    // Copies the built executable directory into `directory` (created fresh).
    bool prepare(const std::string &into);
    bool start(const Gui_Session &session, const std::string &arguments = "");
    // Polls until the process ends or the deadline passes; true when it ended.
    bool wait_for_exit(double seconds);
    void kill_now();
    ~Editor_Process() { kill_now(); }
};

// Runs `command` with DISPLAY set to the session's; returns its exit status.
int run_in_display(const Gui_Session &session, const std::string &command, std::string *output = nullptr);
// Polls `xdotool search --name` until a window whose title matches appears.
// Returns the window id or "" at the deadline.
std::string wait_for_window(const Gui_Session &session, const std::string &title_pattern, double seconds);
// Asks the window manager to close the window, again each second (a request
// sent before the manager has taken the new window in is lost), until the
// editor ends or the deadline passes. True when it ended.
bool close_window_and_wait(const Gui_Session &session, const std::string &window_id, Editor_Process *editor,
                           double seconds);
// Screenshot of one window as PNG; true on success.
bool take_screenshot(const Gui_Session &session, const std::string &window_id, const std::string &png_path);
