// Line-break scanning in 32-byte blocks. Each block yields two bit masks (CR
// and LF); a CR always counts as a break and an LF counts unless a CR stands
// right before it, so CR LF is one break. A block without either byte costs
// one test; a block with breaks is counted with popcounts rather than walked.
#include "text/lines.h"
#include "text/file.h"
#include "text/text_state.h"
#include <immintrin.h>
#include <pthread.h>
#include <sched.h>

// [SECTION] Block masks

struct Block_Masks {
    u32 lf;
    u32 cr;
};

static inline Block_Masks block_masks_sse2(const u8 *p) {
    __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
    __m128i a = _mm_loadu_si128((const __m128i *)p), b = _mm_loadu_si128((const __m128i *)(p + 16));
    u32 lf_mask = (u32)_mm_movemask_epi8(_mm_cmpeq_epi8(a, lf)) | ((u32)_mm_movemask_epi8(_mm_cmpeq_epi8(b, lf)) << 16);
    u32 cr_mask = (u32)_mm_movemask_epi8(_mm_cmpeq_epi8(a, cr)) | ((u32)_mm_movemask_epi8(_mm_cmpeq_epi8(b, cr)) << 16);
    return {lf_mask, cr_mask};
}

__attribute__((target("avx2"), always_inline)) static inline Block_Masks block_masks_avx2(const u8 *p) {
    __m256i v = _mm256_loadu_si256((const __m256i *)p);
    u32 lf_mask = (u32)_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')));
    u32 cr_mask = (u32)_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')));
    return {lf_mask, cr_mask};
}

// Bits of the bytes that end a line in this block; `carry_cr` says the byte
// before the block was a CR.
static inline u32 break_bits(Block_Masks m, u32 carry_cr) { return m.cr | (m.lf & ~((m.cr << 1) | carry_cr)); }

static bool avx2_allowed = true;
void lines_allow_avx2(bool allow) { avx2_allowed = allow; }

static bool cpu_has_avx2() {
    static int known = -1;
    if (known < 0) known = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") ? 1 : 0;
    return known == 1 && avx2_allowed;
}

// [SECTION] Counting and finding lines

// The byte at `i` ends a line: a CR, or an LF that is not the second half of a CR LF.
static inline bool is_break_at(const u8 *text, u64 i) {
    return text[i] == '\r' || (text[i] == '\n' && !(i > 0 && text[i - 1] == '\r'));
}

// Offset just past the break whose last counted byte is at `i`.
static inline u64 past_break(const u8 *text, u64 length, u64 i) {
    return text[i] == '\r' && i + 1 < length && text[i + 1] == '\n' ? i + 2 : i + 1;
}

// Finds the block holding break number `wanted` (1-based) and returns the
// offset just past that break, or ~0 with the scan position and the breaks
// seen so far.
#define FIND_BREAK_BODY(MASKS)                                                          \
    u64 seen = 0, i = 0;                                                                \
    u32 carry = 0;                                                                      \
    for (; i + 32 <= length; i += 32) {                                                 \
        Block_Masks m = MASKS(text + i);                                                \
        if ((m.lf | m.cr) == 0) {                                                       \
            carry = 0;                                                                  \
            continue;                                                                   \
        }                                                                               \
        u32 bits = break_bits(m, carry);                                                \
        u64 n = (u64)__builtin_popcount(bits);                                          \
        if (seen + n >= wanted) {                                                       \
            for (u64 k = seen; k + 1 < wanted; k++) bits &= bits - 1;                   \
            return past_break(text, length, i + (u64)__builtin_ctz(bits));              \
        }                                                                               \
        seen += n;                                                                      \
        carry = m.cr >> 31;                                                             \
    }                                                                                   \
    *out_i = i;                                                                         \
    *out_seen = seen;                                                                   \
    return ~0ull;

__attribute__((target("avx2,popcnt,bmi"))) static u64 find_break_avx2(const u8 *text, u64 length, u64 wanted,
                                                                      u64 *out_i, u64 *out_seen) {
    FIND_BREAK_BODY(block_masks_avx2)
}
static u64 find_break_sse2(const u8 *text, u64 length, u64 wanted, u64 *out_i, u64 *out_seen) {
    FIND_BREAK_BODY(block_masks_sse2)
}

// Asking for a break past any there can be counts them all.
static u64 count_breaks(const u8 *text, u64 length) {
    if (!text || length == 0) return 0;
    u64 i = 0, breaks = 0;
    if (cpu_has_avx2()) find_break_avx2(text, length, ~0ull, &i, &breaks);
    else find_break_sse2(text, length, ~0ull, &i, &breaks);
    for (; i < length; i++) breaks += is_break_at(text, i);
    return breaks;
}

