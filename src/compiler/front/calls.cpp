// Sub-program calls: arguments, overload resolution by scope, named and
// default arguments, and the implicit context. The call itself (an argument
// block and a call instruction, or an inlined body) is made by the back end.
//
// Overloads: sub-programs of one name declared in one scope form a set
// (Identifier::next_overload). The innermost scope holding a candidate that
// matches decides; two matches there are an error.
#include "compiler/front/code_hooks.h"
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"
#include "compiler/front/polymorphic_calls.h"
#include "compiler/front/constant_calls.h"

constexpr u32 MAX_CALL_ARGUMENTS = 256;

struct Call {
    Scope *scope;
    Token *open;
    Call_Argument *arguments;
    u32 num_arguments;
};

// [SECTION] Arguments

// Literals that take their type from the parameter are parsed once the callee is known.
static bool needs_parameter_type(Token *first) {
    return (first->kind & (TOKEN_OPEN_BRACE | TOKEN_OPEN_BRACKET)) || ((first->kind & TOKEN_BINARY_OPERATOR) && first->op == OP_DOT) ||
           token_is(first, "cast");
}

static bool split_arguments(Call *call) {
    Token *open = call->open;
    call->num_arguments = 0;
    if (open->next == open->partner) return true;
    u32 count = 1;
    for (Token *c = get_first_token_like_bounded(open->next, TOKEN_COMMA, open->partner); c && count <= MAX_CALL_ARGUMENTS;
         c = get_first_token_like_bounded(c->next, TOKEN_COMMA, open->partner)) {
        count++;
    }
    if (count > MAX_CALL_ARGUMENTS) count = MAX_CALL_ARGUMENTS;
    call->arguments = (Call_Argument *)scratch_allocate(sizeof(Call_Argument) * count);
    Token *t = open->next;
    for (;;) {
        Token *comma = get_first_token_like_bounded(t, TOKEN_COMMA, open->partner);
        Token *stop = comma ? comma : open->partner;
        if (t == stop) {
            print_error_on_token(t, "Is this an extraneous ','?");
            return false;
        }
        if (call->num_arguments >= MAX_CALL_ARGUMENTS) {
            print_error_on_token(t, "A call cannot take more than %u arguments.", MAX_CALL_ARGUMENTS);
            return false;
        }
        Call_Argument *a = &call->arguments[call->num_arguments++];
        memset(a, 0, sizeof *a);
        if ((t->kind & TOKEN_IDENTIFIER) && t->next != stop && (t->next->kind & TOKEN_BINARY_OPERATOR) && t->next->op == OP_ASSIGN) {
            a->name = t;
            t = t->next->next;
            if (t == stop) {
                print_error_on_token(a->name->next, "Did you forget to pass a value?");
                return false;
            }
        }
        a->first = t;
        a->end = stop;
        if (!needs_parameter_type(t)) {
            if (!parse_simple_statement(call->scope, t, stop, nullptr, &a->value)) return false;
            a->parsed_as_constant = value_is_constant(&a->value);
        }
        if (!comma) return true;
        t = comma->next;
        if (t == open->partner) {
            print_error_on_token(comma, "Is this an extraneous ','?");
            return false;
        }
    }
}

static bool names_match(Token *name, const Parameter *p) {
    return p->name && p->name->length == name->length && memcmp(p->name->text, name->text, (size_t)name->length) == 0;
}

static bool argument_parsed(const Call_Argument *a) { return a->value.first != nullptr; }

// Whether argument `a` converts to `type` under the implicit rules; nothing is reported.
static bool argument_fits(Call_Argument *a, Identifier *type) {
    if (!argument_parsed(a)) return true;
    if (!type) return false;
    if (value_is_constant(&a->value)) {
        u32 errors = compile_errors.count;
        Value copy = a->value;
        bool ok = cast_value_to_type(&copy, type, a->first);
        compile_errors.count = errors;
        return ok;
    }
    return check_imperfect_types_mix_no_error(type, a->value.type, nullptr);
}

