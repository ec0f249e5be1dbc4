#include "render/window.h"
#include "core/memory.h"
#include "core/strings.h"
#include <GLFW/glfw3.h>
#include <stdio.h>
#include <ctype.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb/stb_image.h>

Window window;
GLFWcursor *glfw_cursor_table[NUM_CURSORS];

static bool glfw_is_up;
static u8 current_cursor = CURSOR_NONE_CHOSEN;
static Allocation headless_clipboard;
static char last_error[512];

static void glfw_error_callback(int code, const char *description) {
    snprintf(last_error, sizeof last_error, "GLFW error %d: %s", code, description ? description : "");
}

const char *platform_last_error() { return last_error; }

// [SECTION] Event queue

Event *window_push_event(u8 type, u8 modifiers) {
    if (window.num_events >= MAX_WINDOW_EVENTS) return nullptr;
    Event *e = &window.events[window.num_events++];
    memset(e->payload, 0, 16); // the rest of the payload is never read
    e->type = type;
    e->modifiers = modifiers;
    return e;
}

static u8 translate_modifiers(int mods) {
    u8 m = 0;
    if (mods & GLFW_MOD_CONTROL) m |= MODIFIER_CONTROL;
    if (mods & GLFW_MOD_ALT) m |= MODIFIER_ALT;
    if (mods & GLFW_MOD_SHIFT) m |= MODIFIER_SHIFT;
    return m;
}

void glfw_key_callback(GLFWwindow *, int key, int scancode, int action, int mods) {
    u8 m = translate_modifiers(mods);
    window.modifiers = m;
    if (action == GLFW_RELEASE) {
        if (Event *e = window_push_event(EVENT_KEY_RELEASED, m)) e->code = (u32)key;
        return;
    }
    u32 code = (u32)key;
    // Letters follow the keyboard layout, so a French A key reports 'Q' as 'Q'.
    if (key >= GLFW_KEY_A && key <= GLFW_KEY_Z && glfw_is_up) {
        const char *name = glfwGetKeyName(key, scancode);
        if (name && name[0] && !name[1]) code = (u32)toupper((unsigned char)name[0]);
    }
    if (Event *e = window_push_event(EVENT_KEY_PRESSED, m)) e->code = code;
    if (key == GLFW_KEY_TAB && m == 0) {
        if (Event *e = window_push_event(EVENT_CHARACTER, m)) e->code = '\t';
    }
}

void glfw_character_callback(GLFWwindow *, unsigned int codepoint) {
    if (Event *e = window_push_event(EVENT_CHARACTER, window.modifiers)) e->code = codepoint;
}

void glfw_mouse_button_callback(GLFWwindow *, int button, int action, int mods) {
    if (button < 0 || button > 2) return;
    u8 m = translate_modifiers(mods);
    bool press = action == GLFW_PRESS;
    static const u8 DOWN[3] = {MOUSE_LEFT_DOWN, MOUSE_RIGHT_DOWN, MOUSE_MIDDLE_DOWN};
    static const u8 UP[3] = {MOUSE_LEFT_UP, MOUSE_RIGHT_UP, MOUSE_MIDDLE_UP};
    if (Event *e = window_push_event(EVENT_MOUSE, m)) e->bits = press ? DOWN[button] : UP[button];
    if (press && button == 0) {
        u64 now = os_get_time_microseconds();
        if (window.last_left_press_time && now - window.last_left_press_time < DOUBLE_CLICK_MICROSECONDS) {
            if (Event *e = window_push_event(EVENT_MOUSE, m)) e->bits = MOUSE_DOUBLE_CLICK;
        }
        window.last_left_press_time = now;
    }
}

void glfw_mouse_scroll_callback(GLFWwindow *, double x_offset, double y_offset) {
    if (y_offset != 0)
        if (Event *e = window_push_event(EVENT_SCROLL, window.modifiers)) e->amount = (f32)(y_offset * -100.0);
    // A sideways wheel or swipe arrives as Shift + wheel, what views scroll sideways by.
    if (x_offset != 0)
        if (Event *e = window_push_event(EVENT_SCROLL, (u8)(window.modifiers | MODIFIER_SHIFT))) e->amount = (f32)(x_offset * -100.0);
}

