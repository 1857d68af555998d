// The Linux program on a real (virtual) X display, driven as a user and as
// the XScreenSaver daemon would drive it. Each test has its own Xvfb.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "x_session.h"

namespace {

using namespace xsession;

constexpr int kScreenWidth = 800;
constexpr int kScreenHeight = 600;

// The descriptors the program asks to have free at start, beside those it
// was started with.
constexpr int kDescriptorsNeeded = 20;

std::int32_t numberAt(const std::string& file, std::size_t offset) {
    std::int32_t v = 0;
    if (file.size() >= offset + 4) std::memcpy(&v, file.data() + offset, 4);
    return v;
}

// The exit status, -1 when it has not ended within timeoutMs.
int exitStatus(pid_t pid, int timeoutMs) {
    int status = -1;
    return waitExit(pid, timeoutMs, &status) ? status : -1;
}

class Desktop : public ProgramTest {
protected:
    void SetUp() override {
        if (!startServer(kScreenWidth, kScreenHeight)) return;
        if (shell(server, "command -v xdotool >/dev/null") != 0) GTEST_SKIP() << "no xdotool";
    }
    void TearDown() override {
        // Not our children (a tracer's): ended by their ids all the same.
        for (pid_t p : traced) kill(p, SIGKILL);
        ProgramTest::TearDown();
    }

    bool xdo(const std::string& args) {
        return shell(server, "xdotool " + args + " >/dev/null 2>&1") == 0;
    }
    bool focus(Window w) { return xdo("windowfocus --sync " + std::to_string(w)); }

    // The window manager's delete request, which is what the close box sends.
    void closeBox(Window w) {
        Display* d = server.connection;
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = w;
        e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, w, False, NoEventMask, &e);
        XSync(d, False);
    }

    // Closes the newest window of that title with Escape or its close box;
    // false when there was none or it stayed.
    bool dismiss(const std::string& title, bool escape) {
        if (waitForWindow(server.connection, title, 5000) == 0) return false;
        pause(500);
        const Window w = findTopWindow(server.connection, title);
        if (!waitShown(w, 10000)) return false;
        if (escape) {
            if (!focus(w) || !xdo("key Escape")) return false;
        } else {
            closeBox(w);
        }
        for (int i = 0; i < 25; ++i) {
            pause(100);
            if (findTopWindow(server.connection, title) != w) return true;
        }
        return false;
    }

    // What a run must never print: a sanitizer's report or GTK's complaint
    // about a misused object.
    void expectCleanLog() {
        const std::string text = readFile(log);
        EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
        EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
        EXPECT_EQ(text.find("CRITICAL"), std::string::npos) << text;
    }

    // The program under strace with every read of `slowFile` held for 200 ms,
    // so that loading it lasts seconds on any machine; the program's own id.
    // 0 (and the test skipped) when this machine cannot trace.
    pid_t launchWithSlowReads(const std::vector<std::string>& args, const std::string& slowFile) {
        if (shell(server, "strace -f --seccomp-bpf -qq -o /dev/null true 2>/dev/null") != 0) {
            tracingUnavailable = true;
            return 0;
        }
        // A sanitizer's leak check cannot run under a tracer.
        const pid_t tracer = launch(args, {"ASAN_OPTIONS=detect_leaks=0"},
                                    {"strace", "-f", "--seccomp-bpf", "-qq", "-o", "/dev/null",
                                     "-e", "trace=read", "-e", "inject=read:delay_enter=200000",
                                     "-P", slowFile, "--"});
        // strace forks helpers of its own too: the child that runs our program.
        const std::string children =
            "/proc/" + std::to_string(tracer) + "/task/" + std::to_string(tracer) + "/children";
        char program[4096];
        if (realpath(ROVANTA_PROGRAM, program) == nullptr) return 0;
        for (int i = 0; i < 200; ++i) {
            std::istringstream list(readFile(children));
            for (pid_t child = 0; list >> child;) {
                char exe[4096];
                const std::string link = "/proc/" + std::to_string(child) + "/exe";
                const ssize_t n = readlink(link.c_str(), exe, sizeof exe - 1);
                if (n <= 0 || std::string(exe, static_cast<std::size_t>(n)) != program) continue;
                traced.push_back(child);
                return child;
            }
            pause(50);
        }
        return 0;
    }

