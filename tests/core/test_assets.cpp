// The assets archive: archives made by the real zip program, then damaged.
#include <gtest/gtest.h>
#include <unistd.h>
#include <random>
#include <string>
#include <vector>
#include "core/assets.h"
#include "core/strings.h"
#include "../test_util.h"

static std::string text_of(Array_View v) { return std::string((const char *)v.data, v.count); }

// An archive holding a deflated entry, a stored one and names that share prefixes.
struct Zip_Fixture : ::testing::Test {
    Temp_Dir dir;
    std::string ui_font, icons, code_font, archive;

    void SetUp() override {
        for (int i = 0; i < 4000; i++) ui_font += "glyph " + std::to_string(i % 97) + "\n";
        std::mt19937 random(7);
        for (int i = 0; i < 3000; i++) icons += (char)(random() & 0xFF);
        code_font = std::string(50000, 'c');
        ASSERT_TRUE(write_whole_file(dir.file("UI_FONT"), ui_font));
        ASSERT_TRUE(write_whole_file(dir.file("UI_FONT_BOLD"), std::string(300, 'b')));
        ASSERT_TRUE(write_whole_file(dir.file("ICONS"), icons));
        ASSERT_TRUE(write_whole_file(dir.file("CODE_FONT"), code_font));
        std::string cd = "cd '" + dir.path + "' && ";
        ASSERT_EQ(run_command(cd + "zip -q -X -9 a.zip UI_FONT UI_FONT_BOLD CODE_FONT"), 0);
        ASSERT_EQ(run_command(cd + "zip -q -X -0 a.zip ICONS"), 0);
        ASSERT_TRUE(read_whole_file(dir.file("a.zip"), &archive));
    }
    const u8 *data() const { return (const u8 *)archive.data(); }
    Array_View extract(const std::string &bytes, const char *name, Allocation *a) {
        return find_and_extract_file_from_zip_data((const u8 *)bytes.data(), bytes.size(), (const u8 *)name, strlen(name), a);
    }
};

TEST_F(Zip_Fixture, ListsEveryEntryInOrder) {
    Zip_Lister lister = init_zip_lister(data(), archive.size());
    Zip_Entry entry;
    std::vector<std::string> names;
    std::vector<u16> methods;
    while (zip_lister_get_next_file(&lister, &entry)) {
        names.emplace_back((const char *)entry.name, entry.name_length);
        methods.push_back(entry.method);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"UI_FONT", "UI_FONT_BOLD", "CODE_FONT", "ICONS"}));
    EXPECT_EQ(methods[0], 8);
    EXPECT_EQ(methods[3], 0);
    // The walk stopped at the central directory, inside the archive.
    EXPECT_LT(lister.position, data() + archive.size());
}

TEST_F(Zip_Fixture, ExtractsDeflatedAndStoredEntries) {
    Allocation a = {};
    EXPECT_EQ(text_of(extract(archive, "UI_FONT", &a)), ui_font);
    EXPECT_EQ(text_of(extract(archive, "UI_FONT_BOLD", &a)), std::string(300, 'b'));
    EXPECT_EQ(text_of(extract(archive, "CODE_FONT", &a)), code_font);
    Array_View stored = extract(archive, "ICONS", &a);
    EXPECT_EQ(text_of(stored), icons);
    // Stored entries are not copied.
    EXPECT_GE((const u8 *)stored.data, data());
    EXPECT_LT((const u8 *)stored.data, data() + archive.size());
    gp_free(&a);
}

TEST_F(Zip_Fixture, NamesMatchExactly) {
    Allocation a = {};
    const char *misses[] = {"UI_FON", "UI_FONT_", "ui_font", "", "UI_FONT_BOLDER", "CODE_FONT/"};
    for (const char *name : misses) {
        EXPECT_EQ(get_file_from_zip(data(), archive.size(), (const u8 *)name, strlen(name)), nullptr) << name;
        EXPECT_EQ(extract(archive, name, &a).count, 0u) << name;
    }
    EXPECT_NE(get_file_from_zip(data(), archive.size(), (const u8 *)"UI_FONT", 7), nullptr);
    EXPECT_EQ(extract_zip_file(nullptr, &a).count, 0u);
    gp_free(&a);
}

