// Windows, the message queue, timers and the loop.
//
// One queue for the thread, as Win32 has: posted messages in order, then the
// quit request, then paint requests, then timers that are due. Timers are not
// queued; a due timer yields one WM_TIMER when nothing else is waiting, so
// ticks coalesce instead of piling up behind a slow frame, and a handler can
// never be interrupted by one. Sent messages call the procedure directly.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/core/core_state.h"

namespace linuxplat::detail {

CoreState& core() {
    static CoreState state;
    return state;
}

const Backend& backend() { return activeBackend(); }

WindowRecord* findWindow(plat::Window window) {
    if (window == 0) return nullptr;
    auto& windows = core().windows;
    auto it = windows.find(window);
    return it == windows.end() ? nullptr : &it->second;
}

bool sameText(const std::string& a, const char* b) {
    std::size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

void resetWindows() {
    CoreState& s = core();
    s.classes.clear();
    s.windows.clear();
    s.queue.clear();
    s.quitPending = false;
    s.quitCode = 0;
    s.timers.clear();
    s.foreground = 0;
    s.dialogStack.clear();
}

namespace {

const ClassRecord* findClass(const char* name) {
    if (!name) return nullptr;
    for (const ClassRecord& c : core().classes)
        if (sameText(c.name, name)) return &c;
    return nullptr;
}

bool inRange(std::uint32_t message, std::uint32_t first, std::uint32_t last) {
    if (first == 0 && last == 0) return true;
    return message >= first && message <= last;
}

bool matchesWindow(plat::Window wanted, plat::Window actual) {
    return wanted == 0 || wanted == actual;
}

// The oldest window waiting for WM_PAINT among those the filter admits.
WindowRecord* paintCandidate(plat::Window filter) {
    WindowRecord* best = nullptr;
    for (auto& [handle, w] : core().windows)
        if (w.needsPaint && !w.destroying && matchesWindow(filter, handle) &&
            (!best || w.serial < best->serial))
            best = &w;
    return best;
}

// The earliest due timer among those the filter admits; null when none is due.
TimerRecord* dueTimer(plat::Window filter, std::uint64_t now) {
    TimerRecord* best = nullptr;
    for (TimerRecord& t : core().timers)
        if (t.due <= now && matchesWindow(filter, t.window) && (!best || t.due < best->due))
            best = &t;
    return best;
}

std::uint64_t earliestTimer() {
    std::uint64_t next = kNoDeadline;
    for (const TimerRecord& t : core().timers) next = std::min(next, t.due);
    return next;
}

enum class Fetch { Got, Quit, Deadline, Stalled, Empty };

// The heart of GetMessageA, PeekMessageA and the modal loops.
Fetch fetch(plat::Msg* out, plat::Window filter, std::uint32_t first, std::uint32_t last,
            bool remove, bool wait, std::uint64_t deadline) {
    CoreState& s = core();
    for (;;) {
        backend().pollEvents();

        for (auto it = s.queue.begin(); it != s.queue.end(); ++it) {
            if (!matchesWindow(filter, it->window) || !inRange(it->message, first, last))
                continue;
            *out = *it;
            if (remove) s.queue.erase(it);
            return Fetch::Got;
        }
        if (s.quitPending && filter == 0 && inRange(plat::WM_QUIT, first, last)) {
            *out = plat::Msg{0, plat::WM_QUIT, static_cast<plat::WParam>(s.quitCode), 0};
            if (remove) s.quitPending = false;
            return Fetch::Quit;
        }
        if (inRange(plat::WM_PAINT, first, last)) {
            if (WindowRecord* w = paintCandidate(filter)) {
                // Cleared here rather than by validation so that a window that
                // never validates cannot spin the loop.
                if (remove) w->needsPaint = false;
                *out = plat::Msg{w->handle, plat::WM_PAINT, 0, 0};
                return Fetch::Got;
            }
        }
        std::uint64_t now = backend().nowMs();
        if (inRange(plat::WM_TIMER, first, last)) {
            if (TimerRecord* t = dueTimer(filter, now)) {
                *out = plat::Msg{t->window, plat::WM_TIMER, t->id, 0};
                if (remove) t->due = now + t->period;
                return Fetch::Got;
            }
        }
        if (deadline != kNoDeadline && now >= deadline) return Fetch::Deadline;
        if (!wait) return Fetch::Empty;
        std::string why;
        if (!backend().waitEvents(std::min(earliestTimer(), deadline), &why)) {
            plat::WriteDiagnostic(plat::DiagnosticStream::Error,
                                  "platform (%s): the message loop waits for nothing: %s\n",
                                  backend().name, why.c_str());
            return Fetch::Stalled;
        }
    }
}

void dropQueued(plat::Window window) {
    auto& q = core().queue;
    q.erase(std::remove_if(q.begin(), q.end(),
                           [window](const plat::Msg& m) { return m.window == window; }),
            q.end());
}

void killTimersOf(plat::Window window) {
    auto& t = core().timers;
    t.erase(std::remove_if(t.begin(), t.end(),
                           [window](const TimerRecord& r) { return r.window == window; }),
            t.end());
}

std::vector<plat::Window> childrenOf(plat::Window parent) {
    std::vector<std::pair<std::uint64_t, plat::Window>> found;
    for (auto& [handle, w] : core().windows)
        if (w.parent == parent && !w.destroying) found.emplace_back(w.serial, handle);
    std::sort(found.begin(), found.end());
    std::vector<plat::Window> out;
    for (auto& f : found) out.push_back(f.second);
    return out;
}

plat::LResult callProcedure(plat::Window window, std::uint32_t message, plat::WParam wParam,
                            plat::LParam lParam) {
    WindowRecord* w = findWindow(window);
    if (!w) return 0;
    if (w->isDialog) return dialogWindowMessage(window, message, wParam, lParam);
    plat::WindowProc proc = w->proc;
    return proc ? proc(window, message, wParam, lParam) : 0;
}

}  // namespace

plat::Window createWindowRecord(const WindowInfo& info, plat::WindowProc proc,
                                plat::DialogProc dialogProc) {
    plat::Window handle = backend().createWindow(info);
    if (handle == 0) return 0;
    if (findWindow(handle)) {
        plat::WriteDiagnostic(plat::DiagnosticStream::Error,
                              "platform (%s): the backend handed out window %#lx twice\n",
                              backend().name, static_cast<unsigned long>(handle));
        return 0;
    }
    WindowRecord r;
    r.handle = handle;
    r.parent = info.parent;
    r.style = info.style;
    r.exStyle = info.exStyle;
    r.width = std::max(info.width, 0);
    r.height = std::max(info.height, 0);
    r.className = info.className ? info.className : "";
    r.title = info.title ? info.title : "";
    r.proc = proc;
    r.serial = core().nextSerial++;
    r.isDialog = info.dialogTemplate != 0;
    r.templateId = info.dialogTemplate;
    r.dialogProc = dialogProc;
    core().windows.emplace(handle, std::move(r));
    return handle;
}

}  // namespace linuxplat::detail

// ===== Services for backends =================================================
namespace linuxplat {

using namespace detail;

void postInput(plat::Window window, std::uint32_t message, plat::WParam wParam,
               plat::LParam lParam) {
    if (!findWindow(window)) return;
    core().queue.push_back(plat::Msg{window, message, wParam, lParam});
}

void invalidateWindow(plat::Window window, bool erase) {
    if (WindowRecord* w = findWindow(window)) {
        w->needsPaint = true;
        w->needsErase = w->needsErase || erase;
    }
}

bool destroyWindow(plat::Window window) {
    WindowRecord* w = findWindow(window);
    if (!w || w->destroying) return false;
    w->destroying = true;
    killTimersOf(window);
    // Win32's order: the window hears WM_DESTROY before its children do.
    callProcedure(window, plat::WM_DESTROY, 0, 0);
    for (plat::Window child : childrenOf(window)) destroyWindow(child);
    killTimersOf(window);  // a procedure may have started one during WM_DESTROY
    backend().destroyWindow(window);
    core().windows.erase(window);
    dropQueued(window);
    if (core().foreground == window) core().foreground = 0;
    return true;
}

void foreignWindowDestroyed(plat::Window window) {
    if (findWindow(window)) return;  // ours, not foreign
    for (plat::Window child : childrenOf(window)) destroyWindow(child);
    if (core().foreground == window) core().foreground = 0;
}

void windowResized(plat::Window window, std::int32_t width, std::int32_t height) {
    WindowRecord* w = findWindow(window);
    if (!w || w->destroying || (w->width == width && w->height == height)) return;
    w->width = std::max(width, 0);
    w->height = std::max(height, 0);
    const auto size = (static_cast<std::uint32_t>(w->width) & 0xFFFFu) |
                      ((static_cast<std::uint32_t>(w->height) & 0xFFFFu) << 16);
    core().queue.push_back(plat::Msg{window, plat::WM_SIZE, 0, static_cast<plat::LParam>(size)});
    invalidateWindow(window, true);
}

bool windowView(plat::Window window, WindowView* view) {
    WindowRecord* w = findWindow(window);
    if (!w || !view) return false;
    *view = WindowView{w->parent,    w->style, w->exStyle, w->width, w->height,
                       w->className, w->title, w->isDialog};
    return true;
}

std::size_t topLevelWindows(plat::Window* out, std::size_t capacity) {
    std::vector<plat::Window> all = childrenOf(0);
    std::size_t n = std::min(capacity, all.size());
    for (std::size_t i = 0; i < n; ++i) out[i] = all[i];
    return all.size();
}

PumpResult dispatchOneMessage(std::uint64_t deadlineMs) {
    plat::Msg msg{};
    switch (fetch(&msg, 0, 0, 0, true, true, deadlineMs)) {
        case Fetch::Got:
            plat::DispatchMessageA(&msg);
            return PumpResult::Dispatched;
        case Fetch::Quit:
            // Modal loops leave the quit request to the loop that owns it.
            plat::PostQuitMessage(static_cast<int>(msg.wParam));
            return PumpResult::Quit;
        case Fetch::Deadline:
        case Fetch::Empty:
            return PumpResult::Deadline;
        case Fetch::Stalled:
            break;
    }
    return PumpResult::Stalled;
}

PumpResult runModalLoop(bool (*done)(void* context), void* context, std::uint64_t deadlineMs) {
    for (;;) {
        if (done && done(context)) return PumpResult::Dispatched;
        PumpResult r = dispatchOneMessage(deadlineMs);
        if (r != PumpResult::Dispatched) return r;
    }
}

}  // namespace linuxplat

// ===== platform.h ==============================================================
namespace plat {

using namespace linuxplat::detail;

bool RegisterClassA(const WindowClass& windowClass) {
    if (!windowClass.className || !windowClass.className[0] || !windowClass.windowProc)
        return false;
    if (findClass(windowClass.className)) return false;  // Win32: the class already exists
    core().classes.push_back(
        ClassRecord{windowClass.className, windowClass.windowProc, windowClass.style});
    return true;
}

Window CreateWindowExA(std::uint32_t exStyle, const char* className, const char* title,
                       std::uint32_t style, std::int32_t x, std::int32_t y, std::int32_t width,
                       std::int32_t height, Window parent, Module /*instance*/) {
    const ClassRecord* cls = findClass(className);
    if (!cls) return 0;
    if ((style & WS_CHILD) && parent == 0) return 0;
    if (parent != 0 && !IsWindow(parent)) return 0;
    linuxplat::WindowInfo info{parent, style, exStyle, x, y, width, height,
                               cls->name.c_str(), title ? title : "", 0};
    Window window = createWindowRecord(info, cls->proc, nullptr);
    if (window == 0) return 0;
    if (callProcedure(window, WM_CREATE, 0, 0) == -1) {
        linuxplat::destroyWindow(window);
        return 0;
    }
    if (!findWindow(window)) return 0;  // destroyed while being created
    if (style & WS_VISIBLE) {
        callProcedure(window, WM_SHOWWINDOW, 1, 0);
        linuxplat::invalidateWindow(window, true);
    }
    return findWindow(window) ? window : 0;
}

LResult DefWindowProcA(Window window, std::uint32_t message, WParam wParam, LParam lParam) {
    switch (message) {
        case WM_CLOSE:
            linuxplat::destroyWindow(window);
            return 0;
        case WM_SETTEXT:
            if (WindowRecord* w = findWindow(window)) {
                w->title = lParam ? reinterpret_cast<const char*>(lParam) : "";
                return 1;
            }
            return 0;
        case WM_PAINT:
            if (WindowRecord* w = findWindow(window)) {
                w->needsPaint = false;
                if (w->needsErase) {
                    w->needsErase = false;
                    // What BeginPaint does for a window whose background is
                    // invalid.
                    callProcedure(window, WM_ERASEBKGND, 0, 0);
                }
            }
            return 0;
        case WM_ERASEBKGND:
            FillClientBlack(window);
            return 1;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0u) == SC_CLOSE) SendMessageA(window, WM_CLOSE, 0, 0);
            return 0;
        default:
            return 0;
    }
}

