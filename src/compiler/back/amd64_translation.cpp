// Bytecode -> AMD64: frames, calls, jumps, copies, integer and float
// arithmetic, casts, addresses and comparisons. rax, rcx and rdx are the
// scratch registers of every sequence; rbx, rsi and rdi hold addresses and
// operands that must survive them.
#include "compiler/back/amd64_translation.h"
#include "compiler/back/ir.h"
#include "compiler/front/tokens.h"
#include <cstdlib>

// [SECTION] Operands

Amd64_Operand amd64_get_memory(Scope *scope, Register_Id id) {
    u64 extra = 0;
    Scope *owner = scope;
    Register_Id base = id;
    Register *r = get_register(scope, id);
    while (r && r->kind == REGISTER_KIND_VIEW) {
        extra += r->view_offset;
        owner = r->view_owner ? r->view_owner : owner;
        base = r->view_target;
        r = get_register(owner, base);
    }
    if (!r) return Amd64_Operand{};
    switch (r->kind) {
    case REGISTER_KIND_STACK:
        if (r->in_machine_register) return r->machine_register_class == MACHINE_REGISTER_FLOAT ? amd64_xmm(r->machine_register) : amd64_gpr(r->machine_register);
        return amd64_make_sib_memory_operand(RSP, (s32)(r->offset + extra));
    case REGISTER_KIND_CALL_DATA:
        if (r->call) return amd64_make_sib_memory_operand(RSP, (s32)(r->offset + extra)); // an outgoing block in our frame
        return amd64_make_non_sib_memory_operand(RBP, (s32)(r->offset + extra));
    case REGISTER_KIND_CONSTANT_DATA: return amd64_make_rip_memory_operand((s32)(r->offset + extra), AMD64_DATA_CONSTANT);
    case REGISTER_KIND_TYPE_DATA: return amd64_make_rip_memory_operand((s32)(r->offset + extra), AMD64_DATA_TYPE);
    case REGISTER_KIND_GLOBAL_DATA: return amd64_make_rip_memory_operand((s32)(r->offset + extra), AMD64_DATA_GLOBAL);
    }
    return Amd64_Operand{};
}

static bool is_integer_size(u32 size) { return size == 1 || size == 2 || size == 4 || size == 8; }

// The operand an instruction names: the register's bytes, or with `through`
// the memory its value points to (the address goes into `scratch`).
static Amd64_Operand place(Amd64_Code *code, Scope *scope, Register_Id id, bool through, u8 scratch) {
    Amd64_Operand o = amd64_get_memory(scope, id);
    if (!through) return o;
    if (o.kind == AMD64_OPERAND_INTEGER) return amd64_make_non_sib_memory_operand(o.reg, 0); // the address is at hand
    amd64_mov(code, 8, amd64_gpr(scratch), o);
    return amd64_make_non_sib_memory_operand(scratch, 0);
}

// Integer value of `o` into `reg` (the full register, zero-extended).
static void load_integer(Amd64_Code *code, u32 size, u8 reg, Amd64_Operand o, bool is_signed) {
    if (o.kind == AMD64_OPERAND_FLOAT) {
        amd64_movq_from_xmm(code, size == 8 ? 8 : 4, amd64_gpr(reg), o.reg);
        return;
    }
    if (size == 8) amd64_mov(code, 8, amd64_gpr(reg), o);
    else if (is_signed) amd64_movsx(code, 8, reg, size, o);
    else amd64_movzx(code, 4, reg, size, o);
}

static void store_integer(Amd64_Code *code, u32 size, Amd64_Operand o, u8 reg) {
    if (o.kind == AMD64_OPERAND_FLOAT) amd64_movq_to_xmm(code, size == 8 ? 8 : 4, o.reg, amd64_gpr(reg));
    else if (o.kind == AMD64_OPERAND_INTEGER) amd64_mov(code, 8, o, amd64_gpr(reg)); // machine registers hold whole words
    else amd64_mov(code, size, o, amd64_gpr(reg));
}

// An integer held in an xmm register is worked on in `reg` instead.
static Amd64_Operand integer_operand(Amd64_Code *code, Amd64_Operand o, u32 size, u8 reg) {
    if (o.kind != AMD64_OPERAND_FLOAT) return o;
    amd64_movq_from_xmm(code, size == 8 ? 8 : 4, amd64_gpr(reg), o.reg);
    return amd64_gpr(reg);
}

static Amd64_Operand offset_operand(Amd64_Operand o, u32 by) {
    o.displacement += (s32)by;
    amd64_recalculate_memory_operand(&o);
    return o;
}

