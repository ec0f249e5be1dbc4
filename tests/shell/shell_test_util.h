// Headless shell frames: real fonts, the window's queue filled by hand, an
// injectable clock.
#pragma once
#include "core/base.h"
#include <string>

struct File;

extern u64 shell_test_clock;
// Fonts, a headless 1280 x 800 frame target, a clean text core and shell.
bool shell_test_start(u32 width = 1280, u32 height = 800);
// One whole frame through the frame driver with the mouse at `mouse`.
void shell_test_frame(f32 mouse_x = -1, f32 mouse_y = -1);
void push_key(u8 type, u32 code, u8 modifiers = 0);
void push_mouse(u8 bits);
void push_scroll(f32 notches);
// Opens `bytes` as a file tab named `name` in `directory` (the tab is
// current after the next frame).
File *open_test_file(const std::string &directory, const std::string &name, const std::string &bytes, s64 line = -1);
std::string tab_title(u32 index);
