// Compiling, loading and entering the custom layer. Generated code runs
// under the fault guard: a layer that faults or hangs in an entry block is
// dropped with a report in the compile-errors tab, and the editor goes on
// with its defaults until the next successful compile.
#include "shell/custom_layer.h"
#include "shell/custom_layer_events.h"
#include "shell/file_watcher.h"
#include "shell/globals.h"
#include "shell/tabs.h"
#include "core/assets.h"
#include "core/log.h"
#include "core/strings.h"
#include "text/editor_api.h"
#include "text/file.h"

Custom_Layer custom_layer;

constexpr u32 MAX_WATCHED_SOURCES = 64;
static u64 foreign_hashes[NUM_FOREIGN_ROUTINES];

static String executable_directory_file(const char *name) {
    return tstring("%.*s/%s", (int)executable_filepath.count, (const char *)executable_filepath.data, name);
}

// The compiler finds an #import by its name's hash; ids are table order.
static void set_foreign_hashes() {
    if (foreign_routines[0].hash == 0) setup_foreign_routines_table();
    for (u32 i = 0; i < NUM_FOREIGN_ROUTINES; i++) {
        u16 id = foreign_routines[i].id;
        if (id >= 1 && id <= NUM_FOREIGN_ROUTINES) foreign_hashes[id - 1] = foreign_routines[i].hash;
    }
}

static void drop_entries() {
    custom_layer_events_entry = nullptr;
    custom_layer_syntax_entry = nullptr;
}

// Called with the custom layer lock held.
static bool run_entry(void *entry, File *file, u64 limit_us, const char *block) {
    if (!entry || custom_layer.disabled) return false;
    if (custom_layer_run_guarded(entry, file, limit_us, block)) return true;
    custom_layer.disabled = true;
    drop_entries();
    atomic_or(&global_flags, DISPLAY_COMPILE_ERRORS);
    return false;
}

// The shell calls these with the custom layer lock already held.
static void events_entry() {
    run_entry(get_events_block_entry_point(custom_layer.image.header), nullptr, CUSTOM_LAYER_ENTRY_LIMIT_US, "#events");
}
static void syntax_entry(File *file) {
    run_entry(get_syntax_block_entry_point(custom_layer.image.header), file, CUSTOM_LAYER_ENTRY_LIMIT_US, "#syntax");
}

// A cached image names its sources itself.
static void watch_image_sources(String main_path) {
    String paths[MAX_WATCHED_SOURCES];
    u32 count = 0;
    paths[count++] = main_path;
    Source_File_Table *t = &custom_layer.image.source_files;
    for (u64 i = 0; i < t->count && count < MAX_WATCHED_SOURCES; i++) {
        String p = {(u8 *)(uintptr_t)t->files[i].path_offset, (s64)t->files[i].path_length};
        if (!string_equal(p, main_path)) paths[count++] = p;
    }
    custom_layer_watch_set_files(paths, count);
}

static void mark_file_tabs_for_colouring() {
    spin_lock(&tabs_read_lock);
    for (u32 i = 0; i < num_tabs(); i++) {
        Tab *tab = tab_at(i);
        if (tab->kind == TAB_FILE && tab->content) file_set_flags((File *)tab->content, FILE_NEEDS_COLOURING);
    }
    spin_unlock(&tabs_read_lock);
}

bool compile_custom_layer(bool use_cache) {
    spin_lock(&custom_layer_lock);
    String image_path = executable_directory_file("custom.8b");
    String main_path = executable_directory_file("custom.8");
    bool cached = use_cache && image_cache_is_usable(image_path, EDITOR_VERSION);
    if (!cached) set_foreign_hashes();
    if (!cached && !custom_layer_build_image(main_path, image_path, foreign_hashes, NUM_FOREIGN_ROUTINES)) {
        atomic_or(&global_flags, DISPLAY_COMPILE_ERRORS);
        spin_unlock(&custom_layer_lock);
        return false;
    }
    Loaded_Image loaded = {};
    if (!image_load_file(image_path, &loaded)) {
        custom_layer_report_load_failure(image_path);
        atomic_or(&global_flags, DISPLAY_COMPILE_ERRORS);
        spin_unlock(&custom_layer_lock);
        return false;
    }
    drop_entries();
    image_unload(&custom_layer.image);
    custom_layer.image = loaded;
    custom_layer.disabled = false;
    Image_Header *header = custom_layer.image.header;
    bool runs_here = header->processor == BC_CPU_AMD64;
    if (runs_here) {
        image_relocate(&custom_layer.image, (void *)handle_foreign_call);
        custom_layer_set_code_range((u8 *)header + header->code_offset, header->code_size);
    }
    if (cached) watch_image_sources(main_path);
    bool ok = true;
    if (runs_here) {
        custom_layer_execution_file = nullptr;
        void *on_load = get_on_load_block_entry_point(header);
        if (on_load) ok = run_entry(on_load, nullptr, CUSTOM_LAYER_ON_LOAD_LIMIT_US, "#on_load");
        if (ok) {
            if (get_events_block_entry_point(header)) custom_layer_events_entry = events_entry;
            if (get_syntax_block_entry_point(header)) {
                custom_layer_syntax_entry = syntax_entry;
                mark_file_tabs_for_colouring();
            }
        }
    }
    spin_unlock(&custom_layer_lock);
    return ok;
}

static bool compile_hook(bool use_cache) { return compile_custom_layer(use_cache); }

void install_custom_layer_hooks() { compile_custom_layer_hook = compile_hook; }
