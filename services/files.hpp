// The file service: the runtime's whole contact with the file system.
//
// Every operation takes a file! (its text from the head, as UTF-8, is the
// POSIX path as it stands) and opens, uses and closes what it needs within
// the call: no descriptor outlives an operation. Whether a name is a folder
// is decided from its spelling, never by asking the file system first.
//
// Results are new cells pushed on the data stack; the callers copy them
// where they belong.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.hpp"

namespace zuv::simple_io {

// True when the spelling names a folder: it ends in "/", is "." or "..", or
// ends in "/." or "/..". The empty name and names such as "a." are files.
bool dir_q(const std::string& spelling);
bool dir_q(const Cell* file);

// Reads a file whole, or the listing of a folder (a block of file!, folders
// ending in "/"). part and seek < 0 mean absent. A failure raises access
// cannot-open with the file; more bytes than the largest series holds (an
// endless device read without a part) raise internal no-memory.
Cell* read(const Cell* file, int64_t part, int64_t seek, bool binary, bool lines);
// The listing of a folder; a missing one raises access cannot-open.
Cell* read_dir(const Cell* file);
// The bytes of a file whole into out; false when it cannot be read. More
// than the largest series (an endless device) raises internal no-memory.
bool read_bytes(const std::string& path, std::string& out);

// Writes data to the file, or to standard output when file is null. part
// (null: absent) must be an integer!; a negative one writes nothing. seek
// < 0 means absent. A failure raises access cannot-open with the file.
void write(const Cell* file, const Cell* data, const Cell* part, int64_t seek, bool binary, bool append,
           bool lines);

// Bytes read (from a file or an answer) as values, each pushed: a block! of
// the lines (LF ends a line, less one CR before it; the bytes after the last
// LF are a last line), or a string! of the UTF-8 text with CR LF as LF
// (invalid UTF-8 raises access invalid-utf8).
Cell* split_lines(const std::string& bytes);
Cell* bytes_to_string(const std::string& bytes);
// The bytes a value writes: a string! its UTF-8 (at most part characters
// when part >= 0), a binary! its bytes (cut by a part from 1 to below its
// length), anything else its molded text.
std::string value_to_bytes(const Cell* value, int64_t part);

bool delete_(const Cell* file);
// The last-write time as a UTC date!, or none; pushes the result.
Cell* query(const Cell* file);
// Never replaces an existing target.
bool rename(const Cell* from, const Cell* to);
bool file_exists_q(const Cell* file);
bool make_dir(const Cell* file);

}  // namespace zuv::simple_io
