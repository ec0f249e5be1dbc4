// The compiled image ("custom.8b"): writing it from machine code and data,
// the cache rule, loading it into one read/write/execute mapping, relocating
// it and finding its entry points. The header and relocation records are
// relocations.h's.
#pragma once
#include "core/base.h"
#include "compiler/back/amd64.h"
#include "compiler/back/relocations.h"

constexpr u32 IMAGE_SECTION_ALIGNMENT = 32;
constexpr u64 IMAGE_RESERVED_WORD = 0x200000;

enum : u8 {
    IMAGE_ENTRY_EVENTS = 1,
    IMAGE_ENTRY_ON_LOAD = 2,
    IMAGE_ENTRY_SYNTAX = 4,
};

// Everything the writer puts into an image.
struct Image_Input {
    u32 version;
    u8 entry_flags;               // IMAGE_ENTRY_*
    u32 entry_positions[3];       // code positions of #syntax, #events, #on_load
    const u8 *constant_data;
    u64 constant_data_size;
    const u8 *global_data;
    u64 global_data_size;
    Amd64_Code *code;             // bytes, data references, foreign-call relocations
    // Pointers stored in the data sections. With `use_compiler_relocations`
    // the compiler's lists are copied instead of these.
    const Image_Relocation *constant_relocations;
    u32 num_constant_relocations;
    const Image_Relocation *global_relocations;
    u32 num_global_relocations;
    bool use_compiler_relocations;
    const String *source_paths;   // every file the compilation read
    u32 num_source_files;
};

// Builds the whole image in `out` (memory from the general-purpose allocator,
// freed with gp_free). False when a source file cannot be examined or a
// section does not fit the 32-bit offsets.
bool image_build(const Image_Input *input, Allocation *out);
// Builds and writes the image to `path` (created or truncated, mode 0600);
// logs the outcome with `source_path`.
bool output_amd64_file(const Image_Input *input, String path, String source_path);

// The cache rule: the file exists, is at least a header long, reads in full,
// carries the running editor's version (major and minor as one 16-bit value,
// then the patch byte) and every source file still has the recorded size and
// nanoseconds of its modification time.
bool image_cache_is_usable(String path, u32 version);

// Checks that every offset and count of a header stays inside `size` bytes.
bool image_is_well_formed(const u8 *bytes, u64 size);

struct Loaded_Image {
    Image_Header *header; // null: nothing loaded
    void *mapping;
    u64 mapping_size;
    Source_File_Table source_files;
};

// Maps a read/write/execute block of the file's size and reads the file into
// it. On failure logs "Failed to load '%s'." and leaves `out` untouched.
bool image_load_file(String path, Loaded_Image *out);
// The same from bytes already in memory (the editor's tests, tarnoc).
bool image_load_bytes(const u8 *bytes, u64 size, Loaded_Image *out);
void image_unload(Loaded_Image *image);

void amd64_apply_relocations(Image_Header *image);
void amd64_apply_foreign_call_relocations(Image_Header *image, void *address);
// Every relocation step for a freshly loaded AMD64 image: data pointers,
// the foreign-call address and the source-file paths.
void image_relocate(Loaded_Image *image, void *foreign_call_address);

void *get_events_block_entry_point(Image_Header *image);
void *get_on_load_block_entry_point(Image_Header *image);
void *get_syntax_block_entry_point(Image_Header *image);
