// Declarations: variables and constants, structs (plain and polymorphic,
// with #union/#struct blocks, #using and #as members) and enums.
#include "compiler/front/compiler.h"
#include "compiler/front/code_hooks.h"
#include "compiler/front/constant_calls.h"
#include "compiler/front/diagnostics.h"

// [SECTION] Variables and constants

bool handle_declaration_assignment(Scope *scope, Identifier *id, Identifier *type, Token *equal, Token *end) {
    Compiler_State *s = &global_compiler_state;
    if (!(equal->kind & TOKEN_BINARY_OPERATOR) || equal->op != OP_ASSIGN) {
        print_error_on_token(equal, "When declaring a variable or a constant and assigning a value to it make sure to use operator '='. "
                                    "It looks like you are using '%s' instead.", token_to_c_string(equal));
        return false;
    }
    if (!equal->next || equal->next == end) {
        print_error_on_token(equal, "The compiler expected a value.");
        return false;
    }
    Value v = {};
    Token *callee = equal->next;
    bool is_call = (id->flags & IDENTIFIER_CONSTANT) && (callee->kind & TOKEN_IDENTIFIER) && callee->next && callee->next != end &&
                   (callee->next->kind & TOKEN_OPEN_PARENTHESIS) && callee->next->partner->next == end;
    Identifier *called = is_call ? get_identifier(scope, callee->text, callee->length) : nullptr;
    if (called && (called->constant.kind & CONSTANT_SUB_PROGRAM || called->declaration_kind == DECLARATION_SUB_PROGRAM)) {
        // '$C := f(...)': a call gives a constant only by being evaluated now.
        Identifier *found = get_identifier_with_error(scope, callee, false);
        Value f = {};
        if (!found || !resolve_identifier(found) || !make_value_from_identifier_for_call(found, callee, &f)) return false;
        if (!parse_constant_call(scope, &f, callee->next, nullptr, &v)) return false;
        if (type && !cast_value_in_scope(scope, &v, type, callee)) return false;
    } else if (!parse_assignment_value(scope, type, equal->next, end, &v)) {
        return false;
    }
    if (!(id->flags & IDENTIFIER_CONSTANT) && !check_sub_program_address(&v, equal->next)) return false;
    if (!type) {
        value_set_default_type(&v);
        type = v.type;
        // A void value holds nothing a variable could take its type from.
        if (!type || (type->pointer_depth == 0 && (type->flags & TYPE_VOID))) {
            print_error_on_token(equal->next, "It looks like %s's type is being infered from the value you assign to it but said value is '%s' which the compiler cannot use to infer the type.",
                                 token_to_c_string(id->name_token), token_to_c_string(equal->next));
            return false;
        }
    }
    if (id->flags & IDENTIFIER_CONSTANT) {
        if (!value_is_constant(&v)) {
            print_error_on_token(equal->next, "You cannot assign a variable to a constant.");
            return false;
        }
        if (!type_is_address(type) && (v.constant.kind & CONSTANT_AGGREGATE)) {
            v.type = type;
            if (!place_constant_in_constant_data(&v, equal->next)) return false;
        }
        id->constant = v.constant;
    } else if (value_is_constant(&v)) {
        id->constant = v.constant;
        id->flags |= IDENTIFIER_HAS_VALUE;
    }
    id->type = type;
    (void)s;
    if (!(id->flags & (IDENTIFIER_CONSTANT | IDENTIFIER_MEMBER)) && code_generation_enabled()) {
        return code_generator.declare_variable(scope, id, &v);
    }
    return true;
}

// [SECTION] Structs

struct Layout {
    u32 offset;
    u32 alignment;
    u32 size;     // a union: its largest member
    bool is_union;
};

static u32 align_up(u32 x, u32 a) { return a > 1 ? (x + a - 1) / a * a : x; }

