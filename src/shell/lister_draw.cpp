// The listers and terminals inside the window: the editor API's routines for
// them (through the text core's hooks) and terminal tabs.
#include "shell/file_lister.h"
#include "shell/file_view.h"
#include "shell/frame.h"
#include "shell/globals.h"
#include "shell/lister_hooks.h"
#include "shell/notification.h"
#include "shell/os_spawn.h"
#include "shell/search.h"
#include "shell/tab_contents.h"
#include "shell/tabs.h"
#include "shell/editor_commands.h"
#include "shell/terminal.h"
#include "render/fonts.h"
#include "render/renderer.h"
#include "render/ui.h"
#include "render/window.h"
#include "core/strings.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"
#include <math.h>

static Terminal *tab_terminal(Tab *tab) { return tab && tab->kind == TAB_TERMINAL ? (Terminal *)tab->content : nullptr; }

static const Filepath *directory_for_new_things() {
    Tab *tab = current_tab();
    if (Terminal *t = tab_terminal(tab)) return &t->directory;
    File *file = tab_file(tab);
    if (file && file->directory.count) return &file->directory;
    return &editor_working_directory;
}

// [SECTION] Routines

static void make_a_new_terminal() {
    const Filepath *directory = directory_for_new_things();
    Tab *tab = add_a_tab(TAB_TERMINAL);
    if (!tab) return;
    tab->content = add_a_terminal(directory);
    tab->input_line = add_a_file();
    file_set_flags(tab->input_line, FILE_ONE_LINE | FILE_NEVER_COLOURED);
    file_clear_flags(tab->input_line, FILE_UNSAVED);
    set_tab_title(tab, string_concat2("Terminal | %", filepath_to_string(directory)));
    set_current_tab(tab->index, true);
}

static void confirm_prompt() {
    Tab *tab = current_tab();
    Terminal *terminal = tab_terminal(tab);
    if (!terminal) return;
    spin_lock(&tabs_read_lock);
    u8 title[TAB_TITLE_CAPACITY];
    String new_title = {};
    terminal->view.scroll_up = 0; // back to the newest output
    execute_terminal_command_line(terminal, tab->input_line, &new_title, title, sizeof(title));
    spin_unlock(&tabs_read_lock);
    if (new_title.count) set_tab_title(tab, new_title);
}

static void run_terminal_command(String command) {
    if (!tab_terminal(current_tab())) make_a_new_terminal();
    Tab *tab = current_tab();
    if (!tab_terminal(tab)) return;
    File *input = tab->input_line;
    if (file_length(input)) text_raw_remove(input, 0, file_length(input));
    if (command.count) text_raw_insert(input, 0, command.data, (u64)command.count);
    confirm_prompt();
}

static void kill_current_terminal_process() {
    if (Terminal *t = tab_terminal(current_tab())) kill_terminal_process(t);
}

static void go_to_item(bool previous) {
    u8 context = global_editor_context;
    if (context & CONTEXT_FILE_LISTER) previous ? file_lister_go_to_previous_item() : file_lister_go_to_next_item();
    else if (context & CONTEXT_SEARCH_LISTER) previous ? search_lister_go_to_previous_item() : search_lister_go_to_next_item();
    else if (Terminal *t = tab_terminal(current_tab()))
        previous ? terminal_history_previous(t, current_tab()->input_line) : terminal_history_next(t, current_tab()->input_line);
}
static void go_to_previous_item() { go_to_item(true); }
static void go_to_next_item() { go_to_item(false); }

static void go_to_parent_directory() {
    if (global_editor_context & CONTEXT_FILE_LISTER) file_lister_go_to_parent_directory();
}

// Replace has two fields: the prompt moves between them.
static void go_to_next_prompt() {
    if (!(global_editor_context & CONTEXT_SEARCH_LISTER) || global_search_lister.mode != SEARCH_REPLACE) return;
    current_file = current_file == global_search_lister.search_text ? global_search_lister.replacement_text
                                                                    : global_search_lister.search_text;
}

