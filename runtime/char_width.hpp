// Character display width: the number of terminal columns a code point
// takes, for the line editor's cursor and the text-mode cell grid.
//
// The range tables (char_width_data.cpp) are generated from the Unicode
// character database by tools/gen_width_tables.py.
#pragma once

#include <cstdint>

namespace zuv::unicode {

namespace width_data {
// Flat lists of closed ranges: first, last, first, last, ... ascending.
extern const uint32_t zero[];       // combining and other non-spacing marks
extern const int32_t zero_count;    // values in the list (twice the ranges)
extern const uint32_t wide[];       // East Asian Wide and Fullwidth
extern const int32_t wide_count;
extern const uint32_t ambiguous[];  // East Asian Ambiguous
extern const int32_t ambiguous_count;
}  // namespace width_data

// True when one of the table's ranges holds the code point; count is the
// number of values in the table.
bool in_ranges_q(uint32_t cp, const uint32_t* table, int32_t count);

// 0 for NUL and the non-spacing marks, 1 for the other controls (below
// 0x20 and 0x7F-0x9F), 2 for wide characters, else 1.
int32_t get_char_width(uint32_t cp);

// As get_char_width, but East Asian Ambiguous characters take 2 columns.
int32_t get_char_width_cjk(uint32_t cp);

}  // namespace zuv::unicode
