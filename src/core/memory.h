// Memory: the start-up block, the general-purpose allocator, per-thread
// temporary memory, pools of buckets, Bucket_Array, Dynamic_Array, sorting
// and binary search.
//
// Index:
//   [SECTION] Start-up block
//   [SECTION] General-purpose allocator
//   [SECTION] Temporary allocator
//   [SECTION] Memory_Pool and Bucket_Array
//   [SECTION] Dynamic_Array
//   [SECTION] Sorting and searching
#pragma once
#include "core/base.h"

// [SECTION] Start-up block ----------------------------------------------------

constexpr u64 STARTUP_MEMORY_SIZE = 184859402; // 0xB04BB0A
constexpr u64 TMP_SLOT_MEMORY = 0xA00000;       // 10 MiB per thread
constexpr u64 STARTUP_TMP_OFFSET = MB(20);
constexpr u64 STARTUP_GP_OFFSET = MB(30);
constexpr u64 STARTUP_FIRST_FREE_OFFSET = 0x28883E0; // after the three first slot pages

struct Startup_Memory {
    u8 *base;    // __memory.0
    u64 offset;  // __memory.1: first byte not yet handed out
};
extern Startup_Memory __memory;

// Maps the start-up block, places the allocators in it and registers the
// calling thread (the main thread) as temporary slot 0. Safe to call twice.
void init_memory();
// Hands out `size` bytes of the start-up block (never returned), 16-aligned.
void *startup_take(u64 size);
void *os_allocate_read_write(u64 size);
void os_free_read_write(void *memory, u64 size);

// [SECTION] General-purpose allocator -------------------------------------------

struct Slot_Page;

struct Allocation {
    void *memory;
    u64 size;        // as asked; 0 = nothing allocated
    Slot_Page *page; // null for a direct mapping
    u16 first_slot;
    u16 num_slots;
};
static_assert(sizeof(Allocation) == 32);

struct Slot_Page {
    Slot_Page *next;
    Slot_Page *previous; // null for the first page of a chain (never unmapped)
    u64 slot_size;
    u16 num_slots;
    u16 used;
    u8 arena;       // the arena whose lock guards this page and its chain
    u8 empty_pages; // first page only: empty pages kept linked in the chain
    u8 missing_run; // 0, or a run length known not to fit since the last free here
    u8 pad;
    // followed by num_slots bytes of map (0 free, 1 taken), a bitmap of the
    // same (one bit per slot, searched a word at a time), then the slots
};
static_assert(sizeof(Slot_Page) == 32);

// Three chain heads and a lock. __gp_allocator is arena 0, owned by the
// thread that calls init_memory (its first pages are inside the start-up
// block). Every other thread owns one of the next arenas while it lives and
// works on it without locking; the last arena is shared, under its lock, by
// threads that find all others taken.
struct GP_Allocator {
    Slot_Page *small_pages;
    Slot_Page *medium_pages;
    Slot_Page *large_pages;
    volatile u8 lock;
};
extern GP_Allocator __gp_allocator;
constexpr u32 GP_NUM_ARENAS = 64;

constexpr u64 GP_SMALL_MAX = 512;
constexpr u64 GP_MEDIUM_MAX = 4096;
constexpr u64 GP_LARGE_MAX = 10485760; // above this: a direct mapping
constexpr u64 GP_SMALL_SLOT = 128, GP_SMALL_SLOTS = 256;
constexpr u64 GP_MEDIUM_SLOT = 1024, GP_MEDIUM_SLOTS = 512;
constexpr u64 GP_LARGE_SLOT = 1048576, GP_LARGE_SLOTS = 10;
constexpr u64 slot_bitmap_offset(u64 num_slots) { return (32 + num_slots + 7) & ~7ull; }
// Slots start on a 16-byte boundary after the header, byte map and bitmap, so
// any element type can live in them (the large class would otherwise be 2-aligned).
constexpr u64 slot_area_offset(u64 num_slots) { return (slot_bitmap_offset(num_slots) + (num_slots + 63) / 64 * 8 + 15) & ~15ull; }
constexpr u64 slot_page_size(u64 slot_size, u64 num_slots) { return slot_area_offset(num_slots) + slot_size * num_slots; }
// Empty pages after the first stay linked for reuse, up to this many per
// chain (about a megabyte of small and medium pages, one large page); a
// page that empties beyond that is unmapped at once.
constexpr u32 gp_max_empty_pages(u64 page_size) { return page_size <= 65536 ? 4 : page_size <= 1048576 ? 2 : 1; }

