// The UI frame, element identity, input consumption and the cursor.
#include "render/ui.h"
#include "render/fonts.h"
#include "render/icons.h"

Dynamic_Array ui_elements;
u8 ui_layer_in_focus;
u8 ui_current_layer;
u8 ui_current_cursor_type = CURSOR_NONE_CHOSEN;
u8 ui_cursor_was_set_this_frame;
u8 ui_flags;
Vector2 ui_mouse_position;
Vector2 ui_previous_mouse_position;
Vector2 ui_screen_resolution;
Window *ui_window = &window;

// [SECTION] Frame

void ui_build_font_pools() {
    init_font_pool(&ui_font_pool, DEFAULT_FONT_POOL_SIZE);
    add_range_to_pool(&ui_font_pool, &ui_latin_font, 0, 1327);
    add_range_to_pool(&ui_font_pool, &ui_latin_font, 0xFFFD, 0xFFFD);
    init_font_pool(&code_font_pool, DEFAULT_FONT_POOL_SIZE);
    add_range_to_pool(&code_font_pool, &code_latin_font, 0, 1327);
    add_range_to_pool(&code_font_pool, &code_latin_font, 0xFFFD, 0xFFFD);
    init_font_pool(&icons_font_pool, DEFAULT_FONT_POOL_SIZE);
    add_range_to_pool(&icons_font_pool, &icons_font, 0, 127);
    reset_glyph_packer_to_fit_pools();
}

bool ui_init(Window *w) {
    ui_window = w;
    if (ui_elements.element_size != sizeof(Ui_Element)) dynamic_array_init(&ui_elements, sizeof(Ui_Element), 64);
    fonts_init_storage(fonts_glyphs_first_page());
    if (!init_font_from_executable(&ui_latin_font, "UI_FONT")) return false;
    if (!init_font_from_executable(&code_latin_font, "CODE_FONT")) return false;
    if (!init_font_from_executable(&icons_font, "ICONS")) return false;
    ui_build_font_pools();
    u32 mw, mh;
    platform_get_video_mode_size(&mw, &mh);
    ui_screen_resolution = Vector2{(f32)mw, (f32)mh};
    return true;
}

void ui_begin_frame() {
    ui_flags &= (u8)~UI_ANOTHER_FRAME;
    ui_current_layer = 0;
    ui_cursor_was_set_this_frame = 0;
    // Headless (tests) the position is whatever the caller put there.
    if (ui_window && ui_window->handle) platform_get_mouse_position(&ui_mouse_position.x, &ui_mouse_position.y);
    if (!ui_window) return;
    for (u32 i = 0; i < ui_window->num_events; i++) {
        Event *e = &ui_window->events[i];
        if (e->type != EVENT_MOUSE) continue;
        if (e->bits & MOUSE_LEFT_DOWN) ui_flags |= UI_LEFT_BUTTON_HELD;
        if (e->bits & MOUSE_LEFT_UP) ui_flags &= (u8)~UI_LEFT_BUTTON_HELD;
    }
}

void ui_end_frame() {
    if (!ui_cursor_was_set_this_frame) {
        // Near the window's side edges the pointer shows that it can resize.
        f32 width = ui_window ? (f32)ui_window->width : 0;
        f32 x = ui_mouse_position.x;
        bool at_edge = width > 0 && ((x >= 0 && x < UI_RESIZE_EDGE) || (x <= width && x > width - UI_RESIZE_EDGE));
        ui_current_cursor_type = at_edge ? CURSOR_RESIZE_HORIZONTAL : CURSOR_ARROW;
        platform_set_cursor(ui_current_cursor_type);
    }
    ui_previous_mouse_position = ui_mouse_position;
}

void ui_do_not_stop_after_current_frame() { ui_flags |= UI_ANOTHER_FRAME; }

// [SECTION] Identity and state

u64 make_ui_element_id(u32 index, const char *name, u32 name_length) {
    u64 bytes = 0;
    if (name && name_length) memcpy(&bytes, name, name_length < 8 ? name_length : 8);
    return bytes << 32 | index;
}

Ui_Element *get_or_add_ui_element(u64 id, u8 kind) {
    if (ui_elements.element_size != sizeof(Ui_Element)) dynamic_array_init(&ui_elements, sizeof(Ui_Element), 64);
    for (u32 i = 0; i < ui_elements.count; i++) {
        Ui_Element *e = dynamic_array_at<Ui_Element>(&ui_elements, i);
        if (e->id == id && e->kind == kind) {
            e->is_new = 0;
            return e;
        }
    }
    if (ui_elements.count == ui_elements.capacity) dynamic_array_reserve(&ui_elements, ui_elements.capacity * 2);
    Ui_Element *e = (Ui_Element *)dynamic_array_add(&ui_elements);
    memset(e, 0, sizeof *e);
    e->id = id;
    e->kind = kind;
    e->is_new = 1;
    return e;
}

// [SECTION] Consuming input

bool ui_layer_is_focused() { return ui_current_layer == ui_layer_in_focus; }

bool ui_mouse_is_inside(Vector2 top_left, Vector2 size) {
    Vector2 m = ui_mouse_position;
    return m.x >= top_left.x && m.x < top_left.x + size.x && m.y >= top_left.y && m.y < top_left.y + size.y;
}

static void remove_event(u32 index) {
    Window *w = ui_window;
    u32 after = w->num_events - index - 1;
    if (after) memmove(&w->events[index], &w->events[index + 1], (size_t)after * sizeof(Event));
    w->num_events--;
}

bool ui_consume_mouse_event_no_matter_what(u8 bits) {
    if (!ui_window) return false;
    for (u32 i = 0; i < ui_window->num_events; i++) {
        Event *e = &ui_window->events[i];
        if (e->type == EVENT_MOUSE && (e->bits & bits)) {
            remove_event(i);
            return true;
        }
    }
    return false;
}

bool ui_consume_mouse_event(u8 bits) {
    if (!ui_layer_is_focused()) return false;
    return ui_consume_mouse_event_no_matter_what(bits);
}

bool ui_consume_left_click() {
    if (!ui_consume_mouse_event(MOUSE_LEFT_DOWN)) return false;
    ui_do_not_stop_after_current_frame();
    return true;
}

bool ui_consume_left_click_no_matter_what() {
    if (!ui_consume_mouse_event_no_matter_what(MOUSE_LEFT_DOWN)) return false;
    ui_do_not_stop_after_current_frame();
    return true;
}

bool ui_consume_double_click() {
    if (!ui_consume_mouse_event(MOUSE_DOUBLE_CLICK)) return false;
    ui_do_not_stop_after_current_frame();
    return true;
}

f32 ui_gather_scroll() {
    if (!ui_layer_is_focused() || !ui_window) return 0;
    f32 sum = 0;
    for (u32 i = 0; i < ui_window->num_events; i++) {
        Event *e = &ui_window->events[i];
        if (e->type == EVENT_SCROLL) sum += e->amount;
    }
    return sum;
}

void ui_set_cursor(u8 type, bool force) {
    if (!force && !ui_layer_is_focused()) return;
    if (ui_cursor_was_set_this_frame) return;
    if (type == CURSOR_NONE_CHOSEN && ui_current_cursor_type == CURSOR_NONE_CHOSEN) return;
    ui_current_cursor_type = type;
    ui_cursor_was_set_this_frame = 1;
    // The platform layer applies shapes only to a normal (visible) pointer.
    if (type < NUM_CURSORS) platform_set_cursor(type);
}
