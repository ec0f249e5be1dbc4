// Loading source files and the pre-parse of the global scope: every global
// declaration is only recorded here (name and token ranges) and compiled the
// first time something uses it, so globals may refer to each other in any
// order. Static #if chains and #insert of named code wait for the driver's
// deferred-work loop.
#include "compiler/front/compiler.h"
#include "compiler/front/code_hooks.h"
#include "compiler/front/diagnostics.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// [SECTION] Files

static File_Record *add_file_record(String path, u8 *text, u32 count, Allocation allocation) {
    Compiler_State *state = &global_compiler_state;
    File_Record *file = (File_Record *)arena_allocate(sizeof(File_Record));
    memset(file, 0, sizeof *file);
    file->path = arena_copy(path);
    file->text = text;
    file->count = count;
    file->capacity = count;
    file->text_allocation = allocation;
    file->file_index = state->loaded_files.count;
    *(File_Record **)dynamic_array_add(&state->loaded_files) = file;
    return file;
}

static bool read_file_bytes(String path, u8 **out_text, u32 *out_count, Allocation *out_allocation, struct stat *out_info) {
    const char *c_path = (const char *)arena_copy(path).data;
    struct stat &info = *out_info;
    if (lstat(c_path, &info) != 0) return false;
    // A link is followed only to find a regular file: devices and pipes could block.
    if (S_ISLNK(info.st_mode) && stat(c_path, &info) != 0) return false;
    if (!S_ISREG(info.st_mode) || (u64)info.st_size >= 0xFFFFFFFFull) return false;
    u64 size = (u64)info.st_size;
    Allocation allocation = {};
    gp_allocate(&allocation, size ? size : 1);
    int fd = open(c_path, O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        gp_free(&allocation);
        return false;
    }
    u64 got = 0;
    while (got < size) {
        ssize_t n = read(fd, (u8 *)allocation.memory + got, size - got);
        if (n <= 0) break;
        got += (u64)n;
    }
    close(fd);
    if (got < size) {
        gp_free(&allocation);
        return false;
    }
    *out_text = (u8 *)allocation.memory;
    *out_count = (u32)size;
    *out_allocation = allocation;
    return true;
}

File_Record *compiler_load_file(String path, Token *requested_by) {
    u8 *text;
    u32 count;
    Allocation allocation;
    struct stat info;
    if (!read_file_bytes(path, &text, &count, &allocation, &info)) {
        if (requested_by) print_error_on_token(requested_by, "Failed to load file '%.*s'.", (int)path.count, path.data);
        else print_error("Failed to load file '%.*s'.", (int)path.count, path.data);
        return nullptr;
    }
    File_Record *file = add_file_record(path, text, count, allocation);
    file->device = (u64)info.st_dev;
    file->inode = (u64)info.st_ino;
    if (!tokenise_file(file)) return nullptr;
    return file;
}

File_Record *compiler_add_file_from_memory(String path, String text) {
    Allocation allocation = {};
    gp_allocate(&allocation, text.count ? (u64)text.count : 1);
    if (text.count) memcpy(allocation.memory, text.data, (size_t)text.count);
    File_Record *file = add_file_record(path, (u8 *)allocation.memory, (u32)text.count, allocation);
    if (!tokenise_file(file)) return nullptr;
    return file;
}

static String directory_part(String path) {
    for (s64 i = path.count - 1; i >= 0; i--) {
        if (path.data[i] == '/' || path.data[i] == '\\') return String{path.data, i};
    }
    return String{path.data, 0};
}

