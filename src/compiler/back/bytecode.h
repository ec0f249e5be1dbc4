// Bytecode: the compiler's last target-independent form. One flat array of
// fixed-size records for the whole program; a record's position is its index
// times sizeof(Bytecode_Instruction), and jump targets are such positions.
//
// This header is the reference for the back-ends: each opcode below lists
// what its operand slots hold. Notation: op[i].reg a register id, .constant
// 64-bit bits, .real an f64, .target a bytecode position, .op an operator
// code (OP_* of tokens.h), .reference a pointer; `size` is the record's size
// field. BC_FLAG_TO_MEMORY means op[0].reg holds an address and the operand
// is the memory it points to ("[%s]" in the listing); BC_FLAG_FROM_MEMORY
// says the same of op[1]. Without them a register operand is the register's
// own bytes (a machine register, a frame slot, data or an argument block).
//
// Where registers live after allocation (Register record, ir.h): stack
// registers in a machine register (in_machine_register, class, number) or at
// [rsp + offset]; a call's outgoing argument block (call data whose `call` is
// set) at [rsp + offset] of the caller's frame; constant, type and global data
// at their section offsets. Frame sizes are multiples of 16 and do not
// include the registers the prologue saves (the push's masks).
//
// Index:
//   [SECTION] Opcodes
//   [SECTION] Instruction record
//   [SECTION] Opcode table
//   [SECTION] Building and linking
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "compiler/front/compiler.h"

// [SECTION] Opcodes ------------------------------------------------------------------------

