// The message queue: what runs when, through a window procedure that keeps a
// log of what it saw.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/headless/headless.h"
#include "platform/platform.h"

namespace {

struct Seen {
    plat::Window window;
    std::uint32_t message;
    plat::WParam wParam;
    std::uint64_t time;
};

std::vector<Seen> seen;
bool inHandler = false;
bool nestedEntry = false;
// Per-test behaviour of the procedure for one message.
std::function<plat::LResult(plat::Window, std::uint32_t, plat::WParam, plat::LParam)> reaction;

plat::LResult logProc(plat::Window w, std::uint32_t m, plat::WParam wp, plat::LParam lp) {
    if (m == plat::WM_TIMER && inHandler) nestedEntry = true;
    seen.push_back(Seen{w, m, wp, headless::now()});
    bool outer = inHandler;
    inHandler = true;
    plat::LResult r = reaction ? reaction(w, m, wp, lp) : plat::DefWindowProcA(w, m, wp, lp);
    inHandler = outer;
    return r;
}

std::vector<std::uint32_t> messagesOf(plat::Window w, std::initializer_list<std::uint32_t> only) {
    std::vector<std::uint32_t> out;
    for (const Seen& s : seen)
        if (s.window == w)
            for (std::uint32_t m : only)
                if (s.message == m) out.push_back(m);
    return out;
}

class Queue : public ::testing::Test {
protected:
    void SetUp() override {
        headless::reset();
        seen.clear();
        inHandler = false;
        nestedEntry = false;
        reaction = nullptr;
        ASSERT_TRUE(plat::RegisterClassA(plat::WindowClass{0, logProc, 0, 0, "LogClass"}));
    }
    plat::Window makeWindow(const char* title = "Log") {
        return plat::CreateWindowExA(0, "LogClass", title, plat::WS_POPUP, 0, 0, 100, 50, 0, 0);
    }
    // The host's loop: until the quit message; its code, or -1 on error.
    static int runLoop() {
        plat::Msg msg{};
        int r;
        while ((r = plat::GetMessageA(&msg)) > 0) {
            plat::TranslateMessage(&msg);
            plat::DispatchMessageA(&msg);
        }
        return r == 0 ? static_cast<int>(msg.wParam) : -1;
    }
};

TEST_F(Queue, SentRunsAtOncePostedWaitsItsTurnQuitEndsTheLoopWithItsCode) {
    plat::Window w = makeWindow();
    ASSERT_NE(w, 0u);
    seen.clear();
    ASSERT_TRUE(plat::PostMessageA(w, plat::WM_APP + 1, 1, 0));
    ASSERT_TRUE(plat::PostMessageA(w, plat::WM_APP + 2, 2, 0));
    EXPECT_EQ(plat::SendMessageA(w, plat::WM_APP + 3, 3, 0), 0);
    ASSERT_EQ(seen.size(), 1u);  // only the sent one so far
    EXPECT_EQ(seen[0].message, plat::WM_APP + 3u);

    reaction = [](plat::Window win, std::uint32_t m, plat::WParam wp, plat::LParam lp) {
        if (m == plat::WM_APP + 2) plat::PostQuitMessage(7);
        return plat::DefWindowProcA(win, m, wp, lp);
    };
    EXPECT_EQ(runLoop(), 7);
    EXPECT_EQ(messagesOf(w, {plat::WM_APP + 1, plat::WM_APP + 2}),
              (std::vector<std::uint32_t>{plat::WM_APP + 1, plat::WM_APP + 2}));
}

TEST_F(Queue, TimerTicksOnlyWhenIdleCoalescedAndNeverInsideAHandler) {
    plat::Window w = makeWindow();
    ASSERT_NE(plat::SetTimer(w, 0, 50), 0u);
    int ticks = 0;
    reaction = [&ticks](plat::Window win, std::uint32_t m, plat::WParam wp, plat::LParam lp) {
        if (m == plat::WM_TIMER) {
            ++ticks;
            if (ticks == 1) {
                // A slow frame: three periods pass inside the handler, and a
                // posted message arrives meanwhile.
                plat::Sleep(170);
                plat::PostMessageA(win, plat::WM_APP, 0, 0);
            }
            if (ticks == 3) plat::PostQuitMessage(0);
        }
        return plat::DefWindowProcA(win, m, wp, lp);
    };
    EXPECT_EQ(runLoop(), 0);
    EXPECT_FALSE(nestedEntry);
    std::vector<Seen> relevant;
    for (const Seen& s : seen)
        if (s.message == plat::WM_TIMER || s.message == plat::WM_APP) relevant.push_back(s);
    ASSERT_EQ(relevant.size(), 4u);
    EXPECT_EQ(relevant[0].message, plat::WM_TIMER);
    EXPECT_EQ(relevant[0].time, 50u);
    // The posted message goes first although the timer was long overdue, and
    // the overdue periods give one tick, not three.
    EXPECT_EQ(relevant[1].message, plat::WM_APP);
    EXPECT_EQ(relevant[2].message, plat::WM_TIMER);
    EXPECT_EQ(relevant[2].time, 220u);
    EXPECT_EQ(relevant[3].message, plat::WM_TIMER);
    EXPECT_EQ(relevant[3].time, 270u);
}

TEST_F(Queue, ModalMessageBoxInsideAHandlerKeepsDispatching) {
    plat::Window w = makeWindow();
    plat::SetTimer(w, 0, 50);
    headless::setMessageBoxHook([](const headless::MessageBoxRecord&) { headless::runFor(200); });
    int ticksDuringBox = 0;
    bool boxOpen = false;
    reaction = [&](plat::Window win, std::uint32_t m, plat::WParam wp, plat::LParam lp) {
        if (m == plat::WM_TIMER && boxOpen) ++ticksDuringBox;
        if (m == plat::WM_APP) {
            boxOpen = true;
            plat::MessageBoxA(0, "text", "Error", plat::MB_ICONERROR);
            boxOpen = false;
            plat::PostQuitMessage(3);
        }
        return plat::DefWindowProcA(win, m, wp, lp);
    };
    headless::at(10, [w] { plat::PostMessageA(w, plat::WM_APP, 0, 0); });
    EXPECT_EQ(runLoop(), 3);
    EXPECT_EQ(ticksDuringBox, 4);
    ASSERT_EQ(headless::messageBoxes().size(), 1u);
    EXPECT_EQ(headless::messageBoxes()[0].caption, "Error");
}

TEST_F(Queue, PeekMessageRemovesOnlyFromItsWindowAndRange) {
    plat::Window a = makeWindow("A");
    plat::Window b = makeWindow("B");
    plat::SetTimer(a, 5, 50);
    plat::PostMessageA(a, plat::WM_APP, 0, 0);
    plat::PostMessageA(b, plat::WM_TIMER, 9, 0);
    plat::PostMessageA(a, plat::WM_TIMER, 8, 0);
    plat::Msg msg{};
    EXPECT_TRUE(plat::PeekMessageA(&msg, a, plat::WM_TIMER, plat::WM_TIMER,
                                   plat::PM_REMOVE | plat::PM_NOYIELD));
    EXPECT_EQ(msg.window, a);
    EXPECT_EQ(msg.wParam, 8u);
    // The timer of a is not due yet, b's message is not a's: nothing more.
    EXPECT_FALSE(plat::PeekMessageA(&msg, a, plat::WM_TIMER, plat::WM_TIMER, plat::PM_REMOVE));
    // Looking without PM_REMOVE leaves the message where it is.
    EXPECT_TRUE(plat::PeekMessageA(&msg, 0, 0, 0, 0));
    EXPECT_EQ(msg.message, plat::WM_APP);
    EXPECT_TRUE(plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE));
    EXPECT_EQ(msg.message, plat::WM_APP);

