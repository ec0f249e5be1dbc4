#!/usr/bin/python3
# Differential test of the whole compiler: random programs written both as .8
# and as C, run through `tarnoc --run` and through gcc; every logged line must
# agree. A case is one random sub-program (parameters and locals of every
# integer type, arithmetic, casts, shifts, rotations, comparisons, if chains,
# loops, switches, calls of random helpers and of a recursive one) called
# with three sets of arguments. Many cases share one program, so thousands
# run in seconds.
#
# The C side has no undefined behaviour and follows the .8 rules:
#   - + - * wrap around in the operands' type;
#   - / and % truncate toward zero; divisors are never 0, and never -1 in 32
#     and 64 bits (that one faults in .8, as the smallest value over -1 does);
#   - << and >> move bits within 64 bits and truncate to the type: a count of
#     the type's width or more (a negative one counts as huge) gives 0, or
#     the sign in every bit for >> of a signed value;
#   - <<< and >>> rotate within the type's width by the count modulo the width;
#   - casts truncate, or extend by the source's signedness.
#
# Usage: differential.py [--cases N] [--per-program K] [--seed S] [--jobs J]
#                        [--tarnoc PATH] [--keep DIR]
# `differential.py --cases 10000` is the full run.
import argparse, concurrent.futures, os, random, re, subprocess, sys, tempfile

TYPES = {
    "s8": (8, True), "s16": (16, True), "s32": (32, True), "s64": (64, True),
    "u8": (8, False), "u16": (16, False), "u32": (32, False), "u64": (64, False),
}
C_TYPES = {t: ("int%d_t" if s else "uint%d_t") % b for t, (b, s) in TYPES.items()}
NAMES = list(TYPES)

C_PRELUDE = r"""#include <stdint.h>
#include <stdio.h>
#include <string.h>
static void print_number(int64_t v) {
    char d[40]; int n = 0; uint64_t u = v < 0 ? 0 - (uint64_t)v : (uint64_t)v;
    do { if (n % 4 == 3) d[n++] = ','; d[n++] = (char)('0' + u % 10); u /= 10; } while (u);
    if (v < 0) d[n++] = '-';
    while (n) putchar(d[--n]);
    putchar('\n');
}
#define OPS(T, W, UT, IS_SIGNED) \
static T add_##T(T a, T b) { return (T)((uint64_t)a + (uint64_t)b); } \
static T sub_##T(T a, T b) { return (T)((uint64_t)a - (uint64_t)b); } \
static T mul_##T(T a, T b) { return (T)((uint64_t)a * (uint64_t)b); } \
static T div_##T(T a, T b) { return (T)(a / b); } \
static T mod_##T(T a, T b) { return (T)(a % b); } \
static T and_##T(T a, T b) { return (T)(a & b); } \
static T or_##T(T a, T b) { return (T)(a | b); } \
static T xor_##T(T a, T b) { return (T)(a ^ b); } \
static T neg_##T(T a) { return (T)(0 - (uint64_t)a); } \
static T not_##T(T a) { return (T)~(uint64_t)a; } \
static T shl_##T(T a, T c) { uint64_t n = (uint64_t)(int64_t)c; if (!IS_SIGNED) n = (uint64_t)c; \
    return n >= W ? 0 : (T)((uint64_t)a << n); } \
static T shr_##T(T a, T c) { uint64_t n = (uint64_t)(int64_t)c; if (!IS_SIGNED) n = (uint64_t)c; \
    if (IS_SIGNED) return (T)((int64_t)a >> (n >= 63 ? 63 : n)); \
    return n >= 64 ? 0 : (T)((uint64_t)a >> n); } \
static T rol_##T(T a, T c) { uint64_t n = (uint64_t)(int64_t)c; if (!IS_SIGNED) n = (uint64_t)c; \
    n %= W; UT x = (UT)a; return n ? (T)(UT)((x << n) | (x >> (W - n))) : a; } \
static T ror_##T(T a, T c) { uint64_t n = (uint64_t)(int64_t)c; if (!IS_SIGNED) n = (uint64_t)c; \
    n %= W; UT x = (UT)a; return n ? (T)(UT)((x >> n) | (x << (W - n))) : a; }
OPS(int8_t, 8, uint8_t, 1) OPS(int16_t, 16, uint16_t, 1) OPS(int32_t, 32, uint32_t, 1) OPS(int64_t, 64, uint64_t, 1)
OPS(uint8_t, 8, uint8_t, 0) OPS(uint16_t, 16, uint16_t, 0) OPS(uint32_t, 32, uint32_t, 0) OPS(uint64_t, 64, uint64_t, 0)
"""

