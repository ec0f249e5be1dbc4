// The one translation unit that compiles the stb_sprintf engine.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
// Byte-wise copies: the unaligned word loads trip the sanitizer build.
#define STB_SPRINTF_NOUNALIGNED
#define STB_SPRINTF_IMPLEMENTATION
#include <stb/stb_sprintf.h>
#pragma GCC diagnostic pop
