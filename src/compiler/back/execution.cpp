// The entry call and the fault guard around it.
#include "compiler/back/execution.h"
#include "core/strings.h"
#include <pthread.h>
#include <setjmp.h>
#include <string.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

// Weak: inside the editor the text core defines it; tarnoc has only this one.
__attribute__((weak)) File *custom_layer_execution_file;

// rdi: the entry. Keeps the callee-saved registers on our own stack so the
// generated code may use them freely, and calls with rsp 16-byte aligned.
asm(R"(
    .text
    .globl tarno_amd64_enter
    .type tarno_amd64_enter, @function
tarno_amd64_enter:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    xorl %eax, %eax
    callq *%rdi
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .size tarno_amd64_enter, .-tarno_amd64_enter
    .section .note.GNU-stack,"",@progbits
    .text
)");
extern "C" void tarno_amd64_enter(void *entry);

void amd64_execute(void *entry, File *file) {
    custom_layer_execution_file = file;
    tarno_amd64_enter(entry);
}

// [SECTION] Guard

static const u8 *guarded_code;
static u64 guarded_code_size;

void execution_set_code_range(const void *code, u64 size) {
    guarded_code = (const u8 *)code;
    guarded_code_size = size;
}

static bool in_code(const void *p) {
    return guarded_code && (const u8 *)p >= guarded_code && (const u8 *)p < guarded_code + guarded_code_size;
}

constexpr int TIME_LIMIT_SIGNAL = SIGALRM;
constexpr u64 ALTERNATE_STACK_SIZE = 64 * 1024;
constexpr int GUARDED_SIGNALS[] = {SIGSEGV, SIGFPE, SIGILL, SIGBUS, SIGTRAP, TIME_LIMIT_SIGNAL};

struct Guard {
    sigjmp_buf jump;
    Execution_Fault *fault;
    volatile sig_atomic_t active;
    bool has_alternate_stack;
    bool has_timer;
    timer_t timer;
};
static thread_local Guard guard;
// What each signal did before the guard took it over. Never the guard
// itself: a fault of the editor handed back to "previous" would then come
// back to the guard for ever.
static struct sigaction previous_actions[ARRAY_COUNT(GUARDED_SIGNALS)];
static pthread_mutex_t taking_over = PTHREAD_MUTEX_INITIALIZER;

static void arm_timer(u64 microseconds) {
    itimerspec limit = {};
    limit.it_value.tv_sec = (time_t)(microseconds / 1000000);
    limit.it_value.tv_nsec = (long)(microseconds % 1000000) * 1000;
    timer_settime(guard.timer, 0, &limit, nullptr);
}

// Hands a signal that is not ours back to its previous disposition.
static void restore_previous(int signal, const siginfo_t *info) {
    for (u32 i = 0; i < ARRAY_COUNT(GUARDED_SIGNALS); i++)
        if (GUARDED_SIGNALS[i] == signal) sigaction(signal, &previous_actions[i], nullptr);
    // A fault reruns its instruction and meets the previous handler; a signal
    // sent by kill or raise does not come again by itself.
    if (info->si_code <= 0) raise(signal);
}

static u8 classify(int signal, const siginfo_t *info, const u8 *rip, u64 rsp) {
    switch (signal) {
    case SIGFPE: return FAULT_DIVISION;
    case SIGBUS: return FAULT_BUS;
    case SIGTRAP: return FAULT_DEBUG_BREAK;
    case SIGILL:
        if (in_code(rip + 2) && rip[0] == 0x0F && rip[1] == 0x0B && rip[2] == TRAP_KIND_BAD_INDEX) return FAULT_BAD_INDEX;
        return FAULT_ILLEGAL_INSTRUCTION;
    case TIME_LIMIT_SIGNAL: return FAULT_TIME_LIMIT;
    }
    u64 address = (u64)(uintptr_t)info->si_addr;
    if (address < 4096) return FAULT_NULL_ADDRESS;
    if (address < rsp && rsp - address < 65536) return FAULT_STACK_OVERFLOW;
    return FAULT_BAD_ADDRESS;
}

static void guard_handler(int signal, siginfo_t *info, void *context) {
    ucontext_t *uc = (ucontext_t *)context;
    const u8 *rip = (const u8 *)uc->uc_mcontext.gregs[REG_RIP];
    if (signal == SIGTRAP) rip -= 1; // int3 reports the byte after itself
    if (!guard.active || !in_code(rip)) {
        if (signal == TIME_LIMIT_SIGNAL) {
            if (guard.active) arm_timer(1000); // inside an editor routine: stop it once it is back in generated code
            return;
        }
        // Not ours (the editor's own fault, or nothing is guarded): let the
        // previous disposition handle the fault when the instruction reruns.
        restore_previous(signal, info);
        return;
    }
    guard.active = 0;
    Execution_Fault *f = guard.fault;
    f->kind = classify(signal, info, rip, (u64)uc->uc_mcontext.gregs[REG_RSP]);
    f->signal = signal;
    f->address = signal == SIGSEGV || signal == SIGBUS ? info->si_addr : nullptr;
    f->instruction = (void *)rip;
    f->code_offset = (s64)(rip - guarded_code);
    siglongjmp(guard.jump, 1);
}

