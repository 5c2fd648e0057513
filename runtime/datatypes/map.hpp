// map!: the associative array.
//
// Payload: word 1 the head index of the key/value block (0 for every map
// made here; foreach uses it as its cursor), word 2 the node of that block,
// word 3 the node of its hash table (kind 1).
//
// The block holds key/value pairs in insertion order; new keys are appended,
// never inserted. A removed entry keeps its pair and place: its value cell's
// header is 0, and every operation treats such a pair as absent. The live
// count is the table's size.
//
// Stored keys: any-word keys become set-words; text and binary keys are
// copies, so later changes to the caller's series do not reach them; the
// other scalar key types are stored as given; every other type is refused.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::map {

// Makes target a map over block (a block cell whose pairs become the
// entries: repeated keys keep one pair, at the first key's place, with the
// later value), or over a new empty block with room for size cells when
// block is null. target must not lie in a series buffer that can move.
Cell* make_at(Cell* target, const Cell* block, int32_t size);
Cell* push(const Cell* map);
int32_t entry_count(const Cell* map);
bool valid_key_type_q(uint32_t type);
// Changes a key in place to its stored form; an invalid key type raises
// script invalid-path with path (none when null) and the key's datatype.
void normalize_key(Cell* key, const Cell* path);
// The extend native on a map: adds or overwrites each key/value pair of
// block (keys matched case-sensitively with case_q). Returns map.
Cell* extend(Cell* map, const Cell* block, bool case_q);
// One foreach step over a map (its head index is the cursor): sets the
// words of the words block from the next live key and value, skipping
// removed pairs (the head index moves past them). True when a word was set.
bool assign_foreach_words(const Cell* words, Cell* map, int32_t count);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
Cell* reflect(Cell* value, int32_t field);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
Cell* clear(Cell* value);
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
           Cell* skip, bool last, bool reverse, bool tail, bool match);
int32_t length_q(Cell* value);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_q);
Cell* remove(Cell* value, Cell* part, Cell* key);
Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_q, bool same, bool any, Cell* with,
             Cell* skip, bool last, bool reverse);

void register_type();

}  // namespace zuv::map
