// The editor's entry: start-up in a fixed order, the frame loop, shut-down.
#include "core/memory.h"
#include "core/strings.h"
#include "core/log.h"
#include "core/assets.h"
#include "core/system_info.h"
#include "render/window.h"
#include "render/renderer.h"
#include "render/fonts.h"
#include "render/ui.h"
#include "shell/frame.h"
#include "shell/globals.h"
#include "shell/command_line.h"
#include "shell/file_watcher.h"
#include "shell/update.h"
#include "shell/shell.h"
#include "shell/tabs.h"
#include "shell/custom_layer_events.h"
#include "text/text_state.h"
#include "text/file.h"
#include "shell/curl_library.h"
#include <stdio.h>
#include <unistd.h>
#include <stdlib.h>
#include <errno.h>
#include <string.h>

static void log_general_information() {
    Computer_Info info = {};
    os_get_computer_info(&info);
    add_log(nullptr, LOG_INFO, "Tarno version %s", version_to_c_string(EDITOR_VERSION));
    log_new_line();
    add_log(nullptr, LOG_INFO, "--- General Information ---");
    add_log(nullptr, LOG_INFO, "CPU model:      %s", os_get_cpu_model_c_string());
    add_log(nullptr, LOG_INFO, "CPU ISA:        %s", isa_to_c_string(info.isa));
    add_log(nullptr, LOG_INFO, "Num. CPU cores: %u (physical), %u (logical)", (u32)info.num_physical_cores,
            (u32)info.num_logical_processors);
    add_log(nullptr, LOG_INFO, "Usable RAM:     %$$llu", (unsigned long long)info.usable_ram);
    // The pretty name already carries the version ("Debian GNU/Linux 12 (bookworm)").
    add_log(nullptr, LOG_INFO, "OS:             %.*s", (int)info.os_name.count, (const char *)info.os_name.data);
    log_new_line();
}

static void read_and_open_command_line() {
    Dynamic_Array args;
    read_command_line(&args);
    String joined = join_command_line(&args);
    add_log(nullptr, LOG_INFO, "Command line: %.*s", (int)joined.count, (const char *)joined.data);
    open_command_line_file(&args, executable_filepath);
    dynamic_array_free(&args);
}

static void log_text_core_error(String message) {
    add_log(nullptr, LOG_ERROR, "%.*s", (int)message.count, (const char *)message.data);
}

static void set_window_clipboard(const char *text) { platform_set_clipboard_text(S(text)); }

// The editor's share of the start-up block: the first chunk of file records
// and the first buckets of the custom layer's hint and black-list strings.
// The rest of EDITOR_MEMORY is kept for the terminal, search and lister pools.
constexpr u64 EDITOR_MEMORY = 48085296;

static void init_editor_region() {
    u8 *region = (u8 *)startup_take(EDITOR_MEMORY);
    u8 *hint_strings = region + EDITOR_FILES_MEMORY;
    u8 *black_list_strings = hint_strings + TOKENISATION_HINTS_STRING_DATA_BUCKET_SIZE;
    editor_text_place_startup_memory(region, hint_strings, black_list_strings);
    editor_text_init();
    text_hooks.set_clipboard_text = set_window_clipboard;
    text_hooks.get_clipboard_text = platform_get_clipboard_text;
    text_hooks.report_error = log_text_core_error;
    shell_init();
}

// One pass of the frame loop's input half: wait (or poll), then handle the
// window's own events.
static void collect_window_events(bool poll) {
    window.num_events = 0;
    if (poll) platform_poll_events();
    else platform_wait_events();
    for (u32 i = 0; i < window.num_events; i++) {
        Event *e = &window.events[i];
        if (e->type != EVENT_WINDOW) continue;
        if (e->bits == WINDOW_EVENT_RESIZED) resize_render_target(window.width, window.height);
        // Unsaved work makes the first close a warning (the notice in the top bar).
        if (e->bits == WINDOW_EVENT_CLOSE) request_exit();
    }
}

