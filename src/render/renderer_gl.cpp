// The OpenGL side of the renderer: one program, one instance buffer, one
// instanced draw per frame, and the single-channel font map.
#include "render/renderer.h"
#include "render/render_log.h"
#include "render/window.h"
#include <epoxy/gl.h>

static const char *OPENGL_VERTEX_SHADER = R"(#version 450 core
layout(location = 0) in vec2 vertex_position;
layout(location = 1) in vec2 vertex_uvs;
layout(location = 2) in vec2 position;
layout(location = 3) in vec2 scale;
layout(location = 4) in vec4 colour;
layout(location = 5) in vec4 texture_coords;
layout(location = 6) in vec4 scissors;
layout(location = 7) in vec2 rt_dimensions;
layout(location = 8) in uint flags;

out vec2 uvs;
out vec4 texture_rectangle;
out vec4 scissor_rectangle;
out vec4 quad_colour;
flat out uint quad_flags;

void main() {
    vec2 p = position + scale * vertex_position;
    gl_Position = vec4((p / rt_dimensions) * 2.0 - 1.0, 0.0, 1.0);
    uvs = vertex_uvs;
    texture_rectangle = texture_coords;
    scissor_rectangle = scissors;
    quad_colour = colour;
    quad_flags = flags;
}
)";

static const char *OPENGL_PIXEL_SHADER = R"(#version 450 core
uniform sampler2D font_map;

in vec2 uvs;
in vec4 texture_rectangle;
in vec4 scissor_rectangle;
in vec4 quad_colour;
flat in uint quad_flags;

out vec4 final_colour;

float to_srgb(float l) {
    if (l <= 0.0031308) return l * 12.92;
    return 1.055 * pow(l, 1.0 / 2.4) - 0.055;
}

void main() {
    // Clipping per quad: the scissor edges themselves are outside.
    vec2 f = gl_FragCoord.xy;
    bool inside = f.x > scissor_rectangle.x && f.x < scissor_rectangle.z &&
                  f.y > scissor_rectangle.w && f.y < scissor_rectangle.y;
    vec4 colour = quad_colour * (inside ? 1.0 : 0.0);

    // Texture rectangles are fractions of the whole 8192-row map (top-down);
    // the texture holds only its top rows so far, stored bottom-up.
    vec2 uv = mix(texture_rectangle.xy, texture_rectangle.zw, uvs);
    uv.y = 1.0 - uv.y * (8192.0 / float(textureSize(font_map, 0).y));
    float alpha = texture(font_map, uv).r;
    if ((quad_flags & 1u) != 0u) colour.a *= alpha;

    final_colour = vec4(to_srgb(colour.r), to_srgb(colour.g), to_srgb(colour.b), colour.a);
}
)";

static const f32 QUAD_VERTICES[16] = {
    -1, -1, 0, 0,
    1, -1, 1, 0,
    -1, 1, 0, 1,
    1, 1, 1, 1,
};

bool renderer_has_gl() { return gl_state.program != 0; }

// [SECTION] The font map
//
// The map is 8192 x 8192 single-channel texels, but a session's glyphs fill
// only its top rows. The texture holds just those rows and doubles when a
// glyph lands below them, so start-up never waits for (and the driver never
// keeps) 64 MB nobody has drawn into. Texture rectangles stay fractions of
// the whole map; the pixel shader scales them to the rows held.
constexpr u32 FONT_MAP_FIRST_ROWS = 256;
static u32 font_map_rows;

static u32 create_font_map_texture(u32 rows) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, FONT_MAP_SIDE, (GLsizei)rows, 0, GL_RED, GL_UNSIGNED_BYTE, nullptr);
    // Linear filtering reads the one-texel gaps around glyphs: they must be empty.
    const u8 zero = 0;
    glClearTexImage(texture, 0, GL_RED, GL_UNSIGNED_BYTE, &zero);
    return texture;
}

// Makes the texture hold at least the top `rows` rows of the map, keeping
// what was uploaded (stored bottom-up, the old rows move to the new top).
static void font_map_hold_rows(u32 rows) {
    if (rows <= font_map_rows) return;
    u32 grown = font_map_rows;
    while (grown < rows) grown *= 2;
    if (grown > FONT_MAP_SIDE) grown = FONT_MAP_SIDE;
    u32 fresh = create_font_map_texture(grown);
    glCopyImageSubData(gl_state.font_map, GL_TEXTURE_2D, 0, 0, 0, 0, fresh, GL_TEXTURE_2D, 0, 0,
                       (GLint)(grown - font_map_rows), 0, (GLsizei)FONT_MAP_SIDE, (GLsizei)font_map_rows, 1);
    glDeleteTextures(1, &gl_state.font_map);
    gl_state.font_map = fresh;
    font_map_rows = grown;
    glBindTexture(GL_TEXTURE_2D, fresh);
    render_log(RENDER_LOG_GRAPHICS, "Font map grown to %u rows.", grown);
}

u32 renderer_font_map_rows() { return font_map_rows; }

