// String-to-scalar converters and the float text rules.
#include "lexer/convert.hpp"

#include <cmath>
#include <cstdlib>
#include <locale.h>

#include <vector>

#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/string.hpp"

namespace zuv::lexer {

namespace {

// The float syntax checker: one row per state, one column per input kind.
enum FloatInput : uint8_t { FI_OTHER, FI_SIGN, FI_DIGIT, FI_EXP, FI_DOT, FI_QUOTE, FI_END, FI_KINDS };
enum FloatState : uint8_t {
    FS_START, FS_SIGN, FS_INT, FS_INT_QUOTE, FS_LEAD_DOT, FS_DOT, FS_FRAC, FS_FRAC_QUOTE,
    FS_EXP, FS_EXP_SIGN, FS_EXP_DIGITS, FS_ACCEPT, FS_FAIL,
};
constexpr uint8_t F = FS_FAIL;
constexpr uint8_t A = FS_ACCEPT;
//                                              other sign  digit  e/E     .            '              end
constexpr uint8_t float_transitions[FS_ACCEPT][FI_KINDS] = {
    /* FS_START      */ {F, FS_SIGN, FS_INT, F, FS_LEAD_DOT, F, F},
    /* FS_SIGN       */ {F, F, FS_INT, F, FS_LEAD_DOT, F, F},
    /* FS_INT        */ {F, F, FS_INT, FS_EXP, FS_DOT, FS_INT_QUOTE, A},
    /* FS_INT_QUOTE  */ {F, F, FS_INT, F, F, F, F},
    /* FS_LEAD_DOT   */ {F, F, FS_FRAC, F, F, F, F},
    /* FS_DOT        */ {F, F, FS_FRAC, FS_EXP, F, F, A},
    /* FS_FRAC       */ {F, F, FS_FRAC, FS_EXP, F, FS_FRAC_QUOTE, A},
    /* FS_FRAC_QUOTE */ {F, F, FS_FRAC, F, F, F, F},
    /* FS_EXP        */ {F, FS_EXP_SIGN, FS_EXP_DIGITS, F, F, F, F},
    /* FS_EXP_SIGN   */ {F, F, FS_EXP_DIGITS, F, F, F, F},
    /* FS_EXP_DIGITS */ {F, F, FS_EXP_DIGITS, F, F, F, A},
};

constexpr FloatInput float_input(uint8_t c) {
    if (c >= '0' && c <= '9') return FI_DIGIT;
    switch (c) {
    case '+': case '-': return FI_SIGN;
    case 'e': case 'E': return FI_EXP;
    case '.': return FI_DOT;
    case '\'': return FI_QUOTE;
    default: return FI_OTHER;
    }
}

// strtod of the C locale, whatever locale the process runs in.
locale_t c_locale() {
    static locale_t loc = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return loc;
}

}  // namespace

bool float_syntax_q(const uint8_t* text, int32_t length) {
    if (length > FLOAT_TEXT_MAX) return false;
    uint8_t state = FS_START;
    for (int32_t i = 0; i < length; i++) {
        state = float_transitions[state][float_input(text[i])];
        if (state == FS_FAIL) return false;
    }
    return float_transitions[state][FI_END] == FS_ACCEPT;
}

double float_text_to_double(const uint8_t* text, int32_t length) {
    char copy[FLOAT_TEXT_MAX + 1];
    int32_t n = 0;
    for (int32_t i = 0; i < length && n < FLOAT_TEXT_MAX; i++) {
        uint8_t c = text[i];
        if (c == '\'') continue;
        copy[n++] = c == ',' ? '.' : char(c);
    }
    copy[n] = 0;
    return strtod_l(copy, nullptr, c_locale());
}

int32_t string_to_integer(const uint8_t* start, int32_t count, int32_t unit, int32_t* error) {
    int32_t i = 0;
    bool negative = false;
    if (count > 0) {
        uint32_t c = string::get_char(start, uint32_t(unit));
        if (c == '+' || c == '-') {
            negative = c == '-';
            i = 1;
        }
    }
    int64_t value = 0;  // magnitude; 2147483648 is kept for the negative minimum
    bool digits = false;
    for (; i < count; i++) {
        uint32_t c = string::get_char(start + int64_t(i) * unit, uint32_t(unit));
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            *error = -1;
            break;
        }
        digits = true;
        value = value * 10 + (c - '0');
        if (value > int64_t(INT32_MAX) + 1) {
            *error = -2;
            return 0;
        }
    }
    if (!digits) {
        *error = -1;
        return 0;
    }
    if (negative) return int32_t(-value);  // -2147483648 fits
    if (value > INT32_MAX) {
        *error = -2;
        return 0;
    }
    return int32_t(value);
}

