// The set natives: union, intersect, unique, difference and exclude. One
// dispatcher checks that the two sets match and hands the work to the set
// operation of the first argument's datatype; the result replaces the first
// argument.
#include "evaluator/natives.hpp"
#include "evaluator/natives_support.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/typeset.hpp"
#include "runtime/fire.hpp"

namespace zuv::natives {

using namespace support;

namespace {

constexpr uint8_t SET_TYPES[] = {TYPE_BLOCK, TYPE_HASH, TYPE_STRING, TYPE_BITSET, TYPE_TYPESET};
constexpr uint8_t DIFFERENCE_TYPES[] = {TYPE_BLOCK, TYPE_HASH, TYPE_STRING, TYPE_BITSET, TYPE_TYPESET, TYPE_DATE};
constexpr uint8_t UNIQUE_TYPES[] = {TYPE_BLOCK, TYPE_HASH, TYPE_STRING};

inline bool cell_set_q(uint32_t type) { return type == TYPE_BLOCK || type == TYPE_HASH; }

// Refinements of every set native: /case, /skip size.
void set_operation(bool check, const int32_t* refinements, int32_t op) {
    Cell* first = stack::arguments;
    const bool unique = op == block::SET_UNIQUE;
    const int32_t skip_index = unique ? 3 : 4;  // the spec position of the word `size`
    if (check) {
        if (unique) {
            check_argument(0, UNIQUE_TYPES);
        } else if (op == block::SET_DIFFERENCE) {
            check_argument(0, DIFFERENCE_TYPES);
            check_argument(1, DIFFERENCE_TYPES);
        } else {
            check_argument(0, SET_TYPES);
            check_argument(1, SET_TYPES);
        }
        check_at(refinements[1], skip_index, INTEGER);
    }
    uint32_t type = type_of(first);
    if (!unique) {
        uint32_t other = type_of(first + 1);
        if (cell_set_q(type) ? !cell_set_q(other) : other != type) {
            Cell a, b;
            datatype::make_at(&a, int32_t(type));
            datatype::make_at(&b, int32_t(other));
            fire(ErrorCategory::script, "expect-val", &a, &b);
        }
    }
    const bool case_q = used(refinements, 0);
    Cell* skip = refinement_arg(refinements, 1);
    switch (type) {
        case TYPE_BLOCK: case TYPE_HASH: block::do_set_op(case_q, skip, op); return;
        case TYPE_STRING: string::do_set_op(case_q, skip, op); return;
        case TYPE_TYPESET:
            if (!unique) {
                typeset::combine(op);
                return;
            }
            break;
        case TYPE_BITSET:
            if (!unique) {
                bitset::combine(op);
                return;
            }
            break;
        case TYPE_DATE:
            if (op == block::SET_DIFFERENCE) {
                date::difference(first, first + 1);  // a time! of days and seconds
                return;
            }
            break;
        default: break;
    }
    rt_support::fire_expect_arg(type, 0);
}

}  // namespace

void union_star(bool check, const int32_t* refinements) { set_operation(check, refinements, block::SET_UNION); }
void intersect_star(bool check, const int32_t* refinements) {
    set_operation(check, refinements, block::SET_INTERSECT);
}
void unique_star(bool check, const int32_t* refinements) { set_operation(check, refinements, block::SET_UNIQUE); }
void difference_star(bool check, const int32_t* refinements) {
    set_operation(check, refinements, block::SET_DIFFERENCE);
}
void exclude_star(bool check, const int32_t* refinements) { set_operation(check, refinements, block::SET_EXCLUDE); }

}  // namespace zuv::natives
