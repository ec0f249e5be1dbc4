// Running a compiled image without the editor (tarnoc --run).
#pragma once
#include "core/base.h"
#include <stdio.h>

enum : int { RUN_EXIT_OK = 0, RUN_EXIT_FAULT = 3 };

// Loads the image at `path` as the editor does and runs its #on_load; the
// text of every `log` call goes to `output` with a new line. RUN_EXIT_FAULT
// after a fault or a load failure, with the reason on `errors`.
int execution_run_image(String path, FILE *output, FILE *errors);
// What generated code calls instead of the editor's handle_foreign_call:
// `log` and `int_to_string`; every other routine does nothing.
void execution_run_dispatcher(u8 *block, u64 id);
// Name hashes for bytecode_set_foreign_routines in the editor's table
// order, with only the two routines above known (ids 95 and 96).
const u64 *execution_run_foreign_hashes(u32 *count);
