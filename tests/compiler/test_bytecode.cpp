// Bytecode: the opcode table, jump threading, call linking, and the lowering
// of hand-built IR (the loop and call shapes statements produce).
#include "compiler/back/bytecode_gen.h"
#include "compiler/back/ir.h"
#include "compiler/back/bytecode_program.h"
#include "compiler/front/diagnostics.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(BytecodeTable, NamesAtTheirCodes) {
    const struct {
        u32 code;
        const char *name;
    } rows[] = {
        {0, "INVALID"}, {31, "INVALID"}, {39, "INVALID"}, {1, "set to zero"}, {3, "copy constant number"},
        {8, "copy sub-program address"}, {16, "cast float to big float"}, {25, "calculate address"},
        {32, "compare to constant"}, {33, "memcmp"}, {40, "store cmp result"}, {49, "jump ze"},
        {54, "copy arguments address (AMD64)"}, {56, "call[]"}, {57, "foreign call"}, {58, "return"},
        {59, "UNKNOWN INSTRUCTION"}, {255, "UNKNOWN INSTRUCTION"},
    };
    for (auto &r : rows) EXPECT_STREQ(bytecode_opcode_name(r.code), r.name) << r.code;
    for (u32 op = 0; op < NUM_BYTECODE_OPCODES; op++) {
        EXPECT_EQ(BYTECODE_OPCODES[op].is_jump, bytecode_is_jump(op)) << op;
    }
}

TEST(BytecodeTable, OppositeJumps) {
    const u8 pairs[][2] = {{BC_JUMP_EQ, BC_JUMP_NE}, {BC_JUMP_LT, BC_JUMP_GE}, {BC_JUMP_LE, BC_JUMP_GT},
                           {BC_JUMP_NZ, BC_JUMP_ZE}};
    for (auto &p : pairs) {
        EXPECT_EQ(get_opposite_comparison_jump2(p[0]), p[1]);
        EXPECT_EQ(get_opposite_comparison_jump2(p[1]), p[0]);
    }
    EXPECT_EQ(get_opposite_comparison_jump2(BC_JUMP), BC_INVALID);
}

struct Code {
    Dynamic_Array array;
    Code() { dynamic_array_init(&array, sizeof(Bytecode_Instruction), 16); }
    ~Code() { dynamic_array_free(&array); }
    u32 add(u8 opcode, u32 target_index = 0) {
        Bytecode_Instruction *b = insert_bytecode(&array, opcode, nullptr, nullptr);
        b->operands[0].target = bytecode_position(target_index);
        return array.count - 1;
    }
    Bytecode_Instruction *at(u32 i) { return dynamic_array_at<Bytecode_Instruction>(&array, i); }
};

TEST(BytecodeThreading, ChainsAndReturns) {
    Code c;
    c.add(BC_JUMP, 1);    // 0: jump -> jump -> return
    c.add(BC_JUMP, 2);    // 1
    c.add(BC_RETURN);     // 2
    c.add(BC_JUMP_EQ, 4); // 3: eq -> eq -> 6
    c.add(BC_JUMP_EQ, 6); // 4
    c.add(BC_JUMP_NE, 6); // 5: a different condition is not followed
    c.add(BC_DEBUG_BREAK);// 6
    c.add(BC_JUMP_LT, 5); // 7: lt -> ne stays
    c.add(BC_JUMP, 9);    // 8: an endless pair of jumps must not hang
    c.add(BC_JUMP, 8);    // 9
    thread_bytecode_jumps(&c.array);
    EXPECT_EQ(c.at(0)->opcode, BC_RETURN);
    EXPECT_EQ(c.at(1)->opcode, BC_RETURN);
    EXPECT_EQ(c.at(3)->operands[0].target, bytecode_position(6));
    EXPECT_EQ(c.at(5)->operands[0].target, bytecode_position(6));
    EXPECT_EQ(c.at(7)->opcode, BC_JUMP_LT);
    EXPECT_EQ(c.at(7)->operands[0].target, bytecode_position(5));
    EXPECT_EQ(c.at(8)->opcode, BC_JUMP);
}

