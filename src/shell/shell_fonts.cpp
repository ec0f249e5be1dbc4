// The font size setting as the editor API sees it, and re-centring the file
// views after fonts were resized.
#include "shell/frame.h"
#include "shell/tabs.h"
#include "shell/file_view.h"
#include "render/fonts.h"
#include "render/window.h"
#include "text/file.h"
#include "text/text_state.h"

static f32 hook_get_font_size() { return global_font_size_setting; }
static void hook_set_font_size(f32 size) {
    global_font_size_setting = size;
    u32 width, height;
    platform_get_video_mode_size(&width, &height);
    handle_screen_resolution_change(&global_font_size_setting, height);
}
// Font sizes changed: every file view re-centres on its cursor.
static void refocus_file_tabs() {
    spin_lock(&tabs_read_lock);
    for (u32 i = 0; i < num_tabs(); i++)
        if (File *file = tab_file(tab_at(i))) file_set_flags(file, FILE_CENTRE_CURSOR);
    spin_unlock(&tabs_read_lock);
}

void reset_shell_themes() { reset_themes(); }

void install_font_hooks() {
    text_hooks.get_font_size = hook_get_font_size;
    text_hooks.set_font_size = hook_set_font_size;
    fonts_resized_hook = refocus_file_tabs;
}
