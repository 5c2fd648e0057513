#include <gtest/gtest.h>

#include "runtime/collector.hpp"
#include "runtime/slots.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "tests/unit/fixture.hpp"

using namespace zuv;

namespace {

struct Slots : ::testing::Test {
    void SetUp() override { test::ensure_runtime(); }
};

Cell integer_of(int32_t v) {
    Cell c{};
    return *integer::make_at(&c, v);
}

}  // namespace

TEST_F(Slots, TheHundredAndFirstAllocationDoublesTheCapacity) {
    for (int32_t i = 1; i <= 100; i++) {
        Cell v = integer_of(i * 10);
        ASSERT_EQ(slots::alloc(&v), i);
    }
    EXPECT_EQ(slots::capacity, 100);
    Cell v = integer_of(1010);
    EXPECT_EQ(slots::alloc(&v), 101);
    EXPECT_EQ(slots::capacity, 200);
    for (int32_t i = 1; i <= 101; i++) EXPECT_EQ(slots::get(i)->w2, uint32_t(i * 10));
}

TEST_F(Slots, LastFreedIsFirstReusedAndZeroIsIgnored) {
    Cell v = integer_of(1);
    int32_t numbers[10];
    for (int32_t& n : numbers) n = slots::alloc(&v);
    int32_t head = slots::free_head;
    slots::free(0);
    EXPECT_EQ(slots::free_head, head);
    slots::free(numbers[4]);
    Cell w = integer_of(55);
    EXPECT_EQ(slots::alloc(&w), numbers[4]);
    EXPECT_EQ(slots::get(numbers[4])->w2, 55u);
    EXPECT_EQ(slots::alloc(&w), numbers[9] + 1);
}

TEST_F(Slots, StoredValuesSurviveCollections) {
    int32_t number;
    {
        Cell b{};
        block::make_at(&b, 1);
        integer::make_in(&b, 99);
        number = slots::alloc(&b);
    }
    collector::enabled = true;
    collector::collect();
    collector::enabled = false;
    Cell* b = slots::get(number);
    ASSERT_EQ(type_of(b), TYPE_BLOCK);
    EXPECT_EQ(block::zs_head(b)->w2, 99u);
}
