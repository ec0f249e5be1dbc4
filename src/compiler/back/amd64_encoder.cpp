// The two instruction encoders and the memory operand builders.
#include "compiler/back/amd64.h"

// [SECTION] Memory operands

bool amd64_check_wether_we_need_an_offset(const Amd64_Operand *o) {
    if (o->rip_relative || o->displacement != 0) return true;
    return o->base != AMD64_NO_REGISTER && (o->base & 7) == RBP;
}

void amd64_prepare_sib(Amd64_Operand *o) {
    u8 scale_bits = o->scale == 8 ? 3 : o->scale == 4 ? 2 : o->scale == 2 ? 1 : 0;
    u8 index = o->index == AMD64_NO_REGISTER ? (u8)RSP : o->index; // index 100: none
    o->sib = (u8)(scale_bits << 6 | (index & 7) << 3 | (o->base & 7));
}

void amd64_recalculate_memory_operand(Amd64_Operand *o) {
    o->kind = AMD64_OPERAND_MEMORY;
    if (o->rip_relative) {
        o->has_sib = false;
        o->modrm = 0x05; // mod 00 rm 101: [rip + disp32]
        return;
    }
    u8 mod = 0;
    if (amd64_check_wether_we_need_an_offset(o)) mod = (o->displacement >= -128 && o->displacement <= 127) ? 1 : 2;
    // rsp and r12 as a base can only be written through a SIB byte.
    if (o->index != AMD64_NO_REGISTER || (o->base & 7) == RSP) o->has_sib = true;
    if (o->has_sib) {
        amd64_prepare_sib(o);
        o->modrm = (u8)(mod << 6 | RSP); // rm 100: a SIB follows
    } else {
        o->modrm = (u8)(mod << 6 | (o->base & 7));
    }
}

static Amd64_Operand memory(u8 base, u8 index, u8 scale, s32 displacement, bool sib) {
    Amd64_Operand o = {};
    o.base = base;
    o.index = index;
    o.scale = scale ? scale : 1;
    o.displacement = displacement;
    o.has_sib = sib;
    amd64_recalculate_memory_operand(&o);
    return o;
}

Amd64_Operand amd64_make_non_sib_memory_operand(u8 base, s32 displacement) {
    return memory(base, AMD64_NO_REGISTER, 1, displacement, false);
}
Amd64_Operand amd64_make_sib_memory_operand(u8 base, s32 displacement) {
    return memory(base, AMD64_NO_REGISTER, 1, displacement, true);
}
Amd64_Operand amd64_make_full_sib_memory_operand(u8 base, u8 index, u8 scale, s32 displacement) {
    return memory(base, index, scale, displacement, true);
}
Amd64_Operand amd64_make_rip_memory_operand(s32 displacement, u8 data_tag) {
    Amd64_Operand o = {};
    o.rip_relative = true;
    o.base = AMD64_NO_REGISTER;
    o.index = AMD64_NO_REGISTER;
    o.scale = 1;
    o.data_tag = data_tag;
    o.displacement = displacement;
    amd64_recalculate_memory_operand(&o);
    return o;
}
Amd64_Operand amd64_make_memory_operand_from(u8 base, u8 index, u8 scale, s32 displacement) {
    if (index == AMD64_NO_REGISTER) return amd64_make_non_sib_memory_operand(base, displacement);
    return amd64_make_full_sib_memory_operand(base, index, scale, displacement);
}

// [SECTION] Code buffer

void amd64_code_init(Amd64_Code *code) {
    dynamic_array_init(&code->bytes, 1, 4096);
    dynamic_array_init(&code->data_references, sizeof(Amd64_Data_Reference), 64);
    dynamic_array_init(&code->jump_relocations, sizeof(Amd64_Jump_Relocation), 64);
    dynamic_array_init(&code->foreign_relocations, sizeof(u64), 16);
}

void amd64_code_free(Amd64_Code *code) {
    dynamic_array_free(&code->bytes);
    dynamic_array_free(&code->data_references);
    dynamic_array_free(&code->jump_relocations);
    dynamic_array_free(&code->foreign_relocations);
}

// [SECTION] Legacy encoder

Amd64_Instruction amd64_instruction(u8 opcode) {
    Amd64_Instruction in = {};
    in.opcode_count = 1;
    in.opcode[0] = opcode;
    in.opcode_register = AMD64_NO_REGISTER;
    return in;
}

static bool needs_rex_for_byte(u8 reg) { return reg >= 4 && reg <= 7; } // spl, bpl, sil, dil

static u32 displacement_bytes(const Amd64_Operand *rm) {
    if (rm->kind != AMD64_OPERAND_MEMORY) return 0;
    u8 mod = rm->modrm >> 6;
    if (rm->rip_relative || mod == 2) return 4;
    return mod == 1 ? 1 : 0;
}

// ModRM (with `reg` in its reg field), SIB and displacement of a memory
// operand; a 32-bit displacement's place is kept for relocation.
static u8 *put_memory_operand(u8 *p, const u8 *begin, const Amd64_Operand *rm, u8 reg, Amd64_Emitted *out) {
    *p++ = (u8)(rm->modrm | (reg & 7) << 3);
    if (rm->has_sib) *p++ = rm->sib;
    u32 d = displacement_bytes(rm);
    if (d == 4) {
        out->displacement_position = out->start + (u32)(p - begin);
        memcpy(p, &rm->displacement, 4);
    } else if (d == 1) {
        *p = (u8)(s8)rm->displacement;
    }
    return p + d;
}

