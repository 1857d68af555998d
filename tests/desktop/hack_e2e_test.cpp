// The Linux program as a hack: the daemon's switches and options, its window
// resized under it, the signals it is ended with, a picture it cannot load,
// and, from the installed package, under the real XScreenSaver daemon as an
// ordinary user. Each test has its own Xvfb.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <dirent.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "jpeg_fixtures.h"
#include "x_session.h"

namespace {

using namespace xsession;
// Ours, not the picture helpers' byte reader.
using xsession::readFile;

struct Centre {
    std::size_t count = 0;
    double x = 0;
    double y = 0;
};

// Where the cube's coloured points lie, on average.
Centre centreOfColour(const std::vector<std::uint32_t>& pixels, int width,
                      const std::function<bool(std::uint32_t)>& isCube) {
    Centre c;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (!isCube(pixels[i])) continue;
        ++c.count;
        c.x += static_cast<double>(i % static_cast<std::size_t>(width));
        c.y += static_cast<double>(i / static_cast<std::size_t>(width));
    }
    if (c.count > 0) {
        c.x /= static_cast<double>(c.count);
        c.y /= static_cast<double>(c.count);
    }
    return c;
}

bool defaultSideColour(std::uint32_t p) {
    return p == 0xFF0000u || p == 0x00FF00u || p == 0x0000FFu || p == 0xFFFFFFu ||
           p == 0xF0F0FFu || p == 0xFFFF00u;
}

// No black side: every side shows, so the coloured points centre on the cube.
const std::vector<std::string> kBrightSides = {"#ff0000", "#00ff00", "#0000ff",
                                               "#ffffff", "#ffff00", "#f0f0ff"};

class Hack : public ProgramTest {
protected:
    void SetUp() override { startServer(800, 600); }

    // The cube can show its black side head-on: the best of a few looks.
    Centre cubeCentre(int x, int y, int width, int height) {
        Centre best;
        for (int i = 0; i < 4; ++i) {
            const Centre c =
                centreOfColour(grab(server.connection, x, y, width, height), width, defaultSideColour);
            if (c.count > best.count) best = c;
            pause(100);
        }
        return best;
    }
};

TEST_F(Hack, DaemonOptionsRunTheCubeFollowsItsWindowAndTheSignalEndsIt) {
    const std::string bytes = settingsFile(kBrightSides, 2, 5, 3);
    writeConfig(bytes);
    const Window window = makeWindow(0, 0, 400, 300);
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", window);
    const pid_t hack = launch({"--root", "-fps", "--delay", "20000", "-install", "-visual",
                               "default"},
                              {std::string("XSCREENSAVER_WINDOW=") + hex});
    pause(1500);
    ASSERT_TRUE(running(hack)) << readFile(log);
    const Centre small = cubeCentre(0, 0, 400, 300);
    ASSERT_GT(small.count, 300u) << readFile(log);
    EXPECT_NEAR(small.x, 200, 25);
    EXPECT_NEAR(small.y, 150, 25);
    // The frame rate, bottom-left, in the credit line's grey: measured over
    // the first second, so there by now.
    const std::vector<std::uint32_t> corner = grab(server.connection, 0, 270, 80, 30);
    EXPECT_GT(std::count_if(corner.begin(), corner.end(), [](std::uint32_t p) { return p != 0; }), 20)
        << "no frame rate in the bottom-left corner";

    // The daemon's window grows (a new resolution): the drawing follows.
    XResizeWindow(server.connection, window, 800, 600);
    XSync(server.connection, False);
    pause(800);
    screenshot(server, testName());
    const Centre large = cubeCentre(0, 0, 800, 600);
    ASSERT_GT(large.count, 300u);
    EXPECT_NEAR(large.x, 400, 25) << "the cube stays centred on the old size";
    EXPECT_NEAR(large.y, 300, 25);

    // Ended by the daemon: torn down, then ended by that very signal.
    kill(hack, SIGTERM);
    int status = -1;
    ASSERT_TRUE(waitExit(hack, 5000, &status));
    EXPECT_EQ(status, 128 + SIGTERM) << "the hack must end by SIGTERM, as stock hacks do";
    EXPECT_EQ(childCount(server.connection, window), 0) << "the hack's window goes with it";
    EXPECT_EQ(readFile(config), bytes) << "a hack never writes the settings";
}

