// The real editor with the default custom layer, driven by xdotool the way a
// user drives it: files, the clipboard, terminals, search, auto-complete,
// tabs and quitting. One editor serves every case (start-up is paid once);
// each case opens its own files so that it fails on its own.
#include <gtest/gtest.h>
#include "test_end_to_end_util.h"
#include <unistd.h>

static End_To_End_Editor *e2e;
static const char NOTES[] = "alpha\nbeta\ngamma\n";

class End_To_End : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        e2e = new End_To_End_Editor;
        e2e->start("", nullptr);
    }
    static void TearDownTestSuite() {
        delete e2e;
        e2e = nullptr;
    }
    // A picture of the failure, for whoever reads the log.
    void TearDown() override {
        if (!HasFailure() || !e2e || !e2e->alive()) return;
        std::string png = std::string("/tmp/tarno-e2e-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png";
        if (take_screenshot(e2e->session, e2e->window, png)) printf("screenshot of the failure: %s\n", png.c_str());
    }
    void SetUp() override {
        ASSERT_TRUE(e2e->start_error.empty()) << e2e->start_error;
        ASSERT_TRUE(e2e->alive()) << "the editor is no longer running";
        ASSERT_TRUE(e2e->focus());
    }
    // The "Open File" lister starts in the current tab's directory, so the
    // file is opened from a terminal that went to the work directory first.
    void open_file(const std::string &name, const std::string &bytes) {
        ASSERT_TRUE(write_whole_file(e2e->path(name), bytes));
        e2e->keys("ctrl+t");
        e2e->type("cd '" + e2e->work + "'");
        e2e->keys("Return ctrl+o");
        e2e->type(name);
        e2e->keys("Return");
    }
    void expect_bytes(const std::string &name, const std::string &expected) {
        std::string actual;
        EXPECT_TRUE(wait_for_bytes(e2e->path(name), expected, &actual)) << name << " holds:\n" << actual;
    }
};

// The suite's editor was started without a file: this case starts one of
// its own with a file and a line on the command line.
TEST_F(End_To_End, OpensTheFileFromTheCommandLineOnItsLine) {
    End_To_End_Editor own;
    ASSERT_TRUE(own.start("'%W/notes.txt' 2", [](End_To_End_Editor &e) { write_whole_file(e.path("notes.txt"), NOTES); }))
        << own.start_error;
    own.type("X");
    own.keys("ctrl+s");
    std::string actual;
    EXPECT_TRUE(wait_for_bytes(own.path("notes.txt"), "alpha\nXbeta\ngamma\n", &actual)) << actual;
    ASSERT_TRUE(close_window_and_wait(own.session, own.window, &own.editor, 20));
    EXPECT_EQ(own.editor.exit_status, 0);
}

TEST_F(End_To_End, GoesToALineTypesSavesUndoesAndSavesAgain) {
    open_file("lines.txt", "one\ntwo\nthree\nfour\n");
    e2e->keys("ctrl+g");
    e2e->type("3");
    e2e->keys("Return");
    e2e->type("Hi ");
    e2e->keys("ctrl+s");
    expect_bytes("lines.txt", "one\ntwo\nHi three\nfour\n");
    e2e->keys("ctrl+z ctrl+s");
    expect_bytes("lines.txt", "one\ntwo\nthree\nfour\n");
    // Undone text comes back as typed again, on the same line.
    e2e->keys("End");
    e2e->type("!");
    e2e->keys("ctrl+s");
    expect_bytes("lines.txt", "one\ntwo\nthree!\nfour\n");
}

TEST_F(End_To_End, SelectAllCopyNewFilePasteAndSaveThroughTheSaveLister) {
    const std::string text = "first line\n\tsecond, indented\nthird \xC3\xA9t\xC3\xA9\n";
    open_file("source.txt", text);
    // One burst of keys: the new tab must exist before the paste lands.
    e2e->keys("ctrl+a ctrl+c ctrl+n ctrl+v ctrl+s");
    e2e->type("pasted.txt");
    e2e->keys("Return");
    expect_bytes("pasted.txt", text);
    expect_bytes("source.txt", text);
    // The saved tab is now that file: the next save goes there directly.
    e2e->type("+");
    e2e->keys("ctrl+s");
    expect_bytes("pasted.txt", text + "+");
}

TEST_F(End_To_End, TerminalRunsEcho) {
    e2e->keys("ctrl+t");
    e2e->type("echo hello from the terminal > '" + e2e->path("echo.txt") + "'");
    e2e->keys("Return");
    expect_bytes("echo.txt", "hello from the terminal\n");
}

TEST_F(End_To_End, TerminalChangesDirectoryAndPrintsIt) {
    std::string deeper = e2e->path("deeper dir");
    ASSERT_EQ(run_command("mkdir -p '" + deeper + "/inner'"), 0);
    e2e->keys("ctrl+t");
    e2e->type("cd '" + deeper + "'");
    e2e->keys("Return");
    // Relative to the directory the first cd went to.
    e2e->type("cd inner");
    e2e->keys("Return");
    e2e->type("pwd > ../pwd.txt");
    e2e->keys("Return");
    std::string actual;
    EXPECT_TRUE(wait_for_bytes(deeper + "/pwd.txt", deeper + "/inner\n", &actual)) << actual;
}

