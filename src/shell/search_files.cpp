// "Search Files": one thread walks the tree and hands the paths of regular
// files to one worker per usable processor through a bounded queue; each
// worker reads a file whole into its own reused buffer, searches it, and
// keeps only the lines with matches.
#include "shell/search.h"
#include "shell/lister_hooks.h"
#include "core/strings.h"
#include "text/file.h"
#include "text/text_state.h"
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

constexpr u32 SEARCH_QUEUE_SIZE = 256; // a power of two; each queued file keeps its directory open
constexpr u32 SEARCH_PATH_MAX = 4096;
constexpr u64 SEARCH_WAKE_INTERVAL_US = 5000;

// An open directory whose files are queued: they are opened relative to it
// (no walk down the whole path for every file). The walker holds one
// reference while it reads the directory, each queued file another; the
// last one to let go closes it.
struct Search_Directory {
    s32 fd;
    volatile u32 references;
    Allocation allocation;
};

static Search_Directory *search_directory_open(s32 fd) {
    Allocation a;
    gp_allocate(&a, sizeof(Search_Directory));
    Search_Directory *d = (Search_Directory *)a.memory;
    d->fd = fd;
    d->references = 1;
    d->allocation = a;
    return d;
}

static void search_directory_release(Search_Directory *d) {
    if (__atomic_sub_fetch(&d->references, 1, __ATOMIC_ACQ_REL) != 0) return;
    close(d->fd);
    Allocation a = d->allocation;
    gp_free(&a);
}

// One producer (the walker), several consumers (the workers), no lock: each
// slot's sequence number says whose turn it is (Vyukov's bounded queue). A
// slot at position p is free for the walker when its sequence is p, filled
// when it is p + 1, and free again (for position p + size) after a worker
// took it.
struct Search_Slot {
    volatile u64 sequence;
    Search_Directory *directory; // holds a reference for this file
    u32 length, name_offset;     // the file's name starts at path + name_offset
    char path[SEARCH_PATH_MAX];
};
struct Search_Queue {
    alignas(64) volatile u64 head; // next position a worker takes
    alignas(64) u64 tail;          // next position the walker fills
    volatile u8 walk_done;
    Search_Slot slots[SEARCH_QUEUE_SIZE];
};

struct Search_Worker {
    Search_Queue *queue;
    String needle;
};

// Spins a little (a slot frees up within microseconds while the workers
// keep up), then sleeps longer and longer so a starved thread costs nothing.
static void search_back_off(u32 *round) {
    u32 r = (*round)++;
    if (r < 64) __builtin_ia32_pause();
    else search_sleep_us(r < 128 ? 20 : r < 256 ? 100 : 500);
}

static bool search_queue_push(Search_Queue *q, const char *path, u32 length, Search_Directory *directory,
                              u32 name_offset) {
    Search_Slot *slot = &q->slots[q->tail & (SEARCH_QUEUE_SIZE - 1)];
    for (u32 round = 0; __atomic_load_n(&slot->sequence, __ATOMIC_ACQUIRE) != q->tail;) {
        if (!global_search_lister.keep_running) return false;
        search_back_off(&round);
    }
    memcpy(slot->path, path, length + 1);
    slot->length = length;
    slot->name_offset = name_offset;
    __atomic_add_fetch(&directory->references, 1, __ATOMIC_RELAXED);
    slot->directory = directory;
    __atomic_store_n(&slot->sequence, q->tail + 1, __ATOMIC_RELEASE);
    q->tail++;
    return true;
}

