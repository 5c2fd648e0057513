// Conversion natives: as, dehex, enhex, to-hex, uppercase, lowercase,
// as-pair, as-point2D, as-point3D, as-money, debase, enbase and
// to-local-file. Each checks and converts its arguments and leaves its
// result in the call's first cell.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "evaluator/natives.hpp"
#include "evaluator/natives_support.hpp"
#include "evaluator/rt_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/datatypes/binary_codec.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/issue.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/os.hpp"
#include "runtime/unicode.hpp"

namespace zuv::natives {

// ---- shared text helpers ----

std::string support::utf8_of(const Cell* str) {
    int32_t n = string::rs_length_q(str);
    std::string out(size_t(n) * 4 + 1, '\0');
    int32_t bytes = unicode::encode_utf8_into_buffer(str, reinterpret_cast<uint8_t*>(out.data()), -1, false);
    out.resize(size_t(bytes));
    return out;
}

std::string support::name_of(const Cell* value) {
    if (!word::any_word_q(type_of(value))) return utf8_of(value);
    return reinterpret_cast<const char*>(symbol::to_utf8_copy(int32_t(value->w2)));
}

using namespace support;

namespace {

inline Cell* arg(int32_t i) { return stack::arguments + i; }

constexpr uint8_t AS_TYPE[] = {TYPE_DATATYPE, TYPE_BLOCK,     TYPE_PAREN,    TYPE_PATH, TYPE_LIT_PATH,
                               TYPE_SET_PATH, TYPE_GET_PATH,  TYPE_STRING,   TYPE_FILE, TYPE_URL,
                               TYPE_TAG,      TYPE_EMAIL,     TYPE_REF};
constexpr uint8_t AS_SPEC[] = {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH,  TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH,
                               TYPE_STRING, TYPE_FILE, TYPE_URL,   TYPE_TAG,      TYPE_EMAIL,    TYPE_REF};
constexpr uint8_t CASE_VALUE[] = {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_CHAR};
constexpr uint8_t CASE_LIMIT[] = {TYPE_INTEGER, TYPE_FLOAT, TYPE_PERCENT, TYPE_STRING, TYPE_FILE,
                                  TYPE_URL,     TYPE_TAG,   TYPE_EMAIL,   TYPE_REF};
constexpr uint8_t STRING_ONLY[] = {TYPE_STRING};
constexpr uint8_t BINARY_OR_STRING[] = {TYPE_BINARY, TYPE_STRING};
constexpr uint8_t FILE_OR_STRING[] = {TYPE_FILE, TYPE_STRING};

// ---- as ----

// 1 for the block family, 2 for the string family, 0 for any other type.
int32_t family_of(uint32_t type) {
    switch (type) {
        case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
            return 1;
        case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF:
            return 2;
        default: return 0;
    }
}

// ---- text ----

// The characters of a string value from its head.
std::vector<uint32_t> chars_of(const Cell* str) {
    int32_t n = string::rs_length_q(str);
    std::vector<uint32_t> out;
    out.reserve(size_t(n));
    for (int32_t i = 0, head = std::max(int32_t(str->w1), 0); i < n; i++) out.push_back(string::char_at(str, head + i));
    return out;
}

// result := a new string! of the code points (widened as they need).
void make_string(Cell* result, const std::vector<uint32_t>& chars) {
    string::zs_make_at(cell::begin(result), int32_t(std::max<size_t>(chars.size(), 1)));
    for (uint32_t cp : chars) string::append_char(result, cp);
}

// result := a new string! of ASCII text.
void make_ascii_string(Cell* result, const std::string& text) {
    string::zs_make_at(cell::begin(result), int32_t(std::max<size_t>(text.size(), 1)));
    string::append_bytes(result, reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()));
}

// ---- numbers ----

// An integer! or float! coordinate of as-pair: a float truncated toward
// zero; a non-finite one is invalid, one outside 32 bits out of range.
int32_t pair_coordinate(const Cell* v) {
    if (type_of(v) == TYPE_INTEGER) return integer::get_value(v);
    if (float_::not_finite_q(float_::get(v))) fire(ErrorCategory::script, "invalid-arg", v);
    return rt_support::float_to_integer(v);
}

// A coordinate of the points as a single-precision float.
float point_coordinate(const Cell* v) {
    return point::narrow(type_of(v) == TYPE_INTEGER ? double(integer::get_value(v)) : float_::get(v));
}

// The /base of enbase and debase: 64 unless given; 2, 16, 58 or 64.
int32_t base_of(const int32_t* refinements) {
    Cell* base = refinement_arg(refinements, 0);
    if (!base) return 64;
    int32_t b = integer::get_value(base);
    if (b != 2 && b != 16 && b != 58 && b != 64) fire(ErrorCategory::script, "invalid-arg", base);
    return b;
}

}  // namespace

