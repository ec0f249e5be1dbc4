// More reports, each at the place it names: the first line of every report
// (location and message) for mistakes in structs, enums, signatures, types,
// literals, casts and the lexer.
#include <gtest/gtest.h>
#include "compiler_test_util.h"

struct Message_Case {
    const char *program;
    const char *location; // LINE:COLUMN
    const char *message;
};

static const Message_Case MESSAGE_CASES[] = {
    {"x: u8.y;", "1:4", "Type 'u8' does not appear to be a struct."},
    {"$K := 1;\nx: K.y;", "2:4", "'K' does not appear to be a type."},
    {"$S: #struct { #using #union { a: u8; }; };", "1:22", "#using must be used on non-anonymous struct members."},
    {"$S: #struct { #as $K := 1; };", "1:20", "#as cannot be used on constant struct members."},
    {"$S: #struct { #as #struct { a: u8; }; };", "1:19", "#as must be used on variable, non-anonymous struct members."},
    {"$In: #struct { x: u8; };\n$S: #struct { #using i: In; x: u16; };", "2:29", "'x' already exists in this struct. It was brought in by a #using directive."},
    {"$P: #struct($T: Type) { a: T; };\nx: P.a;", "2:4", "'P' is a polymorphic struct. Did you forget to give it arguments?"},
    {"P: #struct($T: Type) { a: T; };", "1:1", "A polymorphic struct type must be constant. Did you forget to mark 'P' as constant?"},
    {"$A := 1", "1:4", "There is no corresponding ';' for this ':'."},
    {"$A: [2] u8 = [1, 2];\nv: [2] u8;\n$B := #type_of(v);\nw := v[5];", "4:8", "Array type '[2] u8' can only hold up to 2 elements but you are trying to access an element at index 5."},
    {"#insert 1", "1:1", "Did you forget a ';'?"},
    {"$f: (a: u32 = ) = {};", "1:13", "Did you forget to specify a value?"},
    {"$A: [2] u8 = [1, 2] #align();", "1:27", "Did you forget to specify an alignment?"},
    {"$f: (#copy #foo a: u8) = {};", "1:12", "Directive #foo is either invalid or cannot be used here."},
    {"$S: #struct { #union 5; };", "1:15", "Expected a block associated with this #union directive."},
    {"$A := #constant 5;", "1:7", "Expected a call after directive '#constant'."},
    {"$f: (5: u32) = {};", "1:6", "Expected a parameter name but got '5' instead."},
    {"$f: (,) = {};", "1:6", "Expected a parameter."},
    {"$S: #struct { a: u8; };\nv: S;\n$B := v.5;", "3:9", "Expected a struct member but got '5' instead."},
    {"$A: [3] u8 = [1, 2];\n$S: #struct { e: [2] u8; };\n$V: S = { 5 };", "3:11", "Expected an array literal."},
    {"$S: #struct { a: u8 b: u8; };", "1:21", "This type does not look correct."},
    {"$f: (a: u8, ) = {};", "1:11", "Expected a parameter."},
    {"$P: #struct($T: Type) { a: T; };\nx: P(T = u8, T = u16);", "2:14", "It looks like polymorphic parameter 'T' is already set."},
    {"$f: () = ;", "1:8", "It looks like you are not assigning anything to this sub-program. @@@ Make an actual error message!!!"},
    {"$S: #struct { e: [3] u8; };\n$V: S = { [1, 2, 3, 4] };", "2:11", "It looks like you are specifying too many items for this C-style array literal. The maximum is 3."},
    {"$E: #enum u8 = { $A; };\nx: E.A;", "2:6", "It looks like you are trying to use an enum value as a type."},
    {"$A: [0] u8 = [];\n$B := A[0];", "2:9", "The constant array you are trying to dereference has only 0 elements but you are trying to access it at index 0."},
    {"$A: [2] u8 = [1, 2];\n$B := A[-1];", "2:9", "It seems that you are trying to access a constant array at index -1."},
    {"v: f32;\nw := cast(v, @ u8);", "2:11", "It seems you are trying to cast a value of type 'f32' to type '@ u8'. Only integer values can be cast to a memory address."},
    {"$A := cast(\"s\", @ u8);", "1:12", "This constant cannot be used as a memory address."},
    {"v: @ u8;\nw := -v;", "2:6", "Operator '-' must be used on numbers. It looks like you are trying to use it on type '@ u8' instead."},
    {"#if 1 {} else #if {}", "1:15", "Did you forget to specify a condition for this if statement?"},
    {"$A := ((", "1:8", "There is no matching ')' for this."},
    {"$A := ]", "1:7", "There is no matching '[' for this."},
    {"$A := \"abc", "1:7", "There is no matching '\"' for this."},
    {"v: f32;\nw := ~v;", "2:6", "You cannot use operator bitwise operators with a number of type f32."},
    {"$A: u8 = (1 = 2);", "1:13", "You cannot reassign a value to a constant."},
    {"$S: #struct { a: u8; };\nx: S.;", "2:5", "This looks incomplete."},
    {"$S: #struct { $T: #struct { a: u8; }; };\nx: S.T.5;", "2:8", "Expected an identifier but got '5' instead."},
    {"$A := {", "1:7", "There is no matching '}' for this."},
    {"$A := [", "1:7", "There is no matching ']' for this."},
    {"$A := )", "1:7", "There is no matching '(' for this."},
    {"a:b:c:d:e:f:g:h:i:j:k:l:m:n:o:p:q:r;", "1:34", "Did you forget a ';' somwhere around here?"},
    {"for x {}", "1:1", "You cannot use for statements in global scope."},
    {"switch x {}", "1:1", "You cannot use switch statements in global scope."},
    {"break;", "1:1", "You cannot use break statements in global scope."},
    {"continue;", "1:1", "You cannot use continue statements in global scope."},
    {"#events {}\n#events {}", "2:1", "An #events block has already been declared."},
    {"#syntax {}\n#syntax {}", "2:1", "A #syntax block has already been declared."},
    {"#on_load;", "1:1", "Expected a code block after directive #on_load."},
    {"#syntax 5;", "1:1", "The compiler expected a block of code after this to determine how to perform syntax highlighting."},
    {"x: [] ;", "1:4", "Expected a type."},
    {"$P: #struct($T: Type,) { a: u8; };", "1:21", "Is this an extraneous ','?"},
    {"$S: #struct { #struct 5; };", "1:15", "Expected a block associated with this #struct directive."},
    {"$S: #struct { 5; };", "1:15", "In a struct you can only declare variables and constants. All declarations must end with a ';'."},
    {"$In: #struct { x: u8; };\n$S: #struct { x: u16; #using i: In; };", "2:30",
     "Struct 'In' has a member named 'x' but this struct also has a member with the same name which means you cannot use #using here."},
    {"$f: () -> = {};", "1:8",
     "A sub-program declaration looks like the following:\n$sub_program_name: (<parameters>) <return_value> = { <body> };\n"
     "$sub_program_name: (<parameters>) <return_value> = #import;\nsub_program_name: (<parameters>) <return_value>;"},
    {"$S: #struct { f: ($T: Type); };", "1:18", "This sub-program cannot be polymorphic."},
    {"$S: #struct { a: u8; };\n$A := -S;", "2:7", "You can only use numbers and strings-as-numbers here."},
    {"$S: #struct { a: u8; };\n$V: S = {};\n$A := V + 1;", "3:9", "This operator cannot be used here."},
    {"$A := #code { x := 1; } + 1;", "1:25", "This is unexpected. Did you forget a ';' or a ','?"},
    {"$E: #enum u8 = { $A; };\n$X: E = . 5;", "2:11", "Expected an enum value but got '5' instead."},
    {"$P := cast(5, @ u8);\n$B := P[0];", "2:8", "You cannot dereference data from a constant memory address. This rule may change in future versions."},
    {"$A := \"ab\";\n$B := A[1.5];", "2:9", "Operator '[]' must be used on integers."},
    {"$A: u8 = { 1 };", "1:10", "Type 'u8' is not a struct type so you cannot make a struct literal from it."},
    {"t: Type;\n$A := t{1};", "2:8", "You cannot use a dynamic value as a type to make a struct literal."},
    {"$A: [2] u8 = [1, 2] #align 3;", "1:21", "Use #align like this: #align(<alignment>)"},
    {"$S: #struct { a: [0x200000] u8; };\n$V: S = {};", "2:9", "The constant data section is full."},
    {"$S: #struct { a: [0x7FFFFFF0] u8; b: [0x7FFFFFF0] u8; };", "1:35", "This struct is too big."},
    {"$P: #struct($T: Type) { $K := 1; };\n$A := P.K;", "2:9",
     "Type 'P' is polymorphic and thus you cannot dereference anything from it or from an instance of it since its content is unknown."},
    {"#if 1 { $A := 1 }", "1:12", "All declarations must end with a ';'."},
    {"$S: #struct { $K: u8; };", "1:16", "Constants must be assigned a value."},
    {"$P: #struct($T: Type) { $K: T; };\nx: P(u8);", "1:26", "Constants must be assigned a value."},
    {"v: void;\nx := v;", "2:6", "It looks like x's type is being infered from the value you assign to it but said value is 'v' which the compiler cannot use to infer the type."},
    {"v: void;\n$S: #struct { a := v; };", "2:20", "It looks like a's type is being infered from the value you assign to it but said value is 'v' which the compiler cannot use to infer the type."},
    {"s: String;\nw := s == s;", "2:8", "This operator cannot be applied on values of type 'String'."},
    {"$S: #struct { a: u8; };\nv: S;\nw := 1 < v;", "3:8", "This operator cannot be applied on values of type 'S'."},
    {"v: [] u8;\nw := v && 1;", "2:8", "This operator cannot be applied on values of type '[] u8'."},
    {"v: String;\nw := v.;", "2:7", "It looks like you are trying to dereference a struct member but this does not look like a struct member dereference."},
    {"$S: #struct { e: [3] u8; };\nv: S;\nw := v.e.count;", "3:10", "It looks like you are trying to dereference a member from a fixed-size array embedded in the struct, which is illegal."},
    {"$S: #struct { e: [3] u8; };\nv: S;\nw := (v.e).data;", "3:12", "It looks like you are trying to dereference a member from a fixed-size array embedded in the struct, which is illegal."},
    {"$S: #struct { e: [3] u8; };\n$V: S = {};\n$W := V.e.count;", "3:11", "It looks like you are trying to dereference a member from a fixed-size array embedded in the struct, which is illegal."},
    {"$A := 5[0];", "1:8", "It looks like you are trying to dereference from a value that is not a memory address or an array."},
    {"$A := 5.0[1];", "1:10", "It looks like you are trying to dereference from a value that is not a memory address or an array."},
    {"$A := cast(300);", "1:7", "The compiler cannot infer the type to cast to here."},
    {"$A: u8 = cast();", "1:14", "It looks like you forgot to indicate a value to cast here."},
    {"t: Type;\nw := t[1];", "2:7", "You cannot use a dynamic value as a type to make an array literal."},
    {"$A := u8[0];", "1:9", "Type 'u8' is not an array type so you cannot make an array literal from it."},
    {"$S: #struct { e: [3] u8; };\n$V: S = { [7, 8] };\n$W := V.e[2];", "3:11", "The constant array you are trying to dereference has only 2 elements but you are trying to access it at index 2."},
    {"#machine_code \"\\x90\";", "1:1", "You cannot use directive #machine_code in global scope."},
    {"{ x := 1; }", "1:1", "You cannot declare an anonymous scope in global scope."},
    {"$g: () = {};\n$f: () = g;", "2:10", "You cannot substitute the body of a constant sub-program with another sub-program. This may change in the future."},
    {"$A := 1 ~ 2;", "1:9", "Expected an operator here but got '~' instead."},
    {"v: u32;\n$g: () -> u32 = #inline { return v; };\n$A := #constant g();", "2:34", "You can only return constant values from this sub-program."},
    {"$f: (a: ?T) = {};\np: @ void = f;", "2:13", "You cannot take the address of a polymorphic sub-program."},
};

