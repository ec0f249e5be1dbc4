#include "shell/tab_strip.h"
#include "shell/tabs.h"
#include "shell/file_view.h"
#include "shell/editor_commands.h"
#include "shell/globals.h"
#include "shell/update.h"
#include "shell/os_spawn.h"
#include "core/strings.h"
#include "render/ui.h"
#include "render/icons.h"
#include "text/file.h"
#include "text/text_state.h"
#include <math.h>
#include <stb/stb_sprintf.h>

// Open-file lister entry: the lister code installs it.
void (*open_file_lister_hook)(const char *title, const Filepath *directory);

f32 top_bar_height() { return roundf(1.5f * (f32)ui_font_pool.size); }

f32 tab_label_width() {
    f32 icon = (f32)icons_font_pool.size;
    return fmaxf(8.0f * (f32)ui_font_pool.size, 1.2f * (f32)ui_font_pool.size + 2 * icon);
}

static Colour label_text_colour(Colour background) { return colour_brightness(background) <= 0.35f ? white : black; }

// One icon glyph that changes under the mouse; a click is taken from the queue.
static bool icon_button(f32 x, f32 y, u32 icon, u32 hover_icon, Colour colour) {
    f32 side = (f32)icons_font_pool.size;
    bool over = ui_layer_is_focused() && ui_mouse_is_inside(Vector2{x, y}, Vector2{side, side});
    u8 glyph = (u8)(over ? hover_icon : icon);
    draw_text(&glyph, 1, &icons_font_pool, ANCHOR_TOP_LEFT, x, y, colour);
    if (!over) return false;
    ui_set_cursor(CURSOR_HAND, false);
    return ui_consume_left_click();
}

static void switch_by(s32 step) {
    if (num_tabs() == 0) return;
    u32 n = num_tabs();
    u32 next = (u32)(((s64)current_tab_index + step + (s64)n) % (s64)n);
    set_current_tab(next, true);
}

f32 draw_top_bar(f32 x, f32 y, f32 width) {
    f32 h = top_bar_height();
    f32 gap = roundf(0.4f * (f32)ui_font_pool.size);
    draw_quad((s32)x, (s32)y, (s32)width, (s32)h, ui_theme[0]);
    Colour fg = label_text_colour(ui_theme[0]);
    f32 pen = x + gap;
    if (global_flags & UPDATE_IS_AVAILABLE) {
        Vector2 bsize = {roundf(5.0f * (f32)ui_font_pool.size), roundf(h * 0.8f)};
        f32 by = y + (h - bsize.y) * 0.5f;
        if (ui_button(make_ui_element_id(0, "update"), S("Update"), Vector2{pen, by}, bsize, ui_theme[4])) {
            Tab *tab = add_a_tab(TAB_UPDATE);
            if (tab) {
                u32 id = tab->id;
                set_current_tab(tab->index, true);
                start_update_download_thread(id);
            }
        }
        pen += bsize.x + gap;
        Vector2 wsize = {roundf(7.0f * (f32)ui_font_pool.size), bsize.y};
        if (ui_button(make_ui_element_id(0, "whatnew"), S("What is new"), Vector2{pen, by}, wsize, ui_theme[1]))
            os_open_file_in_other_app(update_change_log_address());
        pen += wsize.x + gap;
    }
    f32 icon = (f32)icons_font_pool.size;
    f32 iy = y + (h - icon) * 0.5f;
    Tab *tab = current_tab();
    if (icon_button(pen, iy, ICON_NEW_FILE, ICON_NEW_FILE_HOVER, fg)) queue_add_tab_command(TAB_FILE, add_a_file());
    pen += icon + gap;
    if (icon_button(pen, iy, ICON_OPEN, ICON_OPEN_HOVER, fg) && open_file_lister_hook) {
        File *f = tab_file(tab);
        open_file_lister_hook("Open File", f && f->directory.count ? &f->directory : &editor_working_directory);
    }
    pen += icon + gap;
    if (icon_button(pen, iy, ICON_TERMINAL, ICON_TERMINAL_HOVER, fg)) {
        spin_lock(&tabs_read_lock);
        File *input = add_a_file();
        file_set_flags(input, FILE_ONE_LINE | FILE_NEVER_COLOURED);
        file_clear_flags(input, FILE_UNSAVED);
        queue_add_tab_command(TAB_TERMINAL, input);
        spin_unlock(&tabs_read_lock);
    }
    pen += icon + gap;
    if (tab && tab->kind == TAB_FILE) {
        if (icon_button(pen, iy, ICON_SAVE, ICON_SAVE_HOVER, fg)) editor_ask_to_save_file();
        pen += icon + gap;
    }
    if (icon_button(pen, iy, ICON_PREVIOUS_TAB, ICON_PREVIOUS_TAB_HOVER, fg)) switch_by(-1);
    pen += icon + gap;
    if (icon_button(pen, iy, ICON_NEXT_TAB, ICON_NEXT_TAB_HOVER, fg)) switch_by(1);
    pen += icon + gap;
    return pen;
}

