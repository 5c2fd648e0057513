// Case folding: one-to-one upper- and lower-case mappings of code points.
//
// Every case-insensitive comparison, every case-insensitive hash and the
// uppercase/lowercase natives go through these tables: two 65,536-entry
// tables for the BMP (0 = no mapping) built once at start-up from sorted pair
// lists, and two short sorted pair lists for code points above 0xFFFF. A
// mapping to several code points keeps its first one.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::case_folding {

// Builds both BMP tables in the tracked heap; called once by the runtime
// initialisation (and lazily by the first lookup, should it come earlier).
void init_tables();

// direction: 1 upper case, 0 lower case. Returns the mapped code point, or cp.
uint32_t change_char_case(uint32_t cp, int32_t direction);
// Upper-case form, or the lower-case form when the upper-case leaves it unchanged.
uint32_t swap_char_case(uint32_t cp);
uint32_t to_upper_bmp(uint32_t cp);

// ASCII is mapped in place (only a-z and A-Z change there): the search,
// compare and hash loops call these once per character.
inline uint32_t to_upper(uint32_t cp) {
    if (cp < 0x80) return cp - 'a' < 26u ? cp - 32 : cp;
    return change_char_case(cp, 1);
}
inline uint32_t to_lower(uint32_t cp) {
    if (cp < 0x80) return cp - 'A' < 26u ? cp + 32 : cp;
    return change_char_case(cp, 0);
}

// Changes a char! or any-string value in place (a string from its head, the
// count limited by part when part is not null: an integer!, or a position in
// the same series). Returns the value.
Cell* change_case(Cell* value, const Cell* part, int32_t direction);

}  // namespace zuv::case_folding