TEST(Compiler_Messages, EachMistakeIsNamedWhereItIs) {
    for (const Message_Case &c : MESSAGE_CASES) {
        Compile_Result r = compile_text(c.program);
        ASSERT_FALSE(r.ok) << c.program;
        std::string expected = std::string("/virtual/main.8:") + c.location + ": error: " + c.message + "\n";
        EXPECT_EQ(r.errors.substr(0, expected.size()), expected) << c.program;
    }
}

TEST(Compiler_Messages, TheMostNegativeNumberIsPrintedWhole) {
    const Message_Case cases[] = {
        {"$E: #enum s8 = { $A := -9223372036854775808; };", "1:24", "The value assigned to this member (-9,223,372,036,854,775,808) is too small. The limit is -128."},
        {"$A: [2] u8 = [1, 2];\n$B := A[-9223372036854775808];", "2:9", "It seems that you are trying to access a constant array at index -9,223,372,036,854,775,808."},
        {"$A := \"ab\";\n$B := A[-9223372036854775808];", "2:9", "Index -9223372036854775808 cannot be used to retrieve a character from this string as it lies outside its boundaries."},
    };
    for (const Message_Case &c : cases) {
        Compile_Result r = compile_text(c.program);
        std::string expected = std::string("/virtual/main.8:") + c.location + ": error: " + c.message + "\n";
        EXPECT_EQ(r.errors.substr(0, expected.size()), expected) << c.program;
    }
    Compile_Result dump = compile_text("$A: s64 = -9223372036854775808;");
    EXPECT_EQ(dump.dump, "A : s64 = -9223372036854775808\n");
}

