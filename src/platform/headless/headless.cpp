// The headless backend: a virtual clock, a timeline of scripted actions and
// records of everything the program showed, for tests.
#include "platform/headless/headless.h"
#include "platform/headless/headless_system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include <unistd.h>

#include "platform/core/backend.h"
#include "platform/core/linux_platform.h"

namespace {

constexpr std::uint64_t kDefaultTimeLimit = 60'000;
constexpr plat::Window kFirstHandle = 0x00010010;
constexpr std::uintptr_t kDefaultInputContext = 0x1C0;

struct ForeignWindow {
    std::int32_t width;
    std::int32_t height;
    std::string className;
    std::string title;
};

struct Scheduled {
    std::uint64_t time;
    std::uint64_t order;
    std::function<void()> action;
};

struct HeadlessState {
    std::uint64_t clock = 0;
    std::uint64_t timeLimit = kDefaultTimeLimit;
    std::vector<Scheduled> timeline;
    std::uint64_t nextOrder = 0;
    plat::Window nextHandle = kFirstHandle;
    std::map<plat::Window, ForeignWindow> foreign;
    std::int32_t screenWidth = 1024;
    std::int32_t screenHeight = 768;
    plat::Point cursor{0, 0};
    bool cursorHidden = false;
    int cursorHides = 0;

    std::vector<headless::MessageBoxRecord> boxes;
    int boxAnswer = plat::IDOK;
    bool boxEcho = false;
    std::function<void(const headless::MessageBoxRecord&)> boxHook;

    std::vector<headless::OpenFileRecord> openFiles;
    std::optional<std::string> openFileAnswer;

    std::function<void(plat::Window)> dialogScript;

    std::int32_t passwordAnswer = 1;
    std::function<void(plat::Window)> passwordHook;
    std::vector<plat::Window> verifyCalls;
    std::vector<headless::PasswordChangeCall> changeCalls;
    std::uintptr_t defaultContext = kDefaultInputContext;
    std::map<plat::Window, std::uintptr_t> contexts;
    std::vector<headless::InputContextCall> contextCalls;

    std::vector<plat::Msg> posted;
    int frames = 0;
    headless::Frame last{0, 0, 0, {}, {0, 0, 0, 0}};
    std::map<plat::Window, int> fills;
    std::vector<headless::SystemParameterCall> spi;
};

HeadlessState& st() {
    static HeadlessState state;
    return state;
}

// ---- the fake libraries ----------------------------------------------------------

std::int32_t PLATFORM_API verifyScreenSavePwd(plat::Window window) {
    st().verifyCalls.push_back(window);
    if (st().passwordHook) st().passwordHook(window);
    return st().passwordAnswer;
}

std::uint32_t PLATFORM_API pwdChangePasswordA(const char* provider, plat::Window owner,
                                              std::uint32_t reserved1, void* reserved2) {
    st().changeCalls.push_back(
        headless::PasswordChangeCall{provider ? provider : "", owner, reserved1, reserved2});
    return 0;
}

std::uintptr_t PLATFORM_API immAssociateContext(plat::Window window, std::uintptr_t context) {
    auto it = st().contexts.find(window);
    std::uintptr_t before = it == st().contexts.end() ? st().defaultContext : it->second;
    st().contexts[window] = context;
    st().contextCalls.push_back(headless::InputContextCall{window, context, before});
    return before;
}

// ---- the backend -------------------------------------------------------------------

std::uint64_t nowMs() { return st().clock; }

void sleepMs(std::uint32_t ms) { st().clock += ms; }

void pollEvents() {
    // Actions may schedule more actions (also for now): take one at a time.
    for (;;) {
        auto& tl = st().timeline;
        auto due = std::min_element(tl.begin(), tl.end(), [](const Scheduled& a, const Scheduled& b) {
            return a.time != b.time ? a.time < b.time : a.order < b.order;
        });
        if (due == tl.end() || due->time > st().clock) return;
        std::function<void()> action = std::move(due->action);
        tl.erase(due);
        action();
    }
}

bool waitEvents(std::uint64_t deadline, std::string* why) {
    std::uint64_t next = deadline;
    for (const Scheduled& s : st().timeline) next = std::min(next, s.time);
    if (next == linuxplat::kNoDeadline) {
        *why = "nothing is scheduled and no timer runs";
        return false;
    }
    if (next > st().timeLimit) {
        *why = "the virtual time limit of " + std::to_string(st().timeLimit) + " ms is reached";
        return false;
    }
    st().clock = std::max(st().clock, next);
    return true;
}

plat::Window newHandle() {
    plat::Window h = st().nextHandle;
    st().nextHandle += 2;
    return h;
}

plat::Window createWindow(const linuxplat::WindowInfo&) { return newHandle(); }

void destroyWindowHook(plat::Window window) { st().contexts.erase(window); }

void fillClientBlack(plat::Window window) { ++st().fills[window]; }

// The window keeps what earlier presents left where this one does not reach.
void present(plat::Window window, const PixelSurface& pixels, const plat::Rect& rect) {
    headless::Frame& f = st().last;
    if (f.window != window || f.width != pixels.width || f.height != pixels.height) {
        f.window = window;
        f.width = pixels.width;
        f.height = pixels.height;
        f.pixels.assign(static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height), 0u);
    }
    f.shown = rect;
    for (std::int32_t y = rect.top; y < rect.bottom; ++y)
        std::memcpy(f.pixels.data() + static_cast<std::size_t>(y) * f.width + rect.left,
                    pixels.pixels + static_cast<std::size_t>(y) * pixels.stride + rect.left,
                    static_cast<std::size_t>(rect.right - rect.left) * 4);
    ++st().frames;
}

