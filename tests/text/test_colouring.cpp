// Palette and colour chunks, context chunks and the colouring state.
#include "text_test_util.h"
#include "text/colouring.h"
#include "text/editing.h"
#include "text/tokeniser.h"
#include "text/undo.h"
#include "text/lines.h"
#include <random>

struct Colouring : Text_Test {
    void add_c_hint() {
        String ext[] = {S("c")};
        Tokenisation_Hint_Description d = {ext, 1, S("//"), S("/*"), S("*/"), TOKEN_DOUBLE_QUOTE | TOKEN_SINGLE_QUOTE};
        add_a_tokenisation_hint_from(&d);
    }
};

static const Colour RED = {1, 0, 0, 1}, BLUE = {0, 0, 1, 1};

TEST_F(Colouring, ChunksStaySortedAndTheFirstColourWins) {
    File *f = open_text(std::string(200, 'x'));
    std::mt19937 rng(5);
    for (int i = 0; i < 300; i++) editor_set_text_colour(f, rng() % 220, 1 + rng() % 9, i % 2 ? RED : BLUE);
    ASSERT_GT(f->colour_chunks.count, 50u);
    Colour_Chunk *c = (Colour_Chunk *)f->colour_chunks.data;
    for (u32 i = 1; i < f->colour_chunks.count; i++) ASSERT_LE(c[i - 1].offset, c[i].offset);
    for (u32 i = 0; i < f->colour_chunks.count; i++) {
        ASSERT_LT(c[i].offset, 200u);                  // past the end: ignored
        ASSERT_LE(c[i].offset + c[i].length, 200u);    // cut to the end
    }
    EXPECT_EQ(f->palette.count, 2u);

    f->colour_chunks.count = 0;
    f->palette.count = 0;
    editor_set_text_colour(f, 10, 5, RED);
    editor_set_text_colour(f, 10, 5, BLUE);
    ASSERT_EQ(f->colour_chunks.count, 1u);
    EXPECT_EQ(memcmp(dynamic_array_get(&f->palette, c[0].palette_index), &RED, sizeof(Colour)), 0);
}

// Chunks that start together: a range coloured again keeps its first colour
// whichever of them is nearest, and a new length goes before the others.
TEST_F(Colouring, ChunksStartingAtTheSameOffset) {
    const Colour GREEN = {0, 1, 0, 1};
    struct Set {
        u64 offset, length;
        Colour colour;
    } sets[] = {{10, 3, BLUE}, {10, 5, RED}, {10, 5, GREEN}, {10, 3, GREEN}, {4, 2, GREEN}, {10, 8, GREEN}};
    struct Expected {
        u64 offset, length;
        const Colour *colour;
    } expected[] = {{4, 2, &GREEN}, {10, 8, &GREEN}, {10, 5, &RED}, {10, 3, &BLUE}};
    // Also with many chunks before and after, where the nearest is found by halving.
    for (u64 filler : {0, 40}) {
        File *f = open_text(std::string(300, 'x'));
        for (u64 i = 0; i < filler; i++) editor_set_text_colour(f, i < filler / 2 ? 200 + i : i - filler / 2, 1, RED);
        for (const Set &s : sets) editor_set_text_colour(f, s.offset + 100, s.length, s.colour);
        Colour_Chunk *c = (Colour_Chunk *)f->colour_chunks.data;
        u32 first = 0;
        while (first < f->colour_chunks.count && c[first].offset < 104) first++;
        ASSERT_EQ(f->colour_chunks.count, filler + ARRAY_COUNT(expected));
        for (u32 i = 0; i < ARRAY_COUNT(expected); i++) {
            EXPECT_EQ(c[first + i].offset, expected[i].offset + 100) << i;
            EXPECT_EQ(c[first + i].length, expected[i].length) << i;
            EXPECT_EQ(memcmp(dynamic_array_get(&f->palette, c[first + i].palette_index), expected[i].colour, sizeof(Colour)), 0) << i;
        }
    }
}

