// The bytecode listing. Lines are built in a local buffer and the whole file
// is written at once, so a listing of a large program costs one write.
#include "compiler/back/listing.h"
#include "compiler/back/ir.h"
#include "core/log.h"
#include "core/strings.h"
#include <fcntl.h>
#include <stb/stb_sprintf.h>
#include <unistd.h>

const char *register_id_to_c_string(Register_Id id) {
    return tcstring_small("0x%llx-%u", (unsigned long long)((uintptr_t)id.owner & 0xFFFFFF), (u32)id.index);
}

// Appends the register's text to `out` (at most `capacity` bytes, NUL-terminated).
static int register_text(char *out, int capacity, Register_Id id, u32 depth) {
    out[0] = 0;
    if (!register_id_is_valid(id) || id.pool < 1 || id.pool > 5 || depth > 64) return 0;
    Register *r = get_register(id.owner, id);
    if (!r) return 0;
    switch (r->kind) {
    case REGISTER_KIND_CONSTANT_DATA:
        return r->offset ? stbsp_snprintf(out, capacity, "CD+0x%llx", (unsigned long long)r->offset)
                         : stbsp_snprintf(out, capacity, "CD");
    case REGISTER_KIND_TYPE_DATA:
        return r->offset ? stbsp_snprintf(out, capacity, "TD+0x%llx", (unsigned long long)r->offset)
                         : stbsp_snprintf(out, capacity, "TD");
    case REGISTER_KIND_GLOBAL_DATA:
        return r->offset ? stbsp_snprintf(out, capacity, "GD+0x%llx", (unsigned long long)r->offset)
                         : stbsp_snprintf(out, capacity, "GD");
    case REGISTER_KIND_STACK: {
        const char *name = register_id_to_c_string(id);
        if (r->in_machine_register) {
            return stbsp_snprintf(out, capacity, "(%s) %s%u", name,
                                  r->machine_register_class == MACHINE_REGISTER_FLOAT ? "MRF" : "MRI",
                                  (u32)r->machine_register);
        }
        return r->offset ? stbsp_snprintf(out, capacity, "(%s) SB+0x%llx", name, (unsigned long long)r->offset)
                         : stbsp_snprintf(out, capacity, "(%s) SB", name);
    }
    case REGISTER_KIND_CALL_DATA: return stbsp_snprintf(out, capacity, "CallD");
    case REGISTER_KIND_VIEW: {
        int n = register_text(out, capacity, r->view_target, depth + 1);
        if (r->view_offset && n < capacity) {
            n += stbsp_snprintf(out + n, capacity - n, "+0x%llx", (unsigned long long)r->view_offset);
        }
        return n;
    }
    }
    add_log(nullptr, 0, "Got unknown bytecode register type 0x%x.", (u32)r->kind);
    return 0;
}

String get_bytecode_register_info(Register_Id id) {
    char buffer[256];
    int n = register_text(buffer, sizeof buffer, id, 0);
    if (n <= 0) return String{};
    if (n >= (int)sizeof buffer) n = sizeof buffer - 1;
    u8 *copy = (u8 *)tmp_allocate((u64)n);
    memcpy(copy, buffer, (size_t)n);
    return String{copy, n};
}

// A register operand, in brackets when the flag says it is the memory it points to.
static const char *reg(Bytecode_Instruction *b, u32 slot, bool indirect) {
    char text[256];
    register_text(text, sizeof text, b->operands[slot].reg, 0);
    return indirect ? tcstring("[%s]", text) : tcstring("%s", text);
}

static const char *operator_text(u64 op) {
    const char *text = operator_to_c_string(op);
    return text ? text : "?";
}

