// Running generated code: the entry call, and a guarded form that turns a
// fault or a run-away entry block into a report instead of a dead process,
// so the caller can drop the faulting layer and carry on.
#pragma once
#include "core/base.h"

// The editor file generated code is running for (null outside #syntax). Only
// its address passes through here; the text core defines the record.
struct File;
extern File *custom_layer_execution_file;

// Stores `file`, clears rax and calls `entry` (no arguments). Saves and
// restores every register the System V convention says a callee keeps
// (rbx, rbp, r12..r15), whatever the generated code does with them.
void amd64_execute(void *entry, File *file);

enum : u8 {
    FAULT_NONE = 0,
    FAULT_NULL_ADDRESS = 1,   // a read or write near address 0
    FAULT_BAD_ADDRESS = 2,    // any other unmapped or protected address
    FAULT_DIVISION = 3,       // integer division by zero or overflow
    FAULT_BAD_INDEX = 4,      // a failed bounds check (ud2 followed by TRAP_KIND_BAD_INDEX)
    FAULT_ILLEGAL_INSTRUCTION = 5,
    FAULT_DEBUG_BREAK = 6,    // int3
    FAULT_BUS = 7,
    FAULT_TIME_LIMIT = 8,     // the entry block ran longer than its limit
    FAULT_STACK_OVERFLOW = 9,
};

// The byte after a ud2 that generated code uses to say why it stopped. Each
// is a one-byte instruction of its own (hlt), so that a disassembler stays
// in step with the code that follows.
enum : u8 { TRAP_KIND_BAD_INDEX = 0xF4 };

struct Execution_Fault {
    u8 kind;          // FAULT_*
    int signal;
    void *address;    // the faulting data address (memory faults)
    void *instruction;
    s64 code_offset;  // of the instruction inside the image's code, -1 when outside
};

// Where the image's code lies, to tell its faults from the editor's own.
void execution_set_code_range(const void *code, u64 size);

// amd64_execute under fault handlers (on an alternate signal stack) and,
// when `time_limit_us` is non-zero, a per-thread timer. Returns false with
// `fault` filled when the code faulted or ran too long; the stack is then
// unwound back to here. A fault outside the image's code (inside the editor)
// is not caught: the process dies with its usual report.
bool amd64_execute_guarded(void *entry, File *file, u64 time_limit_us, Execution_Fault *fault);

// "null address read at 0x8 (code offset 0x1f)" and the like, in temporary memory.
String execution_fault_message(const Execution_Fault *fault);
