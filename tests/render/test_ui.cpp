// The UI's view of the event queue, element identity and the widgets, driven
// by events pushed into the window's queue as the callbacks would.
#include <gtest/gtest.h>
#include "render_test_fonts.h"
#include <GLFW/glfw3.h>
#include <math.h>

class Ui : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(load_test_fonts_and_frame(800, 600));
        memset(&window, 0, sizeof window);
        window.width = 800;
        window.height = 600;
        ui_window = &window;
        ui_layer_in_focus = 0;
        ui_flags = 0;
        ui_elements.count = 0;
        ui_mouse_position = Vector2{0, 0};
    }
    void frame() {
        prepare_frame();
        ui_begin_frame();
    }
    void push_mouse(u8 bits) { window_push_event(EVENT_MOUSE, 0)->bits = bits; }
    u32 count_mouse_events(u8 bits) {
        u32 n = 0;
        for (u32 i = 0; i < window.num_events; i++)
            if (window.events[i].type == EVENT_MOUSE && (window.events[i].bits & bits)) n++;
        return n;
    }
};

TEST_F(Ui, DoubleClicksNeedTwoPressesWithin200Milliseconds) {
    struct { u64 gap_us; bool double_click; } cases[] = {{150000, true}, {250000, false}, {199000, true}};
    for (auto &c : cases) {
        window.num_events = 0;
        window.last_left_press_time = os_get_time_microseconds() - c.gap_us;
        glfw_mouse_button_callback(nullptr, GLFW_MOUSE_BUTTON_LEFT, GLFW_PRESS, 0);
        EXPECT_EQ(count_mouse_events(MOUSE_LEFT_DOWN), 1u) << c.gap_us;
        EXPECT_EQ(count_mouse_events(MOUSE_DOUBLE_CLICK), c.double_click ? 1u : 0u) << c.gap_us;
    }
    // Right presses never make double clicks; buttons above 2 are ignored.
    window.num_events = 0;
    glfw_mouse_button_callback(nullptr, GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, 0);
    glfw_mouse_button_callback(nullptr, GLFW_MOUSE_BUTTON_RIGHT, GLFW_PRESS, 0);
    glfw_mouse_button_callback(nullptr, 5, GLFW_PRESS, 0);
    EXPECT_EQ(window.num_events, 2);
    EXPECT_EQ(count_mouse_events(MOUSE_DOUBLE_CLICK), 0u);
}

TEST_F(Ui, KeyboardAndScrollEventsAreQueuedAsTheFrameExpects) {
    glfw_key_callback(nullptr, GLFW_KEY_TAB, 0, GLFW_PRESS, 0);
    glfw_key_callback(nullptr, GLFW_KEY_TAB, 0, GLFW_PRESS, GLFW_MOD_SHIFT);
    glfw_key_callback(nullptr, GLFW_KEY_S, 0, GLFW_RELEASE, GLFW_MOD_CONTROL | GLFW_MOD_ALT);
    glfw_mouse_scroll_callback(nullptr, 0, 1.5);
    ASSERT_EQ(window.num_events, 5);
    struct { u8 type; u32 code; u8 modifiers; } expected[] = {
        {EVENT_KEY_PRESSED, GLFW_KEY_TAB, 0},
        {EVENT_CHARACTER, '\t', 0}, // a bare Tab also types a tab
        {EVENT_KEY_PRESSED, GLFW_KEY_TAB, MODIFIER_SHIFT},
        {EVENT_KEY_RELEASED, GLFW_KEY_S, MODIFIER_CONTROL | MODIFIER_ALT},
    };
    for (u32 i = 0; i < 4; i++) {
        EXPECT_EQ(window.events[i].type, expected[i].type) << i;
        EXPECT_EQ(window.events[i].code, expected[i].code) << i;
        EXPECT_EQ(window.events[i].modifiers, expected[i].modifiers) << i;
    }
    EXPECT_EQ(window.events[4].type, EVENT_SCROLL);
    EXPECT_FLOAT_EQ(window.events[4].amount, -150.0f);
    EXPECT_FLOAT_EQ(ui_gather_scroll(), -150.0f);
    EXPECT_EQ(window.num_events, 5); // gathering does not consume
    ui_current_layer = 1;
    EXPECT_FLOAT_EQ(ui_gather_scroll(), 0.0f); // not the focused layer
}

