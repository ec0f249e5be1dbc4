// The tab array: creation, switching, closing, reordering and the guard that
// keeps unsaved work from being dropped by one stray click.
#include "shell/tabs.h"
#include "shell/globals.h"
#include "shell/update.h"
#include "core/strings.h"
#include "text/file.h"
#include "text/text_state.h"
#include "render/ui.h"
#include "compiler/front/diagnostics.h"

Dynamic_Array tabs;
u32 current_tab_index;
u32 tmp_current_tab_index;
u32 next_tab_id;
Tab *tab_being_dragged;
f32 global_tabs_horizontal_offset_px;
volatile u8 tabs_read_lock;
void (*shutdown_terminals_hook)();
void (*close_terminal_hook)(void *terminal);

void tabs_init() {
    dynamic_array_free(&tabs);
    dynamic_array_init(&tabs, sizeof(Tab), 16);
    current_tab_index = 0;
    tmp_current_tab_index = 0;
    next_tab_id = 0;
    tab_being_dragged = nullptr;
    global_tabs_horizontal_offset_px = 0;
    tabs_read_lock = 0;
}

Tab *current_tab() { return tab_at(current_tab_index); }

File *tab_file(Tab *tab) { return tab && tab->kind == TAB_FILE ? (File *)tab->content : nullptr; }

Tab *find_tab_by_id(u32 id) {
    for (u32 i = 0; i < tabs.count; i++)
        if (tab_at(i)->id == id) return tab_at(i);
    return nullptr;
}

Tab *find_tab_of_kind(u8 kind) {
    for (u32 i = 0; i < tabs.count; i++)
        if (tab_at(i)->kind == kind) return tab_at(i);
    return nullptr;
}

Tab *find_file_tab(File *file) {
    for (u32 i = 0; i < tabs.count; i++)
        if (tab_file(tab_at(i)) == file) return tab_at(i);
    return nullptr;
}

void renumber_tabs() {
    for (u32 i = 0; i < tabs.count; i++) {
        Tab *t = tab_at(i);
        t->index = i;
        t->title.data = t->title_buffer;
    }
    if (tab_being_dragged) {
        // The dragged record may have moved with the others.
        tab_being_dragged = nullptr;
        for (u32 i = 0; i < tabs.count; i++)
            if (tab_at(i)->dragged) tab_being_dragged = tab_at(i);
    }
}

void set_tab_title(Tab *tab, String title) {
    s64 n = title.count < (s64)TAB_TITLE_CAPACITY ? title.count : (s64)TAB_TITLE_CAPACITY;
    if (n > 0) memmove(tab->title_buffer, title.data, (size_t)n);
    tab->title = String{tab->title_buffer, n > 0 ? n : 0};
}

void refresh_file_tab_title(Tab *tab) {
    File *file = tab_file(tab);
    if (!file) return;
    String name = file->name.count > 0 ? file->name : S("untitled");
    u8 buffer[TAB_TITLE_CAPACITY];
    s64 n = 0;
    if (file_has_flags(file, FILE_UNSAVED)) buffer[n++] = '*';
    s64 room = (s64)TAB_TITLE_CAPACITY - n;
    s64 take = name.count < room ? name.count : room;
    memcpy(buffer + n, name.data, (size_t)take);
    set_tab_title(tab, String{buffer, n + take});
}

Tab *add_a_tab(u8 kind) {
    if (kind == TAB_UPDATE && !(global_flags & UPDATE_IS_AVAILABLE)) return nullptr;
    if (tabs.element_size != sizeof(Tab)) tabs_init();
    u32 at = current_tab_index + 1 < tabs.count ? current_tab_index + 1 : tabs.count;
    Tab *tab = (Tab *)dynamic_array_insert(&tabs, at);
    memset(tab, 0, sizeof *tab);
    tab->kind = kind;
    tab->id = next_tab_id++;
    tab->title = String{tab->title_buffer, 0};
    if (kind == TAB_COMPILE_ERRORS) set_tab_title(tab, S("Compile errors"));
    if (kind == TAB_UPDATE) {
        tab->download_state = DOWNLOAD_RUNNING;
        set_tab_title(tab, update_tab_title());
        // The downloader thread is started by the updates code with tab->id.
        atomic_and(&global_flags, ~(u64)UPDATE_IS_AVAILABLE);
    }
    renumber_tabs();
    return tab_at(at);
}

