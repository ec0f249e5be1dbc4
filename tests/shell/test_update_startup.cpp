// The whole editor at start-up: a waiting "_updater" replaces "updater", and
// the checker asks the configured server once (and nothing else when none
// is configured).
#include <gtest/gtest.h>
#include "gui_harness.h"
#include "test_util.h"
#include "update_test_server.h"
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

static std::string whole_log(const std::string &directory) {
    std::string all, text;
    if (DIR *d = opendir((directory + "/logs").c_str())) {
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] != '.' && read_whole_file(directory + "/logs/" + e->d_name, &text)) all += text;
        }
        closedir(d);
    }
    return all;
}

TEST(Update_Startup, SwapsInTheNewUpdaterAndReportsTheServersNewerVersion) {
    Update_Test_Server server;
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(server.put("binaries/tarno/version_info.bin", std::string("\0\4\0", 3)));
    Gui_Session session;
    ASSERT_TRUE(session.start());
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    ASSERT_TRUE(write_whole_file(editor.directory + "/_updater", "#!/bin/sh\necho new updater\n"));

    setenv("TARNO_UPDATE_SERVER", server.address().c_str(), 1);
    bool started = editor.start(session);
    unsetenv("TARNO_UPDATE_SERVER");
    ASSERT_TRUE(started);
    std::string id = wait_for_window(session, "^Tarno - v", 30);
    ASSERT_FALSE(id.empty());
    double deadline = test_now_seconds() + 30;
    while (!server.was_asked_for("binaries/tarno/version_info.bin") && test_now_seconds() < deadline) usleep(10000);
    EXPECT_TRUE(server.was_asked_for("binaries/tarno/version_info.bin"));
    ASSERT_TRUE(close_window_and_wait(session, id, &editor, 10));
    EXPECT_EQ(editor.exit_status, 0);

    std::string updater;
    ASSERT_TRUE(read_whole_file(editor.directory + "/updater", &updater));
    EXPECT_EQ(updater, "#!/bin/sh\necho new updater\n");
    EXPECT_NE(access((editor.directory + "/_updater").c_str(), F_OK), 0);
    std::string log = whole_log(editor.directory);
    EXPECT_NE(log.find("Info: Installed the new updater program."), std::string::npos) << log;
    EXPECT_NE(log.find("Info: Tarno 0.4.0 update is available."), std::string::npos) << log;
}

TEST(Update_Startup, WithoutAServerNothingIsAsked) {
    Gui_Session session;
    ASSERT_TRUE(session.start());
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    unsetenv("TARNO_UPDATE_SERVER");
    ASSERT_TRUE(editor.start(session));
    std::string id = wait_for_window(session, "^Tarno - v", 30);
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(close_window_and_wait(session, id, &editor, 10));
    std::string log = whole_log(editor.directory);
    EXPECT_NE(log.find("Info: No update server is configured; not checking for updates."), std::string::npos) << log;
    EXPECT_EQ(log.find("Failed to check for updates."), std::string::npos) << log;
    EXPECT_EQ(log.find("update is available"), std::string::npos) << log;
}
