// Console writer on Linux: UTF-8 through write(2) on descriptor 1.
#include "runtime/console_writer.hpp"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "runtime/os.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/runtime.hpp"
#include "runtime/unicode.hpp"

namespace zuv::console_writer {

namespace {

constexpr int OUTPUT_FD = 1;

uint8_t buffer[BUFFER_SIZE];
size_t pending = 0;

// Shortest UTF-8 form. A code point beyond Unicode (no string holds one)
// becomes U+FFFD, so that printing never stops half-way through a line.
inline size_t encode_utf8(uint32_t cp, uint8_t* out) {
    return size_t(unicode::encode_utf8_char(cp > 0x10FFFF ? 0xFFFD : cp, out));
}

// Writes all of it, waiting out interruptions and a full non-blocking
// descriptor; on any other failure (a closed output) the text is dropped.
void write_all(const uint8_t* p, size_t n) { platform::write_fully(OUTPUT_FD, p, n, true); }

inline void put_code_point(uint32_t cp) {
    pending += encode_utf8(cp, buffer + pending);
    if (pending > FLUSH_ABOVE) flush();
}

inline void put_byte(uint8_t b) {
    buffer[pending++] = b;
    if (pending > FLUSH_ABOVE) flush();
}

// Writes an ASCII number text and tells the raw listeners.
void print_number_text(const char* text, int length) {
    if (length < 0) return;
    write_bytes(text, size_t(length));
    flush();
    output_hooks::notify_raw(text, size_t(length), 0);
}

}  // namespace

void init() { pending = 0; }

void flush() {
    if (pending == 0) return;
    size_t n = pending;
    pending = 0;
    write_all(buffer, n);
}

void write(const void* text, size_t length, int unit, bool line_end) {
    const auto* p = static_cast<const uint8_t*>(text);
    switch (unit) {
        case 1:
            for (size_t i = 0; i < length; i++) put_code_point(p[i]);
            break;
        case 2:
            for (size_t i = 0; i + 2 <= length; i += 2) {
                uint16_t u;
                std::memcpy(&u, p + i, 2);
                put_code_point(u);
            }
            break;
        case 4:
            for (size_t i = 0; i + 4 <= length; i += 4) {
                uint32_t u;
                std::memcpy(&u, p + i, 4);
                put_code_point(u);
            }
            break;
        default:
            runtime::quit_with_runtime_error(101, runtime::get_return_address());
    }
    if (line_end) put_byte('\n');
    flush();
}

void write_bytes(const char* text, size_t length) {
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    for (size_t i = 0; i < length; i++) put_byte(p[i]);
}

const char* print_c_string(const char* text) {
    size_t length = std::strlen(text);
    write_bytes(text, length);
    flush();
    output_hooks::notify_raw(text, length, 0);
    return text;
}

void print_integer(int32_t n) {
    char text[64];
    print_number_text(text, std::snprintf(text, sizeof text, "%i", n));
}

void print_hex_byte(uint8_t b) {
    char text[64];
    print_number_text(text, std::snprintf(text, sizeof text, "%02X", b));
}

void print_hex(uint64_t n) {
    char text[64];
    print_number_text(text, std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(n)));
}

void print_float64(double d) {
    char text[64];
    print_number_text(text, std::snprintf(text, sizeof text, "%.16g", d));
}

void print_float32(float f) {
    char text[64];
    print_number_text(text, std::snprintf(text, sizeof text, "%.7g", double(f)));
}

uint32_t write_unit(uint32_t code_point) {
    flush();
    uint8_t bytes[4];
    write_all(bytes, encode_utf8(code_point, bytes));
    return code_point;
}

}  // namespace zuv::console_writer
