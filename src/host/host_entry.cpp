#include "host/host_entry.h"

#include "host/config_dialog.h"
#include "host/host_state.h"
#include "host/host_window.h"
#include "host/saver_window.h"
#include "render/cube_renderer.h"

namespace {

bool isSpaceOrControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x01 && byte <= 0x20;
}

const char* skipSpaces(const char* p) {
    while (*p == ' ') ++p;
    return p;
}

std::int32_t runMode(const char* tail) {
    const ModeChoice choice = chooseMode(tail, hostState.win95Family);
    switch (choice.mode) {
    case HostMode::ConfigureUnowned:
        return runConfigDialog(0);
    case HostMode::ConfigureOwned:
        return runConfigDialog(plat::GetForegroundWindow());
    case HostMode::FullScreen:
        return runSaverWindow(0);
    case HostMode::Preview: {
        const plat::Window parent = parseWindowHandle(choice.rest);
        if (parent == 0 || !plat::IsWindow(parent)) return kNoModeExitCode;
        return runSaverWindow(parent);
    }
    case HostMode::ChangePassword:
        return runChangePassword(choice.rest);
    case HostMode::None:
        break;
    }
    return kNoModeExitCode;
}

std::int32_t guardedBody(void* context) { return runMode(static_cast<const char*>(context)); }

// Runs in a signal handler on Linux: only the platform call, nothing else.
void onGuardedFault() { setScreenSaverRunning(false); }

}  // namespace

const char* commandTail(const char* commandLine, const char* (*charNext)(const char*)) {
    const char* p = commandLine;
    if (p == nullptr) return "";
    if (*p == '"') {
        do {
            p = charNext(p);
        } while (*p != '\0' && *p != '"');
        if (*p == '"') p = charNext(p);
    } else {
        while (static_cast<unsigned char>(*p) > 0x20) p = charNext(p);
    }
    while (isSpaceOrControl(*p)) ++p;
    return p;
}

ModeChoice chooseMode(const char* tail, bool win95Family) {
    const char* p = tail;
    // Bytes above 0x7F are compared as signed, so they never match a letter.
    for (;; ++p) {
        const auto c = static_cast<signed char>(*p);
        switch (c) {
        case ' ':
        case '-':
        case '/':
            continue;
        case '\0':
            return {HostMode::ConfigureUnowned, p};
        case 'C':
        case 'c':
            return {HostMode::ConfigureOwned, p + 1};
        case 'S':
        case 's':
            return {HostMode::FullScreen, p + 1};
        case 'P':
        case 'p':
        case 'L':
        case 'l':
            return {HostMode::Preview, skipSpaces(p + 1)};
        case 'A':
        case 'a':
            if (win95Family) return {HostMode::ChangePassword, skipSpaces(p + 1)};
            return {HostMode::None, p};
        default:
            return {HostMode::None, p};
        }
    }
}

std::uint32_t parseWindowHandle(const char* text) {
    std::uint32_t value = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + static_cast<std::uint32_t>(*p - '0');
    return value;
}

void hostEntry() {
    const char* tail = commandTail(plat::GetCommandLineA());
    const std::int32_t code = hostMain(plat::GetModuleHandleA(nullptr), tail);
    plat::ExitProcess(static_cast<std::uint32_t>(code));
}

std::int32_t hostMain(plat::Module instance, const char* tail) {
    // First of all: nothing may run the renderer's SSE2 build before the
    // processor has been asked whether it has SSE2.
    chooseRendererPath();
    hostState.instance = instance;
    std::uint32_t platformId = 0;
    hostState.win95Family = plat::GetVersionPlatformId(&platformId) &&
                            platformId == plat::VER_PLATFORM_WIN32_WINDOWS;
    return plat::RunUnderFaultGuard(guardedBody, const_cast<char*>(tail), onGuardedFault);
}

std::int32_t runConfigDialog(plat::Window owner) {
    if (!prepareConfigDialog(hostState.instance)) return 0;
    std::intptr_t result = plat::DialogBoxParamA(hostState.instance, kConfigDialogTemplateId,
                                                 owner, ConfigDialogProc, 0);
    // The front window may be one on its way out (another program's dialog
    // just cancelled): no owner is better than no dialog. A dialog ended by a
    // termination request also gives -1, and must not come back.
    if (result == -1 && owner != 0 && !plat::StopRequested())
        result = plat::DialogBoxParamA(hostState.instance, kConfigDialogTemplateId, 0,
                                       ConfigDialogProc, 0);
    return static_cast<std::int32_t>(result);
}

