// The terminal on real pseudo-terminals running real shell commands, and its
// output parser on byte streams cut at every awkward place.
#include <gtest/gtest.h>
#include <signal.h>
#include <string>
#include <vector>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>
#include "shell/lister_hooks.h"
#include "shell/terminal.h"
#include "test_util.h"
#include "text/editing.h"
#include "text/file.h"
#include "text/text_state.h"

static std::string to_std(String s) { return std::string((const char *)s.data, (size_t)(s.count > 0 ? s.count : 0)); }
static u64 now_us() { return os_get_time_microseconds(); }

static std::string output_of(Terminal_Result *r) {
    spin_lock(&r->lock);
    std::string s((const char *)r->output.data, r->output.count);
    spin_unlock(&r->lock);
    return s;
}

// Waits (with a deadline) until the command's worker has finished.
static bool wait_until_done(Terminal_Result *r, u64 timeout_us = 10000000) {
    u64 end = now_us() + timeout_us;
    while (__atomic_load_n(&r->flags, __ATOMIC_SEQ_CST) & RESULT_RUNNING) {
        if (now_us() > end) return false;
        usleep(1000);
    }
    return true;
}
static bool wait_for_output(Terminal_Result *r, const std::string &needle, u64 timeout_us = 10000000) {
    u64 end = now_us() + timeout_us;
    while (output_of(r).find(needle) == std::string::npos) {
        if (now_us() > end) return false;
        usleep(1000);
    }
    return true;
}

struct Terminal_Test : ::testing::Test {
    Temp_Dir dir;
    Terminal *terminal = nullptr;
    File *input = nullptr;
    u8 title_buffer[512];
    String title = {};
    void SetUp() override {
        editor_text_init();
        init_terminals();
        Filepath here;
        set_filepath_from(&here, S(dir.path.c_str()));
        terminal = add_a_terminal(&here);
        input = add_a_file();
        file_set_flags(input, FILE_ONE_LINE);
    }
    void TearDown() override {
        close_terminal(terminal);
        close_file(input);
    }
    void type(const std::string &s) {
        input->cursor = file_length(input);
        editor_insert_text_at(input, file_length(input), make_string(s.data(), (s64)s.size()), false);
        input->cursor = file_length(input);
    }
    Terminal_Result *run(const std::string &command) {
        type(command);
        execute_terminal_command_line(terminal, input, &title, title_buffer, sizeof(title_buffer));
        return terminal->current_result;
    }
    std::string directory() { String s = filepath_to_string(&terminal->directory); return std::string((char *)s.data, s.count); }
};

// [SECTION] Parser ---------------------------------------------------------------

struct Run_Expectation {
    const char *text;
    u16 foreground;
    u16 background;
    u8 default_colours;
};

static std::vector<Run_Expectation> runs_of(Terminal_Result *r, std::vector<std::string> *texts) {
    std::vector<Run_Expectation> out;
    for (u32 i = 0; i < r->chunks.count; i++) {
        Terminal_Chunk *c = dynamic_array_at<Terminal_Chunk>(&r->chunks, i);
        if (c->kind != TERMINAL_CHUNK_TEXT) continue;
        // A skipped sequence splits a run; what the user sees is the same.
        if (!out.empty() && out.back().foreground == c->foreground && out.back().background == c->background &&
            out.back().default_colours == c->default_colours) {
            texts->back() += std::string((char *)r->output.data + c->start, c->length);
            continue;
        }
        texts->push_back(std::string((char *)r->output.data + c->start, c->length));
        out.push_back({nullptr, c->foreground, c->background, (u8)c->default_colours});
    }
    return out;
}

