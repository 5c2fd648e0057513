// series!: navigation and editing written once for every element size.
#include "runtime/datatypes/series.hpp"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "evaluator/random.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/sort.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash.hpp"
#include "runtime/ownership.hpp"
#include "runtime/words.hpp"

namespace zuv::series {

namespace {

// ---- positions ----

int32_t shift_of(const SeriesBuffer* s) { return unit_shift(memory::unit_of(s)); }
int32_t total_of(const SeriesBuffer* s) { return memory::used_bytes(s) >> shift_of(s); }
// Address of the element at absolute index i (from the first used element).
const uint8_t* element(const SeriesBuffer* s, int64_t i) { return memory::head_of(s) + (i << shift_of(s)); }
// The same for a change of the series (see memory::changing).
uint8_t* element_to_change(SeriesBuffer* s, int64_t i) {
    memory::changing(s);
    return memory::head_of(s) + (i << shift_of(s));
}

int32_t clamp32(int64_t v, int32_t low, int32_t high) { return int32_t(std::clamp<int64_t>(v, low, high)); }

bool cell_series_q(uint32_t type) { return any_block_q(type) || (type & TYPE_MASK) == TYPE_MAP; }
bool same_series_q(const Cell* a, const Cell* b) { return type_of(a) == type_of(b) && a->w2 == b->w2; }

// ---- errors ----

// script out-of-range naming the index, raised as a status (see raised).
std::nullptr_t raise_out_of_range_int(int32_t n) {
    Cell c;
    integer::make_at(cell::begin(&c), n);
    return raised(ErrorCategory::script, "out-of-range", &c);
}

// Tells an owned series' owner of a change (ownership.hpp): true when an
// owner was told. The handler runs user code that may change the series:
// callers re-read positions and buffers after it.
bool notify(const Cell* value, const Cell& action, const Cell* new_value, int32_t index, int32_t part) {
    if (!(buffer_of(value)->flags & SERIES_OWNED)) return false;
    return ownership::check(value, &action, new_value, index, part);
}

// Removes count elements at absolute index start, moving the rest down.
void close_gap(SeriesBuffer* s, int32_t start, int32_t count) {
    int32_t total = total_of(s);
    if (start >= total || count <= 0) return;
    int32_t shift = shift_of(s);
    uint8_t* at = element_to_change(s, start);
    if (int64_t(start) + count >= total) {
        s->tail = s->head + (start << shift);
        return;
    }
    uint8_t* from = at + (int64_t(count) << shift);
    std::memmove(at, from, size_t(memory::tail_of(s) - from));
    s->tail -= count << shift;
}

// Makes room for bytes more at the tail, growing to twice the needed size.
SeriesBuffer* ensure_room(Node n, int64_t bytes) {
    SeriesBuffer* s = memory::buffer_of(n);
    int64_t need = int64_t(s->tail) + bytes;
    if (need > s->size) s = memory::expand_series(n, 2 * (int64_t(memory::used_bytes(s)) + bytes));
    return s;
}

// Exchanges two non-overlapping runs of n bytes.
void swap_bytes(uint8_t* a, uint8_t* b, size_t n, uint8_t* temp) {
    std::memcpy(temp, a, n);
    std::memcpy(a, b, n);
    std::memcpy(b, temp, n);
}

// A uniform integer in 1..limit. Draws never allocate: buffers stay put.
int32_t draw(int32_t limit, bool secure) { return zuv::random::uniform_int(secure, limit); }

Cell* make_char_at(Cell* c, uint32_t cp) {
    cell::begin(c)->w2 = cp;
    return cell::set_type(c, TYPE_CHAR);
}

// The element at absolute index p, as pick and random/only give it. A cell
// series answers the cell itself; other kinds are written into out.
const Cell* element_value(Cell* value, int32_t p, Cell* out) {
    uint32_t type = type_of(value);
    SeriesBuffer* s = buffer_of(value);
    if (cell_series_q(type)) return reinterpret_cast<const Cell*>(element(s, p));
    if (type == TYPE_VECTOR) return vector::element_value(element(s, p), int32_t(memory::unit_of(s)), value->w3, out);
    if (type == TYPE_BINARY) return integer::make_at(cell::begin(out), *element(s, p));
    return make_char_at(out, string::get_char(element(s, p), memory::unit_of(s)));
}

// Pick and poke's absolute position for a 1-based index (negative: back from
// the head), or -1 when out of range.
int64_t pick_position(const Cell* value, int32_t index) {
    if (index == 0) return -1;
    int64_t p = int64_t(head_index(value)) + index + (index > 0 ? -1 : 0);
    if (p < 0 || p >= total_length(value)) return -1;
    return p;
}

}  // namespace

void fire_refine_arg(const Cell& refinement, const Cell* arg) {
    fire(ErrorCategory::script, "invalid-refine-arg", &refinement, arg);
}

int64_t part_count(const Cell* value, const Cell* part, int64_t head) {
    if (type_of(part) == TYPE_INTEGER) return integer::get_value(part);
    if (!same_series_q(value, part))
        return raise(ErrorCategory::script, "invalid-refine-arg", &refinements::part, part), PART_RAISED;
    return int64_t(head_index(part)) - head;
}

int32_t record_size(const Cell* skip, const Cell* first) {
    if (!given(skip, first)) return 1;
    if (type_of(skip) != TYPE_INTEGER || integer::get_value(skip) < 1) fire_refine_arg(refinements::skip, skip);
    return integer::get_value(skip);
}

int64_t find_step(const Cell* skip, const Cell* series) {
    if (!given(skip, series)) return 1;
    if (type_of(skip) != TYPE_INTEGER) fire_refine_arg(refinements::skip, skip);
    int64_t step = integer::get_value(skip);
    if (step < 1) fire(ErrorCategory::script, "out-of-range", skip);
    return step;
}

SortOptions sort_options(const Cell* series, int64_t n, const Cell* skip, const Cell* comparator, bool all,
                         bool reverse) {
    int64_t s = 1;
    if (given(skip, series)) {
        if (type_of(skip) != TYPE_INTEGER) fire_refine_arg(refinements::skip, skip);
        s = integer::get_value(skip);
        if (s < 1 || (n > 0 && (n < s || n % s != 0))) fire_refine_arg(refinements::skip, skip);
    } else if (all) {
        fire(ErrorCategory::script, "bad-refines");
    }
    uint32_t flags = reverse ? SORT_REVERSE : 0;
    if (all) flags |= SORT_ALL | uint32_t(s) << SORT_FIELD_SHIFT;

    const Cell* function = nullptr;
    if (given(comparator, series)) {
        switch (type_of(comparator)) {
            case TYPE_FUNCTION: function = comparator; break;
            case TYPE_INTEGER: {
                if (!given(skip, series) || all) fire(ErrorCategory::script, "bad-refines");
                int32_t k = integer::get_value(comparator);
                if (k < 1 || k > s) fire(ErrorCategory::script, "out-of-range", comparator);
                flags |= uint32_t(k - 1) << SORT_FIELD_SHIFT;
                break;
            }
            default: fire_refine_arg(refinements::compare, comparator);
        }
    }
    return {s, flags, function};
}

int32_t comparator_order(const Cell* answer) {
    switch (type_of(answer)) {
        case TYPE_LOGIC: return answer->w1 ? 1 : -1;
        case TYPE_INTEGER: {
            int32_t n = integer::get_value(answer);
            return n == INT32_MIN ? INT32_MAX : -n;
        }
        case TYPE_FLOAT: {
            double d = cell::get_float(answer);
            return d > 0.0 ? -1 : d < 0.0 ? 1 : 0;  // NaN gives 0
        }
        case TYPE_NONE: return -1;
        default: return 1;
    }
}

bool any_block_q(uint32_t type) {
    switch (type & TYPE_MASK) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH: return true;
        default: return false;
    }
}