std::int32_t runChangePassword(const char* text) {
    const plat::Window given = parseWindowHandle(text);
    const plat::Window owner =
        (given != 0 && plat::IsWindow(given)) ? given : plat::GetForegroundWindow();
    changeSaverPassword(owner);
    return 0;
}

void changeSaverPassword(plat::Window owner) {
    const plat::Module mpr = plat::LoadLibraryA("MPR.DLL");
    if (mpr == 0) return;
    void* proc = plat::GetProcAddress(mpr, "PwdChangePasswordA");
    if (proc != nullptr)
        reinterpret_cast<PwdChangePasswordProc>(proc)("SCRSAVE", owner, 0, nullptr);
    plat::FreeLibrary(mpr);
}

std::int32_t runSaverWindow(plat::Window parent) {
    const plat::WindowClass windowClass{
        plat::CS_VREDRAW | plat::CS_HREDRAW | plat::CS_DBLCLKS | plat::CS_OWNDC,
        HostWindowProc, hostState.instance, kClassIconResource, kSaverClassName};

    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    const char* title = nullptr;
    if (parent != 0) {
        plat::Rect client{0, 0, 0, 0};
        plat::GetClientRect(parent, &client);
        width = client.right;
        height = client.bottom;
        hostState.isPreview = true;
        style = plat::WS_CHILD | plat::WS_VISIBLE | plat::WS_CLIPCHILDREN;
        title = kPreviewTitle;
    } else {
        width = plat::GetSystemMetrics(plat::SM_CXSCREEN);
        height = plat::GetSystemMetrics(plat::SM_CYSCREEN);
        style = plat::WS_POPUP | plat::WS_VISIBLE | plat::WS_CLIPSIBLINGS | plat::WS_CLIPCHILDREN;
        exStyle = plat::WS_EX_TOPMOST;
        title = kFullScreenTitle;

        const plat::Window running = plat::FindWindowA(kSaverClassName, kFullScreenTitle);
        if (running != 0 && plat::IsWindow(running)) {
            plat::SetForegroundWindow(running);
            return 0;
        }
        loadPasswordVerifier();
    }

    if (plat::RegisterClassA(windowClass))
        hostState.saverWindow = plat::CreateWindowExA(exStyle, kSaverClassName, title, style, 0, 0,
                                                      width, height, parent, hostState.instance);

    // No window means no quit message will ever come; the code is ours to pick.
    std::int32_t exitCode = kNoModeExitCode;
    if (hostState.saverWindow != 0) {
        if (parent == 0) plat::SetForegroundWindow(hostState.saverWindow);
        // A preview's host that is killed takes our window, and the window's
        // timer, with it, and no WM_DESTROY reaches this thread. A timer of
        // the thread's own outlives the window: at every tick it looks
        // whether both windows are still there, and ends the preview as
        // their destruction would. (Where windows have no such fate, the
        // platform gives no thread timer: 0.)
        const std::uintptr_t watch = parent != 0 ? plat::SetTimer(0, 0, kFramePeriodMs) : 0;
        bool hostGone = false;
        plat::Msg msg{};
        int got = 0;
        while ((got = plat::GetMessageA(&msg)) != 0) {
            // A failing fetch would fail again at once; spinning on it helps nobody.
            if (got == -1) break;
            if (watch != 0 && msg.window == 0 && msg.message == plat::WM_TIMER &&
                msg.wParam == watch) {
                if (!hostGone &&
                    (!plat::IsWindow(parent) || !plat::IsWindow(hostState.saverWindow))) {
                    hostGone = true;
                    HostWindowProc(hostState.saverWindow, plat::WM_DESTROY, 0, 0);
                }
                continue;
            }
            plat::TranslateMessage(&msg);
            plat::DispatchMessageA(&msg);
        }
        if (watch != 0) plat::KillTimer(0, watch);
        exitCode = got == 0 ? static_cast<std::int32_t>(msg.wParam) : kNoModeExitCode;
    }
    unloadPasswordVerifier();
    return exitCode;
}