TEST_F(Zip_Fixture, ReusesTheAllocationWhenItIsBigEnough) {
    Allocation a = {};
    ASSERT_EQ(extract(archive, "CODE_FONT", &a).count, code_font.size());
    void *first = a.memory;
    Array_View small = extract(archive, "UI_FONT_BOLD", &a);
    EXPECT_EQ(small.data, first);
    EXPECT_EQ(a.memory, first);
    EXPECT_EQ(small.count, 300u);
    EXPECT_EQ(a.size, code_font.size());
    // Bigger than what it holds: replaced by a fresh allocation of the right size.
    Allocation b = {};
    gp_allocate(&b, 4);
    ASSERT_EQ(text_of(extract(archive, "UI_FONT", &b)), ui_font);
    EXPECT_EQ(b.size, ui_font.size());
    gp_free(&a);
    gp_free(&b);
}

TEST_F(Zip_Fixture, DamagedHeadersAndStreamsGiveEmptyResults) {
    Allocation a = {};
    const u8 *header = get_file_from_zip(data(), archive.size(), (const u8 *)"UI_FONT", 7);
    ASSERT_NE(header, nullptr);
    size_t at = (size_t)(header - data());

    std::string bad = archive;
    bad[0] = 'Q';
    Zip_Lister lister = init_zip_lister((const u8 *)bad.data(), bad.size());
    Zip_Entry entry;
    EXPECT_FALSE(zip_lister_get_next_file(&lister, &entry));
    EXPECT_EQ(extract(bad, "ICONS", &a).count, 0u);

    // Wrong uncompressed sizes, one too many and one too few.
    for (s32 delta : {1, -1, 1000000}) {
        std::string wrong = archive;
        u32 size;
        memcpy(&size, wrong.data() + at + 22, 4);
        size += (u32)delta;
        memcpy(wrong.data() + at + 22, &size, 4);
        EXPECT_EQ(extract(wrong, "UI_FONT", &a).count, 0u) << delta;
    }

    // A reserved deflate block type.
    std::string stream = archive;
    u16 name_length = (u16)(data()[at + 26] | data()[at + 27] << 8);
    u16 extra_length = (u16)(data()[at + 28] | data()[at + 29] << 8);
    stream[at + 30 + name_length + extra_length] = (char)0xFF;
    EXPECT_EQ(extract(stream, "UI_FONT", &a).count, 0u);

    // A compressed size running past the end stops the walk.
    std::string past = archive;
    u32 huge = 0x7FFFFFFF;
    memcpy(past.data() + at + 18, &huge, 4);
    EXPECT_EQ(extract(past, "ICONS", &a).count, 0u);
    EXPECT_EQ(extract(past, "UI_FONT", &a).count, 0u);
    gp_free(&a);
}

// Every truncation and many single-byte changes: either the right bytes or nothing.
TEST_F(Zip_Fixture, TruncatedAndScrambledArchivesNeverCrash) {
    Allocation a = {};
    const char *names[] = {"UI_FONT", "UI_FONT_BOLD", "CODE_FONT", "ICONS"};
    const std::string bold(300, 'b');
    const std::string *contents[] = {&ui_font, &bold, &code_font, &icons};
    auto check = [&](const std::string &bytes) {
        // An exact-size heap copy, so reading past the end is caught by the sanitizer build.
        std::vector<u8> exact(bytes.begin(), bytes.end());
        for (int i = 0; i < 4; i++) {
            Array_View v = find_and_extract_file_from_zip_data(exact.data(), exact.size(), (const u8 *)names[i],
                                                               strlen(names[i]), &a);
            if (v.count && contents[i]) {
                EXPECT_EQ(text_of(v), *contents[i]) << names[i];
            }
        }
    };
    for (size_t cut = 0; cut < archive.size(); cut += (cut < 200 ? 1 : 1009)) check(archive.substr(0, cut));
    std::mt19937 random(11);
    for (int round = 0; round < 200; round++) {
        std::string scrambled = archive;
        scrambled[random() % 160] = (char)(random() & 0xFF);
        check(scrambled);
    }
    gp_free(&a);
}