bool series_type_q(uint32_t type) {
    switch (type & TYPE_MASK) {
        case TYPE_BINARY: case TYPE_VECTOR: case TYPE_IMAGE: return true;
        default: return any_block_q(type) || string::any_string_q(type);
    }
}

// ---- support functions ----

bool at_tail_q(const Cell* v) {
    SeriesBuffer* s = buffer_of(v);
    return int64_t(head_index(v)) >= total_of(s);
}

int32_t total_length(const Cell* v) { return total_of(buffer_of(v)); }

int32_t get_length(Cell* v, bool from_start) {
    int32_t total = total_length(v);
    int32_t h = head_index(v);
    if (h > total) {
        set_head(v, total);
        return 0;
    }
    if (from_start || h < 0) return total;
    return total - h;
}

bool skip_ahead(Cell* v, int32_t n) {
    int32_t total = total_length(v);
    int64_t target = int64_t(head_index(v)) + n;
    if (target <= total) set_head(v, int32_t(target));
    return target >= total;
}

int32_t get_position(const Cell* v, const Cell* n, int32_t base) {
    if (type_of(n) != TYPE_INTEGER) fire(ErrorCategory::script, "invalid-arg", n);
    int64_t i = integer::get_value(n);
    if (base == 1 && i <= 0) base = 0;
    return clamp32(int64_t(head_index(v)) + i - base, 0, total_length(v));
}

