// The editor, tabs, settings, listers and terminals through handle_foreign_call,
// with test hooks standing in for the shell.
#include <string>
#include <vector>
#include "editor_api_test_util.h"
#include "text/tokeniser.h"

// A shell that records what the editor API asks of it.
struct Fake_Shell {
    u64 flags = 1;
    u8 context = 1;
    std::vector<u64> hidden_at; // one per tab
    u32 current = 0;
    bool left_lister = false;
    u32 closed = 0;
    File *added = nullptr;
    f32 font_size = 20;
    u32 font_size_calls = 0;
    const Api_Settings *applied = nullptr;
    std::vector<Custom_Layer_Event> events;
    std::vector<std::string> called;
    std::string command;
    std::string custom_directory;
    u32 locked = 0, max_locked = 0;
};
static Fake_Shell shell;

static void record(const char *what) { shell.called.push_back(what); }

static void install_fake_shell() {
    shell = Fake_Shell();
    text_hooks.get_global_flags = [] { return shell.flags; };
    text_hooks.set_global_flags = [](u64 bits) { shell.flags |= bits; };
    text_hooks.clear_global_flags = [](u64 bits) { shell.flags &= ~bits; };
    text_hooks.get_editor_context = [] { return shell.context; };
    text_hooks.lock_tabs = [] {
        shell.locked++;
        if (shell.locked > shell.max_locked) shell.max_locked = shell.locked;
    };
    text_hooks.unlock_tabs = [] { shell.locked--; };
    text_hooks.num_tabs = [] {
        EXPECT_EQ(shell.locked, 1u) << "the tab list is read under the tabs lock";
        return (u32)shell.hidden_at.size();
    };
    text_hooks.current_tab_index = [] {
        EXPECT_EQ(shell.locked, 1u) << "the tab list is read under the tabs lock";
        return shell.current;
    };
    text_hooks.current_tab_kind = [] { return (u8)(shell.hidden_at.empty() ? 0 : 2); };
    text_hooks.tab_hidden_at = [](u32 i) { return shell.hidden_at[i]; };
    text_hooks.set_current_tab = [](u32 i, bool leave) {
        EXPECT_EQ(shell.locked, 0u) << "set_current_tab takes the tabs lock itself";
        shell.hidden_at[shell.current] = fake_now;
        shell.current = i;
        shell.left_lister = leave;
    };
    text_hooks.close_current_tab = [] { shell.closed++; };
    text_hooks.add_file_tab = [](File *file) { shell.added = file; };
    text_hooks.get_font_size = [] { return shell.font_size; };
    text_hooks.set_font_size = [](f32 size) {
        shell.font_size = size;
        shell.font_size_calls++;
    };
    text_hooks.apply_settings = [](const Api_Settings *settings) { shell.applied = settings; };
    text_hooks.custom_layer_directory = [] { return String{(u8 *)shell.custom_directory.data(), (s64)shell.custom_directory.size()}; };
    text_hooks.get_events = [](Custom_Layer_Event **events, u64 *count) {
        *events = shell.events.data();
        *count = shell.events.size();
    };
#define RECORDING(hook) text_hooks.hook = [] { record(#hook); };
    RECORDING(go_to_parent_directory) RECORDING(go_to_previous_item) RECORDING(go_to_next_item)
    RECORDING(go_to_next_prompt) RECORDING(select_item_from_lister) RECORDING(close_lister)
    RECORDING(open_directory_in_explorer) RECORDING(make_a_new_terminal) RECORDING(kill_current_terminal_process)
    RECORDING(ask_to_delete_items) RECORDING(ask_to_open_file) RECORDING(ask_to_save_file) RECORDING(search_file)
    RECORDING(search_multiple_files) RECORDING(replace_in_file) RECORDING(goto_line) RECORDING(confirm_prompt)
#undef RECORDING
    text_hooks.run_terminal_command = [](String command) {
        record("run_terminal_command");
        shell.command = to_std(command);
    };
}

struct Editor_Api_Editor : Api_Test {
    void SetUp() override {
        Api_Test::SetUp();
        install_fake_shell();
    }
};