static void layout_place(Layout *layout, u32 size, u32 alignment, u32 *offset) {
    if (alignment == 0) alignment = 1;
    if (layout->is_union) {
        *offset = layout->offset;
        if (size > layout->size) layout->size = size;
    } else {
        layout->offset = align_up(layout->offset, alignment);
        *offset = layout->offset;
        layout->offset += size;
        layout->size = layout->offset;
    }
    if (alignment > layout->alignment) layout->alignment = alignment;
}

struct Struct_Parse {
    Identifier *owner;
    Scope *members;
    Identifier *as_member;
};

static bool parse_struct_body(Struct_Parse *p, Layout *layout, Token *first, Token *end);

static Identifier *find_member_here(Scope *members, Token *name) {
    return get_identifier_in_scope(members, name->text, name->length);
}

static bool report_member_duplicate(Identifier *existing, Token *name) {
    if (existing->flags & IDENTIFIER_USING) {
        print_error_on_token(name, "'%s' already exists in this struct. It was brought in by a #using directive.", token_to_c_string(name));
    } else {
        print_error_on_token(name, "'%s' already exists in this struct.", token_to_c_string(name));
    }
    return false;
}

static bool bring_in_using_members(Struct_Parse *p, Identifier *member, Token *where) {
    Identifier *type = member->type;
    Identifier *source = type->pointer_depth == 1 ? type->leaf_type : type;
    if (!source || source->pointer_depth > 0 || !(source->flags & TYPE_STRUCT) || !source->member_scope) {
        print_error_on_token(where, "#using is not compatible with type '%s'. #using must be used with struct types.", type_to_c_string(type));
        return false;
    }
    // Members the source itself took in by #using come along too (they are kept as constants).
    Bucket_Array *lists[2] = {&source->member_scope->variables, &source->member_scope->constants};
    for (Bucket_Array *list : lists)
    for (Bucket_Iterator it = bucket_iterate(list); it.element; bucket_iterator_next(&it)) {
        Identifier *m = (Identifier *)it.element;
        if (list == lists[1] && !(m->flags & IDENTIFIER_USING)) continue;
        if (get_identifier_in_scope(p->members, m->name, m->name_length)) {
            print_error_on_token(where, "Struct '%s' has a member named '%.*s' but this struct also has a member with the same name which means you cannot use #using here.",
                                 type_to_c_string(source), (int)m->name_length, (const char *)m->name);
            return false;
        }
    }
    for (Bucket_Array *list : lists)
    for (Bucket_Iterator it = bucket_iterate(list); it.element; bucket_iterator_next(&it)) {
        Identifier *m = (Identifier *)it.element;
        if (list == lists[1] && !(m->flags & IDENTIFIER_USING)) continue;
        Identifier *copy = add_identifier(p->members, m->name, m->name_length, IDENTIFIER_KIND_CONSTANT, member->declaration);
        // Reached through the member, so it takes no space of its own.
        copy->flags = (m->flags | IDENTIFIER_USING | IDENTIFIER_CONSTANT | IDENTIFIER_DECLARED);
        copy->type = m->type;
        copy->offset = member->offset + m->offset;
        copy->using_source = member;
    }
    return true;
}

