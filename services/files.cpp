#include "services/files.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "evaluator/actions.hpp"
#include "evaluator/stack.hpp"
#include "runtime/console_writer.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/word.hpp"
#include "runtime/fire.hpp"
#include "runtime/os.hpp"
#include "runtime/unicode.hpp"

namespace zuv::simple_io {

namespace {

// Closes a descriptor when the operation ends, also through an error.
struct Descriptor {
    int fd;
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

std::string path_of(const Cell* file) { return url::utf8_of(file); }

bool has_nul_q(const std::string& path) { return path.find('\0') != std::string::npos; }

[[noreturn]] void cannot_open(const Cell* file) {
    Cell f = *file;
    fire(ErrorCategory::access, "cannot-open", &f);
}

// Reads until count bytes are in or the input ends; false on a failure.
bool read_fully(int fd, char* to, size_t count, size_t& got) {
    got = 0;
    while (got < count) {
        ssize_t n = ::read(fd, to + got, count - got);
        if (n > 0) got += size_t(n);
        else if (n < 0 && errno == EINTR) continue;
        else return n == 0;
    }
    return true;
}

// The most bytes a read keeps: one past the largest series, so that a file
// with more tells itself apart from one that just fits.
constexpr size_t READ_LIMIT = size_t(INT32_MAX) + 1;

// Reads to the end, or until limit bytes are in, into a growing buffer:
// files that report no size (pipes, devices, kernel files) are read once, so
// no data is consumed twice, and an endless one (/dev/zero) stops at the limit.
bool read_to_end(int fd, std::string& out, size_t limit) {
    char chunk[65536];
    while (out.size() < limit) {
        ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - out.size()));
        if (n > 0) out.append(chunk, size_t(n));
        else if (n < 0 && errno == EINTR) continue;
        else return n == 0;
    }
    return true;
}

// Bytes past the largest series: internal no-memory.
void check_read_size(const std::string& bytes) {
    if (bytes.size() > size_t(INT32_MAX)) fire_no_memory();
}

// The empty result of a read: a string!, a binary! with the binary flag
// (also with lines: no block).
Cell* empty_result(bool binary) {
    Cell* c = cell::begin(stack::push_raw());
    return binary ? binary::make_at(c, 0) : string::zs_make_at(c, 1);
}

}  // namespace

// Lines end at LF, less one CR right before it; the bytes after the last LF
// make a last line, kept whole.
Cell* split_lines(const std::string& bytes) {
    Cell* list = block::make_at(cell::begin(stack::push_raw()), 8);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t lf = bytes.find('\n', start);
        size_t end = lf == std::string::npos ? bytes.size() : lf;
        size_t n = end - start;
        if (lf != std::string::npos && n > 0 && bytes[end - 1] == '\r') n--;
        string::load_in(reinterpret_cast<const uint8_t*>(bytes.data() + start), int32_t(n), list, 0);
        if (lf == std::string::npos) break;
        start = lf + 1;
    }
    return list;
}

Cell* bytes_to_string(const std::string& bytes) {
    Node node =
        unicode::utf8_to_string(reinterpret_cast<const uint8_t*>(bytes.data()), int32_t(bytes.size()), 0, nullptr, true);
    Cell* c = cell::begin(stack::push_raw());
    c->w2 = node;
    return cell::set_type(c, TYPE_STRING);
}

