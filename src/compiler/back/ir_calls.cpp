// Sub-program bodies, calls (through an argument block, or inlined in
// place), returns, entry blocks and the whole-program driver.
#include "compiler/back/statements.h"
#include "compiler/back/bytecode_gen.h"
#include "compiler/front/diagnostics.h"

// [SECTION] Bodies

static Token *body_block(Identifier *sub_program) {
    Token *t = sub_program->value_first ? sub_program->value_first->next : nullptr;
    while (t && t != sub_program->value_end && (t->kind & TOKEN_DIRECTIVE)) t = t->next;
    return t && (t->kind & TOKEN_OPEN_BRACE) ? t : nullptr;
}

static void append_frame_start(Scope *scope, Register_Id arguments) {
    IR_Instruction *in = allocate_an_instruction(scope, IR_FRAME_START);
    in->operands[0].kind = IR_OPERAND_SCOPE;
    in->operands[0].scope = scope;
    in->operands[1] = operand_from_register(arguments, 8, IR_CLASS_ADDRESS);
    in->num_operands = register_id_is_valid(arguments) ? 2 : 1;
}

static void append_frame_end(Scope *scope, Token *where) {
    IR_Instruction *in = allocate_an_instruction(scope, IR_FRAME_END);
    in->operands[0].kind = IR_OPERAND_SCOPE;
    in->operands[0].scope = scope;
    in->num_operands = 1;
    in->first = in->last = where;
}

// [SECTION] The implicit context
//
// `__context` is a variable holding the address of the context record. An
// entry block makes the record on its frame; a call passes the caller's
// address in one more word of the argument block, after everything else, so
// that a call through a sub-program value, which knows only the shape, puts
// it where the callee reads it. Foreign routines get no such word.

static const u8 CONTEXT_NAME[] = "__context";

static Identifier *context_address_type() {
    Compiler_State *s = &global_compiler_state;
    Identifier *record = get_identifier(s->global_scope, (const u8 *)"Context", 7);
    Identifier *type = record && (record->flags & IDENTIFIER_IS_TYPE) ? record : s->type_void;
    return type_to_memory_address_of_type(type, 1);
}

u32 context_offset_in_block(Signature *sig) { return (sig->block_size + 7) & ~7u; }

static Identifier *declare_context(Scope *scope, Register_Id reg) {
    Identifier *id = add_identifier(scope, CONTEXT_NAME, sizeof CONTEXT_NAME - 1, IDENTIFIER_KIND_VARIABLE, Trace{});
    id->flags |= IDENTIFIER_DECLARED;
    id->type = context_address_type();
    id->register_id = reg;
    return id;
}

// The caller's `__context`, when it has one.
static Identifier *visible_context(Scope *scope) {
    Identifier *id = get_identifier(scope, CONTEXT_NAME, sizeof CONTEXT_NAME - 1);
    return id && register_id_is_valid(id->register_id) ? id : nullptr;
}

