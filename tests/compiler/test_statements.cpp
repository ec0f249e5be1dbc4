// Bodies and statements through the whole front end and the IR: each
// statement mistake is reported where it is, and the orders that are the
// language's contract (deferred blocks, condition folding, overload choice)
// are checked on the instructions made.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "compiler/back/statements.h"
#include "compiler/front/diagnostics.h"
#include "compiler/front/dump.h"

static void ensure_compiler() {
    static bool initialised = false;
    if (initialised) return;
    init_memory();
    init_compiler(S(TARNO_SOURCE_DIR "/runtime"));
    initialised = true;
}

struct Program {
    bool ok;
    std::string errors;
};

// Compiles `text`; the state stays readable until end_program().
static Program compile_program_text(const std::string &text) {
    ensure_compiler();
    Front_End_Options options = {};
    options.use_text = true;
    options.text = String{(u8 *)text.data(), (s64)text.size()};
    Program p;
    p.ok = compile_program(S("/virtual/main.8"), options);
    String e = format_compile_errors();
    p.errors.assign((const char *)e.data, (size_t)e.count);
    return p;
}

static void end_program() {
    free_program_state();
    free_compiler_state();
}

// [SECTION] Messages

struct Statement_Case {
    const char *body; // inside '#on_load { ... }' on line 2
    const char *location;
    const char *message;
};

static const Statement_Case STATEMENT_CASES[] = {
    {"break;", "2:1", "You cannot use this instruction outside of loops."},
    {"continue;", "2:1", "You cannot use this instruction outside of loops."},
    {"while 1 { break 2; }", "2:17", "There is no loop you can break from at level 2."},
    {"return;", "2:1", "You can only use the return instruction within sub-programs."},
    {"x := 1;\nelse {}", "3:1", "This 'else' statement does not seem to be part of an if/else statements chain."},
    {"if {}", "2:1", "Did you forget to specify a condition for that if statement?"},
    {"if 1", "2:1", "The compiler expected a block after this 'if' statement."},
    {"x := 1;\nif x {} else", "3:9", "The compiler expected a block associated with this 'else' statement."},
    {"x := 1;\nif x {} else x {}", "3:14", "else statements do not take conditions."},
    {"while", "2:1", "while loops must always have a block of code associated with them."},
    {"for {}", "2:1", "This for loop does not seem to have a description of something to loop on."},
    {"for 10", "2:1", "This for loop does not seem to have an associated block to execute."},
    {"for 0, {}", "2:6", "Is this an extraneous ','?"},
    {"for 10 #stride 2 {}", "2:8", "Directive '#stride' is unkown or not usable here."},
    {"for 10 #step 1, 5 {}", "2:17", "The compiler expected a comparison operator to use in the for loop here but got '5' instead."},
    {"for 10 #step 1, + {}", "2:17", "'+' is not a valid comparison operator. Please use <, >, <=, >=, == or !=."},
    {"for 10 -> 5 {}", "2:11", "The compiler expected an identifier but got '5' instead."},
    {"for 10 -> i, j {}", "2:14", "This for loop does not loop on an array so you can only set a custom name for the index identifier."},
    {"s: String;\nfor s, 4 {}", "3:8", "When looping on arrays you cannot give an upper boundary."},
    {"$P: #struct { a: u8; };\np: P;\nfor p {}", "4:5", "You cannot loop on type 'P'."},
    {"f: f32;\nfor f {}", "3:5", "Only integers, arrays and strings can be used here."},
    {"n: u8 = 4;\nfor 300, n {}", "3:5", "The destination (type u8) is too small to contain the source (type u16)."},
    {"n: u32 = 3;\nfor -1, n {}", "3:5", "You cannot implicitly cast from 's8' to 'u32' as information may be lost."},
    {"f: f32;\nfor 0, f {}", "3:8", "You cannot use a real number as a source with an integer as a destination."},
    {"switch {}", "2:1", "Did you forget to specify a value to switch on?"},
    {"$P: #struct { a: u8; };\np: P;\nswitch p {}", "4:8", "Switch statements do not accept structs but it seems the value you want to test is a struct (type P)."},
    {"p: @ u8;\nswitch p {}", "3:8", "Switch statement do not accept memory addresses for now."},
    {"x := 1;\nswitch x { 1: x = 2; 1: x = 3; }", "3:22", "This value is already tested in this switch statement."},
    {"x := 1;\nswitch x { else: x = 2; else: x = 3; }", "3:25", "This switch statement already has a default block."},
    {"x := 1;\nswitch x { 1: x = 2; #no_break 2: x = 3; }", "3:22", "You cannot use #no_break on the last block of a switch statement."},
    {"x := 1;\nswitch x { #no_break else: x = 2; 1: x = 3; }", "3:12", "You cannot use #no_break on a default switch block. The reason is a default block is always output at the end of a switch statement so #no_break has no effect on them."},
    {"x := 1;\nswitch x #all_values { 1: x = 2; }", "3:10", "You indicated that all enum values should be handled but type 'u64' is not an enum."},
    {"$E: #enum u8 = { $A; $B; };\ne: E;\nswitch e #all_values { .A: e = .B; }", "4:8", "All values from enum E must be handled in this switch statement."},
    {"x := 1;\nswitch x { x = 2; }", "3:12", "Here is an example of a condition block inside a switch statement: 45 : say_hello();"},
    {"x := 1;\nswitch x { 1: { x = 2; } 2 }", "3:26", "Here is an example of a condition block inside a switch statement: 45 : say_hello();"},
    {"x := 1;\nswitch x #foo { }", "3:10", "Directive '#foo' is not supported or cannot be used here."},
    {"#defer", "2:1", "Expected a block of instructions to defer after the #defer directive but got '' instead."},
    {"#assert;", "2:1", "Expected an expression to assert, e.g. #assert(45 != 2, \"Error message!\");"},
    {"x := 1;\n#assert(x == 1);", "3:9", "It looks like you did not provide a constant condition to assess."},
    {"#assert(1 == 2, \"no\");", "2:1", "Assertion failed!"},
    {"#assert(1 == 1)", "2:15", "Did you forget a ';' to end this directive?"},
    {"#insert ;", "2:1", "It seems that you do not specify a code block to insert here."},
    {"#insert 5", "2:1", "Did you forget a ';' to end directive #insert?"},
    {"#machine_code;", "2:1", "Did you forget to specify machine code to embed?"},
    {"#on_load {}", "2:1", "You must be at global scope level to declare an #on_load block."},
    {"#events {}", "2:1", "You must be at global scope level to declare an #events block."},
    {"#syntax {}", "2:1", "You must be at global scope level to declare a syntax highlighting block."},
    {"#load_file \"a.8\";", "2:1", "Directive #load_file must be used in global scope. This may change in future versions of the compiler."},
    {"#what;", "2:1", "Directive '#what' is unknown or not supported here."},
    {"x := 1;\nx = 2\n", "3:1", "It seems that a ';' is missing to end this instruction."},
    {"debug_break", "2:1", "Did you forget a ';'?"},
    {"while 1 { continue 2; }", "2:20", "Is this '2' extraneaous?"},
    {"x := 1;\nif x && {}", "3:9", "The compiler expected a value after this operator."},
    {"x := 1;\nif x && () {}", "3:9", "Did you forget to do something inside these '()'?"},
    {"$P: #struct { a: u8; };\np: P;\nif p {}", "4:4", "You cannot use a value of type 'P' in a condition."},
    {"$K :: 1;", "2:4", ""},
    {"x := 1;\n3 = x;", "3:3", "You cannot reassign a value to a constant."},
    {"f: f32;\nf %= 2;", "3:3", "Operator '%' must be used on integers."},
    {"x := 1;\nx /= 0;", "3:3", "It looks like you are dividing by zero."},
    {"for 3 -> i { i: u8; }", "2:14", "'i' is already declared.\n"},
};

