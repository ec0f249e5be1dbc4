#include "shell/os_spawn.h"
#include "core/memory.h"
#include "core/strings.h"
#include <sys/wait.h>
#include <unistd.h>

// Process ids not yet reaped; a child is waited for only by this list, so
// no zombies pile up over a long session.
constexpr u32 MAX_SPAWNED = 64;
static pid_t spawned[MAX_SPAWNED];
static u32 num_spawned;
static volatile u8 spawned_lock;

u32 os_reap_spawned_children() {
    spin_lock(&spawned_lock);
    u32 kept = 0;
    for (u32 i = 0; i < num_spawned; i++) {
        if (waitpid(spawned[i], nullptr, WNOHANG) == 0) spawned[kept++] = spawned[i];
    }
    num_spawned = kept;
    spin_unlock(&spawned_lock);
    return kept;
}

pid_t os_spawn_detached(const char *const *argv, bool new_session) {
    os_reap_spawned_children();
    pid_t pid = fork();
    if (pid == 0) {
        if (new_session) setsid();
        execvp(argv[0], (char *const *)argv);
        _exit(0);
    }
    if (pid > 0) {
        spin_lock(&spawned_lock);
        if (num_spawned < MAX_SPAWNED) spawned[num_spawned++] = pid;
        spin_unlock(&spawned_lock);
    }
    return pid;
}

pid_t os_open_file_in_other_app(String path) {
    if (path.count <= 0) return -1;
    const char *argv[] = {"xdg-open", to_tmp_c_string(path), nullptr};
    return os_spawn_detached(argv, false);
}