static const char *scope_name(Scope *scope) {
    if (!scope) return "?";
    if (scope->flags & SCOPE_ENTRY_POINT) {
        for (u32 k = 0; k < 3; k++) {
            static const char *NAMES[3] = {"#on_load", "#events", "#syntax"};
            if (global_compiler_state.entry_point_scopes[k] == scope) return NAMES[k];
        }
        return "entry block";
    }
    if (scope->sub_program) return tcstring("%.*s", (int)scope->sub_program->name_length, (const char *)scope->sub_program->name);
    return "?";
}

static void machine_code_text(char *out, int capacity, Bytecode_Instruction *b) {
    int n = stbsp_snprintf(out, capacity, "size: %'u", b->size);
    const u8 *bytes = (const u8 *)b->operands[0].reference;
    u32 shown = b->size < 16 ? b->size : 16;
    if (bytes && shown) n += stbsp_snprintf(out + n, capacity - n, ",");
    for (u32 k = 0; bytes && k < shown && n < capacity; k++) n += stbsp_snprintf(out + n, capacity - n, " %02x", bytes[k]);
    if (shown < b->size && n < capacity) stbsp_snprintf(out + n, capacity - n, " ...");
}

static void operands_text(char *out, int capacity, Bytecode_Instruction *b, Bytecode_Instruction *base) {
    out[0] = 0;
    if (b->opcode >= NUM_BYTECODE_OPCODES) return;
    const Bytecode_Opcode_Info *info = &BYTECODE_OPCODES[b->opcode];
    bool to = (b->flags & BC_FLAG_TO_MEMORY) || b->opcode == BC_COPY_CONSTANT_TO_MEMORY ||
              b->opcode == BC_COPY_CONSTANT_STRUCT_TO_MEMORY || b->opcode == BC_COPY_TO_MEMORY;
    bool from = (b->flags & BC_FLAG_FROM_MEMORY) != 0;
    Bytecode_Operand *o = b->operands;
    u64 here = (u64)(b - base) * sizeof(Bytecode_Instruction);
    switch (info->form) {
    case BC_FORM_NONE: break;
    case BC_FORM_DEST_SIZE: stbsp_snprintf(out, capacity, "%s, size: %'u", reg(b, 0, to), b->size); break;
    case BC_FORM_DEST_CONSTANT:
        stbsp_snprintf(out, capacity, "%s <- 0x%llx", reg(b, 0, to), (unsigned long long)o[1].constant);
        break;
    case BC_FORM_DEST_SOURCE_SIZE:
        stbsp_snprintf(out, capacity, "%s <- %s, size: %'u", reg(b, 0, to), reg(b, 1, from), b->size);
        break;
    case BC_FORM_DEST_SUB_PROGRAM: {
        Identifier *callee = (Identifier *)o[1].reference;
        stbsp_snprintf(out, capacity, "%s <- %.*s", reg(b, 0, to), callee ? (int)callee->name_length : 1,
                       callee ? (const char *)callee->name : "?");
        break;
    }
    case BC_FORM_DEST_SOURCE: stbsp_snprintf(out, capacity, "%s <- %s", reg(b, 0, to), reg(b, 1, from)); break;
    case BC_FORM_REGISTER: stbsp_snprintf(out, capacity, "%s", reg(b, 0, to)); break;
    case BC_FORM_ARITHMETIC_CONSTANT:
        stbsp_snprintf(out, capacity, "%s %s 0x%llx", reg(b, 0, to), operator_text(o[1].op),
                       (unsigned long long)o[2].constant);
        break;
    case BC_FORM_ARITHMETIC:
        stbsp_snprintf(out, capacity, "%s %s %s", reg(b, 0, to), operator_text(o[1].op), reg(b, 2, from));
        break;
    case BC_FORM_FLOAT_ARITHMETIC_CONSTANT:
        stbsp_snprintf(out, capacity, "%s %s %f", reg(b, 0, to), operator_text(o[1].op), o[2].real);
        break;
    case BC_FORM_ADDRESS:
        stbsp_snprintf(out, capacity, "%s <- (%s) + (%s) * %u", reg(b, 0, to), reg(b, 1, from), reg(b, 2, false),
                       (u32)o[3].constant);
        break;
    case BC_FORM_ADDRESS_CONSTANT:
        stbsp_snprintf(out, capacity, "%s <- %s + %u * %u", reg(b, 0, to), reg(b, 1, from), (u32)o[2].constant,
                       (u32)o[3].constant);
        break;
    case BC_FORM_DEREFERENCE:
        stbsp_snprintf(out, capacity, "%s <- [(%s) + (%s) * %u]", reg(b, 0, to), reg(b, 1, from), reg(b, 2, false),
                       (u32)o[3].constant);
        break;
    case BC_FORM_DEREFERENCE_CONSTANT:
        stbsp_snprintf(out, capacity, "%s <- [(%s) + %u * %u]", reg(b, 0, to), reg(b, 1, from), (u32)o[2].constant,
                       (u32)o[3].constant);
        break;
    case BC_FORM_TWO_REGISTERS: stbsp_snprintf(out, capacity, "%s, %s", reg(b, 0, to), reg(b, 1, from)); break;
    case BC_FORM_REGISTER_CONSTANT:
        stbsp_snprintf(out, capacity, "%s, 0x%llx", reg(b, 0, to), (unsigned long long)o[1].constant);
        break;
    case BC_FORM_REGISTER_FLOAT: stbsp_snprintf(out, capacity, "%s, %f", reg(b, 0, to), o[1].real); break;
    case BC_FORM_TWO_MEMORY: stbsp_snprintf(out, capacity, "[%s], [%s]", reg(b, 0, false), reg(b, 1, false)); break;
    case BC_FORM_MEMCMP:
        if (register_id_is_valid(o[2].reg)) {
            stbsp_snprintf(out, capacity, "[%s], [%s] | size stored in %s", reg(b, 0, false), reg(b, 1, false),
                           reg(b, 2, false));
        } else {
            stbsp_snprintf(out, capacity, "[%s], [%s] | size: %'u", reg(b, 0, false), reg(b, 1, false), b->size);
        }
        break;
    case BC_FORM_STORE_CMP: stbsp_snprintf(out, capacity, "%s, %s", reg(b, 0, to), operator_text(o[1].op)); break;
    case BC_FORM_TARGET: stbsp_snprintf(out, capacity, "0x%llx", (unsigned long long)o[0].target); break;
    case BC_FORM_MACHINE_CODE: machine_code_text(out, capacity, b); break;
    case BC_FORM_FRAME:
        stbsp_snprintf(out, capacity, "%s, frame size: %'u", scope_name((Scope *)o[0].reference), b->size);
        break;
    case BC_FORM_SCOPE: stbsp_snprintf(out, capacity, "%s", scope_name((Scope *)o[0].reference)); break;
    case BC_FORM_CALL:
        // Calls hold the distance to the callee; the listing shows where it lands.
        stbsp_snprintf(out, capacity, "0x%llx | arguments and return value: %s",
                       (unsigned long long)(here + o[0].target), reg(b, 1, false));
        break;
    case BC_FORM_CALL_INDIRECT:
        stbsp_snprintf(out, capacity, "%s | arguments and return value: %s", reg(b, 0, to), reg(b, 1, false));
        break;
    case BC_FORM_FOREIGN_CALL:
        stbsp_snprintf(out, capacity, "0x%llx | arguments and return value: %s", (unsigned long long)o[0].constant,
                       reg(b, 1, false));
        break;
    }
}

