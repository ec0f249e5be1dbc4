// The records the custom layer hands to the editor and gets back, laid out
// exactly as runtime/api.8 declares them (the editor API tests compare every
// offset with what the compiler computes from api.8).
#pragma once
#include "core/base.h"
#include "text/colouring.h"

// '[] T' in the extension language: {data; count; allocated}.
template <typename T>
struct Api_Array {
    T *data;
    s64 count;
    s64 allocated;
};
static_assert(sizeof(Api_Array<u8>) == 24);

// One keyboard or mouse event of the frame (12 bytes).
enum Custom_Layer_Event_Kind : u32 {
    CUSTOM_LAYER_EVENT_CHARACTER = 1,
    CUSTOM_LAYER_EVENT_KEY_PRESSED = 2, // pressed or repeated
    CUSTOM_LAYER_EVENT_KEY_RELEASED = 4,
    CUSTOM_LAYER_EVENT_LEFT_PRESS = 8,
};
enum Custom_Layer_Modifiers : u8 {
    CUSTOM_LAYER_CONTROL = 1,
    CUSTOM_LAYER_ALT = 2,
    CUSTOM_LAYER_SHIFT = 4,
};
struct Custom_Layer_Event {
    u32 kind;
    u32 code;     // code point, key code, or 0
    u8 modifiers; // Custom_Layer_Modifiers
    u8 pad[3];
};
static_assert(sizeof(Custom_Layer_Event) == 12);

struct Api_UI_Theme {
    Colour top_bar;
    Colour inactive_tab;
    Colour text;
    Colour background;
    Colour highlight;
    Colour faded_text;
    Colour error;
    Colour cursor;
    Colour shadow;
    f32 roundness;
};
static_assert(sizeof(Api_UI_Theme) == 148);

struct Api_Text_Theme {
    Colour background;
    Colour text;
    Colour selection;
    Colour line_numbers;
    Colour current_line;
    Colour cursor;
};
static_assert(sizeof(Api_Text_Theme) == 96);

// A font file of the assets archive serving code points [first, last].
struct Api_Font_Entry {
    String font;
    u32 first;
    u32 last;
};

struct Api_Tokenisation_Hint {
    Api_Array<String> extensions;
    String single_line_comment;
    String block_comment_start;
    String block_comment_end;
    u16 flags; // TOKEN_DOUBLE_QUOTE / SINGLE_QUOTE / BACK_QUOTE delimit literals
};

// Display switches of the settings.
enum Api_Display_Flags : u8 {
    DISPLAY_LINE_NUMBERS = 1,
    DISPLAY_CURRENT_LINE = 2, // highlight the cursor's line
    DISPLAY_WHITESPACE = 4,   // show spaces and tabs
};

// Which syntax file custom.8 loads ("syntax.8" next to it).
enum Api_Syntax_File : u8 {
    SYNTAX_FILE_KEEP = 0,   // leave the files as they are
    SYNTAX_FILE_LATEST = 1, // the one shipped with the editor: "syntax_latest.8" becomes "syntax.8"
    SYNTAX_FILE_OWN = 2,    // the user's own: "syntax.8" is created empty when missing
};

struct Api_Settings {
    Api_UI_Theme ui_theme;
    Api_Text_Theme text_theme;
    u8 display_flags; // Api_Display_Flags
    u8 spaces_per_tab;
    f32 font_size;
    Api_Array<Api_Font_Entry> ui_fonts;
    Api_Array<Api_Font_Entry> code_fonts;
    Api_Array<Api_Tokenisation_Hint> tokenisation_hints;
    Api_Array<String> blacklisted_extensions;
    u8 syntax_file; // Api_Syntax_File
};