// 'name: Type [= default];' or '$name ...' inside a struct body. Returns the
// token after the member, or null after an error.
static Token *parse_struct_member_declaration(Struct_Parse *p, Layout *layout, Token *t, Token *end, bool is_using, bool is_as) {
    Compiler_State *s = &global_compiler_state;
    bool constant = false;
    Token *start = t;
    if (t->kind & TOKEN_DOLLAR) {
        constant = true;
        t = t->next;
    }
    if (!t || t == end || !(t->kind & TOKEN_IDENTIFIER)) {
        print_error_on_token(t && t != end ? t : start, "In a struct you can only declare variables and constants. All declarations must end with a ';'.");
        return nullptr;
    }
    Token *name = t;
    Token *colon = name->next;
    if (!colon || colon == end || !(colon->kind & TOKEN_COLON)) {
        print_error_on_token(name, "It looks like this is not a struct member declaration. Did you forget to put a ':' after its name?");
        return nullptr;
    }
    Token *semicolon = colon->partner;
    if (!semicolon) {
        print_error_on_token(colon, "In a struct you can only declare variables and constants. All declarations must end with a ';'.");
        return nullptr;
    }
    Identifier *existing = find_member_here(p->members, name);
    if (existing) {
        report_member_duplicate(existing, name);
        return nullptr;
    }
    Token *equal = nullptr;
    for (Token *x = colon->next; x && x != semicolon; x = token_skip(x)) {
        if ((x->kind & TOKEN_BINARY_OPERATOR) && (x->op & OP_ASSIGN)) {
            if (x->op != OP_ASSIGN) {
                print_error_on_token(x, "Operator '%s' cannot be used here as this is supposed to be an assignment.", token_to_c_string(x));
                return nullptr;
            }
            equal = x;
            break;
        }
    }
    if (constant) {
        if (is_using || is_as) {
            print_error_on_token(name, is_as ? "#as cannot be used on constant struct members." : "#using must be used on non-anonymous struct members.");
            return nullptr;
        }
        Identifier *outside = get_identifier(p->members->parent, name->text, name->length);
        if (outside && (outside->flags & IDENTIFIER_CONSTANT)) {
            print_error_on_token(name, "Constant '%s' already exists out of this struct, so you cannot redeclare it locally.", token_to_c_string(name));
            return nullptr;
        }
        Identifier *id = add_identifier(p->members, name->text, name->length, IDENTIFIER_KIND_CONSTANT, make_trace_from_token(name));
        id->flags |= IDENTIFIER_MEMBER | IDENTIFIER_PRE_DECLARED;
        id->name_token = name;
        id->kind_token = colon->next;
        id->semicolon = semicolon;
        Token *type_end = equal ? equal : semicolon;
        if (colon->next != type_end) {
            id->type_first = colon->next;
            id->type_end = type_end;
        }
        if (equal) {
            id->value_first = equal;
            id->value_end = semicolon;
        }
        Token *k = colon->next;
        if (token_is(k, "#struct")) id->declaration_kind = DECLARATION_STRUCT;
        else if (token_is(k, "#enum") || token_is(k, "#enum_flags")) id->declaration_kind = DECLARATION_ENUM;
        else if (k && (k->kind & TOKEN_OPEN_PARENTHESIS)) id->declaration_kind = DECLARATION_SUB_PROGRAM;
        else id->declaration_kind = DECLARATION_OTHER;
        if (!resolve_identifier(id)) return nullptr;
        if (id->flags & IDENTIFIER_IS_TYPE) id->enclosing = p->owner;
        return semicolon->next;
    }

    // A nested struct or enum declared without '$' is a type, not a member of one.
    Token *k = colon->next;
    if (token_is(k, "#struct")) {
        bool polymorphic = k->next && k->next != semicolon && (k->next->kind & TOKEN_OPEN_PARENTHESIS);
        print_error_on_token(name, polymorphic ? "A polymorphic struct type must be constant. Did you forget to mark '%s' as constant?"
                                               : "A struct type must be constant. Did you forget to mark '%s' as constant?",
                             token_to_c_string(name));
        return nullptr;
    }
    if (token_is(k, "#enum") || token_is(k, "#enum_flags")) {
        print_error_on_token(name, "Enums must be constants. Did you forget to mark enum '%s' as constant?", token_to_c_string(name));
        return nullptr;
    }
    Identifier *type = nullptr;
    Token *type_end = equal ? equal : semicolon;
    if (colon->next == type_end) {
        if (!equal) {
            print_error_on_token(name, "The type of '%s' cannot be determined as no explicit type is provided and no value is set to infer a type from.",
                                 token_to_c_string(name));
            return nullptr;
        }
    } else if (!parse_type(p->members, &type, colon->next, type_end)) {
        return nullptr;
    }
    if (type && type->pointer_depth == 0 && (type->flags & TYPE_STRUCT) && !type->member_scope) {
        print_error_on_token(colon->next, "'%s' is not fully declared.", type_to_c_string(type));
        return nullptr;
    }
    if (type == p->owner) {
        print_error_on_token(colon->next, "'%s' is not fully declared.", type_to_c_string(type));
        return nullptr;
    }
    Identifier *member = add_identifier(p->members, name->text, name->length, IDENTIFIER_KIND_VARIABLE, make_trace_from_token(name));
    member->flags |= IDENTIFIER_MEMBER | IDENTIFIER_DECLARED;
    member->name_token = name;
    bool embedded = type && (type->flags & TYPE_FIXED_SIZE_ARRAY) && type->pointer_depth == 0;
    if (equal) {
        if (embedded) {
            print_error_on_token(equal, "For now we do not support default values for fixed arrays in structs.");
            return nullptr;
        }
        if (!handle_declaration_assignment(p->members, member, type, equal, semicolon)) return nullptr;
        type = member->type;
        if (!(member->flags & IDENTIFIER_HAS_VALUE)) {
            print_error_on_token(equal->next, "This expression does not appear to be constant.");
            return nullptr;
        }
    }
    member->type = type;
    u32 size = type->size, alignment = type->alignment;
    if (embedded) {
        // The elements live inside the struct; the member reads as their address.
        member->flags |= IDENTIFIER_EMBEDDED_ARRAY;
        Identifier *element = type->element_type;
        u64 total = (u64)element->size * type->max_count;
        if (total > 0x7FFFFFFF) {
            print_error_on_token(colon->next, "This array is too big to be embedded in a struct.");
            return nullptr;
        }
        size = (u32)total;
        alignment = element->alignment;
    }
    if ((u64)layout->offset + size > 0x7FFFFFFF) {
        print_error_on_token(name, "This struct is too big.");
        return nullptr;
    }
    layout_place(layout, size, alignment, &member->offset);
    if (is_using && !bring_in_using_members(p, member, name)) return nullptr;
    if (is_as) {
        if (p->as_member) {
            print_error_on_token(name, "An #as directive has already been used in this struct. Only one #as directive can be use per struct.");
            return nullptr;
        }
        p->as_member = member;
        member->flags |= IDENTIFIER_AS_MEMBER;
    }
    (void)s;
    return semicolon->next;
}

