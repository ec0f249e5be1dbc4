// Background services (file watcher, update threads) wake the frame loop
// through one pointer, so they run headless in tests.
#pragma once
#include "core/base.h"

// Defaults to the window system's empty event; tests count calls instead.
extern void (*os_wake_main_loop)();
