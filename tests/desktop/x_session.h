// What the end-to-end tests need of a display: their own Xvfb, the program
// started with an environment, windows looked up by name, pixels read back,
// and the user's keys and mouse through xdotool.
#pragma once

// Before Xlib, whose macros (None, Bool) would break gtest's names.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace xsession {

struct Server {
    pid_t pid = -1;
    std::string display;  // ":N"
    Display* connection = nullptr;
};

// An Xvfb on a free display number (-displayfd). False with `why` set when
// none could be started.
bool start(Server* server, int width, int height, std::string* why);
void stop(Server* server);

// A process with `env` added to ours; stdout and stderr to `logFile`.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& logFile);
// Waits up to timeoutMs; true with the exit status (or 128 + signal) when it ended.
bool waitExit(pid_t pid, int timeoutMs, int* status);
bool running(pid_t pid);
// Ends it if still there, so a failed test leaves nothing behind.
void reap(pid_t pid);

// A shell command with DISPLAY set to the server; its exit status.
int shell(const Server& server, const std::string& command);

// A window whose WM_NAME is `title`, searched below the root (two levels).
Window findWindow(Display* display, const std::string& title);
// The topmost of several windows of that name (the one opened last).
Window findTopWindow(Display* display, const std::string& title);
Window waitForWindow(Display* display, const std::string& title, int timeoutMs);
// A mapped grey top-level window outside the window manager's care, for the
// program to draw into as a daemon's or a settings panel's window.
Window makeGreyWindow(Display* display, int x, int y, int width, int height);

// Root-window pixels of a rectangle as 0x00RRGGBB.
std::vector<std::uint32_t> grab(Display* display, int x, int y, int width, int height);

struct ColourCount {
    std::size_t black = 0;
    std::size_t sideColours = 0;  // the six default sides' colours but black
    std::size_t other = 0;
    int distinctSides = 0;
};
ColourCount countDefaultSides(const std::vector<std::uint32_t>& pixels);

// A screenshot for people reading a failed run, under the build's out/.
void screenshot(const Server& server, const std::string& name);

std::string readFile(const std::string& path);
std::string tempDir();

void pause(int ms);
// Polls every 100 ms; false when `condition` did not hold within timeoutMs.
bool waitFor(const std::function<bool()>& condition, int timeoutMs);
// How many windows lie directly below `w`; -1 when it is gone.
int childCount(Display* display, Window w);

// The settings file's bytes: the numbers, then the six side texts, the
// default sides' colours past those given.
std::string settingsFile(const std::vector<std::string>& sides, std::int32_t pointStep,
                         std::int32_t maxRotation, std::int32_t reduceFactor = 1);

// A test with its own display and directory: the program started there with
// the directory's settings file, everything it started ended afterwards, and
// the directory kept only when the test failed.
class ProgramTest : public ::testing::Test {
protected:
    // Skips the test (and returns false) when no display can be started.
    bool startServer(int width, int height);
    void TearDown() override;

    // The program with `args`, `env` added to ours, run under `prefix` if any.
    pid_t launch(const std::vector<std::string>& args, std::vector<std::string> env = {},
                 std::vector<std::string> prefix = {});
    void writeConfig(const std::string& bytes) const;
    Window makeWindow(int x, int y, int width, int height) const {
        return makeGreyWindow(server.connection, x, y, width, height);
    }
    static std::string testName();

    Server server;
    std::string dir;
    std::string config;
    std::string log;
    std::string boxes;  // every message box the program showed, one a line
    std::vector<pid_t> started;
};

}  // namespace xsession
