// The file lister's state, its listing thread and what choosing an entry does.
#include "shell/file_lister.h"
#include "shell/lister_hooks.h"
#include "shell/search.h"
#include "core/meow_hash.h"
#include "core/strings.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

File_Lister global_file_lister;
Dynamic_Array file_lister_flat_view_directories;
Dynamic_Array file_lister_ignored_directories;
String file_lister_sort_filter; // the filter the running sort compares with
static Memory_Pool file_lister_items_pool;
static String_Data file_lister_settings_strings = {nullptr, nullptr, KB(64)};

// Blocks the listing's paths live in; reset with each listing.
struct Lister_Block {
    Lister_Block *next;
    u64 used;
};
constexpr u64 LISTER_BLOCK_SIZE = MB(1);
static Lister_Block *lister_blocks;
static Allocation lister_filter_copy;

static void lister_blocks_free() {
    for (Lister_Block *b = lister_blocks, *next; b; b = next) {
        next = b->next;
        os_free_read_write(b, LISTER_BLOCK_SIZE);
    }
    lister_blocks = nullptr;
}

static String lister_copy(const char *a, u64 na, const char *b, u64 nb) {
    u64 n = na + nb;
    if (n + sizeof(Lister_Block) > LISTER_BLOCK_SIZE) return String{};
    if (!lister_blocks || lister_blocks->used + n > LISTER_BLOCK_SIZE) {
        Lister_Block *block = (Lister_Block *)os_allocate_read_write(LISTER_BLOCK_SIZE);
        block->next = lister_blocks;
        block->used = sizeof(Lister_Block);
        lister_blocks = block;
    }
    u8 *p = (u8 *)lister_blocks + lister_blocks->used;
    memcpy(p, a, na);
    memcpy(p + na, b, nb);
    lister_blocks->used += n;
    return String{p, (s64)n};
}

static void sleep_us(u64 us) {
    timespec t = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
    nanosleep(&t, nullptr);
}

static void add_setting(Dynamic_Array *list, String s) {
    if (!list->element_size) dynamic_array_init(list, sizeof(String));
    String copy = string_data_add(&file_lister_settings_strings, s);
    if (copy.count) *(String *)dynamic_array_add(list) = copy;
}
void file_lister_add_flat_view_directory(String path) { add_setting(&file_lister_flat_view_directories, path); }
void file_lister_add_ignored_directory(String name) { add_setting(&file_lister_ignored_directories, name); }

void init_file_lister() {
    static bool pools_ready;
    if (!pools_ready) {
        _init_memory_pool(&file_lister_items_pool, sizeof(File_Lister_Item), NUM_FILE_LISTER_ITEMS_PER_BUCKET,
                          NUM_FILE_LISTER_ITEMS_BUCKETS_PER_PAGE, nullptr, os_allocate_read_write);
        bucket_array_init(&global_file_lister.items, &file_lister_items_pool);
        pools_ready = true;
    }
    if (global_file_lister.filter) return;
    global_file_lister.filter = add_a_file();
    file_set_flags(global_file_lister.filter, FILE_ONE_LINE | FILE_NEVER_COLOURED);
    file_clear_flags(global_file_lister.filter, FILE_UNSAVED);
}

File_Lister_Item *file_lister_get_item(u32 index) {
    if (index >= global_file_lister.num_items) return nullptr;
    return (File_Lister_Item *)bucket_array_get(&global_file_lister.items, index);
}

static bool name_is_ignored(String name) {
    for (u32 i = 0; i < file_lister_ignored_directories.count; i++)
        if (string_equal(name, *dynamic_array_at<String>(&file_lister_ignored_directories, i))) return true;
    return false;
}

static bool contains_ignoring_case(String name, String filter) {
    if (filter.count == 0) return true;
    for (s64 i = 0; i + filter.count <= name.count; i++) {
        s64 k = 0;
        while (k < filter.count) {
            u8 a = name.data[i + k], b = filter.data[k];
            if (a >= 'A' && a <= 'Z') a += 32;
            if (b >= 'A' && b <= 'Z') b += 32;
            if (a != b) break;
            k++;
        }
        if (k == filter.count) return true;
    }
    return false;
}

