// The real editor opening `tarno FILE 120`: the file's tab is current, the
// view centred on line 120, the cursor on it and its text drawn there.
#include <gtest/gtest.h>
#include "gui_harness.h"
#include "test_util.h"
#include "../render/screenshot_pixels.h"
#include <unistd.h>

// Rows of the image that hold a pixel close to the cursor's cyan.
static std::vector<int> cyan_rows(const Rgb_Image &img) {
    std::vector<int> rows;
    for (int y = 0; y < img.height; y++)
        for (int x = 0; x < img.width; x++) {
            const unsigned char *p = img.at(x, y);
            if (p[0] < 60 && p[1] > 200 && p[2] > 200) {
                rows.push_back(y);
                break;
            }
        }
    return rows;
}

static int bright_in_row_band(const Rgb_Image &img, int top, int bottom, int left, int right) {
    int n = 0;
    for (int y = top; y <= bottom; y++)
        for (int x = left; x < right; x++) n += img.is_bright(x, y, 90);
    return n;
}

TEST(File_Tab_Gui, CommandLineLineIsCentredWithTheCursorOnIt) {
    Gui_Session session;
    ASSERT_TRUE(session.start(1280, 800));
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    // A layer without settings keeps the built-in theme these pixels are checked against.
    ASSERT_TRUE(write_whole_file(tmp.file("bin") + "/custom.8", "#on_load {\n}\n"));
    // Only line 120 has text, so bright ink right of the gutter belongs to it.
    std::string text;
    for (int i = 1; i <= 300; i++) text += i == 120 ? "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMM\n" : "\n";
    std::string path = tmp.file("lines.txt");
    ASSERT_TRUE(write_whole_file(path, text));
    ASSERT_TRUE(editor.start(session, "'" + path + "' 120"));
    std::string id = wait_for_window(session, "^Tarno", 30);
    ASSERT_FALSE(id.empty());

    // The window manager maximises the window after it appears: retry until
    // a screenshot shows the cursor.
    Rgb_Image img;
    std::vector<int> rows;
    std::string png = tmp.file("shot.png");
    for (int attempt = 0; attempt < 100 && rows.empty(); attempt++) {
        if (take_screenshot(session, id, png) && load_png(png, &img)) rows = cyan_rows(img);
        if (rows.empty()) usleep(100000);
    }
    ASSERT_FALSE(rows.empty()) << "no cursor drawn";
    int cursor_top = rows.front(), cursor_bottom = rows.back();
    int cursor_middle = (cursor_top + cursor_bottom) / 2;
    // Centred: the cursor's row sits in the middle of the window, give or
    // take the top bar and one line.
    int line_height = cursor_bottom - cursor_top + 1;
    EXPECT_NEAR(cursor_middle, img.height / 2, 2 * line_height + 40) << "line 120 not centred";

    // The cursor's x marks where the text starts; the number is left of it.
    int cursor_x = -1;
    for (int x = 0; x < img.width && cursor_x < 0; x++) {
        const unsigned char *p = img.at(x, cursor_middle);
        if (p[0] < 60 && p[1] > 200 && p[2] > 200) cursor_x = x;
    }
    ASSERT_GT(cursor_x, 10) << "no gutter left of the text";
    EXPECT_GT(bright_in_row_band(img, cursor_top, cursor_bottom, cursor_x + 4, img.width - 30), 200)
        << "line 120's text is not on the cursor's row";
    EXPECT_GT(bright_in_row_band(img, cursor_top, cursor_bottom, 0, cursor_x - 2), 8) << "no line number on the row";
    // Rows above and below are empty lines: no text ink there.
    EXPECT_LT(bright_in_row_band(img, cursor_bottom + line_height, cursor_bottom + 2 * line_height, cursor_x + 4,
                                 img.width - 30), 5);
    // The tab strip carries the label, right of the six icons.
    EXPECT_GT(bright_in_row_band(img, 1, 12, 85, 400), 20)
        << "no tab label in the top bar";

    ASSERT_TRUE(close_window_and_wait(session, id, &editor, 10));
    EXPECT_EQ(editor.exit_status, 0);
}
