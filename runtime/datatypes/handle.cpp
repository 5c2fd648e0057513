// handle! text forms, comparison and registration.
#include "runtime/datatypes/handle.hpp"

#include <cstring>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/word.hpp"

namespace zuv::handle {

namespace {

constexpr const char* CLASS_NAMES[] = {"null", "fd", "monitor", "window", "font", "rich-text"};
constexpr int32_t CLASS_COUNT = int32_t(sizeof CLASS_NAMES / sizeof CLASS_NAMES[0]);

}  // namespace

Cell* make_at(Cell* c, int32_t value, int32_t handle_class) {
    cell::begin(c);
    c->w1 = uint32_t(handle_class);
    c->w2 = uint32_t(value);
    c->w3 = uint32_t(-1);
    return cell::set_type(c, TYPE_HANDLE);
}

Cell* box(int32_t value, int32_t handle_class) { return make_at(stack::arguments, value, handle_class); }
Cell* push(int32_t value, int32_t handle_class) { return make_at(stack::push_raw(), value, handle_class); }
Cell* push_null() { return push(0, NULL_HANDLE); }

void define_null_handle() {
    Cell* value = push_null();
    Cell name = word::from_c_string("null-handle");
    word::set(&name, value);
    stack::pop(1);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    string::concatenate_literal(buffer, string::int_to_hex(int32_t(value->w2), false));
    string::append_char(buffer, 'h');
    return part - 9;
}

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell* arg, int32_t part, int32_t) {
    if (!all) {
        string::concatenate_literal(buffer, "handle!");
        return part - 7;
    }
    string::concatenate_literal(buffer, "#[handle! ");
    part = form(value, buffer, arg, part - 10);
    int32_t handle_class = int32_t(value->w1);
    if (handle_class > 0 && handle_class < CLASS_COUNT) {
        const char* name = CLASS_NAMES[handle_class];
        string::append_char(buffer, ' ');
        string::concatenate_literal(buffer, name);
        part -= 1 + int32_t(std::strlen(name));
    }
    string::append_char(buffer, ']');
    return part - 1;
}

int32_t compare(Cell* value1, Cell* value2, int32_t) {
    if (type_of(value2) != TYPE_HANDLE) return 1;
    int32_t a = int32_t(value1->w2), b = int32_t(value2->w2);
    return a < b ? -1 : a > b ? 1 : 0;
}

namespace {

constexpr SlotEntry row[] = {
    NONE, NONE, NONE, NONE,                                      // make random reflect to
    slot<Act::form, &handle::form>,
    slot<Act::mold, &handle::mold>,
    NONE, NONE,                                                  // eval-path, (empty)
    slot<Act::compare, &handle::compare>,
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

void register_type() { datatype::register_type(TYPE_HANDLE, TYPE_INTEGER, "handle!", row); }

}  // namespace zuv::handle
