// What the PARSE engine and its value matching share: the input kinds and
// the one place that reads an input element by kind.
//
// Every routine takes the input as a cell (its index in word 1) and reads the
// series through its node at each call: nothing here keeps an address across
// an allocation. The fast loops read the buffer once and never allocate.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::parse {

// Input kinds: cells, characters (units of 1, 2 or 4 bytes), bytes.
enum Kind : uint8_t { BLOCK_KIND, STRING_KIND, BINARY_KIND };
Kind kind_of(uint32_t type);

// Elements of the input's series from its first one to its tail.
int32_t series_length(const Cell* input);
// The element at absolute index i as a value: the cell of a block, a char!
// of a string, an integer! byte of a binary!.
void element_at(const Cell* input, int32_t i, Cell* out);

// Matches the literal rule at the input's index, not past end (an absolute
// index): true with the matched length in *length. mode: 0 or 2.
bool match_literal(const Cell* input, const Cell* rule, int32_t mode, int32_t end, int32_t* length);

// Matches the literal rule again and again from the input's index, at most
// max times (-1: no limit); *count gets the rounds that matched and the
// input's index moves past them. True when count >= min.
bool repeat_literal(Cell* input, const Cell* rule, int32_t min, int32_t max, int32_t mode, int32_t end,
                    int32_t* count);

// The first position from the input's index (before end) where the literal
// rule matches, with the matched length in *length; -1 when there is none.
// In text or bytes only a bitset!, char!, any-string or binary! may be
// searched for, else script parse-rule.
int32_t search(const Cell* input, const Cell* rule, int32_t mode, int32_t end, int32_t* length);

// Equality of a block element and a rule value under mode; a lit-word! or
// lit-path! rule also matches the word! or path! of the same spelling.
bool compare_element(const Cell* element, const Cell* rule, int32_t mode);

}  // namespace zuv::parse
