// Linux program entry support of the desktop platform, beyond platform.h.
#pragma once

namespace desktop {

// Call after plat::linuxSetArguments. When the arguments hold the switches
// the XScreenSaver daemon or its settings program start a hack with
// (-root/--root, -window-id ID/--window-id ID), the command line becomes the
// host's preview route into that window, and message boxes go to stderr.
// Also puts the clean ending on SIGTERM, SIGINT and SIGHUP in place, for
// every mode. True when the arguments were a hack's.
bool applyHackArguments(int argc, char** argv);

}  // namespace desktop
