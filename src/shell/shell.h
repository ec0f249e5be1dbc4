// The shell's start-up: tabs, commands, themes and the text core's seams.
#pragma once
#include "core/base.h"

struct File;

// Fills the text core's hooks with the shell's tabs, flags, fonts, themes
// and events (call after editor_text_init).
void install_shell_hooks();
// Empty tabs and command queue, default themes, then install_shell_hooks.
void shell_init();
// Loads `path` into a fresh record and queues its tab (current after the
// next frame's commands). With line ≥ 0 the cursor goes to that line's
// start (clamped) and the view centres on it. Null when it cannot be read.
File *open_file_in_new_tab(String path, s64 line);

// Start-up step 10: the foreign routines' name hashes, then the compiler.
void startup_hash_foreign_routines();
void startup_init_compiler(String executable_directory);
