// Fonts: TrueType faces, font pools of up to eight code-point ranges, the
// glyph cache and its packer into the renderer's font map, and text drawing.
//
// Index:
//   [SECTION] Records
//   [SECTION] Fonts and file fonts          (fonts.cpp)
//   [SECTION] Pools, glyphs and packing     (fonts.cpp)
//   [SECTION] Iterating, measuring, drawing (text.cpp)
//   [SECTION] Sizes and custom pools        (font_sizes.cpp)
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "render/renderer.h"
#include <stb/stb_truetype.h>

// [SECTION] Records

constexpr u32 FONT_NAME_CAPACITY = 4100;
constexpr u32 MAX_FONT_RANGES = 8;
constexpr u32 NUM_GLYPHS_PER_BUCKET = 256;
constexpr u32 NUM_GLYPH_BUCKETS_PER_PAGE = 32;
constexpr u32 GLYPHS_PAGE_MEMORY = pool_page_memory(64, NUM_GLYPHS_PER_BUCKET, NUM_GLYPH_BUCKETS_PER_PAGE);
static_assert(GLYPHS_PAGE_MEMORY == 524816);
constexpr f32 MIN_FONT_SIZE = 13.5f;
constexpr f32 FONT_SIZE_THAT_FILLS_THE_WHOLE_HEIGHT = 1000.0f;
constexpr u32 DEFAULT_FONT_POOL_SIZE = 35;

struct Font {
    String name; // into name_buffer
    stbtt_fontinfo info;
    f32 ascent, descent, line_gap;
    f32 bounding_box_width, bounding_box_height;
    u8 name_buffer[FONT_NAME_CAPACITY];
};

struct File_Font {
    Font font;
    Allocation file_data;
    u8 in_use;
};

struct Glyph {
    Glyph *next;
    u32 code_point;
    s32 index; // in the font
    f32 x_offset;
    f32 y_offset; // top of the bitmap relative to the baseline
    f32 width, height;
    f32 advance;
    u32 x, y; // in the font map, top-down
    f32 s0, t0, s1, t1;
};
static_assert(sizeof(Glyph) == 64);

struct Font_Range {
    u32 first, last, difference;
    f32 scale;
    f32 scaled_ascent;
    Font font;
    Bucket_Array glyphs;
    Glyph *first_glyph;
    Glyph *last_glyph;
    // Code text is mostly ASCII: direct tables spare the list walk and the
    // font's kerning search for it. Both are emptied with the glyph cache.
    Glyph *ascii_glyphs[128];
    f32 *ascii_kerning; // 96 x 96 printable pairs, NaN = not asked yet; null until needed
    Allocation ascii_kerning_allocation;
};

struct Font_Pool {
    u32 size;
    f32 line_height;
    f32 max_glyph_width;
    f32 max_glyph_height;
    u8 num_ranges;
    u8 num_ranges_set_up;
    Font_Range ranges[MAX_FONT_RANGES];
};

struct Glyph_Packer {
    u32 x, y;
    u32 row_height;
};

struct Text_Iterator {
    const u8 *character_start;
    const u8 *next;
    const u8 *end;
    u64 character_index;
    f32 tab_multiplier;
    f32 kerning;
    f32 advance;
    Font_Pool *pool;
    Font_Range *range; // of the previous glyph
    Glyph *fallback_glyph;
    Font_Range *fallback_range;
    Glyph *glyph; // the current (previous, before the next step) glyph
    u32 code_point;
};

struct Custom_Font_Entry {
    String font;
    u32 first;
    u32 last;
};

// Text drawing flags.
enum Text_Flags : u32 {
    ANCHOR_TOP_LEFT = 1,
    ANCHOR_TOP_CENTRE = 2,
    ANCHOR_TOP_RIGHT = 4,
    ANCHOR_TOP_RIGHT_WITH_GAP = 8,
    ANCHOR_CENTRE = 16,
    DO_NOT_DRAW_IF_CLIPPED_ON_X = 32,
    DO_NOT_DRAW_IF_CLIPPED_ON_Y = 64,
};