TEST(Compiler_Statements, EachMistakeIsReportedWhereItIs) {
    for (const Statement_Case &c : STATEMENT_CASES) {
        if (!c.message[0]) continue;
        std::string program = std::string("#on_load {\n") + c.body + "\n}\n";
        Program p = compile_program_text(program);
        EXPECT_FALSE(p.ok) << c.body;
        std::string expected = std::string("/virtual/main.8:") + c.location + ": error: " + c.message;
        EXPECT_EQ(p.errors.substr(0, expected.size()), expected) << c.body;
        end_program();
    }
}

static const Statement_Case BODY_CASES[] = {
    {"$f: () -> u32 = { return; };", "2:19", "It appears that you are not returning a value here. Sub-program f must return a value of type u32."},
    {"$f: () = { return 5; };", "2:19", "Sub-program f does not return anything."},
    {"$f: () = { return }; ", "2:12", "Did you forget a ';' after the return instruction?"},
    {"$f: () = { #assert(1 == 0, \"never\"); };", "2:12", "Assertion failed!\nin f\nnever"},
    {"$f: (a: u8) = {};\n$f: (a: u16) = {};\n#on_load { f(1); }", "4:13", "There is more than one overload that matches this call."},
    {"$f: (a: u8) = {};\n#on_load { g(1); }", "3:13", "There does not seem to be any sub-program named 'g' that is accessible from this scope."},
    {"$f: (a: u8) = {};\n$f: (a: u16) = {};\n#on_load { f(\"s\", 2); }", "4:13", "No overload was found to match this call."},
    {"$f: (a: u8) = {};\n#on_load { f(1, 2); }", "3:17", "Sub-program 'f' cannot take more than 1 argument."},
    {"$f: (a: u8) = {};\n#on_load { f(b = 1); }", "3:14", "'b' is not a parameter of sub-program 'f'."},
    {"$f: (a: u8, b: u8) = {};\n#on_load { f(1, a = 2); }", "3:17", "Parameter 'a' is already set in this call."},
    {"$f: (a: u8) = {};\n#on_load { f(); }", "3:13", "Parameter 'a' has no default value and must be set."},
    {"$f: (a: u8) = {};\n#on_load { f(a = ); }", "3:16", "Did you forget to pass a value?"},
    {"$f: (a: u8) = {};\n#on_load { f(1,); }", "3:15", "Is this an extraneous ','?"},
    {"#on_load { x := 1; x(); }", "2:21", "It appears that you are trying to call something that is not a sub-program."},
    {"#on_load { u8(); }", "2:12", "'u8' is not a sub-program."},
    {"$f: () = {};\n$g: () #no_context = { f(); };", "3:25", "It appears that the context is not available from this scope but this sub-program needs it."},
    {"$f: () -> u32 = { return 1; };\nx := f();", "3:7", "You cannot execute instructions in global scope."},
    {"$f: () = { #defer {} };\n#defer {}", "3:1", "Directive #defer is either unsupported or cannot be used in this context."},
    {"$f: () = {};\n#on_load { x := f(); }", "3:17", "This call is expected to return a value but it does not.\nSub-program type: '()'"},
    {"$f: () = {};\n#on_load { x := 1 + f(); }", "3:21", "This call is expected to return a value but it does not."},
    {"$i: (a: u32) -> u32 = #inline { return a; };\n#on_load { v := i; }", "3:17", "You cannot take the address of an inlined sub-program."},
    {"p: @ u8;\nq: @ u8;\n#on_load { r := p + q; }", "4:19", "You cannot add two memory addresses."},
    {"#on_load {}\n#on_load {}", "3:1", "An #on_load block has already been declared."},
    {"#events {}\n#events {}", "3:1", "An #events block has already been declared."},
    {"#syntax;", "2:1", "The compiler expected a block of code after this to determine how to perform syntax highlighting."},
    {"#events;", "2:1", "Expected a code block after directive #events."},
    {"$i: (a: u8) -> u8 = #inline { return b; };\n#on_load { x := i(1); }", "2:38", "'b' was not previously declared."},
    // Polymorphic calls: the only candidate's own reason is given.
    {"$f: (a: @ ?T) = {};\n#on_load { x: u8; f(x); }", "3:21", "Type 'u8' is incompatible with '@ ?T'."},
    {"$f: (a: [] ?T) = {};\n#on_load { x: u8; f(x); }", "3:21", "Type 'u8' is incompatible with '[] ?T'."},
    {"$f: ($N: u32) = {};\n#on_load { x: u32; f(x); }", "3:22", "This expression does not appear to be constant."},
    {"$f: (a: ?T, b: u8) = {};\n#on_load { f(1, 2, 3); }", "3:20", "Sub-program 'f' takes 2 parameters but you are trying to assign more parameters."},
    {"$f: (a: ?T) = {};\n#on_load { f(b = 1); }", "3:14", "Sub-program 'f' has no parameter named 'b'."},
    {"$f: (a: ?T, b: u8) = {};\n#on_load { f(1); }", "3:13", "Parameter 'b' does not have a default value."},
    {"$f: (a: ?T, b: u8) = {};\n#on_load { f(1, a = 2); }", "3:17", "Parameter 'a' is already set."},
    {"$f: (a: ?T, b: ?T) = {};\n#on_load { x: u8; f(x, \"s\"); }", "2:17", "'T' is already declared.\n"},
    {"$f: (a: ?T) = {};\n$f: (b: ?U) = {};\n#on_load { f(1); }", "4:13", "There is more than one overload that matches this call."},
    {"$f: (a: ?T) = { y: T = a + z; };\n#on_load { f(1); }", "2:28", "'z' was not previously declared."},
    {"$f: () #no_context = { x := __context; };", "2:29", "'__context' was not previously declared."},
    // Calls evaluated while compiling.
    {"$f: (x: s64) -> s64 = { return x; };\n$C := f(1);", "3:7", "Only inlined sub-programs can be used to assign a constant value like that."},
    {"$f: (x: s64) -> s64 = { return x; };\n$C := #constant f(1);", "3:7", "The #constant directive must be used on an inlined sub-program."},
    {"x: u32;\n$C := #constant x(1);", "3:7", "The #constant directive must be used on a constant sub-program call."},
    {"$C := #constant 5;", "2:7", "Expected a call after directive '#constant'."},
    {"$f: (x: s64) -> s64 = #inline { return x; };\n#on_load { a: s64 = 1; c := #constant f(a); }", "3:41", "This expression does not appear to be constant."},
    {"$f: (x: s64) -> s64 = #inline { while x {} return x; };\n$C := #constant f(1);", "2:33", "This statement cannot be evaluated while compiling"},
    {"$f: () = #inline { };\n$C := #constant f();", "3:18", "This expression does not appear to be constant."},
    {"$f: (x: s64) -> s64 = #inline { if x > y { return 1; } return 2; };\n$C := #constant f(1);", "2:40", "'y' was not previously declared."},
    {"$f: () = { #machine_code 0x90; };", "2:26", "This is incorrect/not supported right now."},
    {"$f: () = { #defer #inline {}; };\n#on_load { f(); }", "2:19", "Inlined #defer can only be used in inlined sub-programs."},
    {"$f: () = #inline { if 1 { #defer #inline {}; } };\n#on_load { f(); }", "2:34", "Inlined #defer can only be used in the top-most scope of an inlined sub-program."},
    {"$g: (a: u8) = {};\n$f: (a: ?T) = {};\np := g;\n#on_load { p = f; }", "5:16", "You cannot take the address of a polymorphic sub-program."},
    {"$f: () = #inline {};\n#on_load { p := f; }", "3:17", "You cannot take the address of an inlined sub-program."},
    {"#on_load { #if 1 }", "2:12", "It looks like you did not provide a block of code associated with this statement."},
};

