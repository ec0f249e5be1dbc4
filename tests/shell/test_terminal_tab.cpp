// Terminal tabs and the search lister inside headless shell frames: what the
// user sees is checked on the quads the frame produced.
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>
#include <math.h>
#include <string>
#include "shell_test_util.h"
#include "test_util.h"
#include "shell/file_lister.h"
#include "shell/file_view.h"
#include "shell/globals.h"
#include "shell/search.h"
#include "shell/tabs.h"
#include "shell/tab_strip.h"
#include "shell/terminal.h"
#include "render/fonts.h"
#include "render/icons.h"
#include "render/renderer.h"
#include "render/window.h"
#include <sys/stat.h>
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"

static std::vector<Quad_Instance *> glyph_quads(Font_Pool *pool, u32 code_point) {
    Font_Range *range;
    Glyph *g = get_or_add_glyph(pool, code_point, nullptr, &range);
    std::vector<Quad_Instance *> out;
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        if ((q->flags & QUAD_INSTANCE_GLYPH) && g && q->texture_coords.x == g->s0 && q->texture_coords.y == g->t0)
            out.push_back(q);
    }
    return out;
}

static bool near(f32 a, f32 b) { return a > b - 0.02f && a < b + 0.02f; }

TEST(Terminal_Tab, ColouredOutputIsDrawnInItsColours) {
    ASSERT_TRUE(shell_test_start());
    text_hooks.make_a_new_terminal();
    Tab *tab = current_tab();
    ASSERT_TRUE(tab && tab->kind == TAB_TERMINAL);
    text_hooks.run_terminal_command(S("printf '\\033[31mQQQQ\\033[0m WWW\\n'"));
    Terminal *terminal = (Terminal *)current_tab()->content;
    Terminal_Result *r = terminal->current_result;
    ASSERT_TRUE(r);
    for (int i = 0; i < 10000 && (__atomic_load_n(&r->flags, __ATOMIC_SEQ_CST) & RESULT_RUNNING); i++) usleep(1000);
    shell_test_frame();
    std::vector<Quad_Instance *> q = glyph_quads(&code_font_pool, 'Q');
    int dark_red = 0;
    for (Quad_Instance *g : q) dark_red += near(g->colour.x, 0.5f) && near(g->colour.y, 0) && near(g->colour.z, 0);
    EXPECT_GE(dark_red, 4) << "of " << q.size() << " Q glyphs";
    int white = 0;
    for (Quad_Instance *g : glyph_quads(&code_font_pool, 'W')) white += near(g->colour.x, 1) && near(g->colour.y, 1);
    EXPECT_GE(white, 3);
    EXPECT_EQ(std::string((char *)current_tab()->title.data, current_tab()->title.count).substr(0, 9), "printf | ");
    close_tab(current_tab()); // kills and frees the terminal
    EXPECT_FALSE(terminal->flags & TERMINAL_IN_USE);
}

// The history's scroll bar: a press on the track above the thumb pages
// back, the thumb drags to either end, and a short history has no bar.
TEST(Terminal_Tab, ScrollBarPagesAndDrags) {
    ASSERT_TRUE(shell_test_start());
    text_hooks.make_a_new_terminal();
    Terminal *terminal = (Terminal *)current_tab()->content;
    Terminal_Result *r = add_a_terminal_result(terminal, S("lines"));
    std::string text;
    for (int i = 0; i < 500; i++) text += "line " + std::to_string(i) + "\n";
    terminal_result_append_output(r, (const u8 *)text.data(), text.size());
    shell_test_frame();
    const Terminal_View *view = &terminal->view;
    ASSERT_GT(view->total_lines, (u64)view->num_lines);
    u64 most = view->total_lines - view->num_lines;
    f32 right = (f32)renderer_info.width - 2, top = top_bar_height() + 3;
    f32 bottom = (f32)renderer_info.height - (ceilf(code_font_pool.line_height) + 8) - 3;
    struct Step { u8 mouse; f32 y; u64 scroll_up; } steps[] = {
        {MOUSE_LEFT_DOWN, top, view->num_lines},  // the track above the thumb: a page back
        {MOUSE_LEFT_UP, top, view->num_lines},
        {MOUSE_LEFT_DOWN, top, 2 * (u64)view->num_lines},
        {MOUSE_LEFT_UP, top, 2 * (u64)view->num_lines},
    };
    for (const Step &step : steps) {
        push_mouse(step.mouse);
        shell_test_frame(right, step.y);
        EXPECT_EQ(view->scroll_up, step.scroll_up) << step.y;
    }
    // Back at the bottom the thumb is at the track's foot; dragged far up it
    // shows the first line, far down the newest.
    terminal_view_scroll(terminal, -(s64)most);
    shell_test_frame();
    ASSERT_EQ(view->scroll_up, 0u);
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(right, bottom);
    shell_test_frame(right, -2000);
    EXPECT_EQ(view->scroll_up, most);
    shell_test_frame(right, 5000);
    EXPECT_EQ(view->scroll_up, 0u);
    push_mouse(MOUSE_LEFT_UP);
    shell_test_frame(right, 5000);
    EXPECT_FALSE(view->dragging_bar);
    // A history that fits has no bar: a press there scrolls nothing.
    clear_terminal_history(terminal);
    shell_test_frame();
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(right, top);
    EXPECT_EQ(view->scroll_up, 0u);
    EXPECT_EQ(terminal_scroll_bar(view, 400).thumb_height, 0.0f);
    close_tab(current_tab());
}

