// Selection state, text and token routines through handle_foreign_call.
#include "editor_api_test_util.h"
#include "text/colouring.h"
#include "core/log.h"
#include "text/tokeniser.h"

struct Editor_Api_Text : Api_Test {
    // Settings with one hint: "//" comments for the listed extensions.
    void set_c_hint(std::vector<String> *extensions) {
        Api_Settings_Block block = {};
        Api_Tokenisation_Hint hint = {};
        hint.extensions = {extensions->data(), (s64)extensions->size(), (s64)extensions->size()};
        hint.single_line_comment = S("//");
        hint.block_comment_start = S("/*");
        hint.block_comment_end = S("*/");
        hint.flags = TOKEN_DOUBLE_QUOTE;
        block.settings.tokenisation_hints = {&hint, 1, 1};
        api_call("set_settings", &block);
    }
};

TEST_F(Editor_Api_Text, CursorAndAnchorOffsetsAreSetOnlyInsideTheText) {
    File *file = open_text("hello");
    file->cursor = file->selection_anchor = 2;
    const struct {
        s64 offset;
        u64 cursor; // after set_cursor_offset
    } cases[] = {{5, 2}, {6, 2}, {4, 4}, {-3, 0}, {0, 0}};
    for (const auto &c : cases) {
        file->cursor = file->selection_anchor = 2;
        file_clear_flags(file, FILE_CHANGED);
        api_set_cursor(c.offset);
        EXPECT_EQ(file->cursor, c.cursor) << c.offset;
        EXPECT_EQ(file->selection_anchor, c.cursor) << c.offset;
        EXPECT_EQ(file_has_flags(file, FILE_CHANGED), c.cursor != 2) << c.offset;
        if (c.cursor != 2) {
            EXPECT_EQ(file->previous_cursor, 2u) << c.offset;
        }
    }
    Api_U64_Block anchor = {5}; // the length: nothing
    api_call("set_selection_anchor_offset", &anchor);
    EXPECT_FALSE(file_has_flags(file, FILE_SELECTION_ACTIVE));
    anchor.value = 4;
    api_call("set_selection_anchor_offset", &anchor);
    EXPECT_TRUE(file_has_flags(file, FILE_SELECTION_ACTIVE));
    EXPECT_EQ(file->selection_anchor, 4u);
    api_set_cursor(1); // selecting: the anchor stays
    EXPECT_EQ(api_result_u64("get_cursor_offset"), 1u);
    EXPECT_EQ(api_result_u64("get_selection_start_offset"), 1u);
    EXPECT_EQ(api_result_u64("get_selection_end_offset"), 4u);
}

TEST_F(Editor_Api_Text, SelectionSwitches) {
    File *file = open_text("abc");
    file->cursor = file->selection_anchor = 1;
    Api_U8_Result_Block active = {7};
    api_call("check_if_selection_is_active", &active);
    EXPECT_EQ(active.result, 0);
    api_call("toggle_selection");
    api_call("check_if_selection_is_active", &active);
    EXPECT_EQ(active.result, 1);
    api_call("go_to_file_end");
    EXPECT_EQ(file->selection_anchor, 1u);
    api_call("toggle_selection");
    EXPECT_FALSE(file_has_flags(file, FILE_SELECTION_ACTIVE));
    api_call("start_selection");
    EXPECT_EQ(file->selection_anchor, 3u);
    api_call("stop_selection");
    EXPECT_FALSE(file_has_flags(file, FILE_SELECTION_ACTIVE));
    api_call("do_not_set_selection_anchor_on_click");
    EXPECT_TRUE(file_has_flags(file, FILE_NO_ANCHOR_ON_CLICK));
    api_call("centre_cursor_vertically");
    EXPECT_TRUE(file_has_flags(file, FILE_CENTRE_CURSOR));
}

TEST_F(Editor_Api_Text, GetTextAtCopiesARangeThatEndsBeforeTheEnd) {
    open_text("abcdef");
    const struct {
        u64 offset;
        u32 length;
        const char *expected;
    } cases[] = {{0, 3, "abc"}, {2, 3, "cde"}, {3, 3, ""}, {5, 1, ""}, {9, 1, ""}, {0, 0, ""}};
    for (const auto &c : cases) {
        Api_Get_Text_At_Block b = {c.offset, c.length, S("untouched")};
        api_call("get_text_at", &b);
        EXPECT_EQ(to_std(b.result), c.expected) << c.offset << "+" << c.length;
    }
}

