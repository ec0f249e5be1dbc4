#include "text/filepath.h"
#include "core/memory.h"

bool filepath_push(Filepath *path, String component) {
    if (path->count >= FILEPATH_MAX_COMPONENTS) return false;
    if (component.count <= 0 || component.count > FILEPATH_MAX_COMPONENT_BYTES) return false;
    Filepath_Component *c = &path->components[path->count++];
    memcpy(c->buffer, component.data, (size_t)component.count);
    c->buffer[component.count] = 0;
    c->view = String{c->buffer, component.count};
    return true;
}

bool filepath_pop(Filepath *path, Filepath_Component *out_name) {
    if (path->count == 0) return false;
    Filepath_Component *last = &path->components[--path->count];
    if (out_name) {
        memcpy(out_name->buffer, last->buffer, sizeof(out_name->buffer));
        out_name->view = String{out_name->buffer, last->view.count};
    }
    return true;
}

bool string_to_filepath(Filepath *out, const u8 *path, s64 length) {
    out->count = 0;
    s64 i = 0;
    if (length > 0 && path[0] == '/') {
        filepath_push(out, S("/"));
        i = 1;
    }
    while (i < length) {
        s64 start = i;
        while (i < length && path[i] != '/' && path[i] != '\\') i++;
        if (i > start && !filepath_push(out, String{(u8 *)path + start, i - start})) {
            out->count = 0;
            return false;
        }
        i++;
    }
    return true;
}

bool set_filepath_from(Filepath *out, String path) { return string_to_filepath(out, path.data, path.count); }

void filepath_copy(Filepath *to, const Filepath *from) {
    to->count = 0;
    for (u64 i = 0; i < from->count; i++) filepath_push(to, from->components[i].view);
}

static u64 filepath_joined_length(const Filepath *path) {
    u64 n = 0;
    for (u64 i = 0; i < path->count; i++) {
        if (i > 0 && !(i == 1 && path->components[0].view.count == 1 && path->components[0].buffer[0] == '/')) n++;
        n += (u64)path->components[i].view.count;
    }
    return n;
}

static u64 filepath_write(const Filepath *path, u8 *out) {
    u64 n = 0;
    for (u64 i = 0; i < path->count; i++) {
        bool after_root = i == 1 && path->components[0].view.count == 1 && path->components[0].buffer[0] == '/';
        if (i > 0 && !after_root) out[n++] = '/';
        memcpy(out + n, path->components[i].buffer, (size_t)path->components[i].view.count);
        n += (u64)path->components[i].view.count;
    }
    return n;
}

String filepath_to_string(const Filepath *path) {
    u8 *out = (u8 *)tmp_allocate(filepath_joined_length(path) + 1);
    u64 n = filepath_write(path, out);
    out[n] = 0;
    return String{out, (s64)n};
}

const char *filepath_to_c_string(const Filepath *path) { return (const char *)filepath_to_string(path).data; }

const char *filepath_join_c_string(const Filepath *directory, String name) {
    u64 length = filepath_joined_length(directory);
    u8 *out = (u8 *)tmp_allocate(length + 1 + (u64)name.count + 1);
    u64 n = filepath_write(directory, out);
    if (n > 0 && out[n - 1] != '/') out[n++] = '/';
    if (name.count > 0) memcpy(out + n, name.data, (size_t)name.count);
    n += (u64)name.count;
    out[n] = 0;
    return (const char *)out;
}
