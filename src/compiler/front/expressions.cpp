// Expressions as far as compile-time values reach: operators by priority,
// literals, identifiers, member and index access, casts, the expression
// directives and struct and array literals. Values of variables are carried
// with their type only; the instructions that compute them, and calls, come
// with the statement compiler.
//
// The lexer makes 'x-1' into x and the literal -1; where an operator is
// expected, such a signed literal is read as the operator followed by the
// literal without its sign, so 'x-1' means x - 1.
#include "compiler/front/compiler.h"
#include "compiler/front/code_hooks.h"
#include "compiler/front/constant_calls.h"
#include "compiler/front/diagnostics.h"

struct Cursor {
    Token *t;
    bool split; // the sign of a signed literal at t was read as an operator
};

struct Expression_Context {
    Scope *scope;
    Token *end;
};

// What follows a whole value is neither an operator that joins two values
// nor the end: a unary-only operator ('~', '!') gets its own report.
static void report_token_after_value(Token *t) {
    if ((t->kind & TOKEN_UNARY_OPERATOR) && !(t->kind & TOKEN_BINARY_OPERATOR)) {
        print_error_on_token(t, "Expected an operator here but got '%s' instead.", token_to_c_string(t));
    } else {
        print_error_on_token(t, "The compiler expected a binary operator or the end of a value but got '%s' instead.", token_to_c_string(t));
    }
}

static bool parse_expression(Expression_Context *ctx, Cursor *c, u8 min_level, Identifier *expected, Value *out);

// The scope the innermost expression being parsed is in: where its instructions go.
static Scope *expression_scope;
Scope *current_expression_scope() { return expression_scope; }
Scope *set_expression_scope(Scope *scope) {
    Scope *old = expression_scope;
    expression_scope = scope;
    return old;
}

static bool at_end(Expression_Context *ctx, Cursor *c) { return !c->t || c->t == ctx->end; }

static void advance(Cursor *c) {
    c->t = token_skip(c->t);
    c->split = false;
}

static bool is_signed_literal(Token *t) {
    return (t->kind & (TOKEN_SIGNED_INTEGER | TOKEN_REAL)) && (t->text[0] == '-' || t->text[0] == '+');
}

// [SECTION] Identifiers

static bool make_value_from_identifier(Identifier *id, Token *name, Value *out) {
    Compiler_State *s = &global_compiler_state;
    memset(out, 0, sizeof *out);
    out->first = out->last = name;
    if (id->flags & IDENTIFIER_IS_TYPE) {
        make_constant_value_from_type(out, id);
        return true;
    }
    // A sub-program may be called from its own body, its signature being known.
    bool callable = (id->constant.kind & CONSTANT_SUB_PROGRAM) && id->signature;
    if (!callable && ((id->flags & IDENTIFIER_BEING_RESOLVED) || (!id->type && !(id->flags & IDENTIFIER_DECLARED)))) {
        print_error_on_token(name, "'%s' is not fully declared.", token_to_c_string(name));
        return false;
    }
    if (!id->type && !(id->constant.kind & CONSTANT_SUB_PROGRAM)) {
        print_error_on_token(name, "'%s' is not fully declared.", token_to_c_string(name));
        return false;
    }
    out->type = id->type;
    if (id->flags & IDENTIFIER_CONSTANT) {
        out->flags = VALUE_CONSTANT;
        out->constant = id->constant;
        if (id->type == s->type_Type && !(id->constant.kind & CONSTANT_TYPE)) out->constant.kind = CONSTANT_TYPE;
        return true;
    }
    out->flags = 0; // a variable: its value is known only when the program runs
    if (code_generation_enabled() && register_id_is_valid(id->register_id)) {
        out->reg = id->register_id;
        out->kind = VALUE_KIND_DYNAMIC;
        if (id->flags & IDENTIFIER_EMBEDDED_ARRAY) out->kind |= VALUE_KIND_INDIRECT;
    }
    return true;
}

bool make_value_from_identifier_for_call(Identifier *id, Token *name, Value *out) { return make_value_from_identifier(id, name, out); }

// [SECTION] Member and index access

static Identifier *struct_of(Identifier *type) {
    if (!type) return nullptr;
    if (type->pointer_depth == 1 && type->leaf_type && (type->leaf_type->flags & TYPE_STRUCT)) return type->leaf_type;
    if (type->pointer_depth == 0 && (type->flags & TYPE_STRUCT)) return type;
    return nullptr;
}

static u32 member_index(Identifier *structure, Identifier *member) {
    u32 i = 0;
    for (Bucket_Iterator it = bucket_iterate(&structure->member_scope->variables); it.element; bucket_iterator_next(&it), i++) {
        if (it.element == member) return i;
    }
    return ~0u;
}

// The constant value of member `m` of a constant struct `c`; a member brought
// in by #using is read through the member that brought it.
static bool constant_member_of(Identifier *structure, Identifier *m, const Constant *c, Constant *out) {
    if (m->flags & IDENTIFIER_USING) {
        Identifier *via = m->using_source;
        Constant inner;
        if (!via || !via->type || via->type->pointer_depth != 0 || !constant_member_of(structure, via, c, &inner)) return false;
        Identifier *inner_struct = struct_of(via->type);
        Identifier *original = inner_struct ? get_identifier_in_scope(inner_struct->member_scope, m->name, m->name_length) : nullptr;
        return original && constant_member_of(inner_struct, original, &inner, out);
    }
    if (!(c->kind & CONSTANT_AGGREGATE)) return false;
    u32 index = member_index(structure, m);
    if (index >= c->item_count) return false;
    *out = c->items[index];
    return true;
}

// The offset of member `m` inside `structure`, through the members #using
// brought in from struct values; kept in `out->constant.data_offset`.
static bool member_offset(Identifier *m, Value *out) {
    u64 offset = 0;
    u32 guard = 0;
    while ((m->flags & IDENTIFIER_USING) && m->using_source && guard++ < 64) {
        Identifier *via = m->using_source;
        if (via->type && via->type->pointer_depth) {
            print_error_on_token(out->last, "Members that #using brings in through a memory address cannot be read here yet.");
            return false;
        }
        offset += via->offset;
        Identifier *inner = struct_of(via->type);
        Identifier *original = inner ? get_identifier_in_scope(inner->member_scope, m->name, m->name_length) : nullptr;
        if (!original) return false;
        m = original;
    }
    out->constant.data_offset = offset + m->offset;
    return true;
}

