// map!: making, path access, the searching and editing actions, reflect,
// compare and the text forms.
//
// Every lookup goes through the map's hash table (kind 1) with a comparison
// mode: 0 equal? (text and words without regard to case), 2 strict-equal?,
// 9 same?. The loops read the block by (node, index): molding a value or
// appending to a result may move every buffer.
#include "runtime/datatypes/map.hpp"

#include <algorithm>
#include <optional>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/block_internal.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/hash.hpp"
#include "runtime/memory.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"

namespace zuv::map {

namespace {

using block::detail::CycleEntry;
using block::detail::read_cell;

// Handed out where a lookup finds nothing; rewritten at every hand-out, so a
// caller that writes into it harms no later one.
Cell* none_cell() {
    static Cell none;
    return none::make_at(&none);
}

Node block_of(const Cell* map) { return map->w2; }
Node table_of(const Cell* map) { return map->w3; }
int32_t total_of(Node block) { return memory::length_of(memory::buffer_of(block)); }
// A map keeps its keys and values in a block that no value reaches.
Cell* cell_at(Node block, int32_t i) { return memory::internal_cells(memory::buffer_of(block)) + i; }

bool removed_q(Node block, int32_t key_position) { return cell_at(block, key_position + 1)->header == 0; }

bool any_word_q(uint32_t type) {
    return type == TYPE_WORD || type == TYPE_SET_WORD || type == TYPE_LIT_WORD || type == TYPE_GET_WORD;
}

bool copied_key_q(uint32_t type) {
    switch (type) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_BINARY: case TYPE_TAG: case TYPE_EMAIL:
    case TYPE_REF:
        return true;
    default: return false;
    }
}

// The position of the live or removed pair whose key matches, or -1.
int32_t find_pair(const Cell* map, const Cell* key, int32_t mode) {
    return hash::find_position(table_of(map), key, 0, 1, mode, false, false);
}

// The position of a live pair, or -1.
int32_t find_live(const Cell* map, const Cell* key, int32_t mode) {
    int32_t at = find_pair(map, key, mode);
    return at >= 0 && !removed_q(block_of(map), at) ? at : -1;
}

int32_t lookup_mode(bool case_q, bool same) { return same ? COMP_SAME : case_q ? COMP_STRICT_EQUAL : COMP_EQUAL; }

// One step of extend and of a path set: the key's pair gets the value (a new
// pair at the tail for a new key). Returns the block position of the value.
int32_t set_value(const Cell* map_in, const Cell* key_in, const Cell* value_in, int32_t mode, const Cell* path) {
    Cell map = *map_in, key = *key_in, value = *value_in;
    collector::Root keep_map(map), keep_key(key), keep_value(value);
    int32_t at = find_pair(&map, &key, mode);
    if (at < 0) {
        normalize_key(&key, path);
        Node block = block_of(&map);
        cell::reserve_tail_bytes(block, 2 * int32_t(sizeof(Cell)));
        at = total_of(block) - 2;
        *cell_at(block, at) = key;
        cell::begin(cell_at(block, at + 1));
        hash::put_key(table_of(&map), at);
    } else if (removed_q(block_of(&map), at)) {
        hash::table_of(table_of(&map))->size++;
    }
    Cell* slot = cell_at(block_of(&map), at + 1);
    *slot = value;
    slot->header &= ~FLAG_NEW_LINE;
    return at + 1;
}

bool same_symbol_q(int32_t a, int32_t b) { return symbol::resolve(a) == symbol::resolve(b); }

// Writes the live entries: mold (with "#[" and "]" unless only) or form.
int32_t mold_entries(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                     int32_t indent, bool molding) {
    if (cycles::mold_cycle_marker(value, buffer, part, molding)) return part;
    Cell map = *value;
    Node block = block_of(&map);
    int32_t live = hash::table_of(table_of(&map))->size;
    bool brackets = molding && !only;
    bool lines = molding && !only && !flat;  // one entry per indented line
    int32_t level = indent + 1;
    CycleEntry entry(block);
    if (brackets) {
        string::concatenate_literal(buffer, "#[");
        part -= 2;
    }
    int32_t seen = 0;
    Cell key, item;
    for (int32_t i = 0; seen < live && read_cell(block, i, &key) && read_cell(block, i + 1, &item); i += 2) {
        if (item.header == 0) continue;
        if (lines) {
            string::concatenate_literal(buffer, "\n");
            part--;
            for (int32_t l = 0; l < level; l++) string::concatenate_literal(buffer, "    ");
            part -= 4 * level;
        } else if (seen > 0) {
            string::concatenate_literal(buffer, flat && molding ? " " : "\n");
            part--;
        }
        seen++;
        key.header &= ~FLAG_NEW_LINE;
        item.header &= ~FLAG_NEW_LINE;
        part = actions::call_mold(&key, buffer, false, all, flat, arg, part, level);
        string::concatenate_literal(buffer, " ");
        part--;
        part = actions::call_mold(&item, buffer, false, all, flat, arg, part, level);
        if (part <= 0) return part;
    }
    if (lines && seen > 0) {
        string::concatenate_literal(buffer, "\n");
        part--;
        for (int32_t l = 0; l < indent; l++) string::concatenate_literal(buffer, "    ");
        part -= 4 * std::max(indent, 0);
    }
    if (brackets) {
        string::concatenate_literal(buffer, "]");
        part--;
    }
    return part;
}

// equal? and strict-equal? of two maps' entries: 0 equal, 1 unequal.
int32_t compare_entries(Cell* value1, Cell* value2, int32_t op) {
    Cell a = *value1, b = *value2;
    if (a.w2 == b.w2 && a.w1 == b.w1) return 0;
    if (op == COMP_SAME) return -1;
    if (cycles::visited_q(a.w2)) return cycles::visited_q(b.w2) ? 0 : -1;
    int32_t live = entry_count(&a);
    if (live != entry_count(&b)) return 1;
    if (live == 0) return 0;
    bool strict = op == COMP_STRICT_EQUAL || op == COMP_STRICT_EQUAL_WORD;
    CycleEntry first(a.w2);
    CycleEntry second(b.w2);
    int32_t seen = 0;
    Cell key, item;
    for (int32_t i = 0; seen < live && read_cell(a.w2, i, &key) && read_cell(a.w2, i + 1, &item); i += 2) {
        if (item.header == 0) continue;
        seen++;
        if (strict) {
            int32_t at = find_live(&b, &key, COMP_STRICT_EQUAL);
            if (at < 0) return 1;
            Cell other = *cell_at(b.w2, at + 1);
            if (!actions::compare_star(&item, &other, COMP_STRICT_EQUAL)) return 1;
            continue;
        }
        // Every equal key of the second map (keys differing only in case are
        // separate entries there) is tried until one holds an equal value.
        bool matched = false;
        int32_t bucket = -1, start = 0, step = 0;
        while (!matched) {
            const Cell* found = hash::find_next_key(table_of(&b), &key, &bucket, &start, &step);
            if (!found) break;
            int32_t at = int32_t(found - memory::cells_head(memory::buffer_of(b.w2)));
            if (removed_q(b.w2, at)) continue;
            Cell other = *cell_at(b.w2, at + 1);
            matched = actions::compare_star(&item, &other, COMP_EQUAL);
        }
        if (!matched) return 1;
    }
    return 0;
}

}  // namespace

