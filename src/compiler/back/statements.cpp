// The statement compiler: one scope's statements into IR, by the first word
// of each statement. Blocks are '{ ... }' or ': statement;'. Every nested
// block is a scope of its own, placed in its parent's list by IR_SCOPE.
//
// Index:
//   [SECTION] Scopes and blocks
//   [SECTION] Deferred blocks
//   [SECTION] Simple statements (declarations, assignments, expressions)
//   [SECTION] If chains
//   [SECTION] Loops, break and continue
//   [SECTION] Return
//   [SECTION] Directives
//   [SECTION] Statement dispatch
#include "compiler/back/statements.h"
#include "compiler/back/switch.h"
#include "compiler/front/diagnostics.h"

// [SECTION] Scopes and blocks

Scope_Code *scope_code(Scope *scope) {
    if (!scope->code_data) {
        Scope_Code *code = (Scope_Code *)arena_allocate(sizeof(Scope_Code));
        memset(code, 0, sizeof *code);
        code->arguments = INVALID_REGISTER_ID;
        scope->code_data = code;
    }
    return (Scope_Code *)scope->code_data;
}

static Scope *new_block_scope(Scope *parent, u32 flags, bool placed) {
    Scope *scope = _add_a_scope(parent, flags);
    if (placed) instruction_nested_scope(parent, scope);
    return scope;
}

// The statements of a block starting at `block` ('{' or ':'); `after` gets the token after it.
static bool block_tokens(Token *block, Token **first, Token **end, Token **after) {
    *first = *end = *after = nullptr;
    if (!block) return false;
    if ((block->kind & TOKEN_OPEN_BRACE) && block->partner) {
        *first = block->next;
        *end = block->partner;
        *after = block->partner->next;
        return true;
    }
    if ((block->kind & TOKEN_COLON) && block->partner) {
        *first = block->next;
        *end = block->partner->next;
        *after = block->partner->next;
        return true;
    }
    return false;
}

static bool is_block_start(Token *t) { return t && (((t->kind & TOKEN_OPEN_BRACE) && t->partner) || ((t->kind & TOKEN_COLON) && t->partner)); }

// Compiles the block at `block` into a new scope under `parent`.
static bool compile_block(Scope *parent, Token *block, u32 flags, bool placed, Scope **out) {
    Token *first, *end, *after;
    block_tokens(block, &first, &end, &after);
    Scope *scope = new_block_scope(parent, flags, placed);
    if (out) *out = scope;
    if (!compiler_enter_nesting(block)) return false;
    bool ok = make_instructions_in_scope(scope, first, end, false);
    compiler_leave_nesting();
    return ok;
}

// [SECTION] Deferred blocks

static bool emit_deferred_of(Scope *scope, Scope *into) {
    for (u32 i = scope->deferred.count; i-- > 0;) {
        Deferred_Block block = *dynamic_array_at<Deferred_Block>(&scope->deferred, i);
        // Names resolve where the block was written; that is not above `into`
        // for a block an inlined body deferred to its caller.
        bool written_above = false;
        for (Scope *a = into; a && !written_above; a = a->parent) written_above = a == block.written_in;
        Scope *d = _add_a_scope(written_above ? into : block.written_in, SCOPE_DEFERRED);
        d->call_site = into;
        instruction_nested_scope(into, d);
        if (!compiler_enter_nesting(block.first ? block.first : block.end)) return false;
        bool ok = make_instructions_in_scope(d, block.first, block.end, false);
        compiler_leave_nesting();
        if (!ok) return false;
    }
    return true;
}

bool handle_deferred_blocks(Scope *from, Scope *stop) {
    for (Scope *s = from; s; s = s->parent) {
        if (s->deferred.count && !emit_deferred_of(s, from)) return false;
        if (s == stop) break;
    }
    return true;
}

static bool emit_scope_end_deferred(Scope *scope) {
    Scope_Code *code = scope_code(scope);
    if (code->deferred_emitted || !scope->deferred.count) return true;
    code->deferred_emitted = true;
    return emit_deferred_of(scope, scope);
}

static Scope *sub_program_root_of(Scope *scope);

