// logic!: true and false, the truth tests, and the logic action slots.
#include "runtime/datatypes/logic.hpp"

#include "evaluator/random.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zuv::logic {

Cell* make_in(const Cell* block, bool value) { return make_at(cell::append_new_cell(block), value); }

Cell* box(bool value) { return make_at(stack::arguments, value); }
Cell* push(bool value) { return make_at(stack::push_raw(), value); }

bool top_true_q() {
    const Cell* c = stack::top > stack::arguments ? stack::top - 1 : stack::arguments;
    return !false_q(c);
}

bool cell_true_q(const Cell* c, bool check, const Cell* word) {
    if (check && type_of(c) == TYPE_UNSET) fire(ErrorCategory::script, "no-value", word);
    return !false_q(c);
}

bool true_strict_q(const Cell* c) {
    if (type_of(c) == TYPE_UNSET) fire(ErrorCategory::script, "no-return");
    return !false_q(c);
}

Cell* to(Cell* proto, Cell* spec, int32_t) {
    switch (type_of(spec)) {
        case TYPE_LOGIC: return copy_cell(spec, proto);
        case TYPE_NONE: return make_at(proto, false);
        default: return make_at(proto, true);  // 0 and "" included
    }
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
        case TYPE_INTEGER: return make_at(proto, spec->w2 != 0);
        // A NaN differs from 0.0, so it makes true.
        case TYPE_FLOAT:
        case TYPE_PERCENT: return make_at(proto, cell::get_float(spec) != 0.0);
        default: return to(proto, spec, type);
    }
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    bool v = get_value(value) != 0;
    string::concatenate_literal(buffer, v ? "true" : "false");
    return part - (v ? 4 : 5);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* arg, int32_t part, int32_t) {
    if (!all) return form(value, buffer, arg, part);
    bool v = get_value(value) != 0;
    string::concatenate_literal(buffer, v ? "#(true)" : "#(false)");
    return part - (v ? 7 : 8);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_LOGIC) return COMPARE_INCOMPARABLE;
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
        case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
            return int32_t(get_value(value1)) - int32_t(get_value(value2));  // false before true
        default: return COMPARE_INCOMPARABLE;  // logic values have no order
    }
}

Cell* complement(Cell* value) {
    value->w1 ^= 1;
    return value;
}

// True for the upper half of the draws (0..2147483647).
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        zuv::random::seed(value->w1);
        return unset::make_at(value);
    }
    int32_t r = secure ? zuv::random::secure_int() : zuv::random::next_int();
    return make_at(value, r > 0x3FFFFFFF);
}

namespace {

void bitwise(int32_t op) {
    Cell* result = stack::arguments;
    const Cell* other = result + 1;
    if (type_of(other) != TYPE_LOGIC) {
        rt_support::fire_expect_arg(type_of(other), 1);  // names the called function's second argument
    }
    switch (op) {
        case OP_AND: result->w1 &= other->w1; break;
        case OP_OR: result->w1 |= other->w1; break;
        default: result->w1 ^= other->w1; break;
    }
}

}  // namespace

void and_t() { bitwise(OP_AND); }
void or_t() { bitwise(OP_OR); }
void xor_t() { bitwise(OP_XOR); }

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &logic::make>,
    slot<Act::random, &logic::random>,
    NONE,                                             // reflect
    slot<Act::to, &logic::to>,
    slot<Act::form, &logic::form>,
    slot<Act::mold, &logic::mold>,
    NONE, NONE,                                       // eval-path, (never filled)
    slot<Act::compare, &logic::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    slot<Act::and_t, &logic::and_t>,
    slot<Act::complement, &logic::complement>,
    slot<Act::or_t, &logic::or_t>,
    slot<Act::xor_t, &logic::xor_t>,
    NONE, NONE, NONE, NONE, NONE, NONE,                          // 25-30
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 31-40
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 41-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-60
    NONE, NONE,                                                  // 61-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_LOGIC, 0, "logic!", row); }

}  // namespace zuv::logic
