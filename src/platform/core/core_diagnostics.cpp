// The program's diagnostics: one write per line that never waits.
//
// The descriptors are inherited: a terminal, a daemon's log, or a pipe whose
// reader may never read. Their open file description is shared with the
// parent, so O_NONBLOCK cannot be set on them; instead each line is written
// only when the descriptor can take it now. A pipe that poll() calls
// writable has a free buffer slot, which holds any write of up to PIPE_BUF
// bytes whole, so the one write() below does not block; a socket is written
// with MSG_DONTWAIT. With SIGPIPE ignored (StartLinuxProgram), a reader gone
// makes the write fail with EPIPE, and the line is dropped.
#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace {

void writeNow(int fd, const char* bytes, std::size_t length) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return;
    if (S_ISSOCK(st.st_mode)) {
        [[maybe_unused]] const ssize_t sent = send(fd, bytes, length, MSG_DONTWAIT | MSG_NOSIGNAL);
        return;
    }
    pollfd ready{fd, POLLOUT, 0};
    int n = 0;
    do n = poll(&ready, 1, 0);
    while (n < 0 && errno == EINTR);
    if (n != 1 || (ready.revents & POLLOUT) == 0 || (ready.revents & (POLLERR | POLLNVAL)) != 0)
        return;
    [[maybe_unused]] const ssize_t written = write(fd, bytes, length);
}

}  // namespace

namespace plat {

void WriteDiagnostic(DiagnosticStream stream, const char* format, ...) {
    static_assert(PIPE_BUF >= 4096);
    char line[4096];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (n <= 0) return;
    const std::size_t length =
        static_cast<std::size_t>(n) < sizeof line ? static_cast<std::size_t>(n) : sizeof line - 1;
    writeNow(stream == DiagnosticStream::Output ? STDOUT_FILENO : STDERR_FILENO, line, length);
}

}  // namespace plat
