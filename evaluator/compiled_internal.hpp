// What the compiler of blocks and the loop that runs them share: the unit of
// a block and the table that keeps units by node id.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::interpreter::compiled::detail {

// Operators of one compiled expression, at most this many.
constexpr int32_t MAX_OPERATORS = 8;
// Blocks longer than this are walked: a unit copies the cells it is made from.
constexpr int32_t MAX_CELLS = 2048;
// A unit made again this many times (its block keeps changing) gives way to
// the walker for good.
constexpr int32_t MAX_REBUILDS = 8;

// A simple expression starting at some position p of the block: `sets`
// set-words, then an operand at p + sets, then `operators` pairs of an
// operator word and its right operand. An operand is a constant or a bound
// word; its cell, and every other cell of the expression, is read from the
// unit's copy once the block's cells are found equal to it.
struct Expr {
    int32_t next = 0;       // the position after it; 0: no compiled expression starts here
    uint8_t sets = 0;
    uint8_t operators = 0;
    uint8_t fast[MAX_OPERATORS] = {};  // each operator's FastOp, as it was when compiled
};

struct Unit {
    int32_t head = 0;          // the block's head index it was made for
    int32_t tail = 0;          // the block's tail when it was made
    std::vector<Cell> cells;   // the block's cells [head, tail) when it was made
    std::vector<Expr> exprs;   // by position - head
    int32_t busy = 0;          // evaluations running it
    int32_t misses = 0;        // expressions found changed since it was made
    int32_t rebuilds = 0;
    bool walker_only = false;  // its block keeps changing
    bool orphan = false;       // its node was freed while it ran: deleted when the last run ends
};

// The unit of a block by its node, or null. The entry of a node seen once,
// without a unit yet, holds SEEN.
Unit* const SEEN = reinterpret_cast<Unit*>(uintptr_t(1));
Unit*& entry_of(Node node);

// Makes (or makes again) the unit from the block's cells as they stand.
void build(Unit* unit, Node node, int32_t head);

}  // namespace zuv::interpreter::compiled::detail
