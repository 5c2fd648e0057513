// Brings the runtime up once per test process (each test runs in its own process).
#pragma once

#include "runtime/init.hpp"

namespace zuv::test {

inline void ensure_runtime() {
    static const bool ready = [] {
        runtime::init();
        return true;
    }();
    (void)ready;
}

}  // namespace zuv::test
