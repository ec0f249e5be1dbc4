// The custom layer's compile step and guarded entry calls.
#include "shell/custom_layer.h"
#include "shell/file_watcher.h"
#include "compiler/back/amd64_translation.h"
#include "compiler/back/bytecode_program.h"
#include "compiler/back/execution.h"
#include "compiler/back/statements.h"
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"
#include "core/log.h"

constexpr u32 MAX_WATCHED_SOURCES = 64;

// Every file the compiler read from disk, and custom.8 itself so that a
// layer that never compiled still recompiles when it is saved.
static void watch_loaded_files(String main_path) {
    String paths[MAX_WATCHED_SOURCES];
    u32 count = 0;
    paths[count++] = main_path;
    Dynamic_Array *files = &global_compiler_state.loaded_files;
    for (u32 i = 0; i < files->count && count < MAX_WATCHED_SOURCES; i++) {
        File_Record *f = *dynamic_array_at<File_Record *>(files, i);
        if (f && f->device && !string_equal(f->path, main_path)) paths[count++] = f->path;
    }
    custom_layer_watch_set_files(paths, count);
}

bool custom_layer_build_image(String main_path, String image_path, const u64 *hashes, u32 num_hashes) {
    bytecode_set_foreign_routines(hashes, num_hashes);
    Front_End_Options options = {};
    Bytecode_Program program = {};
    bool ok = compile_to_bytecode(main_path, options, &program);
    if (ok) ok = amd64_output_program(&bytecode_state.instructions, program.entry_positions, program.entry_flags,
                                      EDITOR_VERSION, image_path, main_path);
    if (!ok) add_log(nullptr, LOG_ERROR, "The custom layer '%.*s' did not compile; the previous one stays.",
                     (int)main_path.count, (const char *)main_path.data);
    watch_loaded_files(main_path);
    free_program_state();
    free_compiler_state();
    return ok;
}

bool custom_layer_run_guarded(void *entry, File *file, u64 limit_us, const char *block) {
    Execution_Fault fault;
    if (amd64_execute_guarded(entry, file, limit_us, &fault)) return true;
    String why = execution_fault_message(&fault);
    add_log(nullptr, LOG_ERROR, "The custom layer stopped in %s (%.*s) and is switched off until it compiles again.",
            block, (int)why.count, (const char *)why.data);
    print_error("The custom layer stopped in %s: %.*s. It is switched off until custom.8 compiles again.", block,
                (int)why.count, (const char *)why.data);
    return false;
}

void custom_layer_report_load_failure(String image_path) {
    print_error("The compiled custom layer '%.*s' could not be loaded; the previous layer stays.", (int)image_path.count,
                (const char *)image_path.data);
}

void custom_layer_set_code_range(const void *code, u64 size) { execution_set_code_range(code, size); }
