#include "text/tokeniser.h"
#include "text/file.h"
#include "text/text_state.h"

// [SECTION] Byte classes

enum : u8 {
    CLASS_WORD = 0,
    CLASS_DELIMITER = 1, // ends a word
    CLASS_BLANK = 2,     // space or tab: skipped between tokens, ends a word
};

struct Byte_Classes {
    u8 cls[256];
    u16 single[256];      // token type of a one-byte token, 0 for none
    u8 pair_second[256];  // 1 for bytes that end some two-byte token
    constexpr Byte_Classes() : cls(), single(), pair_second() {
        for (const char *p = "+-=&|>:"; *p; p++) pair_second[(u8)*p] = 1;
        for (int c = 32; c <= 47; c++) cls[c] = CLASS_DELIMITER;
        for (int c = 58; c <= 64; c++) cls[c] = CLASS_DELIMITER;
        for (int c = 91; c <= 94; c++) cls[c] = CLASS_DELIMITER;
        cls[96] = CLASS_DELIMITER;
        for (int c = 123; c <= 126; c++) cls[c] = CLASS_DELIMITER;
        cls['\n'] = cls['\r'] = CLASS_DELIMITER;
        cls[' '] = cls['\t'] = CLASS_BLANK;
        for (const char *p = "([{"; *p; p++) single[(u8)*p] = TOKEN_OPEN_BRACKET;
        for (const char *p = ")]}"; *p; p++) single[(u8)*p] = TOKEN_CLOSE_BRACKET;
        for (const char *p = "%&*+-/=^|~"; *p; p++) single[(u8)*p] = TOKEN_OPERATOR;
        for (const char *p = "!<>?"; *p; p++) single[(u8)*p] = TOKEN_COMPARISON;
        for (const char *p = "#$,.:;@\\"; *p; p++) single[(u8)*p] = TOKEN_PUNCTUATION;
        single['"'] = TOKEN_DOUBLE_QUOTE;
        single['\''] = TOKEN_SINGLE_QUOTE;
        single['`'] = TOKEN_BACK_QUOTE;
    }
};
static constexpr Byte_Classes BYTES;

