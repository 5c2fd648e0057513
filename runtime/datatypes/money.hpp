// money!: an exact decimal amount with an optional currency.
//
//   word 0  header, type byte 49; bit 14 (SIGN_BIT) set for a negative amount
//   word 1  bits 0-7: the currency index (0 none, else the 1-based position of
//           the code in the currency list); bits 8-31: digit bytes 0-2
//   word 2  digit bytes 3-6 (bits 0-7 first)
//   word 3  digit bytes 7-10
//
// The 11 digit bytes hold 22 packed decimal digits, most significant first,
// two per byte (high nibble first): positions 1-17 are the integer part
// (position 17 the units), positions 18-22 the five decimals. The largest
// magnitude is 99999999999999999.99999, the smallest non-zero one 0.00001.
// A zero amount is never stored negative, so that equal amounts hash alike.
//
// The arithmetic works on the magnitude as a count of 0.00001 units (below
// 10^22, so products of operands whose digit counts add up to at most 28 and
// dividends widened by five decimals fit 128 bits); results are written back
// into the packed digits.
//
// The currency list is the one the system starts with: 170 three-letter
// codes whose order is part of the stored format (ZUVBIN keeps the index).
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::money {

__extension__ typedef unsigned __int128 Units;

constexpr int DIGITS = 22;
constexpr int INTEGER_DIGITS = 17;
constexpr int DECIMALS = 5;
constexpr int DIGIT_BYTES = 11;
constexpr uint32_t SIGN_BIT = 0x4000;
constexpr int32_t UNITS_PER_ONE = 100000;
constexpr int CURRENCY_COUNT = 170;

// The codes, in index order (index i + 1 is codes[i]).
extern const char* const currencies[CURRENCY_COUNT];

// The number of decimals form and mold show: system/options/money-digits (2
// when it is not an integer!), or option_digits before the system object
// exists. A value above 5 shows 5; a negative one shows none.
extern int32_t option_digits;
int32_t digits_setting();

// 10^n as Units, n from 0 to 38.
Units power_of_ten(int n);
// One past the largest magnitude: 10^22 units.
Units limit();

// ---- the cell ----

inline bool get_sign(const Cell* c) { return (c->header & SIGN_BIT) != 0; }
inline void set_sign(Cell* c, bool negative) {
    c->header = negative ? c->header | SIGN_BIT : c->header & ~SIGN_BIT;
}
inline int32_t currency_of(const Cell* c) { return int32_t(c->w1 & 0xFF); }
inline void set_currency(Cell* c, int32_t index) { c->w1 = (c->w1 & ~0xFFu) | (uint32_t(index) & 0xFF); }

// The digit bytes of a cell, and the cell's digits from bytes.
void get_digit_bytes(const Cell* c, uint8_t (&bytes)[DIGIT_BYTES]);
void set_digit_bytes(Cell* c, const uint8_t (&bytes)[DIGIT_BYTES]);
// One digit at position 1-22.
int32_t get_digit(const uint8_t (&bytes)[DIGIT_BYTES], int32_t position);
void set_digit(uint8_t (&bytes)[DIGIT_BYTES], int32_t position, int32_t digit);
// 22 minus the leading zero digits (1 for zero).
int32_t digit_count(const uint8_t (&bytes)[DIGIT_BYTES]);

// The magnitude in units of 0.00001, and the cell's digits from one (below limit()).
Units get_units(const Cell* c);
void set_units(Cell* c, Units units);

// -1, 0 or 1 (a zero amount is 0 whatever its sign bit).
int32_t sign(const Cell* c);
inline bool zero_q(const Cell* c) { return sign(c) == 0; }
inline bool negative_q(const Cell* c) { return sign(c) < 0; }
inline bool positive_q(const Cell* c) { return sign(c) > 0; }
// Inverts the sign of a non-zero amount.
void flip_sign(Cell* c);

// Fills the cell as a money! (the new-line flag kept) and returns it; a zero
// magnitude is stored as positive.
Cell* make_at(Cell* c, bool negative, int32_t currency, Units units);
Cell* make_at(Cell* c, bool negative, int32_t currency, const uint8_t (&bytes)[DIGIT_BYTES]);
Cell* push(bool negative, int32_t currency, const uint8_t (&bytes)[DIGIT_BYTES]);

// ---- conversions ----

// The amount of an integer (no currency).
Cell* from_integer_at(Cell* c, int32_t n);
Cell* from_integer(int32_t n);  // pushed
// The amount of a float through its shortest decimal text: an infinity, NaN,
// |x| >= 1e17 or 0 < |x| < 0.00001 raises script bad-make-arg (money!, x);
// so does, when strict, a text with more than 5 decimals. Otherwise extra
// decimals are dropped.
Cell* from_float_at(Cell* c, double x, bool strict);
Cell* from_float(double x, bool strict);  // pushed
// The double nearest the amount.
double to_float(const Cell* c);
// The integer part (truncated toward zero); outside the 32-bit integers
// script type-limit (integer!).
int32_t to_integer(const Cell* c);
bool in_integer_range_q(const Cell* c);
// Fills the cell from decimal digit texts (apostrophes skipped): the integer
// digits and the fraction digits. False (cell untouched) for more than 17
// integer digits after leading zeros, more than 5 fraction digits, a
// character that is not a digit, or a currency index outside the list.
bool make_from_digits(Cell* c, bool negative, int32_t currency, const uint8_t* integer_digits,
                      int32_t integer_length, const uint8_t* fraction_digits, int32_t fraction_length);

// ---- currencies ----

// The list is system/locale/currencies/list once the library has made it
// (scripts may append codes to it), the built-in table before. A money cell
// keeps its index in one byte: the list is read up to MAX_CURRENCIES codes.
constexpr int32_t MAX_CURRENCIES = 255;
// The number of codes in the list.
int32_t currency_count();
// The three capital letters of the code at index; false when there is none.
bool currency_code(int32_t index, char (&code)[3]);
// The 1-based index of a code (ASCII letters, any case), or -1.
int32_t currency_index(const uint8_t* name, int32_t length);
// The index of a word's name, or -1.
int32_t currency_index_of_word(const Cell* word);
// out := the global word of the code at index; false when there is none.
bool currency_word(int32_t index, Cell* out);
// strict: identical indexes; otherwise also true when either has none.
bool same_currency_q(const Cell* a, const Cell* b, bool strict);

// ---- text ----

// Appends the text of the amount: "-", the code, "$", the integer digits
// (with "'" between groups of three when grouping), then "." and the
// decimals that digits_setting asks for (all five with all). Returns part
// minus the characters written.
int32_t form_value(const Cell* c, Cell* buffer, int32_t part, bool all, bool grouping);

// ---- arithmetic and comparison ----

// The call's first argument op its second (ops 0-4 of MathOp); either may be
// the money!, the other an integer!, float! or percent!. The result replaces
// the first argument.
void do_math(int32_t op);
// A money! against a double, for the compare protocol: ordering results -1,
// 0, 1; equality results 0 or 1. Huge and tiny doubles decide by their sign.
int32_t compare_float(const Cell* a, double b, int32_t op);

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* random(Cell* value, bool seed, bool secure, bool only);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
void absolute();
void add();
void divide();
void multiply();
Cell* negate(Cell* value);
void remainder();
Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling);
void subtract();
bool even_q(Cell* value);
bool odd_q(Cell* value);
const Cell* pick(Cell* value, int32_t index, Cell* boxed);

void register_type();

}  // namespace zuv::money
