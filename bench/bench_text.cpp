// Text core timings on a generated file of about 128 MB: loading, counting
// lines, finding the last line, tokenising 1 MB, and an insertion plus its
// undo in the middle. `wc -l` and `cat > /dev/null` on the same file are
// timed in the same run as references (process start included for both
// them and the whole-process "--count-lines" mode used by bench/text.sh).
//
//   bench_text                      Google Benchmark run
//   bench_text --count-lines FILE   load FILE and print its line count
#include <benchmark/benchmark.h>
#include "bench_source_file.h"
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>
#include "core/memory.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/lines.h"
#include "text/text_state.h"
#include "text/tokeniser.h"
#include "text/undo.h"

static std::string bench_path;
static File *bench_file;

static void BM_load_file(benchmark::State &state) {
    File *file = add_a_file();
    for (auto _ : state) {
        bool ok = load_file_from_path(S(bench_path.c_str()), file);
        benchmark::DoNotOptimize(ok);
        tmp_reset();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)file_length(file));
    close_file(file);
}

static void BM_count_lines_in(benchmark::State &state) {
    u64 lines = 0;
    for (auto _ : state) {
        lines = count_lines_in(file_text(bench_file), file_length(bench_file));
        benchmark::DoNotOptimize(lines);
    }
    state.counters["lines"] = (double)lines;
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)file_length(bench_file));
}

static void BM_get_offset_at_last_line(benchmark::State &state) {
    u64 last = count_lines_in(file_text(bench_file), file_length(bench_file));
    for (auto _ : state) benchmark::DoNotOptimize(get_offset_at_line(file_text(bench_file), file_length(bench_file), last));
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)file_length(bench_file));
}

static void BM_tokenise_1MB(benchmark::State &state) {
    const u64 span = 1 << 20;
    u64 tokens = 0;
    for (auto _ : state) {
        Editor_Token token;
        u64 at = 0;
        tokens = 0;
        for (s64 next; at < span && (next = tokenise_next(file_text(bench_file), span, at, nullptr, &token)) >= 0;
             at = (u64)next)
            tokens++;
        benchmark::DoNotOptimize(tokens);
    }
    state.counters["tokens"] = (double)tokens;
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)span);
}

// Going back 1,000 tokens from the end of one 4 MB line with no white space
// (minified data): each step must not rescan the line from its start.
static void BM_previous_tokens_in_minified_line(benchmark::State &state) {
    std::string line;
    while (line.size() < (4u << 20)) line += "{\"key_1\":[1,2.5,-3],\"name\":\"abc\",\"on\":true},";
    for (auto _ : state) {
        Editor_Token token;
        u64 at = line.size();
        for (int i = 0; i < 1000; i++) at = (u64)tokenise_previous((const u8 *)line.data(), line.size(), at, nullptr, &token);
        benchmark::DoNotOptimize(at);
    }
}

static void BM_insert_and_undo_in_middle(benchmark::State &state) {
    u64 middle = file_length(bench_file) / 2;
    current_file = bench_file;
    for (auto _ : state) {
        editor_insert_text_at(bench_file, middle, S("inserted text"), false);
        editor_undo();
    }
}

static void run_reference(benchmark::State &state, const std::string &command) {
    for (auto _ : state) {
        int status = system(command.c_str());
        benchmark::DoNotOptimize(status);
    }
}
static void BM_reference_wc_l(benchmark::State &state) { run_reference(state, "wc -l '" + bench_path + "' > /dev/null"); }
static void BM_reference_cat(benchmark::State &state) { run_reference(state, "cat '" + bench_path + "' > /dev/null"); }

BENCHMARK(BM_load_file)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_count_lines_in)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_get_offset_at_last_line)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_tokenise_1MB)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_previous_tokens_in_minified_line)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_insert_and_undo_in_middle)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_reference_wc_l)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_reference_cat)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

int main(int argc, char **argv) {
    init_memory();
    editor_text_init();
    if (argc == 3 && strcmp(argv[1], "--count-lines") == 0) {
        File *file = add_a_file();
        u64 start = os_get_time_microseconds();
        if (!load_file_from_path(S(argv[2]), file)) {
            String e = editor_last_error();
            fprintf(stderr, "%.*s\n", (int)e.count, (const char *)e.data);
            return 1;
        }
        u64 loaded = os_get_time_microseconds();
        printf("%llu\n", (unsigned long long)count_lines_in(file_text(file), file_length(file)));
        if (getenv("TARNO_BENCH_VERBOSE"))
            fprintf(stderr, "load_file %llu us, count_lines_in %llu us\n", (unsigned long long)(loaded - start),
                    (unsigned long long)global_get_num_lines_time);
        return 0;
    }
    const char *size_env = getenv("TARNO_BENCH_TEXT_MB");
    size_t megabytes = size_env ? (size_t)atoi(size_env) : 128;
    bench_path = "/tmp/tarno-bench-text-" + std::to_string(getpid()) + ".txt";
    bench_generate_source_file(bench_path, megabytes << 20);
    bench_file = add_a_file();
    if (!load_file_from_path(S(bench_path.c_str()), bench_file)) {
        fprintf(stderr, "could not load the generated file\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    unlink(bench_path.c_str());
    return 0;
}
