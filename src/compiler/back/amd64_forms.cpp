// One emitter per instruction form, on top of amd64_insert_instruction.
#include "compiler/back/amd64.h"

// Size prefixes and the byte/word/dword/qword opcode choice shared by the
// integer forms: 8-bit ops use the even opcode, the others the odd one.
static Amd64_Instruction sized(u32 size, u8 byte_opcode, u8 opcode) {
    Amd64_Instruction in = amd64_instruction(size == 1 ? byte_opcode : opcode);
    if (size == 2) in.operand_size_prefix = 0x66; // 66: 16-bit operand
    if (size == 8) in.rex_w = true;               // REX.W: 64-bit operand
    in.byte_registers = size == 1;
    return in;
}

static Amd64_Instruction with_rm(Amd64_Instruction in, u8 reg, Amd64_Operand rm) {
    in.has_modrm = true;
    in.reg = reg;
    in.rm = rm;
    return in;
}

static Amd64_Instruction with_digit(Amd64_Instruction in, u8 digit, Amd64_Operand rm) {
    in = with_rm(in, digit, rm);
    in.reg_is_extension = true;
    return in;
}

static Amd64_Instruction two_byte(u8 second) {
    Amd64_Instruction in = amd64_instruction(0x0F);
    in.opcode_count = 2;
    in.opcode[1] = second;
    return in;
}

static u8 immediate_size_for(u32 size) { return size == 1 ? 1 : size == 2 ? 2 : 4; }
static bool fits_s8(s64 v) { return v >= -128 && v <= 127; }

// [SECTION] Moves

void amd64_mov(Amd64_Code *code, u32 size, Amd64_Operand destination, Amd64_Operand source) {
    Amd64_Instruction in;
    if (source.kind == AMD64_OPERAND_MEMORY) in = with_rm(sized(size, 0x8A, 0x8B), destination.reg, source); // 8A/8B /r: mov r, r/m
    else in = with_rm(sized(size, 0x88, 0x89), source.reg, destination);                                      // 88/89 /r: mov r/m, r
    amd64_insert_instruction(code, &in);
}

void amd64_movabs(Amd64_Code *code, u8 reg, u64 value, u32 *immediate_position) {
    Amd64_Instruction in = amd64_instruction(0xB8); // REX.W B8+r io: mov r64, imm64
    in.rex_w = true;
    in.opcode_register = reg;
    in.immediate_size = 8;
    in.immediate = value;
    Amd64_Emitted e = amd64_insert_instruction(code, &in);
    if (immediate_position) *immediate_position = e.immediate_position;
}

void amd64_mov_immediate(Amd64_Code *code, u32 size, Amd64_Operand destination, u64 value) {
    if (destination.kind == AMD64_OPERAND_MEMORY) {
        Amd64_Instruction in = with_digit(sized(size, 0xC6, 0xC7), 0, destination); // C6/C7 /0: mov r/m, imm (imm32 sign-extended for 64)
        in.immediate_size = immediate_size_for(size);
        in.immediate = value;
        amd64_insert_instruction(code, &in);
        return;
    }
    if (size == 8) {
        if ((s64)value == (s32)value) {
            Amd64_Instruction in = with_digit(sized(8, 0xC6, 0xC7), 0, destination); // REX.W C7 /0 id
            in.immediate_size = 4;
            in.immediate = value;
            amd64_insert_instruction(code, &in);
            return;
        }
        if (value > 0xFFFFFFFFull) {
            amd64_movabs(code, destination.reg, value, nullptr);
            return;
        }
        size = 4; // writing the 32-bit register zero-extends
    }
    Amd64_Instruction in = sized(size, 0xB0, 0xB8); // B0+r ib / B8+r iw, id: mov r, imm
    in.rex_w = false;
    in.opcode_register = destination.reg;
    in.immediate_size = immediate_size_for(size);
    in.immediate = value;
    amd64_insert_instruction(code, &in);
}

