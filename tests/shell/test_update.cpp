// Updates against a real HTTP server on 127.0.0.1: the version check, the
// download of the update data into "update.data", and the updater program
// run on a copy of an executable directory.
#include <gtest/gtest.h>
#include "test_util.h"
#include "update_test_server.h"
#include "update_test_data.h"
#include "core/assets.h"
#include "core/log.h"
#include "core/strings.h"
#include "shell/globals.h"
#include "shell/os_wake.h"
#include "shell/update.h"
#include <string>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

static void no_wake() {}

static std::string version_bytes(int major, int minor, int patch) {
    return std::string{(char)major, (char)minor, (char)patch};
}
static std::string log_text() { return std::string((const char *)__global_log.buffer, __global_log.used); }

static std::string read_or_empty(const std::string &path) {
    std::string s;
    read_whole_file(path, &s);
    return s;
}
template <typename F> static bool wait_until(F condition, double seconds = 20) {
    double deadline = test_now_seconds() + seconds;
    while (test_now_seconds() < deadline) {
        if (condition()) return true;
        usleep(5000);
    }
    return condition();
}

struct Update_Test : ::testing::Test {
    Update_Test_Server server;
    Temp_Dir executable_directory;
    Temp_Dir logs;
    void SetUp() override {
        log_set_directory(S(logs.path.c_str()));
        init_logging();
        os_wake_main_loop = no_wake;
        atomic_and(&global_flags, ~(u64)UPDATE_IS_AVAILABLE);
        atomic_or(&global_flags, SHOULD_RUN);
        executable_filepath = S(executable_directory.path.c_str());
        ASSERT_TRUE(write_whole_file(executable_directory.file("tarno"), "installed editor"));
        ASSERT_EQ(run_command("cp '" TARNO_BIN_DIR "/updater' '" + executable_directory.file("updater") + "'"), 0);
        ASSERT_TRUE(server.start());
        update_set_server_address(S(server.address().c_str()));
    }
    void TearDown() override { atomic_or(&global_flags, SHOULD_RUN); }
};

TEST_F(Update_Test, VersionFileDecidesWhetherAnUpdateIsOffered) {
    struct Case {
        std::string version;
        Update_Check_Result result;
        const char *message;
    } cases[] = {
        {version_bytes(0, 3, 2), UPDATE_CHECK_UP_TO_DATE, "Tarno is up to date."},
        {version_bytes(0, 2, 9), UPDATE_CHECK_UP_TO_DATE, "Tarno is up to date."},
        {version_bytes(0, 3, 3), UPDATE_CHECK_AVAILABLE, "Tarno 0.3.3 update is available."},
        {version_bytes(0, 4, 0), UPDATE_CHECK_AVAILABLE, "Tarno 0.4.0 update is available."},
        {version_bytes(1, 0, 0) + "extra", UPDATE_CHECK_AVAILABLE, "Tarno 1.0.0 update is available."},
        {std::string("\0\4", 2), UPDATE_CHECK_FAILED, "Failed to check for updates."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.message);
        atomic_and(&global_flags, ~(u64)UPDATE_IS_AVAILABLE);
        ASSERT_TRUE(server.put(UPDATE_VERSION_WEB_FILEPATH, c.version));
        init_logging();
        EXPECT_EQ(update_check_run(), c.result);
        EXPECT_EQ((global_flags & UPDATE_IS_AVAILABLE) != 0, c.result == UPDATE_CHECK_AVAILABLE);
        EXPECT_NE(log_text().find(c.message), std::string::npos) << log_text();
    }
    String title = update_tab_title();
    EXPECT_EQ(std::string((const char *)title.data, title.count), "Update to 1.0.0") << "the newest version offered";
}

TEST_F(Update_Test, NoServerDeadServerAndMissingFileOfferNothing) {
    EXPECT_EQ(update_check_run(), UPDATE_CHECK_FAILED) << "nothing is served yet: 404";
    update_set_server_address(S(tcstring("http://127.0.0.1:%d", free_local_port())));
    EXPECT_EQ(update_check_run(), UPDATE_CHECK_FAILED);
    update_set_server_address(S(""));
    EXPECT_EQ(update_check_run(), UPDATE_CHECK_NO_SERVER);
    EXPECT_FALSE(global_flags & UPDATE_IS_AVAILABLE);
    EXPECT_EQ(download_update_run(7), UPDATE_DOWNLOAD_FAILED);
    EXPECT_TRUE(global_flags & SHOULD_RUN);
}

