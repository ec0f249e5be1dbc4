// The updater: installs "update.data" from its own directory (where the
// editor stored it before quitting). Nothing is touched unless the whole
// data reads back intact; files are written beside their targets first and
// then renamed in, and a failed rename puts the old files back.
//
//   updater                      install update.data
//   updater --pack OUT FILE...   make update data from files (releases, tests)
#include "updater/update_format.h"
#include "core/memory.h"
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

static char directory[4096];

// Messages go to stderr and to "update.log" beside the editor, since the
// editor that started us has already quit.
static void report(const char *format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fprintf(stderr, "updater: %s\n", line);
    char path[4200];
    snprintf(path, sizeof path, "%s/update.log", directory);
    FILE *log = fopen(path, "a");
    if (log) {
        fprintf(log, "%s\n", line);
        fclose(log);
    }
}

static bool read_whole(const char *path, Dynamic_Array *out) {
    dynamic_array_init(out, 1);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > 0x7FFFF000) {
        close(fd);
        return false;
    }
    dynamic_array_reserve(out, (u32)status.st_size + 1);
    for (;;) {
        if (out->count == out->capacity) dynamic_array_reserve(out, out->capacity * 2);
        ssize_t got = read(fd, (u8 *)out->data + out->count, out->capacity - out->count);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            close(fd);
            return got == 0;
        }
        out->count += (u32)got;
    }
}