TEST(BytecodeLinking, CallsGetTheDistanceToTheirCallee) {
    Identifier a = {}, b = {}, missing = {};
    Code c;
    Dynamic_Array starts;
    dynamic_array_init(&starts, sizeof(Sub_Program_Start));
    c.add(BC_RETURN);
    u32 call = c.add(BC_CALL);
    c.at(call)->operands[2].reference = &b;
    c.at(call)->flags = BC_FLAG_NEEDS_LINKING;
    u32 address = c.add(BC_COPY_SUB_PROGRAM_ADDRESS);
    c.at(address)->operands[1].reference = &a;
    c.at(address)->flags = BC_FLAG_NEEDS_LINKING;
    *(Sub_Program_Start *)dynamic_array_add(&starts) = {&b, bytecode_position(5)};
    *(Sub_Program_Start *)dynamic_array_add(&starts) = {&a, bytecode_position(0)};
    ASSERT_TRUE(link_bytecode_calls(&c.array, &starts, nullptr));
    EXPECT_EQ(c.at(call)->operands[0].target, bytecode_position(5) - bytecode_position(call));
    EXPECT_EQ((s64)c.at(address)->operands[2].target, -(s64)bytecode_position(address));
    EXPECT_FALSE(c.at(call)->flags & BC_FLAG_NEEDS_LINKING);

    u32 bad = c.add(BC_CALL);
    c.at(bad)->operands[2].reference = &missing;
    c.at(bad)->flags = BC_FLAG_NEEDS_LINKING;
    Identifier *reported = nullptr;
    EXPECT_FALSE(link_bytecode_calls(&c.array, &starts, &reported));
    EXPECT_EQ(reported, &missing);
    dynamic_array_free(&starts);
}

// Hand-built IR of one sub-program, lowered on its own.
struct Lowering : ::testing::Test {
    Scope body = {};
    Code code;
    void SetUp() override {
        ensure_ir_ready();
        ir_reset();
        global_compiler_state.target_platform = TARGET_AMD64;
        body.flags = SCOPE_SUB_PROGRAM_ROOT | SCOPE_INSIDE_SUB_PROGRAM;
        body.lifetime_counter = 0;
        compile_errors.count = 0;
    }
    void TearDown() override { dynamic_array_free(&body.registers); }
    Register_Id stack(u32 size, u8 hints) {
        Register_Id id = allocate_a_register(&body, size, nullptr, size);
        clear_and_set_allocation_hints(&body, id, hints);
        return id;
    }
    IR_Instruction *add(u8 kind, std::vector<IR_Operand> operands = {}, Scope *scope = nullptr) {
        IR_Instruction *i = allocate_an_instruction(scope ? scope : &body, kind);
        for (u32 k = 0; k < operands.size(); k++) i->operands[k] = operands[k];
        i->num_operands = (u8)operands.size();
        return i;
    }
    static IR_Operand r(Register_Id id, u32 size = 8) { return operand_from_register(id, size, IR_CLASS_SIGNED); }
    static IR_Operand k(u64 bits, u32 size = 8) { return operand_from_constant(bits, size, IR_CLASS_SIGNED); }
    static IR_Operand label(IR_Instruction *l) {
        IR_Operand o = {};
        o.kind = IR_OPERAND_LABEL;
        o.label = l;
        return o;
    }
    static IR_Operand scope_operand(Scope *s) {
        IR_Operand o = {};
        o.kind = IR_OPERAND_SCOPE;
        o.scope = s;
        return o;
    }
    std::vector<u8> opcodes() {
        std::vector<u8> out;
        for (u32 i = 0; i < code.array.count; i++) out.push_back(code.at(i)->opcode);
        return out;
    }
    Register *record(Register_Id id) { return get_register(&body, id); }
};

