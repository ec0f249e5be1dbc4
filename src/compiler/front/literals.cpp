// Struct literals '{ ... }' and array literals '[ ... ]'. A literal made only
// of constants is a constant; its items are kept one per member or element.
//
// A literal with run-time items becomes a temporary: it starts from the
// constant part seen so far (the defaults and the constant items before the
// first run-time one), and each later item is stored into it in source order,
// right after it is computed.
#include "compiler/front/compiler.h"
#include "compiler/front/code_hooks.h"
#include "compiler/front/diagnostics.h"

// Splits the group opened by `open` at its top-level commas; returns the count.
static u32 split_items(Token *open, Token **firsts, Token **ends, u32 capacity, bool *empty_item) {
    u32 n = 0;
    *empty_item = false;
    if (open->partner == open->next) return 0;
    Token *t = open->next;
    for (;;) {
        Token *stop = get_first_token_like_bounded(t, TOKEN_COMMA, open->partner);
        if (!stop) stop = open->partner;
        if (t == stop) *empty_item = true;
        if (n < capacity) {
            firsts[n] = t;
            ends[n] = stop;
        }
        n++;
        if (stop == open->partner) break;
        t = stop->next;
        if (t == open->partner) break; // a trailing ',' is allowed
    }
    return n;
}

static u32 count_items(Token *open) {
    u32 n = 1;
    for (Token *t = open->next; t && t != open->partner; t = token_skip(t)) n += (t->kind & TOKEN_COMMA) ? 1 : 0;
    return n;
}

// The items of a literal's group, each as [first, end); false (reported) when
// an item is empty.
static bool split_literal_items(Token *open, Token ***firsts, Token ***ends, u32 *n) {
    u32 capacity = count_items(open);
    *firsts = (Token **)arena_allocate(sizeof(Token *) * capacity);
    *ends = (Token **)arena_allocate(sizeof(Token *) * capacity);
    bool empty_item;
    *n = split_items(open, *firsts, *ends, capacity, &empty_item);
    if (empty_item) {
        print_error_on_token(open, "This is unexpected. Did you forget a ';' or a ','?");
        return false;
    }
    return true;
}

// One item of a struct literal: the member it sets and, for a member brought in
// by #using on a struct value, its place inside the member that brought it.
struct Literal_Entry {
    u32 index;          // in the literal's struct
    u32 inner_index;    // in the brought-in struct, ~0u for a member of its own
    Identifier *via;    // the #using member, or null
    Identifier *original;
};

static u32 variable_index(Scope *members, Identifier *m) {
    u32 i = 0;
    for (Bucket_Iterator it = bucket_iterate(&members->variables); it.element; bucket_iterator_next(&it), i++) {
        if (it.element == m) return i;
    }
    return ~0u;
}

// Finds the #using member that brought `brought` in and the member it stands for.
static bool locate_brought_member(Identifier **member_list, u32 num_members, Identifier *brought, Literal_Entry *e) {
    Identifier *via = brought->using_source;
    if (!via || !via->type || via->type->pointer_depth || !via->type->member_scope) return false;
    Identifier *original = get_identifier_in_scope(via->type->member_scope, brought->name, brought->name_length);
    if (!original) return false;
    u32 inner = variable_index(via->type->member_scope, original);
    for (u32 m = 0; m < num_members && inner != ~0u; m++) {
        if (member_list[m] != via) continue;
        e->index = m;
        e->inner_index = inner;
        e->via = via;
        e->original = original;
        return true;
    }
    return false;
}

static u32 collect_union_steps(const Literal_Entry *e, Union_Step **steps, u32 capacity) {
    u32 n = 0;
    for (Union_Step *s = e->original->union_path; s && n < capacity; s = s->outer) steps[n++] = s;
    if (e->via) {
        for (Union_Step *s = e->via->union_path; s && n < capacity; s = s->outer) steps[n++] = s;
    }
    return n;
}

