// Unicode codecs: the conversions between the runtime's text buffers and the
// outside encodings.
//
// Text inside the runtime is a series of code points stored in units of 1
// (Latin-1), 2 (UCS-2) or 4 (UCS-4) bytes; the unit is the low bits of the
// buffer's flags and only ever grows. Everything that comes from or goes to
// the outside is UTF-8 or UTF-16LE.
//
// Conversion buffer: a string! cell's word 3 is the node of a byte series,
// made on first need and reused by every conversion of that string to UTF-8
// or UTF-16 (to_utf8, to_utf16...). Their result is an ADDRESS INTO THAT
// SERIES: it is valid only until the next allocation (and until the next
// conversion of the same string). Use it at once or copy it out.
//
// Functions that take a byte address of outside text (utf8_to_string,
// utf16le_to_string, ...) allocate: the bytes must not lie in a series buffer.
// Bytes held in a series go through the *_series variants, which re-derive
// their source through its node after allocating.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.hpp"
#include "runtime/memory.hpp"

namespace zuv::unicode {

// --- UTF-8 scanning ---------------------------------------------------------

// Decodes one character with the DFA decoder; *cp is the code point, or -1 for
// an invalid sequence. Reads as many bytes as the sequence asks for (no end check).
const uint8_t* fast_decode_utf8_char(const uint8_t* p, int32_t* cp);
// Decodes one character at p without reading at or past end; *cp is -1 for
// an invalid or truncated sequence (which then advances one byte) and for the
// code points the strict decoder refuses.
const uint8_t* decode_utf8_bounded(const uint8_t* p, const uint8_t* end, int32_t* cp);
// Characters decoded from start until end (an invalid sequence counts as one).
int32_t count_utf8_chars(const uint8_t* start, const uint8_t* end);
// Address after n characters, never past end.
const uint8_t* skip_utf8_chars(const uint8_t* start, const uint8_t* end, int32_t n);
// 4, 3 or 2 by the lead byte's top bits; 0 for ASCII and continuation bytes.
int32_t get_sequence_length(uint8_t lead);

// Strict decoder. *remaining in: the bytes left from p; out: the bytes used.
// Returns the code point, or -1 when fewer bytes remain than the sequence
// needs. An invalid sequence raises access invalid-utf8 with its bytes.
int32_t decode_utf8_at(const uint8_t* p, int32_t* remaining);

// --- UTF-8 encoding ---------------------------------------------------------

// UTF-8 length of a code point; above 0x10FFFF raises script invalid-char.
int32_t count_utf8_bytes(uint32_t cp);
// Sum of the UTF-8 lengths of the characters between start and end of a unit.
int32_t count_buffer_utf8_bytes(const uint8_t* start, const uint8_t* end, int32_t unit);
// Writes the shortest form; returns the bytes written (at most 4). A
// surrogate code point is written as U+FFFD. Above 0x10FFFF raises script
// invalid-char.
int32_t encode_utf8_char(uint32_t cp, uint8_t* dst);
// As encode_utf8_char, but byte k (from 1) is written only when room >= k.
int32_t encode_utf8_char_bounded(uint32_t cp, uint8_t* dst, int32_t room);

// String value to NUL-terminated UTF-8 in the string's conversion buffer.
// *length in: a character limit or -1 for all; out: the bytes written.
// The address is valid until the next allocation.
const uint8_t* to_utf8(Cell* str, int32_t* length);
const uint8_t* to_utf8_with_eol(Cell* str, int32_t* length, bool lf_to_crlf);
// Makes or grows the conversion buffer of str to hold size bytes; its node.
Node get_conversion_buffer(Cell* str, int64_t size);

// Encodes the characters from the head (limit -1: all) into a destination of
// the caller's; returns the bytes written, NUL not counted.
int32_t encode_utf8_into_buffer(const Cell* str, uint8_t* dst, int32_t limit, bool nul);
// As above, never writing more than room bytes (the last character may be
// cut); limit is used when 0 < limit < length.
int32_t encode_utf8_bounded(const Cell* str, uint8_t* dst, int32_t room, int32_t limit, bool nul);

// --- widening ---------------------------------------------------------------

// In place, from the last character backwards; the buffer may move (the node
// stays). Returns the buffer current afterwards.
SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* s);
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* s);
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* s);

// --- outside text to strings ------------------------------------------------

// Decodes UTF-8 into the string series target (appending at its tail), or into
// a new string when target is 0. A leading byte-order mark is skipped; with
// crlf, CR LF becomes LF and a lone CR becomes LF. An incomplete sequence at
// the end stops the decoding: *remaining (may be null) receives the bytes
// left. Invalid input raises access invalid-utf8 before anything is stored.
// Returns the string's node.
Node utf8_to_string(const uint8_t* bytes, int32_t length, Node target, int32_t* remaining, bool crlf);
// The same for bytes held in a series (node, byte offset from its first byte).
Node utf8_series_to_string(Node source, int32_t offset, int32_t length, Node target, int32_t* remaining,
                           bool crlf);
// Appends UTF-8 to the string value's series.
Node append_utf8(const uint8_t* bytes, int32_t length, Cell* str, bool crlf);
Node utf8_to_new_string(const uint8_t* bytes, int32_t length);

// Decodes count UTF-16LE units (2 x count bytes, any alignment) into the
// string series target (appending at its tail), or into a new string when
// target is 0; with cr_flag every CR is dropped. A lone surrogate of either
// kind is stored as it is. Returns the string's node.
Node utf16le_to_string(const uint8_t* units, int32_t count, Node target, bool cr_flag);

// --- strings to UTF-16 ------------------------------------------------------

// Units written: 1 below 0x10000, 2 (a surrogate pair) up to 0x10FFFF, 0 above.
int32_t encode_utf16le_char(uint32_t cp, uint16_t* dst);
// NUL-terminated UTF-16LE in the conversion buffer (valid until the next
// allocation); *length in: character limit or -1, out: units written. Null
// when a character lies above 0x10FFFF.
const uint16_t* to_utf16_part(Cell* str, int32_t* length, bool lf_to_crlf);
const uint16_t* to_utf16(Cell* str);
// Each byte becomes one unit, then a 16-bit NUL; returns dst.
uint16_t* c_string_to_utf16(const char* text, uint16_t* dst);

// Windows-1251 bytes into the string series target (appending) or a new
// string when target is 0; crlf as for utf8_to_string.
Node decode_windows_1251(const uint8_t* bytes, int32_t length, Node target, bool crlf);

// The text with every invalid UTF-8 sequence (and U+FFFE) replaced by U+FFFD,
// for outside bytes read as text (piped input, child output, argv).
std::string valid_utf8(const char* text, size_t length);

}  // namespace zuv::unicode
