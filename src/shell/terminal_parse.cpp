// Output of a terminal result: appending raw bytes under the 1 MiB rule and
// turning them into coloured chunks, resumable at any byte.
#include "shell/terminal.h"

const Terminal_Colour terminal_small_colour_table[16] = {
    {0, 0, 0, 1},       {0.5f, 0, 0, 1},    {0, 0.5f, 0, 1}, {0.5f, 0.5f, 0, 1}, {0, 0, 0.5f, 1},    {0.5f, 0, 0.5f, 1},
    {0, 0.5f, 0.5f, 1}, {0.5f, 0.5f, 0.5f, 1}, {0.3f, 0.3f, 0.3f, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}, {1, 1, 0, 1},
    {0, 0, 1, 1},       {1, 0, 1, 1},       {0, 1, 1, 1},    {1, 1, 1, 1},
};
Terminal_Colour terminal_big_colour_table[256];

void terminal_fill_colour_tables() {
    for (u32 i = 0; i < 16; i++) terminal_big_colour_table[i] = terminal_small_colour_table[i];
    for (u32 r = 0; r < 6; r++)
        for (u32 g = 0; g < 6; g++)
            for (u32 b = 0; b < 6; b++)
                terminal_big_colour_table[16 + 36 * r + 6 * g + b] = Terminal_Colour{r / 6.0f, g / 6.0f, b / 6.0f, 1};
    for (u32 k = 0; k < 24; k++) terminal_big_colour_table[232 + k] = Terminal_Colour{k / 24.0f, k / 24.0f, k / 24.0f, 1};
}

Terminal_Colour terminal_colour(Terminal_Result *result, u16 index) {
    if (index < TERMINAL_PALETTE_BASE) return terminal_big_colour_table[index];
    u32 i = index - TERMINAL_PALETTE_BASE;
    if (i < result->palette.count) return *dynamic_array_at<Terminal_Colour>(&result->palette, i);
    return terminal_big_colour_table[TERMINAL_WHITE];
}

static void terminal_reset_parse_state(Terminal_Result *result) {
    result->parse_position = 0;
    result->chunks.count = 0;
    result->line_chunks.count = 0;
    *(u32 *)dynamic_array_add(&result->line_chunks) = 0;
    result->palette.count = 0;
    result->line_count = 1;
    result->default_colours = 1;
    result->foreground = TERMINAL_WHITE;
    result->background = TERMINAL_BLACK;
}

void terminal_result_init_output(Terminal_Result *result) {
    dynamic_array_init(&result->output, 1);
    dynamic_array_init(&result->chunks, sizeof(Terminal_Chunk));
    dynamic_array_init(&result->line_chunks, sizeof(u32));
    dynamic_array_init(&result->palette, sizeof(Terminal_Colour));
    terminal_reset_parse_state(result);
}

// Drops the oldest output so that `keep` bytes remain, cut at a line start
// when one is near, and shifts the chunks instead of tokenising again: the
// colours in force stay as they were. The smaller copies are built from the
// result without changing it (only its worker writes it, so that needs no
// lock); terminal_swap_in_dropped then exchanges them in constant time, so
// the view never waits for the copying.
// An array of at least `capacity` elements, empty: the spare's when it is
// big enough (no fresh pages to fault in), else a new one.
static void terminal_take_array(Dynamic_Array *to, Dynamic_Array *spare, u32 element_size, u64 capacity) {
    if (spare && spare->element_size == element_size && spare->capacity >= capacity) {
        *to = *spare;
        to->count = 0;
        *spare = Dynamic_Array{};
        return;
    }
    dynamic_array_init(to, element_size, (u32)capacity);
}

void terminal_keep_spare(Terminal_Dropped *spare, Terminal_Dropped *used) {
    terminal_free_dropped(spare);
    *spare = *used;
    *used = Terminal_Dropped{};
}