TEST_F(Colouring, ClosestChunk) {
    File *f = open_text(std::string(1000, 'x'));
    EXPECT_EQ(get_colour_chunk_closest_to_offset(f, 3), -1);
    for (u64 o = 0; o < 1000; o += 50 + o % 7) editor_set_text_colour(f, o, 10, RED);
    Colour_Chunk *c = (Colour_Chunk *)f->colour_chunks.data;
    for (u64 probe = 0; probe < 1000; probe += 7) {
        s64 i = get_colour_chunk_closest_to_offset(f, probe);
        ASSERT_GE(i, 0);
        auto distance = [&](u32 k) { return c[k].offset > probe ? c[k].offset - probe : probe - c[k].offset; };
        u64 best = ~0ull;
        for (u32 k = 0; k < f->colour_chunks.count; k++) best = std::min(best, distance(k));
        EXPECT_EQ(distance((u32)i), best) << probe;
    }
}

TEST_F(Colouring, StateAtStartOffset) {
    add_c_hint();
    struct Case {
        std::string text;
        const char *at; // the state is taken at the first occurrence of this marker
        u32 depth;
        u16 literal;
    } cases[] = {
        {"a /* b /* c */ MARK", "MARK", 1, 0},          // nested: one level still open
        {"/* */ */ MARK", "MARK", 0, 0},                // never below zero
        {"x = \"abc MARK\"", "MARK", 0, TOKEN_DOUBLE_QUOTE},
        {"x = \"a\\\"b MARK\"", "MARK", 0, TOKEN_DOUBLE_QUOTE}, // escaped quote does not close
        {"x = \"a\\\\\" MARK", "MARK", 0, 0},          // escaped backslash does, then closes
        {"// \"not a literal\nMARK", "MARK", 0, 0},
        {"// /* not a comment\nMARK", "MARK", 0, 0},
        {"/* \" */ MARK", "MARK", 0, 0},                // quotes inside comments do nothing
        {"'\"' MARK", "MARK", 0, 0},
        {"\"multi\nline MARK", "MARK", 0, TOKEN_DOUBLE_QUOTE},
        {"c = 'x MARK'", "MARK", 0, TOKEN_SINGLE_QUOTE},
    };
    for (const Case &c : cases) {
        File *f = open_text(c.text, "s.c");
        u32 depth;
        u16 literal;
        editor_compute_syntax_state(f, c.text.find(c.at), &depth, &literal);
        EXPECT_EQ(depth, c.depth) << c.text;
        EXPECT_EQ(literal, c.literal) << c.text;
    }
    // A double quote right after an apostrophe opens nothing when apostrophes
    // are not literal delimiters.
    String ext[] = {S("rs")};
    Tokenisation_Hint_Description d = {ext, 1, S("//"), S("/*"), S("*/"), TOKEN_DOUBLE_QUOTE};
    add_a_tokenisation_hint_from(&d);
    File *f = open_text("a '\" MARK", "l.rs");
    u32 depth;
    u16 literal;
    editor_compute_syntax_state(f, 5, &depth, &literal);
    EXPECT_EQ(literal, 0);
}

// Context chunks speed up the scan but must never change its answer, also
// after edits that drop some of them.
TEST_F(Colouring, ContextChunksGiveTheSameStateAfterEdits) {
    add_c_hint();
    std::string text;
    std::mt19937 rng(9);
    const char *lines[] = {"int a; /* open\n", "close */ b\n", "s = \"x\";\n", "// c /* \n", "plain text line\n"};
    while (text.size() < 600000) text += lines[rng() % ARRAY_COUNT(lines)];
    File *f = open_text(text, "big.c");
    File *fresh = add_a_file();
    u32 d0;
    u16 l0;
    editor_compute_syntax_state(f, file_length(f), &d0, &l0);
    ASSERT_GE(f->context_chunks.count, 8u); // one per 64 KiB of scanned text
    for (int round = 0; round < 12; round++) {
        u64 probe = rng() % file_length(f);
        u32 d1, d2;
        u16 l1, l2;
        editor_compute_syntax_state(f, probe, &d1, &l1);
        // Reference: the same text with no chunks at all.
        fresh->text.count = 0;
        dynamic_array_append_bytes(&fresh->text, file_text(f), (u32)file_length(f));
        fresh->context_chunks.count = 0;
        file_set_name(fresh, S("ref.c"));
        editor_compute_syntax_state(fresh, probe, &d2, &l2);
        ASSERT_EQ(d1, d2) << round;
        ASSERT_EQ(l1, l2) << round;
        // Edit somewhere and check the chunks past the edit are gone.
        u64 at = rng() % file_length(f);
        editor_insert_text_at(f, at, S(round % 2 ? "/*" : "*/"), false);
        Context_Chunk *chunks = (Context_Chunk *)f->context_chunks.data;
        for (u32 i = 0; i < f->context_chunks.count; i++) ASSERT_LE(chunks[i].end, at);
    }
}

