// Runs a body under the real platform's fault guard. "fault MARKER" makes the
// body write through a null pointer; the guard's handler writes MARKER. "clean"
// returns 42 from the body, which must come back unchanged.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

namespace {

const char* marker = nullptr;
volatile int* volatile nowhere = nullptr;

std::int32_t faultingBody(void*) {
    *nowhere = 1;
    return 0;
}

std::int32_t cleanBody(void*) { return 42; }

void onFault() {
    HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, "handled\n", 8, &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int main(int argc, char** argv) {
    // No crash dialog or debugger: the test wants the guard's decision only.
    SetErrorMode(SEM_NOGPFAULTERRORBOX);
    if (argc >= 3 && std::strcmp(argv[1], "fault") == 0) {
        marker = argv[2];
        return plat::RunUnderFaultGuard(faultingBody, nullptr, onFault);
    }
    if (argc >= 2 && std::strcmp(argv[1], "clean") == 0)
        return plat::RunUnderFaultGuard(cleanBody, nullptr, onFault);
    return 2;
}