TEST(Search_Lister_Panel, MatchesAreListedWithTheMatchHighlighted) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir dir;
    open_test_file(dir.path, "a.txt", "alpha ZZZ beta\nnothing\nZZZ again\n");
    shell_test_frame();
    text_hooks.search_file();
    ASSERT_TRUE(global_flags & SHOW_SEARCH_LISTER);
    ASSERT_EQ(current_file, global_search_lister.search_text);
    editor_insert_text(current_file, S("ZZZ"), true);
    shell_test_frame(); // the changed text starts the search
    for (int i = 0; i < 10000 && !global_search_lister.complete; i++) usleep(1000);
    EXPECT_EQ(get_num_items_in_search_lister(), 2u);
    global_lister_animation_factor = 1; // slid in (the test clock does not move)
    shell_test_frame();
    int highlighted = 0;
    for (Quad_Instance *g : glyph_quads(&code_font_pool, 'Z'))
        highlighted += near(g->colour.x, ui_theme[6].x) && near(g->colour.y, ui_theme[6].y) && near(g->colour.z, ui_theme[6].z);
    EXPECT_GE(highlighted, 6); // both matches, three letters each
    text_hooks.go_to_next_item();
    text_hooks.select_item_from_lister();
    EXPECT_FALSE(global_flags & SHOW_SEARCH_LISTER);
    ASSERT_TRUE(current_file);
    EXPECT_EQ(current_file->cursor, 23u);
}

// [SECTION] Lister panels: icons, scrolling, the mouse, the flat-view box

// The highlighted row's bar (top-down y and height), or height 0 when none is drawn.
struct Bar { f32 top, height; };
static Bar highlight_bar() {
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        if (q->flags & QUAD_INSTANCE_GLYPH || q->scale.x < 100) continue;
        if (near(q->colour.x, ui_theme[4].x) && near(q->colour.y, ui_theme[4].y) && near(q->colour.z, ui_theme[4].z))
            return Bar{(f32)window.height - q->position.y - q->scale.y, 2 * q->scale.y};
    }
    return Bar{0, 0};
}

struct Lister_Panel_Test : ::testing::Test {
    Temp_Dir dir;
    void SetUp() override {
        ASSERT_TRUE(shell_test_start());
        mkdir(dir.file("folder").c_str(), 0700);
        write_whole_file(dir.file("folder/inner.txt"), "x");
        for (int i = 0; i < 80; i++) write_whole_file(dir.file("n" + std::to_string(100 + i) + ".txt"), "x");
        write_whole_file(dir.file("a_photo.jpeg"), "x"); // listed near the top, so on screen
        write_whole_file(dir.file("a_tune.flac"), "x");
        open_test_file(dir.path, "a.txt", "text\n");
        shell_test_frame();
    }
    void open_lister() {
        text_hooks.ask_to_open_file();
        ASSERT_TRUE(global_flags & SHOW_FILE_LISTER);
        file_lister_wait();
        global_lister_animation_factor = 1;
        shell_test_frame(); // the animation factor settles on this frame
        global_lister_animation_factor = 1;
        shell_test_frame();
    }
    u32 index_of(const std::string &name) {
        for (u32 i = 0; i < global_file_lister.num_items; i++)
            if (std::string((char *)file_lister_get_item(i)->name.data, file_lister_get_item(i)->name.count) == name) return i;
        return ~0u;
    }
};

