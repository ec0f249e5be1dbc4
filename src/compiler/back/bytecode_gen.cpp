// Lowering IR into bytecode, one register-owning scope at a time:
//   1. lifetimes: number the instructions in lowering order (nested scopes in
//      place), record each register's first and last use, the span of every
//      backward jump and the calls;
//   2. allocation: stretch lives across the loops they cross, then one sweep;
//   3. emission: each IR instruction becomes the opcodes its operand
//      placement asks for; jumps to labels not yet placed are patched at the end.
//
// Index:
//   [SECTION] Label map
//   [SECTION] Lifetimes
//   [SECTION] Allocation
//   [SECTION] Emission
//   [SECTION] Whole program
#include "compiler/back/bytecode_gen.h"
#include "compiler/back/statements.h"
#include "compiler/back/ir.h"
#include "compiler/front/diagnostics.h"

Bytecode_State bytecode_state;

struct Label_Entry {
    IR_Instruction *label;
    u32 sequence;
    bool placed;
    u64 position;
};
struct Jump_Fixup {
    u32 index; // bytecode instruction
    IR_Instruction *label;
};
struct Loop_Interval {
    u32 start, end;
};

static void bytecode_state_init() {
    Bytecode_State *s = &bytecode_state;
    if (s->initialised) return;
    dynamic_array_init(&s->instructions, sizeof(Bytecode_Instruction), 1024);
    dynamic_array_init(&s->starts, sizeof(Sub_Program_Start), 64);
    dynamic_array_init(&s->stream, sizeof(Bytecode_Instruction), 1024);
    dynamic_array_init(&s->stream_starts, sizeof(Sub_Program_Start), 64);
    dynamic_array_init(&s->allocations, sizeof(Register_Allocation), 64);
    dynamic_array_init(&s->allocated, sizeof(Register *), 64);
    dynamic_array_init(&s->live_points, sizeof(Live_Point), 16);
    dynamic_array_init(&s->loops, sizeof(Loop_Interval), 16);
    dynamic_array_init(&s->fixups, sizeof(Jump_Fixup), 64);
    dynamic_array_init(&s->labels, sizeof(Label_Entry), 64);
    dynamic_array_init(&s->outgoing_blocks, sizeof(Register *), 16);
    allocation_state_init(&s->allocation);
    s->initialised = true;
}

void bytecode_set_foreign_routines(const u64 *hashes, u32 count) {
    bytecode_state.foreign_hashes = hashes;
    bytecode_state.num_foreign_hashes = count;
}

// [SECTION] Label map -----------------------------------------------------------------------

static u32 hash_pointer(const void *p) {
    u64 x = (u64)(uintptr_t)p;
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    return (u32)x;
}

static void label_map_clear() {
    Bytecode_State *s = &bytecode_state;
    if (s->label_slots) memset(s->label_slots, 0, sizeof(u32) * s->label_capacity);
    s->labels.count = 0;
}

static void label_map_grow() {
    Bytecode_State *s = &bytecode_state;
    u32 capacity = s->label_capacity ? s->label_capacity * 2 : 256;
    Allocation a;
    gp_allocate(&a, sizeof(u32) * capacity);
    u32 *slots = (u32 *)a.memory;
    memset(slots, 0, sizeof(u32) * capacity);
    for (u32 i = 0; i < s->labels.count; i++) {
        u32 h = hash_pointer(dynamic_array_at<Label_Entry>(&s->labels, i)->label) & (capacity - 1);
        while (slots[h]) h = (h + 1) & (capacity - 1);
        slots[h] = i + 1;
    }
    if (s->label_allocation.size) gp_free(&s->label_allocation);
    s->label_allocation = a;
    s->label_slots = slots;
    s->label_capacity = capacity;
}

static Label_Entry *label_map_get(IR_Instruction *label, bool add) {
    Bytecode_State *s = &bytecode_state;
    if (!s->label_capacity || (s->labels.count + 1) * 2 > s->label_capacity) {
        if (!add && !s->label_capacity) return nullptr;
        if (add) label_map_grow();
    }
    u32 mask = s->label_capacity - 1;
    for (u32 h = hash_pointer(label) & mask;; h = (h + 1) & mask) {
        u32 slot = s->label_slots[h];
        if (!slot) {
            if (!add) return nullptr;
            s->label_slots[h] = s->labels.count + 1;
            Label_Entry *e = (Label_Entry *)dynamic_array_add(&s->labels);
            *e = {label, 0, false, 0};
            return e;
        }
        Label_Entry *e = dynamic_array_at<Label_Entry>(&s->labels, slot - 1);
        if (e->label == label) return e;
    }
}

// [SECTION] Lifetimes --------------------------------------------------------------------------

static bool is_call(u8 kind) { return kind == IR_CALL || kind == IR_CALL_INDIRECT || kind == IR_FOREIGN_CALL; }

