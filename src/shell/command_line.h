// The command line, `tarno [file [line]]`, read from /proc/self/cmdline.
#pragma once
#include "core/base.h"
#include "core/memory.h"

// Splits NUL-separated arguments into `args`; their bytes stay valid until
// the next call. Returns false when the file cannot be read.
bool read_command_line(Dynamic_Array *args, const char *path = "/proc/self/cmdline");
void split_command_line(String bytes, Dynamic_Array *args);
// The arguments joined by single spaces (temporary memory).
String join_command_line(Dynamic_Array *args);
// The file argument as a path: surrounding double quotes dropped, a relative
// path taken from the executable's directory.
String resolve_command_line_path(String argument, String executable_directory);
// Decimal line number of the second argument; 0 when it is not a number.
s64 parse_command_line_line(String argument);

struct File;
// `tarno FILE [LINE]`: opens FILE into a fresh record, makes it the current
// file and puts the cursor at the start of LINE (clamped to the text). Null
// when there is no file argument or the file cannot be read (the record is
// given back then).
File *open_command_line_file(Dynamic_Array *args, String executable_directory);
