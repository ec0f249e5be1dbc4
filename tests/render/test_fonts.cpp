// Fonts, pools, the glyph cache and packer, measuring and drawing text.
#include <gtest/gtest.h>
#include "render_test_fonts.h"
#include "render/render_log.h"
#include "../test_util.h"
#include <math.h>
#include <atomic>
#include <thread>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class Fonts : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(load_test_fonts_and_frame()); }
};

static Glyph *glyph(Font_Pool *pool, u32 cp) { return get_or_add_glyph(pool, cp, nullptr, nullptr); }
static f32 width_of(const char *s, f32 tabs = 4) {
    return get_text_width((const u8 *)s, (s64)strlen(s), &code_font_pool, tabs);
}
static f32 advance_of(const char *s, f32 tabs = 4) {
    return get_text_advance((const u8 *)s, (s64)strlen(s), &code_font_pool, tabs);
}

TEST_F(Fonts, BadFontFilesAreRefusedWithTheMessage) {
    std::string real = read_file_bytes(CODE_FONT_PATH);
    ASSERT_GT(real.size(), 1000u);
    struct { const char *what; std::string bytes; } cases[] = {
        {"empty", ""},
        {"text", "This is not a font at all, just some words in a file."},
        {"random", std::string(4096, '\x5a')},
        {"header only", real.substr(0, 12)},
        {"cut in half", real.substr(0, real.size() / 2)},
    };
    for (auto &c : cases) {
        Font f;
        u64 before = render_num_log_messages();
        EXPECT_FALSE(init_font(&f, (const u8 *)c.bytes.data(), (s64)c.bytes.size(), (const u8 *)"bad.ttf", 7)) << c.what;
        EXPECT_EQ(render_num_log_messages(), before + 1) << c.what;
        EXPECT_STREQ(render_last_log_message(), "Failed to initialise font 'bad.ttf'.") << c.what;
    }
}

TEST_F(Fonts, FileFontsAreLoadedOnceAndMissingFilesGiveANegativeIndex) {
    const char *path = UI_FONT_PATH;
    s32 a = get_or_add_file_font((const u8 *)path, (s64)strlen(path));
    s32 b = get_or_add_file_font((const u8 *)path, (s64)strlen(path));
    ASSERT_GE(a, 0);
    EXPECT_EQ(a, b);
    EXPECT_GT(get_file_font(a)->font.ascent, 0);

    const char *missing = "/nonexistent/dir/font.ttf";
    EXPECT_LT(get_or_add_file_font((const u8 *)missing, (s64)strlen(missing)), 0);
    EXPECT_STREQ(render_last_log_message(), "Failed to load '/nonexistent/dir/font.ttf'.");

    // A file that reads fine but is no font: logged, refused, slot not taken.
    Temp_Dir dir;
    std::string junk = dir.file("junk.ttf");
    ASSERT_TRUE(write_whole_file(junk, "not a font"));
    u32 count = file_fonts.count;
    EXPECT_LT(get_or_add_file_font((const u8 *)junk.data(), (s64)junk.size()), 0);
    EXPECT_NE(strstr(render_last_log_message(), "Failed to initialise font"), nullptr);
    EXPECT_LE(file_fonts.count, count + 1);
    if (file_fonts.count == count + 1) {
        EXPECT_FALSE(get_file_font((s32)count)->in_use);
    }

    // A freed entry is reused by the next load.
    free_file_font(a);
    EXPECT_FALSE(get_file_font(a)->in_use);
    s32 c = get_or_add_file_font((const u8 *)path, (s64)strlen(path));
    EXPECT_LE(c, a);
}

TEST_F(Fonts, PoolMetricsFollowTheSize) {
    Font_Pool *p = &code_font_pool;
    EXPECT_EQ(p->size, DEFAULT_FONT_POOL_SIZE);
    EXPECT_EQ(p->num_ranges, 2);
    Font_Range *r = &p->ranges[0];
    EXPECT_NEAR(r->scale * (r->font.ascent - r->font.descent), 35.0f, 1e-3);
    EXPECT_NEAR(r->scaled_ascent, r->font.ascent * r->scale, 1e-4);
    EXPECT_GE(p->line_height, 35.0f);
    EXPECT_GT(p->max_glyph_height, 0);
    EXPECT_EQ(r->font.name.data, r->font.name_buffer); // the copy names itself
    EXPECT_EQ(p->ranges[1].first, 0xFFFDu);
}

