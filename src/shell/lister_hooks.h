// What the terminal, the listers and search need from the window layer, as
// function pointers so they run (and are tested) without a window. The frame
// driver installs the real ones; the defaults do nothing.
#pragma once
#include "core/base.h"

struct Worker_Hooks {
    void (*wake_main_loop)();             // glfwPostEmptyEvent
    bool (*window_is_focused)();          // GLFW_FOCUSED; true by default, so no notification
    void (*create_os_notification)(String title, String message);
};
extern Worker_Hooks worker_hooks;
