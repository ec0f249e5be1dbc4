// Calls of polymorphic sub-programs: a '$' parameter takes a constant and a
// '?T' in a parameter's type captures the argument's type. Each combination
// of captured types and constant arguments is one instance, a sub-program of
// its own with a concrete signature, found again by its printed key and
// compiled once.
#include "compiler/front/polymorphic_calls.h"
#include "compiler/front/code_hooks.h"
#include "compiler/front/diagnostics.h"

static u32 align_up(u32 x, u32 a) { return a > 1 ? (x + a - 1) / a * a : x; }

static bool names_match(Token *name, const Parameter *p) {
    return p->name && p->name->length == name->length && memcmp(p->name->text, name->text, (size_t)name->length) == 0;
}

static bool range_has_capture(Token *first, Token *end) {
    for (Token *t = first; t && t != end; t = t->next) {
        if (t->kind & TOKEN_QUESTION_MARK) return true;
    }
    return false;
}

static String pattern_text(Token *first, Token *end) {
    Token *last = first;
    for (Token *t = first; t && t != end; t = t->next) last = t;
    return String{(u8 *)first->text, (s64)(last->text + last->length - first->text)};
}

static bool declare_capture(Scope *scope, Token *name, Identifier *type) {
    Compiler_State *s = &global_compiler_state;
    Identifier *found = get_identifier(scope, name->text, name->length);
    if (found && found->scope == scope) {
        // '(a: ?T, b: ?T)': both must capture the same type.
        if (found->constant.kind & CONSTANT_TYPE && types_perfectly_match(found->constant.type_value, type)) return true;
        print_error_on_token(name, "'%s' is already declared.\n", token_to_c_string(name));
        print_note_on_trace(found->declaration, "This is the previous declaration.");
        return false;
    }
    Identifier *id = add_identifier(scope, name->text, name->length, IDENTIFIER_KIND_CONSTANT, make_trace_from_token(name));
    id->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
    id->type = s->type_Type;
    id->constant.kind = CONSTANT_TYPE;
    id->constant.type_value = type;
    id->name_token = name;
    return true;
}

// Matches the type pattern [first, end) against `actual`: '@'s, then '?T',
// '[] ?T' or a plain type (which may name earlier captures).
static bool match_pattern(Scope *scope, Token *first, Token *end, Identifier *actual, Token *where, Identifier **out) {
    if (!range_has_capture(first, end)) {
        if (!parse_type(scope, out, first, end)) return false;
        if (!check_imperfect_types_mix_no_error(*out, actual, nullptr)) {
            print_error_on_token(where, "Type '%s' is incompatible with '%s'.", type_to_c_string(actual), type_to_c_string(*out));
            return false;
        }
        return true;
    }
    u32 depth = 0;
    Token *t = first;
    while (t != end && (t->kind & TOKEN_AT)) {
        depth++;
        t = t->next;
    }
    auto incompatible = [&]() {
        String pattern = pattern_text(first, end);
        print_error_on_token(where, "Type '%s' is incompatible with '%.*s'.", type_to_c_string(actual), (int)pattern.count, (const char *)pattern.data);
        return false;
    };
    if (!actual || actual->pointer_depth < depth) return incompatible();
    Identifier *inner = actual->pointer_depth == depth ? (actual->leaf_type ? actual->leaf_type : actual)
                                                       : type_to_memory_address_of_type(actual->leaf_type, actual->pointer_depth - depth);
    if (actual->pointer_depth == depth) inner = depth ? actual->leaf_type : actual;
    if (t != end && (t->kind & TOKEN_OPEN_BRACKET) && t->partner == t->next) {
        if (inner->pointer_depth || !(inner->flags & TYPE_ARRAY_STRUCT) || (inner->flags & TYPE_FIXED_SIZE_ARRAY) || !inner->element_type) return incompatible();
        Identifier *element;
        if (!match_pattern(scope, t->partner->next, end, inner->element_type, where, &element)) return false;
        *out = type_to_memory_address_of_type(get_or_add_array_type_from(element, false, 0, where), depth);
        return true;
    }
    if (t == end || !(t->kind & TOKEN_QUESTION_MARK) || !t->next || t->next == end || !(t->next->kind & TOKEN_IDENTIFIER) || t->next->next != end) {
        print_error_on_token(t != end ? t : first, "A type capture is written '?Name', after any '@' or '[]'.");
        return false;
    }
    if (!declare_capture(scope, t->next, inner)) return false;
    *out = actual;
    return true;
}

