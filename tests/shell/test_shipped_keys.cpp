// The shipped custom layer (runtime/*.8) compiled by the real compiler and
// driven by key events through the frame driver: what each binding does to
// a file, the tabs and the settings.
#include <gtest/gtest.h>
#include "shell_test_util.h"
#include "test_util.h"
#include "shell/custom_layer.h"
#include "shell/frame.h"
#include "shell/globals.h"
#include "shell/lister_hooks.h"
#include "shell/tabs.h"
#include "shell/terminal.h"
#include "core/assets.h"
#include "core/log.h"
#include "compiler/front/compiler.h"
#include "render/fonts.h"
#include "render/window.h"
#include "text/file.h"
#include "text/text_state.h"
#include <string>
#include <vector>
#include <unistd.h>

constexpr u8 C = MODIFIER_CONTROL, A = MODIFIER_ALT, S_ = MODIFIER_SHIFT;
enum : u32 {
    ENTER = 257, TAB = 258, BACKSPACE = 259, DEL = 261, RIGHT = 262, LEFT = 263, DOWN = 264, UP = 265,
    HOME = 268, END = 269, ESCAPE = 256,
};

// One key press (code, modifiers) or, with `character`, a typed code point.
struct Key {
    u32 code;
    u8 modifiers;
    bool character;
};
static Key key(u32 code, u8 modifiers = 0) { return Key{code, modifiers, false}; }
static Key typed(u32 c) { return Key{c, 0, true}; }

class Shipped_Keys : public ::testing::Test {
protected:
    static Temp_Dir *directory;
    static void SetUpTestSuite() {
        directory = new Temp_Dir();
        std::string bytes;
        for (const char *name : {"inject.8", "api.8", "custom.8", "keys.8", "syntax.8"}) {
            ASSERT_TRUE(read_whole_file(std::string(TARNO_SOURCE_DIR) + "/runtime/" + name, &bytes));
            ASSERT_TRUE(write_whole_file(directory->file(name), bytes));
        }
        if (!__global_log.buffer) init_logging();
    }
    static void TearDownTestSuite() {
        delete directory;
        directory = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(shell_test_start());
        executable_filepath = String{(u8 *)directory->path.data(), (s64)directory->path.size()};
        init_compiler(executable_filepath);
        ASSERT_TRUE(compile_custom_layer(false));
        shell_test_frame(); // #on_load's settings
    }
    static void press(const std::vector<Key> &keys) {
        for (const Key &k : keys) {
            if (k.character) push_key(EVENT_CHARACTER, k.code, 0);
            else push_key(EVENT_KEY_PRESSED, k.code, k.modifiers);
            shell_test_frame();
        }
    }
    static std::string text_of(File *f) { return std::string((const char *)file_text(f), file_length(f)); }
};
Temp_Dir *Shipped_Keys::directory;

TEST_F(Shipped_Keys, EditingAndMovingInAFile) {
    struct Case {
        const char *name, *text;
        u64 cursor;
        std::vector<Key> keys;
        const char *expected;
        s64 expected_cursor; // -1: not checked
    } cases[] = {
        {"typing", "ac", 1, {typed('b')}, "abc", 2},
        {"Enter keeps the indentation", "    x", 5, {key(ENTER)}, "    x\n    ", 10},
        {"Backspace, Delete", "abcd", 2, {key(BACKSPACE), key(DEL)}, "ad", 1},
        {"Ctrl+D duplicates the line", "ab\ncd\n", 0, {key('D', C)}, "ab\nab\ncd\n", -1},
        {"Ctrl+Shift+K deletes the line", "ab\ncd\n", 0, {key('K', C | S_)}, "cd\n", -1},
        {"Alt+Down swaps down", "ab\ncd\n", 0, {key(DOWN, A)}, "cd\nab\n", -1},
        {"Alt+Up swaps up", "ab\ncd\n", 3, {key(UP, A)}, "cd\nab\n", -1},
        {"Shift+Right selects, typing replaces", "abc", 0, {key(RIGHT, S_), key(RIGHT, S_), typed('z')}, "zc", 1},
        {"Ctrl+A then Backspace", "abc\ndef", 2, {key('A', C), key(BACKSPACE)}, "", 0},
        {"Ctrl+X then Ctrl+V twice", "abc", 0, {key('A', C), key('X', C), key('V', C), key('V', C)}, "abcabc", 6},
        {"Ctrl+C copies the line without a selection", "ab\n", 1, {key('C', C), key(END), key(ENTER), key('V', C)}, "ab\nab\n", -1},
        {"Ctrl+Z undoes the typing", "abc", 3, {typed('x'), key('Z', C)}, "abc", 3},
        {"Ctrl+End, Ctrl+Home", "a\nb\nc", 2, {key(END, C)}, "a\nb\nc", 5},
        {"Ctrl+Home", "a\nb\nc", 4, {key(HOME, C)}, "a\nb\nc", 0},
        {"Home goes to the first non-blank", "   xy", 5, {key(HOME)}, "   xy", 3},
        {"End", "ab\ncd", 0, {key(END)}, "ab\ncd", 2},
        {"Down, Up keep the column", "abc\nabc\n", 2, {key(DOWN)}, "abc\nabc\n", 6},
        {"Ctrl+Right to the next token", "foo bar", 0, {key(RIGHT, C)}, "foo bar", 4},
        {"Ctrl+Left to the previous token", "foo bar", 7, {key(LEFT, C)}, "foo bar", 4},
        {"Tab with nothing to complete", "", 0, {typed('\t')}, "    ", 4}, // the window sends Tab as a character
    };
    for (const Case &c : cases) {
        File *file = open_test_file(directory->path, "edit.txt", c.text);
        ASSERT_NE(file, nullptr) << c.name;
        shell_test_frame();
        file->cursor = file->selection_anchor = c.cursor;
        file_update_selection_pointers(file);
        shell_test_frame();
        press(c.keys);
        EXPECT_EQ(text_of(file), c.expected) << c.name;
        if (c.expected_cursor >= 0) {
            EXPECT_EQ(file->cursor, (u64)c.expected_cursor) << c.name;
        }
        close_tab(current_tab());
        shell_test_frame();
    }
}