static inline bool is_digit(u8 c) { return c >= '0' && c <= '9'; }
static inline bool is_number_tail(u8 c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '.';
}
static inline bool is_white(u8 c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

struct Pair {
    char text[3];
    u16 type;
};
static const Pair PAIRS[] = {
    {"++", TOKEN_OPERATOR},    {"--", TOKEN_OPERATOR},    {"%=", TOKEN_OPERATOR},    {"&=", TOKEN_OPERATOR},
    {"*=", TOKEN_OPERATOR},    {"+=", TOKEN_OPERATOR},    {"-=", TOKEN_OPERATOR},    {"/=", TOKEN_OPERATOR},
    {"^=", TOKEN_OPERATOR},    {"|=", TOKEN_OPERATOR},    {"&&", TOKEN_COMPARISON},  {"||", TOKEN_COMPARISON},
    {"!=", TOKEN_COMPARISON},  {"<=", TOKEN_COMPARISON},  {"==", TOKEN_COMPARISON},  {">=", TOKEN_COMPARISON},
    {"<-", TOKEN_PUNCTUATION}, {"::", TOKEN_PUNCTUATION}, {"->", TOKEN_PUNCTUATION}, {"=>", TOKEN_PUNCTUATION},
    {":=", TOKEN_PUNCTUATION},
};

static inline bool marker_at(const u8 *text, u64 length, u64 p, String marker) {
    return marker.count > 0 && p + (u64)marker.count <= length && text[p] == marker.data[0] &&
           memcmp(text + p, marker.data, (size_t)marker.count) == 0;
}

// [SECTION] Forward scan

s64 tokenise_next(const u8 *text, u64 length, u64 offset, const Tokenisation_Hint *hint, Editor_Token *out) {
    out->type = TOKEN_NONE;
    out->length = 0;
    out->offset = offset;
    out->pad = 0;
    if (!text) return -1;
    u64 p = offset;
    while (p < length && BYTES.cls[text[p]] == CLASS_BLANK) p++;
    if (p >= length) return -1;
    out->offset = p;
    u8 c = text[p];
    u64 end = p + 1;
    u16 type = 0;

    if (hint) {
        if (marker_at(text, length, p, hint->block_comment_start)) {
            type = TOKEN_BLOCK_COMMENT_START;
            end = p + (u64)hint->block_comment_start.count;
        } else if (marker_at(text, length, p, hint->block_comment_end)) {
            type = TOKEN_BLOCK_COMMENT_END;
            end = p + (u64)hint->block_comment_end.count;
        } else if (marker_at(text, length, p, hint->single_line_comment)) {
            type = TOKEN_SINGLE_LINE_COMMENT;
            end = p + (u64)hint->single_line_comment.count;
        }
    }
    if (type) {
    } else if (c == '\r' || c == '\n') {
        type = TOKEN_NEW_LINE;
        if (c == '\r' && p + 1 < length && text[p + 1] == '\n') end = p + 2;
    } else if (is_digit(c) || ((c == '+' || c == '-') && p + 1 < length && is_digit(text[p + 1])) ||
               (c == '.' && p + 1 < length && is_digit(text[p + 1]) && (p == 0 || is_white(text[p - 1])))) {
        // 0x1F, 1.5e3 and 10_000 are one number each; ".." ends one (ranges).
        type = TOKEN_NUMBER;
        while (end < length && is_number_tail(text[end])) {
            if (text[end] == '.' && end + 1 < length && text[end + 1] == '.') break;
            end++;
        }
    } else if (BYTES.cls[c] == CLASS_DELIMITER) {
        if (p + 4 <= length && (c == '>' || c == '<') && text[p + 1] == c && text[p + 2] == c && text[p + 3] == '=') {
            type = TOKEN_OPERATOR;
            end = p + 4;
        } else {
            if (p + 1 < length && BYTES.pair_second[text[p + 1]]) {
                for (const Pair &pair : PAIRS) {
                    if ((u8)pair.text[0] == c && (u8)pair.text[1] == text[p + 1]) {
                        type = pair.type;
                        end = p + 2;
                        break;
                    }
                }
            }
            if (!type) type = BYTES.single[c];
        }
    } else {
        type = TOKEN_WORD;
        while (end < length && BYTES.cls[text[end]] == CLASS_WORD) end++;
    }
    out->length = (u32)(end - p);
    out->type = type;
    return (s64)end;
}

// [SECTION] Backward scan
//
// Tokens never hold a space, tab, CR or LF (apart from the CR LF token), so
// the start of a run of other bytes is always a token boundary: going back
// means finding such a run and scanning it forwards. Some bytes are also a
// token of their own wherever they stand (no number, word, pair or four-byte
// operator holds one), so a run may start just after one of them: minified
// text then costs a short scan instead of one from the start of its line.
// A byte used by a comment marker of the hint loses that property.

struct Restart_Bytes {
    bool after[256];
};

static void restart_bytes_for(const Tokenisation_Hint *hint, Restart_Bytes *out) {
    memset(out->after, 0, sizeof(out->after));
    for (const char *p = "()[]{},;#$@\\\"'`?~"; *p; p++) out->after[(u8)*p] = true;
    if (!hint) return;
    const String markers[3] = {hint->single_line_comment, hint->block_comment_start, hint->block_comment_end};
    for (const String &m : markers)
        for (s64 i = 0; i < m.count; i++) out->after[m.data[i]] = false;
}

// Start of the run that holds the byte before `p` (`p` itself when that byte
// is white space or there is none).
static u64 run_start_before(const u8 *text, u64 p, const Restart_Bytes *restart) {
    if (p == 0 || is_white(text[p - 1])) return p;
    u64 q = p - 1;
    while (q > 0 && !is_white(text[q - 1]) && !restart->after[text[q - 1]]) q--;
    return q;
}

s64 tokenise_previous(const u8 *text, u64 length, u64 offset, const Tokenisation_Hint *hint, Editor_Token *out) {
    out->type = TOKEN_NONE;
    out->length = 0;
    out->offset = 0;
    out->pad = 0;
    if (!text || length == 0) return -1;
    if (offset > length) offset = length;
    Restart_Bytes restart;
    restart_bytes_for(hint, &restart);
    u64 pos = offset;
    for (;;) {
        while (pos > 0 && (text[pos - 1] == ' ' || text[pos - 1] == '\t')) pos--;
        if (pos == 0) return -1;
        u8 c = text[pos - 1];
        if (c == '\r' && pos < length && text[pos] == '\n') {
            // `offset` splits a CR LF, a token that ends past it.
            pos--;
            continue;
        }
        if (c == '\n' || c == '\r') {
            bool pair = c == '\n' && pos >= 2 && text[pos - 2] == '\r';
            out->offset = pos - (pair ? 2 : 1);
            out->length = pair ? 2 : 1;
            out->type = TOKEN_NEW_LINE;
            return (s64)out->offset;
        }
        u64 start = run_start_before(text, pos, &restart);
        Editor_Token token, best;
        best.type = TOKEN_NONE;
        u64 at = start;
        while (at < pos) {
            s64 next = tokenise_next(text, length, at, hint, &token);
            if (next < 0 || (u64)next > offset) break;
            best = token;
            at = (u64)next;
        }
        if (best.type != TOKEN_NONE) {
            *out = best;
            return (s64)best.offset;
        }
        // Only the token that spans `offset` starts in this run: look before it.
        pos = start;
    }
}

s64 tokenise_at(const u8 *text, u64 length, u64 offset, const Tokenisation_Hint *hint, Editor_Token *out) {
    out->type = TOKEN_NONE;
    out->length = 0;
    out->offset = offset;
    out->pad = 0;
    if (!text || length == 0 || offset > length) return -1;
    Restart_Bytes restart;
    restart_bytes_for(hint, &restart);
    u64 start = run_start_before(text, offset, &restart);
    // A line break just before the run may be the token that ends at
    // `offset`; the middle of a CR LF belongs to that token too.
    if (start > 0 && (text[start - 1] == '\n' || text[start - 1] == '\r')) {
        start--;
        if (text[start] == '\n' && start > 0 && text[start - 1] == '\r') start--;
    }
    Editor_Token token, best;
    best.type = TOKEN_NONE;
    u64 at = start;
    for (;;) {
        s64 next = tokenise_next(text, length, at, hint, &token);
        if (next < 0 || token.offset > offset) break;
        best = token;
        at = (u64)next;
    }
    if (best.type == TOKEN_NONE || best.offset + best.length < offset) return -1;
    *out = best;
    return (s64)best.offset;
}

// [SECTION] File forms

typedef s64 Tokenise_Scan(const u8 *text, u64 length, u64 offset, const Tokenisation_Hint *hint, Editor_Token *out);

static s64 tokenise_file(File *file, u64 offset, Editor_Token *out, Tokenise_Scan *scan) {
    if (!file) {
        out->type = TOKEN_NONE;
        return -1;
    }
    return scan(file_text(file), file_length(file), offset, file_tokenisation_hint(file), out);
}

s64 editor_get_next_token(File *file, u64 offset, Editor_Token *out) {
    return tokenise_file(file_or_current(file), offset, out, tokenise_next);
}
s64 editor_get_previous_token(File *file, u64 offset, Editor_Token *out) {
    return tokenise_file(file_or_current(file), offset, out, tokenise_previous);
}
s64 get_token_at_offset(File *file, u64 offset, Editor_Token *out) { return tokenise_file(file, offset, out, tokenise_at); }
s64 editor_get_token_at_offset(File *file, u64 offset, Editor_Token *out) {
    return tokenise_file(file_or_current(file), offset, out, tokenise_at);
}

// [SECTION] Token arrays

Editor_Token *get_first_editor_token_like(Editor_Token *token, u16 mask, Editor_Token *first) {
    for (Editor_Token *t = token; t && t >= first; t--)
        if (t->type & mask) return t;
    return nullptr;
}

Editor_Token *get_scope_token(Editor_Token *token, Editor_Token *first) {
    u32 depth = 0;
    for (Editor_Token *t = token - 1; t >= first; t--) {
        if (t->type == TOKEN_CLOSE_BRACKET) depth++;
        else if (t->type == TOKEN_OPEN_BRACKET) {
            if (depth == 0) return t;
            depth--;
        }
    }
    return nullptr;
}

// [SECTION] Hints

Tokenisation_Hint *add_a_tokenisation_hint_from(const Tokenisation_Hint_Description *description) {
    if (!tokenisation_hints.element_size) dynamic_array_init(&tokenisation_hints, sizeof(Tokenisation_Hint));
    Tokenisation_Hint *hint = (Tokenisation_Hint *)dynamic_array_add(&tokenisation_hints);
    memset((void *)hint, 0, sizeof(*hint));
    dynamic_array_init(&hint->extensions, sizeof(String));
    for (u32 i = 0; i < description->num_extensions; i++) {
        String copy = string_data_add(&tokenisation_hints_strings, description->extensions[i]);
        if (copy.count > 0) *(String *)dynamic_array_add(&hint->extensions) = copy;
    }
    hint->single_line_comment = string_data_add(&tokenisation_hints_strings, description->single_line_comment);
    hint->block_comment_start = string_data_add(&tokenisation_hints_strings, description->block_comment_start);
    hint->block_comment_end = string_data_add(&tokenisation_hints_strings, description->block_comment_end);
    hint->flags = description->flags & (TOKEN_DOUBLE_QUOTE | TOKEN_SINGLE_QUOTE | TOKEN_BACK_QUOTE);
    tokenisation_hints_generation++;
    return hint;
}

void tokenisation_hints_clear() {
    for (u32 i = 0; i < tokenisation_hints.count; i++)
        dynamic_array_free(&dynamic_array_at<Tokenisation_Hint>(&tokenisation_hints, i)->extensions);
    tokenisation_hints.count = 0;
    string_data_reset(&tokenisation_hints_strings);
    tokenisation_hints_generation++;
}

const Tokenisation_Hint *get_tokenisation_hint_for_file(File *file) {
    file = file_or_current(file);
    if (!file || tokenisation_hints.count == 0) return nullptr;
    String name = file->name;
    s64 dot = name.count - 1;
    while (dot >= 0 && name.data[dot] != '.') dot--;
    if (dot < 0) return nullptr;
    u8 lower[256];
    s64 n = name.count - dot - 1;
    for (s64 i = 0; i < n; i++) {
        u8 c = name.data[dot + 1 + i];
        lower[i] = c >= 'A' && c <= 'Z' ? (u8)(c + 32) : c;
    }
    String extension = {lower, n};
    for (u32 h = 0; h < tokenisation_hints.count; h++) {
        Tokenisation_Hint *hint = dynamic_array_at<Tokenisation_Hint>(&tokenisation_hints, h);
        for (u32 e = 0; e < hint->extensions.count; e++)
            if (string_equal(extension, *dynamic_array_at<String>(&hint->extensions, e))) return hint;
    }
    return nullptr;
}

const Tokenisation_Hint *file_tokenisation_hint(File *file) {
    if (file->hint_generation != tokenisation_hints_generation) {
        // Context chunks were found with the old markers.
        file->context_chunks.count = 0;
        file->hint = get_tokenisation_hint_for_file(file);
        file->hint_generation = tokenisation_hints_generation;
    }
    return file->hint;
}
