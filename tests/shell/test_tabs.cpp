// Tabs and the frame driver, headless: opening, switching, closing, the
// unsaved-work guard, editor commands and the custom layer's events.
#include <gtest/gtest.h>
#include "shell_test_util.h"
#include "test_util.h"
#include "shell/tabs.h"
#include "shell/globals.h"
#include "shell/editor_commands.h"
#include "shell/tab_strip.h"
#include "shell/tab_contents.h"
#include "shell/update.h"
#include "shell/file_view.h"
#include "render/ui.h"
#include "render/window.h"
#include "text/file.h"
#include "text/editing.h"
#include "text/text_state.h"
#include <math.h>
#include <unistd.h>

static void open_tabs(const Temp_Dir &tmp, int n) {
    for (int i = 0; i < n; i++) {
        ASSERT_NE(open_test_file(tmp.path, "f" + std::to_string(i) + ".txt", "text " + std::to_string(i) + "\n"), nullptr);
        shell_test_frame();
    }
}

TEST(Tabs, OpenedFilesAreTitledAndCurrentInOpeningOrder) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    open_tabs(tmp, 3);
    ASSERT_EQ(num_tabs(), 3u);
    for (u32 i = 0; i < 3; i++) EXPECT_EQ(tab_title(i), "f" + std::to_string(i) + ".txt");
    EXPECT_EQ(current_tab_index, 2u);
    EXPECT_EQ(current_file, tab_file(current_tab()));
    // An edit shows as "*" in front of the name.
    editor_insert_text(current_file, S("x"), true);
    shell_test_frame();
    EXPECT_EQ(tab_title(2), "*f2.txt");
}

TEST(Tabs, ClosingShowsTheTabLeftMostRecently) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    open_tabs(tmp, 4);
    // Visit 0, then 3, then 1: closing 1 goes back to 3, then to 0.
    u32 visits[] = {0, 3, 1};
    for (u32 v : visits) {
        set_current_tab(v, true);
        shell_test_clock += 1000;
    }
    u32 id_of_3 = tab_at(3)->id, id_of_0 = tab_at(0)->id;
    ASSERT_TRUE(close_tab(current_tab()));
    EXPECT_EQ(current_tab()->id, id_of_3);
    ASSERT_TRUE(close_tab(current_tab()));
    EXPECT_EQ(current_tab()->id, id_of_0);
    // Closing a tab that is not current keeps the current one.
    ASSERT_TRUE(close_tab(tab_at(1)));
    EXPECT_EQ(current_tab()->id, id_of_0);
    ASSERT_TRUE(close_tab(current_tab()));
    EXPECT_EQ(num_tabs(), 0u);
    EXPECT_EQ(current_file, nullptr);
}

TEST(Tabs, UnsavedWorkIsRefusedOnceThenDroppedWithinThreeSeconds) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    open_tabs(tmp, 2);
    Tab *tab = current_tab();
    u32 id = tab->id;
    // Saved work closes at once.
    EXPECT_TRUE(confirm_close_request(CLOSE_REQUEST_TAB, id, tab_has_unsaved_work(tab)));
    editor_insert_text(current_file, S("change"), true);
    struct Step { u64 wait; bool closes; } steps[] = {
        {0, false},        // first request: the notice
        {3000001, false},  // too late to count as the second: refused again
        {2900000, true},   // within three seconds of that (a frame passed): goes ahead
    };
    for (const Step &s : steps) {
        shell_test_clock += s.wait;
        bool closed = request_close_tab(find_tab_by_id(id));
        EXPECT_EQ(closed, s.closes) << s.wait;
        if (!closed) {
            shell_test_frame();
            String notice = close_notice_text();
            EXPECT_EQ(std::string((const char *)notice.data, (size_t)notice.count), "Unsaved changes: close again to discard");
        }
    }
    EXPECT_EQ(find_tab_by_id(id), nullptr);
    // The window's close button goes through the same guard.
    set_current_tab(0, true);
    editor_insert_text(current_file, S("more"), true);
    atomic_or(&global_flags, SHOULD_RUN);
    request_exit();
    EXPECT_TRUE(global_flags & SHOULD_RUN);
    shell_test_clock += 1000;
    request_exit();
    EXPECT_FALSE(global_flags & SHOULD_RUN);
    atomic_or(&global_flags, SHOULD_RUN);
}

