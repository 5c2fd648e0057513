// Trace events: do/trace with a callback function, the event mask, the
// guards around the callback, and the session's clean-up.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

class Trace : public ::testing::Test {
protected:
    void SetUp() override { ensure_evaluator(); }
    void TearDown() override {
        // Every session ends with tracing off and the callback removed.
        EXPECT_FALSE(interpreter::tracing_q);
        EXPECT_FALSE(interpreter::trace_run_q);
        EXPECT_EQ(type_of(interpreter::trace_callback), TYPE_NONE);
    }

    // The spellings of the words in the block the global word names.
    static std::vector<std::string> words_in(const char* name) {
        Cell block = global_value(name);
        std::vector<std::string> out;
        for (int32_t i = 0, n = block::zs_length_q(&block); i < n; i++) {
            const Cell* c = block::zs_abs_at(&block, int32_t(block.w1) + i);
            int32_t s = int32_t(c->w2);
            out.emplace_back(reinterpret_cast<const char*>(symbol::name_of(s)), size_t(symbol::name_length(s)));
        }
        return out;
    }
};

// A callback that logs each event word it receives.
constexpr const char* LOGGER = "log: copy [] logger: func [event code offset value ref frame] [append log event] ";

TEST_F(Trace, AMaskDeliversOnlyTheEventsItNames) {
    EXPECT_EQ(run_source("log: copy [] "
                         "cb: func [event code offset value ref frame] [[call return] append log event] "
                         "do/trace [add 1 2] :cb log"),
              "[call return]");
}

TEST_F(Trace, WithoutAMaskEveryEventIsDelivered) {
    std::string source = std::string(LOGGER) +
                         "f: func [x] [add x 1] "
                         "do/trace [x: f 1 try [no-such-word] catch [throw 3]] :logger";
    ASSERT_EQ(run_source(source.c_str()), "3");
    std::vector<std::string> log = words_in("log");
    std::set<std::string> seen(log.begin(), log.end());
    EXPECT_EQ(seen, (std::set<std::string>{"init", "end", "prolog", "epilog", "enter", "exit", "open", "return",
                                           "fetch", "push", "set", "call", "error", "throw", "catch", "expr"}));
    EXPECT_EQ(log.front(), "init");
    EXPECT_EQ(log.back(), "end");
}

TEST_F(Trace, TracingLeavesTheResultsAsTheyAre) {
    // Every event fires with results lying in result slots and on the stack;
    // the callback's frame goes above them all.
    const char* code = "[f: func [x] [add x 1] o: construct [a: 5] y: f 1 "
                       "reduce [y f y (add 2 3) o/a add 1 f 2 do [f 7] catch [throw 8] type? try [f]]]";
    std::string plain = run_source((std::string("do ") + code).c_str());
    EXPECT_EQ(plain, "[2 3 5 5 4 8 8 error!]");
    std::string traced = run_source((std::string(LOGGER) + "do/trace " + code + " :logger").c_str());
    EXPECT_EQ(traced, plain);
}

TEST_F(Trace, TheCallbacksOwnStepsAreNotTraced) {
    // The callback itself calls, sets and pushes: none of that is reported.
    std::string source = std::string(LOGGER) + "do/trace [1] :logger log";
    EXPECT_EQ(run_source(source.c_str()), "[init enter fetch push expr exit end]");
}

TEST_F(Trace, TheEventArguments) {
    // offset from the code's head, the value, and the ref of a set.
    EXPECT_EQ(run_source("log: copy [] "
                         "cb: func [event code offset value ref frame] [[set fetch] append log reduce [offset :value :ref]] "
                         "do/trace [x: 5] :cb log"),
              "[0 x: none 1 5 none 2 5 x:]");
}

TEST_F(Trace, ACallbackOfAnotherShapeGetsAWellFormedCall) {
    // Arguments past the sixth are none; refinements are off; locals are none.
    EXPECT_EQ(run_source("log: copy [] "
                         "cb: func [event /opt x /local n] [[end] n: event append log reduce [n x]] "
                         "do/trace [1] :cb log"),
              "[end none]");
    // A callback with the trace attribute is not traced either.
    EXPECT_EQ(run_source("log: copy [] "
                         "cb: func [[trace] e c o v r f extra] [append log :extra] "
                         "do/trace [] :cb log"),
              "[none none none none]");
}

TEST_F(Trace, FunctionAttributesSwitchTracing) {
    // A no-trace function's body is silent; a trace function called from it
    // is reported again.
    std::string source = std::string(LOGGER) +
                         "g: func [[trace] x] [x] f: func [[no-trace] x] [add x g x] "
                         "do/trace [f 1] :logger log";
    EXPECT_EQ(run_source(source.c_str()),
              "[init enter fetch open fetch push call prolog enter fetch push expr exit epilog return expr exit end]");
}

TEST_F(Trace, AnErrorInTheCallbackLeavesTracingOff) {
    std::string source = std::string("log: copy [] "
                                     "cb: func [event code offset value ref frame] "
                                     "[append log event if equal? :value 7 [no-such-word]] "
                                     "r: do/trace [try [7] 8 9] :cb reduce [r pick log length? log find log 'end]");
    // The fetch of 7 inside the try failed; nothing was reported after it.
    EXPECT_EQ(run_source(source.c_str()), "[9 fetch none]");
}

TEST_F(Trace, ReturnLeavesTheTracedEvaluationAndItsFunction) {
    EXPECT_EQ(run_source("log: copy [] "
                         "cb: func [event code offset value ref frame] [[end] append log event] "
                         "f: func [] [do/trace [return 5] :cb 6] "
                         "reduce [f log]"),
              "[5 [end]]");
}

TEST_F(Trace, ANestedTraceDoesNotReplaceTheSession) {
    std::string source = std::string(LOGGER) +
                         "other: func [event code offset value ref frame] [append log 'other] "
                         "do/trace [do/trace [1] :other] :logger find log 'other";
    EXPECT_EQ(run_source(source.c_str()), "none");
}

TEST_F(Trace, TheCallbacksArgumentsSurviveCollections) {
    // The callback allocates at every event; the GC-stress build collects
    // and moves everything there.
    collector::enabled = true;
    std::string result = run_source(
        "log: copy [] cb: func [event code offset value ref frame] [[set] append log reduce [copy form event :value]] "
        "do/trace [x: copy [1 2] y: reduce [x copy \"s\"]] :cb log");
    collector::enabled = false;
    EXPECT_EQ(result, "[\"set\" [1 2] \"set\" [[1 2] \"s\"]]");
}

}  // namespace
