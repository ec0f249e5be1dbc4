// Editing primitives: insertion, deletion, in-place rewrites, the cursor
// helpers and alignment padding.
#include "text/editing.h"
#include "text/colouring.h"
#include "text/file.h"
#include "text/lines.h"
#include "text/text_state.h"
#include "text/tokeniser.h"
#include "text/undo.h"
#include "text/utf8_steps.h"

// [SECTION] Raw text changes

bool editor_text_reserve(File *file, u64 extra) {
    u64 length = file_length(file);
    if (extra > TEXT_MAX_BYTES || length + extra > TEXT_MAX_BYTES) {
        editor_report_error(S("The text would grow past the largest size a file may have; the change was not made."));
        return false;
    }
    if (length + extra > file->text.capacity) {
        u64 wanted = 2 * length + extra;
        if (wanted > 0xFFFFFFFFull) wanted = 0xFFFFFFFFull;
        dynamic_array_reserve(&file->text, (u32)wanted);
    }
    return true;
}

bool text_raw_insert(File *file, u64 offset, const u8 *bytes, u64 count) {
    u64 length = file_length(file);
    if (offset > length || !editor_text_reserve(file, count)) return false;
    if (offset < file->changed_low) file->changed_low = offset;
    text_hooks.text_will_change(file, offset, 0);
    u8 *text = file_text(file);
    memmove(text + offset + count, text + offset, length - offset);
    if (count) {
        if (bytes) memcpy(text + offset, bytes, count);
        else memset(text + offset, ' ', count);
    }
    file->text.count = (u32)(length + count);
    text_hooks.text_did_change(file, offset, count);
    return true;
}

bool text_raw_remove(File *file, u64 offset, u64 count) {
    u64 length = file_length(file);
    if (offset > length || count > length - offset) return false;
    if (offset < file->changed_low) file->changed_low = offset;
    text_hooks.text_will_change(file, offset, count);
    u8 *text = file_text(file);
    memmove(text + offset, text + offset + count, length - offset - count);
    file->text.count = (u32)(length - count);
    text_hooks.text_did_change(file, offset, 0);
    return true;
}

void editor_note_change(File *file, u64 offset, u64 inserted_length) {
    update_context_chunks(file, offset);
    file_set_flags(file, FILE_UNSAVED | FILE_NEEDS_COLOURING | FILE_CHANGED);
    if (offset < file->changed_low) file->changed_low = offset;
    if (inserted_length && offset + inserted_length > file->changed_high) file->changed_high = offset + inserted_length;
    editor_stamp_activity();
}

static void clamp_positions(File *file) {
    u64 length = file_length(file);
    if (file->cursor > length) file->cursor = length;
    if (file->selection_anchor > length) file->selection_anchor = length;
    file_update_selection_pointers(file);
}

// [SECTION] Insertion

// Bytes taken from the file's own text (a duplicated line) would shift under
// an insertion or be freed when the buffer grows: such a `text` is pointed
// at a copy in `copy`, which the caller frees (nothing to free otherwise).
static void detach_from_text(File *file, String *text, Allocation *copy) {
    *copy = {};
    u8 *buffer = file_text(file);
    if (!buffer || text->count <= 0 || text->data < buffer || text->data >= buffer + file->text.capacity) return;
    gp_allocate(copy, (u64)text->count);
    memcpy(copy->memory, text->data, (size_t)text->count);
    text->data = (u8 *)copy->memory;
}

bool editor_insert_text_at(File *file, u64 offset, String text, bool typed) {
    file = file_or_current(file);
    if (!file || offset > file_length(file) || text.count < 0) return false;
    if (text.count == 0) return true;
    u64 count = (u64)text.count;
    Allocation own_copy;
    detach_from_text(file, &text, &own_copy);
    if (!editor_text_reserve(file, count)) {
        gp_free(&own_copy);
        return false;
    }
    editor_note_change(file, offset, count);
    u64 cursor_before = file->cursor;
    text_raw_insert(file, offset, text.data, count);
    gp_free(&own_copy); // nothing when no copy was made
    if (file->cursor > offset) file->cursor += count;
    if (file->selection_anchor > offset) file->selection_anchor += count;
    if (file->previous_cursor > offset) file->previous_cursor += count;
    file_update_selection_pointers(file);
    add_text_insertion_undo(file, offset, count, cursor_before, typed);
    return true;
}

