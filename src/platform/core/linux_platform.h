// The Linux core's entry points beyond platform.h, for its backends and the
// tests: the command line, the dialog tables, the exit status, the
// termination signals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/dialog_resource.h"

namespace plat {

// StartLinuxProgram's first steps. The arguments GetCommandLineA is built
// from.
void linuxSetArguments(int argc, char** argv);
// DialogBoxParamA(templateId) builds the dialog from this table (which must
// live as long as the program). A template registered again replaces the
// earlier table; a reset of the platform keeps them all.
void linuxRegisterDialog(int templateId, const DialogTemplate& dialog);

}  // namespace plat

namespace linuxplat {

// The Win32-shaped command line for a program at exePath with these
// arguments: the path, in double quotes when a byte of it would end an
// unquoted program name (0x01..0x20), then each argument after one space.
std::string commandLineFor(const std::string& exePath, int argc, const char* const* argv);
// The table registered for a template id, or null.
const DialogTemplate* findDialogTemplate(int templateId);
// Replaces the command line outright (tests).
void setCommandLine(const std::string& text);
// The tail the host's mode scan reads for a preview into `window`: what the
// command line becomes when the program draws into another's window.
std::string previewTail(std::uint32_t window);

// The rules behind plat::SettingsFileLocation. ROVANTA_CONFIG's: a value
// that is set and not empty names the file; true then. The user's own:
// configHome/rovanta/rovanta.cfg, or home/.config/rovanta/rovanta.cfg when
// configHome (XDG_CONFIG_HOME) is unset or not absolute; false when neither
// is an absolute directory. home is HOME, or the password database's when
// HOME is no absolute directory. In both a path that does not fit leaves
// out empty.
bool settingsPathFromEnvironment(const char* value, char* out, std::size_t outSize);
bool settingsPathForUser(const char* configHome, const char* home, char* out,
                         std::size_t outSize);

// A Linux exit status holds 8 bits: -1 (no mode) stays recognisable as 255,
// and every other code is capped at 254 so that a large success value (the
// dialog's edge length) cannot be read as -1.
int exitStatusFor(std::uint32_t exitCode);

// SIGTERM, SIGINT and SIGHUP from now on only record the signal and make the
// returned descriptor readable (-1 when no pipe could be had); see
// core_signals.cpp. Repeated calls return the same descriptor.
int catchTerminationSignals();
// Empties that descriptor once its wake-up has been seen.
void drainTerminationWakeups();
// The termination signal caught last, 0 when none came. A mode that must end
// by the signal itself (rather than with an exit status) can, after its
// tear-down, restore the signal's default action and raise it again.
int terminationSignal();
// Registered with atexit: a termination signal that ended the run ends the
// process too, by the signal's default action, once the tear-down is done.
void endByTerminationSignal();

}  // namespace linuxplat
