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

// Near any limit (the C++ stack, the call frames, the data stack) the short
// cuts step aside: the general protocol then meets an overflow at the same
// expression and frame in both ways of evaluating.
constexpr int32_t SHORT_CUT_FRAMES = 64;  // call frames left free for a short cut
// The C++ stack's depth is read from a local's address: taking the frame's
// address would make every caller keep a frame pointer.
[[gnu::always_inline]] inline bool room_for_short_cut() {
    constexpr uintptr_t SLACK = 64 * 1024;
    char probe;
    // The room is taken off the local's address (a stack address lies far
    // above it), so that the limit is compared as it is stored.
    auto here = reinterpret_cast<uintptr_t>(&probe) - (STACK_MARGIN + SLACK);
    return here >= runtime::record.stack_limit &&
           stack::frames_top + SHORT_CUT_FRAMES < stack::frames_end &&
           stack::top + 64 < stack::end;
}

// ---- set-words stored in place ----

// A value the walker places as it is when a word gives it.
inline bool placed_q(uint32_t type) {
    switch (type) {
        case TYPE_UNSET: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_OP:
            return false;
        default: return true;
    }
}

// Stores v through the set-word as set_in does, when no change handler can
// run; false, nothing done, else. over_placed: also false when the word's
// value is not one placed as it is (a callable or an operator, which code
// decoded on the word's earlier value may rely on).
// plain_slot: set to the slot stored into when the word is no object's
// (storing there again needs no look at the context), else to null.
[[gnu::always_inline]] inline bool store_plain(const Cell& set_word, const Cell& v, bool over_placed = false,
                                               Cell** plain_slot = nullptr) {
    const Cell* context = _context::cell_of(set_word.w1);
    Cell* slot = _context::value_slot(set_word.w1, int32_t(set_word.w3));
    if (!slot || (over_placed && !placed_q(type_of(slot)))) return false;
    if (_context::kind_of(context) == _context::KIND_OBJECT) {
        const Cell* owner = context + 1;
        if (_context::on_change && type_of(owner) == TYPE_OBJECT && owner->w3 != 0) return false;
        *slot = v;
        _context::get_word_cell(set_word.w1, int32_t(set_word.w3))->header |= _context::WORD_CHANGED;
        slot = nullptr;
    } else {
        *slot = v;
    }
    if (plain_slot) *plain_slot = slot;
    return true;
}

// ---- operators computed in place ----

// Integer and float arithmetic (an integer sum beyond 32 bits becoming a
// float, as the entry makes it), integer remainder and integer comparison,
// the operators of most loops and recursions, are done in the infix loop
// without a call when both operands are plain numbers and the result is
// what the entry would give; every other case (another type, a comparison
// with a float, a remainder by 0 or -1) runs the entry as before, so its
// errors keep their where.
enum FastOp { FAST_NONE, FAST_ADD, FAST_SUB, FAST_MUL, FAST_EQ, FAST_NE, FAST_LT, FAST_GT, FAST_LE, FAST_GE, FAST_REM };

inline FastOp fast_op_of(const Cell& fn) {
    if (type_of(&fn) == TYPE_ACTION) {
        switch (fn.w1) {
            case uint32_t(Act::add): return FAST_ADD;
            case uint32_t(Act::subtract): return FAST_SUB;
            case uint32_t(Act::multiply): return FAST_MUL;
            case uint32_t(Act::remainder): return FAST_REM;
            default: return FAST_NONE;
        }
    }
    if (type_of(&fn) == TYPE_NATIVE) {
        switch (fn.w1) {
            case 25: return FAST_EQ;  // the natives' fixed slots: equal? .. greater-or-equal?
            case 26: return FAST_NE;
            case 28: return FAST_LT;
            case 29: return FAST_GT;
            case 30: return FAST_LE;
            case 31: return FAST_GE;
            default: return FAST_NONE;
        }
    }
    return FAST_NONE;
}

// The operand at position when it needs no evaluation that could fail or
// be traced: a number, or a bound word whose value is a number.
inline bool plain_operand(const Cell* code, int32_t position, int32_t end, Cell* out) {
    if (position >= end || !read_cell(code->w2, position, out)) return false;
    uint32_t t = type_of(out);
    if (t == TYPE_WORD) {
        if (out->w1 == 0) return false;
        const Cell* slot = _context::value_slot(out->w1, int32_t(out->w3));
        if (!slot) return false;
        *out = *slot;
        t = type_of(out);
    }
    return t == TYPE_INTEGER || t == TYPE_FLOAT;
}