void gp_allocate(Allocation *out, u64 size);
void gp_allocate_on_bucket(Allocation *out, Slot_Page *chain_head, u64 size);
void gp_free(Allocation *allocation);
inline String gp_memory_to_string(Allocation a) { return String{(u8 *)a.memory, (s64)a.size}; }
// Lays the first page of each class at `at` for arena 0 (init_memory does this).
u8 *gp_init_first_pages(u8 *at);
// The arena the calling thread allocates from (0 for the thread that ran init_memory).
u32 gp_thread_arena();

// [SECTION] Temporary allocator ---------------------------------------------------

constexpr u32 NUM_TMP_SLOTS = 128;

struct Tmp_Allocator {
    volatile u64 occupancy[2];
    u32 thread_ids[NUM_TMP_SLOTS];
    struct { u8 *memory; u64 used; } slots[NUM_TMP_SLOTS];
    struct { u64 position; u8 is_set; u32 thread_id; } saved;
};
extern Tmp_Allocator __tmp_allocator;

u32 os_get_thread_id();
// Every thread that uses temporary memory registers first (the main thread
// is registered by init_memory). Returns the slot or -1 when all are taken.
s32 tmp_register_thread();
void tmp_unregister_thread();
// Slot of the calling thread; -1 when it never registered.
s32 tmp_get_slot();
// Bump allocation: no alignment, no bound check; callers reserve budgets.
void *tmp_allocate(u64 size);
// The same, rounded up to `alignment` (a power of two) for typed arrays.
inline void *tmp_allocate_aligned(u64 size, u64 alignment) {
    u8 *p = (u8 *)tmp_allocate(size + alignment - 1);
    return p ? (void *)(((u64)p + alignment - 1) & ~(alignment - 1)) : nullptr;
}
u64 tmp_get_position();
void tmp_set_position(u64 position);
// Empties the calling thread's temporary memory.
void tmp_reset();

// Saves the position on entry, restores it on exit.
struct Tmp_Scope {
    u64 position;
    Tmp_Scope() : position(tmp_get_position()) {}
    ~Tmp_Scope() { tmp_set_position(position); }
};

// [SECTION] Memory_Pool and Bucket_Array ----------------------------------------------

struct Pool_Page {
    Pool_Page *next;
    u32 num_buckets_used;
    u32 pad;
};
struct Bucket {
    Bucket *next;
    u32 count;
    u32 pad;
};
static_assert(sizeof(Pool_Page) == 16 && sizeof(Bucket) == 16);

typedef void *(*Allocate_Page_Proc)(u64 size);

struct Memory_Pool {
    u32 element_size;
    u32 num_per_bucket;
    u32 num_buckets_per_page;
    u32 bucket_size; // element_size * num_per_bucket + 16
    u32 page_size;   // bucket_size * num_buckets_per_page + 16
    Pool_Page *first_page;
    Pool_Page *current_page;
    Allocate_Page_Proc allocate_page;
    volatile u8 lock;
};

constexpr u32 pool_page_memory(u32 element_size, u32 per_bucket, u32 buckets_per_page) {
    return (element_size * per_bucket + 16) * buckets_per_page + 16;
}

// `first_page` may be null: the first page then comes from `allocate_page`.
void _init_memory_pool(Memory_Pool *pool, u32 element_size, u32 num_per_bucket, u32 num_buckets_per_page,
                       void *first_page, Allocate_Page_Proc allocate_page);
Bucket *memory_pool_allocate_bucket(Memory_Pool *pool);
void memory_pool_reset(Memory_Pool *pool);

