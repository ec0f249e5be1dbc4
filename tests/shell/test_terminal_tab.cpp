// Terminal tabs and the search lister inside headless shell frames: what the
// user sees is checked on the quads the frame produced.
#include <gtest/gtest.h>
#include <unistd.h>
#include <vector>
#include "shell_test_util.h"
#include "test_util.h"
#include "shell/file_view.h"
#include "shell/globals.h"
#include "shell/search.h"
#include "shell/tabs.h"
#include "shell/terminal.h"
#include "render/fonts.h"
#include "render/renderer.h"
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
