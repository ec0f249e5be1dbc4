// The driver's last target-independent steps: the entry blocks compiled into
// their own scopes, then bytecode for the whole program.
#pragma once
#include "compiler/back/bytecode_gen.h"

struct Bytecode_Program {
    Bytecode_Instruction *instructions; // valid until the next compilation
    u32 count;
    u64 entry_positions[3]; // #on_load, #events, #syntax
    u8 entry_flags;         // ENTRY_FLAG_*
};

// The IR's tables and pools, made on first use.
void ensure_ir_ready();
// A scope of kind entry point under the global scope, the block's statements
// in it, then the end-of-entry-point instruction at the block's closing token.
bool compile_entry_point(Scope **out, Token *entry_point);
// The driver through bytecode: front end, every global resolved, the entry
// blocks, then make_bytecode_from_state. The state stays readable (for a
// listing) until free_compiler_state.
bool compile_to_bytecode(String path, Front_End_Options options, Bytecode_Program *out);