// Folds "." and "name/.." out of a path, so that "./a.8" and "a.8" name one file.
String normalise_path(String path) {
    u8 *out = (u8 *)arena_allocate((u64)path.count + 1, 1);
    s64 n = 0;
    s64 root = 0; // bytes that ".." never removes: a leading '/' or a drive "C:"
    if (path.count >= 2 && path.data[1] == ':') root = 2;
    s64 i = 0;
    while (i < path.count) {
        s64 start = i;
        while (i < path.count && path.data[i] != '/' && path.data[i] != '\\') i++;
        s64 length = i - start;
        bool separator = i < path.count;
        const u8 *segment = path.data + start;
        i += separator;
        if (start == 0 && length == 0) { // a leading '/'
            out[n++] = '/';
            root = 1;
            continue;
        }
        if (start == 0 && root == 2) {
            memcpy(out, segment, (size_t)length);
            n = length;
            if (separator) out[n++] = '/';
            root = n;
            continue;
        }
        if (length == 0 || (length == 1 && segment[0] == '.')) continue;
        if (length == 2 && segment[0] == '.' && segment[1] == '.') {
            // Back over the previous segment unless there is none or it is "..".
            s64 end = n > root && out[n - 1] == '/' ? n - 1 : n;
            s64 previous = end;
            while (previous > root && out[previous - 1] != '/') previous--;
            bool parent_of_parent = end - previous == 2 && out[previous] == '.' && out[previous + 1] == '.';
            if (end > root && !parent_of_parent) {
                n = previous;
                continue;
            }
            if (root > 0 && end <= root) continue; // "/.." is "/"
        }
        memcpy(out + n, segment, (size_t)length);
        n += length;
        if (separator) out[n++] = '/';
    }
    if (n > root && out[n - 1] == '/') n--;
    out[n] = 0;
    return String{out, n};
}

static bool compiler_load_and_preparse_file(String path, Scope *scope, Token *directive) {
    Compiler_State *state = &global_compiler_state;
    for (u32 i = 0; i < state->loaded_files.count; i++) {
        File_Record *file = *dynamic_array_at<File_Record *>(&state->loaded_files, i);
        if (string_equal(file->path, path)) return true;
    }
    // The same file reached by another name (a link, a second mount point) is
    // also loaded once; this is what stops a link that loops back on itself.
    struct stat info;
    if (stat((const char *)arena_copy(path).data, &info) == 0) {
        for (u32 i = 0; i < state->loaded_files.count; i++) {
            File_Record *file = *dynamic_array_at<File_Record *>(&state->loaded_files, i);
            if (file->inode && file->inode == (u64)info.st_ino && file->device == (u64)info.st_dev) return true;
        }
    }
    File_Record *file = compiler_load_file(path, directive);
    if (!file) return false;
    return preparse_global_scope(scope, file->first_token, nullptr, directory_part(file->path));
}

// [SECTION] Pre-parse

// Returned by a statement that reaches the end of the token list, so that a
// null result always means failure.
static Token range_end_marker;
static Token *const RANGE_END = &range_end_marker;
static Token *after_or_end(Token *after, Token *end) { return after ? after : end ? end : RANGE_END; }

static bool is_keyword_statement(Token *t) {
    static const char *const KEYWORDS[][2] = {
        {"if", "You cannot use if statements in global scope."},
        {"for", "You cannot use for statements in global scope."},
        {"while", "You cannot use while statements in global scope."},
        {"switch", "You cannot use switch statements in global scope."},
        {"break", "You cannot use break statements in global scope."},
        {"continue", "You cannot use continue statements in global scope."},
        {"return", "You cannot use return statements in global scope."},
        {"else", "This else statement does not seem to be part of an #if statement chain."},
    };
    for (auto &k : KEYWORDS) {
        if (token_is(t, k[0])) {
            print_error_on_token(t, "%s", k[1]);
            return true;
        }
    }
    return false;
}

// A block is '{ ... }' or ': statement;'. Returns the token after it, or null.
static Token *block_end(Token *block) {
    if (block->kind & TOKEN_OPEN_BRACE) return block->partner ? block->partner->next : nullptr;
    if ((block->kind & TOKEN_COLON) && block->partner) return block->partner->next;
    return nullptr;
}

static void block_range(Token *block, Token **first, Token **end) {
    if (block->kind & TOKEN_OPEN_BRACE) {
        *first = block->next;
        *end = block->partner;
    } else {
        *first = block->next;
        *end = block->partner ? block->partner->next : nullptr;
    }
}

