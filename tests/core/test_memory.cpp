// The allocators, pools, arrays, sorting and search of the core memory module.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <errno.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <random>
#include <set>
#include <thread>
#include <vector>
#include "core/memory.h"
#include "core/strings.h"

// msync fails with ENOMEM on an address range that is not mapped.
static bool is_mapped(void *p, u64 size) {
    u64 page = (u64)p & ~4095ull;
    return msync((void *)page, size + ((u64)p - page), MS_ASYNC) == 0 || errno != ENOMEM;
}

static u64 slot_area_start(Slot_Page *page) { return (u64)page + slot_page_size(page->slot_size, page->num_slots) - page->slot_size * page->num_slots; }

TEST(GpAllocator, SizeClassBoundaries) {
    struct Case { u64 size; Slot_Page *chain; u16 slots; };
    const Case cases[] = {
        {1, __gp_allocator.small_pages, 1},          {128, __gp_allocator.small_pages, 1},
        {129, __gp_allocator.small_pages, 2},        {512, __gp_allocator.small_pages, 4},
        {513, __gp_allocator.medium_pages, 1},       {1024, __gp_allocator.medium_pages, 1},
        {4096, __gp_allocator.medium_pages, 4},      {4097, __gp_allocator.large_pages, 1},
        {1048577, __gp_allocator.large_pages, 2},    {10485760, __gp_allocator.large_pages, 10},
    };
    for (const Case &c : cases) {
        Allocation a;
        gp_allocate(&a, c.size);
        ASSERT_NE(a.page, nullptr) << c.size;
        EXPECT_EQ(a.size, c.size);
        EXPECT_EQ(a.num_slots, c.slots) << c.size;
        EXPECT_EQ(a.page->slot_size, c.chain->slot_size) << c.size;
        EXPECT_EQ((u64)a.memory, slot_area_start(a.page) + (u64)a.first_slot * a.page->slot_size);
        EXPECT_EQ((u64)a.memory % 16, 0u) << "slots must be aligned for any element type, size " << c.size;
        memset(a.memory, 0xAB, c.size);
        gp_free(&a);
        EXPECT_EQ(a.size, 0u);
        EXPECT_EQ(a.memory, nullptr);
    }

    Allocation direct;
    gp_allocate(&direct, 10485761);
    EXPECT_EQ(direct.page, nullptr);
    EXPECT_EQ(direct.size, 10485761u);
    ((u8 *)direct.memory)[10485760] = 1;
    void *memory = direct.memory;
    gp_free(&direct);
    EXPECT_FALSE(is_mapped(memory, 4096));
    EXPECT_EQ(direct.size, 0u);

    Allocation none;
    gp_allocate(&none, 0);
    EXPECT_EQ(none.size, 0u);
    u16 used_before = __gp_allocator.small_pages->used;
    gp_free(&none); // a zeroed record: nothing happens
    EXPECT_EQ(__gp_allocator.small_pages->used, used_before);
}

// A private chain of 8 slots of 128 bytes, searched directly.
struct Slot_Chain : ::testing::Test {
    alignas(16) u8 storage[slot_page_size(128, 8)];
    Slot_Page *head;
    void SetUp() override {
        memset(storage, 0, sizeof storage);
        head = (Slot_Page *)storage;
        head->slot_size = 128;
        head->num_slots = 8;
    }
    Allocation take(u64 size) {
        Allocation a;
        spin_lock(&__gp_allocator.lock);
        gp_allocate_on_bucket(&a, head, size);
        spin_unlock(&__gp_allocator.lock);
        return a;
    }
};

TEST_F(Slot_Chain, FirstFitSkipsRunsThatAreTooShort) {
    Allocation a = take(100), b = take(100), c = take(100);
    EXPECT_EQ(a.first_slot, 0);
    EXPECT_EQ(b.first_slot, 1);
    EXPECT_EQ(c.first_slot, 2);
    gp_free(&b);
    Allocation two = take(256); // the one-slot hole at 1 is too short
    EXPECT_EQ(two.page, head);
    EXPECT_EQ(two.first_slot, 3);
    Allocation one = take(1); // first fit: the hole
    EXPECT_EQ(one.first_slot, 1);
    EXPECT_EQ(head->used, 5);
    for (Allocation *x : {&a, &c, &two, &one}) gp_free(x);
    EXPECT_EQ(head->used, 0);
    for (int i = 0; i < 8; i++) EXPECT_EQ(storage[32 + i], 0) << i;
}

