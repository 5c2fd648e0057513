// Raising language errors.
//
// Provisional form until error! values exist: fire records the category, the
// id and up to three argument cells in the pending error record and raises
// THROW_ERROR. The error datatype replaces the record with a real error value.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv {

enum class ErrorCategory : uint8_t {
    throw_ = 0, note, syntax, script, math, access, reserved1, reserved2, user, internal
};

struct PendingError {
    ErrorCategory category = ErrorCategory::internal;
    const char* id = "";  // catalog spelling, e.g. "no-memory"
    int arg_count = 0;
    Cell args[3] = {};
};

namespace runtime {
PendingError& pending_error();
const char* category_name(ErrorCategory c);  // "script", "math", ...
}  // namespace runtime

[[noreturn]] void fire(ErrorCategory category, const char* id, const Cell* arg1 = nullptr,
                       const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);

}  // namespace zuv
