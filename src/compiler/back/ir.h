// The instruction IR: virtual registers, the operands built on them, the
// instruction record, each scope's instruction list and the data sections'
// relocations. Statements (statements.cpp) and expressions (through the
// front end's code_hooks.h) build it; bytecode generation reads it back.
//
// Shape of a compiled program:
//   - every sub-program body and every entry block is a scope whose list
//     starts with IR_FRAME_START and ends with IR_FRAME_END (entry blocks:
//     IR_END_OF_ENTRY_POINT, then IR_FRAME_END);
//   - a nested block (if branch, loop body, inlined body, deferred block) is
//     its own scope, placed in its parent's list by an IR_SCOPE instruction
//     and lowered in place, so sequence numbers keep growing through it;
//   - jumps name an IR_LABEL instruction of the same sub-program (possibly in
//     another nested scope); labels emit no code;
//   - `ir_state.sub_programs` lists every compiled body in declaration order;
//     its IR is the list of `Identifier::body_scope` (the parameter scope);
//   - a sub-program's arguments: IR_FRAME_START's [1] is the stack register
//     that holds the address of the argument block; each parameter is read
//     from it at the start of the body and the result written back into it;
//   - pointers inside constant data (strings, arrays, sub-program addresses,
//     type values) are the front end's `global_compiler_state.constant_relocations`
//     (offset -> offset, sub-program or type record); the lists here hold
//     pointers stored in global data, including addresses of sub-programs.
//
// Index:
//   [SECTION] Registers
//   [SECTION] Operands
//   [SECTION] Instructions
//   [SECTION] Relocations and IR state
//   [SECTION] Register operations
//   [SECTION] Instruction builders
#pragma once
#include "compiler/front/compiler.h"
#include "compiler/front/code_hooks.h"

// [SECTION] Registers ------------------------------------------------------------

// Register_Id, INVALID_REGISTER_ID and the pools are in compiler/front/compiler.h.
enum : u8 {
    REGISTER_KIND_CONSTANT_DATA = 1, // "CD"
    REGISTER_KIND_TYPE_DATA = 2,     // "TD"
    REGISTER_KIND_GLOBAL_DATA = 3,   // "GD"
    REGISTER_KIND_STACK = 4,         // "SB", or a machine register once allocated
    REGISTER_KIND_CALL_DATA = 5,     // "CallD": a call's argument block
    REGISTER_KIND_VIEW = 6,          // a window into another register
};

enum : u8 {
    HINT_MEMORY = 1,
    HINT_INTEGER_REGISTER = 2,
    HINT_FLOAT_REGISTER = 4,
    HINT_STAY_ALIVE = 8,
    HINT_USE_A_MACHINE_REGISTER = 6,
};

enum : u8 { MACHINE_REGISTER_INTEGER = 1, MACHINE_REGISTER_FLOAT = 2 };

struct Register {
    u8 kind;
    u32 size;
    u32 alignment;
    // REGISTER_KIND_VIEW: the register looked through and where inside it.
    Scope *view_owner;
    Register_Id view_target;
    u64 view_offset;
    u8 hints;
    u8 *data;    // constant and global data: the bytes while compiling
    u64 offset;  // in its section, in the stack frame, or in the argument block
    u8 machine_register_class;
    u8 machine_register;
    u8 in_machine_register;
    Scope *owner;
    Identifier *callee;       // call data: the sub-program called
    IR_Instruction *call;     // call data: the call instruction
    Scope *loop_scope;        // outermost loop below the owner in which it is used
    u32 use_count, first_use, last_use; // instruction sequence numbers
    s32 index;                // position in its table
};

// One outside register used inside a loop (Scope::loop_registers).
struct Loop_Register {
    Scope *owner;
    Register_Id id;
};

// [SECTION] Operands ---------------------------------------------------------------

enum : u8 {
    IR_OPERAND_NONE = 0,
    IR_OPERAND_REGISTER = 1,    // the value held in `reg`
    IR_OPERAND_MEMORY = 2,      // the value at the address `reg` holds ("[reg]" in listings)
    IR_OPERAND_CONSTANT = 3,    // `bits`
    IR_OPERAND_LABEL = 4,       // `label`: an IR_LABEL instruction
    IR_OPERAND_SUB_PROGRAM = 5, // `sub_program`
    IR_OPERAND_SCOPE = 6,       // `scope`
    IR_OPERAND_BYTES = 7,       // `bytes`, `size` of them (#machine_code)
};

