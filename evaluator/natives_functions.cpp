// The natives that make functions (func, function, does, has) and those that
// leave or guard a computation early (break, continue, exit, return, throw,
// catch, try).
//
// break, continue, return, exit and throw unroll the stacks to the frame that
// receives them and leave their code pending (evaluator/stack.hpp): the
// evaluator hands it up on its normal return path. catch and try are where
// codes stop. A code may also arrive as the low-level throw, from C++ code
// that could not pass it on; the stacks are then unrolled just the same, so
// both roads end in the same place.
#include <algorithm>

#include "evaluator/interpreter.hpp"
#include "evaluator/native_args.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_control_internal.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/throw.hpp"
#include "runtime/words.hpp"

namespace zuv::natives {

namespace {

constexpr uint8_t BLOCK_TYPE[] = {TYPE_BLOCK};
constexpr uint8_t WORD_TYPE[] = {TYPE_WORD};
constexpr uint8_t NAME_TYPES[] = {TYPE_WORD, TYPE_BLOCK};

// A series value whose head lies past its tail is taken at its tail.
void clamp_head(Cell* series) {
    int32_t tail = memory::length_of(memory::buffer_of(series->w2));
    int32_t head = int32_t(series->w1);
    if (head > tail) series->w1 = uint32_t(tail);
    else if (head < 0) series->w1 = 0;
}

// func on the call's first two cells, the spec and the body.
void make_function() {
    Cell* spec = stack::arguments;
    Cell* body = stack::arguments + 1;
    clamp_head(spec);
    clamp_head(body);
    uint32_t flags = function::validate_spec(spec);
    function::push_new(spec, body, 0, 0, 0, flags);
    stack::set_last_only(stack::top - 1);
}

// True when the thrown name (the cell after the thrown value) is a word
// named by the /name word or by a word of the /name block; with check, a
// block entry that is not a word is an error (else it names nothing).
bool name_matches_q(const Cell& thrown, const Cell& wanted, bool check = true) {
    auto same_name = [&thrown](const Cell& w) {
        return type_of(&thrown) == TYPE_WORD && symbol::resolve(int32_t(w.w2)) == symbol::resolve(int32_t(thrown.w2));
    };
    if (type_of(&wanted) != TYPE_BLOCK) return same_name(wanted);
    bool found = false;
    SeriesBuffer* s = memory::buffer_of(wanted.w2);
    for (int32_t i = std::max(int32_t(wanted.w1), 0), n = memory::length_of(s); i < n; i++) {
        Cell w = memory::cells_head(s)[i];
        if (type_of(&w) != TYPE_WORD) {
            if (!check) continue;
            Cell block = wanted;
            fire(ErrorCategory::script, "invalid-refine-arg", &words::name, &block);
        }
        found = found || same_name(w);
    }
    return found;
}

}  // namespace

// ---- function makers ----

void func_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, BLOCK_TYPE);
        check_argument(1, BLOCK_TYPE);
    }
    make_function();
}

void function_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, BLOCK_TYPE);
        check_argument(1, BLOCK_TYPE);
    }
    Cell* spec = stack::arguments;
    clamp_head(spec);
    Cell* copy = cell::begin(stack::push_raw());
    block::clone(spec, copy, false, false);
    *spec = *copy;
    function::collect_locals(spec, stack::arguments + 1);
    stack::top = stack::arguments + 2;
    make_function();
}

void does_star(bool check, const int32_t*) {
    if (check) check_argument(0, BLOCK_TYPE);
    Cell body = stack::arguments[0];
    stack::top = stack::arguments + 1;
    stack::push(&body);
    block::make_at(cell::begin(stack::arguments), 1);
    make_function();
}

void has_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, BLOCK_TYPE);
        check_argument(1, BLOCK_TYPE);
    }
    Cell* vars = stack::arguments;
    clamp_head(vars);
    Cell* copy = cell::begin(stack::push_raw());
    block::clone(vars, copy, false, false);
    block::insert_cell(copy, &refinements::local, false, false);
    *vars = *copy;
    stack::top = stack::arguments + 2;
    make_function();
}

// ---- leaving early ----

void break_star(bool, const int32_t* refinements) {
    int32_t value_at = refinements[0];
    if (value_at > 0) copy_cell(stack::arguments + value_at, stack::arguments);
    stack::throw_break(value_at >= 0, false);
}

void continue_star(bool, const int32_t*) { stack::throw_break(false, true); }

void exit_star(bool, const int32_t*) { stack::throw_return(false, false); }

void return_star(bool, const int32_t*) { stack::throw_return(true, false); }

void throw_star(bool check, const int32_t* refinements) {
    int32_t name_at = refinements[0];
    if (name_at < 0) {
        stack::top = stack::arguments + 1;
        unset::push();
    } else {
        if (check) check_argument(name_at, WORD_TYPE);
        copy_cell(stack::arguments + name_at, stack::arguments + 1);  // the name follows the value
        stack::top = stack::arguments + 2;
    }
    if (interpreter::tracing_q) interpreter::fire_throw();
    stack::throw_value(THROW_THROW);
}

namespace control {

bool catch_takes_q(const Cell* own, int32_t name_at) {
    // The catch frame is current with the thrown value and its name.
    Cell value = stack::arguments[0];
    Cell name = stack::arguments[1];
    if (name_at < 0 || name_matches_q(name, own[name_at])) {
        stack::clear_pending();
        stack::saved_error_position = nullptr;
        stack::unwind_last_return();
        if (interpreter::tracing_q) interpreter::fire_catch();
        return true;
    }
    // Not this one: thrown again from this call, to the next catch out.
    stack::unwind();
    stack::push(&value);
    stack::push(&name);
    stack::throw_value(THROW_THROW);
    return false;
}


void try_end(uint32_t received, int32_t depth, const Cell& position, bool keep) {
    if (received == 0) {
        if (stack::pending()) return;  // a code passing through to its receiver
        stack::unwind_last_return();
    } else if (received == THROW_ERROR) {
        // The error unrolled the stacks to this call and pushed itself.
        if (stack::depth() != depth) runtime::throw_code(received);
        *interpreter::current_position = position;
    } else if (travelling_code_q(received)) {
        return;  // already unrolled to its receiver: it goes on as pending
    } else {
        runtime::throw_code(received);
    }
    stack::keep_error_result();
    // Without /keep the error keeps the position it was raised at.
    if (keep) error::fill_stack(stack::arguments);
    stack::clear_pending();
}

}  // namespace control

bool catch_named_q(const Cell& name) {
    for (const stack::Frame* f = stack::frames_top; f > stack::frames_bottom;) {
        --f;
        if (f->kind() == stack::FRAME_CATCH && f->saved_values &&
            name_matches_q(name, stack::bottom[f->saved_values - 1], false))
            return true;
    }
    return false;
}

void catch_star(bool check, const int32_t* refinements) {
    if (check) check_argument(0, BLOCK_TYPE);
    int32_t name_at = refinements[0];
    if (check && name_at >= 0) check_argument(name_at, NAME_TYPES);
    control::catch_<control::Walked>(name_at);
}

void try_star(bool check, const int32_t* refinements) {
    if (check) check_argument(0, BLOCK_TYPE);
    control::try_<control::Walked>(refinements[0] != -1, refinements[1] != -1);
}

}  // namespace zuv::natives
