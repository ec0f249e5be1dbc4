// The support file api.8: it compiles on its own with --check, and it
// declares every editor routine, by id order, as a foreign sub-program whose
// argument block the editor can read.
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>
#include "compiler_test_util.h"
#include "test_util.h"
#include "compiler/front/compiler.h"
#include "core/meow_hash.h"

static const char *const ROUTINES[96] = {
    "go_left", "go_right", "go_up", "go_down", "page_up", "page_down", "go_to_previous_non_whitespace_token",
    "go_to_next_non_whitespace_token", "go_to_file_start", "go_to_file_end", "go_to_line_start", "go_to_line_end",
    "go_to_line_padding_end", "skip_text", "duplicate_line", "insert_text", "insert_text_at", "insert_character",
    "insert_new_line", "delete_at", "delete_character_before_cursor", "delete_character_at_cursor", "delete_token",
    "delete_token_text_up_to_cursor", "delete_remaining_text_on_token", "swap_lines", "copy_line", "delete_line",
    "delete_selection", "pad_selection", "align_selection_on_token_at_cursor", "change_selection_case",
    "copy_selection_to_clipboard", "cut_selection_to_clipboard", "paste_from_clipboard", "undo",
    "go_to_previous_cursor_position", "start_selection", "stop_selection", "toggle_selection",
    "check_if_selection_is_active", "do_not_set_selection_anchor_on_click", "get_text_at", "exit_program", "set_settings",
    "get_current_directory_path", "get_file_extension", "get_events", "get_context", "get_font_size", "set_font_size",
    "get_current_tab_type", "get_line_start", "get_line_end", "set_current_tab", "get_current_tab_index", "get_num_tabs",
    "get_syntax_highlighting_info", "get_next_token", "get_previous_token", "set_text_colour", "set_cursor_offset",
    "set_selection_anchor_offset", "get_cursor_offset", "get_selection_start_offset", "get_selection_end_offset",
    "get_token_at_offset", "get_codepoint_at_offset", "get_tab_text", "get_single_line_comment_from_tokenisation_hints",
    "go_to_parent_directory", "go_to_previous_item", "go_to_next_item", "go_to_next_prompt", "select_item_from_lister",
    "close_lister", "open_directory_in_explorer", "make_a_new_file", "make_a_new_terminal", "run_terminal_command",
    "kill_current_terminal_process", "ask_to_delete_items", "ask_to_open_file", "ask_to_save_file", "switch_tabs",
    "close_current_tab", "search_file", "search_multiple_files", "replace_in_file", "goto_line", "centre_cursor_vertically",
    "confirm_prompt", "toggle_focus_mode", "toggle_line_numbers", "log", "int_to_string",
};

TEST(Compiler_Api, CompilesCleanlyAndDeclaresEveryRoutineInIdOrder) {
    // api.8 as the main file, with an empty api.8 in the root so that
    // nothing is declared twice.
    Temp_Dir root;
    std::string inject;
    ASSERT_TRUE(read_whole_file(TARNO_SOURCE_DIR "/runtime/inject.8", &inject));
    ASSERT_TRUE(write_whole_file(root.file("inject.8"), inject));
    ASSERT_TRUE(write_whole_file(root.file("api.8"), ""));
    std::string output;
    int status = run_command(std::string(TARNO_BIN_DIR) + "/tarnoc --root " + root.path + " --check --dump-globals " +
                                 TARNO_SOURCE_DIR "/runtime/api.8 2>&1",
                             &output);
    ASSERT_EQ(status, 0) << output;
    std::vector<std::string> sub_programs;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        size_t at = line.find(" : (");
        if (at != std::string::npos) sub_programs.push_back(line.substr(0, at));
    }
    ASSERT_EQ(sub_programs.size(), 96u);
    for (int id = 1; id <= 96; id++) EXPECT_EQ(sub_programs[id - 1], ROUTINES[id - 1]) << "id " << id;
}

struct Block_Case {
    const char *name;
    const char *printed;
    std::vector<u32> offsets; // of the parameters
    u32 return_offset;        // when it returns something
};

TEST(Compiler_Api, EveryRoutineIsForeignWithItsArgumentBlock) {
    Compile_Result r = compile_text_keep("");
    ASSERT_TRUE(r.ok) << r.errors;
    for (const char *name : ROUTINES) {
        Identifier *id = kept_global(name);
        ASSERT_NE(id, nullptr) << name;
        ASSERT_NE(id->signature, nullptr) << name;
        EXPECT_TRUE(id->flags & SUB_PROGRAM_FOREIGN) << name;
        EXPECT_EQ(id->constant.u, meow_hash_u64(S(name))) << name; // how the editor's table finds it
    }
    const Block_Case cases[] = {
        {"insert_text_at", "(String, u64)", {0, 16}, 0},
        {"insert_new_line", "(u8, u8)", {0, 1}, 0},
        {"get_text_at", "(u64, u32) -> String", {0, 8}, 16},
        {"get_next_token", "(u64, @ Editor_Token) -> s64", {0, 8}, 16},
        {"set_text_colour", "(u64, u32, Colour)", {0, 8, 12}, 0},
        {"get_events", "() -> [] Custom_Layer_Event", {}, 0},
        {"get_font_size", "() -> f32", {}, 0},
        {"int_to_string", "(s64) -> String", {0}, 8},
        {"get_syntax_highlighting_info", "() -> Syntax_Highlighting_Info", {}, 0},
    };
    for (const Block_Case &c : cases) {
        Identifier *id = kept_global(c.name);
        ASSERT_NE(id, nullptr) << c.name;
        String printed = type_to_string(id->type);
        EXPECT_EQ(std::string((const char *)printed.data, (size_t)printed.count), c.printed) << c.name;
        Signature *s = id->signature;
        ASSERT_EQ(s->num_parameters, (u32)c.offsets.size()) << c.name;
        for (u32 i = 0; i < s->num_parameters; i++) EXPECT_EQ(s->parameters[i].offset, c.offsets[i]) << c.name << " parameter " << i;
        if (s->return_type) {
            EXPECT_EQ(s->return_offset, c.return_offset) << c.name;
        }
    }
    Identifier *event = kept_global("Custom_Layer_Event");
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->size, 12u); // the editor hands 12-byte events
    EXPECT_EQ(kept_global("Editor_Token")->size, 16u);
}
