// Small helpers for unit tests: catching a language error, reading a string!.
#pragma once

#include <string>

#include "runtime/cell.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/fire.hpp"
#include "runtime/throw.hpp"

namespace zuv::test {

// Runs body; answers "category/id" of the language error it raised, or ""
// when it ended normally.
template <class Body>
std::string raised(Body&& body) {
    uint32_t code = runtime::catch_scope(THROW_ERROR, body);
    if (code == 0) code = runtime::thrown_code;  // an error raised as a status is left pending
    if (code != THROW_ERROR) return "";
    runtime::thrown_code = 0;
    const PendingError& e = runtime::pending_error();
    return std::string(runtime::category_name(e.category)) + "/" + e.id;
}

// The characters of a string! from its head, as UTF-8-free Latin-1 text
// (tests compare ASCII).
inline std::string text_of(Cell* str) {
    std::string out;
    int32_t head = int32_t(str->w1);
    for (int32_t i = head, n = string::total_length(str); i < n; i++) out += char(string::char_at(str, i));
    return out;
}

}  // namespace zuv::test
