// issue! actions: make and to from words and text, the "#" mold, and a
// comparison that sets issues apart from the other words.
#include "runtime/datatypes/issue.hpp"

#include <string>

#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/unicode.hpp"

namespace zuv::issue {

Cell* make_at(Cell* c, const uint8_t* name, int32_t length) {
    int32_t symbol = symbol::make_from_utf8(name, length);
    return word::make_bound(c, TYPE_ISSUE, _context::global, symbol, -1);
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD: case TYPE_REFINEMENT:
    case TYPE_ISSUE:
        *proto = *spec;  // binding, symbol and index kept
        return cell::set_type(proto, uint32_t(type));
    case TYPE_CHAR: {
        uint8_t bytes[4];
        int32_t n = unicode::encode_utf8_char(spec->w2, bytes);
        make_at(cell::begin(proto), bytes, n);
        break;
    }
    case TYPE_STRING: {
        std::string name = url::utf8_of(spec);
        if (name.empty()) return word::make(proto, spec, type);  // no name: word!'s error
        make_at(cell::begin(proto), reinterpret_cast<const uint8_t*>(name.data()), int32_t(name.size()));
        break;
    }
    default:
        return word::make(proto, spec, type);
    }
    return cell::set_type(proto, uint32_t(type));
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    Cell v = *value;
    string::append_char(buffer, '#');
    return word::form(&v, buffer, arg, part - 1);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_ISSUE) return COMPARE_INCOMPARABLE;
    return word::compare(value1, value2, op);
}

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &issue::make>,
    NONE, NONE,                                                  // random, reflect
    slot<Act::to, &issue::make>,
    INHERIT,                                                     // form: the spelling
    slot<Act::mold, &issue::mold>,
    NONE, NONE,                                                  // eval-path, (empty)
    slot<Act::compare, &issue::compare>,
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

void register_type() { datatype::register_type(TYPE_ISSUE, TYPE_WORD, "issue!", row); }

}  // namespace zuv::issue
