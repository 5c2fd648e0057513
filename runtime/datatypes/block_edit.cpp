// block!: append and insert, change, swap, trim, and the typed part of copy.
//
// The editing actions notify an owned block's owner before and after the
// change. The owner's handler is user code, so every position is worked out
// again after the first notification, and buffers are re-derived through
// their nodes after every growth.
#include <algorithm>
#include <cstring>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash.hpp"
#include "runtime/words.hpp"

namespace zuv::block {

using namespace detail;

namespace {

// An insertion may add at most this many cells: their size in bytes must
// fit in a signed 32-bit count.
constexpr int64_t MAX_NEW_CELLS = INT32_MAX / 16;

// What an insertion writes: count cells, dup times, from the cells of a
// block-like value (source != 0, from source_head) or the one value.
struct NewCells {
    Node source = 0;
    int32_t source_head = 0;
    int64_t count = 1;
    int64_t dup = 1;
    int64_t total() const { return count * dup; }
};

NewCells new_cells_of(const Cell* value, bool only, int32_t dup) {
    NewCells n;
    n.dup = dup;
    if (!only && series::any_block_q(type_of(value))) {
        n.source = value->w2;
        n.source_head = clamped_head(value);
        n.count = total_of(memory::buffer_of(n.source)) - n.source_head;
    }
    return n;
}

void check_size(const NewCells& n) {
    if (n.total() > MAX_NEW_CELLS) fire(ErrorCategory::internal, "no-memory");
}

// After user code ran, the source may have lost cells: count no more than it holds.
void clamp_to_source(NewCells& n) {
    if (!n.source) return;
    int32_t total = total_of(memory::buffer_of(n.source));
    n.source_head = std::min(n.source_head, total);
    n.count = std::min<int64_t>(n.count, total - n.source_head);
}

// The buffer of node with room for cells cells from its start: when it
// must grow, to twice that when doubled, else to exactly that.
SeriesBuffer* room_for(Node node, int64_t cells, bool doubled) {
    SeriesBuffer* s = memory::buffer_of(node);
    if (int64_t(s->head) + cells * 16 <= s->size) return s;
    int64_t bytes = cells * 16;
    if (doubled && bytes <= (INT32_MAX - 15) / 2) bytes *= 2;
    return memory::expand_series(node, bytes);
}

// Where the new cells are read from, once the last allocation is done: the
// one value, the source block's cells, or a copy of them when they lie in
// the block being changed (opening its gap would move them).
const Cell* source_cells(Node node, const NewCells& n, const Cell& single, std::vector<Cell>& snapshot) {
    if (!n.source) return &single;
    const Cell* from = cell_at(memory::buffer_of(n.source), n.source_head);
    if (n.source != node) return from;
    snapshot.assign(from, from + n.count);
    return snapshot.data();
}

// Writes the new cells (count cells, dup times) at to.
void write_cells(Cell* to, const NewCells& n, const Cell* from) {
    if (n.count == 0) return;  // an empty snapshot has no data pointer at all
    for (int64_t d = 0; d < n.dup; d++) std::memcpy(to + d * n.count, from, size_t(n.count) * 16);
}

bool copyable_q(uint32_t type) {
    switch (type & TYPE_MASK) {
        case TYPE_BITSET: case TYPE_OBJECT: case TYPE_ERROR: case TYPE_MAP: return true;
        default: return series::series_type_q(type);
    }
}

}  // namespace

// ---- append and insert ----

Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    if (dup < 1) return series;
    Node node = series->w2;
    // The everyday append of one value (not spliced) to a block no owner
    // watches and no hash table indexes: the steps below for a single cell.
    if (append && dup == 1 && part < 0 && (only || !series::any_block_q(type_of(value))) &&
        !hash::table_of_value(series) && !(memory::buffer_of(node)->flags & SERIES_OWNED)) {
        Cell single = *value;  // by value: growth may move a buffer holding it
        SeriesBuffer* s = room_for(node, int64_t(total_of(memory::buffer_of(node))) + 1, true);
        std::memcpy(memory::cells_for_write(s) + total_of(s), &single, sizeof(Cell));
        s->tail += int32_t(sizeof(Cell));
        series->w1 = 0;
        return series;
    }
    NewCells n = new_cells_of(value, only, dup);
    if (n.source && n.count == 0) return series;  // an empty block adds nothing
    if (part >= 0 && part < n.count) n.count = part;
    check_size(n);

    int32_t at = append ? total_of(memory::buffer_of(node)) : clamped_head(series);
    bool owned = notify(series, append ? words::append : words::insert, value, at, int32_t(n.total()));
    int32_t total = total_of(memory::buffer_of(node));
    if (owned) {
        at = append ? total : std::min(at, total);
        clamp_to_source(n);
    }

    if (n.total() > 0) {
        Cell single = *value;  // by value: growth may move a buffer holding it
        SeriesBuffer* s = room_for(node, total + n.total(), dup < 5);
        std::vector<Cell> snapshot;
        const Cell* from = source_cells(node, n, single, snapshot);
        Cell* gap = cell_for_write(s, at);
        std::memmove(gap + n.total(), gap, size_t(total - at) * 16);
        write_cells(gap, n, from);
        s->tail += int32_t(n.total() * 16);
        if (Node table = hash::table_of_value(series)) hash::cells_inserted(table, at, int32_t(n.total()), total);
    }
    if (owned) notify(series, append ? words::appended : words::inserted, value, at, int32_t(n.total()));
    series->w1 = append ? 0 : uint32_t(std::min<int64_t>(at + n.total(), total_of(memory::buffer_of(node))));
    return series;
}

