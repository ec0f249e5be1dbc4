// General-purpose allocator against the C library's malloc/free, for the
// sizes of each class and a few allocation patterns.
#include <benchmark/benchmark.h>
#include <math.h>
#include <stdlib.h>
#include <random>
#include <vector>
#include "core/memory.h"

// Touching the first byte keeps both allocators honest about handing out real memory.
static void touch(void *p) {
    *(volatile u8 *)p = 1;
    benchmark::DoNotOptimize(p);
}

// [SECTION] One allocation freed at once

static void BM_gp_alloc_free(benchmark::State &state) {
    u64 size = (u64)state.range(0);
    for (auto _ : state) {
        Allocation a;
        gp_allocate(&a, size);
        touch(a.memory);
        gp_free(&a);
    }
}
static void BM_malloc_free(benchmark::State &state) {
    u64 size = (u64)state.range(0);
    for (auto _ : state) {
        void *p = malloc(size);
        touch(p);
        free(p);
    }
}
#define SIZES Arg(16)->Arg(128)->Arg(512)->Arg(1024)->Arg(4096)->Arg(65536)->Arg(1 << 20)
BENCHMARK(BM_gp_alloc_free)->SIZES;
BENCHMARK(BM_malloc_free)->SIZES;

// [SECTION] A batch held at once, freed in reverse or in order

