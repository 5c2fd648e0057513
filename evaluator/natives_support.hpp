// Helpers shared by the set, conversion and system natives: argument checks
// of refinement arguments for callers that pass the check flag, and text
// taken out of string values as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "evaluator/native_args.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"
#include "runtime/datatypes/typeset.hpp"

namespace zuv::natives::support {

constexpr int32_t ABSENT = -1;

inline bool used(const int32_t* refinements, int32_t i) { return refinements[i] != ABSENT; }
// The first argument cell of a used refinement (null when it is not used).
inline Cell* refinement_arg(const int32_t* refinements, int32_t i) {
    return used(refinements, i) ? stack::arguments + refinements[i] : nullptr;
}

// The call's cell at position must be of one of the types, else expect-arg
// naming the spec's argument word arg_index (words and refinements counted
// from 0). A negative position (an unused refinement) is not checked.
template <size_t N>
inline void check_at(int32_t position, int32_t arg_index, const uint8_t (&types)[N]) {
    if (position < 0) return;
    Cell allowed;
    typeset::make_from_ids(cell::begin(&allowed), types, int32_t(N));
    rt_support::check_argument_type(arg_index, &allowed, stack::arguments + position);
}

// The UTF-8 text of an any-string value from its head (a copy: it stays
// valid across allocations).
std::string utf8_of(const Cell* str);
// The spelling of a word, or the text of a string.
std::string name_of(const Cell* value);

// Type lists of the specs.
constexpr uint8_t ANY_STRING[] = {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF};
constexpr uint8_t ANY_LIST[] = {TYPE_BLOCK, TYPE_PAREN, TYPE_HASH};
constexpr uint8_t INTEGER[] = {TYPE_INTEGER};
constexpr uint8_t LOGIC[] = {TYPE_LOGIC};
constexpr uint8_t BLOCK[] = {TYPE_BLOCK};
constexpr uint8_t WORD[] = {TYPE_WORD};
constexpr uint8_t INTEGER_FLOAT[] = {TYPE_INTEGER, TYPE_FLOAT};

}  // namespace zuv::natives::support
