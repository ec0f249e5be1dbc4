// Tabs: every view the editor shows lives in one. The records sit in one
// array in display order; they move on insertion, removal and reordering, so
// nothing keeps a pointer to a tab across frames but the drag in progress.
#pragma once
#include "core/base.h"
#include "core/memory.h"

struct File;

enum Tab_Kind : u8 {
    TAB_FILE = 1,
    TAB_TERMINAL = 2,
    TAB_COMPILE_ERRORS = 4,
    TAB_UPDATE = 8,
};

enum Tab_Animation : u8 {
    TAB_ANIMATION_NONE = 0,
    TAB_ANIMATION_IN_FROM_LEFT = 1,
    TAB_ANIMATION_IN_FROM_RIGHT = 2,
    TAB_ANIMATION_OUT_TO_LEFT = 3,
    TAB_ANIMATION_OUT_TO_RIGHT = 4,
};

enum Download_State : u8 {
    DOWNLOAD_RUNNING = 0,
    DOWNLOAD_FAILED = 1,
    DOWNLOAD_SUCCEEDED = 2,
};

constexpr u32 TAB_TITLE_CAPACITY = 512;

struct Tab {
    String title;        // into title_buffer; re-pointed after every move
    u32 index;
    u32 id;
    u64 shown_at;
    u64 hidden_at;
    f32 grab_offset;
    u32 drag_slot;
    f32 animation_time;
    u8 kind;             // Tab_Kind
    u8 animation;        // Tab_Animation
    u8 hovered;
    u8 dragged;
    void *content;       // TAB_FILE: File; TAB_TERMINAL: the terminal
    File *input_line;    // TAB_TERMINAL: the command being typed
    u8 download_state;   // TAB_UPDATE
    f32 download_fraction; // TAB_UPDATE: received / total, 0 … 1
    u8 title_buffer[TAB_TITLE_CAPACITY];
};
static_assert(sizeof(Tab) <= 600, "the tab record outgrew its budget");

extern Dynamic_Array tabs; // Tab
extern u32 current_tab_index;
extern u32 tmp_current_tab_index;
extern u32 next_tab_id;
extern Tab *tab_being_dragged;
extern f32 global_tabs_horizontal_offset_px;
extern volatile u8 tabs_read_lock;

// Creates the empty tab array (start-up, and tests starting clean).
void tabs_init();
inline u32 num_tabs() { return tabs.count; }
inline Tab *tab_at(u32 index) { return index < tabs.count ? dynamic_array_at<Tab>(&tabs, index) : nullptr; }
Tab *current_tab();
File *tab_file(Tab *tab); // the file a file tab shows, else null
Tab *find_tab_by_id(u32 id);
Tab *find_tab_of_kind(u8 kind);
Tab *find_file_tab(File *file);

// A tab right after the current one (min(current + 1, count)); the new
// record is returned but not made current. Null for an update tab while no
// update is available.
Tab *add_a_tab(u8 kind);
// Renumbers 0 … n−1 and re-points the titles after records moved.
void renumber_tabs();
void set_tab_title(Tab *tab, String title);
// A file tab's title: its name ("untitled" before it has one), "*" in front
// while it has unsaved changes.
void refresh_file_tab_title(Tab *tab);

void set_current_tab(u32 index, bool leave_lister);
void set_tab_animation(Tab *tab, u8 animation);
// Closes at once, whatever the tab holds. An update tab whose download
// runs stays open. Returns false when nothing was closed.
bool close_tab(Tab *tab);
// Moves the record at `from` to `to` (clamped), renumbers, makes it current.
void move_tab(u32 from, u32 to);

// [SECTION] Unsaved work
// A close that would drop unsaved changes is refused once with a notice in
// the top bar; the same request again within CLOSE_CONFIRM_MICROSECONDS
// goes ahead.
constexpr u64 CLOSE_CONFIRM_MICROSECONDS = 3000000;
extern const char *const UNSAVED_CHANGES_NOTICE;
enum Close_Request : u8 {
    CLOSE_REQUEST_TAB = 1,  // the current tab, or the tab's close glyph
    CLOSE_REQUEST_EXIT = 2, // exit_program or the window's close button
};
// True when the request may go ahead now. `tab_id` names the tab for a tab
// request (ignored for exit).
bool confirm_close_request(u8 request, u32 tab_id, bool has_unsaved_work);
bool tab_has_unsaved_work(Tab *tab);
bool any_tab_has_unsaved_work();
// The notice to show in the top bar, or an empty String once it expired.
String close_notice_text();
// close_tab behind the unsaved-work guard; true when the tab went away.
bool request_close_tab(Tab *tab);
// Exit behind the same guard: clears SHOULD_RUN unless refused.
void request_exit();

// Shut-down: stops every terminal tab's process (installed by the terminal
// code; called with tabs_read_lock held).
extern void (*shutdown_terminals_hook)();
// Closing a terminal tab: kills its process group and frees the terminal.
extern void (*close_terminal_hook)(void *terminal);
