// The front end's shared records and the compiler state: files, scopes,
// identifiers (which are also the type descriptors), constants and values.
//
// Index:
//   [SECTION] Memory of one compilation
//   [SECTION] Files
//   [SECTION] Identifiers and types
//   [SECTION] Constants and values
//   [SECTION] Scopes
//   [SECTION] Compiler state and driver
//   [SECTION] Entry points of each part of the front end
#pragma once
#include "core/base.h"
#include "core/memory.h"
#include "compiler/front/tokens.h"

// [SECTION] Memory of one compilation --------------------------------------------

constexpr u64 COMPILER_MEMORY = 32930912;
constexpr u64 COMPILER_STATIC_STRINGS_MEMORY = 512016;
constexpr u64 STATIC_STRINGS_BUCKET_SIZE = 512000;
constexpr u64 CONSTANT_DATA_BUCKET_SIZE = 1048576;
constexpr u64 CONSTANT_DATA_PAGE_MEMORY = 1048592;
constexpr u64 GLOBAL_DATA_BUCKET_SIZE = 1048576;
constexpr u64 GLOBAL_DATA_PAGE_MEMORY = 1048592;
constexpr u64 REAL_STRINGS_MEMORY = 1048576;
constexpr u64 COMPILER_OUTPUT_MEMORY = 10485760;
constexpr u64 INSTRUCTIONS_PAGE_MEMORY = 14188560;
constexpr u64 SCOPES_PAGE_MEMORY = 819728;
constexpr u64 IDENTIFIERS_PAGE_MEMORY = 1642512;
constexpr u32 NUM_IDENTIFIERS_PER_BUCKET = 8;
constexpr u32 NUM_IDENTIFIER_BUCKETS_PER_PAGE = 256;
constexpr u32 NUM_SCOPES_PER_BUCKET = 32;
constexpr u32 NUM_SCOPE_BUCKETS_PER_PAGE = 32;

// Scratch memory for the whole compilation: chained blocks handed out by a
// bump offset, all dropped at once when the next compilation starts.
struct Arena_Block {
    Arena_Block *next;
    u64 size;
    u64 used;
};
struct Compiler_Arena {
    Arena_Block *first;
    Arena_Block *current;
};
void *arena_allocate(u64 size, u64 alignment = 8);
// Short-lived memory for one call or statement: temporary memory while it has
// room, else the arena. Callers save tmp_get_position() and restore it after.
void *scratch_allocate(u64 size);
String arena_copy(String s);
// printf-style into the arena (no size limit).
const char *arena_format(const char *format, ...) __attribute__((format(printf, 1, 2)));
String arena_format_string(const char *format, ...) __attribute__((format(printf, 1, 2)));

// [SECTION] Files ---------------------------------------------------------------------

struct File_Record {
    String path;
    u8 *text;
    u32 count;
    u32 capacity;
    Allocation text_allocation;
    Token *first_token;
    u32 file_index;
    u64 device, inode; // 0 for text given from memory
};

// [SECTION] Identifiers and types --------------------------------------------------------

