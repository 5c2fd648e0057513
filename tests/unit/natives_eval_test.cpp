// The evaluation, word and output natives, through source text evaluated by
// the interpreter (and, where the interpreter's own argument checks stand in
// the way, through their entries).
#include <gtest/gtest.h>

#include <string>

#include "evaluator/natives.hpp"
#include "evaluator/natives_eval.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "tests/unit/capture.hpp"
#include "tests/unit/builder.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

// Runs a native's entry on the arguments as the interpreter does (a frame
// named by the native's word, the arguments from its first cell); answers
// "category/id" of the error raised, or "" with the result in result.
std::string call_entry(const char* name, natives::Entry entry, std::initializer_list<Cell> args,
                       const int32_t* refinements, Cell* result) {
    return guarded([&] {
        Cell word = word_of(name);
        stack::mark_native(&word);
        for (const Cell& a : args) stack::push(&a);
        entry(false, refinements);
        *result = *stack::arguments;
    });
}

class NativesEval : public ::testing::Test {
protected:
    void SetUp() override { ensure_evaluator(); }

    struct Case {
        const char* source;
        const char* expected;
    };
    // The datatype of the source's value (0 for an error).
    static uint32_t type_after(const char* source) {
        Evaluated r = eval_source(source);
        return r.error.empty() ? type_of(&r.value) : 0;
    }
    static void check(std::initializer_list<Case> cases) {
        for (const Case& c : cases) EXPECT_EQ(run_source(c.source), c.expected) << c.source;
    }

    // What the source prints, and its molded value (or "!category/id").
    struct Printed {
        std::string output;
        std::string value;
    };
    static Printed printed(const char* source) {
        Printed p;
        StdoutCapture capture;
        p.value = run_source(source);
        p.output = capture.finish();
        return p;
    }
};

// ---- compose ----

TEST_F(NativesEval, ComposeEvaluatesParensAndSplicesBlocks) {
    check({
        {"compose [a (add 1 2) ([b c]) ()]", "[a 3 b c]"},
        {"compose/only [a (add 1 2) ([b c]) ()]", "[a 3 [b c]]"},
        {"compose [1 (unset 'q) 2]", "[1 2]"},  // an unset result is dropped
        {"compose [([]) x]", "[x]"},             // an empty block splices nothing
        {"compose [1 [(add 1 1)]]", "[1 [(add 1 1)]]"},
        {"compose/deep [1 [(add 1 1) [(add 1 2) ([4 5])]]]", "[1 [2 [3 4 5]]]"},
        {"compose/deep/only [[([4 5])]]", "[[[4 5]]]"},
        {"b: [x y] r: compose/into [(add 1 1) z] find b 'y reduce [b r]", "[[x 2 z y] [y]]"},
        {"b: copy [] r: compose/into [(add 1 1) ([3 4])] b reduce [b same? b r]", "[[2 3 4] true]"},
    });
}

TEST_F(NativesEval, ComposeOfANonBlockIsRefused) {
    // The interpreter refuses it while fetching; the entry refuses it itself.
    EXPECT_EQ(run_source("compose 1"), "!script/expect-arg");
    int32_t r[3] = {-1, -1, -1};
    Cell result;
    EXPECT_EQ(call_entry("compose", natives::compose_star, {integer_value(1)}, r, &result), "script/expect-val");
    EXPECT_EQ(mold(runtime::pending_error().args[0]), "block!");
    EXPECT_EQ(mold(runtime::pending_error().args[1]), "integer!");
}

// ---- reduce ----

