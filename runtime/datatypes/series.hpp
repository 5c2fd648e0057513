// series!: the abstract parent of every value that is a position in a series.
//
// A series value: word 1 the head index (signed, in elements, counted from the
// buffer's first used element; it may lie past the tail after another value
// shortened the buffer), word 2 the buffer's node, word 3 per type (the table
// of a hash!, the element type of a vector!, else 0).
//
// The functions here work for every element size (1, 2 or 4 bytes for text
// and bytes, 16 for cells); block!, string! and image! take them over through
// inheritance. They hold nodes and indexes, never addresses, across anything
// that allocates.
//
// Refinement arguments follow the action entries' convention: a refinement's
// argument cell is given when it lies above the call's first argument (the
// result slot); an absent one is null or the cell just below it.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::series {

inline SeriesBuffer* buffer_of(const Cell* v) { return memory::buffer_of(v->w2); }
inline int32_t head_index(const Cell* v) { return int32_t(v->w1); }
inline void set_head(Cell* v, int32_t index) { v->w1 = uint32_t(index); }
// log2 of an element size of 1, 2, 4, 8 or 16.
inline int32_t unit_shift(uint32_t unit) { return unit ? __builtin_ctz(unit) : 0; }

// True when a refinement's argument cell was given (see the top comment).
inline bool given(const Cell* refinement_arg, const Cell* first) {
    return refinement_arg != nullptr && refinement_arg > first;
}

// script invalid-refine-arg naming the refinement (refinements::part, ::skip, ::compare).
[[noreturn]] void fire_refine_arg(const Cell& refinement, const Cell* arg);

// The count a /part argument gives from index head of value: an integer! as
// it is, a position in the same series as its head's distance from head;
// anything else raises script invalid-refine-arg as a status: PART_RAISED
// answered (see raised), which no count can be.
constexpr int64_t PART_RAISED = INT64_MIN;
int64_t part_count(const Cell* value, const Cell* part, int64_t head);
// The record size of a set operation's /skip (1 when not given): a positive
// integer!, else script invalid-refine-arg.
int32_t record_size(const Cell* skip, const Cell* first);
// The step of find's /skip (1 when not given): an integer! of at least 1; any
// other type raises script invalid-refine-arg, a smaller step out-of-range.
int64_t find_step(const Cell* skip, const Cell* series);

// The refinements of sort over n elements, checked once for every series type:
// the record size (/skip), the sort flags (/reverse, /all, /compare field)
// and the comparator function, or null.
// Sort flags: bit 0 reverse; bit 1 whole records, their length in the bits
// from 2 up; without bit 1 those bits hold the offset of the one field compared.
constexpr uint32_t SORT_REVERSE = 1;
constexpr uint32_t SORT_ALL = 2;
constexpr uint32_t SORT_FIELD_SHIFT = 2;
struct SortOptions {
    int64_t record_size;
    uint32_t flags;
    const Cell* function;
};
SortOptions sort_options(const Cell* series, int64_t n, const Cell* skip, const Cell* comparator, bool all,
                         bool reverse);
// The order a sort's comparator function gives for records a and b, called
// with (b, a): logic true puts its first argument first, false, none and a
// number above zero its second; any other value its first.
int32_t comparator_order(const Cell* answer);

// True for the datatypes whose values are positions in a cell series.
bool any_block_q(uint32_t type);
// True for every datatype whose value is a series position.
bool series_type_q(uint32_t type);

// ---- support functions ----

// True when the head's position is at or past the tail.
bool at_tail_q(const Cell* v);
// Elements from the buffer's first element to the tail (head ignored).
int32_t total_length(const Cell* v);
// Elements from the head (from the first element when from_start; a negative
// head counts as 0). A head past the tail is moved to the tail and 0 returned.
int32_t get_length(Cell* v, bool from_start);
// Moves the head n elements on when the new position is at or before the tail;
// true when the attempted position is at or past the tail.
bool skip_ahead(Cell* v, int32_t n);
// The head that at (base 1) or skip (base 0) gives for the integer in n.
int32_t get_position(const Cell* v, const Cell* n, int32_t base);

// ---- navigation, in place on the value in its cell ----
// The slots of these actions read their arguments from the data stack; they
// wrap these functions, which work on explicit cells.

Cell* head(Cell* v);
Cell* tail(Cell* v);
Cell* next(Cell* v);
Cell* back(Cell* v);
Cell* at(Cell* v, const Cell* n);
Cell* skip(Cell* v, const Cell* n);
Cell* head_q(Cell* v);   // the cell becomes a logic!
Cell* tail_q(Cell* v);   // the cell becomes a logic!
Cell* index_q(Cell* v);  // the cell becomes an integer!: head + 1

// ---- action slots ----

Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* reflect(Cell* value, int32_t field);
Cell* clear(Cell* value);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
int32_t length_q(Cell* value);
Cell* move(Cell* origin, Cell* target, Cell* part);
const Cell* pick(Cell* value, int32_t index, Cell* boxed);
// poke: an index out of range or a value the series cannot hold raises its
// error as a status (null answered, see raised).
Cell* poke(Cell* value, int32_t index, Cell* data, Cell* boxed);
Cell* remove(Cell* value, Cell* part, Cell* key);
Cell* reverse(Cell* value, Cell* part, Cell* skip);
Cell* take(Cell* value, Cell* part, bool deep, bool last);
Cell* modify(Cell* target, Cell* field, Cell* value, bool case_q);

// ---- take, in two steps for the datatypes' own take ----

// What take removes: count elements from absolute index start (count 0: none).
struct TakeRange {
    bool empty_series;  // nothing from the head on: the result is none
    bool part;          // /part was given: the result is a series
    int32_t start;
    int32_t count;
};
TakeRange take_range(Cell* value, Cell* part, bool last);
// result := a new series of the value's type holding the range's elements
// (head 0; a vector! keeps its element type).
void copy_range(const Cell* value, int32_t start, int32_t count, Cell* result);
// Removes count elements from absolute index start, closing the gap.
void remove_range(const Cell* value, int32_t start, int32_t count);

void register_type();

}  // namespace zuv::series
