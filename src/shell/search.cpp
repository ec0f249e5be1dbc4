// The search lister's state and threads: the current-file search (with go
// to line), the multi-file search with its walker and per-slot workers, and
// acting on the chosen match.
#include "shell/search.h"
#include "shell/file_lister.h"
#include "shell/lister_hooks.h"
#include "core/strings.h"
#include "text/editing.h"
#include "text/lines.h"
#include "text/file.h"
#include "text/text_state.h"
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

Search_Lister global_search_lister;
Bucket_Array global_search_files;
Dynamic_Array global_search_file_order;
volatile u8 global_search_lock;
f32 global_lister_animation_factor;
u64 search_max_file_size = MB(64);
char search_root_override[4096];
static Memory_Pool search_files_pool;
static Allocation search_needle; // the search text as the running search sees it
static volatile u64 headless_flags;
static volatile u8 headless_context;
volatile u64 *lister_global_flags = &headless_flags;
volatile u8 *lister_editor_context = &headless_context;

static File *default_find_file_tab(String) { return nullptr; }
static void default_add_file_tab(File *) {}
Search_Tab_Hooks search_tab_hooks = {default_find_file_tab, default_add_file_tab};

void search_sleep_us(u64 us) {
    timespec t = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
    nanosleep(&t, nullptr);
}

bool search_start_thread(void *(*entry)(void *), void *argument) {
    pthread_t thread;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    bool ok = pthread_create(&thread, &attributes, entry, argument) == 0;
    pthread_attr_destroy(&attributes);
    return ok;
}

void init_search_lister() {
    static bool pools_ready;
    if (!pools_ready) {
        _init_memory_pool(&search_files_pool, sizeof(Search_Result_File), NUM_SEARCH_RESULT_FILES_PER_BUCKET,
                          NUM_SEARCH_RESULT_FILES_BUCKETS_PER_PAGE, nullptr, os_allocate_read_write);
        bucket_array_init(&global_search_files, &search_files_pool);
        dynamic_array_init(&global_search_file_order, sizeof(Search_Result_File *));
        pools_ready = true;
    }
    if (global_search_lister.search_text) return;
    global_search_lister.search_text = add_a_file();
    global_search_lister.replacement_text = add_a_file();
    file_set_flags(global_search_lister.search_text, FILE_ONE_LINE | FILE_NEVER_COLOURED);
    file_set_flags(global_search_lister.replacement_text, FILE_ONE_LINE | FILE_NEVER_COLOURED);
    file_clear_flags(global_search_lister.search_text, FILE_UNSAVED);
    file_clear_flags(global_search_lister.replacement_text, FILE_UNSAVED);
}

static Search_Arena_Block *search_arena_blocks; // under global_search_lock

static void search_arena_free_all() {
    for (Search_Arena_Block *b = search_arena_blocks, *next; b; b = next) {
        next = b->next;
        os_free_read_write(b, b->size);
    }
    search_arena_blocks = nullptr;
}

// A new block is linked under the lock.
u8 *search_arena_take(Search_Arena_Block **mine, u64 size) {
    size = (size + 15) & ~15ull;
    Search_Arena_Block *b = *mine;
    if (!b || b->used + size > b->size) {
        u64 block = size + sizeof(Search_Arena_Block) > SEARCH_ARENA_BLOCK ? size + sizeof(Search_Arena_Block) : SEARCH_ARENA_BLOCK;
        b = (Search_Arena_Block *)os_allocate_read_write(block);
        b->size = block;
        b->used = sizeof(Search_Arena_Block);
        spin_lock(&global_search_lock);
        b->next = search_arena_blocks;
        search_arena_blocks = b;
        spin_unlock(&global_search_lock);
        // A big file gets a block of its own; small ones keep filling the old one.
        if (*mine && block > SEARCH_ARENA_BLOCK) {
            b->used += size;
            return (u8 *)b + b->used - size;
        }
        *mine = b;
    }
    u8 *p = (u8 *)b + b->used;
    b->used += size;
    return p;
}

