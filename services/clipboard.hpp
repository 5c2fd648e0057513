// The clipboard: text, file lists and images exchanged with the desktop.
//
// With a display (DISPLAY set) and xclip found in PATH, the X clipboard is
// used through the process service; otherwise an in-process store keeps
// what was written. Either holds one content at a time, in one format:
//
//   text       UTF-8 with LF line ends (X target UTF8_STRING;
//              text/plain;charset=utf-8 is read too)
//   file list  text/uri-list: one percent-encoded file:// URI a line
//   image      image/png, encoded and decoded by the png codec of
//              system/codecs (internal not-done while there is none)
//
// and reading takes the first present in that order. Emptying the X
// clipboard leaves it offering only application/x-zuv-empty, which reads as
// nothing.
#pragma once

#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace zuv::clipboard {

// Pushes the content: a string!, a block! of file!, an image!, none when
// there is nothing usable, false when the clipboard cannot be reached.
Cell* read();

// Puts a string!, a block! of file!, an image! or none (which empties the
// clipboard, as an image without pixels does) on the clipboard; true on
// success. Another type, or a block holding anything but file! names,
// raises script invalid-arg with it.
bool write(const Cell* data);

// The text/uri-list of absolute paths (CR LF after each URI), and the paths
// of the file:// URIs of such a list (other URIs and comments skipped).
std::string uri_list(const std::vector<std::string>& paths);
std::vector<std::string> uri_list_paths(const std::string& list);

}  // namespace zuv::clipboard
