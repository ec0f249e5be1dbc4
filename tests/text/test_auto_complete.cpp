// Auto-complete across several open files, with the member-access context.
#include "text_test_util.h"
#include "text/auto_complete.h"
#include "text/undo.h"

struct Auto_Complete : Text_Test {
    // Opens `text` with the cursor where '|' stands (the '|' is removed).
    File *open_at_bar(std::string text, const std::string &name = "main.c") {
        size_t bar = text.find('|');
        text.erase(bar, 1);
        File *f = open_text(text, name);
        f->cursor = f->selection_anchor = bar;
        file_update_selection_pointers(f);
        return f;
    }
};

TEST_F(Auto_Complete, CompletesToTheCommonPrefix) {
    struct Case {
        const char *text;
        const char *after;
        u64 inserted;
    } cases[] = {
        {"apple apricot ap|", "apple apricot ap", 0},      // common prefix is only ap
        {"apple applet ap|", "apple applet apple", 3},
        {"ap| apple applet", "apple apple applet", 3},     // candidates after the cursor count too
        {"zebra ap|", "zebra ap", 0},                     // nothing longer matches
        {"apple ap|ple", "apple apple", 0},               // the cursor is inside a word
        {"apple ap |", "apple ap ", 0},                   // no word ends at the cursor
        {"|", "", 0},
        {"x.ap| apple_pie", "x.apple_pie apple_pie", 7},
        {"\xC3\xA9t\xC3\xA9 \xC3\xA9|", "\xC3\xA9t\xC3\xA9 \xC3\xA9t\xC3\xA9", 3},
    };
    for (const Case &c : cases) {
        File *f = open_at_bar(c.text);
        u64 cursor = f->cursor;
        EXPECT_EQ(auto_complete_text_before_cursor(f), c.inserted) << c.text;
        EXPECT_EQ(text_of(f), c.after) << c.text;
        EXPECT_EQ(f->cursor, cursor + c.inserted) << c.text;
        close_file(f);
    }
}

TEST_F(Auto_Complete, UsesEveryOpenFileAndIsOneUndo) {
    File *other = open_text("int configuration_value;\n", "other.c");
    File *third = open_text("configuration_values = 1\n", "third.c");
    File *f = open_at_bar("x = conf|;\n");
    EXPECT_EQ(auto_complete_text_before_cursor(f), 15u);
    EXPECT_EQ(text_of(f), "x = configuration_value;\n");
    EXPECT_EQ(f->undo_records.count, 1u);
    EXPECT_EQ(dynamic_array_at<Undo_Record>(&f->undo_records, 0)->kind, UNDO_INSERTION);
    current_file = f;
    editor_undo();
    EXPECT_EQ(text_of(f), "x = conf;\n");
    // Closing a file takes its words away.
    close_file(third);
    close_file(other);
    f->cursor = 8;
    EXPECT_EQ(auto_complete_text_before_cursor(f), 0u);
}

TEST_F(Auto_Complete, MemberContextNarrowsCandidates) {
    struct Case {
        const char *text;
        const char *after;
    } cases[] = {
        // After obj. a word also met after obj. wins over other words.
        {"obj.position; obj.po|; pointer potato", "obj.position; obj.position; pointer potato"},
        {"p->count_all; p->co|; color cost", "p->count_all; p->count_all; color cost"},
        // Another object or operator is no member candidate: plain common prefix.
        {"other.position; obj.po|; pointer", "other.position; obj.po; pointer"},
        {"obj->position; obj.po|; potion", "obj->position; obj.po; potion"},
        // Spaces between the tokens do not change the context.
        {"obj . position; obj. po|; pointer potato", "obj . position; obj. position; pointer potato"},
        {"obj->position; obj -> po|; pointer", "obj->position; obj -> position; pointer"},
        // No member candidate at all: the ordinary completion.
        {"obj.po| position", "obj.position position"},
    };
    for (const Case &c : cases) {
        File *f = open_at_bar(c.text);
        auto_complete_text_before_cursor(f);
        EXPECT_EQ(text_of(f), c.after) << c.text;
        close_file(f);
    }
}

TEST_F(Auto_Complete, StateMergesToTheSharedPrefix) {
    Auto_Complete_State state = {};
    Auto_Complete_Context context = {};
    const char *words[] = {"printing", "printer", "printable", "print_all"};
    for (const char *w : words) update_auto_complete_data(nullptr, &state, (const u8 *)w, strlen(w), w[5] == 'e', 0, &context);
    EXPECT_EQ(to_std(state.any.best), "print");
    EXPECT_EQ(state.any.shortest, 7u);
    EXPECT_TRUE(state.seen_member);
    EXPECT_EQ(to_std(state.member.best), "printer");
}
