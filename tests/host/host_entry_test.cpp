// Mode choice, exit codes and the single-instance rule, through hostMain.
#include "host_test_support.h"

#include <csignal>
#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using hosttest::HostTest;
using hosttest::kInstance;

class HostEntryTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        headless::setScreenSize(64, 48);
    }

    // Nothing may have happened: no window, no dialog, no file, no box.
    static void expectUntouched() {
        EXPECT_EQ(hostState.saverWindow, 0u);
        EXPECT_EQ(headless::frameCount(), 0);
        EXPECT_TRUE(headless::messageBoxes().empty());
        EXPECT_FALSE(std::filesystem::exists(settingsFile()));
        EXPECT_FALSE(hostState.isPreview);
    }
};

TEST_F(HostEntryTest, TailsThatSelectNoModeEndWithMinusOne) {
    const plat::Window notAWindow = 987654;
    const std::vector<std::string> tails = {
        "/x", "/1", "\\s", "/\ts", "/p:1234", "/p", "/p 0", "/l", ":s", "\xd3",
        "/p " + std::to_string(notAWindow), "/a", "/a 1234", "/A",
    };
    for (const std::string& tail : tails) {
        SCOPED_TRACE(tail);
        bool dialogOpened = false;
        headless::setDialogScript([&](plat::Window dialog) {
            dialogOpened = true;
            plat::EndDialog(dialog, 0);
        });
        EXPECT_EQ(hostMain(kInstance, tail.c_str()), -1);
        EXPECT_FALSE(dialogOpened);
        expectUntouched();
    }
}

TEST_F(HostEntryTest, FullScreenSpellings) {
    for (const char* tail : {"/s", "-s", "S", "//s", "/ S", "-/ -s trailing text"}) {
        SCOPED_TRACE(tail);
        restart();
        plat::Window foreground = 0;
        headless::at(100, [&] {
            foreground = plat::GetForegroundWindow();
            headless::keyDown(' ');
        });
        EXPECT_EQ(hostMain(kInstance, tail), 0);
        EXPECT_FALSE(hostState.isPreview);
        EXPECT_NE(hostState.saverWindow, 0u);
        EXPECT_EQ(foreground, hostState.saverWindow);
        EXPECT_GT(headless::frameCount(), 0);
    }
}

