// datatype!: form, mold and compare of values that name a datatype.
#include "runtime/datatypes/datatype.hpp"

#include "evaluator/stack.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/memory.hpp"

namespace zuv::datatype {

Cell* make_in(const Cell* block, int32_t type) { return make_at(cell::append_new_cell(block), type); }
Cell* push(int32_t type) { return make_at(stack::push_raw(), type); }

namespace {

// Appends the first n bytes of the type's name; an id without a registered
// name (a damaged value) appends nothing.
int32_t append_name(const Cell* value, Cell* buffer, bool with_bang) {
    int32_t type = get_value(value);
    if (!known_q(type)) return 0;
    const TypeName& entry = type_names[type];
    int32_t n = entry.length + (with_bang ? 1 : 0);
    string::append_bytes(buffer, reinterpret_cast<const uint8_t*>(entry.name), n);
    return n;
}

}  // namespace

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    return part - append_name(value, buffer, false);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
    if (all) string::concatenate_literal(buffer, "#(");
    int32_t n = append_name(value, buffer, true);
    if (all) {
        string::concatenate_literal(buffer, ")");
        n += 3;
    }
    return part - n;
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    switch (op) {
        case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SAME: case COMP_FIND:
            return type_of(value2) == TYPE_DATATYPE && value2->w1 == value1->w1 ? 0 : 1;
        default: return COMPARE_INCOMPARABLE;
    }
}

namespace {

constexpr SlotEntry row[] = {
    NONE, NONE, NONE, NONE,                           // make random reflect to
    slot<Act::form, &datatype::form>,
    slot<Act::mold, &datatype::mold>,
    NONE, NONE,                                       // eval-path, (never filled)
    slot<Act::compare, &datatype::compare>,
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

void register_datatype() { register_type(TYPE_DATATYPE, 0, "datatype!", row); }

}  // namespace zuv::datatype
