#include "shell/globals.h"

volatile u64 global_flags = SHOULD_RUN;
volatile u8 global_editor_context = CONTEXT_FILE;
f32 delta_time;
u64 last_event_time_stamp;
u64 last_time_we_switched_tabs;