// Block copies in the widest pieces that fit (up to `widest`), through rax.
static void copy_in_pieces(Amd64_Code *code, Amd64_Operand destination, Amd64_Operand source, u32 size, u32 widest) {
    if (destination.kind != AMD64_OPERAND_MEMORY || source.kind != AMD64_OPERAND_MEMORY) {
        load_integer(code, size, RAX, source, false);
        store_integer(code, size, destination, RAX);
        return;
    }
    u32 done = 0;
    for (u32 piece = widest; piece; piece /= 2) {
        while (size - done >= piece) {
            amd64_mov(code, piece, amd64_gpr(RAX), offset_operand(source, done));
            amd64_mov(code, piece, offset_operand(destination, done), amd64_gpr(RAX));
            done += piece;
        }
    }
}

void amd64_copy_data(Amd64_Code *code, Amd64_Operand destination, Amd64_Operand source, u32 size) {
    copy_in_pieces(code, destination, source, size, 8);
}

// A record is copied in pieces no wider than its alignment: its fields were
// likely just stored one by one, and a load wider than the stores it reads
// cannot take their bytes from the store buffer (it waits for them to retire).
static void copy_record(Amd64_Code *code, Register_Id id, Amd64_Operand destination, Amd64_Operand source, u32 size) {
    Register *r = get_register(nullptr, id);
    u32 widest = 8;
    if (r && r->alignment && r->alignment < 8 && r->alignment < size) widest = r->alignment < 4 ? 4 : r->alignment;
    copy_in_pieces(code, destination, source, size, widest);
}

// [SECTION] Frames

// The registers kept across every call of the frame that starts at `index`.
static bool call_masks(Dynamic_Array *bytecode, u32 index, u16 *integer_mask, u16 *float_mask) {
    bool foreign = false;
    *integer_mask = *float_mask = 0;
    Bytecode_Instruction *push = dynamic_array_at<Bytecode_Instruction>(bytecode, index);
    for (u32 i = index + 1; i < bytecode->count; i++) {
        Bytecode_Instruction *b = dynamic_array_at<Bytecode_Instruction>(bytecode, i);
        if (b->opcode == BC_POP_STACK_FRAME && b->operands[0].reference == push->operands[0].reference) break;
        if (b->opcode == BC_FOREIGN_CALL) {
            foreign = true;
            *integer_mask |= b->integer_mask;
            *float_mask |= b->float_mask;
        }
    }
    return foreign;
}

static void push_frame(Amd64_Translation *t, u32 index, Bytecode_Instruction *b) {
    Scope *scope = (Scope *)b->operands[0].reference;
    bool is_entry = scope && (scope->flags & SCOPE_ENTRY_POINT);
    u16 call_integer, call_float;
    bool foreign = call_masks(t->bytecode, index, &call_integer, &call_float);
    // Entry blocks are entered through tarno_amd64_enter, which keeps the
    // callee-saved registers; a sub-program keeps everything it uses, rbp included.
    u16 saved_integer = is_entry ? 0 : (u16)(b->integer_mask | (1 << RBP));
    u16 saved_float = is_entry ? 0 : b->float_mask;
    // A foreign routine may change every caller-saved register, also those the
    // sub-program's callers keep their values in.
    if (!is_entry && foreign) {
        saved_integer |= AMD64_CALLER_SAVED_INTEGER_MASK & 0xFF00;
        saved_float |= 0xFFFC;
    }
    amd64_frame_layout(&t->frame, b->size, saved_integer, saved_float, call_integer, call_float, is_entry);
    amd64_push_stack_frame(t->code, &t->frame);
}

// [SECTION] Jumps

static void add_jump(Amd64_Translation *t, Amd64_Emitted e, u64 target) {
    Amd64_Jump_Relocation *r = (Amd64_Jump_Relocation *)dynamic_array_add(&t->code->jump_relocations);
    r->target = target;
    r->displacement_position = e.displacement_position;
    r->end = e.end;
    r->extra = 0;
}

static Amd64_Condition jump_condition(u8 opcode, bool is_signed) {
    switch (opcode) {
    case BC_JUMP_EQ: case BC_JUMP_ZE: return CC_E;
    case BC_JUMP_NE: case BC_JUMP_NZ: return CC_NE;
    case BC_JUMP_LT: return is_signed ? CC_L : CC_B;
    case BC_JUMP_LE: return is_signed ? CC_LE : CC_BE;
    case BC_JUMP_GT: return is_signed ? CC_G : CC_A;
    default: return is_signed ? CC_GE : CC_AE;
    }
}

static bool comparison_condition(u64 op, bool is_signed, Amd64_Condition *out) {
    switch (op) {
    case OP_EQUAL: *out = CC_E; return true;
    case OP_NOT_EQUAL: *out = CC_NE; return true;
    case OP_LESS: *out = is_signed ? CC_L : CC_B; return true;
    case OP_LESS_OR_EQUAL: *out = is_signed ? CC_LE : CC_BE; return true;
    case OP_GREATER: *out = is_signed ? CC_G : CC_A; return true;
    case OP_GREATER_OR_EQUAL: *out = is_signed ? CC_GE : CC_AE; return true;
    }
    return false;
}