// False when the walk is over and nothing is left, or the search was cancelled.
static bool search_queue_pop(Search_Queue *q, char *path, u32 *length, Search_Directory **directory, u32 *name_offset) {
    for (u32 round = 0;;) {
        u64 position = __atomic_load_n(&q->head, __ATOMIC_RELAXED);
        Search_Slot *slot = &q->slots[position & (SEARCH_QUEUE_SIZE - 1)];
        u64 sequence = __atomic_load_n(&slot->sequence, __ATOMIC_ACQUIRE);
        if (sequence == position + 1) {
            if (__atomic_compare_exchange_n(&q->head, &position, position + 1, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
                *length = slot->length;
                *directory = slot->directory;
                *name_offset = slot->name_offset;
                memcpy(path, slot->path, slot->length + 1);
                __atomic_store_n(&slot->sequence, position + SEARCH_QUEUE_SIZE, __ATOMIC_RELEASE);
                return true;
            }
            continue; // another worker took it: look again at once
        }
        if (!global_search_lister.keep_running) return false;
        // Empty: done once the walker has finished and nothing came since.
        if (__atomic_load_n(&q->walk_done, __ATOMIC_ACQUIRE) &&
            __atomic_load_n(&slot->sequence, __ATOMIC_ACQUIRE) != position + 1)
            return false;
        search_back_off(&round);
    }
}

// What a cancelled search left queued lets go of its directories.
static void search_queue_release_rest(Search_Queue *q) {
    for (u64 position = q->head; position < q->tail; position++) {
        Search_Slot *slot = &q->slots[position & (SEARCH_QUEUE_SIZE - 1)];
        if (__atomic_load_n(&slot->sequence, __ATOMIC_ACQUIRE) == position + 1) search_directory_release(slot->directory);
    }
}

// Opens a file worth searching: regular, not empty, within the limit.
// Returns the descriptor (-1 to skip) and its size.
static s32 search_open_file(Search_Directory *directory, const char *name, u64 *size) {
    s32 fd = openat(directory->fd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    search_directory_release(directory);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 || (u64)st.st_size > search_max_file_size) {
        close(fd);
        return -1;
    }
    *size = (u64)st.st_size;
    return fd;
}

// The whole file into `to`; false when it came back shorter than its status
// said (it changed under us: skipped).
static bool search_read_whole(s32 fd, u8 *to, u64 size) {
    u64 got = 0;
    while (got < size) {
        ssize_t n = read(fd, to + got, size - got);
        if (n <= 0) break;
        got += (u64)n;
    }
    close(fd);
    return got == size;
}

// Publishes one file's matches: only their lines are kept, with the path and
// the match records, in the worker's arena block.
static void search_keep_result(const char *path, u32 length, const u8 *read, Dynamic_Array *matches,
                               Search_Arena_Block **arena) {
    Search_Match *found = (Search_Match *)matches->data;
    u64 kept_size = 0;
    for (u32 i = 0; i < matches->count; i++)
        if (i == 0 || found[i].line_start != found[i - 1].line_start) kept_size += found[i].line_end - found[i].line_start;
    u8 *text = search_arena_take(arena, kept_size ? kept_size : 1);
    u64 at = 0;
    for (u32 i = 0; i < matches->count; i++) {
        if (i > 0 && found[i].line_start == found[i - 1].line_start) {
            found[i].kept_line = found[i - 1].kept_line;
            continue;
        }
        u64 n = found[i].line_end - found[i].line_start;
        memcpy(text + at, read + found[i].line_start, n);
        found[i].kept_line = at;
        at += n;
    }
    u8 *kept_path = search_arena_take(arena, length);
    memcpy(kept_path, path, length);
    u64 match_bytes = (u64)matches->count * sizeof(Search_Match);
    Search_Match *kept = (Search_Match *)search_arena_take(arena, match_bytes);
    memcpy(kept, matches->data, match_bytes);
    spin_lock(&global_search_lock);
    Search_Result_File *f = (Search_Result_File *)bucket_array_add(&global_search_files);
    memset((void *)f, 0, sizeof(*f));
    f->index = (u32)(global_search_files.count - 1);
    f->path = String{kept_path, (s64)length};
    f->text = String{text, (s64)kept_size};
    dynamic_array_init_on(&f->matches, sizeof(Search_Match), kept, matches->count);
    f->matches.count = matches->count;
    for (u32 i = 0; i < matches->count; i++) kept[i].file_index = f->index;
    f->has_matches = 1;
    *(Search_Result_File **)dynamic_array_add(&global_search_file_order) = f;
    spin_unlock(&global_search_lock);
}

static void *search_file_worker(void *argument) {
    Search_Worker w = *(Search_Worker *)argument;
    tmp_register_thread();
    char *path = (char *)tmp_allocate(SEARCH_PATH_MAX);
    Allocation buffer = {};
    Dynamic_Array matches;
    dynamic_array_init(&matches, sizeof(Search_Match), 64);
    u32 length = 0;
    Search_Arena_Block *arena = nullptr;
    u64 last_wake = 0;
    bool unseen = false; // results the main loop was not woken for
    Search_Directory *directory = nullptr;
    u32 name_offset = 0;
    while (search_queue_pop(w.queue, path, &length, &directory, &name_offset)) {
        u64 size = 0;
        s32 fd = search_open_file(directory, path + name_offset, &size);
        if (fd < 0) continue;
        if (buffer.size < size) {
            gp_free(&buffer);
            gp_allocate(&buffer, size < KB(256) ? KB(256) : size + size / 4);
        }
        u8 *read = (u8 *)buffer.memory;
        if (!search_read_whole(fd, read, size) || check_for_zeroes(read, size)) continue;
        matches.count = 0;
        search_text_for_matches(read, 0, size, 1, w.needle, 0, &matches, &global_search_lister.keep_running);
        if (matches.count == 0 || !global_search_lister.keep_running) continue;
        search_keep_result(path, length, read, &matches, &arena);
        // Thousands of files can match within a frame: wake the main loop a
        // few times a frame, not once per file.
        u64 now = os_get_time_microseconds();
        if (now - last_wake >= SEARCH_WAKE_INTERVAL_US) {
            worker_hooks.wake_main_loop();
            last_wake = now;
            unseen = false;
        } else {
            unseen = true;
        }
    }
    if (unseen) worker_hooks.wake_main_loop();
    gp_free(&buffer);
    dynamic_array_free(&matches);
    __atomic_fetch_sub(&global_search_lister.active_workers, 1, __ATOMIC_SEQ_CST);
    worker_hooks.wake_main_loop();
    tmp_unregister_thread();
    return nullptr;
}

// Directory entries in large batches: one getdents64 call reads hundreds.
struct Search_Dirent64 {
    u64 inode;
    s64 offset;
    u16 record_length;
    u8 type;
    char name[1];
};
constexpr u32 SEARCH_DIRENTS_BYTES = 32 * 1024;

// Depth first; `path` holds the directory with a trailing '/', `length`
// bytes; `entries` is this level's buffer, and each deeper level has its own
// after it, so nothing is allocated per directory.
static void search_walk(s32 parent, const char *name, char *path, u32 length, Search_Queue *queue, u8 *entries,
                        u8 *entries_end) {
    s32 fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return;
    Search_Directory *directory = search_directory_open(fd);
    bool deeper = entries + 2 * SEARCH_DIRENTS_BYTES <= entries_end;
    for (;;) {
        long got = syscall(SYS_getdents64, fd, entries, SEARCH_DIRENTS_BYTES);
        if (got <= 0) break;
        for (long at = 0; at < got && global_search_lister.keep_running;) {
            Search_Dirent64 *e = (Search_Dirent64 *)(entries + at);
            at += e->record_length;
            const char *name = e->name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            u32 name_length = (u32)strlen(name);
            if (length + name_length + 2 >= SEARCH_PATH_MAX) continue;
            u8 type = e->type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
            }
            // Symbolic links are not followed: no loops, no file searched twice.
            if (type != DT_DIR && type != DT_REG) continue;
            memcpy(path + length, name, name_length + 1);
            u32 full = length + name_length;
            if (filepath_is_blacklisted((u8 *)path, full, type == DT_REG)) continue;
            if (type == DT_DIR) {
                if (!deeper) continue; // thousands of levels down: left out
                path[full] = '/';
                path[full + 1] = 0;
                search_walk(fd, path + length, path, full + 1, queue, entries + SEARCH_DIRENTS_BYTES, entries_end);
            } else if (!search_queue_push(queue, path, full, directory, length)) {
                break;
            }
        }
        if (!global_search_lister.keep_running) break;
    }
    path[length] = 0;
    search_directory_release(directory);
}

