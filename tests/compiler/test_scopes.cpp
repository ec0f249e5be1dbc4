// Scopes and identifiers: flag inheritance, lookup order, what a sub-program
// body cannot see, duplicates, loop scopes and lifetime numbering; and the
// reports' line views and traces.
#include <gtest/gtest.h>
#include <string>
#include "compiler_test_util.h"
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"

static const u8 *N(const char *s) { return (const u8 *)s; }
static const Trace NO_TRACE = {0xFFFFFFFF, 0, nullptr, nullptr, 0};

struct Flags_Case {
    u32 parent_flags;
    u32 child_flags;
    u32 expected;
};

TEST(Compiler_Scopes, FlagsInheritedFromTheParent) {
    const Flags_Case cases[] = {
        {0, 0, 0},
        {SCOPE_INSIDE_SUB_PROGRAM, 0, SCOPE_INSIDE_SUB_PROGRAM},
        {SCOPE_INSIDE_SUB_PROGRAM, SCOPE_LOOP, SCOPE_LOOP | SCOPE_INSIDE_SUB_PROGRAM},
        {SCOPE_INSIDE_SUB_PROGRAM, BASIC_SUB_PROGRAM_SCOPE_FLAGS, BASIC_SUB_PROGRAM_SCOPE_FLAGS},
        {SCOPE_INSIDE_SUB_PROGRAM, SCOPE_ENTRY_POINT | 1, SCOPE_ENTRY_POINT | 1},
        {SCOPE_INLINED, 0, SCOPE_INLINED},
        {SCOPE_INLINED, SCOPE_SUB_PROGRAM_ROOT, SCOPE_SUB_PROGRAM_ROOT},
        {SCOPE_INLINED | SCOPE_INSIDE_SUB_PROGRAM, SCOPE_ENTRY_POINT, SCOPE_ENTRY_POINT},
        {SCOPE_INHERITED, 0, SCOPE_INHERITED},
        {SCOPE_INHERITED, SCOPE_ENTRY_POINT, SCOPE_ENTRY_POINT | SCOPE_INHERITED},
        {SCOPE_LOOP | SCOPE_DEFERRED, 0, 0},
    };
    compile_text_keep("");
    Scope *global = global_compiler_state.global_scope;
    for (const Flags_Case &c : cases) {
        Scope *parent = _add_a_scope(global, c.parent_flags);
        Scope *child = _add_a_scope(parent, c.child_flags);
        EXPECT_EQ(child->flags, c.expected) << std::hex << c.parent_flags << " " << c.child_flags;
        EXPECT_EQ(child->parent, parent);
        EXPECT_EQ(global_compiler_state.last_scope, child);
        EXPECT_EQ(parent->next_made, child);
    }
    Scope *inlined = _add_a_scope(global, SCOPE_INLINED);
    EXPECT_EQ(inlined->inline_context, inlined);
    Scope *inner = _add_a_scope(inlined, 0);
    EXPECT_EQ(inner->inline_context, inlined);
    Scope *own = _add_a_scope(inner, SCOPE_INLINED);
    EXPECT_EQ(own->inline_context, own);
}

