#include "shell/command_line.h"
#include "core/strings.h"
#include "core/system_info.h"
#include "shell/globals.h"
#include "text/file.h"
#include "text/lines.h"
#include "shell/shell.h"
#include <stdlib.h>

void split_command_line(String bytes, Dynamic_Array *args) {
    s64 start = 0;
    for (s64 i = 0; i <= bytes.count; i++) {
        if (i == bytes.count || bytes.data[i] == 0) {
            if (i > start || (i < bytes.count)) {
                String *arg = (String *)dynamic_array_add(args);
                *arg = String{bytes.data + start, i - start};
            }
            start = i + 1;
        }
    }
}

// The bytes the arguments point into. A command line can carry megabytes,
// too much to copy through temporary memory beside the joined text.
static Dynamic_Array command_line_bytes;

bool read_command_line(Dynamic_Array *args, const char *path) {
    dynamic_array_init(args, sizeof(String));
    dynamic_array_free(&command_line_bytes);
    if (!linux_read_whole_proc_file(&command_line_bytes, path, (s64)strlen(path))) return false;
    split_command_line(dynamic_array_as_string(&command_line_bytes), args);
    return true;
}

String join_command_line(Dynamic_Array *args) {
    s64 total = 0;
    for (u32 i = 0; i < args->count; i++) total += dynamic_array_at<String>(args, i)->count + 1;
    String out = {(u8 *)tmp_allocate((u64)total + 1), 0};
    for (u32 i = 0; i < args->count; i++) {
        String a = *dynamic_array_at<String>(args, i);
        if (i) out.data[out.count++] = ' ';
        memcpy(out.data + out.count, a.data, (size_t)a.count);
        out.count += a.count;
    }
    return out;
}

String resolve_command_line_path(String argument, String executable_directory) {
    String path = argument;
    if (path.count > 0 && path.data[0] == '"') {
        path.data++;
        path.count--;
        // The closing quote goes with the opening one when there is room for it.
        if (argument.count >= 2) path.count--;
    }
    bool absolute = (path.count > 0 && path.data[0] == '/') || (path.count > 1 && path.data[1] == ':');
    if (absolute) return path;
    return string_concat2("%/%", executable_directory, path);
}

s64 parse_command_line_line(String argument) {
    return strtol(to_tmp_c_string(argument), nullptr, 10);
}

File *open_command_line_file(Dynamic_Array *args, String executable_directory) {
    if (args->count < 2) return nullptr;
    String path = resolve_command_line_path(*dynamic_array_at<String>(args, 1), executable_directory);
    s64 line = -1; // no line argument: the cursor stays at the start, no centring
    if (args->count >= 3) {
        line = parse_command_line_line(*dynamic_array_at<String>(args, 2));
        if (line < 0) line = 0;
    }
    return open_file_in_new_tab(path, line);
}
