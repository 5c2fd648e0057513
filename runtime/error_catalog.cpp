// The C++ copy of the error catalog and the catalog object built from it.
//
// Until start-up builds `system` from the boot image, the runtime makes its
// own `system/catalog/errors` object from the table: errors can then be made,
// raised and reported in unit tests and in the build tools. The templates are
// read from their source text by a reader that knows only what templates
// hold: strings without escapes, get-words, a lit-word (read as the word it
// evaluates to) and one level of block.
#include "runtime/error_catalog.hpp"

#include <cstdint>
#include <cstring>

#include "evaluator/stack.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/fire.hpp"
#include "runtime/root.hpp"
#include "runtime/symbols.hpp"

namespace zuv::error_catalog {

namespace {

constexpr CategoryInfo category_row(const char* name, int32_t code, const char* title, ErrorCategory c) {
    int32_t first = -1, count = 0;
    for (int32_t i = 0; i < ID_COUNT; i++) {
        if (ids[i].category != c) continue;
        if (first < 0) first = i;
        count++;
    }
    return {name, code, title, first < 0 ? 0 : first, count};
}

const Cell NONE_VALUE{TYPE_NONE, 0, 0, 0};
Cell* errors_cell = nullptr;  // a root block cell once made

Cell word_of(const char* name, int32_t length, uint32_t type) {
    int32_t symbol = symbol::make_from_utf8(reinterpret_cast<const uint8_t*>(name), length);
    return Cell{type, 0, uint32_t(symbol), uint32_t(-1)};
}

// Reads one template item at text into out (a cell that does not move);
// returns the position after it.
const char* read_item(const char* text, Cell* out) {
    while (*text == ' ') text++;
    if (*text == '"') {
        const char* end = std::strchr(text + 1, '"');
        string::load_at(reinterpret_cast<const uint8_t*>(text + 1), int32_t(end - text - 1), out, 0);
        return end + 1;
    }
    uint32_t type = TYPE_WORD;
    if (*text == ':') type = TYPE_GET_WORD;
    if (*text == ':' || *text == '\'') text++;
    const char* end = text;
    while (*end && *end != ' ' && *end != ']') end++;
    *out = word_of(text, int32_t(end - text), type);
    return end;
}

// out := the template's value: a string, a word or a block of items.
void read_template(const char* text, Cell* out) {
    if (*text != '[') {
        read_item(text, out);
        return;
    }
    block::make_at(out, 4);
    Cell* item = stack::push_raw();
    for (const char* p = text + 1;;) {
        while (*p == ' ') p++;
        if (*p == ']' || *p == 0) break;
        p = read_item(p, item);
        block::append_cell(out, item);
    }
    stack::pop(1);
}

void put(Node ctx, Cell word, const Cell* value) { _context::put_value(ctx, &word, value); }

}  // namespace

const CategoryInfo categories[CATEGORY_COUNT] = {
#define ZUV_CATEGORY_ROW(name, spelling, code, title) category_row(spelling, code, title, ErrorCategory::name),
    ZUV_ERROR_CATEGORIES(ZUV_CATEGORY_ROW)
#undef ZUV_CATEGORY_ROW
};

int32_t id_position(ErrorCategory c, const char* id) {
    // A category holds up to a hundred ids: the position last found for the
    // same text is kept by its address (an id is most often a literal, raised
    // again and again, as an error caught in a loop), and checked by one
    // comparison before it is taken.
    struct Kept {
        const char* id;
        ErrorCategory category;
        int32_t position;
    };
    static Kept kept[64] = {};
    const CategoryInfo& info = category(c);
    Kept& k = kept[(reinterpret_cast<uintptr_t>(id) >> 3) & 63];
    if (k.id == id && k.category == c && std::strcmp(ids[info.first + k.position].name, id) == 0) return k.position;
    for (int32_t i = 0; i < info.count; i++)
        if (std::strcmp(ids[info.first + i].name, id) == 0) {
            k = {id, c, i};
            return i;
        }
    return -1;
}

void init() {
    Cell* catalog = object::make_at(stack::push_raw(), CATEGORY_COUNT);
    Cell* category_value = stack::push_raw();
    Cell* value = stack::push_raw();
    for (int32_t c = 0; c < CATEGORY_COUNT; c++) {
        const CategoryInfo& info = categories[c];
        object::make_at(category_value, info.count + 2);
        Node ctx = category_value->w1;
        integer::make_at(cell::begin(value), info.code);
        put(ctx, word_of("code", 4, TYPE_WORD), value);
        string::load_at(reinterpret_cast<const uint8_t*>(info.title), int32_t(std::strlen(info.title)), value, 0);
        put(ctx, word_of("type", 4, TYPE_WORD), value);
        for (int32_t i = 0; i < info.count; i++) {
            const IdInfo& id = ids[info.first + i];
            read_template(id.template_text, value);
            put(ctx, word_of(id.name, int32_t(std::strlen(id.name)), TYPE_WORD), value);
        }
        object::refresh_self(category_value);
        put(catalog->w1, word_of(info.name, int32_t(std::strlen(info.name)), TYPE_WORD), category_value);
    }
    object::refresh_self(catalog);
    errors_cell = block::append_cell(&runtime::root, catalog);
    stack::top = catalog;
}

bool ready_q() { return errors_cell != nullptr; }

const Cell* errors() { return errors_cell ? errors_cell : &NONE_VALUE; }

void set_errors(const Cell* catalog) {
    if (errors_cell) *errors_cell = *catalog;
}

}  // namespace zuv::error_catalog
