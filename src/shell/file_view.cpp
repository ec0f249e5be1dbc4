// [SECTION] Themes
// [SECTION] View state and line cache
// [SECTION] Drawing
#include "shell/file_view.h"
#include "shell/view_colouring.h"
#include "shell/file_view_sideways.h"
#include "shell/globals.h"
#include "render/ui.h"
#include "render/window.h"
#include "text/file.h"
#include "text/lines.h"
#include "text/text_state.h"
#include "text/tokeniser.h"
#include "text/editing.h"
#include <math.h>
#include <stb/stb_sprintf.h>

// [SECTION] Themes

Colour ui_theme[9];
f32 ui_theme_roundness;
Colour text_theme[6];

void *theme_storage(u32 which) { return which == 0 ? (void *)ui_theme : which == 1 ? (void *)&ui_theme_roundness : (void *)text_theme; }

void reset_themes() {
    memcpy(ui_theme, default_ui_theme, sizeof ui_theme);
    ui_theme_roundness = default_ui_theme_float;
    memcpy(text_theme, default_text_theme, sizeof text_theme);
}

// [SECTION] View state and line cache

constexpr u32 VIEW_STATE_ELEMENTS = (sizeof(File_View_State) + 15) / 16;

File_View_State *file_view_state(File *file) {
    Dynamic_Array *a = &file->view_lines;
    if (a->element_size != 16) dynamic_array_init(a, 16);
    if (a->count < VIEW_STATE_ELEMENTS) {
        dynamic_array_reserve(a, VIEW_STATE_ELEMENTS);
        a->count = VIEW_STATE_ELEMENTS;
        memset(a->data, 0, VIEW_STATE_ELEMENTS * 16);
    }
    File_View_State *s = (File_View_State *)a->data;
    if (!s->ready) {
        s->ready = 1;
        s->top_line = 1;
        s->top_offset = 0;
        s->counted_data = nullptr;
        s->counted_length = ~0ull;
        s->last_cursor = ~0ull;
    }
    return s;
}

// Valid while the text is the one counted: load_file clears the view state
// word, a reload brings a new buffer, and edits keep the count in step
// through the text hooks below.
static bool line_cache_valid(File *file, File_View_State *s) {
    return *file->view_state == 1 && s->counted_data == file_text(file) && s->counted_length == file_length(file);
}

static void refresh_line_cache(File *file, File_View_State *s) {
    if (line_cache_valid(file, s)) return;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    s->top_line = 1;
    s->top_offset = 0;
    s->cursor_line = 0;
    s->anchor_line = 0;
    s->line_count = count_lines_in(text, length);
    s->counted_data = text;
    s->counted_length = length;
    *file->view_state = 1;
}

// Line breaks in [offset - 1, offset + count + 1): the bytes just outside a
// change are the same before and after it, so the difference of the two
// counts is the change in line breaks, CR LF pairs split or joined included.
static u64 breaks_around(File *file, u64 offset, u64 count) {
    u64 length = file_length(file);
    u64 a = offset > 0 ? offset - 1 : 0;
    u64 b = offset + count + 1 < length ? offset + count + 1 : length;
    if (b <= a) return 0;
    return count_lines_in(file_text(file) + a, b - a) - 1;
}

static bool pending_change;
static u64 pending_breaks, pending_count;

static void view_text_will_change(File *file, u64 offset, u64 count) {
    pending_change = false;
    if (file->view_lines.count < VIEW_STATE_ELEMENTS) return;
    File_View_State *s = file_view_state(file);
    view_anchor_will_change(file, s, offset, count);
    if (!line_cache_valid(file, s)) return;
    pending_breaks = breaks_around(file, offset, count);
    pending_count = count;
    pending_change = true;
}

static void view_text_did_change(File *file, u64 offset, u64 count) {
    if (file->view_lines.count < VIEW_STATE_ELEMENTS) return;
    File_View_State *s = file_view_state(file);
    if (!pending_change) {
        view_anchor_did_change(s, offset, count, 0, false);
        return;
    }
    pending_change = false;
    u64 now_breaks = breaks_around(file, offset, count);
    s64 line_delta = (s64)now_breaks - (s64)pending_breaks;
    view_anchor_did_change(s, offset, count, line_delta, true);
    s->line_count = (u64)((s64)s->line_count + line_delta);
    s->counted_data = file_text(file);
    s->counted_length = file_length(file);
    // Known line starts after the change move with the text; one inside it
    // (or right at it, where a CR LF could join) is dropped.
    if (offset + pending_count < s->top_offset) {
        s->top_offset = s->top_offset + count - pending_count;
        s->top_line = (u64)((s64)s->top_line + line_delta);
    } else if (offset <= s->top_offset) {
        s->top_line = 1;
        s->top_offset = 0;
    }
    if (offset < s->cursor_offset) s->cursor_line = 0;
}

