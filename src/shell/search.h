// The search lister: search in the current file, go to a line, replace, and
// search in every file under the working directory with one worker per
// processor the process may use.
#pragma once
#include "core/base.h"
#include "core/memory.h"

struct File;

enum Search_Mode : u8 {
    SEARCH_CLOSED = 0,
    SEARCH_CURRENT_FILE = 1,
    SEARCH_GO_TO_LINE = 2,
    SEARCH_REPLACE = 3,
    SEARCH_FILES = 4,
};

struct Search_Match {
    u64 offset;     // of the match in its file's text
    u64 length;     // the search text's length
    u32 file_index; // index of its result file
    u32 line;       // from 1
    u64 line_start;
    u64 line_end;   // the next CR or LF, or the end of the text
    u64 kept_line;  // where the line starts in its result file's kept text
};

// One searched file with matches. Files without matches get no record: their
// text is dropped as soon as they are searched. A multi-file search keeps
// only the lines that hold matches (`text` then is those lines, one after the
// other); the current-file search keeps the whole text.
struct Search_Result_File {
    String path;
    Allocation path_allocation;
    String text;             // the whole text as it was read
    Allocation text_allocation; // size 0 when the text belongs to an open file
    Dynamic_Array matches;   // Search_Match
    u32 index;
    u8 has_matches;
    u8 priority;             // higher is listed first
};

struct Search_Lister {
    String title, second_title;
    u8 title_buffer[64], second_title_buffer[64];
    File *search_text;       // single-line field (mode 2: the line number)
    File *replacement_text;  // single-line field (mode 3)
    File *searched_file;     // modes 1 to 3: the file the search ran on
    volatile u8 mode;
    volatile u8 finished;     // the search thread has ended
    volatile u8 complete;     // every match is in (the multi-file thread then idles)
    volatile u8 keep_running; // cleared to cancel
    volatile u32 active_workers;
    u32 current_item;
    u32 root_length;          // "Search Files": bytes of the root (with its '/') that start every path
    u8 started;               // a search thread was started and has not been waited for
};

extern Search_Lister global_search_lister;
extern Bucket_Array global_search_files; // Search_Result_File
extern Dynamic_Array global_search_file_order; // Search_Result_File *, in display order
extern volatile u8 global_search_lock;
extern f32 global_lister_animation_factor;
// The custom layer's limit: larger files are not searched.
extern u64 search_max_file_size;
// Where "Search Files" starts; empty: editor_working_directory.
extern char search_root_override[4096];

constexpr u32 NUM_SEARCH_RESULT_FILES_PER_BUCKET = 128, NUM_SEARCH_RESULT_FILES_BUCKETS_PER_PAGE = 32;

// Pools once; the two text fields whenever they are missing (null).
void init_search_lister();
// Modes 1-3 need a current tab showing `current_file`.
void open_search_lister(String title, String second_title, u8 mode);
void close_search_lister();
// Cancels a running search and waits for its thread to end.
void search_lister_cancel();
void search_lister_search();
u32 get_num_items_in_search_lister();
// The highlighted match and its file; false when there is none.
bool get_search_lister_current_item(Search_Match *match, Search_Result_File **file);
// Acts on the highlighted match: replace (mode 3) or go there (other modes).
void search_lister_select_item();
void search_lister_go_to_previous_item();
void search_lister_go_to_next_item();
// The seams to tabs (installed by the shell): the tab of a file path, or a
// new file tab for a freshly loaded file. Defaults: make it current_file.
struct Search_Tab_Hooks {
    File *(*find_file_tab)(String path);   // makes it current; null when none
    void (*add_file_tab)(File *file);      // queues the add-tab command
};
extern Search_Tab_Hooks search_tab_hooks;
// The file tab for `path`, or a new file loaded from it and given a tab; it
// becomes current_file. Null (with a message) when the file cannot be read.
File *open_file_in_tab(String path);

// [SECTION] Shared by the search threads (search.cpp, search_files.cpp)
void search_sleep_us(u64 us);
bool search_start_thread(void *(*entry)(void *), void *argument);
// Texts and matches of result files go into big blocks, freed all at once
// when the results are emptied: thousands of files with matches would
// otherwise each hold a general-purpose slot.
constexpr u64 SEARCH_ARENA_BLOCK = MB(8);
struct Search_Arena_Block {
    Search_Arena_Block *next;
    u64 size;
    u64 used;
};
// Room for `size` bytes in the calling worker's block (*mine), starting a new one when it is full.
u8 *search_arena_take(Search_Arena_Block **mine, u64 size);
// Caller holds global_search_lock.
void search_results_clear();
// Sets complete and finished under the lock and wakes the main loop.
void search_publish_finished();
String search_needle_string();
bool string_is_blank(String s);
u32 search_usable_processors();
// Thread entry of "Search Files": walks the root, one worker per usable processor.
void *search_multiple_files(void *);

// [SECTION] Scanning (search_scan.cpp)
bool check_for_zeroes(const u8 *data, u64 size);
// First occurrence of `needle` at or after `from`; -1 when none.
s64 search_find(const u8 *text, u64 length, u64 from, const u8 *needle, u64 needle_length);
// Line breaks in [text, text + length): LF, lone CR, CR LF once.
u64 search_count_line_breaks(const u8 *text, u64 length);
// Appends every non-overlapping match of `needle` in [start, end) to
// `matches`, lines counted from `first_line` at `start`. Stops at a zero
// byte, or early when `keep_running` clears. Returns the matches added.
u32 search_text_for_matches(const u8 *text, u64 start, u64 end, u32 first_line, String needle, u32 file_index,
                            Dynamic_Array *matches, volatile u8 *keep_running);
bool search_lister_sort_files_by_priority(const void *a, const void *b);
