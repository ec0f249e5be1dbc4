// Sub-program signatures and declarations. Bodies are compiled by the
// statement compiler; here a sub-program is resolved to its signature, its
// flags and, for a foreign one, the hash of its name.
#include "compiler/front/compiler.h"
#include "compiler/front/code_hooks.h"
#include "compiler/front/diagnostics.h"
#include "core/meow_hash.h"

static const char *const DECLARATION_REMINDER =
    "A sub-program declaration looks like the following:\n$sub_program_name: (<parameters>) <return_value> = { <body> };\n"
    "$sub_program_name: (<parameters>) <return_value> = #import;\nsub_program_name: (<parameters>) <return_value>;";

static bool range_has_capture(Token *first, Token *end) {
    for (Token *t = first; t && t != end; t = t->next) {
        if (t->kind & TOKEN_QUESTION_MARK) return true;
    }
    return false;
}

static u32 align_up(u32 x, u32 a) { return a > 1 ? (x + a - 1) / a * a : x; }

static bool parse_parameter(Scope *scope, Signature *signature, Token *first, Token *stop, bool *polymorphic) {
    Compiler_State *s = &global_compiler_state;
    Token *t = first;
    bool is_copy = false;
    while (t != stop && (t->kind & TOKEN_DIRECTIVE)) {
        if (token_is(t, "#no_copy")) {
            print_error_on_token(t, "#no_copy is deprecated. Inlined call arguments are *not* copied by default anymore, so if you need to copy them use #copy, e.g. $f: (#copy a: u32) -> #inline {...};.");
            return false;
        }
        if (!token_is(t, "#copy")) {
            print_error_on_token(t, "Directive %s is either invalid or cannot be used here.", token_to_c_string(t));
            return false;
        }
        is_copy = true;
        t = t->next;
    }
    if (t == stop) {
        print_error_on_token(first, "Expected a parameter.");
        return false;
    }
    if (!get_first_token_like_bounded(t, TOKEN_COLON, stop) && !(t->kind & TOKEN_DOLLAR)) {
        // A name followed by a type never reads as a type alone: the ':' was forgotten.
        Token *next = t->next;
        if ((t->kind & TOKEN_IDENTIFIER) && next && next != stop && (next->kind & (TOKEN_IDENTIFIER | TOKEN_AT | TOKEN_OPEN_BRACKET))) {
            print_error_on_token(next, "Expected ':' but got '%s' instead.", token_to_c_string(next));
            return false;
        }
        // A parameter of a sub-program type: only its type is written.
        Parameter *param = &signature->parameters[signature->num_parameters++];
        memset(param, 0, sizeof *param);
        param->type_first = t;
        param->type_end = stop;
        if (range_has_capture(t, stop)) {
            *polymorphic = true;
            return true;
        }
        return parse_type(scope, &param->type, t, stop);
    }
    bool constant = false;
    if (t->kind & TOKEN_DOLLAR) {
        constant = true;
        t = t->next;
    }
    if (t == stop || !(t->kind & TOKEN_IDENTIFIER)) {
        print_error_on_token(t != stop ? t : first, "Expected a parameter name but got '%s' instead.", t != stop ? token_to_c_string(t) : "");
        return false;
    }
    Token *name = t;
    Token *colon = name->next;
    if (colon == stop || !(colon->kind & TOKEN_COLON)) {
        // The ')' or ',' that ends the parameter is what stands where the ':' belongs.
        print_error_on_token(colon, "Expected ':' but got '%s' instead.", token_to_c_string(colon));
        return false;
    }
    for (u32 i = 0; i < signature->num_parameters; i++) {
        Token *other = signature->parameters[i].name;
        if (other && other->length == name->length && memcmp(other->text, name->text, (size_t)name->length) == 0) {
            print_error_on_token(name, "Parameter '%s' already exists.", token_to_c_string(name));
            return false;
        }
    }
    Token *equal = nullptr;
    for (Token *x = colon->next; x && x != stop; x = token_skip(x)) {
        if ((x->kind & TOKEN_BINARY_OPERATOR) && x->op == OP_ASSIGN) {
            equal = x;
            break;
        }
    }
    Token *type_end = equal ? equal : stop;
    if (colon->next == type_end && !equal) {
        print_error_on_token(name, "Did you forget to specify a type for parameter '%s'?", token_to_c_string(name));
        return false;
    }
    if (equal && equal->next == stop) {
        print_error_on_token(equal, "Did you forget to specify a value?");
        return false;
    }
    Parameter *param = &signature->parameters[signature->num_parameters++];
    memset(param, 0, sizeof *param);
    param->name = name;
    param->is_constant = constant;
    param->is_copy = is_copy;
    if (colon->next != type_end) {
        param->type_first = colon->next;
        param->type_end = type_end;
    }
    if (equal) {
        param->value_first = equal->next;
        param->value_end = stop;
    }
    if (constant || range_has_capture(colon->next, type_end)) *polymorphic = true;
    if (*polymorphic) return true;
    if (param->type_first) {
        if (!parse_type(scope, &param->type, param->type_first, param->type_end)) return false;
    } else {
        Value v = {};
        if (!parse_assignment_value(scope, nullptr, param->value_first, param->value_end, &v)) return false;
        value_set_default_type(&v);
        param->type = v.type;
    }
    param->identifier = add_identifier(signature->parameter_scope, name->text, name->length, IDENTIFIER_KIND_PARAMETER, make_trace_from_token(name));
    param->identifier->flags |= IDENTIFIER_DECLARED;
    param->identifier->type = param->type;
    (void)s;
    return true;
}