// ---- runtime helpers ----

Cell* make_at(Cell* target, const Cell* block, int32_t size) {
    if (block) {
        *target = *block;
    } else {
        block::make_at(target, size);
    }
    Cell source = *target;
    source.header = TYPE_BLOCK;
    Node table = hash::make_table(size, &source, hash::KIND_MAP, 0);
    target->w3 = table;
    cell::set_type(target, TYPE_MAP);
    return target;
}

Cell* push(const Cell* map) { return stack::push(map); }

int32_t entry_count(const Cell* map) { return hash::table_of(table_of(map))->size; }

bool valid_key_type_q(uint32_t type) {
    switch (type) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_CHAR: case TYPE_INTEGER: case TYPE_FLOAT:
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
    case TYPE_ISSUE: case TYPE_PAIR: case TYPE_PERCENT: case TYPE_TUPLE: case TYPE_BINARY: case TYPE_TIME:
    case TYPE_TAG: case TYPE_EMAIL: case TYPE_DATE: case TYPE_MONEY: case TYPE_REF: case TYPE_POINT2D:
    case TYPE_POINT3D:
        return true;
    default: return false;
    }
}

void normalize_key(Cell* key, const Cell* path) {
    uint32_t type = type_of(key);
    if (!valid_key_type_q(type)) {
        Cell p = path ? *path : Cell{TYPE_NONE, 0, 0, 0};
        Cell datatype;
        datatype::make_at(&datatype, int32_t(type));
        fire(ErrorCategory::script, "invalid-path", &p, &datatype);
    }
    if (any_word_q(type)) {
        key->header = (key->header & ~TYPE_MASK) | TYPE_SET_WORD;
    } else if (copied_key_q(type)) {
        auto copy = get_slot<Act::copy>(type);
        if (!copy) return;
        Cell original = *key;
        Cell copied{};
        collector::Root keep(copied);
        copy(&original, &copied, nullptr, false, nullptr);
        uint32_t flags = key->header & ~TYPE_MASK;
        *key = copied;
        key->header = (copied.header & TYPE_MASK) | flags;
    }
}

