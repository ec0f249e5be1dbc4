// File records on real files in temporary directories: paths, storage,
// loading bad input, reloading, saving and the blacklist.
#include "text_test_util.h"
#include "text/undo.h"
#include "text/editing.h"
#include "text/file_read.h"
#include <sys/stat.h>
#include <unistd.h>
#include <fcntl.h>
#include <atomic>
#include <thread>

TEST(Filepath, SplitAndJoin) {
    struct Case {
        const char *path;
        std::vector<std::string> components;
        const char *joined;
    } cases[] = {
        {"/a//b\\x", {"/", "a", "b", "x"}, "/a/b/x"},
        {"/", {"/"}, "/"},
        {"rel/dir/", {"rel", "dir"}, "rel/dir"},
        {"", {}, ""},
        {"\\\\a", {"a"}, "a"},
    };
    Filepath *p = new Filepath;
    for (const Case &c : cases) {
        ASSERT_TRUE(set_filepath_from(p, S(c.path))) << c.path;
        ASSERT_EQ(p->count, c.components.size()) << c.path;
        for (size_t i = 0; i < c.components.size(); i++) EXPECT_EQ(to_std(p->components[i].view), c.components[i]);
        EXPECT_EQ(to_std(filepath_to_string(p)), c.joined);
    }
    // Too deep or a name too long: refused, not cut.
    std::string deep;
    for (int i = 0; i < 65; i++) deep += "/d";
    EXPECT_FALSE(set_filepath_from(p, S(deep.c_str())));
    EXPECT_EQ(p->count, 0u);
    std::string long_name = "/" + std::string(256, 'n');
    EXPECT_FALSE(set_filepath_from(p, S(long_name.c_str())));
    ASSERT_TRUE(set_filepath_from(p, S("/tmp")));
    EXPECT_STREQ(filepath_join_c_string(p, S("f.txt")), "/tmp/f.txt");
    delete p;
}

struct Files : Text_Test {};

TEST_F(Files, RecordsNeverMoveAndFreedSlotsAreReused) {
    std::vector<File *> files;
    for (int i = 0; i < 40; i++) files.push_back(add_a_file());
    for (int i = 0; i < 40; i++) {
        EXPECT_EQ(files[i]->flags, FILE_IN_USE | FILE_UNSAVED);
        EXPECT_EQ(files[i]->line_ending.count, 1);
        for (int j = 0; j < i; j++) ASSERT_NE(files[i], files[j]);
    }
    EXPECT_EQ(editor_num_files_in_use(), 40u);
    ASSERT_NE(editor_files_memory->next, nullptr); // a third chunk was chained
    ASSERT_NE(editor_files_memory->next->next, nullptr);
    close_file(files[20]);
    close_file(files[3]);
    EXPECT_EQ(add_a_file(), files[3]);  // the first free record comes first
    EXPECT_EQ(add_a_file(), files[20]);
    EXPECT_EQ(editor_num_files_in_use(), 40u);
}

TEST_F(Files, LoadKeepsEveryByte) {
    std::string nul_and_binary("a\0b\xff\xfe\x80\r\n\0", 9);
    struct Case {
        std::string bytes;
        const char *line_ending;
    } cases[] = {
        {"one\r\ntwo\rthree\nfour", "\r\n"},
        {"", "\n"},
        {"no final break", "\n"},
        {"cr\rend", "\r"},
        {"\xC3\xA9t\xC3\xA9\n\xF0\x9F\x98\x80", "\n"},
        {"bad \xC3 utf8 \xE2\x82", "\n"},
        {nul_and_binary, "\r\n"},
    };
    for (const Case &c : cases) {
        File *f = open_text(c.bytes);
        EXPECT_EQ(text_of(f), c.bytes);
        EXPECT_EQ(to_std(f->line_ending), c.line_ending);
        EXPECT_FALSE(file_has_flags(f, FILE_UNSAVED));
        EXPECT_EQ(file_has_flags(f, FILE_CHANGED), !c.bytes.empty());
        EXPECT_EQ(current_file, f);
        EXPECT_EQ(to_std(f->name), "t.txt");
        EXPECT_EQ(f->cursor, 0u);
        EXPECT_STREQ(file_full_path(f), dir.file("t.txt").c_str());
    }
}

