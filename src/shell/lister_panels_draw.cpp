// The two lister panels drawn over everything: the file lister (icons, the
// "Flat view" check box, the typed-name hint) and the search lister (one row
// per match, the match in its own colour). Both lists scroll with the wheel
// and a scroll bar, keep the highlighted row in view, take a click as
// highlighting a row and a double click as choosing it.
#include "shell/file_lister.h"
#include "shell/file_view.h"
#include "shell/frame.h"
#include "shell/globals.h"
#include "shell/search.h"
#include "render/fonts.h"
#include "render/icons.h"
#include "render/renderer.h"
#include "render/ui.h"
#include "render/window.h"
#include "core/strings.h"
#include "text/file.h"
#include "text/text_state.h"
#include <math.h>

constexpr u8 LISTER_UI_LAYER = 1;
constexpr f32 LISTER_ROWS_PER_WHEEL_NOTCH = 3;
constexpr u64 LISTER_TEXT_BEFORE_MATCH = 160, LISTER_TEXT_AFTER_MATCH = 1024; // bytes of a match's line drawn

static Colour with_alpha(Colour c, f32 a) { return Colour{c.x, c.y, c.z, c.w * a}; }
// As the tab strip picks its label colour.
static Colour text_on(Colour background) { return colour_brightness(background) > 0.35f ? black : ui_theme[2]; }

static void advance_lister_animation() {
    f32 step = (delta_time < 30 ? delta_time : 30) * LISTER_ANIMATION_SPEED;
    f32 f = global_lister_animation_factor + step;
    global_lister_animation_factor = f < 0 ? 0 : f > 1 ? 1 : f;
    if (global_lister_animation_factor < 0.99f) ui_do_not_stop_after_current_frame();
}

struct Lister_Panel {
    f32 x, width, bottom; // the panel's left edge, width and (slid-in) bottom
    f32 list_top;         // where the rows start
};

// The panel's frame, title and field, the hint right after the typed text.
static Lister_Panel draw_lister_panel(String title, File *field, String hint) {
    advance_lister_animation();
    Font_Pool *pool = &ui_font_pool;
    f32 lh = pool->line_height > 0 ? ceilf(pool->line_height) : (f32)pool->size;
    Lister_Panel p;
    p.width = (f32)window.width * 0.6f;
    p.x = ((f32)window.width - p.width) * 0.5f;
    p.bottom = (f32)window.height * 0.9f * global_lister_animation_factor;
    Vector2 tl = {p.x, 0}, br = {p.x + p.width, p.bottom};
    draw_quad_scissored(tl, Vector2{p.width, p.bottom}, ui_theme[3], tl, br);
    draw_text_scissored(title.data, title.count, pool, ANCHOR_TOP_LEFT, p.x + 10, 8, ui_theme[2], tl, br);
    f32 field_y = 16 + lh;
    draw_quad_scissored(Vector2{p.x + 8, field_y - 2}, Vector2{p.width - 16, lh + 4}, ui_theme[0], tl, br);
    String typed = file_text_string(field);
    f32 typed_width = get_text_advance(typed.data, typed.count, &code_font_pool, 4);
    f32 field_width = fminf(p.width - 24, fmaxf(p.width * 0.6f, typed_width + 8));
    draw_file(Vector2{p.x + 12, field_y}, Vector2{field_width, lh}, field, &code_font_pool);
    if (hint.count) {
        f32 hx = fminf(p.x + 12 + typed_width + 6, p.x + p.width - 16 - get_text_advance(hint.data, hint.count, pool, 4));
        draw_text_scissored(hint.data, hint.count, pool, ANCHOR_TOP_LEFT, hx, field_y, ui_theme[5], tl, br);
    }
    p.list_top = field_y + lh + 10;
    return p;
}

// What a list needs from one frame: the rows to draw and what the mouse did.
struct Lister_List {
    Vector2 tl, br;  // the rows' area, the scroll bar at its right edge
    f32 row_height, offset, bar_width;
    u32 first, end;  // visible rows
    s64 clicked;     // row the mouse pressed on, -1 for none
    bool chosen;     // a double click on `clicked`
};

