// Scopes and identifiers: making scopes, adding names and finding them by
// walking outwards. Long lists get a name index so that a global scope of
// hundreds of thousands of names is still searched in constant time; the
// index only ever answers "the oldest record of this name in this list",
// which is what the linear scan would find.
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"

constexpr u64 NAME_INDEX_THRESHOLD = 16;

static u64 hash_name(const u8 *name, s64 length) {
    u64 h = 14695981039346656037ull;
    for (s64 i = 0; i < length; i++) h = (h ^ name[i]) * 1099511628211ull;
    return h;
}

static bool name_equals(const Identifier *id, const u8 *name, s64 length) {
    return id->name_length == length && memcmp(id->name, name, (size_t)length) == 0;
}

static void name_index_put(Name_Index *index, Identifier *id) {
    u32 mask = index->capacity - 1;
    for (u32 i = (u32)hash_name(id->name, id->name_length) & mask;; i = (i + 1) & mask) {
        Identifier *slot = index->slots[i];
        if (!slot) {
            index->slots[i] = id;
            index->count++;
            return;
        }
        if (name_equals(slot, id->name, id->name_length)) return; // keep the oldest
    }
}

static void name_index_grow(Name_Index *index, Bucket_Array *list) {
    u32 capacity = index->capacity ? index->capacity * 2 : 64;
    index->slots = (Identifier **)arena_allocate(sizeof(Identifier *) * capacity);
    memset(index->slots, 0, sizeof(Identifier *) * capacity);
    index->capacity = capacity;
    index->count = 0;
    for (Bucket_Iterator it = bucket_iterate(list); it.element; bucket_iterator_next(&it)) {
        name_index_put(index, (Identifier *)it.element);
    }
}

// A name looked up through several scopes: its hash is computed once, on the
// first indexed list met.
struct Name_Lookup {
    const u8 *name;
    s64 length;
    u64 hash;
    bool hashed;
};

static Identifier *search_list(Bucket_Array *list, Name_Index *index, Name_Lookup *lookup) {
    if (!list->count) return nullptr;
    if (index->capacity) {
        if (!lookup->hashed) {
            lookup->hash = hash_name(lookup->name, lookup->length);
            lookup->hashed = true;
        }
        u32 mask = index->capacity - 1;
        for (u32 i = (u32)lookup->hash & mask;; i = (i + 1) & mask) {
            Identifier *slot = index->slots[i];
            if (!slot) return nullptr;
            if (name_equals(slot, lookup->name, lookup->length)) return slot;
        }
    }
    for (Bucket_Iterator it = bucket_iterate(list); it.element; bucket_iterator_next(&it)) {
        Identifier *id = (Identifier *)it.element;
        if (name_equals(id, lookup->name, lookup->length)) return id;
    }
    return nullptr;
}

Scope *_add_a_scope(Scope *parent, u32 flags) {
    Compiler_State *state = &global_compiler_state;
    // The pool hands out whole buckets; scopes are taken one by one from them.
    Bucket *bucket = state->scopes_bucket;
    if (!bucket || bucket->count >= state->scopes_pool.num_per_bucket) {
        bucket = memory_pool_allocate_bucket(&state->scopes_pool);
        state->scopes_bucket = bucket;
    }
    Scope *scope = (Scope *)bucket_element(bucket, state->scopes_pool.element_size, bucket->count++);
    memset(scope, 0, sizeof(Scope));
    if (state->last_scope) state->last_scope->next_made = scope;
    state->last_scope = scope;
    state->num_scopes++;

    scope->flags = flags;
    scope->parent = parent;
    bucket_array_init(&scope->variables, &state->identifiers_pool);
    bucket_array_init(&scope->constants, &state->identifiers_pool);
    bucket_array_init(&scope->parameters, &state->identifiers_pool);
    if (flags & SCOPE_INLINED) scope->inline_context = scope;
    if (!parent) return scope;
    if (!(flags & (SCOPE_ENTRY_POINT | SCOPE_SUB_PROGRAM_ROOT))) {
        if (parent->flags & SCOPE_INSIDE_SUB_PROGRAM) {
            scope->flags |= SCOPE_INSIDE_SUB_PROGRAM;
            scope->sub_program = parent->sub_program;
        }
        if (!(flags & SCOPE_INLINED) && (parent->flags & SCOPE_INLINED)) {
            scope->flags |= SCOPE_INLINED;
            scope->inline_context = parent->inline_context;
        }
    }
    scope->flags |= parent->flags & SCOPE_INHERITED;
    return scope;
}

