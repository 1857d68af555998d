// State shared by the core's source files. Process-wide, one thread, no locks.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/core/backend.h"
#include "platform/platform.h"

namespace linuxplat::detail {

struct ClassRecord {
    std::string name;
    plat::WindowProc proc;
    std::uint32_t style;
};

struct WindowRecord {
    plat::Window handle = 0;
    plat::Window parent = 0;
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string className;
    std::string title;
    plat::WindowProc proc = nullptr;
    std::uint64_t serial = 0;  // creation order
    bool destroying = false;
    bool needsPaint = false;
    bool needsErase = false;

    bool isDialog = false;
    int templateId = 0;
    plat::DialogProc dialogProc = nullptr;
    bool ended = false;
    std::intptr_t result = 0;
    std::map<int, std::string> items;  // by control id
};

struct TimerRecord {
    plat::Window window;
    std::uintptr_t id;
    std::uint32_t period;
    std::uint64_t due;
};

struct CoreState {
    std::vector<ClassRecord> classes;
    std::map<plat::Window, WindowRecord> windows;
    std::uint64_t nextSerial = 1;
    std::deque<plat::Msg> queue;
    bool quitPending = false;
    int quitCode = 0;
    std::vector<TimerRecord> timers;
    plat::Window foreground = 0;
    std::vector<plat::Window> dialogStack;
};

CoreState& core();
const Backend& backend();

// The window record, or null. Pointers die with any call that may run a
// window procedure: look the window up again after one.
WindowRecord* findWindow(plat::Window window);
bool sameText(const std::string& a, const char* b);  // ASCII letter case ignored

// A new window record with a handle from the backend; 0 when it refuses.
plat::Window createWindowRecord(const WindowInfo& info, plat::WindowProc proc,
                                plat::DialogProc dialogProc);
// Dialog windows route their messages through the dialog procedure and the
// platform's default dialog handling (core_dialogs.cpp).
plat::LResult dialogWindowMessage(plat::Window dialog, std::uint32_t message, plat::WParam wParam,
                                  plat::LParam lParam);

// Parts of resetCore kept next to the state they reset.
void resetWindows();
void resetSystem();

}  // namespace linuxplat::detail