// ---- navigation ----

Cell* head(Cell* v) {
    set_head(v, 0);
    return v;
}

Cell* tail(Cell* v) {
    set_head(v, total_length(v));
    return v;
}

Cell* next(Cell* v) {
    if (head_index(v) < total_length(v)) set_head(v, head_index(v) + 1);
    return v;
}

Cell* back(Cell* v) {
    if (head_index(v) > 0) set_head(v, head_index(v) - 1);
    return v;
}

Cell* at(Cell* v, const Cell* n) {
    set_head(v, get_position(v, n, 1));
    return v;
}

Cell* skip(Cell* v, const Cell* n) {
    set_head(v, get_position(v, n, 0));
    return v;
}

Cell* head_q(Cell* v) { return logic::make_at(v, head_index(v) == 0); }

Cell* tail_q(Cell* v) { return logic::make_at(v, at_tail_q(v)); }

Cell* index_q(Cell* v) { return integer::make_at(cell::begin(v), head_index(v) + 1); }

// ---- action slots ----

int32_t length_q(Cell* value) { return get_length(value, false); }

const Cell* pick(Cell* value, int32_t index, Cell*) {
    int64_t p = pick_position(value, index);
    if (p < 0) return none::make_at(value);
    return element_value(value, int32_t(p), value);
}

Cell* poke(Cell* value, int32_t index, Cell* data, Cell*) {
    if (type_of(value) == TYPE_BLOCK) {
        // The everyday poke: a cell into a block that no owner watches and
        // no hash table indexes, the index in range.
        SeriesBuffer* s = buffer_of(value);
        int64_t p = int64_t(head_index(value)) + index + (index > 0 ? -1 : 0);
        if (index != 0 && p >= 0 && p < (memory::used_bytes(s) >> 4) && !(s->flags & SERIES_OWNED)) {
            copy_cell(data, memory::cells_for_write(s) + p);
            return data;
        }
    }
    int64_t p = pick_position(value, index);
    if (p < 0) return raise_out_of_range_int(index);
    uint32_t type = type_of(value);
    if (type == TYPE_VECTOR) vector::check_kind(value, data);
    bool owned = notify(value, words::poke, data, int32_t(p), 1);
    if (owned && (p = pick_position(value, index)) < 0) return raise_out_of_range_int(index);
    SeriesBuffer* s = buffer_of(value);
    if (cell_series_q(type)) {
        copy_cell(data, reinterpret_cast<Cell*>(element_to_change(s, p)));
        if (Node table = hash::table_of_value(value)) hash::cells_changed(table, int32_t(p), 1);
    } else if (type == TYPE_VECTOR) {
        vector::store_element(element_to_change(s, p), int32_t(memory::unit_of(s)), data);
    } else if (type == TYPE_BINARY) {
        uint32_t d = type_of(data);
        if (d != TYPE_INTEGER && d != TYPE_CHAR) return raised(ErrorCategory::script, "invalid-arg", data);
        *element_to_change(s, p) = uint8_t(data->w2);
    } else {
        if (type_of(data) != TYPE_CHAR) return raised(ErrorCategory::script, "invalid-arg", data);
        string::overwrite_char(s, int32_t(p), data->w2);
    }
    if (owned) notify(value, words::poked, data, int32_t(p), 1);
    return data;
}

