// PROVISIONAL float! support, standing in until the float! datatype exists.
// Only what integer! needs: making a float! cell, reading it, a plain text
// form and an ordering of two doubles. Replace every use by the float!
// datatype's own functions when it lands, then delete this file.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::float_shim {

// Fills the cell as a float! holding d in words 2-3 (flag bits kept).
inline Cell* make_at(Cell* c, double d) {
    c->header = (c->header & ~TYPE_MASK) | TYPE_UNSET;
    c->w1 = 0;
    cell::put_float(c, d);
    return cell::set_type(c, TYPE_FLOAT);
}
inline double get(const Cell* c) { return cell::get_float(c); }

// "%.16g" text, with ".0" added when it has no point or exponent
// (2147483648.0); infinities and NaN as 1.#INF, -1.#INF, 1.#NaN.
constexpr int TEXT_SIZE = 32;
int to_text(double d, char (&out)[TEXT_SIZE]);

// -1, 0 or 1 under a comparison operator; with a NaN the pair is unequal for
// the equality operators and incomparable (-2) for the orderings.
int32_t compare(double a, double b, int32_t op);

}  // namespace zuv::float_shim
