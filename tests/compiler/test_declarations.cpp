// Declarations through the globals dump: struct layouts with nested structs,
// unions and alignment; enums with their bases, flags and limits.
#include <gtest/gtest.h>
#include "compiler_test_util.h"

struct Layout_Case {
    const char *name;
    const char *program;
    const char *dump;
};

static const Layout_Case LAYOUT_CASES[] = {
    {"a nested struct is aligned as a whole",
     "$In: #struct { a: u8; b: u16; };\n$Out: #struct { c: u8; i: In; d: u8; };",
     "In : struct size 4 align 2\n  .a : u8 @ 0\n  .b : u16 @ 2\n"
     "Out : struct size 8 align 2\n  .c : u8 @ 0\n  .i : In @ 2\n  .d : u8 @ 6\n"},
    {"the widest member sets the alignment",
     "$S: #struct { a: u8; b: u64; c: u16; };",
     "S : struct size 24 align 8\n  .a : u8 @ 0\n  .b : u64 @ 8\n  .c : u16 @ 16\n"},
    {"addresses and strings are 8-byte aligned",
     "$S: #struct { a: u8; p: @ u8; s: String; t: Type; };",
     "S : struct size 40 align 8\n  .a : u8 @ 0\n  .p : @ u8 @ 8\n  .s : String @ 16\n  .t : Type @ 32\n"},
    {"an anonymous struct block is placed as a unit",
     "$S: #struct { a: u8; #struct { b: u8; c: u32; }; d: u8; };",
     "S : struct size 16 align 4\n  .a : u8 @ 0\n  .b : u8 @ 4\n  .c : u32 @ 8\n  .d : u8 @ 12\n"},
    {"a struct block inside a union",
     "$S: #struct { #union { a: u64; #struct { b: u32; c: u32; }; }; d: u8; };",
     "S : struct size 16 align 8\n  .a : u64 @ 0\n  .b : u32 @ 0\n  .c : u32 @ 4\n  .d : u8 @ 8\n"},
    {"a union's size is its largest member",
     "$S: #struct { #union { a: u8; b: [3] u32; }; };",
     "S : struct size 12 align 4\n  .a : u8 @ 0\n  .b : [3] u32 @ 0\n"},
    {"an empty struct", "$S: #struct { };", "S : struct size 0 align 1\n"},
    {"a struct of only constants", "$S: #struct { $A := 1; $B := 2; };", "S : struct size 0 align 1\n"},
    {"an enum member uses its base's size", "$E: #enum u16 = { $A; };\n$S: #struct { a: u8; e: E; };",
     "E : enum u16\n  .A = 0\nS : struct size 4 align 2\n  .a : u8 @ 0\n  .e : E @ 2\n"},
    {"a member of a type declared later", "$S: #struct { t: T; };\n$T: #struct { x: u32; y: u8; };",
     "S : struct size 8 align 4\n  .t : T @ 0\nT : struct size 8 align 4\n  .x : u32 @ 0\n  .y : u8 @ 4\n"},
    {"an address of the struct itself", "$L: #struct { next: @ L; v: u8; };", "L : struct size 16 align 8\n  .next : @ L @ 0\n  .v : u8 @ 8\n"},
    {"a nested struct declared inside", "$O: #struct { $I: #struct { x: u16; }; i: I; b: u8; };",
     "O : struct size 4 align 2\n  .i : O.I @ 0\n  .b : u8 @ 2\n"},
    {"#using brings members in", "$In: #struct { x: u32; };\n$S: #struct { a: u8; #using i: In; };\n$V: S = { 1, { 2 } };\n$X := V.x;",
     "In : struct size 4 align 4\n  .x : u32 @ 0\nS : struct size 8 align 4\n  .a : u8 @ 0\n  .i : In @ 4\nV : S = {1, {2}}\nX : u32 = 2\n"},
    {"a polymorphic instance is laid out for its arguments",
     "$P: #struct($T: Type, $N: u32 = 2) { a: u8; v: T; $K := N; };\nx: P(u64);\ny: P(u16, 5);\n$Q := P(u16, N = 5).K;",
     "P : polymorphic struct\nx : P(u64, 2)\ny : P(u16, 5)\nQ : u32 = 5\n"},
    {"defaults of members go to the variable", "$S: #struct { a: u8 = 3; b: s16 = -2; };\nv: S;",
     "S : struct size 4 align 2\n  .a : u8 @ 0\n  .b : s16 @ 2\nv : S\n"},
    {"a member default is used by a struct literal", "$S: #struct { a: u8 = 3; b: s16 = -2; };\n$V: S = { b = 5 };",
     "S : struct size 4 align 2\n  .a : u8 @ 0\n  .b : s16 @ 2\nV : S = {3, 5}\n"},
};