// [SECTION] Arithmetic

// [SECTION] Floats, casts and addresses

static void load_float(Amd64_Code *code, u32 size, u8 xmm, Amd64_Operand o) {
    if (o.kind == AMD64_OPERAND_INTEGER) amd64_movq_to_xmm(code, size, xmm, o);
    else if (o.kind == AMD64_OPERAND_FLOAT) { if (o.reg != xmm) amd64_movaps(code, xmm, o.reg); }
    else amd64_movs(code, size, amd64_xmm(xmm), o);
}

static void store_float(Amd64_Code *code, u32 size, Amd64_Operand o, u8 xmm) {
    if (o.kind == AMD64_OPERAND_INTEGER) amd64_movq_from_xmm(code, size, o, xmm);
    else if (o.kind == AMD64_OPERAND_FLOAT) { if (o.reg != xmm) amd64_movaps(code, o.reg, xmm); }
    else amd64_movs(code, size, o, amd64_xmm(xmm));
}

static void load_float_constant(Amd64_Code *code, u32 size, u8 xmm, f64 value) {
    u64 bits;
    if (size == 4) {
        f32 f = (f32)value;
        u32 b32;
        memcpy(&b32, &f, 4);
        bits = b32;
    } else {
        memcpy(&bits, &value, 8);
    }
    amd64_mov_immediate(code, 8, amd64_gpr(RAX), bits);
    amd64_movq_to_xmm(code, size, xmm, amd64_gpr(RAX));
}

// xmm `destination` op= `source` (an xmm register or memory).
static bool float_operation(Amd64_Code *code, u64 op, u32 size, u8 destination, Amd64_Operand source) {
    Amd64_Float_Op f;
    switch (op) {
    case OP_ADD: f = FOP_ADD; break;
    case OP_SUBTRACT: f = FOP_SUB; break;
    case OP_MULTIPLY: f = FOP_MUL; break;
    case OP_DIVIDE: f = FOP_DIV; break;
    default: return false;
    }
    amd64_float_op(code, f, size, destination, source);
    return true;
}

// A float operand an SSE instruction can read: xmm registers and memory as
// they are, bits held in a general register through `xmm`.
static Amd64_Operand float_source(Amd64_Code *code, u32 size, Amd64_Operand o, u8 xmm) {
    if (o.kind != AMD64_OPERAND_INTEGER) return o;
    amd64_movq_to_xmm(code, size, xmm, o);
    return amd64_xmm(xmm);
}

// xmm0 <- rax, an unsigned 64-bit integer: halve values above 2^63 (keeping
// the low bit for rounding), convert, and double.
static void unsigned_to_float(Amd64_Code *code, u32 size) {
    amd64_test(code, 8, amd64_gpr(RAX), RAX);
    Amd64_Emitted small = amd64_jcc_rel32(code, CC_NS);
    amd64_mov(code, 8, amd64_gpr(RCX), amd64_gpr(RAX));
    amd64_shift_immediate(code, SHIFT_SHR, 8, amd64_gpr(RCX), 1);
    amd64_alu_immediate(code, ALU_AND, 4, amd64_gpr(RAX), 1);
    amd64_alu(code, ALU_OR, 8, amd64_gpr(RCX), amd64_gpr(RAX));
    amd64_cvtsi2s(code, size, 0, 8, amd64_gpr(RCX));
    amd64_float_op(code, FOP_ADD, size, 0, amd64_xmm(0));
    Amd64_Emitted done = amd64_jmp_rel32(code);
    amd64_patch_rel32(code, small.displacement_position, small.end, amd64_code_position(code));
    amd64_cvtsi2s(code, size, 0, 8, amd64_gpr(RAX));
    amd64_patch_rel32(code, done.displacement_position, done.end, amd64_code_position(code));
}

// al <- (xmm0 != 0.0), NaN counting as true.
static void float_is_not_zero(Amd64_Code *code, u32 size) {
    amd64_xorps(code, 1, 1);
    amd64_ucomis(code, size, 0, amd64_xmm(1));
    amd64_setcc(code, CC_NE, amd64_gpr(RAX));
    amd64_setcc(code, CC_P, amd64_gpr(RCX));
    amd64_alu(code, ALU_OR, 1, amd64_gpr(RAX), amd64_gpr(RCX));
    amd64_movzx(code, 4, RAX, 1, amd64_gpr(RAX));
}