bool terminal_build_dropped(Terminal_Result *result, u64 keep, Terminal_Dropped *out, Terminal_Dropped *spare) {
    u64 count = result->output.count;
    if (count <= keep) return false;
    u64 drop = count - keep;
    const u8 *bytes = (const u8 *)result->output.data;
    // Prefer a whole first line: the first line break within 4 KiB.
    for (u64 i = drop, limit = drop + 4096 < count ? drop + 4096 : count; i < limit; i++)
        if (bytes[i - 1] == '\n') {
            drop = i;
            break;
        }
    if (drop > result->parse_position) drop = result->parse_position; // never drop what is not chunked yet
    if (drop == 0) return false;
    out->drop = drop;
    terminal_take_array(&out->output, spare ? &spare->output : nullptr, 1, MAX_TERMINAL_BUFFER_SIZE + TERMINAL_READ_SIZE);
    dynamic_array_append_bytes(&out->output, bytes + drop, (u32)(count - drop));

    const Terminal_Chunk *chunks = (const Terminal_Chunk *)result->chunks.data;
    u32 n = result->chunks.count, first = 0;
    while (first < n && terminal_chunk_end(&chunks[first]) <= drop) first++;
    terminal_take_array(&out->chunks, spare ? &spare->chunks : nullptr, sizeof(Terminal_Chunk), result->chunks.capacity);
    Terminal_Chunk *to = (Terminal_Chunk *)dynamic_array_add_fast_multiple(&out->chunks, n - first);
    for (u32 k = first; k < n; k++) {
        Terminal_Chunk c = chunks[k];
        if (c.start < drop) { // a run straddling the cut keeps its tail
            u64 text_end = (u64)c.start + (c.kind == TERMINAL_CHUNK_TEXT ? c.length : 0);
            if (text_end > drop) c.length = (u32)(text_end - drop);
            else if (c.kind == TERMINAL_CHUNK_TEXT) { // only part of its break is left
                c.break_length = (u32)(terminal_chunk_end(&c) - drop);
                c.length = 0;
            } else c.length = (u32)(terminal_chunk_end(&c) - drop);
            c.start = (u32)drop;
        }
        c.start -= (u32)drop;
        to[k - first] = c;
    }
    // Lines whose first chunk went are gone; the line holding the cut stays.
    const u32 *lines = (const u32 *)result->line_chunks.data;
    u32 num_lines = result->line_chunks.count, first_line = 0;
    while (first_line + 1 < num_lines && lines[first_line + 1] <= first) first_line++;
    terminal_take_array(&out->line_chunks, spare ? &spare->line_chunks : nullptr, sizeof(u32), result->line_chunks.capacity);
    u32 *lto = (u32 *)dynamic_array_add_fast_multiple(&out->line_chunks, num_lines - first_line);
    for (u32 k = first_line; k < num_lines; k++) lto[k - first_line] = lines[k] > first ? lines[k] - first : 0;
    return true;
}

// Bigger copies of the arrays, for `bytes` more output, made without the lock
// like the dropped ones: growing under the lock would copy megabytes of
// chunks while the view waits.
bool terminal_build_grown(Terminal_Result *result, u64 bytes, Terminal_Dropped *out) {
    // At most one chunk and one line per byte, plus a little for cursor moves.
    u64 chunks = (u64)result->chunks.count + bytes + 64, lines = (u64)result->line_chunks.count + bytes + 64;
    u64 output = (u64)result->output.count + bytes;
    if (chunks <= result->chunks.capacity && lines <= result->line_chunks.capacity && output <= result->output.capacity)
        return false;
    auto grown = [](Dynamic_Array *to, const Dynamic_Array *from, u64 need) {
        u64 capacity = from->capacity;
        if (capacity < need) capacity = need > 2 * capacity ? need : 2 * capacity;
        dynamic_array_init(to, from->element_size, (u32)capacity);
        if (from->count) memcpy(dynamic_array_add_fast_multiple(to, from->count), from->data, (u64)from->count * from->element_size);
    };
    grown(&out->output, &result->output, output);
    grown(&out->chunks, &result->chunks, chunks);
    grown(&out->line_chunks, &result->line_chunks, lines);
    out->drop = 0;
    return true;
}

// A finished result keeps its arrays at their size: a flood left them up to
// twice that (the growth, the room kept for the next read).
void terminal_result_shrink(Terminal_Result *result) {
    Terminal_Dropped fitted;
    auto fit = [](Dynamic_Array *to, const Dynamic_Array *from) {
        dynamic_array_init(to, from->element_size, from->count ? from->count : 1);
        if (from->count) memcpy(dynamic_array_add_fast_multiple(to, from->count), from->data, (u64)from->count * from->element_size);
    };
    fit(&fitted.output, &result->output);
    fit(&fitted.chunks, &result->chunks);
    fit(&fitted.line_chunks, &result->line_chunks);
    fitted.drop = 0;
    spin_lock(&result->lock);
    terminal_swap_in_dropped(result, &fitted);
    spin_unlock(&result->lock);
    terminal_free_dropped(&fitted);
}

