// Search on real files: the scanners against naive references, the
// multi-file search against grep on a generated tree (with the trees that
// break walkers: link loops, binary files, files changing under it), and
// the current-file prompts: search in a selection, go to line, replace.
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <dirent.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <atomic>
#include "shell/search.h"
#include "test_util.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"
#include "text/undo.h"

static std::string str(String s) { return std::string((const char *)s.data, (size_t)(s.count > 0 ? s.count : 0)); }

static bool wait_complete(u64 timeout_us = 30000000) {
    u64 end = os_get_time_microseconds() + timeout_us;
    while (!__atomic_load_n(&global_search_lister.complete, __ATOMIC_SEQ_CST)) {
        if (os_get_time_microseconds() > end) return false;
        usleep(500);
    }
    return true;
}

// The descriptors open in this process, by number.
static std::set<int> open_descriptors() {
    std::set<int> out;
    DIR *d = opendir("/proc/self/fd");
    while (dirent *e = d ? readdir(d) : nullptr)
        if (e->d_name[0] != '.' && atoi(e->d_name) != dirfd(d)) out.insert(atoi(e->d_name));
    if (d) closedir(d);
    return out;
}

struct Search_Test : ::testing::Test {
    Temp_Dir dir;
    void SetUp() override {
        editor_text_init(); // forgets every file record, the lister's fields too
        global_search_lister.search_text = global_search_lister.replacement_text = nullptr;
        init_search_lister();
        search_max_file_size = MB(64);
        blacklist_clear();
    }
    void TearDown() override {
        search_lister_cancel();
        search_root_override[0] = 0;
    }
    void set_search_text(const std::string &text) {
        File *f = global_search_lister.search_text;
        if (file_length(f)) text_raw_remove(f, 0, file_length(f));
        if (!text.empty()) text_raw_insert(f, 0, (const u8 *)text.data(), text.size());
    }
    // PATH:LINE:COLUMN for every match of a multi-file search rooted at `root`.
    std::multiset<std::string> search_files(const std::string &root, const std::string &text) {
        snprintf(search_root_override, sizeof(search_root_override), "%s", root.c_str());
        global_search_lister.mode = SEARCH_FILES;
        set_search_text(text);
        search_lister_search();
        EXPECT_TRUE(wait_complete());
        std::multiset<std::string> out;
        spin_lock(&global_search_lock);
        for (u32 i = 0; i < global_search_file_order.count; i++) {
            Search_Result_File *f = *dynamic_array_at<Search_Result_File *>(&global_search_file_order, i);
            for (u32 m = 0; m < f->matches.count; m++) {
                Search_Match *match = dynamic_array_at<Search_Match>(&f->matches, m);
                out.insert(str(f->path).substr(root.size() + 1) + ":" + std::to_string(match->line) + ":" +
                           std::to_string(match->offset - match->line_start + 1));
            }
        }
        spin_unlock(&global_search_lock);
        return out;
    }
};

// [SECTION] Scanners ----------------------------------------------------------------

TEST_F(Search_Test, MatchesDoNotOverlapAndLinesCountEveryBreakKind) {
    struct Case {
        const char *name;
        std::string text, needle;
        std::vector<std::pair<u64, u32>> expected; // offset, line
    } cases[] = {
        {"aaaa has two aa", "aaaa", "aa", {{0, 1}, {2, 1}}},
        {"CR LF counts once", "x\r\nab\rab\nab", "ab", {{3, 2}, {6, 3}, {9, 4}}},
        {"zero byte ends the scan", std::string("ab\nab\0ab", 8), "ab", {{0, 1}, {3, 2}}},
        {"needle longer than text", "ab", "abc", {}},
        {"match at the very end", std::string(100, 'x') + "needle", "needle", {{100, 1}}},
        {"many lines before a match", std::string(1000, '\n') + "q", "q", {{1000, 1001}}},
    };
    for (const Case &c : cases) {
        Dynamic_Array matches;
        dynamic_array_init(&matches, sizeof(Search_Match));
        search_text_for_matches((const u8 *)c.text.data(), 0, c.text.size(), 1,
                                make_string(c.needle.data(), (s64)c.needle.size()), 0, &matches, nullptr);
        ASSERT_EQ(matches.count, c.expected.size()) << c.name;
        for (u32 i = 0; i < matches.count; i++) {
            EXPECT_EQ(dynamic_array_at<Search_Match>(&matches, i)->offset, c.expected[i].first) << c.name;
            EXPECT_EQ(dynamic_array_at<Search_Match>(&matches, i)->line, c.expected[i].second) << c.name;
        }
        dynamic_array_free(&matches);
    }
}

