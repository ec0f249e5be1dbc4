// The compiler state, its memory, the built-in identifiers and the driver
// of the front end: support files, the main file, the deferred-work loop.
#include "compiler/front/compiler.h"
#include "compiler/front/code_hooks.h"
#include "compiler/front/diagnostics.h"
#include <stdarg.h>
#include <sys/mman.h>
#include <unistd.h>
#include <stb/stb_sprintf.h>

Compiler_State global_compiler_state;
Code_Generator code_generator;

// [SECTION] Page reserve

// Pool pages and arena blocks are carved from one large reservation of
// address space advised for huge pages: a big program then costs a few
// hundred page faults instead of tens of thousands. Nothing is touched
// before it is used, and the pages stay with the pools across compilations.
constexpr u64 PAGE_RESERVE_SIZE = 16ull << 30;
constexpr u64 HUGE_PAGE_SIZE = 2ull << 20;
static u8 *page_reserve;
static u64 page_reserve_used;

static void *allocate_compiler_pages(u64 size) {
    if (!page_reserve) {
        void *p = mmap(nullptr, PAGE_RESERVE_SIZE, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p != MAP_FAILED) {
            page_reserve = (u8 *)p;
            // Start on a huge-page boundary so that every 2 MiB can be one page.
            page_reserve_used = (HUGE_PAGE_SIZE - ((uintptr_t)p & (HUGE_PAGE_SIZE - 1))) & (HUGE_PAGE_SIZE - 1);
            madvise(page_reserve + page_reserve_used, PAGE_RESERVE_SIZE - page_reserve_used, MADV_HUGEPAGE);
        }
    }
    size = (size + 63) & ~63ull;
    if (!page_reserve || page_reserve_used + size > PAGE_RESERVE_SIZE) return os_allocate_read_write(size);
    void *p = page_reserve + page_reserve_used;
    page_reserve_used += size;
    return p;
}

// [SECTION] Arena

static Arena_Block *arena_new_block(u64 at_least) {
    u64 size = at_least + sizeof(Arena_Block) > MB(4) ? at_least + sizeof(Arena_Block) : MB(4);
    Arena_Block *block = (Arena_Block *)allocate_compiler_pages(size);
    block->next = nullptr;
    block->size = size;
    block->used = sizeof(Arena_Block);
    return block;
}

void *arena_allocate(u64 size, u64 alignment) {
    Compiler_Arena *arena = &global_compiler_state.arena;
    for (;;) {
        Arena_Block *block = arena->current;
        u64 start = (block->used + alignment - 1) & ~(alignment - 1);
        if (start + size <= block->size) {
            block->used = start + size;
            return (u8 *)block + start;
        }
        // Blocks stay chained for reuse by later compilations.
        if (!block->next || block->next->size < size + sizeof(Arena_Block) + alignment) {
            Arena_Block *fresh = arena_new_block(size + alignment);
            fresh->next = block->next;
            block->next = fresh;
        }
        arena->current = block->next;
        arena->current->used = sizeof(Arena_Block);
    }
}

void *scratch_allocate(u64 size) {
    if (tmp_get_slot() >= 0 && tmp_get_position() + size + 16 <= TMP_SLOT_MEMORY) return tmp_allocate_aligned(size, 16);
    return arena_allocate(size, 16);
}

static void arena_reset() {
    Compiler_Arena *arena = &global_compiler_state.arena;
    arena->current = arena->first;
    arena->first->used = sizeof(Arena_Block);
}

String arena_copy(String s) {
    u8 *data = (u8 *)arena_allocate((u64)s.count + 1, 1);
    if (s.count) memcpy(data, s.data, (size_t)s.count);
    data[s.count] = 0;
    return String{data, s.count};
}

static String arena_vformat(const char *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int n = stbsp_vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0) n = 0;
    char *out = (char *)arena_allocate((u64)n + 1, 1);
    if (n < (int)sizeof small) memcpy(out, small, (size_t)n + 1);
    else stbsp_vsnprintf(out, n + 1, format, args);
    return String{(u8 *)out, n};
}

const char *arena_format(const char *format, ...) {
    va_list args;
    va_start(args, format);
    String s = arena_vformat(format, args);
    va_end(args);
    return (const char *)s.data;
}

String arena_format_string(const char *format, ...) {
    va_list args;
    va_start(args, format);
    String s = arena_vformat(format, args);
    va_end(args);
    return s;
}

bool compiler_enter_nesting(Token *where) {
    if (global_compiler_state.nesting_depth >= MAX_NESTING_DEPTH) {
        print_error_on_token(where, "This is nested too deeply for the compiler (more than %u levels).", MAX_NESTING_DEPTH);
        return false;
    }
    global_compiler_state.nesting_depth++;
    return true;
}

