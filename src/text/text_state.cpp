#include "text/text_state.h"
#include "text/file.h"
#include "text/tokeniser.h"
#include "text/editor_api_types.h"
#include "core/strings.h"
#include "core/log.h"
#include <stdio.h>
#include <unistd.h>

Text_Hooks text_hooks;
File *current_file;
File *custom_layer_execution_file;
Dynamic_Array global_tab_character;
u32 global_num_visual_spaces_per_tab = 4;
Dynamic_Array text_copied_locally;
Dynamic_Array text_copied_as_if_there_was_no_padding;
Filepath editor_working_directory;
u8 global_settings_flags;
u64 last_time_we_asked_to_disable_vsync;
u64 global_get_num_lines_time;
Dynamic_Array tokenisation_hints;
u32 tokenisation_hints_generation = 1;
String_Data tokenisation_hints_strings;
Dynamic_Array blacklisted_extensions;
Dynamic_Array blacklisted_paths;
String_Data black_list_strings;

// [SECTION] String data buckets

String string_data_add(String_Data *data, String s) {
    u64 room = data->bucket_size - sizeof(String_Data_Bucket);
    if (s.count <= 0) return String{nullptr, 0};
    if ((u64)s.count > room) {
        editor_report_error(tstring("A setting text of %lld bytes is longer than the %llu bytes allowed; it was left out.",
                                    (long long)s.count, (unsigned long long)room));
        return String{nullptr, 0};
    }
    String_Data_Bucket *bucket = data->last;
    if (!bucket || bucket->used + (u64)s.count > room) {
        // Reuse a bucket left from before a reset, else map a new one.
        String_Data_Bucket *next = bucket ? bucket->next : data->first;
        if (!next) {
            next = (String_Data_Bucket *)os_allocate_read_write(data->bucket_size);
            next->next = nullptr;
            if (bucket) bucket->next = next;
            else data->first = next;
        }
        next->used = 0;
        bucket = next;
        data->last = bucket;
    }
    u8 *at = (u8 *)(bucket + 1) + bucket->used;
    memcpy(at, s.data, (size_t)s.count);
    bucket->used += (u64)s.count;
    return String{at, s.count};
}

void string_data_reset(String_Data *data) {
    if (data->first) data->first->used = 0;
    data->last = data->first;
}

// [SECTION] Headless defaults

static Dynamic_Array headless_clipboard;
static u8 last_error_buffer[1024];
static s64 last_error_count;

static void headless_set_clipboard_text(const char *text) {
    headless_clipboard.count = 0;
    dynamic_array_append_bytes(&headless_clipboard, text, (u32)strlen(text));
}
static String headless_get_clipboard_text() { return dynamic_array_as_string(&headless_clipboard); }
static void headless_lock_tabs() {}
static void headless_unlock_tabs() {}
static File *headless_current_tab_file() { return current_file; }

// Without tabs, every open record counts as a file tab, in storage order.
static u32 headless_num_file_tabs() { return editor_num_files_in_use(); }
static File *headless_file_tab_at(u32 index) {
    for (Files_Chunk *chunk = editor_files_memory; chunk; chunk = chunk->next) {
        for (u32 i = 0; i < chunk->num_used; i++) {
            File *file = &chunk->slots[i].file;
            if (!file_has_flags(file, FILE_IN_USE)) continue;
            if (index == 0) return file;
            index--;
        }
    }
    return nullptr;
}
static String headless_terminal_selection_text() { return String{nullptr, 0}; }
static bool headless_file_lister_is_saving() { return false; }
static void headless_open_save_lister(const char *title, Filepath *) {
    editor_report_error(string_concat2("There is no file lister to show \"%\".", S(title)));
}
static bool headless_has_syntax_block() { return false; }
static void headless_run_syntax_block(File *) {}

// The shell's state as the editor API sees it when there is no shell: the
// open records stand in for the tabs, the current file for the current tab.
static u64 headless_global_flags;
static f32 headless_font_size;
constexpr u64 HEADLESS_SHOULD_RUN = 1;
constexpr u8 HEADLESS_CONTEXT_FILE = 1;
constexpr f32 HEADLESS_FONT_SIZE = 13.5f;