Cell* clear(Cell* value) {
    int32_t n = get_length(value, false);
    if (n < 1) return value;
    bool owned = notify(value, words::clear, nullptr, head_index(value), n);
    SeriesBuffer* s = buffer_of(value);
    int32_t old_total = total_of(s);
    int32_t from = std::min(head_index(value), old_total);
    s->tail = int32_t(element_to_change(s, from) - s->data());
    if (Node table = hash::table_of_value(value)) hash::cells_removed(table, from, old_total - from, old_total);
    if (owned) notify(value, words::cleared, nullptr, head_index(value), 0);
    return value;
}

Cell* remove(Cell* value, Cell* part, Cell* key) {
    int64_t count = given(part, value) ? part_count(value, part, head_index(value)) : 1;
    if (count == PART_RAISED) return nullptr;
    if (count < 1) return value;
    if (given(key, value)) {
        // The key is found as find/case finds it; it goes with the element after it.
        auto find = get_slot<Act::find>(type_of(value));
        if (!find) fire_not_done();
        Cell* saved_top = stack::top;
        Cell* series = stack::push(value);
        Cell* wanted = stack::push(key);
        Cell found = *find(series, wanted, nullptr, false, true, false, false, nullptr, nullptr, false, false,
                           false, false);
        stack::top = saved_top;
        if (type_of(&found) == TYPE_NONE) return none::make_at(value);
        value->w1 = found.w1;
        count += 1;
    }
    int32_t start = head_index(value);
    if (start < 0 || start >= total_length(value)) return value;
    int32_t c = clamp32(count, 0, INT32_MAX);
    bool owned = notify(value, words::remove, nullptr, start, c);
    int32_t old_total = total_length(value);
    close_gap(buffer_of(value), start, c);
    if (Node table = hash::table_of_value(value))
        hash::cells_removed(table, start, old_total - total_length(value), old_total);
    if (owned) notify(value, words::removed, nullptr, start, 0);
    return value;
}

