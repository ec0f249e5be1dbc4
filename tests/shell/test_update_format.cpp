// The update data format and the updater program on a copy of an executable
// directory: anything less than whole, well-formed data changes nothing.
#include <gtest/gtest.h>
#include "test_util.h"
#include "updater/update_format.h"
#include "update_test_data.h"
#include <string>
#include <vector>

static const char *read_problem(const std::string &bytes, u32 *count = nullptr) {
    Dynamic_Array entries;
    const char *problem = update_data_read(String{(u8 *)bytes.data(), (s64)bytes.size()}, &entries);
    if (count) *count = entries.count;
    dynamic_array_free(&entries);
    return problem;
}

TEST(Update_Format, OnlyWholeWellFormedDataReads) {
    std::string good = make_update({{"tarno", "abc"}, {"tarno.data", std::string("\0\1\2", 3)}});
    std::string flipped_payload = good, flipped_checksum = good, other_format = good;
    flipped_payload[30] ^= 1;
    flipped_checksum[16] ^= 1;
    other_format[4] = 2;
    struct Case {
        const char *what;
        std::string bytes;
        bool ok;
    } cases[] = {
        {"whole", good, true},
        {"empty", "", false},
        {"header only, no files", make_update({}), false},
        {"truncated", good.substr(0, good.size() - 1), false},
        {"trailing bytes", good + "x", false},
        {"payload bit flipped", flipped_payload, false},
        {"checksum bit flipped", flipped_checksum, false},
        {"other format", other_format, false},
        {"path in a name", make_update({{"../tarno", "x"}}), false},
        {"dot-dot name", make_update({{"..", "x"}}), false},
        {"sub-directory", make_update({{"a/b", "x"}}), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        u32 count = 0;
        const char *problem = read_problem(c.bytes, &count);
        EXPECT_EQ(problem == nullptr, c.ok) << (problem ? problem : "");
        if (c.ok) {
            EXPECT_EQ(count, 2u);
        }
    }
}

struct Updater_Run {
    Temp_Dir dir;
    Updater_Run() {
        write_whole_file(dir.file("tarno"), "old editor");
        write_whole_file(dir.file("tarno.data"), "old data");
        run_command("cp '" TARNO_BIN_DIR "/updater' '" + dir.file("updater") + "'");
    }
    int run(const std::string &update_data) {
        write_whole_file(dir.file("update.data"), update_data);
        return run_command("'" + dir.file("updater") + "' 2>/dev/null");
    }
    std::string read(const std::string &name) {
        std::string s;
        read_whole_file(dir.file(name), &s);
        return s;
    }
};

TEST(Updater, RefusesDamagedDataWithoutTouchingAnything) {
    std::string good = make_update({{"tarno", "new editor"}, {"tarno.data", "new data"}});
    std::string damaged[] = {good.substr(0, good.size() / 2), "<html>502 Bad Gateway</html>",
                             make_update({{"tarno", "x"}, {"tarno", "y"}}), make_update({{"../escape", "x"}})};
    for (const std::string &bytes : damaged) {
        Updater_Run u;
        EXPECT_NE(u.run(bytes), 0);
        EXPECT_EQ(u.read("tarno"), "old editor");
        EXPECT_EQ(u.read("tarno.data"), "old data");
        EXPECT_EQ(u.read("update.data"), bytes) << "kept for a look";
        EXPECT_NE(run_command("ls -A '" + u.dir.path + "' | grep -q '\\.new$'"), 0) << "no temporary files left";
        EXPECT_NE(u.read("update.log").find("nothing was changed"), std::string::npos);
    }
}

TEST(Updater, InstallsEveryFileAndPacksWhatItInstalls) {
    Updater_Run u;
    write_whole_file(u.dir.file("new_tool"), "tool bytes");
    ASSERT_EQ(run_command("'" TARNO_BIN_DIR "/updater' --pack '" + u.dir.file("packed") + "' '" + u.dir.file("new_tool") + "'"), 0);
    std::string packed = u.read("packed");
    ASSERT_EQ(read_problem(packed), nullptr);
    EXPECT_EQ(u.run(packed), 0);
    EXPECT_EQ(u.read("new_tool"), "tool bytes");

    EXPECT_EQ(u.run(make_update({{"tarno", "new editor"}, {"tarno.data", "new data"}})), 0);
    EXPECT_EQ(u.read("tarno"), "new editor");
    EXPECT_EQ(u.read("tarno.data"), "new data");
    EXPECT_NE(access(u.dir.file("update.data").c_str(), F_OK), 0);
    EXPECT_NE(run_command("ls -A '" + u.dir.path + "' | grep -q -E '\\.(new|old)$'"), 0);
    EXPECT_NE(u.run("anything"), 0) << "a second run has nothing valid to install";
}
