// block!: the set operations behind unique, union, intersect, exclude and
// difference.
//
// Records of `skip` cells are kept or dropped by their first value. Whether
// a value is in a series (the other argument, or the result built so far)
// is answered by a hash index over the series' records; block-like values
// are looked for as find/only does, by a scan.
#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/hash_type.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash.hpp"
#include "runtime/words.hpp"

namespace zuv::block {

using namespace detail;

namespace {

// The first values of a block's records (the block held by `holder`, a
// cell whose node the collector keeps current), by absolute index: hashed,
// or for block-like values in a list that find/only's scan walks.
//
// It lives for one call only, outside the collected heap. Values whose hash
// depends on a node are all filed under their type, since a collection may
// renumber nodes while the index lives.
class RecordIndex {
public:
    explicit RecordIndex(const Cell* holder, bool case_q) : holder_(holder), case_(case_q) {}

    // Files the record whose first value is at absolute index i.
    void add(int32_t i) {
        Cell v;
        if (!read_cell(holder_->w2, i, &v)) return;
        if (series::any_block_q(type_of(&v))) blocks_.push_back(i);
        else map_.emplace(key_of(&v), i);
    }

    // Files every record from the holder's head, record cells apart.
    void add_records(int32_t record) {
        int32_t total = total_of(memory::buffer_of(holder_->w2));
        for (int64_t i = clamped_head(holder_); i < total; i += record) add(int32_t(i));
    }

    bool contains(const Cell* value) const {
        Cell key = *value;
        Cell item;
        if (series::any_block_q(type_of(&key))) {
            // As find/only: only block-like values can match a block-like key.
            int32_t op = case_ ? COMP_STRICT_EQUAL : COMP_FIND;
            for (int32_t i : blocks_) {
                read_cell(holder_->w2, i, &item);
                Cell k = key;
                if (actions::compare_star(&item, &k, op)) return true;
            }
            return false;
        }
        int32_t op = case_ ? COMP_STRICT_EQUAL : COMP_EQUAL;
        auto range = map_.equal_range(key_of(&key));
        for (auto it = range.first; it != range.second; ++it) {
            read_cell(holder_->w2, it->second, &item);
            Cell k = key;
            if (actions::compare_star(&item, &k, op)) return true;
        }
        return false;
    }

private:
    uint32_t key_of(const Cell* v) const {
        uint32_t type = type_of(v);
        return hash::address_hashed_q(type) ? type : hash::hash_value(v, case_);
    }

    const Cell* holder_;
    bool case_;
    std::unordered_multimap<uint32_t, int32_t> map_;
    std::vector<int32_t> blocks_;
};

// Appends the record at absolute index i of the block held by from (as
// many of its cells as there are) to the result; answers the absolute
// index of its first cell in the result.
int32_t append_record(Cell* result, const Cell* from, int32_t i, int32_t record) {
    Node to = result->w2;
    int32_t at = total_of(memory::buffer_of(to));
    int32_t count = std::min(record, total_of(memory::buffer_of(from->w2)) - i);
    SeriesBuffer* t = memory::buffer_of(to);
    if (int64_t(t->tail) + int64_t(count) * 16 > t->size)
        t = memory::expand_series(to, std::max<int64_t>(2 * (int64_t(at) + count) * 16, 16));
    std::memcpy(memory::cells_for_write(t) + at, cell_at(memory::buffer_of(from->w2), i), size_t(count) * 16);
    t->tail += count * 16;
    return at;
}

// Scans the records of from; each record whose first value passes keep()
// and is not yet in the result is appended to it.
template <class Keep>
void gather(Cell* result, RecordIndex& seen, const Cell* from, int32_t record, Keep keep) {
    Cell v;
    for (int64_t i = clamped_head(from); read_cell(from->w2, int32_t(i), &v); i += record) {
        if (!keep(&v) || seen.contains(&v)) continue;
        seen.add(append_record(result, from, int32_t(i), record));
    }
}

}  // namespace

void do_set_op(bool case_q, Cell* skip, int32_t op) {
    Cell* first = stack::arguments;
    Cell* second = first + 1;
    int32_t record = series::record_size(skip, first);
    // A hash! input (the first, or the second but for unique) makes the result a hash!.
    bool hashed = type_of(first) == TYPE_HASH || (op != SET_UNIQUE && type_of(second) == TYPE_HASH);

    int32_t length1 = std::max(total_of(buffer_of(first)) - clamped_head(first), 0);
    int32_t length2 = op == SET_UNIQUE ? 0 : std::max(total_of(buffer_of(second)) - clamped_head(second), 0);
    Cell* saved_top = stack::top;
    Cell* result = push_only_star(length1 + (op == SET_UNION ? length2 : 0));
    RecordIndex seen(result, case_q);
    auto all = [](const Cell*) { return true; };

    switch (op) {
        case SET_UNIQUE:
            gather(result, seen, first, record, all);
            break;
        case SET_UNION:
            gather(result, seen, first, record, all);
            gather(result, seen, second, record, all);
            break;
        case SET_INTERSECT: case SET_EXCLUDE: case SET_DIFFERENCE: {
            RecordIndex in_second(second, case_q);
            in_second.add_records(record);
            bool wanted = op == SET_INTERSECT;
            gather(result, seen, first, record, [&](const Cell* v) { return in_second.contains(v) == wanted; });
            if (op == SET_DIFFERENCE) {
                RecordIndex in_first(first, case_q);
                in_first.add_records(record);
                gather(result, seen, second, record, [&](const Cell* v) { return !in_first.contains(v); });
            }
            break;
        }
        default: fire(ErrorCategory::internal, "not-done");
    }
    Cell made = *result;
    stack::top = saved_top;
    copy_cell(&made, first);
    if (hashed) hash::make_over(first);
}

}  // namespace zuv::block
