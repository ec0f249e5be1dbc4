// Struct and array constants laid out byte for byte in the constant data
// section, as the program will read them. Addresses inside that data (a
// String's bytes, an array's elements, a sub-program's code, a type's
// information record) are written as zero and recorded as relocations.
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"

static void add_relocation(u64 at, u64 target) {
    Dynamic_Array *list = &global_compiler_state.constant_relocations;
    if (list->element_size == 0) dynamic_array_init(list, sizeof(Constant_Relocation), 64);
    Constant_Relocation *r = (Constant_Relocation *)dynamic_array_add(list);
    memset(r, 0, sizeof *r);
    r->at = at;
    r->target = target;
}

static void write_integer(u64 at, u64 bits, u32 size) {
    u8 *p = global_compiler_state.constant_data + at;
    for (u32 i = 0; i < size && i < 8; i++) p[i] = (u8)(bits >> (8 * i));
}

static Identifier *member_named(Identifier *structure, const char *name) {
    return get_identifier_in_scope(structure->member_scope, (const u8 *)name, (s64)strlen(name));
}

static bool write_constant(u64 at, Identifier *type, const Constant *c, u32 data_alignment);

// The elements of an array constant, placed on their own; returns their offset.
static bool place_elements(Identifier *element, const Constant *c, u32 data_alignment, u64 *out) {
    u32 alignment = element->alignment ? element->alignment : 1;
    if (data_alignment > alignment) alignment = data_alignment;
    u64 stride = element->size;
    if (element->alignment > 1) stride = (stride + element->alignment - 1) & ~(u64)(element->alignment - 1);
    u64 base = allocate_constant_data(stride * c->item_count, alignment);
    if (base == ~0ull) return false;
    memset(global_compiler_state.constant_data + base, 0, (size_t)(stride * c->item_count));
    for (u32 i = 0; i < c->item_count; i++) {
        if (!write_constant(base + stride * i, element, &c->items[i], 0)) return false;
    }
    *out = base;
    return true;
}

// Writes constant `c` of `type` at offset `at` of the section (already zeroed).
static bool write_constant(u64 at, Identifier *type, const Constant *c, u32 data_alignment) {
    Compiler_State *s = &global_compiler_state;
    if (!type) return true;
    Identifier *t = (type->flags & TYPE_ENUM) && type->pointer_depth == 0 && type->base_type ? type->base_type : type;
    if (t->pointer_depth > 0 || (t->flags & TYPE_SUB_PROGRAM) || (t->flags & TYPE_TYPE)) {
        // Constant addresses are plain numbers; types and sub-programs get
        // their addresses when the program is loaded, through a relocation.
        if (c->kind & CONSTANT_INTEGER) write_integer(at, c->u, 8);
        if ((c->kind & (CONSTANT_SUB_PROGRAM | CONSTANT_TYPE)) && c->type_value) {
            add_relocation(at, 0);
            Constant_Relocation *r = dynamic_array_at<Constant_Relocation>(&s->constant_relocations, s->constant_relocations.count - 1);
            if (c->kind & CONSTANT_SUB_PROGRAM) r->target_sub_program = c->type_value;
            else r->target_type = c->type_value;
        }
        return true;
    }
    if (t->flags & TYPE_REAL) {
        if (t->size == 4) {
            f32 f = (f32)c->f;
            memcpy(s->constant_data + at, &f, 4);
        } else {
            memcpy(s->constant_data + at, &c->f, 8);
        }
        return true;
    }
    if (t->flags & TYPE_INTEGER) {
        write_integer(at, c->u, t->size);
        return true;
    }
    if (t->flags & IDENTIFIER_STRING_TYPE) {
        if (c->string.count > 0 || c->string.data) add_relocation(at, c->data_offset);
        write_integer(at + 8, (u64)c->string.count, 8);
        return true;
    }
    if (!(t->flags & TYPE_STRUCT) || !t->member_scope || !(c->kind & CONSTANT_AGGREGATE)) return true;
    if (t->flags & TYPE_ARRAY_STRUCT) {
        u64 elements = 0;
        if (c->item_count && !place_elements(t->element_type, c, data_alignment, &elements)) return false;
        Identifier *data = member_named(t, "data");
        Identifier *count = member_named(t, "count");
        Identifier *allocated = member_named(t, "allocated");
        if (data && c->item_count) add_relocation(at + data->offset, elements);
        if (count) write_integer(at + count->offset, c->item_count, 8);
        if (allocated) write_integer(at + allocated->offset, c->item_count, 8);
        return true;
    }
    u32 i = 0;
    for (Bucket_Iterator it = bucket_iterate(&t->member_scope->variables); it.element; bucket_iterator_next(&it), i++) {
        Identifier *m = (Identifier *)it.element;
        if (i >= c->item_count) break;
        const Constant *item = &c->items[i];
        if (m->flags & IDENTIFIER_EMBEDDED_ARRAY) {
            // The elements themselves live inside the struct.
            Identifier *element = m->type->element_type;
            u64 stride = element->size;
            if (element->alignment > 1) stride = (stride + element->alignment - 1) & ~(u64)(element->alignment - 1);
            if (!(item->kind & CONSTANT_AGGREGATE)) continue;
            for (u32 k = 0; k < item->item_count && k < m->type->max_count; k++) {
                if (!write_constant(at + m->offset + stride * k, element, &item->items[k], 0)) return false;
            }
            continue;
        }
        if (!write_constant(at + m->offset, m->type, item, 0)) return false;
    }
    return true;
}

bool place_constant_in_constant_data(Value *v, Token *where) {
    Compiler_State *s = &global_compiler_state;
    Constant *c = &v->constant;
    Identifier *type = v->type;
    if (!(c->kind & CONSTANT_AGGREGATE) || (c->kind & CONSTANT_IN_DATA) || !type) return true;
    u32 alignment = type->alignment ? type->alignment : 1;
    u64 at = allocate_constant_data(type->size, alignment);
    bool ok = at != ~0ull;
    if (ok) {
        memset(s->constant_data + at, 0, type->size);
        ok = write_constant(at, type, c, c->data_alignment);
    }
    if (!ok) {
        print_error_on_token(where, "The constant data section is full.");
        return false;
    }
    c->data_offset = at;
    c->kind |= CONSTANT_IN_DATA;
    return true;
}
