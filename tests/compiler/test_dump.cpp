// Whole programs through --check and the globals dump: values, types and
// layouts the language fixes.
#include <gtest/gtest.h>
#include "compiler_test_util.h"

struct Dump_Case {
    const char *name;
    const char *program;
    const char *dump;
};

static const Dump_Case DUMP_CASES[] = {
    {"a constant array's count is its number of items", "$A: [3] u32 = [1, 2, 3];\n$N := A.count;\n$B: [] s32 = [1, 2, 3, 4];\n$M := B.count;",
     "A : [3] u32 = [1, 2, 3]\nN : s64 = 3\nB : [] s32 = [1, 2, 3, 4]\nM : s64 = 4\n"},
    {"enum values infer and continue after an explicit one", "$E: #enum u8 = { $A; $B; $K := 10; $D; };",
     "E : enum u8\n  .A = 0\n  .B = 1\n  .K = 10\n  .D = 11\n"},
    {"flag enum doubles from one", "$F: #enum_flags u32 = { $NONE; $X; $Y; $Z; };",
     "F : enum u32\n  .NONE = 0\n  .X = 1\n  .Y = 2\n  .Z = 4\n"},
    {"s16 enum accepts its upper limit", "$E: #enum s16 = { $HI := 32767; $LO := -32768; };",
     "E : enum s16\n  .HI = 32767\n  .LO = -32768\n"},
    {"struct members are aligned and the size rounded", "$S: #struct { x: u8; y: u32; z: u8; };",
     "S : struct size 12 align 4\n  .x : u8 @ 0\n  .y : u32 @ 4\n  .z : u8 @ 8\n"},
    {"union members share an offset", "$S: #struct { a: u8; #union { b: u32; c: u16; }; d: u8; };",
     "S : struct size 12 align 4\n  .a : u8 @ 0\n  .b : u32 @ 4\n  .c : u16 @ 4\n  .d : u8 @ 8\n"},
    {"constant members take no space", "$S: #struct { $K := 3; a: u64; };", "S : struct size 8 align 8\n  .a : u64 @ 0\n"},
    {"embedded fixed-size array", "$S: #struct { n: u8; a: [3] u16; };", "S : struct size 8 align 2\n  .n : u8 @ 0\n  .a : [3] u16 @ 2\n"},
    {"a constant may use one declared later", "$A := B + 1;\n$B := 2;", "A : u64 = 3\nB : u64 = 2\n"},
    {"untyped literals take their default types", "x := 5;\ny := -5;\nz := 1.5;\nw := \"hi\";",
     "x : u64 = 5\ny : s64 = -5\nz : f32 = 1.5\nw : String = \"hi\"\n"},
    {"integer literal forms", "$A := 1_000_000;\n$B := 0xff;\n$C := 0xFF;\n$D := 0b101;\n$E := -0x10;",
     "A : u64 = 1000000\nB : u64 = 255\nC : u64 = 255\nD : u64 = 5\nE : s64 = -16\n"},
    {"priorities: a - b * k and left grouping", "$A := 10 - 2 * 3;\n$B := 10 - 2 - 3;\n$C := 1 == 1 && 0;\n$D := 5-2*3;",
     "A : u64 = 4\nB : u64 = 5\nC : b8 = 0\nD : s64 = -1\n"},
    {"logical not of constants is one byte", "$A := !0;\n$B := !5;\n$C := !0.0;", "A : b8 = 1\nB : b8 = 0\nC : b8 = 1\n"},
    {"rotations stay within the type", "$A: u8 = 0x81;\n$B := A <<< 1;\n$C := A >>> 1;", "A : u8 = 129\nB : u8 = 3\nC : u8 = 192\n"},
    {"string escapes", "$S := \"a\\tb\\q\\7\";", "S : String = \"a\\tb?\\x07\"\n"},
    {"reals print shortest", "$A: f64 = 0.1;\n$B: f32 = 0.1;\n$C := #as_float(0x3f800000);", "A : f64 = 0.1\nB : f32 = 0.1\nC : f32 = 1\n"},
    {"types as values", "$T := #type(@@ u8);\n$U := #type([] u32);\n$V := #type((u32, u32) -> b8);",
     "T : Type = @@ u8\nU : Type = [] u32\nV : Type = (u32, u32) -> b8\n"},
    {"size of types and values", "$S: #struct { a: u64; b: u8; };\n$A := #size_of(S);\n$B := #size_of(@ u8);\n$C := #size_of([] u8);",
     "S : struct size 16 align 8\n  .a : u64 @ 0\n  .b : u8 @ 8\nA : u64 = 16\nB : u64 = 8\nC : u64 = 24\n"},
    {"sub-program signatures", "$f: (a: u32, b: u32) -> b8 = {};\n$g: (s: String) = #import;\n$h: ($T: Type, x: T) = {};",
     "f : (u32, u32) -> b8\ng : (String)\nh : polymorphic sub-program\n"},
    {"struct and array literals fold", "$P: #struct { x: s32; y: s32 = 7; };\n$A: P = { x = 1 };\n$B := A.y;\n$C: [3] u8 = [1, 2, 3];\n$D := C[2];",
     "P : struct size 8 align 4\n  .x : s32 @ 0\n  .y : s32 @ 4\nA : P = {1, 7}\nB : s32 = 7\nC : [3] u8 = [1, 2, 3]\nD : u8 = 3\n"},
    {"enum members through the enum and from the expected type", "$E: #enum u16 = { $A; $B; };\n$X := E.B;\n$Y: E = .A;",
     "E : enum u16\n  .A = 0\n  .B = 1\nX : E = 1\nY : E = 0\n"},
    {"polymorphic struct instances are shared", "$P: #struct($T: Type) { v: T; };\n$A := #type(P(u16));\n$B := #type(P(u16));\nx: P(u8);",
     "P : polymorphic struct\nA : Type = P(u16)\nB : Type = P(u16)\nx : P(u8)\n"},
    {"static #if uses a later constant", "#if MODE == 2 { $X := 20; } else { $X := 10; }\n$MODE := 2;", "MODE : u64 = 2\nX : u64 = 20\n"},
    {"#insert of an #insert", "$C := #code { #insert D; };\n$D := #code { $Y := 4; };\n#insert C;",
     "C : Code = #code\nD : Code = #code\nY : u64 = 4\n"},
    {"compiler target constants", "$P := COMPILER_TARGET_PLATFORM;\n$O := COMPILER_TARGET_OS == .LINUX;",
     "P : Compiler_Target_Platform = 1\nO : b8 = 1\n"},
    {"casts between numbers and to addresses", "$A := cast(-1.5, s32);\n$B := cast(300, u8);\n$C := cast(16, @ void);\n$D := cast(3, b8);",
     "A : s32 = -1\nB : u8 = 44\nC : @ void = 16\nD : b8 = 1\n"},
    {"eight address levels", "x: @@@@@@@@ u8;", "x : @@@@@@@@ u8\n"},
    {"a string as a number", "$A: u32 = \"ab\";", "A : u32 = 25185\n"},
};

TEST(Compiler_Dump, ProgramsGiveTheirGlobals) {
    for (const Dump_Case &c : DUMP_CASES) {
        Compile_Result r = compile_text(c.program);
        EXPECT_TRUE(r.ok) << c.name << "\n" << r.errors;
        EXPECT_EQ(r.dump, c.dump) << c.name;
    }
}

TEST(Compiler_Dump, ASecondCompilationSeesNothingOfTheFirst) {
    Compile_Result first = compile_text("$A := 1;\n$B: u8 = 300;");
    EXPECT_FALSE(first.ok);
    Compile_Result second = compile_text("$B := 2;");
    EXPECT_TRUE(second.ok) << second.errors;
    EXPECT_EQ(second.dump, "B : u64 = 2\n");
}
