// Temporary formatting, case, search, natural ordering and full paths.
#include "core/strings.h"

#include <stdarg.h>
#include <stdlib.h>
#include <limits.h>
#include <stb/stb_sprintf.h>

// [SECTION] Formatting into temporary memory

// Reserves the whole budget whatever the result length, so a caller can rely
// on a fixed cost per call; output longer than the budget is cut, never spilled.
static String tstring_v(u64 budget, const char *format, va_list args) {
    char *buffer = (char *)tmp_allocate(budget);
    if (!buffer) return String{};
    int n = stbsp_vsnprintf(buffer, (int)budget, format, args);
    if (n < 0) n = 0;
    if ((u64)n >= budget) n = (int)budget - 1;
    return String{(u8 *)buffer, n};
}

String tstring(const char *format, ...) {
    va_list args;
    va_start(args, format);
    String s = tstring_v(1024, format, args);
    va_end(args);
    return s;
}

const char *tcstring(const char *format, ...) {
    va_list args;
    va_start(args, format);
    String s = tstring_v(1024, format, args);
    va_end(args);
    return s.data ? (const char *)s.data : "";
}

String tstring_small(const char *format, ...) {
    va_list args;
    va_start(args, format);
    String s = tstring_v(32, format, args);
    va_end(args);
    return s;
}

const char *tcstring_small(const char *format, ...) {
    va_list args;
    va_start(args, format);
    String s = tstring_v(64, format, args);
    va_end(args);
    return s.data ? (const char *)s.data : "";
}

String tstring_big(s64 value) {
    char *buffer = (char *)tmp_allocate(10240);
    if (!buffer) return String{};
    int n = stbsp_snprintf(buffer, 10240, "%lld", (long long)value);
    return String{(u8 *)buffer, n};
}

String string_concat2(const char *format, ...) {
    if (!format || !*format) return String{};
    va_list args;
    va_start(args, format);
    s64 total = 0;
    for (const char *c = format; *c; c++) {
        if (*c == '%') {
            String arg = va_arg(args, String);
            if (arg.count > 0) total += arg.count;
        } else {
            total++;
        }
    }
    va_end(args);

    u8 *out = (u8 *)tmp_allocate((u64)total + 1);
    if (!out) return String{};
    va_start(args, format);
    s64 at = 0;
    for (const char *c = format; *c; c++) {
        if (*c == '%') {
            String arg = va_arg(args, String);
            if (arg.count > 0) {
                memcpy(out + at, arg.data, (size_t)arg.count);
                at += arg.count;
            }
        } else {
            out[at++] = (u8)*c;
        }
    }
    va_end(args);
    return String{out, at};
}

int format_into(char *buffer, int size, const char *format, ...) {
    if (!buffer || size <= 0) return 0;
    va_list args;
    va_start(args, format);
    int n = stbsp_vsnprintf(buffer, size, format, args);
    va_end(args);
    if (n >= size) n = size - 1;
    return n < 0 ? 0 : n;
}

// `amount` counts millions; large ones read better as billions.
String tstring_grouped(s64 value) {
    // The formatter negates signed values, which the smallest one cannot survive.
    if (value < 0) return tstring_small("-%'llu", (unsigned long long)0 - (unsigned long long)value);
    return tstring_small("%'llu", (unsigned long long)value);
}

String money_to_string(s64 amount, bool is_signed) {
    // Compared on both sides: negating the most negative amount would overflow.
    if (amount > 999 || amount < -999) {
        f32 billions = (f32)amount / 1000.0f;
        return is_signed ? tstring_small("$%+'.1fB", (double)billions) : tstring_small("$%'.1fB", (double)billions);
    }
    return is_signed ? tstring_small("$%+'dM", (int)amount) : tstring_small("$%'dM", (int)amount);
}

const char *money_to_c_string(s64 amount, bool is_signed) {
    if (amount > 999) {
        f32 billions = (f32)amount / 1000.0f;
        return is_signed ? tcstring_small("$%+'.1fB", (double)billions) : tcstring_small("$%'.1fB", (double)billions);
    }
    return is_signed ? tcstring_small("$%+'dM", (int)amount) : tcstring_small("$%'dM", (int)amount);
}

const char *size_to_c_string(u64 n) {
    if (n == 1) return "1 byte";
    return tcstring_small("%llu bytes", (unsigned long long)n);
}

// [SECTION] Case and search

String string_to_lower_case(String s) {
    if (s.count <= 0) return String{};
    u8 *out = (u8 *)tmp_allocate((u64)s.count);
    if (!out) return String{};
    for (s64 i = 0; i < s.count; i++) {
        u8 c = s.data[i];
        out[i] = (c >= 'A' && c <= 'Z') ? (u8)(c + 32) : c;
    }
    return String{out, s.count};
}

