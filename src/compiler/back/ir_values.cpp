// The back end's side of the front end's Code_Generator table: variables,
// operators, members, elements, casts and assignments made into IR.
#include "compiler/back/statements.h"
#include "compiler/back/execution.h"
#include "compiler/front/diagnostics.h"

// [SECTION] Variables

// Copies a constant aggregate's bytes from constant data into global data,
// carrying the pointers inside it over as global relocations.
static void copy_constant_to_global(Register_Id destination, const Value *v, u32 size) {
    Compiler_State *s = &global_compiler_state;
    u8 *to = get_register_global_data(nullptr, destination);
    u64 from = v->constant.data_offset;
    if (!to) return;
    memcpy(to, s->constant_data + from, size);
    for (u32 i = 0; i < s->constant_relocations.count; i++) {
        Constant_Relocation *r = dynamic_array_at<Constant_Relocation>(&s->constant_relocations, i);
        if (r->at < from || r->at >= from + size) continue;
        Register_Id target = r->target_sub_program || r->target_type ? INVALID_REGISTER_ID : make_constant_data_register(r->target, 1, 1);
        Relocation *g = add_a_relocation(nullptr, destination, r->at - from, nullptr, target, 0, false);
        g->target_sub_program = r->target_sub_program;
        g->target_type = r->target_type;
    }
}

// A String constant as a 16-byte struct in constant data.
static u64 place_string_struct(const Value *v) {
    Compiler_State *s = &global_compiler_state;
    u64 at = allocate_constant_data(16, 8);
    u64 count = (u64)v->constant.string.count;
    memcpy(s->constant_data + at + 8, &count, 8);
    memcpy(s->constant_data + at, &v->constant.data_offset, 8);
    *(Constant_Relocation *)dynamic_array_add(&s->constant_relocations) = Constant_Relocation{at, v->constant.data_offset, nullptr, nullptr};
    return at;
}

// Makes sure a constant that is a block of bytes (struct, array, string) lives in constant data.
static bool constant_to_data(Value *v, Token *where) {
    if ((v->constant.kind & CONSTANT_STRING) && v->type && (v->type->flags & IDENTIFIER_STRING_TYPE)) {
        u64 at = place_string_struct(v);
        v->constant.kind |= CONSTANT_IN_DATA;
        v->constant.data_offset = at;
        return true;
    }
    if ((v->constant.kind & CONSTANT_AGGREGATE) && !(v->constant.kind & CONSTANT_IN_DATA)) return place_constant_in_constant_data(v, where);
    return true;
}

static bool is_block_constant(const Value *v) {
    return value_is_constant(v) && v->type && v->type->pointer_depth == 0 && (v->type->flags & TYPE_STRUCT);
}

static bool array_literal(Scope *scope, Identifier *type, u32 capacity, u32 count, Value *out);
static bool index(Scope *scope, Value *base, Value *i, Value *out);
static bool assign(Scope *scope, Value *destination, Value *source, Token *where);

static bool is_fixed_size_array(Identifier *t) { return t && t->pointer_depth == 0 && (t->flags & TYPE_FIXED_SIZE_ARRAY); }

static Identifier *member_named(Identifier *structure, const char *name) {
    return get_identifier_in_scope(structure->member_scope, (const u8 *)name, (s64)strlen(name));
}

