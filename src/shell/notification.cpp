#include "shell/notification.h"
#include "shell/os_spawn.h"
#include "core/strings.h"
#include <sys/wait.h>

Dynamic_Array global_os_notifications;
volatile u8 global_os_notifications_lock;

void create_os_notification(String title, String message) {
    spin_lock(&global_os_notifications_lock);
    if (global_os_notifications.element_size == 0) dynamic_array_init(&global_os_notifications, 8);
    u32 kept = 0;
    for (u32 i = 0; i < global_os_notifications.count; i++) {
        s64 pid = *dynamic_array_at<s64>(&global_os_notifications, i);
        if (waitpid((pid_t)pid, nullptr, WNOHANG) == 0) *dynamic_array_at<s64>(&global_os_notifications, kept++) = pid;
    }
    global_os_notifications.count = kept;
    // Arguments built directly rather than split from a command line, so a
    // message with quotes in it arrives whole.
    const char *argv[] = {"notify-send", "-a", "tarno", "--", to_tmp_c_string(title), to_tmp_c_string(message), nullptr};
    pid_t pid = os_spawn_detached(argv, false);
    if (pid > 0) *(s64 *)dynamic_array_add(&global_os_notifications) = pid;
    spin_unlock(&global_os_notifications_lock);
}
