// Files on disk: #load_file, the support files, and tarnoc's exit codes.
#include <gtest/gtest.h>
#include "compiler_test_util.h"
#include "test_util.h"

static std::string tarnoc() { return std::string(TARNO_BIN_DIR) + "/tarnoc"; }

TEST(Compiler_Files, LoadingTheSameFileTwiceLoadsItOnce) {
    Temp_Dir dir;
    ASSERT_TRUE(write_whole_file(dir.file("main.8"), "#load_file \"lib.8\";\n#load_file \"lib.8\";\n$A := LIB + 1;\n"));
    ASSERT_TRUE(write_whole_file(dir.file("lib.8"), "$LIB := 41;\n"));
    Compile_Result r = compile_file(dir.file("main.8"));
    EXPECT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.dump, "LIB : u64 = 41\nA : u64 = 42\n");
}

TEST(Compiler_Files, AMissingLoadedFileIsReportedAtTheDirective) {
    Temp_Dir dir;
    ASSERT_TRUE(write_whole_file(dir.file("main.8"), "#load_file \"nope.8\";\n"));
    Compile_Result r = compile_file(dir.file("main.8"));
    EXPECT_FALSE(r.ok);
    std::string path = dir.file("main.8");
    EXPECT_EQ(r.errors, path + ":1:1: error: Failed to load file '" + dir.path + "/nope.8'.\n#load_file \"nope.8\";\n^^^^^^^^^^\n");
}

TEST(Compiler_Files, AnEntryPointInTwoFilesIsReportedAtTheSecond) {
    Temp_Dir dir;
    ASSERT_TRUE(write_whole_file(dir.file("main.8"), "#on_load {}\n#load_file \"b.8\";\n"));
    ASSERT_TRUE(write_whole_file(dir.file("b.8"), "\n#on_load {}\n"));
    Compile_Result r = compile_file(dir.file("main.8"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errors, dir.file("b.8") + ":2:1: error: The #on_load entry point already exists.\n#on_load {}\n^^^^^^^^\n");
}

TEST(Compiler_Files, AMissingSupportFileStopsBeforeTheMainFile) {
    Temp_Dir dir;
    ASSERT_TRUE(write_whole_file(dir.file("main.8"), "this is not read"));
    Compile_Result r = compile_file(dir.file("main.8"), dir.path);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errors, "error: Failed to find file '" + dir.path + "/inject.8'.\n");
}

TEST(Compiler_Files, TarnocExitCodesAndOutputs) {
    Temp_Dir dir;
    ASSERT_TRUE(write_whole_file(dir.file("good.8"), "$A: u16 = 3 * 4;\n"));
    ASSERT_TRUE(write_whole_file(dir.file("bad.8"), "$A := ;\n"));
    std::string out;
    EXPECT_EQ(run_command(tarnoc() + " --check --dump-globals " + dir.file("good.8") + " 2>&1", &out), 0);
    EXPECT_EQ(out, "A : u16 = 12\n");
    EXPECT_EQ(run_command(tarnoc() + " --check " + dir.file("bad.8") + " 2>&1", &out), 1);
    EXPECT_EQ(out, dir.file("bad.8") + ":1:5: error: The compiler expected a value.\n$A := ;\n    ^\n");
    EXPECT_EQ(run_command(tarnoc() + " --bogus 2>&1", &out), 2);
    EXPECT_NE(out.find("usage: tarnoc"), std::string::npos);
    EXPECT_EQ(run_command(tarnoc() + " 2>&1", &out), 2);
}

TEST(Compiler_Files, LongChainsOfForwardReferencesResolveOrStopCleanly) {
    auto chain = [](int n) {
        std::string text;
        for (int i = 0; i < n; i++) text += "$A" + std::to_string(i) + " := A" + std::to_string(i + 1) + " + 1;\n";
        return text + "$A" + std::to_string(n) + " := 0;\n";
    };
    Compile_Result fine = compile_text(chain(600));
    EXPECT_TRUE(fine.ok) << fine.errors.substr(0, 300);
    EXPECT_EQ(fine.dump.substr(0, 14), "A0 : u64 = 600");
    Compile_Result deep = compile_text(chain(5000));
    EXPECT_FALSE(deep.ok);
    EXPECT_NE(deep.errors.find("This is nested too deeply for the compiler"), std::string::npos);
    Compile_Result types = compile_text("x: " + [] { std::string s; for (int i = 0; i < 3000; i++) s += "[] "; return s; }() + "u8;");
    EXPECT_FALSE(types.ok);
    EXPECT_NE(types.errors.find("This is nested too deeply for the compiler"), std::string::npos);
}