// The memory at base + index * scale (or + the constant index * scale), using
// the registers that hold base and index where they can; rcx and rax take the
// rest. A register index narrower than 8 bytes (index_size) is extended by
// its signedness first.
static Amd64_Operand element_operand(Amd64_Code *code, Amd64_Operand base, Amd64_Operand index, bool constant_index, u64 index_value,
                                     u64 scale, u32 index_size, bool index_signed) {
    u8 base_reg = RCX;
    if (base.kind == AMD64_OPERAND_INTEGER) base_reg = base.reg;
    else amd64_mov(code, 8, amd64_gpr(RCX), base);
    if (constant_index) {
        s64 offset = (s64)(index_value * scale);
        if (offset == (s32)offset) return amd64_make_memory_operand_from(base_reg, AMD64_NO_REGISTER, 1, (s32)offset);
        amd64_mov_immediate(code, 8, amd64_gpr(RAX), (u64)offset);
        return amd64_make_memory_operand_from(base_reg, RAX, 1, 0);
    }
    u8 index_reg = RAX;
    if (index.kind == AMD64_OPERAND_INTEGER && index_size == 8) index_reg = index.reg;
    else if (index_size >= 8 || !is_integer_size(index_size)) amd64_mov(code, 8, amd64_gpr(RAX), index);
    else if (index_signed) amd64_movsx(code, 8, RAX, index_size, index);
    else amd64_movzx(code, 4, RAX, index_size, index);
    if (scale == 1 || scale == 2 || scale == 4 || scale == 8) return amd64_make_memory_operand_from(base_reg, index_reg, (u8)scale, 0);
    amd64_imul_immediate(code, 8, RAX, amd64_gpr(index_reg), (s32)scale);
    return amd64_make_memory_operand_from(base_reg, RAX, 1, 0);
}

// [SECTION] One instruction

