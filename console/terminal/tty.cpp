// The terminal on standard input and output: termios raw mode, the window
// size with SIGWINCH, byte input through poll(2), and output.
#include "console/terminal/tty.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "runtime/console_writer.hpp"
#include "runtime/os.hpp"
#include "runtime/process.hpp"

namespace zuv::tty {

namespace {

// The mode to put back, and whether raw mode is on: read by signal handlers,
// so the mode is complete before the flag is set.
struct termios saved_mode {};
volatile std::sig_atomic_t raw = 0;
volatile std::sig_atomic_t resized = 0;
bool hooks_installed = false;

// Bytes read while waiting for a cursor report, in front of the terminal's.
std::string pending;
bool cursor_unanswered = false;

constexpr int BYTE_TIMEOUT = -1;
constexpr int BYTE_END = -2;
constexpr int BYTE_SIGNAL = -3;

void restore_from_signal() {
    if (raw) ::tcsetattr(0, TCSANOW, &saved_mode);
}

void restore_at_exit() { leave_raw_mode(); }

void on_resize(int) { resized = 1; }

void install_hooks() {
    if (hooks_installed) return;
    hooks_installed = true;
    runtime::before_signal_exit = restore_from_signal;
    std::atexit(restore_at_exit);
    // SA_RESTART keeps the rest of the program's reads and writes going;
    // poll(2), where input waits, returns EINTR all the same.
    struct sigaction sa {};
    sa.sa_handler = on_resize;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &sa, nullptr);
}

int64_t now_ms() {
    struct timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// One byte of standard input, waiting at most timeout_ms (-1: no bound).
int read_byte(int32_t timeout_ms) {
    struct pollfd p {};
    p.fd = 0;
    p.events = POLLIN;
    int ready = ::poll(&p, 1, timeout_ms);
    if (ready == 0) return BYTE_TIMEOUT;
    if (ready < 0) return errno == EINTR ? BYTE_SIGNAL : BYTE_END;
    uint8_t b;
    ssize_t n = ::read(0, &b, 1);
    if (n == 1) return b;
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return BYTE_SIGNAL;
    return BYTE_END;
}

Input take(bool final) {
    Input in = decode_input(reinterpret_cast<const uint8_t*>(pending.data()), int32_t(pending.size()), final);
    if (in.kind == InputKind::incomplete) return in;
    pending.erase(0, size_t(in.length));
    if (in.kind == InputKind::cursor) cursor_unanswered = false;  // the terminal answers after all
    return in;
}

Input signal_of(int byte) {
    Input in;
    in.kind = byte == BYTE_SIGNAL ? InputKind::signal : byte == BYTE_TIMEOUT ? InputKind::timeout : InputKind::end;
    return in;
}

}  // namespace

bool interactive_q() { return ::isatty(0) && ::isatty(1); }

bool enter_raw_mode() {
    if (raw) return true;
    struct termios mode {};
    if (::tcgetattr(0, &mode) != 0) return false;
    install_hooks();
    saved_mode = mode;
    mode.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG | IEXTEN);
    mode.c_iflag &= ~tcflag_t(IXON | ICRNL | INLCR | IGNCR | ISTRIP);
    mode.c_cc[VMIN] = 1;
    mode.c_cc[VTIME] = 0;
    raw = 1;
    if (::tcsetattr(0, TCSADRAIN, &mode) != 0) {
        raw = 0;
        return false;
    }
    return true;
}

void leave_raw_mode() {
    if (!raw) return;
    ::tcsetattr(0, TCSADRAIN, &saved_mode);
    raw = 0;
}

Size window_size() {
    Size size;
    struct winsize ws {};
    if (::ioctl(1, TIOCGWINSZ, &ws) == 0 || ::ioctl(0, TIOCGWINSZ, &ws) == 0) {
        size.columns = ws.ws_col;
        size.rows = ws.ws_row;
    }
    return size;
}

bool take_resize() {
    if (!resized) return false;
    resized = 0;
    return true;
}

Input read_input(int32_t timeout_ms) {
    for (;;) {
        if (!pending.empty()) {
            Input in = take(false);
            if (in.kind != InputKind::incomplete) return in;
        }
        int byte = read_byte(pending.empty() ? timeout_ms : SEQUENCE_WAIT_MS);
        if (byte >= 0) {
            pending += char(byte);
        } else if (byte == BYTE_SIGNAL || pending.empty()) {
            return signal_of(byte);
        } else {
            return take(true);  // nothing more came: what there is stands alone
        }
    }
}

bool query_cursor(int32_t* row, int32_t* column) {
    if (cursor_unanswered) return false;
    write("\x1b[6n");
    std::string fresh;
    int64_t deadline = now_ms() + CURSOR_REPORT_WAIT_MS;
    for (int64_t left; (left = deadline - now_ms()) > 0;) {
        int byte = read_byte(int32_t(left));
        if (byte == BYTE_SIGNAL) continue;
        if (byte < 0) break;
        fresh += char(byte);
        // Keys typed meanwhile come first; the report follows them.
        for (int32_t at = 0; at < int32_t(fresh.size());) {
            Input in = decode_input(reinterpret_cast<const uint8_t*>(fresh.data()) + at,
                                    int32_t(fresh.size()) - at, false);
            if (in.kind == InputKind::incomplete) break;
            if (in.kind == InputKind::cursor) {
                *row = in.y;
                *column = in.x;
                fresh.erase(size_t(at), size_t(in.length));
                pending += fresh;
                return true;
            }
            at += in.length;
        }
    }
    pending += fresh;
    cursor_unanswered = true;
    return false;
}

void write(const std::string& bytes) {
    console_writer::flush();
    platform::write_fully(1, bytes.data(), bytes.size(), true);
}

}  // namespace zuv::tty