void glfw_focus_callback(GLFWwindow *, int focused) {
    if (!focused) window.modifiers = 0;
    window.focused = focused ? 1 : 0;
}

bool platform_window_is_focused() { return window.focused != 0; }

void glfw_resize_callback(GLFWwindow *, int width, int height) {
    window.width = (u32)(width > 0 ? width : 0);
    window.height = (u32)(height > 0 ? height : 0);
    if (Event *e = window_push_event(EVENT_WINDOW, 0)) e->bits = WINDOW_EVENT_RESIZED;
}

void glfw_close_callback(GLFWwindow *) {
    if (Event *e = window_push_event(EVENT_WINDOW, 0)) e->bits = WINDOW_EVENT_CLOSE;
}

// [SECTION] Start-up and shut-down

bool platform_init() {
    glfwSetErrorCallback(glfw_error_callback);
    glfw_is_up = glfwInit() == GLFW_TRUE;
    if (!glfw_is_up) return false;
    static const int SHAPES[NUM_CURSORS] = {GLFW_ARROW_CURSOR,   GLFW_HAND_CURSOR,    GLFW_HRESIZE_CURSOR,
                                            GLFW_VRESIZE_CURSOR, GLFW_HRESIZE_CURSOR, GLFW_HRESIZE_CURSOR,
                                            GLFW_CROSSHAIR_CURSOR, GLFW_IBEAM_CURSOR};
    for (u32 i = 0; i < NUM_CURSORS; i++) glfw_cursor_table[i] = glfwCreateStandardCursor(SHAPES[i]);
    return true;
}

bool platform_create_window(const char *title, u32 width, u32 height) {
    memset(&window, 0, sizeof window);
    if (!glfw_is_up) {
        snprintf(last_error, sizeof last_error, "the window system could not be initialised");
        return false;
    }
    glfwWindowHint(GLFW_COCOA_RETINA_FRAMEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_TRUE);
    glfwWindowHint(GLFW_VISIBLE, GLFW_TRUE);
    glfwWindowHint(GLFW_DECORATED, GLFW_TRUE);
    glfwWindowHint(GLFW_FOCUSED, GLFW_TRUE);
    glfwWindowHint(GLFW_MAXIMIZED, GLFW_TRUE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 4);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 5);
    glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
    glfwWindowHint(GLFW_OPENGL_FORWARD_COMPAT, GLFW_TRUE);
    window.handle = glfwCreateWindow((int)width, (int)height, title, nullptr, nullptr);
    if (!window.handle) return false;
    glfwMakeContextCurrent(window.handle);
    glfwSetWindowUserPointer(window.handle, &window);
    window.focused = glfwGetWindowAttrib(window.handle, GLFW_FOCUSED) ? 1 : 0;
    int w = 0, h = 0;
    glfwGetFramebufferSize(window.handle, &w, &h);
    window.width = (u32)w;
    window.height = (u32)h;
    return true;
}

void platform_set_window_icon(String directory) {
    if (!window.handle) return;
    const char *path = to_tmp_c_string(string_concat2("%/LOGO", directory)); // no budget: deep directories fit
    int fd = open(path, O_RDONLY);
    if (fd < 0) return;
    struct stat st;
    Allocation bytes = {};
    if (fstat(fd, &st) == 0 && st.st_size > 0 && st.st_size < (1 << 26)) {
        gp_allocate(&bytes, (u64)st.st_size);
        if (read(fd, bytes.memory, (size_t)st.st_size) != st.st_size) gp_free(&bytes);
    }
    close(fd);
    if (!bytes.size) return;
    int w, h, channels;
    u8 *pixels = stbi_load_from_memory((u8 *)bytes.memory, (int)bytes.size, &w, &h, &channels, 4);
    gp_free(&bytes);
    if (!pixels) return;
    GLFWimage image = {w, h, pixels};
    glfwSetWindowIcon(window.handle, 1, &image);
    stbi_image_free(pixels);
}

