// The runtime's own block compressor: an LZ format for data stored in the
// program image (serialized values whose header says they are compressed).
//
// Compressed data, little-endian:
//   bytes 0-3   C, the bytes of block data after this 8-byte header
//   bytes 4-7   U, the decompressed size
//   then blocks: a 4-byte length L (1 to 1 MiB of output), then a bit stream
//   read least significant bit first, refilled a byte at a time and emptied
//   at the start of every block:
//     0 + 8 bits             a literal byte
//     1 + length + distance  a match of length + 3 bytes (3 to 566) copied
//                            byte by byte from (current - distance - 1) of
//                            the same block's output
//   length: 1 + 2 bits (0-3) | 01 + 2 bits (4-7) | 001 + 2 bits (8-11) |
//           0001 + 3 bits (12-19) | 00001 + 5 bits (20-51) | 00000 + 9 bits (52-563)
//   distance: 4 bits w, nb = 2 + w; nb = 2: the next 3 bits (0-7); else
//             2^nb + the next nb bits
//
// Every input read is bounded by C and by the real input length; running out
// of input, a block length outside 1 to 1 MiB, output beyond U + 8 bytes, a
// match reaching before its block or past its end all count as corrupt data.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace zuv::compressor {

constexpr int32_t MAX_BLOCK = 1 << 20;
// Decompressed sizes above this are refused as corrupt: a header cannot ask
// for more memory than any stored payload needs.
constexpr uint32_t MAX_OUTPUT = 1u << 28;

// The bytes the data decompresses to, or nothing when it is corrupt.
std::optional<std::vector<uint8_t>> decompress(const uint8_t* data, size_t length);

// Compresses bytes into the format above (used to make stored payloads and
// test data).
std::vector<uint8_t> compress(const uint8_t* data, size_t length);

}  // namespace zuv::compressor
