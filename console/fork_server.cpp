// The fork server for the random-program harness: booting and the harness's
// common first lines are done once per server instead of once per program,
// while each program still runs in a process of its own, with its own
// streams, exit status and time limit. Not used by the console otherwise.
#include "console/fork_server.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "runtime/console_writer.hpp"

namespace zuv::fork_server {

namespace {

// The three descriptors of one request, or false when the harness has
// closed the socket (or sent something else).
bool receive_streams(int socket, int fds[3]) {
    char byte = 0;
    iovec io{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(3 * sizeof(int))];
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (n < 0 && errno == EINTR);
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (n != 1 || !header || header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS ||
        header->cmsg_len != CMSG_LEN(3 * sizeof(int)))
        return false;
    std::memcpy(fds, CMSG_DATA(header), 3 * sizeof(int));
    return true;
}

bool send_number(int socket, int32_t value) {
    ssize_t n;
    do n = ::send(socket, &value, sizeof value, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n == sizeof value;
}

}  // namespace

bool serve_at_end() {
    const char* text = std::getenv("ZUV_FORK_SERVER");
    if (!text || !*text) return false;
    char* end = nullptr;
    long socket = std::strtol(text, &end, 10);
    if (*end || socket < 3 || socket > 1 << 20) return false;
    // Output written so far is the server's own: none of it may reach a child.
    console_writer::flush();
    std::fflush(nullptr);
    for (;;) {
        int fds[3];
        if (!receive_streams(int(socket), fds)) return false;
        pid_t child = ::fork();
        if (child == 0) {
            for (int i = 0; i < 3; i++) {
                ::dup2(fds[i], i);
                ::close(fds[i]);
            }
            ::close(int(socket));
            ::unsetenv("ZUV_FORK_SERVER");  // the child ends at the end of its input
            return true;
        }
        for (int fd : fds) ::close(fd);
        int status = 0;
        bool sent = send_number(int(socket), int32_t(child));
        if (child > 0) {
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        } else {
            status = 127 << 8;  // no child: reported as a status the harness does not expect
        }
        if (!sent || !send_number(int(socket), int32_t(status))) return false;
    }
}

}  // namespace zuv::fork_server