TEST(Tabs, CommandsRunInQueueOrderAndUnknownIdsAreDropped) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    open_tabs(tmp, 2);
    u32 first = tab_at(0)->id;
    queue_switch_to_tab_command(9999);
    queue_switch_to_tab_command(first);
    File *fresh = add_a_file();
    queue_add_tab_command(TAB_FILE, fresh);
    shell_test_frame();
    EXPECT_EQ(editor_commands.count, 0u);
    ASSERT_EQ(num_tabs(), 3u);
    // The new tab goes right after the tab that was current: the first.
    EXPECT_EQ(current_tab_index, 1u);
    EXPECT_EQ(tab_file(current_tab()), fresh);
    EXPECT_EQ(tab_title(1), "*untitled");
}

TEST(Tabs, DraggingClampsToTheEndsAndRenumbers) {
    ASSERT_TRUE(shell_test_start());
    f32 w = 100, strip = 50;
    struct { f32 mouse, grab; u32 want; } cases[] = {
        {-500, 10, 0}, {strip + 10, 10, 0}, {strip + 103 + 10, 10, 1}, {strip + 2 * 103 + 60, 10, 3}, {5000, 10, 3},
    };
    for (auto &c : cases) EXPECT_EQ(tab_drag_target(c.mouse, c.grab, strip, w, 4), c.want) << c.mouse;
    Temp_Dir tmp;
    open_tabs(tmp, 3);
    u32 id = tab_at(0)->id;
    move_tab(0, 7);
    EXPECT_EQ(tab_at(2)->id, id);
    EXPECT_EQ(current_tab_index, 2u);
    for (u32 i = 0; i < 3; i++) {
        EXPECT_EQ(tab_at(i)->index, i);
        EXPECT_EQ(tab_at(i)->title.data, tab_at(i)->title_buffer);
    }
}

TEST(Tabs, NextTabIconWrapsToTheFirst) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    open_tabs(tmp, 3);
    ASSERT_EQ(current_tab_index, 2u);
    // Icons from the left: new, open, terminal, save, previous, next.
    f32 icon = (f32)icons_font_pool.size, gap = roundf(0.4f * (f32)ui_font_pool.size);
    f32 y = (top_bar_height() - icon) * 0.5f + icon * 0.5f;
    Vector2 next = {gap + 5 * (icon + gap) + icon * 0.5f, y};
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(next.x, next.y);
    push_mouse(MOUSE_LEFT_UP);
    shell_test_frame(next.x, next.y);
    EXPECT_EQ(current_tab_index, 0u);
}

TEST(Frame_Driver, FocusModeDrawsNoTopBar) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    open_tabs(tmp, 1);
    atomic_or(&global_flags, FOCUS_MODE);
    shell_test_frame();
    atomic_and(&global_flags, ~(u64)FOCUS_MODE);
    // Nothing in the bar's colour: the text fills the window.
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        bool bar_colour = q->colour.x == default_ui_theme[0].x && q->colour.y == default_ui_theme[0].y &&
                          q->colour.z == default_ui_theme[0].z && !(q->flags & QUAD_INSTANCE_GLYPH);
        EXPECT_FALSE(bar_colour) << i;
    }
}