static bool parse_member_access(Expression_Context *ctx, Value *v, Token *dot, Token *member) {
    Compiler_State *s = &global_compiler_state;
    (void)ctx;
    if (!member || member == ctx->end) {
        print_error_on_token(dot, "It looks like you are trying to dereference a struct member but this does not look like a struct member dereference.");
        return false;
    }
    if (!(member->kind & TOKEN_IDENTIFIER)) {
        print_error_on_token(member, "Expected a struct member but got '%s' instead.", token_to_c_string(member));
        return false;
    }
    if (v->flags & VALUE_EMBEDDED_ARRAY) {
        // It reads as the address of its first element; it has no count or data members.
        print_error_on_token(member, "It looks like you are trying to dereference a member from a fixed-size array embedded in the struct, which is illegal.");
        return false;
    }
    if (value_is_constant(v) && (v->constant.kind & CONSTANT_TYPE)) {
        Identifier *type = v->constant.type_value;
        if (type->polymorphic) {
            print_error_on_token(member, "Type '%s' is polymorphic and thus you cannot dereference anything from it or from an instance of it since its content is unknown.",
                                 type_to_c_string(type));
            return false;
        }
        if (type->pointer_depth == 0 && (type->flags & TYPE_ENUM)) {
            Identifier *m = get_identifier_in_scope(type->member_scope, member->text, member->length);
            if (!m) {
                print_error_on_token(member, "'%s' is not a member of enum %s.", token_to_c_string(member), type_to_c_string(type));
                return false;
            }
            return make_value_from_identifier(m, member, v);
        }
        if (type->pointer_depth == 0 && (type->flags & TYPE_STRUCT) && type->member_scope) {
            Identifier *m = get_identifier_in_scope(type->member_scope, member->text, member->length);
            if (!m) {
                print_error_on_token(member, "'%s' is not a member of struct %s.", token_to_c_string(member), type_to_c_string(type));
                return false;
            }
            if (!(m->flags & IDENTIFIER_CONSTANT) || (m->flags & IDENTIFIER_USING)) {
                print_error_on_token(member, "You can only dereference constant members in this case because you are not dereferencing from an instance.");
                return false;
            }
            if (!resolve_identifier(m)) return false;
            return make_value_from_identifier(m, member, v);
        }
        print_error_on_token(dot, "It looks like you are trying to dereference something that is neither a struct nor an enum.");
        return false;
    }
    if (v->flags & VALUE_UNTYPED) value_set_default_type(v);
    Identifier *structure = struct_of(v->type);
    if (!structure) {
        if (v->type && v->type->pointer_depth == 0 && !(v->type->flags & (TYPE_STRUCT | TYPE_ENUM))) {
            print_error_on_token(dot, "It looks like you are trying to dereference something that is neither a struct nor an enum.");
        } else {
            print_error_on_token(dot, "Type '%s' does not appear to be a struct.", type_to_c_string(v->type));
        }
        return false;
    }
    if (structure->polymorphic) {
        print_error_on_token(member, "Type '%s' is polymorphic and thus you cannot dereference anything from it or from an instance of it since its content is unknown.",
                             type_to_c_string(structure));
        return false;
    }
    Identifier *m = get_identifier_in_scope(structure->member_scope, member->text, member->length);
    if (!m) {
        print_error_on_token(member, "'%s' is not a member of struct %s.", token_to_c_string(member), type_to_c_string(structure));
        return false;
    }
    if ((m->flags & IDENTIFIER_CONSTANT) && !(m->flags & IDENTIFIER_USING)) {
        print_error_on_token(member, "You cannot dereference a constant member from a struct instance.");
        return false;
    }
    Value result = {};
    result.first = v->first;
    result.last = member;
    result.type = (m->flags & IDENTIFIER_EMBEDDED_ARRAY) ? type_to_memory_address_of_type(m->type->element_type, 1) : m->type;
    if (m->flags & IDENTIFIER_EMBEDDED_ARRAY) result.flags |= VALUE_EMBEDDED_ARRAY;
    if (value_is_constant(v) && v->type->pointer_depth == 0) {
        if (v->constant.kind & CONSTANT_STRING) {
            if (token_is(member, "count")) {
                make_constant_value_from_integer(&result, s->type_s64, (u64)v->constant.string.count);
                result.first = v->first;
                result.last = member;
            }
            *v = result;
            return true;
        }
        if (structure->flags & TYPE_ARRAY_STRUCT) {
            // A constant array's items are its elements, not the struct's members.
            if ((token_is(member, "count") || token_is(member, "allocated")) && (v->constant.kind & CONSTANT_AGGREGATE)) {
                make_constant_value_from_integer(&result, m->type, v->constant.item_count);
                result.first = v->first;
                result.last = member;
            }
        } else if (constant_member_of(structure, m, &v->constant, &result.constant)) {
            result.flags |= VALUE_CONSTANT;
        }
    }
    if (!value_is_constant(&result) && code_generation_enabled()) {
        if (!member_offset(m, &result)) return false;
        if (!code_generator.member(ctx->scope, v, result.constant.data_offset ? (u32)result.constant.data_offset : 0, result.type, &result)) return false;
        result.constant = Constant{};
        result.first = v->first;
        result.last = member;
    }
    *v = result;
    return true;
}