// [SECTION] Initialisation

static void *allocate_pool_page(u64 size) { return allocate_compiler_pages(size); }

void init_compiler(String root_directory) {
    Compiler_State *state = &global_compiler_state;
    memset(state, 0, sizeof *state);
    state->root_directory = root_directory;
    state->memory = (u8 *)allocate_compiler_pages(COMPILER_MEMORY);
    u8 *at = state->memory;
    u8 *tokens_page = at;
    at += TOKENS_PAGE_MEMORY;
    Arena_Block *first = (Arena_Block *)at; // the compiler static strings region
    first->next = nullptr;
    first->size = COMPILER_STATIC_STRINGS_MEMORY;
    first->used = sizeof(Arena_Block);
    state->arena.first = state->arena.current = first;
    at += COMPILER_STATIC_STRINGS_MEMORY;
    state->constant_data = at;
    at += CONSTANT_DATA_PAGE_MEMORY;
    at += GLOBAL_DATA_PAGE_MEMORY;
    state->real_strings = at;
    at += REAL_STRINGS_MEMORY;
    at += COMPILER_OUTPUT_MEMORY;
    at += INSTRUCTIONS_PAGE_MEMORY;
    // Scope and identifier records are larger than the back end will need
    // once it lands, so their pools take their pages from the system.
    _init_memory_pool(&state->tokens_pool, TOKEN_RECORD_SIZE, NUM_TOKENS_PER_BUCKET, NUM_TOKEN_BUCKETS_PER_PAGE,
                      tokens_page, allocate_pool_page);
    _init_memory_pool(&state->scopes_pool, sizeof(Scope), NUM_SCOPES_PER_BUCKET, NUM_SCOPE_BUCKETS_PER_PAGE, nullptr,
                      allocate_pool_page);
    _init_memory_pool(&state->identifiers_pool, sizeof(Identifier), NUM_IDENTIFIERS_PER_BUCKET,
                      NUM_IDENTIFIER_BUCKETS_PER_PAGE, nullptr, allocate_pool_page);
    dynamic_array_init(&compile_errors, sizeof(Error_Report), 4);
    dynamic_array_init(&state->loaded_files, sizeof(File_Record *), 16);
    for (u32 i = 0; i < 2; i++) {
        dynamic_array_init(&state->pending_static_ifs[i], sizeof(Pending_Static_If *), 8);
        dynamic_array_init(&state->pending_inserts[i], sizeof(Pending_Insert), 8);
    }
    dynamic_array_init(&state->globals, sizeof(Identifier *), 256);
    dynamic_array_init(&state->constant_relocations, sizeof(Constant_Relocation), 64);
}

static Identifier *add_builtin_type(const char *name, u64 class_flags, u32 size, u32 alignment) {
    Compiler_State *state = &global_compiler_state;
    Identifier *id = add_identifier(state->global_scope, (const u8 *)name, (s64)strlen(name), IDENTIFIER_KIND_CONSTANT,
                                    Trace{0xFFFFFFFF, 0, nullptr, nullptr, 0});
    id->flags |= IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT | IDENTIFIER_IS_TYPE | class_flags;
    id->size = size;
    id->alignment = alignment;
    id->leaf_type = id;
    id->type = state->type_Type ? state->type_Type : id;
    id->constant.kind = CONSTANT_TYPE;
    id->constant.type_value = id;
    return id;
}

static void add_builtin_identifiers() {
    Compiler_State *state = &global_compiler_state;
    state->type_Type = add_builtin_type("Type", TYPE_TYPE, 8, 8);
    state->type_void = add_builtin_type("void", TYPE_VOID, 0, 1);
    state->type_u8 = add_builtin_type("u8", TYPE_UNSIGNED, 1, 1);
    state->type_b8 = add_builtin_type("b8", TYPE_UNSIGNED | TYPE_BOOLEAN, 1, 1);
    state->type_u16 = add_builtin_type("u16", TYPE_UNSIGNED, 2, 2);
    state->type_u32 = add_builtin_type("u32", TYPE_UNSIGNED, 4, 4);
    state->type_u64 = add_builtin_type("u64", TYPE_UNSIGNED, 8, 8);
    state->type_s8 = add_builtin_type("s8", TYPE_SIGNED, 1, 1);
    state->type_s16 = add_builtin_type("s16", TYPE_SIGNED, 2, 2);
    state->type_s32 = add_builtin_type("s32", TYPE_SIGNED, 4, 4);
    state->type_s64 = add_builtin_type("s64", TYPE_SIGNED, 8, 8);
    state->type_f32 = add_builtin_type("f32", TYPE_REAL, 4, 4);
    state->type_f64 = add_builtin_type("f64", TYPE_REAL, 8, 8);
    Identifier *string = add_builtin_type("String", TYPE_STRUCT | IDENTIFIER_STRING_TYPE, 16, 8);
    state->type_String = string;
    string->member_scope = _add_a_scope(nullptr, 0);
    string->member_scope->owner = string;
    Trace none = {0xFFFFFFFF, 0, nullptr, nullptr, 0};
    Identifier *data = add_identifier(string->member_scope, (const u8 *)"data", 4, IDENTIFIER_KIND_VARIABLE, none);
    data->flags |= IDENTIFIER_DECLARED | IDENTIFIER_MEMBER;
    data->type = type_to_memory_address_of_type(state->type_u8, 1);
    data->offset = 0;
    Identifier *count = add_identifier(string->member_scope, (const u8 *)"count", 5, IDENTIFIER_KIND_VARIABLE, none);
    count->flags |= IDENTIFIER_DECLARED | IDENTIFIER_MEMBER;
    count->type = state->type_s64;
    count->offset = 8;
}

