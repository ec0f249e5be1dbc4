// The real editor under Xvfb with its default custom layer: Ctrl+Shift+F
// opens "Search Files" over the directory of the open file, the typed text
// lists one row per match (the match drawn in its own colour, binary files
// left out), Down moves the highlight and Enter opens the match, closing the
// panel.
#include <gtest/gtest.h>
#include "lister_gui_util.h"
#include "test_util.h"
#include <sys/stat.h>

// The theme's colour for matches (a light red), and the highlighted row's.
static bool match_ink(const unsigned char *p) { return p[0] > 170 && p[0] > p[1] + 45 && p[0] > p[2] + 45; }
static bool highlight(const unsigned char *p) { return p[2] > 190 && p[2] > p[0] + 50 && p[1] > p[0] + 20; }

// Rows of the highlight bar: its colour over most of a row.
static std::vector<Row_Band> highlight_rows(const Rgb_Image &img) {
    std::vector<Row_Band> bands = gui_bands(img, highlight, 0, -1, 1);
    std::vector<Row_Band> wide;
    for (const Row_Band &b : bands)
        if (b.right - b.left > img.width / 3) wide.push_back(b);
    return wide;
}

TEST(Search_Gui, SearchFilesListsEveryMatchAndOpensTheChosenOne) {
    Gui_Session session;
    ASSERT_TRUE(session.start(1280, 800));
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    std::string work = tmp.file("work");
    ASSERT_EQ(mkdir(work.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((work + "/sub").c_str(), 0700), 0);
    ASSERT_TRUE(write_whole_file(work + "/a.txt", "hello\nQQQQ needle\n"));
    ASSERT_TRUE(write_whole_file(work + "/b.txt", "x\nyy QQQQ\n"));
    ASSERT_TRUE(write_whole_file(work + "/sub/c.txt", "1\n2\nlast QQQQ\n"));
    ASSERT_TRUE(write_whole_file(work + "/none.txt", "QQQ Q\n"));
    ASSERT_TRUE(write_whole_file(work + "/data.bin", std::string("QQQQ\0QQQQ\n", 10)));
    ASSERT_TRUE(editor.start(session, "'" + work + "/a.txt'"));
    std::string id = wait_for_window(session, "^Tarno", 30);
    ASSERT_FALSE(id.empty());
    std::string png = tmp.file("shot.png");
    Rgb_Image before, img;
    ASSERT_TRUE(gui_wait_for_pixels(session, id, png, &before, 30, [](const Rgb_Image &i) {
        return !gui_bands(i, [](const unsigned char *p) { return p[0] > 200 && p[1] > 200 && p[2] > 200; }).empty();
    })) << "the file's text never appeared";

    ASSERT_TRUE(gui_keys(session, id, "ctrl+shift+f"));
    ASSERT_TRUE(gui_wait_for_change(session, id, png, before, &img, 20)) << "Ctrl+Shift+F changed nothing";
    ASSERT_TRUE(gui_type(session, id, "QQQQ"));
    bool listed = gui_wait_for_pixels(session, id, png, &img, 30, [](const Rgb_Image &i) {
        return gui_bands(i, match_ink).size() == 3;
    });
    std::vector<Row_Band> rows = gui_bands(img, match_ink);
    ASSERT_TRUE(listed) << rows.size() << " rows of matches instead of a.txt, b.txt and sub/c.txt";
    // One row each, one line apart, the matches inside the panel's middle part.
    int pitch = rows[1].top - rows[0].top;
    EXPECT_GT(pitch, 8);
    EXPECT_NEAR(rows[2].top - rows[1].top, pitch, 2);
    for (const Row_Band &r : rows) {
        EXPECT_GT(r.left, img.width / 5) << "a match left of the panel";
        EXPECT_LT(r.right, img.width * 4 / 5) << "a match right of the panel";
    }
    // The first match is highlighted; Down moves the highlight to the second.
    std::vector<Row_Band> bar = highlight_rows(img);
    ASSERT_EQ(bar.size(), 1u);
    EXPECT_LE(bar[0].top, rows[0].top);
    EXPECT_GE(bar[0].bottom, rows[0].bottom);
    ASSERT_TRUE(gui_keys(session, id, "Down"));
    ASSERT_TRUE(gui_wait_for_pixels(session, id, png, &img, 20, [&](const Rgb_Image &i) {
        std::vector<Row_Band> b = highlight_rows(i);
        return b.size() == 1 && b[0].top <= rows[1].top && b[0].bottom >= rows[1].bottom;
    })) << "Down did not move the highlight to the second match";

    // Enter opens b.txt and closes the panel: no match rows are left.
    ASSERT_TRUE(gui_keys(session, id, "Return"));
    EXPECT_TRUE(gui_wait_for_pixels(session, id, png, &img, 20, [](const Rgb_Image &i) {
        return gui_bands(i, match_ink).empty() && highlight_rows(i).empty();
    })) << "the panel stayed open";

    ASSERT_TRUE(close_window_and_wait(session, id, &editor, 10));
    EXPECT_EQ(editor.exit_status, 0);
}
