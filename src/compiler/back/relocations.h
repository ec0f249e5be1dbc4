// The compiled image's layout and its relocations: pointers stored inside the
// data sections are written as section offsets and turned into addresses
// once the image sits in memory.
#pragma once
#include "core/base.h"
#include "core/memory.h"

constexpr u32 OUTPUT_MAGIC_ID = 0x38383838; // "8888"
constexpr u32 BC_CPU_AMD64 = 1;
constexpr u32 IMAGE_HEADER_SIZE = 104;

struct Image_Header {
    u32 magic;   // OUTPUT_MAGIC_ID
    u32 one;     // 1
    u32 processor; // BC_CPU_AMD64
    u32 version; // the editor's version word
    u64 reserved; // 0x200000, never read
    u8 zero[8];
    u32 foreign_relocations_offset;
    u32 num_foreign_relocations;
    u32 code_offset;
    u32 code_size;
    u32 constant_data_offset;
    u32 constant_data_size;
    u32 global_data_offset;
    u32 global_data_size;
    u32 num_constant_relocations;
    u32 constant_relocations_offset;
    u32 num_global_relocations;
    u32 global_relocations_offset;
    u32 source_files_offset;
    u32 num_source_files;
    u32 syntax_entry;
    u32 events_entry;
    u32 on_load_entry;
    u8 entry_flags; // 1 #events, 2 #on_load, 4 #syntax
    u8 padding[3];
};
static_assert(sizeof(Image_Header) == IMAGE_HEADER_SIZE, "the image header is 104 bytes");

enum : u8 {
    IMAGE_SECTION_CONSTANT_DATA = 1,
    IMAGE_SECTION_GLOBAL_DATA = 3,
};

// 40 bytes. Constant-data relocations: the pointer lies in the section named
// by `section` and holds an offset into the constant data. Global-data
// relocations: the pointer lies in global data and holds an offset there.
struct Image_Relocation {
    u64 position; // of the pointer inside its section
    u64 compile_time[3];
    u8 section;
    u8 padding[7];
};
static_assert(sizeof(Image_Relocation) == 40, "image relocations are 40 bytes");

struct Image_Source_File {
    u64 path_offset; // from the image start; an address once relocated
    u64 path_length;
    u64 modification_nanoseconds;
    u64 size;
};
static_assert(sizeof(Image_Source_File) == 32, "source-file entries are 32 bytes");

struct Source_File_Table {
    Image_Source_File *files;
    u64 count;
};

// An image being assembled in one block; the header sits at `memory`.
struct Image_Builder {
    u8 *memory;
    u64 used;
    u64 capacity;
};

void apply_constant_relocations(Image_Header *image);
void apply_global_relocations(Image_Header *image);
Source_File_Table apply_source_file_relocation(Image_Header *image);
// The three steps in order, for an image without machine code.
void bytecode_apply_relocations(Image_Header *image);

// Append the compiler's relocation lists to the image as 40-byte records and
// store each target's section offset in its pointer's place. The data
// sections must already be copied into the image. False when the image
// block is full.
bool copy_constant_relocations_to_code_output(Image_Builder *image, u8 *constant_data_base, u8 *global_data_base);
bool copy_global_relocations_to_code_output(Image_Builder *image, u8 *global_data_base);
