#include "services/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "evaluator/stack.hpp"
#include "runtime/command_line.hpp"
#include "runtime/console_writer.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/fire.hpp"
#include "runtime/memory.hpp"
#include "runtime/process.hpp"
#include "runtime/unicode.hpp"

extern char** environ;

namespace zuv::call {

namespace {

constexpr size_t CAPTURE_START = 4096;  // a capture buffer's first size; it doubles when full
constexpr size_t WRITE_CHUNK = 65536;   // input bytes offered to the child at a time

// The children started without waiting that have not been reaped yet.
std::vector<pid_t> unwaited;

// A descriptor closed when its holder goes.
class Fd {
public:
    Fd() = default;
    ~Fd() { close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool open_q() const { return fd_ >= 0; }
    void reset(int fd) {
        close();
        fd_ = fd;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// A descriptor that landed on 0, 1 or 2 (a process started with one of its
// standard streams closed) moves above them: those numbers are the child's.
int above_standard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// Opens a file close-on-exec; -1 on failure. Non-blocking only while
// opening, so that a FIFO without a partner does not hang the open.
int open_file(const std::string& path, int flags) {
    if (path.find('\0') != std::string::npos) return -1;
    int fd;
    do fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return above_standard(fd);
}

bool make_pipe(Fd& read_end, Fd& write_end) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read_end.reset(above_standard(fds[0]));
    write_end.reset(above_standard(fds[1]));
    return read_end.open_q() && write_end.open_q();
}

void set_nonblocking(const Fd& fd) {
    if (fd.open_q()) ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
}

int32_t exit_code(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// SIGINT and SIGPIPE stay blocked while a child is served. The wait itself
// (ppoll with wait_mask) lets SIGINT through as it was before, so a halt
// request is never missed between the check and the wait. A write to a
// child that closed its input fails with EPIPE; the SIGPIPE it raised is
// taken here instead of ending the program.
class ServingSignals {
public:
    ServingSignals() {
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGINT);
        sigaddset(&block, SIGPIPE);
        ::pthread_sigmask(SIG_BLOCK, &block, &saved_);
        wait_mask_ = saved_;
        sigaddset(&wait_mask_, SIGPIPE);
    }
    ~ServingSignals() {
        if (!sigismember(&saved_, SIGPIPE)) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec none{};
            while (::sigtimedwait(&pipe, nullptr, &none) > 0) {
            }
        }
        ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    }
    ServingSignals(const ServingSignals&) = delete;
    ServingSignals& operator=(const ServingSignals&) = delete;
    const sigset_t* wait_mask() const { return &wait_mask_; }

private:
    sigset_t saved_;
    sigset_t wait_mask_;
};

// A capture: the pipe's read end and the bytes read so far.
struct Capture {
    Fd* fd;
    std::string* bytes;
    size_t used = 0;

    // Reads what the pipe holds; the end of the pipe or a failure closes it.
    void take() {
        if (used == bytes->size()) bytes->resize(std::max(CAPTURE_START, bytes->size() * 2));
        ssize_t n = ::read(fd->get(), bytes->data() + used, bytes->size() - used);
        if (n > 0) used += size_t(n);
        else if (n == 0 || (errno != EINTR && errno != EAGAIN)) fd->close();
    }
};

// Sends the input, reads output and error and, with a process descriptor,
// sees the child end, all in one loop; answers the child's status when the
// loop reaped it. A halt request kills the child and ends the loop.
bool serve(pid_t pid, Fd& input_end, const std::string& input, Capture& out, Capture& err, int* status) {
    Fd child;
    // A descriptor that polls readable once the child has ended (-1 on a
    // kernel without it: the caller then waits).
    child.reset(int(::syscall(SYS_pidfd_open, pid, 0)));
    bool reaped = false;
    size_t sent = 0;
    if (input_end.open_q() && input.empty()) input_end.close();
    ServingSignals signals;
    for (;;) {
        if (runtime::halt_requested_q()) {
            ::kill(pid, SIGKILL);
            break;
        }
        pollfd fds[4];
        Fd* owners[4];
        nfds_t count = 0;
        auto add = [&](Fd& fd, short events) {
            if (!fd.open_q()) return;
            fds[count] = pollfd{fd.get(), events, 0};
            owners[count++] = &fd;
        };
        add(input_end, POLLOUT);
        add(*out.fd, POLLIN);
        add(*err.fd, POLLIN);
        add(child, POLLIN);
        if (count == 0) break;
        int ready = ::ppoll(fds, count, nullptr, signals.wait_mask());
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (nfds_t i = 0; i < count; i++) {
            if (fds[i].revents == 0) continue;
            Fd* fd = owners[i];
            if (fd == &input_end) {
                size_t n = std::min(WRITE_CHUNK, input.size() - sent);
                ssize_t written = ::write(fd->get(), input.data() + sent, n);
                if (written > 0) sent += size_t(written);
                else if (errno != EINTR && errno != EAGAIN) fd->close();  // the child stopped reading
                if (sent == input.size()) fd->close();
            } else if (fd == out.fd) {
                out.take();
            } else if (fd == err.fd) {
                err.take();
            } else if (::waitpid(pid, status, WNOHANG) == pid) {
                reaped = true;
                child.close();
            }
        }
    }
    out.bytes->resize(out.used);
    err.bytes->resize(err.used);
    return reaped;
}

// Waits for the child without limit; a halt request kills it first.
int wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
        if (runtime::halt_requested_q()) ::kill(pid, SIGKILL);
    }
    return status;
}

int spawn(pid_t* pid, const std::vector<std::string>& argv, bool search, const posix_spawn_file_actions_t* actions,
          const posix_spawnattr_t* attr) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return search ? ::posix_spawnp(pid, args[0], actions, attr, args.data(), environ)
                  : ::posix_spawn(pid, args[0], actions, attr, args.data(), environ);
}

