// money!: the currency list, text forms, conversions, make/to, path access,
// random and round.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "evaluator/backtrace.hpp"
#include "evaluator/random.hpp"
#include "evaluator/stack.hpp"
#include "lexer/convert.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/float_text.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/settings.hpp"
#include "runtime/symbols.hpp"

namespace zuv::money {

// The order is part of the stored format: never reorder, only append.
const char* const currencies[CURRENCY_COUNT] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT", "BTC", "BGN",
    "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD", "CAD", "CDF", "CHF", "CKD",
    "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF", "DKK", "DOP", "DZD", "EGP", "ERN", "ETB",
    "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL", "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD",
    "HNL", "HRK", "HTG", "HUF", "IDR", "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY",
    "KES", "KGS", "KHR", "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL",
    "LYD", "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR", "MZN",
    "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR", "PLN", "PND", "PRB",
    "PYG", "QAR", "ZUV", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR", "SDG", "SEK", "SGD", "SHP", "SLL",
    "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB", "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD",
    "TWD", "TZS", "UAH", "UGX", "USD", "UYU", "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF",
    "CFP", "XPF", "YER", "ZAR", "ZMW",
};

int32_t option_digits = 2;

int32_t digits_setting() {
    Cell digits;
    if (!settings::get(settings::Field::money_digits, &digits)) return option_digits;
    return type_of(&digits) == TYPE_INTEGER ? integer::get_value(&digits) : 2;
}

namespace {

[[noreturn]] void fire_bad_make_float(double x) {
    Cell value;
    float_::make_at(cell::begin(&value), x);
    fire_with_datatype("bad-make-arg", TYPE_MONEY, &value);
}

char upper(uint8_t c) { return c >= 'a' && c <= 'z' ? char(c - 32) : char(c); }

// True when a word's name is the given lower-case ASCII name, in any case.
bool word_named_q(const Cell* word, const char* name) {
    int32_t symbol = int32_t(word->w2);
    int32_t length = symbol::name_length(symbol);
    if (length != int32_t(std::strlen(name))) return false;
    const uint8_t* text = symbol::name_of(symbol);
    for (int32_t i = 0; i < length; i++)
        if ((text[i] | 0x20) != uint8_t(name[i])) return false;
    return true;
}

}  // namespace

// ---- currencies ----

namespace {

// The system's currency list (system/locale/currencies/list); false before
// the library gives it, and the built-in table holds.
bool system_list(Cell* list) {
    return settings::get(settings::Field::currencies, list) && type_of(list) == TYPE_BLOCK;
}

bool same_code_q(const uint8_t* name, int32_t length, const char (&code)[3]) {
    if (length != 3) return false;
    for (int32_t i = 0; i < 3; i++)
        if (upper(name[i]) != code[i]) return false;
    return true;
}

}  // namespace

int32_t currency_count() {
    Cell list;
    if (!system_list(&list)) return CURRENCY_COUNT;
    return std::min(block::zs_length_q(&list), MAX_CURRENCIES);
}

bool currency_code(int32_t index, char (&code)[3]) {
    Cell list;
    if (!system_list(&list)) {
        if (index < 1 || index > CURRENCY_COUNT) return false;
        std::memcpy(code, currencies[index - 1], 3);
        return true;
    }
    if (index < 1 || index > std::min(block::zs_length_q(&list), MAX_CURRENCIES)) return false;
    const Cell* word = block::zs_head(&list) + (index - 1);
    if (!word::any_word_q(type_of(word))) return false;
    int32_t symbol = int32_t(word->w2);
    const uint8_t* name = symbol::name_of(symbol);
    if (symbol::name_length(symbol) != 3) return false;
    for (int32_t i = 0; i < 3; i++) code[i] = upper(name[i]);
    return true;
}

int32_t currency_index(const uint8_t* name, int32_t length) {
    if (length != 3) return -1;
    char code[3] = {upper(name[0]), upper(name[1]), upper(name[2])};
    Cell list;
    if (!system_list(&list)) {
        for (int32_t i = 0; i < CURRENCY_COUNT; i++)
            if (std::memcmp(currencies[i], code, 3) == 0) return i + 1;
        return -1;
    }
    int32_t count = std::min(block::zs_length_q(&list), MAX_CURRENCIES);
    const Cell* words = block::zs_head(&list);
    for (int32_t i = 0; i < count; i++) {
        if (!word::any_word_q(type_of(&words[i]))) continue;
        int32_t symbol = int32_t(words[i].w2);
        if (same_code_q(symbol::name_of(symbol), symbol::name_length(symbol), code)) return i + 1;
    }
    return -1;
}

