// The view's side of syntax colouring: the colouring pass over the visible
// range, the built-in colouring by token used while no #syntax block is
// loaded, and colour lookup while a line is drawn. Kept apart from the
// drawing code because the text core and the renderer each name a Colour.
#pragma once
#include "core/base.h"

struct File;

// The text core's colouring pass over [start, end), for code that cannot see
// the text core's colour type next to the renderer's.
void view_colour_range(File *file, u64 start, u64 end);
// Colours [start, end) by token kind through the file's palette and chunks.
void colour_by_tokens(File *file, u64 start, u64 end);

// Walks the colour chunks forwards while a line is drawn.
struct Colour_Cursor {
    File *file;
    s64 chunk;     // index of the next chunk that may start at or after the position
    u64 run_end;   // end of the colour in effect
    f32 rgba[4];
    bool coloured; // false: the theme's text colour
};
void colour_cursor_start(Colour_Cursor *c, File *file, u64 offset);
// Updates `c` for the character at `offset` (offsets must only grow).
void colour_cursor_at(Colour_Cursor *c, u64 offset);