// An outgoing argument block lives in the caller's frame: it is a call-data
// register made for a call instruction (the callee's own block has none).
static Register *outgoing_block_of(Register_Id id) {
    if (id.pool != REGISTER_POOL_CALL_DATA) return nullptr;
    Register_Id base = get_first_non_view_register(nullptr, id);
    Register *r = get_register(nullptr, base);
    return r && r->kind == REGISTER_KIND_CALL_DATA && r->call ? r : nullptr;
}

static void note_use(Register *r, u32 point) {
    if (r->use_count == 0) r->first_use = point;
    r->last_use = point;
    r->use_count++;
}

static void walk_lifetimes(Scope *scope) {
    Bytecode_State *s = &bytecode_state;
    for (IR_Instruction *i = scope->first_instruction; i; i = i->next) {
        i->sequence = ++s->sequence;
        switch (i->kind) {
        case IR_SCOPE:
            if (i->operands[0].scope) walk_lifetimes(i->operands[0].scope);
            continue;
        case IR_LABEL: label_map_get(i, true)->sequence = i->sequence; continue;
        case IR_JUMP:
        case IR_JUMP_IF: {
            Label_Entry *e = label_map_get(i->operands[0].label, false);
            if (e) *(Loop_Interval *)dynamic_array_add(&s->loops) = Loop_Interval{e->sequence, i->sequence};
            continue;
        }
        }
        if (is_call(i->kind)) *(Live_Point *)dynamic_array_add(&s->live_points) = Live_Point{i->sequence, 0, 0};
        for (u32 k = 0; k < IR_MAX_OPERANDS; k++) {
            IR_Operand *o = &i->operands[k];
            if (o->kind != IR_OPERAND_REGISTER && o->kind != IR_OPERAND_MEMORY) continue;
            if (o->reg.pool == REGISTER_POOL_STACK) {
                update_register_lifetime(o->reg.owner, o->reg, i, scope, false);
            } else if (Register *block = outgoing_block_of(o->reg)) {
                if (block->use_count == 0) *(Register **)dynamic_array_add(&s->outgoing_blocks) = block;
                note_use(block, i->sequence);
            }
        }
    }
}

// [SECTION] Allocation ---------------------------------------------------------------------------

static bool sort_loops_by_length(const void *a, const void *b) {
    const Loop_Interval *x = (const Loop_Interval *)a, *y = (const Loop_Interval *)b;
    u32 lx = x->end - x->start, ly = y->end - y->start;
    if (lx != ly) return lx < ly;
    return x->start < y->start;
}

static void add_allocation(Register *r, u8 hints) {
    Bytecode_State *s = &bytecode_state;
    Register_Allocation *a = (Register_Allocation *)dynamic_array_add(&s->allocations);
    *a = {};
    a->size = r->size;
    a->alignment = r->alignment ? r->alignment : 1;
    a->hints = hints;
    a->first_use = r->first_use;
    a->last_use = r->last_use;
    *(Register **)dynamic_array_add(&s->allocated) = r;
}

// Outside values used inside a loop must survive the jump back, and values
// made inside it and read after it must not be overwritten by an earlier
// iteration's temporaries: each life that crosses a loop's edge covers the
// whole loop. Inner loops first, so an outer loop sees the stretched lives.
static void stretch_lives_over_loops(u32 scope_end) {
    Bytecode_State *s = &bytecode_state;
    general_quick_sort(s->loops.data, s->loops.count, sizeof(Loop_Interval), sort_loops_by_length);
    Register_Allocation *list = (Register_Allocation *)s->allocations.data;
    for (u32 i = 0; i < s->allocations.count; i++) {
        if (list[i].hints & HINT_STAY_ALIVE) list[i].last_use = scope_end;
    }
    for (u32 l = 0; l < s->loops.count; l++) {
        Loop_Interval loop = *dynamic_array_at<Loop_Interval>(&s->loops, l);
        for (u32 i = 0; i < s->allocations.count; i++) {
            Register_Allocation *a = &list[i];
            if (a->last_use < loop.start || a->first_use > loop.end) continue;
            if (a->first_use >= loop.start && a->last_use <= loop.end) continue;
            if (a->first_use > loop.start) a->first_use = loop.start;
            if (a->last_use < loop.end) a->last_use = loop.end;
        }
    }
}