    // A due timer is taken by the peek, and its next tick is a period later.
    plat::Sleep(60);
    EXPECT_TRUE(plat::PeekMessageA(&msg, a, plat::WM_TIMER, plat::WM_TIMER, plat::PM_REMOVE));
    EXPECT_EQ(msg.wParam, 5u);
    EXPECT_FALSE(plat::PeekMessageA(&msg, a, plat::WM_TIMER, plat::WM_TIMER, plat::PM_REMOVE));
    EXPECT_TRUE(plat::PeekMessageA(&msg, b, plat::WM_TIMER, plat::WM_TIMER, plat::PM_REMOVE));
    EXPECT_EQ(msg.wParam, 9u);
}

TEST_F(Queue, CloseDestroysThroughDefaultHandlingAndPendingMessagesDie) {
    plat::Window w = makeWindow();
    plat::SetTimer(w, 0, 50);
    plat::PostMessageA(w, plat::WM_APP, 0, 0);
    seen.clear();
    plat::SendMessageA(w, plat::WM_CLOSE, 0, 0);
    EXPECT_FALSE(plat::IsWindow(w));
    EXPECT_EQ(messagesOf(w, {plat::WM_CLOSE, plat::WM_DESTROY}),
              (std::vector<std::uint32_t>{plat::WM_CLOSE, plat::WM_DESTROY}));
    plat::Msg msg{};
    plat::Sleep(100);
    EXPECT_FALSE(plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE));  // no timer, no WM_APP
    EXPECT_FALSE(plat::PostMessageA(w, plat::WM_APP, 0, 0));
}