TEST_F(Editor_Api_Editor, IdsOutsideTheTableAndMissingBlocksDoNothing) {
    File *file = open_text("abc");
    file->cursor = file->selection_anchor = 1;
    u8 block[64];
    memset(block, 0x5A, sizeof(block));
    for (u64 id : {0ull, 97ull, 1000ull, ~0ull}) handle_foreign_call(block, id);
    for (u8 b : block) ASSERT_EQ(b, 0x5A);
    EXPECT_EQ(text_of(file), "abc");
    EXPECT_EQ(file->cursor, 1u);
    EXPECT_EQ(shell.flags, 1u);
    EXPECT_TRUE(shell.called.empty());
    // A routine with a block is not run without one; one without a block is.
    handle_foreign_call(nullptr, foreign_routine_id(S("insert_text")));
    handle_foreign_call(nullptr, foreign_routine_id(S("go_right")));
    EXPECT_EQ(text_of(file), "abc");
    EXPECT_EQ(file->cursor, 2u);
}

TEST_F(Editor_Api_Editor, ListerAndTerminalRoutinesReachTheirHooks) {
    const char *routines[] = {"go_to_parent_directory", "go_to_previous_item", "go_to_next_item", "go_to_next_prompt",
                              "select_item_from_lister", "close_lister", "open_directory_in_explorer",
                              "make_a_new_terminal", "kill_current_terminal_process", "ask_to_delete_items",
                              "ask_to_open_file", "ask_to_save_file", "search_file", "search_multiple_files",
                              "replace_in_file", "goto_line", "confirm_prompt"};
    for (const char *routine : routines) {
        shell.called.clear();
        api_call(routine);
        ASSERT_EQ(shell.called.size(), 1u) << routine;
        EXPECT_EQ(shell.called[0], routine);
    }
    api_call_string("run_terminal_command", "make -j2");
    EXPECT_EQ(shell.command, "make -j2");
}

TEST_F(Editor_Api_Editor, FlagsAndContext) {
    api_call("toggle_focus_mode");
    EXPECT_EQ(shell.flags, 3u);
    api_call("toggle_focus_mode");
    EXPECT_EQ(shell.flags, 1u);
    api_call("exit_program");
    EXPECT_EQ(shell.flags, 0u);
    shell.context = 4;
    Api_U8_Result_Block context = {0};
    api_call("get_context", &context);
    EXPECT_EQ(context.result, 4);
    u8 before = global_settings_flags;
    api_call("toggle_line_numbers");
    EXPECT_EQ(global_settings_flags, before ^ DISPLAY_LINE_NUMBERS);
}

TEST_F(Editor_Api_Editor, TabsAreCountedChosenAndSwitchedBetweenTheTwoUsedLast) {
    shell.hidden_at = {100, 500, 300, 500};
    shell.current = 2;
    Api_U32_Result_Block count = {}, index = {};
    api_call("get_num_tabs", &count);
    api_call("get_current_tab_index", &index);
    EXPECT_EQ(count.result, 4u);
    EXPECT_EQ(index.result, 2u);
    Api_U8_Result_Block kind = {};
    api_call("get_current_tab_type", &kind);
    EXPECT_EQ(kind.result, 2);
    Api_U32_Block tab = {4}; // one past the last: nothing
    api_call("set_current_tab", &tab);
    EXPECT_EQ(shell.current, 2u);
    tab.value = 0;
    api_call("set_current_tab", &tab);
    EXPECT_EQ(shell.current, 0u);
    EXPECT_TRUE(shell.left_lister);
    // Tab 2 was just hidden: switch_tabs goes back to it, then to 0, and so on.
    fake_now = 1000;
    api_call("switch_tabs");
    EXPECT_EQ(shell.current, 2u);
    fake_now = 2000;
    api_call("switch_tabs");
    EXPECT_EQ(shell.current, 0u);
    fake_now = 3000;
    api_call("switch_tabs");
    EXPECT_EQ(shell.current, 2u);
    EXPECT_EQ(shell.locked, 0u);
    EXPECT_EQ(shell.max_locked, 1u);
    // Equal times: the first such tab.
    shell.hidden_at = {7, 9, 9};
    shell.current = 0;
    api_call("switch_tabs");
    EXPECT_EQ(shell.current, 1u);
    // One tab: nothing to switch to.
    shell.hidden_at = {0};
    shell.current = 0;
    api_call("switch_tabs");
    EXPECT_EQ(shell.current, 0u);
}