    // A window exists (and has its name) before it is shown.
    bool waitShown(Window w, int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            XWindowAttributes a{};
            if (XGetWindowAttributes(server.connection, w, &a) && a.map_state == IsViewable)
                return true;
            pause(50);
        }
        return false;
    }

    // Waits until process `pid` has `path` open: it is reading it now.
    bool waitUntilReading(pid_t pid, const std::string& path, int timeoutMs) {
        const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
        for (int waited = 0; waited < timeoutMs; waited += 50) {
            if (DIR* dirp = opendir(fds.c_str())) {
                bool found = false;
                while (dirent* entry = readdir(dirp)) {
                    char target[4096];
                    const ssize_t n = readlink((fds + "/" + entry->d_name).c_str(), target,
                                               sizeof target - 1);
                    if (n > 0 && path == std::string(target, static_cast<std::size_t>(n)))
                        found = true;
                }
                closedir(dirp);
                if (found) return true;
            }
            pause(50);
        }
        return false;
    }

    pid_t fullScreen(int settleMs) {
        const pid_t saver = launch({"/s"});
        if (waitForWindow(server.connection, "Screen Saver", 5000) == 0) {
            ADD_FAILURE() << "no full-screen window\n" << readFile(log);
            return -1;
        }
        pause(settleMs);
        return saver;
    }

    void destroy(Window w) {
        XDestroyWindow(server.connection, w);
        XSync(server.connection, False);
    }

    // The cube may show its black side head-on at any one moment: the best
    // of a few looks, with every stray colour seen in any of them.
    ColourCount look(int x, int y, int width, int height) {
        ColourCount best;
        std::size_t other = 0;
        for (int i = 0; i < 6; ++i) {
            const ColourCount c = countDefaultSides(grab(server.connection, x, y, width, height));
            other = std::max(other, c.other);
            if (c.sideColours > best.sideColours) best = c;
            if (best.sideColours > 4000) break;
            pause(120);
        }
        best.other = other;
        return best;
    }

    // The middle of the screen, where the cube turns.
    ColourCount centre() {
        return look(kScreenWidth / 2 - 150, kScreenHeight / 2 - 150, 300, 300);
    }

    std::vector<pid_t> traced;
    bool tracingUnavailable = false;
};

TEST_F(Desktop, FullScreenShowsTheCubeAndAKeyEndsIt) {
    const pid_t saver = fullScreen(600);
    ASSERT_GT(saver, 0);
    screenshot(server, testName());
    const ColourCount c = centre();
    EXPECT_GT(c.sideColours, 2000u);
    EXPECT_GE(c.distinctSides, 2);
    EXPECT_EQ(c.other, 0u) << "the cube's sides are plain default colours";
    // Nothing but black and the credit line outside the cube.
    const ColourCount corner = countDefaultSides(grab(server.connection, 0, 0, 100, 100));
    EXPECT_EQ(corner.black, 100u * 100u);

    // The saver rewrote the settings it started with (the defaults).
    EXPECT_EQ(readFile(config).size(), 1584u);

    ASSERT_TRUE(xdo("key space"));
    EXPECT_EQ(exitStatus(saver, 3000), 0) << "a key press must end the saver";
}

TEST_F(Desktop, SmallMovementsAddUpUntilTheyPassFourPixels) {
    const pid_t saver = fullScreen(500);
    ASSERT_GT(saver, 0);
    ASSERT_TRUE(xdo("mousemove_relative -- 2 1"));
    pause(500);
    EXPECT_TRUE(running(saver)) << "a movement of 3 pixels must not end the saver";
    ASSERT_TRUE(xdo("mousemove_relative -- 3 3"));
    EXPECT_EQ(exitStatus(saver, 3000), 0) << "9 pixels from the start must end it";
}

TEST_F(Desktop, AnotherWindowTakingTheFocusEndsTheSaver) {
    const Window other = makeWindow(10, 10, 50, 50);
    const pid_t saver = fullScreen(600);
    ASSERT_GT(saver, 0);
    EXPECT_TRUE(running(saver));
    XSetInputFocus(server.connection, other, RevertToParent, CurrentTime);
    XSync(server.connection, False);
    EXPECT_EQ(exitStatus(saver, 3000), 0) << "deactivation is a close request";
}

TEST_F(Desktop, ASecondFullScreenStartEndsAtOnce) {
    const pid_t first = fullScreen(300);
    ASSERT_GT(first, 0);
    const pid_t second = launch({"-S"});
    EXPECT_EQ(exitStatus(second, 3000), 0);
    pause(200);
    EXPECT_TRUE(running(first)) << "the second start must leave the first running";
    ASSERT_TRUE(xdo("key Escape"));
    EXPECT_EQ(exitStatus(first, 3000), 0);
}