static void allocate_scope_registers(Scope *owner) {
    Bytecode_State *s = &bytecode_state;
    s->allocations.count = 0;
    s->allocated.count = 0;
    for (u32 i = 0; i < owner->registers.count; i++) {
        Register *r = dynamic_array_at<Register>(&owner->registers, i);
        if (r->kind != REGISTER_KIND_STACK || r->use_count == 0) continue;
        add_allocation(r, r->hints);
    }
    // Pointers into call_registers: it does not grow while bytecode is made.
    for (u32 i = 0; i < s->outgoing_blocks.count; i++) add_allocation(*dynamic_array_at<Register *>(&s->outgoing_blocks, i), HINT_MEMORY);
    stretch_lives_over_loops(s->sequence);
    allocation_state_reset(&s->allocation, global_compiler_state.target_platform == TARGET_AMD64);
    allocate_registers(&s->allocation, (Register_Allocation *)s->allocations.data, s->allocations.count,
                       (Live_Point *)s->live_points.data, s->live_points.count);
    for (u32 i = 0; i < s->allocations.count; i++) {
        Register_Allocation *a = dynamic_array_at<Register_Allocation>(&s->allocations, i);
        Register *r = *dynamic_array_at<Register *>(&s->allocated, i);
        r->in_machine_register = a->in_machine_register;
        r->machine_register_class = a->machine_register_class;
        r->machine_register = a->machine_register;
        r->offset = a->offset;
        r->first_use = a->first_use; // as stretched over loops
        r->last_use = a->last_use;
    }
    // The back-end keeps the stack 16-byte aligned at calls.
    owner->frame_size = (u32)((s->allocation.frame_size + 15) & ~15ull);
}

// [SECTION] Emission ------------------------------------------------------------------------------

struct Emitter {
    Dynamic_Array *bytecode;
    Scope *owner;
    bool is_sub_program;
};

static Bytecode_Instruction *emit(Emitter *e, u8 opcode, IR_Instruction *from) {
    Bytecode_Instruction *b = insert_bytecode(e->bytecode, opcode, from ? from->first : nullptr, from ? from->last : nullptr);
    b->origin = from;
    return b;
}

static u64 here(Emitter *e) { return bytecode_position(e->bytecode->count); }

static bool unsupported(IR_Instruction *i) {
    if (i->first) print_error_on_token(i->first, "Instruction 0x%x is not supported.", i->kind);
    else print_error("Instruction 0x%x is not supported.", i->kind);
    return false;
}

static bool is_indirect(const IR_Operand *o) { return o->kind == IR_OPERAND_MEMORY; }
static bool is_real(const IR_Operand *o) { return o->number_class == IR_CLASS_REAL; }

// Float constants travel as f64 bits; an f32 destination wants its own bits.
static u64 constant_bits_for(const IR_Operand *constant, u32 size) {
    if (constant->number_class == IR_CLASS_REAL && size == 4) {
        f64 d;
        memcpy(&d, &constant->bits, 8);
        f32 f = (f32)d;
        u32 bits;
        memcpy(&bits, &f, 4);
        return bits;
    }
    return constant->bits;
}

static f64 constant_as_real(const IR_Operand *constant) {
    if (constant->number_class == IR_CLASS_REAL) {
        f64 d;
        memcpy(&d, &constant->bits, 8);
        return d;
    }
    return constant->number_class == IR_CLASS_SIGNED ? (f64)(s64)constant->bits : (f64)constant->bits;
}

static void set_operand_flags(Bytecode_Instruction *b, const IR_Operand *first, const IR_Operand *second) {
    if (first && is_indirect(first)) b->flags |= BC_FLAG_TO_MEMORY;
    if (second && is_indirect(second)) b->flags |= BC_FLAG_FROM_MEMORY;
}

static u32 operand_size(const IR_Operand *o, Scope *owner) {
    if (o->size) return o->size;
    return o->kind == IR_OPERAND_REGISTER ? get_register_size(owner, o->reg) : 0;
}

static void emit_constant_copy(Emitter *e, IR_Instruction *i, const IR_Operand *d, const IR_Operand *c) {
    u32 size = operand_size(d, e->owner);
    if (c->kind == IR_OPERAND_CONSTANT) {
        Bytecode_Instruction *b = emit(e, is_indirect(d) ? BC_COPY_CONSTANT_TO_MEMORY : BC_COPY_CONSTANT, i);
        b->operands[0].reg = d->reg;
        b->operands[1].constant = constant_bits_for(c, size);
        b->size = size;
        set_operand_flags(b, d, nullptr);
        return;
    }
    Bytecode_Instruction *b = emit(e, is_indirect(d) ? BC_COPY_CONSTANT_STRUCT_TO_MEMORY : BC_COPY_CONSTANT_STRUCT, i);
    b->operands[0].reg = d->reg;
    b->operands[1].reg = c->reg;
    b->size = size;
    set_operand_flags(b, d, c);
}

