// What a terminal tab shows: its history laid out line by line from the
// results' chunks, and the copy of the last layout that a frame draws again
// when the worker is busy with the result it needs.
#include "shell/terminal.h"
#include "core/strings.h"
#include <math.h>

// Takes the lock, giving up after `patience_us` (0: wait for as long as it takes).
static bool terminal_lock_within(volatile u8 *lock, u64 patience_us) {
    if (!patience_us) {
        spin_lock(lock);
        return true;
    }
    u64 deadline = 0;
    for (u32 spins = 0;; spins++) {
        u8 expected = 0;
        if (!__atomic_load_n(lock, __ATOMIC_RELAXED) &&
            __atomic_compare_exchange_n(lock, &expected, (u8)1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED))
            return true;
        __builtin_ia32_pause();
        if ((spins & 63) == 0) {
            u64 now = os_get_time_microseconds();
            if (!deadline) deadline = now + patience_us;
            else if (now >= deadline) return false;
        }
    }
}

static s64 terminal_layout(Terminal *terminal, u64 first_line, u32 num_lines, Terminal_Run *out, u32 capacity,
                           u64 *total_lines, u64 patience_us) {
    u64 line = 0; // first line of the result being looked at
    u32 runs = 0;
    u64 end_line = first_line + num_lines;
    for (Bucket_Iterator it = bucket_iterate(&terminal->results); it.element; bucket_iterator_next(&it)) {
        Terminal_Result *r = (Terminal_Result *)it.element;
        if (!terminal_lock_within(&r->lock, patience_us)) return -1;
        u64 lines_here = 1 + r->line_chunks.count;
        if (line + lines_here > first_line && line < end_line) {
            if (line >= first_line && runs < capacity) {
                out[runs++] = Terminal_Run{tcopy_string(r->command), terminal_big_colour_table[TERMINAL_WHITE],
                                           terminal_big_colour_table[TERMINAL_BLACK], (u32)(line - first_line), 1};
            }
            u64 from = first_line > line + 1 ? first_line - line - 1 : 0;
            u64 to = end_line - line - 1 < r->line_chunks.count ? end_line - line - 1 : r->line_chunks.count;
            const u8 *bytes = (const u8 *)r->output.data;
            const u32 *line_chunks = (const u32 *)r->line_chunks.data;
            const Terminal_Chunk *chunks = (const Terminal_Chunk *)r->chunks.data;
            for (u64 l = from; l < to; l++) {
                u32 c0 = line_chunks[l];
                u32 c1 = l + 1 < r->line_chunks.count ? line_chunks[l + 1] : r->chunks.count;
                u64 room = TERMINAL_VIEW_LINE_BYTES;
                for (u32 c = c0; c < c1 && runs < capacity && room; c++) {
                    const Terminal_Chunk *chunk = &chunks[c];
                    if (chunk->kind != TERMINAL_CHUNK_TEXT || !chunk->length) continue;
                    u64 length = chunk->length < room ? chunk->length : room;
                    room -= length;
                    out[runs++] = Terminal_Run{tcopy_string(String{(u8 *)bytes + chunk->start, (s64)length}),
                                               terminal_colour(r, chunk->foreground), terminal_colour(r, chunk->background),
                                               (u32)(line + 1 + l - first_line), 0};
                }
            }
        }
        line += lines_here;
        spin_unlock(&r->lock);
    }
    if (total_lines) *total_lines = line;
    return runs;
}

u32 terminal_layout_visible(Terminal *terminal, u64 first_line, u32 num_lines, Terminal_Run *out, u32 capacity,
                            u64 *total_lines) {
    return (u32)terminal_layout(terminal, first_line, num_lines, out, capacity, total_lines, 0);
}

s64 terminal_layout_visible_try(Terminal *terminal, u64 first_line, u32 num_lines, Terminal_Run *out, u32 capacity,
                                u64 *total_lines, u64 patience_us) {
    return terminal_layout(terminal, first_line, num_lines, out, capacity, total_lines, patience_us ? patience_us : 1);
}

void terminal_view_free(Terminal_View *view) {
    gp_free(&view->memory);
    *view = Terminal_View{};
}

