// The renderer on a real OpenGL 4.5 core context (Mesa under a private Xvfb):
// one draw call per frame, per-quad scissors, sRGB output, glyphs sampled from
// the font map, and the shader failure messages.
#include <gtest/gtest.h>
#include "gui_harness.h"
#include "render_test_fonts.h"
#include "render/render_log.h"
#include <epoxy/gl.h>
#include <stdlib.h>
#include <GLFW/glfw3.h>

u32 renderer_build_program(const char *vertex_source, const char *pixel_source);

// [SECTION] Counting draws through the GL dispatch table
// epoxy calls GL through global function pointers: each draw entry point is
// replaced by a counter that forwards to the driver's own function.
static u64 draws;
#define COUNTED(name, params, args)                    \
    static decltype(epoxy_##name) real_##name;         \
    static void EPOXY_CALLSPEC counted_##name params { \
        draws++;                                       \
        real_##name args;                              \
    }
COUNTED(glDrawArrays, (GLenum m, GLint f, GLsizei c), (m, f, c))
COUNTED(glDrawArraysInstanced, (GLenum m, GLint f, GLsizei c, GLsizei n), (m, f, c, n))
COUNTED(glDrawElements, (GLenum m, GLsizei c, GLenum t, const void *i), (m, c, t, i))
COUNTED(glDrawElementsInstanced, (GLenum m, GLsizei c, GLenum t, const void *i, GLsizei n), (m, c, t, i, n))
COUNTED(glDrawArraysInstancedBaseInstance, (GLenum m, GLint f, GLsizei c, GLsizei n, GLuint b), (m, f, c, n, b))
#define HOOK(name)                                                           \
    (real_##name = (decltype(real_##name))glfwGetProcAddress(#name), \
     epoxy_##name = real_##name ? counted_##name : epoxy_##name)

class Render_Gl : public ::testing::Test {
  protected:
    static Gui_Session *session;
    static bool ready;
    static void SetUpTestSuite() {
        session = new Gui_Session;
        if (!session->start(1024, 768)) return;
        setenv("DISPLAY", session->display_name.c_str(), 1);
        setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
        if (!platform_init() || !platform_create_window("render test", 640, 480)) return;
        if (!init_renderer(window.handle, window.width, window.height)) return;
        if (!load_test_fonts_and_frame(window.width, window.height)) return;
        HOOK(glDrawArrays), HOOK(glDrawArraysInstanced), HOOK(glDrawElements), HOOK(glDrawElementsInstanced),
            HOOK(glDrawArraysInstancedBaseInstance);
        ready = true;
    }
    static void TearDownTestSuite() {
        platform_destroy_window();
        platform_terminate();
        delete session;
    }
    void SetUp() override {
        ASSERT_TRUE(ready) << "no OpenGL 4.5 context under Xvfb";
        resize_render_target(window.width, window.height);
        prepare_frame();
    }
    // Draws the frame into the back buffer and reads it, top row first.
    std::vector<u8> draw_and_read() {
        renderer_draw_frame();
        u32 w = renderer_info.width, h = renderer_info.height;
        std::vector<u8> bottom_up((size_t)w * h * 4);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, (GLsizei)w, (GLsizei)h, GL_RGBA, GL_UNSIGNED_BYTE, bottom_up.data());
        std::vector<u8> top_down(bottom_up.size());
        for (u32 y = 0; y < h; y++) memcpy(&top_down[(size_t)y * w * 4], &bottom_up[(size_t)(h - 1 - y) * w * 4], w * 4);
        return top_down;
    }
    const u8 *pixel(const std::vector<u8> &p, u32 x, u32 y) { return &p[((size_t)y * renderer_info.width + x) * 4]; }
};
Gui_Session *Render_Gl::session;
bool Render_Gl::ready;

TEST_F(Render_Gl, OneDrawCallWhateverTheNumberOfQuadsAndScissors) {
    struct { u32 quads, scissor_changes; } cases[] = {{1, 0}, {100, 10}, {20000, 700}};
    for (auto &c : cases) {
        prepare_frame();
        for (u32 i = 0; i < c.quads; i++) {
            if (c.scissor_changes && i % (c.quads / c.scissor_changes) == 0) {
                f32 s = (f32)(i % 200);
                renderer_set_scissors(Vector2{s, s}, Vector2{640 - s, 480 - s});
            }
            renderer_draw_quad(0, Vector2{(f32)(i % 600), (f32)(i % 450)}, Vector2{4, 4}, white, Vector4{});
        }
        draw_text(S("and some text, too"), &ui_font_pool, ANCHOR_TOP_LEFT, 10, 10, white);
        u64 before = draws;
        swap_buffers(false);
        EXPECT_EQ(draws - before, 1u) << c.quads << " quads";
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
    }
    // A frame with no quads draws nothing but still clears.
    prepare_frame();
    u64 before = draws;
    std::vector<u8> p = draw_and_read();
    EXPECT_EQ(draws, before);
    EXPECT_EQ(pixel(p, 320, 240)[0], 0);
    EXPECT_EQ(pixel(p, 320, 240)[3], 255);
}