TEST_F(NativesEval, ReduceEvaluatesEachExpression) {
    check({
        {"reduce [add 1 1 \"a\"]", "[2 \"a\"]"},
        {"reduce []", "[]"},
        {"reduce [1\n\"a\"]", "[1 \"a\"]"},  // the new-line markers are cleared
        {"x: 5 reduce 'x", "5"},
        {"type? reduce :add", "action!"},
        {"b: [] reduce/into [1 add 1 1] b", "[1 2]"},
        // Into a series that is not at its tail: inserted there, the result
        // the position after the values.
        {"b: [x y] r: reduce/into [add 1 1 add 2 2] find b 'y reduce [b r]", "[[x 2 4 y] [y]]"},
        {"b: [x y] c: [1] reduce/into 'c find b 'y", "[y]"},
        {"b: [x y] c: [1] reduce/into 'c find b 'y b", "[x [1] y]"},
        {"reduce [1 no-such-word]", "!script/no-value"},
    });
}

// ---- do ----

TEST_F(NativesEval, DoEvaluatesByTheValuesType) {
    check({
        {"do [add 1 2]", "3"},
        {"do \"add 1 2\"", "3"},
        {"o: construct [a: 7] do 'o/a", "7"},
        {"x: 9 do 'x", "9"},
        {"do 5", "5"},
        {"do :add", "!script/no-arg"},  // a function is called, with nothing to take
        {"b: find [1 2] 2 do b", "2"},
        {"do/expand [1]", "!internal/not-done"},
    });
    EXPECT_EQ(type_after("do []"), TYPE_UNSET);
    // Scripts are run by the language library, which is not there yet.
    Cell file = string_value("script.zuv");
    cell::set_type(&file, TYPE_FILE);
    int32_t r[4] = {-1, -1, -1, -1};
    Cell result;
    EXPECT_EQ(call_entry("do", natives::do_star, {file}, r, &result), "internal/not-done");
}

TEST_F(NativesEval, DoNextEvaluatesOneExpressionAndSetsThePosition) {
    check({
        {"b: [1 2] r: do/next b 'pos reduce [r pos same? pos find b 2]", "[1 [2] true]"},
        {"r: do/next [add 1 2 5] 'pos reduce [r pos]", "[3 [5]]"},
        {"do/next [] 'pos pos", "[]"},
    });
}

TEST_F(NativesEval, DoOfAnErrorRaisesIt) {
    EXPECT_EQ(run_source("e: try [do/next [no-such-word] 'p] do :e"), "!script/no-value");
}

// ---- words ----

TEST_F(NativesEval, GetAndSet) {
    check({
        {"x: 5 get 'x", "5"},
        {"unset 'x get 'x", "!script/no-value"},
        {"set 'x 4 x", "4"},
        {"set 'x ()", "!script/need-value"},
        {"set/any 'x () value? 'x", "false"},  // set/any stores unset
        {"set [a b] [1 2] reduce [a b]", "[1 2]"},
        {"set [a b] 3 reduce [a b]", "[3 3]"},
        {"set [a b] [1] reduce [a b]", "[1 none]"},
        {"o: construct [a: 1] set 'o/a 5 get 'o/a", "5"},
        {"o: construct [a: 1 b: 2] set o [8 9] get o", "[8 9]"},
    });
    EXPECT_EQ(type_after("unset 'x get/any 'x"), TYPE_UNSET);
}

TEST_F(NativesEval, ValueTestsTheWordsValue) {
    check({
        {"x: 1 value? 'x", "true"},
        {"unset 'x value? 'x", "false"},
        {"a: 1 b: 2 unset [a b 3] reduce [value? 'a value? 'b]", "[false false]"},
    });
    // The spec admits words only; the entry also answers for any other value.
    Cell result;
    EXPECT_EQ(call_entry("value?", natives::value_q_star, {integer_value(1)}, nullptr, &result), "");
    EXPECT_EQ(mold(result), "true");
}

TEST_F(NativesEval, BindAndIn) {
    check({
        {"a: 0 o: construct [a: 1] do bind [a] o", "1"},
        {"a: 0 o: construct [a: 1] b: [a] c: bind/copy b o reduce [do b do c]", "[0 1]"},
        {"a: 0 o: construct [a: 1] get bind 'a o", "1"},
        {"o: construct [a: 1] get in o 'a", "1"},
        {"o: construct [a: 1] in o 'zz", "none"},
        {"o: construct [a: 1] get in o /a", "1"},  // a refinement comes back as a word
    });
}

