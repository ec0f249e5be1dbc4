// Machine description from /proc, os-release and CPUID.
#include "core/system_info.h"

#include <cpuid.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>
#include "core/strings.h"

bool linux_read_whole_proc_file(Dynamic_Array *out, const char *path, s64 length) {
    dynamic_array_init(out, 1);
    if (!path || length <= 0) return false;
    Tmp_Scope scope;
    int fd = open(to_tmp_c_string(String{(u8 *)path, length}), O_RDONLY);
    if (fd < 0) return false;
    for (;;) {
        u8 *chunk = (u8 *)dynamic_array_add_fast_multiple(out, 1024);
        ssize_t n = read(fd, chunk, 1024);
        out->count -= 1024 - (u32)(n > 0 ? n : 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
    }
    close(fd);
    return true;
}

static bool is_blank(u8 c) { return c == ' ' || c == '\t' || c == '\r'; }

static String trim(String s) {
    while (s.count > 0 && is_blank(s.data[0])) s.data++, s.count--;
    while (s.count > 0 && is_blank(s.data[s.count - 1])) s.count--;
    return s;
}

String find_key_value(String text, String key, u8 separator) {
    s64 i = 0;
    while (i < text.count) {
        s64 line_end = i;
        while (line_end < text.count && text.data[line_end] != '\n') line_end++;
        String line = {text.data + i, line_end - i};
        const u8 *sep = get_first_character_in_string_like(line.data, line.count, separator);
        if (sep) {
            String k = trim(String{line.data, sep - line.data});
            if (string_equal(k, key)) {
                String v = trim(String{(u8 *)sep + 1, line.data + line.count - sep - 1});
                if (v.count >= 2 && v.data[0] == '"' && v.data[v.count - 1] == '"') v.data++, v.count -= 2;
                return v;
            }
        }
        i = line_end + 1;
    }
    return String{};
}

static u64 string_to_u64(String s) {
    u64 value = 0;
    for (s64 i = 0; i < s.count && s.data[i] >= '0' && s.data[i] <= '9'; i++) value = value * 10 + (s.data[i] - '0');
    return value;
}

static String read_proc_value(const char *path, String key, u8 separator, Dynamic_Array *file) {
    if (!linux_read_whole_proc_file(file, path, (s64)strlen(path))) return String{};
    return find_key_value(dynamic_array_as_string(file), key, separator);
}

void os_get_computer_info(Computer_Info *out) {
    *out = Computer_Info{};
    out->os = OS_LINUX;
#if defined(__x86_64__)
    out->isa = ISA_AMD64;
#elif defined(__aarch64__)
    out->isa = ISA_ARM64;
#elif defined(__i386__)
    out->isa = ISA_X86;
#endif
    Dynamic_Array file;
    out->num_logical_processors = (u16)string_to_u64(read_proc_value("/proc/cpuinfo", S("siblings"), ':', &file));
    out->num_physical_cores = (u16)string_to_u64(find_key_value(dynamic_array_as_string(&file), S("cpu cores"), ':'));
    dynamic_array_free(&file);

    String mem_total = read_proc_value("/proc/meminfo", S("MemTotal"), ':', &file);
    out->usable_ram = string_to_u64(mem_total) * 1024;
    dynamic_array_free(&file);

    // The Strings outlive the file: copy them to temporary memory.
    out->os_name = tcopy_string(read_proc_value("/usr/lib/os-release", S("PRETTY_NAME"), '=', &file));
    out->os_version = tcopy_string(find_key_value(dynamic_array_as_string(&file), S("VERSION_ID"), '='));
    dynamic_array_free(&file);
}

const char *isa_to_c_string(u32 isa) {
    switch (isa) {
    case ISA_X86: return "x86";
    case ISA_AMD64: return "AMD64";
    case ISA_ARM64: return "ARM64";
    case ISA_IA64: return "IA64";
    case ISA_ARM: return "ARM";
    }
    return "unknown";
}

const char *os_get_cpu_model_c_string() {
    char *out = (char *)tmp_allocate(64);
    if (!out) return "";
    memset(out, 0, 64);
#if defined(__x86_64__) || defined(__i386__)
    u32 regs[4];
    if (__get_cpuid(0x80000000, &regs[0], &regs[1], &regs[2], &regs[3]) && regs[0] >= 0x80000004) {
        for (u32 leaf = 0; leaf < 3; leaf++) {
            __get_cpuid(0x80000002 + leaf, &regs[0], &regs[1], &regs[2], &regs[3]);
            memcpy(out + leaf * 16, regs, 16);
        }
    }
#endif
    out[48] = 0;
    // Vendors pad the brand string with leading spaces.
    char *p = out;
    while (*p == ' ') p++;
    return p;
}
