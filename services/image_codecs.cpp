// The codecs' common ground: the pixel buffer, the signatures and the
// choice of a decoder or an encoder by format.
#include "services/image_codecs.hpp"

#include <climits>
#include <cstring>

namespace zuv::image_codecs {

int64_t max_pixels = INT32_MAX;

bool allocate(Pixels* out, int64_t width, int64_t height) {
    if (width < 1 || height < 1 || width > MAX_SIDE || height > MAX_SIDE || width * height > max_pixels)
        return false;
    out->data.reset(static_cast<uint32_t*>(std::malloc(size_t(width * height) * 4)));
    if (!out->data) return false;
    out->width = int32_t(width);
    out->height = int32_t(height);
    return true;
}

int32_t sniff(const uint8_t* d, size_t n) {
    auto starts = [&](const char* text, size_t length) { return n >= length && std::memcmp(d, text, length) == 0; };
    if (starts("\x89PNG", 4)) return PNG;
    if (starts("\xFF\xD8\xFF", 3)) return JPEG;
    if (starts("BM", 2)) return BMP;
    if (starts("GIF87a", 6) || starts("GIF89a", 6)) return GIF;
    if (starts("II*\0", 4) || starts("MM\0*", 4)) return TIFF;
    return -1;
}

bool decode(const uint8_t* data, size_t size, Pixels* out) {
    switch (sniff(data, size)) {
    case PNG: return decode_png(data, size, out);
    case JPEG: return decode_jpeg(data, size, out);
    case BMP: return decode_bmp(data, size, out);
    case GIF: return decode_gif(data, size, out);
    case TIFF: return decode_tiff(data, size, out);
    default: return false;
    }
}

bool encode(int32_t format, const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out) {
    out->clear();
    if (width < 1 || height < 1) return false;
    switch (format) {
    case BMP: return encode_bmp(pixels, width, height, out);
    case PNG: return encode_png(pixels, width, height, out);
    case GIF: return encode_gif(pixels, width, height, out);
    case JPEG: return encode_jpeg(pixels, width, height, out);
    case TIFF: return encode_tiff(pixels, width, height, out);
    default: return false;
    }
}

}  // namespace zuv::image_codecs