bool bytecode_instruction_to_amd64(Amd64_Translation *t, u32 index) {
    Amd64_Code *code = t->code;
    Bytecode_Instruction *b = dynamic_array_at<Bytecode_Instruction>(t->bytecode, index);
    Scope *scope = nullptr; // stack register ids carry their owner
    bool to_memory = b->flags & BC_FLAG_TO_MEMORY;
    bool from_memory = b->flags & BC_FLAG_FROM_MEMORY;
    bool is_signed = b->flags & BC_FLAG_SIGNED;
    u64 position = bytecode_position(index);
    switch (b->opcode) {
    case BC_PUSH_STACK_FRAME: push_frame(t, index, b); return true;
    case BC_POP_STACK_FRAME: amd64_pop_stack_frame(code, &t->frame); return true;
    case BC_COPY_ARGUMENTS_ADDRESS:
        amd64_copy_arguments_address(code);
        if (register_id_is_valid(b->operands[0].reg)) amd64_mov(code, 8, amd64_get_memory(scope, b->operands[0].reg), amd64_gpr(RAX));
        return true;
    case BC_RETURN: amd64_ret(code); return true;
    case BC_DEBUG_BREAK: amd64_int3(code); return true;
    case BC_EMBED_MACHINE_CODE: dynamic_array_append_bytes(&code->bytes, b->operands[0].reference, b->size); return true;
    case BC_JUMP: add_jump(t, amd64_jmp_rel32(code), b->operands[0].target); return true;
    case BC_JUMP_EQ: case BC_JUMP_NE: case BC_JUMP_LT: case BC_JUMP_LE:
    case BC_JUMP_GT: case BC_JUMP_GE: case BC_JUMP_NZ: case BC_JUMP_ZE: {
        // A conditional jump over a jump nobody else lands on: one jump on the
        // opposite condition (the codes pair up as n, n ^ 1).
        Amd64_Condition c = jump_condition(b->opcode, is_signed);
        u64 target = b->operands[0].target;
        if (index + 2 < t->bytecode->count && bytecode_index(target) == index + 2 && t->is_target && !t->is_target[index + 1]) {
            Bytecode_Instruction *next = dynamic_array_at<Bytecode_Instruction>(t->bytecode, index + 1);
            if (next->opcode == BC_JUMP) {
                c = (Amd64_Condition)(c ^ 1);
                target = next->operands[0].target;
                t->skip_next = true;
            }
        }
        add_jump(t, amd64_jcc_rel32(code, c), target);
        return true;
    }
    case BC_FOREIGN_CALL: {
        Amd64_Operand block = amd64_get_memory(scope, b->operands[1].reg);
        bool passes = (b->flags & BC_FLAG_PASSES_ARGUMENTS) && block.kind == AMD64_OPERAND_MEMORY;
        amd64_foreign_call(code, (u32)b->operands[0].constant, passes ? &block : nullptr, b->integer_mask, b->float_mask, &t->frame);
        return true;
    }
    case BC_CALL:
    case BC_CALL_INDIRECT: {
        if (b->flags & BC_FLAG_PASSES_ARGUMENTS) amd64_lea(code, RAX, amd64_get_memory(scope, b->operands[1].reg));
        if (b->opcode == BC_CALL) add_jump(t, amd64_call_rel32(code), position + b->operands[0].target);
        else amd64_call_indirect(code, amd64_get_memory(scope, b->operands[0].reg));
        return true;
    }
    case BC_SET_TO_ZERO: {
        Amd64_Operand d = place(code, scope, b->operands[0].reg, to_memory, RDX);
        amd64_alu(code, ALU_XOR, 4, amd64_gpr(RAX), amd64_gpr(RAX));
        if (d.kind != AMD64_OPERAND_MEMORY) {
            store_integer(code, 8, d, RAX);
            return true;
        }
        u32 done = 0;
        for (u32 piece = 8; piece; piece /= 2)
            for (; b->size - done >= piece; done += piece) amd64_mov(code, piece, offset_operand(d, done), amd64_gpr(RAX));
        return true;
    }
    case BC_COPY_CONSTANT:
    case BC_COPY_CONSTANT_TO_MEMORY: {
        if (!is_integer_size(b->size)) break;
        Amd64_Operand d = place(code, scope, b->operands[0].reg, b->opcode == BC_COPY_CONSTANT_TO_MEMORY || to_memory, RDX);
        u64 v = b->operands[1].constant;
        if (d.kind == AMD64_OPERAND_INTEGER) {
            amd64_mov_immediate(code, 8, d, v);
        } else if (d.kind == AMD64_OPERAND_MEMORY && (b->size < 8 || (s64)v == (s32)v)) {
            amd64_mov_immediate(code, b->size, d, v);
        } else {
            amd64_mov_immediate(code, 8, amd64_gpr(RAX), v);
            store_integer(code, b->size, d, RAX);
        }
        return true;
    }
    case BC_COPY:
    case BC_COPY_TO_MEMORY:
    case BC_COPY_CONSTANT_STRUCT:
    case BC_COPY_CONSTANT_STRUCT_TO_MEMORY: {
        bool destination_through = to_memory || b->opcode == BC_COPY_TO_MEMORY || b->opcode == BC_COPY_CONSTANT_STRUCT_TO_MEMORY;
        Amd64_Operand d = place(code, scope, b->operands[0].reg, destination_through, RDX);
        Amd64_Operand s = place(code, scope, b->operands[1].reg, from_memory, RCX);
        if (d.kind == AMD64_OPERAND_NONE || s.kind == AMD64_OPERAND_NONE) break;
        if (d.kind == AMD64_OPERAND_FLOAT && s.kind == AMD64_OPERAND_FLOAT) {
            if (d.reg != s.reg) amd64_movaps(code, d.reg, s.reg);
            return true;
        }
        if (d.kind != AMD64_OPERAND_MEMORY || s.kind != AMD64_OPERAND_MEMORY) {
            if (!is_integer_size(b->size)) break;
            if (d.kind == AMD64_OPERAND_INTEGER && s.kind == AMD64_OPERAND_INTEGER) amd64_mov(code, 8, d, s);
            else amd64_copy_data(code, d, s, b->size);
            return true;
        }
        copy_record(code, b->operands[1].reg, d, s, b->size);
        return true;
    }
    case BC_INT_ARITHMETIC:
    case BC_INT_ARITHMETIC_CONSTANT: {
        if (!is_integer_size(b->size)) break;
        bool constant = b->opcode == BC_INT_ARITHMETIC_CONSTANT;
        // rbx holds a destination address: divisions take rdx, shifts rcx.
        Amd64_Operand d = place(code, scope, b->operands[0].reg, to_memory, RBX);
        Amd64_Operand s = constant ? Amd64_Operand{} : integer_operand(code, place(code, scope, b->operands[2].reg, from_memory, RDI), b->size, RDI);
        Amd64_Operand working = integer_operand(code, d, b->size, RSI);
        if (!amd64_integer_arithmetic(code, b->operands[1].op, b->size, working, s, constant, b->operands[2].constant, is_signed)) break;
        if (working.reg != d.reg || working.kind != d.kind) store_integer(code, b->size, d, RSI);
        return true;
    }
    case BC_COMPARE:
    case BC_COMPARE_TO_CONSTANT:
    case BC_COMPARE_TO_ZERO:
    case BC_TEST_FLAGS:
    case BC_TEST_FLAGS_CONSTANT: {
        if (!is_integer_size(b->size)) break;
        Amd64_Operand a = integer_operand(code, place(code, scope, b->operands[0].reg, to_memory, RBX), b->size, RSI);
        bool with_register = b->opcode == BC_COMPARE || b->opcode == BC_TEST_FLAGS;
        Amd64_Operand other = with_register ? integer_operand(code, place(code, scope, b->operands[1].reg, from_memory, RDI), b->size, RDI) : Amd64_Operand{};
        u64 value = b->opcode == BC_COMPARE_TO_ZERO ? 0 : b->operands[1].constant;
        amd64_integer_compare(code, b->size, a, other, !with_register, value, b->opcode == BC_TEST_FLAGS || b->opcode == BC_TEST_FLAGS_CONSTANT);
        return true;
    }
    case BC_CAST_INT_TO_SMALL_INT:
    case BC_CAST_INT_TO_BIG_INT: {
        u32 source_size = (u32)b->operands[2].constant;
        if (!is_integer_size(b->size) || !is_integer_size(source_size)) break;
        Amd64_Operand s = place(code, scope, b->operands[1].reg, from_memory, RCX);
        load_integer(code, b->opcode == BC_CAST_INT_TO_SMALL_INT ? b->size : source_size, RAX, s, is_signed);
        store_integer(code, b->size, place(code, scope, b->operands[0].reg, to_memory, RDX), RAX);
        return true;
    }
    case BC_CAST_INT_TO_BOOL:
    case BC_MAKE_INT_BOOL: {
        u32 source_size = b->opcode == BC_MAKE_INT_BOOL ? b->size : (u32)b->operands[2].constant;
        if (!is_integer_size(source_size)) break;
        Register_Id source = b->opcode == BC_MAKE_INT_BOOL ? b->operands[0].reg : b->operands[1].reg;
        bool through = b->opcode == BC_MAKE_INT_BOOL ? to_memory : from_memory;
        load_integer(code, source_size, RAX, place(code, scope, source, through, RCX), false);
        amd64_test(code, 8, amd64_gpr(RAX), RAX);
        amd64_setcc(code, CC_NE, amd64_gpr(RAX));
        amd64_movzx(code, 4, RAX, 1, amd64_gpr(RAX));
        store_integer(code, b->opcode == BC_MAKE_INT_BOOL ? b->size : 1, place(code, scope, b->operands[0].reg, to_memory, RDX), RAX);
        return true;
    }
    case BC_CAST_INT_TO_FLOAT: {
        u32 source_size = (u32)b->operands[2].constant;
        if (!is_integer_size(source_size) || (b->size != 4 && b->size != 8)) break;
        load_integer(code, source_size, RAX, place(code, scope, b->operands[1].reg, from_memory, RCX), is_signed);
        if (source_size == 8 && !is_signed) unsigned_to_float(code, b->size);
        else amd64_cvtsi2s(code, b->size, 0, 8, amd64_gpr(RAX));
        store_float(code, b->size, place(code, scope, b->operands[0].reg, to_memory, RDX), 0);
        return true;
    }
    case BC_CAST_FLOAT_TO_INT: {
        u32 source_size = (u32)b->operands[2].constant;
        if (!is_integer_size(b->size) || (source_size != 4 && source_size != 8)) break;
        load_float(code, source_size, 0, place(code, scope, b->operands[1].reg, from_memory, RCX));
        amd64_cvtts2si(code, source_size, 8, RAX, amd64_xmm(0));
        store_integer(code, b->size, place(code, scope, b->operands[0].reg, to_memory, RDX), RAX);
        return true;
    }
    case BC_CAST_FLOAT_TO_SMALL_FLOAT:
    case BC_CAST_FLOAT_TO_BIG_FLOAT: {
        u32 source_size = (u32)b->operands[2].constant;
        load_float(code, source_size, 0, place(code, scope, b->operands[1].reg, from_memory, RCX));
        if (source_size != b->size) amd64_cvt_float(code, b->size, 0, amd64_xmm(0));
        store_float(code, b->size, place(code, scope, b->operands[0].reg, to_memory, RDX), 0);
        return true;
    }
    case BC_CAST_FLOAT_TO_BOOL:
    case BC_MAKE_FLOAT_BOOL: {
        u32 source_size = b->opcode == BC_MAKE_FLOAT_BOOL ? b->size : (u32)b->operands[2].constant;
        Register_Id source = b->opcode == BC_MAKE_FLOAT_BOOL ? b->operands[0].reg : b->operands[1].reg;
        load_float(code, source_size, 0, place(code, scope, source, b->opcode == BC_MAKE_FLOAT_BOOL ? to_memory : from_memory, RCX));
        float_is_not_zero(code, source_size);
        store_integer(code, 1, place(code, scope, b->operands[0].reg, to_memory, RDX), RAX);
        return true;
    }
    case BC_FLOAT_ARITHMETIC:
    case BC_FLOAT_ARITHMETIC_CONSTANT: {
        if (b->size != 4 && b->size != 8) break;
        Amd64_Operand d = place(code, scope, b->operands[0].reg, to_memory, RDX);
        Amd64_Operand s;
        if (b->opcode == BC_FLOAT_ARITHMETIC) {
            s = float_source(code, b->size, place(code, scope, b->operands[2].reg, from_memory, RCX), 1);
        } else {
            load_float_constant(code, b->size, 1, b->operands[2].real);
            s = amd64_xmm(1);
        }
        if (d.kind == AMD64_OPERAND_FLOAT) { // in place: op xmm, xmm/m
            if (!float_operation(code, b->operands[1].op, b->size, d.reg, s)) break;
            return true;
        }
        load_float(code, b->size, 0, d);
        if (!float_operation(code, b->operands[1].op, b->size, 0, s)) break;
        store_float(code, b->size, d, 0);
        return true;
    }
    case BC_FLOAT_COMPARE:
    case BC_FLOAT_COMPARE_TO_CONSTANT:
    case BC_FLOAT_COMPARE_TO_ZERO: {
        if (b->size != 4 && b->size != 8) break;
        Amd64_Operand other = amd64_xmm(1);
        if (b->opcode == BC_FLOAT_COMPARE) other = float_source(code, b->size, place(code, scope, b->operands[1].reg, from_memory, RCX), 1);
        else if (b->opcode == BC_FLOAT_COMPARE_TO_CONSTANT) load_float_constant(code, b->size, 1, b->operands[1].real);
        else amd64_xorps(code, 1, 1);
        Amd64_Operand a = place(code, scope, b->operands[0].reg, to_memory, RDX);
        if (a.kind != AMD64_OPERAND_FLOAT) {
            load_float(code, b->size, 0, a);
            a = amd64_xmm(0);
        }
        amd64_ucomis(code, b->size, a.reg, other);
        return true;
    }
    case BC_TAKE_ADDRESS: {
        Amd64_Operand s = amd64_get_memory(scope, b->operands[1].reg);
        if (s.kind != AMD64_OPERAND_MEMORY) break;
        amd64_lea(code, RAX, s);
        store_integer(code, 8, place(code, scope, b->operands[0].reg, to_memory, RDX), RAX);
        return true;
    }
    case BC_CALCULATE_ADDRESS:
    case BC_CALCULATE_ADDRESS_CONSTANT:
    case BC_MEMORY_DEREFERENCE:
    case BC_MEMORY_DEREFERENCE_CONSTANT: {
        bool constant = b->opcode == BC_CALCULATE_ADDRESS_CONSTANT || b->opcode == BC_MEMORY_DEREFERENCE_CONSTANT;
        Amd64_Operand element = element_operand(code, place(code, scope, b->operands[1].reg, from_memory, RDI),
                                                constant ? Amd64_Operand{} : amd64_get_memory(scope, b->operands[2].reg), constant,
                                                b->operands[2].constant, b->operands[3].constant,
                                                constant ? 8 : get_register_size(scope, b->operands[2].reg), is_signed);
        Amd64_Operand d = place(code, scope, b->operands[0].reg, to_memory, RDX);
        if (b->opcode == BC_CALCULATE_ADDRESS || b->opcode == BC_CALCULATE_ADDRESS_CONSTANT) {
            if (d.kind == AMD64_OPERAND_INTEGER) {
                amd64_lea(code, d.reg, element); // REX.W 8D /r: lea d, [base + index * scale]
            } else {
                amd64_lea(code, RCX, element);
                store_integer(code, 8, d, RCX);
            }
            return true;
        }
        if (element.index == RAX && d.kind == AMD64_OPERAND_MEMORY) { // block copies go through rax
            amd64_lea(code, RCX, element);
            element = amd64_make_non_sib_memory_operand(RCX, 0);
        }
        if (d.kind == AMD64_OPERAND_FLOAT) load_float(code, b->size == 4 ? 4 : 8, d.reg, element);
        else if (d.kind == AMD64_OPERAND_INTEGER && !is_integer_size(b->size)) break;
        else amd64_copy_data(code, d, element, b->size);
        return true;
    }
    case BC_MEMCMP:
    case BC_COMPARE_MEMORY_TO_CONSTANT: {
        // repe cmpsb over [rsi] and [rdi]; zero bytes leave the zero flag
        // that the xor set, so empty blocks compare equal.
        amd64_mov(code, 8, amd64_gpr(RSI), amd64_get_memory(scope, b->operands[0].reg));
        if (b->opcode == BC_MEMCMP) {
            amd64_mov(code, 8, amd64_gpr(RDI), amd64_get_memory(scope, b->operands[1].reg));
            amd64_mov(code, 8, amd64_gpr(RCX), amd64_get_memory(scope, b->operands[2].reg));
        } else {
            Amd64_Operand constant = amd64_get_memory(scope, b->operands[1].reg);
            if (constant.kind != AMD64_OPERAND_MEMORY) break;
            amd64_lea(code, RDI, constant);
            amd64_mov_immediate(code, 8, amd64_gpr(RCX), b->size);
        }
        amd64_alu(code, ALU_XOR, 4, amd64_gpr(RAX), amd64_gpr(RAX));
        const u8 repe_cmpsb[] = {0xF3, 0xA6}; // F3 A6: repe cmpsb
        dynamic_array_append_bytes(&code->bytes, repe_cmpsb, 2);
        return true;
    }
    case BC_COPY_SUB_PROGRAM_ADDRESS: {
        Amd64_Instruction lea = amd64_instruction(0x8D); // REX.W 8D /r: lea rax, [rip + rel32] to the callee
        lea.rex_w = true;
        lea.has_modrm = true;
        lea.reg = RAX;
        lea.rm = amd64_make_rip_memory_operand(0, AMD64_DATA_NONE);
        add_jump(t, amd64_insert_instruction(code, &lea), position + b->operands[2].target);
        store_integer(code, 8, place(code, scope, b->operands[0].reg, to_memory, RDX), RAX);
        return true;
    }
    case BC_STORE_CMP_RESULT: {
        Amd64_Condition c;
        if (!comparison_condition(b->operands[1].op, is_signed, &c)) break;
        amd64_setcc(code, c, amd64_gpr(RAX));
        amd64_movzx(code, 4, RAX, 1, amd64_gpr(RAX));
        store_integer(code, 1, place(code, scope, b->operands[0].reg, to_memory, RDX), RAX);
        return true;
    }
    }
    t->failed_opcode = b->opcode;
    return false;
}

