// Switch statements: every case value is tested in order, the default block
// is always placed last, and a case ends with an implicit break unless it
// carries #no_break, which falls into the block placed after it.
#include "compiler/back/statements.h"
#include "compiler/back/switch.h"
#include "compiler/front/diagnostics.h"

constexpr u32 MAX_SWITCH_CASES = 1024;
constexpr u32 MAX_CASE_VALUES = 4096;

struct Switch_Case {
    Token *first;   // the first case value ('else' for the default block)
    Token *block;   // ':' or '{'
    Token *body_first;
    Token *body_end;
    Token *no_break;
    bool is_default;
    IR_Instruction *label;
};

struct Tested_Value {
    u64 bits;
    Token *where;
};

// A case body is '{ ... }', ': { ... }' or ': statement;'. The ':' of a
// braced body may pair with a ';' of a later case, so the brace decides.
static bool case_body(Token *block, Token *stop, Token **first, Token **end, Token **after) {
    if (!block) return false;
    Token *brace = nullptr;
    if (block->kind & TOKEN_OPEN_BRACE) brace = block;
    else if ((block->kind & TOKEN_COLON) && block->next && block->next != stop && (block->next->kind & TOKEN_OPEN_BRACE)) brace = block->next;
    if (brace) {
        if (!brace->partner) return false;
        *first = brace->next;
        *end = brace->partner;
        *after = brace->partner->next;
        return true;
    }
    if (!(block->kind & TOKEN_COLON) || !block->partner) return false;
    *first = block->next;
    *end = block->partner->next;
    *after = block->partner->next;
    return true;
}

// Doubles a scratch array; the old copy is handed back with the rest at the end.
static void *grow_scratch(void *old, u64 element_size, u32 *capacity) {
    void *fresh = scratch_allocate(element_size * *capacity * 2);
    memcpy(fresh, old, element_size * *capacity);
    *capacity *= 2;
    return fresh;
}