// `path` holds the directory with a trailing '/'; `prefix` bytes of it are
// the lister's own directory (names in flat view are relative to it).
static void file_lister_list(char *path, u64 length, u64 prefix, bool flat, String filter) {
    DIR *d = opendir(path);
    if (!d) return;
    while (!global_file_lister.listing_cancelled) {
        dirent *e = readdir(d);
        if (!e) break;
        const char *name = e->d_name;
        u64 n = strlen(name);
        if (n == 0 || name[0] == '$' || (name[0] == '.' && (n == 1 || (n == 2 && name[1] == '.')))) continue;
        if (length + n + 2 >= 4096) continue;
        u8 type = e->d_type;
        if (type == DT_UNKNOWN || type == DT_LNK) { // a link to a directory lists as a directory (it is not entered)
            struct stat st;
            memcpy(path + length, name, n + 1);
            type = stat(path, &st) == 0 && S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
            if (e->d_type == DT_LNK && type == DT_DIR) type = 255;
        }
        bool directory = type == DT_DIR || type == 255;
        if (directory && name_is_ignored(String{(u8 *)name, (s64)n})) continue;
        memcpy(path + length, name, n + 1);
        String relative = {(u8 *)path + prefix, (s64)(length + n - prefix)};
        if (contains_ignoring_case(flat ? relative : String{(u8 *)name, (s64)n}, filter)) {
            String full = lister_copy(path, length + n, "", 0);
            if (full.count) {
                File_Lister_Item *item = (File_Lister_Item *)bucket_array_add(&global_file_lister.items);
                item->path = full;
                item->name = flat ? String{full.data + prefix, full.count - (s64)prefix}
                                  : String{full.data + length, (s64)n};
                item->is_directory = directory;
                item->is_new = 0;
            }
        }
        if (flat && type == DT_DIR) { // links are not followed: no loops
            path[length + n] = '/';
            path[length + n + 1] = 0;
            file_lister_list(path, length + n + 1, prefix, flat, filter);
        }
    }
    path[length] = 0;
    closedir(d);
}

static void *file_lister_search(void *) {
    tmp_register_thread();
    File_Lister *l = &global_file_lister;
    char *path = (char *)tmp_allocate(4096);
    String dir = filepath_to_string(&l->directory);
    if (dir.count == 0 || dir.count > 4000) dir = S("/");
    memcpy(path, dir.data, (size_t)dir.count);
    u64 length = (u64)dir.count;
    if (path[length - 1] != '/') path[length++] = '/';
    path[length] = 0;
    bool flat = (l->listing_flags & FILE_LISTER_FLAT_VIEW) && l->flat_view_allowed && !string_equal(dir, S("/"));
    String filter = gp_memory_to_string(lister_filter_copy);
    file_lister_list(path, length, length, flat, filter);
    // Save mode: the typed name becomes an entry of its own when nothing has it.
    if (l->mode == FILE_LISTER_SAVE && filter.count && !l->listing_cancelled) {
        bool exists = false;
        for (Bucket_Iterator it = bucket_iterate(&l->items); it.element && !exists; bucket_iterator_next(&it))
            exists = string_equal(((File_Lister_Item *)it.element)->name, filter);
        if (!exists) {
            String full = lister_copy(path, length, (const char *)filter.data, (u64)filter.count);
            if (full.count) {
                File_Lister_Item *item = (File_Lister_Item *)bucket_array_add(&l->items);
                *item = File_Lister_Item{full, String{full.data + length, filter.count}, 0, 1};
            }
        }
    }
    file_lister_sort_filter = filter;
    l->sorting_wanted = 1;
    if (!l->listing_cancelled) quick_sort_bucket_array2_helper(0, l->items.count);
    if (!l->listing_cancelled) __atomic_store_n(&l->num_items, (u32)l->items.count, __ATOMIC_SEQ_CST);
    __atomic_store_n(&l->listing_running, (u8)0, __ATOMIC_SEQ_CST);
    worker_hooks.wake_main_loop();
    tmp_unregister_thread();
    return nullptr;
}

bool file_lister_offers_flat_view() {
    File_Lister *l = &global_file_lister;
    bool root = l->directory.count == 0 || (l->directory.count == 1 && string_equal(l->directory.components[0].view, S("/")));
    if (root) return false;
    Tmp_Scope scope;
    Filepath *listed = (Filepath *)tmp_allocate_aligned(sizeof(Filepath), 8);
    for (u32 i = 0; i < file_lister_flat_view_directories.count; i++) {
        if (!set_filepath_from(listed, *dynamic_array_at<String>(&file_lister_flat_view_directories, i))) continue;
        if (listed->count == 0 || listed->count > l->directory.count) continue;
        bool same = true;
        for (u64 c = 0; c < listed->count && same; c++)
            same = string_equal(listed->components[c].view, l->directory.components[c].view);
        if (same) return true;
    }
    return false;
}

