#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/externals.hpp"
#include "runtime/gc_root.hpp"
#include "runtime/datatypes/block.hpp"
#include "tests/unit/fixture.hpp"

using namespace zuv;

namespace {

std::vector<void*> released;
void record_release(void* object) { released.push_back(object); }

struct Externals : ::testing::Test {
    int32_t kind = 0;
    void SetUp() override {
        test::ensure_runtime();
        released.clear();
        kind = externals::register_kind(0x42495450, record_release);
    }
};

Cell handle_of(int32_t index) {
    Cell c{};
    c.w3 = uint32_t(index);
    return *cell::set_type(&c, TYPE_HANDLE);
}

}  // namespace

TEST_F(Externals, StoringPastTheFirstThousandDoublesTheTable) {
    static int objects[1001];
    std::vector<int32_t> indexes;
    for (int& o : objects) indexes.push_back(externals::store(&o, kind));
    EXPECT_EQ(externals::capacity(), 2000);
    for (int32_t i = 0; i < 1001; i++) {
        const externals::Entry* e = externals::entry_at(indexes[i]);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->object, &objects[i]);
        EXPECT_EQ(int32_t(e->flags & externals::ENTRY_KIND_MASK), kind);
    }
}

TEST_F(Externals, CollectionReleasesUnreachableHandlesOnly) {
    int reachable_object = 0, lost_object = 0;
    Cell holder{};
    collector::Root keep(holder);
    block::make_at(&holder, 1);
    Cell reachable = handle_of(externals::store(&reachable_object, kind));
    block::append_cell(&holder, &reachable);
    int32_t lost = externals::store(&lost_object, kind);
    Cell unreachable = handle_of(lost);
    (void)unreachable;

    collector::enabled = true;
    collector::collect();
    collector::enabled = false;

    auto released_q = [](void* o) { return std::find(released.begin(), released.end(), o) != released.end(); };
    EXPECT_TRUE(released_q(&lost_object));
    EXPECT_FALSE(released_q(&reachable_object));
    EXPECT_EQ(externals::entry_at(lost)->flags, externals::ENTRY_FREE);
    const externals::Entry* kept = externals::entry_at(int32_t(reachable.w3));
    EXPECT_EQ(kept->object, &reachable_object);
    EXPECT_EQ(kept->flags & externals::ENTRY_MARK, 0u) << "only the mark is lost";
}

TEST_F(Externals, RemoveReleasesOnlyWhenAsked) {
    int a = 0, b = 0;
    int32_t ia = externals::store(&a, kind);
    int32_t ib = externals::store(&b, kind);
    EXPECT_EQ(externals::remove(ia, false), -1);
    EXPECT_TRUE(released.empty());
    externals::remove(ib, true);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], &b);
    // Both entries are free again, last freed first reused.
    EXPECT_EQ(externals::store(&a, kind), ib);
    EXPECT_EQ(externals::store(&a, kind), ia);
}

TEST_F(Externals, ReplacingAnObjectReleasesTheOldOne) {
    int a = 0, b = 0;
    int32_t i = externals::store(&a, kind);
    externals::replace_object(i, &a);
    EXPECT_TRUE(released.empty());
    externals::replace_object(i, &b);
    ASSERT_EQ(released.size(), 1u);
    EXPECT_EQ(released[0], &a);
    EXPECT_EQ(externals::entry_at(i)->object, &b);
    EXPECT_FALSE(externals::mark(-1, nullptr));
    EXPECT_FALSE(externals::mark(externals::capacity(), nullptr));
}
