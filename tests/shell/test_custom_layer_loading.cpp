// compile_custom_layer on real files: an executable directory of its own
// (the support files and a custom.8 written by each test), the real
// compiler, the real image loader and the editor's foreign routines.
#include <gtest/gtest.h>
#include "test_util.h"
#include "shell/custom_layer.h"
#include "shell/custom_layer_events.h"
#include "shell/file_watcher.h"
#include "shell/globals.h"
#include "core/assets.h"
#include "core/log.h"
#include "text/editor_api_types.h"
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"
#include <string>
#include <sys/stat.h>
#include <stdlib.h>
#include <unistd.h>
#include "shell/shell.h"
#include "text/file.h"
#include "text/text_state.h"

class Custom_Layer_Loading : public ::testing::Test {
protected:
    static Temp_Dir *directory;

    static void SetUpTestSuite() {
        directory = new Temp_Dir();
        std::string bytes;
        for (const char *name : {"inject.8", "api.8"}) {
            ASSERT_TRUE(read_whole_file(std::string(TARNO_SOURCE_DIR) + "/runtime/" + name, &bytes));
            ASSERT_TRUE(write_whole_file(directory->file(name), bytes));
        }
        executable_filepath = String{(u8 *)directory->path.data(), (s64)directory->path.size()};
        if (!__global_log.buffer) init_logging();
        editor_text_init();
        init_compiler(executable_filepath);
    }
    static void TearDownTestSuite() {
        delete directory;
        directory = nullptr;
    }
    void SetUp() override {
        atomic_and(&global_flags, ~(u64)DISPLAY_COMPILE_ERRORS);
    }

    static void write_layer(const std::string &text) { ASSERT_TRUE(write_whole_file(directory->file("custom.8"), text)); }
    static bool compile(const std::string &text) {
        write_layer(text);
        return compile_custom_layer(false);
    }
    static std::string all_errors() {
        std::string out;
        for (u32 i = 0; i < compile_errors.count; i++) out += dynamic_array_at<Error_Report>(&compile_errors, i)->message, out += "\n";
        return out;
    }
    static bool logged(const char *text) {
        std::string log((const char *)__global_log.buffer, __global_log.used);
        return log.find(text) != std::string::npos;
    }
    static bool watching(const std::string &path) {
        for (u32 i = 0; i < custom_layer_watch.files.count; i++)
            if (path == dynamic_array_at<Watched_Source_File>(&custom_layer_watch.files, i)->path) return true;
        return false;
    }
};
Temp_Dir *Custom_Layer_Loading::directory;

static const char GOOD_LAYER[] = "#load_file \"more.8\";\n"
                                 "#on_load { toggle_line_numbers(); log(GREETING); }\n"
                                 "#events { log(\"events ran\"); }\n";

TEST_F(Custom_Layer_Loading, CompilesLoadsAndRunsOnLoadAndWatchesEverySource) {
    ASSERT_TRUE(write_whole_file(directory->file("more.8"), "$GREETING := \"hello from the layer\";\n"));
    u8 line_numbers = global_settings_flags & DISPLAY_LINE_NUMBERS;
    ASSERT_TRUE(compile(GOOD_LAYER)) << all_errors();
    EXPECT_EQ(compile_errors.count, 0u);
    EXPECT_NE(global_settings_flags & DISPLAY_LINE_NUMBERS, line_numbers);
    EXPECT_TRUE(logged("hello from the layer"));
    EXPECT_NE(custom_layer_events_entry, nullptr);
    EXPECT_EQ(custom_layer_syntax_entry, nullptr); // the layer has no #syntax block
    struct stat image = {};
    ASSERT_EQ(stat(directory->file("custom.8b").c_str(), &image), 0);
    EXPECT_TRUE(watching(directory->file("custom.8")));
    EXPECT_TRUE(watching(directory->file("more.8")));

    // The cache: the same sources reuse custom.8b (not rewritten) and #on_load runs again.
    ASSERT_TRUE(compile_custom_layer(true));
    struct stat again = {};
    ASSERT_EQ(stat(directory->file("custom.8b").c_str(), &again), 0);
    EXPECT_EQ(again.st_mtim.tv_nsec, image.st_mtim.tv_nsec);
    EXPECT_EQ(again.st_mtim.tv_sec, image.st_mtim.tv_sec);
    EXPECT_EQ(global_settings_flags & DISPLAY_LINE_NUMBERS, line_numbers); // toggled back
    EXPECT_TRUE(watching(directory->file("more.8")));
}

