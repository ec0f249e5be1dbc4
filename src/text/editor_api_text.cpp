// Text and tokens of the target file (ids 43, 46, 47, 53, 54, 58 to 61 and
// 67 to 70), the log and number formatting (95, 96).
#include "text/editor_api_internal.h"
#include "text/colouring.h"
#include "text/lines.h"
#include "text/tokeniser.h"
#include "core/log.h"
#include "core/strings.h"

void api_get_text_at(u8 *block) {
    Api_Get_Text_At_Block *b = (Api_Get_Text_At_Block *)block;
    File *file = api_target_file();
    if (!file) return;
    u8 *copy = editor_get_text_at(file, b->offset, b->length);
    b->result = copy ? String{copy, (s64)b->length} : String{nullptr, 0};
}

void api_get_current_directory_path(u8 *block) {
    const Filepath *directory = text_hooks.current_tab_directory();
    ((Api_String_Result_Block *)block)->result = filepath_to_string(directory ? directory : &editor_working_directory);
}

void api_get_file_extension(u8 *block) {
    File *file = api_target_file();
    if (!file) return;
    String name = file->name;
    s64 dot = name.count - 1;
    while (dot >= 0 && name.data[dot] != '.') dot--;
    ((Api_String_Result_Block *)block)->result = dot < 0 ? String{nullptr, 0} : String{name.data + dot + 1, name.count - dot - 1};
}

void api_get_line_start(u8 *block) {
    Api_Offset_To_Offset_Block *b = (Api_Offset_To_Offset_Block *)block;
    File *file = api_target_file();
    if (!file) return;
    b->result = get_line_start(file_text(file), b->offset > file_length(file) ? file_length(file) : b->offset);
}

void api_get_line_end(u8 *block) {
    Api_Offset_To_Offset_Block *b = (Api_Offset_To_Offset_Block *)block;
    File *file = api_target_file();
    if (!file) return;
    u64 length = file_length(file);
    b->result = get_line_end(file_text(file), length, b->offset > length ? length : b->offset);
}

void api_get_syntax_highlighting_info(u8 *block) {
    Api_Syntax_Highlighting_Info *info = &((Api_Syntax_Info_Block *)block)->result;
    File *file = api_target_file();
    if (!file) return;
    editor_get_syntax_highlighting_info(file, &info->start, &info->end, &info->block_comment_depth, &info->literal_state);
    // The quote bits (128, 256, 512) do not fit the byte api.8 gives them:
    // they reach the layer shifted down to 1, 2 and 4.
    info->literal_state = (u8)(file->syntax_info.literal_state >> 7);
}

// The three token routines share their block: the token goes where the
// pointer says, the offset (or -1) into the block.
static void put_token(u8 *block, s64 (*find)(File *, u64, Editor_Token *)) {
    Api_Token_Block *b = (Api_Token_Block *)block;
    File *file = api_target_file();
    if (!file) return;
    Editor_Token token = {0, 0, TOKEN_NONE, 0};
    s64 result = find(file, b->offset, &token);
    if (b->token) {
        b->token->offset = token.offset;
        b->token->length = token.length;
        b->token->type = token.type;
    }
    b->result = result;
}
void api_get_next_token(u8 *block) { put_token(block, editor_get_next_token); }
void api_get_previous_token(u8 *block) { put_token(block, editor_get_previous_token); }
void api_get_token_at_offset(u8 *block) { put_token(block, editor_get_token_at_offset); }

void api_set_text_colour(u8 *block) {
    Api_Set_Text_Colour_Block *b = (Api_Set_Text_Colour_Block *)block;
    File *file = api_target_file();
    if (file) editor_set_text_colour(file, b->offset, b->length, b->colour);
}

void api_get_codepoint_at_offset(u8 *block) {
    Api_Codepoint_Block *b = (Api_Codepoint_Block *)block;
    File *file = api_target_file();
    if (!file) return;
    u64 length = file_length(file);
    if (b->offset >= length) {
        b->result = 0;
        return;
    }
    const u8 *p = file_text(file) + b->offset;
    u32 size = api_utf8_size(p[0]);
    if (size > length - b->offset) size = 1; // a sequence cut off by the end of the text
    b->result = size == 1 ? p[0] : utf8_known_size_to_utf32_codepoint(p, size);
}

void api_get_tab_text(u8 *block) { ((Api_String_Result_Block *)block)->result = dynamic_array_as_string(&global_tab_character); }

void api_get_single_line_comment_from_tokenisation_hints(u8 *block) {
    File *file = api_target_file();
    if (!file) return;
    const Tokenisation_Hint *hint = file_tokenisation_hint(file);
    ((Api_String_Result_Block *)block)->result = hint ? hint->single_line_comment : String{nullptr, 0};
}

void api_log(u8 *block) {
    String text = ((Api_String_Block *)block)->text;
    if (!api_string_is_usable(text)) return;
    add_log(nullptr, LOG_INFO, "%.*s", (int)(text.count > MAX_LOG_ENTRY ? MAX_LOG_ENTRY : text.count), (const char *)text.data);
}

void api_int_to_string(u8 *block) {
    Api_Int_To_String_Block *b = (Api_Int_To_String_Block *)block;
    b->result = tstring_grouped(b->value);
}
