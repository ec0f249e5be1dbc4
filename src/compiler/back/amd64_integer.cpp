// Integer arithmetic and comparisons: sequences that work on the operands
// where they live (a machine register or memory) instead of shuttling both
// through rax and rcx, plus the multiply-by-constant shortcuts.
//
// A machine register holding an n-byte integer keeps it in its low n bytes;
// the bits above are whatever the last operation left. So +, -, *, the
// bitwise operators and << may run 32 or 64 bits wide, while division, >>
// and comparisons see the value at its own size or extended first.
//
// The shift rules (the constant folder follows the same): a count is read as
// an unsigned number; << and >> by the width or more give 0, or every bit
// the sign for >> of a signed value; <<< and >>> rotate by the count modulo
// the width. Division truncates toward zero; dividing by zero faults, and so
// does the smallest 32- or 64-bit value divided by -1.
#include "compiler/back/amd64_translation.h"
#include "compiler/front/tokens.h"

static bool fits_s32(s64 v) { return v == (s32)v; }
static u32 wide_size(u32 size) { return size == 8 ? 8 : 4; }

// The constant as the size-byte integer it stands for, extended to 64 bits.
u64 amd64_extend_constant(u64 value, u32 size, bool is_signed) {
    if (size >= 8) return value;
    u32 unused = 64 - 8 * size;
    return is_signed ? (u64)((s64)(value << unused) >> unused) : value & (~0ull >> unused);
}

// [SECTION] Multiplication by a constant

void amd64_shift_by_constant(Amd64_Code *code, Amd64_Shift op, u32 size, Amd64_Operand destination, u32 count) {
    if (count) amd64_shift_immediate(code, op, size, destination, (u8)count);
}

// reg <- reg * factor for factor 3, 5 or 9: lea reg, [reg + reg * (factor - 1)].
void amd64_lea_for_multiplication(Amd64_Code *code, u32 size, u8 reg, u32 factor) {
    Amd64_Operand m = amd64_make_full_sib_memory_operand(reg, reg, (u8)(factor - 1), 0);
    Amd64_Instruction in = amd64_instruction(0x8D); // [REX.W] 8D /r: lea r, [base + index * scale]
    in.rex_w = size == 8;
    in.has_modrm = true;
    in.reg = reg;
    in.rm = m;
    amd64_insert_instruction(code, &in);
}

// reg <- reg * value on size-byte integers (rcx may be used). Powers of two
// shift, 3, 5 and 9 take one lea, products of those and a power of two two
// leas and a shift (6 is a lea and a shift), 2^k +- 1 a shifted copy and an
// add or subtract (7 among them); the rest is an imul.
void amd64_multiply_by_constant(Amd64_Code *code, u32 size, u8 reg, u64 value) {
    u32 w = wide_size(size);
    Amd64_Operand r = amd64_gpr(reg);
    s64 v = (s64)amd64_extend_constant(value, size, true);
    if (v == 0) {
        amd64_alu(code, ALU_XOR, 4, r, r);
        return;
    }
    if (v == 1) return;
    if (v == -1) {
        amd64_unary(code, UNARY_NEG, w, r);
        return;
    }
    u64 magnitude = v < 0 ? (u64)0 - (u64)v : (u64)v;
    if (v > 0 && (magnitude & (magnitude - 1)) == 0) {
        amd64_shift_by_constant(code, SHIFT_SHL, w, r, (u32)__builtin_ctzll(magnitude));
        return;
    }
    if (v > 0) {
        u32 k = (u32)__builtin_ctzll(magnitude);
        u64 odd = magnitude >> k;
        static const u8 FIRST[] = {3, 5, 9}, SECOND[] = {1, 3, 5, 9};
        for (u8 b : SECOND) { // one lea before two
            for (u8 a : FIRST) {
                if ((u64)a * b != odd) continue;
                amd64_lea_for_multiplication(code, w, reg, a);
                if (b != 1) amd64_lea_for_multiplication(code, w, reg, b);
                amd64_shift_by_constant(code, SHIFT_SHL, w, r, k);
                return;
            }
        }
        if (((magnitude - 1) & (magnitude - 2)) == 0) { // 2^k + 1
            amd64_mov(code, 8, amd64_gpr(RCX), r);
            amd64_shift_by_constant(code, SHIFT_SHL, w, amd64_gpr(RCX), (u32)__builtin_ctzll(magnitude - 1));
            amd64_alu(code, ALU_ADD, w, r, amd64_gpr(RCX));
            return;
        }
        if (((magnitude + 1) & magnitude) == 0) { // 2^k - 1, 7 among them
            amd64_mov(code, 8, amd64_gpr(RCX), r);
            amd64_shift_by_constant(code, SHIFT_SHL, w, amd64_gpr(RCX), (u32)__builtin_ctzll(magnitude + 1));
            amd64_alu(code, ALU_SUB, w, amd64_gpr(RCX), r);
            amd64_mov(code, 8, r, amd64_gpr(RCX));
            return;
        }
    }
    if (w == 4 || fits_s32(v)) {
        amd64_imul_immediate(code, w, reg, r, (s32)v);
        return;
    }
    amd64_mov_immediate(code, 8, amd64_gpr(RCX), (u64)v);
    amd64_imul(code, 8, reg, amd64_gpr(RCX));
}

