// The file watcher: a thread that notices when the custom layer's sources or
// the open files change on disk. It only marks flags; the main thread acts
// on them (recompiles, reloads) at its next frame.
#pragma once
#include "core/base.h"
#include "core/memory.h"

struct File;

constexpr u32 WATCHED_PATH_BYTES = 1024;
constexpr u64 FILE_WATCHER_INTERVAL_MS = 100;

// One source file of the custom layer as it was when last compiled.
struct Watched_Source_File {
    char path[WATCHED_PATH_BYTES]; // NUL-terminated full path
    s64 size;                      // -1: missing at compilation
    s64 modification_time;         // nanoseconds
};

struct Custom_Layer_Watch {
    volatile u8 events_lock;          // held while the list is read or replaced
    volatile u8 recompile_requested;  // read (and cleared) by the frame driver
    Dynamic_Array files;              // Watched_Source_File
};
extern Custom_Layer_Watch custom_layer_watch;

// Main thread, after each compilation (failed ones too, so fixing the error
// recompiles): the files the custom layer was compiled from. One watched
// before keeps the status it had when the compile was asked for, so a save
// made while the compiler ran still counts; a new one is stated now. Paths
// longer than WATCHED_PATH_BYTES - 1 are skipped.
void custom_layer_watch_set_files(const String *paths, u32 count);
// Frame driver: true once per change; the stored status is refreshed so the
// same change is not reported again.
bool custom_layer_take_recompile_request();

// One watcher pass over the watch list and the file tabs (through the text
// core's tab hooks). Returns how many marks it made; wakes the main loop
// when any.
u32 file_watcher_check_once();

// Main thread, before drawing a file: reloads a file that changed on disk,
// unless it has unsaved changes (then the changed-on-disk flag stays and
// shows) or is missing (its buffer stays). True when the text was reloaded.
bool file_watcher_apply_disk_change(File *file);

// Thread entry; never returns.
void *file_watcher(void *);
// Start-up: the watcher thread, detached. False when it cannot be created.
bool start_file_watcher_thread();
