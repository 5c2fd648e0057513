// none!: the empty value, and the series actions that answer none on it.
#include "runtime/datatypes/none.hpp"

#include "evaluator/stack.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/memory.hpp"

namespace zuv::none {

Cell* make_in(const Cell* block) { return make_at(cell::append_new_cell(block)); }

Cell* box() { return make_at(stack::arguments); }
Cell* push() { return make_at(stack::push_raw()); }

Cell* make(Cell* proto, Cell*, int32_t) { return make_at(proto); }

int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) {
    string::concatenate_literal(buffer, "none");
    return part - 4;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* arg, int32_t part, int32_t) {
    if (!all) return form(value, buffer, arg, part);
    string::concatenate_literal(buffer, "#(none)");
    return part - 7;
}

int32_t compare(Cell*, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_NONE) return COMPARE_INCOMPARABLE;
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT:
        case COMP_CASE_SORT: case COMP_SAME: case COMP_FIND:
            return 0;
        default: return COMPARE_INCOMPARABLE;
    }
}

// The series argument is the call's result slot; it stays none.
Cell* clear(Cell* series) { return make_at(series); }
Cell* find(Cell* series, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    return make_at(series);
}
int32_t length_q(Cell*) { return -1; }
Cell* remove(Cell* series, Cell*, Cell*) { return make_at(series); }
Cell* select(Cell* series, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    return make_at(series);
}
Cell* take(Cell* series, Cell*, bool, bool) { return make_at(series); }

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &none::make>,
    NONE, NONE,                                       // random reflect
    slot<Act::to, &none::make>,
    slot<Act::form, &none::form>,
    slot<Act::mold, &none::mold>,
    NONE, NONE,                                       // eval-path, (never filled)
    slot<Act::compare, &none::compare>,
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,              // 21-28
    slot<Act::clear, &none::clear>,
    NONE,                                             // copy
    slot<Act::find, &none::find>,
    NONE, NONE, NONE, NONE,                           // head head? index? insert
    slot<Act::length_q, &none::length_q>,
    NONE, NONE, NONE, NONE, NONE,                     // move next pick poke put
    slot<Act::remove, &none::remove>,
    NONE,                                             // reverse
    slot<Act::select, &none::select>,
    NONE, NONE, NONE, NONE, NONE,                     // sort skip swap tail tail?
    slot<Act::take, &none::take>,
    NONE,                                                        // 51
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 52-61
    NONE,                                                        // 62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_NONE, 0, "none!", row); }

}  // namespace zuv::none
