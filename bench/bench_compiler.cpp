// Tokenising a generated program of declarations (the same shape as
// bench/compiler.sh generates), in lines per second.
#include <benchmark/benchmark.h>
#include <string>
#include "compiler/front/compiler.h"

static std::string generate_program(int blocks, int *lines) {
    std::string out;
    *lines = 0;
    out += "$C0 := 1;\n";
    *lines += 1;
    for (int i = 1; i <= blocks; i++) {
        char buffer[512];
        snprintf(buffer, sizeof buffer,
                 "$C%d := (C%d * 3 + %d + (7 << 2)) %% 1000;\n"
                 "$E%d: #enum u16 = {\n    $A;\n    $B;\n    $K := 10;\n    $D;\n};\n"
                 "$S%d: #struct {\n    x: u8;\n    y: u32;\n    z: u64;\n};\n",
                 i, i - 1, i, i, i);
        out += buffer;
        *lines += 12;
    }
    return out;
}

static void ensure_compiler() {
    static bool done = false;
    if (done) return;
    init_memory();
    // The support files sit in runtime/ beside this source's folder.
    static std::string root = std::string(__FILE__).substr(0, std::string(__FILE__).rfind("/bench/")) + "/runtime";
    init_compiler(String{(u8 *)root.data(), (s64)root.size()});
    done = true;
}

static void BM_tokenise(benchmark::State &state) {
    ensure_compiler();
    int lines;
    std::string program = generate_program((int)state.range(0), &lines);
    for (auto _ : state) {
        state.PauseTiming();
        Front_End_Options options = {};
        options.use_text = true;
        compile_front_end(S("/bench/empty.8"), options); // resets the token pools
        free_compiler_state();
        state.ResumeTiming();
        File_Record *file = compiler_add_file_from_memory(S("/bench/main.8"), String{(u8 *)program.data(), (s64)program.size()});
        benchmark::DoNotOptimize(file);
    }
    state.counters["lines_per_second"] = benchmark::Counter((double)lines, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_tokenise)->Arg(17000)->Unit(benchmark::kMillisecond);

static void BM_check(benchmark::State &state) {
    ensure_compiler();
    int lines;
    std::string program = generate_program((int)state.range(0), &lines);
    for (auto _ : state) {
        Front_End_Options options = {};
        options.use_text = true;
        options.check = true;
        options.text = String{(u8 *)program.data(), (s64)program.size()};
        bool ok = compile_front_end(S("/bench/main.8"), options);
        if (!ok) state.SkipWithError("the generated program does not compile");
        free_compiler_state();
    }
    state.counters["lines_per_second"] = benchmark::Counter((double)lines, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_check)->Arg(17000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