// A body-level `#if C {…} else #if C2 {…} else {…}` chain: folds the conditions
// in order and picks the first block whose condition holds, or the final
// `else` block. Returns the token after the whole chain (`end` when it runs to
// it) and the chosen block's opening brace in `*chosen` (null when none is
// taken); null after an error.
Token *choose_static_if_block(Scope *scope, Token *t, Token *end, Token **chosen) {
    *chosen = nullptr;
    Token *after = nullptr;
    for (;;) {
        Token *condition = t->next;
        Token *block = condition && condition != end ? get_first_token_like_bounded(condition, TOKEN_OPEN_BRACE, end) : nullptr;
        if (!block) {
            print_error_on_token(t, "Did you forget to associate a code block with this statement?");
            return nullptr;
        }
        if (block == condition) {
            print_error_on_token(t, "Did you forget to specify a condition?");
            return nullptr;
        }
        if (!*chosen) {
            Value v = {};
            if (!parse_assignment_value(scope, global_compiler_state.type_b8, condition, block, &v)) return nullptr;
            if (!value_is_constant(&v)) {
                print_error_on_token(condition, "This expression does not appear to be constant.");
                return nullptr;
            }
            if (v.constant.u) *chosen = block;
        }
        after = block->partner->next;
        if (after && after != end && token_is(after, "else")) {
            Token *next = after->next;
            if (next && next != end && token_is(next, "#if")) {
                t = next;
                continue;
            }
            if (!next || next == end || !(next->kind & TOKEN_OPEN_BRACE)) {
                print_error_on_token(after, "else statements cannot contain a condition.");
                return nullptr;
            }
            if (!*chosen) *chosen = next;
            after = next->partner->next;
        }
        break;
    }
    return after ? after : end;
}

