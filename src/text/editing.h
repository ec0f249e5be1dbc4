// Editing primitives. Every change of a file's text goes through these, so
// the undo history, the changed range, the context chunks and the flags stay
// in step with the text.
#pragma once
#include "core/base.h"

struct File;
struct Editor_Token;

// Common steps of a change at `offset` (before the undo record is added):
// context chunks, flags, changed range and the activity stamp.
void editor_note_change(File *file, u64 offset, u64 inserted_length);
// Makes room for `extra` more bytes; false (with a message) past the size limit.
bool editor_text_reserve(File *file, u64 extra);
// Raw byte moves with no bookkeeping (undo uses them to reverse records).
bool text_raw_insert(File *file, u64 offset, const u8 *bytes, u64 count);
bool text_raw_remove(File *file, u64 offset, u64 count);

// Inserts `text` at `offset` (undoable). Cursor and anchor past `offset` move
// with the text; one exactly at `offset` stays. False when out of range.
bool editor_insert_text_at(File *file, u64 offset, String text, bool typed);
// Inserts at the cursor, replacing a non-empty active selection; the cursor
// goes past the text.
bool editor_insert_text(File *file, String text, bool typed);
// Types one character (a merged, typed insertion).
bool editor_insert_character(File *file, u32 codepoint);

void editor_delete_at(File *file, u64 offset, u64 count);
void editor_delete_selection();
// Same-length rewrite of the ASCII letter case of [offset, offset + length).
void editor_change_case(File *file, u64 offset, u64 length, bool to_upper);
// Overwrites [offset, offset + count) with `bytes` (an in-place replacement
// record keeps the old bytes); false when the range leaves the text.
bool editor_replace_same_length(File *file, u64 offset, const u8 *bytes, u64 count);

// Cursor.
void editor_set_cursor(File *file, u64 offset); // saves previous_cursor; anchor follows unless selecting
void editor_go_to_previous_cursor_position(File *file);
void editor_go_to_line_padding_end(File *file);
u64 get_cursor_column(File *file, u64 line_start);
void set_cursor_at_column(File *file, u64 column, Editor_Token *first_token, Editor_Token *end_token);

// Alignment: pads the selected lines so the token under the cursor lines up.
void editor_align_selection_on_token_at_cursor();
// Inserts the given runs of spaces (offsets in the text before padding,
// ascending) as one padding undo record. Returns the bytes inserted.
u64 editor_insert_padding(File *file, const u64 *offsets, const u64 *counts, u32 n);

// Clipboard.
void editor_copy_selection_to_clipboard(u8 token_when_empty, u8 unused);
// What a paste inserts: the no-padding mirror while the clipboard still holds
// what the editor copied, else the clipboard text.
String editor_text_to_paste();