TEST_F(Terminal_Test, ColourSequencesGiveColouredRunsEvenWhenSplitAcrossReads) {
    struct Case {
        const char *name;
        const char *bytes;
        std::vector<Run_Expectation> expected;
    } cases[] = {
        {"dark red then default", "\x1b[31mword\x1b[0mrest", {{"word", 1, 0, 0}, {"rest", 15, 0, 1}}},
        {"bold first leaves the colour", "\x1b[1;31mword", {{"word", 15, 0, 1}}},
        {"256 colours", "\x1b[38;5;196mx", {{"x", 196, 0, 0}}},
        {"bright and background", "\x1b[92;1m\x1b[104mab", {{"ab", 10, 12, 0}}},
        {"title sequence skipped", "a\x1b]0;title\x07" "b\x1b]2;t\x1b\\c", {{"abc", 15, 0, 1}}},
        {"charset and keypad skipped", "\x1b(Ba\x1b=b\x1b" "7c", {{"abc", 15, 0, 1}}},
        {"unknown ESC byte shown", "\x1b!x", {{"\x1b!x", 15, 0, 1}}},
        {"cursor keys ignored", "\x1b[?25la\x1b[2Kb", {{"ab", 15, 0, 1}}},
    };
    for (const Case &c : cases) {
        // Whole, and then byte by byte: a sequence cut anywhere parses the same.
        for (int split = 0; split < 2; split++) {
            Terminal_Result *r = add_a_terminal_result(terminal, S("x"));
            std::string bytes = c.bytes;
            if (split) for (char b : bytes) terminal_result_append_output(r, (const u8 *)&b, 1);
            else terminal_result_append_output(r, (const u8 *)bytes.data(), bytes.size());
            std::vector<std::string> texts;
            std::vector<Run_Expectation> got = runs_of(r, &texts);
            ASSERT_EQ(got.size(), c.expected.size()) << c.name << " split " << split;
            for (size_t i = 0; i < got.size(); i++) {
                EXPECT_EQ(texts[i], c.expected[i].text) << c.name << " split " << split;
                EXPECT_EQ(got[i].foreground, c.expected[i].foreground) << c.name;
                EXPECT_EQ(got[i].background, c.expected[i].background) << c.name;
                EXPECT_EQ(got[i].default_colours, c.expected[i].default_colours) << c.name;
            }
        }
    }
}

TEST_F(Terminal_Test, DirectColoursLineBreaksAndCursorMoves) {
    Terminal_Result *r = add_a_terminal_result(terminal, S("x"));
    std::string bytes = "\x1b[38;2;255;0;0mR\r";
    terminal_result_append_output(r, (const u8 *)bytes.data(), bytes.size());
    terminal_result_append_output(r, (const u8 *)"\n", 1); // the LF of a CR LF in the next read
    Terminal_Colour red = terminal_colour(r, dynamic_array_at<Terminal_Chunk>(&r->chunks, 0)->foreground);
    EXPECT_EQ(red.r, 1.0f);
    EXPECT_EQ(red.g, 0.0f);
    EXPECT_EQ(r->line_count, 2u);
    // The CR LF ends the text's own chunk, as one break of two bytes.
    EXPECT_EQ(r->chunks.count, 1u);
    EXPECT_EQ(dynamic_array_at<Terminal_Chunk>(&r->chunks, 0)->break_length, 2u);
    const char *more = "a\rb\n\x1b[5;1Hx\x1b[2;1Hy";
    terminal_result_append_output(r, (const u8 *)more, strlen(more));
    EXPECT_EQ(r->line_count, 5u); // lone CR and LF count; H moves down to row 5 only
    EXPECT_EQ(terminal_big_colour_table[196].r, 5.0f / 6.0f);
    EXPECT_EQ(terminal_big_colour_table[232 + 12].g, 0.5f);
}

TEST_F(Terminal_Test, OutputNeverPassesOneMebibyteAndKeepsTheNewestBytes) {
    Terminal_Result *r = add_a_terminal_result(terminal, S("x"));
    std::string all;
    for (int i = 0; all.size() < 3 * MAX_TERMINAL_BUFFER_SIZE; i++) all += "line " + std::to_string(i) + "\n";
    for (size_t i = 0; i < all.size(); i += 7000) {
        size_t n = std::min<size_t>(7000, all.size() - i);
        terminal_result_append_output(r, (const u8 *)all.data() + i, n);
        ASSERT_LE(r->output.count, MAX_TERMINAL_BUFFER_SIZE);
    }
    std::string kept = output_of(r);
    ASSERT_GE(kept.size(), TERMINAL_BUFFER_KEEP_AFTER_DROP - 4096);
    EXPECT_EQ(kept, all.substr(all.size() - kept.size()));
    EXPECT_EQ(kept.substr(0, 5), "line "); // cut at a line start
    // Chunks still describe the kept bytes, one line per line break.
    u64 breaks = 0;
    for (char c : kept) breaks += c == '\n';
    EXPECT_EQ(r->line_count, breaks + 1);
    Terminal_Chunk *last = dynamic_array_at<Terminal_Chunk>(&r->chunks, r->chunks.count - 1);
    EXPECT_EQ(terminal_chunk_end(last), kept.size());
}

static std::vector<std::string> view_texts(const Terminal_View *view) {
    std::vector<std::string> out;
    for (u32 i = 0; i < view->num_runs; i++) out.push_back(to_std(view->runs[i].text));
    return out;
}

