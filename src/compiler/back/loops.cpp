// For loops: over an integer range, an array or a String. The header reads
//   for [@]description [#step value [, comparison]] [-> name [, name]] block
// An integer loop given one value N runs its index from 0 while it is < N.
// A leading '@' on an array or string loop names each element's address
// instead of a copy of the element.
#include "compiler/back/statements.h"
#include "compiler/front/diagnostics.h"

struct For_Header {
    Token *block;
    Token *start_first, *start_end;
    Token *bound_first, *bound_end; // null: no second value
    Token *step_first, *step_end;
    Token *comparison;
    Token *names[2];   // element (or integer index), index
    bool leading_comma; // '-> , index'
    bool by_address;
};

static bool is_block_token(Token *t) { return t && (((t->kind & TOKEN_OPEN_BRACE) && t->partner) || ((t->kind & TOKEN_COLON) && t->partner)); }

static Token *find_top_level(Token *first, Token *end, u64 kinds) {
    for (Token *t = first; t && t != end; t = token_skip(t)) {
        if (t->kind & kinds) return t;
    }
    return nullptr;
}

static bool parse_for_header(Token *word, Token *end, For_Header *h) {
    memset(h, 0, sizeof *h);
    Token *first = word->next;
    Token *block = nullptr;
    for (Token *t = first; t && t != end; t = token_skip(t)) {
        if (is_block_token(t)) {
            block = t;
            break;
        }
    }
    if (!block) {
        print_error_on_token(word, "This for loop does not seem to have an associated block to execute.");
        return false;
    }
    h->block = block;
    Token *directive = find_top_level(first, block, TOKEN_DIRECTIVE);
    Token *arrow = find_top_level(first, block, TOKEN_ARROW);
    Token *description_end = directive ? directive : arrow ? arrow : block;
    if (directive && arrow && arrow == find_top_level(first, directive, TOKEN_ARROW)) description_end = arrow;
    Token *d = first;
    if (d != description_end && (d->kind & TOKEN_AT)) {
        h->by_address = true;
        d = d->next;
    }
    if (d == description_end) {
        print_error_on_token(word, "This for loop does not seem to have a description of something to loop on.");
        return false;
    }
    Token *comma = find_top_level(d, description_end, TOKEN_COMMA);
    if (comma) {
        if (comma == d || comma->next == description_end) {
            print_error_on_token(comma, "Is this an extraneous ','?");
            return false;
        }
        h->start_first = d;
        h->start_end = comma;
        h->bound_first = comma->next;
        h->bound_end = description_end;
    } else {
        h->start_first = d;
        h->start_end = description_end;
    }
    if (directive && description_end == directive) {
        if (!token_is(directive, "#step")) {
            print_error_on_token(directive, "Directive '%s' is unkown or not usable here.", token_to_c_string(directive));
            return false;
        }
        Token *step_end = arrow ? arrow : block;
        Token *step_comma = find_top_level(directive->next, step_end, TOKEN_COMMA);
        h->step_first = directive->next;
        h->step_end = step_comma ? step_comma : step_end;
        if (h->step_first == h->step_end) {
            print_error_on_token(directive, "Did you forget to specify a value?");
            return false;
        }
        if (step_comma) {
            Token *op = step_comma->next;
            if (op == step_end || !(op->kind & TOKEN_BINARY_OPERATOR)) {
                print_error_on_token(op == step_end ? step_comma : op,
                                     "The compiler expected a comparison operator to use in the for loop here but got '%s' instead.",
                                     op == step_end ? "" : token_to_c_string(op));
                return false;
            }
            if (!(op->op & OP_CMP)) {
                print_error_on_token(op, "'%s' is not a valid comparison operator. Please use <, >, <=, >=, == or !=.", token_to_c_string(op));
                return false;
            }
            if (op->next != step_end) {
                print_error_on_token(op->next, "Is this '%s' extraneaous?", token_to_c_string(op->next));
                return false;
            }
            h->comparison = op;
        }
    }
    if (arrow) {
        Token *n = arrow->next;
        u32 count = 0;
        if (n != block && (n->kind & TOKEN_COMMA)) {
            h->leading_comma = true;
            n = n->next;
            count = 1;
        }
        while (n != block) {
            if (!(n->kind & TOKEN_IDENTIFIER)) {
                print_error_on_token(n, "The compiler expected an identifier but got '%s' instead.", token_to_c_string(n));
                return false;
            }
            if (count >= 2) {
                print_error_on_token(n, "Is this '%s' extraneaous?", token_to_c_string(n));
                return false;
            }
            h->names[count++] = n;
            n = n->next;
            if (n != block) {
                if (!(n->kind & TOKEN_COMMA)) {
                    print_error_on_token(n, "The compiler expected the for loop block to start here but got '%s' instead.", token_to_c_string(n));
                    return false;
                }
                n = n->next;
                if (n == block) {
                    print_error_on_token(block, "The compiler expected an identifier but got '%s' instead.", token_to_c_string(block));
                    return false;
                }
            }
        }
        if (count == 0) {
            print_error_on_token(arrow, "The compiler expected an identifier but got '%s' instead.", token_to_c_string(block));
            return false;
        }
    }
    return true;
}