// A side that cannot be loaded leaves a gap in the cube and one line in the
// daemon's log that says why; only a cube with no side left shows a message.
TEST_F(Hack, AFailedSideIsNamedOnStderrAndTheOthersAreDrawn) {
    const std::string notJpeg = dir + "/side.png";
    std::ofstream(notJpeg, std::ios::binary) << "\x89PNG\r\n\x1a\n not a JPEG at all";
    const std::string bytes =
        settingsFile({"/nonexistent/side.jpg", notJpeg, "#0000ff", "#ffffff", "#ffff00"}, 2, 5);
    writeConfig(bytes);
    const Window window = makeWindow(0, 0, 640, 480);
    const pid_t hack = launch({"--window-id", std::to_string(window)});
    pause(2000);
    ASSERT_TRUE(running(hack)) << "a side that fails must not end the hack\n" << readFile(log);
    screenshot(server, testName());
    const std::string said = readFile(log);
    EXPECT_NE(said.find("side 1 left empty: /nonexistent/side.jpg: no such file\n"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("side 2 left empty: " + notJpeg + ": not a JPEG file\n"),
              std::string::npos)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << "one line a side\n" << said;
    // The sides that loaded tumble; the failed ones' colours never show.
    std::size_t shown = 0;
    for (int i = 0; i < 4; ++i) {
        const std::vector<std::uint32_t> p = grab(server.connection, 0, 0, 640, 480);
        shown = std::max<std::size_t>(
            shown, std::count_if(p.begin(), p.end(), [](std::uint32_t c) {
                return c == 0x0000FFu || c == 0xFFFFFFu || c == 0xFFFF00u;
            }));
        pause(100);
    }
    EXPECT_GT(shown, 1000u) << "the sides that loaded";
    kill(hack, SIGHUP);
    int status = -1;
    ASSERT_TRUE(waitExit(hack, 5000, &status));
    EXPECT_EQ(status, 128 + SIGHUP);

    // Nothing left to draw: the first failure, in the credit line's grey,
    // across the middle; no cube.
    writeConfig(settingsFile({"/nonexistent/side.jpg", "$none", "$none", "$none", "$none",
                              "$none"},
                             2, 5));
    std::filesystem::remove(log);
    const pid_t bare = launch({"--window-id", std::to_string(window)});
    pause(2000);
    ASSERT_TRUE(running(bare)) << readFile(log);
    const std::vector<std::uint32_t> middle = grab(server.connection, 120, 200, 400, 80);
    std::size_t grey = 0;
    std::size_t coloured = 0;
    for (std::uint32_t p : middle) {
        const std::uint32_t r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
        if (p != 0 && r == g && g == b && r <= 0x3C) ++grey;
        if (r != g || g != b) ++coloured;
    }
    EXPECT_GT(grey, 50u) << "the failure, drawn in the window";
    EXPECT_EQ(coloured, 0u);
    const std::string saidAgain = readFile(log);
    EXPECT_EQ(std::count(saidAgain.begin(), saidAgain.end(), '\n'), 1) << saidAgain;
    EXPECT_EQ(readFile(config), settingsFile({"/nonexistent/side.jpg", "$none", "$none", "$none",
                                              "$none", "$none"},
                                             2, 5))
        << "a hack never writes the settings";
    kill(bare, SIGHUP);
    ASSERT_TRUE(waitExit(bare, 5000, &status));
    EXPECT_EQ(status, 128 + SIGHUP);
}

// Six pictures of 1000 x 1000 pixels in a settings panel's small preview: the
// cube is reduced until it tumbles clear of the window's edges, no further,
// and again when the window grows.
TEST_F(Hack, TheCubeFitsItsWindowWhateverItsPicturesSize) {
    const std::uint8_t colours[6][3] = {{255, 0, 0},   {0, 255, 0},   {0, 0, 255},
                                        {255, 255, 0}, {0, 255, 255}, {255, 0, 255}};
    std::vector<std::string> sides;
    for (int i = 0; i < 6; ++i) {
        sides.push_back(dir + "/side" + std::to_string(i + 1) + ".jpg");
        const std::vector<std::uint8_t> jpeg =
            solidJpeg(1000, 1000, colours[i][0], colours[i][1], colours[i][2]);
        std::ofstream(sides.back(), std::ios::binary)
            .write(reinterpret_cast<const char*>(jpeg.data()),
                   static_cast<std::streamsize>(jpeg.size()));
    }
    writeConfig(settingsFile(sides, 2, 30));
    const Window window = makeWindow(100, 100, 320, 240);
    const pid_t hack = launch({"--window-id", std::to_string(window)});
    // A picture's pixel: bright in some channel (the credit line is dim grey).
    const auto isCube = [](std::uint32_t p) {
        return (p >> 16) >= 0x80 || ((p >> 8) & 0xFF) >= 0x80 || (p & 0xFF) >= 0x80;
    };
    // Over many frames of a fast tumble: the widest the cube got, and the
    // cube's pixels on the window's outermost two rows and columns.
    const auto watch = [&](int width, int height, int* widest, std::size_t* onEdge) {
        *widest = 0;
        *onEdge = 0;
        for (int i = 0; i < 20; ++i) {
            const std::vector<std::uint32_t> p = grab(server.connection, 100, 100, width, height);
            int left = width, right = -1;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    if (!isCube(p[static_cast<std::size_t>(y * width + x)])) continue;
                    left = std::min(left, x);
                    right = std::max(right, x);
                    if (x < 2 || y < 2 || x >= width - 2 || y >= height - 2) ++*onEdge;
                }
            *widest = std::max(*widest, right - left + 1);
            pause(100);
        }
    };
    pause(1500);
    ASSERT_TRUE(running(hack)) << readFile(log);
    screenshot(server, testName());
    int widest = 0;
    std::size_t onEdge = 0;
    watch(320, 240, &widest, &onEdge);
    EXPECT_EQ(onEdge, 0u) << "the cube touches the window's edges";
    EXPECT_GT(widest, 120) << "the cube is reduced further than it needs";

    XResizeWindow(server.connection, window, 640, 480);
    XSync(server.connection, False);
    pause(1000);
    screenshot(server, testName() + "-larger");
    watch(640, 480, &widest, &onEdge);
    EXPECT_EQ(onEdge, 0u) << "the cube touches the larger window's edges";
    EXPECT_GT(widest, 240) << "the reduction is not worked out again for the larger window";
    EXPECT_TRUE(running(hack)) << readFile(log);
}