void draw_close_notice(f32 x, f32 y, f32 width) {
    f32 h = top_bar_height();
    f32 gap = roundf(0.4f * (f32)ui_font_pool.size);
    String notice = close_notice_text();
    if (notice.count <= 0) return;
    f32 w = get_text_advance(notice.data, notice.count, &ui_font_pool, 1);
    draw_quad((s32)(x + width - w - 2 * gap), (s32)y, (s32)(w + 2 * gap), (s32)h, ui_theme[0]);
    f32 ny = y + (h - (f32)ui_font_pool.size) * 0.5f;
    draw_text_scissored(notice.data, notice.count, &ui_font_pool, ANCHOR_TOP_LEFT, x + width - w - gap, ny, ui_theme[6],
                        Vector2{x, y}, Vector2{x + width, y + h});
}

u32 tab_drag_target(f32 mouse_x, f32 grab_offset, f32 strip_x, f32 width, u32 count) {
    f32 slot = roundf((width * 0.5f + (mouse_x - grab_offset) - (strip_x - global_tabs_horizontal_offset_px)) / (width + 3));
    if (count == 0) return 0;
    if (slot < 0) slot = 0;
    if (slot > (f32)(count - 1)) slot = (f32)(count - 1);
    return (u32)slot;
}

void update_tab_drag_slots(f32 strip_x, f32 width) {
    for (u32 i = 0; i < num_tabs(); i++) tab_at(i)->drag_slot = i;
    if (!tab_being_dragged || !(ui_flags & UI_LEFT_BUTTON_HELD)) return;
    u32 from = tab_being_dragged->index;
    u32 to = tab_drag_target(ui_mouse_position.x, tab_being_dragged->grab_offset, strip_x, width, num_tabs());
    for (u32 i = 0; i < num_tabs(); i++) {
        u32 slot = i;
        if (i == from) slot = to;
        else if (from < to && i > from && i <= to) slot = i - 1;
        else if (to < from && i >= to && i < from) slot = i + 1;
        tab_at(i)->drag_slot = slot;
    }
}

// Everything of a label stays inside [clip_left, clip_right): a label
// scrolled partly out of the strip must not draw over the icons.
static void draw_label(f32 x, f32 y, f32 width, f32 h, Tab *tab, Colour background, f32 opacity, bool close_hover,
                       f32 clip_left, f32 clip_right) {
    Colour fg = label_text_colour(background);
    fg.w *= opacity;
    f32 pad = roundf(0.3f * (f32)ui_font_pool.size);
    f32 ty = y + (h - (f32)ui_font_pool.size) * 0.5f;
    f32 pen = x + pad;
    Vector2 clip_tl = {fmaxf(x, clip_left), y}, clip_br = {fminf(x + width - (f32)icons_font_pool.size - pad, clip_right), y + h};
    f32 icon_y = y + (h - (f32)icons_font_pool.size) * 0.5f;
    if (tab->kind == TAB_COMPILE_ERRORS) {
        u8 g = (u8)ICON_ERROR;
        draw_text_scissored(&g, 1, &icons_font_pool, ANCHOR_TOP_LEFT, pen, icon_y, ui_theme[6], clip_tl, clip_br);
        pen += (f32)icons_font_pool.size + pad;
    } else if (tab->kind == TAB_TERMINAL) {
        u8 g = (u8)ICON_TERMINAL;
        draw_text_scissored(&g, 1, &icons_font_pool, ANCHOR_TOP_LEFT, pen, icon_y, fg, clip_tl, clip_br);
        pen += (f32)icons_font_pool.size + pad;
    }
    char number[16];
    int n = stbsp_snprintf(number, sizeof number, "%u", tab->index + 1);
    Colour faded = fg;
    faded.w *= 0.6f;
    draw_text_scissored((const u8 *)number, n, &ui_font_pool, ANCHOR_TOP_LEFT, pen, ty, faded, clip_tl, clip_br);
    pen += get_text_advance((const u8 *)number, n, &ui_font_pool, 1) + pad;
    File *file = tab_file(tab);
    Colour title = fg;
    // Gone from disk, or changed there under unsaved edits (the view does not
    // reload over them): the buffer stays and the title says so in red.
    bool conflict = file && file_has_flags(file, FILE_CHANGED_ON_DISK) && file_has_flags(file, FILE_UNSAVED);
    if (file && (file_has_flags(file, FILE_DELETED_ON_DISK) || conflict)) title = ui_theme[6];
    draw_text_scissored(tab->title.data, tab->title.count, &ui_font_pool, ANCHOR_TOP_LEFT, pen, ty, title, clip_tl, clip_br);
    u8 close = (u8)(close_hover ? ICON_CLOSE_HOVER : ICON_CLOSE);
    draw_text_scissored(&close, 1, &icons_font_pool, ANCHOR_TOP_LEFT, x + width - (f32)icons_font_pool.size - pad, icon_y, fg,
                        Vector2{clip_left, y}, Vector2{clip_right, y + h});
}

