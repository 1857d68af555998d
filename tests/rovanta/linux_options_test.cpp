// The Linux program's own options: the daemon's window switches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "linux_options.h"

namespace {

LinuxOptions scan(std::initializer_list<const char*> args, const char* env = nullptr) {
    std::vector<const char*> argv = {"rovanta"};
    argv.insert(argv.end(), args.begin(), args.end());
    LinuxOptions options;
    readLinuxOptions(static_cast<int>(argv.size()), argv.data(), env, &options);
    return options;
}

TEST(HackSwitches, WindowIdsInDecimalAndHexadecimal) {
    std::uint32_t id = 7;
    EXPECT_TRUE(parseXWindowId("0x1c00007", &id));
    EXPECT_EQ(id, 0x1c00007u);
    EXPECT_TRUE(parseXWindowId("0X1C00007", &id));
    EXPECT_EQ(id, 0x1c00007u);
    EXPECT_TRUE(parseXWindowId(" 29360135\n", &id));
    EXPECT_EQ(id, 29360135u);
    EXPECT_TRUE(parseXWindowId("0xFFFFFFFF", &id));
    EXPECT_EQ(id, 0xFFFFFFFFu);

    id = 7;
    for (const char* bad : {"", "0x", "12abc", "-5", "0x1g", "4294967296", "0x100000000", "  "})
        EXPECT_FALSE(parseXWindowId(bad, &id)) << bad;
    EXPECT_FALSE(parseXWindowId(nullptr, &id));
    EXPECT_EQ(id, 7u) << "a refused text leaves the id alone";
}

TEST(HackSwitches, RootTakesTheDaemonsWindowOrTheRootWindow) {
    LinuxOptions h = scan({"--root"}, "0x2a00005");
    EXPECT_EQ(h.route, HackRoute::Root);
    EXPECT_TRUE(h.windowGiven);
    EXPECT_EQ(h.window, 0x2a00005u);

    h = scan({"-root"}, "44040197");
    EXPECT_EQ(h.route, HackRoute::Root);
    EXPECT_EQ(h.window, 44040197u);

    for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
        h = scan({"-root"}, unset);
        EXPECT_EQ(h.route, HackRoute::Root);
        EXPECT_FALSE(h.windowGiven) << "no variable: the root window";
    }

    // A variable we cannot read must not turn into drawing on the whole screen.
    h = scan({"--root"}, "garbage");
    EXPECT_TRUE(h.windowGiven);
    EXPECT_EQ(h.window, 0u);
}

TEST(HackSwitches, WindowIdInEveryFormAndItWinsOverRoot) {
    EXPECT_EQ(scan({"-window-id", "0x400001"}).window, 0x400001u);
    EXPECT_EQ(scan({"--window-id", "1234"}).window, 1234u);
    EXPECT_EQ(scan({"--window-id=0x99"}).window, 0x99u);
    EXPECT_EQ(scan({"--window-id"}).route, HackRoute::WindowId);
    EXPECT_EQ(scan({"--window-id"}).window, 0u) << "no value: a window the host refuses";
    EXPECT_EQ(scan({"--window-id", "junk"}).window, 0u);

    for (auto args : {std::initializer_list<const char*>{"-window-id", "17", "--root"},
                      {"--root", "-fps", "--window-id", "17"}}) {
        const LinuxOptions h = scan(args, "0x5");
        EXPECT_EQ(h.route, HackRoute::WindowId);
        EXPECT_EQ(h.window, 17u);
    }
    // Values of options are not switches, whatever they look like.
    EXPECT_EQ(scan({"--side1", "-root"}).route, HackRoute::None);
    EXPECT_EQ(scan({"--root", "--side2", "--window-id", "-delay", "5"}).route, HackRoute::Root);

    // The host's own switches, and look-alikes, are left to the mode scan.
    for (auto args : {std::initializer_list<const char*>{"/s"}, {"/p", "123"}, {"-rooted"},
                      {"---root"}, {"/root"}, {"-window"}, {}})
        EXPECT_EQ(scan(args).route, HackRoute::None);
}

// Stock hacks take the time between frames in microseconds.
TEST(HackSwitches, TheDelayIsTheTickWithinItsBounds) {
    LinuxOptions h = scan({"--root", "--delay", "20000"});
    EXPECT_EQ(h.run.framePeriodMs, 20u);
    EXPECT_TRUE(h.complaints.empty()) << h.complaints;
    EXPECT_EQ(scan({"-delay", "1000000"}).run.framePeriodMs, 1000u);
    EXPECT_EQ(scan({"--root"}).run.framePeriodMs, kFramePeriodMs);
    for (const char* bad : {"9999", "1000001", "20ms", ""}) {
        h = scan({"-delay", bad});
        EXPECT_EQ(h.run.framePeriodMs, kFramePeriodMs) << bad;
        EXPECT_EQ(std::count(h.complaints.begin(), h.complaints.end(), '\n'), 1) << h.complaints;
    }
    // The host's run takes it from the options.
    applyRunOptions(scan({"--delay", "35000"}));
    EXPECT_EQ(saverRunOptions.framePeriodMs, 35u);
    saverRunOptions = SaverRunOptions{};
}

}  // namespace