// ---- as ----

void as_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, AS_TYPE);
        check_argument(1, AS_SPEC);
    }
    uint32_t target = type_of(arg(0)) == TYPE_DATATYPE ? (arg(0)->w1 & TYPE_MASK) : type_of(arg(0));
    uint32_t from = type_of(arg(1));
    if (family_of(from) == 0 || family_of(from) != family_of(target)) {
        Cell a, b;
        datatype::make_at(&a, int32_t(from));
        datatype::make_at(&b, int32_t(target));
        fire(ErrorCategory::script, "not-related", &a, &b);
    }
    // The same buffer and head under another type: nothing is copied.
    Cell result = *arg(1);
    cell::set_type(&result, target);
    copy_cell(&result, arg(0));
}

// ---- text ----

void dehex_star(bool check, const int32_t*) {
    if (check) check_argument(0, ANY_STRING);
    std::string text = url::utf8_of(arg(0));
    std::vector<uint32_t> chars;
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    url::decode(p, p + text.size(), chars);
    make_string(arg(0), chars);
}

void enhex_star(bool check, const int32_t*) {
    if (check) check_argument(0, ANY_STRING);
    // A string! keeps only the unreserved characters; the other text types
    // also keep the characters that structure a URL.
    int32_t mode = type_of(arg(0)) == TYPE_STRING ? url::MODE_UNRESERVED : url::MODE_URL;
    std::string text = url::utf8_of(arg(0));
    std::string out;
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    url::encode(p, p + text.size(), mode, out);
    make_ascii_string(arg(0), out);
}

void to_hex_star(bool check, const int32_t* refinements) {
    if (check) {
        check_argument(0, INTEGER);
        check_at(refinements[0], 2, INTEGER);
    }
    std::string digits = string::int_to_hex(integer::get_value(arg(0)), false);
    if (Cell* size = refinement_arg(refinements, 0)) {
        int32_t n = integer::get_value(size);
        if (n <= 0) fire(ErrorCategory::script, "invalid-arg", size);
        if (n < 8) digits.erase(0, size_t(8 - n));
    }
    issue::make_at(arg(0), reinterpret_cast<const uint8_t*>(digits.data()), int32_t(digits.size()));
}

namespace {

void change_case(bool check, const int32_t* refinements, int32_t direction) {
    if (check) {
        check_argument(0, CASE_VALUE);
        check_at(refinements[0], 2, CASE_LIMIT);
    }
    Cell* limit = refinement_arg(refinements, 0);
    Cell count;
    if (limit && (type_of(limit) == TYPE_FLOAT || type_of(limit) == TYPE_PERCENT)) {
        int32_t n;
        if (!float_::to_int32(float_::get(limit), &n)) fire(ErrorCategory::script, "out-of-range", limit);
        limit = integer::make_at(&count, n);
    }
    case_folding::change_case(arg(0), limit, direction);
}

}  // namespace

void uppercase_star(bool check, const int32_t* refinements) { change_case(check, refinements, 1); }
void lowercase_star(bool check, const int32_t* refinements) { change_case(check, refinements, 0); }

// ---- numbers ----

void as_pair_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, INTEGER_FLOAT);
        check_argument(1, INTEGER_FLOAT);
    }
    int32_t x = pair_coordinate(arg(0));
    int32_t y = pair_coordinate(arg(1));
    pair::make_at(cell::begin(arg(0)), x, y);
}