TEST_F(Slot_Chain, EmptyPagesAreKeptUpToTheLimitThenUnmapped) {
    Allocation all = take(8 * 128);
    EXPECT_EQ(all.page, head);
    EXPECT_EQ(all.num_slots, 8);
    Allocation spill = take(300);
    Slot_Page *extra = spill.page;
    ASSERT_NE(extra, head);
    EXPECT_EQ(head->next, extra);
    EXPECT_EQ(extra->previous, head);
    EXPECT_EQ(extra->slot_size, 128u);
    EXPECT_EQ(extra->num_slots, 8);
    EXPECT_EQ(spill.first_slot, 0);
    Allocation more = take(128);
    EXPECT_EQ(more.page, extra);
    gp_free(&spill);
    gp_free(&more);

    // One full page more than the chain may keep empty.
    u32 keep = gp_max_empty_pages(slot_page_size(128, 8));
    std::vector<Allocation> pages;
    std::vector<Slot_Page *> mapped;
    for (u32 i = 0; i < keep + 2; i++) {
        pages.push_back(take(8 * 128));
        if (i == 0) {
            EXPECT_EQ(pages[0].page, extra) << "an empty kept page is reused before mapping";
        }
        mapped.push_back(pages.back().page);
    }
    for (Allocation &a : pages) gp_free(&a);
    EXPECT_EQ(head->empty_pages, keep);
    u32 linked = 0;
    for (Slot_Page *p = head->next; p; p = p->next) {
        EXPECT_EQ(p->used, 0);
        linked++;
    }
    EXPECT_EQ(linked, keep);
    u32 unmapped = 0;
    for (Slot_Page *p : mapped) unmapped += !is_mapped(p, 32);
    EXPECT_EQ(unmapped, 2u);

    // Refilling takes the kept pages first and maps only past them.
    for (u32 i = 0; i < keep; i++) pages[i] = take(8 * 128);
    EXPECT_EQ(head->empty_pages, 0);
    for (u32 i = 0; i < keep; i++) gp_free(&pages[i]);

    // The first page of a chain stays even when empty.
    gp_free(&all);
    EXPECT_EQ(head->used, 0);
    Allocation again = take(128);
    EXPECT_EQ(again.page, head);
    gp_free(&again);
}

// Random takes and frees on a private chain against a byte-walking first-fit
// reference: the bitmaps and the remembered missing runs must never change
// which slots are chosen.
TEST_F(Slot_Chain, SearchMatchesANaiveFirstFit) {
    std::mt19937 random(7);
    std::vector<Allocation> live;
    for (int step = 0; step < 20000; step++) {
        if (live.empty() || random() % 2) {
            u64 size = 1 + random() % (5 * 128);
            u64 n = (size + 127) / 128;
            // Reference: the first page (in chain order) with a free run of n.
            Slot_Page *want_page = nullptr;
            u64 want_slot = 0;
            for (Slot_Page *p = head; p && !want_page; p = p->next) {
                const u8 *map = (const u8 *)(p + 1);
                for (u64 i = 0; i + n <= p->num_slots; i++) {
                    u64 k = 0;
                    while (k < n && !map[i + k]) k++;
                    if (k == n) {
                        want_page = p;
                        want_slot = i;
                        break;
                    }
                }
            }
            Allocation a = take(size);
            if (want_page) {
                ASSERT_EQ(a.page, want_page) << "step " << step;
                ASSERT_EQ(a.first_slot, want_slot) << "step " << step;
            } else {
                ASSERT_EQ(a.first_slot, 0) << "a new page starts at its first slot";
            }
            live.push_back(a);
        } else {
            size_t i = random() % live.size();
            gp_free(&live[i]);
            live[i] = live.back();
            live.pop_back();
        }
    }
    for (Allocation &a : live) gp_free(&a);
    EXPECT_EQ(head->used, 0);
}

TEST_F(Slot_Chain, AMiddlePageLeavesTheChainIntact) {
    Allocation first = take(8 * 128), second = take(8 * 128), third = take(8 * 128);
    Slot_Page *p2 = second.page, *p3 = third.page;
    ASSERT_EQ(head->next, p2);
    ASSERT_EQ(p2->next, p3);
    // As if the chain already kept all the empty pages it may: these go back at once.
    head->empty_pages = (u8)gp_max_empty_pages(slot_page_size(128, 8));
    gp_free(&second);
    EXPECT_EQ(head->next, p3);
    EXPECT_EQ(p3->previous, head);
    gp_free(&third);
    EXPECT_EQ(head->next, nullptr);
    EXPECT_FALSE(is_mapped(p2, 32));
    EXPECT_FALSE(is_mapped(p3, 32));
    gp_free(&first);
}