static bool parse_defer(Scope *scope, Token *t, Token *end, Token **next) {
    Token *block = t->next;
    if (!scope->parent) {
        print_error_on_token(t, "#defer cannot be used in global scope.");
        return false;
    }
    // '#defer #inline { ... }' in an inlined body defers to the end of the
    // caller's scope (an inlined 'lock' can defer its 'unlock').
    Scope *owner = scope;
    if (block && block != end && token_is(block, "#inline")) {
        Scope *root = sub_program_root_of(scope);
        if (!root || !(root->flags & SCOPE_INLINED) || !root->call_site) {
            print_error_on_token(block, "Inlined #defer can only be used in inlined sub-programs.");
            return false;
        }
        if (root != scope) {
            print_error_on_token(block, "Inlined #defer can only be used in the top-most scope of an inlined sub-program.");
            return false;
        }
        owner = root->call_site;
        block = block->next;
    }
    if (!block || block == end || !is_block_start(block)) {
        print_error_on_token(block && block != end ? block : t,
                             "Expected a block of instructions to defer after the #defer directive but got '%s' instead.",
                             block && block != end ? token_to_c_string(block) : "");
        return false;
    }
    Token *first, *block_end, *after;
    block_tokens(block, &first, &block_end, &after);
    if (owner->deferred.element_size == 0) dynamic_array_init(&owner->deferred, sizeof(Deferred_Block), 4);
    *(Deferred_Block *)dynamic_array_add(&owner->deferred) = Deferred_Block{first, block_end, scope};
    *next = after;
    return true;
}

// [SECTION] Simple statements

static Token *find_semicolon(Token *t, Token *end) { return get_first_token_like_bounded(t, TOKEN_SEMICOLON, end); }

static bool value_is_assignable(const Value *v) {
    if (value_is_constant(v)) return false;
    if (!(v->kind & VALUE_KIND_DYNAMIC)) return code_generation_enabled() ? false : true;
    return (v->kind & VALUE_KIND_INDIRECT) || !(v->kind & VALUE_KIND_TEMPORARY);
}

static bool compile_assignment(Scope *scope, Token *t, Token *assign, Token *semicolon) {
    Value destination = {};
    if (t == assign) {
        print_error_on_token(assign, "It looks like you are trying to use operator '%s' as a unary operator.", operator_to_c_string(assign->op));
        return false;
    }
    if (!parse_simple_statement(scope, t, assign, nullptr, &destination)) return false;
    if (value_is_constant(&destination)) {
        print_error_on_token(assign, "You cannot reassign a value to a constant.");
        return false;
    }
    if (!value_is_assignable(&destination)) {
        print_error_on_token(t, "This value cannot be assigned to: it is not a variable, a member or an element.");
        return false;
    }
    if (assign->next == semicolon) {
        print_error_on_token(assign, "The compiler expected a value.");
        return false;
    }
    Value source = {};
    if (!parse_assignment_value(scope, destination.type, assign->next, semicolon, &source)) return false;
    u64 op = assign->op & ~(u64)OP_ASSIGN;
    if (!op) return code_generator.assign(scope, &destination, &source, assign);
    Identifier *type = destination.type;
    Identifier *view = type && (type->flags & TYPE_ENUM) && type->base_type ? type->base_type : type;
    if (!view || (!view->pointer_depth && !(view->flags & TYPE_NUMBER))) {
        print_error_on_token(assign, "You cannot apply an arithmetic operation on a value of type '%s' because it is not a number.\n"
                                     "Note that operators cannot be overloaded at the moment but this may change in future versions.",
                             type_to_c_string(type));
        return false;
    }
    bool integer_only = op & (OP_MODULO | OP_SHIFT_LEFT | OP_SHIFT_RIGHT | OP_ROTATE_LEFT | OP_ROTATE_RIGHT | OP_BITWISE);
    if (integer_only && !view->pointer_depth && (view->flags & TYPE_REAL)) {
        print_error_on_token(assign, "Operator '%s' must be used on integers.", operator_to_c_string(op));
        return false;
    }
    if ((op & (OP_DIVIDE | OP_MODULO)) && value_is_constant(&source) && (source.constant.kind & CONSTANT_NUMBER) && source.constant.u == 0) {
        print_error_on_token(assign, "It looks like you are dividing by zero.");
        return false;
    }
    instruction_arithmetic(scope, &destination, op, &source);
    return true;
}

static bool compile_simple_statement(Scope *scope, Token *t, Token *end, Token **next) {
    Token *semicolon = find_semicolon(t, end);
    if (!semicolon) {
        print_error_on_token(t, "It seems that a ';' is missing to end this instruction.");
        return false;
    }
    *next = semicolon->next;
    Token *assign = nullptr;
    for (Token *s = t; s && s != semicolon; s = token_skip(s)) {
        if ((s->kind & TOKEN_BINARY_OPERATOR) && (s->op & OP_ASSIGN)) {
            assign = s;
            break;
        }
    }
    if (assign) return compile_assignment(scope, t, assign, semicolon);
    Value v = {};
    return parse_simple_statement(scope, t, semicolon, nullptr, &v);
}

static bool compile_declaration(Scope *scope, Token *t, Token *end, Token **next) {
    Identifier *id = declare_in_scope(scope, t, end, next);
    if (!id) return false;
    return resolve_identifier(id);
}

static bool starts_declaration(Token *t, Token *end) {
    if (t->kind & TOKEN_DOLLAR) return true;
    return (t->kind & TOKEN_IDENTIFIER) && t->next && t->next != end && (t->next->kind & TOKEN_COLON);
}

