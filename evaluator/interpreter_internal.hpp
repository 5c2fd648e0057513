// What the interpreter's sources share: reading code by (node, index), the
// block that keeps running code alive, the depth guard, typeset bits.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/cell.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/runtime.hpp"

namespace zuv::interpreter::detail {

// ---- code by (node, index) ----

inline int32_t tail_of(Node node) { return memory::used_bytes(memory::buffer_of(node)) >> 4; }
// The end of the code as it stands: the smaller of the caller's end and the
// block's current tail.
inline int32_t limit_of(Node node, int32_t end) { return std::min(end, tail_of(node)); }
// A copy of cell i of the series behind node, or false past the tail.
inline bool read_cell(Node node, int32_t i, Cell* out) {
    SeriesBuffer* s = memory::buffer_of(node);
    if (i < 0 || i >= (memory::used_bytes(s) >> 4)) return false;
    *out = memory::cells_head(s)[i];
    return true;
}

// ---- holding running code ----

// A fixed block in the root block whose cells, up to its tail, are the
// blocks and paths being evaluated: the collector keeps them alive even when
// nothing else refers to them any more. Holds nest with the C++ calls that
// make them; leaving a call (normally or by a throw) releases its hold.
extern SeriesBuffer* held;

[[noreturn]] void held_overflow();

class Hold {
public:
    explicit Hold(const Cell& value) : saved_tail_(held->tail) {
        if (held->tail + int32_t(sizeof(Cell)) > held->size) [[unlikely]]
            held_overflow();
        std::memcpy(held->data() + held->tail, &value, sizeof(Cell));
        held->tail += int32_t(sizeof(Cell));
    }
    ~Hold() { held->tail = saved_tail_; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    int32_t saved_tail_;
};

// ---- depth guard ----

// Raised this far above the recorded stack limit, so that the error's own
// unwinding has room.
constexpr uintptr_t STACK_MARGIN = 256 * 1024;

[[noreturn]] void stack_overflow();

inline void check_depth() {
    auto here = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    if (here < runtime::record.stack_limit + STACK_MARGIN) [[unlikely]]
        stack_overflow();
}

// Room on the C++ stack for the evaluations that code skipping the walker's
// steps leaves out (see stack::room_q): near the limit it takes the steps,
// and meets the overflow where the walker meets it. The depth is read from
// a local's address, so that callers keep no frame pointer for it.
[[gnu::always_inline]] inline bool stack_room_q() {
    constexpr uintptr_t SLACK = 64 * 1024;
    char probe;
    return reinterpret_cast<uintptr_t>(&probe) - (STACK_MARGIN + SLACK) >= runtime::record.stack_limit;
}

// ---- calls, as compiled code makes them ----

// The context a function runs in: the object's (a method found in it), else
// its owner's, else that of the word naming it.
Node function_context(const Cell& fn, const Cell& name, const Cell* object);
// script expect-arg for the argument of cache entry `entry` of the call of fn
// named by name, given a value of type, raised as pending: the caller returns
// at once.
[[gnu::cold]] void raise_expect_arg(const Cell& fn, const Cell& name, Node cache, int32_t entry, uint32_t type);
// The argument of cache entry `entry` of the call of fn named by name, as
// the walker fetches it from code at position: by its kind, checked, pushed.
// Answers the position after it.
int32_t fetch_entry_argument(const Cell& fn, const Cell& name, const Cell* code, int32_t end, Node cache,
                             int32_t entry, int32_t position);
// Runs the native's or action's entry on its fixed arguments (no
// refinement used), as the walker's calls run it.
void run_plain_entry(const Cell& fn);
// Runs the routine of a call as the evaluator does, a code thrown in it
// going on as pending.
inline void run_routine(const Cell& fn) {
    stack::call_entry([&] { exec_routine(&fn); });
}

// The end of a call whose callable was copied below its frame: the frame
// unwound (the result kept on the stack for a sub-expression, else copied
// into the caller's result slot) and the copy replaced by the result.
[[gnu::always_inline]] inline void end_call(Cell* copy, bool sub) {
    if (sub) stack::unwind_last();
    else stack::unwind_last_return();
    copy_cell(copy + 1, copy);
    stack::top = copy + 1;
}

// ---- function calls ----

// The running function body's context and its call's cells (from base,
// count of them): what its words read. The context's values word names
// the same cells (CallState sets both), so compiled code reads a word of
// the running function from here without looking the context up.
struct Locals {
    Node context = 0;
    Cell* base = nullptr;
    uint32_t count = 0;
};
extern Locals locals;

// A function body runs: its context's words find the call's cells from
// stack::arguments (the values word and locals say so), and however the
// call ends, both are put back, and so is the tracing flag.
class CallState {
public:
    explicit CallState(Node context) : context_(context), saved_locals_(locals), tracing_(tracing_q) {
        Cell* c = _context::cell_of(context);
        values_ = c->w2;
        c->w2 = stack::values_word_of(stack::arguments);
        locals = {context, stack::arguments, uint32_t(stack::top - stack::arguments)};
    }
    ~CallState() {
        _context::set_values_word(context_, values_);
        locals = saved_locals_;
        tracing_q = tracing_;
    }
    CallState(const CallState&) = delete;
    CallState& operator=(const CallState&) = delete;

private:
    Node context_;
    uint32_t values_;
    Locals saved_locals_;
    bool tracing_;
};

// ---- building typesets (rt_support::typeset_has_q reads them) ----

inline void typeset_add(Cell* ts, uint32_t type) {
    uint8_t bytes[12];
    std::memcpy(bytes, &ts->w1, sizeof bytes);
    bytes[type >> 3] |= uint8_t(128u >> (type & 7));
    std::memcpy(&ts->w1, bytes, sizeof bytes);
}
inline void typeset_union(Cell* ts, const Cell* other) {
    ts->w1 |= other->w1;
    ts->w2 |= other->w2;
    ts->w3 |= other->w3;
}

// ---- evaluation state ----

// Puts the position of the expression being evaluated back as it was when
// the scope ends, by a return or a throw: an error that unwinds an
// evaluation must not leave it on code that nothing keeps alive any more.
// The saved position lies in the caller's code, which the caller's hold
// keeps alive (or in text a root keeps), so it is valid when put back.
class SavedPosition {
public:
    SavedPosition() : saved_(*current_position) {}
    ~SavedPosition() { *current_position = saved_; }
    SavedPosition(const SavedPosition&) = delete;
    SavedPosition& operator=(const SavedPosition&) = delete;

private:
    Cell saved_;
};

}  // namespace zuv::interpreter::detail