namespace {

void as_point(bool check, int32_t count) {
    if (check)
        for (int32_t i = 0; i < count; i++) check_argument(i, INTEGER_FLOAT);
    float c[3] = {0.0f, 0.0f, 0.0f};
    for (int32_t i = 0; i < count; i++) c[i] = point_coordinate(arg(i));
    point::make_at(cell::begin(arg(0)), count == 2 ? TYPE_POINT2D : TYPE_POINT3D, c[0], c[1], c[2]);
}

}  // namespace

void as_point2D_star(bool check, const int32_t*) { as_point(check, 2); }
void as_point3D_star(bool check, const int32_t*) { as_point(check, 3); }

void as_money_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, WORD);
        check_argument(1, INTEGER_FLOAT);
    }
    int32_t currency = money::currency_index_of_word(arg(0));
    if (currency < 0) fire(ErrorCategory::script, "invalid-arg", arg(0));
    // The amount goes into the currency word's cell, the call's result.
    Cell* result = arg(0);
    if (type_of(arg(1)) == TYPE_INTEGER) money::from_integer_at(result, integer::get_value(arg(1)));
    else money::from_float_at(result, float_::get(arg(1)), false);
    money::set_currency(result, currency);
}

// ---- bases ----

void debase_star(bool check, const int32_t* refinements) {
    if (check) {
        check_argument(0, STRING_ONLY);
        check_at(refinements[0], 2, INTEGER);
    }
    int32_t base = base_of(refinements);
    std::vector<uint32_t> text = chars_of(arg(0));
    none::make_at(arg(0));
    std::vector<uint8_t> bytes;
    bool ok = base == 64   ? binary::decode_base64(text, bytes)
              : base == 58 ? binary::decode_base58(text, bytes)
              : base == 16 ? binary::decode_base16(text, bytes)
                           : binary::decode_base2(text, bytes);
    if (!ok) return;
    Node node = memory::alloc_bytes(int64_t(bytes.size()));
    SeriesBuffer* s = memory::buffer_of(node);
    if (!bytes.empty()) std::memcpy(memory::head_of(s), bytes.data(), bytes.size());
    s->tail = s->head + int32_t(bytes.size());
    Cell* result = cell::begin(arg(0));
    result->w2 = node;
    cell::set_type(result, TYPE_BINARY);
}

void enbase_star(bool check, const int32_t* refinements) {
    if (check) {
        check_argument(0, BINARY_OR_STRING);
        check_at(refinements[0], 2, INTEGER);
    }
    int32_t base = base_of(refinements);
    std::string bytes;
    if (type_of(arg(0)) == TYPE_STRING) {
        bytes = utf8_of(arg(0));
    } else {
        SeriesBuffer* s = memory::buffer_of(arg(0)->w2);
        int32_t head = std::clamp(int32_t(arg(0)->w1), 0, memory::used_bytes(s));
        bytes.assign(reinterpret_cast<const char*>(memory::head_of(s)) + head, size_t(memory::used_bytes(s) - head));
    }
    // The room the text needs, as the encoders' buffers are sized.
    int64_t n = int64_t(bytes.size());
    int64_t room = base == 64   ? (n / 3) * 4 + ((n % 3) * 4) / 3 + (n / 32) * 2 + 5
                   : base == 58 ? n * 2
                   : base == 16 ? n * 2 + n / 32 + 32
                                : n * 8 + (n / 8) * 2 + 4;
    if (room > INT32_MAX) fire(ErrorCategory::script, "too-long");
    std::string text;
    text.reserve(size_t(room));
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    switch (base) {
        case 64: binary::encode_base64(p, int32_t(n), text); break;
        case 58: binary::encode_base58(p, int32_t(n), text); break;
        case 16: binary::encode_base16(p, int32_t(n), text); break;
        default: binary::encode_base2(p, int32_t(n), text); break;
    }
    make_ascii_string(arg(0), text);
}

// ---- files ----

void to_local_file_star(bool check, const int32_t* refinements) {
    if (check) check_argument(0, FILE_OR_STRING);
    std::string text = file::to_local_path(arg(0), used(refinements, 0));
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), arg(0), 0);
}

}  // namespace zuv::natives
