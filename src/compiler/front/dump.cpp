// Printed forms of a compilation for tools and tests: the global
// declarations of the user's files and the error reports.
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"
#include "compiler/front/dump.h"

static void append(Dynamic_Array *out, String s) { dynamic_array_append_bytes(out, s.data, (u32)s.count); }

static void dump_one(Dynamic_Array *out, Identifier *id) {
    String name = identifier_name(id);
    append(out, name);
    append(out, S(" : "));
    if (id->polymorphic) {
        append(out, S("polymorphic struct\n"));
    } else if (id->declaration_kind == DECLARATION_SUB_PROGRAM && (id->flags & IDENTIFIER_POLYMORPHIC)) {
        append(out, S("polymorphic sub-program\n"));
    } else if ((id->flags & IDENTIFIER_IS_TYPE) && (id->flags & TYPE_STRUCT) && id->member_scope) {
        append(out, arena_format_string("struct size %u align %u\n", id->size, id->alignment));
        for (Bucket_Iterator it = bucket_iterate(&id->member_scope->variables); it.element; bucket_iterator_next(&it)) {
            Identifier *m = (Identifier *)it.element;
            String t = type_to_string(m->type);
            append(out, arena_format_string("  .%.*s : %.*s @ %u\n", (int)m->name_length, (const char *)m->name, (int)t.count, t.data, m->offset));
        }
    } else if ((id->flags & IDENTIFIER_IS_TYPE) && (id->flags & TYPE_ENUM)) {
        String base = type_to_string(id->base_type);
        append(out, arena_format_string("enum %.*s\n", (int)base.count, base.data));
        for (Bucket_Iterator it = bucket_iterate(&id->member_scope->constants); it.element; bucket_iterator_next(&it)) {
            Identifier *m = (Identifier *)it.element;
            String v = constant_to_string(&m->constant, id);
            append(out, arena_format_string("  .%.*s = %.*s\n", (int)m->name_length, (const char *)m->name, (int)v.count, v.data));
        }
    } else if (id->declaration_kind == DECLARATION_SUB_PROGRAM) {
        append(out, type_to_string(id->type));
        append(out, S("\n"));
    } else {
        append(out, type_to_string(id->type));
        if ((id->flags & IDENTIFIER_CONSTANT) || (id->flags & IDENTIFIER_HAS_VALUE)) {
            append(out, S(" = "));
            append(out, constant_to_string(&id->constant, id->type));
        }
        append(out, S("\n"));
    }
}

String dump_globals() {
    Compiler_State *state = &global_compiler_state;
    Dynamic_Array out;
    dynamic_array_init(&out, 1, 1024);
    for (u32 i = 0; i < state->globals.count; i++) dump_one(&out, *dynamic_array_at<Identifier *>(&state->globals, i));
    String result = arena_copy(dynamic_array_as_string(&out));
    dynamic_array_free(&out);
    return result;
}

String format_compile_errors() {
    Dynamic_Array out;
    dynamic_array_init(&out, 1, 1024);
    for (u32 i = 0; i < compile_warnings.count; i++) append(&out, error_report_to_string(dynamic_array_at<Error_Report>(&compile_warnings, i)));
    for (u32 i = 0; i < compile_errors.count; i++) append(&out, error_report_to_string(dynamic_array_at<Error_Report>(&compile_errors, i)));
    String result = arena_copy(dynamic_array_as_string(&out));
    dynamic_array_free(&out);
    return result;
}
