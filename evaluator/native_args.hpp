// Argument checks of native entries called with the check flag set (by C++
// callers that have not checked the types the interpreter checks while
// fetching): each fixed argument against the types of its spec.
#pragma once

#include <cstddef>
#include <cstdint>

#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/cell.hpp"
#include "runtime/datatypes/typeset.hpp"

namespace zuv::natives {

// The argument at position (from `arguments`, also its index among the
// spec's argument words) must be of one of the types, else expect-arg.
inline void check_argument(int32_t position, const uint8_t* types, int32_t count) {
    Cell allowed;
    typeset::make_from_ids(cell::begin(&allowed), types, count);
    rt_support::check_argument_type(position, &allowed, stack::arguments + position);
}
template <size_t N>
inline void check_argument(int32_t position, const uint8_t (&types)[N]) {
    check_argument(position, types, int32_t(N));
}

}  // namespace zuv::natives
