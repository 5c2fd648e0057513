// DEFLATE (RFC 1951) with zlib (RFC 1950) and gzip (RFC 1952) framing.
//
// The compressor is one fast pass that writes a single final block with the
// fixed Huffman code: a hashed table of 1,024 buckets of 4 earlier positions,
// the first candidate that matches taken and extended, the slot to replace
// chosen from the bytes that follow. Its output depends only on the input.
//
// The inflater decodes all three block kinds; it looks each symbol up by a
// binary search of a canonical code table (code left-aligned in 32 bits, then
// symbol and length), so it needs no table larger than the alphabets.
//
// Every coder writes into a caller-given area: *size holds the capacity on
// entry and the full size of the output on return, also when that is more
// than the capacity (bytes past it are counted, not stored). So a caller can
// measure with no area and capacity 0, then decode into an area of that size.
// Sizes are 64-bit: a result larger than any series is reported, not wrapped.
//
// Results:
//   0  done
//   1  the output did not fit (*size: the size needed)
//   2  zlib-deflate and gzip: a capacity below the framing's minimum (*size:
//      an estimate); inflaters: malformed or truncated data, a bad header,
//      a checksum or size in the trailer that does not match
//   3  a stored block runs past the end of the input
//   4  a block of type 3
//   5  a distance reaches before the start of the output (*size: the bytes
//      produced before it)
//
// No coder allocates, and no input makes one read or write out of bounds,
// loop without consuming input, or run longer than its output takes.
#pragma once

#include <cstdint>

namespace zuv::deflate {

// The method symbols of compress and decompress: zlib, deflate, gzip.
namespace method {
extern int32_t zlib, deflate, gzip;
}
void init_words();

int compress(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length);
int zlib_deflate(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length);
int gzip(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length);

// out may be null when the capacity is 0. Decoding stops with 1 as soon as
// more than limit bytes are produced (*size then exceeds limit but is not
// the full size): a caller that cannot hold more than limit bytes need not
// wait for the end of the data to know it.
int inflate(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int64_t limit = INT64_MAX);
int zlib_inflate(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int64_t limit = INT64_MAX);
int gunzip(uint8_t* out, int64_t* size, const uint8_t* in, int64_t length, int64_t limit = INT64_MAX);

}  // namespace zuv::deflate
