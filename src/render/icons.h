// Code points of the ICONS font. This table is also what the build reads to
// make that font: each entry names the source glyph it is cut from, so adding
// an icon is one line here.
#pragma once
#include "core/base.h"

enum Icon : u32 {
    ICON_NEW_FILE = 33,             // U+F016 blank page
    ICON_NEW_FILE_HOVER = 34,       // U+F15B filled page
    ICON_OPEN = 35,                 // U+F115 open folder outline
    ICON_OPEN_HOVER = 36,           // U+F07C open folder
    ICON_TERMINAL = 37,             // U+F120 prompt
    ICON_TERMINAL_HOVER = 38,       // U+F0E7 bolt
    ICON_SAVE = 39,                 // U+F0C7 floppy disk
    ICON_SAVE_HOVER = 40,           // U+F0C7 floppy disk
    ICON_PREVIOUS_TAB = 41,         // U+F053 chevron left
    ICON_PREVIOUS_TAB_HOVER = 42,   // U+F137 circled chevron left
    ICON_NEXT_TAB = 43,             // U+F054 chevron right
    ICON_NEXT_TAB_HOVER = 44,       // U+F138 circled chevron right
    ICON_CLOSE = 45,                // U+F00D cross
    ICON_CLOSE_HOVER = 46,          // U+F057 circled cross
    ICON_CHECK_BOX_OFF = 47,        // U+F096 empty square
    ICON_CHECK_BOX_OFF_HOVER = 48,  // U+F0C8 filled square
    ICON_CHECK_BOX_ON = 49,         // U+F046 ticked square outline
    ICON_CHECK_BOX_ON_HOVER = 50,   // U+F14A ticked square
    ICON_ERROR = 51,                // U+F06A exclamation in a circle
    ICON_SUCCESS = 52,              // U+F058 tick in a circle
    ICON_COPY = 53,                 // U+F0C5 two pages
    ICON_COPY_HOVER = 54,           // U+F0C5 two pages
    ICON_FOLDER = 55,               // U+F07B closed folder
    ICON_FILE = 56,                 // U+F15C page with text
    ICON_PICTURE = 57,              // U+F1C5 picture file
    ICON_AUDIO = 58,                // U+F1C7 audio file
    ICON_ADD_FILE = 59,             // U+F196 plus in a square
    ICON_ADD_FILE_HOVER = 60,       // U+F0FE filled plus square
};

constexpr u32 ICON_FIRST = ICON_NEW_FILE;
constexpr u32 ICON_LAST = ICON_ADD_FILE_HOVER;
