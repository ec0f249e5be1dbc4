// The renderer: every quad of a frame goes into one CPU-side array and is
// drawn by one instanced draw call. Clipping travels with each quad, so
// scissor changes never split the draw.
//
// Index:
//   [SECTION] Records and globals
//   [SECTION] Frame building (no OpenGL: testable headless)
//   [SECTION] OpenGL side
#pragma once
#include "core/base.h"
#include "core/memory.h"

struct GLFWwindow;

// [SECTION] Records and globals

struct Vector2 { f32 x, y; };
struct Vector4 { f32 x, y, z, w; };
typedef Vector4 Colour; // RGBA, linear

enum Quad_Instance_Flags : u32 {
    QUAD_INSTANCE_GLYPH = 0x01,
};

// One instance; its layout is also the vertex-attribute layout (stride 76).
struct Quad_Instance {
    Vector2 position;       // centre, bottom-up pixels
    Vector2 scale;          // half width, half height
    Colour colour;
    Vector4 texture_coords; // s0, t0, s1, t1; zero for solid quads
    Vector4 scissors;       // left, top, right, bottom in bottom-up pixels
    Vector2 rt_dimensions;
    u32 flags;
};
static_assert(sizeof(Quad_Instance) == 76);

struct Scissor_Entry {
    u32 first_instance; // first quad drawn under this rectangle
    Vector4 rectangle;  // bottom-up
};
static_assert(sizeof(Scissor_Entry) == 20);

struct Renderer_Info {
    u32 width, height; // render target
    GLFWwindow *window;
};

struct Gl_State {
    u32 program;
    u32 quad_vertex_buffer;
    u32 instance_buffer;
    u32 vertex_array;
    u32 font_map;
};

constexpr u32 FONT_MAP_SIDE = 8192;

extern Renderer_Info renderer_info;
extern Gl_State gl_state;
extern Dynamic_Array renderer_quad_instances; // of Quad_Instance
extern Dynamic_Array renderer_scissors;       // of Scissor_Entry
extern const Colour white;
extern const Colour black;
// Draw calls issued by swap_buffers since start-up.
extern u64 renderer_num_draw_calls;

// [SECTION] Frame building (no OpenGL: testable headless)

// Empties both arrays and stores the target size; no OpenGL is touched.
// Lets tests and benchmarks build frames without a context.
void renderer_init_headless(u32 width, u32 height);
void resize_render_target(u32 width, u32 height);
bool prepare_frame();
// Top-left and bottom-right in top-down window pixels.
void renderer_set_scissors(Vector2 top_left, Vector2 bottom_right);
void combine_scissors(Vector2 a_top_left, Vector2 a_bottom_right, Vector2 b_top_left, Vector2 b_bottom_right,
                      Vector2 *out_top_left, Vector2 *out_bottom_right);
Quad_Instance *renderer_draw_quad(u32 flags, Vector2 top_left, Vector2 size, Colour colour, Vector4 texture_rectangle);
void draw_quad(s32 x, s32 y, s32 w, s32 h, Colour colour);
void draw_quad_scissored(Vector2 top_left, Vector2 size, Colour colour, Vector2 scissor_top_left,
                         Vector2 scissor_bottom_right);

inline Quad_Instance *renderer_instance(u32 index) {
    return dynamic_array_at<Quad_Instance>(&renderer_quad_instances, index);
}
inline Scissor_Entry *renderer_scissor(u32 index) {
    return dynamic_array_at<Scissor_Entry>(&renderer_scissors, index);
}

void copy_rgba_texture(u32 *destination, const u32 *source, u64 pixel_count);
void clear_rgba_texture(u32 *destination, u32 rgba, u64 pixel_count);

// The perceived brightness of a colour: sqrt(0.299 r² + 0.587 g² + 0.114 b²).
f32 colour_brightness(Colour c);
// Linear to sRGB for one channel, as the pixel shader does it.
f32 linear_to_srgb(f32 l);

// [SECTION] OpenGL side (needs a current 4.5 core context)

bool init_renderer(GLFWwindow *window, u32 width, u32 height);
// Uploads the instances and draws them all with one call, without presenting
// (tests read the pixels back from here).
void renderer_draw_frame();
// renderer_draw_frame, then present with or without vertical sync.
void swap_buffers(bool vsync);
// The font map is stored bottom-up; (x, y) is its top-down position.
void renderer_upload_glyph_to_font_map(const u8 *bitmap, u32 width, u32 height, u32 x, u32 y);
bool renderer_has_gl();
// Rows of the font map the texture holds so far (it grows on demand; 0 without OpenGL).
u32 renderer_font_map_rows();
