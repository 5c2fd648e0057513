// HTTP and HTTPS requests, for `read` and `write` of url! values.
//
// One synchronous request per call through libcurl's easy interface (a new
// handle each time; the library loaded and initialised at the first
// request). The interpreter waits until the whole answer is in; Ctrl+C at
// the prompt cuts the wait short and halts the command.
//
// The request: GET and POST as themselves, HEAD without a body, any other
// method word as its spelling in capitals. A string! body goes as its UTF-8
// bytes (line ends as they are), a binary! as its bytes, a block! as its
// molded text; GET and HEAD send none. Without a header block three default
// headers are sent (Content-Type, Accept-Charset, User-Agent); a header block
// replaces them. Redirects are followed; connecting and a stalled answer
// time out. Only http and https are spoken, redirects included.
//
// The answer: the status code, the headers of the final answer (earlier
// answers of redirects are dropped), and the body bytes. The environment
// variable SSL_CERT_FILE, when set, names the file of certificate
// authorities trusted for HTTPS in place of the system's.
//
// Every failure of the transfer answers null: the url! actions decide what
// that means. Nothing series-related is held while the transfer runs: the
// texts sent are copied out before it starts, and the answer's cells are
// made after it ends.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.hpp"

namespace zuv::http {

// One request: method (a symbol id), url, header (a block! of names and
// values, or null), body (a string!, binary! or block!, or null). Pushes the
// result on the data stack and answers it: the body as a string! (UTF-8,
// CR LF as LF), with binary a binary!, with lines a block! of line strings;
// with info a block! of the status (integer!), the headers (map!) and that
// body. Null when the request failed. A header block with a name that is not
// an HTTP token, a value holding CR, LF or NUL (which would break the request
// apart), or no value for its last name raises script invalid-arg with the
// block, before anything is sent; so does a method word that is not a token.
Cell* request(int32_t method, const Cell* url, const Cell* header, const Cell* body, bool binary, bool lines,
              bool info);

// The headers map of an answer's header text (lines of "Name: value", CR LF
// or LF ended; the blanks after the colon are skipped, whatever their
// number; a last line without a line end is kept). Keys are words of the
// names; a name seen more than once (in any letter case) maps to a block! of
// its values in the order received, else to its string!. Lines without a
// name, and continuation lines, are left out. Pushes the map and answers it.
Cell* parse_headers(const std::string& text);

}  // namespace zuv::http
