// Thousands of random edit sequences on random texts (CR LF, CR, LF and
// multi-byte UTF-8): undoing everything must give back the exact original
// bytes, and the line helpers must agree with a naive count at every step.
#include "text_test_util.h"
#include "text/editing.h"
#include "text/lines.h"
#include "text/undo.h"
#include "text/colouring.h"
#include "text/tokeniser.h"
#include <random>

static const char *PIECES[] = {"a", "xyz", " ", "  ", "\t", "\r", "\n", "\r\n", "=", "(", ")", "\"", "1.5",
                               "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\x80", "_w", "->", "."};

static std::string random_text(std::mt19937 &rng, size_t max) {
    std::string t;
    size_t target = rng() % max;
    while (t.size() < target) t += PIECES[rng() % ARRAY_COUNT(PIECES)];
    return t;
}

static u64 naive_lines(const std::string &t) {
    u64 n = 1;
    for (size_t i = 0; i < t.size(); i++) {
        if (t[i] == '\r') {
            n++;
            if (i + 1 < t.size() && t[i + 1] == '\n') i++;
        } else if (t[i] == '\n') {
            n++;
        }
    }
    return n;
}

struct Undo_Property : Text_Test {};

TEST_F(Undo_Property, UndoingEverythingRestoresTheOriginalBytes) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < 2500; round++) {
        std::string original = random_text(rng, 120);
        File *f = open_text(original);
        int ops = 1 + (int)(rng() % 40);
        for (int op = 0; op < ops; op++) {
            fake_now += rng() % 700000; // some typing merges, some does not
            u64 length = file_length(f);
            u64 a = length ? rng() % (length + 1) : 0, b = length ? rng() % (length + 1) : 0;
            switch (rng() % 9) {
            case 0:
                editor_insert_text_at(f, a, S(PIECES[rng() % ARRAY_COUNT(PIECES)]), rng() % 2);
                break;
            case 1: {
                editor_set_cursor(f, a);
                int n = 1 + (int)(rng() % 4);
                for (int i = 0; i < n; i++) editor_insert_character(f, (u32[]){'q', 0xE9, 0x20AC, 0x1F600, '\n'}[rng() % 5]);
                break;
            }
            case 2:
                editor_delete_at(f, a, rng() % 6);
                break;
            case 3:
                f->cursor = a;
                f->selection_anchor = b;
                file_set_flags(f, FILE_SELECTION_ACTIVE);
                file_update_selection_pointers(f);
                editor_delete_selection();
                break;
            case 4:
                editor_change_case(f, a < b ? a : b, a < b ? b - a : a - b, rng() % 2);
                break;
            case 5:
                f->cursor = a;
                f->selection_anchor = b;
                file_update_selection_pointers(f);
                editor_align_selection_on_token_at_cursor();
                file_clear_flags(f, FILE_SELECTION_ACTIVE);
                break;
            case 6: {
                u64 offsets[2] = {a < b ? a : b, a < b ? b : a}, counts[2] = {1 + rng() % 3, 1 + rng() % 3};
                editor_insert_padding(f, offsets, counts, 2);
                break;
            }
            case 7:
                editor_undo(); // undo in the middle of the sequence too
                break;
            case 8:
                f->cursor = a;
                f->selection_anchor = b;
                file_set_flags(f, FILE_SELECTION_ACTIVE);
                file_update_selection_pointers(f);
                editor_insert_text(f, S("\r\n"), false);
                break;
            }
            ASSERT_LE(f->cursor, file_length(f));
            ASSERT_LE(f->selection_anchor, file_length(f));
            std::string now = text_of(f);
            ASSERT_EQ(count_lines_in(file_text(f), file_length(f)), naive_lines(now));
            // The line of a random offset, and the start of that line.
            u64 probe = now.empty() ? 0 : rng() % (now.size() + 1);
            u64 line = naive_lines(now.substr(0, probe));
            if (probe > 0 && probe < now.size() && now[probe - 1] == '\r' && now[probe] == '\n') line--;
            ASSERT_EQ(editor_get_line_at_offset(f, probe), line);
            bool inside_cr_lf = probe > 0 && probe < now.size() && now[probe - 1] == '\r' && now[probe] == '\n';
            u64 start = inside_cr_lf ? probe - 1 : probe; // the middle of a CR LF belongs to the line before
            while (start > 0 && now[start - 1] != '\r' && now[start - 1] != '\n') start--;
            ASSERT_EQ(get_offset_at_line(file_text(f), file_length(f), line), start) << testing::PrintToString(now) << " @" << probe;
        }
        while (editor_undo()) {
        }
        ASSERT_EQ(text_of(f), original) << "round " << round;
        close_file(f);
    }
}