bool has_nul_q(const std::string& text) { return text.find('\0') != std::string::npos; }

// A text the shell takes as one word, whatever it holds.
std::string shell_quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// ---- the values of call ----

// Input: a string! sends its UTF-8 text as it stands, a binary! its bytes,
// a file! is read by the child.
void take_input(Redirect& r, const Cell* value) {
    if (!value) return;
    switch (type_of(value)) {
        case TYPE_STRING:
            r.kind = Redirect::DATA;
            r.bytes = url::utf8_of(value);
            break;
        case TYPE_BINARY: {
            r.kind = Redirect::DATA;
            std::vector<uint8_t> bytes = binary::bytes_of(value);
            r.bytes.assign(bytes.begin(), bytes.end());
            break;
        }
        case TYPE_FILE:
            r.kind = Redirect::FILE;
            r.path = file::to_local_path(value, false);
            break;
        default: fire(ErrorCategory::script, "invalid-arg", value);
    }
}

// Output and error: a string! or binary! captures, a file! is appended to.
void take_output(Redirect& r, const Cell* value) {
    if (!value) return;
    switch (type_of(value)) {
        case TYPE_STRING: case TYPE_BINARY: r.kind = Redirect::DATA; break;
        case TYPE_FILE:
            r.kind = Redirect::FILE;
            r.path = file::to_local_path(value, false);
            break;
        default: fire(ErrorCategory::script, "invalid-arg", value);
    }
}

// Inserts captured bytes at the target's head (at its tail when the head
// lies past it).
void store_output(const Cell* target, const std::string& bytes) {
    if (bytes.empty()) return;
    Cell t = *target;
    uint32_t tail = uint32_t(memory::length_of(memory::buffer_of(t.w2)));
    if (t.w1 > tail) t.w1 = tail;
    if (type_of(&t) == TYPE_BINARY) {
        binary::splice_bytes(&t, int32_t(t.w1), 0, std::vector<uint8_t>(bytes.begin(), bytes.end()), 1);
        return;
    }
    Cell* decoded = push_text(bytes);
    Cell* dst = stack::push(&t);
    string::concatenate(dst, decoded, -1, 0, false, string::CONCAT_INSERT);
    stack::pop(2);
}

}  // namespace

std::vector<std::string> shell_argv(const std::string& text) { return {"/bin/sh", "-c", text}; }

Cell* push_text(const std::string& bytes) {
    if (bytes.size() > size_t(INT32_MAX) / 4) fire_no_memory();
    std::string text = unicode::valid_utf8(bytes.data(), bytes.size());
    Cell* decoded = cell::begin(stack::push_raw());
    decoded->w2 = unicode::utf8_to_string(reinterpret_cast<const uint8_t*>(text.data()), int32_t(text.size()), 0,
                                          nullptr, true);
    return cell::set_type(decoded, TYPE_STRING);
}

