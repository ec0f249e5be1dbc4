// The opcode table, the comparison-to-jump maps, jump threading and call linking.
#include "compiler/back/bytecode.h"

// One row per opcode, in code order: the listing, the back-ends and the tests
// all read this table.
const Bytecode_Opcode_Info BYTECODE_OPCODES[NUM_BYTECODE_OPCODES] = {
    {"INVALID", BC_FORM_NONE, false, false},
    {"set to zero", BC_FORM_DEST_SIZE, false, false},
    {"copy constant number", BC_FORM_DEST_CONSTANT, false, false},
    {"copy constant number", BC_FORM_DEST_CONSTANT, true, false},
    {"copy constant struct", BC_FORM_DEST_SOURCE_SIZE, false, false},
    {"copy constant struct", BC_FORM_DEST_SOURCE_SIZE, true, false},
    {"copy", BC_FORM_DEST_SOURCE_SIZE, false, false},
    {"copy", BC_FORM_DEST_SOURCE_SIZE, true, false},
    {"copy sub-program address", BC_FORM_DEST_SUB_PROGRAM, false, false},
    {"cast int to float", BC_FORM_DEST_SOURCE, true, false},
    {"cast float to int", BC_FORM_DEST_SOURCE, true, false},
    {"cast int to bool", BC_FORM_DEST_SOURCE, true, false},
    {"cast float to bool", BC_FORM_DEST_SOURCE, true, false},
    {"cast int to small int", BC_FORM_DEST_SOURCE, true, false},
    {"cast int to big int", BC_FORM_DEST_SOURCE, true, false},
    {"cast float to small float", BC_FORM_DEST_SOURCE, true, false},
    {"cast float to big float", BC_FORM_DEST_SOURCE, true, false},
    {"make int bool", BC_FORM_REGISTER, true, false},
    {"make float bool", BC_FORM_REGISTER, true, false},
    {"int arithmetic constant", BC_FORM_ARITHMETIC_CONSTANT, false, false},
    {"int arithmetic", BC_FORM_ARITHMETIC, false, false},
    {"float arithmetic constant", BC_FORM_FLOAT_ARITHMETIC_CONSTANT, false, false},
    {"float arithmetic", BC_FORM_ARITHMETIC, false, false},
    {"take address", BC_FORM_DEST_SOURCE, false, false},
    {"calculate address", BC_FORM_ADDRESS, false, false},
    {"calculate address", BC_FORM_ADDRESS_CONSTANT, true, false},
    {"memory dereference", BC_FORM_DEREFERENCE, true, false},
    {"memory dereference", BC_FORM_DEREFERENCE_CONSTANT, true, false},
    {"compare", BC_FORM_TWO_REGISTERS, false, false},
    {"compare to constant", BC_FORM_REGISTER_CONSTANT, false, false},
    {"compare to zero", BC_FORM_REGISTER, false, false},
    {"INVALID", BC_FORM_NONE, false, false},
    {"compare to constant", BC_FORM_TWO_MEMORY, false, false},
    {"memcmp", BC_FORM_MEMCMP, false, false},
    {"test flags", BC_FORM_TWO_REGISTERS, false, false},
    {"test flags", BC_FORM_REGISTER_CONSTANT, false, false},
    {"compare", BC_FORM_TWO_REGISTERS, false, false},
    {"compare to constant", BC_FORM_REGISTER_FLOAT, false, false},
    {"compare to zero", BC_FORM_REGISTER, false, false},
    {"INVALID", BC_FORM_NONE, false, false},
    {"store cmp result", BC_FORM_STORE_CMP, false, false},
    {"jump", BC_FORM_TARGET, false, true},
    {"jump eq", BC_FORM_TARGET, false, true},
    {"jump ne", BC_FORM_TARGET, false, true},
    {"jump lt", BC_FORM_TARGET, false, true},
    {"jump le", BC_FORM_TARGET, false, true},
    {"jump gt", BC_FORM_TARGET, false, true},
    {"jump ge", BC_FORM_TARGET, false, true},
    {"jump nz", BC_FORM_TARGET, false, true},
    {"jump ze", BC_FORM_TARGET, false, true},
    {"debug break", BC_FORM_NONE, false, false},
    {"embed machine code", BC_FORM_MACHINE_CODE, false, false},
    {"push stack frame", BC_FORM_FRAME, false, false},
    {"pop stack frame", BC_FORM_SCOPE, false, false},
    {"copy arguments address (AMD64)", BC_FORM_REGISTER, false, false},
    {"call", BC_FORM_CALL, false, false},
    {"call[]", BC_FORM_CALL_INDIRECT, false, false},
    {"foreign call", BC_FORM_FOREIGN_CALL, false, false},
    {"return", BC_FORM_NONE, false, false},
};

