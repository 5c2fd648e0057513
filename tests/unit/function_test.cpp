#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/routines.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/process.hpp"
#include "tests/unit/source_eval.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

// The source text as a block of values (data, not run), its words bound to
// the global context.
Cell load(const char* source) {
    Cell code{};
    lexer::scan(&code, reinterpret_cast<const uint8_t*>(source), int32_t(std::strlen(source)), false, true, true,
                false, nullptr, nullptr, nullptr, nullptr);
    return code;
}

// The molded value of the source's last expression, or "!category/id".
std::string eval(const char* source) { return run_source(source); }

// The molded first argument of the last error raised.
std::string error_arg1() { return mold(runtime::pending_error().args[0]); }

// ---- routines of the tests ----

routines::Value add_ints(const routines::Value* args, int32_t count) {
    routines::Value v;
    v.i = count == 2 ? args[0].i + args[1].i : -1;
    return v;
}

routines::Value negate_logic(const routines::Value* args, int32_t) {
    routines::Value v;
    v.i = !args[0].i;
    return v;
}

routines::Value halve(const routines::Value* args, int32_t) {
    routines::Value v;
    v.f = args[0].f / 2;
    return v;
}

// By address: answers its second argument's cell.
routines::Value second(const routines::Value* args, int32_t) {
    routines::Value v;
    v.cell = args[1].cell;
    return v;
}

// Compiled code of a function: its own body frame, then its result into the
// caller's slot; with a non-zero first argument it leaves through `return`
// instead (the native as compiled code calls it).
routines::Value compiled_body(const routines::Value*, int32_t) {
    Cell* first = stack::arguments;
    Cell fn = global_value("compiled");
    stack::mark_func_body(&words::tag_body, fn.w1);
    Cell answer = integer_value(integer::get_value(first) * 10);
    if (integer::get_value(first) > 0) {
        stack::mark_native(&words::return_);
        stack::push(&answer);
        natives::return_star(false, nullptr);
        routines::Value none_value{};
        return none_value;  // pending: the caller finishes the call
    }
    stack::set_last(&answer);
    stack::unwind_last_return();
    routines::Value none_value{};
    return none_value;
}

// A routine! or compiled function! made in C++ and stored under the name.
void define_routine(const char* name, const char* spec, routines::Fn fn, int32_t result_type, bool by_address) {
    Cell s = load(spec);
    int32_t index = routines::add(name, fn);
    Cell* r = routine::push_new(&s, nullptr, index, result_type, by_address);
    set_global(name, *r);
    stack::pop(1);
}

class Function : public ::testing::Test {
protected:
    void SetUp() override { ensure_evaluator(); }
    void TearDown() override {
        EXPECT_EQ(stack::pending(), 0u);
        EXPECT_EQ(stack::depth(), 0) << "a frame was left on the call stack";
    }
};

// ---- specs ----

TEST_F(Function, SpecGrammar) {
    struct Case {
        const char* spec;
        const char* error;  // "" when accepted
    };
    const Case cases[] = {
        {"[a [integer!] \"doc\" b /r c [block!] \"doc\" /local x y]", ""},
        {"['a :b [any-type!] return: [integer!] \"doc\" /local x]", ""},
        {"[a return: [integer!]]", ""},
        {"[[trace no-trace other] a]", ""},
        {"[a []]", ""},
        {"[return: [integer!] a]", "script/bad-func-def"},           // no argument after return:
        {"[return: [integer!] /r]", "script/bad-func-def"},          // nor a refinement but /local
        {"[return: integer!]", "script/bad-func-def"},               // return: takes a type block
        {"[return: [integer!] return: [integer!]]", "script/bad-func-def"},
        {"[x: [integer!]]", "script/bad-func-def"},                  // the only set-word is return:
        {"[/local x return: [integer!]]", "script/bad-func-def"},
        {"[/local :x]", "script/bad-func-def"},                     // plain words only after /local
        {"[/local x [integer!]]", "script/bad-func-def"},
        {"[/local x /r]", "script/bad-func-def"},
        {"[a \"doc\" [integer!]]", "script/bad-func-def"},          // a type block after the doc string
        {"[/r [integer!]]", "script/bad-func-def"},
        {"[a 5]", "script/bad-func-def"},
        {"[a [no-such-type!]]", "script/no-value"},                   // an unset type word
        {"[[1] a]", "script/bad-func-def"},                          // attributes are words
        {"[a [1]]", "script/invalid-type-spec"},
        {"[a [\"integer!\"]]", "script/invalid-type-spec"},
    };
    for (const Case& c : cases) {
        std::string source = std::string("func ") + c.spec + " []";
        std::string result = eval(source.c_str());
        if (*c.error) EXPECT_EQ(result, std::string("!") + c.error) << c.spec;
        else EXPECT_EQ(result.rfind("func ", 0), 0u) << c.spec << " gave " << result;
    }

    // The whole spec is the argument of bad-func-def.
    EXPECT_EQ(eval("func [a 5] []"), "!script/bad-func-def");
    EXPECT_EQ(error_arg1(), "[a 5]");
}

