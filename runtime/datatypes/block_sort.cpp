// block!: sort.
//
// The sorts of sort.hpp order fixed-width records through raw addresses,
// which must stay valid for the whole sort. A block's buffer may move at any
// allocation, and a function! comparator runs user code (which may allocate,
// collect or even change the block). So the records sorted here are record
// numbers in a C++ array; the comparator reads the cells of record k by
// (node, index) each time. With a function! comparator the cells are read
// from a private copy of the stretch, held on the data stack, so that user
// code sees the block as it was and the originals stay alive. The sorted
// order is written back at the end, with no allocation between reading the
// cells and writing them.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/fire.hpp"
#include "runtime/sort.hpp"
#include "runtime/words.hpp"

namespace zuv::block {

using namespace detail;

namespace detail {

namespace {

// TODO: functions cannot be called from C++ yet; the interpreter's call of
// a function value with two arguments takes this place.
void call_not_done(const Cell*, Cell*, Cell*, Cell*) { fire(ErrorCategory::internal, "not-done"); }

}  // namespace

ComparatorCall call_comparator = &call_not_done;

}  // namespace detail

namespace {


// One sort's comparison: records of `record` cells from absolute index
// `first` of the block held by `holder` (a cell whose node the collector
// keeps current).
struct SortContext {
    const Cell* holder;
    int32_t first;
    int32_t record;
    int32_t op;
    uint32_t flags;
    const Cell* function;  // a function! comparator, or null
    Cell* scratch;         // with all? and a function: two blocks of `record` cells
};

const Cell* record_cells(const SortContext& c, int32_t k) {
    return cell_at(memory::buffer_of(c.holder->w2), int64_t(c.first) + int64_t(k) * c.record);
}

// Fills scratch block b with record k's cells.
void fill_scratch(const SortContext& c, Cell* b, int32_t k) {
    SeriesBuffer* s = memory::buffer_of(b->w2);
    std::memcpy(memory::cells_for_write(s), record_cells(c, k), size_t(c.record) * 16);
    s->tail = s->head + c.record * 16;
}

int32_t compare_with_function(const SortContext& c, int32_t a, int32_t b) {
    Cell* saved_top = stack::top;
    Cell* first = stack::push_raw();
    Cell* second = stack::push_raw();
    Cell* result = cell::begin(stack::push_raw());
    if (c.flags & series::SORT_ALL) {
        fill_scratch(c, &c.scratch[0], a);
        fill_scratch(c, &c.scratch[1], b);
        *first = c.scratch[0];
        *second = c.scratch[1];
    } else {
        *first = *record_cells(c, a);
        *second = *record_cells(c, b);
    }
    // The function sees (second, first), or (first, second) when reversed.
    if (c.flags & series::SORT_REVERSE) call_comparator(c.function, first, second, result);
    else call_comparator(c.function, second, first, result);
    if (stack::pending()) return 0;  // the stacks are the exit's receiver's now
    int32_t order = series::comparator_order(result);
    stack::top = saved_top;
    return order;
}

// The record number an entry of the sorted array holds.
int32_t record_number(const uint8_t* entry) {
    int32_t k;
    std::memcpy(&k, entry, 4);
    return k;
}

int32_t compare_records(const uint8_t* a, const uint8_t* b, void* context, void*) {
    const SortContext& c = *static_cast<const SortContext*>(context);
    const int32_t ka = record_number(a), kb = record_number(b);
    if (c.function) {
        // Once the comparator left an exit pending, the sort runs out on
        // equal records (a pass over the rest) and the block is not written.
        if (stack::pending()) return 0;
        return compare_with_function(c, ka, kb);
    }
    return sort_compare(record_cells(c, ka), record_cells(c, kb), c.op, c.flags);
}

// The everyday sort of numbers: records of one cell, every one an integer,
// compared on their first cell, no function. Their values are read once into
// keys, since no comparison can then run code or move the block, and compared
// there as sort_compare compares two integers, so the order is the same.
struct IntegerKeys {
    std::vector<int32_t> keys;
    bool reverse = false;
};

bool integer_keys(const SortContext& c, int32_t records, IntegerKeys& out) {
    if (c.function || c.record != 1) return false;
    const uint32_t field = c.flags >> series::SORT_FIELD_SHIFT;
    if (field != ((c.flags & series::SORT_ALL) ? 1u : 0u)) return false;
    const Cell* cells = record_cells(c, 0);
    for (int32_t k = 0; k < records; k++)
        if (type_of(cells + k) != TYPE_INTEGER) return false;
    out.keys.resize(size_t(records));
    for (int32_t k = 0; k < records; k++) out.keys[size_t(k)] = int32_t(cells[k].w2);
    out.reverse = c.flags & series::SORT_REVERSE;
    return true;
}

int32_t compare_integer_records(const uint8_t* a, const uint8_t* b, void* context, void*) {
    const IntegerKeys& k = *static_cast<const IntegerKeys*>(context);
    int32_t x = k.keys[size_t(record_number(a))], y = k.keys[size_t(record_number(b))];
    if (k.reverse) std::swap(x, y);
    return (x > y) - (x < y);
}

}  // namespace

int32_t sort_compare(const Cell* first, const Cell* second, int32_t op, uint32_t flags) {
    if (flags & series::SORT_REVERSE) std::swap(first, second);
    int32_t from = 0, count = 1;
    if (flags & series::SORT_ALL) count = int32_t(flags >> series::SORT_FIELD_SHIFT);
    else from = int32_t(flags >> series::SORT_FIELD_SHIFT);
    for (int32_t k = from; k < from + count; k++) {
        // Copies: a compare slot may clamp a head it is given.
        Cell a = first[k], b = second[k];
        if (type_of(&a) == TYPE_INTEGER && type_of(&b) == TYPE_INTEGER) {
            // The integer slot's order, without the call.
            int32_t x = int32_t(a.w2), y = int32_t(b.w2);
            if (x != y) return x < y ? -1 : 1;
            continue;
        }
        auto compare = get_slot<Act::compare>(type_of(&a));
        int32_t r = compare ? compare(&a, &b, op) : COMPARE_INCOMPARABLE;
        if (r == COMPARE_INCOMPARABLE) r = int32_t(type_of(&a)) - int32_t(type_of(&b));
        if (r != 0) return r;
    }
    return 0;
}

Cell* sort(Cell* series, bool case_q, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable) {
    int32_t head = clamped_head(series);
    int64_t n = total_of(buffer_of(series)) - head;
    if (series::given(part, series)) {
        int64_t count = series::part_count(series, part, head);
        if (count == series::PART_RAISED) return nullptr;
        if (count < n) n = count;
        if (n < 0) {
            // A negative count sorts the cells before the head.
            if (head + n < 0) return series;
            head = int32_t(head + n);
            series->w1 = uint32_t(head);
            n = -n;
        }
    }
    if (n < 1) return series;

    const series::SortOptions options = series::sort_options(series, n, skip, comparator, all, reverse);
    const int64_t s = options.record_size;
    const uint32_t flags = options.flags;
    const Cell* function = options.function;

    bool owned = notify(series, words::sort, nullptr, head, int32_t(n));
    if (owned) {
        // The owner's handler may have shortened the block.
        n = std::min<int64_t>(n, total_of(buffer_of(series)) - head) / s * s;
        if (n < 1) return series;
    }
    int32_t records = int32_t(n / s);
    Cell* saved_top = stack::top;
    SortContext c{series, head, int32_t(s), case_q ? COMP_CASE_SORT : COMP_SORT, flags, function, nullptr};
    if (function) {
        // User code sees the block as it was: the comparator reads a private copy.
        Cell* copy = cell::begin(stack::push_raw());
        Node node = cell::copy_part(series->w2, head, int32_t(n));
        copy->w2 = node;
        cell::set_type(copy, TYPE_BLOCK);
        c.holder = copy;
        c.first = 0;
        if (all) {
            c.scratch = stack::top;
            for (int i = 0; i < 2; i++) make_at(cell::begin(stack::push_raw()), int32_t(s));
        }
    }

    std::vector<int32_t> order(static_cast<size_t>(records));
    std::iota(order.begin(), order.end(), 0);
    auto* base = reinterpret_cast<uint8_t*>(order.data());
    IntegerKeys integers;
    void* context = &c;
    sorting::CompareFn compare = compare_records;
    if (integer_keys(c, records, integers)) {
        context = &integers;
        compare = compare_integer_records;
    }
    if (stable) sorting::merge_sort(base, records, 4, context, nullptr, compare);
    else sorting::quick_sort(base, records, 4, context, nullptr, compare);
    // An exit from the comparator: the block stays as it was, and the stacks
    // belong to its receiver.
    if (stack::pending()) return series;

    // Write the records back in their new order. Nothing allocates from
    // reading the sorted cells to writing them; user code may have shortened
    // the block meanwhile, so only the cells it still has are written.
    std::vector<Cell> sorted(static_cast<size_t>(n));
    for (int32_t k = 0; k < records; k++)
        std::memcpy(&sorted[size_t(k) * s], record_cells(c, order[k]), size_t(s) * 16);
    SeriesBuffer* b = buffer_of(series);
    int64_t room = std::min<int64_t>(n, total_of(b) - head);
    if (room > 0) std::memcpy(cell_for_write(b, head), sorted.data(), size_t(room) * 16);
    stack::top = saved_top;

    if (owned) notify(series, words::sorted, nullptr, head, int32_t(n));
    return series;
}

}  // namespace zuv::block
