// What the start-up log says about the machine: processor, memory, system.
#pragma once
#include "core/base.h"
#include "core/memory.h"

enum Os_Kind : u32 { OS_UNKNOWN = 0, OS_WINDOWS = 1, OS_LINUX = 2, OS_MACOS = 3 };
enum Isa_Kind : u32 { ISA_UNKNOWN = 0, ISA_X86 = 1, ISA_AMD64 = 2, ISA_ARM64 = 3, ISA_IA64 = 4, ISA_ARM = 5 };

struct Computer_Info {
    u64 usable_ram; // bytes
    u32 os;         // Os_Kind
    u32 isa;        // Isa_Kind
    u16 num_physical_cores;
    u16 num_logical_processors;
    String os_name;    // temporary memory
    String os_version; // temporary memory
};

// Unreadable system files leave their fields zero or empty.
void os_get_computer_info(Computer_Info *out);
const char *isa_to_c_string(u32 isa);
// The processor's brand string (64 bytes of temporary memory); "" when not reported.
const char *os_get_cpu_model_c_string();
// Reads a whole /proc file (their size is unknown to stat) in 1,024-byte
// chunks into `out` (element size 1, initialised here; the caller frees it).
// `length` is the path's byte count. False when it cannot be opened.
bool linux_read_whole_proc_file(Dynamic_Array *out, const char *path, s64 length);

// Value of the first "key<sep>value" line whose trimmed key equals `key`,
// trimmed of blanks and surrounding double quotes; empty when absent.
String find_key_value(String text, String key, u8 separator);
