// A password verifier of our own for the tests. Each call is logged with its
// tick count to pwlog.txt beside this DLL, and the answer is the number in
// pwanswer.txt beside it (0 when there is none).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HMODULE self = nullptr;

void besideMe(const char* name, char* out, DWORD size) {
    DWORD n = GetModuleFileNameA(self, out, size);
    while (n > 0 && out[n - 1] != '\\' && out[n - 1] != '/') --n;
    out[n] = '\0';
    std::strncat(out, name, size - n - 1);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
    char path[MAX_PATH];
    besideMe("pwanswer.txt", path, MAX_PATH);
    int answer = 0;
    if (std::FILE* in = std::fopen(path, "r")) {
        if (std::fscanf(in, "%d", &answer) != 1) answer = 0;
        std::fclose(in);
    }
    besideMe("pwlog.txt", path, MAX_PATH);
    if (std::FILE* log = std::fopen(path, "ab")) {
        std::fprintf(log, "verify %lu window %d answer %d\n", GetTickCount(),
                     IsWindow(window) ? 1 : 0, answer);
        std::fclose(log);
    }
    return answer;
}
