// The frame driver. Tabs, listers and the custom layer's input are not
// wired in yet: with no tab open, a frame is the background and the about
// panel.
#include "shell/frame.h"
#include "shell/globals.h"
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
