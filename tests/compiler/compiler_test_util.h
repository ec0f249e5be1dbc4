// Runs small programs through the same front-end path as tarnoc.
#pragma once
#include <string>

struct Compile_Result {
    bool ok;
    std::string errors; // exactly what tarnoc prints on stderr
    std::string dump;   // --dump-globals output, when ok
};

// Compiles `text` as the main file (named PATH, default /virtual/main.8) with --check.
Compile_Result compile_text(const std::string &text, const std::string &path = "/virtual/main.8");
// Compiles the file at `path` with --check, reading it and what it loads from disk.
Compile_Result compile_file(const std::string &path, const std::string &root = "");

// Compiles `text` like compile_text but keeps the compiler state alive (tokens,
// scopes, identifiers) for inspection until the next compilation of any kind.
Compile_Result compile_text_keep(const std::string &text);
struct Identifier;
// A global of the kept compilation, or null.
Identifier *kept_global(const char *name);
// The type denoted by a kept global constant of type Type ('$T := #type(...);').
Identifier *kept_type(const char *name);