TEST_F(Shipped_Keys, TabsListersAndSettings) {
    ASSERT_NE(open_test_file(directory->path, "one.txt", "1\n2\n3\n4\n"), nullptr);
    shell_test_frame();
    press({key('N', C)});
    ASSERT_EQ(num_tabs(), 2u) << "Ctrl+N";
    press({key('T', C)});
    ASSERT_EQ(num_tabs(), 3u) << "Ctrl+T";
    EXPECT_EQ(current_tab()->kind, TAB_TERMINAL);
    press({key('1', C)});
    EXPECT_EQ(current_tab()->index, 0u) << "Ctrl+1";
    press({key(TAB, C)});
    EXPECT_EQ(current_tab()->kind, TAB_TERMINAL) << "Ctrl+Tab: the tab used before";
    press({key('W', C)});
    EXPECT_EQ(num_tabs(), 2u) << "Ctrl+W";
    press({key('1', C)});
    File *file = tab_file(current_tab());
    ASSERT_NE(file, nullptr);

    // Ctrl+G, a number, Enter: the cursor on that line.
    press({key('G', C)});
    EXPECT_TRUE(global_flags & LISTER_SHOW_SEARCH_LISTER) << "Ctrl+G";
    press({typed('3'), key(ENTER)});
    EXPECT_EQ(file->cursor, 4u) << "Go to line 3";
    EXPECT_FALSE(global_flags & LISTER_SHOW_SEARCH_LISTER);
    // Ctrl+F and Ctrl+O open listers; Escape closes them.
    press({key('F', C)});
    EXPECT_TRUE(global_flags & LISTER_SHOW_SEARCH_LISTER) << "Ctrl+F";
    press({key(ESCAPE)});
    EXPECT_FALSE(global_flags & LISTER_SHOW_SEARCH_LISTER) << "Escape";
    press({key('H', C)});
    EXPECT_TRUE(global_flags & LISTER_SHOW_SEARCH_LISTER) << "Ctrl+H";
    press({key(ESCAPE)});
    press({key('O', C)});
    EXPECT_TRUE(global_flags & LISTER_SHOW_FILE_LISTER) << "Ctrl+O";
    press({key(ESCAPE)});
    EXPECT_FALSE(global_flags & LISTER_SHOW_FILE_LISTER);

    u32 flags = global_settings_flags;
    press({key('L', C)});
    EXPECT_NE(global_settings_flags & SETTINGS_SHOW_LINE_NUMBERS, flags & SETTINGS_SHOW_LINE_NUMBERS) << "Ctrl+L";
    // The setting; headless there is no screen to size the fonts by.
    f32 size = global_font_size_setting;
    press({key('=', C)});
    EXPECT_GT(global_font_size_setting, size) << "Ctrl+=";
    press({key('-', C), key('-', C)});
    EXPECT_LT(global_font_size_setting, size) << "Ctrl+-";
}

// In a terminal tab Enter runs the typed line and Up / Down walk the history.
TEST_F(Shipped_Keys, TerminalRunsTheLineAndWalksItsHistory) {
    press({key('T', C)});
    Tab *tab = current_tab();
    ASSERT_TRUE(tab && tab->kind == TAB_TERMINAL);
    Terminal *terminal = (Terminal *)tab->content;
    for (const char *command : {"echo one", "echo two"}) {
        std::vector<Key> keys;
        for (const char *c = command; *c; c++) keys.push_back(typed((u8)*c));
        keys.push_back(key(ENTER));
        press(keys);
        Terminal_Result *r = terminal->current_result;
        ASSERT_NE(r, nullptr) << command;
        for (int i = 0; i < 5000 && (__atomic_load_n(&r->flags, __ATOMIC_SEQ_CST) & RESULT_RUNNING); i++) usleep(2000);
        EXPECT_EQ(std::string((const char *)r->command.data, r->command.count), command);
    }
    EXPECT_EQ(text_of(tab->input_line), "");
    struct Step { u32 code; const char *line; } steps[] = {
        {UP, "echo two"}, {UP, "echo one"}, {UP, "echo one"}, {DOWN, "echo two"}, {DOWN, ""},
    };
    for (const Step &step : steps) {
        press({key(step.code)});
        EXPECT_EQ(text_of(tab->input_line), step.line);
    }
    close_tab(tab);
}