void install_view_text_hooks() {
    text_hooks.text_will_change = view_text_will_change;
    text_hooks.text_did_change = view_text_did_change;
}

u64 file_view_line_count(File *file) {
    File_View_State *s = file_view_state(file);
    refresh_line_cache(file, s);
    return s->line_count;
}

// Start of the line before the one starting at `start` (> 0).
static u64 previous_line_start(const u8 *text, u64 start) {
    u64 b = start - 1;
    if (text[b] == '\n' && b > 0 && text[b - 1] == '\r') b--;
    return get_line_start(text, b);
}

u64 file_view_line_offset(File *file, u64 line) {
    File_View_State *s = file_view_state(file);
    refresh_line_cache(file, s);
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    if (line < 1) line = 1;
    if (line > s->line_count) line = s->line_count;
    // Near the cursor's line (after a jump), step from there instead.
    if (s->cursor_line != 0 && s->cursor_offset <= length) {
        u64 to_cursor = line > s->cursor_line ? line - s->cursor_line : s->cursor_line - line;
        u64 to_top = line > s->top_line ? line - s->top_line : s->top_line - line;
        if (to_cursor < to_top && to_cursor < 4096) {
            u64 start = get_line_start(text, s->cursor_offset);
            // The middle of a CR LF: the line starts after the pair.
            if (s->cursor_offset > 0 && start == s->cursor_offset && text[start - 1] == '\r' && start < length && text[start] == '\n')
                start = get_line_start(text, start - 1);
            s->top_line = s->cursor_line;
            s->top_offset = start;
        }
    }
    u64 offset;
    if (line >= s->top_line) {
        offset = s->top_offset + get_offset_at_line(text + s->top_offset, length - s->top_offset, line - s->top_line + 1);
    } else if (s->top_line - line < 4096) {
        offset = s->top_offset;
        for (u64 l = s->top_line; l > line; l--) offset = previous_line_start(text, offset);
    } else {
        offset = get_offset_at_line(text, length, line);
    }
    s->top_line = line;
    s->top_offset = offset;
    return offset;
}

static u64 distance(u64 a, u64 b) { return a > b ? a - b : b - a; }

// The cursor's line, counted from the nearest place whose line is known:
// where it was last frame, the cached line start, the text's start or its
// end (the line count), so a jump costs the distance, not the file.
static u64 cursor_line(File *file, File_View_State *s) {
    refresh_line_cache(file, s);
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    // Counting to the middle of a CR LF would count the CR as a break: such a
    // cursor is counted (and drawn) at its line's end.
    u64 c = view_cursor_position(file);
    u64 from_previous = s->cursor_line != 0 && s->cursor_offset <= length ? distance(c, s->cursor_offset) : ~0ull;
    u64 from_top = c >= s->top_offset ? c - s->top_offset : ~0ull;
    u64 from_end = length - c;
    u64 best = c; // from the start
    if (from_previous < best) best = from_previous;
    if (from_top < best) best = from_top;
    if (from_end < best) best = from_end;
    if (best == from_previous) {
        if (c >= s->cursor_offset) s->cursor_line += count_lines_in(text + s->cursor_offset, c - s->cursor_offset) - 1;
        else s->cursor_line -= count_lines_in(text + c, s->cursor_offset - c) - 1;
    } else if (best == from_top) {
        s->cursor_line = s->top_line + count_lines_in(text + s->top_offset, c - s->top_offset) - 1;
    } else if (best == from_end) {
        s->cursor_line = s->line_count - (count_lines_in(text + c, length - c) - 1);
    } else {
        s->cursor_line = count_lines_in(text, c);
    }
    s->cursor_offset = c;
    return s->cursor_line;
}

