// ZUVBIN: the serialized form of values, its encoders and its decoder.
//
// A buffer is a header ("ZUVBIN", a version byte, a flags byte: bit 0 the
// compact layout, bit 1 compressed with the runtime's block compressor, bit
// 2 a symbol table present), then the record count, the payload size, the
// optional symbol table (count, strings size, one 32-bit offset per symbol,
// the NUL-terminated UTF-8 names) and the records, one value each. The
// compact layout uses variable-length integers and one-byte tags; the
// standard layout fixed 32-bit little-endian words.
//
// Series, contexts and functions are written once; a later occurrence is a
// reference path (indexes from the decoded block down), so shared and cyclic
// structures come back shared. routine!, triple!, handle!, port!, event! and
// an operator over a routine have no serialized form (access no-codec).
//
// The decoder reads outside bytes: every count, index, width, type id and
// reference is checked, and a malformed record raises script
// zb-invalid-record with the 1-based byte position of the fault. It runs
// with the collector held off: every value it makes is part of the result,
// and buffers may still move as blocks grow, so it keeps positions as
// (node, index), never pointers, across a nested record.
//
// Boot mode (the start-up image) also accepts set records (a word and the
// value it is set to, neither kept), binds words to contexts of earlier root
// records by root index, keeps object class ids, and interns the whole
// symbol table up front in table order so symbol ids come out the same on
// every start.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.hpp"

namespace zuv::zuvbin {

constexpr uint8_t FLAG_COMPACT = 1;
constexpr uint8_t FLAG_COMPRESSED = 2;
constexpr uint8_t FLAG_SYMBOLS = 4;

// The image backend's side of image! records, installed with the image
// datatype (until then image! records are refused): the pixels of an image
// value from its first pixel (bytes B, G, R, A, row by row), and a new
// image of a size made from such bytes (width x height x 4 of them).
struct ImageAccess {
    void (*pixels)(const Cell* image, std::vector<uint8_t>* out) = nullptr;
    void (*make)(Cell* out, int32_t width, int32_t height, const uint8_t* pixels) = nullptr;
};
extern ImageAccess image_access;

// 0 boot mode, 1 codec mode; the encoders and the codec's decode set it to 1.
extern int32_t codec_mode;

// out := a new binary! holding the value in the compact (encode_cp) or the
// standard (encode) layout. out must not lie in a series buffer.
Cell* encode_cp(const Cell* value, Cell* out);
Cell* encode(const Cell* value, Cell* out);

// Decodes the bytes (which must not lie in a series buffer) and appends one
// value per top-level record to the target block. codec false is boot mode.
// A bad magic or corrupt compressed data raises script invalid-data (arg is
// the caller's value, or none); in boot mode the caller decides (boot_load
// ends the process).
void decode(const uint8_t* data, size_t length, const Cell* target, bool codec, const Cell* arg = nullptr);

// Decodes a boot image in boot mode into the root block with the collector
// off; answers the root index of the first cell it filled. A bad magic or
// corrupt compressed data prints a message and ends the process with status 1.
int32_t boot_load(const uint8_t* image, size_t length);

}  // namespace zuv::zuvbin
