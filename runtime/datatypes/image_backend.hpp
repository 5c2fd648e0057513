// The in-memory image backend: 32-bit bitmaps held outside the series memory.
//
// A bitmap is width x height pixels, rows without gaps, each pixel a 32-bit
// value 0xAARRGGBB (in memory the bytes B, G, R, A; A is the opacity, 255
// opaque). Bitmaps live in the externals table under the kind "image"; an
// image! value reaches its bitmap through an image record: a small byte
// series (its node is the value's word 2) holding the externals index. So
// the collector keeps a bitmap alive exactly while a live value names its
// record, and the pixels themselves never move: a pixel address stays valid
// while the image value that led to it is reachable.
//
// The codecs (PNG, JPEG, BMP, GIF, TIFF) build on these functions when they
// come with the image services.
#pragma once

#include <cstdint>

#include "runtime/cell.hpp"

namespace zuv::image_backend {

constexpr int32_t MAX_SIDE = 65535;

struct Bitmap {
    int32_t width;
    int32_t height;
    uint32_t* pixels;
    bool changed;  // set by every write; the GUI backend clears it once it has drawn the image
    Bitmap* previous;
    Bitmap* next;
};

// Registers the externals kind "image" and the collector's mark callback.
void init();
// The externals kind of bitmaps (0 before init).
int32_t kind();

// c := an image! (head 0) of a new width x height bitmap with every pixel
// `fill`; a side of 0 gives an image without pixels (word 2 is 0). Sides
// must be 0..MAX_SIDE. May collect; c must be a cell the collector marks (a
// data stack cell) or a cell no collection can see until it is stored. A
// bitmap too large for memory raises internal no-memory.
Cell* new_image(Cell* c, int32_t width, int32_t height, uint32_t fill);

// The bitmap of an image value, or null when it has no pixels.
Bitmap* bitmap_of(const Cell* image);

// The collector's mark of an image record and the externals release of a bitmap.
void mark_image(Node* record);
void release_image(void* bitmap);

// Bytes of pixels held by live bitmaps (for tests and statistics).
int64_t live_bytes();

}  // namespace zuv::image_backend
