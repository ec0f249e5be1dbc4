#!/usr/bin/python3
# Differential test: random programs of s64 arithmetic, comparisons, branches,
# loops and calls, written both as .8 and as C without undefined behaviour
# (wrapping through uint64_t, divisors kept positive), run through
# tarnoc --run and through gcc; their logged lines must agree.
# Usage: differential.py N [TARNOC] [SEED]
import os, random, subprocess, sys, tempfile

N = int(sys.argv[1]) if len(sys.argv) > 1 else 20
TARNOC = sys.argv[2] if len(sys.argv) > 2 else os.path.join(os.path.dirname(__file__), "../../build/bin/tarnoc")
SEED = int(sys.argv[3]) if len(sys.argv) > 3 else 1

def program(rng):
    names = ["v%d" % i for i in range(6)]
    e8, c = [], []
    for n in names:
        v = rng.randint(-1000, 1000)
        e8.append(f"    {n}: s64 = {v};")
        c.append(f"    int64_t {n} = {v};")
    def statement(depth):
        d, a, b = rng.choice(names), rng.choice(names), rng.choice(names)
        kind = rng.randint(0, 9 if depth < 2 else 6)
        if kind <= 2:
            op = rng.choice(["+", "-", "*", "&", "|", "^"])
            return [f"{d} = {a} {op} {b};"], [f"{d} = (int64_t)((uint64_t){a} {op} (uint64_t){b});"]
        if kind == 3:
            return [f"{d} = {a} / (({b} & 1023) + 1);"], [f"{d} = {a} / (({b} & 1023) + 1);"]
        if kind == 4:
            return [f"{d} = {a} % (({b} & 255) + 1);"], [f"{d} = {a} % (({b} & 255) + 1);"]
        if kind == 5:
            k = rng.randint(0, 20)
            return [f"{d} = {a} << {k};"], [f"{d} = (int64_t)((uint64_t){a} << {k});"]
        if kind == 6:
            k = rng.randint(-9, 9)
            return [f"{d} = add3({a}, {b}, {k});"], [f"{d} = add3({a}, {b}, {k});"]
        if kind <= 8:
            cmp = rng.choice(["<", "<=", ">", ">=", "==", "!="])
            s8, sc = statement(depth + 1)
            t8, tc = statement(depth + 1)
            return ([f"if {a} {cmp} {b} {{ {' '.join(s8)} }} else {{ {' '.join(t8)} }}"],
                    [f"if ({a} {cmp} {b}) {{ {' '.join(sc)} }} else {{ {' '.join(tc)} }}"])
        count = rng.randint(1, 6)
        s8, sc = statement(depth + 1)
        return ([f"{{ k{depth}: s64 = 0; while k{depth} < {count} {{ {' '.join(s8)} k{depth} = k{depth} + 1; }} }}"],
                [f"{{ int64_t k{depth} = 0; while (k{depth} < {count}) {{ {' '.join(sc)} k{depth} = k{depth} + 1; }} }}"])
    for _ in range(rng.randint(5, 25)):
        s8, sc = statement(0)
        e8 += ["    " + x for x in s8]
        c += ["    " + x for x in sc]
    for n in names:
        e8.append(f"    log(int_to_string({n}));")
        c.append(f"    print_number({n});")
    src8 = "$add3: (a: s64, b: s64, c: s64) -> s64 = { return a + b + c; };\n#on_load {\n" + "\n".join(e8) + "\n}\n"
    srcc = ("#include <stdint.h>\n#include <stdio.h>\n#include <inttypes.h>\n"
            "static int64_t add3(int64_t a, int64_t b, int64_t c) { return (int64_t)((uint64_t)a + (uint64_t)b + (uint64_t)c); }\n"
            "static void print_number(int64_t v) { char d[32]; int n = 0; uint64_t u = v < 0 ? 0 - (uint64_t)v : (uint64_t)v;\n"
            "  do { if (n % 4 == 3) d[n++] = ','; d[n++] = '0' + u % 10; u /= 10; } while (u);\n"
            "  if (v < 0) d[n++] = '-'; while (n) putchar(d[--n]); putchar('\\n'); }\n"
            "int main(void) {\n" + "\n".join(c) + "\n    return 0;\n}\n")
    return src8, srcc

def main():
    rng = random.Random(SEED)
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for case in range(N):
            src8, srcc = program(rng)
            p8, pc, exe = f"{work}/t.8", f"{work}/t.c", f"{work}/t"
            open(p8, "w").write(src8)
            open(pc, "w").write(srcc)
            subprocess.run(["gcc", "-O1", "-o", exe, pc], check=True)
            want = subprocess.run([exe], capture_output=True, text=True).stdout
            got = subprocess.run([TARNOC, "--run", p8], capture_output=True, text=True)
            if got.returncode != 0 or got.stdout != want:
                failures += 1
                print(f"case {case} differs (status {got.returncode}):\n{src8}\n--- tarnoc\n{got.stdout}{got.stderr}--- gcc\n{want}")
                if failures >= 3: break
    print(f"{N} cases, {failures} differing")
    return 1 if failures else 0

sys.exit(main())
