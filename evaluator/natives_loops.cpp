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
#include "evaluator/fast_body.hpp"
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

// foreach and remove-each: the words value (a word or a block of words) and
// the series are pushed as the loop frame protocol wants them, then the loop
// frame; answers the number of words (0 for a single word). An empty block of
// words raises script invalid-arg with it; a single word cannot step a map!.
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

// The slot a loop stores its word's value in directly, as word::set would:
// none for an object's word (its change handler must run) or a word
// without a slot.
Cell* direct_slot(const Cell* word) {
    Node context = word->w1;
    if (!context || int32_t(word->w3) < 0 || _context::kind_of(_context::cell_of(context)) == _context::KIND_OBJECT)
        return nullptr;
    return _context::value_slot(context, int32_t(word->w3));
}

// Stores into a direct slot between two rounds of a loop body. Decoded code
// relies on what words named a callable or gave no operator: a store over
// or of another kind of value moves the epoch on, so that it looks again.
inline void store_direct(Cell* slot, const Cell& value) {
    using interpreter::detail::placed_q;
    if (!placed_q(type_of(slot)) || !placed_q(type_of(&value))) interpreter::fast::bump();
    *slot = value;
}

void set_counter(Cell* word, const Cell* value) {
    if (Cell* slot = direct_slot(word)) {
        store_direct(slot, *value);
    } else {
        interpreter::fast::bump();  // a change handler may run
        word::set(word, value);
    }
}

// foreach_next and foreach_next_multi store through word::set (which may
// run a change handler) and pick from series of any kind.
inline bool foreach_next_any() {
    interpreter::fast::bump();
    return foreach_next();
}

// One step of foreach and remove-each.
inline bool step(int32_t n) {
    interpreter::fast::bump();
    return n > 0 ? foreach_next_multi(n) : foreach_next();
}

// One step of foreach with one word over a block!: foreach_next's step,
// the element stored straight into the word's slot when the word has one
// in a context that is no object's (where storing runs no change handler
// and marks nothing), else by foreach_next itself (always so for the plain
// walker, the reference this short cut is compared with).
// plain: the store replaced a value placed as it is by another (no
// callable or operator came or went), with no code run.
inline bool block_step(bool* plain) {
    *plain = false;
    Cell* series = stack::arguments - 2;
    const Cell* word = stack::arguments - 1;
    if (!interpreter::lean_q || type_of(series) != TYPE_BLOCK) return foreach_next_any();
    Cell* slot = direct_slot(word);
    if (!slot) return foreach_next_any();
    SeriesBuffer* s = memory::buffer_of(series->w2);
    int32_t i = int32_t(series->w1);
    if (i < 0 || i >= memory::length_of(s)) return foreach_next_any();
    const Cell& element = memory::cells_head(s)[i];
    *plain = interpreter::detail::placed_q(type_of(slot)) && interpreter::detail::placed_q(type_of(&element));
    store_direct(slot, element);
    series->w1++;
    return true;
}

}  // namespace

