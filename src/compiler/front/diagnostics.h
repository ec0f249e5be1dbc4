// Compiler error reports: self-contained records (path, line, a copy of the
// line, the range to underline, the message) the editor can show on its own.
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "compiler/front/tokens.h"

constexpr u32 ERROR_REPORT_TEXT_SIZE = 4096;

struct Error_Report {
    u32 line;          // 0 when there is no location
    u16 path_length;
    u16 line_text_length;
    u16 message_length;
    u32 column;        // byte offset of the underlined range within line_text
    u32 range_length;
    u8 is_note;        // a secondary note that follows the main report; REPORT_WARNING for a warning
    char path[ERROR_REPORT_TEXT_SIZE];
    char line_text[ERROR_REPORT_TEXT_SIZE];
    char message[ERROR_REPORT_TEXT_SIZE];
};

extern Dynamic_Array compile_errors; // Error_Report
// Warnings do not fail a compilation: they are kept apart, emptied with the errors.
extern Dynamic_Array compile_warnings; // Error_Report
constexpr u8 REPORT_WARNING = 2;

void print_error(const char *format, ...) __attribute__((format(printf, 1, 2)));
void print_error_on_token(Token *token, const char *format, ...) __attribute__((format(printf, 2, 3)));
void print_error_on_trace(Trace trace, const char *format, ...) __attribute__((format(printf, 2, 3)));
void print_error_on_string(Trace location, const char *format, ...) __attribute__((format(printf, 2, 3)));
void print_warning_on_token(Token *token, const char *format, ...) __attribute__((format(printf, 2, 3)));
// A secondary note located at `trace`, appended after the main report.
void print_note_on_trace(Trace trace, const char *format, ...) __attribute__((format(printf, 2, 3)));
void set_error_report_text(Error_Report *report, Trace location);

Trace make_trace_from_token(Token *t);
Trace make_trace_from_tokens(Token *a, Token *b);
Trace make_trace_from_tokens2(Token *a, Token *b);
Trace concat_traces(Trace t1, Trace t2);
// Reports "Expected a ';' after ..." unless the token after `t` (before `end`) is ';'.
bool check_for_instruction_end_after(Token *t, Token *end);

// The report as tarnoc prints it: "PATH:LINE:COLUMN: error: MESSAGE", the line, the underline.
String error_report_to_string(const Error_Report *report);
