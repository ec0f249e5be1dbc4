#include "shell/os_wake.h"
#include "render/window.h"

void (*os_wake_main_loop)() = platform_wake_main_thread;
