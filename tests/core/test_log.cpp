// The in-memory log, its files and rotation, versions and system information.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>
#include "core/log.h"
#include "core/strings.h"
#include "core/system_info.h"
#include "../test_util.h"

static std::string log_text() { return std::string((const char *)__global_log.buffer, __global_log.used); }

static std::vector<std::string> list_files(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        closedir(d);
    }
    return names;
}

// Each log test starts with an empty buffer writing into its own directory.
struct Log_Test : ::testing::Test {
    Temp_Dir dir;
    std::string logs;
    void SetUp() override {
        logs = dir.file("logs");
        log_set_directory(make_string(logs.data(), (s64)logs.size()));
        init_logging();
        __global_log.used = 0;
        next_error_log_id = ~0ull;
    }
    void TearDown() override { log_set_directory(String{}); }
};

TEST_F(Log_Test, EntryPrefixesAndErrorNumbers) {
    EXPECT_EQ(add_log(nullptr, LOG_ERROR, "first %d", 1), 0u);
    EXPECT_EQ(add_log(nullptr, LOG_ERROR, "second"), 1u);
    EXPECT_EQ(add_log(nullptr, LOG_ASSETS, "font %s", "UI_FONT"), ~0ull);
    add_log(nullptr, LOG_NETWORK, "%'d bytes", 1234567);
    log_new_line();
    add_log_with_new_line(nullptr, LOG_GRAPHICS, "gl");
    EXPECT_EQ(add_log_with_new_line(nullptr, LOG_ERROR, "third"), 2u);
    add_log(nullptr, 77, "unknown type");
    EXPECT_EQ(log_text(), "ERROR #0x0: first 1\n"
                          "ERROR #0x1: second\n"
                          "Assets: font UI_FONT\n"
                          "Network: 1,234,567 bytes\n"
                          "\n"
                          "\nGraphics: gl\n"
                          "\nERROR #0x2: third\n"
                          "DEBUG: unknown type\n");
}

TEST_F(Log_Test, OutPointsAtTheEntryAndLongEntriesAreCut) {
    String entry;
    add_log(&entry, LOG_INFO, "hello %s", "there");
    EXPECT_EQ(std::string((const char *)entry.data, entry.count), "Info: hello there");
    EXPECT_EQ(entry.data, __global_log.buffer);
    add_log_with_new_line(&entry, LOG_DEBUG, "x");
    EXPECT_EQ(std::string((const char *)entry.data, entry.count), "DEBUG: x");

    std::string huge(10000, 'h');
    add_log(&entry, LOG_INFO, "%s", huge.c_str());
    EXPECT_LT(entry.count, (s64)MAX_LOG_ENTRY);
    EXPECT_EQ(log_text().back(), '\n');
}

