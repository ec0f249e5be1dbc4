// Bytecode -> AMD64 -> run: hand-built bytecode over registers placed in
// machine registers, the frame and global data, executed in-process.
#include "compiler/back/amd64_translation.h"
#include "compiler/back/execution.h"
#include "compiler/back/execution_run.h"
#include "compiler/back/image.h"
#include "compiler/back/ir.h"
#include "compiler/front/tokens.h"
#include "core/log.h"
#include "test_util.h"
#include <gtest/gtest.h>
#include <string>

extern "C" void test_dispatcher(u8 *block, u64 id); // test_execution.cpp: destroys every caller-saved register
std::string test_last_logged();

namespace {

struct Builder {
    Scope scope = {};
    Dynamic_Array bytecode;
    Builder() {
        init_memory();
        static bool ir_ready;
        if (!ir_ready) ir_init();
        ir_ready = true;
        ir_reset();
        scope.flags = SCOPE_ENTRY_POINT;
        dynamic_array_init(&scope.registers, sizeof(Register), 16);
        dynamic_array_init(&bytecode, sizeof(Bytecode_Instruction), 64);
    }
    ~Builder() {
        dynamic_array_free(&scope.registers);
        dynamic_array_free(&bytecode);
    }
    Register_Id machine(u8 reg, u8 register_class = MACHINE_REGISTER_INTEGER) {
        Register *r = (Register *)dynamic_array_add(&scope.registers);
        *r = {};
        r->kind = REGISTER_KIND_STACK;
        r->size = 8;
        r->owner = &scope;
        r->index = (s32)scope.registers.count - 1;
        r->in_machine_register = 1;
        r->machine_register_class = register_class;
        r->machine_register = reg;
        return get_register_id(r, REGISTER_POOL_STACK);
    }
    Register_Id frame(u64 offset, u32 size) {
        Register *r = (Register *)dynamic_array_add(&scope.registers);
        *r = {};
        r->kind = REGISTER_KIND_STACK;
        r->size = size;
        r->owner = &scope;
        r->index = (s32)scope.registers.count - 1;
        r->offset = offset;
        return get_register_id(r, REGISTER_POOL_STACK);
    }
    Register_Id global(u64 offset, u32 size) {
        Register *r = (Register *)dynamic_array_add(&ir_state.global_registers);
        *r = {};
        r->kind = REGISTER_KIND_GLOBAL_DATA;
        r->size = size;
        r->offset = offset;
        r->index = (s32)ir_state.global_registers.count - 1;
        return get_register_id(r, REGISTER_POOL_GLOBAL_DATA);
    }
    Bytecode_Instruction *add(u8 opcode, u32 size = 0, u8 flags = 0) {
        Bytecode_Instruction *b = insert_bytecode(&bytecode, opcode, nullptr, nullptr);
        b->size = size;
        b->flags = flags;
        return b;
    }
    u64 here() { return bytecode_position(bytecode.count); }
};

// Translates, builds an image, loads it and runs its #on_load under the guard.
bool run(Builder *b, u8 *globals, u32 globals_size, std::string *problem, const u8 *initial = nullptr) {
    Amd64_Code code;
    amd64_code_init(&code);
    u64 entries[3] = {0, 0, 0};
    u32 failed = 0;
    bool ok = amd64_translate_bytecode(&b->bytecode, &code, entries, &failed);
    if (!ok) *problem = "opcode " + std::to_string(failed) + " not translated";
    Loaded_Image image = {};
    if (ok) {
        Image_Input in = {};
        in.version = EDITOR_VERSION;
        in.entry_flags = IMAGE_ENTRY_ON_LOAD;
        in.entry_positions[2] = (u32)entries[2];
        u8 zero[64] = {};
        if (initial) memcpy(zero, initial, sizeof zero);
        in.global_data = zero;
        in.global_data_size = sizeof zero;
        in.code = &code;
        Allocation a = {};
        ok = image_build(&in, &a) && image_load_bytes((u8 *)a.memory, a.size, &image);
        if (a.memory) gp_free(&a);
    }
    if (ok) {
        image_relocate(&image, (void *)test_dispatcher);
        execution_set_code_range((u8 *)image.header + image.header->code_offset, image.header->code_size);
        Execution_Fault fault;
        ok = amd64_execute_guarded(get_on_load_block_entry_point(image.header), nullptr, 1000000, &fault);
        if (!ok) *problem = std::string((char *)execution_fault_message(&fault).data, execution_fault_message(&fault).count);
        memcpy(globals, (u8 *)image.header + image.header->global_data_offset, globals_size);
    }
    image_unload(&image);
    amd64_code_free(&code);
    return ok;
}

// sum = 0; i = n; do { sum += i; i -= 1 } while (i != 0); and comparisons of the result.
TEST(Amd64Translation, LoopArithmeticAndComparisons) {
    const struct {
        u32 size;
        bool is_signed;
        u64 n;
        u64 expected_sum;
    } rows[] = {
        {8, true, 10, 55}, {4, false, 100, 5050}, {2, true, 300, (u64)(45150 - 65536)}, {1, false, 20, 210}, {8, false, 1, 1},
    };
    for (auto &row : rows) {
        Builder b;
        u8 sign = row.is_signed ? BC_FLAG_SIGNED : 0;
        Register_Id i = b.machine(R15), sum = b.frame(8, row.size), out = b.global(0, row.size);
        Register_Id flag = b.global(8, 1), less = b.global(9, 1), quotient = b.global(16, 8);
        Bytecode_Instruction *push = b.add(BC_PUSH_STACK_FRAME, 16);
        push->operands[0].reference = &b.scope;
        push->integer_mask = 1 << R15;
        b.add(BC_COPY_CONSTANT, 8)->operands[0].reg = i;
        dynamic_array_at<Bytecode_Instruction>(&b.bytecode, b.bytecode.count - 1)->operands[1].constant = row.n;
        b.add(BC_SET_TO_ZERO, row.size)->operands[0].reg = sum;
        u64 loop = b.here();
        Bytecode_Instruction *add = b.add(BC_INT_ARITHMETIC, row.size, sign);
        add->operands[0].reg = sum;
        add->operands[1].op = OP_ADD;
        add->operands[2].reg = i;
        Bytecode_Instruction *dec = b.add(BC_INT_ARITHMETIC_CONSTANT, 8, sign);
        dec->operands[0].reg = i;
        dec->operands[1].op = OP_SUBTRACT;
        dec->operands[2].constant = 1;
        b.add(BC_COMPARE_TO_ZERO, 8)->operands[0].reg = i;
        b.add(BC_JUMP_NZ)->operands[0].target = loop;
        Bytecode_Instruction *copy = b.add(BC_COPY, row.size);
        copy->operands[0].reg = out;
        copy->operands[1].reg = sum;
        Bytecode_Instruction *cmp = b.add(BC_COMPARE_TO_CONSTANT, row.size, sign);
        cmp->operands[0].reg = sum;
        cmp->operands[1].constant = row.expected_sum;
        Bytecode_Instruction *store = b.add(BC_STORE_CMP_RESULT, 1, sign);
        store->operands[0].reg = flag;
        store->operands[1].op = OP_EQUAL;
        Bytecode_Instruction *cmp0 = b.add(BC_COMPARE_TO_CONSTANT, row.size, sign);
        cmp0->operands[0].reg = sum;
        cmp0->operands[1].constant = 0;
        Bytecode_Instruction *lt = b.add(BC_STORE_CMP_RESULT, 1, sign);
        lt->operands[0].reg = less;
        lt->operands[1].op = OP_LESS;
        // quotient = n * 7 / 3 through the machine register
        Bytecode_Instruction *mul = b.add(BC_INT_ARITHMETIC_CONSTANT, 8, sign);
        mul->operands[0].reg = i;
        mul->operands[1].op = OP_ADD;
        mul->operands[2].constant = row.n * 7;
        Bytecode_Instruction *div = b.add(BC_INT_ARITHMETIC_CONSTANT, 8, sign);
        div->operands[0].reg = i;
        div->operands[1].op = OP_DIVIDE;
        div->operands[2].constant = 3;
        Bytecode_Instruction *q = b.add(BC_COPY, 8);
        q->operands[0].reg = quotient;
        q->operands[1].reg = i;
        b.add(BC_FOREIGN_CALL, 0)->operands[0].constant = 0;
        b.add(BC_POP_STACK_FRAME)->operands[0].reference = &b.scope;
        b.add(BC_RETURN);
        u8 globals[24] = {};
        std::string problem;
        ASSERT_TRUE(run(&b, globals, sizeof globals, &problem)) << problem;
        u64 got = 0;
        memcpy(&got, globals, row.size);
        u64 mask = row.size == 8 ? ~0ull : (1ull << (8 * row.size)) - 1;
        EXPECT_EQ(got, row.expected_sum & mask) << row.size;
        EXPECT_EQ(globals[8], 1) << row.size;
        bool negative = row.is_signed && ((row.expected_sum & mask) >> (8 * row.size - 1)) != 0;
        EXPECT_EQ(globals[9], negative ? 1 : 0) << row.size;
        u64 qv;
        memcpy(&qv, globals + 16, 8);
        EXPECT_EQ(qv, row.n * 7 / 3) << row.size;
    }
}

Bytecode_Instruction *two(Builder *b, u8 opcode, u32 size, u8 flags, Register_Id d, Register_Id s, u64 source_size = 0) {
    Bytecode_Instruction *i = b->add(opcode, size, flags);
    i->operands[0].reg = d;
    i->operands[1].reg = s;
    i->operands[2].constant = source_size;
    return i;
}

// Floats in xmm and memory, casts every way, and addresses into an array.
TEST(Amd64Translation, FloatsCastsAndAddresses) {
    Builder b;
    Register_Id x = b.machine(14, MACHINE_REGISTER_FLOAT), n = b.machine(R14), p = b.machine(R13), e = b.machine(R12);
    Register_Id single = b.frame(16, 4);
    Register_Id g_double = b.global(0, 8), g_wide = b.global(8, 8), g_element = b.global(16, 4), g_equal = b.global(24, 1);
    Register_Id g_array = b.global(32, 16), g_unsigned = b.global(48, 8), g_bool = b.global(56, 1), g_zero = b.global(60, 4);
    Bytecode_Instruction *push = b.add(BC_PUSH_STACK_FRAME, 32);
    push->operands[0].reference = &b.scope;
    f64 one_and_half = 1.5;
    Bytecode_Instruction *c = b.add(BC_COPY_CONSTANT, 8);
    c->operands[0].reg = x;
    memcpy(&c->operands[1].constant, &one_and_half, 8);
    Bytecode_Instruction *mul = b.add(BC_FLOAT_ARITHMETIC_CONSTANT, 8);
    mul->operands[0].reg = x;
    mul->operands[1].op = OP_MULTIPLY;
    mul->operands[2].real = 4.0;
    Bytecode_Instruction *add = b.add(BC_FLOAT_ARITHMETIC, 8);
    add->operands[0].reg = x;
    add->operands[1].op = OP_ADD;
    add->operands[2].reg = x; // 12.0
    two(&b, BC_CAST_FLOAT_TO_INT, 8, BC_FLAG_SIGNED, n, x, 8);         // 12
    two(&b, BC_CAST_INT_TO_FLOAT, 4, BC_FLAG_SIGNED, single, n, 8);    // 12.0f
    two(&b, BC_CAST_FLOAT_TO_BIG_FLOAT, 8, 0, g_double, single, 4);    // 12.0
    two(&b, BC_TAKE_ADDRESS, 8, 0, p, g_array);
    Bytecode_Instruction *d = two(&b, BC_MEMORY_DEREFERENCE_CONSTANT, 4, 0, e, p, 2);
    d->operands[3].constant = 4;                                       // array[2]
    two(&b, BC_CAST_INT_TO_BIG_INT, 8, BC_FLAG_SIGNED, g_wide, e, 4);  // sign-extended
    Bytecode_Instruction *a = two(&b, BC_CALCULATE_ADDRESS_CONSTANT, 8, 0, p, p, 3);
    a->operands[3].constant = 4;
    Bytecode_Instruction *d2 = two(&b, BC_MEMORY_DEREFERENCE_CONSTANT, 4, 0, g_element, p, 0);
    d2->operands[3].constant = 4;                                      // array[3]
    Bytecode_Instruction *fc = b.add(BC_FLOAT_COMPARE_TO_CONSTANT, 8);
    fc->operands[0].reg = x;
    fc->operands[1].real = 12.0;
    Bytecode_Instruction *st = b.add(BC_STORE_CMP_RESULT, 1);
    st->operands[0].reg = g_equal;
    st->operands[1].op = OP_EQUAL;
    Bytecode_Instruction *big = b.add(BC_COPY_CONSTANT, 8);
    big->operands[0].reg = n;
    big->operands[1].constant = 0xFFFFFFFFFFFFF800ull;
    two(&b, BC_CAST_INT_TO_FLOAT, 8, 0, g_unsigned, n, 8);
    two(&b, BC_CAST_FLOAT_TO_BOOL, 1, 0, g_bool, g_zero, 4);
    // memcmp of array[0..2) against array[2..4): differ; then of 0 bytes: equal
    Register_Id first = b.machine(R11), second = b.machine(R10), count = b.machine(R9);
    two(&b, BC_TAKE_ADDRESS, 8, 0, first, g_array);
    Bytecode_Instruction *sa = two(&b, BC_CALCULATE_ADDRESS_CONSTANT, 8, 0, second, first, 2);
    sa->operands[3].constant = 4;
    Bytecode_Instruction *cn = b.add(BC_COPY_CONSTANT, 8);
    cn->operands[0].reg = count;
    cn->operands[1].constant = 8;
    Bytecode_Instruction *mc = two(&b, BC_MEMCMP, 0, 0, first, second);
    mc->operands[2].reg = count;
    Bytecode_Instruction *r1 = b.add(BC_STORE_CMP_RESULT, 1);
    r1->operands[0].reg = b.global(57, 1);
    r1->operands[1].op = OP_EQUAL;
    cn = b.add(BC_COPY_CONSTANT, 8);
    cn->operands[0].reg = count;
    cn->operands[1].constant = 0;
    mc = two(&b, BC_MEMCMP, 0, 0, first, second);
    mc->operands[2].reg = count;
    r1 = b.add(BC_STORE_CMP_RESULT, 1);
    r1->operands[0].reg = b.global(58, 1);
    r1->operands[1].op = OP_EQUAL;
    b.add(BC_POP_STACK_FRAME)->operands[0].reference = &b.scope;
    b.add(BC_RETURN);
    u8 initial[64] = {};
    s32 array[4] = {10, 20, -7, 99};
    memcpy(initial + 32, array, 16);
    f32 zero = 0.0f;
    memcpy(initial + 60, &zero, 4);
    initial[56] = 0xAA;
    u8 g[64];
    std::string problem;
    ASSERT_TRUE(run(&b, g, sizeof g, &problem, initial)) << problem;
    f64 f;
    memcpy(&f, g, 8);
    EXPECT_EQ(f, 12.0);
    EXPECT_EQ(*(s64 *)(g + 8), -7);
    EXPECT_EQ(*(s32 *)(g + 16), 99);
    EXPECT_EQ(g[24], 1);
    memcpy(&f, g + 48, 8);
    EXPECT_EQ(f, (f64)0xFFFFFFFFFFFFF800ull);
    EXPECT_EQ(g[56], 0);
    EXPECT_EQ(g[57], 0);
    EXPECT_EQ(g[58], 1);
}

// The driver's last step: an #events block written as custom.8b, loaded back
// from the file and run, reaching the dispatcher.
TEST(Amd64Translation, ProgramWrittenLoadedAndRun) {
    Builder b;
    Temp_Dir dir;
    b.add(BC_RETURN); // something before the entry, so its position matters
    u64 entry = b.here();
    Bytecode_Instruction *push = b.add(BC_PUSH_STACK_FRAME, 16);
    push->operands[0].reference = &b.scope;
    Register_Id block = b.frame(0, 16);
    b.add(BC_SET_TO_ZERO, 16)->operands[0].reg = block; // an empty String
    Bytecode_Instruction *call = b.add(BC_FOREIGN_CALL, 0, BC_FLAG_PASSES_ARGUMENTS);
    call->operands[0].constant = 95;
    call->operands[1].reg = block;
    b.add(BC_POP_STACK_FRAME)->operands[0].reference = &b.scope;
    b.add(BC_RETURN);
    std::string path = dir.file("custom.8b");
    String image_path = make_string(path.data(), (s64)path.size());
    const u64 entries[3] = {0, entry, 0};
    ASSERT_TRUE(amd64_output_program(&b.bytecode, entries, IMAGE_ENTRY_EVENTS, EDITOR_VERSION, image_path, S("custom.8")));
    EXPECT_TRUE(image_cache_is_usable(image_path, EDITOR_VERSION));
    Loaded_Image image = {};
    ASSERT_TRUE(image_load_file(image_path, &image));
    image_relocate(&image, (void *)test_dispatcher);
    EXPECT_EQ(get_on_load_block_entry_point(image.header), nullptr);
    void *events = get_events_block_entry_point(image.header);
    ASSERT_NE(events, nullptr);
    EXPECT_EQ((u8 *)events - ((u8 *)image.header + image.header->code_offset), 1); // after the one-byte ret
    execution_set_code_range((u8 *)image.header + image.header->code_offset, image.header->code_size);
    Execution_Fault fault;
    EXPECT_TRUE(amd64_execute_guarded(events, nullptr, 1000000, &fault)) << execution_fault_message(&fault).data;
    image_unload(&image);
}

// Runs #on_load = log(text); int_to_string(1234567) logged; then `fault`
// (if any) through execution_run_image, as tarnoc --run does.
void build_logging_program(Builder *b, bool fault) {
    Register_Id block = b->frame(0, 24);
    Register_Id text = b->global(0, 16);
    Bytecode_Instruction *push = b->add(BC_PUSH_STACK_FRAME, 32);
    push->operands[0].reference = &b->scope;
    Bytecode_Instruction *copy = b->add(BC_COPY, 16);
    copy->operands[0].reg = block;
    copy->operands[1].reg = text;
    Bytecode_Instruction *call = b->add(BC_FOREIGN_CALL, 0, BC_FLAG_PASSES_ARGUMENTS);
    call->operands[0].constant = 95;
    call->operands[1].reg = block;
    Bytecode_Instruction *n = b->add(BC_COPY_CONSTANT, 8);
    n->operands[0].reg = block;
    n->operands[1].constant = 1234567;
    call = b->add(BC_FOREIGN_CALL, 0, BC_FLAG_PASSES_ARGUMENTS);
    call->operands[0].constant = 96;
    call->operands[1].reg = block;
    Register_Id result = b->frame(8, 16);
    copy = b->add(BC_COPY, 16);
    copy->operands[0].reg = b->frame(0, 16);
    copy->operands[1].reg = result;
    call = b->add(BC_FOREIGN_CALL, 0, BC_FLAG_PASSES_ARGUMENTS);
    call->operands[0].constant = 95;
    call->operands[1].reg = block;
    if (fault) {
        Register_Id zero = b->machine(R15);
        Bytecode_Instruction *z = b->add(BC_COPY_CONSTANT, 8);
        z->operands[0].reg = zero;
        z->operands[1].constant = 0;
        Bytecode_Instruction *read = b->add(BC_MEMORY_DEREFERENCE_CONSTANT, 8);
        read->operands[0].reg = zero;
        read->operands[1].reg = zero;
        read->operands[3].constant = 1;
    }
    b->add(BC_POP_STACK_FRAME)->operands[0].reference = &b->scope;
    b->add(BC_RETURN);
}

TEST(Amd64Translation, RunImageLikeTarnoc) {
    for (bool fault : {false, true}) {
        Builder b;
        Temp_Dir dir;
        build_logging_program(&b, fault);
        // The logged String points into global data: a pointer the image relocates.
        static const char text[] = "hello from #on_load";
        u8 *globals = ir_state.global_data;
        u64 offset = 32, count = sizeof text - 1;
        memcpy(globals, &offset, 8);
        memcpy(globals + 8, &count, 8);
        memcpy(globals + 32, text, count);
        ir_state.global_data_used = 64;
        Relocation *r = (Relocation *)dynamic_array_add(&ir_state.global_relocations);
        *r = {};
        r->location = b.global(0, 16);
        r->target = b.global(32, 32);
        r->section = IMAGE_SECTION_GLOBAL_DATA;
        std::string path = dir.file("custom.8b");
        String image_path = make_string(path.data(), (s64)path.size());
        const u64 entries[3] = {0, 0, 0};
        ASSERT_TRUE(amd64_output_program(&b.bytecode, entries, IMAGE_ENTRY_ON_LOAD, EDITOR_VERSION, image_path, S("custom.8")));
        FILE *out = tmpfile(), *err = tmpfile();
        int status = execution_run_image(image_path, out, err);
        std::string output, errors;
        char buffer[256];
        rewind(out);
        while (size_t got = fread(buffer, 1, sizeof buffer, out)) output.append(buffer, got);
        rewind(err);
        while (size_t got = fread(buffer, 1, sizeof buffer, err)) errors.append(buffer, got);
        fclose(out);
        fclose(err);
        EXPECT_EQ(output, "hello from #on_load\n1,234,567\n") << fault;
        EXPECT_EQ(status, fault ? RUN_EXIT_FAULT : RUN_EXIT_OK);
        if (fault) EXPECT_NE(errors.find("null address"), std::string::npos) << errors;
        else EXPECT_EQ(errors, "");
        ir_state.global_relocations.count = 0;
        memset(globals, 0, 64);
        ir_state.global_data_used = 0;
    }
    FILE *err = tmpfile();
    EXPECT_EQ(execution_run_image(S("/nonexistent/custom.8b"), stdout, err), RUN_EXIT_FAULT);
    fclose(err);
}

// Compiled by tarnoc: floats the allocator keeps in xmm registers (every one
// of them with this many live) outlive foreign calls, made directly and from a
// sub-program, and the program says so in its last log line.
TEST(Amd64Translation, FloatsInRegistersSurviveForeignCalls) {
    Temp_Dir dir;
    ASSERT_TRUE(write_whole_file(dir.file("floats.8"), R"(
$note: (x: f64) -> f64 = { log("note"); return x * 2.0; };
#on_load {
    a: f64 = 1.5; b: f64 = 2.25; c: f64 = 3.0; d: f64 = 4.5; e: f64 = 5.25; f: f64 = 6.0; g: f64 = 7.5;
    h: f64 = 8.25; i: f64 = 9.0; j: f64 = 10.5; k: f64 = 11.25; l: f32 = 12.0; m: f32 = 13.5; n: f64 = 14.25;
    log("call");
    x := note(0.5);
    if a + b + c + d + e + f + g + h + i + j + k + cast(l + m, f64) + n + x == 109.75 { log("kept"); } else { log("lost"); }
}
)"));
    std::string image_path = dir.file("floats.8b"), output;
    ASSERT_EQ(run_command("'" + std::string(TARNO_BIN_DIR) + "/tarnoc' -o '" + image_path + "' '" + dir.file("floats.8") + "'", &output), 0) << output;
    Loaded_Image image = {};
    ASSERT_TRUE(image_load_file(make_string(image_path.data(), (s64)image_path.size()), &image));
    image_relocate(&image, (void *)test_dispatcher);
    execution_set_code_range((u8 *)image.header + image.header->code_offset, image.header->code_size);
    Execution_Fault fault;
    EXPECT_TRUE(amd64_execute_guarded(get_on_load_block_entry_point(image.header), nullptr, 1000000, &fault));
    EXPECT_EQ(test_last_logged(), "kept");
    image_unload(&image);
}

TEST(Amd64Translation, UntranslatedOpcodesAreNamed) {
    Builder b;
    b.add(BC_INVALID_31, 8);
    Amd64_Code code;
    amd64_code_init(&code);
    u64 entries[3] = {};
    u32 failed = 0;
    EXPECT_FALSE(amd64_translate_bytecode(&b.bytecode, &code, entries, &failed));
    EXPECT_EQ(failed, (u32)BC_INVALID_31);
    amd64_code_free(&code);
}

} // namespace