TEST_F(Ui, TheQueueDropsEventsPastItsCapacity) {
    for (u32 i = 0; i < MAX_WINDOW_EVENTS; i++) glfw_character_callback(nullptr, 'a' + i % 26);
    EXPECT_EQ(window.num_events, MAX_WINDOW_EVENTS);
    glfw_character_callback(nullptr, 'Z');
    glfw_close_callback(nullptr);
    EXPECT_EQ(window.num_events, MAX_WINDOW_EVENTS);
    EXPECT_EQ(window.events[MAX_WINDOW_EVENTS - 1].code, (u32)('a' + (MAX_WINDOW_EVENTS - 1) % 26));
}

TEST_F(Ui, ConsumingRespectsLayersAndOrder) {
    push_mouse(MOUSE_RIGHT_DOWN);
    push_mouse(MOUSE_LEFT_DOWN);
    push_mouse(MOUSE_LEFT_DOWN);
    frame();
    ui_current_layer = 2; // focus is on layer 0
    EXPECT_FALSE(ui_consume_left_click());
    EXPECT_EQ(window.num_events, 3);
    EXPECT_FALSE(ui_flags & UI_ANOTHER_FRAME);
    EXPECT_TRUE(ui_consume_left_click_no_matter_what());
    EXPECT_EQ(window.num_events, 2);
    ui_current_layer = 0;
    EXPECT_TRUE(ui_consume_left_click());
    EXPECT_TRUE(ui_flags & UI_ANOTHER_FRAME);
    EXPECT_FALSE(ui_consume_left_click());
    ASSERT_EQ(window.num_events, 1);
    EXPECT_EQ(window.events[0].bits, MOUSE_RIGHT_DOWN); // the other event is untouched
    EXPECT_FALSE(ui_consume_double_click());
    EXPECT_TRUE(ui_consume_mouse_event(MOUSE_RIGHT_DOWN | MOUSE_RIGHT_UP));
    EXPECT_EQ(window.num_events, 0);
}

TEST_F(Ui, BeginFrameTracksTheLeftButtonAndClearsTheFrameRequest) {
    ui_do_not_stop_after_current_frame();
    push_mouse(MOUSE_LEFT_DOWN);
    frame();
    EXPECT_TRUE(ui_flags & UI_LEFT_BUTTON_HELD);
    EXPECT_FALSE(ui_flags & UI_ANOTHER_FRAME);
    window.num_events = 0;
    frame();
    EXPECT_TRUE(ui_flags & UI_LEFT_BUTTON_HELD); // still held: no release seen
    push_mouse(MOUSE_LEFT_UP);
    frame();
    EXPECT_FALSE(ui_flags & UI_LEFT_BUTTON_HELD);
}

TEST_F(Ui, CursorChoiceAndTheResizeEdge) {
    struct { f32 x; u8 expected; } cases[] = {{2, CURSOR_RESIZE_HORIZONTAL}, {400, CURSOR_ARROW}, {795, CURSOR_RESIZE_HORIZONTAL}};
    for (auto &c : cases) {
        frame();
        ui_mouse_position = Vector2{c.x, 300};
        ui_end_frame();
        EXPECT_EQ(ui_current_cursor_type, c.expected) << c.x;
        EXPECT_FLOAT_EQ(ui_previous_mouse_position.x, c.x);
    }
    frame();
    ui_current_layer = 1;
    ui_set_cursor(CURSOR_TEXT, false); // not focused: ignored
    EXPECT_FALSE(ui_cursor_was_set_this_frame);
    ui_set_cursor(CURSOR_TEXT, true);
    ui_set_cursor(CURSOR_HAND, true); // only the first choice of a frame counts
    EXPECT_EQ(ui_current_cursor_type, CURSOR_TEXT);
    ui_mouse_position = Vector2{2, 300};
    ui_end_frame();
    EXPECT_EQ(ui_current_cursor_type, CURSOR_TEXT);
}

