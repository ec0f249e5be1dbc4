// The frame driver: everything drawn between the start and the end of a
// frame.
#pragma once
#include "core/base.h"
#include "render/renderer.h"

void draw_and_update_editor(f32 x, f32 y, f32 width, f32 height);
// The compile-errors tab exists exactly while the compiler has errors.
void sync_compile_errors_tab();
// Lister drawing, installed by the lister code: drawn last, over everything
// (SHOW_FILE_LISTER / SHOW_SEARCH_LISTER with their editor contexts).
extern void (*draw_file_lister_hook)();
extern void (*draw_search_lister_hook)();

// One frame from its start to the present: begin the renderer and UI frames,
// run the frame driver, end the UI frame and present. A minimised window
// (zero-sized framebuffer) draws nothing and asks for no further frame.
void build_and_present_frame(u64 frame_start);
// Vertical sync is on only once the last activity is more than half a second
// older than the frame's start; activity stamped during the frame (after its
// start) keeps it off.
bool frame_wants_vsync(u64 frame_start, u64 last_activity);

// The font size setting in thousandths of the monitor height; raised to
// MIN_FONT_SIZE when fonts are resized. The custom layer will own it.
extern f32 global_font_size_setting;

// The about panel: centred lines naming the editor's version and the
// machine, over `background`.
void draw_about_panel(f32 x, f32 y, f32 width, f32 height, Colour background);
// The panel's text colour for a background: dark on bright, light on dark.
Colour about_panel_text_colour(Colour background);
// The panel's lines (computed once per run); returns how many.
u32 about_panel_lines(String *out, u32 capacity);
