// The file view in headless frames: centring, line numbers, scrolling,
// clicks, colouring runs, odd bytes and files changed on disk.
#include <gtest/gtest.h>
#include "shell_test_util.h"
#include "test_util.h"
#include "shell/tabs.h"
#include "shell/globals.h"
#include "shell/file_view.h"
#include "shell/file_view_sideways.h"
#include "shell/tab_strip.h"
#include "shell/custom_layer_events.h"
#include "render/ui.h"
#include "render/window.h"
#include "text/file.h"
#include "text/text_state.h"
#include "text/editing.h"
#include "text/lines.h"
#include "text/undo.h"
#include <math.h>
#include <vector>

static std::string numbered_lines(int n, int marked = -1) {
    std::string text;
    for (int i = 1; i <= n; i++) text += (i == marked ? "marked line" : "line") + std::string("\n");
    return text;
}

// Glyph quads of one code point in the code font, by their texture corner.
static std::vector<Quad_Instance *> quads_of(u32 code_point) {
    Font_Range *range;
    Glyph *g = get_or_add_glyph(&code_font_pool, code_point, nullptr, &range);
    std::vector<Quad_Instance *> out;
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        if ((q->flags & QUAD_INSTANCE_GLYPH) && g && q->texture_coords.x == g->s0 && q->texture_coords.y == g->t0)
            out.push_back(q);
    }
    return out;
}
static f32 quad_top(Quad_Instance *q) { return renderer_info.height - (q->position.y + q->scale.y); }
static f32 quad_left(Quad_Instance *q) { return q->position.x - q->scale.x; }
static f32 line_height() { return ceilf(code_font_pool.line_height); }

TEST(File_View, ALineFromTheCommandLineIsCentredAndNumbered) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    File *file = open_test_file(tmp.path, "lines.txt", numbered_lines(300, 120), 120);
    ASSERT_NE(file, nullptr);
    shell_test_frame();
    ASSERT_EQ(num_tabs(), 1u);
    EXPECT_EQ(tab_title(0), "lines.txt");
    EXPECT_EQ(tab_file(current_tab()), file);
    EXPECT_EQ(file->cursor, (u64)119 * 5);
    // The 'k' of "marked" is on line 120 only; its row is in the middle.
    std::vector<Quad_Instance *> k = quads_of('k');
    ASSERT_EQ(k.size(), 1u);
    f32 bar = top_bar_height();
    f32 middle = bar + (renderer_info.height - bar) / 2;
    EXPECT_NEAR(quad_top(k[0]), middle, 1.5f * line_height());
    // "120" in the gutter on that row, left of the text.
    std::vector<Quad_Instance *> zeros = quads_of('0');
    bool found = false;
    for (Quad_Instance *z : zeros)
        if (fabsf(quad_top(z) - quad_top(k[0])) < line_height() * 0.5f && quad_left(z) < quad_left(k[0])) found = true;
    EXPECT_TRUE(found) << "no line number on the cursor's row";
}

TEST(File_View, GutterWidthFollowsTheWidestLineNumber) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    f32 text_left[2];
    int counts[] = {9, 10};
    for (int i = 0; i < 2; i++) {
        std::string text;
        for (int l = 1; l <= counts[i]; l++) text += (l == 1 ? "W" : "") + std::string("\n");
        text.pop_back(); // 9 or 10 lines exactly
        ASSERT_NE(open_test_file(tmp.path, "g" + std::to_string(i), text), nullptr);
        shell_test_frame();
        std::vector<Quad_Instance *> w = quads_of('W');
        ASSERT_EQ(w.size(), 1u);
        text_left[i] = quad_left(w[0]);
    }
    EXPECT_GT(text_left[1], text_left[0] + 2);
}

static int syntax_runs;
static void count_syntax(File *) { syntax_runs++; }

