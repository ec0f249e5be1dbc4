// Constant folding of every operator on every number type: wrap-around at the
// type's size, signed and unsigned division, shifts past the width, rotations
// within the size, comparisons as one-byte booleans, reals, and the errors.
#include <gtest/gtest.h>
#include "compiler_test_util.h"

struct Fold_Case {
    const char *program; // declares R last
    const char *line;    // R's line of the dump
};

static std::string line_of(const std::string &dump, const std::string &name) {
    std::string prefix = name + " : ";
    size_t at = dump.rfind("\n" + prefix);
    if (at == std::string::npos) at = dump.compare(0, prefix.size(), prefix) == 0 ? 0 : std::string::npos;
    else at++;
    if (at == std::string::npos) return "<no " + name + ">";
    return dump.substr(at, dump.find('\n', at) - at);
}

static const Fold_Case FOLD_CASES[] = {
    // u8 wraps at 256.
    {"$A: u8 = 200;\n$R := A + 100;", "R : u8 = 44"},
    {"$A: u8 = 0;\n$R := A - 1;", "R : u8 = 255"},
    {"$A: u8 = 16;\n$R := A * 17;", "R : u8 = 16"},
    {"$A: u8 = 7;\n$R := A / 2;", "R : u8 = 3"},
    {"$A: u8 = 7;\n$R := A % 3;", "R : u8 = 1"},
    {"$A: u8 = 1;\n$R := A << 9;", "R : u8 = 0"},
    {"$A: u8 = 0x80;\n$R := A >> 7;", "R : u8 = 1"},
    {"$A: u8 = 0xF0;\n$R := A & 0x3C;", "R : u8 = 48"},
    {"$A: u8 = 0xF0;\n$R := A | 0x3C;", "R : u8 = 252"},
    {"$A: u8 = 0xF0;\n$R := A ^ 0x3C;", "R : u8 = 204"},
    {"$A: u8 = 1;\n$R := -A;", "R : u8 = 255"},
    {"$A: u8 = 0x0F;\n$R := ~A;", "R : u8 = 240"},
    {"$A: u8 = 200;\n$R := A > 100;", "R : b8 = 1"},
    {"$A: u8 = 200;\n$R := A <= 100;", "R : b8 = 0"},
    // s8: two's complement, division towards zero, arithmetic right shift.
    {"$A: s8 = 127;\n$R := A + 1;", "R : s8 = -128"},
    {"$A: s8 = -128;\n$R := A - 1;", "R : s8 = 127"},
    {"$A: s8 = -7;\n$R := A / 2;", "R : s8 = -3"},
    {"$A: s8 = -7;\n$R := A % 2;", "R : s8 = -1"},
    {"$A: s8 = -128;\n$R := A >> 1;", "R : s8 = -64"},
    {"$A: s8 = -128;\n$R := A / -1;", "R : s8 = -128"},
    {"$A: s8 = -1;\n$R := A >>> 4;", "R : s8 = -1"},
    {"$A: s8 = -1;\n$R := A < 0;", "R : b8 = 1"},
    {"$A: s8 = 64;\n$R := A * 2;", "R : s8 = -128"},
    // u16, u32, u64.
    {"$A: u16 = 0xFFFF;\n$R := A + 1;", "R : u16 = 0"},
    {"$A: u16 = 0x8001;\n$R := A <<< 1;", "R : u16 = 3"},
    {"$A: u16 = 0x8001;\n$R := A >>> 1;", "R : u16 = 49152"},
    {"$A: u16 = 0x1234;\n$R := A <<< 16;", "R : u16 = 4660"},
    {"$A: u32 = 0xFFFFFFFF;\n$R := A * 2;", "R : u32 = 4294967294"},
    {"$A: u32 = 0x80000001;\n$R := A <<< 1;", "R : u32 = 3"},
    {"$A: u32 = 1;\n$R := A << 31;", "R : u32 = 2147483648"},
    {"$A: u64 = 0;\n$R := A - 1;", "R : u64 = 18446744073709551615"},
    {"$A: u64 = 1;\n$R := A << 64;", "R : u64 = 0"},
    {"$A: u64 = 0x8000000000000000;\n$R := A >> 63;", "R : u64 = 1"},
    {"$A: u64 = 0x8000000000000001;\n$R := A >>> 1;", "R : u64 = 13835058055282163712"},
    {"$A: u64 = 10;\n$R := A / 3 * 3 + A % 3;", "R : u64 = 10"},
    // s16, s32, s64.
    {"$A: s16 = 32767;\n$R := A + 1;", "R : s16 = -32768"},
    {"$A: s32 = -2147483648;\n$R := A - 1;", "R : s32 = 2147483647"},
    {"$A: s32 = -9;\n$R := A >> 1;", "R : s32 = -5"},
    {"$A: s64 = -9223372036854775808;\n$R := A / -1;", "R : s64 = -9223372036854775808"},
    {"$A: s64 = -9223372036854775808;\n$R := A % -1;", "R : s64 = 0"},
    {"$A: s64 = -8;\n$R := A >> 70;", "R : s64 = -1"},
    {"$A: s64 = 3;\n$R := A - 5;", "R : s64 = -2"},
    {"$A: s64 = -3;\n$R := A >= -3;", "R : b8 = 1"},
    // Two types mixed: the wider one takes the result.
    {"$A: u8 = 200;\n$B: u16 = 100;\n$R := A + B;", "R : u16 = 300"},
    {"$A: s8 = -1;\n$B: s32 = 1;\n$R := A * B;", "R : s32 = -1"},
    {"$A: u8 = 3;\n$B: s16 = -1;\n$R := A + B;", "R : s16 = 2"},
    {"$A: u32 = 3;\n$B: f32 = 0.5;\n$R := A * B;", "R : f32 = 1.5"},
    // Reals.
    {"$A: f32 = 1.5;\n$R := A * 2;", "R : f32 = 3"},
    {"$A: f64 = 1.0;\n$R := A / 4;", "R : f64 = 0.25"},
    {"$A: f64 = 0.1;\n$R := A + 0.2;", "R : f64 = 0.30000000000000004"},
    {"$A: f32 = 0.1;\n$R := A + 0.2;", "R : f32 = 0.3"},
    {"$A: f64 = 0.5;\n$R := A < 0.25;", "R : b8 = 0"},
    {"$A: f64 = 2.5;\n$R := -A;", "R : f64 = -2.5"},
    {"$A: f32 = 16777216.0;\n$R := A + 1;", "R : f32 = 16777216"},
    {"$A: f32 = 3000000000000000000000000000000000000.0;\n$R := A * 1000.0;", "R : f32 = inf"},
    {"$A: f64 = 0.0;\n$R := !A;", "R : b8 = 1"},
    // Untyped literals fold in 64 bits and take their default types last.
    {"$R := 250 + 10;", "R : u64 = 260"},
    {"$R := 1 - 2;", "R : s64 = -1"},
    {"$R := 0xFFFFFFFFFFFFFFFF + 1;", "R : u64 = 0"},
    {"$R := 5 / 2.0;", "R : f32 = 2.5"},
    {"$R := 7 >> 1;", "R : u64 = 3"},
    {"$R := -7 / 2;", "R : s64 = -3"},
    {"$R := 1 <<< 65;", "R : u64 = 2"},
    {"$R := ~0;", "R : u64 = 18446744073709551615"},
    {"$R := 3 == 3 && 2 != 2;", "R : b8 = 0"},
    {"$R := 0 || 7;", "R : b8 = 1"},
    {"$R := 1 + 2 * 3 - 4 / 2 % 3;", "R : u64 = 5"},
    {"$R := (1 + 2) * 3;", "R : u64 = 9"},
    {"$R := 1 << 2 + 1;", "R : u64 = 5"},
    {"$R: u16 = 255 + 1;", "R : u16 = 256"},
    {"$R: s8 = -100 - 28;", "R : s8 = -128"},
    // Strings as numbers: the first byte is the lowest.
    {"$R: u64 = \"abcdefgh\";", "R : u64 = 7523094288207667809"},
    {"$R: u16 = \"A\" + 1;", "R : u16 = 66"},
    // Explicit casts of constants.
    {"$R := cast(-1, u16);", "R : u16 = 65535"},
    {"$R := cast(65537, s16);", "R : s16 = 1"},
    {"$R := cast(2.9, u8);", "R : u8 = 2"},
    {"$R := cast(-2.9, s8);", "R : s8 = -2"},
    {"$R := cast(0.0, b8);", "R : b8 = 0"},
    {"$R := cast(7, f64) / 2;", "R : f64 = 3.5"},
    {"$A: s8 = -1;\n$R := cast(A, u64);", "R : u64 = 18446744073709551615"},
    {"$A: u8 = 255;\n$R := cast(A, s8);", "R : s8 = -1"},
    {"$A: f64 = 10000000000.0;\n$R := cast(A, f32);", "R : f32 = 1e+10"},
    {"$E: #enum u8 = { $A; $B; };\n$R := cast(E.B, u32) + 1;", "R : u32 = 2"},
    {"$R := #as_float(0xbf800000);", "R : f32 = -1"},
};