// Scrolls (wheel, bar, and to the highlighted row when it moved since the
// last frame) and reads clicks, before anything of the list is drawn.
// `reset`: a new list (a new listing, a new search), shown from its top.
static Lister_List lister_list_begin(const char *name, Vector2 tl, Vector2 br, u32 count, f32 row_height, u32 current,
                                     u32 *last_current, bool reset) {
    Lister_List l = {};
    l.tl = tl;
    l.br = br;
    l.row_height = row_height;
    l.clicked = -1;
    if (br.y <= tl.y || row_height <= 0) return l;
    u64 id = make_ui_element_id(0, name);
    f32 content = (f32)count * row_height;
    Scroll_Bar_State *s = &get_or_add_ui_element(id, UI_SCROLL_BAR)->scroll_bar;
    if (reset) s->offset = 0;
    if (current != *last_current) {
        Vector2 item = {tl.x, tl.y + (f32)current * row_height - s->offset};
        ui_scroll_bar_ensure_visibility(id, true, tl, br, content, item, Vector2{br.x - tl.x, row_height});
        *last_current = current;
    }
    Vector2 size = {br.x - tl.x, br.y - tl.y};
    if (ui_mouse_is_inside(tl, size)) {
        f32 wheel = ui_gather_scroll();
        if (wheel != 0) {
            s->offset += wheel / 100.0f * LISTER_ROWS_PER_WHEEL_NOTCH * row_height;
            ui_do_not_stop_after_current_frame();
        }
    }
    l.bar_width = fmaxf(6.0f, roundf((f32)ui_font_pool.size * 0.5f));
    Scroll_Bar_Colours colours = {with_alpha(ui_theme[2], 0.06f), with_alpha(ui_theme[2], 0.25f), with_alpha(ui_theme[2], 0.45f)};
    l.offset = *ui_scroll_bar(id, true, tl, br, content, l.bar_width, colours);
    if (content <= size.y) l.bar_width = 0;
    // Rows take the clicks the bar left, left of the bar.
    if (ui_mouse_is_inside(tl, Vector2{size.x - l.bar_width, size.y}) && ui_consume_left_click()) {
        s64 row = (s64)floorf((ui_mouse_position.y - tl.y + l.offset) / row_height);
        if (row >= 0 && row < (s64)count) {
            l.clicked = row;
            l.chosen = ui_consume_double_click();
        }
    }
    l.first = (u32)(l.offset / row_height);
    u32 visible = (u32)ceilf(size.y / row_height) + 1;
    l.end = l.first + visible < count ? l.first + visible : count;
    return l;
}

static f32 lister_row_y(const Lister_List *l, u32 row) { return l->tl.y + (f32)row * l->row_height - l->offset; }

static void lister_choose(s64 clicked, bool chosen, u32 *current) {
    if (clicked < 0) return;
    *current = (u32)clicked;
    editor_stamp_activity();
    if (chosen && text_hooks.select_item_from_lister) text_hooks.select_item_from_lister();
}

// [SECTION] File lister

static u8 icon_glyph(u8 icon) {
    switch (icon) {
    case LISTER_ICON_FOLDER: return (u8)ICON_FOLDER;
    case LISTER_ICON_PICTURE: return (u8)ICON_PICTURE;
    case LISTER_ICON_AUDIO: return (u8)ICON_AUDIO;
    case LISTER_ICON_NEW_FILE: return (u8)ICON_ADD_FILE;
    default: return (u8)ICON_FILE;
    }
}