void platform_install_callbacks() {
    if (!window.handle) return;
    glfwSetKeyCallback(window.handle, glfw_key_callback);
    glfwSetCharCallback(window.handle, glfw_character_callback);
    glfwSetMouseButtonCallback(window.handle, glfw_mouse_button_callback);
    glfwSetScrollCallback(window.handle, glfw_mouse_scroll_callback);
    glfwSetWindowFocusCallback(window.handle, glfw_focus_callback);
    glfwSetFramebufferSizeCallback(window.handle, glfw_resize_callback);
    glfwSetWindowCloseCallback(window.handle, glfw_close_callback);
}

void platform_destroy_window() {
    if (window.handle) glfwDestroyWindow(window.handle);
    window.handle = nullptr;
}

void platform_terminate() {
    if (!glfw_is_up) return;
    for (u32 i = 0; i < NUM_CURSORS; i++) {
        if (glfw_cursor_table[i]) glfwDestroyCursor(glfw_cursor_table[i]);
        glfw_cursor_table[i] = nullptr;
    }
    glfwTerminate();
    glfw_is_up = false;
}

// [SECTION] Frame loop

void platform_wait_events() {
    if (glfw_is_up) glfwWaitEvents();
}

void platform_poll_events() {
    if (glfw_is_up) glfwPollEvents();
}

void platform_wake_main_thread() {
    if (glfw_is_up) glfwPostEmptyEvent();
}

void platform_get_mouse_position(f32 *x, f32 *y) {
    double mx = 0, my = 0;
    if (window.handle) glfwGetCursorPos(window.handle, &mx, &my);
    *x = (f32)mx;
    *y = (f32)my;
}

void platform_get_video_mode_size(u32 *width, u32 *height) {
    *width = *height = 0;
    if (!glfw_is_up) return;
    GLFWmonitor *monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode *mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    if (!mode) return;
    *width = (u32)mode->width;
    *height = (u32)mode->height;
}

void platform_set_cursor(u8 cursor_type) {
    if (!window.handle || cursor_type >= NUM_CURSORS || cursor_type == current_cursor) return;
    current_cursor = cursor_type;
    glfwSetCursor(window.handle, glfw_cursor_table[cursor_type]);
}

void platform_present(bool vsync) {
    if (!window.handle) return;
    static int interval = -1;
    int wanted = vsync ? 1 : 0;
    if (wanted != interval) {
        glfwSwapInterval(wanted);
        interval = wanted;
    }
    glfwSwapBuffers(window.handle);
}

void platform_set_window_title(const char *title) {
    if (window.handle) glfwSetWindowTitle(window.handle, title);
}

// [SECTION] Clipboard
// Clipboard texts can be far larger than a thread's 10 MiB of temporary
// memory, so they never pass through it: the copies live in general-purpose
// allocations kept until the next call.

static Allocation clipboard_read_copy;

String platform_get_clipboard_text() {
    if (!window.handle) return gp_memory_to_string(headless_clipboard);
    const char *text = glfwGetClipboardString(window.handle);
    gp_free(&clipboard_read_copy);
    u64 n = text ? strlen(text) : 0;
    if (!n) return {};
    gp_allocate(&clipboard_read_copy, n);
    memcpy(clipboard_read_copy.memory, text, n);
    return gp_memory_to_string(clipboard_read_copy);
}

void platform_set_clipboard_text(String text) {
    u64 n = text.count > 0 ? (u64)text.count : 0;
    if (window.handle) {
        // The window system wants a NUL-terminated text.
        Allocation c_text;
        gp_allocate(&c_text, n + 1);
        if (n) memcpy(c_text.memory, text.data, n);
        ((char *)c_text.memory)[n] = 0;
        glfwSetClipboardString(window.handle, (const char *)c_text.memory);
        gp_free(&c_text);
        return;
    }
    gp_free(&headless_clipboard);
    if (!n) return;
    gp_allocate(&headless_clipboard, n);
    memcpy(headless_clipboard.memory, text.data, n);
}
