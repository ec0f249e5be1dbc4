// Enums: the base type, the members with their inferred or explicit values,
// flag enums, range checks against the base type and #unique_values.
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"

struct Enum_Parse {
    Identifier *enum_type;
    bool flags_mode;
    bool unique;
    u64 next_value;
};

static bool parse_enum_body(Enum_Parse *p, Token *first, Token *end);

static bool check_range(Identifier *base, u64 value, Token *where) {
    s64 s = (s64)value;
    if (base->flags & TYPE_SIGNED) {
        switch (base->size) {
        case 1:
            if (s > 127) { print_error_on_token(where, "The value assigned to this member (%s) is too big. The limit is 127.", s64_to_c_string(s, true)); return false; }
            if (s < -128) { print_error_on_token(where, "The value assigned to this member (%s) is too small. The limit is -128.", s64_to_c_string(s, true)); return false; }
            return true;
        case 2:
        case 4: {
            s64 hi = base->size == 2 ? 32767 : 2147483647, lo = base->size == 2 ? -32768 : -2147483648ll;
            if (s > hi) { print_error_on_token(where, "The value assigned to this member (%s) is too big. The limit is %'d.", s64_to_c_string(s, true), (int)hi); return false; }
            if (s < lo) { print_error_on_token(where, "The value assigned to this member (%s) is too small. The limit is %s.", s64_to_c_string(s, true), s64_to_c_string(lo, true)); return false; }
            return true;
        }
        default: return true;
        }
    }
    switch (base->size) {
    case 1:
        if (value > 0xff) { print_error_on_token(where, "The value assigned to this member (0x%llx) is too big. The limit is 0xff.", (unsigned long long)value); return false; }
        return true;
    case 2:
        if (value > 0xffff) { print_error_on_token(where, "The value assigned to this member (0x%llx) is too big. The limit is 0xffFF.", (unsigned long long)value); return false; }
        return true;
    case 4:
        if (value > 0xffffffffull) { print_error_on_token(where, "The value assigned to this member (0x%llx) is too big. The limit is 0x%llx.", (unsigned long long)value, 0xffffffffull); return false; }
        return true;
    default: return true;
    }
}

static Token *parse_enum_static_if(Enum_Parse *p, Token *t, Token *end) {
    Token *chosen;
    Token *after = choose_static_if_block(p->enum_type->member_scope, t, end, &chosen);
    if (!after) return nullptr;
    if (chosen) {
        if (!compiler_enter_nesting(chosen)) return nullptr;
        bool ok = parse_enum_body(p, chosen->next, chosen->partner);
        compiler_leave_nesting();
        if (!ok) return nullptr;
    }
    return after;
}

static const char *const MEMBER_END_MESSAGE =
    "Enum members are declared like struct members. You can omit the type and assignment entirely. In any case a declaration must end with a ';'.";