TEST_F(Desktop, PreviewDrawsInsideItsParentLeavesInputAndEndsWithIt) {
    const Window parent = makeWindow(40, 50, 320, 240);
    const pid_t preview = launch({"/p", std::to_string(parent)});
    pause(1000);
    ASSERT_TRUE(running(preview)) << readFile(log);
    screenshot(server, testName());
    const ColourCount inside = look(40, 50, 320, 240);
    EXPECT_GT(inside.sideColours, 1000u);
    const ColourCount outside = countDefaultSides(grab(server.connection, 400, 300, 300, 250));
    EXPECT_EQ(outside.sideColours, 0u) << "the preview must stay inside its parent";

    // Keys and movement belong to whoever owns the pane.
    ASSERT_TRUE(xdo("mousemove 100 100"));
    ASSERT_TRUE(xdo("key a"));
    ASSERT_TRUE(xdo("mousemove_relative -- 30 30"));
    pause(400);
    EXPECT_TRUE(running(preview));

    destroy(parent);
    EXPECT_EQ(exitStatus(preview, 3000), 0) << "the preview must end with its parent";
}

TEST_F(Desktop, WithoutSharedMemoryFramesGoThroughTheSocket) {
    // A server on another machine cannot share memory with us; the frame
    // must still arrive, whole and in the same colours.
    const Window parent = makeWindow(0, 0, 400, 300);
    const pid_t preview = launch({"/p", std::to_string(parent)}, {"ROVANTA_NO_SHM=1"});
    pause(800);
    ASSERT_TRUE(running(preview)) << readFile(log);
    // Above the credit line: only the cube and black, none of the parent's grey.
    const ColourCount c = look(0, 0, 400, 260);
    EXPECT_GT(c.sideColours, 1000u);
    EXPECT_EQ(c.other, 0u);
    destroy(parent);
    EXPECT_EQ(exitStatus(preview, 3000), 0);
}

TEST_F(Desktop, APreviewOfNoWindowIsRefused) {
    const pid_t preview = launch({"/p", "4000001"});
    EXPECT_EQ(exitStatus(preview, 3000), 255);
}

class Dialog : public Desktop {
protected:
    Window openDialog() {
        dialogProcess = launch({"/c"});
        const Window dialog = waitForWindow(server.connection, "Rovanta Configuration", 15000);
        if (dialog == 0 || !waitShown(dialog, 15000)) ADD_FAILURE() << "no dialog\n" << readFile(log);
        pause(500);
        return dialog;
    }

    // Focus on OK first; Tab walks Cancel, six side boxes, six Browse
    // buttons, and reaches the scale box fourteenth.
    void focusScaleBox(Window dialog) {
        ASSERT_TRUE(focus(dialog));
        for (int i = 0; i < 14; ++i) ASSERT_TRUE(xdo("key Tab"));
    }

    pid_t dialogProcess = -1;
};

TEST_F(Dialog, ScaleOutOfRangeIsRefusedThenValidValuesAreSaved) {
    const Window dialog = openDialog();
    ASSERT_NE(dialog, 0u);
    focusScaleBox(dialog);
    ASSERT_TRUE(xdo("type 11"));
    ASSERT_TRUE(xdo("key Return"));

    const Window box = waitForWindow(server.connection, "Error", 5000);
    ASSERT_NE(box, 0u) << "OK with 11 in the scale box must show a message";
    screenshot(server, testName() + "-message");
    EXPECT_EQ(readFile(boxes), "Error\tSorry, the scale factor must be between 1 and 10.\n");
    EXPECT_TRUE(readFile(config).empty()) << "nothing is saved before every check passes";
    EXPECT_TRUE(running(dialogProcess));

    ASSERT_TRUE(focus(box));
    ASSERT_TRUE(xdo("key Return"));
    pause(400);
    EXPECT_EQ(findWindow(server.connection, "Error"), 0u) << "Enter dismisses the message";

    // Still in the scale box with everything typed: replace 11 by 3.
    ASSERT_TRUE(focus(dialog));
    ASSERT_TRUE(xdo("key BackSpace BackSpace"));
    ASSERT_TRUE(xdo("type 3"));
    ASSERT_TRUE(xdo("key Return"));
    EXPECT_EQ(exitStatus(dialogProcess, 5000), 200) << "the default cube's edge length";
    const std::string saved = readFile(config);
    ASSERT_EQ(saved.size(), 1584u);
    EXPECT_EQ(numberAt(saved, 8), 3) << "reduceFactor";
    EXPECT_EQ(numberAt(saved, 4), 2) << "pointStep";
    EXPECT_EQ(numberAt(saved, 20), 5) << "maxRotationDegrees";
    EXPECT_STREQ(saved.c_str() + 24, "#ff0000");
}

