// The frame driver without a window: the background and the about panel.
#include <gtest/gtest.h>
#include "render_test_fonts.h"
#include "shell/frame.h"
#include "shell/tab_strip.h"
#include "core/system_info.h"
#include <math.h>

struct Ink { f32 left, top, right, bottom; u32 glyphs; };

// Glyphs whose top lies at or below `below` (the top bar's icons sit above it).
static Ink glyph_ink(f32 below = 0) {
    Ink ink = {1e9f, 1e9f, -1e9f, -1e9f, 0};
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        if (!(q->flags & QUAD_INSTANCE_GLYPH)) continue;
        f32 top = renderer_info.height - (q->position.y + q->scale.y);
        if (top < below) continue;
        ink.glyphs++;
        ink.left = fminf(ink.left, q->position.x - q->scale.x);
        ink.right = fmaxf(ink.right, q->position.x + q->scale.x);
        ink.top = fminf(ink.top, top);
        ink.bottom = fmaxf(ink.bottom, top + 2 * q->scale.y);
    }
    return ink;
}

TEST(Frame, AboutPanelNamesTheEditorAndTheMachine) {
    String lines[8];
    ASSERT_EQ(about_panel_lines(lines, 8), 6u);
    const char *starts[] = {"Editor version: 0.3.2 (beta)", "CPU model: ", "CPU ISA: ", "Num. CPU cores: ", "Usable RAM: ", "OS: "};
    for (u32 i = 0; i < 6; i++) {
        std::string line((const char *)lines[i].data, (size_t)lines[i].count);
        EXPECT_EQ(line.rfind(starts[i], 0), 0u) << line;
        if (i > 0) {
            EXPECT_GT(line.size(), strlen(starts[i])) << "empty value: " << line;
        }
    }
    EXPECT_NE(std::string((const char *)lines[3].data, (size_t)lines[3].count).find("(physical)"), std::string::npos);
    // The OS line is the system's own description, as the log writes it
    // (its pretty name already names the version).
    Computer_Info info = {};
    os_get_computer_info(&info);
    std::string os((const char *)info.os_name.data, (size_t)info.os_name.count);
    if (os.empty()) os = "unknown";
    EXPECT_EQ(std::string((const char *)lines[5].data, (size_t)lines[5].count), "OS: " + os);
}

TEST(Frame, TextColourFollowsTheBackgroundBrightness) {
    struct { Colour background; bool dark_text; } cases[] = {
        {{0, 0, 0.005f, 1}, false}, {{1, 1, 1, 1}, true}, {{0.9f, 0.9f, 0.2f, 1}, true}, {{0.2f, 0.2f, 0.9f, 1}, false},
    };
    for (auto &c : cases) {
        Colour t = about_panel_text_colour(c.background);
        EXPECT_EQ(colour_brightness(t) < 0.5f, c.dark_text);
        // Dark text on bright ground and light on dark: far apart either way.
        EXPECT_GT(fabsf(colour_brightness(t) - colour_brightness(c.background)), 0.3f);
    }
}

TEST(Frame, BackgroundThenCentredPanelForEverySize) {
    ASSERT_TRUE(load_test_fonts_and_frame());
    resize_fonts(15);
    struct { u32 w, h; } sizes[] = {{800, 600}, {1920, 1080}, {500, 900}};
    for (auto &s : sizes) {
        renderer_init_headless(s.w, s.h);
        prepare_frame();
        draw_and_update_editor(0, 0, (f32)s.w, (f32)s.h);
        ASSERT_GT(renderer_quad_instances.count, 1u);
        Quad_Instance *bg = renderer_instance(0);
        EXPECT_EQ(bg->flags, 0u);
        EXPECT_FLOAT_EQ(bg->scale.x * 2, (f32)s.w);
        EXPECT_FLOAT_EQ(bg->scale.y * 2, (f32)s.h);
        EXPECT_FLOAT_EQ(bg->colour.z, default_text_theme[0].z);
        // The panel fills the window below the top bar.
        f32 bar = top_bar_height();
        Ink ink = glyph_ink(bar);
        EXPECT_GT(ink.glyphs, 60u);
        EXPECT_NEAR((ink.left + ink.right) / 2, s.w / 2.0f, 6) << s.w;
        EXPECT_NEAR((ink.top + ink.bottom) / 2, bar + (s.h - bar) / 2.0f, 10) << s.h;
        EXPECT_GT(ink.bottom - ink.top, 6 * 15 * 0.9f); // six lines
    }
    resize_fonts(35);
}

TEST(Frame, AZeroSizedWindowBuildsNothingVisible) {
    ASSERT_TRUE(load_test_fonts_and_frame());
    renderer_init_headless(0, 0);
    prepare_frame();
    draw_and_update_editor(0, 0, 0, 0);
    EXPECT_EQ(glyph_ink().glyphs, 0u);
    // A window too small for the panel clips it instead of spilling out.
    renderer_init_headless(120, 40);
    prepare_frame();
    draw_and_update_editor(0, 0, 120, 40);
    Ink ink = glyph_ink();
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        EXPECT_LE(q->scissors.z, 120);
        EXPECT_GE(q->scissors.x, 0);
    }
    EXPECT_LT(ink.glyphs, 60u);
}

TEST(Frame, VerticalSyncOnlyAfterHalfASecondWithoutActivity) {
    const u64 start = 50000000; // 50 s of monotonic time
    struct { u64 last_activity; bool vsync; } cases[] = {
        {0, true},                    // never any activity
        {start - 500001, true},
        {start - 500000, false},      // exactly half a second: still off
        {start - 1000, false},
        {start, false},
        {start + 2000, false},        // stamped during this frame, after it started
        {start + 10000000, false},
    };
    for (auto &c : cases) EXPECT_EQ(frame_wants_vsync(start, c.last_activity), c.vsync) << c.last_activity;
}

TEST(Frame, AMinimisedWindowDrawsNothingAndLetsTheLoopSleep) {
    ASSERT_TRUE(load_test_fonts_and_frame());
    struct { u32 w, h; bool drawn; } cases[] = {{0, 0, false}, {640, 0, false}, {0, 480, false}, {640, 480, true}};
    for (auto &c : cases) {
        memset(&window, 0, sizeof window);
        window.width = c.w;
        window.height = c.h;
        ui_window = &window;
        renderer_init_headless(c.w, c.h);
        prepare_frame();
        ui_do_not_stop_after_current_frame(); // as a typing frame before would have
        build_and_present_frame(os_get_time_microseconds());
        EXPECT_FALSE(ui_flags & UI_ANOTHER_FRAME) << c.w << "x" << c.h;
        EXPECT_EQ(renderer_quad_instances.count > 0, c.drawn) << c.w << "x" << c.h;
    }
}