void amd64_movzx(Amd64_Code *code, u32 destination_size, u8 destination, u32 source_size, Amd64_Operand source) {
    if (source_size == 4) { // mov r32, r/m32 zero-extends by itself
        amd64_mov(code, 4, amd64_gpr(destination), source);
        return;
    }
    Amd64_Instruction in = with_rm(two_byte(source_size == 1 ? 0xB6 : 0xB7), destination, source); // 0F B6/B7 /r: movzx
    in.rex_w = destination_size == 8;
    in.byte_registers = source_size == 1 && source.kind != AMD64_OPERAND_MEMORY;
    in.reg_is_extension = true; // only rm can be a byte register
    if (destination_size == 2) in.operand_size_prefix = 0x66;
    amd64_insert_instruction(code, &in);
}

void amd64_movsx(Amd64_Code *code, u32 destination_size, u8 destination, u32 source_size, Amd64_Operand source) {
    Amd64_Instruction in;
    if (source_size == 4) in = with_rm(amd64_instruction(0x63), destination, source); // REX.W 63 /r: movsxd
    else in = with_rm(two_byte(source_size == 1 ? 0xBE : 0xBF), destination, source);  // 0F BE/BF /r: movsx
    in.rex_w = destination_size == 8;
    in.byte_registers = source_size == 1 && source.kind != AMD64_OPERAND_MEMORY;
    if (in.byte_registers) in.reg_is_extension = true;
    if (destination_size == 2) in.operand_size_prefix = 0x66;
    amd64_insert_instruction(code, &in);
}

void amd64_lea(Amd64_Code *code, u8 destination, Amd64_Operand m) {
    Amd64_Instruction in = with_rm(amd64_instruction(0x8D), destination, m); // REX.W 8D /r: lea r64, m
    in.rex_w = true;
    amd64_insert_instruction(code, &in);
}

// [SECTION] Arithmetic

void amd64_alu(Amd64_Code *code, Amd64_Alu op, u32 size, Amd64_Operand destination, Amd64_Operand source) {
    u8 base = (u8)(op << 3);
    Amd64_Instruction in;
    if (source.kind == AMD64_OPERAND_MEMORY) in = with_rm(sized(size, base + 2, base + 3), destination.reg, source); // op+2/+3 /r: op r, r/m
    else in = with_rm(sized(size, base, base + 1), source.reg, destination);                                         // op+0/+1 /r: op r/m, r
    amd64_insert_instruction(code, &in);
}

void amd64_alu_immediate(Amd64_Code *code, Amd64_Alu op, u32 size, Amd64_Operand destination, s64 value) {
    Amd64_Instruction in;
    if (size != 1 && fits_s8(value)) {
        in = with_digit(sized(size, 0x83, 0x83), op, destination); // 83 /n ib: op r/m, imm8 sign-extended
        in.immediate_size = 1;
    } else if (destination.kind == AMD64_OPERAND_INTEGER && destination.reg == RAX) {
        in = sized(size, (u8)(op << 3 | 4), (u8)(op << 3 | 5)); // op+4/+5: op al/ax/eax/rax, imm (no ModRM)
        in.immediate_size = immediate_size_for(size);
    } else {
        in = with_digit(sized(size, 0x80, 0x81), op, destination); // 80/81 /n: op r/m, imm
        in.immediate_size = immediate_size_for(size);
    }
    in.immediate = (u64)value;
    amd64_insert_instruction(code, &in);
}

void amd64_test(Amd64_Code *code, u32 size, Amd64_Operand a, u8 b) {
    Amd64_Instruction in = with_rm(sized(size, 0x84, 0x85), b, a); // 84/85 /r: test r/m, r
    amd64_insert_instruction(code, &in);
}

