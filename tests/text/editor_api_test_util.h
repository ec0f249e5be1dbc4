// Calling the editor API the way generated code does: a routine id and the
// address of its argument block.
#pragma once
#include "text_test_util.h"
#include "text/editor_api.h"

struct Api_Test : Text_Test {
    void SetUp() override {
        Text_Test::SetUp();
        setup_foreign_routines_table();
    }
};

inline void api_call(const char *name, void *block = nullptr) {
    u16 id = foreign_routine_id(S(name));
    if (id == 0) ADD_FAILURE() << "no routine " << name;
    handle_foreign_call((u8 *)block, id);
}

inline void api_call_string(const char *name, const std::string &text) {
    Api_String_Block b = {String{(u8 *)text.data(), (s64)text.size()}};
    api_call(name, &b);
}
inline void api_call_u8(const char *name, u8 value) {
    Api_U8_Block b = {value};
    api_call(name, &b);
}
inline u64 api_result_u64(const char *name) {
    Api_U64_Result_Block b = {~0ull};
    api_call(name, &b);
    return b.result;
}
inline void api_set_cursor(s64 offset) {
    Api_S64_Block b = {offset};
    api_call("set_cursor_offset", &b);
}
