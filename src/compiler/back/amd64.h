// The AMD64 encoder: operands, the two instruction encoders (legacy opcodes
// with REX, VEX for float forms) and one tiny emitter per instruction form,
// each with its encoding written beside it.
//
// Index:
//   [SECTION] Registers and operands
//   [SECTION] Code buffer and relocations
//   [SECTION] Encoders
//   [SECTION] Integer forms
//   [SECTION] Branches and calls
//   [SECTION] Float forms
#pragma once
#include "core/base.h"
#include "core/memory.h"

// [SECTION] Registers and operands ------------------------------------------------------

enum : u8 {
    RAX = 0, RCX = 1, RDX = 2, RBX = 3, RSP = 4, RBP = 5, RSI = 6, RDI = 7,
    R8 = 8, R9 = 9, R10 = 10, R11 = 11, R12 = 12, R13 = 13, R14 = 14, R15 = 15,
};
constexpr u8 AMD64_REGISTER_USED_TO_PASS_PARAMETERS = RAX;
constexpr u8 AMD64_REGISTER_USED_TO_PASS_FOREIGN_SUB_PROGRAM_ID = RSI;
constexpr u8 AMD64_NO_REGISTER = 0xFF;

enum : u8 {
    AMD64_OPERAND_NONE = 0,
    AMD64_OPERAND_MEMORY = 1,
    AMD64_OPERAND_INTEGER = 16, // a general-purpose register
    AMD64_OPERAND_FLOAT = 32,   // an xmm register
};

// Data tags of RIP-relative references; the image writer turns the section
// offset held in the displacement into a distance from the instruction.
enum : u8 {
    AMD64_DATA_NONE = 0,
    AMD64_DATA_CONSTANT = 1,
    AMD64_DATA_TYPE = 2,
    AMD64_DATA_GLOBAL = 4,
};

struct Amd64_Operand {
    u8 kind;  // AMD64_OPERAND_*
    u8 reg;   // register operands
    // Memory: ModRM mod and rm bits (reg bits left 0), SIB when has_sib.
    u8 modrm;
    u8 sib;
    bool has_sib;
    bool rip_relative;
    u8 base;  // AMD64_NO_REGISTER when RIP-relative
    u8 index; // AMD64_NO_REGISTER without an index
    u8 scale; // 1, 2, 4 or 8
    u8 data_tag;
    s32 displacement;
};

inline Amd64_Operand amd64_gpr(u8 reg) {
    Amd64_Operand o = {};
    o.kind = AMD64_OPERAND_INTEGER;
    o.reg = reg;
    return o;
}
inline Amd64_Operand amd64_xmm(u8 reg) {
    Amd64_Operand o = {};
    o.kind = AMD64_OPERAND_FLOAT;
    o.reg = reg;
    return o;
}

// [base + displacement] without a SIB byte unless the base needs one (rsp, r12).
Amd64_Operand amd64_make_non_sib_memory_operand(u8 base, s32 displacement);
// [base + displacement] always through a SIB byte (the stack frame form).
Amd64_Operand amd64_make_sib_memory_operand(u8 base, s32 displacement);
// [base + index * scale + displacement]; index must not be rsp.
Amd64_Operand amd64_make_full_sib_memory_operand(u8 base, u8 index, u8 scale, s32 displacement);
// [rip + displacement]; with a data tag the displacement is a section offset.
Amd64_Operand amd64_make_rip_memory_operand(s32 displacement, u8 data_tag);
// Picks the shortest of the above for the parts given.
Amd64_Operand amd64_make_memory_operand_from(u8 base, u8 index, u8 scale, s32 displacement);
// A displacement byte or word is needed when it is non-zero, when the
// reference is RIP-relative, or when the base is rbp or r13 (mod 00 with
// those means "no base").
bool amd64_check_wether_we_need_an_offset(const Amd64_Operand *operand);
// Recomputes ModRM and SIB after base, index, scale or displacement changed.
void amd64_recalculate_memory_operand(Amd64_Operand *operand);
void amd64_prepare_sib(Amd64_Operand *operand);

// [SECTION] Code buffer and relocations ---------------------------------------------------

// A RIP-relative reference into a data section.
struct Amd64_Data_Reference {
    u32 displacement_position; // code position of the 32-bit displacement
    u8 extra;                  // bytes between the displacement and the instruction end
    u8 data_tag;
};

// A relative jump or call to a bytecode position, resolved once every
// bytecode instruction has a code position.
struct Amd64_Jump_Relocation {
    u64 target;                // bytecode position
    u32 displacement_position;
    u32 end;                   // code position of the instruction's end
    u8 extra;
};

