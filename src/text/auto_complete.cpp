#include "text/auto_complete.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"
#include "text/tokeniser.h"

static void merge_candidate(Auto_Complete_Candidate *c, bool *seen, const u8 *text, u64 length) {
    if (!*seen) {
        c->best = String{(u8 *)text, (s64)length};
        c->shortest = length;
        *seen = true;
        return;
    }
    u64 common = 0, limit = (u64)c->best.count < length ? (u64)c->best.count : length;
    while (common < limit && c->best.data[common] == text[common]) common++;
    c->best.count = (s64)common;
    if (length < c->shortest) c->shortest = length;
}

void update_auto_complete_data(File *, Auto_Complete_State *state, const u8 *candidate, u64 candidate_length,
                               bool is_member, u64, const Auto_Complete_Context *) {
    bool seen = state->seen_any;
    merge_candidate(&state->any, &seen, candidate, candidate_length);
    state->seen_any = seen;
    if (is_member) {
        seen = state->seen_member;
        merge_candidate(&state->member, &seen, candidate, candidate_length);
        state->seen_member = seen;
    }
}

static inline String token_text(const u8 *text, const Editor_Token &t) { return String{(u8 *)text + t.offset, t.length}; }

// Walks one file's words, merging those that complete `prefix`. The typed
// word itself (at `skip_offset` of the current file) is never a candidate.
static void collect_from(File *file, String prefix, const Auto_Complete_Context *context, u64 skip_offset,
                         Auto_Complete_State *state) {
    const u8 *text = file_text(file);
    u64 length = file_length(file);
    const Tokenisation_Hint *hint = file_tokenisation_hint(file);
    Editor_Token before2 = {0, 0, TOKEN_NONE, 0}, before1 = before2, t;
    u64 at = 0;
    for (;;) {
        s64 next = tokenise_next(text, length, at, hint, &t);
        if (next < 0) break;
        at = (u64)next;
        if (t.type == TOKEN_WORD && t.length > (u64)prefix.count && t.offset != skip_offset &&
            memcmp(text + t.offset, prefix.data, (size_t)prefix.count) == 0) {
            bool is_member = context->object.count > 0 && before1.type != TOKEN_NONE && before2.type == TOKEN_WORD &&
                             string_equal(token_text(text, before1), context->accessor) &&
                             string_equal(token_text(text, before2), context->object);
            update_auto_complete_data(file, state, text + t.offset, t.length, is_member, t.offset, context);
        }
        before2 = before1;
        before1 = t;
    }
}

u64 auto_complete_text_before_cursor(File *file) {
    file = file_or_current(file);
    if (!file || file_length(file) == 0 || file->cursor == 0) return 0;
    const u8 *text = file_text(file);
    Editor_Token prefix_token;
    if (editor_get_previous_token(file, file->cursor, &prefix_token) < 0) return 0;
    if (prefix_token.type != TOKEN_WORD || prefix_token.offset + prefix_token.length != file->cursor) return 0;
    String prefix = token_text(text, prefix_token);

    Auto_Complete_Context context = {};
    Editor_Token accessor, object;
    // Tokens, not bytes: "obj. po" is the same context as "obj.po", as it is
    // for the candidates.
    if (editor_get_previous_token(file, prefix_token.offset, &accessor) >= 0 &&
        (string_equal(token_text(text, accessor), S(".")) || string_equal(token_text(text, accessor), S("->"))) &&
        editor_get_previous_token(file, accessor.offset, &object) >= 0 && object.type == TOKEN_WORD) {
        context.accessor = token_text(text, accessor);
        context.object = token_text(text, object);
    }

    // The common prefix of all candidates does not depend on the order they
    // are met in, so each file is walked once from its start.
    Auto_Complete_State state = {};
    collect_from(file, prefix, &context, prefix_token.offset, &state);
    text_hooks.lock_tabs();
    u32 tabs = text_hooks.num_file_tabs();
    for (u32 i = 0; i < tabs; i++) {
        File *other = text_hooks.file_tab_at(i);
        if (other && other != file) collect_from(other, prefix, &context, ~0ull, &state);
    }
    text_hooks.unlock_tabs();

    String completion = state.seen_member ? state.member.best : state.any.best;
    if (!state.seen_any || completion.count <= prefix.count) return 0;
    // The completion may point into this file's text, which the insertion
    // moves; a word can be any length, so the copy is not temporary memory.
    u64 extra = (u64)(completion.count - prefix.count);
    Allocation copy;
    gp_allocate(&copy, extra);
    memcpy(copy.memory, completion.data + prefix.count, extra);
    u64 at = file->cursor;
    bool inserted = editor_insert_text_at(file, at, String{(u8 *)copy.memory, (s64)extra}, false);
    gp_free(&copy);
    if (!inserted) return 0;
    editor_set_cursor(file, at + extra);
    return extra;
}
