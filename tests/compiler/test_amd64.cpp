// The encoder against GNU as: every form over registers, sizes and memory
// operands is encoded by us and by `as` from the same Intel-syntax text, and
// the bytes must agree. The whole output also decodes with objdump.
#include "compiler/back/amd64.h"
#include "compiler/back/amd64_translation.h"
#include "test_util.h"
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

const char *N64[] = {"rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi", "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15"};
const char *N32[] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi", "r8d", "r9d", "r10d", "r11d", "r12d", "r13d", "r14d", "r15d"};
const char *N16[] = {"ax", "cx", "dx", "bx", "sp", "bp", "si", "di", "r8w", "r9w", "r10w", "r11w", "r12w", "r13w", "r14w", "r15w"};
const char *N8[] = {"al", "cl", "dl", "bl", "spl", "bpl", "sil", "dil", "r8b", "r9b", "r10b", "r11b", "r12b", "r13b", "r14b", "r15b"};
const u32 SIZES[] = {1, 2, 4, 8};

std::string reg(u32 size, u8 r) { return size == 1 ? N8[r] : size == 2 ? N16[r] : size == 4 ? N32[r] : N64[r]; }
std::string xmm(u8 r) { return "xmm" + std::to_string(r); }
std::string ptr(u32 size) {
    return size == 1 ? "byte ptr " : size == 2 ? "word ptr " : size == 4 ? "dword ptr " : size == 8 ? "qword ptr " : "ymmword ptr ";
}

struct Memory_Case {
    Amd64_Operand operand;
    std::string text; // without the size
};

std::string displacement_text(s32 d) {
    if (d == 0) return "";
    return d < 0 ? "-" + std::to_string(-(s64)d) : "+" + std::to_string(d);
}

// Every base with the displacement sizes (including the rbp/r13 and rsp/r12
// quirks), indexed forms with each scale, and RIP-relative.
std::vector<Memory_Case> memory_cases() {
    std::vector<Memory_Case> out;
    const s32 displacements[] = {0, 8, -128, 0x1234, -0x10000};
    for (u8 base = 0; base < 16; base++)
        for (s32 d : displacements)
            out.push_back({amd64_make_non_sib_memory_operand(base, d), "[" + std::string(N64[base]) + displacement_text(d) + "]"});
    const u8 bases[] = {RSP, RBP, R12, R13, RAX, R15};
    const u8 indexes[] = {RAX, RBP, R12, R13, R15, RSI};
    const u8 scales[] = {1, 2, 4, 8};
    for (u8 base : bases)
        for (u8 index : indexes)
            for (u8 scale : scales)
                for (s32 d : {0, 100, 0x12345}) {
                    out.push_back({amd64_make_full_sib_memory_operand(base, index, scale, d),
                                   "[" + std::string(N64[base]) + "+" + N64[index] + "*" + std::to_string(scale) + displacement_text(d) + "]"});
                }
    out.push_back({amd64_make_sib_memory_operand(RAX, 16), "[rax+16]"}); // the forced SIB form: as writes no SIB here
    out.back().text = "SIB";
    out.push_back({amd64_make_rip_memory_operand(0x100, AMD64_DATA_NONE), "[rip+0x100]"});
    out.push_back({amd64_make_memory_operand_from(RBX, R9, 8, -8), "[rbx+r9*8-8]"});
    return out;
}

struct Case {
    std::string text;
    std::vector<u8> bytes;
};

struct Table {
    std::vector<Case> cases;
    void add(const std::string &text, const std::function<void(Amd64_Code *)> &emit) {
        if (text.find("SIB") != std::string::npos) return; // no assembler text forces a redundant SIB
        Amd64_Code code;
        amd64_code_init(&code);
        emit(&code);
        cases.push_back({text, std::vector<u8>(amd64_code_bytes(&code), amd64_code_bytes(&code) + code.bytes.count)});
        amd64_code_free(&code);
    }
};

std::string hex(const std::vector<u8> &bytes) {
    std::string s;
    char b[4];
    for (u8 x : bytes) {
        snprintf(b, sizeof b, "%02x ", x);
        s += b;
    }
    return s;
}