// Number class of an operand: decides integer or float opcodes, signedness.
enum : u8 {
    IR_CLASS_NONE = 0, // memory blocks (structs), labels, scopes
    IR_CLASS_UNSIGNED = 1,
    IR_CLASS_SIGNED = 2,
    IR_CLASS_REAL = 3,
    IR_CLASS_ADDRESS = 4,
};

struct IR_Operand {
    u8 kind;       // IR_OPERAND_*
    u8 number_class;
    u8 value_kind; // VALUE_KIND_* of the value it came from
    u8 unused;
    u32 size;      // bytes
    union {
        Register_Id reg;
        u64 bits; // integer bits, or the bits of an f64 when number_class is real
        IR_Instruction *label;
        Identifier *sub_program;
        Scope *scope;
        const u8 *bytes;
    };
};

// [SECTION] Instructions -------------------------------------------------------------

// Operand slots by kind: d destination, s source, a/b compared operands.
enum IR_Kind : u8 {
    IR_INVALID = 0,
    IR_FRAME_START = 1,        // [0] scope: opens a sub-program or entry block ("push stack frame")
    IR_FRAME_END = 2,          // [0] scope: closes it ("pop stack frame", "return")
    IR_END_OF_ENTRY_POINT = 3, // first/last: the closing token of the entry block
    IR_SCOPE = 4,              // [0] scope: a nested scope lowered in place
    IR_LABEL = 5,              // a jump target; no code
    IR_SET_TO_ZERO = 6,        // [0] d (register or memory), size = byte count
    IR_COPY_CONSTANT = 7,      // [0] d, [1] s: a number, or a constant-data register for blocks
    IR_COPY = 8,               // [0] d, [1] s, both registers or memory, [0].size bytes
    IR_COPY_SUB_PROGRAM_ADDRESS = 9, // [0] d, [1] sub-program
    IR_CAST = 10,              // [0] d, [1] s; classes and sizes of both decide the cast
    IR_MAKE_BOOLEAN = 11,      // [0] d: turned into 0 or 1 in place
    IR_TAKE_ADDRESS = 12,      // [0] d, [1] s (a register that lives in memory)
    IR_CALCULATE_ADDRESS = 13, // [0] d, [1] base address, [2] index (register or constant), [3] scale (constant)
    IR_MEMORY_DEREFERENCE = 14,// [0] d, [1] base address, [2] index, [3] scale: d <- [base + index * scale]
    IR_ARITHMETIC = 15,        // [0] d (also the left operand), [1] s; `op` the operator (OP_*)
    IR_COMPARE = 16,           // [0] a, [1] b (register, memory or constant); `op` the comparison
    IR_COMPARE_TO_ZERO = 17,   // [0] a
    IR_MEMCMP = 18,            // [0] a memory, [1] b memory, [2] size (constant or register)
    IR_TEST_FLAGS = 19,        // [0] a, [1] mask (register or constant)
    IR_STORE_CMP_RESULT = 20,  // [0] d, `op` the comparison of the instruction before
    IR_JUMP = 21,              // [0] label
    IR_JUMP_IF = 22,           // [0] label; `op` the condition: IR_CONDITION_*
    IR_CALL = 23,              // [0] sub-program, [1] argument block (call data)
    IR_CALL_INDIRECT = 24,     // [0] register holding the address, [1] argument block
    IR_FOREIGN_CALL = 25,      // [0] sub-program (its name hash is its constant), [1] argument block
    IR_RETURN = 26,            // leave the sub-program (after the frame is popped)
    IR_DEBUG_BREAK = 27,
    IR_EMBED_MACHINE_CODE = 28,// [0] bytes
    IR_UPDATE_STACK_TRACE_LOCATION = 29, // [0] d the stack-trace record's location member, first: the place
    IR_KIND_COUNT
};

// Conditions of IR_JUMP_IF (after IR_COMPARE, IR_COMPARE_TO_ZERO or IR_TEST_FLAGS).
enum : u16 {
    IR_CONDITION_EQ = 1,
    IR_CONDITION_NE = 2,
    IR_CONDITION_LT = 3,
    IR_CONDITION_LE = 4,
    IR_CONDITION_GT = 5,
    IR_CONDITION_GE = 6,
    IR_CONDITION_NZ = 7,
    IR_CONDITION_ZE = 8,
};