// [SECTION] If chains

// Splits a condition at its top-level '&&' and '||'.
struct Condition_Part {
    Token *first, *end;
    u64 join; // the operator before this part (0 for the first)
};

static u32 split_condition(Token *first, Token *end, Condition_Part *parts, u32 capacity) {
    u32 n = 0;
    Token *start = first;
    u64 join = 0;
    for (Token *t = first; t && t != end; t = token_skip(t)) {
        if ((t->kind & TOKEN_BINARY_OPERATOR) && (t->op == OP_LOGICAL_AND || t->op == OP_LOGICAL_OR)) {
            if (n < capacity) parts[n] = Condition_Part{start, t, join};
            n++;
            join = t->op;
            start = t->next;
        }
    }
    if (n < capacity) parts[n] = Condition_Part{start, end, join};
    return n + 1;
}

static IR_Instruction *last_instruction_of(Scope *scope) { return scope->last_instruction; }

// One part: a comparison, or a value tested against zero. Emits the compare
// and a jump taken when the part is false. Returns the jump (null when the
// part is a constant: `*constant` gets 0 or 1).
static bool compile_condition_part(Scope *scope, Condition_Part part, IR_Instruction *false_label, IR_Instruction **jump, s32 *constant) {
    Compiler_State *s = &global_compiler_state;
    *jump = nullptr;
    *constant = -1;
    if (part.first == part.end) {
        print_error_on_token(part.first, "The compiler expected a value after this operator.");
        return false;
    }
    if ((part.first->kind & TOKEN_OPEN_PARENTHESIS) && part.first->partner == part.first->next && part.first->partner->next == part.end) {
        print_error_on_token(part.first, "Did you forget to do something inside these '()'?");
        return false;
    }
    // A comparison at the top of the part compiles to a compare and a jump.
    Token *cmp = nullptr;
    for (Token *t = part.first; t && t != part.end; t = token_skip(t)) {
        if ((t->kind & TOKEN_BINARY_OPERATOR) && (t->op & OP_CMP) && t != part.first) {
            cmp = t;
            break;
        }
    }
    Value v = {};
    if (!parse_simple_statement(scope, part.first, part.end, s->type_b8, &v)) return false;
    if (value_is_constant(&v)) {
        if (!(v.constant.kind & (CONSTANT_NUMBER)) && !(v.constant.kind & CONSTANT_STRING)) {
            print_error_on_token(part.first, "You cannot use a value of type '%s' in a condition.", type_to_c_string(v.type));
            return false;
        }
        *constant = v.constant.u != 0;
        return true;
    }
    if (v.type && v.type->pointer_depth == 0 && (v.type->flags & (TYPE_STRUCT | TYPE_VOID))) {
        print_error_on_token(part.first, "You cannot use a value of type '%s' in a condition.", type_to_c_string(v.type));
        return false;
    }
    // The comparison made by the expression ends with a stored result; test
    // the flags directly instead of the stored boolean.
    IR_Instruction *last = last_instruction_of(scope);
    if (cmp && last && last->kind == IR_STORE_CMP_RESULT && (v.kind & VALUE_KIND_TEMPORARY) &&
        registers_match(last->operands[0].reg, v.reg)) {
        u64 op = last->op;
        u64 flags = last->flags & (IR_FLAG_SIGNED | IR_FLAG_REAL);
        last->kind = IR_LABEL; // the stored result is not needed: a label emits nothing
        last->num_operands = 0;
        *jump = instruction_jump_if(scope, get_opposite_comparison_jump(op), false_label, flags);
        return true;
    }
    IR_Instruction *test = allocate_an_instruction(scope, IR_COMPARE_TO_ZERO);
    test->operands[0] = operand_from_value(&v);
    test->num_operands = 1;
    test->flags = (number_class_of_type(v.type) == IR_CLASS_REAL) ? (u64)IR_FLAG_REAL : 0;
    test->first = part.first;
    *jump = instruction_jump_if(scope, IR_CONDITION_ZE, false_label, test->flags);
    return true;
}

static u16 invert_condition(u16 c) {
    switch (c) {
    case IR_CONDITION_EQ: return IR_CONDITION_NE;
    case IR_CONDITION_NE: return IR_CONDITION_EQ;
    case IR_CONDITION_LT: return IR_CONDITION_GE;
    case IR_CONDITION_GE: return IR_CONDITION_LT;
    case IR_CONDITION_LE: return IR_CONDITION_GT;
    case IR_CONDITION_GT: return IR_CONDITION_LE;
    case IR_CONDITION_NZ: return IR_CONDITION_ZE;
    default: return IR_CONDITION_NZ;
    }
}