// Assembles every case with `as` and returns each one's bytes, cut at labels.
bool assemble(const std::vector<Case> &cases, std::vector<std::vector<u8>> *out, std::string *problem) {
    Temp_Dir dir;
    std::string source = ".intel_syntax noprefix\n.text\n";
    for (size_t i = 0; i < cases.size(); i++) source += "c" + std::to_string(i) + ": " + cases[i].text + "\n";
    source += "c" + std::to_string(cases.size()) + ":\n";
    if (!write_whole_file(dir.file("t.s"), source)) return false;
    std::string output;
    std::string d = "'" + dir.path + "'";
    if (run_command("cd " + d + " && as --64 -o t.o t.s 2>&1 && objcopy -O binary -j .text t.o t.bin && nm t.o", &output) != 0) {
        *problem = output;
        return false;
    }
    std::map<size_t, u64> offsets;
    size_t at = 0;
    while (at < output.size()) {
        size_t end = output.find('\n', at);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(at, end - at);
        at = end + 1;
        unsigned long long address;
        char type, name[64];
        if (sscanf(line.c_str(), "%llx %c %63s", &address, &type, name) == 3 && name[0] == 'c')
            offsets[(size_t)atoll(name + 1)] = address;
    }
    std::string binary;
    if (!read_whole_file(dir.file("t.bin"), &binary)) return false;
    out->clear();
    for (size_t i = 0; i < cases.size(); i++) {
        u64 a = offsets[i], b = offsets[i + 1];
        out->push_back(std::vector<u8>(binary.begin() + (long)a, binary.begin() + (long)b));
    }
    return true;
}

void check_against_as(const Table &table) {
    std::vector<std::vector<u8>> expected;
    std::string problem;
    ASSERT_TRUE(assemble(table.cases, &expected, &problem)) << problem;
    ASSERT_EQ(expected.size(), table.cases.size());
    ASSERT_GT(table.cases.size(), 1000u) << "the table lost its rows";
    int failures = 0;
    for (size_t i = 0; i < table.cases.size() && failures < 25; i++) {
        if (expected[i] != table.cases[i].bytes) {
            ADD_FAILURE() << table.cases[i].text << "\n  as:  " << hex(expected[i]) << "\n  ours: " << hex(table.cases[i].bytes);
            failures++;
        }
    }
}

