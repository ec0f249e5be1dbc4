// The top bar: the update buttons, the six icon buttons, the notice line and
// the strip of tab labels with dragging.
#pragma once
#include "core/base.h"
#include "render/renderer.h"

struct Tab;

f32 top_bar_height();
f32 tab_label_width();
// Draws the bar and its buttons; returns the x where the tab strip starts.
f32 draw_top_bar(f32 x, f32 y, f32 width);
// The unsaved-changes notice at the bar's right end (drawn over the strip).
void draw_close_notice(f32 x, f32 y, f32 width);
// Draws one label; true when its close glyph was pressed.
bool draw_tab(Vector2 strip_top_left, Vector2 strip_size, f32 width, Tab *tab, bool allow_drag);
// Drag slots while a tab is dragged (before the labels are drawn).
void update_tab_drag_slots(f32 strip_x, f32 width);
// Ends a drag whose button was released; draws the dragged label otherwise.
void finish_tab_drag(Vector2 strip_top_left, Vector2 strip_size, f32 width);
// The target slot of a drag with the mouse at `mouse_x`.
u32 tab_drag_target(f32 mouse_x, f32 grab_offset, f32 strip_x, f32 width, u32 count);
// The file lister's entry for the open icon (installed by the lister code).
struct Filepath;
extern void (*open_file_lister_hook)(const char *title, const Filepath *directory);
