// The frame driver: recompile on request, keep the compile-errors tab in
// step, hand input to the custom layer, run the queued commands, draw the
// top bar, the tabs and the current tab, the about panel when no tab is
// open, and the listers last.
#include "shell/frame.h"
#include "shell/globals.h"
#include "shell/tabs.h"
#include "shell/tab_strip.h"
#include "shell/tab_contents.h"
#include "shell/file_view.h"
#include "shell/editor_commands.h"
#include "shell/custom_layer_events.h"
#include "shell/file_watcher.h"
#include "render/fonts.h"
#include "render/ui.h"
#include "text/file.h"
#include "text/text_state.h"
#include "shell/shell.h"
#include "compiler/front/diagnostics.h"

f32 global_font_size_setting = MIN_FONT_SIZE;
void (*draw_file_lister_hook)();
void (*draw_search_lister_hook)();

static void recompile_on_request() {
    bool sources_changed = custom_layer_take_recompile_request();
    spin_lock(&custom_layer_events_lock);
    if (custom_layer_recompile_requested || sources_changed) {
        custom_layer_recompile_requested = 0;
        if (compile_custom_layer_hook) compile_custom_layer_hook(false);
    }
    spin_unlock(&custom_layer_events_lock);
}

void sync_compile_errors_tab() {
    Tab *tab = find_tab_of_kind(TAB_COMPILE_ERRORS);
    if (compile_errors.count == 0) {
        if (tab) close_tab(tab);
        return;
    }
    if (!tab) {
        tab = add_a_tab(TAB_COMPILE_ERRORS);
        set_current_tab(tab->index, true);
        atomic_and(&global_flags, ~(u64)DISPLAY_COMPILE_ERRORS);
    } else if (global_flags & DISPLAY_COMPILE_ERRORS) {
        set_current_tab(tab->index, true);
        atomic_and(&global_flags, ~(u64)DISPLAY_COMPILE_ERRORS);
    }
}

void draw_and_update_editor(f32 x, f32 y, f32 width, f32 height) {
    if (tabs.element_size != sizeof(Tab)) {
        // Frames built without the editor's start-up (tests, benchmarks).
        if (!text_hooks.now) editor_text_init();
        shell_init();
    }
    recompile_on_request();
    sync_compile_errors_tab();

    Vector2 top_left = {x, y}, bottom_right = {x + width, y + height};
    draw_quad_scissored(top_left, Vector2{width, height}, text_theme[TEXT_THEME_BACKGROUND], top_left, bottom_right);

    update_editor();
    run_editor_commands();
    tmp_current_tab_index = current_tab_index;
    ui_current_layer = 0;

    bool focus = (global_flags & FOCUS_MODE) != 0;
    f32 bar = focus ? 0 : top_bar_height();
    Vector2 strip_tl = {x, y}, strip_size = {0, bar};
    f32 label_width = tab_label_width();
    if (!focus) {
        f32 strip_x = draw_top_bar(x, y, width);
        strip_tl = Vector2{strip_x, y};
        strip_size = Vector2{x + width - strip_x, bar};
        update_tab_drag_slots(strip_x, label_width);
    }
    Tab *close_request = nullptr;
    u32 close_id = 0;
    bool left_up = !(ui_flags & UI_LEFT_BUTTON_HELD);
    for (u32 i = 0; i < num_tabs(); i++) {
        Tab *tab = tab_at(i);
        if (left_up) tab->hovered = 0;
        refresh_file_tab_title(tab);
        if (!focus && draw_tab(strip_tl, strip_size, label_width, tab, true)) {
            close_request = tab;
            close_id = tab->id;
        }
    }
    Tab *shown = current_tab();
    if (shown) draw_and_update_tab_contents(Vector2{x, y + bar}, Vector2{width, height - bar}, shown);
    else draw_about_panel(x, y + bar, width, height - bar, text_theme[TEXT_THEME_BACKGROUND]);

    if (close_request) {
        // The record may have moved while the contents were drawn.
        Tab *tab = find_tab_by_id(close_id);
        if (tab) request_close_tab(tab);
    }
    if (!focus) finish_tab_drag(strip_tl, strip_size, label_width);
    // Without a bar (focus mode) the notice still shows, over the text.
    draw_close_notice(x, y, width);
    if ((global_editor_context & CONTEXT_FILE_LISTER) && draw_file_lister_hook) draw_file_lister_hook();
    else if ((global_editor_context & CONTEXT_SEARCH_LISTER) && draw_search_lister_hook) draw_search_lister_hook();
}

bool frame_wants_vsync(u64 frame_start, u64 last_activity) {
    return frame_start > last_activity && frame_start - last_activity > VSYNC_DISABLED_MICROSECONDS;
}

void build_and_present_frame(u64 frame_start) {
    if (window.width == 0 || window.height == 0) {
        // Nothing to show: sleep until the window comes back.
        ui_flags &= (u8)~UI_ANOTHER_FRAME;
        return;
    }
    prepare_frame();
    ui_begin_frame();
    draw_and_update_editor(0, 0, (f32)window.width, (f32)window.height);
    ui_end_frame();
    swap_buffers(frame_wants_vsync(frame_start, last_time_we_asked_to_disable_vsync));
}