static Token *parse_enum_member(Enum_Parse *p, Token *t, Token *end) {
    Compiler_State *s = &global_compiler_state;
    Identifier *enum_type = p->enum_type;
    Scope *members = enum_type->member_scope;
    if (!(t->kind & TOKEN_DOLLAR)) {
        if (t->kind & TOKEN_IDENTIFIER) print_error_on_token(t, "Enum members must be marked as constant. To do so prepend '$' to the member name, e.g. $SOME_VALUE;.");
        else print_error_on_token(t, "Expected a member name but got '%s' instead.", token_to_c_string(t));
        return nullptr;
    }
    Token *name = t->next;
    if (!name || name == end || !(name->kind & TOKEN_IDENTIFIER)) {
        print_error_on_token(name && name != end ? name : t, "Expected a member name but got '%s' instead.", name && name != end ? token_to_c_string(name) : "");
        return nullptr;
    }
    Token *next = name->next;
    Token *semicolon = nullptr;
    Token *value_first = nullptr;
    Identifier *declared_type = nullptr;
    if (!next || next == end) {
        print_error_on_token(name, "%s", MEMBER_END_MESSAGE);
        return nullptr;
    }
    if (next->kind & TOKEN_SEMICOLON) {
        semicolon = next;
    } else if (next->kind & TOKEN_COLON) {
        semicolon = next->partner;
        if (!semicolon) {
            print_error_on_token(name, "%s", MEMBER_END_MESSAGE);
            return nullptr;
        }
        Token *after = next->next;
        if (after == semicolon) {
            print_error_on_token(after, "Expected ';', '?' or an explicit type but got '%s' instead.", token_to_c_string(after));
            return nullptr;
        }
        if (after->kind & TOKEN_QUESTION_MARK) {
            if (after->next != semicolon) {
                print_error_on_token(after->next, "Expected ';', '?' or an explicit type but got '%s' instead.", token_to_c_string(after->next));
                return nullptr;
            }
        } else {
            Token *equal = get_first_operator_like_bounded(after, OP_ASSIGN | OP_CMP | OP_LOGICAL_AND | OP_LOGICAL_OR, semicolon);
            for (Token *x = after; x && x != semicolon; x = token_skip(x)) {
                if ((x->kind & TOKEN_BINARY_OPERATOR) && (x->op & OP_ASSIGN)) {
                    equal = x;
                    break;
                }
            }
            if (equal && equal->op != OP_ASSIGN) {
                print_error_on_token(equal, "You cannot use operator '%s' here as this is supposed to be an enum member declaration.", token_to_c_string(equal));
                return nullptr;
            }
            if (!equal) {
                print_error_on_token(semicolon, "The compiler expected a value.");
                return nullptr;
            }
            if (after != equal) {
                if (!parse_type(members, &declared_type, after, equal)) return nullptr;
                if (declared_type != enum_type && declared_type != enum_type->base_type) {
                    print_error_on_token(after, "Enum '%s' is based on type '%s' but you are using type '%s'.", type_to_c_string(enum_type),
                                         type_to_c_string(enum_type->base_type), type_to_c_string(declared_type));
                    return nullptr;
                }
            }
            value_first = equal->next;
            if (value_first == semicolon) {
                print_error_on_token(equal, "The compiler expected a value.");
                return nullptr;
            }
        }
    } else if ((next->kind & TOKEN_OPERATOR) || (next->kind & TOKEN_SIGNED_INTEGER)) {
        print_error_on_token(next, "You cannot use operator '%s' here as this is supposed to be an enum member declaration.", token_to_c_string(next));
        return nullptr;
    } else {
        print_error_on_token(next, "This does not look like an enum member declaration. Did you forget to put a ':' after the member name? (Note that you cannot execute instructions inside an enum.)");
        return nullptr;
    }
    Identifier *existing = get_identifier_in_scope(members, name->text, name->length);
    if (existing) {
        print_error_on_token(name, "'%s' was previously declared in enum '%s'.", token_to_c_string(name), type_to_c_string(enum_type));
        return nullptr;
    }
    u64 value = p->next_value;
    Token *where = name;
    if (value_first) {
        Value v = {};
        if (!parse_simple_statement(members, value_first, semicolon, nullptr, &v)) return nullptr;
        if (!value_is_constant(&v) || !(v.constant.kind & CONSTANT_INTEGER)) {
            if (value_is_constant(&v) && (v.constant.kind & CONSTANT_STRING) && !(v.flags & VALUE_UNTYPED)) {
                print_error_on_token(value_first, "Type mismatch: wanted '%s' but got '%s' instead.", type_to_c_string(enum_type->base_type), type_to_c_string(v.type));
            } else if (!value_is_constant(&v)) {
                print_error_on_token(value_first, "This expression does not appear to be constant.");
            } else {
                print_error_on_token(value_first, "Type mismatch: wanted '%s' but got '%s' instead.", type_to_c_string(enum_type->base_type),
                                     type_to_c_string(v.flags & VALUE_UNTYPED ? untyped_literal_type(&v) : v.type));
            }
            return nullptr;
        }
        value = v.constant.u;
        where = value_first;
    }
    if (p->flags_mode && value != 0 && (value & (value - 1))) {
        print_error_on_token(where, "0x%llx is not a valid flag value.", (unsigned long long)value);
        return nullptr;
    }
    if (!check_range(enum_type->base_type, value, where)) return nullptr;
    if (p->unique) {
        for (Bucket_Iterator it = bucket_iterate(&members->constants); it.element; bucket_iterator_next(&it)) {
            Identifier *m = (Identifier *)it.element;
            if (m->constant.u != value) continue;
            if (value_first) {
                print_error_on_token(where, "Value 0x%llx is already in use by member '%.*s'.", (unsigned long long)value, (int)m->name_length, (const char *)m->name);
            } else {
                print_error_on_token(where, "The infered value of member '%s' (0x%llx) is already in use by member '%.*s'.", token_to_c_string(name),
                                     (unsigned long long)value, (int)m->name_length, (const char *)m->name);
            }
            return nullptr;
        }
    }
    Identifier *member = add_identifier(members, name->text, name->length, IDENTIFIER_KIND_CONSTANT, make_trace_from_token(name));
    member->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT | IDENTIFIER_ENUM_MEMBER;
    member->name_token = name;
    member->type = enum_type;
    Value typed = {};
    make_constant_value_from_integer(&typed, enum_type, value);
    member->constant = typed.constant;
    if (p->flags_mode) p->next_value = value == 0 ? 1 : value * 2;
    else p->next_value = value + 1;
    (void)s;
    return semicolon->next;
}