// The keyboard goes back to what the current tab shows.
static void leave_listers() {
    ui_layer_in_focus = 0;
    atomic_and(&global_flags, ~(u64)(SHOW_FILE_LISTER | SHOW_SEARCH_LISTER));
    if (!(global_editor_context & CONTEXT_LISTER)) return;
    global_editor_context = CONTEXT_FILE;
    Tab *tab = current_tab();
    current_file = nullptr;
    if (!tab) return;
    if (tab->kind == TAB_FILE) current_file = (File *)tab->content;
    else if (tab->kind == TAB_TERMINAL) {
        current_file = tab->input_line;
        global_editor_context = CONTEXT_TERMINAL;
    }
}

void set_tab_animation(Tab *tab, u8 a) {
    u8 s = tab->animation;
    bool start = s == TAB_ANIMATION_NONE;
    bool reverse = (s == 1 && a == 3) || (s == 3 && a == 1) || (s == 2 && a == 4) || (s == 4 && a == 2);
    if (!start && !reverse) return;
    tab->animation = a;
    if (start) tab->animation_time = 0;
    ui_do_not_stop_after_current_frame();
}

void set_current_tab(u32 index, bool leave_lister) {
    Tab *tab = tab_at(index);
    if (!tab) return;
    if (leave_lister) leave_listers();
    Tab *old = current_tab();
    u64 now = editor_now();
    if (old && old != tab) {
        bool to_lower = index < current_tab_index;
        set_tab_animation(tab, to_lower ? TAB_ANIMATION_IN_FROM_RIGHT : TAB_ANIMATION_IN_FROM_LEFT);
        set_tab_animation(old, to_lower ? TAB_ANIMATION_OUT_TO_LEFT : TAB_ANIMATION_OUT_TO_RIGHT);
        old->hidden_at = now;
        tab->shown_at = now;
    }
    if (tab->kind == TAB_FILE) {
        File *file = (File *)tab->content;
        current_file = file;
        global_editor_context = CONTEXT_FILE;
        if (file && file->directory.count > 0) filepath_copy(&editor_working_directory, &file->directory);
    } else if (tab->kind == TAB_TERMINAL) {
        current_file = tab->input_line;
        global_editor_context = CONTEXT_TERMINAL;
    } else {
        current_file = nullptr;
        global_editor_context = CONTEXT_FILE;
    }
    last_time_we_switched_tabs = now;
    editor_stamp_activity();
    current_tab_index = index;
}

