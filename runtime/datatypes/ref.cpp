// ref! text form and registration.
#include "runtime/datatypes/ref.hpp"

#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"

namespace zuv::ref {

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    string::append_char(buffer, '@');
    return string::form(value, buffer, arg, part - 1);
}

namespace {

constexpr SlotEntry row[] = {
    INHERIT,                                                     // make
    NONE,                                                        // random
    INHERIT, INHERIT, INHERIT,                                   // reflect, to, form
    slot<Act::mold, &ref::mold>,
    NONE, NONE,                                                  // eval-path, (empty)
    INHERIT,                                                     // compare
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20 math
    NONE, NONE, NONE, NONE,                                      // 21-24 logic
    NONE,                                                        // append
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,                 // at back change clear copy
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,        // find head head? index? insert length?
    INHERIT, INHERIT, INHERIT, INHERIT,                          // move next pick poke
    NONE,                                                        // put
    INHERIT, INHERIT, INHERIT,                                   // remove reverse select
    NONE,                                                        // sort
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,                 // skip swap tail tail? take
    NONE, NONE, NONE, NONE,                                      // trim create close delete
    INHERIT,                                                     // modify
    NONE, NONE, NONE, NONE, NONE, NONE, NONE,                    // open ... write
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_REF, TYPE_STRING, "ref!", row); }

}  // namespace zuv::ref
