// What the routine bodies of the editor API share.
#pragma once
#include "core/base.h"
#include "text/editor_api.h"
#include "text/editor_api_routines.h"
#include "text/file.h"
#include "text/text_state.h"

// The file the custom layer runs for (a #syntax pass), else the current file.
inline File *api_target_file() { return custom_layer_execution_file ? custom_layer_execution_file : current_file; }

// A String handed in by custom.8 that can be read: a non-negative count and
// bytes behind it.
inline bool api_string_is_usable(String s) { return s.count == 0 || (s.count > 0 && s.data); }

// CR LF, CR or LF ending at `end` (exclusive): its length, 0 when none.
inline u64 api_break_before(const u8 *text, u64 end) {
    if (end == 0) return 0;
    if (text[end - 1] == '\n') return end >= 2 && text[end - 2] == '\r' ? 2 : 1;
    return text[end - 1] == '\r' ? 1 : 0;
}
// CR LF, CR or LF starting at `at`: its length, 0 when none.
inline u64 api_break_at(const u8 *text, u64 length, u64 at) {
    if (at >= length) return 0;
    if (text[at] == '\r') return at + 1 < length && text[at + 1] == '\n' ? 2 : 1;
    return text[at] == '\n' ? 1 : 0;
}
// Bytes of the UTF-8 sequence a lead byte starts (1 for anything else).
inline u32 api_utf8_size(u8 lead) {
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}
// Start of the UTF-8 character that ends at `at` (at > 0): its lead byte when
// the continuation bytes before `at` belong to one, else the byte before.
inline u64 api_previous_character_start(const u8 *text, u64 at) {
    u64 p = at - 1;
    for (u32 back = 0; back < 3 && p > 0 && (text[p] & 0xC0) == 0x80; back++) p--;
    if (p < at - 1 && api_utf8_size(text[p]) == at - p) return p;
    return at - 1;
}

// Start of the line holding `offset`; the middle of a CR LF belongs to the
// line the pair ends.
inline u64 api_line_start_of(const u8 *text, u64 length, u64 offset) {
    if (offset > length) offset = length;
    if (offset > 0 && offset < length && text[offset - 1] == '\r' && text[offset] == '\n') offset--;
    u64 start = offset;
    while (start > 0 && text[start - 1] != '\n' && text[start - 1] != '\r') start--;
    return start;
}

// The offset on the line starting at `line_start` at character `column`
// (UTF-8 characters, a tab counting one), clamped to the line's end.
u64 api_offset_at_column(const u8 *text, u64 length, u64 line_start, u64 column);
// Moves the cursor keeping previous_cursor, the anchor (unless selecting),
// flag 0x004 and the activity stamp in step.
void api_move_cursor(File *file, u64 offset);
// The bytes go to the window system's clipboard and to the two mirrors
// (the no-padding one without the leading spaces and tabs).
void api_copy_line_text(const u8 *line, u64 count, bool set_local_mirror);
// set_font_size's body, also used by set_settings.
void api_store_font_size(f32 size);