TEST_F(NativesEval, ConstructExtendAndType) {
    check({
        {"o: construct [a: none b: c]  reduce [type? o/a o/b]", "[none! c]"},
        {"o: construct/only [a: none] type? o/a", "word!"},
        {"p: construct [a: 1] o: construct/with [b: 2] p reduce [o/a o/b]", "[1 2]"},
        {"extend construct [a: 1] [b 2]", "!internal/not-done"},
        {"type? 1", "integer!"},
    });
    Evaluated r = eval_source("type?/word 1");
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(type_of(&r.value), TYPE_WORD);
    EXPECT_EQ(mold(r.value), "integer!");
}

// ---- print ----

TEST_F(NativesEval, PrintFormsAndPrin) {
    Printed p = printed("print [add 1 1 \"a\"] prin [add 2 2 \"b\"] prin 5 print \"s\"");
    EXPECT_EQ(p.output, "2 a\n4 b5s\n");
    {
        StdoutCapture quiet;
        EXPECT_EQ(type_after("print 1"), TYPE_UNSET);
    }
    // The library reads the last newline flag through a routine.
    routines::Fn last_lf = routines::at(routines::find("last-lf?"));
    ASSERT_NE(last_lf, nullptr);
    printed("prin 1");
    EXPECT_EQ(last_lf(nullptr, 0).i, 0);
    printed("print 1");
    EXPECT_EQ(last_lf(nullptr, 0).i, 1);
}

TEST_F(NativesEval, PrintInsidePrintKeepsTheOuterValues) {
    Printed p = printed("f: func [] [print [\"in\" add 1 2] 5] print [\"a\" f \"b\"]");
    EXPECT_EQ(p.output, "in 3\na 5 b\n");
    // The scratch block is back to empty.
    EXPECT_EQ(block::zs_length_q(natives::print_scratch), 0);
    EXPECT_EQ(natives::print_scratch->w1, 0u);
}

TEST_F(NativesEval, PrintCutsTheScratchBackWhenTheReductionFails) {
    Printed p = printed("print [1 2 no-such-word]");
    EXPECT_EQ(p.value, "!script/no-value");
    EXPECT_EQ(p.output, "");
    EXPECT_EQ(memory::length_of(memory::buffer_of(natives::print_scratch->w2)), 0);
    EXPECT_EQ(natives::print_scratch->w1, 0u);
}

// ---- with the collector running ----

// Every value the natives build stays alive and in place while the code
// they run allocates (the GC-stress build collects and moves at every
// allocation). The results are kept in global words.
TEST_F(NativesEval, BuiltValuesSurviveCollections) {
    collector::enabled = true;
    Printed p = printed(
        "r1: compose/deep [a (copy [b]) [(copy \"c\") (reduce [copy [d] copy \"e\"])] ((copy [f g]))] "
        "r2: reduce [copy [1] copy \"two\" reduce [copy [3]]] "
        "r3: copy [x y] reduce/into [copy [p] copy \"q\"] find r3 'y "
        "r4: do/next [copy [n] 1] 'pos "
        "f: func [] [print [copy \"in\" copy [1]] copy \"v\"] "
        "print [copy \"a\" f copy [2 3]]");
    collector::enabled = false;
    EXPECT_EQ(p.output, "in 1\na v 2 3\n");
    EXPECT_EQ(mold(global_value("r1")), "[a b [\"c\" [d] \"e\"] f g]");
    EXPECT_EQ(mold(global_value("r2")), "[[1] \"two\" [[3]]]");
    EXPECT_EQ(mold(global_value("r3")), "[x [p] \"q\" y]");
    EXPECT_EQ(mold(global_value("r4")), "[n]");
    EXPECT_EQ(mold(global_value("pos")), "[1]");
}

}  // namespace