TEST_F(Lister_Panel_Test, ItemsCarryTheirIconsAndTheListScrollsToTheHighlight) {
    open_lister();
    ASSERT_EQ(global_file_lister.num_items, 84u);
    struct Case { u32 icon; const char *what; } cases[] = {
        {ICON_FOLDER, "the folder"}, {ICON_PICTURE, "a_photo.jpeg"}, {ICON_AUDIO, "a_tune.flac"}, {ICON_FILE, "the text files"},
    };
    for (const Case &c : cases) EXPECT_FALSE(glyph_quads(&icons_font_pool, c.icon).empty()) << c.what;
    Bar first = highlight_bar();
    ASSERT_GT(first.height, 0);
    // Far down the list the highlight stays on screen: the list scrolled.
    for (int i = 0; i < 70; i++) text_hooks.go_to_next_item();
    shell_test_frame();
    Bar moved = highlight_bar();
    ASSERT_GT(moved.height, 0) << "the highlighted row scrolled out of view";
    EXPECT_LE(moved.top + moved.height, (f32)window.height * 0.9f + 1);
    EXPECT_GT(moved.top, first.top);
    // The wheel scrolls the rows (the highlight with them) without moving the highlight.
    push_scroll(2);
    shell_test_frame((f32)window.width / 2, moved.top);
    Bar wheeled = highlight_bar();
    EXPECT_EQ(global_file_lister.current_item, 70u);
    EXPECT_NEAR(wheeled.top, moved.top - 6 * moved.height, 1); // three rows a notch
}

TEST_F(Lister_Panel_Test, AClickHighlightsARowAndADoubleClickChoosesIt) {
    open_lister();
    Bar bar = highlight_bar();
    ASSERT_GT(bar.height, 0);
    u32 target = index_of("n105.txt");
    ASSERT_NE(target, ~0u);
    f32 x = (f32)window.width / 2, y = bar.top + bar.height * ((f32)target + 0.5f);
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(x, y);
    EXPECT_EQ(global_file_lister.current_item, target);
    EXPECT_TRUE(global_flags & SHOW_FILE_LISTER) << "a single click chose the row";
    push_mouse(MOUSE_LEFT_DOWN);
    push_mouse(MOUSE_DOUBLE_CLICK);
    shell_test_frame(x, y);
    EXPECT_FALSE(global_flags & SHOW_FILE_LISTER);
    shell_test_frame(); // the new tab is added by the queued command
    ASSERT_TRUE(current_file);
    EXPECT_EQ(std::string((char *)current_file->name.data, current_file->name.count), "n105.txt");
}

TEST_F(Lister_Panel_Test, FlatViewBoxListsTheTreeAndIsOfferedOnlyWhereConfigured) {
    file_lister_flat_view_directories.count = 0;
    open_lister();
    EXPECT_TRUE(glyph_quads(&icons_font_pool, ICON_CHECK_BOX_ON).empty()) << "offered outside the configured directories";
    EXPECT_EQ(index_of("folder/inner.txt"), ~0u);
    text_hooks.close_lister();
    file_lister_add_flat_view_directory(S(dir.path.c_str()));
    open_lister();
    std::vector<Quad_Instance *> box = glyph_quads(&icons_font_pool, ICON_CHECK_BOX_ON);
    ASSERT_EQ(box.size(), 1u) << "flat view is on when the lister opens";
    EXPECT_NE(index_of("folder/inner.txt"), ~0u);
    // A click on the box turns it off: the listing goes back to this directory only.
    f32 bx = box[0]->position.x, by = (f32)window.height - box[0]->position.y;
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(bx, by);
    EXPECT_FALSE(global_file_lister.listing_flags & FILE_LISTER_FLAT_VIEW);
    shell_test_frame();
    file_lister_wait();
    shell_test_frame();
    EXPECT_EQ(index_of("folder/inner.txt"), ~0u);
    EXPECT_NE(index_of("folder"), ~0u);
    EXPECT_FALSE(glyph_quads(&icons_font_pool, ICON_CHECK_BOX_OFF).empty() &&
                 glyph_quads(&icons_font_pool, ICON_CHECK_BOX_OFF_HOVER).empty());
    file_lister_flat_view_directories.count = 0;
}
