// Terminal slots, their processes and the worker that reads a running
// command's pseudo-terminal.
#include "shell/terminal.h"
#include "shell/lister_hooks.h"
#include "core/log.h"
#include "core/strings.h"
#include "text/text_state.h"
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static void worker_no_wake() {}
static bool worker_focused() { return true; }
Worker_Hooks worker_hooks = {worker_no_wake, worker_focused, nullptr};

Bucket_Array terminals;
static Memory_Pool terminals_pool;
static Memory_Pool terminal_results_pool;
static bool terminals_ready;

void terminal_fill_colour_tables();
void terminal_result_init_output(Terminal_Result *result);

void init_terminals() {
    if (terminals_ready) return;
    terminal_fill_colour_tables();
    _init_memory_pool(&terminals_pool, sizeof(Terminal), NUM_TERMINALS_PER_BUCKET, NUM_TERMINALS_BUCKETS_PER_PAGE,
                      nullptr, os_allocate_read_write);
    _init_memory_pool(&terminal_results_pool, sizeof(Terminal_Result), NUM_TERMINAL_RESULTS_PER_BUCKET,
                      NUM_TERMINAL_RESULTS_BUCKETS_PER_PAGE, nullptr, os_allocate_read_write);
    bucket_array_init(&terminals, &terminals_pool);
    terminals_ready = true;
}

constexpr u64 TERMINAL_WAKE_INTERVAL_US = 4000;

static void sleep_microseconds(u64 us) {
    timespec t = {(time_t)(us / 1000000), (long)(us % 1000000) * 1000};
    nanosleep(&t, nullptr);
}

Terminal *add_a_terminal(const Filepath *directory) {
    init_terminals();
    Terminal *terminal = nullptr;
    for (Bucket_Iterator it = bucket_iterate(&terminals); it.element; bucket_iterator_next(&it)) {
        Terminal *t = (Terminal *)it.element;
        if (!(t->flags & TERMINAL_IN_USE)) {
            terminal = t;
            clear_terminal_history(terminal);
            break;
        }
    }
    if (!terminal) terminal = (Terminal *)bucket_array_add(&terminals);
    memset((void *)terminal, 0, sizeof(Terminal));
    terminal->child_pid = terminal->process_group = terminal->pty = -1;
    filepath_copy(&terminal->directory, directory);
    dynamic_array_init(&terminal->history, sizeof(Terminal_History_Entry));
    dynamic_array_init(&terminal->typed_line, sizeof(Terminal_History_Entry));
    bucket_array_init(&terminal->results, &terminal_results_pool);
    terminal->flags = TERMINAL_IN_USE;
    return terminal;
}

static bool process_group_is_gone(s32 group) { return kill(-group, 0) == -1 && errno == ESRCH; }

void kill_terminal_process(Terminal *terminal) {
    atomic_and32(&terminal->flags, ~(u32)TERMINAL_WORKER_RUNNING);
    spin_lock(&terminal->lock);
    if (terminal->child_pid > 0) {
        s32 group = terminal->process_group;
        // An interactive sh runs each job in its own group, the pty's foreground one.
        s32 foreground = terminal->pty >= 0 ? tcgetpgrp(terminal->pty) : -1;
        if (foreground == group || foreground <= 1) foreground = -1;
        // An interactive sh ignores SIGTERM and would go on with the rest of
        // its list ("sleep 30; make") once the job dies; a hang-up ends it.
        kill(-group, SIGHUP);
        kill(-group, SIGTERM);
        if (foreground > 0) kill(-foreground, SIGTERM);
        for (u32 waited = 0; waited < 100; waited++) {
            if (process_group_is_gone(group) && (foreground < 0 || process_group_is_gone(foreground))) break;
            sleep_microseconds(1000);
        }
        kill(-group, SIGKILL);
        if (foreground > 0) kill(-foreground, SIGKILL);
    }
    // The worker closes the descriptor itself: closing it under its read
    // would let a reused descriptor number be read.
    terminal->child_pid = terminal->process_group = terminal->pty = -1;
    if (terminal->current_result) atomic_and32(&terminal->current_result->flags, ~(u32)RESULT_PROCESS_ALIVE);
    spin_unlock(&terminal->lock);
}

