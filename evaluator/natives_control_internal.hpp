// The control natives, written once for both tiers of the evaluator.
//
// if, unless, either, any, all, case, switch, while, until, loop, repeat,
// forever, foreach, catch and try each work on the arguments of their call
// (from stack::arguments, their frame current) and evaluate blocks through a
// policy: Walked (eval_block and eval_one, which run a block's compiled form
// when it has one) for the natives' entries, and the compiled form's own
// policy (compiled_control.cpp) for calls of the natives that compiled code
// runs in place, where the literal block's form is run without the general
// entry of a block evaluation. So the branch a condition chooses, the steps
// of a loop and the codes a catch or try receives are decided here alone.
//
// A non-local exit met on the way (break, return ...) is left pending with
// the stacks already unrolled to its receiver: the control then returns at
// once without touching the stacks.
#pragma once

#include <algorithm>
#include <cstdint>

#include "evaluator/compiled.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/loop_support.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/throw.hpp"
#include "runtime/words.hpp"

namespace zuv::natives::control {

using interpreter::compiled::Repeated;
using interpreter::compiled::Stepped;
using interpreter::compiled::Steps;

// ---- argument checks (only when an entry is called with check set) ----

inline bool block_q(uint32_t t) { return t == TYPE_BLOCK; }
inline bool count_q(uint32_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT; }
inline bool word_q(uint32_t t) { return t == TYPE_WORD; }
inline bool words_q(uint32_t t) { return t == TYPE_WORD || t == TYPE_BLOCK; }
inline bool series_q(uint32_t t) { return series::series_type_q(t); }
inline bool series_or_map_q(uint32_t t) { return t == TYPE_MAP || series::series_type_q(t); }

// The call's cell at position must be of a type the predicate accepts; else
// script expect-arg naming the spec's argument word arg_index (from 0).
inline void expect(int32_t position, int32_t arg_index, bool (*accepts)(uint32_t)) {
    uint32_t t = type_of(stack::arguments + position);
    if (!accepts(t)) rt_support::fire_expect_arg(t, arg_index);
}

// ---- code that may change while it runs ----

// The smaller of the end an evaluation started with and the code's tail now.
inline int32_t limit_of(const Cell* code, int32_t end) {
    return std::min(end, memory::length_of(memory::buffer_of(code->w2)));
}
inline int32_t head_of(const Cell* code) { return std::max(int32_t(code->w1), 0); }

// ---- evaluating blocks ----

// The natives' policy: eval_block(block, true) into the current frame's
// result, and eval_one of the expression at position in result mode.
struct Walked {
    static void block(const Cell* block) { interpreter::eval_block(block, true); }
    static void branch(const Cell* block) { interpreter::eval_block_here(block); }
    static void again(interpreter::compiled::Repeated& block) { block.run(true); }
    static int32_t truth(interpreter::compiled::Repeated& block) { return block.truth(true); }
    static bool read(interpreter::compiled::Repeated& block) { return block.read(true); }
    static interpreter::compiled::Stepped steps(interpreter::compiled::Repeated& body,
                                                const interpreter::compiled::Steps& s) {
        return body.quiet() ? body.steps(s, true) : interpreter::compiled::Stepped::general;
    }
    static int32_t one(const Cell* code, int32_t position, int32_t end) {
        return interpreter::eval_one(code, position, end, false);
    }
};

// ---- the branch a condition chooses ----

// if and unless: a condition is false when it is none or false (unset
// counts as true). either, case, while and until: the same, and unset is an
// error (script no-return).
inline bool true_q(const Cell* condition) { return !logic::false_q(condition); }
inline bool strict_true_q(const Cell* condition) {
    if (type_of(condition) == TYPE_UNSET) [[unlikely]]
        return logic::true_strict_q(condition);  // raises no-return
    return !logic::false_q(condition);
}

// The branch if (when true), unless (when false) and either choose on the
// condition (by default the call's first cell): the index of the block among
// their block arguments, or -1 for none (if and unless then give none).
inline int32_t if_branch(bool when, const Cell* condition = stack::arguments) {
    return true_q(condition) == when ? 0 : -1;
}
inline int32_t either_branch(const Cell* condition = stack::arguments) { return strict_true_q(condition) ? 0 : 1; }

// The cells of if, unless and either: the condition, then the block or blocks.
template <class Eval>
void if_(bool when) {
    if (if_branch(when) == 0) Eval::branch(stack::arguments + 1);
    else none::make_at(stack::arguments);
}

template <class Eval>
void either_() {
    Eval::branch(stack::arguments + 1 + either_branch());
}

// switch: the cells of the value and the cases, then (default_case, when
// not -1) the default block. The branch chosen runs in the native's frame,
// as those of if and either do.
template <class Eval>
void switch_(int32_t default_case) {
    rt_support::select_branch(true, true);  // the branch block, or none, pushed
    const Cell* branch = stack::top - 1;
    if (type_of(branch) == TYPE_BLOCK) Eval::branch(branch);
    else if (default_case >= 0) Eval::branch(stack::arguments + default_case);
    else none::make_at(stack::arguments);
}

// any (stop_on_true) and all: the block's expressions one by one into the
// result slot, stopping at the first value that passes (any) or fails (all)
// the lenient test.
template <class Eval>
void any_all(bool stop_on_true) {
    Cell code = stack::arguments[0];
    Cell* kept = stack::push(&code);  // the block stays alive once the result slot is overwritten
    int32_t end = memory::length_of(memory::buffer_of(code.w2));
    int32_t position = head_of(&code);
    if (position >= end) {
        none::make_at(stack::arguments);
        return;
    }
    while (position < limit_of(&code, end)) {
        stack::top = kept + 1;
        position = Eval::one(&code, position, end);
        if (stack::pending()) return;
        if (logic::false_q(stack::arguments) != stop_on_true) {
            if (!stop_on_true) none::make_at(stack::arguments);
            return;
        }
    }
    if (stop_on_true) none::make_at(stack::arguments);
}

// ---- loop frames ----

// How one evaluation of a body (or a condition) under a loop frame ended.
enum class Ended { normal, broke, continued, passed };

// A loop frame pushed by a native, named <body> so that it never shows in
// backtraces. The frame's first cell receives the value of every body.
class LoopFrame {
public:
    LoopFrame() : position_(*interpreter::current_position) {
        stack::mark_loop(&words::tag_body);
        depth_ = stack::depth();
    }