void amd64_test_immediate(Amd64_Code *code, u32 size, Amd64_Operand a, s64 value) {
    Amd64_Instruction in;
    if (a.kind == AMD64_OPERAND_INTEGER && a.reg == RAX) in = sized(size, 0xA8, 0xA9); // A8/A9: test al/ax/eax/rax, imm
    else in = with_digit(sized(size, 0xF6, 0xF7), 0, a);                              // F6/F7 /0: test r/m, imm
    in.immediate_size = immediate_size_for(size);
    in.immediate = (u64)value;
    amd64_insert_instruction(code, &in);
}

void amd64_shift_immediate(Amd64_Code *code, Amd64_Shift op, u32 size, Amd64_Operand destination, u8 count) {
    Amd64_Instruction in;
    if (count == 1) {
        in = with_digit(sized(size, 0xD0, 0xD1), op, destination); // D0/D1 /n: shift r/m by 1
    } else {
        in = with_digit(sized(size, 0xC0, 0xC1), op, destination); // C0/C1 /n ib: shift r/m by imm8
        in.immediate_size = 1;
        in.immediate = count;
    }
    amd64_insert_instruction(code, &in);
}

void amd64_shift_by_cl(Amd64_Code *code, Amd64_Shift op, u32 size, Amd64_Operand destination) {
    Amd64_Instruction in = with_digit(sized(size, 0xD2, 0xD3), op, destination); // D2/D3 /n: shift r/m by cl
    amd64_insert_instruction(code, &in);
}

void amd64_unary(Amd64_Code *code, Amd64_Unary op, u32 size, Amd64_Operand operand) {
    Amd64_Instruction in = with_digit(sized(size, 0xF6, 0xF7), op, operand); // F6/F7 /n: not neg mul imul div idiv
    amd64_insert_instruction(code, &in);
}

void amd64_imul(Amd64_Code *code, u32 size, u8 destination, Amd64_Operand source) {
    Amd64_Instruction in = with_rm(two_byte(0xAF), destination, source); // 0F AF /r: imul r, r/m
    if (size == 2) in.operand_size_prefix = 0x66;
    in.rex_w = size == 8;
    amd64_insert_instruction(code, &in);
}

void amd64_imul_immediate(Amd64_Code *code, u32 size, u8 destination, Amd64_Operand source, s32 value) {
    bool short_form = fits_s8(value);
    Amd64_Instruction in = with_rm(amd64_instruction(short_form ? 0x6B : 0x69), destination, source); // 6B ib / 69 id: imul r, r/m, imm
    if (size == 2) in.operand_size_prefix = 0x66;
    in.rex_w = size == 8;
    in.immediate_size = short_form ? 1 : size == 2 ? 2 : 4;
    in.immediate = (u64)(s64)value;
    amd64_insert_instruction(code, &in);
}

void amd64_sign_extend_accumulator(Amd64_Code *code, u32 size) {
    Amd64_Instruction in = sized(size == 1 ? 2 : size, 0x99, 0x99); // 99: cwd (66) / cdq / cqo (REX.W)
    if (size == 1) { // cbw: sign-extend al into ax
        in = amd64_instruction(0x98);
        in.operand_size_prefix = 0x66;
    }
    amd64_insert_instruction(code, &in);
}

void amd64_setcc(Amd64_Code *code, Amd64_Condition condition, Amd64_Operand destination) {
    Amd64_Instruction in = with_digit(two_byte((u8)(0x90 | condition)), 0, destination); // 0F 90+cc /0: setcc r/m8
    in.byte_registers = true;
    amd64_insert_instruction(code, &in);
}

void amd64_cmovcc(Amd64_Code *code, Amd64_Condition condition, u32 size, u8 destination, Amd64_Operand source) {
    Amd64_Instruction in = with_rm(two_byte((u8)(0x40 | condition)), destination, source); // 0F 40+cc /r: cmovcc r, r/m
    if (size == 2) in.operand_size_prefix = 0x66;
    in.rex_w = size == 8;
    amd64_insert_instruction(code, &in);
}

