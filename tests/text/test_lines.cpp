// Line and offset helpers against hand-made cases and a naive reference.
#include "text_test_util.h"
#include "text/lines.h"
#include <random>
#include <vector>

// Reference: the offsets at which each line starts, byte by byte.
static std::vector<u64> naive_line_starts(const std::string &t) {
    std::vector<u64> starts = {0};
    for (size_t i = 0; i < t.size(); i++) {
        if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') {
            starts.push_back(i + 2);
            i++;
        } else if (t[i] == '\r' || t[i] == '\n') {
            starts.push_back(i + 1);
        }
    }
    return starts;
}

static const u8 *bytes_of(const std::string &s) { return (const u8 *)s.data(); }

TEST(Lines, CountAndOffsetCases) {
    struct Case {
        std::string text;
        u64 lines;
        u64 line;
        u64 offset;
    } cases[] = {
        {"", 1, 1, 0},
        {"a\r\nb", 2, 2, 3},
        {"a\rb\nx", 3, 3, 4},
        {"a\n", 2, 2, 2},
        {"ab\r\nxy", 2, 2, 4},
        {"ab\r\nxy", 2, 1, 0},
        {"a\r", 2, 2, 2},
        {"\n\n\n", 4, 4, 3},
        {"abc", 1, 5, 3},  // past the last line: the length
        {"\r\r\n\n", 4, 3, 3},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(count_lines_in(bytes_of(c.text), c.text.size()), c.lines) << testing::PrintToString(c.text);
        EXPECT_EQ(get_offset_at_line(bytes_of(c.text), c.text.size(), c.line), c.offset) << testing::PrintToString(c.text);
    }
}

TEST(Lines, StartEndAndWhitespace) {
    std::string t = "ab\r\n  \tcd  \nx";
    const u8 *p = bytes_of(t);
    EXPECT_EQ(get_line_start(p, 0), 0u);
    EXPECT_EQ(get_line_start(p, 7), 4u);
    EXPECT_EQ(get_line_end(p, t.size(), 4), 11u);
    EXPECT_EQ(get_line_end(p, t.size(), 12), t.size()); // last line
    EXPECT_EQ(get_line_end(p, t.size(), 2), 2u);        // at the CR itself
    EXPECT_EQ(to_std(get_whitespace_from(4, p, t.size())), "  \t");
    EXPECT_EQ(to_std(get_whitespace_from(7, p, t.size())), "");
}

struct Lines_File : Text_Test {};

TEST_F(Lines_File, LineAtOffsetTextAtAndWhitespaceAround) {
    File *f = open_text("one\r\ntwo  \t three\rfour\n");
    EXPECT_EQ(editor_get_line_at_offset(f, 0), 1u);
    EXPECT_EQ(editor_get_line_at_offset(f, 3), 1u);  // on the CR
    EXPECT_EQ(editor_get_line_at_offset(f, 4), 1u);  // inside CR LF
    EXPECT_EQ(editor_get_line_at_offset(f, 5), 2u);
    EXPECT_EQ(editor_get_line_at_offset(f, 18), 3u);
    EXPECT_EQ(editor_get_line_at_offset(f, file_length(f)), 4u);
    EXPECT_EQ(to_std(get_whitespace_at(f, 10)), "  \t ");
    u8 *copy = editor_get_text_at(f, 5, 3);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::string((char *)copy, 3), "two");
    EXPECT_EQ(editor_get_text_at(f, file_length(f) - 2, 2), nullptr); // reaches the end
    EXPECT_EQ(get_offset_at_line_from_file(nullptr, 3), 18u);          // null: the current file
}

// Random texts full of CR, LF, CR LF and multi-byte characters, with breaks
// landing on 32-byte block edges, against the reference.
static void check_random_texts_against_reference() {
    std::mt19937 rng(1234);
    const char *pieces[] = {"\r", "\n", "\r\n", "a", "bc", " ", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\t", "\0"};
    for (int round = 0; round < 3000; round++) {
        std::string t;
        size_t target = rng() % 200;
        while (t.size() < target) {
            const char *piece = pieces[rng() % ARRAY_COUNT(pieces)];
            t.append(piece, piece[0] ? strlen(piece) : 1);
        }
        std::vector<u64> starts = naive_line_starts(t);
        const u8 *p = bytes_of(t);
        ASSERT_EQ(count_lines_in(p, t.size()), starts.size()) << testing::PrintToString(t);
        for (u64 line = 1; line <= starts.size() + 1; line++) {
            u64 expected = line <= starts.size() ? starts[line - 1] : t.size();
            ASSERT_EQ(get_offset_at_line(p, t.size(), line), expected) << "line " << line << " of " << testing::PrintToString(t);
        }
        for (u64 o = 0; o <= t.size(); o++) {
            u64 naive_start = o;
            while (naive_start > 0 && t[naive_start - 1] != '\r' && t[naive_start - 1] != '\n') naive_start--;
            ASSERT_EQ(get_line_start(p, o), naive_start);
            u64 naive_end = o;
            while (naive_end < t.size() && t[naive_end] != '\r' && t[naive_end] != '\n') naive_end++;
            ASSERT_EQ(get_line_end(p, t.size(), o), naive_end);
        }
    }
}

// The block scanner must treat a CR at the end of one block and an LF at
// the start of the next as one break.
static void check_cr_lf_across_block_edges() {
    for (size_t at = 28; at < 100; at++) {
        std::string t(at, 'x');
        t += "\r\n";
        t += std::string(70, 'y');
        t += "\r";
        EXPECT_EQ(count_lines_in(bytes_of(t), t.size()), 3u) << at;
        EXPECT_EQ(get_offset_at_line(bytes_of(t), t.size(), 2), at + 2) << at;
        EXPECT_EQ(get_offset_at_line(bytes_of(t), t.size(), 3), t.size()) << at;
    }
}

// Both the AVX2 and the SSE2 scanner.
TEST(Lines, AgreeWithNaiveReference) {
    for (bool avx2 : {true, false}) {
        lines_allow_avx2(avx2);
        check_random_texts_against_reference();
        check_cr_lf_across_block_edges();
    }
    lines_allow_avx2(true);
}

// A text big enough to be counted in parts, with a CR LF across every place
// a part may end (for two, three or four parts) and lone CRs and LFs around.
TEST(Lines, BigTextCountedInPartsMatchesTheReference) {
    u64 length = LINES_PARALLEL_FROM + 12345;
    std::string text(length, 'a');
    std::mt19937 random(7);
    for (int i = 0; i < 200000; i++) text[random() % length] = "\r\n\r\n x"[random() % 6];
    for (u64 n = 2; n <= LINES_MAX_COUNTERS; n++)
        for (u64 i = 1; i < n; i++) {
            u64 b = i * (length / n);
            text[b - 1] = '\r';
            text[b] = '\n';
        }
    u64 expected = naive_line_starts(text).size();
    EXPECT_EQ(count_lines_in(bytes_of(text), length), expected);
    // The same text with the CRs at the part ends left alone: lone CRs.
    for (u64 n = 2; n <= LINES_MAX_COUNTERS; n++)
        for (u64 i = 1; i < n; i++) text[i * (length / n)] = 'b';
    EXPECT_EQ(count_lines_in(bytes_of(text), length), naive_line_starts(text).size());
}
