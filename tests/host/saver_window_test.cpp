// The saver window's life: set-up, ticks and tear-down, seen from the file
// it leaves, the frames it shows and the messages it raises.
#include "host_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "jpeg_fixtures.h"

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

    // A default record with these sides' pictures, saved; then one start of
    // the saver, ended at `endMs` unless that is 0; what it printed.
    static std::string runWithSides(const std::vector<std::pair<std::size_t, const char*>>& sides,
                                    std::uint64_t endMs) {
        SaverSettings s = defaultRecord();
        for (const auto& [side, path] : sides) std::strcpy(s.sidePaths[side], path);
        writeSettingsFile(s);
        if (endMs > 0) endAt(endMs);
        ::testing::internal::CaptureStdout();
        const int status = hostMain(kInstance, "/s");
        const std::string printed = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(status, 0);
        return printed;
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

TEST_F(SaverWindowTest, AFirstStartWritesTheFileForItsScreenAndTearsDownWhole) {
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

    // Tear-down releases the window, the timer and what the start took.
    EXPECT_FALSE(plat::IsWindow(hostState.saverWindow));
    EXPECT_EQ(saverDrawing.surface, nullptr);
    EXPECT_EQ(depthBuffer.cells, nullptr);
    for (const Side& side : sideTable) EXPECT_EQ(side.pixels, nullptr);
    // Both the host and the saver ask to quit with 0.
    EXPECT_EQ(countPosted(0, plat::WM_QUIT), 2);
    // No tick after the window is gone: the loop ended at once.
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
    ASSERT_TRUE(writeFile("saver/red.jpg", solidJpeg(16, 16, 255, 0, 0)));
    runWithSides({{0, "saver/red.jpg"}, {3, "missing.jpg"}, {4, "also-missing.jpg"}}, 0);
    expectOneErrorBox("Image missing.jpg not found.");
    EXPECT_EQ(headless::frameCount(), 0);
    // The window stays until the process ends; what the start took does not.
    EXPECT_TRUE(plat::IsWindow(hostState.saverWindow));
    EXPECT_EQ(saverDrawing.surface, nullptr);
    EXPECT_EQ(depthBuffer.cells, nullptr);
    for (const Side& side : sideTable) EXPECT_EQ(side.pixels, nullptr);

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
    useUnwritableSettingsFile("nowhere");
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
    EXPECT_TRUE(std::filesystem::is_regular_file("nowhere")) << "nothing made in its place";
}

// A watch on FIFOs that a test hands to the saver: should the saver still be
// busy after a few seconds, it is blocked in an open, and the watch frees it
// by opening the other end, so the test ends and reports the block.
class FifoWatch {
public:
    explicit FifoWatch(std::vector<std::string> fifos) : fifos_(std::move(fifos)) {
        for (const std::string& fifo : fifos_) EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0) << fifo;
        thread_ = std::thread([this] { watch(); });
    }
    ~FifoWatch() {
        finish();
        for (const int fd : readers_) close(fd);
    }
    // Ends the watch; true when it had to free a blocked open.
    bool finish() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
        return rescued_;
    }

private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::seconds(5), [this] { return done_; })) {
            rescued_ = true;
            for (const std::string& fifo : fifos_) {
                // A reader blocked in its open gets an empty stream...
                const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0) close(writer);
                // ... and a writer blocked in its open a reader that stays
                // until the test ends, so its write cannot raise SIGPIPE.
                const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
                if (reader >= 0) readers_.push_back(reader);
            }
        }
    }

    std::vector<std::string> fifos_;
    std::vector<int> readers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    bool rescued_ = false;
    std::thread thread_;
};

// A FIFO as a side goes through the same loader as in the render tool's tests.
TEST_F(SaverWindowTest, AFifoAsTheSettingsFileIsRefusedWithoutBlocking) {
    std::filesystem::create_directory("fifo");
    FifoWatch watch({"fifo/rovanta.cfg"});
    // A settings file that cannot be read is a missing one: the defaults, and
    // a save that fails rather than waits for a reader.
    useSettingsFile("fifo/rovanta.cfg");
    endAt(200);
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    EXPECT_GE(headless::frameCount(), 2);
    expectOneErrorBox(kSaveFailedText);
    EXPECT_STREQ(saverSettings.sidePaths[5], "#f0f0ff");
    EXPECT_EQ(std::filesystem::status("fifo/rovanta.cfg").type(), std::filesystem::file_type::fifo);
    EXPECT_FALSE(watch.finish()) << "an open blocked on a FIFO";
}

