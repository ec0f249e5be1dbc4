// Editing routines through handle_foreign_call; every edit is undone again.
#include <functional>
#include "editor_api_test_util.h"
#include "text/tokeniser.h"
#include "text/undo.h"

struct Editor_Api_Editing : Api_Test {};

static void call_two(const char *routine, u8 a, u8 b) {
    Api_Two_U8_Block block = {a, b};
    api_call(routine, &block);
}

struct Edit_Case {
    const char *what;
    std::string text;
    u64 cursor;
    s64 anchor; // -1: no selection
    std::function<void()> act;
    std::string expected;
    u64 expected_cursor;
    u32 records = 1; // undo records the edit leaves
};

TEST_F(Editor_Api_Editing, EachEditChangesTheTextAndOneUndoRestoresIt) {
    const Edit_Case cases[] = {
        {"insert_text", "ab", 1, -1, [] { api_call_string("insert_text", "XY"); }, "aXYb", 3},
        {"insert_text over a selection", "abcd", 3, 1, [] { api_call_string("insert_text", "-"); }, "a-d", 2, 2},
        {"insert_text_at", "ab", 0, -1, [] {
             std::string t = "12";
             Api_Insert_Text_At_Block b = {String{(u8 *)t.data(), 2}, 1};
             api_call("insert_text_at", &b);
         }, "a12b", 0},
        {"insert_character", "ab", 1, -1, [] {
             Api_U32_Block b = {0x20AC}; // €
             api_call("insert_character", &b);
         }, "a\xE2\x82\xAC" "b", 4},
        {"insert_character replaces a selection", "abcd", 1, 3, [] {
             Api_U32_Block b = {'x'};
             api_call("insert_character", &b);
         }, "axd", 2, 2},
        {"insert_new_line with indent, cursor moves", "  ab", 3, -1, [] { call_two("insert_new_line", 1, 1); }, "  a\n  b", 6},
        {"insert_new_line, cursor stays", "ab", 1, -1, [] { call_two("insert_new_line", 0, 0); }, "a\nb", 1},
        {"insert_new_line keeps CR LF files CR LF", "a\r\nb", 4, -1, [] { call_two("insert_new_line", 0, 1); }, "a\r\nb\r\n", 6},
        {"delete_at", "abcdef", 5, -1, [] {
             Api_Delete_At_Block b = {1, 3};
             api_call("delete_at", &b);
         }, "aef", 5 > 3 ? 3 : 3},
        {"delete_at the tail", "abcdef", 0, -1, [] {
             Api_Delete_At_Block b = {4, 2};
             api_call("delete_at", &b);
         }, "abcd", 0},
        {"backspace over CR LF", "a\r\nb", 3, -1, [] { api_call("delete_character_before_cursor"); }, "ab", 1},
        {"backspace over a lone CR", "a\rb", 2, -1, [] { api_call("delete_character_before_cursor"); }, "ab", 1},
        {"backspace over a 4-byte character", "a\xF0\x9F\x98\x80" "b", 5, -1, [] { api_call("delete_character_before_cursor"); }, "ab", 1},
        {"delete at cursor over CR LF", "a\r\nb", 1, -1, [] { api_call("delete_character_at_cursor"); }, "ab", 1},
        {"delete at cursor over a 3-byte character", "a\xE2\x82\xAC" "b", 1, -1, [] { api_call("delete_character_at_cursor"); }, "ab", 1},
        {"delete_token starting at the cursor", "foo bar", 4, -1, [] { api_call("delete_token"); }, "foo ", 4},
        {"delete_token around the cursor", "foo bar", 1, -1, [] { api_call("delete_token"); }, " bar", 0},
        {"delete_token_text_up_to_cursor", "foo barbaz", 7, -1, [] { api_call("delete_token_text_up_to_cursor"); }, "foo baz", 4},
        {"delete_token_text_up_to_cursor after spaces", "foo   bar", 6, -1, [] { api_call("delete_token_text_up_to_cursor"); }, "bar", 0},
        {"delete_remaining_text_on_token", "foo barbaz", 7, -1, [] { api_call("delete_remaining_text_on_token"); }, "foo bar", 7},
        {"delete_remaining_text_on_token on blanks", "foo  \t bar", 3, -1, [] { api_call("delete_remaining_text_on_token"); }, "foobar", 3},
        {"duplicate_line in the middle", "ab\ncd\nef", 4, -1, [] { api_call("duplicate_line"); }, "ab\ncd\ncd\nef", 4},
        {"duplicate_line on the last line", "ab\r\ncd", 5, -1, [] { api_call("duplicate_line"); }, "ab\r\ncd\r\ncd", 5},
        {"swap_lines up", "one\ntwo\nthree", 5, -1, [] { api_call_u8("swap_lines", 1); }, "two\none\nthree", 1},
        {"swap_lines down across CR LF", "one\r\ntwo\r\nx", 1, -1, [] { api_call_u8("swap_lines", 0); }, "two\r\none\r\nx", 6},
        {"delete_line in the middle", "abc\n  de\nfghij", 7, -1, [] { api_call_u8("delete_line", 0); }, "abc\nfghij", 7},
        {"delete_line at the end", "abc\r\nlast", 7, -1, [] { api_call_u8("delete_line", 0); }, "abc", 2},
        {"delete_selection", "abcdef", 1, 4, [] { api_call("delete_selection"); }, "aef", 1},
        {"cut_selection_to_clipboard", "abcdef", 4, 1, [] { api_call("cut_selection_to_clipboard"); }, "aef", 1},
        {"pad_selection", "ab\nabcd\na", 0, 9, [] { api_call("pad_selection"); }, "ab  \nabcd\na   ", 0},
        {"change_selection_case to upper", "abc def", 1, 3, [] { api_call_u8("change_selection_case", 0); }, "aBC def", 1},
        {"change_selection_case of the token", "abc DEF", 5, -1, [] { api_call_u8("change_selection_case", 1); }, "abc def", 5},
        {"align_selection_on_token_at_cursor", "a = 1\nbbb = 2", 2, 12, [] { api_call("align_selection_on_token_at_cursor"); }, "a   = 1\nbbb = 2", 4},
    };
    for (const Edit_Case &c : cases) {
        editor_text_init();
        text_hooks.now = fake_clock;
        File *file = open_text(c.text);
        file->cursor = c.cursor;
        file->selection_anchor = c.anchor < 0 ? c.cursor : (u64)c.anchor;
        if (c.anchor >= 0) file_set_flags(file, FILE_SELECTION_ACTIVE);
        file_update_selection_pointers(file);
        file_clear_flags(file, FILE_UNSAVED | FILE_NEEDS_COLOURING);
        c.act();
        EXPECT_EQ(text_of(file), c.expected) << c.what;
        EXPECT_EQ(file->cursor, c.expected_cursor) << c.what;
        EXPECT_TRUE(file_has_flags(file, FILE_UNSAVED | FILE_NEEDS_COLOURING)) << c.what;
        EXPECT_EQ(file->undo_records.count, c.records) << c.what;
        for (u32 i = 0; i < c.records; i++) api_call("undo");
        EXPECT_EQ(text_of(file), c.text) << c.what << " undone";
    }
}