// A '[N] T' variable owns room for N elements and counts N; a constant
// initial value fills the first ones. Another array value as the initial
// value is a view of that array's elements instead (the ordinary copy).
static bool declare_fixed_size_array(Scope *scope, Identifier *variable, Value *initial, Register_Id global) {
    Compiler_State *s = &global_compiler_state;
    Identifier *type = variable->type;
    Identifier *element = type->element_type;
    u64 stride = element->size;
    if (element->alignment > 1) stride = (stride + element->alignment - 1) & ~(u64)(element->alignment - 1);
    u32 n = initial && (initial->constant.kind & CONSTANT_AGGREGATE) ? initial->constant.item_count : 0;
    if (n > type->max_count) n = (u32)type->max_count;
    if (stride * type->max_count > 0x7FFFFFFF) {
        print_error_on_token(variable->name_token, "Array type '%s' is too large for a variable.", type_to_c_string(type));
        return false;
    }
    if (register_id_is_valid(global)) {
        Register_Id elements = allocate_a_register(nullptr, (u32)(stride * type->max_count), nullptr, element->alignment ? element->alignment : 1);
        if (!register_id_is_valid(elements)) {
            print_error_on_token(variable->name_token, "The global data section is full.");
            return false;
        }
        u8 *view = get_register_global_data(nullptr, global);
        Identifier *data = member_named(type, "data"), *count = member_named(type, "count");
        u64 max_count = type->max_count;
        if (count) memcpy(view + count->offset, &max_count, 8);
        if (data) add_a_relocation(nullptr, global, data->offset, nullptr, elements, 0, false);
        if (n && data) {
            Value copy = *initial;
            copy.type = type;
            if (!constant_to_data(&copy, initial->first)) return false;
            u64 at = copy.constant.data_offset + data->offset;
            for (u32 i = 0; i < s->constant_relocations.count; i++) {
                Constant_Relocation *r = dynamic_array_at<Constant_Relocation>(&s->constant_relocations, i);
                if (r->at != at) continue;
                Value from = {};
                from.constant.data_offset = r->target;
                copy_constant_to_global(elements, &from, (u32)(stride * n));
                break;
            }
        }
        return true;
    }
    Value view;
    if (!array_literal(scope, type, (u32)type->max_count, (u32)type->max_count, &view)) return false;
    for (u32 i = 0; i < n; i++) {
        Value item = {}, k = {}, destination = {};
        item.flags = VALUE_CONSTANT;
        item.type = element;
        item.constant = initial->constant.items[i];
        make_constant_value_from_integer(&k, s->type_s64, i);
        destination.type = element;
        if (!index(scope, &view, &k, &destination) || !assign(scope, &destination, &item, initial->first)) return false;
    }
    variable->register_id = view.reg;
    return true;
}

static bool declare_variable(Scope *scope, Identifier *variable, Value *initial) {
    Identifier *type = variable->type;
    if (!type) return true;
    if (is_fixed_size_array(type) && (!initial || value_is_constant(initial)) && get_register_owner_scope(scope)) {
        return declare_fixed_size_array(scope, variable, initial, INVALID_REGISTER_ID);
    }
    Register_Id reg;
    bool reuse = initial && (initial->kind & VALUE_KIND_TEMPORARY) && !(initial->kind & VALUE_KIND_INDIRECT) && initial->type == type &&
                 initial->reg.pool == REGISTER_POOL_STACK;
    if (reuse) {
        // The temporary becomes the variable: no copy.
        variable->register_id = initial->reg;
        return true;
    }
    reg = allocate_a_register(scope, type->size, type, type->alignment ? type->alignment : 1);
    if (!register_id_is_valid(reg)) {
        print_error_on_token(variable->name_token, "The global data section is full.");
        return false;
    }
    variable->register_id = reg;
    Value destination;
    make_dynamic_value_from_register(reg, type, &destination);
    if (reg.pool == REGISTER_POOL_GLOBAL_DATA) {
        if (is_fixed_size_array(type) && (!initial || value_is_constant(initial))) return declare_fixed_size_array(scope, variable, initial, reg);
        if (!initial) return true;
        if (!value_is_constant(initial)) {
            print_error_on_token(initial->first, "You cannot execute instructions in global scope.");
            return false;
        }
        if (is_block_constant(initial)) {
            Value copy = *initial;
            copy.type = type;
            if (!constant_to_data(&copy, initial->first)) return false;
            copy_constant_to_global(reg, &copy, type->size);
        } else if (initial->constant.kind & CONSTANT_SUB_PROGRAM) {
            Relocation *r = add_a_relocation(nullptr, reg, 0, nullptr, INVALID_REGISTER_ID, 0, false);
            r->target_sub_program = initial->constant.type_value;
        } else {
            IR_Operand o = operand_from_value(initial);
            memcpy(get_register_global_data(nullptr, reg), &o.bits, type->size < 8 ? type->size : 8);
        }
        return true;
    }
    if (!initial) {
        // Members with defaults start from the struct's default value.
        Value d = {};
        make_default_constant_value(&d, type);
        if (is_block_constant(&d) && (d.constant.kind & CONSTANT_AGGREGATE)) {
            if (!constant_to_data(&d, variable->name_token)) return false;
            instruction_copy_constant(scope, &destination, &d);
        } else {
            instruction_set_to_zero(scope, &destination);
        }
        return true;
    }
    Value source = *initial;
    if (is_block_constant(&source)) {
        source.type = type;
        if (!constant_to_data(&source, initial->first)) return false;
    }
    instruction_copy_value(scope, &destination, &source);
    return true;
}

