#include "services/clipboard.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "boot/private_words.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/stack.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/file.hpp"
#include "services/image_backend.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "services/process.hpp"

namespace zuv::clipboard {

namespace {

constexpr char TEXT[] = "UTF8_STRING";
constexpr char TEXT_MIME[] = "text/plain;charset=utf-8";
constexpr char FILES[] = "text/uri-list";
constexpr char PNG[] = "image/png";
constexpr char EMPTY[] = "application/x-zuv-empty";

struct Content {
    std::string format;  // empty: nothing
    std::string bytes;
    bool operator==(const Content&) const = default;
};

// The in-process store, when there is no X clipboard.
Content store;

bool program_found_q(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    for (;;) {
        size_t colon = dirs.find(':', start);
        std::string dir = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (::access(((dir.empty() ? "." : dir) + "/" + name).c_str(), X_OK) == 0) return true;
        if (colon == std::string::npos) return false;
        start = colon + 1;
    }
}

// The lines of a text, each without its LF or CR LF.
std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string::npos) lf = text.size();
        size_t end = lf > start && text[lf - 1] == '\r' ? lf - 1 : lf;
        lines.push_back(text.substr(start, end - start));
        start = lf + 1;
    }
    return lines;
}

bool x_clipboard_q() {
    const char* display = std::getenv("DISPLAY");
    return display && *display && program_found_q("xclip");
}

// Runs xclip on the clipboard selection: input sent when given, output and
// error captured when asked (else thrown away). Its exit code, -1 when it
// could not start.
int32_t xclip(std::vector<std::string> args, const std::string* input, std::string* output, std::string* error) {
    call::Launch launch;
    launch.argv = {"xclip", "-selection", "clipboard"};
    launch.argv.insert(launch.argv.end(), args.begin(), args.end());
    launch.wait = true;
    if (input) {
        launch.in.kind = call::Redirect::DATA;
        launch.in.bytes = *input;
    }
    if (output) launch.out.kind = call::Redirect::DATA;
    if (error) launch.err.kind = call::Redirect::DATA;
    int32_t code = call::create_process(launch);
    if (output) *output = std::move(launch.out.bytes);
    if (error) *error = std::move(launch.err.bytes);
    return code;
}

// The X clipboard's content in the first format of the order of
// preference: 1 read, 0 nothing there or nothing usable, -1 failure.
int x_get(Content& content) {
    std::string targets, error;
    int32_t code = xclip({"-o", "-t", "TARGETS"}, nullptr, &targets, &error);
    // No owner of the selection: xclip says the target is not available.
    if (code != 0) return code > 0 && error.find("not available") != std::string::npos ? 0 : -1;
    std::vector<std::string> offered = lines_of(targets);
    for (const char* format : {TEXT, TEXT_MIME, FILES, PNG, EMPTY}) {
        if (std::find(offered.begin(), offered.end(), format) == offered.end()) continue;
        if (xclip({"-o", "-t", format}, nullptr, &content.bytes, nullptr) != 0) return -1;
        content.format = format == TEXT_MIME ? TEXT : format;
        return 1;
    }
    return 0;
}

// xclip leaves a process behind that serves the selection, and that process
// claims it just after the one started here has ended: the write is done
// once the selection reads back (tried for about a tenth of a second).
bool x_put(const Content& content) {
    if (xclip({"-i", "-t", content.format}, &content.bytes, nullptr, nullptr) != 0) return false;
    for (int tries = 0; tries < 50; tries++) {
        Content got;
        if (x_get(got) == 1 && got == content) return true;
        const timespec pause{0, 2'000'000};
        ::nanosleep(&pause, nullptr);
    }
    return false;
}

// ---- file lists ----

bool unreserved_q(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~' || c == '/';
}