// Keeps a copy of `runs` (texts included) in the view record.
static void terminal_view_keep(Terminal_View *view, const Terminal_Run *runs, u32 n, u32 num_lines, u64 total) {
    u64 text = 0;
    for (u32 i = 0; i < n; i++) text += (u64)runs[i].text.count;
    u64 need = (u64)n * sizeof(Terminal_Run) + text;
    if (view->memory.size < need || view->memory.size > 4 * need + KB(64)) {
        gp_free(&view->memory);
        gp_allocate(&view->memory, need + need / 2 + KB(4));
    }
    Terminal_Run *to = (Terminal_Run *)view->memory.memory;
    u8 *bytes = (u8 *)(to + n);
    for (u32 i = 0; i < n; i++) {
        to[i] = runs[i];
        if (runs[i].text.count) memcpy(bytes, runs[i].text.data, (size_t)runs[i].text.count);
        to[i].text.data = bytes;
        bytes += runs[i].text.count;
    }
    view->runs = to;
    view->num_runs = n;
    view->num_lines = num_lines;
    view->total_lines = total;
}

void terminal_view_scroll(Terminal *terminal, s64 lines) {
    Terminal_View *view = &terminal->view;
    s64 up = (s64)view->scroll_up + lines;
    view->scroll_up = up < 0 ? 0 : (u64)up; // the far end is clamped by the next layout
}

Terminal_Scroll_Bar terminal_scroll_bar(const Terminal_View *view, f32 height) {
    Terminal_Scroll_Bar bar = {};
    u64 total = view->total_lines;
    if (total <= view->num_lines || height <= 0) return bar;
    bar.most = total - view->num_lines;
    bar.thumb_height = fmaxf((f32)((f64)height * view->num_lines / (f64)total), fminf(10.0f, height));
    bar.travel = height - bar.thumb_height;
    u64 up = view->scroll_up < bar.most ? view->scroll_up : bar.most;
    bar.thumb_y = (f32)((f64)(bar.most - up) / (f64)bar.most * bar.travel);
    return bar;
}

void terminal_view_show_from(Terminal *terminal, u64 first) {
    Terminal_View *view = &terminal->view;
    u64 most = view->total_lines > view->num_lines ? view->total_lines - view->num_lines : 0;
    view->scroll_up = first >= most ? 0 : most - first;
}

// The first line shown; keeps a scrolled-back view on the same text as the
// history grows below it.
static u64 terminal_view_first_line(Terminal_View *view, u64 total, u32 num_lines) {
    if (view->scroll_up && total > view->total_lines && view->total_lines) view->scroll_up += total - view->total_lines;
    u64 most = total > num_lines ? total - num_lines : 0;
    if (view->scroll_up > most) view->scroll_up = most;
    return most - view->scroll_up;
}

const Terminal_View *terminal_view_layout(Terminal *terminal, u32 num_lines) {
    Terminal_View *view = &terminal->view;
    Tmp_Scope scope;
    u64 total = 0;
    Terminal_Run *runs = (Terminal_Run *)tmp_allocate_aligned(sizeof(Terminal_Run) * TERMINAL_VIEW_MAX_RUNS, 8);
    s64 n = terminal_layout_visible_try(terminal, 0, 0, runs, 0, &total, TERMINAL_VIEW_PATIENCE_US);
    if (n >= 0) {
        u64 first = terminal_view_first_line(view, total, num_lines);
        n = terminal_layout_visible_try(terminal, first, num_lines, runs, TERMINAL_VIEW_MAX_RUNS, &total,
                                        TERMINAL_VIEW_PATIENCE_US);
    }
    // Busy, and the last layout fits this view: it is drawn again.
    if (n < 0 && view->memory.size && view->num_lines == num_lines) {
        view->frames_reused++;
        return view;
    }
    if (n < 0) { // nothing to fall back on: wait this once
        terminal_layout_visible(terminal, 0, 0, runs, 0, &total);
        u64 first = terminal_view_first_line(view, total, num_lines);
        n = terminal_layout_visible(terminal, first, num_lines, runs, TERMINAL_VIEW_MAX_RUNS, &total);
    }
    terminal_view_keep(view, runs, (u32)n, num_lines, total);
    return view;
}
