// Types: parsing type text, derived types (addresses, arrays, sub-program
// types) made once each, printing, matching and the implicit conversion rules.
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"

constexpr u32 TYPE_CHAIN_MAX_LENGTH = 8;

// Derived types are found again by their printed name (addresses by their
// leaf and depth) in one scope of their own.
static Scope *derived_scope() {
    Compiler_State *state = &global_compiler_state;
    if (!state->derived_types_scope) state->derived_types_scope = _add_a_scope(nullptr, 0);
    return state->derived_types_scope;
}

static Identifier *add_derived(String name) {
    Identifier *id = add_identifier(derived_scope(), name.data, name.count, IDENTIFIER_KIND_CONSTANT,
                                    Trace{0xFFFFFFFF, 0, nullptr, nullptr, 0});
    id->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT | IDENTIFIER_IS_TYPE;
    id->type = global_compiler_state.type_Type;
    id->constant.kind = CONSTANT_TYPE;
    id->constant.type_value = id;
    id->leaf_type = id;
    return id;
}

String type_to_string(Identifier *type) {
    if (!type) return S("(no type)");
    if (type->pointer_depth > 0) {
        String leaf = type_to_string(type->leaf_type);
        char at[TYPE_CHAIN_MAX_LENGTH + 1];
        u32 n = type->pointer_depth;
        for (u32 i = 0; i < n; i++) at[i] = '@';
        return arena_format_string("%.*s %.*s", (int)n, at, (int)leaf.count, leaf.data);
    }
    String name = identifier_name(type);
    if (type->enclosing) {
        String outer = type_to_string(type->enclosing);
        return arena_format_string("%.*s.%.*s", (int)outer.count, outer.data, (int)name.count, name.data);
    }
    return name;
}

const char *type_to_c_string(Identifier *type) { return (const char *)arena_copy(type_to_string(type)).data; }

Identifier *type_to_memory_address_of_type(Identifier *type, u32 depth) {
    if (depth == 0) return type;
    Identifier *leaf = type->leaf_type ? type->leaf_type : type;
    u32 total = type->pointer_depth + depth;
    if (total == 1 && leaf->address_type) return leaf->address_type;
    String name = arena_format_string("%u@%p", total, (void *)leaf);
    Scope *scope = derived_scope();
    Identifier *found = get_identifier_in_scope(scope, name.data, name.count);
    if (!found) {
        found = add_derived(name);
        found->pointer_depth = (u8)total;
        found->leaf_type = leaf;
        found->size = global_compiler_state.address_size;
        found->alignment = global_compiler_state.address_size;
    }
    if (total == 1) leaf->address_type = found;
    return found;
}

Identifier *get_sub_program_type(Signature *signature) {
    String text = S("(");
    for (u32 i = 0; i < signature->num_parameters; i++) {
        if (signature->parameters[i].is_constant) continue;
        String t = type_to_string(signature->parameters[i].type);
        text = arena_format_string("%.*s%s%.*s", (int)text.count, text.data, text.count > 1 ? ", " : "", (int)t.count, t.data);
    }
    text = arena_format_string("%.*s)", (int)text.count, text.data);
    if (signature->flags & SUB_PROGRAM_C_CALL) text = arena_format_string("%.*s #c_call", (int)text.count, text.data);
    if (signature->return_type) {
        String r = type_to_string(signature->return_type);
        text = arena_format_string("%.*s -> %.*s", (int)text.count, text.data, (int)r.count, r.data);
    }
    Identifier *found = get_identifier_in_scope(derived_scope(), text.data, text.count);
    if (found) return found;
    Identifier *id = add_derived(text);
    id->flags |= TYPE_SUB_PROGRAM;
    id->signature = signature;
    id->size = global_compiler_state.address_size;
    id->alignment = global_compiler_state.address_size;
    return id;
}