// Instruction flags.
enum : u64 {
    IR_FLAG_SIGNED = 0x1,      // comparisons and arithmetic on signed integers
    IR_FLAG_REAL = 0x2,        // on floats
    IR_FLAG_THREADABLE = 0x4,  // a jump that bytecode may thread to its final target
};

constexpr u32 IR_MAX_OPERANDS = 4;

struct IR_Instruction {
    IR_Instruction *next;
    u8 kind;          // IR_Kind
    u8 num_operands;
    u16 condition;    // IR_JUMP_IF
    u32 sequence;     // lifetime id
    u64 op;           // IR_ARITHMETIC, IR_COMPARE, IR_STORE_CMP_RESULT: the OP_* operator
    u64 flags;
    Token *first, *last; // source location for listings and the debug records
    Scope *scope;        // the scope whose list holds it
    IR_Operand operands[IR_MAX_OPERANDS];
};

constexpr u32 NUM_INSTRUCTIONS_PER_BUCKET = 16;
constexpr u32 NUM_INSTRUCTION_BUCKETS_PER_PAGE = 2048;

// [SECTION] Relocations and IR state --------------------------------------------------

// A pointer stored inside constant or global data: at `location_offset`
// inside the register `location`, the address of `target_offset` inside
// `target`, or of the code of `target_sub_program`, or of the information
// record of `target_type`, when one of those is set.
struct Relocation {
    Scope *location_owner;
    Register_Id location;
    u64 location_offset;
    Scope *target_owner;
    Register_Id target;
    u64 target_offset;
    Identifier *target_sub_program;
    Identifier *target_type; // set: the address of this type's information record
    u8 section; // the location's pool: 1 constant data, 3 global data
};

// Instructions come from a stack of chunks: a sub-program's IR, once its
// bytecode is made, is handed back to the mark taken when its body began.
struct IR_Chunk {
    IR_Chunk *next;
    u64 used; // bytes of `data`
    alignas(16) u8 data[1];
};
struct IR_Mark {
    IR_Chunk *chunk;
    u64 used;
};

struct IR_State {
    IR_Chunk *first_chunk;
    IR_Chunk *current_chunk;
    u64 num_instructions; // made in this compilation, kept ones and handed back ones alike
    // Set by the driver: each sub-program body is lowered to bytecode as soon as
    // it is compiled (bytecode_gen.h) and its IR handed back.
    bool stream_bytecode;
    Dynamic_Array constant_registers; // Register, pools 1 and 2
    Dynamic_Array global_registers;   // Register, pool 3
    Dynamic_Array call_registers;     // Register, pool 5
    Dynamic_Array constant_relocations; // Relocation whose location is in constant data
    Dynamic_Array global_relocations;   // ... in global data
    Dynamic_Array sub_programs;         // Identifier *, every compiled body in declaration order
    u8 *global_data;                    // the global data section while compiling
    u64 global_data_used;
    u32 machine_word_size;
};
extern IR_State ir_state;

void ir_init();  // once, after init_compiler
void ir_reset(); // at the start of each compilation
// Set before a compilation: ir_reset turns it into IR_State::stream_bytecode for that one.
extern bool ir_stream_next_compilation;
// Fills the front end's Code_Generator table with this back end's builders.
void ir_install_code_generator();

// [SECTION] Register operations ----------------------------------------------------------

Register *get_register(Scope *scope, Register_Id id);
Register_Id get_register_id(Register *record, u8 pool);
bool registers_match(Register_Id a, Register_Id b);
bool is_a_machine_register(Scope *scope, Register_Id id);
u32 get_register_size(Scope *scope, Register_Id id);
u64 get_register_offset_in_constant_data(Scope *scope, Register_Id id);
u64 get_register_offset_in_type_data(Scope *scope, Register_Id id);
u64 get_register_offset_in_global_data(Scope *scope, Register_Id id);
u64 get_register_offset_in_stack_data(Scope *scope, Register_Id id);
u64 get_register_offset_in_call_data(Scope *scope, Register_Id id);
u8 *get_register_constant_data(Scope *scope, Register_Id id);
u8 *get_register_global_data(Scope *scope, Register_Id id);
// The base register reached through views; `owner` gets its owner scope.
Register_Id get_first_non_view_register(Scope *scope, Register_Id id, Scope **owner = nullptr);

