// Driver steps 10 and 11: the program through the statement compiler (entry
// blocks included), then bytecode for all of it.
#include "compiler/back/bytecode_program.h"
#include "compiler/back/ir.h"
#include "compiler/back/statements.h"

void ensure_ir_ready() {
    static bool ready = false;
    if (!ready) ir_init();
    ready = true;
}

// Every plain sub-program of the user's files has its body compiled, called
// or not, so that the whole program reaches bytecode; bodies the statement
// compiler made at their declaration are skipped.
static bool compile_global_sub_program_bodies() {
    Compiler_State *state = &global_compiler_state;
    ir_install_code_generator();
    bool ok = true;
    for (u32 i = 0; ok && i < state->globals.count; i++) {
        Identifier *id = *dynamic_array_at<Identifier *>(&state->globals, i);
        if (id->declaration_kind != DECLARATION_SUB_PROGRAM || !id->signature || id->body_scope) continue;
        if (id->flags & (SUB_PROGRAM_FOREIGN | SUB_PROGRAM_INLINED | IDENTIFIER_POLYMORPHIC)) continue;
        ok = compile_sub_program_body(id);
    }
    // Bodies compiled above may call sub-programs declared elsewhere whose
    // bodies are not compiled yet; they are in `globals` too, so one pass does.
    code_generator = Code_Generator{};
    return ok;
}

bool compile_to_bytecode(String path, Front_End_Options options, Bytecode_Program *out) {
    *out = {};
    bytecode_stream_reset();
    ir_stream_next_compilation = true;
    if (!compile_program(path, options)) return false;
    if (!compile_global_sub_program_bodies()) return false;
    if (!make_bytecode_from_state(out->entry_positions, &out->entry_flags)) return false;
    out->instructions = (Bytecode_Instruction *)bytecode_state.instructions.data;
    out->count = bytecode_state.instructions.count;
    return true;
}
