// The editor tokeniser: forward cases, backward scanning against the forward
// scan, token-at-offset, hints by extension, and token-array walks.
#include "text_test_util.h"
#include "text/tokeniser.h"
#include <random>
#include <vector>

struct Tok {
    std::string text;
    u16 type;
    bool operator==(const Tok &o) const { return text == o.text && type == o.type; }
};
static std::ostream &operator<<(std::ostream &os, const Tok &t) { return os << "{" << testing::PrintToString(t.text) << "," << t.type << "}"; }

static std::vector<Tok> forward(const std::string &t, const Tokenisation_Hint *hint = nullptr) {
    std::vector<Tok> out;
    Editor_Token token;
    u64 at = 0;
    for (s64 next; (next = tokenise_next((const u8 *)t.data(), t.size(), at, hint, &token)) >= 0; at = (u64)next)
        out.push_back({t.substr(token.offset, token.length), token.type});
    return out;
}

TEST(Tokeniser, ForwardCases) {
    struct Case {
        std::string text;
        std::vector<Tok> tokens;
    } cases[] = {
        {"a+=1", {{"a", TOKEN_WORD}, {"+=", TOKEN_OPERATOR}, {"1", TOKEN_NUMBER}}},
        {"x.5", {{"x", TOKEN_WORD}, {".", TOKEN_PUNCTUATION}, {"5", TOKEN_NUMBER}}},
        {" .5", {{".5", TOKEN_NUMBER}}},
        {".5", {{".5", TOKEN_NUMBER}}},
        {"1..10", {{"1", TOKEN_NUMBER}, {".", TOKEN_PUNCTUATION}, {".", TOKEN_PUNCTUATION}, {"10", TOKEN_NUMBER}}},
        {"->", {{"->", TOKEN_PUNCTUATION}}},
        {"<<<= >>>=", {{"<<<=", TOKEN_OPERATOR}, {">>>=", TOKEN_OPERATOR}}},
        {"0x1F 1.5e3 10_000", {{"0x1F", TOKEN_NUMBER}, {"1.5e3", TOKEN_NUMBER}, {"10_000", TOKEN_NUMBER}}},
        {"a-1", {{"a", TOKEN_WORD}, {"-1", TOKEN_NUMBER}}},
        {"a - b", {{"a", TOKEN_WORD}, {"-", TOKEN_OPERATOR}, {"b", TOKEN_WORD}}},
        {"x\r\ny\rz\n", {{"x", TOKEN_WORD}, {"\r\n", TOKEN_NEW_LINE}, {"y", TOKEN_WORD}, {"\r", TOKEN_NEW_LINE},
                         {"z", TOKEN_WORD}, {"\n", TOKEN_NEW_LINE}}},
        {"f(a[0]){}", {{"f", TOKEN_WORD}, {"(", TOKEN_OPEN_BRACKET}, {"a", TOKEN_WORD}, {"[", TOKEN_OPEN_BRACKET},
                       {"0", TOKEN_NUMBER}, {"]", TOKEN_CLOSE_BRACKET}, {")", TOKEN_CLOSE_BRACKET},
                       {"{", TOKEN_OPEN_BRACKET}, {"}", TOKEN_CLOSE_BRACKET}}},
        {"a&&b||!c", {{"a", TOKEN_WORD}, {"&&", TOKEN_COMPARISON}, {"b", TOKEN_WORD}, {"||", TOKEN_COMPARISON},
                      {"!", TOKEN_COMPARISON}, {"c", TOKEN_WORD}}},
        {"\"s\" 'c' `b`", {{"\"", TOKEN_DOUBLE_QUOTE}, {"s", TOKEN_WORD}, {"\"", TOKEN_DOUBLE_QUOTE},
                           {"'", TOKEN_SINGLE_QUOTE}, {"c", TOKEN_WORD}, {"'", TOKEN_SINGLE_QUOTE},
                           {"`", TOKEN_BACK_QUOTE}, {"b", TOKEN_WORD}, {"`", TOKEN_BACK_QUOTE}}},
        {"x::y:=z=>w<-v", {{"x", TOKEN_WORD}, {"::", TOKEN_PUNCTUATION}, {"y", TOKEN_WORD}, {":=", TOKEN_PUNCTUATION},
                           {"z", TOKEN_WORD}, {"=>", TOKEN_PUNCTUATION}, {"w", TOKEN_WORD}, {"<-", TOKEN_PUNCTUATION},
                           {"v", TOKEN_WORD}}},
        {"#$@\\;,", {{"#", TOKEN_PUNCTUATION}, {"$", TOKEN_PUNCTUATION}, {"@", TOKEN_PUNCTUATION},
                     {"\\", TOKEN_PUNCTUATION}, {";", TOKEN_PUNCTUATION}, {",", TOKEN_PUNCTUATION}}},
        // '_' and every byte from 127 up (also broken UTF-8) are word bytes.
        {"_ab \xC3\xA9t\xC3\xA9 \xff\x80x", {{"_ab", TOKEN_WORD}, {"\xC3\xA9t\xC3\xA9", TOKEN_WORD}, {"\xff\x80x", TOKEN_WORD}}},
        {std::string("a\0b", 3), {{std::string("a\0b", 3), TOKEN_WORD}}},
        {"   \t  ", {}},
        {"", {}},
    };
    for (const Case &c : cases) EXPECT_EQ(forward(c.text), c.tokens) << testing::PrintToString(c.text);
}

