// The in-memory log and its rotating files.
#include "core/log.h"
#include "core/memory.h"
#include "core/strings.h"
#include "core/assets.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <stb/stb_sprintf.h>

const char *const LOG_TYPES_TEXT[6] = {"ERROR", "DEBUG", "Info", "Assets", "Graphics", "Network"};

Global_Log __global_log;
volatile u8 log_lock;
volatile u64 next_error_log_id = ~0ull;

static char log_directory_override[4096];

void log_set_directory(String directory) {
    s64 n = directory.count > 0 ? directory.count : 0;
    if (n > (s64)sizeof(log_directory_override) - 1) n = (s64)sizeof(log_directory_override) - 1;
    if (n) memcpy(log_directory_override, directory.data, (size_t)n);
    log_directory_override[n] = 0;
}

String log_get_directory() {
    if (log_directory_override[0]) return S(log_directory_override);
    String exe = executable_filepath.count > 0 ? executable_filepath : assets_find_executable_directory();
    if (exe.count == 1 && exe.data[0] == '/') return S("/logs");
    return string_concat2("%/logs", exe);
}

static struct tm local_now() {
    time_t now = time(nullptr);
    struct tm t = {};
    localtime_r(&now, &t);
    return t;
}

void init_logging() {
    // A second call (tests) reuses the buffer instead of taking more start-up memory.
    if (!__global_log.buffer) {
        __global_log.buffer = (u8 *)(__memory.base ? startup_take(MAIN_LOG_MEMORY) : os_allocate_read_write(MAIN_LOG_MEMORY));
    }
    __global_log.used = 0;
    struct tm t = local_now();
    add_log(nullptr, LOG_INFO, "log start: %lu-%u-%u %uh %um %us", (unsigned long)(t.tm_year + 1900), (u32)(t.tm_mon + 1),
            (u32)t.tm_mday, (u32)t.tm_hour, (u32)t.tm_min, (u32)t.tm_sec);
}

// [SECTION] Writing files

bool sort_log_files_by_creation_time(const void *a, const void *b) {
    const Log_File_Entry *x = (const Log_File_Entry *)a, *y = (const Log_File_Entry *)b;
    if (x->creation_time_ns != y->creation_time_ns) return x->creation_time_ns < y->creation_time_ns;
    return strcmp(x->name, y->name) < 0; // same stamp: the name breaks the tie
}

static s64 file_creation_time_ns(const char *path) {
    struct statx sx;
    if (statx(AT_FDCWD, path, AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_CTIME, &sx) == 0) {
        // Not every file system records a birth time; the status change time is the next best.
        struct statx_timestamp ts = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
        return ts.tv_sec * 1000000000ll + ts.tv_nsec;
    }
    return 0;
}

// Deletes the oldest plain files until only `keep` remain.
static void remove_old_log_files(const char *directory, u32 keep) {
    DIR *dir = opendir(directory);
    if (!dir) return;
    Dynamic_Array files;
    dynamic_array_init(&files, sizeof(Log_File_Entry));
    while (struct dirent *e = readdir(dir)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        // A stack path: a directory of thousands of files must not eat temporary memory.
        char path[4096 + 256];
        stbsp_snprintf(path, sizeof(path), "%s/%s", directory, e->d_name);
        struct stat st;
        if (lstat(path, &st) != 0 || S_ISDIR(st.st_mode)) continue;
        Log_File_Entry *entry = (Log_File_Entry *)dynamic_array_add(&files);
        entry->creation_time_ns = file_creation_time_ns(path);
        stbsp_snprintf(entry->name, sizeof(entry->name), "%s", e->d_name);
    }
    closedir(dir);
    if (files.count > keep) {
        general_quick_sort(files.data, files.count, sizeof(Log_File_Entry), sort_log_files_by_creation_time);
        for (u32 i = 0; i < files.count - keep; i++) {
            char path[4096 + 256];
            stbsp_snprintf(path, sizeof(path), "%s/%s", directory, dynamic_array_at<Log_File_Entry>(&files, i)->name);
            unlink(path);
        }
    }
    dynamic_array_free(&files);
}

