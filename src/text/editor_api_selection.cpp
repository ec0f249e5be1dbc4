// Selection and cursor state (ids 37 to 42 and 62 to 66).
#include "text/editor_api_internal.h"
#include "text/editing.h"

void api_go_to_previous_cursor_position(u8 *) { editor_go_to_previous_cursor_position(api_target_file()); }

void api_start_selection(u8 *) {
    File *file = current_file;
    if (!file) return;
    file->selection_anchor = file->cursor;
    file_update_selection_pointers(file);
    file_set_flags(file, FILE_SELECTION_ACTIVE | FILE_CHANGED);
}

void api_stop_selection(u8 *) {
    File *file = current_file;
    if (!file) return;
    file_clear_flags(file, FILE_SELECTION_ACTIVE);
    file_set_flags(file, FILE_CHANGED);
}

void api_toggle_selection(u8 *block) {
    if (!current_file) return;
    if (file_has_flags(current_file, FILE_SELECTION_ACTIVE)) api_stop_selection(block);
    else api_start_selection(block);
}

void api_check_if_selection_is_active(u8 *block) {
    if (current_file) ((Api_U8_Result_Block *)block)->result = file_has_flags(current_file, FILE_SELECTION_ACTIVE) ? 1 : 0;
}

void api_do_not_set_selection_anchor_on_click(u8 *) {
    if (current_file) file_set_flags(current_file, FILE_NO_ANCHOR_ON_CLICK);
}

void api_set_cursor_offset(u8 *block) {
    File *file = api_target_file();
    if (!file) return;
    s64 offset = ((Api_S64_Block *)block)->value;
    if (offset >= (s64)file_length(file)) return;
    api_move_cursor(file, offset < 0 ? 0 : (u64)offset);
}

void api_set_selection_anchor_offset(u8 *block) {
    File *file = api_target_file();
    if (!file) return;
    u64 offset = ((Api_U64_Block *)block)->value;
    if (offset >= file_length(file)) return;
    file->selection_anchor = offset;
    file_update_selection_pointers(file);
    file_set_flags(file, FILE_SELECTION_ACTIVE | FILE_CHANGED);
}

void api_get_cursor_offset(u8 *block) {
    if (File *file = api_target_file()) ((Api_U64_Result_Block *)block)->result = file->cursor;
}
void api_get_selection_start_offset(u8 *block) {
    if (File *file = api_target_file())
        ((Api_U64_Result_Block *)block)->result = file->cursor < file->selection_anchor ? file->cursor : file->selection_anchor;
}
void api_get_selection_end_offset(u8 *block) {
    if (File *file = api_target_file())
        ((Api_U64_Result_Block *)block)->result = file->cursor > file->selection_anchor ? file->cursor : file->selection_anchor;
}