extern Memory_Pool glyphs_pool;
extern Dynamic_Array file_fonts; // of File_Font
extern Glyph_Packer glyph_packer;
extern Font ui_latin_font, code_latin_font, icons_font;
extern Font_Pool ui_font_pool, code_font_pool, icons_font_pool;
// Glyphs that could not be placed because the font map is full.
extern u64 glyphs_dropped_map_full;
// Bitmaps handed to the font map (empty glyphs such as a space send none).
extern u64 font_map_uploads;

extern const Colour default_ui_theme[9];
extern const f32 default_ui_theme_float;
extern const Colour default_text_theme[6];

// [SECTION] Fonts and file fonts

// Sets up glyphs_pool (first page from `first_page` or mapped when null) and
// file_fonts. Safe to call again: later calls do nothing.
void fonts_init_storage(void *first_page);
bool init_font(Font *font, const u8 *file_bytes, s64 file_size, const u8 *name, s64 name_length);
// A built-in font from the assets archive.
bool init_font_from_executable(Font *font, const char *name);
// The glyph pool's first page reserved by the assets code (null: map one).
void *fonts_glyphs_first_page();
s32 get_or_add_file_font(const u8 *path, s64 length);
void free_file_font(s32 index);
File_Font *get_file_font(s32 index);

// [SECTION] Pools, glyphs and packing

void init_font_pool(Font_Pool *pool, u32 size);
void add_range_to_pool(Font_Pool *pool, Font *font, u32 first, u32 last);
void reset_font_range(Font_Range *range);
void reset_font_pool(Font_Pool *pool);
// A new pixel size: glyph caches emptied, scales and pool maxima recomputed.
void font_pool_set_size(Font_Pool *pool, u32 size);
void font_pool_remove_ranges(Font_Pool *pool);
Glyph *get_or_add_glyph(Font_Pool *pool, u32 code_point, Font_Range *preferred, Font_Range **out_range);
// Kerning between two glyphs of one range, in pixels.
f32 font_range_get_kerning(Font_Range *range, Glyph *previous, Glyph *glyph);
// Places a bitmap in the font map; false when the map has no room left.
bool pack_glyph(Vector4 *out_rectangle, u32 width, u32 height, const u8 *bitmap, u32 *out_x = nullptr,
                u32 *out_y = nullptr);
void reset_glyph_packer(u32 row_height);

// [SECTION] Iterating, measuring, drawing

void init_text_iterator(Text_Iterator *it, const u8 *text, s64 length, Font_Pool *pool, f32 tab_multiplier);
void text_iterator_update_text(Text_Iterator *it, const u8 *text, s64 length);
const u8 *text_iterator_get_next(Text_Iterator *it);
f32 get_text_width(const u8 *text, s64 length, Font_Pool *pool, f32 tab_multiplier);
f32 get_text_advance(const u8 *text, s64 length, Font_Pool *pool, f32 tab_multiplier);
f32 get_text_width_up_to_next_character(const u8 *text, s64 length, Font_Pool *pool, f32 tab_multiplier, s64 offset);
void draw_glyph_scissored(f32 x, f32 y, f32 baseline_offset, Glyph *glyph, Colour colour, Vector2 scissor_top_left,
                          Vector2 scissor_bottom_right);
void draw_text_scissored(const u8 *text, s64 length, Font_Pool *pool, u32 flags, f32 x, f32 y, Colour colour,
                         Vector2 scissor_top_left, Vector2 scissor_bottom_right);
void draw_text(const u8 *text, s64 length, Font_Pool *pool, u32 flags, f32 x, f32 y, Colour colour);
inline void draw_text(String s, Font_Pool *pool, u32 flags, f32 x, f32 y, Colour colour) {
    draw_text(s.data, s.count, pool, flags, x, y, colour);
}

// [SECTION] Sizes and custom pools

void resize_fonts(u32 pixel_size);
// Starts the packer over with rows as tall as the three pools' tallest glyph.
void reset_glyph_packer_to_fit_pools();
// The pixel size for a font size setting (thousandths of the screen height).
u32 font_pixel_size_for_setting(f32 *setting, u32 monitor_height);
void handle_screen_resolution_change(f32 *font_size_setting, u32 monitor_height);
void maybe_set_new_font_pool(Custom_Font_Entry *entries, u32 count, Font_Pool *pool, u32 size);
// Called after fonts were resized, so views can re-centre (set by the shell).
extern void (*fonts_resized_hook)();
