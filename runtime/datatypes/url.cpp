// url! actions and the percent-encoding shared by url!, file!, enhex, dehex
// and the lexer's URL and file loaders.
#include "runtime/datatypes/url.hpp"

#include <algorithm>
#include <cstring>

#include "boot/private_words.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/callbacks.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/port.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"
#include "services/http.hpp"

namespace zuv::url {

namespace {

// The ASCII bytes each mode keeps, one bit per byte.
struct KeepTable {
    bool unreserved[128];
    bool url[128];
};
constexpr KeepTable keep_table = [] {
    KeepTable t{};
    for (int c = 0; c < 128; c++) {
        bool u = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '.' || c == '_' || c == '~';
        t.unreserved[c] = u;
        t.url[c] = u;
    }
    for (char c : std::string_view("!#$&'()*+,/:=?@")) t.url[uint8_t(c)] = true;
    return t;
}();
static_assert(keep_table.url['/'] && !keep_table.unreserved['/'] && !keep_table.url[';'] && !keep_table.url['%']);

// The byte of a "%" and two hexadecimal digits at p, or -1.
int32_t escape_at(const uint8_t* p, const uint8_t* end) {
    if (end - p < 3 || *p != '%') return -1;
    int32_t high = string::hex_digit(p[1]), low = string::hex_digit(p[2]);
    return high < 0 || low < 0 ? -1 : high << 4 | low;
}

// The length of the UTF-8 sequence a lead byte starts, 0 when it starts none.
int32_t sequence_length(uint8_t b) {
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF4) return 4;
    return 0;
}

// A part-limit cell is given when it lies above the call's first argument.
inline bool limit_given(const Cell* arg) {
    return series::given(arg, stack::arguments) && type_of(arg) == TYPE_INTEGER;
}
inline bool given(const Cell* arg) { return series::given(arg, stack::arguments); }

bool block_like_q(uint32_t type) { return type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_HASH; }

// True when the text of the value starts with "http" (exact case; https too).
bool http_q(const Cell* value) { return utf8_of(value).compare(0, 4, "http") == 0; }

// No web transport answers: the request fails as a lost connection does.
[[noreturn]] void no_connect(const Cell* target) {
    Cell reason = word::from_c_string("timeout");
    fire(ErrorCategory::access, "no-connect", target, &reason);
}

// Forms a value (a copy: forming may collect) into a string! buffer.
void form_into(Cell* buffer, const Cell* value) {
    Cell v = *value;
    actions::call_form(&v, buffer, nullptr, INT32_MAX);
}

// The characters a value forms to.
std::vector<uint32_t> formed_chars(const Cell* value) {
    Cell* out = stack::push_raw();
    string::zs_make_at(cell::begin(out), 16);
    form_into(out, value);
    std::vector<uint32_t> chars = chars_of(out);
    stack::top = out;
    return chars;
}

// A URL built from a block of parts: scheme "://" host [":" port] then "/"
// (or "#" before an issue!) and each further part.
Cell* build_from_parts(Cell* proto, const Cell* spec) {
    const Cell block = *spec;
    int32_t head = std::max(int32_t(block.w1), 0);
    auto count = [&] { return std::max(memory::length_of(memory::buffer_of(block.w2)) - head, 0); };
    auto part = [&](int32_t i) { return memory::cells_head(memory::buffer_of(block.w2))[head + i]; };
    if (count() == 0) {
        fire_bad_to_arg(TYPE_URL, spec);
    }
    string::zs_make_at(cell::begin(proto), 16);
    cell::set_type(proto, TYPE_URL);
    for (int32_t i = 0; i < count(); i++) {
        Cell p = part(i);
        if (i == 1) {
            string::concatenate_literal(proto, "://");
        } else if (i == 2 && type_of(&p) == TYPE_INTEGER) {
            string::concatenate_literal(proto, ":");
        } else if (i >= 2) {
            string::append_char(proto, type_of(&p) == TYPE_ISSUE ? '#' : '/');
        }
        form_into(proto, &p);
    }
    return proto;
}

}  // namespace

// ---- percent-encoding ----

bool keeps_q(int32_t mode, uint8_t byte) {
    if (byte >= 128) return false;
    return mode == MODE_UNRESERVED ? keep_table.unreserved[byte] : keep_table.url[byte];
}

void encode(const uint8_t* p, const uint8_t* end, int32_t mode, std::string& out) {
    for (; p < end; p++) {
        if (keeps_q(mode, *p)) {
            out += char(*p);
        } else {
            const char* hex = string::byte_to_hex(*p);
            out += '%';
            out.append(hex, 2);
        }
    }
}