struct Amd64_Code {
    Dynamic_Array bytes;               // u8
    Dynamic_Array data_references;     // Amd64_Data_Reference
    Dynamic_Array jump_relocations;    // Amd64_Jump_Relocation
    Dynamic_Array foreign_relocations; // u64: code position of an 8-byte immediate
};
void amd64_code_init(Amd64_Code *code);
void amd64_code_free(Amd64_Code *code);
inline u32 amd64_code_position(const Amd64_Code *code) { return code->bytes.count; }
inline u8 *amd64_code_bytes(Amd64_Code *code) { return (u8 *)code->bytes.data; }

// [SECTION] Encoders -------------------------------------------------------------------------

// One legacy-encoded instruction: [66] [F2/F3] [REX] opcode [ModRM [SIB] [disp]] [imm].
struct Amd64_Instruction {
    u8 operand_size_prefix; // 0x66 or 0
    u8 mandatory_prefix;    // 0xF2, 0xF3 or 0 (written after 66, before REX)
    bool rex_w;
    bool byte_registers;    // 8-bit operands: spl, bpl, sil and dil need a REX
    u8 opcode_count;
    u8 opcode[3];
    bool has_modrm;
    u8 reg;                 // ModRM.reg: a register number or the /digit extension
    bool reg_is_extension;  // reg is a /digit, never a byte register needing REX
    Amd64_Operand rm;       // register or memory
    u8 opcode_register;     // forms without ModRM that add a register to the last opcode byte (B8+r); 0xFF none
    u8 immediate_size;      // 0, 1, 2, 4 or 8
    u64 immediate;
};

// Where the pieces of an emitted instruction landed.
struct Amd64_Emitted {
    u32 start;
    u32 displacement_position; // 0 when it has no 32-bit displacement
    u32 immediate_position;
    u32 end;
};

Amd64_Instruction amd64_instruction(u8 opcode);
Amd64_Emitted amd64_insert_instruction(Amd64_Code *code, const Amd64_Instruction *in);

// One VEX-encoded instruction: VEX.L.pp.mmmmm.W opcode /r, with vvvv the
// extra source register (0 when unused).
struct Amd64_Vex_Instruction {
    u8 pp;     // 0 none, 1 66, 2 F3, 3 F2
    u8 map;    // 1 0F, 2 0F38, 3 0F3A
    bool w;
    bool l256;
    u8 opcode;
    u8 reg;    // ModRM.reg
    u8 vvvv;   // the second source register
    Amd64_Operand rm;
};
Amd64_Emitted amd64_insert_extended_instruction(Amd64_Code *code, const Amd64_Vex_Instruction *in);

// [SECTION] Integer forms ----------------------------------------------------------------------
// `size` is the operand size in bytes: 1, 2, 4 or 8.

void amd64_mov(Amd64_Code *code, u32 size, Amd64_Operand destination, Amd64_Operand source); // reg/mem <- reg, reg <- mem
void amd64_mov_immediate(Amd64_Code *code, u32 size, Amd64_Operand destination, u64 value); // shortest form
void amd64_movabs(Amd64_Code *code, u8 reg, u64 value, u32 *immediate_position);         // REX.W B8+r io
// Widening loads and register moves: movzx / movsx / movsxd, into 4 or 8 bytes.
void amd64_movzx(Amd64_Code *code, u32 destination_size, u8 destination, u32 source_size, Amd64_Operand source);
void amd64_movsx(Amd64_Code *code, u32 destination_size, u8 destination, u32 source_size, Amd64_Operand source);
void amd64_lea(Amd64_Code *code, u8 destination, Amd64_Operand memory);

enum Amd64_Alu : u8 { ALU_ADD = 0, ALU_OR = 1, ALU_ADC = 2, ALU_SBB = 3, ALU_AND = 4, ALU_SUB = 5, ALU_XOR = 6, ALU_CMP = 7 };
void amd64_alu(Amd64_Code *code, Amd64_Alu op, u32 size, Amd64_Operand destination, Amd64_Operand source);
void amd64_alu_immediate(Amd64_Code *code, Amd64_Alu op, u32 size, Amd64_Operand destination, s64 value);
void amd64_test(Amd64_Code *code, u32 size, Amd64_Operand a, u8 b);
void amd64_test_immediate(Amd64_Code *code, u32 size, Amd64_Operand a, s64 value);

enum Amd64_Shift : u8 { SHIFT_ROL = 0, SHIFT_ROR = 1, SHIFT_SHL = 4, SHIFT_SHR = 5, SHIFT_SAR = 7 };
void amd64_shift_immediate(Amd64_Code *code, Amd64_Shift op, u32 size, Amd64_Operand destination, u8 count);
void amd64_shift_by_cl(Amd64_Code *code, Amd64_Shift op, u32 size, Amd64_Operand destination);