// '&&' and '||' share one priority and group from the left: 'a && b || c'
// is '(a && b) || c'. The running condition keeps the jumps taken when it
// is true (to the block) and when it is false; it always ends with its last
// part's false jump, control falling through when true.
bool compile_condition(Scope *scope, Token *first, Token *end, IR_Instruction *false_label, s32 *constant) {
    Condition_Part parts[128];
    u32 n = split_condition(first, end, parts, 128);
    if (n > 128) {
        print_error_on_token(first, "This condition has too many parts (the limit is 128).");
        return false;
    }
    for (u32 i = 0; i < n; i++) {
        if (parts[i].first == parts[i].end) {
            print_error_on_token(i ? parts[i].first : first, i ? "The compiler expected a value after this operator." : "The compiler expected a value.");
            return false;
        }
    }
    Dynamic_Array true_jumps, false_jumps;
    IR_Instruction *true_buffer[64], *false_buffer[64];
    dynamic_array_init_on(&true_jumps, sizeof(IR_Instruction *), true_buffer, 64);
    dynamic_array_init_on(&false_jumps, sizeof(IR_Instruction *), false_buffer, 64);
    bool ok = true;
    s32 folded = -1; // the constant value of everything so far, while it is constant
    u32 i = 0;
    // The first part that decides at run time was compiled into its probe
    // scope; that code is kept rather than made a second time.
    Scope *adopted = nullptr;
    IR_Instruction *adopted_jump = nullptr;
    // Constants at the left fold away, and so do dynamic parts that cannot change the outcome.
    for (; i < n; i++) {
        Condition_Part part = parts[i];
        if (folded >= 0 && ((part.join == OP_LOGICAL_AND && folded == 0) || (part.join == OP_LOGICAL_OR && folded == 1))) {
            // Its value cannot change the outcome; it is still checked.
            Scope *unused = _add_a_scope(scope, 0);
            IR_Instruction *j;
            s32 c;
            IR_Instruction *dead = make_label(unused);
            if (!compile_condition_part(unused, part, dead, &j, &c)) {
                ok = false;
                break;
            }
            continue;
        }
        IR_Instruction *probe_label = make_label(scope);
        Scope *probe = _add_a_scope(scope, 0);
        IR_Instruction *j;
        s32 c;
        if (!compile_condition_part(probe, part, probe_label, &j, &c)) {
            ok = false;
            break;
        }
        if (c < 0) { // the first part that decides at run time
            adopted = probe;
            adopted_jump = j;
            break;
        }
        folded = folded < 0 ? c : part.join == OP_LOGICAL_AND ? (folded && c) : (folded || c);
    }
    if (ok && i == n) {
        *constant = folded;
        goto done;
    }
    if (!ok) goto done;
    *constant = -1;
    for (u32 k = i; k < n && ok; k++) {
        Condition_Part part = parts[k];
        if (k > i && part.join == OP_LOGICAL_OR) {
            // The condition so far jumps to the block when true instead of falling through.
            IR_Instruction **last = dynamic_array_at<IR_Instruction *>(&false_jumps, false_jumps.count - 1);
            IR_Instruction *flip = *last;
            false_jumps.count--;
            flip->condition = invert_condition(flip->condition);
            *(IR_Instruction **)dynamic_array_add(&true_jumps) = flip;
            IR_Instruction *next_part = instruction_label(scope);
            for (u32 f = 0; f < false_jumps.count; f++) (*dynamic_array_at<IR_Instruction *>(&false_jumps, f))->operands[0].label = next_part;
            false_jumps.count = 0;
        } else if (k > i) {
            IR_Instruction *next_part = instruction_label(scope);
            for (u32 t = 0; t < true_jumps.count; t++) (*dynamic_array_at<IR_Instruction *>(&true_jumps, t))->operands[0].label = next_part;
            true_jumps.count = 0;
        }
        IR_Instruction *jump;
        s32 c;
        if (k == i && adopted) {
            instruction_nested_scope(scope, adopted);
            adopted_jump->operands[0].label = false_label;
            jump = adopted_jump;
            c = -1;
        } else {
            ok = compile_condition_part(scope, part, false_label, &jump, &c);
        }
        if (!ok) break;
        if (c >= 0) {
            // A constant after the first dynamic part is tested like a value.
            Value v = {};
            make_constant_value_from_integer(&v, global_compiler_state.type_b8, (u64)c);
            Value d;
            make_dynamic_value(scope, global_compiler_state.type_b8, &d);
            instruction_copy_constant(scope, &d, &v);
            IR_Instruction *test = allocate_an_instruction(scope, IR_COMPARE_TO_ZERO);
            test->operands[0] = operand_from_value(&d);
            test->num_operands = 1;
            jump = instruction_jump_if(scope, IR_CONDITION_ZE, false_label);
        }
        *(IR_Instruction **)dynamic_array_add(&false_jumps) = jump;
    }
    if (ok && true_jumps.count) {
        IR_Instruction *block = instruction_label(scope);
        for (u32 t = 0; t < true_jumps.count; t++) (*dynamic_array_at<IR_Instruction *>(&true_jumps, t))->operands[0].label = block;
    }
done:
    dynamic_array_free(&true_jumps);
    dynamic_array_free(&false_jumps);
    return ok;
}

