// Text encodings of bytes: base 2, 16, 58 and 64, for `enbase` and `debase`.
//
// Encoders write ASCII text without line breaks: base 64 with the standard
// alphabet and "=" padding, base 16 in upper-case digits, base 58 with the
// alphabet that leaves out 0, O, I and l (a leading zero byte is a "1").
// Decoders take code points (any string's characters), skip blanks and ";"
// comments to the end of the line, and answer false for text that is not
// valid in their base; a code point above 127 is never valid. Base 16 drops
// an odd last digit and base 64 the digits of an unfinished group without
// padding, unless whole is set (the literal forms must decode whole).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zuv::binary {

void encode_base2(const uint8_t* bytes, int32_t n, std::string& out);
void encode_base16(const uint8_t* bytes, int32_t n, std::string& out);
void encode_base58(const uint8_t* bytes, int32_t n, std::string& out);
void encode_base64(const uint8_t* bytes, int32_t n, std::string& out);

bool decode_base2(const std::vector<uint32_t>& text, std::vector<uint8_t>& out);
bool decode_base16(const std::vector<uint32_t>& text, std::vector<uint8_t>& out, bool whole = false);
bool decode_base58(const std::vector<uint32_t>& text, std::vector<uint8_t>& out);
bool decode_base64(const std::vector<uint32_t>& text, std::vector<uint8_t>& out, bool whole = false);

}  // namespace zuv::binary
