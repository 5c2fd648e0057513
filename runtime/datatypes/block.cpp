// block!: the support functions of cell series, making, converting,
// comparing and path access. Form and mold are in block_mold.cpp.
#include "runtime/datatypes/block.hpp"

#include <cstring>
#include <vector>

#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/hash_type.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/typeset.hpp"
#include "runtime/fire.hpp"
#include "runtime/hash.hpp"
#include "runtime/words.hpp"

namespace zuv::block {

using namespace detail;

namespace detail {

int32_t compare_values(Cell* a, Cell* b, int32_t op) {
    auto compare = get_slot<Act::compare>(type_of(a));
    return compare ? compare(a, b, op) : COMPARE_INCOMPARABLE;
}

}  // namespace detail

namespace {

// The runtime's constant none, handed out where a lookup finds nothing.
// It is rewritten at every hand-out, so a caller that writes into it harms
// no later one.
Cell* none_cell() {
    static Cell none_value;
    return none::make_at(&none_value);
}

// Makes room for n more cells at the tail: a full buffer grows to twice the
// size it needs (at least one cell).
SeriesBuffer* reserve_cells(Node node, int64_t n) {
    SeriesBuffer* s = memory::buffer_of(node);
    int64_t need = int64_t(s->tail) + n * 16;
    if (need > s->size) s = memory::expand_series(node, std::max<int64_t>(2 * (memory::used_bytes(s) + n * 16), 16));
    return s;
}

// Absolute index of the first cell from start equal to key under op, or -1.
// Each comparison may allocate (case folding of text never does, but a
// type's compare is free to), so the cells are read by (node, index).
int32_t find_index(const Cell* block, const Cell* key, int32_t start, int32_t op) {
    Node node = block->w2;
    Cell k = *key;
    // A hash! finds a value through its table; block-like and object keys
    // match by content, which the table (hashing their identity) cannot see.
    uint32_t key_type = type_of(&k);
    if (Node table = hash::table_of_value(block); table && !series::any_block_q(key_type) && key_type != TYPE_OBJECT)
        return hash::find_position(table, &k, std::max(start, 0), 1, op, false, false);
    Cell item;
    for (int32_t i = start; read_cell(node, i, &item); i++)
        if (compare_values(&k, &item, op) == 0) return i;
    return -1;
}

bool word_like_q(uint32_t type) {
    switch (type & TYPE_MASK) {
        case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: return true;
        default: return false;
    }
}

// The cell after absolute index i, or the constant none past the tail.
const Cell* cell_after(const Cell* block, int32_t i) {
    const SeriesBuffer* s = buffer_of(block);
    return i >= 0 && i + 1 < total_of(s) ? cell_at(s, i + 1) : none_cell();
}

// A new node holding copies of the cells of v from its head; an empty one
// gets room for one cell.
Node shallow_copy(const Cell* v) {
    Cell source = *v;
    int32_t h = clamped_head(&source);
    int32_t count = total_of(buffer_of(&source)) - h;
    if (count == 0) return memory::alloc_cells(1);
    return cell::copy_part(source.w2, h, count);
}

// What a deep walk replaces: the block-like values it walks into.
bool walked_q(uint32_t type, bool also_paths) {
    switch (type & TYPE_MASK) {
        case TYPE_BLOCK: return true;
        case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
            return also_paths;
        default: return false;
    }
}

// Replaces the nested values in the cells of node, a fresh copy, by copies
// of their own. Block-like values (walked_q) are copied shallowly into the
// copy at once, so that every new buffer is reachable from the result before
// the next allocation, and then walked in turn; with other_series every
// other series value is replaced by its copy/deep. The cycle stack holds the
// source nodes being walked: meeting one again is internal no-cycle.
void deep_copy_cells(Node node, bool also_paths, bool other_series) {
    Cell item;
    for (int32_t i = 0; read_cell(node, i, &item); i++) {
        uint32_t type = type_of(&item);
        if (walked_q(type, also_paths)) {
            cycles::refuse_cycle(item.w2);
            Node copy = shallow_copy(&item);
            Cell* slot = cell_for_write(memory::buffer_of(node), i);
            slot->w1 = 0;
            slot->w2 = copy;  // header kept: type and new-line marker
            CycleEntry entry(item.w2);
            deep_copy_cells(copy, also_paths, other_series);
        } else if (other_series && series::series_type_q(type)) {
            auto copy = get_slot<Act::copy>(type);
            if (!copy) continue;
            Cell copied;
            copy(&item, &copied, nullptr, true, nullptr);
            Cell* slot = cell_for_write(memory::buffer_of(node), i);
            uint32_t flags = slot->header & ~TYPE_MASK;
            *slot = copied;
            slot->header = (copied.header & TYPE_MASK) | flags;
        }
    }
}

// A deep walk over the copy in result of the block source.
void deep_copy(const Cell* source, Node copy, bool also_paths, bool other_series) {
    cycles::AcyclicEntry entry(source->w2);
    deep_copy_cells(copy, also_paths, other_series);
}

// Fills result as an empty value of the type with room for n cells.
Cell* make_empty(Cell* result, int64_t n, int32_t type) {
    Node node = memory::alloc_cells(std::max<int64_t>(n, 1));
    cell::begin(result)->w2 = node;
    result->header = uint32_t(type) & TYPE_MASK;
    return result;
}

// result := a block of the vector's element values from its head (the
// vector stays reachable through spec, a cell of the call).
Cell* from_vector(Cell* result, const Cell* spec, int32_t type) {
    const Cell source = *spec;
    make_empty(result, vector::zs_length_q(&source), TYPE_BLOCK);
    vector::to_block(&source, result);
    return cell::set_type(result, uint32_t(type));
}

// The room that an integer! or float! spec asks for, in cells.
int64_t size_spec(const Cell* spec) {
    if (type_of(spec) == TYPE_INTEGER) return integer::get_value(spec);
    if (integer::float_out_of_range_q(spec)) fire(ErrorCategory::script, "out-of-range", spec);
    return int64_t(float_::get(spec));  // truncated toward zero, in range
}

// The body reflection of an object! or map! spec, into result.
Cell* body_of(Cell* result, Cell* spec) {
    auto reflect = get_slot<Act::reflect>(type_of(spec));
    if (!reflect) fire_not_done();
    Cell s = *spec;
    return copy_cell(reflect(&s, sym::body), result);
}

}  // namespace

// ---- reading positions ----

int32_t zs_length_q(const Cell* v) { return total_of(buffer_of(v)) - int32_t(v->w1); }

const Cell* zs_head(Cell* v) {
    SeriesBuffer* s = buffer_of(v);
    int32_t total = total_of(s);
    if (int32_t(v->w1) > total) v->w1 = uint32_t(total);
    return cell_at(s, int32_t(v->w1));
}

const Cell* zs_tail(const Cell* v) { return memory::cells_tail(buffer_of(v)); }

bool zs_tail_q(const Cell* v) { return int32_t(v->w1) == total_of(buffer_of(v)); }

const Cell* zs_abs_at(const Cell* v, int32_t n) { return cell_at(buffer_of(v), n); }

Cell* write_at(const Cell* v, int32_t n) { return cell_for_write(buffer_of(v), n); }

bool advance(Cell* v) {
    int32_t total = total_of(buffer_of(v));
    if (int32_t(v->w1) < total) v->w1++;
    return int32_t(v->w1) >= total;
}

void clear_from_head(const Cell* v) {
    SeriesBuffer* s = buffer_of(v);
    if (int32_t(v->w1) >= total_of(s)) return;
    memory::changing(s);
    s->tail = s->head + (std::max(int32_t(v->w1), 0) << 4);
}

void truncate_at(const Cell* v, int32_t n) {
    SeriesBuffer* s = buffer_of(v);
    if (n < 0 || n > total_of(s)) return;
    memory::changing(s);
    s->tail = s->head + (n << 4);
}

// ---- building ----

Cell* append_cell(const Cell* block, const Cell* cell) {
    // Both are read before the buffer may move: the cell may lie in the same
    // block (append b first b) and so may the block value itself.
    Cell value = *cell;
    Cell target = *block;
    // With room at the tail, alloc_tail_cell is a few instructions in line.
    Cell* slot = copy_cell(&value, cell::alloc_tail_cell(target.w2));
    Node table = hash::table_of_value(&target);
    if (!table) return slot;
    int32_t at = total_of(buffer_of(&target)) - 1;
    hash::cells_inserted(table, at, 1, at);
    return cell_for_write(buffer_of(&target), at);
}

void append_block(const Cell* target, const Cell* source) {
    Node to = target->w2;
    Node from = source->w2;
    int32_t h = clamped_head(source);
    int32_t count = total_of(memory::buffer_of(from)) - h;
    if (count <= 0) return;
    Node table = hash::table_of_value(target);
    SeriesBuffer* t = reserve_cells(to, count);  // may move both buffers
    SeriesBuffer* s = memory::buffer_of(from);
    int32_t at = total_of(t);
    std::memmove(memory::cells_for_write(t) + at, cell_at(s, h), size_t(count) * 16);
    t->tail += count * 16;
    if (table) hash::cells_inserted(table, at, count, at);
}

Cell* insert_cell(Cell* value, const Cell* cell, bool advance, bool at_start) {
    Cell copy = *cell;
    Node node = value->w2;
    Node table = hash::table_of_value(value);
    int32_t at = at_start ? 0 : clamped_head(value);
    SeriesBuffer* s = reserve_cells(node, 1);
    int32_t old_total = total_of(s);
    Cell* slot = cell_for_write(s, at);
    std::memmove(slot + 1, slot, size_t(old_total - at) * 16);
    copy_cell(&copy, slot);
    s->tail += 16;
    if (advance) value->w1 = uint32_t(at + 1);
    if (table) {
        hash::cells_inserted(table, at, 1, old_total);
        slot = cell_for_write(buffer_of(value), at);
    }
    return slot;
}

void insert_block(Cell* target, const Cell* source) {
    // The source's cells are taken before anything moves: it may be the target.
    SeriesBuffer* s = buffer_of(source);
    int32_t h = clamped_head(source);
    std::vector<Cell> cells(cell_at(s, h), memory::cells_tail(s));
    if (cells.empty()) return;
    Node node = target->w2;
    int32_t at = clamped_head(target);
    int32_t count = int32_t(cells.size());
    SeriesBuffer* t = reserve_cells(node, count);
    int32_t old_total = total_of(t);
    Cell* slot = cell_for_write(t, at);
    std::memmove(slot + count, slot, size_t(old_total - at) * 16);
    std::memcpy(slot, cells.data(), size_t(count) * 16);
    t->tail += count * 16;
    target->w1 = uint32_t(at + count);
    if (Node table = hash::table_of_value(target)) hash::cells_inserted(table, at, count, old_total);
}

void insert_result() {
    Cell* target = stack::arguments - 1;
    insert_cell(target, stack::arguments, true, false);
}

Cell* append_arg() {
    append_cell(stack::arguments, stack::arguments + 1);
    return stack::arguments;
}

void append_result() { append_cell(stack::arguments - 1, stack::arguments); }

// ---- searching ----

const Cell* select_value(const Cell* block, const Cell* key) {
    return cell_after(block, find_index(block, key, clamped_head(block), COMP_FIND));
}

const Cell* select_word(const Cell* block, const Cell* word, bool strict) {
    int32_t symbol = int32_t(word->w2);
    if (!strict) symbol = symbol::resolve(symbol);
    SeriesBuffer* s = buffer_of(block);
    int32_t total = total_of(s);
    for (int32_t i = clamped_head(block); i < total; i++) {
        const Cell* c = cell_at(s, i);
        if (!word_like_q(type_of(c))) continue;
        int32_t other = strict ? int32_t(c->w2) : symbol::resolve(int32_t(c->w2));
        if (other == symbol) return cell_after(block, i);
    }
    return none_cell();
}

bool remove_value(const Cell* block, const Cell* key, bool from_start) {
    int32_t i = find_index(block, key, from_start ? 0 : clamped_head(block), COMP_FIND);
    if (i < 0) return false;
    series::remove_range(block, i, 1);
    return true;
}

// ---- making ----

void clone(const Cell* value, Cell* result, bool deep, bool also_paths) {
    Cell source = *value;
    Node copy = shallow_copy(&source);
    cell::begin(result)->w2 = copy;
    cell::set_type(result, type_of(&source));
    if (deep) deep_copy(&source, copy, also_paths, false);
}

Cell* make_at(Cell* cell, int32_t n) { return make_fixed_at(cell, n, false); }

Cell* make_fixed_at(Cell* cell, int32_t n, bool fixed) {
    if (n < 1) n = 1;
    Node node = fixed ? memory::alloc_fixed_series(n, 16, 0) : memory::alloc_cells(n);
    cell::begin(cell)->w2 = node;
    return cell::set_type(cell, TYPE_BLOCK);
}

namespace {

Cell* make_in_parent(const Cell* parent, int32_t n, bool fixed) {
    static Cell scratch;
    if (!parent) return make_fixed_at(&scratch, n, fixed);
    // The new cell is placed first (as unset!) and the buffer made after, so
    // that the buffer is reachable from the parent as soon as it exists.
    Node parent_node = parent->w2;
    cell::alloc_tail_cell(parent_node);
    int32_t index = total_of(memory::buffer_of(parent_node)) - 1;
    Cell made;
    make_fixed_at(&made, n, fixed);
    return copy_cell(&made, cell_for_write(memory::buffer_of(parent_node), index));
}

}  // namespace

Cell* make_in(const Cell* parent, int32_t n) { return make_in_parent(parent, n, false); }

Cell* push(const Cell* value) { return stack::push(value); }

Cell* push_only_star(int32_t n) {
    // The cell is reserved first, so that the new buffer is reachable from the stack at once.
    Cell* c = cell::begin(stack::push_raw());
    return make_at(c, n);
}
Cell* make_fixed_in(const Cell* parent, int32_t n) { return make_in_parent(parent, n, true); }

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
            clone(spec, proto, false, false);
            break;
        case TYPE_INTEGER: case TYPE_FLOAT:
            return make_empty(proto, size_spec(spec), type);
        case TYPE_OBJECT: case TYPE_MAP:
            body_of(proto, spec);
            break;
        case TYPE_VECTOR:
            return from_vector(proto, spec, type);
        default: fire_with_datatype("bad-make-arg", type, spec);
    }
    proto->header = uint32_t(type) & TYPE_MASK;
    return proto;
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH:
        case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
            clone(spec, proto, false, false);
            break;
        case TYPE_OBJECT: case TYPE_MAP:
            body_of(proto, spec);
            break;
        case TYPE_STRING: {
            // The values the lexer loads from the text.
            Cell* text = stack::push(spec);
            lexer::scan_string(cell::begin(proto), text, -1, false, true, true, true, nullptr, nullptr, nullptr);
            stack::raise_pending();  // a syntax error
            stack::top = text;
            break;
        }
        case TYPE_TYPESET:
            typeset::to_block(spec, proto);  // the words of its datatypes
            break;
        case TYPE_VECTOR:
            return from_vector(proto, spec, type);
        default: {
            Cell value = *spec;
            Node node = memory::alloc_cells(1);
            copy_cell(&value, memory::cells_for_write(memory::buffer_of(node)));
            memory::buffer_of(node)->tail += 16;
            cell::begin(proto)->w2 = node;
        }
    }
    proto->header = uint32_t(type) & TYPE_MASK;
    return proto;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool case_q, bool,
                bool, bool) {
    if (type_of(element) == TYPE_INTEGER) {
        int32_t index = integer::get_value(element);
        if (value) return series::poke(parent, index, value, element);
        int64_t p = index == 0 ? -1 : int64_t(int32_t(parent->w1)) + index + (index > 0 ? -1 : 0);
        SeriesBuffer* s = buffer_of(parent);
        return p < 0 || p >= total_of(s) ? none_cell() : cell_at(s, p);
    }
    int32_t op = case_q ? COMP_STRICT_EQUAL : COMP_FIND;
    if (!value) {
        if (type_of(element) == TYPE_WORD && type_of(parent) != TYPE_HASH)
            return select_word(parent, element, case_q);
        return cell_after(parent, find_index(parent, element, clamped_head(parent), op));
    }
    int32_t found = find_index(parent, element, clamped_head(parent), op);
    if (found < 0) {
        // The failed search result stands where the key might be expected.
        return raised(ErrorCategory::script, "bad-path-set", path ? path : element, none_cell());
    }
    Cell position = *parent;
    position.w1 = uint32_t(found);
    return series::poke(&position, 2, value, element);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint32_t t1 = type_of(value1), t2 = type_of(value2);
    if (t1 != t2) {
        bool kin = (op == COMP_STRICT_EQUAL_WORD || op == COMP_EQUAL_WORD) &&
                   ((t1 == TYPE_PATH && t2 == TYPE_LIT_PATH) || (t1 == TYPE_LIT_PATH && t2 == TYPE_PATH));
        if (!kin) return COMPARE_INCOMPARABLE;
    }
    Node n1 = value1->w2, n2 = value2->w2;
    int32_t h1 = int32_t(value1->w1), h2 = int32_t(value2->w1);
    if (n1 == n2 && h1 == h2) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::visited_q(n1)) return cycles::visited_q(n2) ? 0 : -1;

    int32_t m = std::max(total_of(memory::buffer_of(n1)) - h1, 0);
    int32_t n = std::max(total_of(memory::buffer_of(n2)) - h2, 0);
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL:
        case COMP_STRICT_EQUAL_WORD: case COMP_EQUAL_WORD: case COMP_FIND:
            if (m != n) return 1;
            break;
        default: break;
    }
    auto by_length = [&] { return m < n ? -1 : m > n ? 1 : 0; };
    if (m == 0 || n == 0) return by_length();

    int32_t result = 0;
    {
        CycleEntry first(n1);
        CycleEntry second(n2);
        Cell a, b;
        for (int32_t i = 0; i < std::min(m, n) && result == 0; i++) {
            read_cell(n1, h1 + i, &a);
            read_cell(n2, h2 + i, &b);
            uint32_t ta = type_of(&a), tb = type_of(&b);
            bool numbers = (ta == TYPE_INTEGER || ta == TYPE_FLOAT || ta == TYPE_PERCENT) &&
                           (tb == TYPE_INTEGER || tb == TYPE_FLOAT || tb == TYPE_PERCENT);
            if (ta == tb || (word::any_word_q(ta) && word::any_word_q(tb)) || numbers)
                result = compare_values(&a, &b, op);
            else
                result = ta < tb ? -1 : 1;
        }
    }
    return result != 0 ? result : by_length();
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    bool typed = series::given(types, value);
    Cell source = *value;
    if (!series::copy(value, result, part, false, nullptr)) return nullptr;  // raised as a status
    if (type_of(&source) == TYPE_HASH) cell::set_type(result, TYPE_BLOCK);
    if (typed) return copy_typed(&source, result, deep, types);
    if (deep) deep_copy(&source, result->w2, true, true);
    return result;
}