TEST_F(Dialog, BrowseAddsTheExtensionAndAsksBeforeANewFile) {
    ASSERT_EQ(shell(server, "convert -size 64x48 xc:'#00ffff' '" + dir + "/cyan.jpg'"), 0);
    const Window dialog = openDialog();
    ASSERT_NE(dialog, 0u);
    const auto browseSideOne = [&] {
        ASSERT_TRUE(focus(dialog));
        // OK, Cancel, six side boxes: the first Browse button is eighth.
        for (int i = 0; i < 8; ++i) ASSERT_TRUE(xdo("key Tab"));
        ASSERT_TRUE(xdo("key Return"));
        ASSERT_NE(waitForWindow(server.connection, "Open", 5000), 0u) << "no file chooser";
        pause(700);
        ASSERT_TRUE(xdo("key ctrl+a"));
    };
    // Back from the first Browse button to OK.
    const auto pressOk = [&] {
        ASSERT_TRUE(focus(dialog));
        for (int i = 0; i < 8; ++i) ASSERT_TRUE(xdo("key shift+Tab"));
        ASSERT_TRUE(xdo("key Return"));
    };

    // A name of no file: the platform asks first, then the side takes it
    // with ".jpg" added, and OK fails on it as on any missing picture.
    browseSideOne();
    ASSERT_TRUE(xdo("type '" + dir + "/fresh'"));
    ASSERT_TRUE(xdo("key Return"));
    pause(700);
    const Window chooser = findWindow(server.connection, "Open");
    const Window prompt = findTopWindow(server.connection, "Open");
    ASSERT_NE(prompt, chooser) << "a new file needs the create prompt";
    screenshot(server, testName() + "-prompt");
    ASSERT_TRUE(focus(prompt));
    ASSERT_TRUE(xdo("key Return"));  // Yes
    pause(700);
    EXPECT_EQ(findWindow(server.connection, "Open"), 0u);
    pressOk();
    ASSERT_NE(waitForWindow(server.connection, "Error", 5000), 0u);
    EXPECT_EQ(readFile(boxes), "Error\tImage " + dir + "/fresh.jpg not found.\n");
    ASSERT_TRUE(focus(findTopWindow(server.connection, "Error")));
    ASSERT_TRUE(xdo("key Return"));
    pause(500);

    // An existing picture, typed without its extension: no prompt, and OK
    // saves it as side 1.
    browseSideOne();
    ASSERT_TRUE(xdo("type '" + dir + "/cyan'"));
    ASSERT_TRUE(xdo("key Return"));
    pause(700);
    EXPECT_EQ(findWindow(server.connection, "Open"), 0u) << "an existing file needs no prompt";
    pressOk();
    EXPECT_GT(exitStatus(dialogProcess, 5000), 0) << readFile(boxes);
    EXPECT_STREQ(readFile(config).c_str() + 24, (dir + "/cyan.jpg").c_str());
}

TEST_F(Dialog, OpensAtTheTopLeftOfTheActiveWindow) {
    const Window owner = makeWindow(120, 90, 300, 200);
    XSetInputFocus(server.connection, owner, RevertToParent, CurrentTime);
    XSync(server.connection, False);
    const Window dialog = openDialog();
    ASSERT_NE(dialog, 0u);
    int x = -1;
    int y = -1;
    Window child = 0;
    XTranslateCoordinates(server.connection, dialog, DefaultRootWindow(server.connection), 0, 0,
                          &x, &y, &child);
    EXPECT_EQ(x, 120);
    EXPECT_EQ(y, 90);
    screenshot(server, testName());
    kill(dialogProcess, SIGTERM);
    EXPECT_EQ(exitStatus(dialogProcess, 5000), 0) << "SIGTERM cancels the dialog";
}

TEST_F(Dialog, EscapeAndTheCloseBoxCancelWithoutSaving) {
    const std::string before = settingsFile({"#123456"}, 3, 40, 2);
    writeConfig(before);

    // Escape, after editing a box.
    Window dialog = openDialog();
    ASSERT_NE(dialog, 0u);
    focusScaleBox(dialog);
    ASSERT_TRUE(xdo("type 7"));
    ASSERT_TRUE(xdo("key Escape"));
    EXPECT_EQ(exitStatus(dialogProcess, 5000), 0);
    EXPECT_EQ(readFile(config), before);

    // The close box: the window manager's delete request.
    dialog = openDialog();
    ASSERT_NE(dialog, 0u);
    closeBox(dialog);
    EXPECT_EQ(exitStatus(dialogProcess, 5000), 0);
    EXPECT_EQ(readFile(config), before);
}

