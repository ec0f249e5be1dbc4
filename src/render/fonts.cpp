// Fonts, file fonts, font pools, the glyph cache and the packer that places
// glyph bitmaps in the font map.
#include "render/fonts.h"
#include "render/render_log.h"
#include <fcntl.h>
#include <math.h>
#include <sys/stat.h>
#include <unistd.h>

Memory_Pool glyphs_pool;
Dynamic_Array file_fonts;
Glyph_Packer glyph_packer = {1, 1, 0};
Font ui_latin_font, code_latin_font, icons_font;
Font_Pool ui_font_pool, code_font_pool, icons_font_pool;
u64 glyphs_dropped_map_full;
u64 font_map_uploads;
static bool map_full_reported;
static bool oversize_reported;

const Colour default_ui_theme[9] = {
    {0, 0.02f, 0.05f, 1}, {0, 0.065f, 0.14f, 1}, {0.8f, 0.8f, 0.8f, 1}, {0, 0, 0, 1},      {1, 1, 1, 1},
    {1, 1, 1, 0.8f},      {1, 0.2f, 0.2f, 1},    {1, 1, 1, 1},          {0, 0, 0, 1},
};
const f32 default_ui_theme_float = 0.01f;
const Colour default_text_theme[6] = {
    {0, 0, 0.005f, 1}, {0.6f, 0.6f, 0.6f, 1}, {1, 1, 1, 0.25f}, {1, 1, 1, 0.5f}, {0, 0, 0, 0}, {0, 1, 1, 1},
};

// [SECTION] Fonts and file fonts

void fonts_init_storage(void *first_page) {
    if (glyphs_pool.element_size) return;
    _init_memory_pool(&glyphs_pool, sizeof(Glyph), NUM_GLYPHS_PER_BUCKET, NUM_GLYPH_BUCKETS_PER_PAGE, first_page,
                      os_allocate_read_write);
    dynamic_array_init(&file_fonts, sizeof(File_Font), 4);
}

static u32 read_u32_be(const u8 *p) { return (u32)p[0] << 24 | (u32)p[1] << 16 | (u32)p[2] << 8 | p[3]; }
static u16 read_u16_be(const u8 *p) { return (u16)(p[0] << 8 | p[1]); }

// stb_truetype trusts its input: check the table directory against the file
// size first, so a truncated or foreign file is refused instead of read past.
static bool font_file_looks_sane(const u8 *bytes, s64 size) {
    if (!bytes || size < 12) return false;
    s32 offset = stbtt_GetFontOffsetForIndex(bytes, 0);
    if (offset < 0 || (s64)offset + 12 > size) return false;
    const u8 *header = bytes + offset;
    u32 tag = read_u32_be(header);
    bool known = tag == 0x00010000 || tag == 0x74727565 /* true */ || tag == 0x4F54544F /* OTTO */;
    if (!known) return false;
    u32 num_tables = read_u16_be(header + 4);
    if (num_tables == 0 || (s64)offset + 12 + (s64)num_tables * 16 > size) return false;
    for (u32 i = 0; i < num_tables; i++) {
        const u8 *record = header + 12 + i * 16;
        u64 table_offset = read_u32_be(record + 8), table_length = read_u32_be(record + 12);
        if (table_offset + table_length > (u64)size) return false;
    }
    return true;
}

static void set_font_name(Font *font, const u8 *name, s64 name_length) {
    if (name_length < 0) name_length = 0;
    if (name_length > FONT_NAME_CAPACITY - 1) name_length = FONT_NAME_CAPACITY - 1;
    if (name_length) memcpy(font->name_buffer, name, (size_t)name_length);
    font->name_buffer[name_length] = 0;
    font->name = String{font->name_buffer, name_length};
}

