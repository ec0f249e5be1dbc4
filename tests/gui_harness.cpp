#include "gui_harness.h"
#include "test_util.h"
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <fcntl.h>

#ifndef TARNO_BIN_DIR
#error "tests need TARNO_BIN_DIR"
#endif

static double now_seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static void sleep_ms(int ms) {
    timespec ts = {ms / 1000, (long)(ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

static pid_t spawn(const char *const argv[], const std::string &display, bool quiet) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    setpgid(0, 0);
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    if (quiet) {
        int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
    }
    execvp(argv[0], (char *const *)argv);
    _exit(127);
}

static void stop_process(pid_t *pid) {
    if (*pid <= 0) return;
    kill(-*pid, SIGTERM);
    kill(*pid, SIGTERM);
    for (int i = 0; i < 100; i++) {
        if (waitpid(*pid, nullptr, WNOHANG) == *pid) { *pid = -1; return; }
        sleep_ms(20);
    }
    kill(-*pid, SIGKILL);
    kill(*pid, SIGKILL);
    waitpid(*pid, nullptr, 0);
    *pid = -1;
}

bool Gui_Session::start(int width, int height) {
    // Xvfb picks a free display itself and writes its number to the pipe.
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::string fd_text = std::to_string(fds[1]);
    const char *argv[] = {"Xvfb", "-displayfd", fd_text.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", nullptr};
    xvfb = spawn(argv, "", true);
    close(fds[1]);
    char buffer[32] = {};
    ssize_t n = 0;
    double deadline = now_seconds() + 20;
    while (n <= 0 && now_seconds() < deadline) {
        n = read(fds[0], buffer, sizeof buffer - 1);
        if (n < 0) break;
    }
    close(fds[0]);
    if (n <= 0) { stop(); return false; }
    display = atoi(buffer);
    display_name = ":" + std::to_string(display);
    const char *wm[] = {"openbox", "--sm-disable", nullptr};
    window_manager = spawn(wm, display_name, true);
    // openbox is ready once it owns the window manager selection.
    while (now_seconds() < deadline) {
        std::string out;
        if (run_in_display(*this, "wmctrl -m 2>/dev/null", &out) == 0 && out.find("Openbox") != std::string::npos) return true;
        sleep_ms(50);
    }
    return true; // still usable without a confirmed window manager
}

void Gui_Session::stop() {
    stop_process(&window_manager);
    stop_process(&xvfb);
}

int run_in_display(const Gui_Session &session, const std::string &command, std::string *output) {
    return run_command("DISPLAY=" + session.display_name + " " + command, output);
}

std::string wait_for_window(const Gui_Session &session, const std::string &title_pattern, double seconds) {
    double deadline = now_seconds() + seconds;
    while (now_seconds() < deadline) {
        std::string out;
        if (run_in_display(session, "xdotool search --name '" + title_pattern + "' 2>/dev/null", &out) == 0 && !out.empty()) {
            return out.substr(0, out.find('\n'));
        }
        sleep_ms(50);
    }
    return "";
}

bool close_window_and_wait(const Gui_Session &session, const std::string &window_id, Editor_Process *editor,
                           double seconds) {
    double deadline = now_seconds() + seconds;
    while (now_seconds() < deadline) {
        run_in_display(session, "wmctrl -i -c " + window_id + " 2>/dev/null");
        if (editor->wait_for_exit(1.0)) return true;
    }
    return editor->wait_for_exit(0);
}

bool take_screenshot(const Gui_Session &session, const std::string &window_id, const std::string &png_path) {
    return run_in_display(session, "import -window " + window_id + " '" + png_path + "' 2>/dev/null") == 0;
}

bool Editor_Process::prepare(const std::string &into) {
    directory = into;
    // A cached image left by an earlier run names the sources of the build
    // directory, which still match, so the copy would run that image instead
    // of compiling its own custom.8.
    return run_command("rm -rf '" + into + "' && mkdir -p '" + into + "' && cp -r " TARNO_BIN_DIR "/. '" + into +
                       "/' && rm -rf '" + into + "/logs' '" + into + "/custom.8b'") == 0;
}

bool Editor_Process::start(const Gui_Session &session, const std::string &arguments) {
    std::string command = "exec '" + directory + "/tarno' " + arguments;
    const char *argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid = spawn(argv, session.display_name, false);
    return pid > 0;
}

bool Editor_Process::wait_for_exit(double seconds) {
    if (pid <= 0) return true;
    double deadline = now_seconds() + seconds;
    while (now_seconds() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid = -1;
            return true;
        }
        sleep_ms(10);
    }
    return false;
}

void Editor_Process::kill_now() {
    if (pid > 0) stop_process(&pid);
}