TEST(Amd64Encoder, MovesAgreeWithAs) {
    Table t;
    std::vector<Memory_Case> mems = memory_cases();
    for (u32 size : SIZES)
        for (u8 a = 0; a < 16; a++)
            for (u8 b = 0; b < 16; b++)
                t.add("mov " + reg(size, a) + ", " + reg(size, b), [=](Amd64_Code *c) { amd64_mov(c, size, amd64_gpr(a), amd64_gpr(b)); });
    for (const Memory_Case &m : mems)
        for (u32 size : SIZES)
            for (u8 r : {RAX, RSP, RDI, R8, R13}) {
                t.add("mov " + reg(size, r) + ", " + ptr(size) + m.text, [=](Amd64_Code *c) { amd64_mov(c, size, amd64_gpr(r), m.operand); });
                t.add("mov " + ptr(size) + m.text + ", " + reg(size, r), [=](Amd64_Code *c) { amd64_mov(c, size, m.operand, amd64_gpr(r)); });
            }
    for (u8 r = 0; r < 16; r++) {
        t.add("mov " + reg(1, r) + ", 0x7f", [=](Amd64_Code *c) { amd64_mov_immediate(c, 1, amd64_gpr(r), 0x7F); });
        t.add("mov " + reg(2, r) + ", 0x1234", [=](Amd64_Code *c) { amd64_mov_immediate(c, 2, amd64_gpr(r), 0x1234); });
        t.add("mov " + reg(4, r) + ", 0x89abcdef", [=](Amd64_Code *c) { amd64_mov_immediate(c, 4, amd64_gpr(r), 0x89ABCDEF); });
        t.add("mov " + reg(8, r) + ", -5", [=](Amd64_Code *c) { amd64_mov_immediate(c, 8, amd64_gpr(r), (u64)-5); });
        t.add("mov " + reg(4, r) + ", 0x80000000", [=](Amd64_Code *c) { amd64_mov_immediate(c, 8, amd64_gpr(r), 0x80000000ull); });
        t.add("movabs " + reg(8, r) + ", 0x123456789abcdef0",
              [=](Amd64_Code *c) { amd64_mov_immediate(c, 8, amd64_gpr(r), 0x123456789ABCDEF0ull); });
        for (u8 s = 0; s < 16; s += 3) {
            t.add("movzx " + reg(4, r) + ", " + reg(1, s), [=](Amd64_Code *c) { amd64_movzx(c, 4, r, 1, amd64_gpr(s)); });
            t.add("movzx " + reg(8, r) + ", " + reg(2, s), [=](Amd64_Code *c) { amd64_movzx(c, 8, r, 2, amd64_gpr(s)); });
            t.add("mov " + reg(4, r) + ", " + reg(4, s), [=](Amd64_Code *c) { amd64_movzx(c, 8, r, 4, amd64_gpr(s)); });
            t.add("movsx " + reg(8, r) + ", " + reg(1, s), [=](Amd64_Code *c) { amd64_movsx(c, 8, r, 1, amd64_gpr(s)); });
            t.add("movsx " + reg(4, r) + ", " + reg(2, s), [=](Amd64_Code *c) { amd64_movsx(c, 4, r, 2, amd64_gpr(s)); });
            t.add("movsxd " + reg(8, r) + ", " + reg(4, s), [=](Amd64_Code *c) { amd64_movsx(c, 8, r, 4, amd64_gpr(s)); });
        }
    }
    for (const Memory_Case &m : mems) {
        t.add("mov " + ptr(1) + m.text + ", 0x12", [=](Amd64_Code *c) { amd64_mov_immediate(c, 1, m.operand, 0x12); });
        t.add("mov " + ptr(2) + m.text + ", 0x1234", [=](Amd64_Code *c) { amd64_mov_immediate(c, 2, m.operand, 0x1234); });
        t.add("mov " + ptr(4) + m.text + ", 0x12345678", [=](Amd64_Code *c) { amd64_mov_immediate(c, 4, m.operand, 0x12345678); });
        t.add("mov " + ptr(8) + m.text + ", -2", [=](Amd64_Code *c) { amd64_mov_immediate(c, 8, m.operand, (u64)-2); });
        t.add("lea r11, " + m.text, [=](Amd64_Code *c) { amd64_lea(c, R11, m.operand); });
        t.add("lea rcx, " + m.text, [=](Amd64_Code *c) { amd64_lea(c, RCX, m.operand); });
        t.add("movzx r9d, byte ptr " + m.text, [=](Amd64_Code *c) { amd64_movzx(c, 4, R9, 1, m.operand); });
        t.add("movsx rdx, word ptr " + m.text, [=](Amd64_Code *c) { amd64_movsx(c, 8, RDX, 2, m.operand); });
        t.add("movsxd r14, dword ptr " + m.text, [=](Amd64_Code *c) { amd64_movsx(c, 8, R14, 4, m.operand); });
    }
    check_against_as(t);
}

