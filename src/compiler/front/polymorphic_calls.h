// Instances of polymorphic sub-programs for one call's arguments (polymorphic_calls.cpp).
#pragma once
#include "compiler/front/code_hooks.h"

// Assigns the arguments to the parameters of `candidate` by position and name;
// with `report`, the first problem is reported.
bool assign_polymorphic_arguments(Identifier *candidate, Call_Argument *arguments, u32 num_arguments, Call_Argument **slots, Token *open,
                                  bool report);
// The instance of `candidate` for these arguments (found again or made), or
// null when they do not fit; only with `report` is the reason kept.
Identifier *match_polymorphic_candidate(Identifier *candidate, Scope *call_scope, Call_Argument *arguments, u32 num_arguments, Call_Argument **slots,
                                        Token *open, bool report);
// Compiles the instance's body the first time it is called.
bool compile_polymorphic_instance(Identifier *instance, Token *where);
