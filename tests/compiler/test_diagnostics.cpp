// Programs that must fail, with the exact report tarnoc prints: path, line,
// column, message, the line text and the underline.
#include <gtest/gtest.h>
#include "compiler_test_util.h"

struct Error_Case {
    const char *name;
    const char *program;
    const char *errors;
};

#define AT "/virtual/main.8:"

static const Error_Case ERROR_CASES[] = {
    // Lexer.
    {"unmatched closing brace", "$A := 1; }", AT "1:10: error: There is no matching '{' for this.\n$A := 1; }\n         ^\n"},
    {"unclosed parenthesis is reported on the opener", "$A := (1;", AT "1:7: error: There is no matching ')' for this.\n$A := (1;\n      ^\n"},
    {"seventeen nested parentheses", "$A := ((((((((((((((((( 1 )))))))))))))))));",
     AT "1:23: error: You can only have up to 16 inner scopes.\n$A := ((((((((((((((((( 1 )))))))))))))))));\n                      ^\n"},
    {"a colon without its semicolon", "$A := 1", AT "1:4: error: There is no corresponding ';' for this ':'.\n$A := 1\n   ^\n"},
    // Pre-parse.
    {"if at global scope", "if x {}", AT "1:1: error: You cannot use if statements in global scope.\nif x {}\n^^\n"},
    {"compound assignment at global scope", "x: u32 += 1;",
     AT "1:8: error: You cannot reassign a value in global scope so only the '=' operator can be used for assignments.\nx: u32 += 1;\n       ^^\n"},
    {"a sub-program must be constant", "f: () = {};",
     AT "1:1: error: For now sub-programs must be constant. This will change in future versions of the compiler.\nf: () = {};\n^\n"},
    {"an enum needs a body", "$E: #enum u8;", AT "1:2: error: You must assign a body to this enum using the '=' operator.\n$E: #enum u8;\n ^\n"},
    {"no type and no value", "x: ;",
     AT "1:1: error: The type of 'x' cannot be determined as no explicit type is provided and no value is set to infer a type from.\nx: ;\n^\n"},
    {"unknown global directive", "#foo;", AT "1:1: error: Directive #foo is either unsupported or cannot be used in this context.\n#foo;\n^^^^\n"},
    {"declaration without a colon", "x = 1;",
     AT "1:3: error: Expected a ':' but got '=' instead. A declaration can take the following forms:\nx: <type>;\nx: <type> = <value>;\nx := <value>;\nx = 1;\n  ^\n"},
    {"a built-in type cannot be declared again", "$u8 := 1;", AT "1:2: error: 'u8' is already declared.\n$u8 := 1;\n ^^\n"},
    {"a duplicate declaration points at the first", "$A := 1;\n$A := 2;",
     AT "2:2: error: 'A' is already declared.\n$A := 2;\n ^\n" AT "1:2: note: This is the previous declaration.\n$A := 1;\n ^\n"},
    {"two entry points of one kind", "#on_load {}\n#on_load {}", AT "2:1: error: The #on_load entry point already exists.\n#on_load {}\n^^^^^^^^\n"},
    {"stray else", "else {}", AT "1:1: error: This else statement does not seem to be part of an #if statement chain.\nelse {}\n^^^^\n"},
    // Lazy resolution and types.
    {"an unknown name", "$A := B;", AT "1:7: error: 'B' was not previously declared.\n$A := B;\n      ^\n"},
    {"a constant needs a value", "$A: u32;", AT "1:2: error: Constants must be initialised with an explicit value.\n$A: u32;\n ^\n"},
    {"nine address levels", "x: @@@@@@@@@ u8;",
     AT "1:12: error: You cannot make a type that has more than 8 addresses in a row pointing to each other.\nx: @@@@@@@@@ u8;\n           ^\n"},
    {"a value is not a type", "$A := 1;\nx: A;", AT "2:4: error: 'A' does not appear to be a type.\nx: A;\n   ^\n"},
    {"too small", "$A: u8 = 256;", AT "1:10: error: The destination (type u8) is too small to contain the source (type u16).\n$A: u8 = 256;\n         ^^^\n"},
    {"unsigned from signed", "$A: s8 = -1;\n$B: u64 = A;",
     AT "2:11: error: You cannot implicitly cast from 's8' to 'u64' as information may be lost.\n$B: u64 = A;\n          ^\n"},
    {"signed from unsigned of the same size", "$A: u32 = 1;\n$B: s32 = A;",
     AT "2:11: error: You cannot implicitly cast from 'u32' to 's32' as information may be lost.\n$B: s32 = A;\n          ^\n"},
    {"f32 from f64", "$A: f64 = 1.0;\n$B: f32 = A;",
     AT "2:11: error: The destination (type f32) is too small to contain the source (type f64).\n$B: f32 = A;\n          ^\n"},
    {"integer from real", "$A: u32 = 1.5;",
     AT "1:11: error: You cannot use a real number as a source with an integer as a destination.\n$A: u32 = 1.5;\n          ^^^\n"},
    // Declarations.
    {"u8 enum limit", "$E: #enum u8 = { $A := 256; };",
     AT "1:24: error: The value assigned to this member (0x100) is too big. The limit is 0xff.\n$E: #enum u8 = { $A := 256; };\n                       ^^^\n"},
    {"s16 enum upper limit", "$E: #enum s16 = { $A := 32768; };",
     AT "1:25: error: The value assigned to this member (32,768) is too big. The limit is 32,767.\n$E: #enum s16 = { $A := 32768; };\n                        ^^^^^\n"},
    {"s16 enum lower limit", "$E: #enum s16 = { $A := -32769; };",
     AT "1:25: error: The value assigned to this member (-32,769) is too small. The limit is -32,768.\n$E: #enum s16 = { $A := -32769; };\n                        ^^^^^^\n"},
    {"invalid flag value", "$F: #enum_flags u32 = { $A; $W := 3; };",
     AT "1:35: error: 0x3 is not a valid flag value.\n$F: #enum_flags u32 = { $A; $W := 3; };\n                                  ^\n"},
    {"unique values", "$E: #enum u8 = #unique_values { $A; $B := 0; };",
     AT "1:43: error: Value 0x0 is already in use by member 'A'.\n$E: #enum u8 = #unique_values { $A; $B := 0; };\n                                          ^\n"},
    {"enum member without dollar", "$E: #enum u8 = { A; };",
     AT "1:18: error: Enum members must be marked as constant. To do so prepend '$' to the member name, e.g. $SOME_VALUE;.\n$E: #enum u8 = { A; };\n                 ^\n"},
    {"enum on a real base", "$E: #enum f32 = { $A; };",
     AT "1:11: error: An enum must be based on an integer type. 'f32' does not appear to be an integer type.\n$E: #enum f32 = { $A; };\n          ^^^\n"},
    {"struct must be constant", "S: #struct { a: u8; };",
     AT "1:1: error: A struct type must be constant. Did you forget to mark 'S' as constant?\nS: #struct { a: u8; };\n^\n"},
    {"duplicate struct member", "$S: #struct { a: u8; a: u16; };", AT "1:22: error: 'a' already exists in this struct.\n$S: #struct { a: u8; a: u16; };\n                     ^\n"},
    {"#no_copy is refused", "$f: (#no_copy a: u32) -> u32 = {};",
     AT "1:6: error: #no_copy is deprecated. Inlined call arguments are *not* copied by default anymore, so if you need to copy them use #copy, e.g. $f: (#copy a: u32) -> #inline {...};.\n$f: (#no_copy a: u32) -> u32 = {};\n     ^^^^^^^^\n"},
    {"duplicate parameter", "$f: (a: u32, a: u8) = {};", AT "1:14: error: Parameter 'a' already exists.\n$f: (a: u32, a: u8) = {};\n             ^\n"},
    {"imported polymorphic", "$f: ($T: Type) = #import;", AT "1:18: error: Polymorphic sub-programs cannot be imported for now.\n$f: ($T: Type) = #import;\n                 ^^^^^^^\n"},
    {"polymorphic struct parameter must be constant", "$P: #struct(T: Type) { a: u8; };",
     AT "1:13: error: The parameters of a polymorphic struct must be constant.\n$P: #struct(T: Type) { a: u8; };\n            ^\n"},
    // Expressions.
    {"chained unary operators", "x := - -y;\ny: s32;", AT "1:8: error: You cannot chain unary operations. Use '()' to separate them.\nx := - -y;\n       ^\n"},
    {"division by zero", "$A := 1 / 0;", AT "1:9: error: It looks like you are dividing by zero.\n$A := 1 / 0;\n        ^\n"},
    {"shift of a real", "$A := 1.5 << 1;", AT "1:11: error: Operator '<<' cannot be used with real numbers.\n$A := 1.5 << 1;\n          ^^\n"},
    {"a constant from a variable", "x: u32 = 1;\n$A := x;", AT "2:7: error: You cannot assign a variable to a constant.\n$A := x;\n      ^\n"},
    {"a string too long to be a number", "$A: u64 = \"123456789\";",
     AT "1:11: error: To use a string as a number, make sure it is no greater than 8 bytes in size. The string you want to use is 9 bytes.\n$A: u64 = \"123456789\";\n          ^^^^^^^^^^^\n"},
    {"index past a fixed-size array", "$A: [2] u8 = [1, 2];\n$B := A[2];",
     AT "2:9: error: The constant array you are trying to dereference has only 2 elements but you are trying to access it at index 2.\n$B := A[2];\n        ^\n"},
    {"too many items for a fixed-size array", "$A: [2] u8 = [1, 2, 3];",
     AT "1:14: error: Array type '[2] u8' can only hold up to 2 elements but you are assigning 3 elements.\n$A: [2] u8 = [1, 2, 3];\n             ^\n"},
    {"alignment not a power of two", "$A: [2] u8 = [1, 2] #align(3);",
     AT "1:28: error: The alignment you provided (3) is incorrect as it is not a power of two.\n$A: [2] u8 = [1, 2] #align(3);\n                           ^\n"},
    {"unknown enum member", "$E: #enum u8 = { $A; };\n$X := E.B;", AT "2:9: error: 'B' is not a member of enum E.\n$X := E.B;\n        ^\n"},
    {"struct literal with too many values", "$P: #struct { x: u8; };\n$A: P = { 1, 2 };",
     AT "2:14: error: Struct 'P' has only 1 member.\n$A: P = { 1, 2 };\n             ^\n"},
    {"struct literal without a type", "$A := { 1 };", AT "1:7: error: The compiler cannot infer the type of this struct literal.\n$A := { 1 };\n      ^\n"},
    {"cast without a type", "$A := cast(1, );", AT "1:13: error: It looks like you forgot to indicate a type to cast to here.\n$A := cast(1, );\n            ^\n"},
    {"real as an address", "$A := cast(1.5, @ u8);",
     AT "1:12: error: Only integers can be used as memory addresses. It looks like you are trying to use a real number instead.\n$A := cast(1.5, @ u8);\n           ^^^\n"},
    {"two values without an operator", "$A := 1 2;",
     AT "1:9: error: The compiler expected a binary operator or the end of a value but got '2' instead.\n$A := 1 2;\n        ^\n"},
    {"a static if with a dynamic condition", "x: u32 = 1;\n#if x {}",
     AT "2:5: error: This expression does not appear to be constant.\n#if x {}\n    ^\n"},
    {"a tab before the range is kept in the underline", "\t$A := B;", AT "1:8: error: 'B' was not previously declared.\n\t$A := B;\n\t      ^\n"},
};

TEST(Compiler_Diagnostics, EachErrorIsReportedWhereItHappens) {
    for (const Error_Case &c : ERROR_CASES) {
        Compile_Result r = compile_text(c.program);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_EQ(r.errors, c.errors) << c.name;
    }
}

TEST(Compiler_Diagnostics, AStringSpanningLinesKeepsLineNumbersRight) {
    Compile_Result r = compile_text("$S := \"a\nb\nc\";\n$A := B;");
    EXPECT_EQ(r.errors, AT "4:7: error: 'B' was not previously declared.\n$A := B;\n      ^\n");
}

TEST(Compiler_Diagnostics, CommentsNestAndIgnoreQuotedClosers) {
    Compile_Result r = compile_text("/* a /* b */ \"*/\" c */ $A := 1;");
    EXPECT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.dump, "A : u64 = 1\n");
}

TEST(Compiler_Diagnostics, SixteenNestedParenthesesAreAccepted) {
    Compile_Result r = compile_text("$A := ((((((((((((((((1))))))))))))))));");
    EXPECT_TRUE(r.ok) << r.errors;
}