void search_results_clear() {
    for (Bucket_Iterator it = bucket_iterate(&global_search_files); it.element; bucket_iterator_next(&it)) {
        Search_Result_File *f = (Search_Result_File *)it.element;
        gp_free(&f->path_allocation);
        gp_free(&f->text_allocation);
        dynamic_array_free(&f->matches);
    }
    bucket_array_clear(&global_search_files);
    global_search_file_order.count = 0;
    search_arena_free_all();
}

// Under global_search_lock: a record that takes over `text` and a copy of `matches`.
static Search_Result_File *search_add_result_file(String path, Allocation *text, u64 text_length,
                                                 Dynamic_Array *matches) {
    Search_Result_File *f = (Search_Result_File *)bucket_array_add(&global_search_files);
    memset((void *)f, 0, sizeof(*f));
    f->index = (u32)(global_search_files.count - 1);
    gp_allocate(&f->path_allocation, (u64)path.count);
    memcpy(f->path_allocation.memory, path.data, (size_t)path.count);
    f->path = gp_memory_to_string(f->path_allocation);
    f->text_allocation = *text;
    *text = Allocation{};
    f->text = String{(u8 *)f->text_allocation.memory, (s64)text_length};
    dynamic_array_init(&f->matches, sizeof(Search_Match), matches->count);
    Search_Match *to = (Search_Match *)dynamic_array_add_fast_multiple(&f->matches, matches->count);
    memcpy(to, matches->data, (u64)matches->count * sizeof(Search_Match));
    for (u32 i = 0; i < matches->count; i++) to[i].file_index = f->index;
    f->has_matches = matches->count > 0;
    *(Search_Result_File **)dynamic_array_add(&global_search_file_order) = f;
    return f;
}

bool search_lister_sort_files_by_priority(const void *a, const void *b) {
    const Search_Result_File *x = *(Search_Result_File *const *)a, *y = *(Search_Result_File *const *)b;
    if (x->priority != y->priority) return x->priority > y->priority;
    // Then in the file lister's natural order: "f2" before "f10".
    File_Lister_Item ix = {x->path, x->path, 0, 0}, iy = {y->path, y->path, 0, 0};
    return sort_file_lister_search_results(&ix, &iy, String{});
}

String search_needle_string() { return gp_memory_to_string(search_needle); }

bool string_is_blank(String s) {
    for (s64 i = 0; i < s.count; i++)
        if (s.data[i] != ' ' && s.data[i] != '\t') return false;
    return true;
}

void search_publish_finished() {
    spin_lock(&global_search_lock);
    global_search_lister.complete = 1;
    global_search_lister.finished = 1;
    worker_hooks.wake_main_loop();
    spin_unlock(&global_search_lock);
}

// [SECTION] Current file -------------------------------------------------------------

static void *search_current_file(void *argument) {
    File *file = (File *)argument;
    tmp_register_thread();
    spin_lock(&global_search_lock);
    search_results_clear();
    spin_unlock(&global_search_lock);
    String needle = search_needle_string();
    Dynamic_Array matches;
    dynamic_array_init(&matches, sizeof(Search_Match), 16);
    // The text is copied under the tabs lock: the main thread may edit it meanwhile.
    text_hooks.lock_tabs();
    u64 length = file_length(file);
    bool selection = file_has_flags(file, FILE_SELECTION_ACTIVE) && *file->selection_end > *file->selection_start;
    u64 start = selection ? *file->selection_start : 0, end = selection ? *file->selection_end : length;
    if (end > length) end = length;
    Allocation text = {};
    if (length) {
        gp_allocate(&text, length);
        memcpy(text.memory, file_text(file), length);
    }
    text_hooks.unlock_tabs();
    const u8 *bytes = (const u8 *)text.memory;
    if (global_search_lister.mode == SEARCH_GO_TO_LINE) {
        s64 target = 0;
        bool digits = needle.count > 0;
        for (s64 i = 0; i < needle.count; i++) {
            if (needle.data[i] < '0' || needle.data[i] > '9') digits = false;
            else if (target < 1000000000) target = target * 10 + (needle.data[i] - '0');
        }
        u64 position = 0, line = 1;
        while (digits && target >= 1 && line < (u64)target && position <= length && global_search_lister.keep_running) {
            while (position < length && bytes[position] != '\n' && bytes[position] != '\r') position++;
            if (position >= length) break;
            position += (bytes[position] == '\r' && position + 1 < length && bytes[position + 1] == '\n') ? 2 : 1;
            line++;
        }
        if (digits && target >= 1 && line == (u64)target) {
            u64 line_end = position;
            while (line_end < length && bytes[line_end] != '\n' && bytes[line_end] != '\r') line_end++;
            *(Search_Match *)dynamic_array_add(&matches) = Search_Match{position, 0, 0, (u32)line, position, line_end, position};
        }
    } else if (length) {
        u32 first_line = 1 + (u32)search_count_line_breaks(bytes, start);
        search_text_for_matches(bytes, start, end, first_line, needle, 0, &matches, &global_search_lister.keep_running);
    }
    spin_lock(&global_search_lock);
    if (matches.count) search_add_result_file(file->name, &text, length, &matches);
    spin_unlock(&global_search_lock);
    gp_free(&text);
    dynamic_array_free(&matches);
    search_publish_finished();
    tmp_unregister_thread();
    return nullptr;
}

