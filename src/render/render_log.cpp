#include "render/render_log.h"
#include "core/strings.h"
#include <stdarg.h>
#include <stdio.h>
#if __has_include("core/log.h")
#include "core/log.h"
#define RENDER_LOG_TO_CORE 1
#endif
#include <stb/stb_sprintf.h>

static char last_message[2048];
static u64 num_messages;

void render_log(u8 type, const char *format, ...) {
    va_list args;
    va_start(args, format);
    stbsp_vsnprintf(last_message, sizeof last_message, format, args);
    va_end(args);
    num_messages++;
#ifdef RENDER_LOG_TO_CORE
    add_log(nullptr, type, "%s", last_message);
#else
    fprintf(stderr, "render [%u]: %s\n", (unsigned)type, last_message);
#endif
}

const char *render_last_log_message() { return last_message; }
u64 render_num_log_messages() { return num_messages; }
