// Editing primitives, undo of every kind with the clock under test control,
// cursor helpers, alignment and the clipboard mirrors.
#include "text_test_util.h"
#include "text/editing.h"
#include "text/lines.h"
#include "text/tokeniser.h"
#include "text/undo.h"

struct Editing : Text_Test {
    Undo_Record *last_record(File *f) {
        return f->undo_records.count ? dynamic_array_at<Undo_Record>(&f->undo_records, f->undo_records.count - 1) : nullptr;
    }
    void type(File *f, const char *s) {
        for (const char *p = s; *p; p++) editor_insert_character(f, (u8)*p);
    }
};

TEST_F(Editing, TypedInsertionsMergeWithinHalfASecond) {
    File *f = open_text("");
    struct Step {
        u64 advance;      // microseconds before typing
        const char *text;
        u32 records;      // records afterwards
    } steps[] = {
        {0, "a", 1},
        {499999, "b", 1},  // just inside the window: merged
        {500000, "c", 2},  // exactly half a second: a new record
        {100, "d", 2},
    };
    for (const Step &s : steps) {
        fake_now += s.advance;
        type(f, s.text);
        EXPECT_EQ(f->undo_records.count, s.records) << s.text;
    }
    EXPECT_EQ(last_record(f)->kind, UNDO_TYPED);
    EXPECT_EQ(last_record(f)->change.length, 2u);
    EXPECT_EQ(text_of(f), "abcd");
    ASSERT_TRUE(editor_undo());
    EXPECT_EQ(text_of(f), "ab");
    EXPECT_EQ(f->cursor, 2u);
    ASSERT_TRUE(editor_undo());
    EXPECT_EQ(text_of(f), "");
    EXPECT_FALSE(editor_undo());
}

TEST_F(Editing, TypingElsewhereOrUntypedStartsANewRecord) {
    File *f = open_text("0123456789");
    type(f, "ab");
    EXPECT_EQ(f->undo_records.count, 1u);
    editor_set_cursor(f, 8);
    type(f, "c"); // not where the last typed text ends
    EXPECT_EQ(f->undo_records.count, 2u);
    editor_insert_text(f, S("xy"), false); // untyped never merges
    type(f, "z");
    EXPECT_EQ(f->undo_records.count, 4u);
    EXPECT_EQ(last_record(f)->kind, UNDO_TYPED);
    EXPECT_EQ(dynamic_array_at<Undo_Record>(&f->undo_records, 2)->kind, UNDO_INSERTION);
    // An insertion of nothing records nothing.
    editor_insert_text(f, S(""), true);
    EXPECT_EQ(f->undo_records.count, 4u);
}

TEST_F(Editing, RecordsExpireAfterTenMinutes) {
    File *f = open_text("base");
    editor_insert_text_at(f, 4, S("1"), false);
    fake_now += 300000000;
    editor_insert_text_at(f, 5, S("2"), false);
    fake_now += 300000000; // the first is now exactly ten minutes old: kept
    editor_insert_text_at(f, 6, S("3"), false);
    EXPECT_EQ(f->undo_records.count, 3u);
    fake_now += 1; // now one microsecond older than the limit
    editor_insert_text_at(f, 7, S("4"), false);
    EXPECT_EQ(f->undo_records.count, 3u);
    fake_now += 600000001; // everything older goes
    editor_delete_at(f, 0, 1);
    EXPECT_EQ(f->undo_records.count, 1u);
    EXPECT_TRUE(editor_undo());
    EXPECT_FALSE(editor_undo()); // older edits are out of reach
    EXPECT_EQ(text_of(f), "base1234");
}