static int syntax_runs;
static File *syntax_file_seen;
static bool has_block() { return true; }
static void run_block(File *file) {
    syntax_runs++;
    syntax_file_seen = custom_layer_execution_file;
    editor_set_text_colour(file, 0, 1, RED);
}

TEST_F(Colouring, PassRunsOnlyWhenNeeded) {
    add_c_hint();
    text_hooks.custom_layer_has_syntax_block = has_block;
    text_hooks.run_syntax_block = run_block;
    syntax_runs = 0;
    std::string text;
    for (int i = 0; i < 100; i++) text += "line /* x */\n";
    File *f = open_text(text, "v.c");
    EXPECT_TRUE(file_has_flags(f, FILE_NEEDS_COLOURING));
    editor_colour_visible_lines(f, 10, 30);
    EXPECT_EQ(syntax_runs, 1);
    EXPECT_EQ(syntax_file_seen, f);
    EXPECT_EQ(custom_layer_execution_file, nullptr);
    EXPECT_FALSE(file_has_flags(f, FILE_NEEDS_COLOURING));
    u64 s, e;
    u32 depth;
    u8 literal;
    editor_get_syntax_highlighting_info(f, &s, &e, &depth, &literal);
    EXPECT_EQ(s, 9u * 13);
    EXPECT_EQ(e, (30u + COLOURING_MARGIN_LINES) * 13);
    editor_colour_visible_lines(f, 10, 30); // nothing changed
    EXPECT_EQ(syntax_runs, 1);
    editor_colour_visible_lines(f, 11, 31); // scrolled
    EXPECT_EQ(syntax_runs, 2);
    editor_insert_text_at(f, 0, S("/*"), false); // edited
    editor_colour_visible_lines(f, 11, 31);
    EXPECT_EQ(syntax_runs, 3);
    editor_get_syntax_highlighting_info(f, &s, &e, &depth, &literal);
    EXPECT_EQ(depth, 1u);
    EXPECT_EQ(f->colour_chunks.count, 1u); // emptied before the block ran again
    file_set_flags(f, FILE_NEVER_COLOURED | FILE_NEEDS_COLOURING);
    editor_colour_visible_lines(f, 11, 31);
    EXPECT_EQ(syntax_runs, 3);
    EXPECT_EQ(f->colour_chunks.count, 0u);
}

// Context chunks hold comment depths found with one hint's markers; another
// hint (new settings, or a file renamed to another extension) must not
// resume from them.
TEST_F(Colouring, ContextChunksAreDroppedWhenTheHintChanges) {
    add_c_hint();
    std::string text = "/* never closed\n";
    while (text.size() < 300000) text += "(* plain words *)\n";
    File *f = open_text(text, "x.c");
    u32 depth;
    u16 literal;
    editor_compute_syntax_state(f, file_length(f), &depth, &literal);
    ASSERT_GT(f->context_chunks.count, 0u);
    EXPECT_EQ(depth, 1u);

    struct Step {
        const char *name;      // the file's name from here on
        bool pascal_markers;   // the hints now say "(*" and "*)"
        u32 depth;
    } steps[] = {
        {"x.c", true, 0},   // "(*" opens and "*)" closes: nothing open at the end
        {"x.c", false, 1},  // back to the C markers
        {"x.txt", false, 0}, // no hint at all
    };
    for (const Step &s : steps) {
        if (s.pascal_markers) {
            tokenisation_hints_clear();
            String ext[] = {S("c")};
            Tokenisation_Hint_Description d = {ext, 1, S("//"), S("(*"), S("*)"), 0};
            add_a_tokenisation_hint_from(&d);
        } else {
            tokenisation_hints_clear();
            add_c_hint();
        }
        file_set_name(f, S(s.name));
        editor_compute_syntax_state(f, file_length(f), &depth, &literal);
        EXPECT_EQ(depth, s.depth) << s.name << (s.pascal_markers ? " (* *)" : " /* */");
    }
}