// Two items clash when some #union holds both but in different alternatives.
static bool entries_share_a_union(const Literal_Entry *a, const Literal_Entry *b) {
    Union_Step *sa[64], *sb[64];
    u32 na = collect_union_steps(a, sa, 64), nb = collect_union_steps(b, sb, 64);
    for (u32 i = 0; i < na; i++) {
        for (u32 j = 0; j < nb; j++) {
            if (sa[i]->union_block == sb[j]->union_block && sa[i]->alternative != sb[j]->alternative) return true;
        }
    }
    return false;
}

static u64 element_stride(Identifier *element) {
    u64 stride = element->size;
    if (element->alignment > 1) stride = (stride + element->alignment - 1) & ~(u64)(element->alignment - 1);
    return stride;
}

// Stores `v` into the member of type `type` at `offset` of the temporary `literal`.
static bool store_member(Scope *scope, Value *literal, u64 offset, Identifier *type, Value *v, Token *where) {
    if (!cast_value_in_scope(scope, v, type, where)) return false;
    Value destination = {};
    if (!code_generator.member(scope, literal, (u32)offset, type, &destination)) return false;
    return code_generator.assign(scope, &destination, v, where);
}

// A run-time array value copied element by element into a C-style array embedded at `offset`.
static bool store_embedded_elements(Scope *scope, Value *literal, u64 offset, Identifier *member, Value *array, u32 count, Token *where) {
    Compiler_State *s = &global_compiler_state;
    Identifier *element = member->type->element_type;
    u64 stride = element_stride(element);
    for (u32 k = 0; k < count && k < member->type->max_count; k++) {
        Value index = {}, item = {};
        make_constant_value_from_integer(&index, s->type_s64, k);
        item.type = element;
        if (!code_generator.index(scope, array, &index, &item)) return false;
        if (!store_member(scope, literal, offset + stride * k, element, &item, where)) return false;
    }
    return true;
}