bool string_contains_character(const u8 *data, s64 count, u8 byte) {
    return get_first_character_in_string_like(data, count, byte) != nullptr;
}

const u8 *get_first_character_in_string_like(const u8 *data, s64 count, u8 byte) {
    if (!data || count <= 0) return nullptr;
    return (const u8 *)memchr(data, byte, (size_t)count);
}

bool string_is_empty(String s) {
    if (s.count <= 0) return true;
    for (s64 i = 0; i < s.count; i++) {
        if (s.data[i] != ' ' && s.data[i] != '\t') return false;
    }
    return true;
}

bool string_starts_with(String s, String prefix) {
    if (prefix.count <= 0) return true;
    return s.count >= prefix.count && memcmp(s.data, prefix.data, (size_t)prefix.count) == 0;
}

bool string_ends_with(String s, String suffix) {
    if (suffix.count <= 0) return true;
    return s.count >= suffix.count && memcmp(s.data + s.count - suffix.count, suffix.data, (size_t)suffix.count) == 0;
}

String tcopy_string(String s) {
    if (s.count <= 0) return String{};
    u8 *out = (u8 *)tmp_allocate((u64)s.count);
    if (!out) return String{};
    memcpy(out, s.data, (size_t)s.count);
    return String{out, s.count};
}

// [SECTION] Ordering

static inline bool is_digit32(u32 c) { return c >= '0' && c <= '9'; }

s64 utf32_text_to_s64(const u32 *text, s64 byte_count) {
    char digits[32];
    s64 n = byte_count / 4;
    // A run longer than any s64 saturates in strtol anyway.
    if (n > (s64)sizeof(digits) - 1) n = (s64)sizeof(digits) - 1;
    if (n < 0) n = 0;
    for (s64 i = 0; i < n; i++) digits[i] = (char)(text[i] & 0xFF);
    digits[n] = 0;
    return (s64)strtol(digits, nullptr, 10);
}

bool string_sort_by_unicode_order_asc(String a, String b) {
    Tmp_Scope scope;
    s64 a_bytes = 0, b_bytes = 0;
    u32 *a32 = nullptr, *b32 = nullptr;
    if (a.count > 0) {
        a32 = (u32 *)tmp_allocate_aligned((u64)a.count * 4, 4);
        if (a32) a_bytes = utf8_to_utf32(a, a32);
    }
    if (b.count > 0) {
        b32 = (u32 *)tmp_allocate_aligned((u64)b.count * 4, 4);
        if (b32) b_bytes = utf8_to_utf32(b, b32);
    }
    s64 a_len = a_bytes / 4, b_len = b_bytes / 4;
    s64 i = 0, j = 0;
    while (i < a_len && j < b_len) {
        u32 ca = a32[i], cb = b32[j];
        bool da = is_digit32(ca), db = is_digit32(cb);
        if (!da && !db) {
            if (ca != cb) return ca < cb;
            i++, j++;
        } else if (da && !db) {
            return true;
        } else if (!da && db) {
            return false;
        } else {
            s64 ea = i, eb = j;
            while (ea < a_len && is_digit32(a32[ea])) ea++;
            while (eb < b_len && is_digit32(b32[eb])) eb++;
            s64 na = utf32_text_to_s64(a32 + i, (ea - i) * 4);
            s64 nb = utf32_text_to_s64(b32 + j, (eb - j) * 4);
            if (na != nb) return na < nb;
            i = ea, j = eb;
        }
    }
    return a_len < b_len;
}

// [SECTION] Paths

const char *to_tmp_c_string(String s) {
    s64 n = s.count > 0 ? s.count : 0;
    char *out = (char *)tmp_allocate((u64)n + 1);
    if (!out) return "";
    if (n) memcpy(out, s.data, (size_t)n);
    out[n] = 0;
    return out;
}

bool os_get_full_filepath(const u8 *path, s64 count, String *out_directory, String *out_name) {
    *out_directory = String{};
    *out_name = String{};
    if (!path || count <= 0) return false;
    const char *c_path = to_tmp_c_string(String{(u8 *)path, count});
    // An embedded NUL would silently name a different file.
    if ((s64)strlen(c_path) != count) return false;
    char *resolved = (char *)tmp_allocate(4096);
    if (!resolved || !realpath(c_path, resolved)) return false;

    s64 n = (s64)strlen(resolved);
    if (n == 0) return true;
    s64 separator = -1;
    for (s64 i = n - 1; i >= 0; i--) {
        if (resolved[i] == '/' || resolved[i] == '\\') {
            separator = i;
            break;
        }
    }
    if (separator < 0) {
        *out_name = String{(u8 *)resolved, n};
        return true;
    }
    *out_name = String{(u8 *)resolved + separator + 1, n - separator - 1};
    *out_directory = String{(u8 *)resolved, separator};
    if (n == 1) *out_directory = String{(u8 *)resolved, 1}; // the root names itself
    return true;
}
