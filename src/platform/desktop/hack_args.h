// The switches the XScreenSaver daemon and its settings program start a hack
// with, read before the host's own mode scan. They select the preview route:
// draw into a window somebody else owns and leave input and locking to them.
#pragma once

#include <cstdint>
#include <string>

namespace desktop {

enum class HackRoute {
    None,      // no daemon switch: the host reads the arguments as they are
    Root,      // -root / --root: $XSCREENSAVER_WINDOW, else the root window
    WindowId,  // -window-id ID / --window-id ID / --window-id=ID
};

struct HackArguments {
    HackRoute route = HackRoute::None;
    // WindowId, or Root with a usable $XSCREENSAVER_WINDOW: the window.
    // 0 when the text named no window (the host then refuses the preview).
    std::uint32_t window = 0;
    bool windowGiven = false;  // Root: false means "the root window"
};

// "0x1c00007" (any letter case) or "29360135"; leading and trailing blanks
// are allowed, anything else, an empty text, or a value beyond 32 bits is not.
bool parseXWindowId(const char* text, std::uint32_t* id);

// argv[1..argc-1]: a window id wins over -root wherever either stands; the
// values of options that take one are skipped. envWindow is the value of
// XSCREENSAVER_WINDOW (null when unset).
HackArguments scanHackArguments(int argc, const char* const* argv, const char* envWindow);

// True for a switch whose value is the next argument: our per-run settings
// (--side1..--side6, --speed, --reduce, --rotation), the daemon's options we
// ignore (-visual, -geometry, -display, -delay) and -window-id.
bool hackOptionTakesValue(const char* arg);

// The tail the host's mode scan reads for a preview into `window`.
std::string previewTail(std::uint32_t window);

}  // namespace desktop