TEST_F(Fonts, GlyphsAreCachedAndKeepTheirAddress) {
    Glyph *a = glyph(&code_font_pool, 'A');
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(glyph(&code_font_pool, 'A'), a);
    EXPECT_EQ(a->code_point, (u32)'A');
    EXPECT_GT(a->width, 0);
    EXPECT_GT(a->advance, 0);
    EXPECT_LT(a->y_offset, 0); // above the baseline
    EXPECT_NEAR(a->s1 - a->s0, a->width / FONT_MAP_SIDE, 1e-6);
    EXPECT_NEAR(a->t1 - a->t0, a->height / FONT_MAP_SIDE, 1e-6);
    // Many more glyphs later (new buckets), the first record has not moved.
    for (u32 cp = 0x100; cp < 0x500; cp++) glyph(&code_font_pool, cp);
    EXPECT_EQ(glyph(&code_font_pool, 'A'), a);
    EXPECT_EQ(a->code_point, (u32)'A');
}

TEST_F(Fonts, ControlCharactersAndOutOfRangeCodePoints) {
    Glyph *question = glyph(&code_font_pool, '?');
    struct { u32 cp; Glyph *expected; } cases[] = {{1, question}, {0, question}, {31, question}, {0x1F600, nullptr}};
    for (auto &c : cases) EXPECT_EQ(glyph(&code_font_pool, c.cp), c.expected) << c.cp;
    EXPECT_NE(glyph(&code_font_pool, '\t'), question);

    // Drawn, a control character is a '?' and a code point no range covers
    // is the fallback glyph (also '?').
    const char text[] = "\x01" "\xF0\x9F\x98\x80";
    prepare_frame();
    draw_text((const u8 *)text, (s64)strlen(text), &code_font_pool, ANCHOR_TOP_LEFT, 10, 10, white);
    ASSERT_EQ(count_glyph_quads(), 2u);
    EXPECT_FLOAT_EQ(renderer_instance(0)->texture_coords.x, question->s0);
    EXPECT_FLOAT_EQ(renderer_instance(1)->texture_coords.x, question->s0);
}

TEST_F(Fonts, BrokenUtf8IsDrawnAsTheReplacementCharacter) {
    Glyph *replacement = glyph(&code_font_pool, 0xFFFD);
    ASSERT_NE(replacement, nullptr);
    const char *cases[] = {"\xFF", "\xC3", "\xE2\x82", "\xC0\xAF", "\xED\xA0"};
    for (const char *c : cases) {
        Text_Iterator it;
        init_text_iterator(&it, (const u8 *)c, (s64)strlen(c), &code_font_pool, 4);
        ASSERT_NE(text_iterator_get_next(&it), nullptr);
        EXPECT_EQ(it.code_point, 0xFFFDu);
        EXPECT_EQ(it.glyph, replacement);
        EXPECT_EQ(it.next - (const u8 *)c, 1); // one byte at a time
    }
    const char euro[] = "\xE2\x82\xAC";
    Text_Iterator it;
    init_text_iterator(&it, (const u8 *)euro, 3, &code_font_pool, 4);
    text_iterator_get_next(&it);
    EXPECT_EQ(it.code_point, 0x20ACu);
    EXPECT_EQ(text_iterator_get_next(&it), nullptr);
    EXPECT_EQ(it.character_index, 1u);
}