TEST_F(Update_Test, BadUpdateDataLeavesTheEditorRunningAndInstalled) {
    std::string good = make_update({{"tarno", "new editor"}});
    std::string corrupt = good;
    corrupt[corrupt.size() - 2] ^= 0x20;
    struct Case {
        const char *what;
        bool served;
        std::string body;
        const char *message;
    } cases[] = {
        {"not there", false, "", "Failed to download update."},
        {"23 bytes", true, good.substr(0, 23), "Update data is too small to be valid."},
        {"error page", true, "<html><body>Not here</body></html>", "The update data is invalid."},
        {"truncated", true, good.substr(0, good.size() - 3), "The update data is damaged"},
        {"corrupt", true, corrupt, "The update data is damaged"},
    };
    u32 tab_id = 100;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        run_command("rm -f '" + server.root.file(update_data_web_filepaths[1]) + "'");
        if (c.served) {
            ASSERT_TRUE(server.put(update_data_web_filepaths[1], c.body));
        }
        atomic_and(&global_flags, ~(u64)UPDATE_IS_AVAILABLE);
        init_logging();
        EXPECT_EQ(download_update_run(++tab_id), UPDATE_DOWNLOAD_FAILED);
        Update_Download_Progress progress;
        ASSERT_TRUE(update_download_progress(tab_id, &progress));
        EXPECT_EQ(progress.state, UPDATE_DOWNLOAD_FAILED);
        EXPECT_NE(log_text().find(c.message), std::string::npos) << log_text();
        EXPECT_EQ((global_flags & UPDATE_IS_AVAILABLE) != 0, !c.served) << "the Update button returns";
        EXPECT_TRUE(global_flags & SHOULD_RUN);
        EXPECT_NE(access(executable_directory.file("update.data").c_str(), F_OK), 0);
        EXPECT_EQ(read_or_empty(executable_directory.file("tarno")), "installed editor");
    }
}

TEST_F(Update_Test, ServerDyingMidDownloadStoresNothing) {
    std::string data = make_update({{"tarno", std::string(200000, 'n')}});
    std::string data_path = server.root.file("cut.bin");
    ASSERT_TRUE(write_whole_file(data_path, data));
    int port = free_local_port();
    pid_t cutter = fork();
    if (cutter == 0) {
        execl("/usr/bin/python3", "python3", TARNO_SOURCE_DIR "/tests/shell/cut_short_server.py",
              std::to_string(port).c_str(), data_path.c_str(), (char *)nullptr);
        _exit(127);
    }
    ASSERT_TRUE(wait_until([&] { return access((data_path + ".ready").c_str(), F_OK) == 0; }));
    update_set_server_address(S(tcstring("http://127.0.0.1:%d", port)));
    EXPECT_EQ(download_update_run(9), UPDATE_DOWNLOAD_FAILED);
    kill(cutter, SIGTERM);
    waitpid(cutter, nullptr, 0);
    Update_Download_Progress progress;
    ASSERT_TRUE(update_download_progress(9, &progress));
    EXPECT_EQ(progress.total, 100000u) << "the tab saw the promised size";
    EXPECT_LT(progress.fraction, 0.1f);
    EXPECT_NE(log_text().find("Failed to download update."), std::string::npos) << log_text();
    EXPECT_TRUE(global_flags & SHOULD_RUN);
    EXPECT_NE(access(executable_directory.file("update.data").c_str(), F_OK), 0);
    EXPECT_EQ(read_or_empty(executable_directory.file("tarno")), "installed editor");
}

TEST_F(Update_Test, GoodUpdateIsStoredAndInstalledByTheUpdater) {
    std::string big(300000, 'x'); // several pieces, so progress is seen before the end
    std::string data = make_update({{"tarno", "new editor " + big}, {"updater", "#!/bin/sh\nexit 0\n"}});
    ASSERT_TRUE(server.put(update_data_web_filepaths[1], data));
    EXPECT_EQ(download_update_run(42), UPDATE_DOWNLOAD_SUCCEEDED);
    EXPECT_FALSE(global_flags & SHOULD_RUN) << "the editor quits for the updater";
    Update_Download_Progress progress;
    ASSERT_TRUE(update_download_progress(42, &progress));
    EXPECT_EQ(progress.state, UPDATE_DOWNLOAD_SUCCEEDED);
    EXPECT_EQ(progress.total, data.size());
    EXPECT_FLOAT_EQ(progress.fraction, 1.0f);
    EXPECT_NE(log_text().find("Downloaded update to '"), std::string::npos);

    std::string tarno = executable_directory.file("tarno");
    EXPECT_TRUE(wait_until([&] { return read_or_empty(tarno) == "new editor " + big; }));
    EXPECT_TRUE(wait_until([&] { return access(executable_directory.file("update.data").c_str(), F_OK) != 0; }))
        << "the updater removes the data it installed";
    EXPECT_EQ(read_or_empty(executable_directory.file("_updater")), "#!/bin/sh\nexit 0\n");
    struct stat status;
    ASSERT_EQ(stat(tarno.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0755u);

    // The next start-up puts the new updater in place.
    EXPECT_TRUE(swap_in_new_updater(executable_filepath));
    EXPECT_EQ(read_or_empty(executable_directory.file("updater")), "#!/bin/sh\nexit 0\n");
    EXPECT_NE(access(executable_directory.file("_updater").c_str(), F_OK), 0);
    EXPECT_FALSE(swap_in_new_updater(executable_filepath));
}
