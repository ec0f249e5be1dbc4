// The file lister on real trees in temporary directories: order, filters,
// flat view, the typed-name hints, and what opening, saving and deleting do
// to the disk (never more than what was chosen).
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/wait.h>
#include "shell/file_lister.h"
#include "test_util.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"

static std::string str(String s) { return std::string((const char *)s.data, (size_t)(s.count > 0 ? s.count : 0)); }
static bool exists(const std::string &p) { struct stat st; return lstat(p.c_str(), &st) == 0; }

struct File_Lister_Test : ::testing::Test {
    Temp_Dir dir;
    void SetUp() override {
        editor_text_init();
        global_file_lister.filter = nullptr; // the text core forgot its record
        init_file_lister();
        file_lister_flat_view_directories.count = 0;
        file_lister_ignored_directories.count = 0;
    }
    void open(u8 mode, const std::string &where = "") {
        Filepath d;
        set_filepath_from(&d, S((where.empty() ? dir.path : where).c_str()));
        open_file_lister(S("t"), &d, mode);
        file_lister_wait();
    }
    void filter(const std::string &text) {
        File *f = global_file_lister.filter;
        if (file_length(f)) text_raw_remove(f, 0, file_length(f));
        text_raw_insert(f, 0, (const u8 *)text.data(), text.size());
        maybe_update_file_lister();
        file_lister_wait();
    }
    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (u32 i = 0; i < global_file_lister.num_items; i++) out.push_back(str(file_lister_get_item(i)->name));
        return out;
    }
    bool select(const std::string &name) {
        for (u32 i = 0; i < global_file_lister.num_items; i++)
            if (str(file_lister_get_item(i)->name) == name) {
                global_file_lister.current_item = i;
                return true;
            }
        return false;
    }
};

typedef std::vector<std::string> Names;

TEST_F(File_Lister_Test, OrderIsNaturalAndFilterPrefixesComeFirst) {
    struct Case {
        const char *a, *b, *filter;
        bool a_first;
    } cases[] = {
        {"/d/name9", "/d/name10", "", true},  {"/d/name2", "/d/name10", "", true},
        {"/d/name10", "/d/name9", "", false}, {"/d/abc", "/d/abcd", "", true},
        {"/d/a07", "/d/a7", "", true},        {"/d/xmain", "/d/main.c", "main", false},
        {"/d/B", "/d/a", "", true},           {"/d/file_2b", "/d/file_2a", "", false},
    };
    for (const Case &c : cases) {
        File_Lister_Item a = {S(c.a), S(strrchr(c.a, '/') + 1), 0, 0}, b = {S(c.b), S(strrchr(c.b, '/') + 1), 0, 0};
        EXPECT_EQ(sort_file_lister_search_results(&a, &b, S(c.filter)), c.a_first) << c.a << " " << c.b;
    }
}

TEST_F(File_Lister_Test, ListsFiltersAndSkipsWhatItShould) {
    for (const char *name : {"b10.txt", "b9.txt", "B2.txt", "$recycle", "notes.md"}) write_whole_file(dir.file(name), "x");
    mkdir(dir.file("build").c_str(), 0700);
    mkdir(dir.file("src").c_str(), 0700);
    write_whole_file(dir.file("src/b1.txt"), "x");
    file_lister_add_ignored_directory(S("build"));
    open(FILE_LISTER_OPEN);
    EXPECT_EQ(names(), (Names{"B2.txt", "b9.txt", "b10.txt", "notes.md", "src"}));
    filter("b");
    EXPECT_EQ(names(), (Names{"B2.txt", "b9.txt", "b10.txt"}));
    filter("");
    EXPECT_EQ(names().size(), 5u);
    // Flat view only inside a configured directory, never at the root.
    EXPECT_FALSE(global_file_lister.flat_view_allowed);
    file_lister_add_flat_view_directory(S(dir.path.c_str()));
    global_file_lister.refresh = 1;
    filter("b1");
    EXPECT_TRUE(global_file_lister.flat_view_allowed);
    EXPECT_EQ(names(), (Names{"b10.txt", "src/b1.txt"}));
    open(FILE_LISTER_OPEN, "/");
    EXPECT_FALSE(file_lister_offers_flat_view());
    // The parent directory, and back down by choosing a directory.
    open(FILE_LISTER_OPEN, dir.file("src"));
    EXPECT_EQ(names(), (Names{"b1.txt"}));
    file_lister_go_to_parent_directory();
    file_lister_wait();
    ASSERT_TRUE(select("src"));
    EXPECT_TRUE(file_lister_select_item());
    file_lister_wait();
    EXPECT_EQ(names(), (Names{"b1.txt"}));
}

