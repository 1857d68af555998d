// The one narrow interface between the portable saver and its platform.
//
// Everything here is named after the Win32 operation it stands for and keeps
// Win32's numeric values, so the Windows implementation (win32/) is a thin
// pass-through and the Linux implementation (core/ and its backends) can be read
// against the same documentation. Handles are plain integers (0 is null) so
// that a decimal window handle from a command line is a handle as it is.
//
//   messages and windows   RegisterClassA .. DispatchMessageA, timers
//   frame surface          the off-screen 32-bit bitmap the renderer draws into
//   dialogs                message boxes, modal dialogs, item texts, file-open
//   input and time         cursor, tick count, Sleep
//   files                  replacing a file's contents as one step, the place
//                          of the settings file and the path separator
//   system                 registry value, libraries by name, command line,
//                          version, SSE2, screen-saver-running state, exit,
//                          fault guard
//   memory                 global memory for the depth buffer, address space left
//   diagnostics            lines on the standard output and error streams
//   start (Linux only)     StartLinuxProgram: arguments, dialog tables, where to draw
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/pixel_surface.h"
#if !defined(_WIN32)
#include "platform/dialog_resource.h"
#endif

#if defined(_WIN32)
#define PLATFORM_API __stdcall
#else
#define PLATFORM_API
#endif

