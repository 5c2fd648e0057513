// char!: construction, conversion, text forms, comparison and arithmetic.
#include "runtime/datatypes/char.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace zuv::char_ {

namespace {

// A code point from a number, or out-of-range naming the spec.
uint32_t checked_code_point(double d, const Cell* spec) {
    if (!(d >= 0.0 && d < double(MAX_CODE_POINT) + 1.0)) fire(ErrorCategory::script, "out-of-range", spec);
    return uint32_t(d);
}

}  // namespace

Cell* push(uint32_t cp) { return make_at(cell::begin(stack::push_raw()), cp); }
Cell* make_in(const Cell* block, uint32_t cp) { return make_at(cell::append_new_cell(block), cp); }

void do_math(int32_t op) {
    Cell* left = stack::arguments;
    const Cell* right = stack::arguments + 1;
    int32_t b;
    switch (type_of(right)) {
        case TYPE_CHAR:
        case TYPE_INTEGER: b = int32_t(right->w2); break;
        case TYPE_FLOAT: {
            double d = float_::get(right);
            if (integer::float_out_of_range_q(right)) fire(ErrorCategory::math, "overflow");
            b = int32_t(std::trunc(d));
            break;
        }
        case TYPE_VECTOR:
            // The code point with each element, in place in the vector, which is the result.
            copy_cell(vector::do_math_scalar(op, stack::arguments + 1, left, true), left);
            return;
        default: fire_with_datatype("invalid-type", type_of(right));
    }
    int32_t a = int32_t(left->w2);
    int32_t r;
    if (op == OP_DIV) {
        r = integer::do_math(a, b, op, nullptr);  // truncates: a char never becomes a float
    } else {
        Cell scratch = *left;
        r = integer::do_math(a, b, op, &scratch);
        if (type_of(&scratch) != TYPE_CHAR) fire(ErrorCategory::math, "overflow");
    }
    if (r < 0 || uint32_t(r) > MAX_CODE_POINT) fire(ErrorCategory::math, "overflow");
    left->w2 = uint32_t(r);
}

Cell* make(Cell* proto, Cell* spec, int32_t) {
    uint32_t cp = 0;
    switch (type_of(spec)) {
        case TYPE_CHAR:
        case TYPE_INTEGER: cp = checked_code_point(double(int32_t(spec->w2)), spec); break;
        case TYPE_FLOAT:
        case TYPE_PERCENT: cp = checked_code_point(std::trunc(float_::get(spec)), spec); break;
        case TYPE_BINARY: {
            // The UTF-8 character at the head; nothing there, or no whole
            // character, is not a character.
            std::vector<uint8_t> bytes = binary::bytes_of(spec, 4);
            int32_t c = -1;
            if (!bytes.empty()) unicode::decode_utf8_bounded(bytes.data(), bytes.data() + bytes.size(), &c);
            if (c < 0) fire_bad_to_arg(TYPE_CHAR, spec);
            cp = uint32_t(c);
            break;
        }
        default:
            if (!string::any_string_q(type_of(spec))) fire_bad_to_arg(TYPE_CHAR, spec);
            if (string::rs_length_q(spec) <= 0) fire_bad_to_arg(TYPE_CHAR, spec);
            cp = string::char_at(spec, std::max(int32_t(spec->w1), 0));
    }
    return make_at(proto, cp);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    string::append_char(buffer, get(value));
    return part - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
    string::concatenate_literal(buffer, "#\"");
    string::append_escaped_char(buffer, get(value), all);
    string::concatenate_literal(buffer, "\"");
    return part - 4;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    uint8_t t = type_of(value2);
    if ((op == COMP_STRICT_EQUAL || op == COMP_FIND) && t != TYPE_CHAR) return 1;
    if (t != TYPE_CHAR && t != TYPE_INTEGER) return COMPARE_INCOMPARABLE;
    int32_t a = int32_t(value1->w2), b = int32_t(value2->w2);
    return (a > b) - (a < b);
}

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &char_::make>,
    INHERIT,                                // random
    NONE,                                   // reflect
    slot<Act::to, &char_::make>,
    slot<Act::form, &char_::form>,
    slot<Act::mold, &char_::mold>,
    NONE,                                   // eval-path
    NONE,                                   // (never filled)
    slot<Act::compare, &char_::compare>,
    INHERIT,                                // absolute
    slot<Act::add, &math_action<&do_math, OP_ADD>>,
    slot<Act::divide, &math_action<&do_math, OP_DIV>>,
    slot<Act::multiply, &math_action<&do_math, OP_MUL>>,
    NONE,                                   // negate
    NONE,                                   // power
    slot<Act::remainder, &math_action<&do_math, OP_REM>>,
    NONE,                                   // round
    slot<Act::subtract, &math_action<&do_math, OP_SUB>>,
    INHERIT,                                // even?
    INHERIT,                                // odd?
    slot<Act::and_t, &math_action<&do_math, OP_AND>>,
    NONE,                                   // complement
    slot<Act::or_t, &math_action<&do_math, OP_OR>>,
    slot<Act::xor_t, &math_action<&do_math, OP_XOR>>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 25-34
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 35-44
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 45-54
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,              // 55-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_CHAR, TYPE_INTEGER, "char!", row); }

}  // namespace zuv::char_
