#include "compiler_test_util.h"
#include "compiler/front/compiler.h"
#include "compiler/front/dump.h"

static void ensure_compiler(const std::string &root) {
    static std::string current;
    static bool initialised = false;
    std::string wanted = root.empty() ? std::string(TARNO_SOURCE_DIR "/runtime") : root;
    if (!initialised) {
        init_compiler(String{(u8 *)strdup(wanted.c_str()), (s64)wanted.size()});
        initialised = true;
        current = wanted;
    } else if (wanted != current) {
        global_compiler_state.root_directory = String{(u8 *)strdup(wanted.c_str()), (s64)wanted.size()};
        current = wanted;
    }
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