ARITHMETIC = [("+", "add"), ("-", "sub"), ("*", "mul"), ("&", "and"), ("|", "or"), ("^", "xor")]
SHIFTS = [("<<", "shl"), (">>", "shr"), ("<<<", "rol"), (">>>", "ror")]
COMPARISONS = ["<", "<=", ">", ">=", "==", "!="]


def type_range(t):
    bits, signed = TYPES[t]
    return (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)


def literal(t, v):
    """A constant of type t in both languages (the .8 one untyped, taking its type from the other operand)."""
    bits, signed = TYPES[t]
    if signed and v < 0:
        return f"(-{-v})", f"(({C_TYPES[t]})(-{-v}LL))" if v != -(1 << 63) else f"(({C_TYPES[t]})(-{(1 << 63) - 1}LL - 1))"
    return f"{v}", f"(({C_TYPES[t]}){v}ULL)"


def c_name(n):
    """Members reached through the pointer `ps` are written with '->' in C."""
    return n.replace("ps.", "ps->")


class Gen:
    def __init__(self, rng):
        self.rng = rng
        self.counter = 0
        self.helpers = []  # (name, type)

    def fresh(self, prefix):
        self.counter += 1
        return f"{prefix}{self.counter}"

    def value(self, t):
        lo, hi = type_range(t)
        bits = TYPES[t][0]
        r = self.rng.random()
        if r < 0.25:
            return self.rng.choice([0, 1, 2, 3, lo, hi, lo + 1, hi - 1] + ([-1, -2] if lo < 0 else []))
        if r < 0.45:
            k = self.rng.randint(0, bits - 1)
            v = (1 << k) + self.rng.choice([-1, 0, 1])
            if lo < 0 and self.rng.random() < 0.5: v = -v
            return max(lo, min(hi, v))
        if r < 0.7:
            return self.rng.randint(max(lo, -300), min(hi, 300))
        return self.rng.randint(lo, hi)

    def constant(self, t):
        v = self.value(t)
        if t == "s64" and v == -(1 << 63): v += 1  # the literal 9223372036854775808 does not fit s64
        return literal(t, v) + (True,)

    # [expressions] Every generator returns (.8 text, C text, is_constant).
    def leaf(self, t, scope):
        vars_t = [n for n, vt in scope if vt == t]
        if vars_t and self.rng.random() < 0.75:
            n = self.rng.choice(vars_t)
            return n, c_name(n), False
        if scope and self.rng.random() < 0.5:
            n, vt = self.rng.choice(scope)
            return f"cast({n}, {t})", f"(({C_TYPES[t]}){c_name(n)})", False
        return self.constant(t)

    def dynamic(self, t, scope, depth):
        """An expression that is not a constant (so nothing folds at compile time)."""
        for _ in range(10):
            e = self.expr(t, scope, depth)
            if not e[2]: return e
        vars_t = [n for n, vt in scope if vt == t]
        if vars_t:
            n = self.rng.choice(vars_t)
            return n, c_name(n), False
        n, vt = self.rng.choice(scope)
        return f"cast({n}, {t})", f"(({C_TYPES[t]}){c_name(n)})", False

    def divisor(self, t, scope, depth):
        bits, signed = TYPES[t]
        ct = C_TYPES[t]
        r = self.rng.random()
        if r < 0.3:
            while True:
                v = self.value(t)
                if v != 0 and not (v == -1 and bits >= 32): break
            return literal(t, v) + (True,)
        e8, ec, _ = self.dynamic(t, scope, depth + 1)
        if r < 0.6:
            mask = (1 << self.rng.randint(0, bits - 2)) - 1
            return f"(({e8} & {mask}) + 1)", f"add_{ct}(and_{ct}({ec}, ({ct}){mask}), ({ct})1)", False
        if signed:  # even and never -1: bit 0 clear, bit 1 set
            return f"(({e8} & (-2)) | 2)", f"or_{ct}(and_{ct}({ec}, ({ct})-2), ({ct})2)", False
        return f"({e8} | 1)", f"or_{ct}({ec}, ({ct})1)", False

    def shift_count(self, t, scope, depth):
        bits = TYPES[t][0]
        lo, hi = type_range(t)
        if self.rng.random() < 0.6:
            v = self.rng.choice([0, 1, bits - 1, bits, bits + 1, self.rng.randint(0, bits + 3), self.rng.randint(0, bits - 1)])
            if v > hi: v = hi
            return literal(t, v) + (True,)
        return self.dynamic(t, scope, depth + 1)

    def condition_value(self, scope, depth):
        u = self.rng.choice(NAMES)
        a = self.dynamic(u, scope, depth + 1)
        b = self.expr(u, scope, depth + 1)
        op = self.rng.choice(COMPARISONS)
        if b[2] and not TYPES[u][1] and op in ("<", ">=") and b[1].endswith(")0ULL)"):
            op = "<="  # comparing an unsigned value with 0 that way is refused
        return f"({a[0]} {op} {b[0]})", f"({a[1]} {op} {b[1]})"

    def expr(self, t, scope, depth=0):
        ct = C_TYPES[t]
        r = self.rng.random()
        if depth >= 3 or r < 0.22:
            return self.leaf(t, scope)
        if r < 0.50:
            sym, name = self.rng.choice(ARITHMETIC)
            a = self.expr(t, scope, depth + 1)
            b = self.dynamic(t, scope, depth + 1) if a[2] else self.expr(t, scope, depth + 1)
            if self.rng.random() < 0.5: a, b = b, a
            return f"({a[0]} {sym} {b[0]})", f"{name}_{ct}({a[1]}, {b[1]})", False
        if r < 0.58:
            sym, name = self.rng.choice([("/", "div"), ("%", "mod")])
            a = self.dynamic(t, scope, depth + 1)
            b = self.divisor(t, scope, depth)
            return f"({a[0]} {sym} {b[0]})", f"{name}_{ct}({a[1]}, {b[1]})", False
        if r < 0.68:
            sym, name = self.rng.choice(SHIFTS)
            a = self.dynamic(t, scope, depth + 1)
            b = self.shift_count(t, scope, depth)
            return f"({a[0]} {sym} {b[0]})", f"{name}_{ct}({a[1]}, {b[1]})", False
        if r < 0.74:
            a = self.dynamic(t, scope, depth + 1)
            if self.rng.random() < 0.5:
                return f"(-{a[0]})", f"neg_{ct}({a[1]})", False
            return f"(~{a[0]})", f"not_{ct}({a[1]})", False
        if r < 0.84:
            u = self.rng.choice(NAMES)
            a = self.dynamic(u, scope, depth + 1)
            return f"cast({a[0]}, {t})", f"(({ct}){a[1]})", False
        if r < 0.89:
            c8, cc = self.condition_value(scope, depth)
            return f"cast({c8}, {t})", f"(({ct}){cc})", False
        helpers = [h for h, ht in self.helpers if ht == t]
        if helpers:
            h = self.rng.choice(helpers)
            a = self.expr(t, scope, depth + 1)
            b = self.dynamic(t, scope, depth + 1)
            if h.startswith("r"):
                n = self.rng.randint(0, 6)
                return f"{h}({n}, {a[0]})", f"{h}({n}, {a[1]})", False
            return f"{h}({a[0]}, {b[0]})", f"{h}({a[1]}, {b[1]})", False
        return self.leaf(t, scope)

    # [conditions]
    def condition_part(self, scope):
        if self.rng.random() < 0.15:
            n, vt = self.rng.choice(scope)
            return n, f"({c_name(n)} != 0)"
        return self.condition_value(scope, 1)

    def condition(self, scope):
        parts = [self.condition_part(scope) for _ in range(self.rng.choice([1, 1, 1, 2, 2, 3]))]
        e8, ec = parts[0]
        for p8, pc in parts[1:]:
            join = self.rng.choice(["&&", "||"])
            # .8 groups '&&' and '||' from the left at one level.
            e8, ec = f"{e8} {join} {p8}", f"({ec} {join} {pc})"
        return e8, ec

    # [statements] Each returns (list of .8 lines, list of C lines).
    def assignable(self, scope):
        return [(n, vt) for n, vt in scope if not n.startswith("i")]

    def statement(self, scope, depth, in_loop):
        rng = self.rng
        targets = self.assignable(scope)
        r = rng.random()
        if depth >= 3 or r < 0.45:
            n, t = rng.choice(targets)
            ct = C_TYPES[t]
            if rng.random() < 0.3:
                kind = rng.random()
                if kind < 0.6:
                    sym, name = rng.choice(ARITHMETIC)
                    e = self.expr(t, scope, 1)
                elif kind < 0.8:
                    sym, name = rng.choice(SHIFTS)
                    e = self.shift_count(t, scope, 1)
                else:
                    sym, name = rng.choice([("/", "div"), ("%", "mod")])
                    e = self.divisor(t, scope, 1)
                return [f"{n} {sym}= {e[0]};"], [f"{c_name(n)} = {name}_{ct}({c_name(n)}, {e[1]});"]
            e = self.expr(t, scope)
            return [f"{n} = {e[0]};"], [f"{c_name(n)} = {e[1]};"]
        if r < 0.62:
            c8, cc = self.condition(scope)
            a8, ac = self.block(scope, depth + 1, in_loop)
            lines8, linesc = [f"if {c8} {{"] + a8, [f"if ({cc}) {{"] + ac
            if rng.random() < 0.3:
                d8, dc = self.condition(scope)
                b8, bc = self.block(scope, depth + 1, in_loop)
                lines8 += [f"}} else if {d8} {{"] + b8
                linesc += [f"}} else if ({dc}) {{"] + bc
            if rng.random() < 0.6:
                b8, bc = self.block(scope, depth + 1, in_loop)
                lines8 += ["} else {"] + b8
                linesc += ["} else {"] + bc
            return lines8 + ["}"], linesc + ["}"]
        if r < 0.72:
            k = self.fresh("k")
            count = rng.randint(0, 5)
            b8, bc = self.block(scope, depth + 1, False)
            return ([f"{k}: s32 = 0;", f"while {k} < {count} {{", f"    {k} += 1;"] + b8 + ["}"],
                    [f"int32_t {k} = 0;", f"while ({k} < {count}) {{", f"    {k} += 1;"] + bc + ["}"])
        if r < 0.82:
            i = self.fresh("i")
            start, end = rng.randint(0, 3), rng.randint(0, 7)
            inner = scope + [(i, "u64")]
            b8, bc = self.block(inner, depth + 1, True)
            # Constant bounds the other way round count down to the bound, included
            # (never down to 0: an unsigned index cannot go below it).
            test = f"{i} < {end}; {i}++" if start <= end else f"{i} >= {end}; {i}--"
            if start > end and end == 0: start, end, test = end, start, f"{i} < {start}; {i}++"
            return ([f"for {start}, {end} -> {i} {{"] + b8 + ["}"],
                    [f"for (uint64_t {i} = {start}; {test}) {{"] + bc + ["}"])
        if r < 0.88 and in_loop:
            c8, cc = self.condition(scope)
            word = rng.choice(["break", "continue"])
            return [f"if {c8} {{ {word}; }}"], [f"if ({cc}) {{ {word}; }}"]
        if r < 0.94:
            n, t = rng.choice(scope)
            ct = C_TYPES[t]
            values = []
            while len(values) < rng.randint(1, 4):
                v = self.value(t)
                if v not in values: values.append(v)
            lines8, linesc = [f"switch {n} {{"], [f"switch ({c_name(n)}) {{"]
            groups = [values[:1], values[1:]] if len(values) > 1 and rng.random() < 0.5 else [[v] for v in values]
            for g in groups:
                if not g: continue
                b8, bc = self.block(scope, depth + 1, False)
                lines8 += [f"    {', '.join(literal(t, v)[0] for v in g)}: {{"] + b8 + ["    }"]
                linesc += [f"    {' '.join('case %s:' % literal(t, v)[1] for v in g)} {{"] + bc + ["    break; }"]
            if rng.random() < 0.6:
                b8, bc = self.block(scope, depth + 1, False)
                lines8 += ["    else: {"] + b8 + ["    }"]
                linesc += ["    default: {"] + bc + ["    break; }"]
            return lines8 + ["}"], linesc + ["}"]
        n, t = rng.choice(targets)
        return [f"log(int_to_string(cast({n}, s64)));"], [f"print_number((int64_t){c_name(n)});"]

    def block(self, scope, depth, in_loop):
        b8, bc = [], []
        for _ in range(self.rng.choice([1, 1, 2, 3])):
            s8, sc = self.statement(scope, depth, in_loop)
            b8 += ["    " + x for x in s8]
            bc += ["    " + x for x in sc]
        return b8, bc

    # [sub-programs]
    def helper(self):
        t = self.rng.choice(NAMES)
        ct = C_TYPES[t]
        scope = [("x", t), ("y", t)]
        if self.rng.random() < 0.3:
            name = self.fresh("r")
            e = self.dynamic(t, [("x", t)], 1)
            self.helpers.append((name, t))
            src8 = f"${name}: (n: u32, x: {t}) -> {t} = {{\n    if n == 0 {{ return x; }}\n    return {name}(n - 1, {e[0]});\n}};"
            srcc = (f"static {ct} {name}(uint32_t n, {ct} x) {{\n    if (n == 0) {{ return x; }}\n"
                    f"    return {name}(n - 1, {e[1]});\n}}")
            return src8, srcc
        name = self.fresh("h")
        e = self.dynamic(t, scope, 1)
        self.helpers.append((name, t))
        return (f"${name}: (x: {t}, y: {t}) -> {t} = {{ return {e[0]}; }};",
                f"static {ct} {name}({ct} x, {ct} y) {{ return {e[1]}; }}")

    def case(self, index):
        rng = self.rng
        name = f"case{index}"
        params = [(f"p{j}", rng.choice(NAMES)) for j in range(rng.randint(1, 4))]
        result = rng.choice(NAMES)
        scope = list(params) + self.globals
        body8, bodyc = [], []
        if rng.random() < 0.5:
            # A struct in memory, its members reached directly and through an address.
            body8 += ["    st: S;", "    ps: @ S = @st;"]
            bodyc += ["    struct S st;", "    memset(&st, 0, sizeof st);", "    struct S *ps = &st;"]
            for m, t in self.members:
                scope.append((rng.choice(["st.", "ps."]) + m, t))
            # Its first bytes through an address of u8, indexed by a narrow parameter.
            p, t = rng.choice(params)
            body8.append("    pb: @ u8 = cast(@st, @ u8);")
            bodyc.append("    uint8_t *pb = (uint8_t *)&st;")
            scope.append((f"pb[({p} & 3)]", "u8"))
        if rng.random() < 0.3:
            t = rng.choice(NAMES)
            body8 += [f"    w: {t} = {literal(t, self.value(t))[0]};", f"    pw: @ {t} = @w;"]
            bodyc += [f"    {C_TYPES[t]} w = {literal(t, self.value(t))[1]};", f"    {C_TYPES[t]} *pw = &w;"]
            body8[-2:] = [f"    w: {t} = 0;", f"    pw: @ {t} = @w;"]
            bodyc[-2:] = [f"    {C_TYPES[t]} w = 0;", f"    {C_TYPES[t]} *pw = &w;"]
            scope += [("w", t), ("pw[0]", t)]
        for j in range(rng.randint(2, 4)):
            t = rng.choice(NAMES)
            v = f"v{j}"
            e = self.expr(t, scope, 1)
            body8.append(f"    {v}: {t} = {e[0]};")
            bodyc.append(f"    {C_TYPES[t]} {v} = {e[1]};")
            scope.append((v, t))
        for _ in range(rng.randint(2, 5)):
            s8, sc = self.statement(scope, 0, False)
            body8 += ["    " + x for x in s8]
            bodyc += ["    " + x for x in sc]
        for v, t in scope:
            if v.startswith(("v", "st.", "g")):
                body8.append(f"    log(int_to_string(cast({v}, s64)));")
                bodyc.append(f"    print_number((int64_t){v});")
        e = self.expr(result, scope)
        body8.append(f"    return {e[0]};")
        bodyc.append(f"    return {e[1]};")
        sig8 = ", ".join(f"{p}: {t}" for p, t in params)
        sigc = ", ".join(f"{C_TYPES[t]} {p}" for p, t in params)
        src8 = f"${name}: ({sig8}) -> {result} = {{\n" + "\n".join(body8) + "\n};"
        srcc = f"static {C_TYPES[result]} {name}({sigc}) {{\n" + "\n".join(bodyc) + "\n}"
        calls8, callsc = [f'    log("#{index}");'], [f'    puts("#{index}");']
        for _ in range(3):
            args = [literal(t, self.value(t) if t != "s64" else max(self.value(t), -(1 << 63) + 1)) for _, t in params]
            calls8.append(f"    log(int_to_string(cast({name}({', '.join(a[0] for a in args)}), s64)));")
            callsc.append(f"    print_number((int64_t){name}({', '.join(a[1] for a in args)}));")
        return src8, srcc, calls8, callsc


