// The system's fonts loaded into the UI and code fonts, for the benchmarks
// that lay out text.
#pragma once
#include "core/base.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "render/fonts.h"

inline bool bench_load_font(Font *font, const char *path) {
    FILE *f = fopen(path, "rb");
    if (!f) return false;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    u8 *bytes = (u8 *)malloc((size_t)size); // kept: the face points into it
    bool ok = fread(bytes, 1, (size_t)size, f) == (size_t)size;
    fclose(f);
    return ok && init_font(font, bytes, size, (const u8 *)path, (s64)strlen(path));
}

// DejaVu Sans for the UI (and the icons' place), JetBrains Mono for code;
// exits with a message naming `program` when either is missing.
inline void bench_load_system_fonts(const char *program) {
    const char *ui = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    const char *code = "/usr/share/fonts/truetype/jetbrains-mono/JetBrainsMono-Regular.ttf";
    if (!bench_load_font(&ui_latin_font, ui) || !bench_load_font(&code_latin_font, code) || !bench_load_font(&icons_font, ui)) {
        fprintf(stderr, "%s: fonts missing\n", program);
        exit(1);
    }
}
