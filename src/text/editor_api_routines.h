// The editor API's routines in id order, one X(id, name) each. Every body
// is `void api_<name>(u8 *block)`; the table, the dispatch and the bodies'
// declarations are all made from this one list.
#pragma once
#include "core/base.h"

#define API_ROUTINES(X) \
    X(1, go_left) \
    X(2, go_right) \
    X(3, go_up) \
    X(4, go_down) \
    X(5, page_up) \
    X(6, page_down) \
    X(7, go_to_previous_non_whitespace_token) \
    X(8, go_to_next_non_whitespace_token) \
    X(9, go_to_file_start) \
    X(10, go_to_file_end) \
    X(11, go_to_line_start) \
    X(12, go_to_line_end) \
    X(13, go_to_line_padding_end) \
    X(14, skip_text) \
    X(15, duplicate_line) \
    X(16, insert_text) \
    X(17, insert_text_at) \
    X(18, insert_character) \
    X(19, insert_new_line) \
    X(20, delete_at) \
    X(21, delete_character_before_cursor) \
    X(22, delete_character_at_cursor) \
    X(23, delete_token) \
    X(24, delete_token_text_up_to_cursor) \
    X(25, delete_remaining_text_on_token) \
    X(26, swap_lines) \
    X(27, copy_line) \
    X(28, delete_line) \
    X(29, delete_selection) \
    X(30, pad_selection) \
    X(31, align_selection_on_token_at_cursor) \
    X(32, change_selection_case) \
    X(33, copy_selection_to_clipboard) \
    X(34, cut_selection_to_clipboard) \
    X(35, paste_from_clipboard) \
    X(36, undo) \
    X(37, go_to_previous_cursor_position) \
    X(38, start_selection) \
    X(39, stop_selection) \
    X(40, toggle_selection) \
    X(41, check_if_selection_is_active) \
    X(42, do_not_set_selection_anchor_on_click) \
    X(43, get_text_at) \
    X(44, exit_program) \
    X(45, set_settings) \
    X(46, get_current_directory_path) \
    X(47, get_file_extension) \
    X(48, get_events) \
    X(49, get_context) \
    X(50, get_font_size) \
    X(51, set_font_size) \
    X(52, get_current_tab_type) \
    X(53, get_line_start) \
    X(54, get_line_end) \
    X(55, set_current_tab) \
    X(56, get_current_tab_index) \
    X(57, get_num_tabs) \
    X(58, get_syntax_highlighting_info) \
    X(59, get_next_token) \
    X(60, get_previous_token) \
    X(61, set_text_colour) \
    X(62, set_cursor_offset) \
    X(63, set_selection_anchor_offset) \
    X(64, get_cursor_offset) \
    X(65, get_selection_start_offset) \
    X(66, get_selection_end_offset) \
    X(67, get_token_at_offset) \
    X(68, get_codepoint_at_offset) \
    X(69, get_tab_text) \
    X(70, get_single_line_comment_from_tokenisation_hints) \
    X(71, go_to_parent_directory) \
    X(72, go_to_previous_item) \
    X(73, go_to_next_item) \
    X(74, go_to_next_prompt) \
    X(75, select_item_from_lister) \
    X(76, close_lister) \
    X(77, open_directory_in_explorer) \
    X(78, make_a_new_file) \
    X(79, make_a_new_terminal) \
    X(80, run_terminal_command) \
    X(81, kill_current_terminal_process) \
    X(82, ask_to_delete_items) \
    X(83, ask_to_open_file) \
    X(84, ask_to_save_file) \
    X(85, switch_tabs) \
    X(86, close_current_tab) \
    X(87, search_file) \
    X(88, search_multiple_files) \
    X(89, replace_in_file) \
    X(90, goto_line) \
    X(91, centre_cursor_vertically) \
    X(92, confirm_prompt) \
    X(93, toggle_focus_mode) \
    X(94, toggle_line_numbers) \
    X(95, log) \
    X(96, int_to_string)

#define API_DECLARE_BODY(id, name) void api_##name(u8 *block);
API_ROUTINES(API_DECLARE_BODY)
#undef API_DECLARE_BODY
