// Register allocation: machine registers as bit masks, the frame as a list of
// released slots, alignment gaps and a growing end.
#include "compiler/back/register_alloc.h"

void allocation_state_init(Allocation_State *state) {
    *state = {};
    dynamic_array_init(&state->free_slots, sizeof(Free_Stack_Slot), 16);
    dynamic_array_init(&state->memory_gaps, sizeof(Memory_Gap), 16);
    dynamic_array_init(&state->events, sizeof(Lifetime_Event), 256);
}

void allocation_state_reset(Allocation_State *state, bool use_machine_registers) {
    state->integer_mask = state->float_mask = 0;
    state->used_integer_mask = state->used_float_mask = 0;
    state->free_slots.count = 0;
    state->memory_gaps.count = 0;
    state->events.count = 0;
    state->frame_size = 0;
    state->use_machine_registers = use_machine_registers;
}

void allocation_state_free(Allocation_State *state) {
    dynamic_array_free(&state->free_slots);
    dynamic_array_free(&state->memory_gaps);
    dynamic_array_free(&state->events);
}

static u64 align_up(u64 value, u64 alignment) {
    if (alignment <= 1) return value;
    return (value + alignment - 1) / alignment * alignment;
}

bool sort_allocations_by_lifetime_asc(const void *a, const void *b) {
    const Lifetime_Event *x = (const Lifetime_Event *)a, *y = (const Lifetime_Event *)b;
    if (x->point != y->point) return x->point < y->point;
    if (x->kind != y->kind) return x->kind < y->kind;
    // Same point and kind: keep the registers' table order so that the
    // result does not depend on the sort.
    return (uintptr_t)x->record < (uintptr_t)y->record;
}

// Highest free register of [first, 15] in `mask`, or -1.
static s32 take_highest_free(u16 *mask, u16 *used, u32 first) {
    for (s32 r = (s32)LAST_ALLOCATABLE_REGISTER; r >= (s32)first; r--) {
        if (!(*mask & (1u << r))) {
            *mask |= (u16)(1u << r);
            *used |= (u16)(1u << r);
            return r;
        }
    }
    return -1;
}

Grabbed_Register try_to_grab_a_free_register(Allocation_State *state, u32 size, u32 alignment, u8 hints) {
    Grabbed_Register result = {};
    if (state->use_machine_registers && !(hints & HINT_MEMORY)) {
        if (hints & HINT_INTEGER_REGISTER) {
            s32 r = take_highest_free(&state->integer_mask, &state->used_integer_mask, FIRST_ALLOCATABLE_INTEGER_REGISTER);
            if (r >= 0) return {(u64)r, MACHINE_REGISTER_INTEGER, true};
        }
        if (hints & HINT_FLOAT_REGISTER) {
            s32 r = take_highest_free(&state->float_mask, &state->used_float_mask, FIRST_ALLOCATABLE_FLOAT_REGISTER);
            if (r >= 0) return {(u64)r, MACHINE_REGISTER_FLOAT, true};
        }
    }
    // A released slot: an exact fit is taken at once, else the smallest that
    // holds the request (the earliest of equal sizes).
    Free_Stack_Slot *slots = (Free_Stack_Slot *)state->free_slots.data;
    s64 best = -1;
    for (u32 i = 0; i < state->free_slots.count; i++) {
        Free_Stack_Slot *s = &slots[i];
        if (s->size < (s32)size || (alignment > 1 && s->offset % alignment)) continue;
        if (s->size == (s32)size) {
            best = i;
            break;
        }
        if (best < 0 || s->size < slots[best].size) best = i;
    }
    if (best < 0) return result;
    Free_Stack_Slot *s = &slots[best];
    result = {s->offset, MACHINE_REGISTER_NONE, true};
    if (s->size <= (s32)size) {
        dynamic_array_remove(&state->free_slots, (u32)best);
    } else {
        s->offset += size;
        s->size -= (s32)size;
    }
    return result;
}

static void add_gap(Dynamic_Array *gaps, u64 offset, u64 size) {
    Memory_Gap *g = (Memory_Gap *)dynamic_array_add(gaps);
    g->offset = offset;
    g->size = size;
}