u32 search_usable_processors() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
    u32 n = (u32)CPU_COUNT(&set);
    return n ? n : 1;
}

// Directories deeper than this below the root are left out.
constexpr u32 SEARCH_MAX_DEPTH = 256;

// Walks `directory` (with a trailing '/'); the entry buffers of every level
// are one allocation, touched only as deep as the tree goes.
void search_multiple_files_helper(char *directory, u32 length, Search_Queue *queue) {
    Allocation entries;
    gp_allocate(&entries, (u64)SEARCH_DIRENTS_BYTES * SEARCH_MAX_DEPTH);
    u8 *start = (u8 *)entries.memory;
    search_walk(AT_FDCWD, directory, directory, length, queue, start, start + entries.size);
    gp_free(&entries);
}

void *search_multiple_files(void *) {
    tmp_register_thread();
    spin_lock(&global_search_lock);
    search_results_clear();
    spin_unlock(&global_search_lock);
    global_search_lister.current_item = 0;
    String needle = search_needle_string();
    if (!string_is_blank(needle)) {
        Allocation queue_memory;
        gp_allocate(&queue_memory, sizeof(Search_Queue));
        Search_Queue *queue = (Search_Queue *)queue_memory.memory;
        queue->head = queue->tail = 0;
        queue->walk_done = 0;
        for (u32 i = 0; i < SEARCH_QUEUE_SIZE; i++) queue->slots[i].sequence = i;
        char *root = (char *)tmp_allocate(SEARCH_PATH_MAX);
        String r = search_root_override[0] ? S(search_root_override) : filepath_to_string(&editor_working_directory);
        u32 length = r.count < (s64)SEARCH_PATH_MAX - 2 ? (u32)r.count : 0;
        memcpy(root, r.data, length);
        if (length == 0 || root[length - 1] != '/') root[length++] = '/';
        root[length] = 0;
        global_search_lister.root_length = length;

        Search_Worker worker = {queue, needle};
        u32 slots = search_usable_processors();
        global_search_lister.active_workers = 1;
        for (u32 i = 0; i < slots; i++) {
            __atomic_fetch_add(&global_search_lister.active_workers, 1, __ATOMIC_SEQ_CST);
            if (!search_start_thread(search_file_worker, &worker))
                __atomic_fetch_sub(&global_search_lister.active_workers, 1, __ATOMIC_SEQ_CST);
        }
        search_multiple_files_helper(root, length, queue);
        __atomic_store_n(&queue->walk_done, (u8)1, __ATOMIC_RELEASE);
        __atomic_fetch_sub(&global_search_lister.active_workers, 1, __ATOMIC_SEQ_CST);
        while (__atomic_load_n(&global_search_lister.active_workers, __ATOMIC_SEQ_CST) > 0) search_sleep_us(1000);
        search_queue_release_rest(queue);
        gp_free(&queue_memory);
        spin_lock(&global_search_lock);
        general_quick_sort(global_search_file_order.data, global_search_file_order.count, sizeof(Search_Result_File *),
                           search_lister_sort_files_by_priority);
        global_search_lister.complete = 1;
        spin_unlock(&global_search_lock);
        worker_hooks.wake_main_loop();
        // The results stay published until the search is cancelled or replaced.
        while (global_search_lister.keep_running) search_sleep_us(10000);
    }
    search_publish_finished();
    tmp_unregister_thread();
    return nullptr;
}