TEST(Compiler_Messages, LiteralsKeepToOneAlternativeOfAUnion) {
    // Members of a #struct inside a #union go together; members after the union are free.
    Compile_Result r = compile_text("$S: #struct { x: u8; #union { a: u8; #struct { b: u8; c: u8; }; }; y: u8; };\n"
                                    "$A: S = { x = 1, b = 2, c = 3, y = 4 };");
    ASSERT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.dump.substr(r.dump.find("A : ")), "A : S = {1, 0, 2, 3, 4}\n");
}

TEST(Compiler_Messages, AnArrayMemberDefaultsToNoElements) {
    Compile_Result r = compile_text("$S: #struct { a: [] u8; b: [] u16 = [7]; };\n$V: S = {};");
    ASSERT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.dump.substr(r.dump.find("V : ")), "V : S = {[], [7]}\n");
}

TEST(Compiler_Messages, MembersBroughtInByUsingOnAValueAreSetInLiterals) {
    struct Dump_Case {
        const char *program;
        const char *last_line;
    };
    const char *in = "$In: #struct { x: u8; y: u16; };\n";
    const Dump_Case cases[] = {
        {"$S: #struct { a: u8; #using i: In; };\n$A: S = { x = 1, a = 2 };", "A : S = {2, {1, 0}}\n"},
        // Setting one part must leave the member's own default for the others, and that default untouched.
        {"$S: #struct { #using i: In = In{ x = 5, y = 6 }; };\n$A: S = { y = 1 };\n$B: S = {};", "B : S = {{5, 6}}\n"},
        {"$S: #struct { #using i: In = In{ x = 5, y = 6 }; };\n$A: S = { y = 1 };\n$B := A.y;", "B : u16 = 1\n"},
        {"$S: #struct { #using i: In; };\n$A: S = { i = { 3, 4 } };", "A : S = {{3, 4}}\n"},
    };
    for (const Dump_Case &c : cases) {
        Compile_Result r = compile_text(std::string(in) + c.program);
        ASSERT_TRUE(r.ok) << c.program << "\n" << r.errors;
        std::string expected = c.last_line;
        ASSERT_GE(r.dump.size(), expected.size()) << c.program;
        EXPECT_EQ(r.dump.substr(r.dump.size() - expected.size()), expected) << c.program;
    }
}

