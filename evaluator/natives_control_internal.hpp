// What the conditional and loop natives share: argument checks for callers
// that have not checked the types (the check flag of an entry), the end of
// code that may shrink while it runs, and the evaluation of a loop body.
#pragma once

#include <algorithm>
#include <cstdint>

#include "evaluator/interpreter.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/memory.hpp"
#include "runtime/throw.hpp"
#include "runtime/words.hpp"

namespace zuv::natives::control {

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

    // Evaluates the block with the loop frame emptied first. `break` and
    // `continue` arrive as pending codes on the normal return path (or, from
    // C++ code that cannot pass a code on, as the low-level throw); either
    // way the stacks have already been unrolled to this frame, which is then
    // current, and the code is cleared here. Any other code (return, exit,
    // throw, or a break for a loop further out) is left pending: the stacks
    // belong to its receiver, so the caller returns at once.
    Ended run(const Cell* block) {
        return run_with([block] { interpreter::eval_block(block, true); });
    }

    // Pops the frame; its first cell becomes the native's result.
    void end() { stack::unwind_last_return(); }

private:
    template <class Eval>
    Ended run_with(Eval&& eval) {
        stack::reset();
        try {
            eval();
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

    Cell position_;  // the interpreter's position when the loop started
    int32_t depth_;
};

}  // namespace zuv::natives::control