TEST(Compiler_Declarations, StructLayouts) {
    for (const Layout_Case &c : LAYOUT_CASES) {
        Compile_Result r = compile_text(c.program);
        ASSERT_TRUE(r.ok) << c.name << "\n" << r.errors;
        EXPECT_EQ(r.dump, c.dump) << c.name;
    }
}

static const Layout_Case ENUM_CASES[] = {
    {"flags continue doubling after an explicit value", "$F: #enum_flags u8 = { $A := 4; $B; $C; };",
     "F : enum u8\n  .A = 4\n  .B = 8\n  .C = 16\n"},
    {"a zero flag is followed by one", "$F: #enum_flags u16 = { $Z := 0; $A; $B; };", "F : enum u16\n  .Z = 0\n  .A = 1\n  .B = 2\n"},
    {"signed bases print signed", "$E: #enum s8 = { $LO := -128; $N; $HI := 127; };",
     "E : enum s8\n  .LO = -128\n  .N = -127\n  .HI = 127\n"},
    {"a u32 base accepts its maximum", "$E: #enum u32 = { $M := 0xFFFFFFFF; };", "E : enum u32\n  .M = 4294967295\n"},
    {"a u64 base is not checked", "$E: #enum u64 = { $M := 0xFFFFFFFFFFFFFFFF; };", "E : enum u64\n  .M = 18446744073709551615\n"},
    {"s32 limits", "$E: #enum s32 = { $LO := -2147483648; $HI := 2147483647; };", "E : enum s32\n  .LO = -2147483648\n  .HI = 2147483647\n"},
    {"members refer to earlier members", "$E: #enum u8 = { $A := 3; $B := A * 2; $C; };", "E : enum u8\n  .A = 3\n  .B = 6\n  .C = 7\n"},
    {"a member typed with the enum", "$E: #enum u8 = { $A; $B: E = 5; };", "E : enum u8\n  .A = 0\n  .B = 5\n"},
    {"a member typed with the base", "$E: #enum u8 = { $A: u8 = 9; $B; };", "E : enum u8\n  .A = 9\n  .B = 10\n"},
    {"a member constant from outside", "$K := 40;\n$E: #enum u8 = { $A := K + 2; };", "K : u64 = 40\nE : enum u8\n  .A = 42\n"},
    {"a static #if inside an enum", "$E: #enum u8 = { $A; #if 1 == 2 { $B; } else { $C; } $D; };",
     "E : enum u8\n  .A = 0\n  .C = 1\n  .D = 2\n"},
    {"an enum based on an enum's base through a constant type", "$T := #type(u16);\n$E: #enum T = { $A; };",
     "T : Type = u16\nE : enum u16\n  .A = 0\n"},
    {"unique values accept distinct values", "$E: #enum u8 = #unique_values { $A := 2; $B := 0; $C := 1; };",
     "E : enum u8\n  .A = 2\n  .B = 0\n  .C = 1\n"},
    {"enum values compare and convert", "$E: #enum u8 = { $A; $B; };\n$X := E.B == .B;\n$Y: u32 = E.B;\n$Z: E = E.A;",
     "E : enum u8\n  .A = 0\n  .B = 1\nX : b8 = 1\nY : u32 = 1\nZ : E = 0\n"},
};

TEST(Compiler_Declarations, EnumValues) {
    for (const Layout_Case &c : ENUM_CASES) {
        Compile_Result r = compile_text(c.program);
        ASSERT_TRUE(r.ok) << c.name << "\n" << r.errors;
        EXPECT_EQ(r.dump, c.dump) << c.name;
    }
}

