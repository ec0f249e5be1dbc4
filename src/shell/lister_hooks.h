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

// The shell's global_flags and global_editor_context live with the frame
// driver; the listers reach them through these (the shell points them at the
// real ones; headless they point at private words).
extern volatile u64 *lister_global_flags;
extern volatile u8 *lister_editor_context;
constexpr u64 LISTER_SHOW_FILE_LISTER = 8, LISTER_SHOW_SEARCH_LISTER = 16;
constexpr u8 LISTER_CONTEXT_FILE = 1, LISTER_CONTEXT_SEARCH = 2, LISTER_CONTEXT_FILE_LISTER = 4, LISTER_CONTEXT_TERMINAL = 8;
