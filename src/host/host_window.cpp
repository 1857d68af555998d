#include "host/host_window.h"

#include <cstdlib>

#include "render/saver_window.h"

HostState hostState;

namespace {

plat::LResult passOn(plat::Window window, std::uint32_t message, plat::WParam wParam,
                     plat::LParam lParam) {
    return SaverWindowProc(window, message, wParam, lParam);
}

void postClose(plat::Window window) { plat::PostMessageA(window, plat::WM_CLOSE, 0, 0); }

plat::Point cursorNow() {
    plat::Point p{0, 0};
    plat::GetCursorPos(&p);
    return p;
}

// Small movements add up against a fixed reference, so a slow drift still
// ends the saver once it has wandered far enough.
void applyMovementRule(plat::Window window) {
    const plat::Point now = cursorNow();
    const std::int64_t d =
        std::llabs(static_cast<std::int64_t>(now.x) - hostState.referenceCursor.x) +
        std::llabs(static_cast<std::int64_t>(now.y) - hostState.referenceCursor.y);
    if (d > mouseMoveThreshold) {
        postClose(window);
        hostState.referenceCursor = now;
    }
}

void forwardToPreviewParent(plat::Window window, std::uint32_t message, plat::LParam lParam) {
    const plat::Window parent = plat::GetParent(window);
    if (parent != 0 && plat::IsWindow(parent))
        plat::PostMessageA(parent, message, static_cast<plat::WParam>(parent), lParam);
}

}  // namespace

plat::LResult HostWindowProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                             plat::LParam lParam) {
    switch (message) {
    case plat::WM_CREATE: {
        // Only an input method that is already present is detached; loading
        // one just to switch it off would be pointless.
        const plat::Module imm = plat::GetModuleHandleA("IMM32.DLL");
        if (imm != 0) {
            hostState.immModule = imm;
            void* proc = plat::GetProcAddress(imm, "ImmAssociateContext");
            if (proc != nullptr) {
                hostState.immAssociateContext = reinterpret_cast<ImmAssociateContextProc>(proc);
                hostState.savedInputContext = hostState.immAssociateContext(window, 0);
            }
        }
        hostState.referenceCursor = cursorNow();
        if (!hostState.isPreview) plat::SetCursorNull();
        return passOn(window, message, wParam, lParam);
    }
    case plat::WM_DESTROY:
        if (hostState.immModule != 0 && hostState.immAssociateContext != nullptr &&
            hostState.savedInputContext != 0)
            hostState.immAssociateContext(window, hostState.savedInputContext);
        plat::PostQuitMessage(0);
        return passOn(window, message, wParam, lParam);
    case plat::WM_SETTEXT:
        return 0;
    case plat::WM_PAINT:
        if (hostState.closeApproved) return plat::DefWindowProcA(window, message, wParam, lParam);
        if (!hostState.isPreview) plat::SetCursorNull();
        return passOn(window, message, wParam, lParam);
    case plat::WM_HELP:
    case plat::WM_CONTEXTMENU:
        if (hostState.isPreview) {
            forwardToPreviewParent(window, message, lParam);
            return 1;
        }
        return passOn(window, message, wParam, lParam);
    case plat::WM_KEYDOWN:
    case plat::WM_SYSKEYDOWN:
    case plat::WM_MOUSEMOVE:
    case plat::WM_LBUTTONDOWN:
    case plat::WM_RBUTTONDOWN:
    case plat::WM_MBUTTONDOWN:
        if (hostState.closeApproved) return plat::DefWindowProcA(window, message, wParam, lParam);
        return passOn(window, message, wParam, lParam);
    case plat::WM_SYSCOMMAND:
        if (!hostState.isPreview && (wParam == plat::SC_NEXTWINDOW ||
                                     wParam == plat::SC_PREVWINDOW ||
                                     wParam == plat::SC_SCREENSAVE))
            return 0;
        return passOn(window, message, wParam, lParam);
    case plat::WM_TIMER:
        if (hostState.closeApproved) return 0;
        plat::Sleep(0);
        return passOn(window, message, wParam, lParam);
    default:
        return passOn(window, message, wParam, lParam);
    }
}