// Every bad file: clear message, old text untouched, no crash.
TEST_F(Files, FailedLoadKeepsWhatTheRecordHad) {
    File *f = open_text("keep me");
    f->cursor = 3;
    std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string huge = dir.file("huge");
    ASSERT_EQ(run_command("truncate -s 2500M '" + huge + "'"), 0); // sparse, costs nothing
    struct Case {
        std::string path;
        const char *message_part;
    } cases[] = {
        {dir.file("missing.txt"), "Could not open"},
        {dir.path, "not a regular file"},
        {fifo, "not a regular file"},
        {huge, "too large"},
        {"/proc/self/status", "changed size"}, // status says 0 bytes, read gives more
    };
    for (const Case &c : cases) {
        EXPECT_FALSE(load_file_from_path(S(c.path.c_str()), f)) << c.path;
        EXPECT_NE(to_std(editor_last_error()).find(c.message_part), std::string::npos) << to_std(editor_last_error());
        EXPECT_EQ(text_of(f), "keep me");
        EXPECT_EQ(to_std(f->name), "t.txt");
        EXPECT_EQ(f->cursor, 3u);
        EXPECT_EQ(f->lock, 0);
    }
}

static std::string shrink_path;
static void shrink_file_hook(const char *) { truncate(shrink_path.c_str(), 2); }

TEST_F(Files, FileThatShrinksBetweenStatusAndReadIsNotLoaded) {
    File *f = open_text("old");
    shrink_path = dir.file("shrinks.txt");
    write_whole_file(shrink_path, "0123456789");
    load_file_after_status_hook = shrink_file_hook;
    bool loaded = load_file_from_path(S(shrink_path.c_str()), f);
    load_file_after_status_hook = nullptr;
    EXPECT_FALSE(loaded);
    EXPECT_EQ(text_of(f), "old");
    EXPECT_NE(to_std(editor_last_error()).find("changed size"), std::string::npos);
}

// The whole-file read, one reader or several (from 64 MiB on): every byte in
// its place, however the size falls against the parts; a file that grew or
// shrank since its status says so.
TEST_F(Files, WholeFileReadsInPartsKeepEveryByte) {
    struct Case {
        const char *name;
        u64 size;       // bytes on disk
        u64 told;       // size the reader is given
        s64 expected;
    } cases[] = {
        {"empty", 0, 0, 0},
        {"small", 1000, 1000, 1000},
        {"parts, odd tail", FILE_READ_PARALLEL_FROM + 4097, FILE_READ_PARALLEL_FROM + 4097, (s64)FILE_READ_PARALLEL_FROM + 4097},
        {"grew", 5000, 4000, 4001},
        {"grew, in parts", FILE_READ_PARALLEL_FROM + 10, FILE_READ_PARALLEL_FROM, (s64)FILE_READ_PARALLEL_FROM + 1},
        {"shrank", 3000, 3500, 3000},
        {"shrank, in parts", FILE_READ_PARALLEL_FROM, FILE_READ_PARALLEL_FROM + (4ull << 20), (s64)FILE_READ_PARALLEL_FROM},
    };
    for (const Case &c : cases) {
        std::string bytes(c.size, '\0');
        for (u64 i = 0; i < c.size; i += 4093) bytes[i] = (char)(i / 4093 * 7 + 1); // no two parts alike
        std::string path = dir.file("whole.bin");
        ASSERT_TRUE(write_whole_file(path, bytes)) << c.name;
        int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        std::string into(c.told + 1, 'x');
        s64 got = file_read_whole(fd, (u8 *)into.data(), c.told);
        close(fd);
        EXPECT_EQ(got, c.expected) << c.name;
        u64 compared = c.size < c.told ? c.size : c.told;
        EXPECT_TRUE(memcmp(into.data(), bytes.data(), compared) == 0) << c.name;
    }
    int fd = ::open(dir.path.c_str(), O_RDONLY); // a directory: the read fails
    u8 b[8];
    EXPECT_EQ(file_read_whole(fd, b, 8), -1);
    close(fd);
}

