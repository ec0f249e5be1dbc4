// UTF-8 stepping and UTF-8/16/32 conversion. Decoders trust the lead byte's
// declared length; the bulk converters check the text end themselves.
#include "core/strings.h"

// [SECTION] UTF-8 stepping

u32 get_utf8_char_size(const u8 *p) {
    u8 c = *p;
    if (c < 0x80) return 1;
    if ((c & 0xE0) == 0xC0) return 2;
    if ((c & 0xF0) == 0xE0) return 3;
    if ((c & 0xF8) == 0xF0) return 4;
    return 1;
}

static inline bool is_valid_lead(u8 c) {
    return c < 0x80 || (c & 0xE0) == 0xC0 || (c & 0xF0) == 0xE0 || (c & 0xF8) == 0xF0;
}

const u8 *utf8_get_next_character(const u8 *p, const u8 *end) {
    if (p >= end) return end;
    const u8 *next = p + get_utf8_char_size(p);
    return next > end ? end : next;
}

const u8 *utf8_get_previous_character(const u8 *p, const u8 *start) {
    if (p <= start) return start;
    p--;
    while (p > start && (*p & 0xC0) == 0x80) p--;
    return p;
}

s64 utf8_string_get_offset_at(String s, s64 n) {
    if (s.count <= 0 || n <= 0) return 0;
    const u8 *p = s.data, *end = s.data + s.count;
    for (s64 i = 0; i < n && p < end; i++) p = utf8_get_next_character(p, end);
    return p - s.data;
}

String get_utf8_sub_string(String s, s64 n) {
    return String{s.data, utf8_string_get_offset_at(s, n)};
}

s64 utf8_get_num_characters(String s) {
    s64 n = 0;
    const u8 *p = s.data, *end = s.data + (s.count > 0 ? s.count : 0);
    while (p < end) {
        if (is_valid_lead(*p)) n++;
        p = is_valid_lead(*p) ? utf8_get_next_character(p, end) : p + 1;
    }
    return n;
}

// [SECTION] Code points

u32 utf8_known_size_to_utf32_codepoint(const u8 *p, u32 size) {
    switch (size) {
    case 1: return p[0];
    case 2: return (u32)(p[0] & 0x1F) << 6 | (p[1] & 0x3F);
    case 3: return (u32)(p[0] & 0x0F) << 12 | (u32)(p[1] & 0x3F) << 6 | (p[2] & 0x3F);
    case 4: return (u32)(p[0] & 0x07) << 18 | (u32)(p[1] & 0x3F) << 12 | (u32)(p[2] & 0x3F) << 6 | (p[3] & 0x3F);
    }
    return REPLACEMENT_CHARACTER;
}

u32 utf8_to_utf32_codepoint_and_size(const u8 *p, u32 *out_size) {
    *out_size = 1;
    if (!is_valid_lead(*p)) return REPLACEMENT_CHARACTER;
    u32 size = get_utf8_char_size(p);
    *out_size = size;
    return utf8_known_size_to_utf32_codepoint(p, size);
}

u32 utf8_to_utf32_codepoint(const u8 *p) {
    u32 size;
    return utf8_to_utf32_codepoint_and_size(p, &size);
}

static u32 encode_utf8(u32 cp, u8 *out) {
    if (cp < 0x80) {
        out[0] = (u8)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (u8)(0xC0 | cp >> 6);
        out[1] = (u8)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (u8)(0xE0 | cp >> 12);
        out[1] = (u8)(0x80 | (cp >> 6 & 0x3F));
        out[2] = (u8)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (u8)(0xF0 | (cp >> 18 & 0x07));
    out[1] = (u8)(0x80 | (cp >> 12 & 0x3F));
    out[2] = (u8)(0x80 | (cp >> 6 & 0x3F));
    out[3] = (u8)(0x80 | (cp & 0x3F));
    return 4;
}

String utf32_to_utf8_codepoint(u32 cp) {
    u8 *out = (u8 *)tmp_allocate(4);
    if (!out) return String{};
    return String{out, encode_utf8(cp, out)};
}

String codepoint_to_string(u32 cp) { return utf32_to_utf8_codepoint(cp); }

void string_add_codepoint(String *s, u32 cp) {
    s->count += encode_utf8(cp, s->data + s->count);
}

s64 utf8_to_utf32(String s, u32 *out) {
    s64 written = 0, i = 0;
    while (i < s.count) {
        const u8 *p = s.data + i;
        u32 size = get_utf8_char_size(p);
        // An invalid or cut-off sequence: treat the rest as 8-bit text.
        if (!is_valid_lead(*p) || i + size > s.count) break;
        out[written++] = utf8_known_size_to_utf32_codepoint(p, size);
        i += size;
    }
    for (; i < s.count; i++) out[written++] = s.data[i];
    return written * 4;
}

// [SECTION] UTF-16

static inline bool is_high_surrogate(u32 u) { return u >= 0xD800 && u <= 0xDBFF; }
static inline bool is_low_surrogate(u32 u) { return u >= 0xDC00 && u <= 0xDFFF; }

static u32 encode_utf16(u32 cp, u16 *out) {
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
        cp -= 0x10000;
        out[0] = (u16)(0xD800 | cp >> 10);
        out[1] = (u16)(0xDC00 | (cp & 0x3FF));
        return 2;
    }
    out[0] = cp > 0xFFFF ? (u16)REPLACEMENT_CHARACTER : (u16)cp;
    return 1;
}

