// HTTP and HTTPS requests through libcurl (see http.hpp).
#include "services/http.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <vector>

#include "boot/program.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"
#include "services/files.hpp"
#include "services/shared_library.hpp"

namespace zuv::http {

namespace {

// Sent when the request has no header block of its own.
constexpr const char* DEFAULT_HEADERS[] = {
    "Content-Type: application/x-www-form-urlencoded",
    "Accept-Charset: UTF-8",
    "User-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64)",
};

constexpr long CONNECT_TIMEOUT_SECONDS = 60;
// An answer that sends nothing for this long has stalled.
constexpr long STALL_SECONDS = 30;
constexpr long MAX_REDIRECTS = 20;

// The texts of one request, copied out of the values before it is sent.
struct Outgoing {
    std::string method;  // "GET", "HEAD", "POST" or another word in capitals
    std::string url;
    std::vector<std::string> header_lines;
    bool has_body = false;
    std::string body;
};

// What came back.
struct Answer {
    long status = 0;
    std::string headers;  // the final answer's header lines, CR LF ended
    std::string body;
    bool too_big = false;
};

// The client library, loaded at the first request rather than linked: it
// and the libraries it needs (TLS, Kerberos, LDAP, SSH ...) would cost every
// start of the program a good part of its time, and most programs never
// send a request. Null when it cannot be loaded: each request then fails.
struct Curl {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_perform) easy_perform;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
};

const Curl* library() {
    return shared_library::load_once<Curl>("libcurl.so.4", [](void* library, Curl& c) {
        using shared_library::take;
        return take(library, c.global_init, "curl_global_init") && take(library, c.easy_init, "curl_easy_init") &&
               take(library, c.easy_setopt, "curl_easy_setopt") &&
               take(library, c.easy_perform, "curl_easy_perform") &&
               take(library, c.easy_getinfo, "curl_easy_getinfo") &&
               take(library, c.easy_cleanup, "curl_easy_cleanup") &&
               take(library, c.slist_append, "curl_slist_append") &&
               take(library, c.slist_free_all, "curl_slist_free_all") &&
               c.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    });
}

// Frees the easy handle and the header list when the request ends.
struct Handles {
    explicit Handles(const Curl& lib) : lib(lib), curl(lib.easy_init()) {}
    ~Handles() {
        lib.slist_free_all(headers);
        if (curl) lib.easy_cleanup(curl);
    }
    Handles(const Handles&) = delete;
    Handles& operator=(const Handles&) = delete;
    const Curl& lib;
    CURL* curl;
    curl_slist* headers = nullptr;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    Answer* a = static_cast<Answer*>(user);
    size_t n = size * count;
    // A body must fit in one series.
    if (a->body.size() + n > size_t(INT32_MAX)) {
        a->too_big = true;
        return 0;
    }
    a->body.append(data, n);
    return n;
}

// Header lines arrive one at a time; a status line starts a new answer (the
// one after a redirect or an interim 1xx), so the lines before it are dropped.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    Answer* a = static_cast<Answer*>(user);
    size_t n = size * count;
    std::string_view line(data, n);
    if (line.substr(0, 5) == "HTTP/") {
        a->headers.clear();
    } else if (a->headers.size() + n > size_t(INT32_MAX) / 2) {
        return 0;
    } else {
        a->headers.append(line);
    }
    return n;
}

// Ctrl+C at the prompt stops the transfer; the caller then halts.
int on_progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return runtime::interrupt_pending && runtime::interrupt_mode == runtime::INTERRUPT_HALT ? 1 : 0;
}

bool token_char_q(unsigned char c) {
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(char(c)) != std::string_view::npos;
}

bool breaks_line_q(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool token_q(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return token_char_q(uint8_t(c)); });
}

[[noreturn]] void invalid_arg(const Cell* value) {
    Cell v = *value;
    fire(ErrorCategory::script, "invalid-arg", &v);
}