TEST_F(Search_Test, ScannersAgreeWithNaiveReferencesOnRandomText) {
    std::mt19937 random(11);
    const char alphabet[] = "ab\r\n\0x";
    for (int round = 0; round < 300; round++) {
        std::string text(random() % 300, 'a');
        for (char &c : text) c = alphabet[random() % 6];
        std::string needle = round % 3 ? "ab" : (round % 2 ? "a" : "bxa");
        u64 breaks = 0;
        bool zero = false;
        for (size_t i = 0; i < text.size(); i++) {
            if (text[i] == '\n' || (text[i] == '\r' && !(i + 1 < text.size() && text[i + 1] == '\n'))) breaks++;
            zero |= text[i] == 0;
        }
        EXPECT_EQ(search_count_line_breaks((const u8 *)text.data(), text.size()), breaks);
        EXPECT_EQ(check_for_zeroes((const u8 *)text.data(), text.size()), zero);
        for (u64 from = 0; from <= text.size(); from += 7) {
            size_t expected = text.find(needle, from);
            s64 got = search_find((const u8 *)text.data(), text.size(), from, (const u8 *)needle.data(), needle.size());
            EXPECT_EQ(got, expected == std::string::npos ? -1 : (s64)expected) << round;
        }
    }
}

// [SECTION] Multi-file search ---------------------------------------------------------

TEST_F(Search_Test, FilesSearchFindsWhatGrepFinds) {
    std::mt19937 random(5);
    const char *words[] = {"alpha", "beta", "needle", "needleneedle", "  ", "x", "nee", "dle"};
    for (int d = 0; d < 6; d++) {
        std::string sub = dir.path + "/d" + std::to_string(d) + (d % 2 ? "/deeper" : "");
        run_command("mkdir -p '" + sub + "'");
        for (int f = 0; f < 25; f++) {
            std::string text;
            int lines = random() % 60;
            for (int l = 0; l < lines; l++) {
                int n = random() % 12;
                for (int w = 0; w < n; w++) text += words[random() % 8];
                text += "\n";
            }
            if (f == 3) text = std::string("needle\0needle\n", 14); // binary: skipped
            write_whole_file(sub + "/f" + std::to_string(f) + ".txt", text);
        }
    }
    symlink(".", (dir.path + "/loop").c_str());        // a link loop: not followed
    symlink("d0/f1.txt", (dir.path + "/link.txt").c_str());
    write_whole_file(dir.file("unreadable.txt"), "needle\n");
    chmod(dir.file("unreadable.txt").c_str(), 0);
    std::string grep_out;
    ASSERT_EQ(run_command("cd '" + dir.path + "' && LC_ALL=C grep -rnobFI needle . | sed 's|^\\./||'", &grep_out), 0);
    std::multiset<std::string> expected;
    size_t at = 0;
    while (at < grep_out.size()) {
        size_t end = grep_out.find('\n', at);
        std::string line = grep_out.substr(at, end - at);
        at = end + 1;
        // PATH:LINE:BYTE_OFFSET:needle -> PATH:LINE:COLUMN
        size_t a = line.find(':'), b = line.find(':', a + 1), c = line.find(':', b + 1);
        std::string path = line.substr(0, a), line_number = line.substr(a + 1, b - a - 1);
        u64 offset = std::stoull(line.substr(b + 1, c - b - 1));
        std::string text;
        read_whole_file(dir.path + "/" + path, &text);
        u64 line_start = text.rfind('\n', offset == 0 ? std::string::npos : offset - 1);
        line_start = offset == 0 || line_start == std::string::npos ? 0 : line_start + 1;
        expected.insert(path + ":" + line_number + ":" + std::to_string(offset - line_start + 1));
    }
    ASSERT_GT(expected.size(), 100u);
    std::multiset<std::string> got = search_files(dir.path, "needle");
    EXPECT_EQ(got, expected);
}