TEST_F(Editing, DeleteAtBounds) {
    struct Case {
        u64 offset, count;
        const char *after;
    } cases[] = {
        {3, 3, "abc"},     // offset + count = length: the tail goes
        {3, 4, "abcdef"},  // one byte more: nothing
        {0, 0, "abcdef"},  // nothing to do
        {7, 1, "abcdef"},  // past the end
        {1, 2, "adef"},
    };
    for (const Case &c : cases) {
        File *f = open_text("abcdef");
        u32 records = f->undo_records.count;
        editor_delete_at(f, c.offset, c.count);
        EXPECT_EQ(text_of(f), c.after) << c.offset << "+" << c.count;
        EXPECT_EQ(f->undo_records.count, records + (strcmp(c.after, "abcdef") ? 1u : 0u));
    }
    File *f = open_text("abcdef");
    editor_set_cursor(f, 6);
    editor_delete_at(f, 2, 4);
    EXPECT_EQ(f->cursor, 2u);          // was past the end
    EXPECT_EQ(f->previous_cursor, 6u);
    EXPECT_TRUE(file_has_flags(f, FILE_UNSAVED | FILE_NEEDS_COLOURING));
    editor_undo();
    EXPECT_EQ(text_of(f), "abcdef");
    EXPECT_EQ(f->cursor, 6u);
}

TEST_F(Editing, DeletingASelectionAndUndoingIt) {
    for (bool cursor_at_end : {true, false}) {
        File *f = open_text("hello big world");
        file_set_flags(f, FILE_SELECTION_ACTIVE);
        f->cursor = cursor_at_end ? 9 : 6;
        f->selection_anchor = cursor_at_end ? 6 : 9;
        file_update_selection_pointers(f);
        editor_delete_selection();
        EXPECT_EQ(text_of(f), "hello  world");
        EXPECT_EQ(f->cursor, 6u);
        EXPECT_EQ(f->selection_anchor, 6u);
        EXPECT_FALSE(file_has_flags(f, FILE_SELECTION_ACTIVE));
        EXPECT_EQ(last_record(f)->deletion.was_selection, 1);
        EXPECT_EQ(last_record(f)->cursor_before, 9u); // the selection end
        // Nothing selected now: a second delete does nothing.
        editor_delete_selection();
        EXPECT_EQ(text_of(f), "hello  world");
        ASSERT_TRUE(editor_undo());
        EXPECT_EQ(text_of(f), "hello big world");
        EXPECT_TRUE(file_has_flags(f, FILE_SELECTION_ACTIVE));
        EXPECT_EQ(*f->selection_start, 6u);
        EXPECT_EQ(*f->selection_end, 9u);
    }
}

TEST_F(Editing, InsertReplacesTheSelectionAndMovesPositionsAfterIt) {
    File *f = open_text("one two three");
    f->cursor = 4;
    f->selection_anchor = 7;
    file_set_flags(f, FILE_SELECTION_ACTIVE);
    file_update_selection_pointers(f);
    editor_insert_text(f, S("2"), false);
    EXPECT_EQ(text_of(f), "one 2 three");
    EXPECT_EQ(f->cursor, 5u);
    // Inserting before the cursor carries it along; at it, leaves it.
    editor_insert_text_at(f, 0, S(">>"), false);
    EXPECT_EQ(f->cursor, 7u);
    editor_insert_text_at(f, 7, S("!"), false);
    EXPECT_EQ(f->cursor, 7u);
    EXPECT_FALSE(editor_insert_text_at(f, 100, S("x"), false));
    EXPECT_EQ(text_of(f), ">>one 2! three");
    for (int i = 0; i < 4; i++) editor_undo(); // insert, insert, insert, deletion of the selection
    EXPECT_EQ(text_of(f), "one two three");
}

// A selection started but not yet extended is empty: typing replaces it and
// ends it, so the next character does not replace the one before.
TEST_F(Editing, TypingAfterStartingAnEmptySelection) {
    File *f = open_text("0123");
    editor_set_cursor(f, 2);
    file_set_flags(f, FILE_SELECTION_ACTIVE);
    type(f, "ab");
    EXPECT_EQ(text_of(f), "01ab23");
    EXPECT_EQ(f->cursor, 4u);
    EXPECT_FALSE(file_has_flags(f, FILE_SELECTION_ACTIVE));
    EXPECT_EQ(f->selection_anchor, 4u);
}

