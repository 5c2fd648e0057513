#include <gtest/gtest.h>

#include <vector>

#include "runtime/array.hpp"
#include "runtime/memory.hpp"
#include "tests/unit/fixture.hpp"

namespace zuv {
namespace {

class DynArray : public ::testing::Test {
protected:
    void SetUp() override { test::ensure_runtime(); }

    static std::vector<uint32_t> ints(Node a) {
        std::vector<uint32_t> out;
        for (int32_t i = 1; i <= dyn_array::get_length(a); i++) out.push_back(dyn_array::pick_int(a, i));
        return out;
    }
};

TEST_F(DynArray, EmptyArrayStillHasRoomAndKeepsItsUnit) {
    for (int32_t unit : {1, 2, 4, 8, 16}) {
        Node a = dyn_array::make(0, unit);
        EXPECT_EQ(dyn_array::get_length(a), 0);
        EXPECT_GE(memory::buffer_of(a)->size, 16);
        EXPECT_EQ(dyn_array::get_flags(a) & SERIES_UNIT_MASK, uint32_t(unit));
    }
    Node wide = dyn_array::make(0, 8);
    dyn_array::append_int(wide, 1);
    dyn_array::append_int(wide, 2);
    EXPECT_EQ(dyn_array::get_length(wide), 1);  // two 32-bit words make one 8-byte element
}

TEST_F(DynArray, AppendingPastCapacityKeepsEveryElementInOrder) {
    Node a = dyn_array::make(2, 4);
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < 5000; i++) {
        dyn_array::append_int(a, i * 7 + 1);
        expected.push_back(i * 7 + 1);
    }
    EXPECT_EQ(ints(a), expected);
    EXPECT_EQ(dyn_array::find_int(a, 4999 * 7 + 1), 4999 * 4);  // a byte offset
    EXPECT_EQ(dyn_array::find_int(a, 2), -1);
}

TEST_F(DynArray, RemovingPointers) {
    Node a = dyn_array::make(4, 4);
    for (uint32_t id : {10u, 20u, 30u, 20u}) dyn_array::append_pointer(a, id);
    EXPECT_EQ(dyn_array::remove_pointer(a, 99), -1);
    EXPECT_EQ(ints(a), (std::vector<uint32_t>{10, 20, 30, 20}));
    EXPECT_EQ(dyn_array::remove_pointer(a, 20), 0);  // the first equal one only
    EXPECT_EQ(ints(a), (std::vector<uint32_t>{10, 30, 20}));
    EXPECT_EQ(dyn_array::find_pointer(a, 20), 8);
    EXPECT_EQ(dyn_array::pick_pointer(a, 2), 30u);
}

TEST_F(DynArray, SetTailIndexAndClear) {
    Node a = dyn_array::make(4, 4);
    for (uint32_t v : {1u, 2u, 3u, 4u}) dyn_array::append_int(a, v);
    dyn_array::set_tail_index(a, 3);
    EXPECT_EQ(ints(a), (std::vector<uint32_t>{1, 2}));
    dyn_array::set_tail_index(a, 1);
    EXPECT_EQ(dyn_array::get_length(a), 0);
    dyn_array::append_int(a, 5);
    dyn_array::clear(a);
    EXPECT_EQ(dyn_array::get_length(a), 0);
}

TEST_F(DynArray, InsertAndPoke) {
    Node a = dyn_array::make(4, 4);  // 16 bytes: the fifth element needs a larger buffer
    for (uint32_t v : {2u, 4u, 5u}) dyn_array::append_int(a, v);
    dyn_array::insert_int(a, 1, 0);
    dyn_array::insert_int(a, 3, 2);
    dyn_array::insert_int(a, 6, 5);
    EXPECT_EQ(ints(a), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
    dyn_array::poke_int(a, 6, 60);
    EXPECT_EQ(dyn_array::pick_int(a, 6), 60u);
}

TEST_F(DynArray, BytesAndCopy) {
    Node a = dyn_array::make(0, 1);
    dyn_array::append_byte(a, 'x');
    const uint8_t text[] = "0123456789abcdefghij";
    dyn_array::append_bytes(a, text, 20);
    EXPECT_EQ(dyn_array::get_length(a), 21);
    EXPECT_EQ(dyn_array::pick_byte(a, 1), 'x');
    EXPECT_EQ(dyn_array::pick_byte(a, 21), 'j');
    dyn_array::remove_bytes_at(a, 1, 10);  // the digits
    EXPECT_EQ(dyn_array::get_length(a), 11);
    EXPECT_EQ(dyn_array::pick_byte(a, 2), 'a');

    Node b = dyn_array::copy(a);
    EXPECT_NE(b, a);
    EXPECT_EQ(dyn_array::get_flags(b) & SERIES_UNIT_MASK, 1u);
    EXPECT_EQ(dyn_array::get_length(b), 11);
    dyn_array::append_byte(b, 'z');
    EXPECT_EQ(dyn_array::get_length(a), 11);
    EXPECT_EQ(dyn_array::pick_byte(b, 11), 'j');
}

}  // namespace
}  // namespace zuv
