// The backend of a program built without any display layer. Everything that
// needs no screen works (the command line, the no-mode exit, frame surfaces
// drawn off screen); the first attempt to show a window or a dialog, or to
// draw into another's window, says why it cannot and the process ends with
// status 1, rather than pretending to run.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/core/backend.h"

namespace {

std::uint64_t nowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::uint64_t>(t.tv_sec) * 1000u +
           static_cast<std::uint64_t>(t.tv_nsec) / 1'000'000u;
}

void sleepMs(std::uint32_t ms) {
    timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000L};
    nanosleep(&t, nullptr);
}

void pollEvents() {}

bool waitEvents(std::uint64_t deadline, std::string* why) {
    if (deadline == linuxplat::kNoDeadline) {
        *why = "no display layer is built in, so no input can arrive";
        return false;
    }
    std::uint64_t now = nowMs();
    if (deadline > now) sleepMs(static_cast<std::uint32_t>(deadline - now));
    return true;
}

[[noreturn]] void refuse(const char* what) {
    plat::WriteDiagnostic(plat::DiagnosticStream::Error,
                          "rovanta: cannot open %s: this build has no display layer\n", what);
    std::exit(1);
}

plat::Window createWindow(const linuxplat::WindowInfo& info) {
    refuse(info.dialogTemplate ? "the configuration dialog" : "the saver window");
}

void destroyWindow(plat::Window) {}
void fillClientBlack(plat::Window) {}
void present(plat::Window, const PixelSurface&, const plat::Rect&) {}

int messageBox(plat::Window, const char* text, const char* caption, std::uint32_t) {
    plat::WriteDiagnostic(plat::DiagnosticStream::Error, "%s: %s\n", caption, text);
    return plat::IDOK;
}

bool showDialog(plat::Window, int) { refuse("the configuration dialog"); }
void hideDialog(plat::Window) {}
bool chooseOpenFile(const plat::OpenFileName&, std::string*) { return false; }
void hideCursor() {}
bool cursorPos(plat::Point*) { return false; }

void screenSize(std::int32_t* width, std::int32_t* height) {
    *width = 0;
    *height = 0;
}

plat::StartResult start(const plat::DrawTarget& target, plat::Window*) {
    if (target.kind == plat::DrawTarget::CommandLine) return plat::StartResult::CommandLine;
    plat::WriteDiagnostic(plat::DiagnosticStream::Error,
                          "rovanta: cannot draw into another window: this build has no display "
                          "layer\n");
    return plat::StartResult::Failed;
}

// No registry, no libraries by name: the core's answers for a system
// without them.
const linuxplat::Backend kBackend{
    .name = "no display",
    .nowMs = nowMs,
    .sleep = sleepMs,
    .pollEvents = pollEvents,
    .waitEvents = waitEvents,
    .createWindow = createWindow,
    .destroyWindow = destroyWindow,
    .fillClientBlack = fillClientBlack,
    .present = present,
    .messageBox = messageBox,
    .showDialog = showDialog,
    .hideDialog = hideDialog,
    .chooseOpenFile = chooseOpenFile,
    .hideCursor = hideCursor,
    .cursorPos = cursorPos,
    .screenSize = screenSize,
    .start = start,
};

}  // namespace

const linuxplat::Backend& linuxplat::activeBackend() { return kBackend; }
