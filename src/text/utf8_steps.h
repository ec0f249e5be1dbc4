// UTF-8 stepping as the editor counts characters: a lead byte gives the size
// of its sequence (clamped to the text); a byte that starts no sequence is
// stepped over alone and not counted as a character.
#pragma once
#include "core/base.h"

// Size of the sequence at `p` (1 for a byte that starts none), clamped to `remaining`.
// Returns true when the byte starts a character that counts.
inline bool utf8_step(const u8 *p, u64 remaining, u32 *out_step) {
    u8 c = p[0];
    u32 size = 1;
    bool counts = true;
    if (c < 0x80) size = 1;
    else if ((c & 0xE0) == 0xC0) size = 2;
    else if ((c & 0xF0) == 0xE0) size = 3;
    else if ((c & 0xF8) == 0xF0) size = 4;
    else counts = false;
    if (size > remaining) size = (u32)remaining;
    *out_step = size ? size : 1;
    return counts;
}

inline u64 utf8_count_characters(const u8 *p, u64 count) {
    u64 n = 0, i = 0;
    while (i < count) {
        u32 step;
        if (utf8_step(p + i, count - i, &step)) n++;
        i += step;
    }
    return n;
}

// Encodes a Unicode scalar value; 0 for anything else (surrogates, > U+10FFFF).
inline u32 utf8_encode(u32 cp, u8 out[4]) {
    if (cp < 0x80) {
        out[0] = (u8)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (u8)(0xC0 | (cp >> 6));
        out[1] = (u8)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    if (cp < 0x10000) {
        out[0] = (u8)(0xE0 | (cp >> 12));
        out[1] = (u8)(0x80 | ((cp >> 6) & 0x3F));
        out[2] = (u8)(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp > 0x10FFFF) return 0;
    out[0] = (u8)(0xF0 | (cp >> 18));
    out[1] = (u8)(0x80 | ((cp >> 12) & 0x3F));
    out[2] = (u8)(0x80 | ((cp >> 6) & 0x3F));
    out[3] = (u8)(0x80 | (cp & 0x3F));
    return 4;
}
