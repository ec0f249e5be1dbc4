// Finishing an update at start-up: the updater could not replace itself
// while it ran, so its successor waits as "_updater".
#include "shell/update.h"
#include "core/log.h"
#include "core/strings.h"
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

bool swap_in_new_updater(String directory) {
    const char *fresh = tcstring("%.*s/" NEW_UPDATER_FILENAME, (int)directory.count, (const char *)directory.data);
    const char *updater = tcstring("%.*s/" UPDATER_FILENAME, (int)directory.count, (const char *)directory.data);
    int fd = open(fresh, O_PATH | O_CLOEXEC);
    if (fd < 0) return false;
    close(fd);
    // rename() replaces the old one in a single step; a failure keeps both.
    if (rename(fresh, updater) != 0) {
        add_log(nullptr, LOG_ERROR, "Could not replace the updater program with '%s'.", fresh);
        return false;
    }
    add_log(nullptr, LOG_INFO, "Installed the new updater program.");
    return true;
}
