// The command-line splitter, the process service below call (pipes served
// together, halts, reaping) and the clipboard's file lists.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cerrno>

#include <string>
#include <vector>

#include "runtime/command_line.hpp"
#include "runtime/process.hpp"
#include "services/clipboard.hpp"
#include "services/process.hpp"
#include "tests/unit/fixture.hpp"

namespace zuv {

using Args = std::vector<std::string>;

TEST(CommandLine, Split) {
    struct Case {
        const char* text;
        Args args;
        size_t rest;
    } cases[] = {
        {"prog a \"b c\" d", {"prog", "a", "b c", "d"}, 5},
        {"prog x\"\"y", {"prog", "x\"\"y"}, 5},
        {"prog \"\"", {"prog", ""}, 5},
        {"prog \"", {"prog", ""}, 5},
        {"\"my prog\"\t\"a\"b  c ", {"my prog", "a\"b", "c"}, 10},
        {"  prog", {"prog"}, 6},
        {"prog", {"prog"}, 4},
        {"", {}, 0},
    };
    for (const Case& c : cases) {
        size_t rest = 99;
        EXPECT_EQ(command_line::split(c.text, &rest), c.args) << c.text;
        EXPECT_EQ(rest, c.rest) << c.text;
    }
}

// What join writes, split gives back.
TEST(CommandLine, JoinSplitsBack) {
    std::vector<Args> lists = {
        {},
        {"zuv", "a", "b c", "", "x\"\"y", "tab\tin", "\"quoted\"", "a\"b c\"d"},
        {"zuv", "last\"odd"},
        {"zuv", "\""},
    };
    for (const Args& args : lists) EXPECT_EQ(command_line::split(command_line::join(args)), args);
}

namespace {

call::Launch shell(const char* text) {
    call::Launch launch;
    launch.argv = call::shell_argv(text);
    launch.search = false;
    launch.wait = true;
    return launch;
}

}  // namespace

// A child that fills its error pipe before it reads any input, with more
// input than a pipe holds, and one that stops reading early: neither stalls
// nor ends the program (a write to a closed pipe).
TEST(Process, PipesAreServedTogether) {
    test::ensure_runtime();
    std::string input(1 << 20, 'x');
    call::Launch both = shell("head -c 300000 /dev/zero >&2; cat");
    both.in = {call::Redirect::DATA, "", input};
    both.out.kind = call::Redirect::DATA;
    both.err.kind = call::Redirect::DATA;
    EXPECT_EQ(call::create_process(both), 0);
    EXPECT_EQ(both.out.bytes, input);
    EXPECT_EQ(both.err.bytes, std::string(300000, '\0'));

    call::Launch early = shell("head -c 5; exit 4");
    early.in = {call::Redirect::DATA, "", input};
    early.out.kind = call::Redirect::DATA;
    EXPECT_EQ(call::create_process(early), 4);
    EXPECT_EQ(early.out.bytes, "xxxxx");
}

// A halt requested while a child is waited for kills it and ends the wait.
TEST(Process, HaltKillsTheChild) {
    test::ensure_runtime();
    runtime::interrupt_mode = runtime::INTERRUPT_HALT;
    runtime::interrupt_pending = 1;
    call::Launch launch = shell("trap '' INT TERM; sleep 30");
    EXPECT_EQ(call::create_process(launch), 128 + SIGKILL);
    EXPECT_EQ(runtime::interrupt_pending, 1);  // left for the interpreter to halt
    runtime::interrupt_pending = 0;
}

// Children not waited for are reaped at the next launch or reap: none stays
// a zombie. Each not reaped yet by a later launch is first waited for
// without being reaped (WNOWAIT), so every one of them has ended before
// reap runs.
TEST(Process, UnwaitedChildrenAreReaped) {
    test::ensure_runtime();
    std::vector<pid_t> pids;
    for (int i = 0; i < 100; i++) {
        call::Launch launch;
        launch.argv = {"true"};
        int32_t pid = call::create_process(launch);
        ASSERT_GT(pid, 0);
        pids.push_back(pid);
    }
    for (pid_t pid : pids) {
        siginfo_t info{};
        int waited = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT);
        if (waited != 0) {
            ASSERT_EQ(errno, ECHILD);
        }
    }
    call::reap();
    for (pid_t pid : pids) EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), -1) << pid;  // no such child left
}

TEST(Clipboard, FileLists) {
    std::vector<std::string> paths = {"/tmp/a b%#.txt", "/home/\xC3\xA9/x", "/"};
    std::string list = clipboard::uri_list(paths);
    EXPECT_EQ(list, "file:///tmp/a%20b%25%23.txt\r\nfile:///home/%C3%A9/x\r\nfile:///\r\n");
    EXPECT_EQ(clipboard::uri_list_paths(list), paths);
    // Lists made by others: LF alone, localhost, comments, other schemes and
    // hosts, a bad escape kept as it stands.
    EXPECT_EQ(clipboard::uri_list_paths("# c\nfile://localhost/a\nhttp://x/y\nfile://other/b\nfile:/c%2\n"
                                        "file:///d%41"),
              (std::vector<std::string>{"/a", "/c%2", "/dA"}));
}

}  // namespace zuv
