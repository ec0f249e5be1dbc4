// The file watcher against real files changed by other processes: in place,
// replaced by a rename (as editors save), deleted, re-created, and with
// their whole directory removed.
#include <gtest/gtest.h>
#include "test_util.h"
#include "core/strings.h"
#include "shell/file_watcher.h"
#include "shell/os_wake.h"
#include "text/file.h"
#include "text/text_state.h"
#include <string>
#include <time.h>

static volatile u8 test_tabs_lock;
static File *test_tabs[8];
static u32 num_test_tabs;
static volatile u32 wakes;
static void lock_test_tabs() { spin_lock(&test_tabs_lock); }
static void unlock_test_tabs() { spin_unlock(&test_tabs_lock); }
static u32 test_num_file_tabs() { return num_test_tabs; }
static File *test_file_tab_at(u32 i) { return test_tabs[i]; }
static void count_wake() { __atomic_fetch_add(&wakes, 1, __ATOMIC_SEQ_CST); }

static double now_seconds() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}
template <typename F> static bool wait_until(F condition, double seconds = 5) {
    double deadline = now_seconds() + seconds;
    while (now_seconds() < deadline) {
        if (condition()) return true;
        timespec step = {0, 2000000};
        nanosleep(&step, nullptr);
    }
    return condition();
}
static std::string text_of(File *file) { return std::string((const char *)file_text(file), file_length(file)); }
static std::string q(const std::string &s) { return "'" + s + "'"; }

struct Watcher_Test : ::testing::Test {
    Temp_Dir dir;
    static void SetUpTestSuite() {
        static bool started;
        if (started) return;
        editor_text_init();
        text_hooks.lock_tabs = lock_test_tabs;
        text_hooks.unlock_tabs = unlock_test_tabs;
        text_hooks.num_file_tabs = test_num_file_tabs;
        text_hooks.file_tab_at = test_file_tab_at;
        os_wake_main_loop = count_wake;
        ASSERT_TRUE(start_file_watcher_thread());
        started = true;
    }
    void TearDown() override {
        lock_test_tabs();
        for (u32 i = 0; i < num_test_tabs; i++) close_file(test_tabs[i]);
        num_test_tabs = 0;
        unlock_test_tabs();
        custom_layer_watch_set_files(nullptr, 0);
    }
    File *open_in_tab(const std::string &name, const std::string &bytes) {
        EXPECT_TRUE(write_whole_file(dir.file(name), bytes));
        File *file = add_a_file();
        EXPECT_TRUE(load_file_from_path(S(dir.file(name).c_str()), file));
        lock_test_tabs();
        test_tabs[num_test_tabs++] = file;
        unlock_test_tabs();
        return file;
    }
};

