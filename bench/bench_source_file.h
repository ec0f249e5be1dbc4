// A generated source-like file of a given size, for the text benchmarks.
#pragma once
#include "core/base.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

// Source-like lines of varied length, mostly LF with some CR LF.
inline void bench_generate_source_file(const std::string &path, size_t target) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "cannot write %s\n", path.c_str());
        exit(1);
    }
    const char *lines[] = {
        "    if (value_count > 10) { result += compute(value_count, 0x1F); }",
        "// a comment line with some words in it and a \"string\"",
        "",
        "int main(int argc, char **argv) {",
        "    return total_size * 1.5e3 - offset_of_line[i];",
        "\t\tx = y->next; /* note */ z = \"\xC3\xA9t\xC3\xA9\";",
        "}",
    };
    size_t written = 0;
    unsigned state = 1;
    while (written < target) {
        state = state * 1103515245u + 12345u;
        const char *line = lines[(state >> 16) % (sizeof(lines) / sizeof(lines[0]))];
        const char *ending = ((state >> 8) & 15) == 0 ? "\r\n" : "\n";
        written += fwrite(line, 1, strlen(line), f);
        written += fwrite(ending, 1, strlen(ending), f);
    }
    fclose(f);
}
