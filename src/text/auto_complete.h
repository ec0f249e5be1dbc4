// Word completion from the words of every open file, without language
// knowledge: the typed word grows by the prefix all candidates share.
#pragma once
#include "core/base.h"

struct File;

struct Auto_Complete_Candidate {
    String best;       // the first candidate, cut to the prefix it shares with every later one
    u64 shortest;      // shortest candidate length seen
};

struct Auto_Complete_State {
    Auto_Complete_Candidate any;
    Auto_Complete_Candidate member; // candidates met after the same object and operator
    u8 seen_member;
    u8 seen_any;
};

// What the typed word follows: "name." or "name->", when it does.
struct Auto_Complete_Context {
    String object;   // empty when the word follows neither
    String accessor; // "." or "->"
};

// Merges one candidate (a word longer than the prefix that starts with it).
// `is_member` says it was met in the same member-access context.
void update_auto_complete_data(File *file, Auto_Complete_State *state, const u8 *candidate, u64 candidate_length,
                               bool is_member, u64 candidate_offset, const Auto_Complete_Context *context);

// Completes the word that ends at the cursor; returns the bytes inserted.
u64 auto_complete_text_before_cursor(File *file);
