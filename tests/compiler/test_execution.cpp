// Generated code run in-process: entries that call foreign routines through
// a test dispatcher, register conventions around calls, and faults.
#include "compiler/back/execution.h"
#include "compiler/back/foreign_call.h"
#include "compiler/back/image.h"
#include "core/log.h"
#include "test_util.h"
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <string>
#include <vector>

// The relocated foreign-call address points here: the probe notes rsp at the
// call (it must sit 8 below a 16-byte boundary, as at any C function entry)
// and goes on to the test dispatcher.
extern "C" u64 test_probe_rsp;
extern "C" void test_foreign_probe();
extern "C" void test_dispatcher(u8 *block, u64 id);
// Calls tarno_amd64_enter with known values in every callee-saved register
// and returns a mask of those that came back changed (bit n: register n).
extern "C" u64 test_enter_with_patterns(void *entry);
asm(R"(
    .data
    .globl test_probe_rsp
test_probe_rsp: .quad 0
    .text
    .globl test_foreign_probe
test_foreign_probe:
    movq %rsp, test_probe_rsp(%rip)
    jmp test_dispatcher
    .globl test_enter_with_patterns
test_enter_with_patterns:
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    movabsq $0x1111111111111103, %rbx
    movabsq $0x2222222222222205, %rbp
    movabsq $0x333333333333330c, %r12
    movabsq $0x444444444444440d, %r13
    movabsq $0x555555555555550e, %r14
    movabsq $0x666666666666660f, %r15
    subq $8, %rsp
    call tarno_amd64_enter
    addq $8, %rsp
    xorl %eax, %eax
    movabsq $0x1111111111111103, %rcx
    cmpq %rcx, %rbx
    je 1f
    orq $0x8, %rax
1:  movabsq $0x2222222222222205, %rcx
    cmpq %rcx, %rbp
    je 1f
    orq $0x20, %rax
1:  movabsq $0x333333333333330c, %rcx
    cmpq %rcx, %r12
    je 1f
    orq $0x1000, %rax
1:  movabsq $0x444444444444440d, %rcx
    cmpq %rcx, %r13
    je 1f
    orq $0x2000, %rax
1:  movabsq $0x555555555555550e, %rcx
    cmpq %rcx, %r14
    je 1f
    orq $0x4000, %rax
1:  movabsq $0x666666666666660f, %rcx
    cmpq %rcx, %r15
    je 1f
    orq $0x8000, %rax
1:  popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .section .note.GNU-stack,"",@progbits
    .text
)");

struct Recorded_Call {
    u64 id;
    std::string text; // a String block's bytes
    u64 rsp;
};
static std::vector<Recorded_Call> recorded;

extern "C" void test_dispatcher(u8 *block, u64 id) {
    Recorded_Call call = {id, "", test_probe_rsp};
    if (block && id == 95) {
        String s;
        memcpy(&s, block, sizeof s);
        call.text.assign((char *)s.data, (size_t)s.count);
    }
    if (block && id == 96) { // int_to_string's shape: s64 in, a number written back
        s64 v;
        memcpy(&v, block, 8);
        v *= 3;
        memcpy(block + 8, &v, 8);
    }
    recorded.push_back(call);
    // Whatever the convention lets a callee destroy is destroyed.
    asm volatile("xorps %%xmm2, %%xmm2\n xorps %%xmm3, %%xmm3\n xorps %%xmm4, %%xmm4\n xorps %%xmm5, %%xmm5\n"
                 "xorps %%xmm6, %%xmm6\n xorps %%xmm7, %%xmm7\n xorps %%xmm8, %%xmm8\n xorps %%xmm9, %%xmm9\n"
                 "xorps %%xmm10, %%xmm10\n xorps %%xmm11, %%xmm11\n xorps %%xmm12, %%xmm12\n xorps %%xmm13, %%xmm13\n"
                 "xorps %%xmm14, %%xmm14\n xorps %%xmm15, %%xmm15\n"
                 "movq $-1, %%r8\n movq $-1, %%r9\n movq $-1, %%r11\n movq $-1, %%rcx\n movq $-1, %%rdx" ::
                     : "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13",
                       "xmm14", "xmm15", "r8", "r9", "r11", "rcx", "rdx");
}

// The text of the last log call the dispatcher saw.
std::string test_last_logged() { return recorded.empty() ? std::string() : recorded.back().text; }