const char *bytecode_opcode_name(u32 opcode) {
    if (opcode >= NUM_BYTECODE_OPCODES) return "UNKNOWN INSTRUCTION";
    return BYTECODE_OPCODES[opcode].name;
}

u8 get_opposite_comparison_jump2(u8 jump_opcode) {
    switch (jump_opcode) {
    case BC_JUMP_EQ: return BC_JUMP_NE;
    case BC_JUMP_NE: return BC_JUMP_EQ;
    case BC_JUMP_LT: return BC_JUMP_GE;
    case BC_JUMP_GE: return BC_JUMP_LT;
    case BC_JUMP_LE: return BC_JUMP_GT;
    case BC_JUMP_GT: return BC_JUMP_LE;
    case BC_JUMP_NZ: return BC_JUMP_ZE;
    case BC_JUMP_ZE: return BC_JUMP_NZ;
    }
    return BC_INVALID;
}

Bytecode_Instruction *insert_bytecode(Dynamic_Array *bytecode, u8 opcode, Token *first, Token *last) {
    Bytecode_Instruction *b = (Bytecode_Instruction *)dynamic_array_add(bytecode);
    memset(b, 0, sizeof *b);
    b->opcode = opcode;
    b->first = first;
    b->last = last;
    return b;
}

void thread_bytecode_jumps(Dynamic_Array *bytecode) {
    Bytecode_Instruction *code = (Bytecode_Instruction *)bytecode->data;
    u32 count = bytecode->count;
    for (u32 i = 0; i < count; i++) {
        Bytecode_Instruction *b = &code[i];
        if (!bytecode_is_jump(b->opcode)) continue;
        // A cycle of jumps (an empty endless loop) must not hang the walk.
        for (u32 steps = 0; steps < count; steps++) {
            u32 t = bytecode_index(b->operands[0].target);
            if (t >= count || t == i || code[t].opcode != b->opcode) break;
            if (code[t].operands[0].target == b->operands[0].target) break;
            b->operands[0].target = code[t].operands[0].target;
        }
        u32 t = bytecode_index(b->operands[0].target);
        if (b->opcode == BC_JUMP && t < count && code[t].opcode == BC_RETURN) {
            void *origin = b->origin;
            Token *first = b->first, *last = b->last;
            *b = code[t];
            b->origin = origin;
            b->first = first;
            b->last = last;
        }
    }
}

static bool sort_starts(const void *a, const void *b) {
    return (uintptr_t)((const Sub_Program_Start *)a)->sub_program < (uintptr_t)((const Sub_Program_Start *)b)->sub_program;
}

bool link_bytecode_calls(Dynamic_Array *bytecode, Dynamic_Array *starts, Identifier **missing) {
    general_quick_sort(starts->data, starts->count, sizeof(Sub_Program_Start), sort_starts);
    Sub_Program_Start *list = (Sub_Program_Start *)starts->data;
    Bytecode_Instruction *code = (Bytecode_Instruction *)bytecode->data;
    for (u32 i = 0; i < bytecode->count; i++) {
        Bytecode_Instruction *b = &code[i];
        if (!(b->flags & BC_FLAG_NEEDS_LINKING)) continue;
        Identifier *callee = (Identifier *)(b->opcode == BC_CALL ? b->operands[2].reference : b->operands[1].reference);
        u32 lo = 0, hi = starts->count;
        while (lo < hi) {
            u32 mid = (lo + hi) / 2;
            if ((uintptr_t)list[mid].sub_program < (uintptr_t)callee) lo = mid + 1;
            else hi = mid;
        }
        if (lo >= starts->count || list[lo].sub_program != callee) {
            if (missing) *missing = callee;
            return false;
        }
        u64 distance = list[lo].position - bytecode_position(i);
        if (b->opcode == BC_CALL) b->operands[0].target = distance;
        else b->operands[2].target = distance;
        b->flags &= (u8)~BC_FLAG_NEEDS_LINKING;
    }
    return true;
}
