// The immediate-mode UI: a per-frame view of the window's event queue that
// widgets consume from, layers and focus, element state found by id, the
// cursor, and the scroll bar, check box and button.
//
// Index:
//   [SECTION] Globals
//   [SECTION] Frame               (ui.cpp)
//   [SECTION] Identity and state  (ui.cpp)
//   [SECTION] Consuming input     (ui.cpp)
//   [SECTION] Widgets             (ui_widgets.cpp)
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "render/renderer.h"
#include "render/window.h"
#include "render/fonts.h"

// [SECTION] Globals

enum Ui_Element_Kind : u8 {
    UI_SCROLL_BAR = 0,
    UI_CHECK_BOX = 1,
    UI_BUTTON = 2,
};

enum Ui_Flags : u8 {
    UI_LEFT_BUTTON_HELD = 1,
    UI_ANOTHER_FRAME = 2, // draw the next frame without waiting for input
};

struct Scroll_Bar_State {
    f32 offset; // pixels of content scrolled
    f32 width;
    f32 offset_at_drag_start;
    Vector2 mouse_at_drag_start;
    u8 dragging;
    u8 pressed;
    f32 highlight;
};

struct Check_Box_State {
    u8 checked;
};

struct Ui_Element {
    u64 id;
    u8 kind;
    u8 is_new; // first frame this element is drawn
    union {
        Scroll_Bar_State scroll_bar;
        Check_Box_State check_box;
        u8 state[36];
    };
};
static_assert(sizeof(Ui_Element) == 48);

constexpr f32 UI_RESIZE_EDGE = 10;
constexpr f32 SCROLL_BAR_MIN_THUMB = 10;

extern Dynamic_Array ui_elements; // of Ui_Element
extern u8 ui_layer_in_focus;
extern u8 ui_current_layer;
extern u8 ui_current_cursor_type;
extern u8 ui_cursor_was_set_this_frame;
extern u8 ui_flags;
extern Vector2 ui_mouse_position;
extern Vector2 ui_previous_mouse_position;
extern Vector2 ui_screen_resolution;
extern Window *ui_window;

// [SECTION] Frame

// Loads the built-in fonts from the assets archive and builds the pools.
bool ui_init(Window *w);
// Builds the three initial pools from ui_latin_font, code_latin_font and
// icons_font (tests and benchmarks load those themselves, then call this).
void ui_build_font_pools();
void ui_begin_frame();
void ui_end_frame();
void ui_do_not_stop_after_current_frame();

// [SECTION] Identity and state

u64 make_ui_element_id(u32 index, const char *name, u32 name_length);
inline u64 make_ui_element_id(u32 index, const char *name) { return make_ui_element_id(index, name, (u32)strlen(name)); }
// The pointer is valid until the next element is added.
Ui_Element *get_or_add_ui_element(u64 id, u8 kind);

// [SECTION] Consuming input (true when an event was taken out of the queue)

bool ui_consume_mouse_event(u8 bits);
bool ui_consume_mouse_event_no_matter_what(u8 bits);
bool ui_consume_left_click();
bool ui_consume_left_click_no_matter_what();
bool ui_consume_double_click();
f32 ui_gather_scroll();
void ui_set_cursor(u8 type, bool force);
bool ui_layer_is_focused();
bool ui_mouse_is_inside(Vector2 top_left, Vector2 size);

// [SECTION] Widgets

struct Scroll_Bar_Colours {
    Colour track;
    Colour thumb;
    Colour thumb_highlighted;
};

f32 *ui_scroll_bar(u64 id, bool enabled, Vector2 area_top_left, Vector2 area_bottom_right, f32 content_height,
                   f32 bar_width, Scroll_Bar_Colours colours);
void ui_scroll_bar_ensure_visibility(u64 id, bool enabled, Vector2 area_top_left, Vector2 area_bottom_right,
                                     f32 content_height, Vector2 item_top_left, Vector2 item_size);
void ui_scroll_bar_centre_around(u64 id, bool enabled, Vector2 area_top_left, Vector2 area_bottom_right,
                                 f32 content_height, Vector2 item_top_left, Vector2 item_size);
u8 *ui_check_box(u64 id, String label, Vector2 top_left, Colour colour);
bool ui_button(u64 id, String label, Vector2 top_left, Vector2 size, Colour background);
