// Process-wide editor state shared by the application shell.
#pragma once
#include "core/base.h"
#include "text/text_state.h" // the activity times and working directory live in the text core

enum Global_Flags : u64 {
    SHOULD_RUN = 1,
    FOCUS_MODE = 2,
    MODIFYING_FILE_NAME = 4,
    SHOW_FILE_LISTER = 8,
    SHOW_SEARCH_LISTER = 16,
    DISPLAY_COMPILE_ERRORS = 32,
    UPDATE_IS_AVAILABLE = 64,
};

enum Editor_Context : u8 {
    CONTEXT_FILE = 1,
    CONTEXT_SEARCH_LISTER = 2,
    CONTEXT_FILE_LISTER = 4,
    CONTEXT_TERMINAL = 8,
    CONTEXT_LISTER = 6,
};

extern volatile u64 global_flags;          // changed only with atomic_or / atomic_and
extern volatile u8 global_editor_context;
extern f32 delta_time;                     // previous frame, milliseconds
extern u64 last_event_time_stamp;
extern u64 last_time_we_switched_tabs;

constexpr u64 VSYNC_DISABLED_MICROSECONDS = 500000;

// Bits of the custom layer's display settings (global_settings_flags).
enum Settings_Display_Bits : u8 {
    SETTINGS_SHOW_LINE_NUMBERS = 1,
    SETTINGS_SHOW_CURRENT_LINE = 2,
};

inline bool editor_should_run() { return (global_flags & SHOULD_RUN) != 0; }
