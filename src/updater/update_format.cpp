#include "updater/update_format.h"
#include "core/meow_hash.h"

static u32 read_u32(const u8 *p) { u32 v; memcpy(&v, p, 4); return v; }
static u64 read_u64(const u8 *p) { u64 v; memcpy(&v, p, 8); return v; }
static void put(Dynamic_Array *out, const void *bytes, u64 count) {
    dynamic_array_append_bytes(out, bytes, (u32)count);
}

bool update_entry_name_is_plain(String name) {
    if (name.count <= 0 || name.count > (s64)UPDATE_MAX_NAME) return false;
    if (string_equal(name, S(".")) || string_equal(name, S(".."))) return false;
    for (s64 i = 0; i < name.count; i++) {
        if (name.data[i] == '/' || name.data[i] == 0) return false;
    }
    return true;
}

const char *update_data_read(String data, Dynamic_Array *entries) {
    dynamic_array_init(entries, sizeof(Update_Entry));
    if (data.count < (s64)UPDATE_HEADER_SIZE) return "the update data is too small";
    if (read_u32(data.data) != UPDATE_MAGIC_NUMBER) return "the update data does not start with the magic number";
    if (read_u32(data.data + 4) != UPDATE_DATA_FORMAT) return "the update data has an unknown format";
    u64 payload_size = read_u64(data.data + 8);
    if (payload_size != (u64)data.count - UPDATE_HEADER_SIZE) return "the update data is truncated or has trailing bytes";
    const u8 *payload = data.data + UPDATE_HEADER_SIZE;
    if (meow_hash(payload, payload_size).low != read_u64(data.data + 16)) return "the update data fails its checksum";
    u64 at = 0;
    while (at < payload_size) {
        if (payload_size - at < UPDATE_ENTRY_HEADER_SIZE) return "an entry of the update data is cut short";
        u64 name_size = read_u32(payload + at), mode = read_u32(payload + at + 4);
        u64 data_size = read_u64(payload + at + 8);
        at += UPDATE_ENTRY_HEADER_SIZE;
        if (name_size > payload_size - at || data_size > payload_size - at - name_size) {
            return "an entry of the update data is cut short";
        }
        Update_Entry *e = (Update_Entry *)dynamic_array_add(entries);
        e->name = String{(u8 *)payload + at, (s64)name_size};
        e->mode = (u32)mode & 0777;
        e->data = String{(u8 *)payload + at + name_size, (s64)data_size};
        at += name_size + data_size;
        if (!update_entry_name_is_plain(e->name)) return "an entry of the update data has a name that is not a plain file name";
    }
    if (entries->count == 0) return "the update data holds no files";
    return nullptr;
}

void update_data_make(const Update_Entry *entries, u32 count, Dynamic_Array *out) {
    u32 header_at = out->count;
    u8 header[UPDATE_HEADER_SIZE] = {};
    put(out, header, sizeof header);
    for (u32 i = 0; i < count; i++) {
        u32 name_size = (u32)entries[i].name.count, mode = entries[i].mode;
        u64 data_size = (u64)entries[i].data.count;
        put(out, &name_size, 4);
        put(out, &mode, 4);
        put(out, &data_size, 8);
        put(out, entries[i].name.data, name_size);
        put(out, entries[i].data.data, data_size);
    }
    u8 *h = (u8 *)out->data + header_at;
    u64 payload_size = out->count - header_at - UPDATE_HEADER_SIZE;
    u64 checksum = meow_hash(h + UPDATE_HEADER_SIZE, payload_size).low;
    u32 magic = UPDATE_MAGIC_NUMBER, format = UPDATE_DATA_FORMAT;
    memcpy(h, &magic, 4);
    memcpy(h + 4, &format, 4);
    memcpy(h + 8, &payload_size, 8);
    memcpy(h + 16, &checksum, 8);
}