// The instance's signature for the arguments in `slots`; reports why it cannot be made.
static Signature *instance_signature(Identifier *candidate, Scope *call_scope, Call_Argument **slots, String *key) {
    Compiler_State *s = &global_compiler_state;
    Signature *poly = candidate->signature;
    Signature *sig = (Signature *)arena_allocate(sizeof(Signature));
    memset(sig, 0, sizeof *sig);
    sig->parameters = (Parameter *)arena_allocate(sizeof(Parameter) * (poly->num_parameters ? poly->num_parameters : 1));
    sig->num_parameters = poly->num_parameters;
    sig->flags = poly->flags & ~(u64)IDENTIFIER_POLYMORPHIC;
    sig->parameter_scope = _add_a_scope(poly->parameter_scope->parent, BASIC_SUB_PROGRAM_SCOPE_FLAGS);
    Scope *scope = sig->parameter_scope;
    String text = S("(");
    for (u32 i = 0; i < poly->num_parameters; i++) {
        Parameter *p = &sig->parameters[i];
        *p = poly->parameters[i];
        p->identifier = nullptr;
        p->type = nullptr;
        Call_Argument *a = slots[i];
        Token *where = a ? a->first : poly->parameters[i].name;
        if (p->is_constant) {
            if (p->type_first && !parse_type(scope, &p->type, p->type_first, p->type_end)) return nullptr;
            Value v = {};
            if (a && a->value.first) {
                v = a->value;
                if (!value_is_constant(&v)) {
                    print_error_on_token(a->first, "This expression does not appear to be constant.");
                    return nullptr;
                }
                if (p->type && !cast_value_in_scope(call_scope, &v, p->type, a->first)) return nullptr;
            } else if (a) {
                if (!parse_assignment_value(call_scope, p->type, a->first, a->end, &v)) return nullptr;
            } else if (!parse_assignment_value(scope, p->type, p->value_first, p->value_end, &v)) {
                return nullptr;
            }
            if (!value_is_constant(&v)) {
                print_error_on_token(where, "This expression does not appear to be constant.");
                return nullptr;
            }
            if (v.flags & VALUE_UNTYPED) value_set_default_type(&v);
            if (!p->type) p->type = v.type;
            Identifier *id = add_identifier(scope, p->name->text, p->name->length, IDENTIFIER_KIND_CONSTANT, make_trace_from_token(p->name));
            id->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
            id->type = v.type;
            id->constant = v.constant;
            id->name_token = p->name;
            String shown = (v.constant.kind & CONSTANT_TYPE) ? type_to_string(v.constant.type_value) : constant_to_string(&v.constant, v.type);
            text = arena_format_string("%.*s$%.*s = %.*s, ", (int)text.count, text.data, (int)p->name->length, (const char *)p->name->text,
                                       (int)shown.count, shown.data);
            continue;
        }
        if (p->type_first && range_has_capture(p->type_first, p->type_end)) {
            if (!a) {
                print_error_on_token(where, "The type of this argument is needed to make the polymorphic sub-program but it is not known yet.");
                return nullptr;
            }
            // An argument kept for its parameter's type ('cast(...)', a literal) has to stand on its own here.
            if (!a->value.first && !parse_assignment_value(call_scope, nullptr, a->first, a->end, &a->value)) return nullptr;
            Value v = a->value;
            if (v.flags & VALUE_UNTYPED) value_set_default_type(&v);
            if (!match_pattern(scope, p->type_first, p->type_end, v.type, a->first, &p->type)) return nullptr;
        } else if (p->type_first) {
            if (!parse_type(scope, &p->type, p->type_first, p->type_end)) return nullptr;
        } else {
            Value v = {};
            if (!parse_assignment_value(scope, nullptr, p->value_first, p->value_end, &v)) return nullptr;
            value_set_default_type(&v);
            p->type = v.type;
        }
        if (p->name) {
            p->identifier = add_identifier(scope, p->name->text, p->name->length, IDENTIFIER_KIND_PARAMETER, make_trace_from_token(p->name));
            p->identifier->flags |= IDENTIFIER_DECLARED;
            p->identifier->type = p->type;
            p->identifier->name_token = p->name;
        }
        String shown = type_to_string(p->type);
        text = arena_format_string("%.*s%.*s, ", (int)text.count, text.data, (int)shown.count, shown.data);
    }
    // The return type may name the captures.
    Token *arrow = candidate->kind_token ? candidate->kind_token->partner->next : nullptr;
    while (arrow && arrow != candidate->value_first && (arrow->kind & TOKEN_DIRECTIVE)) arrow = arrow->next;
    if (arrow && arrow != candidate->value_first && (arrow->kind & TOKEN_ARROW)) {
        if (range_has_capture(arrow->next, candidate->value_first)) {
            print_error_on_token(arrow->next, "A return type cannot capture a type; name a capture of the parameters instead.");
            return nullptr;
        }
        if (!parse_type(scope, &sig->return_type, arrow->next, candidate->value_first)) return nullptr;
    }
    u32 offset = 0, alignment = 1;
    for (u32 i = 0; i < sig->num_parameters; i++) {
        Parameter *p = &sig->parameters[i];
        if (p->is_constant) continue;
        u32 a = p->type->alignment ? p->type->alignment : 1;
        offset = align_up(offset, a);
        p->offset = offset;
        offset += p->type->size;
        if (a > alignment) alignment = a;
    }
    if (sig->return_type) {
        u32 a = sig->return_type->alignment ? sig->return_type->alignment : 1;
        offset = align_up(offset, a);
        sig->return_offset = offset;
        offset += sig->return_type->size;
        if (a > alignment) alignment = a;
        String shown = type_to_string(sig->return_type);
        text = arena_format_string("%.*s) -> %.*s", (int)text.count, text.data, (int)shown.count, shown.data);
    } else {
        text = arena_format_string("%.*s)", (int)text.count, text.data);
    }
    sig->block_size = offset;
    sig->block_alignment = alignment;
    *key = text;
    (void)s;
    return sig;
}

