// Character display width from the generated range tables.
#include <gtest/gtest.h>

#include "runtime/char_width.hpp"

using namespace zuv;

TEST(CharWidth, Widths) {
    struct Case {
        uint32_t cp;
        int32_t width, cjk;
    };
    const Case cases[] = {
        {0x0, 0, 0},      {0x9, 1, 1},      {0x1B, 1, 1},     {'a', 1, 1},     {0x7F, 1, 1},
        {0x9F, 1, 1},     {0xA0, 1, 1},     {0xA1, 1, 2},     {0x301, 0, 0},   {0x36F, 0, 0},
        {0x370, 1, 1},    {0x1100, 2, 2},   {0x4E00, 2, 2},   {0xFF21, 2, 2},  {0x1F600, 2, 2},
        {0x20000, 2, 2},  {0x2FFFD, 2, 2},  {0x3FFFD, 2, 2},  {0xE000, 1, 2},  {0xFFFD, 1, 2},
        {0xE0100, 0, 0},  {0x10FFFD, 1, 2}, {0x10FFFF, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(unicode::get_char_width(c.cp), c.width) << std::hex << c.cp;
        EXPECT_EQ(unicode::get_char_width_cjk(c.cp), c.cjk) << std::hex << c.cp;
    }
}

TEST(CharWidth, TablesAreSortedDisjointRanges) {
    const struct {
        const uint32_t* table;
        int32_t count;
    } tables[] = {{unicode::width_data::zero, unicode::width_data::zero_count},
                  {unicode::width_data::wide, unicode::width_data::wide_count},
                  {unicode::width_data::ambiguous, unicode::width_data::ambiguous_count}};
    for (const auto& t : tables) {
        ASSERT_EQ(t.count % 2, 0);
        for (int32_t i = 0; i < t.count; i += 2) {
            EXPECT_LE(t.table[i], t.table[i + 1]);
            if (i > 0) {
                EXPECT_GT(t.table[i], t.table[i - 1] + 1);  // adjacent ranges are merged
            }
            // Both ends of a range are in the table, the code point after it is not.
            EXPECT_TRUE(unicode::in_ranges_q(t.table[i], t.table, t.count));
            EXPECT_TRUE(unicode::in_ranges_q(t.table[i + 1], t.table, t.count));
            EXPECT_FALSE(unicode::in_ranges_q(t.table[i + 1] + 1, t.table, t.count));
        }
    }
}