// [SECTION] Values

static bool make_value_dynamic(Scope *scope, Value *v) {
    if (v->kind & VALUE_KIND_DYNAMIC) return true;
    if (v->flags & VALUE_UNTYPED) value_set_default_type(v);
    Value source = *v;
    if (is_block_constant(&source) && !constant_to_data(&source, v->first)) return false;
    Value d;
    make_dynamic_value(scope, v->type, &d);
    instruction_copy_value(scope, &d, &source);
    d.first = v->first;
    d.last = v->last;
    *v = d;
    return true;
}

// A temporary holding `v`, unless `v` is already one that may be changed.
static Value working_copy(Scope *scope, Value *v) {
    if ((v->kind & VALUE_KIND_TEMPORARY) && !(v->kind & VALUE_KIND_INDIRECT)) return *v;
    Value d;
    make_dynamic_value(scope, v->type, &d);
    instruction_copy_value(scope, &d, v);
    return d;
}

static u64 mirrored(u64 op) {
    switch (op) {
    case OP_LESS: return OP_GREATER;
    case OP_GREATER: return OP_LESS;
    case OP_LESS_OR_EQUAL: return OP_GREATER_OR_EQUAL;
    case OP_GREATER_OR_EQUAL: return OP_LESS_OR_EQUAL;
    default: return op;
    }
}

static void to_boolean(Scope *scope, Value *v) {
    if (v->kind & VALUE_KIND_BOOLEAN) return;
    Value d = working_copy(scope, v);
    instruction_make_value_boolean(scope, &d);
    d.kind |= VALUE_KIND_BOOLEAN;
    *v = d;
}

static bool binary(Scope *scope, Value *left, u64 op, Value *right, Token *where) {
    Compiler_State *s = &global_compiler_state;
    if (right->flags & VALUE_UNTYPED) value_set_default_type(right);
    if (op & OP_CMP) {
        Value a = *left, b = *right;
        if (value_is_constant(&a)) {
            Value t = a;
            a = b;
            b = t;
            op = mirrored(op);
        }
        if (value_is_constant(&a) && !make_value_dynamic(scope, &a)) return false;
        if (is_block_constant(&b) && !make_value_dynamic(scope, &b)) return false;
        IR_Instruction *cmp = instruction_cmp(scope, &a, op, &b);
        cmp->first = where;
        Value d;
        make_dynamic_value(scope, s->type_b8, &d);
        IR_Instruction *store = instruction_get_cmp_result(scope, &d, op, cmp->flags & (IR_FLAG_SIGNED | IR_FLAG_REAL));
        store->first = where;
        d.first = left->first;
        *left = d;
        return true;
    }
    if (op & (OP_LOGICAL_AND | OP_LOGICAL_OR)) {
        // As a value both sides are computed; conditions short-circuit (statements.cpp).
        if (!make_value_dynamic(scope, left) || !make_value_dynamic(scope, right)) return false;
        to_boolean(scope, left);
        Value r = *right;
        to_boolean(scope, &r);
        left->type = s->type_b8;
        r.type = s->type_b8;
        instruction_arithmetic(scope, left, op == OP_LOGICAL_AND ? OP_AND : OP_OR, &r);
        left->kind |= VALUE_KIND_BOOLEAN;
        return true;
    }
    if (!make_value_dynamic(scope, left)) return false;
    Value d = working_copy(scope, left);
    Value r = *right;
    if (type_is_address(left->type) && (op == OP_ADD || op == OP_SUBTRACT) && !type_is_address(r.type)) {
        // Address arithmetic counts elements of the pointed-to type.
        Identifier *pointed = type_to_memory_address_of_type(left->type->leaf_type, left->type->pointer_depth - 1);
        u32 scale = pointed && pointed->size ? pointed->size : 1;
        if (scale != 1) {
            if (value_is_constant(&r)) {
                r.constant.u *= scale;
            } else {
                Value scaled = working_copy(scope, &r);
                Value k = {};
                make_constant_value_from_integer(&k, r.type, scale);
                instruction_arithmetic(scope, &scaled, OP_MULTIPLY, &k);
                r = scaled;
            }
        }
    }
    IR_Instruction *in = instruction_arithmetic(scope, &d, op, &r);
    in->first = where;
    d.first = left->first;
    *left = d;
    return true;
}

