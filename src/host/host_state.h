// The host's process-wide record and the entry points of the optional system
// libraries it reaches by name.
//
//   VerifyPasswordProc, ImmAssociateContextProc, PwdChangePasswordProc
//                 the entry points' types
//   kNoCheckYet   lastCheckTick before the first password check
//   HostState     the record; hostState its one instance
#pragma once

#include <cstdint>

#include "platform/platform.h"

// "VerifyScreenSavePwd" in "PASSWORD.CPL": nonzero when the saver may close.
using VerifyPasswordProc = std::int32_t(PLATFORM_API*)(plat::Window window);
// "ImmAssociateContext" in "IMM32.DLL": the context that was associated before.
using ImmAssociateContextProc = std::uintptr_t(PLATFORM_API*)(plat::Window window,
                                                              std::uintptr_t inputContext);
// "PwdChangePasswordA" in "MPR.DLL".
using PwdChangePasswordProc = std::uint32_t(PLATFORM_API*)(const char* provider,
                                                           plat::Window owner,
                                                           std::uint32_t reserved1,
                                                           void* reserved2);

inline constexpr std::uint32_t kNoCheckYet = 0xFFFFFFFFu;

struct HostState {
    // Set by the entry before any window exists.
    plat::Module instance = 0;
    bool win95Family = false;
    bool isPreview = false;
    plat::Window saverWindow = 0;

    // Input and password check.
    std::int32_t closeApproved = 0;  // once nonzero, never changed again
    bool inPasswordCheck = false;
    plat::Module passwordModule = 0;
    VerifyPasswordProc verifyPassword = nullptr;
    plat::Module immModule = 0;
    ImmAssociateContextProc immAssociateContext = nullptr;
    std::uintptr_t savedInputContext = 0;
    plat::Point referenceCursor = {0, 0};
    std::uint32_t lastCheckTick = kNoCheckYet;
};

extern HostState hostState;