// Openbox leaves the root's _NET_ACTIVE_WINDOW naming a dialog after it has
// closed; the next start finds that window gone and must open unowned.
TEST_F(Dialog, AClosedWindowTheWindowManagerStillCallsActiveOwnsNothing) {
    if (shell(server, "command -v openbox >/dev/null") != 0)
        GTEST_SKIP() << "openbox is not installed (scripts/setup.sh installs it)";
    Display* d = server.connection;
    const Window root = DefaultRootWindow(d);
    const auto rootWindowProperty = [&](const char* name) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        Window value = 0;
        if (XGetWindowProperty(d, root, XInternAtom(d, name, False), 0, 1, False, XA_WINDOW,
                               &type, &format, &count, &after, &data) == Success &&
            data) {
            if (count == 1 && format == 32) value = *reinterpret_cast<Window*>(data);
            XFree(data);
        }
        return value;
    };
    started.push_back(spawn({"openbox"}, {"DISPLAY=" + server.display}, dir + "/openbox.log"));
    ASSERT_TRUE(waitFor([&] { return rootWindowProperty("_NET_SUPPORTING_WM_CHECK") != 0; },
                        10000))
        << "openbox did not start\n" << readFile(dir + "/openbox.log");

    Window dialog = openDialog();
    ASSERT_NE(dialog, 0u);
    ASSERT_TRUE(focus(dialog));
    ASSERT_TRUE(xdo("key Escape"));
    ASSERT_EQ(exitStatus(dialogProcess, 5000), 0);
    Window stale = 0;
    ASSERT_TRUE(waitFor(
        [&] {
            stale = rootWindowProperty("_NET_ACTIVE_WINDOW");
            return stale != 0 && childCount(d, stale) == -1;
        },
        5000))
        << "openbox no longer names the closed dialog active (0x" << std::hex << stale
        << "): this test then proves nothing";

    dialog = openDialog();
    ASSERT_NE(dialog, 0u) << "exit status " << exitStatus(dialogProcess, 0);
    screenshot(server, testName());
    ASSERT_TRUE(focus(dialog));
    ASSERT_TRUE(xdo("key Escape"));
    EXPECT_EQ(exitStatus(dialogProcess, 5000), 0) << "Escape cancels";
    expectCleanLog();
}

TEST_F(Dialog, EveryBoxClosesWithEscapeAndWithItsCloseBox) {
    const Window dialog = openDialog();
    ASSERT_NE(dialog, 0u);
    // Focus stays on the button or box that opened a box; the tab order is
    // OK 0, Cancel, six side boxes, six Browse buttons (8 to 13), the scale
    // box 14, two more number boxes, About 17.
    int focused = 0;
    const auto moveTo = [&](int control) {
        ASSERT_TRUE(focus(dialog));
        for (; focused < control; ++focused) ASSERT_TRUE(xdo("key Tab"));
        for (; focused > control; --focused) ASSERT_TRUE(xdo("key shift+Tab"));
    };
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Escape" : "close box");
        moveTo(17);
        ASSERT_TRUE(xdo("key Return"));
        EXPECT_TRUE(dismiss("About this Software", escape));

        // A message box: OK refused on a scale of 11 (Return in a box is OK).
        moveTo(14);
        ASSERT_TRUE(xdo("type 11"));
        ASSERT_TRUE(xdo("key Return"));
        EXPECT_TRUE(dismiss("Error", escape));

        // The file chooser, and its create prompt, which leads back to it.
        moveTo(8);
        ASSERT_TRUE(xdo("key Return"));
        const Window chooser = waitForWindow(server.connection, "Open", 5000);
        ASSERT_NE(chooser, 0u) << "no file chooser";
        pause(700);
        ASSERT_TRUE(xdo("key ctrl+a"));
        ASSERT_TRUE(xdo("type '" + dir + "/fresh'"));
        ASSERT_TRUE(xdo("key Return"));
        Window prompt = chooser;
        for (int i = 0; i < 50 && prompt == chooser; ++i) {
            pause(100);
            prompt = findTopWindow(server.connection, "Open");
        }
        ASSERT_NE(prompt, chooser) << "no create prompt";
        EXPECT_TRUE(dismiss("Open", escape)) << "the create prompt";
        EXPECT_NE(findWindow(server.connection, "Open"), 0u) << "back in the chooser";
        EXPECT_TRUE(dismiss("Open", escape)) << "the chooser";
        EXPECT_EQ(findWindow(server.connection, "Open"), 0u);
        EXPECT_TRUE(running(dialogProcess)) << readFile(log);
    }
    ASSERT_TRUE(focus(dialog));
    ASSERT_TRUE(xdo("key Escape"));
    EXPECT_EQ(exitStatus(dialogProcess, 5000), 0);
    EXPECT_TRUE(readFile(config).empty());
    expectCleanLog();
}

