// Typing one character through the editor API in a 100 MB file: the
// foreign-call dispatch, the insertion into the one contiguous text buffer
// and its undo record, at the end, the middle and the start of the file.
// The reference in the same run is a bare memmove of the bytes that follow
// the cursor, the least any insertion into a contiguous buffer must do.
//
//   bench_api        Google Benchmark run (TARNO_BENCH_API_MB sets the size)
#include <benchmark/benchmark.h>
#include "bench_source_file.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unistd.h>
#include "core/memory.h"
#include "text/editor_api.h"
#include "text/file.h"
#include "text/text_state.h"

static std::string bench_path;
static File *bench_file;

static u16 insert_character_id, undo_id;

// state.range(0): where the cursor stands, in per-mille of the length.
static void BM_insert_character(benchmark::State &state) {
    current_file = bench_file;
    u64 at = file_length(bench_file) * (u64)state.range(0) / 1000;
    Api_U32_Block block = {'x'};
    for (auto _ : state) {
        bench_file->cursor = bench_file->selection_anchor = at;
        handle_foreign_call((u8 *)&block, insert_character_id);
        state.PauseTiming();
        handle_foreign_call(nullptr, undo_id); // back to the same length for the next round
        state.ResumeTiming();
    }
    state.counters["tail_MB"] = (double)(file_length(bench_file) - at) / (1 << 20);
}

static void BM_reference_memmove_tail(benchmark::State &state) {
    u64 at = file_length(bench_file) * (u64)state.range(0) / 1000;
    u8 *text = file_text(bench_file);
    u64 tail = file_length(bench_file) - at;
    for (auto _ : state) {
        memmove(text + at + 1, text + at, tail); // there is room: the buffer has spare capacity
        memmove(text + at, text + at + 1, tail);
        benchmark::ClobberMemory();
    }
    // Two moves per round: halve to compare with one insertion.
    state.counters["one_move"] = benchmark::Counter((double)state.iterations() * 2, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_insert_character)->Arg(1000)->Arg(500)->Arg(0)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_reference_memmove_tail)->Arg(1000)->Arg(500)->Arg(0)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

int main(int argc, char **argv) {
    init_memory();
    editor_text_init();
    setup_foreign_routines_table();
    insert_character_id = foreign_routine_id(S("insert_character"));
    undo_id = foreign_routine_id(S("undo"));
    const char *size_env = getenv("TARNO_BENCH_API_MB");
    size_t megabytes = size_env ? (size_t)atoi(size_env) : 100;
    bench_path = "/tmp/tarno-bench-api-" + std::to_string(getpid()) + ".txt";
    bench_generate_source_file(bench_path, megabytes << 20);
    bench_file = add_a_file();
    if (!load_file_from_path(S(bench_path.c_str()), bench_file)) {
        fprintf(stderr, "could not load the generated file\n");
        return 1;
    }
    unlink(bench_path.c_str());
    // One insertion grows the buffer once; keep that out of the timings.
    Api_U32_Block block = {'x'};
    handle_foreign_call((u8 *)&block, insert_character_id);
    handle_foreign_call(nullptr, undo_id);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
