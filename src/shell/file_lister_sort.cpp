// The file lister's order: the longer prefix shared with the filter first,
// then paths in natural order (digit runs compared as numbers).
#include "shell/file_lister.h"
#include <string.h>

static u8 lower(u8 c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

static s64 common_prefix_ignoring_case(String a, String b) {
    s64 n = 0;
    while (n < a.count && n < b.count && lower(a.data[n]) == lower(b.data[n])) n++;
    return n;
}

bool sort_file_lister_search_results(const File_Lister_Item *a, const File_Lister_Item *b, String filter) {
    if (a->is_new != b->is_new) return a->is_new;
    if (filter.count) {
        s64 pa = common_prefix_ignoring_case(a->name, filter), pb = common_prefix_ignoring_case(b->name, filter);
        if (pa != pb) return pa > pb;
    }
    const u8 *x = a->path.data, *y = b->path.data;
    // Equal leading bytes compare equal either way: skip them, back to the
    // start of a digit run they end in (the run is read as a number below).
    s64 same = 0, shorter = a->path.count < b->path.count ? a->path.count : b->path.count;
    while (same + 8 <= shorter && memcmp(x + same, y + same, 8) == 0) same += 8;
    while (same < shorter && x[same] == y[same]) same++;
    while (same > 0 && x[same - 1] >= '0' && x[same - 1] <= '9') same--;
    s64 i = same, j = same;
    while (i < a->path.count && j < b->path.count) {
        u8 c = x[i], d = y[j];
        if (c >= '1' && c <= '9' && d >= '1' && d <= '9') {
            u64 u = 0, v = 0;
            s64 di = 0, dj = 0;
            while (i < a->path.count && x[i] >= '0' && x[i] <= '9') u = u * 10 + (x[i++] - '0'), di++;
            while (j < b->path.count && y[j] >= '0' && y[j] <= '9') v = v * 10 + (y[j++] - '0'), dj++;
            if (u != v) return u < v;
            continue;
        }
        if (c != d) return (s8)c < (s8)d;
        i++, j++;
    }
    return (a->path.count - i) <= (b->path.count - j);
}

void swap_file_lister_items(File_Lister_Item *a, File_Lister_Item *b) {
    File_Lister_Item t = *a;
    *a = *b;
    *b = t;
}

static File_Lister_Item *item_at(u64 i) { return (File_Lister_Item *)bucket_array_get(&global_file_lister.items, i); }

static bool sorting_wanted() { return __atomic_load_n(&global_file_lister.sorting_wanted, __ATOMIC_RELAXED) != 0; }

void quick_sort_bucket_array2_helper(u64 first, u64 end) {
    extern String file_lister_sort_filter;
    while (end > first + 1) {
        // The middle element as pivot: listings often arrive nearly sorted.
        File_Lister_Item *pivot = item_at(end - 1);
        swap_file_lister_items(item_at(first + (end - first) / 2), pivot);
        u64 store = first;
        for (u64 k = first; k + 1 < end; k++) {
            if (!sorting_wanted()) return;
            File_Lister_Item *item = item_at(k);
            if (sort_file_lister_search_results(item, pivot, file_lister_sort_filter) &&
                !sort_file_lister_search_results(pivot, item, file_lister_sort_filter)) {
                if (k != store) swap_file_lister_items(item, item_at(store));
                store++;
            }
        }
        if (!sorting_wanted()) return;
        if (store != end - 1) swap_file_lister_items(item_at(store), pivot);
        quick_sort_bucket_array2_helper(first, store);
        first = store + 1;
    }
}