def program(seed, first, count):
    g = Gen(random.Random(seed))
    parts8, partsc, main8, mainc = [], [C_PRELUDE], [], []
    g.members = [(f"m{j}", g.rng.choice(NAMES)) for j in range(4)]
    parts8.append("$S: #struct {\n" + "\n".join(f"    {m}: {t};" for m, t in g.members) + "\n};")
    partsc.append("struct S {\n" + "\n".join(f"    {C_TYPES[t]} {m};" for m, t in g.members) + "\n};")
    g.globals = [(f"g{j}", g.rng.choice(NAMES)) for j in range(4)]
    parts8 += [f"{n}: {t};" for n, t in g.globals]
    partsc += [f"static {C_TYPES[t]} {n};" for n, t in g.globals]
    for _ in range(max(2, count // 4)):
        h8, hc = g.helper()
        parts8.append(h8)
        partsc.append(hc)
    for k in range(first, first + count):
        s8, sc, c8, cc = g.case(k)
        parts8.append(s8)
        partsc.append(sc)
        main8 += c8
        mainc += cc
    src8 = "\n".join(parts8) + "\n#on_load {\n" + "\n".join(main8) + "\n}\n"
    srcc = "\n".join(partsc) + "\nint main(void) {\n" + "\n".join(mainc) + "\n    return 0;\n}\n"
    return src8, srcc


def split_cases(text):
    cases, current = {}, None
    for line in text.splitlines():
        m = re.fullmatch(r"#(\d+)", line)
        if m:
            current = int(m.group(1))
            cases[current] = []
        elif current is not None:
            cases[current].append(line)
    return cases


def case_source(src8, index):
    m = re.search(r"^\$case%d: .*?^\};" % index, src8, re.S | re.M)
    return m.group(0) if m else "(not found)"


def run_batch(args, work, batch):
    first = batch * args.per_program
    count = min(args.per_program, args.cases - first)
    src8, srcc = program(args.seed * 1000003 + batch, first, count)
    p8, pc, exe = f"{work}/b{batch}.8", f"{work}/b{batch}.c", f"{work}/b{batch}"
    with open(p8, "w") as f: f.write(src8)
    with open(pc, "w") as f: f.write(srcc)
    cc = subprocess.run(["gcc", "-O0", "-w", "-o", exe, pc], capture_output=True, text=True)
    if cc.returncode != 0:
        return count, [f"batch {batch}: gcc failed:\n{cc.stderr[:3000]}"]
    want = subprocess.run([exe], capture_output=True, text=True).stdout
    got = subprocess.run([args.tarnoc, "--run", p8], capture_output=True, text=True)
    problems = []
    if got.returncode != 0:
        problems.append(f"batch {batch} ({p8}): tarnoc --run exit status {got.returncode}\n{got.stderr[:3000]}")
    if got.stdout != want:
        w, g = split_cases(want), split_cases(got.stdout)
        for k in range(first, first + count):
            if w.get(k) != g.get(k):
                problems.append(f"case {k} differs (batch {batch}, {p8}):\n{case_source(src8, k)}\n"
                                f"--- tarnoc\n" + "\n".join(g.get(k, ["(missing)"])) +
                                "\n--- gcc\n" + "\n".join(w.get(k, [])))
                if len(problems) >= 3: break
    return count, problems


def main():
    ap = argparse.ArgumentParser(description="tarnoc --run against gcc on random programs")
    ap.add_argument("--cases", type=int, default=2000)
    ap.add_argument("--per-program", type=int, default=100)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    ap.add_argument("--tarnoc", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../build/bin/tarnoc"))
    ap.add_argument("--keep", help="write the programs into this directory and keep them")
    args = ap.parse_args()
    batches = (args.cases + args.per_program - 1) // args.per_program
    with tempfile.TemporaryDirectory() as tmp:
        work = args.keep or tmp
        os.makedirs(work, exist_ok=True)
        done, failures = 0, []
        with concurrent.futures.ThreadPoolExecutor(args.jobs) as pool:
            for count, problems in pool.map(lambda b: run_batch(args, work, b), range(batches)):
                done += count
                failures += problems
        for f in failures[:10]: print(f, "\n")
    print(f"{done} cases, {len(failures)} differing")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