TEST(File_View, WheelScrollsThreeLinesAndRecoloursOnlyWhenTheRangeMoves) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    File *file = open_test_file(tmp.path, "s.txt", numbered_lines(500));
    ASSERT_NE(file, nullptr);
    custom_layer_syntax_entry = count_syntax;
    shell_test_frame(400, 400);
    int after_open = syntax_runs;
    EXPECT_GE(after_open, 1);
    shell_test_frame(420, 410); // the mouse moves: nothing to re-colour
    EXPECT_EQ(syntax_runs, after_open);
    push_scroll(1);
    shell_test_frame(420, 410);
    EXPECT_EQ(syntax_runs, after_open + 1);
    EXPECT_DOUBLE_EQ(file_view_state(file)->scroll, 3.0);
    push_scroll(-5);
    shell_test_frame(420, 410);
    EXPECT_DOUBLE_EQ(file_view_state(file)->scroll, 0.0); // not above the first line
    custom_layer_syntax_entry = nullptr;
}

TEST(File_View, ClickPlacesTheCursorAndDoubleClickSelectsAWord) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    File *file = open_test_file(tmp.path, "c.txt", "alpha beta\ngamma delta\n");
    ASSERT_NE(file, nullptr);
    shell_test_frame();
    std::vector<Quad_Instance *> d = quads_of('d');
    ASSERT_EQ(d.size(), 1u);
    f32 x = quad_left(d[0]) - 1, y = quad_top(d[0]) + 2;
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(x, y);
    EXPECT_EQ(file->cursor, 17u); // just before "delta"
    // Far right of the first line: its end.
    push_mouse(MOUSE_LEFT_UP);
    shell_test_frame(x, y);
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(1200, y - line_height());
    EXPECT_EQ(file->cursor, 10u);
    push_mouse(MOUSE_LEFT_UP);
    shell_test_frame(1200, y - line_height());
    push_mouse(MOUSE_DOUBLE_CLICK);
    shell_test_frame(x + 3, y);
    EXPECT_EQ(*file->selection_start, 17u);
    EXPECT_EQ(*file->selection_end, 22u);
    EXPECT_TRUE(file_has_flags(file, FILE_SELECTION_ACTIVE));
}

TEST(File_View, TabsInvalidBytesAndNulAreDrawn) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    std::string bytes = std::string("\tQ\n    R\n\xff\xfe", 12) + std::string(1, '\0') + "Z\n";
    ASSERT_NE(open_test_file(tmp.path, "odd.bin", bytes), nullptr);
    shell_test_frame();
    std::vector<Quad_Instance *> q = quads_of('Q'), r = quads_of('R'), z = quads_of('Z'), bad = quads_of(0xFFFD);
    ASSERT_EQ(q.size(), 1u);
    ASSERT_EQ(r.size(), 1u);
    ASSERT_EQ(z.size(), 1u);
    // A tab is as wide as four spaces.
    EXPECT_NEAR(quad_left(q[0]) - quad_left(r[0]), 0, 1.0f);
    EXPECT_EQ(bad.size(), 2u); // one replacement glyph per invalid byte
}

TEST(File_View, ChangedOnDiskReloadsDeletedKeepsTheBuffer) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    File *file = open_test_file(tmp.path, "d.txt", "old\n");
    ASSERT_NE(file, nullptr);
    shell_test_frame();
    ASSERT_TRUE(write_whole_file(tmp.file("d.txt"), "new text\n"));
    file_set_flags(file, FILE_CHANGED_ON_DISK);
    shell_test_frame();
    EXPECT_EQ(std::string((const char *)file_text(file), file_length(file)), "new text\n");
    EXPECT_FALSE(file_has_flags(file, FILE_CHANGED_ON_DISK));
    // Changed on disk under unsaved edits: the edits are not thrown away.
    editor_insert_text_at(file, 0, S("mine "), false);
    ASSERT_TRUE(write_whole_file(tmp.file("d.txt"), "theirs\n"));
    file_set_flags(file, FILE_CHANGED_ON_DISK);
    shell_test_frame();
    EXPECT_EQ(std::string((const char *)file_text(file), file_length(file)), "mine new text\n");
    EXPECT_TRUE(file_has_flags(file, FILE_CHANGED_ON_DISK));
    editor_delete_at(file, 0, 5);
    file_clear_flags(file, FILE_CHANGED_ON_DISK);
    // Gone from disk: the text stays and the tab shows the state.
    unlink(tmp.file("d.txt").c_str());
    file_set_flags(file, FILE_DELETED_ON_DISK | FILE_CHANGED_ON_DISK);
    shell_test_frame();
    EXPECT_EQ(std::string((const char *)file_text(file), file_length(file)), "new text\n");
    EXPECT_TRUE(file_has_flags(file, FILE_DELETED_ON_DISK));
}

