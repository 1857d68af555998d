// Where the program starts: the command tail, the mode it selects, and each
// mode run to its end.
//
//   kSaverClassName .. kNoModeExitCode   the class, titles, resources, exit code
//   HostMode, ModeChoice  what a command tail selects
//   hostEntry          the process entry; never returns
//   hostMain           record the instance and family, pick and run the mode
//   commandTail        the command line without the program name (pure)
//   chooseMode         the mode a tail selects (pure)
//   parseWindowHandle  a decimal window handle at the start of a text
//   runSaverWindow     full screen (no parent) or preview inside parent
//   runConfigDialog    the configuration dialog
//   runChangePassword  the owner from the text, then changeSaverPassword
//   changeSaverPassword  the platform's password-change dialog (Windows 95 family)
#pragma once

#include <cstdint>

#include "platform/platform.h"

inline constexpr const char* kSaverClassName = "WindowsScreenSaverClass";
inline constexpr const char* kFullScreenTitle = "Screen Saver";
inline constexpr const char* kPreviewTitle = "Preview";
inline constexpr int kConfigDialogTemplateId = 2003;
inline constexpr int kClassIconResource = 100;
inline constexpr std::int32_t kNoModeExitCode = -1;

enum class HostMode {
    ConfigureUnowned,  // empty tail
    ConfigureOwned,    // "c": owned by the foreground window
    FullScreen,        // "s"
    Preview,           // "p" or "l" followed by the parent's handle
    ChangePassword,    // "a" on the Windows 95 family, followed by the owner's handle
    None,              // anything else: exit with -1
};

struct ModeChoice {
    HostMode mode;
    const char* rest;  // for Preview and ChangePassword: where the handle starts
};

[[noreturn]] void hostEntry();
std::int32_t hostMain(plat::Module instance, const char* commandTail);

const char* commandTail(const char* commandLine,
                        const char* (*charNext)(const char*) = plat::CharNextA);
ModeChoice chooseMode(const char* tail, bool win95Family);
std::uint32_t parseWindowHandle(const char* text);

std::int32_t runSaverWindow(plat::Window parent);
std::int32_t runConfigDialog(plat::Window owner);
std::int32_t runChangePassword(const char* text);
void changeSaverPassword(plat::Window owner);