// [SECTION] Main thread ----------------------------------------------------------------

void search_lister_cancel() {
    global_search_lister.keep_running = 0;
    if (global_search_lister.started)
        while (!__atomic_load_n(&global_search_lister.finished, __ATOMIC_SEQ_CST)) search_sleep_us(200);
    global_search_lister.started = 0;
}

void search_lister_search() {
    init_search_lister();
    search_lister_cancel();
    gp_free(&search_needle);
    String typed = file_text_string(global_search_lister.search_text);
    if (typed.count) {
        gp_allocate(&search_needle, (u64)typed.count);
        memcpy(search_needle.memory, typed.data, (size_t)typed.count);
    }
    global_search_lister.keep_running = 1;
    global_search_lister.finished = 0;
    global_search_lister.complete = 0;
    global_search_lister.started = 1;
    bool ok;
    if (global_search_lister.mode == SEARCH_FILES) {
        ok = search_start_thread(search_multiple_files, nullptr);
    } else {
        File *file = global_search_lister.searched_file;
        ok = file && search_start_thread(search_current_file, file);
    }
    if (!ok) {
        global_search_lister.started = 0;
        global_search_lister.finished = 1;
        global_search_lister.complete = 1;
    }
}

static void set_title(String *title, u8 *buffer, u32 capacity, String text) {
    u64 n = (u64)text.count < capacity ? (u64)text.count : capacity;
    if (n) memcpy(buffer, text.data, n);
    *title = String{buffer, (s64)n};
}

static void empty_field(File *field) {
    if (file_length(field)) text_raw_remove(field, 0, file_length(field));
    field->cursor = field->selection_anchor = 0;
    file_update_selection_pointers(field);
    file_set_flags(field, FILE_CHANGED);
}

void open_search_lister(String title, String second_title, u8 mode) {
    init_search_lister();
    if (mode != SEARCH_FILES && (!current_file || text_hooks.current_tab_file() != current_file)) return;
    search_lister_cancel();
    global_search_lister.searched_file = mode != SEARCH_FILES ? current_file : nullptr;
    *lister_editor_context = LISTER_CONTEXT_SEARCH;
    set_title(&global_search_lister.title, global_search_lister.title_buffer, 64, title);
    set_title(&global_search_lister.second_title, global_search_lister.second_title_buffer, 64, second_title);
    global_search_lister.mode = mode;
    global_search_lister.current_item = 0;
    global_lister_animation_factor = 0;
    empty_field(global_search_lister.search_text);
    empty_field(global_search_lister.replacement_text);
    editor_stamp_activity();
    spin_lock(&global_search_lock);
    search_results_clear();
    spin_unlock(&global_search_lock);
    current_file = global_search_lister.search_text;
    atomic_or(lister_global_flags, LISTER_SHOW_SEARCH_LISTER);
}

void close_search_lister() {
    search_lister_cancel();
    atomic_and(lister_global_flags, ~(LISTER_SHOW_SEARCH_LISTER | LISTER_SHOW_FILE_LISTER));
    if (global_search_lister.searched_file) current_file = global_search_lister.searched_file;
    else current_file = text_hooks.current_tab_file();
    *lister_editor_context = LISTER_CONTEXT_FILE;
    global_search_lister.mode = SEARCH_CLOSED;
}