TEST_F(Ui, ElementIdentity) {
    EXPECT_EQ(make_ui_element_id(7, "ab"), (u64)0x6261 << 32 | 7);
    // Only the first four name bytes reach the id.
    EXPECT_EQ(make_ui_element_id(1, "scroll_a"), make_ui_element_id(1, "scroll_b"));
    EXPECT_NE(make_ui_element_id(1, "tabs"), make_ui_element_id(2, "tabs"));
    EXPECT_EQ(make_ui_element_id(3, nullptr, 0), 3u); // no name: the index alone
    Ui_Element *e = get_or_add_ui_element(42, UI_CHECK_BOX);
    EXPECT_TRUE(e->is_new);
    e->check_box.checked = 1;
    for (u64 i = 0; i < 100; i++) get_or_add_ui_element(1000 + i, UI_BUTTON); // grows the array
    Ui_Element *again = get_or_add_ui_element(42, UI_CHECK_BOX);
    EXPECT_FALSE(again->is_new);
    EXPECT_EQ(again->check_box.checked, 1);
    EXPECT_TRUE(get_or_add_ui_element(42, UI_BUTTON)->is_new); // same id, other kind
}

static Scroll_Bar_Colours bar_colours = {{0.1f, 0.1f, 0.1f, 1}, {0.5f, 0.5f, 0.5f, 1}, {0.9f, 0.9f, 0.9f, 1}};

TEST_F(Ui, ScrollBarOverShortContentDrawsNothing) {
    frame();
    f32 *offset = ui_scroll_bar(1, true, Vector2{0, 0}, Vector2{400, 300}, 200, 12, bar_colours);
    *offset = 50;
    frame();
    offset = ui_scroll_bar(1, true, Vector2{0, 0}, Vector2{400, 300}, 300, 12, bar_colours);
    EXPECT_EQ(*offset, 0);
    EXPECT_EQ(renderer_quad_instances.count, 0u);
}

TEST_F(Ui, ScrollBarThumbClampingAndDragging) {
    Vector2 tl = {0, 100}, br = {400, 400}; // 300 pixels high
    frame();
    f32 *offset = ui_scroll_bar(2, true, tl, br, 1000000, 12, bar_colours);
    ASSERT_EQ(renderer_quad_instances.count, 2u);
    Quad_Instance *thumb = renderer_instance(1);
    EXPECT_FLOAT_EQ(thumb->scale.y * 2, SCROLL_BAR_MIN_THUMB);
    EXPECT_FLOAT_EQ(thumb->scale.x * 2, 12);
    *offset = 5000000; // past the end: clamped
    frame();
    offset = ui_scroll_bar(2, true, tl, br, 1000000, 12, bar_colours);
    EXPECT_FLOAT_EQ(*offset, 1000000 - 300);
    thumb = renderer_instance(1);
    EXPECT_FLOAT_EQ(600 - (thumb->position.y - thumb->scale.y), 400); // thumb bottom at the area bottom

    // Content 600 over 300: thumb 150 high; drag it down 50 pixels -> 100 of content.
    *offset = 0;
    ui_mouse_position = Vector2{395, 150};
    push_mouse(MOUSE_LEFT_DOWN);
    frame();
    offset = ui_scroll_bar(3, true, tl, br, 600, 12, bar_colours);
    EXPECT_EQ(window.num_events, 0); // the press went to the thumb
    EXPECT_TRUE(get_or_add_ui_element(3, UI_SCROLL_BAR)->scroll_bar.dragging);
    ui_mouse_position = Vector2{395, 200};
    frame();
    offset = ui_scroll_bar(3, true, tl, br, 600, 12, bar_colours);
    EXPECT_FLOAT_EQ(*offset, 100);
    EXPECT_TRUE(ui_flags & UI_ANOTHER_FRAME);
    ui_mouse_position = Vector2{395, 900}; // far below: clamped to the end
    frame();
    offset = ui_scroll_bar(3, true, tl, br, 600, 12, bar_colours);
    EXPECT_FLOAT_EQ(*offset, 300);
    push_mouse(MOUSE_LEFT_UP);
    frame();
    ui_mouse_position = Vector2{395, 150};
    offset = ui_scroll_bar(3, true, tl, br, 600, 12, bar_colours);
    EXPECT_FALSE(get_or_add_ui_element(3, UI_SCROLL_BAR)->scroll_bar.dragging);
    EXPECT_FLOAT_EQ(*offset, 300);

    // A disabled bar ignores the press.
    push_mouse(MOUSE_LEFT_DOWN);
    frame();
    ui_mouse_position = Vector2{395, 150};
    *ui_scroll_bar(4, true, tl, br, 600, 12, bar_colours) = 0;
    frame();
    ui_scroll_bar(4, false, tl, br, 600, 12, bar_colours);
    EXPECT_EQ(window.num_events, 1);
}

