// Input, close requests and the password check, driven through a running
// saver: hostMain runs the real loop while the timeline plays the user.
#include "host_test_support.h"

namespace {

using hosttest::HostTest;
using hosttest::kInstance;

constexpr std::uint32_t kVkSpace = 0x20;

class HostWindowTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        headless::setScreenSize(320, 240);
        headless::setCursorPos(100, 100);
    }

    static plat::Window saver() { return hostState.saverWindow; }
    static bool saverAlive() { return plat::IsWindow(hostState.saverWindow); }
    static int closeRequests() { return countPosted(hostState.saverWindow, plat::WM_CLOSE); }

    // Space ends the saver at once: no password asked, running state untouched.
    static void expectSpaceClosesUnasked() {
        headless::at(100, [] { headless::keyDown(kVkSpace); });
        EXPECT_EQ(hostMain(kInstance, "/s"), 0);
        EXPECT_EQ(headless::now(), 100u);
        EXPECT_TRUE(headless::passwordVerifyCalls().empty());
        EXPECT_TRUE(headless::systemParameterCalls().empty());
        EXPECT_EQ(headless::libraryReferences("PASSWORD.CPL"), 0);
    }
};

// Each path stays within a sum of 4 pixels of where the cursor began until its
// last move, whatever the steps were: sum 4 then 5, and three steps of two.
TEST_F(HostWindowTest, SmallMovementsAddUpAgainstAFixedReference) {
    using Path = std::pair<int, std::vector<int>>;  // a row, and the columns visited along it
    for (const auto& [y, xs] : {Path{102, {102, 103}}, Path{100, {102, 104, 106}}}) {
        SCOPED_TRACE(xs.size());
        restart();
        headless::setScreenSize(320, 240);
        headless::setCursorPos(100, 100);
        bool aliveBeforeLast = false;
        int requestsBeforeLast = -1;
        for (std::size_t k = 0; k < xs.size(); ++k)
            headless::at(100 * (k + 1), [x = xs[k], y = y] { headless::moveCursor(x, y); });
        headless::at(100 * xs.size() - 50, [&] {
            aliveBeforeLast = saverAlive();
            requestsBeforeLast = closeRequests();
        });
        EXPECT_EQ(hostMain(kInstance, "/s"), 0);
        EXPECT_TRUE(aliveBeforeLast);
        EXPECT_EQ(requestsBeforeLast, 0);
        EXPECT_EQ(headless::now(), 100 * xs.size());
    }
}

