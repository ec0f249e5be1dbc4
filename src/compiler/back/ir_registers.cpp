// Virtual registers: the tables that hold them, views into them, their
// allocation hints and their lifetimes.
#include "compiler/back/ir.h"

IR_State ir_state;
static void shared_clear();
bool ir_stream_next_compilation;

void ir_init() {
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
    shared_clear();
    ir_state.current_chunk = nullptr;
    ir_state.num_instructions = 0;
    ir_state.stream_bytecode = ir_stream_next_compilation;
    ir_stream_next_compilation = false;
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
    if (table->element_size == 0) dynamic_array_init(table, sizeof(Register), 64);
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

// [SECTION] Shared records
//
// A view into global or constant data, and a constant-data register, is
// only a description of bytes that do not move; one record serves every use
// of the same bytes, so the program-wide tables stay small.

struct Shared_Key {
    u8 pool;
    s32 target;  // views: the target's index; -1 for a constant-data register
    u64 offset;
    u32 size;
    u32 alignment;
};
struct Shared_Slot {
    Shared_Key key;
    s32 index; // in its table, -1 when the slot is empty
};
static Shared_Slot *shared_slots;
static u32 shared_capacity, shared_count;
static Allocation shared_allocation;

static u64 shared_hash(const Shared_Key &k) {
    u64 h = k.offset * 0x9E3779B97F4A7C15ull ^ ((u64)(u32)k.target << 20) ^ ((u64)k.size << 4) ^ k.pool ^ ((u64)k.alignment << 40);
    return h ^ (h >> 29);
}

static bool shared_equal(const Shared_Key &a, const Shared_Key &b) {
    return a.pool == b.pool && a.target == b.target && a.offset == b.offset && a.size == b.size && a.alignment == b.alignment;
}

static void shared_clear() {
    for (u32 i = 0; i < shared_capacity; i++) shared_slots[i].index = -1;
    shared_count = 0;
}

static Shared_Slot *shared_find(const Shared_Key &key) {
    if (shared_count * 2 >= shared_capacity) {
        Shared_Slot *old = shared_slots;
        u32 old_capacity = shared_capacity;
        Allocation old_allocation = shared_allocation;
        shared_capacity = old_capacity ? old_capacity * 2 : 1024;
        gp_allocate(&shared_allocation, sizeof(Shared_Slot) * shared_capacity);
        shared_slots = (Shared_Slot *)shared_allocation.memory;
        shared_clear();
        for (u32 i = 0; i < old_capacity; i++) {
            if (old[i].index < 0) continue;
            u32 at = (u32)shared_hash(old[i].key) & (shared_capacity - 1);
            while (shared_slots[at].index >= 0) at = (at + 1) & (shared_capacity - 1);
            shared_slots[at] = old[i];
            shared_count++;
        }
        if (old_allocation.size) gp_free(&old_allocation);
    }
    u32 at = (u32)shared_hash(key) & (shared_capacity - 1);
    while (shared_slots[at].index >= 0 && !shared_equal(shared_slots[at].key, key)) at = (at + 1) & (shared_capacity - 1);
    return &shared_slots[at];
}

Register_Id make_constant_data_register(u64 offset, u32 size, u32 alignment, bool type_data) {
    u8 pool = type_data ? REGISTER_POOL_TYPE_DATA : REGISTER_POOL_CONSTANT_DATA;
    Shared_Slot *slot = shared_find(Shared_Key{pool, -1, offset, size, alignment ? alignment : 1});
    if (slot->index >= 0) return get_register_id(dynamic_array_at<Register>(&ir_state.constant_registers, (u32)slot->index), pool);
    slot->key = Shared_Key{pool, -1, offset, size, alignment ? alignment : 1};
    slot->index = (s32)ir_state.constant_registers.count;
    shared_count++;
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
    Shared_Slot *slot = nullptr;
    Shared_Key key = {id.pool, id.index, offset, size, type && type->alignment ? type->alignment : 1};
    if (id.pool == REGISTER_POOL_GLOBAL_DATA || id.pool == REGISTER_POOL_CONSTANT_DATA || id.pool == REGISTER_POOL_TYPE_DATA) {
        slot = shared_find(key);
        if (slot->index >= 0) {
            Register_Id view = get_register_id(dynamic_array_at<Register>(table_of(scope, id), (u32)slot->index), id.pool);
            view.owner = id.owner;
            view.kind = REGISTER_KIND_VIEW;
            return view;
        }
    }
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
    if (slot) {
        slot->key = key;
        slot->index = r->index;
        shared_count++;
    }
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