namespace plat {

using Window = std::uintptr_t;  // HWND
using Module = std::uintptr_t;  // HINSTANCE / HMODULE
using Key = std::uintptr_t;     // HKEY
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

using WindowProc = LResult (*)(Window, std::uint32_t, WParam, LParam);
using DialogProc = std::intptr_t (*)(Window, std::uint32_t, WParam, LParam);

struct Point {
    std::int32_t x;
    std::int32_t y;
};

struct Rect {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

struct Msg {
    Window window;
    std::uint32_t message;
    WParam wParam;
    LParam lParam;
};

// ---- Message values (Win32's) ---------------------------------------------
inline constexpr std::uint32_t WM_CREATE = 0x0001;
inline constexpr std::uint32_t WM_DESTROY = 0x0002;
inline constexpr std::uint32_t WM_SIZE = 0x0005;
inline constexpr std::uint32_t WM_SETTEXT = 0x000C;
inline constexpr std::uint32_t WM_PAINT = 0x000F;
inline constexpr std::uint32_t WM_CLOSE = 0x0010;
inline constexpr std::uint32_t WM_QUIT = 0x0012;
inline constexpr std::uint32_t WM_ERASEBKGND = 0x0014;
inline constexpr std::uint32_t WM_SHOWWINDOW = 0x0018;
inline constexpr std::uint32_t WM_ACTIVATEAPP = 0x001C;
inline constexpr std::uint32_t WM_SETCURSOR = 0x0020;
inline constexpr std::uint32_t WM_HELP = 0x0053;
inline constexpr std::uint32_t WM_CONTEXTMENU = 0x007B;
inline constexpr std::uint32_t WM_KEYDOWN = 0x0100;
inline constexpr std::uint32_t WM_KEYUP = 0x0101;
inline constexpr std::uint32_t WM_CHAR = 0x0102;
inline constexpr std::uint32_t WM_SYSKEYDOWN = 0x0104;
inline constexpr std::uint32_t WM_INITDIALOG = 0x0110;
inline constexpr std::uint32_t WM_COMMAND = 0x0111;
inline constexpr std::uint32_t WM_SYSCOMMAND = 0x0112;
inline constexpr std::uint32_t WM_TIMER = 0x0113;
inline constexpr std::uint32_t WM_MOUSEMOVE = 0x0200;
inline constexpr std::uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr std::uint32_t WM_LBUTTONUP = 0x0202;
inline constexpr std::uint32_t WM_LBUTTONDBLCLK = 0x0203;
inline constexpr std::uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr std::uint32_t WM_MBUTTONDOWN = 0x0207;
inline constexpr std::uint32_t WM_MOUSEWHEEL = 0x020A;
inline constexpr std::uint32_t WM_APP = 0x8000;

inline constexpr WParam SC_NEXTWINDOW = 0xF040;
inline constexpr WParam SC_PREVWINDOW = 0xF050;
inline constexpr WParam SC_CLOSE = 0xF060;
inline constexpr WParam SC_SCREENSAVE = 0xF140;

inline constexpr std::uint32_t PM_REMOVE = 0x0001;
inline constexpr std::uint32_t PM_NOYIELD = 0x0002;

// ---- Styles and other values -----------------------------------------------
inline constexpr std::uint32_t CS_VREDRAW = 0x0001;
inline constexpr std::uint32_t CS_HREDRAW = 0x0002;
inline constexpr std::uint32_t CS_DBLCLKS = 0x0008;
inline constexpr std::uint32_t CS_OWNDC = 0x0020;

inline constexpr std::uint32_t WS_POPUP = 0x80000000u;
inline constexpr std::uint32_t WS_CHILD = 0x40000000u;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000u;
inline constexpr std::uint32_t WS_CLIPSIBLINGS = 0x04000000u;
inline constexpr std::uint32_t WS_CLIPCHILDREN = 0x02000000u;
inline constexpr std::uint32_t WS_EX_TOPMOST = 0x00000008u;

inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;

inline constexpr std::uint32_t MB_OK = 0x00000000u;
inline constexpr std::uint32_t MB_ICONERROR = 0x00000010u;
inline constexpr std::uint32_t MB_ICONINFORMATION = 0x00000040u;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

inline constexpr std::uint32_t OFN_HIDEREADONLY = 0x00000004u;
inline constexpr std::uint32_t OFN_CREATEPROMPT = 0x00002000u;

inline constexpr std::uint32_t SPI_SCREENSAVERRUNNING = 97;
inline constexpr std::uint32_t VER_PLATFORM_WIN32_WINDOWS = 1;

inline constexpr Key HKEY_CURRENT_USER = 0x80000001u;

// ---- Windows, messages, loop, timers ---------------------------------------
struct WindowClass {
    std::uint32_t style;
    WindowProc windowProc;
    Module instance;
    int iconResource;        // LoadIconA(instance, iconResource); none exists
    const char* className;   // background is always the stock black brush
};

bool RegisterClassA(const WindowClass& windowClass);
// The class's window procedure sees WM_CREATE before this returns.
Window CreateWindowExA(std::uint32_t exStyle, const char* className, const char* title,
                       std::uint32_t style, std::int32_t x, std::int32_t y, std::int32_t width,
                       std::int32_t height, Window parent, Module instance);
LResult DefWindowProcA(Window window, std::uint32_t message, WParam wParam, LParam lParam);
bool PostMessageA(Window window, std::uint32_t message, WParam wParam, LParam lParam);
LResult SendMessageA(Window window, std::uint32_t message, WParam wParam, LParam lParam);
// Removes (PM_REMOVE) or looks at the first pending message of the window in
// [first, last]; true when there was one.
bool PeekMessageA(Msg* msg, Window window, std::uint32_t first, std::uint32_t last,
                  std::uint32_t flags);
void PostQuitMessage(int exitCode);
// 0 when the quit message arrives (its code then in msg->wParam), -1 on error.
int GetMessageA(Msg* msg);
void TranslateMessage(const Msg* msg);
LResult DispatchMessageA(const Msg* msg);
std::uintptr_t SetTimer(Window window, std::uintptr_t id, std::uint32_t periodMs);
bool KillTimer(Window window, std::uintptr_t id);

bool IsWindow(Window window);
Window GetParent(Window window);
Window FindWindowA(const char* className, const char* title);
bool SetForegroundWindow(Window window);
Window GetForegroundWindow();
bool GetClientRect(Window window, Rect* rect);
int GetSystemMetrics(int index);

// ---- Drawing ---------------------------------------------------------------
// WM_ERASEBKGND's work: GetDC, FillRect of the client rectangle with the stock
// BLACK_BRUSH, ReleaseDC.
void FillClientBlack(Window window);

struct FrameSurface;  // memory DC with a 32-bit bitmap selected into it

struct TextMetrics {
    std::int32_t height;
    std::int32_t averageCharWidth;
    std::int32_t externalLeading;
};

// GetDC, CreateCompatibleDC, a 32-bit bitmap of width x height selected into
// it, ReleaseDC. Null when any step fails. Window 0 (the screen's DC) makes
// a surface for drawing off screen.
FrameSurface* CreateFrameSurface(Window window, std::int32_t width, std::int32_t height);
// Deletes the bitmap and the memory DC.
void DestroyFrameSurface(FrameSurface* surface);
// PatBlt(BLACKNESS) over the whole surface.
void BlackenFrameSurface(FrameSurface* surface);
// PatBlt(BLACKNESS) over `rect` (right and bottom excluded), clipped to the surface.
void BlackenFrameSurfaceRect(FrameSurface* surface, const Rect& rect);
// The surface's bits for direct writes; valid until the next call of a text
// or blit operation on it (Windows flushes GDI before handing them out).
PixelSurface* FrameSurfacePixels(FrameSurface* surface);
// GetTextMetricsA in the memory DC's default font.
TextMetrics GetFrameSurfaceTextMetrics(FrameSurface* surface);
// SetBkColor(background), SetTextColor(text), TextOutA(x, y, text). Colours are
// packed red | green << 8 | blue << 16 as in Win32.
void FrameSurfaceTextOut(FrameSurface* surface, std::int32_t x, std::int32_t y, const char* text,
                         std::uint32_t textColour, std::uint32_t backgroundColour);
// GetDC(window), BitBlt SRCCOPY of width x height at (0,0), ReleaseDC.
void ShowFrameSurface(Window window, FrameSurface* surface, std::int32_t width,
                      std::int32_t height);
// The same for `rect` of the surface (right and bottom excluded), clipped to
// it, copied to the same place in the window.
void ShowFrameSurfaceRect(Window window, FrameSurface* surface, const Rect& rect);

// ---- Dialogs ---------------------------------------------------------------
int MessageBoxA(Window owner, const char* text, const char* caption, std::uint32_t type);
// Runs the modal dialog of the given template (a resource of the program). The
// procedure gets WM_INITDIALOG with `param` first. Returns EndDialog's value,
// or -1 when the dialog cannot be created.
std::intptr_t DialogBoxParamA(Module instance, int templateId, Window owner,
                              DialogProc dialogProc, LParam param);
bool EndDialog(Window dialog, std::intptr_t result);
bool SetDlgItemTextA(Window dialog, int itemId, const char* text);
// Copies at most bufferSize - 1 characters and a terminator; the length copied.
std::uint32_t GetDlgItemTextA(Window dialog, int itemId, char* buffer, int bufferSize);
void InitCommonControls();

// The 76-byte OPENFILENAMEA of the oldest common-dialog version, field by field.
struct OpenFileName {
    std::uint32_t structSize;
    Window owner;
    Module instance;
    const char* filter;  // pairs of texts, ended by an empty text
    char* customFilter;
    std::uint32_t maxCustomFilter;
    std::uint32_t filterIndex;
    char* file;
    std::uint32_t maxFile;
    char* fileTitle;
    std::uint32_t maxFileTitle;
    const char* initialDir;
    const char* title;
    std::uint32_t flags;
    std::uint16_t fileOffset;
    std::uint16_t fileExtension;
    const char* defaultExtension;
    LParam customData;
    void* hook;
    const char* templateName;
};
bool GetOpenFileNameA(OpenFileName* ofn);

// ---- Input and time --------------------------------------------------------
void SetCursorNull();  // SetCursor(NULL): hide the cursor
bool GetCursorPos(Point* point);
std::uint32_t GetTickCount();
void Sleep(std::uint32_t ms);

// ---- System ----------------------------------------------------------------
const char* GetCommandLineA();
const char* CharNextA(const char* p);
Module GetModuleHandleA(const char* name);  // null name: the program itself
Module LoadLibraryA(const char* name);
void* GetProcAddress(Module module, const char* name);
bool FreeLibrary(Module module);
// 0 (ERROR_SUCCESS) on success, as Win32.
long RegOpenKeyA(Key parent, const char* subKey, Key* result);
long RegQueryValueExA(Key key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* dataSize);
long RegCloseKey(Key key);
// GetVersionExA's dwPlatformId; false when the call fails.
bool GetVersionPlatformId(std::uint32_t* platformId);
// The processor reports SSE2 and the system saves its state on a task switch.
bool ProcessorHasSse2();
bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, void* data,
                           std::uint32_t flags);
[[noreturn]] void ExitProcess(std::uint32_t exitCode);
// True once the process is being ended (on Linux: a termination signal came).
// Work that runs long without looking at the message queue asks this and
// gives up early; the message loop then ends the program its normal way.
bool StopRequested();

// Runs body(context) under a guard against faults. A fault that escapes it is
// given to the platform's default handling; when the guard is to handle it,
// onFault runs (it must be async-signal-safe on Linux) and the process ends.
std::int32_t RunUnderFaultGuard(std::int32_t (*body)(void* context), void* context,
                                void (*onFault)());

// ---- Files -----------------------------------------------------------------
// fopen(path, "rb") for a plain file only. Anything else (a FIFO, a device, a
// directory) gives null at once: opening a FIFO would wait for a writer for
// good, and reading a device may never end.
std::FILE* OpenFileForReading(const char* path);

// Makes the file at `path` hold exactly these bytes; true when it does. A
// plain file is replaced through a new file beside it and a rename, so that a
// reader sees either the old contents or the new ones, never a mix, and a
// failure part way leaves the old file; the new file keeps the old one's
// permissions and owner. Where that cannot be done (a file with more than one
// name, a file whose attributes the new one could not carry, a directory that
// takes no new file, a refused rename, on Windows a temporary name longer
// than MAX_PATH) the file is overwritten in place from its start and cut to
// the new length only after the whole write, so it never holds less than
// before. Lack of room (a full disk, a quota, a file size limit) on the way
// to the replacement fails the call and leaves the file untouched. A file
// that cannot be opened for writing fails and is left as it is. Each save
// removes the temporary files that killed saves of the same file left.
// On Linux anything but a plain file (a FIFO, a device) fails without
// waiting; in a folder that someone besides the user and root can write
// (/tmp, another user's folder, a shared group's) a symbolic link is never
// followed and a file the user does not own is never written: the call
// fails. In the user's own folders a symbolic link is followed and the file
// it names replaced in its own directory, the link kept. On Windows links
// and devices are written in place.
bool ReplaceFileContents(const char* path, const void* bytes, std::size_t size);

// Makes every missing directory above the file `path` names, open to the
// user alone (mode 0700), as a per-user settings file's first save needs;
// true when they all exist afterwards. The Windows program keeps its
// settings in its own directory, which is never made: there it makes
// nothing and returns false.
bool CreateParentDirectories(const char* path);

// Where this user's settings file lies, where the platform keeps one per
// user: true, with the file's full path in `out`, or `out` empty when there
// is no place for it (no home folder known, a path longer than outSize - 1,
// which is told on stderr): loading then gives the defaults and saving
// fails visibly, rather than a cut path naming another file. False where
// the settings lie by the program's own path instead (Windows): the path
// rule then applies to GetCommandLineA(), with kPathSeparator between
// directories.
bool SettingsFileLocation(char* out, std::size_t outSize);

// kMaxPath: the longest path the file calls take, its terminator included
// (MAX_PATH on Windows, PATH_MAX on Linux).
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
inline constexpr std::size_t kMaxPath = 260;
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::size_t kMaxPath = 4096;
#endif

// ---- Memory ----------------------------------------------------------------
// GlobalAlloc(GMEM_FIXED) + GlobalLock; null on failure. GlobalFree releases.
void* GlobalAllocFixed(std::size_t bytes);
void GlobalFree(void* memory);
// The address space the process may still take, less what the platform's own
// windows, boxes and fonts will want later; UINT64_MAX when nothing limits
// it. A limit set on the process (ulimit -v) makes this small long before
// memory runs out, and a box that cannot be built then crashes instead.
std::uint64_t AddressSpaceLeft();

// ---- Diagnostics -----------------------------------------------------------
// The few lines a windowed process does not show, formatted as printf does.
// A line that cannot be written at once (a full pipe nobody reads, a reader
// gone) is dropped: a diagnostic never holds the program up. Lines longer
// than 4095 bytes are cut.
enum class DiagnosticStream { Output, Error };
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void WriteDiagnostic(DiagnosticStream stream, const char* format, ...);

#if !defined(_WIN32)
// ---- Starting the Linux program ----------------------------------------------
// Where the program's own options ask it to draw besides its modes: into a
// window of another program, as a screen-saver daemon's hack does.
struct DrawTarget {
    enum Kind { CommandLine, RootWindow, GivenWindow } kind;
    Window window;  // GivenWindow: the window; 0 when the options named none
};

enum class StartResult {
    CommandLine,     // the host reads the command line as it is
    IntoWindow,      // the command line is now the host's preview of the target
    WindowUnusable,  // the target is no window that can be drawn in
    Failed,          // no display to draw on; a line on stderr said why
};

// Called first by the Linux main, where a Windows program gets its command
// line and links its compiled .rc: the arguments GetCommandLineA is built
// from, and the dialog table DialogBoxParamA(templateId) builds (it must live
// as long as the program). Ignores SIGPIPE (a diagnostic whose reader is
// gone is dropped, not fatal) and puts the clean ending on SIGTERM, SIGINT
// and SIGHUP in place for every mode; refuses (Failed) when the descriptors
// a run needs cannot be opened; then says what `target` means on this
// display. A program drawing into another's window that a termination signal
// ends also ends by that signal after its tear-down, as a daemon expects.
StartResult StartLinuxProgram(int argc, char** argv, int templateId,
                              const DialogTemplate& dialog, const DrawTarget& target);

// True when the process may open `count` more file descriptors now: free
// numbers below its limit (RLIMIT_NOFILE). A program checks this at start
// against what its run needs, so that it refuses with a line of its own
// rather than a library aborting when an open fails.
bool CanOpenDescriptors(int count);
#endif

}  // namespace plat