template <bool reverse> static void BM_gp_batch(benchmark::State &state) {
    u64 size = (u64)state.range(0);
    const int n = 200;
    std::vector<Allocation> live(n);
    for (auto _ : state) {
        for (int i = 0; i < n; i++) {
            gp_allocate(&live[i], size);
            touch(live[i].memory);
        }
        for (int i = 0; i < n; i++) gp_free(&live[reverse ? n - 1 - i : i]);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
template <bool reverse> static void BM_malloc_batch(benchmark::State &state) {
    u64 size = (u64)state.range(0);
    const int n = 200;
    std::vector<void *> live(n);
    for (auto _ : state) {
        for (int i = 0; i < n; i++) {
            live[i] = malloc(size);
            touch(live[i]);
        }
        for (int i = 0; i < n; i++) free(live[reverse ? n - 1 - i : i]);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
#define BATCH_SIZES Arg(16)->Arg(128)->Arg(512)->Arg(2048)->Arg(4096)
BENCHMARK_TEMPLATE(BM_gp_batch, true)->BATCH_SIZES;
BENCHMARK_TEMPLATE(BM_malloc_batch, true)->BATCH_SIZES;
BENCHMARK_TEMPLATE(BM_gp_batch, false)->BATCH_SIZES;
BENCHMARK_TEMPLATE(BM_malloc_batch, false)->BATCH_SIZES;

// [SECTION] Random sizes and random frees over a working set (fragmentation)

struct Random_Plan {
    std::vector<u32> sizes;
    std::vector<u32> slots;
    Random_Plan(u32 max_size, u32 working_set) {
        std::mt19937 random(1);
        for (int i = 0; i < 4096; i++) {
            sizes.push_back(1 + random() % max_size);
            slots.push_back(random() % working_set);
        }
    }
};

static void BM_gp_random(benchmark::State &state) {
    u32 working_set = 256;
    Random_Plan plan((u32)state.range(0), working_set);
    std::vector<Allocation> live(working_set);
    for (Allocation &a : live) a = Allocation{};
    size_t step = 0;
    for (auto _ : state) {
        Allocation &a = live[plan.slots[step & 4095]];
        gp_free(&a);
        gp_allocate(&a, plan.sizes[step & 4095]);
        touch(a.memory);
        step++;
    }
    for (Allocation &a : live) gp_free(&a);
}
static void BM_malloc_random(benchmark::State &state) {
    u32 working_set = 256;
    Random_Plan plan((u32)state.range(0), working_set);
    std::vector<void *> live(working_set, nullptr);
    size_t step = 0;
    for (auto _ : state) {
        void *&p = live[plan.slots[step & 4095]];
        free(p);
        p = malloc(plan.sizes[step & 4095]);
        touch(p);
        step++;
    }
    for (void *p : live) free(p);
}
BENCHMARK(BM_gp_random)->Arg(512)->Arg(4096)->Arg(65536);
BENCHMARK(BM_malloc_random)->Arg(512)->Arg(4096)->Arg(65536);

// [SECTION] Two threads at once: one global lock against per-thread caches

static void BM_gp_threads(benchmark::State &state) {
    for (auto _ : state) {
        Allocation a;
        gp_allocate(&a, 64);
        touch(a.memory);
        gp_free(&a);
    }
}
static void BM_malloc_threads(benchmark::State &state) {
    for (auto _ : state) {
        void *p = malloc(64);
        touch(p);
        free(p);
    }
}
BENCHMARK(BM_gp_threads)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_malloc_threads)->Threads(1)->Threads(2)->UseRealTime();

// [SECTION] Text buffers in many threads, as the search and file workers use them

// Each thread keeps four buffers of 4 KiB to 4 MiB (log-uniform) alive and
// replaces one per step, writing a byte on each of its 4 KiB pages as a file
// read would: memory that went back to the system costs its page faults again.
struct Buffer_Plan {
    u64 sizes[1024];
    u32 slots[1024];
    explicit Buffer_Plan(u32 seed) {
        std::mt19937 random(seed);
        for (int i = 0; i < 1024; i++) {
            sizes[i] = (u64)(4096.0 * pow(1024.0, (random() % 10000) / 10000.0));
            slots[i] = random() % 4;
        }
    }
};
static void write_pages(void *p, u64 size) {
    for (u64 i = 0; i < size; i += 4096) ((volatile u8 *)p)[i] = 1;
}

static void BM_gp_text_buffers(benchmark::State &state) {
    Buffer_Plan plan(1 + (u32)state.thread_index());
    Allocation live[4] = {};
    u32 step = 0;
    for (auto _ : state) {
        Allocation &a = live[plan.slots[step & 1023]];
        gp_free(&a);
        gp_allocate(&a, plan.sizes[step & 1023]);
        write_pages(a.memory, a.size);
        step++;
    }
    for (Allocation &a : live) gp_free(&a);
}
static void BM_malloc_text_buffers(benchmark::State &state) {
    Buffer_Plan plan(1 + (u32)state.thread_index());
    void *live[4] = {};
    u32 step = 0;
    for (auto _ : state) {
        void *&p = live[plan.slots[step & 1023]];
        free(p);
        p = malloc(plan.sizes[step & 1023]);
        write_pages(p, plan.sizes[step & 1023]);
        step++;
    }
    for (void *p : live) free(p);
}
BENCHMARK(BM_gp_text_buffers)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_malloc_text_buffers)->Threads(1)->Threads(4)->UseRealTime();

// [SECTION] Dynamic_Array growth against std::vector

static void BM_dynamic_array_push(benchmark::State &state) {
    for (auto _ : state) {
        Dynamic_Array array;
        dynamic_array_init(&array, sizeof(u64));
        for (u64 i = 0; i < (u64)state.range(0); i++) *(u64 *)dynamic_array_add(&array) = i;
        benchmark::DoNotOptimize(array.data);
        dynamic_array_free(&array);
    }
}
static void BM_vector_push(benchmark::State &state) {
    for (auto _ : state) {
        std::vector<u64> v;
        for (u64 i = 0; i < (u64)state.range(0); i++) v.push_back(i);
        benchmark::DoNotOptimize(v.data());
    }
}
BENCHMARK(BM_dynamic_array_push)->Arg(1000)->Arg(100000);
BENCHMARK(BM_vector_push)->Arg(1000)->Arg(100000);

int main(int argc, char **argv) {
    init_memory();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
