// The Linux program's command line as the program itself reads it, once,
// before the host's Windows-shaped mode scan: --help and --version, and the
// switches the XScreenSaver daemon and its settings program start a hack with
// (where to draw, settings for this one run, the frame rate). The modes
// (/s, /p ID, /c) are left to the host.
//
//   HackRoute, Information, LinuxOptions   what the command line asked for
//   readLinuxOptions          read argv once into LinuxOptions
//   parseXWindowId            an X window id in decimal or 0x hex
//   answerInformation         print --help's or --version's answer
//   reportNoMode              the short usage for a tail that selects no mode
//   reportUnusableWindow      the one line that names a window we cannot use
//   drawTargetOf              what the platform is told about the window
//   applyRunOptions           the run's settings into the host's run options
#pragma once

#include <cstdint>
#include <string>

#include "host/saver_window.h"
#include "platform/platform.h"

enum class HackRoute {
    None,      // no daemon switch: the host reads the arguments as they are
    Root,      // -root / --root: $XSCREENSAVER_WINDOW, else the root window
    WindowId,  // -window-id ID / --window-id ID / --window-id=ID
};

enum class Information { None, Help, Version };

struct LinuxOptions {
    Information information = Information::None;  // --help / --version first
    HackRoute route = HackRoute::None;
    // WindowId, or Root with a usable $XSCREENSAVER_WINDOW: the window.
    // 0 when the text named no window (the start then refuses it).
    std::uint32_t window = 0;
    bool windowGiven = false;  // Root: false means "the root window"
    const char* envWindow = nullptr;  // $XSCREENSAVER_WINDOW as read, for messages
    // The hack's settings for this run, checked as the dialog checks them;
    // hack, seedMix stay as they are. Pointers point into argv.
    SaverRunOptions run;
    // One line per refused value; said only when the program runs as a hack.
    std::string complaints;
};

// argv[1..argc-1]: a window id wins over -root wherever either stands; the
// values of options that take one are skipped, whatever they look like.
// envWindow is the value of XSCREENSAVER_WINDOW (null when unset).
void readLinuxOptions(int argc, const char* const* argv, const char* envWindow,
                      LinuxOptions* options);

// "0x1c00007" (any letter case) or "29360135"; leading and trailing blanks
// are allowed, anything else, an empty text, or a value beyond 32 bits is not.
bool parseXWindowId(const char* text, std::uint32_t* id);

// Prints the answer; the exit status (1 when stdout could not take it).
int answerInformation(Information information);

// A short usage on stderr; the host still ends the run with its exit status.
void reportNoMode();

// The daemon logs what a hack says: names the window that cannot be used
// rather than end without a word.
void reportUnusableWindow(const LinuxOptions& options);

plat::DrawTarget drawTargetOf(const LinuxOptions& options);

// Makes the run a hack's: saverRunOptions takes the run's settings, and the
// refused values are said on stderr.
void applyRunOptions(const LinuxOptions& options);
