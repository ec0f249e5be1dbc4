// Terminal: commands run through `sh -ci` in a pseudo-terminal, one worker
// thread per running command reading the output, and a small VT100 subset
// (colours, downward cursor moves) parsed into coloured chunks for the view.
#pragma once
#include "core/base.h"
#include "core/memory.h"
// Red, green, blue, alpha; the view turns it into the renderer's colour.
struct Terminal_Colour {
    f32 r, g, b, a;
};
#include "text/filepath.h"

struct File;

constexpr u64 MAX_TERMINAL_BUFFER_SIZE = 1048576;
// When a read would pass the limit the oldest output goes, down to this, so a
// flood does not move a whole MiB for every read.
constexpr u64 TERMINAL_BUFFER_KEEP_AFTER_DROP = 786432;
constexpr u32 TERMINAL_READ_SIZE = 10240;
constexpr u32 TERMINAL_HISTORY_TEXT = 4096;

enum Terminal_Flags : u32 {
    TERMINAL_IN_USE = 1,
    TERMINAL_WORKER_RUNNING = 2,
};
enum Terminal_Result_Flags : u32 {
    RESULT_FAILED = 2,
    RESULT_NEW_OUTPUT = 4,
    RESULT_PROCESS_ALIVE = 8,
    RESULT_RUNNING = 16,
    RESULT_CHILD_EXITED = 32, // reaped; the worker only drains what is left in the pty
};
enum Terminal_Chunk_Kind : u8 {
    TERMINAL_CHUNK_LINE_BREAK = 2,
    TERMINAL_CHUNK_TEXT = 4,
};

// Terminal_Colour indices below 256 name entries of terminal_big_colour_table (whose
// first 16 are the small table); from 256 on they name the result's own
// palette of direct (38;2 / 48;2) colours.
constexpr u16 TERMINAL_WHITE = 15;
constexpr u16 TERMINAL_BLACK = 0;
constexpr u16 TERMINAL_PALETTE_BASE = 256;

// A flood of short lines makes a chunk for every two or three bytes, so a
// chunk is kept at 12 bytes and the line break that ends a text run is part
// of its chunk (break_length) rather than a chunk of its own. A break with
// nothing before it on its line, or after a skipped sequence, is a
// TERMINAL_CHUNK_LINE_BREAK chunk whose length is the break's bytes.
struct Terminal_Chunk {
    u32 start;               // offset into the output
    u32 length : 24;         // bytes of text (or of the break, for a break chunk)
    u32 kind : 3;            // Terminal_Chunk_Kind
    u32 default_colours : 1;
    u32 break_length : 2;    // text chunks: the break that ends them (a CR LF is 2)
    u32 pad : 2;
    u16 foreground;
    u16 background;
};
static_assert(sizeof(Terminal_Chunk) == 12);
static_assert(MAX_TERMINAL_BUFFER_SIZE + TERMINAL_READ_SIZE < (1u << 24));
// Just past the chunk's bytes, its break included.
inline u64 terminal_chunk_end(const Terminal_Chunk *c) { return (u64)c->start + c->length + c->break_length; }

struct Terminal_Result {
    s32 pty;                   // where input for the running program goes
    volatile u8 lock;          // between the worker and the view
    u8 default_colours;        // 1 while no colour sequence is in force
    volatile u32 flags;        // Terminal_Result_Flags, atomic OR / AND
    Dynamic_Array output;      // raw bytes, at most MAX_TERMINAL_BUFFER_SIZE
    Dynamic_Array chunks;      // Terminal_Chunk in output order
    Dynamic_Array line_chunks; // u32: index of the first chunk of each output line
    Dynamic_Array palette;     // Terminal_Colour: direct colours
    u64 parse_position;
    u64 line_count;            // starts at 1
    u64 dropped_bytes;         // output dropped from the front so far
    u16 foreground, background;
    s32 exit_status;           // -1 until the child exited normally
    String command;            // copy of the command line
    Allocation command_allocation;
};

struct Terminal_History_Entry {
    String text;
    u8 buffer[TERMINAL_HISTORY_TEXT];
};
static_assert(sizeof(Terminal_History_Entry) == 4112);

struct Terminal_Run;
// The layout the view drew last (terminal_view.cpp).
struct Terminal_View {
    Terminal_Run *runs;
    u32 num_runs;
    u32 num_lines;      // asked for
    u64 total_lines;
    u64 scroll_up;      // lines scrolled back from the bottom; 0 follows the output
    Allocation memory;  // the runs, then their text
    u64 frames_reused;  // frames that drew the previous layout again
    u64 drag_first;     // first line shown when the scroll bar's drag began
    f32 drag_mouse_y;
    u8 dragging_bar;
};

struct Terminal {
    s32 child_pid, process_group, pty; // all -1 when no process runs
    volatile u8 lock;
    volatile u32 flags;                // Terminal_Flags
    Filepath directory;
    Dynamic_Array history;             // Terminal_History_Entry
    u32 history_cursor;                // == count: past the newest entry
    Dynamic_Array typed_line;          // one Terminal_History_Entry: what was typed before walking the history
    Bucket_Array results;              // Terminal_Result
    Terminal_Result *current_result;
    Terminal_View view;
};

constexpr u32 NUM_TERMINALS_PER_BUCKET = 16, NUM_TERMINALS_BUCKETS_PER_PAGE = 1;
constexpr u32 NUM_TERMINAL_RESULTS_PER_BUCKET = 32, NUM_TERMINAL_RESULTS_BUCKETS_PER_PAGE = 4;
constexpr u32 TERMINALS_PAGE_MEMORY = pool_page_memory(sizeof(Terminal), 16, 1);
constexpr u32 TERMINAL_RESULTS_PAGE_MEMORY = pool_page_memory(sizeof(Terminal_Result), 32, 4);

