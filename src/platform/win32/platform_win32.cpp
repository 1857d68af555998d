// platform.h on the real Win32 API: each operation is the call it is named
// after. The only work done here is translating between the portable types
// (integer handles, plain function pointers, fixed-width fields) and the
// Windows ones, so that the same sources are right for 32-bit and 64-bit.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#if defined(__i386__)
#include <cpuid.h>
#endif

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

template <typename H>
H toHandle(std::uintptr_t value) {
    return reinterpret_cast<H>(value);
}

template <typename H>
std::uintptr_t fromHandle(H handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

HWND hwnd(plat::Window window) { return toHandle<HWND>(window); }

// The predefined registry roots are negative 32-bit numbers sign-extended to
// pointer width; the portable value 0x80000001 is only the low half.
HKEY toKey(plat::Key key) {
    if (key >= 0x80000000u && key <= 0x800000FFu)
        return toHandle<HKEY>(static_cast<std::uintptr_t>(
            static_cast<std::intptr_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(key)))));
    return toHandle<HKEY>(key);
}

// ---- window procedures ----------------------------------------------------
// Windows calls window procedures with its own calling convention, the
// portable ones are plain functions: every registered class gets the one
// trampoline below, which finds the portable procedure by the class's atom.
struct ClassProc {
    ATOM atom;
    plat::WindowProc proc;
};
std::array<ClassProc, 8> classProcs{};