static bool is_block_start(Token *t) {
    return t && ((t->kind & TOKEN_OPEN_BRACE) || ((t->kind & TOKEN_COLON) && t->partner));
}

static Token *preparse_static_if(Token *directive, Token *end, String directory) {
    Compiler_State *state = &global_compiler_state;
    Pending_Static_If *chain = (Pending_Static_If *)arena_allocate(sizeof(Pending_Static_If));
    memset(chain, 0, sizeof *chain);
    Token *t = directive;
    for (;;) {
        Token *condition = t->next;
        Token *block = condition && condition != end ? get_first_token_like_bounded(condition, TOKEN_OPEN_BRACE | TOKEN_COLON, end) : nullptr;
        if (!block || !is_block_start(block)) {
            print_error_on_token(t, "Did you forget to associate a code block to this if statement?");
            return nullptr;
        }
        if (block == condition) {
            print_error_on_token(t, "Did you forget to specify a condition for this if statement?");
            return nullptr;
        }
        if (chain->num_parts >= ARRAY_COUNT(chain->parts_block)) {
            print_error_on_token(t, "This #if chain has too many parts (the limit is %u).", (u32)ARRAY_COUNT(chain->parts_block));
            return nullptr;
        }
        chain->parts_condition[chain->num_parts] = condition;
        chain->parts_block[chain->num_parts] = block;
        chain->num_parts++;
        Token *after = block_end(block);
        if (after && after != end && token_is(after, "else")) {
            Token *next = after->next;
            if (next && next != end && token_is(next, "#if")) {
                t = next;
                continue;
            }
            if (!next || next == end || !is_block_start(next)) {
                print_error_on_token(next && next != end ? next : after,
                                     "Expected a block of code associated with this else statement but got '%s' instead.",
                                     next && next != end ? token_to_c_string(next) : "");
                return nullptr;
            }
            chain->else_block = next;
            after = block_end(next);
        }
        u64 n = directory.count < (s64)sizeof chain->directory ? directory.count : sizeof chain->directory;
        memcpy(chain->directory, directory.data, n);
        chain->directory_length = (u16)n;
        *(Pending_Static_If **)dynamic_array_add(&state->pending_static_ifs[state->generation]) = chain;
        return after_or_end(after, end);
    }
}

static bool preparse_code_value(Scope *scope, Token *first, Token *end, String directory, Token *where) {
    Value v = {};
    if (!parse_assignment_value(scope, global_compiler_state.code_type, first, end, &v)) return false;
    if (!value_is_constant(&v) || !(v.constant.kind & CONSTANT_CODE)) {
        print_error_on_token(where, "This expression does not appear to be constant.");
        return false;
    }
    if (!compiler_enter_nesting(where)) return false;
    bool ok = preparse_global_scope(scope, v.constant.code_first, v.constant.code_end, directory);
    compiler_leave_nesting();
    return ok;
}

static const char *const ENTRY_POINT_NAMES[3] = {"#on_load", "#events", "#syntax"};