// A big text is counted in parts, one thread each, as many as the process
// may run at once (the first part on the calling thread). A CR ending one
// part and an LF starting the next were counted as two breaks: one goes.
namespace {
struct Count_Part {
    const u8 *text;
    u64 length, breaks;
};
}
static void *count_part(void *argument) {
    Count_Part *part = (Count_Part *)argument;
    part->breaks = count_breaks(part->text, part->length);
    return nullptr;
}

static u64 count_breaks_in_parts(const u8 *text, u64 length) {
    cpu_set_t set;
    u32 n = sched_getaffinity(0, sizeof set, &set) == 0 ? (u32)CPU_COUNT(&set) : 1;
    if (n > LINES_MAX_COUNTERS) n = LINES_MAX_COUNTERS;
    if (length < LINES_PARALLEL_FROM || n < 2) return count_breaks(text, length);
    Count_Part parts[LINES_MAX_COUNTERS];
    pthread_t threads[LINES_MAX_COUNTERS];
    bool started[LINES_MAX_COUNTERS] = {};
    u64 part_size = length / n;
    for (u32 i = 0; i < n; i++) {
        u64 from = (u64)i * part_size, to = i + 1 == n ? length : from + part_size;
        parts[i] = Count_Part{text + from, to - from, 0};
        if (i > 0) started[i] = pthread_create(&threads[i], nullptr, count_part, &parts[i]) == 0;
        if (i > 0 && !started[i]) count_part(&parts[i]);
    }
    count_part(&parts[0]);
    u64 breaks = 0;
    for (u32 i = 0; i < n; i++) {
        if (started[i]) pthread_join(threads[i], nullptr);
        breaks += parts[i].breaks;
        if (i > 0 && parts[i].text[0] == '\n' && parts[i].text[-1] == '\r') breaks--;
    }
    return breaks;
}

u64 count_lines_in(const u8 *text, u64 length) {
    u64 start = os_get_time_microseconds();
    u64 lines = 1 + (text && length ? count_breaks_in_parts(text, length) : 0);
    global_get_num_lines_time += os_get_time_microseconds() - start;
    return lines;
}

u64 get_offset_at_line(const u8 *text, u64 length, u64 line) {
    if (line <= 1 || !text || length == 0) return 0;
    u64 wanted = line - 1;
    u64 i = 0, seen = 0;
    u64 found = cpu_has_avx2() ? find_break_avx2(text, length, wanted, &i, &seen)
                               : find_break_sse2(text, length, wanted, &i, &seen);
    if (found != ~0ull) return found;
    for (; i < length; i++)
        if (is_break_at(text, i) && ++seen == wanted) return past_break(text, length, i);
    return length;
}

u64 get_offset_at_line_from_file(File *file, u64 line) {
    file = file_or_current(file);
    if (!file) return 0;
    return get_offset_at_line(file_text(file), file_length(file), line);
}

u64 get_line_start_at_line(File *file, u64 line) { return get_offset_at_line_from_file(file, line); }

// [SECTION] Around an offset

u64 get_line_start(const u8 *text, u64 offset) {
    while (offset > 0 && text[offset - 1] != '\r' && text[offset - 1] != '\n') offset--;
    return offset;
}

u64 get_line_end(const u8 *text, u64 length, u64 offset) {
    if (offset > length) offset = length;
    while (offset < length && text[offset] != '\r' && text[offset] != '\n') offset++;
    return offset;
}

String get_whitespace_at(File *file, u64 offset) {
    file = file_or_current(file);
    if (!file) return String{nullptr, 0};
    u8 *text = file_text(file);
    u64 length = file_length(file);
    if (offset > length) offset = length;
    u64 start = offset, end = offset;
    while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t')) start--;
    while (end < length && (text[end] == ' ' || text[end] == '\t')) end++;
    return String{text + start, (s64)(end - start)};
}

String get_whitespace_from(u64 offset, const u8 *text, u64 length) {
    if (offset > length) offset = length;
    u64 end = offset;
    while (end < length && (text[end] == ' ' || text[end] == '\t')) end++;
    return String{(u8 *)text + offset, (s64)(end - offset)};
}

u64 editor_get_line_at_offset(File *file, u64 offset) {
    file = file_or_current(file);
    if (!file) return 1;
    u8 *text = file_text(file);
    u64 length = file_length(file);
    if (offset > length) offset = length;
    u64 line = 1 + count_breaks(text, offset);
    if (offset > 0 && offset < length && text[offset - 1] == '\r' && text[offset] == '\n') line--;
    return line;
}

u8 *editor_get_text_at(File *file, u64 offset, u64 length) {
    file = file_or_current(file);
    if (!file || offset + length >= file_length(file) || offset + length < offset) return nullptr;
    // Temporary memory holds 10 MiB per thread; larger copies are refused.
    if (length > TEXT_AT_MAX_BYTES) {
        editor_report_error(S("The text asked for is too long to copy at once."));
        return nullptr;
    }
    u8 *copy = (u8 *)tmp_allocate(length + 1);
    memcpy(copy, file_text(file) + offset, length);
    copy[length] = 0;
    return copy;
}