TEST_F(Fonts, MeasuringTextAndTabs) {
    EXPECT_EQ(width_of(""), 0);
    f32 space = glyph(&code_font_pool, ' ')->advance;
    EXPECT_NEAR(advance_of("\t"), 4 * space, 1e-4);
    EXPECT_NEAR(advance_of("\t", 8), 8 * space, 1e-4);
    EXPECT_NEAR(advance_of("a\tb"), advance_of("a    b"), 1e-3);
    // Width: advances of all but the last character, then the last one's ink.
    Glyph *a = glyph(&code_font_pool, 'a'), *b = glyph(&code_font_pool, 'b');
    EXPECT_NEAR(width_of("ab"), a->advance + b->x_offset + b->width, 1e-4);
    { Glyph *sp = glyph(&code_font_pool, ' '); EXPECT_NEAR(width_of("a "), a->advance + sp->advance + sp->x_offset, 1e-4); }
    // Monospaced: n characters advance n times as far.
    EXPECT_NEAR(advance_of("mmmmmmmmmm"), 10 * advance_of("i"), 1e-3);
    const char *text = "abc def";
    EXPECT_NEAR(get_text_width_up_to_next_character((const u8 *)text, 7, &code_font_pool, 4, 3), width_of("abc"), 1e-4);
    EXPECT_EQ(get_text_width_up_to_next_character((const u8 *)text, 7, &code_font_pool, 4, 0), 0);
    EXPECT_NEAR(get_text_width_up_to_next_character((const u8 *)text, 7, &code_font_pool, 4, 99), width_of(text), 1e-4);
}

TEST_F(Fonts, KerningAppliesWithinARangeOnly) {
    // DejaVu Sans kerns "AV"; the pen moves by kerning plus advance.
    Text_Iterator it;
    init_text_iterator(&it, (const u8 *)"AV", 2, &ui_font_pool, 4);
    text_iterator_get_next(&it);
    EXPECT_EQ(it.kerning, 0);
    text_iterator_get_next(&it);
    EXPECT_LT(it.kerning, 0);
    prepare_frame();
    draw_text((const u8 *)"AV", 2, &ui_font_pool, ANCHOR_TOP_LEFT, 100, 100, white);
    ASSERT_EQ(count_glyph_quads(), 2u);
    Glyph *a = glyph(&ui_font_pool, 'A'), *v = glyph(&ui_font_pool, 'V');
    f32 left_a = renderer_instance(0)->position.x - renderer_instance(0)->scale.x;
    f32 left_v = renderer_instance(1)->position.x - renderer_instance(1)->scale.x;
    EXPECT_NEAR(left_v - left_a, truncf(100 + a->advance + it.kerning + v->x_offset) - truncf(100 + a->x_offset), 1.0f);
}

TEST_F(Fonts, DrawingTextMakesOneGlyphQuadPerVisibleCharacter) {
    prepare_frame();
    draw_text((const u8 *)"ab c", 4, &code_font_pool, ANCHOR_TOP_LEFT, 10, 20, white);
    EXPECT_EQ(count_glyph_quads(), 3u); // the space has no bitmap
    Glyph *a = glyph(&code_font_pool, 'a');
    Quad_Instance *q = renderer_instance(0);
    f32 baseline = code_font_pool.ranges[0].scaled_ascent;
    f32 top = truncf(20 + baseline + a->y_offset);
    EXPECT_FLOAT_EQ(q->position.y, 800 - (top + a->height / 2));
    EXPECT_FLOAT_EQ(q->scale.x, a->width / 2);
    EXPECT_FLOAT_EQ(q->texture_coords.z, a->s1);
    // draw_text clips to the target less one pixel.
    EXPECT_FLOAT_EQ(q->scissors.z, 1279);
}