static Token *preparse_directive(Scope *scope, Token *t, Token *end, String directory) {
    Compiler_State *state = &global_compiler_state;
    if (token_is(t, "#if")) return preparse_static_if(t, end, directory);
    if (token_is(t, "#insert")) {
        Token *semicolon = t->next && t->next != end ? get_first_token_like_bounded(t->next, TOKEN_SEMICOLON, end) : nullptr;
        if (!semicolon) {
            print_error_on_token(t, "Did you forget a ';'?");
            return nullptr;
        }
        if (semicolon == t->next) {
            print_error_on_token(t, "Did you forget to specify code to insert?");
            return nullptr;
        }
        if (token_is(t->next, "#code")) {
            if (!preparse_code_value(scope, t->next, semicolon, directory, t)) return nullptr;
        } else {
            Pending_Insert *insert = (Pending_Insert *)dynamic_array_add(&state->pending_inserts[state->generation]);
            insert->directive = t;
            insert->semicolon = semicolon;
        }
        return after_or_end(semicolon->next, end);
    }
    if (token_is(t, "#load_file")) {
        Token *literal = t->next;
        if (!literal || literal == end || !(literal->kind & TOKEN_STRING)) {
            print_error_on_token(literal && literal != end ? literal : t,
                                 "The compiler expected a literal string representing a filepath after #load_file.");
            return nullptr;
        }
        if (!literal->next || literal->next == end || !(literal->next->kind & TOKEN_SEMICOLON)) {
            print_error_on_token(literal, "Did you forget a ';' after the filepath to end the #load_file directive?");
            return nullptr;
        }
        String name = get_real_string(token_string(literal));
        // An absolute path ('/...', or a drive letter 'C:...') is taken as it is.
        bool absolute = name.count && (name.data[0] == '/' || (name.count > 1 && name.data[1] == ':'));
        String path = absolute ? name
                               : arena_format_string("%.*s/%.*s", (int)directory.count, directory.data, (int)name.count, name.data);
        path = normalise_path(path);
        if (!compiler_load_and_preparse_file(path, scope, t)) return nullptr;
        return after_or_end(literal->next->next, end);
    }
    for (u32 i = 0; i < 3; i++) {
        if (!token_is(t, ENTRY_POINT_NAMES[i])) continue;
        static const char *const ALREADY[3] = {"An #on_load block has already been declared.", "An #events block has already been declared.",
                                               "A #syntax block has already been declared."};
        if (state->entry_points[i]) {
            print_error_on_token(t, "%s", ALREADY[i]);
            return nullptr;
        }
        Token *block = t->next;
        if (!block || block == end || !is_block_start(block)) {
            if (i == 2) print_error_on_token(t, "The compiler expected a block of code after this to determine how to perform syntax highlighting.");
            else print_error_on_token(t, "Expected a code block after directive %s.", ENTRY_POINT_NAMES[i]);
            return nullptr;
        }
        state->entry_points[i] = t;
        Token *after = block_end(block);
        return after_or_end(after, end);
    }
    if (token_is(t, "#machine_code")) {
        print_error_on_token(t, "You cannot use directive #machine_code in global scope.");
        return nullptr;
    }
    print_error_on_token(t, "Directive %s is either unsupported or cannot be used in this context.", token_to_c_string(t));
    return nullptr;
}

static Identifier *last_declared;

