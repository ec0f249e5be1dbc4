#include "shell/shell.h"
#include "compiler/front/compiler.h"

void startup_init_compiler(String executable_directory) { init_compiler(executable_directory); }
