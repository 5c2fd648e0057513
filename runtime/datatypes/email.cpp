// email! text form, the `user` and `host` path words, and registration.
#include "runtime/datatypes/email.hpp"

#include <algorithm>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"

namespace zuv::email {

namespace {

// 1 for the word user, 2 for host, 0 for any other element.
int32_t part_of(const Cell* element) {
    if (type_of(element) != TYPE_WORD) return 0;
    int32_t s = symbol::resolve(int32_t(element->w2));
    if (s == symbol::resolve(symbol::make("user"))) return 1;
    if (s == symbol::resolve(symbol::make("host"))) return 2;
    return 0;
}

}  // namespace

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    return string::form(value, buffer, arg, part);
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q) {
    if (type_of(element) == TYPE_INTEGER)
        return string::eval_path(parent, element, value, path, gparent, p_item, index, case_q, get_q, tail_q,
                                 evalp_q);
    int32_t which = part_of(element);
    if (which == 0) fire(ErrorCategory::script, "invalid-path", path ? path : element, element);

    int32_t length = string::get_length(parent);
    int32_t head = int32_t(parent->w1);
    int32_t at = string::index_of_char(parent, '@');
    if (at < 0) at = length;
    int32_t start = which == 1 ? 0 : std::min(at + 1, length);
    int32_t end = which == 1 ? at : length;

    if (value == nullptr || type_of(value) == TYPE_NONE) {
        Cell* out = stack::push_raw();
        cell::begin(out)->w2 = cell::copy_part(parent->w2, head + start, end - start);
        return cell::set_type(out, TYPE_STRING);
    }
    // The part is replaced in place; the email keeps its other text.
    Cell* position = stack::push(parent);
    position->w1 = uint32_t(head + start);
    string::change(position, value, end - start, false, 1);
    return value;
}

namespace {

constexpr SlotEntry row[] = {
    INHERIT,                                                     // make
    NONE,                                                        // random
    INHERIT, INHERIT, INHERIT,                                   // reflect, to, form
    slot<Act::mold, &email::mold>,
    slot<Act::eval_path, &email::eval_path>,
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

void register_type() { datatype::register_type(TYPE_EMAIL, TYPE_STRING, "email!", row); }

}  // namespace zuv::email
