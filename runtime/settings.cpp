// The runtime's reads of the system object (see settings.hpp).
#include "runtime/settings.hpp"

#include "runtime/collector.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/symbol.hpp"

namespace zuv::settings {

namespace {

constexpr int MAX_STEPS = 3;
constexpr int FIELDS = 9;

// The path of each Field, in the enum's order.
constexpr const char* paths[FIELDS][MAX_STEPS] = {
    {"options", "money-digits", nullptr}, {"state", "stack-trace", nullptr}, {"state", "source-files", nullptr},
    {"locale", "months", nullptr},        {"locale", "currencies", "list"},  {"lexer", "exit-states", nullptr},
    {"schemes", nullptr, nullptr},        {"standard", "port", nullptr},     {"standard", "url-parts", nullptr},
};

Cell system_object{};
int32_t symbols[FIELDS][MAX_STEPS] = {};

bool object_q(const Cell* c) {
    uint8_t t = type_of(c);
    return (t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT) && c->w1 != 0;
}

}  // namespace

void set_system(const Cell* system) {
    static bool rooted = false;
    if (!rooted) collector::add_root(&system_object);
    rooted = true;
    for (int f = 0; f < FIELDS; f++)
        for (int s = 0; s < MAX_STEPS && paths[f][s]; s++) symbols[f][s] = symbol::make(paths[f][s]);
    system_object = *system;
}

bool get(Field field, Cell* out) {
    int f = int(field);
    Cell at = system_object;
    for (int s = 0; s < MAX_STEPS && paths[f][s]; s++) {
        if (!object_q(&at)) return false;
        int32_t index = _context::find_word(at.w1, symbols[f][s], true);
        const Cell* value = index < 0 ? nullptr : _context::value_slot(at.w1, index);
        if (!value) return false;
        at = *value;
    }
    *out = at;
    return true;
}

}  // namespace zuv::settings
