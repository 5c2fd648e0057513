// block!: the series of value cells.
//
// Payload: word 1 the head index in cells, word 2 the node of a buffer of
// 16-byte elements, word 3 0 (a hash! keeps its table there). paren! and the
// path types share the layout and most of the actions.
//
// The block/... support functions are the runtime's standard way to read and
// build cell series. Functions returning a Cell* into a buffer give an address
// that is valid only until the next allocation: never keep one across an
// append, a growth or an evaluation; keep (node, index) instead.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::block {

// ---- reading positions ----

int32_t zs_length_q(const Cell* v);       // tail index minus head (not clamped)
const Cell* zs_head(Cell* v);                   // head cell; a head past the tail is set to the tail
const Cell* zs_tail(const Cell* v);             // cell just past the last one
bool zs_tail_q(const Cell* v);            // head exactly at the tail
const Cell* zs_abs_at(const Cell* v, int32_t n);  // cell at absolute index n
Cell* write_at(const Cell* v, int32_t n);         // the same, to change it (see memory::changing)
bool advance(Cell* v);                    // head one on when a cell remains; true when then at the tail
void clear_from_head(const Cell* v);      // tail := head
void truncate_at(const Cell* v, int32_t n);  // tail := absolute index n

// ---- building ----

// Copies cell to a new cell at the block's tail (the buffer doubles when
// full); the source may lie in the same block. Returns the new cell.
Cell* append_cell(const Cell* block, const Cell* cell);
// Appends copies of the source's cells from its head.
void append_block(const Cell* target, const Cell* source);
// Inserts a copy of cell at the head (or at the first cell with at_start),
// moving the following cells up; advance moves the value's head past it.
Cell* insert_cell(Cell* value, const Cell* cell, bool advance, bool at_start);
// Inserts the source's cells one by one at the target's head, advancing it.
void insert_block(Cell* target, const Cell* source);

// List building on the data stack (the current call's cells):
// insert_result inserts the result slot's value at the head of the block in
// the cell below the result slot, advancing that block's head; append_arg
// appends the second argument to the block in the result slot and answers the
// result slot; append_result appends the result slot's value to the block in
// the cell below it.
void insert_result();
Cell* append_arg();
void append_result();

// ---- searching ----

// The cell after the first cell equal to key (find equality), or the
// constant none cell when there is none or the match is the last cell.
const Cell* select_value(const Cell* block, const Cell* key);
// The cell after the first word-like cell with word's symbol (canonical
// symbols unless strict), or the constant none cell.
const Cell* select_word(const Cell* block, const Cell* word, bool strict);
// Removes the first cell equal to key (from the head, or the first cell);
// true when one was removed.
bool remove_value(const Cell* block, const Cell* key, bool from_start);

// ---- making ----

// result := a new value of value's type holding copies of its cells from the
// head (an empty source gets room for 1 cell). deep copies nested block!
// values the same way, and paren! and paths too with also_paths, each copy
// keeping the header of the cell it replaces. result must not lie in a
// series buffer that can move.
void clone(const Cell* value, Cell* result, bool deep, bool also_paths);
Cell* make_at(Cell* cell, int32_t n);
Cell* make_fixed_at(Cell* cell, int32_t n, bool fixed);
// A new empty block with room for n cells at the parent's tail, or in a
// static scratch cell when parent is null.
Cell* make_in(const Cell* parent, int32_t n);
Cell* make_fixed_in(const Cell* parent, int32_t n);
// Pushes a copy of a block value on the data stack.
Cell* push(const Cell* value);
// Pushes a new empty block! with room for n cells (0 taken as 1).
Cell* push_only_star(int32_t n);

// ---- text ----

// Writes the cells from the head with their separators and line breaks; the
// shared body of the molds of block!, paren! and the paths' cell molding.
int32_t mold_each(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                  int32_t indent);
// The cells between open and close (both left out with only); a block that
// holds itself shows the cycle marker instead of looping.
int32_t mold_enclosed(const char* open, const char* close, Cell* value, Cell* buffer, bool only, bool all, bool flat,
                      Cell* arg, int32_t part, int32_t indent);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item,
                int32_t index, bool case_q, bool get_q, bool tail_q, bool evalp_q);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* take(Cell* value, Cell* part, bool deep, bool last);

// Searching, editing and sorting (block_find.cpp, block_edit.cpp,
// block_sort.cpp, block_set.cpp). Refinement cells follow the action
// entries' convention (series::given); counts are -1 when absent.

// find pushes its result (the value at the found position, or none) on the
// data stack and answers it; select does the same with the value after the match.
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_q);
// The slot of both append (append set) and insert.
Cell* insert(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* swap(Cell* series1, Cell* series2);
Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
Cell* sort(Cell* series, bool case_q, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable);

// Sort order of two records of cells under op (7 or 8). flags: bit 0
// reverse (the operands swap), bit 1 all fields; bits 2 and up the field
// count (with bit 1) or the offset of the one field compared.
int32_t sort_compare(const Cell* first, const Cell* second, int32_t op, uint32_t flags);

// The set operations on the current call's two arguments (the result slot
// and the cell after it; the second is not read for unique). op: 8 unique,
// 9 union, 10 intersect, 11 exclude, 12 difference. The result replaces the
// first argument.
enum SetOp : int32_t { SET_UNIQUE = 8, SET_UNION, SET_INTERSECT, SET_EXCLUDE, SET_DIFFERENCE };
void do_set_op(bool case_q, Cell* skip, int32_t op);

// Replaces each cell from absolute index start to end (exclusive), stepping
// by step, whose type is in types (a typeset!, or equal to a datatype!) and
// that is a series, bitset!, object!, error! or map! by its copy (deep
// passed on, with the types when deep). types must lie on the data stack.
void copy_values_of_types(const Cell* block, int32_t start, int32_t end, int32_t step, bool deep,
                          const Cell* types);

void register_type();

}  // namespace zuv::block
