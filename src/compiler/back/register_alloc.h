// Register allocation of one sub-program or entry block: every stack register
// gets a machine register or an offset in the stack frame, decided by one
// sorted sweep over the start and end points of the registers' lives.
//
// The sweep works on its own records (Register_Allocation), filled from the
// IR's register table before the sweep and copied back after it, so that it
// can be driven and tested without a compiled program.
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "compiler/back/ir.h" // HINT_*, MACHINE_REGISTER_*

constexpr u8 MACHINE_REGISTER_NONE = 0;

// Integer registers 8..15 and float registers 2..15 are handed out, highest
// first; the others are the back-end's scratch and convention registers.
constexpr u32 FIRST_ALLOCATABLE_INTEGER_REGISTER = 8;
constexpr u32 FIRST_ALLOCATABLE_FLOAT_REGISTER = 2;
constexpr u32 LAST_ALLOCATABLE_REGISTER = 15;

// One stack register as the sweep sees it.
struct Register_Allocation {
    u32 size;
    u32 alignment;
    u8 hints;
    u32 first_use; // sequence numbers, already extended for loops and stay-alive
    u32 last_use;
    // Results.
    u8 machine_register_class; // MACHINE_REGISTER_*
    u8 machine_register;       // 0..15
    bool in_machine_register;
    u64 offset;                // frame offset when in memory
};

// A place where the masks of the registers live at that moment are wanted
// (a call saves exactly those around itself).
struct Live_Point {
    u32 point;
    u16 integer_mask;
    u16 float_mask;
};

struct Free_Stack_Slot {
    u64 offset;
    s32 size;
};
struct Memory_Gap {
    u64 offset;
    u64 size;
};

enum : u8 {
    LIFETIME_START = 1,
    LIFETIME_POINT = 2, // a Live_Point
    LIFETIME_END = 3,
};
struct Lifetime_Event {
    u32 point;
    u8 kind;
    union {
        Register_Allocation *record;
        Live_Point *live;
    };
};

struct Allocation_State {
    u16 integer_mask; // bit n: machine register n holds a live value now
    u16 float_mask;
    Dynamic_Array free_slots;  // Free_Stack_Slot
    Dynamic_Array memory_gaps; // Memory_Gap
    u64 frame_size;
    u16 used_integer_mask; // every register the sub-program ever used (the prologue saves these)
    u16 used_float_mask;
    bool use_machine_registers; // false for the bytecode target: everything lives in the frame
    Dynamic_Array events;       // Lifetime_Event, reused between sub-programs
};

struct Grabbed_Register {
    u64 offset_or_register;
    u8 register_class; // MACHINE_REGISTER_NONE: a frame offset
    bool success;
};

void allocation_state_init(Allocation_State *state);
// Empties the state for the next sub-program, keeping the arrays' memory.
void allocation_state_reset(Allocation_State *state, bool use_machine_registers);
void allocation_state_free(Allocation_State *state);

bool sort_allocations_by_lifetime_asc(const void *a, const void *b);
// A machine register for the hints, or a released frame slot that fits.
Grabbed_Register try_to_grab_a_free_register(Allocation_State *state, u32 size, u32 alignment, u8 hints);
// An aligned place of `size` bytes inside one of the gaps, which are split
// around it; -1 when none fits.
s64 try_to_allocate_on_a_memory_gap(Dynamic_Array *gaps, u64 size, u64 alignment);
// Frame offset for a register in memory: a released slot, a gap, or new room
// at the end of the frame (whose alignment padding becomes a gap).
u64 allocate_in_frame(Allocation_State *state, u32 size, u32 alignment);

// Runs the sweep over `count` registers and the live points; fills each
// record's results and the state's frame size and used masks.
void allocate_registers(Allocation_State *state, Register_Allocation *records, u32 count, Live_Point *points,
                        u32 num_points);