static bool parse_enum_body(Enum_Parse *p, Token *first, Token *end) {
    Token *t = first;
    while (t && t != end) {
        if (token_is(t, "#if")) {
            t = parse_enum_static_if(p, t, end);
            if (!t) return false;
            continue;
        }
        if (token_is(t, "else")) {
            print_error_on_token(t, "This else statement does not seem to be part of any #if statement.");
            return false;
        }
        if (t->kind & TOKEN_DIRECTIVE) {
            print_error_on_token(t, "Directive '%s' is unknown or not supported here.", token_to_c_string(t));
            return false;
        }
        t = parse_enum_member(p, t, end);
        if (!t) return false;
    }
    return true;
}

bool parse_enum_declaration(Scope *scope, Identifier *id, Token *directive, bool flags_mode) {
    Compiler_State *s = &global_compiler_state;
    Token *end = id->value_end;
    if (!(id->flags & IDENTIFIER_CONSTANT)) {
        print_error_on_token(id->name_token, "Enums must be constants. Did you forget to mark enum '%s' as constant?", token_to_c_string(id->name_token));
        return false;
    }
    Token *base_token = directive->next;
    if (!base_token || base_token == end || !(base_token->kind & TOKEN_IDENTIFIER)) {
        print_error_on_token(base_token && base_token != end ? base_token : directive, "Expected a type to base the enum on but got '%s' instead.",
                             base_token && base_token != end ? token_to_c_string(base_token) : "");
        return false;
    }
    Identifier *base;
    if (!parse_type(scope, &base, base_token, base_token->next)) return false;
    if (base->pointer_depth || !(base->flags & (TYPE_SIGNED | TYPE_UNSIGNED)) || (base->flags & TYPE_ENUM)) {
        print_error_on_token(base_token, "An enum must be based on an integer type. '%s' does not appear to be an integer type.", type_to_c_string(base));
        return false;
    }
    Token *equal = base_token->next;
    if (!equal || equal == end || !(equal->kind & TOKEN_BINARY_OPERATOR) || equal->op != OP_ASSIGN) {
        print_error_on_token(equal && equal != end ? equal : base_token, "Expected '=' before the enum block but got '%s' instead.",
                             equal && equal != end ? token_to_c_string(equal) : "");
        return false;
    }
    Token *t = equal->next;
    bool unique = false;
    while (t && t != end && (t->kind & TOKEN_DIRECTIVE)) {
        if (!token_is(t, "#unique_values")) {
            print_error_on_token(t, "Directive %s is unknown or not useable in this context.", token_to_c_string(t));
            return false;
        }
        unique = true;
        t = t->next;
    }
    if (!t || t == end || !(t->kind & TOKEN_OPEN_BRACE)) {
        print_error_on_token(t && t != end ? t : equal, "The compiler expected a block defining enum '%s' but got '%s' instead.",
                             token_to_c_string(id->name_token), t && t != end ? token_to_c_string(t) : "");
        return false;
    }
    if (t->partner->next && t->partner->next != end) {
        print_error_on_token(t->partner->next, "This is unexpected.");
        return false;
    }
    id->flags |= IDENTIFIER_IS_TYPE | TYPE_ENUM;
    id->type = s->type_Type;
    id->constant.kind = CONSTANT_TYPE;
    id->constant.type_value = id;
    id->leaf_type = id;
    id->base_type = base;
    id->size = base->size;
    id->alignment = base->alignment;
    id->member_scope = _add_a_scope(scope, 0);
    id->member_scope->owner = id;
    Enum_Parse p = {id, flags_mode, unique, 0};
    return parse_enum_body(&p, t->next, t->partner);
}
