// The Linux program's own command line, read before the host's mode scan:
// --help and --version, and the hack's settings for one run.
#include "linux_options.h"

#include <signal.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/saver_window.h"
#include "platform/core/linux_platform.h"
#include "settings/settings.h"
#if defined(ROVANTA_DESKTOP)
#include "platform/desktop/hack_args.h"
#endif

namespace {

constexpr const char* kUsage =
    "usage: rovanta [/s | /p ID | /c]\n"
    "       rovanta --root | --window-id ID [--side1 TEXT ... --side6 TEXT]\n"
    "               [--speed N] [--reduce N] [--rotation N] [--fps]\n"
    "       rovanta --help | --version\n"
    "\n"
    "Modes:\n"
    "  /s              full screen; a key, a click or moving the mouse ends it\n"
    "  /p ID           preview inside the X window ID (decimal)\n"
    "  /c              the settings dialog (also with no argument)\n"
    "\n"
    "As a hack of the XScreenSaver daemon (nothing is written to the settings):\n"
    "  --root          draw into $XSCREENSAVER_WINDOW, else the root window\n"
    "  --window-id ID  draw into the X window ID (decimal or 0x hex)\n"
    "  --side1 TEXT .. --side6 TEXT\n"
    "                  a side for this run: a JPEG path, \"#rrggbb\" or \"$none\"\n"
    "  --speed N       Rotation Speed (point stride), 1 to 10, for this run\n"
    "  --reduce N      Reduce Images by, 1 to 10, for this run\n"
    "  --rotation N    Maximum Cube Rotation, 1 to 90 degrees, for this run\n"
    "  --fps           show the frame rate\n"
    "\n"
    "Settings file: $XDG_CONFIG_HOME/rovanta/rovanta.cfg\n"
    "  (~/.config/rovanta/rovanta.cfg when XDG_CONFIG_HOME is unset);\n"
    "  ROVANTA_CONFIG=FILE names another file for every mode.\n";

}  // namespace

// Our own options, answered before the Windows-shaped mode scan ever sees
// them: that scan would read "--help" as a mode letter 'h' and end with 255.
bool answerInformationOption(int argc, char** argv, int* status) {
    if (argc < 2 || argv[1] == nullptr) return false;
    if (std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
    } else if (std::strcmp(argv[1], "--version") == 0) {
        std::puts("rovanta 1.2");
    } else {
        return false;
    }
    *status = std::fflush(stdout) == 0 ? 0 : 1;
    return true;
}

#if defined(ROVANTA_DESKTOP)
// Runs at exit, after the tear-down: a termination signal that ended the run
// ends the process too, by its default action.
void endByTheTerminationSignal() {
    const int signal = linuxplat::terminationSignal();
    if (signal == 0) return;
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signal);
}

namespace {

// "-name" or "--name".
bool isOption(const char* arg, const char* name) {
    if (arg == nullptr || arg[0] != '-') return false;
    return std::strcmp(arg[1] == '-' ? arg + 2 : arg + 1, name) == 0;
}

// A whole decimal number within low..high; otherwise a line on stderr and
// the settings file's value (-1).
std::int32_t rangedNumber(const char* option, const char* text, long low, long high,
                          const char* what) {
    char* end = nullptr;
    errno = 0;
    const long value = text != nullptr && text[0] != '\0' ? std::strtol(text, &end, 10) : 0;
    if (text == nullptr || text[0] == '\0' || *end != '\0' || errno != 0 || value < low ||
        value > high) {
        std::fprintf(stderr,
                     "rovanta: %s wants %s from %ld to %ld, not \"%s\"; the settings file's "
                     "value is used\n",
                     option, what, low, high, text ? text : "");
        return -1;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

// The hack's options: settings for this run only, checked as the dialog
// checks them, and the frame rate. The daemon's own options and anything
// else are left alone; the window switches were read by the platform.
void readRunOptions(int argc, char** argv) {
    SaverRunOptions& run = saverRunOptions;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (isOption(arg, "fps")) {
            run.showFrameRate = true;
            continue;
        }
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        bool known = true;
        if (isOption(arg, "speed")) {
            run.pointStep = rangedNumber(arg, value, 1, 10, "a point stride");
        } else if (isOption(arg, "reduce")) {
            run.reduceFactor = rangedNumber(arg, value, 1, 10, "a reduction");
        } else if (isOption(arg, "rotation")) {
            run.maxRotationDegrees = rangedNumber(arg, value, 1, 90, "degrees");
        } else {
            known = false;
            for (std::size_t side = 0; side < kSideCount; ++side) {
                const char name[] = {'s', 'i', 'd', 'e', static_cast<char>('1' + side), '\0'};
                if (!isOption(arg, name)) continue;
                known = true;
                if (value == nullptr || std::strlen(value) >= kSideTextSize)
                    std::fprintf(stderr,
                                 "rovanta: %s wants a side text of at most %zu characters; the "
                                 "settings file's side is used\n",
                                 arg, kSideTextSize - 1);
                else if (value[0] != '\0')
                    run.sides[side] = value;
            }
        }
        if (known || desktop::hackOptionTakesValue(arg)) ++i;  // its value
    }
}
#endif