enum : u64 {
    IDENTIFIER_DECLARED = 0x1,
    IDENTIFIER_CONSTANT = 0x2,
    TYPE_ENUM = 0x8,
    TYPE_STRUCT = 0x20,
    TYPE_ARRAY_STRUCT = 0x40,
    TYPE_FIXED_SIZE_ARRAY = 0x80,
    IDENTIFIER_MEMBER = 0x200,
    TYPE_SUB_PROGRAM = 0x400,
    TYPE_UNSIGNED = 0x800,
    TYPE_SIGNED = 0x1000,
    TYPE_REAL = 0x2000,
    TYPE_VOID = 0x4000,
    TYPE_TYPE = 0x10000,
    TYPE_BOOLEAN = 0x20000,
    TYPE_INTEGER = 0x21800,
    TYPE_NUMBER = 0x23800,
    SUB_PROGRAM_FOREIGN = 0x40000,
    SUB_PROGRAM_INLINED = 0x80000,
    IDENTIFIER_POLYMORPHIC = 0x400000,
    IDENTIFIER_USING = 0x1000000,
    IDENTIFIER_PRE_DECLARED = 0x8000000,
    IDENTIFIER_BEING_RESOLVED = 0x10000000,
    SUB_PROGRAM_NO_CONTEXT = 0x80000000,
    SUB_PROGRAM_CALL_LOCATION = 0x200000000,
    SUB_PROGRAM_C_CALL = 0x400000000,
    // Tarno's own bits, above the ones shared with the back end.
    IDENTIFIER_IS_TYPE = 1ull << 40,        // the identifier is a type descriptor
    IDENTIFIER_CODE_TYPE = 1ull << 41,      // the `Code` type
    IDENTIFIER_EMBEDDED_ARRAY = 1ull << 42, // struct member holding a fixed-size array inline
    IDENTIFIER_AS_MEMBER = 1ull << 43,      // the struct's #as member
    IDENTIFIER_HAS_VALUE = 1ull << 44,      // a variable whose initial value is a constant
    IDENTIFIER_ENUM_MEMBER = 1ull << 45,
    IDENTIFIER_STRING_TYPE = 1ull << 46,    // the built-in String struct
};

// One #union block around a struct member and the alternative of it the member
// belongs to; both are named by tokens so they stay apart across structs.
struct Union_Step {
    Token *union_block;
    Token *alternative;
    Union_Step *outer;
};

enum Declaration_Kind : u8 {
    DECLARATION_NONE = 0,
    DECLARATION_STRUCT = 1,
    DECLARATION_ENUM = 2,
    DECLARATION_SUB_PROGRAM = 3,
    DECLARATION_OTHER = 4,
};

enum Identifier_Kind : u32 {
    IDENTIFIER_KIND_CONSTANT = 1,
    IDENTIFIER_KIND_VARIABLE = 2,
    IDENTIFIER_KIND_POLYMORPHIC_ARGUMENT = 4,
    IDENTIFIER_KIND_PARAMETER = 8,
};

struct Identifier;
struct Scope;
struct Constant;
struct IR_Instruction;

// Where a run-time value lives: a record in one of the register tables of
// the instruction IR (compiler/back/ir.h). Plain 16 bytes, copied by value.
struct Register_Id {
    Scope *owner; // stack registers: the scope whose table holds the record
    s32 index;
    u8 pool;      // REGISTER_POOL_*
    u8 kind;      // copy of the record's kind
    u16 rest;     // zero
};
enum : u8 {
    REGISTER_POOL_CONSTANT_DATA = 1,
    REGISTER_POOL_TYPE_DATA = 2,
    REGISTER_POOL_GLOBAL_DATA = 3,
    REGISTER_POOL_STACK = 4,
    REGISTER_POOL_CALL_DATA = 5,
};
constexpr Register_Id INVALID_REGISTER_ID = {nullptr, (s32)0xFFFFFFFF, 0, 0, 0};
inline bool register_id_is_valid(Register_Id id) {
    return !((u32)id.index == 0xFFFFFFFFu && id.pool == 0 && id.kind == 0);
}

// Kinds of constant: the scalar ones equal the literal token kinds.
enum : u64 {
    CONSTANT_UNSIGNED = 0x80000,
    CONSTANT_SIGNED = 0x100000,
    CONSTANT_INTEGER = 0x180000,
    CONSTANT_REAL = 0x200000,
    CONSTANT_NUMBER = 0x380000,
    CONSTANT_STRING = 0x40000,
    CONSTANT_TYPE = 1ull << 32,        // `type` holds the denoted type
    CONSTANT_AGGREGATE = 1ull << 33,   // struct or array literal: `items`
    CONSTANT_CODE = 1ull << 34,        // a token range
    CONSTANT_SUB_PROGRAM = 1ull << 35, // the address of a sub-program
    CONSTANT_IN_DATA = 1ull << 36,     // an aggregate written to constant data at `data_offset`
};

