// hash!: a block! whose cells are also keys of a hash table (kind 0), so
// that find and select on it run in near constant time.
//
// Payload: word 1 the head index, word 2 the cell series, word 3 the node of
// the table. Every cell from the series' first element is a key; the block!
// actions a hash! inherits keep the table in step with every edit (see the
// cells_* functions of runtime/hash.hpp). Its own actions are those that
// make a table (make, to, copy), its text form, and sort and trim, which
// reorder or shorten the cells in place.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::hash {

// Builds a new table over the cells of value (a cell of type hash!, or of
// a block type, which becomes a hash!). value must not lie in a series
// buffer that can move.
Cell* make_over(Cell* value);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* sort(Cell* series, bool case_q, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);

void register_type();

}  // namespace zuv::hash
