// Process-wide state of the text core and the seams through which the layers
// above it (tabs, listers, the window system's clipboard, the custom layer)
// plug in. Headless defaults make the core usable on its own.
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "text/filepath.h"

struct File;
struct Api_Settings;
struct Custom_Layer_Event;

// Longest text a file may hold: one read() call moves at most this much, and
// Dynamic_Array counts are 32-bit.
constexpr u64 TEXT_MAX_BYTES = 0x7FFFF000;

constexpr u64 TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE = 10256; // 16-byte header + 10,240
constexpr u64 BLACK_LIST_STRING_DATA_BUCKET_SIZE = 262160;        // 16-byte header + 262,144

// Chain of fixed buckets that string settings are copied into; a copy never moves.
struct String_Data_Bucket {
    String_Data_Bucket *next;
    u64 used;
    // followed by the bytes
};
struct String_Data {
    String_Data_Bucket *first;
    String_Data_Bucket *last;
    u64 bucket_size; // including the 16-byte header
};
// Copies `s` into the chain; an empty String when it cannot fit in one bucket.
String string_data_add(String_Data *data, String s);
void string_data_reset(String_Data *data);

// Seams. Each pointer has a headless default installed by editor_text_init.
struct Text_Hooks {
    // Window-system clipboard: set takes NUL-terminated UTF-8; get returns
    // temporary or persistent bytes valid until the next call.
    void (*set_clipboard_text)(const char *text);
    String (*get_clipboard_text)();
    // Tab list: lock for reading, the file of the current tab (null when the
    // current tab shows no file), and the file tabs in tab order.
    void (*lock_tabs)();
    void (*unlock_tabs)();
    File *(*current_tab_file)();
    u32 (*num_file_tabs)();
    File *(*file_tab_at)(u32 index);
    // Text a terminal tab contributes to a copy; empty when the current tab is
    // not a terminal.
    String (*terminal_selection_text)();
    // Save-as: true while the file lister is open in save mode; opening it.
    bool (*file_lister_is_saving)();
    void (*open_save_lister)(const char *title, Filepath *directory);
    // Custom layer: whether a #syntax block exists, and running it.
    bool (*custom_layer_has_syntax_block)();
    void (*run_syntax_block)(File *file);
    // Where clear messages about bad input go (the log, once it exists).
    void (*report_error)(String message);
    // Monotonic microseconds; tests inject their own clock.
    u64 (*now)();

    // ---- The editor API's way into the shell (routines of custom.8). ----
    // global_flags: read, atomic OR, atomic AND NOT.
    u64 (*get_global_flags)();
    void (*set_global_flags)(u64 bits);
    void (*clear_global_flags)(u64 bits);
    // global_editor_context (1 file, 2 search lister, 4 file lister, 8 terminal).
    u8 (*get_editor_context)();
    // Every tab, whatever its kind. Kind: 1 file, 2 terminal, 4 compile
    // errors, 8 update; 0 when there is no current tab. The editor API calls
    // num_tabs, current_tab_index, current_tab_kind and tab_hidden_at (and
    // num_file_tabs, file_tab_at) between lock_tabs and unlock_tabs, so they
    // must not take the lock; set_current_tab, close_current_tab and
    // add_file_tab are called without it and may.
    u32 (*num_tabs)();
    u32 (*current_tab_index)();
    u8 (*current_tab_kind)();
    // When the tab was last hidden (microseconds), for switch_tabs.
    u64 (*tab_hidden_at)(u32 index);
    // index < num_tabs; leave_lister closes an open lister first.
    void (*set_current_tab)(u32 index, bool leave_lister);
    void (*close_current_tab)();
    // A new tab right after the current one showing `file` (make_a_new_file).
    void (*add_file_tab)(File *file);
    // The directory of the current tab; null means editor_working_directory.
    const Filepath *(*current_tab_directory)();
    // Font size setting: get; set takes a value already clamped to
    // MIN_FONT_SIZE and resizes the fonts.
    f32 (*get_font_size)();
    void (*set_font_size)(f32 size);
    // What set_settings leaves to the shell: themes and font pools (the text
    // core has already taken tab width, display flags, hints, blacklist,
    // font size and syntax file).
    void (*apply_settings)(const Api_Settings *settings);
    // Directory of custom.8 (where "syntax.8" lives); empty: no such files.
    String (*custom_layer_directory)();
    // The events collected for #events this frame.
    void (*get_events)(Custom_Layer_Event **events, u64 *count);
    // A character typed while a terminal prompt has the keyboard: true when
    // the terminal took it (path completion); false lets it go to the file.
    bool (*terminal_prompt_character)(u32 codepoint);
    // Listers and terminals; each does nothing headless, except
    // ask_to_save_file, which runs editor_ask_to_save_file.
    void (*go_to_parent_directory)();
    void (*go_to_previous_item)();
    void (*go_to_next_item)();
    void (*go_to_next_prompt)();
    void (*select_item_from_lister)();
    void (*close_lister)();
    void (*open_directory_in_explorer)();
    void (*make_a_new_terminal)();
    void (*run_terminal_command)(String command);
    void (*kill_current_terminal_process)();
    void (*ask_to_delete_items)();
    void (*ask_to_open_file)();
    void (*ask_to_save_file)();
    void (*search_file)();
    void (*search_multiple_files)();
    void (*replace_in_file)();
    void (*goto_line)();
    void (*confirm_prompt)();
};
extern Text_Hooks text_hooks;

extern File *current_file;
extern File *custom_layer_execution_file;
extern Dynamic_Array global_tab_character;                   // bytes inserted for a tab key
extern u32 global_num_visual_spaces_per_tab;                 // columns a tab occupies
extern Dynamic_Array text_copied_locally;                    // what the editor last put on the clipboard
extern Dynamic_Array text_copied_as_if_there_was_no_padding; // the same without alignment padding
extern u64 last_time_we_asked_to_disable_vsync;
extern u64 global_get_num_lines_time;                        // microseconds spent counting lines
extern Filepath editor_working_directory;
extern u8 global_settings_flags;                             // Api_Display_Flags of the custom layer's settings

// Custom layer settings the text core reads.
extern Dynamic_Array tokenisation_hints;       // Tokenisation_Hint
extern u32 tokenisation_hints_generation;      // bumped whenever the hints change
extern String_Data tokenisation_hints_strings;
extern Dynamic_Array blacklisted_extensions;   // String
extern Dynamic_Array blacklisted_paths;        // String
extern String_Data black_list_strings;

// Start-up hands the text core its share of the start-up block: the first
// chunk of file records (EDITOR_FILES_MEMORY bytes) and the first buckets of
// the hint and blacklist strings. Any may be null (mapped when first needed).
// Call before editor_text_init.
void editor_text_place_startup_memory(void *files_chunk, void *hint_strings_bucket, void *black_list_bucket);

// Sets the globals to their start-up values and installs the headless
// hooks. Safe to call again (tests do, to start clean).
void editor_text_init();

// The last message handed to report_error by the headless default.
String editor_last_error();
void editor_report_error(String message);
inline u64 editor_now() { return text_hooks.now(); }
// Marks activity for the frame loop's vertical-sync decision.
inline void editor_stamp_activity() { last_time_we_asked_to_disable_vsync = editor_now(); }
