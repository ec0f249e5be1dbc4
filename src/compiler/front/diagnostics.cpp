// Error reports and the traces they are located by.
#include "compiler/front/diagnostics.h"
#include "compiler/front/compiler.h"
#include <stdarg.h>
#include <stb/stb_sprintf.h>

Dynamic_Array compile_errors;
Dynamic_Array compile_warnings;

static File_Record *file_of_trace(Trace t) {
    Dynamic_Array *files = &global_compiler_state.loaded_files;
    if (t.file_index >= files->count) return nullptr;
    return *dynamic_array_at<File_Record *>(files, t.file_index);
}

static Error_Report *add_report(Dynamic_Array *list = &compile_errors) {
    if (list->element_size == 0) dynamic_array_init(list, sizeof(Error_Report), 4);
    Error_Report *report = (Error_Report *)dynamic_array_add(list);
    report->line = 0;
    report->path_length = report->line_text_length = report->message_length = 0;
    report->column = report->range_length = 0;
    report->is_note = 0;
    report->path[0] = report->line_text[0] = report->message[0] = 0;
    return report;
}

static void format_message(Error_Report *report, const char *format, va_list args) {
    int n = stbsp_vsnprintf(report->message, ERROR_REPORT_TEXT_SIZE, format, args);
    if (n < 0) n = 0;
    if (n >= (int)ERROR_REPORT_TEXT_SIZE) n = ERROR_REPORT_TEXT_SIZE - 1;
    report->message_length = (u16)n;
}

// Texts longer than a field are cut at its end; the start is what matters.
void set_error_report_text(Error_Report *report, Trace location) {
    report->line = location.line;
    File_Record *file = file_of_trace(location);
    if (file) {
        s64 n = file->path.count < ERROR_REPORT_TEXT_SIZE ? file->path.count : ERROR_REPORT_TEXT_SIZE - 1;
        memcpy(report->path, file->path.data, (size_t)n);
        report->path[n] = 0;
        report->path_length = (u16)n;
    }
    const u8 *start = location.text;
    const u8 *view = location.line_start && location.line_start < start ? location.line_start : start;
    if (!start) {
        report->line_text_length = 0;
        return;
    }
    const u8 *file_end = file ? file->text + file->count : start + location.length;
    const u8 *p = start;
    while (p < file_end && *p != '\n' && *p != '\r') p++;
    s64 view_length = p - view;
    if (view_length < (start - view) + location.length) view_length = (start - view) + location.length;
    if (file && view + view_length > file_end) view_length = file_end - view;
    if (view_length < 0) view_length = 0;
    s64 copy = view_length < ERROR_REPORT_TEXT_SIZE ? view_length : ERROR_REPORT_TEXT_SIZE - 1;
    memcpy(report->line_text, view, (size_t)copy);
    report->line_text[copy] = 0;
    report->line_text_length = (u16)copy;
    s64 column = start - view;
    report->column = (u32)(column < (s64)copy ? column : copy);
    report->range_length = (u32)location.length;
}

void print_error(const char *format, ...) {
    Error_Report *report = add_report();
    va_list args;
    va_start(args, format);
    format_message(report, format, args);
    va_end(args);
}

static void print_located(Trace trace, bool note, const char *format, va_list args) {
    Error_Report *report = add_report();
    format_message(report, format, args);
    set_error_report_text(report, trace);
    report->is_note = note;
}

void print_error_on_token(Token *token, const char *format, ...) {
    va_list args;
    va_start(args, format);
    // Without a token (the end of a file) the report simply has no location.
    Trace trace = token ? make_trace_from_token(token) : Trace{0xFFFFFFFF, 0, nullptr, nullptr, 0};
    print_located(trace, false, format, args);
    va_end(args);
}

void print_error_on_trace(Trace trace, const char *format, ...) {
    va_list args;
    va_start(args, format);
    print_located(trace, false, format, args);
    va_end(args);
}

void print_error_on_string(Trace location, const char *format, ...) {
    va_list args;
    va_start(args, format);
    print_located(location, false, format, args);
    va_end(args);
}

void print_warning_on_token(Token *token, const char *format, ...) {
    Error_Report *report = add_report(&compile_warnings);
    va_list args;
    va_start(args, format);
    format_message(report, format, args);
    va_end(args);
    set_error_report_text(report, token->location);
    report->is_note = REPORT_WARNING;
}

void print_note_on_trace(Trace trace, const char *format, ...) {
    va_list args;
    va_start(args, format);
    print_located(trace, true, format, args);
    va_end(args);
}

Trace make_trace_from_token(Token *t) { return t->location; }

Trace make_trace_from_tokens(Token *a, Token *b) {
    Trace t = a->location;
    const u8 *end = b->location.text + b->location.length;
    if (b->location.file_index == t.file_index && end > t.text) t.length = end - t.text;
    return t;
}

Trace make_trace_from_tokens2(Token *a, Token *b) {
    Trace t = a->location;
    if (b && b->location.file_index == t.file_index && b->location.text > t.text) t.length = b->location.text - t.text;
    return t;
}

Trace concat_traces(Trace t1, Trace t2) {
    const u8 *end1 = t1.text + t1.length, *end2 = t2.text + t2.length;
    if (t1.file_index == t2.file_index && end2 > end1) t1.length = end2 - t1.text;
    return t1;
}

bool check_for_instruction_end_after(Token *t, Token *end) {
    Token *next = token_skip(t);
    if (next && next != end && (next->kind & TOKEN_SEMICOLON)) return true;
    if (!next || next == end) {
        print_error_on_token(t, "Expected a ';' after '%s'.", token_to_c_string(t));
    } else {
        print_error_on_token(next, "Expected a ';' after '%s' but got '%s' instead.", token_to_c_string(t),
                             token_to_c_string(next));
    }
    return false;
}

String error_report_to_string(const Error_Report *r) {
    const char *kind = r->is_note == REPORT_WARNING ? "warning" : r->is_note ? "note" : "error";
    if (r->path_length == 0 && r->line == 0) return arena_format_string("%s: %s\n", kind, r->message);
    u64 underline_length = r->column + (r->range_length ? r->range_length : 1) + 1;
    char *underline = (char *)arena_allocate(underline_length + 1, 1);
    u32 n = 0;
    for (u32 i = 0; i < r->column; i++) underline[n++] = r->line_text[i] == '\t' ? '\t' : ' ';
    for (u32 i = 0; i < (r->range_length ? r->range_length : 1); i++) underline[n++] = '^';
    underline[n] = 0;
    return arena_format_string("%.*s:%u:%u: %s: %s\n%.*s\n%s\n", (int)r->path_length, r->path, r->line, r->column + 1,
                               kind, r->message, (int)r->line_text_length, r->line_text, underline);
}
