// Lists the texts of the top-level window titled argv[1] and of its child
// windows into argv[2], one "class|text" line each, so a test can read what a
// message box or dialog of another process says.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>

namespace {

BOOL CALLBACK listChild(HWND child, LPARAM file) {
    char className[128] = {};
    char text[1024] = {};
    GetClassNameA(child, className, sizeof className);
    // GetWindowTextA gives only the caption of another process's window; an
    // edit box's contents come with WM_GETTEXT, which the system carries over.
    DWORD_PTR length = 0;
    SendMessageTimeoutA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, &length);
    std::fprintf(reinterpret_cast<std::FILE*>(file), "%s|%s\n", className, text);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HWND window = FindWindowA(nullptr, argv[1]);
    if (window == nullptr) return 1;
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) return 3;
    listChild(window, reinterpret_cast<LPARAM>(out));
    EnumChildWindows(window, listChild, reinterpret_cast<LPARAM>(out));
    std::fclose(out);
    return 0;
}
