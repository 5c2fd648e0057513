// PNG through libpng's simplified interface.
//
// Every PNG (palette, grey, 16-bit, interlaced, with or without alpha or a
// transparent colour) is read as 8-bit BGRA, once its chunks are seen to
// lie whole inside the data. A 16-bit image without a gamma
// chunk is taken as sRGB-encoded, so its samples scale straight down to 8
// bits instead of being treated as linear light.
#include <png.h>

#include <cstring>

#include "services/image_codecs.hpp"

namespace zuv::image_codecs {

namespace {

png_image new_png_image() {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    return image;
}

// True when every chunk up to IEND lies whole inside the data. libpng
// allocates (and clears) a chunk's declared length before it finds the data
// missing: an 84-byte file can ask for a gigabyte. A chunk that runs past
// the end, or no IEND, means a truncated file.
bool chunks_inside(const uint8_t* data, size_t size) {
    size_t at = 8;  // past the signature
    while (size - at >= 12) {
        const uint8_t* c = data + at;
        const size_t length = size_t(c[0]) << 24 | size_t(c[1]) << 16 | size_t(c[2]) << 8 | c[3];
        if (length > size - at - 12) return false;
        if (std::memcmp(c + 4, "IEND", 4) == 0) return true;
        at += 12 + length;
    }
    return false;
}

}  // namespace

bool decode_png(const uint8_t* data, size_t size, Pixels* out) {
    if (size < 8 || !chunks_inside(data, size)) return false;
    png_image image = new_png_image();
    if (!png_image_begin_read_from_memory(&image, data, size)) {
        png_image_free(&image);
        return false;
    }
    image.format = BGRA_IN_MEMORY ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    if (!allocate(out, image.width, image.height)) {
        png_image_free(&image);
        return false;
    }
    // The row stride 0 means rows of width x 4 bytes without gaps.
    if (!png_image_finish_read(&image, nullptr, out->data.get(), 0, nullptr)) {
        png_image_free(&image);
        out->data.reset();
        return false;
    }
    return true;
}

bool encode_png(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out) {
    const int64_t count = int64_t(width) * height;
    bool opaque = true;
    for (int64_t i = 0; i < count && opaque; i++) opaque = alpha(pixels[i]) == 255;
    // An opaque image is written without its alpha channel: a quarter smaller.
    std::vector<uint8_t> bgr;
    const void* buffer = pixels;
    png_image image = new_png_image();
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = BGRA_IN_MEMORY ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
    if (opaque) {
        bgr.resize(size_t(count) * 3);
        for (int64_t i = 0; i < count; i++) {
            bgr[size_t(i) * 3] = uint8_t(blue(pixels[i]));
            bgr[size_t(i) * 3 + 1] = uint8_t(green(pixels[i]));
            bgr[size_t(i) * 3 + 2] = uint8_t(red(pixels[i]));
        }
        buffer = bgr.data();
        image.format = PNG_FORMAT_BGR;
    }
    // Room for the largest the data can come to, untouched until written.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    std::unique_ptr<uint8_t[], FreeDeleter> room(static_cast<uint8_t*>(std::malloc(size)));
    if (!room || !png_image_write_to_memory(&image, room.get(), &size, 0, buffer, 0, nullptr)) {
        png_image_free(&image);
        return false;
    }
    out->assign(room.get(), room.get() + size);
    return true;
}

}  // namespace zuv::image_codecs