TEST(Compiler_Statements, BodiesAndCallsReportTheirMistakes) {
    for (const Statement_Case &c : BODY_CASES) {
        std::string program = std::string("\n") + c.body + "\n";
        Program p = compile_program_text(program);
        EXPECT_FALSE(p.ok) << c.body;
        std::string expected = std::string("/virtual/main.8:") + c.location + ": error: " + c.message;
        EXPECT_EQ(p.errors.substr(0, expected.size()), expected) << c.body << "\n" << p.errors;
        end_program();
    }
}

// A warning is reported where it is and leaves the compilation successful.
TEST(Compiler_Statements, WarningsDoNotFailTheCompilation) {
    struct Warning_Case {
        const char *body;
        const char *warning; // empty: no warning
    } cases[] = {
        {"switch x {\n#no_break 1 { x = 2; }\nelse: x = 3;\n2: x = 4;\n}",
         "/virtual/main.8:4:1: warning: It looks like the default block of this switch statement is placed in the middle of other blocks."},
        {"switch x {\n#no_break 1 { x = 2; }\n2: x = 4;\nelse: x = 3;\n}", ""},
        {"switch x {\n1 { x = 2; }\nelse: x = 3;\n2: x = 4;\n}", ""},
    };
    for (const Warning_Case &c : cases) {
        Program p = compile_program_text(std::string("#on_load {\nx := 1;\n") + c.body + "\n}\n");
        EXPECT_TRUE(p.ok) << c.body << "\n" << p.errors;
        EXPECT_EQ(compile_errors.count, 0u) << c.body;
        EXPECT_EQ(compile_warnings.count, c.warning[0] ? 1u : 0u) << c.body;
        if (c.warning[0]) {
            EXPECT_EQ(p.errors.substr(0, strlen(c.warning)), c.warning) << p.errors;
        }
        end_program();
    }
}

