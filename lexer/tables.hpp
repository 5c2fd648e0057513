// The lexer's tables: what the automaton reads for every byte.
//
//   char_descriptors  one 32-bit descriptor per byte value: the character
//                     class in bits 0-7, the CharFlag bits (lexer.hpp) above
//   transitions       65 non-terminal states x 40 classes (transition_table.cpp,
//                     generated); a target above 65 is terminal
//   state_skip        per state 0-101: 1 for state 0 (bytes leading back to it
//                     are leading blanks, not part of the token), else 0
//   state_type        per state 0-101: the datatype the state stands for
//   line_table        per class: 1 for LF, else 0
#pragma once

#include <array>
#include <cstdint>

#include "lexer/lexer.hpp"

namespace zuv::lexer {

constexpr int32_t STATE_TOTAL = 102;  // states 0-101 (65 is never used)

// Character classes with a meaning of their own in the code.
enum CharClass : uint8_t {
    C_BLANK = 0, C_LINE = 1, C_DIGIT = 2, C_ZERO = 3, C_BLOCK_OPEN = 4, C_BLOCK_CLOSE = 5,
    C_PAREN_OPEN = 6, C_PAREN_CLOSE = 7, C_BRACE_OPEN = 8, C_BRACE_CLOSE = 9, C_DQUOTE = 10,
    C_SHARP = 11, C_QUOTE = 12, C_COLON = 13, C_X = 14, C_T = 15, C_H = 16, C_E_LOWER = 17,
    C_E_UPPER = 18, C_ALPHA_LOWER = 19, C_ALPHA_UPPER = 20, C_SLASH = 21, C_BSLASH = 22,
    C_LESSER = 23, C_GREATER = 24, C_EQUAL = 25, C_PERCENT = 26, C_COMMA = 27, C_SEMICOL = 28,
    C_AT = 29, C_DOT = 30, C_MONEY = 31, C_PLUS = 32, C_MINUS = 33, C_CARET = 34, C_CONTROL = 35,
    C_HIGH = 36, C_WORD = 37, C_ILLEGAL = 38, C_EOF = 39,
};
static_assert(C_EOF + 1 == CLASS_COUNT);

extern const std::array<uint32_t, 256> char_descriptors;
extern const uint8_t transitions[STATE_COUNT * CLASS_COUNT];
extern const uint8_t state_skip[STATE_TOTAL];
extern const uint8_t state_type[STATE_TOTAL];
extern const uint8_t line_table[CLASS_COUNT];

inline uint8_t class_of(uint8_t byte) { return uint8_t(char_descriptors[byte] & 0xFF); }

// Code points that count as blanks before and inside words (the main loop
// trims them off a word token's start; the word scanner ends a word at one).
constexpr bool special_space_q(int32_t cp) {
    switch (cp) {
    case 0x85: case 0xA0: case 0x1680: case 0x180E: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000: return true;
    default: return cp >= 0x2000 && cp <= 0x200B;
    }
}

// Byte classes after which a path element ends.
constexpr bool path_end_class_q(uint8_t cls) {
    switch (cls) {
    case C_BLANK: case C_LINE: case C_BLOCK_OPEN: case C_BLOCK_CLOSE: case C_PAREN_OPEN:
    case C_PAREN_CLOSE: case C_BRACE_OPEN: case C_DQUOTE: case C_COLON: case C_LESSER: case C_SEMICOL:
    case C_WORD: case C_ILLEGAL: case C_EOF: return true;
    default: return false;
    }
}

}  // namespace zuv::lexer