// A place in constant data that holds the address of another place there,
// or of a sub-program's code, or of a type's information record.
struct Constant_Relocation {
    u64 at;
    u64 target;                    // offset in constant data (neither of the two below set)
    Identifier *target_sub_program; // the code of this sub-program
    Identifier *target_type;        // the information record of this type (type data)
};

struct Constant {
    u64 kind;
    u32 size; // bytes of the smallest integer that holds it, or of its type
    union {
        u64 u;
        s64 s;
        f64 f;
    };
    String string;          // strings, after escape processing
    u64 data_offset;        // strings: place of the bytes in constant data; CONSTANT_IN_DATA: of the value
    u32 data_alignment;     // aggregates: alignment asked with #align (0: the element's)
    Identifier *type_value; // CONSTANT_TYPE; CONSTANT_SUB_PROGRAM: the sub-program
    Constant *items;        // CONSTANT_AGGREGATE
    u32 item_count;
    Token *code_first;      // CONSTANT_CODE: [code_first, code_end)
    Token *code_end;
};

struct Parameter {
    Identifier *identifier; // in the parameter scope
    Token *name;
    Token *type_first, *type_end;   // [first, end)
    Token *value_first, *value_end; // default value, if any
    Identifier *type;
    u32 offset;
    bool is_constant;
    bool is_copy;
};

struct Signature {
    Scope *parameter_scope;
    Parameter *parameters;
    u32 num_parameters;
    Identifier *return_type; // null: returns nothing
    u32 return_offset;
    u32 block_size;
    u32 block_alignment;
    u64 flags;
};

struct Polymorphic_Struct {
    Scope *declaring_scope;
    Parameter *parameters;
    u32 num_parameters;
    Token *body; // the '{'
    Identifier **instances;
    u32 num_instances, capacity;
};

struct Identifier {
    Identifier *next;
    const u8 *name;
    s64 name_length;
    Identifier *type; // type of the value; a type descriptor has `Type`
    Constant constant;
    Scope *scope;
    volatile u64 use_count;
    u64 flags;
    Register_Id register_id; // variables: where the value lives
    Trace declaration;

    // Pre-parse data.
    u8 declaration_kind;
    Token *name_token;
    Token *type_first, *type_end;   // [first, end); null when left out
    Token *value_first, *value_end; // after '=' up to the ending ';'
    Token *kind_token;              // #struct, #enum, #enum_flags or the '(' of a sub-program
    Token *semicolon;               // the ';' ending the declaration
    u32 global_order;

    // Type descriptor.
    u32 size;
    u32 alignment;
    u8 pointer_depth;
    Identifier *leaf_type;     // the type the addresses finally point to
    Identifier *address_type;  // a leaf: the type of one address of it, once made (asked for often)
    Identifier *base_type;     // enum: its integer type
    Identifier *element_type;  // array struct: its element type
    u64 max_count;             // fixed-size array capacity
    Scope *member_scope;       // struct, enum
    Identifier *enclosing;     // a type declared inside a struct
    Signature *signature;      // sub-program and sub-program type
    Polymorphic_Struct *polymorphic;
    Identifier *instance_of;   // an instance: its polymorphic struct or sub-program
    Identifier *next_overload; // sub-programs: the next one of this name in the same scope
    Scope *body_scope;         // sub-programs: the compiled body
    Identifier *instances;     // polymorphic sub-programs: the instances made, chained by next_instance
    Identifier *next_instance;
    String instance_key;       // an instance: its parameter types and constant arguments, printed

    // Struct member.
    u32 offset;
    Identifier *using_source;  // a member brought in by #using: the member that did
    Union_Step *union_path;    // the #union blocks holding the member, innermost first
    Token *union_pending;      // while parsing: the alternative of the next enclosing #union
};

// [SECTION] Constants and values ----------------------------------------------------------