// The worker may still hold a result for a moment after it was told to stop.
static void terminal_wait_for_worker(Terminal_Result *result) {
    while (result && (__atomic_load_n(&result->flags, __ATOMIC_SEQ_CST) & RESULT_RUNNING)) sleep_microseconds(500);
}

void clear_terminal_history(Terminal *terminal) {
    kill_terminal_process(terminal);
    terminal_wait_for_worker(terminal->current_result);
    for (Bucket_Iterator it = bucket_iterate(&terminal->results); it.element; bucket_iterator_next(&it)) {
        Terminal_Result *r = (Terminal_Result *)it.element;
        dynamic_array_free(&r->output);
        dynamic_array_free(&r->chunks);
        dynamic_array_free(&r->line_chunks);
        dynamic_array_free(&r->palette);
        gp_free(&r->command_allocation);
    }
    bucket_array_clear(&terminal->results);
    terminal->current_result = nullptr;
}

void close_terminal(Terminal *terminal) {
    clear_terminal_history(terminal);
    dynamic_array_free(&terminal->history);
    dynamic_array_free(&terminal->typed_line);
    terminal_view_free(&terminal->view);
    terminal->history_cursor = 0;
    atomic_and32(&terminal->flags, ~(u32)TERMINAL_IN_USE);
}

void kill_all_terminal_processes() {
    if (!terminals_ready) return;
    for (Bucket_Iterator it = bucket_iterate(&terminals); it.element; bucket_iterator_next(&it)) {
        Terminal *t = (Terminal *)it.element;
        if (t->flags & TERMINAL_IN_USE) kill_terminal_process(t);
    }
}

Terminal_Result *add_a_terminal_result(Terminal *terminal, String command) {
    Terminal_Result *result = (Terminal_Result *)bucket_array_add(&terminal->results);
    memset((void *)result, 0, sizeof(Terminal_Result));
    result->pty = -1;
    result->exit_status = -1;
    terminal_result_init_output(result);
    if (command.count > 0) {
        gp_allocate(&result->command_allocation, (u64)command.count);
        memcpy(result->command_allocation.memory, command.data, (size_t)command.count);
        result->command = gp_memory_to_string(result->command_allocation);
    }
    return result;
}

// The arrays the last exchange of this worker gave back.
static thread_local Terminal_Dropped worker_spare;

u32 terminal_read_from_pipe(Terminal_Result *result, s32 descriptor, bool child_gone) {
    pollfd p = {descriptor, POLLIN, 0};
    s32 ready = poll(&p, 1, 0);
    if (ready < 0) return 0;
    if (ready == 0) return child_gone ? 0 : 1;
    if (!(p.revents & POLLIN)) return 0; // hung up with nothing left
    u8 buffer[TERMINAL_READ_SIZE];
    ssize_t n = read(descriptor, buffer, sizeof(buffer));
    if (n <= 0) return 0;
    // Making room copies up to a MiB, and growing copies megabytes of
    // chunks: both done before the lock, swapped in under it. The lock only
    // covers appending and tokenising this read.
    Terminal_Dropped dropped;
    bool swap = result->output.count + (u64)n > MAX_TERMINAL_BUFFER_SIZE
                    ? terminal_build_dropped(result, TERMINAL_BUFFER_KEEP_AFTER_DROP, &dropped, &worker_spare)
                    : terminal_build_grown(result, (u64)n, &dropped);
    spin_lock(&result->lock);
    if (swap) terminal_swap_in_dropped(result, &dropped);
    terminal_result_append_output(result, buffer, (u64)n);
    atomic_or32(&result->flags, RESULT_NEW_OUTPUT);
    spin_unlock(&result->lock);
    if (swap) terminal_keep_spare(&worker_spare, &dropped); // a flood drops again and again: no fresh pages each time
    return 2;
}

