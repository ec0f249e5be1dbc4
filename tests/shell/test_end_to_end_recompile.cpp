// Hot recompile in the real editor: saving the default custom layer with a
// change makes the change active; a broken one opens the compile-errors tab
// while the previous layer keeps working; saving the fix, or fixing the
// listed line in the editor, brings the new layer. The watcher, the frame
// driver's recompile and the loader are all the real ones. A layer that
// faults is switched off without taking the editor or its unsaved text.
//
// Each layer is the shipped one with two marks of its own: the background of
// both themes (seen in screenshots) and what Ctrl+D types (seen on disk).
#include <gtest/gtest.h>
#include "test_end_to_end_util.h"
#include <algorithm>
#include <string.h>

static End_To_End_Editor *e2e;
static std::string shipped_custom, shipped_keys;

struct Layer_Mark {
    const char *name; // typed by Ctrl+D
    int r, g, b;      // the background, 0 or 255 per channel
};

static const char SHIPPED_BACKGROUND[] = "background   = Colour{ 0.0153, 0.0174, 0.022, 1.0 }";
static const char SHIPPED_CTRL_D[] = "if code == KEY_D && !shift { duplicate_line(); return; }";
static const char BROKEN_LINE[] = "this line is not a declaration;\n";

static std::string replace_all(std::string text, const std::string &from, const std::string &to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
    return text;
}

static std::string custom_with(const Layer_Mark &m) {
    char colour[96];
    snprintf(colour, sizeof colour, "background   = Colour{ %d.0, %d.0, %d.0, 1.0 }", m.r / 255, m.g / 255, m.b / 255);
    return replace_all(shipped_custom, SHIPPED_BACKGROUND, colour);
}

// The broken line goes right after the two #load_file lines.
static std::string broken(const std::string &custom) {
    size_t at = custom.find("#load_file \"syntax.8\";\n");
    return custom.substr(0, at) + "#load_file \"syntax.8\";\n" + BROKEN_LINE + custom.substr(at + 23);
}

class Hot_Recompile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        e2e = new End_To_End_Editor;
        e2e->start("'%W/doc.txt' 1", [](End_To_End_Editor &e) {
            write_whole_file(e.path("doc.txt"), "doc\n");
            read_whole_file(e.bin + "/custom.8", &shipped_custom);
            read_whole_file(e.bin + "/keys.8", &shipped_keys);
        });
    }
    static void TearDownTestSuite() {
        delete e2e;
        e2e = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(e2e->start_error.empty()) << e2e->start_error;
        ASSERT_NE(shipped_custom.find(SHIPPED_BACKGROUND), std::string::npos) << "the shipped custom.8 changed its theme";
        ASSERT_NE(shipped_keys.find(SHIPPED_CTRL_D), std::string::npos) << "the shipped keys.8 changed Ctrl+D";
        ASSERT_TRUE(e2e->alive()) << "the editor is no longer running";
        ASSERT_TRUE(e2e->focus());
    }
    void TearDown() override {
        if (!HasFailure() || !e2e || !e2e->alive()) return;
        std::string png = std::string("/tmp/tarno-e2e-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png";
        if (take_screenshot(e2e->session, e2e->window, png)) printf("screenshot of the failure: %s\n", png.c_str());
    }

    // keys.8 first: whichever save the watcher sees, a compile that has the
    // new custom.8 has the new keys.8 too.
    void save_layer(const Layer_Mark &m, bool break_it = false, const char *ctrl_d = nullptr) {
        std::string body = ctrl_d ? ctrl_d : std::string("insert_text(\"") + m.name + "\");";
        std::string keys = replace_all(shipped_keys, SHIPPED_CTRL_D, "if code == KEY_D && !shift { " + body + " return; }");
        ASSERT_TRUE(write_whole_file(e2e->bin + "/keys.8", keys));
        std::string custom = custom_with(m);
        ASSERT_TRUE(write_whole_file(e2e->bin + "/custom.8", break_it ? broken(custom) : custom));
    }
    // Most of the lower half of the window in the layer's background.
    bool background_is(const Layer_Mark &m, double seconds = E2E_DEADLINE) {
        Rgb_Image img;
        return wait_until([&] {
            if (!e2e->screenshot(&img)) return false;
            int area = (img.width / 2) * (img.height / 4);
            return count_colour(img, m.r, m.g, m.b, 8, img.width / 2, img.height / 2, img.width, img.height * 3 / 4) > area * 9 / 10;
        }, seconds);
    }
    // Ctrl+D in the file tab (tab 1) types the layer's name into doc.txt.
    void expect_ctrl_d_types(const char *name) {
        std::string before;
        ASSERT_TRUE(read_whole_file(e2e->path("doc.txt"), &before));
        e2e->keys("ctrl+1 ctrl+d ctrl+s");
        std::string now;
        EXPECT_TRUE(wait_until([&] {
            return read_whole_file(e2e->path("doc.txt"), &now) && now.size() == before.size() + strlen(name) &&
                   now.find(name) != std::string::npos;
        })) << "Ctrl+D did not type " << name << "; doc.txt holds:\n" << now;
    }
};