TEST_F(HostWindowTest, CursorQueriesTitleChangesAndSystemCommandsInFullScreen) {
    plat::LResult setCursor = -1, setText = -1;
    std::vector<plat::LResult> refused;
    bool hiddenAfterSetCursor = false;
    plat::Window foundByTitle = 0;
    headless::at(100, [&] {
        headless::showCursor();
        setCursor = plat::SendMessageA(saver(), plat::WM_SETCURSOR, saver(), 0);
        hiddenAfterSetCursor = headless::cursorHidden();
        setText = plat::SendMessageA(saver(), plat::WM_SETTEXT, 0,
                                     reinterpret_cast<plat::LParam>("Something else"));
        foundByTitle = plat::FindWindowA("WindowsScreenSaverClass", "Screen Saver");
        for (plat::WParam command : {plat::SC_SCREENSAVE, plat::SC_NEXTWINDOW, plat::SC_PREVWINDOW})
            refused.push_back(plat::SendMessageA(saver(), plat::WM_SYSCOMMAND, command, 0));
    });
    // Refused commands must not end the saver; SC_CLOSE is default handling,
    // which asks the window to close.
    headless::at(200, [&] {
        EXPECT_TRUE(saverAlive());
        plat::SendMessageA(saver(), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
    });

    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_EQ(setCursor, 1);
    EXPECT_TRUE(hiddenAfterSetCursor);
    EXPECT_EQ(setText, 0);
    EXPECT_NE(foundByTitle, 0u);
    EXPECT_EQ(refused, (std::vector<plat::LResult>{0, 0, 0}));
    EXPECT_EQ(headless::now(), 200u);
}

TEST_F(HostWindowTest, PreviewGivesCursorAndSystemCommandsDefaultHandling) {
    const plat::Window parent = headless::createForeignWindow(160, 120);
    plat::LResult setText = -1;
    bool hiddenAfterSetCursor = true;
    int framesBeforeScreensave = 0, framesAfterScreensave = 0;
    headless::at(100, [&] {
        headless::showCursor();
        plat::SendMessageA(saver(), plat::WM_SETCURSOR, saver(), 0);
        hiddenAfterSetCursor = headless::cursorHidden();
        setText = plat::SendMessageA(saver(), plat::WM_SETTEXT, 0,
                                     reinterpret_cast<plat::LParam>("Something else"));
        framesBeforeScreensave = headless::frameCount();
        plat::SendMessageA(saver(), plat::WM_SYSCOMMAND, plat::SC_SCREENSAVE, 0);
    });
    headless::at(300, [&] {
        framesAfterScreensave = headless::frameCount();
        // In the pane SC_CLOSE reaches default handling too, and closes it.
        plat::SendMessageA(saver(), plat::WM_SYSCOMMAND, plat::SC_CLOSE, 0);
    });

    EXPECT_EQ(hostMain(kInstance, ("/p " + std::to_string(parent)).c_str()), 0);
    EXPECT_FALSE(hiddenAfterSetCursor);
    EXPECT_EQ(setText, 0);
    EXPECT_GT(framesAfterScreensave, framesBeforeScreensave);
    EXPECT_EQ(headless::now(), 300u);
}

TEST_F(HostWindowTest, PreviewForwardsHelpToItsParentAndNoInputEndsIt) {
    const plat::Window parent = headless::createForeignWindow(160, 120);
    plat::LResult help = -1, menu = -1;
    headless::at(100, [&] {
        help = plat::SendMessageA(saver(), plat::WM_HELP, 0, 0x1234);
        menu = plat::SendMessageA(saver(), plat::WM_CONTEXTMENU, saver(), 0x00500060);
    });
    headless::at(200, [] { headless::keyDown(kVkSpace, saver()); });
    headless::at(300, [] { headless::mouseButton(plat::WM_LBUTTONDOWN, saver()); });
    headless::at(400, [] { headless::moveCursor(300, 200, saver()); });
    headless::at(500, [] { headless::activateApp(false); });
    headless::at(1000, [&] {
        EXPECT_TRUE(saverAlive());
        EXPECT_EQ(closeRequests(), 0);
        headless::destroyForeignWindow(parent);
    });

    EXPECT_EQ(hostMain(kInstance, ("/p " + std::to_string(parent)).c_str()), 0);
    EXPECT_EQ(help, 1);
    EXPECT_EQ(menu, 1);
    EXPECT_EQ(countPosted(parent, plat::WM_HELP), 1);
    EXPECT_EQ(countPosted(parent, plat::WM_CONTEXTMENU), 1);
    for (const plat::Msg& m : headless::postedMessages()) {
        if (m.window != parent) continue;
        EXPECT_EQ(m.wParam, parent);
        EXPECT_EQ(m.lParam, m.message == plat::WM_HELP ? 0x1234 : 0x00500060);
    }
    EXPECT_EQ(headless::now(), 1000u);
    EXPECT_TRUE(headless::systemParameterCalls().empty());
}

TEST_F(HostWindowTest, OnlyPressesMovesAndDeactivationAreCloseRequests) {
    headless::at(100, [] {
        headless::keyUp(kVkSpace, saver());
        headless::mouseButton(plat::WM_LBUTTONUP, saver());
        headless::mouseButton(plat::WM_LBUTTONDBLCLK, saver());
        headless::mouseButton(plat::WM_MOUSEWHEEL, saver());
        plat::PostMessageA(saver(), plat::WM_CHAR, 'x', 0);
        headless::activateApp(true);
    });
    headless::at(500, [] {
        EXPECT_TRUE(saverAlive());
        headless::activateApp(false);
    });

    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_EQ(headless::now(), 500u);
}

TEST_F(HostWindowTest, EachPressEndsTheSaverWithoutPassword) {
    const std::vector<std::function<void()>> presses = {
        [] { headless::keyDown(kVkSpace, saver()); },
        [] { headless::sysKeyDown(0x12, saver()); },
        [] { headless::mouseButton(plat::WM_LBUTTONDOWN, saver()); },
        [] { headless::mouseButton(plat::WM_RBUTTONDOWN, saver()); },
        [] { headless::mouseButton(plat::WM_MBUTTONDOWN, saver()); },
    };
    for (std::size_t i = 0; i < presses.size(); ++i) {
        SCOPED_TRACE(i);
        restart();
        headless::at(120, presses[i]);
        EXPECT_EQ(hostMain(kInstance, "/s"), 0);
        EXPECT_EQ(headless::now(), 120u);
    }
}

TEST_F(HostWindowTest, PasswordRefusalRecheckPauseAndApproval) {
    requirePassword(0);
    std::vector<std::size_t> calls;
    std::vector<bool> hidden;
    auto note = [&] {
        calls.push_back(headless::passwordVerifyCalls().size());
        hidden.push_back(headless::cursorHidden());
    };
    // The verifier shows the cursor while it asks, as a real one would.
    headless::setPasswordHook([](plat::Window) { headless::showCursor(); });
    headless::at(100, [] { headless::keyDown(kVkSpace); });  // asks, refused
    headless::at(150, note);
    headless::at(250, [] { headless::keyDown(kVkSpace); });  // 150 ms later: refused unasked
    headless::at(260, note);
    headless::at(300, [] { headless::keyDown(kVkSpace); });  // 200 ms later: asks again
    headless::at(310, note);
    headless::at(450, [] { headless::keyDown(kVkSpace); });  // 150 ms after the second: unasked
    headless::at(460, note);
    headless::at(500, [] {
        headless::setPasswordAnswer(1);
        headless::keyDown(kVkSpace);
    });

    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_EQ(headless::now(), 500u);
    EXPECT_EQ(calls, (std::vector<std::size_t>{1, 1, 2, 2}));
    EXPECT_EQ(hidden, (std::vector<bool>{true, true, true, true}));
    ASSERT_EQ(headless::passwordVerifyCalls().size(), 3u);
    EXPECT_EQ(headless::passwordVerifyCalls()[0], hostState.saverWindow);

    // Running state: on while the verifier was held, off once it was let go.
    const auto& spi = headless::systemParameterCalls();
    ASSERT_EQ(spi.size(), 2u);
    EXPECT_EQ(spi[0].action, plat::SPI_SCREENSAVERRUNNING);
    EXPECT_EQ(spi[0].param, 1u);
    EXPECT_EQ(spi[1].param, 0u);
    EXPECT_EQ(spi[0].flags, 0u);
    EXPECT_EQ(headless::libraryReferences("PASSWORD.CPL"), 0);
}

TEST_F(HostWindowTest, ARefusedCloseMovesTheReferencePoint) {
    requirePassword(0);
    headless::at(100, [] { headless::moveCursor(110, 100); });  // asks, refused at (110,100)
    headless::at(400, [] { headless::moveCursor(113, 101); });  // 4 from there: nothing
    headless::at(500, [&] {
        EXPECT_EQ(headless::passwordVerifyCalls().size(), 1u);
        headless::setPasswordAnswer(1);
        headless::moveCursor(114, 101);  // 5: asks again
    });
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_EQ(headless::now(), 500u);
    EXPECT_EQ(headless::passwordVerifyCalls().size(), 2u);
}

TEST_F(HostWindowTest, WhileTheVerifierAsksTheCubeTurnsAndInputIsIgnored) {
    requirePassword(1);
    int framesBefore = 0, framesDuring = 0;
    plat::LResult setCursorDuring = -1;
    headless::setPasswordHook([&](plat::Window window) {
        framesBefore = headless::frameCount();
        headless::keyDown(kVkSpace, window);
        headless::moveCursor(200, 200, window);
        plat::PostMessageA(window, plat::WM_CLOSE, 0, 0);
        headless::runFor(500);
        framesDuring = headless::frameCount() - framesBefore;
        setCursorDuring = plat::SendMessageA(window, plat::WM_SETCURSOR, window, 0);
    });
    headless::at(100, [] { headless::keyDown(kVkSpace); });

    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_GE(framesDuring, 8);
    EXPECT_EQ(setCursorDuring, 0);
    // The close request posted while asking was refused without a nested check.
    EXPECT_EQ(headless::passwordVerifyCalls().size(), 1u);
}

TEST_F(HostWindowTest, OnceApprovedTicksPaintingAndInputStop) {
    requirePassword(1);
    headless::at(100, [] { headless::keyDown(kVkSpace); });
    ASSERT_EQ(hostMain(kInstance, "/s"), 0);
    ASSERT_NE(hostState.closeApproved, 0);

    // Until the process ends the record stays approved; a window of the class
    // made now shows what an approved window still does.
    const plat::Window window = plat::CreateWindowExA(
        0, "WindowsScreenSaverClass", "Screen Saver", plat::WS_POPUP | plat::WS_VISIBLE, 0, 0, 64,
        48, 0, kInstance);
    ASSERT_NE(window, 0u);
    const int frames = headless::frameCount();
    headless::showCursor();
    const plat::Msg tick{window, plat::WM_TIMER, 0, 0};
    EXPECT_EQ(plat::DispatchMessageA(&tick), 0);
    plat::SendMessageA(window, plat::WM_PAINT, 0, 0);
    plat::SendMessageA(window, plat::WM_KEYDOWN, kVkSpace, 0);
    plat::SendMessageA(window, plat::WM_LBUTTONDOWN, 0, 0);
    EXPECT_EQ(headless::frameCount(), frames);
    EXPECT_FALSE(headless::cursorHidden());
    EXPECT_EQ(countPosted(window, plat::WM_CLOSE), 0);
    EXPECT_EQ(headless::passwordVerifyCalls().size(), 1u);
    headless::destroyWindow(window);
}

TEST_F(HostWindowTest, InputMethodIsDetachedAndRestored) {
    headless::installInputMethod(true);
    headless::setDefaultInputContext(0x1C0);
    headless::at(100, [] { headless::keyDown(kVkSpace); });
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    const auto& calls = headless::inputContextCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].context, 0u);
    EXPECT_EQ(calls[0].returned, 0x1C0u);
    EXPECT_EQ(calls[1].context, 0x1C0u);
    EXPECT_EQ(calls[1].window, calls[0].window);

    // A library that is not loaded yet is left alone.
    restart();
    headless::installInputMethod(false);
    headless::at(100, [] { headless::keyDown(kVkSpace); });
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_TRUE(headless::inputContextCalls().empty());
    EXPECT_EQ(headless::libraryReferences("IMM32.DLL"), 0);
}

