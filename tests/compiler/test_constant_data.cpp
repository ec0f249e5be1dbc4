// Struct and array constants in the constant data section, byte for byte,
// with the relocations that point from them to their strings and elements;
// casts through an #as member; what #type_of accepts.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "compiler_test_util.h"
#include "compiler/front/compiler.h"

static std::vector<u8> bytes_of(const char *name) {
    Identifier *id = kept_global(name);
    if (!id || !(id->constant.kind & CONSTANT_IN_DATA)) return {};
    const u8 *p = global_compiler_state.constant_data + id->constant.data_offset;
    return std::vector<u8>(p, p + id->type->size);
}

// Where the relocation at `at` points, or ~0 when there is none.
static u64 relocation_target(u64 at) {
    Dynamic_Array *list = &global_compiler_state.constant_relocations;
    for (u32 i = 0; i < list->count; i++) {
        Constant_Relocation *r = dynamic_array_at<Constant_Relocation>(list, i);
        if (r->at == at) return r->target;
    }
    return ~0ull;
}

TEST(Compiler_Constant_Data, StructConstantsAreLaidOutAsTheProgramReadsThem) {
    Compile_Result r = compile_text_keep(
        "$S: #struct { a: u8; b: u32; c: s16; f: f32; d: f64; };\n$V: S = { 1, 0x01020304, -2, 1.5, -0.5 };\n"
        "$In: #struct { x: u16; y: u8; };\n$O: #struct { i: In; e: [3] u16; z: u8 = 9; };\n$W: O = { { 0x1122, 3 }, [5, 6] };\n"
        "$E: #enum u16 = { $A; $B := 0x3344; };\n$T: #struct { e: E; p: @ void; };\n$X: T = { .B, cast(0x10, @ void) };");
    ASSERT_TRUE(r.ok) << r.errors;
    std::vector<u8> v = bytes_of("V");
    ASSERT_EQ(v.size(), 24u);
    std::vector<u8> expected_v = {1, 0, 0, 0, 4, 3, 2, 1, 0xFE, 0xFF, 0, 0, 0, 0, 0xC0, 0x3F, 0, 0, 0, 0, 0, 0, 0xE0, 0xBF};
    EXPECT_EQ(v, expected_v);
    EXPECT_EQ(kept_global("V")->constant.data_offset % 8, 0u); // aligned as the struct
    std::vector<u8> w = bytes_of("W");
    std::vector<u8> expected_w = {0x22, 0x11, 3, 0, 5, 0, 6, 0, 0, 0, 9, 0};
    EXPECT_EQ(w, expected_w);
    std::vector<u8> x = bytes_of("X");
    std::vector<u8> expected_x = {0x44, 0x33, 0, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(x, expected_x);
}

TEST(Compiler_Constant_Data, StringsAndArraysAreReachedThroughRelocations) {
    Compile_Result r = compile_text_keep(
        "$P: #struct { name: String; n: u8; };\n$A: P = { \"hey\", 7 };\n$B: P = { \"hey\", 8 };\n"
        "$L: [3] u32 = [1, 2, 3];\n$M: [] u8 = [9, 8] #align(64);\n$Q: [2] P = [{ \"a\", 1 }, { \"hey\", 2 }];\n$Z: P = {};");
    ASSERT_TRUE(r.ok) << r.errors;
    Compiler_State *s = &global_compiler_state;
    u64 a = kept_global("A")->constant.data_offset, b = kept_global("B")->constant.data_offset;
    ASSERT_NE(a, b);
    u64 hey = relocation_target(a);
    ASSERT_NE(hey, ~0ull);
    EXPECT_EQ(relocation_target(b), hey); // one copy of the bytes
    EXPECT_EQ(std::string((const char *)s->constant_data + hey, 3), "hey");
    std::vector<u8> bytes = bytes_of("A");
    EXPECT_EQ(std::vector<u8>(bytes.begin(), bytes.begin() + 8), std::vector<u8>(8, 0)); // the address is relocated
    EXPECT_EQ(bytes[8], 3);  // count
    EXPECT_EQ(bytes[16], 7); // n

    u64 l = kept_global("L")->constant.data_offset;
    u64 elements = relocation_target(l);
    ASSERT_NE(elements, ~0ull);
    EXPECT_EQ(elements % 4, 0u);
    std::vector<u8> three(s->constant_data + elements, s->constant_data + elements + 12);
    EXPECT_EQ(three, (std::vector<u8>{1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0}));
    EXPECT_EQ(bytes_of("L")[8], 3); // count

    u64 m = kept_global("M")->constant.data_offset;
    u64 m_elements = relocation_target(m);
    ASSERT_NE(m_elements, ~0ull);
    EXPECT_EQ(m_elements % 64, 0u); // #align(64)
    EXPECT_EQ(s->constant_data[m_elements + 1], 8);
    std::vector<u8> m_bytes = bytes_of("M");
    EXPECT_EQ(m_bytes[8], 2);  // count
    EXPECT_EQ(m_bytes[16], 2); // allocated

    // An array of structs: each element's string is relocated on its own.
    u64 q = relocation_target(kept_global("Q")->constant.data_offset);
    ASSERT_NE(q, ~0ull);
    u64 first_name = relocation_target(q), second_name = relocation_target(q + 24);
    EXPECT_EQ(std::string((const char *)s->constant_data + first_name, 1), "a");
    EXPECT_EQ(second_name, hey);
    EXPECT_EQ(s->constant_data[q + 24 + 16], 2);
    // A default String has no bytes to point to.
    EXPECT_EQ(relocation_target(kept_global("Z")->constant.data_offset), ~0ull);
}

struct Dump_Row {
    const char *program;
    const char *dump;
};

TEST(Compiler_Constant_Data, CastsThroughTheAsMember) {
    const Dump_Row rows[] = {
        {"$S: #struct { a: u8; #as b: u16; };\n$V: S = { 1, 300 };\n$X := cast(V, u32);\n$Y := cast(V, u8);",
         "S : struct size 4 align 2\n  .a : u8 @ 0\n  .b : u16 @ 2\nV : S = {1, 300}\nX : u32 = 300\nY : u8 = 44\n"},
        {"$S: #struct { #as r: f32; };\n$V: S = { 2.5 };\n$X := cast(V, s8);", "S : struct size 4 align 4\n  .r : f32 @ 0\nV : S = {2.5}\nX : s8 = 2\n"},
        {"$S: #struct { a: u8; #as b: u16; };\nv: S;\nw := cast(v, f64);", "S : struct size 4 align 2\n  .a : u8 @ 0\n  .b : u16 @ 2\nv : S\nw : f64\n"},
    };
    for (const Dump_Row &row : rows) {
        Compile_Result r = compile_text(row.program);
        ASSERT_TRUE(r.ok) << row.program << "\n" << r.errors;
        EXPECT_EQ(r.dump, row.dump) << row.program;
    }
    Compile_Result none = compile_text("$S: #struct { a: u8; };\n$V: S = { 1 };\n$X := cast(V, u32);");
    EXPECT_EQ(none.errors, "/virtual/main.8:3:12: error: You cannot cast a value of type 'S' to type 'u32'.\n$X := cast(V, u32);\n           ^\n");
}

TEST(Compiler_Constant_Data, TypeOfSimpleExpressions) {
    const Dump_Row rows[] = {
        {"$S: #struct { a: u16; s: String; e: [4] s8; p: @ S; };\nv: S;\n"
         "$A := #type_of(v.a);\n$B := #type_of(v.s[0]);\n$C := #type_of(v.e);\n$D := #type_of(v.p.a);\n$E := #type_of(v.e[1]);\n"
         "$F := #type_of(1.5);\n$G := #type_of(-3);\n$H := #type_of(\"x\");\n$I := #type_of(u8);\nw: #type_of(v.p);",
         "S : struct size 40 align 8\n  .a : u16 @ 0\n  .s : String @ 8\n  .e : [4] s8 @ 24\n  .p : @ S @ 32\nv : S\n"
         "A : Type = u16\nB : Type = u8\nC : Type = @ s8\nD : Type = u16\nE : Type = s8\nF : Type = f32\nG : Type = s64\n"
         "H : Type = String\nI : Type = Type\nw : @ S\n"},
    };
    for (const Dump_Row &row : rows) {
        Compile_Result r = compile_text(row.program);
        ASSERT_TRUE(r.ok) << row.program << "\n" << r.errors;
        EXPECT_EQ(r.dump, row.dump) << row.program;
    }
    const std::pair<const char *, const char *> errors[] = {
        {"$A := #type_of(.x);", "/virtual/main.8:1:16: error: This is unexpected here.\n$A := #type_of(.x);\n               ^\n"},
        {"v: u8;\n$A := #type_of(v.);", "/virtual/main.8:2:17: error: Is this '.' superfluous?\n$A := #type_of(v.);\n                ^\n"},
        {"v: u8;\n$A := #type_of(v.x);", "/virtual/main.8:2:17: error: Type 'u8' does not appear to be a struct.\n$A := #type_of(v.x);\n                ^\n"},
        {"$A := #type_of(\"s\".count);", "/virtual/main.8:1:19: error: You cannot dereference a literal from a struct.\n$A := #type_of(\"s\".count);\n                  ^\n"},
        {"v: u8;\n$A := #type_of(v v);", "/virtual/main.8:2:18: error: Expected an operator but got 'v' instead.\n$A := #type_of(v v);\n                 ^\n"},
        {"$A: #type_of(A) = 1;", "/virtual/main.8:1:14: error: 'A' is not fully declared.\n$A: #type_of(A) = 1;\n             ^\n"},
        {"$S: #struct { a: u8; };\nv: S;\n$A := #type_of(v.b);", "/virtual/main.8:3:18: error: Struct 'S' has no member named 'b'.\n$A := #type_of(v.b);\n                 ^\n"},
        {"v: u32;\n$A := #type_of(v[0]);", "/virtual/main.8:2:17: error: Type 'u32' is not a memory address, an array or a string.\n$A := #type_of(v[0]);\n                ^\n"},
        {"$A := #type_of();", "/virtual/main.8:1:15: error: Did you forget to specify an expression to get the type of?\n$A := #type_of();\n              ^\n"},
        {"x: #type_of 1;", "/virtual/main.8:1:4: error: This directive is meant to be used this way: #type_of(<expression>).\nx: #type_of 1;\n   ^^^^^^^^\n"},
    };
    for (auto &e : errors) {
        Compile_Result r = compile_text(e.first);
        EXPECT_FALSE(r.ok) << e.first;
        EXPECT_EQ(r.errors, e.second) << e.first;
    }
}
