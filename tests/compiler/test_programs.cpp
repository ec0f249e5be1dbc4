// Whole programs through tarnoc --run: every NAME.8 in tests/programs runs
// and its standard output must equal NAME.out; NAME.status, when present,
// holds the expected exit status and a text its error output must contain.
#include "test_util.h"
#include <gtest/gtest.h>
#include <dirent.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

// The code section of the program's image decodes without a "(bad)" instruction.
void expect_code_decodes(Temp_Dir &tmp, const std::string &source, const std::string &name) {
    std::string image = tmp.file(name + ".8b"), bytes, listing;
    ASSERT_EQ(run_command("'" + std::string(TARNO_BIN_DIR) + "/tarnoc' -o '" + image + "' '" + source + "'", &listing), 0) << name;
    ASSERT_TRUE(read_whole_file(image, &bytes)) << name;
    ASSERT_GE(bytes.size(), 104u) << name;
    uint32_t offset, size;
    memcpy(&offset, bytes.data() + 40, 4);
    memcpy(&size, bytes.data() + 44, 4);
    ASSERT_LE((uint64_t)offset + size, bytes.size()) << name;
    ASSERT_GT(size, 0u) << name;
    ASSERT_TRUE(write_whole_file(tmp.file(name + ".code"), bytes.substr(offset, size))) << name;
    ASSERT_EQ(run_command("objdump -D -b binary -m i386:x86-64 '" + tmp.file(name + ".code") + "'", &listing), 0) << name;
    EXPECT_EQ(listing.find("(bad)"), std::string::npos) << name;
}

TEST(Programs, RunAndPrintWhatTheyLog) {
    std::string dir = std::string(TARNO_SOURCE_DIR) + "/tests/programs";
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 2 && n.substr(n.size() - 2) == ".8") names.push_back(n.substr(0, n.size() - 2));
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    ASSERT_GE(names.size(), 5u);
    Temp_Dir tmp;
    for (const std::string &name : names) {
        std::string source = dir + "/" + name + ".8", expected, status_text, output, errors;
        ASSERT_TRUE(read_whole_file(dir + "/" + name + ".out", &expected)) << name;
        int expected_status = 0;
        std::string expected_error;
        if (read_whole_file(dir + "/" + name + ".status", &status_text)) {
            expected_status = atoi(status_text.c_str());
            size_t space = status_text.find(' ');
            if (space != std::string::npos) expected_error = status_text.substr(space + 1, status_text.find('\n') - space - 1);
        }
        std::string err = tmp.file(name + ".err");
        int status = run_command("'" + std::string(TARNO_BIN_DIR) + "/tarnoc' --run '" + source + "' 2>'" + err + "'", &output);
        read_whole_file(err, &errors);
        EXPECT_EQ(status, expected_status) << name << "\n" << errors;
        EXPECT_EQ(output, expected) << name;
        if (!expected_error.empty()) {
            EXPECT_NE(errors.find(expected_error), std::string::npos) << name << ": " << errors;
        }
        if (expected_status == 0) {
            EXPECT_EQ(errors, "") << name;
        }
        if (expected_status != 1) expect_code_decodes(tmp, source, name);
    }
    // -o writes an image the editor can load; the file starts with the magic.
    std::string image = tmp.file("custom.8b"), bytes, ignored;
    ASSERT_EQ(run_command("'" + std::string(TARNO_BIN_DIR) + "/tarnoc' -o '" + image + "' '" + dir + "/arithmetic.8'", &ignored), 0);
    ASSERT_TRUE(read_whole_file(image, &bytes));
    EXPECT_EQ(bytes.substr(0, 4), "8888");
}

} // namespace
