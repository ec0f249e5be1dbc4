// The bytecode listing: one line per instruction (position, name, operands)
// with the source lines it came from in between.
#pragma once
#include "compiler/back/bytecode.h"

// A register as the listing shows it ("GD+0x10", "(0x1a2b3c-4) MRI15", ...);
// empty for an invalid id. In the caller's temporary memory.
String get_bytecode_register_info(Register_Id id);
// "0x%llx-%u": the low 24 bits of the owner and the index.
const char *register_id_to_c_string(Register_Id id);

// One listing line (no newline), in temporary memory.
String get_bc_instruction_text(Bytecode_Instruction *instruction, Bytecode_Instruction *base);
// Writes the listing of `count` instructions to `path` (created or truncated).
bool log_bc_instructions(String path, Bytecode_Instruction *instructions, u32 count);
// The text of line `line` (from 1) without its terminator; LF, CR and CR LF
// each end one line. Empty past the end.
String debugger_file_get_line(File_Record *file, u32 line);