static u64 headless_get_global_flags() { return __atomic_load_n(&headless_global_flags, __ATOMIC_SEQ_CST); }
static void headless_set_global_flags(u64 bits) { __atomic_fetch_or(&headless_global_flags, bits, __ATOMIC_SEQ_CST); }
static void headless_clear_global_flags(u64 bits) { __atomic_fetch_and(&headless_global_flags, ~bits, __ATOMIC_SEQ_CST); }
static u8 headless_get_editor_context() { return HEADLESS_CONTEXT_FILE; }
static u32 headless_num_tabs() { return editor_num_files_in_use(); }
static u32 headless_current_tab_index() {
    for (u32 i = 0, n = editor_num_files_in_use(); i < n; i++)
        if (headless_file_tab_at(i) == current_file) return i;
    return 0;
}
static u8 headless_current_tab_kind() { return current_file ? 1 : 0; }
static u64 headless_tab_hidden_at(u32) { return 0; }
static void headless_set_current_tab(u32 index, bool) {
    File *file = headless_file_tab_at(index);
    if (file) current_file = file;
}
static void headless_close_current_tab() {
    if (!current_file) return;
    close_file(current_file);
    current_file = headless_file_tab_at(0);
}
static void headless_add_file_tab(File *file) { current_file = file; }
static const Filepath *headless_current_tab_directory() {
    return current_file && current_file->directory.count ? &current_file->directory : nullptr;
}
static f32 headless_get_font_size() { return headless_font_size; }
static void headless_set_font_size(f32 size) { headless_font_size = size; }
static void headless_apply_settings(const Api_Settings *) {}
static String headless_custom_layer_directory() { return String{nullptr, 0}; }
static void headless_get_events(Custom_Layer_Event **events, u64 *count) {
    *events = nullptr;
    *count = 0;
}
static bool headless_terminal_prompt_character(u32) { return false; }
static void headless_nothing() {}
static void headless_run_terminal_command(String) {}
// Saving needs no shell until a file has no path; then the save-lister hooks decide.
static void headless_ask_to_save_file() { editor_ask_to_save_file(); }

static void headless_report_error(String message) {
    s64 n = message.count < (s64)sizeof(last_error_buffer) ? message.count : (s64)sizeof(last_error_buffer);
    memcpy(last_error_buffer, message.data, (size_t)n);
    last_error_count = n;
    // Once logging is up, bad input is also recorded in the log.
    if (__global_log.buffer) add_log(nullptr, LOG_ERROR, "%.*s", (int)n, (const char *)last_error_buffer);
}

String editor_last_error() { return String{last_error_buffer, last_error_count}; }

void editor_report_error(String message) { text_hooks.report_error(message); }

void editor_text_place_startup_memory(void *files_chunk, void *hint_strings_bucket, void *black_list_bucket) {
    if (files_chunk && !editor_files_memory) {
        memset(files_chunk, 0, sizeof(Files_Chunk));
        editor_files_memory = (Files_Chunk *)files_chunk;
    }
    String_Data *datas[2] = {&tokenisation_hints_strings, &black_list_strings};
    void *buckets[2] = {hint_strings_bucket, black_list_bucket};
    for (int i = 0; i < 2; i++) {
        if (!buckets[i] || datas[i]->first) continue;
        String_Data_Bucket *bucket = (String_Data_Bucket *)buckets[i];
        bucket->next = nullptr;
        bucket->used = 0;
        datas[i]->first = datas[i]->last = bucket;
    }
}

