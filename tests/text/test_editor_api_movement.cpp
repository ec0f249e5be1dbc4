// Cursor movement routines through handle_foreign_call.
#include "editor_api_test_util.h"

struct Editor_Api_Movement : Api_Test {};

struct Move_Case {
    const char *text;
    u64 cursor;
    const char *routine;
    u64 expected;
};

TEST_F(Editor_Api_Movement, CharacterAndLineMovesLandWhereExpected) {
    // "aé€😀b": a 0, é 1-2, € 3-5, 😀 6-9, b 10.
    const char *utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "b";
    const Move_Case cases[] = {
        {"a\r\nb", 3, "go_left", 1},          // CR LF crossed as one
        {"a\r\nb", 1, "go_right", 3},
        {"a\rb", 1, "go_right", 2},
        {"a\nb", 2, "go_left", 1},
        {utf8, 1, "go_right", 3},
        {utf8, 3, "go_right", 6},
        {utf8, 6, "go_right", 10},
        {utf8, 10, "go_left", 6},
        {utf8, 6, "go_left", 3},
        {utf8, 3, "go_left", 1},
        {"a\x80" "b", 2, "go_left", 1},       // a stray continuation byte is one step
        {"abc", 0, "go_left", 0},
        {"abc", 3, "go_right", 3},
        // Same character column on the next line, clamped to its end.
        {"abcdef\nab\nabcdefgh", 5, "go_down", 9},
        {"abcdef\nab\nabcdefgh", 9, "go_down", 12},
        {"abcdef\nab\nabcdefgh", 12, "go_up", 9},
        {"abc\r\ndef", 6, "go_up", 1},
        {"abc\r\ndef", 1, "go_down", 6},
        {"\xC3\xA9\xE2\x82\xAC" "x\nabc", 5, "go_down", 9}, // two characters in
        {"\xC3\xA9\xE2\x82\xAC" "x\nabc", 9, "go_up", 5},
        {"\tab\nabcd", 2, "go_down", 6},      // a tab counts one
        {"abc\ndef", 1, "go_up", 1},          // first line: nothing
        {"abc\ndef", 5, "go_down", 5},        // last line: nothing
        {"abc\r\nxyz", 4, "go_to_line_start", 0},
        {"abc\r\nxyz", 6, "go_to_line_start", 5},
        {"abc\r\nxyz", 1, "go_to_line_end", 3},
        {"abc\r\nxyz", 6, "go_to_line_end", 8},
        {"abc\rxyz", 5, "go_to_line_start", 4},
        {"abc\nxyz", 2, "go_to_file_end", 7},
        {"abc\nxyz", 5, "go_to_file_start", 0},
        {"    abc", 7, "go_to_line_padding_end", 4},
        {"    abc", 4, "go_to_line_padding_end", 0},
        {"    abc", 0, "go_to_line_padding_end", 0},
        {"foo  bar\n\n  baz", 0, "go_to_next_non_whitespace_token", 5},
        {"foo  bar\n\n  baz", 5, "go_to_next_non_whitespace_token", 12},
        {"foo  bar\n\n  baz", 1, "go_to_next_non_whitespace_token", 5},
        {"foo  bar\n\n  baz", 12, "go_to_next_non_whitespace_token", 15},
        {"foo  bar\n\n  baz", 12, "go_to_previous_non_whitespace_token", 5},
        {"foo  bar\n\n  baz", 7, "go_to_previous_non_whitespace_token", 5},
        {"foo  bar\n\n  baz", 5, "go_to_previous_non_whitespace_token", 0},
        {"a+=1", 4, "go_to_previous_non_whitespace_token", 3},
        {"a+=1", 3, "go_to_previous_non_whitespace_token", 1},
    };
    for (const Move_Case &c : cases) {
        editor_text_init();
        text_hooks.now = fake_clock;
        File *file = open_text(c.text);
        file->cursor = file->selection_anchor = c.cursor;
        api_call(c.routine);
        EXPECT_EQ(file->cursor, c.expected) << c.routine << " from " << c.cursor << " in " << testing::PrintToString(c.text);
    }
}

TEST_F(Editor_Api_Movement, SkipTextCrossesOneRunOfTheSameClass) {
    const struct {
        u64 cursor;
        u8 forward;
        u64 expected;
    } cases[] = {{0, 1, 3}, {3, 1, 6}, {6, 1, 9}, {9, 1, 9}, {9, 0, 6}, {6, 0, 3}, {4, 0, 3}, {3, 0, 0}, {0, 0, 0}};
    for (const auto &c : cases) {
        editor_text_init();
        text_hooks.now = fake_clock;
        File *file = open_text("abc \t\ndef");
        file->cursor = file->selection_anchor = c.cursor;
        api_call_u8("skip_text", c.forward);
        EXPECT_EQ(file->cursor, c.expected) << "from " << c.cursor << " forward " << (int)c.forward;
    }
}

TEST_F(Editor_Api_Movement, AMoveSavesThePreviousCursorStampsActivityAndMarksTheFile) {
    File *file = open_text("abc\ndef");
    file->cursor = file->selection_anchor = 1;
    file_clear_flags(file, FILE_CHANGED);
    fake_now += 777;
    api_call("go_down");
    EXPECT_EQ(file->cursor, 5u);
    EXPECT_EQ(file->previous_cursor, 1u);
    EXPECT_EQ(file->selection_anchor, 5u); // no selection: the anchor follows
    EXPECT_TRUE(file_has_flags(file, FILE_CHANGED));
    EXPECT_EQ(last_time_we_asked_to_disable_vsync, fake_now);
    api_call("go_to_previous_cursor_position");
    EXPECT_EQ(file->cursor, 1u);
    // While selecting, the anchor stays.
    api_call("start_selection");
    api_call("go_to_file_end");
    EXPECT_EQ(file->selection_anchor, 1u);
    EXPECT_EQ(file->cursor, 7u);
}

TEST_F(Editor_Api_Movement, VerticalMovesDoNothingInAOneLineField) {
    File *file = open_text("abc\ndef\nghi");
    file_set_flags(file, FILE_ONE_LINE);
    file->page_size_in_lines = 2;
    file->cursor = file->selection_anchor = 5;
    for (const char *routine : {"go_up", "go_down", "page_up", "page_down"}) {
        api_call(routine);
        EXPECT_EQ(file->cursor, 5u) << routine;
    }
}

TEST_F(Editor_Api_Movement, PagesMoveByTheLinesTheViewShowedAndKeepTheColumn) {
    std::string text;
    for (int i = 0; i < 10; i++) text += "line" + std::to_string(i) + "\n"; // 6 bytes a line
    File *file = open_text(text);
    file->page_size_in_lines = 3;
    file->cursor = file->selection_anchor = 2; // line 1, column 2
    api_call("page_down");
    EXPECT_EQ(file->cursor, 3 * 6 + 2u);
    api_call("page_down");
    api_call("page_down");
    EXPECT_EQ(file->cursor, 9 * 6 + 2u);
    api_call("page_down"); // the last line is empty: clamped to its start
    EXPECT_EQ(file->cursor, 60u);
    api_call("page_up");
    EXPECT_EQ(file->cursor, 7 * 6 + 0u);
    for (int i = 0; i < 4; i++) api_call("page_up");
    EXPECT_EQ(file->cursor, 0u);
}