static bool parse_index(Expression_Context *ctx, Value *v, Token *open) {
    Compiler_State *s = &global_compiler_state;
    if (open->partner == open->next) {
        print_error_on_token(open, "The compiler expected an index to dereference from.");
        return false;
    }
    if ((v->flags & VALUE_UNTYPED) && !(v->constant.kind & CONSTANT_STRING)) {
        print_error_on_token(open, "It looks like you are trying to dereference from a value that is not a memory address or an array.");
        return false;
    }
    if (v->flags & VALUE_UNTYPED) value_set_default_type(v);
    Identifier *type = v->type;
    bool is_string = type && (type->flags & IDENTIFIER_STRING_TYPE) && type->pointer_depth == 0;
    bool is_array = type && type->pointer_depth == 0 && (type->flags & TYPE_ARRAY_STRUCT);
    if (!type || (!is_string && !is_array && !type_is_address(type))) {
        print_error_on_token(open, "Type '%s' is not a memory address, an array or a string and therefore you cannot use operator '[]' on it.",
                             type_to_c_string(type));
        return false;
    }
    Value index = {};
    Expression_Context inner = {ctx->scope, open->partner};
    Cursor c = {open->next, false};
    if (!parse_expression(&inner, &c, 0, s->type_s64, &index)) return false;
    if (!at_end(&inner, &c)) {
        report_token_after_value(c.t);
        return false;
    }
    Value result = {};
    result.first = v->first;
    result.last = open->partner;
    result.type = is_string ? s->type_u8 : is_array ? type->element_type : type_to_memory_address_of_type(type->leaf_type, type->pointer_depth - 1);
    if (value_is_constant(&index)) {
        if (!(index.constant.kind & CONSTANT_INTEGER)) {
            print_error_on_token(open->next, "Operator '[]' must be used on integers.");
            return false;
        }
        s64 i = index.constant.s;
        if (value_is_constant(v)) {
            // A constant struct's embedded array keeps its elements as items, like a constant array.
            if (type_is_address(type) && !(v->flags & VALUE_EMBEDDED_ARRAY)) {
                print_error_on_token(open, "You cannot dereference data from a constant memory address. This rule may change in future versions.");
                return false;
            }
            if (is_string) {
                if (i < 0 || i >= v->constant.string.count) {
                    print_error_on_token(open->next, "Index %s cannot be used to retrieve a character from this string as it lies outside its boundaries.", s64_to_c_string(i, false));
                    return false;
                }
                make_constant_value_from_integer(&result, s->type_u8, v->constant.string.data[i]);
                *v = result;
                return true;
            }
            if (!(v->constant.kind & CONSTANT_AGGREGATE) || !v->constant.items) {
                print_error_on_token(open, "It looks like the constant array you are trying to dereference does not have any data.");
                return false;
            }
            if (i < 0) {
                print_error_on_token(open->next, "It seems that you are trying to access a constant array at index %s.", s64_to_c_string(i, true));
                return false;
            }
            if (i >= (s64)v->constant.item_count) {
                u32 n = v->constant.item_count;
                print_error_on_token(open->next, "The constant array you are trying to dereference has only %'lld %s but you are trying to access it at index %s.",
                                     (long long)n, n == 1 ? "element" : "elements", s64_to_c_string(i, true));
                return false;
            }
            result.flags = VALUE_CONSTANT;
            result.constant = v->constant.items[i];
            *v = result;
            return true;
        }
        if (is_array && (type->flags & TYPE_FIXED_SIZE_ARRAY) && (i < 0 || (u64)i >= type->max_count)) {
            print_error_on_token(open->next, "Array type '%s' can only hold up to %llu %s but you are trying to access an element at index %s.",
                                 type_to_c_string(type), (unsigned long long)type->max_count, type->max_count == 1 ? "element" : "elements", s64_to_c_string(i, false));
            return false;
        }
    }
    if (code_generation_enabled()) {
        if (index.flags & VALUE_UNTYPED) value_set_default_type(&index);
        if (!code_generator.index(ctx->scope, v, &index, &result)) return false;
        result.first = v->first;
        result.last = open->partner;
    }
    *v = result;
    return true;
}

// [SECTION] Directives and casts

static bool expect_parenthesis(Token *directive, Token *end, const char *message_with_got) {
    Token *open = directive->next;
    if (!open || open == end || !(open->kind & TOKEN_OPEN_PARENTHESIS)) {
        print_error_on_token(open && open != end ? open : directive, message_with_got, open && open != end ? token_to_c_string(open) : "");
        return false;
    }
    return true;
}

static bool looks_like_type(Token *t) {
    return (t->kind & (TOKEN_AT | TOKEN_OPEN_BRACKET)) || token_is(t, "#type_of");
}