Register_Id allocate_a_register(Scope *scope, u32 size, Identifier *type, u32 alignment);
Register_Id allocate_a_register_for_call_data(IR_Instruction *call, Identifier *callee, u32 size);
Register_Id allocate_within_register(Scope *scope, Register_Id id, u64 offset, u32 size, Identifier *type);
// A register over `size` bytes already placed at `offset` in constant data
// (the front end's allocate_constant_data gives the offset).
Register_Id make_constant_data_register(u64 offset, u32 size, u32 alignment, bool type_data = false);
Relocation *add_a_relocation(Scope *location_owner, Register_Id location, u64 location_offset, Scope *target_owner,
                             Register_Id target, u64 target_offset, bool in_constant_data);
void force_stay_alive(Scope *scope, Register_Id id);
void clear_and_set_allocation_hints(Scope *scope, Register_Id id, u8 hints);
// The scope that owns the registers of `scope`: the nearest enclosing
// sub-program or entry block, past inlined scopes; null at global scope.
Scope *get_register_owner_scope(Scope *scope);

void update_register_lifetime(Scope *owner, Register_Id id, IR_Instruction *instruction, Scope *current, bool track_loops);
void maybe_update_register_lifetime(const IR_Operand *operand, IR_Instruction *instruction, Scope *current, bool track_loops);

// [SECTION] Instruction builders -----------------------------------------------------------

IR_Instruction *allocate_an_instruction(Scope *scope, u8 kind);
IR_Mark ir_mark();
// Hands back every instruction made since `mark`.
void ir_release(IR_Mark mark);
// The same, appended to a loop's iteration list instead of its instructions.
IR_Instruction *allocate_an_iteration_instruction(Scope *loop, u8 kind);
IR_Operand operand_from_value(const Value *v);
IR_Operand operand_from_register(Register_Id id, u32 size, u8 number_class);
IR_Operand operand_from_constant(u64 bits, u32 size, u8 number_class);
u8 number_class_of_type(Identifier *type);

// A fresh temporary of `type`: kind dynamic | temporary (| boolean for b8).
void make_dynamic_value(Scope *scope, Identifier *type, Value *out);
void make_dynamic_value_from_register(Register_Id id, Identifier *type, Value *out);

IR_Instruction *instruction_set_to_zero(Scope *scope, const Value *destination, u64 flags = 0);
IR_Instruction *instruction_copy_constant(Scope *scope, const Value *destination, const Value *constant, u64 flags = 0);
IR_Instruction *instruction_copy_variable(Scope *scope, const Value *destination, const Value *source, u64 flags = 0);
IR_Instruction *instruction_copy_value(Scope *scope, const Value *destination, const Value *source, u64 flags = 0);
IR_Instruction *instruction_cast(Scope *scope, const Value *destination, const Value *source, u64 flags = 0);
IR_Instruction *instruction_memory_dereference(Scope *scope, const Value *destination, const Value *base,
                                               const Value *index, u32 scale, u64 flags = 0);
IR_Instruction *instruction_take_address(Scope *scope, const Value *destination, const Value *source, u64 flags = 0);
IR_Instruction *instruction_make_value_boolean(Scope *scope, const Value *v, u64 flags = 0);
IR_Instruction *instruction_arithmetic(Scope *scope, const Value *destination, u64 op, const Value *right, u64 flags = 0);
IR_Instruction *instruction_cmp(Scope *scope, const Value *a, u64 op, const Value *b, u64 flags = 0);
IR_Instruction *instruction_get_cmp_result(Scope *scope, const Value *destination, u64 op, u64 flags = 0);
IR_Instruction *instruction_label(Scope *scope);
// A label made now and placed later (a forward jump target).
IR_Instruction *make_label(Scope *scope);
void place_instruction(Scope *scope, IR_Instruction *instruction);
IR_Instruction *instruction_jump(Scope *scope, IR_Instruction *label);
IR_Instruction *instruction_jump_if(Scope *scope, u16 condition, IR_Instruction *label, u64 flags = 0);
IR_Instruction *instruction_nested_scope(Scope *scope, Scope *nested);
IR_Instruction *update_stack_trace_location(Scope *scope, const Value *location_member, Token *where);

// The jump condition taken when comparison `op` is false (== gives ne, < gives ge, ...);
// signedness travels in the jump's IR_FLAG_SIGNED.
u16 get_opposite_comparison_jump(u64 op);
u16 comparison_jump(u64 op);
