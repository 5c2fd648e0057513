// Helpers shared by the block! sources (not part of block!'s interface).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/cell.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"

namespace zuv::block::detail {

inline SeriesBuffer* buffer_of(const Cell* v) { return memory::buffer_of(v->w2); }
inline int32_t total_of(const SeriesBuffer* s) { return memory::used_bytes(s) >> 4; }
inline const Cell* cell_at(const SeriesBuffer* s, int64_t i) { return memory::cells_head(s) + i; }
// The same for a change of the cells (see memory::changing).
inline Cell* cell_for_write(SeriesBuffer* s, int64_t i) { return memory::cells_for_write(s) + i; }
// The head index clamped to 0..total.
inline int32_t clamped_head(const Cell* v) {
    return std::clamp(int32_t(v->w1), 0, total_of(buffer_of(v)));
}
// A copy of cell i of the series behind node, or false past the tail. Loops
// that allocate between steps read their cells this way, by (node, index).
inline bool read_cell(Node node, int32_t i, Cell* out) {
    SeriesBuffer* s = memory::buffer_of(node);
    if (i >= total_of(s)) return false;
    *out = *cell_at(s, i);
    return true;
}

using CycleEntry = cycles::Entry;

// The value comparison of two cells under op (the compare slot of the
// first's type; a type without one cannot be compared).
// TODO: the action dispatch's value comparison replaces this once it exists.
int32_t compare_values(Cell* a, Cell* b, int32_t op);

// ---- searching, editing and sorting ----

// True when a typeset! holds the type id: its 96-bit bitmap starts at word 1,
// type t being bit 0x80 >> (t & 7) of byte t >> 3.
inline bool typeset_has(const Cell* typeset, uint32_t type) {
    uint8_t bytes[12];
    std::memcpy(bytes, &typeset->w1, sizeof bytes);
    return type < 96 && (bytes[type >> 3] & (0x80u >> (type & 7))) != 0;
}

// script invalid-refine-arg naming the refinement (refinements::part, ::skip, ::compare).
using series::fire_refine_arg;

// Tells an owned block's owner of a change (see ownership.hpp): true when an
// owner was told. Unowned blocks pay one flag test. The owner's handler runs
// user code: re-derive every pointer into a series after the call.
inline bool notify(const Cell* value, const Cell& action, const Cell* new_value, int32_t index, int32_t part) {
    if (!(buffer_of(value)->flags & SERIES_OWNED)) return false;
    return ownership::check(value, &action, new_value, index, part);
}

// How sort/compare calls a function! comparator: with first and second (data
// stack cells) as its two arguments and every refinement of the function
// false with none for its argument, leaving the function's result in result
// (a data stack cell). It raises internal not-done until functions can be
// called from C++; the interpreter sets it then.
using ComparatorCall = void (*)(const Cell* function, Cell* first, Cell* second, Cell* result);
extern ComparatorCall call_comparator;

// The typed part of copy/types: runs copy_values_of_types over the fresh
// copy in result of source (deep: under the cycle guard, as copy/deep).
Cell* copy_typed(const Cell* source, Cell* result, bool deep, Cell* types);

}  // namespace zuv::block::detail
