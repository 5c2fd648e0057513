// String-to-scalar converters, and the float text rules the lexer shares.
//
// The converters read a scalar straight from the characters of a string
// series (units of 1, 2 or 4 bytes) without running the lexer; `to integer!`,
// `make float!` and friends use them on string arguments. None raises an
// error: each writes -1 (or -2 for an integer overflow) into the caller's
// error slot and returns a harmless value, and the caller raises its own
// conversion error. The pointers they take are read at once and never held
// across an allocation.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::lexer {

// Longest float text accepted, in bytes.
constexpr int32_t FLOAT_TEXT_MAX = 312;

// The float syntax: an optional sign, digits with single apostrophes between
// them, an optional "." with digits (apostrophes again only between digits),
// an optional exponent "e" or "E" with an optional sign and at least one
// digit; at least one digit before the exponent. Longer than FLOAT_TEXT_MAX
// fails.
bool float_syntax_q(const uint8_t* text, int32_t length);

// The correctly rounded double of a text that passed float_syntax_q (with
// apostrophes skipped). Overflow gives an infinity, underflow zero.
double float_text_to_double(const uint8_t* text, int32_t length);

// Reads an optional sign and decimal digits; apostrophes are skipped wherever
// they stand. Another character sets *error to -1 and returns the value read
// so far (signed); no digit at all is -1 too; a value outside the 32-bit range
// sets -2 and returns 0.
int32_t string_to_integer(const uint8_t* start, int32_t count, int32_t unit, int32_t* error);

// Reads a float, a comma counting as the decimal point; a text failing the
// float syntax or longer than FLOAT_TEXT_MAX sets *error to -1 and returns a
// quiet NaN.
double string_to_float(const uint8_t* start, int32_t count, int32_t unit, int32_t* error);

// Fills tuple as a tuple! of the dot-separated numbers (each 0-255, 1 to 12
// of them; fewer than 3 are padded with zero bytes to 3). An empty or
// out-of-range part or another character sets *error to -1 (tuple untouched).
Cell* string_to_tuple(const uint8_t* start, int32_t count, int32_t unit, int32_t* error, Cell* tuple);

// Reads a money text [p, end): an optional sign, an optional three-letter
// currency code followed by "$", then digits with single apostrophes between
// them and an optional fraction after a point. A literal needs the "$" and
// takes "," as the point too; the converter takes "$" as optional when no
// code is given. False (money untouched) for any other text, an unknown code,
// more than 17 integer digits or more than 5 decimals.
bool read_money(const uint8_t* p, const uint8_t* end, bool literal, Cell* money);

// Fills money from a money text (read_money's converter rules); any failure,
// also a character beyond ASCII, sets *error to -1 (money untouched).
Cell* string_to_money(const uint8_t* start, int32_t count, int32_t unit, int32_t* error, Cell* money);

// True for the ASCII letters "A"-"Z" and "a"-"z".
inline bool letter_q(uint32_t cp) { return (cp | 0x20) >= 'a' && (cp | 0x20) <= 'z'; }

// Header bits 19-22 of a tuple!: its size in bytes.
constexpr uint32_t TUPLE_SIZE_SHIFT = 19;
constexpr uint32_t TUPLE_SIZE_MASK = 0xFu << TUPLE_SIZE_SHIFT;

}  // namespace zuv::lexer