TEST_F(Fonts, AnchorsMoveTheText) {
    const char *s = "Hello";
    f32 width = get_text_width((const u8 *)s, 5, &ui_font_pool, 4);
    f32 advance = get_text_advance((const u8 *)s, 5, &ui_font_pool, 4);
    auto first_left = [&](u32 flags, f32 x, f32 y) {
        prepare_frame();
        draw_text((const u8 *)s, 5, &ui_font_pool, flags, x, y, white);
        Quad_Instance *q = renderer_instance(0);
        return q->position.x - q->scale.x;
    };
    f32 left = first_left(ANCHOR_TOP_LEFT, 600, 100);
    struct { u32 flags; f32 shift; } cases[] = {
        {ANCHOR_TOP_RIGHT, width}, {ANCHOR_TOP_RIGHT_WITH_GAP, advance}, {ANCHOR_TOP_CENTRE, width / 2},
        {ANCHOR_CENTRE, width / 2},
    };
    for (auto &c : cases) EXPECT_NEAR(left - first_left(c.flags, 600, 100), c.shift, 1.0f) << c.flags;
    // ANCHOR_CENTRE also centres vertically on y.
    prepare_frame();
    draw_text((const u8 *)s, 5, &ui_font_pool, ANCHOR_TOP_LEFT, 600, 100, white);
    f32 y_top_left = renderer_instance(0)->position.y;
    prepare_frame();
    draw_text((const u8 *)s, 5, &ui_font_pool, ANCHOR_CENTRE, 600, 100, white);
    EXPECT_NEAR(renderer_instance(0)->position.y - y_top_left, ui_font_pool.size / 2.0f, 1.0f);
}

TEST_F(Fonts, ClippedTextIsCutOrSkipped) {
    Vector2 tl = {100, 100}, br = {200, 140};
    const char *s = "a long line of text that runs well past the right edge of its little box";
    s64 n = (s64)strlen(s);
    struct { u32 flags; f32 x, y; bool any; } cases[] = {
        {ANCHOR_TOP_LEFT, 100, 100, true},
        {ANCHOR_TOP_LEFT, 100, 141, false}, // below the box
        {ANCHOR_TOP_LEFT, 100, 60, false},  // y + size above the top
        {DO_NOT_DRAW_IF_CLIPPED_ON_X, 100, 100, false},
        {DO_NOT_DRAW_IF_CLIPPED_ON_Y, 100, 110, false},
        {DO_NOT_DRAW_IF_CLIPPED_ON_Y, 100, 100, true},
    };
    for (auto &c : cases) {
        prepare_frame();
        draw_text_scissored((const u8 *)s, n, &code_font_pool, c.flags, c.x, c.y, white, tl, br);
        EXPECT_EQ(count_glyph_quads() > 0, c.any) << c.flags << " y " << c.y;
    }
    // Glyphs wholly past the right edge are not emitted at all.
    prepare_frame();
    draw_text_scissored((const u8 *)s, n, &code_font_pool, ANCHOR_TOP_LEFT, 100, 100, white, tl, br);
    u32 visible = count_glyph_quads();
    EXPECT_LT(visible, 12u);
    for (u32 i = 0; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        EXPECT_LT(q->position.x - q->scale.x, br.x);
        EXPECT_FLOAT_EQ(q->scissors.x, 100);
        EXPECT_FLOAT_EQ(q->scissors.z, 200);
    }
}

TEST_F(Fonts, PackerStartsNewRowsAndSpacesUploadNothing) {
    reset_glyph_packer(40);
    Vector4 r;
    u32 x, y;
    ASSERT_TRUE(pack_glyph(&r, 30, 20, nullptr, &x, &y));
    EXPECT_EQ(x, 1u);
    EXPECT_EQ(y, 1u);
    EXPECT_EQ(glyph_packer.x, 32u);
    glyph_packer.x = FONT_MAP_SIDE - 31; // 31 left: a 30-wide glyph needs 32
    ASSERT_TRUE(pack_glyph(&r, 30, 20, nullptr, &x, &y));
    EXPECT_EQ(x, 1u);
    EXPECT_EQ(y, 1u + 40 + 1);
    EXPECT_FLOAT_EQ(r.y, 42.0f / FONT_MAP_SIDE);
    EXPECT_FLOAT_EQ(r.w, 62.0f / FONT_MAP_SIDE);

    // A glyph taller than the row makes the row taller.
    ASSERT_TRUE(pack_glyph(&r, 10, 70, nullptr, &x, &y));
    glyph_packer.x = FONT_MAP_SIDE - 5;
    ASSERT_TRUE(pack_glyph(&r, 10, 10, nullptr, &x, &y));
    EXPECT_EQ(y, 42u + 70 + 1);

    resize_fonts(35);
    u64 uploads = font_map_uploads;
    Glyph *space = glyph(&code_font_pool, ' ');
    ASSERT_NE(space, nullptr);
    EXPECT_EQ(space->width, 0);
    EXPECT_EQ(font_map_uploads, uploads);
    EXPECT_EQ(glyph(&code_font_pool, ' '), space);
    glyph(&code_font_pool, 'x');
    EXPECT_EQ(font_map_uploads, uploads + 1);
}

