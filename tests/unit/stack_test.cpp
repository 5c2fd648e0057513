#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <vector>

#include "evaluator/stack.hpp"
#include "evaluator/backtrace.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/throw.hpp"
#include "runtime/words.hpp"
#include "tests/unit/fixture.hpp"

using namespace zuv;

namespace {

constexpr uint32_t SYM_BODY = 1, SYM_ANON = 2, SYM_F = 10, SYM_G = 11, SYM_NATIVE = 12;

Cell word(uint32_t symbol, Node context = 0) { return Cell{TYPE_WORD, context, symbol, 0}; }
Cell integer(int32_t n) { return Cell{TYPE_INTEGER, 0, uint32_t(n), 0}; }

// A context node: its first cell the context! cell, values on the data stack.
Node make_stack_context() {
    Node n = memory::alloc_cells(2);
    Cell* c = memory::internal_cells(memory::buffer_of(n));
    *c = Cell{TYPE_CONTEXT | CONTEXT_ON_STACK | (1u << CONTEXT_KIND_SHIFT), 0, 0, 0};
    return n;
}

// The three positions a failed exit must leave as they were.
struct Snapshot {
    Cell* top;
    Cell* arguments;
    int32_t depth;
    static Snapshot take() { return {stack::top, stack::arguments, stack::depth()}; }
    bool operator==(const Snapshot&) const = default;
};

class Stack : public ::testing::Test {
protected:
    void SetUp() override {
        test::ensure_runtime();
        stack::arguments = stack::top = stack::bottom;
        stack::frames_top = stack::frames_bottom;
        std::memset(stack::frames_bottom, 0, sizeof(stack::Frame));
        stack::saved_error_position = nullptr;
        saved_symbols[0] = stack::body_symbol;
        saved_symbols[1] = stack::anon_symbol;
        stack::body_symbol = SYM_BODY;
        stack::anon_symbol = SYM_ANON;
        runtime::thrown_code = 0;
    }
    void TearDown() override {
        stack::init();  // both stacks empty again for whatever runs next
        stack::body_symbol = saved_symbols[0];
        stack::anon_symbol = saved_symbols[1];
        runtime::thrown_code = 0;
    }
    uint32_t saved_symbols[2] = {};

