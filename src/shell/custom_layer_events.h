// The frame's keyboard and mouse events as the custom layer's #events block
// sees them, and the call points through which the loaded layer runs. Until
// a compiled layer is loaded the entry points are null and nothing runs.
#pragma once
#include "core/base.h"
struct File;
struct Custom_Layer_Event;

extern volatile u8 custom_layer_lock;
extern volatile u8 custom_layer_events_lock;
// Set by the custom layer loader; null while no layer with that block is loaded.
extern void (*custom_layer_events_entry)();
extern void (*custom_layer_syntax_entry)(File *file);
// Asked for by the file watcher when custom.8 changed; the loader installs
// the compile step.
extern volatile u8 custom_layer_recompile_requested;
extern bool (*compile_custom_layer_hook)(bool use_cache);

// This frame's events (temporary memory), read by get_events.
extern Custom_Layer_Event *custom_layer_events;
extern u64 custom_layer_num_events;

// Translates the window's queued events into custom layer events and runs
// #events when there is at least one.
void update_editor();
// The #events call point: runs the loaded entry under the custom layer lock.
void run_custom_layer_events();
