// port!: make from a spec and a scheme, forwarding of actions to the actor
// written in the language, the composed read and write, and the text form.
#include <gtest/gtest.h>

#include <string>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/port.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "tests/unit/source_eval.hpp"

namespace zuv {
namespace {

using test::eval_source;
using test::run_source;

// A scheme `test` whose actor logs each call (its name and the cells after
// the port) in the block `log`, and answers a value naming the action. The
// actor's bodies are bound to the actor, whose words shadow the actions:
// `note` does the logging from outside.
constexpr const char* TEST_SCHEME = R"(
    log: copy []
    note: func [entry] [append/only log entry]
    make object! [
        name: 'test title: "test scheme" info: none
        actor: make object! [
            append: func [port value /part n /only /dup c] [
                note reduce ['append value part n only dup c] 'appended
            ]
            swap: func [port other] [note reduce ['swap other] 'swapped]
            length?: func [port] [note [length?] 42]
            pick: func [port index /local x] [x: index * 10 note reduce ['pick index] x]
            open: func [port /new /read /write /seek /allow access] [
                note reduce ['open new read write seek allow] port
            ]
            copy: func [port /part n /deep /types t] [note reduce ['copy part n] "data"]
            insert: func [port value /part n /only /dup c] [note reduce ['insert value part n] port]
            close: func [port] [note [close] port]
        ]
        awake: none
    ]
)";

class Port : public ::testing::Test {
protected:
    void SetUp() override {
        register_scheme("test", TEST_SCHEME);
        register_scheme("closed", "make object! [name: 'closed title: none info: none actor: make object! [] awake: none]");
        register_scheme("broken", "make object! [name: 'broken title: none info: none actor: 12 awake: none]");
    }

    static void register_scheme(const char* name, const char* source) {
        test::Evaluated r = eval_source(source);
        ASSERT_EQ(r.error, "") << name;
        add_scheme(name, r.value);
    }

public:
    // Appends the name and the scheme to the runtime's scheme list.
    static void add_scheme(const char* name, Cell scheme) {
        Cell* kept = stack::push(&scheme);  // held while the list grows
        Cell list = port::schemes();
        Cell word{TYPE_WORD, 0, uint32_t(symbol::make(name)), uint32_t(-1)};
        block::append_cell(&list, &word);
        block::append_cell(&list, kept);
        stack::pop(1);
    }
};

TEST_F(Port, MakeTakesTheActorOfTheScheme) {
    EXPECT_EQ(run_source("p: make port! [scheme: 'test host: \"h\"] type? p"), "port!");
    EXPECT_EQ(run_source("p/scheme"), "test");
    EXPECT_EQ(run_source("p/spec/host"), "\"h\"");
    EXPECT_EQ(run_source("type? p/actor"), "object!");
    // A spec object is used as it is.
    EXPECT_EQ(run_source("s: make object! [scheme: 'test] q: make port! s same? s q/spec"), "true");

    const struct {
        const char* source;
        const char* error;
    } failures[] = {
        {"make port! [scheme: 'nowhere]", "!access/unknown-scheme"},
        {"make port! [host: \"h\"]", "!access/no-scheme"},
        {"make port! make object! [a: 1]", "!access/no-scheme"},
        {"make port! [scheme: 'broken]", "!access/invalid-actor"},
    };
    for (const auto& f : failures) EXPECT_EQ(run_source(f.source), f.error) << f.source;
}

TEST_F(Port, ActionsGoToTheActorFunctionOfTheirName) {
    ASSERT_EQ(run_source("p: make port! [scheme: 'test] append/dup p 7 3"), "appended");
    EXPECT_EQ(run_source("log"), "[[append 7 false none false true 3]]");
    EXPECT_EQ(run_source("clear log swap p [1 2]"), "swapped");
    EXPECT_EQ(run_source("log"), "[[swap [1 2]]]");
    EXPECT_EQ(run_source("length? p"), "42");
    EXPECT_EQ(run_source("pick p 3"), "30") << "the actor's locals start out as none";
    // An action the actor has no function for, and one the port never has.
    EXPECT_EQ(run_source("take p"), "!access/no-port-action");
    EXPECT_EQ(run_source("open? p"), "!script/expect-arg");
    // An actor field that no longer holds an object.
    EXPECT_EQ(run_source("q: make port! [scheme: 'test] q/actor: 1 append q 1"), "!access/invalid-port");
}

TEST_F(Port, ReadAndWriteAreComposedOfOpenCopyInsertAndClose) {
    ASSERT_EQ(run_source("p: make port! [scheme: 'test] clear log read/part p 5"), "\"data\"");
    EXPECT_EQ(run_source("log"),
              "[[open false false false false false] [copy true 5] [close]]");
    ASSERT_EQ(run_source("clear log write/part p \"abc\" 2"), "\"data\"");
    EXPECT_EQ(run_source("log"),
              "[[open false false true false false] [insert \"abc\" true 2] [copy true 2] [close]]");
    // Without open nothing is read.
    EXPECT_EQ(run_source("c: make port! [scheme: 'closed] read c"), "!access/no-port-action");
}

TEST_F(Port, MoldShowsTheSevenFields) {
    std::string text = run_source("mold make port! [scheme: 'closed]");
    EXPECT_EQ(text.find("make port! ["), 1u) << text;
    for (const char* field : {"spec:", "scheme:", "actor:", "awake:", "state:", "data:", "extra:"})
        EXPECT_NE(text.find(field), std::string::npos) << field;
    // A port held in its own field is written once.
    text = run_source("p: make port! [scheme: 'closed] p/state: p mold p");
    EXPECT_NE(text.find("state: make port! [...]"), std::string::npos) << text;
}

TEST_F(Port, HandleActorTakesTheNativeTable) {
    static AnyFn table[actions::PORT_ACTOR_ACTIONS] = {};
    int32_t index = actions::register_port_actor_table(table);
    test::Evaluated r = eval_source("make object! [name: 'native title: none info: none actor: none awake: none]");
    ASSERT_EQ(r.error, "");
    *_context::value_slot(r.value.w1, 3) = Cell{TYPE_HANDLE, 0, uint32_t(index), uint32_t(-1)};
    add_scheme("native", r.value);
    EXPECT_EQ(run_source("n: make port! [scheme: 'native] type? n/actor"), "handle!");
    EXPECT_EQ(run_source("append n 1"), "!access/no-port-action");
}

}  // namespace
}  // namespace zuv