// The operator on left and right, the result left in left as the entry
// leaves it (flag bits of left kept); false when the entry must run.
[[gnu::always_inline]] inline bool fast_op(FastOp op, Cell* left, const Cell* right) {
    uint32_t tl = type_of(left), tr = type_of(right);
    if (tl == TYPE_INTEGER && tr == TYPE_INTEGER) {
        int32_t a = int32_t(left->w2), b = int32_t(right->w2), r;
        switch (op) {
            case FAST_ADD: if (__builtin_add_overflow(a, b, &r)) goto as_floats; break;
            case FAST_SUB: if (__builtin_sub_overflow(a, b, &r)) goto as_floats; break;
            case FAST_MUL: if (__builtin_mul_overflow(a, b, &r)) goto as_floats; break;
            case FAST_REM:
                if (b == 0 || b == -1) return false;  // the entry raises, or its INT_MIN case
                r = a % b;
                break;
            case FAST_EQ: logic::make_at(left, a == b); return true;
            case FAST_NE: logic::make_at(left, a != b); return true;
            case FAST_LT: logic::make_at(left, a < b); return true;
            case FAST_GT: logic::make_at(left, a > b); return true;
            case FAST_LE: logic::make_at(left, a <= b); return true;
            case FAST_GE: logic::make_at(left, a >= b); return true;
            default: return false;
        }
        left->w2 = uint32_t(r);
        return true;
    }
as_floats:
    // A float with an integer (or an integer sum, difference or product
    // beyond 32 bits, which the entry gives below) is float arithmetic on
    // the integer as a double.
    if ((tl == TYPE_FLOAT || tl == TYPE_INTEGER) && (tr == TYPE_FLOAT || tr == TYPE_INTEGER)) {
        double a = tl == TYPE_FLOAT ? cell::get_float(left) : double(int32_t(left->w2));
        double b = tr == TYPE_FLOAT ? cell::get_float(right) : double(int32_t(right->w2));
        switch (op) {
            case FAST_ADD: float_::make_at(left, a + b); return true;
            case FAST_SUB: float_::make_at(left, a - b); return true;
            case FAST_MUL: float_::make_at(left, a * b); return true;
            default: return false;
        }
    }
    return false;
}

// ---- plain calls of natives and actions ----

// What a call of a native or action named by a word, with fixed arguments
// only, does around the fetching of its arguments (run_builtin's steps), for
// code that fetches them itself.
//
// The argument cache of a native or action when built, else 0.
Node builtin_cache(const Cell& fn);
// The argument just pushed against cache entry index: script expect-arg.
void check_builtin_argument(const Cell& fn, const Cell& name, Node cache, int32_t index);
// The code ended before the argument of cache entry index: script no-arg.
[[noreturn]] void fire_builtin_no_arg(const Cell& fn, const Cell& name, Node cache, int32_t index);
// Runs the entry on the fixed arguments from stack::arguments.
void run_builtin_entry(const Cell& fn);

// The same for a function (run_function's steps): its argument cache when
// built, else 0 (also for any other callable); the copy of the callable and
// the call frame pushed, answering the copy and the context it runs in; the
// cells after its fixed arguments (refinements off, their arguments none,
// the locals) pushed from cache entry from on. exec_function runs it. object:
// the object a method was found in (its context is the function's).
Node function_cache(const Cell& fn);
Cell* begin_function_call(const Cell& fn, const Cell& name, Node* context, const Cell* object = nullptr);
void push_function_rest(Node cache, int32_t from);
// The context a function named by the word runs in (no object).
Node call_context(const Cell& fn, const Cell& name);

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

// Puts back, however the call ends, the values word of a function context
// (where its words find the running call's cells) and the tracing flag.
class CallState {
public:
    explicit CallState(Node context)
        : context_(context), values_(_context::values_word(context)), tracing_(tracing_q) {}
    // The same, the context's words then finding the call's cells by values.
    CallState(Node context, uint32_t values) : context_(context), tracing_(tracing_q) {
        Cell* c = _context::cell_of(context);
        values_ = c->w2;
        c->w2 = values;
    }
    ~CallState() {
        _context::set_values_word(context_, values_);
        tracing_q = tracing_;
    }
    CallState(const CallState&) = delete;
    CallState& operator=(const CallState&) = delete;

private:
    Node context_;
    uint32_t values_;
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

// Values that the walker places as they are.
inline bool constant_q(uint32_t type) {
    switch (type) {
        case TYPE_NONE: case TYPE_LOGIC: case TYPE_BLOCK: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_REFINEMENT: case TYPE_BINARY:
        case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE: case TYPE_TIME: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_DATE: case TYPE_MONEY:
            return true;
        default: return false;
    }
}

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

// ---- argument caches ----

inline uint32_t arg_kind_of(const Cell& entry) { return (entry.header & ARG_KIND_MASK) >> ARG_KIND_SHIFT; }

// The fixed, evaluated argument entries of an argument cache (before its
// first refinement); false when another kind of argument comes first.
// rest: the entry after them (a refinement, the count of locals, the end).
inline bool plain_arguments(Node cache, std::vector<int32_t>* entries, int32_t* rest = nullptr) {
    Cell entry;
    int32_t i = 0;
    for (; read_cell(cache, i, &entry); i++) {
        uint32_t t = type_of(&entry);
        if (t == TYPE_REFINEMENT || t == TYPE_INTEGER) break;
        if (t != TYPE_TYPESET) continue;
        uint32_t kind = arg_kind_of(entry);
        if (kind == ARG_RETURN) continue;
        if (kind != ARG_NORMAL) return false;
        entries->push_back(i);
    }
    if (rest) *rest = i;
    return true;
}

}  // namespace zuv::interpreter::detail
