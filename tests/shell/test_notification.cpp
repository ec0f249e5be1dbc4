// Notifications through the real notify-send to a notification daemon on a
// private session bus, and directories opened through the real xdg-open.
#include <gtest/gtest.h>
#include "test_util.h"
#include "core/strings.h"
#include "shell/notification.h"
#include "shell/os_spawn.h"
#include <signal.h>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}
template <typename F> static bool wait_until(F condition, double seconds = 20) {
    double deadline = now_seconds() + seconds;
    while (now_seconds() < deadline) {
        if (condition()) return true;
        usleep(5000);
    }
    return condition();
}
static pid_t start(const char *const *argv) {
    pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], (char *const *)argv);
        _exit(127);
    }
    return pid;
}
static void stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

struct Notification_Test : ::testing::Test {
    Temp_Dir dir;
    pid_t bus = -1, daemon = -1;
    std::string received;
    void SetUp() override {
        std::string address = "unix:path=" + dir.file("bus");
        const char *bus_argv[] = {"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                                  tcstring("--address=%s", address.c_str()), nullptr};
        bus = start(bus_argv);
        ASSERT_TRUE(wait_until([&] { return access(dir.file("bus").c_str(), F_OK) == 0; }));
        setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        received = dir.file("received");
        const char *daemon_argv[] = {"/usr/bin/python3", TARNO_SOURCE_DIR "/tests/shell/notification_daemon.py",
                                     received.c_str(), nullptr};
        daemon = start(daemon_argv);
        ASSERT_TRUE(wait_until([&] { return access((received + ".ready").c_str(), F_OK) == 0; }));
    }
    void TearDown() override {
        stop(daemon);
        stop(bus);
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    std::string lines() {
        std::string s;
        read_whole_file(received, &s);
        return s;
    }
};

TEST_F(Notification_Test, EachNotificationReachesTheDaemonWhole) {
    struct Case {
        const char *title, *message, *line;
    } cases[] = {
        {"Success", "make -j2", R"({"app": "tarno", "summary": "Success", "body": "make -j2"})"},
        {"Failure", "grep \"a b\" 'c'", R"({"app": "tarno", "summary": "Failure", "body": "grep \"a b\" 'c'"})"},
        {"-x", "--help", R"({"app": "tarno", "summary": "-x", "body": "--help"})"},
    };
    u32 n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.title);
        create_os_notification(S(c.title), S(c.message));
        n++;
        ASSERT_TRUE(wait_until([&] {
            std::string s = lines();
            return (u32)std::count(s.begin(), s.end(), '\n') >= n;
        }));
        EXPECT_NE(lines().find(c.line), std::string::npos) << lines();
    }
    EXPECT_TRUE(wait_until([] { return os_reap_spawned_children() == 0; })) << "every notify-send is reaped";
}

TEST(Open_In_Other_App, DirectoryGoesToTheDesktopsDefaultApplication) {
    Temp_Dir dir;
    std::string target = dir.file("a folder");
    ASSERT_EQ(run_command("mkdir -p '" + target + "' '" + dir.file("data/applications") + "' '" + dir.file("config") + "'"), 0);
    std::string opened = dir.file("opened");
    ASSERT_TRUE(write_whole_file(dir.file("opener.sh"), "#!/bin/sh\nprintf '%s' \"$1\" > '" + opened + "'\n"));
    ASSERT_EQ(run_command("chmod +x '" + dir.file("opener.sh") + "'"), 0);
    ASSERT_TRUE(write_whole_file(dir.file("data/applications/tarno-test-opener.desktop"),
                                 "[Desktop Entry]\nType=Application\nName=Opener\nExec=" + dir.file("opener.sh") +
                                     " %f\nMimeType=inode/directory;\n"));
    ASSERT_TRUE(write_whole_file(dir.file("config/mimeapps.list"),
                                 "[Default Applications]\ninode/directory=tarno-test-opener.desktop\n"));
    // xdg-open looks for desktop handlers only when it sees a display; the
    // handler here needs none.
    setenv("DISPLAY", ":4242", 1);
    unsetenv("XDG_CURRENT_DESKTOP");
    setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
    setenv("XDG_DATA_DIRS", dir.file("data").c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    pid_t pid = os_open_file_in_other_app(S(target.c_str()));
    EXPECT_GT(pid, 0);
    std::string got;
    EXPECT_TRUE(wait_until([&] { return read_whole_file(opened, &got) && got == target; })) << got;
    EXPECT_EQ(os_open_file_in_other_app(S("")), -1);
}
