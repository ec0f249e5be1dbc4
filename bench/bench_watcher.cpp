// One file watcher pass over 64 open files (the custom layer's two sources
// included), against the floor it cannot beat: 66 bare stat() calls on the
// same paths. The watcher runs a pass every 100 ms for the whole session.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include "core/memory.h"
#include "core/strings.h"
#include "shell/file_watcher.h"
#include "shell/os_wake.h"
#include "text/file.h"
#include "text/text_state.h"

constexpr int NUM_FILES = 64;
static std::vector<std::string> paths;
static File *files[NUM_FILES];
static void lock_none() {}
static u32 num_tabs() { return NUM_FILES; }
static File *tab_at(u32 i) { return files[i]; }
static void no_wake() {}

static void set_up() {
    if (!paths.empty()) return;
    init_memory();
    editor_text_init();
    char directory[] = "/tmp/tarno_bench_watcher_XXXXXX";
    if (!mkdtemp(directory)) exit(1);
    for (int i = 0; i < NUM_FILES + 2; i++) {
        std::string path = std::string(directory) + "/file_" + std::to_string(i) + ".txt";
        FILE *f = fopen(path.c_str(), "wb");
        fprintf(f, "line %d\n", i);
        fclose(f);
        paths.push_back(path);
    }
    for (int i = 0; i < NUM_FILES; i++) {
        files[i] = add_a_file();
        load_file_from_path(S(paths[i].c_str()), files[i]);
    }
    String sources[] = {S(paths[NUM_FILES].c_str()), S(paths[NUM_FILES + 1].c_str())};
    custom_layer_watch_set_files(sources, 2);
    text_hooks.lock_tabs = lock_none;
    text_hooks.unlock_tabs = lock_none;
    text_hooks.num_file_tabs = num_tabs;
    text_hooks.file_tab_at = tab_at;
    os_wake_main_loop = no_wake;
}

static void BM_watcher_pass(benchmark::State &state) {
    set_up();
    for (auto _ : state) {
        Tmp_Scope scope;
        benchmark::DoNotOptimize(file_watcher_check_once());
    }
}
BENCHMARK(BM_watcher_pass);

static void BM_peer_bare_stat(benchmark::State &state) {
    set_up();
    struct stat status;
    for (auto _ : state) {
        for (const std::string &p : paths) benchmark::DoNotOptimize(stat(p.c_str(), &status));
    }
}
BENCHMARK(BM_peer_bare_stat);

BENCHMARK_MAIN();
