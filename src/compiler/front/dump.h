// Printed forms of a compilation, shared by tarnoc and the tests.
#pragma once
#include "core/base.h"

// One entry per global declaration of the user's files, in pre-parse order.
String dump_globals();
// Every report of the last compilation as tarnoc prints it.
String format_compile_errors();
