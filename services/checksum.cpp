#include "services/checksum.hpp"

#include <openssl/evp.h>
#include <sys/random.h>

#include <cerrno>
#include <cstring>

#include "runtime/console_writer.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "services/shared_library.hpp"

namespace zuv::checksum {

namespace method {
int32_t tcp = 0, md5 = 0, sha1 = 0, crc32 = 0, adler32 = 0, sha256 = 0, sha384 = 0, sha512 = 0, hash = 0;
}

namespace {

// The methods in the order their symbols are made, with their digest indexes.
struct MethodRow {
    int32_t* symbol;
    const char* spelling;
    int32_t index;
};
constexpr MethodRow method_rows[] = {
    {&method::tcp, "tcp", 0},        {&method::md5, "md5", 2},         {&method::sha1, "sha1", 3},
    {&method::crc32, "crc32", 1},    {&method::adler32, "adler32", -1}, {&method::sha256, "sha256", 4},
    {&method::sha384, "sha384", 5},  {&method::sha512, "sha512", 6},   {&method::hash, "hash", -1},
};

const MethodRow* row_of(int32_t symbol) {
    int32_t canonical = symbol::resolve(symbol);
    for (const MethodRow& row : method_rows)
        if (symbol::resolve(*row.symbol) == canonical) return &row;
    return nullptr;
}

// The CRC-32 table of the reflected polynomial, made by the first CRC.
uint32_t crc_table[256];
bool crc_table_made = false;

void make_crc_table() {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        crc_table[i] = c;
    }
    crc_table_made = true;
}

// The digests' library, loaded at the first digest rather than linked (see
// shared_library.hpp); null when it cannot be loaded.
static_assert(OPENSSL_VERSION_MAJOR == 3, "the digests' library is loaded by the name of its version 3");
struct Crypto {
    decltype(&EVP_md5) md5;
    decltype(&EVP_sha1) sha1;
    decltype(&EVP_sha256) sha256;
    decltype(&EVP_sha384) sha384;
    decltype(&EVP_sha512) sha512;
    decltype(&EVP_MD_CTX_new) ctx_new;
    decltype(&EVP_MD_CTX_free) ctx_free;
    decltype(&EVP_DigestInit_ex) init;
    decltype(&EVP_DigestUpdate) update;
    decltype(&EVP_DigestFinal_ex) final;
};

const Crypto* library() {
    return shared_library::load_once<Crypto>("libcrypto.so.3", [](void* library, Crypto& c) {
        using shared_library::take;
        return take(library, c.md5, "EVP_md5") && take(library, c.sha1, "EVP_sha1") &&
               take(library, c.sha256, "EVP_sha256") && take(library, c.sha384, "EVP_sha384") &&
               take(library, c.sha512, "EVP_sha512") && take(library, c.ctx_new, "EVP_MD_CTX_new") &&
               take(library, c.ctx_free, "EVP_MD_CTX_free") && take(library, c.init, "EVP_DigestInit_ex") &&
               take(library, c.update, "EVP_DigestUpdate") && take(library, c.final, "EVP_DigestFinal_ex");
    });
}

const EVP_MD* algorithm_of(const Crypto& lib, int32_t index) {
    switch (index) {
        case 2: return lib.md5();
        case 3: return lib.sha1();
        case 4: return lib.sha256();
        case 5: return lib.sha384();
        case 6: return lib.sha512();
        default: return nullptr;
    }
}

[[noreturn]] void unsupported(int32_t index) {
    static const char* const names[] = {"tcp", "crc32", "md5", "sha1", "sha256", "sha384", "sha512"};
    Cell name = word::from_c_string(names[index]);
    fire(ErrorCategory::internal, "not-here", &name);
}

struct Piece {
    const uint8_t* bytes;
    size_t length;
};

// The digest of the pieces taken one after the other. A failing library call
// raises an error: a digest is never made up.
template <size_t N>
Digest digest_of(const Piece (&pieces)[N], int32_t index) {
    if (digest_size(index) == 0) {
        Cell arg{};
        fire(ErrorCategory::script, "invalid-arg", integer::make_at(&arg, index));
    }
    const Crypto* lib = library();
    if (!lib) unsupported(index);
    const EVP_MD* md = algorithm_of(*lib, index);
    Digest d{};
    EVP_MD_CTX* context = lib->ctx_new();
    bool ok = md && context && lib->init(context, md, nullptr) == 1;
    for (const Piece& p : pieces) ok = ok && lib->update(context, p.bytes, p.length) == 1;
    unsigned size = 0;
    ok = ok && lib->final(context, d.bytes, &size) == 1;
    lib->ctx_free(context);
    if (!ok || int32_t(size) != digest_size(index)) unsupported(index);
    d.size = int32_t(size);
    return d;
}

}  // namespace