static Token *parse_struct_static_if(Struct_Parse *p, Layout *layout, Token *t, Token *end) {
    Token *chosen;
    Token *after = choose_static_if_block(p->members, t, end, &chosen);
    if (!after) return nullptr;
    if (chosen) {
        if (!compiler_enter_nesting(chosen)) return nullptr;
        bool ok = parse_struct_body(p, layout, chosen->next, chosen->partner);
        compiler_leave_nesting();
        if (!ok) return nullptr;
    }
    return after;
}

static bool parse_struct_body(Struct_Parse *p, Layout *layout, Token *first, Token *end) {
    Token *t = first;
    while (t && t != end) {
        bool is_using = false, is_as = false;
        if (token_is(t, "#if")) {
            t = parse_struct_static_if(p, layout, t, end);
            if (!t) return false;
            continue;
        }
        if (token_is(t, "else")) {
            print_error_on_token(t, "This else statement does not seem to be part of any #if statement.");
            return false;
        }
        if (token_is(t, "#struct") || token_is(t, "#union")) {
            bool is_union = token_is(t, "#union");
            Token *block = t->next;
            if (!block || block == end || !(block->kind & TOKEN_OPEN_BRACE)) {
                print_error_on_token(t, is_union ? "Expected a block associated with this #union directive." : "Expected a block associated with this #struct directive.");
                return false;
            }
            // The block is placed as a unit; its members read as the struct's own.
            Layout inner = {0, 1, 0, is_union};
            u32 first_member = (u32)p->members->variables.count;
            if (!compiler_enter_nesting(block)) return false;
            bool ok = parse_struct_body(p, &inner, block->next, block->partner);
            compiler_leave_nesting();
            if (!ok) return false;
            u32 offset;
            layout_place(layout, align_up(inner.size, inner.alignment), inner.alignment, &offset);
            // Members of a nested #struct are one alternative of the enclosing
            // #union; members of a #union are each their own. Each member keeps
            // every union around it, so alternatives of outer unions still exclude.
            u32 i = 0;
            for (Bucket_Iterator it = bucket_iterate(&p->members->variables); it.element; bucket_iterator_next(&it), i++) {
                if (i < first_member) continue;
                Identifier *m = (Identifier *)it.element;
                m->offset += offset;
                if (!is_union) {
                    m->union_pending = block;
                    continue;
                }
                Union_Step *step = (Union_Step *)arena_allocate(sizeof(Union_Step));
                step->union_block = block;
                step->alternative = m->union_pending ? m->union_pending : m->name_token;
                step->outer = nullptr;
                Union_Step **tail = &m->union_path;
                while (*tail) tail = &(*tail)->outer;
                *tail = step;
                m->union_pending = nullptr;
            }
            t = block->partner->next;
            if (t && t != end && (t->kind & TOKEN_SEMICOLON)) t = t->next;
            continue;
        }
        while (t && t != end && (token_is(t, "#using") || token_is(t, "#as"))) {
            if (token_is(t, "#using")) is_using = true;
            else is_as = true;
            t = t->next;
        }
        if (!t || t == end) {
            print_error_on_token(first, "In a struct you can only declare variables and constants. All declarations must end with a ';'.");
            return false;
        }
        bool anonymous_block = token_is(t, "#struct") || token_is(t, "#union");
        if ((t->kind & TOKEN_DIRECTIVE) && !((is_using || is_as) && anonymous_block)) {
            print_error_on_token(t, "Directive '%s' is unknown or not supported here.", token_to_c_string(t));
            return false;
        }
        if (!(t->kind & (TOKEN_DOLLAR | TOKEN_IDENTIFIER))) {
            if (anonymous_block) {
                print_error_on_token(t, is_as ? "#as must be used on variable, non-anonymous struct members." : "#using must be used on non-anonymous struct members.");
                return false;
            }
            if ((is_using || is_as) && (t->kind & TOKEN_OPEN_BRACE)) {
                print_error_on_token(t, is_as ? "#as must be used on variable, non-anonymous struct members." : "#using must be used on non-anonymous struct members.");
            } else {
                print_error_on_token(t, "In a struct you can only declare variables and constants. All declarations must end with a ';'.");
            }
            return false;
        }
        t = parse_struct_member_declaration(p, layout, t, end, is_using, is_as);
        if (!t) return false;
    }
    return true;
}