static bool parse_directive_value(Expression_Context *ctx, Cursor *c, Value *out) {
    Compiler_State *s = &global_compiler_state;
    Token *d = c->t;
    if (token_is(d, "#type")) {
        if (!expect_parenthesis(d, ctx->end, "Expected '(' but got '%s' instead. The #type directive is used in this way: v := #type(@ u32);")) return false;
        Token *open = d->next;
        if (open->partner == open->next) {
            print_error_on_token(open, "Did you forget to indicate a type value?");
            return false;
        }
        Identifier *type;
        if (!parse_type(ctx->scope, &type, open->next, open->partner)) return false;
        make_constant_value_from_type(out, type);
        c->t = open->partner->next;
    } else if (token_is(d, "#type_of")) {
        Token *open = d->next;
        if (!open || open == ctx->end || !(open->kind & TOKEN_OPEN_PARENTHESIS)) {
            print_error_on_token(d, "This directive is meant to be used this way: #type_of(<expression>).");
            return false;
        }
        if (open->partner == open->next) {
            print_error_on_token(open, "Did you forget to specify an expression to get the type of?");
            return false;
        }
        Identifier *type = get_type_of_simple_expression(ctx->scope, open->next, open->partner);
        if (!type) return false;
        make_constant_value_from_type(out, type);
        c->t = open->partner->next;
    } else if (token_is(d, "#size_of")) {
        Token *open = d->next;
        if (!open || open == ctx->end || !(open->kind & TOKEN_OPEN_PARENTHESIS) || open->partner == open->next) {
            print_error_on_token(d, "#size_of must be used like this: #size_of(<expression>)");
            return false;
        }
        Identifier *type = nullptr;
        if (looks_like_type(open->next)) {
            if (!parse_type(ctx->scope, &type, open->next, open->partner)) return false;
        } else {
            Value inner = {};
            if (!parse_simple_statement(ctx->scope, open->next, open->partner, nullptr, &inner)) return false;
            if (inner.flags & VALUE_UNTYPED) value_set_default_type(&inner);
            type = value_is_constant(&inner) && (inner.constant.kind & CONSTANT_TYPE) ? inner.constant.type_value : inner.type;
        }
        if (!type) {
            print_error_on_token(open->next, "'%s' is not fully declared.", token_to_c_string(open->next));
            return false;
        }
        memset(out, 0, sizeof *out);
        out->flags = VALUE_CONSTANT | VALUE_UNTYPED;
        out->constant.kind = CONSTANT_UNSIGNED;
        out->constant.u = type->size;
        out->constant.size = integer_size_for_magnitude(type->size);
        c->t = open->partner->next;
    } else if (token_is(d, "#as_float")) {
        if (!expect_parenthesis(d, ctx->end, "Expected '(' but got '%s' instead. The #as_float directive is used in this way: v := #as_float(0xc0);")) return false;
        Token *open = d->next;
        Value inner = {};
        if (open->partner == open->next) {
            print_error_on_token(open, "Expected '(' but got '%s' instead. The #as_float directive is used in this way: v := #as_float(0xc0);", ")");
            return false;
        }
        if (!parse_simple_statement(ctx->scope, open->next, open->partner, nullptr, &inner)) return false;
        if (!value_is_constant(&inner) || !(inner.constant.kind & CONSTANT_INTEGER)) {
            print_error_on_token(open->next, "This expression does not appear to be constant.");
            return false;
        }
        u32 size = (inner.flags & VALUE_UNTYPED) ? inner.constant.size : inner.type->size;
        memset(out, 0, sizeof *out);
        out->flags = VALUE_CONSTANT;
        out->constant.kind = CONSTANT_REAL;
        if (size <= 4) {
            u32 bits = (u32)inner.constant.u;
            f32 f;
            memcpy(&f, &bits, 4);
            out->constant.f = f;
            out->constant.size = 4;
            out->type = s->type_f32;
        } else {
            memcpy(&out->constant.f, &inner.constant.u, 8);
            out->constant.size = 8;
            out->type = s->type_f64;
        }
        c->t = open->partner->next;
    } else if (token_is(d, "#constant")) {
        Token *call = d->next;
        if (!call || call == ctx->end || !call->next || call->next == ctx->end || !(call->next->kind & TOKEN_OPEN_PARENTHESIS)) {
            print_error_on_token(d, "Expected a call after directive '%s'.", token_to_c_string(d));
            return false;
        }
        if (!(call->kind & TOKEN_IDENTIFIER)) {
            print_error_on_token(d, "The %s directive must be used on a constant sub-program call.", token_to_c_string(d));
            return false;
        }
        Identifier *id = get_identifier_with_error(ctx->scope, call, false);
        if (!id) return false;
        Value callee = {};
        if (!make_value_from_identifier(id, call, &callee)) return false;
        if (!parse_constant_call(ctx->scope, &callee, call->next, d, out)) return false;
        out->first = d;
        out->last = call->next->partner;
        c->t = call->next->partner->next;
        c->split = false;
        return true;
    } else {
        print_error_on_token(d, "Directive '%s' is either unsupported or cannot be used here.", token_to_c_string(d));
        return false;
    }
    out->first = d;
    out->last = d;
    c->split = false;
    return true;
}

// 'cast(value, type)', or 'cast(value)' to the type the place expects.
static bool parse_cast(Expression_Context *ctx, Cursor *c, Identifier *expected, Value *out) {
    Token *word = c->t;
    Token *open = word->next;
    if (!open || open == ctx->end || !(open->kind & TOKEN_OPEN_PARENTHESIS)) {
        print_error_on_token(word, "If you are trying to cast a value, do it this way: cast(value, type).");
        return false;
    }
    Token *comma = get_first_token_like_bounded(open->next, TOKEN_COMMA, open->partner);
    if (!comma) {
        if (open->next == open->partner) {
            print_error_on_token(open, "It looks like you forgot to indicate a value to cast here.");
            return false;
        }
        if (!expected) {
            print_error_on_token(word, "The compiler cannot infer the type to cast to here.");
            return false;
        }
        if (!parse_simple_statement(ctx->scope, open->next, open->partner, nullptr, out)) return false;
        if (!explicit_cast_value(out, expected, open->next)) return false;
        out->first = word;
        out->last = open->partner;
        c->t = open->partner->next;
        c->split = false;
        return true;
    }
    if (comma == open->next) {
        print_error_on_token(comma, "It looks like you forgot to indicate a value to cast here.");
        return false;
    }
    if (comma->next == open->partner) {
        print_error_on_token(comma, "It looks like you forgot to indicate a type to cast to here.");
        return false;
    }
    Identifier *type;
    if (!parse_type(ctx->scope, &type, comma->next, open->partner)) return false;
    if (!parse_simple_statement(ctx->scope, open->next, comma, nullptr, out)) return false;
    if (!explicit_cast_value(out, type, open->next)) return false;
    out->first = word;
    out->last = open->partner;
    c->t = open->partner->next;
    c->split = false;
    return true;
}

// [SECTION] Operands