// A loop variable named by `name` (reported when it clashes) or by `text` (a default, shadowing silently).
static Identifier *add_loop_variable(Scope *loop, Token *name, String text, Identifier *type) {
    Identifier *id;
    if (name) {
        id = add_identifier_with_error(loop, name, IDENTIFIER_KIND_VARIABLE);
        if (!id) return nullptr;
    } else {
        id = add_identifier(loop, text.data, text.count, IDENTIFIER_KIND_VARIABLE, Trace{0xFFFFFFFF, 0, nullptr, nullptr, 0});
    }
    id->flags |= IDENTIFIER_DECLARED;
    id->type = type;
    Value v;
    make_dynamic_value(loop, type, &v);
    id->register_id = v.reg;
    return id;
}

static void variable_value(Identifier *id, Value *out) { make_dynamic_value_from_register(id->register_id, id->type, out); }

static bool is_integer_like(Identifier *type) {
    if (!type || type->pointer_depth) return false;
    Identifier *view = (type->flags & TYPE_ENUM) && type->base_type ? type->base_type : type;
    return (view->flags & TYPE_INTEGER) != 0;
}

bool compile_for(Scope *scope, Token *t, Token *end, Token **next, Scope *(*make_loop)(Scope *)) {
    Compiler_State *s = &global_compiler_state;
    For_Header h;
    if (!parse_for_header(t, end, &h)) return false;
    Token *body_first, *body_end;
    if (h.block->kind & TOKEN_OPEN_BRACE) {
        body_first = h.block->next;
        body_end = h.block->partner;
        *next = h.block->partner->next;
    } else {
        body_first = h.block->next;
        body_end = h.block->partner->next;
        *next = body_end;
    }
    Scope *loop = make_loop(scope);
    Scope_Code *code = scope_code(loop);
    Value first = {};
    if (!parse_simple_statement(loop, h.start_first, h.start_end, nullptr, &first)) return false;
    // `for 0, n`: an untyped integer start takes the type of a typed
    // integer bound, so the literal never forces its own u64 on `n`.
    Value bound = {};
    bool bound_parsed = false;
    bool untyped_integer = (first.flags & VALUE_UNTYPED) && !(first.constant.kind & (CONSTANT_REAL | CONSTANT_STRING));
    if (untyped_integer && h.bound_first) {
        if (!parse_assignment_value(loop, nullptr, h.bound_first, h.bound_end, &bound)) return false;
        bound_parsed = true;
        if (!(bound.flags & VALUE_UNTYPED) && is_integer_like(bound.type) && !cast_value_in_scope(loop, &first, bound.type, h.start_first))
            return false;
    }
    if (first.flags & VALUE_UNTYPED) value_set_default_type(&first);
    Identifier *type = first.type;
    bool is_string = type && type->pointer_depth == 0 && (type->flags & IDENTIFIER_STRING_TYPE);
    bool is_array = type && type->pointer_depth == 0 && (type->flags & TYPE_ARRAY_STRUCT);
    if (is_string || is_array) {
        if (h.bound_first) {
            print_error_on_token(h.bound_first, "When looping on arrays you cannot give an upper boundary.");
            return false;
        }
        Identifier *element = is_string ? s->type_u8 : type->element_type;
        Identifier *element_type = h.by_address ? type_to_memory_address_of_type(element, 1) : element;
        // A leading comma leaves names[0] empty: only the index is named.
        Token *element_name = h.names[0];
        Token *index_name = h.names[1];
        String element_text = element_name ? token_string(element_name) : S("it");
        String index_text = element_name && !index_name ? arena_format_string("%.*s_index", (int)element_text.count, element_text.data)
                                                       : S("it_index");
        Identifier *it = add_loop_variable(loop, element_name, element_text, element_type);
        Identifier *it_index = it ? add_loop_variable(loop, index_name, index_text, s->type_s64) : nullptr;
        if (!it_index) return false;
        if (!(first.kind & VALUE_KIND_DYNAMIC) && !code_generator.make_value_dynamic(loop, &first)) return false;
        Value data = {}, count = {}, index = {};
        if (!code_generator.member(loop, &first, 0, type_to_memory_address_of_type(element, 1), &data)) return false;
        if (!code_generator.member(loop, &first, 8, s->type_s64, &count)) return false;
        Value data_copy, count_copy;
        make_dynamic_value(loop, data.type, &data_copy);
        data_copy.kind &= ~VALUE_KIND_TEMPORARY;
        instruction_copy_variable(loop, &data_copy, &data);
        make_dynamic_value(loop, s->type_s64, &count_copy);
        count_copy.kind &= ~VALUE_KIND_TEMPORARY;
        instruction_copy_variable(loop, &count_copy, &count);
        variable_value(it_index, &index);
        Value zero = {};
        make_constant_value_from_integer(&zero, s->type_s64, 0);
        instruction_copy_constant(loop, &index, &zero);
        code->loop_top = instruction_label(loop);
        instruction_cmp(loop, &index, OP_LESS, &count_copy);
        instruction_jump_if(loop, IR_CONDITION_GE, code->loop_exit, IR_FLAG_SIGNED);
        Value element_value;
        variable_value(it, &element_value);
        if (h.by_address) {
            IR_Instruction *in = allocate_an_instruction(loop, IR_CALCULATE_ADDRESS);
            in->operands[0] = operand_from_value(&element_value);
            in->operands[1] = operand_from_value(&data_copy);
            in->operands[2] = operand_from_value(&index);
            in->operands[3] = operand_from_constant(element->size, 4, IR_CLASS_UNSIGNED);
            in->num_operands = 4;
        } else {
            instruction_memory_dereference(loop, &element_value, &data_copy, &index, element->size);
        }
        Value one = {};
        make_constant_value_from_integer(&one, s->type_s64, 1);
        IR_Instruction *step = allocate_an_iteration_instruction(loop, IR_ARITHMETIC);
        step->operands[0] = operand_from_value(&index);
        step->operands[1] = operand_from_value(&one);
        step->num_operands = 2;
        step->op = OP_ADD;
        step->flags = IR_FLAG_SIGNED;
    } else {
        if (type && type->pointer_depth == 0 && (type->flags & TYPE_STRUCT)) {
            print_error_on_token(h.start_first, "You cannot loop on type '%s'.", type_to_c_string(type));
            return false;
        }
        if (!is_integer_like(type)) {
            print_error_on_token(h.start_first, "Only integers, arrays and strings can be used here.");
            return false;
        }
        if (h.leading_comma || h.names[1]) {
            print_error_on_token(h.names[1],
                                 "This for loop does not loop on an array so you can only set a custom name for the index identifier.");
            return false;
        }
        Value start = first;
        if (bound_parsed) {
            if (!cast_value_in_scope(loop, &bound, type, h.bound_first)) return false;
        } else if (h.bound_first) {
            if (!parse_assignment_value(loop, type, h.bound_first, h.bound_end, &bound)) return false;
        } else {
            // One value: from 0 up to it.
            bound = first;
            make_constant_value_from_integer(&start, type, 0);
        }
        u64 comparison = h.comparison ? h.comparison->op : OP_LESS;
        if (!h.comparison && value_is_constant(&start) && value_is_constant(&bound)) {
            bool is_signed = number_class_of_type(type) == IR_CLASS_SIGNED;
            bool smaller = is_signed ? bound.constant.s < start.constant.s : bound.constant.u < start.constant.u;
            if (smaller) comparison = OP_GREATER_OR_EQUAL;
        }
        Value step = {};
        if (h.step_first) {
            if (!parse_assignment_value(loop, type, h.step_first, h.step_end, &step)) return false;
        } else {
            make_constant_value_from_integer(&step, type, 1);
        }
        Identifier *it = add_loop_variable(loop, h.names[0], S("it"), type);
        if (!it) return false;
        Value index;
        variable_value(it, &index);
        instruction_copy_value(loop, &index, &start);
        if (!value_is_constant(&bound)) {
            Value b;
            make_dynamic_value(loop, type, &b);
            b.kind &= ~VALUE_KIND_TEMPORARY;
            instruction_copy_variable(loop, &b, &bound);
            bound = b;
        }
        if (!value_is_constant(&step)) {
            Value b;
            make_dynamic_value(loop, type, &b);
            b.kind &= ~VALUE_KIND_TEMPORARY;
            instruction_copy_variable(loop, &b, &step);
            step = b;
        }
        code->loop_top = instruction_label(loop);
        u64 flags = number_class_of_type(type) == IR_CLASS_SIGNED ? (u64)IR_FLAG_SIGNED : 0;
        instruction_cmp(loop, &index, comparison, &bound, flags);
        instruction_jump_if(loop, get_opposite_comparison_jump(comparison), code->loop_exit, flags);
        IR_Instruction *advance = allocate_an_iteration_instruction(loop, IR_ARITHMETIC);
        advance->operands[0] = operand_from_value(&index);
        advance->operands[1] = operand_from_value(&step);
        advance->num_operands = 2;
        advance->op = (comparison == OP_GREATER || comparison == OP_GREATER_OR_EQUAL) ? OP_SUBTRACT : OP_ADD;
        advance->flags = flags;
    }
    if (!make_instructions_in_scope(loop, body_first, body_end, false)) return false;
    for (IR_Instruction *in = loop->first_iteration_instruction; in; in = in->next) {
        IR_Instruction *copy = allocate_an_instruction(loop, in->kind);
        u32 sequence = copy->sequence;
        *copy = *in;
        copy->next = nullptr;
        copy->sequence = sequence;
        copy->scope = loop;
    }
    instruction_jump(loop, code->loop_top);
    place_instruction(loop, code->loop_exit);
    return true;
}