// The bytes a value writes: a string! its UTF-8 (at most part characters),
// a binary! its bytes (cut by a part from 1 to below its length), anything
// else its molded text.
std::string value_to_bytes(const Cell* value, int64_t part) {
    if (type_of(value) == TYPE_BINARY) {
        std::vector<uint8_t> bytes = binary::bytes_of(value);
        if (part > 0 && part < int64_t(bytes.size())) bytes.resize(size_t(part));
        return std::string(bytes.begin(), bytes.end());
    }
    if (type_of(value) == TYPE_STRING) {
        std::string text = url::utf8_of(value);
        if (part >= 0) {
            // Cut after part characters (UTF-8 lead bytes).
            size_t i = 0;
            int64_t chars = 0;
            while (i < text.size()) {
                if ((uint8_t(text[i]) & 0xC0) != 0x80) {
                    if (chars == part) break;
                    chars++;
                }
                i++;
            }
            text.resize(i);
        }
        return text;
    }
    Cell* saved = stack::top;
    Cell* v = stack::push(value);
    Cell* text = string::zs_make_at(cell::begin(stack::push_raw()), 16);
    Cell* arg = integer::make_at(cell::begin(stack::push_raw()), INT32_MAX);
    actions::call_mold(v, text, false, false, false, arg, INT32_MAX, 0);
    std::string out = url::utf8_of(text);
    stack::top = saved;
    return out;
}

bool dir_q(const std::string& s) {
    size_t n = s.size();
    if (n == 0) return false;
    if (s.back() == '/') return true;
    if (s == "." || s == "..") return true;
    if (n >= 2 && s.compare(n - 2, 2, "/.") == 0) return true;
    if (n >= 3 && s.compare(n - 3, 3, "/..") == 0) return true;
    return false;
}

bool dir_q(const Cell* file) { return dir_q(path_of(file)); }

bool read_bytes(const std::string& path, std::string& out) {
    if (path.empty() || has_nul_q(path)) return false;
    Descriptor d(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (d.fd < 0 || !read_to_end(d.fd, out, READ_LIMIT)) return false;
    check_read_size(out);
    return true;
}

Cell* read_dir(const Cell* file) {
    std::string path = path_of(file);
    if (has_nul_q(path)) cannot_open(file);
    if (!path.empty() && path.back() == '.') path += '/';
    DIR* dir = ::opendir(path.empty() ? "." : path.c_str());
    if (!dir) cannot_open(file);
    // The names are gathered first: making the file! values may collect.
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            std::string full = path + (path.empty() || path.back() == '/' ? "" : "/") + name;
            folder = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (folder) name += '/';
        names.push_back(std::move(name));
    }
    ::closedir(dir);
    Cell* list = block::make_at(cell::begin(stack::push_raw()), int32_t(std::max<size_t>(names.size(), 1)));
    for (const std::string& name : names) {
        Cell* entry = string::load_in(reinterpret_cast<const uint8_t*>(name.data()), int32_t(name.size()), list, 0);
        cell::set_type(entry, TYPE_FILE);
    }
    return list;
}