static bool parse_primary(Expression_Context *ctx, Cursor *c, Identifier *expected, Value *out) {
    Compiler_State *s = &global_compiler_state;
    Token *t = c->t;
    if (t->kind & TOKEN_LITERAL) {
        if (!make_constant_value_from_token(out, t, c->split)) return false;
        advance(c);
        return true;
    }
    if (t->kind & TOKEN_OPEN_PARENTHESIS) {
        if (t->partner == t->next) {
            print_error_on_token(t, "The compiler expected a value.");
            return false;
        }
        if (!compiler_enter_nesting(t)) return false;
        bool ok = parse_simple_statement(ctx->scope, t->next, t->partner, expected, out);
        compiler_leave_nesting();
        if (!ok) return false;
        advance(c);
        return true;
    }
    if (t->kind & TOKEN_OPEN_BRACE) {
        if (!parse_struct_literal(ctx->scope, expected, t, out)) return false;
        advance(c);
        return true;
    }
    if (t->kind & TOKEN_OPEN_BRACKET) {
        if (!parse_array_literal(ctx->scope, expected, t, out)) return false;
        advance(c);
        return true;
    }
    if (t->kind & TOKEN_DIRECTIVE) return parse_directive_value(ctx, c, out);
    if ((t->kind & TOKEN_BINARY_OPERATOR) && t->op == OP_DOT) {
        // '.NAME': an enum value whose enum comes from the expected type.
        Token *name = t->next;
        if (!name || name == ctx->end || !(name->kind & TOKEN_IDENTIFIER)) {
            print_error_on_token(name && name != ctx->end ? name : t, "Expected an enum value but got '%s' instead.",
                                 name && name != ctx->end ? token_to_c_string(name) : "");
            return false;
        }
        if (!expected) {
            print_error_on_token(t, "It looks like you are trying to specify an enum value with an implicit enum type but the compiler cannot infer that specific enum type.");
            return false;
        }
        if (!(expected->flags & TYPE_ENUM) || expected->pointer_depth) {
            print_error_on_token(t, "It looks like you are trying to specify an enum value but type %s is not an enum.", type_to_c_string(expected));
            return false;
        }
        Identifier *m = get_identifier_in_scope(expected->member_scope, name->text, name->length);
        if (!m) {
            print_error_on_token(name, "'%s' is not a member of enum %s.", token_to_c_string(name), type_to_c_string(expected));
            return false;
        }
        if (!make_value_from_identifier(m, name, out)) return false;
        out->first = t;
        c->t = name->next;
        c->split = false;
        return true;
    }
    bool outer = false;
    if (t->kind & TOKEN_QUOTE) {
        outer = true;
        t = t->next;
        if (!t || t == ctx->end || !(t->kind & TOKEN_IDENTIFIER)) {
            print_error_on_token(c->t, "Expected an identifier but got '%s' instead.", t && t != ctx->end ? token_to_c_string(t) : "");
            return false;
        }
    }
    if (t->kind & TOKEN_IDENTIFIER) {
        if (!outer && token_is(t, "cast")) return parse_cast(ctx, c, expected, out);
        Token *next = t->next;
        if (!outer && next && next != ctx->end && (next->kind & TOKEN_OPEN_PARENTHESIS) && !get_identifier(ctx->scope, t->text, t->length)) {
            print_error_on_token(next, "There does not seem to be any sub-program named '%s' that is accessible from this scope.", token_to_c_string(t));
            return false;
        }
        Identifier *id = get_identifier_with_error(ctx->scope, t, outer);
        if (!id) return false;
        if (id->polymorphic && (id->flags & IDENTIFIER_IS_TYPE) && next && next != ctx->end && (next->kind & TOKEN_OPEN_PARENTHESIS)) {
            Identifier *instance = make_struct_from_polymorphic(ctx->scope, id, next);
            if (!instance) return false;
            make_constant_value_from_type(out, instance);
            out->first = t;
            c->t = next->partner->next;
            c->split = false;
            return true;
        }
        if (!make_value_from_identifier(id, t, out)) return false;
        c->t = next;
        c->split = false;
        return true;
    }
    if ((t->kind & TOKEN_OPERATOR) || (t->kind & TOKEN_AT)) {
        print_error_on_token(t, "It looks like there is no value to apply this operation on.");
        return false;
    }
    (void)s;
    print_error_on_token(t, "This is unexpected here.");
    return false;
}

static bool parse_postfix(Expression_Context *ctx, Cursor *c, Value *v) {
    while (!at_end(ctx, c) && !c->split) {
        Token *t = c->t;
        if ((t->kind & TOKEN_BINARY_OPERATOR) && t->op == OP_DOT) {
            if (!parse_member_access(ctx, v, t, t->next)) return false;
            c->t = t->next->next;
            continue;
        }
        if (t->kind & TOKEN_OPEN_BRACKET) {
            // After a type value the brackets hold an array literal of that type.
            if (v->type == global_compiler_state.type_Type && !(v->flags & VALUE_UNTYPED)) {
                if (!value_is_constant(v) || !(v->constant.kind & CONSTANT_TYPE)) {
                    print_error_on_token(t, "You cannot use a dynamic value as a type to make an array literal.");
                    return false;
                }
                Value literal = {};
                if (!parse_array_literal(ctx->scope, v->constant.type_value, t, &literal)) return false;
                literal.first = v->first;
                *v = literal;
            } else if (!parse_index(ctx, v, t)) {
                return false;
            }
            advance(c);
            continue;
        }
        if (t->kind & TOKEN_OPEN_BRACE) {
            if (!value_is_constant(v) || !(v->constant.kind & CONSTANT_TYPE)) {
                print_error_on_token(t, "You cannot use a dynamic value as a type to make a struct literal.");
                return false;
            }
            Identifier *type = v->constant.type_value;
            Value literal = {};
            if (!parse_struct_literal(ctx->scope, type, t, &literal)) return false;
            literal.first = v->first;
            *v = literal;
            advance(c);
            continue;
        }
        if (t->kind & TOKEN_OPEN_PARENTHESIS) {
            Value result = {};
            if (!parse_call(ctx->scope, v, t, &result)) return false;
            result.first = v->first;
            result.last = t->partner;
            *v = result;
            advance(c);
            continue;
        }
        if (token_is(t, "#align") && value_is_constant(v) && (v->constant.kind & CONSTANT_AGGREGATE)) {
            Token *open = t->next;
            if (!open || open == ctx->end || !(open->kind & TOKEN_OPEN_PARENTHESIS)) {
                print_error_on_token(t, "Use #align like this: #align(<alignment>)");
                return false;
            }
            if (open->partner == open->next) {
                print_error_on_token(open, "Did you forget to specify an alignment?");
                return false;
            }
            Value a = {};
            if (!parse_simple_statement(ctx->scope, open->next, open->partner, nullptr, &a)) return false;
            if (!value_is_constant(&a) || !(a.constant.kind & CONSTANT_INTEGER)) {
                print_error_on_token(open->next, "This expression does not appear to be constant.");
                return false;
            }
            u64 n = a.constant.u;
            if (n == 0 || (n & (n - 1))) {
                print_error_on_token(open->next, "The alignment you provided (%'llu) is incorrect as it is not a power of two.", (unsigned long long)n);
                return false;
            }
            v->constant.data_alignment = n > 0xFFFFFFFFull ? 0x80000000u : (u32)n;
            c->t = open->partner->next;
            continue;
        }
        break;
    }
    return true;
}

