// Driver steps from the entry blocks to the bytecode of the whole program.
#include "compiler/back/bytecode_program.h"
#include "compiler/back/ir.h"
#include "compiler/front/diagnostics.h"

// Installed by the statement compiler once it is linked in; until then only
// programs whose entry blocks hold no statements reach bytecode.
void ir_install_code_generator() __attribute__((weak));

// The block after an entry directive: '{' ... '}' or ':' statement ';'.
static bool entry_block_range(Token *directive, Token **first, Token **end, Token **closing) {
    Token *block = directive ? directive->next : nullptr;
    if (!block || !block->partner) return false;
    *first = block->next;
    *closing = block->partner;
    *end = (block->kind & TOKEN_OPEN_BRACE) ? block->partner : block->partner->next;
    return true;
}

bool compile_entry_point(Scope **out, Token *entry_point) {
    Token *first, *end, *closing;
    if (!entry_block_range(entry_point, &first, &end, &closing)) {
        print_error_on_token(entry_point, "Expected a code block after directive %s.", token_to_c_string(entry_point));
        return false;
    }
    Scope *scope = _add_a_scope(global_compiler_state.global_scope, SCOPE_ENTRY_POINT | SCOPE_INSIDE_SUB_PROGRAM);
    *out = scope;
    IR_Instruction *start = allocate_an_instruction(scope, IR_FRAME_START);
    start->operands[0].kind = IR_OPERAND_SCOPE;
    start->operands[0].scope = scope;
    start->first = start->last = entry_point;
    if (first != end && first != closing) { // ':' ';' is an empty block too
        if (!code_generator.make_instructions_in_scope) {
            print_error_on_token(first, "Statements cannot be compiled into code by this build of the compiler.");
            return false;
        }
        if (!code_generator.make_instructions_in_scope(scope, first, end, false)) return false;
    }
    IR_Instruction *finish = allocate_an_instruction(scope, IR_END_OF_ENTRY_POINT);
    finish->first = finish->last = closing;
    IR_Instruction *frame_end = allocate_an_instruction(scope, IR_FRAME_END);
    frame_end->operands[0].kind = IR_OPERAND_SCOPE;
    frame_end->operands[0].scope = scope;
    frame_end->first = frame_end->last = closing;
    return true;
}

void ensure_ir_ready() {
    static bool ready = false;
    if (!ready) ir_init();
    ready = true;
}

bool compile_to_bytecode(String path, Front_End_Options options, Bytecode_Program *out) {
    ensure_ir_ready();
    ir_reset();
    if (ir_install_code_generator) ir_install_code_generator();
    *out = {};
    options.check = true; // every global is resolved, used or not, so that all errors show
    if (!compile_front_end(path, options)) return false;
    Compiler_State *state = &global_compiler_state;
    for (u32 k = 0; k < 3; k++) {
        state->entry_point_scopes[k] = nullptr;
        if (state->entry_points[k] && !compile_entry_point(&state->entry_point_scopes[k], state->entry_points[k])) {
            return false;
        }
    }
    if (!make_bytecode_from_state(out->entry_positions, &out->entry_flags)) return false;
    out->instructions = (Bytecode_Instruction *)bytecode_state.instructions.data;
    out->count = bytecode_state.instructions.count;
    return true;
}