// Assigns the arguments to the parameters of `candidate`: `slots[i]` gets the
// argument of parameter i, or null when its default applies.
static bool check_for_overload_match(Identifier *candidate, Call *call, Call_Argument **slots) {
    Signature *sig = candidate->signature;
    if (!sig || call->num_arguments > sig->num_parameters) return false;
    for (u32 i = 0; i < sig->num_parameters; i++) slots[i] = nullptr;
    u32 position = 0;
    for (u32 i = 0; i < call->num_arguments; i++) {
        Call_Argument *a = &call->arguments[i];
        u32 p = position;
        if (a->name) {
            for (p = 0; p < sig->num_parameters && !names_match(a->name, &sig->parameters[p]); p++) {}
            if (p == sig->num_parameters) return false;
        } else {
            position++;
        }
        if (p >= sig->num_parameters || slots[p]) return false;
        if (!argument_fits(a, sig->parameters[p].type)) return false;
        if (sig->parameters[p].is_constant && argument_parsed(a) && !value_is_constant(&a->value)) return false;
        slots[p] = a;
    }
    for (u32 i = 0; i < sig->num_parameters; i++) {
        if (!slots[i] && !sig->parameters[i].value_first) return false;
    }
    return true;
}

// The same assignment, reporting the first problem (a call through an address, or the only candidate).
static bool assign_arguments_with_errors(Signature *sig, const char *name, Call *call, Call_Argument **slots) {
    for (u32 i = 0; i < sig->num_parameters; i++) slots[i] = nullptr;
    if (call->num_arguments > sig->num_parameters) {
        print_error_on_token(call->arguments[sig->num_parameters].first, "Sub-program '%s' cannot take more than %u %s.", name,
                             sig->num_parameters, sig->num_parameters == 1 ? "argument" : "arguments");
        return false;
    }
    u32 position = 0;
    for (u32 i = 0; i < call->num_arguments; i++) {
        Call_Argument *a = &call->arguments[i];
        u32 p = position;
        if (a->name) {
            for (p = 0; p < sig->num_parameters && !names_match(a->name, &sig->parameters[p]); p++) {}
            if (p == sig->num_parameters) {
                print_error_on_token(a->name, "'%s' is not a parameter of sub-program '%s'.", token_to_c_string(a->name), name);
                return false;
            }
        } else {
            position++;
        }
        if (slots[p]) {
            const Parameter *param = &sig->parameters[p];
            print_error_on_token(a->name ? a->name : a->first, "Parameter '%s' is already set in this call.",
                                 param->name ? token_to_c_string(param->name) : "");
            return false;
        }
        slots[p] = a;
    }
    for (u32 i = 0; i < sig->num_parameters; i++) {
        if (!slots[i] && !sig->parameters[i].value_first) {
            const Parameter *param = &sig->parameters[i];
            print_error_on_token(call->open, "Parameter '%s' has no default value and must be set.",
                                 param->name ? token_to_c_string(param->name) : "");
            return false;
        }
    }
    return true;
}

// [SECTION] Resolution

// Whether code made in `scope` belongs to a sub-program or an entry block.
static bool scope_runs_code(Scope *scope) {
    for (Scope *s = scope; s; s = s->parent) {
        if (s->flags & (SCOPE_ENTRY_POINT | SCOPE_SUB_PROGRAM_ROOT | SCOPE_INLINED)) return true;
    }
    return false;
}

static bool scope_has_context(Scope *scope) {
    for (Scope *s = scope; s; s = s->parent) {
        if (s->flags & SCOPE_ENTRY_POINT) return true;
        if ((s->flags & SCOPE_INLINED) && s->inline_context == s && s->call_site) return scope_has_context(s->call_site);
        if (s->flags & SCOPE_SUB_PROGRAM_ROOT) return s->sub_program && !(s->sub_program->flags & SUB_PROGRAM_NO_CONTEXT);
    }
    return false;
}

static Call_Argument **allocate_slots(Signature *sig) {
    return (Call_Argument **)scratch_allocate(sizeof(Call_Argument *) * (sig && sig->num_parameters ? sig->num_parameters : 1));
}

