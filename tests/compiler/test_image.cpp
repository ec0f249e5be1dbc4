// The compiled image: layout, the cache rule, loading and relocation.
#include "compiler/back/image.h"
#include "compiler/back/foreign_call.h"
#include "core/log.h"
#include "test_util.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A small image: constant data with a pointer to a string inside itself, a
// global pointer to a global slot, code that reads both through RIP and one
// foreign call.
struct Test_Image {
    Amd64_Code code;
    u8 constant_data[48] = {};
    u8 global_data[24] = {};
    Image_Relocation constant_relocations[1] = {};
    Image_Relocation global_relocations[1] = {};
    Image_Input input = {};
    Test_Image(const std::vector<String> *paths, u8 flags) {
        amd64_code_init(&code);
        memcpy(constant_data + 16, "hello", 5);
        u64 offset = 16;
        memcpy(constant_data, &offset, 8); // becomes the address of "hello"
        constant_relocations[0].position = 0;
        constant_relocations[0].section = IMAGE_SECTION_CONSTANT_DATA;
        offset = 16;
        memcpy(global_data, &offset, 8); // becomes the address of global_data + 16
        global_relocations[0].position = 0;
        amd64_mov(&code, 8, amd64_gpr(RAX), amd64_make_rip_memory_operand(0, AMD64_DATA_CONSTANT));
        amd64_mov(&code, 8, amd64_make_rip_memory_operand(8, AMD64_DATA_GLOBAL), amd64_gpr(RAX));
        amd64_ret(&code);
        Amd64_Frame frame;
        amd64_frame_layout(&frame, 0, 0, 0, 0, 0, true);
        amd64_foreign_call(&code, 5, nullptr, 0, 0, &frame);
        input.version = EDITOR_VERSION;
        input.entry_flags = flags;
        input.entry_positions[0] = 0;
        input.entry_positions[1] = 0;
        input.entry_positions[2] = 0;
        input.constant_data = constant_data;
        input.constant_data_size = sizeof constant_data;
        input.global_data = global_data;
        input.global_data_size = sizeof global_data;
        input.code = &code;
        input.constant_relocations = constant_relocations;
        input.num_constant_relocations = 1;
        input.global_relocations = global_relocations;
        input.num_global_relocations = 1;
        input.source_paths = paths ? paths->data() : nullptr;
        input.num_source_files = paths ? (u32)paths->size() : 0;
    }
    ~Test_Image() { amd64_code_free(&code); }
};

std::string build(Test_Image *t) {
    Allocation a = {};
    if (!image_build(&t->input, &a)) return "";
    std::string bytes((char *)a.memory, a.size);
    gp_free(&a);
    return bytes;
}

TEST(Image, HeaderAndSectionLayout) {
    init_memory();
    Test_Image t(nullptr, IMAGE_ENTRY_ON_LOAD);
    std::string bytes = build(&t);
    ASSERT_GE(bytes.size(), (size_t)IMAGE_HEADER_SIZE);
    Image_Header *h = (Image_Header *)bytes.data();
    EXPECT_EQ(bytes.substr(0, 4), "8888");
    EXPECT_EQ(h->one, 1u);
    EXPECT_EQ(h->processor, BC_CPU_AMD64);
    EXPECT_EQ(h->version, EDITOR_VERSION);
    EXPECT_EQ(h->reserved, IMAGE_RESERVED_WORD);
    EXPECT_EQ(h->constant_data_offset, 128u);
    EXPECT_EQ(h->global_data_offset, 192u); // 128 + 48 rounded up to 32
    EXPECT_EQ(h->code_offset, 192u + 24);
    // Sections follow each other in the fixed order.
    EXPECT_EQ(h->foreign_relocations_offset, (h->code_offset + h->code_size + 7) / 8 * 8);
    EXPECT_EQ(h->constant_relocations_offset, h->foreign_relocations_offset + 8 * h->num_foreign_relocations);
    EXPECT_EQ(h->global_relocations_offset, h->constant_relocations_offset + 40);
    EXPECT_EQ(h->source_files_offset, h->global_relocations_offset + 40);
    EXPECT_EQ(h->on_load_entry, h->code_offset);
    EXPECT_EQ(h->num_foreign_relocations, 1u);
    EXPECT_TRUE(image_is_well_formed((u8 *)bytes.data(), bytes.size()));
}

TEST(Image, RelocationsGiveAddressesInTheLoadedBlock) {
    init_memory();
    Test_Image t(nullptr, IMAGE_ENTRY_ON_LOAD | IMAGE_ENTRY_EVENTS);
    std::string bytes = build(&t);
    Loaded_Image image = {};
    ASSERT_TRUE(image_load_bytes((u8 *)bytes.data(), bytes.size(), &image));
    int marker;
    image_relocate(&image, &marker);
    u8 *base = (u8 *)image.header;
    u8 *constant_data = base + image.header->constant_data_offset;
    u8 *global_data = base + image.header->global_data_offset;
    u64 pointer;
    memcpy(&pointer, constant_data, 8);
    EXPECT_EQ(memcmp((void *)pointer, "hello", 5), 0);
    memcpy(&pointer, global_data, 8);
    EXPECT_EQ(pointer, (u64)(uintptr_t)(global_data + 16));
    u64 foreign_immediate;
    u64 at = *(u64 *)(base + image.header->foreign_relocations_offset);
    memcpy(&foreign_immediate, base + image.header->code_offset + at, 8);
    EXPECT_EQ(foreign_immediate, (u64)(uintptr_t)&marker);
    // The RIP-relative code reads the relocated pointer and stores it in global data.
    ((void (*)())get_on_load_block_entry_point(image.header))();
    memcpy(&pointer, global_data + 8, 8);
    EXPECT_EQ(memcmp((void *)pointer, "hello", 5), 0);
    EXPECT_NE(get_events_block_entry_point(image.header), nullptr);
    EXPECT_EQ(get_syntax_block_entry_point(image.header), nullptr); // flag clear, offset field set
    EXPECT_EQ(get_syntax_block_entry_point(nullptr), nullptr);
    image_unload(&image);
    EXPECT_EQ(image.header, nullptr);
}

