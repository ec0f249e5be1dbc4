// Relocations: from the compiler's lists into the image, and from offsets to
// addresses once the image is loaded.
#include "compiler/back/relocations.h"
#include "compiler/back/ir.h"

static Image_Relocation *relocations_at(Image_Header *image, u32 offset) {
    return (Image_Relocation *)((u8 *)image + offset);
}

void apply_constant_relocations(Image_Header *image) {
    u8 *base = (u8 *)image;
    u8 *constant_data = base + image->constant_data_offset;
    u8 *global_data = base + image->global_data_offset;
    Image_Relocation *list = relocations_at(image, image->constant_relocations_offset);
    for (u32 i = 0; i < image->num_constant_relocations; i++) {
        u8 *section;
        if (list[i].section == IMAGE_SECTION_CONSTANT_DATA) section = constant_data;
        else if (list[i].section == IMAGE_SECTION_GLOBAL_DATA) section = global_data;
        else continue;
        u64 value;
        memcpy(&value, section + list[i].position, 8);
        value += (u64)(uintptr_t)constant_data;
        memcpy(section + list[i].position, &value, 8);
    }
}

void apply_global_relocations(Image_Header *image) {
    u8 *global_data = (u8 *)image + image->global_data_offset;
    Image_Relocation *list = relocations_at(image, image->global_relocations_offset);
    for (u32 i = 0; i < image->num_global_relocations; i++) {
        u32 position = (u32)list[i].position;
        u64 value;
        memcpy(&value, global_data + position, 8);
        value += (u64)(uintptr_t)global_data;
        memcpy(global_data + position, &value, 8);
    }
}

Source_File_Table apply_source_file_relocation(Image_Header *image) {
    Source_File_Table table;
    table.files = (Image_Source_File *)((u8 *)image + image->source_files_offset);
    table.count = image->num_source_files;
    for (u64 i = 0; i < table.count; i++) table.files[i].path_offset += (u64)(uintptr_t)image;
    return table;
}

void bytecode_apply_relocations(Image_Header *image) {
    apply_constant_relocations(image);
    apply_global_relocations(image);
    apply_source_file_relocation(image);
}

// [SECTION] From the compiler's lists

static u64 section_offset(Register_Id id) {
    switch (id.pool) {
    case REGISTER_POOL_CONSTANT_DATA: return get_register_offset_in_constant_data(nullptr, id);
    case REGISTER_POOL_TYPE_DATA: return get_register_offset_in_type_data(nullptr, id);
    case REGISTER_POOL_GLOBAL_DATA: return get_register_offset_in_global_data(nullptr, id);
    }
    return 0;
}

static bool targets_constant_data(const Relocation *r) {
    return r->target.pool == REGISTER_POOL_CONSTANT_DATA || r->target.pool == REGISTER_POOL_TYPE_DATA;
}

static Image_Relocation *append_record(Image_Builder *image) {
    if (image->used + sizeof(Image_Relocation) > image->capacity) return nullptr;
    Image_Relocation *r = (Image_Relocation *)(image->memory + image->used);
    memset(r, 0, sizeof *r);
    image->used += sizeof(Image_Relocation);
    return r;
}

// Writes the record and the target offset into the pointer's place.
static bool add_record(Image_Builder *image, u8 *section_base, u64 position, u8 section, u64 target) {
    Image_Relocation *out = append_record(image);
    if (!out) return false;
    out->position = position;
    out->section = section;
    memcpy(section_base + position, &target, 8);
    return true;
}

static bool copy_list(Image_Builder *image, Dynamic_Array *list, bool want_constant_target, u8 *constant_data_base,
                      u8 *global_data_base) {
    for (u32 i = 0; i < list->count; i++) {
        Relocation *r = dynamic_array_at<Relocation>(list, i);
        if (r->target_sub_program) continue; // code addresses belong to the machine-code writer
        if (targets_constant_data(r) != want_constant_target) continue;
        if (!want_constant_target && r->target.pool != REGISTER_POOL_GLOBAL_DATA) continue;
        bool in_global = r->location.pool == REGISTER_POOL_GLOBAL_DATA;
        u64 position = section_offset(r->location) + r->location_offset;
        u64 target = section_offset(r->target) + r->target_offset;
        if (!add_record(image, in_global ? global_data_base : constant_data_base, position,
                        in_global ? IMAGE_SECTION_GLOBAL_DATA : IMAGE_SECTION_CONSTANT_DATA, target)) {
            return false;
        }
    }
    return true;
}

bool copy_constant_relocations_to_code_output(Image_Builder *image, u8 *constant_data_base, u8 *global_data_base) {
    u64 start = image->used;
    // Strings and arrays placed by the front end inside constant aggregates.
    Dynamic_Array *front = &global_compiler_state.constant_relocations;
    for (u32 i = 0; i < front->count; i++) {
        Constant_Relocation *r = dynamic_array_at<Constant_Relocation>(front, i);
        if (!add_record(image, constant_data_base, r->at, IMAGE_SECTION_CONSTANT_DATA, r->target)) return false;
    }
    if (!copy_list(image, &ir_state.constant_relocations, true, constant_data_base, global_data_base)) return false;
    if (!copy_list(image, &ir_state.global_relocations, true, constant_data_base, global_data_base)) return false;
    Image_Header *header = (Image_Header *)image->memory;
    header->constant_relocations_offset = (u32)start;
    header->num_constant_relocations = (u32)((image->used - start) / sizeof(Image_Relocation));
    return true;
}

bool copy_global_relocations_to_code_output(Image_Builder *image, u8 *global_data_base) {
    u64 start = image->used;
    if (!copy_list(image, &ir_state.global_relocations, false, nullptr, global_data_base)) return false;
    Image_Header *header = (Image_Header *)image->memory;
    header->global_relocations_offset = (u32)start;
    header->num_global_relocations = (u32)((image->used - start) / sizeof(Image_Relocation));
    return true;
}