LRESULT CALLBACK classTrampoline(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const auto atom = static_cast<ATOM>(GetClassWord(window, GCW_ATOM));
    for (const ClassProc& entry : classProcs)
        if (entry.atom == atom && entry.proc != nullptr)
            return entry.proc(fromHandle(window), message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

// Modal dialogs nest at most through a message box, never dialog in dialog,
// but the current procedure is saved around each run all the same.
plat::DialogProc currentDialogProc = nullptr;

INT_PTR CALLBACK dialogTrampoline(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (currentDialogProc == nullptr) return FALSE;
    return currentDialogProc(fromHandle(dialog), message, wParam, lParam);
}

void toPortable(const MSG& in, plat::Msg* out) {
    out->window = fromHandle(in.hwnd);
    out->message = in.message;
    out->wParam = in.wParam;
    out->lParam = in.lParam;
}

MSG fromPortable(const plat::Msg& in) {
    MSG out{};
    out.hwnd = hwnd(in.window);
    out.message = in.message;
    out.wParam = in.wParam;
    out.lParam = in.lParam;
    out.time = static_cast<DWORD>(GetMessageTime());
    const DWORD pos = GetMessagePos();
    out.pt.x = static_cast<short>(LOWORD(pos));
    out.pt.y = static_cast<short>(HIWORD(pos));
    return out;
}

// ---- frame counter for speed measurements ---------------------------------
// When ROVANTA_FRAME_LOG names a file, every shown frame is counted and the
// count with the milliseconds since the first frame is written to that file
// each second and when the surface goes away; the saver is otherwise unaware.
struct FrameLog {
    bool checked = false;
    char path[MAX_PATH] = {};
    std::uint32_t frames = 0;
    DWORD firstTick = 0;
    DWORD lastWrite = 0;
};
FrameLog frameLog;

void writeFrameLog() {
    if (frameLog.path[0] == '\0' || frameLog.frames == 0) return;
    std::FILE* file = std::fopen(frameLog.path, "w");
    if (file == nullptr) return;
    std::fprintf(file, "frames %lu ms %lu\n", static_cast<unsigned long>(frameLog.frames),
                 static_cast<unsigned long>(GetTickCount() - frameLog.firstTick));
    std::fclose(file);
}

void countFrame() {
    if (!frameLog.checked) {
        frameLog.checked = true;
        const DWORD n = GetEnvironmentVariableA("ROVANTA_FRAME_LOG", frameLog.path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) frameLog.path[0] = '\0';
    }
    if (frameLog.path[0] == '\0') return;
    const DWORD now = GetTickCount();
    if (frameLog.frames++ == 0) {
        frameLog.firstTick = now;
        frameLog.lastWrite = now;
    }
    if (now - frameLog.lastWrite >= 1000) {
        frameLog.lastWrite = now;
        writeFrameLog();
    }
}

// ---- fault guard ------------------------------------------------------------
struct FaultGuard {
    void (*onFault)() = nullptr;
    LPTOP_LEVEL_EXCEPTION_FILTER previous = nullptr;
    bool inFilter = false;
};
FaultGuard faultGuard;

LONG WINAPI guardFilter(EXCEPTION_POINTERS* info) {
    // UnhandledExceptionFilter calls the installed top-level filter itself, so
    // ours steps aside while the platform decides, or it would be asked again.
    if (faultGuard.inFilter) return EXCEPTION_CONTINUE_SEARCH;
    faultGuard.inFilter = true;
    SetUnhandledExceptionFilter(faultGuard.previous);
    const LONG decision = UnhandledExceptionFilter(info);
    if (decision == EXCEPTION_EXECUTE_HANDLER && faultGuard.onFault != nullptr)
        faultGuard.onFault();
    return decision;
}

}  // namespace

// The frame surface: a top-down 32-bit DIB section selected into a memory DC,
// so the renderer writes into the very bits BitBlt copies to the window.
struct plat::FrameSurface {
    HDC memoryDc;
    HBITMAP bitmap;
    HGDIOBJ previousBitmap;
    PixelSurface pixels;
};

namespace plat {

// ---- windows, messages, loop, timers ----------------------------------------
bool RegisterClassA(const WindowClass& windowClass) {
    ClassProc* slot = nullptr;
    for (ClassProc& entry : classProcs)
        if (entry.atom == 0) {
            slot = &entry;
            break;
        }
    if (slot == nullptr) return false;

    WNDCLASSA wc{};
    wc.style = windowClass.style;
    wc.lpfnWndProc = classTrampoline;
    wc.hInstance = toHandle<HINSTANCE>(windowClass.instance);
    wc.hIcon = LoadIconA(wc.hInstance, MAKEINTRESOURCEA(windowClass.iconResource));
    wc.hCursor = nullptr;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = windowClass.className;
    const ATOM atom = ::RegisterClassA(&wc);
    if (atom == 0) return false;
    slot->atom = atom;
    slot->proc = windowClass.windowProc;
    return true;
}

Window CreateWindowExA(std::uint32_t exStyle, const char* className, const char* title,
                       std::uint32_t style, std::int32_t x, std::int32_t y, std::int32_t width,
                       std::int32_t height, Window parent, Module instance) {
    return fromHandle(::CreateWindowExA(exStyle, className, title, style, x, y, width, height,
                                        hwnd(parent), nullptr, toHandle<HINSTANCE>(instance),
                                        nullptr));
}

LResult DefWindowProcA(Window window, std::uint32_t message, WParam wParam, LParam lParam) {
    return ::DefWindowProcA(hwnd(window), message, wParam, lParam);
}

bool PostMessageA(Window window, std::uint32_t message, WParam wParam, LParam lParam) {
    return ::PostMessageA(hwnd(window), message, wParam, lParam) != FALSE;
}

LResult SendMessageA(Window window, std::uint32_t message, WParam wParam, LParam lParam) {
    return ::SendMessageA(hwnd(window), message, wParam, lParam);
}

bool PeekMessageA(Msg* msg, Window window, std::uint32_t first, std::uint32_t last,
                  std::uint32_t flags) {
    MSG m{};
    if (!::PeekMessageA(&m, hwnd(window), first, last, flags)) return false;
    if (msg != nullptr) toPortable(m, msg);
    return true;
}

void PostQuitMessage(int exitCode) { ::PostQuitMessage(exitCode); }

int GetMessageA(Msg* msg) {
    MSG m{};
    const BOOL got = ::GetMessageA(&m, nullptr, 0, 0);
    toPortable(m, msg);
    if (got == -1) return -1;
    return got == 0 ? 0 : 1;
}

void TranslateMessage(const Msg* msg) {
    const MSG m = fromPortable(*msg);
    ::TranslateMessage(&m);
}

LResult DispatchMessageA(const Msg* msg) {
    const MSG m = fromPortable(*msg);
    return ::DispatchMessageA(&m);
}

std::uintptr_t SetTimer(Window window, std::uintptr_t id, std::uint32_t periodMs) {
    return ::SetTimer(hwnd(window), id, periodMs, nullptr);
}

bool KillTimer(Window window, std::uintptr_t id) { return ::KillTimer(hwnd(window), id) != FALSE; }

bool IsWindow(Window window) { return ::IsWindow(hwnd(window)) != FALSE; }

Window GetParent(Window window) { return fromHandle(::GetParent(hwnd(window))); }

Window FindWindowA(const char* className, const char* title) {
    return fromHandle(::FindWindowA(className, title));
}

bool SetForegroundWindow(Window window) { return ::SetForegroundWindow(hwnd(window)) != FALSE; }

Window GetForegroundWindow() { return fromHandle(::GetForegroundWindow()); }

bool GetClientRect(Window window, Rect* rect) {
    RECT r{};
    if (!::GetClientRect(hwnd(window), &r)) return false;
    *rect = {static_cast<std::int32_t>(r.left), static_cast<std::int32_t>(r.top),
             static_cast<std::int32_t>(r.right), static_cast<std::int32_t>(r.bottom)};
    return true;
}

int GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

// ---- drawing ------------------------------------------------------------------
void FillClientBlack(Window window) {
    HDC dc = GetDC(hwnd(window));
    if (dc == nullptr) return;
    RECT r{};
    ::GetClientRect(hwnd(window), &r);
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ReleaseDC(hwnd(window), dc);
}

FrameSurface* CreateFrameSurface(Window window, std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return nullptr;
    HDC windowDc = GetDC(hwnd(window));
    if (windowDc == nullptr) return nullptr;
    HDC memoryDc = CreateCompatibleDC(windowDc);

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // negative: top row first, as PixelSurface wants
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = memoryDc != nullptr
                         ? CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0)
                         : nullptr;
    ReleaseDC(hwnd(window), windowDc);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr) DeleteObject(bitmap);
        if (memoryDc != nullptr) DeleteDC(memoryDc);
        return nullptr;
    }

    auto* surface = new (std::nothrow) FrameSurface{};
    if (surface == nullptr) {
        DeleteObject(bitmap);
        DeleteDC(memoryDc);
        return nullptr;
    }
    surface->memoryDc = memoryDc;
    surface->bitmap = bitmap;
    surface->previousBitmap = SelectObject(memoryDc, bitmap);
    // A 32-bit DIB row is width pixels: rows are padded to 4 bytes, which a
    // 4-byte pixel always is.
    surface->pixels = {static_cast<std::uint32_t*>(bits), width, height, width};
    return surface;
}

