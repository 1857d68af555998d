// The desktop backend: the Linux core's windows shown on an X display, its
// dialogs in GTK, and one wait that serves both. Waiting goes through GLib's
// main context, which GTK needs served anyway; the X connection and the
// termination signals are sources in it.
#include <glib-unix.h>
#include <glib.h>
#include <sched.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/desktop/desktop_internal.h"
#include "platform/core/linux_platform.h"

namespace desktop {

bool hackMode = false;

namespace {

bool sourcesReady = false;
guint xWatch = 0;
bool terminationDone = false;

gboolean onTerminationWakeup(gint, GIOCondition, gpointer) {
    linuxplat::drainTerminationWakeups();
    return G_SOURCE_CONTINUE;
}

gboolean onXReadable(gint, GIOCondition, gpointer) { return G_SOURCE_CONTINUE; }

gboolean onDeadline(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

void ensureSources() {
    if (!sourcesReady) {
        sourcesReady = true;
        // The handler only records the signal and wakes this wait; the
        // program then ends by its normal route from pollEvents.
        const int wake = linuxplat::catchTerminationSignals();
        if (wake >= 0) g_unix_fd_add(wake, G_IO_IN, onTerminationWakeup, nullptr);
    }
    if (xWatch == 0 && x11::connected())
        xWatch = g_unix_fd_add(x11::connectionFd(), G_IO_IN, onXReadable, nullptr);
}

// A termination signal came: the same ending as the user's. First every box
// ends as its close box would (their modal loops return); only with no box
// left are the windows destroyed and the dialogs cancelled, so nothing is
// torn down under a box's caller, say a saver window still being created.
void terminate() {
    gtkui::endBoxes();
    if (gtkui::modalUp() || terminationDone) return;
    terminationDone = true;
    const std::size_t dialogs = gtkui::cancelDialogs();
    std::array<plat::Window, 16> outer{};
    const std::size_t n = std::min(x11::outerWindows(outer.data(), outer.size()), outer.size());
    // Destroying the saver window runs its tear-down and posts the quit
    // message, as a close request let through would; a dialog ends as
    // Cancel ends it.
    for (std::size_t i = 0; i < n; ++i) linuxplat::destroyWindow(outer[i]);
    // With neither, nothing of ours would end the loop: end it directly.
    if (n == 0 && dialogs == 0) plat::PostQuitMessage(0);
}

std::uint64_t nowMs() { return monotonicMs(); }

void sleepMs(std::uint32_t ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

void pollEvents() {
    ensureSources();
    for (int i = 0; i < 256 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
    x11::pollEvents(gtkui::modalUp());
    if (linuxplat::terminationSignal() != 0) terminate();
    gtkui::runPending();
}

bool waitEvents(std::uint64_t deadlineMs, std::string* why) {
    ensureSources();
    x11::flush();
    if (linuxplat::terminationSignal() != 0 && !terminationDone) return true;
    if (!x11::connected() && !gtkui::active() && deadlineMs == linuxplat::kNoDeadline) {
        if (why) *why = "no display and no timer";
        return false;
    }
    bool fired = false;
    guint timeout = 0;
    if (deadlineMs != linuxplat::kNoDeadline) {
        const std::uint64_t now = monotonicMs();
        if (deadlineMs <= now) return true;
        const std::uint64_t wait = std::min<std::uint64_t>(deadlineMs - now, 3600u * 1000u);
        timeout = g_timeout_add_full(G_PRIORITY_HIGH, static_cast<guint>(wait), onDeadline,
                                     &fired, nullptr);
    }
    g_main_context_iteration(nullptr, TRUE);
    if (timeout != 0 && !fired) g_source_remove(timeout);
    return true;
}

plat::Window createWindow(const linuxplat::WindowInfo& info) {
    if (info.dialogTemplate != 0) return gtkui::createDialog(info);
    return x11::createWindow(info);
}

void destroyWindow(plat::Window window) {
    if (gtkui::ownsDialog(window))
        gtkui::destroyDialog(window);
    else
        x11::destroyWindow(window);
}

FILE* openLog(const char* variable) {
    const char* path = std::getenv(variable);
    if (path == nullptr || path[0] == '\0') return nullptr;
    return std::fopen(path, "a");
}

// GLib's and GTK's own warnings take the program's path for diagnostics: a
// stderr nobody reads must not hold the program up inside a library either.
// Debug and informational messages stay dropped, as GLib's writer drops them
// by default; a fatal message still ends the program after its line.
GLogWriterOutput writeLibraryLog(GLogLevelFlags level, const GLogField* fields, gsize count,
                                 gpointer) {
    if ((level & (G_LOG_LEVEL_DEBUG | G_LOG_LEVEL_INFO)) != 0) return G_LOG_WRITER_HANDLED;
    gchar* line = g_log_writer_format_fields(level, fields, count, FALSE);
    plat::WriteDiagnostic(plat::DiagnosticStream::Error, "%s\n", line);
    g_free(line);
    return G_LOG_WRITER_HANDLED;
}

// The clean ending must be in place before anything else runs: a daemon may
// end us right after starting us. Drawing into another's window means nobody
// sees a box: messages go to stderr, which the daemon logs.
plat::StartResult start(const plat::DrawTarget& target, plat::Window* window) {
    static bool logWriterSet = false;  // GLib takes it once per process
    if (!logWriterSet) g_log_set_writer_func(writeLibraryLog, nullptr, nullptr);
    logWriterSet = true;
    ensureSources();
    if (target.kind == plat::DrawTarget::CommandLine) return plat::StartResult::CommandLine;
    hackMode = true;
    const plat::Window into =
        target.kind == plat::DrawTarget::RootWindow ? x11::rootWindow() : target.window;
    if (!x11::connect()) return plat::StartResult::Failed;  // it said why
    if (into == 0 || !x11::foreignWindow(into, nullptr)) return plat::StartResult::WindowUnusable;
    *window = into;
    return plat::StartResult::IntoWindow;
}

// Entries left out are null: no registry and no libraries by name here.
const linuxplat::Backend kBackend = {
    .name = "desktop",
    .nowMs = nowMs,
    .sleep = sleepMs,
    .pollEvents = pollEvents,
    .waitEvents = waitEvents,
    .createWindow = createWindow,
    .destroyWindow = destroyWindow,
    .fillClientBlack = x11::fillClientBlack,
    .present = x11::present,
    .foreignWindow = x11::foreignWindow,
    .findForeignWindow = x11::findForeignWindow,
    .setForeground = x11::setForeground,
    .getForeground = x11::getForeground,
    .messageBox = gtkui::messageBox,
    .showDialog = gtkui::showDialog,
    .hideDialog = gtkui::hideDialog,
    .dialogItemChanged = gtkui::dialogItemChanged,
    .chooseOpenFile = gtkui::chooseOpenFile,
    .hideCursor = x11::hideCursor,
    .cursorPos = x11::cursorPos,
    .screenSize = x11::screenSize,
    .allocateFrameMemory = x11::allocateFrameMemory,
    .releaseFrameMemory = x11::releaseFrameMemory,
    .start = start,
};

}  // namespace

std::uint64_t monotonicMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1000u +
           static_cast<std::uint64_t>(t.tv_nsec) / 1000000u;
}

void logFrame(std::uint64_t now) {
    static FILE* log = openLog("ROVANTA_FRAME_LOG");
    if (log == nullptr) return;
    std::fprintf(log, "%llu\n", static_cast<unsigned long long>(now));
    std::fflush(log);
}

void logBox(const char* caption, const char* text) {
    static FILE* log = openLog("ROVANTA_BOX_LOG");
    if (log == nullptr) return;
    std::string line = std::string(caption) + "\t";
    for (const char* p = text; *p; ++p) line += *p == '\n' ? std::string("\\n") : std::string(1, *p);
    std::fprintf(log, "%s\n", line.c_str());
    std::fflush(log);
}

}  // namespace desktop

namespace linuxplat {

const Backend& activeBackend() { return desktop::kBackend; }

}  // namespace linuxplat
