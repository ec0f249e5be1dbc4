// Logging for the renderer, fonts and UI. Every message also stays in a small
// buffer so that start-up problems can be inspected (and tested) in-process.
#pragma once
#include "core/base.h"

enum Render_Log_Type : u8 {
    RENDER_LOG_ERROR = 0,
    RENDER_LOG_INFO = 2,
    RENDER_LOG_ASSETS = 3,
    RENDER_LOG_GRAPHICS = 4,
};

void render_log(u8 type, const char *format, ...) __attribute__((format(printf, 2, 3)));
// The text of the most recent message (without the type prefix), NUL-terminated.
const char *render_last_log_message();
// Messages logged since start-up; tests compare it before and after a call.
u64 render_num_log_messages();
