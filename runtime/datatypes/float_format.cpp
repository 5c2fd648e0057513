// The text of every float-based value, by kind.
//
// A first printing with C's "%g" at the kind's precision; with the pretty?
// option, values closer to zero than 2^-52 show as zero and a long text
// ending in binary noise ("...01", "...99") is printed again with two digits
// fewer; the exponent loses its "+" and leading zeros; float kinds get ".0"
// when the text has no point, percent kinds a final "%".
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/float_text.hpp"

namespace zuv::float_ {

namespace {

constexpr double EPSILON = 2.220446049250313e-16;  // 2^-52

bool percent_kind_q(int32_t kind) { return kind == FORMAT_VECTOR32_PERCENT || kind == FORMAT_PERCENT; }

// What the scan of a printed text found.
struct Shape {
    bool dot = false;
    int e = -1;          // index of "e", or -1
    int exponent = -1;   // index of the first significant exponent digit
};

Shape scan(const char* text, int length) {
    Shape s;
    for (int i = 0; i < length; i++) {
        if (text[i] == '.') s.dot = true;
        if (text[i] == 'e') {
            s.e = i;
            int j = i + 1;
            while (j < length && text[j] <= '0') j++;  // the sign and leading zeros
            s.exponent = j;
            break;
        }
    }
    return s;
}

// A long text whose last two digits are binary noise.
bool noisy_q(const char* text, int length, const Shape& s) {
    const char* last2;
    if (s.e < 0) {
        const char* first = text[0] == '-' ? text + 1 : text;
        bool long_q = length > 16 && (*first != '0' || length > 17);
        if (!long_q) return false;
        last2 = text + length - 2;
    } else {
        if (s.e <= 16) return false;
        last2 = text + s.e - 2;
    }
    return (last2[0] == '0' && last2[1] == '1') || (last2[0] == '9' && last2[1] == '9');
}

int print_g(double d, int precision, char* out, int size) { return std::snprintf(out, size_t(size), "%.*g", precision, d); }

}  // namespace

int format(double d, int32_t kind, char (&out)[FORMAT_SIZE]) {
    if (not_finite_q(d)) {
        const char* special = nan_q(d) ? "1.#NaN" : std::signbit(d) ? "-1.#INF" : "1.#INF";
        return std::snprintf(out, FORMAT_SIZE, "%s", special);
    }
    if (option_pretty && std::fabs(d) < EPSILON) {
        const char* zero = percent_kind_q(kind) ? "0%" : kind == FORMAT_POINT ? "0" : "0.0";
        return std::snprintf(out, FORMAT_SIZE, "%s", zero);
    }

    char text[float_text::FORM_SIZE];
    int length;
    switch (kind) {
        case FORMAT_FLOAT: length = print_g(d, 16, text, sizeof text); break;
        case FORMAT_PERCENT: length = print_g(d, 13, text, sizeof text); break;
        case FORMAT_TIME: length = float_text::form_float(d, 6, false, text); break;
        default: length = print_g(d, 7, text, sizeof text); break;  // 32-bit values, points
    }
    Shape s = scan(text, length);
    if (option_pretty && noisy_q(text, length, s)) {
        bool short_kind = kind == FORMAT_VECTOR32 || kind == FORMAT_TIME || kind == FORMAT_POINT;
        length = print_g(d, short_kind ? 5 : 14, text, sizeof text);
        s = scan(text, length);
    }

    // Copy out, tidying the exponent: "e+20" -> "e20", "e-07" -> "e-7".
    int n = 0;
    int mantissa_end = s.e < 0 ? length : s.e;
    std::memcpy(out, text, size_t(mantissa_end));
    n = mantissa_end;
    bool point_wanted = !s.dot && !percent_kind_q(kind) && kind != FORMAT_TIME && kind != FORMAT_POINT;
    if (point_wanted) {
        out[n++] = '.';
        out[n++] = '0';
    }
    if (s.e >= 0) {
        out[n++] = 'e';
        if (text[s.e + 1] == '-') out[n++] = '-';
        if (s.exponent >= length) out[n++] = '0';  // an exponent of zero keeps one digit
        for (int i = s.exponent; i < length; i++) out[n++] = text[i];
    }
    if (percent_kind_q(kind)) out[n++] = '%';
    out[n] = '\0';
    return n;
}

}  // namespace zuv::float_