void DestroyFrameSurface(FrameSurface* surface) {
    if (surface == nullptr) return;
    writeFrameLog();
    SelectObject(surface->memoryDc, surface->previousBitmap);
    DeleteObject(surface->bitmap);
    DeleteDC(surface->memoryDc);
    delete surface;
}

void BlackenFrameSurface(FrameSurface* surface) {
    if (surface == nullptr) return;
    PatBlt(surface->memoryDc, 0, 0, surface->pixels.width, surface->pixels.height, BLACKNESS);
}

void BlackenFrameSurfaceRect(FrameSurface* surface, const Rect& rect) {
    if (surface == nullptr || rect.right <= rect.left || rect.bottom <= rect.top) return;
    PatBlt(surface->memoryDc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
           BLACKNESS);
}

PixelSurface* FrameSurfacePixels(FrameSurface* surface) {
    if (surface == nullptr) return nullptr;
    // GDI may still be queueing the PatBlt or TextOut into these bits.
    GdiFlush();
    return &surface->pixels;
}

TextMetrics GetFrameSurfaceTextMetrics(FrameSurface* surface) {
    TEXTMETRICA tm{};
    if (surface == nullptr || !::GetTextMetricsA(surface->memoryDc, &tm)) return {0, 0, 0};
    return {static_cast<std::int32_t>(tm.tmHeight), static_cast<std::int32_t>(tm.tmAveCharWidth),
            static_cast<std::int32_t>(tm.tmExternalLeading)};
}

void FrameSurfaceTextOut(FrameSurface* surface, std::int32_t x, std::int32_t y, const char* text,
                         std::uint32_t textColour, std::uint32_t backgroundColour) {
    if (surface == nullptr || text == nullptr) return;
    SetBkColor(surface->memoryDc, backgroundColour);
    SetTextColor(surface->memoryDc, textColour);
    ::TextOutA(surface->memoryDc, x, y, text, static_cast<int>(std::strlen(text)));
}

void ShowFrameSurface(Window window, FrameSurface* surface, std::int32_t width,
                      std::int32_t height) {
    if (surface == nullptr) return;
    HDC dc = GetDC(hwnd(window));
    if (dc == nullptr) return;
    BitBlt(dc, 0, 0, width, height, surface->memoryDc, 0, 0, SRCCOPY);
    ReleaseDC(hwnd(window), dc);
    countFrame();
}

void ShowFrameSurfaceRect(Window window, FrameSurface* surface, const Rect& rect) {
    if (surface == nullptr || rect.right <= rect.left || rect.bottom <= rect.top) return;
    HDC dc = GetDC(hwnd(window));
    if (dc == nullptr) return;
    BitBlt(dc, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
           surface->memoryDc, rect.left, rect.top, SRCCOPY);
    ReleaseDC(hwnd(window), dc);
    countFrame();
}

