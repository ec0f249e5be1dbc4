#include "shell/view_colouring.h"
#include "text/colouring.h"
#include "text/file.h"
#include "text/text_state.h"
#include "text/tokeniser.h"
#include "text/lines.h"

void view_colour_range(File *file, u64 start, u64 end) { editor_colour_range(file, start, end); }

// Built-in colours: quiet enough for the default dark background.
static const Colour COLOUR_NUMBER = {0.95f, 0.65f, 0.35f, 1};
static const Colour COLOUR_LITERAL = {0.55f, 0.85f, 0.45f, 1};
static const Colour COLOUR_COMMENT = {0.45f, 0.5f, 0.55f, 1};
static const Colour COLOUR_OPERATOR = {0.55f, 0.75f, 1.0f, 1};
static const Colour COLOUR_BRACKET = {0.8f, 0.8f, 0.55f, 1};
static const Colour COLOUR_PUNCTUATION = {0.7f, 0.7f, 0.75f, 1};

static u8 quote_byte(u16 type) { return type == TOKEN_DOUBLE_QUOTE ? '"' : type == TOKEN_SINGLE_QUOTE ? '\'' : '`'; }

// End of a literal opened by `quote` whose body starts at `pos` (just past the closing quote).
static u64 literal_end(const u8 *text, u64 length, u64 pos, u8 quote, u64 limit) {
    u64 i = pos;
    while (i < length && i < limit && text[i] != quote) i += text[i] == '\\' ? 2 : 1;
    return i < length ? i + 1 : length;
}

void colour_by_tokens(File *file, u64 start, u64 end) {
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    if (end > length) end = length;
    const Tokenisation_Hint *hint = file_tokenisation_hint(file);
    u16 quotes = hint ? hint->flags : 0;
    u64 pos = start;
    u32 depth = file->syntax_info.comment_depth;
    // A literal or comment open at the range's start runs on from there.
    if (file->syntax_info.literal_state && depth == 0) {
        u64 e = literal_end(text, length, pos, quote_byte(file->syntax_info.literal_state), end);
        editor_set_text_colour(file, pos, e - pos, COLOUR_LITERAL);
        pos = e;
    }
    u64 comment_start = pos;
    Editor_Token t;
    while (pos < end) {
        s64 next = tokenise_next(text, length, pos, hint, &t);
        if (next < 0 || t.offset >= end) break;
        pos = (u64)next;
        if (depth > 0) {
            if (t.type == TOKEN_BLOCK_COMMENT_START) depth++;
            if (t.type == TOKEN_BLOCK_COMMENT_END && --depth == 0)
                editor_set_text_colour(file, comment_start, pos - comment_start, COLOUR_COMMENT);
            continue;
        }
        switch (t.type) {
        case TOKEN_BLOCK_COMMENT_START:
            depth = 1;
            comment_start = t.offset;
            break;
        case TOKEN_SINGLE_LINE_COMMENT: {
            u64 e = get_line_end(text, length, t.offset);
            editor_set_text_colour(file, t.offset, e - t.offset, COLOUR_COMMENT);
            pos = e;
            break;
        }
        case TOKEN_DOUBLE_QUOTE:
        case TOKEN_SINGLE_QUOTE:
        case TOKEN_BACK_QUOTE: {
            if (!(quotes & t.type)) break;
            u64 e = literal_end(text, length, pos, quote_byte(t.type), end);
            editor_set_text_colour(file, t.offset, e - t.offset, COLOUR_LITERAL);
            pos = e;
            break;
        }
        case TOKEN_NUMBER: editor_set_text_colour(file, t.offset, t.length, COLOUR_NUMBER); break;
        case TOKEN_OPERATOR:
        case TOKEN_COMPARISON: editor_set_text_colour(file, t.offset, t.length, COLOUR_OPERATOR); break;
        case TOKEN_OPEN_BRACKET:
        case TOKEN_CLOSE_BRACKET: editor_set_text_colour(file, t.offset, t.length, COLOUR_BRACKET); break;
        case TOKEN_PUNCTUATION: editor_set_text_colour(file, t.offset, t.length, COLOUR_PUNCTUATION); break;
        default: break;
        }
    }
    if (depth > 0 && end > comment_start) editor_set_text_colour(file, comment_start, end - comment_start, COLOUR_COMMENT);
}

void colour_cursor_start(Colour_Cursor *c, File *file, u64 offset) {
    c->file = file;
    c->coloured = false;
    c->run_end = 0;
    s64 i = get_colour_chunk_closest_to_offset(file, offset);
    if (i < 0) {
        c->chunk = -1;
        return;
    }
    // Back to the first chunk that could still cover `offset`.
    Colour_Chunk *chunks = (Colour_Chunk *)file->colour_chunks.data;
    while (i > 0 && chunks[i].offset > offset) i--;
    while (i > 0 && chunks[i - 1].offset + chunks[i - 1].length > offset && offset - chunks[i - 1].offset < 4096) i--;
    c->chunk = i;
    colour_cursor_at(c, offset);
}

void colour_cursor_at(Colour_Cursor *c, u64 offset) {
    if (c->coloured && offset < c->run_end) return;
    c->coloured = false;
    if (c->chunk < 0) return;
    File *file = c->file;
    Colour_Chunk *chunks = (Colour_Chunk *)file->colour_chunks.data;
    u32 count = file->colour_chunks.count;
    while ((u32)c->chunk < count && chunks[c->chunk].offset + chunks[c->chunk].length <= offset) c->chunk++;
    if ((u32)c->chunk >= count) return;
    Colour_Chunk *k = &chunks[c->chunk];
    if (k->offset > offset) return;
    if (k->palette_index >= file->palette.count) return;
    Colour *p = dynamic_array_at<Colour>(&file->palette, k->palette_index);
    c->rgba[0] = p->r, c->rgba[1] = p->g, c->rgba[2] = p->b, c->rgba[3] = p->a;
    c->run_end = k->offset + k->length;
    c->coloured = true;
}