bool foreignWindow(plat::Window window, plat::Rect* client) {
    auto it = st().foreign.find(window);
    if (it == st().foreign.end()) return false;
    *client = plat::Rect{0, 0, it->second.width, it->second.height};
    return true;
}

plat::Window findForeignWindow(const char* className, const char* title) {
    for (auto& [handle, w] : st().foreign)
        if ((!className || strcasecmp(w.className.c_str(), className) == 0) &&
            (!title || w.title == title))
            return handle;
    return 0;
}

int messageBox(plat::Window owner, const char* text, const char* caption, std::uint32_t type) {
    headless::MessageBoxRecord r{owner, text, caption, type};
    if (st().boxEcho) std::fprintf(stderr, "[message box] %s: %s\n", caption, text);
    st().boxes.push_back(r);
    if (st().boxHook) st().boxHook(r);
    return st().boxAnswer;
}

bool showDialog(plat::Window dialog, int) {
    if (st().dialogScript) {
        // A copy: the script may replace itself for a nested dialog.
        std::function<void(plat::Window)> script = st().dialogScript;
        script(dialog);
    }
    return true;
}

void hideDialog(plat::Window) {}

bool chooseOpenFile(const plat::OpenFileName& ofn, std::string* path) {
    headless::OpenFileRecord r{ofn, ofn.file ? ofn.file : "", {},
                               ofn.defaultExtension ? ofn.defaultExtension : ""};
    for (const char* p = ofn.filter; p && *p; p += std::strlen(p) + 1) r.filter.emplace_back(p);
    st().openFiles.push_back(std::move(r));
    if (!st().openFileAnswer) return false;
    *path = *st().openFileAnswer;
    return true;
}

void hideCursor() {
    st().cursorHidden = true;
    ++st().cursorHides;
}

bool cursorPos(plat::Point* point) {
    *point = st().cursor;
    return true;
}

void screenSize(std::int32_t* width, std::int32_t* height) {
    *width = st().screenWidth;
    *height = st().screenHeight;
}

// Not part of the resettable state: a signal handler reads it.
volatile int runningStateReportFd = -1;

void systemParameter(std::uint32_t action, std::uint32_t param, std::uint32_t flags) {
    if (action == plat::SPI_SCREENSAVERRUNNING && runningStateReportFd >= 0) {
        const char state = param != 0 ? '1' : '0';
        if (::write(runningStateReportFd, &state, 1) < 0) runningStateReportFd = -1;
    }
    st().spi.push_back(headless::SystemParameterCall{action, param, flags});
}

void messagePosted(const plat::Msg& msg, bool) { st().posted.push_back(msg); }

namespace services = headless::system;

const linuxplat::Backend kBackend{
    .name = "headless",
    .nowMs = nowMs,
    .sleep = sleepMs,
    .pollEvents = pollEvents,
    .waitEvents = waitEvents,
    .createWindow = createWindow,
    .destroyWindow = destroyWindowHook,
    .fillClientBlack = fillClientBlack,
    .present = present,
    .foreignWindow = foreignWindow,
    .findForeignWindow = findForeignWindow,
    .setForeground = nullptr,  // the core's record is the truth
    .getForeground = nullptr,
    .messageBox = messageBox,
    .showDialog = showDialog,
    .hideDialog = hideDialog,
    .dialogItemChanged = nullptr,  // nothing shows the items
    .chooseOpenFile = chooseOpenFile,
    .hideCursor = hideCursor,
    .cursorPos = cursorPos,
    .screenSize = screenSize,
    .systemParameter = systemParameter,
    .messagePosted = messagePosted,
    .allocateFrameMemory = nullptr,  // the core's own memory
    .releaseFrameMemory = nullptr,
    .regOpenKey = services::regOpenKey,
    .regQueryValue = services::regQueryValue,
    .regCloseKey = services::regCloseKey,
    .loadLibrary = services::loadLibrary,
    .loadedLibrary = services::loadedLibrary,
    .libraryExport = services::libraryExport,
    .freeLibrary = services::freeLibrary,
    .versionPlatformId = services::versionPlatformId,
    .refuseAllocation = services::refuseAllocation,
    .start = nullptr,  // tests set the command line themselves
};