f64 centred_scroll(u64 line, f64 rows, u64 line_count) {
    f64 scroll = (f64)line - 1 - floor(rows * 0.5);
    f64 top = line_count > 0 ? (f64)(line_count - 1) : 0;
    if (scroll > top) scroll = top;
    return scroll < 0 ? 0 : scroll;
}

// [SECTION] Drawing

static Colour mix_alpha(Colour c, f32 a) { return Colour{c.x, c.y, c.z, c.w * a}; }

struct Line_Layout {
    f32 x;            // where the row's first drawn character goes
    f32 y;            // top of the row
    f32 height;
    f32 tab_multiplier;
    Vector2 clip_top_left, clip_bottom_right;
    bool reached_right; // some row ran past the right edge
};

// What a press or drag in the text resolves to.
struct Mouse_Target {
    bool active;      // a row was hit this frame
    u64 row;
    f32 x;
    u64 offset;       // result
    bool found;
};

// Draws one line from `start` (its start, or where sideways scrolling
// begins it); returns the offset just past its line break (or the text
// length). Glyphs past the right edge are not laid out.
static u64 draw_line(File *file, u64 start, Line_Layout *l, Font_Pool *pool, Mouse_Target *mouse, bool mouse_row,
                     bool show_cursor, bool need_end) {
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    u64 sel_start = *file->selection_start, sel_end = *file->selection_end;
    bool selecting = file_has_flags(file, FILE_SELECTION_ACTIVE) && sel_start != sel_end;
    Colour text_colour = text_theme[TEXT_THEME_TEXT];
    Colour_Cursor colours;
    colour_cursor_start(&colours, file, start);
    Text_Iterator it;
    init_text_iterator(&it, text + start, (s64)(length - start), pool, l->tab_multiplier);
    f32 pen = l->x;
    f32 right = l->clip_bottom_right.x;
    f32 ascent = pool->ranges[0].scaled_ascent;
    f32 baseline_shift = (l->height - (f32)pool->size) * 0.5f;
    u64 p = start;
    bool past_edge = false;
    f32 cursor_x = -1;
    while (p < length && text[p] != '\n' && text[p] != '\r') {
        if (past_edge) {
            // Nothing more to show on this row: jump to its end, when a row follows.
            l->reached_right = true;
            if (!need_end) return length + 1;
            p = view_line_end(text, length, p);
            break;
        }
        text_iterator_get_next(&it);
        u64 next = start + (u64)(it.next - (text + start));
        pen += it.kerning;
        f32 advance = it.advance;
        if (show_cursor && p == file->cursor) cursor_x = pen;
        if (mouse_row && !mouse->found && mouse->x < pen + advance * 0.5f) {
            mouse->offset = p;
            mouse->found = true;
        }
        if (pen < right && pen + advance > l->clip_top_left.x) {
            if (selecting && p >= sel_start && p < sel_end)
                draw_quad_scissored(Vector2{pen, l->y}, Vector2{advance, l->height}, text_theme[TEXT_THEME_SELECTION],
                                    l->clip_top_left, l->clip_bottom_right);
            colour_cursor_at(&colours, p);
            Colour c = colours.coloured ? Colour{colours.rgba[0], colours.rgba[1], colours.rgba[2], colours.rgba[3]} : text_colour;
            if (it.code_point != '\t' && it.code_point != ' ')
                draw_glyph_scissored(pen, l->y + baseline_shift, it.range ? it.range->scaled_ascent : ascent, it.glyph, c,
                                     l->clip_top_left, l->clip_bottom_right);
        }
        pen += advance;
        if (pen > right && !(mouse_row && !mouse->found)) past_edge = true;
        p = next;
    }
    u64 line_end = p;
    // A cursor between CR and LF shows at the line's end.
    bool cursor_at_end = file->cursor == line_end || (file->cursor == line_end + 1 && line_end + 1 < length &&
                                                       text[line_end] == '\r' && text[line_end + 1] == '\n');
    if (show_cursor && cursor_at_end) cursor_x = pen;
    if (mouse_row && !mouse->found) {
        mouse->offset = line_end; // beyond the last character: the line's end
        mouse->found = true;
    }
    if (selecting && line_end < length && line_end >= sel_start && line_end < sel_end)
        draw_quad_scissored(Vector2{pen, l->y}, Vector2{(f32)pool->size * 0.3f, l->height},
                            text_theme[TEXT_THEME_SELECTION], l->clip_top_left, l->clip_bottom_right);
    if (cursor_x >= 0) {
        f32 w = fmaxf(2.0f, roundf((f32)pool->size * 0.1f));
        draw_quad_scissored(Vector2{floorf(cursor_x), l->y}, Vector2{w, l->height}, text_theme[TEXT_THEME_CURSOR],
                            l->clip_top_left, l->clip_bottom_right);
    }
    if (line_end >= length) return length + 1; // no line follows
    return line_end + (text[line_end] == '\r' && line_end + 1 < length && text[line_end + 1] == '\n' ? 2 : 1);
}