bool draw_tab(Vector2 strip_tl, Vector2 strip_size, f32 width, Tab *tab, bool allow_drag) {
    f32 stride = width + 3;
    u32 position = tab_being_dragged ? tab->drag_slot : tab->index;
    f32 x = strip_tl.x + stride * (f32)position - global_tabs_horizontal_offset_px;
    f32 h = strip_size.y;
    bool current = tab->index == current_tab_index;
    // The current tab stays in view.
    if (current && !tab_being_dragged) {
        if (x < strip_tl.x) {
            global_tabs_horizontal_offset_px -= strip_tl.x - x;
            x = strip_tl.x;
        } else if (x + width > strip_tl.x + strip_size.x && width <= strip_size.x) {
            f32 over = x + width - (strip_tl.x + strip_size.x);
            global_tabs_horizontal_offset_px += over;
            x -= over;
        }
    }
    if (tab->index + 1 == num_tabs() && x + width < strip_tl.x + strip_size.x && global_tabs_horizontal_offset_px > 0) {
        f32 gap = strip_tl.x + strip_size.x - (x + width);
        global_tabs_horizontal_offset_px = fmaxf(0, global_tabs_horizontal_offset_px - gap);
    }
    if (tab->dragged) return false; // drawn at the mouse by finish_tab_drag
    f32 icon = (f32)icons_font_pool.size;
    f32 pad = roundf(0.3f * (f32)ui_font_pool.size);
    Vector2 close_tl = {x + width - icon - pad, strip_tl.y + (h - icon) * 0.5f};
    bool focused = ui_layer_is_focused();
    bool over = focused && ui_mouse_is_inside(Vector2{x, strip_tl.y}, Vector2{width, h}) &&
                ui_mouse_is_inside(strip_tl, strip_size);
    bool over_close = over && ui_mouse_is_inside(close_tl, Vector2{icon, icon});
    bool close_requested = false;
    if (over_close) {
        ui_set_cursor(CURSOR_HAND, false);
        if (ui_consume_left_click()) close_requested = true;
    } else if (over && allow_drag && ui_consume_left_click()) {
        tab->dragged = 1;
        tab->grab_offset = ui_mouse_position.x - x;
        tab_being_dragged = tab;
        if (!current) set_current_tab(tab->index, true);
        current = tab->index == current_tab_index;
    }
    if (over && !tab->hovered) set_tab_animation(tab, TAB_ANIMATION_IN_FROM_LEFT);
    if (!over && tab->hovered) set_tab_animation(tab, TAB_ANIMATION_OUT_TO_LEFT);
    tab->hovered = over;

    Colour background = current ? text_theme[TEXT_THEME_BACKGROUND] : ui_theme[1];
    f32 opacity = current ? 1.0f : 0.8f;
    Vector2 clip_br = {strip_tl.x + strip_size.x, strip_tl.y + strip_size.y};
    draw_quad_scissored(Vector2{x, strip_tl.y}, Vector2{width, h}, Colour{background.x, background.y, background.z, opacity},
                        strip_tl, clip_br);
    // The highlight slides with the animation.
    if (tab->animation != TAB_ANIMATION_NONE || over) {
        f32 t = tab->animation_time;
        f32 hx = x;
        switch (tab->animation) {
        case 1: hx = x - width * (1 - t); break;
        case 2: hx = x + width * (1 - t); break;
        case 3: hx = x - width * t; break;
        case 4: hx = x + width * t; break;
        }
        Vector2 tl = {fmaxf(hx, x), strip_tl.y + h - 2};
        f32 w = fminf(hx + width, x + width) - tl.x;
        if (w > 0) draw_quad_scissored(tl, Vector2{w, 2}, ui_theme[4], strip_tl, clip_br);
        if (tab->animation != TAB_ANIMATION_NONE) {
            tab->animation_time += fminf(delta_time, 16.0f) * 0.007f;
            if (tab->animation_time >= 1) {
                tab->animation = TAB_ANIMATION_NONE;
                tab->animation_time = 0;
            }
            ui_do_not_stop_after_current_frame();
        }
    }
    draw_label(x, strip_tl.y, width, h, tab, background, 1.0f, over_close, strip_tl.x, clip_br.x);
    return close_requested;
}

void finish_tab_drag(Vector2 strip_tl, Vector2 strip_size, f32 width) {
    Tab *tab = tab_being_dragged;
    if (!tab) return;
    if (!(ui_flags & UI_LEFT_BUTTON_HELD)) {
        u32 to = tab_drag_target(ui_mouse_position.x, tab->grab_offset, strip_tl.x, width, num_tabs());
        tab->dragged = 0;
        u32 from = tab->index;
        tab_being_dragged = nullptr;
        move_tab(from, to);
        return;
    }
    ui_do_not_stop_after_current_frame();
    f32 x = ui_mouse_position.x - tab->grab_offset;
    draw_quad(( s32)x, (s32)strip_tl.y, (s32)width, (s32)strip_size.y, text_theme[TEXT_THEME_BACKGROUND]);
    draw_label(x, strip_tl.y, width, strip_size.y, tab, text_theme[TEXT_THEME_BACKGROUND], 1.0f, false, x, x + width);
}
