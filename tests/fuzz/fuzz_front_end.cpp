// libFuzzer target: any bytes as the main file of a compilation, through
// the whole front end with every global resolved and dumped, every
// sub-program body and entry block compiled into IR.
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
    bool ok = compile_program(S("/nonexistent-tarno-fuzz/main.8"), options);
    String errors = format_compile_errors();
    if (ok) {
        String dump = dump_globals();
        (void)dump;
    } else if (errors.count == 0) {
        abort(); // a failure must always say why
    }
    free_program_state();
    free_compiler_state();
    tmp_reset();
    return 0;
}