static void close_lister() {
    if (global_editor_context & CONTEXT_FILE_LISTER) close_file_lister();
    if (global_editor_context & CONTEXT_SEARCH_LISTER) close_search_lister();
    ui_layer_in_focus = 0;
    if (current_tab()) set_current_tab(current_tab_index, true);
}

static void select_item_from_lister() {
    if (global_editor_context & CONTEXT_FILE_LISTER) file_lister_select_item();
    else if (global_editor_context & CONTEXT_SEARCH_LISTER) search_lister_select_item();
    else return;
    if (!(global_editor_context & CONTEXT_LISTER)) ui_layer_in_focus = 0;
}

static void open_lister(String title, u8 mode) {
    open_file_lister(title, directory_for_new_things(), mode);
    ui_layer_in_focus = 1;
}
static void ask_to_delete_items() { open_lister(S("Delete files/directories"), FILE_LISTER_DELETE); }
static void ask_to_open_file() { open_lister(S("Open File"), FILE_LISTER_OPEN); }
static bool file_lister_is_saving() { return (global_flags & SHOW_FILE_LISTER) && global_file_lister.mode == FILE_LISTER_SAVE; }
static void open_save_lister(const char *title, Filepath *directory) {
    open_file_lister(S(title), directory, FILE_LISTER_SAVE);
    ui_layer_in_focus = 1;
}

static void open_search(String title, String second, u8 mode) {
    open_search_lister(title, second, mode);
    if (global_flags & SHOW_SEARCH_LISTER) ui_layer_in_focus = 1;
}
static void search_file() { open_search(S("Search"), String{}, SEARCH_CURRENT_FILE); }
static void search_multiple_files() { open_search(S("Search Files"), String{}, SEARCH_FILES); }
static void replace_in_file() { open_search(S("Replace"), S("With"), SEARCH_REPLACE); }
static void goto_line() { open_search(S("Go to line"), String{}, SEARCH_GO_TO_LINE); }

static bool terminal_prompt_character(u32 codepoint) {
    Tab *tab = current_tab();
    if (codepoint != '\t' || !tab_terminal(tab)) return false;
    auto_complete_filepath_in_terminal(tab_terminal(tab), tab->input_line);
    return true;
}

// The tab of a file already open at `path` becomes current.
static File *find_open_file_tab(String path) {
    for (u32 i = 0; i < num_tabs(); i++) {
        File *file = tab_file(tab_at(i));
        if (!file || file->name.count == 0) continue;
        const char *full = file_full_path(file);
        if ((s64)strlen(full) == path.count && memcmp(full, path.data, (size_t)path.count) == 0) {
            set_current_tab(i, false);
            return file;
        }
    }
    return nullptr;
}
static void add_file_tab(File *file) { queue_add_tab_command(TAB_FILE, file); }

static void close_terminal_of_tab(void *terminal) { close_terminal((Terminal *)terminal); }

// [SECTION] Drawing

// The lister panels (lister_panels_draw.cpp).
void draw_file_lister_panel();
void draw_search_lister_panel();

static Colour to_colour(Terminal_Colour c) { return Colour{c.r, c.g, c.b, c.a}; }

static Colour with_alpha(Colour c, f32 a) { return Colour{c.x, c.y, c.z, c.w * a}; }

