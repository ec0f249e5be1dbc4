#include "text/undo.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"
#include "text/colouring.h"

static void undo_record_free(Undo_Record *record) {
    if (record->kind == UNDO_DELETION) gp_free(&record->deletion.bytes);
    else if (record->kind == UNDO_PADDING || record->kind == UNDO_REPLACEMENT) gp_free(&record->change.saved);
}

void undo_free_all(File *file) {
    for (u32 i = 0; i < file->undo_records.count; i++) undo_record_free(dynamic_array_at<Undo_Record>(&file->undo_records, i));
    file->undo_records.count = 0;
}

void undo_remove_expired(File *file, u64 now) {
    u32 kept = 0;
    for (u32 i = 0; i < file->undo_records.count; i++) {
        Undo_Record *record = dynamic_array_at<Undo_Record>(&file->undo_records, i);
        if (now > record->created && now - record->created > UNDO_EXPIRY_MICROSECONDS) {
            undo_record_free(record);
            continue;
        }
        if (kept != i) *dynamic_array_at<Undo_Record>(&file->undo_records, kept) = *record;
        kept++;
    }
    file->undo_records.count = kept;
}

static Undo_Record *undo_append(File *file, u8 kind, u64 offset, u64 cursor_before, u64 now) {
    undo_remove_expired(file, now);
    Undo_Record *record = (Undo_Record *)dynamic_array_add(&file->undo_records);
    memset((void *)record, 0, sizeof(*record));
    record->kind = kind;
    record->created = now;
    record->cursor_before = cursor_before;
    record->offset = offset;
    return record;
}

void add_text_insertion_undo(File *file, u64 offset, u64 length, u64 cursor_before, bool typed) {
    if (!file || length == 0) return;
    u64 now = editor_now();
    if (typed && file->undo_records.count > 0) {
        Undo_Record *last = dynamic_array_at<Undo_Record>(&file->undo_records, file->undo_records.count - 1);
        if (last->kind == UNDO_TYPED && now >= last->change.last_merge &&
            now - last->change.last_merge < UNDO_MERGE_MICROSECONDS && last->offset + last->change.length == offset) {
            last->change.length += length;
            last->created = now;
            last->change.last_merge = now;
            return;
        }
    }
    Undo_Record *record = undo_append(file, typed ? UNDO_TYPED : UNDO_INSERTION, offset, cursor_before, now);
    record->change.length = length;
    record->change.last_merge = now;
}

u64 add_padding_undo(File *file, u64 offset, u64 length, u64 cursor_before, Allocation padding) {
    Undo_Record *record = undo_append(file, UNDO_PADDING, offset, cursor_before, editor_now());
    record->change.length = length;
    record->change.saved = padding;
    return cursor_before;
}

void add_deletion_undo(File *file, u64 offset, u64 count, u64 cursor_before, bool was_selection) {
    Undo_Record *record = undo_append(file, UNDO_DELETION, offset, cursor_before, editor_now());
    gp_allocate(&record->deletion.bytes, count);
    memcpy(record->deletion.bytes.memory, file_text(file) + offset, count);
    record->deletion.was_selection = was_selection ? 1 : 0;
}

void add_replacement_undo(File *file, u64 offset, u64 count, u64 cursor_before) {
    Undo_Record *record = undo_append(file, UNDO_REPLACEMENT, offset, cursor_before, editor_now());
    record->change.length = count;
    gp_allocate(&record->change.saved, count);
    memcpy(record->change.saved.memory, file_text(file) + offset, count);
}

static void undo_put_cursor(File *file, u64 cursor) {
    u64 length = file_length(file);
    file->cursor = cursor > length ? length : cursor;
    file->selection_anchor = file->cursor;
    if (file->previous_cursor > length) file->previous_cursor = length;
}

bool editor_undo_file(File *file) {
    if (!file || file->undo_records.count == 0) return false;
    file_clear_flags(file, FILE_SELECTION_ACTIVE);
    file_set_flags(file, FILE_UNSAVED | FILE_NEEDS_COLOURING | FILE_CHANGED);
    Undo_Record *record = dynamic_array_at<Undo_Record>(&file->undo_records, file->undo_records.count - 1);
    u64 length = file_length(file);
    // A record that no longer fits the text is dropped rather than applied.
    switch (record->kind) {
    case UNDO_DELETION: {
        u64 count = record->deletion.bytes.size;
        if (record->offset <= length && text_raw_insert(file, record->offset, (u8 *)record->deletion.bytes.memory, count)) {
            undo_put_cursor(file, record->cursor_before);
            if (record->deletion.was_selection) {
                file->selection_anchor = record->offset;
                file->cursor = record->offset + count;
                file_set_flags(file, FILE_SELECTION_ACTIVE);
            }
        }
        break;
    }
    case UNDO_INSERTION:
    case UNDO_TYPED:
        if (record->offset + record->change.length <= length) {
            text_raw_remove(file, record->offset, record->change.length);
            undo_put_cursor(file, record->cursor_before);
        }
        break;
    case UNDO_PADDING: {
        Padding_Run *runs = (Padding_Run *)record->change.saved.memory;
        u64 n = record->change.saved.size / sizeof(Padding_Run);
        for (u64 i = n; i > 0; i--)
            if (runs[i - 1].offset + runs[i - 1].count <= file_length(file))
                text_raw_remove(file, runs[i - 1].offset, runs[i - 1].count);
        undo_put_cursor(file, record->cursor_before);
        break;
    }
    case UNDO_REPLACEMENT:
        if (record->offset + record->change.length <= length) {
            text_hooks.text_will_change(file, record->offset, record->change.length);
            memcpy(file_text(file) + record->offset, record->change.saved.memory, record->change.length);
            text_hooks.text_did_change(file, record->offset, record->change.length);
            undo_put_cursor(file, record->cursor_before);
        }
        break;
    }
    if (record->offset < file->changed_low) file->changed_low = record->offset;
    update_context_chunks(file, record->offset);
    undo_record_free(record);
    file->undo_records.count--;
    file_update_selection_pointers(file);
    editor_stamp_activity();
    return true;
}

bool editor_undo() { return editor_undo_file(current_file); }