// The old layer's error colour (0.90, 0.35, 0.35 on screen) in the tab's text.
static bool error_text_box(const Rgb_Image &img, Box *box) {
    *box = {img.width, img.height, -1, -1};
    for (int y = 20; y < img.height / 2; y++)
        for (int x = 0; x < img.width; x++) {
            const unsigned char *p = img.at(x, y);
            if (abs(p[0] - 230) > 30 || abs(p[1] - 89) > 30 || abs(p[2] - 89) > 30) continue;
            box->left = std::min(box->left, x);
            box->right = std::max(box->right, x);
            box->top = std::min(box->top, y);
            box->bottom = std::max(box->bottom, y);
        }
    return box->right >= 0;
}

static const Layer_Mark RED = {"RED LAYER", 255, 0, 0};
static const Layer_Mark GREEN = {"GREEN LAYER", 0, 255, 0};
static const Layer_Mark BLUE = {"BLUE LAYER", 0, 0, 255};
static const Layer_Mark MAGENTA = {"MAGENTA LAYER", 255, 0, 255};
static const Layer_Mark YELLOW = {"YELLOW LAYER", 255, 255, 0};

TEST_F(Hot_Recompile, ASavedChangeOfSettingAndBindingIsActive) {
    save_layer(RED);
    ASSERT_TRUE(background_is(RED)) << "the new theme never showed";
    expect_ctrl_d_types(RED.name);
}

TEST_F(Hot_Recompile, ABrokenLayerListsItsErrorAndThePreviousOneKeepsWorking) {
    save_layer(GREEN);
    ASSERT_TRUE(background_is(GREEN));
    save_layer(BLUE, true);
    Rgb_Image img;
    Box box;
    EXPECT_TRUE(wait_until([&] { return e2e->screenshot(&img) && error_text_box(img, &box); }))
        << "no compile error is listed";
    // Still the green layer: its theme, and its Ctrl+D.
    EXPECT_FALSE(background_is(BLUE, 2));
    expect_ctrl_d_types(GREEN.name);
    EXPECT_TRUE(background_is(GREEN, 5));
}

TEST_F(Hot_Recompile, SavingTheFixedLayerBringsTheNewOne) {
    save_layer(MAGENTA);
    ASSERT_TRUE(background_is(MAGENTA)) << "the errors of an earlier case did not clear";
    save_layer(YELLOW, true);
    Rgb_Image img;
    Box box;
    ASSERT_TRUE(wait_until([&] { return e2e->screenshot(&img) && error_text_box(img, &box); })) << "no compile error is listed";
    save_layer(YELLOW);
    EXPECT_TRUE(background_is(YELLOW)) << "the fixed layer never became active";
    EXPECT_TRUE(wait_until([&] { return e2e->screenshot(&img) && !error_text_box(img, &box); }))
        << "the compile-errors tab stayed";
    expect_ctrl_d_types(YELLOW.name);
}