plat::Window inputTarget(plat::Window window) {
    if (window) return window;
    plat::Window fg = plat::GetForegroundWindow();
    linuxplat::WindowView view;
    if (fg && linuxplat::windowView(fg, &view)) return fg;
    plat::Window all[64];
    std::size_t n = std::min<std::size_t>(linuxplat::topLevelWindows(all, 64), 64);
    for (std::size_t i = n; i-- > 0;)
        if (linuxplat::windowView(all[i], &view) && !view.isDialog) return all[i];
    return 0;
}

plat::LParam pointParam(std::int32_t x, std::int32_t y) {
    return static_cast<plat::LParam>((static_cast<std::uint32_t>(y & 0xFFFF) << 16) |
                                     static_cast<std::uint32_t>(x & 0xFFFF));
}

plat::LParam keyParam(bool release) {
    // Repeat count 1; a release has the previous-state and transition bits.
    return release ? static_cast<plat::LParam>(0xC0000001u) : 1;
}

}  // namespace

const linuxplat::Backend& linuxplat::activeBackend() { return kBackend; }

namespace headless {

void reset() {
    linuxplat::resetCore();
    system::reset();
    st() = HeadlessState{};
}

void setCommandLine(const std::string& text) { linuxplat::setCommandLine(text); }

void setRunningStateReport(int fd) { runningStateReportFd = fd; }

std::uint64_t now() { return st().clock; }

void at(std::uint64_t ms, std::function<void()> action) {
    st().timeline.push_back(Scheduled{ms, st().nextOrder++, std::move(action)});
}

void after(std::uint64_t ms, std::function<void()> action) { at(st().clock + ms, std::move(action)); }

void setTimeLimit(std::uint64_t ms) { st().timeLimit = ms; }

bool runFor(std::uint64_t ms) {
    std::uint64_t until = st().clock + ms;
    // The deadline is a scheduled wake-up, so waiting for it is never a stall.
    // Shared: the wake-up outlives this call when the quit request ends it.
    auto reached = std::make_shared<bool>(false);
    at(until, [reached] { *reached = true; });
    for (;;) {
        linuxplat::PumpResult r = linuxplat::dispatchOneMessage(until);
        if (r == linuxplat::PumpResult::Dispatched) continue;
        return r == linuxplat::PumpResult::Deadline;
    }
}

void keyDown(std::uint32_t virtualKey, plat::Window window) {
    linuxplat::postInput(inputTarget(window), plat::WM_KEYDOWN, virtualKey, keyParam(false));
}

void sysKeyDown(std::uint32_t virtualKey, plat::Window window) {
    linuxplat::postInput(inputTarget(window), plat::WM_SYSKEYDOWN, virtualKey,
                         keyParam(false) | 0x20000000);
}

void keyUp(std::uint32_t virtualKey, plat::Window window) {
    linuxplat::postInput(inputTarget(window), plat::WM_KEYUP, virtualKey, keyParam(true));
}

void mouseButton(std::uint32_t message, plat::Window window) {
    plat::Window target = inputTarget(window);
    plat::Point p = st().cursor;
    linuxplat::postInput(target, message, 0, pointParam(p.x, p.y));
}

void moveCursor(std::int32_t x, std::int32_t y, plat::Window window) {
    st().cursor = plat::Point{x, y};
    linuxplat::postInput(inputTarget(window), plat::WM_MOUSEMOVE, 0, pointParam(x, y));
}

void setCursorPos(std::int32_t x, std::int32_t y) { st().cursor = plat::Point{x, y}; }

void activateApp(bool active) {
    plat::Window all[64];
    std::size_t n = std::min<std::size_t>(linuxplat::topLevelWindows(all, 64), 64);
    for (std::size_t i = 0; i < n; ++i)
        plat::SendMessageA(all[i], plat::WM_ACTIVATEAPP, active ? 1 : 0, 0);
}

plat::Window createForeignWindow(std::int32_t width, std::int32_t height,
                                 const std::string& className, const std::string& title) {
    plat::Window h = newHandle();
    st().foreign[h] = ForeignWindow{width, height, className, title};
    return h;
}

void destroyForeignWindow(plat::Window window) {
    if (!st().foreign.erase(window)) return;
    linuxplat::foreignWindowDestroyed(window);
}

bool destroyWindow(plat::Window window) { return linuxplat::destroyWindow(window); }

void setScreenSize(std::int32_t width, std::int32_t height) {
    st().screenWidth = width;
    st().screenHeight = height;
}

const std::vector<MessageBoxRecord>& messageBoxes() { return st().boxes; }
void setMessageBoxAnswer(int answer) { st().boxAnswer = answer; }
void setMessageBoxEcho(bool echo) { st().boxEcho = echo; }
void setMessageBoxHook(std::function<void(const MessageBoxRecord&)> hook) {
    st().boxHook = std::move(hook);
}

const std::vector<OpenFileRecord>& openFileDialogs() { return st().openFiles; }
void setOpenFileAnswer(std::optional<std::string> path) { st().openFileAnswer = std::move(path); }

void setDialogScript(std::function<void(plat::Window)> script) {
    st().dialogScript = std::move(script);
}
plat::Window currentDialog() { return linuxplat::activeDialog(); }
std::string dialogItemText(int itemId) {
    return linuxplat::dialogItemText(linuxplat::activeDialog(), itemId);
}
void typeDialogItemText(int itemId, const std::string& text) {
    linuxplat::setDialogItemTextFromUser(linuxplat::activeDialog(), itemId, text.c_str());
}
void clickDialogButton(int itemId) {
    plat::Window dialog = linuxplat::activeDialog();
    if (dialog)
        plat::SendMessageA(dialog, plat::WM_COMMAND, static_cast<std::uint16_t>(itemId), 0);
}
void closeDialog() {
    plat::Window dialog = linuxplat::activeDialog();
    if (dialog) plat::SendMessageA(dialog, plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
}

void setRegistryValue(const std::string& path, const std::string& name,
                      const std::vector<std::uint8_t>& bytes, std::uint32_t type) {
    system::setRegistryValue(path.c_str(), name.c_str(), type, bytes.data(), bytes.size());
}

void installPasswordVerifier(bool withExport) {
    static const system::LibraryExport exports[] = {
        {"VerifyScreenSavePwd", reinterpret_cast<void*>(&verifyScreenSavePwd)}};
    system::registerLibrary("PASSWORD.CPL", exports, withExport ? 1 : 0, false);
}
void setPasswordAnswer(std::int32_t answer) { st().passwordAnswer = answer; }
void setPasswordHook(std::function<void(plat::Window)> hook) { st().passwordHook = std::move(hook); }
const std::vector<plat::Window>& passwordVerifyCalls() { return st().verifyCalls; }

void installPasswordChanger(bool withExport) {
    static const system::LibraryExport exports[] = {
        {"PwdChangePasswordA", reinterpret_cast<void*>(&pwdChangePasswordA)}};
    system::registerLibrary("MPR.DLL", exports, withExport ? 1 : 0, false);
}
const std::vector<PasswordChangeCall>& passwordChangeCalls() { return st().changeCalls; }

void installInputMethod(bool alreadyLoaded, bool withExport) {
    static const system::LibraryExport exports[] = {
        {"ImmAssociateContext", reinterpret_cast<void*>(&immAssociateContext)}};
    system::registerLibrary("IMM32.DLL", exports, withExport ? 1 : 0, alreadyLoaded);
}
void setDefaultInputContext(std::uintptr_t context) { st().defaultContext = context; }
const std::vector<InputContextCall>& inputContextCalls() { return st().contextCalls; }
int libraryReferences(const std::string& name) { return system::libraryReferences(name.c_str()); }

void setWin95Family(bool win95) {
    system::setPlatformId(win95 ? plat::VER_PLATFORM_WIN32_WINDOWS : 2);
}
void setVersionFails(bool fails) { system::setPlatformId(fails ? 0 : 2); }

const std::vector<plat::Msg>& postedMessages() { return st().posted; }
int frameCount() { return st().frames; }
const Frame& lastFrame() { return st().last; }
int backgroundFills(plat::Window window) {
    auto it = st().fills.find(window);
    return it == st().fills.end() ? 0 : it->second;
}
bool cursorHidden() { return st().cursorHidden; }
int cursorHideCount() { return st().cursorHides; }
void showCursor() { st().cursorHidden = false; }
const std::vector<SystemParameterCall>& systemParameterCalls() { return st().spi; }

void setGlobalAllocFails(bool fails) { system::setAllocationFails(fails); }

}  // namespace headless