// `*slots` gets the chosen candidate's argument assignment.
static Identifier *find_overload(Call *call, Identifier *named, Call_Argument ***slots) {
    bool any_candidate = false;
    Identifier *only_candidate = nullptr;
    u32 num_candidates = 0;
    for (Scope *s = call->scope; s; s = s->parent) {
        Identifier *first = get_identifier_in_scope(s, named->name, named->name_length);
        if (!first || first->declaration_kind != DECLARATION_SUB_PROGRAM) continue;
        Identifier *match = nullptr;
        bool match_is_polymorphic = false;
        for (Identifier *c = first; c; c = c->next_overload) {
            if (!resolve_identifier(c)) return nullptr;
            any_candidate = true;
            only_candidate = c;
            num_candidates++;
            Call_Argument **into = allocate_slots(c->signature);
            bool polymorphic = c->flags & IDENTIFIER_POLYMORPHIC;
            Identifier *instance = nullptr;
            if (polymorphic) {
                // A plain candidate that matches is preferred to an instance.
                if (match && !match_is_polymorphic) continue;
                instance = match_polymorphic_candidate(c, call->scope, call->arguments, call->num_arguments, into, call->open, false);
                if (!instance) continue;
            } else if (!check_for_overload_match(c, call, into)) {
                continue;
            }
            if (match && match_is_polymorphic && !polymorphic) {
                match = nullptr;
            }
            if (match) {
                print_error_on_token(call->open, "There is more than one overload that matches this call.");
                print_note_on_trace(match->declaration, "This is one of them.");
                print_note_on_trace(c->declaration, "This is another one.");
                return nullptr;
            }
            match = polymorphic ? instance : c;
            match_is_polymorphic = polymorphic;
            *slots = into;
        }
        if (match) return match;
    }
    if (!any_candidate) {
        print_error_on_token(call->open, "There does not seem to be any sub-program named '%.*s' that is accessible from this scope.",
                             (int)named->name_length, (const char *)named->name);
        return nullptr;
    }
    // With a single candidate the precise reason is worth more than "no match".
    if (num_candidates == 1 && (only_candidate->flags & IDENTIFIER_POLYMORPHIC)) {
        *slots = allocate_slots(only_candidate->signature);
        u32 errors = compile_errors.count;
        Identifier *instance = match_polymorphic_candidate(only_candidate, call->scope, call->arguments, call->num_arguments, *slots, call->open, true);
        if (instance || compile_errors.count != errors) return instance;
    }
    if (num_candidates == 1 && only_candidate->signature && only_candidate->type) {
        *slots = allocate_slots(only_candidate->signature);
        if (!assign_arguments_with_errors(only_candidate->signature, (const char *)arena_copy(identifier_name(only_candidate)).data, call, *slots)) return nullptr;
        for (u32 i = 0; i < call->num_arguments; i++) {
            Call_Argument *a = &call->arguments[i];
            for (u32 p = 0; p < only_candidate->signature->num_parameters; p++) {
                if ((*slots)[p] == a && !argument_fits(a, only_candidate->signature->parameters[p].type)) {
                    return cast_value_to_type(&a->value, only_candidate->signature->parameters[p].type, a->first) ? only_candidate : nullptr;
                }
            }
        }
    }
    print_error_on_token(call->open, "No overload was found to match this call.");
    return nullptr;
}

// Converts the arguments to the parameter types and evaluates the defaults of
// the parameters left out, in parameter order into `values`.
static bool prepare_arguments(Call *call, Signature *sig, Scope *declaring_scope, Call_Argument **slots, Value *values) {
    for (u32 i = 0; i < sig->num_parameters; i++) {
        Parameter *p = &sig->parameters[i];
        Value *v = &values[i];
        if (slots[i]) {
            Call_Argument *a = slots[i];
            if (!argument_parsed(a)) {
                if (!parse_assignment_value(call->scope, p->type, a->first, a->end, v)) return false;
            } else {
                *v = a->value;
                Scope *outer = set_expression_scope(call->scope);
                bool ok = cast_value_to_type(v, p->type, a->first);
                set_expression_scope(outer);
                if (!ok) return false;
            }
        } else {
            // A default is read again at every call that leaves it out.
            if (!parse_assignment_value(declaring_scope, p->type, p->value_first, p->value_end, v)) return false;
        }
        if (v->flags & VALUE_UNTYPED) value_set_default_type(v);
    }
    return true;
}

static bool finish_call(Call *call, Identifier *sub_program, Value *callee, Identifier *type, Value *values, Value *out) {
    Compiler_State *s = &global_compiler_state;
    // A sub-program type is shared by every sub-program of its shape: the
    // sub-program's own signature carries its names and flags.
    Signature *sig = sub_program && sub_program->signature ? sub_program->signature : type->signature;
    memset(out, 0, sizeof *out);
    out->type = sig->return_type ? sig->return_type : s->type_void;
    if (!sig->return_type) {
        out->flags |= VALUE_NO_RESULT;
        out->constant.type_value = type; // for the message
    }
    out->first = call->open;
    out->last = call->open->partner;
    if (!code_generation_enabled()) return true;
    if (!scope_runs_code(call->scope)) {
        print_error_on_token(call->open, "You cannot execute instructions in global scope.");
        return false;
    }
    bool needs_context = !(sig->flags & SUB_PROGRAM_NO_CONTEXT) && !(sub_program && (sub_program->flags & SUB_PROGRAM_FOREIGN));
    if (needs_context && !scope_has_context(call->scope)) {
        print_error_on_token(call->open, "It appears that the context is not available from this scope but this sub-program needs it.");
        print_note_on_trace(make_trace_from_token(call->open), "This is the call site.");
        return false;
    }
    return code_generator.call(call->scope, sub_program, callee, values, sig->num_parameters, out, call->open);
}