extern Bucket_Array terminals;
extern const Terminal_Colour terminal_small_colour_table[16];
extern Terminal_Colour terminal_big_colour_table[256];

// Pools, colour tables; safe to call again.
void init_terminals();
Terminal *add_a_terminal(const Filepath *directory);
// SIGTERM to the process group (and to the pty's foreground group, where an
// interactive sh puts its jobs), SIGKILL 100 ms later unless all are gone.
void kill_terminal_process(Terminal *terminal);
void clear_terminal_history(Terminal *terminal);
// Kills the process, frees the results and the history, frees the slot.
void close_terminal(Terminal *terminal);
// Every terminal's process group: shut-down.
void kill_all_terminal_processes();
Terminal_Result *add_a_terminal_result(Terminal *terminal, String command);
// `shown` is the command the result displays (the command line when empty).
bool terminal_execute(Terminal *terminal, const char *program, String command_line, String shown = {});
// The same with the argument vector already made (temporary memory is fine).
bool terminal_execute_arguments(Terminal *terminal, const char *program, char **arguments, String shown);
// Runs the text of `input` (the tab's single-line field). `title` receives
// the new tab title ("% | %") in `title_buffer` when a command starts.
void execute_terminal_command_line(Terminal *terminal, File *input, String *title, u8 *title_buffer, u32 capacity);
// 0 closed or error, 1 nothing to read, 2 read done.
u32 terminal_read_from_pipe(Terminal_Result *result, s32 descriptor, bool child_gone);
// The oldest output dropped in two steps: copies built without the lock,
// then exchanged under it (terminal_parse.cpp).
struct Terminal_Dropped {
    Dynamic_Array output, chunks, line_chunks;
    u64 drop;
};
// `spare` (may be null): arrays of an earlier exchange, reused when big enough.
bool terminal_build_dropped(Terminal_Result *result, u64 keep, Terminal_Dropped *out, Terminal_Dropped *spare);
bool terminal_build_grown(Terminal_Result *result, u64 bytes, Terminal_Dropped *out);
void terminal_swap_in_dropped(Terminal_Result *result, Terminal_Dropped *dropped);
void terminal_free_dropped(Terminal_Dropped *dropped);
// The arrays at the size of what they hold (a finished command's).
void terminal_result_shrink(Terminal_Result *result);
// The arrays an exchange gave back become the spare (the old spare is freed).
void terminal_keep_spare(Terminal_Dropped *spare, Terminal_Dropped *used);
// Appends raw bytes as if read from the pty (the read path and tests).
void terminal_result_append_output(Terminal_Result *result, const u8 *bytes, u64 count);
void tokenise_terminal_result(Terminal_Result *result);
// Position after the sequence; -1 when the sequence is not complete yet.
s64 parse_virtual_terminal_sequence(Terminal_Result *result, s64 position, s64 end);
Terminal_Colour terminal_colour(Terminal_Result *result, u16 index);
// NUL-terminated vector in temporary memory.
char **string_to_c_argument_list(String text);

// History of the input line; previous/next replace the field's text.
void terminal_history_previous(Terminal *terminal, File *input);
void terminal_history_next(Terminal *terminal, File *input);
// Completes the path word before the cursor; false when nothing matched.
bool auto_complete_filepath_in_terminal(Terminal *terminal, File *input);

// What the view draws: the visible part of the terminal's whole history,
// counted in lines from the top (each result: one header line showing its
// command, then its output lines). Each run's text is copied into temporary
// memory under the result's lock, so the view never reads output the worker
// may be moving; a line gives at most TERMINAL_VIEW_LINE_BYTES of text (no
// window is wider). Returns the runs written; `total_lines` gets the line
// count.
struct Terminal_Run {
    String text;
    Terminal_Colour foreground, background;
    u32 line;  // 0 = first requested line
    u8 header; // the run is a command header
};
constexpr u32 TERMINAL_VIEW_LINE_BYTES = 2048;
u32 terminal_layout_visible(Terminal *terminal, u64 first_line, u32 num_lines, Terminal_Run *out, u32 capacity,
                            u64 *total_lines);
// The same, but a result whose lock stays taken for `patience_us` makes it
// give up: -1.
s64 terminal_layout_visible_try(Terminal *terminal, u64 first_line, u32 num_lines, Terminal_Run *out, u32 capacity,
                                u64 *total_lines, u64 patience_us);
// The `num_lines` lines that end `view.scroll_up` lines above the bottom, as
// the view draws them, kept in the terminal's view record. Scrolled back, the
// same text stays in place while output arrives below. When the worker holds
// the lock of the result being read (it may be appending, or be descheduled
// mid-append), the previous frame's layout is returned unchanged: a frame
// never waits for the reader.
constexpr u32 TERMINAL_VIEW_MAX_RUNS = 4096;
constexpr u64 TERMINAL_VIEW_PATIENCE_US = 200;
const Terminal_View *terminal_view_layout(Terminal *terminal, u32 num_lines);
void terminal_view_free(Terminal_View *view);
// Scrolls back (positive) or towards the newest output (negative) by whole lines.
void terminal_view_scroll(Terminal *terminal, s64 lines);
// The scroll bar at the right of the history, `height` pixels high: where its
// thumb is, in pixels from the top. None (thumb_height 0) while all fits.
struct Terminal_Scroll_Bar {
    f32 thumb_y, thumb_height, travel;
    u64 most; // lines above the bottom page
};
Terminal_Scroll_Bar terminal_scroll_bar(const Terminal_View *view, f32 height);
// Scrolled so that `first` is the first line shown (clamped to the history).
void terminal_view_show_from(Terminal *terminal, u64 first);