static bool apply_unary_on_value(Value *v, u64 op, Token *where) {
    v->flags &= ~VALUE_EMBEDDED_ARRAY;
    if (value_is_constant(v)) {
        if (op == OP_ADDRESS) {
            print_error_on_token(where, "You cannot take the address of a constant.");
            return false;
        }
        return apply_unary_operation_on_constant(v, op == OP_SUBTRACT ? OP_NEGATE : op, where);
    }
    Compiler_State *s = &global_compiler_state;
    Identifier *type = v->type;
    if (op == OP_ADDRESS) {
        if (code_generation_enabled()) return code_generator.unary(expression_scope, v, op, where);
        v->type = type_to_memory_address_of_type(type, 1);
        return true;
    }
    Identifier *view = type && (type->flags & TYPE_ENUM) && type->base_type ? type->base_type : type;
    if (!view || view->pointer_depth || !(view->flags & TYPE_NUMBER)) {
        print_error_on_token(where, "Operator '%s' must be used on numbers. It looks like you are trying to use it on type '%s' instead.",
                             operator_to_c_string(op == OP_SUBTRACT ? OP_NEGATE : op), type_to_c_string(type));
        return false;
    }
    if (op == OP_NOT && (view->flags & TYPE_REAL)) {
        print_error_on_token(where, "You cannot use operator bitwise operators with a number of type %s.", type_to_c_string(type));
        return false;
    }
    if (op == OP_LOGICAL_NOT) v->type = s->type_b8;
    if (code_generation_enabled()) return code_generator.unary(expression_scope, v, op, where);
    return true;
}

static bool parse_operand(Expression_Context *ctx, Cursor *c, Identifier *expected, Value *out) {
    if (at_end(ctx, c)) {
        print_error_on_token(c->t, "The compiler expected a value.");
        return false;
    }
    Token *t = c->t;
    bool unary = !c->split && ((t->kind & TOKEN_UNARY_OPERATOR) || (t->kind & TOKEN_AT) ||
                               ((t->kind & TOKEN_BINARY_OPERATOR) && t->op == OP_SUBTRACT));
    if (!unary && !c->split && (t->kind & TOKEN_BINARY_OPERATOR) && t->op != OP_DOT) {
        print_error_on_token(t, "It looks like you are trying to use operator '%s' as a unary operator.", operator_to_c_string(t->op));
        return false;
    }
    if (unary) {
        Token *next = t->next;
        if (!next || next == ctx->end) {
            print_error_on_token(t, "It looks like there is no value to apply this operation on.");
            return false;
        }
        if ((next->kind & (TOKEN_UNARY_OPERATOR | TOKEN_AT)) ||
            ((next->kind & TOKEN_BINARY_OPERATOR) && next->op != OP_DOT)) {
            if ((next->kind & TOKEN_BINARY_OPERATOR) && !(next->op == OP_SUBTRACT)) {
                print_error_on_token(next, "It looks like you are trying to use operator '%s' as a unary operator.", operator_to_c_string(next->op));
            } else {
                print_error_on_token(next, "You cannot chain unary operations. Use '()' to separate them.");
            }
            return false;
        }
        c->t = next;
        c->split = false;
        if (!parse_primary(ctx, c, expected, out)) return false;
        if (!parse_postfix(ctx, c, out)) return false;
        if (!apply_unary_on_value(out, t->op, t)) return false;
        out->first = t;
        return true;
    }
    if (!parse_primary(ctx, c, expected, out)) return false;
    return parse_postfix(ctx, c, out);
}

// [SECTION] Binary operators

static bool is_plain_number(Identifier *t) {
    if (t && t->pointer_depth == 0 && (t->flags & TYPE_ENUM) && t->base_type) t = t->base_type;
    return t && t->pointer_depth == 0 && (t->flags & TYPE_NUMBER);
}

