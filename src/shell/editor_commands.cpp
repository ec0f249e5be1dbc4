#include "shell/editor_commands.h"
#include "shell/tabs.h"
#include "shell/globals.h"
#include "text/file.h"
#include "text/text_state.h"

Dynamic_Array editor_commands;
void (*run_terminal_command_hook)(Editor_Command *command);

void editor_commands_init() {
    dynamic_array_free(&editor_commands);
    dynamic_array_init(&editor_commands, sizeof(Editor_Command), 4);
}

// Commands are big (a path record inside); only the header is cleared.
static Editor_Command *new_command(u8 kind) {
    if (editor_commands.element_size != sizeof(Editor_Command)) editor_commands_init();
    Editor_Command *c = (Editor_Command *)dynamic_array_add(&editor_commands);
    c->kind = kind;
    c->tab_kind = 0;
    c->tab = 0;
    c->payload = 0;
    c->directory.count = 0;
    return c;
}

void queue_add_tab_command(u8 tab_kind, File *file) {
    Editor_Command *c = new_command(EDITOR_COMMAND_ADD_TAB);
    c->tab_kind = tab_kind;
    c->tab = tmp_current_tab_index + 1;
    c->payload = (u64)(uintptr_t)file;
}

void queue_switch_to_tab_command(u32 tab_id) {
    Editor_Command *c = new_command(EDITOR_COMMAND_SWITCH_TO_TAB);
    c->tab = tab_id;
}

bool queue_terminal_command(String command, const Filepath *directory) {
    if (command.count < 0 || command.count > (s64)EDITOR_COMMAND_TEXT_CAPACITY) return false;
    Editor_Command *c = new_command(EDITOR_COMMAND_RUN_TERMINAL_COMMAND);
    if (command.count) memcpy(c->command_text, command.data, (size_t)command.count);
    c->payload = (u64)command.count;
    if (directory) filepath_copy(&c->directory, directory);
    return true;
}

void run_editor_commands() {
    // A command may queue another (a new tab asking for a switch): walk by index.
    for (u32 i = 0; i < editor_commands.count; i++) {
        Editor_Command *c = dynamic_array_at<Editor_Command>(&editor_commands, i);
        switch (c->kind) {
        case EDITOR_COMMAND_ADD_TAB: {
            File *file = (File *)(uintptr_t)c->payload;
            Tab *tab = add_a_tab(c->tab_kind);
            if (!tab) break;
            if (c->tab_kind == TAB_FILE) tab->content = file;
            else if (c->tab_kind == TAB_TERMINAL) tab->input_line = file;
            refresh_file_tab_title(tab);
            set_current_tab(tab->index, true);
            break;
        }
        case EDITOR_COMMAND_SWITCH_TO_TAB: {
            Tab *tab = find_tab_by_id(c->tab);
            if (tab) set_current_tab(tab->index, true); // an unknown id is dropped
            break;
        }
        case EDITOR_COMMAND_RUN_TERMINAL_COMMAND:
            if (run_terminal_command_hook) run_terminal_command_hook(c);
            break;
        }
    }
    editor_commands.count = 0;
}