Identifier *get_or_add_array_type_from(Identifier *element, bool fixed, u64 capacity, Token *where) {
    Compiler_State *state = &global_compiler_state;
    String e = type_to_string(element);
    String name = fixed ? arena_format_string("[%llu] %.*s", (unsigned long long)capacity, (int)e.count, e.data)
                        : arena_format_string("[] %.*s", (int)e.count, e.data);
    Identifier *found = get_identifier_in_scope(derived_scope(), name.data, name.count);
    if (found) return found;
    Identifier *poly = fixed ? state->fixed_size_array_struct : state->array_struct;
    if (!poly) {
        print_error_on_token(where, "Arrays cannot be used before the support file declares them.");
        return nullptr;
    }
    Constant arguments[2] = {};
    arguments[0].kind = CONSTANT_TYPE;
    arguments[0].type_value = element;
    arguments[1].kind = CONSTANT_UNSIGNED;
    arguments[1].size = 8;
    arguments[1].u = capacity;
    Identifier *instance = make_struct_from_polymorphic_using_arguments(poly, arguments, where);
    if (!instance) return nullptr;
    // The array type is its own record named by its printed form.
    Identifier *id = add_derived(name);
    Identifier *keep_next = id->next;
    Scope *keep_scope = id->scope;
    Trace keep_trace = id->declaration;
    *id = *instance;
    id->next = keep_next;
    id->scope = keep_scope;
    id->declaration = keep_trace;
    id->name = name.data;
    id->name_length = name.count;
    id->constant.type_value = id;
    id->leaf_type = id;
    id->address_type = nullptr;
    id->flags |= TYPE_ARRAY_STRUCT | (fixed ? (u64)TYPE_FIXED_SIZE_ARRAY : (u64)0);
    id->element_type = element;
    id->max_count = capacity;
    return id;
}

// [SECTION] Parsing

static bool parse_type_at(Scope *scope, Token *first, Token *end, Identifier **out, Token **stop);

static Identifier *type_from_identifier(Identifier *id, Token *name) {
    if (id->flags & IDENTIFIER_IS_TYPE) {
        if (id->polymorphic) {
            print_error_on_token(name, "'%s' cannot be directly used here.", token_to_c_string(name));
            return nullptr;
        }
        return id;
    }
    if (id->type == global_compiler_state.type_Type) {
        if (!(id->flags & IDENTIFIER_CONSTANT)) {
            print_error_on_token(name, "'%s' is not constant.", token_to_c_string(name));
            return nullptr;
        }
        if (id->constant.kind & CONSTANT_TYPE) return id->constant.type_value;
    }
    print_error_on_token(name, "'%s' does not appear to be a type.", token_to_c_string(name));
    return nullptr;
}

