// '#constant f(...)' and '$C := f(...)' with an inlined f: the call is
// evaluated while compiling. The inlined body is read with its parameters
// bound to the constant arguments and without code generation: declarations
// become constants, an 'if' takes the branch its constant condition picks,
// and 'return' gives the value. Anything that would run only when the
// program runs (loops, assignments, calls that are not themselves constant)
// is refused.
#include "compiler/front/constant_calls.h"
#include "compiler/front/code_hooks.h"
#include "compiler/front/diagnostics.h"

struct Constant_Run {
    Identifier *return_type;
    Value result;
    bool returned;
};

static Token *statement_end(Token *t, Token *end) {
    for (Token *x = t; x && x != end; x = token_skip(x)) {
        if (x->kind & TOKEN_SEMICOLON) return x;
    }
    return nullptr;
}

static bool constant_condition(Scope *scope, Token *first, Token *end, bool *truth) {
    Value v = {};
    if (!parse_simple_statement(scope, first, end, global_compiler_state.type_b8, &v)) return false;
    if (!value_is_constant(&v) || !(v.constant.kind & (CONSTANT_NUMBER))) {
        print_error_on_token(first, "This expression does not appear to be constant.");
        return false;
    }
    *truth = (v.constant.kind & CONSTANT_REAL) ? v.constant.f != 0.0 : v.constant.u != 0;
    return true;
}

static bool run_statements(Constant_Run *run, Scope *scope, Token *first, Token *end);

static bool run_block(Constant_Run *run, Scope *scope, Token *open) {
    if (!compiler_enter_nesting(open)) return false;
    bool ok = run_statements(run, _add_a_scope(scope, 0), open->next, open->partner);
    compiler_leave_nesting();
    return ok;
}

// 'if C { } else if D { } else { }': only the chosen block is read.
static bool run_if(Constant_Run *run, Scope *scope, Token *t, Token *end, Token **next) {
    for (;;) {
        Token *block = get_first_token_like_bounded(t->next, TOKEN_OPEN_BRACE, end);
        if (!block || block == t->next) {
            print_error_on_token(t, "The compiler expected a block after this '%s' statement.", token_to_c_string(t));
            return false;
        }
        bool truth;
        if (!constant_condition(scope, t->next, block, &truth)) return false;
        Token *after = block->partner->next;
        bool has_else = after && after != end && token_is(after, "else");
        if (truth) {
            if (!run_block(run, scope, block)) return false;
            // Skip the rest of the chain.
            while (after && after != end && token_is(after, "else")) {
                Token *b = get_first_token_like_bounded(after->next, TOKEN_OPEN_BRACE, end);
                if (!b) break;
                after = b->partner->next;
            }
            *next = after;
            return true;
        }
        if (!has_else) {
            *next = after;
            return true;
        }
        Token *e = after->next;
        if (e && e != end && token_is(e, "if")) {
            t = e;
            continue;
        }
        if (!e || e == end || !(e->kind & TOKEN_OPEN_BRACE)) {
            print_error_on_token(after, "The compiler expected a block associated with this 'else' statement.");
            return false;
        }
        if (!run_block(run, scope, e)) return false;
        *next = e->partner->next;
        return true;
    }
}

// 'name := value;' or 'name: Type = value;' inside the body: a constant here.
static bool run_declaration(Scope *scope, Token *t, Token *semicolon) {
    Token *colon = t->next;
    Token *equal = nullptr;
    for (Token *x = colon->next; x && x != semicolon; x = token_skip(x)) {
        if ((x->kind & TOKEN_BINARY_OPERATOR) && x->op == OP_ASSIGN) {
            equal = x;
            break;
        }
    }
    if (!equal || equal->next == semicolon) {
        print_error_on_token(t, "This expression does not appear to be constant.");
        return false;
    }
    Identifier *type = nullptr;
    if (colon->next != equal && !parse_type(scope, &type, colon->next, equal)) return false;
    Value v = {};
    if (!parse_assignment_value(scope, type, equal->next, semicolon, &v)) return false;
    if (!value_is_constant(&v)) {
        print_error_on_token(equal->next, "This expression does not appear to be constant.");
        return false;
    }
    if (v.flags & VALUE_UNTYPED) value_set_default_type(&v);
    Identifier *id = add_identifier_with_error(scope, t, IDENTIFIER_KIND_CONSTANT);
    if (!id) return false;
    id->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
    id->type = type ? type : v.type;
    id->constant = v.constant;
    id->name_token = t;
    return true;
}