static bool combine_dynamic(Value *left, u64 op, Value *right, Token *where) {
    Compiler_State *s = &global_compiler_state;
    // Either side may be the one that is not a number; a literal on the other
    // side must not be converted to it first.
    Value *sides[2] = {left, right};
    for (Value *side : sides) {
        // Structs (strings and arrays too) have no comparison or truth value of their own.
        if (!(op & (OP_CMP | OP_LOGICAL_AND | OP_LOGICAL_OR)) || (side->flags & VALUE_UNTYPED) || !side->type) continue;
        Identifier *t = side->type;
        if (t->pointer_depth == 0 && (t->flags & (TYPE_STRUCT | TYPE_VOID))) {
            print_error_on_token(where, "This operator cannot be applied on values of type '%s'.", type_to_c_string(t));
            return false;
        }
    }
    for (Value *side : sides) {
        if ((op & (OP_CMP | OP_LOGICAL_AND | OP_LOGICAL_OR)) || (side->flags & VALUE_UNTYPED)) continue;
        Identifier *t = side->type && (side->type->flags & TYPE_ENUM) && side->type->base_type ? side->type->base_type : side->type;
        if (!t || (!t->pointer_depth && !(t->flags & TYPE_NUMBER))) {
            print_error_on_token(where, "You cannot apply an arithmetic operation on a value of type '%s' because it is not a number.\n"
                                        "Note that operators cannot be overloaded at the moment but this may change in future versions.",
                                 type_to_c_string(side->type));
            return false;
        }
    }
    if (left->flags & VALUE_UNTYPED) {
        if (!right->type || !cast_value_to_type(left, right->type, where)) {
            if (!right->type) value_set_default_type(left);
            else return false;
        }
    }
    if (right->flags & VALUE_UNTYPED) {
        if (!cast_value_to_type(right, left->type, where)) return false;
    }
    Identifier *lt = left->type, *rt = right->type;
    Identifier *lv = lt && (lt->flags & TYPE_ENUM) && lt->base_type ? lt->base_type : lt;
    bool l_number = lv && (lv->pointer_depth || (lv->flags & TYPE_NUMBER));
    if (op == OP_ADD && type_is_address(lt) && type_is_address(rt)) {
        print_error_on_token(where, "You cannot add two memory addresses.");
        return false;
    }
    if (op & OP_CMP) {
        if (value_is_constant(right) && (right->constant.kind & CONSTANT_INTEGER) && right->constant.u == 0 && lv &&
            lv->pointer_depth == 0 && (lv->flags & TYPE_UNSIGNED) && !(lv->flags & TYPE_BOOLEAN) &&
            (op == OP_LESS || op == OP_GREATER_OR_EQUAL)) {
            print_error_on_token(where, "The left value is of type '%s' which is an unsigned integer, thus you cannot use operator %s to compare it to 0.",
                                 type_to_c_string(lt), operator_to_c_string(op));
            return false;
        }
        String message = {};
        if (!check_imperfect_types_mix_no_error(lt, rt, &message) && !check_imperfect_types_mix_no_error(rt, lt, nullptr)) {
            print_error_on_token(where, "%.*s", (int)message.count, message.data);
            return false;
        }
        left->type = s->type_b8;
    } else if (op & (OP_LOGICAL_AND | OP_LOGICAL_OR)) {
        left->type = s->type_b8;
    } else {
        if (!l_number) {
            print_error_on_token(where, "You cannot apply an arithmetic operation on a value of type '%s' because it is not a number.\n"
                                        "Note that operators cannot be overloaded at the moment but this may change in future versions.",
                                 type_to_c_string(lt));
            return false;
        }
        bool integer_only = op & (OP_MODULO | OP_SHIFT_LEFT | OP_SHIFT_RIGHT | OP_ROTATE_LEFT | OP_ROTATE_RIGHT | OP_BITWISE);
        Identifier *rv = rt && (rt->flags & TYPE_ENUM) && rt->base_type ? rt->base_type : rt;
        if (integer_only && (((lv->flags & TYPE_REAL) && !lv->pointer_depth) || (rv && (rv->flags & TYPE_REAL) && !rv->pointer_depth))) {
            print_error_on_token(where, "Operator '%s' must be used on integers.", operator_to_c_string(op));
            return false;
        }
        if ((op & (OP_DIVIDE | OP_MODULO)) && value_is_constant(right) && (right->constant.kind & CONSTANT_NUMBER) &&
            right->constant.u == 0) {
            print_error_on_token(where, "It looks like you are dividing by zero.");
            return false;
        }
        if (!check_imperfect_types_mix_no_error(lt, rt, nullptr)) {
            if (!check_imperfect_types_mix(rt, lt, where)) return false;
            left->type = rt;
        }
    }
    left->flags &= ~(VALUE_CONSTANT | VALUE_UNTYPED | VALUE_EMBEDDED_ARRAY);
    if (code_generation_enabled()) {
        // Both sides reach the back end with the operation's type.
        if (!(op & (OP_CMP | OP_LOGICAL_AND | OP_LOGICAL_OR)) && right->type != left->type && value_is_constant(right)) {
            if (!cast_value_to_type(right, left->type, where)) return false;
        }
        Identifier *result_type = left->type;
        if (op & (OP_CMP | OP_LOGICAL_AND | OP_LOGICAL_OR)) left->type = lt;
        // Two numbers of different types meet in the wider one: a narrower
        // run-time side is converted first, not read at the wider size.
        Identifier *common = (op & OP_CMP) ? (check_imperfect_types_mix_no_error(lt, rt, nullptr) ? lt : rt) : left->type;
        if (!(op & (OP_LOGICAL_AND | OP_LOGICAL_OR)) && is_plain_number(common)) {
            if (!value_is_constant(right) && is_plain_number(right->type) && right->type != common &&
                !code_generator.cast(expression_scope, right, common, where)) return false;
            if (!value_is_constant(left) && is_plain_number(lt) && lt != common) {
                left->type = lt;
                if (!code_generator.cast(expression_scope, left, common, where)) return false;
                if (op & OP_CMP) left->type = common;
            }
        }
        if (!code_generator.binary(expression_scope, left, op, right, where)) return false;
        left->type = result_type;
    }
    return true;
}

// [SECTION] '&&' and '||'

static bool check_truth_operand(const Value *v, Token *where) {
    Identifier *t = v->type;
    if ((v->flags & VALUE_UNTYPED) || !t || t->pointer_depth || !(t->flags & (TYPE_STRUCT | TYPE_VOID))) return true;
    print_error_on_token(where, "This operator cannot be applied on values of type '%s'.", type_to_c_string(t));
    return false;
}

static bool constant_truth(const Value *v) {
    if (v->constant.kind & CONSTANT_REAL) return v->constant.f != 0.0;
    if (v->constant.kind & CONSTANT_STRING) return v->constant.string.count != 0;
    return v->constant.u != 0;
}

