// Running a compiled image on its own (tarnoc --run): loaded and relocated
// exactly as the editor loads it, #on_load run under the fault guard, with a
// dispatcher that knows the routines that make sense without an editor.
#include "compiler/back/execution_run.h"
#include "compiler/back/execution.h"
#include "compiler/back/image.h"
#include "core/meow_hash.h"
#include "core/strings.h"
#include <stdio.h>

constexpr u64 FOREIGN_ROUTINE_LOG = 95;
constexpr u64 FOREIGN_ROUTINE_INT_TO_STRING = 96;
constexpr u64 RUN_TIME_LIMIT_US = 10 * 1000 * 1000;

static FILE *run_output;

void execution_run_dispatcher(u8 *block, u64 id) {
    if (!block) return;
    if (id == FOREIGN_ROUTINE_LOG) {
        String text;
        memcpy(&text, block, sizeof text);
        if (text.count > 0 && text.data) fwrite(text.data, 1, (size_t)text.count, run_output);
        fputc('\n', run_output);
    } else if (id == FOREIGN_ROUTINE_INT_TO_STRING) {
        s64 value;
        memcpy(&value, block, 8);
        String result = tstring_grouped(value);
        memcpy(block + 8, &result, sizeof result);
    }
}

int execution_run_image(String path, FILE *output, FILE *errors) {
    Loaded_Image image = {};
    if (!image_load_file(path, &image)) {
        fprintf(errors, "error: cannot load the compiled image '%.*s'\n", (int)path.count, path.data);
        return RUN_EXIT_FAULT;
    }
    run_output = output;
    image_relocate(&image, (void *)execution_run_dispatcher);
    int status = RUN_EXIT_OK;
    void *entry = get_on_load_block_entry_point(image.header);
    if (entry && image.header->processor == BC_CPU_AMD64) {
        execution_set_code_range((u8 *)image.header + image.header->code_offset, image.header->code_size);
        Execution_Fault fault;
        if (!amd64_execute_guarded(entry, nullptr, RUN_TIME_LIMIT_US, &fault)) {
            String message = execution_fault_message(&fault);
            fflush(output);
            fprintf(errors, "error: the program stopped: %.*s\n", (int)message.count, message.data);
            status = RUN_EXIT_FAULT;
        }
        execution_set_code_range(nullptr, 0);
    }
    fflush(output);
    image_unload(&image);
    return status;
}

const u64 *execution_run_foreign_hashes(u32 *count) {
    static u64 hashes[96];
    hashes[FOREIGN_ROUTINE_LOG - 1] = meow_hash_u64(S("log"));
    hashes[FOREIGN_ROUTINE_INT_TO_STRING - 1] = meow_hash_u64(S("int_to_string"));
    *count = 96;
    return hashes;
}
