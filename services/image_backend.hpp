// The image backend: the record behind every image! value and the
// operations on its pixels: make, decode, encode, copy, clip and scale.
//
// A record's pixels are width x height 32-bit values 0xAARRGGBB, rows from
// the top without gaps (in memory the bytes B, G, R, A; A is the opacity,
// 255 opaque, never premultiplied). Records live in the externals table
// under the kind "image"; an image! value reaches its record through a
// small byte series (its node is the value's word 2) holding the externals
// index, read back with a bounds check. So the collector keeps a record
// alive exactly while a live value names it, and the pixels themselves
// never move: a pixel address stays valid while the image value that led
// to it is reachable.
//
// The codecs themselves (services/image_codecs.hpp) know nothing of
// records; this backend hands them pixels and adopts what they decode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.hpp"
#include "services/image_codecs.hpp"

namespace zuv::image_backend {

constexpr int32_t MAX_SIDE = int32_t(image_codecs::MAX_SIDE);

// Record flags. The pixels are always the one current buffer; the flags
// keep the bookkeeping of which state they are in.
constexpr uint32_t BITMAP_CURRENT = 0x01;  // the pixel buffer is made
constexpr uint32_t PIXELS_WRITTEN = 0x02;  // pixels were written since the source was last taken
constexpr uint32_t PREMULTIPLIED = 0x10;   // the source was last taken premultiplied

struct Bitmap {
    int32_t width;
    int32_t height;
    uint32_t* pixels;
    uint32_t flags;
    Bitmap* previous;
    Bitmap* next;
};

// Registers the externals kind "image" and the collector's mark callback.
void init();
// The externals kind of image records (0 before init).
int32_t kind();

// c := an image! (head 0) of a new width x height record with every pixel
// `fill` and the flags BITMAP_CURRENT | PIXELS_WRITTEN; a side of 0 gives an
// image without pixels (word 2 is 0). A side outside 0..MAX_SIDE raises
// script invalid-arg with the size; more than 2^31 - 1 pixels, or a record
// too large for memory, raises internal no-memory. May collect: c must be
// a cell the collector marks (a data stack cell) or a cell no collection
// can see until it is stored.
Cell* new_image(Cell* c, int32_t width, int32_t height, uint32_t fill);

// The record of an image value, or null when it has no pixels.
Bitmap* bitmap_of(const Cell* image);

// The pixels of an image for reading or writing; writing sets
// PIXELS_WRITTEN. An image without pixel data raises access bad-media.
uint32_t* lock_pixels(const Cell* image, bool write);

// The pixels as the codecs take them (straight, not premultiplied): clears
// PIXELS_WRITTEN and PREMULTIPLIED.
const uint32_t* image_source(Bitmap* record);

// c := an image of width x height made from a colour tuple (3 components
// opaque, the fourth the transparency 255 - A), else from RGB bytes (3 a
// pixel, white past them) and alpha bytes (transparency, 255 - A; opaque
// past them). Sides as new_image.
Cell* make_bitmap(Cell* c, int32_t width, int32_t height, const Cell* colour, const std::vector<uint8_t>& rgb,
                  const std::vector<uint8_t>& alpha);

// c := an image of width x height from B, G, R, A bytes, rows `stride`
// bytes apart (0: width x 4), the top row first.
Cell* bitmap_from_memory(Cell* c, int32_t width, int32_t height, int64_t stride, const uint8_t* bgra);

// c := the image of the first frame of encoded data (PNG, JPEG, BMP, GIF or
// TIFF, told by its signature) or of a file's bytes; false, with c
// untouched, when the data does not decode (unknown, truncated, corrupt, or
// a side above MAX_SIDE).
bool load_bytes(Cell* c, const uint8_t* data, size_t size);
bool load_file(Cell* c, const std::string& path);

// The image's pixels encoded in a format (0 BMP, 1 PNG, 2 GIF, 3 JPEG,
// 4 TIFF) into out; an image of width or height 0 gives no bytes. Another
// format number prints "Cannot find image encoder" and answers false. An
// image that has a size but no pixel data raises access bad-media, and so
// does an encoder that fails (an image too large for its format).
bool encode(const Cell* image, int32_t format, std::vector<uint8_t>* out);

// result := a new image with its own pixels: the whole image, or the
// rectangle (x, y, width, height) cut at the image's edges (nothing, an
// image of 0 x 0, when (x, y) lies outside it or the rectangle is empty).
Cell* copy_image(const Cell* image, Cell* result);
Cell* copy_image_part(const Cell* image, Cell* result, int32_t x, int32_t y, int32_t width, int32_t height);

// result := the image scaled to width x height by nearest neighbour (sides
// as new_image; 0 gives an image without pixels).
Cell* scale_image(const Cell* image, Cell* result, int32_t width, int32_t height);

// The stored pixel at a linear index (row x width + column), and writing one
// (which sets PIXELS_WRITTEN). An index outside the pixels raises script
// out-of-range; an image without pixel data raises access bad-media.
uint32_t get_pixel(const Cell* image, int32_t index);
void set_pixel(const Cell* image, int32_t index, uint32_t value);

// The collector's mark of an image record and the externals release of one.
void mark_image(Node* record);
void release_image(void* bitmap);

// Bytes of pixels held by live records (for tests and statistics).
int64_t live_bytes();

}  // namespace zuv::image_backend
