// The low-level throw: one C++ exception type carrying a 32-bit code.
//
// A catch scope receives every code up to its level (compared unsigned) and
// lets higher codes pass on. The code in flight is also kept in the runtime
// record's thrown-code field, which the receiver clears once handled.
#pragma once

#include <cstdint>

namespace zuv {

constexpr uint32_t THROW_ERROR = 0x7FFFFFFF;     // language error
constexpr uint32_t THROW_BREAK = 0x7FFFFFFE;
constexpr uint32_t THROW_CONTINUE = 0x7FFFFFFD;
constexpr uint32_t THROW_RETURN = 0x7FFFFFFC;
constexpr uint32_t THROW_EXIT = 0x7FFFFFFB;
constexpr uint32_t THROW_THROW = 0x7FFFFFFA;
constexpr uint32_t THROW_INT_OVERFLOW = 0x7FFFFFF9;  // inside integer! power only
constexpr uint32_t THROW_MEMORY_LEVEL = 0x7FFFFFF8;  // catch level of the memory manager
constexpr uint32_t THROW_FRAME_RESERVE = 0x7FFFFFF7;
constexpr uint32_t THROW_FRAME_RELEASE = 0x7FFFFFF6;
constexpr uint32_t THROW_QUIT = 0x0BADCAFE;          // quit marker: silent exit 0

struct Throw {
    uint32_t code;
    // An error raised before the stacks could be unrolled to a try (early
    // start-up, an error while another is built, a unit test's raise with
    // no try frame): only the C++ code around it receives it.
    bool bare = false;
};

namespace runtime {

extern uint32_t thrown_code;

// Raises code; never returns.
[[noreturn]] inline void throw_code(uint32_t code) {
    thrown_code = code;
    throw Throw{code};
}
// Re-raises the code held in the thrown-code field.
[[noreturn]] inline void unwind_to_handler() { throw Throw{thrown_code}; }
// Raises THROW_ERROR as a bare error (see Throw).
[[noreturn]] inline void throw_bare_error() {
    thrown_code = THROW_ERROR;
    throw Throw{THROW_ERROR, true};
}

// Runs body under a catch scope of the given level. Returns 0 when the body
// ended normally, else the code it received (left in thrown_code for the
// caller to clear when it handles it). Higher codes pass on untouched.
template <class Body>
uint32_t catch_scope(uint32_t level, Body&& body) {
    try {
        body();
        return 0;
    } catch (const Throw& t) {
        if (t.code > level) throw;
        thrown_code = t.code;
        return t.code;
    }
}

}  // namespace runtime
}  // namespace zuv