TEST(Tokeniser, NextTokenEnds) {
    std::string t = "ab   ";
    Editor_Token token;
    EXPECT_EQ(tokenise_next((const u8 *)t.data(), t.size(), 0, nullptr, &token), 2);
    EXPECT_EQ(tokenise_next((const u8 *)t.data(), t.size(), 3, nullptr, &token), -1); // inside trailing spaces
    EXPECT_EQ(token.type, TOKEN_NONE);
    EXPECT_EQ(tokenise_next((const u8 *)t.data(), t.size(), 9, nullptr, &token), -1);
}

struct Hints : Text_Test {
    Tokenisation_Hint *c_like = nullptr;
    void SetUp() override {
        Text_Test::SetUp();
        String c_extensions[] = {S("cpp"), S("h")};
        Tokenisation_Hint_Description d = {c_extensions, 2, S("//"), S("/*"), S("*/"), TOKEN_DOUBLE_QUOTE | TOKEN_SINGLE_QUOTE};
        c_like = add_a_tokenisation_hint_from(&d);
        String py[] = {S("py")};
        Tokenisation_Hint_Description p = {py, 1, S("#"), S(""), S(""), TOKEN_DOUBLE_QUOTE};
        add_a_tokenisation_hint_from(&p);
    }
};

TEST_F(Hints, ChosenByLowerCasedExtension) {
    struct Case {
        const char *name;
        const char *single_line; // null: no hint
    } cases[] = {{"Main.CPP", "//"}, {"x.h", "//"}, {"a.b.py", "#"}, {"py", nullptr}, {"a.txt", nullptr}, {"a.", nullptr}};
    for (const Case &c : cases) {
        File *f = add_a_file();
        file_set_name(f, S(c.name));
        const Tokenisation_Hint *hint = file_tokenisation_hint(f);
        if (!c.single_line) {
            EXPECT_EQ(hint, nullptr) << c.name;
        } else {
            ASSERT_NE(hint, nullptr) << c.name;
            EXPECT_EQ(to_std(hint->single_line_comment), c.single_line) << c.name;
        }
    }
}

TEST_F(Hints, MarkersBecomeTokens) {
    const Tokenisation_Hint *hint = dynamic_array_at<Tokenisation_Hint>(&tokenisation_hints, 0);
    EXPECT_EQ(forward("a/*b*/c//d/e", hint),
              (std::vector<Tok>{{"a", TOKEN_WORD}, {"/*", TOKEN_BLOCK_COMMENT_START}, {"b", TOKEN_WORD},
                                {"*/", TOKEN_BLOCK_COMMENT_END}, {"c", TOKEN_WORD}, {"//", TOKEN_SINGLE_LINE_COMMENT},
                                {"d", TOKEN_WORD}, {"/", TOKEN_OPERATOR}, {"e", TOKEN_WORD}}));
    // Without the hint the same bytes are operators.
    EXPECT_EQ(forward("/*", nullptr), (std::vector<Tok>{{"/", TOKEN_OPERATOR}, {"*", TOKEN_OPERATOR}}));
    // A hint added later is seen by files that cached the old lookup.
    File *f = open_text("-- x", "q.lua");
    Editor_Token token;
    editor_get_next_token(f, 0, &token);
    EXPECT_EQ(token.type, TOKEN_OPERATOR);
    String lua[] = {S("lua")};
    Tokenisation_Hint_Description d = {lua, 1, S("--"), S(""), S(""), 0};
    add_a_tokenisation_hint_from(&d);
    editor_get_next_token(f, 0, &token);
    EXPECT_EQ(token.type, TOKEN_SINGLE_LINE_COMMENT);
}

