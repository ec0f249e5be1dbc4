// Frame building for a full screen of code: 200 columns x 60 lines laid out
// and turned into glyph quads, headless (no GPU upload). Cold frames
// rasterise every glyph again (fonts reset first); warm frames find them all
// in the cache.
#include <benchmark/benchmark.h>
#include "bench_fonts.h"
#include "render/fonts.h"
#include "render/ui.h"
#include <stdio.h>
#include <stdlib.h>

constexpr int COLUMNS = 200, LINES = 60;
static char screen[LINES][COLUMNS];
static bool ready;

static void set_up() {
    if (ready) return;
    init_memory();
    fonts_init_storage(nullptr);
    bench_load_system_fonts("bench_render");
    ui_build_font_pools();
    // Code-like text: identifiers, operators, digits and indentation.
    const char *words[] = {"if", "(x", "==", "count)", "{", "return", "value[i]", "+", "0x1F;", "}", "for",
                           "s64", "offset", "=", "get_next(it);", "//", "comment", "while", "&&", "!done"};
    unsigned seed = 12345;
    for (int l = 0; l < LINES; l++) {
        int c = (l % 4) * 4; // indentation
        memset(screen[l], ' ', COLUMNS);
        while (c < COLUMNS) {
            seed = seed * 1103515245 + 12345;
            const char *w = words[(seed >> 16) % 20];
            for (const char *p = w; *p && c < COLUMNS; p++) screen[l][c++] = *p;
            c++;
        }
    }
    ready = true;
}

static void draw_screen(u32 pixel_size) {
    prepare_frame();
    f32 line_height = code_font_pool.line_height;
    Vector2 tl = {0, 0}, br = {(f32)renderer_info.width, (f32)renderer_info.height};
    for (int l = 0; l < LINES; l++)
        draw_text_scissored((const u8 *)screen[l], COLUMNS, &code_font_pool, ANCHOR_TOP_LEFT, 4, 4 + l * line_height,
                            white, tl, br);
    (void)pixel_size;
}

// Sized so that the whole 200 x 60 text fits on the target.
static void start(u32 pixel_size) {
    set_up();
    resize_fonts(pixel_size);
    f32 advance = get_or_add_glyph(&code_font_pool, 'm', nullptr, nullptr)->advance;
    renderer_init_headless((u32)(advance * COLUMNS + 16), (u32)(code_font_pool.line_height * LINES + 16));
}

static void BM_code_screen_warm(benchmark::State &state) {
    start(16);
    draw_screen(16);
    for (auto _ : state) {
        draw_screen(16);
        benchmark::DoNotOptimize(renderer_quad_instances.count);
    }
    state.counters["glyph_quads"] = renderer_quad_instances.count;
}
BENCHMARK(BM_code_screen_warm)->Unit(benchmark::kMicrosecond);

static void BM_code_screen_cold(benchmark::State &state) {
    start(16);
    for (auto _ : state) {
        resize_fonts(16); // every glyph cache emptied: each glyph is rasterised again
        draw_screen(16);
        benchmark::DoNotOptimize(renderer_quad_instances.count);
    }
    state.counters["glyph_quads"] = renderer_quad_instances.count;
}
BENCHMARK(BM_code_screen_cold)->Unit(benchmark::kMicrosecond);

// A peer in the same run: copying the same text bytes into the quad array
// with no layout at all, the floor any renderer pays for as many quads.
static void BM_peer_memcpy_quads(benchmark::State &state) {
    start(16);
    draw_screen(16);
    u32 n = renderer_quad_instances.count;
    static Quad_Instance copy[COLUMNS * LINES];
    for (auto _ : state) {
        memcpy(copy, renderer_quad_instances.data, (size_t)n * sizeof(Quad_Instance));
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(BM_peer_memcpy_quads)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