TEST_F(Dialog, SideTextBytesThatAreNotUtf8AreShownReadablyAndKept) {
    // A picture named in Latin-1, as older systems name files.
    const std::string latin1 = dir + "/caf\xe9";
    ASSERT_EQ(shell(server, "convert -size 64x48 xc:'#00ffff' '" + dir + "/cyan.jpg'"), 0);
    std::filesystem::rename(dir + "/cyan.jpg", latin1);
    const std::string before = settingsFile({latin1}, 2, 5);
    writeConfig(before);

    const Window dialog = openDialog();
    ASSERT_NE(dialog, 0u);
    screenshot(server, testName());
    // The byte shows as four characters "\xE9": four BackSpaces take it
    // away, and typing it back restores the very byte.
    ASSERT_TRUE(focus(dialog));
    ASSERT_TRUE(xdo("key Tab Tab End BackSpace BackSpace BackSpace BackSpace"));
    ASSERT_TRUE(xdo("type '\\xe9'"));
    ASSERT_TRUE(xdo("key Return"));
    EXPECT_EQ(exitStatus(dialogProcess, 5000), 48) << "the picture loaded\n" << readFile(boxes);
    const std::string saved = readFile(config);
    ASSERT_EQ(saved.size(), 1584u);
    EXPECT_EQ(std::string(saved.c_str() + 24), latin1);
    expectCleanLog();
}

TEST_F(Desktop, TheSaversStartUpBoxEndsByEscapeCloseBoxOrSignal) {
    writeConfig(settingsFile({"/nonexistent/side.jpg"}, 2, 5));
    for (const int way : {0, 1, SIGTERM}) {
        SCOPED_TRACE(way);
        const pid_t saver = launch({"/s"});
        if (way == SIGTERM) {
            ASSERT_NE(waitForWindow(server.connection, "Error", 5000), 0u) << readFile(log);
            pause(300);
            kill(saver, SIGTERM);
        } else {
            EXPECT_TRUE(dismiss("Error", way == 0));
        }
        EXPECT_EQ(exitStatus(saver, 3000), 0) << "as when the box is answered";
        EXPECT_EQ(findWindow(server.connection, "Error"), 0u);
    }
    expectCleanLog();
}

TEST_F(Dialog, TerminationSignalsEndLongWorkAndModalLoopsAtOnce) {
    // Noise compresses badly: a picture of a few hundred kilobytes, read
    // 4 KB at a time, 200 ms per read.
    const std::string slow = dir + "/slow.jpg";
    ASSERT_EQ(shell(server, "convert -size 600x600 xc: +noise Random -quality 95 '" + slow + "'"),
              0);
    ASSERT_GT(std::filesystem::file_size(slow), 200000u);
    const std::string before = settingsFile({slow}, 2, 5);
    writeConfig(before);

    // About half a second on an idle machine; the bound leaves room for a
    // loaded one and a sanitizer build, and is still far below the seconds
    // the rest of the load would take.
    const auto endsWithin = [&](pid_t pid, int signal, int status) {
        const auto sent = std::chrono::steady_clock::now();
        kill(pid, signal);
        // The program under strace is the tracer's child: the tracer ends
        // with its status.
        const int got = exitStatus(started.back(), 3000);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - sent);
        EXPECT_EQ(got, status) << "signal " << signal << ", " << took.count() << " ms\n"
                               << readFile(log);
        std::printf("ended %d ms after signal %d\n", static_cast<int>(took.count()), signal);
    };

    // A message box over the dialog, and the file chooser.
    for (const int signal : {SIGHUP, SIGTERM}) {
        const Window shown = openDialog();
        ASSERT_NE(shown, 0u);
        if (signal == SIGHUP) {
            focusScaleBox(shown);
            ASSERT_TRUE(xdo("type 11"));
            ASSERT_TRUE(xdo("key Return"));
            ASSERT_NE(waitForWindow(server.connection, "Error", 5000), 0u);
        } else {
            ASSERT_TRUE(focus(shown));
            for (int i = 0; i < 8; ++i) ASSERT_TRUE(xdo("key Tab"));
            ASSERT_TRUE(xdo("key Return"));
            ASSERT_NE(waitForWindow(server.connection, "Open", 5000), 0u);
        }
        pause(300);
        endsWithin(dialogProcess, signal, 0);
        EXPECT_EQ(readFile(config), before);
    }
    expectCleanLog();

    // The saver loading its pictures.
    const pid_t saver = launchWithSlowReads({"/s"}, slow);
    if (tracingUnavailable) GTEST_SKIP() << "strace cannot trace here: loads not tested";
    ASSERT_GT(saver, 0);
    ASSERT_TRUE(waitUntilReading(saver, slow, 15000)) << readFile(log);
    pause(300);
    endsWithin(saver, SIGTERM, 0);
    EXPECT_EQ(findWindow(server.connection, "Screen Saver"), 0u);

    // The dialog's OK loading them (the saver saved its settings as it
    // started: the same start again).
    writeConfig(before);
    const pid_t dialogUnderTrace = launchWithSlowReads({"/c"}, slow);
    ASSERT_GT(dialogUnderTrace, 0);
    const Window dialog = waitForWindow(server.connection, "Rovanta Configuration", 20000);
    ASSERT_NE(dialog, 0u) << readFile(log);
    ASSERT_TRUE(waitShown(dialog, 20000));
    pause(1000);
    ASSERT_TRUE(focus(dialog));
    ASSERT_TRUE(xdo("key Return"));
    ASSERT_TRUE(waitUntilReading(dialogUnderTrace, slow, 10000)) << readFile(log);
    pause(300);
    endsWithin(dialogUnderTrace, SIGINT, 0);
    EXPECT_EQ(readFile(config), before) << "ended as Cancel ends it: nothing saved";
}

