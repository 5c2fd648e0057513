// The process service: child programs started for `call`, `browse` and the
// clipboard.
//
// A child is started with posix_spawn. Its standard input comes from a file,
// from bytes sent through a pipe, or from the null device; its output and
// error go to a file (appended to), into a capture buffer through a pipe, or
// to the null device. With `console`, a stream not redirected stays the
// parent's. Every descriptor the parent opens is close-on-exec, so a child
// inherits only its three streams.
//
// The pipes are served together by one poll loop with non-blocking ends, so
// a child that fills one pipe while another is unread never stalls: input is
// written as the child takes it (short writes and EINTR included) while
// output and error are read as they come. A halt request (Ctrl+C at the
// prompt) while waiting kills the child and ends the wait.
//
// The result is the child's exit status when it is waited for (128 plus the
// signal number for a child killed by a signal, as the shell reports it),
// its process id when it is not, and -1 when it could not be started. A
// child not waited for is reaped later, at each launch and before each
// prompt (reap), so none lingers as a zombie.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/cell.hpp"

namespace zuv::call {

// One of the child's three streams.
struct Redirect {
    enum Kind : uint8_t { NONE, FILE, DATA };
    Kind kind = NONE;
    std::string path;   // FILE: read from for input, appended to for output and error
    std::string bytes;  // DATA: the input to send, or the output captured
};

struct Launch {
    // The program and its arguments. With search the program is looked up in
    // PATH when its name holds no slash.
    std::vector<std::string> argv;
    bool search = true;
    // When set, the text that `sh -c` runs instead when the program is not
    // found (or argv is empty).
    bool fallback = false;
    std::string shell_text;
    bool wait = false;
    bool console = false;
    Redirect in, out, err;
};

// The shell's argument vector for a command text: /bin/sh -c text.
std::vector<std::string> shell_argv(const std::string& text);

// Starts the child and, when asked or when a stream is redirected, waits for
// it; captured output is left in out.bytes and err.bytes. A file that cannot
// be opened gives -1 without starting the child.
int32_t create_process(Launch& launch);

// Reaps the children started without waiting that have ended.
void reap();

// Pushes a string! of text another program gave: UTF-8 with CR LF as LF,
// invalid bytes as U+FFFD.
Cell* push_text(const std::string& bytes);

// call: runs the command (a string! split into arguments, or a file! naming
// the program) with the flags and the in, out and err values (null when
// absent: a string!, binary! or file!; another type raises script
// invalid-arg). Captured output is inserted at the head of its target: a
// string! gets it decoded as UTF-8 (CR LF as LF, invalid bytes as U+FFFD),
// a binary! the bytes.
int32_t run(const Cell* command, bool wait, bool console, bool shell, const Cell* in, const Cell* out,
            const Cell* err);

}  // namespace zuv::call