static bool unary(Scope *scope, Value *v, u64 op, Token *where) {
    Compiler_State *s = &global_compiler_state;
    if (op == OP_ADDRESS) {
        Identifier *type = type_to_memory_address_of_type(v->type, 1);
        if (!(v->kind & VALUE_KIND_DYNAMIC)) {
            print_error_on_token(where, "You cannot take the address of a constant.");
            return false;
        }
        if (v->kind & VALUE_KIND_INDIRECT) {
            // The register already holds the address.
            v->kind &= ~(VALUE_KIND_INDIRECT | VALUE_KIND_TEMPORARY);
            v->type = type;
            return true;
        }
        clear_and_set_allocation_hints(scope, v->reg, HINT_MEMORY | HINT_STAY_ALIVE);
        Value d;
        make_dynamic_value(scope, type, &d);
        instruction_take_address(scope, &d, v);
        *v = d;
        return true;
    }
    if (op == OP_INCREMENT || op == OP_DECREMENT) {
        Value one = {};
        make_constant_value_from_integer(&one, v->type, 1);
        instruction_arithmetic(scope, v, op == OP_INCREMENT ? OP_ADD : OP_SUBTRACT, &one);
        return true;
    }
    if (op == OP_LOGICAL_NOT) {
        Value zero = {};
        Value source = *v;
        source.type = v->type == s->type_b8 ? s->type_b8 : v->type;
        make_constant_value_from_integer(&zero, s->type_u8, 0);
        IR_Instruction *test = allocate_an_instruction(scope, IR_COMPARE_TO_ZERO);
        test->operands[0] = operand_from_value(&source);
        test->num_operands = 1;
        Value d;
        make_dynamic_value(scope, s->type_b8, &d);
        instruction_get_cmp_result(scope, &d, OP_EQUAL);
        *v = d;
        return true;
    }
    Value d;
    make_dynamic_value(scope, v->type, &d);
    if (op == OP_NOT) {
        instruction_copy_variable(scope, &d, v);
        Value ones = {};
        make_constant_value_from_integer(&ones, v->type, ~0ull);
        instruction_arithmetic(scope, &d, OP_XOR, &ones);
    } else {
        // Negation is 0 - v.
        Value zero = {};
        if (number_class_of_type(v->type) == IR_CLASS_REAL) {
            zero.flags = VALUE_CONSTANT;
            zero.type = v->type;
            zero.constant.kind = CONSTANT_REAL;
            zero.constant.f = 0.0;
        } else {
            make_constant_value_from_integer(&zero, v->type, 0);
        }
        instruction_copy_constant(scope, &d, &zero);
        instruction_arithmetic(scope, &d, OP_SUBTRACT, v);
    }
    d.first = where;
    *v = d;
    return true;
}

// The address held by `v` (an address value), in a register.
static Value address_of_pointer_value(Scope *scope, Value *v) {
    if (!(v->kind & VALUE_KIND_INDIRECT) && (v->kind & VALUE_KIND_DYNAMIC)) return *v;
    Value d;
    make_dynamic_value(scope, v->type, &d);
    instruction_copy_value(scope, &d, v);
    return d;
}