// Edits of every kind keep the view's line count and known line start equal
// to a fresh count of the text, CR LF pairs split and joined included.
TEST(File_View, LineCountFollowsEditsWithoutRecounting) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    File *file = open_test_file(tmp.path, "e.txt", "a\r\nb\rc\nd\r\n\r\ne");
    ASSERT_NE(file, nullptr);
    shell_test_frame();
    const char *pieces[] = {"\r", "\n", "\r\n", "x", "\n\r", "yy\rz"};
    u32 seed = 12345;
    for (int step = 0; step < 400; step++) {
        seed = seed * 1103515245 + 12345;
        u64 length = file_length(file);
        u64 at = length ? (seed >> 8) % (length + 1) : 0;
        switch ((seed >> 4) % 4) {
        case 0:
        case 1: editor_insert_text_at(file, at, S(pieces[(seed >> 20) % 6]), false); break;
        case 2: if (at < length) editor_delete_at(file, at, 1 + (seed >> 24) % 3 > length - at ? length - at : 1 + (seed >> 24) % 3); break;
        case 3: editor_undo_file(file); break;
        }
        u64 fresh = count_lines_in(file_text(file), file_length(file));
        ASSERT_EQ(file_view_line_count(file), fresh) << "step " << step;
        if (step % 40 == 0) shell_test_frame(); // the frames use the known line starts
        u64 line = 1 + (seed >> 3) % fresh;
        ASSERT_EQ(file_view_line_offset(file, line), get_offset_at_line(file_text(file), file_length(file), line))
            << "step " << step << " line " << line;
    }
}

// A line far wider than the window: the end comes into view when the cursor
// goes there, Shift + wheel scrolls back, and rows that end short of the
// scroll show nothing.
TEST(File_View, LongLinesScrollSidewaysWithTheCursorAndTheWheel) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    std::string line = std::string(400, 'a') + "Q" + std::string(400, 'b') + "K";
    File *file = open_test_file(tmp.path, "wide.txt", "short W\n" + line + "\nlast\n");
    ASSERT_NE(file, nullptr);
    shell_test_frame();
    EXPECT_EQ(quads_of('K').size(), 0u); // off to the right
    ASSERT_EQ(quads_of('W').size(), 1u);
    // To the line's end: K is drawn inside the window and the short line is gone.
    editor_set_cursor(file, 8 + line.size());
    shell_test_frame();
    std::vector<Quad_Instance *> k = quads_of('K');
    ASSERT_EQ(k.size(), 1u);
    EXPECT_GT(quad_left(k[0]), 0);
    EXPECT_LT(quad_left(k[0]), renderer_info.width);
    EXPECT_EQ(quads_of('W').size(), 0u);
    f64 scrolled = file_view_state(file)->scroll_x;
    EXPECT_GT(scrolled, 0);
    // Right again: nothing lies past the edge, so the wheel does nothing.
    window_push_event(EVENT_SCROLL, MODIFIER_SHIFT)->amount = 300;
    shell_test_frame(400, 400);
    EXPECT_DOUBLE_EQ(file_view_state(file)->scroll_x, scrolled);
    // Shift + wheel back left as far as it goes: the start shows again.
    window_push_event(EVENT_SCROLL, MODIFIER_SHIFT)->amount = -100000;
    shell_test_frame(400, 400);
    EXPECT_DOUBLE_EQ(file_view_state(file)->scroll_x, 0.0);
    EXPECT_EQ(quads_of('W').size(), 1u);
    EXPECT_EQ(quads_of('K').size(), 0u);
    // The plain wheel still scrolls down, not sideways.
    push_scroll(1);
    shell_test_frame(400, 400);
    EXPECT_DOUBLE_EQ(file_view_state(file)->scroll_x, 0.0);
    // A click where Q is drawn, once scrolled to it, lands on Q.
    editor_set_cursor(file, 8 + 400);
    shell_test_frame();
    std::vector<Quad_Instance *> q = quads_of('Q');
    ASSERT_EQ(q.size(), 1u);
    editor_set_cursor(file, 0);
    file_view_state(file)->last_cursor = 0; // keep the view where it is
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(quad_left(q[0]) + 1, quad_top(q[0]) + 2);
    EXPECT_EQ(file->cursor, 8u + 400);
}

