// The lexer: one pass over a file's bytes into a linked list of tokens. It
// pairs every bracket with its partner and every ':' with the ';' ending its
// declaration while it scans, so later passes skip groups in constant time.
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"

struct Operator_Form {
    const char *text;
    u32 length;
    u64 kind;
    u64 op;
    u8 priority;
};

// Longest first: the scan takes the first form that matches.
static const Operator_Form MULTI_CHARACTER_OPERATORS[] = {
    {"<<<=", 4, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_ROTATE_LEFT, 0},
    {">>>=", 4, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_ROTATE_RIGHT, 0},
    {"<<<", 3, TOKEN_BINARY_OPERATOR, OP_ROTATE_LEFT, 4},
    {">>>", 3, TOKEN_BINARY_OPERATOR, OP_ROTATE_RIGHT, 4},
    {"<<=", 3, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_SHIFT_LEFT, 0},
    {">>=", 3, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_SHIFT_RIGHT, 0},
    {"||=", 3, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_LOGICAL_OR, 0},
    {"&&=", 3, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_LOGICAL_AND, 0},
    {"&&", 2, TOKEN_BINARY_OPERATOR, OP_LOGICAL_AND, 1},
    {"||", 2, TOKEN_BINARY_OPERATOR, OP_LOGICAL_OR, 1},
    {"++", 2, TOKEN_UNARY_OPERATOR, OP_INCREMENT, 0},
    {"--", 2, TOKEN_UNARY_OPERATOR, OP_DECREMENT, 0},
    {"<<", 2, TOKEN_BINARY_OPERATOR, OP_SHIFT_LEFT, 4},
    {">>", 2, TOKEN_BINARY_OPERATOR, OP_SHIFT_RIGHT, 4},
    {"->", 2, TOKEN_ARROW, 0, 0},
    {"!=", 2, TOKEN_BINARY_OPERATOR, OP_NOT_EQUAL, 2},
    {"==", 2, TOKEN_BINARY_OPERATOR, OP_EQUAL, 2},
    {"<=", 2, TOKEN_BINARY_OPERATOR, OP_LESS_OR_EQUAL, 2},
    {">=", 2, TOKEN_BINARY_OPERATOR, OP_GREATER_OR_EQUAL, 2},
    {"+=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_ADD, 0},
    {"-=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_SUBTRACT, 0},
    {"*=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_MULTIPLY, 0},
    {"/=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_DIVIDE, 0},
    {"%=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_MODULO, 0},
    {"&=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_AND, 0},
    {"|=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_OR, 0},
    {"^=", 2, TOKEN_BINARY_OPERATOR, OP_ASSIGN | OP_XOR, 0},
};

// Characters that always extend the word they follow: none of them starts an
// operator, a bracket, a string, a comment or white space.
struct Word_Characters {
    bool plain[256];
    constexpr Word_Characters() : plain() {
        for (u32 i = 0; i < 256; i++) plain[i] = true;
        const char *special = " \t\r\n\"/{}()[]:;+-.*%<>&|^=~!@,$'?";
        for (const char *c = special; *c; c++) plain[(u8)*c] = false;
    }
};
static constexpr Word_Characters WORD_CHARACTERS;

struct Lexer {
    File_Record *file;
    Token *last;
    Bucket *bucket;
    u32 line;
    const u8 *line_start;
    Token *word; // the word being extended, if any
    Token *open[3][MAX_INNER_SCOPES]; // '{', '(', '['
    u32 num_open[3];
    Token *colons[MAX_INNER_SCOPES];
    u32 num_colons;
    // Colons pending outside each open '{', restored when it closes, so a
    // ';' inside a block never ends the declaration around the block.
    u32 saved_colons[MAX_INNER_SCOPES];
};

static Token *add_a_token(Lexer *lexer, const u8 *text, u64 kind, u64 value, u8 priority) {
    Memory_Pool *pool = &global_compiler_state.tokens_pool;
    if (!lexer->bucket || lexer->bucket->count >= pool->num_per_bucket) {
        lexer->bucket = memory_pool_allocate_bucket(pool);
    }
    Token *t = (Token *)bucket_element(lexer->bucket, pool->element_size, lexer->bucket->count++);
    memset(t, 0, sizeof(Token));
    t->text = text;
    t->length = 1;
    t->kind = kind;
    t->op = value;
    t->priority = priority;
    t->location.file_index = lexer->file->file_index;
    t->location.line = lexer->line;
    t->location.line_start = lexer->line_start;
    t->location.text = text;
    t->location.length = 1;
    if (lexer->last) lexer->last->next = t;
    else lexer->file->first_token = t;
    lexer->last = t;
    return t;
}

static void set_token_length(Token *t, s64 length) {
    t->length = (s32)length;
    t->location.length = length;
}

static Trace trace_at(Lexer *lexer, const u8 *p) {
    return Trace{lexer->file->file_index, lexer->line, lexer->line_start, p, 1};
}

static inline bool is_digit(u8 c) { return c >= '0' && c <= '9'; }

static const u8 *skip_block_comment(Lexer *lexer, const u8 *p, const u8 *end) {
    u32 depth = 0;
    while (p < end) {
        if (p + 1 < end && p[0] == '/' && p[1] == '*') {
            depth++;
            p += 2;
        } else if (p + 1 < end && p[0] == '*' && p[1] == '/') {
            p += 2;
            if (--depth == 0) return p;
        } else if (*p == '"') {
            p++;
            while (p < end && *p != '"') {
                if (*p == '\\' && p + 1 < end && p[1] != '\n' && p[1] != '\r') p++;
                else if (*p == '\n' || *p == '\r') {
                    if (*p == '\r' && p + 1 < end && p[1] == '\n') p++;
                    lexer->line++;
                    lexer->line_start = p + 1;
                }
                p++;
            }
            if (p < end) p++;
        } else {
            if (*p == '\n' || *p == '\r') {
                if (*p == '\r' && p + 1 < end && p[1] == '\n') p++;
                lexer->line++;
                lexer->line_start = p + 1;
            }
            p++;
        }
    }
    return p;
}

static bool open_bracket(Lexer *lexer, u32 which, const u8 *p, u64 kind) {
    if (lexer->num_open[which] >= MAX_INNER_SCOPES) {
        print_error_on_string(trace_at(lexer, p), "You can only have up to %u inner scopes.", MAX_INNER_SCOPES);
        return false;
    }
    Token *t = add_a_token(lexer, p, kind, 0, 0);
    lexer->open[which][lexer->num_open[which]++] = t;
    if (which == 0) {
        lexer->saved_colons[lexer->num_open[0] - 1] = lexer->num_colons;
    }
    return true;
}

static bool close_bracket(Lexer *lexer, u32 which, const u8 *p, u64 kind, const char *missing) {
    Token *t = add_a_token(lexer, p, kind, 0, 0);
    if (lexer->num_open[which] == 0) {
        print_error_on_token(t, "There is no matching '%s' for this.", missing);
        return false;
    }
    Token *opener = lexer->open[which][--lexer->num_open[which]];
    opener->partner = t;
    t->partner = opener;
    if (which == 0) {
        // Colons of the closed block that found no ';' keep no partner.
        u32 saved = lexer->saved_colons[lexer->num_open[0]];
        if (lexer->num_colons > saved) lexer->num_colons = saved;
    }
    return true;
}

bool tokenise_file(File_Record *file) {
    Lexer lexer = {};
    lexer.file = file;
    lexer.line = 1;
    lexer.line_start = file->text;
    file->first_token = nullptr;
    const u8 *p = file->text;
    const u8 *end = file->text + file->count;

    while (p < end) {
        u8 c = *p;
        // Multi-character operators first, longest first.
        if (c == '<' || c == '>' || c == '|' || c == '&' || c == '+' || c == '-' || c == '!' || c == '=' ||
            c == '*' || c == '/' || c == '%' || c == '^') {
            const Operator_Form *found = nullptr;
            // Every form is two characters or more: the second one rules out most of them
            // without a call (a lone '=' or '*' is the common case).
            u8 next = p + 1 < end ? p[1] : 0;
            for (const Operator_Form &form : MULTI_CHARACTER_OPERATORS) {
                if ((u8)form.text[0] != c || (u8)form.text[1] != next) continue;
                if (p + form.length <= end && (form.length == 2 || memcmp(p + 2, form.text + 2, form.length - 2) == 0)) {
                    found = &form;
                    break;
                }
            }
            if (found) {
                lexer.word = nullptr;
                Token *t = add_a_token(&lexer, p, found->kind, found->op, found->priority);
                set_token_length(t, found->length);
                p += found->length;
                continue;
            }
        }
        switch (c) {
        case ' ':
        case '\t':
            lexer.word = nullptr;
            p++;
            while (p < end && (*p == ' ' || *p == '\t')) p++; // indentation
            continue;
        case '\n':
        case '\r':
            lexer.word = nullptr;
            if (c == '\r' && p + 1 < end && p[1] == '\n') p++;
            p++;
            lexer.line++;
            lexer.line_start = p;
            continue;
        case '"': {
            lexer.word = nullptr;
            const u8 *start = p + 1;
            Token *t = add_a_token(&lexer, start, TOKEN_STRING, 0, 0);
            t->location.text = p;
            const u8 *q = start;
            u32 line = lexer.line;
            const u8 *line_start = lexer.line_start;
            while (q < end && *q != '"') {
                if (*q == '\\' && q + 1 < end) {
                    q++;
                    if (*q != '\n' && *q != '\r') {
                        q++;
                        continue;
                    }
                }
                if (*q == '\n' || *q == '\r') {
                    if (*q == '\r' && q + 1 < end && q[1] == '\n') q++;
                    line++;
                    line_start = q + 1;
                }
                q++;
            }
            if (q >= end) {
                t->location.length = 1;
                print_error_on_token(t, "There is no matching '\"' for this.");
                return false;
            }
            t->length = (s32)(q - start);
            t->location.length = (q + 1) - p;
            lexer.line = line;
            lexer.line_start = line_start;
            p = q + 1;
            continue;
        }
        case '/':
            if (p + 1 < end && p[1] == '/') {
                lexer.word = nullptr;
                while (p < end && *p != '\n' && *p != '\r') p++;
                continue;
            }
            if (p + 1 < end && p[1] == '*') {
                lexer.word = nullptr;
                p = skip_block_comment(&lexer, p, end);
                continue;
            }
            break;
        case '{':
            lexer.word = nullptr;
            if (!open_bracket(&lexer, 0, p, TOKEN_OPEN_BRACE)) return false;
            p++;
            continue;
        case '(':
            lexer.word = nullptr;
            if (!open_bracket(&lexer, 1, p, TOKEN_OPEN_PARENTHESIS)) return false;
            p++;
            continue;
        case '[':
            lexer.word = nullptr;
            if (!open_bracket(&lexer, 2, p, TOKEN_OPEN_BRACKET)) return false;
            p++;
            continue;
        case '}':
            lexer.word = nullptr;
            if (!close_bracket(&lexer, 0, p, TOKEN_CLOSE_BRACE, "{")) return false;
            p++;
            continue;
        case ')':
            lexer.word = nullptr;
            if (!close_bracket(&lexer, 1, p, TOKEN_CLOSE_PARENTHESIS, "(")) return false;
            p++;
            continue;
        case ']':
            lexer.word = nullptr;
            if (!close_bracket(&lexer, 2, p, TOKEN_CLOSE_BRACKET, "[")) return false;
            p++;
            continue;
        case ':': {
            lexer.word = nullptr;
            Token *t = add_a_token(&lexer, p, TOKEN_COLON, 0, 0);
            if (lexer.num_colons >= MAX_INNER_SCOPES) {
                print_error_on_token(t, "Did you forget a ';' somwhere around here?");
                return false;
            }
            lexer.colons[lexer.num_colons++] = t;
            p++;
            continue;
        }
        case ';': {
            lexer.word = nullptr;
            Token *t = add_a_token(&lexer, p, TOKEN_SEMICOLON, 0, 0);
            u32 floor = lexer.num_open[0] ? lexer.saved_colons[lexer.num_open[0] - 1] : 0;
            for (u32 i = floor; i < lexer.num_colons; i++) lexer.colons[i]->partner = t;
            lexer.num_colons = floor;
            p++;
            continue;
        }
        case '+':
        case '-':
            if ((p + 1 < end && is_digit(p[1])) || (p + 2 < end && p[1] == '.' && is_digit(p[2]))) {
                u64 kind = p[1] == '.' ? TOKEN_REAL : TOKEN_SIGNED_INTEGER;
                lexer.word = add_a_token(&lexer, p, kind, 0, 0);
                if (kind == TOKEN_REAL) {
                    set_token_length(lexer.word, 2);
                    p += 2;
                } else {
                    p++;
                }
                continue;
            }
            break;
        case '.':
            if (lexer.word && (lexer.word->kind & TOKEN_INTEGER_LITERAL)) {
                lexer.word->kind = TOKEN_REAL;
                set_token_length(lexer.word, lexer.word->length + 1);
                p++;
                continue;
            }
            if (!lexer.word && p + 1 < end && is_digit(p[1])) {
                lexer.word = add_a_token(&lexer, p, TOKEN_REAL, 0, 0);
                p++;
                continue;
            }
            {
                u8 priority = lexer.word ? 255 : 5;
                lexer.word = nullptr;
                add_a_token(&lexer, p, TOKEN_BINARY_OPERATOR, OP_DOT, priority);
                p++;
                continue;
            }
        default:
            break;
        }

        // Single-character operators and punctuation.
        u64 kind = 0, op = 0;
        u8 priority = 0;
        switch (c) {
        case '+': kind = TOKEN_BINARY_OPERATOR; op = OP_ADD; priority = 3; break;
        case '-': kind = TOKEN_BINARY_OPERATOR; op = OP_SUBTRACT; priority = 3; break;
        case '*': kind = TOKEN_BINARY_OPERATOR; op = OP_MULTIPLY; priority = 4; break;
        case '/': kind = TOKEN_BINARY_OPERATOR; op = OP_DIVIDE; priority = 4; break;
        case '%': kind = TOKEN_BINARY_OPERATOR; op = OP_MODULO; priority = 4; break;
        case '<': kind = TOKEN_BINARY_OPERATOR; op = OP_LESS; priority = 2; break;
        case '>': kind = TOKEN_BINARY_OPERATOR; op = OP_GREATER; priority = 2; break;
        case '&': kind = TOKEN_BINARY_OPERATOR; op = OP_AND; priority = 3; break;
        case '|': kind = TOKEN_BINARY_OPERATOR; op = OP_OR; priority = 3; break;
        case '^': kind = TOKEN_BINARY_OPERATOR; op = OP_XOR; priority = 3; break;
        case '=': kind = TOKEN_BINARY_OPERATOR; op = OP_ASSIGN; priority = 0; break;
        case '~': kind = TOKEN_UNARY_OPERATOR; op = OP_NOT; break;
        case '!': kind = TOKEN_UNARY_OPERATOR; op = OP_LOGICAL_NOT; break;
        case '@': kind = TOKEN_AT; op = OP_ADDRESS; break;
        case ',': kind = TOKEN_COMMA; break;
        case '$': kind = TOKEN_DOLLAR; break;
        case '\'': kind = TOKEN_QUOTE; break;
        case '?': kind = TOKEN_QUESTION_MARK; break;
        default: break;
        }
        if (kind) {
            lexer.word = nullptr;
            add_a_token(&lexer, p, kind, op, priority);
            p++;
            continue;
        }

        // Anything else belongs to a word; the rest of its plain characters are
        // taken in one go instead of one pass through the switches each.
        const u8 *q = p + 1;
        while (q < end && WORD_CHARACTERS.plain[*q]) q++;
        if (lexer.word) {
            set_token_length(lexer.word, lexer.word->length + (q - p));
        } else {
            u64 word_kind = is_digit(c) ? TOKEN_INTEGER : c == '#' ? TOKEN_DIRECTIVE : TOKEN_IDENTIFIER;
            lexer.word = add_a_token(&lexer, p, word_kind, 0, 0);
            set_token_length(lexer.word, q - p);
        }
        p = q;
    }

    if (lexer.num_open[0]) {
        print_error_on_token(lexer.open[0][lexer.num_open[0] - 1], "There is no matching '}' for this.");
        return false;
    }
    if (lexer.num_open[1]) {
        print_error_on_token(lexer.open[1][lexer.num_open[1] - 1], "There is no matching ')' for this.");
        return false;
    }
    if (lexer.num_open[2]) {
        print_error_on_token(lexer.open[2][lexer.num_open[2] - 1], "There is no matching ']' for this.");
        return false;
    }
    if (lexer.num_colons) {
        print_error_on_token(lexer.colons[lexer.num_colons - 1], "There is no corresponding ';' for this ':'.");
        return false;
    }
    return true;
}

// [SECTION] Navigation

Token *get_first_token_like(Token *first, u64 kinds, Token *end) {
    for (Token *t = first; t && t != end; t = token_skip(t)) {
        if ((t->kind & kinds) || (t->kind & TOKEN_SCOPE_END)) return t;
    }
    return nullptr;
}

Token *get_first_token_like_bounded(Token *first, u64 kinds, Token *end) {
    for (Token *t = first; t && t != end; t = token_skip(t)) {
        if (t->kind & kinds) return t;
        if (t->kind & TOKEN_SCOPE_END) return nullptr;
    }
    return nullptr;
}

Token *get_first_operator_like_bounded(Token *first, u64 codes, Token *end) {
    for (Token *t = first; t && t != end; t = token_skip(t)) {
        if ((t->kind & TOKEN_OPERATOR) && (t->op & codes)) return t;
        if (t->kind & TOKEN_SCOPE_END) return nullptr;
    }
    return nullptr;
}

Token *get_next_binary_operator_with_priority_level_below_or_equal(Token *first, u8 level, Token *end) {
    Token *previous = nullptr;
    for (Token *t = first; t && t != end; t = token_skip(t)) {
        if (t->kind & TOKEN_SCOPE_END) return nullptr;
        bool follows_operator = previous && (previous->kind & (TOKEN_OPERATOR | TOKEN_AT));
        if ((t->kind & TOKEN_BINARY_OPERATOR) && t->priority <= level && !follows_operator && t != first) return t;
        previous = t;
    }
    return nullptr;
}

Token *get_next_main_operator(Token *first, Token *end, bool skip_leading_minus) {
    Token *t = first;
    if (skip_leading_minus && t && t != end && (t->kind & TOKEN_BINARY_OPERATOR) && t->op == OP_SUBTRACT) t = t->next;
    for (; t && t != end; t = token_skip(t)) {
        if (t->kind & TOKEN_SCOPE_END) return nullptr;
        if ((t->kind & TOKEN_BINARY_OPERATOR) && t->op != OP_DOT) return t;
    }
    return nullptr;
}

const char *operator_to_c_string(u64 code) {
    switch (code) {
    case OP_INCREMENT: return "++";
    case OP_DECREMENT: return "--";
    case OP_NEGATE: return "-";
    case OP_ADD: return "+";
    case OP_SUBTRACT: return "-";
    case OP_MULTIPLY: return "*";
    case OP_DIVIDE: return "/";
    case OP_MODULO: return "%";
    case OP_SHIFT_LEFT: return "<<";
    case OP_SHIFT_RIGHT: return ">>";
    case OP_ROTATE_LEFT: return "<<<";
    case OP_ROTATE_RIGHT: return ">>>";
    case OP_AND: return "&";
    case OP_OR: return "|";
    case OP_XOR: return "^";
    case OP_NOT: return "~";
    case OP_LOGICAL_AND: return "&&";
    case OP_LOGICAL_OR: return "||";
    case OP_NOT_EQUAL: return "!=";
    case OP_LOGICAL_NOT: return "!";
    case OP_LESS: return "<";
    case OP_LESS_OR_EQUAL: return "<=";
    case OP_GREATER: return ">";
    case OP_GREATER_OR_EQUAL: return ">=";
    case OP_EQUAL: return "==";
    case OP_ASSIGN: return "=";
    case OP_DOT: return ".";
    case OP_ADDRESS: return "@";
    case OP_SUBSCRIPT: return "[]";
    case OP_ASSIGN | OP_ADD: return "+=";
    case OP_ASSIGN | OP_SUBTRACT: return "-=";
    case OP_ASSIGN | OP_MULTIPLY: return "*=";
    case OP_ASSIGN | OP_DIVIDE: return "/=";
    case OP_ASSIGN | OP_MODULO: return "%=";
    case OP_ASSIGN | OP_SHIFT_LEFT: return "<<=";
    case OP_ASSIGN | OP_SHIFT_RIGHT: return ">>=";
    case OP_ASSIGN | OP_ROTATE_LEFT: return "<<<=";
    case OP_ASSIGN | OP_ROTATE_RIGHT: return ">>>=";
    case OP_ASSIGN | OP_AND: return "&=";
    case OP_ASSIGN | OP_OR: return "|=";
    case OP_ASSIGN | OP_XOR: return "^=";
    case OP_ASSIGN | OP_LOGICAL_AND: return "&&=";
    case OP_ASSIGN | OP_LOGICAL_OR: return "||=";
    default: return "INVALID OPERATOR";
    }
}

const char *token_to_c_string(Token *t) {
    if (!t) return "";
    return arena_format("%.*s", (int)t->length, (const char *)t->text);
}

u64 get_opposite_condition_operator(u64 code) {
    switch (code) {
    case OP_LOGICAL_AND: return OP_LOGICAL_OR;
    case OP_LOGICAL_OR: return OP_LOGICAL_AND;
    case OP_NOT_EQUAL: return OP_EQUAL;
    case OP_EQUAL: return OP_NOT_EQUAL;
    case OP_LESS: return OP_GREATER_OR_EQUAL;
    case OP_GREATER_OR_EQUAL: return OP_LESS;
    case OP_LESS_OR_EQUAL: return OP_GREATER;
    case OP_GREATER: return OP_LESS_OR_EQUAL;
    default: return code;
    }
}