// [SECTION] Operand helpers

// The value of `o` (size bytes) in `reg`, extended to 64 bits.
static void load_extended(Amd64_Code *code, u32 size, u8 reg, Amd64_Operand o, bool is_signed) {
    if (size == 8) amd64_mov(code, 8, amd64_gpr(reg), o);
    else if (is_signed) amd64_movsx(code, 8, reg, size, o);
    else amd64_movzx(code, 4, reg, size, o);
}

static void store_sized(Amd64_Code *code, u32 size, Amd64_Operand d, u8 reg) {
    if (d.kind == AMD64_OPERAND_INTEGER) amd64_mov(code, 8, d, amd64_gpr(reg));
    else amd64_mov(code, size, d, amd64_gpr(reg));
}

// A source operand an ALU instruction can take at width `w` for a size-byte
// value: a register as is, memory only when it is as wide as the operation.
static Amd64_Operand alu_source(Amd64_Code *code, u32 size, Amd64_Operand s, u32 w) {
    if (s.kind == AMD64_OPERAND_INTEGER || (s.kind == AMD64_OPERAND_MEMORY && size == w)) return s;
    load_extended(code, size, RCX, s, false);
    return amd64_gpr(RCX);
}

static Amd64_Alu alu_of(u64 op) {
    switch (op) {
    case OP_ADD: return ALU_ADD;
    case OP_SUBTRACT: return ALU_SUB;
    case OP_AND: return ALU_AND;
    case OP_OR: return ALU_OR;
    default: return ALU_XOR;
    }
}

// [SECTION] Arithmetic

static void divide(Amd64_Code *code, u64 op, u32 size, Amd64_Operand d, Amd64_Operand s, bool constant, u64 value, bool is_signed) {
    u32 w = wide_size(size);
    if (constant && !is_signed) {
        u64 v = amd64_extend_constant(value, size, false);
        if (v && (v & (v - 1)) == 0) { // unsigned by a power of two: a shift or a mask
            load_extended(code, size, RAX, d, false);
            if (op == OP_DIVIDE) amd64_shift_by_constant(code, SHIFT_SHR, w, amd64_gpr(RAX), (u32)__builtin_ctzll(v));
            else if (fits_s32((s64)(v - 1))) amd64_alu_immediate(code, ALU_AND, w, amd64_gpr(RAX), (s64)(v - 1));
            else {
                amd64_mov_immediate(code, 8, amd64_gpr(RCX), v - 1);
                amd64_alu(code, ALU_AND, 8, amd64_gpr(RAX), amd64_gpr(RCX));
            }
            store_sized(code, size, d, RAX);
            return;
        }
    }
    load_extended(code, size, RAX, d, is_signed);
    if (constant) amd64_mov_immediate(code, 8, amd64_gpr(RCX), amd64_extend_constant(value, size, is_signed));
    else load_extended(code, size, RCX, s, is_signed);
    if (is_signed) amd64_sign_extend_accumulator(code, w);     // cdq / cqo
    else amd64_alu(code, ALU_XOR, 4, amd64_gpr(RDX), amd64_gpr(RDX)); // 31 D2: xor edx, edx
    amd64_unary(code, is_signed ? UNARY_IDIV : UNARY_DIV, w, amd64_gpr(RCX));
    store_sized(code, size, d, op == OP_MODULO ? RDX : RAX);
}

static void shift(Amd64_Code *code, u64 op, u32 size, Amd64_Operand d, Amd64_Operand s, bool constant, u64 value, bool is_signed) {
    u32 bits = 8 * size;
    bool rotate = op == OP_ROTATE_LEFT || op == OP_ROTATE_RIGHT;
    Amd64_Shift kind = is_signed ? SHIFT_SAR : SHIFT_SHR;
    if (op == OP_SHIFT_LEFT) kind = SHIFT_SHL;
    else if (op == OP_ROTATE_LEFT) kind = SHIFT_ROL;
    else if (op == OP_ROTATE_RIGHT) kind = SHIFT_ROR;
    // Register operands are shifted at their own size so that no stale high bit moves in.
    if (constant) {
        u64 count = amd64_extend_constant(value, size, is_signed);
        if (rotate) {
            amd64_shift_by_constant(code, kind, size, d, (u32)(count % bits));
        } else if (count < bits) {
            amd64_shift_by_constant(code, kind, size, d, (u32)count);
        } else if (kind == SHIFT_SAR) {
            amd64_shift_by_constant(code, kind, size, d, bits - 1);
        } else if (d.kind == AMD64_OPERAND_INTEGER) {
            amd64_alu(code, ALU_XOR, 4, d, d);
        } else {
            amd64_mov_immediate(code, size, d, 0);
        }
        return;
    }
    load_extended(code, size, RCX, s, is_signed);
    if (rotate) { // the hardware count mask (31 or 63) is a multiple of every width
        amd64_shift_by_cl(code, kind, size, d);
        return;
    }
    // Shifted 64 bits wide on the extended value, the count clamped: a
    // signed >> by 63 leaves the sign everywhere; << and >> by 64 or more give 0.
    load_extended(code, size, RAX, d, is_signed);
    if (kind == SHIFT_SAR) {
        amd64_mov_immediate(code, 4, amd64_gpr(RDX), 63);
        amd64_alu_immediate(code, ALU_CMP, 8, amd64_gpr(RCX), 63);
        amd64_cmovcc(code, CC_A, 8, RCX, amd64_gpr(RDX));
        amd64_shift_by_cl(code, kind, 8, amd64_gpr(RAX));
    } else {
        amd64_shift_by_cl(code, kind, 8, amd64_gpr(RAX));
        amd64_alu(code, ALU_XOR, 4, amd64_gpr(RDX), amd64_gpr(RDX));
        amd64_alu_immediate(code, ALU_CMP, 8, amd64_gpr(RCX), 64);
        amd64_cmovcc(code, CC_AE, 8, RAX, amd64_gpr(RDX));
    }
    store_sized(code, size, d, RAX);
}

