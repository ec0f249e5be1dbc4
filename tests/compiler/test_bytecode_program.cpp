// Whole programs through bytecode: entry blocks, the tarnoc command, and a
// generated program of several thousand lines.
#include "compiler/back/bytecode_program.h"
#include "compiler/back/listing.h"
#include "compiler/back/statements.h"
#include "compiler/front/diagnostics.h"
#include "compiler/front/dump.h"
#include "test_util.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::string RUNTIME = TARNO_SOURCE_DIR "/runtime";

struct Program : ::testing::Test {
    Bytecode_Program program = {};
    std::string errors;
    void SetUp() override {
        static bool ready = false;
        if (!ready) init_compiler(String{(u8 *)RUNTIME.data(), (s64)RUNTIME.size()});
        ready = true;
    }
    void TearDown() override {
        free_program_state();
        free_compiler_state();
    }
    bool compile(const std::string &text) {
        Front_End_Options options = {};
        options.use_text = true;
        options.text = String{(u8 *)text.data(), (s64)text.size()};
        bool ok = compile_to_bytecode(S("/virtual/main.8"), options, &program);
        String e = format_compile_errors();
        errors.assign((const char *)e.data, (size_t)e.count);
        return ok;
    }
    std::vector<u8> opcodes() {
        std::vector<u8> out;
        for (u32 i = 0; i < program.count; i++) out.push_back(program.instructions[i].opcode);
        return out;
    }
};

TEST_F(Program, EntryBlocksSyntaxFirstThenEventsThenOnLoad) {
    ASSERT_TRUE(compile("#on_load {\n}\n#syntax {\n}\n#events {\n}\n")) << errors;
    const std::vector<u8> frame = {BC_PUSH_STACK_FRAME, BC_POP_STACK_FRAME, BC_RETURN};
    std::vector<u8> expected;
    for (int k = 0; k < 3; k++) expected.insert(expected.end(), frame.begin(), frame.end());
    EXPECT_EQ(opcodes(), expected);
    EXPECT_EQ(program.entry_flags, ENTRY_FLAG_EVENTS | ENTRY_FLAG_ON_LOAD | ENTRY_FLAG_SYNTAX);
    EXPECT_EQ(program.entry_positions[2], 0u);
    EXPECT_EQ(program.entry_positions[1], bytecode_position(3));
    EXPECT_EQ(program.entry_positions[0], bytecode_position(6));
    // The pop carries the closing brace, so the listing shows that line.
    EXPECT_EQ(program.instructions[1].first->location.line, 4u);
}

TEST_F(Program, OnlyTheBlocksWritten) {
    ASSERT_TRUE(compile("$N := 4;\n#events: ;\n")) << errors;
    EXPECT_EQ(program.entry_flags, ENTRY_FLAG_EVENTS);
    EXPECT_EQ(program.count, 3u);
    ASSERT_TRUE(compile("$N := 4;\n")) << errors;
    EXPECT_EQ(program.entry_flags, 0);
    EXPECT_EQ(program.count, 0u);
}

TEST_F(Program, FrontEndErrorsStopBeforeBytecode) {
    EXPECT_FALSE(compile("#on_load {\n}\n$x: u32 = ;\n"));
    EXPECT_NE(errors.find("main.8:3:"), std::string::npos) << errors;
    EXPECT_EQ(program.count, 0u);
}

// The generated program is the benchmark's: sub-programs with loops,
// branches, switches, calls, a struct and arithmetic, over 6,000 lines.
TEST_F(Program, GeneratedProgramListing) {
    Temp_Dir dir;
    std::string command = "/usr/bin/python3 " TARNO_SOURCE_DIR "/bench/gen_program.py " + dir.path + " 200";
    ASSERT_EQ(run_command(command), 0);
    std::string text;
    ASSERT_TRUE(read_whole_file(dir.file("main.8"), &text));
    ASSERT_GE(std::count(text.begin(), text.end(), '\n'), 6000);
    ASSERT_TRUE(compile(text)) << errors;
    std::string listing = dir.file("listing.txt");
    ASSERT_TRUE(log_bc_instructions(S(listing.c_str()), program.instructions, program.count));
    std::string written;
    ASSERT_TRUE(read_whole_file(listing, &written));
    EXPECT_EQ(written.find("UNKNOWN INSTRUCTION"), std::string::npos);
    EXPECT_EQ(written.find("INVALID"), std::string::npos);
    for (const char *line : {"$step1: (a: s64, b: s64) -> s64 = {", "    switch total & 3 {", "push stack frame step200",
                             " call 0x", "jump ge 0x"}) {
        EXPECT_NE(written.find(line), std::string::npos) << line;
    }
    u32 pushes = 0;
    for (u32 i = 0; i < program.count; i++) pushes += program.instructions[i].opcode == BC_PUSH_STACK_FRAME;
    EXPECT_EQ(pushes, 201u);
}

