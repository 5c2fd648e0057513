// percent!: cells, text and the registration row (everything else is float!'s).
#include "runtime/datatypes/percent.hpp"

#include "evaluator/stack.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/memory.hpp"

namespace zuv::percent {

namespace {
inline double from_dwords(uint32_t low, uint32_t high) { return float_::from_bits(uint64_t(high) << 32 | low); }
}  // namespace

Cell* box(double fraction) { return make_at(cell::begin(stack::arguments), fraction); }
Cell* push(double fraction) { return make_at(cell::begin(stack::push_raw()), fraction); }
Cell* push_dwords(uint32_t low, uint32_t high) { return push(from_dwords(low, high)); }
Cell* make_in(const Cell* block, uint32_t low, uint32_t high) {
    return make_at(cell::append_new_cell(block), from_dwords(low, high));
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    char text[float_::FORMAT_SIZE];
    int n = float_::format(get(value) * 100.0, float_::FORMAT_PERCENT, text);
    string::concatenate_literal(buffer, text);
    return part - n;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

namespace {

constexpr SlotEntry row[] = {
    INHERIT,                               // make: float!'s, with target percent!
    INHERIT,                               // random
    NONE,                                  // reflect
    INHERIT,                               // to
    slot<Act::form, &percent::form>,
    slot<Act::mold, &percent::mold>,
    NONE,                                  // eval-path
    NONE,                                  // (never filled)
    INHERIT,                               // compare
    INHERIT,                               // absolute
    INHERIT,                               // add
    INHERIT,                               // divide
    INHERIT,                               // multiply
    INHERIT,                               // negate
    INHERIT,                               // power
    INHERIT,                               // remainder
    INHERIT,                               // round (default scale 0.01)
    INHERIT,                               // subtract
    INHERIT,                               // even? (of the fraction)
    INHERIT,                               // odd?
    NONE, NONE, NONE, NONE,                                      // 21-24
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 25-34
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 35-44
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 45-54
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,              // 55-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_PERCENT, TYPE_FLOAT, "percent!", row); }

}  // namespace zuv::percent