static bool emit_copy(Emitter *e, IR_Instruction *i) {
    const IR_Operand *d = &i->operands[0], *s = &i->operands[1];
    if (s->kind == IR_OPERAND_CONSTANT) {
        emit_constant_copy(e, i, d, s);
        return true;
    }
    if (s->kind == IR_OPERAND_REGISTER &&
        (s->reg.pool == REGISTER_POOL_CONSTANT_DATA || s->reg.pool == REGISTER_POOL_TYPE_DATA) &&
        s->reg.kind != REGISTER_KIND_VIEW && i->kind == IR_COPY_CONSTANT) {
        emit_constant_copy(e, i, d, s);
        return true;
    }
    Bytecode_Instruction *b = emit(e, is_indirect(d) ? BC_COPY_TO_MEMORY : BC_COPY, i);
    b->operands[0].reg = d->reg;
    b->operands[1].reg = s->reg;
    b->size = operand_size(d, e->owner);
    set_operand_flags(b, d, s);
    return true;
}

static bool emit_cast(Emitter *e, IR_Instruction *i) {
    const IR_Operand *d = &i->operands[0], *s = &i->operands[1];
    u32 dsize = operand_size(d, e->owner), ssize = operand_size(s, e->owner);
    bool to_bool = (d->value_kind & VALUE_KIND_BOOLEAN) != 0;
    u8 opcode;
    bool signed_side = false;
    if (s->kind == IR_OPERAND_CONSTANT) {
        emit_constant_copy(e, i, d, s);
        return true;
    }
    if (is_real(s) && is_real(d)) {
        if (dsize == ssize) opcode = BC_COPY;
        else opcode = dsize < ssize ? BC_CAST_FLOAT_TO_SMALL_FLOAT : BC_CAST_FLOAT_TO_BIG_FLOAT;
    } else if (is_real(s)) {
        opcode = to_bool ? BC_CAST_FLOAT_TO_BOOL : BC_CAST_FLOAT_TO_INT;
        signed_side = d->number_class == IR_CLASS_SIGNED;
    } else if (is_real(d)) {
        opcode = BC_CAST_INT_TO_FLOAT;
        signed_side = s->number_class == IR_CLASS_SIGNED;
    } else if (to_bool && !(s->value_kind & VALUE_KIND_BOOLEAN)) {
        opcode = BC_CAST_INT_TO_BOOL;
    } else if (dsize == ssize) {
        opcode = BC_COPY;
    } else {
        opcode = dsize < ssize ? BC_CAST_INT_TO_SMALL_INT : BC_CAST_INT_TO_BIG_INT;
        signed_side = s->number_class == IR_CLASS_SIGNED;
    }
    if (opcode == BC_COPY && is_indirect(d)) opcode = BC_COPY_TO_MEMORY;
    Bytecode_Instruction *b = emit(e, opcode, i);
    b->operands[0].reg = d->reg;
    b->operands[1].reg = s->reg;
    b->operands[2].constant = ssize;
    b->size = dsize;
    if (signed_side) b->flags |= BC_FLAG_SIGNED;
    set_operand_flags(b, d, s);
    return true;
}

static bool emit_arithmetic(Emitter *e, IR_Instruction *i) {
    const IR_Operand *d = &i->operands[0], *s = &i->operands[1];
    bool real = is_real(d) || (i->flags & IR_FLAG_REAL);
    bool constant = s->kind == IR_OPERAND_CONSTANT || s->kind == IR_OPERAND_NONE;
    u8 opcode = real ? (constant ? BC_FLOAT_ARITHMETIC_CONSTANT : BC_FLOAT_ARITHMETIC)
                     : (constant ? BC_INT_ARITHMETIC_CONSTANT : BC_INT_ARITHMETIC);
    Bytecode_Instruction *b = emit(e, opcode, i);
    b->operands[0].reg = d->reg;
    b->operands[1].op = i->op;
    if (!constant) b->operands[2].reg = s->reg;
    else if (real) b->operands[2].real = s->kind == IR_OPERAND_NONE ? 0.0 : constant_as_real(s);
    else b->operands[2].constant = s->kind == IR_OPERAND_NONE ? 0 : s->bits;
    b->size = operand_size(d, e->owner);
    if ((i->flags & IR_FLAG_SIGNED) || d->number_class == IR_CLASS_SIGNED) b->flags |= BC_FLAG_SIGNED;
    set_operand_flags(b, d, constant ? nullptr : s);
    return true;
}

static bool emit_compare(Emitter *e, IR_Instruction *i) {
    const IR_Operand *a = &i->operands[0], *c = &i->operands[1];
    bool real = is_real(a) || (i->flags & IR_FLAG_REAL);
    bool constant = c->kind == IR_OPERAND_CONSTANT;
    Bytecode_Instruction *b;
    if (real) {
        b = emit(e, constant ? BC_FLOAT_COMPARE_TO_CONSTANT : BC_FLOAT_COMPARE, i);
        if (constant) b->operands[1].real = constant_as_real(c);
    } else {
        b = emit(e, constant ? BC_COMPARE_TO_CONSTANT : BC_COMPARE, i);
        if (constant) b->operands[1].constant = c->bits;
        if ((i->flags & IR_FLAG_SIGNED) || a->number_class == IR_CLASS_SIGNED) b->flags |= BC_FLAG_SIGNED;
    }
    b->operands[0].reg = a->reg;
    if (!constant) b->operands[1].reg = c->reg;
    b->size = operand_size(a, e->owner);
    set_operand_flags(b, a, constant ? nullptr : c);
    return true;
}

