// rovanta.scr, the Windows program. The runtime's start-up code calls WinMain;
// the host takes over from there and reads the command line itself. The
// configuration dialog comes from rovanta.rc, linked into the program.
//
// platform.h comes before windows.h: it names its constants as Win32 does,
// and windows.h would turn those names into macros.
#include "host/host_entry.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { hostEntry(); }