plat::LResult HostDefaultProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                              plat::LParam lParam) {
    if (hostState.isPreview || hostState.closeApproved)
        return plat::DefWindowProcA(window, message, wParam, lParam);

    if (message == plat::WM_CLOSE) {
        if (!hostState.win95Family) return plat::DefWindowProcA(window, message, wParam, lParam);
        if (checkClosePassword(window))
            return plat::DefWindowProcA(window, message, wParam, lParam);
        hostState.referenceCursor = cursorNow();
        return 0;
    }

    if (message == WM_VERIFY_PASSWORD) {
        if (!hostState.win95Family) return plat::DefWindowProcA(window, message, wParam, lParam);
        if (hostState.verifyPassword != nullptr) return hostState.verifyPassword(window);
        return 1;
    }

    // While the verifier asks, input belongs to it, not to us.
    if (hostState.inPasswordCheck) return plat::DefWindowProcA(window, message, wParam, lParam);

    switch (message) {
    case plat::WM_SHOWWINDOW:
        if (wParam != 0) plat::SetCursorNull();
        break;
    case plat::WM_ACTIVATEAPP:
        if (wParam == 0) postClose(window);
        break;
    case plat::WM_SETCURSOR:
        plat::SetCursorNull();
        return 1;
    case plat::WM_KEYDOWN:
    case plat::WM_SYSKEYDOWN:
    case plat::WM_LBUTTONDOWN:
    case plat::WM_RBUTTONDOWN:
    case plat::WM_MBUTTONDOWN:
        postClose(window);
        break;
    case plat::WM_MOUSEMOVE:
        applyMovementRule(window);
        break;
    default:
        break;
    }
    return plat::DefWindowProcA(window, message, wParam, lParam);
}

std::int32_t checkClosePassword(plat::Window window) {
    if (hostState.inPasswordCheck) return 0;
    if (hostState.verifyPassword == nullptr) {
        hostState.closeApproved = 1;
        return 1;
    }
    const std::uint32_t now = plat::GetTickCount();
    // Unsigned subtraction keeps the pause right across the tick count's wrap.
    if (hostState.lastCheckTick != kNoCheckYet &&
        static_cast<std::uint32_t>(now - hostState.lastCheckTick) < passwordRecheckInterval)
        return 0;

    hostState.inPasswordCheck = true;
    // Ticks queued up behind the close request would only redraw a cube the
    // user is about to leave; the verifier's own loop gets the time instead.
    plat::Msg pending{};
    plat::PeekMessageA(&pending, window, plat::WM_TIMER, plat::WM_TIMER,
                       plat::PM_REMOVE | plat::PM_NOYIELD);
    plat::PeekMessageA(&pending, window, plat::WM_TIMER, plat::WM_TIMER,
                       plat::PM_REMOVE | plat::PM_NOYIELD);
    hostState.closeApproved =
        static_cast<std::int32_t>(plat::SendMessageA(window, WM_VERIFY_PASSWORD, 0, 0));
    hostState.inPasswordCheck = false;
    if (hostState.closeApproved == 0) plat::SetCursorNull();
    hostState.lastCheckTick = plat::GetTickCount();
    return hostState.closeApproved;
}

void loadPasswordVerifier() {
    if (!hostState.win95Family) return;
    if (hostState.passwordModule != 0) unloadPasswordVerifier();

    plat::Key desktop = 0;
    if (plat::RegOpenKeyA(plat::HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop) != 0)
        return;
    // A value shorter than 4 bytes fills only the low bytes; the rest stays 0.
    std::uint8_t bytes[4] = {0, 0, 0, 0};
    std::uint32_t size = sizeof bytes;
    std::uint32_t type = 0;
    if (plat::RegQueryValueExA(desktop, "ScreenSaveUsePassword", &type, bytes, &size) == 0) {
        const std::uint32_t usePassword = static_cast<std::uint32_t>(bytes[0]) |
                                          static_cast<std::uint32_t>(bytes[1]) << 8 |
                                          static_cast<std::uint32_t>(bytes[2]) << 16 |
                                          static_cast<std::uint32_t>(bytes[3]) << 24;
        if (usePassword != 0) {
            hostState.passwordModule = plat::LoadLibraryA("PASSWORD.CPL");
            if (hostState.passwordModule != 0) {
                void* proc = plat::GetProcAddress(hostState.passwordModule, "VerifyScreenSavePwd");
                hostState.verifyPassword = reinterpret_cast<VerifyPasswordProc>(proc);
                if (hostState.verifyPassword != nullptr)
                    setScreenSaverRunning(true);
                else
                    unloadPasswordVerifier();
            }
        }
    }
    plat::RegCloseKey(desktop);
}

void unloadPasswordVerifier() {
    if (!hostState.win95Family || hostState.passwordModule == 0) return;
    plat::FreeLibrary(hostState.passwordModule);
    hostState.passwordModule = 0;
    if (hostState.verifyPassword != nullptr) {
        hostState.verifyPassword = nullptr;
        setScreenSaverRunning(false);
    }
}

void setScreenSaverRunning(bool on) {
    if (!hostState.win95Family) return;
    std::uint32_t previous = 0;
    plat::SystemParametersInfoA(plat::SPI_SCREENSAVERRUNNING, on ? 1u : 0u, &previous, 0);
}
