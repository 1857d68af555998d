// The Linux program. The host takes it from here, exactly as on Windows: it
// reads the command line itself and ends the process with its exit code.
#include <cstdio>
#include <cstring>

#include "host/host_entry.h"
#include "platform/linux/linux_platform.h"
#if defined(ROVANTA_DESKTOP)
#include "platform/desktop/desktop.h"
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
    "  --rotation N    Maximum Cube Rotation, 0 to 360 degrees, for this run\n"
    "  --fps           show the frame rate\n"
    "\n"
    "Settings file: $XDG_CONFIG_HOME/rovanta/rovanta.cfg\n"
    "  (~/.config/rovanta/rovanta.cfg when XDG_CONFIG_HOME is unset);\n"
    "  ROVANTA_CONFIG=FILE names another file for every mode.\n";

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

}  // namespace

int main(int argc, char** argv) {
    int status = 0;
    if (answerInformationOption(argc, argv, &status)) return status;
    plat::linuxSetArguments(argc, argv);
#if defined(ROVANTA_DESKTOP)
    // The daemon's switches become the preview route before the host's mode
    // scan reads the command line.
    desktop::applyHackArguments(argc, argv);
#endif
    hostEntry();
}