int32_t currency_index_of_word(const Cell* word) {
    int32_t symbol = int32_t(word->w2);
    return currency_index(symbol::name_of(symbol), symbol::name_length(symbol));
}

bool currency_word(int32_t index, Cell* out) {
    char code[3];
    if (!currency_code(index, code)) return false;
    const char name[4] = {code[0], code[1], code[2], 0};
    *out = word::from_c_string(name);
    return true;
}

bool same_currency_q(const Cell* a, const Cell* b, bool strict) {
    int32_t ca = currency_of(a), cb = currency_of(b);
    return ca == cb || (!strict && (ca == 0 || cb == 0));
}

// ---- text ----

int32_t form_value(const Cell* c, Cell* buffer, int32_t part, bool all, bool grouping) {
    // At most "-", a code, "$", 17 digits with 5 separators, "." and 5 decimals.
    char text[40];
    int n = 0;
    if (negative_q(c)) text[n++] = '-';
    char code[3];
    if (currency_code(currency_of(c), code)) {
        std::memcpy(text + n, code, 3);
        n += 3;
    }
    text[n++] = '$';
    uint8_t bytes[DIGIT_BYTES];
    get_digit_bytes(c, bytes);
    int32_t first = 1;
    while (first < INTEGER_DIGITS && get_digit(bytes, first) == 0) first++;
    for (int32_t p = first; p <= INTEGER_DIGITS; p++) {
        text[n++] = char('0' + get_digit(bytes, p));
        if (grouping && p < INTEGER_DIGITS && (p + 1) % 3 == 0) text[n++] = '\'';
    }
    int32_t digits = digits_setting();
    int32_t decimals = all || digits > DECIMALS ? DECIMALS : digits;
    if (decimals >= 1) {
        text[n++] = '.';
        for (int32_t p = INTEGER_DIGITS + 1; p <= INTEGER_DIGITS + decimals; p++)
            text[n++] = char('0' + get_digit(bytes, p));
    }
    text[n] = 0;
    string::concatenate_literal(buffer, text);
    return part - n;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) { return form_value(value, buffer, part, false, true); }

int32_t mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int32_t part, int32_t) {
    return form_value(value, buffer, part, all, false);
}

// ---- conversions ----

Cell* from_float_at(Cell* c, double x, bool strict) {
    double m = float_::abs(x);
    if (float_::not_finite_q(x) || m >= 1e17 || (m > 0 && m < 1e-5)) fire_bad_make_float(x);
    if (m == 0) return make_at(c, false, 0, Units(0));
    // The shortest digits that read back to x: |x| = 0.d1d2... x 10^point.
    char digits[float_text::MAX_DIGITS + 1];
    int point;
    int count = float_text::to_digits(m, 0, digits, &point);
    if (strict && count - point > DECIMALS) fire_bad_make_float(x);
    Units units = 0;
    // Digit i stands for 10^(point - 1 - i); the units count 10^-5.
    for (int i = 0; i < count; i++) {
        int exponent = point - 1 - i + DECIMALS;
        if (exponent < 0) break;  // decimals past the fifth are dropped
        units += Units(digits[i] - '0') * power_of_ten(exponent);
    }
    return make_at(c, x < 0, 0, units);
}

Cell* from_float(double x, bool strict) { return from_float_at(cell::begin(stack::push_raw()), x, strict); }

double to_float(const Cell* c) {
    // The amount with all five decimals, read back correctly rounded.
    Units units = get_units(c);
    char text[32];
    int n = 0;
    char reversed[24];
    int r = 0;
    Units whole = units / UNITS_PER_ONE;
    do {
        reversed[r++] = char('0' + int(whole % 10));
        whole /= 10;
    } while (whole != 0);
    while (r > 0) text[n++] = reversed[--r];
    text[n++] = '.';
    int32_t fraction = int32_t(units % UNITS_PER_ONE);
    for (int32_t scale = UNITS_PER_ONE / 10; scale >= 1; scale /= 10) text[n++] = char('0' + fraction / scale % 10);
    double d = lexer::float_text_to_double(reinterpret_cast<const uint8_t*>(text), n);
    return double(sign(c)) * d;
}

bool in_integer_range_q(const Cell* c) {
    Units whole = get_units(c) / UNITS_PER_ONE;
    return whole <= (negative_q(c) ? Units(2147483648u) : Units(2147483647u));
}

int32_t to_integer(const Cell* c) {
    if (!in_integer_range_q(c)) {
        fire_with_datatype("type-limit", TYPE_INTEGER);
    }
    int64_t whole = int64_t(get_units(c) / UNITS_PER_ONE);
    return int32_t(negative_q(c) ? -whole : whole);
}