// ---- change ----

Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    if (dup < 1) return series;
    Node node = series->w2;
    int32_t head = clamped_head(series);
    series->w1 = uint32_t(head);
    NewCells n = new_cells_of(value, only, dup);
    check_size(n);
    int32_t total = total_of(memory::buffer_of(node));
    int64_t replaced = std::min<int64_t>(part >= 0 ? part : n.total(), total - head);

    bool owned = notify(series, words::change, value, head, int32_t(replaced));
    if (owned) {
        total = total_of(memory::buffer_of(node));
        head = std::min(head, total);
        series->w1 = uint32_t(head);
        clamp_to_source(n);
        replaced = std::min<int64_t>(part >= 0 ? part : n.total(), total - head);
    }

    Cell single = *value;
    int64_t final_total = total - replaced + n.total();
    SeriesBuffer* s = room_for(node, final_total, false);
    std::vector<Cell> snapshot;
    const Cell* from = source_cells(node, n, single, snapshot);
    // The cells after the replaced ones move so that the new ones fit.
    Cell* at = cell_for_write(s, head);
    std::memmove(at + n.total(), at + replaced, size_t(total - head - replaced) * 16);
    write_cells(at, n, from);
    s->tail = s->head + int32_t(final_total * 16);
    if (Node table = hash::table_of_value(series)) {
        if (replaced == n.total()) hash::cells_changed(table, head, int32_t(replaced));
        else hash::rebuild_all(table);
    }
    if (owned) notify(series, words::changed, value, head, int32_t(n.total()));
    series->w1 = uint32_t(std::min<int64_t>(head + n.total(), final_total));
    return series;
}

// ---- swap and trim ----

Cell* swap(Cell* series1, Cell* series2) {
    if (!series::any_block_q(type_of(series2))) fire(ErrorCategory::script, "invalid-arg", series2);
    if (series::at_tail_q(series1) || series::at_tail_q(series2)) return series1;
    int32_t h1 = int32_t(series1->w1), h2 = int32_t(series2->w1);
    bool owned1 = notify(series1, words::swap, series2, h1, 1);
    bool owned2 = notify(series2, words::swap, series1, h2, 1);
    if (series::at_tail_q(series1) || series::at_tail_q(series2)) return series1;
    Cell* a = cell_for_write(buffer_of(series1), h1);
    Cell* b = cell_for_write(buffer_of(series2), h2);
    Cell t = *a;
    *a = *b;
    *b = t;
    if (Node table = hash::table_of_value(series1)) hash::cells_changed(table, h1, 1);
    if (Node table = hash::table_of_value(series2)) hash::cells_changed(table, h2, 1);
    if (owned1) notify(series1, words::swaped, series2, h1, 1);
    if (owned2) notify(series2, words::swaped, series1, h2, 1);
    return series1;
}

// The refinements of trim make no difference for blocks: none! cells go.
Cell* trim(Cell* series, bool, bool, bool, bool, bool, Cell*) {
    int32_t head = clamped_head(series);
    bool owned = notify(series, words::trim, nullptr, head, total_of(buffer_of(series)) - head);
    head = clamped_head(series);
    SeriesBuffer* s = buffer_of(series);
    int32_t total = total_of(s);
    int32_t kept = head;
    Cell* cells = memory::cells_for_write(s);
    for (int32_t i = head; i < total; i++)
        if (type_of(cells + i) != TYPE_NONE) copy_cell(cells + i, cells + kept++);
    s->tail = s->head + kept * 16;
    if (owned) notify(series, words::trimmed, nullptr, head, kept - head);
    return series;
}

// ---- copy/types ----

void copy_values_of_types(const Cell* block, int32_t start, int32_t end, int32_t step, bool deep,
                          const Cell* types) {
    Node node = block->w2;
    bool by_datatype = type_of(types) == TYPE_DATATYPE;
    Cell wanted = *types;
    Cell item;
    for (int32_t i = start; i < end && read_cell(node, i, &item); i += step) {
        uint32_t type = type_of(&item);
        bool in = by_datatype ? type == wanted.w1 : typeset_has(&wanted, type);
        if (!in || !copyable_q(type)) continue;
        auto copy = get_slot<Act::copy>(type);
        if (!copy) continue;  // TODO: error! and bitset! copies arrive with their datatypes
        // The call's cells as the action entries lay them out: the value,
        // the /types argument above it, then the destination.
        Cell* saved_top = stack::top;
        Cell* value = stack::push(&item);
        Cell* types_arg = deep ? stack::push(&wanted) : nullptr;
        Cell* copied = cell::begin(stack::push_raw());
        copy(value, copied, nullptr, deep, types_arg);
        Cell* slot = cell_for_write(memory::buffer_of(node), i);
        uint32_t flags = slot->header & ~TYPE_MASK;  // the new-line marker stays
        *slot = *copied;
        slot->header = (copied->header & TYPE_MASK) | flags;
        stack::top = saved_top;
    }
}

namespace detail {

Cell* copy_typed(const Cell* source, Cell* result, bool deep, Cell* types) {
    int32_t total = total_of(buffer_of(result));
    if (!deep) {
        copy_values_of_types(result, 0, total, 1, false, types);
        return result;
    }
    cycles::AcyclicEntry entry(source->w2);
    copy_values_of_types(result, 0, total, 1, true, types);
    return result;
}

}  // namespace detail

}  // namespace zuv::block
