#include "text/colouring.h"
#include "text/file.h"
#include "text/lines.h"
#include "text/text_state.h"
#include "text/tokeniser.h"

// [SECTION] Palette and colour chunks

s64 get_colour_chunk_closest_to_offset(File *file, u64 offset) {
    file = file_or_current(file);
    if (!file || file->colour_chunks.count == 0) return -1;
    Colour_Chunk *chunks = (Colour_Chunk *)file->colour_chunks.data;
    u32 low = 0, count = file->colour_chunks.count;
    while (count > 8) {
        u32 half = count / 2;
        if (chunks[low + half].offset < offset) {
            low += half;
            count -= half;
        } else {
            count = half + 1;
        }
    }
    s64 best = low;
    u64 best_distance = ~0ull;
    for (u32 i = low; i < low + count; i++) {
        u64 d = chunks[i].offset > offset ? chunks[i].offset - offset : offset - chunks[i].offset;
        if (d < best_distance) {
            best_distance = d;
            best = i;
        }
    }
    return best;
}

static u16 palette_index_of(File *file, Colour colour) {
    for (u32 i = 0; i < file->palette.count; i++)
        if (memcmp(dynamic_array_get(&file->palette, i), &colour, sizeof(Colour)) == 0) return (u16)i;
    *(Colour *)dynamic_array_add(&file->palette) = colour;
    return (u16)(file->palette.count - 1);
}

void editor_set_text_colour(File *file, u64 offset, u64 length, Colour colour) {
    file = file_or_current(file);
    if (!file || offset >= file_length(file)) return;
    if (length > file_length(file) - offset) length = file_length(file) - offset;
    if (length > 0xFFFFFFFFull) length = 0xFFFFFFFFull;
    s64 nearest = get_colour_chunk_closest_to_offset(file, offset);
    Colour_Chunk *chunks = (Colour_Chunk *)file->colour_chunks.data;
    u32 count = file->colour_chunks.count;
    // The new chunk goes before the nearest one unless that starts earlier.
    u32 at = nearest < 0 ? 0 : (u32)nearest;
    if (nearest >= 0 && chunks[at].offset == offset) {
        // Several chunks may start here; a range coloured before keeps its
        // first colour whichever of them was nearest.
        while (at > 0 && chunks[at - 1].offset == offset) at--;
        for (u32 i = at; i < count && chunks[i].offset == offset; i++)
            if (chunks[i].length == length) return;
    } else if (nearest >= 0 && chunks[at].offset < offset) {
        at++;
    }
    // Of several chunks at the same distance the halving may pick a later one.
    while (at < count && chunks[at].offset < offset) at++;
    while (at > 0 && chunks[at - 1].offset > offset) at--;
    u16 index = palette_index_of(file, colour);
    Colour_Chunk *chunk = (Colour_Chunk *)dynamic_array_insert(&file->colour_chunks, at);
    chunk->offset = offset;
    chunk->length = (u32)length;
    chunk->palette_index = index;
}

// [SECTION] Context chunks and colouring state

void update_context_chunks(File *file, u64 offset) {
    file = file_or_current(file);
    if (!file) return;
    Context_Chunk *chunks = (Context_Chunk *)file->context_chunks.data;
    u32 keep = file->context_chunks.count;
    while (keep > 0 && chunks[keep - 1].end > offset) keep--;
    file->context_chunks.count = keep;
}

static u8 quote_byte(u16 type) { return type == TOKEN_DOUBLE_QUOTE ? '"' : type == TOKEN_SINGLE_QUOTE ? '\'' : '`'; }

