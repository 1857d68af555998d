// Stands in for the system's MPR.DLL in the change-password test: records the
// four arguments of PwdChangePasswordA to mprlog.txt beside this DLL.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {
HMODULE self = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) self = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) DWORD WINAPI PwdChangePasswordA(LPCSTR provider, HWND owner,
                                                                 DWORD reserved1,
                                                                 LPVOID reserved2) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    while (n > 0 && path[n - 1] != '\\' && path[n - 1] != '/') --n;
    path[n] = '\0';
    std::strncat(path, "mprlog.txt", MAX_PATH - n - 1);
    if (std::FILE* log = std::fopen(path, "wb")) {
        std::fprintf(log, "%s %llu %lu %llu\n", provider != nullptr ? provider : "(null)",
                     static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(owner)),
                     static_cast<unsigned long>(reserved1),
                     static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(reserved2)));
        std::fclose(log);
    }
    return 0;
}
