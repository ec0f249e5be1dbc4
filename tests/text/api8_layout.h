// What the compiler makes of runtime/api.8, as plain data: kept apart from
// the editor's headers, whose token names the compiler's own share.
#pragma once
#include <string>
#include <vector>
#include "core/base.h"

struct Api8_Field {
    u32 offset;
    u32 size;
};
struct Api8_Routine {
    std::string name;
    u64 hash;
    std::vector<Api8_Field> parameters;
    bool has_result;
    Api8_Field result;
};
struct Api8_Member {
    std::string name;
    Api8_Field field;
};
struct Api8_Record {
    std::string name;
    u32 size;
    std::vector<Api8_Member> members;
};
struct Api8 {
    bool ok;
    std::string errors;
    std::vector<Api8_Routine> routines; // foreign sub-programs, in declaration order
    std::vector<Api8_Record> records;   // the structs it declares
};

// Compiles api.8 as tarnoc --check does and reads its declarations.
Api8 read_api8();
const Api8_Record *api8_record(const Api8 &api, const std::string &name);