bool parse_sub_program_signature(Scope *scope, Token *open, Token *end, Signature **out, bool *polymorphic, Token **after) {
    Signature *signature = (Signature *)arena_allocate(sizeof(Signature));
    memset(signature, 0, sizeof *signature);
    u32 capacity = 1;
    for (Token *t = open->next; t && t != open->partner; t = token_skip(t)) capacity += (t->kind & TOKEN_COMMA) ? 1 : 0;
    signature->parameters = (Parameter *)arena_allocate(sizeof(Parameter) * capacity);
    signature->parameter_scope = _add_a_scope(scope, BASIC_SUB_PROGRAM_SCOPE_FLAGS);
    *polymorphic = false;
    if (open->partner != open->next) {
        Token *t = open->next;
        for (;;) {
            Token *stop = get_first_token_like_bounded(t, TOKEN_COMMA, open->partner);
            if (!stop) stop = open->partner;
            if (t == stop) {
                print_error_on_token(t, "Expected a parameter.");
                return false;
            }
            if (!parse_parameter(signature->parameter_scope, signature, t, stop, polymorphic)) return false;
            if (stop == open->partner) break;
            t = stop->next;
            if (t == open->partner) {
                print_error_on_token(stop, "Expected a parameter.");
                return false;
            }
        }
    }
    Token *t = open->partner->next;
    while (t && t != end && (t->kind & TOKEN_DIRECTIVE)) {
        if (token_is(t, "#no_context")) signature->flags |= SUB_PROGRAM_NO_CONTEXT;
        else if (token_is(t, "#call_location")) signature->flags |= SUB_PROGRAM_CALL_LOCATION;
        else {
            print_error_on_token(t, "Directive '%s' is unknown or not supported here.", token_to_c_string(t));
            return false;
        }
        t = t->next;
    }
    if (t && t != end && !(t->kind & TOKEN_ARROW)) {
        print_error_on_token(t, "Expected a directive or a return value but got '%s' instead.", token_to_c_string(t));
        return false;
    }
    if (t && t != end) {
        Token *type_first = t->next;
        if (!type_first || type_first == end) {
            print_error_on_token(t, "%s", DECLARATION_REMINDER);
            return false;
        }
        if (range_has_capture(type_first, end)) *polymorphic = true;
        if (!*polymorphic) {
            if (!parse_type(scope, &signature->return_type, type_first, end)) return false;
        }
        t = end;
    }
    if (*polymorphic) {
        signature->flags |= IDENTIFIER_POLYMORPHIC;
    } else {
        // The argument block: parameters in order, then the return value.
        u32 offset = 0, alignment = 1;
        for (u32 i = 0; i < signature->num_parameters; i++) {
            Identifier *type = signature->parameters[i].type;
            u32 a = type->alignment ? type->alignment : 1;
            offset = align_up(offset, a);
            signature->parameters[i].offset = offset;
            offset += type->size;
            if (a > alignment) alignment = a;
        }
        if (signature->return_type) {
            u32 a = signature->return_type->alignment ? signature->return_type->alignment : 1;
            offset = align_up(offset, a);
            signature->return_offset = offset;
            offset += signature->return_type->size;
            if (a > alignment) alignment = a;
        }
        signature->block_size = offset;
        signature->block_alignment = alignment;
    }
    *out = signature;
    *after = t;
    return true;
}

