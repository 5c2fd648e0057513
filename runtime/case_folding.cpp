#include "runtime/case_folding.hpp"

#include <algorithm>

#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/ownership.hpp"
#include "runtime/runtime.hpp"
#include "runtime/words.hpp"

namespace zuv::case_folding {

namespace data {
extern const uint16_t upper_bmp[][2];
extern const int32_t upper_bmp_count;
extern const uint16_t lower_bmp[][2];
extern const int32_t lower_bmp_count;
extern const uint32_t upper_astral[][2];
extern const int32_t upper_astral_count;
extern const uint32_t lower_astral[][2];
extern const int32_t lower_astral_count;
}  // namespace data

namespace {

constexpr int32_t BMP_SIZE = 0x10000;

// Index by code point; 0 means "maps to itself". Live in the tracked heap.
int32_t* upper_table = nullptr;
int32_t* lower_table = nullptr;

int32_t* build(const uint16_t (*pairs)[2], int32_t count) {
    auto* table = static_cast<int32_t*>(runtime::allocate_zeroed(sizeof(int32_t) * BMP_SIZE));
    for (int32_t i = 0; i < count; i++) table[pairs[i][0]] = pairs[i][1];
    return table;
}

// Sorted pair list lookup for code points above the BMP.
uint32_t map_astral(uint32_t cp, const uint32_t (*pairs)[2], int32_t count) {
    if (count == 0 || cp < pairs[0][0] || cp > pairs[count - 1][0]) return cp;
    for (int32_t i = 0; i < count && pairs[i][0] <= cp; i++)
        if (pairs[i][0] == cp) return pairs[i][1];
    return cp;
}

}  // namespace

void init_tables() {
    runtime::free_memory(upper_table);
    runtime::free_memory(lower_table);
    upper_table = build(data::upper_bmp, data::upper_bmp_count);
    lower_table = build(data::lower_bmp, data::lower_bmp_count);
}

uint32_t change_char_case(uint32_t cp, int32_t direction) {
    if (cp >= uint32_t(BMP_SIZE)) {
        return direction == 1 ? map_astral(cp, data::upper_astral, data::upper_astral_count)
                              : map_astral(cp, data::lower_astral, data::lower_astral_count);
    }
    if (upper_table == nullptr) init_tables();
    int32_t mapped = (direction == 1 ? upper_table : lower_table)[cp];
    return mapped != 0 ? uint32_t(mapped) : cp;
}

uint32_t swap_char_case(uint32_t cp) {
    uint32_t up = change_char_case(cp, 1);
    return up != cp ? up : change_char_case(cp, 0);
}

uint32_t to_upper_bmp(uint32_t cp) { return change_char_case(cp, 1); }

Cell* change_case(Cell* value, const Cell* part, int32_t direction) {
    if (type_of(value) == TYPE_CHAR) {
        value->w2 = change_char_case(value->w2, direction);
        return value;
    }
    int32_t length = string::get_length(value);  // pulls a head past the tail back to it
    int32_t head = int32_t(value->w1);
    int32_t count = length;
    if (part != nullptr) {
        if (type_of(part) == TYPE_INTEGER) {
            count = integer::get_value(part);
        } else if (type_of(part) == type_of(value) && part->w2 == value->w2) {
            count = int32_t(part->w1) - head;
        } else {
            series::fire_refine_arg(refinements::part, part);
        }
        count = std::clamp(count, 0, length);
    }
    SeriesBuffer* s = string::buffer(value);
    for (int32_t i = head; i < head + count; i++)
        s = string::overwrite_char(s, i, change_char_case(string::char_at(value, i), direction));
    if (string::buffer(value)->flags & SERIES_OWNED)
        ownership::check(value, direction == 1 ? &words::uppercase : &words::lowercase, nullptr, head, count);
    return value;
}

}  // namespace zuv::case_folding