Cell* take(Cell* value, Cell* part, bool deep, bool last) {
    Cell source = *value;
    series::TakeRange r = series::take_range(value, part, last);
    bool owned = !r.empty_series && notify(&source, words::take, nullptr, r.start, r.count);
    int32_t old_total = total_of(buffer_of(&source));
    series::take(value, part, false, last);  // the result replaces the value in its cell
    if (Node table = hash::table_of_value(&source); table && !r.empty_series) {
        int32_t removed = old_total - total_of(buffer_of(&source));
        if (removed > 0) hash::cells_removed(table, r.start, removed, old_total);
        if (type_of(value) == TYPE_HASH) hash::make_over(value);  // a /part result is a hash! of its own
    }
    if (owned) notify(&source, words::taken, nullptr, r.start, 0);
    if (!deep || type_of(value) == TYPE_NONE) return value;
    if (series::given(part, value)) {
        deep_copy(&source, value->w2, true, true);
    } else if (auto copy_slot = get_slot<Act::copy>(type_of(value)); copy_slot && series::series_type_q(type_of(value))) {
        Cell taken = *value;
        copy_slot(&taken, value, nullptr, true, nullptr);
    }
    return value;
}

// ---- registration ----

namespace {

// Own slots: make, to, form, mold, eval-path, compare, copy, take, and the
// searching and editing actions (append and insert, change, find, put,
// select, sort, swap, trim); the navigation actions (at, back, head, head?,
// index?, next, skip, tail, tail?) take series!'s entries.
constexpr SlotEntry row[] = {
    slot<Act::make, &block::make>,          // 1
    INHERIT,                                // 2 random
    INHERIT,                                // 3 reflect
    slot<Act::to, &block::to>,              // 4
    slot<Act::form, &block::form>,          // 5
    slot<Act::mold, &block::mold>,          // 6
    slot<Act::eval_path, &block::eval_path>,  // 7
    NONE,                                   // 8
    slot<Act::compare, &block::compare>,    // 9
    NONE, NONE, NONE, NONE, NONE,           // 10-14
    NONE, NONE, NONE, NONE, NONE,           // 15-19
    NONE, NONE, NONE, NONE, NONE,           // 20-24
    slot<Act::append, &block::insert>,      // 25
    INHERIT, INHERIT,                       // 26 at, 27 back
    slot<Act::change, &block::change>,      // 28
    INHERIT,                                // 29 clear
    slot<Act::copy, &block::copy>,          // 30
    slot<Act::find, &block::find>,          // 31
    INHERIT, INHERIT, INHERIT,              // 32 head, 33 head?, 34 index?
    slot<Act::insert, &block::insert>,      // 35
    INHERIT, INHERIT, INHERIT,              // 36 length?, 37 move, 38 next
    INHERIT, INHERIT,                       // 39 pick, 40 poke
    slot<Act::put, &block::put>,            // 41
    INHERIT, INHERIT,                       // 42 remove, 43 reverse
    slot<Act::select, &block::select>,      // 44
    slot<Act::sort, &block::sort>,          // 45
    INHERIT,                                // 46 skip
    slot<Act::swap, &block::swap>,          // 47
    INHERIT, INHERIT,                       // 48 tail, 49 tail?
    slot<Act::take, &block::take>,          // 50
    slot<Act::trim, &block::trim>,          // 51
    NONE, NONE, NONE,                       // 52-54
    INHERIT,                                // 55 modify
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 56-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_BLOCK, TYPE_SERIES, "block!", row); }

}  // namespace zuv::block
