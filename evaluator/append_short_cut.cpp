#include "evaluator/append_short_cut.hpp"

#include <algorithm>

#include "evaluator/interpreter_internal.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/memory.hpp"

namespace zuv::interpreter::detail {

namespace {

// The value the walker places for the cell without calling or raising
// anything: a constant, or a bound word whose value is no callable, no
// operator and set.
inline bool plain_value(const Cell& cell, Cell* out) {
    uint32_t type = type_of(&cell);
    if (constant_q(type)) {
        *out = cell;
        return true;
    }
    if (type != TYPE_WORD || cell.w1 == 0) return false;
    const Cell* slot = _context::value_slot(cell.w1, int32_t(cell.w3));
    if (!slot) return false;
    switch (type_of(slot)) {
        case TYPE_UNSET: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_OP:
            return false;
        default:
            *out = *slot;
            return true;
    }
}

// A word the infix loop would take as an operator.
inline bool operator_word_q(const Cell& cell) {
    if (type_of(&cell) != TYPE_WORD || cell.w1 == 0) return false;
    const Cell* slot = _context::value_slot(cell.w1, int32_t(cell.w3));
    return slot && type_of(slot) == TYPE_OP;
}

inline bool direct_q(const Cell& series, const Cell& value) {
    switch (type_of(&series)) {
        case TYPE_STRING: return type_of(&value) == TYPE_STRING || type_of(&value) == TYPE_CHAR;
        case TYPE_BLOCK: return true;
        default: return false;
    }
}

}  // namespace

bool append_direct(Cell* series, Cell* value) {
    if (!direct_q(*series, *value)) return false;
    if (type_of(series) == TYPE_STRING) string::append(series, value, -1, false, 1, true);
    else block::insert(series, value, -1, false, 1, true);
    return true;
}

int32_t append_short_cut(const Cell& fn, const Cell* code, int32_t position, int32_t end, bool sub,
                         const Cell& name) {
    SeriesBuffer* b = memory::buffer_of(code->w2);
    int32_t limit = std::min(end, memory::used_bytes(b) >> 4);
    if (position < 0 || position + 2 > limit) return -1;
    const Cell* cells = memory::cells_head(b) + position;
    Cell series, value;
    if (!plain_value(cells[0], &series) || !plain_value(cells[1], &value) || !direct_q(series, value)) return -1;
    // An operator after the value would take it as its left operand.
    if (position + 2 < limit && operator_word_q(cells[2])) return -1;
    if (!room_for_short_cut()) return -1;

    // With the room already there nothing can fail, collect or run code:
    // no frame of the call can be seen, and the result is placed as a value.
    if (type_of(&series) == TYPE_STRING ? string::append_in_place(&series, &value)
                                        : block::append_in_place(&series, &value)) {
        if (sub) stack::push(&series);
        else stack::set_last(&series);
        return position + 2;
    }

    Cell* copy = stack::push(&fn);  // stays below the frame while the call runs
    stack::mark_eval_native(&name);
    Cell* arguments = stack::push(&series);
    stack::push(&value);
    append_direct(arguments, arguments + 1);
    end_call(copy, sub);
    return position + 2;
}

}  // namespace zuv::interpreter::detail