    // Evaluates the block in the loop frame, emptied first. `break` and
    // `continue` arrive as pending codes on the normal return path (or, from
    // C++ code that cannot pass a code on, as the low-level throw); either
    // way the stacks have already been unrolled to this frame, which is then
    // current, and the code is cleared here. Any other code (return, exit,
    // throw, or a break for a loop further out) is left pending: the stacks
    // belong to its receiver, so the caller returns at once.
    template <class Eval>
    Ended run(interpreter::compiled::Repeated& block) {
        if (block.quiet() && Eval::read(block)) [[likely]]
            return Ended::normal;  // read in line: nothing ran that could exit
        try {
            Eval::again(block);
        } catch (const Throw& t) {
            if ((t.code != THROW_BREAK && t.code != THROW_CONTINUE) || stack::depth() != depth_) throw;
            *interpreter::current_position = position_;  // the evaluations left did not put it back
        }
        uint32_t code = stack::pending();
        if (code == 0) [[likely]]
            return Ended::normal;
        if ((code != THROW_BREAK && code != THROW_CONTINUE) || stack::depth() != depth_) return Ended::passed;
        stack::clear_pending();
        return code == THROW_BREAK ? Ended::broke : Ended::continued;
    }

    // Pops the frame; its first cell becomes the native's result.
    void end() { stack::unwind_last_return(); }

private:
    Cell position_;  // the interpreter's position when the loop started
    int32_t depth_;
};

// ---- loops ----

// foreach and remove-each: the words value (a word or a block of words) and
// the series are pushed as the loop frame protocol wants them (see
// loop_support.hpp); answers the number of words (0 for a single word).
int32_t enter_series_loop(const Cell& words, const Cell& series);

template <class Eval>
void while_() {
    Repeated condition(stack::arguments);
    Repeated body(stack::arguments + 1);
    LoopFrame loop;
    Steps steps;
    steps.condition = &condition;
    for (;;) {
        // Quiet steps are read in line; where one cannot be, a condition of
        // one quiet expression is still read in line, and any other runs as
        // a block.
        Stepped stepped = Eval::steps(body, steps);
        if (stepped == Stepped::ended) break;
        if (stepped == Stepped::general) {
            int32_t truth = Eval::truth(condition);
            if (truth < 0) {
                Ended ended = loop.run<Eval>(condition);
                if (ended == Ended::passed) return;
                if (ended != Ended::normal) fire(ErrorCategory::throw_, "while-cond");
                truth = strict_true_q(stack::arguments);
            }
            if (!truth) break;
        }
        Ended ended = loop.run<Eval>(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    stack::unwind();
    unset::make_at(stack::arguments);
}

template <class Eval>
void until_() {
    Repeated body(stack::arguments);
    LoopFrame loop;
    Steps steps;
    steps.until = true;
    for (;;) {
        if (Eval::steps(body, steps) == Stepped::ended) break;
        Ended ended = loop.run<Eval>(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
        if (ended == Ended::normal && strict_true_q(stack::arguments)) break;
    }
    loop.end();
}

template <class Eval>
void loop_() {
    truncate_loop_count();
    int32_t count = integer::get_value(stack::arguments);
    if (count <= 0) {
        none::make_at(stack::arguments);
        return;
    }
    Repeated body(stack::arguments + 1);
    LoopFrame loop;
    int32_t made = 0;
    Steps steps;
    steps.made = &made;
    steps.count = count;
    for (;;) {
        Stepped stepped = Eval::steps(body, steps);
        if (stepped == Stepped::ended) break;
        if (stepped == Stepped::general && made++ >= count) break;
        Ended ended = loop.run<Eval>(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    loop.end();
}

// The slot a loop's word (repeat's counter, foreach's word) takes its
// value in by a plain write, as word::set stores it with no code run and no
// word marked changed: the running function's cell for one of its own
// words, else the slot of a context that is no object's; null where
// word::set must store it (an object's field, whose change handler may run;
// a word not bound).
[[gnu::noinline]] inline Cell* plain_context_slot(Cell* word) {
    if (word->w1 && int32_t(word->w3) >= 0 &&
        _context::kind_of(_context::cell_of(word->w1)) != _context::KIND_OBJECT)
        return _context::value_slot(word->w1, int32_t(word->w3));
    return nullptr;
}
inline Cell* plain_word_slot(Cell* word) {
    using interpreter::detail::locals;
    if (word->w1 == locals.context && uint32_t(word->w3) < locals.count) return locals.base + word->w3;
    return plain_context_slot(word);
}

// A loop's word set to value: plainly where that runs no code, else by word::set.
inline void set_loop_word(Cell* word, const Cell& value) {
    if (Cell* slot = plain_word_slot(word)) *slot = value;
    else word::set(word, &value);
}

template <class Eval>
void repeat_() {
    Cell* counter = stack::arguments + 1;
    if (type_of(counter) == TYPE_FLOAT) integer::make_at(counter, rt_support::float_to_integer(counter));
    int32_t count = integer::get_value(counter);
    if (count <= 0) {
        none::make_at(stack::arguments);
        return;
    }
    Cell* word = stack::arguments;
    Repeated body(stack::arguments + 2);
    LoopFrame loop;
    // The count lives here, not in the word: the body may set the word freely.
    int32_t made = 0;
    Steps steps;
    steps.made = &made;
    steps.count = count;
    steps.word = word;
    steps.counter = counter;
    for (;;) {
        Stepped stepped = Eval::steps(body, steps);
        if (stepped == Stepped::ended) break;
        if (stepped == Stepped::general) {
            if (made >= count) break;
            integer::make_at(counter, ++made);
            set_loop_word(word, *counter);
        }
        Ended ended = loop.run<Eval>(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    loop.end();
}

template <class Eval>
void forever_() {
    Repeated body(stack::arguments);
    LoopFrame loop;
    Steps steps;  // none: only an interrupt or a step that is not quiet stops them
    for (;;) {
        Eval::steps(body, steps);
        Ended ended = loop.run<Eval>(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    loop.end();
}

template <class Eval>
void foreach_() {
    Repeated body(stack::arguments + 2);
    int32_t n = enter_series_loop(stack::arguments[0], stack::arguments[1]);
    LoopFrame loop;
    unset::make_at(stack::arguments);
    Steps steps;
    steps.word = stack::arguments - 1;
    steps.series = stack::arguments - 2;
    for (;;) {
        if (n == 0) {
            Stepped stepped = Eval::steps(body, steps);
            if (stepped == Stepped::ended) break;
            if (stepped == Stepped::general && !foreach_next()) break;
        } else if (!foreach_next_multi(n)) {
            break;
        }
        Ended ended = loop.run<Eval>(body);
        if (ended == Ended::passed) return;
        if (ended == Ended::broke) break;
    }
    loop.end();
}

// ---- catch and try ----

// catch's own frame and the name it was given, for a throw that reached
// it: answers true when the throw is taken here.
bool catch_takes_q(const Cell* own, int32_t name_at);

template <class Eval>
void catch_(int32_t name_at) {
    Cell block = stack::arguments[0];
    Cell* own = stack::arguments;
    int32_t depth = stack::depth();
    if (name_at >= 0) stack::mark_catch(&words::tag_body, own + name_at);
    else stack::mark_catch(&words::tag_body);
    uint32_t received = runtime::catch_scope(THROW_THROW, [&] {
        Eval::block(&block);
        // A halt requested while the block ran is taken before the catch
        // ends, so that it halts the code it interrupted even when that was
        // the block's last expression (a wait or a child cut short).
        if (!stack::pending()) runtime::poll_interrupt();
    });
    if (received && received != THROW_THROW) runtime::unwind_to_handler();  // not a language code

    uint32_t code = stack::pending();
    if (code == 0) {
        stack::unwind_last_return();
        return;
    }
    // Anything else, or a throw that another catch frame received, belongs
    // to a receiver further out: the stacks are already its.
    if (code != THROW_THROW || stack::depth() != depth + 1) return;
    catch_takes_q(own, name_at);
}

// The codes that the evaluator hands up as pending: a catch or try that
// receives one as the low-level throw goes on with it as pending.
inline bool travelling_code_q(uint32_t code) { return code >= THROW_THROW && code <= THROW_BREAK; }

// try's end once its block ran or an error reached it (received: the
// low-level throw's code, 0 for none).
void try_end(uint32_t received, int32_t depth, const Cell& position, bool keep);

template <class Eval>
void try_(bool all, bool keep) {
    Cell block = stack::arguments[0];
    Cell position = *interpreter::current_position;
    int32_t depth = stack::depth();
    if (all) stack::mark_try_all(&words::try_);
    else stack::mark_try(&words::try_);
    uint32_t received = 0;
    try {
        Eval::block(&block);
    } catch (const Throw& t) {
        received = t.code;
    }
    // An error that reached this try as pending: the stacks are unrolled to
    // it, its frame popped.
    if (!received && stack::pending() == THROW_ERROR && stack::depth() == depth) received = THROW_ERROR;
    try_end(received, depth, position, keep);
}

}  // namespace zuv::natives::control