// A start that fails is the process's last act; each test runs it last.
TEST_F(SaverWindowTest, ProgressiveDecodeWorkIsCappedYetACameraPictureLoads) {
    // Twenty-four megapixels in ten scans, as a camera writes them; then a
    // far smaller picture that asks for five hundred passes over itself.
    writeFile("saver/camera.jpg", progressiveGreyJpeg(6000, 4000, 3, 10));
    writeFile("saver/passes.jpg", progressiveGreyJpeg(4096, 4096, 1, 500));
    EXPECT_EQ(runWithSides({{0, "saver/camera.jpg"}, {1, "saver/passes.jpg"}}, 100),
              "Image of size 4096 by 4096 is too large.\n");
    expectOneErrorBox("Image saver/passes.jpg not found.");
}

TEST_F(SaverWindowTest, AllSidesShareOneMemoryBudgetThatCountsTheDecodersOwn) {
    // Side 2 alone fits: 337 MB of pixels and 225 MB of coefficients, which a
    // progressive decode keeps for the whole picture.
    writeFile("saver/deep.jpg", headerOnlyJpeg(10600, 10600, 1, true));
    runWithSides({{1, "saver/deep.jpg"}}, 100);
    EXPECT_TRUE(headless::messageBoxes().empty());
    EXPECT_GE(headless::frameCount(), 1);

    // After side 1's 537 MB of pixels it does not, and fails before it decodes.
    restart();
    writeFile("saver/held.jpg", headerOnlyJpeg(13376, 13376, 1, false));
    EXPECT_EQ(runWithSides({{0, "saver/held.jpg"}, {1, "saver/deep.jpg"}}, 100),
              "Image of size 10600 by 10600 is too large.\n");
    expectOneErrorBox("Image saver/deep.jpg not found.");
}

TEST_F(SaverWindowTest, ASaveSweepsTheTemporaryFilesOfSavesThatWereKilled) {
    const pid_t dead = fork();
    if (dead == 0) _exit(0);
    ASSERT_GT(dead, 0);
    ASSERT_EQ(waitpid(dead, nullptr, 0), dead);
    const pid_t live = fork();
    if (live == 0) {
        pause();
        _exit(0);
    }
    ASSERT_GT(live, 0);

    const std::string stem = "saver/rovanta.cfg.~";
    const std::string ofDead = stem + std::to_string(dead);
    const std::vector<std::string> stale = {ofDead + ".1", ofDead + ".27"};
    const std::vector<std::string> kept = {
        stem + std::to_string(live) + ".1",  // a save still running
        ofDead + ".x", ofDead + ".", ofDead + ".1.bak", "saver/other.cfg.~" + std::to_string(dead) + ".1"};
    for (const std::string& name : stale) writeFile(name, {});
    writeFile(stale[1], std::vector<std::uint8_t>(kSettingsFileSize, 0));
    for (const std::string& name : kept) writeFile(name, {1});
    // Never followed, never another user's.
    writeFile("victim", {1});
    std::filesystem::create_symlink("../victim", ofDead + ".2");
    const bool root = geteuid() == 0;
    if (root) {
        writeFile(ofDead + ".3", {1});
        EXPECT_EQ(chown((ofDead + ".3").c_str(), 65534, 65534), 0);
    }

    endAt(120);
    EXPECT_EQ(hostMain(kInstance, "/s"), 0);
    kill(live, SIGKILL);
    waitpid(live, nullptr, 0);

    for (const std::string& name : stale) EXPECT_FALSE(std::filesystem::exists(name)) << name;
    for (const std::string& name : kept) EXPECT_TRUE(std::filesystem::exists(name)) << name;
    EXPECT_TRUE(std::filesystem::is_symlink(ofDead + ".2"));
    EXPECT_TRUE(std::filesystem::exists("victim"));
    if (root) {
        EXPECT_TRUE(std::filesystem::exists(ofDead + ".3"));
    }
    EXPECT_EQ(readSettingsFile().size(), kSettingsFileSize);
}

// A hack's --delay: the tick comes at the period asked for.
TEST_F(SaverWindowTest, TheRunsFramePeriodIsTheTimersPeriod) {
    saverRunOptions.framePeriodMs = 20;
    endAt(190);
    const int status = hostMain(kInstance, "/s");
    saverRunOptions = SaverRunOptions{};
    EXPECT_EQ(status, 0);
    EXPECT_EQ(headless::frameCount(), 9) << "ticks at 20, 40 .. 180 ms";
}

}  // namespace
