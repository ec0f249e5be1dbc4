#include "shell/file_view_sideways.h"
#include "shell/file_view.h"
#include "render/fonts.h"
#include "text/file.h"
#include "text/lines.h"
#include <math.h>

// Printable ASCII and tabs, the bulk of code, measured from a table of
// pair steps (kerning with the previous character plus the advance) filled
// from the same glyphs the text iterator uses: the same sums, without
// decoding and looking up every character. Index 95 stands for a tab.
struct Ascii_Steps {
    Font_Pool *pool;
    u32 size;
    f32 tab;
    f32 scale, line_height; // another font at the same size changes these
    f64 first[96];
    f64 step[96][96];
};
static Ascii_Steps ascii_steps;

static u32 ascii_index(u8 c) { return c == '\t' ? 95 : (u32)c - 32; }

static Glyph *ascii_glyph(Font_Pool *pool, u32 index, Font_Range **range) {
    return get_or_add_glyph(pool, index == 95 ? ' ' : index + 32, &pool->ranges[0], range);
}

// False when some character is not printable ASCII or a tab, or the pool
// does not serve ASCII from its first range: the iterator measures those.
static bool ascii_advance(const u8 *text, u64 from, u64 to, Font_Pool *pool, f32 tab, f64 *out) {
    if (pool->num_ranges == 0 || pool->ranges[0].first > 32 || pool->ranges[0].last < 127) return false;
    for (u64 i = from; i < to; i++)
        if ((text[i] < 32 || text[i] > 126) && text[i] != '\t') return false;
    Ascii_Steps *a = &ascii_steps;
    if (a->pool != pool || a->size != pool->size || a->tab != tab || a->scale != pool->ranges[0].scale ||
        a->line_height != pool->line_height) {
        a->pool = pool;
        a->size = pool->size;
        a->tab = tab;
        a->scale = pool->ranges[0].scale;
        a->line_height = pool->line_height;
        for (u32 i = 0; i < 96; i++) a->first[i] = NAN;
        for (u32 i = 0; i < 96 * 96; i++) (&a->step[0][0])[i] = NAN;
    }
    Font_Range *r0 = &pool->ranges[0];
    f64 x = 0;
    u32 previous = 96;
    for (u64 i = from; i < to; i++) {
        u32 c = ascii_index(text[i]);
        f64 *slot = previous == 96 ? &a->first[c] : &a->step[previous][c];
        if (isnan(*slot)) {
            Font_Range *range;
            Glyph *g = ascii_glyph(pool, c, &range);
            if (!g || range != r0) return false;
            // Summed as the iterator's user sums: kerning, then the advance.
            f32 advance = (c == 95 ? tab : 1) * g->advance;
            f32 kerning = 0;
            if (previous != 96) {
                Glyph *p = ascii_glyph(pool, previous, &range);
                if (p) kerning = font_range_get_kerning(r0, p, g);
            }
            *slot = (f64)kerning + (f64)advance;
        }
        x += *slot;
        previous = c;
    }
    *out = x;
    return true;
}

f64 view_advance(const u8 *text, u64 from, u64 to, Font_Pool *pool, f32 tab_multiplier) {
    if (to <= from) return 0;
    f64 fast;
    if (ascii_advance(text, from, to, pool, tab_multiplier, &fast)) return fast;
    Text_Iterator it;
    init_text_iterator(&it, text + from, (s64)(to - from), pool, tab_multiplier);
    f64 x = 0;
    while (text_iterator_get_next(&it)) x += (f64)it.kerning + (f64)it.advance;
    return x;
}

static bool in_middle_of_crlf(const u8 *text, u64 length, u64 offset) {
    return offset > 0 && offset < length && text[offset - 1] == '\r' && text[offset] == '\n';
}

u64 view_cursor_position(File *file) {
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    u64 c = file->cursor > length ? length : file->cursor;
    return in_middle_of_crlf(text, length, c) ? c - 1 : c;
}

u64 view_line_end(const u8 *text, u64 length, u64 offset) {
    if (offset >= length) return length;
    // Just past the next break, by the block scanner; then back over it.
    u64 next = offset + get_offset_at_line(text + offset, length - offset, 2);
    if (next == offset || next > length) return length;
    u8 last = text[next - 1];
    if (last != '\n' && last != '\r') return length; // no break: the text's end
    if (last == '\n' && next - 1 > offset && text[next - 2] == '\r') return next - 2;
    return next - 1;
}

static bool anchor_usable(File_View_State *s, u64 line, Font_Pool *pool, f32 tab, u64 length) {
    return s->anchor_line != 0 && s->anchor_line == line && s->anchor_pool == pool && s->anchor_font_size == pool->size &&
           s->anchor_tab == tab && s->anchor_offset <= length && s->anchor_line_start <= s->anchor_offset;
}