namespace {

// An image with one #on_load entry built by `emit`, loaded and relocated.
struct Program {
    Amd64_Code code;
    u8 constant_data[64] = {};
    u8 global_data[64] = {};
    Loaded_Image image = {};
    Program() { amd64_code_init(&code); }
    ~Program() {
        image_unload(&image);
        amd64_code_free(&code);
    }
    bool load() {
        Image_Input in = {};
        in.version = EDITOR_VERSION;
        in.entry_flags = IMAGE_ENTRY_ON_LOAD;
        in.constant_data = constant_data;
        in.constant_data_size = sizeof constant_data;
        in.global_data = global_data;
        in.global_data_size = sizeof global_data;
        in.code = &code;
        Allocation a = {};
        if (!image_build(&in, &a)) return false;
        bool ok = image_load_bytes((u8 *)a.memory, a.size, &image);
        gp_free(&a);
        if (ok) image_relocate(&image, (void *)test_foreign_probe);
        execution_set_code_range((u8 *)image.header + image.header->code_offset, image.header->code_size);
        return ok;
    }
    void *entry() { return get_on_load_block_entry_point(image.header); }
    u8 *globals() { return (u8 *)image.header + image.header->global_data_offset; }
    bool decodes_cleanly() {
        Temp_Dir dir;
        std::string bytes((char *)amd64_code_bytes(&code), code.bytes.count);
        std::string listing;
        return write_whole_file(dir.file("c.bin"), bytes) &&
               run_command("objdump -D -b binary -m i386:x86-64 '" + dir.file("c.bin") + "'", &listing) == 0 &&
               listing.find("(bad)") == std::string::npos;
    }
};

Amd64_Operand cd(s32 offset) { return amd64_make_rip_memory_operand(offset, AMD64_DATA_CONSTANT); }
Amd64_Operand gd(s32 offset) { return amd64_make_rip_memory_operand(offset, AMD64_DATA_GLOBAL); }
Amd64_Operand frame_slot(s32 offset) { return amd64_make_sib_memory_operand(RSP, offset); }

// #on_load: log("hi there") with a float and an integer live across the call
// in registers the callee may destroy, then int_to_string-shaped call, then
// the survivors and the result written to global data.
void emit_logging_entry(Program *p, bool is_entry_block) {
    memcpy(p->constant_data, "hi there", 8);
    f64 f = 2.5;
    memcpy(p->constant_data + 16, &f, 8);
    Amd64_Code *c = &p->code;
    Amd64_Frame frame;
    u16 saved = (1 << RBX) | (1 << R12) | (1 << R13) | (1 << R14) | (1 << R15) | (1 << RBP);
    amd64_frame_layout(&frame, 24, saved, 1 << 5, 1 << R9, (1 << 5) | (1 << 15), is_entry_block);
    amd64_push_stack_frame(c, &frame);
    // Clobber every callee-saved register: the entry call must restore them.
    for (u8 r : {RBX, RBP, R12, R13, R14, R15}) amd64_mov_immediate(c, 8, amd64_gpr(r), 0xDEAD0000u + r);
    amd64_movs(c, 8, amd64_xmm(5), cd(16));
    amd64_movs(c, 8, amd64_xmm(15), cd(16));
    amd64_float_op(c, FOP_ADD, 8, 15, amd64_xmm(15)); // 5.0
    amd64_mov_immediate(c, 8, amd64_gpr(R9), 0x1234);
    amd64_lea(c, RAX, cd(0));
    amd64_mov(c, 8, frame_slot(0), amd64_gpr(RAX));
    amd64_mov_immediate(c, 8, frame_slot(8), 8);
    Amd64_Operand block = frame_slot(0);
    amd64_foreign_call(c, 95, &block, 1 << R9, (1 << 5) | (1 << 15), &frame);
    amd64_mov_immediate(c, 8, frame_slot(0), 14);
    amd64_foreign_call(c, 96, &block, 1 << R9, (1 << 5) | (1 << 15), &frame);
    amd64_foreign_call(c, 0, nullptr, 1 << R9, (1 << 5) | (1 << 15), &frame);
    amd64_movs(c, 8, gd(0), amd64_xmm(5));
    amd64_movs(c, 8, gd(8), amd64_xmm(15));
    amd64_mov(c, 8, gd(16), amd64_gpr(R9));
    amd64_mov(c, 8, amd64_gpr(RAX), frame_slot(8));
    amd64_mov(c, 8, gd(24), amd64_gpr(RAX));
    amd64_pop_stack_frame(c, &frame);
    amd64_ret(c);
}

TEST(Execution, ForeignCallsReachTheDispatcherAligned) {
    init_memory();
    Program p;
    emit_logging_entry(&p, true);
    ASSERT_TRUE(p.load());
    recorded.clear();
    EXPECT_EQ(test_enter_with_patterns(p.entry()), 0u) << "a callee-saved register came back changed";
    ASSERT_EQ(recorded.size(), 3u);
    EXPECT_EQ(recorded[0].id, 95u);
    EXPECT_EQ(recorded[0].text, "hi there");
    EXPECT_EQ(recorded[1].id, 96u);
    EXPECT_EQ(recorded[2].id, 0u);
    for (const Recorded_Call &r : recorded) EXPECT_EQ(r.rsp % 16, 8u) << "rsp not aligned at the call of id " << r.id;
    f64 a, b;
    memcpy(&a, p.globals(), 8);
    memcpy(&b, p.globals() + 8, 8);
    EXPECT_EQ(a, 2.5);
    EXPECT_EQ(b, 5.0);
    EXPECT_EQ(*(u64 *)(p.globals() + 16), 0x1234u);
    EXPECT_EQ(*(s64 *)(p.globals() + 24), 42); // written back into the block by the routine
    EXPECT_TRUE(p.decodes_cleanly());
}

// A sub-program called from the entry: its frame reserves 8 more so that its
// own foreign calls stay aligned too.
TEST(Execution, SubProgramFramesKeepForeignCallsAligned) {
    init_memory();
    Program p;
    Amd64_Code *c = &p.code;
    Amd64_Frame entry;
    amd64_frame_layout(&entry, 8, 0, 0, 0, 0, true);
    amd64_push_stack_frame(c, &entry);
    Amd64_Emitted call = amd64_call_rel32(c);
    amd64_pop_stack_frame(c, &entry);
    amd64_ret(c);
    u32 sub = amd64_code_position(c);
    amd64_patch_rel32(c, call.displacement_position, call.end, sub);
    for (u32 frame_size : {0u, 8u, 16u, 40u}) {
        Amd64_Frame f;
        amd64_frame_layout(&f, frame_size, 1 << RBP, 0, 0, 0, false);
        amd64_push_stack_frame(c, &f);
        amd64_foreign_call(c, 1, nullptr, 0, 0, &f);
        Amd64_Emitted next = {};
        if (frame_size != 40) next = amd64_call_rel32(c); // chain: each sub-program calls the next
        amd64_pop_stack_frame(c, &f);
        amd64_ret(c);
        if (frame_size != 40) amd64_patch_rel32(c, next.displacement_position, next.end, amd64_code_position(c));
    }
    ASSERT_TRUE(p.load());
    recorded.clear();
    amd64_execute(p.entry(), nullptr);
    ASSERT_EQ(recorded.size(), 4u);
    for (const Recorded_Call &r : recorded) EXPECT_EQ(r.rsp % 16, 8u);
}

TEST(Execution, FrameSequences) {
    Amd64_Code c;
    amd64_code_init(&c);
    Amd64_Frame zero;
    amd64_frame_layout(&zero, 0, 0, 0, 0, 0, true);
    amd64_push_stack_frame(&c, &zero);
    amd64_pop_stack_frame(&c, &zero);
    EXPECT_EQ(c.bytes.count, 0u) << "a zero-sized frame emits no sub or add";
    Amd64_Frame f;
    amd64_frame_layout(&f, 16, 0, 0, 0, 0, true);
    amd64_push_stack_frame(&c, &f);
    amd64_pop_stack_frame(&c, &f);
    amd64_copy_arguments_address(&c);
    const u8 expected[] = {0x48, 0x81, 0xEC, 16, 0, 0, 0, 0x48, 0x81, 0xC4, 16, 0, 0, 0, 0x48, 0x8B, 0xE8};
    ASSERT_EQ(c.bytes.count, sizeof expected);
    EXPECT_EQ(memcmp(c.bytes.data, expected, sizeof expected), 0);
    // The foreign call moves rsp by 8 around the call.
    c.bytes.count = 0;
    amd64_foreign_call(&c, 7, nullptr, 0, 0, &f);
    const u8 call[] = {0x31, 0xFF, 0x48, 0xC7, 0xC6, 7, 0, 0, 0, 0x48, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0,
                       0x48, 0x83, 0xEC, 0x08, 0x48, 0xFF, 0xD0, 0x48, 0x83, 0xC4, 0x08};
    ASSERT_EQ(c.bytes.count, sizeof call);
    EXPECT_EQ(memcmp(c.bytes.data, call, sizeof call), 0);
    ASSERT_EQ(c.foreign_relocations.count, 1u);
    EXPECT_EQ(*dynamic_array_at<u64>(&c.foreign_relocations, 0), 11u);
    amd64_code_free(&c);
}

// Each program faults in its own way; the guard reports it and the next run works.
TEST(Execution, FaultsAreReportedAndRecovered) {
    init_memory();
    struct Row {
        const char *name;
        void (*emit)(Amd64_Code *);
        u8 kind;
        const char *message;
    } rows[] = {
        {"null read", [](Amd64_Code *c) {
             amd64_alu(c, ALU_XOR, 4, amd64_gpr(RAX), amd64_gpr(RAX));
             amd64_mov(c, 8, amd64_gpr(RCX), amd64_make_non_sib_memory_operand(RAX, 8));
         }, FAULT_NULL_ADDRESS, "null address (address 0x8)"},
        {"bad address", [](Amd64_Code *c) {
             amd64_mov_immediate(c, 8, amd64_gpr(RAX), 0x10000);
             amd64_mov_immediate(c, 4, amd64_make_non_sib_memory_operand(RAX, 0), 1);
         }, FAULT_BAD_ADDRESS, "bad address (address 0x10000)"},
        {"division", [](Amd64_Code *c) {
             amd64_alu(c, ALU_XOR, 4, amd64_gpr(RCX), amd64_gpr(RCX));
             amd64_mov_immediate(c, 8, amd64_gpr(RAX), 7);
             amd64_sign_extend_accumulator(c, 8);
             amd64_unary(c, UNARY_IDIV, 8, amd64_gpr(RCX));
         }, FAULT_DIVISION, "integer division by zero or overflow"},
        {"bad index", [](Amd64_Code *c) {
             const u8 trap[] = {0x0F, 0x0B, TRAP_KIND_BAD_INDEX}; // ud2 and its reason
             dynamic_array_append_bytes(&c->bytes, trap, 3);
         }, FAULT_BAD_INDEX, "index out of bounds"},
        {"debug break", [](Amd64_Code *c) { amd64_int3(c); }, FAULT_DEBUG_BREAK, "debug break"},
        {"stack overflow", [](Amd64_Code *c) {
             u32 start = amd64_code_position(c);
             Amd64_Emitted e = amd64_call_rel32(c);
             amd64_patch_rel32(c, e.displacement_position, e.end, start);
         }, FAULT_STACK_OVERFLOW, "stack overflow"},
        {"endless loop", [](Amd64_Code *c) {
             u32 start = amd64_code_position(c);
             Amd64_Emitted e = amd64_jmp_rel32(c);
             amd64_patch_rel32(c, e.displacement_position, e.end, start);
         }, FAULT_TIME_LIMIT, "time limit exceeded"},
    };
    for (const Row &r : rows) {
        Program p;
        amd64_mov_immediate(&p.code, 8, amd64_gpr(RDX), 1); // so the fault is not at offset 0
        r.emit(&p.code);
        amd64_ret(&p.code);
        ASSERT_TRUE(p.load()) << r.name;
        Execution_Fault fault;
        EXPECT_FALSE(amd64_execute_guarded(p.entry(), nullptr, 200000, &fault)) << r.name;
        EXPECT_EQ(fault.kind, r.kind) << r.name;
        EXPECT_GE(fault.code_offset, 0) << r.name;
        std::string message((char *)execution_fault_message(&fault).data, execution_fault_message(&fault).count);
        EXPECT_NE(message.find(r.message), std::string::npos) << r.name << ": " << message;
        EXPECT_EQ(custom_layer_execution_file, nullptr) << r.name;
    }
    // After all that, a well-behaved program runs to its end under the guard.
    Program good;
    emit_logging_entry(&good, true);
    ASSERT_TRUE(good.load());
    recorded.clear();
    Execution_Fault fault;
    EXPECT_TRUE(amd64_execute_guarded(good.entry(), nullptr, 1000000, &fault));
    EXPECT_EQ(recorded.size(), 3u);
    EXPECT_EQ(fault.kind, FAULT_NONE);
}

// The editor's own signals outside generated code go to the handlers that
// were there before the guard, however many guarded runs come between, and
// the guard still catches faults afterwards. Run in a child: it changes the
// process's signal handlers, and a fault looping back into the guard hangs.
static volatile sig_atomic_t editor_signals_seen[2];
TEST(Execution, SignalsThatAreNotOursReachThePreviousHandlers) {
    init_memory();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(10);
        const int signals[2] = {SIGTRAP, SIGFPE};
        for (int i = 0; i < 2; i++) {
            struct sigaction a = {};
            a.sa_handler = i == 0 ? [](int) { editor_signals_seen[0] = editor_signals_seen[0] + 1; } : [](int) { editor_signals_seen[1] = editor_signals_seen[1] + 1; };
            sigaction(signals[i], &a, nullptr);
        }
        Program good, bad;
        emit_logging_entry(&good, true);
        amd64_int3(&bad.code);
        amd64_ret(&bad.code);
        if (!good.load() || !bad.load()) _exit(10);
        Execution_Fault fault;
        for (int i = 0; i < 2; i++) {
            if (!amd64_execute_guarded(good.entry(), nullptr, 0, &fault)) _exit(11);
            raise(signals[i]);
            if (editor_signals_seen[i] != 1) _exit(12 + i);
        }
        if (amd64_execute_guarded(bad.entry(), nullptr, 0, &fault) || fault.kind != FAULT_DEBUG_BREAK) _exit(14);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