// [SECTION] Branches and calls

static Amd64_Emitted rel32(Amd64_Code *code, Amd64_Instruction in) {
    in.immediate_size = 4;
    Amd64_Emitted e = amd64_insert_instruction(code, &in);
    e.displacement_position = e.immediate_position;
    return e;
}
Amd64_Emitted amd64_jmp_rel32(Amd64_Code *code) { return rel32(code, amd64_instruction(0xE9)); }          // E9 cd: jmp rel32
Amd64_Emitted amd64_jcc_rel32(Amd64_Code *code, Amd64_Condition c) { return rel32(code, two_byte((u8)(0x80 | c))); } // 0F 80+cc cd
Amd64_Emitted amd64_call_rel32(Amd64_Code *code) { return rel32(code, amd64_instruction(0xE8)); }         // E8 cd: call rel32

void amd64_call_indirect(Amd64_Code *code, Amd64_Operand target) {
    Amd64_Instruction in = with_digit(amd64_instruction(0xFF), 2, target); // FF /2: call r/m64
    amd64_insert_instruction(code, &in);
}
void amd64_ret(Amd64_Code *code) { *(u8 *)dynamic_array_add(&code->bytes) = 0xC3; }  // C3: ret
void amd64_int3(Amd64_Code *code) { *(u8 *)dynamic_array_add(&code->bytes) = 0xCC; } // CC: int3
void amd64_push(Amd64_Code *code, u8 reg) {
    Amd64_Instruction in = amd64_instruction(0x50); // 50+r: push r64
    in.opcode_register = reg;
    amd64_insert_instruction(code, &in);
}
void amd64_pop(Amd64_Code *code, u8 reg) {
    Amd64_Instruction in = amd64_instruction(0x58); // 58+r: pop r64
    in.opcode_register = reg;
    amd64_insert_instruction(code, &in);
}

void amd64_patch_rel32(Amd64_Code *code, u32 displacement_position, u32 end, u32 target) {
    s32 distance = (s32)((s64)target - (s64)end);
    memcpy(amd64_code_bytes(code) + displacement_position, &distance, 4);
}

// [SECTION] Float forms

static Amd64_Instruction sse(u32 size, u8 opcode, u8 reg, Amd64_Operand rm) {
    Amd64_Instruction in = with_rm(two_byte(opcode), reg, rm);
    in.mandatory_prefix = size == 4 ? 0xF3 : 0xF2; // F3: single, F2: double
    return in;
}

void amd64_movs(Amd64_Code *code, u32 size, Amd64_Operand destination, Amd64_Operand source) {
    Amd64_Instruction in;
    if (destination.kind == AMD64_OPERAND_MEMORY) in = sse(size, 0x11, source.reg, destination); // F3/F2 0F 11 /r: movss/movsd m, xmm
    else in = sse(size, 0x10, destination.reg, source);                                           // F3/F2 0F 10 /r: movss/movsd xmm, xmm/m
    amd64_insert_instruction(code, &in);
}

void amd64_float_op(Amd64_Code *code, Amd64_Float_Op op, u32 size, u8 destination, Amd64_Operand source) {
    Amd64_Instruction in = sse(size, op, destination, source); // F3/F2 0F op /r: addss, mulss, subss, divss, ...
    amd64_insert_instruction(code, &in);
}

void amd64_ucomis(Amd64_Code *code, u32 size, u8 a, Amd64_Operand b) {
    Amd64_Instruction in = with_rm(two_byte(0x2E), a, b); // [66] 0F 2E /r: ucomiss / ucomisd
    if (size == 8) in.operand_size_prefix = 0x66;
    amd64_insert_instruction(code, &in);
}