// The method's text: GET, HEAD and POST in any letter case as themselves,
// any other word in capitals; it must be an HTTP token.
std::string method_text(int32_t method) {
    int32_t canonical = symbol::resolve(method);
    for (const char* known : {"GET", "HEAD", "POST"})
        if (canonical == symbol::resolve(symbol::make(known))) return known;
    std::string text(reinterpret_cast<const char*>(symbol::to_utf8_copy(method)));
    if (!token_q(text)) {
        Cell w = word::make_global(method);
        invalid_arg(&w);
    }
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

// The text of a header name or value: a word by its spelling, a string! as
// it is, anything else formed.
std::string header_text(const Cell* value) {
    Cell v = *value;
    if (word::any_word_q(type_of(&v))) return reinterpret_cast<const char*>(symbol::to_utf8_copy(int32_t(v.w2)));
    if (type_of(&v) == TYPE_STRING) return url::utf8_of(&v);
    return program::form_text(&v);
}

void header_lines(const Cell* header, std::vector<std::string>& out) {
    const Cell block = *header;
    int32_t head = std::max(int32_t(block.w1), 0);
    int32_t count = std::max(memory::length_of(memory::buffer_of(block.w2)) - head, 0);
    if (count % 2 != 0) invalid_arg(header);
    for (int32_t i = 0; i < count; i += 2) {
        // Forming may collect: each cell is read again from the block.
        Cell name = memory::cells_head(memory::buffer_of(block.w2))[head + i];
        std::string line = header_text(&name);
        Cell value = memory::cells_head(memory::buffer_of(block.w2))[head + i + 1];
        std::string text = header_text(&value);
        if (!token_q(line) || breaks_line_q(text)) invalid_arg(header);
        // "Name;" sends a header whose value is empty ("Name:" would remove it).
        line += text.empty() ? ";" : ": " + text;
        out.push_back(std::move(line));
    }
}

// True when one of the request's header lines is for the name (any case).
bool has_header_q(const Outgoing& out, std::string_view name) {
    for (const std::string& line : out.header_lines) {
        if (line.size() <= name.size() || (line[name.size()] != ':' && line[name.size()] != ';')) continue;
        if (symbol::compare_names(reinterpret_cast<const uint8_t*>(line.data()),
                                  reinterpret_cast<const uint8_t*>(name.data()), int32_t(name.size()), false) == 0)
            return true;
    }
    return false;
}

// Runs the request; false when it failed. interrupted: stopped by Ctrl+C.
bool perform(const Outgoing& out, Answer& answer, bool& interrupted) {
    interrupted = false;
    const Curl* lib = library();
    if (!lib) return false;
    Handles h(*lib);
    if (!h.curl) return false;
    CURL* c = h.curl;
    for (const std::string& line : out.header_lines) {
        curl_slist* next = lib->slist_append(h.headers, line.c_str());
        if (!next) return false;
        h.headers = next;
    }
    // The library adds headers of its own to requests with a body: a form
    // Content-Type (only the given headers go) and Expect: 100-continue
    // (which waits on servers that never answer it). "Name:" removes one.
    for (const char* line : {"Content-Type:", "Expect:"}) {
        if (std::string_view(line) == "Content-Type:" && has_header_q(out, "Content-Type")) continue;
        curl_slist* next = lib->slist_append(h.headers, line);
        if (!next) return false;
        h.headers = next;
    }
    bool ok = lib->easy_setopt(c, CURLOPT_URL, out.url.c_str()) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_MAXREDIRS, MAX_REDIRECTS) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_CONNECTTIMEOUT, CONNECT_TIMEOUT_SECONDS) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_LOW_SPEED_TIME, STALL_SECONDS) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_HTTPHEADER, h.headers) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_WRITEDATA, &answer) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_HEADERDATA, &answer) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_XFERINFOFUNCTION, on_progress) == CURLE_OK;
    ok = ok && lib->easy_setopt(c, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    if (const char* ca = std::getenv("SSL_CERT_FILE"); ca && *ca)
        ok = ok && lib->easy_setopt(c, CURLOPT_CAINFO, ca) == CURLE_OK;
    if (out.method == "GET") {
        ok = ok && lib->easy_setopt(c, CURLOPT_HTTPGET, 1L) == CURLE_OK;
    } else if (out.method == "HEAD") {
        ok = ok && lib->easy_setopt(c, CURLOPT_NOBODY, 1L) == CURLE_OK;
    } else {
        if (out.method != "POST") ok = ok && lib->easy_setopt(c, CURLOPT_CUSTOMREQUEST, out.method.c_str()) == CURLE_OK;
        if (out.has_body || out.method == "POST") {
            ok = ok && lib->easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(out.body.size())) == CURLE_OK;
            ok = ok && lib->easy_setopt(c, CURLOPT_POSTFIELDS, out.body.data()) == CURLE_OK;
        }
    }
    if (!ok) return false;
    CURLcode result = lib->easy_perform(c);
    if (result == CURLE_ABORTED_BY_CALLBACK) interrupted = true;
    if (result != CURLE_OK || answer.too_big) return false;
    return lib->easy_getinfo(c, CURLINFO_RESPONSE_CODE, &answer.status) == CURLE_OK;
}

