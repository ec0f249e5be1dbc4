// The frame driver. Tabs, listers and the custom layer's input are not
// wired in yet: with no tab open, a frame is the background and the about
// panel.
#include "shell/frame.h"
#include "render/fonts.h"
#include "render/ui.h"

f32 global_font_size_setting = MIN_FONT_SIZE;

void draw_and_update_editor(f32 x, f32 y, f32 width, f32 height) {
    Colour background = default_text_theme[0];
    Vector2 top_left = {x, y}, bottom_right = {x + width, y + height};
    draw_quad_scissored(top_left, Vector2{width, height}, background, top_left, bottom_right);
    ui_current_layer = 0;
    draw_about_panel(x, y, width, height, background);
}