// [SECTION] Driver

static bool run_deferred_work() {
    Compiler_State *state = &global_compiler_state;
    for (;;) {
        u32 g = state->generation;
        Dynamic_Array *ifs = &state->pending_static_ifs[g];
        Dynamic_Array *inserts = &state->pending_inserts[g];
        if (ifs->count == 0 && inserts->count == 0) return true;
        state->generation = g ^ 1;
        state->pending_static_ifs[g ^ 1].count = 0;
        state->pending_inserts[g ^ 1].count = 0;
        for (u32 i = 0; i < ifs->count; i++) {
            if (!preparse_global_static_if_chain(state->global_scope, *dynamic_array_at<Pending_Static_If *>(ifs, i))) return false;
        }
        for (u32 i = 0; i < inserts->count; i++) {
            Pending_Insert insert = *dynamic_array_at<Pending_Insert>(inserts, i);
            if (!preparse_global_insert_directive(state->global_scope, &insert)) return false;
        }
        ifs->count = 0;
        inserts->count = 0;
    }
}

static String directory_of(String path) {
    s64 cut = -1;
    for (s64 i = path.count - 1; i >= 0; i--) {
        if (path.data[i] == '/' || path.data[i] == '\\') {
            cut = i;
            break;
        }
    }
    return String{path.data, cut < 0 ? 0 : cut};
}

// Support files are compiled as a whole, declaration by declaration, so
// their names are fully declared before the user's files are read.
static bool compile_support_file(const char *name) {
    Compiler_State *state = &global_compiler_state;
    String path = arena_format_string("%.*s/%s", (int)state->root_directory.count, state->root_directory.data, name);
    if (access((const char *)path.data, R_OK) != 0) {
        print_error("Failed to find file '%s'.", (const char *)path.data);
        return false;
    }
    u32 first_global = state->globals.count;
    File_Record *file = compiler_load_file(path, nullptr);
    if (!file) return false;
    if (!preparse_global_scope(state->global_scope, file->first_token, nullptr, directory_of(path))) return false;
    if (!run_deferred_work()) return false;
    for (u32 i = first_global; i < state->globals.count; i++) {
        Identifier *id = *dynamic_array_at<Identifier *>(&state->globals, i);
        if ((id->flags & IDENTIFIER_PRE_DECLARED) && !resolve_identifier(id)) return false;
    }
    state->globals.count = first_global;
    return true;
}

static Identifier *find_enum_member(Identifier *enum_type, const char *name) {
    if (!enum_type || !(enum_type->flags & TYPE_ENUM) || !enum_type->member_scope) return nullptr;
    return get_identifier_in_scope(enum_type->member_scope, (const u8 *)name, (s64)strlen(name));
}

static bool complete_target_constant(const char *constant_name, const char *const *members, u32 num_members, u8 which) {
    Compiler_State *state = &global_compiler_state;
    Identifier *id = get_identifier(state->global_scope, (const u8 *)constant_name, (s64)strlen(constant_name));
    if (!id || !(id->flags & IDENTIFIER_CONSTANT) || !id->type || !(id->type->flags & TYPE_ENUM)) {
        print_error("The support file \"inject.8\" must declare '%s' as a constant of an enum type.", constant_name);
        return false;
    }
    if (which >= num_members) return false;
    Identifier *member = find_enum_member(id->type, members[which]);
    if (!member) {
        print_error("The enum type of '%s' has no member named '%s'.", constant_name, members[which]);
        return false;
    }
    id->constant = member->constant;
    return true;
}

