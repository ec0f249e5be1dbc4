// Test set-up shared by the renderer, font and UI tests: real TrueType files
// from the system stand in for the archive's built-in fonts.
#pragma once
#include "render/fonts.h"
#include "render/ui.h"
#include <string>

#define UI_FONT_PATH "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#define CODE_FONT_PATH "/usr/share/fonts/truetype/jetbrains-mono/JetBrainsMono-Regular.ttf"

// Loads UI, code and icons fonts (the icons font as built for the archive
// when present) into the built-in font globals, builds the three pools and
// starts a headless frame of width x height.
bool load_test_fonts_and_frame(u32 width = 1280, u32 height = 800);
// Bytes of a whole file; empty when it cannot be read.
std::string read_file_bytes(const char *path);
// Quads of the current frame that are glyphs.
u32 count_glyph_quads();
