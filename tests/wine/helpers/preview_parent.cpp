// A stand-in for the desktop's preview pane: a 400 x 300 top-level window at
// (100, 100). Writes its handle in decimal to argv[1] and destroys the window
// once the file argv[2] exists, so a test decides when the pane goes away.
// Every 100 ms it lists its child windows in argv[3] ("class|title|w|h"),
// which lets a test see the preview even where it cannot see its pixels.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const char* closeFile = nullptr;
const char* childrenFile = nullptr;

BOOL CALLBACK listChild(HWND child, LPARAM file) {
    char className[128] = {};
    char title[128] = {};
    GetClassNameA(child, className, sizeof className);
    GetWindowTextA(child, title, sizeof title);
    RECT r{};
    GetClientRect(child, &r);
    std::fprintf(reinterpret_cast<std::FILE*>(file), "%s|%s|%ld|%ld\n", className, title,
                 static_cast<long>(r.right), static_cast<long>(r.bottom));
    return TRUE;
}

void listChildren(HWND window) {
    char temp[MAX_PATH];
    std::snprintf(temp, sizeof temp, "%s.new", childrenFile);
    std::FILE* out = std::fopen(temp, "wb");
    if (out == nullptr) return;
    EnumChildWindows(window, listChild, reinterpret_cast<LPARAM>(out));
    std::fclose(out);
    MoveFileExA(temp, childrenFile, MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK parentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (childrenFile != nullptr) listChildren(window);
        if (GetFileAttributesA(closeFile) != INVALID_FILE_ATTRIBUTES) DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc < 3) return 2;
    closeFile = __argv[2];
    if (__argc > 3) childrenFile = __argv[3];

    WNDCLASSA wc{};
    wc.lpfnWndProc = parentProc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = "RovantaTestParent";
    if (!RegisterClassA(&wc)) return 3;
    HWND window = CreateWindowExA(0, wc.lpszClassName, "Rovanta Preview Parent",
                                  WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 100, 100, 400, 300,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 4;
    SetTimer(window, 1, 100, nullptr);

    std::FILE* out = std::fopen(__argv[1], "wb");
    if (out == nullptr) return 5;
    std::fprintf(out, "%llu\n",
                 static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)));
    std::fclose(out);

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