static bool parse_type_name(Scope *scope, Token *t, Token *end, Identifier **out, Token **stop) {
    Identifier *id = get_identifier_with_error(scope, t, false);
    if (!id) return false;
    Token *next = t->next;
    if (next && next != end && (next->kind & TOKEN_OPEN_PARENTHESIS) && (id->flags & IDENTIFIER_IS_TYPE) && id->polymorphic) {
        Identifier *instance = make_struct_from_polymorphic(scope, id, next);
        if (!instance) return false;
        *out = instance;
        *stop = next->partner->next;
        return true;
    }
    if (next && next != end && (next->kind & TOKEN_OPEN_PARENTHESIS) && !id->polymorphic) {
        // Arguments after a type that takes none.
        Identifier *type = type_from_identifier(id, t);
        if (!type) return false;
        print_error_on_token(t, "Type '%s' is not a polymorphic struct.", type_to_c_string(type));
        return false;
    }
    while (next && next != end && (next->kind & TOKEN_BINARY_OPERATOR) && next->op == OP_DOT) {
        // A type declared inside a struct.
        if (id->flags & IDENTIFIER_ENUM_MEMBER || (id->type && (id->type->flags & TYPE_ENUM) && !(id->flags & IDENTIFIER_IS_TYPE))) {
            print_error_on_token(t, "It looks like you are trying to use an enum value as a type.");
            return false;
        }
        Token *member = next->next;
        if (!member || member == end) {
            print_error_on_token(next, "This looks incomplete.");
            return false;
        }
        if (!(member->kind & TOKEN_IDENTIFIER)) {
            print_error_on_token(member, "Expected an identifier but got '%s' instead.", token_to_c_string(member));
            return false;
        }
        if (id->polymorphic) {
            print_error_on_token(t, "'%s' is a polymorphic struct. Did you forget to give it arguments?", token_to_c_string(t));
            return false;
        }
        if (!(id->flags & IDENTIFIER_IS_TYPE)) {
            print_error_on_token(t, "'%s' does not appear to be a type.", token_to_c_string(t));
            return false;
        }
        if (!id->member_scope) { // a type, but nothing is declared inside it
            print_error_on_token(t, "Type '%s' does not appear to be a struct.", type_to_c_string(id));
            return false;
        }
        if (id->flags & TYPE_ENUM) {
            print_error_on_token(member, "It looks like you are trying to use an enum value as a type.");
            return false;
        }
        Identifier *inner = get_identifier_in_scope(id->member_scope, member->text, member->length);
        if (!inner || !(inner->flags & IDENTIFIER_CONSTANT)) {
            print_error_on_token(member, "'%s' does not appear to be a type.", token_to_c_string(member));
            return false;
        }
        if (!resolve_identifier(inner)) return false;
        id = inner;
        t = member;
        next = member->next;
    }
    Identifier *type = type_from_identifier(id, t);
    if (!type) return false;
    *out = type;
    *stop = next;
    return true;
}

static bool parse_type_at(Scope *scope, Token *first, Token *end, Identifier **out, Token **stop) {
    Compiler_State *state = &global_compiler_state;
    u32 depth = 0;
    Token *t = first;
    while (t && t != end && (t->kind & TOKEN_AT)) {
        depth++;
        if (depth > TYPE_CHAIN_MAX_LENGTH) {
            print_error_on_token(t, "You cannot make a type that has more than %u addresses in a row pointing to each other.",
                                 TYPE_CHAIN_MAX_LENGTH);
            return false;
        }
        Token *next = t->next;
        if (!next || next == end) {
            print_error_on_token(t, "You cannot use a memory address without indicating the type of the value it points to.");
            return false;
        }
        t = next;
    }
    if (!t || t == end) {
        print_error_on_token(first ? first : t, "Expected a type.");
        return false;
    }
    if (!compiler_enter_nesting(t)) return false;
    Identifier *base = nullptr;
    Token *after = nullptr;
    bool ok = false;
    if (t->kind & TOKEN_OPEN_BRACKET) {
        bool fixed = t->partner != t->next;
        u64 capacity = 0;
        if (fixed) {
            Value v = {};
            ok = parse_simple_statement(scope, t->next, t->partner, nullptr, &v);
            if (ok && !value_is_constant(&v)) {
                print_error_on_token(t->next, "This expression does not appear to be constant.");
                ok = false;
            }
            // Any integer constant that fits makes a size, signed or not.
            bool is_signed = (v.constant.kind & CONSTANT_SIGNED) || (v.type && (v.type->flags & TYPE_INTEGER) && !(v.type->flags & TYPE_UNSIGNED));
            if (ok && (v.constant.kind & CONSTANT_INTEGER) && !(is_signed && v.constant.s < 0)) {
                capacity = v.constant.u;
            } else {
                if (ok) ok = cast_value_to_type(&v, state->type_u64, t->next);
                capacity = v.constant.u;
            }
        } else {
            ok = true;
        }
        Identifier *element = nullptr;
        Token *element_first = t->partner->next;
        if (ok && (!element_first || element_first == end)) {
            print_error_on_token(t, "Expected a type.");
            ok = false;
        }
        if (ok) ok = parse_type_at(scope, element_first, end, &element, &after);
        if (ok) {
            base = get_or_add_array_type_from(element, fixed, capacity, t);
            ok = base != nullptr;
        }
    } else if (t->kind & TOKEN_IDENTIFIER) {
        ok = parse_type_name(scope, t, end, &base, &after);
    } else if (t->kind & TOKEN_OPEN_PARENTHESIS) {
        Signature *signature = nullptr;
        bool polymorphic = false;
        ok = parse_sub_program_signature(scope, t, end, &signature, &polymorphic, &after);
        if (ok && polymorphic) {
            print_error_on_token(t, "This sub-program cannot be polymorphic.");
            ok = false;
        }
        if (ok) base = get_sub_program_type(signature);
    } else if (token_is(t, "#type_of")) {
        Token *open = t->next;
        if (!open || open == end || !(open->kind & TOKEN_OPEN_PARENTHESIS)) {
            print_error_on_token(t, "This directive is meant to be used this way: #type_of(<expression>).");
        } else if (open->partner == open->next) {
            print_error_on_token(open, "Did you forget to specify an expression to get the type of?");
        } else {
            base = get_type_of_simple_expression(scope, open->next, open->partner);
            ok = base != nullptr;
            after = open->partner->next;
        }
    } else if (t->kind & TOKEN_DIRECTIVE) {
        print_error_on_token(t, "This directive does not exist or is not supported here.");
    } else {
        print_error_on_token(t, "Expected a type but got '%s' instead.", token_to_c_string(t));
    }
    compiler_leave_nesting();
    if (!ok) return false;
    if (depth && (base->flags & TYPE_VOID) == 0 && base->pointer_depth + depth > TYPE_CHAIN_MAX_LENGTH) {
        print_error_on_token(first, "You cannot make a type that has more than %u addresses in a row pointing to each other.",
                             TYPE_CHAIN_MAX_LENGTH);
        return false;
    }
    *out = type_to_memory_address_of_type(base, depth);
    *stop = after;
    return true;
}

