// Switch statements (switch.cpp).
#pragma once
#include "compiler/back/ir.h"

// 'switch value [#all_values] { cases }'; a case is '[#no_break] v[, v...]: statement;'
// or '[#no_break] v { block }', and 'else' opens the default block.
bool compile_switch(Scope *scope, Token *t, Token *end, Token **next);