static bool prepare_thread() {
    // Taken over on every guarded call: a handler something else installed
    // since (or the previous one, after a signal that was not ours) becomes
    // the new "previous", and generated code stays guarded.
    struct sigaction action = {};
    action.sa_sigaction = guard_handler;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    pthread_mutex_lock(&taking_over);
    for (u32 i = 0; i < ARRAY_COUNT(GUARDED_SIGNALS); i++) {
        struct sigaction old;
        sigaction(GUARDED_SIGNALS[i], &action, &old);
        if (!(old.sa_flags & SA_SIGINFO) || old.sa_sigaction != guard_handler) previous_actions[i] = old;
    }
    pthread_mutex_unlock(&taking_over);
    if (!guard.has_alternate_stack) {
        // A stack overflow in generated code leaves no room on the thread's own stack.
        void *stack = mmap(nullptr, ALTERNATE_STACK_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (stack == MAP_FAILED) return false;
        stack_t ss = {};
        ss.ss_sp = stack;
        ss.ss_size = ALTERNATE_STACK_SIZE;
        if (sigaltstack(&ss, nullptr) != 0) return false;
        guard.has_alternate_stack = true;
    }
    if (!guard.has_timer) {
        sigevent event = {};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = TIME_LIMIT_SIGNAL;
        event._sigev_un._tid = gettid(); // sigev_notify_thread_id in newer headers
        if (timer_create(CLOCK_MONOTONIC, &event, &guard.timer) != 0) return false;
        guard.has_timer = true;
    }
    return true;
}

bool amd64_execute_guarded(void *entry, File *file, u64 time_limit_us, Execution_Fault *fault) {
    *fault = {};
    fault->code_offset = -1;
    if (!prepare_thread()) {
        amd64_execute(entry, file);
        return true;
    }
    // A guarded call may run inside another one (an editor routine the layer
    // calls may load and run a layer): the outer guard comes back afterwards.
    sigjmp_buf outer_jump;
    memcpy(outer_jump, guard.jump, sizeof(sigjmp_buf));
    Execution_Fault *outer_fault = guard.fault;
    sig_atomic_t outer_active = guard.active;
    // Without a limit of its own the inner call leaves the outer's timer running.
    itimerspec outer_limit = {};
    if (outer_active && time_limit_us) timer_gettime(guard.timer, &outer_limit);
    guard.active = 0;
    guard.fault = fault;
    bool completed = true;
    if (sigsetjmp(guard.jump, 1) != 0) {
        completed = false;
        custom_layer_execution_file = nullptr;
    } else {
        guard.active = 1; // before the timer, so an early tick is not dropped as not ours
        if (time_limit_us) arm_timer(time_limit_us);
        amd64_execute(entry, file);
        guard.active = 0;
    }
    if (time_limit_us) {
        arm_timer(0);
        if (outer_limit.it_value.tv_sec || outer_limit.it_value.tv_nsec)
            timer_settime(guard.timer, 0, &outer_limit, nullptr);
    }
    memcpy(guard.jump, outer_jump, sizeof(sigjmp_buf));
    guard.fault = outer_fault;
    guard.active = outer_active;
    return completed;
}

String execution_fault_message(const Execution_Fault *f) {
    const char *what = "fault";
    switch (f->kind) {
    case FAULT_NULL_ADDRESS: what = "null address"; break;
    case FAULT_BAD_ADDRESS: what = "bad address"; break;
    case FAULT_DIVISION: what = "integer division by zero or overflow"; break;
    case FAULT_BAD_INDEX: what = "index out of bounds"; break;
    case FAULT_ILLEGAL_INSTRUCTION: what = "illegal instruction"; break;
    case FAULT_DEBUG_BREAK: what = "debug break"; break;
    case FAULT_BUS: what = "misaligned or missing memory"; break;
    case FAULT_TIME_LIMIT: what = "time limit exceeded"; break;
    case FAULT_STACK_OVERFLOW: what = "stack overflow"; break;
    }
    if (f->signal == SIGSEGV || f->signal == SIGBUS)
        return tstring("%s (address 0x%llx) at code offset 0x%llx", what, (unsigned long long)(uintptr_t)f->address,
                       (unsigned long long)f->code_offset);
    return tstring("%s at code offset 0x%llx", what, (unsigned long long)f->code_offset);
}
