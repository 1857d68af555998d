// The seam between our Linux platform core and whatever shows it.
//
// The core (this folder) owns everything that is the same with or without a
// screen: the window table, the message queue and timers, DefWindowProcA,
// dialogs' item texts and modal loops, the frame surface and its text, the
// command line. What needs a display (or a stand-in for one) it asks of a
// Backend: time, waiting for events, realising windows, presenting frames,
// the user-facing boxes and the cursor; and the system services a backend may
// offer (registry, libraries by name).
//
// A backend library defines linuxplat::activeBackend() and is linked into ONE
// static library together with the core's objects; so a program picks its
// backend by which platform library it links (headless, desktop, no display).
//
// Rules for a backend:
//   - Everything runs on the one thread; no call here may block except
//     waitEvents, messageBox and chooseOpenFile (and those must keep the
//     thread's windows served, see below).
//   - Input arrives in the core by the functions of the second half of this
//     file (postInput..., foreignWindowDestroyed, invalidateWindow); a backend
//     calls them from pollEvents, never from a signal handler.
//   - Modal UI (messageBox, chooseOpenFile, the dialog between showDialog and
//     hideDialog) must go on dispatching the core's messages while it waits,
//     as Win32's modal loops do: call runModalLoop with a done-predicate, or
//     interleave the toolkit's own loop with dispatchOneMessage.
//   - Optional entries may be null; the comment says what the core does then.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace linuxplat {

// What the core knows of a window when it asks the backend to realise it.
struct WindowInfo {
    plat::Window parent;     // 0, a core window, or a foreign window
    std::uint32_t style;     // WS_* bits as given to CreateWindowExA
    std::uint32_t exStyle;
    std::int32_t x;
    std::int32_t y;
    std::int32_t width;      // client size: our windows have no frame
    std::int32_t height;
    const char* className;
    const char* title;
    int dialogTemplate;      // 0 for class windows, the template id for dialogs
};

struct Backend {
    const char* name;

    // ---- time -------------------------------------------------------------
    // Milliseconds on a monotonic clock; GetTickCount is its low 32 bits and
    // window timers are scheduled on it.
    std::uint64_t (*nowMs)();
    // Sleep(ms). Sleep(0) only yields.
    void (*sleep)(std::uint32_t ms);

    // ---- events -----------------------------------------------------------
    // Non-blocking: turn whatever happened (display events, scheduled test
    // actions) into core calls. Called before every look at the queue.
    void (*pollEvents)();
    // Block until something may have happened or until deadlineMs on the
    // nowMs clock (kNoDeadline: no timer is running). Return false when
    // nothing can ever happen again (the headless backend's way of failing a
    // test that would hang); `why` then says what was waited for.
    bool (*waitEvents)(std::uint64_t deadlineMs, std::string* why);

    // ---- windows ----------------------------------------------------------
    // Give a new window its handle. The backend decides the value (an X
    // window id on a display, a counter headless) and may create the real
    // window now or later. 0: creation fails.
    plat::Window (*createWindow)(const WindowInfo& info);
    // The core has sent WM_DESTROY and forgets the window after this.
    void (*destroyWindow)(plat::Window window);
    // WM_ERASEBKGND's black fill of the whole client area.
    void (*fillClientBlack)(plat::Window window);
    // Show `rect` of the surface (right and bottom excluded, already within
    // the surface) at the same place in the window. The pixels are only valid
    // during the call.
    void (*present)(plat::Window window, const PixelSurface& pixels, const plat::Rect& rect);

    // ---- windows of other processes ----------------------------------------
    // Whether `window`, a handle the core has not made, names a live window,
    // and its client size. Null: no such windows exist.
    bool (*foreignWindow)(plat::Window window, plat::Rect* client) = nullptr;
    // FindWindowA across processes, after the core found nothing of its own.
    // Null: only this process's windows are searched.
    plat::Window (*findForeignWindow)(const char* className, const char* title) = nullptr;
    // Bring a window (ours or foreign) to the front. Null: only recorded.
    bool (*setForeground)(plat::Window window) = nullptr;
    // The window the user works with. Null: the last one set.
    plat::Window (*getForeground)() = nullptr;

    // ---- user interface ------------------------------------------------------
    // A modal box; returns the button id (IDOK ...). Must keep dispatching.
    int (*messageBox)(plat::Window owner, const char* text, const char* caption,
                      std::uint32_t type);
    // The dialog window exists and has had WM_INITDIALOG. Show it; the core
    // then runs the modal loop until EndDialog. Item texts are in the core
    // (dialogItemText / setDialogItemTextFromUser). false: it cannot be shown
    // and DialogBoxParamA fails with -1.
    bool (*showDialog)(plat::Window dialog, int templateId);
    void (*hideDialog)(plat::Window dialog);
    // SetDlgItemTextA changed an item; update what the user sees. May be null.
    void (*dialogItemChanged)(plat::Window dialog, int itemId, const char* text) = nullptr;
    // The file-open UI for GetOpenFileNameA: propose ofn.file, list
    // ofn.filter, and on a choice store the full path in *path and return
    // true. Cancel: false. The core fills the caller's buffers and offsets and
    // applies the default extension.
    bool (*chooseOpenFile)(const plat::OpenFileName& ofn, std::string* path);

    // ---- cursor and screen -------------------------------------------------
    void (*hideCursor)();
    bool (*cursorPos)(plat::Point* point);
    void (*screenSize)(std::int32_t* width, std::int32_t* height);

