// IR instructions: the pool they come from, each scope's list, operands made
// from values, and one builder per instruction kind.
#include "compiler/back/ir.h"

// [SECTION] Lists

constexpr u64 IR_CHUNK_SIZE = 1 << 20;
constexpr u64 IR_CHUNK_CAPACITY = IR_CHUNK_SIZE - offsetof(IR_Chunk, data);

static IR_Instruction *new_instruction(Scope *scope, u8 kind) {
    IR_State *s = &ir_state;
    IR_Chunk *chunk = s->current_chunk;
    if (!chunk || chunk->used + sizeof(IR_Instruction) > IR_CHUNK_CAPACITY) {
        // The next chunk of the stack, reused when it exists.
        IR_Chunk *next = chunk ? chunk->next : s->first_chunk;
        if (!next) {
            next = (IR_Chunk *)os_allocate_read_write(IR_CHUNK_SIZE);
            next->next = nullptr;
            if (chunk) chunk->next = next;
            else s->first_chunk = next;
        }
        next->used = 0;
        s->current_chunk = chunk = next;
    }
    IR_Instruction *in = (IR_Instruction *)(chunk->data + chunk->used);
    chunk->used += sizeof(IR_Instruction);
    s->num_instructions++;
    memset(in, 0, sizeof *in);
    in->kind = kind;
    in->scope = scope;
    return in;
}

IR_Mark ir_mark() { return IR_Mark{ir_state.current_chunk, ir_state.current_chunk ? ir_state.current_chunk->used : 0}; }

void ir_release(IR_Mark mark) {
    ir_state.current_chunk = mark.chunk;
    if (mark.chunk) mark.chunk->used = mark.used;
}

IR_Instruction *allocate_an_instruction(Scope *scope, u8 kind) {
    IR_Instruction *in = new_instruction(scope, kind);
    in->sequence = get_current_lifetime_id(scope);
    if (scope->last_instruction) scope->last_instruction->next = in;
    else scope->first_instruction = in;
    scope->last_instruction = in;
    scope->num_instructions++;
    scope->lifetime_counter++;
    return in;
}

IR_Instruction *allocate_an_iteration_instruction(Scope *loop, u8 kind) {
    IR_Instruction *in = new_instruction(loop, kind);
    if (loop->last_iteration_instruction) loop->last_iteration_instruction->next = in;
    else loop->first_iteration_instruction = in;
    loop->last_iteration_instruction = in;
    loop->num_iteration_instructions++;
    return in;
}

// [SECTION] Operands

u8 number_class_of_type(Identifier *type) {
    if (!type) return IR_CLASS_NONE;
    if (type->pointer_depth || (type->flags & TYPE_SUB_PROGRAM)) return IR_CLASS_ADDRESS;
    Identifier *view = (type->flags & TYPE_ENUM) && type->base_type ? type->base_type : type;
    if (view->flags & TYPE_REAL) return IR_CLASS_REAL;
    if (view->flags & TYPE_SIGNED) return IR_CLASS_SIGNED;
    if (view->flags & (TYPE_UNSIGNED | TYPE_TYPE)) return IR_CLASS_UNSIGNED;
    return IR_CLASS_NONE;
}

IR_Operand operand_from_register(Register_Id id, u32 size, u8 number_class) {
    IR_Operand o = {};
    o.kind = IR_OPERAND_REGISTER;
    o.number_class = number_class;
    o.value_kind = VALUE_KIND_DYNAMIC;
    o.size = size;
    o.reg = id;
    return o;
}

IR_Operand operand_from_constant(u64 bits, u32 size, u8 number_class) {
    IR_Operand o = {};
    o.kind = IR_OPERAND_CONSTANT;
    o.number_class = number_class;
    o.value_kind = VALUE_KIND_CONSTANT;
    o.size = size;
    o.bits = bits;
    return o;
}

IR_Operand operand_from_value(const Value *v) {
    u32 size = v->type ? v->type->size : 8;
    u8 cls = number_class_of_type(v->type);
    if (v->kind & VALUE_KIND_DYNAMIC) {
        IR_Operand o = operand_from_register(v->reg, size, cls);
        o.value_kind = v->kind;
        if (v->kind & VALUE_KIND_INDIRECT) o.kind = IR_OPERAND_MEMORY;
        return o;
    }
    if (v->constant.kind & CONSTANT_IN_DATA) {
        // A block of constant data is named by its register.
        IR_Operand o = operand_from_register(make_constant_data_register(v->constant.data_offset, size, v->type ? v->type->alignment : 1), size,
                                             IR_CLASS_NONE);
        o.value_kind = VALUE_KIND_CONSTANT;
        return o;
    }
    // Real constants keep their f64 bits whatever the operand's size: bytecode
    // narrows them to f32 where the destination asks for it.
    return operand_from_constant(v->constant.u, size, cls);
}

