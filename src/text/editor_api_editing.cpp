// Editing routines (ids 15 to 36). Every change goes through the editing
// primitives, so each one is undoable.
#include "text/editor_api_internal.h"
#include "text/auto_complete.h"
#include "text/editing.h"
#include "text/lines.h"
#include "text/tokeniser.h"
#include "text/undo.h"
#include "text/utf8_steps.h"

// [SECTION] Helpers

struct Line_Range {
    u64 start;
    u64 end;       // the line break (or the text end)
    u64 break_len; // 0 on the last line
};
static Line_Range line_at(File *file, u64 offset) {
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    if (offset > length) offset = length;
    Line_Range line;
    line.start = api_line_start_of(text, length, offset);
    line.end = get_line_end(text, length, line.start);
    line.break_len = api_break_at(text, length, line.end);
    return line;
}

// Deleting [offset, offset + count) through editor_delete_at, which only
// clamps positions: these shift the cursor, anchor and previous cursor that
// lay behind the deleted bytes.
static u64 shift_after_delete(u64 position, u64 offset, u64 count) {
    if (position >= offset + count) return position - count;
    return position > offset ? offset : position;
}
static void delete_range(File *file, u64 offset, u64 count) {
    u64 cursor = file->cursor, anchor = file->selection_anchor, previous = file->previous_cursor;
    u64 length = file_length(file);
    editor_delete_at(file, offset, count);
    if (file_length(file) == length) return; // refused
    file->cursor = shift_after_delete(cursor, offset, count);
    file->selection_anchor = shift_after_delete(anchor, offset, count);
    file->previous_cursor = shift_after_delete(previous, offset, count);
    file_update_selection_pointers(file);
}

static void set_mirror(Dynamic_Array *mirror, const u8 *bytes, u64 count) {
    mirror->count = 0;
    if (count) dynamic_array_append_bytes(mirror, bytes, (u32)count);
}

void api_copy_line_text(const u8 *line, u64 count, bool set_local_mirror) {
    // A line can be far larger than a thread's temporary memory.
    Allocation c_text;
    gp_allocate(&c_text, count + 1);
    memcpy(c_text.memory, line, count);
    ((char *)c_text.memory)[count] = 0;
    u64 padding = (u64)get_whitespace_from(0, line, count).count;
    // Mirrors first: `line` may point into one of them.
    if (set_local_mirror) set_mirror(&text_copied_locally, (const u8 *)c_text.memory, count);
    set_mirror(&text_copied_as_if_there_was_no_padding, (const u8 *)c_text.memory + padding, count - padding);
    text_hooks.set_clipboard_text((const char *)c_text.memory);
    gp_free(&c_text);
}

// [SECTION] Lines

void api_duplicate_line(u8 *) {
    File *file = current_file;
    if (!file || file_length(file) == 0 || file_has_flags(file, FILE_ONE_LINE)) return;
    Line_Range line = line_at(file, file->cursor);
    const u8 *text = file_text(file);
    if (line.break_len) {
        u64 after = line.end + line.break_len;
        editor_insert_text_at(file, after, String{(u8 *)text + line.start, (s64)(after - line.start)}, false);
        return;
    }
    // The last line: its copy needs a line break in front, and both go in
    // as one insertion so one undo takes them back.
    u64 line_length = line.end - line.start;
    u64 ending = (u64)file->line_ending.count;
    Allocation copy;
    gp_allocate(&copy, ending + line_length);
    memcpy(copy.memory, file->line_ending.data, ending);
    memcpy((u8 *)copy.memory + ending, text + line.start, line_length);
    editor_insert_text_at(file, line.end, String{(u8 *)copy.memory, (s64)(ending + line_length)}, false);
    gp_free(&copy);
}

void api_insert_text(u8 *block) {
    File *file = api_target_file();
    String text = ((Api_String_Block *)block)->text;
    if (file && api_string_is_usable(text)) editor_insert_text(file, text, false);
}

void api_insert_text_at(u8 *block) {
    File *file = api_target_file();
    Api_Insert_Text_At_Block *b = (Api_Insert_Text_At_Block *)block;
    if (file && api_string_is_usable(b->text)) editor_insert_text_at(file, b->offset, b->text, false);
}

void api_insert_character(u8 *block) {
    u32 codepoint = ((Api_U32_Block *)block)->value;
    if (text_hooks.get_editor_context() == 8 && text_hooks.terminal_prompt_character(codepoint)) return;
    File *file = current_file;
    if (!file) return;
    // A tab right after a word completes it from the words of the open
    // files; only when nothing completes does the tab text go in.
    if (codepoint == '\t' && !file_has_flags(file, FILE_SELECTION_ACTIVE)) {
        if (auto_complete_text_before_cursor(file) > 0) return;
        editor_insert_text(file, dynamic_array_as_string(&global_tab_character), true);
        return;
    }
    editor_insert_character(file, codepoint);
}

