// Start-up of the assets: memory blocks, the executable's directory and the archive.
#include "core/assets.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include "core/strings.h"

String executable_filepath;
u8 *static_strings;
Pseudo_Exe_Data pseudo_exe_data;
u8 *glyphs_first_page;
u8 *assets_font_data;

// Cuts the last component of a resolved path; the root stays "/".
static s64 directory_length(const char *path, s64 n) {
    s64 slash = n - 1;
    while (slash >= 0 && path[slash] != '/') slash--;
    if (slash <= 0) return 1;
    return slash;
}

String assets_find_executable_directory() {
    char *buffer = (char *)tmp_allocate(4096);
    if (!buffer) return String{};
    ssize_t n = readlink("/proc/self/exe", buffer, 4096);
    if (n <= 0 || n >= 4096) return String{};
    buffer[n] = 0;
    if (buffer[0] != '/') return String{};
    return String{(u8 *)buffer, directory_length(buffer, n)};
}

bool assets_load_archive(const char *path) {
    pseudo_exe_data.count = 0;
    if (!pseudo_exe_data.data) return false;
    int fd = open(path, O_RDONLY);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    if ((u64)st.st_size > PSEUDO_EXE_DATA_MEMORY) {
        fprintf(stderr, "tarno: the assets archive '%s' is larger than %llu bytes; fonts and icons will be missing.\n",
                path, (unsigned long long)PSEUDO_EXE_DATA_MEMORY);
        close(fd);
        return false;
    }
    u64 size = (u64)st.st_size, done = 0;
    while (done < size) {
        ssize_t n = read(fd, pseudo_exe_data.data + done, size - done);
        if (n <= 0) break;
        done += (u64)n;
    }
    close(fd);
    if (done != size) return false;
    pseudo_exe_data.count = (u32)size;
    return true;
}

void init_assets() {
    if (!static_strings) {
        u8 *block = __memory.base ? (u8 *)startup_take(ASSETS_MEMORY) : (u8 *)os_allocate_read_write(ASSETS_MEMORY);
        static_strings = block;
        glyphs_first_page = block + STATIC_STRINGS_MEMORY;
        pseudo_exe_data.data = glyphs_first_page + ASSETS_GLYPHS_PAGE_MEMORY;
        pseudo_exe_data.element_size = 1;
        assets_font_data = pseudo_exe_data.data + PSEUDO_EXE_DATA_MEMORY;
    }

    ssize_t n = readlink("/proc/self/exe", (char *)static_strings, 4096);
    if (n <= 0 || n >= 4096 || static_strings[0] != '/') {
        // Without it nothing next to the executable can be found; the working directory is the best guess.
        fprintf(stderr, "tarno: could not find the executable's directory; using the working directory.\n");
        if (!getcwd((char *)static_strings, 4096)) strcpy((char *)static_strings, ".");
        n = (ssize_t)strlen((char *)static_strings);
        static_strings[n] = 0;
        executable_filepath = String{static_strings, n};
    } else {
        static_strings[n] = 0;
        executable_filepath = String{static_strings, directory_length((const char *)static_strings, n)};
    }

    Tmp_Scope scope;
    const char *archive = executable_filepath.count == 1 && executable_filepath.data[0] == '/'
                              ? "/tarno.data"
                              : to_tmp_c_string(string_concat2("%/tarno.data", executable_filepath));
    assets_load_archive(archive);
}
