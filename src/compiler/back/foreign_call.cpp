// Frames, register saving and the foreign-call sequence.
#include "compiler/back/foreign_call.h"

static u32 count_bits(u16 mask) { return (u32)__builtin_popcount(mask); }

u32 amd64_spill_size(u16 integer_mask, u16 float_mask) {
    return count_bits(integer_mask) * 8 + count_bits(float_mask) * AMD64_FLOAT_SAVE_SIZE;
}

void amd64_frame_layout(Amd64_Frame *f, u32 frame_size, u16 saved_integer_mask, u16 saved_float_mask,
                        u16 call_integer_mask, u16 call_float_mask, bool is_entry_block) {
    f->frame_size = frame_size;
    f->saved_integer_mask = saved_integer_mask;
    f->saved_float_mask = saved_float_mask;
    f->call_save_offset = (frame_size + 7) & ~7u;
    f->saved_offset = f->call_save_offset + amd64_spill_size(call_integer_mask & AMD64_CALLER_SAVED_INTEGER_MASK, call_float_mask);
    u32 total = f->saved_offset + amd64_spill_size(saved_integer_mask, saved_float_mask);
    total = (total + 15) & ~15u;
    if (!is_entry_block) total += 8;
    f->total = total;
}

static void spill_one(Amd64_Code *code, bool save, bool is_float, u8 reg, u32 offset) {
    Amd64_Operand slot = amd64_make_sib_memory_operand(RSP, (s32)offset);
    if (is_float) {
        if (save) amd64_vmovdqu_store(code, slot, reg); // VEX.256.F3.0F 7F: vmovdqu [rsp + offset], ymm
        else amd64_vmovdqu_load(code, reg, slot);       // VEX.256.F3.0F 6F: vmovdqu ymm, [rsp + offset]
    } else {
        if (save) amd64_mov(code, 8, slot, amd64_gpr(reg)); // REX.W 89: mov [rsp + offset], r64
        else amd64_mov(code, 8, amd64_gpr(reg), slot);      // REX.W 8B: mov r64, [rsp + offset]
    }
}

void amd64_big_spill(Amd64_Code *code, bool save, u16 integer_mask, u16 float_mask, u16 keep_integer_mask,
                     u16 keep_float_mask, u32 offset) {
    integer_mask &= (u16)~keep_integer_mask;
    float_mask &= (u16)~keep_float_mask;
    for (int r = 15; r >= 0; r--) {
        if (!(integer_mask & (1u << r))) continue;
        spill_one(code, save, false, (u8)r, offset);
        offset += 8;
    }
    for (int r = 15; r >= 0; r--) {
        if (!(float_mask & (1u << r))) continue;
        spill_one(code, save, true, (u8)r, offset);
        offset += AMD64_FLOAT_SAVE_SIZE;
    }
}

static void rsp_immediate32(Amd64_Code *code, u8 digit, u32 value) {
    Amd64_Instruction in = amd64_instruction(0x81); // REX.W 81 /5 id: sub rsp, imm32 (/0: add)
    in.rex_w = true;
    in.has_modrm = true;
    in.reg = digit;
    in.reg_is_extension = true;
    in.rm = amd64_gpr(RSP);
    in.immediate_size = 4;
    in.immediate = value;
    amd64_insert_instruction(code, &in);
}

void amd64_push_stack_frame(Amd64_Code *code, const Amd64_Frame *f) {
    if (f->total) rsp_immediate32(code, 5, f->total); // 48 81 EC id
    amd64_big_spill(code, true, f->saved_integer_mask, f->saved_float_mask, 0, 0, f->saved_offset);
}

void amd64_pop_stack_frame(Amd64_Code *code, const Amd64_Frame *f) {
    amd64_big_spill(code, false, f->saved_integer_mask, f->saved_float_mask, 0, 0, f->saved_offset);
    if (f->total) rsp_immediate32(code, 0, f->total); // 48 81 C4 id
}

void amd64_copy_arguments_address(Amd64_Code *code) {
    Amd64_Instruction in = amd64_instruction(0x8B); // 48 8B E8: mov rbp, rax
    in.rex_w = true;
    in.has_modrm = true;
    in.reg = RBP;
    in.rm = amd64_gpr(RAX);
    amd64_insert_instruction(code, &in);
}

static void rsp_by_8(Amd64_Code *code, u8 digit) {
    Amd64_Instruction in = amd64_instruction(0x83); // 48 83 EC 08: sub rsp, 8 (/0 C4: add)
    in.rex_w = true;
    in.has_modrm = true;
    in.reg = digit;
    in.reg_is_extension = true;
    in.rm = amd64_gpr(RSP);
    in.immediate_size = 1;
    in.immediate = 8;
    amd64_insert_instruction(code, &in);
}

void amd64_foreign_call(Amd64_Code *code, u32 routine_id, const Amd64_Operand *block, u16 live_integer_mask,
                        u16 live_float_mask, const Amd64_Frame *frame) {
    u16 keep = (u16)~AMD64_CALLER_SAVED_INTEGER_MASK; // the callee keeps these itself
    amd64_big_spill(code, true, live_integer_mask, live_float_mask, keep, 0, frame->call_save_offset);
    if (block) amd64_lea(code, RDI, *block);                 // REX.W 8D /r: lea rdi, [block]
    else amd64_alu(code, ALU_XOR, 4, amd64_gpr(RDI), amd64_gpr(RDI)); // 31 FF: xor edi, edi
    Amd64_Instruction id = amd64_instruction(0xC7);          // 48 C7 C6 id: mov rsi, imm32
    id.rex_w = true;
    id.has_modrm = true;
    id.reg_is_extension = true;
    id.rm = amd64_gpr(RSI);
    id.immediate_size = 4;
    id.immediate = routine_id;
    amd64_insert_instruction(code, &id);
    u32 immediate;
    amd64_movabs(code, RAX, 0, &immediate);                  // 48 B8 io: mov rax, handle_foreign_call
    *(u64 *)dynamic_array_add(&code->foreign_relocations) = immediate;
    rsp_by_8(code, 5);
    Amd64_Instruction call = amd64_instruction(0xFF);        // 48 FF D0: call rax
    call.rex_w = true;
    call.has_modrm = true;
    call.reg = 2;
    call.reg_is_extension = true;
    call.rm = amd64_gpr(RAX);
    amd64_insert_instruction(code, &call);
    rsp_by_8(code, 0);
    amd64_big_spill(code, false, live_integer_mask, live_float_mask, keep, 0, frame->call_save_offset);
}