// Under the result's lock. `dropped` receives the old arrays to free after it.
void terminal_swap_in_dropped(Terminal_Result *result, Terminal_Dropped *dropped) {
    Dynamic_Array t = result->output;
    result->output = dropped->output;
    dropped->output = t;
    t = result->chunks;
    result->chunks = dropped->chunks;
    dropped->chunks = t;
    t = result->line_chunks;
    result->line_chunks = dropped->line_chunks;
    dropped->line_chunks = t;
    result->parse_position -= dropped->drop;
    result->dropped_bytes += dropped->drop;
    result->line_count = result->line_chunks.count;
}

void terminal_free_dropped(Terminal_Dropped *dropped) {
    dynamic_array_free(&dropped->output);
    dynamic_array_free(&dropped->chunks);
    dynamic_array_free(&dropped->line_chunks);
}

static void terminal_drop_oldest(Terminal_Result *result, u64 keep) {
    Terminal_Dropped dropped;
    if (!terminal_build_dropped(result, keep, &dropped, nullptr)) return;
    terminal_swap_in_dropped(result, &dropped);
    terminal_free_dropped(&dropped);
}

void terminal_result_append_output(Terminal_Result *result, const u8 *bytes, u64 count) {
    while (count > 0) {
        u64 step = count < TERMINAL_READ_SIZE ? count : TERMINAL_READ_SIZE;
        if (result->output.count + step > MAX_TERMINAL_BUFFER_SIZE) terminal_drop_oldest(result, TERMINAL_BUFFER_KEEP_AFTER_DROP);
        if (result->output.count + step > MAX_TERMINAL_BUFFER_SIZE) { // an unfinished sequence held everything back
            result->output.count = 0;
            terminal_reset_parse_state(result);
        }
        dynamic_array_append_bytes(&result->output, bytes, (u32)step);
        tokenise_terminal_result(result);
        bytes += step;
        count -= step;
    }
}

static Terminal_Chunk terminal_chunk(Terminal_Result *result, u64 start, u32 length, u8 kind) {
    Terminal_Chunk c = {};
    c.start = (u32)start;
    c.length = length;
    c.kind = kind;
    c.default_colours = result->default_colours;
    c.foreground = result->foreground;
    c.background = result->background;
    return c;
}

static Terminal_Chunk *terminal_last_chunk(Terminal_Result *result) {
    return result->chunks.count ? dynamic_array_at<Terminal_Chunk>(&result->chunks, result->chunks.count - 1) : nullptr;
}

// A break right after a text run ends that run's chunk; any other is a chunk.
static void terminal_add_line_break(Terminal_Result *result, u64 start, u32 length) {
    Terminal_Chunk *last = terminal_last_chunk(result);
    if (length && last && last->kind == TERMINAL_CHUNK_TEXT && !last->break_length && last->length &&
        (u64)last->start + last->length == start)
        last->break_length = length;
    else
        *(Terminal_Chunk *)dynamic_array_add(&result->chunks) = terminal_chunk(result, start, length, TERMINAL_CHUNK_LINE_BREAK);
    *(u32 *)dynamic_array_add(&result->line_chunks) = result->chunks.count;
    result->line_count++;
}

static void terminal_add_text(Terminal_Result *result, u64 position) {
    Terminal_Chunk *last = terminal_last_chunk(result);
    if (last && last->kind == TERMINAL_CHUNK_TEXT && !last->break_length && last->start + last->length == position &&
        last->foreground == result->foreground && last->background == result->background &&
        last->default_colours == result->default_colours) {
        last->length++;
        return;
    }
    *(Terminal_Chunk *)dynamic_array_add(&result->chunks) = terminal_chunk(result, position, 1, TERMINAL_CHUNK_TEXT);
}

void tokenise_terminal_result(Terminal_Result *result) {
    const u8 *bytes = (const u8 *)result->output.data;
    s64 end = result->output.count;
    s64 p = (s64)result->parse_position;
    while (p < end) {
        u8 b = bytes[p];
        if (b == 0) {
            p++;
        } else if (b == '\n') {
            // The LF of a CR LF split across two reads joins its CR.
            Terminal_Chunk *last = terminal_last_chunk(result);
            bool text = last && last->kind == TERMINAL_CHUNK_TEXT;
            u32 break_length = !last ? 0 : text ? last->break_length : last->length;
            if (break_length == 1 && terminal_chunk_end(last) == (u64)p && bytes[p - 1] == '\r') {
                if (text) last->break_length = 2;
                else last->length = 2;
            } else
                terminal_add_line_break(result, p, 1);
            p++;
        } else if (b == '\r') {
            bool crlf = p + 1 < end && bytes[p + 1] == '\n';
            terminal_add_line_break(result, p, crlf ? 2 : 1);
            p += crlf ? 2 : 1;
        } else if (b == 27) {
            s64 next = parse_virtual_terminal_sequence(result, p + 1, end);
            if (next < 0) break; // wait for the rest of the sequence
            if (next == p + 1) terminal_add_text(result, p); // nothing consumed: ESC shows as text
            p = next;
        } else {
            terminal_add_text(result, p);
            p++;
        }
    }
    result->parse_position = (u64)p;
}

