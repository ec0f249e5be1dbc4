// Where each routine reads and writes its block, and how the records it
// exchanges are laid out: the tests hold these against what the compiler
// makes of api.8, so the two cannot drift apart.
#include "text/editor_api.h"
#include <stddef.h>

#define FIELD(Block, member) {(u16)offsetof(Block, member), (u16)sizeof(((Block *)0)->member)}
#define NONE {0, 0}

// {id, parameters, has result, parameter fields, result field}
const Api_Block_Layout api_block_layouts[] = {
    {14, 1, 0, {FIELD(Api_U8_Block, value)}, NONE},                         // skip_text
    {16, 1, 0, {FIELD(Api_String_Block, text)}, NONE},                      // insert_text
    {17, 2, 0, {FIELD(Api_Insert_Text_At_Block, text), FIELD(Api_Insert_Text_At_Block, offset)}, NONE},
    {18, 1, 0, {FIELD(Api_U32_Block, value)}, NONE},                        // insert_character
    {19, 2, 0, {FIELD(Api_Two_U8_Block, a), FIELD(Api_Two_U8_Block, b)}, NONE}, // insert_new_line
    {20, 2, 0, {FIELD(Api_Delete_At_Block, offset), FIELD(Api_Delete_At_Block, count)}, NONE},
    {26, 1, 0, {FIELD(Api_U8_Block, value)}, NONE},                         // swap_lines
    {28, 1, 0, {FIELD(Api_U8_Block, value)}, NONE},                         // delete_line
    {32, 1, 0, {FIELD(Api_U8_Block, value)}, NONE},                         // change_selection_case
    {33, 2, 0, {FIELD(Api_Two_U8_Block, a), FIELD(Api_Two_U8_Block, b)}, NONE}, // copy_selection_to_clipboard
    {35, 2, 0, {FIELD(Api_Two_U8_Block, a), FIELD(Api_Two_U8_Block, b)}, NONE}, // paste_from_clipboard
    {41, 0, 1, {}, FIELD(Api_U8_Result_Block, result)},                     // check_if_selection_is_active
    {43, 2, 1, {FIELD(Api_Get_Text_At_Block, offset), FIELD(Api_Get_Text_At_Block, length)}, FIELD(Api_Get_Text_At_Block, result)},
    {45, 1, 0, {FIELD(Api_Settings_Block, settings)}, NONE},                // set_settings
    {46, 0, 1, {}, FIELD(Api_String_Result_Block, result)},                 // get_current_directory_path
    {47, 0, 1, {}, FIELD(Api_String_Result_Block, result)},                 // get_file_extension
    {48, 0, 1, {}, FIELD(Api_Events_Block, result)},                        // get_events
    {49, 0, 1, {}, FIELD(Api_U8_Result_Block, result)},                     // get_context
    {50, 0, 1, {}, FIELD(Api_F32_Result_Block, result)},                    // get_font_size
    {51, 1, 0, {FIELD(Api_F32_Block, value)}, NONE},                        // set_font_size
    {52, 0, 1, {}, FIELD(Api_U8_Result_Block, result)},                     // get_current_tab_type
    {53, 1, 1, {FIELD(Api_Offset_To_Offset_Block, offset)}, FIELD(Api_Offset_To_Offset_Block, result)},
    {54, 1, 1, {FIELD(Api_Offset_To_Offset_Block, offset)}, FIELD(Api_Offset_To_Offset_Block, result)},
    {55, 1, 0, {FIELD(Api_U32_Block, value)}, NONE},                        // set_current_tab
    {56, 0, 1, {}, FIELD(Api_U32_Result_Block, result)},                    // get_current_tab_index
    {57, 0, 1, {}, FIELD(Api_U32_Result_Block, result)},                    // get_num_tabs
    {58, 0, 1, {}, FIELD(Api_Syntax_Info_Block, result)},                   // get_syntax_highlighting_info
    {59, 2, 1, {FIELD(Api_Token_Block, offset), FIELD(Api_Token_Block, token)}, FIELD(Api_Token_Block, result)},
    {60, 2, 1, {FIELD(Api_Token_Block, offset), FIELD(Api_Token_Block, token)}, FIELD(Api_Token_Block, result)},
    {61, 3, 0, {FIELD(Api_Set_Text_Colour_Block, offset), FIELD(Api_Set_Text_Colour_Block, length), FIELD(Api_Set_Text_Colour_Block, colour)}, NONE},
    {62, 1, 0, {FIELD(Api_S64_Block, value)}, NONE},                        // set_cursor_offset
    {63, 1, 0, {FIELD(Api_U64_Block, value)}, NONE},                        // set_selection_anchor_offset
    {64, 0, 1, {}, FIELD(Api_U64_Result_Block, result)},                    // get_cursor_offset
    {65, 0, 1, {}, FIELD(Api_U64_Result_Block, result)},                    // get_selection_start_offset
    {66, 0, 1, {}, FIELD(Api_U64_Result_Block, result)},                    // get_selection_end_offset
    {67, 2, 1, {FIELD(Api_Token_Block, offset), FIELD(Api_Token_Block, token)}, FIELD(Api_Token_Block, result)},
    {68, 1, 1, {FIELD(Api_Codepoint_Block, offset)}, FIELD(Api_Codepoint_Block, result)},
    {69, 0, 1, {}, FIELD(Api_String_Result_Block, result)},                 // get_tab_text
    {70, 0, 1, {}, FIELD(Api_String_Result_Block, result)},                 // get_single_line_comment_from_tokenisation_hints
    {80, 1, 0, {FIELD(Api_String_Block, text)}, NONE},                      // run_terminal_command
    {95, 1, 0, {FIELD(Api_String_Block, text)}, NONE},                      // log
    {96, 1, 1, {FIELD(Api_Int_To_String_Block, value)}, FIELD(Api_Int_To_String_Block, result)},
};
const u32 num_api_block_layouts = sizeof(api_block_layouts) / sizeof(api_block_layouts[0]);