// The sideways anchor is kept through edits instead of re-measuring the
// line: after any mix of edits its x must equal a fresh measurement.
TEST(File_View, SidewaysAnchorStaysExactThroughEdits) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    std::string text;
    for (int i = 0; i < 6; i++) text += std::string(300 + 50 * i, (char)('a' + i)) + (i % 2 ? "\r\n" : "\n");
    File *file = open_test_file(tmp.path, "anchor.txt", text);
    ASSERT_NE(file, nullptr);
    shell_test_frame();
    File_View_State *s = file_view_state(file);
    const char *pieces[] = {"x", "\t", "\xc3\xa9", "\n", "\r", "yz"};
    u32 seed = 99;
    for (int step = 0; step < 300; step++) {
        seed = seed * 1103515245 + 12345;
        u64 length = file_length(file);
        u64 at = (seed >> 8) % (length + 1);
        if ((seed >> 4) % 3 == 0 && at < length) editor_delete_at(file, at, 1);
        else if ((seed >> 4) % 3 == 1) editor_insert_text_at(file, at, S(pieces[(seed >> 20) % 6]), false);
        else editor_set_cursor(file, at);
        shell_test_frame();
        if (s->anchor_line == 0) continue;
        const u8 *t = file_text(file);
        ASSERT_EQ(s->anchor_line_start, get_line_start(t, s->anchor_line_start)) << "step " << step;
        ASSERT_EQ(s->anchor_line, editor_get_line_at_offset(file, s->anchor_line_start)) << "step " << step;
        f64 fresh = view_advance(t, s->anchor_line_start, s->anchor_offset, &code_font_pool,
                                 (f32)global_num_visual_spaces_per_tab);
        ASSERT_NEAR(s->anchor_x, fresh, 0.01) << "step " << step;
    }
}

// Between CR and LF the cursor is on its own line: the current line, the
// highlighted number and the cursor bar are all on that row.
TEST(File_View, CursorBetweenCrAndLfStaysOnItsLine) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    File *file = open_test_file(tmp.path, "crlf.txt", "one\r\ntwo\r\nthree\r\n");
    ASSERT_NE(file, nullptr);
    shell_test_frame();
    struct { u64 cursor; u64 line; } cases[] = {{3, 1}, {4, 1}, {5, 2}, {9, 2}, {10, 3}, {16, 3}, {17, 4}};
    for (auto &c : cases) {
        file->cursor = c.cursor; // the editor API may leave it there
        file->selection_anchor = c.cursor;
        file_update_selection_pointers(file);
        shell_test_frame();
        EXPECT_EQ(file_view_state(file)->cursor_line, c.line) << c.cursor;
        // The cursor bar: a quad in the cursor colour on that line's row.
        f32 row_top = -1;
        for (u32 i = 0; i < renderer_quad_instances.count; i++) {
            Quad_Instance *q = renderer_instance(i);
            Colour want = text_theme[TEXT_THEME_CURSOR];
            if (!(q->flags & QUAD_INSTANCE_GLYPH) && q->colour.x == want.x && q->colour.y == want.y && q->colour.z == want.z &&
                q->colour.w == want.w)
                row_top = quad_top(q);
        }
        ASSERT_GE(row_top, 0) << "no cursor drawn at " << c.cursor;
        f32 first_row = top_bar_height();
        EXPECT_NEAR(row_top, first_row + (f32)(c.line - 1) * line_height(), 1.0f) << c.cursor;
    }
}