static bool emit_memcmp(Emitter *e, IR_Instruction *i) {
    const IR_Operand *a = &i->operands[0], *c = &i->operands[1], *n = &i->operands[2];
    bool against_constant = c->kind == IR_OPERAND_REGISTER &&
                            (c->reg.pool == REGISTER_POOL_CONSTANT_DATA || c->reg.pool == REGISTER_POOL_TYPE_DATA);
    Bytecode_Instruction *b;
    if (against_constant && n->kind == IR_OPERAND_CONSTANT) {
        b = emit(e, BC_COMPARE_MEMORY_TO_CONSTANT, i);
        b->size = (u32)n->bits;
    } else {
        b = emit(e, BC_MEMCMP, i);
        if (n->kind == IR_OPERAND_CONSTANT) {
            b->operands[2].reg = INVALID_REGISTER_ID;
            b->size = (u32)n->bits;
        } else {
            b->operands[2].reg = n->reg;
        }
    }
    b->operands[0].reg = a->reg;
    b->operands[1].reg = c->reg;
    set_operand_flags(b, a, c);
    return true;
}

static void emit_address_or_dereference(Emitter *e, IR_Instruction *i, bool dereference) {
    const IR_Operand *d = &i->operands[0], *base = &i->operands[1], *index = &i->operands[2], *scale = &i->operands[3];
    bool constant_index = index->kind != IR_OPERAND_REGISTER && index->kind != IR_OPERAND_MEMORY;
    u8 opcode = dereference ? (constant_index ? BC_MEMORY_DEREFERENCE_CONSTANT : BC_MEMORY_DEREFERENCE)
                            : (constant_index ? BC_CALCULATE_ADDRESS_CONSTANT : BC_CALCULATE_ADDRESS);
    Bytecode_Instruction *b = emit(e, opcode, i);
    b->operands[0].reg = d->reg;
    b->operands[1].reg = base->reg;
    if (constant_index) b->operands[2].constant = index->kind == IR_OPERAND_CONSTANT ? index->bits : 0;
    else b->operands[2].reg = index->reg;
    b->operands[3].constant = scale->kind == IR_OPERAND_CONSTANT ? scale->bits : 1;
    b->size = dereference ? operand_size(d, e->owner) : 8;
    // A narrow index is extended by its signedness before it scales.
    if (!constant_index && index->number_class == IR_CLASS_SIGNED) b->flags |= BC_FLAG_SIGNED;
    set_operand_flags(b, d, base);
}

static u8 jump_for_condition(u16 condition) {
    switch (condition) {
    case IR_CONDITION_EQ: return BC_JUMP_EQ;
    case IR_CONDITION_NE: return BC_JUMP_NE;
    case IR_CONDITION_LT: return BC_JUMP_LT;
    case IR_CONDITION_LE: return BC_JUMP_LE;
    case IR_CONDITION_GT: return BC_JUMP_GT;
    case IR_CONDITION_GE: return BC_JUMP_GE;
    case IR_CONDITION_NZ: return BC_JUMP_NZ;
    case IR_CONDITION_ZE: return BC_JUMP_ZE;
    }
    return BC_INVALID;
}

static void emit_jump(Emitter *e, IR_Instruction *i, u8 opcode) {
    Bytecode_Instruction *b = emit(e, opcode, i);
    if (i->flags & IR_FLAG_SIGNED) b->flags |= BC_FLAG_SIGNED;
    Label_Entry *label = label_map_get(i->operands[0].label, false);
    if (label && label->placed) {
        b->operands[0].target = label->position;
        return;
    }
    *(Jump_Fixup *)dynamic_array_add(&bytecode_state.fixups) = Jump_Fixup{e->bytecode->count - 1, i->operands[0].label};
}

static void take_live_masks(Bytecode_Instruction *b) {
    Bytecode_State *s = &bytecode_state;
    if (s->next_live_point >= s->live_points.count) return;
    Live_Point *p = dynamic_array_at<Live_Point>(&s->live_points, s->next_live_point++);
    b->integer_mask = p->integer_mask;
    b->float_mask = p->float_mask;
}

static u64 foreign_routine_id(Identifier *sub_program) {
    u64 hash = sub_program ? sub_program->constant.u : 0;
    for (u32 k = 0; k < bytecode_state.num_foreign_hashes; k++) {
        if (bytecode_state.foreign_hashes[k] == hash) return k + 1;
    }
    return 0;
}

