// Start-up steps kept apart from the window code: the editor API's and the
// compiler's headers each name types the renderer names too.
#include "shell/shell.h"
#include "text/editor_api.h"

void startup_hash_foreign_routines() { setup_foreign_routines_table(); }
