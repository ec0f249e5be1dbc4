// Helpers for the text core tests: a clean editor state per test, files made
// from std::strings in a temporary directory, and a clock the test moves.
#pragma once
#include <gtest/gtest.h>
#include <string>
#include "test_util.h"
#include "text/file.h"
#include "text/text_state.h"

extern u64 fake_now;
inline u64 fake_clock() { return fake_now; }

struct Text_Test : ::testing::Test {
    Temp_Dir dir;
    void SetUp() override {
        editor_text_init();
        fake_now = 1000000000;
        text_hooks.now = fake_clock;
    }
    // A file record holding `bytes`, loaded from a real file called `name`.
    File *open_text(const std::string &bytes, const std::string &name = "t.txt") {
        std::string path = dir.file(name);
        EXPECT_TRUE(write_whole_file(path, bytes));
        File *file = add_a_file();
        EXPECT_TRUE(load_file_from_path(S(path.c_str()), file)) << std::string((char *)editor_last_error().data, editor_last_error().count);
        return file;
    }
};

inline std::string text_of(File *file) { return std::string((const char *)file_text(file), file_length(file)); }
inline std::string to_std(String s) { return std::string((const char *)s.data, (size_t)(s.count > 0 ? s.count : 0)); }