TEST_F(Fonts, AFullFontMapDrawsBlankGlyphsButKeepsLayout) {
    resize_fonts(35);
    f32 expected_advance = glyph(&code_font_pool, 'Q')->advance;
    resize_fonts(35);
    glyph_packer.y = FONT_MAP_SIDE - 10; // no room for a 35-pixel glyph
    u64 dropped = glyphs_dropped_map_full;
    Glyph *q = glyph(&code_font_pool, 'Q');
    ASSERT_NE(q, nullptr);
    EXPECT_EQ(glyphs_dropped_map_full, dropped + 1);
    EXPECT_NE(strstr(render_last_log_message(), "font map is full"), nullptr);
    EXPECT_EQ(q->width, 0);
    EXPECT_NEAR(q->advance, expected_advance, 1e-4);
    u64 messages = render_num_log_messages();
    glyph(&code_font_pool, 'R');
    EXPECT_EQ(render_num_log_messages(), messages); // reported once
    prepare_frame();
    draw_text((const u8 *)"QR", 2, &code_font_pool, ANCHOR_TOP_LEFT, 0, 0, white);
    EXPECT_EQ(count_glyph_quads(), 0u);
    // A resize starts the map over and glyphs come back.
    resize_fonts(35);
    EXPECT_GT(glyph(&code_font_pool, 'Q')->width, 0);
}

TEST_F(Fonts, ResizingChangesEveryPoolAndEmptiesTheCaches) {
    Glyph *before = glyph(&ui_font_pool, 'W');
    f32 width_35 = before->width;
    resize_fonts(70);
    for (Font_Pool *p : {&ui_font_pool, &code_font_pool, &icons_font_pool}) {
        EXPECT_EQ(p->size, 70u);
        EXPECT_EQ(p->ranges[0].first_glyph, nullptr);
        EXPECT_GT(p->line_height, 70.0f - 1);
    }
    EXPECT_GE(glyph_packer.row_height, (u32)ceilf(code_font_pool.max_glyph_height));
    EXPECT_EQ(glyph_packer.y, 1u);
    Glyph *after = glyph(&ui_font_pool, 'W');
    EXPECT_NEAR(after->width, 2 * width_35, 3);
}

TEST_F(Fonts, FontSizeSettingIsClampedBeforeThePixelSize) {
    struct { f32 setting, expected_setting; u32 height, pixels; } cases[] = {
        {10, 13.5f, 1000, 13}, {13.5f, 13.5f, 2000, 27}, {20, 20, 1080, 21}, {-5, 13.5f, 1000, 13},
        {NAN, 13.5f, 1000, 13},
        // Sizes no glyph map could hold stop at its side, even an infinite one.
        {1e30f, 1e30f, 1000, FONT_MAP_SIDE}, {INFINITY, INFINITY, 2160, FONT_MAP_SIDE}, {1e30f, 1e30f, 0, 0},
    };
    for (auto &c : cases) {
        f32 s = c.setting;
        EXPECT_EQ(font_pixel_size_for_setting(&s, c.height), c.pixels) << c.setting;
        EXPECT_FLOAT_EQ(s, c.expected_setting);
    }
    f32 s = 10;
    handle_screen_resolution_change(&s, 2000);
    EXPECT_EQ(ui_font_pool.size, 27u);
    // No monitor (height 0) leaves the sizes alone.
    handle_screen_resolution_change(&s, 0);
    EXPECT_EQ(ui_font_pool.size, 27u);
}