void init_words() {
    for (const MethodRow& row : method_rows) *row.symbol = symbol::make(row.spelling);
}

bool method_q(int32_t symbol) { return row_of(symbol) != nullptr; }

int32_t method_index(int32_t symbol) {
    const MethodRow* row = row_of(symbol);
    return row ? row->index : -1;
}

int32_t digest_size(int32_t index) {
    switch (index) {
        case 2: return 16;
        case 3: return 20;
        case 4: return 32;
        case 5: return 48;
        case 6: return 64;
        default: return 0;
    }
}

uint32_t crc32_update(uint32_t crc, const uint8_t* bytes, size_t length) {
    if (!crc_table_made) make_crc_table();
    uint32_t r = ~crc;
    for (size_t i = 0; i < length; i++) r = (r >> 8) ^ crc_table[(r ^ bytes[i]) & 0xFF];
    return ~r;
}

uint32_t crc32(const uint8_t* bytes, size_t length) { return crc32_update(0, bytes, length); }

uint32_t adler32(const uint8_t* bytes, size_t length) {
    // The largest chunk after which s2 cannot pass 2^31 - 1 before reduction.
    constexpr size_t CHUNK = 3854;
    constexpr uint32_t BASE = 65521;
    uint32_t s1 = 1, s2 = 0;
    while (length > 0) {
        size_t n = length < CHUNK ? length : CHUNK;
        length -= n;
        for (; n >= 16; n -= 16, bytes += 16)
            for (int k = 0; k < 16; k++) {
                s1 += bytes[k];
                s2 += s1;
            }
        for (; n > 0; n--) {
            s1 += *bytes++;
            s2 += s1;
        }
        s1 %= BASE;
        s2 %= BASE;
    }
    return s2 << 16 | s1;
}

uint16_t tcp(const uint8_t* bytes, size_t length) {
    uint64_t sum = 0;  // a 64-bit sum of 16-bit words loses no carry below 2^48 words
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += uint32_t(bytes[i]) << 8 | bytes[i + 1];
    if (i < length) sum += uint32_t(bytes[i]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum);
}

Digest digest(const uint8_t* bytes, size_t length, int32_t index) {
    const Piece pieces[] = {{bytes, length}};
    return digest_of(pieces, index);
}

Digest hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length, int32_t index) {
    if (digest_size(index) == 0) digest(nullptr, 0, index);  // raises invalid-arg
    const size_t block = index == 5 || index == 6 ? 128 : 64;
    Digest long_key;
    if (key_length > block) {
        long_key = digest(key, key_length, index);
        key = long_key.bytes;
        key_length = size_t(long_key.size);
    }
    uint8_t inner_pad[128] = {}, outer_pad[128] = {};
    if (key_length > 0) {
        std::memcpy(inner_pad, key, key_length);
        std::memcpy(outer_pad, key, key_length);
    }
    for (size_t i = 0; i < block; i++) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    const Piece inner_pieces[] = {{inner_pad, block}, {data, length}};
    Digest inner = digest_of(inner_pieces, index);
    const Piece outer_pieces[] = {{outer_pad, block}, {inner.bytes, size_t(inner.size)}};
    return digest_of(outer_pieces, index);
}

int32_t hash_unsupported() {
    static const char line[] = "** /hash support not yet implemented; algorithm TBD.";
    console_writer::print_latin1_line(line, sizeof line - 1);
    return 0;
}

bool random_bytes(uint8_t* buffer, size_t length) {
    size_t filled = 0;
    while (filled < length) {
        ssize_t n = ::getrandom(buffer + filled, length - filled, 0);
        if (n > 0) filled += size_t(n);
        else if (n < 0 && errno != EINTR) return false;
    }
    return true;
}

}  // namespace zuv::checksum
