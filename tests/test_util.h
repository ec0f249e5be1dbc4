// Helpers shared by the tests: temporary directories and whole-file I/O.
#pragma once
#include <string>

// A fresh directory under /tmp, removed (recursively) when the object dies.
struct Temp_Dir {
    std::string path;
    Temp_Dir();
    ~Temp_Dir();
    std::string file(const std::string &name) const { return path + "/" + name; }
};

bool write_whole_file(const std::string &path, const std::string &bytes);
bool read_whole_file(const std::string &path, std::string *out);
// Runs a shell command, returns its exit status (-1 when it could not run).
int run_command(const std::string &command, std::string *output = nullptr);
