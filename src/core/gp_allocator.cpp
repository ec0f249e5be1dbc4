// The general-purpose allocator: three classes of slot pages searched first
// fit, direct mappings for very large requests, a few empty pages kept per
// chain for reuse, and one arena per group of threads.
//
// Each page keeps its byte map (what a reader of the page sees) and a bitmap
// of the same slots; the search runs on the bitmap a 64-slot word at a time,
// so a nearly full page costs a handful of word operations, not a byte walk.
#include "core/memory.h"

// Under AddressSanitizer, slots not handed out are poisoned, so a read or
// write past an allocation's size is caught even though it lands inside a
// page the allocator owns.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
static void poison(void *p, u64 n) { ASAN_POISON_MEMORY_REGION(p, n); }
static void unpoison(void *p, u64 n) { ASAN_UNPOISON_MEMORY_REGION(p, n); }
#else
static void poison(void *, u64) {}
static void unpoison(void *, u64) {}
#endif

alignas(64) GP_Allocator __gp_allocator;

// Each thread owns an arena and works on its pages with no lock or atomic
// operation at all. Another thread that frees into an owned arena pushes the
// slots on the arena's remote list, which the owner takes over on its next
// allocation. An arena without an owner is borrowed for such a free and
// released at once. The last arena is shared under its lock by the threads
// that find every other arena owned.
enum : u8 { ARENA_FREE = 0, ARENA_OWNED = 1, ARENA_BORROWED = 2 };
constexpr u32 GP_SHARED_ARENA = GP_NUM_ARENAS - 1;

struct Remote_Free {
    Remote_Free *next;
    Slot_Page *page;
    u16 first_slot;
    u16 num_slots;
};

struct alignas(64) GP_Arena {
    GP_Allocator chains;     // [0] unused: arena 0 is __gp_allocator
    Remote_Free *volatile remote;
    volatile u8 owner;
};
static GP_Arena gp_arenas[GP_NUM_ARENAS];

// -1: not chosen yet. The thread that runs init_memory takes arena 0 there.
static thread_local s32 gp_arena_of_this_thread = -1;

static inline GP_Allocator *gp_arena(u32 index) { return index ? &gp_arenas[index].chains : &__gp_allocator; }

// The lock is a byte taken by compare-and-swap; on x86 a plain release store
// frees it as well as an exchange would, at a fraction of the cost.
static inline void gp_lock(volatile u8 *lock) { spin_lock(lock); }
static inline void gp_unlock(volatile u8 *lock) { __atomic_store_n(lock, (u8)0, __ATOMIC_RELEASE); }

// [SECTION] Pages

static inline u8 *page_map(Slot_Page *page) { return (u8 *)(page + 1); }
static inline u64 *page_bits(Slot_Page *page) { return (u64 *)((u8 *)page + slot_bitmap_offset(page->num_slots)); }
static inline u8 *page_slot(Slot_Page *page, u64 i) {
    return (u8 *)page + slot_area_offset(page->num_slots) + i * page->slot_size;
}
static inline u64 page_bytes(Slot_Page *page) { return slot_page_size(page->slot_size, page->num_slots); }

static void init_page(Slot_Page *page, u64 slot_size, u64 num_slots, u8 arena, Slot_Page *previous) {
    page->next = nullptr;
    page->previous = previous;
    page->slot_size = slot_size;
    page->num_slots = (u16)num_slots;
    page->used = 0;
    page->arena = arena;
    page->empty_pages = 0;
    page->missing_run = 0;
    memset(page_map(page), 0, slot_area_offset(num_slots) - sizeof(Slot_Page)); // byte map and bitmap
    poison(page_slot(page, 0), slot_size * num_slots);
}

// Free slots of bitmap word `w` as one bits; slots past the end count as taken.
static inline u64 free_word(const u64 *bits, u32 w, u32 num_slots) {
    u64 f = ~bits[w];
    u32 end = num_slots - w * 64;
    if (end < 64) f &= (1ull << end) - 1;
    return f;
}