TEST(Tabs, WhatIsNewOpensTheUpdateServersChangeLog) {
    struct { const char *server, *page; } cases[] = {
        {"updates.example.org", "https://updates.example.org/binaries/tarno/changelog.html"},
        {"http://127.0.0.1:8080/", "http://127.0.0.1:8080/binaries/tarno/changelog.html"},
        {"https://host/base", "https://host/base/binaries/tarno/changelog.html"},
        {"", ""},
    };
    for (auto &c : cases) {
        update_set_server_address(S(c.server));
        String page = update_change_log_address();
        EXPECT_EQ(std::string((const char *)page.data, (size_t)(page.count > 0 ? page.count : 0)), c.page) << c.server;
    }
    update_set_server_address(S(""));
}

// The "Update" button opens the update tab and starts its download; the tab
// shows what the downloader reports (here: no server, so it fails at once)
// and can be closed once the download has ended.
TEST(Tabs, UpdateButtonStartsTheDownloadTheTabShows) {
    ASSERT_TRUE(shell_test_start());
    update_set_server_address(S(""));
    Temp_Dir tmp;
    open_tabs(tmp, 1);
    atomic_or(&global_flags, UPDATE_IS_AVAILABLE);
    shell_test_frame();
    f32 gap = roundf(0.4f * (f32)ui_font_pool.size);
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(gap + 5, top_bar_height() * 0.5f);
    Tab *tab = current_tab();
    ASSERT_NE(tab, nullptr);
    ASSERT_EQ(tab->kind, TAB_UPDATE);
    u32 id = tab->id;
    Update_Download_Progress p = {};
    for (int i = 0; i < 500 && (!update_download_progress(id, &p) || p.state == UPDATE_DOWNLOADING); i++) usleep(10000);
    ASSERT_EQ(p.state, UPDATE_DOWNLOAD_FAILED);
    push_mouse(MOUSE_LEFT_UP);
    shell_test_frame();
    tab = find_tab_by_id(id);
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->download_state, DOWNLOAD_FAILED);
    EXPECT_TRUE(global_flags & UPDATE_IS_AVAILABLE); // the button comes back
    EXPECT_TRUE(close_tab(tab));
    atomic_and(&global_flags, ~(u64)UPDATE_IS_AVAILABLE);
}

TEST(Frame_Driver, FocusModeStillShowsTheUnsavedChangesNotice) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    open_tabs(tmp, 1);
    editor_insert_text(current_file, S("unsaved"), true);
    atomic_or(&global_flags, FOCUS_MODE);
    EXPECT_FALSE(request_close_tab(current_tab()));
    shell_test_frame();
    atomic_and(&global_flags, ~(u64)FOCUS_MODE);
    // The notice's text is drawn in the error colour at the window's top.
    u32 error_glyphs = 0;
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        if ((q->flags & QUAD_INSTANCE_GLYPH) && q->colour.x == ui_theme[6].x && q->colour.y == ui_theme[6].y &&
            q->colour.z == ui_theme[6].z)
            error_glyphs++;
    }
    EXPECT_GT(error_glyphs, 20u);
    EXPECT_EQ(num_tabs(), 1u);
}

// With more tabs than the strip holds it scrolls; labels scrolled out to the
// left must not draw over the six icons.
TEST(Tabs, ScrolledLabelsStayOutOfTheIcons) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    open_tabs(tmp, 14);
    shell_test_frame();
    ASSERT_GT(global_tabs_horizontal_offset_px, 0) << "the strip should have scrolled";
    f32 icon = (f32)icons_font_pool.size, gap = roundf(0.4f * (f32)ui_font_pool.size);
    f32 strip_x = gap + 6 * (icon + gap);
    u32 glyphs_left_of_strip = 0;
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        f32 left = q->position.x - q->scale.x;
        f32 top = renderer_info.height - (q->position.y + q->scale.y);
        if ((q->flags & QUAD_INSTANCE_GLYPH) && top < top_bar_height() && left < strip_x - 1) glyphs_left_of_strip++;
    }
    EXPECT_EQ(glyphs_left_of_strip, 6u); // the icons and nothing else
}
