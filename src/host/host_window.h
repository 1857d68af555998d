// The host's window procedures: input turns into close requests, and on the
// Windows 95 family a close request first asks the platform's password
// verifier.
//
//   HostWindowProc          the class's procedure; the first stop of every message
//   HostDefaultProc         the last stop before the platform's default handling
//   checkClosePassword      may a close request go ahead?
//   loadPasswordVerifier    find the verifier when the desktop asks for a password
//   unloadPasswordVerifier  release it
//   setScreenSaverRunning   the platform's screen-saver-running state
#pragma once

#include <cstdint>

#include "host/host_state.h"
#include "platform/platform.h"

inline constexpr std::int32_t mouseMoveThreshold = 4;
inline constexpr std::uint32_t passwordRecheckInterval = 200;  // ms
inline constexpr std::uint32_t WM_VERIFY_PASSWORD = plat::WM_APP;

plat::LResult HostWindowProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                             plat::LParam lParam);
plat::LResult HostDefaultProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                              plat::LParam lParam);
std::int32_t checkClosePassword(plat::Window window);
void loadPasswordVerifier();
void unloadPasswordVerifier();
void setScreenSaverRunning(bool on);