bool parse_struct_literal(Scope *scope, Identifier *type, Token *open, Value *out) {
    if (!type) {
        print_error_on_token(open, "The compiler cannot infer the type of this struct literal.");
        return false;
    }
    if (type->polymorphic) {
        print_error_on_token(open, "You cannot make a struct litteral from a pure polymorphic struct type.");
        return false;
    }
    if (type->pointer_depth || !(type->flags & TYPE_STRUCT) || !type->member_scope || (type->flags & IDENTIFIER_STRING_TYPE)) {
        print_error_on_token(open, "Type '%s' is not a struct type so you cannot make a struct literal from it.", type_to_c_string(type));
        return false;
    }
    Bucket_Array *members = &type->member_scope->variables;
    u32 num_members = (u32)members->count;
    Identifier **member_list = (Identifier **)arena_allocate(sizeof(Identifier *) * (num_members + 1));
    u32 i = 0;
    for (Bucket_Iterator it = bucket_iterate(members); it.element; bucket_iterator_next(&it)) member_list[i++] = (Identifier *)it.element;

    Token **firsts, **ends;
    u32 n;
    if (!split_literal_items(open, &firsts, &ends, &n)) return false;
    Value default_value;
    make_default_constant_value(&default_value, type);
    Constant *items = default_value.constant.items;
    Literal_Entry *entries = (Literal_Entry *)arena_allocate(sizeof(Literal_Entry) * (n + 1));
    u32 num_entries = 0;
    bool all_constant = true;
    bool started = false; // a run-time item was met: `literal` is the temporary
    Value literal = {};
    u32 position = 0;
    for (u32 k = 0; k < n; k++) {
        Token *first = firsts[k];
        Literal_Entry e = {position, ~0u, nullptr, nullptr};
        if ((first->kind & TOKEN_IDENTIFIER) && first->next != ends[k] && (first->next->kind & TOKEN_BINARY_OPERATOR) && first->next->op == OP_ASSIGN) {
            e.index = ~0u;
            for (u32 m = 0; m < num_members; m++) {
                if (member_list[m]->name_length == first->length && memcmp(member_list[m]->name, first->text, (size_t)first->length) == 0) e.index = m;
            }
            Identifier *brought = e.index == ~0u ? get_identifier_in_scope(type->member_scope, first->text, first->length) : nullptr;
            if (brought && (brought->flags & IDENTIFIER_USING) && brought->using_source && brought->using_source->type &&
                brought->using_source->type->pointer_depth) {
                print_error_on_token(first, "Member '%s' cannot be initialised because it was introduced by a #using directive placed on a member which type refers to the memory address of a struct.",
                                     token_to_c_string(first));
                return false;
            }
            if (brought && (brought->flags & IDENTIFIER_USING)) locate_brought_member(member_list, num_members, brought, &e);
            if (e.index == ~0u) {
                print_error_on_token(first, "'%s' is not a member of struct %s.", token_to_c_string(first), type_to_c_string(type));
                return false;
            }
            first = first->next->next;
        } else {
            position++;
        }
        if (e.index >= num_members) {
            print_error_on_token(firsts[k], "Struct '%s' has only %u %s.", type_to_c_string(type), num_members, num_members == 1 ? "member" : "members");
            return false;
        }
        if (!e.original) e.original = member_list[e.index];
        for (u32 j = 0; j < num_entries; j++) {
            Literal_Entry *other = &entries[j];
            // Setting a whole member and a part of it brought in by #using also counts twice.
            bool same = other->index == e.index && (other->inner_index == e.inner_index || other->inner_index == ~0u || e.inner_index == ~0u);
            if (same) {
                Identifier *named = e.via ? e.original : member_list[e.index];
                print_error_on_token(firsts[k], "Member '%s' has already been set.", (const char *)arena_copy(identifier_name(named)).data);
                return false;
            }
        }
        for (u32 j = 0; j < num_entries; j++) {
            if (!entries_share_a_union(&entries[j], &e)) continue;
            print_error_on_token(firsts[k], "You cannot initialise struct member %s because it is part of a union and another member in that union has already been explicitly initialised.",
                                 (const char *)arena_copy(identifier_name(e.original)).data);
            return false;
        }
        entries[num_entries++] = e;
        Identifier *member = e.original;
        if (first->kind & TOKEN_QUESTION_MARK) continue; // '?' keeps the member's default
        Value v = {};
        if (member->flags & IDENTIFIER_EMBEDDED_ARRAY) {
            if (!(first->kind & TOKEN_OPEN_BRACKET)) {
                print_error_on_token(first, "Expected an array literal.");
                return false;
            }
            u32 count = count_items(first);
            if (first->partner != first->next && count > member->type->max_count) {
                print_error_on_token(first, "It looks like you are specifying too many items for this C-style array literal. The maximum is %'u.",
                                     (u32)member->type->max_count);
                return false;
            }
        }
        if (!parse_assignment_value(scope, member->type, first, ends[k], &v)) return false;
        if (!value_is_constant(&v) && code_generation_enabled()) {
            if (!started) {
                // The temporary starts from everything constant so far.
                literal = default_value;
                literal.type = type;
                literal.first = open;
                if (!code_generator.make_value_dynamic(scope, &literal)) return false;
                started = true;
            }
            u64 offset = e.via ? e.via->offset + member->offset : member->offset;
            if (member->flags & IDENTIFIER_EMBEDDED_ARRAY) {
                if (!store_embedded_elements(scope, &literal, offset, member, &v, count_items(first), first)) return false;
            } else if (!store_member(scope, &literal, offset, member->type, &v, first)) {
                return false;
            }
            all_constant = false;
        } else if (started) {
            u64 offset = e.via ? e.via->offset + member->offset : member->offset;
            if (member->flags & IDENTIFIER_EMBEDDED_ARRAY) {
                Value array = v;
                if (!code_generator.make_value_dynamic(scope, &array)) return false;
                if (!store_embedded_elements(scope, &literal, offset, member, &array, v.constant.item_count, first)) return false;
            } else if (!store_member(scope, &literal, offset, member->type, &v, first)) {
                return false;
            }
        } else if (!value_is_constant(&v)) {
            all_constant = false;
        } else if (e.inner_index == ~0u) {
            items[e.index] = v.constant;
        } else {
            // The default may share its items with the member's own default; copy before writing.
            Constant *outer = &items[e.index];
            if (!(outer->kind & CONSTANT_AGGREGATE) || e.inner_index >= outer->item_count) {
                all_constant = false;
                continue;
            }
            Constant *copy = (Constant *)arena_allocate(sizeof(Constant) * outer->item_count);
            memcpy(copy, outer->items, sizeof(Constant) * outer->item_count);
            copy[e.inner_index] = v.constant;
            outer->items = copy;
            outer->kind &= ~CONSTANT_IN_DATA;
        }
    }
    if (started) {
        *out = literal;
        out->type = type;
        out->first = open;
        out->last = open->partner;
        return true;
    }
    memset(out, 0, sizeof *out);
    out->type = type;
    out->first = open;
    out->last = open->partner;
    if (all_constant) {
        out->flags = VALUE_CONSTANT;
        out->constant = default_value.constant;
    }
    return true;
}