bool compile_sub_program_body(Identifier *sub_program) {
    Signature *sig = sub_program->signature;
    Token *block = body_block(sub_program);
    if (!sig || !block) return true;
    Scope *root = sig->parameter_scope;
    root->sub_program = sub_program;
    sub_program->body_scope = root;
    IR_Mark mark = ir_mark();
    *(Identifier **)dynamic_array_add(&ir_state.sub_programs) = sub_program;
    Compiler_State *s = &global_compiler_state;
    Identifier *address = type_to_memory_address_of_type(s->type_u8, 1);
    Register_Id arguments = allocate_a_register(root, 8, address, 8);
    force_stay_alive(root, arguments);
    scope_code(root)->arguments = arguments;
    append_frame_start(root, arguments);
    Value block_address;
    make_dynamic_value_from_register(arguments, address, &block_address);
    // Each parameter is read from the argument block into its own register.
    for (u32 i = 0; i < sig->num_parameters; i++) {
        Parameter *p = &sig->parameters[i];
        if (!p->identifier || !p->type) continue;
        Value v;
        make_dynamic_value(root, p->type, &v);
        p->identifier->register_id = v.reg;
        Value offset = {};
        make_constant_value_from_integer(&offset, s->type_u64, p->offset);
        instruction_memory_dereference(root, &v, &block_address, &offset, 1);
    }
    if (!(sig->flags & SUB_PROGRAM_NO_CONTEXT)) {
        Value context;
        make_dynamic_value(root, context_address_type(), &context);
        Value offset = {};
        make_constant_value_from_integer(&offset, s->type_u64, context_offset_in_block(sig));
        instruction_memory_dereference(root, &context, &block_address, &offset, 1);
        declare_context(root, context.reg);
    }
    if (!compiler_enter_nesting(block)) return false;
    bool ok = make_instructions_in_scope(root, block->next, block->partner, false);
    compiler_leave_nesting();
    if (!ok) return false;
    append_frame_end(root, block->partner);
    if (ir_state.stream_bytecode) {
        // Lowered now, its IR is not needed any more.
        if (!bytecode_stream_sub_program(sub_program)) return false;
        scope_code(root)->bytecode_made = true;
        ir_release(mark);
    }
    return true;
}

// [SECTION] Returns

bool emit_return_value(Scope *scope, Scope *root, Value *v) {
    Scope_Code *code = scope_code(root);
    Value source = *v;
    if (value_is_constant(&source) && !code_generator.make_value_dynamic(scope, &source)) return false;
    if (root->flags & SCOPE_INLINED) {
        instruction_copy_value(scope, &code->inline_return, &source);
        return true;
    }
    Signature *sig = root->sub_program->signature;
    Value block;
    make_dynamic_value_from_register(code->arguments, type_to_memory_address_of_type(global_compiler_state.type_u8, 1), &block);
    Value at;
    make_dynamic_value(scope, type_to_memory_address_of_type(sig->return_type, 1), &at);
    instruction_copy_variable(scope, &at, &block);
    Value offset = {};
    make_constant_value_from_integer(&offset, global_compiler_state.type_u64, sig->return_offset);
    instruction_arithmetic(scope, &at, OP_ADD, &offset);
    at.type = sig->return_type;
    at.kind = VALUE_KIND_DYNAMIC | VALUE_KIND_INDIRECT;
    instruction_copy_value(scope, &at, &source);
    return true;
}

void emit_sub_program_exit(Scope *scope, Scope *root) {
    if (root->flags & SCOPE_INLINED) {
        instruction_jump(scope, scope_code(root)->inline_exit);
        return;
    }
    // An early return closes the frame like the end of the body does.
    append_frame_end(scope, nullptr);
    allocate_an_instruction(scope, IR_RETURN);
}

// [SECTION] Calls