std::string percent_decoded(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        int32_t high = i + 2 < text.size() && text[i] == '%' ? string::hex_digit(uint8_t(text[i + 1])) : -1;
        int32_t low = high >= 0 ? string::hex_digit(uint8_t(text[i + 2])) : -1;
        if (low >= 0) {
            out += char(high * 16 + low);
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// ---- images, through the png codec ----

// Calls the png codec's encode or decode with the value (and none for
// encode's target); the result is pushed. Until a png codec is registered
// there is none to call: internal not-done.
Cell* png_codec(const char* operation, const Cell* value) {
    const Cell* system = private_words::system_value("system");
    if (!system || type_of(system) != TYPE_OBJECT) fire_not_done();
    Cell owner = *system;
    Cell field = word::from_c_string("codecs");
    Cell* codec = stack::push(object::get_field(&owner, &field));
    if (type_of(codec) != TYPE_MAP) fire_not_done();
    Cell key = word::from_c_string("png");
    map::select(codec, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false);
    if (type_of(codec) != TYPE_OBJECT) fire_not_done();
    field = word::from_c_string(operation);
    Cell function = *object::get_field(codec, &field);
    Cell* code = block::make_at(cell::begin(stack::push_raw()), 3);
    block::append_cell(code, &function);
    block::append_cell(code, value);
    if (operation[0] == 'e') block::append_cell(code, none::make_at(stack::push_raw()));
    Cell* result = stack::top;
    interpreter::eval_block(code, false);
    stack::raise_pending();
    return result;
}

// ---- values to content and back ----

Content content_of(const Cell* data) {
    Content c;
    switch (type_of(data)) {
        case TYPE_NONE: c.format = EMPTY; break;
        case TYPE_STRING:
            c.format = TEXT;
            c.bytes = url::utf8_of(data);
            break;
        case TYPE_BLOCK: {
            std::vector<std::string> paths;
            Cell list = *data;
            int32_t head = int32_t(list.w1), count = block::zs_length_q(&list);
            for (int32_t i = 0; i < count; i++) {
                Cell item = *block::zs_abs_at(&list, head + i);
                if (type_of(&item) != TYPE_FILE || file::nul_in_name_q(&item))
                    fire(ErrorCategory::script, "invalid-arg", &item);
                paths.push_back(file::to_local_path(&item, true));
            }
            c.format = FILES;
            c.bytes = uri_list(paths);
            break;
        }
        case TYPE_IMAGE:
            // An image without pixels puts nothing on the clipboard.
            if (!image_backend::bitmap_of(data)) {
                c.format = EMPTY;
                break;
            }
            c.format = PNG;
            {
                Cell* encoded = png_codec("encode", data);
                if (type_of(encoded) != TYPE_BINARY) fire(ErrorCategory::script, "invalid-arg", data);
                std::vector<uint8_t> bytes = binary::bytes_of(encoded);
                c.bytes.assign(bytes.begin(), bytes.end());
            }
            break;
        default: fire(ErrorCategory::script, "invalid-arg", data);
    }
    return c;
}

// Pushes the value a content stands for.
Cell* value_of(const Content& c) {
    if (c.format == TEXT) return call::push_text(c.bytes);
    if (c.format == FILES) {
        std::vector<std::string> paths = uri_list_paths(c.bytes);
        Cell* list = block::make_at(cell::begin(stack::push_raw()), int32_t(paths.size()));
        for (const std::string& path : paths) {
            Cell* name = call::push_text(path);
            cell::set_type(name, TYPE_FILE);
            block::append_cell(list, name);
            stack::pop(1);
        }
        return list;
    }
    if (c.format == PNG) {
        Cell* bytes = binary::load_at(cell::begin(stack::push_raw()),
                                      reinterpret_cast<const uint8_t*>(c.bytes.data()), int32_t(c.bytes.size()));
        return png_codec("decode", bytes);
    }
    return none::make_at(stack::push_raw());
}

}  // namespace

std::string uri_list(const std::vector<std::string>& paths) {
    std::string list;
    for (const std::string& path : paths) {
        list += "file://";
        for (unsigned char c : path) {
            if (unreserved_q(c)) {
                list += char(c);
            } else {
                list += '%';
                list.append(string::byte_to_hex(c), 2);
            }
        }
        list += "\r\n";
    }
    return list;
}

std::vector<std::string> uri_list_paths(const std::string& list) {
    std::vector<std::string> paths;
    for (const std::string& line : lines_of(list)) {
        if (line.compare(0, 5, "file:") != 0) continue;  // comments and other schemes
        std::string rest = line.substr(5);
        // file:///path, file://localhost/path or file:/path
        if (rest.compare(0, 2, "//") == 0) {
            size_t slash = rest.find('/', 2);
            std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
            if (slash == std::string::npos || (!host.empty() && host != "localhost")) continue;
            rest = rest.substr(slash);
        }
        if (rest.empty() || rest[0] != '/') continue;
        paths.push_back(percent_decoded(rest));
    }
    return paths;
}

Cell* read() {
    Content content;
    int got;
    if (x_clipboard_q()) {
        got = x_get(content);
    } else {
        content = store;
        got = content.format.empty() ? 0 : 1;
    }
    if (got < 0) return logic::make_at(stack::push_raw(), false);
    if (got == 0) return none::make_at(stack::push_raw());
    return value_of(content);
}

bool write(const Cell* data) {
    Content content = content_of(data);
    if (x_clipboard_q()) return x_put(content);
    store = content.format == EMPTY ? Content{} : content;
    return true;
}

}  // namespace zuv::clipboard
