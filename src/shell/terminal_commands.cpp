// The terminal's input line: running what was typed (with the editor's own
// `cd` and `clear`), the history and path completion.
#include "shell/terminal.h"
#include "core/log.h"
#include "core/strings.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

// PATH as /etc/environment has it now, so newly installed tools are found.
static void terminal_refresh_path() {
    s32 fd = open("/etc/environment", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buffer[8192];
    ssize_t n = read(fd, buffer, sizeof(buffer) - 1);
    close(fd);
    if (n <= 0) return;
    buffer[n] = 0;
    for (char *line = buffer; line && *line;) {
        char *next = strchr(line, '\n');
        if (next) *next++ = 0;
        if (strncmp(line, "PATH=", 5) == 0) {
            char *value = line + 5;
            u64 length = strlen(value);
            if (length >= 2 && value[0] == '"' && value[length - 1] == '"') {
                value[length - 1] = 0;
                value++;
            }
            setenv("PATH", value, 1);
            return;
        }
        line = next;
    }
}

static void input_line_set_text(File *input, String text) {
    if (file_length(input)) text_raw_remove(input, 0, file_length(input));
    if (text.count) text_raw_insert(input, 0, text.data, (u64)text.count);
    input->cursor = input->selection_anchor = (u64)text.count;
    file_update_selection_pointers(input);
    file_set_flags(input, FILE_CHANGED);
    editor_stamp_activity();
}

static void history_entry_set(Terminal_History_Entry *entry, String text) {
    u64 n = text.count < (s64)TERMINAL_HISTORY_TEXT ? (u64)text.count : TERMINAL_HISTORY_TEXT;
    memcpy(entry->buffer, text.data, n);
    entry->text = String{entry->buffer, (s64)n};
}

static void terminal_history_add(Terminal *terminal, String command) {
    if (command.count == 0) return;
    u32 n = terminal->history.count;
    Terminal_History_Entry *newest = n ? dynamic_array_at<Terminal_History_Entry>(&terminal->history, n - 1) : nullptr;
    if (!newest || !string_equal(newest->text, command)) {
        Terminal_History_Entry *entry = (Terminal_History_Entry *)dynamic_array_add(&terminal->history);
        history_entry_set(entry, command);
        // Entries move when the array grows: re-point every view.
        for (u32 i = 0; i < terminal->history.count; i++) {
            Terminal_History_Entry *e = dynamic_array_at<Terminal_History_Entry>(&terminal->history, i);
            e->text.data = e->buffer;
        }
    }
    terminal->history_cursor = terminal->history.count;
    terminal->typed_line.count = 0;
}

void terminal_history_previous(Terminal *terminal, File *input) {
    if (terminal->history_cursor == 0 || terminal->history.count == 0) return;
    if (terminal->history_cursor >= terminal->history.count) {
        terminal->history_cursor = terminal->history.count;
        terminal->typed_line.count = 0;
        Terminal_History_Entry *typed = (Terminal_History_Entry *)dynamic_array_add(&terminal->typed_line);
        history_entry_set(typed, file_text_string(input));
    }
    terminal->history_cursor--;
    Terminal_History_Entry *e = dynamic_array_at<Terminal_History_Entry>(&terminal->history, terminal->history_cursor);
    e->text.data = e->buffer;
    input_line_set_text(input, e->text);
}

void terminal_history_next(Terminal *terminal, File *input) {
    if (terminal->history_cursor >= terminal->history.count) return;
    terminal->history_cursor++;
    if (terminal->history_cursor == terminal->history.count) {
        String typed = {};
        if (terminal->typed_line.count) {
            Terminal_History_Entry *t = dynamic_array_at<Terminal_History_Entry>(&terminal->typed_line, 0);
            typed = String{t->buffer, t->text.count};
        }
        input_line_set_text(input, typed);
        return;
    }
    Terminal_History_Entry *e = dynamic_array_at<Terminal_History_Entry>(&terminal->history, terminal->history_cursor);
    input_line_set_text(input, String{e->buffer, e->text.count});
}

static String first_word(String s) {
    s64 i = 0;
    while (i < s.count && (s.data[i] == ' ' || s.data[i] == '\t')) i++;
    s64 start = i;
    while (i < s.count && s.data[i] != ' ' && s.data[i] != '\t') i++;
    return String{s.data + start, i - start};
}

static void result_set_message(Terminal_Result *result, String message) {
    spin_lock(&result->lock);
    terminal_result_append_output(result, message.data, (u64)message.count);
    atomic_or32(&result->flags, RESULT_NEW_OUTPUT);
    spin_unlock(&result->lock);
}

// `cd`: relative to the terminal's directory, "." dropped, ".." never above
// the root; "~" (and no argument) is the home directory.
static void terminal_change_directory(Terminal *terminal, String command, String word) {
    Terminal_Result *result = add_a_terminal_result(terminal, command);
    terminal->current_result = result;
    String argument = String{word.data + word.count, command.count - (word.data + word.count - command.data)};
    while (argument.count && (argument.data[0] == ' ' || argument.data[0] == '\t')) argument.data++, argument.count--;
    while (argument.count && (argument.data[argument.count - 1] == ' ' || argument.data[argument.count - 1] == '\t'))
        argument.count--;
    if (argument.count >= 2 && (argument.data[0] == '"' || argument.data[0] == '\'') &&
        argument.data[argument.count - 1] == argument.data[0])
        argument.data++, argument.count -= 2;
    Tmp_Scope scope;
    u8 *copy = (u8 *)tmp_allocate((u64)argument.count + 1);
    for (s64 i = 0; i < argument.count; i++) copy[i] = argument.data[i] == '\\' ? '/' : argument.data[i];
    String path = {copy, argument.count};
    Filepath *target = (Filepath *)tmp_allocate_aligned(sizeof(Filepath) * 2, 8);
    Filepath *parts = target + 1;
    const char *home = getenv("HOME");
    if (path.count == 0 || (path.data[0] == '~' && (path.count == 1 || path.data[1] == '/'))) {
        set_filepath_from(target, S(home && *home ? home : "/"));
        if (path.count) path.data++, path.count--;
    } else if (path.data[0] == '/') {
        set_filepath_from(target, S("/"));
    } else {
        filepath_copy(target, &terminal->directory);
    }
    bool ok = set_filepath_from(parts, path);
    for (u64 i = 0; ok && i < parts->count; i++) {
        String c = parts->components[i].view;
        if (string_equal(c, S("/")) || string_equal(c, S("."))) continue;
        if (string_equal(c, S(".."))) {
            if (target->count > 1 || (target->count == 1 && !string_equal(target->components[0].view, S("/"))))
                filepath_pop(target, nullptr);
            continue;
        }
        ok = filepath_push(target, c);
    }
    const char *joined = filepath_to_c_string(target);
    DIR *d = ok ? opendir(joined) : nullptr;
    if (!d) {
        result_set_message(result, string_concat2("Directory '%' does not seem to exist.", S(joined)));
        atomic_or32(&result->flags, RESULT_FAILED);
        return;
    }
    closedir(d);
    filepath_copy(&terminal->directory, target);
}

void execute_terminal_command_line(Terminal *terminal, File *input, String *title, u8 *title_buffer, u32 capacity) {
    terminal_refresh_path();
    String command = file_text_string(input);
    terminal_history_add(terminal, command);

    Terminal_Result *running = terminal->current_result;
    // A program that has ended (its last output still draining) reads no
    // more input: the line is a new command.
    u32 flags = running ? __atomic_load_n(&running->flags, __ATOMIC_SEQ_CST) : 0;
    if ((flags & RESULT_PROCESS_ALIVE) && !(flags & RESULT_CHILD_EXITED)) {
        // Input for the running program.
        Tmp_Scope scope;
        u8 *line = (u8 *)tmp_allocate((u64)command.count + 1);
        memcpy(line, command.data, (size_t)command.count);
        line[command.count] = '\n';
        if (write(running->pty, line, (size_t)command.count + 1) != command.count + 1)
            atomic_or32(&running->flags, RESULT_FAILED);
        atomic_or32(&running->flags, RESULT_NEW_OUTPUT);
        input_line_set_text(input, String{});
        return;
    }

    String word = first_word(command);
    if (word.count == 0) {
        input_line_set_text(input, String{});
        return;
    }
    if (title && title_buffer && capacity) {
        String t = string_concat2("% | %", word, filepath_to_string(&terminal->directory));
        u64 n = (u64)t.count < capacity ? (u64)t.count : capacity;
        memcpy(title_buffer, t.data, n);
        *title = String{title_buffer, (s64)n};
    }
    if (string_equal(word, S("cd"))) {
        terminal_change_directory(terminal, command, word);
    } else if (string_equal(word, S("clear")) && first_word(String{word.data + word.count, command.count - (word.data + word.count - command.data)}).count == 0) {
        clear_terminal_history(terminal);
    } else {
        // The command goes to sh as one argument, so its own quotes survive
        // (pasting it between single quotes would break on the first one).
        char *arguments[4] = {(char *)"sh", (char *)"-ci", (char *)to_tmp_c_string(command), nullptr};
        if (!terminal_execute_arguments(terminal, "sh", arguments, command))
            add_log(nullptr, LOG_ERROR, "failed to execute command line '%s'.", to_tmp_c_string(command));
    }
    input_line_set_text(input, String{});
}

bool auto_complete_filepath_in_terminal(Terminal *terminal, File *input) {
    u8 *text = file_text(input);
    u64 cursor = input->cursor;
    u64 start = cursor;
    while (start > 0) {
        u8 c = text[start - 1];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\'' || c == '"') break;
        start--;
    }
    Tmp_Scope scope;
    u64 length = cursor - start;
    char *word = (char *)tmp_allocate(length + 1);
    for (u64 i = 0; i < length; i++) word[i] = text[start + i] == '\\' ? '/' : (char)text[start + i];
    word[length] = 0;
    s64 slash = (s64)length - 1;
    while (slash >= 0 && word[slash] != '/') slash--;
    bool absolute = length > 0 && (word[0] == '/' || (length >= 2 && word[1] == ':'));
    String prefix = {(u8 *)word + slash + 1, (s64)length - slash - 1};
    String dir_part = {(u8 *)word, slash + 1};
    const char *directory;
    if (absolute) directory = to_tmp_c_string(dir_part.count ? dir_part : S("/"));
    else directory = to_tmp_c_string(string_concat2("%/%", filepath_to_string(&terminal->directory), dir_part));
    DIR *d = opendir(directory);
    if (!d) return false;
    char common[256];
    s64 common_length = -1;
    while (dirent *e = readdir(d)) {
        String name = S(e->d_name);
        if (string_equal(name, S(".")) || string_equal(name, S(".."))) continue;
        if (!string_starts_with(name, prefix)) continue;
        if (common_length < 0) {
            memcpy(common, e->d_name, (size_t)name.count);
            common_length = name.count;
        } else {
            s64 i = 0;
            while (i < common_length && i < name.count && common[i] == e->d_name[i]) i++;
            common_length = i;
        }
    }
    closedir(d);
    if (common_length <= prefix.count) return false;
    String extra = {(u8 *)common + prefix.count, common_length - prefix.count};
    if (!editor_insert_text_at(input, cursor, extra, false)) return false;
    input->cursor = cursor + (u64)extra.count;
    if (!file_has_flags(input, FILE_SELECTION_ACTIVE)) input->selection_anchor = input->cursor;
    file_update_selection_pointers(input);
    file_set_flags(input, FILE_CHANGED);
    return true;
}