TEST(Amd64Encoder, ArithmeticAgreesWithAs) {
    Table t;
    std::vector<Memory_Case> mems = memory_cases();
    const char *alu[] = {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"};
    const s64 immediates[] = {1, -1, 127, -128, 128, 0x12345678, -0x80000000ll};
    for (u8 op = 0; op < 8; op++)
        for (u32 size : SIZES)
            for (u8 a = 0; a < 16; a++) {
                for (u8 b = 0; b < 16; b += 5)
                    t.add(std::string(alu[op]) + " " + reg(size, a) + ", " + reg(size, b),
                          [=](Amd64_Code *c) { amd64_alu(c, (Amd64_Alu)op, size, amd64_gpr(a), amd64_gpr(b)); });
                for (s64 v : immediates) {
                    if (size == 1 && (v > 127 || v < -128)) continue;
                    if (size == 2 && (v > 32767 || v < -32768)) continue;
                    t.add(std::string(alu[op]) + " " + reg(size, a) + ", " + std::to_string(v),
                          [=](Amd64_Code *c) { amd64_alu_immediate(c, (Amd64_Alu)op, size, amd64_gpr(a), v); });
                }
            }
    for (const Memory_Case &m : mems)
        for (u32 size : SIZES) {
            t.add("sub " + reg(size, R10) + ", " + ptr(size) + m.text, [=](Amd64_Code *c) { amd64_alu(c, ALU_SUB, size, amd64_gpr(R10), m.operand); });
            t.add("add " + ptr(size) + m.text + ", " + reg(size, RSI), [=](Amd64_Code *c) { amd64_alu(c, ALU_ADD, size, m.operand, amd64_gpr(RSI)); });
            t.add("cmp " + ptr(size) + m.text + ", 100", [=](Amd64_Code *c) { amd64_alu_immediate(c, ALU_CMP, size, m.operand, 100); });
            t.add("and " + ptr(size) + m.text + (size == 1 ? ", 0x7f" : ", 0x7fff"),
                  [=](Amd64_Code *c) { amd64_alu_immediate(c, ALU_AND, size, m.operand, size == 1 ? 0x7F : 0x7FFF); });
        }
    const char *shifts[] = {"rol", "ror", "", "", "shl", "shr", "", "sar"};
    const char *unary[] = {"", "", "not", "neg", "mul", "imul", "div", "idiv"};
    for (u32 size : SIZES)
        for (u8 a = 0; a < 16; a++) {
            for (u8 s : {0, 1, 4, 5, 7}) {
                t.add(std::string(shifts[s]) + " " + reg(size, a) + ", 1", [=](Amd64_Code *c) { amd64_shift_immediate(c, (Amd64_Shift)s, size, amd64_gpr(a), 1); });
                t.add(std::string(shifts[s]) + " " + reg(size, a) + ", 5", [=](Amd64_Code *c) { amd64_shift_immediate(c, (Amd64_Shift)s, size, amd64_gpr(a), 5); });
                t.add(std::string(shifts[s]) + " " + reg(size, a) + ", cl", [=](Amd64_Code *c) { amd64_shift_by_cl(c, (Amd64_Shift)s, size, amd64_gpr(a)); });
            }
            for (u8 u = 2; u < 8; u++)
                t.add(std::string(unary[u]) + " " + reg(size, a), [=](Amd64_Code *c) { amd64_unary(c, (Amd64_Unary)u, size, amd64_gpr(a)); });
            t.add("test " + reg(size, a) + ", " + reg(size, (u8)(15 - a)), [=](Amd64_Code *c) { amd64_test(c, size, amd64_gpr(a), (u8)(15 - a)); });
            t.add("test " + reg(size, a) + ", 0x40", [=](Amd64_Code *c) { amd64_test_immediate(c, size, amd64_gpr(a), 0x40); });
            for (u8 cc = 0; cc < 16; cc++) {
                const char *names[] = {"o", "no", "b", "ae", "e", "ne", "be", "a", "s", "ns", "p", "np", "l", "ge", "le", "g"};
                if (size == 1) t.add(std::string("set") + names[cc] + " " + reg(1, a), [=](Amd64_Code *c) { amd64_setcc(c, (Amd64_Condition)cc, amd64_gpr(a)); });
                if (size != 1 && a % 3 == 0)
                    t.add(std::string("cmov") + names[cc] + " " + reg(size, a) + ", " + reg(size, 9),
                          [=](Amd64_Code *c) { amd64_cmovcc(c, (Amd64_Condition)cc, size, a, amd64_gpr(R9)); });
            }
            if (size == 1) continue;
            t.add("imul " + reg(size, a) + ", " + reg(size, 12), [=](Amd64_Code *c) { amd64_imul(c, size, a, amd64_gpr(R12)); });
            t.add("imul " + reg(size, a) + ", " + reg(size, 3) + ", 9", [=](Amd64_Code *c) { amd64_imul_immediate(c, size, a, amd64_gpr(RBX), 9); });
            t.add("imul " + reg(size, a) + ", " + reg(size, 7) + ", 1000", [=](Amd64_Code *c) { amd64_imul_immediate(c, size, a, amd64_gpr(RDI), 1000); });
        }
    for (const Memory_Case &m : mems) {
        t.add("shl qword ptr " + m.text + ", 3", [=](Amd64_Code *c) { amd64_shift_immediate(c, SHIFT_SHL, 8, m.operand, 3); });
        t.add("neg dword ptr " + m.text, [=](Amd64_Code *c) { amd64_unary(c, UNARY_NEG, 4, m.operand); });
        t.add("sete byte ptr " + m.text, [=](Amd64_Code *c) { amd64_setcc(c, CC_E, m.operand); });
        t.add("imul r13, qword ptr " + m.text, [=](Amd64_Code *c) { amd64_imul(c, 8, R13, m.operand); });
        t.add("call qword ptr " + m.text, [=](Amd64_Code *c) { amd64_call_indirect(c, m.operand); });
    }
    // The integer sequences of the translation: sized shifts and rotations on memory,
    // lea steps of multiplication on every allocatable register.
    for (size_t i = 0; i < mems.size(); i += 7) {
        const Memory_Case &m = mems[i];
        for (u32 size : SIZES) {
            t.add("sar " + ptr(size) + m.text + ", cl", [=](Amd64_Code *c) { amd64_shift_by_cl(c, SHIFT_SAR, size, m.operand); });
            t.add("rol " + ptr(size) + m.text + ", 3", [=](Amd64_Code *c) { amd64_shift_immediate(c, SHIFT_ROL, size, m.operand, 3); });
            t.add("ror " + ptr(size) + m.text + ", cl", [=](Amd64_Code *c) { amd64_shift_by_cl(c, SHIFT_ROR, size, m.operand); });
            t.add("mov " + ptr(size) + m.text + ", 0", [=](Amd64_Code *c) { amd64_mov_immediate(c, size, m.operand, 0); });
            t.add("test " + ptr(size) + m.text + ", 0x40", [=](Amd64_Code *c) { amd64_test_immediate(c, size, m.operand, 0x40); });
        }
    }
    for (u8 r = 8; r < 16; r++)
        for (u32 factor : {3u, 5u, 9u})
            for (u32 size : {4u, 8u})
                t.add("lea " + reg(size, r) + ", [" + N64[r] + "+" + N64[r] + "*" + std::to_string(factor - 1) + "]",
                      [=](Amd64_Code *c) { amd64_lea_for_multiplication(c, size, r, factor); });
    struct Product {
        u32 size;
        u64 value;
        const char *text;
    };
    const Product products[] = {
        {8, 9, "lea r13, [r13+r13*8]"},
        {8, 8, "shl r13, 3"},
        {8, 6, "lea r13, [r13+r13*2]; shl r13, 1"},
        {8, 7, "mov rcx, r13; shl rcx, 3; sub rcx, r13; mov r13, rcx"},
        {8, 17, "mov rcx, r13; shl rcx, 4; add r13, rcx"},
        {8, 45, "lea r13, [r13+r13*8]; lea r13, [r13+r13*4]"},
        {8, 40, "lea r13, [r13+r13*4]; shl r13, 3"},
        {8, 72, "lea r13, [r13+r13*8]; shl r13, 3"},
        {8, (u64)-1, "neg r13"},
        {8, 0, "xor r13d, r13d"},
        {8, 1000, "imul r13, r13, 1000"},
        {8, (u64)-12, "imul r13, r13, -12"},
        {8, 0x100000001ull, "mov rcx, r13; shl rcx, 32; add r13, rcx"},
        {8, 0x123456789ull, "mov rcx, 0x123456789; imul r13, rcx"},
        {4, 5, "lea r13d, [r13+r13*4]"},
        {4, 0x80000000ull, "imul r13d, r13d, -2147483648"},
        {1, 255, "neg r13d"},
        {2, 100, "lea r13d, [r13+r13*4]; lea r13d, [r13+r13*4]; shl r13d, 2"},
        {8, 1001, "imul r13, r13, 1001"},
    };
    for (const Product &p : products) t.add(p.text, [=](Amd64_Code *c) { amd64_multiply_by_constant(c, p.size, R13, p.value); });
    t.add("cbw", [](Amd64_Code *c) { amd64_sign_extend_accumulator(c, 1); });
    t.add("cwd", [](Amd64_Code *c) { amd64_sign_extend_accumulator(c, 2); });
    t.add("cdq", [](Amd64_Code *c) { amd64_sign_extend_accumulator(c, 4); });
    t.add("cqo", [](Amd64_Code *c) { amd64_sign_extend_accumulator(c, 8); });
    t.add("ret", [](Amd64_Code *c) { amd64_ret(c); });
    t.add("int3", [](Amd64_Code *c) { amd64_int3(c); });
    for (u8 r = 0; r < 16; r++) {
        t.add("call " + reg(8, r), [=](Amd64_Code *c) { amd64_call_indirect(c, amd64_gpr(r)); });
        t.add("push " + reg(8, r), [=](Amd64_Code *c) { amd64_push(c, r); });
        t.add("pop " + reg(8, r), [=](Amd64_Code *c) { amd64_pop(c, r); });
    }
    check_against_as(t);
}

TEST(Amd64Encoder, FloatFormsAgreeWithAs) {
    Table t;
    std::vector<Memory_Case> mems = memory_cases();
    const char *ops[] = {"add", "mul", "sub", "min", "div", "max", "sqrt"};
    const Amd64_Float_Op codes[] = {FOP_ADD, FOP_MUL, FOP_SUB, FOP_MIN, FOP_DIV, FOP_MAX, FOP_SQRT};
    for (u32 size : {4u, 8u}) {
        std::string s = size == 4 ? "ss" : "sd";
        for (u8 a = 0; a < 16; a++)
            for (u8 b = 0; b < 16; b += 3) {
                t.add("mov" + s + " " + xmm(a) + ", " + xmm(b), [=](Amd64_Code *c) { amd64_movs(c, size, amd64_xmm(a), amd64_xmm(b)); });
                for (u32 i = 0; i < 7; i++) {
                    t.add(std::string(ops[i]) + s + " " + xmm(a) + ", " + xmm(b),
                          [=](Amd64_Code *c) { amd64_float_op(c, codes[i], size, a, amd64_xmm(b)); });
                    if (i < 6)
                        t.add("v" + std::string(ops[i]) + s + " " + xmm(a) + ", " + xmm((u8)(15 - b)) + ", " + xmm(b),
                              [=](Amd64_Code *c) { amd64_vfloat_op(c, codes[i], size, a, (u8)(15 - b), amd64_xmm(b)); });
                }
                t.add("ucomis" + s.substr(1) + " " + xmm(a) + ", " + xmm(b), [=](Amd64_Code *c) { amd64_ucomis(c, size, a, amd64_xmm(b)); });
                t.add("cvtsi2" + s + " " + xmm(a) + ", " + reg(4, b), [=](Amd64_Code *c) { amd64_cvtsi2s(c, size, a, 4, amd64_gpr(b)); });
                t.add("cvtsi2" + s + " " + xmm(a) + ", " + reg(8, b), [=](Amd64_Code *c) { amd64_cvtsi2s(c, size, a, 8, amd64_gpr(b)); });
                t.add("cvtt" + s + "2si " + reg(4, a) + ", " + xmm(b), [=](Amd64_Code *c) { amd64_cvtts2si(c, size, 4, a, amd64_xmm(b)); });
                t.add("cvtt" + s + "2si " + reg(8, a) + ", " + xmm(b), [=](Amd64_Code *c) { amd64_cvtts2si(c, size, 8, a, amd64_xmm(b)); });
                t.add((size == 8 ? "cvtss2sd " : "cvtsd2ss ") + xmm(a) + ", " + xmm(b), [=](Amd64_Code *c) { amd64_cvt_float(c, size, a, amd64_xmm(b)); });
                t.add((size == 4 ? "movd " : "movq ") + xmm(a) + ", " + reg(size, b), [=](Amd64_Code *c) { amd64_movq_to_xmm(c, size, a, amd64_gpr(b)); });
                t.add((size == 4 ? "movd " : "movq ") + reg(size, b) + ", " + xmm(a), [=](Amd64_Code *c) { amd64_movq_from_xmm(c, size, amd64_gpr(b), a); });
                if (size == 4) t.add("xorps " + xmm(a) + ", " + xmm(b), [=](Amd64_Code *c) { amd64_xorps(c, a, b); });
                if (size == 4) t.add("movaps " + xmm(a) + ", " + xmm(b), [=](Amd64_Code *c) { amd64_movaps(c, a, b); });
            }
        for (const Memory_Case &m : mems) {
            t.add("mov" + s + " xmm9, " + ptr(size) + m.text, [=](Amd64_Code *c) { amd64_movs(c, size, amd64_xmm(9), m.operand); });
            t.add("mov" + s + " " + ptr(size) + m.text + ", xmm2", [=](Amd64_Code *c) { amd64_movs(c, size, m.operand, amd64_xmm(2)); });
            t.add("div" + s + " xmm3, " + ptr(size) + m.text, [=](Amd64_Code *c) { amd64_float_op(c, FOP_DIV, size, 3, m.operand); });
            t.add("vmul" + s + " xmm12, xmm4, " + ptr(size) + m.text, [=](Amd64_Code *c) { amd64_vfloat_op(c, FOP_MUL, size, 12, 4, m.operand); });
            t.add("cvtsi2" + s + " xmm1, qword ptr " + m.text, [=](Amd64_Code *c) { amd64_cvtsi2s(c, size, 1, 8, m.operand); });
            t.add("cvtt" + s + "2si r8, " + ptr(size) + m.text, [=](Amd64_Code *c) { amd64_cvtts2si(c, size, 8, R8, m.operand); });
        }
    }
    for (const Memory_Case &m : mems)
        for (u8 y : {0, 5, 8, 15}) {
            t.add("vmovdqu ymm" + std::to_string(y) + ", ymmword ptr " + m.text, [=](Amd64_Code *c) { amd64_vmovdqu_load(c, y, m.operand); });
            t.add("vmovdqu ymmword ptr " + m.text + ", ymm" + std::to_string(y), [=](Amd64_Code *c) { amd64_vmovdqu_store(c, m.operand, y); });
        }
    check_against_as(t);
}

// Branches have no single assembler spelling of the rel32 form, so they are
// checked by what objdump decodes: mnemonic and target.
TEST(Amd64Encoder, BranchesDecodeToTheirTargets) {
    Temp_Dir dir;
    Amd64_Code code;
    amd64_code_init(&code);
    const char *names[] = {"jo", "jno", "jb", "jae", "je", "jne", "jbe", "ja", "js", "jns", "jp", "jnp", "jl", "jge", "jle", "jg"};
    std::vector<std::string> expected;
    for (u8 cc = 0; cc < 16; cc++) {
        Amd64_Emitted e = amd64_jcc_rel32(&code, (Amd64_Condition)cc);
        amd64_patch_rel32(&code, e.displacement_position, e.end, 0x1000 + cc);
        char line[64];
        snprintf(line, sizeof line, "%-6s 0x%x", names[cc], 0x1000 + cc);
        expected.push_back(line);
    }
    Amd64_Emitted j = amd64_jmp_rel32(&code);
    amd64_patch_rel32(&code, j.displacement_position, j.end, 0);
    expected.push_back("jmp    0x0");
    Amd64_Emitted call = amd64_call_rel32(&code);
    amd64_patch_rel32(&code, call.displacement_position, call.end, 0x40);
    expected.push_back("call   0x40");
    std::string bytes((char *)amd64_code_bytes(&code), code.bytes.count);
    amd64_code_free(&code);
    ASSERT_TRUE(write_whole_file(dir.file("code.bin"), bytes));
    std::string listing;
    ASSERT_EQ(run_command("objdump -D -b binary -m i386:x86-64 '" + dir.file("code.bin") + "'", &listing), 0);
    EXPECT_EQ(listing.find("(bad)"), std::string::npos) << listing;
    for (const std::string &e : expected) EXPECT_NE(listing.find(e), std::string::npos) << e << "\n" << listing;
    // Every one of them is the six-byte (or five-byte) near form.
    EXPECT_EQ(bytes.size(), 16u * 6 + 5 + 5);
}

TEST(Amd64Encoder, DataReferencesRecordTheirDisplacement) {
    Amd64_Code code;
    amd64_code_init(&code);
    amd64_mov(&code, 8, amd64_gpr(RAX), amd64_make_rip_memory_operand(0x40, AMD64_DATA_GLOBAL));            // 48 8B 05 disp32
    amd64_mov_immediate(&code, 4, amd64_make_rip_memory_operand(0x10, AMD64_DATA_CONSTANT), 7);            // C7 05 disp32 imm32
    amd64_vmovdqu_load(&code, 3, amd64_make_rip_memory_operand(0x20, AMD64_DATA_TYPE));                     // C5 FE 6F 1D disp32
    amd64_mov(&code, 8, amd64_gpr(RCX), amd64_make_rip_memory_operand(0, AMD64_DATA_NONE));                 // untagged: no record
    ASSERT_EQ(code.data_references.count, 3u);
    struct Row { u32 position; u8 extra; u8 tag; s32 stored; } rows[] = {{3, 0, AMD64_DATA_GLOBAL, 0x40}, {9, 4, AMD64_DATA_CONSTANT, 0x10}, {21, 0, AMD64_DATA_TYPE, 0x20}};
    for (u32 i = 0; i < 3; i++) {
        Amd64_Data_Reference *r = dynamic_array_at<Amd64_Data_Reference>(&code.data_references, i);
        EXPECT_EQ(r->displacement_position, rows[i].position) << i;
        EXPECT_EQ(r->extra, rows[i].extra) << i;
        EXPECT_EQ(r->data_tag, rows[i].tag) << i;
        s32 stored;
        memcpy(&stored, amd64_code_bytes(&code) + r->displacement_position, 4);
        EXPECT_EQ(stored, rows[i].stored) << i;
    }
    amd64_code_free(&code);
}

} // namespace
