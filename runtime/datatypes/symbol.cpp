#include "runtime/datatypes/symbol.hpp"

#include <cstring>
#include <string>

#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace zuv::symbol {

namespace {

int32_t c_length(const char* name) { return int32_t(std::strlen(name)); }

// The name string of a symbol! cell that need not lie in the table: its cached
// string, or a temporary one decoded from its UTF-8 bytes.
Node text_of(const Cell& c) {
    if (c.w2) return c.w2;
    SeriesBuffer* s = memory::buffer_of(c.w3);
    return unicode::utf8_series_to_string(c.w3, 0, memory::used_bytes(s), 0, nullptr, false);
}

Cell string_cell(Node text) { return Cell{TYPE_STRING, 0, text, 0}; }

}  // namespace

int32_t make(const char* name) {
    return intern(table, reinterpret_cast<const uint8_t*>(name), c_length(name), false);
}

int32_t make_exact(const char* name) {
    return intern(table, reinterpret_cast<const uint8_t*>(name), c_length(name), true);
}

int32_t make_from_utf8(const uint8_t* bytes, int32_t count) { return intern(table, bytes, count, false); }

int32_t make_from_string(Cell* str) {
    // The text is encoded into memory of our own: interning allocates.
    int32_t chars = string::rs_length_q(str);
    std::string utf8(size_t(chars) * 4 + 1, '\0');
    int32_t bytes = unicode::encode_utf8_into_buffer(str, reinterpret_cast<uint8_t*>(utf8.data()), -1, false);
    return intern(table, reinterpret_cast<const uint8_t*>(utf8.data()), bytes, false);
}

Node cache_string(int32_t id) {
    Node text = cell_at(id)->w2;
    if (text) return text;
    Node bytes = cell_at(id)->w3;
    text = unicode::utf8_series_to_string(bytes, 0, memory::used_bytes(memory::buffer_of(bytes)), 0, nullptr, false);
    cell_at(id)->w2 = text;  // re-derived: the decoding may have moved the table
    return text;
}

Cell* get_cell(int32_t id) {
    cache_string(id);
    return cell_at(id);
}

Cell* name_string_at(int32_t id, Cell* out) {
    Node text = cache_string(id);
    cell::begin(out)->w2 = text;
    return cell::set_type(out, TYPE_STRING);
}

const uint8_t* to_utf8_copy(int32_t id) {
    // Every name is stored with a NUL byte after its tail.
    return name_of(id);
}

bool any_type_q(const Cell* word) { return resolve(int32_t(word->w2)) == resolve(sym::any_type_t); }

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (type_of(value2) != TYPE_SYMBOL) return COMPARE_INCOMPARABLE;
    Cell a = *value1, b = *value2;  // the cells may lie in a series that decoding moves
    Cell text1 = string_cell(text_of(a));
    Cell text2 = string_cell(text_of(b));
    return string::compare_text(&text1, &text2, op, false);
}

void register_type() {
    static constexpr SlotEntry row[62] = {
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, slot<Act::compare, &compare>, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,
        NONE, NONE,
    };
    ZUV_CHECK_ROW(row);
    datatype::register_type(TYPE_SYMBOL, 0, "symbol!", row);
}

}  // namespace zuv::symbol