void editor_compute_syntax_state(File *file, u64 target, u32 *out_depth, u16 *out_literal) {
    *out_depth = 0;
    *out_literal = 0;
    file = file_or_current(file);
    if (!file) return;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    if (target > length) target = length;
    const Tokenisation_Hint *hint = file_tokenisation_hint(file);
    u16 quotes = hint ? hint->flags : 0;

    u64 pos = 0;
    u32 depth = 0;
    Context_Chunk *chunks = (Context_Chunk *)file->context_chunks.data;
    for (u32 i = file->context_chunks.count; i > 0; i--) {
        if (chunks[i - 1].end <= target) {
            pos = chunks[i - 1].end;
            depth = chunks[i - 1].comment_depth;
            break;
        }
    }
    // Only chunks past the last one kept may be added, to stay sorted.
    u64 last_chunk_end = file->context_chunks.count ? chunks[file->context_chunks.count - 1].end : 0;
    // Far past anything scanned (a jump to the end of a big file), scanning
    // all the way would take many frames: the scan starts at a line start
    // shortly before the target instead, taken to be outside comments and
    // strings. The chunks it leaves are marked as guessed.
    u32 guessed = 0;
    if (target - pos > SYNTAX_SCAN_LIMIT) {
        u64 from = target - SYNTAX_GUESS_DISTANCE;
        u64 next = get_offset_at_line(text + from, target - from, 2);
        pos = next < target - from ? from + next : from;
        depth = 0;
        guessed = 1;
        last_chunk_end = pos;
    }

    Editor_Token token;
    while (pos < target) {
        s64 next = tokenise_next(text, length, pos, hint, &token);
        if (next < 0 || token.offset >= target) break;
        pos = (u64)next;
        switch (token.type) {
        case TOKEN_BLOCK_COMMENT_START:
            depth++;
            break;
        case TOKEN_BLOCK_COMMENT_END:
            if (depth > 0) depth--;
            break;
        case TOKEN_SINGLE_LINE_COMMENT:
            if (depth == 0) pos = get_line_end(text, length, pos);
            break;
        case TOKEN_NEW_LINE:
            if (pos <= target && pos >= last_chunk_end + CONTEXT_CHUNK_SPACING) {
                Context_Chunk *chunk = (Context_Chunk *)dynamic_array_add(&file->context_chunks);
                chunk->start = last_chunk_end;
                chunk->comment_depth = depth;
                chunk->pad = guessed;
                chunk->end = pos;
                last_chunk_end = pos;
            }
            break;
        case TOKEN_DOUBLE_QUOTE:
        case TOKEN_SINGLE_QUOTE:
        case TOKEN_BACK_QUOTE: {
            if (depth > 0 || !(quotes & token.type)) break;
            if (token.type != TOKEN_SINGLE_QUOTE && token.offset > 0 && text[token.offset - 1] == '\'') break;
            u8 q = quote_byte(token.type);
            u64 i = pos;
            while (i < length && text[i] != q) i += text[i] == '\\' ? 2 : 1;
            if (i >= target) {
                *out_depth = depth;
                *out_literal = token.type;
                return;
            }
            pos = i + 1;
            break;
        }
        default:
            break;
        }
    }
    *out_depth = depth;
}

void editor_get_syntax_highlighting_info(File *file, u64 *out_start, u64 *out_end, u32 *out_depth, u8 *out_literal) {
    file = file_or_current(file);
    if (!file) return;
    *out_start = file->syntax_info.start;
    *out_end = file->syntax_info.end;
    *out_depth = file->syntax_info.comment_depth;
    *out_literal = (u8)file->syntax_info.literal_state;
}

// [SECTION] Colouring pass

void editor_colour_visible_lines(File *file, u64 first_line, u64 last_line) {
    file = file_or_current(file);
    if (!file) return;
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    if (first_line == 0) first_line = 1;
    if (last_line < first_line) last_line = first_line;
    u64 start = get_offset_at_line(text, length, first_line);
    // Counted on from `start`, so a big file is scanned once, not twice.
    u64 end = start + get_offset_at_line(text + start, length - start, last_line - first_line + 2 + COLOURING_MARGIN_LINES);
    editor_colour_range(file, start, end);
}

void editor_colour_range(File *file, u64 start, u64 end) {
    if (start != file->syntax_info.start || end != file->syntax_info.end) file_set_flags(file, FILE_NEEDS_COLOURING);
    if (!file_has_flags(file, FILE_NEEDS_COLOURING)) return;
    file->palette.count = 0;
    file->colour_chunks.count = 0;
    if (!file_has_flags(file, FILE_NEVER_COLOURED)) {
        const Tokenisation_Hint *hint = file_tokenisation_hint(file);
        const u8 *text = file_text(file);
        // The state at a line start depends only on the text before it.
        bool at_line_start = start == 0 || (start <= file_length(file) && (text[start - 1] == '\n' || text[start - 1] == '\r'));
        bool known = file->syntax_state_known && start == file->syntax_info.start && file->changed_low >= start &&
                     at_line_start && file->syntax_state_hint == hint &&
                     file->syntax_state_generation == tokenisation_hints_generation;
        if (!known) {
            u32 depth;
            u16 literal;
            editor_compute_syntax_state(file, start, &depth, &literal);
            file->syntax_info.comment_depth = depth;
            file->syntax_info.literal_state = literal;
            file->syntax_state_hint = hint;
            file->syntax_state_generation = tokenisation_hints_generation;
            file->syntax_state_known = 1;
        }
        file->syntax_info.start = start;
        file->syntax_info.end = end;
        if (text_hooks.custom_layer_has_syntax_block()) {
            File *previous = custom_layer_execution_file;
            custom_layer_execution_file = file;
            text_hooks.run_syntax_block(file);
            custom_layer_execution_file = previous;
        }
    } else {
        file->syntax_info.start = start;
        file->syntax_info.end = end;
    }
    file->changed_low = ~0ull;
    file->changed_high = 0;
    file_clear_flags(file, FILE_NEEDS_COLOURING);
}
