// The real editor under Xvfb: its first frame shows the about panel, centred,
// over the text background, and a resized window is laid out again.
#include <gtest/gtest.h>
#include "gui_harness.h"
#include "screenshot_pixels.h"
#include <unistd.h>
#include <dirent.h>

// The top bar's icons sit above this row; the panel is centred below the bar.
constexpr int BELOW_TOP_BAR = 40;

// Bounding box of the bright pixels below the top bar.
static bool panel_box(const Rgb_Image &img, Box *box) {
    Rgb_Image below = img;
    for (int y = 0; y < BELOW_TOP_BAR && y < img.height; y++)
        memset(&below.rgb[(size_t)y * img.width * 3], 0, (size_t)img.width * 3);
    return bright_box(below, box);
}

static bool screenshot_until(const Gui_Session &s, const std::string &id, const std::string &png, Rgb_Image *img,
                             int want_width, double seconds) {
    for (double waited = 0; waited < seconds; waited += 0.2) {
        if (take_screenshot(s, id, png) && load_png(png, img) && (want_width <= 0 || img->width == want_width)) {
            // Right after a resize the server may still show the old frame:
            // wait for one whose text is centred.
            Box b;
            if (panel_box(*img, &b) && abs((b.left + b.right) / 2 - img->width / 2) <= 12) return true;
        }
        usleep(200000);
    }
    return false;
}

static void expect_centred_panel(const Rgb_Image &img) {
    Box b;
    ASSERT_TRUE(panel_box(img, &b)) << "no text drawn";
    int cx = (b.left + b.right) / 2, cy = (b.top + b.bottom) / 2;
    EXPECT_NEAR(cx, img.width / 2, 12) << "panel not centred horizontally";
    EXPECT_NEAR(cy, img.height / 2, 20) << "panel not centred vertically";
    // Six lines of text at a legible size: the block is taller than 6 x 10 px.
    EXPECT_GT(b.bottom - b.top, 60);
    EXPECT_GT(b.right - b.left, 150);
    // The background is the text theme's (0, 0, 0.005) after sRGB: (0, 0, 15 or 16).
    const int corners[4][2] = {{2, BELOW_TOP_BAR}, {img.width - 3, BELOW_TOP_BAR}, {2, img.height - 3}, {img.width - 3, img.height - 3}};
    for (auto &c : corners) {
        const unsigned char *p = img.at(c[0], c[1]);
        EXPECT_EQ(p[0], 0);
        EXPECT_EQ(p[1], 0);
        EXPECT_NEAR(p[2], 16, 1);
    }
}

TEST(RenderGui, FirstFrameShowsTheAboutPanelAndResizingRelaysIt) {
    Gui_Session session;
    ASSERT_TRUE(session.start(1280, 800));
    Temp_Dir tmp;
    Editor_Process editor;
    ASSERT_TRUE(editor.prepare(tmp.file("bin")));
    // A layer without settings keeps the built-in theme these pixels are checked against.
    ASSERT_TRUE(write_whole_file(tmp.file("bin") + "/custom.8", "#on_load {\n}\n"));
    ASSERT_TRUE(editor.start(session));
    std::string id = wait_for_window(session, "^Tarno - v0\\.3\\.2$", 30);
    ASSERT_FALSE(id.empty());

    Rgb_Image img;
    ASSERT_TRUE(screenshot_until(session, id, tmp.file("first.png"), &img, 0, 20)) << "the about panel never appeared";
    expect_centred_panel(img);

    // Un-maximise, then resize: the panel follows the new centre.
    run_in_display(session, "wmctrl -i -r " + id + " -b remove,maximized_vert,maximized_horz");
    ASSERT_EQ(run_in_display(session, "xdotool windowsize " + id + " 700 450"), 0);
    Rgb_Image resized;
    ASSERT_TRUE(screenshot_until(session, id, tmp.file("resized.png"), &resized, 700, 20));
    EXPECT_EQ(resized.height, 450);
    expect_centred_panel(resized);

    // Idle means asleep: no processor time over half a second.
    auto cpu_ticks = [&]() {
        std::string stat;
        read_whole_file("/proc/" + std::to_string(editor.pid) + "/stat", &stat);
        size_t close = stat.rfind(')');
        long utime = 0, stime = 0;
        if (close != std::string::npos)
            sscanf(stat.c_str() + close + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime);
        return utime + stime;
    };
    usleep(300000);
    long before = cpu_ticks();
    usleep(500000);
    EXPECT_LE(cpu_ticks() - before, 1) << "the idle editor used processor time";

    EXPECT_TRUE(close_window_and_wait(session, id, &editor, 10));
    EXPECT_EQ(editor.exit_status, 0);
}

static std::string read_logs(const std::string &directory) {
    std::string all, text;
    if (DIR *d = opendir((directory + "/logs").c_str())) {
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            if (read_whole_file(directory + "/logs/" + e->d_name, &text)) all += text;
        }
        closedir(d);
    }
    return all;
}

TEST(RenderGui, MissingOrDamagedFontsEndStartUpCleanly) {
    Gui_Session session;
    ASSERT_TRUE(session.start(1024, 768));
    struct { const char *what; std::string archive; const char *expected; } cases[] = {
        {"no archive", "", "Failed to load font 'UI_FONT' from the executable."},
        // A stored entry named UI_FONT whose bytes are no font.
        {"bad font", "zip", "Failed to initialise font 'UI_FONT'."},
    };
    for (auto &c : cases) {
        Temp_Dir tmp;
        Editor_Process editor;
        ASSERT_TRUE(editor.prepare(tmp.file("bin")));
        std::string data = editor.directory + "/tarno.data";
        unlink(data.c_str());
        if (!c.archive.empty()) {
            ASSERT_TRUE(write_whole_file(tmp.file("UI_FONT"), "definitely not a TrueType font"));
            ASSERT_EQ(run_command("cd '" + tmp.path + "' && zip -q -0 '" + data + "' UI_FONT"), 0);
        }
        ASSERT_TRUE(editor.start(session));
        ASSERT_TRUE(editor.wait_for_exit(20)) << c.what << ": the editor kept running without fonts";
        EXPECT_LT(editor.exit_status, 128) << c.what << ": it crashed";
        std::string log = read_logs(editor.directory);
        EXPECT_NE(log.find(c.expected), std::string::npos) << c.what << "\n" << log;
        EXPECT_NE(log.find("Initialised OpenGL."), std::string::npos) << c.what;
    }
}
