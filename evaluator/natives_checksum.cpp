// The natives over the checksum and DEFLATE services: checksum, compress
// and decompress. Their results are binary! values (integers for the three
// checksums); their input bytes come from a binary! from its head or the
// UTF-8 text of a string.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>

#include "evaluator/natives.hpp"
#include "evaluator/natives_support.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "services/checksum.hpp"
#include "services/deflate.hpp"
#include "services/files.hpp"

namespace zuv::natives {

using namespace support;

namespace {

inline Cell* arg(int32_t i) { return stack::arguments + i; }

constexpr uint8_t CHECKSUM_DATA[] = {TYPE_BINARY, TYPE_STRING, TYPE_FILE};
constexpr uint8_t CHECKSUM_SPEC[] = {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF,
                                     TYPE_BINARY, TYPE_INTEGER};
constexpr uint8_t COMPRESS_DATA[] = {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_BINARY};
constexpr uint8_t BINARY_ONLY[] = {TYPE_BINARY};

// The most bytes one binary! can hold: a series buffer is at most INT32_MAX
// bytes, allocated in 16-byte steps.
constexpr int64_t MAX_BINARY = INT32_MAX & ~int64_t(15);

// The bytes of a value: a binary! from its head (into its buffer: valid until
// the next allocation), or a string's UTF-8 (kept in text).
struct Bytes {
    const uint8_t* data;
    int64_t length;
};

Bytes bytes_of(const Cell* value, std::string& text) {
    if (type_of(value) == TYPE_BINARY) {
        SeriesBuffer* s = binary::buffer(value);
        int32_t head = std::clamp(int32_t(value->w1), 0, memory::used_bytes(s));
        return {memory::head_of(s) + head, memory::used_bytes(s) - head};
    }
    text = utf8_of(value);
    return {reinterpret_cast<const uint8_t*>(text.data()), int64_t(text.size())};
}

// The whole content of a file, else access cannot-open naming it.
std::string read_whole(const Cell* file) {
    std::string out;
    if (!simple_io::read_bytes(utf8_of(file), out)) fire(ErrorCategory::access, "cannot-open", file);
    return out;
}

bool same_symbol(const Cell* word, int32_t symbol) {
    return symbol::resolve(int32_t(word->w2)) == symbol::resolve(symbol);
}

using Encoder = int (*)(uint8_t*, int64_t*, const uint8_t*, int64_t);
using Decoder = int (*)(uint8_t*, int64_t*, const uint8_t*, int64_t, int64_t);

// The method symbol a word names (zlib, deflate or gzip in any case), else
// script invalid-arg with the word.
int32_t method_of(const Cell* word) {
    for (int32_t m : {deflate::method::zlib, deflate::method::deflate, deflate::method::gzip})
        if (same_symbol(word, m)) return m;
    fire(ErrorCategory::script, "invalid-arg", word);
}

Encoder encoder_of(const Cell* word) {
    int32_t m = method_of(word);
    return m == deflate::method::zlib ? deflate::zlib_deflate : m == deflate::method::gzip ? deflate::gzip : deflate::compress;
}

Decoder decoder_of(const Cell* word) {
    int32_t m = method_of(word);
    return m == deflate::method::zlib ? deflate::zlib_inflate : m == deflate::method::gzip ? deflate::gunzip : deflate::inflate;
}

}  // namespace

// ---- checksum ----

void checksum_star(bool check, const int32_t* refinements) {
    if (check) {
        check_argument(0, CHECKSUM_DATA);
        check_argument(1, WORD);
        check_at(refinements[0], 3, CHECKSUM_SPEC);
    }
    uint32_t data_type = type_of(arg(0));
    if (data_type != TYPE_FILE && data_type != TYPE_STRING && data_type != TYPE_BINARY)
        fire(ErrorCategory::script, "invalid-arg", arg(0));
    // A file is read whole first.
    std::string data_text;
    if (data_type == TYPE_FILE) data_text = read_whole(arg(0));
    const Cell* method = arg(1);
    int32_t symbol = int32_t(method->w2);
    if (!checksum::method_q(symbol)) fire(ErrorCategory::script, "invalid-arg", method);
    Cell* spec = refinement_arg(refinements, 0);
    bool simple = same_symbol(method, checksum::method::crc32) || same_symbol(method, checksum::method::tcp) ||
                  same_symbol(method, checksum::method::adler32);
    bool hash = same_symbol(method, checksum::method::hash);
    if ((simple && spec) || (hash && !spec) ||
        (hash && (type_of(spec) == TYPE_STRING || type_of(spec) == TYPE_BINARY))) {
        Cell with = word::from_c_string("with");
        fire(ErrorCategory::script, "invalid-refine-arg", &with, spec);
    }
    if (spec && type_of(spec) == TYPE_INTEGER) {
        integer::make_at(arg(0), checksum::hash_unsupported());
        return;
    }
    if (spec && type_of(spec) != TYPE_STRING && type_of(spec) != TYPE_BINARY)
        fire(ErrorCategory::script, "invalid-arg", spec);
    // No allocation from here until the result is made: the pointers into
    // the data and key buffers stay valid.
    Bytes data = data_type == TYPE_FILE
                     ? Bytes{reinterpret_cast<const uint8_t*>(data_text.data()), int64_t(data_text.size())}
                     : bytes_of(arg(0), data_text);
    std::string key_text;
    Bytes key = spec ? bytes_of(spec, key_text) : Bytes{nullptr, 0};
    size_t n = size_t(data.length);
    if (same_symbol(method, checksum::method::crc32)) {
        integer::make_at(arg(0), int32_t(checksum::crc32(data.data, n)));
    } else if (same_symbol(method, checksum::method::adler32)) {
        integer::make_at(arg(0), int32_t(checksum::adler32(data.data, n)));
    } else if (same_symbol(method, checksum::method::tcp)) {
        integer::make_at(arg(0), checksum::tcp(data.data, n));
    } else {
        int32_t index = checksum::method_index(symbol);
        checksum::Digest d = spec ? checksum::hmac(data.data, n, key.data, size_t(key.length), index)
                                  : checksum::digest(data.data, n, index);
        binary::load_at(arg(0), d.bytes, d.size);
    }
}

// ---- compress and decompress ----

namespace {

// Runs a coder into a new binary! of room for size bytes, and once more at
// the size it asks for when that was too small; the binary! becomes the
// call's result. The input's bytes are read again after each allocation
// (which may move its buffer). Any failure raises script invalid-data.
template <typename Run>
void code_into_binary(int64_t size, Run run) {
    const Cell* method = arg(1);
    Cell* slot = cell::begin(stack::push_raw());  // keeps the new binary! alive
    int answer = 1;
    for (int attempt = 0; attempt < 2 && answer == 1; attempt++) {
        if (size < 0 || size > MAX_BINARY) break;
        Node node = memory::alloc_bytes(size);
        slot->w1 = 0;
        slot->w2 = node;
        cell::set_type(slot, TYPE_BINARY);
        SeriesBuffer* out = memory::buffer_of(node);
        answer = run(memory::head_of(out), &size);
        if (answer == 0) out->tail = out->head + int32_t(size);
    }
    if (answer != 0) fire(ErrorCategory::script, "invalid-data", method);
    copy_cell(slot, arg(0));
    stack::pop(1);
}

}  // namespace

void compress_star(bool check, const int32_t*) {
    if (check) {
        check_argument(0, COMPRESS_DATA);
        check_argument(1, WORD);
    }
    Encoder encoder = encoder_of(arg(1));
    std::string text;
    Bytes in = bytes_of(arg(0), text);
    code_into_binary(std::min(in.length + 32, MAX_BINARY), [&](uint8_t* out, int64_t* size) {
        if (type_of(arg(0)) == TYPE_BINARY) in = bytes_of(arg(0), text);
        return encoder(out, size, in.data, in.length);
    });
}

void decompress_star(bool check, const int32_t* refinements) {
    if (check) {
        check_argument(0, BINARY_ONLY);
        check_argument(1, WORD);
        check_at(refinements[0], 3, INTEGER);
    }
    Decoder decoder = decoder_of(arg(1));
    Cell* expected = refinement_arg(refinements, 0);
    int64_t size = expected ? integer::get_value(expected) : 0;
    std::string unused;
    Bytes in = bytes_of(arg(0), unused);
    // Measured by decoding, unless /size offers more room than the input's
    // length; under gzip always (its trailer's size only checks the result).
    if (same_symbol(arg(1), deflate::method::gzip) || size <= in.length || size > MAX_BINARY) {
        size = 0;
        int answer = decoder(nullptr, &size, in.data, in.length, MAX_BINARY);
        if (answer != 0 && answer != 1) fire(ErrorCategory::script, "invalid-data", arg(1));
    }
    code_into_binary(size, [&](uint8_t* out, int64_t* room) {
        in = bytes_of(arg(0), unused);
        return decoder(out, room, in.data, in.length, MAX_BINARY);
    });
}

}  // namespace zuv::natives