Cell* reverse(Cell* value, Cell* part, Cell* skip) {
    if (at_tail_q(value)) return value;
    int32_t length = get_length(value, false);
    // A /part count reaching past the tail is cut at the tail.
    int64_t count = given(part, value) ? std::min<int64_t>(part_count(value, part, head_index(value)), length) : length;
    if (count == PART_RAISED) return nullptr;
    if (count < 1) return value;
    int64_t k = 1;
    if (given(skip, value)) {
        if (type_of(skip) != TYPE_INTEGER) fire_refine_arg(refinements::skip, skip);
        k = integer::get_value(skip);
        if (k == count) return value;
        if (k < 1) fire(ErrorCategory::script, "out-of-range", skip);
        if (count < k || count % k != 0) fire_refine_arg(refinements::skip, skip);
    }
    int32_t head = head_index(value);
    bool owned = notify(value, words::reverse, nullptr, head, int32_t(count));
    if (owned) {
        // The owner may have shortened the series: whole records that remain.
        int64_t left = get_length(value, false);
        if (count > left) count = left - left % k;
    }

    SeriesBuffer* s = buffer_of(value);
    size_t record = size_t(k) << shift_of(s);
    std::vector<uint8_t> temp(record);  // outside the series frames: nothing moves
    if (count >= k) {
        uint8_t* front = element_to_change(s, head_index(value));
        uint8_t* back = front + ((count - k) << shift_of(s));
        for (; front < back; front += record, back -= record) swap_bytes(front, back, record, temp.data());
        if (Node table = hash::table_of_value(value)) hash::cells_changed(table, head_index(value), int32_t(count));
    }
    if (owned) notify(value, words::reversed, nullptr, head, int32_t(count));
    return value;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    int32_t total = total_length(value);
    int64_t start = head_index(value);
    int64_t count = start > total ? 0 : total - start;
    if (given(part, value)) {
        if (type_of(part) == TYPE_PAIR) {
            int64_t x = int32_t(part->w2), y = int32_t(part->w3);
            start = std::max<int64_t>(0, start + x + (x > 0 ? -1 : 0));
            count = y < x ? 0 : y - x;
        } else {
            count = part_count(value, part, head_index(value));
            if (count == PART_RAISED) return nullptr;
        }
    }
    if (count < 0) {
        count = -count;
        if (start - count < 0) {
            count = start;
            start = 0;
        } else {
            start -= count;
        }
    }
    if (start >= total) count = 0;
    count = std::min<int64_t>(count, std::max<int64_t>(total - start, 0));

    Cell source = *value;  // the value may lie in a buffer that the copy moves
    Node node = cell::copy_part(source.w2, clamp32(start, 0, total), int32_t(count));
    cell::begin(result);
    result->w2 = node;
    if (type_of(&source) == TYPE_VECTOR) result->w3 = source.w3;
    result->header = (source.header & FLAG_NEW_LINE) | TYPE_UNSET;
    return cell::set_type(result, type_of(&source));
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
    uint32_t to_type = type_of(target);
    if (!series_type_q(to_type)) {
        // TODO: the called function's word and its second argument's word
        // join the datatype once the call stack exists.
        fire_with_datatype("expect-arg", to_type);
    }
    uint32_t from_type = type_of(origin);
    if (from_type == TYPE_IMAGE || to_type == TYPE_IMAGE) {
        // Pixels live in the image backend, not in a series buffer.
        Cell a, b;
        datatype::make_at(&a, int32_t(from_type));
        datatype::make_at(&b, int32_t(to_type));
        fire(ErrorCategory::script, "move-bad", &a, &b);
    }
    if (at_tail_q(origin)) return target;
    int32_t length = get_length(origin, false);
    int64_t count = 1;
    if (given(part, origin)) {
        if (type_of(part) != TYPE_INTEGER) fire_refine_arg(refinements::part, part);
        count = integer::get_value(part);
        if (count < 1) return target;
    }
    int32_t c = clamp32(count, 1, length);
    int32_t o = head_index(origin);
    if (origin->w2 != target->w2) {
        bool from_cells = cell_series_q(from_type), to_cells = cell_series_q(to_type);
        uint32_t unit = memory::unit_of(buffer_of(origin));
        bool fixed_width = from_type == TYPE_BINARY || from_type == TYPE_VECTOR || to_type == TYPE_BINARY ||
                           to_type == TYPE_VECTOR;
        if (from_cells != to_cells || (fixed_width && unit != memory::unit_of(buffer_of(target)))) {
            Cell a, b;
            datatype::make_at(&a, int32_t(from_type));
            datatype::make_at(&b, int32_t(to_type));
            fire(ErrorCategory::script, "move-bad", &a, &b);
        }
    }

    // The owners are told before and after; their handlers may change both
    // series, so the stretch is measured again after the first call.
    bool owned_from = notify(origin, words::move, target, o, c);
    bool owned_to = origin->w2 != target->w2 && notify(target, words::move, origin, head_index(target), c);
    auto moved = [&] {
        // A hash! on either side has its positions renumbered from its block.
        Node from_table = hash::table_of_value(origin), to_table = hash::table_of_value(target);
        if (from_table) hash::rebuild_all(from_table);
        if (to_table && to_table != from_table) hash::rebuild_all(to_table);
        if (owned_from) notify(origin, words::moved, target, o, c);
        if (owned_to) notify(target, words::moved, origin, head_index(target), c);
        return target;
    };
    if (owned_from || owned_to) {
        if (at_tail_q(origin)) return moved();
        c = std::min(c, get_length(origin, false));
        o = head_index(origin);
    }

    if (origin->w2 != target->w2) {
        SeriesBuffer* from = buffer_of(origin);
        SeriesBuffer* to = buffer_of(target);
        uint32_t unit = memory::unit_of(from);
        if (unit != memory::unit_of(to)) {
            string::move_part(origin, target, c << shift_of(from));
            return moved();
        }
        Node to_node = target->w2, from_node = origin->w2;
        int32_t t = std::min(std::max(head_index(target), 0), total_of(to));
        int32_t shift = shift_of(from);
        to = ensure_room(to_node, int64_t(c) << shift);  // may move both buffers
        from = memory::buffer_of(from_node);
        uint8_t* at = element_to_change(to, t);
        std::memmove(at + (c << shift), at, size_t(memory::tail_of(to) - at));
        std::memcpy(at, element(from, o), size_t(c) << shift);
        to->tail += c << shift;
        close_gap(from, o, c);
        return moved();
    }

    // Within one buffer: the stretch travels through a temporary copy.
    SeriesBuffer* s = buffer_of(origin);
    int32_t total = total_of(s);
    int32_t t = std::min(head_index(target), total);
    if (t == o) return moved();
    bool at_tail = t >= total;
    if (t > o && !at_tail && total - t < c) return moved();
    int32_t shift = shift_of(s);
    std::vector<uint8_t> stretch(size_t(c) << shift);
    std::memcpy(stretch.data(), element(s, o), stretch.size());
    memory::changing(s);
    if (t > o) {
        int32_t end = at_tail ? total : t + 1;  // the stretch lands just after the target's element
        if (end <= o + c) return moved();
        std::memmove(element_to_change(s, o), element(s, o + c), size_t(end - o - c) << shift);
        std::memcpy(element_to_change(s, end - c), stretch.data(), stretch.size());
    } else {
        std::memmove(element_to_change(s, t + c), element(s, t), size_t(o - t) << shift);
        std::memcpy(element_to_change(s, t), stretch.data(), stretch.size());
    }
    return moved();
}

