// The whole editor under Xvfb: the window, a clean shut-down through the
// window manager, the log file and its rotation.
#include <gtest/gtest.h>
#include "gui_harness.h"
#include "test_util.h"
#include <dirent.h>
#include <time.h>
#include <unistd.h>
#include <regex>
#include <vector>
#include <algorithm>

static std::vector<std::string> list_logs(const std::string &directory) {
    std::vector<std::string> names;
    if (DIR *d = opendir((directory + "/logs").c_str())) {
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

static void wait_for_next_second() {
    time_t start = time(nullptr);
    while (time(nullptr) == start) usleep(20000);
}

TEST(Startup, WindowOpensAndClosesCleanlyThroughTheWindowManager) {
    Gui_Session session;
    ASSERT_TRUE(session.start());
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    // A relative file is taken from the executable's directory.
    ASSERT_TRUE(write_whole_file(editor.directory + "/hello world.txt", "one\ntwo\n"));
    ASSERT_TRUE(editor.start(session, "'hello world.txt' 2"));

    std::string id = wait_for_window(session, "^Tarno - v0\\.3\\.2$", 30);
    ASSERT_FALSE(id.empty()) << "no window titled Tarno - v0.3.2 appeared";
    std::string name;
    run_in_display(session, "xdotool getwindowname " + id, &name);
    EXPECT_EQ(name, "Tarno - v0.3.2\n");

    // A close request from the window manager ends the process normally.
    ASSERT_TRUE(close_window_and_wait(session, id, &editor, 10)) << "the editor did not exit after the close request";
    EXPECT_EQ(editor.exit_status, 0);

    std::vector<std::string> logs = list_logs(editor.directory);
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_TRUE(std::regex_match(logs[0], std::regex("log \\d{4}-\\d{1,2}-\\d{1,2} \\d{1,2}h \\d{1,2}m \\d{1,2}s\\.txt")))
        << logs[0];
    std::string text;
    ASSERT_TRUE(read_whole_file(editor.directory + "/logs/" + logs[0], &text));
    const char *expected_in_order[] = {
        "Info: log start: ", "Info: Tarno version 0.3.2\n", "\nInfo: --- General Information ---\n",
        "Info: CPU model:      ", "Info: CPU ISA:        ", "Info: Num. CPU cores: ",
        "Info: Usable RAM:     ", "Info: OS:             ", "Info: Command line: ",
    };
    size_t at = 0;
    for (const char *piece : expected_in_order) {
        size_t found = text.find(piece, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << piece << "\nin:\n" << text;
        at = found;
    }
    EXPECT_NE(text.find("Command line: " + editor.directory + "/tarno hello world.txt 2\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("ERROR"), std::string::npos) << text;
    // The system's pretty name as the OS describes itself, quotes removed.
    std::string os_release, pretty;
    if (read_whole_file("/usr/lib/os-release", &os_release)) {
        std::smatch m;
        if (std::regex_search(os_release, m, std::regex("PRETTY_NAME=\"?([^\"\n]*)"))) pretty = m[1];
    }
    EXPECT_NE(text.find("Info: OS:             " + pretty + "\n"), std::string::npos) << text;
    // Memory sizes are printed short, in binary units.
    EXPECT_TRUE(std::regex_search(text, std::regex("Usable RAM:     [0-9.]+ [KMGT]i\n"))) << text;
}

TEST(Startup, WithoutADisplayItSaysSoAndStillWritesItsLog) {
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    std::string output;
    int status = run_command("env -u DISPLAY -u WAYLAND_DISPLAY '" + editor.directory + "/tarno' 2>&1", &output);
    EXPECT_NE(status, 0);
    EXPECT_NE(output.find("could not create the window"), std::string::npos) << output;
    std::vector<std::string> logs = list_logs(editor.directory);
    ASSERT_EQ(logs.size(), 1u);
    std::string text;
    ASSERT_TRUE(read_whole_file(editor.directory + "/logs/" + logs[0], &text));
    EXPECT_NE(text.find("ERROR #0x0: Failed to create the window"), std::string::npos) << text;
}

TEST(Startup, OnlyTheNewestLogFilesAreKept) {
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    // Runs without a display end at once but still write their log; one run
    // per second gives each its own file name.
    for (int run = 0; run < 11; run++) {
        wait_for_next_second();
        run_command("env -u DISPLAY '" + editor.directory + "/tarno' >/dev/null 2>&1");
    }
    EXPECT_EQ(list_logs(editor.directory).size(), 9u);
}

TEST(Startup, MissingAssetsAndLogoAreNotFatal) {
    Gui_Session session;
    ASSERT_TRUE(session.start());
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    ASSERT_EQ(run_command("rm -f '" + editor.directory + "/LOGO' && printf 'PK\\003\\004garbage' > '" +
                          editor.directory + "/tarno.data'"), 0);
    ASSERT_TRUE(editor.start(session));
    // Whatever the editor decides about broken assets, it must not crash:
    // it either ends or shows its window, however long a loaded machine
    // makes either take.
    std::string id;
    bool ended = false;
    for (int i = 0; i < 150 && !ended && id.empty(); i++) {
        ended = editor.wait_for_exit(0.1);
        if (!ended) id = wait_for_window(session, "^Tarno", 0.1);
    }
    ASSERT_TRUE(ended || !id.empty()) << "neither a window nor an exit";
    if (!ended) {
        ASSERT_TRUE(close_window_and_wait(session, id, &editor, 10));
    }
    EXPECT_LT(editor.exit_status, 128) << "the editor died from a signal";
    EXPECT_EQ(list_logs(editor.directory).size(), 1u);
}

TEST(Startup, AnUnwritableLogsDirectoryIsSkipped) {
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    // A plain file where the directory should be: even root cannot write logs there.
    ASSERT_TRUE(write_whole_file(editor.directory + "/logs", "not a directory"));
    std::string output;
    int status = run_command("env -u DISPLAY '" + editor.directory + "/tarno' 2>&1", &output);
    EXPECT_EQ(status, 1) << output; // the missing display, and nothing worse
    std::string text;
    ASSERT_TRUE(read_whole_file(editor.directory + "/logs", &text));
    EXPECT_EQ(text, "not a directory");
}

TEST(Startup, AFileThatCannotBeOpenedIsLoggedAndTheEditorRunsOn) {
    Gui_Session session;
    ASSERT_TRUE(session.start());
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    ASSERT_TRUE(editor.start(session, "/nonexistent/file.txt 7"));
    std::string id = wait_for_window(session, "^Tarno", 30);
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(close_window_and_wait(session, id, &editor, 10));
    EXPECT_EQ(editor.exit_status, 0);
    std::vector<std::string> logs = list_logs(editor.directory);
    ASSERT_EQ(logs.size(), 1u);
    std::string text;
    ASSERT_TRUE(read_whole_file(editor.directory + "/logs/" + logs[0], &text));
    EXPECT_NE(text.find("ERROR #0x0: Could not open '/nonexistent/file.txt'"), std::string::npos) << text;
}
