// The command line, exit status, fault guard, registry, libraries by name and
// the system switches.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "host/host_entry.h"
#include "platform/headless/headless.h"
#include "platform/core/linux_platform.h"
#include "platform/platform.h"

namespace {

class System : public ::testing::Test {
protected:
    void SetUp() override { headless::reset(); }
};

TEST_F(System, CommandLineQuotesAProgramPathThatWouldOtherwiseEndEarly) {
    const char* args[] = {"ignored", "/p", "1234"};
    EXPECT_EQ(linuxplat::commandLineFor("/usr/bin/rovanta", 3, args), "/usr/bin/rovanta /p 1234");
    EXPECT_EQ(linuxplat::commandLineFor("/opt/my saver/rovanta", 2, args),
              "\"/opt/my saver/rovanta\" /p");
    EXPECT_EQ(linuxplat::commandLineFor("/opt/tab\there/r", 1, args), "\"/opt/tab\there/r\"");
    // Bytes above 0x7F are part of an unquoted name.
    EXPECT_EQ(linuxplat::commandLineFor("/opt/\xE9t\xE9/r", 1, args), "/opt/\xE9t\xE9/r");

    char arg0[] = "rovanta";
    char arg1[] = "/s";
    char* argv[] = {arg0, arg1};
    plat::linuxSetArguments(2, argv);
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    std::string path(self, static_cast<std::size_t>(n));
    EXPECT_EQ(plat::GetCommandLineA(), linuxplat::commandLineFor(path, 2, argv));
    EXPECT_EQ(std::string(plat::GetCommandLineA()).rfind(path + " /s", 1), 0u);

    const char* end = "";
    EXPECT_EQ(plat::CharNextA(end), end);
    EXPECT_EQ(plat::CharNextA("\xE9x") [0], 'x');
}

TEST_F(System, TheTailForAnotherProgramsWindowIsTheHostsPreviewOfIt) {
    for (std::uint32_t id : {1u, 0x2a00005u, 0xFFFFFFFFu}) {
        const std::string tail = linuxplat::previewTail(id);
        const ModeChoice choice = chooseMode(tail.c_str(), false);
        ASSERT_EQ(choice.mode, HostMode::Preview) << tail;
        EXPECT_EQ(parseWindowHandle(choice.rest), id) << tail;
    }
    // 0 is kept as 0, which the host refuses with -1, as it must.
    const std::string none = linuxplat::previewTail(0);
    EXPECT_EQ(parseWindowHandle(chooseMode(none.c_str(), false).rest), 0u);
}

TEST_F(System, ExitStatusKeepsMinusOneApartFromEveryOtherCode) {
    EXPECT_EQ(linuxplat::exitStatusFor(0xFFFFFFFFu), 255);
    EXPECT_EQ(linuxplat::exitStatusFor(0), 0);
    EXPECT_EQ(linuxplat::exitStatusFor(200), 200);
    EXPECT_EQ(linuxplat::exitStatusFor(255), 254);
    EXPECT_EQ(linuxplat::exitStatusFor(9999), 254);
    EXPECT_EQ(linuxplat::exitStatusFor(0xFFFFFFFEu), 254);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) plat::ExitProcess(0xFFFFFFFFu);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 255);
}

int faultPipe = -1;

void reportFault() {
    const char byte = 'F';
    (void)!write(faultPipe, &byte, 1);
}

// Raised rather than provoked: a sanitizer build turns a null load into its
// own report before any signal.
std::int32_t crash(void*) {
    std::raise(SIGSEGV);
    return 0;
}

std::int32_t returnContext(void* context) { return *static_cast<std::int32_t*>(context); }

// Runs body under the guard in a child; what the child wrote and how it ended.
std::pair<std::string, int> guardedChild(std::int32_t (*body)(void*), bool faultAfterGuard) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        faultPipe = fds[1];
        std::int32_t value = 42;
        std::int32_t r = plat::RunUnderFaultGuard(body, &value, reportFault);
        char out = static_cast<char>('0' + r % 10);
        (void)!write(faultPipe, &out, 1);
        if (faultAfterGuard) crash(nullptr);
        _exit(0);
    }
    close(fds[1]);
    std::string got;
    char c;
    while (read(fds[0], &c, 1) == 1) got += c;
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {got, status};
}

TEST_F(System, FaultGuardRunsTheHandlerAndEndsTheProcessOnlyWhileItIsUp) {
    auto [faulted, faultStatus] = guardedChild(crash, false);
    EXPECT_EQ(faulted, "F");
    ASSERT_TRUE(WIFEXITED(faultStatus));
    EXPECT_EQ(WEXITSTATUS(faultStatus), 128 + SIGSEGV);

    // A body that returns gives its result, and the guard is down afterwards:
    // a later fault is not reported as the guarded one.
    auto [returned, laterStatus] = guardedChild(returnContext, true);
    EXPECT_EQ(returned, "2");
    EXPECT_FALSE(WIFEXITED(laterStatus) && WEXITSTATUS(laterStatus) == 128 + SIGSEGV);
}

