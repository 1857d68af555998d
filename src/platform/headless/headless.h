// Test control of the headless platform: what a test scripts (the user, the
// clock, the registry, the libraries) and what it reads back (message boxes,
// posted messages, frames). Only tests include this.
//
// The clock is virtual. It stands still while code runs and jumps, when the
// message loop would wait, to the next due timer or scheduled action. A loop
// that could only wait for ever (nothing scheduled, no timer) or that runs
// past the time limit ends loudly: GetMessageA returns -1 and the reason is
// printed on stderr.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace headless {

// Forgets every window, timer, record, script and setting; the clock starts
// at 0 again. Call it first in every test.
void reset();

// The text plat::GetCommandLineA returns.
void setCommandLine(const std::string& text);

// ---- Clock and timeline -----------------------------------------------------
std::uint64_t now();
// Runs `action` when the virtual clock reaches `ms` (absolute), from inside
// whichever message loop is waiting then. Actions at one time run in the order
// they were scheduled; a time already past means "at the next look".
void at(std::uint64_t ms, std::function<void()> action);
void after(std::uint64_t ms, std::function<void()> action);
// The virtual time after which a waiting loop gives up (default 60 s).
void setTimeLimit(std::uint64_t ms);
// Dispatches messages as a modal loop would for `ms` of virtual time. False
// when the quit request arrived (it stays pending) or nothing could happen.
bool runFor(std::uint64_t ms);

// ---- The user at the keyboard and mouse -------------------------------------
// Input goes to `window`, or with 0 to the foreground window, or else to the
// newest top-level window of ours. Each posts what the platform would post.
void keyDown(std::uint32_t virtualKey, plat::Window window = 0);
void sysKeyDown(std::uint32_t virtualKey, plat::Window window = 0);
void keyUp(std::uint32_t virtualKey, plat::Window window = 0);
// message: WM_LBUTTONDOWN, WM_RBUTTONUP, WM_MOUSEWHEEL ...; at the cursor.
void mouseButton(std::uint32_t message, plat::Window window = 0);
// Moves the cursor (screen coordinates) and posts WM_MOUSEMOVE.
void moveCursor(std::int32_t x, std::int32_t y, plat::Window window = 0);
// Moves the cursor without any message, as between two reads of it.
void setCursorPos(std::int32_t x, std::int32_t y);
// Sends WM_ACTIVATEAPP (as Win32 does, synchronously) to our top-level windows.
void activateApp(bool active);

// ---- Windows -----------------------------------------------------------------
// A window of another process (a preview pane, a second saver): its handle.
plat::Window createForeignWindow(std::int32_t width, std::int32_t height,
                                 const std::string& className = "",
                                 const std::string& title = "");
// Destroys it; our windows inside it get WM_DESTROY.
void destroyForeignWindow(plat::Window window);
// Destroys a window of ours as DestroyWindow would.
bool destroyWindow(plat::Window window);
void setScreenSize(std::int32_t width, std::int32_t height);

// ---- Message boxes ------------------------------------------------------------
struct MessageBoxRecord {
    plat::Window owner;
    std::string text;
    std::string caption;
    std::uint32_t type;
};
const std::vector<MessageBoxRecord>& messageBoxes();
// The answer every following box returns (IDOK by default).
void setMessageBoxAnswer(int answer);
// Also print each box to stderr, for reading a failing test's log.
void setMessageBoxEcho(bool echo);
// Runs while a box is open (after it was recorded); it may call runFor to let
// the windows go on receiving messages, as a real modal box does.
void setMessageBoxHook(std::function<void(const MessageBoxRecord&)> hook);

// ---- The file-open dialog -----------------------------------------------------
struct OpenFileRecord {
    plat::OpenFileName ofn;            // as given; its pointers are the caller's
    std::string proposedFile;          // ofn.file when the dialog opened
    std::vector<std::string> filter;   // the description/pattern texts
    std::string defaultExtension;
};
const std::vector<OpenFileRecord>& openFileDialogs();
// The user picks this path (nullopt: cancels). Default: cancel.
void setOpenFileAnswer(std::optional<std::string> path);