static void file_lister_stop_listing() {
    global_file_lister.listing_cancelled = 1;
    global_file_lister.sorting_wanted = 0;
    while (__atomic_load_n(&global_file_lister.listing_running, __ATOMIC_SEQ_CST)) sleep_us(100);
    global_file_lister.listing_cancelled = 0;
}

void file_lister_wait() {
    while (__atomic_load_n(&global_file_lister.listing_running, __ATOMIC_SEQ_CST)) sleep_us(200);
}

void maybe_update_file_lister() {
    File_Lister *l = &global_file_lister;
    Tmp_Scope scope;
    String dir = filepath_to_string(&l->directory);
    String filter = file_text_string(l->filter);
    u64 n = 1 + (u64)dir.count + (u64)filter.count;
    u8 *keyed = (u8 *)tmp_allocate(n);
    keyed[0] = l->listing_flags;
    memcpy(keyed + 1, dir.data, (size_t)dir.count);
    if (filter.count) memcpy(keyed + 1 + dir.count, filter.data, (size_t)filter.count);
    u64 key = meow_hash(keyed, n).low;
    if (key == l->key && !l->refresh) return;
    l->refresh = 0;
    l->num_items = 0;
    l->current_item = 0;
    file_lister_stop_listing();
    bucket_array_clear(&l->items);
    lister_blocks_free();
    gp_free(&lister_filter_copy);
    if (filter.count) {
        gp_allocate(&lister_filter_copy, (u64)filter.count);
        memcpy(lister_filter_copy.memory, filter.data, (size_t)filter.count);
    }
    l->flat_view_allowed = file_lister_offers_flat_view();
    l->listing_running = 1;
    pthread_t thread;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (pthread_create(&thread, &attributes, file_lister_search, nullptr) != 0) l->listing_running = 0;
    pthread_attr_destroy(&attributes);
    l->key = key;
}

void open_file_lister(String title, const Filepath *directory, u8 mode) {
    init_file_lister();
    File_Lister *l = &global_file_lister;
    global_lister_animation_factor = 0;
    *lister_editor_context = LISTER_CONTEXT_FILE_LISTER;
    u64 n = (u64)title.count < sizeof(l->title_buffer) ? (u64)title.count : sizeof(l->title_buffer);
    memcpy(l->title_buffer, title.data, n);
    l->title = String{l->title_buffer, (s64)n};
    file_lister_stop_listing();
    filepath_copy(&l->directory, directory);
    l->mode = mode;
    l->listing_flags = 3;
    l->refresh = 1;
    File *f = l->filter;
    if (file_length(f)) text_raw_remove(f, 0, file_length(f));
    f->cursor = f->selection_anchor = 0;
    file_update_selection_pointers(f);
    current_file = f;
    editor_stamp_activity();
    maybe_update_file_lister();
    atomic_or(lister_global_flags, LISTER_SHOW_FILE_LISTER);
}

void editor_ask_to_delete_items() { open_file_lister(S("Delete files/directories"), &editor_working_directory, FILE_LISTER_DELETE); }
void editor_ask_to_open_file() { open_file_lister(S("Open File"), &editor_working_directory, FILE_LISTER_OPEN); }

void close_file_lister() {
    file_lister_stop_listing();
    atomic_and(lister_global_flags, ~(LISTER_SHOW_FILE_LISTER | LISTER_SHOW_SEARCH_LISTER));
    global_file_lister.num_items = 0;
    current_file = text_hooks.current_tab_file();
    *lister_editor_context = LISTER_CONTEXT_FILE;
}

void file_lister_go_to_parent_directory() {
    Filepath *d = &global_file_lister.directory;
    if (d->count > 1 || (d->count == 1 && !string_equal(d->components[0].view, S("/")))) filepath_pop(d, nullptr);
    global_file_lister.refresh = 1;
    maybe_update_file_lister();
}
void file_lister_go_to_previous_item() {
    if (global_file_lister.current_item > 0) global_file_lister.current_item--;
}
void file_lister_go_to_next_item() {
    if (global_file_lister.current_item + 1 < global_file_lister.num_items) global_file_lister.current_item++;
}

String file_lister_hint() {
    File_Lister_Item *item = file_lister_get_item(global_file_lister.current_item);
    if (global_file_lister.mode == FILE_LISTER_SAVE && file_length(global_file_lister.filter)) {
        if (item && item->is_new) return S(" - create a new file");
        if (item && !item->is_directory) return S(" - overwrite");
    }
    if (global_file_lister.mode == FILE_LISTER_DELETE && item)
        return S(item->is_directory ? " - delete a directory" : " - delete a file");
    return String{};
}

