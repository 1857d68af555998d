// The saver window's life: set-up, ticks and tear-down, seen from the file
// it leaves, the frames it shows and the messages it raises.
#include "host_test_support.h"

#include <cmath>

namespace {

using hosttest::HostTest;
using hosttest::kInstance;

class SaverWindowTest : public HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        headless::setScreenSize(160, 120);
    }

    static void endAt(std::uint64_t ms) {
        headless::at(ms, [] { headless::keyDown(' '); });
    }

    static void expectOneErrorBox(const char* text) {
        ASSERT_EQ(headless::messageBoxes().size(), 1u);
        const headless::MessageBoxRecord& box = headless::messageBoxes()[0];
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.owner, 0u);
        EXPECT_EQ(box.type & 0xF0u, plat::MB_ICONERROR);
    }
};

TEST_F(SaverWindowTest, AFirstStartWritesTheFileForItsScreen) {
    headless::setScreenSize(1024, 768);
    endAt(120);
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);

    // The defaults with the face and centre worked out for 1024 x 768, every
    // byte past each side's text still zero.
    SaverSettings expected = defaultRecord();
    expected.faceSize = 200;
    expected.centerX = 512;
    expected.centerY = 384;
    EXPECT_EQ(readSettingsFile(), fileImage(expected));
    EXPECT_TRUE(headless::messageBoxes().empty());
    EXPECT_EQ(headless::frameCount(), 2);
}

TEST_F(SaverWindowTest, FramesShowTheCubeOnBlackAndTheCreditFromTheFontMetrics) {
    headless::setScreenSize(1024, 768);
    SaverSettings s = defaultRecord();
    for (std::size_t i = 1; i < kSideCount; ++i) std::strcpy(s.sidePaths[i], "$none");
    writeSettingsFile(s);
    plat::TextMetrics metrics{};
    std::vector<std::uint32_t> cubeOnly;
    headless::at(10, [&] { metrics = plat::GetFrameSurfaceTextMetrics(saverDrawing.surface); });
    endAt(60);
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    ASSERT_EQ(headless::frameCount(), 1);
    const headless::Frame& frame = headless::lastFrame();
    ASSERT_EQ(frame.width, 1024);
    ASSERT_EQ(frame.height, 768);
    EXPECT_EQ(frame.window, hostState.saverWindow);
    ASSERT_GT(metrics.averageCharWidth, 0);
    ASSERT_GT(metrics.height, 0);

    // The credit cell: right-aligned by the average character width, standing
    // one and a half lines above the bottom edge.
    const int length = static_cast<int>(std::strlen(kCreditText));
    const int cellX = 1024 - length * metrics.averageCharWidth;
    const int cellY = 768 - (3 * (metrics.height + metrics.externalLeading)) / 2;
    ASSERT_GE(cellX, 0);
    int red = 0, grey = 0, other = 0, greyOutsideCell = 0;
    for (int y = 0; y < 768; ++y) {
        for (int x = 0; x < 1024; ++x) {
            const std::uint32_t p = frame.pixels[static_cast<std::size_t>(y * 1024 + x)];
            if (p == 0) continue;
            const std::uint32_t r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
            const bool inCell = x >= cellX && y >= cellY && y < cellY + metrics.height;
            if (p == 0xFF0000) {
                ++red;
            } else if (r == g && g == b && r <= 0x3C) {
                ++grey;
                greyOutsideCell += !inCell;
            } else {
                ++other;
            }
        }
    }
    // One red side of edge 200 seen at a slant, and nothing else but text.
    EXPECT_GT(red, 200 * 200 / 4);
    EXPECT_LT(red, 200 * 200 * 2);
    EXPECT_GT(grey, length * 4);
    EXPECT_EQ(greyOutsideCell, 0);
    EXPECT_EQ(other, 0);
}

TEST_F(SaverWindowTest, AFailingSideShowsOneMessageQuitsAndStillSaves) {
    SaverSettings s = defaultRecord();
    std::strcpy(s.sidePaths[3], "missing.jpg");
    std::strcpy(s.sidePaths[4], "also-missing.jpg");
    writeSettingsFile(s);

    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    expectOneErrorBox("Image missing.jpg not found.");
    EXPECT_EQ(headless::frameCount(), 0);

    const SaverSettings saved = settingsFromFile();
    EXPECT_EQ(saved.faceSize, 0);
    EXPECT_EQ(saved.centerX, 80);
    EXPECT_EQ(saved.centerY, 60);
    EXPECT_STREQ(saved.sidePaths[3], "missing.jpg");
}