static bool compile_if_chain(Scope *scope, Token *t, Token *end, Token **next) {
    IR_Instruction *chain_end = make_label(scope);
    bool decided = false; // an earlier part's condition was constant true
    for (;;) {
        Token *word = t;
        Token *condition = t->next;
        Token *block = condition && condition != end ? get_first_token_like_bounded(condition, TOKEN_OPEN_BRACE | TOKEN_COLON, end) : nullptr;
        if (!block || !is_block_start(block)) {
            print_error_on_token(word, "The compiler expected a block after this '%s' statement.", token_to_c_string(word));
            return false;
        }
        if (block == condition) {
            print_error_on_token(word, "Did you forget to specify a condition for that if statement?");
            return false;
        }
        Token *first, *block_end, *after;
        block_tokens(block, &first, &block_end, &after);
        bool has_else = after && after != end && token_is(after, "else");
        IR_Instruction *false_label = make_label(scope);
        s32 constant = -1;
        // A decided chain still checks its later parts, into scopes that are not placed.
        Scope *host = decided ? _add_a_scope(scope, 0) : scope;
        if (!compile_condition(host, condition, block, false_label, &constant)) return false;
        bool placed = !decided && constant != 0;
        Scope *body;
        if (!compile_block(host, block, 0, placed, &body)) return false;
        if (placed && constant == 1) decided = true;
        if (placed && constant < 0) {
            if (has_else) instruction_jump(scope, chain_end);
            place_instruction(scope, false_label);
        }
        if (!has_else) {
            *next = after;
            break;
        }
        Token *else_word = after;
        Token *n = else_word->next;
        if (n && n != end && token_is(n, "if")) {
            t = n;
            continue;
        }
        if (!n || n == end || !is_block_start(n)) {
            if (n && n != end && !is_block_start(n)) {
                Token *b = get_first_token_like_bounded(n, TOKEN_OPEN_BRACE | TOKEN_COLON, end);
                if (b && is_block_start(b)) {
                    print_error_on_token(n, "else statements do not take conditions.");
                    return false;
                }
            }
            print_error_on_token(else_word, "The compiler expected a block associated with this 'else' statement.");
            return false;
        }
        Token *else_first, *else_end, *else_after;
        block_tokens(n, &else_first, &else_end, &else_after);
        if (!compile_block(decided ? _add_a_scope(scope, 0) : scope, n, 0, !decided, nullptr)) return false;
        *next = else_after;
        break;
    }
    place_instruction(scope, chain_end);
    return true;
}

// [SECTION] Loops, break and continue

static void insert_for_loop_iteration_instructions(Scope *scope, Scope *loop) {
    for (IR_Instruction *in = loop->first_iteration_instruction; in; in = in->next) {
        IR_Instruction *copy = allocate_an_instruction(scope, in->kind);
        u32 sequence = copy->sequence;
        IR_Instruction *link = copy->next;
        *copy = *in;
        copy->next = link;
        copy->sequence = sequence;
        copy->scope = scope;
    }
}

static Scope *make_loop_scope(Scope *parent) {
    Scope *loop = new_block_scope(parent, SCOPE_LOOP, true);
    Scope_Code *code = scope_code(loop);
    code->loop_exit = make_label(loop);
    return loop;
}

static bool compile_while(Scope *scope, Token *t, Token *end, Token **next) {
    Token *condition = t->next;
    Token *block = condition && condition != end ? get_first_token_like_bounded(condition, TOKEN_OPEN_BRACE | TOKEN_COLON, end) : nullptr;
    if (!block || !is_block_start(block)) {
        print_error_on_token(t, "while loops must always have a block of code associated with them.");
        return false;
    }
    if (block == condition) {
        print_error_on_token(t, "Did you forget to specify a condition for that if statement?");
        return false;
    }
    Token *first, *block_end, *after;
    block_tokens(block, &first, &block_end, &after);
    *next = after;
    Scope *loop = make_loop_scope(scope);
    Scope_Code *code = scope_code(loop);
    code->loop_top = instruction_label(loop);
    s32 constant = -1;
    if (!compile_condition(loop, condition, block, code->loop_exit, &constant)) return false;
    if (constant == 0) {
        // Never runs: checked, not placed.
        loop->first_instruction = loop->last_instruction = nullptr;
        loop->num_instructions = 0;
        Scope *unused = _add_a_scope(scope, SCOPE_LOOP);
        scope_code(unused)->loop_exit = make_label(unused);
        scope_code(unused)->loop_top = make_label(unused);
        return make_instructions_in_scope(unused, first, block_end, false);
    }
    if (!make_instructions_in_scope(loop, first, block_end, false)) return false;
    instruction_jump(loop, code->loop_top);
    place_instruction(loop, code->loop_exit);
    return true;
}