// The value at (address + offset), as an indirect value of `type`.
static void at_address(Scope *scope, Value address, u64 offset, Identifier *type, Value *out) {
    Value a = address;
    if (offset) {
        Value copy;
        make_dynamic_value(scope, address.type, &copy);
        instruction_copy_variable(scope, &copy, &address);
        Value k = {};
        make_constant_value_from_integer(&k, global_compiler_state.type_u64, offset);
        instruction_arithmetic(scope, &copy, OP_ADD, &k);
        a = copy;
    }
    *out = a;
    out->type = type;
    out->kind = VALUE_KIND_DYNAMIC | VALUE_KIND_INDIRECT;
}

static bool member(Scope *scope, Value *base, u32 offset, Identifier *type, Value *out) {
    Value b = *base;
    if (value_is_constant(&b) && !make_value_dynamic(scope, &b)) return false;
    bool through_address = b.type && b.type->pointer_depth == 1;
    bool embedded = out && (out->flags & VALUE_EMBEDDED_ARRAY);
    Identifier *member_type = type;
    Value result = {};
    if (through_address) {
        Value a = address_of_pointer_value(scope, &b);
        at_address(scope, a, offset, member_type, &result);
    } else if (b.kind & VALUE_KIND_INDIRECT) {
        Value a = b;
        a.kind &= ~VALUE_KIND_INDIRECT;
        at_address(scope, a, offset, member_type, &result);
    } else {
        Register_Id view = allocate_within_register(scope, b.reg, offset, member_type ? member_type->size : 8, member_type);
        make_dynamic_value_from_register(view, member_type, &result);
    }
    if (embedded) {
        // An embedded array reads as the address of its first element.
        if (result.kind & VALUE_KIND_INDIRECT) {
            result.kind &= ~VALUE_KIND_INDIRECT;
        } else {
            clear_and_set_allocation_hints(scope, b.reg, HINT_MEMORY | HINT_STAY_ALIVE);
            Value d;
            make_dynamic_value(scope, type, &d);
            instruction_take_address(scope, &d, &result);
            result = d;
        }
        result.flags |= VALUE_EMBEDDED_ARRAY;
    }
    result.type = type;
    *out = result;
    return true;
}

static bool cast(Scope *scope, Value *v, Identifier *type, Token *where);

// Arrays and Strings keep their count at offset 8. A dynamic index is
// compared with it as an unsigned number (a negative one is huge); when it is
// not below, ud2 and its reason byte stop the program with a named fault.
static void bounds_check(Scope *scope, Value *base, Value idx) {
    static const u8 TRAP[] = {0x0F, 0x0B, TRAP_KIND_BAD_INDEX}; // ud2; the reason
    Compiler_State *s = &global_compiler_state;
    Value count = {};
    if (!member(scope, base, 8, s->type_u64, &count)) return;
    if (!cast(scope, &idx, s->type_u64, nullptr)) return;
    IR_Instruction *ok = make_label(scope);
    instruction_cmp(scope, &idx, OP_LESS, &count, 0);
    instruction_jump_if(scope, IR_CONDITION_LT, ok, 0);
    IR_Instruction *trap = allocate_an_instruction(scope, IR_EMBED_MACHINE_CODE);
    trap->operands[0].kind = IR_OPERAND_BYTES;
    trap->operands[0].bytes = TRAP;
    trap->operands[0].size = sizeof TRAP;
    trap->num_operands = 1;
    place_instruction(scope, ok);
}

