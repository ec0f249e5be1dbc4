// Calls of inlined sub-programs evaluated while compiling (constant_calls.cpp).
#pragma once
#include "compiler/front/compiler.h"

// The value a call of the inlined `sub_program` returns for the constant
// `arguments` (in parameter order), or false (reported).
bool evaluate_inlined_call(Identifier *sub_program, Value *arguments, Token *where, Value *out);
// '#constant f(...)' (`directive` set) or a constant declaration's 'f(...)'
// (`directive` null): overloads are resolved as for any call, then the chosen
// inlined sub-program is evaluated.
bool parse_constant_call(Scope *scope, Value *callee, Token *open, Token *directive, Value *out);
// The value an identifier names, as an expression would read it (the callee of such a call).
bool make_value_from_identifier_for_call(Identifier *id, Token *name, Value *out);