TEST_F(Hack, UnusableWindowsAreNamedAndTheRootIsDrawnOnWithoutAWindow) {
    int status = -1;
    for (const auto& [args, env, words] : std::vector<std::tuple<std::vector<std::string>,
                                                                 std::vector<std::string>,
                                                                 std::string>>{
             {{"--window-id", "0x7ffffe"}, {}, "0x7ffffe"},
             {{"-window-id"}, {}, "--window-id"},
             {{"--root"}, {"XSCREENSAVER_WINDOW=junk"}, "XSCREENSAVER_WINDOW"}}) {
        std::filesystem::remove(log);
        const pid_t p = launch(args, env);
        ASSERT_TRUE(waitExit(p, 5000, &status));
        EXPECT_EQ(status, 1) << args[0];
        const std::string said = readFile(log);
        EXPECT_NE(said.find(words), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }

    // No daemon window: straight onto the root, under every window.
    writeConfig(settingsFile({}, 2, 5));
    const Window above = makeWindow(0, 0, 120, 90);
    const Window rootWindow = DefaultRootWindow(server.connection);
    const int before = childCount(server.connection, rootWindow);
    const pid_t hack = launch({"--root"});
    pause(1500);
    ASSERT_TRUE(running(hack)) << readFile(log);
    EXPECT_EQ(childCount(server.connection, rootWindow), before)
        << "--root with no daemon window creates no window";
    EXPECT_GT(cubeCentre(250, 150, 300, 300).count, 1000u);
    const std::vector<std::uint32_t> covered = grab(server.connection, 0, 0, 120, 90);
    EXPECT_EQ(std::count(covered.begin(), covered.end(), 0x404040u), 120 * 90);
    XDestroyWindow(server.connection, above);
    kill(hack, SIGINT);
    ASSERT_TRUE(waitExit(hack, 5000, &status));
    EXPECT_EQ(status, 128 + SIGINT);
}

// With no rotation the cube stands still from the first tick on, so two runs
// draw the same frame when they draw with the same settings.
TEST_F(Hack, AnOptionDrawsAsTheSameSettingInTheFileWould) {
    const Window window = makeWindow(0, 0, 400, 300);
    // `shellLine`: the options as the daemon runs them, through /bin/sh.
    const auto frameOf = [&](std::int32_t pointStep, std::vector<std::string> options,
                             const std::vector<std::string>& sides = {},
                             const std::string& shellLine = "") {
        writeConfig(settingsFile(sides, pointStep, 0));
        options.insert(options.begin(), {"--window-id", std::to_string(window)});
        pid_t hack = 0;
        if (shellLine.empty()) {
            hack = launch(options);
        } else {
            hack = spawn({"/bin/sh", "-c",
                          std::string("exec '") + ROVANTA_PROGRAM + "' --window-id " +
                              std::to_string(window) + " " + shellLine},
                         {"ROVANTA_CONFIG=" + config, "ROVANTA_BOX_LOG=" + boxes,
                          "DISPLAY=" + server.display},
                         log);
            started.push_back(hack);
        }
        // The frame: the cube seen the same in two looks running, so that
        // neither the grey before the first tick nor a frame half shown counts.
        std::vector<std::uint32_t> frame;
        std::vector<std::uint32_t> previous;
        EXPECT_TRUE(waitFor(
            [&] {
                previous = std::move(frame);
                frame = grab(server.connection, 0, 0, 400, 300);
                return countDefaultSides(frame).sideColours > 0 && frame == previous;
            },
            15000))
            << "no steady cube\n" << readFile(log);
        EXPECT_TRUE(running(hack)) << readFile(log);
        kill(hack, SIGTERM);
        int status = -1;
        waitExit(hack, 5000, &status);
        return frame;
    };
    const std::vector<std::uint32_t> fromFile = frameOf(5, {});
    const std::vector<std::uint32_t> fromOption = frameOf(2, {"--speed", "5"});
    const std::vector<std::uint32_t> plain = frameOf(2, {});
    EXPECT_TRUE(fromOption == fromFile) << "--speed 5 must draw as pointStep 5 in the file";
    EXPECT_FALSE(plain == fromFile) << "the stride must show in the frame";
    // xscreensaver-settings writes a side typed as "$none" into the daemon's
    // line as it is, and the daemon's shell expands it to nothing.
    EXPECT_GT(std::count(plain.begin(), plain.end(), 0x0000FFu), 100) << "side 3 shows";
    const std::vector<std::uint32_t> noneInFile =
        frameOf(2, {}, {"#ff0000", "#00ff00", "$none", "#ffffff", "#000000", "#f0f0ff"});
    const std::vector<std::uint32_t> throughShell = frameOf(2, {}, {}, "--side3 \"$none\"");
    EXPECT_TRUE(throughShell == noneInFile) << "an empty --side3 is an empty side";
    // Out of range: one line, and the file's value.
    std::filesystem::remove(log);
    EXPECT_TRUE(frameOf(2, {"--speed", "11"}) == plain);
    EXPECT_NE(readFile(log).find("--speed"), std::string::npos) << readFile(log);
}

// Two monitors side by side, the right one primary: the full-screen saver
// blacks out both and draws on the primary one only.
TEST_F(Hack, FullScreenDrawsOnThePrimaryMonitor) {
    stop(&server);
    if (!startServer(1600, 600)) return;
    Display* d = server.connection;
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryExtension(d, &event, &error) || !XRRQueryVersion(d, &major, &minor) ||
        major * 100 + minor < 105)
        GTEST_SKIP() << "the server has no RandR 1.5 monitors";
    const Window root = DefaultRootWindow(d);
    for (int i = 0; i < 2; ++i) {
        XRRMonitorInfo* m = XRRAllocateMonitor(d, 0);
        m->name = XInternAtom(d, i == 0 ? "LEFT" : "RIGHT", False);
        m->primary = i == 1;
        m->x = 800 * i;
        m->y = 0;
        m->width = 800;
        m->height = 600;
        m->mwidth = 300;
        m->mheight = 220;
        XRRSetMonitor(d, root, m);
        XRRFreeMonitors(m);
    }
    XSync(d, False);

    writeConfig(settingsFile(kBrightSides, 2, 5, 2));
    const pid_t saver = launch({"/s"});
    ASSERT_NE(waitForWindow(d, "Screen Saver", 5000), 0u) << readFile(log);
    pause(1200);
    screenshot(server, testName());
    const Centre c = cubeCentre(0, 0, 1600, 600);
    ASSERT_GT(c.count, 500u) << readFile(log);
    EXPECT_NEAR(c.x, 1200, 40) << "the cube belongs in the middle of the primary monitor";
    EXPECT_NEAR(c.y, 300, 40);
    // The credit line ends at the primary monitor's right edge.
    const auto lit = [&](int x, int y, int w, int h) {
        const std::vector<std::uint32_t> p = grab(d, x, y, w, h);
        return std::count_if(p.begin(), p.end(), [](std::uint32_t v) { return v != 0; });
    };
    EXPECT_GT(lit(1400, 570, 200, 30), 20) << "the credit line in the primary's corner";
    EXPECT_EQ(lit(600, 570, 200, 30), 0) << "the other monitor stays black";
    EXPECT_EQ(lit(0, 0, 800, 600), 0);
    kill(saver, SIGTERM);
    int status = -1;
    EXPECT_TRUE(waitExit(saver, 5000, &status));
}

