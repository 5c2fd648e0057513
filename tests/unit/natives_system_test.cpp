// The natives that reach the system or the evaluator: new-line markers,
// context?, the environment, wait, browse, size?, apply and the natives
// table's last slot.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "evaluator/natives.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

// Runs a native's entry as the interpreter does (a try frame, a native
// frame, the arguments on the data stack) with the given refinement words;
// answers "category/id" of the error it raised, or "" with the result in
// *result.
std::string call_native(natives::Entry entry, const char* name, std::initializer_list<Cell> args,
                        std::initializer_list<std::pair<int32_t, int32_t>> refinements, Cell* result) {
    ensure_evaluator();
    int32_t words[natives::MAX_REFINEMENTS];
    for (int32_t& w : words) w = -1;
    for (auto [index, position] : refinements) words[index] = position;
    return guarded([&] {
        Cell callable{};
        stack::push(&callable);
        Cell w = test::word_of(name);
        stack::mark_native(&w);
        for (const Cell& a : args) stack::push(&a);
        entry(false, words);
        *result = *stack::arguments;
    });
}

Cell text_value(const char* text, uint32_t type) {
    Cell s = string_value(text);
    return *cell::set_type(&s, type);
}

std::string file_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The new-line markers of a block's cells, as "1" and "0".
std::string markers(const Cell& block) {
    std::string out;
    Cell b = block;
    for (int32_t i = 0, n = block::zs_length_q(&b); i < n; i++)
        out += cell::new_line_q(block::zs_abs_at(&b, i)) ? '1' : '0';
    return out;
}

// A scratch folder, removed with its files.
struct TempDir {
    std::string path;
    TempDir() {
        char name[] = "/tmp/zuv-natives-XXXXXX";
        path = ::mkdtemp(name);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

}  // namespace

TEST(NativesTable, ApplyFillsTheLastSlot) {
    ensure_evaluator();
    EXPECT_EQ(natives::next_free, 108);
    EXPECT_EQ(natives::table[107], &natives::apply_star);
    EXPECT_EQ(natives::entry_at(108), nullptr);
}

TEST(NewLine, MarksTheHeadEveryValueOrEverySizeth) {
    const struct {
        const char* source;
        const char* markers;
    } cases[] = {
        {"new-line/skip [1 2 3 4 5] true 2", "10101"},
        {"new-line/skip [1 2 3 4 5] false 2", "01010"},
        {"new-line/all [1 2 3] true", "111"},
        {"new-line next [1 2 3] true", "010"},
        {"new-line tail [1 2 3] true", "000"},
        {"new-line/all next new-line/all [1 2 3] true false", "100"},
    };
    for (const auto& c : cases) {
        Evaluated r = eval_source(std::string("head ") + c.source);
        ASSERT_EQ(r.error, "") << c.source;
        EXPECT_EQ(markers(r.value), c.markers) << c.source;
    }
    EXPECT_EQ(run_source("new-line/skip [1 2] true 0"), "!script/out-of-range");
    EXPECT_EQ(run_source("b: next [1 2] same? b new-line b true"), "true") << "the position is the result";
}

TEST(NewLine, QueryReadsTheHeadMarker) {
    EXPECT_EQ(run_source("new-line? new-line [1 2] true"), "true");
    EXPECT_EQ(run_source("new-line? next new-line [1 2] true"), "false");
    EXPECT_EQ(run_source("new-line? tail new-line/all [1 2] true"), "false");
}

TEST(ContextOf, AnObjectsWordGivesTheObject) {
    EXPECT_EQ(run_source("o: make object! [a: 1] same? o context? in o 'a"), "true");
    EXPECT_EQ(run_source("context? 'print"), "none") << "the global context has no owning value";
}

TEST(Environment, SetGetAndRemove) {
    ::unsetenv("ZUV_TEST_MISSING");
    EXPECT_EQ(run_source("get-env \"ZUV_TEST_MISSING\""), "none");
    EXPECT_EQ(run_source("set-env 'ZUV_TEST_VAR \"a b\""), "\"a b\"");
    EXPECT_STREQ(std::getenv("ZUV_TEST_VAR"), "a b");
    EXPECT_EQ(run_source("get-env \"ZUV_TEST_VAR\""), "\"a b\"");
    EXPECT_EQ(run_source("set-env \"ZUV_TEST_VAR\" none"), "none");
    EXPECT_EQ(std::getenv("ZUV_TEST_VAR"), nullptr) << "none removes the variable";
    EXPECT_EQ(run_source("set-env \"ZUV_TEST_VAR\" \"\" get-env \"ZUV_TEST_VAR\""), "none") << "empty is none";
    // Names the environment cannot hold are refused, not dropped silently.
    EXPECT_EQ(run_source("set-env \"\" \"x\""), "!script/invalid-arg");
    EXPECT_EQ(run_source("set-env \"A=B\" \"x\""), "!script/invalid-arg");
}

TEST(Wait, SleepsAndKeepsItsValue) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run_source("wait 0.01"), "0.01");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
    EXPECT_EQ(run_source("wait none"), "!script/invalid-arg");
    EXPECT_EQ(run_source("wait [1]"), "!script/invalid-arg");
}