TEST_F(HostWindowTest, PasswordSettingEdgeCasesMeanNoPassword) {
    struct Case {
        const char* name;
        bool win95Family;
        std::vector<std::uint8_t> value;  // empty: the desktop names no setting
        bool withExport;
    };
    const std::vector<Case> cases = {
        {"the family has the check, the desktop asks for none", true, {}, true},
        // Off the family the desktop's password setting is not even read.
        {"off the family", false, {1, 0, 0, 0}, true},
        {"zero", true, {0, 0, 0, 0}, true},
        {"too long", true, {1, 0, 0, 0, 0}, true},
        {"library without export", true, {1, 0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        headless::setWin95Family(c.win95Family);
        if (!c.value.empty())
            headless::setRegistryValue("Control Panel\\Desktop", "ScreenSaveUsePassword", c.value);
        headless::installPasswordVerifier(c.withExport);
        expectSpaceClosesUnasked();
    }
    // A one-byte value counts as its low byte.
    restart();
    headless::setWin95Family(true);
    headless::setRegistryValue("Control Panel\\Desktop", "ScreenSaveUsePassword", {1},
                               headless::kRegBinary);
    headless::installPasswordVerifier();
    headless::at(100, [] { headless::keyDown(kVkSpace); });
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_EQ(headless::passwordVerifyCalls().size(), 1u);
}

}  // namespace
