// Settings of the custom layer: set_settings, the font size and the line
// numbers switch (ids 45, 50, 51 and 94).
#include "text/editor_api_internal.h"
#include "core/strings.h"
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

// Bounds on what a settings block may ask for; past them the list is taken
// as damaged and left out with a message.
constexpr s64 API_MAX_HINTS = 1024;
constexpr s64 API_MAX_LIST = 4096;
constexpr u8 API_MAX_SPACES_PER_TAB = 32;

void api_store_font_size(f32 size) {
    if (!(size >= API_MIN_FONT_SIZE)) size = API_MIN_FONT_SIZE; // also NaN
    text_hooks.set_font_size(size);
    // Views re-centre on their cursors at the new size.
    text_hooks.lock_tabs();
    for (u32 i = 0, n = text_hooks.num_file_tabs(); i < n; i++)
        if (File *file = text_hooks.file_tab_at(i)) file_set_flags(file, FILE_CENTRE_CURSOR);
    text_hooks.unlock_tabs();
}

void api_get_font_size(u8 *block) { ((Api_F32_Result_Block *)block)->result = text_hooks.get_font_size(); }
void api_set_font_size(u8 *block) { api_store_font_size(((Api_F32_Block *)block)->value); }

void api_toggle_line_numbers(u8 *) { global_settings_flags ^= DISPLAY_LINE_NUMBERS; }

template <typename T>
static bool list_is_usable(const Api_Array<T> &list, s64 limit, const char *what) {
    if (list.count == 0 || (list.count > 0 && list.count <= limit && list.data)) return true;
    editor_report_error(tstring("The settings' %s list (%lld entries) is not usable; it was left out.", what, (long long)list.count));
    return false;
}

static void take_tokenisation_hints(const Api_Array<Api_Tokenisation_Hint> &hints) {
    if (!list_is_usable(hints, API_MAX_HINTS, "tokenisation hints")) return;
    tokenisation_hints_clear();
    for (s64 h = 0; h < hints.count; h++) {
        const Api_Tokenisation_Hint &from = hints.data[h];
        if (!list_is_usable(from.extensions, API_MAX_LIST, "extensions")) continue;
        // Extensions are matched lower-cased.
        String *extensions = (String *)tmp_allocate_aligned(sizeof(String) * (u64)(from.extensions.count + 1), alignof(String));
        u32 n = 0;
        for (s64 e = 0; e < from.extensions.count; e++) {
            String ext = from.extensions.data[e];
            if (!api_string_is_usable(ext) || ext.count == 0) continue;
            extensions[n++] = string_to_lower_case(ext);
        }
        Tokenisation_Hint_Description description = {};
        description.extensions = extensions;
        description.num_extensions = n;
        String empty = {nullptr, 0};
        description.single_line_comment = api_string_is_usable(from.single_line_comment) ? from.single_line_comment : empty;
        description.block_comment_start = api_string_is_usable(from.block_comment_start) ? from.block_comment_start : empty;
        description.block_comment_end = api_string_is_usable(from.block_comment_end) ? from.block_comment_end : empty;
        description.flags = from.flags;
        add_a_tokenisation_hint_from(&description);
    }
}

static void take_blacklist(const Api_Array<String> &extensions) {
    if (!list_is_usable(extensions, API_MAX_LIST, "blacklisted extensions")) return;
    blacklist_clear();
    for (s64 i = 0; i < extensions.count; i++)
        if (api_string_is_usable(extensions.data[i]) && extensions.data[i].count > 0) blacklist_add_extension(extensions.data[i]);
}

static bool file_exists(const char *path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

// "syntax.8" next to custom.8 is what custom.8 loads. The editor ships
// "syntax_latest.8"; asking for it moves it over "syntax.8". Asking for
// one's own keeps "syntax.8" (made empty when missing, so custom.8 still
// compiles). Nothing is ever removed without something taking its place.
static void choose_syntax_file(u8 choice) {
    String directory = text_hooks.custom_layer_directory();
    if (choice == SYNTAX_FILE_KEEP || directory.count <= 0) return;
    const char *syntax = tcstring("%.*s/syntax.8", (int)directory.count, (const char *)directory.data);
    const char *latest = tcstring("%.*s/syntax_latest.8", (int)directory.count, (const char *)directory.data);
    if (choice == SYNTAX_FILE_LATEST) {
        if (file_exists(latest) && rename(latest, syntax) != 0)
            editor_report_error(string_concat2("Could not rename '%' to '%'.", S(latest), S(syntax)));
    } else if (choice == SYNTAX_FILE_OWN) {
        if (file_exists(syntax)) return;
        int fd = open(syntax, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0) editor_report_error(string_concat2("Could not create '%'.", S(syntax)));
        else close(fd);
    }
}

void api_set_settings(u8 *block) {
    const Api_Settings *settings = &((Api_Settings_Block *)block)->settings;
    global_settings_flags = settings->display_flags;
    u8 spaces = settings->spaces_per_tab;
    if (spaces > 0 && spaces <= API_MAX_SPACES_PER_TAB) {
        global_num_visual_spaces_per_tab = spaces;
        // The tab key types as many spaces as a tab is wide.
        global_tab_character.count = 0;
        for (u8 i = 0; i < spaces; i++) dynamic_array_append_bytes(&global_tab_character, " ", 1);
    }
    // 0 keeps the size; a change resizes the fonts, so only a real one.
    f32 size = settings->font_size < API_MIN_FONT_SIZE ? API_MIN_FONT_SIZE : settings->font_size;
    if (settings->font_size > 0 && size != text_hooks.get_font_size()) api_store_font_size(size);
    take_tokenisation_hints(settings->tokenisation_hints);
    take_blacklist(settings->blacklisted_extensions);
    choose_syntax_file(settings->syntax_file);
    text_hooks.apply_settings(settings);
}
