// The length and distance codes of RFC 1951, shared by the compressor and the
// inflater: for each code, the smallest value it stands for and the number of
// extra bits that follow it to give the rest.
#pragma once

#include <cstdint>

namespace zuv::deflate::codes {

// Length codes 257-285, indexed from 0.
inline constexpr uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance codes 0-29.
inline constexpr uint16_t distance_base[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,
                                               33,   49,   65,   97,   129,  193,   257,   385,   513,   769,
                                               1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
inline constexpr uint8_t distance_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

}  // namespace zuv::deflate::codes
