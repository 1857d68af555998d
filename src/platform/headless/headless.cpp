#include "platform/headless/headless.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::string commandLine;
std::vector<headless::MessageBoxRecord> boxes;
int boxAnswer = plat::IDOK;
bool boxEcho = false;
bool allocFails = false;

}  // namespace

namespace headless {

void reset() {
    commandLine.clear();
    boxes.clear();
    boxAnswer = plat::IDOK;
    boxEcho = false;
    allocFails = false;
}

void setCommandLine(const std::string& text) { commandLine = text; }
const std::vector<MessageBoxRecord>& messageBoxes() { return boxes; }
void setMessageBoxAnswer(int answer) { boxAnswer = answer; }
void setMessageBoxEcho(bool echo) { boxEcho = echo; }
void setGlobalAllocFails(bool fails) { allocFails = fails; }

}  // namespace headless

namespace plat {

const char* GetCommandLineA() { return commandLine.c_str(); }

int MessageBoxA(Window owner, const char* text, const char* caption, std::uint32_t type) {
    headless::MessageBoxRecord r{owner, text ? text : "", caption ? caption : "", type};
    if (boxEcho) std::fprintf(stderr, "[message box] %s: %s\n", r.caption.c_str(), r.text.c_str());
    boxes.push_back(std::move(r));
    return boxAnswer;
}

void* GlobalAllocFixed(std::size_t bytes) {
    if (allocFails) return nullptr;
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void GlobalFree(void* memory) { std::free(memory); }

}  // namespace plat
