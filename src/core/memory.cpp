// Memory: start-up block, temporary allocator, pools, arrays, sorting (the
// general-purpose allocator is in gp_allocator.cpp).
//
// Index:
//   [SECTION] Start-up block
//   [SECTION] Temporary allocator
//   [SECTION] Memory_Pool and Bucket_Array
//   [SECTION] Dynamic_Array
//   [SECTION] Sorting and searching
#include "core/memory.h"
#include <sys/mman.h>
#include <unistd.h>
#include <sys/syscall.h>
#include <signal.h>
#include <pthread.h>

static void forget_thread_id_after_fork();

Startup_Memory __memory;
Tmp_Allocator __tmp_allocator;

// [SECTION] Start-up block ----------------------------------------------------

void *os_allocate_read_write(u64 size) {
    void *p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

void os_free_read_write(void *memory, u64 size) {
    if (memory) munmap(memory, size);
}

void init_memory() {
    if (__memory.base) return;
    pthread_atfork(nullptr, nullptr, forget_thread_id_after_fork);
    __memory.base = (u8 *)os_allocate_read_write(STARTUP_MEMORY_SIZE);
    u8 *at = gp_init_first_pages(__memory.base + STARTUP_GP_OFFSET);
    __memory.offset = (u64)(at - __memory.base);

    // The main thread's temporary memory lives inside the block.
    __tmp_allocator.slots[0].memory = __memory.base + STARTUP_TMP_OFFSET;
    tmp_register_thread();
}

void *startup_take(u64 size) {
    __memory.offset = (__memory.offset + 15) & ~15ull;
    u8 *p = __memory.base + __memory.offset;
    __memory.offset += size;
    return p;
}

// [SECTION] Temporary allocator ---------------------------------------------------

static thread_local s32 tmp_cached_slot = -1;

// Workers are never joined and most never unregister; without this their
// slots would stay taken after they end, and after 127 such threads no
// thread could get temporary memory again.
struct Tmp_Slot_Release {
    ~Tmp_Slot_Release() { tmp_unregister_thread(); }
};
static thread_local Tmp_Slot_Release tmp_slot_release;

// The identity is asked on every temporary allocation: keep it per thread
// instead of a system call each time. A forked child is a new thread.
static thread_local u32 cached_thread_id;
static void forget_thread_id_after_fork() { cached_thread_id = 0; }

u32 os_get_thread_id() {
    if (!cached_thread_id) cached_thread_id = (u32)syscall(SYS_gettid);
    return cached_thread_id;
}

s32 tmp_register_thread() {
    u32 id = os_get_thread_id();
    for (;;) {
        s32 slot = -1;
        for (u32 w = 0; w < 2 && slot < 0; w++) {
            u64 bits = __atomic_load_n(&__tmp_allocator.occupancy[w], __ATOMIC_ACQUIRE);
            if (bits == ~0ull) continue;
            u32 bit = (u32)__builtin_ctzll(~bits);
            if (__atomic_compare_exchange_n(&__tmp_allocator.occupancy[w], &bits, bits | (1ull << bit), false,
                                            __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
                slot = (s32)(w * 64 + bit);
            } else {
                slot = -2; // lost a race: look again
            }
        }
        if (slot == -2) continue;
        if (slot < 0) return -1;
        __atomic_store_n(&__tmp_allocator.thread_ids[slot], id, __ATOMIC_RELAXED);
        if (!__tmp_allocator.slots[slot].memory) __tmp_allocator.slots[slot].memory = (u8 *)os_allocate_read_write(TMP_SLOT_MEMORY);
        __tmp_allocator.slots[slot].used = 0;
        tmp_cached_slot = slot;
        (void)&tmp_slot_release; // first use in this thread arms its release at thread exit
        return slot;
    }
}

s32 tmp_get_slot() {
    s32 cached = tmp_cached_slot;
    u32 id = os_get_thread_id();
    // Other threads register and leave while we scan: the words are read atomically.
    if (cached >= 0 && __atomic_load_n(&__tmp_allocator.thread_ids[cached], __ATOMIC_RELAXED) == id) return cached;
    for (u32 i = 0; i < NUM_TMP_SLOTS; i++) {
        u32 w = i / 64, bit = i % 64;
        if ((__atomic_load_n(&__tmp_allocator.occupancy[w], __ATOMIC_RELAXED) >> bit & 1) &&
            __atomic_load_n(&__tmp_allocator.thread_ids[i], __ATOMIC_RELAXED) == id) {
            tmp_cached_slot = (s32)i;
            return (s32)i;
        }
    }
    return -1;
}

void tmp_unregister_thread() {
    s32 slot = tmp_get_slot();
    if (slot < 0) return;
    // The memory stays mapped for the next thread that takes this slot.
    __atomic_store_n(&__tmp_allocator.thread_ids[slot], 0u, __ATOMIC_RELAXED);
    __tmp_allocator.slots[slot].used = 0;
    __atomic_fetch_and(&__tmp_allocator.occupancy[slot / 64], ~(1ull << (slot % 64)), __ATOMIC_ACQ_REL);
    tmp_cached_slot = -1;
}

// A thread without a slot is a caller bug; registering it here keeps the
// process alive instead of writing through a null pointer.
static s32 tmp_slot_or_register() {
    s32 slot = tmp_get_slot();
    if (slot < 0) slot = tmp_register_thread();
    return slot;
}

void *tmp_allocate(u64 size) {
    s32 slot = tmp_slot_or_register();
    if (slot < 0) return nullptr;
    auto &s = __tmp_allocator.slots[slot];
    void *p = s.memory + s.used;
    s.used += size;
    return p;
}

u64 tmp_get_position() {
    s32 slot = tmp_get_slot();
    if (slot < 0) {
        return __tmp_allocator.saved.is_set && __tmp_allocator.saved.thread_id == os_get_thread_id()
                   ? __tmp_allocator.saved.position
                   : 0;
    }
    return __tmp_allocator.slots[slot].used;
}

void tmp_set_position(u64 position) {
    s32 slot = tmp_get_slot();
    if (slot < 0) {
        __tmp_allocator.saved.position = position;
        __tmp_allocator.saved.thread_id = os_get_thread_id();
        __tmp_allocator.saved.is_set = 1;
        return;
    }
    __tmp_allocator.slots[slot].used = position;
}

void tmp_reset() { tmp_set_position(0); }

// [SECTION] Memory_Pool and Bucket_Array ----------------------------------------------

void _init_memory_pool(Memory_Pool *pool, u32 element_size, u32 num_per_bucket, u32 num_buckets_per_page,
                       void *first_page, Allocate_Page_Proc allocate_page) {
    pool->element_size = element_size;
    pool->num_per_bucket = num_per_bucket;
    pool->num_buckets_per_page = num_buckets_per_page;
    pool->bucket_size = element_size * num_per_bucket + 16;
    pool->page_size = pool->bucket_size * num_buckets_per_page + 16;
    pool->allocate_page = allocate_page ? allocate_page : os_allocate_read_write;
    if (!first_page) first_page = pool->allocate_page(pool->page_size);
    Pool_Page *page = (Pool_Page *)first_page;
    page->next = nullptr;
    page->num_buckets_used = 0;
    pool->first_page = page;
    pool->current_page = page;
    pool->lock = 0;
}

Bucket *memory_pool_allocate_bucket(Memory_Pool *pool) {
    spin_lock(&pool->lock);
    Pool_Page *page = pool->current_page;
    if (page->num_buckets_used >= pool->num_buckets_per_page) {
        if (!page->next) {
            Pool_Page *fresh = (Pool_Page *)pool->allocate_page(pool->page_size);
            fresh->next = nullptr;
            fresh->num_buckets_used = 0;
            page->next = fresh;
        }
        page = page->next;
        page->num_buckets_used = 0;
        pool->current_page = page;
    }
    Bucket *bucket = (Bucket *)((u8 *)(page + 1) + (u64)pool->bucket_size * page->num_buckets_used);
    page->num_buckets_used++;
    memset(bucket, 0, 12);
    spin_unlock(&pool->lock);
    return bucket;
}

void memory_pool_reset(Memory_Pool *pool) {
    spin_lock(&pool->lock);
    for (Pool_Page *page = pool->first_page; page; page = page->next) page->num_buckets_used = 0;
    pool->current_page = pool->first_page;
    spin_unlock(&pool->lock);
}

void bucket_array_init(Bucket_Array *array, Memory_Pool *pool) {
    array->pool = pool;
    array->element_size = pool->element_size;
    array->num_per_bucket = pool->num_per_bucket;
    array->count = 0;
    array->first_bucket = nullptr;
    array->last_bucket = nullptr;
}

void *bucket_array_add(Bucket_Array *array) {
    Bucket *bucket = array->last_bucket;
    if (!bucket) {
        bucket = memory_pool_allocate_bucket(array->pool);
        array->first_bucket = array->last_bucket = bucket;
    } else if (bucket->count >= array->num_per_bucket) {
        Bucket *next = bucket->next;
        if (next) {
            next->count = 0;
        } else {
            next = memory_pool_allocate_bucket(array->pool);
            bucket->next = next;
        }
        bucket = array->last_bucket = next;
    }
    void *element = bucket_element(bucket, array->element_size, bucket->count);
    bucket->count++;
    array->count++;
    memset(element, 0, 8);
    return element;
}

void *bucket_array_get(Bucket_Array *array, u64 index) {
    if (index >= array->count) return nullptr;
    Bucket *bucket = array->first_bucket;
    for (u64 b = index / array->num_per_bucket; b; b--) bucket = bucket->next;
    return bucket_element(bucket, array->element_size, (u32)(index % array->num_per_bucket));
}

void bucket_array_clear(Bucket_Array *array) {
    array->count = 0;
    if (array->first_bucket) array->first_bucket->count = 0;
    array->last_bucket = array->first_bucket;
}

Bucket_Iterator bucket_iterate(Bucket_Array *array) {
    Bucket_Iterator it = {array, array->first_bucket, 0, 0, nullptr};
    if (array->count && it.bucket && it.bucket->count) it.element = bucket_element(it.bucket, array->element_size, 0);
    return it;
}

void bucket_iterator_next(Bucket_Iterator *it) {
    it->index++;
    it->index_in_bucket++;
    if (it->index >= it->array->count) { it->element = nullptr; return; }
    if (it->index_in_bucket >= it->bucket->count) {
        it->bucket = it->bucket->next;
        it->index_in_bucket = 0;
        if (!it->bucket || !it->bucket->count) { it->element = nullptr; return; }
    }
    it->element = bucket_element(it->bucket, it->array->element_size, it->index_in_bucket);
}

// [SECTION] Dynamic_Array ---------------------------------------------------------------

void dynamic_array_init(Dynamic_Array *array, u32 element_size, u32 initial_capacity) {
    memset(array, 0, sizeof *array);
    array->element_size = element_size;
    if (initial_capacity) dynamic_array_reserve(array, initial_capacity);
}

void dynamic_array_init_on(Dynamic_Array *array, u32 element_size, void *buffer, u32 capacity) {
    memset(array, 0, sizeof *array);
    array->element_size = element_size;
    array->data = buffer;
    array->capacity = capacity;
}

void dynamic_array_free(Dynamic_Array *array) {
    gp_free(&array->allocation);
    array->data = nullptr;
    array->count = 0;
    array->capacity = 0;
}

static void dynamic_array_move_to(Dynamic_Array *array, u32 capacity) {
    Allocation fresh;
    gp_allocate(&fresh, (u64)capacity * array->element_size);
    if (array->count) memcpy(fresh.memory, array->data, (u64)array->count * array->element_size);
    gp_free(&array->allocation); // does nothing for borrowed memory
    array->allocation = fresh;
    array->data = fresh.memory;
    array->capacity = capacity;
}

void dynamic_array_reserve(Dynamic_Array *array, u32 capacity) {
    if (capacity > array->capacity) dynamic_array_move_to(array, capacity);
}

void dynamic_array_grow_for(Dynamic_Array *array, u32 n) {
    u64 wanted = (u64)array->count + n;
    u64 doubled = 2ull * array->capacity;
    dynamic_array_move_to(array, (u32)(wanted > doubled ? wanted : doubled));
}

void *dynamic_array_insert(Dynamic_Array *array, u32 index) {
    if (index > array->count) index = array->count;
    if (array->count >= array->capacity) {
        u64 bytes = array->allocation.size ? 2 * array->allocation.size : array->element_size;
        if (!array->allocation.size && array->capacity) bytes = 2ull * array->capacity * array->element_size;
        dynamic_array_move_to(array, (u32)(bytes / array->element_size));
    }
    u8 *at = (u8 *)array->data + (u64)index * array->element_size;
    memmove(at + array->element_size, at, (u64)(array->count - index) * array->element_size);
    memset(at, 0, array->element_size);
    array->count++;
    return at;
}

void dynamic_array_remove(Dynamic_Array *array, u32 index) {
    if (index >= array->count) return;
    u8 *at = (u8 *)array->data + (u64)index * array->element_size;
    memmove(at, at + array->element_size, (u64)(array->count - index - 1) * array->element_size);
    array->count--;
}

void dynamic_array_append_bytes(Dynamic_Array *array, const void *bytes, u32 count) {
    void *p = dynamic_array_add_fast_multiple(array, count);
    if (count) memcpy(p, bytes, count);
}

// [SECTION] Sorting and searching -------------------------------------------------------

void general_swap(void *a, void *b, u32 element_size) {
    u8 buffer[GENERAL_SWAP_BUFFER];
    if (a == b || element_size > GENERAL_SWAP_BUFFER) return;
    memcpy(buffer, a, element_size);
    memcpy(a, b, element_size);
    memcpy(b, buffer, element_size);
}

void general_quick_sort(void *base, u64 count, u32 element_size, Is_Less_Proc is_less) {
    u8 *data = (u8 *)base;
    while (count >= 2) {
        u64 p = count / 2, i = 0, j = count - 1;
        for (;;) {
            while (i < p && is_less(data + i * element_size, data + p * element_size)) i++;
            while (j > p && is_less(data + p * element_size, data + j * element_size)) j--;
            if (i >= j) break;
            general_swap(data + i * element_size, data + j * element_size, element_size);
            if (i == p) p = j;
            else if (j == p) p = i;
            if (i < p) i++;
            if (j > p) j--;
        }
        general_quick_sort(data, p, element_size, is_less);
        data += (p + 1) * element_size;
        count -= p + 1;
    }
}

void *array_binary_search(Array_View view, Binary_Search_Is_Less_Proc is_less, Binary_Search_Finish_Proc finish,
                          const void *key) {
    u8 *start = (u8 *)view.data;
    u64 count = view.count;
    while (count > 8) {
        u64 half = count / 2;
        u8 *probe = start + half * view.element_size;
        if (is_less(probe, key)) {
            start = probe;
            count -= half;
        } else {
            count = half + 1;
        }
        if (count == 0) return nullptr;
    }
    Array_View rest = {start, view.element_size, (u32)count};
    return finish(start, rest, key);
}

void own_debug_break() { raise(SIGTRAP); }
