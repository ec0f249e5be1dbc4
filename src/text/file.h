// The open-file record: path, whole text in one contiguous buffer, cursor and
// selection, colouring data, undo history and a flag word shared with other
// threads. Records live in chunks of 16 that never move.
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "text/filepath.h"

enum File_Flags : u16 {
    FILE_IN_USE = 0x001,
    FILE_SELECTION_ACTIVE = 0x002,
    FILE_CHANGED = 0x004,            // views, caches and colouring must refresh
    FILE_CENTRE_CURSOR = 0x008,      // re-centre the view on the cursor at the next draw
    FILE_MOUSE_HELD = 0x010,         // the cursor follows the mouse
    FILE_NO_ANCHOR_ON_CLICK = 0x020, // do_not_set_selection_anchor_on_click
    FILE_ONE_LINE = 0x040,           // one-line input field
    FILE_NEVER_COLOURED = 0x080,
    FILE_UNSAVED = 0x100,
    FILE_CHANGED_ON_DISK = 0x200,
    FILE_NEEDS_COLOURING = 0x400,
    FILE_DELETED_ON_DISK = 0x800,
};

struct Tokenisation_Hint;

// What the colouring pass hands to the custom layer's syntax block.
struct Syntax_Highlighting_Info {
    u64 start;          // first offset to colour
    u64 end;            // offset just past the range
    u32 comment_depth;  // block-comment nesting at `start`
    u16 literal_state;  // 0, or the quote bit (128, 256, 512) of a literal open at `start`
};

struct File {
    volatile u8 lock;    // held while load or reload replaces the text
    volatile u16 flags;  // atomic OR / AND only
    s64 modification_time; // nanoseconds, from the file status
    Filepath directory;  // no components for a file never saved
    String name;
    u8 name_buffer[256];
    u64 changed_low;     // lowest offset touched since the colouring last ran
    u64 changed_high;    // highest offset touched since then
    Dynamic_Array view_lines;     // 16-byte elements owned by the editor view
    Dynamic_Array text;           // bytes; count is the text length
    Dynamic_Array palette;        // Colour (4 × f32)
    Dynamic_Array colour_chunks;  // Colour_Chunk sorted by offset
    Dynamic_Array context_chunks; // Context_Chunk sorted by position
    Syntax_Highlighting_Info syntax_info;
    String line_ending;
    u8 line_ending_buffer[4];
    u64 cursor;
    u64 selection_anchor;
    u64 *selection_start; // whichever of cursor and anchor is smaller
    u64 *selection_end;   // and the larger
    u64 previous_cursor;
    Dynamic_Array undo_records; // Undo_Record
    u32 *view_state;            // reset to 0 on load
    u32 view_state_value;
    u32 page_size_in_lines;     // lines that fit the view drawn last
    const Tokenisation_Hint *hint;  // cached lookup, valid while hint_generation matches
    u32 hint_generation;
    // syntax_info's depth and literal state were scanned with this hint and
    // hint generation; with no edit before syntax_info.start since then they
    // hold for the next pass from the same start (typing costs no rescan).
    const Tokenisation_Hint *syntax_state_hint;
    u32 syntax_state_generation;
    u8 syntax_state_known;
};

constexpr u32 NUM_FILES_PER_CHUNK = 16;
constexpr u64 FILE_RECORD_SIZE = 18400;
constexpr u64 EDITOR_FILES_MEMORY = 294416; // one chunk: header + 16 records
static_assert(sizeof(File) <= FILE_RECORD_SIZE, "the file record outgrew its slot");

struct File_Slot {
    File file;
    u8 pad[FILE_RECORD_SIZE - sizeof(File)];
};
struct Files_Chunk {
    Files_Chunk *next;
    u16 num_used;
    u8 pad[6];
    File_Slot slots[NUM_FILES_PER_CHUNK];
};
static_assert(sizeof(Files_Chunk) == EDITOR_FILES_MEMORY);

extern Files_Chunk *editor_files_memory;

inline u16 file_set_flags(File *file, u16 bits) { return __atomic_fetch_or(&file->flags, bits, __ATOMIC_SEQ_CST); }
inline u16 file_clear_flags(File *file, u16 bits) {
    return __atomic_fetch_and(&file->flags, (u16)~bits, __ATOMIC_SEQ_CST);
}
inline bool file_has_flags(const File *file, u16 bits) {
    return (__atomic_load_n(&file->flags, __ATOMIC_SEQ_CST) & bits) != 0;
}
inline u8 *file_text(File *file) { return (u8 *)file->text.data; }
inline u64 file_length(const File *file) { return file->text.count; }
inline String file_text_string(File *file) { return String{file_text(file), (s64)file->text.count}; }
// Re-points selection_start / selection_end after the cursor or anchor moved.
void file_update_selection_pointers(File *file);
// The file an operation acts on: `file`, or the current file when null.
File *file_or_current(File *file);

// Storage.
void init_file(File *file, u16 extra_flags);
File *add_a_file();
void close_file(File *file);
// Visits every record in use, in storage order.
u32 editor_num_files_in_use();

// Disk.
bool load_file(Filepath *path_with_name, File *file);
bool load_file_from_path(String path, File *file); // convenience: split, then load_file
void reload_file(File *file);
// Writes the current file when it is the current tab's file; a file never
// saved asks the save lister instead. True when the text reached the disk.
bool editor_ask_to_save_file();
// Writes `file` to its path; no seams consulted.
bool editor_save_file(File *file);
// Full path of the file in temporary memory (NUL-terminated).
const char *file_full_path(File *file);
void file_set_name(File *file, String name);

// Blacklist of the custom layer's settings.
void blacklist_add_extension(String extension);
void blacklist_add_path(String path);
void blacklist_clear();
bool filepath_is_blacklisted(const u8 *path, s64 length, bool check_extension);

// Test seam: runs between the file status and the read of load_file.
extern void (*load_file_after_status_hook)(const char *path);