static bool inline_call(Scope *scope, Identifier *sub_program, Value *arguments, u32 num_arguments, Value *out, Token *where) {
    Signature *sig = sub_program->signature;
    Token *block = body_block(sub_program);
    if (!block) {
        print_error_on_token(where, "The compiler expected a block that contains the body of this sub-program.");
        return false;
    }
    // An instance of a polymorphic sub-program sees its captures in its parameter scope.
    Scope *parent = sub_program->instance_of ? sig->parameter_scope : sig->parameter_scope->parent;
    Scope *inlined = _add_a_scope(parent,
                                  SCOPE_INLINED | SCOPE_SUB_PROGRAM_ROOT | SCOPE_INSIDE_SUB_PROGRAM | SCOPE_SUB_PROGRAM_BODY);
    inlined->sub_program = sub_program;
    inlined->call_site = scope;
    inlined->inline_context = inlined;
    instruction_nested_scope(scope, inlined);
    Scope_Code *code = scope_code(inlined);
    code->inline_exit = make_label(inlined);
    if (sig->return_type) {
        make_dynamic_value(inlined, sig->return_type, &code->inline_return);
        code->inline_return.kind &= ~VALUE_KIND_TEMPORARY;
    }
    if (Identifier *context = visible_context(scope)) declare_context(inlined, context->register_id);
    for (u32 i = 0; i < num_arguments && i < sig->num_parameters; i++) {
        Parameter *p = &sig->parameters[i];
        if (!p->name) continue;
        Value *a = &arguments[i];
        bool constant = value_is_constant(a);
        Identifier *id = add_identifier(inlined, p->name->text, p->name->length, constant ? IDENTIFIER_KIND_CONSTANT : IDENTIFIER_KIND_VARIABLE,
                                        make_trace_from_token(p->name));
        id->flags |= IDENTIFIER_DECLARED;
        id->type = p->type;
        id->name_token = p->name;
        if (constant) {
            id->constant = a->constant;
        } else if (p->is_copy || (a->kind & VALUE_KIND_TEMPORARY)) {
            Value copy;
            make_dynamic_value(inlined, p->type, &copy);
            instruction_copy_value(inlined, &copy, a);
            id->register_id = copy.reg;
        } else {
            id->register_id = a->reg;
        }
    }
    if (!compiler_enter_nesting(where)) return false;
    bool ok = make_instructions_in_scope(inlined, block->next, block->partner, false);
    compiler_leave_nesting();
    if (!ok) {
        print_note_on_trace(make_trace_from_token(where), "This is the call site.");
        return false;
    }
    place_instruction(inlined, code->inline_exit);
    if (sig->return_type) {
        *out = code->inline_return;
        out->kind |= VALUE_KIND_TEMPORARY;
        out->type = sig->return_type;
    }
    return true;
}

bool emit_call(Scope *scope, Identifier *sub_program, Value *callee, Value *arguments, u32 num_arguments, Value *out, Token *where) {
    Signature *sig = sub_program ? sub_program->signature : callee->type->signature;
    if (sub_program && (sub_program->flags & SUB_PROGRAM_INLINED)) return inline_call(scope, sub_program, arguments, num_arguments, out, where);
    bool pass_context = !sub_program || !(sub_program->flags & SUB_PROGRAM_FOREIGN);
    u32 block_size = pass_context ? context_offset_in_block(sig) + 8 : sig->block_size;
    Register_Id block = allocate_a_register_for_call_data(nullptr, sub_program, block_size);
    if (pass_context) {
        Identifier *type = context_address_type();
        Register_Id slot = allocate_within_register(scope, block, context_offset_in_block(sig), 8, type);
        Value destination;
        make_dynamic_value_from_register(slot, type, &destination);
        Identifier *context = visible_context(scope);
        if (context) {
            Value source;
            make_dynamic_value_from_register(context->register_id, type, &source);
            instruction_copy_variable(scope, &destination, &source);
        } else {
            // A #no_context caller: the callee, #no_context itself, does not read it.
            Value zero = {};
            make_constant_value_from_integer(&zero, global_compiler_state.type_u64, 0);
            zero.type = type;
            instruction_copy_constant(scope, &destination, &zero);
        }
    }
    for (u32 i = 0; i < num_arguments && i < sig->num_parameters; i++) {
        Parameter *p = &sig->parameters[i];
        if (p->is_constant || !p->type) continue;
        Register_Id slot = allocate_within_register(scope, block, p->offset, p->type->size, p->type);
        Value destination;
        make_dynamic_value_from_register(slot, p->type, &destination);
        Value source = arguments[i];
        if (value_is_constant(&source) && source.type && source.type->pointer_depth == 0 && (source.type->flags & TYPE_STRUCT) &&
            !code_generator.make_value_dynamic(scope, &source)) {
            return false;
        }
        instruction_copy_value(scope, &destination, &source);
    }
    u8 kind = !sub_program ? IR_CALL_INDIRECT : (sub_program->flags & SUB_PROGRAM_FOREIGN) ? IR_FOREIGN_CALL : IR_CALL;
    IR_Instruction *call = allocate_an_instruction(scope, kind);
    if (sub_program) {
        call->operands[0].kind = IR_OPERAND_SUB_PROGRAM;
        call->operands[0].sub_program = sub_program;
    } else {
        Value c = *callee;
        call->operands[0] = operand_from_value(&c);
    }
    call->operands[1] = operand_from_register(block, block_size, IR_CLASS_NONE);
    call->num_operands = 2;
    call->first = where;
    call->last = where ? where->partner : nullptr;
    Register *record = get_register(scope, block);
    if (record) record->call = call;
    if (sig->return_type) {
        Register_Id slot = allocate_within_register(scope, block, sig->return_offset, sig->return_type->size, sig->return_type);
        Value result;
        make_dynamic_value_from_register(slot, sig->return_type, &result);
        Value d;
        make_dynamic_value(scope, sig->return_type, &d);
        instruction_copy_variable(scope, &d, &result);
        d.first = where;
        *out = d;
    }
    return true;
}