TEST_F(Ui, ScrollBarVisibilityAndCentring) {
    Vector2 tl = {0, 100}, br = {400, 400};
    frame();
    f32 *offset = ui_scroll_bar(5, true, tl, br, 3000, 12, bar_colours);
    *offset = 1000;
    struct { f32 item_y, item_h, expected; } cases[] = {
        {150, 20, 1000},  // already inside: unchanged
        {90, 20, 990},    // 10 above the top
        {395, 20, 1015},  // 15 below the bottom
        {50, 400, 1000},  // taller than the area: unchanged
    };
    for (auto &c : cases) {
        *offset = 1000;
        ui_scroll_bar_ensure_visibility(5, true, tl, br, 3000, Vector2{0, c.item_y}, Vector2{10, c.item_h});
        EXPECT_FLOAT_EQ(*ui_scroll_bar(5, true, tl, br, 3000, 12, bar_colours), c.expected) << c.item_y;
    }
    *offset = 1000;
    ui_scroll_bar_centre_around(5, true, tl, br, 3000, Vector2{0, 400}, Vector2{10, 20});
    EXPECT_FLOAT_EQ(*offset, 1000 + 410 - 250);
    ui_scroll_bar_centre_around(5, true, tl, br, 3000, Vector2{0, -5000}, Vector2{10, 20});
    EXPECT_FLOAT_EQ(*offset, 0);
}

TEST_F(Ui, CheckBoxTogglesOnAClickInsideTheBox) {
    Vector2 at = {100, 100};
    frame();
    u8 *checked = ui_check_box(9, S("Match case"), at, white);
    EXPECT_EQ(*checked, 0);
    EXPECT_GE(count_glyph_quads(), 2u);
    struct { Vector2 mouse; u8 layer; u8 expected; u16 events_left; } cases[] = {
        {{110, 110}, 0, 1, 0},
        {{110, 110}, 0, 0, 0},
        {{100 + 40, 110}, 0, 0, 1}, // beside the box
        {{110, 110}, 1, 0, 1},      // another layer has the focus
    };
    for (auto &c : cases) {
        window.num_events = 0;
        push_mouse(MOUSE_LEFT_DOWN);
        frame();
        ui_layer_in_focus = c.layer;
        ui_mouse_position = c.mouse;
        checked = ui_check_box(9, S("Match case"), at, white);
        EXPECT_EQ(*checked, c.expected);
        EXPECT_EQ(window.num_events, c.events_left);
    }
}

TEST_F(Ui, ButtonReportsClicksAndPicksAReadableLabelColour) {
    struct { Colour background; Colour label; } cases[] = {
        {{0.9f, 0.9f, 0.9f, 1}, black}, {{0.05f, 0.1f, 0.3f, 1}, white}, {{0, 0, 1, 1}, white}, {{1, 1, 0, 1}, black},
    };
    for (auto &c : cases) {
        window.num_events = 0;
        push_mouse(MOUSE_LEFT_DOWN);
        frame();
        ui_mouse_position = Vector2{150, 120};
        EXPECT_TRUE(ui_button(11, S("Update"), Vector2{100, 100}, Vector2{120, 40}, c.background));
        ASSERT_GE(renderer_quad_instances.count, 2u);
        EXPECT_EQ(renderer_instance(0)->flags, 0u);
        Quad_Instance *label = renderer_instance(1);
        EXPECT_EQ(label->flags, (u32)QUAD_INSTANCE_GLYPH);
        EXPECT_FLOAT_EQ(label->colour.x, c.label.x);
    }
    // Centred: the label's ink is balanced around the button's middle.
    f32 left = 1e9f, right = -1e9f;
    for (u32 i = 1; i < renderer_quad_instances.count; i++) {
        Quad_Instance *q = renderer_instance(i);
        left = fminf(left, q->position.x - q->scale.x);
        right = fmaxf(right, q->position.x + q->scale.x);
    }
    EXPECT_NEAR((left + right) / 2, 160, 2.0f);
    frame();
    ui_mouse_position = Vector2{50, 50};
    push_mouse(MOUSE_LEFT_DOWN);
    EXPECT_FALSE(ui_button(11, S("Update"), Vector2{100, 100}, Vector2{120, 40}, white));
    EXPECT_EQ(window.num_events, 1);
}