enum Bytecode_Opcode : u8 {
    BC_INVALID = 0,
    BC_SET_TO_ZERO = 1,                     // op0.reg dest; size bytes
    BC_COPY_CONSTANT = 2,                   // op0.reg dest <- op1.constant; size 1, 2, 4 or 8
    BC_COPY_CONSTANT_TO_MEMORY = 3,         // [op0.reg] <- op1.constant; size 1, 2, 4 or 8
    BC_COPY_CONSTANT_STRUCT = 4,            // op0.reg dest <- op1.reg (constant data); size bytes
    BC_COPY_CONSTANT_STRUCT_TO_MEMORY = 5,  // [op0.reg] <- op1.reg (constant data); size bytes
    BC_COPY = 6,                            // op0.reg dest <- op1.reg; size bytes
    BC_COPY_TO_MEMORY = 7,                  // [op0.reg] <- op1.reg; size bytes
    BC_COPY_SUB_PROGRAM_ADDRESS = 8,        // op0.reg dest <- address of op1.reference (Identifier *);
                                            // op2.target = callee start - this position, after linking
    BC_CAST_INT_TO_FLOAT = 9,               // casts: op0.reg dest <- op1.reg; size = dest bytes,
    BC_CAST_FLOAT_TO_INT = 10,              //   op2.constant = source bytes; BC_FLAG_SIGNED: the
    BC_CAST_INT_TO_BOOL = 11,               //   integer side (source for widening and int -> float,
    BC_CAST_FLOAT_TO_BOOL = 12,             //   dest for float -> int) is signed
    BC_CAST_INT_TO_SMALL_INT = 13,
    BC_CAST_INT_TO_BIG_INT = 14,
    BC_CAST_FLOAT_TO_SMALL_FLOAT = 15,
    BC_CAST_FLOAT_TO_BIG_FLOAT = 16,
    BC_MAKE_INT_BOOL = 17,                  // op0.reg <- (op0.reg != 0); size bytes
    BC_MAKE_FLOAT_BOOL = 18,                // op0.reg <- (op0.reg != 0.0) as b8; size = float bytes
    BC_INT_ARITHMETIC_CONSTANT = 19,        // op0.reg = op0.reg op1.op op2.constant; size bytes; BC_FLAG_SIGNED
    BC_INT_ARITHMETIC = 20,                 // op0.reg = op0.reg op1.op op2.reg; size bytes; BC_FLAG_SIGNED
    BC_FLOAT_ARITHMETIC_CONSTANT = 21,      // op0.reg = op0.reg op1.op op2.real; size 4 or 8
    BC_FLOAT_ARITHMETIC = 22,               // op0.reg = op0.reg op1.op op2.reg; size 4 or 8
    BC_TAKE_ADDRESS = 23,                   // op0.reg dest <- address of op1.reg
    BC_CALCULATE_ADDRESS = 24,              // op0.reg <- op1.reg (address) + op2.reg (index) * op3.constant
    BC_CALCULATE_ADDRESS_CONSTANT = 25,     // op0.reg <- op1.reg (address) + op2.constant * op3.constant
    BC_MEMORY_DEREFERENCE = 26,             // op0.reg <- [op1.reg + op2.reg * op3.constant]; size bytes read
    BC_MEMORY_DEREFERENCE_CONSTANT = 27,    // op0.reg <- [op1.reg + op2.constant * op3.constant]; size bytes
    BC_COMPARE = 28,                        // flags of op0.reg - op1.reg; size bytes; BC_FLAG_SIGNED
    BC_COMPARE_TO_CONSTANT = 29,            // flags of op0.reg - op1.constant; size bytes; BC_FLAG_SIGNED
    BC_COMPARE_TO_ZERO = 30,                // flags of op0.reg - 0; size bytes
    BC_INVALID_31 = 31,
    BC_COMPARE_MEMORY_TO_CONSTANT = 32,     // [op0.reg] against op1.reg (constant data), size bytes; eq / ne
    BC_MEMCMP = 33,                         // [op0.reg] against [op1.reg], op2.reg bytes; eq / ne
    BC_TEST_FLAGS = 34,                     // flags of op0.reg & op1.reg; size bytes
    BC_TEST_FLAGS_CONSTANT = 35,            // flags of op0.reg & op1.constant; size bytes
    BC_FLOAT_COMPARE = 36,                  // flags of op0.reg against op1.reg; size 4 or 8 (unsigned jumps)
    BC_FLOAT_COMPARE_TO_CONSTANT = 37,      // op0.reg against op1.real; size 4 or 8
    BC_FLOAT_COMPARE_TO_ZERO = 38,          // op0.reg against 0.0; size 4 or 8
    BC_INVALID_39 = 39,
    BC_STORE_CMP_RESULT = 40,               // op0.reg (b8) <- result of the last comparison under op1.op
                                            //   (OP_EQUAL ... OP_GREATER_OR_EQUAL); BC_FLAG_SIGNED
    BC_JUMP = 41,                           // jumps: op0.target; conditional ones read the flags of the
    BC_JUMP_EQ = 42,                        //   comparison before them, BC_FLAG_SIGNED choosing the
    BC_JUMP_NE = 43,                        //   signed forms of lt, le, gt and ge
    BC_JUMP_LT = 44,
    BC_JUMP_LE = 45,
    BC_JUMP_GT = 46,
    BC_JUMP_GE = 47,
    BC_JUMP_NZ = 48,
    BC_JUMP_ZE = 49,
    BC_DEBUG_BREAK = 50,
    BC_EMBED_MACHINE_CODE = 51,             // op0.reference the bytes, size their count
    BC_PUSH_STACK_FRAME = 52,               // op0.reference the Scope; size the frame bytes;
                                            //   integer_mask / float_mask the registers to save
    BC_POP_STACK_FRAME = 53,                // op0.reference the Scope; size and masks as at the push
    BC_COPY_ARGUMENTS_ADDRESS = 54,         // AMD64, right after the push: the argument block address
                                            //   arrives in rax and is copied into op0.reg (when valid)
    BC_CALL = 55,                           // op0.target callee start - this position (after linking);
                                            //   op1.reg the argument block (BC_FLAG_PASSES_ARGUMENTS);
                                            //   op2.reference the callee Identifier; masks live across
    BC_CALL_INDIRECT = 56,                  // op0.reg holds the target address; op1.reg as for BC_CALL
    BC_FOREIGN_CALL = 57,                   // op0.constant routine id (0: unknown); op1.reg argument block;
                                            //   op2.reference the imported Identifier; masks live across
    BC_RETURN = 58,
    NUM_BYTECODE_OPCODES = 59,
};

enum : u8 {
    BC_FLAG_TO_MEMORY = 1,        // the destination is the memory op0.reg points to
    BC_FLAG_PASSES_ARGUMENTS = 2, // a call with an argument block in op1.reg
    BC_FLAG_SIGNED = 4,           // signed integer comparison, arithmetic or conversion
    BC_FLAG_NEEDS_LINKING = 8,    // a call or sub-program address waiting for its callee's position
    BC_FLAG_FROM_MEMORY = 16,     // op1.reg holds an address and the operand is the memory there
};

// [SECTION] Instruction record ------------------------------------------------------------

union Bytecode_Operand {
    Register_Id reg;
    u64 constant;
    s64 signed_constant;
    f64 real;
    u64 op;
    u64 target;
    void *reference;
    u64 raw[2];
};
static_assert(sizeof(Bytecode_Operand) == 16, "operands are register-id sized");