TEST_F(Lowering, CountingLoop) {
    // i := 0; total := 0; while i < 10 { total += i; i += 1; } t := total
    Register_Id i = stack(8, HINT_INTEGER_REGISTER), total = stack(8, HINT_INTEGER_REGISTER);
    Register_Id after = stack(8, HINT_INTEGER_REGISTER);
    add(IR_FRAME_START, {scope_operand(&body)});
    add(IR_COPY_CONSTANT, {r(i), k(0)});
    add(IR_COPY_CONSTANT, {r(total), k(0)});
    IR_Instruction *top = add(IR_LABEL);
    IR_Instruction *end = nullptr;
    add(IR_COMPARE, {r(i), k(10)})->op = OP_LESS;
    IR_Instruction *exit = add(IR_JUMP_IF, {label(nullptr)});
    exit->condition = IR_CONDITION_GE;
    exit->flags = IR_FLAG_SIGNED;
    add(IR_ARITHMETIC, {r(total), r(i)})->op = OP_ADD;
    add(IR_ARITHMETIC, {r(i), k(1)})->op = OP_ADD;
    add(IR_JUMP, {label(top)});
    end = add(IR_LABEL);
    exit->operands[0].label = end;
    add(IR_COPY, {r(after), r(total)});
    add(IR_FRAME_END, {scope_operand(&body)});

    ASSERT_TRUE(make_bytecode_for_scope(&body, true, &code.array));
    const std::vector<u8> expected = {BC_PUSH_STACK_FRAME, BC_COPY_ARGUMENTS_ADDRESS, BC_COPY_CONSTANT,
                                      BC_COPY_CONSTANT, BC_COMPARE_TO_CONSTANT, BC_JUMP_GE, BC_INT_ARITHMETIC,
                                      BC_INT_ARITHMETIC_CONSTANT, BC_JUMP, BC_COPY, BC_POP_STACK_FRAME, BC_RETURN};
    EXPECT_EQ(opcodes(), expected);
    EXPECT_EQ(code.at(5)->operands[0].target, bytecode_position(9)); // the exit lands after the loop
    EXPECT_EQ(code.at(8)->operands[0].target, bytecode_position(4)); // the back jump at the test
    EXPECT_TRUE(code.at(4)->flags & BC_FLAG_SIGNED);
    EXPECT_TRUE(code.at(5)->flags & BC_FLAG_SIGNED);
    // `after` starts once `i` is dead but `total` still lives, so it may
    // take i's register and never total's.
    ASSERT_TRUE(record(i)->in_machine_register && record(total)->in_machine_register);
    EXPECT_NE(record(i)->machine_register, record(total)->machine_register);
    EXPECT_NE(record(after)->machine_register, record(total)->machine_register);
    EXPECT_EQ(code.at(0)->integer_mask, code.at(10)->integer_mask);
    EXPECT_EQ(body.frame_size, 0u);
}

TEST_F(Lowering, ValuesFromBeforeALoopSurviveItsBackJump) {
    // `limit` is last read inside the loop, `scratch` is made and dropped in
    // each iteration: the scratch value must never take limit's register.
    Register_Id limit = stack(8, HINT_INTEGER_REGISTER), scratch = stack(8, HINT_INTEGER_REGISTER);
    add(IR_FRAME_START, {scope_operand(&body)});
    add(IR_COPY_CONSTANT, {r(limit), k(5)});
    IR_Instruction *top = add(IR_LABEL);
    add(IR_COMPARE, {r(limit), k(0)})->op = OP_EQUAL; // limit's last read: before scratch starts
    add(IR_COPY_CONSTANT, {r(scratch), k(1)});
    add(IR_COMPARE_TO_ZERO, {r(scratch)});
    add(IR_JUMP_IF, {label(top)})->condition = IR_CONDITION_NZ;
    add(IR_FRAME_END, {scope_operand(&body)});
    ASSERT_TRUE(make_bytecode_for_scope(&body, true, &code.array));
    EXPECT_NE(record(limit)->machine_register, record(scratch)->machine_register);
    EXPECT_GE(record(limit)->last_use, record(scratch)->last_use);
}