static void delete_selection_of(File *file);

bool editor_insert_text(File *file, String text, bool typed) {
    file = file_or_current(file);
    if (!file) return false;
    file_update_selection_pointers(file);
    Allocation own_copy;
    detach_from_text(file, &text, &own_copy); // the selection's deletion would move it
    if (file_has_flags(file, FILE_SELECTION_ACTIVE)) {
        // The text replaces the selection, empty or not, and ends it: an anchor
        // left behind would make the next character replace this one.
        if (*file->selection_end > *file->selection_start) delete_selection_of(file);
        else file_clear_flags(file, FILE_SELECTION_ACTIVE);
    }
    u64 at = file->cursor;
    bool inserted = editor_insert_text_at(file, at, text, typed);
    gp_free(&own_copy);
    if (!inserted) return false;
    file->cursor = at + (u64)text.count;
    if (!file_has_flags(file, FILE_SELECTION_ACTIVE)) file->selection_anchor = file->cursor;
    file_update_selection_pointers(file);
    return true;
}

bool editor_insert_character(File *file, u32 codepoint) {
    u8 bytes[4];
    u32 n = utf8_encode(codepoint, bytes);
    if (n == 0) return false; // not a Unicode scalar value
    return editor_insert_text(file, String{bytes, n}, true);
}

// [SECTION] Deletion

void editor_delete_at(File *file, u64 offset, u64 count) {
    file = file_or_current(file);
    if (!file || count == 0 || offset > file_length(file) || count > file_length(file) - offset) return;
    editor_note_change(file, offset, 0);
    add_deletion_undo(file, offset, count, file->cursor, false);
    text_raw_remove(file, offset, count);
    if (file->cursor > file_length(file)) {
        file->previous_cursor = file->cursor;
        file->cursor = file_length(file);
    }
    clamp_positions(file);
}

static void delete_selection_of(File *file) {
    file_update_selection_pointers(file); // callers may have moved cursor or anchor directly
    u64 length = file_length(file);
    u64 start = *file->selection_start, end = *file->selection_end;
    if (end > length) end = length;
    if (start >= end) return;
    editor_note_change(file, start, 0);
    add_deletion_undo(file, start, end - start, end, true);
    text_raw_remove(file, start, end - start);
    file->previous_cursor = file->cursor;
    file->cursor = start > file_length(file) ? file_length(file) : start;
    // The anchor joins the cursor even while selecting: a stale anchor would
    // leave a selection over text that is gone.
    file->selection_anchor = file->cursor;
    file_clear_flags(file, FILE_SELECTION_ACTIVE);
    clamp_positions(file);
}

void editor_delete_selection() {
    if (current_file) delete_selection_of(current_file);
}

void editor_change_case(File *file, u64 offset, u64 length, bool to_upper) {
    file = file_or_current(file);
    if (!file || offset >= file_length(file)) return;
    if (length > file_length(file) - offset) length = file_length(file) - offset;
    u8 *text = file_text(file) + offset;
    bool changes = false;
    for (u64 i = 0; i < length && !changes; i++)
        changes = to_upper ? (text[i] >= 'a' && text[i] <= 'z') : (text[i] >= 'A' && text[i] <= 'Z');
    if (!changes) return;
    editor_note_change(file, offset, length);
    add_replacement_undo(file, offset, length, file->cursor);
    for (u64 i = 0; i < length; i++) {
        if (to_upper && text[i] >= 'a' && text[i] <= 'z') text[i] = (u8)(text[i] - 32);
        else if (!to_upper && text[i] >= 'A' && text[i] <= 'Z') text[i] = (u8)(text[i] + 32);
    }
}

