// The real editor under Xvfb with its default custom layer: Ctrl+T opens a
// terminal tab, a typed printf with colour sequences runs in it, and the
// window shows its output in dark red, then in the default white again; a
// command that ends while the window is in the background raises a desktop
// notification.
#include <gtest/gtest.h>
#include "lister_gui_util.h"
#include "test_util.h"
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <vector>

static bool dark_red(const unsigned char *p) { return p[0] > 120 && p[1] < 70 && p[2] < 70; }
static bool white(const unsigned char *p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; }

TEST(Terminal_Gui, ColouredOutputOfACommandIsShownInItsColours) {
    Gui_Session session;
    ASSERT_TRUE(session.start(1280, 800));
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    std::string path = tmp.file("notes.txt");
    ASSERT_TRUE(write_whole_file(path, "notes\n"));
    ASSERT_TRUE(editor.start(session, "'" + path + "'"));
    std::string id = wait_for_window(session, "^Tarno", 30);
    ASSERT_FALSE(id.empty());
    std::string png = tmp.file("shot.png");
    Rgb_Image before, img;
    // Something drawn (the file's text) before the first key.
    ASSERT_TRUE(gui_wait_for_pixels(session, id, png, &before, 30, [](const Rgb_Image &i) {
        return !gui_bands(i, white).empty();
    }));
    EXPECT_TRUE(gui_bands(before, dark_red).empty()) << "dark red before any output";

    ASSERT_TRUE(gui_keys(session, id, "ctrl+t"));
    ASSERT_TRUE(gui_wait_for_change(session, id, png, before, &img, 20)) << "Ctrl+T changed nothing";
    ASSERT_TRUE(gui_type(session, id, "printf '\\033[31mMMMMMMMMMMMM\\033[0m WWWWWWWW\\n'"));
    ASSERT_TRUE(gui_keys(session, id, "Return"));
    bool shown = gui_wait_for_pixels(session, id, png, &img, 30, [](const Rgb_Image &i) {
        std::vector<Row_Band> red = gui_bands(i, dark_red);
        return red.size() == 1 && red[0].pixels > 60;
    });
    ASSERT_TRUE(shown) << "no single line of dark red text appeared";
    Row_Band red = gui_bands(img, dark_red)[0];
    int height = red.bottom - red.top + 1;
    EXPECT_LT(height, 40) << "the red text spans more than a line";
    EXPECT_GT(red.right - red.left, 6 * height) << "twelve M are wider than this";
    // After ESC [0m the rest of the line is white again, right of the red run.
    int white_after = 0, red_in_it = 0;
    for (int y = red.top; y <= red.bottom; y++)
        for (int x = red.right + 1; x < img.width; x++) white_after += white(img.at(x, y)), red_in_it += dark_red(img.at(x, y));
    EXPECT_GT(white_after, 30) << "no white text after the coloured run";
    EXPECT_EQ(red_in_it, 0);
    // The command line above the output (its header) is drawn, not in red.
    std::vector<Row_Band> above = gui_bands(img, [](const unsigned char *p) { return p[2] > 150 && p[2] > p[0] + 20; },
                                            0, img.width / 2);
    bool header = false;
    for (const Row_Band &b : above) header |= b.bottom < red.top && b.bottom > red.top - 3 * height;
    EXPECT_TRUE(header) << "no command header above the output";

    ASSERT_TRUE(close_window_and_wait(session, id, &editor, 10));
    EXPECT_EQ(editor.exit_status, 0);
}

// A private session bus with the test notification daemon on it; the editor
// started after this inherits its address.
struct Notification_Bus {
    pid_t bus = -1, daemon = -1;
    std::string received;
    static pid_t spawn(const std::vector<std::string> &args) {
        pid_t pid = fork();
        if (pid == 0) {
            std::vector<char *> argv;
            for (const std::string &a : args) argv.push_back((char *)a.c_str());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }
    static bool wait_for_file(const std::string &path, double seconds) {
        for (double deadline = gui_now() + seconds; gui_now() < deadline; usleep(10000))
            if (access(path.c_str(), F_OK) == 0) return true;
        return false;
    }
    bool start(const Temp_Dir &dir) {
        std::string address = "unix:path=" + dir.file("bus");
        bus = spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address});
        if (!wait_for_file(dir.file("bus"), 20)) return false;
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        received = dir.file("received");
        daemon = spawn({"/usr/bin/python3", TARNO_SOURCE_DIR "/tests/shell/notification_daemon.py", received});
        return wait_for_file(received + ".ready", 20);
    }
    std::string lines() {
        std::string s;
        read_whole_file(received, &s);
        return s;
    }
    ~Notification_Bus() {
        for (pid_t p : {daemon, bus})
            if (p > 0) kill(p, SIGTERM), waitpid(p, nullptr, 0);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
};

TEST(Terminal_Gui, ACommandEndingWhileTheWindowIsInTheBackgroundNotifies) {
    Temp_Dir tmp;
    Notification_Bus notifications;
    ASSERT_TRUE(notifications.start(tmp));
    Gui_Session session;
    ASSERT_TRUE(session.start(1280, 800));
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    ASSERT_TRUE(write_whole_file(tmp.file("notes.txt"), "notes\n"));
    ASSERT_TRUE(editor.start(session, "'" + tmp.file("notes.txt") + "'"));
    std::string id = wait_for_window(session, "^Tarno", 30);
    ASSERT_FALSE(id.empty());
    std::string png = tmp.file("shot.png");
    Rgb_Image before, img;
    ASSERT_TRUE(gui_wait_for_pixels(session, id, png, &before, 30, [](const Rgb_Image &i) { return !gui_bands(i, white).empty(); }));
    ASSERT_TRUE(gui_keys(session, id, "ctrl+t"));
    ASSERT_TRUE(gui_wait_for_change(session, id, png, before, &img, 20));

    // Ending while the window has the focus: no notification.
    ASSERT_TRUE(gui_type(session, id, "touch first"));
    ASSERT_TRUE(gui_keys(session, id, "Return"));
    ASSERT_TRUE(Notification_Bus::wait_for_file(tmp.file("first"), 30)) << "the command did not run";
    // Ending in the background: one, "Failure" with the command. A line typed
    // while the previous command's worker is still draining its output goes
    // to that program as input, so it is typed again until it runs. The
    // editor hears of losing the focus through its own event queue, which
    // nothing outside it shows: the command gives it a second after "go".
    std::string command = "touch started; while [ ! -e go ]; do sleep 0.05; done; sleep 1; false";
    bool started = false;
    for (int attempt = 0; attempt < 5 && !started; attempt++) {
        ASSERT_TRUE(gui_type(session, id, command));
        ASSERT_TRUE(gui_keys(session, id, "Return"));
        started = Notification_Bus::wait_for_file(tmp.file("started"), 5);
    }
    ASSERT_TRUE(started) << "the second command never ran";
    ASSERT_EQ(run_in_display(session, "xdotool windowminimize --sync " + id), 0);
    ASSERT_TRUE(write_whole_file(tmp.file("go"), ""));
    bool arrived = false;
    for (double deadline = gui_now() + 30; gui_now() < deadline && !arrived; usleep(20000))
        arrived = notifications.lines().find('\n') != std::string::npos;
    ASSERT_TRUE(arrived) << "no notification reached the daemon";
    EXPECT_EQ(notifications.lines(), "{\"app\": \"tarno\", \"summary\": \"Failure\", \"body\": \"" + command + "\"}\n");

    ASSERT_TRUE(close_window_and_wait(session, id, &editor, 10));
    EXPECT_EQ(editor.exit_status, 0);
}