static bool write_whole(const char *path, String data, u32 mode) {
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode ? mode : 0644);
    if (fd < 0) return false;
    s64 done = 0;
    while (done < data.count) {
        ssize_t wrote = write(fd, data.data + done, (size_t)(data.count - done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;
        done += wrote;
    }
    bool ok = done == data.count && fchmod(fd, mode ? mode : 0644) == 0 && fsync(fd) == 0;
    return close(fd) == 0 && ok;
}

struct Install_Step {
    char target[4400];
    char fresh[4400];
    char old[4400];
    bool had_old;
};

static void undo_renames(Install_Step *steps, u32 done) {
    for (u32 i = 0; i < done; i++) {
        if (steps[i].had_old) rename(steps[i].old, steps[i].target);
        else unlink(steps[i].target);
    }
}

static int install(const Update_Entry *entries, u32 count) {
    Install_Step *steps = (Install_Step *)calloc(count, sizeof(Install_Step));
    if (!steps) return 1;
    for (u32 i = 0; i < count; i++) {
        String name = entries[i].name;
        const char *target = string_equal(name, S(UPDATER_FILENAME)) ? NEW_UPDATER_FILENAME : nullptr;
        char name_c[UPDATE_MAX_NAME + 1];
        memcpy(name_c, name.data, (size_t)name.count);
        name_c[name.count] = 0;
        if (!target) target = name_c;
        snprintf(steps[i].target, sizeof steps[i].target, "%s/%s", directory, target);
        snprintf(steps[i].fresh, sizeof steps[i].fresh, "%s/.%s.new", directory, target);
        snprintf(steps[i].old, sizeof steps[i].old, "%s/.%s.old", directory, target);
    }
    // 1. Every new file beside its target; nothing installed is touched yet.
    for (u32 i = 0; i < count; i++) {
        if (!write_whole(steps[i].fresh, entries[i].data, entries[i].mode)) {
            report("could not write '%s' (%s); nothing was changed.", steps[i].fresh, strerror(errno));
            for (u32 j = 0; j <= i; j++) unlink(steps[j].fresh);
            free(steps);
            return 1;
        }
    }
    // 2. Keep each old file under a second name, then rename the new one in.
    for (u32 i = 0; i < count; i++) {
        unlink(steps[i].old);
        steps[i].had_old = link(steps[i].target, steps[i].old) == 0;
        bool old_missing = !steps[i].had_old && access(steps[i].target, F_OK) != 0;
        if ((!steps[i].had_old && !old_missing) || rename(steps[i].fresh, steps[i].target) != 0) {
            report("could not replace '%s' (%s); the previous files were put back.", steps[i].target, strerror(errno));
            if (steps[i].had_old) unlink(steps[i].old);
            undo_renames(steps, i);
            for (u32 j = i; j < count; j++) unlink(steps[j].fresh);
            free(steps);
            return 1;
        }
    }
    for (u32 i = 0; i < count; i++) {
        if (steps[i].had_old) unlink(steps[i].old);
    }
    free(steps);
    return 0;
}

// Every buffer is freed on every way out: the program is short-lived, but a
// leak checker run over it should stay quiet.
static int pack(int argc, char **argv) {
    Dynamic_Array entries, files, out;
    dynamic_array_init(&entries, sizeof(Update_Entry));
    dynamic_array_init(&files, sizeof(Dynamic_Array));
    dynamic_array_init(&out, 1);
    int status = 0;
    for (int i = 3; i < argc && status == 0; i++) {
        Dynamic_Array *bytes = (Dynamic_Array *)dynamic_array_add(&files);
        struct stat file_status;
        bool read = read_whole(argv[i], bytes); // initialises `bytes` even when it fails
        if (!read || stat(argv[i], &file_status) != 0) {
            fprintf(stderr, "updater: cannot read '%s'\n", argv[i]);
            status = 1;
            break;
        }
        const char *slash = strrchr(argv[i], '/');
        Update_Entry *e = (Update_Entry *)dynamic_array_add(&entries);
        e->name = S(slash ? slash + 1 : argv[i]);
        e->mode = file_status.st_mode & 0777;
        e->data = dynamic_array_as_string(bytes);
        if (!update_entry_name_is_plain(e->name)) {
            fprintf(stderr, "updater: '%s' is not a plain file name\n", argv[i]);
            status = 1;
        }
    }
    if (status == 0) {
        update_data_make((Update_Entry *)entries.data, entries.count, &out);
        if (!write_whole(argv[2], dynamic_array_as_string(&out), 0644)) {
            fprintf(stderr, "updater: cannot write '%s'\n", argv[2]);
            status = 1;
        }
    }
    for (u32 i = 0; i < files.count; i++) dynamic_array_free(dynamic_array_at<Dynamic_Array>(&files, i));
    dynamic_array_free(&files);
    dynamic_array_free(&entries);
    dynamic_array_free(&out);
    return status;
}

int main(int argc, char **argv) {
    init_memory();
    if (argc >= 2 && strcmp(argv[1], "--pack") == 0) {
        if (argc < 4) {
            fprintf(stderr, "usage: updater --pack OUTPUT FILE...\n");
            return 2;
        }
        return pack(argc, argv);
    }
    ssize_t length = readlink("/proc/self/exe", directory, sizeof directory - 1);
    if (length <= 0) return 1;
    directory[length] = 0;
    char *slash = strrchr(directory, '/');
    if (slash) *slash = 0;

    char data_path[4200];
    snprintf(data_path, sizeof data_path, "%s/" UPDATE_DATA_FILENAME, directory);
    Dynamic_Array data, entries;
    if (!read_whole(data_path, &data)) {
        report("cannot read '%s'; nothing was changed.", data_path);
        return 1;
    }
    const char *problem = update_data_read(dynamic_array_as_string(&data), &entries);
    for (u32 i = 0; !problem && i < entries.count; i++) {
        for (u32 j = 0; j < i; j++) {
            if (string_equal(dynamic_array_at<Update_Entry>(&entries, i)->name,
                             dynamic_array_at<Update_Entry>(&entries, j)->name)) {
                problem = "the update data names a file twice";
            }
        }
    }
    if (problem) {
        report("%s; nothing was changed.", problem);
        return 1;
    }
    if (install((Update_Entry *)entries.data, entries.count) != 0) return 1;
    unlink(data_path);
    report("installed %u files.", entries.count);
    return 0;
}