TEST_F(Editor_Api_Editor, NewAndClosedFileTabs) {
    api_call("make_a_new_file");
    ASSERT_NE(shell.added, nullptr);
    EXPECT_TRUE(file_has_flags(shell.added, FILE_IN_USE | FILE_UNSAVED));
    EXPECT_EQ(file_length(shell.added), 0u);
    EXPECT_EQ(to_std(shell.added->line_ending), "\n");
    api_call("close_current_tab");
    EXPECT_EQ(shell.closed, 1u);
}

TEST_F(Editor_Api_Editor, FontSizeIsClampedAndEveryFileTabReCentres) {
    File *a = open_text("a", "a.txt");
    File *b = open_text("b", "b.txt");
    const struct {
        f32 asked, stored;
    } cases[] = {{10, 13.5f}, {13.5f, 13.5f}, {24, 24}, {-1, 13.5f}, {__builtin_nanf(""), 13.5f}};
    for (const auto &c : cases) {
        file_clear_flags(a, FILE_CENTRE_CURSOR);
        file_clear_flags(b, FILE_CENTRE_CURSOR);
        Api_F32_Block size = {c.asked};
        api_call("set_font_size", &size);
        EXPECT_EQ(shell.font_size, c.stored) << c.asked;
        Api_F32_Result_Block got = {};
        api_call("get_font_size", &got);
        EXPECT_EQ(got.result, c.stored);
        EXPECT_TRUE(file_has_flags(a, FILE_CENTRE_CURSOR) && file_has_flags(b, FILE_CENTRE_CURSOR)) << c.asked;
    }
}

TEST_F(Editor_Api_Editor, EventsAreHandedAsAView) {
    shell.events = {{1, 'a', 0, {}}, {2, 265, CUSTOM_LAYER_CONTROL | CUSTOM_LAYER_SHIFT, {}}};
    Api_Events_Block b = {};
    api_call("get_events", &b);
    ASSERT_EQ(b.result.count, 2);
    EXPECT_EQ(b.result.data, shell.events.data());
    EXPECT_EQ(b.result.data[1].code, 265u);
    EXPECT_EQ(b.result.data[1].modifiers, 5);
    shell.events.clear();
    api_call("get_events", &b);
    EXPECT_EQ(b.result.count, 0);
}

TEST_F(Editor_Api_Editor, DirectoryOfTheCurrentTabElseTheWorkingDirectory) {
    Api_String_Result_Block b = {};
    api_call("get_current_directory_path", &b);
    EXPECT_EQ(to_std(b.result), to_std(filepath_to_string(&editor_working_directory)));
    static Filepath directory;
    string_to_filepath(&directory, (const u8 *)dir.path.data(), (s64)dir.path.size());
    text_hooks.current_tab_directory = [] { return (const Filepath *)&directory; };
    api_call("get_current_directory_path", &b);
    EXPECT_EQ(to_std(b.result), dir.path);
}

TEST_F(Editor_Api_Editor, SettingsReachTheTextCoreAndTheShell) {
    String extensions[] = {S("PY")};
    String blacklisted[] = {S("o"), S("png")};
    Api_Tokenisation_Hint hint = {};
    hint.extensions = {extensions, 1, 1};
    hint.single_line_comment = S("#");
    Api_Settings_Block block = {};
    Api_Settings &s = block.settings;
    s.ui_theme.top_bar = {0.1f, 0.2f, 0.3f, 1};
    s.text_theme.cursor = {1, 0, 0, 1};
    s.display_flags = DISPLAY_LINE_NUMBERS | DISPLAY_WHITESPACE;
    s.spaces_per_tab = 2;
    s.font_size = 10;
    s.tokenisation_hints = {&hint, 1, 1};
    s.blacklisted_extensions = {blacklisted, 2, 2};
    api_call("set_settings", &block);
    EXPECT_EQ(global_settings_flags, DISPLAY_LINE_NUMBERS | DISPLAY_WHITESPACE);
    EXPECT_EQ(global_num_visual_spaces_per_tab, 2u);
    Api_String_Result_Block tab = {};
    api_call("get_tab_text", &tab);
    EXPECT_EQ(to_std(tab.result), "  ");
    EXPECT_EQ(shell.font_size, 13.5f);
    ASSERT_EQ(shell.applied, &s);
    EXPECT_EQ(shell.applied->ui_theme.top_bar.g, 0.2f);
    open_text("x # y", "tool.py");
    Api_String_Result_Block comment = {};
    api_call("get_single_line_comment_from_tokenisation_hints", &comment);
    EXPECT_EQ(to_std(comment.result), "#");
    std::string object = dir.file("x.o");
    EXPECT_TRUE(filepath_is_blacklisted((const u8 *)object.data(), (s64)object.size(), true));
    EXPECT_FALSE(filepath_is_blacklisted((const u8 *)"a.c", 3, true));
    // The same size again resizes nothing; zero keeps the size and the tab width.
    u32 calls = shell.font_size_calls;
    api_call("set_settings", &block);
    EXPECT_EQ(shell.font_size_calls, calls);
    s.font_size = 0;
    s.spaces_per_tab = 0;
    api_call("set_settings", &block);
    EXPECT_EQ(shell.font_size, 13.5f);
    EXPECT_EQ(global_num_visual_spaces_per_tab, 2u);
}

