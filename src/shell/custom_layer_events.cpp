#include "shell/custom_layer_events.h"
#include "shell/globals.h"
#include "shell/editor_commands.h"
#include "text/editor_api.h"
#include "render/window.h"
#include "text/editor_api_types.h"
#include "text/text_state.h"

void ui_do_not_stop_after_current_frame(); // render/ui.h names another Colour

volatile u8 custom_layer_lock;
volatile u8 custom_layer_events_lock;
void (*custom_layer_events_entry)();
void (*custom_layer_syntax_entry)(File *file);
volatile u8 custom_layer_recompile_requested;
bool (*compile_custom_layer_hook)(bool use_cache);
Custom_Layer_Event *custom_layer_events;
u64 custom_layer_num_events;

static u8 custom_layer_modifiers(u8 window_modifiers) {
    u8 m = 0;
    if (window_modifiers & MODIFIER_CONTROL) m |= CUSTOM_LAYER_CONTROL;
    if (window_modifiers & MODIFIER_ALT) m |= CUSTOM_LAYER_ALT;
    if (window_modifiers & MODIFIER_SHIFT) m |= CUSTOM_LAYER_SHIFT;
    return m;
}

void update_editor() {
    u32 queued = window.num_events;
    custom_layer_events = (Custom_Layer_Event *)tmp_allocate_aligned((u64)(queued ? queued : 1) * sizeof(Custom_Layer_Event), 4);
    custom_layer_num_events = 0;
    u64 now = editor_now();
    for (u32 i = 0; i < queued; i++) {
        Event *e = &window.events[i];
        Custom_Layer_Event out = {};
        switch (e->type) {
        case EVENT_CHARACTER:
        case EVENT_KEY_PRESSED:
        case EVENT_KEY_RELEASED:
            ui_do_not_stop_after_current_frame();
            last_event_time_stamp = now;
            out.kind = e->type;
            out.code = e->code;
            break;
        case EVENT_MOUSE:
            last_event_time_stamp = now;
            if (!(e->bits & MOUSE_LEFT_DOWN)) continue;
            out.kind = CUSTOM_LAYER_EVENT_LEFT_PRESS;
            break;
        default:
            continue;
        }
        out.modifiers = custom_layer_modifiers(e->modifiers);
        custom_layer_events[custom_layer_num_events++] = out;
    }
    spin_lock(&custom_layer_events_lock);
    if (custom_layer_num_events > 0) run_custom_layer_events();
    spin_unlock(&custom_layer_events_lock);
}

// New tabs, tab switches and terminal commands the layer asked for are
// carried out as soon as the routine returns, not after the whole frame's
// events: the later events of the same frame then reach the tab they meant.
static void carry_out_queued_commands() {
    if (editor_commands.count > 0) run_editor_commands();
}

void run_custom_layer_events() {
    spin_lock(&custom_layer_lock);
    if (custom_layer_events_entry) {
        custom_layer_execution_file = nullptr;
        api_after_routine_hook = carry_out_queued_commands;
        custom_layer_events_entry();
        api_after_routine_hook = nullptr;
    }
    spin_unlock(&custom_layer_lock);
}
