// Float to decimal text.
//
// Digit generation leans on the C library's "%.*e", which gives the correctly
// rounded digits for any precision. The shortest round-trip digits are found
// with few conversions: for a normal double, when some text of at most 15
// significant digits reads back, it is the correctly rounded 15-digit text
// without its trailing zeros (the spacing of 15-digit decimals is far wider
// than the double's own spacing); otherwise 16 digits are tried, then 17,
// which always read back. Subnormals have fewer significant bits and are
// searched from one digit up.
#include "runtime/datatypes/float_text.hpp"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zuv::float_text {

namespace {

// The p significant digits of v by "%.*e" into out (NUL-terminated, no
// point); *exponent receives the decimal exponent of the first digit.
int e_digits(double v, int p, char* out, int* exponent) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*e", p - 1, v);
    int n = 0;
    const char* s = text;
    for (; *s && *s != 'e'; s++)
        if (*s >= '0' && *s <= '9') out[n++] = *s;
    out[n] = '\0';
    *exponent = *s ? std::atoi(s + 1) : 0;
    return n;
}

// True when the digits d1d2...dn x 10^(exponent - n + 1) read back as v.
bool reads_back(const char* digits, int n, int exponent, double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*se%d", n, digits, exponent - n + 1);
    return std::strtod(text, nullptr) == v;
}

// Adds one unit in the last place of the n digits; a carry out of the first
// digit gives "1" followed by zeros and raises the exponent.
void increment_digits(char* digits, int n, int* exponent) {
    int i = n - 1;
    while (i >= 0 && digits[i] == '9') digits[i--] = '0';
    if (i >= 0) {
        digits[i]++;
        return;
    }
    digits[0] = '1';
    ++*exponent;
}

// True when v's mantissa bits are all zero: the double below lies half as far
// as the double above, so round-trip texts reach further up than down.
bool power_of_two_q(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 0xFFFFFFFFFFFFFull) == 0;
}

int shortest_digits(double v, char* out, int* exponent) {
    if (v < DBL_MIN) {  // subnormal: search from one digit up
        for (int p = 1; p < 17; p++) {
            int n = e_digits(v, p, out, exponent);
            if (reads_back(out, n, *exponent, v)) return n;
        }
        return e_digits(v, 17, out, exponent);
    }
    int n = e_digits(v, 15, out, exponent);
    if (reads_back(out, n, *exponent, v)) return n;
    n = e_digits(v, 16, out, exponent);
    if (reads_back(out, n, *exponent, v)) return n;
    if (power_of_two_q(v)) {
        char up[MAX_DIGITS + 1];
        std::memcpy(up, out, size_t(n) + 1);
        int up_exponent = *exponent;
        increment_digits(up, n, &up_exponent);
        if (reads_back(up, n, up_exponent, v)) {
            std::memcpy(out, up, size_t(n) + 1);
            *exponent = up_exponent;
            return n;
        }
    }
    return e_digits(v, 17, out, exponent);
}

}  // namespace

int to_digits(double value, int digits, char* out, int* point) {
    double v = std::fabs(value);
    int exponent = 0;
    int n = digits <= 0 ? shortest_digits(v, out, &exponent)
                        : e_digits(v, digits > MAX_DIGITS ? MAX_DIGITS : digits, out, &exponent);
    while (n > 1 && out[n - 1] == '0') n--;
    out[n] = '\0';
    *point = exponent + 1;
    return n;
}

int form_float(double value, int digits, bool zero_with_point, char (&out)[FORM_SIZE]) {
    if (std::isnan(value)) return std::snprintf(out, FORM_SIZE, "1.#NaN");
    if (std::isinf(value)) return std::snprintf(out, FORM_SIZE, value < 0 ? "-1.#INF" : "1.#INF");
    const char* sign = std::signbit(value) ? "-" : "";
    if (value == 0.0) return std::snprintf(out, FORM_SIZE, "%s%s", sign, zero_with_point ? "0.0" : "0");

    char d[MAX_DIGITS + 1];
    int point;
    int n = to_digits(value, digits, d, &point);
    int len = 0;
    auto put = [&](char c) { out[len++] = c; };
    for (const char* s = sign; *s; s++) put(*s);

    if (point > 17 || point < -6) {
        put(d[0]);
        if (n > 1) {
            put('.');
            for (int i = 1; i < n; i++) put(d[i]);
        } else if (zero_with_point) {
            put('.');
            put('0');
        }
        len += std::snprintf(out + len, size_t(FORM_SIZE - len), "e%d", point - 1);
        return len;
    }
    if (point > 0) {
        for (int i = 0; i < n || i < point; i++) {
            if (i == point) put('.');
            put(i < n ? d[i] : '0');
        }
        if (point >= n) {  // a whole number: the point ends the text
            if (zero_with_point) {
                put('.');
                put('0');
            }
        }
    } else {
        put('0');
        put('.');
        for (int i = 0; i < -point; i++) put('0');
        for (int i = 0; i < n; i++) put(d[i]);
    }
    out[len] = '\0';
    return len;
}

}  // namespace zuv::float_text
