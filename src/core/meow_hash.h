// The 128-bit Meow hash (v0.5, default seed). Names are identified by the
// low 64 bits of the hash of their bytes.
#pragma once
#include "core/base.h"

struct Meow_Hash {
    u64 low;
    u64 high;
};

Meow_Hash meow_hash(const void *data, u64 size);
inline u64 meow_hash_u64(String s) { return meow_hash(s.data, s.count > 0 ? (u64)s.count : 0).low; }
inline bool meow_hash_equal(Meow_Hash a, Meow_Hash b) { return a.low == b.low && a.high == b.high; }