static Value *allocate_values(Signature *sig) { return (Value *)scratch_allocate(sizeof(Value) * (sig->num_parameters ? sig->num_parameters : 1)); }

// `constant_form`: '#constant' (or the '$C := f(...)' declaration when null
// with `evaluate` set): the chosen inlined sub-program is evaluated now.
static bool parse_call_in_scratch(Scope *scope, Value *callee, Token *open, Value *out, bool evaluate = false, Token *constant_form = nullptr) {
    Call call = {scope, open, nullptr, 0};
    Call_Argument **slots = nullptr;
    bool constant_sub_program = value_is_constant(callee) && (callee->constant.kind & CONSTANT_SUB_PROGRAM) && callee->constant.type_value;
    if (evaluate && !constant_sub_program) {
        if (constant_form) print_error_on_token(constant_form, "The %s directive must be used on a constant sub-program call.", token_to_c_string(constant_form));
        else print_error_on_token(callee->first, "Only inlined sub-programs can be used to assign a constant value like that.");
        return false;
    }
    if (!constant_sub_program && !(callee->type && callee->type->pointer_depth == 0 && (callee->type->flags & TYPE_SUB_PROGRAM))) {
        if (value_is_constant(callee) && (callee->constant.kind & CONSTANT_TYPE)) {
            print_error_on_token(callee->first, "'%s' is not a sub-program.", token_to_c_string(callee->first));
        } else {
            print_error_on_token(open, "It appears that you are trying to call something that is not a sub-program.");
        }
        return false;
    }
    if (!split_arguments(&call)) return false;
    if (constant_sub_program) {
        Identifier *named = callee->constant.type_value;
        Identifier *chosen = find_overload(&call, named, &slots);
        if (!chosen) return false;
        Scope *defaults_scope = chosen->scope;
        if (evaluate) {
            if (!(chosen->flags & SUB_PROGRAM_INLINED)) {
                if (constant_form) print_error_on_token(constant_form, "The %s directive must be used on an inlined sub-program.", token_to_c_string(constant_form));
                else print_error_on_token(callee->first, "Only inlined sub-programs can be used to assign a constant value like that.");
                return false;
            }
            if (chosen->instance_of) defaults_scope = chosen->signature->parameter_scope;
            Value *values = allocate_values(chosen->signature);
            Code_Generator saved = code_generator;
            code_generator = Code_Generator{}; // constant arguments make no code
            bool ok = prepare_arguments(&call, chosen->signature, defaults_scope, slots, values);
            code_generator = saved;
            if (!ok || !evaluate_inlined_call(chosen, values, open, out)) return false;
            out->first = callee->first;
            out->last = open->partner;
            return true;
        }
        if (chosen->instance_of) {
            if (!compile_polymorphic_instance(chosen, open)) return false;
            defaults_scope = chosen->signature->parameter_scope;
        }
        Value *values = allocate_values(chosen->signature);
        if (!prepare_arguments(&call, chosen->signature, defaults_scope, slots, values)) return false;
        return finish_call(&call, chosen, nullptr, chosen->type, values, out);
    }
    Identifier *type = callee->type;
    const char *name = token_to_c_string(callee->first);
    slots = allocate_slots(type->signature);
    if (!assign_arguments_with_errors(type->signature, name, &call, slots)) return false;
    Value *values = allocate_values(type->signature);
    if (!prepare_arguments(&call, type->signature, scope, slots, values)) return false;
    return finish_call(&call, nullptr, callee, type, values, out);
}

// The arguments, slots and values live only for the call: nested calls and
// inlined bodies take theirs above, and all of it is handed back here.
bool parse_call(Scope *scope, Value *callee, Token *open, Value *out) {
    u64 mark = tmp_get_position();
    bool ok = parse_call_in_scratch(scope, callee, open, out);
    tmp_set_position(mark);
    return ok;
}

bool parse_constant_call(Scope *scope, Value *callee, Token *open, Token *directive, Value *out) {
    u64 mark = tmp_get_position();
    bool ok = parse_call_in_scratch(scope, callee, open, out, true, directive);
    tmp_set_position(mark);
    return ok;
}

bool check_value_has_result(const Value *v, Token *where) {
    if (!(v->flags & VALUE_NO_RESULT)) return true;
    print_error_on_token(where, "This call is expected to return a value but it does not.\nSub-program type: '%s'",
                         type_to_c_string(v->constant.type_value));
    return false;
}
