#include "core/base.h"
#include <time.h>

u64 os_get_time_microseconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (u64)ts.tv_sec * 1000000ull + (u64)ts.tv_nsec / 1000ull;
}
