// File records: storage in never-moving chunks, load, reload, save, close
// and the blacklist.
#include "text/file.h"
#include "text/file_read.h"
#include "text/text_state.h"
#include "text/tokeniser.h"
#include "text/undo.h"
#include "core/strings.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/mman.h>
#include <unistd.h>
#include <errno.h>

Files_Chunk *editor_files_memory;
void (*load_file_after_status_hook)(const char *path);

// [SECTION] Records

void file_update_selection_pointers(File *file) {
    if (file->cursor <= file->selection_anchor) {
        file->selection_start = &file->cursor;
        file->selection_end = &file->selection_anchor;
    } else {
        file->selection_start = &file->selection_anchor;
        file->selection_end = &file->cursor;
    }
}

File *file_or_current(File *file) { return file ? file : current_file; }

void init_file(File *file, u16 extra_flags) {
    memset((void *)file, 0, sizeof(File));
    file->flags = (u16)(FILE_IN_USE | FILE_UNSAVED | extra_flags);
    dynamic_array_init(&file->view_lines, 16);
    dynamic_array_init(&file->text, 1);
    dynamic_array_init(&file->palette, 16);
    dynamic_array_init(&file->colour_chunks, 16);
    dynamic_array_init(&file->context_chunks, 24);
    dynamic_array_init(&file->undo_records, sizeof(Undo_Record), 8);
    file->line_ending_buffer[0] = '\n';
    file->line_ending = String{file->line_ending_buffer, 1};
    file->changed_low = ~0ull;
    file->view_state = &file->view_state_value;
    file_update_selection_pointers(file);
}

File *add_a_file() {
    if (!editor_files_memory) {
        editor_files_memory = (Files_Chunk *)os_allocate_read_write(EDITOR_FILES_MEMORY);
    }
    File *found = nullptr;
    // A record freed by close_file comes first, then a never-used slot.
    for (Files_Chunk *chunk = editor_files_memory; chunk && !found; chunk = chunk->next)
        for (u32 i = 0; i < chunk->num_used; i++)
            if (!file_has_flags(&chunk->slots[i].file, FILE_IN_USE)) {
                found = &chunk->slots[i].file;
                break;
            }
    if (!found) {
        Files_Chunk *chunk = editor_files_memory;
        for (;;) {
            if (chunk->num_used < NUM_FILES_PER_CHUNK) {
                found = &chunk->slots[chunk->num_used++].file;
                break;
            }
            if (!chunk->next) chunk->next = (Files_Chunk *)os_allocate_read_write(EDITOR_FILES_MEMORY);
            chunk = chunk->next;
        }
    }
    init_file(found, 0);
    return found;
}

void close_file(File *file) {
    undo_free_all(file);
    dynamic_array_free(&file->view_lines);
    dynamic_array_free(&file->text);
    dynamic_array_free(&file->palette);
    dynamic_array_free(&file->colour_chunks);
    dynamic_array_free(&file->context_chunks);
    dynamic_array_free(&file->undo_records);
    if (current_file == file) current_file = nullptr;
    if (custom_layer_execution_file == file) custom_layer_execution_file = nullptr;
    __atomic_store_n(&file->flags, (u16)0, __ATOMIC_SEQ_CST);
}

u32 editor_num_files_in_use() {
    u32 n = 0;
    for (Files_Chunk *chunk = editor_files_memory; chunk; chunk = chunk->next)
        for (u32 i = 0; i < chunk->num_used; i++)
            if (file_has_flags(&chunk->slots[i].file, FILE_IN_USE)) n++;
    return n;
}

void file_set_name(File *file, String name) {
    s64 n = name.count < 255 ? name.count : 255;
    if (n > 0) memcpy(file->name_buffer, name.data, (size_t)n);
    file->name_buffer[n < 0 ? 0 : n] = 0;
    file->name = String{file->name_buffer, n < 0 ? 0 : n};
    file->hint = nullptr;
    file->hint_generation = 0;
}

const char *file_full_path(File *file) { return filepath_join_c_string(&file->directory, file->name); }

// [SECTION] Reading from disk

static void report_file_error(const char *what, const char *path) {
    editor_report_error(string_concat2("% '%': %", S(what), S(path), S(strerror(errno))));
}

// Big texts are mapped with huge pages where the kernel allows it: touching
// 4 KiB pages one fault at a time dominates loading a large file.
static void advise_huge_pages(void *memory, u64 size) {
    const u64 huge = 2ull << 20;
    if (size < 4 * huge) return;
    u64 start = ((u64)(uintptr_t)memory + huge - 1) & ~(huge - 1);
    u64 end = ((u64)(uintptr_t)memory + size) & ~(huge - 1);
    if (end > start) madvise((void *)(uintptr_t)start, end - start, MADV_HUGEPAGE);
}

