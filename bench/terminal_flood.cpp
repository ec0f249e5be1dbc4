// terminal_flood: `yes | head -c 100000000` through the terminal module while
// a frame loop lays out the visible bottom 60 lines every 16 ms, as the view
// does. Reports the per-frame work (median, 99th percentile, worst), the
// time to drain the flood against the same pipeline into /dev/null, peak
// memory, and how long a kill of an endless `yes` takes.
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <vector>
#include "core/memory.h"
#include "shell/terminal.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"

static u64 now() { return os_get_time_microseconds(); }
static void sleep_until(u64 t) {
    u64 n = now();
    if (t <= n) return;
    timespec s = {(time_t)((t - n) / 1000000), (long)((t - n) % 1000000) * 1000};
    nanosleep(&s, nullptr);
}

// One frame's work: the visible lines and their runs.
static u64 frame(Terminal *terminal, Terminal_Run *runs) {
    u64 start = now();
    tmp_reset();
    u64 total = 0;
    terminal_layout_visible(terminal, 0, 0, runs, 0, &total);
    u32 n = terminal_layout_visible(terminal, total > 60 ? total - 60 : 0, 60, runs, 4096, &total);
    u64 bytes = 0;
    for (u32 i = 0; i < n; i++) bytes += (u64)runs[i].text.count;
    if (bytes == ~0ull) printf("-");
    return now() - start;
}

static u64 percentile(std::vector<u64> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, (size_t)(p * (double)v.size()))];
}

int main() {
    init_memory();
    editor_text_init();
    init_terminals();
    Filepath here;
    set_filepath_from(&here, S("/tmp"));
    Terminal *terminal = add_a_terminal(&here);
    File *input = add_a_file();
    static Terminal_Run runs[4096];

    u64 peer_start = now();
    if (system("yes | head -c 100000000 > /dev/null") != 0) return 1;
    u64 peer = now() - peer_start;

    const char *command = "yes | head -c 100000000";
    editor_insert_text_at(input, 0, S(command), false);
    u64 start = now();
    execute_terminal_command_line(terminal, input, nullptr, nullptr, 0);
    Terminal_Result *result = terminal->current_result;
    std::vector<u64> frames;
    u64 next = now();
    while (__atomic_load_n(&result->flags, __ATOMIC_SEQ_CST) & RESULT_RUNNING) {
        frames.push_back(frame(terminal, runs));
        next += 16000;
        sleep_until(next);
    }
    u64 drained = now() - start;
    u64 bytes = result->dropped_bytes + result->output.count;

    // Kill latency on an endless flood.
    editor_insert_text_at(input, 0, S("yes"), false);
    execute_terminal_command_line(terminal, input, nullptr, nullptr, 0);
    Terminal_Result *endless = terminal->current_result;
    for (u64 t = now() + 500000; now() < t;) frames.push_back(frame(terminal, runs)), sleep_until(now() + 16000);
    u64 kill_start = now();
    kill_terminal_process(terminal);
    while (__atomic_load_n(&endless->flags, __ATOMIC_SEQ_CST) & RESULT_RUNNING) usleep(100);
    u64 killed = now() - kill_start;

    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("flood of %llu bytes through the terminal: %.0f ms (peer, the same pipeline into /dev/null: %.0f ms)\n",
           (unsigned long long)bytes, drained / 1000.0, peer / 1000.0);
    printf("frame work over %zu frames: median %.3f ms, p99 %.3f ms, worst %.3f ms\n", frames.size(),
           percentile(frames, 0.5) / 1000.0, percentile(frames, 0.99) / 1000.0, percentile(frames, 1.0) / 1000.0);
    size_t over = 0;
    for (u64 f : frames) over += f > 16000;
    printf("frames whose work passed 16 ms: %zu (a busy machine can deschedule either thread)\n", over);
    printf("output kept %u bytes, %u chunks; peak RSS %.1f MiB\n", result->output.count, result->chunks.count,
           usage.ru_maxrss / 1024.0);
    printf("kill of an endless yes until its worker ended: %.1f ms\n", killed / 1000.0);
    close_terminal(terminal);
    return 0;
}
