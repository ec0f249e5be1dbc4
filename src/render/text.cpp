// Walking UTF-8 text glyph by glyph: measuring it and drawing it as glyph
// quads.
#include "render/fonts.h"
#include <math.h>

// Decodes one character; an invalid or cut-off sequence gives U+FFFD and a
// one-byte step, so any bytes can be drawn.
static u32 decode_utf8(const u8 *p, const u8 *end, u32 *out_size) {
    u8 b = p[0];
    u32 size, cp, minimum;
    if (b < 0x80) {
        *out_size = 1;
        return b;
    } else if ((b & 0xE0) == 0xC0) {
        size = 2, cp = b & 0x1F, minimum = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        size = 3, cp = b & 0x0F, minimum = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        size = 4, cp = b & 0x07, minimum = 0x10000;
    } else {
        *out_size = 1;
        return 0xFFFD;
    }
    if (end - p < (s64)size) {
        *out_size = 1;
        return 0xFFFD;
    }
    for (u32 i = 1; i < size; i++) {
        if ((p[i] & 0xC0) != 0x80) {
            *out_size = 1;
            return 0xFFFD;
        }
        cp = cp << 6 | (p[i] & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF) {
        *out_size = 1;
        return 0xFFFD;
    }
    *out_size = size;
    return cp;
}

void init_text_iterator(Text_Iterator *it, const u8 *text, s64 length, Font_Pool *pool, f32 tab_multiplier) {
    memset(it, 0, sizeof *it);
    it->pool = pool;
    it->tab_multiplier = tab_multiplier;
    text_iterator_update_text(it, text, length);
    it->fallback_glyph = get_or_add_glyph(pool, 0, nullptr, &it->fallback_range);
}

void text_iterator_update_text(Text_Iterator *it, const u8 *text, s64 length) {
    if (length < 0 || !text) length = 0;
    it->character_start = text;
    it->next = text;
    it->end = text + length;
}

const u8 *text_iterator_get_next(Text_Iterator *it) {
    if (!it->next || it->next >= it->end) return nullptr;
    it->character_start = it->next;
    u32 size;
    u32 cp = decode_utf8(it->next, it->end, &size);
    f32 multiplier = 1;
    u32 lookup = cp;
    if (cp == '\t') {
        lookup = ' ';
        multiplier = it->tab_multiplier;
    }
    Font_Range *range;
    Glyph *g = get_or_add_glyph(it->pool, lookup, it->range, &range);
    if (!g) {
        g = it->fallback_glyph;
        range = it->fallback_range;
    }
    it->kerning = 0;
    if (g && it->glyph && range == it->range && range) {
        it->kerning = font_range_get_kerning(range, it->glyph, g);
    }
    if (range) it->range = range;
    it->glyph = g;
    it->advance = g ? multiplier * g->advance : 0;
    it->code_point = cp;
    it->character_index++;
    it->next = it->character_start + size;
    return it->next;
}

f32 get_text_advance(const u8 *text, s64 length, Font_Pool *pool, f32 tab_multiplier) {
    Text_Iterator it;
    init_text_iterator(&it, text, length, pool, tab_multiplier);
    f32 sum = 0;
    while (text_iterator_get_next(&it)) sum += it.advance;
    return sum;
}

// Width of the characters starting before `stop`: the advances of all but
// the last, plus the last one's ink (its bitmap width and x offset).
static f32 measure_width(const u8 *text, s64 length, Font_Pool *pool, f32 tab_multiplier, const u8 *stop) {
    Text_Iterator it;
    init_text_iterator(&it, text, length, pool, tab_multiplier);
    f32 advances = 0, previous_advance = 0, last_ink = 0;
    while (it.next < stop && text_iterator_get_next(&it)) {
        advances += previous_advance;
        previous_advance = it.advance;
        Glyph *g = it.glyph;
        if (!g) {
            last_ink = 0;
            continue;
        }
        // A tab (drawn as a space) has no ink: it counts with its advance.
        f32 body = (g->width >= 0.001f && it.code_point != '\t') ? g->width : it.advance;
        last_ink = body + g->x_offset;
    }
    return advances + last_ink;
}

f32 get_text_width(const u8 *text, s64 length, Font_Pool *pool, f32 tab_multiplier) {
    if (length <= 0) return 0;
    return measure_width(text, length, pool, tab_multiplier, text + length);
}

f32 get_text_width_up_to_next_character(const u8 *text, s64 length, Font_Pool *pool, f32 tab_multiplier,
                                         s64 offset) {
    if (length <= 0 || offset <= 0) return 0;
    if (offset > length) offset = length;
    return measure_width(text, length, pool, tab_multiplier, text + offset);
}

void draw_glyph_scissored(f32 x, f32 y, f32 baseline_offset, Glyph *glyph, Colour colour, Vector2 scissor_top_left,
                          Vector2 scissor_bottom_right) {
    if (!glyph || glyph->width <= 0 || glyph->height <= 0) return;
    f32 top = truncf(y + baseline_offset + glyph->y_offset);
    if (top > scissor_bottom_right.y || top + glyph->height < scissor_top_left.y) return;
    f32 left = truncf(x + glyph->x_offset);
    renderer_set_scissors(scissor_top_left, scissor_bottom_right);
    renderer_draw_quad(QUAD_INSTANCE_GLYPH, Vector2{left, top}, Vector2{glyph->width, glyph->height}, colour,
                       Vector4{glyph->s0, glyph->t0, glyph->s1, glyph->t1});
}

void draw_text_scissored(const u8 *text, s64 length, Font_Pool *pool, u32 flags, f32 x, f32 y, Colour colour,
                         Vector2 scissor_top_left, Vector2 scissor_bottom_right) {
    if (length <= 0 || !text) return;
    // An empty scissor (a minimised window, a collapsed view) shows nothing.
    if (scissor_bottom_right.x <= scissor_top_left.x || scissor_bottom_right.y <= scissor_top_left.y) return;
    f32 size = (f32)pool->size;
    if (flags & ANCHOR_CENTRE) y -= size * 0.5f;
    if (y > scissor_bottom_right.y || y + size < scissor_top_left.y) return;
    if ((flags & DO_NOT_DRAW_IF_CLIPPED_ON_Y) && (y < scissor_top_left.y || y + size > scissor_bottom_right.y)) return;

    const f32 tabs = 4;
    bool needs_width = flags & (ANCHOR_TOP_RIGHT | ANCHOR_TOP_CENTRE | ANCHOR_CENTRE | DO_NOT_DRAW_IF_CLIPPED_ON_X);
    f32 width = needs_width ? get_text_width(text, length, pool, tabs) : 0;
    if (flags & ANCHOR_TOP_RIGHT) x -= width;
    else if (flags & ANCHOR_TOP_RIGHT_WITH_GAP) x -= get_text_advance(text, length, pool, tabs);
    else if (flags & (ANCHOR_TOP_CENTRE | ANCHOR_CENTRE)) x -= width * 0.5f;
    if ((flags & DO_NOT_DRAW_IF_CLIPPED_ON_X) && (x < scissor_top_left.x || x + width > scissor_bottom_right.x)) return;

    Text_Iterator it;
    init_text_iterator(&it, text, length, pool, tabs);
    f32 pen = x;
    // Glyphs past the right edge can't show: stop there. Glyphs left of
    // the left edge still move the pen but add no quad.
    f32 stop_at = scissor_bottom_right.x + pool->max_glyph_width;
    while (text_iterator_get_next(&it)) {
        pen += it.kerning;
        Glyph *g = it.glyph;
        f32 left = g ? pen + g->x_offset : 0;
        if (g && left + g->width >= scissor_top_left.x && left < scissor_bottom_right.x) {
            draw_glyph_scissored(pen, y, it.range->scaled_ascent, g, colour, scissor_top_left, scissor_bottom_right);
        }
        pen += it.advance;
        if (pen > stop_at) break;
    }
}

void draw_text(const u8 *text, s64 length, Font_Pool *pool, u32 flags, f32 x, f32 y, Colour colour) {
    Vector2 bottom_right = {(f32)renderer_info.width - 1, (f32)renderer_info.height - 1};
    draw_text_scissored(text, length, pool, flags, x, y, colour, Vector2{0, 0}, bottom_right);
}