enum Amd64_Unary : u8 { UNARY_NOT = 2, UNARY_NEG = 3, UNARY_MUL = 4, UNARY_IMUL = 5, UNARY_DIV = 6, UNARY_IDIV = 7 };
void amd64_unary(Amd64_Code *code, Amd64_Unary op, u32 size, Amd64_Operand operand);
void amd64_imul(Amd64_Code *code, u32 size, u8 destination, Amd64_Operand source);                  // 0F AF
void amd64_imul_immediate(Amd64_Code *code, u32 size, u8 destination, Amd64_Operand source, s32 value); // 6B / 69
// Sign-extends the accumulator into rdx:rax before a signed division (cwd, cdq, cqo).
void amd64_sign_extend_accumulator(Amd64_Code *code, u32 size);

// Condition codes (the low nibble of Jcc and SETcc).
enum Amd64_Condition : u8 {
    CC_O = 0, CC_NO = 1, CC_B = 2, CC_AE = 3, CC_E = 4, CC_NE = 5, CC_BE = 6, CC_A = 7,
    CC_S = 8, CC_NS = 9, CC_P = 10, CC_NP = 11, CC_L = 12, CC_GE = 13, CC_LE = 14, CC_G = 15,
};
void amd64_setcc(Amd64_Code *code, Amd64_Condition condition, Amd64_Operand destination); // 0F 90+cc /0
void amd64_cmovcc(Amd64_Code *code, Amd64_Condition condition, u32 size, u8 destination, Amd64_Operand source);

// [SECTION] Branches and calls -----------------------------------------------------------------

// rel32 forms; the displacement is left 0 and its position returned in `out`.
Amd64_Emitted amd64_jmp_rel32(Amd64_Code *code);
Amd64_Emitted amd64_jcc_rel32(Amd64_Code *code, Amd64_Condition condition);
Amd64_Emitted amd64_call_rel32(Amd64_Code *code);
void amd64_call_indirect(Amd64_Code *code, Amd64_Operand target); // FF /2
void amd64_ret(Amd64_Code *code);
void amd64_int3(Amd64_Code *code);
void amd64_push(Amd64_Code *code, u8 reg);
void amd64_pop(Amd64_Code *code, u8 reg);
// Writes a relative displacement so that it reaches `target` (code positions).
void amd64_patch_rel32(Amd64_Code *code, u32 displacement_position, u32 end, u32 target);

// [SECTION] Float forms ---------------------------------------------------------------------------
// `size` 4 is single precision (ss), 8 double precision (sd).

enum Amd64_Float_Op : u8 { FOP_ADD = 0x58, FOP_MUL = 0x59, FOP_SUB = 0x5C, FOP_MIN = 0x5D, FOP_DIV = 0x5E, FOP_MAX = 0x5F, FOP_SQRT = 0x51 };
void amd64_movs(Amd64_Code *code, u32 size, Amd64_Operand destination, Amd64_Operand source); // movss/movsd
void amd64_float_op(Amd64_Code *code, Amd64_Float_Op op, u32 size, u8 destination, Amd64_Operand source);
void amd64_ucomis(Amd64_Code *code, u32 size, u8 a, Amd64_Operand b);
// int -> float (cvtsi2ss/sd) from a 4- or 8-byte integer.
void amd64_cvtsi2s(Amd64_Code *code, u32 float_size, u8 destination, u32 integer_size, Amd64_Operand source);
// float -> int, truncating (cvttss2si/cvttsd2si) into a 4- or 8-byte integer.
void amd64_cvtts2si(Amd64_Code *code, u32 float_size, u32 integer_size, u8 destination, Amd64_Operand source);
// Between precisions: cvtss2sd (to 8) or cvtsd2ss (to 4).
void amd64_cvt_float(Amd64_Code *code, u32 destination_size, u8 destination, Amd64_Operand source);
// Bits between an integer register and an xmm register (movd/movq).
void amd64_movq_to_xmm(Amd64_Code *code, u32 size, u8 xmm, Amd64_Operand source);
void amd64_movq_from_xmm(Amd64_Code *code, u32 size, Amd64_Operand destination, u8 xmm);
void amd64_xorps(Amd64_Code *code, u8 destination, u8 source);
void amd64_movaps(Amd64_Code *code, u8 destination, u8 source);
// VEX forms: three-operand scalar arithmetic and 32-byte unaligned moves (register saving).
void amd64_vfloat_op(Amd64_Code *code, Amd64_Float_Op op, u32 size, u8 destination, u8 first, Amd64_Operand second);
void amd64_vmovdqu_load(Amd64_Code *code, u8 ymm, Amd64_Operand memory);
void amd64_vmovdqu_store(Amd64_Code *code, Amd64_Operand memory, u8 ymm);
