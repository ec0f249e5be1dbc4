// terminal_flood [BYTES]: `yes | head -c BYTES` (100,000,000 by default) in a
// terminal tab while whole editor frames (the frame driver, headless, on a
// 200 x 60 window) run every 16 ms, as the main loop does when the window is
// shown. Reports each frame's processor time on the main thread (median,
// 99th percentile, worst; what the frame itself costs) and its wall time
// (which a busy machine can stretch by taking the processor away), how many
// frames drew the previous layout because the reader held the lock, the
// drain time against the same flood through a pseudo-terminal drained by
// script(1), peak memory, and how long a kill of an endless `yes` takes.
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <math.h>
#include <algorithm>
#include <string>
#include <vector>
#include "bench_fonts.h"
#include "core/memory.h"
#include "render/fonts.h"
#include "render/renderer.h"
#include "render/ui.h"
#include "render/window.h"
#include "shell/frame.h"
#include "shell/lister_hooks.h"
#include "shell/shell.h"
#include "shell/tabs.h"
#include "shell/terminal.h"
#include "text/text_state.h"

static u64 now() { return os_get_time_microseconds(); }
// Processor time of the calling thread.
static u64 thread_cpu_now() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (u64)t.tv_sec * 1000000 + (u64)t.tv_nsec / 1000;
}
static void sleep_until(u64 t) {
    u64 n = now();
    if (t <= n) return;
    timespec s = {(time_t)((t - n) / 1000000), (long)((t - n) % 1000000) * 1000};
    nanosleep(&s, nullptr);
}

static void set_up() {
    init_memory();
    fonts_init_storage(nullptr);
    bench_load_system_fonts("terminal_flood");
    ui_build_font_pools();
    resize_fonts(15);
    editor_text_init();
    shell_init();
    worker_hooks.window_is_focused = [] { return true; }; // no desktop notifications from a benchmark
    Font_Range *range;
    Glyph *m = get_or_add_glyph(&code_font_pool, 'm', nullptr, &range);
    memset(&window, 0, sizeof window);
    window.width = (u32)(m->advance * 200 + 80);
    window.height = (u32)(ceilf(code_font_pool.line_height) * 60 + 1.5f * ui_font_pool.size);
    ui_window = &window;
}

struct Frame_Times {
    std::vector<u64> cpu, wall, quads;
};

static void frame(Frame_Times *times) {
    u64 wall = now(), cpu = thread_cpu_now();
    tmp_reset();
    renderer_init_headless(window.width, window.height);
    prepare_frame();
    ui_begin_frame();
    ui_mouse_position = Vector2{-1, -1};
    draw_and_update_editor(0, 0, (f32)window.width, (f32)window.height);
    ui_end_frame();
    window.num_events = 0;
    times->cpu.push_back(thread_cpu_now() - cpu);
    times->wall.push_back(now() - wall);
    times->quads.push_back(renderer_quad_instances.count);
}

static double percentile_ms(std::vector<u64> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return (double)v[std::min(v.size() - 1, (size_t)(p * (double)v.size()))] / 1000.0;
}

static void report(const char *what, const std::vector<u64> &v) {
    size_t over = 0;
    for (u64 f : v) over += f > 16000;
    printf("  %-5s median %.3f ms, p99 %.3f ms, worst %.3f ms; over 16 ms: %zu\n", what, percentile_ms(v, 0.5),
           percentile_ms(v, 0.99), percentile_ms(v, 1.0), over);
}

// Resident memory now, in MiB.
static double resident_mib() {
    FILE *f = fopen("/proc/self/statm", "r");
    unsigned long long size = 0, resident = 0;
    if (f) {
        if (fscanf(f, "%llu %llu", &size, &resident) != 2) resident = 0;
        fclose(f);
    }
    return (double)resident * (double)sysconf(_SC_PAGESIZE) / (1024.0 * 1024.0);
}

static bool running(Terminal_Result *r) { return r && (__atomic_load_n(&r->flags, __ATOMIC_SEQ_CST) & RESULT_RUNNING); }

int main(int argc, char **argv) {
    unsigned long long bytes = argc > 1 ? strtoull(argv[1], nullptr, 10) : 100000000ull;
    if (!bytes) {
        fprintf(stderr, "usage: terminal_flood [BYTES]\n");
        return 2;
    }
    set_up();
    std::string command = "yes | head -c " + std::to_string(bytes);

    u64 peer_start = now();
    std::string peer_command = "script -q -c '" + command + "' /dev/null > /dev/null";
    bool peer_ok = system(peer_command.c_str()) == 0;
    u64 peer = now() - peer_start;

    text_hooks.make_a_new_terminal();
    Terminal *terminal = (Terminal *)current_tab()->content;
    Frame_Times times;
    frame(&times); // fonts and the first frame's glyphs are in before memory is read
    double resident_before = resident_mib();
    u64 start = now();
    text_hooks.run_terminal_command(String{(u8 *)command.data(), (s64)command.size()});
    Terminal_Result *result = terminal->current_result;
    for (u64 next = now(); running(result); sleep_until(next += 16000)) frame(&times);
    u64 drained = now() - start;
    u64 through = result->dropped_bytes + result->output.count;
    u64 reused = terminal->view.frames_reused;
    double resident_after = resident_mib();

    // Kill latency on an endless flood, frames running meanwhile.
    text_hooks.run_terminal_command(S("yes"));
    Terminal_Result *endless = terminal->current_result;
    for (u64 t = now() + 500000, next = now(); now() < t; sleep_until(next += 16000)) frame(&times);
    u64 kill_start = now();
    text_hooks.kill_current_terminal_process();
    while (running(endless)) usleep(100);
    u64 killed = now() - kill_start;

    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("%llu bytes through the terminal (%llu after the pty's CR LF): %.0f ms; peer, the same flood through a\n"
           "  pseudo-terminal drained by script(1) into /dev/null: %.0f ms%s\n",
           bytes, (unsigned long long)through, drained / 1000.0, peer / 1000.0, peer_ok ? "" : " (script failed)");
    printf("%zu frames, each a whole frame of the terminal tab:\n", times.cpu.size());
    report("cpu", times.cpu);
    report("wall", times.wall);
    std::vector<u64> q = times.quads;
    std::sort(q.begin(), q.end());
    printf("  quads drawn per frame: median %llu\n", (unsigned long long)q[q.size() / 2]);
    printf("  frames that drew the previous layout (the reader held the lock): %llu\n", (unsigned long long)reused);
    printf("output kept %u bytes, %u chunks; resident before the flood %.1f MiB, after it %.1f MiB, peak %.1f MiB\n",
           result->output.count, result->chunks.count, resident_before, resident_after, usage.ru_maxrss / 1024.0);
    printf("kill of an endless yes until its worker ended: %.1f ms\n", killed / 1000.0);
    close_tab(current_tab());
    return 0;
}
