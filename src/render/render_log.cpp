#include "render/render_log.h"
#include "core/strings.h"
#include <stdarg.h>
#include "core/log.h"
#include <stb/stb_sprintf.h>

static char last_message[2048];
static u64 num_messages;

void render_log(u8 type, const char *format, ...) {
    va_list args;
    va_start(args, format);
    stbsp_vsnprintf(last_message, sizeof last_message, format, args);
    va_end(args);
    num_messages++;
    add_log(nullptr, type, "%s", last_message);
}

const char *render_last_log_message() { return last_message; }
u64 render_num_log_messages() { return num_messages; }