static std::string listing_text(const Bytecode_Instruction *code, u32 count) {
    std::string out;
    for (u32 i = 0; i < count; i++) {
        String line = get_bc_instruction_text((Bytecode_Instruction *)&code[i], (Bytecode_Instruction *)code);
        out.append((const char *)line.data, (size_t)line.count);
        out += '\n';
    }
    return out;
}

// The driver lowers each sub-program as soon as its body is compiled and
// hands its IR back; the result must be what lowering everything at the end
// gives, jump targets and call distances included.
TEST_F(Program, SubProgramsLoweredAsTheyAreCompiledGiveTheSameBytecode) {
    Temp_Dir dir;
    std::string command = "/usr/bin/python3 " TARNO_SOURCE_DIR "/bench/gen_program.py " + dir.path + " 40";
    ASSERT_EQ(run_command(command), 0);
    std::string text;
    ASSERT_TRUE(read_whole_file(dir.file("main.8"), &text));
    text += "#events { x := step1(3, 4); if x > 2 { x = step2(x, 1); } }\n";
    ASSERT_TRUE(compile(text)) << errors;
    std::string streamed = listing_text(program.instructions, program.count);
    free_program_state();
    free_compiler_state();
    Front_End_Options options = {};
    options.use_text = true;
    options.text = String{(u8 *)text.data(), (s64)text.size()};
    ASSERT_TRUE(compile_program(S("/virtual/main.8"), options));
    u64 entries[3];
    u8 flags;
    ASSERT_TRUE(make_bytecode_from_state(entries, &flags));
    std::string whole = listing_text((Bytecode_Instruction *)bytecode_state.instructions.data, bytecode_state.instructions.count);
    EXPECT_GT(program.count, 1000u);
    EXPECT_EQ(streamed.size(), whole.size());
    EXPECT_TRUE(streamed == whole);
    EXPECT_EQ(entries[1], 0u); // #events comes before #on_load and the sub-programs
}

TEST(Tarnoc, ExitStatusAndListing) {
    Temp_Dir dir;
    write_whole_file(dir.file("good.8"), "#on_load {\n}\n");
    write_whole_file(dir.file("bad.8"), "$x: u32 = ;\n");
    const std::string tarnoc = TARNO_BIN_DIR "/tarnoc --root " + RUNTIME + " ";
    std::string out;
    EXPECT_EQ(run_command(tarnoc + "--listing " + dir.file("l.txt") + " " + dir.file("good.8") + " 2>&1", &out), 0);
    EXPECT_EQ(out, "");
    std::string listing;
    ASSERT_TRUE(read_whole_file(dir.file("l.txt"), &listing));
    EXPECT_EQ(listing, "#on_load {\n0x0 push stack frame #on_load, frame size: 0\n}\n0x68 pop stack frame #on_load\n"
                       "0xd0 return \n");
    EXPECT_EQ(run_command(tarnoc + dir.file("bad.8") + " 2>&1", &out), 1);
    EXPECT_NE(out.find("bad.8:1:"), std::string::npos) << out;
    EXPECT_EQ(run_command(tarnoc + "--listing /nonexistent/l.txt " + dir.file("good.8") + " 2>&1", &out), 1);
    EXPECT_NE(out.find("cannot write the listing"), std::string::npos) << out;
    EXPECT_EQ(run_command(tarnoc + "--check --listing x " + dir.file("good.8") + " 2>/dev/null"), 2);
}

} // namespace