TEST(Compiler_Statements, AnInlinedBodysMistakeNamesTheCallSite) {
    Program p = compile_program_text("$i: () = #inline { y := z; };\n#on_load { i(); }\n");
    ASSERT_FALSE(p.ok);
    EXPECT_NE(p.errors.find("note: This is the call site."), std::string::npos) << p.errors;
    end_program();
}

// [SECTION] Instruction orders

// Every instruction of `scope`, nested scopes flattened in place.
static void flatten(Scope *scope, std::vector<IR_Instruction *> *out) {
    for (IR_Instruction *in = scope->first_instruction; in; in = in->next) {
        if (in->kind == IR_SCOPE) flatten(in->operands[0].scope, out);
        else out->push_back(in);
    }
}

static std::vector<IR_Instruction *> entry_instructions() {
    std::vector<IR_Instruction *> all;
    Scope *s = global_compiler_state.entry_point_scopes[0];
    if (s) flatten(s, &all);
    return all;
}

// The constants copied into global data, in instruction order.
static std::vector<u64> constants_stored_in_globals(const std::vector<IR_Instruction *> &all) {
    std::vector<u64> out;
    for (IR_Instruction *in : all) {
        if (in->kind == IR_COPY_CONSTANT && in->operands[0].reg.pool == REGISTER_POOL_GLOBAL_DATA) out.push_back(in->operands[1].bits);
    }
    return out;
}

static u32 count_kind(const std::vector<IR_Instruction *> &all, u8 kind) {
    u32 n = 0;
    for (IR_Instruction *in : all) n += in->kind == kind;
    return n;
}

TEST(Compiler_Statements, DeferredBlocksRunInReverseAlsoWhenBreakLeavesTwoScopes) {
    Program p = compile_program_text(
        "g: u32;\n#on_load {\n"
        "  #defer { g = 1; }\n"
        "  #defer { g = 2; }\n"
        "  x := 1;\n"
        "  while x { #defer { g = 3; } while x { #defer { g = 4; } #defer { g = 5; } break 2; } }\n"
        "}\n");
    ASSERT_TRUE(p.ok) << p.errors;
    std::vector<IR_Instruction *> all = entry_instructions();
    std::vector<u64> stored = constants_stored_in_globals(all);
    // At 'break 2': 5, 4 (inner loop), 3 (outer loop); then the inner loop's
    // normal end 5, 4 and the outer's 3; the block's own 2, 1 at its end.
    std::vector<u64> expected = {5, 4, 3, 5, 4, 3, 2, 1};
    EXPECT_EQ(stored, expected);
    end_program();
}