bool editor_replace_same_length(File *file, u64 offset, const u8 *bytes, u64 count) {
    file = file_or_current(file);
    if (!file || offset > file_length(file) || count > file_length(file) - offset) return false;
    if (count == 0 || memcmp(file_text(file) + offset, bytes, count) == 0) return true;
    editor_note_change(file, offset, count);
    add_replacement_undo(file, offset, count, file->cursor);
    text_hooks.text_will_change(file, offset, count);
    memcpy(file_text(file) + offset, bytes, count);
    text_hooks.text_did_change(file, offset, count);
    return true;
}

// [SECTION] Cursor

void editor_set_cursor(File *file, u64 offset) {
    file = file_or_current(file);
    if (!file) return;
    if (offset > file_length(file)) offset = file_length(file);
    file->previous_cursor = file->cursor;
    file->cursor = offset;
    if (!file_has_flags(file, FILE_SELECTION_ACTIVE)) file->selection_anchor = offset;
    file_update_selection_pointers(file);
    file_set_flags(file, FILE_CHANGED);
    editor_stamp_activity();
}

void editor_go_to_previous_cursor_position(File *file) {
    file = file_or_current(file);
    if (!file) return;
    u64 target = file->previous_cursor > file_length(file) ? file_length(file) : file->previous_cursor;
    editor_set_cursor(file, target);
}

void editor_go_to_line_padding_end(File *file) {
    file = file_or_current(file);
    if (!file) return;
    u8 *text = file_text(file);
    u64 line_start = get_line_start(text, file->cursor);
    u64 padding_end = line_start + (u64)get_whitespace_from(line_start, text, file_length(file)).count;
    editor_set_cursor(file, file->cursor > padding_end ? padding_end : line_start);
}

u64 get_cursor_column(File *file, u64 line_start) {
    file = file_or_current(file);
    if (!file || line_start > file->cursor) return 0;
    return utf8_count_characters(file_text(file) + line_start, file->cursor - line_start);
}

void set_cursor_at_column(File *file, u64 column, Editor_Token *first_token, Editor_Token *end_token) {
    file = file_or_current(file);
    if (!file) return;
    u8 *text = file_text(file);
    u64 length = file_length(file);
    u64 from = first_token && first_token < end_token ? first_token->offset : file->cursor;
    if (from > length) from = length; // tokens of a text that has since shrunk
    u64 line_start = get_line_start(text, from);
    u64 limit = get_line_end(text, length, line_start);
    for (Editor_Token *t = first_token; t && t < end_token; t++)
        if (t->type == TOKEN_NEW_LINE && t->offset >= line_start && t->offset < limit) limit = t->offset;
    u64 pos = line_start, col = 0;
    while (pos < limit && col < column) {
        u32 step;
        if (utf8_step(text + pos, limit - pos, &step)) col++;
        pos += step;
    }
    editor_set_cursor(file, pos);
}

// [SECTION] Alignment

u64 editor_insert_padding(File *file, const u64 *offsets, const u64 *counts, u32 n) {
    file = file_or_current(file);
    if (!file || n == 0) return 0;
    u64 total = 0;
    for (u32 i = 0; i < n; i++) {
        if (offsets[i] > file_length(file) || (i > 0 && offsets[i] < offsets[i - 1])) return 0;
        // Each count below the size limit, so the total cannot wrap around.
        if (counts[i] > TEXT_MAX_BYTES) {
            editor_report_error(S("The padding asked for is larger than a file may be; nothing was inserted."));
            return 0;
        }
        total += counts[i];
    }
    if (total == 0 || !editor_text_reserve(file, total)) return 0;
    editor_note_change(file, offsets[0], offsets[n - 1] - offsets[0] + total);
    Allocation runs_memory;
    gp_allocate(&runs_memory, sizeof(Padding_Run) * n);
    Padding_Run *runs = (Padding_Run *)runs_memory.memory;
    u64 cursor_before = file->cursor;
    u64 shift_cursor = 0, shift_anchor = 0, shift_previous = 0, before = 0;
    for (u32 i = 0; i < n; i++) {
        runs[i].offset = offsets[i] + before;
        runs[i].count = counts[i];
        before += counts[i];
        if (offsets[i] <= file->cursor) shift_cursor += counts[i];
        if (offsets[i] <= file->selection_anchor) shift_anchor += counts[i];
        if (offsets[i] <= file->previous_cursor) shift_previous += counts[i];
    }
    // From the last run back, so earlier offsets stay valid.
    for (u32 i = n; i > 0; i--) text_raw_insert(file, offsets[i - 1], nullptr, counts[i - 1]);
    file->cursor += shift_cursor;
    file->selection_anchor += shift_anchor;
    file->previous_cursor += shift_previous;
    file_update_selection_pointers(file);
    add_padding_undo(file, offsets[0], total, cursor_before, runs_memory);
    return total;
}

