// The editor, its tabs, listers and terminals (ids 44, 48 to 52, 55 to 57
// and 71 to 93). What belongs to the shell goes through its hooks.
#include "text/editor_api_internal.h"

constexpr u64 API_SHOULD_RUN = 1; // global_flags bits
constexpr u64 API_FOCUS_MODE = 2;

void api_exit_program(u8 *) { text_hooks.clear_global_flags(API_SHOULD_RUN); }

void api_get_events(u8 *block) {
    Custom_Layer_Event *events = nullptr;
    u64 count = 0;
    text_hooks.get_events(&events, &count);
    Api_Array<Custom_Layer_Event> *result = &((Api_Events_Block *)block)->result;
    result->data = events;
    result->count = (s64)count;
    result->allocated = (s64)count;
}

void api_get_context(u8 *block) { ((Api_U8_Result_Block *)block)->result = text_hooks.get_editor_context(); }
// Reads of the tab list happen under the tabs lock.
template <typename T>
static T read_tabs(T (*hook)()) {
    text_hooks.lock_tabs();
    T value = hook();
    text_hooks.unlock_tabs();
    return value;
}
void api_get_current_tab_type(u8 *block) { ((Api_U8_Result_Block *)block)->result = read_tabs(text_hooks.current_tab_kind); }
void api_get_current_tab_index(u8 *block) { ((Api_U32_Result_Block *)block)->result = read_tabs(text_hooks.current_tab_index); }
void api_get_num_tabs(u8 *block) { ((Api_U32_Result_Block *)block)->result = read_tabs(text_hooks.num_tabs); }

void api_set_current_tab(u8 *block) {
    u32 index = ((Api_U32_Block *)block)->value;
    // set_current_tab takes the tabs lock itself.
    if (index < read_tabs(text_hooks.num_tabs)) text_hooks.set_current_tab(index, true);
}

// The other tab hidden most recently (the first of equals), so repeated
// calls alternate between the two tabs used last.
void api_switch_tabs(u8 *) {
    text_hooks.lock_tabs();
    u32 count = text_hooks.num_tabs();
    if (count < 2) {
        text_hooks.unlock_tabs();
        return;
    }
    u32 current = text_hooks.current_tab_index();
    u64 now = editor_now();
    u32 best = current;
    u64 best_age = ~0ull;
    for (u32 i = 0; i < count; i++) {
        if (i == current) continue;
        u64 hidden = text_hooks.tab_hidden_at(i);
        u64 age = now > hidden ? now - hidden : 0;
        if (age < best_age) {
            best_age = age;
            best = i;
        }
    }
    text_hooks.unlock_tabs();
    // set_current_tab takes the tabs lock itself.
    if (best != current) text_hooks.set_current_tab(best, true);
}

void api_close_current_tab(u8 *) { text_hooks.close_current_tab(); }

void api_make_a_new_file(u8 *) {
    File *file = add_a_file();
    if (file) text_hooks.add_file_tab(file);
}

void api_centre_cursor_vertically(u8 *) {
    if (current_file) file_set_flags(current_file, FILE_CENTRE_CURSOR);
}

void api_toggle_focus_mode(u8 *) {
    if (text_hooks.get_global_flags() & API_FOCUS_MODE) text_hooks.clear_global_flags(API_FOCUS_MODE);
    else text_hooks.set_global_flags(API_FOCUS_MODE);
}

// Listers and terminals: the shell's.
void api_go_to_parent_directory(u8 *) { text_hooks.go_to_parent_directory(); }
void api_go_to_previous_item(u8 *) { text_hooks.go_to_previous_item(); }
void api_go_to_next_item(u8 *) { text_hooks.go_to_next_item(); }
void api_go_to_next_prompt(u8 *) { text_hooks.go_to_next_prompt(); }
void api_select_item_from_lister(u8 *) { text_hooks.select_item_from_lister(); }
void api_close_lister(u8 *) { text_hooks.close_lister(); }
void api_open_directory_in_explorer(u8 *) { text_hooks.open_directory_in_explorer(); }
void api_make_a_new_terminal(u8 *) { text_hooks.make_a_new_terminal(); }
void api_run_terminal_command(u8 *block) {
    String command = ((Api_String_Block *)block)->text;
    if (api_string_is_usable(command)) text_hooks.run_terminal_command(command);
}
void api_kill_current_terminal_process(u8 *) { text_hooks.kill_current_terminal_process(); }
void api_ask_to_delete_items(u8 *) { text_hooks.ask_to_delete_items(); }
void api_ask_to_open_file(u8 *) { text_hooks.ask_to_open_file(); }
void api_ask_to_save_file(u8 *) { text_hooks.ask_to_save_file(); }
void api_search_file(u8 *) { text_hooks.search_file(); }
void api_search_multiple_files(u8 *) { text_hooks.search_multiple_files(); }
void api_replace_in_file(u8 *) { text_hooks.replace_in_file(); }
void api_goto_line(u8 *) { text_hooks.goto_line(); }
void api_confirm_prompt(u8 *) { text_hooks.confirm_prompt(); }