TEST_F(Render_Gl, ColoursLeaveInSrgbAndScissorsClipPerQuad) {
    // Whole target in linear 0.18 grey: sRGB 0.461 -> 118.
    draw_quad(0, 0, 640, 480, Colour{0.18f, 0.18f, 0.18f, 1});
    // A red quad half outside its scissor (x 100..150 inside, 150..200 outside).
    draw_quad_scissored(Vector2{100, 100}, Vector2{100, 50}, Colour{1, 0, 0, 1}, Vector2{50, 50}, Vector2{150, 300});
    // A solid quad with a texture rectangle still ignores the font map.
    renderer_set_scissors(Vector2{0, 0}, Vector2{640, 480});
    renderer_draw_quad(0, Vector2{300, 300}, Vector2{20, 20}, Colour{0, 1, 0, 1}, Vector4{0.5f, 0.5f, 0.6f, 0.6f});
    std::vector<u8> p = draw_and_read();
    EXPECT_NEAR(pixel(p, 5, 5)[0], 118, 1);
    EXPECT_NEAR(pixel(p, 5, 5)[2], 118, 1);
    EXPECT_EQ(pixel(p, 120, 120)[0], 255);
    EXPECT_EQ(pixel(p, 120, 120)[1], 0);
    EXPECT_NEAR(pixel(p, 170, 120)[0], 118, 1); // clipped: the grey shows through
    EXPECT_NEAR(pixel(p, 149, 120)[0], 255, 1);
    EXPECT_NEAR(pixel(p, 150, 120)[0], 118, 1); // the edge itself is outside
    EXPECT_EQ(pixel(p, 310, 310)[1], 255);
    EXPECT_EQ(pixel(p, 310, 310)[0], 0);
}

TEST_F(Render_Gl, GlyphsAreSampledFromTheFontMap) {
    resize_fonts(48);
    draw_quad(0, 0, 640, 480, black);
    draw_text(S("HHHH"), &ui_font_pool, ANCHOR_TOP_LEFT, 100, 100, white);
    Glyph *h = get_or_add_glyph(&ui_font_pool, 'H', nullptr, nullptr);
    std::vector<u8> p = draw_and_read();
    // Across the middle of the first H the crossbar is white.
    f32 baseline = ui_font_pool.ranges[0].scaled_ascent;
    u32 mid_y = (u32)(100 + baseline + h->y_offset + h->height / 2);
    u32 bright = 0;
    for (u32 x = 100; x < (u32)(100 + h->advance); x++) {
        if (pixel(p, x, mid_y)[0] > 200) bright++;
    }
    EXPECT_GT(bright, 12u); // the crossbar spans most of the glyph
    // Above the text nothing was drawn.
    for (u32 x = 90; x < 300; x++) EXPECT_LT(pixel(p, x, 90)[0], 10) << x;
    resize_fonts(35);
}

// The texture holds only the rows glyphs reached; a glyph placed lower grows
// it, and glyphs uploaded before the growth still draw from their old place.
TEST_F(Render_Gl, TheFontMapGrowsAndKeepsWhatWasUploaded) {
    resize_fonts(48);
    Glyph *h = get_or_add_glyph(&ui_font_pool, 'H', nullptr, nullptr);
    u32 rows_before = renderer_font_map_rows();
    EXPECT_LT(rows_before, FONT_MAP_SIDE) << "start-up must not need the whole map";
    EXPECT_GE(rows_before, h->y + (u32)h->height);
    glyph_packer.y = 3000;
    glyph_packer.x = 1;
    Glyph *w = get_or_add_glyph(&ui_font_pool, 'W', nullptr, nullptr);
    ASSERT_GE(w->y, 3000u);
    EXPECT_GE(renderer_font_map_rows(), w->y + (u32)w->height);

    struct Case { Glyph *glyph; const char *text; u32 x; } cases[] = {{h, "H", 100}, {w, "W", 300}};
    draw_quad(0, 0, 640, 480, black);
    for (const Case &c : cases) draw_text(S(c.text), &ui_font_pool, ANCHOR_TOP_LEFT, (f32)c.x, 100, white);
    std::vector<u8> p = draw_and_read();
    f32 baseline = ui_font_pool.ranges[0].scaled_ascent;
    for (const Case &c : cases) {
        u32 bright = 0;
        for (u32 y = 100; y < (u32)(100 + baseline + 10); y++) {
            for (u32 x = c.x; x < (u32)(c.x + c.glyph->advance); x++) bright += pixel(p, x, y)[0] > 200;
        }
        EXPECT_GT(bright, 40u) << c.text;
    }
    resize_fonts(35);
}

TEST_F(Render_Gl, ShaderFailuresAreLoggedWithTheirMessages) {
    const char *vertex_ok = "#version 450 core\nvoid main() { gl_Position = vec4(0); }\n";
    const char *pixel_ok = "#version 450 core\nout vec4 c;\nvoid main() { c = vec4(1); }\n";
    struct { const char *vertex, *pixel, *prefix; } cases[] = {
        {"#version 450 core\nvoid main() { this is not glsl }\n", pixel_ok, "OpenGL: Failed to compile vertex shader with error:\n"},
        {vertex_ok, "#version 450 core\nvoid main() { nope( }\n", "OpenGL: Failed to compile pixel shader with error:\n"},
        {"#version 450 core\nvoid helper() {}\n", pixel_ok, "OpenGL: glLinkProgram() failed with the following error:\n"},
    };
    for (auto &c : cases) {
        EXPECT_EQ(renderer_build_program(c.vertex, c.pixel), 0u);
        std::string message = render_last_log_message();
        EXPECT_EQ(message.rfind(c.prefix, 0), 0u) << message;
        EXPECT_GT(message.size(), strlen(c.prefix)) << "the driver's info log is missing";
    }
    EXPECT_NE(renderer_build_program(vertex_ok, pixel_ok), 0u);
}