void decode(const uint8_t* p, const uint8_t* end, std::vector<uint32_t>& out) {
    while (p < end) {
        int32_t b = escape_at(p, end);
        if (b >= 0) {
            int32_t n = sequence_length(uint8_t(b));
            uint8_t bytes[4] = {uint8_t(b), 0, 0, 0};
            bool complete = n >= 1;
            for (int32_t k = 1; complete && k < n; k++) {
                int32_t next = escape_at(p + 3 * k, end);
                complete = next >= 0;
                bytes[k] = uint8_t(next);
            }
            if (complete && n == 1) {
                out.push_back(uint32_t(b));
                p += 3;
                continue;
            }
            if (complete) {
                int32_t cp;
                const uint8_t* after = unicode::decode_utf8_bounded(bytes, bytes + n, &cp);
                if (cp >= 0 && after == bytes + n) {
                    out.push_back(uint32_t(cp));
                    p += 3 * n;
                    continue;
                }
            }
        }
        // Not a complete escape: one character as it stands.
        int32_t cp;
        const uint8_t* next = unicode::decode_utf8_bounded(p, end, &cp);
        if (cp < 0) {
            out.push_back(*p++);
        } else {
            out.push_back(uint32_t(cp));
            p = next;
        }
    }
}

// ---- text helpers ----

std::string utf8_of(const Cell* str) {
    int32_t n = string::rs_length_q(str);
    std::string out(size_t(n) * 4 + 1, '\0');
    int32_t bytes = unicode::encode_utf8_into_buffer(str, reinterpret_cast<uint8_t*>(out.data()), -1, false);
    out.resize(size_t(bytes));
    return out;
}

std::vector<uint32_t> chars_of(const Cell* str) {
    int32_t n = string::rs_length_q(str);
    int32_t head = std::max(int32_t(str->w1), 0);
    std::vector<uint32_t> out;
    out.reserve(size_t(n));
    for (int32_t i = 0; i < n; i++) out.push_back(string::char_at(str, head + i));
    return out;
}

Cell* make_text_at(Cell* c, const std::vector<uint32_t>& chars, uint32_t type) {
    uint32_t top = 0;
    for (uint32_t cp : chars) top = std::max(top, cp);
    int32_t unit = top > 0xFFFF ? 4 : top > 0xFF ? 2 : 1;
    int32_t n = int32_t(chars.size());
    string::make_at_unit(cell::begin(c), std::max(n, 1), unit);
    SeriesBuffer* s = string::buffer(c);
    uint8_t* dst = memory::tail_of(s);
    for (uint32_t cp : chars) {
        string::put_char(dst, uint32_t(unit), cp);
        dst += unit;
    }
    s->tail += n * unit;
    return cell::set_type(c, type);
}

// ---- action slots ----

Cell* make(Cell* proto, Cell* spec, int32_t type) {
    if (type == TYPE_URL && block_like_q(type_of(spec))) return build_from_parts(proto, spec);
    return string::make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, int32_t type) {
    if (type == TYPE_URL && block_like_q(type_of(spec))) return build_from_parts(proto, spec);
    return string::to(proto, spec, type);
}

int32_t mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* arg, int32_t part, int32_t) {
    std::string bytes = utf8_of(value);
    std::string text;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    encode(p, p + bytes.size(), MODE_URL, text);
    int32_t count = int32_t(text.size());
    if (limit_given(arg)) count = std::clamp(part, 0, count);
    string::append_bytes(buffer, reinterpret_cast<const uint8_t*>(text.data()), count);
    return part - count;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int32_t, bool, bool, bool,
                bool) {
    if (value != nullptr && type_of(value) != TYPE_NONE)
        fire(ErrorCategory::script, "bad-path-set", path ? path : element, element);
    Cell item = *element;
    if (type_of(&item) == TYPE_GET_WORD) {
        Cell name = item;
        word::get(&name, &item);
    }
    std::vector<uint32_t> text = chars_of(parent);
    std::vector<uint32_t> tail = formed_chars(&item);
    bool slash_end = !text.empty() && text.back() == '/';
    bool slash_start = !tail.empty() && tail.front() == '/';
    if (!slash_end && !slash_start) text.push_back('/');
    if (slash_end && slash_start) text.pop_back();
    text.insert(text.end(), tail.begin(), tail.end());
    return make_text_at(stack::push_raw(), text, type_of(parent));
}

