#include <gtest/gtest.h>

#include "evaluator/fast_body.hpp"
#include "evaluator/natives.hpp"
#include "tests/unit/builder.hpp"

using namespace zuv;

// Decoded code calls the natives quiet_q names without moving the epoch on:
// they must be the exits and nothing else.
TEST(QuietNatives, AreTheExitsBySlot) {
    test::ensure_evaluator();  // the table filled
    for (int32_t slot = 1; slot <= natives::TABLE_SLOTS; slot++) {
        Cell fn{};
        cell::set_type(&fn, TYPE_NATIVE);
        fn.w1 = uint32_t(slot);
        natives::Entry entry = natives::entry_at(slot);
        bool exit = entry == natives::break_star || entry == natives::continue_star || entry == natives::exit_star ||
                    entry == natives::return_star;
        EXPECT_EQ(interpreter::fast::quiet_q(fn), exit) << "slot " << slot;
    }
}