TEST(Browse, StartsXdgOpenWithTheTextAsOneArgument) {
    ensure_evaluator();
    TempDir dir;
    std::string record = dir.path + "/record";
    std::string script = dir.path + "/xdg-open";
    {
        std::ofstream out(script);
        out << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << record << "'\n"
            << "exit ${ZUV_FAKE_STATUS:-0}\n";
    }
    ::chmod(script.c_str(), 0755);
    std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", (dir.path + ":" + saved_path).c_str(), 1);

    // Shell characters stay in the one argument: no shell ever sees them.
    // browse does not wait for the opener: the test waits for its only child.
    std::string url = "http://x.test/?a=1&b=$(touch " + dir.path + "/pwned);c d";
    Cell result{};
    EXPECT_EQ(call_native(natives::browse_star, "browse", {text_value(url.c_str(), TYPE_URL)}, {}, &result), "");
    EXPECT_EQ(type_of(&result), TYPE_UNSET);
    ASSERT_GT(::waitpid(-1, nullptr, 0), 0);
    EXPECT_EQ(file_text(record), url + "\n");
    EXPECT_NE(::access((dir.path + "/pwned").c_str(), F_OK), 0);

    EXPECT_EQ(call_native(natives::browse_star, "browse", {text_value("-n", TYPE_FILE)}, {}, &result), "");
    ASSERT_GT(::waitpid(-1, nullptr, 0), 0);
    EXPECT_EQ(file_text(record), "./-n\n") << "a file name is never taken as an option";

    // No failure case: an opener that fails, or none at all, does nothing.
    ::setenv("ZUV_FAKE_STATUS", "3", 1);
    EXPECT_EQ(call_native(natives::browse_star, "browse", {text_value("a.html", TYPE_FILE)}, {}, &result), "");
    EXPECT_EQ(type_of(&result), TYPE_UNSET);
    ASSERT_GT(::waitpid(-1, nullptr, 0), 0);
    ::unsetenv("ZUV_FAKE_STATUS");
    ::setenv("PATH", dir.path.c_str(), 1);
    ::unlink(script.c_str());
    EXPECT_EQ(call_native(natives::browse_star, "browse", {text_value("a.html", TYPE_FILE)}, {}, &result), "");
    EXPECT_EQ(type_of(&result), TYPE_UNSET);
    ::setenv("PATH", saved_path.c_str(), 1);
}

TEST(SizeOf, FileSizeOrNone) {
    ensure_evaluator();
    TempDir dir;
    std::string file = dir.path + "/five";
    std::ofstream(file) << "12345";
    Cell result{};
    ASSERT_EQ(call_native(natives::size_q_star, "size?", {text_value(file.c_str(), TYPE_FILE)}, {}, &result), "");
    EXPECT_EQ(type_of(&result), TYPE_INTEGER);
    EXPECT_EQ(int32_t(result.w2), 5);
    for (std::string path : {dir.path + "/", dir.path, dir.path + "/missing", file + "/"}) {
        ASSERT_EQ(call_native(natives::size_q_star, "size?", {text_value(path.c_str(), TYPE_FILE)}, {}, &result), "");
        EXPECT_EQ(type_of(&result), TYPE_NONE) << path;
    }
}

TEST(Apply, NamedAllAndSaferModes) {
    const struct {
        const char* source;
        const char* expected;
    } cases[] = {
        {"apply 'add [1 2]", "3"},
        {"apply :add [1 length? [a b]]", "3"},
        // safer: each argument is exactly one value, so `length?` lacks its own.
        {"apply/safer 'add [1 length? [a b]]", "!script/no-arg"},
        {"apply 'append [[1] [2 3] /only true]", "[1 [2 3]]"},
        {"apply 'append [[1] [2 3] /only false]", "[1 2 3]"},
        {"apply/all 'append [[1] [2 3] false none true false none]", "[1 [2 3]]"},
        {"apply/all 'append [[1] [2 3] false none false true 2]", "[1 2 3 2 3]"},
        {"apply/all 'append [[1] 2]", "[1 2]"},
        {"f: func [a /r b] [reduce [a r b]] apply :f [1 /r true 2]", "[1 true 2]"},
        {"f: func [a /r b] [reduce [a r b]] apply/all :f [1 true 2]", "[1 true 2]"},
        {"f: func [a /r b] [reduce [a r b]] apply/all :f [1]", "[1 false none]"},
        {"apply 'append/only [[1] [2]]", "[1 [2]]"},
        {"apply 'zuv-undefined-word []", "!script/invalid-arg"},
        {"apply 1 []", "!script/expect-arg"},
        {"f: func [] [return 5 6] apply :f []", "5"},
    };
    for (const auto& c : cases) EXPECT_EQ(run_source(c.source), c.expected) << c.source;
}