TEST_F(Desktop, HackDrawsIntoTheDaemonsWindowAndEndsOnSigterm) {
    const Window parent = makeWindow(100, 80, 400, 300);
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", parent);
    const pid_t hack = launch({"--root"}, {std::string("XSCREENSAVER_WINDOW=") + hex});
    pause(1000);
    ASSERT_TRUE(running(hack)) << readFile(log);
    screenshot(server, testName());
    EXPECT_GT(look(100, 80, 400, 300).sideColours, 1000u);

    // The daemon keeps input and the cursor: a key is not ours to act on.
    ASSERT_TRUE(xdo("mousemove 300 200"));
    ASSERT_TRUE(xdo("key a"));
    ASSERT_TRUE(xdo("mousemove_relative -- 40 40"));
    pause(300);
    EXPECT_TRUE(running(hack));

    kill(hack, SIGTERM);
    EXPECT_EQ(exitStatus(hack, 3000), 128 + SIGTERM)
        << "SIGTERM ends the hack through its normal tear-down, then by the signal";
    EXPECT_EQ(childCount(server.connection, parent), 0) << "the hack's window goes with it";
}

TEST_F(Desktop, AStderrThatNobodyReadsNeitherHoldsUpNorEndsTheSaver) {
    // A picture cut off mid-scan: the decoder warns on stderr, and draws it.
    const std::string cut = dir + "/cut.jpg";
    ASSERT_EQ(shell(server, "convert -size 300x300 xc: +noise Random -quality 90 '" + cut + "'"), 0);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) / 2);
    writeConfig(settingsFile({cut}, 2, 5));

    // The saver's stderr is this pipe's writing end, passed as descriptor
    // `fds[1]` through the shell; its reading end stays here.
    const auto launchWithStderr = [&](int fds[2]) {
        const std::string redirect = "exec \"$@\" 2>&" + std::to_string(fds[1]) + " " +
                                     std::to_string(fds[0]) + "<&- " + std::to_string(fds[1]) +
                                     ">&-";
        // A sanitizer build's leak check would list its matched suppression
        // on the full stderr at exit, with a blocking write of its own.
        return launch({"/s"}, {"LSAN_OPTIONS=print_suppressions=0"},
                      {"/bin/sh", "-c", redirect, "sh"});
    };

    // Full, and nobody reads it: a blocking write would wait for good.
    int full[2];
    ASSERT_EQ(pipe(full), 0);
    const int flags = fcntl(full[1], F_GETFL);
    fcntl(full[1], F_SETFL, flags | O_NONBLOCK);
    const std::string chunk(4096, 'x');
    while (write(full[1], chunk.data(), chunk.size()) > 0) {
    }
    fcntl(full[1], F_SETFL, flags);
    const pid_t blocked = launchWithStderr(full);
    close(full[1]);
    ASSERT_NE(waitForWindow(server.connection, "Screen Saver", 5000), 0u) << readFile(log);
    pause(1500);
    const auto sent = std::chrono::steady_clock::now();
    kill(blocked, SIGTERM);
    EXPECT_EQ(exitStatus(blocked, 3000), 0) << readFile(log);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    EXPECT_LT(took.count(), 1500) << "a signal ends the saver within half a second as ever";
    close(full[0]);

    // Nobody holds the reading end: the warning's write fails (EPIPE)
    // rather than end the saver by SIGPIPE.
    int gone[2];
    ASSERT_EQ(pipe(gone), 0);
    close(gone[0]);
    gone[0] = open("/dev/null", O_RDONLY);
    const pid_t orphan = launchWithStderr(gone);
    close(gone[0]);
    close(gone[1]);
    ASSERT_NE(waitForWindow(server.connection, "Screen Saver", 5000), 0u) << readFile(log);
    pause(1500);
    ASSERT_TRUE(running(orphan)) << "status " << exitStatus(orphan, 0);
    kill(orphan, SIGTERM);
    EXPECT_EQ(exitStatus(orphan, 3000), 0);
    expectCleanLog();
}

