// The bytecode listing: register and instruction text, source lines, the file.
#include "compiler/back/listing.h"
#include "compiler/back/ir.h"
#include "compiler/back/bytecode_program.h"
#include "test_util.h"
#include <gtest/gtest.h>
#include <string>

namespace {

struct Listing : ::testing::Test {
    Scope body = {};
    void SetUp() override {
        ensure_ir_ready();
        ir_reset();
        body.flags = SCOPE_SUB_PROGRAM_ROOT | SCOPE_INSIDE_SUB_PROGRAM;
    }
    void TearDown() override { dynamic_array_free(&body.registers); }
    std::string text(Register_Id id) {
        String s = get_bytecode_register_info(id);
        return std::string((const char *)s.data, (size_t)s.count);
    }
    std::string stack_name(Register_Id id) {
        char b[64];
        snprintf(b, sizeof b, "(0x%llx-%u)", (unsigned long long)((uintptr_t)&body & 0xFFFFFF), (u32)id.index);
        return b;
    }
};

TEST_F(Listing, RegisterForms) {
    Register_Id cd0 = make_constant_data_register(0, 8, 8), cd16 = make_constant_data_register(0x10, 8, 8);
    Register_Id td0 = make_constant_data_register(0, 8, 8, true), td8 = make_constant_data_register(8, 8, 8, true);
    Register_Id gd0 = allocate_a_register(nullptr, 8, nullptr, 8), gd8 = allocate_a_register(nullptr, 8, nullptr, 8);
    Register_Id memory0 = allocate_a_register(&body, 8, nullptr, 8), memory16 = allocate_a_register(&body, 8, nullptr, 8);
    Register_Id integer = allocate_a_register(&body, 8, nullptr, 8), real = allocate_a_register(&body, 8, nullptr, 8);
    get_register(&body, memory16)->offset = 0x10;
    Register *i = get_register(&body, integer);
    i->in_machine_register = 1;
    i->machine_register_class = MACHINE_REGISTER_INTEGER;
    i->machine_register = 15;
    Register *f = get_register(&body, real);
    f->in_machine_register = 1;
    f->machine_register_class = MACHINE_REGISTER_FLOAT;
    f->machine_register = 3;
    Register_Id call = allocate_a_register_for_call_data(nullptr, nullptr, 16);
    Register_Id view = allocate_within_register(nullptr, gd8, 4, 4, nullptr);
    Register_Id view_of_view = allocate_within_register(nullptr, view, 2, 2, nullptr);
    Register_Id plain_view = allocate_within_register(&body, memory16, 0, 4, nullptr);
    Register_Id bad_pool = cd0;
    bad_pool.pool = 9;

    const struct {
        Register_Id id;
        std::string expected;
    } rows[] = {
        {cd0, "CD"}, {cd16, "CD+0x10"}, {td0, "TD"}, {td8, "TD+0x8"}, {gd0, "GD"}, {gd8, "GD+0x8"},
        {memory0, stack_name(memory0) + " SB"}, {memory16, stack_name(memory16) + " SB+0x10"},
        {integer, stack_name(integer) + " MRI15"}, {real, stack_name(real) + " MRF3"}, {call, "CallD"},
        {view, "GD+0x8+0x4"}, {view_of_view, "GD+0x8+0x4+0x2"}, {plain_view, stack_name(memory16) + " SB+0x10"},
        {INVALID_REGISTER_ID, ""}, {bad_pool, ""},
    };
    for (auto &r : rows) EXPECT_EQ(text(r.id), r.expected);

    get_register(nullptr, cd16)->kind = 9; // a corrupt record says so in the log and prints nothing
    EXPECT_EQ(text(cd16), "");
}

TEST_F(Listing, InstructionLines) {
    Register_Id slot = allocate_a_register(&body, 8, nullptr, 8);
    Register_Id reg = allocate_a_register(&body, 8, nullptr, 8);
    get_register(&body, slot)->offset = 0x10;
    Register *r = get_register(&body, reg);
    r->in_machine_register = 1;
    r->machine_register_class = MACHINE_REGISTER_INTEGER;
    r->machine_register = 14;
    Register_Id block = allocate_a_register_for_call_data(nullptr, nullptr, 16);
    Register_Id cd = make_constant_data_register(0x20, 16, 8);
    std::string s = stack_name(slot) + " SB+0x10", m = stack_name(reg) + " MRI14";

    Bytecode_Instruction code[12] = {};
    code[0].opcode = BC_SET_TO_ZERO;
    code[0].operands[0].reg = slot;
    code[0].size = 1024;
    code[1].opcode = BC_COPY_CONSTANT_TO_MEMORY;
    code[1].operands[0].reg = reg;
    code[1].operands[1].constant = 42;
    code[2].opcode = BC_INT_ARITHMETIC_CONSTANT;
    code[2].operands[0].reg = reg;
    code[2].operands[1].op = OP_SHIFT_LEFT;
    code[2].operands[2].constant = 3;
    code[3].opcode = BC_MEMORY_DEREFERENCE_CONSTANT;
    code[3].operands[0].reg = slot;
    code[3].operands[1].reg = reg;
    code[3].operands[2].constant = 2;
    code[3].operands[3].constant = 8;
    code[4].opcode = BC_MEMCMP;
    code[4].operands[0].reg = slot;
    code[4].operands[1].reg = cd;
    code[4].operands[2].reg = reg;
    code[5].opcode = BC_CALL;
    code[5].operands[0].target = (u64)-(s64)(5 * sizeof(Bytecode_Instruction)); // the callee starts at 0
    code[5].operands[1].reg = block;
    code[6].opcode = BC_JUMP_LE;
    code[6].operands[0].target = 0x68;
    code[7].opcode = BC_COPY;
    code[7].flags = BC_FLAG_FROM_MEMORY;
    code[7].operands[0].reg = slot;
    code[7].operands[1].reg = reg;
    code[7].size = 8;
    code[8].opcode = BC_FLOAT_COMPARE_TO_CONSTANT;
    code[8].operands[0].reg = reg;
    code[8].operands[1].real = 1.5;
    code[9].opcode = BC_RETURN;
    code[10].opcode = 70;
    code[11].opcode = BC_STORE_CMP_RESULT;
    code[11].operands[0].reg = slot;
    code[11].operands[1].op = OP_GREATER_OR_EQUAL;

    const std::string expected[12] = {
        "0x0 set to zero " + s + ", size: 1,024",
        "0x68 copy constant number [" + m + "] <- 0x2a",
        "0xd0 int arithmetic constant " + m + " << 0x3",
        "0x138 memory dereference " + s + " <- [(" + m + ") + 2 * 8]",
        "0x1a0 memcmp [" + s + "], [CD+0x20] | size stored in " + m,
        "0x208 call 0x0 | arguments and return value: CallD",
        "0x270 jump le 0x68",
        "0x2d8 copy " + s + " <- [" + m + "], size: 8",
        "0x340 compare to constant " + m + ", 1.500000",
        "0x3a8 return ",
        "0x410 UNKNOWN INSTRUCTION ",
        "0x478 store cmp result " + s + ", >=",
    };
    static_assert(sizeof(Bytecode_Instruction) == 0x68, "positions above assume 104-byte records");
    for (u32 k = 0; k < 12; k++) {
        String line = get_bc_instruction_text(&code[k], code);
        EXPECT_EQ(std::string((const char *)line.data, (size_t)line.count), expected[k]) << k;
    }
}

TEST(ListingSource, LinesEndAtLfCrOrCrLf) {
    const struct {
        const char *text;
        u32 line;
        const char *expected;
    } rows[] = {
        {"a\nbb\nc", 2, "bb"},  {"a\r\nbb\r\nc\r\n", 2, "bb"}, {"a\rbb\rc", 3, "c"},
        {"a\r\n\r\nb", 2, ""},  {"a\r\n\r\nb", 3, "b"},       {"a\n\rb", 3, "b"},
        {"a\nb", 5, ""},        {"", 1, ""},                  {"only", 1, "only"},
    };
    for (auto &r : rows) {
        File_Record file = {};
        file.text = (u8 *)r.text;
        file.count = (u32)strlen(r.text);
        String s = debugger_file_get_line(&file, r.line);
        EXPECT_EQ(std::string((const char *)s.data, (size_t)s.count), r.expected) << r.text << " line " << r.line;
    }
}

TEST_F(Listing, FileInterleavesSourceLines) {
    const char *source = "x := 1;\r\ny := 2;\r\nz := x + y;\r\n";
    File_Record file = {};
    file.text = (u8 *)source;
    file.count = (u32)strlen(source);
    Dynamic_Array *files = &global_compiler_state.loaded_files;
    if (files->element_size == 0) dynamic_array_init(files, sizeof(File_Record *));
    u32 saved = files->count;
    File_Record *pointer = &file;
    u32 index = files->count;
    *(File_Record **)dynamic_array_add(files) = pointer;

    Token first = {}, third = {};
    first.location.file_index = index;
    first.location.line = 1;
    third.location.file_index = index;
    third.location.line = 3;
    Bytecode_Instruction code[4] = {};
    code[0].opcode = BC_DEBUG_BREAK;
    code[0].first = &first;
    code[1].opcode = BC_DEBUG_BREAK;
    code[1].first = &first;
    code[2].opcode = BC_RETURN;
    code[2].first = &third;
    code[3].opcode = BC_RETURN;
    code[3].first = &first; // going back to an earlier line prints it again

    Temp_Dir dir;
    std::string path = dir.file("listing.txt");
    write_whole_file(path, "old contents that must go away entirely");
    ASSERT_TRUE(log_bc_instructions(S(path.c_str()), code, 4));
    std::string written;
    ASSERT_TRUE(read_whole_file(path, &written));
    EXPECT_EQ(written, "x := 1;\n0x0 debug break \n0x68 debug break \nz := x + y;\n0xd0 return \nx := 1;\n0x138 return \n");
    EXPECT_FALSE(log_bc_instructions(S("/nonexistent-directory/listing.txt"), code, 4));
    files->count = saved;
}

} // namespace
