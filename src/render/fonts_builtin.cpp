// The built-in fonts, read from the assets archive next to the executable.
#include "render/fonts.h"
#include "render/render_log.h"
#include "core/assets.h"

String fonts_executable_directory() { return executable_filepath; }

void *fonts_glyphs_first_page() { return glyphs_first_page; }

bool init_font_from_executable(Font *font, const char *name) {
    // Font bytes must outlive the face: each built-in font keeps its own
    // allocation (a stored entry points into the archive, which stays).
    Allocation allocation = {};
    u64 length = strlen(name);
    Array_View bytes =
        find_and_extract_file_from_zip_data(pseudo_exe_data.data, pseudo_exe_data.count, (const u8 *)name, length, &allocation);
    if (!bytes.data || bytes.count == 0) {
        render_log(RENDER_LOG_ERROR, "Failed to load font '%s' from the executable.", name);
        return false;
    }
    return init_font(font, (const u8 *)bytes.data, (s64)bytes.count, (const u8 *)name, (s64)length);
}