TEST(Compiler_Folding, EveryOperatorOnEveryType) {
    for (const Fold_Case &c : FOLD_CASES) {
        Compile_Result r = compile_text(c.program);
        ASSERT_TRUE(r.ok) << c.program << "\n" << r.errors;
        EXPECT_EQ(line_of(r.dump, "R"), c.line) << c.program;
    }
}

struct Fold_Error_Case {
    const char *program;
    const char *message; // the first report's message
    int column;          // 1-based, on the last line
};

static const Fold_Error_Case FOLD_ERROR_CASES[] = {
    {"$A: u32 = 5;\n$R := A / 0;", "It looks like you are dividing by zero.", 9},
    {"$A: s32 = 5;\n$R := A % 0;", "It looks like you are dividing by zero.", 9},
    {"$A: f64 = 5.0;\n$R := A / 0.0;", "It looks like you are dividing by zero.", 9},
    {"$R := 1.5 % 2;", "Operator '%' cannot be used with real numbers.", 11},
    {"$R := 1.5 & 2;", "Operator '&' cannot be used with real numbers.", 11},
    {"$R := 2 >>> 1.0;", "Operator '>>>' cannot be used with real numbers.", 9},
    {"$A: u8 = 200;\n$R := A + 300;", "The destination (type u8) is too small to contain the source (type u16).", 9},
    {"$A: s8 = -1;\n$B: u8 = 1;\n$R := A + B;", "You cannot implicitly cast from 'u8' to 's8' as information may be lost.", 9},
    {"$R := \"abc\" * \"d\";", "Operator '*' cannot be used with strings.", 13},
    {"$R: u64 = \"abcdefghi\" + 1;", "This string is too big to be used as an integer.", 23},
    {"$R := -\"abcdefghi\";", "To use a string as a number, make sure it is no greater than 8 bytes in size. The string you want to use is 9 bytes.", 7},
    {"$R := #type(u8) + 1;", "Operator '+' cannot be used here.", 17},
    // A literal is named by the smallest type that holds it.
    {"$R: s8 = 128;", "You cannot implicitly cast from 'u8' to 's8' as information may be lost.", 10},
    {"$R: s8 = -129;", "The destination (type s8) is too small to contain the source (type s16).", 10},
    {"$R: u8 = -1;", "You cannot implicitly cast from 's8' to 'u8' as information may be lost.", 10},
    {"$R: u32 = 1.5 * 2;", "You cannot use a real number as a source with an integer as a destination.", 11},
    // Reals are plain decimals: no exponent.
    {"$R: f32 = 1e3;", "'1e3' is not a valid number.", 11},
    {"$R: f32 = 1.0e3;", "'1.0e3' is not a valid number.", 11},
};

TEST(Compiler_Folding, ImpossibleFoldsAreReportedAtTheOperator) {
    for (const Fold_Error_Case &c : FOLD_ERROR_CASES) {
        Compile_Result r = compile_text(c.program);
        ASSERT_FALSE(r.ok) << c.program;
        size_t colon = r.errors.find(": error: ");
        ASSERT_NE(colon, std::string::npos) << r.errors;
        std::string message = r.errors.substr(colon + 9, r.errors.find('\n') - colon - 9);
        EXPECT_EQ(message, c.message) << c.program;
        std::string location = r.errors.substr(0, colon);
        std::string column = location.substr(location.rfind(':') + 1);
        EXPECT_EQ(column, std::to_string(c.column)) << c.program << "\n" << r.errors;
    }
}

TEST(Compiler_Folding, TypesCompareAsValues) {
    Compile_Result r = compile_text("$A := #type(@ u8) == #type(@ u8);\n$B := #type([] u8) != #type([] u8);\n"
                                    "$C := #type(u8) == #type(b8);\n$D := #type((u32) -> u8) == #type((u32) -> u8);");
    ASSERT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.dump, "A : b8 = 1\nB : b8 = 0\nC : b8 = 0\nD : b8 = 1\n");
}