TEST_F(Editor_Api_Editing, EditsThatDoNotApplyLeaveTextAndHistoryAlone) {
    const Edit_Case cases[] = {
        {"delete_at past the end", "abc", 0, -1, [] {
             Api_Delete_At_Block b = {2, 2};
             api_call("delete_at", &b);
         }, "abc", 0},
        {"insert_text_at past the end", "abc", 0, -1, [] {
             std::string t = "x";
             Api_Insert_Text_At_Block b = {String{(u8 *)t.data(), 1}, 4};
             api_call("insert_text_at", &b);
         }, "abc", 0},
        {"insert_text with a negative count", "abc", 0, -1, [] {
             Api_String_Block b = {String{(u8 *)"x", -5}};
             api_call("insert_text", &b);
         }, "abc", 0},
        {"backspace at the start", "abc", 0, -1, [] { api_call("delete_character_before_cursor"); }, "abc", 0},
        {"delete at the end", "abc", 3, -1, [] { api_call("delete_character_at_cursor"); }, "abc", 3},
        {"delete_token on blanks", "a   b", 2, -1, [] { api_call("delete_token"); }, "a   b", 2},
        {"swap_lines up on the first line", "one\ntwo", 1, -1, [] { api_call_u8("swap_lines", 1); }, "one\ntwo", 1},
        {"swap_lines down on the last line", "one\ntwo", 5, -1, [] { api_call_u8("swap_lines", 0); }, "one\ntwo", 5},
        {"duplicate_line on an empty file", "", 0, -1, [] { api_call("duplicate_line"); }, "", 0},
        {"change_selection_case with nothing to change", "ABC", 1, -1, [] { api_call_u8("change_selection_case", 0); }, "ABC", 1},
        {"delete_selection without a selection", "abc", 1, -1, [] { api_call("delete_selection"); }, "abc", 1},
        {"undo without history", "abc", 1, -1, [] { api_call("undo"); }, "abc", 1},
    };
    for (const Edit_Case &c : cases) {
        editor_text_init();
        text_hooks.now = fake_clock;
        File *file = c.text.empty() ? add_a_file() : open_text(c.text);
        current_file = file;
        file->cursor = file->selection_anchor = c.cursor;
        file_update_selection_pointers(file);
        c.act();
        EXPECT_EQ(text_of(file), c.expected) << c.what;
        EXPECT_EQ(file->cursor, c.expected_cursor) << c.what;
        EXPECT_EQ(file->undo_records.count, 0u) << c.what;
    }
}

