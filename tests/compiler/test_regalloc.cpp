// Register allocation: machine registers handed out highest first, the frame
// reused through released slots and alignment gaps.
#include "compiler/back/register_alloc.h"
#include <gtest/gtest.h>

namespace {

struct Gap_Case {
    const char *what;
    Memory_Gap gaps[3];
    u32 num_gaps;
    u64 size, alignment;
    s64 expected_offset;
    Memory_Gap left[3]; // gaps afterwards, in list order
    u32 num_left;
};

TEST(RegisterAllocation, MemoryGaps) {
    const Gap_Case cases[] = {
        {"24 bytes at 4, asked 8 aligned to 8", {{4, 24}}, 1, 8, 8, 8, {{4, 4}, {16, 12}}, 2},
        {"exact size is taken whole", {{16, 8}}, 1, 8, 8, 16, {}, 0},
        {"exact size wins over a larger earlier gap", {{32, 64}, {8, 8}}, 2, 8, 8, 8, {{32, 64}}, 1},
        {"the largest fitting gap is split", {{0, 12}, {40, 20}}, 2, 4, 4, 40, {{0, 12}, {44, 16}}, 2},
        {"equal sizes: the earlier gap", {{0, 16}, {64, 16}}, 2, 4, 4, 0, {{64, 16}, {4, 12}}, 2},
        {"alignment padding leaves too little", {{4, 8}}, 1, 8, 8, -1, {{4, 8}}, 1},
        {"nothing fits", {{0, 4}}, 1, 8, 1, -1, {{0, 4}}, 1},
        {"no gaps", {}, 0, 1, 1, -1, {}, 0},
    };
    for (const Gap_Case &c : cases) {
        Dynamic_Array gaps;
        dynamic_array_init(&gaps, sizeof(Memory_Gap));
        for (u32 i = 0; i < c.num_gaps; i++) *(Memory_Gap *)dynamic_array_add(&gaps) = c.gaps[i];
        EXPECT_EQ(try_to_allocate_on_a_memory_gap(&gaps, c.size, c.alignment), c.expected_offset) << c.what;
        ASSERT_EQ(gaps.count, c.num_left) << c.what;
        for (u32 i = 0; i < c.num_left; i++) {
            Memory_Gap *g = dynamic_array_at<Memory_Gap>(&gaps, i);
            EXPECT_EQ(g->offset, c.left[i].offset) << c.what << " gap " << i;
            EXPECT_EQ(g->size, c.left[i].size) << c.what << " gap " << i;
        }
        dynamic_array_free(&gaps);
    }
}

struct Allocator : ::testing::Test {
    Allocation_State state;
    void SetUp() override {
        allocation_state_init(&state);
        allocation_state_reset(&state, true);
    }
    void TearDown() override { allocation_state_free(&state); }
    static Register_Allocation reg(u32 size, u32 alignment, u8 hints, u32 first, u32 last) {
        Register_Allocation r = {};
        r.size = size;
        r.alignment = alignment;
        r.hints = hints;
        r.first_use = first;
        r.last_use = last;
        return r;
    }
};

TEST_F(Allocator, IntegerRegistersFromFifteenDownThenTheFrame) {
    Register_Allocation r[10];
    for (u32 i = 0; i < 10; i++) r[i] = reg(8, 8, HINT_INTEGER_REGISTER, i, 100);
    allocate_registers(&state, r, 10, nullptr, 0);
    for (u32 i = 0; i < 8; i++) {
        EXPECT_TRUE(r[i].in_machine_register) << i;
        EXPECT_EQ(r[i].machine_register_class, MACHINE_REGISTER_INTEGER);
        EXPECT_EQ(r[i].machine_register, 15 - i);
    }
    EXPECT_FALSE(r[8].in_machine_register);
    EXPECT_FALSE(r[9].in_machine_register);
    EXPECT_EQ(r[8].offset, 0u);
    EXPECT_EQ(r[9].offset, 8u);
    EXPECT_EQ(state.frame_size, 16u);
    EXPECT_EQ(state.used_integer_mask, 0xFF00);
}

TEST_F(Allocator, FloatRegistersNeverZeroOrOne) {
    Register_Allocation r[15];
    for (u32 i = 0; i < 15; i++) r[i] = reg(8, 8, HINT_FLOAT_REGISTER, 1, 2);
    allocate_registers(&state, r, 15, nullptr, 0);
    for (u32 i = 0; i < 14; i++) {
        ASSERT_TRUE(r[i].in_machine_register) << i;
        EXPECT_EQ(r[i].machine_register_class, MACHINE_REGISTER_FLOAT);
        EXPECT_GE(r[i].machine_register, 2) << i;
    }
    EXPECT_FALSE(r[14].in_machine_register);
    EXPECT_EQ(state.used_float_mask, 0xFFFC);
}

TEST_F(Allocator, StartBeforeEndAtTheSamePoint) {
    // b starts where a ends: the instruction reads a and writes b, so they
    // must not share a register.
    Register_Allocation r[2] = {reg(8, 8, HINT_INTEGER_REGISTER, 1, 5), reg(8, 8, HINT_INTEGER_REGISTER, 5, 9)};
    allocate_registers(&state, r, 2, nullptr, 0);
    EXPECT_NE(r[0].machine_register, r[1].machine_register);
    // After a's end, c takes the register again.
    Register_Allocation s[3] = {reg(8, 8, HINT_INTEGER_REGISTER, 1, 5), reg(8, 8, HINT_INTEGER_REGISTER, 2, 9),
                                reg(8, 8, HINT_INTEGER_REGISTER, 6, 9)};
    allocation_state_reset(&state, true);
    allocate_registers(&state, s, 3, nullptr, 0);
    EXPECT_EQ(s[0].machine_register, 15);
    EXPECT_EQ(s[1].machine_register, 14);
    EXPECT_EQ(s[2].machine_register, 15);
}

TEST_F(Allocator, FrameSlotsReusedExactFitFirst) {
    // Two slots are released (16 bytes at 0, 8 bytes at 16); an 8-byte
    // request takes the exact slot, not the first bytes of the larger one.
    Register_Allocation r[3] = {reg(16, 8, HINT_MEMORY, 1, 3), reg(8, 8, HINT_MEMORY, 2, 3),
                                reg(8, 8, HINT_MEMORY, 4, 6)};
    allocate_registers(&state, r, 3, nullptr, 0);
    EXPECT_EQ(r[0].offset, 0u);
    EXPECT_EQ(r[1].offset, 16u);
    EXPECT_EQ(r[2].offset, 16u);
    EXPECT_EQ(state.frame_size, 24u);
}

TEST_F(Allocator, LargerSlotGivesItsFirstBytes) {
    Register_Allocation r[3] = {reg(32, 8, HINT_MEMORY, 1, 2), reg(8, 8, HINT_MEMORY, 3, 9),
                                reg(8, 8, HINT_MEMORY, 4, 9)};
    allocate_registers(&state, r, 3, nullptr, 0);
    EXPECT_EQ(r[1].offset, 0u);
    EXPECT_EQ(r[2].offset, 8u);
    EXPECT_EQ(state.frame_size, 32u);
}

TEST_F(Allocator, AlignmentPaddingBecomesAGap) {
    // A byte at 0, then an 8-aligned value at 8 leaves 1..7 as a gap that a
    // later 4-byte value takes (at 4) instead of growing the frame.
    Register_Allocation r[3] = {reg(1, 1, HINT_MEMORY, 1, 9), reg(8, 8, HINT_MEMORY, 2, 9),
                                reg(4, 4, HINT_MEMORY, 3, 9)};
    allocate_registers(&state, r, 3, nullptr, 0);
    EXPECT_EQ(r[0].offset, 0u);
    EXPECT_EQ(r[1].offset, 8u);
    EXPECT_EQ(r[2].offset, 4u);
    EXPECT_EQ(state.frame_size, 16u);
}

TEST_F(Allocator, BytecodeTargetKeepsEverythingInTheFrame) {
    allocation_state_reset(&state, false);
    Register_Allocation r[2] = {reg(8, 8, HINT_INTEGER_REGISTER, 1, 2), reg(4, 4, HINT_FLOAT_REGISTER, 1, 2)};
    allocate_registers(&state, r, 2, nullptr, 0);
    EXPECT_FALSE(r[0].in_machine_register);
    EXPECT_FALSE(r[1].in_machine_register);
    EXPECT_EQ(state.frame_size, 12u);
    EXPECT_EQ(state.used_integer_mask | state.used_float_mask, 0);
}

TEST_F(Allocator, LivePointsSeeTheRegistersAcrossThem) {
    Register_Allocation r[3] = {reg(8, 8, HINT_INTEGER_REGISTER, 1, 10), reg(8, 8, HINT_INTEGER_REGISTER, 2, 4),
                                reg(4, 4, HINT_FLOAT_REGISTER, 3, 10)};
    Live_Point p[2] = {{5, 0, 0}, {11, 0, 0}};
    allocate_registers(&state, r, 3, p, 2);
    EXPECT_EQ(p[0].integer_mask, 1u << 15);
    EXPECT_EQ(p[0].float_mask, 1u << 15);
    EXPECT_EQ(p[1].integer_mask, 0);
    EXPECT_EQ(p[1].float_mask, 0);
}

} // namespace
