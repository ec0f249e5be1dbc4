#include "api8_layout.h"
#include <algorithm>
#include "compiler_test_util.h"
#include "compiler/front/compiler.h"

static std::string name_of(Identifier *id) { return std::string((const char *)id->name, (size_t)id->name_length); }

Api8 read_api8() {
    Api8 api;
    Compile_Result r = compile_text_keep("");
    api.ok = r.ok;
    api.errors = r.errors;
    if (!r.ok) return api;
    Compiler_State *s = &global_compiler_state;
    // Support-file globals are in the global scope's lists, not in the user's dump order.
    std::vector<Identifier *> globals;
    Bucket_Array *lists[2] = {&s->global_scope->constants, &s->global_scope->variables};
    for (Bucket_Array *list : lists)
        for (Bucket_Iterator it = bucket_iterate(list); it.element; bucket_iterator_next(&it)) globals.push_back((Identifier *)it.element);
    std::sort(globals.begin(), globals.end(), [](Identifier *a, Identifier *b) { return a->global_order < b->global_order; });
    for (Identifier *id : globals) {
        if (id->declaration_kind == DECLARATION_SUB_PROGRAM && (id->flags & SUB_PROGRAM_FOREIGN) && id->signature) {
            Api8_Routine routine;
            routine.name = name_of(id);
            routine.hash = id->constant.u;
            Signature *sig = id->signature;
            for (u32 p = 0; p < sig->num_parameters; p++)
                routine.parameters.push_back({sig->parameters[p].offset, sig->parameters[p].type->size});
            routine.has_result = sig->return_type != nullptr;
            routine.result = {sig->return_offset, sig->return_type ? sig->return_type->size : 0};
            api.routines.push_back(routine);
        } else if ((id->flags & IDENTIFIER_IS_TYPE) && (id->flags & TYPE_STRUCT) && id->member_scope && !id->polymorphic) {
            Api8_Record record;
            record.name = name_of(id);
            record.size = id->size;
            for (Bucket_Iterator it = bucket_iterate(&id->member_scope->variables); it.element; bucket_iterator_next(&it)) {
                Identifier *m = (Identifier *)it.element;
                record.members.push_back({name_of(m), {m->offset, m->type->size}});
            }
            api.records.push_back(record);
        }
    }
    return api;
}

const Api8_Record *api8_record(const Api8 &api, const std::string &name) {
    for (const Api8_Record &r : api.records)
        if (r.name == name) return &r;
    return nullptr;
}