// Walking backwards from the end must meet exactly the forward tokens in
// reverse, on random texts mixing every token kind and all line endings.
TEST(Tokeniser, BackwardScanMatchesForward) {
    Tokenisation_Hint hint = {};
    hint.single_line_comment = S("//");
    hint.block_comment_start = S("/*");
    hint.block_comment_end = S("*/");
    // Markers made of bytes that are otherwise a token of their own.
    Tokenisation_Hint bracket_hint = {};
    bracket_hint.single_line_comment = S(";;");
    bracket_hint.block_comment_start = S("{-");
    bracket_hint.block_comment_end = S("-}");
    const char *pieces[] = {"a", "bc", "1", ".", "..", "+", "-", "=", ">", "<", "/", "*", "\"", "'", "(", ")", " ",
                            "  ", "\t", "\r", "\n", "\r\n", "\xC3\xA9", "_", "x1", "9.5", "->", ":", ",", ";",
                            "{", "}", "[", "#", "~", "?"};
    std::mt19937 rng(77);
    for (int round = 0; round < 2000; round++) {
        std::string t;
        int n = (int)(rng() % 30);
        if (round % 5 == 4) {
            for (int i = 0; i < n; i++) t += (char)(rng() % 256); // raw binary
        } else {
            for (int i = 0; i < n; i++) t += pieces[rng() % ARRAY_COUNT(pieces)];
        }
        const Tokenisation_Hint *h = round % 3 == 1 ? &hint : round % 3 == 2 ? &bracket_hint : nullptr;
        std::vector<Tok> fw = forward(t, h);
        std::vector<Tok> bw;
        Editor_Token token;
        u64 at = t.size();
        for (s64 start; (start = tokenise_previous((const u8 *)t.data(), t.size(), at, h, &token)) >= 0; at = (u64)start)
            bw.insert(bw.begin(), {t.substr(token.offset, token.length), token.type});
        ASSERT_EQ(bw, fw) << testing::PrintToString(t);
        // From any offset, the previous token is the last forward token that
        // ends at or before it (also from the middle of a CR LF).
        std::vector<Editor_Token> fw_tokens;
        for (s64 next, from = 0; (next = tokenise_next((const u8 *)t.data(), t.size(), (u64)from, h, &token)) >= 0; from = next)
            fw_tokens.push_back(token);
        for (u64 o = 0; o <= t.size(); o++) {
            s64 expected = -1;
            for (const Editor_Token &e : fw_tokens)
                if (e.offset + e.length <= o) expected = (s64)e.offset;
            ASSERT_EQ(tokenise_previous((const u8 *)t.data(), t.size(), o, h, &token), expected)
                << testing::PrintToString(t) << " @" << o;
            // The token at an offset: the one starting there, else the one
            // holding the byte before it.
            s64 at_expected = -1;
            for (const Editor_Token &e : fw_tokens) {
                if (e.offset == o) at_expected = (s64)e.offset;
                else if (at_expected < 0 && e.offset < o && o <= e.offset + e.length) at_expected = (s64)e.offset;
            }
            ASSERT_EQ(tokenise_at((const u8 *)t.data(), t.size(), o, h, &token), at_expected)
                << testing::PrintToString(t) << " @" << o;
        }
        // Every offset inside a token finds that token.
        u64 covered = 0;
        for (const Tok &tok : fw) {
            covered = t.find(tok.text, covered);
            for (u64 o = covered + 1; o < covered + tok.text.size(); o++) {
                ASSERT_GE(tokenise_at((const u8 *)t.data(), t.size(), o, h, &token), 0);
                ASSERT_EQ(token.offset, covered) << testing::PrintToString(t) << " @" << o;
            }
            covered += tok.text.size();
        }
    }
}

