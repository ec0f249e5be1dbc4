#!/usr/bin/python3
"""Writes a program of mixed sub-program code in Tarno's extension language
(main.8) and the same program in C (main.c) into DIR.
Usage: gen_program.py DIR NUM_SUB_PROGRAMS"""
import sys

def sub_program(k):
    t = []
    c = []
    callee = f"step{k - 1}(b, a & 255)" if k > 1 else "a"
    ccallee = f"step{k - 1}(b, a & 255)" if k > 1 else "a"
    t += [f"$step{k}: (a: s64, b: s64) -> s64 = {{",
          "    total: s64 = 0;",
          f"    p: Pair;",
          "    p.x = a;",
          f"    p.y = b * {k % 7 + 2};",
          "    i: s64 = 0;",
          "    while i < a {",
          f"        if i % {k % 5 + 2} == 0 {{",
          "            total = total + p.x;",
          "        } else {",
          "            total = total - 1;",
          "        }",
          "        i = i + 1;",
          "    }",
          "    for a, b {",
          f"        total = total + it * {k % 3 + 1};",
          "    }",
          "    switch total & 3 {",
          f"        0: total = total + {k};",
          "        1 {",
          "            total = total * 7;",
          "            p.x = p.x ^ total;",
          "        }",
          "        2: total = total - p.y;",
          "    }",
          f"    if p.x > p.y && total != {k} {{",
          f"        total = total + {callee};",
          "    }",
          "    return total + (a << 2) - (b >> 1);",
          "};",
          ""]
    c += [f"long long step{k}(long long a, long long b) {{",
          "    long long total = 0;",
          "    struct Pair p;",
          "    p.x = a;",
          f"    p.y = b * {k % 7 + 2};",
          "    long long i = 0;",
          "    while (i < a) {",
          f"        if (i % {k % 5 + 2} == 0) {{",
          "            total = total + p.x;",
          "        } else {",
          "            total = total - 1;",
          "        }",
          "        i = i + 1;",
          "    }",
          "    for (long long it = a; it < b; it++) {",
          f"        total = total + it * {k % 3 + 1};",
          "    }",
          "    switch (total & 3) {",
          f"        case 0: total = total + {k}; break;",
          "        case 1: {",
          "            total = total * 7;",
          "            p.x = p.x ^ total;",
          "        } break;",
          "        case 2: total = total - p.y; break;",
          "    }",
          f"    if (p.x > p.y && total != {k}) {{",
          f"        total = total + {ccallee};",
          "    }",
          "    return total + (a << 2) - (b >> 1);",
          "}",
          ""]
    return t, c

def main():
    out, count = sys.argv[1], int(sys.argv[2])
    t = ["$Pair: #struct {", "    x: s64;", "    y: s64;", "};", "", "result: s64;", ""]
    c = ["struct Pair {", "    long long x;", "    long long y;", "};", "", "long long result;", ""]
    for k in range(1, count + 1):
        a, b = sub_program(k)
        t += a
        c += b
    t += ["#on_load {", f"    result = step{count}(10, 20);", "}", ""]
    c += ["void on_load(void) {", f"    result = step{count}(10, 20);", "}", ""]
    open(f"{out}/main.8", "w").write("\n".join(t))
    open(f"{out}/main.c", "w").write("\n".join(c))

main()