static void place_cursor_from_mouse(File *file, u64 offset, bool set_anchor) {
    if (offset > file_length(file)) offset = file_length(file);
    file->previous_cursor = file->cursor;
    file->cursor = offset;
    if (set_anchor) file->selection_anchor = offset;
    file_update_selection_pointers(file);
    file_set_flags(file, FILE_CHANGED);
    editor_stamp_activity();
}

// The vertical bar: a track and a thumb the mouse can drag. Works in lines
// (64-bit) so a file of millions of lines still scrolls by single lines.
static void draw_scroll_bar(File_View_State *s, Vector2 top_left, Vector2 size, f64 rows, u64 line_count) {
    f64 total = (f64)line_count + rows - 1;
    if (rows >= total || size.y <= 0) {
        s->dragging_bar = 0;
        return;
    }
    f32 width = fmaxf(6.0f, roundf((f32)ui_font_pool.size * 0.5f));
    Vector2 bar = {top_left.x + size.x - width, top_left.y};
    f32 thumb_h = fmaxf((f32)(size.y * rows / total), SCROLL_BAR_MIN_THUMB);
    f32 travel = size.y - thumb_h;
    f64 top_scroll = total - rows;
    f32 thumb_y = bar.y + (f32)(top_scroll > 0 ? s->scroll / top_scroll : 0) * travel;
    bool over = ui_layer_is_focused() && ui_mouse_is_inside(Vector2{bar.x, thumb_y}, Vector2{width, thumb_h});
    if (s->dragging_bar) {
        if (!(ui_flags & UI_LEFT_BUTTON_HELD)) s->dragging_bar = 0;
        else if (travel > 0) {
            s->scroll = s->drag_scroll + (f64)(ui_mouse_position.y - s->drag_mouse_y) / travel * top_scroll;
            ui_do_not_stop_after_current_frame();
        }
    } else if (over && ui_consume_left_click()) {
        s->dragging_bar = 1;
        s->drag_scroll = s->scroll;
        s->drag_mouse_y = ui_mouse_position.y;
    }
    if (s->scroll > top_scroll) s->scroll = top_scroll;
    if (s->scroll < 0) s->scroll = 0;
    Vector2 clip_br = {top_left.x + size.x, top_left.y + size.y};
    draw_quad_scissored(bar, Vector2{width, size.y}, mix_alpha(text_theme[TEXT_THEME_TEXT], 0.06f), top_left, clip_br);
    Colour thumb = mix_alpha(text_theme[TEXT_THEME_TEXT], over || s->dragging_bar ? 0.45f : 0.25f);
    draw_quad_scissored(Vector2{bar.x, thumb_y}, Vector2{width, thumb_h}, thumb, top_left, clip_br);
}

// The frame's wheel, split: Shift + wheel (and a sideways wheel, which
// arrives as that) scrolls sideways. Nothing outside the focused layer.
static void wheel_amounts(f32 *down, f32 *sideways) {
    *down = *sideways = 0;
    if (!ui_layer_is_focused() || !ui_window) return;
    for (u32 i = 0; i < ui_window->num_events; i++) {
        Event *e = &ui_window->events[i];
        if (e->type != EVENT_SCROLL) continue;
        if (e->modifiers & MODIFIER_SHIFT) *sideways += e->amount;
        else *down += e->amount;
    }
}

// One column of the code font: what sideways steps are counted in.
static f32 column_width(Font_Pool *pool) {
    Font_Range *range;
    Glyph *g = get_or_add_glyph(pool, ' ', nullptr, &range);
    return g && g->advance > 0 ? g->advance : (f32)pool->size * 0.5f;
}