static bool emit_call(Emitter *e, IR_Instruction *i) {
    const IR_Operand *target = &i->operands[0], *block = &i->operands[1];
    u8 opcode = i->kind == IR_CALL ? BC_CALL : i->kind == IR_CALL_INDIRECT ? BC_CALL_INDIRECT : BC_FOREIGN_CALL;
    Bytecode_Instruction *b = emit(e, opcode, i);
    take_live_masks(b);
    if (block->kind == IR_OPERAND_REGISTER || block->kind == IR_OPERAND_MEMORY) {
        b->operands[1].reg = block->reg;
        b->flags |= BC_FLAG_PASSES_ARGUMENTS;
    } else {
        b->operands[1].reg = INVALID_REGISTER_ID;
    }
    switch (opcode) {
    case BC_CALL:
        b->operands[2].reference = target->sub_program;
        b->flags |= BC_FLAG_NEEDS_LINKING;
        break;
    case BC_CALL_INDIRECT:
        b->operands[0].reg = target->reg;
        if (is_indirect(target)) b->flags |= BC_FLAG_TO_MEMORY;
        break;
    default:
        b->operands[0].constant = foreign_routine_id(target->sub_program);
        b->operands[2].reference = target->sub_program;
        break;
    }
    return true;
}

static void emit_frame_exit(Emitter *e, IR_Instruction *i) {
    Bytecode_Instruction *pop = emit(e, BC_POP_STACK_FRAME, i);
    pop->operands[0].reference = e->owner;
    pop->size = e->owner->frame_size;
    pop->integer_mask = bytecode_state.allocation.used_integer_mask;
    pop->float_mask = bytecode_state.allocation.used_float_mask;
    emit(e, BC_RETURN, i);
}

// Where a frame opens, for the listing: the entry directive or the sub-program's name.
static Token *frame_location(Scope *owner) {
    for (u32 k = 0; k < 3; k++) {
        if (global_compiler_state.entry_point_scopes[k] == owner) return global_compiler_state.entry_points[k];
    }
    return owner->sub_program ? owner->sub_program->name_token : nullptr;
}