static bool compile_switch_in_scratch(Scope *scope, Token *t, Token *end, Token **next) {
    Compiler_State *s = &global_compiler_state;
    Token *value_first = t->next;
    Token *open = value_first && value_first != end ? get_first_token_like_bounded(value_first, TOKEN_OPEN_BRACE, end) : nullptr;
    if (!open || !open->partner) {
        print_error_on_token(t, "The compiler expected a block after this '%s' statement.", token_to_c_string(t));
        return false;
    }
    *next = open->partner->next;
    Token *value_end = open;
    bool all_values = false;
    for (Token *d = value_first; d && d != open; d = token_skip(d)) {
        if (d->kind & TOKEN_DIRECTIVE) {
            if (!token_is(d, "#all_values") || d->next != open) {
                print_error_on_token(d, "Directive '%s' is not supported or cannot be used here.", token_to_c_string(d));
                return false;
            }
            all_values = true;
            value_end = d;
        }
    }
    if (value_first == value_end) {
        print_error_on_token(t, "Did you forget to specify a value to switch on?");
        return false;
    }
    Value v = {};
    if (!parse_simple_statement(scope, value_first, value_end, nullptr, &v)) return false;
    if (v.flags & VALUE_UNTYPED) value_set_default_type(&v);
    Identifier *type = v.type;
    if (type && type->pointer_depth == 0 && (type->flags & TYPE_STRUCT)) {
        print_error_on_token(value_first, "Switch statements do not accept structs but it seems the value you want to test is a struct (type %s).",
                             type_to_c_string(type));
        return false;
    }
    if (type && type->pointer_depth) {
        print_error_on_token(value_first, "Switch statement do not accept memory addresses for now.");
        return false;
    }
    if (all_values && !(type && (type->flags & TYPE_ENUM))) {
        print_error_on_token(value_end, "You indicated that all enum values should be handled but type '%s' is not an enum.", type_to_c_string(type));
        return false;
    }
    // The cases.
    u32 case_capacity = 8;
    Switch_Case *cases = (Switch_Case *)scratch_allocate(sizeof(Switch_Case) * case_capacity);
    u32 num_cases = 0;
    s32 default_index = -1;
    for (Token *c = open->next; c && c != open->partner;) {
        if (num_cases >= MAX_SWITCH_CASES) {
            print_error_on_token(c, "This switch statement has too many cases (the limit is %u).", MAX_SWITCH_CASES);
            return false;
        }
        if (num_cases == case_capacity) cases = (Switch_Case *)grow_scratch(cases, sizeof(Switch_Case), &case_capacity);
        Switch_Case *k = &cases[num_cases];
        memset(k, 0, sizeof *k);
        if (token_is(c, "#no_break")) {
            k->no_break = c;
            c = c->next;
        }
        Token *block = c != open->partner ? get_first_token_like_bounded(c, TOKEN_OPEN_BRACE | TOKEN_COLON, open->partner) : nullptr;
        Token *after = nullptr;
        if (c == open->partner || !case_body(block, open->partner, &k->body_first, &k->body_end, &after) || (block == c && !token_is(c, "else"))) {
            print_error_on_token(c != open->partner ? c : open, "Here is an example of a condition block inside a switch statement: 45 : say_hello();");
            return false;
        }
        k->first = c;
        k->block = block;
        if (token_is(c, "else")) {
            if (c->next != block) {
                print_error_on_token(c->next, "else statements do not take conditions.");
                return false;
            }
            if (default_index >= 0) {
                print_error_on_token(c, "This switch statement already has a default block.");
                return false;
            }
            if (k->no_break) {
                print_error_on_token(k->no_break, "You cannot use #no_break on a default switch block. The reason is a default block is always output at the end of a switch statement so #no_break has no effect on them.");
                return false;
            }
            k->is_default = true;
            default_index = (s32)num_cases;
        }
        num_cases++;
        c = after;
    }
    // The order the blocks are placed in: the default one last.
    u32 *order = (u32 *)scratch_allocate(sizeof(u32) * (num_cases ? num_cases : 1));
    u32 n = 0;
    for (u32 i = 0; i < num_cases; i++) {
        if ((s32)i != default_index) order[n++] = i;
    }
    if (default_index >= 0) order[n++] = (u32)default_index;
    // A default block written between cases is placed last: a #no_break just
    // before it falls into the next case, not into it.
    if (default_index > 0 && (u32)default_index + 1 < num_cases && cases[default_index - 1].no_break) {
        print_warning_on_token(cases[default_index - 1].no_break,
                               "It looks like the default block of this switch statement is placed in the middle of other blocks. "
                               "It is always placed after all other blocks, so this #no_break falls into the block after the default one.");
    }
    if (n && cases[order[n - 1]].no_break) {
        print_error_on_token(cases[order[n - 1]].no_break, "You cannot use #no_break on the last block of a switch statement.");
        return false;
    }
    // The tests.
    Value tested = v;
    if (!(tested.kind & VALUE_KIND_DYNAMIC) && code_generation_enabled() && !code_generator.make_value_dynamic(scope, &tested)) return false;
    IR_Instruction *exit = make_label(scope);
    u32 value_capacity = num_cases ? num_cases : 1;
    Tested_Value *values = (Tested_Value *)scratch_allocate(sizeof(Tested_Value) * value_capacity);
    u32 num_values = 0;
    u64 flags = number_class_of_type(type) == IR_CLASS_SIGNED ? (u64)IR_FLAG_SIGNED : 0;
    for (u32 i = 0; i < num_cases; i++) {
        Switch_Case *k = &cases[i];
        k->label = make_label(scope);
        if (k->is_default) continue;
        Token *item = k->first;
        while (item != k->block) {
            Token *comma = get_first_token_like_bounded(item, TOKEN_COMMA, k->block);
            Token *stop = comma ? comma : k->block;
            if (item == stop) {
                print_error_on_token(item, "Is this an extraneous ','?");
                return false;
            }
            Value c = {};
            if (!parse_assignment_value(scope, type, item, stop, &c)) return false;
            if (!value_is_constant(&c)) {
                print_error_on_token(item, "This expression does not appear to be constant.");
                return false;
            }
            for (u32 j = 0; j < num_values; j++) {
                if (values[j].bits == c.constant.u) {
                    print_error_on_token(item, "This value is already tested in this switch statement.");
                    print_note_on_trace(make_trace_from_token(values[j].where), "This is the previous test.");
                    return false;
                }
            }
            if (num_values >= MAX_CASE_VALUES) {
                print_error_on_token(item, "This switch statement tests too many values (the limit is %u).", MAX_CASE_VALUES);
                return false;
            }
            if (num_values == value_capacity) values = (Tested_Value *)grow_scratch(values, sizeof(Tested_Value), &value_capacity);
            values[num_values++] = Tested_Value{c.constant.u, item};
            if (code_generation_enabled()) {
                instruction_cmp(scope, &tested, OP_EQUAL, &c, flags);
                instruction_jump_if(scope, IR_CONDITION_EQ, k->label, flags);
            }
            item = comma ? comma->next : stop;
        }
    }
    if (all_values) {
        for (Bucket_Iterator it = bucket_iterate(&type->member_scope->constants); it.element; bucket_iterator_next(&it)) {
            Identifier *m = (Identifier *)it.element;
            bool found = false;
            for (u32 j = 0; j < num_values && !found; j++) found = values[j].bits == m->constant.u;
            if (!found) {
                print_error_on_token(value_first, "All values from enum %s must be handled in this switch statement.", type_to_c_string(type));
                return false;
            }
        }
    }
    instruction_jump(scope, default_index >= 0 ? cases[default_index].label : exit);
    // The blocks.
    for (u32 o = 0; o < n; o++) {
        Switch_Case *k = &cases[order[o]];
        place_instruction(scope, k->label);
        Scope *body = _add_a_scope(scope, 0);
        instruction_nested_scope(scope, body);
        if (!compiler_enter_nesting(k->block)) return false;
        bool ok = make_instructions_in_scope(body, k->body_first, k->body_end, false);
        compiler_leave_nesting();
        if (!ok) return false;
        if (!k->no_break && o + 1 < n) instruction_jump(scope, exit);
    }
    place_instruction(scope, exit);
    (void)s;
    return true;
}

// The cases, their order and the tested values live only for the switch;
// the bodies' own calls and switches take theirs above and hand them back.
bool compile_switch(Scope *scope, Token *t, Token *end, Token **next) {
    u64 mark = tmp_get_position();
    bool ok = compile_switch_in_scratch(scope, t, end, next);
    tmp_set_position(mark);
    return ok;
}
