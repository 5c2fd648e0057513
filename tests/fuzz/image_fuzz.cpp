// libFuzzer target over one image decoder, chosen when the target is built
// (ZUV_IMAGE_DECODER: decode_png, decode_jpeg, decode_bmp, decode_gif or
// decode_tiff): no input reads or writes out of bounds, and whatever
// decodes has a size in range and goes through the PNG encoder and back
// unchanged.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "services/image_codecs.hpp"

using namespace zuv;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "image_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Images of 256K pixels at most: a declared size beyond it is refused
    // before anything is allocated, which keeps each run small.
    image_codecs::max_pixels = 1 << 18;
    // Exactly as long as the data: reading past it is caught.
    std::vector<uint8_t> input(data, data + size);
    image_codecs::Pixels p;
    if (!image_codecs::ZUV_IMAGE_DECODER(input.data(), input.size(), &p)) return 0;
    if (p.width < 1 || p.height < 1 || int64_t(p.width) * p.height > image_codecs::max_pixels)
        fail("a size out of range");
    std::vector<uint8_t> png;
    if (!image_codecs::encode_png(p.data.get(), p.width, p.height, &png)) fail("the PNG encoder failed");
    image_codecs::Pixels again;
    if (!image_codecs::decode_png(png.data(), png.size(), &again) || again.width != p.width ||
        again.height != p.height)
        fail("the PNG encoder's output does not decode");
    for (int64_t i = 0; i < int64_t(p.width) * p.height; i++)
        if (again.data[size_t(i)] != p.data[size_t(i)]) fail("a PNG round trip changed a pixel");
    return 0;
}