// A string! of outside text: a sequence that is not UTF-8 stands as U+FFFD.
Cell* lenient_text(const std::string& bytes) {
    std::string text = unicode::valid_utf8(bytes.data(), bytes.size());
    return string::load(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), 0);
}

bool blank_q(char c) { return c == ' ' || c == '\t'; }

// The body as the flags ask for it (pushed).
Cell* body_value(const std::string& bytes, bool binary, bool lines) {
    if (binary)
        return binary::load_at(cell::begin(stack::push_raw()), reinterpret_cast<const uint8_t*>(bytes.data()),
                               int32_t(bytes.size()));
    if (lines) return simple_io::split_lines(bytes);
    return simple_io::bytes_to_string(bytes);
}

}  // namespace

Cell* parse_headers(const std::string& text) {
    // Names and their values in the order first seen; names compare ignoring
    // ASCII letter case.
    struct Entry {
        std::string name;
        std::vector<std::string> values;
    };
    std::vector<Entry> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        size_t end = lf == std::string::npos ? text.size() : lf;
        std::string_view line(text.data() + start, end - start);
        start = lf == std::string::npos ? text.size() : lf + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t colon = line.find(':');
        if (colon == 0 || colon == std::string_view::npos || blank_q(line[0])) continue;
        std::string_view name = line.substr(0, colon);
        bool printable = std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7F; });
        if (!printable) continue;
        size_t from = colon + 1;
        while (from < line.size() && blank_q(line[from])) from++;
        size_t to = line.size();
        while (to > from && blank_q(line[to - 1])) to--;
        std::string value(line.substr(from, to - from));
        auto same = [&](const Entry& e) {
            return e.name.size() == name.size() &&
                   symbol::compare_names(reinterpret_cast<const uint8_t*>(e.name.data()),
                                         reinterpret_cast<const uint8_t*>(name.data()), int32_t(name.size()),
                                         false) == 0;
        };
        auto found = std::find_if(entries.begin(), entries.end(), same);
        if (found == entries.end()) entries.push_back({std::string(name), {std::move(value)}});
        else found->values.push_back(std::move(value));
    }

    Cell* map = map::make_at(cell::begin(stack::push_raw()), nullptr, 20);
    for (const Entry& e : entries) {
        Cell* saved = stack::top;
        int32_t id = symbol::make_from_utf8(reinterpret_cast<const uint8_t*>(e.name.data()), int32_t(e.name.size()));
        Cell* key = word::make_at(id, stack::push_raw());
        Cell* value;
        if (e.values.size() == 1) {
            value = lenient_text(e.values[0]);
        } else {
            value = block::make_at(cell::begin(stack::push_raw()), int32_t(e.values.size()));
            for (const std::string& v : e.values) {
                Cell* s = lenient_text(v);
                block::append_cell(value, s);
                stack::top = s;
            }
        }
        map::put(map, key, value, false);
        stack::top = saved;
    }
    return map;
}

Cell* request(int32_t method, const Cell* url, const Cell* header, const Cell* body, bool binary, bool lines,
              bool info) {
    Outgoing out;
    out.method = method_text(method);
    out.url = url::utf8_of(url);
    if (header) {
        header_lines(header, out.header_lines);
    } else {
        for (const char* line : DEFAULT_HEADERS) out.header_lines.push_back(line);
    }
    // GET and HEAD send no body.
    if (body && out.method != "GET" && out.method != "HEAD") {
        out.has_body = true;
        out.body = simple_io::value_to_bytes(body, -1);
    }
    if (out.url.find('\0') != std::string::npos) return nullptr;

    Answer answer;
    bool interrupted = false;
    bool ok = perform(out, answer, interrupted);
    if (interrupted) {
        // The halt travels on as the throw it leaves pending.
        runtime::poll_interrupt();
        stack::raise_pending();
    }
    if (!ok) return nullptr;

    if (!info) return body_value(answer.body, binary, lines);
    Cell* result = block::make_at(cell::begin(stack::push_raw()), 3);
    Cell status{};
    integer::make_at(&status, int32_t(std::clamp<long>(answer.status, INT32_MIN, INT32_MAX)));
    block::append_cell(result, &status);
    Cell* map = parse_headers(answer.headers);
    block::append_cell(result, map);
    stack::top = map;
    Cell* value = body_value(answer.body, binary, lines);
    block::append_cell(result, value);
    stack::top = value;
    return result;
}

}  // namespace zuv::http