static bool run_statements(Constant_Run *run, Scope *scope, Token *first, Token *end) {
    Token *t = first;
    while (t && t != end && !run->returned) {
        if (t->kind & TOKEN_SEMICOLON) {
            t = t->next;
            continue;
        }
        if (token_is(t, "if")) {
            Token *next;
            if (!run_if(run, scope, t, end, &next)) return false;
            t = next;
            continue;
        }
        if (t->kind & TOKEN_OPEN_BRACE) {
            if (!run_block(run, scope, t)) return false;
            t = t->partner->next;
            continue;
        }
        Token *semicolon = statement_end(t, end);
        if (!semicolon) {
            print_error_on_token(t, "Expected a ';' after '%s'.", token_to_c_string(t));
            return false;
        }
        if (token_is(t, "return")) {
            if (t->next == semicolon) {
                print_error_on_token(t, "This expression does not appear to be constant.");
                return false;
            }
            if (!parse_assignment_value(scope, run->return_type, t->next, semicolon, &run->result)) return false;
            if (!value_is_constant(&run->result)) {
                print_error_on_token(t->next, "You can only return constant values from this sub-program.");
                return false;
            }
            run->returned = true;
            return true;
        }
        if (t->kind & TOKEN_DOLLAR) {
            Token *next;
            Identifier *id = declare_in_scope(scope, t, end, &next);
            if (!id || !resolve_identifier(id)) return false;
            t = next;
            continue;
        }
        if ((t->kind & TOKEN_IDENTIFIER) && t->next != semicolon && (t->next->kind & TOKEN_COLON)) {
            if (!run_declaration(scope, t, semicolon)) return false;
            t = semicolon->next;
            continue;
        }
        print_error_on_token(t, "This statement cannot be evaluated while compiling: only declarations, 'if' and 'return' can.");
        return false;
    }
    return true;
}

bool evaluate_inlined_call(Identifier *sub_program, Value *arguments, Token *where, Value *out) {
    Signature *sig = sub_program->signature;
    Token *block = sub_program->value_first ? sub_program->value_first->next : nullptr;
    while (block && block != sub_program->value_end && (block->kind & TOKEN_DIRECTIVE)) block = block->next;
    if (!block || !(block->kind & TOKEN_OPEN_BRACE)) {
        print_error_on_token(where, "The compiler expected a block that contains the body of this sub-program.");
        return false;
    }
    Scope *parent = sub_program->instance_of ? sig->parameter_scope : sig->parameter_scope->parent;
    Scope *scope = _add_a_scope(parent, 0);
    for (u32 i = 0; i < sig->num_parameters; i++) {
        Parameter *p = &sig->parameters[i];
        Value *a = &arguments[i];
        if (!value_is_constant(a)) {
            print_error_on_token(a->first ? a->first : where, "This expression does not appear to be constant.");
            return false;
        }
        if (!p->name) continue;
        Identifier *id = add_identifier(scope, p->name->text, p->name->length, IDENTIFIER_KIND_CONSTANT, make_trace_from_token(p->name));
        id->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
        id->type = p->type ? p->type : a->type;
        id->constant = a->constant;
        id->name_token = p->name;
    }
    Constant_Run run = {sig->return_type, {}, false};
    // Nothing here makes code: the body is only read.
    Code_Generator saved = code_generator;
    code_generator = Code_Generator{};
    bool ok = compiler_enter_nesting(where);
    if (ok) {
        ok = run_statements(&run, scope, block->next, block->partner);
        compiler_leave_nesting();
    }
    code_generator = saved;
    if (!ok) {
        print_note_on_trace(make_trace_from_token(where), "This is the call site.");
        return false;
    }
    if (!sig->return_type || !run.returned) {
        print_error_on_token(where, "This expression does not appear to be constant.");
        return false;
    }
    *out = run.result;
    return true;
}