TEST(Image, CacheRule) {
    init_memory();
    Temp_Dir dir;
    std::string source = dir.file("custom.8"), other = dir.file("other.8");
    ASSERT_TRUE(write_whole_file(source, "main"));
    ASSERT_TRUE(write_whole_file(other, "loaded"));
    std::vector<String> paths = {make_string(source.data(), (s64)source.size()), make_string(other.data(), (s64)other.size())};
    Test_Image t(&paths, IMAGE_ENTRY_ON_LOAD);
    std::string image_path = dir.file("custom.8b");
    String path = make_string(image_path.data(), (s64)image_path.size());
    ASSERT_TRUE(output_amd64_file(&t.input, path, paths[0]));
    EXPECT_TRUE(image_cache_is_usable(path, EDITOR_VERSION));
    EXPECT_FALSE(image_cache_is_usable(path, make_version(0, 4, 2)));  // other minor
    EXPECT_FALSE(image_cache_is_usable(path, make_version(0, 3, 3)));  // other patch
    std::string bytes;
    ASSERT_TRUE(read_whole_file(image_path, &bytes));
    struct Row { const char *name; std::string content; } broken[] = {
        {"short", bytes.substr(0, 103)},
        {"truncated", bytes.substr(0, bytes.size() - 10)},
        {"bad magic", "9" + bytes.substr(1)},
        {"empty", ""},
    };
    for (const Row &r : broken) {
        std::string p = dir.file(std::string(r.name) + ".8b");
        ASSERT_TRUE(write_whole_file(p, r.content));
        EXPECT_FALSE(image_cache_is_usable(make_string(p.data(), (s64)p.size()), EDITOR_VERSION)) << r.name;
        Loaded_Image image = {};
        EXPECT_FALSE(image_load_file(make_string(p.data(), (s64)p.size()), &image)) << r.name;
        EXPECT_EQ(image.header, nullptr);
    }
    EXPECT_FALSE(image_cache_is_usable(S("/nonexistent/custom.8b"), EDITOR_VERSION));
    // A loaded file that changed size forces a compile; so does a change in
    // the nanoseconds of its modification time alone.
    ASSERT_TRUE(write_whole_file(other, "loaded!"));
    EXPECT_FALSE(image_cache_is_usable(path, EDITOR_VERSION));
    ASSERT_TRUE(output_amd64_file(&t.input, path, paths[0]));
    EXPECT_TRUE(image_cache_is_usable(path, EDITOR_VERSION));
    ASSERT_EQ(run_command("touch -d '2020-01-01 00:00:00.123456789' '" + source + "'"), 0);
    EXPECT_FALSE(image_cache_is_usable(path, EDITOR_VERSION));
    ASSERT_EQ(run_command("rm '" + other + "'"), 0);
    EXPECT_FALSE(image_cache_is_usable(path, EDITOR_VERSION));
    // The file is private to the user.
    std::string mode;
    ASSERT_EQ(run_command("stat -c %a '" + image_path + "'", &mode), 0);
    EXPECT_EQ(mode, "600\n");
}

TEST(Image, LoadedSourceTableHoldsAddresses) {
    init_memory();
    Temp_Dir dir;
    std::string source = dir.file("custom.8");
    ASSERT_TRUE(write_whole_file(source, "x"));
    std::vector<String> paths = {make_string(source.data(), (s64)source.size())};
    Test_Image t(&paths, 0);
    std::string image_path = dir.file("custom.8b");
    String path = make_string(image_path.data(), (s64)image_path.size());
    ASSERT_TRUE(output_amd64_file(&t.input, path, paths[0]));
    Loaded_Image image = {};
    ASSERT_TRUE(image_load_file(path, &image));
    image_relocate(&image, nullptr);
    ASSERT_EQ(image.source_files.count, 1u);
    Image_Source_File *f = image.source_files.files;
    EXPECT_EQ(std::string((char *)(uintptr_t)f->path_offset, f->path_length), source);
    EXPECT_EQ(f->size, 1u);
    EXPECT_EQ(get_on_load_block_entry_point(image.header), nullptr);
    image_unload(&image);
}

TEST(Image, WritingToAnUnwritablePlaceFails) {
    init_memory();
    Test_Image t(nullptr, 0);
    EXPECT_FALSE(output_amd64_file(&t.input, S("/nonexistent-dir/custom.8b"), S("custom.8")));
    std::vector<String> paths = {S("/nonexistent/custom.8")};
    Test_Image missing(&paths, 0);
    Allocation a = {};
    EXPECT_FALSE(image_build(&missing.input, &a));
}

} // namespace