// First index of a run of n free slots, or -1.
static inline s64 find_free_run(Slot_Page *page, u32 n) {
    const u64 *bits = page_bits(page);
    u32 num_slots = page->num_slots, words = (num_slots + 63) / 64;
    if (n == 1) {
        for (u32 w = 0; w < words; w++) {
            u64 f = free_word(bits, w, num_slots);
            if (f) return (s64)w * 64 + __builtin_ctzll(f);
        }
        return -1;
    }
    if (n > 64) {
        // Only private chains of tiny slots ask for this much: a byte walk will do.
        const u8 *map = page_map(page);
        for (u32 i = 0; i + n <= num_slots; i++) {
            u32 k = 0;
            while (k < n && !map[i + k]) k++;
            if (k == n) return i;
            i += k;
        }
        return -1;
    }
    u64 f = free_word(bits, 0, num_slots);
    for (u32 w = 0; w < words; w++) {
        u64 next = w + 1 < words ? free_word(bits, w + 1, num_slots) : 0;
        u64 runs = f;
        // A bit stays set where the n slots from it are all free, the run
        // carrying on into the next word.
        for (u32 k = 1; k < n; k++) runs &= (f >> k) | (next << (64 - k));
        if (runs) return (s64)w * 64 + __builtin_ctzll(runs);
        f = next;
    }
    return -1;
}

static inline void mark_slots(Slot_Page *page, u32 first, u32 n, bool taken) {
    u8 *map = page_map(page) + first;
    // Runs are short: plain stores beat a call to memset.
    if (n <= 4) {
        for (u32 k = 0; k < n; k++) ((volatile u8 *)map)[k] = taken;
    } else {
        memset(map, taken, n);
    }
    u64 *bits = page_bits(page);
    u32 w = first / 64, bit = first % 64;
    if (bit + n <= 64) {
        u64 mask = (n == 64 ? ~0ull : (1ull << n) - 1) << bit;
        if (taken) bits[w] |= mask;
        else bits[w] &= ~mask;
        return;
    }
    for (u32 i = first, end = first + n; i < end;) {
        w = i / 64, bit = i % 64;
        u32 count = end - i < 64 - bit ? end - i : 64 - bit;
        u64 mask = (count == 64 ? ~0ull : ((1ull << count) - 1)) << bit;
        if (taken) bits[w] |= mask;
        else bits[w] &= ~mask;
        i += count;
    }
}

static inline bool take_slots_in_page(Allocation *out, Slot_Page *page, u64 n, u64 size) {
    if ((u64)page->used + n > page->num_slots) return false;
    // A page already searched in vain for this run, and not freed into
    // since, is skipped without looking at its bitmap.
    if (page->missing_run && n >= page->missing_run) return false;
    s64 i = find_free_run(page, (u32)n);
    if (i < 0) {
        if (n < 256 && (!page->missing_run || n < page->missing_run)) page->missing_run = (u8)n;
        return false;
    }
    mark_slots(page, (u32)i, (u32)n, true);
    page->used += (u16)n;
    out->memory = page_slot(page, (u64)i);
    out->size = size;
    out->page = page;
    out->first_slot = (u16)i;
    out->num_slots = (u16)n;
    unpoison(out->memory, size);
    return true;
}

// The freed slots join a free run; only when that run reaches the length
// remembered as missing does the page need searching again.
static void forget_missing_run(Slot_Page *page, u32 first, u32 n) {
    const u8 *map = page_map(page);
    u32 want = page->missing_run, length = n;
    for (u32 i = first; i > 0 && length < want && !map[i - 1]; i--) length++;
    for (u32 i = first + n; i < page->num_slots && length < want && !map[i]; i++) length++;
    if (length >= want) page->missing_run = 0;
}

// [SECTION] Allocation and release

void gp_allocate_on_bucket(Allocation *out, Slot_Page *chain_head, u64 size) {
    u64 s = chain_head->slot_size;
    // Every class has a power-of-two slot: a shift instead of a 64-bit divide.
    u64 n = (s & (s - 1)) ? (size + s - 1) / s : (size + s - 1) >> __builtin_ctzll(s);
    Slot_Page *last = chain_head;
    for (Slot_Page *page = chain_head; page; page = page->next) {
        bool was_empty = page->used == 0;
        if (take_slots_in_page(out, page, n, size)) {
            if (was_empty && page != chain_head) chain_head->empty_pages--;
            return;
        }
        last = page;
    }
    Slot_Page *page = (Slot_Page *)os_allocate_read_write(page_bytes(last));
    init_page(page, last->slot_size, last->num_slots, last->arena, last);
    last->next = page;
    take_slots_in_page(out, page, n, size);
}

