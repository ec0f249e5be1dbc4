// Writing, checking, loading and relocating the compiled image.
#include "compiler/back/image.h"
#include "compiler/back/ir.h"
#include "core/log.h"
#include "core/strings.h"
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

static u64 round_up(u64 v, u64 a) { return (v + a - 1) & ~(a - 1); }

static bool stat_path(String path, u64 *size, u64 *nanoseconds) {
    struct stat st;
    if (stat(to_tmp_c_string(path), &st) != 0) return false;
    *size = (u64)st.st_size;
    *nanoseconds = (u64)st.st_mtim.tv_nsec;
    return true;
}

// [SECTION] Writing

// Turns each RIP-relative displacement from "offset in its section" into the
// distance from the instruction's end, valid wherever the image lands.
static void resolve_data_references(u8 *image, const Image_Header *h, Amd64_Code *code) {
    u8 *machine_code = image + h->code_offset;
    for (u32 i = 0; i < code->data_references.count; i++) {
        Amd64_Data_Reference *r = dynamic_array_at<Amd64_Data_Reference>(&code->data_references, i);
        u64 section = r->data_tag == AMD64_DATA_GLOBAL ? h->global_data_offset : h->constant_data_offset;
        u64 end_of_displacement = h->code_offset + r->displacement_position + 4;
        s32 d;
        memcpy(&d, machine_code + r->displacement_position, 4);
        d = (s32)((s64)d - (s64)(r->extra + (end_of_displacement - section)));
        memcpy(machine_code + r->displacement_position, &d, 4);
    }
}

bool image_build(const Image_Input *in, Allocation *out) {
    Amd64_Code *code = in->code;
    u64 constant_offset = round_up(IMAGE_HEADER_SIZE, IMAGE_SECTION_ALIGNMENT);
    u64 global_offset = round_up(constant_offset + in->constant_data_size, IMAGE_SECTION_ALIGNMENT);
    u64 code_offset = global_offset + in->global_data_size;
    u64 code_size = code->bytes.count;
    // The tables after the code are read as 64-bit words: keep them 8-aligned.
    u64 foreign_offset = round_up(code_offset + code_size, 8);
    u64 num_foreign = code->foreign_relocations.count;
    u64 relocations_offset = foreign_offset + num_foreign * 8;
    // The compiler's lists give at most one record per entry.
    u64 num_relocations = in->num_constant_relocations + in->num_global_relocations;
    if (in->use_compiler_relocations)
        num_relocations = global_compiler_state.constant_relocations.count + ir_state.constant_relocations.count +
                          2 * (u64)ir_state.global_relocations.count;
    u64 paths_size = 0;
    for (u32 i = 0; i < in->num_source_files; i++) paths_size += (u64)in->source_paths[i].count;
    u64 capacity = relocations_offset + num_relocations * sizeof(Image_Relocation) +
                   in->num_source_files * sizeof(Image_Source_File) + paths_size;
    if (capacity > 0xFFFFFFFFull) return false;

    gp_allocate(out, capacity);
    if (!out->memory) return false;
    u8 *image = (u8 *)out->memory;
    memset(image, 0, capacity);
    Image_Header *h = (Image_Header *)image;
    h->magic = OUTPUT_MAGIC_ID;
    h->one = 1;
    h->processor = BC_CPU_AMD64;
    h->version = in->version;
    h->reserved = IMAGE_RESERVED_WORD;
    h->entry_flags = in->entry_flags;
    h->constant_data_offset = (u32)constant_offset;
    h->constant_data_size = (u32)in->constant_data_size;
    h->global_data_offset = (u32)global_offset;
    h->global_data_size = (u32)in->global_data_size;
    if (in->constant_data_size) memcpy(image + constant_offset, in->constant_data, in->constant_data_size);
    if (in->global_data_size) memcpy(image + global_offset, in->global_data, in->global_data_size);

    h->code_offset = (u32)code_offset;
    h->code_size = (u32)code_size;
    if (code_size) memcpy(image + code_offset, code->bytes.data, code_size);
    h->syntax_entry = (u32)(in->entry_positions[0] + code_offset);
    h->events_entry = (u32)(in->entry_positions[1] + code_offset);
    h->on_load_entry = (u32)(in->entry_positions[2] + code_offset);
    resolve_data_references(image, h, code);

    h->foreign_relocations_offset = (u32)foreign_offset;
    h->num_foreign_relocations = (u32)num_foreign;
    if (num_foreign) memcpy(image + foreign_offset, code->foreign_relocations.data, num_foreign * 8);

    Image_Builder builder = {image, relocations_offset, capacity};
    if (in->use_compiler_relocations) {
        if (!copy_constant_relocations_to_code_output(&builder, image + constant_offset, image + global_offset) ||
            !copy_global_relocations_to_code_output(&builder, image + global_offset)) {
            gp_free(out);
            return false;
        }
    } else {
        h->constant_relocations_offset = (u32)builder.used;
        h->num_constant_relocations = in->num_constant_relocations;
        if (in->num_constant_relocations) memcpy(image + builder.used, in->constant_relocations, in->num_constant_relocations * sizeof(Image_Relocation));
        builder.used += in->num_constant_relocations * sizeof(Image_Relocation);
        h->global_relocations_offset = (u32)builder.used;
        h->num_global_relocations = in->num_global_relocations;
        if (in->num_global_relocations) memcpy(image + builder.used, in->global_relocations, in->num_global_relocations * sizeof(Image_Relocation));
        builder.used += in->num_global_relocations * sizeof(Image_Relocation);
    }

    h->source_files_offset = (u32)builder.used;
    h->num_source_files = in->num_source_files;
    Image_Source_File *files = (Image_Source_File *)(image + builder.used);
    u64 path_at = builder.used + in->num_source_files * sizeof(Image_Source_File);
    for (u32 i = 0; i < in->num_source_files; i++) {
        String p = in->source_paths[i];
        if (!stat_path(p, &files[i].size, &files[i].modification_nanoseconds)) {
            gp_free(out);
            return false;
        }
        files[i].path_offset = path_at;
        files[i].path_length = (u64)p.count;
        if (p.count) memcpy(image + path_at, p.data, (size_t)p.count);
        path_at += (u64)p.count;
    }
    out->size = path_at; // the bytes actually used (the compiler lists may leave slack)
    return true;
}