// Every directory of the tree must let us remove its entries, or nothing is
// deleted: a half-deleted tree helps no one. `blocked` receives the first
// directory that does not.
static bool can_delete_tree(const char *path, char *blocked) {
    if (access(path, W_OK | X_OK | R_OK) != 0) {
        format_into(blocked, 4096, "%s", path);
        return false;
    }
    DIR *d = opendir(path);
    if (!d) {
        format_into(blocked, 4096, "%s", path);
        return false;
    }
    bool ok = true;
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2]))) continue;
        struct stat st;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
        char *child = (char *)tmp_allocate(4096);
        format_into(child, 4096, "%s/%s", path, e->d_name);
        if (!can_delete_tree(child, blocked)) {
            ok = false;
            break;
        }
    }
    closedir(d);
    return ok;
}

bool os_delete_directory(const char *path) {
    DIR *d = opendir(path);
    if (!d) return false;
    bool ok = true;
    Tmp_Scope scope;
    char *child = (char *)tmp_allocate(4096);
    while (dirent *e = readdir(d)) {
        if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2]))) continue;
        format_into(child, 4096, "%s/%s", path, e->d_name);
        struct stat st;
        // A link is removed itself, never what it points to.
        if (lstat(child, &st) == 0 && S_ISDIR(st.st_mode)) ok = os_delete_directory(child) && ok;
        else ok = unlink(child) == 0 && ok;
    }
    closedir(d);
    return rmdir(path) == 0 && ok;
}

bool file_lister_select_item() {
    File_Lister *l = &global_file_lister;
    // Enter typed in the same frame as the name: list for that name first
    // (a second at most) so the choice is the item the user sees next.
    maybe_update_file_lister();
    for (u32 i = 0; i < 5000 && __atomic_load_n(&l->listing_running, __ATOMIC_SEQ_CST); i++) sleep_us(200);
    File_Lister_Item *item = file_lister_get_item(l->current_item);
    if (!item) return false;
    Tmp_Scope scope;
    const char *path = to_tmp_c_string(item->path);
    if (l->mode == FILE_LISTER_DELETE) {
        struct stat st;
        bool directory = lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
        bool ok;
        if (directory) {
            char *blocked = (char *)tmp_allocate(4096);
            if (!can_delete_tree(path, blocked)) {
                editor_report_error(string_concat2("'%' was not deleted: there is no permission to change '%'.",
                                                   S(path), S(blocked)));
                return false;
            }
            ok = os_delete_directory(path);
        } else {
            ok = unlink(path) == 0;
        }
        if (!ok) editor_report_error(string_concat2("'%' could not be deleted completely.", S(path)));
        l->refresh = 1;
        maybe_update_file_lister();
        return ok;
    }
    if (item->is_directory) { // modes 1 and 2 enter it
        set_filepath_from(&l->directory, item->path);
        File *f = l->filter;
        if (file_length(f)) text_raw_remove(f, 0, file_length(f));
        f->cursor = f->selection_anchor = 0;
        file_update_selection_pointers(f);
        l->refresh = 1;
        maybe_update_file_lister();
        return true;
    }
    if (l->mode == FILE_LISTER_SAVE) {
        File *file = text_hooks.current_tab_file();
        if (!file) return false;
        s32 fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            editor_report_error(string_concat2("'%' could not be written.", S(path)));
            return false;
        }
        u64 length = file_length(file), written = 0;
        while (written < length) {
            ssize_t n = write(fd, file_text(file) + written, length - written);
            if (n <= 0) break;
            written += (u64)n;
        }
        close(fd);
        if (written < length) {
            editor_report_error(string_concat2("'%' could not be written completely.", S(path)));
            return false;
        }
        Filepath *split = (Filepath *)tmp_allocate_aligned(sizeof(Filepath), 8);
        set_filepath_from(split, item->path);
        Filepath_Component name;
        filepath_pop(split, &name);
        filepath_copy(&file->directory, split);
        file_set_name(file, name.view);
        file_clear_flags(file, FILE_UNSAVED);
        file_set_flags(file, FILE_NEEDS_COLOURING);
        close_file_lister();
        return true;
    }
    String kept = tcopy_string(item->path);
    close_file_lister();
    File *file = open_file_in_tab(kept);
    if (file) *lister_editor_context = LISTER_CONTEXT_FILE;
    return file != nullptr;
}
