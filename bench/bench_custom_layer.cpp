// The default custom layer at work, headless (no GPU upload):
//   - a keystroke (key press and character events) through #events of the
//     compiled default layer to the end of the frame that shows it, in a
//     100 MB file, typing near the end and at the start; peers in the same
//     run: the same insertion made directly (no layer) and the bare memmove
//     of the text's tail that a contiguous buffer needs;
//   - compiling and loading the default custom.8 (compile, write custom.8b,
//     map, relocate, #on_load);
//   - saving custom.8 until the first frame in which the new layer runs,
//     through the real watcher thread (inotify) and the frame driver.
// The runtime files come from the source tree into a temporary executable
// directory; big files are made in /tmp and removed at once.
#include <benchmark/benchmark.h>
#include "bench_fonts.h"
#include "core/assets.h"
#include "core/log.h"
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"
#include "render/fonts.h"
#include "render/ui.h"
#include "render/window.h"
#include "shell/custom_layer.h"
#include "shell/custom_layer_events.h"
#include "shell/file_watcher.h"
#include "shell/frame.h"
#include "shell/globals.h"
#include "shell/os_wake.h"
#include "shell/shell.h"
#include "shell/tabs.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

#ifndef TARNO_SOURCE_DIR
#error "the benchmark reads the runtime files from the source tree"
#endif

static std::string bin_directory;
static std::string shipped_custom;

static bool read_file(const std::string &path, std::string *out) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
    fclose(f);
    return true;
}

static bool write_file(const std::string &path, const std::string &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

static void no_wake() {}

static void set_up() {
    static bool ready;
    if (ready) return;
    ready = true;
    init_memory();
    init_logging();
    fonts_init_storage(nullptr);
    bench_load_system_fonts("bench_custom_layer");
    ui_build_font_pools();
    resize_fonts(15);
    editor_text_init();
    shell_init();
    memset(&window, 0, sizeof window);
    window.width = 1600;
    window.height = 1000;
    ui_window = &window;
    os_wake_main_loop = no_wake;

    char directory[] = "/tmp/tarno_bench_layer_XXXXXX";
    if (!mkdtemp(directory)) exit(1);
    bin_directory = directory;
    for (const char *name : {"inject.8", "api.8", "custom.8", "keys.8", "syntax.8"}) {
        std::string bytes;
        if (!read_file(std::string(TARNO_SOURCE_DIR) + "/runtime/" + name, &bytes) ||
            !write_file(bin_directory + "/" + name, bytes))
            exit(1);
        if (std::string(name) == "custom.8") shipped_custom = bytes;
    }
    static char path[4096];
    snprintf(path, sizeof path, "%s", bin_directory.c_str());
    executable_filepath = String{(u8 *)path, (s64)bin_directory.size()};
    init_compiler(executable_filepath);
    if (!compile_custom_layer(false)) {
        fprintf(stderr, "bench_custom_layer: the default layer did not compile\n");
        exit(1);
    }
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

// C-like text, so that each frame also runs the layer's #syntax block over
// the visible lines.
static std::string text_of(u64 bytes) {
    std::string line = "    if (value_count > 10) { result += compute(value_count, 0x1F); } // note\n";
    std::string text;
    text.reserve(bytes + line.size());
    while (text.size() < bytes) text += line;
    return text;
}

static File *big_file;
static File *open_big() {
    set_up();
    if (big_file) return big_file;
    std::string path = "/tmp/bench_custom_layer_" + std::to_string(getpid()) + "_big.c";
    if (!write_file(path, text_of(100ull << 20))) exit(1);
    big_file = open_file_in_new_tab(String{(u8 *)path.data(), (s64)path.size()}, 1);
    unlink(path.c_str());
    frame();
    return big_file;
}

static void place_cursor(File *file, int percent) {
    editor_set_cursor(file, (u64)(file_length(file) * (percent / 100.0)));
    frame();
}

// What the window queues for one key that types a character.
static void push_keystroke(u32 code_point) {
    window_push_event(EVENT_KEY_PRESSED, 0)->code = code_point >= 'a' && code_point <= 'z' ? code_point - 32 : code_point;
    window_push_event(EVENT_CHARACTER, 0)->code = code_point;
}

static void BM_KeystrokeThroughLayerToFrame_100MB(benchmark::State &state) {
    File *file = open_big();
    place_cursor(file, (int)state.range(0));
    u64 before = file_length(file);
    for (auto _ : state) {
        push_keystroke('x');
        frame();
    }
    if (file_length(file) != before + state.iterations()) state.SkipWithError("the layer did not type");
    if (custom_layer.disabled) state.SkipWithError("the layer was switched off");
}
BENCHMARK(BM_KeystrokeThroughLayerToFrame_100MB)->Arg(99)->Arg(0)->Unit(benchmark::kMicrosecond);

// Peer: the same insertion without the layer, then the frame.
static void BM_DirectInsertToFrame_100MB(benchmark::State &state) {
    File *file = open_big();
    place_cursor(file, (int)state.range(0));
    for (auto _ : state) {
        editor_insert_character(file, 'x');
        frame();
    }
}
BENCHMARK(BM_DirectInsertToFrame_100MB)->Arg(99)->Arg(0)->Unit(benchmark::kMicrosecond);

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
BENCHMARK(BM_TailMemmove_100MB)->Arg(99)->Arg(0)->Unit(benchmark::kMicrosecond);

// Compile, write custom.8b, load, relocate and run #on_load.
static void BM_CompileAndLoadDefaultLayer(benchmark::State &state) {
    set_up();
    for (auto _ : state) {
        if (!compile_custom_layer(false)) state.SkipWithError("compile failed");
    }
}
BENCHMARK(BM_CompileAndLoadDefaultLayer)->Unit(benchmark::kMillisecond);

// From the write of custom.8 to the end of the first frame in which the new
// layer has run: the real watcher thread notices the save, the frame driver
// recompiles. The two versions differ in the font size #on_load sets.
static void BM_SaveToNewLayerActive(benchmark::State &state) {
    set_up();
    static bool watching;
    if (!watching) {
        watching = start_file_watcher_thread();
        if (!watching) {
            state.SkipWithError("no watcher thread");
            return;
        }
    }
    const std::string from = "$DEFAULT_FONT_SIZE: f32 = 18.0;";
    if (shipped_custom.find(from) == std::string::npos) {
        state.SkipWithError("custom.8 no longer sets DEFAULT_FONT_SIZE");
        return;
    }
    int round = 0;
    for (auto _ : state) {
        f32 size = round++ % 2 ? 19.0f : 20.0f;
        std::string text = shipped_custom;
        text.replace(text.find(from), from.size(), "$DEFAULT_FONT_SIZE: f32 = " + std::to_string((int)size) + ".0;");
        write_file(bin_directory + "/custom.8", text);
        u32 frames = 0;
        while (fabsf(global_font_size_setting - size) > 0.01f && frames++ < 100000) frame();
        if (frames >= 100000) state.SkipWithError("the new layer never ran");
    }
}
BENCHMARK(BM_SaveToNewLayerActive)->Unit(benchmark::kMillisecond)->Iterations(20);

BENCHMARK_MAIN();