TEST_F(Custom_Layer_Loading, ABrokenLayerKeepsThePreviousImageAndLeavesErrors) {
    ASSERT_TRUE(write_whole_file(directory->file("more.8"), "$GREETING := \"hello from the layer\";\n"));
    ASSERT_TRUE(compile(GOOD_LAYER)) << all_errors();
    Image_Header *previous = custom_layer.image.header;
    void (*events)() = custom_layer_events_entry;

    EXPECT_FALSE(compile("#on_load { set_font_size(NO_SUCH_CONSTANT); }\n"));
    EXPECT_GT(compile_errors.count, 0u);
    EXPECT_TRUE(global_flags & DISPLAY_COMPILE_ERRORS);
    EXPECT_EQ(custom_layer.image.header, previous);
    EXPECT_EQ(custom_layer_events_entry, events);
    EXPECT_FALSE(custom_layer.disabled);
    // Fixing the error must recompile, so custom.8 stays watched.
    EXPECT_TRUE(watching(directory->file("custom.8")));

    // The old layer still answers events.
    u64 used = __global_log.used;
    custom_layer_num_events = 1;
    run_custom_layer_events();
    EXPECT_FALSE(custom_layer.disabled);
    EXPECT_NE(std::string((const char *)__global_log.buffer + used, __global_log.used - used).find("events ran"), std::string::npos);

    ASSERT_TRUE(compile(GOOD_LAYER)) << all_errors();
    EXPECT_EQ(compile_errors.count, 0u);
}

TEST_F(Custom_Layer_Loading, AFaultingOrHangingLayerIsSwitchedOffUntilTheNextGoodCompile) {
    EXPECT_FALSE(compile("#on_load { p: @ s64; x := p[0]; log(int_to_string(x)); }\n#events { log(\"x\"); }\n"));
    EXPECT_TRUE(custom_layer.disabled);
    EXPECT_EQ(custom_layer_events_entry, nullptr);
    ASSERT_GT(compile_errors.count, 0u);
    EXPECT_NE(all_errors().find("#on_load"), std::string::npos) << all_errors();
    EXPECT_NE(all_errors().find("null"), std::string::npos) << all_errors();
    EXPECT_TRUE(global_flags & DISPLAY_COMPILE_ERRORS);

    ASSERT_TRUE(write_whole_file(directory->file("more.8"), "$GREETING := \"hello from the layer\";\n"));
    ASSERT_TRUE(compile(GOOD_LAYER)) << all_errors();
    EXPECT_FALSE(custom_layer.disabled);
    EXPECT_NE(custom_layer_events_entry, nullptr);

    // An #events block that never returns is stopped by the time limit.
    ASSERT_TRUE(compile("#events { i: s64 = 0; while i >= 0 { i = i + 1; } }\n")) << all_errors();
    ASSERT_NE(custom_layer_events_entry, nullptr);
    custom_layer_num_events = 1;
    run_custom_layer_events();
    EXPECT_TRUE(custom_layer.disabled);
    EXPECT_EQ(custom_layer_events_entry, nullptr);
    EXPECT_NE(all_errors().find("#events"), std::string::npos) << all_errors();
}

// open_directory_in_explorer reaches the desktop's opener with the
// directory the editor is in (a stand-in xdg-open records its argument).
TEST(Explorer_Hook, OpensTheWorkingDirectoryWithTheDesktopOpener) {
    Temp_Dir bin;
    std::string record = bin.file("opened");
    ASSERT_TRUE(write_whole_file(bin.file("xdg-open"), "#!/bin/sh\nprintf '%s' \"$1\" > '" + record + "'\n"));
    ASSERT_EQ(chmod(bin.file("xdg-open").c_str(), 0755), 0);
    std::string saved_path = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (bin.path + ":" + saved_path).c_str(), 1);
    if (!text_hooks.now) editor_text_init();
    shell_init();
    current_file = nullptr;
    ASSERT_TRUE(set_filepath_from(&editor_working_directory, String{(u8 *)bin.path.data(), (s64)bin.path.size()}));
    text_hooks.open_directory_in_explorer();
    std::string opened;
    for (int i = 0; i < 100 && (!read_whole_file(record, &opened) || opened.empty()); i++) usleep(50000);
    setenv("PATH", saved_path.c_str(), 1);
    EXPECT_EQ(opened, bin.path);
}

// The shipped layer's #syntax block, compiled and run as the editor runs it,
// over one small file per language: pieces of one kind share a colour and
// differ from another kind, whatever shades the layer picks.
static std::string colour_at(File *file, u64 offset) {
    for (u32 i = 0; i < file->colour_chunks.count; i++) {
        Colour_Chunk *c = dynamic_array_at<Colour_Chunk>(&file->colour_chunks, i);
        if (offset < c->offset || offset >= c->offset + c->length) continue;
        Colour *k = dynamic_array_at<Colour>(&file->palette, c->palette_index);
        char text[64];
        snprintf(text, sizeof text, "%.4f %.4f %.4f", k->r, k->g, k->b);
        return text;
    }
    return "none";
}

// A hang here once came from generated code: values a caller held in
// caller-saved registers did not survive a sub-program that called the
// editor (tests/programs/foreign_call_registers.8). TARNO_DEBUG_SYNTAX=1
// adds the log's tail to the failure messages.
// text/tokeniser.h clashes with the compiler's token names.
struct Tokenisation_Hint;
const Tokenisation_Hint *file_tokenisation_hint(File *file);