static u16 terminal_palette_add(Terminal_Result *result, Terminal_Colour c) {
    u32 n = result->palette.count;
    for (u32 i = n > 16 ? n - 16 : 0; i < n; i++) {
        Terminal_Colour *o = dynamic_array_at<Terminal_Colour>(&result->palette, i);
        if (o->r == c.r && o->g == c.g && o->b == c.b) return (u16)(TERMINAL_PALETTE_BASE + i);
    }
    if (n >= 65535u - TERMINAL_PALETTE_BASE) return TERMINAL_WHITE;
    *(Terminal_Colour *)dynamic_array_add(&result->palette) = c;
    return (u16)(TERMINAL_PALETTE_BASE + n);
}

// Terminal_Colour selection: only the first parameter decides.
static void terminal_apply_sgr(Terminal_Result *result, const s64 *params, u32 n) {
    s64 p = n ? params[0] : 0;
    if (p == 0) {
        result->default_colours = 1;
        result->foreground = TERMINAL_WHITE;
        result->background = TERMINAL_BLACK;
    } else if ((p >= 30 && p <= 37) || (p >= 90 && p <= 97)) {
        result->foreground = (u16)(p >= 90 ? p - 90 + 8 : p - 30);
        result->default_colours = 0;
    } else if ((p >= 40 && p <= 47) || (p >= 100 && p <= 107)) {
        result->background = (u16)(p >= 100 ? p - 100 + 8 : p - 40);
    } else if (p == 38 || p == 48) {
        u16 colour = TERMINAL_WHITE;
        if (n >= 3 && params[1] == 5 && params[2] >= 0 && params[2] <= 255) colour = (u16)params[2];
        else if (n >= 5 && params[1] == 2) {
            auto c = [](s64 v) { return (v < 0 ? 0 : v > 255 ? 255 : v) / 255.0f; };
            colour = terminal_palette_add(result, Terminal_Colour{c(params[2]), c(params[3]), c(params[4]), 1});
        }
        if (p == 38) {
            result->foreground = colour;
            result->default_colours = 0;
        } else {
            result->background = colour;
        }
    }
}

s64 parse_virtual_terminal_sequence(Terminal_Result *result, s64 position, s64 end) {
    const u8 *bytes = (const u8 *)result->output.data;
    if (position >= end) return -1;
    u8 b = bytes[position];
    if (b < '(' || b > ']') return position;
    if (b == '(') return position + 2 <= end ? position + 2 : -1;
    if (b == '7' || b == '8' || b == '=' || b == '>' || b == 'M') return position + 1;
    if (b == ']') { // operating system command: up to BEL or ESC backslash
        for (s64 i = position + 1; i < end; i++) {
            if (bytes[i] == 7) return i + 1;
            if (bytes[i] == 27 && i + 1 < end && bytes[i + 1] == '\\') return i + 2;
            if (bytes[i] == 27 && i + 1 >= end) return -1;
        }
        return -1;
    }
    if (b != '[') return position;
    s64 params[16];
    u32 n = 0;
    s64 value = 0;
    bool any = false;
    for (s64 i = position + 1; i < end; i++) {
        u8 c = bytes[i];
        if (c >= '0' && c <= '9') {
            if (value < 100000) value = value * 10 + (c - '0');
            any = true;
        } else if (c == ';') {
            if (n < 16) params[n++] = value;
            value = 0;
            any = true;
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '@') {
            if (any && n < 16) params[n++] = value;
            if (c == 'm') {
                terminal_apply_sgr(result, params, n);
            } else if (c == 'H' && n == 2) {
                while ((s64)result->line_count < params[0] && result->line_count < 100000)
                    terminal_add_line_break(result, i + 1, 0);
            }
            return i + 1;
        } else if (c == '?' || c == '>' || c == ' ' || c == '!' || c == '"' || c == '$' || c == '\'') {
            // private markers and intermediates: part of the sequence, ignored
        } else {
            return i; // not a sequence we know: stop consuming at the odd byte
        }
    }
    return -1;
}