TEST(Compiler_Scopes, LookupOrderAndSubProgramBoundaries) {
    compile_text_keep("");
    Scope *global = global_compiler_state.global_scope;
    Identifier *gv = add_identifier(global, N("gv"), 2, IDENTIFIER_KIND_VARIABLE, NO_TRACE);
    Scope *outer = _add_a_scope(global, 0);
    Identifier *ov = add_identifier(outer, N("ov"), 2, IDENTIFIER_KIND_VARIABLE, NO_TRACE);
    Identifier *oc = add_identifier(outer, N("oc"), 2, IDENTIFIER_KIND_CONSTANT, NO_TRACE);
    Scope *body = _add_a_scope(outer, BASIC_SUB_PROGRAM_SCOPE_FLAGS);
    Identifier *param = add_identifier(body, N("p"), 1, IDENTIFIER_KIND_PARAMETER, NO_TRACE);
    Scope *block = _add_a_scope(body, 0);
    Identifier *bv = add_identifier(block, N("bv"), 2, IDENTIFIER_KIND_VARIABLE, NO_TRACE);

    EXPECT_EQ(get_identifier(block, N("bv"), 2), bv);
    EXPECT_EQ(get_identifier(block, N("p"), 1), param);
    EXPECT_EQ(get_identifier(block, N("oc"), 2), oc); // constants stay visible
    EXPECT_EQ(get_identifier(block, N("ov"), 2), nullptr); // the declaring scope's variables do not
    EXPECT_EQ(get_identifier(block, N("gv"), 2), gv); // global variables do
    EXPECT_EQ(get_identifier(outer, N("ov"), 2), ov);
    EXPECT_EQ(get_identifier(block, N("bv"), 0), nullptr); // a zero length never matches
    EXPECT_EQ(get_identifier(block, N("b"), 1), nullptr);  // a prefix is not the name
    EXPECT_EQ(get_identifier_in_scope(block, N("p"), 1), nullptr);

    // The innermost declaration wins; within a scope variables come first.
    Identifier *shadow = add_identifier(block, N("oc"), 2, IDENTIFIER_KIND_CONSTANT, NO_TRACE);
    EXPECT_EQ(get_identifier(block, N("oc"), 2), shadow);
    Identifier *var = add_identifier(block, N("oc"), 2, IDENTIFIER_KIND_VARIABLE, NO_TRACE);
    EXPECT_EQ(get_identifier(block, N("oc"), 2), var);
    u64 uses = var->use_count;
    get_identifier(block, N("oc"), 2);
    EXPECT_EQ(var->use_count, uses + 1);
}

TEST(Compiler_Scopes, LongListsFindTheOldestRecordOfAName) {
    compile_text_keep("");
    Scope *scope = _add_a_scope(global_compiler_state.global_scope, 0);
    static char names[300][8];
    Identifier *first[300];
    for (int i = 0; i < 300; i++) {
        snprintf(names[i], sizeof names[i], "n%d", i);
        first[i] = add_identifier(scope, N(names[i]), (s64)strlen(names[i]), IDENTIFIER_KIND_CONSTANT, NO_TRACE);
    }
    // Second records of the same names: the lookup keeps answering the first.
    for (int i = 0; i < 300; i += 7) add_identifier(scope, N(names[i]), (s64)strlen(names[i]), IDENTIFIER_KIND_CONSTANT, NO_TRACE);
    for (int i = 0; i < 300; i++) {
        ASSERT_EQ(get_identifier(scope, N(names[i]), (s64)strlen(names[i])), first[i]) << names[i];
    }
    EXPECT_EQ(get_identifier(scope, N("n300"), 4), nullptr);
}

TEST(Compiler_Scopes, DuplicatesAreReportedWithThePreviousDeclaration) {
    Compile_Result r = compile_text_keep("$x := 1;\ny := 2;\n");
    ASSERT_TRUE(r.ok) << r.errors;
    Identifier *x = kept_global("x");
    ASSERT_NE(x, nullptr);
    Token *name = x->name_token;
    ASSERT_NE(name, nullptr);
    compile_errors.count = 0;
    Scope *inner = _add_a_scope(global_compiler_state.global_scope, 0);
    // A name visible from an enclosing scope cannot be declared again, whatever its kind.
    EXPECT_EQ(add_identifier_with_error(inner, name, IDENTIFIER_KIND_VARIABLE), nullptr);
    ASSERT_EQ(compile_errors.count, 2u);
    Error_Report *error = dynamic_array_at<Error_Report>(&compile_errors, 0);
    Error_Report *note = dynamic_array_at<Error_Report>(&compile_errors, 1);
    EXPECT_STREQ(error->message, "'x' is already declared.\n");
    EXPECT_STREQ(note->message, "This is the previous declaration.");
    EXPECT_TRUE(note->is_note);
    EXPECT_EQ(note->line, 1u);
    compile_errors.count = 0;
    Token *y_name = kept_global("y")->name_token;
    Scope *other = _add_a_scope(global_compiler_state.global_scope, SCOPE_SUB_PROGRAM_ROOT);
    // Inside a sub-program body the global variable is still seen.
    EXPECT_EQ(add_identifier_with_error(other, y_name, IDENTIFIER_KIND_CONSTANT), nullptr);
    compile_errors.count = 0;
    // get_or_add finds the existing one instead of adding.
    EXPECT_EQ(get_or_add_identifier(inner, name, IDENTIFIER_KIND_VARIABLE), x);
}

