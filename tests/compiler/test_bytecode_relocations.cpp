// Relocations: the compiler's lists copied into an image, then turned into
// addresses where the image lies.
#include "compiler/back/relocations.h"
#include "compiler/back/ir.h"
#include "compiler/back/bytecode_program.h"
#include <gtest/gtest.h>

namespace {

constexpr u32 CONSTANT_AT = 128, GLOBAL_AT = 192, RELOCATIONS_AT = 256;

struct Image {
    alignas(16) u8 bytes[1024] = {};
    Image_Header *header() { return (Image_Header *)bytes; }
    u64 word(u32 at) {
        u64 v;
        memcpy(&v, bytes + at, 8);
        return v;
    }
    void set_word(u32 at, u64 v) { memcpy(bytes + at, &v, 8); }
};

TEST(Relocations, ApplyTurnsOffsetsIntoAddresses) {
    Image image;
    Image_Header *h = image.header();
    h->constant_data_offset = CONSTANT_AT;
    h->global_data_offset = GLOBAL_AT;
    image.set_word(CONSTANT_AT + 8, 16);  // a pointer in constant data to constant data + 16
    image.set_word(GLOBAL_AT + 0, 4);     // a pointer in global data to constant data + 4
    image.set_word(CONSTANT_AT + 24, 99); // a record of an unknown section kind: left alone
    image.set_word(GLOBAL_AT + 8, 32);    // a pointer in global data to global data + 32
    Image_Relocation *constant = (Image_Relocation *)(image.bytes + RELOCATIONS_AT);
    constant[0] = {8, {}, IMAGE_SECTION_CONSTANT_DATA, {}};
    constant[1] = {0, {}, IMAGE_SECTION_GLOBAL_DATA, {}};
    constant[2] = {24, {}, 2, {}};
    h->constant_relocations_offset = RELOCATIONS_AT;
    h->num_constant_relocations = 3;
    Image_Relocation *global = constant + 3;
    global[0] = {8, {}, IMAGE_SECTION_GLOBAL_DATA, {}};
    h->global_relocations_offset = RELOCATIONS_AT + 3 * sizeof(Image_Relocation);
    h->num_global_relocations = 1;
    Image_Source_File *files = (Image_Source_File *)(image.bytes + 512);
    files[0] = {600, 3, 0, 0};
    files[1] = {603, 3, 0, 0};
    memcpy(image.bytes + 600, "a.8b.8", 6);
    h->source_files_offset = 512;
    h->num_source_files = 2;

    bytecode_apply_relocations(h);
    u64 cd = (u64)(uintptr_t)(image.bytes + CONSTANT_AT), gd = (u64)(uintptr_t)(image.bytes + GLOBAL_AT);
    EXPECT_EQ(image.word(CONSTANT_AT + 8), cd + 16);
    EXPECT_EQ(image.word(GLOBAL_AT + 0), cd + 4);
    EXPECT_EQ(image.word(CONSTANT_AT + 24), 99u);
    EXPECT_EQ(image.word(GLOBAL_AT + 8), gd + 32);
    EXPECT_EQ(files[0].path_offset, (u64)(uintptr_t)(image.bytes + 600));
    EXPECT_EQ(memcmp((const void *)(uintptr_t)files[1].path_offset, "b.8", 3), 0);
}

TEST(Relocations, CompilerListsBecomeImageRecords) {
    ensure_ir_ready();
    ir_reset();
    Dynamic_Array *front = &global_compiler_state.constant_relocations;
    if (front->element_size == 0) dynamic_array_init(front, sizeof(Constant_Relocation));
    u32 saved = front->count;
    front->count = 0;
    *(Constant_Relocation *)dynamic_array_add(front) = {8, 40, nullptr, nullptr}; // a string pointer inside a constant struct
    Register_Id table = allocate_a_register(nullptr, 8, nullptr, 8);   // GD at 0
    Register_Id pointers = allocate_a_register(nullptr, 16, nullptr, 8); // GD at 8
    Register_Id string = make_constant_data_register(48, 5, 1);
    add_a_relocation(nullptr, pointers, 0, nullptr, table, 0, false);  // global -> global
    add_a_relocation(nullptr, pointers, 8, nullptr, string, 2, false); // global -> constant data + 2

    Image image;
    Image_Builder builder = {image.bytes, RELOCATIONS_AT, sizeof image.bytes};
    u8 *cd = image.bytes + CONSTANT_AT, *gd = image.bytes + GLOBAL_AT;
    ASSERT_TRUE(copy_constant_relocations_to_code_output(&builder, cd, gd));
    ASSERT_TRUE(copy_global_relocations_to_code_output(&builder, gd));
    Image_Header *h = image.header();
    ASSERT_EQ(h->num_constant_relocations, 2u);
    ASSERT_EQ(h->num_global_relocations, 1u);
    Image_Relocation *c = (Image_Relocation *)(image.bytes + h->constant_relocations_offset);
    EXPECT_EQ(c[0].position, 8u);
    EXPECT_EQ(c[0].section, IMAGE_SECTION_CONSTANT_DATA);
    EXPECT_EQ(c[1].position, 16u);
    EXPECT_EQ(c[1].section, IMAGE_SECTION_GLOBAL_DATA);
    Image_Relocation *g = (Image_Relocation *)(image.bytes + h->global_relocations_offset);
    EXPECT_EQ(g[0].position, 8u);
    EXPECT_EQ(image.word(CONSTANT_AT + 8), 40u); // targets are written as section offsets
    EXPECT_EQ(image.word(GLOBAL_AT + 16), 50u);
    EXPECT_EQ(image.word(GLOBAL_AT + 8), 0u);

    Image_Builder full = {image.bytes, sizeof image.bytes - 8, sizeof image.bytes};
    EXPECT_FALSE(copy_global_relocations_to_code_output(&full, gd));
    front->count = saved;
}

} // namespace