TEST_F(Files, LoadDropsHistoryOfTheOldText) {
    File *f = open_text("abc");
    editor_insert_text_at(f, 0, S("xyz"), false);
    ASSERT_EQ(f->undo_records.count, 1u);
    std::string other = dir.file("o.txt");
    write_whole_file(other, "1");
    ASSERT_TRUE(load_file_from_path(S(other.c_str()), f));
    EXPECT_EQ(f->undo_records.count, 0u);
    EXPECT_FALSE(editor_undo_file(f));
    EXPECT_EQ(text_of(f), "1");
}

TEST_F(Files, ReloadKeepsOrClampsTheCursor) {
    File *f = open_text("0123456789");
    std::string path = dir.file("t.txt");
    f->cursor = f->selection_anchor = 4;
    file_set_flags(f, FILE_CHANGED_ON_DISK);
    write_whole_file(path, "abcdefgh");
    reload_file(f);
    EXPECT_EQ(text_of(f), "abcdefgh");
    EXPECT_EQ(f->cursor, 4u);
    EXPECT_FALSE(file_has_flags(f, FILE_CHANGED_ON_DISK));
    EXPECT_TRUE(file_has_flags(f, FILE_CHANGED));

    f->cursor = 7;
    write_whole_file(path, "ab");
    reload_file(f);
    EXPECT_EQ(f->cursor, 2u);
    EXPECT_EQ(f->selection_anchor, 2u);

    // A file gone from disk is not reloaded; a failed read keeps the text.
    file_set_flags(f, FILE_DELETED_ON_DISK);
    write_whole_file(path, "changed");
    reload_file(f);
    EXPECT_EQ(text_of(f), "ab");
    file_clear_flags(f, FILE_DELETED_ON_DISK);
    unlink(path.c_str());
    reload_file(f);
    EXPECT_EQ(text_of(f), "ab");
}

TEST_F(Files, SaveWritesTheExactBytesPrivately) {
    std::string bytes("x\r\ny\rz\n\0end", 11);
    File *f = open_text(bytes);
    editor_insert_text_at(f, 0, S("++"), false);
    file_set_flags(f, FILE_CHANGED_ON_DISK | FILE_DELETED_ON_DISK);
    std::string path = dir.file("t.txt");
    unlink(path.c_str()); // recreated with mode 0600
    ASSERT_TRUE(editor_ask_to_save_file());
    std::string on_disk;
    ASSERT_TRUE(read_whole_file(path, &on_disk));
    EXPECT_EQ(on_disk, "++" + bytes);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(file_has_flags(f, FILE_UNSAVED | FILE_CHANGED_ON_DISK | FILE_DELETED_ON_DISK));
    EXPECT_EQ(f->modification_time, (s64)st.st_mtim.tv_sec * 1000000000ll + st.st_mtim.tv_nsec);
}

static int save_lister_calls;
static std::string save_lister_title;
static void fake_open_save_lister(const char *title, Filepath *) {
    save_lister_calls++;
    save_lister_title = title;
}
static bool lister_saving;
static bool fake_lister_is_saving() { return lister_saving; }
static File *no_tab_file() { return nullptr; }

