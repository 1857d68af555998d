#include "host/host_window.h"

#include <cstdlib>

#include "host/saver_window.h"

HostState hostState;

namespace {

// ---- Shared steps -------------------------------------------------------------

plat::LResult passOn(const plat::Msg& msg) {
    return SaverWindowProc(msg.window, msg.message, msg.wParam, msg.lParam);
}

plat::LResult defaultHandling(const plat::Msg& msg) {
    return plat::DefWindowProcA(msg.window, msg.message, msg.wParam, msg.lParam);
}

void postClose(plat::Window window) { plat::PostMessageA(window, plat::WM_CLOSE, 0, 0); }

plat::Point cursorNow() {
    plat::Point p{0, 0};
    plat::GetCursorPos(&p);
    return p;
}

// ---- HostWindowProc's handlers, the first stop ---------------------------------

// Only an input method that is already present is detached; loading one just
// to switch it off would be pointless.
plat::LResult onCreate(const plat::Msg& msg) {
    const plat::Module imm = plat::GetModuleHandleA("IMM32.DLL");
    if (imm != 0) {
        hostState.immModule = imm;
        void* proc = plat::GetProcAddress(imm, "ImmAssociateContext");
        if (proc != nullptr) {
            hostState.immAssociateContext = reinterpret_cast<ImmAssociateContextProc>(proc);
            hostState.savedInputContext = hostState.immAssociateContext(msg.window, 0);
        }
    }
    hostState.referenceCursor = cursorNow();
    if (!hostState.isPreview) plat::SetCursorNull();
    return passOn(msg);
}

// The input method gets its context back; the loop ends.
plat::LResult onDestroy(const plat::Msg& msg) {
    if (hostState.immModule != 0 && hostState.immAssociateContext != nullptr &&
        hostState.savedInputContext != 0)
        hostState.immAssociateContext(msg.window, hostState.savedInputContext);
    plat::PostQuitMessage(0);
    return passOn(msg);
}

plat::LResult onPaint(const plat::Msg& msg) {
    if (hostState.closeApproved) return defaultHandling(msg);
    if (!hostState.isPreview) plat::SetCursorNull();
    return passOn(msg);
}

// A preview hands help requests to the window it lives in.
plat::LResult onHelpRequest(const plat::Msg& msg) {
    if (!hostState.isPreview) return passOn(msg);
    const plat::Window parent = plat::GetParent(msg.window);
    if (parent != 0 && plat::IsWindow(parent))
        plat::PostMessageA(parent, msg.message, static_cast<plat::WParam>(parent), msg.lParam);
    return 1;
}

// Once the close is approved, input no longer reaches the saver.
plat::LResult onInput(const plat::Msg& msg) {
    if (hostState.closeApproved) return defaultHandling(msg);
    return passOn(msg);
}

// A full-screen saver keeps the system from switching away or starting
// another saver.
plat::LResult onSystemCommand(const plat::Msg& msg) {
    if (!hostState.isPreview &&
        (msg.wParam == plat::SC_NEXTWINDOW || msg.wParam == plat::SC_PREVWINDOW ||
         msg.wParam == plat::SC_SCREENSAVE))
        return 0;
    return passOn(msg);
}

// No more frames once the close is approved; otherwise others get a turn first.
plat::LResult onTimer(const plat::Msg& msg) {
    if (hostState.closeApproved) return 0;
    plat::Sleep(0);
    return passOn(msg);
}

// ---- HostDefaultProc's handlers, the last stop ----------------------------------
// While the verifier asks, input belongs to it, not to us: those handlers
// then leave the message to the default handling.

plat::LResult onCloseRequest(const plat::Msg& msg) {
    if (!hostState.win95Family) return defaultHandling(msg);
    if (checkClosePassword(msg.window)) return defaultHandling(msg);
    hostState.referenceCursor = cursorNow();
    return 0;
}

plat::LResult onVerifyPassword(const plat::Msg& msg) {
    if (!hostState.win95Family) return defaultHandling(msg);
    if (hostState.verifyPassword != nullptr) return hostState.verifyPassword(msg.window);
    return 1;
}

plat::LResult onShow(const plat::Msg& msg) {
    if (!hostState.inPasswordCheck && msg.wParam != 0) plat::SetCursorNull();
    return defaultHandling(msg);
}

plat::LResult onActivateApp(const plat::Msg& msg) {
    if (!hostState.inPasswordCheck && msg.wParam == 0) postClose(msg.window);
    return defaultHandling(msg);
}

plat::LResult onSetCursor(const plat::Msg& msg) {
    if (hostState.inPasswordCheck) return defaultHandling(msg);
    plat::SetCursorNull();
    return 1;
}

plat::LResult onKeyOrButton(const plat::Msg& msg) {
    if (!hostState.inPasswordCheck) postClose(msg.window);
    return defaultHandling(msg);
}

// Small movements add up against a fixed reference, so a slow drift still
// ends the saver once it has wandered far enough.
plat::LResult onMouseMove(const plat::Msg& msg) {
    if (hostState.inPasswordCheck) return defaultHandling(msg);
    const plat::Point now = cursorNow();
    const std::int64_t distance =
        std::llabs(static_cast<std::int64_t>(now.x) - hostState.referenceCursor.x) +
        std::llabs(static_cast<std::int64_t>(now.y) - hostState.referenceCursor.y);
    if (distance > kMouseMoveThreshold) {
        postClose(msg.window);
        hostState.referenceCursor = now;
    }
    return defaultHandling(msg);
}

}  // namespace

