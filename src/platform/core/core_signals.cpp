// The termination signals: SIGTERM, SIGINT and SIGHUP.
//
// The handler does two things only, both async-signal-safe: it records the
// signal in a sig_atomic_t and writes a byte to a non-blocking pipe. The
// backend's wait watches the pipe, so an idle program wakes at once and ends
// by its normal route (windows destroyed, dialogs cancelled) from its event
// loop; long work that does not look at the queue meanwhile (decoding a
// picture) asks plat::StopRequested() and gives up, after which the loop sees
// the signal.
#include <fcntl.h>
#include <unistd.h>

#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "platform/core/linux_platform.h"
#include "platform/platform.h"

namespace {

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t caughtSignal = 0;
int wakeRead = -1;
int wakeWrite = -1;

void onTerminationSignal(int signal) {
    const int savedErrno = errno;
    caughtSignal = signal;
    if (wakeWrite >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake-up: nothing is lost.
        [[maybe_unused]] const ssize_t ignored = write(wakeWrite, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

namespace linuxplat {

int catchTerminationSignals() {
    if (wakeRead >= 0) return wakeRead;
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return -1;
    wakeRead = fds[0];
    wakeWrite = fds[1];
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (int s : kTerminationSignals) sigaddset(&action.sa_mask, s);
    // Restarted calls: a read of a picture must not fail because a signal
    // came; the loader stops by asking instead.
    action.sa_flags = SA_RESTART;
    for (int s : kTerminationSignals) sigaction(s, &action, nullptr);
    return wakeRead;
}

void drainTerminationWakeups() {
    char buffer[64];
    while (wakeRead >= 0 && read(wakeRead, buffer, sizeof buffer) > 0) {
    }
}

int terminationSignal() { return caughtSignal; }

void endByTerminationSignal() {
    const int signal = caughtSignal;
    if (signal == 0) return;
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signal);
}

}  // namespace linuxplat

namespace plat {

bool StopRequested() { return linuxplat::terminationSignal() != 0; }

}  // namespace plat