enum : u64 {
    VALUE_CONSTANT = 0x1,
    VALUE_UNTYPED = 0x2, // a literal that takes its type from where it is used
    VALUE_EMBEDDED_ARRAY = 0x4, // a struct's fixed-size array member, read as its address
    VALUE_NO_RESULT = 0x8,      // a call of a sub-program that returns nothing
};

// Run-time side of a value (`kind`): where it lives and how it may be used.
enum : u8 {
    VALUE_KIND_DYNAMIC = 1,   // lives in `reg`
    VALUE_KIND_CONSTANT = 2,
    VALUE_KIND_TEMPORARY = 8, // `reg` was made for this value; the consumer may reuse it
    VALUE_KIND_INDIRECT = 16, // `reg` holds the address of the value, not the value
    VALUE_KIND_BOOLEAN = 64,  // already 0 or 1 of type b8
};

struct Value {
    u64 flags;
    Identifier *type;
    Constant constant;
    Token *first; // the expression's tokens, for messages
    Token *last;
    Scope *scope;
    Register_Id reg; // dynamic values, once code is generated
    u8 kind;         // VALUE_KIND_*; 0 while only the type is known (--check)
};
inline bool value_is_constant(const Value *v) { return v->flags & VALUE_CONSTANT; }

// [SECTION] Scopes ----------------------------------------------------------------------

enum : u32 {
    SCOPE_SUB_PROGRAM_BODY = 0x1,
    SCOPE_ENTRY_POINT = 0x4,
    SCOPE_INSIDE_SUB_PROGRAM = 0x8,
    SCOPE_SUB_PROGRAM_ROOT = 0x10,
    SCOPE_INLINED = 0x20,
    SCOPE_LOOP = 0x40,
    SCOPE_INHERITED = 0x100,
    SCOPE_DEFERRED = 0x400,
    BASIC_SUB_PROGRAM_SCOPE_FLAGS = 0x19,
};

// Finds the oldest identifier of a name in one list without a scan.
struct Name_Index {
    Identifier **slots;
    u32 capacity; // power of two, 0 until the list grows long
    u32 count;
};

struct Scope {
    Scope *next_made;
    Scope *parent;
    Identifier *sub_program;
    Scope *inline_context;
    Scope *call_site;
    Dynamic_Array statements; // used by the statement compiler
    Dynamic_Array deferred;
    Bucket_Array variables;
    Bucket_Array constants;
    Bucket_Array parameters;
    Name_Index index[3];
    Identifier *owner; // struct or enum owning a member scope
    u32 lifetime_counter;
    u32 flags;

    // Instruction IR (compiler/back/ir.h).
    IR_Instruction *first_instruction, *last_instruction;
    u32 num_instructions;
    Dynamic_Array registers;      // Register: stack registers of a sub-program or entry block
    Dynamic_Array loop_registers; // Loop_Register: outside registers used inside this loop
    IR_Instruction *first_iteration_instruction, *last_iteration_instruction; // a loop's step
    u32 num_iteration_instructions;
    u32 frame_size;               // filled by register allocation
    void *code_data;              // the statement compiler's record of this scope
};

Scope *_add_a_scope(Scope *parent, u32 flags);
Identifier *get_identifier(Scope *scope, const u8 *name, s64 length);
// Searches only `scope` itself, without walking outwards.
Identifier *get_identifier_in_scope(Scope *scope, const u8 *name, s64 length);
Identifier *get_identifier_with_error(Scope *scope, Token *name, bool outer);
Identifier *add_identifier(Scope *scope, const u8 *name, s64 length, u32 kind, Trace declaration);
Identifier *get_or_add_identifier(Scope *scope, Token *name, u32 kind);
Identifier *add_identifier_with_error(Scope *scope, Token *name, u32 kind);
Scope *get_first_loop_scope_from(Scope *scope);
u32 get_current_lifetime_id(Scope *scope);
inline String identifier_name(const Identifier *id) { return String{(u8 *)id->name, id->name_length}; }

// [SECTION] Compiler state and driver -------------------------------------------------------

