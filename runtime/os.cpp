// OS glue on Linux: mmap for frames, clock_gettime and localtime_r for the
// clock and the date, the C environment, getcwd/chdir and ppoll for waits.
#include "runtime/os.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include "runtime/console_writer.hpp"
#include "runtime/process.hpp"
#include "runtime/throw.hpp"

namespace zuv::platform {

void* virtual_alloc(size_t size, bool executable) {
    int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = ::mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) runtime::throw_code(THROW_FRAME_RESERVE);
    return p;
}

void virtual_free(void* address, size_t size) {
    if (::munmap(address, size) != 0) runtime::throw_code(THROW_FRAME_RELEASE);
}

void prefault(void* address, size_t size) {
#ifdef MADV_POPULATE_WRITE
    ::madvise(address, size, MADV_POPULATE_WRITE);
#else
    (void)address, (void)size;
#endif
}

// Only the console writer needs setting up on Linux. The graphics and COM
// start-up, and UTF-16 modes for the standard streams, have no counterpart
// here: output is UTF-8 and the image codecs need no start. The digest
// library needs no provider to be opened.
void init() { console_writer::init(); }

bool write_fully(int fd, const void* data, size_t count, bool wait_when_full) {
    const auto* from = static_cast<const uint8_t*>(data);
    while (count > 0) {
        ssize_t n = ::write(fd, from, count);
        if (n > 0) {
            from += n;
            count -= size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && wait_when_full && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd w{fd, POLLOUT, 0};
            ::poll(&w, 1, -1);
        } else {
            return false;
        }
    }
    return true;
}

std::string get_current_dir() {
    std::string dir(256, '\0');
    for (;;) {
        if (::getcwd(dir.data(), dir.size())) {
            dir.resize(std::char_traits<char>::length(dir.data()));
            return dir;
        }
        if (errno != ERANGE) return std::string();
        dir.resize(dir.size() * 2);
    }
}

bool set_current_dir(const char* path) { return ::chdir(path) == 0; }

bool set_env(const char* name, const char* value) {
    if (!value) return ::unsetenv(name) == 0;
    return ::setenv(name, value, 1) == 0;
}

bool get_env(const char* name, std::string& out) {
    const char* value = std::getenv(name);
    if (!value) return false;
    out = value;
    return true;
}

void wait(double seconds) {
    // Milliseconds truncated, at least 1; NaN, negative and tiny waits sleep
    // 1 ms, huge ones the longest wait the platform call could express.
    constexpr double MAX_MS = 4294967294.0;
    double ms = seconds * 1000.0;
    uint64_t whole = 1;
    if (ms >= MAX_MS) whole = uint64_t(MAX_MS);
    else if (ms >= 1.0) whole = uint64_t(ms);
    // A halt request (Ctrl+C at the prompt) ends the wait early. SIGINT stays
    // blocked but while sleeping, so that one arriving between the check and
    // the sleep still ends the sleep.
    sigset_t interrupt, saved;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &interrupt, &saved);
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t deadline = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec + int64_t(whole) * 1000000;
    while (!runtime::halt_requested_q()) {
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        int64_t left = deadline - (int64_t(now.tv_sec) * 1000000000 + now.tv_nsec);
        if (left <= 0) break;
        timespec span{time_t(left / 1000000000), long(left % 1000000000)};
        ::ppoll(nullptr, 0, &span, &saved);
    }
    ::pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

double get_time(bool precise) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    auto seconds = double(now.tv_sec % 86400);
    if (precise) seconds += double(now.tv_nsec / 100 * 100) / 1e9;  // 100 ns resolution
    return seconds;
}

double get_epoch(bool precise, int32_t* zone_minutes) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    time_t t = now.tv_sec;
    tm parts{};
    ::tzset();  // a zone set through the environment takes effect at once
    ::localtime_r(&t, &parts);
    *zone_minutes = int32_t(parts.tm_gmtoff / 60);
    auto seconds = double(now.tv_sec);
    if (precise) seconds += double(now.tv_nsec / 100 * 100) / 1e9;  // 100 ns resolution
    return seconds;
}

uint32_t pack_date(int year, int month, int day, int zone_minutes, bool time_flag) {
    // Zone: whole hours toward zero and the rest in quarter hours; the sign bit
    // follows the offset itself, so that -00:30 is west of UTC too.
    int magnitude = zone_minutes < 0 ? -zone_minutes : zone_minutes;
    int quarters = (magnitude / 60) * 4 + (magnitude % 60) / 15;
    if (quarters > 63) quarters = 63;
    uint32_t zone = uint32_t(quarters) | (zone_minutes < 0 ? 0x40u : 0u);
    return (uint32_t(year) & 0x7FFF) << 17 | (time_flag ? 1u : 0u) << 16 | (uint32_t(month) & 0xF) << 12 |
           (uint32_t(day) & 0x1F) << 7 | zone;
}

uint32_t get_date(bool utc) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    time_t t = now.tv_sec;
    tm parts{};
    if (utc) {
        ::gmtime_r(&t, &parts);
        return pack_date(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, 0, false);
    }
    ::tzset();  // a zone set through the environment takes effect at once
    ::localtime_r(&t, &parts);
    return pack_date(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, int(parts.tm_gmtoff / 60), false);
}

}  // namespace zuv::platform
