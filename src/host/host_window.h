// The host's window procedures: input turns into close requests, and on the
// Windows 95 family a close request first asks the platform's password
// verifier.
//
//   kMouseMoveThreshold, kPasswordRecheckInterval, kVerifyPasswordMessage
//   HostWindowProc          the class's procedure; the first stop of every message
//   HostDefaultProc         the last stop before the platform's default handling
//   checkClosePassword      may a close request go ahead? true when it may
//   loadPasswordVerifier    find the verifier when the desktop asks for a password
//   unloadPasswordVerifier  release it
//   setScreenSaverRunning   the platform's screen-saver-running state
#pragma once

#include <cstdint>

#include "host/host_state.h"
#include "platform/platform.h"

inline constexpr std::int32_t kMouseMoveThreshold = 4;
inline constexpr std::uint32_t kPasswordRecheckInterval = 200;  // ms
// The private message that runs the verifier inside the window's own procedure.
inline constexpr std::uint32_t kVerifyPasswordMessage = plat::WM_APP;

plat::LResult HostWindowProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                             plat::LParam lParam);
plat::LResult HostDefaultProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                              plat::LParam lParam);
bool checkClosePassword(plat::Window window);
void loadPasswordVerifier();
void unloadPasswordVerifier();
void setScreenSaverRunning(bool on);
