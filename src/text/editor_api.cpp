// The routine table and the dispatcher every foreign call enters.
#include "text/editor_api_internal.h"
#include "core/meow_hash.h"

#define API_TABLE_ENTRY(id, name) {#name, sizeof(#name) - 1, 0, id},
Foreign_Routine foreign_routines[NUM_FOREIGN_ROUTINES] = {API_ROUTINES(API_TABLE_ENTRY)};
#undef API_TABLE_ENTRY

using Api_Body = void (*)(u8 *block);
#define API_BODY_ENTRY(id, name) api_##name,
static const Api_Body api_bodies[NUM_FOREIGN_ROUTINES] = {API_ROUTINES(API_BODY_ENTRY)};
#undef API_BODY_ENTRY

void setup_foreign_routines_table() {
    for (Foreign_Routine &routine : foreign_routines)
        routine.hash = meow_hash_u64(String{(u8 *)routine.name, (s64)routine.name_length});
}

u16 foreign_routine_id(String name) {
    for (const Foreign_Routine &routine : foreign_routines)
        if ((s64)routine.name_length == name.count && memcmp(routine.name, name.data, routine.name_length) == 0)
            return routine.id;
    return 0;
}

// Blocks are indexed by id - 1 so the table lookup is one load.
static u8 block_of_id[NUM_FOREIGN_ROUTINES + 1];
static bool block_of_id_ready;

void handle_foreign_call(u8 *block, u64 id) {
    u64 index = id - 1; // id 0 wraps around and is refused with the rest
    if (index >= NUM_FOREIGN_ROUTINES) return;
    if (!block_of_id_ready) {
        for (u32 i = 0; i < num_api_block_layouts; i++) block_of_id[api_block_layouts[i].id] = 1;
        block_of_id_ready = true;
    }
    if (!block && block_of_id[id]) return; // nothing to read the arguments from
    api_bodies[index](block);
    if (api_after_routine_hook) api_after_routine_hook();
}

void (*api_after_routine_hook)();
