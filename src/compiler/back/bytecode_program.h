// The driver's last target-independent step: bytecode for the whole program
// once the statement compiler has built its IR.
#pragma once
#include "compiler/back/bytecode_gen.h"

struct Bytecode_Program {
    Bytecode_Instruction *instructions; // valid until the next compilation
    u32 count;
    u64 entry_positions[3]; // #on_load, #events, #syntax
    u8 entry_flags;         // ENTRY_FLAG_*
};

// The IR's tables and pools for code that builds IR by hand (tests).
void ensure_ir_ready();
// The driver through bytecode (compile_program, then make_bytecode_from_state).
// The state stays readable (for a listing) until free_program_state and
// free_compiler_state.
bool compile_to_bytecode(String path, Front_End_Options options, Bytecode_Program *out);