s64 try_to_allocate_on_a_memory_gap(Dynamic_Array *gaps, u64 size, u64 alignment) {
    Memory_Gap *list = (Memory_Gap *)gaps->data;
    s64 chosen = -1;
    for (u32 i = 0; i < gaps->count; i++) {
        Memory_Gap *g = &list[i];
        if (g->size < size) continue;
        u64 aligned = align_up(g->offset, alignment);
        if (aligned > g->offset + g->size || g->offset + g->size - aligned < size) continue;
        if (g->size == size) {
            chosen = i;
            break;
        }
        if (chosen < 0 || g->size > list[chosen].size) chosen = i;
    }
    if (chosen < 0) return -1;
    Memory_Gap gap = list[chosen];
    dynamic_array_remove(gaps, (u32)chosen);
    if (gap.size == size) return (s64)gap.offset;
    u64 aligned = (u32)align_up(gap.offset, alignment); // offsets inside one frame fit 32 bits
    if (aligned > gap.offset) add_gap(gaps, gap.offset, aligned - gap.offset);
    u64 remaining = gap.size - (aligned - gap.offset);
    if (remaining > size) add_gap(gaps, aligned + size, remaining - size);
    return (s64)aligned;
}

u64 allocate_in_frame(Allocation_State *state, u32 size, u32 alignment) {
    Grabbed_Register slot = try_to_grab_a_free_register(state, size, alignment, HINT_MEMORY);
    if (slot.success) return slot.offset_or_register;
    s64 in_gap = try_to_allocate_on_a_memory_gap(&state->memory_gaps, size, alignment ? alignment : 1);
    if (in_gap >= 0) return (u64)in_gap;
    u64 offset = align_up(state->frame_size, alignment);
    if (offset > state->frame_size) add_gap(&state->memory_gaps, state->frame_size, offset - state->frame_size);
    state->frame_size = offset + size;
    return offset;
}

static void release(Allocation_State *state, Register_Allocation *r) {
    if (r->in_machine_register) {
        u16 bit = (u16)(1u << r->machine_register);
        if (r->machine_register_class == MACHINE_REGISTER_INTEGER) state->integer_mask &= (u16)~bit;
        else state->float_mask &= (u16)~bit;
        return;
    }
    if (r->size == 0) return;
    Free_Stack_Slot *s = (Free_Stack_Slot *)dynamic_array_add(&state->free_slots);
    s->offset = r->offset;
    s->size = (s32)r->size;
}

void allocate_registers(Allocation_State *state, Register_Allocation *records, u32 count, Live_Point *points,
                        u32 num_points) {
    state->events.count = 0;
    Lifetime_Event *events = (Lifetime_Event *)dynamic_array_add_fast_multiple(&state->events, count * 2 + num_points);
    u32 n = 0;
    for (u32 i = 0; i < count; i++) {
        Register_Allocation *r = &records[i];
        r->in_machine_register = false;
        r->machine_register_class = MACHINE_REGISTER_NONE;
        r->machine_register = 0;
        r->offset = 0;
        events[n].point = r->first_use;
        events[n].kind = LIFETIME_START;
        events[n++].record = r;
        events[n].point = r->last_use < r->first_use ? r->first_use : r->last_use;
        events[n].kind = LIFETIME_END;
        events[n++].record = r;
    }
    for (u32 i = 0; i < num_points; i++) {
        events[n].point = points[i].point;
        events[n].kind = LIFETIME_POINT;
        events[n++].live = &points[i];
    }
    general_quick_sort(events, n, sizeof(Lifetime_Event), sort_allocations_by_lifetime_asc);

    for (u32 i = 0; i < n; i++) {
        Lifetime_Event *e = &events[i];
        if (e->kind == LIFETIME_POINT) {
            e->live->integer_mask = state->integer_mask;
            e->live->float_mask = state->float_mask;
            continue;
        }
        Register_Allocation *r = e->record;
        if (e->kind == LIFETIME_END) {
            release(state, r);
            continue;
        }
        u32 alignment = r->alignment ? r->alignment : 1;
        if (!(r->hints & HINT_MEMORY) && (r->hints & HINT_USE_A_MACHINE_REGISTER)) {
            Grabbed_Register g = try_to_grab_a_free_register(state, r->size, alignment, r->hints & ~HINT_MEMORY);
            if (g.success && g.register_class != MACHINE_REGISTER_NONE) {
                r->in_machine_register = true;
                r->machine_register_class = g.register_class;
                r->machine_register = (u8)g.offset_or_register;
                continue;
            }
            if (g.success) { // no machine register left, but a released slot fitted
                r->offset = g.offset_or_register;
                continue;
            }
        }
        r->offset = allocate_in_frame(state, r->size, alignment);
    }
}
