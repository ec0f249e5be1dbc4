// Syntax-colouring data of a file: the palette, the colour chunks the view
// draws with, the context chunks that let a colouring pass resume, and the
// pass itself up to the call into the custom layer's #syntax block.
#pragma once
#include "core/base.h"

struct File;

struct Colour {
    f32 r, g, b, a;
};
static_assert(sizeof(Colour) == 16);

struct Colour_Chunk {
    u64 offset;
    u32 length;
    u16 palette_index;
    u16 pad;
};
static_assert(sizeof(Colour_Chunk) == 16);

// The colouring state is known at `end` (always a line start): resuming a scan
// there needs only the block-comment depth.
struct Context_Chunk {
    u64 start;         // where the scan that produced this chunk began
    u32 comment_depth; // block-comment nesting at `end`
    u32 pad;           // 1: found by a scan that began from a guessed state
    u64 end;
};
static_assert(sizeof(Context_Chunk) == 24);

// Lines below the last visible one that a pass still colours.
constexpr u64 COLOURING_MARGIN_LINES = 8;
// A context chunk is recorded about this often while scanning.
constexpr u64 CONTEXT_CHUNK_SPACING = 64 * 1024;
// Farther than this past the last known state, the state is not scanned
// for: the scan starts this close to the target, outside comments and strings.
constexpr u64 SYNTAX_SCAN_LIMIT = 1 << 20;
constexpr u64 SYNTAX_GUESS_DISTANCE = 256 * 1024;

void editor_set_text_colour(File *file, u64 offset, u64 length, Colour colour);
s64 get_colour_chunk_closest_to_offset(File *file, u64 offset);
// Keeps only the leading context chunks that end at or before `offset`.
void update_context_chunks(File *file, u64 offset);

// Block-comment depth and open literal (quote bit or 0) at `offset`, walking
// tokens from the last usable context chunk and recording new chunks.
void editor_compute_syntax_state(File *file, u64 offset, u32 *out_depth, u16 *out_literal);
void editor_get_syntax_highlighting_info(File *file, u64 *out_start, u64 *out_end, u32 *out_depth, u8 *out_literal);

// The pass the view runs when it draws lines [first_line, last_line].
void editor_colour_visible_lines(File *file, u64 first_line, u64 last_line);
// The same pass over a byte range: re-runs the #syntax block only when the
// range moved or the text changed inside it.
void editor_colour_range(File *file, u64 start, u64 end);
