// Bytecode -> AMD64: one pass over the program's bytecode array, each
// instruction a short fixed sequence chosen by where its operands live.
// Opcodes or operand placements without a sequence return false with the
// opcode named.
#pragma once
#include "compiler/back/amd64.h"
#include "compiler/back/bytecode.h"
#include "compiler/back/foreign_call.h"

struct Amd64_Translation {
    Amd64_Code *code;
    Dynamic_Array *bytecode;   // Bytecode_Instruction
    Dynamic_Array positions;   // u32: code position of each bytecode instruction, and one past the last
    Amd64_Frame frame;         // of the sub-program or entry block being translated
    u32 failed_opcode;         // the first opcode with no translation yet (0: none)
    bool *is_target;           // per instruction: something jumps, calls or enters there (null: unknown, all)
    bool skip_next;            // the next instruction was folded into this one
};

// Appends the code of one instruction; false for an opcode (or an operand
// placement) this back-end does not translate yet.
bool bytecode_instruction_to_amd64(Amd64_Translation *t, u32 index);
// The whole array, then every relative jump and call resolved. `entry_positions`
// (bytecode positions) become code positions in place.
bool amd64_translate_bytecode(Dynamic_Array *bytecode, Amd64_Code *code, u64 entry_positions[3], u32 *failed_opcode);

// Where a register's bytes are: a machine register, [rsp + offset] in the
// frame, [rbp + offset] in the sub-program's own argument block, or
// [rip + offset] in a data section (following views).
Amd64_Operand amd64_get_memory(Scope *scope, Register_Id id);

// Integer sequences (amd64_integer.cpp). `d` is a machine register or memory
// whose address is in neither rax, rcx nor rdx; `s` is ignored with `constant`.
bool amd64_integer_arithmetic(Amd64_Code *code, u64 op, u32 size, Amd64_Operand d, Amd64_Operand s, bool constant, u64 value,
                              bool is_signed);
void amd64_integer_compare(Amd64_Code *code, u32 size, Amd64_Operand a, Amd64_Operand b, bool constant, u64 value, bool test);
void amd64_multiply_by_constant(Amd64_Code *code, u32 size, u8 reg, u64 value);
void amd64_lea_for_multiplication(Amd64_Code *code, u32 size, u8 reg, u32 factor);
void amd64_shift_by_constant(Amd64_Code *code, Amd64_Shift op, u32 size, Amd64_Operand destination, u32 count);
u64 amd64_extend_constant(u64 value, u32 size, bool is_signed);

// Translates the program's bytecode and writes the image to `image_path`
// with the compiler's data sections, relocations and loaded files.
// entry_positions: bytecode positions of #on_load, #events, #syntax.
bool amd64_output_program(Dynamic_Array *bytecode, const u64 entry_positions[3], u8 entry_flags, u32 version,
                          String image_path, String source_path);
