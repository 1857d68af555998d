// Command line, libraries by name, registry, version, system parameters,
// process exit, the fault guard, memory, cursor and time.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "platform/linux/core_state.h"
#include "platform/linux/linux_platform.h"

namespace linuxplat::detail {
namespace {

constexpr plat::Module kProgramInstance = 0x00400000;
constexpr plat::Module kFirstLibrary = 0x10000000;
constexpr plat::Module kLibraryStep = 0x00010000;

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorMoreData = 234;

struct Library {
    std::string name;
    std::vector<LibraryExport> exports;
    bool alreadyLoaded;
    int references;
};

struct RegistryValue {
    std::uint32_t type;
    std::vector<std::uint8_t> data;
};

struct SystemState {
    std::string commandLine;
    std::vector<Library> libraries;
    // Keys by path in upper case ("" is HKEY_CURRENT_USER itself); values by
    // name in upper case.
    std::map<std::string, std::map<std::string, RegistryValue>> registry;
    std::map<plat::Key, std::string> openKeys;
    plat::Key nextKey = 0x1000;
    std::uint32_t platformId = 2;  // the NT family
    bool allocFails = false;
    bool screenSaverRunning = false;
};

SystemState& sys() {
    static SystemState state;
    return state;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

// "a\\\\b\\" and "A\\B" name the same key.
std::string keyPath(const std::string& text) {
    std::string out;
    for (char c : upper(text)) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

// The path of an open key ("" for HKEY_CURRENT_USER); false for a handle
// that is not open.
bool openKeyPath(plat::Key key, std::string* path) {
    path->clear();
    if (key == plat::HKEY_CURRENT_USER) return true;
    auto it = sys().openKeys.find(key);
    if (it == sys().openKeys.end()) return false;
    *path = it->second;
    return true;
}

std::string joinKey(const std::string& parent, const std::string& child) {
    if (parent.empty()) return child;
    if (child.empty()) return parent;
    return parent + "\\" + child;
}

Library* libraryByHandle(plat::Module module) {
    if (module < kFirstLibrary || (module - kFirstLibrary) % kLibraryStep != 0) return nullptr;
    std::size_t index = (module - kFirstLibrary) / kLibraryStep;
    auto& libs = sys().libraries;
    return index < libs.size() ? &libs[index] : nullptr;
}

plat::Module handleOf(const Library& lib) {
    return kFirstLibrary + static_cast<plat::Module>(&lib - sys().libraries.data()) * kLibraryStep;
}

// Win32 finds "mpr" as "MPR.DLL" and ignores a directory in the name.
Library* libraryByName(const char* name) {
    if (!name) return nullptr;
    std::string base = name;
    std::size_t slash = base.find_last_of("\\/");
    if (slash != std::string::npos) base.erase(0, slash + 1);
    if (base.find('.') == std::string::npos) base += ".DLL";
    for (Library& lib : sys().libraries)
        if (sameText(lib.name, base.c_str())) return &lib;
    return nullptr;
}

// ---- the fault guard ---------------------------------------------------------
constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kGuardedCount = sizeof kGuardedSignals / sizeof kGuardedSignals[0];

void (*volatile faultHandler)() = nullptr;

extern "C" void onFaultSignal(int signal) {
    // Only async-signal-safe work: the caller's handler (its promise), then
    // _exit. The status says which fault it was, as a shell would.
    void (*handler)() = faultHandler;
    if (handler) handler();
    _exit(128 + signal);
}

// A stack overflow faults on the stack itself; the handler needs another.
bool ensureAlternateStack() {
    static bool done = false;
    if (done) return true;
    static std::vector<char> memory(std::max<std::size_t>(SIGSTKSZ, 64 * 1024));
    stack_t stack{};
    stack.ss_sp = memory.data();
    stack.ss_size = memory.size();
    done = sigaltstack(&stack, nullptr) == 0;
    return done;
}

}  // namespace

void resetSystem() { sys() = SystemState{}; }

}  // namespace linuxplat::detail

namespace linuxplat {

using namespace detail;

std::string commandLineFor(const std::string& exePath, int argc, const char* const* argv) {
    bool quote = std::any_of(exePath.begin(), exePath.end(), [](char c) {
        auto b = static_cast<unsigned char>(c);
        return b >= 0x01 && b <= 0x20;
    });
    std::string line = quote ? "\"" + exePath + "\"" : exePath;
    for (int i = 1; i < argc; ++i) {
        line += ' ';
        if (argv[i]) line += argv[i];
    }
    return line;
}

void setCommandLine(const std::string& text) { sys().commandLine = text; }

int exitStatusFor(std::uint32_t exitCode) {
    if (exitCode == 0xFFFFFFFFu) return 255;
    return static_cast<int>(std::min<std::uint32_t>(exitCode, 254));
}

void registerLibrary(const char* name, const LibraryExport* exports, std::size_t count,
                     bool alreadyLoaded) {
    if (!name) return;
    Library* lib = libraryByName(name);
    if (!lib) {
        sys().libraries.push_back(Library{name, {}, false, 0});
        lib = &sys().libraries.back();
    }
    lib->exports.assign(exports, exports + count);
    lib->alreadyLoaded = alreadyLoaded;
    lib->references = alreadyLoaded ? 1 : 0;
}

int libraryReferences(const char* name) {
    Library* lib = libraryByName(name);
    return lib ? lib->references : 0;
}

void setRegistryValue(const char* path, const char* name, std::uint32_t type,
                      const std::uint8_t* data, std::size_t size) {
    std::string key = keyPath(path ? path : "");
    // Every key on the way exists too.
    for (std::size_t i = 0; i <= key.size(); ++i)
        if (i == key.size() || key[i] == '\\') sys().registry[key.substr(0, i)];
    sys().registry[key][upper(name ? name : "")] =
        RegistryValue{type, std::vector<std::uint8_t>(data, data + size)};
}

void setPlatformId(std::uint32_t platformId) { sys().platformId = platformId; }
void setGlobalAllocFails(bool fails) { sys().allocFails = fails; }

void resetCore() {
    resetWindows();
    resetSystem();
}

}  // namespace linuxplat

namespace plat {

using namespace linuxplat::detail;

void linuxSetArguments(int argc, char** argv) {
    std::string exe;
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) {
        exe.assign(buffer, static_cast<std::size_t>(n));
    } else if (argc > 0 && argv[0]) {
        exe = argv[0];
    }
    linuxplat::setCommandLine(linuxplat::commandLineFor(exe, argc, argv));
}

const char* GetCommandLineA() { return sys().commandLine.c_str(); }

// One byte is one character in the code page we use.
const char* CharNextA(const char* p) { return (p && *p) ? p + 1 : p; }

Module GetModuleHandleA(const char* name) {
    if (!name) return kProgramInstance;
    Library* lib = libraryByName(name);
    return lib && lib->references > 0 ? handleOf(*lib) : 0;
}

Module LoadLibraryA(const char* name) {
    Library* lib = libraryByName(name);
    if (!lib) return 0;
    ++lib->references;
    return handleOf(*lib);
}

void* GetProcAddress(Module module, const char* name) {
    Library* lib = libraryByHandle(module);
    // Names below 0x10000 are ordinals on Win32; we export by name only.
    if (!lib || lib->references <= 0 || reinterpret_cast<std::uintptr_t>(name) < 0x10000)
        return nullptr;
    for (const linuxplat::LibraryExport& e : lib->exports)
        if (e.name && std::strcmp(e.name, name) == 0) return e.address;
    return nullptr;
}

bool FreeLibrary(Module module) {
    Library* lib = libraryByHandle(module);
    if (!lib || lib->references <= 0) return false;
    --lib->references;
    return true;
}

long RegOpenKeyA(Key parent, const char* subKey, Key* result) {
    if (!result) return kErrorInvalidParameter;
    std::string base;
    if (!openKeyPath(parent, &base)) return kErrorInvalidHandle;
    std::string path = joinKey(base, keyPath(subKey ? subKey : ""));
    if (path.empty() && parent == HKEY_CURRENT_USER) {
        *result = HKEY_CURRENT_USER;
        return kErrorSuccess;
    }
    if (!sys().registry.count(path)) return kErrorFileNotFound;
    Key key = sys().nextKey++;
    sys().openKeys[key] = path;
    *result = key;
    return kErrorSuccess;
}

long RegQueryValueExA(Key key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* dataSize) {
    std::string path;
    if (!openKeyPath(key, &path)) return kErrorInvalidHandle;
    if (data && !dataSize) return kErrorInvalidParameter;
    auto k = sys().registry.find(path);
    if (k == sys().registry.end()) return kErrorFileNotFound;
    auto v = k->second.find(upper(valueName ? valueName : ""));
    if (v == k->second.end()) return kErrorFileNotFound;
    const RegistryValue& value = v->second;
    auto size = static_cast<std::uint32_t>(value.data.size());
    if (type) *type = value.type;
    if (!data) {
        if (dataSize) *dataSize = size;
        return kErrorSuccess;
    }
    if (*dataSize < size) {
        *dataSize = size;
        return kErrorMoreData;
    }
    if (size) std::memcpy(data, value.data.data(), size);
    *dataSize = size;
    return kErrorSuccess;
}

long RegCloseKey(Key key) {
    if (key == HKEY_CURRENT_USER) return kErrorSuccess;
    return sys().openKeys.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

bool GetVersionPlatformId(std::uint32_t* platformId) {
    if (!platformId || sys().platformId == 0) return false;
    *platformId = sys().platformId;
    return true;
}

bool ProcessorHasSse2() {
#if defined(__x86_64__) || defined(__SSE2__)
    return true;
#elif defined(__i386__)
    return __builtin_cpu_supports("sse2") != 0;  // Linux saves the XMM registers
#else
    return false;
#endif
}

bool SystemParametersInfoA(std::uint32_t action, std::uint32_t param, void* data,
                           std::uint32_t flags) {
    bool known = action == SPI_SCREENSAVERRUNNING;
    if (known) {
        std::uint32_t previous = sys().screenSaverRunning ? 1 : 0;
        sys().screenSaverRunning = param != 0;
        if (data) std::memcpy(data, &previous, sizeof previous);
    }
    if (backend().systemParameter) backend().systemParameter(action, param, flags);
    return known;
}

void ExitProcess(std::uint32_t exitCode) {
    std::fflush(nullptr);
    std::exit(linuxplat::exitStatusFor(exitCode));
}

std::int32_t RunUnderFaultGuard(std::int32_t (*body)(void* context), void* context,
                                void (*onFault)()) {
    if (!body) return 0;
    ensureAlternateStack();
    struct sigaction previous[kGuardedCount];
    struct sigaction action {};
    action.sa_handler = onFaultSignal;
    sigemptyset(&action.sa_mask);
    // A fault inside onFault itself falls to the default action instead of
    // looping through this handler.
    action.sa_flags = SA_ONSTACK | SA_RESETHAND | SA_NODEFER;
    void (*outerHandler)() = faultHandler;
    faultHandler = onFault;
    for (std::size_t i = 0; i < kGuardedCount; ++i)
        sigaction(kGuardedSignals[i], &action, &previous[i]);
    std::int32_t result = body(context);
    for (std::size_t i = 0; i < kGuardedCount; ++i)
        sigaction(kGuardedSignals[i], &previous[i], nullptr);
    faultHandler = outerHandler;
    return result;
}

void* GlobalAllocFixed(std::size_t bytes) {
    if (sys().allocFails) return nullptr;
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void GlobalFree(void* memory) { std::free(memory); }

void SetCursorNull() { backend().hideCursor(); }

bool GetCursorPos(Point* point) { return point && backend().cursorPos(point); }

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(backend().nowMs()); }

void Sleep(std::uint32_t ms) { backend().sleep(ms); }

}  // namespace plat
