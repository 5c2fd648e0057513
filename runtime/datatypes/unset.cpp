// unset!: the absence of a value.
#include "runtime/datatypes/unset.hpp"

#include "evaluator/stack.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/memory.hpp"

namespace zuv::unset {

Cell* make_in(const Cell* block) { return cell::append_new_cell(block); }  // appended as unset!

Cell* box() { return make_at(stack::arguments); }
Cell* push() { return make_at(stack::push_raw()); }

Cell* make(Cell* proto, Cell*, int32_t) { return make_at(proto); }

int32_t form(Cell*, Cell*, Cell*, int32_t part) { return part; }

int32_t mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
    string::concatenate_literal(buffer, all ? "#(unset)" : "unset");
    return part - (all ? 8 : 5);
}

int32_t compare(Cell*, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_UNSET) return COMPARE_INCOMPARABLE;
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
        case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
            return 0;
        default: return COMPARE_INCOMPARABLE;
    }
}

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &unset::make>,
    NONE, NONE,                                       // random reflect
    slot<Act::to, &unset::make>,
    slot<Act::form, &unset::form>,
    slot<Act::mold, &unset::mold>,
    NONE, NONE,                                       // eval-path, (never filled)
    slot<Act::compare, &unset::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 21-30
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 31-40
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 41-50
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 51-60
    NONE, NONE,                                                  // 61-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_UNSET, 0, "unset!", row); }

}  // namespace zuv::unset