// Every instruction something jumps or calls to, or the program enters at.
static void mark_jump_targets(Dynamic_Array *bytecode, const u64 entry_positions[3], bool *is_target) {
    u32 count = bytecode->count;
    auto mark = [&](u64 position) {
        u32 i = bytecode_index(position);
        if (i <= count) is_target[i] = true;
    };
    for (u32 e = 0; e < 3; e++) mark(entry_positions[e]);
    for (u32 i = 0; i < count; i++) {
        Bytecode_Instruction *b = dynamic_array_at<Bytecode_Instruction>(bytecode, i);
        switch (b->opcode) {
        case BC_JUMP: case BC_JUMP_EQ: case BC_JUMP_NE: case BC_JUMP_LT: case BC_JUMP_LE:
        case BC_JUMP_GT: case BC_JUMP_GE: case BC_JUMP_NZ: case BC_JUMP_ZE: mark(b->operands[0].target); break;
        case BC_CALL: mark(bytecode_position(i) + b->operands[0].target); break;
        case BC_COPY_SUB_PROGRAM_ADDRESS: mark(bytecode_position(i) + b->operands[2].target); break;
        }
    }
}

bool amd64_translate_bytecode(Dynamic_Array *bytecode, Amd64_Code *code, u64 entry_positions[3], u32 *failed_opcode) {
    Amd64_Translation t = {};
    t.code = code;
    t.bytecode = bytecode;
    dynamic_array_init(&t.positions, sizeof(u32), bytecode->count + 1);
    t.is_target = (bool *)calloc(bytecode->count + 1, 1);
    mark_jump_targets(bytecode, entry_positions, t.is_target);
    bool ok = true;
    for (u32 i = 0; ok && i < bytecode->count; i++) {
        *(u32 *)dynamic_array_add(&t.positions) = amd64_code_position(code);
        if (t.skip_next) {
            t.skip_next = false;
            continue;
        }
        ok = bytecode_instruction_to_amd64(&t, i);
    }
    *(u32 *)dynamic_array_add(&t.positions) = amd64_code_position(code);
    if (ok) {
        for (u32 i = 0; i < code->jump_relocations.count; i++) {
            Amd64_Jump_Relocation *r = dynamic_array_at<Amd64_Jump_Relocation>(&code->jump_relocations, i);
            u32 target = bytecode_index(r->target);
            if (target > bytecode->count) {
                ok = false;
                break;
            }
            amd64_patch_rel32(code, r->displacement_position, r->end, *dynamic_array_at<u32>(&t.positions, target));
        }
        for (u32 e = 0; e < 3; e++) {
            u32 target = bytecode_index(entry_positions[e]);
            entry_positions[e] = target <= bytecode->count ? *dynamic_array_at<u32>(&t.positions, target) : 0;
        }
    }
    if (failed_opcode) *failed_opcode = t.failed_opcode;
    free(t.is_target);
    dynamic_array_free(&t.positions);
    return ok;
}