// [SECTION] Entry blocks and the program

bool compile_entry_point(Scope **out, Token *directive) {
    Compiler_State *s = &global_compiler_state;
    Token *block = directive->next;
    Scope *scope = _add_a_scope(s->global_scope, SCOPE_ENTRY_POINT);
    *out = scope;
    append_frame_start(scope, INVALID_REGISTER_ID);
    IR_Instruction *frame_start = scope->last_instruction;
    Identifier *address = context_address_type();
    Value context;
    make_dynamic_value(scope, address, &context);
    Identifier *context_id = declare_context(scope, context.reg);
    Token *first = block->next;
    Token *end = (block->kind & TOKEN_OPEN_BRACE) ? block->partner : block->partner->next;
    Token *closing = (block->kind & TOKEN_OPEN_BRACE) ? block->partner : block->partner;
    if (!compiler_enter_nesting(block)) return false;
    bool ok = make_instructions_in_scope(scope, first, end, false);
    compiler_leave_nesting();
    if (!ok) return false;
    if (context_id->use_count) {
        // The block's own context record, zeroed, made only when something
        // reads `__context`; its code goes right after the frame is opened.
        Scope *setup = _add_a_scope(scope, 0);
        Identifier *record_type = address->leaf_type && address->leaf_type->size ? address->leaf_type : s->type_u64;
        Value record;
        make_dynamic_value(setup, record_type, &record);
        clear_and_set_allocation_hints(setup, record.reg, HINT_MEMORY | HINT_STAY_ALIVE);
        instruction_set_to_zero(setup, &record);
        instruction_take_address(setup, &context, &record);
        IR_Instruction *placed = instruction_nested_scope(scope, setup);
        IR_Instruction *before = frame_start;
        while (before->next != placed) before = before->next;
        before->next = nullptr;
        scope->last_instruction = before;
        placed->next = frame_start->next;
        frame_start->next = placed;
        if (scope->last_instruction == frame_start) scope->last_instruction = placed;
    }
    IR_Instruction *in = allocate_an_instruction(scope, IR_END_OF_ENTRY_POINT);
    in->first = in->last = closing;
    append_frame_end(scope, closing);
    return true;
}

static void free_scope_tables() {
    for (Scope *s = global_compiler_state.global_scope; s; s = s->next_made) {
        if (s->registers.allocation.size) dynamic_array_free(&s->registers);
        if (s->loop_registers.allocation.size) dynamic_array_free(&s->loop_registers);
        if (s->deferred.allocation.size) dynamic_array_free(&s->deferred);
        s->registers = Dynamic_Array{};
        s->loop_registers = Dynamic_Array{};
        s->deferred = Dynamic_Array{};
    }
}

bool compile_program(String path, Front_End_Options options) {
    static bool initialised = false;
    if (!initialised) {
        ir_init();
        initialised = true;
    }
    ir_reset();
    ir_install_code_generator();
    options.check = true;
    bool ok = compile_front_end(path, options);
    Compiler_State *s = &global_compiler_state;
    for (u32 i = 0; ok && i < 3; i++) {
        if (s->entry_points[i]) ok = compile_entry_point(&s->entry_point_scopes[i], s->entry_points[i]);
    }
    code_generator = Code_Generator{};
    return ok;
}

void free_program_state() {
    if (global_compiler_state.global_scope) free_scope_tables();
}
