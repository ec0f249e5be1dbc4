// Statements and control flow: compiling the statements of a scope into IR,
// sub-program bodies, entry blocks and the whole-program driver.
#pragma once
#include "compiler/back/ir.h"

// A block registered by #defer on a scope (Scope::deferred).
struct Deferred_Block {
    Token *first, *end; // the block's statements [first, end)
    Scope *written_in;
};

// What the statement compiler keeps per scope (Scope::code_data).
struct Scope_Code {
    IR_Instruction *loop_top;     // loops: the test at the top
    IR_Instruction *loop_exit;    // loops: after the loop
    Value inline_return;          // inlined sub-program root: where 'return' puts the value
    IR_Instruction *inline_exit;  // inlined sub-program root: after the body
    Register_Id arguments;        // sub-program root: the register holding the argument block's address
    bool deferred_emitted;
    bool bytecode_made; // sub-program root: lowered already, its IR handed back
};
Scope_Code *scope_code(Scope *scope);

bool make_instructions_in_scope(Scope *scope, Token *first, Token *end, bool inserting);
bool compile_sub_program_body(Identifier *sub_program);
// The entry block of `directive` (#on_load, #events, #syntax): a scope of kind 5.
bool compile_entry_point(Scope **out, Token *directive);
// Compiles a whole program through the front end, every sub-program body and
// the entry blocks; the IR is left in the compiler state for bytecode.
bool compile_program(String path, Front_End_Options options);
// Releases what the IR keeps outside the compiler's pools (per-scope tables).
void free_program_state();

// Condition compiling, shared with loops: jumps to `false_label` when the
// condition [first, end) is false and falls through when it is true.
// A condition that folds entirely gives `*constant` 0 or 1 and makes no code.
bool compile_condition(Scope *scope, Token *first, Token *end, IR_Instruction *false_label, s32 *constant);
// Emits the deferred blocks of `from` and each enclosing scope up to and
// including the first scope with one of `stop_flags` (or `stop` itself).
bool handle_deferred_blocks(Scope *from, Scope *stop);
