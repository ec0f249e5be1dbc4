// Tokens of the extension language: kinds, operator codes, the lexer and the
// navigation helpers every parser uses to skip bracketed groups in one step.
#pragma once
#include "core/base.h"

struct File_Record;

// Where a piece of source text lies; every token carries one.
struct Trace {
    u32 file_index;
    u32 line;              // from 1
    const u8 *line_start;
    const u8 *text;        // start of the range
    s64 length;            // bytes of the range
};

enum : u64 {
    TOKEN_BINARY_OPERATOR = 0x1,
    TOKEN_UNARY_OPERATOR = 0x2,
    TOKEN_OPEN_BRACE = 0x4,
    TOKEN_CLOSE_BRACE = 0x8,
    TOKEN_OPEN_PARENTHESIS = 0x10,
    TOKEN_CLOSE_PARENTHESIS = 0x20,
    TOKEN_OPEN_BRACKET = 0x40,
    TOKEN_CLOSE_BRACKET = 0x80,
    TOKEN_COLON = 0x100,
    TOKEN_COMMA = 0x200,
    TOKEN_ARROW = 0x400,
    TOKEN_DOLLAR = 0x800,
    TOKEN_QUOTE = 0x1000,
    TOKEN_QUESTION_MARK = 0x2000,
    TOKEN_AT = 0x4000,
    TOKEN_SEMICOLON = 0x8000,
    TOKEN_IDENTIFIER = 0x10000,
    TOKEN_DIRECTIVE = 0x20000,
    TOKEN_STRING = 0x40000,
    TOKEN_INTEGER = 0x80000,
    TOKEN_SIGNED_INTEGER = 0x100000,
    TOKEN_REAL = 0x200000,

    TOKEN_OPERATOR = 0x3,
    TOKEN_SCOPE_START = 0x54,
    TOKEN_SCOPE_END = 0xA8,
    TOKEN_INTEGER_LITERAL = 0x180000,
    TOKEN_NUMBER = 0x380000,
    TOKEN_LITERAL = 0x3C0000,
};

enum : u64 {
    OP_INCREMENT = 0x1,
    OP_DECREMENT = 0x2,
    OP_NEGATE = 0x4,
    OP_ADD = 0x8,
    OP_SUBTRACT = 0x10,
    OP_MULTIPLY = 0x20,
    OP_DIVIDE = 0x40,
    OP_MODULO = 0x80,
    OP_SHIFT_LEFT = 0x100,
    OP_SHIFT_RIGHT = 0x200,
    OP_ROTATE_LEFT = 0x400,
    OP_ROTATE_RIGHT = 0x800,
    OP_AND = 0x1000,
    OP_OR = 0x2000,
    OP_XOR = 0x4000,
    OP_NOT = 0x8000,
    OP_LOGICAL_AND = 0x10000,
    OP_LOGICAL_OR = 0x20000,
    OP_NOT_EQUAL = 0x40000,
    OP_LOGICAL_NOT = 0x80000,
    OP_LESS = 0x100000,
    OP_LESS_OR_EQUAL = 0x200000,
    OP_GREATER = 0x400000,
    OP_GREATER_OR_EQUAL = 0x800000,
    OP_EQUAL = 0x1000000,
    OP_ASSIGN = 0x2000000,
    OP_DOT = 0x4000000,
    OP_ADDRESS = 0x8000000,
    OP_SUBSCRIPT = 0x10000000,

    OP_UNARY = 0x8088007,
    OP_BITWISE = 0xF000,
    OP_LOGICAL = 0xFF0000,
    OP_CMP = 0x1F40000,
    OP_CONDITION = 0x1FF0000,
    OP_COMMUTATIVE = 0x1077028,
};

constexpr u32 MAX_INNER_SCOPES = 16;
constexpr u32 NUM_TOKENS_PER_BUCKET = 4096;
constexpr u32 NUM_TOKEN_BUCKETS_PER_PAGE = 2;
constexpr u32 TOKEN_RECORD_SIZE = 72;
constexpr u32 TOKENS_PAGE_MEMORY = 720944; // room for 88-byte records, as before

// A big program has a token for every few bytes of source: keep the record small.
struct Token {
    Token *next;
    const u8 *text;   // a string literal starts after its opening quote
    Trace location;
    union {
        u64 op;        // operator tokens: the operator code
        Token *partner; // brackets: the matching one; ':' the ';' ending the declaration
    };
    u64 kind;
    s32 length;       // a source file is far below 2 GiB
    u8 priority;
};
static_assert(sizeof(Token) == TOKEN_RECORD_SIZE, "the tokens pool is sized for 72-byte tokens");

// Tokenises the whole text of `file`, linking its tokens from file->first_token.
bool tokenise_file(File_Record *file);

// Navigation. `end` is exclusive and may be null (the end of the list). An
// opening bracket is always skipped together with everything up to its partner.
Token *get_first_token_like(Token *first, u64 kinds, Token *end = nullptr);
Token *get_first_token_like_bounded(Token *first, u64 kinds, Token *end);
Token *get_first_operator_like_bounded(Token *first, u64 codes, Token *end);
Token *get_next_binary_operator_with_priority_level_below_or_equal(Token *first, u8 level, Token *end);
Token *get_next_main_operator(Token *first, Token *end, bool skip_leading_minus);
// The token after `t`, skipping the whole group when `t` opens one.
inline Token *token_skip(Token *t) {
    if ((t->kind & TOKEN_SCOPE_START) && t->partner) return t->partner->next;
    return t->next;
}
inline bool token_is(Token *t, const char *text) {
    size_t n = strlen(text);
    return t && (size_t)t->length == n && memcmp(t->text, text, n) == 0;
}
inline String token_string(Token *t) { return String{(u8 *)t->text, t->length}; }

const char *operator_to_c_string(u64 code);
// The token's text, zero-terminated, in the compiler's scratch memory.
const char *token_to_c_string(Token *t);
u64 get_opposite_condition_operator(u64 code);