bool init_font(Font *font, const u8 *file_bytes, s64 file_size, const u8 *name, s64 name_length) {
    memset(&font->info, 0, sizeof font->info);
    set_font_name(font, name, name_length);
    if (!font_file_looks_sane(file_bytes, file_size) ||
        !stbtt_InitFont(&font->info, file_bytes, stbtt_GetFontOffsetForIndex(file_bytes, 0))) {
        render_log(RENDER_LOG_ERROR, "Failed to initialise font '%s'.", (const char *)font->name_buffer);
        return false;
    }
    int ascent, descent, line_gap, x0, y0, x1, y1;
    stbtt_GetFontVMetrics(&font->info, &ascent, &descent, &line_gap);
    stbtt_GetFontBoundingBox(&font->info, &x0, &y0, &x1, &y1);
    if (ascent - descent <= 0) {
        render_log(RENDER_LOG_ERROR, "Failed to initialise font '%s'.", (const char *)font->name_buffer);
        return false;
    }
    font->ascent = (f32)ascent;
    font->descent = (f32)descent;
    font->line_gap = (f32)line_gap;
    font->bounding_box_width = (f32)(x1 - x0);
    font->bounding_box_height = (f32)(y1 - y0);
    return true;
}

File_Font *get_file_font(s32 index) {
    if (index < 0 || (u32)index >= file_fonts.count) return nullptr;
    return dynamic_array_at<File_Font>(&file_fonts, (u32)index);
}

