// The character descriptors, the per-state skip and type bytes and the line
// table. (The transition table is generated: transition_table.cpp.)
#include "lexer/tables.hpp"

#include <array>

namespace zuv::lexer {

namespace {

// The class of a byte value.
constexpr uint8_t class_for(int b) {
    switch (b) {
    case '\t': case '\r': case ' ': return C_BLANK;
    case '\n': return C_LINE;
    case '0': return C_ZERO;
    case '[': return C_BLOCK_OPEN;
    case ']': return C_BLOCK_CLOSE;
    case '(': return C_PAREN_OPEN;
    case ')': return C_PAREN_CLOSE;
    case '{': return C_BRACE_OPEN;
    case '}': return C_BRACE_CLOSE;
    case '"': return C_DQUOTE;
    case '#': return C_SHARP;
    case '\'': return C_QUOTE;
    case ':': return C_COLON;
    case 'x': case 'X': return C_X;
    case 'T': return C_T;
    case 'h': return C_H;
    case 'e': return C_E_LOWER;
    case 'E': return C_E_UPPER;
    case '/': return C_SLASH;
    case '\\': return C_BSLASH;
    case '<': return C_LESSER;
    case '>': return C_GREATER;
    case '=': return C_EQUAL;
    case '%': return C_PERCENT;
    case ',': return C_COMMA;
    case ';': return C_SEMICOL;
    case '@': return C_AT;
    case '.': return C_DOT;
    case '$': return C_MONEY;
    case '+': return C_PLUS;
    case '-': return C_MINUS;
    case '^': return C_CARET;
    case 0: return C_EOF;
    default: break;
    }
    if (b >= '1' && b <= '9') return C_DIGIT;
    if ((b >= 'a' && b <= 'd') || b == 'f') return C_ALPHA_LOWER;
    if ((b >= 'A' && b <= 'D') || b == 'F') return C_ALPHA_UPPER;
    if (b < 0x20) return C_CONTROL;  // 0x01-0x08, 0x0B, 0x0C, 0x0E-0x1F
    if (b >= 0x7F && b <= 0xBF) return C_HIGH;
    if (b == 0xC0 || b == 0xC1 || b >= 0xF8) return C_ILLEGAL;
    // "!" "&" "*" "?" "_" "`" "~" "|", the remaining letters, and UTF-8 lead bytes 0xC2-0xF7.
    return C_WORD;
}

// The flag a byte sets in the token's accumulated flags.
constexpr uint32_t flag_for(int b) {
    switch (b) {
    case '%': return C_FLAG_PERCENT;
    case '>': return C_FLAG_GREATER;
    case '<': return C_FLAG_LESSER;
    case '+': case '-': return C_FLAG_SIGN;
    case 0: return C_FLAG_EOF;
    case '#': return C_FLAG_SHARP;
    case 'e': case 'E': return C_FLAG_EXP;
    case '\'': return C_FLAG_QUOTE;
    case ':': return C_FLAG_COLON;
    case ',': return C_FLAG_COMMA;
    case '.': return C_FLAG_DOT;
    case '^': return C_FLAG_CARET;
    default: break;
    }
    if (b >= 0xC2 && b <= 0xEF) return C_FLAG_UNICODE;
    if (b >= 0xF0 && b <= 0xF7) return C_FLAG_UNICODE4;
    return 0;
}

constexpr std::array<uint32_t, 256> make_descriptors() {
    std::array<uint32_t, 256> t{};
    for (int b = 0; b < 256; b++) t[size_t(b)] = flag_for(b) | class_for(b);
    return t;
}


}  // namespace

constexpr std::array<uint32_t, 256> char_descriptors = make_descriptors();
static_assert((char_descriptors['a'] & 0xFF) == C_ALPHA_LOWER && (char_descriptors['g'] & 0xFF) == C_WORD);
static_assert((char_descriptors[0xC2] & 0xFF) == C_WORD && (char_descriptors[0xC2] >> 30) == 1);
static_assert((char_descriptors[0xF4] >> 30) == 2 && (char_descriptors[0xF8] & 0xFF) == C_ILLEGAL);
static_assert((char_descriptors[0x7F] & 0xFF) == C_HIGH && (char_descriptors[0x1F] & 0xFF) == C_CONTROL);

const uint8_t state_skip[STATE_TOTAL] = {1};  // only state 0 skips

// The datatype each state stands for. A terminal state's byte is its token's
// type; a non-terminal state's byte names what an invalid token that fails
// in it was on its way to be (0: the failure is a bad character).
constexpr uint8_t state_type[STATE_TOTAL] = {
    // 0 start, 1 comment, 2-5 strings, 6-9 files ("%%" too)
    0, 0, TYPE_STRING, TYPE_STRING, TYPE_STRING, TYPE_STRING, TYPE_FILE, TYPE_FILE, TYPE_FILE, TYPE_FILE,
    // 10-12 raw string, 13-14 refinement, 15 "//" word, 16 "#", 17-18 binary, 19
    TYPE_STRING, TYPE_STRING, TYPE_STRING, TYPE_REFINEMENT, TYPE_REFINEMENT, TYPE_WORD, TYPE_ISSUE,
    TYPE_BINARY, TYPE_BINARY, TYPE_CHAR,
    // 20 char, 21 construction, 22 issue, 23 integer, 24-28 floats, 29 tuple
    TYPE_CHAR, 0, TYPE_ISSUE, TYPE_INTEGER, TYPE_FLOAT, TYPE_FLOAT, TYPE_FLOAT, TYPE_FLOAT, TYPE_FLOAT,
    TYPE_TUPLE,
    // 30 date, 31-32 time, 33-34 pair, 35 point, 36-38 money, 39 hex integer
    TYPE_DATE, TYPE_TIME, TYPE_TIME, TYPE_PAIR, TYPE_PAIR, TYPE_POINT2D, TYPE_MONEY, TYPE_MONEY, TYPE_MONEY,
    TYPE_INTEGER,
    // 40 hex letters (a word until "h"), 41-42 hex integer, 43-46 tag, 47-49 sign, sigil, "." (words)
    TYPE_WORD, TYPE_INTEGER, TYPE_INTEGER, TYPE_TAG, TYPE_TAG, TYPE_TAG, TYPE_TAG, TYPE_WORD, TYPE_WORD,
    TYPE_WORD,
    // 50 ".5", 51-52 words, 53 "word:" (a url on), 54 sigil "%", 55 url, 56 email, 57 ref, 58 "=", 59 path
    TYPE_FLOAT, TYPE_WORD, TYPE_WORD, TYPE_URL, TYPE_WORD, TYPE_URL, TYPE_EMAIL, TYPE_REF, TYPE_WORD,
    TYPE_PATH,
    // 60 integer element, 61-62 word element, 63 "#" element, 64 sign element
    TYPE_INTEGER, TYPE_WORD, TYPE_WORD, TYPE_ISSUE, TYPE_WORD,
    // 65 unused; 66-101 the token classes 1-36
    0,
    0, TYPE_ERROR, 0, 0, 0, 0, 0, TYPE_STRING, 0, 0,
    0, 0, 0, TYPE_STRING, TYPE_WORD, TYPE_ISSUE, TYPE_INTEGER, TYPE_REFINEMENT, TYPE_CHAR, TYPE_FILE,
    TYPE_BINARY, TYPE_PERCENT, TYPE_FLOAT, TYPE_FLOAT, TYPE_TUPLE, TYPE_DATE, TYPE_PAIR, TYPE_POINT2D,
    TYPE_TIME, TYPE_MONEY,
    TYPE_TAG, TYPE_URL, TYPE_EMAIL, TYPE_INTEGER, TYPE_STRING, TYPE_REF,
};
static_assert(state_type[TERMINAL_BASE + TK_ERROR] == TYPE_ERROR && state_type[TERMINAL_BASE + TK_REF] == TYPE_REF);
static_assert(state_type[TERMINAL_BASE + TK_WORD] == TYPE_WORD && state_type[TERMINAL_BASE + TK_INTEGER] == TYPE_INTEGER);

const uint8_t line_table[CLASS_COUNT] = {0, 1};

const char* const token_class_names[TOKEN_CLASSES + 1] = {
    nullptr,
#define ZUV_TOKEN_NAME(n, name, word) word,
    ZUV_TOKEN_CLASSES(ZUV_TOKEN_NAME)
#undef ZUV_TOKEN_NAME
};

}  // namespace zuv::lexer
