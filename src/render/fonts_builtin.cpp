// The built-in fonts, read from the assets archive next to the executable.
#include "render/fonts.h"
#include "render/render_log.h"
#include "core/strings.h"
#include <unistd.h>
#if __has_include("core/assets.h")
#include "core/assets.h"
#define FONTS_HAVE_ASSETS 1
#endif

String fonts_executable_directory() {
#ifdef FONTS_HAVE_ASSETS
    return executable_filepath;
#else
    static char directory[4097];
    static s64 length = -1;
    if (length < 0) {
        ssize_t n = readlink("/proc/self/exe", directory, sizeof directory - 1);
        length = n > 0 ? n : 0;
        while (length > 1 && directory[length - 1] != '/') length--;
        if (length > 1) length--;
    }
    return String{(u8 *)directory, length};
#endif
}

bool init_font_from_executable(Font *font, const char *name) {
#ifdef FONTS_HAVE_ASSETS
    // Font bytes must outlive the face, so each built-in font keeps its own allocation.
    Allocation allocation = {};
    Array_View bytes = find_and_extract_file_from_zip_data(pseudo_exe_data.data, pseudo_exe_data.count,
                                                           (const u8 *)name, strlen(name), &allocation);
    if (!bytes.data || bytes.count == 0) {
        render_log(RENDER_LOG_ERROR, "Failed to load font '%s' from the executable.", name);
        return false;
    }
    return init_font(font, (const u8 *)bytes.data, (s64)bytes.count, (const u8 *)name, (s64)strlen(name));
#else
    render_log(RENDER_LOG_ERROR, "Failed to load font '%s' from the executable.", name);
    return false;
#endif
}

void *fonts_glyphs_first_page() {
#ifdef FONTS_HAVE_ASSETS
    return glyphs_first_page;
#else
    return nullptr;
#endif
}