static bool index(Scope *scope, Value *base, Value *i, Value *out) {
    Compiler_State *s = &global_compiler_state;
    Identifier *element = out->type;
    Value b = *base;
    if (value_is_constant(&b) && !make_value_dynamic(scope, &b)) return false;
    Value address;
    if (b.type && b.type->pointer_depth && !(b.type->flags & TYPE_ARRAY_STRUCT)) {
        address = address_of_pointer_value(scope, &b);
    } else {
        Value data = {};
        data.flags = 0;
        if (!member(scope, &b, 0, type_to_memory_address_of_type(element, 1), &data)) return false;
        address = address_of_pointer_value(scope, &data);
    }
    Value idx = *i;
    if (idx.flags & VALUE_UNTYPED) value_set_default_type(&idx);
    bool counted = !(b.type && b.type->pointer_depth) && !(b.type && (b.type->flags & TYPE_FIXED_SIZE_ARRAY));
    if (counted && !value_is_constant(&idx)) bounds_check(scope, &b, idx);
    Value d;
    make_dynamic_value(scope, type_to_memory_address_of_type(element, 1), &d);
    IR_Instruction *in = allocate_an_instruction(scope, IR_CALCULATE_ADDRESS);
    in->operands[0] = operand_from_value(&d);
    in->operands[1] = operand_from_value(&address);
    in->operands[2] = operand_from_value(&idx);
    in->operands[3] = operand_from_constant(element ? element->size : 1, 4, IR_CLASS_UNSIGNED);
    in->num_operands = 4;
    *out = d;
    out->type = element;
    out->kind = VALUE_KIND_DYNAMIC | VALUE_KIND_INDIRECT;
    (void)s;
    return true;
}

static bool cast(Scope *scope, Value *v, Identifier *type, Token *where) {
    Identifier *from = v->type;
    bool same_bits = from && type && from->size == type->size && number_class_of_type(from) != IR_CLASS_REAL &&
                     number_class_of_type(type) != IR_CLASS_REAL;
    if (same_bits || !from || number_class_of_type(type) == IR_CLASS_NONE) {
        v->type = type;
        return true;
    }
    Value d;
    make_dynamic_value(scope, type, &d);
    IR_Instruction *in = instruction_cast(scope, &d, v);
    in->first = where;
    d.first = v->first;
    d.last = v->last;
    *v = d;
    return true;
}

static bool assign(Scope *scope, Value *destination, Value *source, Token *where) {
    Value s = *source;
    if (is_block_constant(&s)) {
        s.type = destination->type;
        if (!constant_to_data(&s, where)) return false;
    }
    IR_Instruction *in = instruction_copy_value(scope, destination, &s);
    in->first = where;
    return true;
}

// [SECTION] '&&' and '||' as values

// A b8 temporary holding 0 or 1 for the truth of `v`.
static Value truth_temporary(Scope *scope, Value *v) {
    Compiler_State *s = &global_compiler_state;
    Value d;
    if (value_is_constant(v)) {
        bool truth = (v->constant.kind & CONSTANT_REAL) ? v->constant.f != 0.0 : v->constant.u != 0;
        Value k = {};
        make_constant_value_from_integer(&k, s->type_b8, truth ? 1 : 0);
        make_dynamic_value(scope, s->type_b8, &d);
        instruction_copy_constant(scope, &d, &k);
        return d;
    }
    if ((v->kind & VALUE_KIND_BOOLEAN) && (v->kind & VALUE_KIND_TEMPORARY) && !(v->kind & VALUE_KIND_INDIRECT) && v->type &&
        v->type->size == 1) {
        d = *v;
        d.type = s->type_b8;
        return d;
    }
    Value t = working_copy(scope, v);
    instruction_make_value_boolean(scope, &t);
    t.kind |= VALUE_KIND_BOOLEAN;
    if (t.type && t.type->size == 1) {
        t.type = s->type_b8;
        return t;
    }
    make_dynamic_value(scope, s->type_b8, &d);
    instruction_cast(scope, &d, &t);
    d.kind |= VALUE_KIND_BOOLEAN;
    return d;
}

static IR_Instruction *logical_begin(Scope *scope, Value *left, u64 op, Token *where) {
    if (!make_value_dynamic(scope, left)) return nullptr;
    Value d = truth_temporary(scope, left);
    IR_Instruction *test = allocate_an_instruction(scope, IR_COMPARE_TO_ZERO);
    test->operands[0] = operand_from_value(&d);
    test->num_operands = 1;
    test->first = where;
    IR_Instruction *end_label = make_label(scope);
    instruction_jump_if(scope, op == OP_LOGICAL_AND ? IR_CONDITION_ZE : IR_CONDITION_NZ, end_label);
    d.first = left->first;
    *left = d;
    return end_label;
}