// The measuring the sideways view relies on must add up exactly as a row is
// laid out when drawn (kerning and tabs included), on its ASCII table path
// and on the general one.
TEST(File_View, SidewaysMeasureMatchesTheLaidOutRow) {
    ASSERT_TRUE(shell_test_start());
    const char *texts[] = {"abc", "a\tb\t", "\t\tx", "AVAWATo.", "x = y->z; // c", "caf\xc3\xa9 r", "ab\x01" "cd", "", "WW  VV"};
    f32 tabs[] = {4, 2};
    for (f32 tab : tabs)
        for (const char *t : texts) {
            u64 n = strlen(t);
            Text_Iterator it;
            init_text_iterator(&it, (const u8 *)t, (s64)n, &code_font_pool, tab);
            f64 laid_out = 0;
            while (text_iterator_get_next(&it)) laid_out += (f64)it.kerning + (f64)it.advance;
            // Twice: the second time from the filled table.
            for (int pass = 0; pass < 2; pass++)
                EXPECT_DOUBLE_EQ(view_advance((const u8 *)t, 0, n, &code_font_pool, tab), laid_out) << t << " tab " << tab;
        }
}

// The cursor's line is counted from whichever known place is nearest (last
// frame's cursor, a cached line start, the start, the end): wherever it
// jumps, with edits in between, it is the line a full count gives.
TEST(File_View, CursorLineAfterJumpsAndEditsMatchesAFullCount) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    std::string text;
    const char *breaks[] = {"\n", "\r\n", "\r"};
    for (int i = 0; i < 3000; i++) text += "row " + std::to_string(i) + breaks[i % 3];
    File *file = open_test_file(tmp.path, "jumps.txt", text);
    ASSERT_NE(file, nullptr);
    shell_test_frame();
    u32 seed = 4242;
    for (int step = 0; step < 200; step++) {
        seed = seed * 1103515245 + 12345;
        u64 length = file_length(file);
        u64 to = (seed >> 4) % 4 == 0 ? length : (seed >> 4) % 4 == 1 ? 0 : (seed >> 8) % (length + 1);
        if ((seed >> 20) % 5 == 0) editor_insert_text_at(file, (seed >> 9) % (length + 1), S("\r\nx"), false);
        file->cursor = to > file_length(file) ? file_length(file) : to;
        file->selection_anchor = file->cursor;
        file_update_selection_pointers(file);
        shell_test_frame();
        ASSERT_EQ(file_view_state(file)->cursor_line, editor_get_line_at_offset(file, file->cursor)) << "step " << step;
    }
}

// A drag held past an edge keeps scrolling towards the mouse and the
// selection follows the last row shown (not the text's end); back past the
// top edge it scrolls up again. Released, nothing moves.
TEST(File_View, DragPastAnEdgeScrollsAndSelects) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    File *file = open_test_file(tmp.path, "drag.txt", numbered_lines(2000));
    ASSERT_NE(file, nullptr);
    shell_test_frame();
    File_View_State *s = file_view_state(file);
    f32 top = top_bar_height() + 2 * line_height();
    push_mouse(MOUSE_LEFT_DOWN);
    shell_test_frame(200, top);
    u64 anchor = file->cursor;
    ASSERT_EQ(anchor / 5, 2u); // on line 3
    struct Step { f32 mouse_y; int frames; int direction; } steps[] = {
        {(f32)renderer_info.height + 10, 10, +1},      // just below: slowly down
        {(f32)renderer_info.height + 400, 10, +1},     // far below: faster
        {top_bar_height() - 200, 10, -1},              // far above: back up
    };
    f64 last_step = 0;
    for (const Step &step : steps) {
        f64 before = s->scroll;
        for (int i = 0; i < step.frames; i++) shell_test_frame(200, step.mouse_y);
        f64 moved = (s->scroll - before) * step.direction;
        EXPECT_GT(moved, 0) << step.mouse_y;
        if (step.direction > 0) {
            EXPECT_GT(moved, last_step) << "farther out scrolls faster";
            last_step = moved;
            // The cursor is on the last row shown, far from the text's end.
            f64 line = (f64)(file->cursor / 5 + 1);
            EXPECT_NEAR(line, s->scroll + (renderer_info.height - top_bar_height()) / line_height(), 2.0);
        }
        EXPECT_EQ(file->selection_anchor, anchor);
    }
    push_mouse(MOUSE_LEFT_UP);
    shell_test_frame(200, (f32)renderer_info.height + 400);
    f64 released = s->scroll;
    shell_test_frame(200, (f32)renderer_info.height + 400);
    EXPECT_DOUBLE_EQ(s->scroll, released);
    EXPECT_TRUE(file_has_flags(file, FILE_SELECTION_ACTIVE));
}