void amd64_cvtsi2s(Amd64_Code *code, u32 float_size, u8 destination, u32 integer_size, Amd64_Operand source) {
    Amd64_Instruction in = sse(float_size, 0x2A, destination, source); // F3/F2 [REX.W] 0F 2A /r: cvtsi2ss/sd
    in.rex_w = integer_size == 8;
    amd64_insert_instruction(code, &in);
}

void amd64_cvtts2si(Amd64_Code *code, u32 float_size, u32 integer_size, u8 destination, Amd64_Operand source) {
    Amd64_Instruction in = sse(float_size, 0x2C, destination, source); // F3/F2 [REX.W] 0F 2C /r: cvttss2si/cvttsd2si
    in.rex_w = integer_size == 8;
    amd64_insert_instruction(code, &in);
}

void amd64_cvt_float(Amd64_Code *code, u32 destination_size, u8 destination, Amd64_Operand source) {
    // F3 0F 5A: cvtss2sd (single source); F2 0F 5A: cvtsd2ss (double source).
    Amd64_Instruction in = sse(destination_size == 8 ? 4 : 8, 0x5A, destination, source);
    amd64_insert_instruction(code, &in);
}

void amd64_movq_to_xmm(Amd64_Code *code, u32 size, u8 xmm, Amd64_Operand source) {
    Amd64_Instruction in = with_rm(two_byte(0x6E), xmm, source); // 66 [REX.W] 0F 6E /r: movd/movq xmm, r/m
    in.operand_size_prefix = 0x66;
    in.rex_w = size == 8;
    amd64_insert_instruction(code, &in);
}

void amd64_movq_from_xmm(Amd64_Code *code, u32 size, Amd64_Operand destination, u8 xmm) {
    Amd64_Instruction in = with_rm(two_byte(0x7E), xmm, destination); // 66 [REX.W] 0F 7E /r: movd/movq r/m, xmm
    in.operand_size_prefix = 0x66;
    in.rex_w = size == 8;
    amd64_insert_instruction(code, &in);
}

void amd64_xorps(Amd64_Code *code, u8 destination, u8 source) {
    Amd64_Instruction in = with_rm(two_byte(0x57), destination, amd64_xmm(source)); // 0F 57 /r: xorps
    amd64_insert_instruction(code, &in);
}

// Whole-register copy: movss/movsd between registers keep the upper bits and
// so wait for the destination's last writer.
void amd64_movaps(Amd64_Code *code, u8 destination, u8 source) {
    Amd64_Instruction in = with_rm(two_byte(0x28), destination, amd64_xmm(source)); // 0F 28 /r: movaps
    amd64_insert_instruction(code, &in);
}

void amd64_vfloat_op(Amd64_Code *code, Amd64_Float_Op op, u32 size, u8 destination, u8 first, Amd64_Operand second) {
    Amd64_Vex_Instruction in = {};
    in.pp = size == 4 ? 2 : 3; // VEX.LIG.F3/F2.0F op /r: vaddss/vaddsd xmm1, xmm2, xmm3/m
    in.map = 1;
    in.opcode = op;
    in.reg = destination;
    in.vvvv = first;
    in.rm = second;
    amd64_insert_extended_instruction(code, &in);
}

static void vmovdqu(Amd64_Code *code, u8 opcode, u8 ymm, Amd64_Operand m) {
    Amd64_Vex_Instruction in = {};
    in.pp = 2; // VEX.256.F3.0F 6F /r: vmovdqu ymm, m256; 7F /r: vmovdqu m256, ymm
    in.map = 1;
    in.l256 = true;
    in.opcode = opcode;
    in.reg = ymm;
    in.rm = m;
    amd64_insert_extended_instruction(code, &in);
}
void amd64_vmovdqu_load(Amd64_Code *code, u8 ymm, Amd64_Operand m) { vmovdqu(code, 0x6F, ymm, m); }
void amd64_vmovdqu_store(Amd64_Code *code, Amd64_Operand m, u8 ymm) { vmovdqu(code, 0x7F, ymm, m); }