u32 get_num_items_in_search_lister() {
    u32 n = 0;
    spin_lock(&global_search_lock);
    for (u32 i = 0; i < global_search_file_order.count; i++)
        n += (*dynamic_array_at<Search_Result_File *>(&global_search_file_order, i))->matches.count;
    spin_unlock(&global_search_lock);
    return n;
}

bool get_search_lister_current_item(Search_Match *match, Search_Result_File **file) {
    bool found = false;
    u32 k = global_search_lister.current_item;
    spin_lock(&global_search_lock);
    for (u32 i = 0; i < global_search_file_order.count && !found; i++) {
        Search_Result_File *f = *dynamic_array_at<Search_Result_File *>(&global_search_file_order, i);
        if (k < f->matches.count) {
            *match = *dynamic_array_at<Search_Match>(&f->matches, k);
            if (file) *file = f;
            found = true;
        } else {
            k -= f->matches.count;
        }
    }
    spin_unlock(&global_search_lock);
    return found;
}

void search_lister_go_to_previous_item() {
    if (global_search_lister.current_item > 0) global_search_lister.current_item--;
}
void search_lister_go_to_next_item() {
    if (global_search_lister.current_item + 1 < get_num_items_in_search_lister()) global_search_lister.current_item++;
}

static void put_cursor(File *file, u64 offset) {
    u64 length = file_length(file);
    file->previous_cursor = file->cursor;
    file->cursor = offset > length ? length : offset;
    // A selection left from before the search would now run to the match,
    // and the next key typed would replace all of it.
    file_clear_flags(file, FILE_SELECTION_ACTIVE);
    file->selection_anchor = file->cursor;
    file_update_selection_pointers(file);
    file_set_flags(file, FILE_CHANGED | FILE_CENTRE_CURSOR);
    editor_stamp_activity();
}

File *open_file_in_tab(String path) {
    File *file = search_tab_hooks.find_file_tab(path);
    if (file) {
        current_file = file;
        return file;
    }
    file = add_a_file();
    if (!load_file_from_path(path, file)) {
        close_file(file);
        editor_report_error(string_concat2("'%' could not be opened.", path));
        return nullptr;
    }
    current_file = file;
    search_tab_hooks.add_file_tab(file);
    return file;
}

void search_lister_select_item() {
    Search_Match match;
    Search_Result_File *result;
    u8 mode = global_search_lister.mode;
    // Enter typed in the same frame as the query: search for that query and
    // give its first match a second to arrive.
    File *field = global_search_lister.search_text;
    if (mode != SEARCH_REPLACE && field && file_has_flags(field, FILE_CHANGED)) {
        file_clear_flags(field, FILE_CHANGED);
        search_lister_search();
    }
    bool found = get_search_lister_current_item(&match, &result);
    for (u32 i = 0; i < 5000 && !found && !__atomic_load_n(&global_search_lister.finished, __ATOMIC_SEQ_CST); i++) {
        search_sleep_us(200);
        found = get_search_lister_current_item(&match, &result);
    }
    if (!found) return;
    if (mode == SEARCH_REPLACE) {
        File *file = global_search_lister.searched_file;
        String needle = search_needle_string();
        // Only while the text there is still what was found.
        if (!file || match.offset + match.length > file_length(file) ||
            memcmp(file_text(file) + match.offset, needle.data, match.length) != 0) {
            search_lister_search();
            return;
        }
        editor_delete_at(file, match.offset, match.length);
        editor_insert_text_at(file, match.offset, file_text_string(global_search_lister.replacement_text), false);
        search_lister_search();
        return;
    }
    String path = {};
    Allocation path_copy = {};
    if (mode == SEARCH_FILES) {
        gp_allocate(&path_copy, (u64)result->path.count);
        memcpy(path_copy.memory, result->path.data, (size_t)result->path.count);
        path = gp_memory_to_string(path_copy);
    }
    File *searched = global_search_lister.searched_file;
    close_search_lister();
    File *file = mode == SEARCH_FILES ? open_file_in_tab(path) : searched;
    if (file) {
        *lister_editor_context = LISTER_CONTEXT_FILE;
        current_file = file;
        put_cursor(file, match.offset);
    }
    gp_free(&path_copy);
}