TEST_F(End_To_End, CtrlCKillsTheRunningCommand) {
    // A duration no other process on the machine is likely to sleep.
    std::string sleep = "sleep 30." + std::to_string(100 + getpid() % 900);
    e2e->keys("ctrl+t");
    e2e->type(sleep + "; echo survived > '" + e2e->path("survived.txt") + "'");
    e2e->keys("Return");
    ASSERT_TRUE(wait_until([&] { return process_runs(sleep); })) << sleep << " never started";
    e2e->keys("ctrl+c");
    EXPECT_TRUE(wait_until([&] { return !process_runs(sleep); })) << sleep << " still runs after Ctrl+C";
    // The whole command was stopped, not only the sleep.
    EXPECT_NE(access(e2e->path("survived.txt").c_str(), F_OK), 0);
    // The same terminal takes the next command.
    e2e->type("echo after > '" + e2e->path("after.txt") + "'");
    e2e->keys("Return");
    expect_bytes("after.txt", "after\n");
}

TEST_F(End_To_End, SearchesInTheFile) {
    open_file("haystack.txt", "one\ntwo needle\nthree needle\n");
    e2e->keys("ctrl+f");
    e2e->type("needle");
    e2e->keys("Return");
    e2e->type("#");
    e2e->keys("ctrl+s");
    expect_bytes("haystack.txt", "one\ntwo #needle\nthree needle\n");
    // The next match is one Down away in the list.
    e2e->keys("ctrl+f");
    e2e->type("needle");
    e2e->keys("Down Return");
    e2e->type("%");
    e2e->keys("ctrl+s");
    expect_bytes("haystack.txt", "one\ntwo #needle\nthree %needle\n");
}

TEST_F(End_To_End, SearchesAcrossFiles) {
    ASSERT_EQ(run_command("mkdir -p '" + e2e->path("tree/a/b") + "'"), 0);
    ASSERT_TRUE(write_whole_file(e2e->path("tree/a/b/deep.txt"), "nothing\nthe zebrafinch sings\n"));
    // Search Files starts in the current file's directory.
    open_file("start.txt", "start\n");
    e2e->keys("ctrl+shift+f");
    e2e->type("zebrafinch");
    e2e->keys("Return");
    e2e->type("@");
    e2e->keys("ctrl+s");
    expect_bytes("tree/a/b/deep.txt", "nothing\nthe @zebrafinch sings\n");
}

TEST_F(End_To_End, TabCompletesTheWordBeforeTheCursor) {
    open_file("complete.txt", "unmistakable\n");
    e2e->keys("ctrl+End");
    e2e->type("unmis");
    e2e->keys("Tab");
    e2e->type(";");
    e2e->keys("ctrl+s");
    expect_bytes("complete.txt", "unmistakable\nunmistakable;");
    // With nothing to complete, Tab inserts the tab text (four spaces).
    e2e->keys("Return Tab");
    e2e->type("x");
    e2e->keys("ctrl+s");
    expect_bytes("complete.txt", "unmistakable\nunmistakable;\n    x");
}

// The tab strip sits right of the six icons; labels are bright text.
static int tab_label_ink(const Rgb_Image &img) {
    int n = 0;
    for (int y = 1; y < 14; y++)
        for (int x = 130; x < img.width; x++) n += img.is_bright(x, y, 150);
    return n;
}

static std::string tab_strip_pixels(const Rgb_Image &img) {
    return std::string((const char *)img.at(0, 0), (size_t)img.width * 3 * 16);
}

// The about panel: centred lines of text when no tab is open.
static int centre_ink(const Rgb_Image &img) {
    int n = 0;
    for (int y = img.height / 2 - 120; y < img.height / 2 + 120; y++)
        for (int x = img.width / 4; x < img.width * 3 / 4; x++) n += img.is_bright(x, y, 150);
    return n;
}

TEST_F(End_To_End, ClosingEveryTabShowsTheAboutPanel) {
    open_file("closing.txt", "to be closed\n");
    Rgb_Image img;
    ASSERT_TRUE(wait_until([&] { return e2e->screenshot(&img) && tab_label_ink(img) > 0; })) << "no tab label drawn";
    // Ctrl+W one tab at a time until none is left; a tab that refuses to
    // close (unsaved changes) would keep its label.
    // Labels alike ("cd | /tmp/...") can shift into each other's places, so
    // a closed tab shows as any change of the strip's pixels.
    int ink = tab_label_ink(img);
    std::string strip = tab_strip_pixels(img);
    for (int presses = 0; presses < 40 && ink > 0; presses++) {
        e2e->keys("ctrl+w");
        std::string before = strip;
        ASSERT_TRUE(wait_until([&] {
            if (!e2e->screenshot(&img)) return false;
            strip = tab_strip_pixels(img);
            ink = tab_label_ink(img);
            return strip != before;
        })) << "Ctrl+W closed no tab (press " << presses + 1 << ")";
    }
    bool closed = ink == 0;
    ASSERT_TRUE(closed) << "tabs are still open after 40 presses of Ctrl+W";
    EXPECT_TRUE(wait_until([&] { return e2e->screenshot(&img) && centre_ink(img) > 100; })) << "no about panel";
    // Keys with no tab open do no harm; the editor still takes commands.
    e2e->type("stray");
    e2e->keys("ctrl+z ctrl+s BackSpace");
    EXPECT_TRUE(e2e->alive());
}

// Kept last: the suite's editor ends here.
TEST_F(End_To_End, CtrlQExitsWithStatusZero) {
    e2e->keys("ctrl+q");
    ASSERT_TRUE(e2e->editor.wait_for_exit(E2E_DEADLINE)) << "the editor is still running after Ctrl+Q";
    EXPECT_EQ(e2e->editor.exit_status, 0);
}