TEST_F(Editor_Api_Text, LineStartsAndEndsAcceptEveryBreak) {
    open_text("ab\r\ncd\ref\ngh");
    const struct {
        u64 offset;
        u64 start, end;
    } cases[] = {{0, 0, 2}, {1, 0, 2}, {4, 4, 6}, {7, 7, 9}, {10, 10, 12}, {12, 10, 12}, {50, 10, 12}};
    for (const auto &c : cases) {
        Api_Offset_To_Offset_Block b = {c.offset, 999};
        api_call("get_line_start", &b);
        EXPECT_EQ(b.result, c.start) << c.offset;
        b.result = 999;
        api_call("get_line_end", &b);
        EXPECT_EQ(b.result, c.end) << c.offset;
    }
}

TEST_F(Editor_Api_Text, TokensGoThroughThePointerAndTheOffsetIntoTheBlock) {
    open_text("a+=1 ->x  ");
    const struct {
        const char *routine;
        u64 offset;
        s64 result;
        u64 token_offset;
        u32 token_length;
        u16 type;
    } cases[] = {
        {"get_next_token", 0, 1, 0, 1, TOKEN_WORD},
        {"get_next_token", 1, 3, 1, 2, TOKEN_OPERATOR},
        {"get_next_token", 3, 4, 3, 1, TOKEN_NUMBER},
        {"get_next_token", 4, 7, 5, 2, TOKEN_PUNCTUATION},
        {"get_next_token", 8, -1, 0, 0, TOKEN_NONE}, // only spaces left
        {"get_previous_token", 5, 3, 3, 1, TOKEN_NUMBER},
        {"get_previous_token", 0, -1, 0, 0, TOKEN_NONE},
        {"get_token_at_offset", 2, 1, 1, 2, TOKEN_OPERATOR},
        {"get_token_at_offset", 7, 7, 7, 1, TOKEN_WORD},
    };
    for (const auto &c : cases) {
        Editor_Token token = {77, 77, 77, 0};
        Api_Token_Block b = {c.offset, &token, 12345};
        api_call(c.routine, &b);
        EXPECT_EQ(b.result, c.result) << c.routine << " " << c.offset;
        EXPECT_EQ(token.type, c.type) << c.routine << " " << c.offset;
        if (c.type != TOKEN_NONE) {
            EXPECT_EQ(token.offset, c.token_offset) << c.routine << " " << c.offset;
            EXPECT_EQ(token.length, c.token_length) << c.routine << " " << c.offset;
        }
    }
    Api_Token_Block no_pointer = {0, nullptr, 0};
    api_call("get_next_token", &no_pointer);
    EXPECT_EQ(no_pointer.result, 1);
}

TEST_F(Editor_Api_Text, CodepointsDecodeFromTheirLeadByte) {
    open_text("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xE2\x82");
    const struct {
        u64 offset;
        u32 codepoint;
    } cases[] = {{0, 'a'}, {1, 0xE9}, {3, 0x20AC}, {6, 0x1F600}, {10, 0xE2}, {12, 0}};
    for (const auto &c : cases) {
        Api_Codepoint_Block b = {c.offset, 99};
        api_call("get_codepoint_at_offset", &b);
        EXPECT_EQ(b.result, c.codepoint) << c.offset;
    }
}

TEST_F(Editor_Api_Text, HintsGiveTheSingleLineCommentAndTheExtensionIsTheNamesTail) {
    std::vector<String> extensions = {S("C"), S("h")};
    set_c_hint(&extensions); // extensions match lower-cased
    const struct {
        const char *name;
        const char *comment;
        const char *extension;
    } cases[] = {{"main.c", "//", "c"}, {"Main.H", "//", "H"}, {"notes.txt", "", "txt"}, {"Makefile", "", ""}};
    for (const auto &c : cases) {
        open_text("x", c.name);
        Api_String_Result_Block b = {S("untouched")};
        api_call("get_single_line_comment_from_tokenisation_hints", &b);
        EXPECT_EQ(to_std(b.result), c.comment) << c.name;
        b.result = S("untouched");
        api_call("get_file_extension", &b);
        EXPECT_EQ(to_std(b.result), c.extension) << c.name;
    }
    // The hint's comment markers become tokens of their own.
    open_text("x // y", "a.c");
    Editor_Token token;
    Api_Token_Block b = {1, &token, 0};
    api_call("get_next_token", &b);
    EXPECT_EQ(token.type, TOKEN_SINGLE_LINE_COMMENT);
}