TEST_F(Fonts, CustomPoolsSkipMissingFilesAndKeepTheRest) {
    Font_Pool pool;
    init_font_pool(&pool, 35);
    Custom_Font_Entry entries[] = {
        {S("/no/such/font.ttf"), 0, 127},
        {S("$code_default"), 0, 127},
        {S(UI_FONT_PATH), 0x370, 0x3FF},
        {S("$ui_default"), 0xFFFD, 0xFFFD},
        {S("relative/missing.ttf"), 0x400, 0x4FF},
    };
    maybe_set_new_font_pool(entries, 5, &pool, 30);
    EXPECT_EQ(pool.size, 30u);
    ASSERT_EQ(pool.num_ranges, 3);
    EXPECT_EQ(pool.ranges[0].last, 127u);
    EXPECT_EQ(pool.ranges[1].first, 0x370u);
    EXPECT_TRUE(string_equal(pool.ranges[1].font.name, S(UI_FONT_PATH)));
    EXPECT_NE(strstr(render_last_log_message(), "/relative/missing.ttf"), nullptr);
    Font_Range *range = nullptr;
    EXPECT_NE(get_or_add_glyph(&pool, 0x3B1, nullptr, &range), nullptr); // alpha from the second font
    EXPECT_EQ(range, &pool.ranges[1]);
    EXPECT_EQ(get_or_add_glyph(&pool, 0x431, nullptr, &range), nullptr);
    // A second list replaces the first; the glyph buckets are reused.
    Custom_Font_Entry one[] = {{S("$ui_default"), 0, 0x10FFFF}};
    maybe_set_new_font_pool(one, 1, &pool, 30);
    EXPECT_EQ(pool.num_ranges, 1);
    EXPECT_EQ(pool.num_ranges_set_up, 3);
    EXPECT_NE(get_or_add_glyph(&pool, 0x431, nullptr, &range), nullptr);
    // A size beyond the font map is held at its side.
    maybe_set_new_font_pool(one, 1, &pool, 100000);
    EXPECT_EQ(pool.size, FONT_MAP_SIDE);
}

TEST_F(Fonts, KerningTableMatchesTheFontAndFollowsTheSize) {
    Font_Range *r = nullptr;
    const char pairs[][2] = {{'A', 'V'}, {'T', 'o'}, {'a', 'b'}, {'V', 'A'}, {'A', 'V'}};
    for (int size : {35, 70}) {
        resize_fonts((u32)size);
        for (auto &p : pairs) {
            Glyph *a = get_or_add_glyph(&ui_font_pool, (u8)p[0], nullptr, &r);
            Glyph *b = get_or_add_glyph(&ui_font_pool, (u8)p[1], nullptr, &r);
            f32 direct = stbtt_GetGlyphKernAdvance(&r->font.info, a->index, b->index) * r->scale;
            EXPECT_FLOAT_EQ(font_range_get_kerning(r, a, b), direct) << p[0] << p[1] << " at " << size;
        }
    }
    Glyph *a = get_or_add_glyph(&ui_font_pool, 'A', nullptr, &r), *v = get_or_add_glyph(&ui_font_pool, 'V', nullptr, &r);
    f32 at_70 = font_range_get_kerning(r, a, v);
    resize_fonts(35);
    a = get_or_add_glyph(&ui_font_pool, 'A', nullptr, &r), v = get_or_add_glyph(&ui_font_pool, 'V', nullptr, &r);
    EXPECT_NEAR(font_range_get_kerning(r, a, v), at_70 / 2, 0.01f);
}

