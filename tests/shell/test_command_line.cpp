// `tarno [file [line]]`: splitting, quoting, paths and the cursor's line.
#include <gtest/gtest.h>
#include "test_util.h"
#include "core/strings.h"
#include "shell/command_line.h"
#include "shell/globals.h"
#include "text/file.h"
#include "text/text_state.h"
#include <string>
#include <vector>

static std::vector<std::string> split(const std::string &bytes) {
    Dynamic_Array args;
    dynamic_array_init(&args, sizeof(String));
    split_command_line(String{(u8 *)bytes.data(), (s64)bytes.size()}, &args);
    std::vector<std::string> out;
    for (u32 i = 0; i < args.count; i++) {
        String a = *dynamic_array_at<String>(&args, i);
        out.emplace_back((const char *)a.data, (size_t)a.count);
    }
    dynamic_array_free(&args);
    return out;
}

TEST(Command_Line, SplitsAtNulBytesKeepingEmptyArguments) {
    using V = std::vector<std::string>;
    EXPECT_EQ(split(std::string("tarno\0a.txt\0" "12\0", 15)), (V{"tarno", "a.txt", "12"}));
    EXPECT_EQ(split(std::string("tarno\0\0x\0", 9)), (V{"tarno", "", "x"}));
    EXPECT_EQ(split(std::string("tarno", 5)), (V{"tarno"}));
    EXPECT_EQ(split(std::string()), V{});
}

TEST(Command_Line, ReadsItsOwnProcessAndJoinsWithSpaces) {
    Dynamic_Array args;
    ASSERT_TRUE(read_command_line(&args));
    ASSERT_GE(args.count, 1u);
    String joined = join_command_line(&args);
    std::string text((const char *)joined.data, (size_t)joined.count);
    EXPECT_NE(text.find("test_shell_command_line"), std::string::npos) << text;
    dynamic_array_free(&args);
    EXPECT_FALSE(read_command_line(&args, "/nonexistent/cmdline"));
}

TEST(Command_Line, MegabytesOfArgumentsStayOutOfTemporaryMemory) {
    // The kernel lets a command line grow to several MiB; joined for the log,
    // two copies of that in temporary memory would overrun it.
    Temp_Dir tmp;
    const std::string big(6u << 20, 'q');
    ASSERT_TRUE(write_whole_file(tmp.file("cmdline"), std::string("tarno\0", 6) + big + std::string("\0" "7\0", 3)));
    tmp_reset();
    Dynamic_Array args;
    ASSERT_TRUE(read_command_line(&args, tmp.file("cmdline").c_str()));
    EXPECT_LT(tmp_get_position(), 64u * 1024);
    ASSERT_EQ(args.count, 3u);
    EXPECT_EQ(dynamic_array_at<String>(&args, 1)->count, (s64)big.size());
    EXPECT_EQ(std::string((const char *)dynamic_array_at<String>(&args, 2)->data, 1), "7");
    String joined = join_command_line(&args);
    EXPECT_EQ(joined.count, (s64)(5 + 1 + big.size() + 1 + 1));
    dynamic_array_free(&args);
    tmp_reset();
}

TEST(Command_Line, PathsAreUnquotedAndTakenFromTheExecutableDirectory) {
    struct Case { const char *argument, *expected; } cases[] = {
        {"notes.txt", "/opt/tarno/notes.txt"},
        {"sub/notes.txt", "/opt/tarno/sub/notes.txt"},
        {"/abs/notes.txt", "/abs/notes.txt"},
        {"\"/abs/with space.txt\"", "/abs/with space.txt"},
        {"\"rel.txt\"", "/opt/tarno/rel.txt"},
        {"C:/windows/path", "C:/windows/path"},
        {"\"", "/opt/tarno/"},
    };
    for (const Case &c : cases) {
        String got = resolve_command_line_path(S(c.argument), S("/opt/tarno"));
        EXPECT_EQ(std::string((const char *)got.data, (size_t)got.count), c.expected) << c.argument;
    }
}

struct Opened {
    File *file;
    u64 cursor;
};

static Opened open_with(const std::string &directory, std::vector<std::string> argv) {
    Dynamic_Array args;
    dynamic_array_init(&args, sizeof(String));
    for (std::string &a : argv) *(String *)dynamic_array_add(&args) = tcopy_string(String{(u8 *)a.data(), (s64)a.size()});
    File *file = open_command_line_file(&args, String{(u8 *)directory.data(), (s64)directory.size()});
    dynamic_array_free(&args);
    return {file, file ? file->cursor : 0};
}

TEST(Command_Line, OpensTheFileAndPlacesTheCursorOnTheLine) {
    editor_text_init();
    Temp_Dir tmp;
    const std::string text = "one\r\ntwo\rthree\nfour";
    ASSERT_TRUE(write_whole_file(tmp.file("f.txt"), text));

    Opened plain = open_with(tmp.path, {"tarno", "f.txt"});
    ASSERT_NE(plain.file, nullptr);
    EXPECT_EQ(current_file, plain.file);
    EXPECT_EQ(global_editor_context, CONTEXT_FILE);
    EXPECT_EQ(std::string((const char *)file_text(plain.file), file_length(plain.file)), text);
    EXPECT_EQ(plain.cursor, 0u);
    close_file(plain.file);

    struct Case { const char *line; u64 cursor; } cases[] = {
        {"0", 0}, {"1", 0}, {"2", 5}, {"3", 9}, {"4", 15}, {"99", text.size()}, {"-3", 0}, {"x", 0},
    };
    for (const Case &c : cases) {
        Opened o = open_with(tmp.path, {"tarno", tmp.file("f.txt"), c.line});
        ASSERT_NE(o.file, nullptr) << c.line;
        EXPECT_EQ(o.cursor, c.cursor) << "line " << c.line;
        EXPECT_EQ(o.file->selection_anchor, c.cursor) << "line " << c.line;
        EXPECT_TRUE(file_has_flags(o.file, FILE_CENTRE_CURSOR)) << c.line;
        close_file(o.file);
    }
}

TEST(Command_Line, NoFileArgumentOrAnUnreadableFileOpensNothing) {
    editor_text_init();
    Temp_Dir tmp;
    u32 before = editor_num_files_in_use();
    EXPECT_EQ(open_with(tmp.path, {"tarno"}).file, nullptr);
    EXPECT_EQ(open_with(tmp.path, {"tarno", "missing.txt"}).file, nullptr);
    EXPECT_EQ(open_with(tmp.path, {"tarno", tmp.path}).file, nullptr); // a directory
    EXPECT_EQ(editor_num_files_in_use(), before);
    EXPECT_EQ(current_file, nullptr);
}
