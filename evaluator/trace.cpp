// Trace events: the event mask, calling the callback, and the traced session.
#include "evaluator/trace.hpp"

#include <algorithm>
#include <vector>

#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/words.hpp"

namespace zuv::interpreter {

bool tracing_q = false;
bool trace_run_q = false;
uint32_t trace_mask = 0;
bool trace_suspended = false;

namespace {

using detail::read_cell;
using detail::tail_of;

// On while the callback runs.
bool in_callback = false;

// The event word of each bit, in bit order.
const Cell* const EVENT_WORDS[TRACE_EVENT_COUNT] = {
    &words::init,  &words::end,    &words::prolog, &words::epilog, &words::enter, &words::exit,
    &words::open,  &words::return_, &words::fetch, &words::push,   &words::set,   &words::call,
    &words::error, &words::throw_, &words::catch_, &words::expr,
};

const Cell* event_word(uint32_t event) { return EVENT_WORDS[__builtin_ctz(event)]; }

// The offset of an absolute position from the code's head, or -1 when there
// is no position or it lies outside the head-to-tail range.
int32_t offset_in(const Cell* code, int32_t position) {
    if (!code || position < 0) return -1;
    int32_t head = std::max(int32_t(code->w1), 0);
    if (position < head || position > tail_of(code->w2)) return -1;
    return position - head;
}

// The context the callback runs in: its owner object's, else the global one.
Node owner_context(const Cell& fn) {
    const Cell* owner = function::more_cell(&fn, function::MORE_OWNER);
    return owner && type_of(owner) == TYPE_INTEGER ? owner->w2 : _context::global;
}

// Clears the pending code while an event runs and puts it back after, so
// that an event fired while a code travels leaves it in place.
class PendingAside {
public:
    PendingAside() : code_(stack::pending()) { stack::clear_pending(); }
    ~PendingAside() {
        if (!stack::pending()) runtime::thrown_code = code_;
    }
    PendingAside(const PendingAside&) = delete;
    PendingAside& operator=(const PendingAside&) = delete;

private:
    uint32_t code_;
};

// The callback's frame: one cell per word of its spec (the words of its
// context, in order). The leading argument words get the six event
// arguments (none past the sixth); from the first refinement on (/local
// too), a refinement gets false and its words none, as in a call that uses
// no refinement.
void push_callback_arguments(Node spec, const Cell* args) {
    bool fixed = true;
    int32_t given = 0;
    Cell item;
    for (int32_t i = 0; read_cell(spec, i, &item); i++) {
        switch (type_of(&item)) {
            case TYPE_REFINEMENT:
                fixed = false;
                logic::push(false);
                break;
            case TYPE_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD:
                if (fixed && given < 6) stack::push(&args[given++]);
                else none::push();
                break;
            default: break;  // type blocks, documentation, return:
        }
    }
}

// An error keeps the call-stack position it was raised at, and its list of
// calls is read from the frames there once it is caught with /keep or
// reported: frames the error has already unwound. The `end` callback of an
// evaluation that such an error leaves runs where they lie, so they are
// kept aside meanwhile and put back after.
class UnwoundFramesAside {
public:
    UnwoundFramesAside() : from_(stack::depth()) {
        if (stack::top <= stack::bottom) return;
        const Cell* error = stack::top - 1;
        if (type_of(error) != TYPE_ERROR || error->w1 == 0) return;
        const Cell* position = error::field(error, error::FIELD_STACK);
        if (type_of(position) != TYPE_INTEGER) return;
        int32_t to = std::min(integer::get_value(position), stack::MAX_FRAMES);
        if (to > from_) saved_.assign(stack::frame_at_position(from_), stack::frame_at_position(to));
    }
    ~UnwoundFramesAside() {
        std::copy(saved_.begin(), saved_.end(), stack::frame_at_position(from_));
    }
    UnwoundFramesAside(const UnwoundFramesAside&) = delete;
    UnwoundFramesAside& operator=(const UnwoundFramesAside&) = delete;

private:
    int32_t from_;
    std::vector<stack::Frame> saved_;
};

void uninstall() {
    none::make_at(trace_callback);
    tracing_q = false;
    trace_run_q = false;
    trace_suspended = false;
}

}  // namespace

uint32_t parse_trace_mask(const Cell* callback) {
    const Cell* body = function::more_cell(callback, function::MORE_BODY);
    if (!body || type_of(body) != TYPE_BLOCK) return TRACE_DEFAULT_MASK;
    Cell events;
    if (!read_cell(body->w2, std::max(int32_t(body->w1), 0), &events) || type_of(&events) != TYPE_BLOCK)
        return TRACE_DEFAULT_MASK;
    uint32_t mask = 0;
    Cell item;
    for (int32_t i = std::max(int32_t(events.w1), 0); read_cell(events.w2, i, &item); i++) {
        if (type_of(&item) != TYPE_WORD) continue;
        int32_t s = symbol::resolve(int32_t(item.w2));
        // A word that names no event is ignored.
        for (int32_t bit = 0; bit < TRACE_EVENT_COUNT; bit++)
            if (s == symbol::resolve(int32_t(EVENT_WORDS[bit]->w2))) mask |= 1u << bit;
    }
    return mask;
}

void fire_event(uint32_t event, const Cell* code, int32_t position, const Cell* ref, const Cell* value) {
    // After a failed callback the session stays silent, whatever a function
    // call restores the flag to on its way out.
    if (!trace_run_q) {
        tracing_q = false;
        return;
    }
    // No event reaches the callback while it runs, not even from a
    // function with the trace attribute that it calls.
    if (!(trace_mask & event) || in_callback) return;
    // A suspended trace still ends: its callback tidies up at `end`.
    if (trace_suspended && event != EV_END) return;
    Cell fn = *trace_callback;
    if (type_of(&fn) != TYPE_FUNCTION) return;

    Cell* saved_top = stack::top;
    stack::Frame* saved_call_top = stack::frames_top;
    Cell frame;
    cell::begin(&frame);
    frame.w2 = stack::index_of(stack::arguments);
    frame.w3 = stack::index_of(stack::top);
    cell::set_type(&frame, TYPE_PAIR);

    // Nothing from here on is traced: neither the callback's own steps nor
    // an error raised while its frame is built (a full stack).
    tracing_q = false;
    in_callback = true;
    try {
        // The result slot of a frame in result mode lies at the top: it is
        // kept. One spare cell stays between the traced code's values and
        // the callback's frame.
        if (stack::top <= stack::arguments) stack::top = stack::arguments + 1;
        none::push();
        stack::mark_func(&words::tag_interp_callback, fn.w1);
        Cell args[6];
        args[0] = *event_word(event);
        if (code) args[1] = *code;
        else none::make_at(&args[1]);
        integer::make_at(cell::begin(&args[2]), offset_in(code, position));
        if (value) args[3] = *value;
        else none::make_at(&args[3]);
        if (ref) args[4] = *ref;
        else none::make_at(&args[4]);
        args[5] = frame;
        push_callback_arguments(fn.w2, args);

        Cell name = words::tag_interp_callback;
        exec_function(&fn, owner_context(fn), &name, 0);
        // A break, throw or return out of the callback cannot pass through
        // the event site as a code: it continues as the low-level throw.
        stack::raise_pending();
    } catch (const Throw&) {
        // Tracing stays off until the traced evaluation ends.
        in_callback = false;
        tracing_q = false;
        trace_run_q = false;
        throw;
    }
    in_callback = false;
    tracing_q = true;
    stack::unwind_func_last();
    stack::top = saved_top;
    stack::set_call_top(saved_call_top);
}

void fire_init() {
    if (tracing_q) fire_event(EV_INIT, nullptr, -1, nullptr, nullptr);
}

void fire_end() {
    if (tracing_q) fire_event(EV_END, nullptr, -1, nullptr, nullptr);
}

void fire_throw() {
    if (tracing_q) fire_event(EV_THROW, nullptr, -1, nullptr, stack::arguments);
}

void fire_catch() {
    if (tracing_q) fire_event(EV_CATCH, nullptr, -1, nullptr, stack::arguments);
}

void fire_error(const Cell* error) {
    if (!tracing_q) return;
    PendingAside aside;
    Cell value = *error;
    Cell* kept = stack::push(&value);  // reachable while the callback runs
    fire_event(EV_ERROR, nullptr, -1, nullptr, kept);
    stack::top = kept;
}

void fire_call(const Cell* name, const Cell* function) {
    if (tracing_q) fire_event(EV_CALL, nullptr, -1, name, function);
}

void fire_return(const Cell* name, const Cell*) {
    if (tracing_q) fire_event(EV_RETURN, nullptr, -1, name, stack::arguments);
}

void fire_prolog(const Cell* function, const Cell* body, const Cell* name) {
    if (tracing_q) fire_event(EV_PROLOG, body, -1, name, function);
}

void fire_epilog(const Cell* function, const Cell* body, const Cell* name) {
    if (!tracing_q) return;
    PendingAside aside;
    fire_event(EV_EPILOG, body, -1, name, function);
}

void begin_trace(const Cell* callback) {
    trace_mask = parse_trace_mask(callback);
    *trace_callback = *callback;
    tracing_q = true;
    trace_run_q = true;
    fire_init();
}

void end_trace() {
    try {
        PendingAside aside;
        UnwoundFramesAside frames;
        fire_end();
    } catch (const Throw&) {
        uninstall();
        throw;
    }
    uninstall();
}

void suspend_trace(bool suspended) {
    if (trace_run_q) trace_suspended = suspended;
}

}  // namespace zuv::interpreter