Cell* read(const Cell* file, int64_t part, int64_t seek, bool binary, bool lines) {
    if (dir_q(file)) return read_dir(file);
    std::string path = path_of(file);
    if (path.empty() || has_nul_q(path)) cannot_open(file);
    std::string bytes;
    {
        Descriptor d(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat st {};
        if (d.fd < 0 || ::fstat(d.fd, &st) != 0 || S_ISDIR(st.st_mode)) cannot_open(file);
        if (S_ISREG(st.st_mode) && st.st_size > 0) {
            // Sizes are 64-bit; more than 2 GiB to read cannot be a value.
            int64_t size = st.st_size;
            if (seek > 0) {
                if (::lseek(d.fd, off_t(seek), SEEK_SET) < 0) cannot_open(file);
                size -= seek;
            }
            if (size <= 0 || part == 0) return empty_result(binary);
            if (part > 0 && part < size) size = part;
            if (size > INT32_MAX) fire_no_memory();
            bytes.resize(size_t(size));
            size_t got = 0;
            if (!read_fully(d.fd, bytes.data(), size_t(size), got)) cannot_open(file);
            bytes.resize(got);
        } else {
            // No size reported: read once to the end (no further than the
            // seek and the part ask), then apply seek and part.
            size_t skipped = seek > 0 ? size_t(seek) : 0;
            size_t wanted = part >= 0 && size_t(part) < READ_LIMIT ? size_t(part) : READ_LIMIT;
            if (!read_to_end(d.fd, bytes, skipped + wanted)) cannot_open(file);
            bytes.erase(0, std::min(skipped, bytes.size()));
            if (part >= 0 && size_t(part) < bytes.size()) bytes.resize(size_t(part));
            check_read_size(bytes);
        }
    }
    if (bytes.empty()) return empty_result(binary);
    if (binary) {
        return binary::load_at(cell::begin(stack::push_raw()), reinterpret_cast<const uint8_t*>(bytes.data()),
                               int32_t(bytes.size()));
    }
    if (lines) return split_lines(bytes);
    return bytes_to_string(bytes);
}

void write(const Cell* file, const Cell* data, const Cell* part, int64_t seek, bool, bool append, bool lines) {
    int64_t limit = -1;
    if (part) {
        if (type_of(part) != TYPE_INTEGER) {
            Cell word = word::from_c_string("part");
            Cell p = *part;
            fire(ErrorCategory::script, "invalid-refine-arg", &word, &p);
        }
        limit = integer::get_value(part);
        if (limit < 0) return;
    }
    // The bytes are made before anything is opened (molding may collect).
    std::string out;
    if (lines && type_of(data) == TYPE_BLOCK) {
        Cell block = *data;
        int32_t head = int32_t(block.w1);
        for (int32_t i = 0; i < block::zs_length_q(&block); i++) {
            Cell item = *block::zs_abs_at(&block, head + i);
            out += value_to_bytes(&item, -1);
            out += '\n';
        }
    } else {
        out = value_to_bytes(data, limit);
        if (lines) out += '\n';
    }
    if (!file) {
        console_writer::flush();
        if (!platform::write_fully(STDOUT_FILENO, out.data(), out.size())) fire(ErrorCategory::access, "cannot-open");
        return;
    }
    std::string path = path_of(file);
    if (path.empty() || has_nul_q(path)) cannot_open(file);
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (!append && seek < 0) flags |= O_TRUNC;
    Descriptor d(::open(path.c_str(), flags, 0666));
    if (d.fd < 0) cannot_open(file);
    if (seek > 0 && ::lseek(d.fd, off_t(seek), SEEK_SET) < 0) cannot_open(file);
    if (append && ::lseek(d.fd, 0, SEEK_END) < 0) cannot_open(file);
    if (!platform::write_fully(d.fd, out.data(), out.size())) cannot_open(file);
}

bool delete_(const Cell* file) {
    std::string path = path_of(file);
    if (path.empty() || has_nul_q(path)) return false;
    return (dir_q(path) ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0;
}

Cell* query(const Cell* file) {
    std::string path = path_of(file);
    struct stat st {};
    Cell* result = cell::begin(stack::push_raw());
    bool ok = !path.empty() && !has_nul_q(path) && ::stat(path.c_str(), &st) == 0;
    // A name spelled as a folder must name one.
    if (ok && path.back() == '/' && !S_ISDIR(st.st_mode)) ok = false;
    if (!ok) return none::make_at(result);
    // The last-write time in UTC, to the millisecond.
    return date::make_at_epoch(result, double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec / 1000000) / 1000.0);
}

bool rename(const Cell* from, const Cell* to) {
    std::string a = path_of(from), b = path_of(to);
    if (a.empty() || b.empty() || has_nul_q(a) || has_nul_q(b)) return false;
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_NOREPLACE) == 0;
}

bool file_exists_q(const Cell* file) {
    std::string path = path_of(file);
    struct stat st {};
    return !path.empty() && !has_nul_q(path) && ::stat(path.c_str(), &st) == 0;
}

bool make_dir(const Cell* file) {
    std::string path = path_of(file);
    return !path.empty() && !has_nul_q(path) && ::mkdir(path.c_str(), 0777) == 0;
}

}  // namespace zuv::simple_io