// What was painted, for the failure messages: offset+length per chunk.
static std::string painted(File *file) {
    std::string out;
    for (u32 i = 0; i < file->colour_chunks.count; i++) {
        Colour_Chunk *c = dynamic_array_at<Colour_Chunk>(&file->colour_chunks, i);
        out += " " + std::to_string(c->offset) + "+" + std::to_string(c->length);
    }
    if (getenv("TARNO_DEBUG_SYNTAX")) out += "\n" + std::string((const char *)__global_log.buffer, __global_log.used).substr(__global_log.used > 600 ? __global_log.used - 600 : 0);
    return out.empty() ? " nothing" : out;
}

TEST_F(Custom_Layer_Loading, TheShippedSyntaxBlockColoursEachLanguage) {
    for (const char *name : {"custom.8", "keys.8", "syntax.8"}) {
        std::string bytes;
        ASSERT_TRUE(read_whole_file(std::string(TARNO_SOURCE_DIR) + "/runtime/" + name, &bytes));
        ASSERT_TRUE(write_whole_file(directory->file(name), bytes));
    }
    ASSERT_TRUE(compile_custom_layer(false)) << all_errors();
    ASSERT_NE(custom_layer_syntax_entry, nullptr);
    struct Case {
        const char *name, *text;
        // Two pieces of the text that share a colour, and one that differs.
        const char *same_a, *same_b, *other;
    } cases[] = {
        {"a.c", "#include <x.h>\nint main() { return 42; } // done\n/* more */\n", "// done", "/* more */", "return"},
        {"b.py", "def f(x):\n    return 'it''s' # note\n", "def", "return", "# note"},
        {"c.sh", "if [ -n \"$HOME\" ]; then echo hi; fi # end\n", "if", "then", "# end"},
        {"d.json", "{\"key\": \"value\", \"n\": 12}\n", "\"key\"", "\"n\"", "\"value\""},
        {"e.md", "# Title\nSome `code` here\n", "# Title", "# Title", "`code`"},
        {"f.8", "$X: u32 = 5; // five\n#on_load { if X == 5 { return; } }\n", "if", "return", "// five"},
    };
    for (const Case &c : cases) {
        std::string path = directory->file(c.name);
        ASSERT_TRUE(write_whole_file(path, c.text));
        File *file = add_a_file();
        ASSERT_TRUE(load_file_from_path(String{(u8 *)path.data(), (s64)path.size()}, file)) << c.name;
        ASSERT_NE(file_tokenisation_hint(file), nullptr) << c.name << ": custom.8's hints did not arrive";
        file->syntax_info = {0, file_length(file), 0, 0};
        custom_layer_syntax_entry(file);
        ASSERT_FALSE(custom_layer.disabled) << c.name << ": " << all_errors() << "painted:" << painted(file);
        std::string text = c.text;
        std::string a = colour_at(file, text.find(c.same_a)), b = colour_at(file, text.find(c.same_b));
        std::string other = colour_at(file, text.find(c.other));
        EXPECT_NE(a, "none") << c.name << ": " << c.same_a << "; painted:" << painted(file);
        EXPECT_EQ(a, b) << c.name << ": " << c.same_a << " and " << c.same_b;
        EXPECT_NE(other, "none") << c.name << ": " << c.other;
        EXPECT_NE(a, other) << c.name << ": " << c.same_a << " and " << c.other;
        close_file(file);
    }
    // The layer's own source, the first .8 file a user opens, must colour
    // well within the time limit.
    std::string path = directory->file("custom.8");
    File *file = add_a_file();
    ASSERT_TRUE(load_file_from_path(String{(u8 *)path.data(), (s64)path.size()}, file));
    file->syntax_info = {0, file_length(file), 0, 0};
    custom_layer_syntax_entry(file);
    EXPECT_FALSE(custom_layer.disabled) << all_errors();
    EXPECT_GT(file->colour_chunks.count, 20u);
    close_file(file);
}

// A layer that compiles but whose image cannot be written (a directory holds
// its name) tells the compile-errors tab, and keeps the previous layer.
TEST_F(Custom_Layer_Loading, AnImageThatCannotBeWrittenIsReportedNotOnlyLogged) {
    ASSERT_TRUE(write_whole_file(directory->file("more.8"), "$GREETING := \"hello from the layer\";\n"));
    ASSERT_TRUE(compile(GOOD_LAYER)) << all_errors();
    Image_Header *previous = custom_layer.image.header;
    std::string image = directory->file("custom.8b");
    ASSERT_EQ(unlink(image.c_str()), 0);
    ASSERT_EQ(mkdir(image.c_str(), 0700), 0);
    EXPECT_FALSE(compile(GOOD_LAYER));
    EXPECT_NE(all_errors().find(image), std::string::npos) << all_errors();
    EXPECT_TRUE(global_flags & DISPLAY_COMPILE_ERRORS);
    EXPECT_EQ(custom_layer.image.header, previous);
    ASSERT_EQ(rmdir(image.c_str()), 0);
    ASSERT_TRUE(compile(GOOD_LAYER)) << all_errors();
    EXPECT_EQ(compile_errors.count, 0u);
}