f64 view_cursor_x(File *file, File_View_State *s, Font_Pool *pool, f32 tab, u64 line) {
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    u64 c = view_cursor_position(file);
    u64 line_start;
    f64 x;
    if (anchor_usable(s, line, pool, tab, length)) {
        line_start = s->anchor_line_start;
        x = c >= s->anchor_offset ? s->anchor_x + view_advance(text, s->anchor_offset, c, pool, tab)
                                  : s->anchor_x - view_advance(text, c, s->anchor_offset, pool, tab);
    } else {
        line_start = get_line_start(text, c);
        x = view_advance(text, line_start, c, pool, tab);
    }
    s->anchor_line = line;
    s->anchor_line_start = line_start;
    s->anchor_offset = c;
    s->anchor_x = x;
    s->anchor_pool = pool;
    s->anchor_font_size = pool->size;
    s->anchor_tab = tab;
    return x;
}

// Forwards from `from` (at `x`): stops at the first character whose right
// edge passes `h`, or at the line's end.
static u64 skip_right(const u8 *text, u64 length, u64 from, f64 x, f64 h, Font_Pool *pool, f32 tab, f64 *out_x) {
    Text_Iterator it;
    init_text_iterator(&it, text + from, (s64)(length - from), pool, tab);
    u64 p = from;
    while (p < length && text[p] != '\n' && text[p] != '\r') {
        text_iterator_get_next(&it);
        f64 next_x = x + (f64)it.kerning + (f64)it.advance;
        if (next_x > h) break;
        x = next_x;
        p = from + (u64)(it.next - (text + from));
    }
    *out_x = x;
    return p;
}

// Backwards from `from` (at `x`) one character at a time until the
// character's left edge is at or left of `h`.
static u64 skip_left(const u8 *text, u64 line_start, u64 from, f64 x, f64 h, Font_Pool *pool, f32 tab, f64 *out_x) {
    u64 p = from;
    while (p > line_start && x > h) {
        u64 q = p - 1;
        while (q > line_start && (text[q] & 0xC0) == 0x80 && p - q < 4) q--;
        x -= view_advance(text, q, p, pool, tab);
        p = q;
    }
    if (p == line_start) x = 0; // rounding must not leave the line's start off zero
    *out_x = x;
    return p;
}

u64 view_row_start(File *file, File_View_State *s, u64 line, u64 line_start, f64 h, Font_Pool *pool, f32 tab,
                   f64 *out_x) {
    *out_x = 0;
    if (h <= 0) return line_start;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    if (anchor_usable(s, line, pool, tab, length) && s->anchor_line_start == line_start) {
        if (s->anchor_x > h) return skip_left(text, line_start, s->anchor_offset, s->anchor_x, h, pool, tab, out_x);
        return skip_right(text, length, s->anchor_offset, s->anchor_x, h, pool, tab, out_x);
    }
    return skip_right(text, length, line_start, 0, h, pool, tab, out_x);
}

void view_anchor_will_change(File *file, File_View_State *s, u64 offset, u64 count) {
    s->anchor_shift = 0;
    if (s->anchor_line == 0) return;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    if (offset + count < s->anchor_line_start) {
        s->anchor_shift = 1;
        s->anchor_pending_count = count;
        return;
    }
    if (offset > s->anchor_offset) return; // after the anchor: nothing it depends on
    bool same_line = offset >= s->anchor_line_start && s->anchor_offset <= length && s->anchor_pool &&
                     s->anchor_pool->size == s->anchor_font_size && !(offset > 0 && text[offset - 1] == '\r');
    if (!same_line) {
        s->anchor_line = 0;
        return;
    }
    // The bytes before `offset` stay as they are, so its x does too.
    s->anchor_x -= view_advance(text, offset, s->anchor_offset, s->anchor_pool, s->anchor_tab);
    s->anchor_offset = offset;
}

void view_anchor_did_change(File_View_State *s, u64 offset, u64 count, s64 line_delta, bool line_delta_known) {
    (void)offset;
    if (!s->anchor_shift) return;
    s->anchor_shift = 0;
    if (!line_delta_known) {
        s->anchor_line = 0;
        return;
    }
    s64 delta = (s64)count - (s64)s->anchor_pending_count;
    s->anchor_line_start = (u64)((s64)s->anchor_line_start + delta);
    s->anchor_offset = (u64)((s64)s->anchor_offset + delta);
    s->anchor_line = (u64)((s64)s->anchor_line + line_delta);
}