TEST_F(Function, DuplicateNamesIgnoreCaseAndNameTheLaterEntry) {
    EXPECT_EQ(eval("func [a b a] []"), "!script/dup-vars");
    EXPECT_EQ(error_arg1(), "a");
    EXPECT_EQ(eval("func [a /A] []"), "!script/dup-vars");
    EXPECT_EQ(error_arg1(), "/A");
    EXPECT_EQ(eval("func [a /r /local A] []"), "!script/dup-vars");
    EXPECT_EQ(error_arg1(), "A");
}

TEST_F(Function, AttributesSetTheHeaderFlags) {
    Evaluated traced = eval_source("func [[trace] a] []");
    ASSERT_EQ(traced.error, "");
    EXPECT_EQ(traced.value.header & (function::FLAG_TRACE | function::FLAG_NO_TRACE), function::FLAG_TRACE);
    Evaluated untraced = eval_source("func [[no-trace]] []");
    EXPECT_EQ(untraced.value.header & (function::FLAG_TRACE | function::FLAG_NO_TRACE), function::FLAG_NO_TRACE);
}

// ---- making ----

TEST_F(Function, MakersBuildTheirSpecs) {
    EXPECT_EQ(eval("func [a [integer!] \"doc\"] [a]"), "func [a [integer!] \"doc\"][a]");
    EXPECT_EQ(eval("does [1]"), "func [][1]");
    EXPECT_EQ(eval("has [a b] [a]"), "func [/local a b][a]");
    EXPECT_EQ(eval("function [x] [y: 1]"), "func [x /local y][y: 1]");
    EXPECT_EQ(eval("make function! [[a] [a]]"), "func [a][a]");
    EXPECT_EQ(eval("make function! [[a]]"), "!script/bad-func-def");
    EXPECT_EQ(eval("make function! [[a] 1]"), "!script/bad-func-def");

    // The spec is kept from its head; the body is a deep copy.
    Cell spec = load("x a");
    spec.w1 = 1;
    set_global("s", spec);
    EXPECT_EQ(eval("f: func s [a] reflect :f 'spec"), "[a]");
    EXPECT_EQ(eval("b: [[1]] f: func [] b append b/1 2 f"), "[1]");

    // The makers' own arguments are left as they were.
    EXPECT_EQ(eval("s: [x] f: function s [y: 1] s"), "[x]");
    EXPECT_EQ(eval("v: [a] f: has v [a] v"), "[a]");
}

TEST_F(Function, FunctionCollectsLocalsInOrder) {
    EXPECT_EQ(eval("f: function [a] [b: 1 foreach [c d] x [e: 2 (g: 3)] repeat f 3 [] remove-each h x [] a: 4] "
                   "reflect :f 'spec"),
              "[a /local b c d e g f h]");
    EXPECT_EQ(eval("f: function [a /extern b] [b: 1 c: 2] reflect :f 'spec"), "[a /local c]");
    EXPECT_EQ(eval("f: function [a /extern b /local x] [b: 1 c: 2] reflect :f 'spec"), "[a /local x c]");
    EXPECT_EQ(eval("f: function [a /local x] [y: 1 x: 2 A: 3] reflect :f 'spec"), "[a /local x y]");
    EXPECT_EQ(eval("f: function [] [local: 1 z: 2 z: 3] reflect :f 'spec"), "[/local z]");
    EXPECT_EQ(eval("f: function [] [1] reflect :f 'spec"), "[]");
    EXPECT_EQ(eval("function [a /extern b 5] [c: 1]"), "!script/bad-func-extern");

    // The collected words are the function's own: the globals are untouched.
    EXPECT_EQ(eval("y: 0 f: function [] [y: 5] f y"), "0");
}

