// block!: find, select and put.
//
// A search reads the block's cells by (node, index) and compares copies of
// them through the comparison entry, so nothing it holds goes stale if a
// comparison allocates.
#include <algorithm>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash.hpp"
#include "runtime/words.hpp"

namespace zuv::block {

using namespace detail;

namespace {

struct Search {
    enum Mode { by_value, by_type, by_typeset, by_sequence } mode = by_value;
    int32_t op = COMP_FIND;
    int32_t length = 1;  // cells a match covers: the sequence's count, else 1
    Node key_node = 0;   // a sequence key's cells from key_head
    int32_t key_head = 0;
};

struct Found {
    int32_t index = -1;  // absolute index of the match, -1 when none
    int32_t tail = -1;   // the position after it (find/tail)
    int32_t length = 1;
};

// Does a match start at absolute index i of the block behind node, and end
// at or before index end?
bool matches_at(Node node, int32_t i, int32_t end, const Cell* key, const Search& s) {
    Cell item;
    if (i < 0 || int64_t(i) + s.length > end || !read_cell(node, i, &item)) return false;
    switch (s.mode) {
        case Search::by_type: return type_of(&item) == key->w1;
        case Search::by_typeset: return typeset_has(key, type_of(&item));
        case Search::by_value: {
            Cell k = *key;
            return actions::compare_star(&item, &k, s.op);
        }
        case Search::by_sequence:
            for (int32_t t = 0; t < s.length; t++) {
                Cell k;
                if (t > 0 && !read_cell(node, i + t, &item)) return false;
                if (!read_cell(s.key_node, s.key_head + t, &k)) return false;
                if (!actions::compare_star(&item, &k, s.op)) return false;
            }
            return true;
    }
    return false;
}

// The search of find, select and put (see find for the refinements).
Found search(const Cell* series, const Cell* key, const Cell* part, bool only, bool case_q, bool same,
             const Cell* skip, bool last, bool reverse, bool match) {
    Found found;
    Node node = series->w2;
    int32_t total = total_of(memory::buffer_of(node));
    int32_t head = clamped_head(series);
    bool backward = last || reverse;
    // A forward search from the tail finds nothing; a backward one looks
    // before the head, so it may start there.
    if (!backward && int32_t(series->w1) >= total) return found;

    int64_t step = series::find_step(skip, series);

    bool limited = series::given(part, series);
    int64_t limit = 0;  // with /part, the last cell searched
    if (limited) {
        if (type_of(part) == TYPE_INTEGER) {
            int32_t n = integer::get_value(part);
            if (n < 1) return found;
            limit = int64_t(head) + n - 1;
        } else {
            if (type_of(part) != type_of(series) || part->w2 != node) fire_refine_arg(refinements::part, part);
            limit = std::max(int32_t(part->w1), 0);
        }
        if (limit >= total) limit = total - 1;
    }

    Search s;
    s.op = same ? COMP_SAME : case_q ? COMP_STRICT_EQUAL : COMP_FIND;
    uint32_t key_type = type_of(key);
    if (!only && key_type == TYPE_DATATYPE) {
        s.mode = Search::by_type;
    } else if (!only && key_type == TYPE_TYPESET) {
        s.mode = Search::by_typeset;
    } else if (!only && series::any_block_q(key_type)) {
        int32_t c = std::max(total_of(memory::buffer_of(key->w2)) - std::max(int32_t(key->w1), 0), 0);
        if (c > 0) {  // an empty key is compared as one value
            s.mode = Search::by_sequence;
            s.length = c;
            s.key_node = key->w2;
            s.key_head = std::max(int32_t(key->w1), 0);
        }
    }

    // A hash! answers a search for one value through its table. A backward
    // search with a /skip or /part steps from its own end point: the scan
    // below serves it.
    uint32_t stored_type = type_of(series);
    bool by_table = stored_type == TYPE_HASH && series->w3 != 0 && s.mode == Search::by_value && !match &&
                    !(key_type == TYPE_OBJECT && !same) && !(backward && (step != 1 || limited)) &&
                    !(series::any_block_q(key_type) && !(only && same));
    if (by_table) {
        Cell k = *key;
        int32_t at = hash::find_position(series->w3, &k, last ? 0 : head, int32_t(std::min<int64_t>(step, INT32_MAX)), s.op,
                                         last, reverse && !last);
        if (at < 0 || (limited && at > limit)) return found;
        found.index = at;
        found.tail = int32_t(std::min<int64_t>(at + (backward ? 1 : step), total));
        return found;
    }

    int64_t i, stop;
    if (!backward) {
        i = head;
        int64_t end = limited ? limit + 1 : total;  // a match must fit before it
        stop = end - s.length;                         // last possible start
        if (s.mode == Search::by_value && key_type == TYPE_INTEGER && step == 1 && !match) {
            // An integer key: an integer cell matches by value under every
            // comparison, decided here; any other cell asks the entry.
            const int32_t wanted = integer::get_value(key);
            Cell item;
            for (; i <= stop && read_cell(node, int32_t(i), &item); i++) {
                if (type_of(&item) == TYPE_INTEGER ? integer::get_value(&item) == wanted
                                                   : matches_at(node, int32_t(i), int32_t(end), key, s))
                    break;
            }
            if (i <= stop && i >= total_of(memory::buffer_of(node))) i = stop + 1;  // the block shrank
        } else {
            for (; i <= stop; i += step) {
                if (matches_at(node, int32_t(i), int32_t(end), key, s)) break;
                if (match) return found;
            }
        }
        if (i > stop) return found;
        found.tail = int32_t(std::min<int64_t>(i + (s.mode == Search::by_sequence ? s.length : step), total));
    } else {
        // The last start a match may have; with /skip the scan goes back over
        // the same record starts as a forward scan, those a whole number of
        // steps from the head.
        int64_t latest = limited ? limit : last ? int64_t(total) - s.length : int64_t(head) - s.length;
        int64_t records = latest - head;
        records = records >= 0 ? records / step : -((-records + step - 1) / step);
        i = head + records * step;
        for (; i >= 0; i -= step) {
            if (matches_at(node, int32_t(i), total, key, s)) break;
            if (match) return found;
        }
        if (i < 0) return found;
        found.tail = int32_t(std::min<int64_t>(i + s.length, total));
    }
    found.index = int32_t(i);
    found.length = s.length;
    return found;
}

}  // namespace

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool, Cell*, Cell* skip,
           bool last, bool reverse, bool tail, bool match) {
    // /any and /with have no effect on blocks.
    Found f = search(series, value, part, only, case_q, same, skip, last, reverse, match);
    Cell* result = stack::push(series);
    if (f.index < 0) return none::make_at(result);
    result->w1 = uint32_t(tail ? f.tail : f.index);
    return result;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool, Cell*, Cell* skip,
             bool last, bool reverse) {
    Found f = search(series, value, part, only, case_q, same, skip, last, reverse, false);
    Cell* result = stack::push(series);
    if (f.index < 0 || !read_cell(series->w2, f.index + f.length, result)) return none::make_at(result);
    return result;
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_q) {
    Found f = search(series, key, nullptr, false, case_q, false, nullptr, false, false, false);
    if (f.index < 0) {
        int32_t at = total_of(buffer_of(series));
        bool owned = notify(series, words::put, value, at, 2);
        append_cell(series, key);
        append_cell(series, value);
        if (owned) notify(series, words::put_ed, value, at, 2);
        return value;
    }
    int32_t target = f.index + f.length;
    bool owned = notify(series, words::put, value, target, 1);
    SeriesBuffer* s = buffer_of(series);  // the owner's handler may have changed the block
    if (target >= total_of(s)) {
        append_cell(series, value);
    } else {
        Cell old = *cell_at(s, target);
        Cell v = *value;
        if (!actions::compare_star(&old, &v, COMP_FIND)) {
            copy_cell(value, cell_for_write(buffer_of(series), target));
            if (Node table = hash::table_of_value(series)) hash::cells_changed(table, target, 1);
        }
    }
    if (owned) notify(series, words::put_ed, value, target, 1);
    return value;
}

}  // namespace zuv::block