// 'left op right' for '&&' and '||', `out` holding the left side. The right
// side runs only when the left one does not decide: with a constant left that
// decides, the right side is still checked, in a scope whose code is dropped.
static bool parse_logical(Expression_Context *ctx, Cursor *c, u8 priority, u64 op, Token *where, Value *out) {
    Compiler_State *s = &global_compiler_state;
    if (!check_truth_operand(out, where)) return false;
    Value right = {};
    auto parse_right = [&](Scope *scope) {
        Expression_Context inner = {scope, ctx->end};
        return parse_expression(&inner, c, (u8)(priority + 1), s->type_b8, &right) &&
               check_value_has_result(&right, right.first ? right.first : where) && check_truth_operand(&right, where);
    };
    Token *first = out->first;
    if (value_is_constant(out)) {
        bool left = constant_truth(out);
        bool decides = op == OP_LOGICAL_AND ? !left : left;
        if (decides) {
            if (!parse_right(_add_a_scope(ctx->scope, 0))) return false;
        } else {
            if (!parse_right(ctx->scope)) return false;
            if (!value_is_constant(&right)) {
                if (!code_generator.logical_end(ctx->scope, out, &right, nullptr, where)) return false;
                out->first = first;
                out->last = right.last;
                return true;
            }
            left = constant_truth(&right);
        }
        Token *last = right.last;
        make_constant_value_from_integer(out, s->type_b8, left ? 1 : 0);
        out->first = first;
        out->last = last;
        return true;
    }
    IR_Instruction *end_label = code_generator.logical_begin(ctx->scope, out, op, where);
    if (!end_label) return false;
    if (!parse_right(ctx->scope)) return false;
    if (!code_generator.logical_end(ctx->scope, out, &right, end_label, where)) return false;
    out->first = first;
    out->last = right.last;
    return true;
}

static bool combine(Value *left, u64 op, Value *right, Token *where) {
    if (op == OP_ASSIGN || (op & OP_ASSIGN)) {
        if (value_is_constant(left)) print_error_on_token(where, "You cannot reassign a value to a constant.");
        else print_error_on_token(where, "Assignments cannot be used as values.");
        return false;
    }
    if (value_is_constant(left) && value_is_constant(right)) return apply_constant_operation(left, op, right, where);
    return combine_dynamic(left, op, right, where);
}

// Reads the operator at the cursor without consuming it; 0 when there is none.
static u64 peek_operator(Expression_Context *ctx, Cursor *c, u8 *priority) {
    if (at_end(ctx, c)) return 0;
    Token *t = c->t;
    if (!c->split && is_signed_literal(t)) {
        *priority = 3;
        return t->text[0] == '-' ? OP_SUBTRACT : OP_ADD;
    }
    if ((t->kind & TOKEN_BINARY_OPERATOR) && !c->split) {
        *priority = t->priority;
        return t->op;
    }
    return 0;
}

static bool parse_expression(Expression_Context *ctx, Cursor *c, u8 min_level, Identifier *expected, Value *out) {
    if (!compiler_enter_nesting(c->t)) return false;
    Scope *outer_scope = expression_scope;
    expression_scope = ctx->scope;
    bool ok = parse_operand(ctx, c, expected, out);
    while (ok) {
        u8 priority = 0;
        u64 op = peek_operator(ctx, c, &priority);
        if (!op || priority < min_level) break;
        Token *where = c->t;
        if (is_signed_literal(where) && !c->split) c->split = true;
        else advance(c);
        if (at_end(ctx, c)) {
            print_error_on_token(where, "It looks like there is no value to apply this operation on.");
            ok = false;
            break;
        }
        Value right = {};
        Identifier *right_expected = out->flags & VALUE_UNTYPED ? expected : out->type;
        if (out->type == global_compiler_state.type_Type) right_expected = nullptr;
        ok = check_value_has_result(out, out->first ? out->first : where);
        if (ok && (op & (OP_LOGICAL_AND | OP_LOGICAL_OR)) && code_generation_enabled()) {
            ok = parse_logical(ctx, c, priority, op, where, out);
            continue;
        }
        if (ok) ok = parse_expression(ctx, c, (u8)(priority + 1), right_expected, &right);
        if (ok) ok = check_value_has_result(&right, right.first ? right.first : where);
        if (ok) ok = combine(out, op, &right, where);
        if (ok) out->last = right.last;
    }
    expression_scope = outer_scope;
    compiler_leave_nesting();
    return ok;
}

bool parse_simple_statement(Scope *scope, Token *first, Token *end, Identifier *expected, Value *out) {
    memset(out, 0, sizeof *out);
    if (!first || first == end) {
        print_error_on_token(first ? first : end, "The compiler expected a value.");
        return false;
    }
    Expression_Context ctx = {scope, end};
    Cursor c = {first, false};
    if (!parse_expression(&ctx, &c, 0, expected, out)) return false;
    if (!at_end(&ctx, &c)) {
        report_token_after_value(c.t);
        return false;
    }
    out->scope = scope;
    return true;
}

bool parse_assignment_value(Scope *scope, Identifier *expected, Token *first, Token *end, Value *out) {
    Compiler_State *s = &global_compiler_state;
    if (first && first != end && token_is(first, "#code")) {
        Token *body = first->next;
        Token *code_first = nullptr, *code_end = nullptr, *after = nullptr;
        if (body && body != end && (body->kind & TOKEN_OPEN_BRACE)) {
            code_first = body->next;
            code_end = body->partner;
            after = body->partner->next;
        } else if (body && body != end && (body->kind & TOKEN_COLON) && body->partner) {
            code_first = body->next;
            code_end = body->partner->next;
            after = code_end;
            // The ';' ending the code may be the one ending the declaration.
            if (end == body->partner) after = end;
        } else {
            print_error_on_token(first, "#code is used like this:\n#code: a = 2; or #code { a = 2; }");
            return false;
        }
        if (after && after != end && after != body->partner) {
            print_error_on_token(after, "This is unexpected. Did you forget a ';' or a ','?");
            return false;
        }
        memset(out, 0, sizeof *out);
        out->flags = VALUE_CONSTANT;
        out->type = s->code_type;
        out->constant.kind = CONSTANT_CODE;
        out->constant.code_first = code_first;
        out->constant.code_end = code_end;
        out->first = first;
        out->last = first;
        if (expected && s->code_type && expected != s->code_type) return check_imperfect_types_mix(expected, s->code_type, first);
        return true;
    }
    if (!parse_simple_statement(scope, first, end, expected, out)) return false;
    if (!check_value_has_result(out, first)) return false;
    if (!expected) return true;
    return cast_value_in_scope(scope, out, expected, first);
}

bool cast_value_in_scope(Scope *scope, Value *v, Identifier *type, Token *where) {
    Scope *outer_scope = expression_scope;
    expression_scope = scope;
    bool ok = cast_value_to_type(v, type, where);
    expression_scope = outer_scope;
    return ok;
}
