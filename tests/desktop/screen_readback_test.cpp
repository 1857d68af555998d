// What the window shows after every tick is the whole frame drawn afresh:
// black, the cube, the credit line, the frame-rate line. The saver clears
// and sends only what changed; this runs it in this process on an Xvfb
// display, in lock-step, and after each tick reads the window back and
// compares it with a frame drawn here from black at the tick's angles.
//
// The saver window gets a procedure of ours that hands every message to the
// host's and, after a tick, does the comparison; so the program itself needs
// no hook. Along the way the frame-rate line comes and goes, the parent is
// made so small that the cube passes under both lines of text, and a window
// covers the credit line and goes away again.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "host/host_state.h"
#include "host/host_window.h"
#include "host/saver_window.h"
#include "platform/platform.h"
#include "render/cube_renderer.h"
#include "x_session.h"

namespace {

constexpr int kTicks = 160;
constexpr int kFrameRateOn = 12;   // the line appears once its first second is over
constexpr int kResize = 55;
constexpr int kCover = 80;         // mapped after this tick's check, gone after the next
constexpr int kFrameRateOff = 120;
constexpr std::uint32_t kMarker = 0xFF00FF;  // drawn at (0, 0), where no cube reaches

struct Run {
    Display* display = nullptr;  // the test's own connection
    ::Window parent = 0;
    ::Window cover = 0;
    plat::FrameSurface* reference = nullptr;
    std::int32_t referenceWidth = 0;
    std::int32_t referenceHeight = 0;
    int ticks = 0;
    int compared = 0;
    int mismatched = 0;
    int withFrameRate = 0;
    int markerKept = 0;        // ticks that sent less than the whole window
    bool markerAfterResize = false;
    bool markerAfterCover = false;
    std::string firstMismatch;
    std::chrono::steady_clock::time_point deadline;
};
Run run;

// The frame as drawn from black at this tick's angles, by the saver's own
// pieces: renderCube, drawCredit, and the frame-rate text where it stands.
const PixelSurface* referenceFrame(plat::Window window) {
    if (run.reference == nullptr || run.referenceWidth != saverDrawing.width ||
        run.referenceHeight != saverDrawing.height) {
        if (run.reference != nullptr) plat::DestroyFrameSurface(run.reference);
        run.reference = plat::CreateFrameSurface(window, saverDrawing.width, saverDrawing.height);
        run.referenceWidth = saverDrawing.width;
        run.referenceHeight = saverDrawing.height;
    }
    if (run.reference == nullptr) return nullptr;
    plat::BlackenFrameSurface(run.reference);
    renderCube(*plat::FrameSurfacePixels(run.reference), rotationState.angleA,
               rotationState.angleB, rotationState.angleC);
    drawCredit(run.reference);
    if (saverRunOptions.showFrameRate && frameRateText()[0] != '\0') {
        const plat::TextMetrics m = plat::GetFrameSurfaceTextMetrics(run.reference);
        plat::FrameSurfaceTextOut(run.reference, 0,
                                  saverDrawing.height - (3 * (m.height + m.externalLeading)) / 2,
                                  frameRateText(), 0x3C3C3Cu, 0u);
        ++run.withFrameRate;
    }
    return plat::FrameSurfacePixels(run.reference);
}

void checkTick(plat::Window window) {
    const PixelSurface* want = referenceFrame(window);
    if (want == nullptr) {
        ++run.mismatched;
        return;
    }
    const std::vector<std::uint32_t> got =
        xsession::grab(run.display, 0, 0, want->width, want->height);
    if (got.size() != static_cast<std::size_t>(want->width) * want->height) {
        ++run.mismatched;
        return;
    }
    // The marker stays only where the tick sent less than the whole window
    // (nothing of the frame is drawn at (0, 0)).
    const bool kept = (got[0] & 0xFFFFFFu) == kMarker && want->pixels[0] == 0;
    if (kept) ++run.markerKept;
    if (run.ticks == kResize + 1) run.markerAfterResize = kept;
    if (run.ticks == kCover + 2) run.markerAfterCover = kept;
    ++run.compared;
    for (std::int32_t y = 0; y < want->height; ++y)
        for (std::int32_t x = 0; x < want->width; ++x) {
            if (kept && x == 0 && y == 0) continue;
            const std::uint32_t g = got[static_cast<std::size_t>(y) * want->width + x] & 0xFFFFFFu;
            const std::uint32_t w = want->pixels[static_cast<std::int64_t>(y) * want->stride + x];
            if (g == (w & 0xFFFFFFu)) continue;
            if (run.mismatched++ == 0) {
                char text[160];
                std::snprintf(text, sizeof text, "tick %d (%dx%d): pixel %d,%d is %06x, not %06x",
                              run.ticks, want->width, want->height, x, y, g, w & 0xFFFFFFu);
                run.firstMismatch = text;
            }
            return;
        }
}

void afterTick(plat::Window window) {
    ++run.ticks;
    if (run.ticks != kCover + 1) checkTick(window);  // the saver lies under the cover then

    // The next tick either sends the whole window, over this, or leaves it.
    GC gc = XCreateGC(run.display, run.parent, 0, nullptr);
    XSetForeground(run.display, gc, kMarker);
    XDrawPoint(run.display, static_cast<::Window>(window), gc, 0, 0);
    XFreeGC(run.display, gc);

    if (run.ticks == kFrameRateOn) saverRunOptions.showFrameRate = true;
    if (run.ticks == kFrameRateOff) saverRunOptions.showFrameRate = false;
    if (run.ticks == kResize) XResizeWindow(run.display, run.parent, 480, 300);
    if (run.ticks == kCover) {
        // Over the credit line, which only a whole frame brings back.
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = 0x808080;
        run.cover = XCreateWindow(run.display, DefaultRootWindow(run.display), 150, 250, 360,
                                  80, 0, CopyFromParent, InputOutput, CopyFromParent,
                                  CWBackPixel | CWOverrideRedirect, &a);
        XMapRaised(run.display, run.cover);
    }
    if (run.ticks == kCover + 1) XDestroyWindow(run.display, run.cover);
    // Our requests are done before the saver's next look at its events.
    XSync(run.display, False);
    if (run.ticks == kTicks || std::chrono::steady_clock::now() > run.deadline)
        plat::PostMessageA(window, plat::WM_CLOSE, 0, 0);
}

plat::LResult readBackProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                           plat::LParam lParam) {
    const plat::LResult result = HostWindowProc(window, message, wParam, lParam);
    if (message == plat::WM_TIMER && run.ticks < kTicks) afterTick(window);
    return result;
}