plat::LResult HostWindowProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                             plat::LParam lParam) {
    const plat::Msg msg{window, message, wParam, lParam};
    switch (message) {
    case plat::WM_CREATE:
        return onCreate(msg);
    case plat::WM_DESTROY:
        return onDestroy(msg);
    case plat::WM_SETTEXT:
        return 0;  // the title stays as created
    case plat::WM_PAINT:
        return onPaint(msg);
    case plat::WM_HELP:
    case plat::WM_CONTEXTMENU:
        return onHelpRequest(msg);
    case plat::WM_KEYDOWN:
    case plat::WM_SYSKEYDOWN:
    case plat::WM_MOUSEMOVE:
    case plat::WM_LBUTTONDOWN:
    case plat::WM_RBUTTONDOWN:
    case plat::WM_MBUTTONDOWN:
        return onInput(msg);
    case plat::WM_SYSCOMMAND:
        return onSystemCommand(msg);
    case plat::WM_TIMER:
        return onTimer(msg);
    default:
        return passOn(msg);
    }
}

plat::LResult HostDefaultProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                              plat::LParam lParam) {
    const plat::Msg msg{window, message, wParam, lParam};
    // A preview, and a saver whose close is approved, are plain windows.
    if (hostState.isPreview || hostState.closeApproved) return defaultHandling(msg);
    switch (message) {
    case plat::WM_CLOSE:
        return onCloseRequest(msg);
    case kVerifyPasswordMessage:
        return onVerifyPassword(msg);
    case plat::WM_SHOWWINDOW:
        return onShow(msg);
    case plat::WM_ACTIVATEAPP:
        return onActivateApp(msg);
    case plat::WM_SETCURSOR:
        return onSetCursor(msg);
    case plat::WM_KEYDOWN:
    case plat::WM_SYSKEYDOWN:
    case plat::WM_LBUTTONDOWN:
    case plat::WM_RBUTTONDOWN:
    case plat::WM_MBUTTONDOWN:
        return onKeyOrButton(msg);
    case plat::WM_MOUSEMOVE:
        return onMouseMove(msg);
    default:
        return defaultHandling(msg);
    }
}

bool checkClosePassword(plat::Window window) {
    if (hostState.inPasswordCheck) return false;
    if (hostState.verifyPassword == nullptr) {
        hostState.closeApproved = 1;
        return true;
    }
    const std::uint32_t now = plat::GetTickCount();
    // Unsigned subtraction keeps the pause right across the tick count's wrap.
    if (hostState.lastCheckTick != kNoCheckYet &&
        static_cast<std::uint32_t>(now - hostState.lastCheckTick) < kPasswordRecheckInterval)
        return false;

    hostState.inPasswordCheck = true;
    // Ticks queued up behind the close request would only redraw a cube the
    // user is about to leave; the verifier's own loop gets the time instead.
    plat::Msg pending{};
    plat::PeekMessageA(&pending, window, plat::WM_TIMER, plat::WM_TIMER,
                       plat::PM_REMOVE | plat::PM_NOYIELD);
    plat::PeekMessageA(&pending, window, plat::WM_TIMER, plat::WM_TIMER,
                       plat::PM_REMOVE | plat::PM_NOYIELD);
    hostState.closeApproved =
        static_cast<std::int32_t>(plat::SendMessageA(window, kVerifyPasswordMessage, 0, 0));
    hostState.inPasswordCheck = false;
    if (hostState.closeApproved == 0) plat::SetCursorNull();
    hostState.lastCheckTick = plat::GetTickCount();
    return hostState.closeApproved != 0;
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
