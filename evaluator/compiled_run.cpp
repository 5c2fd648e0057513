// The loop that runs a compiled block.
#include <cstring>

#include "evaluator/compiled.hpp"
#include "evaluator/compiled_internal.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "evaluator/stack.hpp"
#include "evaluator/trace.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/process.hpp"

namespace zuv::interpreter::compiled {

using namespace detail;
using namespace interpreter::detail;

namespace {

// The value an operand gives, as the walker would place it; false when the
// walker must evaluate it (a word naming a function, an operator or nothing).
inline bool operand(const Cell& c, Cell* out) {
    if (type_of(&c) != TYPE_WORD) {
        *out = c;
        return true;
    }
    const Cell* slot = _context::value_slot(c.w1, int32_t(c.w3));
    if (!slot) return false;
    switch (type_of(slot)) {
        case TYPE_UNSET: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_OP:
            return false;
        default: *out = *slot; return true;
    }
}

// The slot a set-word stores into without a change handler, or null.
inline Cell* plain_store(const Cell& set_word) {
    Cell* slot = _context::value_slot(set_word.w1, int32_t(set_word.w3));
    if (!slot) return nullptr;
    const Cell* context = _context::cell_of(set_word.w1);
    return _context::kind_of(context) == _context::KIND_OBJECT ? nullptr : slot;
}

// The compiled expression at position into the result slot; false when the
// walker must evaluate it, nothing of it having been done.
bool run_expr(Unit& unit, const Expr& e, int32_t position, Node node, int32_t end) {
    if (tracing_q || runtime::interrupt_pending || !room_for_short_cut()) return false;
    SeriesBuffer* s = memory::buffer_of(node);
    int32_t limit = std::min(end, memory::used_bytes(s) >> 4);
    if (e.next > limit) return false;
    const Cell* cells = memory::cells_head(s);
    const Cell* copy = unit.cells.data() - unit.head;  // by absolute position
    if (std::memcmp(cells + position, copy + position, size_t(e.next - position) * sizeof(Cell)) != 0) {
        unit.misses++;
        return false;
    }
    // An operator after it makes it a longer expression.
    if (e.next < limit) {
        const Cell& after = cells[e.next];
        if (type_of(&after) == TYPE_WORD && after.w1 != 0) {
            const Cell* slot = _context::value_slot(after.w1, int32_t(after.w3));
            if (slot && type_of(slot) == TYPE_OP) return false;
        }
    }
    int32_t p = position + e.sets;
    Cell value;
    if (!operand(copy[p], &value)) return false;
    for (int32_t k = 0; k < e.operators; k++, p += 2) {
        const Cell& word = copy[p + 1];
        const Cell* slot = _context::value_slot(word.w1, int32_t(word.w3));
        if (!slot || type_of(slot) != TYPE_OP) return false;
        FastOp fast = FastOp(e.fast[k]);
        if (fast_op_of(op::unwrap(slot)) != fast) return false;
        Cell right;
        if (!operand(copy[p + 2], &right) || !fast_op(fast, &value, &right)) return false;
    }
    if (e.sets) {
        for (int32_t i = 0; i < e.sets; i++)
            if (!plain_store(copy[position + i])) return false;
        for (int32_t i = e.sets - 1; i >= 0; i--) *plain_store(copy[position + i]) = value;
    }
    *stack::arguments = value;
    return true;
}

// Keeps a unit alive and unchanged while a run uses it.
class Busy {
public:
    explicit Busy(Unit* unit) : unit_(unit) { unit->busy++; }
    ~Busy() {
        if (--unit_->busy == 0 && unit_->orphan) delete unit_;
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    Unit* unit_;
};

// The block's unit ready to run, or null when the walker should run it.
Unit* unit_for(Node node, int32_t head) {
    Unit*& entry = entry_of(node);
    Unit* unit = entry;
    if (!unit) {
        entry = SEEN;  // made at the second evaluation
        return nullptr;
    }
    if (unit == SEEN) {
        if ((memory::used_bytes(memory::buffer_of(node)) >> 4) - head > MAX_CELLS) return nullptr;
        unit = new Unit;
        build(unit, node, head);
        entry = unit;
        return unit;
    }
    if (unit->walker_only) return nullptr;
    if (unit->head != head || unit->misses > 0) {
        if (unit->busy) return unit->head == head ? unit : nullptr;
        if (++unit->rebuilds > MAX_REBUILDS ||
            (memory::used_bytes(memory::buffer_of(node)) >> 4) - head > MAX_CELLS) {
            unit->walker_only = true;
            return nullptr;
        }
        build(unit, node, head);
    }
    return unit;
}

}  // namespace

bool run(const Cell* code, int32_t head, int32_t end) {
    Node node = code->w2;
    Unit* unit = unit_for(node, head);
    if (!unit) return false;
    Busy busy(unit);
    int32_t position = head;
    for (;;) {
        current_position->w1 = uint32_t(position);
        int32_t index = position - unit->head;
        const Expr* e = index >= 0 && index < int32_t(unit->exprs.size()) ? &unit->exprs[size_t(index)] : nullptr;
        if (e && e->next && run_expr(*unit, *e, position, node, end)) {
            position = e->next;
        } else {
            position = eval_expression(code, position, end, false, false, false);
            if (stack::pending()) return true;
        }
        if (position >= limit_of(node, end)) break;
        stack::reset();  // only the last expression's value survives
    }
    return true;
}

}  // namespace zuv::interpreter::compiled
