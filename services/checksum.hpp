// Checksums, digests and secure random bytes.
//
// CRC-32, Adler-32 and the Internet checksum are computed here; MD5, SHA-1
// and SHA-256/384/512 come from the system's cryptographic library, with
// HMAC (RFC 2104) built on them; random bytes come from getrandom(2).
//
// The `checksum` native chooses a method by a word compared by symbol, so
// the case the user writes does not matter. Method indexes select a digest:
// tcp 0, crc32 1, md5 2, sha1 3, sha256 4, sha384 5, sha512 6; adler32 and
// hash have none (-1).
//
// Nothing here allocates series memory: the functions may be given bytes
// inside a series buffer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::checksum {

// The nine method symbols, made by init_words in this order.
namespace method {
extern int32_t tcp, md5, sha1, crc32, adler32, sha256, sha384, sha512, hash;
}

void init_words();
// True for any of the nine method symbols (any case spelling).
bool method_q(int32_t symbol);
// The digest index of a method symbol, -1 for adler32, hash and other symbols.
int32_t method_index(int32_t symbol);
// Bytes of the digest of an index: 16, 20, 32, 48, 64 for 2..6, else 0.
int32_t digest_size(int32_t index);

uint32_t crc32(const uint8_t* bytes, size_t length);
// The CRC-32 register carried over chunks: start with 0, feed each chunk.
uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length);
uint32_t adler32(const uint8_t* bytes, size_t length);
uint16_t tcp(const uint8_t* bytes, size_t length);

// A digest: up to 64 bytes, size of them used.
struct Digest {
    uint8_t bytes[64];
    int32_t size;
};

// The digest of the bytes under an index 2..6; another index raises script
// invalid-arg (with the index), a failure of the cryptographic library
// internal not-here.
Digest digest(const uint8_t* bytes, size_t length, int32_t index);
// HMAC of the data with the key under a digest index 2..6.
Digest hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length, int32_t index);

// Prints the line "** /hash support not yet implemented; algorithm TBD." and gives 0.
int32_t hash_unsupported();

// Fills the buffer with bytes of the system's cryptographic random source;
// false when that source fails.
bool random_bytes(uint8_t* buffer, size_t length);

}  // namespace zuv::checksum
