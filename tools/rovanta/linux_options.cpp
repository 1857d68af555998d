// The Linux program's own command line, read once before the host's mode
// scan: --help and --version, the daemon's window switches, and the hack's
// settings for one run.
#include "linux_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "settings/settings.h"

namespace {

constexpr const char* kUsage =
    "usage: rovanta [/s | /p ID | /c]\n"
    "       rovanta --root | --window-id ID [--side1 TEXT ... --side6 TEXT]\n"
    "               [--speed N] [--reduce N] [--rotation N] [--delay USEC] [--fps]\n"
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
    "                  a side for this run: a JPEG path, \"#rrggbb\" or \"$none\";\n"
    "                  an empty TEXT is an empty side, as \"$none\"\n"
    "  --speed N       Rotation Speed (point stride), 1 to 10, for this run\n"
    "  --reduce N      Reduce Images by, 1 to 10, for this run; without it the\n"
    "                  cube is reduced until it fits the window\n"
    "  --rotation N    Maximum Cube Rotation, 1 to 90 degrees, for this run\n"
    "  --delay USEC    microseconds between frames, 10000 to 1000000 (50000)\n"
    "  --fps           show the frame rate\n"
    "\n"
    "Settings file: $XDG_CONFIG_HOME/rovanta/rovanta.cfg\n"
    "  (~/.config/rovanta/rovanta.cfg when XDG_CONFIG_HOME is unset);\n"
    "  ROVANTA_CONFIG=FILE names another file for every mode.\n";

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int digitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

// "-name" or "--name": both the X toolkit's single dash and the GNU double
// dash are in use.
bool isSwitch(const char* arg, const char* name) {
    if (arg[0] != '-') return false;
    return std::strcmp(arg[1] == '-' ? arg + 2 : arg + 1, name) == 0;
}

// The value of "--name=VALUE", else null.
const char* switchValue(const char* arg, const char* name) {
    if (std::strncmp(arg, "--", 2) != 0) return nullptr;
    const std::size_t n = std::strlen(name);
    if (std::strncmp(arg + 2, name, n) != 0 || arg[2 + n] != '=') return nullptr;
    return arg + 3 + n;
}

// A switch whose value is the next argument: ours (the settings for one run),
// the daemon's that we ignore, and -window-id. Their values are never read as
// switches.
bool takesValue(const char* arg) {
    static constexpr const char* kWithValue[] = {
        "side1", "side2", "side3", "side4", "side5", "side6", "speed",  "reduce",
        "rotation", "visual", "geometry", "display", "delay", "window-id"};
    for (const char* name : kWithValue)
        if (isSwitch(arg, name)) return true;
    return false;
}

// A whole decimal number within low..high; otherwise a complaint and the
// settings file's value (-1).
// True when `text` is a whole decimal number within low..high, in *value.
bool wholeNumberWithin(const char* text, long low, long high, long* value) {
    if (text == nullptr || text[0] == '\0') return false;
    char* end = nullptr;
    errno = 0;
    *value = std::strtol(text, &end, 10);
    return *end == '\0' && errno == 0 && *value >= low && *value <= high;
}

std::int32_t rangedNumber(const char* option, const char* text, long low, long high,
                          const char* what, std::string* complaints) {
    long value = 0;
    if (!wholeNumberWithin(text, low, high, &value)) {
        char line[512];
        std::snprintf(line, sizeof line,
                      "rovanta: %s wants %s from %ld to %ld, not \"%s\"; the settings file's "
                      "value is used\n",
                      option, what, low, high, text ? text : "");
        *complaints += line;
        return -1;
    }
    return static_cast<std::int32_t>(value);
}

// --sideN TEXT: false when `arg` is no side switch.
bool readSide(const char* arg, const char* value, LinuxOptions* options) {
    for (std::size_t side = 0; side < kSideCount; ++side) {
        const char name[] = {'s', 'i', 'd', 'e', static_cast<char>('1' + side), '\0'};
        if (!isSwitch(arg, name)) continue;
        if (value == nullptr || std::strlen(value) >= kSideTextSize) {
            char line[512];
            std::snprintf(line, sizeof line,
                          "rovanta: %s wants a side text of at most %zu characters; the "
                          "settings file's side is used\n",
                          arg, kSideTextSize - 1);
            options->complaints += line;
        } else {
            // The daemon runs the line through a shell, where the settings
            // program's "$none" expands to nothing: an empty value can only
            // have come from there, as a blank field passes no option.
            options->run.sides[side] = value[0] != '\0' ? value : "$none";
        }
        return true;
    }
    return false;
}

// --delay USEC, as stock hacks take it: the tick in milliseconds, or a
// complaint and the default tick.
std::uint32_t framePeriodOf(const char* option, const char* text, std::string* complaints) {
    constexpr long kLowest = 10000, kHighest = 1000000;
    long value = 0;
    if (!wholeNumberWithin(text, kLowest, kHighest, &value)) {
        char line[512];
        std::snprintf(line, sizeof line,
                      "rovanta: %s wants microseconds from %ld to %ld, not \"%s\"; frames "
                      "come every %u ms\n",
                      option, kLowest, kHighest, text ? text : "",
                      static_cast<unsigned>(kFramePeriodMs));
        *complaints += line;
        return kFramePeriodMs;
    }
    return static_cast<std::uint32_t>((value + 500) / 1000);
}

}  // namespace