// A pass from the same line start reuses the state it scanned before, so
// every way of changing the text before that start must make it scan again:
// after each edit the state handed to #syntax equals a fresh file's.
TEST_F(Colouring, ReusedStateFollowsEveryEditBeforeTheRange) {
    add_c_hint();
    text_hooks.custom_layer_has_syntax_block = has_block;
    text_hooks.run_syntax_block = run_block;
    std::string text;
    for (int i = 0; i < 100; i++) text += "word \"s\" x\n";
    File *f = open_text(text, "r.c");
    u64 start = 50u * 11;
    struct Edit { const char *what; int kind; u64 at; const char *bytes; } edits[] = {
        {"comment opened above", 0, 20, "/*"},
        {"typed below the start", 0, start + 3, "*/"},
        {"raw insert and removal above, the start staying put", 1, 5, "/*"},
        {"again", 1, 60, "*/"},
        {"string opened above", 0, 30, "\""},
        {"removed above", 2, 30, 0},
        {"undo", 3, 0, 0},
        {"undo again", 3, 0, 0},
        {"same-length rewrite above", 4, 2, "/*"},
    };
    for (const Edit &e : edits) {
        editor_colour_range(f, start, start + 200);
        switch (e.kind) {
        case 0: editor_insert_text_at(f, e.at, S(e.bytes), false); break;
        case 1:
            text_raw_insert(f, e.at, (const u8 *)e.bytes, strlen(e.bytes));
            text_raw_remove(f, e.at + strlen(e.bytes), strlen(e.bytes)); // the same line: the start stays
            break;
        case 2: editor_delete_at(f, e.at, 1); break;
        case 3: editor_undo_file(f); break;
        case 4: editor_replace_same_length(f, e.at, (const u8 *)e.bytes, strlen(e.bytes)); break;
        }
        // The range start stays a line start at the same place in the text.
        start = get_offset_at_line(file_text(f), file_length(f), 51);
        file_set_flags(f, FILE_NEEDS_COLOURING);
        editor_colour_range(f, start, start + 200);
        File *fresh = open_text(text_of(f), "fresh.c");
        u32 depth;
        u16 literal;
        editor_compute_syntax_state(fresh, start, &depth, &literal);
        EXPECT_EQ(f->syntax_info.comment_depth, depth) << e.what;
        EXPECT_EQ(f->syntax_info.literal_state, literal) << e.what;
        close_file(fresh);
    }
}

// A jump far past anything scanned does not scan the whole way: the state
// there is guessed from a line start shortly before (outside comments), and
// the chunks that scan leaves say so. Within the limit the state is exact.
TEST_F(Colouring, FarJumpsGuessTheStateInsteadOfScanningEverything) {
    add_c_hint();
    std::string line = "code x = y; // note\n";
    std::string text = "/* never closed\n";
    while (text.size() < 3 * SYNTAX_SCAN_LIMIT) text += line;
    File *f = open_text(text, "far.c");
    struct { u64 target; u32 depth; bool guessed_chunks; } cases[] = {
        {SYNTAX_SCAN_LIMIT / 2, 1, false},      // scanned from the start: inside the comment
        {SYNTAX_SCAN_LIMIT / 2 + 5000, 1, false},
        {3 * SYNTAX_SCAN_LIMIT - 100, 0, true}, // too far past the last chunk: guessed
    };
    for (auto &c : cases) {
        u64 target = get_line_start(file_text(f), c.target);
        u32 depth;
        u16 literal;
        editor_compute_syntax_state(f, target, &depth, &literal);
        EXPECT_EQ(depth, c.depth) << c.target;
        Context_Chunk *chunks = (Context_Chunk *)f->context_chunks.data;
        ASSERT_GT(f->context_chunks.count, 0u);
        EXPECT_EQ(chunks[f->context_chunks.count - 1].pad, c.guessed_chunks ? 1u : 0u) << c.target;
        for (u32 i = 1; i < f->context_chunks.count; i++) ASSERT_LE(chunks[i - 1].end, chunks[i].start);
    }
}