struct Bucket_Array {
    Memory_Pool *pool;
    u32 element_size;
    u32 num_per_bucket;
    u64 count;
    Bucket *first_bucket;
    Bucket *last_bucket;
};

void bucket_array_init(Bucket_Array *array, Memory_Pool *pool);
// Appends one element (first 8 bytes zeroed) and returns it; it never moves.
void *bucket_array_add(Bucket_Array *array);
void *bucket_array_get(Bucket_Array *array, u64 index);
// Forgets the elements but keeps the chain of buckets for reuse.
void bucket_array_clear(Bucket_Array *array);
inline void *bucket_element(Bucket *bucket, u32 element_size, u32 index) {
    return (u8 *)(bucket + 1) + (u64)element_size * index;
}

// Walks every element of a Bucket_Array: for (Bucket_Iterator it = ...; it.element; bucket_iterator_next(&it))
struct Bucket_Iterator {
    Bucket_Array *array;
    Bucket *bucket;
    u32 index_in_bucket;
    u64 index;
    void *element;
};
Bucket_Iterator bucket_iterate(Bucket_Array *array);
void bucket_iterator_next(Bucket_Iterator *it);

// [SECTION] Dynamic_Array ---------------------------------------------------------------

struct Dynamic_Array {
    void *data;
    u32 element_size;
    u32 count;
    u32 capacity;
    Allocation allocation; // size 0: `data` is memory the array does not own
};

void dynamic_array_init(Dynamic_Array *array, u32 element_size, u32 initial_capacity = 0);
// Starts the array on a caller's fixed buffer; the first growth moves it.
void dynamic_array_init_on(Dynamic_Array *array, u32 element_size, void *buffer, u32 capacity);
void dynamic_array_free(Dynamic_Array *array);
void dynamic_array_reserve(Dynamic_Array *array, u32 capacity);
// Moves the array to a capacity of max(count + n, 2 x capacity).
void dynamic_array_grow_for(Dynamic_Array *array, u32 n);
// Inline: a push that fits is a compare and a bump, no call.
inline void *dynamic_array_add_fast_multiple(Dynamic_Array *array, u32 n) {
    if ((u64)array->count + n > array->capacity) dynamic_array_grow_for(array, n);
    void *p = (u8 *)array->data + (u64)array->count * array->element_size;
    array->count += n;
    return p;
}
inline void *dynamic_array_add(Dynamic_Array *array) { return dynamic_array_add_fast_multiple(array, 1); }
void *dynamic_array_insert(Dynamic_Array *array, u32 index);
void dynamic_array_remove(Dynamic_Array *array, u32 index); // keeps order
void dynamic_array_append_bytes(Dynamic_Array *array, const void *bytes, u32 count); // element_size 1
inline void *dynamic_array_get(Dynamic_Array *array, u32 index) {
    return (u8 *)array->data + (u64)array->element_size * index;
}
template <typename T> inline T *dynamic_array_at(Dynamic_Array *array, u32 index) {
    return (T *)dynamic_array_get(array, index);
}
inline String dynamic_array_as_string(Dynamic_Array *array) {
    return String{(u8 *)array->data, (s64)array->count * array->element_size};
}

// [SECTION] Sorting and searching -------------------------------------------------------

constexpr u64 GENERAL_SWAP_BUFFER = 51240;
typedef bool (*Is_Less_Proc)(const void *a, const void *b);

void general_swap(void *a, void *b, u32 element_size);
void general_quick_sort(void *base, u64 count, u32 element_size, Is_Less_Proc is_less);

struct Array_View {
    void *data;
    u32 element_size;
    u32 count;
};
// Linear search over the last <= 8 elements; returns the element found or null.
typedef void *(*Binary_Search_Finish_Proc)(void *range_start, Array_View remaining, const void *key);
typedef bool (*Binary_Search_Is_Less_Proc)(const void *element, const void *key);
void *array_binary_search(Array_View view, Binary_Search_Is_Less_Proc is_less, Binary_Search_Finish_Proc finish,
                          const void *key);

inline u64 dt_get_required_memory_size() { return 0; }
void own_debug_break();