TEST_F(Function, CyclicAndDeepBodiesAreRefused) {
    Evaluated made = eval_source("b: [x: 1] append/only b b b");
    ASSERT_EQ(made.error, "");
    EXPECT_EQ(eval("function [] b"), "!internal/no-cycle");
    EXPECT_EQ(eval("func [] b"), "!internal/no-cycle");
    EXPECT_EQ(cycles::depth(), 0);

    Cell deep = block_of({set_word_of("z"), integer_value(1)});
    for (int i = 0; i < 1100; i++) deep = block_of({deep});
    for (const char* maker : {"function", "func"}) {
        Cell code = block_of({word_of(maker), block_of({}), deep});
        EXPECT_EQ(run(code), "!internal/too-deep") << maker;
        EXPECT_EQ(cycles::depth(), 0);
    }
}

TEST_F(Function, CountLocalsAndRefinementsOff) {
    Cell spec = load("a /r b /local x y /z");
    EXPECT_EQ(function::count_locals(spec.w2, 0, true), 3);  // /local x y; a refinement after it is not counted
    EXPECT_EQ(function::count_locals(spec.w2, 5, true), -1);
    EXPECT_EQ(function::count_locals(spec.w2, 5, false), 0);

    Cell* base = stack::top;
    function::push_refinement_off(3);
    ASSERT_EQ(stack::top - base, 3);
    EXPECT_EQ(mold(base[0]) + " " + mold(base[1]) + " " + mold(base[2]), "false none none");
    stack::top = base;
}

// ---- values ----

TEST_F(Function, CopiesAreSameAndEqualSpecsAreNot) {
    EXPECT_EQ(eval("f: func [a] [a] g: :f same? :f :g"), "true");
    EXPECT_EQ(eval("f: func [a] [a] g: :f equal? :f :g"), "true");
    EXPECT_EQ(eval("equal? func [a] [a] func [a] [a]"), "false");

    Cell f = eval_source("func [] []").value, g = eval_source(("func [] []")).value;
    Cell i = integer_value(1);
    EXPECT_EQ(function::compare(&f, &i, COMP_EQUAL), COMPARE_INCOMPARABLE);
    EXPECT_EQ(function::compare(&f, &g, COMP_LESSER), COMPARE_INCOMPARABLE);
    EXPECT_NE(function::compare(&f, &g, COMP_SORT), 0);
}

TEST_F(Function, FormMoldAndReflect) {
    EXPECT_EQ(form(eval_source("func [] []").value), "?function?");

    // A function made without a body (as compiled code may be).
    Cell spec = load("a");
    function::push_new(&spec, nullptr, 0, 0, 0, 0);
    Cell bodiless = *(stack::top - 1);
    stack::pop(1);
    EXPECT_EQ(mold(bodiless), "func [a] none");

    Evaluated f = eval_source("f: func [a /r b] [a]");
    ASSERT_EQ(f.error, "");
    auto reflect = [&](int32_t field) {
        Cell v = f.value;
        std::string error = raised([&] { v = *get_slot<Act::reflect>(TYPE_FUNCTION)(&v, field); });
        return error + mold(v);
    };
    EXPECT_EQ(reflect(sym::spec), "[a /r b]");
    EXPECT_EQ(reflect(sym::body), "[a]");
    EXPECT_EQ(reflect(sym::words), "[a r b]");
    EXPECT_EQ(reflect(sym::self), "internal/not-done" + mold(f.value));

    // The words are bound to the function's context; its own value is the function.
    Cell words = f.value;
    get_slot<Act::reflect>(TYPE_FUNCTION)(&words, sym::words);
    EXPECT_EQ(block::zs_abs_at(&words, 1)->w1, f.value.w1);
    EXPECT_EQ(int32_t(block::zs_abs_at(&words, 1)->w3), 1);
    EXPECT_EQ(_context::own_value(f.value.w1)->w3, f.value.w3);
}

// ---- calls ----

TEST_F(Function, ArgumentsRefinementsAndLocals) {
    EXPECT_EQ(eval("f: func [a /b c /local d] [reduce [a b c d]] f 1"), "[1 false none none]");
    EXPECT_EQ(eval("f/b 1 2"), "[1 true 2 none]");
    EXPECT_EQ(eval("f/b/b 1 2 3"), "!script/dup-refine");
    EXPECT_EQ(eval("f/z 1"), "!script/no-refine");
    EXPECT_EQ(eval("f"), "!script/no-arg");
    EXPECT_EQ(eval("g: func [a [integer!]] [a] g \"x\""), "!script/expect-arg");
    EXPECT_EQ(eval("q: func [:a 'b [any-type!]] [reduce [a type? :b]] q x"), "[x unset!]");

    // The argument cache is built on the first call and kept.
    Evaluated h = eval_source("h: func [a] [a] h 1 :h");
    ASSERT_EQ(h.error, "");
    Cell cache = *function::more_cell(&h.value, function::MORE_ARG_CACHE);
    EXPECT_EQ(type_of(&cache), TYPE_BLOCK);
    EXPECT_EQ(eval("h 2"), "2");
    EXPECT_EQ(function::more_cell(&h.value, function::MORE_ARG_CACHE)->w2, cache.w2);
}

