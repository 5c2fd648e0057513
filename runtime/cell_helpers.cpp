// Helpers that every datatype uses to add cells and bytes at a series' tail
// and to copy part of a series. Each may grow the buffer, which moves it:
// the pointers they return are valid only until the next allocation.
#include <algorithm>
#include <cassert>
#include <cstring>

#include "runtime/memory.hpp"

namespace zuv::cell {

Cell* alloc_tail_cell_grown(Node n) {
    SeriesBuffer* b = memory::buffer_of(n);
    // Doubling an empty area would leave it empty: it grows to one cell.
    memory::expand_series(n, b->size == 0 ? int64_t(sizeof(Cell)) : 0);
    return alloc_tail_cell(n);
}

Cell* append_new_cell(const Cell* block) { return alloc_tail_cell(block->w2); }

uint8_t* reserve_tail_bytes(Node node, int32_t n) {
    assert(n >= 0);
    SeriesBuffer* b = memory::buffer_of(node);
    if (int64_t(b->tail) + n > b->size) {
        // The expanded buffer holds the used part (at most the old size) plus
        // n bytes either way: 2n when n exceeds the size, else twice the size.
        int64_t new_size = n > b->size ? 2 * int64_t(n) : 2 * int64_t(b->size);
        b = memory::expand_series(node, new_size);
    }
    memory::changing(b);
    uint8_t* at = memory::tail_of(b);
    b->tail += n;
    return at;
}

Node copy_part(Node n, int32_t offset, int32_t count) {
    SeriesBuffer* src = memory::buffer_of(n);
    int32_t unit = int32_t(memory::unit_of(src));
    // Only units that lie between the head and the tail are copied.
    int32_t available = memory::length_of(src) - std::max(offset, 0);
    count = std::clamp(count, 0, std::max(available, 0));
    offset = std::max(offset, 0);

    Node copy = memory::alloc_series(count, unit, 0);  // may collect: re-derive src
    src = memory::buffer_of(n);
    SeriesBuffer* dst = memory::buffer_of(copy);
    dst->flags = (src->flags & ~(SERIES_OWNED | SERIES_FIXED | SERIES_BIG | SERIES_MARK)) | (dst->flags & SERIES_BIG);
    int32_t bytes = count * unit;
    if (bytes > 0) std::memcpy(dst->data(), memory::head_of(src) + int64_t(offset) * unit, size_t(bytes));
    dst->tail = bytes;
    return copy;
}

}  // namespace zuv::cell
