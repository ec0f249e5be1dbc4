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

static Compile_Result finish(bool ok) {
    Compile_Result r;
    r.ok = ok;
    String e = format_compile_errors();
    r.errors.assign((const char *)e.data, (size_t)e.count);
    if (ok) {
        String d = dump_globals();
        r.dump.assign((const char *)d.data, (size_t)d.count);
    }
    free_compiler_state();
    return r;
}

Compile_Result compile_text(const std::string &text, const std::string &path) {
    ensure_compiler("");
    Front_End_Options options = {};
    options.check = true;
    options.use_text = true;
    options.text = String{(u8 *)text.data(), (s64)text.size()};
    return finish(compile_front_end(String{(u8 *)path.data(), (s64)path.size()}, options));
}

Compile_Result compile_file(const std::string &path, const std::string &root) {
    ensure_compiler(root);
    Front_End_Options options = {};
    options.check = true;
    Compile_Result r = finish(compile_front_end(String{(u8 *)path.data(), (s64)path.size()}, options));
    ensure_compiler("");
    return r;
}
