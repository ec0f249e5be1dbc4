// Virtual registers: the tables that hold them, views into them, their
// allocation hints and their lifetimes.
#include "compiler/back/ir.h"

IR_State ir_state;

static void *allocate_ir_page(u64 size) { return os_allocate_read_write(size); }

void ir_init() {
    _init_memory_pool(&ir_state.instructions_pool, sizeof(IR_Instruction), NUM_INSTRUCTIONS_PER_BUCKET,
                      NUM_INSTRUCTION_BUCKETS_PER_PAGE, nullptr, allocate_ir_page);
    dynamic_array_init(&ir_state.constant_registers, sizeof(Register), 256);
    dynamic_array_init(&ir_state.global_registers, sizeof(Register), 256);
    dynamic_array_init(&ir_state.call_registers, sizeof(Register), 256);
    dynamic_array_init(&ir_state.constant_relocations, sizeof(Relocation), 64);
    dynamic_array_init(&ir_state.global_relocations, sizeof(Relocation), 64);
    dynamic_array_init(&ir_state.sub_programs, sizeof(Identifier *), 64);
    ir_state.global_data = (u8 *)os_allocate_read_write(GLOBAL_DATA_BUCKET_SIZE);
    ir_state.machine_word_size = 8;
}

void ir_reset() {
    memory_pool_reset(&ir_state.instructions_pool);
    ir_state.instructions_bucket = nullptr;
    ir_state.constant_registers.count = 0;
    ir_state.global_registers.count = 0;
    ir_state.call_registers.count = 0;
    ir_state.constant_relocations.count = 0;
    ir_state.global_relocations.count = 0;
    ir_state.sub_programs.count = 0;
    if (ir_state.global_data) memset(ir_state.global_data, 0, ir_state.global_data_used);
    ir_state.global_data_used = 0;
}

// [SECTION] Lookup

static Dynamic_Array *table_of(Scope *scope, Register_Id id) {
    (void)scope;
    switch (id.pool) {
    case REGISTER_POOL_CONSTANT_DATA:
    case REGISTER_POOL_TYPE_DATA: return &ir_state.constant_registers;
    case REGISTER_POOL_GLOBAL_DATA: return &ir_state.global_registers;
    case REGISTER_POOL_STACK: return id.owner ? &id.owner->registers : nullptr;
    case REGISTER_POOL_CALL_DATA: return &ir_state.call_registers;
    default: return nullptr;
    }
}

Register *get_register(Scope *scope, Register_Id id) {
    if (!register_id_is_valid(id)) return nullptr;
    Dynamic_Array *table = table_of(scope, id);
    if (!table || id.index < 0 || (u32)id.index >= table->count) return nullptr;
    return dynamic_array_at<Register>(table, (u32)id.index);
}

Register_Id get_register_id(Register *record, u8 pool) {
    if (!record) return INVALID_REGISTER_ID;
    Register_Id id = {};
    id.owner = pool == REGISTER_POOL_STACK ? record->owner : nullptr;
    id.index = record->index;
    id.pool = pool;
    id.kind = record->kind;
    return id;
}

bool registers_match(Register_Id a, Register_Id b) {
    if (a.pool != b.pool || a.index != b.index || a.kind != b.kind) return false;
    return a.pool != REGISTER_POOL_STACK || a.owner == b.owner;
}

bool is_a_machine_register(Scope *scope, Register_Id id) {
    if (id.kind != REGISTER_KIND_STACK) return false;
    Register *r = get_register(scope, id);
    return r && r->in_machine_register;
}

u32 get_register_size(Scope *scope, Register_Id id) {
    Register *r = get_register(scope, id);
    return r ? r->size : 0;
}

// Follows views; `sum` gets the total of the view offsets.
static Register *resolve_views(Register_Id id, Register_Id *base, u64 *sum) {
    *sum = 0;
    Register *r = get_register(nullptr, id);
    u32 guard = 0;
    while (r && r->kind == REGISTER_KIND_VIEW && guard++ < 1u << 20) {
        *sum += r->view_offset;
        id = r->view_target;
        r = get_register(r->view_owner, id);
    }
    if (base) *base = id;
    return r;
}

Register_Id get_first_non_view_register(Scope *scope, Register_Id id, Scope **owner) {
    (void)scope;
    Register_Id base = INVALID_REGISTER_ID;
    u64 sum;
    Register *r = resolve_views(id, &base, &sum);
    if (!r) return INVALID_REGISTER_ID;
    if (owner) *owner = base.owner;
    return base;
}

static u64 offset_in(Register_Id id, u8 kind) {
    Register_Id base;
    u64 sum;
    Register *r = resolve_views(id, &base, &sum);
    if (!r || r->kind != kind) return 0;
    return r->offset + sum;
}