static int instruction_text(char *out, int capacity, Bytecode_Instruction *b, Bytecode_Instruction *base) {
    char operands[768];
    u64 tmp = tmp_get_position();
    operands_text(operands, sizeof operands, b, base);
    tmp_set_position(tmp);
    u64 position = (u64)(b - base) * sizeof(Bytecode_Instruction);
    int n = stbsp_snprintf(out, capacity, "0x%llx %s %s", (unsigned long long)position, bytecode_opcode_name(b->opcode),
                           operands);
    return n < capacity ? n : capacity - 1;
}

String get_bc_instruction_text(Bytecode_Instruction *instruction, Bytecode_Instruction *base) {
    char buffer[1024];
    int n = instruction_text(buffer, sizeof buffer, instruction, base);
    u8 *copy = (u8 *)tmp_allocate((u64)n);
    memcpy(copy, buffer, (size_t)n);
    return String{copy, n};
}

// [SECTION] Source lines

// Moves (line, at) forward to `target`; a line ends at LF, CR or CR LF.
static const u8 *advance_to_line(const u8 *at, const u8 *end, u32 *line, u32 target) {
    while (*line < target && at < end) {
        u8 c = *at++;
        if (c == '\n' || c == '\r') {
            if (c == '\r' && at < end && *at == '\n') at++;
            (*line)++;
        }
    }
    return at;
}

