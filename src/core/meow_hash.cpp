// Meow hash with AES-NI. The residual bytes are copied into a zeroed local
// block so that nothing past the input is ever read.
#include "core/meow_hash.h"

#include <immintrin.h>

#define MEOW_TARGET __attribute__((target("aes,ssse3,sse4.1")))

// Hexadecimal digits of pi, as bytes.
alignas(16) static const u8 MEOW_DEFAULT_SEED[128] = {
    0x32, 0x43, 0xF6, 0xA8, 0x88, 0x5A, 0x30, 0x8D, 0x31, 0x31, 0x98, 0xA2, 0xE0, 0x37, 0x07, 0x34,
    0x4A, 0x40, 0x93, 0x82, 0x22, 0x99, 0xF3, 0x1D, 0x00, 0x82, 0xEF, 0xA9, 0x8E, 0xC4, 0xE6, 0xC8,
    0x94, 0x52, 0x82, 0x1E, 0x63, 0x8D, 0x01, 0x37, 0x7B, 0xE5, 0x46, 0x6C, 0xF3, 0x4E, 0x90, 0xC6,
    0xCC, 0x0A, 0xC2, 0x9B, 0x7C, 0x97, 0xC5, 0x0D, 0xD3, 0xF8, 0x4D, 0x5B, 0x5B, 0x54, 0x70, 0x91,
    0x79, 0x21, 0x6D, 0x5D, 0x98, 0x97, 0x9F, 0xB1, 0xBD, 0x13, 0x10, 0xBA, 0x69, 0x8D, 0xFB, 0x5A,
    0xC2, 0xFF, 0xD7, 0x2D, 0xBD, 0x01, 0xAD, 0xFB, 0x7B, 0x8E, 0x1A, 0xFE, 0xD6, 0xA2, 0x67, 0xE9,
    0x6B, 0xA7, 0xC9, 0x04, 0x5F, 0x12, 0xC7, 0xF9, 0x92, 0x4A, 0x19, 0x94, 0x7B, 0x39, 0x16, 0xCF,
    0x70, 0x80, 0x1F, 0x2E, 0x28, 0x58, 0xEF, 0xC1, 0x66, 0x36, 0x92, 0x0D, 0x87, 0x15, 0x74, 0xE6,
};

// One absorb step with rotation r: lanes a=r, b=r+4, c=r+6, d=r+1, e=r+2.
// The DEC of b must see b before its XOR, and d before its own XOR.
MEOW_TARGET static inline void meow_absorb(__m128i *s, u32 r, __m128i m1, __m128i m2, __m128i m3, __m128i m4) {
    u32 a = r & 7, b = (r + 4) & 7, c = (r + 6) & 7, d = (r + 1) & 7, e = (r + 2) & 7;
    s[a] = _mm_aesdec_si128(s[a], s[b]);
    s[c] = _mm_add_epi64(s[c], m1);
    s[b] = _mm_xor_si128(s[b], m2);
    s[b] = _mm_aesdec_si128(s[b], s[d]);
    s[e] = _mm_add_epi64(s[e], m3);
    s[d] = _mm_xor_si128(s[d], m4);
}

// 32 input bytes as four overlapping loads; all stay inside the 32 bytes.
MEOW_TARGET static inline void meow_absorb_chunk(__m128i *s, u32 r, const u8 *p) {
    meow_absorb(s, r, _mm_loadu_si128((const __m128i *)(p + 15)), _mm_loadu_si128((const __m128i *)p),
                _mm_loadu_si128((const __m128i *)(p + 1)), _mm_loadu_si128((const __m128i *)(p + 16)));
}

// Finalisation step with rotation r: lanes a=r, b=r+1, c=r+2, d=r+4, e=r+5, f=r+6.
MEOW_TARGET static inline void meow_shuffle(__m128i *s, u32 r) {
    u32 a = r & 7, b = (r + 1) & 7, c = (r + 2) & 7, d = (r + 4) & 7, e = (r + 5) & 7, f = (r + 6) & 7;
    s[a] = _mm_aesdec_si128(s[a], s[d]);
    s[b] = _mm_add_epi64(s[b], s[e]);
    s[d] = _mm_xor_si128(s[d], s[f]);
    s[d] = _mm_aesdec_si128(s[d], s[b]);
    s[e] = _mm_add_epi64(s[e], s[f]);
    s[b] = _mm_xor_si128(s[b], s[c]);
}

MEOW_TARGET Meow_Hash meow_hash(const void *data, u64 size) {
    const u8 *in = (const u8 *)data;
    __m128i s[8];
    for (u32 i = 0; i < 8; i++) s[i] = _mm_load_si128((const __m128i *)(MEOW_DEFAULT_SEED + 16 * i));

    u64 num_blocks = size >> 8;
    for (u64 k = 0; k < num_blocks; k++) {
        const u8 *block = in + 256 * k;
        for (u32 r = 0; r < 8; r++) meow_absorb_chunk(s, r, block + 32 * r);
    }

    // The residual lanes are byte rotations of the padded 32-byte pair, not chunk loads.
    alignas(16) u8 padded[32] = {};
    u64 residual = size & 31;
    if (residual) memcpy(padded, in + size - residual, residual);
    __m128i lo = _mm_load_si128((const __m128i *)padded);
    __m128i hi = _mm_load_si128((const __m128i *)(padded + 16));
    meow_absorb(s, 0, _mm_alignr_epi8(lo, hi, 15), lo, _mm_alignr_epi8(lo, hi, 1), hi);

    __m128i zero = _mm_setzero_si128();
    meow_absorb(s, 1, zero, zero, _mm_set_epi64x(0, (long long)(size >> 8)), _mm_set_epi64x(0, (long long)size));

    u64 num_chunks = (size >> 5) & 7;
    const u8 *tail = in + 256 * num_blocks;
    for (u64 j = 0; j < num_chunks; j++) meow_absorb_chunk(s, (u32)(j + 2) & 7, tail + 32 * j);

    for (u32 i = 0; i < 12; i++) meow_shuffle(s, i & 7);

    s[0] = _mm_add_epi64(s[0], s[2]);
    s[1] = _mm_add_epi64(s[1], s[3]);
    s[4] = _mm_add_epi64(s[4], s[6]);
    s[5] = _mm_add_epi64(s[5], s[7]);
    s[0] = _mm_xor_si128(s[0], s[1]);
    s[4] = _mm_xor_si128(s[4], s[5]);
    s[0] = _mm_add_epi64(s[0], s[4]);

    Meow_Hash result;
    result.low = (u64)_mm_cvtsi128_si64(s[0]);
    result.high = (u64)_mm_extract_epi64(s[0], 1);
    return result;
}
