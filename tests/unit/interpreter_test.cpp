#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/stack.hpp"
#include "runtime/collector.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/fire.hpp"
#include "runtime/init.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/runtime.hpp"
#include "tests/unit/builder.hpp"

using namespace zuv;
using namespace zuv::test;

namespace {

// ---- test natives, in slots that are empty outside the tests ----

constexpr int32_t PROBE_SLOT = 110;  // probe v [integer!] /a x [integer!] /b y [integer!] /c
constexpr int32_t BREAK_SLOT = 111;  // brk: breaks out of the nearest loop frame
constexpr int32_t QUOTE_SLOT = 112;  // quoting :a [any-type!] 'b [any-type!]

struct Seen {
    std::vector<int32_t> refinements;  // the machine words the entry received
    std::vector<std::string> cells;    // the call's cells, molded
    int calls = 0;
} seen;

void record_call(const int32_t* refinements, int32_t count) {
    seen.calls++;
    seen.refinements.assign(refinements, refinements + count);
    seen.cells.clear();
    for (Cell* c = stack::arguments; c < stack::top; c++) seen.cells.push_back(mold(*c));
}

void probe_entry(bool, const int32_t* refinements) {
    record_call(refinements, 3);
    Cell answer;
    stack::set_last(integer::make_at(cell::begin(&answer), 42));
}

void quote_entry(bool, const int32_t* refinements) {
    record_call(refinements, 0);
    Cell block;
    block::make_at(cell::begin(&block), 2);
    block::append_cell(&block, stack::arguments);
    block::append_cell(&block, stack::arguments + 1);
    stack::set_last(&block);
}

void break_entry(bool, const int32_t*) { stack::throw_break(false, false); }

Cell make_builtin(uint32_t type, const Cell& spec, int32_t index) {
    Cell proto, s = block_of({spec, integer_value(index)});
    datatype::make_at(&proto, int32_t(type));
    Cell made = *get_slot<Act::make>(type)(&proto, &s, int32_t(type));
    stack::pop(1);
    return made;
}

Cell make_op(const Cell& function) {
    Cell proto, f = function;
    datatype::make_at(&proto, TYPE_OP);
    return *op::make(&proto, &f, TYPE_OP);
}

Cell types(std::initializer_list<const char*> names) {
    Cell b = block_of({});
    for (const char* n : names) {
        Cell w = word_of(n);
        block::append_cell(&b, &w);
    }
    return b;
}

// The words the tests call, bound as the boot definitions bind them. They
// take the place of built-in functions of the same names (and of their specs
// as the boot definitions registered them) only while a test runs: the
// fixture puts back what was there, so that the tests of other suites run
// later in the same process see the built-in ones.
constexpr const char* DEFINED[] = {"add", "multiply", "+", "*", "append", "clear", "probe", "brk", "quoting"};
constexpr size_t DEFINED_COUNT = std::size(DEFINED);
Cell replaced[DEFINED_COUNT];  // what the words held before the test, in the order of DEFINED

void define_words() {
    static const bool installed = [] {
        natives::install_test_entry(PROBE_SLOT, probe_entry);
        natives::install_test_entry(BREAK_SLOT, break_entry);
        natives::install_test_entry(QUOTE_SLOT, quote_entry);
        for (Cell& c : replaced) collector::add_root(&c);
        return true;
    }();
    (void)installed;
    runtime::boot_flag = true;  // these are the test's own boot definitions
    Cell two_integers = block_of({word_of("value1"), types({"integer!"}), word_of("value2"), types({"integer!"})});
    Cell add = make_builtin(TYPE_ACTION, two_integers, 11);
    Cell multiply = make_builtin(TYPE_ACTION, two_integers, 13);
    Cell made[] = {
        add,
        multiply,
        make_op(add),
        make_op(multiply),
        make_builtin(TYPE_ACTION,
                     block_of({word_of("series"), types({"block!"}), word_of("value"), types({"any-type!"}),
                               refinement_of("part"), word_of("length"), types({"integer!"}), refinement_of("only"),
                               refinement_of("dup"), word_of("count"), types({"integer!"})}),
                     25),
        make_builtin(TYPE_ACTION, block_of({word_of("series"), types({"block!"})}), 29),
        make_builtin(TYPE_NATIVE,
                     block_of({word_of("v"), types({"integer!"}), refinement_of("a"), word_of("x"),
                               types({"integer!"}), refinement_of("b"), word_of("y"), types({"integer!"}),
                               refinement_of("c")}),
                     PROBE_SLOT),
        make_builtin(TYPE_NATIVE, block_of({}), BREAK_SLOT),
        make_builtin(TYPE_NATIVE,
                     block_of({get_word_of("a"), types({"any-type!"}), lit_word_of("b"), types({"any-type!"})}),
                     QUOTE_SLOT),
    };
    static_assert(std::size(made) == DEFINED_COUNT);
    for (size_t i = 0; i < DEFINED_COUNT; i++) {
        word_of(DEFINED[i]);  // in the global context from now on, unset when it is new
        replaced[i] = global_value(DEFINED[i]);
        set_global(DEFINED[i], made[i]);
    }
    runtime::boot_flag = false;
}

void restore_words() {
    for (size_t i = 0; i < DEFINED_COUNT; i++) set_global(DEFINED[i], replaced[i]);
    register_builtin_specs_again();
}

class Interpreter : public ::testing::Test {
protected:
    void SetUp() override {
        ensure_evaluator();
        define_words();
        seen = Seen{};
    }
    void TearDown() override {
        EXPECT_EQ(stack::pending(), 0u);
        EXPECT_EQ(stack::depth(), 0) << "a frame was left on the call stack";
        restore_words();
    }
    static Cell w(const char* name) { return word_of(name); }
    static Cell i(int32_t v) { return integer_value(v); }
};

// ---- expressions ----

TEST_F(Interpreter, EvaluatesExpressions) {
    EXPECT_EQ(run(block_of({w("append"), block_of({i(1), i(2)}), i(3)})), "[1 2 3]");
    EXPECT_EQ(run(block_of({i(1), w("+"), i(2), w("*"), i(3)})), "9");  // no precedence
    EXPECT_EQ(run(block_of({paren_of({i(1), i(2)})})), "2");
    EXPECT_EQ(run(block_of({i(1), string_value("a")})), "\"a\"");
    EXPECT_EQ(run(block_of({lit_word_of("x")})), "x");
    EXPECT_EQ(run(block_of({w("add"), i(1), i(2), w("*"), i(10)})), "21");  // infix inside an argument
    EXPECT_EQ(run(block_of({global_value("add"), i(1), i(2)})), "3");       // a literal function is called
    EXPECT_EQ(run(block_of({w("add"), paren_of({i(1), w("+"), i(1)}), i(1)})), "3");

    Evaluated empty = evaluate(block_of({}));
    EXPECT_EQ(empty.error, "");
    EXPECT_EQ(type_of(&empty.value), TYPE_UNSET);
}

TEST_F(Interpreter, SetWordsChainAndWordsYieldTheirValues) {
    EXPECT_EQ(run(block_of({set_word_of("a"), set_word_of("b"), i(5)})), "5");
    EXPECT_EQ(mold(global_value("a")), "5");
    EXPECT_EQ(mold(global_value("b")), "5");

    set_global("held", lit_word_of("y"));
    EXPECT_EQ(run(block_of({w("held")})), "'y");  // a lit-word! value is not turned into a word
    EXPECT_EQ(run(block_of({get_word_of("held")})), "'y");
    set_global("fn", global_value("add"));
    EXPECT_EQ(run(block_of({get_word_of("fn")})), "make action! [[value1 [integer!] value2 [integer!]]]");
}

TEST_F(Interpreter, ExpressionErrors) {
    const struct {
        Cell code;
        const char* error;
    } cases[] = {
        {block_of({w("no-such-word")}), "!script/no-value"},
        {block_of({i(1), set_word_of("a")}), "!script/need-value"},
        {block_of({w("+"), i(1), i(2)}), "!script/no-op-arg"},
        {block_of({set_word_of("a"), w("brk-unset")}), "!script/no-value"},
        {block_of({path_of({})}), "!script/empty-path"},
        {block_of({path_of({i(1), i(2)})}), "!script/word-first"},
        {block_of({path_of({w("no-such-word"), i(2)})}), "!script/unset-path"},
        {block_of({cells_of(TYPE_SET_PATH, {w("b"), i(1)})}), "!script/need-value"},
        {block_of({cells_of(TYPE_SET_PATH, {w("append"), w("only")}), i(1)}), "!script/invalid-path-set"},
        {block_of({cells_of(TYPE_GET_PATH, {w("append"), w("only")})}), "!script/invalid-path-get"},
        {block_of({global_value("+")}), "!internal/not-done"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.error) << mold(c.code);
}

TEST_F(Interpreter, SetWordRejectsUnset) {
    Cell unset_value;
    cell::begin(&unset_value);
    set_global("nothing", unset_value);
    EXPECT_EQ(run(block_of({set_word_of("z"), get_word_of("nothing")})), "!script/need-value");
}

TEST_F(Interpreter, PathsSelectAndStore) {
    set_global("b", block_of({i(10), i(20), i(30)}));
    set_global("n", i(3));
    EXPECT_EQ(run(block_of({path_of({w("b"), i(2)})})), "20");
    EXPECT_EQ(run(block_of({path_of({w("b"), paren_of({i(1), w("+"), i(0)})})})), "10");
    EXPECT_EQ(run(block_of({path_of({w("b"), get_word_of("n")})})), "30");
    EXPECT_EQ(run(block_of({cells_of(TYPE_GET_PATH, {w("b"), i(2)})})), "20");
    EXPECT_EQ(run(block_of({cells_of(TYPE_LIT_PATH, {w("b"), i(2)})})), "b/2");
    EXPECT_EQ(run(block_of({cells_of(TYPE_SET_PATH, {w("b"), i(2)}), i(99)})), "99");
    EXPECT_EQ(mold(global_value("b")), "[10 99 30]");
    EXPECT_EQ(run(block_of({path_of({w("b"), paren_of({})})})), "!script/invalid-path");
}

// ---- calls ----

TEST_F(Interpreter, NativeReceivesArgumentsAndRefinementsInPathOrder) {
    // probe/b/a: /b's argument comes first, the machine words point at them.
    EXPECT_EQ(run(block_of({path_of({w("probe"), w("b"), w("a")}), i(1), i(2), i(3)})), "42");
    EXPECT_EQ(seen.cells, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(seen.refinements, (std::vector<int32_t>{2, 1, -1}));

    EXPECT_EQ(run(block_of({w("probe"), i(7)})), "42");
    EXPECT_EQ(seen.refinements, (std::vector<int32_t>{-1, -1, -1}));

    // A get-word element names a refinement used when its word's value is
    // true; when off, its arguments are still taken from the code but not passed.
    Cell off;
    set_global("a", *logic::make_at(&off, false));
    EXPECT_EQ(run(block_of({path_of({w("probe"), get_word_of("a"), w("c")}), i(1), i(2)})), "42");
    EXPECT_EQ(seen.cells, (std::vector<std::string>{"1"}));
    EXPECT_EQ(seen.refinements, (std::vector<int32_t>{-1, -1, 1}));
}

TEST_F(Interpreter, CallErrors) {
    const struct {
        Cell code;
        const char* error;
    } cases[] = {
        {block_of({w("probe")}), "!script/no-arg"},
        {block_of({w("probe"), string_value("x")}), "!script/expect-arg"},
        {block_of({path_of({w("probe"), w("a"), w("a")}), i(1), i(2), i(3)}), "!script/dup-refine"},
        {block_of({path_of({w("probe"), w("z")}), i(1)}), "!script/no-refine"},
        {block_of({path_of({w("probe"), i(1)}), i(1)}), "!script/bad-refine"},
        {block_of({path_of({w("probe"), w("a")}), i(1)}), "!script/no-arg"},
        {block_of({path_of({w("probe"), w("a")}), i(1), string_value("s")}), "!script/expect-arg"},
        {block_of({string_value("a"), w("+"), i(1)}), "!script/expect-arg"},  // the left operand is checked too
        {block_of({w("add"), i(1)}), "!script/no-arg"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.code), c.error) << mold(c.code);

    run(block_of({w("probe"), string_value("x")}));
    const PendingError& e = runtime::pending_error();
    ASSERT_EQ(e.arg_count, 3);
    EXPECT_EQ(mold(e.args[0]), "probe");
    EXPECT_EQ(mold(e.args[1]), "string!");
    EXPECT_EQ(mold(e.args[2]), "v");

    run(block_of({path_of({w("probe"), w("b")}), i(1)}));
    EXPECT_EQ(mold(runtime::pending_error().args[1]), "y");
    EXPECT_EQ(seen.calls, 0);
}

TEST_F(Interpreter, ApplyModesTakeArgumentsAndRefinementsFromTheBlock) {
    Cell probe = global_value("probe");
    Cell t, f;
    logic::make_at(&t, true);
    logic::make_at(&f, false);
    auto apply = [&](const Cell& args, int32_t mode) {
        seen = Seen{};
        return guarded([&] {
            interpreter::eval_code(&probe, 0, block::zs_length_q(&args), &args, false, nullptr, nullptr, nullptr,
                                   mode, false);
            stack::raise_pending();  // a C++ caller: an argument error comes back pending
        });
    };
    using R = std::vector<int32_t>;
    using C = std::vector<std::string>;
    EXPECT_EQ(apply(block_of({i(1), refinement_of("b"), t, i(5)}), interpreter::APPLY_NAMED), "");
    EXPECT_EQ(seen.cells, (C{"1", "5"}));
    EXPECT_EQ(seen.refinements, (R{-1, 1, -1}));
    EXPECT_EQ(apply(block_of({i(1), refinement_of("b"), f, i(5), refinement_of("c"), t}), interpreter::APPLY_NAMED), "");
    EXPECT_EQ(seen.cells, (C{"1"}));
    EXPECT_EQ(seen.refinements, (R{-1, -1, 1}));

    EXPECT_EQ(apply(block_of({i(1), f, i(2), t, i(3), f}), interpreter::APPLY_ALL), "");
    EXPECT_EQ(seen.cells, (C{"1", "3"}));
    EXPECT_EQ(seen.refinements, (R{-1, 1, -1}));
    // Missing trailing values: the refinements are off, their arguments none.
    EXPECT_EQ(apply(block_of({i(1)}), interpreter::APPLY_ALL), "");
    EXPECT_EQ(seen.cells, (C{"1", "none", "none"}));
    EXPECT_EQ(seen.refinements, (R{-1, -1, -1}));
    EXPECT_EQ(apply(block_of({}), interpreter::APPLY_ALL), "script/no-arg");  // v is read: none is no integer
    EXPECT_EQ(apply(block_of({i(1), i(2)}), interpreter::APPLY_ALL), "script/expect-arg");

    // /safer: every argument is exactly one value.
    EXPECT_EQ(apply(block_of({i(1), w("+"), i(1)}), interpreter::APPLY_NAMED), "");
    EXPECT_EQ(seen.cells, (C{"2", "none", "none"}));  // the block ended: the refinements' arguments are none
    EXPECT_EQ(apply(block_of({i(1), w("+"), i(1)}), interpreter::APPLY_NAMED | interpreter::APPLY_SAFER),
              "script/bad-refine");
}

TEST_F(Interpreter, QuotedArguments) {
    // :a takes the next value as it is; 'b evaluates parens and get-words only.
    set_global("q", i(5));
    EXPECT_EQ(run(block_of({w("quoting"), w("q"), w("q")})), "[q q]");
    EXPECT_EQ(run(block_of({w("quoting"), paren_of({i(1), w("+"), i(1)}), paren_of({i(1), w("+"), i(1)})})),
              "[(1 + 1) 2]");
    EXPECT_EQ(run(block_of({w("quoting"), get_word_of("q"), get_word_of("q")})), "[:q 5]");
    // An optional lit-word argument at the end of the code is unset.
    Evaluated r = evaluate(block_of({w("quoting"), w("q")}));
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(type_of(block::zs_abs_at(&r.value, 1)), TYPE_UNSET);
    EXPECT_EQ(run(block_of({w("quoting")})), "!script/no-arg");
}

TEST_F(Interpreter, ArgumentCacheIsBuiltOnceAndReused) {
    Cell probe = global_value("probe");
    const Cell* cache = memory::cells_head(memory::buffer_of(probe.w3)) + native::MORE_ARG_CACHE;
    EXPECT_EQ(run(block_of({w("probe"), i(1)})), "42");
    ASSERT_EQ(type_of(cache), TYPE_BLOCK);
    Node first = cache->w2;
    // typesets of v, x, y, the refinements /a /b /c with their ordinals, the refinement count
    EXPECT_EQ(memory::length_of(memory::buffer_of(first)), 7);
    EXPECT_EQ(run(block_of({path_of({w("probe"), w("c")}), i(2)})), "42");
    EXPECT_EQ(cache->w2, first);
    EXPECT_EQ(seen.refinements, (std::vector<int32_t>{-1, -1, 1}));
}

// ---- code that changes itself ----

TEST_F(Interpreter, BlockThatChangesItselfWhileRunning) {
    // b: [append b [...] append b [...] ... 7]: every append grows b's buffer
    // (it moves); what is appended is never evaluated.
    Cell payload = block_of({});
    for (int k = 0; k < 50; k++) {
        Cell v = i(k);
        block::append_cell(&payload, &v);
    }
    Cell code = block_of({});
    set_global("b", code);
    for (int k = 0; k < 20; k++) {
        Cell a = w("append"), target = w("b");
        block::append_cell(&code, &a);
        block::append_cell(&code, &target);
        block::append_cell(&code, &payload);
    }
    Cell last = i(7);
    block::append_cell(&code, &last);
    int32_t before = block::zs_length_q(&code);
    EXPECT_EQ(run(code), "7");
    EXPECT_EQ(block::zs_length_q(&code), before + 20 * 50);

    // clear b inside b: the evaluation stops where the block now ends.
    Cell shrinking = block_of({w("clear"), w("c"), i(1), i(2)});
    set_global("c", shrinking);
    EXPECT_EQ(run(shrinking), "[]");
}

// ---- non-local exits ----

TEST_F(Interpreter, PendingBreakLeavesEveryEvaluationAtOnce) {
    Cell* base = stack::top;
    stack::mark_loop(&words::tag_body);
    Cell* loop_base = stack::top;
    Cell code = block_of({i(1), paren_of({i(2), w("brk"), w("no-such-word")}), w("no-such-word")});
    std::string error = guarded([&] {
        interpreter::eval_block(&code, false);
        EXPECT_EQ(stack::pending(), THROW_BREAK);
        EXPECT_EQ(stack::arguments, loop_base);  // the loop frame is current again
        EXPECT_EQ(type_of(stack::arguments), TYPE_UNSET);
        stack::clear_pending();
    });
    EXPECT_EQ(error, "");
    stack::set_call_top(stack::frames_bottom);
    stack::top = stack::arguments = base;
}

// ---- the depth guard ----

TEST_F(Interpreter, DeepNestingRaisesStackOverflow) {
    runtime::commit_stack();  // the depth guard needs the thread's stack limit
    // Nested parens 20000 deep: the call stack's frames run out first.
    Cell inner = i(1);
    for (int k = 0; k < 20000; k++) inner = paren_of({inner});
    EXPECT_EQ(run(block_of({inner})), "!internal/stack-overflow");

    // With little machine stack left the guard raises long before the
    // frames run out (50 levels push 100 frames).
    uintptr_t saved = runtime::record.stack_limit;
    auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    Cell shallow = i(1);
    for (int k = 0; k < 50; k++) shallow = paren_of({shallow});
    EXPECT_EQ(run(block_of({shallow})), "1");
    runtime::record.stack_limit = here - interpreter::detail::STACK_MARGIN - 4 * 1024;
    std::string result = run(block_of({shallow}));
    runtime::record.stack_limit = saved;
    EXPECT_EQ(result, "!internal/stack-overflow");
}

}  // namespace