TEST(Compiler_Statements, AnEarlyReturnRunsEveryDeferredBlockInnermostFirst) {
    Program p = compile_program_text(
        "g: u32;\n"
        "$f: (a: u32) = { #defer { g = 1; } if a { #defer { g = 2; } return; } };\n");
    ASSERT_TRUE(p.ok) << p.errors;
    ASSERT_EQ(ir_state.sub_programs.count, 1u);
    Identifier *f = *dynamic_array_at<Identifier *>(&ir_state.sub_programs, 0);
    std::vector<IR_Instruction *> all;
    flatten(f->body_scope, &all);
    std::vector<u64> stored = constants_stored_in_globals(all);
    std::vector<u64> expected = {2, 1, 2, 1}; // the return, then the if block's end and the body's end
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(count_kind(all, IR_RETURN), 1u);
    EXPECT_EQ(all.back()->kind, IR_FRAME_END);
    end_program();
}

TEST(Compiler_Statements, ConstantConditionsLeaveNoCompareOrJump) {
    struct Case {
        const char *condition;
        u32 compares; // IR_COMPARE + IR_COMPARE_TO_ZERO
        u32 conditional_jumps;
    };
    static const Case CASES[] = {
        {"1 == 1", 0, 0},
        {"1 == 2 && x > 3", 0, 0},   // folded false: the block is not placed
        {"1 == 1 && x > 3", 1, 1},   // the constant part drops out
        {"2 > 1 || x > 3", 0, 0},    // folded true
        {"x > 3", 1, 1},
        {"x > 3 && x < 9 || x == 20", 3, 3}, // (a && b) || c
        {"x && y || x", 3, 3},
    };
    for (const Case &c : CASES) {
        std::string program = std::string("g: u32;\n#on_load {\n x: u32; y: u32;\n if ") + c.condition + " { g = 7; }\n}\n";
        Program p = compile_program_text(program);
        ASSERT_TRUE(p.ok) << c.condition << p.errors;
        std::vector<IR_Instruction *> all = entry_instructions();
        EXPECT_EQ(count_kind(all, IR_COMPARE) + count_kind(all, IR_COMPARE_TO_ZERO), c.compares) << c.condition;
        EXPECT_EQ(count_kind(all, IR_JUMP_IF), c.conditional_jumps) << c.condition;
        end_program();
    }
}

TEST(Compiler_Statements, OrJoinsJumpToTheBlockAndAndJoinsFallThrough) {
    // (x > 3 && x < 9) || x == 20: the first two jump past the '||' when
    // false; the middle one is turned into a jump to the block when true.
    Program p = compile_program_text("g: u32;\n#on_load {\n x: u32;\n if x > 3 && x < 9 || x == 20 { g = 7; }\n}\n");
    ASSERT_TRUE(p.ok) << p.errors;
    std::vector<IR_Instruction *> all = entry_instructions();
    std::vector<IR_Instruction *> jumps;
    for (IR_Instruction *in : all) {
        if (in->kind == IR_JUMP_IF) jumps.push_back(in);
    }
    ASSERT_EQ(jumps.size(), 3u);
    EXPECT_EQ(jumps[0]->condition, IR_CONDITION_LE); // x > 3 false: try the right of '||'
    EXPECT_EQ(jumps[1]->condition, IR_CONDITION_LT); // x < 9 true: the block
    EXPECT_EQ(jumps[2]->condition, IR_CONDITION_NE); // x == 20 false: past the block
    EXPECT_EQ(jumps[0]->operands[0].label, jumps[1]->next == nullptr ? nullptr : jumps[0]->operands[0].label);
    EXPECT_NE(jumps[1]->operands[0].label, jumps[2]->operands[0].label);
    end_program();
}

// Each case body is placed once, in case order with the default last, and
// a braced body after ':' ends at its '}' whatever ';' follows later.
TEST(Compiler_Statements, SwitchCaseBodiesInEveryForm) {
    struct Case {
        const char *cases;
        std::vector<u64> stored;
        u32 compares;
    };
    static const Case CASES[] = {
        {"1: { g = 1; } 2: g = 2;", {1, 2}, 2},
        {"1: { g = 1; g = 4; } else: { g = 3; } 2: { }", {1, 4, 3}, 2},
        {"else: { g = 3; }", {3}, 0},
        {"1: g = 1; 2: { g = 2; } 3 { g = 3; }", {1, 2, 3}, 3},
        {"#no_break 1, 5: { g = 1; } 2: g = 2;", {1, 2}, 3},
        {"1: { switch x { 5: { g = 5; } 6: g = 6; } } 2: g = 2;", {5, 6, 2}, 4},
        {"else: g = 9; 1: { g = 1; }", {1, 9}, 1},
    };
    for (const Case &c : CASES) {
        std::string program = std::string("g: u32;\n#on_load {\n x: u32;\n switch x { ") + c.cases + " }\n}\n";
        Program p = compile_program_text(program);
        ASSERT_TRUE(p.ok) << c.cases << "\n" << p.errors;
        std::vector<IR_Instruction *> all = entry_instructions();
        EXPECT_EQ(constants_stored_in_globals(all), c.stored) << c.cases;
        EXPECT_EQ(count_kind(all, IR_COMPARE), c.compares) << c.cases;
        end_program();
    }
}

