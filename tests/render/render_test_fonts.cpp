#include "render_test_fonts.h"
#include <fstream>
#include <sstream>

std::string read_file_bytes(const char *path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

static bool load(Font *font, const char *path) {
    // The face points into its bytes: keep every file alive for the run.
    static std::string kept[8];
    static int used;
    std::string &bytes = kept[used++ % 8];
    bytes = read_file_bytes(path);
    return init_font(font, (const u8 *)bytes.data(), (s64)bytes.size(), (const u8 *)path, (s64)strlen(path));
}

bool load_test_fonts_and_frame(u32 width, u32 height) {
    static bool loaded;
    if (!loaded) {
        fonts_init_storage(nullptr);
        std::string icons = std::string(TARNO_BINARY_DIR) + "/generated/icons.ttf";
        if (read_file_bytes(icons.c_str()).empty()) icons = UI_FONT_PATH;
        if (!load(&ui_latin_font, UI_FONT_PATH) || !load(&code_latin_font, CODE_FONT_PATH) ||
            !load(&icons_font, icons.c_str()))
            return false;
        loaded = true;
    }
    ui_build_font_pools();
    renderer_init_headless(width, height);
    prepare_frame();
    return true;
}

u32 count_glyph_quads() {
    u32 n = 0;
    for (u32 i = 0; i < renderer_quad_instances.count; i++)
        if (renderer_instance(i)->flags & QUAD_INSTANCE_GLYPH) n++;
    return n;
}