TEST_F(Log_Test, WritesAFileNamedByTheTime) {
    add_log(nullptr, LOG_INFO, "kept");
    std::string expected = log_text();
    ASSERT_TRUE(write_log_file());
    EXPECT_EQ(__global_log.used, 0u);
    std::vector<std::string> files = list_files(logs);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(log \d{4}-\d{1,2}-\d{1,2} \d{1,2}h \d{1,2}m \d{1,2}s\.txt)")))
        << files[0];
    std::string content;
    ASSERT_TRUE(read_whole_file(logs + "/" + files[0], &content));
    EXPECT_EQ(content, expected);
    struct stat st;
    ASSERT_EQ(stat(logs.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((logs + "/" + files[0]).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A second flush in the same second keeps the first file.
    add_log(nullptr, LOG_INFO, "again");
    ASSERT_TRUE(write_log_file());
    add_log(nullptr, LOG_INFO, "and again");
    ASSERT_TRUE(write_log_file());
    EXPECT_GE(list_files(logs).size(), 2u);
}

static s64 ctime_ns(const std::string &path) {
    struct statx sx;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_CTIME, &sx) != 0) return 0;
    statx_timestamp ts = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime : sx.stx_ctime;
    return ts.tv_sec * 1000000000ll + ts.tv_nsec;
}

TEST_F(Log_Test, RotationKeepsTheEightNewestOldFiles) {
    ASSERT_EQ(mkdir(logs.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((logs + "/a directory").c_str(), 0700), 0);
    // Names run against creation order, so sorting by name would pick the wrong ones.
    std::vector<std::string> old;
    for (int i = 0; i < 10; i++) {
        std::string name = "old " + std::to_string(9 - i) + ".txt";
        ASSERT_TRUE(write_whole_file(logs + "/" + name, "x"));
        old.push_back(name);
        // File times are coarse: wait until the clock visibly moves on before the next file.
        s64 stamp = ctime_ns(logs + "/" + name);
        std::string probe = dir.file("probe");
        for (int tries = 0; tries < 100000; tries++) {
            ASSERT_TRUE(write_whole_file(probe, "p"));
            unlink(probe.c_str());
            ASSERT_TRUE(write_whole_file(probe, "p"));
            if (ctime_ns(probe) > stamp) break;
        }
    }
    add_log(nullptr, LOG_INFO, "new");
    ASSERT_TRUE(write_log_file());
    std::set<std::string> left;
    for (const std::string &n : list_files(logs)) left.insert(n);
    EXPECT_EQ(left.size(), 8u + 1u + 1u); // 8 old, the new one, the directory
    EXPECT_TRUE(left.count("a directory"));
    EXPECT_FALSE(left.count(old[0]));
    EXPECT_FALSE(left.count(old[1]));
    for (int i = 2; i < 10; i++) EXPECT_TRUE(left.count(old[i])) << old[i];
}

TEST_F(Log_Test, AFullBufferIsFlushedBeforeTheEntryThatDoesNotFit) {
    std::string line(1000, 'f');
    u64 entries = 0;
    while (__global_log.used + 2000 < MAIN_LOG_MEMORY) {
        add_log(nullptr, LOG_DEBUG, "%s", line.c_str());
        entries++;
    }
    std::string before = log_text();
    String entry;
    add_log(&entry, LOG_INFO, "%s", std::string(1900, 'n').c_str());
    std::vector<std::string> files = list_files(logs);
    ASSERT_EQ(files.size(), 1u);
    std::string flushed;
    ASSERT_TRUE(read_whole_file(logs + "/" + files[0], &flushed));
    EXPECT_EQ(flushed, before);
    EXPECT_EQ(entry.data, __global_log.buffer);
    EXPECT_EQ(__global_log.used, (u64)strlen("Info: ") + 1900 + 1);
}

TEST_F(Log_Test, UnwritableDirectoryStillEmptiesTheBuffer) {
    ASSERT_TRUE(write_whole_file(dir.file("plain"), "not a directory"));
    std::string bad = dir.file("plain") + "/logs";
    log_set_directory(make_string(bad.data(), (s64)bad.size()));
    add_log(nullptr, LOG_INFO, "lost");
    EXPECT_FALSE(write_log_file());
    EXPECT_EQ(__global_log.used, 0u);
}

TEST_F(Log_Test, ConcurrentEntriesStayWholeAndNumbered) {
    const int threads = 4, per_thread = 2000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
        workers.emplace_back([t] {
            for (int i = 0; i < per_thread; i++) {
                if (i % 2) add_log(nullptr, LOG_ERROR, "t%d i%d", t, i);
                else add_log(nullptr, LOG_INFO, "t%d i%d", t, i);
            }
            tmp_unregister_thread();
        });
    }
    for (auto &w : workers) w.join();
    std::set<u64> ids;
    int info = 0;
    std::string text = log_text();
    std::regex error_line(R"(ERROR #0x([0-9a-f]+): t\d i\d+)"), info_line(R"(Info: t\d i\d+)");
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        std::string line = text.substr(start, end - start);
        std::smatch m;
        if (std::regex_match(line, m, error_line)) ids.insert(std::stoull(m[1], nullptr, 16));
        else if (std::regex_match(line, info_line)) info++;
        else ADD_FAILURE() << "torn line: " << line;
        start = end + 1;
    }
    EXPECT_EQ(info, threads * per_thread / 2);
    ASSERT_EQ(ids.size(), (size_t)threads * per_thread / 2);
    EXPECT_EQ(*ids.begin(), 0u);
    EXPECT_EQ(*ids.rbegin(), (u64)threads * per_thread / 2 - 1);
}

TEST_F(Log_Test, StartsWithTheStartLine) {
    init_logging();
    EXPECT_TRUE(std::regex_match(log_text(), std::regex(R"(Info: log start: \d{4}-\d{1,2}-\d{1,2} \d{1,2}h \d{1,2}m \d{1,2}s\n)")))
        << log_text();
}