static bool emit_scope(Emitter *e, Scope *scope) {
    for (IR_Instruction *i = scope->first_instruction; i; i = i->next) {
        const IR_Operand *o = i->operands;
        switch (i->kind) {
        case IR_FRAME_START: {
            Bytecode_Instruction *b = emit(e, BC_PUSH_STACK_FRAME, i);
            if (!b->first) b->first = b->last = frame_location(e->owner);
            b->operands[0].reference = e->owner;
            b->size = e->owner->frame_size;
            b->integer_mask = bytecode_state.allocation.used_integer_mask;
            b->float_mask = bytecode_state.allocation.used_float_mask;
            // The argument block's address arrives in rax; the body reads its
            // parameters through the register named here, so the copy comes
            // once the frame exists.
            if (e->is_sub_program && global_compiler_state.target_platform == TARGET_AMD64) {
                Bytecode_Instruction *c = emit(e, BC_COPY_ARGUMENTS_ADDRESS, i);
                c->operands[0].reg = o[1].kind == IR_OPERAND_REGISTER ? o[1].reg : INVALID_REGISTER_ID;
                c->size = 8;
            }
            break;
        }
        case IR_FRAME_END:
        case IR_RETURN: emit_frame_exit(e, i); break;
        case IR_END_OF_ENTRY_POINT: break;
        case IR_SCOPE:
            if (o[0].scope && !emit_scope(e, o[0].scope)) return false;
            break;
        case IR_LABEL: {
            Label_Entry *label = label_map_get(i, true);
            label->placed = true;
            label->position = here(e);
            break;
        }
        case IR_SET_TO_ZERO: {
            Bytecode_Instruction *b = emit(e, BC_SET_TO_ZERO, i);
            b->operands[0].reg = o[0].reg;
            b->size = operand_size(&o[0], e->owner);
            set_operand_flags(b, &o[0], nullptr);
            break;
        }
        case IR_COPY_CONSTANT:
        case IR_COPY: emit_copy(e, i); break;
        case IR_COPY_SUB_PROGRAM_ADDRESS: {
            Bytecode_Instruction *b = emit(e, BC_COPY_SUB_PROGRAM_ADDRESS, i);
            b->operands[0].reg = o[0].reg;
            b->operands[1].reference = o[1].sub_program;
            b->flags |= BC_FLAG_NEEDS_LINKING;
            b->size = 8;
            set_operand_flags(b, &o[0], nullptr);
            break;
        }
        case IR_CAST: emit_cast(e, i); break;
        case IR_MAKE_BOOLEAN: {
            Bytecode_Instruction *b = emit(e, is_real(&o[0]) ? BC_MAKE_FLOAT_BOOL : BC_MAKE_INT_BOOL, i);
            b->operands[0].reg = o[0].reg;
            b->size = operand_size(&o[0], e->owner);
            set_operand_flags(b, &o[0], nullptr);
            break;
        }
        case IR_TAKE_ADDRESS: {
            // The address of what an address points to is that address.
            Bytecode_Instruction *b = emit(e, is_indirect(&o[1]) ? BC_COPY : BC_TAKE_ADDRESS, i);
            b->operands[0].reg = o[0].reg;
            b->operands[1].reg = o[1].reg;
            b->size = 8;
            set_operand_flags(b, &o[0], nullptr);
            break;
        }
        case IR_CALCULATE_ADDRESS: emit_address_or_dereference(e, i, false); break;
        case IR_MEMORY_DEREFERENCE: emit_address_or_dereference(e, i, true); break;
        case IR_ARITHMETIC: emit_arithmetic(e, i); break;
        case IR_COMPARE: emit_compare(e, i); break;
        case IR_COMPARE_TO_ZERO: {
            Bytecode_Instruction *b = emit(e, is_real(&o[0]) ? BC_FLOAT_COMPARE_TO_ZERO : BC_COMPARE_TO_ZERO, i);
            b->operands[0].reg = o[0].reg;
            b->size = operand_size(&o[0], e->owner);
            set_operand_flags(b, &o[0], nullptr);
            break;
        }
        case IR_MEMCMP: emit_memcmp(e, i); break;
        case IR_TEST_FLAGS: {
            bool constant = o[1].kind == IR_OPERAND_CONSTANT;
            Bytecode_Instruction *b = emit(e, constant ? BC_TEST_FLAGS_CONSTANT : BC_TEST_FLAGS, i);
            b->operands[0].reg = o[0].reg;
            if (constant) b->operands[1].constant = o[1].bits;
            else b->operands[1].reg = o[1].reg;
            b->size = operand_size(&o[0], e->owner);
            set_operand_flags(b, &o[0], constant ? nullptr : &o[1]);
            break;
        }
        case IR_STORE_CMP_RESULT: {
            Bytecode_Instruction *b = emit(e, BC_STORE_CMP_RESULT, i);
            b->operands[0].reg = o[0].reg;
            b->operands[1].op = i->op;
            b->size = 1;
            if (i->flags & IR_FLAG_SIGNED) b->flags |= BC_FLAG_SIGNED;
            set_operand_flags(b, &o[0], nullptr);
            break;
        }
        case IR_JUMP: emit_jump(e, i, BC_JUMP); break;
        case IR_JUMP_IF: {
            u8 opcode = jump_for_condition(i->condition);
            if (opcode == BC_INVALID) return unsupported(i);
            emit_jump(e, i, opcode);
            break;
        }
        case IR_CALL:
        case IR_CALL_INDIRECT:
        case IR_FOREIGN_CALL: emit_call(e, i); break;
        case IR_DEBUG_BREAK: emit(e, BC_DEBUG_BREAK, i); break;
        case IR_EMBED_MACHINE_CODE: {
            Bytecode_Instruction *b = emit(e, BC_EMBED_MACHINE_CODE, i);
            b->operands[0].reference = (void *)o[0].bytes;
            b->size = o[0].size;
            break;
        }
        case IR_UPDATE_STACK_TRACE_LOCATION: {
            // The stack-trace record keeps the line the program is at.
            Bytecode_Instruction *b = emit(e, is_indirect(&o[0]) ? BC_COPY_CONSTANT_TO_MEMORY : BC_COPY_CONSTANT, i);
            b->operands[0].reg = o[0].reg;
            b->operands[1].constant = i->first ? i->first->location.line : 0;
            b->size = operand_size(&o[0], e->owner);
            if (b->size > 8 || b->size == 0) b->size = 4;
            set_operand_flags(b, &o[0], nullptr);
            break;
        }
        default: return unsupported(i);
        }
    }
    return true;
}

bool make_bytecode_for_scope(Scope *scope, bool is_sub_program, Dynamic_Array *bytecode) {
    bytecode_state_init();
    Bytecode_State *s = &bytecode_state;
    s->sequence = 0;
    s->next_live_point = 0;
    s->live_points.count = 0;
    s->loops.count = 0;
    s->fixups.count = 0;
    s->outgoing_blocks.count = 0;
    label_map_clear();
    for (u32 i = 0; i < scope->registers.count; i++) dynamic_array_at<Register>(&scope->registers, i)->use_count = 0;

    walk_lifetimes(scope);
    allocate_scope_registers(scope);

    Emitter e = {bytecode, scope, is_sub_program};
    if (!emit_scope(&e, scope)) return false;
    Bytecode_Instruction *code = (Bytecode_Instruction *)bytecode->data;
    for (u32 k = 0; k < s->fixups.count; k++) {
        Jump_Fixup *f = dynamic_array_at<Jump_Fixup>(&s->fixups, k);
        Label_Entry *label = label_map_get(f->label, false);
        if (!label || !label->placed) {
            Bytecode_Instruction *b = &code[f->index];
            if (b->first) print_error_on_token(b->first, "This jump leads out of its sub-program.");
            else print_error("A jump leads out of its sub-program.");
            return false;
        }
        code[f->index].operands[0].target = label->position;
    }
    return true;
}

