// The undo history: a flat list of records per file. Records older than ten
// minutes are dropped whenever one is added, and typed insertions that follow
// each other within half a second merge into one record.
#pragma once
#include "core/base.h"
#include "core/memory.h"

struct File;

enum Undo_Kind : u8 {
    UNDO_DELETION = 0,    // deletion: the removed bytes are kept
    UNDO_INSERTION = 1,   // change.length bytes were inserted
    UNDO_TYPED = 2,       // as insertion; may still merge with the next typed text
    UNDO_PADDING = 3,     // alignment padding: change.saved holds the Padding_Runs
    UNDO_REPLACEMENT = 4, // same-length rewrite: change.saved holds the old bytes
};

struct Undo_Record {
    u8 kind;
    u8 pad[7];
    u64 created;       // microseconds
    u64 cursor_before; // cursor to restore
    u64 offset;        // where the change starts
    union {
        struct {
            Allocation bytes;  // the deleted bytes
            u8 was_selection;  // 1 when the selection was deleted
            u8 pad[7];
        } deletion;
        struct {
            u64 length;
            union {
                u64 last_merge; // insertion and typed: microseconds of the last merge
                Allocation saved;
            };
        } change;
    };
};
static_assert(sizeof(Undo_Record) == 72);

// One run of spaces inserted by alignment, in the text as it is after the padding.
struct Padding_Run {
    u64 offset;
    u64 count;
};

constexpr u64 UNDO_EXPIRY_MICROSECONDS = 600000000; // older than this is dropped
constexpr u64 UNDO_MERGE_MICROSECONDS = 500000;     // typed text merges within this

void undo_free_all(File *file);
void undo_remove_expired(File *file, u64 now);

// Records an insertion the caller already made (nothing for length 0).
void add_text_insertion_undo(File *file, u64 offset, u64 length, u64 cursor_before, bool typed);
// Records padding described by `padding` (Padding_Runs); the record owns it.
u64 add_padding_undo(File *file, u64 offset, u64 length, u64 cursor_before, Allocation padding);
// Records a deletion of `count` bytes still present at `offset`.
void add_deletion_undo(File *file, u64 offset, u64 count, u64 cursor_before, bool was_selection);
// Records a same-length rewrite of `count` bytes still unchanged at `offset`.
void add_replacement_undo(File *file, u64 offset, u64 count, u64 cursor_before);

// Reverses the last record of the current file; false when there was none.
bool editor_undo();
bool editor_undo_file(File *file);