// Reads the whole file at `path` into a fresh byte array. On any failure the
// array is freed, a message is reported and false returned.
static bool read_whole_file_into(const char *path, Dynamic_Array *out, s64 *out_mtime) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        report_file_error("Could not open", path);
        return false;
    }
    struct stat status;
    if (fstat(fd, &status) != 0) {
        report_file_error("Could not read the status of", path);
        close(fd);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        editor_report_error(string_concat2("'%' is not a regular file.", S(path)));
        close(fd);
        return false;
    }
    if ((u64)status.st_size > TEXT_MAX_BYTES) {
        editor_report_error(string_concat2("'%' is too large to open (the limit is just under 2 GiB).", S(path)));
        close(fd);
        return false;
    }
    if (load_file_after_status_hook) load_file_after_status_hook(path);
    u64 size = (u64)status.st_size;
    dynamic_array_init(out, 1);
    // One byte more than the status says, so a file that grew is noticed too.
    dynamic_array_reserve(out, (u32)(size + 1 < 16 ? 16 : size + 1));
    advise_huge_pages(out->data, out->capacity);
    s64 got = file_read_whole(fd, (u8 *)out->data, size);
    close(fd);
    if (got < 0 || (u64)got != size) {
        if (got < 0) report_file_error("Could not read", path);
        else editor_report_error(string_concat2("'%' changed size while it was being read; it was not loaded.", S(path)));
        dynamic_array_free(out);
        return false;
    }
    out->count = (u32)size;
    *out_mtime = (s64)status.st_mtim.tv_sec * 1000000000ll + status.st_mtim.tv_nsec;
    return true;
}

// The first line break of the text decides the line ending of new lines.
static void detect_line_ending(File *file) {
    u8 *text = file_text(file);
    u64 n = file_length(file);
    file->line_ending_buffer[0] = '\n';
    file->line_ending = String{file->line_ending_buffer, 1};
    for (u64 i = 0; i < n; i++) {
        if (text[i] == '\n') return;
        if (text[i] == '\r') {
            file->line_ending_buffer[0] = '\r';
            if (i + 1 < n && text[i + 1] == '\n') {
                file->line_ending_buffer[1] = '\n';
                file->line_ending.count = 2;
            }
            return;
        }
    }
}

// Drops everything derived from the old text: undo, colouring, context.
static void forget_derived_state(File *file) {
    undo_free_all(file);
    file->colour_chunks.count = 0;
    file->palette.count = 0;
    file->context_chunks.count = 0;
    file->changed_low = 0;
    file->syntax_state_known = 0;
    file->changed_high = file_length(file);
}

static void adopt_text(File *file, Dynamic_Array *text) {
    dynamic_array_free(&file->text);
    file->text = *text;
}

bool load_file(Filepath *path_with_name, File *file) {
    if (!path_with_name || path_with_name->count == 0 || !file) return false;
    spin_lock(&file->lock);
    const char *path = filepath_to_c_string(path_with_name);
    Dynamic_Array text;
    s64 mtime = 0;
    if (!read_whole_file_into(path, &text, &mtime)) {
        spin_unlock(&file->lock);
        return false;
    }
    Filepath_Component name;
    filepath_pop(path_with_name, &name);
    filepath_copy(&file->directory, path_with_name);
    filepath_push(path_with_name, name.view);
    file_set_name(file, name.view);

    adopt_text(file, &text);
    file->modification_time = mtime;
    detect_line_ending(file);
    forget_derived_state(file);
    if (file_length(file) > 0) {
        file_set_flags(file, FILE_CHANGED);
        file->previous_cursor = file->cursor;
        file->cursor = 0;
        if (!file_has_flags(file, FILE_SELECTION_ACTIVE)) file->selection_anchor = 0;
    }
    // Never leave a position past the new end.
    if (file->cursor > file_length(file)) file->cursor = file_length(file);
    if (file->selection_anchor > file_length(file)) file->selection_anchor = file_length(file);
    file_update_selection_pointers(file);
    *file->view_state = 0;
    if (text_hooks.custom_layer_has_syntax_block()) file_set_flags(file, FILE_NEEDS_COLOURING);
    current_file = file;
    file_clear_flags(file, FILE_UNSAVED);
    spin_unlock(&file->lock);
    return true;
}

bool load_file_from_path(String path, File *file) {
    if (path.count <= 0 || memchr(path.data, 0, (size_t)path.count)) {
        editor_report_error(S("A file path must not be empty or hold a NUL byte."));
        return false;
    }
    Tmp_Scope scope;
    Filepath *split = (Filepath *)tmp_allocate_aligned(sizeof(Filepath), 8);
    // A full path, so the file can be saved back wherever the working
    // directory goes; a path that does not resolve is kept as given and
    // the open reports why.
    String directory, name;
    bool ok;
    if (os_get_full_filepath(path.data, path.count, &directory, &name) && name.count > 0) {
        ok = directory.count > 0 ? set_filepath_from(split, directory) : set_filepath_from(split, S("/"));
        ok = ok && filepath_push(split, name);
    } else {
        ok = set_filepath_from(split, path);
    }
    if (!ok) {
        editor_report_error(string_concat2("The path '%' is too long or too deep to open.", path));
        return false;
    }
    return load_file(split, file);
}