TEST_F(Terminal_Test, ViewDrawsThePreviousLayoutWhileTheReaderHoldsTheLock) {
    Terminal_Result *r = add_a_terminal_result(terminal, S("cmd"));
    terminal_result_append_output(r, (const u8 *)"one\r\ntwo\r\n", 10);
    const Terminal_View *view = terminal_view_layout(terminal, 10);
    EXPECT_EQ(view_texts(view), (std::vector<std::string>{"cmd", "one", "two"}));
    EXPECT_EQ(view->total_lines, 4u);
    spin_lock(&r->lock); // the worker, mid-append
    terminal_result_append_output(r, (const u8 *)"three\n", 6);
    view = terminal_view_layout(terminal, 10);
    EXPECT_EQ(view_texts(view), (std::vector<std::string>{"cmd", "one", "two"}));
    EXPECT_EQ(view->frames_reused, 1u);
    spin_unlock(&r->lock);
    view = terminal_view_layout(terminal, 2); // only the bottom lines
    EXPECT_EQ(view_texts(view), (std::vector<std::string>{"three"}));
    EXPECT_EQ(view->runs[0].line, 0u);
    // No window shows more of a line than this: a line of megabytes costs a frame nothing.
    std::string wide(3 * TERMINAL_VIEW_LINE_BYTES, 'x');
    terminal_result_append_output(r, (const u8 *)wide.data(), wide.size());
    view = terminal_view_layout(terminal, 1);
    ASSERT_EQ(view->num_runs, 1u);
    EXPECT_EQ(view->runs[0].text.count, (s64)TERMINAL_VIEW_LINE_BYTES);
}

TEST_F(Terminal_Test, ScrolledBackTheViewKeepsItsTextWhileOutputArrives) {
    Terminal_Result *r = add_a_terminal_result(terminal, S("cmd"));
    std::string lines;
    for (int i = 1; i <= 20; i++) lines += "l" + std::to_string(i) + "\n";
    terminal_result_append_output(r, (const u8 *)lines.data(), lines.size());
    // Lines: the header, l1 ... l20, and the empty line after the last break.
    EXPECT_EQ(view_texts(terminal_view_layout(terminal, 3)), (std::vector<std::string>{"l19", "l20"}));
    terminal_view_scroll(terminal, 4);
    EXPECT_EQ(view_texts(terminal_view_layout(terminal, 3)), (std::vector<std::string>{"l15", "l16", "l17"}));
    terminal_result_append_output(r, (const u8 *)"l21\nl22\n", 8);
    EXPECT_EQ(view_texts(terminal_view_layout(terminal, 3)), (std::vector<std::string>{"l15", "l16", "l17"}));
    terminal_view_scroll(terminal, 1000); // no further back than the first line
    EXPECT_EQ(view_texts(terminal_view_layout(terminal, 3)), (std::vector<std::string>{"cmd", "l1", "l2"}));
    terminal_view_scroll(terminal, -1000);
    EXPECT_EQ(view_texts(terminal_view_layout(terminal, 3)), (std::vector<std::string>{"l21", "l22"}));
    terminal_result_append_output(r, (const u8 *)"l23\n", 4); // at the bottom the view follows
    EXPECT_EQ(view_texts(terminal_view_layout(terminal, 3)), (std::vector<std::string>{"l22", "l23"}));
}

TEST_F(Terminal_Test, ArgumentListHonoursQuotes) {
    char **a = string_to_c_argument_list(S("sh  -ci 'echo a  b' \"x y\"\tz"));
    std::vector<std::string> got;
    for (; *a; a++) got.push_back(*a);
    EXPECT_EQ(got, (std::vector<std::string>{"sh", "-ci", "echo a  b", "x y", "z"}));
}

// [SECTION] Real commands ----------------------------------------------------------

TEST_F(Terminal_Test, PrintfColoursArriveThroughThePty) {
    Terminal_Result *r = run("printf '\\033[32mgreen\\033[0m plain\\n'; exit 3");
    ASSERT_TRUE(wait_until_done(r));
    EXPECT_NE(output_of(r).find("green"), std::string::npos);
    bool green = false;
    spin_lock(&r->lock);
    for (u32 i = 0; i < r->chunks.count; i++) {
        Terminal_Chunk *c = dynamic_array_at<Terminal_Chunk>(&r->chunks, i);
        if (c->kind == TERMINAL_CHUNK_TEXT && std::string((char *)r->output.data + c->start, c->length) == "green")
            green = c->foreground == 2;
    }
    spin_unlock(&r->lock);
    EXPECT_TRUE(green);
    EXPECT_TRUE(r->flags & RESULT_FAILED);
    EXPECT_EQ(r->exit_status, 3);
    EXPECT_EQ(to_std(title), "printf | " + dir.path);
    EXPECT_EQ(file_length(input), 0u);
    EXPECT_EQ(terminal->child_pid, -1);

    Terminal_Result *ok = run("true");
    ASSERT_TRUE(wait_until_done(ok));
    EXPECT_FALSE(ok->flags & RESULT_FAILED);
}