TEST_F(System, RegistryReadsLikeWin32) {
    plat::Key key = 0;
    EXPECT_EQ(plat::RegOpenKeyA(plat::HKEY_CURRENT_USER, "Control Panel\\Desktop", &key), 2);
    headless::setRegistryValue("Control Panel\\Desktop", "ScreenSaveUsePassword", {1, 0, 0, 0});
    headless::setRegistryValue("Control Panel\\Desktop", "Short", {7}, headless::kRegBinary);
    ASSERT_EQ(plat::RegOpenKeyA(plat::HKEY_CURRENT_USER, "control panel\\DESKTOP", &key), 0);

    std::uint32_t value = 0;
    std::uint32_t size = 4;
    std::uint32_t type = 0;
    ASSERT_EQ(plat::RegQueryValueExA(key, "screensaveusepassword", &type,
                                     reinterpret_cast<std::uint8_t*>(&value), &size),
              0);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, headless::kRegDword);

    std::uint8_t small[2] = {9, 9};
    size = 2;
    headless::setRegistryValue("Control Panel\\Desktop", "Long", {1, 2, 3, 4, 5, 6});
    EXPECT_EQ(plat::RegQueryValueExA(key, "Long", nullptr, small, &size), 234);  // more data
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(small[0], 9);  // nothing copied
    value = 0;
    size = 4;
    ASSERT_EQ(plat::RegQueryValueExA(key, "Short", nullptr, reinterpret_cast<std::uint8_t*>(&value),
                                     &size),
              0);
    EXPECT_EQ(size, 1u);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(plat::RegQueryValueExA(key, "Missing", nullptr, nullptr, &size), 2);
    EXPECT_EQ(plat::RegCloseKey(key), 0);
    EXPECT_EQ(plat::RegQueryValueExA(key, "Short", nullptr, nullptr, &size), 6);  // closed
    EXPECT_EQ(plat::RegCloseKey(key), 6);
    // The parent of a key with values exists too.
    EXPECT_EQ(plat::RegOpenKeyA(plat::HKEY_CURRENT_USER, "Control Panel", &key), 0);
}

TEST_F(System, LibrariesAreFoundByNameCountedAndReleased) {
    EXPECT_EQ(plat::LoadLibraryA("PASSWORD.CPL"), 0u);
    headless::installPasswordVerifier();
    EXPECT_EQ(plat::GetModuleHandleA("PASSWORD.CPL"), 0u);  // not loaded yet
    plat::Module m = plat::LoadLibraryA("password.cpl");
    ASSERT_NE(m, 0u);
    EXPECT_EQ(plat::GetModuleHandleA("PASSWORD.CPL"), m);
    using Verify = std::int32_t(PLATFORM_API*)(plat::Window);
    auto verify = reinterpret_cast<Verify>(plat::GetProcAddress(m, "VerifyScreenSavePwd"));
    ASSERT_NE(verify, nullptr);
    headless::setPasswordAnswer(0);
    EXPECT_EQ(verify(77), 0);
    EXPECT_EQ(headless::passwordVerifyCalls(), std::vector<plat::Window>{77});
    EXPECT_EQ(plat::GetProcAddress(m, "verifyscreensavepwd"), nullptr);  // export names are exact
    EXPECT_TRUE(plat::FreeLibrary(m));
    EXPECT_EQ(headless::libraryReferences("PASSWORD.CPL"), 0);
    EXPECT_FALSE(plat::FreeLibrary(m));
    EXPECT_EQ(plat::GetProcAddress(m, "VerifyScreenSavePwd"), nullptr);

    headless::installPasswordChanger(false);
    plat::Module mpr = plat::LoadLibraryA("mpr");  // ".DLL" is implied
    ASSERT_NE(mpr, 0u);
    EXPECT_EQ(plat::GetProcAddress(mpr, "PwdChangePasswordA"), nullptr);

    headless::installInputMethod(true);
    plat::Module imm = plat::GetModuleHandleA("IMM32.DLL");
    ASSERT_NE(imm, 0u);
    using Associate = std::uintptr_t(PLATFORM_API*)(plat::Window, std::uintptr_t);
    auto associate = reinterpret_cast<Associate>(plat::GetProcAddress(imm, "ImmAssociateContext"));
    ASSERT_NE(associate, nullptr);
    EXPECT_EQ(associate(5, 0), 0x1C0u);
    EXPECT_EQ(associate(5, 0x1C0), 0u);
    EXPECT_EQ(headless::inputContextCalls().size(), 2u);
    EXPECT_NE(plat::GetModuleHandleA(nullptr), 0u);
}

TEST_F(System, FamilyScreenSaverStateAndMemorySwitches) {
    std::uint32_t id = 0;
    ASSERT_TRUE(plat::GetVersionPlatformId(&id));
    EXPECT_EQ(id, 2u);
    headless::setWin95Family(true);
    ASSERT_TRUE(plat::GetVersionPlatformId(&id));
    EXPECT_EQ(id, plat::VER_PLATFORM_WIN32_WINDOWS);
    headless::setVersionFails(true);
    EXPECT_FALSE(plat::GetVersionPlatformId(&id));

    std::uint32_t previous = 99;
    EXPECT_TRUE(plat::SystemParametersInfoA(plat::SPI_SCREENSAVERRUNNING, 1, &previous, 0));
    EXPECT_EQ(previous, 0u);
    EXPECT_TRUE(plat::SystemParametersInfoA(plat::SPI_SCREENSAVERRUNNING, 0, &previous, 0));
    EXPECT_EQ(previous, 1u);
    ASSERT_EQ(headless::systemParameterCalls().size(), 2u);
    EXPECT_EQ(headless::systemParameterCalls()[0].param, 1u);

    void* memory = plat::GlobalAllocFixed(64);
    EXPECT_NE(memory, nullptr);
    plat::GlobalFree(memory);
    headless::setGlobalAllocFails(true);
    EXPECT_EQ(plat::GlobalAllocFixed(64), nullptr);
}

}  // namespace