void make_dynamic_value(Scope *scope, Identifier *type, Value *out) {
    memset(out, 0, sizeof *out);
    out->type = type;
    out->scope = scope;
    out->reg = allocate_a_register(scope, type ? type->size : 8, type, type && type->alignment ? type->alignment : 1);
    out->kind = VALUE_KIND_DYNAMIC | VALUE_KIND_TEMPORARY;
    if (type && type == global_compiler_state.type_b8) out->kind |= VALUE_KIND_BOOLEAN;
}

void make_dynamic_value_from_register(Register_Id id, Identifier *type, Value *out) {
    memset(out, 0, sizeof *out);
    out->type = type;
    out->reg = id;
    out->kind = VALUE_KIND_DYNAMIC;
}

// [SECTION] Builders

static u64 flags_for(const Value *v, u64 flags) {
    u8 cls = number_class_of_type(v->type);
    if (cls == IR_CLASS_SIGNED) flags |= IR_FLAG_SIGNED;
    if (cls == IR_CLASS_REAL) flags |= IR_FLAG_REAL;
    return flags;
}

static IR_Instruction *two(Scope *scope, u8 kind, const Value *d, const Value *s, u64 flags) {
    IR_Instruction *in = allocate_an_instruction(scope, kind);
    in->operands[0] = operand_from_value(d);
    in->operands[1] = operand_from_value(s);
    in->num_operands = 2;
    in->flags = flags;
    in->first = s->first ? s->first : d->first;
    in->last = s->last ? s->last : d->last;
    return in;
}

IR_Instruction *instruction_set_to_zero(Scope *scope, const Value *destination, u64 flags) {
    IR_Instruction *in = allocate_an_instruction(scope, IR_SET_TO_ZERO);
    in->operands[0] = operand_from_value(destination);
    in->num_operands = 1;
    in->flags = flags;
    return in;
}

IR_Instruction *instruction_copy_constant(Scope *scope, const Value *destination, const Value *constant, u64 flags) {
    return two(scope, IR_COPY_CONSTANT, destination, constant, flags_for(destination, flags));
}

IR_Instruction *instruction_copy_variable(Scope *scope, const Value *destination, const Value *source, u64 flags) {
    return two(scope, IR_COPY, destination, source, flags_for(destination, flags));
}

IR_Instruction *instruction_copy_value(Scope *scope, const Value *destination, const Value *source, u64 flags) {
    if (source->constant.kind & CONSTANT_SUB_PROGRAM && !(source->kind & VALUE_KIND_DYNAMIC)) {
        IR_Instruction *in = allocate_an_instruction(scope, IR_COPY_SUB_PROGRAM_ADDRESS);
        in->operands[0] = operand_from_value(destination);
        in->operands[1].kind = IR_OPERAND_SUB_PROGRAM;
        in->operands[1].sub_program = source->constant.type_value;
        in->operands[1].size = 8;
        in->num_operands = 2;
        in->flags = flags;
        return in;
    }
    if (source->kind & VALUE_KIND_DYNAMIC) return instruction_copy_variable(scope, destination, source, flags);
    return instruction_copy_constant(scope, destination, source, flags);
}

IR_Instruction *instruction_cast(Scope *scope, const Value *destination, const Value *source, u64 flags) {
    return two(scope, IR_CAST, destination, source, flags_for(source, flags));
}

IR_Instruction *instruction_take_address(Scope *scope, const Value *destination, const Value *source, u64 flags) {
    return two(scope, IR_TAKE_ADDRESS, destination, source, flags);
}

IR_Instruction *instruction_memory_dereference(Scope *scope, const Value *destination, const Value *base,
                                               const Value *index, u32 scale, u64 flags) {
    IR_Instruction *in = two(scope, IR_MEMORY_DEREFERENCE, destination, base, flags);
    in->operands[2] = operand_from_value(index);
    in->operands[3] = operand_from_constant(scale, 4, IR_CLASS_UNSIGNED);
    in->num_operands = 4;
    return in;
}

