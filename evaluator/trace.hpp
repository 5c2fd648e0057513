// Trace events: the interpreter reports its steps to a callback function.
//
// `do/trace` installs a callback for one evaluation. While it runs, the
// interpreter, `fire` and the `throw` and `catch` natives report events:
// entering and leaving blocks, fetching and pushing values, setting words,
// opening and calling functions, their prolog and epilog, errors, throws and
// catches, and the end of each expression. The callback is called with six
// arguments: the event word, the code block (or none), the offset of the
// position from the block's head (-1: none), the value (or none), the ref (or
// none) and the frame, a pair! of the current call's base and the stack top
// as cell indexes from the stack's bottom.
//
// Guards. Every event site tests `tracing_q` before it builds any argument.
// The flag is off while the callback runs, so the callback's own steps are
// never reported; an error or throw out of the callback leaves it off until
// the traced evaluation ends.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::interpreter {

// The events and their bits in the event mask.
enum TraceEvent : uint32_t {
    EV_INIT = 0x0001,    // start of a traced do
    EV_END = 0x0002,     // end of a traced do
    EV_PROLOG = 0x0004,  // before an interpreted function body
    EV_EPILOG = 0x0008,  // after it
    EV_ENTER = 0x0010,   // start of a block or path evaluation
    EV_EXIT = 0x0020,    // end of a block evaluation, or of a path whose head was called
    EV_OPEN = 0x0040,    // before a call's arguments are fetched
    EV_RETURN = 0x0080,  // after a call
    EV_FETCH = 0x0100,   // before a value is evaluated
    EV_PUSH = 0x0200,    // a value put on the stack or as a result
    EV_SET = 0x0400,     // a set-word or set-path assignment
    EV_CALL = 0x0800,    // when all arguments are in place
    EV_ERROR = 0x1000,   // an error, before it unwinds
    EV_THROW = 0x2000,   // the throw native
    EV_CATCH = 0x4000,   // the catch native
    EV_EXPR = 0x8000,    // end of each expression evaluated in result mode
};
constexpr int32_t TRACE_EVENT_COUNT = 16;
// The mask of a callback that names no events: every event, and bit 16.
constexpr uint32_t TRACE_DEFAULT_MASK = 0x1FFFF;

// On while events are reported: during a traced evaluation, except while
// the callback runs. Every event site tests it first.
extern bool tracing_q;
// On while a traced `do` runs (a function with the `trace` attribute turns
// tracing_q back on from it).
extern bool trace_run_q;
// The current callback's event mask.
extern uint32_t trace_mask;
// On while `trace false` has suspended the running trace: no event but `end`
// reaches the callback. The flag is apart from tracing_q, which every
// function call puts back as it found it on return.
extern bool trace_suspended;

// The event mask of a callback: when its body begins with a block, the event
// words listed there (other values are ignored); otherwise the default.
uint32_t parse_trace_mask(const Cell* callback);

// Calls the callback when the event is in the mask. code: the block or path
// (null: none); position: an absolute index in code (-1: none); ref and
// value: null for none. The arguments are copied before anything runs.
void fire_event(uint32_t event, const Cell* code, int32_t position, const Cell* ref, const Cell* value);

void fire_init();
void fire_end();
// The throw and catch natives: the value is the current result slot.
void fire_throw();
void fire_catch();
// An error raised by fire, before it unwinds.
void fire_error(const Cell* error);
// Around a call through exec_function with a trace class: `call` with the
// function, `return` with the result slot.
void fire_call(const Cell* name, const Cell* function);
void fire_return(const Cell* name, const Cell* function);
// Before and after an interpreted function body.
void fire_prolog(const Cell* function, const Cell* body, const Cell* name);
void fire_epilog(const Cell* function, const Cell* body, const Cell* name);

// A traced evaluation. begin installs the callback (its mask taken from
// it), switches tracing on and fires `init`; end fires `end` (the
// pending code kept aside), removes the callback and switches tracing off.
// end serves an evaluation left by a low-level throw (an error) too: the
// throw in flight is kept aside while `end` runs. After a failed callback
// the session is silent and end only cleans up, as it does when the `end`
// callback itself fails (its throw then leaves end).
void begin_trace(const Cell* callback);
void end_trace();

// trace false / trace true inside a traced evaluation: suspends or resumes
// its events. Outside one it does nothing.
void suspend_trace(bool suspended);

}  // namespace zuv::interpreter
