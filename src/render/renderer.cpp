// Frame building: quads and scissors appended to plain arrays. Nothing here
// touches OpenGL, so frames can be built and inspected without a GPU.
#include "render/renderer.h"
#include <math.h>

Renderer_Info renderer_info;
Gl_State gl_state;
Dynamic_Array renderer_quad_instances;
Dynamic_Array renderer_scissors;
const Colour white = {1, 1, 1, 1};
const Colour black = {0, 0, 0, 1};
u64 renderer_num_draw_calls;

void renderer_init_headless(u32 width, u32 height) {
    if (renderer_quad_instances.element_size != sizeof(Quad_Instance))
        dynamic_array_init(&renderer_quad_instances, sizeof(Quad_Instance), 1024);
    if (renderer_scissors.element_size != sizeof(Scissor_Entry))
        dynamic_array_init(&renderer_scissors, sizeof(Scissor_Entry), 64);
    renderer_quad_instances.count = 0;
    renderer_scissors.count = 0;
    renderer_info.width = width;
    renderer_info.height = height;
}

static Vector4 current_scissor_rectangle() {
    if (renderer_scissors.count == 0) {
        // Callers should set a scissor first; fall back to the whole target.
        return Vector4{0, (f32)renderer_info.height, (f32)renderer_info.width, 0};
    }
    return renderer_scissor(renderer_scissors.count - 1)->rectangle;
}

void renderer_set_scissors(Vector2 top_left, Vector2 bottom_right) {
    f32 h = (f32)renderer_info.height;
    Vector4 r = {top_left.x, h - top_left.y, bottom_right.x, h - bottom_right.y};
    if (renderer_scissors.count) {
        Vector4 c = renderer_scissor(renderer_scissors.count - 1)->rectangle;
        if (c.x == r.x && c.y == r.y && c.z == r.z && c.w == r.w) return;
    }
    Scissor_Entry *e = (Scissor_Entry *)dynamic_array_add(&renderer_scissors);
    e->first_instance = renderer_quad_instances.count;
    e->rectangle = r;
}

void combine_scissors(Vector2 a_top_left, Vector2 a_bottom_right, Vector2 b_top_left, Vector2 b_bottom_right,
                      Vector2 *out_top_left, Vector2 *out_bottom_right) {
    out_top_left->x = fmaxf(a_top_left.x, b_top_left.x);
    out_top_left->y = fmaxf(a_top_left.y, b_top_left.y);
    out_bottom_right->x = fminf(a_bottom_right.x, b_bottom_right.x);
    out_bottom_right->y = fminf(a_bottom_right.y, b_bottom_right.y);
}

Quad_Instance *renderer_draw_quad(u32 flags, Vector2 top_left, Vector2 size, Colour colour, Vector4 texture_rectangle) {
    Quad_Instance *q = (Quad_Instance *)dynamic_array_add(&renderer_quad_instances);
    f32 hw = size.x * 0.5f, hh = size.y * 0.5f;
    q->position = Vector2{top_left.x + hw, (f32)renderer_info.height - (top_left.y + hh)};
    q->scale = Vector2{hw, hh};
    q->colour = colour;
    q->texture_coords = texture_rectangle;
    q->scissors = current_scissor_rectangle();
    q->rt_dimensions = Vector2{(f32)renderer_info.width, (f32)renderer_info.height};
    q->flags = flags;
    return q;
}

void draw_quad(s32 x, s32 y, s32 w, s32 h, Colour colour) {
    if (y + h < 0 || y > (s32)renderer_info.height) return;
    renderer_set_scissors(Vector2{0, 0}, Vector2{(f32)renderer_info.width, (f32)renderer_info.height});
    renderer_draw_quad(0, Vector2{(f32)x, (f32)y}, Vector2{(f32)w, (f32)h}, colour, Vector4{});
}

void draw_quad_scissored(Vector2 top_left, Vector2 size, Colour colour, Vector2 scissor_top_left,
                         Vector2 scissor_bottom_right) {
    if (top_left.y > scissor_bottom_right.y || top_left.y + size.y < scissor_top_left.y) return;
    renderer_set_scissors(scissor_top_left, scissor_bottom_right);
    renderer_draw_quad(0, top_left, size, colour, Vector4{});
}

void copy_rgba_texture(u32 *destination, const u32 *source, u64 pixel_count) {
    memcpy(destination, source, pixel_count * 4);
}

void clear_rgba_texture(u32 *destination, u32 rgba, u64 pixel_count) {
    for (u64 i = 0; i < pixel_count; i++) destination[i] = rgba;
}

f32 colour_brightness(Colour c) {
    return sqrtf(0.299f * c.x * c.x + 0.587f * c.y * c.y + 0.114f * c.z * c.z);
}

f32 linear_to_srgb(f32 l) {
    if (l <= 0.0031308f) return l * 12.92f;
    return 1.055f * powf(l, 1.0f / 2.4f) - 0.055f;
}
