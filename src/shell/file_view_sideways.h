// Sideways scrolling of multi-line views. Positions along a line are
// measured from an anchor, a known offset and its x on one line (kept at the
// cursor), so following the cursor along a giant line costs the distance it
// moved rather than the line, and rows start drawing at the scroll position.
#pragma once
#include "core/base.h"

struct File;
struct File_View_State;
struct Font_Pool;

// Advance of [from, to) laid out as a row is (kerning included); no line
// break may lie inside.
f64 view_advance(const u8 *text, u64 from, u64 to, Font_Pool *pool, f32 tab_multiplier);
// The cursor, moved from the middle of a CR LF onto the CR: the place it is
// counted and drawn at (the end of its line).
u64 view_cursor_position(File *file);
// First CR or LF at or after `offset` (the length when none), found by blocks.
u64 view_line_end(const u8 *text, u64 length, u64 offset);
// x of the cursor on its line (1-based `line`); the view is anchored there.
f64 view_cursor_x(File *file, File_View_State *s, Font_Pool *pool, f32 tab_multiplier, u64 line);
// Where the row of `line` (starting at `line_start`) begins drawing for the
// sideways scroll `h`: the first character whose right edge passes `h`, or
// the line's end; its x goes to `out_x`.
u64 view_row_start(File *file, File_View_State *s, u64 line, u64 line_start, f64 h, Font_Pool *pool,
                   f32 tab_multiplier, f64 *out_x);
// The text hooks' part: an edit before the anchor on its line moves the
// anchor to the edit (measured while the old bytes are still there); an edit
// on an earlier line shifts it; anything else before it forgets it.
void view_anchor_will_change(File *file, File_View_State *s, u64 offset, u64 count);
void view_anchor_did_change(File_View_State *s, u64 offset, u64 count, s64 line_delta, bool line_delta_known);