struct Terminal_Worker_Arguments {
    Terminal *terminal;
    Terminal_Result *result;
    s32 pid;
    s32 pty;
    volatile u8 started;
};

static void *terminal_worker(void *argument) {
    Terminal_Worker_Arguments a = *(Terminal_Worker_Arguments *)argument;
    tmp_register_thread();
    atomic_or32(&a.terminal->flags, TERMINAL_WORKER_RUNNING);
    __atomic_store_n(&((Terminal_Worker_Arguments *)argument)->started, (u8)1, __ATOMIC_SEQ_CST);

    bool child_gone = false, exited = false;
    s32 status = 0;
    u64 last_output = os_get_time_microseconds(), exit_time = 0, last_wake = 0;
    bool unseen = false; // output the main loop was not woken for yet
    u32 reads_since_look = 0;
    while (__atomic_load_n(&a.result->flags, __ATOMIC_SEQ_CST) & RESULT_PROCESS_ALIVE) {
        u32 r = terminal_read_from_pipe(a.result, a.pty, child_gone);
        u64 now = os_get_time_microseconds();
        if (r == 2) last_output = now, unseen = true;
        // A flood reads thousands of times a second; a frame or two of
        // wakes is enough, and the last of the output always gets one.
        if (unseen && (r != 2 || now - last_wake >= TERMINAL_WAKE_INTERVAL_US)) {
            worker_hooks.wake_main_loop();
            last_wake = now;
            unseen = false;
        }
        // While output flows the child is looked at every few reads only: the
        // flood itself says it is alive, and each look is a system call.
        if (!exited) {
            if (r != 2 || ++reads_since_look >= 32) {
                reads_since_look = 0;
                if (waitpid(a.pid, &status, WNOHANG) == a.pid) {
                    exited = true;
                    exit_time = now;
                    atomic_or32(&a.result->flags, RESULT_CHILD_EXITED);
                }
            }
        } else if (now - exit_time >= 50000) {
            child_gone = true;
        }
        if (r == 0) break;
        if (r == 1) {
            // Block briefly in poll rather than spinning: data wakes it at once.
            pollfd p = {a.pty, POLLIN, 0};
            if (now - last_output > 100000) sleep_microseconds(2000);
            else poll(&p, 1, 1);
        }
    }
    if (!exited && waitpid(a.pid, &status, WNOHANG) == a.pid) exited = true;
    if (!exited) { // killed: reap it so no zombie stays
        for (u32 i = 0; i < 400 && !exited; i++) {
            if (waitpid(a.pid, &status, WNOHANG) == a.pid) exited = true;
            else sleep_microseconds(500);
        }
    }
    if (exited) atomic_or32(&a.result->flags, RESULT_CHILD_EXITED);
    if (exited && WIFEXITED(status)) {
        a.result->exit_status = WEXITSTATUS(status);
        if (WEXITSTATUS(status) != 0) atomic_or32(&a.result->flags, RESULT_FAILED);
    } else if (exited && WIFSIGNALED(status)) {
        atomic_or32(&a.result->flags, RESULT_FAILED);
    }
    if (!worker_hooks.window_is_focused() && worker_hooks.create_os_notification) {
        bool failed = (a.result->flags & RESULT_FAILED) != 0;
        worker_hooks.create_os_notification(S(failed ? "Failure" : "Success"), a.result->command);
    }
    // Only the terminal's own process: a newer command may own it by now.
    spin_lock(&a.terminal->lock);
    bool still_ours = a.terminal->child_pid == a.pid;
    spin_unlock(&a.terminal->lock);
    if (still_ours) kill_terminal_process(a.terminal);
    close(a.pty);
    terminal_free_dropped(&worker_spare);
    terminal_result_shrink(a.result);
    atomic_and32(&a.result->flags, ~(u32)(RESULT_PROCESS_ALIVE | RESULT_RUNNING));
    atomic_or32(&a.result->flags, RESULT_NEW_OUTPUT);
    worker_hooks.wake_main_loop();
    tmp_unregister_thread();
    return nullptr;
}

