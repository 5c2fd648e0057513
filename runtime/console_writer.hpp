// Console writer: every byte the runtime writes to standard output passes here.
//
// Text arrives as Latin-1, UCS-2 or UCS-4 storage (the three encodings of
// string!), as NUL-terminated UTF-8 strings, or as numbers, and leaves as UTF-8
// through write(2) on descriptor 1, to a terminal and when redirected alike.
// A terminal interprets VT escape sequences itself, so they pass byte-exact.
// Line ends are a single LF.
//
// Output is gathered in a 1024-byte buffer that is written whenever more than
// 1020 bytes are pending (one more 4-byte character always fits) and at the
// end of every write call, so nothing stays pending between calls.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zuv::console_writer {

constexpr size_t BUFFER_SIZE = 1024;
constexpr size_t FLUSH_ABOVE = 1020;

// Resets the writer; the buffer is static, so writing before init is safe too.
void init();

// Writes length bytes of text stored in units of 1 (Latin-1), 2 (UCS-2) or
// 4 (UCS-4) bytes, then a LF when line_end is set. Any other unit is runtime
// error 101. A trailing partial unit is ignored.
void write(const void* text, size_t length, int unit, bool line_end);

inline void print_latin1(const void* text, size_t length) { write(text, length, 1, false); }
inline void print_latin1_line(const void* text, size_t length) { write(text, length, 1, true); }
inline void print_ucs2(const void* text, size_t length) { write(text, length, 2, false); }
inline void print_ucs2_line(const void* text, size_t length) { write(text, length, 2, true); }
inline void print_ucs4(const void* text, size_t length) { write(text, length, 4, false); }
inline void print_ucs4_line(const void* text, size_t length) { write(text, length, 4, true); }

// Writes the bytes of a NUL-terminated UTF-8 string as they are, then tells
// the raw listeners of the output hooks. Returns text.
const char* print_c_string(const char* text);

// Writes bytes as they are, without telling the raw listeners.
void write_bytes(const char* text, size_t length);

// Numbers, each written without line end, then told to the raw listeners.
void print_integer(int32_t n);      // "%i"
void print_hex_byte(uint8_t b);     // "%02X"
void print_hex(uint64_t n);         // "%08X" (more digits only above 32 bits)
void print_float64(double d);       // "%.16g"
void print_float32(float f);        // "%.7g" of the value widened to 64 bits

// Writes one code point at once (after anything pending); returns it.
uint32_t write_unit(uint32_t code_point);

// Writes whatever is pending.
void flush();

}  // namespace zuv::console_writer
