// The lexer's contract, token by token: kinds, operator codes, priorities,
// bracket and colon partners.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "compiler_test_util.h"
#include "compiler/front/compiler.h"

struct Lexed {
    bool ok;
    std::vector<Token *> tokens;
};

static Lexed lex(const std::string &text) {
    // A compilation resets the token pools; the file is then tokenised alone.
    compile_text("");
    File_Record *file = compiler_add_file_from_memory(S("/virtual/lexed.8"), String{(u8 *)text.data(), (s64)text.size()});
    Lexed out = {file != nullptr, {}};
    if (file) {
        for (Token *t = file->first_token; t; t = t->next) out.tokens.push_back(t);
    }
    return out;
}

struct Expected_Token {
    const char *text;
    u64 kind;
    u64 op;
    u8 priority;
};

struct Lexer_Case {
    const char *input;
    std::vector<Expected_Token> tokens;
};

static const std::vector<Lexer_Case> LEXER_CASES = {
    {"a.b", {{"a", TOKEN_IDENTIFIER, 0, 0}, {".", TOKEN_BINARY_OPERATOR, OP_DOT, 255}, {"b", TOKEN_IDENTIFIER, 0, 0}}},
    {"a . b", {{"a", TOKEN_IDENTIFIER, 0, 0}, {".", TOKEN_BINARY_OPERATOR, OP_DOT, 5}, {"b", TOKEN_IDENTIFIER, 0, 0}}},
    {".5", {{".5", TOKEN_REAL, 0, 0}}},
    {"1.5", {{"1.5", TOKEN_REAL, 0, 0}}},
    {"1.5.x", {{"1.5", TOKEN_REAL, 0, 0}, {".", TOKEN_BINARY_OPERATOR, OP_DOT, 255}, {"x", TOKEN_IDENTIFIER, 0, 0}}},
    {"x-1", {{"x", TOKEN_IDENTIFIER, 0, 0}, {"-1", TOKEN_SIGNED_INTEGER, 0, 0}}},
    {"x - 1", {{"x", TOKEN_IDENTIFIER, 0, 0}, {"-", TOKEN_BINARY_OPERATOR, OP_SUBTRACT, 3}, {"1", TOKEN_INTEGER, 0, 0}}},
    {"a <<<= 2;", {{"a", TOKEN_IDENTIFIER, 0, 0}, {"<<<=", TOKEN_BINARY_OPERATOR, 0x2000400, 0}, {"2", TOKEN_INTEGER, 0, 0}, {";", TOKEN_SEMICOLON, 0, 0}}},
    {"a>>>b", {{"a", TOKEN_IDENTIFIER, 0, 0}, {">>>", TOKEN_BINARY_OPERATOR, OP_ROTATE_RIGHT, 4}, {"b", TOKEN_IDENTIFIER, 0, 0}}},
    {"!x ~y", {{"!", TOKEN_UNARY_OPERATOR, OP_LOGICAL_NOT, 0}, {"x", TOKEN_IDENTIFIER, 0, 0}, {"~", TOKEN_UNARY_OPERATOR, OP_NOT, 0}, {"y", TOKEN_IDENTIFIER, 0, 0}}},
    {"a&&b||c", {{"a", TOKEN_IDENTIFIER, 0, 0}, {"&&", TOKEN_BINARY_OPERATOR, OP_LOGICAL_AND, 1}, {"b", TOKEN_IDENTIFIER, 0, 0}, {"||", TOKEN_BINARY_OPERATOR, OP_LOGICAL_OR, 1}, {"c", TOKEN_IDENTIFIER, 0, 0}}},
    {"->@$?'", {{"->", TOKEN_ARROW, 0, 0}, {"@", TOKEN_AT, OP_ADDRESS, 0}, {"$", TOKEN_DOLLAR, 0, 0}, {"?", TOKEN_QUESTION_MARK, 0, 0}, {"'", TOKEN_QUOTE, 0, 0}}},
    {"0x1F 1e5 12abc #load_file", {{"0x1F", TOKEN_INTEGER, 0, 0}, {"1e5", TOKEN_INTEGER, 0, 0}, {"12abc", TOKEN_INTEGER, 0, 0}, {"#load_file", TOKEN_DIRECTIVE, 0, 0}}},
    {"é_x2 -.5", {{"é_x2", TOKEN_IDENTIFIER, 0, 0}, {"-.5", TOKEN_REAL, 0, 0}}},
    {"\"a\\\"b\" //c\nd", {{"a\\\"b", TOKEN_STRING, 0, 0}, {"d", TOKEN_IDENTIFIER, 0, 0}}},
    {"x += y %= z", {{"x", TOKEN_IDENTIFIER, 0, 0}, {"+=", TOKEN_BINARY_OPERATOR, 0x2000008, 0}, {"y", TOKEN_IDENTIFIER, 0, 0}, {"%=", TOKEN_BINARY_OPERATOR, 0x2000080, 0}, {"z", TOKEN_IDENTIFIER, 0, 0}}},
};