TEST_F(Lowering, NestedScopesAndMemoryOperands) {
    Scope inner = {};
    inner.parent = &body;
    inner.flags = SCOPE_INSIDE_SUB_PROGRAM;
    Register_Id block = stack(24, HINT_MEMORY), address = stack(8, HINT_INTEGER_REGISTER);
    Register_Id value = stack(4, HINT_INTEGER_REGISTER);
    add(IR_FRAME_START, {scope_operand(&body)});
    add(IR_SET_TO_ZERO, {r(block, 24)});
    add(IR_SCOPE, {scope_operand(&inner)});
    add(IR_TAKE_ADDRESS, {r(address), r(block, 24)}, &inner);
    IR_Operand through = r(address, 4);
    through.kind = IR_OPERAND_MEMORY;
    add(IR_COPY_CONSTANT, {through, k(7, 4)}, &inner);
    add(IR_COPY, {r(value, 4), through}, &inner);
    add(IR_FRAME_END, {scope_operand(&body)});
    ASSERT_TRUE(make_bytecode_for_scope(&body, false, &code.array));
    const std::vector<u8> expected = {BC_PUSH_STACK_FRAME, BC_SET_TO_ZERO, BC_TAKE_ADDRESS, BC_COPY_CONSTANT_TO_MEMORY,
                                      BC_COPY, BC_POP_STACK_FRAME, BC_RETURN};
    EXPECT_EQ(opcodes(), expected);
    EXPECT_EQ(code.at(1)->size, 24u);
    EXPECT_TRUE(code.at(3)->flags & BC_FLAG_TO_MEMORY);
    EXPECT_TRUE(code.at(4)->flags & BC_FLAG_FROM_MEMORY);
    EXPECT_FALSE(record(block)->in_machine_register);
    EXPECT_EQ(code.at(0)->size, 32u); // 24 bytes, kept 16-byte aligned
}

TEST_F(Lowering, CallsCarryTheRegistersLiveAcrossThem) {
    Register_Id kept = stack(8, HINT_INTEGER_REGISTER), gone = stack(8, HINT_INTEGER_REGISTER);
    Identifier callee = {};
    add(IR_FRAME_START, {scope_operand(&body)});
    add(IR_COPY_CONSTANT, {r(kept), k(1)});
    add(IR_COPY_CONSTANT, {r(gone), k(2)});
    add(IR_COPY, {r(gone), r(gone)});
    IR_Operand target = {};
    target.kind = IR_OPERAND_SUB_PROGRAM;
    target.sub_program = &callee;
    add(IR_CALL, {target});
    add(IR_COPY, {r(kept), r(kept)});
    add(IR_FRAME_END, {scope_operand(&body)});
    ASSERT_TRUE(make_bytecode_for_scope(&body, true, &code.array));
    Bytecode_Instruction *call = code.at(5);
    ASSERT_EQ(call->opcode, BC_CALL);
    EXPECT_EQ(call->integer_mask, 1u << record(kept)->machine_register);
    EXPECT_TRUE(call->flags & BC_FLAG_NEEDS_LINKING);
    EXPECT_FALSE(call->flags & BC_FLAG_PASSES_ARGUMENTS);
}

TEST_F(Lowering, UnsupportedKindIsReported) {
    add(IR_FRAME_START, {scope_operand(&body)});
    add(IR_KIND_COUNT);
    EXPECT_FALSE(make_bytecode_for_scope(&body, true, &code.array));
    ASSERT_EQ(compile_errors.count, 1u);
    char expected[64];
    snprintf(expected, sizeof expected, "Instruction 0x%x is not supported.", (unsigned)IR_KIND_COUNT);
    EXPECT_STREQ(dynamic_array_at<Error_Report>(&compile_errors, 0)->message, expected);
}

} // namespace