bool assign_polymorphic_arguments(Identifier *candidate, Call_Argument *arguments, u32 num_arguments, Call_Argument **slots, Token *open,
                                  bool report) {
    Signature *sig = candidate->signature;
    const char *name = report ? (const char *)arena_copy(identifier_name(candidate)).data : "";
    for (u32 i = 0; i < sig->num_parameters; i++) slots[i] = nullptr;
    if (num_arguments > sig->num_parameters) {
        if (report) {
            print_error_on_token(arguments[sig->num_parameters].first, "Sub-program '%s' takes %u %s but you are trying to assign more parameters.", name,
                                 sig->num_parameters, sig->num_parameters == 1 ? "parameter" : "parameters");
        }
        return false;
    }
    u32 position = 0;
    for (u32 i = 0; i < num_arguments; i++) {
        Call_Argument *a = &arguments[i];
        u32 p = position;
        if (a->name) {
            for (p = 0; p < sig->num_parameters && !names_match(a->name, &sig->parameters[p]); p++) {}
            if (p == sig->num_parameters) {
                if (report) print_error_on_token(a->name, "Sub-program '%s' has no parameter named '%s'.", name, token_to_c_string(a->name));
                return false;
            }
        } else {
            position++;
        }
        if (slots[p]) {
            if (report) print_error_on_token(a->name ? a->name : a->first, "Parameter '%s' is already set.", token_to_c_string(sig->parameters[p].name));
            return false;
        }
        slots[p] = a;
    }
    for (u32 i = 0; i < sig->num_parameters; i++) {
        if (slots[i] || sig->parameters[i].value_first) continue;
        if (report) print_error_on_token(open, "Parameter '%s' does not have a default value.", token_to_c_string(sig->parameters[i].name));
        return false;
    }
    return true;
}

Identifier *match_polymorphic_candidate(Identifier *candidate, Scope *call_scope, Call_Argument *arguments, u32 num_arguments, Call_Argument **slots,
                                        Token *open, bool report) {
    u32 errors = compile_errors.count;
    Identifier *instance = nullptr;
    String key = {};
    Signature *sig = nullptr;
    if (assign_polymorphic_arguments(candidate, arguments, num_arguments, slots, open, report)) {
        sig = instance_signature(candidate, call_scope, slots, &key);
        if (!sig && report) print_note_on_trace(make_trace_from_token(open), "This is the call site.");
    }
    if (!sig) {
        if (!report) compile_errors.count = errors;
        return nullptr;
    }
    for (Identifier *i = candidate->instances; i; i = i->next_instance) {
        if (i->instance_key.count == key.count && memcmp(i->instance_key.data, key.data, (size_t)key.count) == 0) return i;
    }
    instance = (Identifier *)arena_allocate(sizeof(Identifier));
    *instance = *candidate;
    instance->next = nullptr;
    instance->address_type = nullptr;
    instance->next_overload = nullptr;
    instance->instances = nullptr;
    instance->body_scope = nullptr;
    instance->use_count = 0;
    instance->flags &= ~(u64)IDENTIFIER_POLYMORPHIC;
    instance->signature = sig;
    instance->type = get_sub_program_type(sig);
    instance->constant.kind = CONSTANT_SUB_PROGRAM;
    instance->constant.type_value = instance;
    instance->instance_of = candidate;
    instance->instance_key = key;
    instance->next_instance = candidate->instances;
    candidate->instances = instance;
    sig->parameter_scope->sub_program = instance;
    return instance;
}

bool compile_polymorphic_instance(Identifier *instance, Token *where) {
    if (instance->body_scope || (instance->flags & SUB_PROGRAM_INLINED) || !code_generation_enabled()) return true;
    // Made from the call, it is compiled like any sub-program: once.
    instance->body_scope = instance->signature->parameter_scope;
    Scope *outer = set_expression_scope(nullptr);
    bool ok = code_generator.compile_sub_program_body(instance);
    set_expression_scope(outer);
    if (!ok) print_note_on_trace(make_trace_from_token(where), "This is the call site.");
    return ok;
}