TEST(Compiler_Lexer, TokensHaveTheirKindsCodesAndPriorities) {
    for (const Lexer_Case &c : LEXER_CASES) {
        Lexed l = lex(c.input);
        ASSERT_TRUE(l.ok) << c.input;
        ASSERT_EQ(l.tokens.size(), c.tokens.size()) << c.input;
        for (size_t i = 0; i < c.tokens.size(); i++) {
            Token *t = l.tokens[i];
            const Expected_Token &e = c.tokens[i];
            EXPECT_EQ(std::string((const char *)t->text, (size_t)t->length), e.text) << c.input << " token " << i;
            EXPECT_EQ(t->kind, e.kind) << c.input << " token " << i;
            if (t->kind & (TOKEN_OPERATOR | TOKEN_AT)) {
                EXPECT_EQ(t->op, e.op) << c.input << " token " << i;
                EXPECT_EQ(t->priority, e.priority) << c.input << " token " << i;
            }
        }
    }
}

TEST(Compiler_Lexer, BracketsAndColonsArePaired) {
    Lexed l = lex("$S: #struct { a: u8; b: (u32); };");
    ASSERT_TRUE(l.ok);
    Token *colon = l.tokens[2];
    ASSERT_TRUE(colon->kind & TOKEN_COLON);
    // The struct's ':' ends at the last ';', not at the members' ones.
    EXPECT_EQ(colon->partner, l.tokens.back());
    Token *brace = l.tokens[4];
    ASSERT_TRUE(brace->kind & TOKEN_OPEN_BRACE);
    EXPECT_EQ(brace->partner, l.tokens[l.tokens.size() - 2]);
    EXPECT_EQ(brace->partner->partner, brace);
    Token *member_colon = l.tokens[6];
    EXPECT_EQ(member_colon->partner, l.tokens[8]);
}

TEST(Compiler_Lexer, LinesAreCountedForEveryLineEnding) {
    Lexed l = lex("a\r\nb\rc\nd /* x\ny */ e \"s\nt\" f");
    ASSERT_TRUE(l.ok);
    std::vector<u32> lines;
    for (Token *t : l.tokens) lines.push_back(t->location.line);
    EXPECT_EQ(lines, (std::vector<u32>{1, 2, 3, 4, 5, 5, 6}));
}

TEST(Compiler_Lexer, SeventeenNestedBracketsOfOneKindFail) {
    EXPECT_TRUE(lex(std::string(16, '[') + std::string(16, ']')).ok);
    EXPECT_FALSE(lex(std::string(17, '[') + std::string(17, ']')).ok);
    // Sixteen of each kind at once is fine: the limit is per kind.
    EXPECT_TRUE(lex(std::string(16, '(') + std::string(16, '[') + std::string(16, ']') + std::string(16, ')')).ok);
}

TEST(Compiler_Lexer, OperatorNamesForMessages) {
    const std::pair<u64, const char *> names[] = {{OP_ADD, "+"}, {OP_ROTATE_LEFT, "<<<"}, {OP_LOGICAL_OR, "||"},
                                                  {OP_ASSIGN | OP_SHIFT_RIGHT, ">>="}, {0x40000000, "INVALID OPERATOR"}};
    for (auto &n : names) EXPECT_STREQ(operator_to_c_string(n.first), n.second);
    EXPECT_EQ(get_opposite_condition_operator(OP_LESS), (u64)OP_GREATER_OR_EQUAL);
    EXPECT_EQ(get_opposite_condition_operator(OP_ADD), (u64)OP_ADD);
}

struct Number_Case {
    const char *text;
    bool ok;
    u64 value;
};

TEST(Compiler_Constants, IntegerTextsAndTheirSizes) {
    const Number_Case cases[] = {{"1_000_000", true, 1000000}, {"0xff", true, 255}, {"0xFF", true, 255}, {"0b101", true, 5},
                                 {"-0x10", true, (u64)-16}, {"0x", true, 0}, {"12abc", false, 0}, {"0b102", false, 0}};
    for (const Number_Case &c : cases) {
        bool ok;
        u64 v = string_to_s64(S(c.text), &ok);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    EXPECT_EQ(integer_size_for_magnitude(255), 1u);
    EXPECT_EQ(integer_size_for_magnitude(256), 2u);
    EXPECT_EQ(integer_size_for_magnitude(1000000), 4u);
    EXPECT_EQ(integer_size_for_magnitude(0x100000000ull), 8u);
}

TEST(Compiler_Constants, IdenticalStringsShareTheirBytes) {
    compile_text("");
    u64 a = get_existing_string_constant_data(S("hello"));
    u64 b = get_existing_string_constant_data(S("other"));
    u64 c = get_existing_string_constant_data(S("hello"));
    EXPECT_EQ(a, c);
    EXPECT_NE(a, b);
    String escaped = get_real_string(S("a\\tb"));
    EXPECT_EQ(std::string((const char *)escaped.data, (size_t)escaped.count), "a\tb");
}