static bool build_struct(Identifier *id, Scope *declaring_scope, Token *open, Scope *members) {
    members->owner = id;
    id->member_scope = members;
    Struct_Parse p = {id, members, nullptr};
    Layout layout = {0, 1, 0, false};
    if (!parse_struct_body(&p, &layout, open->next, open->partner)) return false;
    id->alignment = layout.alignment;
    id->size = align_up(layout.size, layout.alignment);
    (void)declaring_scope;
    return true;
}

static bool parse_polymorphic_parameters(Scope *scope, Token *open, Polymorphic_Struct *poly) {
    if (open->partner == open->next) {
        print_error_on_token(open, "Did you forget to set parameters for this polymorphic struct?");
        return false;
    }
    u32 capacity = 0;
    for (Token *t = open->next; t != open->partner; t = token_skip(t)) capacity += (t->kind & TOKEN_COMMA) ? 1 : 0;
    poly->parameters = (Parameter *)arena_allocate(sizeof(Parameter) * (capacity + 1));
    Token *t = open->next;
    while (t != open->partner) {
        Token *stop = get_first_token_like_bounded(t, TOKEN_COMMA, open->partner);
        if (!stop) stop = open->partner;
        if (t == stop) {
            print_error_on_token(t, "Is this an extraneous ','?");
            return false;
        }
        if (!(t->kind & TOKEN_DOLLAR)) {
            print_error_on_token(t, "The parameters of a polymorphic struct must be constant.");
            return false;
        }
        Token *name = t->next;
        if (!name || name == stop || !(name->kind & TOKEN_IDENTIFIER)) {
            print_error_on_token(name && name != stop ? name : t, "Expected an identifier but got '%s' instead.", name && name != stop ? token_to_c_string(name) : "");
            return false;
        }
        Token *colon = name->next;
        if (colon == stop) {
            print_error_on_token(name, "The type of this parameter cannot be infered as no value is assigned to it.");
            return false;
        }
        if (!(colon->kind & TOKEN_COLON)) {
            print_error_on_token(colon, "Expected ':' but got '%s' instead.", token_to_c_string(colon));
            return false;
        }
        Parameter *param = &poly->parameters[poly->num_parameters++];
        memset(param, 0, sizeof *param);
        param->name = name;
        param->is_constant = true;
        Token *equal = get_first_operator_like_bounded(colon->next, OP_ASSIGN, stop);
        if (equal && equal->op != OP_ASSIGN) equal = nullptr;
        Token *type_end = equal ? equal : stop;
        if (colon->next != type_end) {
            if (!parse_type(scope, &param->type, colon->next, type_end)) return false;
        }
        if (equal) {
            param->value_first = equal->next;
            param->value_end = stop;
        }
        if (!param->type && !equal) {
            print_error_on_token(name, "The type of this parameter cannot be infered as no value is assigned to it.");
            return false;
        }
        t = stop == open->partner ? stop : stop->next;
        if (stop != open->partner && t == open->partner) {
            print_error_on_token(stop, "Is this an extraneous ','?");
            return false;
        }
    }
    return true;
}

