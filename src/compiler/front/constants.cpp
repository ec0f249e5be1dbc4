// Constant values: literals, folding of unary and binary operators, the
// conversions of constants between types, and the constant data section.
#include "compiler/front/compiler.h"
#include "compiler/front/code_hooks.h"
#include "compiler/front/diagnostics.h"
#include "core/strings.h"
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

// [SECTION] Literals

u32 integer_size_for_magnitude(u64 magnitude) {
    if (magnitude < 256) return 1;
    if (magnitude < 65536) return 2;
    if (magnitude > 0xFFFFFFFFull) return 8;
    return 4;
}

u64 string_to_s64(String text, bool *ok) {
    *ok = true;
    s64 i = 0;
    bool negative = false;
    // Skip underscores everywhere, including between the sign and the digits.
    auto skip = [&]() { while (i < text.count && text.data[i] == '_') i++; };
    skip();
    if (i < text.count && (text.data[i] == '+' || text.data[i] == '-')) {
        negative = text.data[i] == '-';
        i++;
    }
    skip();
    u64 base = 10;
    if (i + 1 < text.count && text.data[i] == '0' && (text.data[i + 1] == 'x' || text.data[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i + 1 < text.count && text.data[i] == '0' && (text.data[i + 1] == 'b' || text.data[i + 1] == 'B')) {
        base = 2;
        i += 2;
    }
    u64 value = 0;
    bool any = false;
    for (; i < text.count; i++) {
        u8 c = text.data[i];
        if (c == '_') continue;
        u64 digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else digit = 99;
        if (digit >= base) {
            *ok = false;
            return 0;
        }
        value = value * base + digit;
        any = true;
    }
    if (!any && base == 10) *ok = false;
    return negative ? (u64)0 - value : value;
}

String get_real_string(String text) {
    if (!string_contains_character(text.data, text.count, '\\')) return text;
    Compiler_State *state = &global_compiler_state;
    u8 *out;
    if (state->real_strings && state->real_strings_used + (u64)text.count <= REAL_STRINGS_MEMORY) {
        out = state->real_strings + state->real_strings_used;
    } else {
        out = (u8 *)arena_allocate((u64)text.count + 1, 1); // past the region's capacity
    }
    s64 n = 0;
    for (s64 i = 0; i < text.count; i++) {
        u8 c = text.data[i];
        if (c != '\\' || i + 1 >= text.count) {
            out[n++] = c;
            continue;
        }
        u8 e = text.data[++i];
        switch (e) {
        case '"': out[n++] = '"'; break;
        case '\\': out[n++] = '\\'; break;
        case 'a': out[n++] = 7; break;
        case 'b': out[n++] = 8; break;
        case 'e': out[n++] = 27; break;
        case 'f': out[n++] = 12; break;
        case 'n': out[n++] = 10; break;
        case 'r': out[n++] = 13; break;
        case 't': out[n++] = 9; break;
        case 'v': out[n++] = 11; break;
        default: out[n++] = (e >= '0' && e <= '9') ? (u8)(e - '0') : (u8)'?'; break;
        }
    }
    if (out >= state->real_strings && out < state->real_strings + REAL_STRINGS_MEMORY) state->real_strings_used += (u64)n;
    return String{out, n};
}

u64 allocate_constant_data(u64 size, u64 alignment) {
    Compiler_State *state = &global_compiler_state;
    u64 start = (state->constant_data_used + alignment - 1) & ~(alignment - 1);
    if (start + size > CONSTANT_DATA_BUCKET_SIZE) return ~0ull;
    state->constant_data_used = start + size;
    return start;
}

static u64 hash_bytes(String s) {
    u64 h = 14695981039346656037ull;
    for (s64 i = 0; i < s.count; i++) h = (h ^ s.data[i]) * 1099511628211ull;
    return h;
}

// Each distinct content is placed once; returns its offset (~0 when full).
u64 get_existing_string_constant_data(String bytes) {
    Compiler_State *state = &global_compiler_state;
    if ((state->string_table_count + 1) * 2 > state->string_table_capacity) {
        u32 capacity = state->string_table_capacity ? state->string_table_capacity * 2 : 256;
        auto *table = (decltype(state->string_table))arena_allocate(sizeof(*state->string_table) * capacity);
        memset(table, 0xFF, sizeof(*state->string_table) * capacity);
        for (u32 i = 0; i < state->string_table_capacity; i++) {
            auto &e = state->string_table[i];
            if (e.offset == ~0ull) continue;
            u32 j = (u32)e.hash & (capacity - 1);
            while (table[j].offset != ~0ull) j = (j + 1) & (capacity - 1);
            table[j] = e;
        }
        state->string_table = table;
        state->string_table_capacity = capacity;
    }
    u64 h = hash_bytes(bytes);
    u32 mask = state->string_table_capacity - 1;
    u32 j = (u32)h & mask;
    for (; state->string_table[j].offset != ~0ull; j = (j + 1) & mask) {
        auto &e = state->string_table[j];
        if (e.hash == h && e.count == (u64)bytes.count &&
            (bytes.count == 0 || memcmp(state->constant_data + e.offset, bytes.data, (size_t)bytes.count) == 0)) {
            return e.offset;
        }
    }
    u64 offset = allocate_constant_data((u64)bytes.count + 1, 1);
    if (offset == ~0ull) return offset;
    if (bytes.count) memcpy(state->constant_data + offset, bytes.data, (size_t)bytes.count);
    state->constant_data[offset + bytes.count] = 0;
    state->string_table[j] = {h, offset, (u64)bytes.count};
    state->string_table_count++;
    return offset;
}

bool make_constant_value_from_token(Value *out, Token *token, bool split_sign) {
    memset(out, 0, sizeof *out);
    out->flags = VALUE_CONSTANT | VALUE_UNTYPED;
    out->first = out->last = token;
    String text = token_string(token);
    if (split_sign) {
        text.data++;
        text.count--;
    }
    if (token->kind & TOKEN_INTEGER_LITERAL) {
        bool ok;
        u64 v = string_to_s64(text, &ok);
        if (!ok) {
            print_error_on_token(token, "'%s' is not a valid number.", token_to_c_string(token));
            return false;
        }
        bool is_signed = (token->kind & TOKEN_SIGNED_INTEGER) && !split_sign;
        out->constant.kind = is_signed ? CONSTANT_SIGNED : CONSTANT_UNSIGNED;
        out->constant.u = v;
        u64 magnitude = is_signed && (s64)v < 0 ? (u64)0 - v : v;
        out->constant.size = integer_size_for_magnitude(magnitude);
        return true;
    }
    if (token->kind & TOKEN_REAL) {
        char buffer[128];
        s64 n = 0;
        for (s64 i = 0; i < text.count && n < (s64)sizeof buffer - 1; i++) {
            if (text.data[i] != '_') buffer[n++] = (char)text.data[i];
        }
        buffer[n] = 0;
        char *end = nullptr;
        f64 f = strtod(buffer, &end);
        bool digits_only = true;
        for (s64 i = 0; i < n; i++) {
            char c = buffer[i];
            if (!((c >= '0' && c <= '9') || c == '.' || ((c == '-' || c == '+') && i == 0))) digits_only = false;
        }
        if (!end || *end || n == 0 || text.count >= (s64)sizeof buffer || !digits_only) {
            print_error_on_token(token, "'%s' is not a valid number.", token_to_c_string(token));
            return false;
        }
        out->constant.kind = CONSTANT_REAL;
        out->constant.f = split_sign && token->text[0] == '-' ? f : f;
        out->constant.size = 8;
        return true;
    }
    if (token->kind & TOKEN_STRING) {
        String bytes = get_real_string(text);
        out->constant.kind = CONSTANT_STRING;
        out->constant.string = bytes;
        out->constant.data_offset = get_existing_string_constant_data(bytes);
        if (out->constant.data_offset == ~0ull) {
            print_error_on_token(token, "The constant data section is full.");
            return false;
        }
        out->constant.size = 16;
        out->type = global_compiler_state.type_String;
        return true;
    }
    print_error_on_token(token, "This is unexpected here.");
    return false;
}

void make_constant_value_from_type(Value *out, Identifier *type) {
    out->flags = VALUE_CONSTANT;
    out->type = global_compiler_state.type_Type;
    memset(&out->constant, 0, sizeof out->constant);
    out->constant.kind = CONSTANT_TYPE;
    out->constant.size = 8;
    out->constant.type_value = type;
}

// [SECTION] Types of constants

static Identifier *numeric_view(Identifier *t) {
    if (t && t->pointer_depth == 0 && (t->flags & TYPE_ENUM) && t->base_type) return t->base_type;
    return t;
}

Identifier *untyped_literal_type(const Value *v) {
    Compiler_State *s = &global_compiler_state;
    const Constant &c = v->constant;
    if (c.kind & CONSTANT_REAL) return s->type_f32;
    if (c.kind & CONSTANT_STRING) return s->type_String;
    if (c.kind & CONSTANT_SIGNED) {
        s64 x = c.s;
        u64 m = x < 0 ? (u64)0 - (u64)x : (u64)x;
        // A negative value needs one more bit than its magnitude.
        if (m <= 128 && x < 0) return s->type_s8;
        if (m < 128) return s->type_s8;
        if (m <= 32768 && x < 0) return s->type_s16;
        if (m < 32768) return s->type_s16;
        if (m <= 2147483648ull && x < 0) return s->type_s32;
        if (m < 2147483648ull) return s->type_s32;
        return s->type_s64;
    }
    switch (c.size) {
    case 1: return s->type_u8;
    case 2: return s->type_u16;
    case 4: return s->type_u32;
    default: return s->type_u64;
    }
}

void value_set_default_type(Value *v) {
    if (!(v->flags & VALUE_UNTYPED)) return;
    Compiler_State *s = &global_compiler_state;
    v->flags &= ~VALUE_UNTYPED;
    if (v->constant.kind & CONSTANT_REAL) {
        v->type = s->type_f32;
        v->constant.f = (f64)(f32)v->constant.f;
        v->constant.size = 4;
    } else if (v->constant.kind & CONSTANT_STRING) {
        v->type = s->type_String;
    } else if (v->constant.kind & CONSTANT_SIGNED) {
        v->type = s->type_s64;
        v->constant.size = 8;
    } else {
        v->type = s->type_u64;
        v->constant.size = 8;
    }
}

// Truncates or extends integer bits to the type's size and signedness.
static u64 normalise_integer(u64 bits, Identifier *type) {
    Identifier *t = numeric_view(type);
    u32 size = t->size ? t->size : 8;
    if (size >= 8) return bits;
    u32 shift = 64 - size * 8;
    if (t->flags & TYPE_SIGNED) return (u64)((s64)(bits << shift) >> shift);
    return (bits << shift) >> shift;
}

static void set_integer(Value *v, Identifier *type, u64 bits) {
    Identifier *t = numeric_view(type);
    v->type = type;
    v->flags = (v->flags | VALUE_CONSTANT) & ~VALUE_UNTYPED;
    v->constant.kind = (t->flags & TYPE_SIGNED) ? CONSTANT_SIGNED : CONSTANT_UNSIGNED;
    v->constant.size = t->size;
    v->constant.u = normalise_integer(bits, type);
}

static void set_real(Value *v, Identifier *type, f64 f) {
    v->type = type;
    v->flags = (v->flags | VALUE_CONSTANT) & ~VALUE_UNTYPED;
    v->constant.kind = CONSTANT_REAL;
    v->constant.size = type->size;
    v->constant.f = type->size == 4 ? (f64)(f32)f : f;
}

void make_constant_value_from_integer(Value *out, Identifier *type, u64 bits) {
    memset(&out->constant, 0, sizeof out->constant);
    set_integer(out, type, bits);
}

static u64 real_to_integer_bits(f64 f, Identifier *type) {
    Identifier *t = numeric_view(type);
    if (f != f) return 0;
    if (t->flags & TYPE_SIGNED) {
        if (f >= 9223372036854775807.0) return (u64)INT64_MAX;
        if (f <= -9223372036854775808.0) return (u64)INT64_MIN;
        return (u64)(s64)f;
    }
    if (f <= 0) return f <= -9223372036854775808.0 ? (u64)INT64_MIN : (u64)(s64)f;
    if (f >= 18446744073709551615.0) return ~0ull;
    return (u64)f;
}

static bool string_as_integer(Value *v, Token *where, bool unary) {
    String s = v->constant.string;
    if (s.count > 8) {
        if (unary) {
            print_error_on_token(where, "To use a string as a number, make sure it is no greater than 8 bytes in size. The string you want to use is %s.",
                                 size_to_c_string((u64)s.count));
        } else {
            print_error_on_token(where, "This string is too big to be used as an integer.");
        }
        return false;
    }
    u64 bits = 0;
    for (s64 i = 0; i < s.count; i++) bits |= (u64)s.data[i] << (8 * i);
    v->constant.kind = CONSTANT_UNSIGNED;
    v->constant.u = bits;
    v->constant.size = integer_size_for_magnitude(bits);
    v->flags |= VALUE_UNTYPED;
    v->type = nullptr;
    return true;
}

// Converts a constant's payload to `type`; the caller has checked the rule.
static void convert_constant(Value *v, Identifier *type, bool explicit_cast) {
    Identifier *t = numeric_view(type);
    Constant &c = v->constant;
    if (t->pointer_depth == 0 && (t->flags & TYPE_NUMBER)) {
        if (t->flags & TYPE_REAL) {
            f64 f = (c.kind & CONSTANT_REAL) ? c.f : (c.kind & CONSTANT_SIGNED) ? (f64)c.s : (f64)c.u;
            set_real(v, type, f);
        } else if (c.kind & CONSTANT_REAL) {
            if ((t->flags & TYPE_BOOLEAN)) set_integer(v, type, c.f != 0.0);
            else set_integer(v, type, real_to_integer_bits(c.f, type));
        } else {
            u64 bits = c.u;
            if ((t->flags & TYPE_BOOLEAN) && (explicit_cast || true)) bits = bits != 0;
            set_integer(v, type, bits);
        }
        return;
    }
    if (t->pointer_depth > 0 && (c.kind & CONSTANT_INTEGER)) {
        v->type = type;
        v->flags = (v->flags | VALUE_CONSTANT) & ~VALUE_UNTYPED;
        c.kind = CONSTANT_UNSIGNED;
        c.size = 8;
        return;
    }
    v->type = type;
    v->flags &= ~VALUE_UNTYPED;
}

static bool integer_fits(const Value *v, Identifier *type) {
    Identifier *t = numeric_view(type);
    if (t->flags & TYPE_BOOLEAN) return true;
    u32 bits = t->size * 8;
    bool negative = (v->constant.kind & CONSTANT_SIGNED) && v->constant.s < 0;
    if (t->flags & TYPE_SIGNED) {
        s64 x = v->constant.s;
        if (!negative && v->constant.u > (u64)INT64_MAX) return false;
        if (bits >= 64) return true;
        s64 lo = -((s64)1 << (bits - 1)), hi = ((s64)1 << (bits - 1)) - 1;
        return x >= lo && x <= hi;
    }
    if (negative) return false;
    return bits >= 64 || v->constant.u < ((u64)1 << bits);
}

static bool is_fixed_size_array(Identifier *t) {
    return t && t->pointer_depth == 0 && (t->flags & TYPE_FIXED_SIZE_ARRAY);
}

// A run-time value takes `type`; the back end converts it when the bits change.
static bool retype_dynamic(Value *v, Identifier *type, Token *where) {
    if (code_generation_enabled() && (v->kind & VALUE_KIND_DYNAMIC) && v->type != type) {
        return code_generator.cast(current_expression_scope(), v, type, where);
    }
    v->type = type;
    return true;
}

bool check_sub_program_address(const Value *v, Token *where) {
    if (!value_is_constant(v) || !(v->constant.kind & CONSTANT_SUB_PROGRAM) || !v->constant.type_value) return true;
    Identifier *sub = v->constant.type_value;
    if (sub->flags & IDENTIFIER_POLYMORPHIC) {
        print_error_on_token(where, "You cannot take the address of a polymorphic sub-program.");
        return false;
    }
    if (sub->flags & SUB_PROGRAM_INLINED) {
        print_error_on_token(where, "You cannot take the address of an inlined sub-program.");
        return false;
    }
    return true;
}

bool cast_value_to_type(Value *v, Identifier *type, Token *where) {
    Compiler_State *s = &global_compiler_state;
    if (!type) return true;
    if (!where) where = v->first;
    // A sub-program given where a value is wanted stands for its address.
    if (!check_sub_program_address(v, where)) return false;
    // Two fixed-size arrays only fit when they hold as many elements of one type.
    if (is_fixed_size_array(type) && is_fixed_size_array(v->type) && !types_perfectly_match(type, v->type)) {
        print_error_on_token(where, "Type '%s' is incompatible with type '%s'.", type_to_c_string(v->type), type_to_c_string(type));
        return false;
    }
    if (!value_is_constant(v)) return check_imperfect_types_mix(type, v->type, where) && retype_dynamic(v, type, where);
    Identifier *t = numeric_view(type);
    bool number_expected = t->pointer_depth == 0 && (t->flags & TYPE_NUMBER);
    if ((v->constant.kind & CONSTANT_STRING) && number_expected && !(type->flags & IDENTIFIER_STRING_TYPE)) {
        if (!string_as_integer(v, where, true)) return false;
    }
    if (v->flags & VALUE_UNTYPED) {
        if ((v->constant.kind & CONSTANT_INTEGER) && number_expected) {
            if (!(t->flags & TYPE_REAL) && !integer_fits(v, type)) {
                return check_imperfect_types_mix(type, untyped_literal_type(v), where);
            }
            convert_constant(v, type, false);
            return true;
        }
        if ((v->constant.kind & CONSTANT_REAL) && number_expected && (t->flags & (TYPE_REAL | TYPE_BOOLEAN))) {
            convert_constant(v, type, false);
            return true;
        }
        Identifier *source = untyped_literal_type(v);
        if (!check_imperfect_types_mix(type, source, where)) return false;
        convert_constant(v, type, false);
        return true;
    }
    if (v->type == s->type_Type && type == s->type_Type) return true;
    if (!check_imperfect_types_mix(type, v->type, where)) return false;
    if ((v->constant.kind & CONSTANT_NUMBER) || type_is_address(type)) convert_constant(v, type, false);
    else v->type = type;
    return true;
}

bool explicit_cast_value(Value *v, Identifier *type, Token *where) {
    Compiler_State *s = &global_compiler_state;
    if (v->flags & VALUE_UNTYPED) {
        if ((v->constant.kind & CONSTANT_STRING)) v->flags &= ~VALUE_UNTYPED, v->type = s->type_String;
    }
    Identifier *from = v->flags & VALUE_UNTYPED ? untyped_literal_type(v) : v->type;
    if (!from) {
        print_error_on_token(where, "This value has no type.");
        return false;
    }
    Identifier *f = numeric_view(from), *t = numeric_view(type);
    if (types_perfectly_match(from, type) || types_perfectly_match(f, t)) {
        if (value_is_constant(v) && (v->constant.kind & CONSTANT_NUMBER)) convert_constant(v, type, true);
        v->type = type;
        v->flags &= ~VALUE_UNTYPED;
        return true;
    }
    bool f_number = f->pointer_depth == 0 && (f->flags & TYPE_NUMBER);
    bool t_number = t->pointer_depth == 0 && (t->flags & TYPE_NUMBER);
    if (f_number && t_number) {
        if (value_is_constant(v)) convert_constant(v, type, true);
        else return retype_dynamic(v, type, where);
        return true;
    }
    if (type_is_address(type)) {
        if (type_is_address(from)) {
            v->type = type;
            v->flags &= ~VALUE_UNTYPED;
            return true;
        }
        if (value_is_constant(v)) {
            if (v->constant.kind & CONSTANT_REAL) {
                print_error_on_token(where, "Only integers can be used as memory addresses. It looks like you are trying to use a real number instead.");
                return false;
            }
            if (!(v->constant.kind & CONSTANT_INTEGER)) {
                print_error_on_token(where, "This constant cannot be used as a memory address.");
                return false;
            }
            convert_constant(v, type, true);
            return true;
        }
        if (!(f->pointer_depth == 0 && (f->flags & (TYPE_SIGNED | TYPE_UNSIGNED)))) {
            print_error_on_token(where, "It seems you are trying to cast a value of type '%s' to type '%s'. Only integer values can be cast to a memory address.",
                                 type_to_c_string(from), type_to_c_string(type));
            return false;
        }
        return retype_dynamic(v, type, where);
    }
    // A struct with an #as member casts as that member's value.
    if (from->pointer_depth == 0 && (from->flags & TYPE_STRUCT) && from->member_scope && t_number) {
        u32 index = 0;
        for (Bucket_Iterator it = bucket_iterate(&from->member_scope->variables); it.element; bucket_iterator_next(&it), index++) {
            Identifier *m = (Identifier *)it.element;
            if (!(m->flags & IDENTIFIER_AS_MEMBER)) continue;
            Value member = *v;
            member.type = m->type;
            member.flags &= ~VALUE_UNTYPED;
            if (value_is_constant(v)) {
                if (!(v->constant.kind & CONSTANT_AGGREGATE) || index >= v->constant.item_count) break;
                member.constant = v->constant.items[index];
            }
            if (!explicit_cast_value(&member, type, where)) return false;
            *v = member;
            return true;
        }
    }
    print_error_on_token(where, "You cannot cast a value of type '%s' to type '%s'.", type_to_c_string(from), type_to_c_string(type));
    return false;
}

// [SECTION] Folding

static bool check_foldable(Value *v, Token *where, bool unary) {
    if ((v->constant.kind & CONSTANT_STRING) && !(v->flags & VALUE_UNTYPED) && v->type != global_compiler_state.type_String) return true;
    if (v->constant.kind & CONSTANT_STRING) return string_as_integer(v, where, unary);
    return (v->constant.kind & CONSTANT_NUMBER) != 0;
}

bool apply_unary_operation_on_constant(Value *v, u64 op, Token *where) {
    Compiler_State *s = &global_compiler_state;
    if (!check_foldable(v, where, true) || !(v->constant.kind & CONSTANT_NUMBER)) {
        print_error_on_token(where, "You can only use numbers and strings-as-numbers here.");
        return false;
    }
    Constant &c = v->constant;
    bool untyped = v->flags & VALUE_UNTYPED;
    if (op == OP_LOGICAL_NOT) {
        bool zero = (c.kind & CONSTANT_REAL) ? c.f == 0.0 : c.u == 0;
        memset(&c, 0, sizeof c);
        set_integer(v, s->type_b8, zero ? 1 : 0);
        return true;
    }
    if (c.kind & CONSTANT_REAL) {
        switch (op) {
        case OP_INCREMENT: c.f += 1.0; break;
        case OP_DECREMENT: c.f -= 1.0; break;
        case OP_NEGATE: case OP_SUBTRACT: c.f = -c.f; break;
        case OP_NOT: c.u = ~c.u; break;
        default: print_error_on_token(where, "This operator cannot be used here."); return false;
        }
        if (!untyped && v->type) set_real(v, v->type, c.f);
        return true;
    }
    switch (op) {
    case OP_INCREMENT: c.u += 1; break;
    case OP_DECREMENT: c.u -= 1; break;
    case OP_NEGATE: case OP_SUBTRACT: c.u = (u64)0 - c.u; break;
    case OP_NOT: c.u = ~c.u; break;
    default: print_error_on_token(where, "This operator cannot be used here."); return false;
    }
    if (untyped) {
        // A negated literal is signed; its size follows its new magnitude.
        if (op == OP_NEGATE || op == OP_SUBTRACT || (c.kind & CONSTANT_SIGNED)) c.kind = CONSTANT_SIGNED;
        u64 magnitude = (c.kind & CONSTANT_SIGNED) && c.s < 0 ? (u64)0 - c.u : c.u;
        c.size = op == OP_NOT ? 8 : integer_size_for_magnitude(magnitude);
    } else {
        set_integer(v, v->type, c.u);
    }
    return true;
}

static bool fold_integers(u64 op, u64 a, u64 b, bool is_signed, u32 size, u64 *out, Token *where) {
    u32 bits = size * 8;
    switch (op) {
    case OP_ADD: *out = a + b; return true;
    case OP_SUBTRACT: *out = a - b; return true;
    case OP_MULTIPLY: *out = a * b; return true;
    case OP_DIVIDE:
    case OP_MODULO:
        if (b == 0) {
            print_error_on_token(where, "It looks like you are dividing by zero.");
            return false;
        }
        if (is_signed) {
            if ((s64)b == -1) *out = op == OP_DIVIDE ? (u64)0 - a : 0; // avoids the INT64_MIN / -1 trap
            else *out = op == OP_DIVIDE ? (u64)((s64)a / (s64)b) : (u64)((s64)a % (s64)b);
        } else {
            *out = op == OP_DIVIDE ? a / b : a % b;
        }
        return true;
    case OP_SHIFT_LEFT: *out = b >= 64 ? 0 : a << b; return true;
    case OP_SHIFT_RIGHT:
        if (is_signed) *out = (u64)((s64)a >> (b >= 63 ? 63 : b));
        else *out = b >= 64 ? 0 : a >> b;
        return true;
    case OP_ROTATE_LEFT:
    case OP_ROTATE_RIGHT: {
        u64 mask = bits >= 64 ? ~0ull : (((u64)1 << bits) - 1);
        u64 x = a & mask;
        u32 r = (u32)(b % bits);
        if (op == OP_ROTATE_RIGHT) r = (bits - r) % bits;
        *out = r == 0 ? x : (((x << r) | (x >> (bits - r))) & mask);
        return true;
    }
    case OP_AND: *out = a & b; return true;
    case OP_OR: *out = a | b; return true;
    case OP_XOR: *out = a ^ b; return true;
    case OP_LOGICAL_AND: *out = (a != 0) && (b != 0); return true;
    case OP_LOGICAL_OR: *out = (a != 0) || (b != 0); return true;
    case OP_EQUAL: *out = a == b; return true;
    case OP_NOT_EQUAL: *out = a != b; return true;
    case OP_LESS: *out = is_signed ? (s64)a < (s64)b : a < b; return true;
    case OP_LESS_OR_EQUAL: *out = is_signed ? (s64)a <= (s64)b : a <= b; return true;
    case OP_GREATER: *out = is_signed ? (s64)a > (s64)b : a > b; return true;
    case OP_GREATER_OR_EQUAL: *out = is_signed ? (s64)a >= (s64)b : a >= b; return true;
    default:
        print_error_on_token(where, "Operator '%s' cannot be used here.", operator_to_c_string(op));
        return false;
    }
}

static bool fold_reals(u64 op, f64 a, f64 b, f64 *out, u64 *truth, Token *where) {
    switch (op) {
    case OP_ADD: *out = a + b; return true;
    case OP_SUBTRACT: *out = a - b; return true;
    case OP_MULTIPLY: *out = a * b; return true;
    case OP_DIVIDE:
        if (b == 0.0) {
            print_error_on_token(where, "It looks like you are dividing by zero.");
            return false;
        }
        *out = a / b;
        return true;
    case OP_LOGICAL_AND: *truth = a != 0.0 && b != 0.0; return true;
    case OP_LOGICAL_OR: *truth = a != 0.0 || b != 0.0; return true;
    case OP_EQUAL: *truth = a == b; return true;
    case OP_NOT_EQUAL: *truth = a != b; return true;
    case OP_LESS: *truth = a < b; return true;
    case OP_LESS_OR_EQUAL: *truth = a <= b; return true;
    case OP_GREATER: *truth = a > b; return true;
    case OP_GREATER_OR_EQUAL: *truth = a >= b; return true;
    default:
        print_error_on_token(where, "Operator '%s' cannot be used with real numbers.", operator_to_c_string(op));
        return false;
    }
}

static bool is_comparison(u64 op) { return (op & (OP_CMP | OP_LOGICAL_AND | OP_LOGICAL_OR)) != 0; }

bool apply_constant_operation(Value *left, u64 op, Value *right, Token *where) {
    Compiler_State *s = &global_compiler_state;
    // Types compare as values; nothing else folds on them.
    if ((left->constant.kind & CONSTANT_TYPE) || (right->constant.kind & CONSTANT_TYPE)) {
        if ((left->constant.kind & right->constant.kind & CONSTANT_TYPE) && (op == OP_EQUAL || op == OP_NOT_EQUAL)) {
            bool same = types_perfectly_match(left->constant.type_value, right->constant.type_value);
            memset(&left->constant, 0, sizeof left->constant);
            set_integer(left, s->type_b8, op == OP_EQUAL ? same : !same);
            return true;
        }
        print_error_on_token(where, "Operator '%s' cannot be used here.", operator_to_c_string(op));
        return false;
    }
    bool left_string = left->constant.kind & CONSTANT_STRING, right_string = right->constant.kind & CONSTANT_STRING;
    if (left_string || right_string) {
        if (left_string && right_string) {
            print_error_on_token(where, "Operator '%s' cannot be used with strings.", operator_to_c_string(op));
            return false;
        }
        if (left_string && !string_as_integer(left, where, false)) return false;
        if (right_string && !string_as_integer(right, where, false)) return false;
    }
    if (!(left->constant.kind & CONSTANT_NUMBER) || !(right->constant.kind & CONSTANT_NUMBER)) {
        print_error_on_token(where, "This operator cannot be used here.");
        return false;
    }
    bool integer_only = (op & (OP_MODULO | OP_SHIFT_LEFT | OP_SHIFT_RIGHT | OP_ROTATE_LEFT | OP_ROTATE_RIGHT | OP_BITWISE)) != 0;
    bool any_real = (left->constant.kind | right->constant.kind) & CONSTANT_REAL;
    if (integer_only && any_real) {
        print_error_on_token(where, "Operator '%s' cannot be used with real numbers.", operator_to_c_string(op));
        return false;
    }

    bool left_untyped = left->flags & VALUE_UNTYPED, right_untyped = right->flags & VALUE_UNTYPED;
    Identifier *type = nullptr;
    if (left_untyped && right_untyped) {
        type = nullptr;
    } else if (left_untyped) {
        if (!cast_value_to_type(left, right->type, where)) return false;
        type = right->type;
    } else if (right_untyped) {
        if (!((op & (OP_SHIFT_LEFT | OP_SHIFT_RIGHT | OP_ROTATE_LEFT | OP_ROTATE_RIGHT)))) {
            if (!cast_value_to_type(right, left->type, where)) return false;
        }
        type = left->type;
    } else {
        String message = {};
        if (types_perfectly_match(left->type, right->type) || check_imperfect_types_mix_no_error(left->type, right->type, nullptr)) {
            type = left->type;
        } else if (check_imperfect_types_mix_no_error(right->type, left->type, nullptr)) {
            type = right->type;
        } else {
            check_imperfect_types_mix_no_error(left->type, right->type, &message);
            print_error_on_token(where, "%.*s", (int)message.count, message.data);
            return false;
        }
        if (!(op & (OP_SHIFT_LEFT | OP_SHIFT_RIGHT | OP_ROTATE_LEFT | OP_ROTATE_RIGHT))) {
            convert_constant(left, type, false);
            convert_constant(right, type, false);
        }
    }

    Constant &a = left->constant, &b = right->constant;
    if (type == nullptr) {
        // Two literals fold in 64 bits and stay untyped.
        if (any_real) {
            f64 x = (a.kind & CONSTANT_REAL) ? a.f : (a.kind & CONSTANT_SIGNED) ? (f64)a.s : (f64)a.u;
            f64 y = (b.kind & CONSTANT_REAL) ? b.f : (b.kind & CONSTANT_SIGNED) ? (f64)b.s : (f64)b.u;
            f64 r = 0;
            u64 truth = 0;
            if (!fold_reals(op, x, y, &r, &truth, where)) return false;
            if (is_comparison(op)) {
                memset(&a, 0, sizeof a);
                set_integer(left, s->type_b8, truth);
            } else {
                a.kind = CONSTANT_REAL;
                a.f = r;
                a.size = 8;
            }
            return true;
        }
        bool is_signed = (a.kind | b.kind) & CONSTANT_SIGNED;
        u64 r = 0;
        if (!fold_integers(op, a.u, b.u, is_signed, 8, &r, where)) return false;
        if (is_comparison(op)) {
            memset(&a, 0, sizeof a);
            set_integer(left, s->type_b8, r);
            return true;
        }
        if (op == OP_SUBTRACT && !is_signed && a.u < b.u) is_signed = true;
        a.kind = is_signed ? CONSTANT_SIGNED : CONSTANT_UNSIGNED;
        a.u = r;
        u64 magnitude = is_signed && (s64)r < 0 ? (u64)0 - r : r;
        a.size = integer_size_for_magnitude(magnitude);
        return true;
    }

    Identifier *view = numeric_view(type);
    if (view->pointer_depth == 0 && (view->flags & TYPE_REAL)) {
        f64 x = (a.kind & CONSTANT_REAL) ? a.f : (f64)a.s;
        f64 y = (b.kind & CONSTANT_REAL) ? b.f : (f64)b.s;
        f64 r = 0;
        u64 truth = 0;
        if (!fold_reals(op, x, y, &r, &truth, where)) return false;
        if (is_comparison(op)) {
            memset(&a, 0, sizeof a);
            set_integer(left, s->type_b8, truth);
        } else {
            set_real(left, type, r);
        }
        return true;
    }
    if (!(view->flags & TYPE_INTEGER) && view->pointer_depth == 0) {
        print_error_on_token(where, "This operator cannot be applied on values of type '%s'.", type_to_c_string(type));
        return false;
    }
    bool is_signed = view->pointer_depth == 0 && (view->flags & TYPE_SIGNED);
    u64 r = 0;
    if (!fold_integers(op, a.u, b.u, is_signed, view->size ? view->size : 8, &r, where)) return false;
    if (is_comparison(op)) {
        memset(&a, 0, sizeof a);
        set_integer(left, s->type_b8, r);
    } else {
        set_integer(left, type, r);
    }
    return true;
}

// [SECTION] Defaults and printing

void make_default_constant_value(Value *out, Identifier *type) {
    memset(out, 0, sizeof *out);
    out->flags = VALUE_CONSTANT;
    out->type = type;
    Identifier *t = numeric_view(type);
    if (t->pointer_depth == 0 && (t->flags & TYPE_REAL)) {
        out->constant.kind = CONSTANT_REAL;
    } else if (t->pointer_depth == 0 && (t->flags & TYPE_ARRAY_STRUCT)) {
        // An array's items are its elements, and by default it has none.
        out->constant.kind = CONSTANT_AGGREGATE;
    } else if (t->pointer_depth == 0 && (t->flags & TYPE_STRUCT) && !(type->flags & IDENTIFIER_STRING_TYPE) && t->member_scope) {
        Bucket_Array *members = &t->member_scope->variables;
        out->constant.kind = CONSTANT_AGGREGATE;
        out->constant.item_count = (u32)members->count;
        out->constant.items = (Constant *)arena_allocate(sizeof(Constant) * (members->count ? members->count : 1));
        u32 i = 0;
        for (Bucket_Iterator it = bucket_iterate(members); it.element; bucket_iterator_next(&it), i++) {
            Identifier *m = (Identifier *)it.element;
            if (m->flags & IDENTIFIER_HAS_VALUE) {
                out->constant.items[i] = m->constant;
            } else {
                Value d;
                make_default_constant_value(&d, m->type ? m->type : global_compiler_state.type_u8);
                out->constant.items[i] = d.constant;
            }
        }
    } else if (type->flags & IDENTIFIER_STRING_TYPE) {
        out->constant.kind = CONSTANT_STRING;
    } else if (type == global_compiler_state.type_Type) {
        out->constant.kind = CONSTANT_TYPE;
        out->constant.type_value = global_compiler_state.type_void;
    } else {
        out->constant.kind = (t->flags & TYPE_SIGNED) ? CONSTANT_SIGNED : CONSTANT_UNSIGNED;
    }
    out->constant.size = type->size;
}

static String real_to_string(f64 f, bool single) {
    char buffer[64];
    if (f != f) return S("nan");
    if (f == INFINITY) return S("inf");
    if (f == -INFINITY) return S("-inf");
    for (int precision = 1; precision <= 17; precision++) {
        snprintf(buffer, sizeof buffer, "%.*g", precision, f);
        if (single ? strtof(buffer, nullptr) == (f32)f : strtod(buffer, nullptr) == f) break;
    }
    return arena_copy(S(buffer));
}

static String escape_string(String s) {
    String out = arena_format_string("\"");
    u8 *buffer = (u8 *)arena_allocate((u64)s.count * 4 + 3, 1);
    s64 n = 0;
    buffer[n++] = '"';
    for (s64 i = 0; i < s.count; i++) {
        u8 c = s.data[i];
        switch (c) {
        case '\n': buffer[n++] = '\\'; buffer[n++] = 'n'; break;
        case '\t': buffer[n++] = '\\'; buffer[n++] = 't'; break;
        case '"': buffer[n++] = '\\'; buffer[n++] = '"'; break;
        case '\\': buffer[n++] = '\\'; buffer[n++] = '\\'; break;
        default:
            if (c < 32 || c > 126) {
                static const char HEX[] = "0123456789ABCDEF";
                buffer[n++] = '\\';
                buffer[n++] = 'x';
                buffer[n++] = (u8)HEX[c >> 4];
                buffer[n++] = (u8)HEX[c & 15];
            } else {
                buffer[n++] = c;
            }
        }
    }
    buffer[n++] = '"';
    (void)out;
    return String{buffer, n};
}

String constant_to_string(const Constant *c, Identifier *type) {
    Compiler_State *s = &global_compiler_state;
    if (c->kind & CONSTANT_TYPE) return type_to_string(c->type_value);
    if (c->kind & CONSTANT_STRING) return escape_string(c->string);
    if (c->kind & CONSTANT_CODE) return S("#code");
    if (c->kind & CONSTANT_SUB_PROGRAM) return c->type_value ? identifier_name(c->type_value) : S("#import");
    if (c->kind & CONSTANT_REAL) return real_to_string(c->f, type ? numeric_view(type)->size == 4 : false);
    if (c->kind & CONSTANT_AGGREGATE) {
        bool array = type && (type->flags & TYPE_ARRAY_STRUCT);
        String out = S(array ? "[" : "{");
        Bucket_Iterator it = {};
        if (!array && type && type->member_scope) it = bucket_iterate(&type->member_scope->variables);
        for (u32 i = 0; i < c->item_count; i++) {
            Identifier *item_type = array ? type->element_type : (it.element ? ((Identifier *)it.element)->type : nullptr);
            String item = constant_to_string(&c->items[i], item_type);
            out = arena_format_string("%.*s%s%.*s", (int)out.count, out.data, i ? ", " : "", (int)item.count, item.data);
            if (it.element) bucket_iterator_next(&it);
        }
        return arena_format_string("%.*s%s", (int)out.count, out.data, array ? "]" : "}");
    }
    if (c->kind & CONSTANT_SIGNED) return arena_format_string("%s", s64_to_c_string(c->s, false));
    (void)s;
    return arena_format_string("%llu", (unsigned long long)c->u);
}

const char *s64_to_c_string(s64 value, bool separators) {
    u64 magnitude = value < 0 ? (u64)0 - (u64)value : (u64)value;
    const char *sign = value < 0 ? "-" : "";
    return separators ? arena_format("%s%'llu", sign, (unsigned long long)magnitude) : arena_format("%s%llu", sign, (unsigned long long)magnitude);
}
