// Files on disk: #load_file, the support files, and tarnoc's exit codes.
#include <gtest/gtest.h>
#include "compiler_test_util.h"
#include "test_util.h"
#include <vector>
#include "compiler/front/compiler.h"

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
    EXPECT_EQ(r.errors, dir.file("b.8") + ":2:1: error: An #on_load block has already been declared.\n#on_load {}\n^^^^^^^^\n");
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

TEST(Compiler_Files, PathsAreFoldedBeforeTheyAreCompared) {
    compile_text("");
    const std::pair<const char *, const char *> cases[] = {
        {"/a/./b.8", "/a/b.8"},      {"/a/b/../c.8", "/a/c.8"},   {"/a//b.8", "/a/b.8"},
        {"/../a.8", "/a.8"},         {"a/../../b.8", "../b.8"},   {"../../a.8", "../../a.8"},
        {"C:/x/../y.8", "C:/y.8"},   {"C:\\x\\.\\y.8", "C:/x/y.8"}, {"/a/b/c/../../d.8", "/a/d.8"},
        {"/a/./", "/a"},             {"/", "/"},
    };
    for (auto &c : cases) {
        String s = normalise_path(S(c.first));
        EXPECT_EQ(std::string((const char *)s.data, (size_t)s.count), c.second) << c.first;
    }
}

struct Load_Case {
    const char *name;
    std::vector<std::pair<const char *, const char *>> files; // main.8 first
    const char *dump;   // when it compiles
    const char *errors; // otherwise; DIR stands for the directory
};

static std::string with_dir(std::string text, const std::string &dir) {
    for (size_t at; (at = text.find("DIR")) != std::string::npos;) text.replace(at, 3, dir);
    return text;
}

static const Load_Case LOAD_CASES[] = {
    {"a file that loads itself by another name", {{"main.8", "#load_file \"./main.8\";\n$A := 1;\n"}}, "A : u64 = 1\n", nullptr},
    {"two files that load each other",
     {{"main.8", "#load_file \"b.8\";\n$A := B + 1;\n"}, {"b.8", "#load_file \"main.8\";\n$B := 2;\n"}},
     "B : u64 = 2\nA : u64 = 3\n", nullptr},
    {"paths are relative to the loading file",
     {{"main.8", "#load_file \"sub/b.8\";\n"}, {"sub/b.8", "#load_file \"c.8\";\n#load_file \"../d.8\";\n"},
      {"sub/c.8", "$C := 3;\n"}, {"d.8", "$D := 4;\n"}},
     "C : u64 = 3\nD : u64 = 4\n", nullptr},
    {"a directory is not a file", {{"main.8", "#load_file \"sub\";\n"}, {"sub/x.8", ""}}, nullptr,
     "DIR/main.8:1:1: error: Failed to load file 'DIR/sub'.\n#load_file \"sub\";\n^^^^^^^^^^\n"},
    {"a drive-letter path is taken as absolute", {{"main.8", "#load_file \"Q:/x.8\";\n"}}, nullptr,
     "DIR/main.8:1:1: error: Failed to load file 'Q:/x.8'.\n#load_file \"Q:/x.8\";\n^^^^^^^^^^\n"},
    {"an error in a loaded file names that file",
     {{"main.8", "#load_file \"b.8\";\n"}, {"b.8", "\n$B: u8 = 300;\n"}}, nullptr,
     "DIR/b.8:2:10: error: The destination (type u8) is too small to contain the source (type u16).\n$B: u8 = 300;\n         ^^^\n"},
    {"a load in a static #if is relative to the file of the chain",
     {{"main.8", "#load_file \"sub/b.8\";\n$MODE := 1;\n"}, {"sub/b.8", "#if MODE == 1 { #load_file \"c.8\"; }\n"},
      {"sub/c.8", "$C := 7;\n"}},
     "MODE : u64 = 1\nC : u64 = 7\n", nullptr},
    {"a static #if in a loaded file chooses else",
     {{"main.8", "#load_file \"b.8\";\n$MODE := 2;\n"}, {"b.8", "#if MODE == 1 { $X := 1; } else #if MODE == 3 { $X := 3; } else { $X := 9; }\n"}},
     "MODE : u64 = 2\nX : u64 = 9\n", nullptr},
    {"an #insert inserts code that loads a file",
     {{"main.8", "$C := #code { #load_file \"b.8\"; };\n#insert C;\n"}, {"b.8", "$B := 5;\n"}},
     "C : Code = #code\nB : u64 = 5\n", nullptr},
    {"a file with a lexer error", {{"main.8", "#load_file \"b.8\";\n"}, {"b.8", "$B := (1;\n"}}, nullptr,
     "DIR/b.8:1:7: error: There is no matching ')' for this.\n$B := (1;\n      ^\n"},
};

TEST(Compiler_Files, LoadingFromDisk) {
    for (const Load_Case &c : LOAD_CASES) {
        Temp_Dir dir;
        for (auto &f : c.files) {
            std::string path = dir.file(f.first);
            size_t slash = path.rfind('/');
            run_command("mkdir -p '" + path.substr(0, slash) + "'");
            ASSERT_TRUE(write_whole_file(path, f.second));
        }
        Compile_Result r = compile_file(dir.file("main.8"));
        if (c.dump) {
            EXPECT_TRUE(r.ok) << c.name << "\n" << r.errors;
            EXPECT_EQ(r.dump, c.dump) << c.name;
        } else {
            EXPECT_FALSE(r.ok) << c.name;
            EXPECT_EQ(r.errors, with_dir(c.errors, dir.path)) << c.name;
        }
    }
}

TEST(Compiler_Files, ALinkThatLoopsBackLoadsNothingTwice) {
    Temp_Dir dir;
    ASSERT_EQ(run_command("ln -s . '" + dir.file("loop") + "'"), 0);
    ASSERT_TRUE(write_whole_file(dir.file("main.8"), "#load_file \"loop/main.8\";\n#load_file \"loop/loop/b.8\";\n#load_file \"b.8\";\n$A := B;\n"));
    ASSERT_TRUE(write_whole_file(dir.file("b.8"), "$B := 1;\n"));
    Compile_Result r = compile_file(dir.file("main.8"));
    EXPECT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.dump, "B : u64 = 1\nA : u64 = 1\n");
}

TEST(Compiler_Files, TheDeferredLoopRunsUntilNothingIsLeft) {
    // Each #insert makes the next one; the last makes a static #if.
    Compile_Result r = compile_text("$C1 := #code { #insert C2; };\n$C2 := #code { #insert C3; };\n"
                                    "$C3 := #code { #if N == 3 { $DONE := 1; } };\n$N := 3;\n#insert C1;\n");
    ASSERT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.dump, "C1 : Code = #code\nC2 : Code = #code\nC3 : Code = #code\nN : u64 = 3\nDONE : u64 = 1\n");
    Compile_Result wrong = compile_text("$N := 3;\n#insert N;\n");
    EXPECT_FALSE(wrong.ok);
    EXPECT_EQ(wrong.errors, "/virtual/main.8:2:9: error: Type mismatch: wanted 'Code' but got 'u64' instead.\n#insert N;\n        ^\n");
}