Identifier *get_identifier_in_scope(Scope *scope, const u8 *name, s64 length) {
    if (length <= 0 || !scope) return nullptr;
    Name_Lookup lookup = {name, length, 0, false};
    Identifier *id = search_list(&scope->variables, &scope->index[0], &lookup);
    if (id) {
        __atomic_fetch_add(&id->use_count, 1, __ATOMIC_RELAXED);
        return id;
    }
    id = search_list(&scope->constants, &scope->index[1], &lookup);
    if (id) return id;
    return search_list(&scope->parameters, &scope->index[2], &lookup);
}

Identifier *get_identifier(Scope *scope, const u8 *name, s64 length) {
    if (length <= 0) return nullptr;
    Name_Lookup lookup = {name, length, 0, false};
    bool crossed = false;
    for (Scope *s = scope; s; s = s->parent) {
        if (!(crossed && s->parent)) {
            Identifier *id = search_list(&s->variables, &s->index[0], &lookup);
            if (id) {
                __atomic_fetch_add(&id->use_count, 1, __ATOMIC_RELAXED);
                return id;
            }
        }
        Identifier *id = search_list(&s->constants, &s->index[1], &lookup);
        if (id) return id;
        id = search_list(&s->parameters, &s->index[2], &lookup);
        if (id) return id;
        if (s->flags & SCOPE_SUB_PROGRAM_ROOT) crossed = true;
    }
    return nullptr;
}

Identifier *get_identifier_with_error(Scope *scope, Token *name, bool outer) {
    Scope *start = scope;
    if (outer) {
        if (!(scope->flags & SCOPE_INLINED) || !scope->inline_context) {
            print_error_on_token(name, "You can only explicitly access outer scope identifiers within inlined sub-programs.");
            return nullptr;
        }
        start = scope->inline_context->call_site;
    }
    Identifier *id = get_identifier(start, name->text, name->length);
    if (!id) {
        print_error_on_token(name, "'%s' was not previously declared.", token_to_c_string(name));
        return nullptr;
    }
    if ((id->flags & IDENTIFIER_PRE_DECLARED) && !(id->flags & IDENTIFIER_BEING_RESOLVED)) {
        if (!resolve_identifier(id)) return nullptr;
    }
    return id;
}

Identifier *add_identifier(Scope *scope, const u8 *name, s64 length, u32 kind, Trace declaration) {
    Bucket_Array *list;
    Name_Index *index;
    if (kind == IDENTIFIER_KIND_CONSTANT) {
        list = &scope->constants;
        index = &scope->index[1];
    } else if (kind == IDENTIFIER_KIND_VARIABLE) {
        list = &scope->variables;
        index = &scope->index[0];
    } else {
        list = &scope->parameters;
        index = &scope->index[2];
    }
    Identifier *id = (Identifier *)bucket_array_add(list);
    memset(id, 0, sizeof(Identifier));
    id->name = name;
    id->name_length = length;
    id->scope = scope;
    id->declaration = declaration;
    id->register_id = INVALID_REGISTER_ID;
    if (kind == IDENTIFIER_KIND_CONSTANT) id->flags |= IDENTIFIER_CONSTANT;
    if (index->capacity) {
        if ((index->count + 1) * 2 > index->capacity) name_index_grow(index, list);
        else name_index_put(index, id);
    } else if (list->count > NAME_INDEX_THRESHOLD) {
        name_index_grow(index, list);
    }
    return id;
}

Identifier *get_or_add_identifier(Scope *scope, Token *name, u32 kind) {
    Identifier *id = get_identifier(scope, name->text, name->length);
    if (id) return id;
    return add_identifier(scope, name->text, name->length, kind, make_trace_from_token(name));
}

Identifier *add_identifier_with_error(Scope *scope, Token *name, u32 kind) {
    Identifier *found = get_identifier(scope, name->text, name->length);
    if (found) {
        print_error_on_token(name, "'%s' is already declared.\n", token_to_c_string(name));
        print_note_on_trace(found->declaration, "This is the previous declaration.");
        return nullptr;
    }
    return add_identifier(scope, name->text, name->length, kind, make_trace_from_token(name));
}

Scope *get_first_loop_scope_from(Scope *scope) {
    for (Scope *s = scope; s; s = s->parent) {
        if (s->flags & SCOPE_LOOP) return s;
    }
    return nullptr;
}

u32 get_current_lifetime_id(Scope *scope) {
    u32 sum = 0;
    Scope *s = scope;
    while (s) {
        sum += s->lifetime_counter;
        if (s->flags & SCOPE_DEFERRED) s = s->call_site; // the owner that registered the block
        else if ((s->flags & SCOPE_SUB_PROGRAM_ROOT) && (s->flags & SCOPE_INLINED)) s = s->inline_context ? s->inline_context->call_site : nullptr;
        else if (s->flags & (SCOPE_ENTRY_POINT | SCOPE_SUB_PROGRAM_ROOT)) break;
        else s = s->parent;
    }
    return sum;
}
