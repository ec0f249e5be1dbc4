// libFuzzer target: any bytes as the main file of a compilation, through
// the whole front end with every global resolved and dumped, every
// sub-program body and entry block compiled into IR, then bytecode with
// register allocation and a listing line for every instruction.
#include "compiler/back/bytecode_program.h"
#include "compiler/back/listing.h"
#include "compiler/back/statements.h"
#include "compiler/front/compiler.h"
#include "compiler/front/dump.h"
#include "core/memory.h"
#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static bool initialised = false;
    if (!initialised) {
        init_memory();
        const char *root = getenv("TARNO_FUZZ_ROOT");
        init_compiler(S(root ? root : TARNO_RUNTIME_DIR));
        initialised = true;
    }
    if (size > 1 << 20) return 0;
    Front_End_Options options = {};
    options.check = true;
    options.use_text = true;
    options.text = String{(u8 *)data, (s64)size};
    // A directory that does not exist: #load_file of a relative path fails cleanly.
    Bytecode_Program program;
    bool ok = compile_to_bytecode(S("/nonexistent-tarno-fuzz/main.8"), options, &program);
    String errors = format_compile_errors();
    if (ok) {
        String dump = dump_globals();
        (void)dump;
        for (u32 i = 0; i < program.count; i++) {
            String line = get_bc_instruction_text(&program.instructions[i], program.instructions);
            (void)line;
        }
    } else if (errors.count == 0) {
        abort(); // a failure must always say why
    }
    free_program_state();
    free_compiler_state();
    tmp_reset();
    return 0;
}
