// The file watcher thread. Every pass compares the status on disk of the
// custom layer's sources and of every open file with what was last seen.
// Between passes the thread sleeps in poll() on an inotify descriptor that
// watches the directories involved, so a save is seen at once; the 100 ms
// timeout keeps it correct where inotify is missing or a directory was
// removed and re-created (its watch is gone then).
#include "shell/file_watcher.h"
#include "shell/os_wake.h"
#include "core/log.h"
#include "text/file.h"
#include "text/filepath.h"
#include "text/text_state.h"
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

Custom_Layer_Watch custom_layer_watch;

// stat(), not lstat(): load and save record the status of the file a
// symbolic link points to, so that is what must be compared.
static bool disk_status(const char *path, s64 *size, s64 *modification_time) {
    struct stat status;
    if (stat(path, &status) != 0) return false;
    *size = (s64)status.st_size;
    *modification_time = (s64)status.st_mtim.tv_sec * 1000000000ll + status.st_mtim.tv_nsec;
    return true;
}

static void refresh_watched_file(Watched_Source_File *w) {
    if (!disk_status(w->path, &w->size, &w->modification_time)) {
        w->size = -1;
        w->modification_time = 0;
    }
}

void custom_layer_watch_set_files(const String *paths, u32 count) {
    Tmp_Scope scope;
    spin_lock(&custom_layer_watch.events_lock);
    Dynamic_Array *files = &custom_layer_watch.files;
    if (files->element_size == 0) dynamic_array_init(files, sizeof(Watched_Source_File));
    // A file already watched keeps the status it had before the compile
    // read it: one saved while the compiler ran is then still seen as
    // changed. Stating it now would take that save for the compiled one.
    u32 num_old = files->count;
    Watched_Source_File *old = nullptr;
    if (num_old) {
        old = (Watched_Source_File *)tmp_allocate_aligned(sizeof(Watched_Source_File) * num_old, 8);
        memcpy((void *)old, files->data, sizeof(Watched_Source_File) * num_old);
    }
    files->count = 0;
    for (u32 i = 0; i < count; i++) {
        if (paths[i].count <= 0 || paths[i].count >= (s64)WATCHED_PATH_BYTES) continue;
        Watched_Source_File *w = (Watched_Source_File *)dynamic_array_add(files);
        memcpy(w->path, paths[i].data, (size_t)paths[i].count);
        w->path[paths[i].count] = 0;
        const Watched_Source_File *before = nullptr;
        for (u32 k = 0; k < num_old && !before; k++)
            if (strcmp(old[k].path, w->path) == 0) before = &old[k];
        if (before) {
            w->size = before->size;
            w->modification_time = before->modification_time;
        } else {
            refresh_watched_file(w);
        }
    }
    __atomic_store_n(&custom_layer_watch.recompile_requested, 0, __ATOMIC_SEQ_CST);
    spin_unlock(&custom_layer_watch.events_lock);
}

bool custom_layer_take_recompile_request() {
    if (!__atomic_load_n(&custom_layer_watch.recompile_requested, __ATOMIC_SEQ_CST)) return false;
    spin_lock(&custom_layer_watch.events_lock);
    for (u32 i = 0; i < custom_layer_watch.files.count; i++) {
        refresh_watched_file(dynamic_array_at<Watched_Source_File>(&custom_layer_watch.files, i));
    }
    __atomic_store_n(&custom_layer_watch.recompile_requested, 0, __ATOMIC_SEQ_CST);
    spin_unlock(&custom_layer_watch.events_lock);
    return true;
}

static u32 check_custom_layer_sources() {
    u32 marks = 0;
    spin_lock(&custom_layer_watch.events_lock);
    if (!custom_layer_watch.recompile_requested) {
        for (u32 i = 0; i < custom_layer_watch.files.count; i++) {
            Watched_Source_File *w = dynamic_array_at<Watched_Source_File>(&custom_layer_watch.files, i);
            s64 size = -1, modification_time = 0;
            disk_status(w->path, &size, &modification_time);
            if (size != w->size || modification_time != w->modification_time) {
                __atomic_store_n(&custom_layer_watch.recompile_requested, 1, __ATOMIC_SEQ_CST);
                marks++;
                break;
            }
        }
    }
    spin_unlock(&custom_layer_watch.events_lock);
    return marks;
}