const Api_Block_Layout *api_block_layout(u16 id) {
    for (u32 i = 0; i < num_api_block_layouts; i++)
        if (api_block_layouts[i].id == id) return &api_block_layouts[i];
    return nullptr;
}

#define MEMBER(name, Type, member) {name, #member, (u16)offsetof(Type, member), (u16)sizeof(((Type *)0)->member)}
#define RECORD(name, Type) {name, nullptr, 0, (u16)sizeof(Type)}

const Api_Member api_members[] = {
    RECORD("Editor_Token", Editor_Token),
    MEMBER("Editor_Token", Editor_Token, offset),
    MEMBER("Editor_Token", Editor_Token, length),
    MEMBER("Editor_Token", Editor_Token, type),
    RECORD("Custom_Layer_Event", Custom_Layer_Event),
    MEMBER("Custom_Layer_Event", Custom_Layer_Event, kind),
    MEMBER("Custom_Layer_Event", Custom_Layer_Event, code),
    MEMBER("Custom_Layer_Event", Custom_Layer_Event, modifiers),
    RECORD("Colour", Colour),
    MEMBER("Colour", Colour, r),
    MEMBER("Colour", Colour, g),
    MEMBER("Colour", Colour, b),
    MEMBER("Colour", Colour, a),
    RECORD("Syntax_Highlighting_Info", Api_Syntax_Highlighting_Info),
    MEMBER("Syntax_Highlighting_Info", Api_Syntax_Highlighting_Info, start),
    MEMBER("Syntax_Highlighting_Info", Api_Syntax_Highlighting_Info, end),
    MEMBER("Syntax_Highlighting_Info", Api_Syntax_Highlighting_Info, block_comment_depth),
    MEMBER("Syntax_Highlighting_Info", Api_Syntax_Highlighting_Info, literal_state),
    RECORD("UI_Theme", Api_UI_Theme),
    MEMBER("UI_Theme", Api_UI_Theme, top_bar),
    MEMBER("UI_Theme", Api_UI_Theme, inactive_tab),
    MEMBER("UI_Theme", Api_UI_Theme, text),
    MEMBER("UI_Theme", Api_UI_Theme, background),
    MEMBER("UI_Theme", Api_UI_Theme, highlight),
    MEMBER("UI_Theme", Api_UI_Theme, faded_text),
    MEMBER("UI_Theme", Api_UI_Theme, error),
    MEMBER("UI_Theme", Api_UI_Theme, cursor),
    MEMBER("UI_Theme", Api_UI_Theme, shadow),
    MEMBER("UI_Theme", Api_UI_Theme, roundness),
    RECORD("Text_Theme", Api_Text_Theme),
    MEMBER("Text_Theme", Api_Text_Theme, background),
    MEMBER("Text_Theme", Api_Text_Theme, text),
    MEMBER("Text_Theme", Api_Text_Theme, selection),
    MEMBER("Text_Theme", Api_Text_Theme, line_numbers),
    MEMBER("Text_Theme", Api_Text_Theme, current_line),
    MEMBER("Text_Theme", Api_Text_Theme, cursor),
    RECORD("Font_Entry", Api_Font_Entry),
    MEMBER("Font_Entry", Api_Font_Entry, font),
    MEMBER("Font_Entry", Api_Font_Entry, first),
    MEMBER("Font_Entry", Api_Font_Entry, last),
    RECORD("Tokenisation_Hint", Api_Tokenisation_Hint),
    MEMBER("Tokenisation_Hint", Api_Tokenisation_Hint, extensions),
    MEMBER("Tokenisation_Hint", Api_Tokenisation_Hint, single_line_comment),
    MEMBER("Tokenisation_Hint", Api_Tokenisation_Hint, block_comment_start),
    MEMBER("Tokenisation_Hint", Api_Tokenisation_Hint, block_comment_end),
    MEMBER("Tokenisation_Hint", Api_Tokenisation_Hint, flags),
    RECORD("Settings", Api_Settings),
    MEMBER("Settings", Api_Settings, ui_theme),
    MEMBER("Settings", Api_Settings, text_theme),
    MEMBER("Settings", Api_Settings, display_flags),
    MEMBER("Settings", Api_Settings, spaces_per_tab),
    MEMBER("Settings", Api_Settings, font_size),
    MEMBER("Settings", Api_Settings, ui_fonts),
    MEMBER("Settings", Api_Settings, code_fonts),
    MEMBER("Settings", Api_Settings, tokenisation_hints),
    MEMBER("Settings", Api_Settings, blacklisted_extensions),
    MEMBER("Settings", Api_Settings, syntax_file),
};
const u32 num_api_members = sizeof(api_members) / sizeof(api_members[0]);
