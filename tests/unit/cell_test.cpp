#include <gtest/gtest.h>

#include "runtime/cell.hpp"

using namespace zuv;

TEST(Cell, SetTypeKeepsFlags) {
    Cell c{};
    c.header = FLAG_NEW_LINE | TYPE_INTEGER;
    cell::set_type(&c, TYPE_BLOCK);
    EXPECT_EQ(type_of(&c), TYPE_BLOCK);
    EXPECT_TRUE(cell::new_line_q(&c));
}

TEST(Cell, CopyOntoItselfChangesNothing) {
    Cell c{TYPE_INTEGER, 7, 8, 9};
    copy_cell(&c, &c);
    EXPECT_EQ(c.header, uint32_t(TYPE_INTEGER));
    EXPECT_EQ(c.w1, 7u);
    EXPECT_EQ(c.w3, 9u);
}

TEST(Cell, FloatLivesInWordsTwoAndThree) {
    Cell c{TYPE_FLOAT, 0xAAAA, 0, 0};
    cell::put_float(&c, 2.5);
    EXPECT_EQ(cell::get_float(&c), 2.5);
    EXPECT_EQ(c.w1, 0xAAAAu);
}