// With no label the left side was a constant that did not decide: the result is the right side's truth.
static bool logical_end(Scope *scope, Value *left, Value *right, IR_Instruction *end_label, Token *where) {
    Compiler_State *s = &global_compiler_state;
    if (right->flags & VALUE_UNTYPED) value_set_default_type(right);
    Value r = truth_temporary(scope, right);
    if (!end_label) {
        *left = r;
        left->type = s->type_b8;
        return true;
    }
    IR_Instruction *copy = instruction_copy_variable(scope, left, &r);
    copy->first = where;
    place_instruction(scope, end_label);
    left->type = s->type_b8;
    left->kind |= VALUE_KIND_BOOLEAN;
    return true;
}

// [SECTION] Array literals with run-time items

static bool array_literal(Scope *scope, Identifier *type, u32 capacity, u32 count, Value *out) {
    Compiler_State *s = &global_compiler_state;
    Identifier *element = type->element_type;
    u64 stride = element->size;
    if (element->alignment > 1) stride = (stride + element->alignment - 1) & ~(u64)(element->alignment - 1);
    u64 bytes = stride * capacity;
    if (bytes > 0x7FFFFFFF) {
        print_error("This array literal is too large.");
        return false;
    }
    // The elements stay in the frame for as long as the sub-program runs: the array value may be kept.
    Register_Id area = allocate_a_register(scope, (u32)(bytes ? bytes : 1), nullptr, element->alignment ? element->alignment : 1);
    Identifier *address_type = type_to_memory_address_of_type(element, 1);
    if (register_id_is_valid(area) && area.pool == REGISTER_POOL_STACK) clear_and_set_allocation_hints(scope, area, HINT_MEMORY | HINT_STAY_ALIVE);
    IR_Instruction *zero = allocate_an_instruction(scope, IR_SET_TO_ZERO);
    zero->operands[0] = operand_from_register(area, (u32)(bytes ? bytes : 1), IR_CLASS_NONE);
    zero->num_operands = 1;
    Value view;
    make_dynamic_value(scope, type, &view);
    instruction_set_to_zero(scope, &view);
    Value area_value;
    make_dynamic_value_from_register(area, address_type, &area_value);
    Value address;
    make_dynamic_value(scope, address_type, &address);
    instruction_take_address(scope, &address, &area_value);
    static const char *names[] = {"data", "count", "allocated"};
    for (const char *name : names) {
        Identifier *m = get_identifier_in_scope(type->member_scope, (const u8 *)name, (s64)strlen(name));
        if (!m) continue;
        Value field;
        make_dynamic_value_from_register(allocate_within_register(scope, view.reg, m->offset, m->type->size, m->type), m->type, &field);
        if (name[0] == 'd') {
            instruction_copy_variable(scope, &field, &address);
        } else {
            Value k = {};
            make_constant_value_from_integer(&k, m->type, count);
            instruction_copy_constant(scope, &field, &k);
        }
    }
    (void)s;
    *out = view;
    return true;
}

bool emit_call(Scope *scope, Identifier *sub_program, Value *callee, Value *arguments, u32 num_arguments, Value *out, Token *where);

void ir_install_code_generator() {
    code_generator.compile_sub_program_body = compile_sub_program_body;
    code_generator.make_instructions_in_scope = make_instructions_in_scope;
    code_generator.declare_variable = declare_variable;
    code_generator.make_value_dynamic = make_value_dynamic;
    code_generator.binary = binary;
    code_generator.unary = unary;
    code_generator.logical_begin = logical_begin;
    code_generator.logical_end = logical_end;
    code_generator.member = member;
    code_generator.index = index;
    code_generator.cast = cast;
    code_generator.array_literal = array_literal;
    code_generator.assign = assign;
    code_generator.call = emit_call;
}
