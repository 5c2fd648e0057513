#include <gtest/gtest.h>

#include <cstring>

#include "runtime/murmur.hpp"

namespace zuv {
namespace {

struct Vector {
    const char* text;
    uint32_t seed;
    uint32_t expected;
};

// Published MurmurHash3_x86_32 vectors, covering every tail length.
constexpr Vector vectors[] = {
    {"", 0, 0},
    {"", 1, 0x514E28B7},
    {"", 0xFFFFFFFF, 0x81F16F39},
    {"test", 0x9747B28C, 0x704B81DC},
    {"Hello, world!", 0x9747B28C, 0x24884CBA},
    {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
    {"a", 0x9747B28C, 0x7FA09EA6},
    {"aa", 0x9747B28C, 0x5D211726},
    {"aaa", 0x9747B28C, 0x283E0130},
    {"abc", 0, 0xB3DD93FA},
};

TEST(Murmur, PublishedVectors) {
    for (const auto& v : vectors)
        EXPECT_EQ(murmur::hash3_x86_32(v.text, std::strlen(v.text), v.seed), v.expected) << '"' << v.text << '"';
}

TEST(Murmur, ZeroBytesAreNotTheEmptyInput) {
    const uint8_t zeros[4] = {0, 0, 0, 0};
    EXPECT_EQ(murmur::hash3_x86_32(zeros, 4, 0), 0x2362F9DEu);
    EXPECT_NE(murmur::hash3_x86_32(zeros, 1, 0), murmur::hash3_x86_32(zeros, 2, 0));
}

}  // namespace
}  // namespace zuv
