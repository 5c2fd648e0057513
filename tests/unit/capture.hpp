// Captures what is written to descriptor 1 (the console writer's output)
// between construction and finish().
#pragma once

#include <cstdio>
#include <string>
#include <unistd.h>

#include "runtime/console_writer.hpp"

namespace zuv::test {

class StdoutCapture {
public:
    StdoutCapture() {
        console_writer::flush();
        std::fflush(stdout);
        saved_ = ::dup(1);
        int fds[2];
        if (::pipe(fds) != 0) return;
        read_end_ = fds[0];
        ::dup2(fds[1], 1);
        ::close(fds[1]);
    }
    ~StdoutCapture() { finish(); }

    // Restores descriptor 1 and returns everything written meanwhile.
    std::string finish() {
        if (saved_ < 0) return text_;
        console_writer::flush();
        std::fflush(stdout);
        ::dup2(saved_, 1);  // closes the last write end of the pipe
        ::close(saved_);
        saved_ = -1;
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(read_end_, chunk, sizeof chunk)) > 0) text_.append(chunk, size_t(n));
        ::close(read_end_);
        return text_;
    }

private:
    int saved_ = -1;
    int read_end_ = -1;
    std::string text_;
};

// In a death test's child: what goes to standard output is checked on standard error.
inline void stdout_to_stderr() { ::dup2(2, 1); }

}  // namespace zuv::test