// Threads allocate and free at random, each filling its blocks with its own byte:
// any overlap between live blocks shows up as a foreign byte.
TEST(GpAllocator, ManyThreadsNeverShareBytes) {
    std::atomic<int> failures{0};
    auto worker = [&](u32 seed) {
        std::mt19937 random(seed);
        std::vector<Allocation> live;
        const u64 sizes[] = {1, 64, 200, 512, 513, 3000, 4097, 70000};
        for (int step = 0; step < 6000; step++) {
            if (live.empty() || random() % 3) {
                Allocation a;
                gp_allocate(&a, sizes[random() % 8] + random() % 16);
                memset(a.memory, (int)seed, a.size);
                live.push_back(a);
            } else {
                size_t i = random() % live.size();
                Allocation a = live[i];
                for (u64 k = 0; k < a.size; k++) {
                    if (((u8 *)a.memory)[k] != (u8)seed) {
                        failures++;
                        break;
                    }
                }
                gp_free(&live[i]);
                live[i] = live.back();
                live.pop_back();
            }
        }
        for (Allocation &a : live) gp_free(&a);
    };
    std::vector<std::thread> threads;
    for (u32 t = 1; t <= 4; t++) threads.emplace_back(worker, t);
    for (auto &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

// Threads alive at once allocate from different arenas, and memory freed by
// another thread goes back to the arena it came from.
TEST(GpAllocator, ThreadsGetTheirOwnArenasAndFreeAcross) {
    EXPECT_EQ(gp_thread_arena(), 0u) << "the thread that ran init_memory owns arena 0";
    const int n = 3;
    std::vector<Allocation> made(n);
    std::vector<u32> arenas(n);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < n; t++) {
        threads.emplace_back([&, t] {
            arenas[t] = gp_thread_arena();
            gp_allocate(&made[t], 100);
            memset(made[t].memory, t, 100);
            ready++;
            while (ready.load() < n) std::this_thread::yield(); // all alive at once
        });
    }
    for (auto &t : threads) t.join();
    std::set<u32> distinct(arenas.begin(), arenas.end());
    EXPECT_EQ(distinct.size(), (size_t)n);
    EXPECT_EQ(distinct.count(0), 0u);
    for (int t = 0; t < n; t++) {
        EXPECT_EQ(made[t].page->arena, arenas[t]);
        u16 used = made[t].page->used;
        Slot_Page *page = made[t].page;
        gp_free(&made[t]); // from the main thread
        EXPECT_EQ(page->used, used - 1);
    }
}

TEST(StartupBlock, TakesAreAligned) {
    u8 *a = (u8 *)startup_take(3);
    u8 *b = (u8 *)startup_take(16);
    EXPECT_EQ((u64)a % 16, 0u);
    EXPECT_EQ((u64)b % 16, 0u);
    EXPECT_GE(b, a + 3);
    EXPECT_LE(__memory.offset, STARTUP_MEMORY_SIZE);
}

// [SECTION] Dynamic_Array

TEST(DynamicArray, GrowthRules) {
    struct Case { u32 start_count; u32 add; u32 capacity_after; };
    const Case cases[] = {{3, 1, 6}, {3, 10, 13}, {3, 0, 3}, {0, 1, 1}, {2, 1, 4}};
    for (const Case &c : cases) {
        Dynamic_Array array;
        dynamic_array_init(&array, sizeof(u32), c.start_count);
        u32 *first = (u32 *)dynamic_array_add_fast_multiple(&array, c.start_count);
        for (u32 i = 0; i < c.start_count; i++) first[i] = i + 100;
        ASSERT_EQ(array.capacity, c.start_count);
        u32 *end = (u32 *)dynamic_array_get(&array, array.count);
        u32 *added = (u32 *)dynamic_array_add_fast_multiple(&array, c.add);
        if (c.add == 0) {
            EXPECT_EQ(added, end);
        }
        EXPECT_EQ(array.count, c.start_count + c.add);
        EXPECT_EQ(array.capacity, c.capacity_after) << c.start_count << "+" << c.add;
        for (u32 i = 0; i < c.start_count; i++) EXPECT_EQ(*dynamic_array_at<u32>(&array, i), i + 100);
        dynamic_array_free(&array);
    }
}

TEST(DynamicArray, InsertRemoveAndBorrowedMemory) {
    u64 buffer[2] = {7, 8};
    Dynamic_Array array;
    dynamic_array_init_on(&array, sizeof(u64), buffer, 2);
    *(u64 *)dynamic_array_add(&array) = 1;
    *(u64 *)dynamic_array_add(&array) = 2;
    EXPECT_EQ(array.data, buffer);
    EXPECT_EQ(array.allocation.size, 0u);

    // Full on borrowed memory: the first growth moves it and leaves the buffer alone.
    u64 *at_end = (u64 *)dynamic_array_insert(&array, 2);
    EXPECT_NE(array.data, (void *)buffer);
    EXPECT_EQ(array.capacity, 4u);
    EXPECT_EQ(*at_end, 0u);
    *at_end = 3;
    u64 *front = (u64 *)dynamic_array_insert(&array, 0);
    EXPECT_EQ(*front, 0u);
    *front = 9;
    std::vector<u64> got((u64 *)array.data, (u64 *)array.data + array.count);
    EXPECT_EQ(got, (std::vector<u64>{9, 1, 2, 3}));
    EXPECT_EQ(buffer[0], 1u);

    // Full on owned memory: the byte size doubles.
    dynamic_array_insert(&array, 2);
    EXPECT_EQ(array.capacity, 8u);
    dynamic_array_remove(&array, 2);
    dynamic_array_remove(&array, 0);
    dynamic_array_remove(&array, 99);
    got.assign((u64 *)array.data, (u64 *)array.data + array.count);
    EXPECT_EQ(got, (std::vector<u64>{1, 2, 3}));
    dynamic_array_free(&array);
    EXPECT_EQ(array.count, 0u);

    Dynamic_Array empty;
    dynamic_array_init(&empty, 12);
    EXPECT_EQ(dynamic_array_add_fast_multiple(&empty, 0), nullptr);
    dynamic_array_insert(&empty, 5); // past the end: appended
    EXPECT_EQ(empty.count, 1u);
    EXPECT_EQ(empty.capacity, 1u);
    dynamic_array_free(&empty);

    Dynamic_Array bytes;
    dynamic_array_init(&bytes, 1);
    for (int i = 0; i < 100; i++) dynamic_array_append_bytes(&bytes, "abc", 3);
    EXPECT_EQ(bytes.count, 300u);
    EXPECT_EQ(memcmp((u8 *)bytes.data + 297, "abc", 3), 0);
    dynamic_array_free(&bytes);
}

// [SECTION] Pools and Bucket_Array

static int pages_mapped;
static void *counting_allocate_page(u64 size) {
    pages_mapped++;
    return os_allocate_read_write(size);
}

TEST(MemoryPool, SizesPagesAndReset) {
    EXPECT_EQ(pool_page_memory(64, 256, 32), 524816u);
    EXPECT_EQ(pool_page_memory(88, 4096, 2), 720944u);

    alignas(16) static u8 first_page[(64 * 4 + 16) * 2 + 16];
    Memory_Pool pool;
    pages_mapped = 0;
    _init_memory_pool(&pool, 64, 4, 2, first_page, counting_allocate_page);
    EXPECT_EQ(pool.bucket_size, 64u * 4 + 16);
    EXPECT_EQ(pool.page_size, sizeof(first_page));

    Bucket *b[5];
    for (int i = 0; i < 5; i++) b[i] = memory_pool_allocate_bucket(&pool);
    EXPECT_EQ((u8 *)b[0], first_page + 16);
    EXPECT_EQ((u8 *)b[1], first_page + 16 + pool.bucket_size);
    EXPECT_EQ(pages_mapped, 2); // two buckets per page: pages 2 and 3 were mapped
    EXPECT_EQ((u8 *)b[3], (u8 *)b[2] + pool.bucket_size);
    for (Bucket *x : b) EXPECT_EQ(x->count, 0u);

    b[0]->count = 3;
    memory_pool_reset(&pool);
    Bucket *again = memory_pool_allocate_bucket(&pool);
    EXPECT_EQ(again, b[0]);
    EXPECT_EQ(again->count, 0u);
    // After a reset the pages already mapped are used before any new one.
    for (int i = 0; i < 4; i++) memory_pool_allocate_bucket(&pool);
    EXPECT_EQ(pages_mapped, 2);
}

TEST(BucketArray, ElementsNeverMoveAndBucketsAreReused) {
    Memory_Pool pool;
    _init_memory_pool(&pool, 24, 16, 4, nullptr, nullptr);
    Bucket_Array array;
    bucket_array_init(&array, &pool);
    std::vector<u64 *> pointers;
    for (u64 i = 0; i < 1000; i++) {
        u64 *e = (u64 *)bucket_array_add(&array);
        EXPECT_EQ(e[0], 0u);
        e[0] = 0xFFFF; // the link word
        e[1] = i;
        pointers.push_back(e);
    }
    EXPECT_EQ(array.count, 1000u);
    for (u64 i = 0; i < 1000; i += 37) EXPECT_EQ(bucket_array_get(&array, i), pointers[i]);
    EXPECT_EQ(bucket_array_get(&array, 1000), nullptr);
    u64 visited = 0;
    for (Bucket_Iterator it = bucket_iterate(&array); it.element; bucket_iterator_next(&it)) {
        EXPECT_EQ(((u64 *)it.element)[1], visited);
        visited++;
    }
    EXPECT_EQ(visited, 1000u);

    // Clearing keeps the chain: refilling takes no new bucket from the pool.
    Pool_Page *page = pool.current_page;
    u32 used = page->num_buckets_used;
    bucket_array_clear(&array);
    EXPECT_EQ(bucket_iterate(&array).element, nullptr);
    for (u64 i = 0; i < 1000; i++) {
        u64 *e = (u64 *)bucket_array_add(&array);
        EXPECT_EQ(e, pointers[i]);
        EXPECT_EQ(e[0], 0u);
    }
    EXPECT_EQ(pool.current_page, page);
    EXPECT_EQ(page->num_buckets_used, used);
}

// [SECTION] Sorting and searching

static int comparisons;
static bool less_u32(const void *a, const void *b) {
    comparisons++;
    return *(const u32 *)a < *(const u32 *)b;
}
struct Big_Record {
    u32 key;
    u8 payload[1020];
};
static bool less_big(const void *a, const void *b) { return ((const Big_Record *)a)->key < ((const Big_Record *)b)->key; }

TEST(QuickSort, MatchesAReferenceSort) {
    std::mt19937 random(3);
    comparisons = 0;
    general_quick_sort(nullptr, 0, 4, less_u32);
    u32 one = 5;
    general_quick_sort(&one, 1, 4, less_u32);
    EXPECT_EQ(comparisons, 0);

    auto check = [](std::vector<u32> v, const char *what) {
        std::vector<u32> expected = v;
        std::sort(expected.begin(), expected.end());
        general_quick_sort(v.data(), v.size(), sizeof(u32), less_u32);
        EXPECT_EQ(v, expected) << what << " n=" << v.size();
    };
    for (u32 n : {2u, 3u, 7u, 8u, 9u, 100u, 1001u}) {
        std::vector<u32> v(n);
        for (u32 &x : v) x = random() % 1000;
        check(v, "random");
        for (u32 &x : v) x = random() % 3;
        check(v, "few keys");
        check(std::vector<u32>(n, 42), "all equal");
        for (u32 i = 0; i < n; i++) v[i] = i;
        check(v, "sorted");
        for (u32 i = 0; i < n; i++) v[i] = n - i;
        check(v, "reversed");
        for (u32 i = 0; i < n; i++) v[i] = i % 2 ? i : n - i; // organ pipe
        check(v, "zigzag");
    }
    std::vector<Big_Record> big(50);
    for (u32 i = 0; i < 50; i++) {
        big[i].key = (i * 37) % 50;
        memset(big[i].payload, (int)big[i].key, sizeof big[i].payload);
    }
    general_quick_sort(big.data(), big.size(), sizeof(Big_Record), less_big);
    for (u32 i = 0; i < 50; i++) {
        EXPECT_EQ(big[i].key, i);
        EXPECT_EQ(big[i].payload[1019], (u8)i); // payload moved with its key
    }
}

static int finish_calls;
static u32 finish_count;
static bool element_less_key(const void *element, const void *key) { return *(const u32 *)element < *(const u32 *)key; }
static void *linear_finish(void *start, Array_View rest, const void *key) {
    finish_calls++;
    finish_count = rest.count;
    for (u32 i = 0; i < rest.count; i++) {
        u32 *e = (u32 *)start + i;
        if (*e == *(const u32 *)key) return e;
    }
    return nullptr;
}

TEST(BinarySearch, FindsEveryKeyAndMissesTheRest) {
    u32 small[8] = {1, 3, 5, 7, 9, 11, 13, 15};
    finish_calls = 0;
    u32 key = 9;
    EXPECT_EQ(array_binary_search(Array_View{small, 4, 8}, element_less_key, linear_finish, &key), &small[4]);
    EXPECT_EQ(finish_calls, 1);
    EXPECT_EQ(finish_count, 8u); // eight or fewer: the whole view at once

    std::vector<u32> values;
    for (u32 i = 0; i < 1000; i++) values.push_back(i * 2);
    Array_View view = {values.data(), 4, (u32)values.size()};
    for (u32 k = 0; k < 2000; k++) {
        void *found = array_binary_search(view, element_less_key, linear_finish, &k);
        if (k % 2) {
            EXPECT_EQ(found, nullptr) << k;
        } else {
            EXPECT_EQ(found, &values[k / 2]) << k;
        }
        EXPECT_LE(finish_count, 9u);
    }
    u32 beyond = 5000;
    EXPECT_EQ(array_binary_search(view, element_less_key, linear_finish, &beyond), nullptr);
}

// [SECTION] Temporary memory

TEST(TemporaryMemory, EachThreadHasItsOwnSlot) {
    const int n = 8;
    std::vector<s32> slots(n, -1);
    std::vector<u8 *> memories(n);
    std::atomic<int> ready{0}, failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < n; t++) {
        threads.emplace_back([&, t] {
            slots[t] = tmp_register_thread();
            u8 *p = (u8 *)tmp_allocate(4096);
            memories[t] = p;
            memset(p, t + 1, 4096);
            // Formatting from many threads at once stays per thread.
            for (int i = 0; i < 500; i++) {
                String s = tstring("%d-%d", t, i);
                std::string expected = std::to_string(t) + "-" + std::to_string(i);
                if (std::string((const char *)s.data, s.count) != expected) failures++;
            }
            {
                Tmp_Scope scope;
                tmp_allocate(100);
            }
            if (tmp_get_position() != 4096 + 500 * 1024) failures++;
            ready++;
            while (ready.load() < n) std::this_thread::yield(); // all alive at once
            for (int k = 0; k < 4096; k++) {
                if (p[k] != t + 1) {
                    failures++;
                    break;
                }
            }
            tmp_reset();
            if (tmp_get_position() != 0) failures++;
            tmp_unregister_thread();
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    std::set<s32> distinct(slots.begin(), slots.end());
    EXPECT_EQ(distinct.size(), (size_t)n);
    EXPECT_EQ(distinct.count(0), 0u); // slot 0 belongs to the main thread
    EXPECT_EQ(distinct.count(-1), 0u);
    EXPECT_EQ(tmp_get_slot(), 0);

    // A freed slot is handed out again, with its memory.
    s32 reused = -1;
    std::thread later([&] {
        reused = tmp_register_thread();
        tmp_unregister_thread();
    });
    later.join();
    EXPECT_EQ(reused, *distinct.begin());
}

TEST(TemporaryMemory, UnregisteredThreadIsGivenASlotInsteadOfCrashing) {
    s32 slot = -2;
    String s;
    std::thread t([&] {
        s = tstring("%s", "works");
        slot = tmp_get_slot();
        tmp_unregister_thread();
    });
    t.join();
    EXPECT_GE(slot, 1);
    EXPECT_EQ(std::string((const char *)s.data, s.count), "works");
}

TEST(TemporaryMemory, ThreadIdentitiesAreTheKernelsEvenAfterFork) {
    EXPECT_EQ(os_get_thread_id(), (u32)syscall(SYS_gettid));
    u32 worker_id = 0, worker_real = 1;
    std::thread t([&] {
        worker_id = os_get_thread_id();
        worker_real = (u32)syscall(SYS_gettid);
    });
    t.join();
    EXPECT_EQ(worker_id, worker_real);
    pid_t child = fork();
    if (child == 0) _exit(os_get_thread_id() == (u32)getpid() ? 0 : 1); // the child's only thread
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a forked child kept its parent's identity";
}

TEST(TemporaryMemory, SlotsOfEndedThreadsAreGivenBack) {
    // Far more threads than slots, none unregistering itself, as workers do.
    for (int round = 0; round < 3 * (int)NUM_TMP_SLOTS; round++) {
        s32 slot = -2;
        bool formatted = false;
        std::thread worker([&] {
            String s = tstring("%d", round);
            formatted = s.data && std::string((const char *)s.data, s.count) == std::to_string(round);
            slot = tmp_get_slot();
        });
        worker.join();
        ASSERT_TRUE(formatted) << "thread " << round;
        ASSERT_GE(slot, 1) << "thread " << round;
    }
    u64 taken = __tmp_allocator.occupancy[0] & ~1ull; // slot 0 is the main thread's
    EXPECT_EQ(taken | __tmp_allocator.occupancy[1], 0u);
    EXPECT_EQ(tmp_get_slot(), 0);
}


#if defined(__SANITIZE_ADDRESS__)
// Slots the allocator has not handed out are off limits, so overruns inside
// its own pages are reported like overruns of malloc'ed memory.
TEST(Memory_Sanitizer, ReadsPastAnAllocationOrAfterFreeAreReported) {
    struct Case { u64 size; u64 offset; bool free_first; } cases[] = {
        {100, 100, false},   // one past a small allocation, inside its slot
        {128, 128, false},   // the next slot
        {3000, 3000, false}, // medium
        {5000, 5000, false}, // large, far inside the first megabyte slot
        {64, 0, true},       // after free
    };
    for (const Case &c : cases) {
        EXPECT_DEATH(
            {
                Allocation a;
                gp_allocate(&a, c.size);
                volatile u8 *p = (volatile u8 *)a.memory;
                if (c.free_first) {
                    Allocation copy = a;
                    gp_free(&copy);
                }
                (void)p[c.offset];
            },
            "AddressSanitizer")
            << "size " << c.size << " offset " << c.offset;
    }
    // Every byte inside the size stays usable, and freed memory can be reused.
    Allocation a;
    gp_allocate(&a, 100);
    memset(a.memory, 1, 100);
    gp_free(&a);
    gp_allocate(&a, 4096);
    memset(a.memory, 2, 4096);
    gp_free(&a);
}
#endif

// A free from another thread while the owner lives is settled by the owner on
// its next allocation; threads beyond the owned arenas share the last one.
TEST(GpAllocator, RemoteFreesAndTheSharedArena) {
    Allocation made;
    std::atomic<int> step{0};
    u16 used_after_remote = 0, used_after_settle = 0;
    std::thread owner([&] {
        gp_allocate(&made, 200);
        Slot_Page *page = made.page;
        u16 used = page->used;
        step = 1;
        while (step.load() < 2) std::this_thread::yield();
        used_after_remote = (u16)(used - page->used);
        Allocation other;
        gp_allocate(&other, 16);
        used_after_settle = (u16)(used + 1 - page->used);
        gp_free(&other);
    });
    while (step.load() < 1) std::this_thread::yield();
    gp_free(&made); // the owner is alive: goes on its remote list
    step = 2;
    owner.join();
    EXPECT_EQ(used_after_remote, 0) << "a remote free must not touch the owner's page";
    EXPECT_EQ(used_after_settle, 2) << "the owner settles both slots on its next allocation";

    const u32 n = GP_NUM_ARENAS + 2;
    std::vector<u32> arenas(n);
    std::vector<Allocation> kept(n);
    std::atomic<u32> ready{0};
    std::vector<std::thread> threads;
    for (u32 t = 0; t < n; t++) {
        threads.emplace_back([&, t] {
            arenas[t] = gp_thread_arena();
            gp_allocate(&kept[t], 64);
            memset(kept[t].memory, (int)t, 64);
            ready++;
            while (ready.load() < n) std::this_thread::yield();
        });
    }
    for (auto &t : threads) t.join();
    u32 shared = 0;
    for (u32 t = 0; t < n; t++) {
        shared += arenas[t] == GP_NUM_ARENAS - 1;
        EXPECT_EQ(((u8 *)kept[t].memory)[63], (u8)t);
        gp_free(&kept[t]);
    }
    EXPECT_GE(shared, 3u) << "the threads past the owned arenas share the last";
}