TEST(Tokeniser, TokenAtOffset) {
    std::string t = "ab(cd)  ef\r\nx";
    struct Case {
        u64 offset;
        const char *token; // null: none
    } cases[] = {
        {0, "ab"}, {1, "ab"}, {2, "("}, {3, "cd"}, {4, "cd"}, {5, ")"}, {6, ")"}, {7, nullptr},
        {8, "ef"}, {9, "ef"}, {10, "\r\n"}, {11, "\r\n"}, {12, "x"}, {13, "x"},
    };
    for (const Case &c : cases) {
        Editor_Token token;
        s64 r = tokenise_at((const u8 *)t.data(), t.size(), c.offset, nullptr, &token);
        if (!c.token) {
            EXPECT_EQ(r, -1) << c.offset;
            EXPECT_EQ(token.type, TOKEN_NONE);
        } else {
            ASSERT_GE(r, 0) << c.offset;
            EXPECT_EQ(t.substr(token.offset, token.length), c.token) << c.offset;
        }
    }
    // Before indentation: the line break that ends there.
    std::string indented = "a\n  b";
    Editor_Token token;
    EXPECT_EQ(tokenise_at((const u8 *)indented.data(), indented.size(), 2, nullptr, &token), 1);
    EXPECT_EQ(token.type, TOKEN_NEW_LINE);
    EXPECT_EQ(tokenise_at((const u8 *)indented.data(), indented.size(), 3, nullptr, &token), -1);
}

TEST(Tokeniser, TokenArrayWalks) {
    std::string t = "f(a, g[b], {c}) x";
    std::vector<Editor_Token> tokens;
    Editor_Token token;
    u64 at = 0;
    for (s64 next; (next = tokenise_next((const u8 *)t.data(), t.size(), at, nullptr, &token)) >= 0; at = (u64)next)
        tokens.push_back(token);
    Editor_Token *first = tokens.data();
    auto text_at = [&](Editor_Token *tok) { return tok ? t.substr(tok->offset, tok->length) : std::string("none"); };
    // From "c": the enclosing '{'; from ", " after "]": the '(' (the [ ] pair is skipped).
    EXPECT_EQ(text_at(get_scope_token(&tokens[11], first)), "{");
    EXPECT_EQ(text_at(get_scope_token(&tokens[9], first)), "(");
    EXPECT_EQ(get_scope_token(&tokens[tokens.size() - 1], first), nullptr);
    EXPECT_EQ(text_at(get_first_editor_token_like(&tokens[8], TOKEN_OPEN_BRACKET, first)), "[");
    EXPECT_EQ(text_at(get_first_editor_token_like(&tokens[8], TOKEN_CLOSE_BRACKET, first)), "]");
    EXPECT_EQ(get_first_editor_token_like(&tokens[3], TOKEN_NUMBER, first), nullptr);
}

TEST_F(Hints, OverlongHintStringIsLeftOutWithAMessage) {
    std::string huge(20000, '#');
    String ext[] = {S("big")};
    Tokenisation_Hint_Description d = {ext, 1, S(huge.c_str()), S("/*"), S("*/"), 0};
    Tokenisation_Hint *hint = add_a_tokenisation_hint_from(&d);
    EXPECT_EQ(hint->single_line_comment.count, 0);
    EXPECT_EQ(to_std(hint->block_comment_start), "/*");
    EXPECT_NE(to_std(editor_last_error()).find("longer than"), std::string::npos);
    // Many small strings spill into further buckets without moving earlier ones.
    const Tokenisation_Hint *first = dynamic_array_at<Tokenisation_Hint>(&tokenisation_hints, 0);
    const u8 *kept = first->single_line_comment.data;
    std::string word(1000, 'w');
    for (int i = 0; i < 40; i++) {
        String e[] = {S(word.c_str())};
        Tokenisation_Hint_Description many = {e, 1, S(""), S(""), S(""), 0};
        add_a_tokenisation_hint_from(&many);
    }
    first = dynamic_array_at<Tokenisation_Hint>(&tokenisation_hints, 0);
    EXPECT_EQ(first->single_line_comment.data, kept);
    EXPECT_EQ(to_std(first->single_line_comment), "//");
    File *f = add_a_file();
    file_set_name(f, S("x.CPP"));
    EXPECT_EQ(file_tokenisation_hint(f), first);
}