struct Bytecode_Instruction {
    void *origin; // the IR instruction or scope it came from
    u8 opcode;    // Bytecode_Opcode
    u8 flags;     // BC_FLAG_*
    u16 integer_mask;
    u16 float_mask;
    u16 reserved;
    u32 size;
    u32 reserved2;
    Token *first; // source location: the tokens of the statement
    Token *last;
    Bytecode_Operand operands[4];
};

inline u64 bytecode_position(u32 index) { return (u64)index * sizeof(Bytecode_Instruction); }
inline u32 bytecode_index(u64 position) { return (u32)(position / sizeof(Bytecode_Instruction)); }

// [SECTION] Opcode table ------------------------------------------------------------------

// How the listing prints an opcode's operands; each form names the slots it reads.
enum Bytecode_Operand_Form : u8 {
    BC_FORM_NONE,
    BC_FORM_DEST_SIZE,            // "%s, size: %'u"
    BC_FORM_DEST_CONSTANT,        // "%s <- 0x%llx"
    BC_FORM_DEST_SOURCE_SIZE,     // "%s <- %s, size: %'u"
    BC_FORM_DEST_SUB_PROGRAM,     // "%s <- %s"
    BC_FORM_DEST_SOURCE,          // "%s <- %s"
    BC_FORM_REGISTER,             // "%s"
    BC_FORM_ARITHMETIC_CONSTANT,  // "%s %s 0x%llx"
    BC_FORM_ARITHMETIC,           // "%s %s %s"
    BC_FORM_FLOAT_ARITHMETIC_CONSTANT, // "%s %s %f"
    BC_FORM_ADDRESS,              // "%s <- (%s) + (%s) * %u"
    BC_FORM_ADDRESS_CONSTANT,     // "%s <- %s + %u * %u"
    BC_FORM_DEREFERENCE,          // "%s <- [(%s) + (%s) * %u]"
    BC_FORM_DEREFERENCE_CONSTANT, // "%s <- [(%s) + %u * %u]"
    BC_FORM_TWO_REGISTERS,        // "%s, %s"
    BC_FORM_REGISTER_CONSTANT,    // "%s, 0x%llx"
    BC_FORM_REGISTER_FLOAT,       // "%s, %f"
    BC_FORM_TWO_MEMORY,           // "[%s], [%s]"
    BC_FORM_MEMCMP,               // "[%s], [%s] | size stored in %s"
    BC_FORM_STORE_CMP,            // "%s, %s"
    BC_FORM_TARGET,               // "0x%llx"
    BC_FORM_MACHINE_CODE,         // the bytes and their count
    BC_FORM_FRAME,                // the scope and its frame size
    BC_FORM_SCOPE,                // the scope
    BC_FORM_CALL,                 // "0x%llx | arguments and return value: %s"
    BC_FORM_CALL_INDIRECT,        // "%s | arguments and return value: %s"
    BC_FORM_FOREIGN_CALL,         // "0x%llx | arguments and return value: %s"
};

struct Bytecode_Opcode_Info {
    const char *name;
    u8 form;           // Bytecode_Operand_Form
    bool may_be_to_memory; // the "[%s] <- ..." variant exists
    bool is_jump;
};
extern const Bytecode_Opcode_Info BYTECODE_OPCODES[NUM_BYTECODE_OPCODES];
// "INVALID" for the unused codes, "UNKNOWN INSTRUCTION" past the last one.
const char *bytecode_opcode_name(u32 opcode);
inline bool bytecode_is_jump(u32 opcode) { return opcode >= BC_JUMP && opcode <= BC_JUMP_ZE; }

// The opposite of a conditional jump opcode (eq<->ne, lt<->ge, le<->gt, nz<->ze).
// (get_opposite_comparison_jump, from comparison operators, is the IR's.)
u8 get_opposite_comparison_jump2(u8 jump_opcode);

// [SECTION] Building and linking ------------------------------------------------------------

// Appends a zeroed instruction; the pointer is valid until the next append.
Bytecode_Instruction *insert_bytecode(Dynamic_Array *bytecode, u8 opcode, Token *first, Token *last);

// Follows chains of equal jumps and turns a jump to a return into a return.
void thread_bytecode_jumps(Dynamic_Array *bytecode);

// Start position of one generated sub-program, for call linking.
struct Sub_Program_Start {
    Identifier *sub_program;
    u64 position;
};
// Gives every instruction flagged BC_FLAG_NEEDS_LINKING the distance to its
// callee's start. False when a callee has no body (nothing was generated).
bool link_bytecode_calls(Dynamic_Array *bytecode, Dynamic_Array *starts, Identifier **missing);
