// The inner loops of search: finding a byte string, counting line breaks and
// spotting binary data, 32 bytes at a time where the processor has AVX2.
#include "shell/search.h"
#include <immintrin.h>

static bool scan_has_avx2() {
    static int known = -1;
    if (known < 0) known = __builtin_cpu_supports("avx2") ? 1 : 0;
    return known == 1;
}

__attribute__((target("avx2"))) static bool check_for_zeroes_avx2(const u8 *data, u64 size) {
    u64 i = 0;
    const __m256i zero = _mm256_setzero_si256();
    for (; i + 128 <= size; i += 128) {
        __m256i a = _mm256_loadu_si256((const __m256i *)(data + i));
        __m256i b = _mm256_loadu_si256((const __m256i *)(data + i + 32));
        __m256i c = _mm256_loadu_si256((const __m256i *)(data + i + 64));
        __m256i d = _mm256_loadu_si256((const __m256i *)(data + i + 96));
        __m256i m = _mm256_min_epu8(_mm256_min_epu8(a, b), _mm256_min_epu8(c, d));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(m, zero))) return true;
    }
    for (; i + 32 <= size; i += 32)
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_loadu_si256((const __m256i *)(data + i)), zero))) return true;
    for (; i < size; i++)
        if (data[i] == 0) return true;
    return false;
}

bool check_for_zeroes(const u8 *data, u64 size) {
    if (scan_has_avx2()) return check_for_zeroes_avx2(data, size);
    return memchr(data, 0, size) != nullptr;
}

// Candidates are positions where the needle's first and last bytes both
// match; only those are compared in full.
__attribute__((target("avx2"))) static s64 search_find_avx2(const u8 *text, u64 length, u64 from, const u8 *needle,
                                                            u64 n) {
    const __m256i first = _mm256_set1_epi8((char)needle[0]);
    const __m256i last = _mm256_set1_epi8((char)needle[n - 1]);
    u64 i = from;
    for (; i + n - 1 + 32 <= length; i += 32) {
        __m256i a = _mm256_loadu_si256((const __m256i *)(text + i));
        __m256i b = _mm256_loadu_si256((const __m256i *)(text + i + n - 1));
        u32 mask = (u32)_mm256_movemask_epi8(_mm256_and_si256(_mm256_cmpeq_epi8(a, first), _mm256_cmpeq_epi8(b, last)));
        while (mask) {
            u32 bit = (u32)__builtin_ctz(mask);
            if (n <= 2 || memcmp(text + i + bit + 1, needle + 1, n - 2) == 0) return (s64)(i + bit);
            mask &= mask - 1;
        }
    }
    for (; i + n <= length; i++)
        if (text[i] == needle[0] && memcmp(text + i, needle, n) == 0) return (s64)i;
    return -1;
}

s64 search_find(const u8 *text, u64 length, u64 from, const u8 *needle, u64 n) {
    if (n == 0 || from >= length || n > length - from) return -1;
    if (n == 1) {
        const u8 *p = (const u8 *)memchr(text + from, needle[0], length - from);
        return p ? p - text : -1;
    }
    if (scan_has_avx2()) return search_find_avx2(text, length, from, needle, n);
    const u8 *p = (const u8 *)memmem(text + from, length - from, needle, n);
    return p ? p - text : -1;
}

__attribute__((target("avx2"))) static u64 count_line_breaks_avx2(const u8 *text, u64 length) {
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i cr = _mm256_set1_epi8('\r');
    u64 count = 0, i = 0;
    // A CR counts unless an LF follows it: the LF of the pair counts instead.
    for (; i + 33 <= length; i += 32) {
        __m256i a = _mm256_loadu_si256((const __m256i *)(text + i));
        __m256i next = _mm256_loadu_si256((const __m256i *)(text + i + 1));
        u32 lfs = (u32)_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, lf));
        u32 crs = (u32)_mm256_movemask_epi8(_mm256_cmpeq_epi8(a, cr));
        u32 lf_next = (u32)_mm256_movemask_epi8(_mm256_cmpeq_epi8(next, lf));
        count += (u64)__builtin_popcount(lfs) + (u64)__builtin_popcount(crs & ~lf_next);
    }
    for (; i < length; i++) {
        if (text[i] == '\n') count++;
        else if (text[i] == '\r' && !(i + 1 < length && text[i + 1] == '\n')) count++;
    }
    return count;
}

u64 search_count_line_breaks(const u8 *text, u64 length) {
    if (scan_has_avx2()) return count_line_breaks_avx2(text, length);
    u64 count = 0;
    for (u64 i = 0; i < length; i++) {
        if (text[i] == '\n') count++;
        else if (text[i] == '\r' && !(i + 1 < length && text[i + 1] == '\n')) count++;
    }
    return count;
}

u32 search_text_for_matches(const u8 *text, u64 start, u64 end, u32 first_line, String needle, u32 file_index,
                            Dynamic_Array *matches, volatile u8 *keep_running) {
    if (needle.count <= 0 || end <= start) return 0;
    // Binary data ends the scan: nothing past a zero byte is searched.
    const u8 *zero = (const u8 *)memchr(text + start, 0, end - start);
    if (zero) end = (u64)(zero - text);
    u32 added = 0;
    u64 counted_to = start, line = first_line, line_start = start;
    while (line_start > 0 && text[line_start - 1] != '\n' && text[line_start - 1] != '\r') line_start--;
    u64 position = start;
    constexpr u64 CANCEL_CHECK_BYTES = 1 << 20;
    while (position < end) {
        if (keep_running && !__atomic_load_n(keep_running, __ATOMIC_RELAXED)) break;
        u64 window_end = end - position > CANCEL_CHECK_BYTES ? position + CANCEL_CHECK_BYTES + needle.count - 1 : end;
        if (window_end > end) window_end = end;
        s64 found = search_find(text, window_end, position, needle.data, (u64)needle.count);
        if (found < 0) {
            if (window_end >= end) break;
            position = window_end - (u64)needle.count + 1;
            continue;
        }
        u64 offset = (u64)found;
        u64 breaks = search_count_line_breaks(text + counted_to, offset - counted_to);
        if (breaks) {
            line += breaks;
            u64 s = offset;
            while (s > counted_to && text[s - 1] != '\n' && text[s - 1] != '\r') s--;
            line_start = s;
        }
        counted_to = offset;
        u64 line_end = offset;
        while (line_end < end && text[line_end] != '\n' && text[line_end] != '\r') line_end++;
        Search_Match *m = (Search_Match *)dynamic_array_add(matches);
        *m = Search_Match{offset, (u64)needle.count, file_index, (u32)line, line_start, line_end, line_start};
        added++;
        position = offset + (u64)needle.count;
    }
    return added;
}