TEST(Compiler_Scopes, OuterAccessOnlyInsideInlinedCalls) {
    Compile_Result r = compile_text_keep("$x := 1;\n");
    ASSERT_TRUE(r.ok);
    Token *name = kept_global("x")->name_token;
    compile_errors.count = 0;
    Scope *plain = _add_a_scope(global_compiler_state.global_scope, 0);
    EXPECT_EQ(get_identifier_with_error(plain, name, true), nullptr);
    ASSERT_EQ(compile_errors.count, 1u);
    EXPECT_STREQ(dynamic_array_at<Error_Report>(&compile_errors, 0)->message,
                 "You can only explicitly access outer scope identifiers within inlined sub-programs.");
    compile_errors.count = 0;
    Scope *site = _add_a_scope(global_compiler_state.global_scope, 0);
    Scope *inlined = _add_a_scope(global_compiler_state.global_scope, SCOPE_INLINED | SCOPE_SUB_PROGRAM_ROOT);
    inlined->call_site = site;
    Identifier *caller_x = add_identifier(site, name->text, name->length, IDENTIFIER_KIND_VARIABLE, NO_TRACE);
    Scope *inner = _add_a_scope(inlined, 0);
    EXPECT_EQ(get_identifier_with_error(inner, name, true), caller_x);
    EXPECT_EQ(compile_errors.count, 0u);
}

TEST(Compiler_Scopes, LoopScopesAndLifetimeNumbers) {
    compile_text_keep("");
    Scope *global = global_compiler_state.global_scope;
    Scope *entry = _add_a_scope(global, SCOPE_ENTRY_POINT | 1);
    Scope *loop = _add_a_scope(entry, SCOPE_LOOP);
    Scope *block = _add_a_scope(loop, 0);
    EXPECT_EQ(get_first_loop_scope_from(block), loop);
    EXPECT_EQ(get_first_loop_scope_from(loop), loop);
    EXPECT_EQ(get_first_loop_scope_from(entry), nullptr);

    global->lifetime_counter = 100; // beyond the entry point: not counted
    entry->lifetime_counter = 1;
    loop->lifetime_counter = 2;
    block->lifetime_counter = 4;
    EXPECT_EQ(get_current_lifetime_id(block), 7u);
    EXPECT_EQ(get_current_lifetime_id(entry), 1u);

    Scope *deferred = _add_a_scope(global, SCOPE_DEFERRED);
    deferred->call_site = block; // the owner that registered it
    deferred->lifetime_counter = 8;
    EXPECT_EQ(get_current_lifetime_id(deferred), 15u);

    Scope *inlined = _add_a_scope(block, SCOPE_INLINED | SCOPE_SUB_PROGRAM_ROOT);
    inlined->call_site = loop;
    inlined->lifetime_counter = 16;
    EXPECT_EQ(get_current_lifetime_id(inlined), 19u);
    Scope *body = _add_a_scope(global, BASIC_SUB_PROGRAM_SCOPE_FLAGS);
    body->lifetime_counter = 32;
    EXPECT_EQ(get_current_lifetime_id(_add_a_scope(body, 0)), 32u);
    global->lifetime_counter = 0;
    EXPECT_EQ(get_current_lifetime_id(_add_a_scope(global, 0)), 0u);
}

// [SECTION] Reports

static std::string view(const Error_Report &r) { return std::string(r.line_text, r.line_text_length); }

TEST(Compiler_Reports, LineViewsOfTokensAndRanges) {
    Compile_Result r = compile_text_keep("$A := 1;\n\t$B :=\n  A + 2;\n$C := 3;\r\n$D := 4;");
    ASSERT_TRUE(r.ok) << r.errors;
    Token *b = kept_global("B")->name_token;
    Token *semicolon = kept_global("B")->semicolon;
    Token *d = kept_global("D")->name_token;
    Error_Report report = {};

    set_error_report_text(&report, make_trace_from_token(b));
    EXPECT_EQ(view(report), "\t$B :=");
    EXPECT_EQ(report.column, 2u);
    EXPECT_EQ(report.range_length, 1u);
    EXPECT_EQ(report.line, 2u);
    EXPECT_STREQ(report.path, "/virtual/main.8");

    // A range over two lines shows both, from the first line's start.
    set_error_report_text(&report, make_trace_from_tokens(b, semicolon));
    EXPECT_EQ(view(report), "\t$B :=\n  A + 2;");
    EXPECT_EQ(report.column, 2u);
    EXPECT_EQ(report.range_length, (u32)std::string("B :=\n  A + 2;").size());

    // tokens2 stops at the start of the second token.
    set_error_report_text(&report, make_trace_from_tokens2(b, semicolon));
    EXPECT_EQ(report.range_length, (u32)std::string("B :=\n  A + 2").size());

    // A CR LF line ending is not part of the view.
    Token *c = kept_global("C")->name_token;
    set_error_report_text(&report, make_trace_from_token(c));
    EXPECT_EQ(view(report), "$C := 3;");

    // The last line of a file has no line break.
    set_error_report_text(&report, make_trace_from_token(d));
    EXPECT_EQ(view(report), "$D := 4;");

    Trace joined = concat_traces(make_trace_from_token(c), make_trace_from_token(d));
    EXPECT_EQ(joined.text, c->text);
    EXPECT_EQ(joined.length, (s64)(d->text + 1 - c->text));
    Trace backwards = concat_traces(make_trace_from_token(d), make_trace_from_token(c));
    EXPECT_EQ(backwards.length, 1);
}