// Arguments from the custom layer can be anything: offsets past the end,
// huge counts, lines that do not exist. Nothing may crash, positions stay
// inside the text, and undoing everything still gives the original back.
TEST_F(Undo_Property, ArbitraryArgumentsStayInsideTheText) {
    std::mt19937 rng(31337);
    auto any = [&](u64 length) -> u64 {
        switch (rng() % 4) {
        case 0: return length ? rng() % length : 0;
        case 1: return length + rng() % 3;
        case 2: return ((u64)rng() << 32) | rng();
        default: return ~0ull - rng() % 3;
        }
    };
    for (int round = 0; round < 400; round++) {
        std::string original = random_text(rng, 80);
        File *f = open_text(original);
        current_file = f;
        std::string trace; // the calls made, shown when the text does not come back
        for (int op = 0; op < 30; op++) {
            u64 length = file_length(f);
            u64 a = any(length), b = any(length);
            Editor_Token token, tokens[2] = {{a, (u32)b, TOKEN_WORD, 0}, {b, 1, TOKEN_NEW_LINE, 0}};
            int kind = (int)(rng() % 14);
            trace += std::to_string(kind) + "(" + std::to_string(a) + "," + std::to_string(b) + ") ";
            switch (kind) {
            case 0: editor_insert_text_at(f, a, S("x\r\n"), rng() % 2); break;
            case 1: editor_delete_at(f, a, b); break;
            case 2: editor_change_case(f, a, b, rng() % 2); break;
            case 3: editor_set_cursor(f, a); break;
            case 4: set_cursor_at_column(f, b, tokens, tokens + 2); break;
            case 5: {
                u64 offsets[2] = {a < b ? a : b, a < b ? b : a}, counts[2] = {any(8), any(8)};
                editor_insert_padding(f, offsets, counts, 2);
                break;
            }
            case 6: EXPECT_EQ(editor_get_text_at(f, a, b) != nullptr, a + b < length && a + b >= a); break;
            case 7: EXPECT_LE(get_whitespace_at(f, a).count, (s64)length); break;
            case 8: EXPECT_LE(editor_get_line_at_offset(f, a), count_lines_in(file_text(f), length)); break;
            case 9: {
                s64 at = editor_get_token_at_offset(f, a, &token);
                if (at >= 0) {
                    EXPECT_LE(token.offset + token.length, length);
                }
                at = editor_get_previous_token(f, a, &token);
                if (at >= 0) {
                    EXPECT_LE(token.offset + token.length, length);
                }
                break;
            }
            case 10: {
                // Chunks are only good from a colouring pass until the next edit.
                editor_colour_visible_lines(f, a, b);
                editor_set_text_colour(f, a, b, Colour{1, 1, 1, 1});
                Colour_Chunk *chunks = (Colour_Chunk *)f->colour_chunks.data;
                for (u32 i = 0; i < f->colour_chunks.count; i++) ASSERT_LE(chunks[i].offset + chunks[i].length, length);
                break;
            }
            case 11:
                f->selection_anchor = a > length ? length : a;
                file_set_flags(f, FILE_SELECTION_ACTIVE);
                editor_copy_selection_to_clipboard(1, 0);
                editor_insert_text(f, editor_text_to_paste(), false);
                break;
            case 12: EXPECT_LE(get_cursor_column(f, a), length); break;
            case 13: editor_undo(); break;
            }
            ASSERT_LE(f->cursor, file_length(f));
            ASSERT_LE(f->selection_anchor, file_length(f));
            ASSERT_TRUE(*f->selection_start <= *f->selection_end);
        }
        while (editor_undo()) {
        }
        ASSERT_EQ(text_of(f), original) << "round " << round << trace;
        close_file(f);
    }
}
