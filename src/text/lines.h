// Line and offset helpers. CR LF, a lone CR and a lone LF each end a line;
// lines are numbered from 1, offsets are bytes from the start of the text.
#pragma once
#include "core/base.h"

struct File;

// 1 + the number of line breaks. From LINES_PARALLEL_FROM bytes on, counted
// by up to LINES_MAX_COUNTERS threads.
constexpr u64 LINES_PARALLEL_FROM = 64ull << 20;
constexpr u32 LINES_MAX_COUNTERS = 4;
u64 count_lines_in(const u8 *text, u64 length);
// Offset of the first byte of 1-based `line`; the length for a line past the
// last one; 0 for line 0 or 1.
u64 get_offset_at_line(const u8 *text, u64 length, u64 line);
u64 get_offset_at_line_from_file(File *file, u64 line);
u64 get_line_start_at_line(File *file, u64 line);
// Just after the nearest CR or LF before `offset` (0 when none).
u64 get_line_start(const u8 *text, u64 offset);
// The first CR or LF at or after `offset` (the length when none).
u64 get_line_end(const u8 *text, u64 length, u64 offset);
// The run of spaces and tabs around `offset`, both ways.
String get_whitespace_at(File *file, u64 offset);
// The run of spaces and tabs starting at `offset`.
String get_whitespace_from(u64 offset, const u8 *text, u64 length);
// 1-based line of `offset` (the middle of a CR LF belongs to its line).
u64 editor_get_line_at_offset(File *file, u64 offset);
// Copy of [offset, offset + length) in temporary memory; null when the range
// reaches or passes the end of the text, or is longer than TEXT_AT_MAX_BYTES.
constexpr u64 TEXT_AT_MAX_BYTES = 4 << 20;
u8 *editor_get_text_at(File *file, u64 offset, u64 length);

// The block scanner uses AVX2 when the processor has it; tests turn it off to
// check the SSE2 path too.
void lines_allow_avx2(bool allow);
