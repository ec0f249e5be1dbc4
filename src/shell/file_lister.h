// The file lister: the panel that opens, saves and deletes files. A listing
// thread reads a directory (or, in flat view, a whole tree) filtered by the
// typed text; the main thread acts on the chosen entry.
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "text/filepath.h"

struct File;

enum File_Lister_Mode : u8 {
    FILE_LISTER_OPEN = 1,
    FILE_LISTER_SAVE = 2,
    FILE_LISTER_DELETE = 3,
};
constexpr u8 FILE_LISTER_FLAT_VIEW = 1; // listing flag bit

// Paths and names live in the listing's own blocks, so an item is small even
// in a flat view over a large tree.
struct File_Lister_Item {
    String path; // full path
    String name; // the last component (flat view: the path below the lister's directory)
    u8 is_directory;
    u8 is_new;   // save mode: the typed name, which does not exist yet
};

struct File_Lister {
    String title;
    u8 title_buffer[64];
    Filepath directory;
    Bucket_Array items;           // File_Lister_Item, written by the listing thread
    volatile u32 num_items;       // published when a listing is complete
    File *filter;                 // single-line field
    u8 mode;
    u8 listing_flags;             // FILE_LISTER_FLAT_VIEW
    u8 refresh;
    volatile u8 listing_running;
    volatile u8 listing_cancelled;
    volatile u8 sorting_wanted;   // cleared to stop a sort where it is
    u8 flat_view_allowed;
    u64 key;                      // Meow hash of the last listed flags, directory and filter
    u32 current_item;
};

extern File_Lister global_file_lister;
constexpr f32 LISTER_ANIMATION_SPEED = 0.0098f; // per millisecond
constexpr u32 NUM_FILE_LISTER_ITEMS_PER_BUCKET = 256, NUM_FILE_LISTER_ITEMS_BUCKETS_PER_PAGE = 8;
// Custom layer settings: directories under which flat view is offered, and
// directory names never listed.
extern Dynamic_Array file_lister_flat_view_directories; // String
extern Dynamic_Array file_lister_ignored_directories;   // String
void file_lister_add_flat_view_directory(String path);
void file_lister_add_ignored_directory(String name);

// Pools and the filter field; the field again whenever it is missing (null).
void init_file_lister();
void open_file_lister(String title, const Filepath *directory, u8 mode);
void editor_ask_to_delete_items();
void editor_ask_to_open_file();
void close_file_lister();
// Lists again when the flags, directory or filter changed (every frame while shown).
void maybe_update_file_lister();
// Waits for a running listing (tests and the program use it; the frame never does).
void file_lister_wait();
File_Lister_Item *file_lister_get_item(u32 index);
void file_lister_go_to_parent_directory();
void file_lister_go_to_previous_item();
void file_lister_go_to_next_item();
// Acts on the highlighted entry; false when it failed (the message is reported).
bool file_lister_select_item();
// The hint after the typed name: " - create a new file", " - overwrite",
// " - delete a file", " - delete a directory", or empty.
String file_lister_hint();
// The icon drawn before an item's name: a folder, a picture (pictures and
// videos by extension), an audio file, any other file, or in save mode the
// typed name that does not exist yet.
enum File_Lister_Icon : u8 {
    LISTER_ICON_FOLDER = 0,
    LISTER_ICON_FILE = 1,
    LISTER_ICON_PICTURE = 2,
    LISTER_ICON_AUDIO = 3,
    LISTER_ICON_NEW_FILE = 4,
};
u8 file_lister_item_icon(const File_Lister_Item *item);
// Whether the lister's directory may show the flat-view check box.
bool file_lister_offers_flat_view();

bool sort_file_lister_search_results(const File_Lister_Item *a, const File_Lister_Item *b, String filter);
void swap_file_lister_items(File_Lister_Item *a, File_Lister_Item *b);
// Sorts items [first, end) of the lister's items; stops early when sorting_wanted clears.
void quick_sort_bucket_array2_helper(u64 first, u64 end);
// Deletes a directory tree without following symbolic links; true only when
// everything went.
bool os_delete_directory(const char *path);