bool PostMessageA(Window window, std::uint32_t message, WParam wParam, LParam lParam) {
    Msg msg{window, message, wParam, lParam};
    bool ours = window == 0 || findWindow(window) != nullptr;
    if (!ours && !IsWindow(window)) return false;
    if (ours) core().queue.push_back(msg);
    if (backend().messagePosted) backend().messagePosted(msg, !ours);
    return true;
}

LResult SendMessageA(Window window, std::uint32_t message, WParam wParam, LParam lParam) {
    return callProcedure(window, message, wParam, lParam);
}

bool PeekMessageA(Msg* msg, Window window, std::uint32_t first, std::uint32_t last,
                  std::uint32_t flags) {
    if (!msg) return false;
    Fetch f = fetch(msg, window, first, last, (flags & PM_REMOVE) != 0, false,
                    linuxplat::kNoDeadline);
    return f == Fetch::Got || f == Fetch::Quit;
}

void PostQuitMessage(int exitCode) {
    core().quitPending = true;
    core().quitCode = exitCode;
    if (backend().messagePosted)
        backend().messagePosted(Msg{0, WM_QUIT, static_cast<WParam>(exitCode), 0}, false);
}

int GetMessageA(Msg* msg) {
    if (!msg) return -1;
    switch (fetch(msg, 0, 0, 0, true, true, linuxplat::kNoDeadline)) {
        case Fetch::Got:
            return 1;
        case Fetch::Quit:
            return 0;
        default:
            return -1;
    }
}

