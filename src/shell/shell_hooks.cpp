// The shell's side of the text core's seams: the editor API reaches tabs,
// flags, fonts, themes and this frame's events through these.
#include "shell/shell.h"
#include "shell/globals.h"
#include "shell/tabs.h"
#include "shell/view_colouring.h"
#include "shell/editor_commands.h"
#include "shell/custom_layer_events.h"
#include "shell/custom_layer.h"
#include "text/file.h"
#include "text/text_state.h"
#include "text/editor_api_types.h"
#include "text/lines.h"

void install_font_hooks();
void install_lister_hooks();
void reset_shell_themes();
void *theme_storage(u32 which);
void install_view_text_hooks();

static void lock_tabs() { spin_lock(&tabs_read_lock); }
static void unlock_tabs() { spin_unlock(&tabs_read_lock); }
static File *current_tab_file() { return tab_file(current_tab()); }

static u32 count_file_tabs() {
    u32 n = 0;
    for (u32 i = 0; i < num_tabs(); i++) n += tab_at(i)->kind == TAB_FILE;
    return n;
}
static File *file_tab_at(u32 index) {
    for (u32 i = 0; i < num_tabs(); i++)
        if (tab_at(i)->kind == TAB_FILE && index-- == 0) return (File *)tab_at(i)->content;
    return nullptr;
}

// The view colours by token while no #syntax block is loaded, so the pass
// always has something to run.
static bool has_syntax_block() { return true; }
static void run_syntax_block(File *file) {
    if (custom_layer_syntax_entry) {
        spin_lock(&custom_layer_lock);
        custom_layer_syntax_entry(file);
        spin_unlock(&custom_layer_lock);
        return;
    }
    colour_by_tokens(file, file->syntax_info.start, file->syntax_info.end);
}

static u64 get_flags() { return global_flags; }
static void set_flags(u64 bits) { atomic_or(&global_flags, bits); }
static void clear_flags(u64 bits) {
    // Leaving goes through the unsaved-work guard like the window's close button.
    if (bits & SHOULD_RUN) request_exit();
    bits &= ~(u64)SHOULD_RUN;
    if (bits) atomic_and(&global_flags, ~bits);
}
static u8 get_context() { return global_editor_context; }
static u32 hook_num_tabs() { return num_tabs(); }
static u32 hook_current_tab_index() { return current_tab_index; }
static u8 hook_current_tab_kind() { return current_tab() ? current_tab()->kind : 0; }
static u64 hook_tab_hidden_at(u32 index) { return tab_at(index) ? tab_at(index)->hidden_at : 0; }
static void hook_set_current_tab(u32 index, bool leave_lister) {
    spin_lock(&tabs_read_lock);
    bool ok = index < num_tabs();
    spin_unlock(&tabs_read_lock);
    if (ok) set_current_tab(index, leave_lister);
}
static void hook_close_current_tab() { request_close_tab(current_tab()); }
static void hook_add_file_tab(File *file) { queue_add_tab_command(TAB_FILE, file); }
static const Filepath *hook_current_tab_directory() {
    File *file = tab_file(current_tab());
    return file && file->directory.count ? &file->directory : nullptr;
}
static void hook_apply_settings(const Api_Settings *settings) {
    // Both api.8's colour and the renderer's are four floats in the same order.
    memcpy(theme_storage(0), &settings->ui_theme, 9 * 16);
    memcpy(theme_storage(1), &settings->ui_theme.roundness, sizeof(f32));
    memcpy(theme_storage(2), &settings->text_theme, 6 * 16);
}
static void hook_get_events(Custom_Layer_Event **events, u64 *count) {
    *events = custom_layer_events;
    *count = custom_layer_num_events;
}

void install_shell_hooks() {
    text_hooks.lock_tabs = lock_tabs;
    text_hooks.unlock_tabs = unlock_tabs;
    text_hooks.current_tab_file = current_tab_file;
    text_hooks.num_file_tabs = count_file_tabs;
    text_hooks.file_tab_at = file_tab_at;
    text_hooks.custom_layer_has_syntax_block = has_syntax_block;
    text_hooks.run_syntax_block = run_syntax_block;
    text_hooks.get_global_flags = get_flags;
    text_hooks.set_global_flags = set_flags;
    text_hooks.clear_global_flags = clear_flags;
    text_hooks.get_editor_context = get_context;
    text_hooks.num_tabs = hook_num_tabs;
    text_hooks.current_tab_index = hook_current_tab_index;
    text_hooks.current_tab_kind = hook_current_tab_kind;
    text_hooks.tab_hidden_at = hook_tab_hidden_at;
    text_hooks.set_current_tab = hook_set_current_tab;
    text_hooks.close_current_tab = hook_close_current_tab;
    text_hooks.add_file_tab = hook_add_file_tab;
    text_hooks.current_tab_directory = hook_current_tab_directory;
    install_font_hooks();
    install_view_text_hooks();
    text_hooks.apply_settings = hook_apply_settings;
    text_hooks.get_events = hook_get_events;
    install_lister_hooks();
}

void shell_init() {
    tabs_init();
    editor_commands_init();
    reset_shell_themes();
    // Without a custom layer the view shows line numbers and the current line.
    global_settings_flags |= SETTINGS_SHOW_LINE_NUMBERS | SETTINGS_SHOW_CURRENT_LINE;
    install_shell_hooks();
    install_custom_layer_hooks();
}

File *open_file_in_new_tab(String path, s64 line) {
    File *file = add_a_file();
    if (!load_file_from_path(path, file)) {
        close_file(file);
        return nullptr;
    }
    current_file = file;
    global_editor_context = CONTEXT_FILE;
    if (line >= 0) {
        u64 offset = line > 0 ? get_offset_at_line(file_text(file), file_length(file), (u64)line) : 0;
        if (offset > file_length(file)) offset = file_length(file);
        file->cursor = offset;
        if (!file_has_flags(file, FILE_SELECTION_ACTIVE)) file->selection_anchor = offset;
        file_update_selection_pointers(file);
        file_set_flags(file, FILE_CHANGED | FILE_CENTRE_CURSOR);
        editor_stamp_activity();
    }
    queue_add_tab_command(TAB_FILE, file);
    return file;
}
