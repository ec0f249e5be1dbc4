#include "test_util.h"
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

Temp_Dir::Temp_Dir() {
    char name[] = "/tmp/tarno-test-XXXXXX";
    if (mkdtemp(name)) path = name;
}

Temp_Dir::~Temp_Dir() {
    if (!path.empty()) run_command("rm -rf '" + path + "'");
}

bool write_whole_file(const std::string &path, const std::string &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool read_whole_file(const std::string &path, std::string *out) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->append(buffer, n);
    fclose(f);
    return true;
}

int run_command(const std::string &command, std::string *output) {
    FILE *p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) text.append(buffer, n);
    if (output) *output = text;
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