bool parse_struct_declaration(Scope *scope, Identifier *id) {
    Compiler_State *s = &global_compiler_state;
    Token *directive = id->kind_token;
    Token *open = directive->next;
    Token *end = id->semicolon;
    bool polymorphic = open && open != end && (open->kind & TOKEN_OPEN_PARENTHESIS);
    if (!(id->flags & IDENTIFIER_CONSTANT)) {
        print_error_on_token(id->name_token, polymorphic ? "A polymorphic struct type must be constant. Did you forget to mark '%s' as constant?"
                                                         : "A struct type must be constant. Did you forget to mark '%s' as constant?",
                             token_to_c_string(id->name_token));
        return false;
    }
    Token *body = polymorphic ? open->partner->next : open;
    if (!body || body == end || !(body->kind & TOKEN_OPEN_BRACE)) {
        print_error_on_token(body && body != end ? body : directive,
                             "The compiler expected a block that contains the struct layout but it got '%s' instead.",
                             body && body != end ? token_to_c_string(body) : "");
        return false;
    }
    if (body->partner->next != end) {
        print_error_on_token(body->partner->next, "This is unexpected.");
        return false;
    }
    id->flags |= IDENTIFIER_IS_TYPE | TYPE_STRUCT;
    id->type = s->type_Type;
    id->constant.kind = CONSTANT_TYPE;
    id->constant.type_value = id;
    id->leaf_type = id;
    if (polymorphic) {
        Polymorphic_Struct *poly = (Polymorphic_Struct *)arena_allocate(sizeof(Polymorphic_Struct));
        memset(poly, 0, sizeof *poly);
        poly->declaring_scope = scope;
        poly->body = body;
        if (!parse_polymorphic_parameters(scope, open, poly)) return false;
        id->polymorphic = poly;
        id->flags |= IDENTIFIER_POLYMORPHIC;
        return true;
    }
    return build_struct(id, scope, body, _add_a_scope(scope, 0));
}

Identifier *make_struct_from_polymorphic_using_arguments(Identifier *poly_id, Constant *arguments, Token *where) {
    Compiler_State *s = &global_compiler_state;
    Polymorphic_Struct *poly = poly_id->polymorphic;
    String name = arena_format_string("%.*s(", (int)poly_id->name_length, (const char *)poly_id->name);
    for (u32 i = 0; i < poly->num_parameters; i++) {
        String a = (arguments[i].kind & CONSTANT_TYPE) ? type_to_string(arguments[i].type_value)
                                                       : constant_to_string(&arguments[i], poly->parameters[i].type);
        name = arena_format_string("%.*s%s%.*s", (int)name.count, name.data, i ? ", " : "", (int)a.count, a.data);
    }
    name = arena_format_string("%.*s)", (int)name.count, name.data);
    for (u32 i = 0; i < poly->num_instances; i++) {
        Identifier *instance = poly->instances[i];
        if (instance->name_length == name.count && memcmp(instance->name, name.data, (size_t)name.count) == 0) return instance;
    }
    Scope *members = _add_a_scope(poly->declaring_scope, 0);
    for (u32 i = 0; i < poly->num_parameters; i++) {
        Parameter *param = &poly->parameters[i];
        Identifier *arg = add_identifier(members, param->name->text, param->name->length, IDENTIFIER_KIND_POLYMORPHIC_ARGUMENT,
                                         make_trace_from_token(param->name));
        arg->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT;
        arg->constant = arguments[i];
        arg->type = (arguments[i].kind & CONSTANT_TYPE) ? s->type_Type : param->type ? param->type : s->type_s64;
    }
    Identifier *instance = add_identifier(poly->declaring_scope == s->global_scope ? members : members, name.data, name.count,
                                          IDENTIFIER_KIND_CONSTANT, poly_id->declaration);
    // The instance is listed in its own member scope only so it has a home;
    // it is found again through the polymorphic struct's instance list.
    instance->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT | IDENTIFIER_IS_TYPE | TYPE_STRUCT;
    instance->flags |= poly_id->flags & (TYPE_ARRAY_STRUCT | TYPE_FIXED_SIZE_ARRAY | IDENTIFIER_CODE_TYPE);
    instance->type = s->type_Type;
    instance->constant.kind = CONSTANT_TYPE;
    instance->constant.type_value = instance;
    instance->leaf_type = instance;
    instance->instance_of = poly_id;
    if (poly->num_instances == poly->capacity) {
        u32 capacity = poly->capacity ? poly->capacity * 2 : 4;
        Identifier **grown = (Identifier **)arena_allocate(sizeof(Identifier *) * capacity);
        if (poly->num_instances) memcpy(grown, poly->instances, sizeof(Identifier *) * poly->num_instances);
        poly->instances = grown;
        poly->capacity = capacity;
    }
    poly->instances[poly->num_instances++] = instance;
    if (!compiler_enter_nesting(where)) return nullptr;
    bool ok = build_struct(instance, poly->declaring_scope, poly->body, members);
    compiler_leave_nesting();
    if (!ok) return nullptr;
    return instance;
}

