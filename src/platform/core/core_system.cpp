// Command line, libraries by name, registry, version, system parameters,
// process exit, the fault guard, memory, cursor and time. Libraries, the
// registry and the version come from the backend where it has them.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/core/core_state.h"
#include "platform/core/linux_platform.h"

namespace linuxplat::detail {
namespace {

constexpr plat::Module kProgramInstance = 0x00400000;
constexpr std::uint32_t kPlatformIdNt = 2;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidParameter = 87;

// The descriptors a run opens at once beside stdin, stdout and stderr: the
// display connection, GLib's wake-ups and our signal pipe, a picture or the
// settings file, and GTK's fonts, modules and icon files. Measured as the
// lowest `ulimit -n` under which a mode runs without a library complaining:
// the saver and a preview 6 (a hack 5), the dialog 7, its file-open box 16.
// The largest sets the number for every mode, with room for a desktop that
// loads more modules: a limit that let the saver run but made the dialog
// abort when its box opens would only puzzle.
constexpr int kDescriptorsNeeded = 20;

// Address space left to the toolkit after the pictures: the first message
// box starts GTK, fontconfig, pango and GLib's threads. Unlimited, that
// grows the process by some 420 MB, mostly malloc arenas that threads
// reserve; under a limit the arenas stay small. Six 5000 x 5000 pictures
// under limits from 360 MB to 720 MB (10 to 50 MB apart) showed their box
// every time with this much kept back.
constexpr std::uint64_t kToolkitAddressSpace = std::uint64_t{256} << 20;

struct SystemState {
    std::string commandLine;
    bool screenSaverRunning = false;
};

SystemState& sys() {
    static SystemState state;
    return state;
}

// The program's own file, as Windows puts it first on the command line.
std::string executablePath(int argc, char** argv) {
    char buffer[4096];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0) return std::string(buffer, static_cast<std::size_t>(n));
    return argc > 0 && argv[0] ? argv[0] : "";
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

std::string previewTail(std::uint32_t window) { return "/p " + std::to_string(window); }

int exitStatusFor(std::uint32_t exitCode) {
    if (exitCode == 0xFFFFFFFFu) return 255;
    return static_cast<int>(std::min<std::uint32_t>(exitCode, 254));
}

void resetCore() {
    resetWindows();
    resetSystem();
}

}  // namespace linuxplat

namespace plat {

using namespace linuxplat::detail;

void linuxSetArguments(int argc, char** argv) {
    linuxplat::setCommandLine(linuxplat::commandLineFor(executablePath(argc, argv), argc, argv));
}

StartResult StartLinuxProgram(int argc, char** argv, int templateId,
                              const DialogTemplate& dialog, const DrawTarget& target) {
    linuxSetArguments(argc, argv);
    linuxRegisterDialog(templateId, dialog);
    // Diagnostics go to inherited descriptors whose reader may be gone.
    std::signal(SIGPIPE, SIG_IGN);
    if (!CanOpenDescriptors(kDescriptorsNeeded)) {
        WriteDiagnostic(DiagnosticStream::Error,
                        "rovanta: too few file descriptors: a run needs %d free below the limit "
                        "(ulimit -n)\n",
                        kDescriptorsNeeded);
        return StartResult::Failed;
    }
    Window window = 0;
    StartResult result = target.kind == DrawTarget::CommandLine ? StartResult::CommandLine
                                                                : StartResult::WindowUnusable;
    if (backend().start) result = backend().start(target, &window);
    if (result != StartResult::IntoWindow) return result;
    // The host draws into the window as into a preview pane, which leaves
    // input and locking to the window's owner.
    const std::string exe = executablePath(argc, argv);
    const std::string tail = linuxplat::previewTail(static_cast<std::uint32_t>(window));
    const char* args[] = {exe.c_str(), tail.c_str()};
    linuxplat::setCommandLine(linuxplat::commandLineFor(exe, 2, args));
    std::atexit(linuxplat::endByTerminationSignal);
    return result;
}

const char* GetCommandLineA() { return sys().commandLine.c_str(); }

// One byte is one character in the code page we use.
const char* CharNextA(const char* p) { return (p && *p) ? p + 1 : p; }

// The registry, libraries by name and the platform family are the backend's
// to give; without them the password path finds no key and no library, as on
// a system that has neither, and the version is the NT family's.
Module GetModuleHandleA(const char* name) {
    if (!name) return kProgramInstance;
    return backend().loadedLibrary ? backend().loadedLibrary(name) : 0;
}

Module LoadLibraryA(const char* name) {
    return backend().loadLibrary ? backend().loadLibrary(name) : 0;
}

void* GetProcAddress(Module module, const char* name) {
    return backend().libraryExport ? backend().libraryExport(module, name) : nullptr;
}

bool FreeLibrary(Module module) {
    return backend().freeLibrary ? backend().freeLibrary(module) : false;
}

long RegOpenKeyA(Key parent, const char* subKey, Key* result) {
    if (backend().regOpenKey) return backend().regOpenKey(parent, subKey, result);
    return result ? kErrorFileNotFound : kErrorInvalidParameter;
}

long RegQueryValueExA(Key key, const char* valueName, std::uint32_t* type, std::uint8_t* data,
                      std::uint32_t* dataSize) {
    if (backend().regQueryValue)
        return backend().regQueryValue(key, valueName, type, data, dataSize);
    // No key but the root is ever open, and the root holds no value.
    return key == HKEY_CURRENT_USER ? kErrorFileNotFound : kErrorInvalidHandle;
}

long RegCloseKey(Key key) {
    if (backend().regCloseKey) return backend().regCloseKey(key);
    return key == HKEY_CURRENT_USER ? 0 : kErrorInvalidHandle;
}

bool GetVersionPlatformId(std::uint32_t* platformId) {
    if (backend().versionPlatformId) return backend().versionPlatformId(platformId);
    if (!platformId) return false;
    *platformId = kPlatformIdNt;
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
    if (backend().refuseAllocation && backend().refuseAllocation(bytes)) return nullptr;
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void GlobalFree(void* memory) { std::free(memory); }

std::uint64_t AddressSpaceLeft() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    // The process's size now: the first field of statm, in pages.
    unsigned long long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "re");
    const bool known = statm != nullptr && std::fscanf(statm, "%llu", &pages) == 1;
    if (statm != nullptr) std::fclose(statm);
    if (!known) return 0;
    const std::uint64_t used = static_cast<std::uint64_t>(pages) *
                               static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t wanted = used + kToolkitAddressSpace;
    return limit.rlim_cur > wanted ? limit.rlim_cur - wanted : 0;
}

bool CanOpenDescriptors(int count) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return true;
    const rlim_t end = limit.rlim_cur == RLIM_INFINITY ? RLIM_INFINITY : limit.rlim_cur;
    int free = 0;
    for (rlim_t fd = 0; fd < end && free < count; ++fd)
        if (fcntl(static_cast<int>(fd), F_GETFD) == -1 && errno == EBADF) ++free;
    return free >= count;
}

void SetCursorNull() { backend().hideCursor(); }

bool GetCursorPos(Point* point) { return point && backend().cursorPos(point); }

std::uint32_t GetTickCount() { return static_cast<std::uint32_t>(backend().nowMs()); }

void Sleep(std::uint32_t ms) { backend().sleep(ms); }

}  // namespace plat
