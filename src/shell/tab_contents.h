// What the current tab shows below the tab strip.
#pragma once
#include "core/base.h"
#include "render/renderer.h"

struct Tab;
struct File;

void draw_and_update_tab_contents(Vector2 top_left, Vector2 size, Tab *tab);
// The compile-errors list: one entry per report; a click opens the place.
void draw_compile_errors(Vector2 top_left, Vector2 size);
// The update tab's progress.
void draw_update_progress(Vector2 top_left, Vector2 size, Tab *tab);
// Shows `path` at `line`: the tab already showing it, else a new tab.
// False when the file cannot be read.
bool editor_load_or_go_to_file(String path, u64 line);
// Called by terminal code for its own tabs; null draws nothing there.
extern void (*draw_terminal_tab_hook)(Vector2 top_left, Vector2 size, Tab *tab);
