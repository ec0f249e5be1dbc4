#include "compiler_test_util.h"
#include "compiler/front/compiler.h"
#include "compiler/front/dump.h"

// The compiler keeps a view of its root directory, so the text lives here.
static void ensure_compiler(const std::string &root) {
    static std::string current;
    static bool initialised = false;
    std::string wanted = root.empty() ? std::string(TARNO_SOURCE_DIR "/runtime") : root;
    if (initialised && wanted == current) return;
    current = wanted;
    String view = {(u8 *)current.data(), (s64)current.size()};
    if (!initialised) init_compiler(view);
    else global_compiler_state.root_directory = view;
    initialised = true;
}

// A kept compilation is released when the next one starts.
static bool state_kept = false;
static void release_kept() {
    if (state_kept) free_compiler_state();
    state_kept = false;
}

static Compile_Result finish(bool ok, bool keep = false) {
    Compile_Result r;
    r.ok = ok;
    String e = format_compile_errors();
    r.errors.assign((const char *)e.data, (size_t)e.count);
    if (ok) {
        String d = dump_globals();
        r.dump.assign((const char *)d.data, (size_t)d.count);
    }
    if (keep) state_kept = true;
    else free_compiler_state();
    return r;
}

static Compile_Result compile_text_with(const std::string &text, const std::string &path, bool keep) {
    release_kept();
    ensure_compiler("");
    Front_End_Options options = {};
    options.check = true;
    options.use_text = true;
    options.text = String{(u8 *)text.data(), (s64)text.size()};
    return finish(compile_front_end(String{(u8 *)path.data(), (s64)path.size()}, options), keep);
}

Compile_Result compile_text(const std::string &text, const std::string &path) {
    return compile_text_with(text, path, false);
}

Compile_Result compile_file(const std::string &path, const std::string &root) {
    release_kept();
    ensure_compiler(root);
    Front_End_Options options = {};
    options.check = true;
    Compile_Result r = finish(compile_front_end(String{(u8 *)path.data(), (s64)path.size()}, options));
    ensure_compiler("");
    return r;
}

Compile_Result compile_text_keep(const std::string &text) {
    return compile_text_with(text, "/virtual/main.8", true);
}

Identifier *kept_global(const char *name) {
    if (!state_kept || !global_compiler_state.global_scope) return nullptr;
    return get_identifier(global_compiler_state.global_scope, (const u8 *)name, (s64)strlen(name));
}

Identifier *kept_type(const char *name) {
    Identifier *id = kept_global(name);
    if (!id || id->constant.kind != CONSTANT_TYPE) return nullptr;
    return id->constant.type_value;
}
