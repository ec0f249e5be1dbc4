// The language-neutral editor tokeniser. Tokens are computed on demand from
// the raw text, forwards or backwards; the only language knowledge is the
// per-extension tokenisation hint (comment markers and which quotes delimit
// literals) set by the custom layer.
#pragma once
#include "core/base.h"
#include "core/memory.h"

struct File;

enum Token_Type : u16 {
    TOKEN_NEW_LINE = 1,
    TOKEN_WORD = 2,
    TOKEN_NUMBER = 4,
    TOKEN_OPEN_BRACKET = 8,
    TOKEN_CLOSE_BRACKET = 16,
    TOKEN_OPERATOR = 32,
    TOKEN_COMPARISON = 64,            // comparison or logical
    TOKEN_DOUBLE_QUOTE = 128,
    TOKEN_SINGLE_QUOTE = 256,
    TOKEN_BACK_QUOTE = 512,
    TOKEN_SINGLE_LINE_COMMENT = 1024, // the hint's single-line comment marker
    TOKEN_BLOCK_COMMENT_START = 2048,
    TOKEN_BLOCK_COMMENT_END = 4096,
    TOKEN_PUNCTUATION = 8192,
    TOKEN_NONE = 16384,               // no token
};

struct Editor_Token {
    u64 offset;
    u32 length;
    u16 type;
    u16 pad;
};
static_assert(sizeof(Editor_Token) == 16);

struct Tokenisation_Hint {
    Dynamic_Array extensions; // String, compared with the lower-cased extension
    String single_line_comment;
    String block_comment_start;
    String block_comment_end;
    u16 flags; // TOKEN_DOUBLE_QUOTE / SINGLE_QUOTE / BACK_QUOTE: that quote delimits literals
};
static_assert(sizeof(Tokenisation_Hint) == 112);

// What the custom layer describes; strings are copied.
struct Tokenisation_Hint_Description {
    const String *extensions;
    u32 num_extensions;
    String single_line_comment;
    String block_comment_start;
    String block_comment_end;
    u16 flags;
};

Tokenisation_Hint *add_a_tokenisation_hint_from(const Tokenisation_Hint_Description *description);
void tokenisation_hints_clear();
// First hint listing the file's lower-cased extension, or null.
const Tokenisation_Hint *get_tokenisation_hint_for_file(File *file);
// The same, cached in the record until the hints or the name change; a new
// lookup drops the context chunks found with the old hint.
const Tokenisation_Hint *file_tokenisation_hint(File *file);

// Core scanner on a raw text: the token at or after `offset` (spaces and tabs
// skipped). Returns the offset just past it, or -1 when there is none.
s64 tokenise_next(const u8 *text, u64 length, u64 offset, const Tokenisation_Hint *hint, Editor_Token *out);
// The last token that ends at or before `offset`; returns its start or -1.
s64 tokenise_previous(const u8 *text, u64 length, u64 offset, const Tokenisation_Hint *hint, Editor_Token *out);
// The token holding `offset`: the one starting there, else the one that
// contains or ends at it. Returns its start or -1 (type TOKEN_NONE).
s64 tokenise_at(const u8 *text, u64 length, u64 offset, const Tokenisation_Hint *hint, Editor_Token *out);

// File forms; a null file means the current file.
s64 editor_get_next_token(File *file, u64 offset, Editor_Token *out);
s64 editor_get_previous_token(File *file, u64 offset, Editor_Token *out);
s64 get_token_at_offset(File *file, u64 offset, Editor_Token *out);
s64 editor_get_token_at_offset(File *file, u64 offset, Editor_Token *out);

// Over an array of tokens [first, token]: walking back from `token` itself,
// the first whose type has a bit of `mask`; null when none.
Editor_Token *get_first_editor_token_like(Editor_Token *token, u16 mask, Editor_Token *first);
// Walking back from the token before `token`, the open bracket that encloses
// it (close brackets on the way must be matched first); null when none.
Editor_Token *get_scope_token(Editor_Token *token, Editor_Token *first);