TEST_F(Terminal_Test, CommandsRunInTheTerminalsDirectoryAndReadTypedInput) {
    write_whole_file(dir.file("here.txt"), "x");
    Terminal_Result *r = run("ls; read answer; echo \"got $answer\"");
    ASSERT_TRUE(wait_for_output(r, "here.txt"));
    type("forty-two");
    execute_terminal_command_line(terminal, input, &title, title_buffer, sizeof(title_buffer));
    ASSERT_TRUE(wait_for_output(r, "got forty-two"));
    ASSERT_TRUE(wait_until_done(r));
    EXPECT_EQ(terminal->history.count, 2u); // the command and the typed input
}


TEST_F(Terminal_Test, ALineTypedRightAfterAProgramEndedIsANewCommand) {
    Terminal_Result *first = run("true");
    u64 end = now_us() + 10000000;
    while (!(__atomic_load_n(&first->flags, __ATOMIC_SEQ_CST) & RESULT_CHILD_EXITED) && now_us() < end) usleep(200);
    ASSERT_TRUE(first->flags & RESULT_CHILD_EXITED);
    // Its worker may still be draining the pty: the line must not go there.
    Terminal_Result *second = run("echo second");
    ASSERT_NE(second, first);
    ASSERT_TRUE(wait_until_done(second));
    EXPECT_NE(output_of(second).find("second"), std::string::npos);
    EXPECT_EQ(terminal->results.count, 2u);
}

TEST_F(Terminal_Test, KillEndsSleepsYesAndCommandsThatIgnoreSigterm) {
    struct Case {
        const char *name;
        std::string command;
        u64 at_least_us, at_most_us; // how long the kill may take
    } cases[] = {
        {"sleep", "sleep 30", 0, 3000000},
        {"yes pipeline", "yes | cat", 0, 3000000},
        {"ignores SIGTERM", "trap '' TERM HUP; while :; do sleep 0.01; done", 90000, 3000000}, // and the hang-up
    };
    for (const Case &c : cases) {
        Terminal_Result *r = run(c.command);
        usleep(200000); // let the shell set up its traps and jobs
        ASSERT_TRUE(r->flags & RESULT_PROCESS_ALIVE) << c.name;
        s32 group = terminal->process_group;
        u64 start = now_us();
        kill_terminal_process(terminal);
        u64 took = now_us() - start;
        EXPECT_GE(took, c.at_least_us) << c.name;
        EXPECT_LE(took, c.at_most_us) << c.name;
        ASSERT_TRUE(wait_until_done(r)) << c.name;
        u64 end = now_us() + 3000000;
        while (!(kill(-group, 0) == -1 && errno == ESRCH) && now_us() < end) usleep(1000);
        EXPECT_TRUE(kill(-group, 0) == -1 && errno == ESRCH) << c.name << ": the group survived";
    }
    // Nothing of the pipeline is left anywhere.
    EXPECT_NE(run_command("pgrep -x yes -P " + std::to_string(getpid())), 0);
}

// Shut-down ends the process groups of every terminal, not only the
// current one; a terminal with nothing running is left alone.
TEST_F(Terminal_Test, ShutDownKillsEveryTerminalsCommand) {
    Filepath here;
    set_filepath_from(&here, S(dir.path.c_str()));
    Terminal *idle = add_a_terminal(&here);
    Terminal *second = add_a_terminal(&here);
    Terminal_Result *first_run = run("sleep 30");
    ASSERT_TRUE(terminal_execute(second, "sh", S("sh -ci 'sleep 30'")));
    Terminal_Result *second_run = second->current_result;
    s32 groups[] = {terminal->process_group, second->process_group};
    kill_all_terminal_processes();
    EXPECT_TRUE(wait_until_done(first_run));
    EXPECT_TRUE(wait_until_done(second_run));
    for (s32 group : groups) {
        u64 end = now_us() + 3000000;
        while (!(kill(-group, 0) == -1 && errno == ESRCH) && now_us() < end) usleep(1000);
        EXPECT_TRUE(kill(-group, 0) == -1 && errno == ESRCH) << "group " << group << " survived";
    }
    EXPECT_EQ(idle->child_pid, -1);
    EXPECT_TRUE(idle->flags & TERMINAL_IN_USE);
    close_terminal(second);
    close_terminal(idle);
}

