// The about panel, shown while no tab is open.
#include "shell/frame.h"
#include "render/fonts.h"
#include "core/log.h"
#include "core/system_info.h"
#include <stb/stb_sprintf.h>

constexpr u32 NUM_ABOUT_LINES = 6;
constexpr u32 ABOUT_LINE_CAPACITY = 256;

static char about_lines[NUM_ABOUT_LINES][ABOUT_LINE_CAPACITY];
static s32 about_line_lengths[NUM_ABOUT_LINES];
static bool about_lines_ready;

// The machine does not change while we run: read /proc once.
static void make_about_lines() {
    Computer_Info info = {};
    os_get_computer_info(&info);
    const char *cpu = os_get_cpu_model_c_string();
    s32 *n = about_line_lengths;
    n[0] = stbsp_snprintf(about_lines[0], ABOUT_LINE_CAPACITY, "Editor version: %s (beta)",
                          version_to_c_string(EDITOR_VERSION));
    n[1] = stbsp_snprintf(about_lines[1], ABOUT_LINE_CAPACITY, "CPU model: %s", cpu && cpu[0] ? cpu : "unknown");
    n[2] = stbsp_snprintf(about_lines[2], ABOUT_LINE_CAPACITY, "CPU ISA: %s", isa_to_c_string(info.isa));
    n[3] = stbsp_snprintf(about_lines[3], ABOUT_LINE_CAPACITY, "Num. CPU cores: %u (physical), %u (logical)",
                          (u32)info.num_physical_cores, (u32)info.num_logical_processors);
    // stb_sprintf's "$$" writes the size with a binary unit (GiB and so on).
    const char *ram_format = "Usable RAM: %$$llu";
    n[4] = stbsp_snprintf(about_lines[4], ABOUT_LINE_CAPACITY, ram_format, (unsigned long long)info.usable_ram);
    // The pretty name already carries the version ("Debian GNU/Linux 12 (bookworm)").
    n[5] = info.os_name.count > 0
               ? stbsp_snprintf(about_lines[5], ABOUT_LINE_CAPACITY, "OS: %.*s", (int)info.os_name.count,
                                (const char *)info.os_name.data)
               : stbsp_snprintf(about_lines[5], ABOUT_LINE_CAPACITY, "OS: unknown");
    for (u32 i = 0; i < NUM_ABOUT_LINES; i++) {
        if (n[i] < 0) n[i] = 0;
        if (n[i] >= (s32)ABOUT_LINE_CAPACITY) n[i] = ABOUT_LINE_CAPACITY - 1;
        // Brand strings come padded with spaces, which would pull the centred line left.
        while (n[i] > 0 && about_lines[i][n[i] - 1] == ' ') n[i]--;
    }
    about_lines_ready = true;
}

u32 about_panel_lines(String *out, u32 capacity) {
    if (!about_lines_ready) make_about_lines();
    u32 count = capacity < NUM_ABOUT_LINES ? capacity : NUM_ABOUT_LINES;
    for (u32 i = 0; i < count; i++) out[i] = String{(u8 *)about_lines[i], about_line_lengths[i]};
    return count;
}

Colour about_panel_text_colour(Colour background) {
    if (colour_brightness(background) > 0.5f) return Colour{0.02f, 0.02f, 0.02f, 1};
    return Colour{0.85f, 0.85f, 0.85f, 1};
}

void draw_about_panel(f32 x, f32 y, f32 width, f32 height, Colour background) {
    String lines[NUM_ABOUT_LINES];
    u32 count = about_panel_lines(lines, NUM_ABOUT_LINES);
    Font_Pool *pool = &ui_font_pool;
    f32 line_height = pool->line_height > 0 ? pool->line_height : (f32)pool->size;
    // The version line stands apart from the machine description.
    f32 gap = line_height * 0.5f;
    f32 block = line_height * (f32)count + gap;
    f32 top = y + (height - block) * 0.5f;
    f32 centre = x + width * 0.5f;
    Colour colour = about_panel_text_colour(background);
    Vector2 clip_top_left = {x, y}, clip_bottom_right = {x + width, y + height};
    for (u32 i = 0; i < count; i++) {
        f32 line_y = top + line_height * (f32)i + (i > 0 ? gap : 0);
        draw_text_scissored(lines[i].data, lines[i].count, pool, ANCHOR_TOP_CENTRE, centre, line_y, colour,
                            clip_top_left, clip_bottom_right);
    }
}