s32 get_or_add_file_font(const u8 *path, s64 length) {
    fonts_init_storage(nullptr);
    String name = {(u8 *)path, length};
    s32 free_index = -1;
    for (u32 i = 0; i < file_fonts.count; i++) {
        File_Font *f = get_file_font((s32)i);
        if (!f->in_use) {
            if (free_index < 0) free_index = (s32)i;
            continue;
        }
        if (string_equal(f->font.name, name)) return (s32)i;
    }

    char c_path[FONT_NAME_CAPACITY];
    if (length <= 0 || length >= (s64)sizeof c_path) {
        render_log(RENDER_LOG_ERROR, "Failed to load '%.*s'.", (int)(length > 0 ? 256 : 0), (const char *)path);
        return -1;
    }
    memcpy(c_path, path, (size_t)length);
    c_path[length] = 0;
    // A NUL inside the name would open some other, shorter path.
    if (memchr(path, 0, (size_t)length)) {
        render_log(RENDER_LOG_ERROR, "Failed to load '%s'.", c_path);
        return -1;
    }

    Allocation data = {};
    // Non-blocking, so that a FIFO by that name cannot hang us in open().
    int fd = open(c_path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    bool ok = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
    if (ok) {
        gp_allocate(&data, (u64)st.st_size);
        s64 got = 0;
        while (got < st.st_size) {
            ssize_t n = read(fd, (u8 *)data.memory + got, (size_t)(st.st_size - got));
            if (n <= 0) break;
            got += n;
        }
        ok = got == st.st_size;
    }
    if (fd >= 0) close(fd);
    if (!ok) {
        render_log(RENDER_LOG_ERROR, "Failed to load '%s'.", c_path);
        if (data.size) gp_free(&data);
        return -1;
    }

    File_Font *entry;
    s32 index;
    if (free_index >= 0) {
        index = free_index;
        entry = get_file_font(index);
    } else {
        index = (s32)file_fonts.count;
        entry = (File_Font *)dynamic_array_add(&file_fonts);
        // The array may have moved: every name must point into its own record again.
        for (u32 i = 0; i < file_fonts.count; i++) {
            Font *f = &get_file_font((s32)i)->font;
            f->name.data = f->name_buffer;
        }
    }
    if (!init_font(&entry->font, (u8 *)data.memory, (s64)data.size, path, length)) {
        gp_free(&data);
        entry->in_use = 0;
        entry->file_data = {};
        return -1;
    }
    entry->file_data = data;
    entry->in_use = 1;
    return index;
}

void free_file_font(s32 index) {
    File_Font *f = get_file_font(index);
    if (!f || !f->in_use) return;
    gp_free(&f->file_data);
    f->file_data = {};
    f->in_use = 0;
}

// [SECTION] Pools, glyphs and packing

void init_font_pool(Font_Pool *pool, u32 size) {
    memset(pool, 0, sizeof *pool);
    pool->size = size;
}

static void compute_range_metrics(Font_Pool *pool, Font_Range *range) {
    Font *f = &range->font;
    range->scale = (f32)pool->size / (f->ascent - f->descent);
    range->scaled_ascent = f->ascent * range->scale;
    f32 line_height = range->scale * (f->ascent - f->descent + f->line_gap);
    f32 box_width = range->scale * f->bounding_box_width;
    f32 box_height = range->scale * f->bounding_box_height;
    if (line_height > pool->line_height) pool->line_height = line_height;
    if (box_width > pool->max_glyph_width) pool->max_glyph_width = box_width;
    if (box_height > pool->max_glyph_height) pool->max_glyph_height = box_height;
}

void add_range_to_pool(Font_Pool *pool, Font *font, u32 first, u32 last) {
    if (pool->num_ranges >= MAX_FONT_RANGES) {
        render_log(RENDER_LOG_ERROR, "A font pool holds at most %u ranges: '%s' was not added.", MAX_FONT_RANGES,
                   (const char *)font->name_buffer);
        return;
    }
    if (first > last) {
        u32 t = first;
        first = last;
        last = t;
    }
    fonts_init_storage(nullptr);
    Font_Range *range = &pool->ranges[pool->num_ranges];
    range->first = first;
    range->last = last;
    range->difference = last - first;
    range->font = *font;
    range->font.name.data = range->font.name_buffer; // the copy must not point into the original
    compute_range_metrics(pool, range);
    if (pool->num_ranges >= pool->num_ranges_set_up) {
        bucket_array_init(&range->glyphs, &glyphs_pool);
        pool->num_ranges_set_up++;
    }
    reset_font_range(range);
    pool->num_ranges++;
}

void reset_font_range(Font_Range *range) {
    bucket_array_clear(&range->glyphs);
    range->first_glyph = range->last_glyph = nullptr;
    memset(range->ascii_glyphs, 0, sizeof range->ascii_glyphs);
    if (range->ascii_kerning) {
        for (u32 i = 0; i < 96 * 96; i++) range->ascii_kerning[i] = NAN;
    }
}

f32 font_range_get_kerning(Font_Range *range, Glyph *previous, Glyph *glyph) {
    u32 a = previous->code_point - 32, b = glyph->code_point - 32;
    if (a >= 96 || b >= 96) {
        return (f32)stbtt_GetGlyphKernAdvance(&range->font.info, previous->index, glyph->index) * range->scale;
    }
    if (!range->ascii_kerning) {
        gp_allocate(&range->ascii_kerning_allocation, 96 * 96 * sizeof(f32));
        range->ascii_kerning = (f32 *)range->ascii_kerning_allocation.memory;
        for (u32 i = 0; i < 96 * 96; i++) range->ascii_kerning[i] = NAN;
    }
    f32 *k = &range->ascii_kerning[a * 96 + b];
    if (isnan(*k)) *k = (f32)stbtt_GetGlyphKernAdvance(&range->font.info, previous->index, glyph->index) * range->scale;
    return *k;
}

void font_pool_set_size(Font_Pool *pool, u32 size) {
    pool->size = size;
    pool->line_height = pool->max_glyph_width = pool->max_glyph_height = 0;
    for (u32 i = 0; i < pool->num_ranges; i++) {
        reset_font_range(&pool->ranges[i]);
        compute_range_metrics(pool, &pool->ranges[i]);
    }
}

void reset_font_pool(Font_Pool *pool) {
    for (u32 i = 0; i < pool->num_ranges; i++) reset_font_range(&pool->ranges[i]);
}

void font_pool_remove_ranges(Font_Pool *pool) {
    reset_font_pool(pool);
    pool->num_ranges = 0;
    pool->line_height = pool->max_glyph_width = pool->max_glyph_height = 0;
}

void reset_glyph_packer(u32 row_height) {
    glyph_packer.x = 1;
    glyph_packer.y = 1;
    glyph_packer.row_height = row_height;
    map_full_reported = false;
    oversize_reported = false;
}

bool pack_glyph(Vector4 *out_rectangle, u32 width, u32 height, const u8 *bitmap, u32 *out_x, u32 *out_y) {
    Glyph_Packer *p = &glyph_packer;
    if (width + 2 > FONT_MAP_SIDE) return false;
    if (FONT_MAP_SIDE - p->x < width + 2) {
        p->y += p->row_height + 1;
        p->x = 1;
    }
    // A glyph taller than the row (a font added after the last resize) makes
    // the row taller, so the next row still starts below it.
    if (height > p->row_height) p->row_height = height;
    if ((u64)p->y + height + 1 > FONT_MAP_SIDE) return false;
    u32 x = p->x, y = p->y;
    p->x += width + 1;
    const f32 side = (f32)FONT_MAP_SIDE;
    *out_rectangle = Vector4{x / side, y / side, (x + width) / side, (y + height) / side};
    if (out_x) *out_x = x;
    if (out_y) *out_y = y;
    if (width && height && bitmap) {
        renderer_upload_glyph_to_font_map(bitmap, width, height, x, y);
        font_map_uploads++;
    }
    return true;
}

static Font_Range *find_range(Font_Pool *pool, u32 code_point, Font_Range *preferred) {
    if (preferred && code_point >= preferred->first && code_point <= preferred->last) return preferred;
    for (u32 i = 0; i < pool->num_ranges; i++) {
        Font_Range *r = &pool->ranges[i];
        if (code_point >= r->first && code_point <= r->last) return r;
    }
    return nullptr;
}

static void rasterise_glyph(Font_Range *range, Glyph *g) {
    stbtt_fontinfo *info = &range->font.info;
    f32 scale = range->scale;
    int advance, lsb, x0, y0, x1, y1;
    stbtt_GetGlyphHMetrics(info, g->index, &advance, &lsb);
    stbtt_GetGlyphBitmapBox(info, g->index, scale, scale, &x0, &y0, &x1, &y1);
    g->x_offset = (f32)lsb * scale;
    g->y_offset = (f32)y0;
    g->advance = (f32)advance * scale;
    u32 w = x1 > x0 ? (u32)(x1 - x0) : 0, h = y1 > y0 ? (u32)(y1 - y0) : 0;
    g->width = (f32)w;
    g->height = (f32)h;

    // A bitmap the map could never hold (a damaged font, an absurd size) is
    // not rasterised at all: it would cost gigabytes for nothing.
    if (w + 2 > FONT_MAP_SIDE || h + 2 > FONT_MAP_SIDE) {
        g->width = g->height = 0;
        if (!oversize_reported) {
            render_log(RENDER_LOG_ERROR, "A glyph of %u x %u pixels from '%s' cannot fit the font map: it is drawn blank.",
                       w, h, (const char *)range->font.name_buffer);
            oversize_reported = true;
        }
        return;
    }

    Allocation bitmap = {};
    if (w && h) {
        gp_allocate(&bitmap, (u64)w * h);
        stbtt_MakeGlyphBitmap(info, (u8 *)bitmap.memory, (int)w, (int)h, (int)w, scale, scale, g->index);
    }
    Vector4 r;
    if (pack_glyph(&r, w, h, (u8 *)bitmap.memory, &g->x, &g->y)) {
        g->s0 = r.x, g->t0 = r.y, g->s1 = r.z, g->t1 = r.w;
    } else {
        // The map is full until the next resize: the glyph keeps its metrics
        // (text still lays out) but is drawn blank.
        glyphs_dropped_map_full++;
        g->width = g->height = 0;
        g->s0 = g->t0 = g->s1 = g->t1 = 0;
        if (!map_full_reported) {
            render_log(RENDER_LOG_ERROR, "The font map is full: new glyphs are drawn blank until the fonts are resized.");
            map_full_reported = true;
        }
    }
    if (bitmap.size) gp_free(&bitmap);
}

Glyph *get_or_add_glyph(Font_Pool *pool, u32 code_point, Font_Range *preferred, Font_Range **out_range) {
    if (code_point < 32 && code_point != '\t') code_point = '?';
    Font_Range *range = find_range(pool, code_point, preferred);
    if (out_range) *out_range = range;
    if (!range) return nullptr;
    if (code_point < 128 && range->ascii_glyphs[code_point]) return range->ascii_glyphs[code_point];
    for (Glyph *g = range->first_glyph; g; g = g->next) {
        if (g->code_point == code_point) return g;
    }
    Glyph *g = (Glyph *)bucket_array_add(&range->glyphs);
    memset(g, 0, sizeof *g);
    g->code_point = code_point;
    g->index = stbtt_FindGlyphIndex(&range->font.info, (int)code_point);
    rasterise_glyph(range, g);
    if (range->last_glyph) range->last_glyph->next = g;
    else range->first_glyph = g;
    range->last_glyph = g;
    if (code_point < 128) range->ascii_glyphs[code_point] = g;
    return g;
}