double string_to_float(const uint8_t* start, int32_t count, int32_t unit, int32_t* error) {
    if (count < 0 || count > FLOAT_TEXT_MAX) {
        *error = -1;
        return std::nan("");
    }
    uint8_t copy[FLOAT_TEXT_MAX];
    for (int32_t i = 0; i < count; i++) {
        uint32_t c = string::get_char(start + int64_t(i) * unit, uint32_t(unit));
        // Only ASCII can belong to a number; a wider character must not be
        // cut down to a byte that happens to be a digit.
        if (c > 127) {
            *error = -1;
            return std::nan("");
        }
        copy[i] = c == ',' ? '.' : uint8_t(c);
    }
    if (!float_syntax_q(copy, count)) {
        *error = -1;
        return std::nan("");
    }
    return float_text_to_double(copy, count);
}

Cell* string_to_tuple(const uint8_t* start, int32_t count, int32_t unit, int32_t* error, Cell* tuple) {
    uint8_t bytes[12] = {};
    int32_t parts = 0;
    int32_t value = 0;
    bool digits = false;
    for (int32_t i = 0; i <= count; i++) {
        uint32_t c = i < count ? string::get_char(start + int64_t(i) * unit, uint32_t(unit)) : '.';
        if (c >= '0' && c <= '9') {
            value = value * 10 + int32_t(c - '0');
            digits = true;
            if (value > 255) break;
            continue;
        }
        if (c != '.' || !digits || parts == 12) break;
        bytes[parts++] = uint8_t(value);
        value = 0;
        digits = false;
        if (i == count) {
            uint32_t size = uint32_t(parts < 3 ? 3 : parts);
            cell::begin(tuple);
            uint32_t* words[3] = {&tuple->w1, &tuple->w2, &tuple->w3};
            for (int32_t k = 0; k < 12; k++) *words[k / 4] |= uint32_t(bytes[k]) << (8 * (k % 4));
            tuple->header = (tuple->header & ~TUPLE_SIZE_MASK) | (size << TUPLE_SIZE_SHIFT);
            return cell::set_type(tuple, TYPE_TUPLE);
        }
    }
    *error = -1;
    return tuple;
}

bool read_money(const uint8_t* p, const uint8_t* end, bool literal, Cell* money) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int32_t currency = 0;
    if (p < end && letter_q(*p)) {
        if (end - p < 5 || !letter_q(p[1]) || !letter_q(p[2]) || p[3] != '$') return false;
        currency = money::currency_index(p, 3);
        if (currency < 0) return false;
        p += 4;
    } else if (p < end && *p == '$') {
        p++;
    } else if (literal) {
        return false;
    }
    // Digits, apostrophes only between integer digits, at most one point
    // with digits on both sides.
    const uint8_t* digits = p;
    const uint8_t* point = nullptr;
    if (p == end) return false;
    for (const uint8_t* q = p; q < end; q++) {
        uint8_t c = *q;
        if (c >= '0' && c <= '9') continue;
        bool at_edge = q == p || q + 1 == end || q[-1] == '\'';
        if (c == '\'') {
            if (at_edge || point) return false;
        } else if (c == '.' || (literal && c == ',')) {
            if (at_edge || point) return false;
            point = q;
        } else {
            return false;
        }
    }
    const uint8_t* integer_end = point ? point : end;
    const uint8_t* fraction = point ? point + 1 : end;
    return money::make_from_digits(money, negative, currency, digits, int32_t(integer_end - digits), fraction,
                                   int32_t(end - fraction));
}

Cell* string_to_money(const uint8_t* start, int32_t count, int32_t unit, int32_t* error, Cell* money) {
    std::vector<uint8_t> text(size_t(count > 0 ? count : 0));
    for (int32_t i = 0; i < count; i++) {
        uint32_t c = string::get_char(start + int64_t(i) * unit, uint32_t(unit));
        if (c > 127) {
            *error = -1;
            return money;
        }
        text[size_t(i)] = uint8_t(c);
    }
    if (!read_money(text.data(), text.data() + text.size(), false, money)) *error = -1;
    return money;
}

}  // namespace zuv::lexer