bool parse_type(Scope *scope, Identifier **out, Token *first, Token *end) {
    Token *stop = nullptr;
    if (!parse_type_at(scope, first, end, out, &stop)) return false;
    if (stop && stop != end) {
        if ((stop->kind & TOKEN_BINARY_OPERATOR) && !(stop->op == OP_DOT)) {
            print_error_on_token(stop, "When declaring a variable or a constant and assigning a value to it make sure to use operator '='. "
                                       "It looks like you are using '%s' instead.", token_to_c_string(stop));
        } else {
            print_error_on_token(stop, "This type does not look correct.");
        }
        return false;
    }
    return true;
}

// [SECTION] Matching and implicit conversions

bool types_perfectly_match(Identifier *a, Identifier *b) {
    if (a == b) return true;
    if (!a || !b) return false;
    if (a->pointer_depth == b->pointer_depth && a->leaf_type == b->leaf_type) return true;
    if (a->pointer_depth == b->pointer_depth && a->pointer_depth == 0 && (a->flags & TYPE_STRUCT) && (b->flags & TYPE_STRUCT)) {
        return a->size == b->size && a->alignment == b->alignment && a->name_length == b->name_length &&
               memcmp(a->name, b->name, (size_t)a->name_length) == 0 && a->member_scope && b->member_scope &&
               a->member_scope->variables.count == b->member_scope->variables.count;
    }
    if ((a->flags & TYPE_SUB_PROGRAM) && (b->flags & TYPE_SUB_PROGRAM) && a->pointer_depth == 0 && b->pointer_depth == 0) {
        Signature *x = a->signature, *y = b->signature;
        if (!x || !y || x->num_parameters != y->num_parameters) return false;
        for (u32 i = 0; i < x->num_parameters; i++) {
            Identifier *p = x->parameters[i].type, *q = y->parameters[i].type;
            if (types_perfectly_match(p, q)) continue;
            if (type_is_address(p) && type_is_address(q)) {
                if ((p->leaf_type->flags & TYPE_VOID) && p->pointer_depth <= q->pointer_depth) continue;
                if ((q->leaf_type->flags & TYPE_VOID) && q->pointer_depth <= p->pointer_depth) continue;
            }
            return false;
        }
        return true;
    }
    return false;
}