TEST_F(File_Lister_Test, TheSameKeyDoesNotListAgainUnlessRefreshed) {
    write_whole_file(dir.file("a"), "x");
    open(FILE_LISTER_OPEN);
    write_whole_file(dir.file("b"), "x");
    maybe_update_file_lister();
    file_lister_wait();
    EXPECT_EQ(names(), (Names{"a"}));
    global_file_lister.refresh = 1;
    maybe_update_file_lister();
    file_lister_wait();
    EXPECT_EQ(names(), (Names{"a", "b"}));
}

TEST_F(File_Lister_Test, ALargeSortedDirectoryListsInOrder) {
    for (int i = 0; i < 3000; i++) write_whole_file(dir.file("f" + std::to_string(i)), "");
    open(FILE_LISTER_OPEN);
    Names got = names();
    ASSERT_EQ(got.size(), 3000u);
    for (int i = 0; i < 3000; i++) ASSERT_EQ(got[i], "f" + std::to_string(i));
}

TEST_F(File_Lister_Test, SaveHintsAndSavingUnderTheChosenName) {
    write_whole_file(dir.file("old.txt"), "old");
    File *file = add_a_file();
    text_raw_insert(file, 0, (const u8 *)"new text", 8);
    current_file = file;
    open(FILE_LISTER_SAVE);
    text_hooks.current_tab_file = [] { return (File *)nullptr; };
    filter("old.txt");
    ASSERT_TRUE(select("old.txt"));
    EXPECT_EQ(str(file_lister_hint()), " - overwrite");
    filter("fresh.txt");
    global_file_lister.current_item = 0;
    EXPECT_EQ(str(file_lister_hint()), " - create a new file");
    static File *saving;
    saving = file;
    text_hooks.current_tab_file = [] { return saving; };
    EXPECT_TRUE(file_lister_select_item());
    std::string on_disk;
    ASSERT_TRUE(read_whole_file(dir.file("fresh.txt"), &on_disk));
    EXPECT_EQ(on_disk, "new text");
    EXPECT_EQ(str(file->name), "fresh.txt");
    EXPECT_EQ(str(filepath_to_string(&file->directory)), dir.path);
    EXPECT_FALSE(file_has_flags(file, FILE_UNSAVED));
    editor_text_init();
}

TEST_F(File_Lister_Test, DeletingRemovesOnlyTheChosenEntry) {
    run_command("mkdir -p '" + dir.path + "/tree/a/b' '" + dir.path + "/outside'");
    write_whole_file(dir.file("tree/a/b/deep.txt"), "x");
    write_whole_file(dir.file("tree/top.txt"), "x");
    write_whole_file(dir.file("outside/keep.txt"), "x");
    write_whole_file(dir.file("sibling.txt"), "x");
    symlink((dir.path + "/outside").c_str(), dir.file("tree/link").c_str());
    open(FILE_LISTER_DELETE);
    ASSERT_TRUE(select("tree"));
    EXPECT_EQ(str(file_lister_hint()), " - delete a directory");
    EXPECT_TRUE(file_lister_select_item());
    EXPECT_FALSE(exists(dir.file("tree")));
    EXPECT_TRUE(exists(dir.file("outside/keep.txt"))); // the link went, not its target
    EXPECT_TRUE(exists(dir.file("sibling.txt")));
    file_lister_wait();
    ASSERT_TRUE(select("sibling.txt"));
    EXPECT_EQ(str(file_lister_hint()), " - delete a file");
    EXPECT_TRUE(file_lister_select_item());
    EXPECT_FALSE(exists(dir.file("sibling.txt")));
    file_lister_wait();
    EXPECT_EQ(names(), (Names{"outside"}));
}

