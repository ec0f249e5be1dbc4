// Types: their printed forms, when two are the same, and which sources each
// destination accepts implicitly, checked on the descriptors themselves.
#include <gtest/gtest.h>
#include <string>
#include "compiler_test_util.h"
#include "compiler/front/compiler.h"

static std::string str(String s) { return std::string((const char *)s.data, (size_t)s.count); }

struct Print_Case {
    const char *type_text;
    const char *printed;
};

static const Print_Case PRINT_CASES[] = {
    {"u8", "u8"},
    {"@ u8", "@ u8"},
    {"@@@ s64", "@@@ s64"},
    {"[] u8", "[] u8"},
    {"[] @ u8", "[] @ u8"},
    {"@ [] u8", "@ [] u8"},
    {"[4] u16", "[4] u16"},
    {"[2 * 3] u8", "[6] u8"},
    {"[2] [3] u8", "[2] [3] u8"},
    {"(u32, u32) -> b8", "(u32, u32) -> b8"},
    {"()", "()"},
    {"(a: String, b: @ void) -> @ u8", "(String, @ void) -> @ u8"},
    {"@ (u8) -> u8", "@ (u8) -> u8"},
    {"Outer.Inner", "Outer.Inner"},
    {"@ Outer.Inner", "@ Outer.Inner"},
    {"Outer.Inner.Deep", "Outer.Inner.Deep"},
    {"E", "E"},
    {"#type_of(K)", "u16"},
    {"#type_of(O.x)", "Outer.Inner"},
    {"#type_of(\"s\")", "String"},
};

TEST(Compiler_Types, PrintedForms) {
    const std::string header = "$Outer: #struct { $Inner: #struct { $Deep: #enum u8 = { $A; }; v: u8; }; x: Inner; };\n"
                               "$E: #enum u32 = { $A; };\n$K: u16 = 1;\n$O: Outer = {};\n";
    for (const Print_Case &c : PRINT_CASES) {
        Compile_Result r = compile_text_keep(header + "$T := #type(" + c.type_text + ");");
        ASSERT_TRUE(r.ok) << c.type_text << "\n" << r.errors;
        Identifier *t = kept_type("T");
        ASSERT_NE(t, nullptr) << c.type_text;
        EXPECT_EQ(str(type_to_string(t)), c.printed) << c.type_text;
        EXPECT_STREQ(type_to_c_string(t), c.printed) << c.type_text;
    }
}

TEST(Compiler_Types, DerivedTypesExistOnceAndMatchByShape) {
    Compile_Result r = compile_text_keep(
        "$A := #type([] u8);\n$B := #type([] u8);\n$C := #type(@ u8);\n$D := #type(@ u8);\n$F := #type([3] u8);\n"
        "$G := #type([3] u8);\n$H := #type([4] u8);\n$P: #struct($T: Type) { v: T; };\n$I := #type(P(u8));\n$J := #type(P(u8));\n"
        "$K := #type(P(u16));\n$S1: #struct { a: u8; };\n$S2: #struct { a: u8; };\n$L := #type((@ void) -> u8);\n"
        "$M := #type((@ u32) -> u8);\n$N := #type((@@ void) -> u8);\n$V := #type(@@ void);");
    ASSERT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(kept_type("A"), kept_type("B"));
    EXPECT_EQ(kept_type("C"), kept_type("D"));
    EXPECT_EQ(kept_type("F"), kept_type("G"));
    EXPECT_EQ(kept_type("I"), kept_type("J"));
    struct Match_Case {
        const char *a, *b;
        bool match;
    } cases[] = {
        {"A", "B", true},   {"C", "D", true},  {"F", "H", false}, {"I", "K", false}, {"A", "C", false},
        {"S1", "S2", false}, // same shape, different names
        {"L", "M", true},   // '@ void' parameter against '@ u32'
        {"M", "L", true},   {"N", "M", false},
        {"N", "L", true}, // '@ void' is not deeper than '@@ void'
        {"V", "C", false},
    };
    for (auto &c : cases) {
        Identifier *a = kept_type(c.a) ? kept_type(c.a) : kept_global(c.a);
        Identifier *b = kept_type(c.b) ? kept_type(c.b) : kept_global(c.b);
        ASSERT_TRUE(a && b) << c.a << " " << c.b;
        EXPECT_EQ(types_perfectly_match(a, b), c.match) << c.a << " vs " << c.b;
    }
    EXPECT_TRUE(type_to_memory_address_of_type(kept_global("u8"), 1) == kept_type("C"));
    Identifier *two = type_to_memory_address_of_type(kept_type("C"), 1);
    EXPECT_EQ(two->pointer_depth, 2);
    EXPECT_EQ(two->leaf_type, kept_global("u8"));
    EXPECT_EQ(str(type_to_string(two)), "@@ u8");
    EXPECT_EQ(kept_type("F")->max_count, 3u);
    EXPECT_EQ(kept_type("F")->element_type, kept_global("u8"));
}