static String line_at(const u8 *at, const u8 *end) {
    const u8 *p = at;
    while (p < end && *p != '\n' && *p != '\r') p++;
    return String{(u8 *)at, p - at};
}

String debugger_file_get_line(File_Record *file, u32 line) {
    if (!file || !file->text || line == 0) return String{};
    const u8 *end = file->text + file->count;
    u32 current = 1;
    const u8 *at = advance_to_line(file->text, end, &current, line);
    if (current != line) return String{};
    return line_at(at, end);
}

// Sequential lookups: the listing mostly walks each file forwards.
struct Line_Cursor {
    File_Record *file;
    u32 line;
    const u8 *at;
};

static String cursor_get_line(Line_Cursor *c, File_Record *file, u32 line) {
    if (!file || !file->text || line == 0) return String{};
    const u8 *end = file->text + file->count;
    if (c->file != file || c->line > line) {
        c->file = file;
        c->line = 1;
        c->at = file->text;
    }
    c->at = advance_to_line(c->at, end, &c->line, line);
    if (c->line != line) return String{};
    return line_at(c->at, end);
}

static File_Record *file_of_token(Token *t) {
    if (!t) return nullptr;
    Dynamic_Array *files = &global_compiler_state.loaded_files;
    if (t->location.file_index >= files->count) return nullptr;
    return *dynamic_array_at<File_Record *>(files, t->location.file_index);
}

bool log_bc_instructions(String path, Bytecode_Instruction *instructions, u32 count) {
    Dynamic_Array out;
    dynamic_array_init(&out, 1, 1 << 16);
    Line_Cursor cursor = {};
    File_Record *previous_file = nullptr;
    u32 previous_line = 0;
    char line[1024];
    for (u32 i = 0; i < count; i++) {
        Bytecode_Instruction *b = &instructions[i];
        File_Record *file = file_of_token(b->first);
        u32 source_line = b->first ? b->first->location.line : 0;
        if (file && (file != previous_file || source_line != previous_line)) {
            String text = cursor_get_line(&cursor, file, source_line);
            dynamic_array_append_bytes(&out, text.data, (u32)text.count);
            dynamic_array_append_bytes(&out, "\n", 1);
        }
        if (file) { // instructions without a place keep the current source line
            previous_file = file;
            previous_line = source_line;
        }
        int n = instruction_text(line, sizeof line - 1, b, instructions);
        line[n++] = '\n';
        dynamic_array_append_bytes(&out, line, (u32)n);
    }
    const char *c_path = to_tmp_c_string(path);
    int fd = open(c_path, O_RDWR | O_CREAT | O_TRUNC, 0644);
    bool ok = fd >= 0;
    u64 written = 0;
    while (ok && written < out.count) {
        ssize_t w = write(fd, (u8 *)out.data + written, out.count - written);
        if (w <= 0) ok = false;
        else written += (u64)w;
    }
    if (fd >= 0) close(fd);
    dynamic_array_free(&out);
    return ok;
}
