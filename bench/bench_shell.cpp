// The shell's frame costs, headless (no GPU upload): a file tab full of
// code, typing into and jumping through a 100 MB file, and a 50 MB file of
// one line. Peers in the same run: the bare text drawing of the same
// screen, the memmove an insertion must do, and one line count of the text.
// Big files are made in /tmp at run time and removed at exit.
#include <benchmark/benchmark.h>
#include "bench_fonts.h"
#include "render/fonts.h"
#include "render/ui.h"
#include "render/window.h"
#include "shell/shell.h"
#include "shell/frame.h"
#include "shell/tabs.h"
#include "text/file.h"
#include "text/editing.h"
#include "text/lines.h"
#include "text/text_state.h"
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include <math.h>

// Window sized for 200 x 60 characters of the code font.
static u32 frame_width, frame_height;

static void set_up() {
    static bool ready;
    if (ready) return;
    ready = true;
    init_memory();
    fonts_init_storage(nullptr);
    bench_load_system_fonts("bench_shell");
    ui_build_font_pools();
    resize_fonts(15);
    editor_text_init();
    shell_init();
    Font_Range *range;
    Glyph *m = get_or_add_glyph(&code_font_pool, 'm', nullptr, &range);
    frame_width = (u32)(m->advance * 200 + 80);
    frame_height = (u32)(ceilf(code_font_pool.line_height) * 60 + 1.5f * ui_font_pool.size);
    memset(&window, 0, sizeof window);
    window.width = frame_width;
    window.height = frame_height;
    ui_window = &window;
}

static void frame() {
    tmp_reset();
    renderer_init_headless(window.width, window.height);
    prepare_frame();
    ui_begin_frame();
    ui_mouse_position = Vector2{-1, -1};
    draw_and_update_editor(0, 0, (f32)window.width, (f32)window.height);
    ui_end_frame();
    window.num_events = 0;
}

static std::string code_text(u64 bytes) {
    const char *words[] = {"if", "(x", "==", "count)", "{", "return", "value[i]", "+", "0x1F;", "}", "for",
                           "s64", "offset", "=", "get_next(it);", "//", "comment", "while", "&&", "!done"};
    std::string text;
    text.reserve(bytes + 256);
    u32 seed = 7;
    while (text.size() < bytes) {
        std::string line = "    ";
        while (line.size() < 190) {
            seed = seed * 1103515245 + 12345;
            line += words[(seed >> 16) % 20];
            line += ' ';
        }
        text += line.substr(0, 200) + "\n";
    }
    return text;
}

static std::string temp_file(const std::string &name, const std::string &bytes) {
    std::string path = "/tmp/bench_shell_" + std::to_string(getpid()) + "_" + name;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) exit(1);
    fclose(f);
    return path;
}

// Opens a file into a tab (current after one frame); the disk copy goes at once.
static File *open_tab(const std::string &name, const std::string &bytes) {
    set_up();
    while (num_tabs() > 0) close_tab(tab_at(0));
    std::string path = temp_file(name, bytes);
    File *file = open_file_in_new_tab(String{(u8 *)path.data(), (s64)path.size()}, 1);
    unlink(path.c_str());
    frame();
    return file;
}

static void BM_FileTabFrame_200x60(benchmark::State &state) {
    open_tab("screen.c", code_text(200 * 80));
    frame(); // warm: glyphs cached, colouring done
    for (auto _ : state) {
        frame();
        benchmark::DoNotOptimize(renderer_quad_instances.count);
    }
    state.counters["quads"] = renderer_quad_instances.count;
}
BENCHMARK(BM_FileTabFrame_200x60)->Unit(benchmark::kMicrosecond);

// Peer: the same 60 lines drawn as plain text, without the view.
static void BM_PlainText_200x60(benchmark::State &state) {
    set_up();
    std::string text = code_text(200 * 60);
    f32 lh = ceilf(code_font_pool.line_height);
    for (auto _ : state) {
        renderer_init_headless(frame_width, frame_height);
        prepare_frame();
        const char *p = text.data();
        for (int l = 0; l < 60; l++) {
            draw_text((const u8 *)p, 200, &code_font_pool, ANCHOR_TOP_LEFT, 40, lh * l, white);
            p += 201;
        }
        benchmark::DoNotOptimize(renderer_quad_instances.count);
    }
}
BENCHMARK(BM_PlainText_200x60)->Unit(benchmark::kMicrosecond);