bool make_from_digits(Cell* c, bool negative, int32_t currency, const uint8_t* integer_digits,
                      int32_t integer_length, const uint8_t* fraction_digits, int32_t fraction_length) {
    if (currency < 0 || currency > currency_count()) return false;
    Units whole = 0, fraction = 0;
    int32_t significant = 0, decimals = 0;
    for (int32_t i = 0; i < integer_length; i++) {
        uint8_t ch = integer_digits[i];
        if (ch == '\'') continue;
        if (ch < '0' || ch > '9') return false;
        if (significant == 0 && ch == '0') continue;  // leading zeros
        if (++significant > INTEGER_DIGITS) return false;
        whole = whole * 10 + Units(ch - '0');
    }
    for (int32_t i = 0; i < fraction_length; i++) {
        uint8_t ch = fraction_digits[i];
        if (ch == '\'') continue;
        if (ch < '0' || ch > '9' || ++decimals > DECIMALS) return false;
        fraction = fraction * 10 + Units(ch - '0');
    }
    fraction *= power_of_ten(DECIMALS - decimals);
    make_at(c, negative, currency, whole * UNITS_PER_ONE + fraction);
    return true;
}

// ---- make and to ----

namespace {

// [amount], [code amount], [amount fraction] or [code amount fraction].
Cell* from_block(Cell* proto, Cell* spec) {
    int32_t length = block::zs_length_q(spec);
    if (length < 1 || length > 3) fire_with_datatype("bad-make-arg", TYPE_MONEY, spec);
    Cell items[3];
    const Cell* head = block::zs_head(spec);
    for (int32_t i = 0; i < length; i++) items[i] = head[i];

    int32_t at = 0, currency = 0;
    if (type_of(&items[0]) == TYPE_WORD) {
        if (length == 1) fire_with_datatype("bad-make-arg", TYPE_MONEY, spec);  // a code is never last
        currency = currency_index_of_word(&items[0]);
        if (currency < 0) fire_with_datatype("bad-make-arg", TYPE_MONEY, &items[0]);
        at = 1;
    }
    if (length - at > 2) fire_with_datatype("bad-make-arg", TYPE_MONEY, spec);
    Cell* amount = &items[at];
    Cell result;
    switch (type_of(amount)) {
        case TYPE_INTEGER: from_integer_at(cell::begin(&result), integer::get_value(amount)); break;
        case TYPE_FLOAT: from_float_at(cell::begin(&result), float_::get(amount), true); break;
        default: fire_with_datatype("bad-make-arg", TYPE_MONEY, amount);
    }
    bool negative = get_sign(&result);
    Units units = get_units(&result);
    if (at + 1 < length) {
        Cell* fraction = &items[at + 1];
        if (type_of(amount) != TYPE_INTEGER) fire_with_datatype("bad-make-arg", TYPE_MONEY, spec);
        if (type_of(fraction) != TYPE_INTEGER) fire_with_datatype("bad-make-arg", TYPE_MONEY, fraction);
        int32_t f = integer::get_value(fraction);
        if (f < 0 || f >= UNITS_PER_ONE) fire_with_datatype("bad-make-arg", TYPE_MONEY, fraction);
        units += Units(f);
    }
    return make_at(proto, negative, currency, units);
}

}  // namespace

Cell* to(Cell* proto, Cell* spec, int32_t) {
    uint32_t t = type_of(spec);
    switch (t) {
        case TYPE_MONEY: return copy_cell(spec, proto);
        case TYPE_INTEGER: return from_integer_at(proto, integer::get_value(spec));
        case TYPE_FLOAT: return from_float_at(proto, float_::get(spec), true);
        default: break;
    }
    if (!string::any_string_q(t)) return raise_bad_to_arg(TYPE_MONEY, spec);
    int32_t count = string::rs_length_q(spec);
    SeriesBuffer* s = string::buffer(spec);
    uint32_t unit = memory::unit_of(s);
    const uint8_t* start = memory::head_of(s) + int64_t(spec->w1) * unit;
    int32_t error = 0;
    Cell result;
    lexer::string_to_money(start, count < 0 ? 0 : count, int32_t(unit), &error, cell::begin(&result));
    if (error) return raise_bad_to_arg(TYPE_MONEY, spec);
    return copy_cell(&result, proto);
}

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    switch (type_of(spec)) {
        case TYPE_WORD: {
            int32_t currency = currency_index_of_word(spec);
            if (currency < 0) fire_with_datatype("bad-make-arg", TYPE_MONEY, spec);
            return make_at(proto, false, currency, Units(0));
        }
        case TYPE_BLOCK: return from_block(proto, spec);
        default: return to(proto, spec, type);
    }
}