TEST_F(Function, ReturnAndExit) {
    EXPECT_EQ(eval("f: func [] [return 5 6] f"), "5");
    Evaluated e = eval_source("f: func [] [exit 6] f");
    ASSERT_EQ(e.error, "");
    EXPECT_EQ(type_of(&e.value), TYPE_UNSET);

    // From nested blocks, loops, catch and try; only the innermost function is left.
    EXPECT_EQ(eval("f: func [] [either equal? 1 1 [do [return 7]] [0] 8] f"), "7");
    EXPECT_EQ(eval("f: func [] [loop 3 [return 9] 0] f"), "9");
    EXPECT_EQ(eval("f: func [] [catch [try [return 3]] 4] f"), "3");
    EXPECT_EQ(eval("g: func [] [return 1] f: func [] [add g 10] f"), "11");
    EXPECT_EQ(eval("f: func [a] [reduce [a return a 1]] f 2"), "2");

    EXPECT_EQ(eval("return 1"), "!throw/return");
    EXPECT_EQ(eval("exit"), "!throw/return");
    EXPECT_EQ(eval("f: func [] [try/all [return 1]] type? f"), "error!");
}

TEST_F(Function, RecursionKeepsEachCallsWords) {
    // A thousand levels deep: on the interpreter's big stack, as the console runs code (an unoptimised
    // sanitizer build needs more than a test thread's stack for them).
    runtime::run_on_big_stack([&] {
        EXPECT_EQ(eval("fact: func [n] [if lesser? n 2 [return 1] multiply n fact subtract n 1] fact 10"), "3628800");
        EXPECT_EQ(eval("f: func [n /local x] [x: n if greater? n 0 [f subtract n 1] x] f 5"), "5");
        EXPECT_EQ(eval("r: func [n] [either equal? n 0 [0] [add 1 r subtract n 1]] r 1000"), "1000");
    });
}

TEST_F(Function, UnboundedRecursionIsAnErrorThatTryCatches) {
    runtime::commit_stack();  // the depth guard needs the thread's stack limit
    EXPECT_EQ(eval("inf: func [n] [inf n] e: try [inf 1] e/id"), "stack-overflow");
    // Every word was given back: the function runs again afterwards.
    EXPECT_EQ(eval("g: func [n] [either equal? n 0 [n] [g subtract n 1]] try [g 100000] g 10"), "0");
    EXPECT_EQ(eval("x: func [a] [reduce [a try [x a]]] length? x 1"), "2");
}

// ---- catch and throw ----

TEST_F(Function, CatchAndThrow) {
    const std::pair<const char*, const char*> cases[] = {
        {"catch [throw 1 2]", "1"},
        {"catch [1]", "1"},
        {"catch/name [throw/name 1 'a 2] 'a", "1"},
        {"catch/name [throw/name 1 'A 2] 'a", "1"},
        {"catch/name [throw/name 1 'b 2] [a b]", "1"},
        {"catch [catch/name [throw/name 1 'a 2] 'b 3]", "1"},  // travels on to the outer catch
        {"catch [catch/name [throw 1 2] 'a 3]", "1"},          // a named catch takes no unnamed throw
        {"catch [reduce [catch [throw 1] 2]]", "[1 2]"},
        {"f: func [] [throw 5] catch [f 6]", "5"},
        {"f: func [] [catch [throw 5] 6] f", "6"},
        {"catch/name [throw/name 1 'a] [a 1]", "!script/invalid-refine-arg"},
        {"throw 1", "!throw/throw"},
        {"catch/name [throw/name 1 'a] 'b", "!throw/throw"},
        {"catch [try/all [throw 1]] 2", "2"},                    // try/all stops the throw
    };
    for (const auto& [source, expected] : cases) EXPECT_EQ(eval(source), expected) << source;
}

// ---- exits out of functions that C++ code calls ----