TEST(Compiler_Messages, NestedUnionsKeepTheirOuterAlternatives) {
    const char *s = "$S: #struct { #union { a: u8; #struct { b: u8; #union { c: u8; d: u16; }; }; }; };\n";
    Compile_Result together = compile_text(std::string(s) + "$A: S = { b = 1, d = 2 };");
    ASSERT_TRUE(together.ok) << together.errors;
    EXPECT_EQ(together.dump.substr(together.dump.find("A : ")), "A : S = {0, 1, 0, 2}\n");
    const Message_Case clashes[] = {
        {"$A: S = { a = 1, c = 3 };", "2:18", "You cannot initialise struct member c because it is part of a union and another member in that union has already been explicitly initialised."},
        {"$A: S = { d = 1, a = 3 };", "2:18", "You cannot initialise struct member a because it is part of a union and another member in that union has already been explicitly initialised."},
        {"$A: S = { d = 1, c = 3 };", "2:18", "You cannot initialise struct member c because it is part of a union and another member in that union has already been explicitly initialised."},
    };
    for (const Message_Case &c : clashes) {
        Compile_Result r = compile_text(std::string(s) + c.program);
        std::string expected = std::string("/virtual/main.8:") + c.location + ": error: " + c.message + "\n";
        EXPECT_EQ(r.errors.substr(0, expected.size()), expected) << c.program;
    }
}

TEST(Compiler_Messages, NumbersAndAddressesStillCompare) {
    Compile_Result r = compile_text("$E: #enum u8 = { $A; };\nv: u8;\np: @ u8;\ne: E;\nw := v == 1 && p != p || e == E.A;");
    ASSERT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.dump.substr(r.dump.find("w : ")), "w : b8\n");
}

TEST(Compiler_Messages, TypesGiveArrayLiteralsAndPlacesGiveCasts) {
    struct Dump_Case {
        const char *program;
        const char *last_line;
    };
    const Dump_Case cases[] = {
        {"$T := #type([] u8);\n$A := T[1, 2];", "A : [] u8 = [1, 2]\n"},
        {"$A := #type([3] u16)[1, 2];", "A : [3] u16 = [1, 2]\n"},
        {"$A: [2] u8 = [1, 2];\n$B := #type_of(A)[3, 4];", "B : [2] u8 = [3, 4]\n"},
        {"$A: u8 = cast(300);", "A : u8 = 44\n"},
        {"$A: s8 = cast(255);", "A : s8 = -1\n"},
        {"$S: #struct { e: [3] u8; };\n$V: S = { [7, 8, 9] };\n$W := V.e[1];", "W : u8 = 8\n"},
    };
    for (const Dump_Case &c : cases) {
        Compile_Result r = compile_text(c.program);
        ASSERT_TRUE(r.ok) << c.program << "\n" << r.errors;
        std::string expected = c.last_line;
        ASSERT_GE(r.dump.size(), expected.size()) << c.program;
        EXPECT_EQ(r.dump.substr(r.dump.size() - expected.size()), expected) << c.program;
    }
}