TEST_F(HostEntryTest, PreviewRunsInTheGivenWindowWhateverTheLetterAndWrap) {
    for (int form = 0; form < 3; ++form) {
        restart();  // each run is a process of its own
        const plat::Window parent = headless::createForeignWindow(152, 112);
        const std::uint64_t wrapped = (std::uint64_t{1} << 32) + parent;
        const std::string tail = form == 0   ? "/p " + std::to_string(parent)
                                 : form == 1 ? "l" + std::to_string(parent)
                                             : "-P   " + std::to_string(wrapped);
        SCOPED_TRACE(tail);
        headless::at(headless::now() + 200, [&] {
            // Only the parent's destruction ends a preview.
            plat::SendMessageA(hostState.saverWindow, plat::WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(hostMain(kInstance, tail.c_str()), 0);
        EXPECT_TRUE(hostState.isPreview);
        EXPECT_EQ(plat::GetParent(hostState.saverWindow), 0u);  // gone with its close
        EXPECT_EQ(headless::lastFrame().width, 152);
        EXPECT_EQ(headless::lastFrame().height, 112);
        EXPECT_EQ(settingsFromFile().centerX, 76);
        EXPECT_EQ(settingsFromFile().centerY, 56);
    }
}

TEST_F(HostEntryTest, ConfigurationOwnerFollowsTheTail) {
    const plat::Window foreground = headless::createForeignWindow(400, 300);
    plat::SetForegroundWindow(foreground);
    std::vector<plat::Window> owners;
    headless::setDialogScript([&](plat::Window dialog) {
        owners.push_back(plat::GetParent(dialog));
        plat::EndDialog(dialog, 0);
    });
    EXPECT_EQ(hostMain(kInstance, ""), 0);
    EXPECT_EQ(hostMain(kInstance, "/c:1234"), 0);
    EXPECT_EQ(hostMain(kInstance, "C"), 0);
    EXPECT_EQ(owners, (std::vector<plat::Window>{0, foreground, foreground}));
}

TEST_F(HostEntryTest, ChangePasswordOnTheWindows95FamilyOnly) {
    headless::setWin95Family(true);
    headless::installPasswordChanger();
    const plat::Window owner = headless::createForeignWindow(300, 200);
    const plat::Window foreground = headless::createForeignWindow(400, 300);
    plat::SetForegroundWindow(foreground);

    EXPECT_EQ(hostMain(kInstance, ("/a " + std::to_string(owner)).c_str()), 0);
    EXPECT_EQ(hostMain(kInstance, "/a 55555"), 0);  // names no window
    EXPECT_EQ(hostMain(kInstance, "a"), 0);
    const auto& calls = headless::passwordChangeCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].provider, "SCRSAVE");
    EXPECT_EQ(calls[0].owner, owner);
    EXPECT_EQ(calls[0].reserved1, 0u);
    EXPECT_EQ(calls[0].reserved2, nullptr);
    EXPECT_EQ(calls[1].owner, foreground);
    EXPECT_EQ(calls[2].owner, foreground);
    EXPECT_EQ(headless::libraryReferences("MPR.DLL"), 0);
    expectUntouched();

    // Without the library, or when the family cannot be told, nothing happens.
    headless::reset();
    headless::setWin95Family(true);
    EXPECT_EQ(hostMain(kInstance, "/a"), 0);
    headless::installPasswordChanger(false);
    EXPECT_EQ(hostMain(kInstance, "/a"), 0);
    EXPECT_EQ(headless::libraryReferences("MPR.DLL"), 0);
    headless::setVersionFails(true);
    EXPECT_EQ(hostMain(kInstance, "/a"), -1);
    EXPECT_TRUE(headless::passwordChangeCalls().empty());
}

TEST_F(HostEntryTest, ASecondFullScreenStartBringsTheFirstForward) {
    requirePassword(1);
    const plat::Window first =
        headless::createForeignWindow(64, 48, "WindowsScreenSaverClass", "Screen Saver");

    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_EQ(plat::GetForegroundWindow(), first);
    EXPECT_EQ(headless::now(), 0u);
    EXPECT_TRUE(headless::systemParameterCalls().empty());
    EXPECT_EQ(headless::libraryReferences("PASSWORD.CPL"), 0);
    expectUntouched();

    // A window of that class with another title is no saver of ours.
    headless::createForeignWindow(64, 48, "WindowsScreenSaverClass", "Preview");
    headless::destroyForeignWindow(first);
    headless::at(100, [] { headless::keyDown(' '); });
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_NE(hostState.saverWindow, 0u);
}

TEST_F(HostEntryTest, AFaultInsideAModeEndsThroughTheGuardWithTheRunningStateOff) {
    // The fault ends a child process; the running state's changes reach the
    // parent through a pipe that the headless platform writes from inside
    // the guard's signal handler.
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        headless::setRunningStateReport(report[1]);
        requirePassword(1);
        headless::setPasswordHook([](plat::Window) {
            // Raised rather than provoked: a sanitizer build reports a null
            // store itself before any signal.
            std::raise(SIGSEGV);
        });
        headless::at(100, [] { headless::keyDown(' '); });
        hostMain(kInstance, "/s");
        std::_Exit(0);
    }
    ::close(report[1]);
    std::string states;
    char c;
    while (::read(report[0], &c, 1) == 1) states += c;
    ::close(report[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGSEGV);
    // On when the verifier was loaded, off from the guard: nothing else ran.
    EXPECT_EQ(states, "10");
}

}  // namespace