TEST_F(Search_Test, BlacklistSizeLimitAndBlankTextKeepFilesOut) {
    run_command("mkdir -p '" + dir.path + "/skip/inner' '" + dir.path + "/keep'");
    write_whole_file(dir.file("skip/inner/a.txt"), "word\n");
    write_whole_file(dir.file("keep/a.txt"), "word\n");
    write_whole_file(dir.file("keep/b.png"), "word\n");
    write_whole_file(dir.file("keep/big.txt"), std::string(5000, 'x') + "word\n");
    blacklist_add_extension(S("png"));
    blacklist_add_path(make_string((dir.path + "/skip").data(), (s64)dir.path.size() + 5));
    search_max_file_size = 4096;
    EXPECT_EQ(search_files(dir.path, "word"), (std::multiset<std::string>{"keep/a.txt:1:1"}));
    EXPECT_TRUE(search_files(dir.path, " \t ").empty());
    EXPECT_TRUE(search_files(dir.path, "").empty());
}

TEST_F(Search_Test, ResultFilesAreListedInNaturalOrderWhateverWorkerFoundThem) {
    // More files than the walker's queue holds, in nested directories.
    run_command("mkdir -p '" + dir.path + "/d2' '" + dir.path + "/d10'");
    std::vector<std::string> expected;
    for (const char *d : {"d2", "d10"})
        for (int i = 1; i <= 700; i++) write_whole_file(dir.file(std::string(d) + "/f" + std::to_string(i)), "hit\n");
    for (const char *d : {"d2", "d10"})
        for (int i = 1; i <= 700; i++) expected.push_back(std::string(d) + "/f" + std::to_string(i));
    EXPECT_EQ(search_files(dir.path, "hit").size(), 1400u);
    std::vector<std::string> got;
    spin_lock(&global_search_lock);
    for (u32 i = 0; i < global_search_file_order.count; i++)
        got.push_back(str((*dynamic_array_at<Search_Result_File *>(&global_search_file_order, i))->path).substr(dir.path.size() + 1));
    spin_unlock(&global_search_lock);
    EXPECT_EQ(got, expected);
}

TEST_F(Search_Test, RestartingCancelsTheRunningSearchAndFilesMayChangeMeanwhile) {
    for (int i = 0; i < 200; i++) write_whole_file(dir.file("f" + std::to_string(i)), std::string(20000, 'o') + "first second\n");
    std::set<int> descriptors = open_descriptors(); // before the changer opens anything
    std::atomic<bool> stop{false};
    std::thread changer([&] { // rewrites and truncates a file while it is being searched
        for (int n = 0; !stop; n++) write_whole_file(dir.file("f7"), n % 2 ? "" : std::string(30000, 'z') + "first\n");
    });
    snprintf(search_root_override, sizeof(search_root_override), "%s", dir.path.c_str());
    global_search_lister.mode = SEARCH_FILES;
    set_search_text("first");
    search_lister_search();
    std::multiset<std::string> got = search_files(dir.path, "second"); // cancels the first
    stop = true;
    changer.join();
    search_lister_cancel();
    // The cancelled walk let go of every directory it had queued files of.
    EXPECT_EQ(open_descriptors(), descriptors);
    // Only the new text is found, and f7 (never holding it while changing) is not.
    EXPECT_EQ(got.size(), 199u);
    for (const std::string &m : got) EXPECT_NE(m.find(":1:20007"), std::string::npos) << m;
    EXPECT_EQ(got.count("f7:1:20007"), 0u);
}

TEST_F(Search_Test, ChoosingAFileMatchOpensItAtTheMatch) {
    write_whole_file(dir.file("a.txt"), "one\ntwo target\n");
    search_files(dir.path, "target");
    ASSERT_EQ(get_num_items_in_search_lister(), 1u);
    Search_Match m;
    Search_Result_File *f = nullptr;
    ASSERT_TRUE(get_search_lister_current_item(&m, &f));
    EXPECT_EQ(std::string((char *)f->text.data + m.kept_line, m.line_end - m.line_start), "two target");
    EXPECT_EQ(m.offset - m.line_start, 4u);
    search_lister_select_item();
    ASSERT_TRUE(current_file);
    EXPECT_EQ(str(current_file->name), "a.txt");
    EXPECT_EQ(current_file->cursor, 8u);
    EXPECT_TRUE(file_has_flags(current_file, FILE_CHANGED));
}

