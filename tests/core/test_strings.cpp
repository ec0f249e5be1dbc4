// Formatting, case, UTF-8/16/32, natural ordering and full paths.
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>
#include "core/strings.h"
#include "../test_util.h"

static std::string str(String s) { return std::string((const char *)s.data, (size_t)(s.count > 0 ? s.count : 0)); }

TEST(Strings, Concat2ReplacesEachPercentWithAString) {
    EXPECT_EQ(str(string_concat2("a%b%", S("X"), S("YZ"))), "aXbYZ");
    EXPECT_EQ(str(string_concat2("no placeholders")), "no placeholders");
    EXPECT_EQ(str(string_concat2("[%]", String{})), "[]");
    EXPECT_EQ(str(string_concat2("%%%", S("1"), S(""), S("333"))), "1333");
    EXPECT_EQ(string_concat2("").count, 0);
    // The result is exactly as long as the bytes it holds: no stray NUL counted.
    String s = string_concat2("Directory '%' does not seem to exist.", S("/x"));
    EXPECT_EQ(s.count, (s64)strlen("Directory '/x' does not seem to exist."));
}

TEST(Strings, PrintfWrappersUseTheEngineExtensions) {
    EXPECT_EQ(str(tstring("%'d", 1234567)), "1,234,567");
    EXPECT_STREQ(tcstring("%s-%d", "ab", 7), "ab-7");
    EXPECT_EQ(str(tstring_big(-9876543210LL)), "-9876543210");
    EXPECT_EQ(str(tstring_grouped(INT64_MIN)), "-9,223,372,036,854,775,808");
    EXPECT_EQ(str(tstring_grouped(INT64_MAX)), "9,223,372,036,854,775,807");
    EXPECT_EQ(str(tstring_grouped(-999)), "-999");
    // Over-long output is cut to the budget instead of overrunning it.
    std::string long_text(100, 'x');
    String small = tstring_small("%s", long_text.c_str());
    EXPECT_EQ(small.count, 31);
    EXPECT_EQ(strlen(tcstring_small("%s", long_text.c_str())), 63u);
    char buffer[8];
    EXPECT_EQ(format_into(buffer, sizeof(buffer), "%d", 123456789), 7);
    EXPECT_STREQ(buffer, "1234567");
}

