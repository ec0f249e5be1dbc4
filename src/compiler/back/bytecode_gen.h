// Bytecode generation: the IR of every entry block and sub-program, lowered
// into one array, registers allocated per sub-program, jumps threaded and
// calls linked.
#pragma once
#include "compiler/back/bytecode.h"
#include "compiler/back/register_alloc.h"

struct IR_Instruction;

enum : u8 {
    ENTRY_FLAG_EVENTS = 1,
    ENTRY_FLAG_ON_LOAD = 2,
    ENTRY_FLAG_SYNTAX = 4,
};

struct Bytecode_State {
    Dynamic_Array instructions; // Bytecode_Instruction, the whole program
    Dynamic_Array starts;       // Sub_Program_Start
    // With ir_state.stream_bytecode: the sub-programs lowered as their bodies
    // were compiled, placed after the entry blocks at the end.
    Dynamic_Array stream;        // Bytecode_Instruction
    Dynamic_Array stream_starts; // Sub_Program_Start, positions in `stream`
    // Per sub-program scratch, reused.
    Dynamic_Array allocations;  // Register_Allocation
    Dynamic_Array allocated;    // Register * of each allocation
    Dynamic_Array live_points;  // Live_Point, one per call in sequence order
    Dynamic_Array loops;        // Loop_Interval: the span of each backward jump
    Dynamic_Array fixups;       // Jump_Fixup: jumps to labels not placed yet
    Dynamic_Array labels;       // Label_Entry
    Dynamic_Array outgoing_blocks; // Register *: argument blocks of this sub-program's calls
    u32 *label_slots;           // open addressing over `labels`, capacity a power of two
    u32 label_capacity;
    Allocation label_allocation;
    Allocation_State allocation;
    u32 sequence;
    u32 next_live_point;
    const u64 *foreign_hashes;  // name hashes of the foreign routines, id = index + 1
    u32 num_foreign_hashes;
    bool initialised;
};
extern Bytecode_State bytecode_state;

// The foreign routines' name hashes in table order (the editor sets them at
// start-up); without them every foreign call gets id 0.
void bytecode_set_foreign_routines(const u64 *hashes, u32 count);

// entry_positions: #on_load, #events, #syntax; flags: ENTRY_FLAG_*.
bool make_bytecode_from_state(u64 entry_positions[3], u8 *flags);
// One sub-program body or entry block (a register-owning scope) and every
// scope nested in it.
bool make_bytecode_for_scope(Scope *scope, bool is_sub_program, Dynamic_Array *bytecode);
// Lowers a sub-program whose body was just compiled into the stream (see
// IR_State::stream_bytecode); false (reported) on failure.
bool bytecode_stream_sub_program(Identifier *sub_program);
// Empties the stream (at the start of a compilation).
void bytecode_stream_reset();
