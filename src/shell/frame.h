// The frame driver: everything drawn between the start and the end of a
// frame. Until tabs exist it draws the background and the about panel.
#pragma once
#include "core/base.h"
#include "render/renderer.h"

void draw_and_update_editor(f32 x, f32 y, f32 width, f32 height);

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
