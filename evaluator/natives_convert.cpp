// Conversion natives: as, dehex, enhex, to-hex, uppercase, lowercase,
// as-pair, as-point2D, as-point3D, as-money, debase, enbase and
// to-local-file. Each checks and converts its arguments and leaves its
// result in the call's first cell.
#include <algorithm>
#include <cfloat>
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
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
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

// A native whose result is of a datatype not built yet (nothing could mold
// or compare the value) raises not-done instead of making it.
void require_built(int32_t type) {
    if (!get_slot<Act::mold>(uint32_t(type))) fire(ErrorCategory::internal, "not-done");
}

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

int32_t hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Bytes kept by enhex: the unreserved characters, and for the URL types also
// the reserved ones that structure a URL.
bool unreserved_q(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c == '~';
}
bool url_char_q(uint8_t c) {
    static constexpr char reserved[] = ":/?#[]@!$&'()*+,;=";
    return unreserved_q(c) || (c != 0 && std::char_traits<char>::find(reserved, sizeof reserved - 1, char(c)));
}

// ---- numbers ----

// An integer! or float! coordinate of as-pair: a float truncated toward
// zero; a non-finite one is invalid, one outside 32 bits out of range.
int32_t pair_coordinate(const Cell* v) {
    if (type_of(v) == TYPE_INTEGER) return integer::get_value(v);
    if (float_::not_finite_q(float_::get(v))) fire(ErrorCategory::script, "invalid-arg", v);
    return rt_support::float_to_integer(v);
}

// A coordinate of the points as a single-precision float. A finite double
// beyond the float range becomes an infinity of its sign (the plain
// conversion would be undefined).
float point_coordinate(const Cell* v) {
    double d = type_of(v) == TYPE_INTEGER ? double(integer::get_value(v)) : float_::get(v);
    if (std::isfinite(d) && std::fabs(d) > double(FLT_MAX)) return d > 0 ? INFINITY : -INFINITY;
    return float(d);
}

uint32_t float_bits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// The /base of enbase and debase: 64 unless given; 2, 16, 58 or 64.
int32_t base_of(const int32_t* refinements) {
    Cell* base = refinement_arg(refinements, 0);
    if (!base) return 64;
    int32_t b = integer::get_value(base);
    if (b != 2 && b != 16 && b != 58 && b != 64) fire(ErrorCategory::script, "invalid-arg", base);
    return b;
}

// ---- files ----

// The path in the notation of the system (on Linux the name as it stands);
// with full, a relative name gets the current folder in front.
std::string local_path(const Cell* path, bool full) {
    std::string text = utf8_of(path);
    if (full && (text.empty() || text[0] != '/')) {
        std::string dir = platform::get_current_dir();
        if (dir.empty() || dir.back() != '/') dir += '/';
        text.insert(0, dir);
    }
    return text;
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
    std::string text = utf8_of(arg(0));
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); i++) {
        int32_t high, low;
        if (text[i] == '%' && i + 2 < text.size() && (high = hex_digit(uint8_t(text[i + 1]))) >= 0 &&
            (low = hex_digit(uint8_t(text[i + 2]))) >= 0) {
            bytes += char(high << 4 | low);
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    // Escapes that form a UTF-8 sequence give one character; a byte that
    // does not is taken as the character of its value.
    std::vector<uint32_t> chars;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint8_t* end = p + bytes.size();
    while (p < end) {
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_bounded(p, end, &cp);
        if (cp < 0) {
            chars.push_back(*p++);
        } else {
            chars.push_back(uint32_t(cp));
            p = next;
        }
    }
    make_string(arg(0), chars);
}

void enhex_star(bool check, const int32_t*) {
    if (check) check_argument(0, ANY_STRING);
    bool url_mode = type_of(arg(0)) != TYPE_STRING;
    std::string text = utf8_of(arg(0));
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto c = uint8_t(ch);
        if (url_mode ? url_char_q(c) : unreserved_q(c)) {
            out += ch;
        } else {
            out += '%';
            out += string::byte_to_hex(c)[0];
            out += string::byte_to_hex(c)[1];
        }
    }
    make_ascii_string(arg(0), out);
}

void to_hex_star(bool check, const int32_t* refinements) {
    require_built(TYPE_ISSUE);
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
    word::make_bound(arg(0), TYPE_ISSUE, _context::global, symbol::make(digits.c_str()), -1);
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
    require_built(TYPE_PAIR);
    if (check) {
        check_argument(0, INTEGER_FLOAT);
        check_argument(1, INTEGER_FLOAT);
    }
    int32_t x = pair_coordinate(arg(0));
    int32_t y = pair_coordinate(arg(1));
    Cell* result = cell::begin(arg(0));
    result->w2 = uint32_t(x);
    result->w3 = uint32_t(y);
    cell::set_type(result, TYPE_PAIR);
}

namespace {

void as_point(bool check, int32_t count) {
    require_built(count == 2 ? TYPE_POINT2D : TYPE_POINT3D);
    if (check)
        for (int32_t i = 0; i < count; i++) check_argument(i, INTEGER_FLOAT);
    uint32_t words[3] = {0, 0, 0};
    for (int32_t i = 0; i < count; i++) words[i] = float_bits(point_coordinate(arg(i)));
    Cell* result = cell::begin(arg(0));
    result->w1 = words[0];
    result->w2 = words[1];
    result->w3 = words[2];
    cell::set_type(result, count == 2 ? TYPE_POINT2D : TYPE_POINT3D);
}

}  // namespace

void as_point2D_star(bool check, const int32_t*) { as_point(check, 2); }
void as_point3D_star(bool check, const int32_t*) { as_point(check, 3); }

// money! and the system's currency list do not exist yet.
void as_money_star(bool, const int32_t*) { fire(ErrorCategory::internal, "not-done"); }

// ---- bases ----

void debase_star(bool check, const int32_t* refinements) {
    require_built(TYPE_BINARY);
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
    std::string text = local_path(arg(0), used(refinements, 0));
    string::load_at(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), arg(0), 0);
}

}  // namespace zuv::natives