TEST_F(Editing, ChangeCaseIsUndoneInPlace) {
    File *f = open_text("Mixed Case \xC3\xA9 text");
    editor_change_case(f, 0, 100, true);
    EXPECT_EQ(text_of(f), "MIXED CASE \xC3\xA9 TEXT"); // only ASCII letters change
    EXPECT_EQ(last_record(f)->kind, UNDO_REPLACEMENT);
    editor_change_case(f, 0, 5, true); // already upper: no record
    EXPECT_EQ(f->undo_records.count, 1u);
    editor_undo();
    EXPECT_EQ(text_of(f), "Mixed Case \xC3\xA9 text");
}

TEST_F(Editing, HomeGoesToPaddingEndThenLineStart) {
    File *f = open_text("x\n    indented line\n");
    u64 line = 2;
    u64 start = get_offset_at_line(file_text(f), file_length(f), line);
    editor_set_cursor(f, start + 10);
    editor_go_to_line_padding_end(f);
    EXPECT_EQ(f->cursor - start, 4u);
    editor_go_to_line_padding_end(f);
    EXPECT_EQ(f->cursor - start, 0u);
    editor_go_to_line_padding_end(f);
    EXPECT_EQ(f->cursor - start, 0u);
    editor_go_to_previous_cursor_position(f);
    EXPECT_EQ(f->cursor - start, 0u); // previous was also the line start
    editor_set_cursor(f, 0);
    editor_go_to_previous_cursor_position(f);
    EXPECT_EQ(f->cursor, start);
    EXPECT_EQ(f->previous_cursor, 0u);
}

TEST_F(Editing, ColumnsCountCharacters) {
    File *f = open_text("a\xC3\xA9\t\xE2\x82\xAC\x80z end\r\nnext");
    // a, é, tab, €, a stray continuation byte (not counted), z
    struct Case {
        u64 column;
        u64 offset;
    } cases[] = {{0, 0}, {1, 1}, {2, 3}, {3, 4}, {4, 7}, {5, 9}, {9, 13}, {50, 13}};
    std::vector<Editor_Token> tokens(16);
    u32 n = 0;
    Editor_Token t;
    for (s64 at = 0; (at = editor_get_next_token(f, (u64)at, &t)) >= 0 && n < 16;) tokens[n++] = t;
    for (const Case &c : cases) {
        set_cursor_at_column(f, c.column, tokens.data(), tokens.data() + n);
        EXPECT_EQ(f->cursor, c.offset) << c.column;
        EXPECT_EQ(get_cursor_column(f, 0), c.column > 9 ? 9 : c.column) << c.column;
    }
}

// Tokens from a text that has since shrunk must not lead past its end.
TEST_F(Editing, ColumnFromStaleTokensStaysInTheText) {
    File *f = open_text("ab\ncd");
    Editor_Token stale[2] = {{1ull << 40, 3, TOKEN_WORD, 0}, {(1ull << 40) + 3, 1, TOKEN_NEW_LINE, 0}};
    set_cursor_at_column(f, 1, stale, stale + 2);
    EXPECT_LE(f->cursor, file_length(f));
    EXPECT_EQ(f->cursor, 4u); // column 1 of the last line
}

TEST_F(Editing, AlignmentPadsAndIsUndoneAndLeftOutOfTheMirror) {
    File *f = open_text("a = 1\nlong_name = 2\nxy = 3\nno equals\n");
    // Select all three lines, cursor on the '=' of the first.
    f->selection_anchor = 30;
    f->cursor = 2;
    file_set_flags(f, FILE_SELECTION_ACTIVE);
    file_update_selection_pointers(f);
    editor_align_selection_on_token_at_cursor();
    EXPECT_EQ(text_of(f), "a         = 1\nlong_name = 2\nxy        = 3\nno equals\n");
    EXPECT_EQ(f->cursor, 10u); // still on the '='
    EXPECT_EQ(last_record(f)->kind, UNDO_PADDING);

    // Copy: the clipboard gets the text as shown, the mirror without padding.
    editor_insert_text_at(f, 0, S("// "), false); // an edit after the padding moves it
    f->selection_anchor = 0;
    f->cursor = file_length(f);
    file_update_selection_pointers(f);
    editor_copy_selection_to_clipboard(0, 0);
    EXPECT_EQ(to_std(text_hooks.get_clipboard_text()), text_of(f));
    EXPECT_EQ(to_std(dynamic_array_as_string(&text_copied_as_if_there_was_no_padding)),
              "// a = 1\nlong_name = 2\nxy = 3\nno equals\n");
    EXPECT_EQ(to_std(editor_text_to_paste()), "// a = 1\nlong_name = 2\nxy = 3\nno equals\n");
    text_hooks.set_clipboard_text("from elsewhere");
    EXPECT_EQ(to_std(editor_text_to_paste()), "from elsewhere");

    editor_undo();
    editor_undo();
    EXPECT_EQ(text_of(f), "a = 1\nlong_name = 2\nxy = 3\nno equals\n");
    EXPECT_EQ(f->cursor, 2u);
}