IR_Instruction *instruction_make_value_boolean(Scope *scope, const Value *v, u64 flags) {
    IR_Instruction *in = allocate_an_instruction(scope, IR_MAKE_BOOLEAN);
    in->operands[0] = operand_from_value(v);
    in->num_operands = 1;
    in->flags = flags_for(v, flags);
    return in;
}

IR_Instruction *instruction_arithmetic(Scope *scope, const Value *destination, u64 op, const Value *right, u64 flags) {
    IR_Instruction *in = two(scope, IR_ARITHMETIC, destination, right, flags_for(destination, flags));
    in->op = op;
    return in;
}

IR_Instruction *instruction_cmp(Scope *scope, const Value *a, u64 op, const Value *b, u64 flags) {
    IR_Instruction *in = two(scope, IR_COMPARE, a, b, flags_for(a, flags));
    in->op = op;
    return in;
}

IR_Instruction *instruction_get_cmp_result(Scope *scope, const Value *destination, u64 op, u64 flags) {
    IR_Instruction *in = allocate_an_instruction(scope, IR_STORE_CMP_RESULT);
    in->operands[0] = operand_from_value(destination);
    in->num_operands = 1;
    in->op = op;
    in->flags = flags;
    return in;
}

IR_Instruction *instruction_label(Scope *scope) { return allocate_an_instruction(scope, IR_LABEL); }

IR_Instruction *make_label(Scope *scope) { return new_instruction(scope, IR_LABEL); }

void place_instruction(Scope *scope, IR_Instruction *in) {
    in->scope = scope;
    in->sequence = get_current_lifetime_id(scope);
    in->next = nullptr;
    if (scope->last_instruction) scope->last_instruction->next = in;
    else scope->first_instruction = in;
    scope->last_instruction = in;
    scope->num_instructions++;
    scope->lifetime_counter++;
}

IR_Instruction *instruction_jump(Scope *scope, IR_Instruction *label) {
    IR_Instruction *in = allocate_an_instruction(scope, IR_JUMP);
    in->operands[0].kind = IR_OPERAND_LABEL;
    in->operands[0].label = label;
    in->num_operands = 1;
    in->flags = IR_FLAG_THREADABLE;
    return in;
}

IR_Instruction *instruction_jump_if(Scope *scope, u16 condition, IR_Instruction *label, u64 flags) {
    IR_Instruction *in = allocate_an_instruction(scope, IR_JUMP_IF);
    in->operands[0].kind = IR_OPERAND_LABEL;
    in->operands[0].label = label;
    in->num_operands = 1;
    in->condition = condition;
    in->flags = flags | IR_FLAG_THREADABLE;
    return in;
}

IR_Instruction *instruction_nested_scope(Scope *scope, Scope *nested) {
    IR_Instruction *in = allocate_an_instruction(scope, IR_SCOPE);
    in->operands[0].kind = IR_OPERAND_SCOPE;
    in->operands[0].scope = nested;
    in->num_operands = 1;
    return in;
}

IR_Instruction *update_stack_trace_location(Scope *scope, const Value *location_member, Token *where) {
    IR_Instruction *in = allocate_an_instruction(scope, IR_UPDATE_STACK_TRACE_LOCATION);
    in->operands[0] = operand_from_value(location_member);
    in->num_operands = 1;
    in->first = in->last = where;
    return in;
}

u16 comparison_jump(u64 op) {
    switch (op) {
    case OP_EQUAL: return IR_CONDITION_EQ;
    case OP_NOT_EQUAL: return IR_CONDITION_NE;
    case OP_LESS: return IR_CONDITION_LT;
    case OP_LESS_OR_EQUAL: return IR_CONDITION_LE;
    case OP_GREATER: return IR_CONDITION_GT;
    case OP_GREATER_OR_EQUAL: return IR_CONDITION_GE;
    default: return IR_CONDITION_NZ;
    }
}

u16 get_opposite_comparison_jump(u64 op) {
    switch (op) {
    case OP_EQUAL: return IR_CONDITION_NE;
    case OP_NOT_EQUAL: return IR_CONDITION_EQ;
    case OP_LESS: return IR_CONDITION_GE;
    case OP_LESS_OR_EQUAL: return IR_CONDITION_GT;
    case OP_GREATER: return IR_CONDITION_LE;
    case OP_GREATER_OR_EQUAL: return IR_CONDITION_LT;
    default: return IR_CONDITION_ZE;
    }
}