TEST_F(Editor_Api_Text, TheTargetIsTheFileBeingColouredWhileASyntaxPassRuns) {
    File *shown = open_text("shown text", "a.txt");
    File *coloured = open_text("coloured", "b.txt");
    current_file = shown;
    custom_layer_execution_file = coloured;
    coloured->syntax_info = {2, 6, 3, TOKEN_DOUBLE_QUOTE};
    Api_Syntax_Info_Block info = {};
    api_call("get_syntax_highlighting_info", &info);
    EXPECT_EQ(info.result.start, 2u);
    EXPECT_EQ(info.result.end, 6u);
    EXPECT_EQ(info.result.block_comment_depth, 3u);
    EXPECT_EQ(info.result.literal_state, 1);
    // Every quote bit survives the byte, the apostrophe and back-tick too.
    const struct { u16 quote; u8 expected; } quotes[] = {{0, 0}, {TOKEN_SINGLE_QUOTE, 2}, {TOKEN_BACK_QUOTE, 4}};
    for (const auto &q : quotes) {
        coloured->syntax_info.literal_state = q.quote;
        api_call("get_syntax_highlighting_info", &info);
        EXPECT_EQ(info.result.literal_state, q.expected) << q.quote;
    }
    Api_Set_Text_Colour_Block colour = {1, 3, {1, 0.5f, 0, 1}};
    api_call("set_text_colour", &colour);
    colour.colour = {0, 0, 1, 1};
    api_call("set_text_colour", &colour); // the first colour of a range stays
    ASSERT_EQ(coloured->colour_chunks.count, 1u);
    Colour_Chunk *chunk = dynamic_array_at<Colour_Chunk>(&coloured->colour_chunks, 0);
    EXPECT_EQ(chunk->offset, 1u);
    EXPECT_EQ(chunk->length, 3u);
    EXPECT_EQ(dynamic_array_at<Colour>(&coloured->palette, chunk->palette_index)->g, 0.5f);
    EXPECT_EQ(shown->colour_chunks.count, 0u);
    EXPECT_EQ(api_result_u64("get_cursor_offset"), coloured->cursor);
    custom_layer_execution_file = nullptr;
}

TEST_F(Editor_Api_Text, NumbersTabTextAndLog) {
    const struct {
        s64 value;
        const char *text;
    } cases[] = {{1234567, "1,234,567"}, {-1000, "-1,000"}, {999, "999"}, {0, "0"}, {INT64_MIN, "-9,223,372,036,854,775,808"}};
    for (const auto &c : cases) {
        Api_Int_To_String_Block b = {c.value, {}};
        api_call("int_to_string", &b);
        EXPECT_EQ(to_std(b.result), c.text);
    }
    Api_String_Result_Block tab = {};
    api_call("get_tab_text", &tab);
    EXPECT_EQ(to_std(tab.result), "    ");
    init_logging();
    api_call_string("log", "hello from custom.8");
    std::string log((const char *)__global_log.buffer, __global_log.used);
    EXPECT_NE(log.find("Info: hello from custom.8\n"), std::string::npos) << log;
}

TEST_F(Editor_Api_Text, WithoutAFileResultsAreLeftAlone) {
    Api_Get_Text_At_Block text = {0, 1, S("kept")};
    api_call("get_text_at", &text);
    EXPECT_EQ(to_std(text.result), "kept");
    Api_U64_Result_Block offset = {42};
    api_call("get_cursor_offset", &offset);
    EXPECT_EQ(offset.result, 42u);
    Api_Token_Block token = {0, nullptr, 42};
    api_call("get_token_at_offset", &token);
    EXPECT_EQ(token.result, 42);
}
