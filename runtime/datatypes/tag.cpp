// tag! text forms and registration.
#include "runtime/datatypes/tag.hpp"

#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"

namespace zuv::tag {

int32_t form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    string::append_char(buffer, '<');
    part = string::form(value, buffer, arg, part - 1);
    string::append_char(buffer, '>');
    return part - 1;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

namespace {

constexpr SlotEntry row[] = {
    INHERIT,                                                     // make
    NONE,                                                        // random
    INHERIT, INHERIT,                                            // reflect, to
    slot<Act::form, &tag::form>,
    slot<Act::mold, &tag::mold>,
    INHERIT,                                                     // eval-path
    NONE,                                                        // (empty)
    INHERIT,                                                     // compare
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20 math
    NONE, NONE, NONE, NONE,                                      // 21-24 logic
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,        // append at back change clear copy
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,        // find head head? index? insert length?
    INHERIT, INHERIT, INHERIT, INHERIT,                          // move next pick poke
    INHERIT,                                                     // put
    INHERIT, INHERIT, INHERIT,                                   // remove reverse select
    NONE,                                                        // sort
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,                 // skip swap tail tail? take
    NONE, NONE, NONE, NONE,                                      // trim create close delete
    INHERIT,                                                     // modify
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,                    // open ... write
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_TAG, TYPE_STRING, "tag!", row); }

}  // namespace zuv::tag
