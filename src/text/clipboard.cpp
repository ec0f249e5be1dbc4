// Copying to the system clipboard and the two local mirrors. The no-padding
// mirror leaves out the spaces alignment inserted, found through the padding
// undo records and carried forward over the edits recorded after them.
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"
#include "text/tokeniser.h"
#include "text/undo.h"

// Moves `run` through the change made by `later`; false when the change
// removed (part of) the run.
static bool carry_run_over(Padding_Run *run, const Undo_Record *later) {
    switch (later->kind) {
    case UNDO_INSERTION:
    case UNDO_TYPED:
        if (later->offset <= run->offset) run->offset += later->change.length;
        else if (later->offset < run->offset + run->count) return false;
        return true;
    case UNDO_DELETION: {
        u64 start = later->offset, end = later->offset + later->deletion.bytes.size;
        if (end <= run->offset) run->offset -= end - start;
        else if (start < run->offset + run->count) return false;
        return true;
    }
    case UNDO_PADDING: {
        const Padding_Run *runs = (const Padding_Run *)later->change.saved.memory;
        u64 n = later->change.saved.size / sizeof(Padding_Run);
        u64 shift = 0, before = 0;
        for (u64 i = 0; i < n; i++) {
            u64 original = runs[i].offset - before; // where it went in, before its own record's runs
            before += runs[i].count;
            if (original <= run->offset) shift += runs[i].count;
            else if (original < run->offset + run->count) return false;
        }
        run->offset += shift;
        return true;
    }
    default:
        return true;
    }
}

static bool run_is_less(const void *a, const void *b) {
    return ((const Padding_Run *)a)->offset < ((const Padding_Run *)b)->offset;
}

// Copies [start, end) of the file into `out`, leaving out live padding.
static void copy_without_padding(File *file, u64 start, u64 end, Dynamic_Array *out) {
    out->count = 0;
    u32 max_runs = 0;
    for (u32 r = 0; r < file->undo_records.count; r++) {
        Undo_Record *record = dynamic_array_at<Undo_Record>(&file->undo_records, r);
        if (record->kind == UNDO_PADDING) max_runs += (u32)(record->change.saved.size / sizeof(Padding_Run));
    }
    Allocation live_memory;
    gp_allocate(&live_memory, sizeof(Padding_Run) * (max_runs + 1));
    Padding_Run *live = (Padding_Run *)live_memory.memory;
    u32 num_live = 0;
    u8 *text = file_text(file);
    for (u32 r = 0; r < file->undo_records.count; r++) {
        Undo_Record *record = dynamic_array_at<Undo_Record>(&file->undo_records, r);
        if (record->kind != UNDO_PADDING) continue;
        const Padding_Run *runs = (const Padding_Run *)record->change.saved.memory;
        u64 n = record->change.saved.size / sizeof(Padding_Run);
        for (u64 i = 0; i < n; i++) {
            Padding_Run run = runs[i];
            bool alive = true;
            for (u32 later = r + 1; later < file->undo_records.count && alive; later++)
                alive = carry_run_over(&run, dynamic_array_at<Undo_Record>(&file->undo_records, later));
            if (!alive || run.offset + run.count > file_length(file)) continue;
            for (u64 k = 0; k < run.count && alive; k++) alive = text[run.offset + k] == ' ';
            if (alive && run.offset < end && run.offset + run.count > start) live[num_live++] = run;
        }
    }
    general_quick_sort(live, num_live, sizeof(Padding_Run), run_is_less);
    u32 k = 0;
    for (u64 i = start; i < end; i++) {
        while (k < num_live && live[k].offset + live[k].count <= i) k++;
        if (k < num_live && i >= live[k].offset) continue;
        *(u8 *)dynamic_array_add(out) = text[i];
    }
    gp_free(&live_memory);
}

static void set_mirror(Dynamic_Array *mirror, const u8 *bytes, u64 count) {
    mirror->count = 0;
    if (count) dynamic_array_append_bytes(mirror, bytes, (u32)count);
}

void editor_copy_selection_to_clipboard(u8 token_when_empty, u8) {
    text_hooks.lock_tabs();
    String terminal = text_hooks.terminal_selection_text();
    if (terminal.count > 0) {
        set_mirror(&text_copied_locally, terminal.data, (u64)terminal.count);
        set_mirror(&text_copied_as_if_there_was_no_padding, terminal.data, (u64)terminal.count);
    } else {
        File *file = text_hooks.current_tab_file();
        if (!file) {
            text_hooks.unlock_tabs();
            return;
        }
        file_update_selection_pointers(file);
        u64 start = *file->selection_start, end = *file->selection_end;
        if (end > file_length(file)) end = file_length(file);
        if (start >= end) {
            Editor_Token token;
            if (!token_when_empty || file_length(file) == 0 || get_token_at_offset(file, file->cursor, &token) < 0) {
                text_hooks.unlock_tabs();
                return;
            }
            start = token.offset;
            end = token.offset + token.length;
        }
        set_mirror(&text_copied_locally, file_text(file) + start, end - start);
        copy_without_padding(file, start, end, &text_copied_as_if_there_was_no_padding);
    }
    text_hooks.unlock_tabs();
    // A copy can be far larger than a thread's temporary memory.
    Allocation c_text;
    gp_allocate(&c_text, text_copied_locally.count + 1);
    memcpy(c_text.memory, text_copied_locally.data, text_copied_locally.count);
    ((char *)c_text.memory)[text_copied_locally.count] = 0;
    text_hooks.set_clipboard_text((const char *)c_text.memory);
    gp_free(&c_text);
}

String editor_text_to_paste() {
    String clipboard = text_hooks.get_clipboard_text();
    // The clipboard got the copy only up to its first NUL byte; the mirror
    // still has the rest.
    String handed = dynamic_array_as_string(&text_copied_locally);
    const u8 *nul = handed.count > 0 ? (const u8 *)memchr(handed.data, 0, (size_t)handed.count) : nullptr;
    if (nul) handed.count = nul - handed.data;
    if (text_copied_locally.count > 0 && string_equal(clipboard, handed))
        return dynamic_array_as_string(&text_copied_as_if_there_was_no_padding);
    return clipboard;
}
