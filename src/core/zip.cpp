// Walking ZIP local headers and inflating single entries (raw deflate).
#include "core/assets.h"

#include <zlib.h>

static inline u16 read_u16(const u8 *p) { return (u16)(p[0] | p[1] << 8); }
static inline u32 read_u32(const u8 *p) { return (u32)p[0] | (u32)p[1] << 8 | (u32)p[2] << 16 | (u32)p[3] << 24; }

// Deflate cannot expand data more than about 1032 times; a header claiming
// more is corrupt and must not make us allocate gigabytes.
constexpr u64 MAX_DEFLATE_RATIO = 1032;

static void fill_entry(const u8 *header, Zip_Entry *out) {
    out->header = header;
    out->flags = read_u16(header + 6);
    out->method = read_u16(header + 8);
    out->compressed_size = read_u32(header + 18);
    out->uncompressed_size = read_u32(header + 22);
    out->name_length = read_u16(header + 26);
    out->name = header + ZIP_LOCAL_HEADER_SIZE;
    out->data = out->name + out->name_length + read_u16(header + 28);
}

Zip_Lister init_zip_lister(const u8 *data, u64 size) {
    return Zip_Lister{data, data ? data + size : data};
}

bool zip_lister_get_next_file(Zip_Lister *lister, Zip_Entry *out) {
    const u8 *p = lister->position;
    if (!p || lister->end - p < (s64)ZIP_LOCAL_HEADER_SIZE) return false;
    if (read_u32(p) != ZIP_LOCAL_HEADER_SIGNATURE) return false;
    Zip_Entry entry;
    fill_entry(p, &entry);
    // Without sizes in the header the next header cannot be found.
    if (entry.flags & ZIP_HEADER_HAS_NO_SIZE_INFO) return false;
    u64 header_and_names = ZIP_LOCAL_HEADER_SIZE + (u64)entry.name_length + read_u16(p + 28);
    u64 left = (u64)(lister->end - p);
    if (header_and_names > left || entry.compressed_size > left - header_and_names) return false;
    *out = entry;
    lister->position = entry.data + entry.compressed_size;
    return true;
}

const u8 *get_file_from_zip(const u8 *data, u64 size, const u8 *name, u64 name_length) {
    Zip_Lister lister = init_zip_lister(data, size);
    Zip_Entry entry;
    while (zip_lister_get_next_file(&lister, &entry)) {
        if (entry.name_length == name_length && memcmp(entry.name, name, name_length) == 0) return entry.header;
    }
    return nullptr;
}

Array_View extract_zip_file(const u8 *header, Allocation *allocation) {
    Array_View empty = {nullptr, 1, 0};
    if (!header) return empty;
    Zip_Entry entry;
    fill_entry(header, &entry);
    if (entry.flags & ZIP_FILE_IS_ENCRYPTED) return empty;

    // The deflate stream has no check of its own; the header's CRC catches damaged bytes.
    u32 expected_crc = read_u32(header + 14);
    if (entry.method == 0) {
        if (crc32(0, entry.data, entry.compressed_size) != expected_crc) return empty;
        return Array_View{(void *)entry.data, 1, entry.compressed_size};
    }
    // Anything but stored or deflate would hand compressed bytes to a reader that expects the real file.
    if (entry.method != 8) return empty;

    u64 size = entry.uncompressed_size;
    if (size > (u64)entry.compressed_size * MAX_DEFLATE_RATIO + 64) return empty;
    u8 scratch[1];
    u8 *out = scratch;
    if (size > 0) {
        if (allocation->size < size) {
            gp_free(allocation);
            gp_allocate(allocation, size);
        }
        out = (u8 *)allocation->memory;
    }

    z_stream stream = {};
    if (inflateInit2(&stream, -15) != Z_OK) return empty;
    stream.next_in = (Bytef *)entry.data;
    stream.avail_in = entry.compressed_size;
    stream.next_out = out;
    stream.avail_out = size > 0 ? (uInt)size : 0;
    int result = inflate(&stream, Z_FINISH);
    u64 produced = stream.total_out;
    inflateEnd(&stream);
    if (result != Z_STREAM_END || produced != size) return empty;
    if (crc32(0, out, (uInt)size) != expected_crc) return empty;
    return Array_View{size > 0 ? out : nullptr, 1, (u32)size};
}

Array_View find_and_extract_file_from_zip_data(const u8 *data, u64 size, const u8 *name, u64 name_length,
                                               Allocation *allocation) {
    return extract_zip_file(get_file_from_zip(data, size, name, name_length), allocation);
}