TEST_F(Editor_Api_Editing, OneLineFieldsTakeNoLineBreaks) {
    File *file = open_text("abc");
    file_set_flags(file, FILE_ONE_LINE);
    file->cursor = file->selection_anchor = 1;
    call_two("insert_new_line", 1, 1);
    api_call("duplicate_line");
    api_call_u8("swap_lines", 0);
    EXPECT_EQ(text_of(file), "abc");
}

TEST_F(Editor_Api_Editing, TypedCharactersMergeIntoOneUndoRecordWithinHalfASecond) {
    File *file = open_text("");
    for (u32 c : {'a', 'b', 'c'}) {
        Api_U32_Block b = {c};
        api_call("insert_character", &b);
        fake_now += 100000;
    }
    fake_now += UNDO_MERGE_MICROSECONDS;
    Api_U32_Block d = {'d'};
    api_call("insert_character", &d);
    EXPECT_EQ(text_of(file), "abcd");
    EXPECT_EQ(file->undo_records.count, 2u);
    api_call("undo");
    EXPECT_EQ(text_of(file), "abc");
    api_call("undo");
    EXPECT_EQ(text_of(file), "");
}

TEST_F(Editor_Api_Editing, TabCompletesTheWordBeforeTheCursorElseTypesTheTabText) {
    File *file = open_text("apple applet ap");
    file->cursor = file->selection_anchor = file_length(file);
    Api_U32_Block tab = {'\t'};
    api_call("insert_character", &tab);
    EXPECT_EQ(text_of(file), "apple applet apple");
    api_call("insert_character", &tab); // "applet" is the one word longer than "apple"
    EXPECT_EQ(text_of(file), "apple applet applet");
    api_call("insert_character", &tab); // nothing completes "applet"
    EXPECT_EQ(text_of(file), "apple applet applet    ");
}

TEST_F(Editor_Api_Editing, ATerminalPromptTakesTheCharactersItWants) {
    static u32 seen;
    text_hooks.get_editor_context = [] { return (u8)8; };
    text_hooks.terminal_prompt_character = [](u32 c) {
        seen = c;
        return c == '/';
    };
    File *file = open_text("ls ");
    file->cursor = file->selection_anchor = 3;
    Api_U32_Block slash = {'/'}, x = {'x'};
    api_call("insert_character", &slash);
    EXPECT_EQ(seen, (u32)'/');
    api_call("insert_character", &x);
    EXPECT_EQ(text_of(file), "ls x");
}