    // ---- system --------------------------------------------------------------
    // Every SystemParametersInfoA call, after the core kept its own state
    // (the screen-saver-running flag). May be null.
    void (*systemParameter)(std::uint32_t action, std::uint32_t param, std::uint32_t flags) = nullptr;
    // Every PostMessageA and PostQuitMessage (WM_QUIT, window 0). Messages for
    // foreign windows go nowhere else: deliver them if the display can. May
    // be null.
    void (*messagePosted)(const plat::Msg& msg, bool foreign) = nullptr;

    // ---- frame memory ----------------------------------------------------------
    // Memory of `bytes` bytes for a frame surface of `window` that present()
    // can show without copying it (shared with the display server). Null entry
    // or null result: the core allocates the memory itself. May be null.
    void* (*allocateFrameMemory)(plat::Window window, std::size_t bytes) = nullptr;
    void (*releaseFrameMemory)(void* memory) = nullptr;

    // ---- system services --------------------------------------------------------
    // The current user's registry and libraries loaded by name, which only the
    // password path of the Windows 95 family asks for. Each may be null: the
    // core then answers as a system without the service does (every key
    // missing, ERROR_FILE_NOT_FOUND; no library loads).
    // RegOpenKeyA, RegQueryValueExA, RegCloseKey with their Win32 results.
    long (*regOpenKey)(plat::Key parent, const char* subKey, plat::Key* result) = nullptr;
    long (*regQueryValue)(plat::Key key, const char* valueName, std::uint32_t* type,
                          std::uint8_t* data, std::uint32_t* dataSize) = nullptr;
    long (*regCloseKey)(plat::Key key) = nullptr;
    // LoadLibraryA; GetModuleHandleA of a named library (0 unless loaded);
    // GetProcAddress; FreeLibrary.
    plat::Module (*loadLibrary)(const char* name) = nullptr;
    plat::Module (*loadedLibrary)(const char* name) = nullptr;
    void* (*libraryExport)(plat::Module module, const char* name) = nullptr;
    bool (*freeLibrary)(plat::Module module) = nullptr;
    // GetVersionPlatformId. Null: the NT family (2).
    bool (*versionPlatformId)(std::uint32_t* platformId) = nullptr;
    // Asked before each GlobalAllocFixed; true makes it fail. Null: never.
    bool (*refuseAllocation)(std::size_t bytes) = nullptr;

    // ---- the program's start ------------------------------------------------------
    // Called once by plat::StartLinuxProgram, after the command line and the
    // dialog tables are in place: put in place what every mode needs from the
    // start, and say what `target` means on this display. For a target other
    // than CommandLine: IntoWindow with *window set to the window to draw
    // into, WindowUnusable, or Failed after a line on stderr. Null: only the
    // command line's modes exist; any other target is unusable.
    plat::StartResult (*start)(const plat::DrawTarget& target, plat::Window* window) = nullptr;
};

inline constexpr std::uint64_t kNoDeadline = ~std::uint64_t{0};

// Defined by exactly one backend in each platform library.
const Backend& activeBackend();

// ===== What the core offers its backends ===================================

// Queue a message as if the user had caused it (Win32 posts input).
void postInput(plat::Window window, std::uint32_t message, plat::WParam wParam,
               plat::LParam lParam);
// The window needs painting: WM_PAINT (with WM_ERASEBKGND first when `erase`)
// is generated when the queue is otherwise empty.
void invalidateWindow(plat::Window window, bool erase);
// A foreign window went away: our children of it are destroyed (WM_DESTROY).
void foreignWindowDestroyed(plat::Window window);
// Our window's client area has a new size (its owner resized it): the size
// GetClientRect reports changes, WM_SIZE is queued and the window repainted.
void windowResized(plat::Window window, std::int32_t width, std::int32_t height);
// DestroyWindow: WM_DESTROY to the window, then its children; the window is
// forgotten. false when it was not a window of ours.
bool destroyWindow(plat::Window window);

// Information about our own windows.
struct WindowView {
    plat::Window parent;
    std::uint32_t style;
    std::uint32_t exStyle;
    std::int32_t width;
    std::int32_t height;
    std::string className;
    std::string title;
    bool isDialog;
};
bool windowView(plat::Window window, WindowView* view);
// Our top-level windows (parent 0), oldest first, up to `capacity`; the count.
std::size_t topLevelWindows(plat::Window* out, std::size_t capacity);

// Fetch the next message (posted, then paint, then due timers) and dispatch
// it, waiting up to deadlineMs. Returns:
enum class PumpResult { Dispatched, Quit, Deadline, Stalled };
// On Quit the quit request stays pending for the outer loop, as Win32's modal
// loops leave WM_QUIT for GetMessageA. On Stalled the backend's reason is
// printed to stderr.
PumpResult dispatchOneMessage(std::uint64_t deadlineMs);
// A modal loop: dispatch until done(context) is true, the quit request comes
// (left pending), the deadline passes or nothing more can happen.
PumpResult runModalLoop(bool (*done)(void* context), void* context,
                        std::uint64_t deadlineMs = kNoDeadline);

// Dialog item texts as the user edits them: stores the text and sends the
// dialog procedure WM_COMMAND with EN_CHANGE, as an edit control would.
void setDialogItemTextFromUser(plat::Window dialog, int itemId, const char* text);
std::string dialogItemText(plat::Window dialog, int itemId);
// The dialog whose modal loop runs innermost, or 0.
plat::Window activeDialog();
bool dialogEnded(plat::Window dialog);

// Forget every window (without messages), class, timer, queued message, quit
// request, dialog and setting: a fresh process. The backend resets its own.
void resetCore();

}  // namespace linuxplat