TEST(ScreenReadBack, EveryTickShowsTheWholeFrameDrawnFromBlack) {
    xsession::Server server;
    std::string why;
    if (!xsession::start(&server, 800, 600, &why)) GTEST_SKIP() << why;
    const std::string dir = xsession::tempDir();
    const std::string config = dir + "/rovanta.cfg";
    std::ofstream(config, std::ios::binary) << xsession::settingsFile({}, 2, 90);
    setenv("DISPLAY", server.display.c_str(), 1);
    setenv("ROVANTA_CONFIG", config.c_str(), 1);
    unsetenv("ROVANTA_FULL_FRAMES");

    run.display = server.connection;
    run.parent = xsession::makeGreyWindow(server.connection, 0, 0, 760, 560);
    run.deadline = std::chrono::steady_clock::now() + std::chrono::seconds(100);
    constexpr plat::Module kInstance = 0x400000;
    hostState.instance = kInstance;
    hostState.isPreview = true;
    ASSERT_TRUE(plat::RegisterClassA(
        plat::WindowClass{plat::CS_OWNDC, readBackProc, kInstance, 0, "RovantaReadBack"}));
    const plat::Window saver =
        plat::CreateWindowExA(0, "RovantaReadBack", "Preview", plat::WS_CHILD | plat::WS_VISIBLE,
                              0, 0, 760, 560, static_cast<plat::Window>(run.parent), kInstance);
    ASSERT_NE(saver, 0u);
    plat::Msg msg{};
    int got = 0;
    while ((got = plat::GetMessageA(&msg)) > 0) {
        plat::TranslateMessage(&msg);
        plat::DispatchMessageA(&msg);
    }
    if (run.reference != nullptr) plat::DestroyFrameSurface(run.reference);
    if (::testing::Test::HasFailure() || run.mismatched > 0) xsession::screenshot(server, "readback");
    xsession::stop(&server);

    EXPECT_EQ(got, 0);
    EXPECT_EQ(run.ticks, kTicks) << "the run took too long";
    EXPECT_EQ(run.compared, kTicks - 1);
    EXPECT_EQ(run.mismatched, 0) << run.firstMismatch;
    EXPECT_GT(run.withFrameRate, 0) << "the frame-rate line never showed";
    // Most ticks send a part; after the resize and the cover, the whole.
    EXPECT_GT(run.markerKept, kTicks / 3);
    EXPECT_FALSE(run.markerAfterResize);
    EXPECT_FALSE(run.markerAfterCover);
}

}  // namespace