bool parse_sub_program_declaration(Scope *scope, Identifier *id) {
    Compiler_State *s = &global_compiler_state;
    Token *open = id->kind_token;
    Token *equal = id->value_first;
    Token *end = id->value_end;
    Signature *signature = nullptr;
    bool polymorphic = false;
    Token *after = nullptr;
    if (!parse_sub_program_signature(scope, open, equal, &signature, &polymorphic, &after)) return false;
    Token *t = equal->next;
    if (t == end) {
        print_error_on_token(equal, "It looks like you are not assigning anything to this sub-program. @@@ Make an actual error message!!!");
        return false;
    }
    bool is_import = false, is_inline = false;
    while (t && t != end && (t->kind & TOKEN_DIRECTIVE)) {
        if (token_is(t, "#import")) is_import = true;
        else if (token_is(t, "#inline")) is_inline = true;
        else {
            print_error_on_token(t, "This directive is unknown or not supported here.");
            return false;
        }
        t = t->next;
    }
    if (is_import) {
        if (polymorphic) {
            print_error_on_token(equal->next, "Polymorphic sub-programs cannot be imported for now.");
            return false;
        }
        if (signature->flags & SUB_PROGRAM_CALL_LOCATION) {
            print_error_on_token(id->name_token, "You cannot use %s on a foreign sub-program.", "#call_location");
            return false;
        }
        if (t && t != end) {
            print_error_on_token(t, "This is unexpected.");
            return false;
        }
    } else {
        if (t && t != end && (t->kind & TOKEN_IDENTIFIER) && !is_inline) {
            print_error_on_token(t, "You cannot substitute the body of a constant sub-program with another sub-program. This may change in the future.");
            return false;
        }
        if (!t || t == end || !(t->kind & TOKEN_OPEN_BRACE)) {
            print_error_on_token(t && t != end ? t : equal, "Expected an '#import' directive or a block of code but got '%s' instead.",
                                 t && t != end ? token_to_c_string(t) : "");
            return false;
        }
        if (t->partner->next && t->partner->next != end) {
            print_error_on_token(t->partner->next, "This is unexpected.");
            return false;
        }
    }
    if (is_inline && (signature->flags & SUB_PROGRAM_C_CALL)) {
        print_error_on_token(id->name_token, "You cannot inline a sub-program marked as #c_call.");
        return false;
    }
    id->signature = signature;
    id->flags |= signature->flags;
    if (is_inline) id->flags |= SUB_PROGRAM_INLINED;
    if (is_import) {
        id->flags |= SUB_PROGRAM_FOREIGN | SUB_PROGRAM_NO_CONTEXT;
        // Foreign routines are matched by the hash of their name.
        id->constant.u = meow_hash_u64(identifier_name(id));
    }
    id->constant.kind = CONSTANT_SUB_PROGRAM;
    id->constant.type_value = id;
    if (polymorphic) {
        id->flags |= IDENTIFIER_POLYMORPHIC;
        id->type = nullptr;
    } else {
        id->type = get_sub_program_type(signature);
    }
    (void)s;
    // Plain bodies are compiled once, here; inlined ones at every call.
    if (!is_import && !is_inline && !polymorphic && code_generation_enabled()) {
        signature->parameter_scope->sub_program = id;
        return code_generator.compile_sub_program_body(id);
    }
    signature->parameter_scope->sub_program = id;
    return true;
}