// The index type of an integer loop: a typed start decides, an untyped
// integer start takes a typed bound's type, otherwise the literal's default.
TEST(Compiler_Statements, TheForLoopIndexTakesItsTypeFromTheTypedValue) {
    struct Case {
        const char *loop;
        u32 size;
        bool is_signed;
    };
    static const Case CASES[] = {
        {"n: s64 = 4; for 0, n {}", 8, true},
        {"n: s32 = 4; for 1, n {}", 4, true},
        {"n: u8 = 4; for 2, n {}", 1, false},
        {"n: s16 = 4; for -3, n {}", 2, true},
        {"n: s64 = 4; for 0, n #step 2 {}", 8, true},
        {"$N: s32 = 9; for 0, N -> i { }", 4, true},
        {"x: s32; n: u8 = 4; for x, n {}", 4, true}, // a typed start wins
        {"for 0, 10 {}", 8, false},
        {"for -2, 10 {}", 8, true},
    };
    for (const Case &c : CASES) {
        std::string program = std::string("#on_load {\n ") + c.loop + "\n}\n";
        Program p = compile_program_text(program);
        EXPECT_TRUE(p.ok) << c.loop << "\n" << p.errors;
        if (!p.ok) {
            end_program();
            continue;
        }
        IR_Instruction *compare = nullptr, *jump = nullptr;
        for (IR_Instruction *in : entry_instructions()) {
            if (in->kind == IR_COMPARE && !compare) compare = in;
            if (in->kind == IR_JUMP_IF && !jump) jump = in;
        }
        ASSERT_NE(compare, nullptr) << c.loop;
        ASSERT_NE(jump, nullptr) << c.loop;
        EXPECT_EQ(compare->operands[0].size, c.size) << c.loop;
        EXPECT_EQ((jump->flags & IR_FLAG_SIGNED) != 0, c.is_signed) << c.loop;
        end_program();
    }
}

TEST(Compiler_Statements, TheInnermostScopeWithAMatchingOverloadDecides) {
    Program p = compile_program_text(
        "$f: (a: u8) = {};\n"
        "$g: () = { $f: (a: u32) = {}; f(1); };\n");
    ASSERT_TRUE(p.ok) << p.errors;
    Identifier *g = nullptr;
    for (u32 i = 0; i < ir_state.sub_programs.count; i++) {
        Identifier *id = *dynamic_array_at<Identifier *>(&ir_state.sub_programs, i);
        if (id->name_length == 1 && id->name[0] == 'g') g = id;
    }
    ASSERT_NE(g, nullptr);
    std::vector<IR_Instruction *> all;
    flatten(g->body_scope, &all);
    IR_Instruction *call = nullptr;
    for (IR_Instruction *in : all) {
        if (in->kind == IR_CALL) call = in;
    }
    ASSERT_NE(call, nullptr);
    EXPECT_EQ(call->operands[0].sub_program->signature->parameters[0].type, global_compiler_state.type_u32);
    end_program();
}

TEST(Compiler_Statements, DefaultAndNamedArgumentsFillTheArgumentBlock) {
    Program p = compile_program_text(
        "$f: (a: u32, b: u32 = 40, c: u8 = 2) = {};\n"
        "#on_load { f(c = 9, a = 1); }\n");
    ASSERT_TRUE(p.ok) << p.errors;
    std::vector<IR_Instruction *> all = entry_instructions();
    // The three copies into the argument block, in parameter order.
    std::vector<u64> copied;
    for (IR_Instruction *in : all) {
        if (in->kind == IR_COPY_CONSTANT && in->operands[0].reg.pool == REGISTER_POOL_CALL_DATA) copied.push_back(in->operands[1].bits);
    }
    std::vector<u64> expected = {1, 40, 9};
    EXPECT_EQ(copied, expected);
    EXPECT_EQ(count_kind(all, IR_CALL), 1u);
    end_program();
}

TEST(Compiler_Statements, AGlobalStringPointsAtItsBytesThroughARelocation) {
    Program p = compile_program_text("s := \"hello\";\n#on_load { t := s; }\n");
    ASSERT_TRUE(p.ok) << p.errors;
    ASSERT_EQ(ir_state.global_relocations.count, 1u);
    Relocation *r = dynamic_array_at<Relocation>(&ir_state.global_relocations, 0);
    EXPECT_EQ(r->location_offset, 0u);
    EXPECT_EQ(r->section, REGISTER_POOL_GLOBAL_DATA);
    u8 *data = ir_state.global_data + get_register_offset_in_global_data(nullptr, r->location);
    u64 count;
    memcpy(&count, data + 8, 8);
    EXPECT_EQ(count, 5u);
    end_program();
}