// The history's scroll bar: the thumb drags, a press on the track pages
// towards it. What it changes shows from the next frame, which it asks for.
static f32 draw_terminal_scroll_bar(Terminal *terminal, Vector2 top_left, Vector2 size) {
    Terminal_View *view = &terminal->view;
    Terminal_Scroll_Bar bar = terminal_scroll_bar(view, size.y);
    if (bar.thumb_height <= 0) {
        view->dragging_bar = 0;
        return 0;
    }
    f32 width = fmaxf(6.0f, roundf((f32)ui_font_pool.size * 0.5f));
    Vector2 track = {top_left.x + size.x - width, top_left.y};
    Vector2 thumb = {track.x, track.y + bar.thumb_y};
    bool focused = ui_layer_is_focused();
    bool over = focused && ui_mouse_is_inside(thumb, Vector2{width, bar.thumb_height});
    u64 first = bar.most - (view->scroll_up < bar.most ? view->scroll_up : bar.most);
    if (view->dragging_bar) {
        if (!(ui_flags & UI_LEFT_BUTTON_HELD)) view->dragging_bar = 0;
        else {
            f64 moved = bar.travel > 0 ? (f64)(ui_mouse_position.y - view->drag_mouse_y) / bar.travel * (f64)bar.most : 0;
            f64 to = (f64)view->drag_first + moved;
            terminal_view_show_from(terminal, to <= 0 ? 0 : (u64)llround(to));
            ui_do_not_stop_after_current_frame();
        }
    } else if (over && ui_consume_left_click()) {
        view->dragging_bar = 1;
        view->drag_first = first;
        view->drag_mouse_y = ui_mouse_position.y;
        ui_do_not_stop_after_current_frame();
    } else if (focused && ui_mouse_is_inside(track, Vector2{width, size.y}) && ui_consume_left_click()) {
        terminal_view_scroll(terminal, ui_mouse_position.y < thumb.y ? (s64)view->num_lines : -(s64)view->num_lines);
        ui_flags |= UI_ANOTHER_FRAME;
    }
    Vector2 clip_br = {top_left.x + size.x, top_left.y + size.y};
    draw_quad_scissored(track, Vector2{width, size.y}, with_alpha(ui_theme[2], 0.06f), top_left, clip_br);
    Colour ink = with_alpha(ui_theme[2], over || view->dragging_bar ? 0.45f : 0.25f);
    draw_quad_scissored(thumb, Vector2{width, bar.thumb_height}, ink, top_left, clip_br);
    return width;
}

static void draw_terminal_tab(Vector2 top_left, Vector2 size, Tab *tab) {
    Terminal *terminal = tab_terminal(tab);
    if (!terminal) return;
    Font_Pool *pool = &code_font_pool;
    f32 lh = pool->line_height > 0 ? ceilf(pool->line_height) : (f32)pool->size;
    if (lh <= 0) return;
    draw_quad_scissored(top_left, size, text_theme[TEXT_THEME_BACKGROUND], top_left, Vector2{top_left.x + size.x, top_left.y + size.y});
    f32 input_height = lh + 8;
    f32 history_height = size.y - input_height;
    u32 visible = history_height > 0 ? (u32)(history_height / lh) : 0;
    // The wheel scrolls back through the history, three lines a notch.
    if (ui_layer_is_focused() && ui_mouse_is_inside(top_left, Vector2{size.x, history_height})) {
        f32 wheel = ui_gather_scroll();
        if (wheel != 0) {
            terminal_view_scroll(terminal, (s64)lroundf(-wheel / 100.0f * 3));
            editor_stamp_activity();
        }
    }
    const Terminal_View *view = terminal_view_layout(terminal, visible);
    const Terminal_Run *runs = view->runs;
    u32 n = view->num_runs;
    f32 bar_width = draw_terminal_scroll_bar(terminal, top_left, Vector2{size.x, history_height});
    Vector2 clip_br = {top_left.x + size.x - bar_width, top_left.y + history_height};
    f32 x = top_left.x + 6;
    u32 line = ~0u;
    for (u32 i = 0; i < n; i++) {
        const Terminal_Run *r = &runs[i];
        if (r->line != line) x = top_left.x + 6, line = r->line;
        f32 y = top_left.y + r->line * lh;
        f32 w = get_text_advance(r->text.data, r->text.count, pool, 4);
        Colour background = to_colour(r->background);
        if (!r->header && (background.x > 0 || background.y > 0 || background.z > 0))
            draw_quad_scissored(Vector2{x, y}, Vector2{w, lh}, background, top_left, clip_br);
        Colour fg = r->header ? ui_theme[4] : to_colour(r->foreground);
        if (r->header) {
            draw_text_scissored((const u8 *)"> ", 2, pool, ANCHOR_TOP_LEFT, x, y, fg, top_left, clip_br);
            x += get_text_advance((const u8 *)"> ", 2, pool, 4);
        }
        draw_text_scissored(r->text.data, r->text.count, pool, ANCHOR_TOP_LEFT, x, y, fg, top_left, clip_br);
        x += w;
    }
    Vector2 input_at = {top_left.x, top_left.y + size.y - input_height};
    draw_quad_scissored(input_at, Vector2{size.x, input_height}, ui_theme[0], input_at, Vector2{top_left.x + size.x, top_left.y + size.y});
    draw_file(Vector2{input_at.x + 4, input_at.y + 4}, Vector2{size.x - 8, lh}, tab->input_line, pool);
    if (terminal->current_result && (terminal->current_result->flags & RESULT_RUNNING)) ui_do_not_stop_after_current_frame();
}

