// The loop natives: while, until, loop, repeat, forever, foreach, forall,
// remove-each.
//
// Each pushes one loop frame (the target of break and continue) before its
// first iteration and evaluates every body with that frame emptied, so the
// body's value lands in the frame's first cell; at the end the frame is
// popped and that cell becomes the native's result. break and continue come
// back as pending codes on the normal return path (LoopFrame::run): a loop
// that breaks or continues pays no C++ exception for it. Any other pending
// code (return, exit, throw) makes the native return at once: the stacks
// already belong to the code's receiver.
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/loop_support.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_control_internal.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"

namespace zuv::natives {

using namespace control;

namespace {

// The length of a words block from its head.
int32_t words_count(const Cell* words) {
    return memory::length_of(memory::buffer_of(words->w2)) - head_of(words);
}

}  // namespace

namespace control {

// An empty block of words raises script invalid-arg with it; a single word
// cannot step a map!.
int32_t enter_series_loop(const Cell& words, const Cell& series) {
    int32_t n = 0;
    if (type_of(&words) == TYPE_BLOCK) {
        n = words_count(&words);
        if (n <= 0) fire(ErrorCategory::script, "invalid-arg", &words);
    } else if (type_of(&series) == TYPE_MAP) {
        fire(ErrorCategory::script, "invalid-arg", &words);
    }
    stack::push(&series);
    stack::push(&words);
    return n;
}

}  // namespace control

void while_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, block_q);
        expect(1, 1, block_q);
    }
    while_<Walked>();
}

void until_star(bool check, const int32_t*) {
    if (check) expect(0, 0, block_q);
    until_<Walked>();
}

void loop_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, count_q);
        expect(1, 1, block_q);
    }
    loop_<Walked>();
}

void repeat_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, word_q);
        expect(1, 1, count_q);
        expect(2, 2, block_q);
    }
    repeat_<Walked>();
}

void forever_star(bool check, const int32_t*) {
    if (check) expect(0, 0, block_q);
    forever_<Walked>();
}

void foreach_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, words_q);
        expect(1, 1, series_or_map_q);
        expect(2, 2, block_q);
    }
    foreach_<Walked>();
}

void forall_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, word_q);
        expect(1, 1, block_q);
    }
    Cell start;
    word::get(stack::arguments, &start);
    if (!series::series_type_q(type_of(&start))) rt_support::fire_expect_arg(type_of(&start), 0);
    Repeated body(stack::arguments + 1);
    stack::push(&start);
    stack::push(stack::arguments);
    LoopFrame loop;
    unset::make_at(stack::arguments);
    if (series_more_q(&start)) {
        for (;;) {
            Ended ended = loop.run<Walked>(body);
            if (ended == Ended::passed) return;
            if (ended == Ended::broke) {
                loop.end();  // the word keeps the position it has
                return;
            }
            // The body may have moved the word along its series, never to another one.
            const Cell* now = word::value_cell(stack::arguments - 1);
            if (!series::series_type_q(type_of(now)) || now->w2 != start.w2) {
                Cell changed = *now;
                fire(ErrorCategory::script, "bad-loop-series", &changed);
            }
            if (forall_next(true)) break;
        }
    }
    forall_end();
    loop.end();
}

void remove_each_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, words_q);
        expect(1, 1, series_q);
        expect(2, 2, block_q);
    }
    Repeated body(stack::arguments + 2);
    Cell words = stack::arguments[0];
    Cell series = stack::arguments[1];
    int32_t n = type_of(&words) == TYPE_BLOCK ? words_count(&words) : 1;
    if (n <= 0) fire(ErrorCategory::script, "invalid-arg", &words);
    integer::push(n);
    int32_t words_in_block = enter_series_loop(words, series);
    LoopFrame loop;
    unset::make_at(stack::arguments);
    while (words_in_block > 0 ? foreach_next_multi(words_in_block) : foreach_next()) {
        Ended ended = loop.run<Walked>(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
        if (ended == Ended::normal) remove_each_drop(n);
    }
    loop.end();
    stack::set_last(&series);
}

}  // namespace zuv::natives
