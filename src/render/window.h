// The platform layer: the one window, its input callbacks and event queue,
// cursors, clipboard, waking the main thread and presenting. GLFW appears
// only here (and OpenGL only in the renderer), so everything else runs
// headless.
#pragma once
#include "core/base.h"

struct GLFWwindow;
struct GLFWcursor;

constexpr u32 MAX_WINDOW_EVENTS = 128;
constexpr u32 EVENT_SIZE = 4128;
constexpr u32 EVENT_PAYLOAD_SIZE = 4120;

enum Event_Type : u8 {
    EVENT_CHARACTER = 1,   // payload u32 code point
    EVENT_KEY_PRESSED = 2, // payload u32 key code (press or repeat)
    EVENT_KEY_RELEASED = 4,
    EVENT_MOUSE = 8,       // payload u8 MOUSE_* bits
    EVENT_SCROLL = 16,     // payload f32: wheel offset * -100
    EVENT_WINDOW = 32,     // payload u8 WINDOW_EVENT_*
};

enum Mouse_Bits : u8 {
    MOUSE_LEFT_DOWN = 1,
    MOUSE_LEFT_UP = 2,
    MOUSE_DOUBLE_CLICK = 4,
    MOUSE_RIGHT_DOWN = 8,
    MOUSE_RIGHT_UP = 16,
    MOUSE_MIDDLE_DOWN = 32,
    MOUSE_MIDDLE_UP = 64,
};

enum Window_Event_Kind : u8 {
    WINDOW_EVENT_RESIZED = 1,
    WINDOW_EVENT_CLOSE = 4,
};

enum Modifier_Bits : u8 {
    MODIFIER_CONTROL = 1,
    MODIFIER_ALT = 2,
    MODIFIER_SHIFT = 4,
};

struct Event {
    union {
        u8 payload[EVENT_PAYLOAD_SIZE];
        u32 code;  // key, code point
        u8 bits;   // mouse bits, window event kind
        f32 amount; // scroll
    };
    u8 modifiers;
    u8 type;
    u8 pad[6];
};
static_assert(sizeof(Event) == EVENT_SIZE);

struct Window {
    GLFWwindow *handle;
    u32 width, height;
    Event events[MAX_WINDOW_EVENTS];
    u16 num_events;
    u64 last_left_press_time;
    u8 modifiers;
    volatile u8 focused; // kept by the focus callback; worker threads read it
};

extern Window window;

constexpr u64 DOUBLE_CLICK_MICROSECONDS = 200000;
constexpr u32 NUM_CURSORS = 8;
enum Cursor_Type : u8 {
    CURSOR_ARROW = 0,
    CURSOR_HAND = 1,
    CURSOR_RESIZE_HORIZONTAL = 2,
    CURSOR_RESIZE_VERTICAL = 3,
    CURSOR_RESIZE_HORIZONTAL_2 = 4,
    CURSOR_RESIZE_HORIZONTAL_3 = 5,
    CURSOR_CROSSHAIR = 6,
    CURSOR_TEXT = 7,
    CURSOR_NONE_CHOSEN = 8,
};
extern GLFWcursor *glfw_cursor_table[NUM_CURSORS];

// Appends one event unless the queue is full (then it is dropped). Returns
// the event or null. The callbacks and the tests both come through here.
Event *window_push_event(u8 type, u8 modifiers);

// GLFW callbacks: each only queues events.
void glfw_key_callback(GLFWwindow *handle, int key, int scancode, int action, int mods);
void glfw_character_callback(GLFWwindow *handle, unsigned int codepoint);
void glfw_mouse_button_callback(GLFWwindow *handle, int button, int action, int mods);
void glfw_mouse_scroll_callback(GLFWwindow *handle, double x_offset, double y_offset);
void glfw_focus_callback(GLFWwindow *handle, int focused);
// Whether the window has the keyboard; safe to call from any thread.
bool platform_window_is_focused();
void glfw_resize_callback(GLFWwindow *handle, int width, int height);
void glfw_close_callback(GLFWwindow *handle);

// Start-up and shut-down.
bool platform_init();            // glfwInit and the cursors
bool platform_create_window(const char *title, u32 width, u32 height);
void platform_set_window_icon(String directory); // reads directory/LOGO; silently skipped when missing
void platform_install_callbacks();
void platform_destroy_window();
void platform_terminate();        // cursors, then glfwTerminate
const char *platform_last_error(); // the window system's last error text, or ""

// The frame loop.
void platform_wait_events();
void platform_poll_events();
void platform_wake_main_thread(); // from any thread
void platform_get_mouse_position(f32 *x, f32 *y);
void platform_get_video_mode_size(u32 *width, u32 *height); // primary monitor; 0 x 0 headless
void platform_set_cursor(u8 cursor_type);
void platform_present(bool vsync);
void platform_set_window_title(const char *title);

// Clipboard: the window system's when a window exists, an in-memory one when headless.
// The text read stays valid until the next get or set.
String platform_get_clipboard_text();
void platform_set_clipboard_text(String text);
