// The front end's window onto code generation. Expressions, calls and
// sub-program declarations are parsed here in the front end, but the IR they
// produce is built by compiler/back, which depends on the front end and not
// the other way round. So the front end owns this table of entry points and
// the back end fills it (`ir_install_code_generator`). With the table empty
// (`tarnoc --check`, the front end's own tests) dynamic values carry only
// their type and no instruction is made.
#pragma once
#include "compiler/front/compiler.h"

// One argument of a call, parsed before overload resolution.
struct Call_Argument {
    Token *name;  // 'name = value', or null
    Token *first; // the argument's tokens [first, end)
    Token *end;
    Value value;
    bool parsed_as_constant;
};

struct Code_Generator {
    // A plain sub-program's body, compiled once into its own scope.
    bool (*compile_sub_program_body)(Identifier *sub_program);
    // The statements [first, end) compiled into `scope` (blocks, inlined bodies, #insert).
    bool (*make_instructions_in_scope)(Scope *scope, Token *first, Token *end, bool inserting);
    // Gives a variable its storage (a global-data or stack register) and its
    // initial value: `initial`, or its type's default when null.
    bool (*declare_variable)(Scope *scope, Identifier *variable, Value *initial);
    // `v` as a dynamic temporary of its own type (constants are copied into a register).
    bool (*make_value_dynamic)(Scope *scope, Value *v);
    // `left` = `left` op `right`; the front end has checked and converted both sides.
    bool (*binary)(Scope *scope, Value *left, u64 op, Value *right, Token *where);
    bool (*unary)(Scope *scope, Value *v, u64 op, Token *where);
    // '&&' and '||' as values, in two halves around the right side so that it
    // runs only when needed: `logical_begin` turns `left` into the result
    // temporary and jumps past the right side when `left` decides; the label
    // it returns goes to `logical_end`, which stores the right side's truth.
    IR_Instruction *(*logical_begin)(Scope *scope, Value *left, u64 op, Token *where);
    bool (*logical_end)(Scope *scope, Value *left, Value *right, IR_Instruction *end_label, Token *where);
    // A variable member at `offset` of a struct value (or of the struct an address points to).
    bool (*member)(Scope *scope, Value *base, u32 offset, Identifier *type, Value *out);
    // Element `index` of an address, an array or a String; `out->type` is the element type.
    bool (*index)(Scope *scope, Value *base, Value *index, Value *out);
    // A temporary array value of `type` over fresh zeroed storage for `capacity`
    // elements, its count set to `count` (an array literal with run-time items).
    bool (*array_literal)(Scope *scope, Identifier *type, u32 capacity, u32 count, Value *out);
    bool (*cast)(Scope *scope, Value *v, Identifier *type, Token *where);
    bool (*assign)(Scope *scope, Value *destination, Value *source, Token *where);
    // A call of `sub_program` (or of the sub-program address held by `callee`); arguments
    // are in parameter order and already converted; `out` gets the result, if any.
    bool (*call)(Scope *scope, Identifier *sub_program, Value *callee, Value *arguments, u32 num_arguments, Value *out,
                 Token *where);
};
extern Code_Generator code_generator;
inline bool code_generation_enabled() { return code_generator.make_value_dynamic != nullptr; }
