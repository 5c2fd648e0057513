// percent!: a ratio written with a percent sign. The cell holds the plain
// fraction as a float! does (50% holds 0.5), so every float! action applies
// unchanged; only the text is its own: the value x 100 with at most 13
// significant digits and a final "%" (12.5%, 0.1%, never "100.0%").
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes/float.hpp"

namespace zuv::percent {

inline double get(const Cell* c) { return cell::get_float(c); }
inline Cell* make_at(Cell* c, double fraction) { return float_::make_at_type(c, fraction, TYPE_PERCENT); }
// The current call's result slot made a percent! holding the fraction.
Cell* box(double fraction);
Cell* push(double fraction);
Cell* push_dwords(uint32_t low, uint32_t high);
// A new percent! at the tail of a block (the buffer may move).
Cell* make_in(const Cell* block, uint32_t low, uint32_t high);

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
             int32_t indent);

void register_type();

}  // namespace zuv::percent