// The class an implicit conversion sees: an enum is its base type and an
// address used as a number is s64.
static Identifier *numeric_view(Identifier *t) {
    if (t && t->pointer_depth == 0 && (t->flags & TYPE_ENUM) && t->base_type) return t->base_type;
    return t;
}

bool check_imperfect_types_mix_no_error(Identifier *destination, Identifier *source, String *message) {
    if (types_perfectly_match(destination, source)) return true;
    Identifier *d = numeric_view(destination), *s = numeric_view(source);
    if (types_perfectly_match(d, s)) return true;
    bool d_number = d->pointer_depth == 0 && (d->flags & TYPE_NUMBER);
    bool s_number = s->pointer_depth == 0 && (s->flags & TYPE_NUMBER);
    bool d_bool = d->pointer_depth == 0 && (d->flags & TYPE_BOOLEAN);
    bool s_bool = s->pointer_depth == 0 && (s->flags & TYPE_BOOLEAN);
    String dn = type_to_string(destination), sn = type_to_string(source);
    auto fail = [&](const char *format, String first, String second) {
        if (message) *message = arena_format_string(format, (int)first.count, first.data, (int)second.count, second.data);
        return false;
    };
    if (d_number && s_number) {
        if (d_bool || s_bool) return true;
        bool d_int = d->flags & (TYPE_UNSIGNED | TYPE_SIGNED), s_int = s->flags & (TYPE_UNSIGNED | TYPE_SIGNED);
        if (d_int && s_int) {
            bool d_signed = d->flags & TYPE_SIGNED, s_signed = s->flags & TYPE_SIGNED;
            if (d_signed == s_signed) {
                if (s->size <= d->size) return true;
                return fail("The destination (type %.*s) is too small to contain the source (type %.*s).", dn, sn);
            }
            if (d_signed && s->size < d->size) return true;
            return fail("You cannot implicitly cast from '%.*s' to '%.*s' as information may be lost.", sn, dn);
        }
        if ((d->flags & TYPE_REAL) && (s->flags & TYPE_REAL)) {
            if (s->size <= d->size) return true;
            return fail("The destination (type %.*s) is too small to contain the source (type %.*s).", dn, sn);
        }
        if (d->flags & TYPE_REAL) return true;
        if (message) *message = S("You cannot use a real number as a source with an integer as a destination.");
        return false;
    }
    if (type_is_address(d) && type_is_address(s)) {
        if ((d->leaf_type->flags & TYPE_VOID) && s->pointer_depth >= d->pointer_depth) return true;
        if (d->pointer_depth == s->pointer_depth && types_perfectly_match(d->leaf_type, s->leaf_type)) return true;
    }
    if (d_bool && type_is_address(s)) return true;
    return fail("Type mismatch: wanted '%.*s' but got '%.*s' instead.", dn, sn);
}

bool check_imperfect_types_mix(Identifier *destination, Identifier *source, Token *location) {
    String message = {};
    if (check_imperfect_types_mix_no_error(destination, source, &message)) return true;
    print_error_on_token(location, "%.*s", (int)message.count, message.data);
    return false;
}