bool output_amd64_file(const Image_Input *input, String path, String source_path) {
    Allocation image = {};
    bool ok = image_build(input, &image);
    if (ok) {
        int fd = open(to_tmp_c_string(path), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ok = fd >= 0;
        u64 written = 0;
        while (ok && written < image.size) {
            ssize_t n = write(fd, (u8 *)image.memory + written, image.size - written);
            if (n <= 0) ok = false;
            else written += (u64)n;
        }
        if (fd >= 0 && close(fd) != 0) ok = false;
    }
    if (image.memory) gp_free(&image);
    if (ok) add_log(nullptr, LOG_INFO, "Successfully compiled custom layer from '%.*s'.", (int)source_path.count, source_path.data);
    else add_log(nullptr, LOG_ERROR, "Failed to compile from '%.*s'.", (int)source_path.count, source_path.data);
    return ok;
}

// [SECTION] Checking

static bool inside(u64 offset, u64 count, u64 element, u64 size) {
    return offset <= size && count <= (size - offset) / (element ? element : 1);
}

bool image_is_well_formed(const u8 *bytes, u64 size) {
    if (size < IMAGE_HEADER_SIZE) return false;
    const Image_Header *h = (const Image_Header *)bytes;
    if (h->magic != OUTPUT_MAGIC_ID || h->one != 1) return false;
    if (!inside(h->constant_data_offset, h->constant_data_size, 1, size)) return false;
    if (!inside(h->global_data_offset, h->global_data_size, 1, size)) return false;
    if (!inside(h->code_offset, h->code_size, 1, size)) return false;
    if (!inside(h->foreign_relocations_offset, h->num_foreign_relocations, 8, size)) return false;
    if (!inside(h->constant_relocations_offset, h->num_constant_relocations, sizeof(Image_Relocation), size)) return false;
    if (!inside(h->global_relocations_offset, h->num_global_relocations, sizeof(Image_Relocation), size)) return false;
    if (!inside(h->source_files_offset, h->num_source_files, sizeof(Image_Source_File), size)) return false;
    const u64 *foreign = (const u64 *)(bytes + h->foreign_relocations_offset);
    for (u32 i = 0; i < h->num_foreign_relocations; i++)
        if (h->code_size < 8 || foreign[i] > h->code_size - 8) return false;
    const Image_Relocation *r = (const Image_Relocation *)(bytes + h->constant_relocations_offset);
    for (u32 i = 0; i < h->num_constant_relocations; i++) {
        u64 limit = r[i].section == IMAGE_SECTION_GLOBAL_DATA ? h->global_data_size : h->constant_data_size;
        if (limit < 8 || r[i].position > limit - 8) return false;
    }
    r = (const Image_Relocation *)(bytes + h->global_relocations_offset);
    for (u32 i = 0; i < h->num_global_relocations; i++)
        if (h->global_data_size < 8 || (u32)r[i].position > h->global_data_size - 8) return false;
    const Image_Source_File *files = (const Image_Source_File *)(bytes + h->source_files_offset);
    for (u32 i = 0; i < h->num_source_files; i++)
        if (!inside(files[i].path_offset, files[i].path_length, 1, size)) return false;
    const u32 entries[3] = {h->events_entry, h->on_load_entry, h->syntax_entry};
    for (u32 i = 0; i < 3; i++)
        if ((h->entry_flags & (1u << i)) && (entries[i] < h->code_offset || entries[i] >= h->code_offset + h->code_size)) return false;
    return true;
}

static bool read_file(String path, Allocation *out) {
    int fd = open(to_tmp_c_string(path), O_RDONLY);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && st.st_size >= (off_t)IMAGE_HEADER_SIZE;
    if (ok) {
        gp_allocate(out, (u64)st.st_size);
        u64 got = 0;
        while (ok && got < out->size) {
            ssize_t n = read(fd, (u8 *)out->memory + got, out->size - got);
            if (n <= 0) ok = false;
            else got += (u64)n;
        }
        if (!ok) gp_free(out);
    }
    close(fd);
    return ok;
}

bool image_cache_is_usable(String path, u32 version) {
    Allocation file = {};
    if (!read_file(path, &file)) return false;
    const u8 *bytes = (const u8 *)file.memory;
    bool ok = image_is_well_formed(bytes, file.size);
    if (ok) {
        const Image_Header *h = (const Image_Header *)bytes;
        ok = (h->version & 0xFFFF) == (version & 0xFFFF) && ((h->version >> 16) & 0xFF) == ((version >> 16) & 0xFF);
        const Image_Source_File *files = (const Image_Source_File *)(bytes + h->source_files_offset);
        for (u32 i = 0; ok && i < h->num_source_files; i++) {
            u64 size, nanoseconds;
            String p = make_string(bytes + files[i].path_offset, (s64)files[i].path_length);
            ok = stat_path(p, &size, &nanoseconds) && size == files[i].size && nanoseconds == files[i].modification_nanoseconds;
        }
    }
    gp_free(&file);
    return ok;
}

// [SECTION] Loading

bool image_load_bytes(const u8 *bytes, u64 size, Loaded_Image *out) {
    if (!image_is_well_formed(bytes, size)) return false;
    void *mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return false;
    memcpy(mapping, bytes, size);
    out->header = (Image_Header *)mapping;
    out->mapping = mapping;
    out->mapping_size = size;
    out->source_files = {};
    return true;
}

bool image_load_file(String path, Loaded_Image *out) {
    Allocation file = {};
    bool ok = read_file(path, &file);
    if (ok) {
        ok = image_load_bytes((const u8 *)file.memory, file.size, out);
        gp_free(&file);
    }
    if (!ok) add_log(nullptr, LOG_ERROR, "Failed to load '%.*s'.", (int)path.count, path.data);
    return ok;
}

void image_unload(Loaded_Image *image) {
    if (image->mapping) munmap(image->mapping, image->mapping_size);
    *image = {};
}

// [SECTION] Relocating

void amd64_apply_relocations(Image_Header *image) {
    apply_constant_relocations(image);
    apply_global_relocations(image);
}

void amd64_apply_foreign_call_relocations(Image_Header *image, void *address) {
    u8 *code = (u8 *)image + image->code_offset;
    const u64 *list = (const u64 *)((u8 *)image + image->foreign_relocations_offset);
    u64 value = (u64)(uintptr_t)address;
    for (u32 i = 0; i < image->num_foreign_relocations; i++) memcpy(code + list[i], &value, 8);
}

void image_relocate(Loaded_Image *image, void *foreign_call_address) {
    Image_Header *h = image->header;
    if (!h || h->processor != BC_CPU_AMD64) return;
    amd64_apply_relocations(h);
    amd64_apply_foreign_call_relocations(h, foreign_call_address);
    image->source_files = apply_source_file_relocation(h);
}

// [SECTION] Entry points

static void *entry(Image_Header *image, u8 flag, u32 offset) {
    if (!image || !(image->entry_flags & flag)) return nullptr;
    return (u8 *)image + offset;
}
void *get_events_block_entry_point(Image_Header *image) { return entry(image, IMAGE_ENTRY_EVENTS, image ? image->events_entry : 0); }
void *get_on_load_block_entry_point(Image_Header *image) { return entry(image, IMAGE_ENTRY_ON_LOAD, image ? image->on_load_entry : 0); }
void *get_syntax_block_entry_point(Image_Header *image) { return entry(image, IMAGE_ENTRY_SYNTAX, image ? image->syntax_entry : 0); }