// The file lister's directory while it is open, else the current file's,
// else the one the editor started in.
static void open_directory_in_explorer() {
    const Filepath *directory = &editor_working_directory;
    if (global_flags & LISTER_SHOW_FILE_LISTER) directory = &global_file_lister.directory;
    else if (current_file && current_file->directory.count) directory = &current_file->directory;
    if (directory->count) os_open_file_in_other_app(filepath_to_string(directory));
}

// Runs right after editor_text_init, which forgot every file record: the
// listers' fields are made again.
void install_lister_hooks() {
    global_search_lister.search_text = global_search_lister.replacement_text = nullptr;
    global_file_lister.filter = nullptr;
    init_terminals();
    init_search_lister();
    init_file_lister();
    worker_hooks.wake_main_loop = platform_wake_main_thread;
    worker_hooks.create_os_notification = create_os_notification;
    worker_hooks.window_is_focused = platform_window_is_focused;
    text_hooks.open_directory_in_explorer = open_directory_in_explorer;
    lister_global_flags = &global_flags;
    lister_editor_context = &global_editor_context;
    search_tab_hooks.find_file_tab = find_open_file_tab;
    search_tab_hooks.add_file_tab = add_file_tab;
    shutdown_terminals_hook = kill_all_terminal_processes;
    close_terminal_hook = close_terminal_of_tab;
    draw_terminal_tab_hook = draw_terminal_tab;
    draw_file_lister_hook = draw_file_lister_panel;
    draw_search_lister_hook = draw_search_lister_panel;
    text_hooks.go_to_parent_directory = go_to_parent_directory;
    text_hooks.go_to_previous_item = go_to_previous_item;
    text_hooks.go_to_next_item = go_to_next_item;
    text_hooks.go_to_next_prompt = go_to_next_prompt;
    text_hooks.select_item_from_lister = select_item_from_lister;
    text_hooks.close_lister = close_lister;
    text_hooks.make_a_new_terminal = make_a_new_terminal;
    text_hooks.run_terminal_command = run_terminal_command;
    text_hooks.kill_current_terminal_process = kill_current_terminal_process;
    text_hooks.ask_to_delete_items = ask_to_delete_items;
    text_hooks.ask_to_open_file = ask_to_open_file;
    text_hooks.file_lister_is_saving = file_lister_is_saving;
    text_hooks.open_save_lister = open_save_lister;
    text_hooks.search_file = search_file;
    text_hooks.search_multiple_files = search_multiple_files;
    text_hooks.replace_in_file = replace_in_file;
    text_hooks.goto_line = goto_line;
    text_hooks.confirm_prompt = confirm_prompt;
    text_hooks.terminal_prompt_character = terminal_prompt_character;
}
