// Frame building without a GPU: the quad and scissor arrays are inspected
// directly.
#include <gtest/gtest.h>
#include "render/renderer.h"
#include <stddef.h>
#include <math.h>

static void start_frame(u32 w = 800, u32 h = 600) {
    renderer_init_headless(w, h);
    prepare_frame();
}

TEST(Renderer, InstanceLayoutMatchesTheVertexAttributes) {
    struct { size_t offset, expected; } fields[] = {
        {offsetof(Quad_Instance, position), 0},        {offsetof(Quad_Instance, scale), 8},
        {offsetof(Quad_Instance, colour), 16},         {offsetof(Quad_Instance, texture_coords), 32},
        {offsetof(Quad_Instance, scissors), 48},       {offsetof(Quad_Instance, rt_dimensions), 64},
        {offsetof(Quad_Instance, flags), 72},          {offsetof(Scissor_Entry, rectangle), 4},
    };
    for (auto &f : fields) EXPECT_EQ(f.offset, f.expected);
}

TEST(Renderer, QuadIsStoredBottomUpWithCentreAndHalfSize) {
    start_frame(800, 600);
    draw_quad(10, 20, 100, 50, Colour{0.5f, 0.25f, 1, 1});
    ASSERT_EQ(renderer_quad_instances.count, 1u);
    Quad_Instance *q = renderer_instance(0);
    EXPECT_FLOAT_EQ(q->position.x, 60);
    EXPECT_FLOAT_EQ(q->position.y, 600 - 45);
    EXPECT_FLOAT_EQ(q->scale.x, 50);
    EXPECT_FLOAT_EQ(q->scale.y, 25);
    EXPECT_FLOAT_EQ(q->colour.y, 0.25f);
    EXPECT_FLOAT_EQ(q->rt_dimensions.x, 800);
    EXPECT_FLOAT_EQ(q->rt_dimensions.y, 600);
    EXPECT_EQ(q->flags, 0u);
    // The whole target as scissor: left 0, top 600, right 800, bottom 0.
    EXPECT_FLOAT_EQ(q->scissors.x, 0);
    EXPECT_FLOAT_EQ(q->scissors.y, 600);
    EXPECT_FLOAT_EQ(q->scissors.z, 800);
    EXPECT_FLOAT_EQ(q->scissors.w, 0);
}

TEST(Renderer, DrawQuadSkipsOnlyWhatLiesWhollyOutsideVertically) {
    struct { s32 y, h; bool drawn; } cases[] = {
        {-10, 10, true},  // y + h = 0: still drawn
        {-11, 10, false}, // wholly above
        {600, 10, true},  // y = height: still drawn
        {601, 10, false}, // wholly below
        {300, 10, true},
    };
    for (auto &c : cases) {
        start_frame(800, 600);
        draw_quad(0, c.y, 10, c.h, white);
        EXPECT_EQ(renderer_quad_instances.count, c.drawn ? 1u : 0u) << "y " << c.y << " h " << c.h;
    }
}

TEST(Renderer, ScissorEntriesAreAddedOnlyWhenTheRectangleChanges) {
    start_frame(800, 600);
    renderer_set_scissors(Vector2{10, 20}, Vector2{110, 220});
    renderer_set_scissors(Vector2{10, 20}, Vector2{110, 220});
    EXPECT_EQ(renderer_scissors.count, 1u);
    Scissor_Entry *e = renderer_scissor(0);
    EXPECT_EQ(e->first_instance, 0u);
    EXPECT_FLOAT_EQ(e->rectangle.x, 10);
    EXPECT_FLOAT_EQ(e->rectangle.y, 580);
    EXPECT_FLOAT_EQ(e->rectangle.z, 110);
    EXPECT_FLOAT_EQ(e->rectangle.w, 380);

    renderer_draw_quad(0, Vector2{0, 0}, Vector2{5, 5}, white, Vector4{});
    renderer_draw_quad(0, Vector2{0, 0}, Vector2{5, 5}, white, Vector4{});
    renderer_set_scissors(Vector2{0, 0}, Vector2{800, 600});
    renderer_draw_quad(0, Vector2{0, 0}, Vector2{5, 5}, white, Vector4{});
    renderer_set_scissors(Vector2{10, 20}, Vector2{110, 220}); // back to the first: a new entry
    ASSERT_EQ(renderer_scissors.count, 3u);
    EXPECT_EQ(renderer_scissor(1)->first_instance, 2u);
    EXPECT_EQ(renderer_scissor(2)->first_instance, 3u);
    // Each quad carries the scissor current when it was added.
    EXPECT_FLOAT_EQ(renderer_instance(1)->scissors.w, 380);
    EXPECT_FLOAT_EQ(renderer_instance(2)->scissors.w, 0);
}