// Called with log_lock held.
static bool write_log_file_locked() {
    Tmp_Scope scope;
    struct tm t = local_now();
    const char *directory = to_tmp_c_string(log_get_directory());
    mkdir(directory, 0700);
    // Keeping 8 old files plus the one about to be written.
    remove_old_log_files(directory, NUM_LOG_FILES_TO_KEEP);

    const char *name = tcstring("%s/log %llu-%u-%u %uh %um %us.txt", directory, (unsigned long long)(t.tm_year + 1900),
                                (u32)(t.tm_mon + 1), (u32)t.tm_mday, (u32)t.tm_hour, (u32)t.tm_min, (u32)t.tm_sec);
    int fd = open(name, O_WRONLY | O_CREAT | O_EXCL, 0600);
    // Two flushes in the same second must not overwrite each other.
    for (u32 n = 2; fd < 0 && errno == EEXIST && n < 100; n++) {
        const char *other = tcstring("%.*s (%u).txt", (int)(strlen(name) - 4), name, n);
        fd = open(other, O_WRONLY | O_CREAT | O_EXCL, 0600);
    }
    bool ok = false;
    if (fd >= 0) {
        u64 size = __global_log.used;
        u64 written = 0;
        while (written < size) {
            ssize_t n = write(fd, __global_log.buffer + written, size - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            written += (u64)n;
        }
        ok = written == size;
        close(fd);
    }
    __global_log.used = 0;
    return ok;
}

bool write_log_file() {
    if (!__global_log.buffer) return false;
    spin_lock(&log_lock);
    bool ok = write_log_file_locked();
    spin_unlock(&log_lock);
    return ok;
}

// [SECTION] Appending

static u64 add_log_v(String *out, u8 type, bool fresh_line, const char *format, va_list args) {
    if (out) *out = String{};
    if (type >= ARRAY_COUNT(LOG_TYPES_TEXT)) type = LOG_DEBUG;
    char line[MAX_LOG_ENTRY];
    u64 id = ~0ull;
    int prefix;
    const char *lead = fresh_line ? "\n" : "";
    if (type == LOG_ERROR) {
        id = __atomic_add_fetch(&next_error_log_id, 1, __ATOMIC_SEQ_CST);
        prefix = stbsp_snprintf(line, sizeof(line), "%s%s #0x%llx: ", lead, LOG_TYPES_TEXT[0], (unsigned long long)id);
    } else {
        prefix = stbsp_snprintf(line, sizeof(line), "%s%s: ", lead, LOG_TYPES_TEXT[type]);
    }
    int room = (int)sizeof(line) - prefix - 1; // keep one byte for the new line
    int n = stbsp_vsnprintf(line + prefix, room, format ? format : "", args);
    if (n < 0) n = 0;
    if (n >= room) n = room - 1;
    u64 length = (u64)(prefix + n);
    line[length++] = '\n';

    if (!__global_log.buffer) return id; // logging not started: nothing to append to
    spin_lock(&log_lock);
    if (__global_log.used + length > MAIN_LOG_MEMORY) write_log_file_locked();
    u8 *at = __global_log.buffer + __global_log.used;
    memcpy(at, line, length);
    __global_log.used += length;
    spin_unlock(&log_lock);
    if (out) {
        u64 skip = fresh_line ? 1 : 0;
        *out = String{at + skip, (s64)(length - skip - 1)};
    }
    return id;
}

u64 add_log(String *out, u8 type, const char *format, ...) {
    va_list args;
    va_start(args, format);
    u64 id = add_log_v(out, type, false, format, args);
    va_end(args);
    return id;
}

u64 add_log_with_new_line(String *out, u8 type, const char *format, ...) {
    va_list args;
    va_start(args, format);
    u64 id = add_log_v(out, type, true, format, args);
    va_end(args);
    return id;
}

void log_new_line() {
    if (!__global_log.buffer) return;
    // Under the lock: an appender's copy and this byte must never share a position.
    spin_lock(&log_lock);
    if (__global_log.used + 1 > MAIN_LOG_MEMORY) write_log_file_locked();
    __global_log.buffer[__global_log.used] = '\n';
    __global_log.used += 1;
    spin_unlock(&log_lock);
}

// [SECTION] Version

String version_to_string(u32 version) {
    return tstring_small("%u.%u.%u", version & 0xFF, version >> 8 & 0xFF, version >> 16 & 0xFF);
}

const char *version_to_c_string(u32 version) {
    return tcstring_small("%u.%u.%u", version & 0xFF, version >> 8 & 0xFF, version >> 16 & 0xFF);
}

String make_version_info_data() {
    u8 *data = (u8 *)tmp_allocate(4);
    if (!data) return String{};
    data[0] = (u8)(EDITOR_VERSION & 0xFF);
    data[1] = (u8)(EDITOR_VERSION >> 8 & 0xFF);
    data[2] = (u8)(EDITOR_VERSION >> 16 & 0xFF);
    data[3] = 0;
    return String{data, 4};
}