char **string_to_c_argument_list(String text) {
    u64 n = 0;
    char **list = (char **)tmp_allocate_aligned(sizeof(char *) * ((u64)text.count / 2 + 2), 8);
    char *bytes = (char *)tmp_allocate((u64)text.count * 2 + 2);
    s64 i = 0;
    while (i < text.count) {
        while (i < text.count && (text.data[i] == ' ' || text.data[i] == '\t')) i++;
        if (i >= text.count) break;
        char *start = bytes;
        if (text.data[i] == '\'' || text.data[i] == '"') {
            u8 quote = text.data[i++];
            while (i < text.count && text.data[i] != quote) *bytes++ = (char)text.data[i++];
            i++; // the closing quote
        } else {
            while (i < text.count && text.data[i] != ' ' && text.data[i] != '\t') *bytes++ = (char)text.data[i++];
        }
        *bytes++ = 0;
        list[n++] = start;
    }
    list[n] = nullptr;
    return list;
}

bool terminal_execute(Terminal *terminal, const char *program, String command_line, String shown) {
    return terminal_execute_arguments(terminal, program, string_to_c_argument_list(command_line),
                                      shown.count ? shown : command_line);
}

bool terminal_execute_arguments(Terminal *terminal, const char *program, char **arguments, String shown) {
    kill_terminal_process(terminal);
    terminal_wait_for_worker(terminal->current_result);
    const char *directory = filepath_to_c_string(&terminal->directory);
    // Everything the child needs is made before fork: only exec-safe calls after it.
    u64 num_env = 0;
    while (environ[num_env]) num_env++;
    char **env = (char **)tmp_allocate_aligned(sizeof(char *) * (num_env + 2), 8);
    u64 e = 0;
    for (u64 i = 0; i < num_env; i++)
        if (strncmp(environ[i], "TERM=", 5) != 0) env[e++] = environ[i];
    env[e++] = (char *)"TERM=vt100";
    env[e] = nullptr;
    const char *missing = tcstring("tarno: directory '%s' cannot be entered.\r\n", directory);

    s32 master = -1;
    pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) {
        add_log(nullptr, LOG_ERROR, "Unix: failed to vfork() to launch a process.");
        return false;
    }
    if (pid == 0) {
        if (chdir(directory) != 0) {
            ssize_t ignored = write(2, missing, strlen(missing));
            (void)ignored;
            _exit(127);
        }
        setpgid(0, 0);
        execvpe(program, arguments, env);
        _exit(127);
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    Terminal_Result *result = add_a_terminal_result(terminal, shown);
    result->pty = master;
    result->flags = RESULT_NEW_OUTPUT | RESULT_PROCESS_ALIVE | RESULT_RUNNING;
    spin_lock(&terminal->lock);
    terminal->pty = master;
    terminal->child_pid = pid;
    terminal->process_group = pid;
    terminal->current_result = result;
    spin_unlock(&terminal->lock);

    Terminal_Worker_Arguments a = {terminal, result, pid, master, 0};
    pthread_t thread;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (pthread_create(&thread, &attributes, terminal_worker, &a) != 0) {
        pthread_attr_destroy(&attributes);
        atomic_and32(&result->flags, ~(u32)RESULT_RUNNING);
        kill_terminal_process(terminal);
        close(master);
        return false;
    }
    pthread_attr_destroy(&attributes);
    // The arguments live on this stack until the worker has copied them.
    while (!__atomic_load_n(&a.started, __ATOMIC_SEQ_CST)) __builtin_ia32_pause();
    return true;
}