TEST_F(Terminal_Test, FloodKeepsOneMebibyteAndClosingKillsIt) {
    Terminal_Result *r = run("yes tarno-flood");
    u64 end = now_us() + 20000000;
    while (r->dropped_bytes < 2 * MAX_TERMINAL_BUFFER_SIZE && now_us() < end) usleep(5000);
    EXPECT_GE(r->dropped_bytes, 2 * MAX_TERMINAL_BUFFER_SIZE);
    spin_lock(&r->lock);
    EXPECT_LE(r->output.count, MAX_TERMINAL_BUFFER_SIZE);
    spin_unlock(&r->lock);
    clear_terminal_history(terminal); // as closing the tab does
    EXPECT_EQ(terminal->results.count, 0u);
}

TEST_F(Terminal_Test, CdAndClearAreTheEditorsOwn) {
    mkdir(dir.file("sub").c_str(), 0700);
    run("cd sub");
    EXPECT_EQ(directory(), dir.path + "/sub");
    run("cd ./../sub/..");
    EXPECT_EQ(directory(), dir.path);
    Terminal_Result *missing = run("cd nowhere");
    EXPECT_EQ(output_of(missing), "Directory '" + dir.path + "/nowhere' does not seem to exist.");
    EXPECT_TRUE(missing->flags & RESULT_FAILED);
    EXPECT_EQ(directory(), dir.path);
    run("cd /");
    run("cd ../..");
    EXPECT_EQ(directory(), "/");
    run("cd \\tmp");
    EXPECT_EQ(directory(), "/tmp");
    EXPECT_EQ(terminal->results.count, 6u);
    run("clear");
    EXPECT_EQ(terminal->results.count, 0u);
    Terminal_Result *pwd = run("pwd");
    ASSERT_TRUE(wait_until_done(pwd));
    EXPECT_NE(output_of(pwd).find("/tmp"), std::string::npos);
}

static std::string text_of_input(File *f) { return std::string((char *)file_text(f), file_length(f)); }

TEST_F(Terminal_Test, HistoryWalksBackAndReturnsToWhatWasTyped) {
    run("cd .");
    run("cd ..");
    run("cd ..");
    run("cd /");
    EXPECT_EQ(terminal->history.count, 3u); // a repeat of the newest is not kept
    type("half");
    terminal_history_previous(terminal, input);
    EXPECT_EQ(text_of_input(input), "cd /");
    terminal_history_previous(terminal, input);
    terminal_history_previous(terminal, input);
    terminal_history_previous(terminal, input); // stays at the oldest
    EXPECT_EQ(text_of_input(input), "cd .");
    EXPECT_EQ(input->cursor, 4u);
    terminal_history_next(terminal, input);
    EXPECT_EQ(text_of_input(input), "cd ..");
    terminal_history_next(terminal, input);
    terminal_history_next(terminal, input);
    EXPECT_EQ(text_of_input(input), "half");
}

TEST_F(Terminal_Test, PathCompletionInsertsTheCommonPrefix) {
    mkdir(dir.file("project_alpha").c_str(), 0700);
    mkdir(dir.file("project_beta").c_str(), 0700);
    write_whole_file(dir.file("project_alpha/readme.md"), "x");
    struct Case {
        std::string typed;
        std::string expected;
    } cases[] = {
        {"ls pro", "ls project_"},
        {"ls project_a", "ls project_alpha"},
        {"cat 'project_alpha/re", "cat 'project_alpha/readme.md"},
        {"cat project_alpha\\r", "cat project_alpha\\readme.md"},
        {"ls zzz", "ls zzz"},
        {"ls " + dir.path + "/project_b", "ls " + dir.path + "/project_beta"},
    };
    for (const Case &c : cases) {
        if (file_length(input)) text_raw_remove(input, 0, file_length(input));
        type(c.typed);
        bool changed = auto_complete_filepath_in_terminal(terminal, input);
        EXPECT_EQ(text_of_input(input), c.expected) << c.typed;
        EXPECT_EQ(changed, c.typed != c.expected) << c.typed;
        EXPECT_EQ(input->cursor, file_length(input));
    }
}

static std::string notified;
static bool unfocused() { return false; }
static void record_notification(String title, String message) { notified = to_std(title) + ":" + to_std(message); }

TEST_F(Terminal_Test, CommandEndingWhileUnfocusedNotifies) {
    Worker_Hooks saved = worker_hooks;
    worker_hooks.window_is_focused = unfocused;
    worker_hooks.create_os_notification = record_notification;
    notified.clear();
    Terminal_Result *r = run("false");
    ASSERT_TRUE(wait_until_done(r));
    EXPECT_EQ(notified, "Failure:false");
    worker_hooks = saved;
}
