// Update data made in memory for the update tests: every file gets `mode`.
#pragma once
#include "core/memory.h"
#include "updater/update_format.h"
#include <string>
#include <utility>
#include <vector>

inline std::string make_update(const std::vector<std::pair<std::string, std::string>> &files, u32 mode = 0755) {
    std::vector<Update_Entry> entries;
    for (auto &f : files) {
        entries.push_back(Update_Entry{String{(u8 *)f.first.data(), (s64)f.first.size()}, mode,
                                       String{(u8 *)f.second.data(), (s64)f.second.size()}});
    }
    Dynamic_Array out;
    dynamic_array_init(&out, 1);
    update_data_make(entries.data(), (u32)entries.size(), &out);
    std::string bytes((const char *)out.data, out.count);
    dynamic_array_free(&out);
    return bytes;
}