// ---- The configuration dialog ---------------------------------------------------
// Runs inside DialogBoxParamA once the dialog has had WM_INITDIALOG. After it
// returns the dialog keeps running on the timeline until EndDialog; a dialog
// nobody ends fails loudly (DialogBoxParamA returns -1).
void setDialogScript(std::function<void(plat::Window dialog)> script);
// The innermost open dialog, or 0.
plat::Window currentDialog();
// Item texts of the innermost dialog.
std::string dialogItemText(int itemId);
// Types a whole new text into an edit box (EN_CHANGE goes to the dialog).
void typeDialogItemText(int itemId, const std::string& text);
// Clicks a button: WM_COMMAND with the id, sent as the button would.
void clickDialogButton(int itemId);
// The close box.
void closeDialog();

// ---- Registry (below HKEY_CURRENT_USER) -------------------------------------------
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
void setRegistryValue(const std::string& path, const std::string& name,
                      const std::vector<std::uint8_t>& bytes, std::uint32_t type = kRegDword);

// ---- Run-time libraries --------------------------------------------------------------
// "PASSWORD.CPL" becomes loadable, with "VerifyScreenSavePwd" unless told not.
void installPasswordVerifier(bool withExport = true);
// What VerifyScreenSavePwd answers (default 1: may close).
void setPasswordAnswer(std::int32_t answer);
// Runs inside VerifyScreenSavePwd before it answers (the verifier's own loop).
void setPasswordHook(std::function<void(plat::Window window)> hook);
// Windows VerifyScreenSavePwd was called with, in order.
const std::vector<plat::Window>& passwordVerifyCalls();

// "MPR.DLL" with "PwdChangePasswordA".
void installPasswordChanger(bool withExport = true);
struct PasswordChangeCall {
    std::string provider;
    plat::Window owner;
    std::uint32_t reserved1;
    void* reserved2;
};
const std::vector<PasswordChangeCall>& passwordChangeCalls();

// "IMM32.DLL" with "ImmAssociateContext"; alreadyLoaded makes
// GetModuleHandleA find it without a LoadLibraryA.
void installInputMethod(bool alreadyLoaded = true, bool withExport = true);
// The context every window starts with (default 0x1C0).
void setDefaultInputContext(std::uintptr_t context);
struct InputContextCall {
    plat::Window window;
    std::uintptr_t context;
    std::uintptr_t returned;
};
const std::vector<InputContextCall>& inputContextCalls();
// Live LoadLibraryA references (plus one for an already loaded library).
int libraryReferences(const std::string& name);

// ---- Platform family ---------------------------------------------------------------
// The Windows 95 family (platform id 1) or not (2, the default).
void setWin95Family(bool win95);
// GetVersionPlatformId fails.
void setVersionFails(bool fails);

// ---- Records ---------------------------------------------------------------------------
// Every PostMessageA and PostQuitMessage (as WM_QUIT to window 0), in order.
const std::vector<plat::Msg>& postedMessages();
struct Frame {
    plat::Window window;
    std::int32_t width;
    std::int32_t height;
    std::vector<std::uint32_t> pixels;  // width x height, 0x00RRGGBB, rows packed
    plat::Rect shown;                   // the part the last present copied
};
int frameCount();
// The window's pixels after the last frame shown (the whole surface's size;
// what no present reached is black); empty (width 0) before the first.
const Frame& lastFrame();
// Black fills of a window's background (WM_ERASEBKGND's work).
int backgroundFills(plat::Window window);
bool cursorHidden();
int cursorHideCount();
// The platform shows the cursor again (as Win32 does when it moves over
// another window); lets a test see it hidden anew.
void showCursor();
struct SystemParameterCall {
    std::uint32_t action;
    std::uint32_t param;
    std::uint32_t flags;
};
const std::vector<SystemParameterCall>& systemParameterCalls();
// While fd >= 0, every screen-saver-running change is also written to fd as
// one byte, '1' or '0', with write(2) alone: the fault guard's handler makes
// that change inside a signal handler in a process that then ends, so a test
// can only see it from outside.
void setRunningStateReport(int fd);

// ---- Memory ------------------------------------------------------------------------------
// While set, plat::GlobalAllocFixed returns null.
void setGlobalAllocFails(bool fails);

}  // namespace headless