// Font sizes follow the primary monitor's height: re-rasterise when its
// video mode changes (also on the first frame).
static void resize_fonts_if_the_monitor_changed() {
    static u32 seen_width, seen_height;
    u32 width, height;
    platform_get_video_mode_size(&width, &height);
    if (width == seen_width && height == seen_height) return;
    seen_width = width;
    seen_height = height;
    ui_screen_resolution = Vector2{(f32)width, (f32)height};
    handle_screen_resolution_change(&global_font_size_setting, height);
}

int main() {
    // 1. The window system and its cursors.
    platform_init();

    // 2. Memory; the main thread takes temporary slot 0.
    init_memory();

    // 3. libcurl is loaded and set up by the first download.

    // 4. Assets; this also finds the executable's directory.
    init_assets();

    // 5. The log and its header.
    init_logging();
    log_general_information();

    int exit_status = 0;
    // 6. The window.
    const char *title = tcstring("Tarno - v%s", version_to_c_string(EDITOR_VERSION));
    if (!platform_create_window(title, 800, 600)) {
        add_log(nullptr, LOG_ERROR, "Failed to create the window: %s", platform_last_error());
        fprintf(stderr, "tarno: could not create the window (%s)\n", platform_last_error());
        exit_status = 1;
    } else {
        // 7, 8.
        platform_set_window_icon(executable_filepath);
        platform_install_callbacks();
    }
    // 9. Renderer, then the UI with its fonts; either failing ends the run.
    if (window.handle && (!init_renderer(window.handle, window.width, window.height) || !ui_init(&window))) {
        fprintf(stderr, "tarno: could not start the renderer or load the fonts; see the log\n");
        exit_status = 1;
        platform_destroy_window();
    }
    if (window.handle) {
        // 10. The foreign routines' hashes, then the compiler's memory.
        startup_hash_foreign_routines();
        startup_init_compiler(executable_filepath);

        // 11. A new updater left by the last update takes the old one's place.
        swap_in_new_updater(executable_filepath);

        // 12. The editor's memory and text state.
        init_editor_region();

        // 13. The working directory at start-up.
        char cwd[2048];
        if (!getcwd(cwd, sizeof cwd) || !set_filepath_from(&editor_working_directory, S(cwd))) {
            editor_working_directory.count = 0;
        }

        // 14. Listers and prompt belong to their own code; the clipboard
        // buffers came with the text core.
        // 15. The first compilation; a failure leaves the editor running on
        // its defaults with the errors in their own tab.
        if (compile_custom_layer_hook && !compile_custom_layer_hook(true)) atomic_or(&global_flags, DISPLAY_COMPILE_ERRORS);
        // 16. The file watcher and update checker start with their own code.

        // 17, 18.
        u64 previous_frame_end = os_get_time_microseconds();
        read_and_open_command_line();
        // 16, after the first file is loaded: the watcher walks open files.
        start_file_watcher_thread();
        start_update_checker_thread();

        bool poll = true; // the first frame is drawn without waiting
        // Benchmarks time start-up to the first presented frame with this.
        bool exit_after_first_frame = getenv("TARNO_EXIT_AFTER_FIRST_FRAME") != nullptr;
        while (editor_should_run()) {
            tmp_reset();
            global_get_num_lines_time = 0;
            u64 frame_start = os_get_time_microseconds();
            collect_window_events(poll);
            resize_fonts_if_the_monitor_changed();
            build_and_present_frame(frame_start);
            // Only a frame that asked for another one keeps the loop from sleeping.
            poll = (ui_flags & UI_ANOTHER_FRAME) != 0;
            if (exit_after_first_frame) atomic_and(&global_flags, ~(u64)SHOULD_RUN);

            u64 now = os_get_time_microseconds();
            delta_time = (f32)(now - previous_frame_end) / 1000.0f;
            previous_frame_end = now;
        }
    }

    // Shut-down. Terminal processes are stopped by the terminal code's hook.
    spin_lock(&tabs_read_lock);
    if (shutdown_terminals_hook) shutdown_terminals_hook();
    platform_destroy_window();
    write_log_file();
    curl_library_shutdown();
    platform_terminate();
    spin_unlock(&tabs_read_lock);
    tmp_unregister_thread();
    return exit_status;
}