u64 get_register_offset_in_constant_data(Scope *, Register_Id id) { return offset_in(id, REGISTER_KIND_CONSTANT_DATA); }
u64 get_register_offset_in_type_data(Scope *, Register_Id id) { return offset_in(id, REGISTER_KIND_TYPE_DATA); }
u64 get_register_offset_in_global_data(Scope *, Register_Id id) { return offset_in(id, REGISTER_KIND_GLOBAL_DATA); }
u64 get_register_offset_in_stack_data(Scope *, Register_Id id) { return offset_in(id, REGISTER_KIND_STACK); }
u64 get_register_offset_in_call_data(Scope *, Register_Id id) { return offset_in(id, REGISTER_KIND_CALL_DATA); }

u8 *get_register_constant_data(Scope *, Register_Id id) {
    Register_Id base;
    u64 sum;
    Register *r = resolve_views(id, &base, &sum);
    if (!r || (r->kind != REGISTER_KIND_CONSTANT_DATA && r->kind != REGISTER_KIND_TYPE_DATA)) return nullptr;
    return global_compiler_state.constant_data + r->offset + sum;
}

u8 *get_register_global_data(Scope *, Register_Id id) {
    Register_Id base;
    u64 sum;
    Register *r = resolve_views(id, &base, &sum);
    if (!r || r->kind != REGISTER_KIND_GLOBAL_DATA) return nullptr;
    return ir_state.global_data + r->offset + sum;
}

// [SECTION] Allocation

Scope *get_register_owner_scope(Scope *scope) {
    for (Scope *s = scope; s;) {
        if ((s->flags & (SCOPE_SUB_PROGRAM_ROOT | SCOPE_ENTRY_POINT)) && !(s->flags & SCOPE_INLINED)) return s;
        // An inlined body's values live in the frame of the code it is inlined into.
        if ((s->flags & SCOPE_INLINED) && (s->flags & SCOPE_SUB_PROGRAM_ROOT) && s->call_site) s = s->call_site;
        else s = s->parent;
    }
    return nullptr;
}

static Register *add_record(Dynamic_Array *table) {
    if (table->element_size == 0) dynamic_array_init(table, sizeof(Register), 16);
    u32 index = table->count;
    Register *r = (Register *)dynamic_array_add(table);
    memset(r, 0, sizeof *r);
    r->index = (s32)index;
    return r;
}

static u8 hints_for_type(Identifier *type) {
    if (!type || type->size > ir_state.machine_word_size) return HINT_MEMORY;
    if (type->pointer_depth) return HINT_INTEGER_REGISTER;
    Identifier *view = (type->flags & TYPE_ENUM) && type->base_type ? type->base_type : type;
    if (view->flags & TYPE_INTEGER) return HINT_INTEGER_REGISTER;
    if (view->flags & TYPE_REAL) return HINT_FLOAT_REGISTER;
    // Types and sub-program addresses are word-sized scalars.
    if (view->flags & (TYPE_TYPE | TYPE_SUB_PROGRAM)) return HINT_INTEGER_REGISTER;
    return HINT_MEMORY;
}

static u64 align_up(u64 x, u64 a) { return a > 1 ? (x + a - 1) / a * a : x; }

Register_Id allocate_a_register(Scope *scope, u32 size, Identifier *type, u32 alignment) {
    if (!alignment) alignment = 1;
    Scope *owner = get_register_owner_scope(scope);
    if (owner) {
        Register *r = add_record(&owner->registers);
        r->kind = REGISTER_KIND_STACK;
        r->size = size;
        r->alignment = alignment;
        r->owner = owner;
        r->hints = hints_for_type(type);
        return get_register_id(r, REGISTER_POOL_STACK);
    }
    u64 offset = align_up(ir_state.global_data_used, alignment);
    if (offset + size > GLOBAL_DATA_BUCKET_SIZE) return INVALID_REGISTER_ID;
    Register *r = add_record(&ir_state.global_registers);
    r->kind = REGISTER_KIND_GLOBAL_DATA;
    r->size = size;
    r->alignment = alignment;
    r->offset = offset;
    r->data = ir_state.global_data + offset;
    ir_state.global_data_used = offset + size;
    return get_register_id(r, REGISTER_POOL_GLOBAL_DATA);
}

Register_Id make_constant_data_register(u64 offset, u32 size, u32 alignment, bool type_data) {
    Register *r = add_record(&ir_state.constant_registers);
    r->kind = type_data ? REGISTER_KIND_TYPE_DATA : REGISTER_KIND_CONSTANT_DATA;
    r->size = size;
    r->alignment = alignment ? alignment : 1;
    r->offset = offset;
    r->data = global_compiler_state.constant_data + offset;
    return get_register_id(r, type_data ? REGISTER_POOL_TYPE_DATA : REGISTER_POOL_CONSTANT_DATA);
}

