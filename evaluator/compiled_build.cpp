// The compiler of blocks: which positions of a block start a simple
// expression, and the unit's table by node id.
#include <cstring>

#include "evaluator/compiled.hpp"
#include "evaluator/compiled_internal.hpp"
#include "evaluator/interpreter_internal.hpp"
#include "runtime/datatypes/native.hpp"

namespace zuv::interpreter::compiled {

using namespace detail;
using namespace interpreter::detail;

namespace detail {

namespace {

// Units by node id: one lazily made page per node frame, like the node
// slots themselves.
Unit** pages[memory::NodeSlots::CAPACITY];

void release(Node node) {
    Unit** page = pages[node >> NODE_SLOT_BITS];
    if (!page) return;
    Unit*& slot = page[node & NODE_SLOT_MASK];
    Unit* unit = slot;
    slot = nullptr;
    if (!unit || unit == SEEN) return;
    if (unit->busy) unit->orphan = true;  // the run that uses it deletes it
    else delete unit;
}

// The value of a bound word as it stands, or null.
const Cell* bound_value(const Cell& word) {
    if (type_of(&word) != TYPE_WORD || word.w1 == 0) return nullptr;
    return _context::value_slot(word.w1, int32_t(word.w3));
}

// Values that the walker places as they are.
bool constant_q(uint32_t type) {
    switch (type) {
        case TYPE_NONE: case TYPE_LOGIC: case TYPE_BLOCK: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
        case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT: case TYPE_REFINEMENT: case TYPE_BINARY:
        case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE: case TYPE_TIME: case TYPE_TAG: case TYPE_EMAIL:
        case TYPE_DATE: case TYPE_MONEY:
            return true;
        default: return false;
    }
}

// An operand: a constant, or a bound word whose value is a plain value now
// (checked again at each run).
bool operand_q(const Cell& c) {
    if (constant_q(type_of(&c))) return true;
    const Cell* value = bound_value(c);
    if (!value) return false;
    switch (type_of(value)) {
        case TYPE_UNSET: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_FUNCTION: case TYPE_ROUTINE: case TYPE_OP:
            return false;
        default: return true;
    }
}

// The operator a word names now, if one that is computed in place.
FastOp operator_of(const Cell& c) {
    const Cell* value = bound_value(c);
    if (!value || type_of(value) != TYPE_OP) return FAST_NONE;
    return fast_op_of(op::unwrap(value));
}

// The simple expression at p of cells [0, n), or one with next 0.
Expr compile_at(const Cell* cells, int32_t p, int32_t n, int32_t base) {
    Expr e;
    int32_t i = p;
    while (i < n && type_of(&cells[i]) == TYPE_SET_WORD && cells[i].w1 != 0 && e.sets < 255) {
        i++;
        e.sets++;
    }
    if (i >= n || !operand_q(cells[i])) return Expr{};
    i++;
    while (i + 1 < n && e.operators < MAX_OPERATORS) {
        FastOp op = operator_of(cells[i]);
        if (op == FAST_NONE || !operand_q(cells[i + 1])) break;
        e.fast[e.operators++] = uint8_t(op);
        i += 2;
    }
    // An operator this expression does not compute ends it: the walker runs it.
    if (i < n && type_of(&cells[i]) == TYPE_WORD) {
        const Cell* value = bound_value(cells[i]);
        if (value && type_of(value) == TYPE_OP) return Expr{};
    }
    e.next = base + i;
    return e;
}

}  // namespace

Unit*& entry_of(Node node) {
    Unit**& page = pages[node >> NODE_SLOT_BITS];
    if (!page) page = new Unit*[NODE_FRAME_SLOTS]();
    return page[node & NODE_SLOT_MASK];
}

void build(Unit* unit, Node node, int32_t head) {
    SeriesBuffer* s = memory::buffer_of(node);
    int32_t tail = memory::used_bytes(s) >> 4;
    const Cell* cells = memory::cells_head(s) + head;
    int32_t n = tail - head;
    unit->head = head;
    unit->tail = tail;
    unit->cells.assign(cells, cells + n);
    unit->exprs.assign(size_t(n), Expr{});
    unit->misses = 0;
    // The copy is read from here on: compiling reads values of words, which
    // allocates nothing, but the copy is what the unit stands for.
    const Cell* copy = unit->cells.data();
    for (int32_t p = 0; p < n; p++) unit->exprs[size_t(p)] = compile_at(copy, p, n, head);
}

}  // namespace detail

void init() { memory::node_release_hook = release; }

}  // namespace zuv::interpreter::compiled