Identifier *make_struct_from_polymorphic(Scope *scope, Identifier *poly_id, Token *open) {
    Compiler_State *s = &global_compiler_state;
    Polymorphic_Struct *poly = poly_id->polymorphic;
    Constant *arguments = (Constant *)arena_allocate(sizeof(Constant) * (poly->num_parameters + 1));
    bool *set = (bool *)arena_allocate(poly->num_parameters + 1, 1);
    memset(set, 0, poly->num_parameters + 1);
    u32 position = 0;
    Token *t = open->next;
    while (t && t != open->partner) {
        Token *stop = get_first_token_like_bounded(t, TOKEN_COMMA, open->partner);
        if (!stop) stop = open->partner;
        if (t == stop) {
            print_error_on_token(t, "Is this an extraneous ','?");
            return nullptr;
        }
        u32 index = position;
        Token *value_first = t;
        if ((t->kind & TOKEN_IDENTIFIER) && t->next && t->next != stop && (t->next->kind & TOKEN_BINARY_OPERATOR) && t->next->op == OP_ASSIGN) {
            index = ~0u;
            for (u32 i = 0; i < poly->num_parameters; i++) {
                if (token_string(poly->parameters[i].name).count == t->length && memcmp(poly->parameters[i].name->text, t->text, (size_t)t->length) == 0) index = i;
            }
            if (index == ~0u) {
                print_error_on_token(t, "There is no polymorphic parameter named '%s' in struct '%s'.", token_to_c_string(t), type_to_c_string(poly_id));
                return nullptr;
            }
            value_first = t->next->next;
        } else {
            position++;
        }
        if (index >= poly->num_parameters) {
            print_error_on_token(t, "Polymorphic '%s' has only %lld parameters.", type_to_c_string(poly_id), (long long)poly->num_parameters);
            return nullptr;
        }
        if (set[index]) {
            print_error_on_token(t, "It looks like polymorphic parameter '%s' is already set.", token_to_c_string(poly->parameters[index].name));
            return nullptr;
        }
        Value v = {};
        Parameter *param = &poly->parameters[index];
        if (param->type == s->type_Type || !param->type) {
            Token *p = value_first;
            bool type_syntax = p != stop && (p->kind & (TOKEN_AT | TOKEN_OPEN_BRACKET));
            if (type_syntax) {
                Identifier *type;
                if (!parse_type(scope, &type, value_first, stop)) return nullptr;
                make_constant_value_from_type(&v, type);
            } else if (!parse_assignment_value(scope, param->type, value_first, stop, &v)) {
                return nullptr;
            }
        } else if (!parse_assignment_value(scope, param->type, value_first, stop, &v)) {
            return nullptr;
        }
        if (!value_is_constant(&v)) {
            print_error_on_token(value_first, "This expression does not appear to be constant.");
            return nullptr;
        }
        value_set_default_type(&v);
        arguments[index] = v.constant;
        set[index] = true;
        t = stop == open->partner ? stop : stop->next;
    }
    for (u32 i = 0; i < poly->num_parameters; i++) {
        if (set[i]) continue;
        Parameter *param = &poly->parameters[i];
        if (!param->value_first) {
            print_error_on_token(open, "Parameter '%s' does not have a default value.", token_to_c_string(param->name));
            return nullptr;
        }
        Value v = {};
        if (!parse_assignment_value(poly->declaring_scope, param->type, param->value_first, param->value_end, &v)) return nullptr;
        value_set_default_type(&v);
        arguments[i] = v.constant;
    }
    return make_struct_from_polymorphic_using_arguments(poly_id, arguments, open);
}