void draw_file_lister_panel() {
    u8 layer = ui_current_layer;
    ui_current_layer = LISTER_UI_LAYER;
    maybe_update_file_lister();
    File_Lister *fl = &global_file_lister;
    Lister_Panel p = draw_lister_panel(fl->title, fl->filter, file_lister_hint());
    Font_Pool *pool = &ui_font_pool;
    f32 lh = pool->line_height > 0 ? ceilf(pool->line_height) : (f32)pool->size;
    if (fl->flat_view_allowed) {
        // The box mirrors the listing flag; a click flips the flag, and the changed key lists again.
        u64 id = make_ui_element_id(0, "file lister flat view");
        get_or_add_ui_element(id, UI_CHECK_BOX)->check_box.checked = (fl->listing_flags & FILE_LISTER_FLAT_VIEW) != 0;
        f32 box_width = (f32)icons_font_pool.size * 1.2f + get_text_advance((const u8 *)"Flat view", 9, pool, 4);
        Vector2 at = {p.x + p.width - 14 - box_width, 8 + (lh - (f32)icons_font_pool.size) * 0.5f};
        u8 checked = *ui_check_box(id, S("Flat view"), at, ui_theme[2]);
        if (checked) fl->listing_flags |= FILE_LISTER_FLAT_VIEW;
        else fl->listing_flags &= (u8)~FILE_LISTER_FLAT_VIEW;
    }
    static u32 last_current = ~0u;
    static u64 last_key;
    static u32 last_count;
    // A new listing, or the same one published at last: shown from the top.
    bool reset = fl->key != last_key || fl->num_items != last_count;
    last_key = fl->key;
    last_count = fl->num_items;
    f32 row_height = fmaxf(lh, (f32)icons_font_pool.size) + 2;
    Lister_List list = lister_list_begin("file lister items", Vector2{p.x + 4, p.list_top}, Vector2{p.x + p.width - 4, p.bottom},
                                         fl->num_items, row_height, fl->current_item, &last_current, reset);
    Vector2 tl = list.tl, br = {list.br.x - list.bar_width, list.br.y};
    for (u32 i = list.first; i < list.end; i++) {
        File_Lister_Item *item = file_lister_get_item(i);
        if (!item) break;
        f32 row_y = lister_row_y(&list, i);
        Colour ink = ui_theme[2];
        if (i == fl->current_item) {
            draw_quad_scissored(Vector2{tl.x, row_y}, Vector2{br.x - tl.x, row_height}, ui_theme[4], tl, br);
            ink = text_on(ui_theme[4]);
        }
        u8 glyph = icon_glyph(file_lister_item_icon(item));
        f32 icon_y = row_y + (row_height - (f32)icons_font_pool.size) * 0.5f;
        draw_text_scissored(&glyph, 1, &icons_font_pool, ANCHOR_TOP_LEFT, tl.x + 8, icon_y, ink, tl, br);
        f32 name_x = tl.x + 14 + (f32)icons_font_pool.size;
        String name = item->is_directory ? string_concat2("%/", item->name) : item->name;
        draw_text_scissored(name.data, name.count, pool, ANCHOR_TOP_LEFT, name_x, row_y + (row_height - lh) * 0.5f, ink, tl, br);
    }
    if (fl->listing_running) ui_do_not_stop_after_current_frame();
    ui_current_layer = layer;
    lister_choose(list.clicked, list.chosen, &fl->current_item);
}

// [SECTION] Search lister