TEST_F(Editor_Api_Editing, DeleteLineCopiesTheLineAndTheMirrorWithoutItsIndentation) {
    File *file = open_text("abc\n    indented\nxy");
    file->cursor = file->selection_anchor = 10;
    api_call_u8("delete_line", 1);
    EXPECT_EQ(text_of(file), "abc\nxy");
    EXPECT_EQ(to_std(text_hooks.get_clipboard_text()), "    indented");
    EXPECT_EQ(to_std(dynamic_array_as_string(&text_copied_locally)), "    indented");
    EXPECT_EQ(to_std(dynamic_array_as_string(&text_copied_as_if_there_was_no_padding)), "indented");
    EXPECT_EQ(file->cursor, 6u); // column 6 clamped to the end of "xy"
    EXPECT_EQ(file->previous_cursor, 10u);
    // A paste while the clipboard still holds that copy uses the mirror.
    call_two("paste_from_clipboard", 0, 0);
    EXPECT_EQ(text_of(file), "abc\nxyindented");
    // The first option pastes the clipboard as it is; the second keeps the cursor.
    call_two("paste_from_clipboard", 1, 1);
    EXPECT_EQ(text_of(file), "abc\nxyindented    indented");
    EXPECT_EQ(file->cursor, 14u);
}

TEST_F(Editor_Api_Editing, CopyLineAndCopySelectionFillTheClipboard) {
    File *file = open_text("  first\r\nsecond word");
    file->cursor = file->selection_anchor = 3;
    api_call("copy_line");
    EXPECT_EQ(to_std(text_hooks.get_clipboard_text()), "  first");
    EXPECT_EQ(to_std(dynamic_array_as_string(&text_copied_as_if_there_was_no_padding)), "first");
    // An empty selection copies the token under the cursor only when the first option asks for it.
    file->cursor = file->selection_anchor = 12;
    call_two("copy_selection_to_clipboard", 0, 0);
    EXPECT_EQ(to_std(text_hooks.get_clipboard_text()), "  first");
    call_two("copy_selection_to_clipboard", 1, 0);
    EXPECT_EQ(to_std(text_hooks.get_clipboard_text()), "second");
    file->selection_anchor = 16;
    file_set_flags(file, FILE_SELECTION_ACTIVE);
    call_two("copy_selection_to_clipboard", 0, 0);
    EXPECT_EQ(to_std(text_hooks.get_clipboard_text()), "ond ");
    EXPECT_EQ(text_of(file), "  first\r\nsecond word"); // copying changes nothing
    EXPECT_EQ(file->undo_records.count, 0u);
}

// Random edits through the API, then undo all of them: the bytes come back.
TEST_F(Editor_Api_Editing, UndoingEverySequenceOfEditsRestoresTheFile) {
    const std::string original = "int main() {\r\n    return 0;\r\n}\nlast \xC3\xA9 line";
    const char *routines[] = {"duplicate_line", "delete_character_before_cursor", "delete_character_at_cursor",
                              "delete_token", "delete_token_text_up_to_cursor", "delete_remaining_text_on_token",
                              "swap_lines", "delete_line", "insert_new_line", "insert_character", "change_selection_case"};
    u64 seed = 12345;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return (u32)(seed >> 33);
    };
    for (int round = 0; round < 40; round++) {
        editor_text_init();
        text_hooks.now = fake_clock;
        File *file = open_text(original);
        for (int step = 0; step < 12; step++) {
            fake_now += 600000; // no merging: one record per edit
            file->cursor = file->selection_anchor = next() % (file_length(file) + 1);
            const char *routine = routines[next() % (sizeof(routines) / sizeof(routines[0]))];
            u8 block[8] = {(u8)(next() & 1), (u8)(next() & 1)};
            if (strcmp(routine, "insert_character") == 0) {
                Api_U32_Block b = {next() % 2 ? (u32)'z' : 0xE9u};
                memcpy(block, &b, sizeof(b));
            }
            api_call(routine, block);
        }
        while (file->undo_records.count) api_call("undo");
        ASSERT_EQ(text_of(file), original) << "round " << round;
    }
}