// Marks one open file. A missing file keeps its buffer (0x800 only); a file
// with unsaved changes is compared by time alone, as its text length says
// nothing about the disk, and is marked but never reloaded for it.
static u32 check_open_file(File *file) {
    u16 flags = __atomic_load_n(&file->flags, __ATOMIC_SEQ_CST);
    if (!(flags & FILE_IN_USE) || file->name.count == 0 || file->directory.count == 0) return 0;
    const char *path = file_full_path(file);
    s64 size = 0, modification_time = 0;
    if (!disk_status(path, &size, &modification_time)) {
        if (flags & FILE_DELETED_ON_DISK) return 0;
        file_clear_flags(file, FILE_CHANGED_ON_DISK);
        file_set_flags(file, FILE_DELETED_ON_DISK);
        return 1;
    }
    if (flags & FILE_DELETED_ON_DISK) {
        file_clear_flags(file, FILE_DELETED_ON_DISK);
        file_set_flags(file, FILE_CHANGED_ON_DISK);
        return 1;
    }
    if (flags & FILE_CHANGED_ON_DISK) return 0;
    spin_lock(&file->lock);
    bool differs = modification_time != file->modification_time ||
                   (!(flags & FILE_UNSAVED) && (u64)size != file_length(file));
    spin_unlock(&file->lock);
    if (!differs) return 0;
    file_set_flags(file, FILE_CHANGED_ON_DISK);
    return 1;
}

u32 file_watcher_check_once() {
    u32 marks = check_custom_layer_sources();
    text_hooks.lock_tabs();
    u32 count = text_hooks.num_file_tabs();
    for (u32 i = 0; i < count; i++) {
        File *file = text_hooks.file_tab_at(i);
        if (file) marks += check_open_file(file);
    }
    text_hooks.unlock_tabs();
    if (marks) os_wake_main_loop();
    return marks;
}

bool file_watcher_apply_disk_change(File *file) {
    if (!file || !file_has_flags(file, FILE_CHANGED_ON_DISK)) return false;
    if (file_has_flags(file, FILE_DELETED_ON_DISK | FILE_UNSAVED)) return false;
    reload_file(file);
    return !file_has_flags(file, FILE_CHANGED_ON_DISK);
}

// [SECTION] Waiting between passes

// Watches the directory part of `path` (directory watches survive editors
// that save by renaming a new file over the old one). Adding a watch that
// exists is a no-op, so every pass simply adds them all again.
static void watch_directory_of(int inotify_fd, const char *path) {
    const char *slash = strrchr(path, '/');
    if (!slash) return;
    u64 length = slash == path ? 1 : (u64)(slash - path);
    char directory[WATCHED_PATH_BYTES];
    if (length >= sizeof directory) return;
    memcpy(directory, path, length);
    directory[length] = 0;
    inotify_add_watch(inotify_fd, directory,
                      IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB |
                          IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
}

static void watch_directories(int inotify_fd) {
    spin_lock(&custom_layer_watch.events_lock);
    for (u32 i = 0; i < custom_layer_watch.files.count; i++) {
        watch_directory_of(inotify_fd, dynamic_array_at<Watched_Source_File>(&custom_layer_watch.files, i)->path);
    }
    spin_unlock(&custom_layer_watch.events_lock);
    text_hooks.lock_tabs();
    u32 count = text_hooks.num_file_tabs();
    for (u32 i = 0; i < count; i++) {
        File *file = text_hooks.file_tab_at(i);
        if (file && file->directory.count) watch_directory_of(inotify_fd, file_full_path(file));
    }
    text_hooks.unlock_tabs();
}

// Sleeps up to the interval, less when a watched directory reports
// something; drains what was reported (the pass re-reads the status anyway).
static void wait_for_next_pass(int inotify_fd) {
    if (inotify_fd < 0) {
        struct timespec left = {0, (long)FILE_WATCHER_INTERVAL_MS * 1000000l};
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {}
        return;
    }
    struct pollfd p = {inotify_fd, POLLIN, 0};
    if (poll(&p, 1, (int)FILE_WATCHER_INTERVAL_MS) > 0) {
        alignas(struct inotify_event) char events[4096];
        while (read(inotify_fd, events, sizeof events) > 0) {}
        // A burst of events (an editor writing a temporary file, then
        // renaming it) settles before the pass looks; this also bounds the
        // passes of a directory that never stops changing.
        struct timespec settle = {0, 10000000l};
        nanosleep(&settle, nullptr);
    }
}

void *file_watcher(void *) {
    tmp_register_thread();
    int inotify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_fd < 0) add_log(nullptr, LOG_INFO, "File watcher: inotify is unavailable, polling only.");
    for (;;) {
        tmp_reset();
        file_watcher_check_once();
        if (inotify_fd >= 0) watch_directories(inotify_fd);
        wait_for_next_pass(inotify_fd);
    }
    return nullptr;
}

bool start_file_watcher_thread() {
    pthread_t thread;
    if (pthread_create(&thread, nullptr, file_watcher, nullptr) != 0) return false;
    pthread_detach(thread);
    return true;
}
