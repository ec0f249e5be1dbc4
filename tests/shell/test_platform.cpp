// The platform layer with and without a real window (a private Xvfb): the
// clipboard round trip for texts of every size, far beyond a thread's
// temporary memory.
#include <gtest/gtest.h>
#include "gui_harness.h"
#include "core/memory.h"
#include "render/window.h"
#include <stdlib.h>
#include <string>

static std::string as_std(String s) { return std::string((const char *)s.data, (size_t)(s.count > 0 ? s.count : 0)); }

// Sizes around the temporary budgets and far past a thread's 10 MiB.
static const u64 CLIPBOARD_SIZES[] = {0, 1, 1023, 1024, 64 * 1024, 4u << 20, 24u << 20};

static std::string pattern_text(u64 size) {
    std::string text(size, 'x');
    for (u64 i = 0; i < size; i++) text[i] = (char)('a' + i % 23);
    return text;
}

// Runs the round trips in the calling state (headless or windowed).
static void check_clipboard_round_trips() {
    for (u64 size : CLIPBOARD_SIZES) {
        std::string text = pattern_text(size);
        tmp_reset();
        platform_set_clipboard_text(String{(u8 *)text.data(), (s64)text.size()});
        String got = platform_get_clipboard_text();
        // A copy through temporary memory would overrun it for the largest texts.
        ASSERT_LT(tmp_get_position(), 64u * 1024) << "size " << size;
        ASSERT_EQ((u64)(got.count > 0 ? got.count : 0), size);
        EXPECT_TRUE(as_std(got) == text) << "size " << size;
    }
    tmp_reset();
}

TEST(Platform, HeadlessClipboardKeepsTextsOfAnySize) {
    ASSERT_EQ(window.handle, nullptr);
    check_clipboard_round_trips();
    // An empty text empties the clipboard.
    platform_set_clipboard_text(String{(u8 *)"abc", 3});
    platform_set_clipboard_text(String{nullptr, 0});
    EXPECT_EQ(platform_get_clipboard_text().count, 0);
}

TEST(Platform, WindowClipboardKeepsTextsOfAnySize) {
    Gui_Session session;
    ASSERT_TRUE(session.start(640, 480));
    setenv("DISPLAY", session.display_name.c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
    ASSERT_TRUE(platform_init());
    ASSERT_TRUE(platform_create_window("platform test", 320, 240)) << platform_last_error();
    check_clipboard_round_trips();
    platform_destroy_window();
    platform_terminate();
}

// Terminal workers ask this from their own thread to decide whether a
// finished command deserves a desktop notification.
TEST(Platform, FocusCallbackKeepsTheFocusStateWorkersRead) {
    window.modifiers = 5;
    glfw_focus_callback(nullptr, 0);
    EXPECT_FALSE(platform_window_is_focused());
    EXPECT_EQ(window.modifiers, 0);
    glfw_focus_callback(nullptr, 1);
    EXPECT_TRUE(platform_window_is_focused());
}