static bool compile_break_or_continue(Scope *scope, Token *t, Token *end, Token **next, bool is_break) {
    Token *semicolon = find_semicolon(t, end);
    if (!semicolon) {
        print_error_on_token(t, "Did you forget a ';'?");
        return false;
    }
    *next = semicolon->next;
    Scope *loop = get_first_loop_scope_from(scope);
    if (!loop) {
        print_error_on_token(t, "You cannot use this instruction outside of loops.");
        return false;
    }
    if (is_break && t->next != semicolon) {
        Value level = {};
        if (!parse_simple_statement(scope, t->next, semicolon, nullptr, &level)) return false;
        if (!value_is_constant(&level) || !(level.constant.kind & CONSTANT_INTEGER)) {
            print_error_on_token(t->next, "This expression does not appear to be constant.");
            return false;
        }
        u64 n = level.constant.u;
        Scope *target = loop;
        for (u64 i = 1; i < n && target; i++) target = get_first_loop_scope_from(target->parent);
        if (n == 0 || !target) {
            print_error_on_token(t->next, "There is no loop you can break from at level %llu.", (unsigned long long)n);
            return false;
        }
        loop = target;
    } else if (!is_break && t->next != semicolon) {
        print_error_on_token(t->next, "Is this '%s' extraneaous?", token_to_c_string(t->next));
        return false;
    }
    if (!handle_deferred_blocks(scope, loop)) return false;
    Scope_Code *code = scope_code(loop);
    if (is_break) {
        instruction_jump(scope, code->loop_exit);
    } else {
        insert_for_loop_iteration_instructions(scope, loop);
        instruction_jump(scope, code->loop_top);
    }
    return true;
}

bool compile_for(Scope *scope, Token *t, Token *end, Token **next, Scope *(*make_loop)(Scope *));

// [SECTION] Return

static Scope *sub_program_root_of(Scope *scope) {
    for (Scope *s = scope; s; s = s->parent) {
        if (s->flags & SCOPE_DEFERRED) {
            // A deferred block returns from the scope it runs in.
            if (s->call_site) return sub_program_root_of(s->call_site);
        }
        if (s->flags & SCOPE_SUB_PROGRAM_ROOT) return s;
        if (s->flags & SCOPE_ENTRY_POINT) return nullptr;
    }
    return nullptr;
}

bool emit_return_value(Scope *scope, Scope *root, Value *v); // ir_calls.cpp
void emit_sub_program_exit(Scope *scope, Scope *root);      // ir_calls.cpp

static bool compile_return(Scope *scope, Token *t, Token *end, Token **next) {
    Token *semicolon = find_semicolon(t, end);
    if (!semicolon) {
        print_error_on_token(t, "Did you forget a ';' after the return instruction?");
        return false;
    }
    *next = semicolon->next;
    Scope *root = sub_program_root_of(scope);
    if (!root || !root->sub_program) {
        print_error_on_token(t, "You can only use the return instruction within sub-programs.");
        return false;
    }
    Identifier *sub = root->sub_program;
    Identifier *result = sub->signature ? sub->signature->return_type : nullptr;
    const char *name = (const char *)arena_copy(identifier_name(sub)).data;
    if (result && t->next == semicolon) {
        print_error_on_token(t, "It appears that you are not returning a value here. Sub-program %s must return a value of type %s.", name,
                             type_to_c_string(result));
        return false;
    }
    if (!result && t->next != semicolon) {
        print_error_on_token(t->next, "Sub-program %s does not return anything.", name);
        return false;
    }
    Value v = {};
    if (result && !parse_assignment_value(scope, result, t->next, semicolon, &v)) return false;
    if (result && !emit_return_value(scope, root, &v)) return false;
    if (!handle_deferred_blocks(scope, root)) return false;
    emit_sub_program_exit(scope, root);
    return true;
}

// [SECTION] Directives

