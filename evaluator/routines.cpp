#include "evaluator/routines.hpp"

#include <cstring>

#include "runtime/fire.hpp"

namespace zuv::routines {

namespace {

struct Entry {
    const char* name;  // a string of static lifetime
    Fn fn;
    int32_t type_test = -1;
    TypesetTest typeset_test = nullptr;
};

Entry entries[MAX_ROUTINES];
int32_t used = 0;

}  // namespace

int32_t add(const char* name, Fn fn) {
    if (int32_t found = find(name)) {
        entries[found - 1].fn = fn;
        entries[found - 1].type_test = -1;
        entries[found - 1].typeset_test = nullptr;
        return found;
    }
    if (used == MAX_ROUTINES) fire(ErrorCategory::internal, "limit-hit");
    entries[used] = {name, fn, -1, nullptr};
    return ++used;
}

int32_t find(const char* name) {
    for (int32_t i = 0; i < used; i++)
        if (std::strcmp(entries[i].name, name) == 0) return i + 1;
    return 0;
}

Fn at(int32_t index) { return index >= 1 && index <= used ? entries[index - 1].fn : nullptr; }

int32_t count() { return used; }

void set_type_test(int32_t index, uint8_t type) {
    if (index >= 1 && index <= used) entries[index - 1].type_test = type;
}

int32_t type_test_of(int32_t index) { return index >= 1 && index <= used ? entries[index - 1].type_test : -1; }

void set_typeset_test(int32_t index, TypesetTest test) {
    if (index >= 1 && index <= used) entries[index - 1].typeset_test = test;
}

TypesetTest typeset_test_of(int32_t index) {
    return index >= 1 && index <= used ? entries[index - 1].typeset_test : nullptr;
}

}  // namespace zuv::routines