static Token *preparse_declaration(Scope *scope, Token *t, Token *end) {
    Compiler_State *state = &global_compiler_state;
    bool constant = false;
    if (t->kind & TOKEN_DOLLAR) {
        constant = true;
        Token *dollar = t;
        t = t->next;
        if (!t || t == end || !(t->kind & TOKEN_IDENTIFIER)) {
            bool here = t && t != end;
            print_error_on_token(here ? t : dollar, "Expected an identifier but got '%s' instead.", here ? token_to_c_string(t) : "");
            return nullptr;
        }
    }
    Token *name = t;
    Token *colon = name->next;
    if (!colon || colon == end || !(colon->kind & TOKEN_COLON)) {
        const char *n = token_to_c_string(name);
        print_error_on_token(colon && colon != end ? colon : name,
                             "Expected a ':' but got '%s' instead. A declaration can take the following forms:\n%s: "
                             "<type>;\n%s: <type> = <value>;\n%s := <value>;",
                             colon && colon != end ? token_to_c_string(colon) : "", n, n, n);
        return nullptr;
    }
    Token *semicolon = colon->partner;
    if (!semicolon) {
        print_error_on_token(colon, "All declarations must end with a ';'.");
        return nullptr;
    }
    Token *equal = nullptr;
    for (Token *s = colon->next; s && s != semicolon; s = token_skip(s)) {
        if ((s->kind & TOKEN_BINARY_OPERATOR) && (s->op & OP_ASSIGN) && s->op != OP_ASSIGN) {
            print_error_on_token(s, "You cannot reassign a value in global scope so only the '=' operator can be used for assignments.");
            return nullptr;
        }
        if (!equal && (s->kind & TOKEN_BINARY_OPERATOR) && s->op == OP_ASSIGN) equal = s;
    }
    Token *after_colon = colon->next;
    u8 kind = DECLARATION_OTHER;
    if (after_colon != semicolon && (after_colon->kind & TOKEN_OPEN_PARENTHESIS)) {
        kind = DECLARATION_SUB_PROGRAM;
        if (!constant) {
            print_error_on_token(name, "For now sub-programs must be constant. This will change in future versions of the compiler.");
            return nullptr;
        }
        if (!equal) {
            print_error_on_token(name, "You must assign a block of code to this sub-program using the '=' operator.");
            return nullptr;
        }
    } else if (token_is(after_colon, "#enum") || token_is(after_colon, "#enum_flags")) {
        kind = DECLARATION_ENUM;
        if (!constant) {
            print_error_on_token(name, "Enums must be constant.");
            return nullptr;
        }
        if (!equal) {
            print_error_on_token(name, "You must assign a body to this enum using the '=' operator.");
            return nullptr;
        }
    } else if (token_is(after_colon, "#struct")) {
        kind = DECLARATION_STRUCT;
    } else if (after_colon == (equal ? equal : semicolon) && (!equal || equal->next == semicolon)) {
        if (!equal) {
            print_error_on_token(name, "The type of '%s' cannot be determined as no explicit type is provided and no value is set to infer a type from.",
                                 token_to_c_string(name));
            return nullptr;
        }
    }

    Identifier *id = get_identifier(scope, name->text, name->length);
    // Sub-programs of one name in one scope form an overload set.
    Identifier *overloaded = nullptr;
    // One in an outer scope is only hidden by the inner set.
    if (id && kind == DECLARATION_SUB_PROGRAM && id->declaration_kind == DECLARATION_SUB_PROGRAM) {
        if (id->scope == scope) overloaded = id;
        id = nullptr;
    }
    if (id && (id->flags & (IDENTIFIER_DECLARED | IDENTIFIER_PRE_DECLARED))) {
        print_error_on_token(name, "'%s' is already declared.", token_to_c_string(name));
        if (id->declaration.text) print_note_on_trace(id->declaration, "This is the previous declaration.");
        return nullptr;
    }
    if (!id) id = add_identifier(scope, name->text, name->length, constant ? IDENTIFIER_KIND_CONSTANT : IDENTIFIER_KIND_VARIABLE,
                                 make_trace_from_token(name));
    if (overloaded) {
        while (overloaded->next_overload) overloaded = overloaded->next_overload;
        overloaded->next_overload = id;
    }
    id->declaration_kind = kind;
    id->name_token = name;
    id->kind_token = after_colon;
    id->semicolon = semicolon;
    Token *type_end = equal ? equal : semicolon;
    if (after_colon != type_end) {
        id->type_first = after_colon;
        id->type_end = type_end;
    }
    if (equal) {
        id->value_first = equal;
        id->value_end = semicolon;
    }
    id->flags |= IDENTIFIER_PRE_DECLARED;
    if (constant) id->flags |= IDENTIFIER_CONSTANT;
    id->global_order = state->globals.count;
    if (scope == state->global_scope) *(Identifier **)dynamic_array_add(&state->globals) = id;
    last_declared = id;
    return after_or_end(semicolon->next, end);
}

Identifier *declare_in_scope(Scope *scope, Token *first, Token *end, Token **after) {
    last_declared = nullptr;
    Token *next = preparse_declaration(scope, first, end);
    if (!next) return nullptr;
    *after = next == RANGE_END ? end : next;
    return last_declared;
}