// Threads that fill the buffer several times over: every entry ends up whole,
// exactly once, in some file or in the buffer.
TEST_F(Log_Test, ConcurrentFlushesLoseNothing) {
    const int threads = 4, per_thread = 700;
    std::string padding(900, 'p');
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; t++) {
        workers.emplace_back([t, &padding] {
            for (int i = 0; i < per_thread; i++) add_log(nullptr, LOG_DEBUG, "t%d i%d %s", t, i, padding.c_str());
            tmp_unregister_thread();
        });
    }
    for (auto &w : workers) w.join();
    std::string all;
    std::vector<std::string> files = list_files(logs);
    EXPECT_GE(files.size(), 2u);
    for (const std::string &f : files) {
        std::string content;
        ASSERT_TRUE(read_whole_file(logs + "/" + f, &content));
        all += content;
    }
    all += log_text();
    std::set<std::string> seen;
    std::regex entry(R"(DEBUG: (t\d i\d+) p{900})");
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        std::smatch m;
        std::string line = all.substr(start, end - start);
        if (std::regex_match(line, m, entry)) {
            EXPECT_TRUE(seen.insert(m[1].str()).second) << "twice: " << m[1];
        } else {
            ADD_FAILURE() << "torn line of " << line.size() << " bytes";
        }
        start = end + 1;
    }
    EXPECT_EQ(seen.size(), (size_t)threads * per_thread);
}

TEST(Version, Formatting) {
    EXPECT_EQ(std::string((const char *)version_to_string(EDITOR_VERSION).data, version_to_string(EDITOR_VERSION).count),
              "0.3.2");
    EXPECT_STREQ(version_to_c_string(make_version(1, 20, 255)), "1.20.255");
    String data = make_version_info_data();
    ASSERT_EQ(data.count, 4);
    EXPECT_EQ(data.data[0], 0);
    EXPECT_EQ(data.data[1], 3);
    EXPECT_EQ(data.data[2], 2);
    EXPECT_EQ(data.data[3], 0);
}

TEST(SystemInfo, KeyValueLines) {
    struct Case { const char *text, *key; u8 sep; const char *expected; };
    const Case cases[] = {
        {"cpu family\t: 6\ncpu cores\t: 4\n", "cpu cores", ':', "4"},
        {"cpu\t: x\ncpu cores : 8", "cpu", ':', "x"},
        {"NAME=\"Debian\"\r\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\r\n", "PRETTY_NAME", '=',
         "Debian GNU/Linux 12 (bookworm)"},
        {"VERSION_ID=12", "VERSION_ID", '=', "12"},
        {"VERSION_ID=\"", "VERSION_ID", '=', "\""},
        {"no separator here\nkey", "key", ':', ""},
        {"", "anything", ':', ""},
        {"MemTotal:       16337884 kB\n", "MemTotal", ':', "16337884 kB"},
    };
    for (const Case &c : cases) {
        String v = find_key_value(S(c.text), S(c.key), c.sep);
        EXPECT_EQ(std::string((const char *)v.data, v.count), c.expected) << c.key;
    }
}

TEST(SystemInfo, ReadsWholeFilesInChunks) {
    Temp_Dir dir;
    std::string content;
    for (int i = 0; i < 5000; i++) content += (char)('a' + i % 26);
    ASSERT_TRUE(write_whole_file(dir.file("big"), content));
    std::string path = dir.file("big");
    Dynamic_Array bytes;
    ASSERT_TRUE(linux_read_whole_proc_file(&bytes, path.c_str(), (s64)path.size()));
    EXPECT_EQ(std::string((const char *)bytes.data, bytes.count), content);
    dynamic_array_free(&bytes);

    std::string missing = dir.file("missing");
    EXPECT_FALSE(linux_read_whole_proc_file(&bytes, missing.c_str(), (s64)missing.size()));
    EXPECT_EQ(bytes.count, 0u);
    dynamic_array_free(&bytes);
}

TEST(SystemInfo, MatchesWhatTheSystemReports) {
    Computer_Info info;
    os_get_computer_info(&info);
    EXPECT_EQ(info.os, (u32)OS_LINUX);
    EXPECT_STREQ(isa_to_c_string(info.isa), "AMD64");
    EXPECT_STREQ(isa_to_c_string(999), "unknown");
    u64 ram = (u64)sysconf(_SC_PHYS_PAGES) * (u64)sysconf(_SC_PAGESIZE);
    EXPECT_NEAR((double)info.usable_ram, (double)ram, (double)ram * 0.01);
    EXPECT_GE(info.num_logical_processors, 1);
    EXPECT_GE(info.num_logical_processors, info.num_physical_cores);

    std::string os_release;
    if (read_whole_file("/usr/lib/os-release", &os_release)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(os_release, m, std::regex("PRETTY_NAME=\"([^\"]*)\"")));
        EXPECT_EQ(std::string((const char *)info.os_name.data, info.os_name.count), m[1].str());
    }

    // Hypervisors may report a brand string other than the kernel's "model name",
    // so only its shape is checked.
    std::string model = os_get_cpu_model_c_string();
    EXPECT_FALSE(model.empty());
    EXPECT_LE(model.size(), 48u);
    EXPECT_NE(model.front(), ' ');
    for (char c : model) EXPECT_TRUE(c >= 32 && c < 127) << (int)c;
}