bool parseXWindowId(const char* text, std::uint32_t* id) {
    if (text == nullptr) return false;
    const char* p = text;
    while (isBlank(*p)) ++p;
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    std::uint64_t value = 0;
    int digits = 0;
    for (int d; (d = digitValue(*p, base)) >= 0; ++p, ++digits) {
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (value > 0xFFFFFFFFu) return false;
    }
    while (isBlank(*p)) ++p;
    if (digits == 0 || *p != '\0') return false;
    *id = static_cast<std::uint32_t>(value);
    return true;
}

void readLinuxOptions(int argc, const char* const* argv, const char* envWindow,
                      LinuxOptions* options) {
    LinuxOptions& o = *options;
    o = LinuxOptions{};
    o.envWindow = envWindow;
    // Answered before the mode scan ever sees them: that scan would read
    // "--help" as a mode letter 'h' and end with 255.
    if (argc >= 2 && argv[1] != nullptr) {
        if (std::strcmp(argv[1], "--help") == 0) o.information = Information::Help;
        if (std::strcmp(argv[1], "--version") == 0) o.information = Information::Version;
        if (o.information != Information::None) return;
    }
    bool root = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg == nullptr) continue;
        if (isSwitch(arg, "fps")) {
            o.run.showFrameRate = true;
            continue;
        }
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        const char* windowText = switchValue(arg, "window-id");
        if (windowText == nullptr && isSwitch(arg, "window-id"))
            windowText = value != nullptr ? value : "";
        if (windowText != nullptr) {
            // A window named outright wins over --root wherever it stands;
            // the first one named counts.
            if (o.route != HackRoute::WindowId) {
                o.route = HackRoute::WindowId;
                o.windowGiven = true;
                if (!parseXWindowId(windowText, &o.window)) o.window = 0;
            }
        } else if (isSwitch(arg, "root")) {
            root = true;
        } else if (isSwitch(arg, "speed")) {
            o.run.pointStep =
                rangedNumber(arg, value, kMinPointStep, kMaxPointStep, "a point stride",
                             &o.complaints);
        } else if (isSwitch(arg, "reduce")) {
            o.run.reduceFactor = rangedNumber(arg, value, kMinReduceFactor, kMaxReduceFactor,
                                              "a reduction", &o.complaints);
        } else if (isSwitch(arg, "rotation")) {
            o.run.maxRotationDegrees = rangedNumber(arg, value, kMinRotationDegrees,
                                                    kMaxRotationDegrees, "degrees",
                                                    &o.complaints);
        } else if (isSwitch(arg, "delay")) {
            o.run.framePeriodMs = framePeriodOf(arg, value, &o.complaints);
        } else {
            readSide(arg, value, &o);
        }
        if (takesValue(arg)) ++i;
    }
    if (root && o.route != HackRoute::WindowId) {
        o.route = HackRoute::Root;
        // An unusable variable is no reason to draw on the whole screen:
        // the daemon named a window, we just could not read it.
        if (envWindow != nullptr && envWindow[0] != '\0') {
            o.windowGiven = true;
            if (!parseXWindowId(envWindow, &o.window)) o.window = 0;
        }
    }
}

int answerInformation(Information information) {
    if (information == Information::Help)
        std::fputs(kUsage, stdout);
    else
        std::puts("rovanta 1.2");
    return std::fflush(stdout) == 0 ? 0 : 1;
}

void reportNoMode() {
    // The usage's first lines: the forms of the command, not every option.
    const char* end = std::strstr(kUsage, "\n\n");
    plat::WriteDiagnostic(plat::DiagnosticStream::Error, "%.*s\n(rovanta --help lists every option)\n",
                          static_cast<int>(end - kUsage), kUsage);
}

void reportUnusableWindow(const LinuxOptions& options) {
    if (options.route == HackRoute::Root)
        plat::WriteDiagnostic(plat::DiagnosticStream::Error,
                              "rovanta: XSCREENSAVER_WINDOW=\"%s\" is not a usable window\n",
                              options.envWindow ? options.envWindow : "");
    else if (options.window == 0)
        plat::WriteDiagnostic(plat::DiagnosticStream::Error,
                              "rovanta: --window-id needs the id of a window\n");
    else
        plat::WriteDiagnostic(plat::DiagnosticStream::Error,
                              "rovanta: window 0x%lx is not a usable window\n",
                              static_cast<unsigned long>(options.window));
}

plat::DrawTarget drawTargetOf(const LinuxOptions& options) {
    switch (options.route) {
    case HackRoute::None:
        return plat::DrawTarget{plat::DrawTarget::CommandLine, 0};
    case HackRoute::Root:
        if (!options.windowGiven) return plat::DrawTarget{plat::DrawTarget::RootWindow, 0};
        break;
    case HackRoute::WindowId:
        break;
    }
    return plat::DrawTarget{plat::DrawTarget::GivenWindow, options.window};
}

void applyRunOptions(const LinuxOptions& options) {
    SaverRunOptions& run = saverRunOptions;
    run.hack = true;
    run.showFrameRate = options.run.showFrameRate;
    for (std::size_t side = 0; side < kSideCount; ++side) run.sides[side] = options.run.sides[side];
    run.pointStep = options.run.pointStep;
    run.reduceFactor = options.run.reduceFactor;
    run.maxRotationDegrees = options.run.maxRotationDegrees;
    run.framePeriodMs = options.run.framePeriodMs;
    if (!options.complaints.empty())
        plat::WriteDiagnostic(plat::DiagnosticStream::Error, "%s", options.complaints.c_str());
}
