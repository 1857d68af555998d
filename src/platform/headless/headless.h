// Test control of the headless platform: what a test scripts (the user, the
// clock, the registry, the libraries) and what it reads back (message boxes,
// posted messages, frames). Only tests include this.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace headless {

// Forgets every window, timer, record and script; the clock starts at 0 again.
void reset();

// The text plat::GetCommandLineA returns.
void setCommandLine(const std::string& text);

// ---- Message boxes ------------------------------------------------------------
struct MessageBoxRecord {
    plat::Window owner;
    std::string text;
    std::string caption;
    std::uint32_t type;
};
const std::vector<MessageBoxRecord>& messageBoxes();
// The answer every following box returns (IDOK by default).
void setMessageBoxAnswer(int answer);
// Also print each box to stderr, for reading a failing test's log.
void setMessageBoxEcho(bool echo);

// ---- Memory ---------------------------------------------------------------------
// While set, plat::GlobalAllocFixed returns null.
void setGlobalAllocFails(bool fails);

}  // namespace headless