static bool compile_assert(Scope *scope, Token *t, Token *end, Token **next) {
    Token *open = t->next;
    if (!open || open == end || !(open->kind & TOKEN_OPEN_PARENTHESIS) || open->next == open->partner) {
        print_error_on_token(t, "Expected an expression to assert, e.g. #assert(45 != 2, \"Error message!\");");
        return false;
    }
    Token *after = open->partner->next;
    if (!after || after == end || !(after->kind & TOKEN_SEMICOLON)) {
        print_error_on_token(open->partner, "Did you forget a ';' to end this directive?");
        return false;
    }
    *next = after->next;
    Token *comma = get_first_token_like_bounded(open->next, TOKEN_COMMA, open->partner);
    Value condition = {};
    if (!parse_simple_statement(scope, open->next, comma ? comma : open->partner, global_compiler_state.type_b8, &condition)) return false;
    if (!value_is_constant(&condition) || !(condition.constant.kind & CONSTANT_NUMBER)) {
        print_error_on_token(open->next, "It looks like you did not provide a constant condition to assess.");
        return false;
    }
    if (condition.constant.u != 0) return true;
    String message = {};
    if (comma) {
        Value m = {};
        if (!parse_simple_statement(scope, comma->next, open->partner, nullptr, &m)) return false;
        if (value_is_constant(&m) && (m.constant.kind & CONSTANT_STRING)) message = m.constant.string;
    }
    Scope *root = sub_program_root_of(scope);
    if (root && root->sub_program) {
        print_error_on_token(t, "Assertion failed!\nin %s\n%.*s", (const char *)arena_copy(identifier_name(root->sub_program)).data,
                             (int)message.count, (const char *)message.data);
    } else {
        print_error_on_token(t, "Assertion failed!\n%.*s", (int)message.count, (const char *)message.data);
    }
    return false;
}

static bool compile_insert(Scope *scope, Token *t, Token *end, Token **next) {
    Token *semicolon = t->next && t->next != end ? find_semicolon(t->next, end) : nullptr;
    if (!semicolon) {
        print_error_on_token(t, "Did you forget a ';' to end directive #insert?");
        return false;
    }
    if (semicolon == t->next) {
        print_error_on_token(t, "It seems that you do not specify a code block to insert here.");
        return false;
    }
    *next = semicolon->next;
    Value v = {};
    if (!parse_assignment_value(scope, global_compiler_state.code_type, t->next, semicolon, &v)) return false;
    if (!value_is_constant(&v) || !(v.constant.kind & CONSTANT_CODE)) {
        print_error_on_token(t->next, "This expression does not appear to be constant.");
        return false;
    }
    if (!compiler_enter_nesting(t)) return false;
    bool ok = make_instructions_in_scope(scope, v.constant.code_first, v.constant.code_end, true);
    compiler_leave_nesting();
    return ok;
}

static bool compile_machine_code(Scope *scope, Token *t, Token *end, Token **next) {
    Token *semicolon = t->next && t->next != end ? find_semicolon(t->next, end) : nullptr;
    if (!semicolon) {
        print_error_on_token(t, "Did you forget a ';' to end this directive?");
        return false;
    }
    *next = semicolon->next;
    if (semicolon == t->next) {
        print_error_on_token(t, "Did you forget to specify machine code to embed?");
        return false;
    }
    Value v = {};
    if (!parse_simple_statement(scope, t->next, semicolon, nullptr, &v)) return false;
    IR_Instruction *in = allocate_an_instruction(scope, IR_EMBED_MACHINE_CODE);
    in->operands[0].kind = IR_OPERAND_BYTES;
    if (value_is_constant(&v) && (v.constant.kind & CONSTANT_STRING)) {
        in->operands[0].bytes = v.constant.string.data;
        in->operands[0].size = (u32)v.constant.string.count;
    } else if (value_is_constant(&v) && (v.constant.kind & CONSTANT_AGGREGATE)) {
        u8 *bytes = (u8 *)arena_allocate(v.constant.item_count ? v.constant.item_count : 1, 1);
        for (u32 i = 0; i < v.constant.item_count; i++) bytes[i] = (u8)v.constant.items[i].u;
        in->operands[0].bytes = bytes;
        in->operands[0].size = v.constant.item_count;
    } else if (value_is_constant(&v)) {
        // A lone number would leave its width and byte order to guess.
        print_error_on_token(t->next, "This is incorrect/not supported right now.");
        return false;
    } else {
        print_error_on_token(t->next, "This expression does not appear to be constant.");
        return false;
    }
    in->num_operands = 1;
    in->first = t;
    return true;
}