void editor_text_init() {
    text_hooks.set_clipboard_text = headless_set_clipboard_text;
    text_hooks.get_clipboard_text = headless_get_clipboard_text;
    text_hooks.lock_tabs = headless_lock_tabs;
    text_hooks.unlock_tabs = headless_unlock_tabs;
    text_hooks.current_tab_file = headless_current_tab_file;
    text_hooks.num_file_tabs = headless_num_file_tabs;
    text_hooks.file_tab_at = headless_file_tab_at;
    text_hooks.terminal_selection_text = headless_terminal_selection_text;
    text_hooks.file_lister_is_saving = headless_file_lister_is_saving;
    text_hooks.open_save_lister = headless_open_save_lister;
    text_hooks.custom_layer_has_syntax_block = headless_has_syntax_block;
    text_hooks.run_syntax_block = headless_run_syntax_block;
    text_hooks.report_error = headless_report_error;
    text_hooks.now = os_get_time_microseconds;
    text_hooks.get_global_flags = headless_get_global_flags;
    text_hooks.set_global_flags = headless_set_global_flags;
    text_hooks.clear_global_flags = headless_clear_global_flags;
    text_hooks.get_editor_context = headless_get_editor_context;
    text_hooks.num_tabs = headless_num_tabs;
    text_hooks.current_tab_index = headless_current_tab_index;
    text_hooks.current_tab_kind = headless_current_tab_kind;
    text_hooks.tab_hidden_at = headless_tab_hidden_at;
    text_hooks.set_current_tab = headless_set_current_tab;
    text_hooks.close_current_tab = headless_close_current_tab;
    text_hooks.add_file_tab = headless_add_file_tab;
    text_hooks.current_tab_directory = headless_current_tab_directory;
    text_hooks.get_font_size = headless_get_font_size;
    text_hooks.set_font_size = headless_set_font_size;
    text_hooks.apply_settings = headless_apply_settings;
    text_hooks.custom_layer_directory = headless_custom_layer_directory;
    text_hooks.get_events = headless_get_events;
    text_hooks.terminal_prompt_character = headless_terminal_prompt_character;
    void (**nothing_hooks[])() = {
        &text_hooks.go_to_parent_directory, &text_hooks.go_to_previous_item, &text_hooks.go_to_next_item,
        &text_hooks.go_to_next_prompt, &text_hooks.select_item_from_lister, &text_hooks.close_lister,
        &text_hooks.open_directory_in_explorer, &text_hooks.make_a_new_terminal,
        &text_hooks.kill_current_terminal_process, &text_hooks.ask_to_delete_items, &text_hooks.ask_to_open_file,
        &text_hooks.search_file, &text_hooks.search_multiple_files,
        &text_hooks.replace_in_file, &text_hooks.goto_line, &text_hooks.confirm_prompt,
    };
    for (auto hook : nothing_hooks) *hook = headless_nothing;
    text_hooks.run_terminal_command = headless_run_terminal_command;
    text_hooks.ask_to_save_file = headless_ask_to_save_file;
    headless_global_flags = HEADLESS_SHOULD_RUN;
    headless_font_size = HEADLESS_FONT_SIZE;
    global_settings_flags = 0;

    // Close whatever a previous run left open, keeping the chunks.
    for (Files_Chunk *chunk = editor_files_memory; chunk; chunk = chunk->next)
        for (u32 i = 0; i < chunk->num_used; i++)
            if (file_has_flags(&chunk->slots[i].file, FILE_IN_USE)) close_file(&chunk->slots[i].file);
    current_file = nullptr;
    custom_layer_execution_file = nullptr;

    if (!global_tab_character.element_size) dynamic_array_init(&global_tab_character, 1);
    global_tab_character.count = 0;
    dynamic_array_append_bytes(&global_tab_character, "    ", 4);
    global_num_visual_spaces_per_tab = 4;
    if (!text_copied_locally.element_size) dynamic_array_init(&text_copied_locally, 1);
    if (!text_copied_as_if_there_was_no_padding.element_size) dynamic_array_init(&text_copied_as_if_there_was_no_padding, 1);
    if (!headless_clipboard.element_size) dynamic_array_init(&headless_clipboard, 1);
    text_copied_locally.count = 0;
    text_copied_as_if_there_was_no_padding.count = 0;
    headless_clipboard.count = 0;
    last_time_we_asked_to_disable_vsync = 0;
    global_get_num_lines_time = 0;
    last_error_count = 0;

    char cwd[4096];
    editor_working_directory.count = 0;
    if (getcwd(cwd, sizeof(cwd))) string_to_filepath(&editor_working_directory, (const u8 *)cwd, (s64)strlen(cwd));

    if (!tokenisation_hints.element_size) dynamic_array_init(&tokenisation_hints, sizeof(Tokenisation_Hint));
    tokenisation_hints_clear();
    tokenisation_hints_strings.bucket_size = TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE;
    string_data_reset(&tokenisation_hints_strings);
    blacklist_clear();
    black_list_strings.bucket_size = BLACK_LIST_STRING_DATA_BUCKET_SIZE;
    string_data_reset(&black_list_strings);
}
