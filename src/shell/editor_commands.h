// Requests queued for the frame driver (by the editor API, the listers, the
// top bar and start-up) and carried out once per frame, in queue order.
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "text/filepath.h"

struct File;

enum Editor_Command_Kind : u8 {
    EDITOR_COMMAND_ADD_TAB = 0,
    EDITOR_COMMAND_SWITCH_TO_TAB = 1,
    EDITOR_COMMAND_RUN_TERMINAL_COMMAND = 2,
};

constexpr u32 EDITOR_COMMAND_TEXT_CAPACITY = 4096;

struct Editor_Command {
    u8 kind;       // Editor_Command_Kind
    u8 tab_kind;   // ADD_TAB: Tab_Kind of the new tab
    u32 tab;       // SWITCH_TO_TAB: tab id; ADD_TAB: current index + 1 when queued
    u64 payload;   // ADD_TAB: the File shown (or a terminal's input line); RUN: text length
    u8 command_text[EDITOR_COMMAND_TEXT_CAPACITY];
    Filepath directory; // RUN: where the command runs
};
static_assert(sizeof(Editor_Command) <= 21536, "the editor command outgrew its budget");

extern Dynamic_Array editor_commands; // Editor_Command

void editor_commands_init();
void queue_add_tab_command(u8 tab_kind, File *file);
void queue_switch_to_tab_command(u32 tab_id);
// Text longer than the command buffer is refused (false).
bool queue_terminal_command(String command, const Filepath *directory);

// Called back for each RUN command; the terminal code installs it. Without
// one the command is dropped.
extern void (*run_terminal_command_hook)(Editor_Command *command);

// Carries out every queued command and empties the queue.
void run_editor_commands();