void draw_search_lister_panel() {
    u8 layer = ui_current_layer;
    ui_current_layer = LISTER_UI_LAYER;
    Search_Lister *sl = &global_search_lister;
    File *field = sl->search_text;
    // Every change of the text searches again (the old search is cancelled first).
    bool reset = global_lister_animation_factor == 0; // just opened
    if (file_has_flags(field, FILE_CHANGED)) {
        file_clear_flags(field, FILE_CHANGED);
        search_lister_search();
        reset = true;
    }
    Lister_Panel p = draw_lister_panel(sl->title, field, String{});
    Font_Pool *pool = &code_font_pool;
    f32 lh = pool->line_height > 0 ? ceilf(pool->line_height) : (f32)pool->size;
    f32 y = p.list_top;
    if (sl->mode == SEARCH_REPLACE) {
        Vector2 clip_tl = {p.x, 0}, clip_br = {p.x + p.width, p.bottom};
        draw_text_scissored(sl->second_title.data, sl->second_title.count, &ui_font_pool, ANCHOR_TOP_LEFT, p.x + 10, y,
                            ui_theme[2], clip_tl, clip_br);
        draw_quad_scissored(Vector2{p.x + 76, y - 2}, Vector2{p.width - 84, lh + 4}, ui_theme[0], clip_tl, clip_br);
        draw_file(Vector2{p.x + 80, y}, Vector2{p.width - 100, lh}, sl->replacement_text, pool);
        y += lh + 10;
    }
    static u32 last_current = ~0u;
    u32 count = get_num_items_in_search_lister();
    f32 row_height = lh + 2;
    Lister_List list = lister_list_begin("search lister matches", Vector2{p.x + 4, y}, Vector2{p.x + p.width - 4, p.bottom},
                                         count, row_height, sl->current_item, &last_current, reset);
    Vector2 tl = list.tl, br = {list.br.x - list.bar_width, list.br.y};
    u32 k = 0;
    spin_lock(&global_search_lock);
    for (u32 f = 0; f < global_search_file_order.count && k < list.end; f++) {
        Search_Result_File *file = *dynamic_array_at<Search_Result_File *>(&global_search_file_order, f);
        if (k + file->matches.count <= list.first) { // a whole file above the view
            k += file->matches.count;
            continue;
        }
        String path = file->path;
        if (sl->mode == SEARCH_FILES && sl->root_length && (u64)path.count > sl->root_length)
            path = String{path.data + sl->root_length, path.count - (s64)sl->root_length};
        for (u32 m = 0; m < file->matches.count && k < list.end; m++, k++) {
            if (k < list.first) continue;
            Search_Match *match = dynamic_array_at<Search_Match>(&file->matches, m);
            f32 row_y = lister_row_y(&list, k), text_y = row_y + 1;
            Colour ink = ui_theme[2], place = ui_theme[5];
            if (k == sl->current_item) {
                draw_quad_scissored(Vector2{tl.x, row_y}, Vector2{br.x - tl.x, row_height}, ui_theme[4], tl, br);
                ink = place = text_on(ui_theme[4]);
            }
            String where = sl->mode == SEARCH_FILES ? tstring("%.*s:%u: ", (int)path.count, (const char *)path.data, match->line)
                                                    : tstring("%u: ", match->line);
            f32 tx = tl.x + 8;
            draw_text_scissored(where.data, where.count, pool, ANCHOR_TOP_LEFT, tx, text_y, place, tl, br);
            tx += get_text_advance(where.data, where.count, pool, 4);
            const u8 *line = file->text.data + match->kept_line;
            u64 before = match->offset - match->line_start, length = match->line_end - match->line_start;
            // A match deep in a long line is shown with what closely precedes it.
            u64 skip = before > LISTER_TEXT_BEFORE_MATCH ? before - LISTER_TEXT_BEFORE_MATCH : 0;
            while (skip < before && (line[skip] & 0xC0) == 0x80) skip++;
            line += skip, before -= skip, length -= skip;
            if (length > before + match->length + LISTER_TEXT_AFTER_MATCH) length = before + match->length + LISTER_TEXT_AFTER_MATCH;
            draw_text_scissored(line, (s64)before, pool, ANCHOR_TOP_LEFT, tx, text_y, ink, tl, br);
            tx += get_text_advance(line, (s64)before, pool, 4);
            // The match itself stands out in the error colour.
            draw_text_scissored(line + before, (s64)match->length, pool, ANCHOR_TOP_LEFT, tx, text_y, ui_theme[6], tl, br);
            tx += get_text_advance(line + before, (s64)match->length, pool, 4);
            if (length > before + match->length)
                draw_text_scissored(line + before + match->length, (s64)(length - before - match->length), pool,
                                    ANCHOR_TOP_LEFT, tx, text_y, ink, tl, br);
        }
    }
    spin_unlock(&global_search_lock);
    if (!sl->complete) ui_do_not_stop_after_current_frame();
    ui_current_layer = layer;
    lister_choose(list.clicked, list.chosen, &sl->current_item);
}
