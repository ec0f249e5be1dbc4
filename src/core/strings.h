// Strings: temporary formatting, UTF-8/16/32 conversion, case, natural
// ordering and full paths. Every result not written into caller memory lives
// in the calling thread's temporary memory until its next reset.
#pragma once
#include "core/base.h"
#include "core/memory.h"

// [SECTION] Formatting into temporary memory (stb_sprintf: ' and $ extensions)
String tstring(const char *format, ...) __attribute__((format(printf, 1, 2)));            // 1,024 bytes
const char *tcstring(const char *format, ...) __attribute__((format(printf, 1, 2)));       // 1,024 bytes
String tstring_small(const char *format, ...) __attribute__((format(printf, 1, 2)));      // 32 bytes
const char *tcstring_small(const char *format, ...) __attribute__((format(printf, 1, 2))); // 64 bytes
String tstring_big(s64 value);                                                            // "%d", 10,240 bytes
// Decimal with thousands separators ("-1,234"); every s64 value, the smallest too.
String tstring_grouped(s64 value);
// Every '%' of `format` is replaced by the next String argument.
String string_concat2(const char *format, ...);
// printf-style into a caller buffer; returns the length written (stb_sprintf).
int format_into(char *buffer, int size, const char *format, ...) __attribute__((format(printf, 3, 4)));

String money_to_string(s64 amount, bool is_signed);
const char *money_to_c_string(s64 amount, bool is_signed);
const char *size_to_c_string(u64 n);

// [SECTION] Case and search
String string_to_lower_case(String s);
bool string_contains_character(const u8 *data, s64 count, u8 byte);
const u8 *get_first_character_in_string_like(const u8 *data, s64 count, u8 byte);
bool string_is_empty(String s);
bool string_starts_with(String s, String prefix);
bool string_ends_with(String s, String suffix);
// Copy of `s` into temporary memory.
String tcopy_string(String s);

// [SECTION] UTF-8 stepping
u32 get_utf8_char_size(const u8 *p);
const u8 *utf8_get_next_character(const u8 *p, const u8 *end);
const u8 *utf8_get_previous_character(const u8 *p, const u8 *start);
s64 utf8_string_get_offset_at(String s, s64 n);
String get_utf8_sub_string(String s, s64 n);
s64 utf8_get_num_characters(String s);

// [SECTION] Code points
constexpr u32 REPLACEMENT_CHARACTER = 65533;
u32 utf8_to_utf32_codepoint_and_size(const u8 *p, u32 *out_size);
u32 utf8_known_size_to_utf32_codepoint(const u8 *p, u32 size);
u32 utf8_to_utf32_codepoint(const u8 *p);
String utf32_to_utf8_codepoint(u32 cp);
String codepoint_to_string(u32 cp);
// Appends the encoding; the caller guarantees room behind s.data + s.count.
void string_add_codepoint(String *s, u32 cp);
// Whole text into `out` (4 × count bytes); returns the bytes written.
s64 utf8_to_utf32(String s, u32 *out);

struct String_Utf16 {
    u16 *data;
    s64 count; // code units
};
String_Utf16 utf8_to_utf16(String s);          // temporary, NUL-terminated
const u16 *string_to_utf16_c_string(String s); // temporary
String utf16_to_utf8(String_Utf16 s);          // temporary
u32 utf16_to_utf32_codepoint(const u16 *p, u32 *out_units);
s64 get_utf16_c_string_size(const u16 *text); // units before the NUL
const char *utf16_to_c_string(const u16 *text);
u16 *copy_as_c_string_utf16(String s, u16 *out, s64 capacity_units);
String from_c_tstring_utf16(const u16 *text);
String_Utf16 get_utf16_c_string_view(const u16 *text);
void string_add_utf16(String_Utf16 *s, u32 cp);
String_Utf16 tconcat_utf16(String_Utf16 a, String_Utf16 b);
// `byte_count` is 4 per code unit; the low byte of each unit is taken as a digit.
s64 utf32_text_to_s64(const u32 *text, s64 byte_count);

// [SECTION] Ordering
bool string_sort_by_unicode_order_asc(String a, String b);

// [SECTION] Paths
const char *to_tmp_c_string(String s);
bool os_get_full_filepath(const u8 *path, s64 count, String *out_directory, String *out_name);
