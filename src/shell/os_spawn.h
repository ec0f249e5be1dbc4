// Starting desktop programs (notify-send, xdg-open, the updater) without
// waiting for them.
#pragma once
#include "core/base.h"
#include <sys/types.h>

// fork + execvp(argv[0], argv); the child exits with 0 when execvp fails.
// `new_session` detaches the child from the editor's session (the updater
// outlives the editor). Children are reaped by later calls. Returns the
// child's process id, or -1 when fork failed.
pid_t os_spawn_detached(const char *const *argv, bool new_session);
// Reaps the children started here that have ended; returns how many remain.
u32 os_reap_spawned_children();

// Opens a file, directory or web address in the desktop's default
// application (xdg-open). Returns the child's process id or -1.
pid_t os_open_file_in_other_app(String path);