TEST_F(Desktop, TooFewDescriptorsAreRefusedWithALineAndEnoughRunTheSaver) {
    writeConfig(settingsFile({}, 2, 5));
    // What a child of ours starts with: the standard three and those it
    // inherits from this process, listed by a shell's child. The least limit
    // that leaves the need free below it is the boundary.
    const std::string listing = dir + "/descriptors";
    ASSERT_EQ(exitStatus(spawn({"/bin/sh", "-c", "ls /proc/$$/fd"}, {}, listing), 3000), 0);
    std::vector<int> open;
    std::istringstream names(readFile(listing));
    for (int fd = 0; names >> fd;) open.push_back(fd);
    ASSERT_GE(open.size(), 3u) << readFile(listing);
    int enough = kDescriptorsNeeded;
    while (enough - std::count_if(open.begin(), open.end(), [&](int fd) { return fd < enough; }) <
           kDescriptorsNeeded)
        ++enough;

    // The limit as the shell sets it for the program alone.
    const auto underLimit = [&](int descriptors) {
        return launch({"/s"}, {},
                      {"/bin/sh", "-c", "ulimit -n " + std::to_string(descriptors) +
                                            " && exec \"$@\"",
                       "sh"});
    };
    // 5 made GLib abort, 6 failed to open the display; one short of the
    // need is refused as well.
    for (const int tight : {5, 6, enough - 1}) {
        SCOPED_TRACE(tight);
        std::ofstream(log, std::ios::trunc).flush();
        EXPECT_EQ(exitStatus(underLimit(tight), 5000), 1) << readFile(log);
        EXPECT_NE(readFile(log).find("rovanta: too few file descriptors"), std::string::npos)
            << readFile(log);
        EXPECT_EQ(findWindow(server.connection, "Screen Saver"), 0u);
    }
    const pid_t saver = underLimit(enough);
    ASSERT_NE(waitForWindow(server.connection, "Screen Saver", 5000), 0u) << readFile(log);
    pause(1000);
    ASSERT_TRUE(running(saver)) << readFile(log);
    kill(saver, SIGTERM);
    EXPECT_EQ(exitStatus(saver, 3000), 0) << readFile(log);
    expectCleanLog();
}

TEST_F(Desktop, UnderAnAddressSpaceLimitLargePicturesEndInTheBoxNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no ulimit -v";
#else
    // Six 5000 x 5000 pictures (75 MB each once decoded) under 450 MB.
    const std::string big = dir + "/big.jpg";
    ASSERT_EQ(shell(server, "convert -size 5000x5000 xc:'#336699' '" + big + "'"), 0);
    writeConfig(settingsFile({big, big, big, big, big, big}, 2, 5));
    const pid_t saver =
        launch({"/s"}, {}, {"/bin/sh", "-c", "ulimit -v 460000 && exec \"$@\"", "sh"});
    ASSERT_TRUE(waitFor([&] { return readFile(boxes).find("not found") != std::string::npos; },
                        20000))
        << "status " << exitStatus(saver, 0) << "\n" << readFile(log);
    EXPECT_NE(readFile(log).find("is too large"), std::string::npos) << readFile(log);
    ASSERT_TRUE(dismiss("Error", true)) << readFile(log);
    EXPECT_EQ(exitStatus(saver, 5000), 0) << readFile(log);
#endif
}

TEST(DesktopWithoutDisplay, NoModeExitsWithoutTouchingTheDisplay) {
    const std::string dir = tempDir();
    const std::string log = dir + "/log";
    pid_t p = 0;
    // A short usage on stderr, and no display opened for a refused command line.
    for (const char* tail : {"/x", "--bogus", "-h"}) {
        std::filesystem::remove(log);
        p = spawn({ROVANTA_PROGRAM, tail}, {"DISPLAY=:9999"}, log);
        EXPECT_EQ(exitStatus(p, 3000), 255) << tail;
        const std::string said = readFile(log);
        EXPECT_EQ(said.rfind("usage: rovanta ", 0), 0u) << tail << ": " << said;
        EXPECT_EQ(said.find("display"), std::string::npos) << tail << ": " << said;
    }

    // With no display at all a window mode fails instead of hanging.
    p = spawn({ROVANTA_PROGRAM, "/s"}, {"DISPLAY=:9999"}, log);
    int status = -1;
    ASSERT_TRUE(waitExit(p, 5000, &status));
    EXPECT_NE(status, 0);
    EXPECT_NE(readFile(log).find("cannot open display"), std::string::npos);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

}  // namespace