TEST_F(Editor_Api_Editor, DamagedSettingsListsAreLeftOutWithAMessage) {
    Api_Settings_Block block = {};
    block.settings.tokenisation_hints = {nullptr, 3, 3};
    block.settings.blacklisted_extensions = {nullptr, -1, 0};
    block.settings.spaces_per_tab = 200;
    api_call("set_settings", &block);
    EXPECT_NE(to_std(editor_last_error()).find("not usable"), std::string::npos);
    EXPECT_EQ(global_num_visual_spaces_per_tab, 4u);
}

TEST_F(Editor_Api_Editor, TheSyntaxFileChoiceMovesOrCreatesSyntax8AndLosesNothing) {
    shell.custom_directory = dir.path;
    Api_Settings_Block block = {};
    std::string got;
    // Own: an empty syntax.8 appears; an existing one is kept as it is.
    block.settings.syntax_file = SYNTAX_FILE_OWN;
    api_call("set_settings", &block);
    ASSERT_TRUE(read_whole_file(dir.file("syntax.8"), &got));
    EXPECT_EQ(got, "");
    ASSERT_TRUE(write_whole_file(dir.file("syntax.8"), "mine"));
    api_call("set_settings", &block);
    ASSERT_TRUE(read_whole_file(dir.file("syntax.8"), &got));
    EXPECT_EQ(got, "mine");
    // Latest: syntax_latest.8 takes syntax.8's place; without it nothing changes.
    block.settings.syntax_file = SYNTAX_FILE_LATEST;
    api_call("set_settings", &block);
    ASSERT_TRUE(read_whole_file(dir.file("syntax.8"), &got));
    EXPECT_EQ(got, "mine");
    ASSERT_TRUE(write_whole_file(dir.file("syntax_latest.8"), "shipped"));
    api_call("set_settings", &block);
    ASSERT_TRUE(read_whole_file(dir.file("syntax.8"), &got));
    EXPECT_EQ(got, "shipped");
    EXPECT_FALSE(read_whole_file(dir.file("syntax_latest.8"), &got));
}

TEST_F(Editor_Api_Editor, HeadlessDefaultsStandInForTheShell) {
    editor_text_init(); // the real defaults, not the fake shell
    text_hooks.now = fake_clock;
    File *a = open_text("a", "a.txt");
    File *b = open_text("b", "b.txt");
    EXPECT_EQ(current_file, b);
    Api_U32_Result_Block count = {}, index = {};
    api_call("get_num_tabs", &count);
    api_call("get_current_tab_index", &index);
    EXPECT_EQ(count.result, 2u);
    EXPECT_EQ(index.result, 1u);
    Api_U32_Block tab = {0};
    api_call("set_current_tab", &tab);
    EXPECT_EQ(current_file, a);
    Api_F32_Block size = {10};
    api_call("set_font_size", &size);
    Api_F32_Result_Block got = {};
    api_call("get_font_size", &got);
    EXPECT_EQ(got.result, 13.5f);
    api_call("make_a_new_file");
    EXPECT_NE(current_file, a);
    EXPECT_NE(current_file, b);
    api_call("close_current_tab");
    EXPECT_EQ(current_file, a);
    // Lister and terminal routines do nothing.
    for (u16 id : {71, 72, 73, 74, 75, 76, 77, 79, 81, 82, 83, 87, 88, 89, 90, 92}) handle_foreign_call(nullptr, id);
    EXPECT_EQ(text_of(a), "a");
}