TEST_F(Function, ExitsFromChangeHandlersReachTheirReceivers) {
    EXPECT_EQ(eval("o: make object! [a: 1 on-change*: func [w o n] [break/return 3]] loop 2 [o/a: 5 9]"), "3");
    EXPECT_EQ(eval("o: make object! [a: 1 on-change*: func [w o n] [throw 7]] catch [o/a: 5 8]"), "7");
    EXPECT_EQ(eval("o: make object! [a: 1 on-change*: func [w o n] [return 7]] o/a: 5"), "5");  // its own
    EXPECT_EQ(eval("o: make object! [a: 1 on-change*: func [w o n] [break]] o/a: 5"), "!throw/break");
}

// ---- try ----

TEST_F(Function, TryGivesErrorsAsValues) {
    Evaluated e = eval_source("try [divide 1 0]");
    ASSERT_EQ(e.error, "");
    ASSERT_EQ(type_of(&e.value), TYPE_ERROR);
    EXPECT_EQ(eval("e: try [divide 1 0] e/id"), "zero-divide");
    EXPECT_EQ(eval("e: try [1 / 0] e/id"), "zero-divide");
    EXPECT_EQ(eval("try [1 2]"), "2");
    EXPECT_EQ(eval("loop 3 [try [break/return 4] 5]"), "4");         // break goes through try
    EXPECT_EQ(eval("e: try/all [break] e/id"), "break");              // try/all stops it
    EXPECT_EQ(eval("e: try/all [continue] e/id"), "continue");
    EXPECT_EQ(eval("type? try/keep [divide 1 0]"), "error!");
    EXPECT_EQ(eval("e: try [try [divide 1 0] add 1 none] e/id"), "expect-arg");
}

// ---- routines ----

TEST_F(Function, RoutinesConvertArgumentsAndResults) {
    static const bool defined = [] {
        define_routine("add-ints", "a [integer!] b [integer!] return: [integer!]", add_ints, TYPE_INTEGER, false);
        define_routine("negated", "a [logic!] return: [logic!]", negate_logic, TYPE_LOGIC, false);
        define_routine("halve", "a [float!] return: [float!]", halve, TYPE_FLOAT, false);
        define_routine("second", "a [any-type!] b [any-type!]", second, routine::RESULT_NONE, true);
        define_routine("nothing", "a [integer!]", add_ints, routine::RESULT_NONE, false);
        return true;
    }();
    (void)defined;
    EXPECT_EQ(eval("add-ints 2 3"), "5");
    EXPECT_EQ(eval("negated equal? 1 2"), "true");
    EXPECT_EQ(eval("halve 3.0"), "1.5");
    EXPECT_EQ(eval("second 1 [x]"), "[x]");
    Evaluated nothing = eval_source("nothing 1");
    EXPECT_EQ(type_of(&nothing.value), TYPE_UNSET);

    EXPECT_EQ(eval("add-ints 2 \"x\""), "!script/expect-arg");
    EXPECT_EQ(error_arg1(), "add-ints");

    // Called as compiled code calls it: the routine checks its arguments itself.
    Cell add = global_value("add-ints");
    Cell name = word_of("add-ints");
    std::string error = guarded([&] {
        stack::mark_native(&name);
        Cell a = integer_value(1), b = string_value("x");
        stack::push(&a);
        stack::push(&b);
        interpreter::exec_routine(&add);
    });
    EXPECT_EQ(error, "script/expect-arg");

    EXPECT_EQ(form(add), "?routine?");
    EXPECT_EQ(mold(add), "routine [a [integer!] b [integer!] return: [integer!]] none");
    EXPECT_EQ(routine::get_arity(&add), 2);
    EXPECT_EQ(eval("reflect :add-ints 'words"), "[a b]");
}

TEST_F(Function, RoutineIndexesAreChecked) {
    Cell spec = load("a [integer!]");
    Cell* r = routine::push_new(&spec, nullptr, routines::count() + 7, TYPE_INTEGER, false);
    set_global("lost", *r);
    stack::pop(1);
    EXPECT_EQ(eval("lost 1"), "!internal/routines");
    EXPECT_EQ(routines::at(0), nullptr);
    EXPECT_EQ(routines::at(-1), nullptr);
}

TEST_F(Function, CompiledCodeReturnsLikeInterpretedCode) {
    static const bool defined = [] {
        Cell spec = load("n [integer!]");
        function::push_new(&spec, nullptr, 0, routines::add("compiled-body", compiled_body), 0, 0);
        set_global("compiled", *(stack::top - 1));
        stack::pop(1);
        return true;
    }();
    (void)defined;
    EXPECT_EQ(eval("compiled 0"), "0");
    EXPECT_EQ(eval("compiled 4"), "40");  // through return
    EXPECT_EQ(eval("reduce [compiled 1 compiled 0]"), "[10 0]");
}

}  // namespace