static bool mark_special_identifiers() {
    Compiler_State *state = &global_compiler_state;
    static const char *const PLATFORMS[] = {"BYTECODE", "AMD64"};
    static const char *const SYSTEMS[] = {"WINDOWS", "LINUX", "MACOS"};
    if (!complete_target_constant("COMPILER_TARGET_PLATFORM", PLATFORMS, 2, state->target_platform)) return false;
    if (!complete_target_constant("COMPILER_TARGET_OS", SYSTEMS, 3, state->target_os)) return false;
    Scope *g = state->global_scope;
    Identifier *array = get_identifier(g, (const u8 *)"__Array", 7);
    Identifier *fixed = get_identifier(g, (const u8 *)"__Fixed_Size_Array", 18);
    Identifier *code = get_identifier(g, (const u8 *)"Code", 4);
    if (!array || !array->polymorphic || !fixed || !fixed->polymorphic || !code || !(code->flags & IDENTIFIER_IS_TYPE)) {
        print_error("The support file \"inject.8\" must declare the polymorphic structs '__Array' and "
                    "'__Fixed_Size_Array' and the type 'Code'.");
        return false;
    }
    array->flags |= TYPE_ARRAY_STRUCT;
    fixed->flags |= TYPE_ARRAY_STRUCT | TYPE_FIXED_SIZE_ARRAY;
    code->flags |= IDENTIFIER_CODE_TYPE;
    state->array_struct = array;
    state->fixed_size_array_struct = fixed;
    state->code_type = code;
    return true;
}

static void reset_for_compilation() {
    Compiler_State *state = &global_compiler_state;
    compile_errors.count = 0;
    compile_warnings.count = 0;
    state->target_platform = TARGET_AMD64;
    state->target_os = TARGET_OS_LINUX;
    state->address_size = 8;
    memory_pool_reset(&state->tokens_pool);
    memory_pool_reset(&state->scopes_pool);
    memory_pool_reset(&state->identifiers_pool);
    arena_reset();
    state->real_strings_used = 0;
    state->constant_data_used = 0;
    state->constant_relocations.count = 0;
    state->string_table = nullptr;
    state->string_table_capacity = state->string_table_count = 0;
    state->global_scope = state->last_scope = nullptr;
    state->scopes_bucket = nullptr;
    state->derived_types_scope = nullptr;
    state->num_scopes = 0;
    state->array_struct = state->fixed_size_array_struct = state->code_type = nullptr;
    memset(state->entry_points, 0, sizeof state->entry_points);
    memset(state->entry_point_scopes, 0, sizeof state->entry_point_scopes);
    state->generation = 0;
    for (u32 i = 0; i < 2; i++) {
        state->pending_static_ifs[i].count = 0;
        state->pending_inserts[i].count = 0;
    }
    state->globals.count = 0;
    state->loaded_files.count = 0;
    state->resolution_depth = 0;
    state->nesting_depth = 0;
}

bool compile_front_end(String path, Front_End_Options options) {
    Compiler_State *state = &global_compiler_state;
    reset_for_compilation();

    bool absolute = (path.count > 0 && path.data[0] == '/') || (path.count > 1 && path.data[1] == ':');
    if (absolute) {
        state->main_file_path = arena_copy(path);
    } else {
        char cwd[2048];
        if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
        state->main_file_path = arena_format_string("%s/%.*s", cwd, (int)path.count, path.data);
    }
    String directory = directory_of(state->main_file_path);
    state->main_directory_length = (u32)directory.count;

    state->global_scope = _add_a_scope(nullptr, 0);
    add_builtin_identifiers();

    if (!compile_support_file("inject.8")) return false;
    if (!mark_special_identifiers()) return false;
    if (!compile_support_file("api.8")) return false;

    File_Record *main_file = options.use_text ? compiler_add_file_from_memory(state->main_file_path, options.text)
                                              : compiler_load_file(state->main_file_path, nullptr);
    if (!main_file) return false;
    if (!preparse_global_scope(state->global_scope, main_file->first_token, nullptr, directory)) return false;
    if (!run_deferred_work()) return false;

    if (options.check) {
        for (u32 i = 0; i < state->globals.count; i++) {
            Identifier *id = *dynamic_array_at<Identifier *>(&state->globals, i);
            if ((id->flags & IDENTIFIER_PRE_DECLARED) && !(id->flags & IDENTIFIER_BEING_RESOLVED)) {
                if (!resolve_identifier(id)) return false;
            }
        }
    }
    return true;
}

void free_compiler_state() {
    Compiler_State *state = &global_compiler_state;
    for (u32 i = 0; i < state->loaded_files.count; i++) {
        File_Record *file = *dynamic_array_at<File_Record *>(&state->loaded_files, i);
        gp_free(&file->text_allocation);
    }
    state->loaded_files.count = 0;
    state->globals.count = 0;
}