TEST_F(Fonts, FileFontNamesStayInTheirOwnRecordsAsTheListGrows) {
    // Enough distinct files to make the list move to a bigger block.
    Temp_Dir dir;
    std::string bytes = read_file_bytes(UI_FONT_PATH);
    ASSERT_FALSE(bytes.empty());
    std::vector<std::string> paths;
    std::vector<s32> indices;
    for (int i = 0; i < 12; i++) {
        paths.push_back(dir.file("copy" + std::to_string(i) + ".ttf"));
        ASSERT_TRUE(write_whole_file(paths.back(), bytes));
        indices.push_back(get_or_add_file_font((const u8 *)paths.back().data(), (s64)paths.back().size()));
        ASSERT_GE(indices.back(), 0) << paths.back();
    }
    u32 count = file_fonts.count;
    for (size_t i = 0; i < paths.size(); i++) {
        Font *f = &get_file_font(indices[i])->font;
        EXPECT_EQ(f->name.data, f->name_buffer) << i;
        EXPECT_EQ(std::string((const char *)f->name.data, (size_t)f->name.count), paths[i]);
        // Found again by name, not loaded a second time.
        EXPECT_EQ(get_or_add_file_font((const u8 *)paths[i].data(), (s64)paths[i].size()), indices[i]) << i;
    }
    EXPECT_EQ(file_fonts.count, count);
    for (s32 index : indices) free_file_font(index);
}

TEST_F(Fonts, PathsThatAreNoReadableFileAreRefusedWithoutBlocking) {
    Temp_Dir dir;
    std::string fifo = dir.file("pipe.ttf"), empty = dir.file("empty.ttf");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(write_whole_file(empty, ""));
    std::string real_with_tail = std::string(UI_FONT_PATH) + std::string(1, '\0') + "tail";
    struct { const char *what; std::string path; std::string logged; } cases[] = {
        {"directory", dir.path, dir.path},
        {"empty file", empty, empty},
        {"fifo", fifo, fifo},
        {"NUL inside", real_with_tail, UI_FONT_PATH}, // would open the font before the NUL
    };
    for (auto &c : cases) {
        // A reader blocked in open() on the FIFO is released after a while
        // by opening its other end; a correct load never needs that.
        std::atomic<bool> returned{false}, had_to_release{false};
        std::thread releaser([&] {
            for (int i = 0; i < 100 && !returned; i++) usleep(50000);
            if (returned) return;
            had_to_release = true;
            int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
        });
        s32 index = get_or_add_file_font((const u8 *)c.path.data(), (s64)c.path.size());
        returned = true;
        releaser.join();
        EXPECT_LT(index, 0) << c.what;
        EXPECT_FALSE(had_to_release) << c.what << ": loading blocked";
        EXPECT_EQ(std::string(render_last_log_message()), "Failed to load '" + c.logged + "'.") << c.what;
    }
}

// DejaVu Sans with its line height in the horizontal header set to one unit,
// so that every glyph scales to tens of thousands of pixels.
static std::string font_with_a_one_unit_line() {
    std::string f = read_file_bytes(UI_FONT_PATH);
    if (f.size() < 12) return "";
    auto u16_at = [&](size_t o) { return (u32)(u8)f[o] << 8 | (u8)f[o + 1]; };
    auto u32_at = [&](size_t o) { return u16_at(o) << 16 | u16_at(o + 2); };
    for (u32 i = 0; i < u16_at(4); i++) {
        size_t record = 12 + (size_t)i * 16;
        if (f.compare(record, 4, "hhea") != 0) continue;
        size_t hhea = u32_at(record + 8);
        const char patched[] = {0, 1, 0, 0}; // ascent 1, descent 0
        f.replace(hhea + 4, 4, patched, 4);
        return f;
    }
    return "";
}

