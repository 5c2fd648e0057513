// triple!: the text form and the registration row.
#include "runtime/datatypes/triple.hpp"

#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"

namespace zuv::triple {

namespace {

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    static constexpr char opening[] = "make triple! [";
    int32_t written = int32_t(sizeof opening - 1) + 3;  // the opening, two blanks and "]"
    string::concatenate_literal(buffer, opening);
    const uint32_t words[3] = {value->w1, value->w2, value->w3};
    for (int32_t i = 0; i < 3; i++) {
        if (i) string::concatenate_literal(buffer, " ");
        char text[integer::TEXT_SIZE];
        written += integer::to_text(int32_t(words[i]), text);
        string::concatenate_literal(buffer, text);
    }
    string::concatenate_literal(buffer, "]");
    return part - written;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return form(value, buffer, arg, part);
}

constexpr SlotEntry row[] = {
    NONE, NONE, NONE, NONE,                                      // 1-4
    slot<Act::form, &triple::form>,
    slot<Act::mold, &triple::mold>,
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 7-16
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 17-26
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 27-36
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 37-46
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 47-56
    NONE, NONE, NONE, NONE, NONE, NONE,                          // 57-62
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_TRIPLE, 0, "triple!", row); }

}  // namespace zuv::triple
