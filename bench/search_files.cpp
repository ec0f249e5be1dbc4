// search_files [--count] TEXT DIR: the editor's "Search Files" search (its
// walker, workers, black list, binary-file rule and size limit) rooted at
// DIR, printing PATH:LINE:COLUMN:LINE_TEXT per match or, with --count, the
// total number of matches.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include "core/memory.h"
#include "shell/search.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"

int main(int argc, char **argv) {
    bool count_only = argc == 4 && strcmp(argv[1], "--count") == 0;
    if (argc != 3 && !count_only) {
        fprintf(stderr, "usage: search_files [--count] TEXT DIR\n");
        return 2;
    }
    const char *text = argv[argc - 2];
    char *root = realpath(argv[argc - 1], nullptr);
    if (!root) {
        fprintf(stderr, "search_files: '%s' is not a directory that can be read.\n", argv[argc - 1]);
        return 2;
    }
    init_memory();
    editor_text_init();
    init_search_lister();
    snprintf(search_root_override, sizeof(search_root_override), "%s", root);
    editor_insert_text_at(global_search_lister.search_text, 0, S(text), false);
    global_search_lister.mode = SEARCH_FILES;
    search_lister_search();
    while (!__atomic_load_n(&global_search_lister.complete, __ATOMIC_SEQ_CST)) {
        timespec t = {0, 500000};
        nanosleep(&t, nullptr);
    }
    static char out_buffer[1 << 16];
    setvbuf(stdout, out_buffer, _IOFBF, sizeof(out_buffer));
    size_t skip = strlen(root) + (strcmp(root, "/") != 0);
    u64 total = 0;
    spin_lock(&global_search_lock);
    for (u32 i = 0; i < global_search_file_order.count; i++) {
        Search_Result_File *f = *dynamic_array_at<Search_Result_File *>(&global_search_file_order, i);
        total += f->matches.count;
        if (count_only) continue;
        for (u32 m = 0; m < f->matches.count; m++) {
            Search_Match *match = dynamic_array_at<Search_Match>(&f->matches, m);
            printf("%.*s:%u:%llu:%.*s\n", (int)(f->path.count - (s64)skip), (const char *)f->path.data + skip, match->line,
                   (unsigned long long)(match->offset - match->line_start + 1), (int)(match->line_end - match->line_start),
                   (const char *)f->text.data + match->kept_line);
        }
    }
    spin_unlock(&global_search_lock);
    if (count_only) printf("%llu\n", (unsigned long long)total);
    fflush(stdout);
    search_lister_cancel();
    free(root);
    return 0;
}