// A tree with a directory whose entries may not be removed deletes nothing
// and says which directory stopped it. Root may change any directory, so
// then the choice is made in a child that gave its rights up.
TEST_F(File_Lister_Test, ATreeWithAProtectedDirectoryIsLeftWholeWithAMessage) {
    run_command("mkdir -p '" + dir.path + "/tree/open' '" + dir.path + "/tree/shut'");
    write_whole_file(dir.file("tree/top.txt"), "x");
    write_whole_file(dir.file("tree/open/a.txt"), "x");
    write_whole_file(dir.file("tree/shut/b.txt"), "x");
    run_command("chmod -R a+rwX '" + dir.path + "' && chmod a-w '" + dir.path + "/tree/shut'");
    open(FILE_LISTER_DELETE);
    ASSERT_TRUE(select("tree"));
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        bool deleted = file_lister_select_item();
        std::string message = str(editor_last_error());
        bool names_it = message.find("no permission") != std::string::npos &&
                        message.find("/tree/shut") != std::string::npos;
        _exit(deleted ? 1 : names_it ? 0 : 2);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: deleted, 2: no message naming the directory, 3: could not drop root";
    for (const char *kept : {"tree/top.txt", "tree/open/a.txt", "tree/shut/b.txt"})
        EXPECT_TRUE(exists(dir.file(kept))) << kept;
    run_command("chmod u+w '" + dir.path + "/tree/shut'");
}

TEST_F(File_Lister_Test, OpeningAFileMakesItTheCurrentFile) {
    write_whole_file(dir.file("read me.txt"), "hello");
    open(FILE_LISTER_OPEN);
    ASSERT_TRUE(select("read me.txt"));
    EXPECT_TRUE(file_lister_select_item());
    ASSERT_TRUE(current_file);
    EXPECT_EQ(str(current_file->name), "read me.txt");
    EXPECT_EQ(std::string((char *)file_text(current_file), file_length(current_file)), "hello");
}

TEST(File_Lister_Icons, KindAndExtensionPickTheIcon) {
    struct Case {
        const char *name;
        u8 is_directory, is_new;
        u8 icon;
    } cases[] = {
        {"src", 1, 0, LISTER_ICON_FOLDER},
        {"holiday.png", 0, 0, LISTER_ICON_PICTURE},
        {"clip.tar.mkv", 0, 0, LISTER_ICON_PICTURE},  // the last extension counts
        {"film.MOV", 0, 0, LISTER_ICON_FILE},         // compared byte for byte
        {"song.qoa", 0, 0, LISTER_ICON_AUDIO},
        {"voice.audio", 0, 0, LISTER_ICON_AUDIO},
        {"png", 0, 0, LISTER_ICON_FILE},              // no dot: no extension
        {"pictures.png/readme", 0, 0, LISTER_ICON_FILE}, // flat view: a dot in a directory name is not the file's
        {"notes.txt", 0, 0, LISTER_ICON_FILE},
        {"new.png", 0, 1, LISTER_ICON_NEW_FILE},
    };
    for (const Case &c : cases) {
        File_Lister_Item item = {S(c.name), S(c.name), c.is_directory, c.is_new};
        EXPECT_EQ(file_lister_item_icon(&item), c.icon) << c.name;
    }
}
