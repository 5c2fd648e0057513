// Helpers shared by the block! sources (not part of block!'s interface).
#pragma once

#include <algorithm>
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/cycles.hpp"
#include "runtime/memory.hpp"

namespace zuv::block::detail {

inline SeriesBuffer* buffer_of(const Cell* v) { return memory::buffer_of(v->w2); }
inline int32_t total_of(const SeriesBuffer* s) { return memory::used_bytes(s) >> 4; }
inline Cell* cell_at(SeriesBuffer* s, int64_t i) { return memory::cells_head(s) + i; }
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

// One entry on the cycle stack for the life of a walk. On leaving, also when
// an error unwinds the walk, the stack goes back to its depth before the
// push, so that an abandoned walk leaves no stale entry behind.
class CycleEntry {
public:
    explicit CycleEntry(uint32_t key) : depth_(cycles::depth()) { cycles::push(key); }
    ~CycleEntry() {
        int32_t extra = cycles::depth() - depth_;
        if (extra > 0) cycles::drop(extra);
    }
    CycleEntry(const CycleEntry&) = delete;
    CycleEntry& operator=(const CycleEntry&) = delete;

private:
    int32_t depth_;
};

// The value comparison of two cells under op (the compare slot of the
// first's type; a type without one cannot be compared).
// TODO: the action dispatch's value comparison replaces this once it exists.
int32_t compare_values(Cell* a, Cell* b, int32_t op);

}  // namespace zuv::block::detail