bool preparse_global_scope(Scope *scope, Token *first, Token *end, String directory) {
    Token *t = first;
    while (t && t != end) {
        Token *next;
        if ((t->kind & TOKEN_IDENTIFIER) && is_keyword_statement(t)) return false;
        if (t->kind & TOKEN_DIRECTIVE) {
            next = preparse_directive(scope, t, end, directory);
        } else if (t->kind & (TOKEN_DOLLAR | TOKEN_IDENTIFIER)) {
            next = preparse_declaration(scope, t, end);
        } else if (t->kind & TOKEN_OPEN_BRACE) {
            print_error_on_token(t, "You cannot declare an anonymous scope in global scope.");
            return false;
        } else {
            print_error_on_token(t, "This is unexpected.");
            return false;
        }
        if (!next) return false;
        if (next == RANGE_END) break;
        t = next;
    }
    return true;
}

bool preparse_global_static_if_chain(Scope *scope, Pending_Static_If *chain) {
    String directory = {chain->directory, chain->directory_length};
    Token *chosen = nullptr;
    for (u32 i = 0; i < chain->num_parts && !chosen; i++) {
        Value v = {};
        if (!parse_assignment_value(scope, global_compiler_state.type_b8, chain->parts_condition[i], chain->parts_block[i], &v)) return false;
        if (!value_is_constant(&v)) {
            print_error_on_token(chain->parts_condition[i], "This expression does not appear to be constant.");
            return false;
        }
        if (v.constant.u != 0) chosen = chain->parts_block[i];
    }
    if (!chosen) chosen = chain->else_block;
    if (!chosen) return true;
    Token *first, *end;
    block_range(chosen, &first, &end);
    if (!compiler_enter_nesting(chosen)) return false;
    bool ok = preparse_global_scope(scope, first, end, directory);
    compiler_leave_nesting();
    return ok;
}

bool preparse_global_insert_directive(Scope *scope, Pending_Insert *insert) {
    File_Record *file = *dynamic_array_at<File_Record *>(&global_compiler_state.loaded_files, insert->directive->location.file_index);
    return preparse_code_value(scope, insert->directive->next, insert->semicolon, directory_part(file->path), insert->directive);
}

// [SECTION] Lazy resolution

static bool resolve_other_declaration(Scope *scope, Identifier *id) {
    Identifier *type = nullptr;
    if (id->type_first) {
        if (!parse_type(scope, &type, id->type_first, id->type_end)) return false;
    }
    if (id->value_first) return handle_declaration_assignment(scope, id, type, id->value_first, id->value_end);
    if (id->flags & IDENTIFIER_CONSTANT) {
        // A struct's constant member is not a lazily resolved global.
        print_error_on_token(id->name_token, (id->flags & IDENTIFIER_MEMBER) ? "Constants must be assigned a value." : "Constants must be initialised with an explicit value.");
        return false;
    }
    id->type = type;
    if (!(id->flags & IDENTIFIER_MEMBER) && code_generation_enabled()) return code_generator.declare_variable(scope, id, nullptr);
    return true;
}

bool resolve_identifier(Identifier *id) {
    if (!(id->flags & IDENTIFIER_PRE_DECLARED) || (id->flags & IDENTIFIER_BEING_RESOLVED)) return true;
    if (!compiler_enter_nesting(id->name_token)) return false;
    id->flags |= IDENTIFIER_BEING_RESOLVED;
    Scope *scope = id->scope;
    bool ok;
    switch (id->declaration_kind) {
    case DECLARATION_STRUCT: ok = parse_struct_declaration(scope, id); break;
    case DECLARATION_ENUM: ok = parse_enum_declaration(scope, id, id->kind_token, token_is(id->kind_token, "#enum_flags")); break;
    case DECLARATION_SUB_PROGRAM: ok = parse_sub_program_declaration(scope, id); break;
    default: ok = resolve_other_declaration(scope, id); break;
    }
    compiler_leave_nesting();
    if (!ok) return false;
    id->flags &= ~(IDENTIFIER_PRE_DECLARED | IDENTIFIER_BEING_RESOLVED);
    id->flags |= IDENTIFIER_DECLARED;
    return true;
}
