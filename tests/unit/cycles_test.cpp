#include <gtest/gtest.h>

#include "runtime/cycles.hpp"
#include "runtime/datatypes/string.hpp"
#include "tests/unit/fixture.hpp"
#include "tests/unit/value_helpers.hpp"

using namespace zuv;

namespace {

struct CycleStack : ::testing::Test {
    void SetUp() override { cycles::reset(); }
    void TearDown() override { cycles::reset(); }
};

Cell value_of(uint8_t type, uint32_t w1, uint32_t w2) { return Cell{type, w1, w2, 0}; }

}  // namespace

TEST_F(CycleStack, TheThousandthNestedEntryRaisesTooDeepAndEmptiesTheStack) {
    for (uint32_t i = 1; i < uint32_t(cycles::STACK_SIZE); i++)
        ASSERT_EQ(test::raised([&] { cycles::push(i); }), "") << i;
    EXPECT_EQ(cycles::depth(), 999);
    EXPECT_TRUE(cycles::visited_q(999));
    EXPECT_EQ(test::raised([] { cycles::push(1000); }), "internal/too-deep");
    EXPECT_EQ(cycles::depth(), 0);
    EXPECT_FALSE(cycles::visited_q(1));
    cycles::push(7);  // the next walk starts afresh
    EXPECT_EQ(cycles::depth(), 1);
}

TEST_F(CycleStack, PopDropAndSideBySideVisits) {
    cycles::push(10);
    cycles::pop();
    cycles::push(10);  // the same series again, not nested: no cycle
    EXPECT_EQ(cycles::depth(), 1);
    cycles::push(11);
    cycles::push(12);
    cycles::drop(2);
    EXPECT_EQ(cycles::depth(), 1);
    cycles::drop(5);
    cycles::pop();
    EXPECT_EQ(cycles::depth(), 0);

    cycles::push(3);
    cycles::push(4);
    cycles::forward_entries([](uint32_t* first, uint32_t* end) {
        for (; first < end; first++) *first += 100;
    });
    EXPECT_TRUE(cycles::visited_q(104));
    EXPECT_FALSE(cycles::visited_q(4));
}

TEST_F(CycleStack, Markers) {
    test::ensure_runtime();
    cycles::push(5);   // a series node
    cycles::push(77);  // a context node
    struct { Cell value; bool flag; const char* marker; } cases[] = {
        {value_of(TYPE_BLOCK, 0, 5), true, "[...]"},
        {value_of(TYPE_HASH, 0, 5), true, "[...]"},
        {value_of(TYPE_PAREN, 0, 5), true, "(...)"},
        {value_of(TYPE_MAP, 0, 5), true, "#[...]"},
        {value_of(TYPE_OBJECT, 77, 5), true, "make object! [...]"},
        {value_of(TYPE_GET_PATH, 0, 5), true, "..."},
        {value_of(TYPE_STRING, 0, 5), true, ""},
        {value_of(TYPE_BLOCK, 0, 5), false, "..."},
    };
    for (auto& c : cases) {
        Cell out;
        string::zs_make_at(&out, 4);
        int32_t part = 50;
        EXPECT_TRUE(cycles::mold_cycle_marker(&c.value, &out, part, c.flag));
        std::string text = test::text_of(&out);
        EXPECT_EQ(text, c.marker);
        EXPECT_EQ(part, 50 - int32_t(text.size()));
    }
    // Not on the stack: nothing appended. An object is keyed by its context, not word 2.
    Cell out, other = value_of(TYPE_BLOCK, 0, 6), object = value_of(TYPE_OBJECT, 78, 77);
    string::zs_make_at(&out, 4);
    int32_t part = 50;
    EXPECT_FALSE(cycles::mold_cycle_marker(&other, &out, part, true));
    EXPECT_FALSE(cycles::mold_cycle_marker(&object, &out, part, true));
    EXPECT_EQ(part, 50);
    EXPECT_EQ(test::text_of(&out), "");
}