void api_insert_new_line(u8 *block) {
    Api_Two_U8_Block *b = (Api_Two_U8_Block *)block;
    File *file = current_file;
    if (!file || file_has_flags(file, FILE_ONE_LINE)) return;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    u64 at = file->cursor > length ? length : file->cursor;
    u64 ending = (u64)file->line_ending.count;
    u64 indent = 0;
    u64 line_start = get_line_start(text, at);
    if (b->a && length > 0) {
        indent = (u64)get_whitespace_from(line_start, text, length).count;
        if (indent > at - line_start) indent = at - line_start; // a cursor inside the indentation keeps what is left of it
    }
    Allocation bytes;
    gp_allocate(&bytes, ending + indent);
    memcpy(bytes.memory, file->line_ending.data, ending);
    memcpy((u8 *)bytes.memory + ending, text + line_start, indent);
    if (editor_insert_text_at(file, at, String{(u8 *)bytes.memory, (s64)(ending + indent)}, false) && b->b) {
        file->cursor = at + ending + indent;
        if (!file_has_flags(file, FILE_SELECTION_ACTIVE)) file->selection_anchor = file->cursor;
        file_update_selection_pointers(file);
    }
    gp_free(&bytes);
}

// [SECTION] Deletion

void api_delete_at(u8 *block) {
    Api_Delete_At_Block *b = (Api_Delete_At_Block *)block;
    editor_delete_at(api_target_file(), b->offset, b->count);
}

void api_delete_character_before_cursor(u8 *) {
    File *file = current_file;
    if (!file || file->cursor == 0 || file->cursor > file_length(file)) return;
    const u8 *text = file_text(file);
    u64 cursor = file->cursor;
    u64 line_break = api_break_before(text, cursor);
    u64 start = line_break ? cursor - line_break : api_previous_character_start(text, cursor);
    delete_range(file, start, cursor - start);
    file->previous_cursor = cursor > file_length(file) ? file_length(file) : cursor;
    file_set_flags(file, FILE_CHANGED);
}

void api_delete_character_at_cursor(u8 *) {
    File *file = current_file;
    if (!file || file->cursor >= file_length(file)) return;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    u64 line_break = api_break_at(text, length, file->cursor);
    u64 count = line_break ? line_break : api_utf8_size(text[file->cursor]);
    if (count > length - file->cursor) count = length - file->cursor;
    delete_range(file, file->cursor, count);
}

void api_delete_token(u8 *) {
    File *file = current_file;
    if (!file || file_length(file) == 0) return;
    u64 cursor = file->cursor;
    Editor_Token token;
    // The token that starts at the cursor, else the one the cursor stands in.
    if (get_token_at_offset(file, cursor, &token) < 0) return;
    if (token.offset != cursor && !(token.offset < cursor && token.offset + token.length > cursor)) return;
    delete_range(file, token.offset, token.length);
    api_move_cursor(file, token.offset);
}

void api_delete_token_text_up_to_cursor(u8 *) {
    File *file = api_target_file();
    if (!file || file->cursor == 0 || file->cursor > file_length(file)) return;
    u64 cursor = file->cursor;
    Editor_Token token;
    const u8 *text = file_text(file);
    const Tokenisation_Hint *hint = file_tokenisation_hint(file);
    u64 start;
    if (tokenise_at(text, file_length(file), cursor - 1, hint, &token) >= 0 && token.offset < cursor) start = token.offset;
    else if (tokenise_previous(text, file_length(file), cursor, hint, &token) >= 0 && token.offset < cursor) start = token.offset;
    else start = 0; // only spaces and tabs before the cursor
    delete_range(file, start, cursor - start);
    api_move_cursor(file, start);
}

void api_delete_remaining_text_on_token(u8 *) {
    File *file = current_file;
    if (!file || file_length(file) == 0 || file->cursor >= file_length(file)) return;
    u64 cursor = file->cursor;
    Editor_Token token;
    if (get_token_at_offset(file, cursor, &token) >= 0 && token.offset <= cursor && token.offset + token.length > cursor) {
        delete_range(file, cursor, token.offset + token.length - cursor);
        return;
    }
    String blanks = get_whitespace_from(cursor, file_text(file), file_length(file));
    if (blanks.count > 0) delete_range(file, cursor, (u64)blanks.count);
}

// [SECTION] Lines as wholes

void api_swap_lines(u8 *block) {
    bool up = ((Api_U8_Block *)block)->value != 0;
    File *file = api_target_file();
    if (!file || file_has_flags(file, FILE_ONE_LINE) || file_length(file) == 0) return;
    Line_Range line = line_at(file, file->cursor);
    Line_Range first, second; // in text order
    if (up) {
        if (line.start == 0) return;
        first = line_at(file, line.start - api_break_before(file_text(file), line.start));
        second = line;
    } else {
        if (!line.break_len) return;
        first = line;
        second = line_at(file, line.end + line.break_len);
    }
    // first + break + second becomes second + break + first: the same bytes
    // in another order, so one in-place replacement record undoes it.
    const u8 *text = file_text(file);
    u64 a = first.end - first.start, brk = first.break_len, b = second.end - second.start;
    Allocation swapped;
    gp_allocate(&swapped, a + brk + b);
    u8 *out = (u8 *)swapped.memory;
    memcpy(out, text + second.start, b);
    memcpy(out + b, text + first.end, brk);
    memcpy(out + b + brk, text + first.start, a);
    u64 column_bytes = file->cursor - line.start;
    editor_replace_same_length(file, first.start, out, a + brk + b);
    gp_free(&swapped);
    u64 moved_start = up ? first.start : first.start + b + brk;
    api_move_cursor(file, moved_start + column_bytes);
}