TEST(ZipArchives, UnsupportedEntries) {
    Temp_Dir dir;
    std::string cd = "cd '" + dir.path + "' && ";
    // Streamed input leaves the sizes out of the local header.
    ASSERT_EQ(run_command(cd + "printf 'streamed' | zip -q -X s.zip -"), 0);
    std::string streamed;
    ASSERT_TRUE(read_whole_file(dir.file("s.zip"), &streamed));
    Zip_Lister lister = init_zip_lister((const u8 *)streamed.data(), streamed.size());
    Zip_Entry entry;
    EXPECT_FALSE(zip_lister_get_next_file(&lister, &entry));

    // zip writes encrypted entries with a data descriptor too: they cannot even be found.
    ASSERT_TRUE(write_whole_file(dir.file("SECRET"), std::string(2000, 's')));
    ASSERT_EQ(run_command(cd + "zip -q -X -P password e.zip SECRET"), 0);
    std::string encrypted;
    ASSERT_TRUE(read_whole_file(dir.file("e.zip"), &encrypted));
    EXPECT_EQ(get_file_from_zip((const u8 *)encrypted.data(), encrypted.size(), (const u8 *)"SECRET", 6), nullptr);
    // The encryption flag alone makes a findable entry unreadable.
    ASSERT_EQ(run_command(cd + "zip -q -X p.zip SECRET"), 0);
    std::string flagged;
    ASSERT_TRUE(read_whole_file(dir.file("p.zip"), &flagged));
    Allocation a = {};
    ASSERT_NE(find_and_extract_file_from_zip_data((const u8 *)flagged.data(), flagged.size(), (const u8 *)"SECRET", 6, &a).count, 0u);
    flagged[6] |= ZIP_FILE_IS_ENCRYPTED;
    EXPECT_NE(get_file_from_zip((const u8 *)flagged.data(), flagged.size(), (const u8 *)"SECRET", 6), nullptr);
    EXPECT_EQ(find_and_extract_file_from_zip_data((const u8 *)flagged.data(), flagged.size(), (const u8 *)"SECRET", 6, &a).count, 0u);
    // Empty files deflate to an empty stream.
    ASSERT_TRUE(write_whole_file(dir.file("EMPTY"), ""));
    ASSERT_EQ(run_command(cd + "zip -q -X z.zip EMPTY"), 0);
    std::string empty;
    ASSERT_TRUE(read_whole_file(dir.file("z.zip"), &empty));
    EXPECT_NE(get_file_from_zip((const u8 *)empty.data(), empty.size(), (const u8 *)"EMPTY", 5), nullptr);
    EXPECT_EQ(find_and_extract_file_from_zip_data((const u8 *)empty.data(), empty.size(), (const u8 *)"EMPTY", 5, &a).count, 0u);
    gp_free(&a);
}

TEST(Assets, StartUpFindsTheExecutableAndLoadsArchives) {
    init_assets();
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    ASSERT_GT(n, 0);
    exe[n] = 0;
    std::string expected_dir = std::string(exe).substr(0, std::string(exe).rfind('/'));
    EXPECT_EQ(std::string((const char *)executable_filepath.data, executable_filepath.count), expected_dir);
    EXPECT_EQ(std::string((const char *)static_strings, expected_dir.size()), expected_dir);
    EXPECT_EQ(glyphs_first_page, static_strings + STATIC_STRINGS_MEMORY);
    EXPECT_EQ(pseudo_exe_data.data, glyphs_first_page + ASSETS_GLYPHS_PAGE_MEMORY);
    EXPECT_EQ(assets_font_data + ASSETS_FONT_DATA_MEMORY, static_strings + ASSETS_MEMORY);
    String found = assets_find_executable_directory();
    EXPECT_EQ(std::string((const char *)found.data, found.count), expected_dir);

    Temp_Dir dir;
    std::string archive(1234, 'z');
    ASSERT_TRUE(write_whole_file(dir.file("tarno.data"), archive));
    EXPECT_TRUE(assets_load_archive(dir.file("tarno.data").c_str()));
    EXPECT_EQ(pseudo_exe_data.count, 1234u);
    EXPECT_EQ(memcmp(pseudo_exe_data.data, archive.data(), archive.size()), 0);

    // Missing, a directory, and one byte too large: all leave the archive empty.
    EXPECT_FALSE(assets_load_archive(dir.file("missing").c_str()));
    EXPECT_EQ(pseudo_exe_data.count, 0u);
    EXPECT_FALSE(assets_load_archive(dir.path.c_str()));
    ASSERT_TRUE(write_whole_file(dir.file("big"), std::string(PSEUDO_EXE_DATA_MEMORY + 1, 'b')));
    EXPECT_FALSE(assets_load_archive(dir.file("big").c_str()));
    EXPECT_EQ(pseudo_exe_data.count, 0u);
    ASSERT_TRUE(write_whole_file(dir.file("fits"), std::string(PSEUDO_EXE_DATA_MEMORY, 'f')));
    EXPECT_TRUE(assets_load_archive(dir.file("fits").c_str()));
    EXPECT_EQ(pseudo_exe_data.count, PSEUDO_EXE_DATA_MEMORY);
}