bool parse_array_literal(Scope *scope, Identifier *type, Token *open, Value *out) {
    if (!type) {
        print_error_on_token(open, "The compiler cannot infer the type of this array literal.");
        return false;
    }
    if (type->pointer_depth || !(type->flags & TYPE_ARRAY_STRUCT) || !type->element_type) {
        print_error_on_token(open, "Type '%s' is not an array type so you cannot make an array literal from it.", type_to_c_string(type));
        return false;
    }
    Token **firsts, **ends;
    u32 n;
    if (!split_literal_items(open, &firsts, &ends, &n)) return false;
    if ((type->flags & TYPE_FIXED_SIZE_ARRAY) && n > type->max_count) {
        print_error_on_token(open, "Array type '%s' can only hold up to %'lld %s but you are assigning %'lld %s.", type_to_c_string(type),
                             (long long)type->max_count, type->max_count == 1 ? "element" : "elements", (long long)n, n == 1 ? "element" : "elements");
        return false;
    }
    Constant *items = (Constant *)arena_allocate(sizeof(Constant) * (n ? n : 1));
    bool all_constant = true;
    bool started = false;
    Value literal = {};
    Compiler_State *s = &global_compiler_state;
    auto store = [&](u32 k, Value *v, Token *where) {
        Value index = {}, destination = {};
        make_constant_value_from_integer(&index, s->type_s64, k);
        destination.type = type->element_type;
        if (!cast_value_in_scope(scope, v, type->element_type, where)) return false;
        return code_generator.index(scope, &literal, &index, &destination) && code_generator.assign(scope, &destination, v, where);
    };
    for (u32 k = 0; k < n; k++) {
        Value v = {};
        if (!parse_assignment_value(scope, type->element_type, firsts[k], ends[k], &v)) return false;
        if (!value_is_constant(&v) && code_generation_enabled() && !started) {
            // The elements get storage of their own; the constant ones before are stored first.
            u32 capacity = (type->flags & TYPE_FIXED_SIZE_ARRAY) && type->max_count > n ? (u32)type->max_count : n;
            if (!code_generator.array_literal(scope, type, capacity, capacity, &literal)) return false;
            started = true;
            for (u32 j = 0; j < k; j++) {
                Value c = {};
                c.flags = VALUE_CONSTANT;
                c.type = type->element_type;
                c.constant = items[j];
                if (!store(j, &c, firsts[j])) return false;
            }
        }
        if (started) {
            if (!store(k, &v, firsts[k])) return false;
            all_constant = false;
        } else if (value_is_constant(&v)) {
            items[k] = v.constant;
        } else {
            all_constant = false;
        }
    }
    if (started) {
        *out = literal;
        out->type = type;
        out->first = open;
        out->last = open->partner;
        return true;
    }
    memset(out, 0, sizeof *out);
    out->type = type;
    out->first = open;
    out->last = open->partner;
    if (all_constant) {
        out->flags = VALUE_CONSTANT;
        out->constant.kind = CONSTANT_AGGREGATE;
        out->constant.items = items;
        out->constant.item_count = n;
        out->constant.size = type->size;
    }
    return true;
}
