// Brings the runtime up once per test process (each test runs in its own process).
#pragma once

#include "runtime/fire.hpp"
#include "runtime/init.hpp"

namespace zuv::test {

// Language errors stay catchable in tests: one that no try frame receives is
// raised as the pending error record to the test's own catch
// (runtime::catch_scope, test::raised), the stacks left as they are, instead
// of ending the process with its report. A test that wants the error value
// pushes a try frame; a test of the report sets runtime::uncaught_errors_exit
// in its death-test child.
inline void ensure_runtime() {
    static const bool ready = [] {
        runtime::init();
        return true;
    }();
    (void)ready;
    runtime::uncaught_errors_exit = false;
}

}  // namespace zuv::test
