// tarnoc: the compiler's command-line driver. Runs the same compiler the
// editor runs and prints its reports the way the compile-errors tab reads.
#include "compiler/back/bytecode_program.h"
#include "compiler/back/listing.h"
#include "compiler/back/statements.h"
#include "compiler/front/compiler.h"
#include "compiler/front/diagnostics.h"
#include "compiler/front/dump.h"
#include "core/memory.h"
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static const char USAGE[] =
    "usage: tarnoc [--root DIR] [--check] [--dump-globals] [--listing FILE] MAIN.8\n"
    "  --root DIR       directory holding inject.8 and api.8 (default: the directory of tarnoc)\n"
    "  --check          only resolve every global declaration of MAIN.8 and the files it loads\n"
    "  --dump-globals   with --check: print every global declaration\n"
    "  --listing FILE   write the bytecode listing, source lines interleaved, to FILE\n"
    "Without --check the whole program is compiled to bytecode.\n";

static int usage(const char *problem) {
    if (problem) fprintf(stderr, "tarnoc: %s\n", problem);
    fputs(USAGE, stderr);
    return 2;
}

static String executable_directory() {
    static char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return S(".");
    buffer[n] = 0;
    char *slash = strrchr(buffer, '/');
    if (!slash) return S(".");
    *slash = 0;
    return S(buffer);
}

int main(int argc, char **argv) {
    const char *root = nullptr;
    const char *main_file = nullptr;
    const char *listing = nullptr;
    bool check = false, dump = false;
    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        if (strcmp(a, "--root") == 0) {
            if (i + 1 >= argc) return usage("--root needs a directory");
            root = argv[++i];
        } else if (strcmp(a, "--listing") == 0) {
            if (i + 1 >= argc) return usage("--listing needs a file");
            listing = argv[++i];
        } else if (strcmp(a, "--check") == 0) {
            check = true;
        } else if (strcmp(a, "--dump-globals") == 0) {
            dump = true;
        } else if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            return usage(nullptr);
        } else if (a[0] == '-' && a[1] != 0) {
            fprintf(stderr, "tarnoc: unknown option '%s'\n", a);
            return usage(nullptr);
        } else if (main_file) {
            return usage("only one main file can be given");
        } else {
            main_file = a;
        }
    }
    if (!main_file) return usage("no main file given");
    if (dump && !check) return usage("--dump-globals needs --check");
    if (listing && check) return usage("--listing needs the bytecode, which --check does not make");

    init_memory();
    init_compiler(root ? S(root) : executable_directory());
    Front_End_Options options = {};
    options.check = check;
    bool ok;
    Bytecode_Program program = {};
    if (check) ok = compile_program(S(main_file), options);
    else ok = compile_to_bytecode(S(main_file), options, &program);
    String errors = format_compile_errors();
    fwrite(errors.data, 1, (size_t)errors.count, stderr);
    if (ok && dump) {
        String globals = dump_globals();
        fwrite(globals.data, 1, (size_t)globals.count, stdout);
    }
    if (ok && listing && !log_bc_instructions(S(listing), program.instructions, program.count)) {
        fprintf(stderr, "tarnoc: cannot write the listing to '%s'\n", listing);
        ok = false;
    }
    free_program_state();
    free_compiler_state();
    return ok ? 0 : 1;
}