    // A call as the interpreter makes it: a native frame and its arguments.
    static void call_native(uint32_t symbol, std::vector<Cell> args) {
        Cell w = word(symbol);
        stack::mark_eval_native(&w);
        for (const Cell& a : args) stack::push(&a);
    }
    static void push_frame(uint32_t symbol, void (*mark)(const Cell*)) {
        Cell w = word(symbol);
        mark(&w);
    }
    static void push_ints(int n) {
        for (int i = 0; i < n; ++i) {
            Cell c = integer(1000 + i);
            stack::push(&c);
        }
    }
};

// Runs f, which must raise the language error category/id.
template <class F>
void expect_error(F&& f, ErrorCategory category, const char* id) {
    uint32_t code = 0;
    try {
        f();
    } catch (const Throw& t) {
        code = t.code;
    }
    EXPECT_EQ(code, THROW_ERROR);
    EXPECT_EQ(runtime::pending_error().category, category);
    EXPECT_STREQ(runtime::pending_error().id, id);
    runtime::thrown_code = 0;
}

TEST_F(Stack, DataStackOverflowKeepsTheAccounting) {
    EXPECT_EQ(stack::end - stack::bottom, stack::DATA_CELLS);
    stack::top = stack::bottom + 19998;
    Cell v = integer(7);
    stack::push(&v);  // 19,999 cells in use: every cell but the last
    EXPECT_EQ(stack::top - stack::bottom, 19999);
    EXPECT_EQ(stack::top[-1].w2, 7u);

    // Only the cell that did not fit is given back: the cells in use stay.
    expect_error([&] { stack::push(&v); }, ErrorCategory::internal, "stack-overflow");
    EXPECT_EQ(stack::top - stack::bottom, 19999);
    EXPECT_EQ(stack::top[-1].w2, 7u);

    expect_error([] { stack::push_raw(); }, ErrorCategory::internal, "stack-overflow");
    EXPECT_EQ(stack::top - stack::bottom, 19999);
}

TEST_F(Stack, ARawCellHoldsNoStaleValue) {
    // The collector marks every cell below top: a reserved cell must not
    // still name the series an earlier value there named.
    Cell s{TYPE_STRING, 0, 12345, 0};
    stack::push(&s);
    stack::pop(1);
    Cell* raw = stack::push_raw();
    EXPECT_EQ(type_of(raw), 0u);
}

TEST_F(Stack, TwelveThousandFramesFillTheCallStack) {
    push_ints(100);
    for (int i = 0; i < 12000; ++i) push_frame(SYM_NATIVE, stack::mark_native);
    EXPECT_EQ(stack::depth(), stack::MAX_FRAMES);
    Cell* top_before = stack::top;

    // The data stack stays as it was: the calls' cells are all still theirs.
    expect_error([] { push_frame(SYM_NATIVE, stack::mark_loop); }, ErrorCategory::internal,
                 "stack-overflow");
    EXPECT_EQ(stack::top, top_before);
    EXPECT_EQ(stack::depth(), 12000);

    // A body frame that cannot be pushed leaves its context alone.
    Node ctx = make_stack_context();
    Cell w = word(SYM_BODY);
    expect_error([&] { stack::mark_func_body(&w, ctx); }, ErrorCategory::internal, "stack-overflow");
    EXPECT_EQ(stack::top, top_before);
    EXPECT_EQ(stack::context_cell(ctx)->w2, 0u);
}

TEST_F(Stack, FramesRecordTheCallerAndUnwindAsTheyPromise) {
    Node ctx = make_stack_context();
    Cell caller = integer(1);
    stack::push(&caller);
    Cell w = word(SYM_F, ctx);
    stack::mark_func(&w, ctx);
    const stack::Frame* f = stack::get_top_frame();
    EXPECT_EQ(f->header, (SYM_F << 8) | stack::FRAME_FUNC);
    EXPECT_EQ(f->saved_args, 0u);
    EXPECT_EQ(f->word_context, ctx);
    EXPECT_EQ(f->func_context, ctx);
    EXPECT_EQ(stack::arguments, stack::bottom + 1);

    Cell a = integer(5);
    stack::push(&a);
    push_frame(SYM_BODY, [](const Cell* b) { stack::mark_func_body(b, stack::get_top_frame()->func_context); });
    EXPECT_EQ(stack::values_of(stack::context_cell(ctx)->w2), stack::bottom + 1);  // the first argument
    Cell r = integer(9);
    stack::set_last_only(&r);
    stack::unwind_last_return();  // body frame: the result into the function's slot
    EXPECT_EQ(stack::arguments->w2, 9u);
    stack::unwind_func_last();    // function frame: context back, result above the caller
    EXPECT_EQ(stack::context_cell(ctx)->w2, 0u);
    EXPECT_EQ(stack::arguments, stack::bottom);
    EXPECT_EQ(stack::top, stack::bottom + 2);
    EXPECT_EQ(stack::bottom[1].w2, 9u);
    EXPECT_EQ(stack::depth(), 0);
}

TEST_F(Stack, SmallDataStackOperations) {
    EXPECT_EQ(stack::get_top_value(), stack::bottom);  // empty: bottom itself
    push_ints(3);
    stack::pop(10);
    EXPECT_EQ(stack::top, stack::bottom);

    call_native(SYM_NATIVE, {integer(1), integer(2)});
    Cell err = Cell{TYPE_ERROR, 0, 0, 0};
    stack::push(&err);
    stack::keep_error_result();
    EXPECT_EQ(type_of(stack::arguments), TYPE_ERROR);
    EXPECT_EQ(stack::top, stack::arguments + 1);
    push_ints(1);
    stack::keep_error_result();  // not an error: the slot stays
    EXPECT_EQ(type_of(stack::arguments), TYPE_ERROR);
}

// break, continue, return, exit and throw with no target, or a try/all frame
// before it: the throw error, with every stack position as before the call.
TEST_F(Stack, ExitsWithoutTargetRaiseThrowErrorsAndRestoreTheStacks) {
    struct Case {
        const char* id;
        uint32_t target_mark;  // pushed below: the target behind a try/all, or none
        uint32_t (*raise)();
    };
    const Case cases[] = {
        {"break", 0, [] { return stack::throw_break(true, false); }},
        {"continue", 0, [] { return stack::throw_break(false, true); }},
        {"return", 0, [] { return stack::throw_return(true, false); }},
        {"return", 0, [] { return stack::throw_return(false, true); }},
        {"throw", 0, [] { return stack::throw_value(THROW_THROW); }},
        {"break", stack::FRAME_LOOP, [] { return stack::throw_break(false, false); }},
        {"return", stack::FRAME_NATIVE | stack::FRAME_BODY, [] { return stack::throw_return(true, false); }},
        {"throw", stack::FRAME_CATCH, [] { return stack::throw_value(THROW_THROW); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        SetUp();
        push_ints(2);
        Cell w = word(SYM_G);
        if (c.target_mark) {
            stack::mark(&w, c.target_mark);
            push_ints(1);
            stack::mark_try_all(&w);
        }
        stack::mark_eval_func(&w);
        push_ints(2);
        call_native(SYM_NATIVE, {integer(42), Cell{TYPE_UNSET, 0, 0, 0}});
        Snapshot before = Snapshot::take();
        expect_error(c.raise, ErrorCategory::throw_, c.id);
        // A try/all in between receives the error (and is popped with the frames above it).
        if (c.target_mark) EXPECT_EQ(stack::depth(), 1);
        else EXPECT_TRUE(Snapshot::take() == before);
        if (std::strcmp(c.id, "throw") == 0) {
            ASSERT_EQ(runtime::pending_error().arg_count, 1);
            EXPECT_EQ(runtime::pending_error().args[0].w2, 42u);
        }
    }
}

TEST_F(Stack, BreakAndContinueMakeTheLoopCurrent) {
    for (bool cont : {false, true}) {
        SCOPED_TRACE(cont ? "continue" : "break");
        SetUp();
        Node ctx = make_stack_context();
        push_ints(1);                                // the loop native's argument
        push_frame(SYM_BODY, stack::mark_loop);
        Cell* loop_base = stack::arguments;
        int32_t loop_depth = stack::depth();
        Cell w = word(SYM_F, ctx);
        stack::mark_func(&w, ctx);                  // a compiled call in the body
        push_ints(1);
        push_frame(SYM_BODY, [](const Cell* b) { stack::mark_func_body(b, stack::frames_top[-1].func_context); });
        call_native(SYM_NATIVE, {integer(42)});

        uint32_t code = stack::throw_break(true, cont);
        EXPECT_EQ(code, cont ? THROW_CONTINUE : THROW_BREAK);
        EXPECT_EQ(stack::pending(), code);
        EXPECT_EQ(stack::depth(), loop_depth);
        EXPECT_EQ(stack::arguments, loop_base);
        EXPECT_EQ(stack::top, loop_base);
        // break/return gives its value; continue leaves unset.
        EXPECT_EQ(type_of(loop_base), cont ? TYPE_UNSET : TYPE_INTEGER);
        if (!cont) {
            EXPECT_EQ(loop_base->w2, 42u);
        }
        // The dropped call's context no longer points into the data stack.
        EXPECT_EQ(stack::context_cell(ctx)->w2, 0u);
    }
}

TEST_F(Stack, ReturnAndExitFinishTheFunctionBody) {
    for (bool ret : {true, false}) {
        SCOPED_TRACE(ret ? "return" : "exit");
        SetUp();
        Node ctx = make_stack_context();
        push_frame(SYM_F, stack::mark_eval_func);
        push_ints(2);
        Cell body = word(SYM_BODY);
        stack::mark_func_body(&body, ctx);
        Cell* body_base = stack::arguments;
        int32_t body_depth = stack::depth();
        push_frame(SYM_BODY, stack::mark_loop);  // a loop does not stop return
        call_native(SYM_NATIVE, {integer(5)});

        uint32_t code = stack::throw_return(ret, false);
        EXPECT_EQ(code, ret ? THROW_RETURN : THROW_EXIT);
        EXPECT_EQ(stack::depth(), body_depth);
        EXPECT_EQ(stack::arguments, body_base);
        EXPECT_EQ(stack::top, body_base);
        EXPECT_EQ(type_of(body_base), ret ? TYPE_INTEGER : TYPE_UNSET);
    }
    // from_top: the top frame itself may be the body frame (`do` uses it).
    SetUp();
    push_ints(1);
    Node ctx = make_stack_context();
    Cell body = word(SYM_BODY);
    stack::mark_func_body(&body, ctx);
    Cell v = integer(8);
    stack::push(&v);
    EXPECT_EQ(stack::throw_return(true, true), THROW_RETURN);
    EXPECT_EQ(stack::depth(), 1);
    EXPECT_EQ(stack::arguments, stack::bottom + 1);
    EXPECT_EQ(stack::arguments->w2, 8u);
}

TEST_F(Stack, ThrowLeavesValueAndNameAtTheCatchFrame) {
    push_frame(SYM_BODY, stack::mark_catch);
    Cell* catch_base = stack::arguments;
    push_ints(3);
    push_frame(SYM_G, stack::mark_eval_func);
    Cell name = word(SYM_F);
    call_native(SYM_NATIVE, {integer(77), name});

    EXPECT_EQ(stack::throw_value(THROW_THROW), THROW_THROW);
    EXPECT_EQ(stack::depth(), 1);
    EXPECT_EQ(stack::arguments, catch_base);
    EXPECT_EQ(stack::top, catch_base + 2);
    EXPECT_EQ(catch_base[0].w2, 77u);
    EXPECT_EQ(type_of(catch_base + 1), TYPE_WORD);
    EXPECT_EQ(catch_base[1].w2, SYM_F);
}

TEST_F(Stack, UnrollStopsAtTheKindAndKeepsOrDropsIt) {
    push_ints(1);
    push_frame(SYM_BODY, stack::mark_loop);
    Cell* loop_base = stack::arguments;
    push_ints(2);
    push_frame(SYM_NATIVE, stack::mark_native);
    Cell* inner = stack::arguments;
    push_ints(3);

    stack::unroll_loop(true);  // continue: the loop frame current again
    EXPECT_EQ(stack::depth(), 1);
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(stack::top, inner + 1);

    stack::unroll(stack::FRAME_LOOP, true);  // found at the top with keep: one cell left
    EXPECT_EQ(stack::top, loop_base + 1);

    // A search that ends at the bottom with keep clear empties both stacks' positions.
    SetUp();
    push_frame(SYM_NATIVE, stack::mark_native);
    push_ints(2);
    push_frame(SYM_NATIVE, stack::mark_native);
    stack::unroll(stack::FRAME_CATCH, false);
    EXPECT_EQ(stack::depth(), 1);
    EXPECT_EQ(stack::arguments, stack::bottom);
    EXPECT_EQ(stack::top, stack::bottom);

    // try/all stops every unroll.
    SetUp();
    push_frame(SYM_BODY, stack::mark_loop);
    push_frame(SYM_BODY, stack::mark_try_all);
    push_frame(SYM_NATIVE, stack::mark_native);
    stack::unroll(stack::FRAME_LOOP, true);
    EXPECT_EQ(stack::get_top_frame()->kind(), stack::FRAME_TRY_ALL);
}

TEST_F(Stack, UnrollKeepResultFinishesTheFunctionWithTheInnerResult) {
    Node ctx = make_stack_context();
    push_ints(1);
    Cell w = word(SYM_F, ctx);
    stack::mark_func(&w, ctx);
    Cell* func_base = stack::arguments;
    push_ints(1);
    push_frame(SYM_BODY, [](const Cell* b) { stack::mark_func_body(b, stack::frames_top[-1].func_context); });
    call_native(SYM_NATIVE, {integer(31)});

    stack::unroll_keep_result(stack::FRAME_FUNC);
    EXPECT_EQ(stack::depth(), 1);
    EXPECT_EQ(stack::arguments, func_base);
    EXPECT_EQ(stack::top, func_base);
    EXPECT_EQ(func_base->w2, 31u);
    EXPECT_EQ(stack::context_cell(ctx)->w2, 0u);
}

TEST_F(Stack, ErrorsReachTheTryFrameAsTheLastPushedValue) {
    push_ints(1);
    call_native(SYM_NATIVE, {integer(1)});  // the try native
    Cell* try_native_base = stack::arguments;
    push_frame(SYM_NATIVE, stack::mark_try);
    int32_t try_depth = stack::depth() - 1;
    push_frame(SYM_F, stack::mark_eval_func);
    push_ints(4);
    Cell* top_at_error = stack::top;

    Cell error{TYPE_ERROR, 0, 123, 0};
    uint32_t code = 0;
    try {
        stack::throw_error(&error);
    } catch (const Throw& t) {
        code = t.code;
    }
    EXPECT_EQ(code, THROW_ERROR);
    EXPECT_EQ(stack::depth(), try_depth);
    EXPECT_EQ(stack::arguments, try_native_base);
    EXPECT_EQ(stack::top, top_at_error + 1);
    stack::keep_error_result();
    EXPECT_EQ(stack::arguments->w2, 123u);
    EXPECT_EQ(stack::top, try_native_base + 1);
}

TEST_F(Stack, AnErrorThatNoTryReceivesEndsTheProcess) {
    auto uncaught = [] {
        dup2(2, 1);  // the report goes to standard output
        push_frame(SYM_NATIVE, stack::mark_native);
        runtime::pending_error().category = ErrorCategory::internal;
        runtime::pending_error().id = "stack-overflow";
        Cell error{TYPE_ERROR, 0, 0, 0};
        stack::throw_error(&error);
    };
    EXPECT_EXIT(uncaught(), ::testing::ExitedWithCode(254), "\\*\\*\\* Internal Error: stack-overflow");
}

TEST_F(Stack, CallerWordSkipsBodyAndAnonAndConsumesTheSavedPosition) {
    push_frame(SYM_F, stack::mark_eval_func);
    push_frame(SYM_BODY, stack::mark_eval);
    push_frame(SYM_G, stack::mark_eval_func);
    push_frame(SYM_ANON, stack::mark_eval_func);
    push_frame(SYM_BODY, stack::mark_eval);
    EXPECT_EQ(stack::get_caller_word().symbol, SYM_G);

    stack::saved_error_position = stack::frames_bottom + 1;
    EXPECT_EQ(stack::get_caller_word().symbol, SYM_F);
    EXPECT_EQ(stack::saved_error_position, nullptr);
    EXPECT_EQ(stack::get_caller_word().symbol, SYM_G);  // back at the top

    SetUp();
    push_frame(SYM_BODY, stack::mark_eval);
    EXPECT_EQ(stack::get_caller_word().symbol, 0u);  // <not-found>

    // A failed throw records where it started: its caller names the error.
    SetUp();
    push_frame(SYM_F, stack::mark_eval_func);
    push_frame(SYM_BODY, stack::mark_eval);
    call_native(SYM_NATIVE, {integer(1), integer(2)});
    expect_error([] { stack::throw_value(THROW_THROW); }, ErrorCategory::throw_, "throw");
    EXPECT_EQ(stack::get_caller_word().symbol, SYM_F);
}

TEST_F(Stack, BacktracesShowRealCallsOnly) {
    push_frame(SYM_F, stack::mark_eval_func);
    push_frame(SYM_BODY, stack::mark_eval);
    push_frame(SYM_G, stack::mark_eval_func);
    push_frame(SYM_ANON, stack::mark_eval_func);
    push_frame(SYM_NATIVE, stack::mark_eval_native);
    std::vector<uint32_t> newest, oldest;
    stack::for_each_call_newest_first([&](const stack::Frame& f) { newest.push_back(f.symbol()); });
    stack::for_each_call_oldest_first(stack::frames_top - 1,
                                      [&](const stack::Frame& f) { oldest.push_back(f.symbol()); });
    EXPECT_EQ(newest, (std::vector<uint32_t>{SYM_NATIVE, SYM_G}));  // the bottom frame is left out
    EXPECT_EQ(oldest, (std::vector<uint32_t>{SYM_F, SYM_G}));       // up to, not including, the upper frame
}

// The backtrace values, built from real words: f names a function, g does not.
TEST_F(Stack, BacktraceValuesNameTheCalls) {
    stack::init();  // the real <body> and <anon> symbols
    Cell f = word::make_global(symbol::make("stack-test-f"));
    Cell g = word::make_global(symbol::make("stack-test-g"));
    Cell function{TYPE_FUNCTION, 0, 0, 0};
    copy_cell(&function, _context::value_slot(_context::global, int32_t(f.w3)));

    EXPECT_EQ(stack::caller_word().w2, words::tag_not_found.w2);
    stack::mark_eval_func(&f);
    push_ints(2);
    stack::mark_eval(&words::tag_body);
    stack::mark_eval_func(&g);
    stack::mark_eval_native(&f);
    Cell caller = stack::caller_word();
    EXPECT_EQ(caller.w2, f.w2);
    EXPECT_EQ(caller.w1, _context::global);

    Cell calls;
    block::make_at(&calls, 4);
    stack::collect_calls(&calls);  // newest first, the bottom frame left out
    ASSERT_EQ(block::zs_length_q(&calls), 4);
    const Cell* c = block::zs_head(&calls);
    EXPECT_EQ(c[0].w2, f.w2);
    EXPECT_EQ(c[2].w2, g.w2);
    EXPECT_EQ(type_of(c + 3), TYPE_INTEGER);
    EXPECT_EQ(c[3].w2, 2u);  // g's frame saved the arguments at data stack index 2

    for (int32_t level : {1, 2}) {
        Cell words;
        block::make_at(&words, 4);
        stack::collect_call_words(level, &words, stack::frames_top);
        std::vector<uint32_t> got;
        for (int32_t i = 0; i < block::zs_length_q(&words); ++i) got.push_back(block::zs_head(&words)[i].w2);
        std::vector<uint32_t> want = {f.w2, g.w2, f.w2};
        if (level == 1) want = {f.w2, f.w2};
        EXPECT_EQ(got, want);
    }

    Cell text;
    string::zs_make_at(&text, 40);
    int32_t position = stack::call_position();
    stack::unwind();  // popped frames still count up to the recorded position
    EXPECT_EQ(stack::form_call_words(1, position, &text, 100), 100 - 26);
    EXPECT_TRUE(string::match_c_string_q(&text, "stack-test-f stack-test-f "));
    EXPECT_EQ(string::get_length(&text), 26);
    Cell cut;
    string::zs_make_at(&cut, 40);
    EXPECT_LE(stack::form_call_words(1, position, &cut, 5), 0);  // stops once the limit is spent
    EXPECT_EQ(string::get_length(&cut), 13);
}

TEST_F(Stack, InterpretedFramesAndCallerBody) {
    push_frame(SYM_F, stack::mark_eval_native);
    push_frame(SYM_G, stack::mark_native);
    EXPECT_TRUE(stack::eval_q(nullptr, false));
    EXPECT_FALSE(stack::eval_q(nullptr, true));
    stack::set_eval_flag();
    EXPECT_TRUE(stack::eval_q(nullptr, true));
    EXPECT_FALSE(stack::eval_q(stack::frames_bottom, false));

    stack::Frame* caller = stack::mark_caller_body();
    ASSERT_EQ(caller, stack::frames_bottom);
    EXPECT_EQ(stack::mark_caller_body(), nullptr);  // already flagged
    stack::clear_body_flag(caller);
    EXPECT_EQ(caller->header & stack::FRAME_BODY, 0u);
}

TEST_F(Stack, MarkFramesVisitsEveryFrameReference) {
    static std::vector<Node> contexts, series;
    contexts.clear();
    series.clear();
    Node stack_ctx = make_stack_context();
    Cell w = word(SYM_F, 501);
    stack::mark_func(&w, stack_ctx);
    stack::self_symbol = 99;
    Cell self_word = word(99, 502);
    stack::mark_native(&self_word);
    Cell unbound = word(SYM_G, 0);
    stack::mark_native(&unbound);

    stack::mark_frames({[](Node* n) { contexts.push_back(*n); }, [](Node* n) { series.push_back(*n); }});
    EXPECT_EQ(contexts, (std::vector<Node>{501, stack_ctx}));
    EXPECT_EQ(series, (std::vector<Node>{502}));  // a stack context's saved values are not a node
    stack::self_symbol = 0;

    push_ints(3);
    stack::Roots r = stack::roots();
    EXPECT_EQ(r.first, stack::bottom);
    EXPECT_EQ(r.end, stack::top);
    EXPECT_NE(r.data_node, 0u);
    EXPECT_NE(r.call_node, 0u);
}

TEST_F(Stack, UnwindAnyEmptiesBothPointersAtTheBottom) {
    push_ints(2);
    push_frame(SYM_NATIVE, stack::mark_native);
    push_ints(2);
    stack::unwind_any();
    EXPECT_EQ(stack::arguments, stack::bottom);
    EXPECT_EQ(stack::top, stack::bottom);
}

}  // namespace