enum : u8 { TARGET_BYTECODE = 0, TARGET_AMD64 = 1 };
enum : u8 { TARGET_OS_WINDOWS = 0, TARGET_OS_LINUX = 1, TARGET_OS_MACOS = 2 };

struct Pending_Static_If {
    Token *parts_condition[64];
    Token *parts_block[64];
    u32 num_parts;
    Token *else_block;
    u8 directory[2054];
    u16 directory_length;
};
struct Pending_Insert {
    Token *directive;
    Token *semicolon;
};

struct Compiler_State {
    String root_directory;
    String main_file_path;
    u32 main_directory_length;
    Dynamic_Array loaded_files; // File_Record *

    Memory_Pool scopes_pool;
    Memory_Pool identifiers_pool;
    Memory_Pool tokens_pool;
    Scope *global_scope;
    Scope *last_scope;
    Bucket *scopes_bucket;
    Scope *derived_types_scope; // addresses, arrays and sub-program types
    u64 num_scopes;

    Identifier *type_Type, *type_void, *type_u8, *type_b8, *type_u16, *type_u32, *type_u64;
    Identifier *type_s8, *type_s16, *type_s32, *type_s64, *type_f32, *type_f64, *type_String;
    Identifier *array_struct, *fixed_size_array_struct, *code_type;

    Token *entry_points[3]; // #on_load, #events, #syntax
    Scope *entry_point_scopes[3];

    u8 target_platform;
    u8 target_os;
    u16 address_size;

    Dynamic_Array pending_static_ifs[2]; // Pending_Static_If *
    Dynamic_Array pending_inserts[2];    // Pending_Insert
    u32 generation;

    Dynamic_Array globals; // Identifier *, every global of the user's files in pre-parse order
    bool collect_globals;
    u32 resolution_depth;
    u32 nesting_depth;

    u8 *memory;
    u8 *real_strings;
    u64 real_strings_used;
    u8 *constant_data;
    u64 constant_data_used;
    Dynamic_Array constant_relocations; // Constant_Relocation
    Compiler_Arena arena;
    // Deduplication of string bytes in constant data.
    struct { u64 hash; u64 offset; u64 count; } *string_table;
    u32 string_table_capacity, string_table_count;
};
extern Compiler_State global_compiler_state;

struct Front_End_Options {
    bool check;     // resolve every global of the user's files, in order
    bool use_text;  // compile `text` as the main file instead of reading it
    String text;
};

void init_compiler(String root_directory);
// Runs the driver over `path` as far as the front end reaches: support files,
// pre-parse, the deferred-work loop and, with `check`, every global declaration.
// The state stays readable (for a dump) until free_compiler_state.
bool compile_front_end(String path, Front_End_Options options);
void free_compiler_state();

// [SECTION] Entry points of each part of the front end ----------------------------------------

File_Record *compiler_load_file(String path, Token *requested_by);
File_Record *compiler_add_file_from_memory(String path, String text);
// Folds "." and "name/.." segments out of a path (in the compiler's scratch memory).
String normalise_path(String path);
bool preparse_global_scope(Scope *scope, Token *first, Token *end, String directory);
bool preparse_global_static_if_chain(Scope *scope, Pending_Static_If *chain);
bool preparse_global_insert_directive(Scope *scope, Pending_Insert *insert);
bool resolve_identifier(Identifier *id);
// A declaration statement inside a body: recorded like a global and then
// resolved by the caller; `after` gets the token after its ';'.
Identifier *declare_in_scope(Scope *scope, Token *first, Token *end, Token **after);

bool parse_type(Scope *scope, Identifier **out, Token *first, Token *end);
Identifier *type_to_memory_address_of_type(Identifier *type, u32 depth);
Identifier *get_or_add_array_type_from(Identifier *element, bool fixed, u64 capacity, Token *where);
Identifier *get_sub_program_type(Signature *signature);
bool types_perfectly_match(Identifier *a, Identifier *b);
String type_to_string(Identifier *type);
const char *type_to_c_string(Identifier *type);
bool check_imperfect_types_mix_no_error(Identifier *destination, Identifier *source, String *message);
bool check_imperfect_types_mix(Identifier *destination, Identifier *source, Token *location);
inline bool type_is_address(Identifier *t) { return t && t->pointer_depth > 0; }
Identifier *untyped_literal_type(const Value *v);
Identifier *get_type_of_simple_expression(Scope *scope, Token *first, Token *end);