TEST_F(Editing, CopyFallsBackToTheTokenOnlyWhenAsked) {
    File *f = open_text("alpha beta");
    editor_set_cursor(f, 7);
    text_hooks.set_clipboard_text("before");
    editor_copy_selection_to_clipboard(0, 0);
    EXPECT_EQ(to_std(text_hooks.get_clipboard_text()), "before");
    editor_copy_selection_to_clipboard(1, 0);
    EXPECT_EQ(to_std(text_hooks.get_clipboard_text()), "beta");
    EXPECT_EQ(to_std(dynamic_array_as_string(&text_copied_locally)), "beta");
}

// Duplicating a line inserts bytes read from the file's own text: they must
// be taken before the text shifts or moves to a bigger buffer.
TEST_F(Editing, InsertingBytesOfTheSameText) {
    std::string long_line(100, 'L');
    struct Case {
        std::string text;
        u64 from, count, at;
        std::string after;
    } cases[] = {
        {"abc\n", 0, 4, 4, "abc\nabc\n"},
        {"abc\ndef\n", 4, 4, 0, "def\nabc\ndef\n"},  // the source lies after the insertion point
        {"abcdef", 1, 3, 2, "abbcdcdef"},             // the source spans it
        {long_line + "\n", 0, 101, 101, long_line + "\n" + long_line + "\n"}, // the text must grow
    };
    for (const Case &c : cases) {
        File *f = open_text(c.text);
        ASSERT_TRUE(editor_insert_text_at(f, c.at, String{file_text(f) + c.from, (s64)c.count}, false));
        EXPECT_EQ(text_of(f), c.after) << c.text;
        editor_undo_file(f);
        EXPECT_EQ(text_of(f), c.text);
    }
    // Replacing a selection with bytes that lie after it.
    File *f = open_text("one two three");
    f->selection_anchor = 0;
    f->cursor = 4;
    file_set_flags(f, FILE_SELECTION_ACTIVE);
    file_update_selection_pointers(f);
    ASSERT_TRUE(editor_insert_text(f, String{file_text(f) + 8, 5}, false));
    EXPECT_EQ(text_of(f), "threetwo three");
}

// The system clipboard takes NUL-terminated text: copying bytes with a NUL
// in them hands over only the part before it, but a paste while that is
// still on the clipboard gives back every byte.
TEST_F(Editing, CopiedNulBytesComeBackOnPaste) {
    File *f = open_text(std::string("a\0b c", 5));
    f->selection_anchor = 0;
    f->cursor = 3;
    file_update_selection_pointers(f);
    editor_copy_selection_to_clipboard(0, 0);
    EXPECT_EQ(to_std(text_hooks.get_clipboard_text()), "a");
    EXPECT_EQ(to_std(editor_text_to_paste()), std::string("a\0b", 3));
    // Something else put on the clipboard since is pasted as it is.
    text_hooks.set_clipboard_text("b");
    EXPECT_EQ(to_std(editor_text_to_paste()), "b");
    // The same bytes put back cannot be told from the editor's own copy.
    text_hooks.set_clipboard_text("a");
    EXPECT_EQ(to_std(editor_text_to_paste()), std::string("a\0b", 3));
}
