// libFuzzer target over the three DEFLATE decoders: no input reads or
// writes out of bounds, every answer is one of the documented results, and a
// measuring pass agrees with a decoding pass (which alone checks the zlib
// and gzip checksums).
//
// The first byte chooses the mode, the rest is the data:
//   bits 0-1  the decoder: 0 and 3 inflate, 1 zlib-inflate, 2 gunzip
//   bit 2     decode into a small area (64 bytes) instead of the measured size
//   bit 3     measure with a limit of 1,000 bytes
// What decodes is compressed again and must come back unchanged.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "services/deflate.hpp"

using namespace zuv;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "inflate_fuzz: %s\n", what);
    std::abort();
}

using Decoder = int (*)(uint8_t*, int64_t*, const uint8_t*, int64_t, int64_t);
using Encoder = int (*)(uint8_t*, int64_t*, const uint8_t*, int64_t);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const Decoder decoders[] = {deflate::inflate, deflate::zlib_inflate, deflate::gunzip, deflate::inflate};
    const Encoder encoders[] = {deflate::compress, deflate::zlib_deflate, deflate::gzip, deflate::compress};
    Decoder decoder = decoders[mode & 3];
    const uint8_t* in = data + 1;
    const int64_t length = int64_t(size - 1);
    // Exactly as long as the data: reading past it is caught.
    std::vector<uint8_t> input(in, in + length);

    int64_t limit = (mode & 8) ? 1000 : INT64_MAX;
    int64_t measured = 0;
    int result = decoder(nullptr, &measured, input.data(), length, limit);
    if (result < 0 || result > 5) fail("an undocumented result");
    if (result != 0 && result != 1) return 0;
    if (measured < 0) fail("a negative size");
    if (measured > limit && result != 1) fail("passed the limit without saying so");
    if (measured > limit) return 0;
    // DEFLATE cannot expand a byte into more than 258 bytes per bit.
    if (measured > length * 8 * 258 + 258) fail("more output than the input can code");

    int64_t capacity = (mode & 4) ? 64 : measured;
    std::vector<uint8_t> out(static_cast<size_t>(capacity));
    int64_t decoded = capacity;
    result = decoder(out.data(), &decoded, input.data(), length, INT64_MAX);
    if (decoded != measured) fail("the decoding pass and the measuring pass disagree on the size");
    if (capacity < measured) {
        if (result != 1) fail("a short area was not reported");
        return 0;
    }
    // Only the framings' checksums, which need the bytes, are left to this pass.
    bool framed = (mode & 3) == 1 || (mode & 3) == 2;
    if (result == 2 && framed) return 0;
    if (result != 0) fail("the decoding pass failed where the measuring pass did not");

    out.resize(static_cast<size_t>(measured));
    // The compressor gives it back unchanged through the same framing.
    Encoder encoder = encoders[mode & 3];
    int64_t packed_size = measured + 32;
    std::vector<uint8_t> packed(static_cast<size_t>(packed_size));
    if (encoder(packed.data(), &packed_size, out.data(), measured) == 1) {
        packed.resize(size_t(packed_size));
        if (encoder(packed.data(), &packed_size, out.data(), measured) != 0) fail("the second encoding failed");
    }
    packed.resize(size_t(packed_size));
    std::vector<uint8_t> again(static_cast<size_t>(measured));
    int64_t again_size = measured;
    if (decoder(again.data(), &again_size, packed.data(), packed_size, INT64_MAX) != 0 || again != out)
        fail("a round trip changed the data");
    return 0;
}