Cell* extend(Cell* map, const Cell* block, bool case_q) {
    Cell m = *map, b = *block;
    collector::Root keep_map(m), keep_block(b);
    int32_t head = std::max(int32_t(b.w1), 0);
    int32_t n = total_of(b.w2) - head;
    if (n > 0 && n % 2 != 0) fire(ErrorCategory::script, "invalid-arg", &b);
    Cell key, value;
    for (int32_t i = head; read_cell(b.w2, i, &key) && read_cell(b.w2, i + 1, &value); i += 2)
        set_value(&m, &key, &value, case_q ? COMP_STRICT_EQUAL : COMP_EQUAL, nullptr);
    return map;
}

bool assign_foreach_words(const Cell* words_in, Cell* map, int32_t count) {
    Cell words = *words_in;
    int32_t words_head = std::max(int32_t(words.w1), 0);
    Cell w;
    for (int32_t i = 0; i < count && read_cell(words.w2, words_head + i, &w); i++)
        if (!any_word_q(type_of(&w))) fire(ErrorCategory::script, "invalid-arg", &w);
    bool any = false;
    int32_t at = int32_t(map->w1);  // map is a data stack cell: it stays in place
    for (int32_t i = 0; i < count && read_cell(words.w2, words_head + i, &w); i++) {
        Node block = block_of(map);
        if (i % 2 == 0) {
            while (at + 1 < total_of(block) && removed_q(block, at)) {
                at += 2;
                map->w1 += 2;
            }
        }
        Cell value;
        if (at >= total_of(block) || (i % 2 == 0 && at + 1 >= total_of(block))) {
            none::make_at(&value);
        } else {
            value = *cell_at(block, at);
            value.header &= ~FLAG_NEW_LINE;
            if (i % 2 == 0 && type_of(&value) == TYPE_SET_WORD) cell::set_type(&value, TYPE_WORD);
            any = true;
        }
        at++;
        w.header = (w.header & ~TYPE_MASK) | TYPE_WORD;
        word::set(&w, &value);
    }
    return any;
}

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    bool to_q = type == -1;
    int32_t size = 0;
    Cell* made = cell::begin(stack::push_raw());
    bool have_block = false;
    switch (type_of(spec)) {
    case TYPE_INTEGER: case TYPE_FLOAT: {
        if (to_q) fire_bad_to_arg(TYPE_MAP, spec);
        if (type_of(spec) == TYPE_FLOAT && integer::float_out_of_range_q(spec))
            fire(ErrorCategory::script, "out-of-range", spec);
        int64_t n = type_of(spec) == TYPE_INTEGER ? integer::get_value(spec) : int64_t(float_::get(spec));
        if (n < 0) fire(ErrorCategory::script, "out-of-range", spec);
        if (n > (1 << 28)) fire(ErrorCategory::internal, "no-memory");
        size = int32_t(2 * n);
        break;
    }
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
        int32_t length = std::max(total_of(spec->w2) - std::max(int32_t(spec->w1), 0), 0);
        if (length % 2 != 0) fire(ErrorCategory::script, "invalid-arg", spec);
        block::clone(spec, made, false, false);
        SeriesBuffer* s = memory::buffer_of(made->w2);
        for (Cell* c = memory::internal_cells(s), *end = c + memory::length_of(s); c < end; c++) c->header &= ~FLAG_NEW_LINE;
        cell::set_type(made, TYPE_BLOCK);
        made->w3 = 0;
        size = length;
        have_block = true;
        break;
    }
    case TYPE_MAP:
        copy(spec, made, nullptr, false, nullptr);
        *proto = *made;
        stack::top = made;
        return proto;
    default:
        fire_bad_to_arg(TYPE_MAP, spec);
    }
    if (size == 0) size = 2;
    make_at(made, have_block ? made : nullptr, size);
    *proto = *made;
    stack::top = made;
    return proto;
}

Cell* to(Cell* proto, Cell* spec, int32_t) { return make(proto, spec, -1); }

Cell* reflect(Cell* value, int32_t field) {
    Cell map = *value;
    int32_t live = entry_count(&map);
    bool keys = same_symbol_q(field, sym::words);
    bool values = same_symbol_q(field, sym::values);
    bool body = same_symbol_q(field, sym::body);
    if (!keys && !values && !body) fire(ErrorCategory::internal, "not-done");
    Cell* result = block::make_at(stack::push_raw(), std::max(body ? 2 * live : live, 1));
    int32_t seen = 0;
    Cell key, item;
    for (int32_t i = 0; seen < live && read_cell(map.w2, i, &key) && read_cell(map.w2, i + 1, &item); i += 2) {
        if (item.header == 0) continue;
        seen++;
        if (keys || body) {
            if (keys) {
                key.header &= ~FLAG_NEW_LINE;
                if (type_of(&key) == TYPE_SET_WORD) cell::set_type(&key, TYPE_WORD);
            } else {
                key.header |= FLAG_NEW_LINE;
            }
            block::append_cell(result, &key);
        }
        if (values || body) {
            item.header &= ~FLAG_NEW_LINE;
            block::append_cell(result, &item);
        }
    }
    *value = *result;
    stack::top = result;
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return mold_entries(value, buffer, false, false, false, arg, part, 0, false);
}

