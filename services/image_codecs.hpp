// Image codecs: PNG, JPEG, BMP, GIF and TIFF bytes to and from pixels.
//
// Pixels are width x height 32-bit values 0xAARRGGBB, rows from the top
// without gaps: in memory each pixel is the bytes B, G, R, A (32-bit BGRA).
// Alpha is straight, not premultiplied; A = 255 is opaque.
//
// PNG, JPEG, GIF and TIFF stand on libpng, libjpeg-turbo, giflib and
// libtiff; BMP and the GIF colour reduction are written here. The codecs
// reach no runtime state: they take bytes, give pixels, and answer false on
// any input they cannot decode (truncated, corrupt, or declaring a side
// above MAX_SIDE), never reading or writing outside the given bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace zuv::image_codecs {

// The format numbers of the image codecs.
enum Format : int32_t { BMP = 0, PNG = 1, GIF = 2, JPEG = 3, TIFF = 4 };
constexpr int32_t FORMATS = 5;

// An image record holds its size in 16 + 16 bits.
constexpr int64_t MAX_SIDE = 65535;

// The most pixels a decoder allocates: a pixel index is a 32-bit signed
// value. The fuzz targets lower it to keep their memory small.
extern int64_t max_pixels;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};

// A decoded image. The buffer comes from malloc, so that the image backend
// can adopt it without a copy; it is not cleared when allocated (a decoder
// writes every pixel before it answers true).
struct Pixels {
    int32_t width = 0;
    int32_t height = 0;
    std::unique_ptr<uint32_t[], FreeDeleter> data;
};

// Sizes out for width x height pixels, uncleared; false, with nothing
// allocated, when a side is below 1 or above MAX_SIDE, the count passes
// max_pixels or memory is short.
bool allocate(Pixels* out, int64_t width, int64_t height);

// The format whose signature the bytes begin with, or -1: PNG 137 80 78 71,
// JPEG 255 216 255, BMP "BM", GIF "GIF87a" or "GIF89a", TIFF "II" 42 0 or
// "MM" 0 42.
int32_t sniff(const uint8_t* data, size_t size);

// Decodes the first image of the data in the format its signature names.
bool decode(const uint8_t* data, size_t size, Pixels* out);

// The decoders of each format. JPEG comes out opaque; GIF gives its first
// frame (its own size), the transparent index as alpha 0; TIFF its first
// directory, turned upright.
bool decode_png(const uint8_t* data, size_t size, Pixels* out);
bool decode_jpeg(const uint8_t* data, size_t size, Pixels* out);
bool decode_bmp(const uint8_t* data, size_t size, Pixels* out);
bool decode_gif(const uint8_t* data, size_t size, Pixels* out);
bool decode_tiff(const uint8_t* data, size_t size, Pixels* out);

// Encodes width x height pixels (both at least 1) in a format (0-4) into
// out; false for another format number or when the library fails.
bool encode(int32_t format, const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out);

// PNG: 8-bit BGRA, or BGR when every pixel is opaque. JPEG: quality 90,
// without alpha. BMP: 32-bit BGRA with alpha (a version 4 header with bit
// fields), rows from the bottom. GIF: 8-bit palette, exact when the image
// has 256 colours or fewer (pixels with A < 128 count as one transparent
// colour), else reduced by median cut. TIFF: 8-bit RGBA, unassociated alpha.
bool encode_png(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out);
bool encode_jpeg(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out);
bool encode_bmp(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out);
bool encode_gif(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out);
bool encode_tiff(const uint32_t* pixels, int32_t width, int32_t height, std::vector<uint8_t>* out);

// ---- pixel helpers shared by the codecs ----

// A pixel's bytes in memory: B, G, R, A on a little-endian machine, A, R, G,
// B on a big-endian one. The libraries are asked for the matching order.
constexpr bool BGRA_IN_MEMORY = std::endian::native == std::endian::little;

inline uint32_t pixel(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
    return (a & 0xFF) << 24 | (r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF);
}
inline uint32_t red(uint32_t p) { return (p >> 16) & 0xFF; }
inline uint32_t green(uint32_t p) { return (p >> 8) & 0xFF; }
inline uint32_t blue(uint32_t p) { return p & 0xFF; }
inline uint32_t alpha(uint32_t p) { return p >> 24; }

// The GIF colour reduction: at most `colours` palette entries (1-256) for
// the pixels with A >= min_alpha, chosen by median cut, and for each such
// pixel the index of the entry of its box (the others get index 0).
// Deterministic: the same pixels always give the same palette.
struct Palette {
    std::vector<uint32_t> colours;  // 0x00RRGGBB
    std::vector<uint8_t> indexes;   // one a pixel
};
Palette median_cut(const uint32_t* pixels, int64_t count, int32_t colours, uint32_t min_alpha);

}  // namespace zuv::image_codecs
