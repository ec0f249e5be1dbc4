// The shipped custom layer (runtime/custom.8 and the files it loads) compiles
// cleanly through tarnoc, and its key codes and event bits are the ones the
// window and the editor really send.
#include <gtest/gtest.h>
#include <GLFW/glfw3.h>
#include "test_util.h"
#include "text/editor_api_types.h"
#include <map>
#include <sstream>

static std::string runtime_dir() { return std::string(TARNO_SOURCE_DIR) + "/runtime"; }

static std::string tarnoc_on_custom_layer(const std::string &options) {
    return std::string(TARNO_BIN_DIR) + "/tarnoc --root " + runtime_dir() + " " + options + " " + runtime_dir() + "/custom.8";
}

// The whole pipeline, down to bytecode, as the editor runs it.
TEST(Custom_Layer, CompilesWithoutAnyDiagnostic) {
    std::string out;
    int status = run_command(tarnoc_on_custom_layer("") + " 2>&1", &out);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "");
}

// Every global constant of the layer, by name, as --dump-globals prints it.
static std::map<std::string, std::string> layer_constants() {
    std::string out;
    std::map<std::string, std::string> values;
    if (run_command(tarnoc_on_custom_layer("--check --dump-globals") + " 2>/dev/null", &out) != 0) return values;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        size_t colon = line.find(" : "), equals = line.find(" = ");
        if (colon != std::string::npos && equals != std::string::npos)
            values[line.substr(0, colon)] = line.substr(equals + 3);
    }
    return values;
}

TEST(Custom_Layer, KeyCodesAndEventBitsMatchWhatTheEditorSends) {
    struct Row {
        const char *name;
        long value;
    } rows[] = {
        {"KEY_0", GLFW_KEY_0}, {"KEY_1", GLFW_KEY_1}, {"KEY_9", GLFW_KEY_9},
        {"KEY_A", GLFW_KEY_A}, {"KEY_C", GLFW_KEY_C}, {"KEY_D", GLFW_KEY_D}, {"KEY_E", GLFW_KEY_E},
        {"KEY_F", GLFW_KEY_F}, {"KEY_G", GLFW_KEY_G}, {"KEY_H", GLFW_KEY_H}, {"KEY_K", GLFW_KEY_K},
        {"KEY_L", GLFW_KEY_L}, {"KEY_N", GLFW_KEY_N}, {"KEY_O", GLFW_KEY_O}, {"KEY_Q", GLFW_KEY_Q},
        {"KEY_S", GLFW_KEY_S}, {"KEY_T", GLFW_KEY_T}, {"KEY_U", GLFW_KEY_U}, {"KEY_V", GLFW_KEY_V},
        {"KEY_W", GLFW_KEY_W}, {"KEY_X", GLFW_KEY_X}, {"KEY_Z", GLFW_KEY_Z},
        {"KEY_MINUS", GLFW_KEY_MINUS}, {"KEY_EQUAL", GLFW_KEY_EQUAL},
        {"KEY_ESCAPE", GLFW_KEY_ESCAPE}, {"KEY_ENTER", GLFW_KEY_ENTER}, {"KEY_TAB", GLFW_KEY_TAB},
        {"KEY_BACKSPACE", GLFW_KEY_BACKSPACE}, {"KEY_DELETE", GLFW_KEY_DELETE},
        {"KEY_RIGHT", GLFW_KEY_RIGHT}, {"KEY_LEFT", GLFW_KEY_LEFT}, {"KEY_DOWN", GLFW_KEY_DOWN},
        {"KEY_UP", GLFW_KEY_UP}, {"KEY_PAGE_UP", GLFW_KEY_PAGE_UP}, {"KEY_PAGE_DOWN", GLFW_KEY_PAGE_DOWN},
        {"KEY_HOME", GLFW_KEY_HOME}, {"KEY_END", GLFW_KEY_END}, {"KEY_F11", GLFW_KEY_F11},
        {"KEY_PAD_SUBTRACT", GLFW_KEY_KP_SUBTRACT}, {"KEY_PAD_ADD", GLFW_KEY_KP_ADD},
        {"KEY_PAD_ENTER", GLFW_KEY_KP_ENTER},
        {"CHARACTER", CUSTOM_LAYER_EVENT_CHARACTER}, {"KEY_PRESSED", CUSTOM_LAYER_EVENT_KEY_PRESSED},
        {"KEY_RELEASED", CUSTOM_LAYER_EVENT_KEY_RELEASED}, {"LEFT_BUTTON_PRESSED", CUSTOM_LAYER_EVENT_LEFT_PRESS},
        {"CONTROL", CUSTOM_LAYER_CONTROL}, {"ALT", CUSTOM_LAYER_ALT}, {"SHIFT", CUSTOM_LAYER_SHIFT},
    };
    std::map<std::string, std::string> constants = layer_constants();
    ASSERT_FALSE(constants.empty());
    for (const Row &row : rows) {
        auto found = constants.find(row.name);
        ASSERT_NE(found, constants.end()) << row.name;
        EXPECT_EQ(found->second, std::to_string(row.value)) << row.name;
    }
}