TEST(Strings, MoneyAndSizeHelpers) {
    struct Case { s64 amount; bool is_signed; const char *expected; };
    const Case cases[] = {
        {1500, false, "$1.5B"}, {999, true, "$+999M"}, {-1500, false, "$-1.5B"},
        {0, false, "$0M"},      {1000, false, "$1.0B"}, {-999, true, "$-999M"},
        {2500000, false, "$2,500.0B"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(str(money_to_string(c.amount, c.is_signed)), c.expected) << c.amount;
    }
    // The extremes of the amount still print as signed billions.
    for (s64 extreme : {INT64_MIN, INT64_MAX}) {
        std::string text = str(money_to_string(extreme, true));
        EXPECT_EQ(text.rfind(extreme < 0 ? "$-9,223,37" : "$+9,223,37", 0), 0u) << text;
        EXPECT_EQ(text.back(), 'B') << text;
    }
    // The C-text variant compares without taking the absolute value.
    EXPECT_STREQ(money_to_c_string(-1500, false), "$-1,500M");
    EXPECT_STREQ(money_to_c_string(1500, true), "$+1.5B");

    EXPECT_STREQ(size_to_c_string(1), "1 byte");
    EXPECT_STREQ(size_to_c_string(0), "0 bytes");
    EXPECT_STREQ(size_to_c_string(4096), "4096 bytes");
}

TEST(Strings, CaseAndSearch) {
    // Ä is C3 84: multi-byte sequences stay as they are.
    EXPECT_EQ(str(string_to_lower_case(S("\xC3\x84" "B"))), "\xC3\x84" "b");
    EXPECT_EQ(str(string_to_lower_case(S("AZaz@[09"))), "azaz@[09");
    EXPECT_EQ(string_to_lower_case(String{}).count, 0);

    const u8 *text = (const u8 *)"hello";
    EXPECT_TRUE(string_contains_character(text, 5, 'l'));
    EXPECT_FALSE(string_contains_character(text, 2, 'l'));
    EXPECT_EQ(get_first_character_in_string_like(text, 5, 'l'), text + 2);
    EXPECT_EQ(get_first_character_in_string_like(text, 0, 'h'), nullptr);

    EXPECT_TRUE(string_is_empty(String{}));
    EXPECT_TRUE(string_is_empty(S(" \t \t")));
    EXPECT_FALSE(string_is_empty(S(" \t x")));
    EXPECT_FALSE(string_is_empty(S("\n")));

    EXPECT_TRUE(string_starts_with(S("custom.8"), S("custom")));
    EXPECT_FALSE(string_starts_with(S("cu"), S("custom")));
    EXPECT_TRUE(string_ends_with(S("custom.8"), S(".8")));
    EXPECT_FALSE(string_ends_with(S("custom.8b"), S(".8")));
}

TEST(Utf8, SteppingCountsAndSubStrings) {
    // a, é (2), € (3), 😀 (4)
    String s = S("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8_get_num_characters(s), 4);
    struct Case { s64 n; s64 offset; };
    const Case cases[] = {{0, 0}, {1, 1}, {2, 3}, {3, 6}, {4, 10}, {5, 10}, {100, 10}};
    for (const Case &c : cases) {
        EXPECT_EQ(utf8_string_get_offset_at(s, c.n), c.offset) << c.n;
        EXPECT_EQ(get_utf8_sub_string(s, c.n).count, c.offset) << c.n;
    }
    const u8 *end = s.data + s.count;
    EXPECT_EQ(utf8_get_next_character(s.data + 6, end), end);
    EXPECT_EQ(utf8_get_next_character(end, end), end);
    EXPECT_EQ(utf8_get_previous_character(end, s.data), s.data + 6);
    EXPECT_EQ(utf8_get_previous_character(s.data + 3, s.data), s.data + 1);
    EXPECT_EQ(utf8_get_previous_character(s.data, s.data), s.data);

    // A lead byte promising more than the text holds never steps past the end.
    u8 cut[] = {'x', 0xF0, 0x9F};
    EXPECT_EQ(utf8_get_next_character(cut + 1, cut + 3), cut + 3);
    EXPECT_EQ(utf8_string_get_offset_at(String{cut, 3}, 5), 3);

    u8 stray[] = {0x61, 0x80, 0x62};
    EXPECT_EQ(utf8_get_num_characters(String{stray, 3}), 2);
    EXPECT_EQ(utf8_get_num_characters(String{}), 0);
}

TEST(Utf8, SingleCodePoints) {
    struct Case { std::vector<u8> bytes; u32 cp; u32 size; };
    const Case cases[] = {
        {{0x41}, 0x41, 1},
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
        {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4},
        {{0x80}, REPLACEMENT_CHARACTER, 1},
        {{0xFF}, REPLACEMENT_CHARACTER, 1},
        {{0xF8}, REPLACEMENT_CHARACTER, 1},
    };
    for (const Case &c : cases) {
        u32 size = 0;
        EXPECT_EQ(utf8_to_utf32_codepoint_and_size(c.bytes.data(), &size), c.cp);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(utf8_to_utf32_codepoint(c.bytes.data()), c.cp);
        if (c.cp != REPLACEMENT_CHARACTER) {
            // Encoding gives the same bytes back.
            String back = codepoint_to_string(c.cp);
            EXPECT_EQ(std::vector<u8>(back.data, back.data + back.count), c.bytes);
        }
    }
    // Boundaries of each encoded length.
    const std::pair<u32, s64> lengths[] = {{0x7F, 1}, {0x80, 2}, {0x7FF, 2}, {0x800, 3}, {0xFFFF, 3}, {0x10000, 4}, {0x10FFFF, 4}};
    for (auto [cp, n] : lengths) {
        String e = utf32_to_utf8_codepoint(cp);
        EXPECT_EQ(e.count, n) << cp;
        u32 size;
        EXPECT_EQ(utf8_to_utf32_codepoint_and_size(e.data, &size), cp);
    }
    u8 buffer[16];
    String s{buffer, 0};
    string_add_codepoint(&s, 'a');
    string_add_codepoint(&s, 0x20AC);
    EXPECT_EQ(str(s), "a\xE2\x82\xAC");
}

TEST(Utf8, BulkDecodeFallsBackToEightBit) {
    u32 out[16];
    EXPECT_EQ(utf8_to_utf32(S("a\xC3\xA9"), out), 8);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[1], 0xE9u);
    // From the first bad byte on, each byte is its own code point.
    u8 bad[] = {'a', 0x80, 0xC3, 0xA9};
    EXPECT_EQ(utf8_to_utf32(String{bad, 4}, out), 16);
    EXPECT_EQ(out[1], 0x80u);
    EXPECT_EQ(out[2], 0xC3u);
    EXPECT_EQ(out[3], 0xA9u);
    // A sequence cut by the end of the text is not read past the end.
    u8 cut[] = {'b', 0xE2, 0x82};
    EXPECT_EQ(utf8_to_utf32(String{cut, 3}, out), 12);
    EXPECT_EQ(out[1], 0xE2u);
}

TEST(Utf16, RoundTripsAndSurrogates) {
    String text = S("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    String_Utf16 w = utf8_to_utf16(text);
    ASSERT_EQ(w.count, 5);
    EXPECT_EQ(w.data[3], 0xD83D);
    EXPECT_EQ(w.data[4], 0xDE00);
    EXPECT_EQ(w.data[5], 0);
    EXPECT_EQ(get_utf16_c_string_size(w.data), 5);
    EXPECT_EQ(str(utf16_to_utf8(w)), str(text));
    EXPECT_STREQ(utf16_to_c_string(string_to_utf16_c_string(text)), str(text).c_str());
    EXPECT_EQ(str(from_c_tstring_utf16(w.data)), str(text));

    u32 units = 0;
    EXPECT_EQ(utf16_to_utf32_codepoint(w.data + 3, &units), 0x1F600u);
    EXPECT_EQ(units, 2u);
    // Lone surrogates decode to the replacement character.
    u16 lone[] = {0xDC00, 'x', 0xD800};
    EXPECT_EQ(str(utf16_to_utf8(String_Utf16{lone, 3})), "\xEF\xBF\xBDx\xEF\xBF\xBD");

    u16 buffer[4];
    copy_as_c_string_utf16(S("ab\xF0\x9F\x98\x80"), buffer, 4);
    // Only 3 units fit before the NUL: the pair is dropped whole, not split.
    EXPECT_EQ(get_utf16_c_string_size(buffer), 2);

    u16 room[8] = {};
    String_Utf16 built{room, 0};
    string_add_utf16(&built, 'z');
    string_add_utf16(&built, 0x1F600);
    EXPECT_EQ(built.count, 3);
    String_Utf16 both = tconcat_utf16(built, get_utf16_c_string_view(w.data));
    EXPECT_EQ(both.count, 8);
    EXPECT_EQ(both.data[8], 0);
    EXPECT_EQ(str(utf16_to_utf8(both)), "z\xF0\x9F\x98\x80" + str(text));
}

TEST(Ordering, NaturalOrder) {
    struct Case { const char *a, *b; bool a_first; };
    const Case cases[] = {
        {"file2", "file10", true}, {"file10", "file2", false}, {"a1", "ab", true},
        {"abc", "abcd", true},     {"abcd", "abc", false},     {"B", "a", true},
        {"a", "B", false},         {"x", "x", false},          {"", "a", true},
        {"v1.2", "v1.10", true},   {"007", "7", false},        {"7", "007", true},
        {"img12b", "img12a", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(string_sort_by_unicode_order_asc(S(c.a), S(c.b)), c.a_first) << c.a << " vs " << c.b;
    }
    u64 before = tmp_get_position();
    string_sort_by_unicode_order_asc(S("a long name 1"), S("a long name 2"));
    EXPECT_EQ(tmp_get_position(), before);

    u32 digits[] = {'4', '2', 0x130};
    EXPECT_EQ(utf32_text_to_s64(digits, 8), 42);
}

TEST(Paths, FullPathSplitsDirectoryAndName) {
    Temp_Dir dir;
    ASSERT_TRUE(write_whole_file(dir.file("b.txt"), "x"));
    String directory, name;

    ASSERT_TRUE(os_get_full_filepath((const u8 *)"/", 1, &directory, &name));
    EXPECT_EQ(str(directory), "/");
    EXPECT_EQ(name.count, 0);

    std::string relative = dir.path + "/./sub/../b.txt";
    ASSERT_EQ(run_command("mkdir " + dir.path + "/sub"), 0);
    ASSERT_TRUE(os_get_full_filepath((const u8 *)relative.data(), (s64)relative.size(), &directory, &name));
    char real_dir[4096];
    ASSERT_TRUE(realpath(dir.path.c_str(), real_dir));
    EXPECT_EQ(str(directory), real_dir);
    EXPECT_EQ(str(name), "b.txt");

    // A file right under the root has an empty directory.
    ASSERT_TRUE(os_get_full_filepath((const u8 *)"/etc", 4, &directory, &name));
    EXPECT_EQ(directory.count, 0);
    EXPECT_EQ(str(name), "etc");

    std::string missing = dir.path + "/nope/x";
    EXPECT_FALSE(os_get_full_filepath((const u8 *)missing.data(), (s64)missing.size(), &directory, &name));
    EXPECT_FALSE(os_get_full_filepath((const u8 *)"", 0, &directory, &name));
    const char with_nul[] = {'/', 0, 'x'};
    EXPECT_FALSE(os_get_full_filepath((const u8 *)with_nul, 3, &directory, &name));

    EXPECT_STREQ(to_tmp_c_string(make_string("abc", 2)), "ab");
    EXPECT_STREQ(to_tmp_c_string(String{}), "");
}

// Random bytes in exact-size heap buffers: the bulk converters never read past
// the end (the sanitizer build checks), and valid text survives a round trip.
TEST(Utf8, RandomBytesAndRoundTrips) {
    std::mt19937 random(5);
    for (int round = 0; round < 2000; round++) {
        Tmp_Scope scope;
        std::vector<u8> bytes(random() % 24);
        for (u8 &b : bytes) b = (u8)(random() % 4 ? 0x80 + random() % 0x80 : random() % 0x80);
        String s = {bytes.data(), (s64)bytes.size()};
        std::vector<u32> out(bytes.size() + 1);
        s64 written = utf8_to_utf32(s, out.data());
        EXPECT_LE(written, (s64)bytes.size() * 4);
        EXPECT_LE(utf8_get_num_characters(s), s.count);
        EXPECT_LE(get_utf8_sub_string(s, 5).count, s.count);
        String_Utf16 w = utf8_to_utf16(s);
        EXPECT_LE(w.count, s.count);
        utf16_to_utf8(w);
        string_sort_by_unicode_order_asc(s, S("file10"));
        const u8 *end = s.data + s.count;
        for (const u8 *p = end; p > s.data;) {
            const u8 *previous = utf8_get_previous_character(p, s.data);
            ASSERT_LT(previous, p);
            p = previous;
        }
    }
    for (int round = 0; round < 500; round++) {
        Tmp_Scope scope;
        std::vector<u32> cps(1 + random() % 10);
        u8 buffer[64];
        String text = {buffer, 0};
        for (u32 &cp : cps) {
            do cp = random() % 0x110000;
            while (cp >= 0xD800 && cp <= 0xDFFF);
            string_add_codepoint(&text, cp);
        }
        std::vector<u32> back(text.count);
        ASSERT_EQ(utf8_to_utf32(text, back.data()), (s64)cps.size() * 4);
        back.resize(cps.size());
        EXPECT_EQ(back, cps);
        EXPECT_EQ(utf8_get_num_characters(text), (s64)cps.size());
        EXPECT_EQ(str(utf16_to_utf8(utf8_to_utf16(text))), str(text));
    }
}

TEST(Utf16, CutSequencesBecomeReplacementCharacters) {
    std::vector<u8> cut = {'a', 0xF0, 0x9F}; // exact size: reading on would leave the buffer
    String_Utf16 w = utf8_to_utf16(String{cut.data(), (s64)cut.size()});
    ASSERT_EQ(w.count, 3);
    EXPECT_EQ(w.data[1], REPLACEMENT_CHARACTER);
    EXPECT_EQ(w.data[2], REPLACEMENT_CHARACTER); // the stray continuation byte on its own
    u16 out[8];
    copy_as_c_string_utf16(String{cut.data(), (s64)cut.size()}, out, 8);
    EXPECT_EQ(get_utf16_c_string_size(out), 3);
    EXPECT_EQ(out[1], REPLACEMENT_CHARACTER);
}