TEST_F(Files, AskToSaveWithoutADirectoryOpensTheSaveLister) {
    save_lister_calls = 0;
    text_hooks.open_save_lister = fake_open_save_lister;
    text_hooks.file_lister_is_saving = fake_lister_is_saving;
    File *f = add_a_file();
    current_file = f;
    editor_insert_text(f, S("new"), false);
    lister_saving = false;
    EXPECT_FALSE(editor_ask_to_save_file());
    EXPECT_EQ(save_lister_calls, 1);
    EXPECT_EQ(save_lister_title, "Save File");
    EXPECT_TRUE(file_has_flags(f, FILE_UNSAVED));
    // Not while the lister is already saving, nor when the tab shows no file.
    lister_saving = true;
    EXPECT_FALSE(editor_ask_to_save_file());
    lister_saving = false;
    text_hooks.current_tab_file = no_tab_file;
    EXPECT_FALSE(editor_ask_to_save_file());
    EXPECT_EQ(save_lister_calls, 1);
}

TEST_F(Files, SaveIntoAMissingDirectoryFailsWithAMessage) {
    File *f = open_text("abc");
    ASSERT_TRUE(set_filepath_from(&f->directory, S((dir.path + "/gone").c_str())));
    EXPECT_FALSE(editor_save_file(f));
    EXPECT_NE(to_std(editor_last_error()).find("Could not save"), std::string::npos);
    EXPECT_EQ(text_of(f), "abc");
}

TEST_F(Files, Blacklist) {
    blacklist_add_extension(S("o"));
    blacklist_add_extension(S("png"));
    blacklist_add_path(S("/home/me/build"));
    struct Case {
        const char *path;
        bool check_extension;
        bool blacklisted;
    } cases[] = {
        {"/src/a.o", true, true},
        {"/src/a.o", false, false},
        {"/src/a.PNG", true, false}, // byte-exact
        {"/src/a.c", true, false},
        {"/home/me/build", false, true},
        {"/home/me/build/x/y.c", true, true},
        {"/home/me/builds/y.c", true, false},
        {"/home/me", true, false},
        {"", true, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(filepath_is_blacklisted((const u8 *)c.path, (s64)strlen(c.path), c.check_extension), c.blacklisted)
            << c.path;
}

// Another thread (the file watcher) sets and clears its bits while the main
// thread does the same with others: no update may be lost.
TEST_F(Files, FlagWordChangesAreAtomic) {
    File *f = add_a_file();
    std::atomic<bool> go{false};
    std::thread watcher([&] {
        while (!go) {
        }
        for (int i = 0; i < 200000; i++) {
            file_set_flags(f, FILE_CHANGED_ON_DISK);
            file_clear_flags(f, FILE_CHANGED_ON_DISK);
        }
        file_set_flags(f, FILE_DELETED_ON_DISK);
    });
    go = true;
    for (int i = 0; i < 200000; i++) {
        file_set_flags(f, FILE_NEEDS_COLOURING);
        file_clear_flags(f, FILE_NEEDS_COLOURING);
        file_set_flags(f, FILE_CHANGED);
    }
    watcher.join();
    EXPECT_EQ(f->flags, FILE_IN_USE | FILE_UNSAVED | FILE_CHANGED | FILE_DELETED_ON_DISK);
}

TEST_F(Files, RelativePathsBecomeFullPaths) {
    write_whole_file(dir.file("rel.txt"), "r");
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
    char old_cwd[4096];
    ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(chdir(dir.path.c_str()), 0);
    File *f = add_a_file();
    bool loaded = load_file_from_path(S("./sub/../rel.txt"), f);
    ASSERT_EQ(chdir(old_cwd), 0);
    ASSERT_TRUE(loaded) << to_std(editor_last_error());
    char real_dir[4096];
    ASSERT_NE(realpath(dir.path.c_str(), real_dir), nullptr);
    EXPECT_STREQ(file_full_path(f), (std::string(real_dir) + "/rel.txt").c_str());
    // A NUL inside a path would name another file: refused.
    EXPECT_FALSE(load_file_from_path(String{(u8 *)"rel.txt\0x", 9}, f));
    EXPECT_NE(to_std(editor_last_error()).find("NUL"), std::string::npos);
    EXPECT_EQ(text_of(f), "r");
}