static u32 compile_shader(GLenum kind, const char *source, const char *kind_name) {
    GLuint shader = glCreateShader(kind);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char info[1024] = {};
        glGetShaderInfoLog(shader, sizeof info, nullptr, info);
        render_log(RENDER_LOG_GRAPHICS, "OpenGL: Failed to compile %s shader with error:\n%s", kind_name, info);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

// Compiles and links the program; 0 on failure (already logged).
u32 renderer_build_program(const char *vertex_source, const char *pixel_source) {
    u32 vs = compile_shader(GL_VERTEX_SHADER, vertex_source, "vertex");
    if (!vs) return 0;
    u32 ps = compile_shader(GL_FRAGMENT_SHADER, pixel_source, "pixel");
    if (!ps) {
        glDeleteShader(vs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, ps);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(ps);
    GLint ok = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char info[1024] = {};
        glGetProgramInfoLog(program, sizeof info, nullptr, info);
        glDeleteProgram(program);
        render_log(RENDER_LOG_GRAPHICS, "OpenGL: glLinkProgram() failed with the following error:\n%s", info);
        return 0;
    }
    return program;
}

bool init_renderer(GLFWwindow *window_handle, u32 width, u32 height) {
    renderer_init_headless(width, height);
    renderer_info.window = window_handle;
    const char *version = (const char *)glGetString(GL_VERSION);
    render_log(RENDER_LOG_GRAPHICS, "OpenGL version: %s", version ? version : "(none)");

    u32 program = renderer_build_program(OPENGL_VERTEX_SHADER, OPENGL_PIXEL_SHADER);
    if (!program) return false;
    glUseProgram(program);

    glCreateVertexArrays(1, &gl_state.vertex_array);
    glCreateBuffers(1, &gl_state.quad_vertex_buffer);
    glCreateBuffers(1, &gl_state.instance_buffer);
    glNamedBufferData(gl_state.quad_vertex_buffer, sizeof QUAD_VERTICES, QUAD_VERTICES, GL_STATIC_DRAW);

    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glActiveTexture(GL_TEXTURE0);

    font_map_rows = 0;
    gl_state.font_map = create_font_map_texture(FONT_MAP_FIRST_ROWS);
    font_map_rows = FONT_MAP_FIRST_ROWS;
    glUniform1i(glGetUniformLocation(program, "font_map"), 0);

    gl_state.program = program;
    glViewport(0, 0, (GLsizei)width, (GLsizei)height);
    render_log(RENDER_LOG_GRAPHICS, "Initialised OpenGL.\n");
    return true;
}

void resize_render_target(u32 width, u32 height) {
    renderer_info.width = width;
    renderer_info.height = height;
    if (renderer_has_gl()) glViewport(0, 0, (GLsizei)width, (GLsizei)height);
}

bool prepare_frame() {
    renderer_quad_instances.count = 0;
    renderer_scissors.count = 0;
    if (renderer_has_gl()) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    return true;
}

struct Attribute_Layout {
    const char *name;
    GLint components;
    u32 offset;
    bool is_integer;
};

static const Attribute_Layout INSTANCE_ATTRIBUTES[] = {
    {"position", 2, 0, false},        {"scale", 2, 8, false},     {"colour", 4, 16, false},
    {"texture_coords", 4, 32, false}, {"scissors", 4, 48, false}, {"rt_dimensions", 2, 64, false},
    {"flags", 1, 72, true},
};

void renderer_draw_frame() {
    if (!renderer_has_gl()) return;
    u32 program = gl_state.program;
    glUseProgram(program);
    glBindVertexArray(gl_state.vertex_array);
    glBindTexture(GL_TEXTURE_2D, gl_state.font_map);

    glBindBuffer(GL_ARRAY_BUFFER, gl_state.quad_vertex_buffer);
    static const Attribute_Layout VERTEX_ATTRIBUTES[] = {{"vertex_position", 2, 0, false}, {"vertex_uvs", 2, 8, false}};
    for (const Attribute_Layout &a : VERTEX_ATTRIBUTES) {
        GLint location = glGetAttribLocation(program, a.name);
        if (location < 0) continue;
        glEnableVertexAttribArray((GLuint)location);
        glVertexAttribPointer((GLuint)location, a.components, GL_FLOAT, GL_FALSE, 16, (void *)(uintptr_t)a.offset);
        glVertexAttribDivisor((GLuint)location, 0);
    }

    u32 count = renderer_quad_instances.count;
    glBindBuffer(GL_ARRAY_BUFFER, gl_state.instance_buffer);
    glBufferData(GL_ARRAY_BUFFER, (GLsizeiptr)count * sizeof(Quad_Instance), renderer_quad_instances.data,
                 GL_DYNAMIC_DRAW);
    for (const Attribute_Layout &a : INSTANCE_ATTRIBUTES) {
        GLint location = glGetAttribLocation(program, a.name);
        if (location < 0) continue;
        glEnableVertexAttribArray((GLuint)location);
        if (a.is_integer)
            glVertexAttribIPointer((GLuint)location, a.components, GL_UNSIGNED_INT, sizeof(Quad_Instance),
                                   (void *)(uintptr_t)a.offset);
        else
            glVertexAttribPointer((GLuint)location, a.components, GL_FLOAT, GL_FALSE, sizeof(Quad_Instance),
                                  (void *)(uintptr_t)a.offset);
        glVertexAttribDivisor((GLuint)location, 1);
    }

    if (count) {
        glDrawArraysInstanced(GL_TRIANGLE_STRIP, 0, 4, (GLsizei)count);
        renderer_num_draw_calls++;
    }
}

void swap_buffers(bool vsync) {
    if (!renderer_has_gl()) return;
    renderer_draw_frame();
    platform_present(vsync);
}

void renderer_upload_glyph_to_font_map(const u8 *bitmap, u32 width, u32 height, u32 x, u32 y) {
    if (!renderer_has_gl() || !width || !height) return;
    font_map_hold_rows(y + height);
    glBindTexture(GL_TEXTURE_2D, gl_state.font_map);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexSubImage2D(GL_TEXTURE_2D, 0, (GLint)x, (GLint)(font_map_rows - (y + height)), (GLsizei)width,
                    (GLsizei)height, GL_RED, GL_UNSIGNED_BYTE, bitmap);
}
