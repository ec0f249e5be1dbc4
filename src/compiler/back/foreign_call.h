// Frames, register saving and the call sequences of generated code.
//
// Stack discipline: after every prologue rsp is 8 below a 16-byte boundary,
// so the foreign call's extra 8 bytes leave it aligned at the call into the
// editor. Entry blocks are entered from C (rsp 8 below a boundary) and so
// reserve a multiple of 16; sub-programs are entered from generated code
// (rsp on a boundary) and reserve 8 more.
//
// Frame, from rsp upwards: the stack registers (frame size), the area where
// registers live across a call are kept, then the registers the prologue saved.
#pragma once
#include "compiler/back/amd64.h"

constexpr u32 AMD64_FLOAT_SAVE_SIZE = 32; // whole ymm registers
// System V: rax, rcx, rdx, rsi, rdi, r8..r11 do not survive a call; every xmm neither.
constexpr u16 AMD64_CALLER_SAVED_INTEGER_MASK = 0x0FC7;

struct Amd64_Frame {
    u32 frame_size;          // the stack registers
    u16 saved_integer_mask;  // registers the prologue saves and the epilogue restores
    u16 saved_float_mask;
    u32 call_save_offset;    // where registers live across calls are kept
    u32 saved_offset;        // where the prologue's registers go
    u32 total;               // what sub rsp reserves
};

u32 amd64_spill_size(u16 integer_mask, u16 float_mask);
// `call_integer_mask`/`call_float_mask`: the most any call of the body keeps.
void amd64_frame_layout(Amd64_Frame *frame, u32 frame_size, u16 saved_integer_mask, u16 saved_float_mask,
                        u16 call_integer_mask, u16 call_float_mask, bool is_entry_block);

// Saves (or restores) the registers of the masks at [rsp + offset], integer
// registers 8 bytes each, float registers 32, scanning from 15 down to 0 and
// skipping those in the keep masks.
void amd64_big_spill(Amd64_Code *code, bool save, u16 integer_mask, u16 float_mask, u16 keep_integer_mask,
                     u16 keep_float_mask, u32 offset);

void amd64_push_stack_frame(Amd64_Code *code, const Amd64_Frame *frame); // sub rsp, total; save
void amd64_pop_stack_frame(Amd64_Code *code, const Amd64_Frame *frame);  // restore; add rsp, total
void amd64_copy_arguments_address(Amd64_Code *code);                      // mov rbp, rax

// The call into handle_foreign_call: keeps the live caller-saved registers,
// rdi = the argument block (0 without one), rsi = the routine id, rax = the
// relocated 64-bit address, and the call with rsp moved down by 8 around it.
void amd64_foreign_call(Amd64_Code *code, u32 routine_id, const Amd64_Operand *block, u16 live_integer_mask,
                        u16 live_float_mask, const Amd64_Frame *frame);
