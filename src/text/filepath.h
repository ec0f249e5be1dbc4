// A path split into components: "/" for the root, then one entry per name.
// '/' and '\\' both separate components; empty components are dropped.
#pragma once
#include "core/base.h"

constexpr u32 FILEPATH_MAX_COMPONENTS = 64;
constexpr u32 FILEPATH_MAX_COMPONENT_BYTES = 255; // the buffer keeps a NUL

struct Filepath_Component {
    String view; // points into buffer
    u8 buffer[256];
};

struct Filepath {
    Filepath_Component components[FILEPATH_MAX_COMPONENTS];
    u64 count;
};

// Splits `path`. False (and `out` emptied) when it has more than 64
// components or a component longer than 255 bytes.
bool string_to_filepath(Filepath *out, const u8 *path, s64 length);
bool set_filepath_from(Filepath *out, String path);
// Appends one component; false when full or too long.
bool filepath_push(Filepath *path, String component);
// Removes the last component into `out_name` (may be null); false when empty.
bool filepath_pop(Filepath *path, Filepath_Component *out_name);
void filepath_copy(Filepath *to, const Filepath *from);
// Joins with '/' (none after the root component) into temporary memory.
String filepath_to_string(const Filepath *path);
// Same, NUL-terminated, for system calls.
const char *filepath_to_c_string(const Filepath *path);
// Joins directory and name with '/' into temporary memory (NUL-terminated).
const char *filepath_join_c_string(const Filepath *directory, String name);