// ---- dialogs --------------------------------------------------------------------
int MessageBoxA(Window owner, const char* text, const char* caption, std::uint32_t type) {
    return ::MessageBoxA(hwnd(owner), text, caption, type);
}

std::intptr_t DialogBoxParamA(Module instance, int templateId, Window owner,
                              DialogProc dialogProc, LParam param) {
    const DialogProc saved = currentDialogProc;
    currentDialogProc = dialogProc;
    const INT_PTR result =
        ::DialogBoxParamA(toHandle<HINSTANCE>(instance), MAKEINTRESOURCEA(templateId),
                          hwnd(owner), dialogTrampoline, param);
    currentDialogProc = saved;
    return result;
}

bool EndDialog(Window dialog, std::intptr_t result) {
    return ::EndDialog(hwnd(dialog), result) != FALSE;
}

bool SetDlgItemTextA(Window dialog, int itemId, const char* text) {
    return ::SetDlgItemTextA(hwnd(dialog), itemId, text) != FALSE;
}

std::uint32_t GetDlgItemTextA(Window dialog, int itemId, char* buffer, int bufferSize) {
    if (buffer == nullptr || bufferSize <= 0) return 0;
    buffer[0] = '\0';
    return ::GetDlgItemTextA(hwnd(dialog), itemId, buffer, bufferSize);
}

void InitCommonControls() { ::InitCommonControls(); }

#if !defined(_WIN64)
// The 32-bit program hands every Windows the oldest file-open record, which
// all of them take; only here does the portable record match it byte for
// byte, as the dialog's size field (76) claims.
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == 76,
              "the oldest OPENFILENAMEA (up to lpTemplateName) is 76 bytes");
static_assert(sizeof(OpenFileName) == 76, "the portable record mirrors the 76-byte OPENFILENAMEA");
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) == offsetof(OpenFileName, templateName),
              "the portable record's fields lie where Windows' do");
#endif

bool GetOpenFileNameA(OpenFileName* ofn) {
    if (ofn == nullptr) return false;
    OPENFILENAMEA real{};
    // The portable record mirrors the 76-byte 32-bit layout field by field;
    // Windows learns the old size in its own pointer width.
    real.lStructSize =
        ofn->structSize == 76 ? OPENFILENAME_SIZE_VERSION_400A : sizeof(OPENFILENAMEA);
    real.hwndOwner = hwnd(ofn->owner);
    real.hInstance = toHandle<HINSTANCE>(ofn->instance);
    real.lpstrFilter = ofn->filter;
    real.lpstrCustomFilter = ofn->customFilter;
    real.nMaxCustFilter = ofn->maxCustomFilter;
    real.nFilterIndex = ofn->filterIndex;
    real.lpstrFile = ofn->file;
    real.nMaxFile = ofn->maxFile;
    real.lpstrFileTitle = ofn->fileTitle;
    real.nMaxFileTitle = ofn->maxFileTitle;
    real.lpstrInitialDir = ofn->initialDir;
    real.lpstrTitle = ofn->title;
    // A hook would need the Windows calling convention; the portable record
    // has none to offer, so hooks are refused rather than called wrongly.
    real.Flags = ofn->flags & ~static_cast<DWORD>(OFN_ENABLEHOOK);
    real.nFileOffset = ofn->fileOffset;
    real.nFileExtension = ofn->fileExtension;
    real.lpstrDefExt = ofn->defaultExtension;
    real.lCustData = ofn->customData;
    real.lpfnHook = nullptr;
    real.lpTemplateName = ofn->templateName;
    const BOOL chosen = ::GetOpenFileNameA(&real);
    ofn->filterIndex = real.nFilterIndex;
    ofn->flags = real.Flags;
    ofn->fileOffset = real.nFileOffset;
    ofn->fileExtension = real.nFileExtension;
    return chosen != FALSE;
}

// ---- input and time -----------------------------------------------------------------
void SetCursorNull() { ::SetCursor(nullptr); }

bool GetCursorPos(Point* point) {
    POINT p{};
    if (!::GetCursorPos(&p)) return false;
    *point = {static_cast<std::int32_t>(p.x), static_cast<std::int32_t>(p.y)};
    return true;
}

std::uint32_t GetTickCount() { return ::GetTickCount(); }

void Sleep(std::uint32_t ms) { ::Sleep(ms); }

// ---- system ----------------------------------------------------------------------------
const char* GetCommandLineA() { return ::GetCommandLineA(); }

const char* CharNextA(const char* p) { return ::CharNextA(p); }