TEST(Compiler_Statements, ASubProgramAddressIsCalledThroughItsRegister) {
    Program p = compile_program_text("$f: (a: u32) -> u32 = { return a; };\n#on_load { v := f; w := v(2); }\n");
    ASSERT_TRUE(p.ok) << p.errors;
    std::vector<IR_Instruction *> all = entry_instructions();
    EXPECT_EQ(count_kind(all, IR_COPY_SUB_PROGRAM_ADDRESS), 1u);
    EXPECT_EQ(count_kind(all, IR_CALL_INDIRECT), 1u);
    EXPECT_EQ(count_kind(all, IR_CALL), 0u);
    end_program();
}

TEST(Compiler_Statements, AMemberBroughtInTwoLevelsDownIsAViewAtItsWholeOffset) {
    Program p = compile_program_text(
        "$A: #struct { a: u8; };\n$B: #struct { z: u32; #using x: A; };\n$C: #struct { w: u16; #using y: B; };\n"
        "#on_load { c: C; c.a = 1; }\n");
    ASSERT_TRUE(p.ok) << p.errors;
    IR_Instruction *store = nullptr;
    for (IR_Instruction *in : entry_instructions()) {
        if (in->kind == IR_COPY_CONSTANT && in->operands[0].reg.kind == REGISTER_KIND_VIEW) store = in;
    }
    ASSERT_NE(store, nullptr);
    Register *view = get_register(nullptr, store->operands[0].reg);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->view_offset, 8u); // y at 4, x at 4 inside B
    EXPECT_EQ(store->operands[0].size, 1u);
    end_program();
}

TEST(Compiler_Statements, EveryStatementFormCompiles) {
    Program p = compile_program_text(
        "$add: (a: u32, b: u32 = 2) -> u32 = { return a + b; };\n"
        "$add: (a: f32, b: f32, c: f32) -> f32 = { return a + b + c; };\n"
        "$twice: (x: s64) -> s64 = #inline { return x * 2; };\n"
        "g: u32 = 7;\n"
        "$Point: #struct { x: s32; y: s32; };\n"
        "$E: #enum u8 = { $A; $B; };\n"
        "#on_load {\n"
        "  x := add(1); y := add(b = 3, a = x); f := add(1.0, 2.5, 3);\n"
        "  p: Point; p.x = 5; p.y += p.x; q := @p; q.x = 2;\n"
        "  for 0, 10 -> i { if i == 3 { continue; } else if i > 7 && i != 9 || x == 2 { break; } else { g += 1; } }\n"
        "  for 10, 0 #step 2 { g -= 1; }\n"
        "  while x < 100 { x += 1; #defer { g += 2; } }\n"
        "  switch x { 1: g = 3; #no_break 2, 3 { g = 4; } else: g = 5; }\n"
        "  e := E.A; switch e #all_values { .A: g = 1; .B: g = 2; }\n"
        "  arr: [4] u8; arr[2] = 3; for arr -> v, k { g += v; } for @arr { it[0] = 1; }\n"
        "  s := \"abc\"; for s { g += it; }\n"
        "  z := twice(5); w := -z; n := !x; m := ~x; c := cast(x, u8); d := cast(f, s32);\n"
        "  { inner := 1; }\n"
        "  #if COMPILER_TARGET_OS == .LINUX { g = 9; } else { g = 8; }\n"
        "  #insert #code { g = 10; };\n"
        "  debug_break;\n"
        "  #assert(1 + 1 == 2, \"math\");\n"
        "}\n"
        "#events { g = 1; }\n"
        "#syntax { g = 2; }\n");
    EXPECT_TRUE(p.ok) << p.errors;
    for (u32 i = 0; i < 3; i++) {
        Scope *s = global_compiler_state.entry_point_scopes[i];
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->first_instruction->kind, IR_FRAME_START);
        EXPECT_EQ(s->last_instruction->kind, IR_FRAME_END);
    }
    end_program();
}

// [SECTION] Memory

// Bytes of the compiler arena in use: each block up to the current one.
static u64 arena_bytes_used() {
    u64 n = 0;
    for (Arena_Block *b = global_compiler_state.arena.first; b; b = b->next) {
        n += b->used;
        if (b == global_compiler_state.arena.current) break;
    }
    return n;
}

static std::string many_cases_switch() {
    std::string t = "switch g { ";
    for (int i = 0; i < 40; i++) t += std::to_string(i) + ": g = " + std::to_string(i + 1) + "; ";
    return t + "else: { g = 0; } }";
}