TEST_F(Watcher_Test, ChangesByAnotherProcessAreMarkedAndReloadedUnlessUnsaved) {
    struct Case {
        const char *what;
        const char *command; // run with $F the file's path
        bool unsaved;        // the buffer has edits of its own
        u16 expected_flag;
        bool reloads;
        const char *text_after;
    } cases[] = {
        {"written in place", "printf 'second version\\n' > \"$F\"", false, FILE_CHANGED_ON_DISK, true, "second version\n"},
        {"replaced by rename", "printf 'renamed in\\n' > \"$F.tmp\" && mv \"$F.tmp\" \"$F\"", false,
         FILE_CHANGED_ON_DISK, true, "renamed in\n"},
        {"same size, new time", "printf 'ONE\\n' > \"$F\" && touch -d '2001-01-01' \"$F\"", false,
         FILE_CHANGED_ON_DISK, true, "ONE\n"},
        {"deleted", "rm \"$F\"", false, FILE_DELETED_ON_DISK, false, "one\n"},
        {"written while unsaved", "printf 'theirs\\n' > \"$F\"", true, FILE_CHANGED_ON_DISK, false, "one\nmine"},
        {"deleted while unsaved", "rm \"$F\"", true, FILE_DELETED_ON_DISK, false, "one\nmine"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        File *file = open_in_tab(std::string("f_") + std::to_string(&c - cases) + ".txt", "one\n");
        if (c.unsaved) {
            dynamic_array_append_bytes(&file->text, "mine", 4);
            file_set_flags(file, FILE_UNSAVED);
        }
        u32 wakes_before = wakes;
        std::string path = file_full_path(file);
        ASSERT_EQ(run_command("F=" + q(path) + "; " + c.command), 0);
        EXPECT_TRUE(wait_until([&] { return file_has_flags(file, c.expected_flag); }));
        EXPECT_GT(wakes, wakes_before);
        EXPECT_EQ(file_watcher_apply_disk_change(file), c.reloads);
        EXPECT_EQ(text_of(file), c.text_after);
        EXPECT_EQ(file_has_flags(file, FILE_UNSAVED), c.unsaved);
    }
}

TEST_F(Watcher_Test, UntouchedFilesAreNeverMarked) {
    File *file = open_in_tab("quiet.txt", "nothing happens\n");
    for (int i = 0; i < 5; i++) file_watcher_check_once();
    EXPECT_FALSE(file_has_flags(file, FILE_CHANGED_ON_DISK | FILE_DELETED_ON_DISK));
    EXPECT_FALSE(file_watcher_apply_disk_change(file));
}

TEST_F(Watcher_Test, RecreatedFileLosesItsMissingMarkAndReloads) {
    File *file = open_in_tab("phoenix.txt", "before\n");
    std::string path = file_full_path(file);
    ASSERT_EQ(run_command("rm " + q(path)), 0);
    ASSERT_TRUE(wait_until([&] { return file_has_flags(file, FILE_DELETED_ON_DISK); }));
    ASSERT_EQ(run_command("printf 'after\\n' > " + q(path)), 0);
    ASSERT_TRUE(wait_until([&] { return !file_has_flags(file, FILE_DELETED_ON_DISK); }));
    EXPECT_TRUE(file_watcher_apply_disk_change(file));
    EXPECT_EQ(text_of(file), "after\n");
    EXPECT_FALSE(file_has_flags(file, FILE_CHANGED_ON_DISK | FILE_DELETED_ON_DISK));
}

TEST_F(Watcher_Test, RemovedDirectoryKeepsTheBufferAndComesBack) {
    ASSERT_EQ(run_command("mkdir " + q(dir.file("sub"))), 0);
    File *file = open_in_tab("sub/inner.txt", "kept\n");
    ASSERT_EQ(run_command("rm -r " + q(dir.file("sub"))), 0);
    EXPECT_TRUE(wait_until([&] { return file_has_flags(file, FILE_DELETED_ON_DISK); }));
    EXPECT_FALSE(file_watcher_apply_disk_change(file));
    EXPECT_EQ(text_of(file), "kept\n");
    ASSERT_EQ(run_command("mkdir " + q(dir.file("sub")) + " && printf 'new\\n' > " + q(dir.file("sub/inner.txt"))), 0);
    EXPECT_TRUE(wait_until([&] { return file_has_flags(file, FILE_CHANGED_ON_DISK); }));
    EXPECT_TRUE(file_watcher_apply_disk_change(file));
    EXPECT_EQ(text_of(file), "new\n");
}

TEST_F(Watcher_Test, CustomLayerSourcesRequestOneRecompilePerChange) {
    ASSERT_TRUE(write_whole_file(dir.file("custom.8"), "#load \"lib.8\";\n"));
    ASSERT_TRUE(write_whole_file(dir.file("lib.8"), "x :: 1;\n"));
    std::string main_path = dir.file("custom.8"), lib_path = dir.file("lib.8");
    String paths[] = {S(main_path.c_str()), S(lib_path.c_str())};
    custom_layer_watch_set_files(paths, 2);
    for (int i = 0; i < 3; i++) file_watcher_check_once();
    EXPECT_FALSE(custom_layer_take_recompile_request());

    // Saving again with identical size and time is no change. Renamed into
    // place with its time already set, so the watcher's thread never sees
    // the file in between.
    ASSERT_EQ(run_command("printf 'x :: 2;\\n' > " + q(lib_path + ".new") + " && touch -r " + q(lib_path) + " " +
                          q(lib_path + ".new") + " && mv " + q(lib_path + ".new") + " " + q(lib_path)), 0);
    for (int i = 0; i < 3; i++) file_watcher_check_once();
    EXPECT_FALSE(custom_layer_take_recompile_request());

    ASSERT_EQ(run_command("printf 'x :: 33;\\n' > " + q(lib_path)), 0);
    EXPECT_TRUE(wait_until([] { return custom_layer_watch.recompile_requested != 0; }));
    EXPECT_TRUE(custom_layer_take_recompile_request());
    for (int i = 0; i < 3; i++) file_watcher_check_once();
    EXPECT_FALSE(custom_layer_take_recompile_request()) << "one change, one request";

    ASSERT_EQ(run_command("rm " + q(main_path)), 0);
    EXPECT_TRUE(wait_until([] { return custom_layer_watch.recompile_requested != 0; }));
    EXPECT_TRUE(custom_layer_take_recompile_request());
}

// A source saved while the compiler runs (after it read the file, before the
// compile ends and the watch list is set again) still asks for a compile.
TEST_F(Watcher_Test, ASourceSavedDuringTheCompileIsNotTakenForTheCompiledOne) {
    std::string main_path = dir.file("custom.8"), keys_path = dir.file("keys.8");
    ASSERT_TRUE(write_whole_file(main_path, "#load \"keys.8\";\n"));
    ASSERT_TRUE(write_whole_file(keys_path, "k :: 1;\n"));
    String paths[] = {S(main_path.c_str()), S(keys_path.c_str())};
    custom_layer_watch_set_files(paths, 2);
    ASSERT_EQ(run_command("printf 'k :: 22;\\n' > " + q(keys_path)), 0); // the save that starts a compile
    EXPECT_TRUE(wait_until([] { return custom_layer_watch.recompile_requested != 0; }));
    ASSERT_TRUE(custom_layer_take_recompile_request());
    // The compiler has read both; now custom.8 is saved, then the compile ends.
    ASSERT_EQ(run_command("printf '#load \"keys.8\"; // broken\\n' > " + q(main_path)), 0);
    custom_layer_watch_set_files(paths, 2);
    EXPECT_TRUE(wait_until([] { return custom_layer_watch.recompile_requested != 0; })) << "the save was missed";
    EXPECT_TRUE(custom_layer_take_recompile_request());
    for (int i = 0; i < 3; i++) file_watcher_check_once();
    EXPECT_FALSE(custom_layer_take_recompile_request()) << "one change, one request";
}

