#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

#include "runtime/os.hpp"
#include "runtime/throw.hpp"

using namespace zuv;

namespace {

constexpr uint32_t ZONE_WEST = 0x40;

uint32_t zone_of(uint32_t date) { return date & 0x7F; }

// Sets TZ for the life of the object and restores it afterwards.
class ZoneScope {
public:
    explicit ZoneScope(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ZoneScope() {
        if (had_) ::setenv("TZ", old_.c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

}  // namespace

TEST(PackedDate, Layout) {
    uint32_t d = platform::pack_date(2024, 11, 30, 60, true);
    EXPECT_EQ(d >> 17, 2024u);
    EXPECT_EQ((d >> 16) & 1, 1u);
    EXPECT_EQ((d >> 12) & 0xF, 11u);
    EXPECT_EQ((d >> 7) & 0x1F, 30u);
    EXPECT_EQ(zone_of(d), 4u);
}

TEST(PackedDate, ZoneInQuarterHours) {
    struct Case {
        int minutes;
        uint32_t zone;
    };
    const Case cases[] = {
        {330, 22},              // Asia/Kolkata
        {-210, ZONE_WEST | 14},  // America/St_Johns in winter
        {-330, ZONE_WEST | 22},
        {345, 23},              // Asia/Kathmandu
        {-30, ZONE_WEST | 2},   // under an hour west keeps its sign
        {0, 0},
        {840, 56},              // Pacific/Kiritimati
    };
    for (const Case& c : cases) EXPECT_EQ(zone_of(platform::pack_date(2024, 1, 15, c.minutes, false)), c.zone) << c.minutes;
}

TEST(PackedDate, CurrentDateInAGivenZone) {
    {
        ZoneScope india("IST-5:30");
        EXPECT_EQ(zone_of(platform::get_date(false)), 22u);
    }
    {
        ZoneScope newfoundland("<-0330>3:30");
        EXPECT_EQ(zone_of(platform::get_date(false)), ZONE_WEST | 14);
    }
}

TEST(PackedDate, UtcHasZoneZeroAndNoTime) {
    uint32_t d = platform::get_date(true);
    EXPECT_EQ(zone_of(d), 0u);
    EXPECT_EQ((d >> 16) & 1, 0u);
    EXPECT_GE(d >> 17, 2024u);
    uint32_t month = (d >> 12) & 0xF, day = (d >> 7) & 0x1F;
    EXPECT_TRUE(month >= 1 && month <= 12);
    EXPECT_TRUE(day >= 1 && day <= 31);
}

TEST(OsClock, TimeOfDay) {
    double coarse = platform::get_time(false);
    EXPECT_GE(coarse, 0.0);
    EXPECT_LT(coarse, 86400.0);
    EXPECT_EQ(coarse, double(int64_t(coarse)));
    double precise = platform::get_time(true);
    EXPECT_GE(precise, 0.0);
    EXPECT_LT(precise, 86400.0);
}

TEST(OsClock, ShortWaitSleepsAtLeastOneMillisecond) {
    for (double seconds : {0.0005, 0.0, -1.0}) {
        auto start = std::chrono::steady_clock::now();
        platform::wait(seconds);
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1)) << seconds;
    }
}

TEST(OsEnvironment, SetGetAndRemove) {
    std::string value;
    ASSERT_TRUE(platform::set_env("ZUV_OS_TEST", "abc"));
    ASSERT_TRUE(platform::get_env("ZUV_OS_TEST", value));
    EXPECT_EQ(value, "abc");
    ASSERT_TRUE(platform::set_env("ZUV_OS_TEST", nullptr));
    EXPECT_FALSE(platform::get_env("ZUV_OS_TEST", value));
    EXPECT_FALSE(platform::set_env("A=B", "x"));
}

TEST(OsCurrentDir, ChangeAndRead) {
    std::string before = platform::get_current_dir();
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(platform::set_current_dir("/"));
    EXPECT_EQ(platform::get_current_dir(), "/");
    EXPECT_FALSE(platform::set_current_dir("/no/such/folder/here"));
    ASSERT_TRUE(platform::set_current_dir(before.c_str()));
}

TEST(OsVirtualMemory, ReserveUseAndRelease) {
    constexpr size_t size = 1 << 20;
    auto* p = static_cast<uint8_t*>(platform::virtual_alloc(size));
    p[0] = 1;
    p[size - 1] = 2;
    EXPECT_EQ(p[0] + p[size - 1], 3);
    platform::virtual_free(p, size);
}

TEST(OsVirtualMemory, RefusalsAreLowLevelThrows) {
    uint32_t code = 0;
    try {
        platform::virtual_alloc(size_t(1) << 62);
    } catch (const Throw& t) {
        code = t.code;
    }
    EXPECT_EQ(code, THROW_FRAME_RESERVE);
    code = 0;
    try {
        platform::virtual_free(reinterpret_cast<void*>(0x1001), 4096);  // not page-aligned
    } catch (const Throw& t) {
        code = t.code;
    }
    EXPECT_EQ(code, THROW_FRAME_RELEASE);
    runtime::thrown_code = 0;  // handled, as the memory manager clears it after these throws
}
