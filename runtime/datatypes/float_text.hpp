// Float to decimal text: the digits of a double, and the text that float!
// mold, the seconds of time! and money! conversions are built from.
//
// The digits are correctly rounded (the C library's "%.*e" conversion is
// exact); the shortest digits are the fewest that read back to the same
// double, the nearest such string when several have that length.
//
// Texts are written into the caller's buffer, never into shared static
// storage, so a caller may hold one text while it makes another.
#pragma once

#include <cstdint>

namespace zuv::float_text {

// Most significant digits a caller may ask for.
constexpr int MAX_DIGITS = 30;
// Room for every text of form_float (sign, "0.", six zeros, 30 digits, NUL).
constexpr int FORM_SIZE = 48;

// The digits of |value| (finite, not zero) into out (MAX_DIGITS + 1 bytes,
// NUL-terminated) without trailing zeros: the shortest digits that read back
// to the same double when digits <= 0, else at most `digits` significant
// digits (capped at MAX_DIGITS), correctly rounded. *point receives the
// decimal point position d: |value| = 0.d1d2... x 10^d. Returns the count.
int to_digits(double value, int digits, char* out, int* point);

// The text of a double:
//   - infinities and NaN: "1.#INF", "-1.#INF", "1.#NaN";
//   - zero: "0.0" or "-0.0" with zero_with_point, else "0" or "-0";
//   - point position d above 17 or below -6: one digit, ".", the others and
//     "e" with the exponent d - 1 ("-" when negative, no "+");
//   - else plain: "123.45", "1000.", "0.000123";
//   - a text ending with "." (or a one-digit mantissa before "e") gets "0"
//     after the point with zero_with_point, else loses the point.
// digits as for to_digits. Returns the length.
int form_float(double value, int digits, bool zero_with_point, char (&out)[FORM_SIZE]);

}  // namespace zuv::float_text
