// The loaded custom layer: compiling custom.8 (or reusing custom.8b), loading
// and relocating the image, and the guarded calls into its entry blocks.
#pragma once
#include "core/base.h"
#include "compiler/back/image.h"

struct File;

// A block that runs longer than this is stopped and the layer dropped.
constexpr u64 CUSTOM_LAYER_ON_LOAD_LIMIT_US = 5 * 1000 * 1000;
constexpr u64 CUSTOM_LAYER_ENTRY_LIMIT_US = 2 * 1000 * 1000;

struct Custom_Layer {
    Loaded_Image image; // header null: nothing loaded
    bool disabled;      // a block faulted; nothing runs until the next load
};
extern Custom_Layer custom_layer;

// Compiles "custom.8" of the executable directory unless `use_cache` and
// "custom.8b" is still current, then loads the image and runs #on_load.
// A failed compile or load keeps the previous image (errors in
// compile_errors); a faulting #on_load leaves the layer disabled.
bool compile_custom_layer(bool use_cache);
// Points the shell's hooks (compile, #events, #syntax) at the loaded layer.
void install_custom_layer_hooks();

// The compiler's and the guard's side (custom_layer_compile.cpp), kept in
// their own file because the compiler's and the text core's headers clash.
// Compiles `main_path` with the routine name hashes (id order) into the
// image at `image_path`; the files it read become the watch list.
bool custom_layer_build_image(String main_path, String image_path, const u64 *hashes, u32 num_hashes);
// Runs `entry` under the fault guard; on a fault or a time-out logs it,
// adds a report to compile_errors and returns false.
bool custom_layer_run_guarded(void *entry, File *file, u64 limit_us, const char *block);
void custom_layer_set_code_range(const void *code, u64 size);
// Adds a report to compile_errors, so the compile-errors tab says so.
void custom_layer_report_load_failure(String image_path);