void reload_file(File *file) {
    if (!file || file_has_flags(file, FILE_DELETED_ON_DISK) || file->name.count == 0) return;
    spin_lock(&file->lock);
    Dynamic_Array text;
    s64 mtime = 0;
    if (!read_whole_file_into(file_full_path(file), &text, &mtime)) {
        spin_unlock(&file->lock);
        return;
    }
    adopt_text(file, &text);
    file->modification_time = mtime;
    forget_derived_state(file);
    u64 length = file_length(file);
    if (file->cursor > length) {
        file->previous_cursor = file->cursor;
        file->cursor = length;
        if (!file_has_flags(file, FILE_SELECTION_ACTIVE)) file->selection_anchor = length;
    }
    if (file->selection_anchor > length) file->selection_anchor = length;
    file_update_selection_pointers(file);
    file_clear_flags(file, FILE_CHANGED_ON_DISK | FILE_DELETED_ON_DISK);
    file_set_flags(file, FILE_CHANGED | FILE_NEEDS_COLOURING);
    spin_unlock(&file->lock);
}

// [SECTION] Writing to disk

bool editor_save_file(File *file) {
    if (!file || file->name.count == 0) return false;
    const char *path = file_full_path(file);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        report_file_error("Could not save", path);
        return false;
    }
    u64 length = file_length(file);
    ssize_t written = length ? write(fd, file_text(file), length) : 0;
    if (written < 0 || (u64)written != length) {
        if (written < 0) report_file_error("Could not write", path);
        else editor_report_error(string_concat2("'%' was only partly written.", S(path)));
        close(fd);
        return false;
    }
    struct stat status;
    if (fstat(fd, &status) == 0)
        file->modification_time = (s64)status.st_mtim.tv_sec * 1000000000ll + status.st_mtim.tv_nsec;
    close(fd);
    file_clear_flags(file, FILE_UNSAVED | FILE_CHANGED_ON_DISK | FILE_DELETED_ON_DISK);
    return true;
}

bool editor_ask_to_save_file() {
    File *file = current_file;
    if (!file || text_hooks.current_tab_file() != file) return false;
    if (text_hooks.file_lister_is_saving()) return false;
    if (file->directory.count == 0) {
        text_hooks.open_save_lister("Save File", &editor_working_directory);
        return false;
    }
    return editor_save_file(file);
}

// [SECTION] Blacklist

static void blacklist_add(Dynamic_Array *list, String s) {
    if (!list->element_size) dynamic_array_init(list, sizeof(String));
    String copy = string_data_add(&black_list_strings, s);
    if (copy.count == 0) return;
    *(String *)dynamic_array_add(list) = copy;
}

void blacklist_add_extension(String extension) { blacklist_add(&blacklisted_extensions, extension); }
void blacklist_add_path(String path) { blacklist_add(&blacklisted_paths, path); }

void blacklist_clear() {
    if (!blacklisted_extensions.element_size) dynamic_array_init(&blacklisted_extensions, sizeof(String));
    if (!blacklisted_paths.element_size) dynamic_array_init(&blacklisted_paths, sizeof(String));
    blacklisted_extensions.count = 0;
    blacklisted_paths.count = 0;
    string_data_reset(&black_list_strings);
}

// A blacklisted path covers itself and everything below it, compared by
// whole components so /a/b does not cover /a/bc.
bool filepath_is_blacklisted(const u8 *path, s64 length, bool check_extension) {
    if (!path || length <= 0) return false;
    if (check_extension) {
        s64 dot = length - 1;
        while (dot >= 0 && path[dot] != '.') dot--;
        if (dot >= 0) {
            String extension = {(u8 *)path + dot + 1, length - dot - 1};
            for (u32 i = 0; i < blacklisted_extensions.count; i++)
                if (string_equal(extension, *dynamic_array_at<String>(&blacklisted_extensions, i))) return true;
        }
    }
    if (blacklisted_paths.count == 0) return false;
    Tmp_Scope scope;
    Filepath *split = (Filepath *)tmp_allocate_aligned(sizeof(Filepath) * 2, 8);
    Filepath *listed = split + 1;
    if (!string_to_filepath(split, path, length)) return false;
    for (u32 i = 0; i < blacklisted_paths.count; i++) {
        String entry = *dynamic_array_at<String>(&blacklisted_paths, i);
        if (!set_filepath_from(listed, entry) || listed->count == 0 || listed->count > split->count) continue;
        bool same = true;
        for (u64 c = 0; c < listed->count && same; c++)
            same = string_equal(listed->components[c].view, split->components[c].view);
        if (same) return true;
    }
    return false;
}
