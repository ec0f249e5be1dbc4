// Activity globals the frame loop also reads. They live alone in this file so
// that a static link takes them from here only when no other layer of the
// editor already defines them.
#include "text/text_state.h"

u64 last_time_we_asked_to_disable_vsync;
u64 global_get_num_lines_time;