static u64 visual_column(const u8 *text, u64 from, u64 to) {
    u64 col = 0;
    while (from < to) {
        u32 step;
        if (text[from] == '\t') {
            col += global_num_visual_spaces_per_tab;
            step = 1;
        } else if (utf8_step(text + from, to - from, &step)) {
            col++;
        }
        from += step;
    }
    return col;
}

// The `occurrence`-th token (from 0) on the line starting at `line_start`
// with the same type and bytes as `key`; -1 when the line has fewer.
static s64 find_matching_token(File *file, u64 line_start, const Editor_Token *key, u32 occurrence) {
    u8 *text = file_text(file);
    u64 length = file_length(file);
    const Tokenisation_Hint *hint = file_tokenisation_hint(file);
    Editor_Token t;
    u64 at = line_start;
    for (;;) {
        s64 next = tokenise_next(text, length, at, hint, &t);
        if (next < 0 || t.type == TOKEN_NEW_LINE) return -1;
        if (t.type == key->type && t.length == key->length && memcmp(text + t.offset, text + key->offset, t.length) == 0) {
            if (occurrence == 0) return (s64)t.offset;
            occurrence--;
        }
        at = (u64)next;
    }
}

void editor_align_selection_on_token_at_cursor() {
    File *file = current_file;
    if (!file || file_length(file) == 0) return;
    u8 *text = file_text(file);
    u64 length = file_length(file);
    Editor_Token key;
    if (get_token_at_offset(file, file->cursor, &key) < 0 || key.type == TOKEN_NEW_LINE) return;
    // Which occurrence on its own line the cursor's token is.
    u64 cursor_line_start = get_line_start(text, key.offset);
    u32 occurrence = 0;
    for (;;) {
        s64 found = find_matching_token(file, cursor_line_start, &key, occurrence);
        if (found < 0 || (u64)found >= key.offset) break;
        occurrence++;
    }
    file_update_selection_pointers(file);
    u64 first = get_line_start(text, *file->selection_start);
    u64 last = get_line_start(text, *file->selection_end);
    // A selection may span millions of lines: too much for temporary memory.
    u64 max_lines = count_lines_in(text + first, last - first);
    Allocation memory;
    gp_allocate(&memory, sizeof(u64) * 2 * max_lines);
    u64 *offsets = (u64 *)memory.memory;
    u64 *columns = offsets + max_lines;
    u32 n = 0;
    u64 target = 0;
    for (u64 line = first;;) {
        s64 at = find_matching_token(file, line, &key, occurrence);
        if (at >= 0) {
            offsets[n] = (u64)at;
            columns[n] = visual_column(text, line, (u64)at);
            if (columns[n] > target) target = columns[n];
            n++;
        }
        if (line >= last) break;
        u64 end = get_line_end(text, length, line);
        if (end >= length) break;
        line = end + (text[end] == '\r' && end + 1 < length && text[end + 1] == '\n' ? 2 : 1);
    }
    u32 m = 0;
    for (u32 i = 0; i < n; i++) {
        if (columns[i] == target) continue;
        offsets[m] = offsets[i];
        columns[m] = target - columns[i];
        m++;
    }
    editor_insert_padding(file, offsets, columns, m);
    gp_free(&memory);
}