// A static #if inside a body: the chosen block's statements join this scope.
static bool compile_static_if(Scope *scope, Token *t, Token *end, Token **next) {
    Token *chosen = nullptr;
    Token *after = nullptr;
    for (;;) {
        Token *condition = t->next;
        Token *block = condition && condition != end ? get_first_token_like_bounded(condition, TOKEN_OPEN_BRACE | TOKEN_COLON, end) : nullptr;
        if (!block || !is_block_start(block)) {
            print_error_on_token(t, "It looks like you did not provide a block of code associated with this statement.");
            return false;
        }
        if (block == condition) {
            print_error_on_token(t, "Did you forget to specify a condition for that if statement?");
            return false;
        }
        if (!chosen) {
            Value v = {};
            if (!parse_assignment_value(scope, global_compiler_state.type_b8, condition, block, &v)) return false;
            if (!value_is_constant(&v)) {
                print_error_on_token(condition, "This expression does not appear to be constant.");
                return false;
            }
            if (v.constant.u) chosen = block;
        }
        Token *first, *block_end;
        block_tokens(block, &first, &block_end, &after);
        if (!after || after == end || !token_is(after, "else")) break;
        Token *n = after->next;
        if (n && n != end && token_is(n, "#if")) {
            t = n;
            continue;
        }
        if (!is_block_start(n)) {
            print_error_on_token(after, "The compiler expected a block associated with this 'else' statement.");
            return false;
        }
        if (!chosen) chosen = n;
        block_tokens(n, &first, &block_end, &after);
        break;
    }
    *next = after;
    if (!chosen) return true;
    Token *first, *block_end, *unused;
    block_tokens(chosen, &first, &block_end, &unused);
    if (!compiler_enter_nesting(chosen)) return false;
    bool ok = make_instructions_in_scope(scope, first, block_end, true);
    compiler_leave_nesting();
    return ok;
}

static bool compile_directive(Scope *scope, Token *t, Token *end, Token **next) {
    if (token_is(t, "#defer")) return parse_defer(scope, t, end, next);
    if (token_is(t, "#assert")) return compile_assert(scope, t, end, next);
    if (token_is(t, "#insert")) return compile_insert(scope, t, end, next);
    if (token_is(t, "#machine_code")) return compile_machine_code(scope, t, end, next);
    if (token_is(t, "#if")) return compile_static_if(scope, t, end, next);
    if (token_is(t, "#on_load")) {
        print_error_on_token(t, "You must be at global scope level to declare an #on_load block.");
        return false;
    }
    if (token_is(t, "#events")) {
        print_error_on_token(t, "You must be at global scope level to declare an #events block.");
        return false;
    }
    if (token_is(t, "#syntax")) {
        print_error_on_token(t, "You must be at global scope level to declare a syntax highlighting block.");
        return false;
    }
    if (token_is(t, "#load_file")) {
        print_error_on_token(t, "Directive #load_file must be used in global scope. This may change in future versions of the compiler.");
        return false;
    }
    // An expression that starts with a directive (#constant f(), #size_of ...).
    if (token_is(t, "#constant") || token_is(t, "#type") || token_is(t, "#size_of") || token_is(t, "#type_of") || token_is(t, "#as_float")) {
        return compile_simple_statement(scope, t, end, next);
    }
    print_error_on_token(t, "Directive '%s' is unknown or not supported here.", token_to_c_string(t));
    return false;
}

// [SECTION] Statement dispatch

static bool compile_statement(Scope *scope, Token *t, Token *end, Token **next) {
    if (t->kind & TOKEN_SEMICOLON) {
        *next = t->next;
        return true;
    }
    if (t->kind & TOKEN_OPEN_BRACE) {
        if (!t->partner) return false;
        *next = t->partner->next;
        return compile_block(scope, t, 0, true, nullptr);
    }
    if (t->kind & TOKEN_DIRECTIVE) return compile_directive(scope, t, end, next);
    if (t->kind & TOKEN_IDENTIFIER) {
        if (token_is(t, "if")) return compile_if_chain(scope, t, end, next);
        if (token_is(t, "else")) {
            print_error_on_token(t, "This 'else' statement does not seem to be part of an if/else statements chain.");
            return false;
        }
        if (token_is(t, "while")) return compile_while(scope, t, end, next);
        if (token_is(t, "for")) return compile_for(scope, t, end, next, make_loop_scope);
        if (token_is(t, "switch")) return compile_switch(scope, t, end, next);
        if (token_is(t, "break")) return compile_break_or_continue(scope, t, end, next, true);
        if (token_is(t, "continue")) return compile_break_or_continue(scope, t, end, next, false);
        if (token_is(t, "return")) return compile_return(scope, t, end, next);
        if (token_is(t, "debug_break")) {
            Token *semicolon = t->next;
            if (!semicolon || semicolon == end || !(semicolon->kind & TOKEN_SEMICOLON)) {
                print_error_on_token(t, "Did you forget a ';'?");
                return false;
            }
            IR_Instruction *in = allocate_an_instruction(scope, IR_DEBUG_BREAK);
            in->first = in->last = t;
            *next = semicolon->next;
            return true;
        }
    }
    if (starts_declaration(t, end)) return compile_declaration(scope, t, end, next);
    return compile_simple_statement(scope, t, end, next);
}

bool make_instructions_in_scope(Scope *scope, Token *first, Token *end, bool inserting) {
    Token *t = first;
    while (t && t != end) {
        Token *next = nullptr;
        if (!compile_statement(scope, t, end, &next)) return false;
        t = next;
    }
    if (!inserting) return emit_scope_end_deferred(scope);
    return true;
}