Module GetModuleHandleA(const char* name) { return fromHandle(::GetModuleHandleA(name)); }

Module LoadLibraryA(const char* name) { return fromHandle(::LoadLibraryA(name)); }

void* GetProcAddress(Module module, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(toHandle<HMODULE>(module), name));
}

bool FreeLibrary(Module module) { return ::FreeLibrary(toHandle<HMODULE>(module)) != FALSE; }

long RegOpenKeyA(Key parent, const char* subKey, Key* result) {
    HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyA(toKey(parent), subKey, &opened);
    *result = status == ERROR_SUCCESS ? fromHandle(opened) : 0;
    return status;
}

long RegQueryValueExA(Key key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* dataSize) {
    DWORD realType = 0;
    DWORD size = dataSize != nullptr ? *dataSize : 0;
    const LONG status = ::RegQueryValueExA(toKey(key), valueName, nullptr, &realType, data,
                                           dataSize != nullptr ? &size : nullptr);
    if (type != nullptr) *type = realType;
    if (dataSize != nullptr) *dataSize = size;
    return status;
}

long RegCloseKey(Key key) { return ::RegCloseKey(toKey(key)); }

bool GetVersionPlatformId(std::uint32_t* platformId) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!::GetVersionExA(&info)) return false;
    *platformId = info.dwPlatformId;
    return true;
}

bool ProcessorHasSse2() {
#if defined(__x86_64__)
    return true;
#elif defined(__i386__)
    // CPUID leaf 1, EDX bit 26 says what the processor has; only the system
    // can say whether it saves the XMM registers on a task switch. Windows 95
    // does not, and has no IsProcessorFeaturePresent to ask, so the call is
    // looked up rather than imported.
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (edx & bit_SSE2) == 0) return false;
    const HMODULE kernel = ::GetModuleHandleA("KERNEL32.DLL");
    if (kernel == nullptr) return false;
    using FeatureQuery = BOOL(WINAPI*)(DWORD);
    const auto present = reinterpret_cast<FeatureQuery>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel, "IsProcessorFeaturePresent")));
    return present != nullptr && present(10) != 0;  // PF_XMMI64_INSTRUCTIONS_AVAILABLE
#else
    return false;
#endif
}

bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, void* data,
                           std::uint32_t flags) {
    return ::SystemParametersInfoA(action, param, data, flags) != FALSE;
}

void ExitProcess(std::uint32_t exitCode) { ::ExitProcess(exitCode); }

// Windows ends a saver by messages (or outright); nothing asks work to stop.
bool StopRequested() { return false; }

std::int32_t RunUnderFaultGuard(std::int32_t (*body)(void* context), void* context,
                                void (*onFault)()) {
    // No __try in mingw: the top-level filter sees every fault that nothing
    // below handled, which is exactly a fault that escapes the body.
    faultGuard.onFault = onFault;
    faultGuard.inFilter = false;
    faultGuard.previous = SetUnhandledExceptionFilter(guardFilter);
    const std::int32_t result = body(context);
    SetUnhandledExceptionFilter(faultGuard.previous);
    faultGuard.onFault = nullptr;
    return result;
}

// ---- memory ------------------------------------------------------------------------------
void* GlobalAllocFixed(std::size_t bytes) {
    HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, bytes);
    if (block == nullptr) return nullptr;
    void* memory = ::GlobalLock(block);
    if (memory == nullptr) ::GlobalFree(block);
    return memory;
}

void GlobalFree(void* memory) {
    if (memory == nullptr) return;
    HGLOBAL block = ::GlobalHandle(memory);
    if (block == nullptr) return;
    ::GlobalUnlock(block);
    ::GlobalFree(block);
}

// A 32-bit process on a large machine has 2 GiB of its own; what is left of
// it after the pictures must still hold the boxes and the dialog.
std::uint64_t AddressSpaceLeft() {
    constexpr std::uint64_t kToolkitAddressSpace = std::uint64_t{64} << 20;
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    ::GlobalMemoryStatus(&status);
    const std::uint64_t available = status.dwAvailVirtual;
    return available > kToolkitAddressSpace ? available - kToolkitAddressSpace : 0;
}

// A GUI program's streams are usually nowhere; where they lead to a file or a
// pipe, a line is written as it comes.
void WriteDiagnostic(DiagnosticStream stream, const char* format, ...) {
    std::FILE* file = stream == DiagnosticStream::Output ? stdout : stderr;
    va_list args;
    va_start(args, format);
    std::vfprintf(file, format, args);
    va_end(args);
    std::fflush(file);
}

}  // namespace plat