static File *big_file;
static File *open_big() {
    if (big_file && find_file_tab(big_file)) return big_file;
    big_file = open_tab("big.c", code_text(100ull << 20));
    return big_file;
}

// Typing at a place in a 100 MB file (the fraction of the text before it),
// then the frame that shows it.
static void BM_TypeAndFrame_100MB(benchmark::State &state) {
    File *file = open_big();
    u64 at = (u64)(file_length(file) * (state.range(0) / 100.0));
    editor_set_cursor(file, at);
    frame();
    for (auto _ : state) {
        editor_insert_character(file, 'x');
        frame();
    }
}
BENCHMARK(BM_TypeAndFrame_100MB)->Arg(99)->Arg(50)->Arg(0)->Unit(benchmark::kMicrosecond);

// The same keystroke without its frame: what the edit itself costs beside
// the memmove below (line count, colouring marks, undo record kept in step).
static void BM_TypeOnly_100MB(benchmark::State &state) {
    File *file = open_big();
    u64 at = (u64)(file_length(file) * (state.range(0) / 100.0));
    editor_set_cursor(file, at);
    frame();
    for (auto _ : state) editor_insert_character(file, 'x');
    frame();
}
BENCHMARK(BM_TypeOnly_100MB)->Arg(99)->Arg(50)->Arg(0)->Unit(benchmark::kMicrosecond);

// Peer: the memmove of the text after the cursor that any insertion into a
// contiguous buffer does.
static void BM_TailMemmove_100MB(benchmark::State &state) {
    File *file = open_big();
    u64 at = (u64)(file_length(file) * (state.range(0) / 100.0));
    u8 *text = file_text(file);
    for (auto _ : state) {
        memmove(text + at + 1, text + at, file_length(file) - at - 1);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_TailMemmove_100MB)->Arg(99)->Arg(50)->Arg(0)->Unit(benchmark::kMicrosecond);

static void BM_GoToFileEndAndFrame_100MB(benchmark::State &state) {
    File *file = open_big();
    for (auto _ : state) {
        state.PauseTiming();
        editor_set_cursor(file, 0);
        frame();
        state.ResumeTiming();
        editor_set_cursor(file, file_length(file));
        frame();
    }
}
BENCHMARK(BM_GoToFileEndAndFrame_100MB)->Unit(benchmark::kMillisecond);

// The first jump to the end of a freshly opened file: nothing about the
// text past the start is known yet (no context chunks for colouring).
static void BM_FirstGoToFileEndAndFrame_100MB(benchmark::State &state) {
    File *file = open_big();
    for (auto _ : state) {
        state.PauseTiming();
        editor_set_cursor(file, 0);
        frame();
        file->context_chunks.count = 0;
        file->syntax_state_known = 0;
        state.ResumeTiming();
        editor_set_cursor(file, file_length(file));
        frame();
    }
}
BENCHMARK(BM_FirstGoToFileEndAndFrame_100MB)->Unit(benchmark::kMillisecond);

// Peer: one count of the lines of the whole text.
static void BM_CountLines_100MB(benchmark::State &state) {
    File *file = open_big();
    for (auto _ : state) benchmark::DoNotOptimize(count_lines_in(file_text(file), file_length(file)));
}
BENCHMARK(BM_CountLines_100MB)->Unit(benchmark::kMillisecond);

// Every frame of a 50 MB single-line file while the cursor walks along it.
static void BM_SingleLineFrame_50MB(benchmark::State &state) {
    File *file = open_tab("one_line.txt", std::string(50ull << 20, 'a'));
    big_file = nullptr;
    u64 step = file_length(file) / 64, at = 0;
    for (auto _ : state) {
        at = (at + step) % file_length(file);
        editor_set_cursor(file, at);
        frame();
    }
}
BENCHMARK(BM_SingleLineFrame_50MB)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