void TranslateMessage(const Msg* msg) {
    // Keys that produce a character get their WM_CHAR, as Win32 does; no
    // keyboard state is known here, so letters come out as typed unshifted.
    if (!msg || msg->message != WM_KEYDOWN) return;
    WParam key = msg->wParam;
    WParam ch = 0;
    if (key >= 'A' && key <= 'Z')
        ch = key + ('a' - 'A');
    else if ((key >= '0' && key <= '9') || key == ' ' || key == 0x08 || key == 0x09 ||
             key == 0x0D || key == 0x1B)
        ch = key;
    if (ch) PostMessageA(msg->window, WM_CHAR, ch, msg->lParam);
}

LResult DispatchMessageA(const Msg* msg) {
    if (!msg || msg->window == 0) return 0;
    return callProcedure(msg->window, msg->message, msg->wParam, msg->lParam);
}

std::uintptr_t SetTimer(Window window, std::uintptr_t id, std::uint32_t periodMs) {
    // Window timers only: without a window Win32 would invent an id, and no
    // caller here wants one.
    if (!findWindow(window)) return 0;
    periodMs = std::clamp<std::uint32_t>(periodMs, 10u, 0x7FFFFFFFu);
    std::uint64_t due = linuxplat::activeBackend().nowMs() + periodMs;
    for (TimerRecord& t : core().timers)
        if (t.window == window && t.id == id) {
            t.period = periodMs;
            t.due = due;
            return id ? id : 1;
        }
    core().timers.push_back(TimerRecord{window, id, periodMs, due});
    return id ? id : 1;
}

