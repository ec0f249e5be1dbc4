// Font sizes: re-rasterising every pool when the size changes, and pools
// built from the custom layer's own list of fonts.
#include "render/fonts.h"
#include "render/render_log.h"
#include "core/strings.h"
#include <math.h>

void (*fonts_resized_hook)();

void reset_glyph_packer_to_fit_pools() {
    f32 tallest = fmaxf(ui_font_pool.max_glyph_height,
                        fmaxf(code_font_pool.max_glyph_height, icons_font_pool.max_glyph_height));
    reset_glyph_packer((u32)ceilf(tallest));
}

void resize_fonts(u32 pixel_size) {
    Font_Pool *pools[] = {&ui_font_pool, &code_font_pool, &icons_font_pool};
    for (Font_Pool *pool : pools) font_pool_set_size(pool, pixel_size);
    // Rows are as tall as the tallest glyph the new size can make.
    reset_glyph_packer_to_fit_pools();
}

u32 font_pixel_size_for_setting(f32 *setting, u32 monitor_height) {
    if (!(*setting >= MIN_FONT_SIZE)) *setting = MIN_FONT_SIZE; // NaN too
    f32 pixels = (f32)monitor_height * *setting / FONT_SIZE_THAT_FILLS_THE_WHOLE_HEIGHT;
    // No glyph taller than the font map can be drawn; the bound also keeps
    // the conversion defined for a huge (or infinite) setting.
    return pixels < (f32)FONT_MAP_SIDE ? (u32)pixels : FONT_MAP_SIDE;
}

void handle_screen_resolution_change(f32 *font_size_setting, u32 monitor_height) {
    u32 pixel_size = font_pixel_size_for_setting(font_size_setting, monitor_height);
    if (pixel_size == 0) {
        // No monitor to measure (or a tiny one): keep the sizes we have.
        render_log(RENDER_LOG_GRAPHICS, "No usable monitor height (%u): font sizes left unchanged.", monitor_height);
        return;
    }
    resize_fonts(pixel_size);
    if (fonts_resized_hook) fonts_resized_hook();
}

String fonts_executable_directory();

void maybe_set_new_font_pool(Custom_Font_Entry *entries, u32 count, Font_Pool *pool, u32 size) {
    font_pool_remove_ranges(pool);
    pool->size = size < FONT_MAP_SIDE ? size : FONT_MAP_SIDE; // larger glyphs could never be drawn
    for (u32 i = 0; i < count; i++) {
        Custom_Font_Entry *e = &entries[i];
        String name = e->font;
        if (string_equal(name, S("$code_default"))) {
            add_range_to_pool(pool, &code_latin_font, e->first, e->last);
            continue;
        }
        if (string_equal(name, S("$ui_default"))) {
            add_range_to_pool(pool, &ui_latin_font, e->first, e->last);
            continue;
        }
        if (name.count <= 0) continue;
        String path = name;
        bool is_full = name.data[0] == '/' || (name.count > 1 && name.data[1] == ':');
        if (!is_full) path = string_concat2("%/%", fonts_executable_directory(), name);
        s32 index = get_or_add_file_font(path.data, path.count);
        if (index < 0) continue;
        add_range_to_pool(pool, &get_file_font(index)->font, e->first, e->last);
    }
}