TEST_F(Queue, ALoopThatCanOnlyWaitForeverFailsInsteadOfHanging) {
    makeWindow();
    plat::Msg msg{};
    EXPECT_EQ(plat::GetMessageA(&msg), -1);
}

TEST_F(Queue, ALoopRunningPastTheTimeLimitFails) {
    plat::Window w = makeWindow();
    plat::SetTimer(w, 0, 50);
    headless::setTimeLimit(1000);
    EXPECT_EQ(runLoop(), -1);
    EXPECT_LE(headless::now(), 1000u);
    EXPECT_EQ(messagesOf(w, {plat::WM_TIMER}).size(), 20u);
}

TEST_F(Queue, CreationMessagesAndAFailedCreation) {
    ASSERT_TRUE(plat::RegisterClassA(plat::WindowClass{0, logProc, 0, 0, "Refuser"}));
    reaction = [](plat::Window win, std::uint32_t m, plat::WParam wp, plat::LParam lp) {
        if (m == plat::WM_CREATE) return plat::LResult{-1};
        return plat::DefWindowProcA(win, m, wp, lp);
    };
    EXPECT_EQ(plat::CreateWindowExA(0, "Refuser", "x", plat::WS_POPUP, 0, 0, 10, 10, 0, 0), 0u);
    EXPECT_FALSE(plat::RegisterClassA(plat::WindowClass{0, logProc, 0, 0, "refuser"}));
    EXPECT_EQ(plat::CreateWindowExA(0, "NoSuchClass", "x", plat::WS_POPUP, 0, 0, 10, 10, 0, 0),
              0u);

    reaction = nullptr;
    seen.clear();
    plat::Window w = plat::CreateWindowExA(0, "LogClass", "Shown", plat::WS_POPUP | plat::WS_VISIBLE,
                                           0, 0, 30, 20, 0, 0);
    ASSERT_NE(w, 0u);
    EXPECT_EQ(messagesOf(w, {plat::WM_CREATE, plat::WM_SHOWWINDOW}),
              (std::vector<std::uint32_t>{plat::WM_CREATE, plat::WM_SHOWWINDOW}));
    // The first look at the queue paints, and painting erases the background.
    plat::Msg msg{};
    ASSERT_TRUE(plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE));
    EXPECT_EQ(msg.message, plat::WM_PAINT);
    plat::DispatchMessageA(&msg);
    EXPECT_EQ(messagesOf(w, {plat::WM_ERASEBKGND}).size(), 1u);
    EXPECT_EQ(headless::backgroundFills(w), 1);
    EXPECT_FALSE(plat::PeekMessageA(&msg, 0, 0, 0, plat::PM_REMOVE));
}

TEST_F(Queue, ChildWindowsOfAForeignParentDieWithIt) {
    plat::Window parent = headless::createForeignWindow(152, 112, "Pane", "");
    ASSERT_TRUE(plat::IsWindow(parent));
    plat::Rect r{};
    ASSERT_TRUE(plat::GetClientRect(parent, &r));
    EXPECT_EQ(r.right, 152);
    EXPECT_EQ(r.bottom, 112);
    EXPECT_EQ(plat::CreateWindowExA(0, "LogClass", "c", plat::WS_CHILD, 0, 0, 5, 5, 0, 0), 0u);
    plat::Window child =
        plat::CreateWindowExA(0, "LogClass", "Preview", plat::WS_CHILD, 0, 0, 152, 112, parent, 0);
    ASSERT_NE(child, 0u);
    EXPECT_EQ(plat::GetParent(child), parent);
    // A child is not found by FindWindowA; a foreign top-level window is.
    EXPECT_EQ(plat::FindWindowA("LogClass", "Preview"), 0u);
    EXPECT_EQ(plat::FindWindowA("pane", nullptr), parent);
    headless::at(100, [parent] { headless::destroyForeignWindow(parent); });
    reaction = [](plat::Window win, std::uint32_t m, plat::WParam wp, plat::LParam lp) {
        if (m == plat::WM_DESTROY) plat::PostQuitMessage(0);
        return plat::DefWindowProcA(win, m, wp, lp);
    };
    EXPECT_EQ(runLoop(), 0);
    EXPECT_FALSE(plat::IsWindow(child));
    EXPECT_FALSE(plat::IsWindow(parent));
    EXPECT_EQ(headless::now(), 100u);
}

}  // namespace