// d <- d op s (or the constant). `d` may be a register or memory (its address
// already in a register other than rax, rcx and rdx); `s` anything. False for
// an operator without a sequence.
bool amd64_integer_arithmetic(Amd64_Code *code, u64 op, u32 size, Amd64_Operand d, Amd64_Operand s, bool constant, u64 value,
                              bool is_signed) {
    u32 w = wide_size(size);
    switch (op) {
    case OP_ADD:
    case OP_SUBTRACT:
    case OP_AND:
    case OP_OR:
    case OP_XOR: {
        Amd64_Alu alu = alu_of(op);
        u32 at = d.kind == AMD64_OPERAND_INTEGER ? w : size; // memory is written at its own size
        if (constant) {
            s64 v = (s64)amd64_extend_constant(value, size, true);
            if (fits_s32(v)) {
                if (v == 0 && alu != ALU_AND) return true;
                amd64_alu_immediate(code, alu, at, d, v);
                return true;
            }
            amd64_mov_immediate(code, 8, amd64_gpr(RCX), (u64)v);
            s = amd64_gpr(RCX);
        } else {
            s = alu_source(code, size, s, at);
            if (s.kind == AMD64_OPERAND_MEMORY && d.kind == AMD64_OPERAND_MEMORY) {
                amd64_mov(code, size, amd64_gpr(RCX), s);
                s = amd64_gpr(RCX);
            }
        }
        amd64_alu(code, alu, at, d, s);
        return true;
    }
    case OP_MULTIPLY: {
        u8 reg = d.kind == AMD64_OPERAND_INTEGER ? d.reg : (u8)RAX;
        if (reg == RAX) amd64_mov(code, size, amd64_gpr(RAX), d);
        if (constant) amd64_multiply_by_constant(code, size, reg, value);
        else amd64_imul(code, w, reg, alu_source(code, size, s, w));
        if (reg == RAX) store_sized(code, size, d, RAX);
        return true;
    }
    case OP_DIVIDE:
    case OP_MODULO: divide(code, op, size, d, s, constant, value, is_signed); return true;
    case OP_SHIFT_LEFT:
    case OP_SHIFT_RIGHT:
    case OP_ROTATE_LEFT:
    case OP_ROTATE_RIGHT: shift(code, op, size, d, s, constant, value, is_signed); return true;
    }
    return false;
}

// [SECTION] Comparisons

// Flags of a against b (or the constant), both size-byte integers, read at
// their own size so that both signed and unsigned conditions hold.
void amd64_integer_compare(Amd64_Code *code, u32 size, Amd64_Operand a, Amd64_Operand b, bool constant, u64 value, bool test) {
    Amd64_Alu none = ALU_CMP;
    if (constant) {
        s64 v = (s64)amd64_extend_constant(value, size, true);
        if (fits_s32(v)) {
            if (test) amd64_test_immediate(code, size, a, v);
            else if (v == 0 && a.kind == AMD64_OPERAND_INTEGER) amd64_test(code, size, a, a.reg);
            else amd64_alu_immediate(code, none, size, a, v);
            return;
        }
        amd64_mov_immediate(code, 8, amd64_gpr(RCX), (u64)v);
        b = amd64_gpr(RCX);
    } else if (b.kind != AMD64_OPERAND_INTEGER && !(b.kind == AMD64_OPERAND_MEMORY && a.kind == AMD64_OPERAND_INTEGER && !test)) {
        amd64_mov(code, size, amd64_gpr(RCX), b);
        b = amd64_gpr(RCX);
    }
    if (test) amd64_test(code, size, a, b.reg);
    else if (b.kind == AMD64_OPERAND_MEMORY) amd64_alu(code, none, size, a, b); // cmp r, r/m
    else amd64_alu(code, none, size, a, b);                                    // cmp r/m, r
}
