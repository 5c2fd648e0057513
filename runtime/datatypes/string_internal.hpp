// Helpers shared by the string! sources that search, sort and edit text
// (not part of string!'s interface).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/cell.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/ownership.hpp"

namespace zuv::string::detail {

inline uint32_t unit_of(const Cell* str) { return memory::unit_of(buffer(str)); }
// The head index clamped to 0..total.
inline int32_t clamped_head(const Cell* str) { return std::clamp(int32_t(str->w1), 0, total_length(str)); }
// Address of the character at absolute index i (valid until the next allocation).
inline uint8_t* char_address(const Cell* str, int64_t i) {
    SeriesBuffer* s = buffer(str);
    return memory::head_of(s) + (i << unit_shift(memory::unit_of(s)));
}

// Copies the first n characters of a text value (any-string or binary!)
// from its head to out, which holds n of them (n no more than its length).
inline void copy_chars(const Cell* text, int32_t n, uint32_t* out) {
    SeriesBuffer* s = buffer(text);
    uint32_t unit = memory::unit_of(s);
    const uint8_t* p = memory::head_of(s) + (int64_t(std::max(int32_t(text->w1), 0)) << unit_shift(unit));
    for (int32_t i = 0; i < n; i++, p += unit) out[i] = get_char(p, unit);
}

// The characters of a text value (any-string or binary!) from its head,
// copied out of the series (so that later growth or user code cannot
// disturb them), at most limit of them (limit < 0: all).
inline std::vector<uint32_t> chars_of(const Cell* text, int32_t limit = -1) {
    int32_t n = rs_length_q(text);
    if (limit >= 0 && limit < n) n = limit;
    std::vector<uint32_t> out(size_t(std::max(n, 0)));
    if (n > 0) copy_chars(text, n, out.data());
    return out;
}

// Tells an owned series' owner of a change (see ownership.hpp): true when an
// owner was told. Unowned series pay one flag test. The owner's handler runs
// user code: re-derive every position and pointer after the call.
inline bool notify(const Cell* series, const Cell& action, const Cell* new_value, int32_t index, int32_t part) {
    if (!(buffer(series)->flags & SERIES_OWNED)) return false;
    return ownership::check(series, &action, new_value, index, part);
}

using series::fire_refine_arg;

// Text types searched and edited here: the any-strings and binary!.
inline bool text_series_q(uint32_t type) { return any_string_q(type) || (type & TYPE_MASK) == TYPE_BINARY; }

}  // namespace zuv::string::detail