// [SECTION] Whole program ---------------------------------------------------------------------------

bool bytecode_stream_sub_program(Identifier *sub_program) {
    bytecode_state_init();
    Bytecode_State *s = &bytecode_state;
    // Reserved once and large: a big block is mapped, not touched, so only what is used costs memory.
    if (s->stream.capacity < (1u << 20)) dynamic_array_reserve(&s->stream, 1u << 20);
    Sub_Program_Start *start = (Sub_Program_Start *)dynamic_array_add(&s->stream_starts);
    start->sub_program = sub_program;
    start->position = bytecode_position(s->stream.count);
    return make_bytecode_for_scope(sub_program->body_scope, true, &s->stream);
}

void bytecode_stream_reset() {
    bytecode_state_init();
    bytecode_state.stream.count = 0;
    bytecode_state.stream_starts.count = 0;
}

bool make_bytecode_from_state(u64 entry_positions[3], u8 *flags) {
    bytecode_state_init();
    Bytecode_State *s = &bytecode_state;
    Dynamic_Array *bytecode = &s->instructions;
    bytecode->count = 0;
    s->starts.count = 0;
    *flags = 0;
    // Room for everything at once: the lowering makes about one instruction per IR instruction.
    if (!s->stream.count) {
        u64 expected = ir_state.num_instructions + ir_state.num_instructions / 8 + 64;
        if (expected > 0x7FFFFFFF) expected = 0x7FFFFFFF;
        dynamic_array_reserve(bytecode, (u32)expected);
    }
    static const u32 ORDER[3] = {2, 1, 0}; // #syntax, #events, #on_load
    static const u8 FLAG_OF[3] = {ENTRY_FLAG_ON_LOAD, ENTRY_FLAG_EVENTS, ENTRY_FLAG_SYNTAX};
    for (u32 k = 0; k < 3; k++) {
        u32 which = ORDER[k];
        entry_positions[which] = 0;
        Scope *scope = global_compiler_state.entry_point_scopes[which];
        if (!scope) continue;
        entry_positions[which] = bytecode_position(bytecode->count);
        if (!make_bytecode_for_scope(scope, false, bytecode)) return false;
        *flags |= FLAG_OF[which];
    }
    // The streamed sub-programs follow the entry blocks: their jump targets move with them.
    // Moved up in place, so the large array is not copied into another.
    if (s->stream.count) {
        u32 base = bytecode->count, n = s->stream.count;
        u64 shift = bytecode_position(base);
        dynamic_array_add_fast_multiple(&s->stream, base);
        Bytecode_Instruction *code = (Bytecode_Instruction *)s->stream.data;
        memmove(code + base, code, sizeof(Bytecode_Instruction) * n);
        memcpy(code, bytecode->data, sizeof(Bytecode_Instruction) * base);
        for (u32 i = base; i < base + n; i++) {
            if (bytecode_is_jump(code[i].opcode)) code[i].operands[0].target += shift;
        }
        for (u32 i = 0; i < s->stream_starts.count; i++) {
            Sub_Program_Start *start = (Sub_Program_Start *)dynamic_array_add(&s->starts);
            *start = *dynamic_array_at<Sub_Program_Start>(&s->stream_starts, i);
            start->position += shift;
        }
        Dynamic_Array entries = *bytecode;
        *bytecode = s->stream;
        s->stream = entries;
        s->stream.count = 0;
        s->stream_starts.count = 0;
    }
    for (u32 k = 0; k < ir_state.sub_programs.count; k++) {
        Identifier *sub_program = *dynamic_array_at<Identifier *>(&ir_state.sub_programs, k);
        Scope *body = sub_program->body_scope;
        if (!body || !body->first_instruction || scope_code(body)->bytecode_made) continue;
        Sub_Program_Start *start = (Sub_Program_Start *)dynamic_array_add(&s->starts);
        start->sub_program = sub_program;
        start->position = bytecode_position(bytecode->count);
        if (!make_bytecode_for_scope(body, true, bytecode)) return false;
    }
    thread_bytecode_jumps(bytecode);
    Identifier *missing = nullptr;
    if (!link_bytecode_calls(bytecode, &s->starts, &missing)) {
        if (missing) print_error_on_trace(missing->declaration, "Sub-program '%.*s' is called but has no body.",
                                          (int)missing->name_length, (const char *)missing->name);
        else print_error("A call has no sub-program to go to.");
        return false;
    }
    return true;
}