// Lines (or columns) a drag scrolls in `seconds` when the mouse is
// `outside` pixels past an edge, `unit` pixels a line (or column). Timed,
// so frames without vsync do not scroll faster.
static f64 drag_scroll_step(f32 outside, f32 unit, f64 seconds) {
    if (outside <= 0 || unit <= 0) return 0;
    return seconds * fmin(DRAG_SCROLL_PER_SECOND * (1.0 + (f64)(outside / unit)), DRAG_SCROLL_MAX_PER_SECOND);
}

void draw_file(Vector2 position, Vector2 size, File *file, Font_Pool *pool) {
    if (!file || size.x <= 0 || size.y <= 0) return;
    spin_lock(&file->lock);
    if (file_has_flags(file, FILE_CHANGED_ON_DISK) && !file_has_flags(file, FILE_DELETED_ON_DISK) &&
        !file_has_flags(file, FILE_UNSAVED)) {
        // Reloaded under the lock the reload takes itself.
        spin_unlock(&file->lock);
        reload_file(file);
        spin_lock(&file->lock);
    }
    File_View_State *s = file_view_state(file);
    bool one_line = file_has_flags(file, FILE_ONE_LINE);
    u64 line_count = file_view_line_count(file);
    f32 lh = pool->line_height > 0 ? ceilf(pool->line_height) : (f32)pool->size;
    Vector2 clip_tl = position, clip_br = {position.x + size.x, position.y + size.y};
    bool focused = ui_layer_is_focused();
    bool mouse_inside = ui_mouse_is_inside(position, size);
    if (mouse_inside && focused && !ui_cursor_was_set_this_frame) ui_set_cursor(CURSOR_TEXT, false);

    f64 rows = one_line ? 1 : (f64)size.y / lh;
    file->page_size_in_lines = (u32)ceil(rows);

    // Gutter for line numbers.
    f32 gutter = 0;
    char number[32];
    if (!one_line && (global_settings_flags & SETTINGS_SHOW_LINE_NUMBERS)) {
        int n = stbsp_snprintf(number, sizeof number, "%llu", (unsigned long long)line_count);
        gutter = ceilf(get_text_advance((const u8 *)number, n, pool, 1) + 0.2f * (f32)pool->size);
        gutter += ceilf(0.3f * (f32)pool->size); // room between the numbers and the text
    }

    // Scrolling: centring, the wheel, and keeping a moved cursor in view,
    // down and sideways.
    f32 tab_multiplier = (f32)global_num_visual_spaces_per_tab;
    Vector2 text_tl = {position.x + gutter, position.y};
    Vector2 text_size = {size.x - gutter, size.y};
    f32 text_pad = 0.15f * (f32)pool->size;
    f64 text_room = (f64)text_size.x - 2 * (f64)text_pad;
    if (!one_line) {
        bool centre = file_has_flags(file, FILE_CENTRE_CURSOR);
        bool moved = file->cursor != s->last_cursor && !file_has_flags(file, FILE_MOUSE_HELD);
        if (centre) {
            file_clear_flags(file, FILE_CENTRE_CURSOR);
            s->scroll = centred_scroll(cursor_line(file, s), rows, line_count);
            editor_stamp_activity();
        }
        if (mouse_inside) {
            f32 down = 0, sideways = 0;
            wheel_amounts(&down, &sideways);
            if (down != 0) {
                s->scroll += (f64)down / 100.0 * WHEEL_LINES_PER_NOTCH;
                editor_stamp_activity();
            }
            // Right only while some row goes on past the edge; left down to the start.
            if (sideways < 0 || (sideways > 0 && s->reached_right)) {
                s->scroll_x += (f64)sideways / 100.0 * WHEEL_COLUMNS_PER_NOTCH * (f64)column_width(pool);
                if (s->scroll_x < 0) s->scroll_x = 0;
                editor_stamp_activity();
            }
        }
        // A drag that leaves the text scrolls towards the mouse, faster the
        // farther out it is, so a selection can grow past what is shown.
        bool drag_scrolled = false;
        if (focused && file_has_flags(file, FILE_MOUSE_HELD) && (ui_flags & UI_LEFT_BUTTON_HELD)) {
            // The first frame out counts as one frame of a 60 Hz screen; a
            // stalled frame counts no more than 50 ms.
            u64 now = editor_now();
            u64 since = s->drag_scroll_time && now > s->drag_scroll_time ? now - s->drag_scroll_time : 16667;
            f64 seconds = (f64)(since < 50000 ? since : 50000) / 1e6;
            f32 above = position.y - ui_mouse_position.y, below = ui_mouse_position.y - (position.y + size.y);
            f64 down = drag_scroll_step(below, lh, seconds) - drag_scroll_step(above, lh, seconds);
            f32 left = text_tl.x - ui_mouse_position.x, right = ui_mouse_position.x - (text_tl.x + text_size.x);
            f32 cw = column_width(pool);
            f64 sideways = s->reached_right ? drag_scroll_step(right, cw, seconds) : 0;
            sideways -= drag_scroll_step(left, cw, seconds);
            if (down != 0 || sideways != 0) {
                s->scroll += down;
                s->scroll_x = fmax(0, s->scroll_x + sideways * (f64)cw);
                s->drag_scroll_time = now;
                drag_scrolled = true;
                ui_do_not_stop_after_current_frame();
                editor_stamp_activity();
            }
        }
        if (!drag_scrolled) s->drag_scroll_time = 0;
        if (moved && !centre) {
            f64 cursor_row = (f64)cursor_line(file, s) - 1;
            f64 full_rows = floor(rows);
            if (full_rows < 1) full_rows = 1;
            if (cursor_row < s->scroll) s->scroll = cursor_row;
            else if (cursor_row > s->scroll + full_rows - 1) s->scroll = cursor_row - full_rows + 1;
        }
        if (moved || centre) {
            // A few columns of room on either side of the cursor, where they fit.
            f64 x = view_cursor_x(file, s, pool, tab_multiplier, cursor_line(file, s));
            f64 margin = fmin(4 * (f64)column_width(pool), text_room * 0.25);
            if (x < s->scroll_x + margin) s->scroll_x = fmax(0, x - margin);
            else if (x > s->scroll_x + text_room - margin) s->scroll_x = x - text_room + margin;
        }
        s->last_cursor = file->cursor;
        f64 top = line_count > 0 ? (f64)(line_count - 1) : 0;
        if (s->scroll > top) s->scroll = top;
        if (s->scroll < 0) s->scroll = 0;
        draw_scroll_bar(s, position, size, rows, line_count);
    }

    u64 first_line = one_line ? 1 : (u64)floor(s->scroll) + 1;
    f32 fraction = one_line ? 0 : (f32)(s->scroll - floor(s->scroll));
    u64 num_rows = (u64)ceil(rows + fraction);
    u64 first_offset = file_view_line_offset(file, first_line);
    f64 h = one_line ? 0 : s->scroll_x;
    u64 line_of_cursor = cursor_line(file, s);
    if (h > 0 && s->anchor_line == 0) view_cursor_x(file, s, pool, tab_multiplier, line_of_cursor);
    f64 first_x;
    u64 first_from = view_row_start(file, s, first_line, first_offset, h, pool, tab_multiplier, &first_x);

    // Colouring covers the visible lines and a few below.
    {
        const u8 *text = file_text(file);
        u64 length = file_length(file);
        // A giant line is coloured only as far as a screen could reach from
        // its start: colouring from the middle of one would mean scanning
        // it from its start on every sideways step.
        u64 reach = (u64)(num_rows + 9) * 4096;
        u64 scan = length - first_offset < reach ? length - first_offset : reach;
        u64 end = first_offset + get_offset_at_line(text + first_offset, scan, num_rows + 1 + 8);
        view_colour_range(file, first_offset, end);
    }

    // Mouse: press, drag, double click.
    Mouse_Target mouse = {};
    bool release = !(ui_flags & UI_LEFT_BUTTON_HELD);
    if (release && file_has_flags(file, FILE_MOUSE_HELD)) {
        file_clear_flags(file, FILE_MOUSE_HELD);
        if (file->cursor == file->selection_anchor) file_clear_flags(file, FILE_SELECTION_ACTIVE);
    }
    bool pressed = false, double_clicked = false;
    if (focused && ui_mouse_is_inside(text_tl, text_size)) {
        double_clicked = ui_consume_double_click();
        if (!double_clicked) pressed = ui_consume_mouse_event(MOUSE_LEFT_DOWN);
        if (pressed) ui_do_not_stop_after_current_frame();
    }
    bool following = focused && file_has_flags(file, FILE_MOUSE_HELD) && !release;
    if (pressed || double_clicked || following) {
        f32 my = ui_mouse_position.y - position.y + fraction * lh;
        // Below the view the last row shown is the target, not the text's
        // end: the drag scrolls on from there.
        if (following && my > size.y - 1 + fraction * lh) my = size.y - 1 + fraction * lh;
        if (one_line) my = 0;
        mouse.active = true;
        mouse.row = my < 0 ? 0 : (u64)(my / lh);
        mouse.x = ui_mouse_position.x;
        if (following) ui_do_not_stop_after_current_frame();
    }

    // Rows.
    Line_Layout layout;
    layout.height = lh;
    layout.tab_multiplier = tab_multiplier;
    layout.clip_top_left = text_tl;
    layout.clip_bottom_right = clip_br;
    layout.reached_right = false;
    f32 y0 = one_line ? position.y + (size.y - lh) * 0.5f : position.y - fraction * lh;
    f32 text_x0 = text_tl.x + text_pad - (one_line ? s->horizontal_offset : 0);
    bool show_cursor = true;
    u64 offset = first_offset;
    u64 length = file_length(file);
    for (u64 row = 0; row < num_rows && offset <= length; row++) {
        layout.y = y0 + (f32)row * lh;
        u64 line = first_line + row;
        bool has_cursor = line == line_of_cursor;
        if (has_cursor && (global_settings_flags & SETTINGS_SHOW_CURRENT_LINE) && !one_line)
            draw_quad_scissored(Vector2{position.x, layout.y}, Vector2{size.x, lh}, text_theme[TEXT_THEME_CURRENT_LINE],
                                clip_tl, clip_br);
        if (gutter > 0) {
            int n = stbsp_snprintf(number, sizeof number, "%llu", (unsigned long long)line);
            Colour c = has_cursor ? text_theme[TEXT_THEME_TEXT] : text_theme[TEXT_THEME_LINE_NUMBERS];
            f32 right = position.x + gutter - ceilf(0.3f * (f32)pool->size);
            f32 w = get_text_advance((const u8 *)number, n, pool, 1);
            draw_text_scissored((const u8 *)number, n, pool, ANCHOR_TOP_LEFT, right - w,
                                layout.y + (lh - (f32)pool->size) * 0.5f, c, clip_tl, clip_br);
        }
        bool mouse_row = mouse.active && mouse.row == row;
        bool need_end = row + 1 < num_rows && line < line_count;
        f64 row_x = 0;
        u64 from = row == 0 ? first_from : view_row_start(file, s, line, offset, h, pool, tab_multiplier, &row_x);
        if (row == 0) row_x = first_x;
        layout.x = text_x0 + (f32)(row_x - h);
        offset = draw_line(file, from, &layout, pool, &mouse, mouse_row, show_cursor, need_end);
    }
    s->reached_right = layout.reached_right;
    if (mouse.active && !mouse.found) {
        mouse.offset = length; // below the last line
        mouse.found = true;
    }
    if (mouse.found) {
        if (double_clicked) {
            Editor_Token t;
            if (editor_get_token_at_offset(file, mouse.offset, &t) >= 0 && t.type != TOKEN_NONE) {
                file->selection_anchor = t.offset;
                place_cursor_from_mouse(file, t.offset + t.length, false);
                file_set_flags(file, FILE_SELECTION_ACTIVE);
            }
        } else if (pressed) {
            ui_flags |= UI_ANOTHER_FRAME;
            file_set_flags(file, FILE_MOUSE_HELD | FILE_SELECTION_ACTIVE);
            place_cursor_from_mouse(file, mouse.offset, !file_has_flags(file, FILE_NO_ANCHOR_ON_CLICK));
        } else if (following && mouse.offset != file->cursor) {
            place_cursor_from_mouse(file, mouse.offset, false);
        }
    }
    // One-line fields scroll sideways to keep the cursor in view.
    if (one_line) {
        const u8 *text = file_text(file);
        f32 cx = get_text_advance(text, (s64)file->cursor, pool, layout.tab_multiplier);
        f32 room = text_size.x - 0.3f * (f32)pool->size;
        if (cx - s->horizontal_offset > room) s->horizontal_offset = cx - room;
        if (cx < s->horizontal_offset) s->horizontal_offset = cx;
    }
    file_clear_flags(file, FILE_NO_ANCHOR_ON_CLICK | FILE_CHANGED);
    spin_unlock(&file->lock);
}
