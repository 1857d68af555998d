// Linux program entry support of the desktop platform, beyond platform.h.
#pragma once

namespace desktop {

enum class HackStart {
    NotAHack,  // no daemon switch: the host reads the arguments as they are
    Hack,      // the command line is now the preview of the hack's window
    Unusable,  // a hack's window that cannot be drawn in; one line on stderr
};

// Call after plat::linuxSetArguments. When the arguments hold the switches
// the XScreenSaver daemon or its settings program start a hack with
// (-root/--root, -window-id ID/--window-id ID), the command line becomes the
// host's preview route into that window, and message boxes go to stderr.
// Also puts the clean ending on SIGTERM, SIGINT and SIGHUP in place, for
// every mode.
HackStart applyHackArguments(int argc, char** argv);

}  // namespace desktop