bool close_tab(Tab *tab) {
    if (!tab) return false;
    spin_lock(&tabs_read_lock);
    if (tab->kind == TAB_UPDATE && tab->download_state == DOWNLOAD_RUNNING) {
        spin_unlock(&tabs_read_lock);
        return false;
    }
    u32 index = tab->index;
    bool was_current = index == current_tab_index;
    current_file = nullptr;
    atomic_and(&global_flags, ~(u64)MODIFYING_FILE_NAME);
    leave_listers();
    current_file = nullptr;
    switch (tab->kind) {
    case TAB_FILE:
        if (tab->content) close_file((File *)tab->content);
        break;
    case TAB_TERMINAL:
        // The terminal code owns its process and buffers; its input line is ours.
        if (close_terminal_hook && tab->content) close_terminal_hook(tab->content);
        if (tab->input_line) close_file(tab->input_line);
        break;
    case TAB_COMPILE_ERRORS:
        compile_errors.count = 0;
        break;
    default:
        break;
    }
    if (tab_being_dragged == tab) tab_being_dragged = nullptr;
    dynamic_array_remove(&tabs, index);
    renumber_tabs();
    if (tabs.count == 0) {
        current_tab_index = 0;
        global_editor_context = CONTEXT_FILE;
    } else {
        if (!was_current && current_tab_index > index) current_tab_index--;
        if (current_tab_index >= tabs.count) current_tab_index = tabs.count - 1;
        if (was_current) {
            // The tab left most recently comes back, not simply a neighbour.
            u64 now = editor_now();
            u64 best_age = ~0ull;
            for (u32 i = 0; i < tabs.count; i++) {
                u64 hidden = tab_at(i)->hidden_at;
                u64 age = now >= hidden ? now - hidden : 0;
                if (age < best_age) {
                    best_age = age;
                    current_tab_index = i;
                }
            }
        }
        spin_unlock(&tabs_read_lock);
        // Already the current index, so no animation and no hidden-at stamp
        // for the tab that went away; this restores the file and context.
        set_current_tab(current_tab_index, true);
        return true;
    }
    spin_unlock(&tabs_read_lock);
    return true;
}

void move_tab(u32 from, u32 to) {
    if (from >= tabs.count) return;
    if (to >= tabs.count) to = tabs.count - 1;
    Tab moving = *tab_at(from);
    dynamic_array_remove(&tabs, from);
    *(Tab *)dynamic_array_insert(&tabs, to) = moving;
    u32 current_id = current_tab() ? current_tab()->id : ~0u;
    renumber_tabs();
    // The current index follows its record before the moved tab takes over.
    Tab *was = find_tab_by_id(current_id);
    if (was) current_tab_index = was->index;
    set_current_tab(to, true);
}

// [SECTION] Unsaved work

const char *const UNSAVED_CHANGES_NOTICE = "Unsaved changes: close again to discard";

static u8 refused_request;
static u32 refused_tab_id;
static u64 refused_at;

bool tab_has_unsaved_work(Tab *tab) {
    if (!tab) return false;
    File *file = tab_file(tab);
    // A file tab with nothing in it and no name has nothing to lose.
    return file && file_has_flags(file, FILE_UNSAVED) && (file_length(file) > 0 || file->name.count > 0);
}

bool any_tab_has_unsaved_work() {
    for (u32 i = 0; i < tabs.count; i++)
        if (tab_has_unsaved_work(tab_at(i))) return true;
    return false;
}

bool confirm_close_request(u8 request, u32 tab_id, bool has_unsaved_work) {
    if (!has_unsaved_work) return true;
    u64 now = editor_now();
    bool same = refused_request == request && (request == CLOSE_REQUEST_EXIT || refused_tab_id == tab_id);
    if (same && now >= refused_at && now - refused_at <= CLOSE_CONFIRM_MICROSECONDS) {
        refused_request = 0;
        return true;
    }
    refused_request = request;
    refused_tab_id = tab_id;
    refused_at = now;
    // The notice must go away by itself: keep frames coming until it does.
    ui_do_not_stop_after_current_frame();
    return false;
}

String close_notice_text() {
    if (!refused_request) return String{nullptr, 0};
    u64 now = editor_now();
    if (now < refused_at || now - refused_at > CLOSE_CONFIRM_MICROSECONDS) {
        refused_request = 0;
        return String{nullptr, 0};
    }
    ui_do_not_stop_after_current_frame();
    return S(UNSAVED_CHANGES_NOTICE);
}

bool request_close_tab(Tab *tab) {
    if (!tab) return false;
    if (!confirm_close_request(CLOSE_REQUEST_TAB, tab->id, tab_has_unsaved_work(tab))) return false;
    return close_tab(tab);
}

void request_exit() {
    if (confirm_close_request(CLOSE_REQUEST_EXIT, 0, any_tab_has_unsaved_work()))
        atomic_and(&global_flags, ~(u64)SHOULD_RUN);
}