// A RIP-relative operand on tagged data is recorded, so the image can make it
// relative to wherever the data ends up; `extra` is the bytes after the displacement.
static void note_data_reference(Amd64_Code *code, const Amd64_Operand *rm, const Amd64_Emitted *out, u8 extra) {
    if (!rm->rip_relative || !rm->data_tag) return;
    Amd64_Data_Reference *r = (Amd64_Data_Reference *)dynamic_array_add(&code->data_references);
    r->displacement_position = out->displacement_position;
    r->extra = extra;
    r->data_tag = rm->data_tag;
}

Amd64_Emitted amd64_insert_instruction(Amd64_Code *code, const Amd64_Instruction *in) {
    const Amd64_Operand *rm = &in->rm;
    bool memory_rm = in->has_modrm && rm->kind == AMD64_OPERAND_MEMORY;
    u8 rex = 0;
    if (in->rex_w) rex |= 0x08;                                  // REX.W: 64-bit operand
    if (in->has_modrm && (in->reg & 8)) rex |= 0x04;             // REX.R: ModRM.reg high bit
    if (memory_rm && rm->has_sib && rm->index != AMD64_NO_REGISTER && (rm->index & 8)) rex |= 0x02; // REX.X
    if (memory_rm && !rm->rip_relative && (rm->base & 8)) rex |= 0x01;                            // REX.B
    if (in->has_modrm && !memory_rm && (rm->reg & 8)) rex |= 0x01;
    if (in->opcode_register != AMD64_NO_REGISTER && (in->opcode_register & 8)) rex |= 0x01;
    bool force_rex = false;
    if (in->byte_registers) {
        if (in->has_modrm && !in->reg_is_extension && needs_rex_for_byte(in->reg)) force_rex = true;
        if (in->has_modrm && !memory_rm && needs_rex_for_byte(rm->reg)) force_rex = true;
        if (in->opcode_register != AMD64_NO_REGISTER && needs_rex_for_byte(in->opcode_register)) force_rex = true;
    }
    u32 length = (in->operand_size_prefix ? 1 : 0) + (in->mandatory_prefix ? 1 : 0) + ((rex || force_rex) ? 1 : 0) +
                 in->opcode_count;
    if (in->has_modrm) length += 1 + (memory_rm && rm->has_sib ? 1 : 0) + (in->has_modrm ? displacement_bytes(rm) : 0);
    length += in->immediate_size;

    Amd64_Emitted out = {};
    out.start = code->bytes.count;
    u8 *p = (u8 *)dynamic_array_add_fast_multiple(&code->bytes, length);
    u8 *begin = p;
    if (in->operand_size_prefix) *p++ = in->operand_size_prefix;
    if (in->mandatory_prefix) *p++ = in->mandatory_prefix;
    if (rex || force_rex) *p++ = (u8)(0x40 | rex);
    for (u32 i = 0; i < in->opcode_count; i++) *p++ = in->opcode[i];
    if (in->opcode_register != AMD64_NO_REGISTER) p[-1] = (u8)(p[-1] + (in->opcode_register & 7));
    if (in->has_modrm) {
        if (memory_rm) {
            p = put_memory_operand(p, begin, rm, in->reg, &out);
        } else {
            *p++ = (u8)(0xC0 | (in->reg & 7) << 3 | (rm->reg & 7)); // mod 11: register direct
        }
    }
    if (in->immediate_size) {
        out.immediate_position = out.start + (u32)(p - begin);
        memcpy(p, &in->immediate, in->immediate_size);
        p += in->immediate_size;
    }
    out.end = out.start + length;
    if (memory_rm) note_data_reference(code, rm, &out, in->immediate_size);
    return out;
}

// [SECTION] VEX encoder

Amd64_Emitted amd64_insert_extended_instruction(Amd64_Code *code, const Amd64_Vex_Instruction *in) {
    const Amd64_Operand *rm = &in->rm;
    bool memory_rm = rm->kind == AMD64_OPERAND_MEMORY;
    bool r = in->reg & 8;
    bool x = memory_rm && rm->has_sib && rm->index != AMD64_NO_REGISTER && (rm->index & 8);
    bool b = memory_rm ? (!rm->rip_relative && (rm->base & 8)) : (rm->reg & 8);
    // The two-byte form (C5) carries only R; X, B, W and maps other than 0F need C4.
    bool two_byte = !x && !b && !in->w && in->map == 1;
    u32 length = (two_byte ? 2 : 3) + 1 + 1 + (memory_rm && rm->has_sib ? 1 : 0) + displacement_bytes(rm);
    Amd64_Emitted out = {};
    out.start = code->bytes.count;
    u8 *p = (u8 *)dynamic_array_add_fast_multiple(&code->bytes, length);
    u8 *begin = p;
    u8 tail = (u8)((~in->vvvv & 15) << 3 | (in->l256 ? 4 : 0) | (in->pp & 3)); // vvvv inverted, L, pp
    if (two_byte) {
        *p++ = 0xC5;
        *p++ = (u8)((r ? 0 : 0x80) | tail); // R inverted
    } else {
        *p++ = 0xC4;
        *p++ = (u8)((r ? 0 : 0x80) | (x ? 0 : 0x40) | (b ? 0 : 0x20) | (in->map & 31)); // R X B inverted, mmmmm
        *p++ = (u8)((in->w ? 0x80 : 0) | tail);
    }
    *p++ = in->opcode;
    if (memory_rm) {
        p = put_memory_operand(p, begin, rm, in->reg, &out);
        note_data_reference(code, rm, &out, 0);
    } else {
        *p++ = (u8)(0xC0 | (in->reg & 7) << 3 | (rm->reg & 7));
    }
    out.end = out.start + length;
    return out;
}