u64 string_to_s64(String text, bool *ok);
String get_real_string(String text);
bool make_constant_value_from_token(Value *out, Token *token, bool split_sign);
void make_constant_value_from_type(Value *out, Identifier *type);
void make_constant_value_from_integer(Value *out, Identifier *type, u64 bits);
u64 allocate_constant_data(u64 size, u64 alignment);
u64 get_existing_string_constant_data(String bytes);
// Writes a struct or array constant into constant data (once); strings and
// element arrays inside it are reached through relocations.
bool place_constant_in_constant_data(Value *v, Token *where);
bool apply_unary_operation_on_constant(Value *v, u64 op, Token *where);
bool apply_constant_operation(Value *left, u64 op, Value *right, Token *where);
bool cast_value_to_type(Value *v, Identifier *type, Token *where);
bool explicit_cast_value(Value *v, Identifier *type, Token *where);
void make_default_constant_value(Value *out, Identifier *type);
u32 integer_size_for_magnitude(u64 magnitude);
// Gives an untyped literal its default type (u64, s64, f32, String).
void value_set_default_type(Value *v);
String constant_to_string(const Constant *c, Identifier *type);
// A signed number as text ("%lld", or "%'lld" with separators) for messages;
// the magnitude is printed unsigned so that the most negative value is safe.
const char *s64_to_c_string(s64 value, bool separators);

bool parse_assignment_value(Scope *scope, Identifier *expected, Token *first, Token *end, Value *out);
// False, with a report, for a sub-program whose address cannot be taken (polymorphic, inlined).
bool check_sub_program_address(const Value *v, Token *where);
// An implicit cast whose instructions, if any, go into `scope`.
bool cast_value_in_scope(Scope *scope, Value *v, Identifier *type, Token *where);
// The block a static #if chain inside a struct or enum body takes (see declarations.cpp).
Token *choose_static_if_block(Scope *scope, Token *t, Token *end, Token **chosen);
bool parse_simple_statement(Scope *scope, Token *first, Token *end, Identifier *expected, Value *out);
bool parse_struct_literal(Scope *scope, Identifier *type, Token *open, Value *out);
// A call: `callee` is the value before '(' (a sub-program constant or an address).
bool parse_call(Scope *scope, Value *callee, Token *open, Value *out);
// Reports a call that returns nothing where a value is needed.
bool check_value_has_result(const Value *v, Token *where);
Scope *current_expression_scope();
// Sets the scope conversions of run-time values emit into; returns the previous one.
Scope *set_expression_scope(Scope *scope);
bool parse_array_literal(Scope *scope, Identifier *type, Token *open, Value *out);

bool handle_declaration_assignment(Scope *scope, Identifier *id, Identifier *type, Token *equal, Token *end);
bool parse_struct_declaration(Scope *scope, Identifier *id);
bool parse_enum_declaration(Scope *scope, Identifier *id, Token *directive, bool flags_mode);
bool parse_sub_program_declaration(Scope *scope, Identifier *id);
bool parse_sub_program_signature(Scope *scope, Token *open, Token *end, Signature **out, bool *polymorphic,
                                 Token **after);
Identifier *make_struct_from_polymorphic(Scope *scope, Identifier *poly, Token *open);
Identifier *make_struct_from_polymorphic_using_arguments(Identifier *poly, Constant *arguments, Token *where);

// Depth guard against pathological nesting (deep type chains, long
// dependency chains between globals): reports and fails past the limit.
bool compiler_enter_nesting(Token *where);
inline void compiler_leave_nesting() { global_compiler_state.nesting_depth--; }
constexpr u32 MAX_NESTING_DEPTH = 2000;
