#include "shell_test_util.h"
#include "../render/render_test_fonts.h"
#include "test_util.h"
#include "shell/shell.h"
#include "shell/frame.h"
#include "shell/tabs.h"
#include "render/ui.h"
#include "render/window.h"
#include "text/text_state.h"

u64 shell_test_clock = 1000000000;
static u64 test_now() { return shell_test_clock; }

bool shell_test_start(u32 width, u32 height) {
    if (!load_test_fonts_and_frame(width, height)) return false;
    resize_fonts(16);
    memset(&window, 0, sizeof window);
    window.width = width;
    window.height = height;
    ui_window = &window;
    ui_flags = 0;
    ui_layer_in_focus = 0;
    editor_text_init();
    shell_init();
    text_hooks.now = test_now;
    return true;
}

void shell_test_frame(f32 mouse_x, f32 mouse_y) {
    tmp_reset();
    renderer_init_headless(window.width, window.height);
    prepare_frame();
    ui_begin_frame();
    ui_mouse_position = Vector2{mouse_x, mouse_y};
    draw_and_update_editor(0, 0, (f32)window.width, (f32)window.height);
    ui_end_frame();
    window.num_events = 0;
    shell_test_clock += 16000;
}

void push_key(u8 type, u32 code, u8 modifiers) {
    Event *e = window_push_event(type, modifiers);
    e->code = code;
}
void push_mouse(u8 bits) { window_push_event(EVENT_MOUSE, 0)->bits = bits; }
void push_scroll(f32 notches) { window_push_event(EVENT_SCROLL, 0)->amount = notches * 100.0f; }

File *open_test_file(const std::string &directory, const std::string &name, const std::string &bytes, s64 line) {
    std::string path = directory + "/" + name;
    if (!write_whole_file(path, bytes)) return nullptr;
    return open_file_in_new_tab(String{(u8 *)path.data(), (s64)path.size()}, line);
}

std::string tab_title(u32 index) {
    Tab *t = tab_at(index);
    return t ? std::string((const char *)t->title.data, (size_t)t->title.count) : "";
}
