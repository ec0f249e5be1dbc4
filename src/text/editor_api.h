// The editor API: the 96 foreign routines through which the custom layer
// drives the editor. Generated code calls handle_foreign_call with the
// address of an argument block laid out from runtime/api.8's declaration of
// the routine (parameters in order, each at its natural alignment, then the
// result) and the routine's id; results are written back into the block.
//
//   [SECTION] Routine table and dispatch   (editor_api.cpp)
//   [SECTION] Argument blocks               (here; offsets checked against api.8 by the tests)
//   [SECTION] Layout tables                 (editor_api_layouts.cpp)
//   Bodies by family: editor_api_movement.cpp, editor_api_editing.cpp,
//   editor_api_selection.cpp, editor_api_text.cpp, editor_api_editor.cpp
#pragma once
#include "core/base.h"
#include "text/editor_api_types.h"
#include "text/tokeniser.h"

// [SECTION] Routine table and dispatch

constexpr u32 NUM_FOREIGN_ROUTINES = 96;

struct Foreign_Routine {
    const char *name;
    u64 name_length;
    u64 hash; // low 64 bits of the Meow hash of the name
    u16 id;   // 1..96
};
extern Foreign_Routine foreign_routines[NUM_FOREIGN_ROUTINES];
// Called after every routine while set. The shell sets it around #events so
// that a tab a routine asked for exists before the layer's next call: a key
// typed right after Ctrl+N in the same frame lands in the new file.
extern void (*api_after_routine_hook)();

// Fills the hashes; the compiler finds an #import by the hash of its name.
void setup_foreign_routines_table();
// The id of a routine name; 0 when there is none.
u16 foreign_routine_id(String name);

// Generated code's way into the editor. An id outside 1..96 does nothing.
void handle_foreign_call(u8 *block, u64 id);

// Smallest font size set_font_size and set_settings store.
constexpr f32 API_MIN_FONT_SIZE = 13.5f;

// [SECTION] Argument blocks
// One record per block shape; several routines share a shape.

struct Api_U8_Block { u8 value; };              // skip_text, swap_lines, delete_line, change_selection_case
struct Api_Two_U8_Block { u8 a, b; };           // insert_new_line, copy_selection_to_clipboard, paste_from_clipboard
struct Api_U32_Block { u32 value; };            // insert_character, set_current_tab
struct Api_U64_Block { u64 value; };            // set_selection_anchor_offset
struct Api_S64_Block { s64 value; };            // set_cursor_offset
struct Api_F32_Block { f32 value; };            // set_font_size
struct Api_String_Block { String text; };       // insert_text, run_terminal_command, log
struct Api_Insert_Text_At_Block { String text; u64 offset; };
struct Api_Delete_At_Block { u64 offset; u64 count; };
struct Api_Get_Text_At_Block { u64 offset; u32 length; String result; };
struct Api_Offset_To_Offset_Block { u64 offset; u64 result; }; // get_line_start, get_line_end
struct Api_Token_Block { u64 offset; Editor_Token *token; s64 result; };
struct Api_Set_Text_Colour_Block { u64 offset; u32 length; Colour colour; };
struct Api_Codepoint_Block { u64 offset; u32 result; };
struct Api_Int_To_String_Block { s64 value; String result; };
struct Api_Settings_Block { Api_Settings settings; };
// Results alone.
struct Api_U8_Result_Block { u8 result; };
struct Api_U32_Result_Block { u32 result; };
struct Api_U64_Result_Block { u64 result; };
struct Api_F32_Result_Block { f32 result; };
struct Api_String_Result_Block { String result; };
struct Api_Events_Block { Api_Array<Custom_Layer_Event> result; };
// api.8's Syntax_Highlighting_Info: the literal state reaches custom.8 as a byte,
// the quote bit shifted right by 7 (1 '"', 2 the apostrophe, 4 the back-tick).
struct Api_Syntax_Highlighting_Info {
    u64 start;
    u64 end;
    u32 block_comment_depth;
    u8 literal_state;
};
struct Api_Syntax_Info_Block { Api_Syntax_Highlighting_Info result; };

// [SECTION] Layout tables

struct Api_Field {
    u16 offset;
    u16 size;
};
// Where a routine reads its parameters and writes its result.
struct Api_Block_Layout {
    u16 id;
    u8 num_parameters;
    u8 has_result;
    Api_Field parameters[3];
    Api_Field result;
};
// Routines with a block, in id order; the others read and write nothing.
extern const Api_Block_Layout api_block_layouts[];
extern const u32 num_api_block_layouts;
const Api_Block_Layout *api_block_layout(u16 id); // null: no block

// A member of a record api.8 declares, as the editor reads or writes it.
struct Api_Member {
    const char *type_name; // api.8's name of the record
    const char *member;    // null: the record's own size
    u16 offset;
    u16 size;
};
extern const Api_Member api_members[];
extern const u32 num_api_members;