void while_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, block_q);
        expect(1, 1, block_q);
    }
    interpreter::compiled::LoopBody condition(stack::arguments);
    interpreter::compiled::LoopBody body(stack::arguments + 1);
    LoopFrame loop;
    for (;;) {
        condition.trust(body.quiet());
        Ended ended = loop.run(condition);
        if (ended == Ended::passed) return;
        if (ended != Ended::normal) fire(ErrorCategory::throw_, "while-cond");
        if (!logic::true_strict_q(stack::arguments)) break;
        body.trust(condition.quiet());
        ended = loop.run(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    stack::unwind();
    unset::make_at(stack::arguments);
}

void until_star(bool check, const int32_t*) {
    if (check) expect(0, 0, block_q);
    interpreter::compiled::LoopBody body(stack::arguments);
    LoopFrame loop;
    for (;;) {
        body.trust(true);  // nothing runs between two rounds
        Ended ended = loop.run(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
        if (ended == Ended::normal && logic::true_strict_q(stack::arguments)) break;
    }
    loop.end();
}

void loop_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, count_q);
        expect(1, 1, block_q);
    }
    truncate_loop_count();
    int32_t count = integer::get_value(stack::arguments);
    if (count <= 0) {
        none::make_at(stack::arguments);
        return;
    }
    interpreter::compiled::LoopBody body(stack::arguments + 1);
    LoopFrame loop;
    for (int32_t i = 0; i < count; i++) {
        body.trust(true);  // nothing runs between two rounds
        Ended ended = loop.run(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    loop.end();
}

void repeat_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, word_q);
        expect(1, 1, count_q);
        expect(2, 2, block_q);
    }
    Cell* counter = stack::arguments + 1;
    if (type_of(counter) == TYPE_FLOAT) integer::make_at(counter, rt_support::float_to_integer(counter));
    int32_t count = integer::get_value(counter);
    if (count <= 0) {
        none::make_at(stack::arguments);
        return;
    }
    Cell* word = stack::arguments;
    interpreter::compiled::LoopBody body(stack::arguments + 2);
    LoopFrame loop;
    // A count stored directly runs no change handler, and its word holds
    // an integer from the first round on.
    bool direct = direct_slot(word) != nullptr;
    // The word's slot, found again once code other than decoded code may
    // have run (which may have moved the context's values).
    Cell* slot = nullptr;
    uint64_t slot_at = 0;
    // The count lives here, not in the word: the body may set the word freely.
    for (int32_t i = 1; i <= count; i++) {
        integer::make_at(counter, i);
        Cell value = *counter;
        if (direct && slot_at == interpreter::fast::epoch) {
            store_direct(slot, value);
        } else if (direct && (slot = direct_slot(word))) {
            store_direct(slot, value);
            slot_at = interpreter::fast::epoch;
        } else {
            set_counter(word, &value);
        }
        body.trust(direct);
        Ended ended = loop.run(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    loop.end();
}

void forever_star(bool check, const int32_t*) {
    if (check) expect(0, 0, block_q);
    interpreter::compiled::LoopBody body(stack::arguments);
    LoopFrame loop;
    for (;;) {
        body.trust(true);  // nothing runs between two rounds
        Ended ended = loop.run(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    loop.end();
}

void foreach_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, words_q);
        expect(1, 1, series_or_map_q);
        expect(2, 2, block_q);
    }
    const Cell* body_cell = stack::arguments + 2;
    int32_t n = enter_series_loop(stack::arguments[0], stack::arguments[1]);
    interpreter::compiled::LoopBody body(body_cell);
    LoopFrame loop;
    unset::make_at(stack::arguments);
    bool plain = false;
    while (n > 0 ? step(n) : block_step(&plain)) {
        body.trust(plain);
        Ended ended = loop.run(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    loop.end();
}

void forall_star(bool check, const int32_t*) {
    if (check) {
        expect(0, 0, word_q);
        expect(1, 1, block_q);
    }
    Cell start;
    word::get(stack::arguments, &start);
    if (!series::series_type_q(type_of(&start))) rt_support::fire_expect_arg(type_of(&start), 0);
    const Cell* body = stack::arguments + 1;
    stack::push(&start);
    stack::push(stack::arguments);
    LoopFrame loop;
    unset::make_at(stack::arguments);
    if (series_more_q(&start)) {
        for (;;) {
            Ended ended = loop.run(body);
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
    const Cell* body = stack::arguments + 2;
    Cell words = stack::arguments[0];
    Cell series = stack::arguments[1];
    int32_t n = type_of(&words) == TYPE_BLOCK ? words_count(&words) : 1;
    if (n <= 0) fire(ErrorCategory::script, "invalid-arg", &words);
    integer::push(n);
    int32_t words_in_block = enter_series_loop(words, series);
    LoopFrame loop;
    unset::make_at(stack::arguments);
    while (step(words_in_block)) {
        Ended ended = loop.run(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
        if (ended == Ended::normal) remove_each_drop(n);
    }
    loop.end();
    stack::set_last(&series);
}

}  // namespace zuv::natives