int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent) {
    return mold_entries(value, buffer, only, all, flat, arg, part, indent, true);
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool case_q, bool,
                bool, bool) {
    int32_t mode = case_q ? COMP_STRICT_EQUAL : COMP_EQUAL;
    if (!value) {
        int32_t at = find_live(parent, element, mode);
        return at < 0 ? none_cell() : cell_at(block_of(parent), at + 1);
    }
    Cell map = *parent;
    int32_t at = set_value(&map, element, value, mode, path ? path : nullptr);
    return cell_at(block_of(&map), at);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_MAP) return COMPARE_INCOMPARABLE;
    switch (op) {
    case COMP_SORT: case COMP_CASE_SORT:
        return value1->w2 < value2->w2 ? -1 : value1->w2 > value2->w2 ? 1 : 0;
    case COMP_LESSER: case COMP_LESSER_EQUAL: case COMP_GREATER: case COMP_GREATER_EQUAL:
        return COMPARE_INCOMPARABLE;
    default:
        return compare_entries(value1, value2, op);
    }
}

Cell* clear(Cell* value) {
    hash::clear_table(table_of(value));
    return value;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    (void)part;  // /part has no meaning for a map
    bool typed = series::given(types, value);
    Cell source = *value;
    collector::Root keep(source);
    std::optional<cycles::AcyclicEntry> entry;  // copy/deep alone guards itself in the block copy
    if (deep && typed) entry.emplace(source.w2);
    Cell whole = source;
    whole.header = TYPE_BLOCK;
    whole.w1 = 0;
    whole.w3 = 0;
    block::copy(&whole, result, nullptr, deep && !typed, nullptr);
    Node table = hash::copy_table(source.w3, result->w2);
    result->w3 = table;
    cell::set_type(result, TYPE_MAP);
    if (typed) block::copy_values_of_types(result, 1, total_of(result->w2), 2, deep, types);
    return result;
}

Cell* find(Cell* series, Cell* value, Cell*, bool, bool case_q, bool same, bool, Cell*, Cell*, bool, bool, bool,
           bool) {
    int32_t at = find_live(series, value, lookup_mode(case_q, same));
    if (at < 0) return none::make_at(series);
    Cell key = *cell_at(block_of(series), at);
    key.header &= ~FLAG_NEW_LINE;
    if (type_of(&key) == TYPE_SET_WORD) cell::set_type(&key, TYPE_WORD);
    *series = key;
    return series;
}

int32_t length_q(Cell* value) { return entry_count(value); }

Cell* put(Cell* series, Cell* key, Cell* value, bool case_q) {
    set_value(series, key, value, case_q ? COMP_STRICT_EQUAL : COMP_EQUAL, nullptr);
    return value;
}

Cell* remove(Cell* value, Cell*, Cell* key) {
    if (!series::given(key, value)) fire(ErrorCategory::script, "missing-arg");
    int32_t at = find_live(value, key, COMP_STRICT_EQUAL);
    if (at >= 0) hash::remove_entry(table_of(value), at);
    return value;
}

Cell* select(Cell* series, Cell* value, Cell*, bool, bool case_q, bool same, bool, Cell*, Cell*, bool, bool) {
    int32_t at = find_live(series, value, lookup_mode(case_q, same));
    if (at < 0) return none::make_at(series);
    Cell item = *cell_at(block_of(series), at + 1);
    *series = item;
    return series;
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &map::make>,            // 1
    NONE,                                   // 2 random
    slot<Act::reflect, &map::reflect>,      // 3
    slot<Act::to, &map::to>,                // 4
    slot<Act::form, &map::form>,            // 5
    slot<Act::mold, &map::mold>,            // 6
    slot<Act::eval_path, &map::eval_path>,  // 7
    NONE,                                   // 8
    slot<Act::compare, &map::compare>,      // 9
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 10-19
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,        // 20-28
    slot<Act::clear, &map::clear>,          // 29
    slot<Act::copy, &map::copy>,            // 30
    slot<Act::find, &map::find>,            // 31
    NONE, NONE, NONE, NONE,                 // 32-35
    slot<Act::length_q, &map::length_q>,    // 36
    NONE, NONE, NONE, NONE,                 // 37-40
    slot<Act::put, &map::put>,              // 41
    slot<Act::remove, &map::remove>,        // 42
    NONE,                                   // 43 reverse
    slot<Act::select, &map::select>,        // 44
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 45-54
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,              // 55-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_MAP, 0, "map!", row); }

}  // namespace zuv::map
