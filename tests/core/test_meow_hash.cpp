// Meow hash against the published test vectors.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <string>
#include <algorithm>
#include <vector>
#include "core/meow_hash.h"

struct Meow_Vector {
    const char *name;
    std::vector<u8> input;
    u64 low, high;
};

static std::vector<u8> bytes_of(const char *text) { return std::vector<u8>(text, text + strlen(text)); }
static std::vector<u8> pattern(u64 n, u32 multiplier) {
    std::vector<u8> v(n);
    for (u64 i = 0; i < n; i++) v[i] = (u8)((i * multiplier) & 255);
    return v;
}

static std::vector<Meow_Vector> meow_vectors() {
    return {
        {"empty", {}, 0x657ca02a5859c045ull, 0x75a7b5550383265eull},
        {"a", bytes_of("a"), 0xd8be5296340e50e3ull, 0xb26b64e1346ca4b5ull},
        {"abc", bytes_of("abc"), 0x19f773ec430acc3bull, 0x5f6d236b424c9ab4ull},
        {"0..254", pattern(255, 1), 0xcfb013d86b28f8caull, 0x1aed57183659fb4dull},
        {"i*7", pattern(1000, 7), 0x65dc73cf4c599385ull, 0x1d5aabc74042a337ull},
        {"go_left", bytes_of("go_left"), 0x9cb245fb50cf0dd5ull, 0xa8e466e80724eb3cull},
        {"go_right", bytes_of("go_right"), 0x9783b2349eb65e1dull, 0xeb6d261dc4e3b614ull},
        {"go_up", bytes_of("go_up"), 0x97236abfc2434eb1ull, 0xe7b9ea293abf0d8cull},
        {"go_down", bytes_of("go_down"), 0xf34144b934fe5ce4ull, 0x01f25c7ced8dcf9full},
        {"insert_text", bytes_of("insert_text"), 0xf48204bfab00e482ull, 0x839487ccac1bf6d7ull},
        {"undo", bytes_of("undo"), 0xb4c2be8eec02498full, 0xa14993ca24684c2bull},
        {"set_settings", bytes_of("set_settings"), 0xdf44706e298b460aull, 0xa9865cc4dcfb8a6dull},
        {"get_events", bytes_of("get_events"), 0x4d778afb730cacecull, 0x932e56805df1619cull},
        {"log", bytes_of("log"), 0xe44252b7acddc2a5ull, 0x29c9d5373f218e4eull},
        {"int_to_string", bytes_of("int_to_string"), 0x941ed26820c4c210ull, 0xaf8120f11b1083b8ull},
        {"exit_program", bytes_of("exit_program"), 0x8e4d29105746c3baull, 0x9303d64eab6f8dd5ull},
        {"handle_foreign_call", bytes_of("handle_foreign_call"), 0xb90d4b43b61ca6e8ull, 0xa2340b9e50401160ull},
        {"15", pattern(15, 1), 0xb32fe5e221ade261ull, 0x843b204e926c521bull},
        {"16", pattern(16, 1), 0x7e2f558a645ada98ull, 0xb694d10e9d4a1f45ull},
        {"17", pattern(17, 1), 0x7bf762074f5c72c9ull, 0xc581d1919b3732ceull},
        {"31", pattern(31, 1), 0xfcf72e2f029ab469ull, 0x7c6c6c5365cf276cull},
        {"32", pattern(32, 1), 0x38d7ecb8082ef05full, 0xb472f3a480026bcbull},
        {"33", pattern(33, 1), 0x97a422d5ea7b9458ull, 0xee68370457f5feb7ull},
        {"256", pattern(256, 1), 0xd3604660411fe318ull, 0xc8d5a459085ba8b7ull},
        {"257", pattern(257, 1), 0x0189c2e3a24d5fddull, 0x4cfd80c22d561501ull},
        {"300000", pattern(300000, 1), 0x24f2ac0d72d79153ull, 0x84878bebbc0f1922ull},
    };
}

TEST(MeowHash, PublishedVectors) {
    for (const Meow_Vector &v : meow_vectors()) {
        Meow_Hash h = meow_hash(v.input.data(), v.input.size());
        EXPECT_EQ(h.low, v.low) << v.name;
        EXPECT_EQ(h.high, v.high) << v.name;
    }
    EXPECT_EQ(meow_hash_u64(S("undo")), 0xb4c2be8eec02498full);
}

// The result depends only on the bytes, not on where they sit; and input that
// ends right before an unmapped page is never read past.
TEST(MeowHash, AlignmentAndPageEnd) {
    long page = sysconf(_SC_PAGESIZE);
    u8 *map = (u8 *)mmap(nullptr, (size_t)page * 2, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    ASSERT_EQ(mprotect(map + page, (size_t)page, PROT_NONE), 0);
    for (const Meow_Vector &v : meow_vectors()) {
        if (v.input.size() > (u64)page) continue;
        u8 *at = map + page - v.input.size();
        if (!v.input.empty()) memcpy(at, v.input.data(), v.input.size());
        Meow_Hash h = meow_hash(at, v.input.size());
        EXPECT_EQ(h.low, v.low) << v.name;
        EXPECT_EQ(h.high, v.high) << v.name;
    }
    munmap(map, (size_t)page * 2);

    std::vector<u8> input = pattern(4200 + 16, 13);
    for (u64 length : {0ull, 1ull, 31ull, 100ull, 255ull, 513ull, 4200ull}) {
        Meow_Hash first = meow_hash(input.data(), length);
        for (u32 shift = 1; shift < 16; shift++) {
            std::vector<u8> moved(length + 16);
            std::copy(input.begin(), input.begin() + (long)length, moved.begin() + shift);
            EXPECT_TRUE(meow_hash_equal(meow_hash(moved.data() + shift, length), first)) << length << "+" << shift;
        }
    }
}

// Every single-bit change of a name changes the low word the editor relies on.
TEST(MeowHash, OneBitChangesTheLowWord) {
    std::string name = "handle_foreign_call";
    u64 base = meow_hash(name.data(), name.size()).low;
    for (size_t i = 0; i < name.size(); i++) {
        for (u32 bit = 0; bit < 8; bit++) {
            std::string flipped = name;
            flipped[i] = (char)(flipped[i] ^ (1 << bit));
            EXPECT_NE(meow_hash(flipped.data(), flipped.size()).low, base) << i << ":" << bit;
        }
    }
}