// [SECTION] Current file ---------------------------------------------------------------

struct Current_File_Search : Search_Test {
    File *file = nullptr;
    void open(const std::string &bytes) {
        write_whole_file(dir.file("c.txt"), bytes);
        file = add_a_file();
        ASSERT_TRUE(load_file_from_path(S(dir.file("c.txt").c_str()), file));
        current_file = file;
    }
    std::vector<std::pair<u64, u32>> run(u8 mode, const std::string &text) {
        current_file = file;
        open_search_lister(S("t"), String{}, mode);
        set_search_text(text);
        search_lister_search();
        EXPECT_TRUE(wait_complete());
        std::vector<std::pair<u64, u32>> out;
        u32 n = get_num_items_in_search_lister();
        for (u32 i = 0; i < n; i++) {
            global_search_lister.current_item = i;
            Search_Match m;
            EXPECT_TRUE(get_search_lister_current_item(&m, nullptr));
            out.push_back({m.offset, m.line});
        }
        global_search_lister.current_item = 0;
        return out;
    }
};

TEST_F(Current_File_Search, GoToLineAcceptsEveryLineEnding) {
    open("a\r\nb\rc\nd");
    typedef std::vector<std::pair<u64, u32>> V;
    EXPECT_EQ(run(SEARCH_GO_TO_LINE, "1"), (V{{0, 1}}));
    EXPECT_EQ(run(SEARCH_GO_TO_LINE, "2"), (V{{3, 2}}));
    EXPECT_EQ(run(SEARCH_GO_TO_LINE, "3"), (V{{5, 3}}));
    EXPECT_EQ(run(SEARCH_GO_TO_LINE, "4"), (V{{7, 4}}));
    EXPECT_EQ(run(SEARCH_GO_TO_LINE, "5"), V{});
    EXPECT_EQ(run(SEARCH_GO_TO_LINE, "0"), V{});
    EXPECT_EQ(run(SEARCH_GO_TO_LINE, "x"), V{});
    run(SEARCH_GO_TO_LINE, "3");
    search_lister_select_item();
    EXPECT_EQ(file->cursor, 5u);
    EXPECT_EQ(current_file, file);
    open("");
    EXPECT_EQ(run(SEARCH_GO_TO_LINE, "1"), (V{{0, 1}}));
}

TEST_F(Current_File_Search, SearchStaysInsideTheSelectionWithTheFilesLineNumbers) {
    open("ab\nab ab\nab\n");
    typedef std::vector<std::pair<u64, u32>> V;
    EXPECT_EQ(run(SEARCH_CURRENT_FILE, "ab"), (V{{0, 1}, {3, 2}, {6, 2}, {9, 3}}));
    file->selection_anchor = 4;
    file->cursor = 10;
    file_set_flags(file, FILE_SELECTION_ACTIVE);
    file_update_selection_pointers(file);
    EXPECT_EQ(run(SEARCH_CURRENT_FILE, "ab"), (V{{6, 2}}));
}

TEST_F(Current_File_Search, EachReplacementIsOneInsertionAndUndoes) {
    open("cat dog cat\n");
    run(SEARCH_REPLACE, "cat");
    File *with = global_search_lister.replacement_text;
    text_raw_insert(with, 0, (const u8 *)"lion", 4);
    u32 undo_before = file->undo_records.count;
    search_lister_select_item();
    ASSERT_TRUE(wait_complete());
    EXPECT_EQ(std::string((char *)file_text(file), file_length(file)), "lion dog cat\n");
    u32 insertions = 0;
    for (u32 i = undo_before; i < file->undo_records.count; i++)
        insertions += dynamic_array_at<Undo_Record>(&file->undo_records, i)->kind == UNDO_INSERTION;
    EXPECT_EQ(insertions, 1u);
    EXPECT_EQ(get_num_items_in_search_lister(), 1u); // searched again: one cat left
    search_lister_select_item();
    ASSERT_TRUE(wait_complete());
    EXPECT_EQ(std::string((char *)file_text(file), file_length(file)), "lion dog lion\n");
    while (editor_undo_file(file)) {}
    EXPECT_EQ(std::string((char *)file_text(file), file_length(file)), "cat dog cat\n");
}
