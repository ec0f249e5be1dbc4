// Encoder throughput on a fixed mix of ten instruction forms (the same mix
// bench/amd64.sh hands to GNU as), in instructions per second.
#include <benchmark/benchmark.h>
#include "compiler/back/amd64.h"

static void encode_mix(Amd64_Code *c) {
    amd64_mov(c, 8, amd64_gpr(RAX), amd64_make_full_sib_memory_operand(RBX, R12, 8, 0x40)); // mov rax, [rbx+r12*8+0x40]
    amd64_alu(c, ALU_ADD, 8, amd64_gpr(RAX), amd64_gpr(RCX));                              // add rax, rcx
    amd64_mov(c, 8, amd64_make_sib_memory_operand(RSP, 0x18), amd64_gpr(R9));              // mov [rsp+0x18], r9
    amd64_imul_immediate(c, 8, R10, amd64_gpr(R11), 100);                                  // imul r10, r11, 100
    amd64_lea(c, RDX, amd64_make_full_sib_memory_operand(RBP, RSI, 4, -8));                // lea rdx, [rbp+rsi*4-8]
    amd64_alu_immediate(c, ALU_CMP, 8, amd64_gpr(R13), 0x1234);                            // cmp r13, 0x1234
    amd64_setcc(c, CC_E, amd64_gpr(RAX));                                                  // sete al
    amd64_movs(c, 8, amd64_xmm(3), amd64_make_sib_memory_operand(RSP, 0x20));              // movsd xmm3, [rsp+0x20]
    amd64_float_op(c, FOP_ADD, 8, 3, amd64_xmm(9));                                        // addsd xmm3, xmm9
    amd64_shift_immediate(c, SHIFT_SHL, 8, amd64_gpr(R14), 3);                             // shl r14, 3
}

static void BM_Amd64EncodeMix(benchmark::State &state) {
    init_memory();
    Amd64_Code code;
    amd64_code_init(&code);
    for (auto _ : state) {
        code.bytes.count = 0;
        for (int i = 0; i < 1000; i++) encode_mix(&code);
        benchmark::DoNotOptimize(code.bytes.data);
    }
    state.SetItemsProcessed(state.iterations() * 10000);
    amd64_code_free(&code);
}
BENCHMARK(BM_Amd64EncodeMix);
BENCHMARK_MAIN();