void api_copy_line(u8 *) {
    File *file = api_target_file();
    if (!file) return;
    Line_Range line = line_at(file, file->cursor);
    api_copy_line_text(file_text(file) + line.start, line.end - line.start, true);
}

void api_delete_line(u8 *block) {
    bool copy = ((Api_U8_Block *)block)->value != 0;
    File *file = current_file;
    if (!file || file_length(file) == 0) return;
    Line_Range line = line_at(file, file->cursor);
    const u8 *text = file_text(file);
    if (copy && line.end > line.start) api_copy_line_text(text + line.start, line.end - line.start, true);
    u64 column = get_cursor_column(file, line.start);
    u64 from = line.start, count = line.end + line.break_len - line.start;
    if (!line.break_len && line.start > 0) {
        // The last line goes with the break in front of it, so the line above becomes the last.
        u64 before = api_break_before(text, line.start);
        from -= before;
        count += before;
    }
    u64 cursor = file->cursor;
    delete_range(file, from, count);
    u64 target_line = get_line_start(file_text(file), from);
    file->cursor = cursor;
    api_move_cursor(file, api_offset_at_column(file_text(file), file_length(file), target_line, column));
}

// [SECTION] Selection edits

void api_delete_selection(u8 *) { editor_delete_selection(); }

void api_pad_selection(u8 *) {
    File *file = current_file;
    if (!file || file_length(file) == 0) return;
    file_update_selection_pointers(file);
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    u64 first = get_line_start(text, *file->selection_start);
    u64 last = get_line_start(text, *file->selection_end);
    // Every selected line is padded at its end to the widest of them.
    u64 max_lines = count_lines_in(text + first, last - first);
    Allocation memory;
    gp_allocate(&memory, sizeof(u64) * 2 * max_lines);
    u64 *offsets = (u64 *)memory.memory, *counts = offsets + max_lines;
    u64 widest = 0;
    u32 n = 0;
    for (u64 start = first;;) {
        u64 end = get_line_end(text, length, start);
        offsets[n] = end;
        counts[n] = utf8_count_characters(text + start, end - start);
        if (counts[n] > widest) widest = counts[n];
        n++;
        if (start >= last || end >= length) break;
        start = end + api_break_at(text, length, end);
    }
    u32 m = 0;
    for (u32 i = 0; i < n; i++) {
        if (counts[i] == widest) continue;
        offsets[m] = offsets[i];
        counts[m] = widest - counts[i];
        m++;
    }
    editor_insert_padding(file, offsets, counts, m);
    gp_free(&memory);
}

void api_align_selection_on_token_at_cursor(u8 *) { editor_align_selection_on_token_at_cursor(); }

void api_change_selection_case(u8 *block) {
    bool to_upper = ((Api_U8_Block *)block)->value == 0;
    File *file = api_target_file();
    if (!file || file_length(file) == 0) return;
    file_update_selection_pointers(file);
    u64 start = *file->selection_start, end = *file->selection_end;
    if (!file_has_flags(file, FILE_SELECTION_ACTIVE) || start >= end) {
        Editor_Token token;
        if (get_token_at_offset(file, file->cursor, &token) < 0) return;
        start = token.offset;
        end = token.offset + token.length;
    }
    editor_change_case(file, start, end - start, to_upper);
}

// [SECTION] Clipboard and undo

void api_copy_selection_to_clipboard(u8 *block) {
    Api_Two_U8_Block *b = (Api_Two_U8_Block *)block;
    editor_copy_selection_to_clipboard(b->a, b->b);
}

void api_cut_selection_to_clipboard(u8 *) {
    editor_copy_selection_to_clipboard(0, 0);
    editor_delete_selection();
}

// Options: a non-zero first byte pastes the clipboard as it is (alignment
// padding kept); a non-zero second byte leaves the cursor before the text.
void api_paste_from_clipboard(u8 *block) {
    Api_Two_U8_Block *b = (Api_Two_U8_Block *)block;
    File *file = current_file;
    if (!file) return;
    String text = b->a ? text_hooks.get_clipboard_text() : editor_text_to_paste();
    if (text.count <= 0) return;
    file_update_selection_pointers(file);
    u64 at = file_has_flags(file, FILE_SELECTION_ACTIVE) ? *file->selection_start : file->cursor;
    if (!editor_insert_text(file, text, false)) return;
    if (b->b) api_move_cursor(file, at);
}

void api_undo(u8 *) { editor_undo(); }
