// The conditional natives: if, unless, either, any, all (written in
// natives_control_internal.hpp, shared with compiled code), switch, case.
//
// Each evaluates the chosen block into its own result slot (the call's first
// cell). A non-local exit met on the way (break, return ...) is left pending
// with the stacks already unrolled to its receiver: the native then returns
// at once without touching the stacks.
#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_control_internal.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/fire.hpp"
#include "runtime/words.hpp"

namespace zuv::natives {

using namespace control;

void if_star(bool check, const int32_t*) {
    if (check) expect(1, 1, block_q);
    if_<Walked>(true);
}

void unless_star(bool check, const int32_t*) {
    if (check) expect(1, 1, block_q);
    if_<Walked>(false);
}

void either_star(bool check, const int32_t*) {
    if (check) {
        expect(1, 1, block_q);
        expect(2, 2, block_q);
    }
    either_<Walked>();
}

void any_star(bool check, const int32_t*) {
    if (check) expect(0, 0, block_q);
    any_all<Walked>(true);
}

void all_star(bool check, const int32_t*) {
    if (check) expect(0, 0, block_q);
    any_all<Walked>(false);
}

void switch_star(bool check, const int32_t* refinements) {
    int32_t default_case = refinements[0];
    if (check) {
        expect(1, 1, block_q);
        if (default_case >= 0) expect(default_case, 3, block_q);
    }
    control::switch_<control::Walked>(default_case);
}

void case_star(bool check, const int32_t* refinements) {
    if (check) expect(0, 0, block_q);
    bool all = refinements[0] != -1;
    Cell code = stack::arguments[0];
    int32_t end = memory::length_of(memory::buffer_of(code.w2));
    int32_t position = head_of(&code);
    if (position >= end) {
        none::make_at(stack::arguments);
        return;
    }
    stack::push(&code);
    // The conditions and branches land in this frame's first cell.
    stack::mark_native(&words::tag_anon);
    bool ran = false;
    while (position < limit_of(&code, end)) {
        if (all) ran = false;
        stack::reset();
        position = interpreter::eval_one(&code, position, end, false);
        if (stack::pending()) return;
        if (position >= limit_of(&code, end)) fire(ErrorCategory::script, "need-value", &words::case_);
        if (!strict_true_q(stack::arguments)) {
            position++;  // the branch, whatever it is, is skipped
            continue;
        }
        Cell branch = memory::cells_head(memory::buffer_of(code.w2))[position];
        stack::reset();
        if (type_of(&branch) == TYPE_BLOCK) {
            interpreter::eval_block(&branch, true);
            position++;
        } else {
            position = interpreter::eval_one(&code, position, end, false);
        }
        if (stack::pending()) return;
        if (!all) {
            stack::unwind_last_return();
            return;
        }
        ran = true;
    }
    stack::unwind_last_return();
    if (!ran) none::make_at(stack::arguments);
}

}  // namespace zuv::natives
