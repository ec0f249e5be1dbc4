// Starts a command and exits once it has mapped its first top-level window
// (with a window manager: once the manager maps its frame), so hyperfine can
// time start-up to the first window for any X program. The command is killed
// then. Usage: first_map COMMAND [ARGS...]; exit status 1 after 20 s without one.
#include <X11/Xlib.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <poll.h>

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    Display *display = XOpenDisplay(NULL);
    if (!display) return 2;
    Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 1;
    struct timespec start, now;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        while (XPending(display)) {
            XEvent e;
            XNextEvent(display, &e);
            if (e.type == MapNotify && e.xmap.event == root && !e.xmap.override_redirect) status = 0;
        }
        if (status == 0) break;
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec - start.tv_sec > 20) break;
        struct pollfd p = {ConnectionNumber(display), POLLIN, 0};
        poll(&p, 1, 100);
    }
    kill(-child, SIGKILL);
    waitpid(child, NULL, 0);
    XCloseDisplay(display);
    return status;
}
