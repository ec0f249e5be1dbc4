// Cursor movement routines (ids 1 to 14). None touches the undo history.
#include "text/editor_api_internal.h"
#include "text/editing.h"
#include "text/lines.h"
#include "text/tokeniser.h"
#include "text/utf8_steps.h"

void api_move_cursor(File *file, u64 offset) { editor_set_cursor(file, offset); }

u64 api_offset_at_column(const u8 *text, u64 length, u64 line_start, u64 column) {
    u64 limit = get_line_end(text, length, line_start);
    u64 pos = line_start, col = 0;
    while (pos < limit && col < column) {
        u32 step;
        if (utf8_step(text + pos, limit - pos, &step)) col++;
        pos += step;
    }
    return pos;
}

void api_go_left(u8 *) {
    File *file = current_file;
    if (!file || file->cursor == 0) return;
    const u8 *text = file_text(file);
    u64 cursor = file->cursor > file_length(file) ? file_length(file) : file->cursor;
    u64 line_break = api_break_before(text, cursor);
    api_move_cursor(file, line_break ? cursor - line_break : api_previous_character_start(text, cursor));
}

void api_go_right(u8 *) {
    File *file = current_file;
    if (!file || file->cursor >= file_length(file)) return;
    const u8 *text = file_text(file);
    u64 line_break = api_break_at(text, file_length(file), file->cursor);
    u64 step = line_break ? line_break : api_utf8_size(text[file->cursor]);
    u64 target = file->cursor + step;
    api_move_cursor(file, target > file_length(file) ? file_length(file) : target);
}

// Start of the line `lines` above (negative) or below the cursor's line, at
// most up to the first or last line; false when already there.
static bool line_start_away(File *file, s64 lines, u64 *out) {
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    u64 start = api_line_start_of(text, length, file->cursor);
    s64 moved = 0;
    while (lines < 0 && moved > lines && start > 0) {
        start = get_line_start(text, start - api_break_before(text, start));
        moved--;
    }
    while (lines > 0 && moved < lines) {
        u64 end = get_line_end(text, length, start);
        if (end >= length) break;
        start = end + api_break_at(text, length, end);
        moved++;
    }
    *out = start;
    return moved != 0;
}

// go_up, go_down, page_up and page_down: the same character column on the
// line `lines` away.
static void move_lines(s64 lines) {
    File *file = current_file;
    if (!file || file_has_flags(file, FILE_ONE_LINE)) return;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    if (file->cursor > length) file->cursor = length;
    u64 column = get_cursor_column(file, api_line_start_of(text, length, file->cursor));
    u64 target_line;
    if (!line_start_away(file, lines, &target_line)) return;
    api_move_cursor(file, api_offset_at_column(text, length, target_line, column));
}

void api_go_up(u8 *) { move_lines(-1); }
void api_go_down(u8 *) { move_lines(1); }

static s64 page_lines(File *file) { return file && file->page_size_in_lines ? (s64)file->page_size_in_lines : 1; }
void api_page_up(u8 *) {
    if (current_file && file_length(current_file)) move_lines(-page_lines(current_file));
}
void api_page_down(u8 *) {
    if (current_file && file_length(current_file)) move_lines(page_lines(current_file));
}

// The token whose start lies before `at`: the one holding the byte before
// `at`, else the last one ending before it.
static bool token_before(File *file, u64 at, Editor_Token *out) {
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    const Tokenisation_Hint *hint = file_tokenisation_hint(file);
    if (at == 0) return false;
    if (tokenise_at(text, length, at - 1, hint, out) >= 0 && out->offset < at) return true;
    return tokenise_previous(text, length, at, hint, out) >= 0 && out->offset < at;
}

void api_go_to_previous_non_whitespace_token(u8 *) {
    File *file = api_target_file();
    if (!file) return;
    u64 at = file->cursor > file_length(file) ? file_length(file) : file->cursor;
    Editor_Token token;
    while (token_before(file, at, &token)) {
        if (token.type != TOKEN_NEW_LINE) {
            api_move_cursor(file, token.offset);
            return;
        }
        at = token.offset;
    }
    api_move_cursor(file, 0);
}

void api_go_to_next_non_whitespace_token(u8 *) {
    File *file = api_target_file();
    if (!file) return;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    const Tokenisation_Hint *hint = file_tokenisation_hint(file);
    u64 cursor = file->cursor;
    // Past the token the cursor stands in, then over line breaks.
    Editor_Token token;
    u64 at = cursor;
    if (get_token_at_offset(file, cursor, &token) >= 0 && token.offset <= cursor && token.offset + token.length > cursor)
        at = token.offset + token.length;
    for (;;) {
        s64 next = tokenise_next(text, length, at, hint, &token);
        if (next < 0) break;
        if (token.type != TOKEN_NEW_LINE && token.offset > cursor) {
            api_move_cursor(file, token.offset);
            return;
        }
        at = (u64)next;
    }
    api_move_cursor(file, length);
}

void api_go_to_file_start(u8 *) {
    if (File *file = api_target_file()) api_move_cursor(file, 0);
}
void api_go_to_file_end(u8 *) {
    if (File *file = api_target_file()) api_move_cursor(file, file_length(file));
}

void api_go_to_line_start(u8 *) {
    File *file = current_file;
    if (!file || file_length(file) == 0) return;
    api_move_cursor(file, api_line_start_of(file_text(file), file_length(file), file->cursor));
}
void api_go_to_line_end(u8 *) {
    File *file = current_file;
    if (!file || file_length(file) == 0) return;
    api_move_cursor(file, get_line_end(file_text(file), file_length(file), file->cursor));
}
void api_go_to_line_padding_end(u8 *) { editor_go_to_line_padding_end(api_target_file()); }

static bool is_blank(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void api_skip_text(u8 *block) {
    File *file = current_file;
    if (!file || file_length(file) == 0) return;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    u64 at = file->cursor > length ? length : file->cursor;
    if (((Api_U8_Block *)block)->value) {
        if (at >= length) return;
        bool blank = is_blank(text[at]);
        while (at < length && is_blank(text[at]) == blank) at++;
    } else {
        if (at == 0) return;
        bool blank = is_blank(text[at - 1]);
        while (at > 0 && is_blank(text[at - 1]) == blank) at--;
    }
    api_move_cursor(file, at);
}