// ---- paths and pick ----

namespace {

// Field 1 the currency word (or none), field 2 the amount without currency.
Cell* get_field(Cell* value, int32_t field, Cell* out) {
    if (field == 1) {
        Cell word;
        if (!currency_word(currency_of(value), &word)) return none::make_at(out);
        return copy_cell(&word, out);
    }
    Cell amount = *value;
    set_currency(&amount, 0);
    cell::clear_new_line_flag(&amount);
    return copy_cell(&amount, out);
}

int32_t field_of(const Cell* selector) {
    if (type_of(selector) == TYPE_INTEGER) {
        int32_t i = integer::get_value(selector);
        return i == 1 || i == 2 ? i : -1;
    }
    if (type_of(selector) == TYPE_WORD) {
        if (word_named_q(selector, "code")) return 1;
        if (word_named_q(selector, "amount")) return 2;
    }
    return -1;
}

}  // namespace

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    if (value != nullptr) fire(ErrorCategory::script, "bad-path-set", path ? path : element, element);
    int32_t field = field_of(element);
    if (field < 0) fire(ErrorCategory::script, "invalid-path", path ? path : element, element);
    return get_field(parent, field, cell::begin(stack::push_raw()));
}

const Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    int32_t field = boxed != nullptr && type_of(boxed) == TYPE_WORD ? field_of(boxed) : index;
    if (field != 1 && field != 2) {
        if (boxed != nullptr) fire(ErrorCategory::script, "out-of-range", boxed);
        Cell n;
        integer::make_at(cell::begin(&n), index);
        fire(ErrorCategory::script, "out-of-range", &n);
    }
    return get_field(value, field, value);
}

// ---- random ----

Cell* random(Cell* value, bool seed, bool, bool) {
    if (seed) {
        zuv::random::seed(value->w1 ^ value->w2 ^ value->w3 ^ (get_sign(value) ? 1u : 0u));
        return unset::make_at(value);
    }
    uint8_t bytes[DIGIT_BYTES];
    get_digit_bytes(value, bytes);
    int32_t first = DIGITS - digit_count(bytes) + 1;
    bool below = false;
    for (int32_t p = first; p <= DIGITS; p++) {
        int32_t own = get_digit(bytes, p);
        int32_t d;
        if (below) {
            d = zuv::random::next_int() % 10;
        } else {
            // Drawing the value's own digit again stands only when two further
            // draws agree, so that reaching the value itself stays rare.
            for (;;) {
                d = zuv::random::next_int() % (own + 1);
                if (d < own) break;
                if (zuv::random::next_int() % 1000 == zuv::random::next_int() % 1000) break;
            }
            below = d < own;
        }
        set_digit(bytes, p, d);
    }
    return make_at(value, get_sign(value), currency_of(value), bytes);
}

// ---- round ----

Cell* round(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (zero_q(value)) return value;
    Units s = UNITS_PER_ONE;
    if (series::given(scale, value)) {
        Cell converted;
        switch (type_of(scale)) {
            case TYPE_MONEY: s = get_units(scale); break;
            case TYPE_INTEGER:
                s = get_units(from_integer_at(cell::begin(&converted), integer::get_value(scale)));
                break;
            case TYPE_FLOAT: s = get_units(from_float_at(cell::begin(&converted), float_::get(scale), true)); break;
            default: {
                Cell function = stack::caller_word();
                fire_not_related(&function, type_of(scale));
            }
        }
    }
    if (s == 0) return value;
    bool negative = negative_q(value);
    Units v = get_units(value);
    Units r = v % s;
    // A multiple of the scale is its own rounding in every direction.
    if (r == 0) return value;
    Units t = s - r;
    // The halfway flag: the remainder's decimals are .00500 (half a cent).
    bool halfway = r % UNITS_PER_ONE == 500;
    bool units_even = (v / UNITS_PER_ONE) % 2 == 0;
    bool nearest_up = !(r < t);
    bool up;
    if (down) up = false;
    else if (floor) up = negative;
    else if (ceiling) up = !negative;
    else if (even && halfway) up = !units_even && nearest_up;
    else if (half_down && halfway) up = false;
    else if (half_ceiling && halfway) up = !negative;
    else up = nearest_up;
    Units result = up ? v + t : v - r;
    if (result >= limit()) {
        fire_with_datatype("type-limit", TYPE_MONEY);
    }
    return make_at(value, negative, currency_of(value), result);
}

}  // namespace zuv::money