bool KillTimer(Window window, std::uintptr_t id) {
    auto& timers = core().timers;
    for (auto it = timers.begin(); it != timers.end(); ++it)
        if (it->window == window && it->id == id) {
            timers.erase(it);
            return true;
        }
    return false;
}

bool IsWindow(Window window) {
    if (window == 0) return false;
    if (findWindow(window)) return true;
    Rect ignored{};
    return backend().foreignWindow && backend().foreignWindow(window, &ignored);
}

Window GetParent(Window window) {
    WindowRecord* w = findWindow(window);
    return w ? w->parent : 0;
}

Window FindWindowA(const char* className, const char* title) {
    WindowRecord* best = nullptr;
    for (auto& [handle, w] : core().windows) {
        if (w.parent != 0 || w.destroying) continue;  // top-level windows only
        if (className && !sameText(w.className, className)) continue;
        if (title && w.title != title) continue;
        if (!best || w.serial < best->serial) best = &w;
    }
    if (best) return best->handle;
    return backend().findForeignWindow ? backend().findForeignWindow(className, title) : 0;
}

bool SetForegroundWindow(Window window) {
    if (!IsWindow(window)) return false;
    if (backend().setForeground && !backend().setForeground(window)) return false;
    core().foreground = window;
    return true;
}

Window GetForegroundWindow() {
    if (backend().getForeground) return backend().getForeground();
    return core().foreground;
}

bool GetClientRect(Window window, Rect* rect) {
    if (!rect) return false;
    if (WindowRecord* w = findWindow(window)) {
        *rect = Rect{0, 0, w->width, w->height};
        return true;
    }
    Rect client{};
    if (window != 0 && backend().foreignWindow && backend().foreignWindow(window, &client)) {
        *rect = client;
        return true;
    }
    return false;
}

int GetSystemMetrics(int index) {
    std::int32_t width = 0;
    std::int32_t height = 0;
    backend().screenSize(&width, &height);
    if (index == SM_CXSCREEN) return width;
    if (index == SM_CYSCREEN) return height;
    return 0;
}

void FillClientBlack(Window window) {
    if (findWindow(window)) backend().fillClientBlack(window);
}

}  // namespace plat
