// The in-memory log: one line per entry with a type prefix, flushed to a new
// time-stamped file in the logs directory when full and at exit. Also the
// editor's version number and its formatting.
#pragma once
#include "core/base.h"

constexpr u64 MAIN_LOG_MEMORY = MB(1);
constexpr u64 LOGGING_MEMORY = MB(1);
constexpr u32 NUM_LOG_FILES_TO_KEEP = 8;
// Longest formatted entry; longer messages are cut.
constexpr u32 MAX_LOG_ENTRY = 2048;

enum Log_Type : u8 {
    LOG_ERROR = 0,
    LOG_DEBUG = 1,
    LOG_INFO = 2,
    LOG_ASSETS = 3,
    LOG_GRAPHICS = 4,
    LOG_NETWORK = 5,
};
extern const char *const LOG_TYPES_TEXT[6];

struct Global_Log {
    u8 *buffer;
    u64 used; // changed only under log_lock
};
extern Global_Log __global_log;
extern volatile u8 log_lock;
extern volatile u64 next_error_log_id; // all ones: the first error gets 0

// Takes the 1 MiB buffer from the start-up block (once) and writes the
// "log start" entry.
void init_logging();
// Where log files go; default: executable_filepath + "/logs". Tests point it
// at a temporary directory. An empty String restores the default.
void log_set_directory(String directory);
String log_get_directory();

// Formats one entry (printf-style with the stb_sprintf extensions, so no
// compiler format check) and appends it. `out`, when given, receives the
// entry's line in the buffer (without its new line). Returns the error
// number for type LOG_ERROR, all ones otherwise.
u64 add_log(String *out, u8 type, const char *format, ...);
// The same, but the entry starts on a fresh line.
u64 add_log_with_new_line(String *out, u8 type, const char *format, ...);
void log_new_line();
// Writes the whole buffer to a new file and empties it; keeps only the most
// recent log files. Returns whether everything was written.
bool write_log_file();

struct Log_File_Entry {
    s64 creation_time_ns;
    char name[256];
};
bool sort_log_files_by_creation_time(const void *a, const void *b);

// [SECTION] Version: low byte major, then minor, then patch.
constexpr u32 make_version(u32 major, u32 minor, u32 patch) { return major | minor << 8 | patch << 16; }
constexpr u32 EDITOR_VERSION = make_version(0, 3, 2);
String version_to_string(u32 version);
const char *version_to_c_string(u32 version);
// Four bytes in temporary memory: major, minor, patch, 0.
String make_version_info_data();