// The package CPack makes of this build, unpacked under a directory of its
// own in /tmp, which every user can reach (the build tree may lie in a
// directory private to root); removed again with this object.
struct UnpackedPackage {
    std::string root;
    std::string program;  // usr/bin/rovanta
    std::string hackDir;  // usr/libexec/xscreensaver, where the hack links to the program
    ~UnpackedPackage() {
        if (root.empty()) return;
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
};

// False with `why` set when the package could not be made or unpacked.
bool unpackPackage(const Server& server, UnpackedPackage* package, std::string* why) {
    char pattern[] = "/tmp/rovanta-installed-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *why = "mkdtemp failed";
        return false;
    }
    package->root = pattern;
    const std::string& root = package->root;
    chmod(root.c_str(), 0755);
    if (shell(server, "cpack --config '" ROVANTA_CPACK_CONFIG "' -B '" + root + "/pkg' >'" + root +
                          "/cpack.log' 2>&1 && dpkg-deb -x '" + root +
                          "'/pkg/rovanta_1.2.0_amd64.deb '" + root + "/usr-root'") != 0) {
        *why = readFile(root + "/cpack.log");
        return false;
    }
    package->program = root + "/usr-root/usr/bin/rovanta";
    package->hackDir = root + "/usr-root/usr/libexec/xscreensaver";
    return true;
}