Register_Id allocate_a_register_for_call_data(IR_Instruction *call, Identifier *callee, u32 size) {
    Register *r = add_record(&ir_state.call_registers);
    r->kind = REGISTER_KIND_CALL_DATA;
    r->size = size;
    r->alignment = callee && callee->signature ? callee->signature->block_alignment : 8;
    r->call = call;
    r->callee = callee;
    return get_register_id(r, REGISTER_POOL_CALL_DATA);
}

Register_Id allocate_within_register(Scope *scope, Register_Id id, u64 offset, u32 size, Identifier *type) {
    Register *target = get_register(scope, id);
    if (!target) return INVALID_REGISTER_ID;
    // A view lives in the table of the register it looks into, so that its
    // owner is the same scope.
    Dynamic_Array *table = table_of(scope, id);
    Register *r = add_record(table);
    target = get_register(scope, id); // the table may have moved
    r->kind = REGISTER_KIND_VIEW;
    r->size = size;
    r->alignment = type && type->alignment ? type->alignment : 1;
    r->view_owner = id.owner;
    r->view_target = id;
    r->view_offset = offset;
    r->owner = target->owner;
    r->hints = target->hints;
    Register_Id view = get_register_id(r, id.pool);
    view.owner = id.owner;
    view.kind = REGISTER_KIND_VIEW;
    return view;
}

Relocation *add_a_relocation(Scope *location_owner, Register_Id location, u64 location_offset, Scope *target_owner,
                             Register_Id target, u64 target_offset, bool in_constant_data) {
    Dynamic_Array *list = in_constant_data ? &ir_state.constant_relocations : &ir_state.global_relocations;
    Relocation *r = (Relocation *)dynamic_array_add(list);
    memset(r, 0, sizeof *r);
    r->location_owner = location_owner;
    r->location = location;
    r->location_offset = location_offset;
    r->target_owner = target_owner;
    r->target = target;
    r->target_offset = target_offset;
    r->section = location.pool;
    return r;
}

static Register *base_stack_register(Scope *scope, Register_Id id) {
    if (id.pool != REGISTER_POOL_STACK) return nullptr;
    Register_Id base;
    u64 sum;
    (void)scope;
    Register *r = resolve_views(id, &base, &sum);
    return r && r->kind == REGISTER_KIND_STACK ? r : nullptr;
}

void force_stay_alive(Scope *scope, Register_Id id) {
    Register *r = base_stack_register(scope, id);
    if (r) r->hints |= HINT_STAY_ALIVE;
}

void clear_and_set_allocation_hints(Scope *scope, Register_Id id, u8 hints) {
    Register *r = base_stack_register(scope, id);
    if (r) r->hints = hints;
}

// [SECTION] Lifetimes

static Scope *next_towards_owner(Scope *s) {
    if (s->flags & SCOPE_DEFERRED) return s->call_site ? s->call_site : s->parent;
    return s->parent;
}

void update_register_lifetime(Scope *owner, Register_Id id, IR_Instruction *instruction, Scope *current, bool track_loops) {
    if (id.pool != REGISTER_POOL_STACK) return;
    Scope *outermost_loop = nullptr;
    if (current != owner) {
        for (Scope *s = current; s && s != owner; s = next_towards_owner(s)) {
            if (s->flags & SCOPE_LOOP) outermost_loop = s;
        }
    }
    if (track_loops && outermost_loop) {
        Dynamic_Array *list = &outermost_loop->loop_registers;
        if (list->element_size == 0) dynamic_array_init(list, sizeof(Loop_Register), 8);
        bool present = false;
        for (u32 i = 0; i < list->count && !present; i++) {
            Loop_Register *l = dynamic_array_at<Loop_Register>(list, i);
            present = l->owner == owner && registers_match(l->id, id);
        }
        if (!present) *(Loop_Register *)dynamic_array_add(list) = Loop_Register{owner, id};
    }
    Register *r = base_stack_register(owner, id);
    if (!r) return;
    if (outermost_loop) r->loop_scope = outermost_loop;
    u32 point = instruction ? instruction->sequence : 0;
    if (r->use_count == 0) r->first_use = point;
    r->last_use = point;
    r->use_count++;
}

void maybe_update_register_lifetime(const IR_Operand *operand, IR_Instruction *instruction, Scope *current, bool track_loops) {
    if ((operand->kind != IR_OPERAND_REGISTER && operand->kind != IR_OPERAND_MEMORY) || !(operand->value_kind & VALUE_KIND_DYNAMIC)) return;
    update_register_lifetime(operand->reg.owner, operand->reg, instruction, current, track_loops);
}