// The port of a URL whose scheme is not served here: the language's URL
// parser splits it into the port's spec, and the scheme registered under
// its scheme word gives the actor. The port replaces the URL in the call's
// first cell, so that the port's action takes the call's other cells.
Cell* make_port(Cell* url) {
    Cell name = word::from_c_string("parse-url");
    const Cell* parser = private_words::system_value("url-parser");
    if (!parser || type_of(parser) != TYPE_OBJECT) fire_not_done();
    Cell fn = *object::get_field(parser, &name);
    if (type_of(&fn) != TYPE_FUNCTION) fire_not_done();
    Cell text = *url;
    Cell spec = interpreter::call_library(fn, name, &text, 1);
    if (type_of(&spec) != TYPE_OBJECT) fire(ErrorCategory::script, "invalid-arg", &text);
    Cell* spec_cell = stack::push(&spec);
    port::make_from_spec(url, spec_cell, &text);
    stack::pop(1);
    return url;
}

// The port, opened by its actor's open (whatever that answers).
Cell* open(Cell* url, bool new_, bool read, bool write, bool seek, Cell* allow) {
    make_port(url);
    Cell* port = stack::push(url);
    actions::get_action<Act::open>(TYPE_PORT, url)(url, new_, read, write, seek, allow);
    *url = *port;
    stack::top = port;
    return url;
}

Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (!http_q(source)) {
        make_port(source);
        return actions::get_action<Act::read>(TYPE_PORT, source)(source, part, seek, binary, lines, info, as);
    }
    if (given(part) || given(seek) || given(as)) fire_not_done();
    Cell* answer = http::request(symbol::make("get"), source, nullptr, nullptr, binary, lines, info);
    if (!answer) no_connect(source);
    return answer;
}

Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part, Cell* seek,
            Cell* allow, Cell* as) {
    if (!http_q(destination)) {
        make_port(destination);
        return actions::get_action<Act::write>(TYPE_PORT, destination)(destination, data, binary, lines, info,
                                                                       append, part, seek, allow, as);
    }
    if (append || given(part) || given(seek) || given(allow) || given(as)) fire_not_done();
    // A block describes the request: [method [header fields] body]; any
    // other value is the body of a POST.
    const int32_t get = symbol::make("get");
    int32_t method = symbol::make("post");
    const Cell* header = nullptr;
    const Cell* body = data;
    if (type_of(data) == TYPE_BLOCK) {
        const Cell block = *data;
        int32_t head = std::max(int32_t(block.w1), 0);
        int32_t n = std::max(memory::length_of(memory::buffer_of(block.w2)) - head, 0);
        const Cell* c = memory::cells_head(memory::buffer_of(block.w2)) + head;
        if (n > 0 && type_of(&c[0]) != TYPE_WORD) fire(ErrorCategory::script, "invalid-arg", data);
        if (n > 1 && type_of(&c[1]) != TYPE_BLOCK) fire(ErrorCategory::script, "invalid-arg", data);
        method = n > 0 ? int32_t(c[0].w2) : get;
        // The parts are copied to the stack: the request forms them, which may collect.
        header = n > 1 ? stack::push(&c[1]) : nullptr;
        body = n > 2 ? stack::push(&c[2]) : nullptr;
    }
    if (body) {
        switch (type_of(body)) {
            case TYPE_BLOCK: case TYPE_STRING: case TYPE_BINARY: break;
            default: fire(ErrorCategory::script, "invalid-arg", body);
        }
    }
    Cell* answer = http::request(method, destination, header, body, binary, lines, info);
    if (!answer) no_connect(destination);
    return answer;
}

// ---- registration ----

namespace {

constexpr SlotEntry row[] = {
    slot<Act::make, &url::make>,
    NONE, NONE,                                                  // random, reflect
    slot<Act::to, &url::to>,
    INHERIT,                                                     // form
    slot<Act::mold, &url::mold>,
    slot<Act::eval_path, &url::eval_path>,
    NONE,                                                        // (empty)
    INHERIT,                                                     // compare
    NONE,                                                        // 10
    NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE,  // 11-20 math
    NONE, NONE, NONE, NONE,                                      // 21-24 logic
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,        // append at back change clear copy
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,        // find head head? index? insert length?
    INHERIT, INHERIT, INHERIT, INHERIT,                          // move next pick poke
    NONE,                                                        // put
    INHERIT, INHERIT, INHERIT,                                   // remove reverse select
    NONE,                                                        // sort
    INHERIT, INHERIT, INHERIT, INHERIT, INHERIT,                 // skip swap tail tail? take
    NONE, NONE, NONE, NONE,                                      // trim create close delete
    INHERIT,                                                     // modify
    slot<Act::open, &url::open>,
    NONE, NONE,                                                  // open? query
    slot<Act::read, &url::read>,
    NONE, NONE,                                                  // rename update
    slot<Act::write, &url::write>,
};
ZUV_CHECK_ROW(row);

}  // namespace

void register_type() { datatype::register_type(TYPE_URL, TYPE_STRING, "url!", row); }

}  // namespace zuv::url
