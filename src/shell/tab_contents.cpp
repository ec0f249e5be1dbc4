#include "shell/tab_contents.h"
#include "shell/tabs.h"
#include "shell/file_view.h"
#include "shell/editor_commands.h"
#include "shell/globals.h"
#include "shell/update.h"
#include "render/ui.h"
#include "render/icons.h"
#include "text/file.h"
#include "text/lines.h"
#include "text/text_state.h"
#include "compiler/front/diagnostics.h"
#include <stb/stb_sprintf.h>
#include <math.h>

void (*draw_terminal_tab_hook)(Vector2 top_left, Vector2 size, Tab *tab);

void draw_and_update_tab_contents(Vector2 top_left, Vector2 size, Tab *tab) {
    if (!tab) return;
    switch (tab->kind) {
    case TAB_FILE: draw_file(top_left, size, (File *)tab->content, &code_font_pool); break;
    case TAB_TERMINAL:
        if (draw_terminal_tab_hook) draw_terminal_tab_hook(top_left, size, tab);
        break;
    case TAB_COMPILE_ERRORS: draw_compile_errors(top_left, size); break;
    case TAB_UPDATE: draw_update_progress(top_left, size, tab); break;
    }
}

// Compares a tab's file with a path by its full name.
static bool file_has_path(File *file, String path) {
    if (!file || file->name.count == 0) return false;
    const char *full = file_full_path(file);
    return (s64)strlen(full) == path.count && memcmp(full, path.data, (size_t)path.count) == 0;
}

static void put_cursor_on_line(File *file, u64 line) {
    u64 offset = line > 0 ? get_offset_at_line(file_text(file), file_length(file), line) : 0;
    if (offset > file_length(file)) offset = file_length(file);
    file->previous_cursor = file->cursor;
    file->cursor = offset;
    if (!file_has_flags(file, FILE_SELECTION_ACTIVE)) file->selection_anchor = offset;
    file_update_selection_pointers(file);
    file_set_flags(file, FILE_CHANGED | FILE_CENTRE_CURSOR);
    editor_stamp_activity();
}

bool editor_load_or_go_to_file(String path, u64 line) {
    for (u32 i = 0; i < num_tabs(); i++) {
        File *file = tab_file(tab_at(i));
        if (file_has_path(file, path)) {
            set_current_tab(i, true);
            put_cursor_on_line(file, line);
            return true;
        }
    }
    File *file = add_a_file();
    if (!load_file_from_path(path, file)) {
        close_file(file);
        return false;
    }
    put_cursor_on_line(file, line);
    queue_add_tab_command(TAB_FILE, file);
    return true;
}

void draw_compile_errors(Vector2 top_left, Vector2 size) {
    Font_Pool *pool = &code_font_pool;
    f32 lh = ceilf(pool->line_height > 0 ? pool->line_height : (f32)pool->size);
    f32 pad = roundf(0.6f * (f32)pool->size);
    Vector2 clip_br = {top_left.x + size.x, top_left.y + size.y};
    f32 y = top_left.y + pad;
    Colour text = text_theme[TEXT_THEME_TEXT];
    Colour error = ui_theme[6];
    for (u32 i = 0; i < compile_errors.count && y < clip_br.y; i++) {
        Error_Report *r = dynamic_array_at<Error_Report>(&compile_errors, i);
        u32 lines = 2 + (r->line_text_length > 0 ? 1 : 0);
        Vector2 entry_tl = {top_left.x + pad, y};
        Vector2 entry_size = {size.x - 2 * pad, lh * (f32)lines + pad * 0.5f};
        bool over = ui_layer_is_focused() && ui_mouse_is_inside(entry_tl, entry_size);
        if (over) {
            draw_quad_scissored(entry_tl, entry_size, text_theme[TEXT_THEME_CURRENT_LINE].w > 0 ? text_theme[TEXT_THEME_CURRENT_LINE]
                                                                                               : Colour{1, 1, 1, 0.06f},
                                top_left, clip_br);
            ui_set_cursor(CURSOR_HAND, false);
            if (r->path_length > 0 && ui_consume_left_click()) {
                editor_load_or_go_to_file(String{(u8 *)r->path, r->path_length}, r->line);
            }
        }
        char head[ERROR_REPORT_TEXT_SIZE + 32];
        int n = stbsp_snprintf(head, sizeof head, "%.*s:%u", (int)r->path_length, r->path, r->line);
        draw_text_scissored((const u8 *)head, n, pool, ANCHOR_TOP_LEFT, entry_tl.x, y, r->is_note ? text : error, top_left, clip_br);
        y += lh;
        draw_text_scissored((const u8 *)r->message, r->message_length, pool, ANCHOR_TOP_LEFT, entry_tl.x + pad, y, text,
                            top_left, clip_br);
        y += lh;
        if (r->line_text_length > 0) {
            draw_text_scissored((const u8 *)r->line_text, r->line_text_length, pool, ANCHOR_TOP_LEFT, entry_tl.x + pad, y,
                                text_theme[TEXT_THEME_LINE_NUMBERS], top_left, clip_br);
            y += lh;
        }
        y += pad;
    }
}

void draw_update_progress(Vector2 top_left, Vector2 size, Tab *tab) {
    Font_Pool *pool = &ui_font_pool;
    f32 cx = top_left.x + size.x * 0.5f, cy = top_left.y + size.y * 0.5f;
    Colour text = colour_brightness(text_theme[TEXT_THEME_BACKGROUND]) > 0.5f ? black : white;
    // The downloader's numbers when it runs for this tab; the tab keeps the
    // state so that closing knows whether a download is still going.
    Update_Download_Progress progress;
    if (update_download_progress(tab->id, &progress)) {
        tab->download_state = progress.state;
        tab->download_fraction = progress.fraction;
    }
    const char *label = "Downloading update...";
    if (tab->download_state == DOWNLOAD_RUNNING) {
        f32 w = fminf(size.x * 0.6f, 30.0f * (f32)pool->size), h = roundf((f32)pool->size * 0.8f);
        Vector2 bar = {roundf(cx - w * 0.5f), roundf(cy - h - (f32)pool->size * 0.5f)};
        f32 fraction = fminf(fmaxf(tab->download_fraction, 0), 1);
        draw_quad((s32)bar.x, (s32)bar.y, (s32)w, (s32)h, Colour{1, 1, 1, 0.12f});
        draw_quad((s32)bar.x, (s32)bar.y, (s32)roundf(w * fraction), (s32)h, ui_theme[4]);
    } else {
        label = tab->download_state == DOWNLOAD_SUCCEEDED ? "Successfully downloaded update!" : "Failed to download update.";
    }
    draw_text_scissored((const u8 *)label, (s64)strlen(label), pool, ANCHOR_TOP_CENTRE, cx, cy, text, top_left,
                        Vector2{top_left.x + size.x, top_left.y + size.y});
}