Cell* random(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        // From what the series holds, not how it is stored: equal blocks and
        // strings seed alike, in every run.
        uint32_t type = type_of(value);
        if (any_block_q(type) || string::any_string_q(type)) {
            zuv::random::seed(hash::hash_content(value));
        } else {
            SeriesBuffer* s = buffer_of(value);
            const uint8_t* from = element(s, clamp32(head_index(value), 0, total_of(s)));
            zuv::random::seed(hash::hash_bytes(from, int32_t(memory::tail_of(s) - from)));
        }
        return unset::make_at(value);
    }
    int32_t n = get_length(value, false);
    if (only) {
        if (n < 1) return none::make_at(value);
        int32_t k = draw(n, secure);
        const Cell* picked = element_value(value, head_index(value) + k - 1, value);
        return copy_cell(picked, value);
    }
    int32_t h = head_index(value);
    bool owned = notify(value, words::random, nullptr, h, n);
    if (owned) n = get_length(value, false);  // the owner may have changed the series
    for (int32_t r = n; r >= 1; r--, h++) {
        int32_t k = draw(r, secure);
        if (k == 1) continue;
        SeriesBuffer* s = buffer_of(value);
        size_t unit = memory::unit_of(s);
        uint8_t temp[16];
        swap_bytes(element_to_change(s, h), element_to_change(s, int64_t(h) + k - 1), unit, temp);
    }
    if (owned) notify(value, words::randomized, nullptr, head_index(value), n);
    return value;
}

// Only the field `owned` is known: the value's owner record, or none.
Cell* reflect(Cell* value, int32_t field) {
    if (field < 1 || field > symbol::count() || symbol::resolve(field) != sym::owned) fire_not_done();
    Cell v = *value;
    return ownership::reflect_owned(&v, value);
}

// Only the field `owned` acts: none unbinds the value from its owner, a block
// [object word] binds it. Any other field changes nothing.
Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    if (!word::any_word_q(type_of(field)) || symbol::resolve(int32_t(field->w2)) != sym::owned) return value;
    ownership::modify_owned(target, value);
    return value;
}

// ---- take ----

TakeRange take_range(Cell* value, Cell* part, bool last) {
    TakeRange r{false, given(part, value), 0, 0};
    int32_t n = get_length(value, false);
    int32_t h = head_index(value);
    if (n < 1) {
        r.empty_series = true;
        return r;
    }
    int64_t d = 1;
    if (r.part) {
        if (type_of(part) == TYPE_INTEGER) {
            d = integer::get_value(part);
        } else {
            if (!same_series_q(value, part)) fire_refine_arg(refinements::part, part);
            int32_t p = std::min(head_index(part), total_length(value));
            d = last ? total_length(value) - p : int64_t(p) - h;
        }
    }
    if (d > 0) {
        r.count = int32_t(std::min<int64_t>(d, n));
        r.start = last ? h + n - r.count : h;
    } else if (d < 0 && !last) {
        // A negative count takes the elements just before the head.
        r.count = int32_t(std::min<int64_t>(-d, h));
        r.start = h - r.count;
    }
    return r;
}

