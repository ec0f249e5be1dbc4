// The update data: a 24-byte header, then the payload, a list of files to
// install next to the executable. The editor checks it before storing it
// and the updater checks it again before touching anything.
//
// Header (little-endian):
//   0  u32 UPDATE_MAGIC_NUMBER ("888u")
//   4  u32 format (1)
//   8  u64 payload size in bytes
//  16  u64 checksum: low 64 bits of the Meow hash of the payload
// Payload: entries of {u32 name size; u32 mode; u64 data size; name; data}.
#pragma once
#include "core/base.h"
#include "core/memory.h"

constexpr u32 UPDATE_MAGIC_NUMBER = 0x75383838;
constexpr u32 UPDATE_DATA_FORMAT = 1;
constexpr u32 UPDATE_HEADER_SIZE = 24;
constexpr u32 UPDATE_ENTRY_HEADER_SIZE = 16;
constexpr u32 UPDATE_MAX_NAME = 255;
#define UPDATE_DATA_FILENAME "update.data"
// A new updater cannot be renamed over the one that is running the install;
// it lands under this name and the editor swaps it in at start-up.
#define UPDATER_FILENAME "updater"
#define NEW_UPDATER_FILENAME "_updater"

struct Update_Entry {
    String name; // a plain file name: no '/', not "." or ".."
    u32 mode;    // permission bits
    String data;
};

// Null when `data` is whole and well formed, else why not (a fixed text).
// On success `entries` (initialised here, element Update_Entry; free it)
// views the files inside `data`.
const char *update_data_read(String data, Dynamic_Array *entries);
// Appends the update data for `entries` to `out` (element size 1).
void update_data_make(const Update_Entry *entries, u32 count, Dynamic_Array *out);
bool update_entry_name_is_plain(String name);
