// Widgets: scroll bar, check box and button. Each keeps only its small
// state record; everything else is recomputed and drawn every frame.
#include "render/ui.h"
#include "render/fonts.h"
#include "render/icons.h"
#include <math.h>

static f32 clamp(f32 v, f32 lo, f32 hi) { return v < lo ? lo : (v > hi ? hi : v); }

f32 *ui_scroll_bar(u64 id, bool enabled, Vector2 area_top_left, Vector2 area_bottom_right, f32 content_height,
                   f32 bar_width, Scroll_Bar_Colours colours) {
    Scroll_Bar_State *s = &get_or_add_ui_element(id, UI_SCROLL_BAR)->scroll_bar;
    f32 h = area_bottom_right.y - area_top_left.y, t = content_height;
    if (h <= 0 || h >= t) {
        s->offset = 0;
        s->width = 0;
        s->dragging = 0;
        s->highlight = 0;
        return &s->offset;
    }
    s->width = bar_width;
    f32 thumb_height = fmaxf(h * h / t, SCROLL_BAR_MIN_THUMB);
    s->offset = clamp(s->offset, 0, t - h);

    if (s->dragging) {
        if (!(ui_flags & UI_LEFT_BUTTON_HELD) || !enabled) {
            s->dragging = 0;
            s->pressed = 0;
        } else {
            f32 moved = ui_mouse_position.y - s->mouse_at_drag_start.y;
            s->offset = clamp(s->offset_at_drag_start + moved * t / h, 0, t - h);
            ui_do_not_stop_after_current_frame();
        }
    }

    // A thumb raised to its minimum height must still end inside the area.
    f32 thumb_top = fminf(area_top_left.y + h * s->offset / t, area_bottom_right.y - thumb_height);
    Vector2 bar_top_left = {area_bottom_right.x - bar_width, area_top_left.y};
    Vector2 thumb_top_left = {bar_top_left.x, thumb_top};
    Vector2 thumb_size = {bar_width, thumb_height};

    bool hovered = enabled && ui_layer_is_focused() && ui_mouse_is_inside(thumb_top_left, thumb_size);
    s->highlight = (hovered || s->dragging) ? 1.0f : 0.0f;
    if (hovered) {
        ui_set_cursor(CURSOR_ARROW, false);
        if (!s->dragging && ui_consume_left_click()) {
            s->dragging = 1;
            s->pressed = 1;
            s->mouse_at_drag_start = ui_mouse_position;
            s->offset_at_drag_start = s->offset;
        }
    }

    draw_quad_scissored(bar_top_left, Vector2{bar_width, h}, colours.track, area_top_left, area_bottom_right);
    draw_quad_scissored(thumb_top_left, thumb_size, s->highlight > 0 ? colours.thumb_highlighted : colours.thumb,
                        area_top_left, area_bottom_right);
    return &s->offset;
}

void ui_scroll_bar_ensure_visibility(u64 id, bool enabled, Vector2 area_top_left, Vector2 area_bottom_right,
                                     f32 content_height, Vector2 item_top_left, Vector2 item_size) {
    (void)enabled;
    Scroll_Bar_State *s = &get_or_add_ui_element(id, UI_SCROLL_BAR)->scroll_bar;
    f32 h = area_bottom_right.y - area_top_left.y;
    if (item_size.y > h) return;
    if (item_top_left.y < area_top_left.y) s->offset -= area_top_left.y - item_top_left.y;
    else if (item_top_left.y + item_size.y > area_bottom_right.y)
        s->offset += item_top_left.y + item_size.y - area_bottom_right.y;
    s->offset = clamp(s->offset, 0, fmaxf(content_height - h, 0));
}

void ui_scroll_bar_centre_around(u64 id, bool enabled, Vector2 area_top_left, Vector2 area_bottom_right,
                                 f32 content_height, Vector2 item_top_left, Vector2 item_size) {
    (void)enabled;
    Scroll_Bar_State *s = &get_or_add_ui_element(id, UI_SCROLL_BAR)->scroll_bar;
    f32 h = area_bottom_right.y - area_top_left.y;
    f32 item_centre = item_top_left.y + item_size.y * 0.5f;
    f32 area_centre = area_top_left.y + h * 0.5f;
    s->offset = clamp(item_centre - area_centre + s->offset, 0, fmaxf(content_height - h, 0));
}

u8 *ui_check_box(u64 id, String label, Vector2 top_left, Colour colour) {
    Check_Box_State *s = &get_or_add_ui_element(id, UI_CHECK_BOX)->check_box;
    f32 box = (f32)icons_font_pool.size;
    bool hovered = ui_layer_is_focused() && ui_mouse_is_inside(top_left, Vector2{box, box});
    if (hovered) {
        ui_set_cursor(CURSOR_HAND, false);
        if (ui_consume_left_click()) s->checked = !s->checked;
    }
    u32 icon = s->checked ? (hovered ? ICON_CHECK_BOX_ON_HOVER : ICON_CHECK_BOX_ON)
                          : (hovered ? ICON_CHECK_BOX_OFF_HOVER : ICON_CHECK_BOX_OFF);
    u8 utf8[1] = {(u8)icon}; // icon code points are ASCII
    draw_text(utf8, 1, &icons_font_pool, ANCHOR_TOP_LEFT, top_left.x, top_left.y, colour);
    f32 label_y = top_left.y + (box - (f32)ui_font_pool.size) * 0.5f;
    draw_text(label, &ui_font_pool, ANCHOR_TOP_LEFT, top_left.x + 1.2f * box, label_y, colour);
    return &s->checked;
}

bool ui_button(u64 id, String label, Vector2 top_left, Vector2 size, Colour background) {
    get_or_add_ui_element(id, UI_BUTTON);
    bool clicked = false;
    if (ui_layer_is_focused() && ui_mouse_is_inside(top_left, size)) {
        ui_set_cursor(CURSOR_HAND, false);
        clicked = ui_consume_left_click();
    }
    draw_quad_scissored(top_left, size, background, Vector2{0, 0},
                        Vector2{(f32)renderer_info.width, (f32)renderer_info.height});
    Colour text = colour_brightness(background) > 0.5f ? black : white;
    f32 y = top_left.y + (size.y - (f32)ui_font_pool.size) * 0.5f;
    draw_text(label, &ui_font_pool, ANCHOR_TOP_CENTRE, top_left.x + size.x * 0.5f, y, text);
    return clicked;
}
