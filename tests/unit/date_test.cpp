#include <gtest/gtest.h>

#include "runtime/datatypes/date.hpp"

using namespace zuv;

namespace {

// Every day from year -9999 to 9999 converts to a valid calendar date and
// back to the same day number, one day after the one before it.
TEST(DateCalendar, DayNumbersRoundTripOverTheWholeRange) {
    int32_t first = date::days_of(-9999, 1, 1), last = date::days_of(9999, 12, 31);
    int32_t year = -10000, month = 12, day = 31;
    for (int32_t n = first; n <= last; n++) {
        uint32_t d = date::from_days(n, 0, false);
        int32_t y = date::year_of(d), m = date::month_of(d), dd = date::day_of(d);
        ASSERT_EQ(date::days_of(y, m, dd), n) << y << "-" << m << "-" << dd;
        ASSERT_TRUE(m >= 1 && m <= 12 && dd >= 1 && dd <= date::month_length(y, m)) << n;
        bool next_day = y == year && m == month && dd == day + 1;
        bool next_month = y == year && m == month + 1 && dd == 1 && day == date::month_length(year, month);
        bool next_year = y == year + 1 && m == 1 && dd == 1 && month == 12 && day == 31;
        ASSERT_TRUE(next_day || next_month || next_year) << y << "-" << m << "-" << dd;
        year = y, month = m, day = dd;
    }
}

TEST(DateCalendar, WeekdaysAndZones) {
    struct {
        int32_t year, month, day, weekday;
    } cases[] = {{1970, 1, 1, 4}, {2000, 2, 29, 2}, {2021, 1, 1, 5}, {0, 3, 1, 3}, {-1, 12, 31, 5}, {-400, 1, 1, 6}};
    for (auto& c : cases) EXPECT_EQ(date::weekday_of(date::days_of(c.year, c.month, c.day)), c.weekday) << c.year;

    struct {
        int32_t minutes, zone;
    } zones[] = {{0, 0}, {60, 4}, {-330, 0x40 | 22}, {945, 63}, {-945, 0x40 | 63}, {20, -1}, {960, -1}, {-1, -1}};
    for (auto& z : zones) {
        EXPECT_EQ(date::zone_from_minutes(z.minutes), z.zone) << z.minutes;
        if (z.zone >= 0) {
            EXPECT_EQ(date::zone_seconds(uint32_t(z.zone)), z.minutes * 60);
        }
    }
}

}  // namespace