struct Limit_Case {
    const char *program;
    const char *message;
};

static const Limit_Case LIMIT_CASES[] = {
    {"$E: #enum s8 = { $A := 128; };", "The value assigned to this member (128) is too big. The limit is 127."},
    {"$E: #enum s8 = { $A := 127; $B; };", "The value assigned to this member (128) is too big. The limit is 127."},
    {"$E: #enum s32 = { $A := 2147483648; };", "The value assigned to this member (2,147,483,648) is too big. The limit is 2,147,483,647."},
    {"$E: #enum s32 = { $A := -2147483649; };", "The value assigned to this member (-2,147,483,649) is too small. The limit is -2,147,483,648."},
    {"$E: #enum u32 = { $A := 0x100000000; };", "The value assigned to this member (0x100000000) is too big. The limit is 0xffffffff."},
    {"$E: #enum u8 = { $A := 255; $B; };", "The value assigned to this member (0x100) is too big. The limit is 0xff."},
    {"$F: #enum_flags u8 = { $A := 0x40; $B; $C; };", "The value assigned to this member (0x100) is too big. The limit is 0xff."},
    {"$F: #enum_flags u32 = { $A := 6; };", "0x6 is not a valid flag value."},
    {"$E: #enum u8 = #unique_values { $A := 5; $B := 5; };", "Value 0x5 is already in use by member 'A'."},
    {"$E: #enum u8 = #unique_values { $A := 1; $B := 0; $C; };", "The infered value of member 'C' (0x1) is already in use by member 'A'."},
    {"$E: #enum u8 = { $A := -1; };", "The value assigned to this member (0xffffffffffffffff) is too big. The limit is 0xff."},
    {"$E: #enum u8 = { $A: ; };", "Expected ';', '?' or an explicit type but got ';' instead."},
    {"$E: #enum u8 = { $A: ? 1; };", "Expected ';', '?' or an explicit type but got '1' instead."},
    {"$E: #enum u8 = { $A += 1; };", "You cannot use operator '+=' here as this is supposed to be an enum member declaration."},
    {"$E: #enum u8 = { $5; };", "Expected a member name but got '5' instead."},
    {"$E: #enum u8 = { $A 1; };", "This does not look like an enum member declaration. Did you forget to put a ':' after the member name? (Note that you cannot execute instructions inside an enum.)"},
    {"$E: #enum u8 = { $A };", "Enum members are declared like struct members. You can omit the type and assignment entirely. In any case a declaration must end with a ';'."},
    {"$E: #enum u8 = { #foo; };", "Directive '#foo' is unknown or not supported here."},
    {"$E: #enum u8 = { #if { $A; } };", "Did you forget to specify a condition?"},
    {"$E: #enum u8 = { #if 1; };", "Did you forget to associate a code block with this statement?"},
    {"$E: #enum u8 = { else { $A; } };", "This else statement does not seem to be part of any #if statement."},
    {"$E: #enum u8 = { #if 1 { $A; } else 2 { $B; } };", "else statements cannot contain a condition."},
    {"$E: #enum 5 = { $A; };", "Expected a type to base the enum on but got '5' instead."},
    {"$E: #enum u8 #unique_values = { $A; };", "Expected '=' before the enum block but got '#unique_values' instead."},
    {"$S: #struct { x: u8; };\n$E: #enum S = { $A; };", "An enum must be based on an integer type. 'S' does not appear to be an integer type."},
    {"$X := E.A;\n$E: #enum u8 = { $A; };\n$Y := E.Q;", "'Q' is not a member of enum E."},
};

TEST(Compiler_Declarations, EnumLimitsAndMistakes) {
    for (const Limit_Case &c : LIMIT_CASES) {
        Compile_Result r = compile_text(c.program);
        ASSERT_FALSE(r.ok) << c.program;
        size_t at = r.errors.find(": error: ");
        ASSERT_NE(at, std::string::npos) << r.errors;
        EXPECT_EQ(r.errors.substr(at + 9, r.errors.find('\n') - at - 9), c.message) << c.program;
    }
}
