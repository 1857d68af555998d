// A stand-in for the desktop's preview pane: a 400 x 300 top-level window at
// (100, 100). Writes its handle in decimal to argv[1] and destroys the window
// once the file argv[2] exists, so a test decides when the pane goes away.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const char* closeFile = nullptr;

LRESULT CALLBACK parentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
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

    std::FILE* out = std::fopen(__argv[1], "w");
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
