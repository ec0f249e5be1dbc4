// Basic types shared by every part of Tarno: fixed-width integers, the String
// view and the one-byte spin lock.
#pragma once
#include <stdint.h>
#include <stddef.h>
#include <string.h>

typedef int8_t s8;
typedef int16_t s16;
typedef int32_t s32;
typedef int64_t s64;
typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef float f32;
typedef double f64;

// A counted view of UTF-8 bytes. Never owns its bytes, never NUL-terminated.
struct String {
    u8 *data;
    s64 count;
};

// View of a NUL-terminated literal or C text (no copy).
inline String S(const char *c_text) {
    return String{(u8 *)c_text, (s64)strlen(c_text)};
}
inline String make_string(const void *data, s64 count) {
    return String{(u8 *)data, count};
}
inline bool string_equal(String a, String b) {
    return a.count == b.count && (a.count == 0 || memcmp(a.data, b.data, (size_t)a.count) == 0);
}

#define ARRAY_COUNT(a) (sizeof(a) / sizeof((a)[0]))
#define KB(n) ((u64)(n) << 10)
#define MB(n) ((u64)(n) << 20)

// One-byte spin lock: acquire by CAS 0 -> 1, re-reading while held; release by
// exchanging back to 0.
inline void spin_lock(volatile u8 *lock) {
    for (;;) {
        u8 expected = 0;
        if (__atomic_compare_exchange_n(lock, &expected, (u8)1, false, __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) return;
        while (__atomic_load_n(lock, __ATOMIC_RELAXED)) __builtin_ia32_pause();
    }
}
inline void spin_unlock(volatile u8 *lock) {
    __atomic_exchange_n(lock, (u8)0, __ATOMIC_RELEASE);
}

inline u64 atomic_or(volatile u64 *word, u64 bits) { return __atomic_fetch_or(word, bits, __ATOMIC_SEQ_CST); }
inline u64 atomic_and(volatile u64 *word, u64 bits) { return __atomic_fetch_and(word, bits, __ATOMIC_SEQ_CST); }
inline u32 atomic_or32(volatile u32 *word, u32 bits) { return __atomic_fetch_or(word, bits, __ATOMIC_SEQ_CST); }
inline u32 atomic_and32(volatile u32 *word, u32 bits) { return __atomic_fetch_and(word, bits, __ATOMIC_SEQ_CST); }

// Microseconds of the monotonic clock.
u64 os_get_time_microseconds();