TEST(Compiler_Reports, PrintedReportsAndTheirUnderlines) {
    Error_Report located = {};
    located.line = 3;
    strcpy(located.path, "/p/m.8");
    located.path_length = 6;
    strcpy(located.line_text, "\tab\n\tcd");
    located.line_text_length = 7;
    located.column = 2;
    located.range_length = 4;
    strcpy(located.message, "M.");
    located.message_length = 2;
    compile_text_keep("");
    String s = error_report_to_string(&located);
    EXPECT_EQ(std::string((const char *)s.data, (size_t)s.count), "/p/m.8:3:3: error: M.\n\tab\n\tcd\n\t ^^^^\n");
    located.is_note = 1;
    located.range_length = 0; // at least one caret
    s = error_report_to_string(&located);
    EXPECT_EQ(std::string((const char *)s.data, (size_t)s.count), "/p/m.8:3:3: note: M.\n\tab\n\tcd\n\t ^\n");
    Error_Report bare = {};
    strcpy(bare.message, "Nowhere.");
    s = error_report_to_string(&bare);
    EXPECT_EQ(std::string((const char *)s.data, (size_t)s.count), "error: Nowhere.\n");
}

TEST(Compiler_Reports, OverlongMessagesAreCutToTheirField) {
    compile_text_keep("");
    compile_errors.count = 0;
    std::string huge(10000, 'x');
    print_error("%s", huge.c_str());
    ASSERT_EQ(compile_errors.count, 1u);
    Error_Report *r = dynamic_array_at<Error_Report>(&compile_errors, 0);
    EXPECT_EQ(r->message_length, ERROR_REPORT_TEXT_SIZE - 1);
    EXPECT_EQ(strlen(r->message), (size_t)ERROR_REPORT_TEXT_SIZE - 1);
    EXPECT_EQ(r->line, 0u);
    EXPECT_EQ(r->path_length, 0u);
}

TEST(Compiler_Reports, InstructionEndAfterAToken) {
    Compile_Result r = compile_text_keep("$A := (1) 2;\n$B := 3;");
    EXPECT_FALSE(r.ok);
    compile_errors.count = 0;
    // With a kept but failed compilation the tokens are still there.
    File_Record *file = *dynamic_array_at<File_Record *>(&global_compiler_state.loaded_files, global_compiler_state.loaded_files.count - 1);
    Token *open = file->first_token->next->next->next->next; // '$' 'A' ':' '=' '('
    ASSERT_TRUE(open->kind & TOKEN_OPEN_PARENTHESIS);
    EXPECT_FALSE(check_for_instruction_end_after(open, nullptr));
    ASSERT_EQ(compile_errors.count, 1u);
    EXPECT_STREQ(dynamic_array_at<Error_Report>(&compile_errors, 0)->message, "Expected a ';' after '(' but got '2' instead.");
    compile_errors.count = 0;
    Token *two = open->partner->next;
    EXPECT_FALSE(check_for_instruction_end_after(two, two->next)); // the ';' lies past the range
    ASSERT_EQ(compile_errors.count, 1u);
    EXPECT_STREQ(dynamic_array_at<Error_Report>(&compile_errors, 0)->message, "Expected a ';' after '2'.");
    compile_errors.count = 0;
    EXPECT_TRUE(check_for_instruction_end_after(two, nullptr));
    EXPECT_EQ(compile_errors.count, 0u);
}
