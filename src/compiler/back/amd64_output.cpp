// The last step of a compilation for the AMD64 target: the program's
// bytecode translated and written as the compiled image.
#include "compiler/back/amd64_translation.h"
#include "compiler/back/image.h"
#include "compiler/back/ir.h"
#include "compiler/front/diagnostics.h"

bool amd64_output_program(Dynamic_Array *bytecode, const u64 entry_positions[3], u8 entry_flags, u32 version,
                          String image_path, String source_path) {
    Amd64_Code code;
    amd64_code_init(&code);
    u64 entries[3] = {entry_positions[0], entry_positions[1], entry_positions[2]}; // #on_load, #events, #syntax
    u32 failed = 0;
    bool ok = amd64_translate_bytecode(bytecode, &code, entries, &failed);
    if (!ok) print_error("Bytecode instruction 0x%x has no AMD64 translation.", failed);
    if (ok) {
        Dynamic_Array *files = &global_compiler_state.loaded_files;
        String paths_buffer[64];
        Dynamic_Array paths;
        dynamic_array_init_on(&paths, sizeof(String), paths_buffer, 64);
        for (u32 i = 0; i < files->count; i++) {
            File_Record *f = *dynamic_array_at<File_Record *>(files, i);
            if (f && f->device) *(String *)dynamic_array_add(&paths) = f->path; // files read from disk only
        }
        Image_Input in = {};
        in.version = version;
        in.entry_flags = entry_flags;
        in.entry_positions[0] = (u32)entries[2];
        in.entry_positions[1] = (u32)entries[1];
        in.entry_positions[2] = (u32)entries[0];
        in.constant_data = global_compiler_state.constant_data;
        in.constant_data_size = global_compiler_state.constant_data_used;
        in.global_data = ir_state.global_data;
        in.global_data_size = ir_state.global_data_used;
        in.code = &code;
        in.use_compiler_relocations = true;
        in.source_paths = (String *)paths.data;
        in.num_source_files = paths.count;
        ok = output_amd64_file(&in, image_path, source_path);
        if (!ok) print_error("Failed to write '%.*s'.", (int)image_path.count, image_path.data);
        dynamic_array_free(&paths);
    }
    amd64_code_free(&code);
    return ok;
}