// The user's way: click the listed error, fix that line in the editor, save.
// Opening custom.8 also runs the #syntax block over a real .8 file.
TEST_F(Hot_Recompile, FixingTheErrorFromItsListedLineBringsTheNewLayer) {
    save_layer(MAGENTA);
    ASSERT_TRUE(background_is(MAGENTA)) << "the errors of an earlier case did not clear";
    save_layer(YELLOW, true);
    Rgb_Image img;
    Box box;
    ASSERT_TRUE(wait_until([&] { return e2e->screenshot(&img) && error_text_box(img, &box); })) << "no compile error is listed";
    // A click on the error opens custom.8 on the broken line: deleting that
    // line and saving must give exactly the good file.
    e2e->click((box.left + box.right) / 2, (box.top + box.bottom) / 2);
    ASSERT_TRUE(wait_until([&] { return e2e->screenshot(&img) && !error_text_box(img, &box); }))
        << "the click did not leave the compile-errors tab";
    e2e->keys("ctrl+shift+k ctrl+s");
    std::string on_disk;
    EXPECT_TRUE(wait_for_bytes(e2e->bin + "/custom.8", custom_with(YELLOW), &on_disk))
        << "the line deleted was not the broken one";
    EXPECT_TRUE(background_is(YELLOW)) << "the fixed layer never became active";
    expect_ctrl_d_types(YELLOW.name);
}

static const Layer_Mark CYAN = {"CYAN LAYER", 0, 255, 255};
static const Layer_Mark WHITE = {"WHITE LAYER", 255, 255, 255};

// A layer whose Ctrl+D reads through a null pointer is stopped and switched
// off; the editor runs on with the unsaved text, and a good layer saved
// after it works again.
TEST_F(Hot_Recompile, AFaultingLayerIsSwitchedOffAndTheUnsavedWorkStays) {
    save_layer(CYAN, false, "p: @ s64; x := p[0]; insert_text(int_to_string(x));");
    ASSERT_TRUE(background_is(CYAN));
    std::string before;
    ASSERT_TRUE(read_whole_file(e2e->path("doc.txt"), &before));
    e2e->keys("ctrl+1");
    e2e->type("kept");
    e2e->keys("ctrl+d");
    Rgb_Image img;
    Box box;
    EXPECT_TRUE(wait_until([&] { return e2e->screenshot(&img) && error_text_box(img, &box); }))
        << "the fault is not reported in the compile-errors tab";
    ASSERT_TRUE(e2e->alive()) << "the fault took the editor down";
    save_layer(WHITE);
    ASSERT_TRUE(background_is(WHITE)) << "the next good layer never became active";
    e2e->keys("ctrl+1 ctrl+s");
    std::string now;
    EXPECT_TRUE(wait_until([&] {
        return read_whole_file(e2e->path("doc.txt"), &now) && now.size() == before.size() + 4 && now.find("kept") != std::string::npos;
    })) << "the text typed before the fault is gone; doc.txt holds:\n" << now;
    expect_ctrl_d_types(WHITE.name);
}

// After all the reloads Ctrl+Q still ends the editor normally.
TEST_F(Hot_Recompile, TheEditorQuitsCleanlyAfterAllThis) {
    e2e->keys("ctrl+q");
    ASSERT_TRUE(e2e->editor.wait_for_exit(E2E_DEADLINE));
    EXPECT_EQ(e2e->editor.exit_status, 0);
    std::string doc;
    ASSERT_TRUE(read_whole_file(e2e->path("doc.txt"), &doc));
    EXPECT_EQ(doc.substr(doc.size() - 4), "doc\n");
}