// '#type_of(expression)': only a literal or a name followed by member and
// index accesses; the type is found without evaluating anything.
static Identifier *type_of_operand(Scope *scope, Token *t) {
    Compiler_State *s = &global_compiler_state;
    if (t->kind & TOKEN_LITERAL) {
        Value v = {};
        if (!make_constant_value_from_token(&v, t, false)) return nullptr;
        value_set_default_type(&v);
        return v.type;
    }
    Identifier *id = get_identifier_with_error(scope, t, false);
    if (!id) return nullptr;
    if (id->flags & IDENTIFIER_IS_TYPE) return s->type_Type;
    if (!id->type || (id->flags & IDENTIFIER_BEING_RESOLVED)) {
        print_error_on_token(t, "'%s' is not fully declared.", token_to_c_string(t));
        return nullptr;
    }
    return id->type;
}

Identifier *get_type_of_simple_expression(Scope *scope, Token *first, Token *end) {
    Compiler_State *s = &global_compiler_state;
    if (!first || first == end) return nullptr;
    if (!(first->kind & (TOKEN_IDENTIFIER | TOKEN_LITERAL))) {
        if ((first->kind & TOKEN_BINARY_OPERATOR) && first->op == OP_DOT) print_error_on_token(first, "This is unexpected here.");
        else print_error_on_token(first, "This is unexpected in this context. Note that only simple expressions are allowed here "
                                         "(simple literals, identifiers, struct and array dereferences).");
        return nullptr;
    }
    Identifier *type = type_of_operand(scope, first);
    if (!type) return nullptr;
    bool literal = first->kind & TOKEN_LITERAL;
    for (Token *t = first->next; t && t != end;) {
        if ((t->kind & TOKEN_BINARY_OPERATOR) && t->op == OP_DOT) {
            Token *member = t->next;
            if (!member || member == end) {
                print_error_on_token(t, "Is this '%s' superfluous?", token_to_c_string(t));
                return nullptr;
            }
            if (literal) {
                print_error_on_token(t, "You cannot dereference a literal from a struct.");
                return nullptr;
            }
            if (!(member->kind & TOKEN_IDENTIFIER)) {
                print_error_on_token(member, "This is unexpected here.");
                return nullptr;
            }
            Identifier *structure = type->pointer_depth == 1 ? type->leaf_type : type;
            if (!structure || structure->pointer_depth || !(structure->flags & TYPE_STRUCT) || !structure->member_scope) {
                print_error_on_token(t, "Type '%s' does not appear to be a struct.", type_to_c_string(type));
                return nullptr;
            }
            Identifier *m = get_identifier_in_scope(structure->member_scope, member->text, member->length);
            if (!m || (m->flags & IDENTIFIER_CONSTANT && !(m->flags & IDENTIFIER_USING))) {
                print_error_on_token(member, "Struct '%s' has no member named '%s'.", type_to_c_string(structure), token_to_c_string(member));
                return nullptr;
            }
            type = (m->flags & IDENTIFIER_EMBEDDED_ARRAY) ? type_to_memory_address_of_type(m->type->element_type, 1) : m->type;
            t = member->next;
            continue;
        }
        if (t->kind & TOKEN_OPEN_BRACKET) {
            // The index is not evaluated: every element has the same type.
            if (type->pointer_depth > 0) type = type_to_memory_address_of_type(type->leaf_type, type->pointer_depth - 1);
            else if (type->flags & IDENTIFIER_STRING_TYPE) type = s->type_u8;
            else if ((type->flags & TYPE_ARRAY_STRUCT) && type->element_type) type = type->element_type;
            else {
                print_error_on_token(t, "Type '%s' is not a memory address, an array or a string.", type_to_c_string(type));
                return nullptr;
            }
            literal = false;
            t = t->partner ? t->partner->next : nullptr;
            continue;
        }
        if (t->kind & (TOKEN_IDENTIFIER | TOKEN_LITERAL)) {
            print_error_on_token(t, "Expected an operator but got '%s' instead.", token_to_c_string(t));
        } else {
            print_error_on_token(t, "This is unexpected in this context. Note that only simple expressions are allowed here "
                                    "(simple literals, identifiers, struct and array dereferences).");
        }
        return nullptr;
    }
    return type;
}