u8 *gp_init_first_pages(u8 *at) {
    const u64 classes[3][2] = {{GP_SMALL_SLOT, GP_SMALL_SLOTS}, {GP_MEDIUM_SLOT, GP_MEDIUM_SLOTS}, {GP_LARGE_SLOT, GP_LARGE_SLOTS}};
    Slot_Page **heads[3] = {&__gp_allocator.small_pages, &__gp_allocator.medium_pages, &__gp_allocator.large_pages};
    for (u32 c = 0; c < 3; c++) {
        *heads[c] = (Slot_Page *)at;
        init_page(*heads[c], classes[c][0], classes[c][1], 0, nullptr);
        at += slot_page_size(classes[c][0], classes[c][1]);
    }
    __gp_allocator.lock = 0;
    gp_arena_of_this_thread = 0;
    gp_arenas[0].owner = ARENA_OWNED;
    return at;
}

static_assert(STARTUP_GP_OFFSET + slot_page_size(GP_SMALL_SLOT, GP_SMALL_SLOTS) + slot_page_size(GP_MEDIUM_SLOT, GP_MEDIUM_SLOTS) +
                  slot_page_size(GP_LARGE_SLOT, GP_LARGE_SLOTS) ==
              STARTUP_FIRST_FREE_OFFSET);

// Clears the slots of one allocation; an extra page that empties is kept
// for reuse while its chain has room for it, else unmapped. The caller has
// the arena to itself (owner, borrower or shared lock).
static void gp_release_slots(Slot_Page *page, u32 first_slot, u32 num_slots) {
    mark_slots(page, first_slot, num_slots, false);
    poison(page_slot(page, first_slot), (u64)num_slots * page->slot_size);
    page->used -= (u16)num_slots;
    if (page->missing_run) forget_missing_run(page, first_slot, num_slots);
    if (page->used == 0 && page->previous) {
        Slot_Page *head = page->previous;
        while (head->previous) head = head->previous;
        if (head->empty_pages < gp_max_empty_pages(page_bytes(page))) {
            head->empty_pages++; // kept linked: the next burst needs no new mapping
        } else {
            page->previous->next = page->next;
            if (page->next) page->next->previous = page->previous;
            u64 bytes = page_bytes(page);
            unpoison(page, bytes); // the addresses may be mapped again for something else
            os_free_read_write(page, bytes);
        }
    }
}

static void gp_take_remote_frees(GP_Arena *arena) {
    if (!__atomic_load_n(&arena->remote, __ATOMIC_RELAXED)) return;
    Remote_Free *r = __atomic_exchange_n(&arena->remote, (Remote_Free *)nullptr, __ATOMIC_ACQUIRE);
    while (r) {
        Remote_Free *next = r->next;
        gp_release_slots(r->page, r->first_slot, r->num_slots);
        r = next;
    }
}

// [SECTION] Arenas of threads

// A thread that ends settles what others freed into its arena and hands the
// arena back; its memory stays there for the next thread that takes it.
struct GP_Arena_Release {
    ~GP_Arena_Release() {
        s32 index = gp_arena_of_this_thread;
        gp_arena_of_this_thread = (s32)GP_SHARED_ARENA; // anything freed later goes the shared way
        if (index <= 0 || index == (s32)GP_SHARED_ARENA) return;
        gp_take_remote_frees(&gp_arenas[index]);
        __atomic_store_n(&gp_arenas[index].owner, (u8)ARENA_FREE, __ATOMIC_RELEASE);
    }
};
static thread_local GP_Arena_Release gp_arena_release;