TEST(Renderer, DrawQuadScissoredSkipsQuadsOutsideTheScissorSpan) {
    Vector2 clip_top_left = {0, 100}, clip_bottom_right = {800, 200};
    struct { f32 y, h; bool drawn; } cases[] = {
        {50, 49, false}, {50, 50, true}, {150, 10, true}, {200, 10, true}, {201, 10, false},
    };
    for (auto &c : cases) {
        start_frame();
        draw_quad_scissored(Vector2{0, c.y}, Vector2{10, c.h}, white, clip_top_left, clip_bottom_right);
        EXPECT_EQ(renderer_quad_instances.count, c.drawn ? 1u : 0u) << "y " << c.y;
        if (c.drawn) {
            EXPECT_FLOAT_EQ(renderer_instance(0)->scissors.y, 500);
        }
    }
}

TEST(Renderer, CombineScissorsIsTheIntersection) {
    Vector2 tl, br;
    combine_scissors(Vector2{0, 10}, Vector2{100, 200}, Vector2{50, 0}, Vector2{300, 150}, &tl, &br);
    EXPECT_FLOAT_EQ(tl.x, 50);
    EXPECT_FLOAT_EQ(tl.y, 10);
    EXPECT_FLOAT_EQ(br.x, 100);
    EXPECT_FLOAT_EQ(br.y, 150);
}

TEST(Renderer, PrepareFrameEmptiesButKeepsCapacity) {
    start_frame();
    for (int i = 0; i < 5000; i++) draw_quad(i % 800, i % 600, 1, 1, black);
    u32 capacity = renderer_quad_instances.capacity;
    EXPECT_EQ(renderer_quad_instances.count, 5000u);
    EXPECT_TRUE(prepare_frame());
    EXPECT_EQ(renderer_quad_instances.count, 0u);
    EXPECT_EQ(renderer_scissors.count, 0u);
    EXPECT_EQ(renderer_quad_instances.capacity, capacity);
}

TEST(Renderer, LinearToSrgbMatchesTheReferenceCurve) {
    struct { f32 linear, srgb; } cases[] = {
        {0, 0}, {0.0031308f, 0.0031308f * 12.92f}, {0.005f, 0.06101f}, {0.18f, 0.46135f}, {1, 1},
    };
    for (auto &c : cases) EXPECT_NEAR(linear_to_srgb(c.linear), c.srgb, 1e-4) << c.linear;
}

TEST(Renderer, BrightnessWeighsGreenMost) {
    EXPECT_NEAR(colour_brightness(white), 1.0f, 1e-6);
    EXPECT_NEAR(colour_brightness(Colour{0, 1, 0, 1}), sqrtf(0.587f), 1e-6);
    EXPECT_LT(colour_brightness(Colour{0, 0, 1, 1}), 0.5f);
    EXPECT_GT(colour_brightness(Colour{1, 1, 0, 1}), 0.5f);
}

TEST(Renderer, RgbaTextureHelpers) {
    u32 a[5] = {}, b[5] = {1, 2, 3, 4, 5};
    clear_rgba_texture(a, 0xFF00FF00u, 4);
    EXPECT_EQ(a[3], 0xFF00FF00u);
    EXPECT_EQ(a[4], 0u);
    copy_rgba_texture(a, b, 2);
    EXPECT_EQ(a[0], 1u);
    EXPECT_EQ(a[1], 2u);
    EXPECT_EQ(a[2], 0xFF00FF00u);
}