void copy_range(const Cell* value, int32_t start, int32_t count, Cell* result) {
    Cell source = *value;
    Node node = cell::copy_part(source.w2, start, count);
    cell::begin(result)->w2 = node;
    if (type_of(&source) == TYPE_VECTOR) result->w3 = source.w3;  // the element type
    cell::set_type(result, type_of(&source));
}

void remove_range(const Cell* value, int32_t start, int32_t count) { close_gap(buffer_of(value), start, count); }

Cell* take(Cell* value, Cell* part, bool, bool last) {
    TakeRange r = take_range(value, part, last);
    if (r.empty_series) return none::make_at(value);
    Cell source = *value;
    // The result replaces the value in its cell, the call's result slot.
    if (r.part) {
        copy_range(&source, r.start, r.count, value);
    } else {
        Cell taken;
        copy_cell(element_value(&source, r.start, &taken), &taken);
        copy_cell(&taken, value);
    }
    remove_range(&source, r.start, r.count);
    return value;
}

// ---- registration ----

namespace {

// The navigation slots read their arguments from the data stack: the series
// is the call's first argument (and its result cell), the offset the second.
void at_slot() { at(stack::arguments, stack::arguments + 1); }
void back_slot() { back(stack::arguments); }
void head_slot() { head(stack::arguments); }
void head_q_slot() { head_q(stack::arguments); }
void index_q_slot() { index_q(stack::arguments); }
void next_slot() { next(stack::arguments); }
void skip_slot() { skip(stack::arguments, stack::arguments + 1); }
void tail_slot() { tail(stack::arguments); }
void tail_q_slot() { tail_q(stack::arguments); }

constexpr SlotEntry row[] = {
    NONE,                                   // 1 make
    slot<Act::random, &series::random>,     // 2
    slot<Act::reflect, &series::reflect>,   // 3
    NONE, NONE, NONE, NONE, NONE, NONE,     // 4-9 to form mold eval-path (8) compare
    NONE, NONE, NONE, NONE, NONE,           // 10-14
    NONE, NONE, NONE, NONE, NONE,           // 15-19
    NONE, NONE, NONE, NONE, NONE,           // 20-24
    NONE,                                   // 25 append
    slot<Act::at, &at_slot>,                // 26
    slot<Act::back, &back_slot>,            // 27
    NONE,                                   // 28 change
    slot<Act::clear, &series::clear>,       // 29
    slot<Act::copy, &series::copy>,         // 30
    NONE,                                   // 31 find
    slot<Act::head, &head_slot>,            // 32
    slot<Act::head_q, &head_q_slot>,        // 33
    slot<Act::index_q, &index_q_slot>,      // 34
    NONE,                                   // 35 insert
    slot<Act::length_q, &series::length_q>, // 36
    slot<Act::move, &series::move>,         // 37
    slot<Act::next, &next_slot>,            // 38
    slot<Act::pick, &series::pick>,         // 39
    slot<Act::poke, &series::poke>,         // 40
    NONE,                                   // 41 put
    slot<Act::remove, &series::remove>,     // 42
    slot<Act::reverse, &series::reverse>,   // 43
    NONE, NONE,                             // 44 select, 45 sort
    slot<Act::skip, &skip_slot>,            // 46
    NONE,                                   // 47 swap
    slot<Act::tail, &tail_slot>,            // 48
    slot<Act::tail_q, &tail_q_slot>,        // 49
    slot<Act::take, &series::take>,         // 50
    NONE, NONE, NONE, NONE,                 // 51-54
    slot<Act::modify, &series::modify>,     // 55
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 56-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_SERIES, 0, "series!", row); }

}  // namespace zuv::series