// The installed package under the real daemon, as a new user would have it:
// no variable set anywhere, the program laid out as the package lays it out.
constexpr const char* kDaemonUser = "rovanta-e2e";

std::vector<pid_t> processesOf(uid_t uid, const std::string& exe) {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return found;
    while (dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        char target[4096];
        const std::string link = std::string("/proc/") + entry->d_name + "/exe";
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        struct stat st {};
        if (stat(("/proc/" + std::string(entry->d_name)).c_str(), &st) != 0) continue;
        if (st.st_uid == uid && exe == target) found.push_back(pid);
    }
    closedir(proc);
    return found;
}

TEST_F(Hack, TheInstalledPackageUnderTheDaemonReadsTheUsersFileAndNeverWritesIt) {
    if (shell(server, "command -v xscreensaver >/dev/null && command -v xscreensaver-command "
                      ">/dev/null && command -v cpack >/dev/null && command -v dpkg-deb "
                      ">/dev/null && command -v xdotool >/dev/null") != 0)
        GTEST_SKIP() << "needs xscreensaver, cpack, dpkg-deb and xdotool";
    if (geteuid() != 0) GTEST_SKIP() << "starting the daemon as " << kDaemonUser << " needs root";
    if (shell(server, std::string("id -u ") + kDaemonUser + " >/dev/null 2>&1") != 0) {
        ASSERT_EQ(shell(server, std::string("useradd -M -s /usr/sbin/nologin -d /nonexistent ") +
                                    kDaemonUser + " 2>/dev/null || id -u " + kDaemonUser +
                                    " >/dev/null"),
                  0);
    }
    const passwd* user = getpwnam(kDaemonUser);
    ASSERT_NE(user, nullptr);
    const uid_t uid = user->pw_uid;

    UnpackedPackage package;
    std::string why;
    ASSERT_TRUE(unpackPackage(server, &package, &why)) << why;
    const std::string& root = package.root;
    const std::string& program = package.program;
    const std::string& hackDir = package.hackDir;

    const std::string home = root + "/home";
    const std::string file = home + "/.config/rovanta/rovanta.cfg";
    std::filesystem::create_directory(home);
    ASSERT_EQ(shell(server, "chown " + std::string(kDaemonUser) + " '" + home + "'"), 0);
    const auto asUser = [&](const std::vector<std::string>& command, const std::string& logFile) {
        std::vector<std::string> argv = {"runuser", "-u", kDaemonUser, "--", "env", "-i",
                                         "HOME=" + home, "DISPLAY=" + server.display,
                                         "PATH=/usr/bin:/bin"};
        // A sanitizer build's run passes on how its checks are to behave,
        // and keeps GTK's accessibility bridge out as that run does.
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "NO_AT_BRIDGE"})
            if (const char* value = std::getenv(name)) argv.push_back(std::string(name) + "=" + value);
        argv.insert(argv.end(), command.begin(), command.end());
        const pid_t pid = spawn(argv, {}, logFile);
        started.push_back(pid);
        return pid;
    };

    // The dialog's OK makes the file, and the directories it lies in.
    const pid_t dialog = asUser({program, "/c"}, dir + "/dialog.log");
    const Window window = waitForWindow(server.connection, "Rovanta Configuration", 15000);
    ASSERT_NE(window, 0u) << readFile(dir + "/dialog.log");
    pause(500);
    ASSERT_EQ(shell(server, "xdotool windowfocus --sync " + std::to_string(window) +
                                " key Return >/dev/null 2>&1"),
              0);
    int status = -1;
    ASSERT_TRUE(waitExit(dialog, 10000, &status)) << readFile(dir + "/dialog.log");
    EXPECT_EQ(status, 200) << readFile(dir + "/dialog.log");
    struct stat st {};
    ASSERT_EQ(stat(file.c_str(), &st), 0) << "OK must create " << file;
    EXPECT_EQ(st.st_size, 1584);
    EXPECT_EQ(st.st_uid, uid);
    ASSERT_EQ(stat((home + "/.config/rovanta").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // The user's own choice, which the hack must show: every side magenta.
    const std::string chosen =
        settingsFile({"#ff00ff", "#ff00ff", "#ff00ff", "#ff00ff", "#ff00ff", "#ff00ff"}, 2, 5);
    std::ofstream(file, std::ios::binary | std::ios::trunc) << chosen;
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    {
        // The hack by its full path: the daemon puts its own hack directory
        // before PATH, so a bare name would start an installed copy, not this
        // build's.
        std::ofstream rc(home + "/.xscreensaver");
        rc << "mode:\tone\nselected:\t0\nlock:\tFalse\nfade:\tFalse\nunfade:\tFalse\n"
              "splash:\tFalse\ndpmsEnabled:\tFalse\ntimeout:\t0:30:00\n"
              "programs:\t\"Rovanta\"  "
           << hackDir << "/rovanta --root \\n\n";
    }
    const std::string daemonLog = dir + "/daemon.log";
    const pid_t daemon = asUser({"xscreensaver", "-no-splash", "-verbose"}, daemonLog);
    ASSERT_TRUE(waitFor(
        [&] { return shell(server, "xscreensaver-command -version >/dev/null 2>&1") == 0; },
        15000))
        << readFile(daemonLog);
    const auto hacks = [&] { return processesOf(uid, program); };

    ASSERT_EQ(shell(server, "xscreensaver-command -activate >/dev/null 2>&1"), 0);
    ASSERT_TRUE(waitFor([&] { return !hacks().empty(); }, 10000))
        << "the daemon did not start the installed hack\n" << readFile(daemonLog);
    pause(1500);
    screenshot(server, testName());
    std::size_t magenta = 0;
    for (int i = 0; i < 4 && magenta < 2000; ++i) {
        const std::vector<std::uint32_t> p = grab(server.connection, 250, 150, 300, 300);
        magenta = std::max<std::size_t>(magenta, std::count(p.begin(), p.end(), 0xFF00FFu));
        pause(150);
    }
    EXPECT_GT(magenta, 2000u) << "the cube from the user's file\n" << readFile(daemonLog);

    // A picture that is missing: the hack runs on with the other sides and
    // says why in the daemon's log.
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        << settingsFile({"/nonexistent/rovanta-side.jpg"}, 2, 5);
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    const std::string missingFile = readFile(file);
    ASSERT_EQ(shell(server, "xscreensaver-command -deactivate >/dev/null 2>&1"), 0);
    EXPECT_TRUE(waitFor([&] { return hacks().empty(); }, 10000))
        << "deactivation must end the hack";
    ASSERT_EQ(shell(server, "xscreensaver-command -activate >/dev/null 2>&1"), 0);
    ASSERT_TRUE(waitFor([&] { return !hacks().empty(); }, 10000)) << readFile(daemonLog);
    const std::vector<pid_t> first = hacks();
    pause(2500);
    screenshot(server, testName() + "-missing");
    EXPECT_EQ(hacks(), first) << "the hack must keep running\n" << readFile(daemonLog);
    const std::vector<std::uint32_t> middle = grab(server.connection, 200, 260, 400, 80);
    EXPECT_GT(std::count_if(middle.begin(), middle.end(), [](std::uint32_t p) { return p != 0; }),
              50)
        << "the other sides, in the window";

    ASSERT_EQ(shell(server, "xscreensaver-command -deactivate >/dev/null 2>&1"), 0);
    EXPECT_TRUE(waitFor([&] { return hacks().empty(); }, 10000));
    shell(server, "xscreensaver-command -exit >/dev/null 2>&1");
    if (!waitExit(daemon, 5000, &status)) kill(daemon, SIGTERM);

    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(readFile(file), missingFile) << "the hack only reads the settings";
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    const std::string said = readFile(daemonLog);
    EXPECT_NE(said.find("side 1 left empty: /nonexistent/rovanta-side.jpg: no such file"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("exited abnormally"), std::string::npos) << said;
    EXPECT_EQ(said.find("crashed"), std::string::npos) << said;
    EXPECT_EQ(said.find("Could not save"), std::string::npos) << said;
    EXPECT_EQ(said.find("Sanitizer"), std::string::npos) << said;
    EXPECT_EQ(said.find("runtime error"), std::string::npos) << said;
}


// xsecurelock's saver module alone, as xsecurelock runs it: its own session,
// XSCREENSAVER_WINDOW naming the window to draw in, the hack picked from the
// programs: list of the user's ~/.xscreensaver out of the hack directory it is
// given, and the whole process group ended by SIGTERM.
TEST_F(Hack, XsecurelocksSaverModuleRunsTheHackAndEndingItLeavesNoProcess) {
    const std::string module = "/usr/libexec/xsecurelock/saver_xscreensaver";
    if (access(module.c_str(), X_OK) != 0)
        GTEST_SKIP() << module << " is missing (scripts/setup.sh installs xsecurelock)";
    if (shell(server, "command -v cpack >/dev/null && command -v dpkg-deb >/dev/null && "
                      "command -v setsid >/dev/null && command -v xrdb >/dev/null") != 0)
        GTEST_SKIP() << "needs cpack, dpkg-deb, setsid and xrdb";
    UnpackedPackage package;
    std::string why;
    ASSERT_TRUE(unpackPackage(server, &package, &why)) << why;

    const std::string home = package.root + "/home";
    std::filesystem::create_directory(home);
    std::ofstream(home + "/.xscreensaver")
        << "mode:\tone\nselected:\t0\nprograms:\t\"Rovanta\"  rovanta --root \\n\n";
    const Window window = makeWindow(0, 0, 640, 480);
    // setsid keeps this process's id: the module leads its own group.
    const pid_t saver = spawn(
        {"setsid", module},
        {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config", "DISPLAY=" + server.display,
         "XSECURELOCK_XSCREENSAVER_PATH=" + package.hackDir,
         "XSCREENSAVER_WINDOW=" + std::to_string(window)},
        log);
    started.push_back(saver);
    struct GroupEnd {
        pid_t group;
        ~GroupEnd() { kill(-group, SIGKILL); }
    } groupEnd{saver};
    const auto hacks = [&] { return processesOf(geteuid(), package.program); };

    ASSERT_TRUE(waitFor([&] { return !hacks().empty(); }, 10000))
        << "the module did not start the unpacked hack\n" << readFile(log);
    std::size_t drawn = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            drawn = countDefaultSides(grab(server.connection, 0, 0, 640, 480)).sideColours;
            return drawn > 2000;
        },
        10000))
        << "the cube, in the window the module was given (" << drawn << " pixels)\n"
        << readFile(log);
    screenshot(server, testName());

    ASSERT_EQ(kill(-saver, SIGTERM), 0);
    int status = -1;
    ASSERT_TRUE(waitExit(saver, 5000, &status)) << readFile(log);
    EXPECT_EQ(status, 128 + SIGTERM);
    EXPECT_TRUE(waitFor([&] { return hacks().empty(); }, 5000)) << "the hack outlived its module";
    EXPECT_EQ(childCount(server.connection, window), 0) << "the hack's window goes with it";
    const std::string said = readFile(log);
    EXPECT_EQ(said.find("xsecurelock:"), std::string::npos) << said;
    EXPECT_EQ(said.find("Sanitizer"), std::string::npos) << said;
    EXPECT_EQ(said.find("runtime error"), std::string::npos) << said;
}

}  // namespace
