#include "platform/desktop/hack_args.h"

#include <cstring>

namespace desktop {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

int digitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    return v < base ? v : -1;
}

bool isSwitch(const char* arg, const char* name) {
    // Both the X toolkit's single dash and the GNU double dash are in use.
    if (arg[0] != '-') return false;
    const char* p = arg[1] == '-' ? arg + 2 : arg + 1;
    return std::strcmp(p, name) == 0;
}

const char* switchValue(const char* arg, const char* name) {
    if (std::strncmp(arg, "--", 2) != 0) return nullptr;
    const std::size_t n = std::strlen(name);
    if (std::strncmp(arg + 2, name, n) != 0 || arg[2 + n] != '=') return nullptr;
    return arg + 3 + n;
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

bool hackOptionTakesValue(const char* arg) {
    // Ours (the settings for one run) and the daemon's that we ignore; their
    // values are never read as switches.
    static constexpr const char* kWithValue[] = {
        "side1", "side2", "side3", "side4", "side5", "side6", "speed",  "reduce",
        "rotation", "visual", "geometry", "display", "delay", "window-id"};
    for (const char* name : kWithValue)
        if (isSwitch(arg, name)) return true;
    return false;
}

HackArguments scanHackArguments(int argc, const char* const* argv, const char* envWindow) {
    HackArguments out;
    bool root = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg == nullptr) continue;
        const char* value = switchValue(arg, "window-id");
        if (value == nullptr && isSwitch(arg, "window-id"))
            value = i + 1 < argc && argv[i + 1] != nullptr ? argv[i + 1] : "";
        if (value != nullptr) {
            // A window named outright wins over --root wherever it stands.
            out.route = HackRoute::WindowId;
            out.windowGiven = true;
            if (!parseXWindowId(value, &out.window)) out.window = 0;
            return out;
        }
        if (isSwitch(arg, "root")) root = true;
        if (hackOptionTakesValue(arg)) ++i;
    }
    if (root) {
        out.route = HackRoute::Root;
        // An unusable variable is no reason to draw on the whole screen:
        // the daemon named a window, we just could not read it.
        if (envWindow != nullptr && envWindow[0] != '\0') {
            out.windowGiven = true;
            if (!parseXWindowId(envWindow, &out.window)) out.window = 0;
        }
    }
    return out;
}

std::string previewTail(std::uint32_t window) { return "/p " + std::to_string(window); }

}  // namespace desktop
