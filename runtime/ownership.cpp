// Ownership tracking: the owners table, binding, unbinding and the owner
// notification of in-place changes.
//
// Walks read each cell by (node, index) into a local copy: binding adds
// table entries, which may allocate and move any buffer.
#include "runtime/ownership.hpp"

#include <algorithm>

#include "runtime/collector.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/hash.hpp"
#include "runtime/memory.hpp"

namespace zuv::ownership {

Node owners = 0;
DeepChangeFn fire_deep_change = &object::fire_on_deep_change;

namespace {

constexpr int32_t TABLE_SIZE = 1000;
constexpr int32_t ENTRY_CELLS = 3;  // the bound value, the owner, the field word

// Series (and bitset!) that carry the owned flag and get an entry.
bool flagged_q(uint32_t type) {
    switch (type) {
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
        case TYPE_BINARY: case TYPE_VECTOR: case TYPE_BITSET: case TYPE_IMAGE:
            return true;
        default: return series::any_block_q(type);
    }
}

inline Cell none_cell() { return Cell{TYPE_NONE, 0, 0, 0}; }
inline Cell unset_cell() { return Cell{TYPE_UNSET, 0, 0, 0}; }

inline bool owner_context_q(Node ctx) { return (_context::cell_of(ctx)->header & object::CONTEXT_OWNER) != 0; }

using Visit = cycles::Entry;

// A copy of cell i of the series behind node, or false past its tail.
bool read_cell(Node node, int32_t i, Cell* out) {
    SeriesBuffer* s = memory::buffer_of(node);
    if (i < 0 || i >= memory::used_bytes(s) / int32_t(sizeof(Cell))) return false;
    *out = memory::cells_head(s)[i];
    return true;
}

// A copy of the value of field i of a context, or false when it has none.
bool read_field(Node ctx, int32_t i, Cell* out) {
    const Cell* slot = _context::value_slot(ctx, i);
    if (!slot) return false;
    *out = *slot;
    return true;
}

void bind(const Cell& value, const Cell& owner, const Cell& word) {
    uint32_t type = type_of(&value);
    if (flagged_q(type)) {
        Node node = value.w2;
        if (!node) return;
        if (!(memory::buffer_of(node)->flags & SERIES_OWNED)) {
            Cell* entry = hash::put_address_key(owners, node);  // may move every buffer
            entry[0] = value;
            entry[1] = owner;
            entry[2] = word;
            memory::buffer_of(node)->flags |= SERIES_OWNED;
        }
        if (!series::any_block_q(type) || cycles::visited_q(node)) return;
        Visit visit(node);
        Cell item;
        for (int32_t i = std::max(int32_t(value.w1), 0); read_cell(node, i, &item); i++) bind(item, owner, word);
    } else if (type == TYPE_OBJECT) {
        Node ctx = value.w1;
        if (!ctx || owner_context_q(ctx) || cycles::visited_q(ctx)) return;
        Visit visit(ctx);
        Cell field;
        for (int32_t i = 0; i < _context::word_count(ctx) && read_field(ctx, i, &field); i++) {
            if (type_of(&field) == TYPE_OBJECT && field.w1 == owner.w1) continue;  // the owner itself
            Cell field_word = *_context::get_word_cell(ctx, i);
            bind(field, owner, field_word);
        }
    }
}

void release(const Cell& value) {
    uint32_t type = type_of(&value);
    if (flagged_q(type)) {
        Node node = value.w2;
        if (!node) return;
        memory::buffer_of(node)->flags &= ~SERIES_OWNED;
        if (owners) {
            if (Cell* entry = hash::remove_address_key(owners, node))
                for (int32_t i = 0; i < ENTRY_CELLS; i++) entry[i] = unset_cell();
        }
        // A block that holds itself is walked once.
        if (!series::any_block_q(type) || cycles::visited_q(node)) return;
        Visit visit(node);
        Cell item;
        for (int32_t i = std::max(int32_t(value.w1), 0); read_cell(node, i, &item); i++) release(item);
    } else if (type == TYPE_OBJECT) {
        Node ctx = value.w1;
        if (!ctx || owner_context_q(ctx) || cycles::visited_q(ctx)) return;
        Visit visit(ctx);
        Cell field;
        for (int32_t i = 0; i < _context::word_count(ctx) && read_field(ctx, i, &field); i++) release(field);
    }
}

}  // namespace

void init() {
    owners = hash::make_table(TABLE_SIZE, nullptr, hash::KIND_OWNERSHIP, ENTRY_CELLS);
    collector::set_owners_table(&owners);
}

void set_owner(const Cell* value, const Cell* owner, const Cell* word) {
    Cell v = *value, o = *owner;
    Cell w = word ? *word : none_cell();
    bind(v, o, w);
}

void set_owner_marked(const Cell* value, const Cell* owner, const Cell* word) {
    Node ctx = owner->w1;
    set_owner(value, owner, word);
    _context::cell_of(ctx)->header |= object::CONTEXT_OWNER;
}

void unbind(const Cell* value) {
    Cell v = *value;
    release(v);
}

void unbind_range(const Cell* series, int32_t index, int32_t count) {
    Node node = series->w2;
    Cell item;
    for (int32_t i = std::max(index, 0); i < index + count && read_cell(node, i, &item); i++) release(item);
}

bool find_owner(Node node, Record* out) {
    if (!owners || !node) return false;
    const Cell* entry = hash::get_address_key(owners, node);
    if (!entry) return false;
    *out = Record{entry[0], entry[1], entry[2]};
    return true;
}

void modify_owned(const Cell* value, const Cell* spec) {
    if (type_of(spec) == TYPE_NONE) {
        unbind(value);
        return;
    }
    if (type_of(spec) != TYPE_BLOCK) return;
    Cell owner, word = none_cell();
    int32_t head = std::max(int32_t(spec->w1), 0);
    if (!read_cell(spec->w2, head, &owner) || type_of(&owner) != TYPE_OBJECT) return;
    read_cell(spec->w2, head + 1, &word);
    Cell v = *value;
    bind(v, owner, word);
}

Cell* reflect_owned(const Cell* value, Cell* out) {
    Record r;
    if (!find_owner(type_of(value) == TYPE_OBJECT ? value->w1 : value->w2, &r)) {
        *out = none_cell();
        return out;
    }
    block::make_at(out, 2);
    block::append_cell(out, &r.owner);
    block::append_cell(out, &r.word);
    return out;
}

bool check(const Cell* value, const Cell* action, const Cell* new_value, int32_t index, int32_t part) {
    Record r;
    if (!find_owner(type_of(value) == TYPE_OBJECT ? value->w1 : value->w2, &r)) return false;
    if (type_of(&r.owner) != TYPE_OBJECT || r.owner.w3 == 0) return false;
    Cell target = *value, act = *action;
    Cell fresh = new_value ? *new_value : none_cell();
    fire_deep_change(&r.owner, &r.word, &target, &act, new_value ? &fresh : nullptr, index, part);
    return true;
}

}  // namespace zuv::ownership