static u32 gp_choose_arena() {
    u32 chosen = GP_SHARED_ARENA;
    for (u32 i = 1; i < GP_SHARED_ARENA; i++) {
        u8 expected = ARENA_FREE;
        if (__atomic_compare_exchange_n(&gp_arenas[i].owner, &expected, (u8)ARENA_OWNED, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED)) {
            chosen = i;
            break;
        }
    }
    gp_arena_of_this_thread = (s32)chosen;
    (void)&gp_arena_release; // arms the hand-back at thread exit
    return chosen;
}

u32 gp_thread_arena() {
    s32 a = gp_arena_of_this_thread;
    return a >= 0 ? (u32)a : gp_choose_arena();
}

// The chains of arenas after the first begin with a page mapped on first use.
static Slot_Page *gp_chain(GP_Allocator *arena, u32 index, u64 size) {
    Slot_Page **head = size <= GP_SMALL_MAX ? &arena->small_pages : size <= GP_MEDIUM_MAX ? &arena->medium_pages : &arena->large_pages;
    if (__builtin_expect(!*head, 0)) {
        u64 slot = size <= GP_SMALL_MAX ? GP_SMALL_SLOT : size <= GP_MEDIUM_MAX ? GP_MEDIUM_SLOT : GP_LARGE_SLOT;
        u64 count = size <= GP_SMALL_MAX ? GP_SMALL_SLOTS : size <= GP_MEDIUM_MAX ? GP_MEDIUM_SLOTS : GP_LARGE_SLOTS;
        Slot_Page *page = (Slot_Page *)os_allocate_read_write(slot_page_size(slot, count));
        init_page(page, slot, count, (u8)index, nullptr);
        *head = page;
    }
    return *head;
}

void gp_allocate(Allocation *out, u64 size) {
    if (size == 0) {
        memset(out, 0, sizeof *out);
        return;
    }
    if (size > GP_LARGE_MAX) {
        memset(out, 0, sizeof *out);
        out->memory = os_allocate_read_write(size);
        out->size = out->memory ? size : 0;
        return;
    }
    u32 index = gp_thread_arena();
    GP_Allocator *arena = gp_arena(index);
    if (index == GP_SHARED_ARENA) {
        gp_lock(&arena->lock);
        gp_allocate_on_bucket(out, gp_chain(arena, index, size), size);
        gp_unlock(&arena->lock);
        return;
    }
    gp_take_remote_frees(&gp_arenas[index]);
    gp_allocate_on_bucket(out, gp_chain(arena, index, size), size);
}

void gp_free(Allocation *a) {
    if (a->size == 0) return;
    if (!a->page) {
        os_free_read_write(a->memory, a->size);
        memset(a, 0, sizeof *a);
        return;
    }
    Slot_Page *page = a->page;
    u32 index = page->arena;
    if ((s32)index == gp_arena_of_this_thread && index != GP_SHARED_ARENA) {
        gp_release_slots(page, a->first_slot, a->num_slots);
    } else if (index == GP_SHARED_ARENA) {
        GP_Allocator *arena = gp_arena(index);
        gp_lock(&arena->lock);
        gp_release_slots(page, a->first_slot, a->num_slots);
        gp_unlock(&arena->lock);
    } else {
        GP_Arena *arena = &gp_arenas[index];
        u8 expected = ARENA_FREE;
        if (__atomic_compare_exchange_n(&arena->owner, &expected, (u8)ARENA_BORROWED, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED)) {
            gp_take_remote_frees(arena);
            gp_release_slots(page, a->first_slot, a->num_slots);
            __atomic_store_n(&arena->owner, (u8)ARENA_FREE, __ATOMIC_RELEASE);
        } else {
            // Owned (or borrowed) by another thread: the owner settles it. A
            // slot is at least 128 bytes, room for the note.
            unpoison(a->memory, sizeof(Remote_Free));
            Remote_Free *r = (Remote_Free *)a->memory;
            r->page = page;
            r->first_slot = a->first_slot;
            r->num_slots = a->num_slots;
            Remote_Free *head = __atomic_load_n(&arena->remote, __ATOMIC_RELAXED);
            do r->next = head;
            while (!__atomic_compare_exchange_n(&arena->remote, &head, r, true, __ATOMIC_RELEASE, __ATOMIC_RELAXED));
        }
    }
    memset(a, 0, sizeof *a);
}
