// The file view: one file (or a one-line text field) drawn with line
// numbers, current line, selection and cursor, coloured by its colour
// chunks, scrolled by the wheel and a scroll bar, and clicked into.
#pragma once
#include "core/base.h"
#include "render/renderer.h"
#include "render/fonts.h"

struct File;

// Colours of the custom layer's themes (the defaults until it sets them).
extern Colour ui_theme[9];    // top bar, inactive tab, text, background, highlight, faded text, error, cursor, shadow
extern f32 ui_theme_roundness;
extern Colour text_theme[6];  // background, text, selection, line numbers, current line, cursor
enum Text_Theme_Index : u8 {
    TEXT_THEME_BACKGROUND = 0, TEXT_THEME_TEXT = 1, TEXT_THEME_SELECTION = 2,
    TEXT_THEME_LINE_NUMBERS = 3, TEXT_THEME_CURRENT_LINE = 4, TEXT_THEME_CURSOR = 5,
};
void reset_themes();
// Where settings copy the themes to: 0 the UI colours, 1 the roundness, 2 the text colours.
void *theme_storage(u32 which);

// What a view keeps between frames, in the file's view_lines array.
struct File_View_State {
    f64 scroll;               // lines scrolled, fractional
    u64 line_count;
    const u8 *counted_data;   // the text the count and the cached line start belong to
    u64 counted_length;
    u64 top_line;             // a line whose start is known …
    u64 top_offset;           // … and that start
    u64 last_cursor;
    f64 drag_scroll;          // scroll when the scroll bar drag began
    f32 drag_mouse_y;
    u8 dragging_bar;
    u8 ready;
    u8 pad[2];
    f32 horizontal_offset;    // one-line fields: pixels scrolled right
    u64 cursor_offset;        // where the cursor was when …
    u64 cursor_line;          // … its line was counted (0: not known)
    f64 scroll_x;             // multi-line views: pixels scrolled right
    u64 anchor_line;          // the sideways anchor's line (0: none) …
    u64 anchor_line_start;    // … that line's start …
    u64 anchor_offset;        // … an offset on it …
    f64 anchor_x;             // … and its x from the line's start
    Font_Pool *anchor_pool;   // what the anchor was measured with
    u32 anchor_font_size;
    f32 anchor_tab;
    u64 anchor_pending_count; // between the text hooks: bytes being replaced
    u8 anchor_shift;          // between the text hooks: the edit lies on an earlier line
    u8 reached_right;         // a row ran past the right edge in the last frame
    u64 drag_scroll_time;     // when a drag past an edge last scrolled (0: it does not)
};
File_View_State *file_view_state(File *file);

// Lines to scroll per wheel notch; sideways (Shift + wheel), characters.
constexpr f64 WHEEL_LINES_PER_NOTCH = 3;
constexpr f64 WHEEL_COLUMNS_PER_NOTCH = 6;
// A drag past the view's edge scrolls this many lines (columns) a second
// for each line (column) the mouse is out, from one line at the edge.
constexpr f64 DRAG_SCROLL_PER_SECOND = 15;
constexpr f64 DRAG_SCROLL_MAX_PER_SECOND = 480;

// Keeps the views' line counts in step with edits (installed by the shell).
void install_view_text_hooks();

void draw_file(Vector2 position, Vector2 size, File *file, Font_Pool *pool);

// Line count of the text, cached until the text changes.
u64 file_view_line_count(File *file);
// Offset of the start of 1-based `line`, from the view's cache when it can.
u64 file_view_line_offset(File *file, u64 line);
// The scroll that puts `line` (1-based) in the middle of `rows` visible rows.
f64 centred_scroll(u64 line, f64 rows, u64 line_count);