struct Mix_Case {
    const char *destination;
    const char *source;
    const char *message; // empty: accepted
};

static const Mix_Case MIX_CASES[] = {
    {"s64", "u32", ""},
    {"u64", "s8", "You cannot implicitly cast from 's8' to 'u64' as information may be lost."},
    {"s32", "u32", "You cannot implicitly cast from 'u32' to 's32' as information may be lost."},
    {"s32", "u16", ""},
    {"u16", "u32", "The destination (type u16) is too small to contain the source (type u32)."},
    {"s16", "s64", "The destination (type s16) is too small to contain the source (type s64)."},
    {"u32", "u32", ""},
    {"f32", "f64", "The destination (type f32) is too small to contain the source (type f64)."},
    {"f64", "f32", ""},
    {"f64", "u64", ""},
    {"f32", "s64", ""},
    {"u8", "f32", "You cannot use a real number as a source with an integer as a destination."},
    {"b8", "u64", ""},
    {"u8", "b8", ""},
    {"b8", "f64", ""},
    {"f32", "b8", ""},
    {"b8", "@ u8", ""},
    {"@ void", "@ u8", ""},
    {"@ void", "@@ u8", ""},
    {"@@ void", "@ u8", "Type mismatch: wanted '@@ void' but got '@ u8' instead."},
    {"@ u8", "@ u8", ""},
    {"@ u8", "@ u16", "Type mismatch: wanted '@ u8' but got '@ u16' instead."},
    {"@ u8", "@ void", "Type mismatch: wanted '@ u8' but got '@ void' instead."},
    {"u16", "E8", ""}, // an enum is its base type
    {"u8", "E16", "The destination (type u8) is too small to contain the source (type E16)."},
    {"E16", "u8", ""},
    {"String", "u8", "Type mismatch: wanted 'String' but got 'u8' instead."},
    {"S", "String", "Type mismatch: wanted 'S' but got 'String' instead."},
    {"[] u8", "[] u8", ""},
    {"[] u8", "[] u16", "Type mismatch: wanted '[] u8' but got '[] u16' instead."},
};

TEST(Compiler_Types, ImplicitMixesFollowTheTable) {
    std::string program = "$E8: #enum u8 = { $A; };\n$E16: #enum u16 = { $A; };\n$S: #struct { a: u8; };\n";
    int n = 0;
    for (const Mix_Case &c : MIX_CASES) {
        program += "$D" + std::to_string(n) + " := #type(" + c.destination + ");\n";
        program += "$S" + std::to_string(n) + " := #type(" + c.source + ");\n";
        n++;
    }
    Compile_Result r = compile_text_keep(program);
    ASSERT_TRUE(r.ok) << r.errors;
    n = 0;
    for (const Mix_Case &c : MIX_CASES) {
        Identifier *d = kept_type(("D" + std::to_string(n)).c_str());
        Identifier *s = kept_type(("S" + std::to_string(n)).c_str());
        n++;
        ASSERT_TRUE(d && s) << c.destination << " <- " << c.source;
        String message = {};
        bool accepted = check_imperfect_types_mix_no_error(d, s, &message);
        EXPECT_EQ(accepted, c.message[0] == 0) << c.destination << " <- " << c.source;
        if (!accepted) {
            EXPECT_EQ(str(message), c.message) << c.destination << " <- " << c.source;
        }
    }
}

TEST(Compiler_Types, SizesAndAlignmentsOfDerivedTypes) {
    Compile_Result r = compile_text("$A := #size_of([4] u16);\n$B := #size_of(#type((u8) -> u8));\n$C := #size_of(@@ u8);\n"
                                    "$D := #size_of(String);\n$E := #size_of(Type);\n$F := #size_of(void);\n"
                                    "$S: #struct { a: u8; b: [3] u16; };\n$G := #size_of(S);\n$H := #size_of(b8);");
    ASSERT_TRUE(r.ok) << r.errors;
    // A fixed-size array is its own struct: data address plus count.
    EXPECT_EQ(r.dump, "A : u64 = 16\nB : u64 = 8\nC : u64 = 8\nD : u64 = 16\nE : u64 = 8\nF : u64 = 0\n"
                      "S : struct size 8 align 2\n  .a : u8 @ 0\n  .b : [3] u16 @ 2\nG : u64 = 8\nH : u64 = 1\n");
}
