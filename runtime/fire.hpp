// Raising language errors.
//
// fire(category, "id", args...) is the one way the runtime raises a language
// error. It looks the id up in the error catalog (error_catalog.hpp), builds
// the error! value (code, type, id and up to three arguments) and hands it to
// stack::throw_error, which records where it happened and unrolls to the
// nearest try frame; with none, the error is reported and the process ends
// with status -2.
//
// Every raise is also recorded in the pending error record (category, id
// spelling, argument cells), which C++ callers and tests read after catching
// the THROW_ERROR low-level throw. Before the catalog object exists (early
// start-up, build tools) fire only fills that record and raises THROW_ERROR.
// A C++ caller that wants the error value itself runs under a try frame: the
// value is then the last cell pushed on the data stack.
//
// An id that its category does not have is a fault of the raiser: it is
// reported on standard error; a Debug build stops there (assert), a release
// build raises internal invalid-error naming the id instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "runtime/cell.hpp"
#include "runtime/error_catalog.hpp"

namespace zuv {

struct PendingError {
    ErrorCategory category = ErrorCategory::internal;
    const char* id = "";  // catalog spelling, e.g. "no-memory"
    int arg_count = 0;
    Cell args[3] = {};
};

namespace runtime {
PendingError& pending_error();
const char* category_name(ErrorCategory c);  // "script", "math", ...

// Whether an error that no try frame would receive is reported and ends the
// process (the default). The unit tests' fixture clears it: such an error is
// then raised as the bare pending record (no error value is built, the stacks
// are left as they are), for the test's own catch to receive.
extern bool uncaught_errors_exit;
}  // namespace runtime

[[noreturn]] void fire(ErrorCategory category, const char* id, const Cell* arg1 = nullptr,
                       const Cell* arg2 = nullptr, const Cell* arg3 = nullptr);
// The same error left pending (THROW_ERROR, the stacks unrolled to its try)
// instead of thrown: for the evaluator's own code, which hands pending codes
// up on its normal return path. The caller returns at once.
void raise(ErrorCategory category, const char* id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
           const Cell* arg3 = nullptr);

// Errors handed up as a status. A helper that raises with raise (or one of
// the raise_* below) returns at once with the error pending, answering null
// (a cell helper) or false; each caller does the same up to the native's or
// action's entry, which leaves the code pending for the evaluator. A caught
// error then costs no C++ unwind. A C++ caller that cannot hand the status
// on turns it into the low-level throw with stack::raise_pending(), which
// raises it as fire would have: the stacks are already its receiver's.
inline std::nullptr_t raised(ErrorCategory category, const char* id, const Cell* arg1 = nullptr,
                             const Cell* arg2 = nullptr, const Cell* arg3 = nullptr) {
    raise(category, id, arg1, arg2, arg3);
    return nullptr;
}

// internal not-done: a case this build does not handle.
[[noreturn]] inline void fire_not_done() { fire(ErrorCategory::internal, "not-done"); }
// internal no-memory.
[[noreturn]] inline void fire_no_memory() { fire(ErrorCategory::internal, "no-memory"); }

// Runs body: the work of a native, action or routine, at the one boundary
// between the evaluator and C++ code that grows its own containers. A C++
// allocation that fails in it (std::bad_alloc, or a length past what a
// container can hold) becomes internal no-memory, which try catches, as a
// refused series allocation does. The stacks are still as the failure left
// them, so the error unrolls them to its receiver as any other does.
template <class Body>
inline void guard_allocations(Body&& body) {
    try {
        body();
    } catch (const std::bad_alloc&) {
        fire_no_memory();
    } catch (const std::length_error&) {
        fire_no_memory();
    }
}

// Raises script error id whose first argument is the datatype! naming type,
// followed by arg2 when given: invalid-type and type-limit name the type
// alone, bad-make-arg and bad-to-arg the type and the refused spec.
[[noreturn]] void fire_with_datatype(const char* id, int32_t type, const Cell* arg2 = nullptr);
// The same raised as pending (a status, see raised): answers null.
std::nullptr_t raise_with_datatype(const char* id, int32_t type, const Cell* arg2 = nullptr);

// script not-related: the action named by the word does not apply to values
// of the type.
[[noreturn]] void fire_not_related(const Cell* action, int32_t type);
// The same raised as pending (a status, see raised).
void raise_not_related(const Cell* action, int32_t type);

// script bad-to-arg: spec cannot be converted to a value of the type.
[[noreturn]] inline void fire_bad_to_arg(int32_t type, const Cell* spec) {
    fire_with_datatype("bad-to-arg", type, spec);
}
inline std::nullptr_t raise_bad_to_arg(int32_t type, const Cell* spec) {
    return raise_with_datatype("bad-to-arg", type, spec);
}

}  // namespace zuv