TEST_F(SaverWindowTest, FirstTickUsesTheFixedStepLaterOnesStayWithinTheSetting) {
    for (std::int32_t degrees : {90, 1}) {
        SCOPED_TRACE(degrees);
        restart();
        SaverSettings s = defaultRecord();
        s.maxRotationDegrees = degrees;
        writeSettingsFile(s);

        std::vector<RotationState> seen;
        for (std::uint64_t t = 60; t < 2000; t += 50)
            headless::at(t, [&] { seen.push_back(rotationState); });
        endAt(2000);
        EXPECT_EQ(hostMain(kInstance, "/s"), 0);
        ASSERT_GE(seen.size(), 30u);

        EXPECT_EQ(seen[0].angleA, 0.7853982f + 0.06283186f);
        EXPECT_EQ(seen[0].angleB, 0.7853982f + 0.06283186f);
        EXPECT_EQ(seen[0].angleC, 0.7853982f + 0.06283186f);

        const double limit = degrees * 3.1415926535 / 180.0 + 1e-6;
        double largest = 0;
        for (std::size_t i = 0; i < seen.size(); ++i) {
            for (float step : {seen[i].stepA, seen[i].stepB, seen[i].stepC}) {
                EXPECT_GE(step, 0.0f);
                EXPECT_LE(step, limit);
                largest = std::max(largest, static_cast<double>(step));
            }
            for (float angle : {seen[i].angleA, seen[i].angleB, seen[i].angleC}) {
                EXPECT_GE(angle, 0.0f);
                EXPECT_LT(angle, 6.2831855f);
            }
            if (i == 0) continue;
            // Each tick adds the step drawn at the tick before.
            const double turned =
                std::fmod(seen[i].angleA - seen[i - 1].angleA + 6.2831853, 6.2831853);
            EXPECT_NEAR(turned, seen[i - 1].stepA, 1e-5);
        }
        // 120 random steps all below a tenth of the limit would be a broken
        // generator, not bad luck.
        EXPECT_GT(largest, limit / 10);
    }
}

TEST_F(SaverWindowTest, AnglesStayWithinOneTurnOverALongRun) {
    SaverSettings s = defaultRecord();
    s.maxRotationDegrees = 90;
    for (auto& side : s.sidePaths) std::strcpy(side, "$none");
    writeSettingsFile(s);
    headless::setScreenSize(16, 12);
    headless::setTimeLimit(400000);
    float largest = 0;
    std::uint64_t t = 0;
    for (t = 10; t < 300000; t += 1000)
        headless::at(t, [&] {
            largest = std::max({largest, rotationState.angleA, rotationState.angleB,
                                rotationState.angleC});
        });
    endAt(300000);
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    // Some 6000 ticks averaging 45 degrees would be about 750 turns unreduced.
    EXPECT_GT(largest, 5.0f);
    EXPECT_LT(largest, 6.2831855f);
    EXPECT_GT(headless::frameCount(), 5000);
}

TEST_F(SaverWindowTest, ASaveFailureIsReportedOnceAndTheSaverRunsOn) {
    headless::setCommandLine("\"nowhere/rovanta\" /s");  // a directory that does not exist
    int framesWhileBoxOpen = -1;
    headless::setMessageBoxHook([&](const headless::MessageBoxRecord&) {
        const int before = headless::frameCount();
        headless::runFor(300);
        framesWhileBoxOpen = headless::frameCount() - before;
    });
    endAt(600);
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);

    expectOneErrorBox("Could not save ROVANTA settings to rovanta.cfg.");
    // Ticks reach the saver while the box is open, and after it closed.
    EXPECT_GE(framesWhileBoxOpen, 5);
    EXPECT_GE(headless::frameCount(), framesWhileBoxOpen + 5);
    EXPECT_FALSE(std::filesystem::exists("nowhere"));
}

TEST_F(SaverWindowTest, TearDownReleasesTheTimerAndPostsQuit) {
    endAt(120);
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_FALSE(plat::IsWindow(hostState.saverWindow));
    EXPECT_EQ(saverDrawing.surface, nullptr);
    EXPECT_EQ(depthBuffer.cells, nullptr);
    for (const Side& side : sideTable) EXPECT_EQ(side.pixels, nullptr);
    // Both the host and the saver ask to quit with 0.
    EXPECT_EQ(countPosted(0, plat::WM_QUIT), 2);
    // No tick after the window is gone: the loop ended at once.
    EXPECT_EQ(headless::frameCount(), 2);
}

}  // namespace
