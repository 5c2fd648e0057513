// Ownership tracking: an object with an on-deep-change* handler owns the
// series in its fields and is told of every in-place change to them.
//
// One owners table (an integer-keyed hash table, kind 4) maps the node of an
// owned series (or, for an object!, its context node) to an entry of three
// cells: the value as it was bound, the owner object, and the owner's field
// word holding it (none when bound without a word). The series' buffer also
// carries the owned flag (SERIES_OWNED), so that unowned series pay one flag
// test. An owner object's context cell carries object::CONTEXT_OWNER.
//
// Binding walks block-like values (block!, paren!, hash!, the paths) and
// objects deeply; string-like series, binary!, vector!, image! and bitset!
// are bound alone. The cycle stack (cycles.hpp) stops walks over values
// that contain themselves.
//
// Editing actions call check() on a series whose buffer carries the owned
// flag before the change, with the action's word, and after it, with the
// past-tense word, when the first call answered true. check() runs user code:
// the collector may run inside it, so no pointer into a series may be held
// across the call.
//
// The table holds nodes, not values: the collector drops the entries of a
// key or owner that died (hash::prune_dead_keys).
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::ownership {

// The owners table's node (0 until init).
extern Node owners;

// Makes the owners table and registers it with the collector.
void init();

// Binds value to owner (an object!) under the field word (null: no word).
void set_owner(const Cell* value, const Cell* owner, const Cell* word);
// set_owner, then the owner's context gets the owner flag.
void set_owner_marked(const Cell* value, const Cell* owner, const Cell* word);
// Removes value (deeply) from ownership tracking.
void unbind(const Cell* value);
// unbind of count cells of a block-like series from absolute index.
void unbind_range(const Cell* series, int32_t index, int32_t count);

// The entry of a node: the bound value, the owner and the field word. False
// when the node has no entry.
struct Record {
    Cell value;
    Cell owner;
    Cell word;
};
bool find_owner(Node node, Record* out);

// `modify value 'owned spec`: none unbinds the value; a block [owner word]
// whose first value is an object! binds the value to it under that word;
// any other spec changes nothing.
void modify_owned(const Cell* value, const Cell* spec);
// `reflect value 'owned`: out := a new block [owner word] from the value's
// entry, or none. out must not lie in a series buffer that can move.
Cell* reflect_owned(const Cell* value, Cell* out);

// Tells the owner of value (when its node has an entry whose owner has event
// information) that action happened at index over part elements, with
// new_value (may be null); true when an owner was told. Runs user code.
bool check(const Cell* value, const Cell* action, const Cell* new_value, int32_t index, int32_t part);

// How check() reaches the owner: object::fire_on_deep_change, replaceable by
// unit tests that have no function! handler to run.
using DeepChangeFn = void (*)(const Cell* owner, const Cell* word, const Cell* target, const Cell* action,
                              const Cell* new_value, int32_t index, int32_t part);
extern DeepChangeFn fire_deep_change;

}  // namespace zuv::ownership
