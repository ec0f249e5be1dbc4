// The assets archive "tarno.data" next to the executable, read whole at
// start-up; entries are found by walking the ZIP local headers and inflated
// only on request. Also finds the executable's own directory.
#pragma once
#include "core/base.h"
#include "core/memory.h"

constexpr u64 STATIC_STRINGS_MEMORY = 2097152;
constexpr u64 PSEUDO_EXE_DATA_MEMORY = 5242880;
constexpr u64 ASSETS_MEMORY = 28836368;
constexpr u64 ASSETS_GLYPHS_PAGE_MEMORY = 524816; // the glyph pool's first page
// What ASSETS_MEMORY leaves after static strings, the glyph page and the archive.
constexpr u64 ASSETS_FONT_DATA_MEMORY = ASSETS_MEMORY - STATIC_STRINGS_MEMORY - ASSETS_GLYPHS_PAGE_MEMORY - PSEUDO_EXE_DATA_MEMORY;

// The directory holding the executable, without a trailing '/' ("/" for the root).
extern String executable_filepath;
extern u8 *static_strings;
struct Pseudo_Exe_Data {
    u8 *data;
    u32 element_size; // 1
    u32 count;        // bytes of the archive held
};
extern Pseudo_Exe_Data pseudo_exe_data;
// Memory the font code builds its pools on: pass glyphs_first_page to
// fonts_init_storage. The assets code does not create glyphs_pool itself.
extern u8 *glyphs_first_page;
extern u8 *assets_font_data;

// Takes the memory blocks (once), finds the executable's directory and reads
// executable_filepath + "/tarno.data". A missing archive leaves it empty.
void init_assets();
// Reads an archive file into pseudo_exe_data; false (archive emptied) when it
// is missing, unreadable or larger than the buffer. Needs init_assets first.
bool assets_load_archive(const char *path);
// Resolves the executable's directory from /proc/self/exe without storing it.
String assets_find_executable_directory();

// [SECTION] ZIP local headers

constexpr u32 ZIP_LOCAL_HEADER_SIGNATURE = 0x04034B50;
constexpr u16 ZIP_FILE_IS_ENCRYPTED = 0x1;
constexpr u16 ZIP_HEADER_HAS_NO_SIZE_INFO = 0x8;
constexpr u32 ZIP_LOCAL_HEADER_SIZE = 30;

struct Zip_Lister {
    const u8 *position;
    const u8 *end;
};
struct Zip_Entry {
    const u8 *header;
    const u8 *data;
    u32 uncompressed_size;
    u32 compressed_size;
    const u8 *name;
    u16 name_length;
    u16 method; // 8 = deflate, 0 = stored
    u16 flags;
};

Zip_Lister init_zip_lister(const u8 *data, u64 size);
// False at the end, at a position without a header, or at an entry whose
// data would run past the held bytes (walking cannot go on from there).
bool zip_lister_get_next_file(Zip_Lister *lister, Zip_Entry *out);
// Header of the entry named exactly `name`, or null.
const u8 *get_file_from_zip(const u8 *data, u64 size, const u8 *name, u64 name_length);
// Extracts an entry; `allocation` is reused when big enough, else replaced
// (the caller owns it). An empty view means missing or corrupt.
Array_View find_and_extract_file_from_zip_data(const u8 *data, u64 size, const u8 *name, u64 name_length,
                                               Allocation *allocation);
// `header` must come from get_file_from_zip or the lister (its bounds are checked there).
Array_View extract_zip_file(const u8 *header, Allocation *allocation);
