// The frame driver's bookkeeping without drawing checks: the custom layer's
// events and the compile-errors tab.
#include <gtest/gtest.h>
#include "shell_test_util.h"
#include "test_util.h"
#include "shell/tabs.h"
#include "shell/custom_layer_events.h"
#include "render/window.h"
#include "text/file.h"
#include "text/text_state.h"
#include "text/editor_api_types.h"
#include "compiler/front/diagnostics.h"
#include <vector>

TEST(Tabs, CompileErrorsTabComesAndGoesWithTheErrors) {
    ASSERT_TRUE(shell_test_start());
    Temp_Dir tmp;
    ASSERT_NE(open_test_file(tmp.path, "a.txt", "a\n"), nullptr);
    shell_test_frame();
    // The list's entries are the compiler's reports; one stands in here.
    if (compile_errors.element_size == 0) dynamic_array_init(&compile_errors, sizeof(Error_Report));
    dynamic_array_add(&compile_errors);
    memset(dynamic_array_get(&compile_errors, 0), 0, compile_errors.element_size);
    shell_test_frame();
    Tab *errors = find_tab_of_kind(TAB_COMPILE_ERRORS);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(tab_title(errors->index), "Compile errors");
    EXPECT_EQ(current_tab(), errors);
    compile_errors.count = 0;
    shell_test_frame();
    EXPECT_EQ(find_tab_of_kind(TAB_COMPILE_ERRORS), nullptr);
}

static int events_calls;
static std::vector<Custom_Layer_Event> seen;
static void record_events() {
    events_calls++;
    Custom_Layer_Event *e;
    u64 n;
    text_hooks.get_events(&e, &n);
    seen.assign(e, e + n);
}

TEST(Frame_Driver, EventsReachTheCustomLayerOnlyWhenThereAreSome) {
    ASSERT_TRUE(shell_test_start());
    custom_layer_events_entry = record_events;
    events_calls = 0;
    shell_test_frame(300, 300); // mouse movement alone
    EXPECT_EQ(events_calls, 0);
    push_key(EVENT_CHARACTER, 0x263A, MODIFIER_SHIFT);
    push_key(EVENT_KEY_PRESSED, 65, MODIFIER_CONTROL | MODIFIER_ALT);
    push_scroll(1);
    push_mouse(MOUSE_RIGHT_DOWN);
    push_mouse(MOUSE_LEFT_DOWN);
    push_key(EVENT_KEY_RELEASED, 65);
    shell_test_frame(300, 300);
    custom_layer_events_entry = nullptr;
    ASSERT_EQ(events_calls, 1);
    struct { u32 kind, code; u8 modifiers; } want[] = {
        {1, 0x263A, CUSTOM_LAYER_SHIFT}, {2, 65, CUSTOM_LAYER_CONTROL | CUSTOM_LAYER_ALT}, {8, 0, 0}, {4, 65, 0},
    };
    ASSERT_EQ(seen.size(), 4u);
    for (u32 i = 0; i < 4; i++) {
        EXPECT_EQ(seen[i].kind, want[i].kind) << i;
        EXPECT_EQ(seen[i].code, want[i].code) << i;
        EXPECT_EQ(seen[i].modifiers, want[i].modifiers) << i;
    }
}

