// Whole-file reads for loading a file.
#pragma once
#include "core/base.h"

// From this size on a file is read by several threads at once.
constexpr u64 FILE_READ_PARALLEL_FROM = 64ull << 20;
constexpr u32 FILE_READ_MAX_READERS = 4;

// Reads the file from its start into `into` (room for `size` bytes): the
// number of bytes it holds up to size + 1 (size + 1: it grew since its
// status was read; less: it shrank), or -1 with errno after a failed read.
s64 file_read_whole(int fd, u8 *into, u64 size);
