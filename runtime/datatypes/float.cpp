// float!: cells, equality, comparison, form, mold and the registration row.
#include "runtime/datatypes/float.hpp"

#include <cmath>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/float_text.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/memory.hpp"

namespace zuv::float_ {

int32_t option_pretty = 1;
int32_t option_full = 0;

namespace {

constexpr double EPSILON = 2.220446049250313e-16;  // 2^-52

inline double from_dwords(uint32_t low, uint32_t high) { return from_bits(uint64_t(high) << 32 | low); }

// Ordered keys: they rise with the value, and -0.0 and +0.0 share one.
inline uint64_t ordered_key(double d) {
    uint64_t b = bits_of(d);
    return (b >> 63) ? 0 - b : b | (uint64_t(1) << 63);
}

}  // namespace

Cell* box(double d) { return make_at(cell::begin(stack::arguments), d); }
Cell* push(double d) { return make_at(cell::begin(stack::push_raw()), d); }
Cell* push_dwords(uint32_t low, uint32_t high) { return push(from_dwords(low, high)); }
Cell* make_in(const Cell* block, uint32_t low, uint32_t high) {
    return make_at(cell::append_new_cell(block), from_dwords(low, high));
}

// ---- equality ----

bool almost_equal_q(double a, double b) {
    if (nan_q(a) || nan_q(b)) return false;
    if (a == b) return true;
    if (std::fabs(a - b) < EPSILON) return true;
    uint64_t ka = ordered_key(a), kb = ordered_key(b);
    uint64_t distance = ka > kb ? ka - kb : kb - ka;
    return distance <= 10;  // ten units in the last place
}

bool almost_equal32_q(float a, float b) {
    if (nan32_q(a) || nan32_q(b)) return false;
    if (a == b) return true;
    int32_t pa, pb;
    std::memcpy(&pa, &a, sizeof pa);
    std::memcpy(&pb, &b, sizeof pb);
    int32_t ma = pa & 0x7FFFFFFF, mb = pb & 0x7FFFFFFF;
    if (ma >= 0x7F7FFFFF || mb >= 0x7F7FFFFF) {
        // At the top of the range (the largest finite single, infinities).
        int32_t gap = ma > mb ? ma - mb : mb - ma;
        return (pa < 0) == (pb < 0) && gap < 0x100000;
    }
    if (ma == 0 && mb == 0) return true;
    // Negative patterns mirrored below zero so that the patterns rise with the
    // value; no overflow: both magnitudes lie below 0x7F7FFFFF.
    int64_t ka = pa < 0 ? int64_t(INT32_MIN) - pa : pa;
    int64_t kb = pb < 0 ? int64_t(INT32_MIN) - pb : pb;
    int64_t difference = ka - kb;
    return difference >= -10 && difference <= 10;
}

// ---- comparison ----

int32_t compare_double(double a, const Cell* value2, int32_t op) {
    double b;
    switch (type_of(value2)) {
        case TYPE_INTEGER: b = double(int32_t(value2->w2)); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT:
        case TYPE_TIME: b = get(value2); break;
        case TYPE_MONEY: return -money::compare_float(value2, a, op);  // the money's view, turned round
        default: return COMPARE_INCOMPARABLE;
    }
    switch (op) {
        case COMP_EQUAL:
        case COMP_NOT_EQUAL: return almost_equal_q(a, b) ? 0 : 1;
        case COMP_STRICT_EQUAL: return a == b ? 0 : 1;
        case COMP_SAME: return bits_of(a) == bits_of(b) ? 0 : 1;
        default: break;
    }
    if (nan_q(a) || nan_q(b)) {
        // A search finds a NaN only where the series holds a NaN (any other
        // value would match it, as the orderings below come out 0).
        if (op == COMP_FIND) return nan_q(a) && nan_q(b) ? 0 : 1;
        // Every ordering test comes out false.
        switch (op) {
            case COMP_LESSER:
            case COMP_LESSER_EQUAL: return 1;
            case COMP_GREATER:
            case COMP_GREATER_EQUAL: return -1;
            default: return 0;
        }
    }
    return (a > b) - (a < b);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && type_of(value1) != type_of(value2))
        return 1;
    return compare_double(get(value1), value2, op);
}

// ---- text ----

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    char text[FORMAT_SIZE];
    int n = format(get(value), FORMAT_FLOAT, text);
    string::concatenate_literal(buffer, text);
    return part - n;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int32_t part, int32_t) {
    char text[float_text::FORM_SIZE];
    int n = float_text::form_float(get(value), 0, true, text);
    string::concatenate_literal(buffer, text);
    return part - n;
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &float_::make>,
    slot<Act::random, &float_::random>,
    NONE,                                  // reflect
    slot<Act::to, &float_::make>,
    slot<Act::form, &float_::form>,
    slot<Act::mold, &float_::mold>,
    NONE,                                  // eval-path
    NONE,                                  // (never filled)
    slot<Act::compare, &float_::compare>,
    slot<Act::absolute, &float_::absolute>,
    slot<Act::add, &float_::add>,
    slot<Act::divide, &float_::divide>,
    slot<Act::multiply, &float_::multiply>,
    slot<Act::negate, &float_::negate>,
    slot<Act::power, &float_::power>,
    slot<Act::remainder, &float_::remainder>,
    slot<Act::round, &float_::round>,
    slot<Act::subtract, &float_::subtract>,
    slot<Act::even_q, &float_::even_q>,
    slot<Act::odd_q, &float_::odd_q>,
    NONE, NONE, NONE, NONE,                                      // 21-24
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 25-34
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 35-44
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 45-54
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,              // 55-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_FLOAT, 0, "float!", row); }

}  // namespace zuv::float_