int32_t create_process(Launch& launch) {
    reap();
    for (const std::string& a : launch.argv)
        if (has_nul_q(a)) return -1;
    if (launch.fallback && has_nul_q(launch.shell_text)) return -1;

    // The child's ends: files first, so that one that cannot be opened
    // gives -1 before anything starts.
    Fd child_ends[3], parent_ends[3], null_device;
    Redirect* streams[3] = {&launch.in, &launch.out, &launch.err};
    for (int i = 0; i < 3; i++) {
        if (streams[i]->kind != Redirect::FILE) continue;
        child_ends[i].reset(open_file(streams[i]->path, i == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_APPEND));
        if (!child_ends[i].open_q()) return -1;
    }
    for (int i = 0; i < 3; i++) {
        Redirect* r = streams[i];
        if (r->kind == Redirect::DATA) {
            if (i > 0) r->bytes.clear();
            bool made = i == 0 ? make_pipe(child_ends[i], parent_ends[i]) : make_pipe(parent_ends[i], child_ends[i]);
            if (!made) return -1;
            set_nonblocking(parent_ends[i]);
        } else if (r->kind == Redirect::NONE && !launch.console) {
            if (!null_device.open_q()) null_device.reset(open_file("/dev/null", O_RDWR));
            if (!null_device.open_q()) return -1;
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attr);
    for (int i = 0; i < 3; i++) {
        const Fd& from = child_ends[i].open_q() ? child_ends[i] : null_device;
        if (child_ends[i].open_q() || (streams[i]->kind == Redirect::NONE && !launch.console))
            ::posix_spawn_file_actions_adddup2(&actions, from.get(), i);
    }
    // The child starts with every signal at its default and none blocked,
    // whatever this program does with them.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    ::posix_spawnattr_setsigdefault(&attr, &all);
    ::posix_spawnattr_setsigmask(&attr, &none);
    ::posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    console_writer::flush();  // what this program wrote comes before what the child writes
    pid_t pid = 0;
    int failed = launch.argv.empty() ? ENOENT : spawn(&pid, launch.argv, launch.search, &actions, &attr);
    if (failed == ENOENT && launch.fallback) failed = spawn(&pid, shell_argv(launch.shell_text), false, &actions, &attr);
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attr);
    if (failed != 0) return -1;
    for (Fd& fd : child_ends) fd.close();
    null_device.close();

    bool redirected = launch.in.kind != Redirect::NONE || launch.out.kind != Redirect::NONE ||
                      launch.err.kind != Redirect::NONE;
    if (!launch.wait && !launch.console && !redirected) {
        unwaited.push_back(pid);
        return pid;
    }
    Capture out{&parent_ends[1], &launch.out.bytes};
    Capture err{&parent_ends[2], &launch.err.bytes};
    int status = 0;
    if (!serve(pid, parent_ends[0], launch.in.bytes, out, err, &status)) status = wait_for(pid);
    return status < 0 ? -1 : exit_code(status);
}

void reap() {
    std::erase_if(unwaited, [](pid_t pid) {
        int status;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        return r == pid || (r < 0 && errno == ECHILD);
    });
}

int32_t run(const Cell* command, bool wait, bool console, bool shell, const Cell* in, const Cell* out,
            const Cell* err) {
    Launch launch;
    launch.wait = wait;
    launch.console = console;
    take_input(launch.in, in);
    take_output(launch.out, out);
    take_output(launch.err, err);

    std::string text;
    if (type_of(command) == TYPE_FILE) {
        // A file! names the program by its path, relative to the current folder.
        std::string path = file::to_local_path(command, false);
        if (path.empty()) return 0;
        if (path.find('/') == std::string::npos) path.insert(0, "./");
        launch.argv = {path};
        launch.search = false;
        text = shell_quoted(path);
    } else {
        text = url::utf8_of(command);
        if (text.empty()) return 0;
        launch.argv = command_line::split(text);
    }
    launch.fallback = !shell;
    launch.shell_text = text;
    if (shell) {
        launch.argv = shell_argv(text);
        launch.search = false;
    }

    int32_t result = create_process(launch);
    if (result != -1) {
        if (launch.out.kind == Redirect::DATA) store_output(out, launch.out.bytes);
        if (launch.err.kind == Redirect::DATA) store_output(err, launch.err.bytes);
    }
    return result;
}

}  // namespace zuv::call