// What a call or a switch keeps after it is compiled grows with what it
// holds, not with a fixed worst case; its scratch memory is all handed back,
// also when it stops on a mistake.
TEST(Compiler_Statements, CallsAndSwitchesKeepOnlyWhatTheyUse) {
    struct Case {
        const char *declarations;
        std::string unit;
        u64 bytes_per_unit; // arena growth allowed for each copy of `unit`
        bool ok;
    };
    const Case CASES[] = {
        {"$f: (a: u32, b: u32) -> u32 = { return a + b; };", "g = f(1, g);", 64, true},
        {"$f: (a: u32, b: u32) -> u32 = { return a + b; };", "g = f(f(1, 2), f(g, b = 3));", 64, true},
        {"$h: (a: f32, b: u8) = {};\n$h: (a: u8) = {};", "h(1.5, 1); h(2);", 64, true},
        {"$f: (a: u32, b: u32 = 4) -> u32 = { return a + b; };\nv := f;", "g = v(1, 2);", 64, true},
        {"$i: (a: u32) -> u32 = #inline { return a * 2; };", "g = i(g);", 512, true},
        {"", "switch g { 1: g = 2; 2, 3: { g = 4; } else: g = 5; }", 1024, true},
        {"", many_cases_switch(), 12288, true},
        {"$f: (a: u32, b: u32) -> u32 = { return a + b; };", "g = f(1);", 0, false},
        {"$f: (a: u32) -> u32 = { return a; };", "switch g { 1: g = f(2, 3); }", 0, false},
    };
    for (const Case &c : CASES) {
        u64 used[2] = {};
        const u32 copies[2] = {1, 33};
        for (u32 k = 0; k < 2; k++) {
            std::string program = std::string("g: u32;\n") + c.declarations + "\n#on_load {\n";
            for (u32 i = 0; i < copies[k]; i++) program += " " + c.unit + "\n";
            program += "}\n";
            u64 tmp_before = tmp_get_position();
            Program p = compile_program_text(program);
            EXPECT_EQ(p.ok, c.ok) << c.unit << "\n" << p.errors;
            EXPECT_EQ(tmp_get_position(), tmp_before) << c.unit;
            used[k] = arena_bytes_used();
            end_program();
        }
        if (c.ok) {
            EXPECT_LE((used[1] - used[0]) / 32, c.bytes_per_unit) << c.unit << ": " << (used[1] - used[0]) / 32;
        }
    }
}

// [SECTION] The language reference

// Every ```8 block of docs/language.md is a whole program that compiles.
TEST(Compiler_Statements, EveryExampleOfTheLanguageReferenceCompiles) {
    FILE *f = fopen(TARNO_SOURCE_DIR "/docs/language.md", "rb");
    ASSERT_NE(f, nullptr);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
    u32 examples = 0;
    for (size_t at = text.find("```8\n"); at != std::string::npos; at = text.find("```8\n", at)) {
        size_t start = at + 5;
        size_t stop = text.find("```", start);
        ASSERT_NE(stop, std::string::npos);
        std::string example = text.substr(start, stop - start);
        Program p = compile_program_text(example);
        EXPECT_TRUE(p.ok) << example << "\n" << p.errors;
        end_program();
        examples++;
        at = stop + 3;
    }
    EXPECT_GE(examples, 10u);
}

TEST(Compiler_Statements, SubProgramAndTypeAddressesInDataAreRelocated) {
    Program p = compile_program_text("$f: () = {};\n$H: #struct { handler: () -> void; kind: Type; };\n$K: H = { f, u32 };\nk := K;\n");
    ASSERT_TRUE(p.ok) << p.errors;
    Identifier *f = get_identifier(global_compiler_state.global_scope, (const u8 *)"f", 1);
    bool code = false, type = false;
    for (u32 i = 0; i < ir_state.global_relocations.count; i++) {
        Relocation *r = dynamic_array_at<Relocation>(&ir_state.global_relocations, i);
        if (r->location_offset == 0 && r->target_sub_program == f) code = true;
        if (r->location_offset == 8 && r->target_type == global_compiler_state.type_u32) type = true;
    }
    EXPECT_TRUE(code);
    EXPECT_TRUE(type);
    end_program();
}

TEST(Compiler_Statements, NotesPointAtTheOtherPlace) {
    const char *cases[][2] = {
        {"$f: (a: u8) = {};\n$f: (a: u16) = {};\n#on_load { f(1); }",
         "3:13: error: There is more than one overload that matches this call.|1:2: note: This is one of them.|2:2: note: This is another one."},
        {"#on_load { switch 1 { 1: {} 1: {} } }", "1:29: error: This value is already tested in this switch statement.|1:23: note: This is the previous test."},
    };
    for (auto &c : cases) {
        Program r = compile_program_text(c[0]);
        std::string lines;
        for (size_t at = 0; (at = r.errors.find("/virtual/main.8:", at)) != std::string::npos; at++) {
            size_t eol = r.errors.find('\n', at);
            if (!lines.empty()) lines.push_back('|');
            lines.append(r.errors, at + 16, eol - at - 16);
        }
        EXPECT_EQ(lines, c[1]) << c[0];
        end_program();
    }
}
