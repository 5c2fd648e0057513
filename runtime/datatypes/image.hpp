// image!: a series of 32-bit pixels held by the image backend.
//
//   word 0  header, type byte 53
//   word 1  head: a pixel index (0-based, row by row from the top-left corner)
//   word 2  node of the backend's image record (0 when the image has no pixels)
//   word 3  the size: width in bits 0-15, height in bits 16-31
//
// A stored pixel is 0xAARRGGBB, A the opacity (255 opaque). Everywhere the
// language shows or takes a fourth colour component it is the transparency
// 255 - A: the fourth byte of a pixel tuple, the bytes of the `alpha`
// channel and the alpha part of the text form.
//
// Positions (pick, poke, at, skip and paths) are an integer! or a pair! x, y,
// both relative to the head.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"

namespace zuv::image {

inline int32_t width_of(const Cell* v) { return int32_t(v->w3 & 0xFFFF); }
inline int32_t height_of(const Cell* v) { return int32_t(v->w3 >> 16); }
// width x height (at most INT32_MAX: the backend refuses larger bitmaps).
inline int32_t pixel_count(const Cell* v) { return int32_t(int64_t(width_of(v)) * height_of(v)); }

// Channel modes of get_channels and set_channels.
enum Channel : int32_t { ALPHA = 0, RGB = 1, ARGB = 2 };

// The bytes of a channel over every pixel from the first, whatever the head:
// alpha one byte 255 - A a pixel, rgb R G B, argb the stored bytes B G R A.
std::vector<uint8_t> get_channels(const Cell* image, int32_t mode);
// Overwrites a channel of every pixel from a binary!, a tuple! or an
// integer! (another value raises script invalid-arg); the owner is told.
void set_channels(const Cell* image, int32_t mode, const Cell* value);

// The pixel index a position value (integer! or pair!) names; mode 1 is
// one-based (pick, poke, at), mode 0 zero-based (skip). The index is clamped
// to 0 .. width x height; *out_of_range tells whether it named no pixel.
int32_t position(const Cell* image, const Cell* at, int32_t mode, bool* out_of_range);

// out := the pixel at a pixel index as a tuple R.G.B.transparency; none at
// or past width x height.
Cell* pixel_tuple(const Cell* image, int32_t index, Cell* out);

// Encoded images (PNG, JPEG, BMP, GIF, TIFF) through the image backend.
// Each pushes its result on the data stack.
//
// load_binary: the image the bytes from the binary's head decode to; none
// when they begin with no known signature; access bad-media when they have
// one but do not decode.
Cell* load_binary(const Cell* data);
// load_file: out := the image a file decodes to; access cannot-open with
// the file when it cannot be read or decoded. out may be a fresh stack cell.
Cell* load_file(const Cell* file, Cell* out);
// decode: load_binary of a binary!, load_file of a file!; any other value
// raises script invalid-arg.
Cell* decode(const Cell* data);
// encode: the image encoded in a format (0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4
// TIFF) as a new binary! (empty for a side of 0); with a file! target the
// bytes are written to it and the file is pushed instead. Another format
// prints "Cannot find image encoder" and gives no value (null, nothing
// pushed); an image without pixel data raises access bad-media.
Cell* encode(const Cell* image, const Cell* target, int32_t format);

void register_type();

}  // namespace zuv::image
