// url!: a resource locator held as text, and the percent-encoding of the runtime.
//
// Cell: as string! (string.hpp), type byte 9. The text is kept decoded; the
// "%xx" escapes are made only when a URL is molded. file! is a child of url!
// and shares its path access.
//
// Percent-encoding works on the UTF-8 bytes of a text. A mode names the set
// of ASCII bytes kept as they are; every other byte (all bytes of multi-byte
// characters among them) becomes "%" and two upper-case hexadecimal digits:
//   MODE_UNRESERVED  A-Z a-z 0-9 - . _ ~
//   MODE_URL         the unreserved set and ! # $ & ' ( ) * + , / : = ? @
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace zuv::url {

enum EncodeMode : int32_t { MODE_UNRESERVED = 254, MODE_URL = 255 };

// True when the mode keeps the byte as it is.
bool keeps_q(int32_t mode, uint8_t byte);
// Appends the encoded form of the bytes [p, end) to out.
void encode(const uint8_t* p, const uint8_t* end, int32_t mode, std::string& out);
// Appends the code points of the UTF-8 bytes [p, end) with their escapes
// decoded to out. An escape whose byte starts a multi-byte UTF-8 sequence
// takes the escapes that complete it; a "%" that does not start a complete
// escape (or sequence of escapes) stays as it is. A byte that is not valid
// UTF-8 stands for the character of its value.
void decode(const uint8_t* p, const uint8_t* end, std::vector<uint32_t>& out);

// The UTF-8 bytes of an any-string value from its head.
std::string utf8_of(const Cell* str);
// The characters of an any-string value from its head.
std::vector<uint32_t> chars_of(const Cell* str);
// c := a new series of the string-family type holding the code points
// (allocates; c must not lie in a series buffer that can move).
Cell* make_text_at(Cell* c, const std::vector<uint32_t>& chars, uint32_t type);

// ---- action slots (eval-path is also file!'s) ----

Cell* make(Cell* proto, Cell* spec, int32_t type);
Cell* to(Cell* proto, Cell* spec, int32_t type);
int32_t mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part, int32_t indent);
const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* gparent, Cell* p_item, int32_t index,
                bool case_q, bool get_q, bool tail_q, bool evalp_q);
Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow);
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as);

// Registers url! (after string!).
void register_type();

}  // namespace zuv::url