TEST_F(Fonts, GlyphsTooBigForTheMapAreBlankAndNeverRasterised) {
    static std::string damaged = font_with_a_one_unit_line(); // the face points into it
    ASSERT_FALSE(damaged.empty());
    Font bad;
    ASSERT_TRUE(init_font(&bad, (const u8 *)damaged.data(), (s64)damaged.size(), (const u8 *)"damaged.ttf", 11));
    static Font_Pool damaged_pool;
    init_font_pool(&damaged_pool, 35);
    add_range_to_pool(&damaged_pool, &bad, 0, 127);
    struct { const char *what; Font_Pool *pool; u32 resize_to; } cases[] = {
        {"damaged line height", &damaged_pool, 0},
        {"size far beyond the map", &code_font_pool, 20000},
    };
    for (auto &c : cases) {
        if (c.resize_to) resize_fonts(c.resize_to);
        reset_glyph_packer(40);
        u64 uploads = font_map_uploads, dropped = glyphs_dropped_map_full;
        Glyph *w = glyph(c.pool, 'W');
        ASSERT_NE(w, nullptr) << c.what;
        EXPECT_EQ(w->width, 0) << c.what;
        EXPECT_EQ(w->height, 0) << c.what;
        EXPECT_GT(w->advance, 1000) << c.what << ": the layout keeps the real advance";
        EXPECT_EQ(font_map_uploads, uploads) << c.what;
        EXPECT_EQ(glyphs_dropped_map_full, dropped) << c.what << ": the map itself is not full";
        EXPECT_NE(strstr(render_last_log_message(), "cannot fit the font map"), nullptr) << render_last_log_message();
        // Small glyphs still go to the map afterwards.
        if (c.pool == &code_font_pool) {
            resize_fonts(35);
            EXPECT_GT(glyph(c.pool, 'W')->width, 0);
            EXPECT_EQ(font_map_uploads, uploads + 1);
        }
        prepare_frame();
        draw_text((const u8 *)"WW", 2, c.pool, ANCHOR_TOP_LEFT, 0, 0, white);
        EXPECT_EQ(count_glyph_quads(), c.pool == &code_font_pool ? 2u : 0u) << c.what;
    }
}

// Standard UTF-8 encoding of one code point, for checking the decoder.
static std::string encode_utf8(u32 cp) {
    std::string s;
    if (cp < 0x80) s += (char)cp;
    else if (cp < 0x800) s += (char)(0xC0 | cp >> 6), s += (char)(0x80 | (cp & 0x3F));
    else if (cp < 0x10000)
        s += (char)(0xE0 | cp >> 12), s += (char)(0x80 | (cp >> 6 & 0x3F)), s += (char)(0x80 | (cp & 0x3F));
    else
        s += (char)(0xF0 | cp >> 18), s += (char)(0x80 | (cp >> 12 & 0x3F)), s += (char)(0x80 | (cp >> 6 & 0x3F)),
            s += (char)(0x80 | (cp & 0x3F));
    return s;
}

TEST_F(Fonts, AnyBytesSplitIntoCharactersThatReencodeToThemselves) {
    // Random bytes, biased towards UTF-8 lead and continuation bytes; each
    // text sits at the very end of its own allocation so a read past the end
    // shows under the address sanitizer.
    u32 state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    for (int round = 0; round < 400; round++) {
        size_t length = next() % 40;
        std::vector<u8> text(length);
        for (auto &b : text) {
            u32 r = next() >> 8;
            b = (u8)(r % 3 == 0 ? 0x80 | (r >> 4 & 0x3F) : r % 3 == 1 ? 0xC0 | (r >> 4 & 0x3F) : r >> 4);
        }
        Text_Iterator it;
        init_text_iterator(&it, text.data(), (s64)length, &code_font_pool, 4);
        const u8 *at = text.data();
        u64 characters = 0;
        while (const u8 *after = text_iterator_get_next(&it)) {
            ASSERT_EQ(it.character_start, at);
            s64 step = after - at;
            ASSERT_GE(step, 1);
            ASSERT_LE(step, 4);
            ASSERT_LE(after, text.data() + length);
            ASSERT_NE(it.glyph, nullptr); // a covered glyph or the fallback
            if (it.code_point != 0xFFFD || step > 1) {
                // Decoded: exactly the standard encoding of what it decoded to.
                EXPECT_EQ(std::string((const char *)at, (size_t)step), encode_utf8(it.code_point)) << round;
            } else {
                EXPECT_EQ(step, 1);
            }
            at = after;
            characters++;
        }
        EXPECT_EQ(at, text.data() + length);
        EXPECT_EQ(it.character_index, characters);
        f32 advance = get_text_advance(text.data(), (s64)length, &code_font_pool, 4);
        EXPECT_GE(advance, 0);
        prepare_frame();
        draw_text(text.data(), (s64)length, &code_font_pool, ANCHOR_TOP_LEFT, 0, 0, white);
        EXPECT_LE(count_glyph_quads(), characters);
    }
}