// Decodes one code point of a counted UTF-16 text; lone surrogates become U+FFFD.
static u32 decode_utf16(const u16 *p, s64 available, u32 *out_units) {
    *out_units = 1;
    u32 u = p[0];
    if (is_high_surrogate(u)) {
        if (available >= 2 && is_low_surrogate(p[1])) {
            *out_units = 2;
            return 0x10000 + ((u - 0xD800) << 10) + (p[1] - 0xDC00u);
        }
        return REPLACEMENT_CHARACTER;
    }
    if (is_low_surrogate(u)) return REPLACEMENT_CHARACTER;
    return u;
}

u32 utf16_to_utf32_codepoint(const u16 *p, u32 *out_units) {
    // A NUL after a high surrogate is not a low surrogate, so reading p[1] stays in bounds.
    return decode_utf16(p, is_high_surrogate(p[0]) ? 2 : 1, out_units);
}

// A sequence cut by the end of the text decodes as U+FFFD of one byte,
// checked before any continuation byte is read.
static u32 decode_utf8_bounded(const u8 *p, s64 available, u32 *out_size) {
    if (is_valid_lead(*p) && get_utf8_char_size(p) > available) {
        *out_size = 1;
        return REPLACEMENT_CHARACTER;
    }
    return utf8_to_utf32_codepoint_and_size(p, out_size);
}

String_Utf16 utf8_to_utf16(String s) {
    s64 n = s.count > 0 ? s.count : 0;
    // Every UTF-8 byte yields at most one UTF-16 unit.
    u16 *out = (u16 *)tmp_allocate_aligned((u64)(n + 1) * 2, 2);
    if (!out) return String_Utf16{};
    s64 units = 0, i = 0;
    while (i < n) {
        u32 size;
        u32 cp = decode_utf8_bounded(s.data + i, n - i, &size);
        units += encode_utf16(cp, out + units);
        i += size;
    }
    out[units] = 0;
    return String_Utf16{out, units};
}

const u16 *string_to_utf16_c_string(String s) {
    return utf8_to_utf16(s).data;
}

String utf16_to_utf8(String_Utf16 s) {
    s64 n = s.count > 0 ? s.count : 0;
    // At most 3 bytes per unit (a pair of 2 units makes 4); +1 for a NUL.
    u8 *out = (u8 *)tmp_allocate((u64)n * 3 + 1);
    if (!out) return String{};
    s64 bytes = 0, i = 0;
    while (i < n) {
        u32 units;
        u32 cp = decode_utf16(s.data + i, n - i, &units);
        bytes += encode_utf8(cp, out + bytes);
        i += units;
    }
    out[bytes] = 0;
    return String{out, bytes};
}

s64 get_utf16_c_string_size(const u16 *text) {
    if (!text) return 0;
    s64 n = 0;
    while (text[n]) n++;
    return n;
}

String_Utf16 get_utf16_c_string_view(const u16 *text) {
    return String_Utf16{(u16 *)text, get_utf16_c_string_size(text)};
}

String from_c_tstring_utf16(const u16 *text) {
    return utf16_to_utf8(get_utf16_c_string_view(text));
}

const char *utf16_to_c_string(const u16 *text) {
    String s = from_c_tstring_utf16(text);
    return s.data ? (const char *)s.data : "";
}

u16 *copy_as_c_string_utf16(String s, u16 *out, s64 capacity_units) {
    if (!out || capacity_units <= 0) return out;
    s64 units = 0, i = 0;
    while (i < s.count) {
        u32 size;
        u32 cp = decode_utf8_bounded(s.data + i, s.count - i, &size);
        u16 pair[2];
        u32 n = encode_utf16(cp, pair);
        if (units + n > capacity_units - 1) break; // keep room for the NUL; never split a pair
        for (u32 k = 0; k < n; k++) out[units++] = pair[k];
        i += size;
    }
    out[units] = 0;
    return out;
}

void string_add_utf16(String_Utf16 *s, u32 cp) {
    s->count += encode_utf16(cp, s->data + s->count);
}

String_Utf16 tconcat_utf16(String_Utf16 a, String_Utf16 b) {
    s64 na = a.count > 0 ? a.count : 0, nb = b.count > 0 ? b.count : 0;
    u16 *out = (u16 *)tmp_allocate_aligned((u64)(na + nb + 1) * 2, 2);
    if (!out) return String_Utf16{};
    if (na) memcpy(out, a.data, (size_t)na * 2);
    if (nb) memcpy(out + na, b.data, (size_t)nb * 2);
    out[na + nb] = 0;
    return String_Utf16{out, na + nb};
}
