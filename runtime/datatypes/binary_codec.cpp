// Base 2, 16, 58 and 64 text encodings of bytes.
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/binary_codec.hpp"

#include <cstddef>

namespace zuv::binary {

namespace {

constexpr char BASE16_DIGITS[] = "0123456789ABCDEF";
constexpr char BASE58_DIGITS[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char BASE64_DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Characters the decoders pass over between digits: in base 2 and 16 every
// code up to the space; in base 58 and 64 backspace, tab, line feed, form
// feed, carriage return, space and the apostrophe.
bool low_skip_q(uint32_t c) { return c <= ' '; }
bool table_skip_q(uint32_t c) { return c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == 32 || c == 39; }

// The text's significant characters: skipped characters and ";" comments
// (to the end of the line, line feed included) dropped. A code point above
// 127 is never a digit, so it makes the text invalid (answer false) even
// where it would look like one after dropping its high bits.
// A stop character (base 64's "=") is kept and ends the reading.
bool significant(const std::vector<uint32_t>& text, bool (*skip_q)(uint32_t), std::vector<uint32_t>& out,
                 uint32_t stop = 0) {
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        uint32_t c = text[i];
        if (stop && c == stop) {
            out.push_back(c);
            return true;
        } else if (c == ';') {
            while (i < text.size() && text[i] != '\n') i++;
        } else if (c > 127) {
            return false;
        } else if (!skip_q(c)) {
            out.push_back(c);
        }
    }
    return true;
}

int32_t digit_of(const char* alphabet, int32_t size, uint32_t c) {
    for (int32_t i = 0; i < size; i++)
        if (uint32_t(uint8_t(alphabet[i])) == c) return i;
    return -1;
}

}  // namespace

// ---- encoders ----

void encode_base2(const uint8_t* bytes, int32_t n, std::string& out) {
    for (int32_t i = 0; i < n; i++)
        for (int bit = 7; bit >= 0; bit--) out += char('0' + ((bytes[i] >> bit) & 1));
}

void encode_base16(const uint8_t* bytes, int32_t n, std::string& out) {
    for (int32_t i = 0; i < n; i++) {
        out += BASE16_DIGITS[bytes[i] >> 4];
        out += BASE16_DIGITS[bytes[i] & 15];
    }
}

void encode_base58(const uint8_t* bytes, int32_t n, std::string& out) {
    int32_t zeros = 0;
    while (zeros < n && bytes[zeros] == 0) zeros++;
    // The number in base 58, least significant digit first.
    std::vector<uint8_t> digits;
    for (int32_t i = zeros; i < n; i++) {
        uint32_t carry = bytes[i];
        for (uint8_t& d : digits) {
            carry += uint32_t(d) << 8;
            d = uint8_t(carry % 58);
            carry /= 58;
        }
        while (carry) {
            digits.push_back(uint8_t(carry % 58));
            carry /= 58;
        }
    }
    out.append(size_t(zeros), '1');
    for (size_t i = digits.size(); i > 0; i--) out += BASE58_DIGITS[digits[i - 1]];
}

void encode_base64(const uint8_t* bytes, int32_t n, std::string& out) {
    int32_t i = 0;
    for (; i + 2 < n; i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        out += BASE64_DIGITS[v >> 18];
        out += BASE64_DIGITS[(v >> 12) & 63];
        out += BASE64_DIGITS[(v >> 6) & 63];
        out += BASE64_DIGITS[v & 63];
    }
    if (n - i == 1) {
        uint32_t v = uint32_t(bytes[i]) << 16;
        out += BASE64_DIGITS[v >> 18];
        out += BASE64_DIGITS[(v >> 12) & 63];
        out += "==";
    } else if (n - i == 2) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8;
        out += BASE64_DIGITS[v >> 18];
        out += BASE64_DIGITS[(v >> 12) & 63];
        out += BASE64_DIGITS[(v >> 6) & 63];
        out += '=';
    }
}

// ---- decoders ----

bool decode_base2(const std::vector<uint32_t>& text, std::vector<uint8_t>& out) {
    std::vector<uint32_t> bits;
    if (!significant(text, low_skip_q, bits) || bits.size() % 8 != 0) return false;
    out.reserve(bits.size() / 8);
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint32_t byte = 0;
        for (size_t k = 0; k < 8; k++) {
            uint32_t c = bits[i + k];
            if (c != '0' && c != '1') return false;
            byte = byte << 1 | (c - '0');
        }
        out.push_back(uint8_t(byte));
    }
    return true;
}

bool decode_base16(const std::vector<uint32_t>& text, std::vector<uint8_t>& out, bool whole) {
    std::vector<uint32_t> digits;
    if (!significant(text, low_skip_q, digits)) return false;
    for (uint32_t c : digits)
        if (string::hex_digit(c) < 0) return false;
    if (whole && digits.size() % 2 != 0) return false;
    out.reserve(digits.size() / 2);
    for (size_t i = 0; i + 1 < digits.size(); i += 2)  // an odd last digit is dropped
        out.push_back(uint8_t(string::hex_digit(digits[i]) << 4 | string::hex_digit(digits[i + 1])));
    return true;
}

bool decode_base58(const std::vector<uint32_t>& text, std::vector<uint8_t>& out) {
    std::vector<uint32_t> digits;
    if (!significant(text, table_skip_q, digits)) return false;
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == '1') zeros++;
    // The number in base 256, least significant byte first.
    std::vector<uint8_t> number;
    for (size_t i = zeros; i < digits.size(); i++) {
        int32_t d = digit_of(BASE58_DIGITS, 58, digits[i]);
        if (d < 0) return false;
        uint32_t carry = uint32_t(d);
        for (uint8_t& b : number) {
            carry += uint32_t(b) * 58;
            b = uint8_t(carry & 0xFF);
            carry >>= 8;
        }
        while (carry) {
            number.push_back(uint8_t(carry & 0xFF));
            carry >>= 8;
        }
    }
    out.assign(zeros, 0);
    for (size_t i = number.size(); i > 0; i--) out.push_back(number[i - 1]);
    return true;
}

bool decode_base64(const std::vector<uint32_t>& text, std::vector<uint8_t>& out, bool whole) {
    std::vector<uint32_t> chars;
    if (!significant(text, table_skip_q, chars, '=')) return false;
    out.reserve(chars.size() / 4 * 3 + 3);
    uint32_t accumulator = 0;
    int32_t count = 0;  // digits gathered since the last whole group of 4
    for (uint32_t c : chars) {
        if (c == '=') {
            // The padding ends the text: what follows is not read.
            if (count == 3) {
                out.push_back(uint8_t(accumulator >> 10));
                out.push_back(uint8_t(accumulator >> 2));
            } else if (count == 2) {
                out.push_back(uint8_t(accumulator >> 4));
            } else {
                return false;
            }
            return true;
        }
        int32_t d = digit_of(BASE64_DIGITS, 64, c);
        if (d < 0) return false;
        accumulator = accumulator << 6 | uint32_t(d);
        if (++count == 4) {
            out.push_back(uint8_t(accumulator >> 16));
            out.push_back(uint8_t(accumulator >> 8));
            out.push_back(uint8_t(accumulator));
            accumulator = 0;
            count = 0;
        }
    }
    // Digits left without padding are dropped, unless the whole text must decode.
    return !(whole && count != 0);
}

}  // namespace zuv::binary
