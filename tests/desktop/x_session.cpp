#include "x_session.h"

#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace xsession {

namespace {

using Clock = std::chrono::steady_clock;

bool hasName(Display* d, Window w, const std::string& title) {
    char* name = nullptr;
    bool same = XFetchName(d, w, &name) && name && title == name;
    if (name) XFree(name);
    return same;
}

std::vector<Window> children(Display* d, Window parent) {
    Window root = 0;
    Window up = 0;
    Window* list = nullptr;
    unsigned count = 0;
    std::vector<Window> out;
    if (XQueryTree(d, parent, &root, &up, &list, &count) && list) {
        out.assign(list, list + count);
        XFree(list);
    }
    return out;
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

}  // namespace

bool start(Server* server, int width, int height, std::string* why) {
    if (system("command -v Xvfb >/dev/null 2>&1") != 0) {
        *why = "Xvfb is not installed";
        return false;
    }
    int fds[2];
    if (pipe(fds) != 0) {
        *why = "pipe failed";
        return false;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 1);
        dup2(devnull, 2);
        const std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", "-ac", "-br", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < deadline) {
        if (poll(&p, 1, 200) > 0) {
            char c = 0;
            const ssize_t n = read(fds[0], &c, 1);
            if (n <= 0 || c == '\n') break;
            number += c;
        }
    }
    close(fds[0]);
    if (number.empty()) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        *why = "Xvfb did not report a display";
        return false;
    }
    server->pid = pid;
    server->display = ":" + number;
    server->connection = XOpenDisplay(server->display.c_str());
    if (server->connection == nullptr) {
        stop(server);
        *why = "cannot connect to " + server->display;
        return false;
    }
    XSetErrorHandler(ignoreErrors);
    setenv("DISPLAY", server->display.c_str(), 1);
    return true;
}

void stop(Server* server) {
    if (server->connection) XCloseDisplay(server->connection);
    server->connection = nullptr;
    if (server->pid > 0) {
        kill(server->pid, SIGTERM);
        int status = 0;
        if (!waitExit(server->pid, 5000, &status)) {
            kill(server->pid, SIGKILL);
            waitpid(server->pid, nullptr, 0);
        }
    }
    server->pid = -1;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& logFile) {
    pid_t pid = fork();
    if (pid == 0) {
        for (const auto& e : env) putenv(strdup(e.c_str()));
        const int out = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, 1);
            dup2(out, 2);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

bool waitExit(pid_t pid, int timeoutMs, int* status) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int raw = 0;
        const pid_t got = waitpid(pid, &raw, WNOHANG);
        if (got == pid) {
            *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            return true;
        }
        if (got < 0 || Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool running(pid_t pid) {
    int raw = 0;
    return waitpid(pid, &raw, WNOHANG) == 0;
}

void reap(pid_t pid) {
    if (pid <= 0) return;
    int status = 0;
    if (waitExit(pid, 0, &status)) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

int shell(const Server& server, const std::string& command) {
    const std::string line = "DISPLAY=" + server.display + " " + command;
    const int raw = system(line.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Windows in XQueryTree's order, bottom of the stack first: the first match,
// or with `topmost` the last.
static Window findNamed(Display* d, const std::string& title, bool topmost) {
    XSync(d, False);
    Window found = 0;
    for (Window top : children(d, DefaultRootWindow(d))) {
        std::vector<Window> candidates = children(d, top);
        candidates.insert(candidates.begin(), top);
        for (Window w : candidates) {
            if (!hasName(d, w, title)) continue;
            if (!topmost) return w;
            found = w;
        }
    }
    return found;
}

Window findWindow(Display* d, const std::string& title) { return findNamed(d, title, false); }
Window findTopWindow(Display* d, const std::string& title) { return findNamed(d, title, true); }

Window makeGreyWindow(Display* d, int x, int y, int width, int height) {
    XSetWindowAttributes a{};
    a.background_pixel = 0x404040;
    a.override_redirect = True;
    Window w = XCreateWindow(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                             static_cast<unsigned>(height), 0, CopyFromParent, InputOutput,
                             CopyFromParent, CWBackPixel | CWOverrideRedirect, &a);
    XMapWindow(d, w);
    XSync(d, False);
    return w;
}

Window waitForWindow(Display* d, const std::string& title, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        if (Window w = findWindow(d, title)) return w;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (Clock::now() < deadline);
    return 0;
}

std::vector<std::uint32_t> grab(Display* d, int x, int y, int width, int height) {
    std::vector<std::uint32_t> out;
    XImage* image = XGetImage(d, DefaultRootWindow(d), x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) return out;
    out.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            out.push_back(static_cast<std::uint32_t>(XGetPixel(image, col, row)) & 0xFFFFFFu);
    XDestroyImage(image);
    return out;
}

ColourCount countDefaultSides(const std::vector<std::uint32_t>& pixels) {
    constexpr std::array<std::uint32_t, 5> sides = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF,
                                                    0xF0F0FF};
    std::array<bool, 5> seen{};
    ColourCount c;
    for (std::uint32_t p : pixels) {
        if (p == 0) {
            ++c.black;
            continue;
        }
        bool side = false;
        for (std::size_t i = 0; i < sides.size(); ++i)
            if (p == sides[i]) {
                side = true;
                seen[i] = true;
            }
        if (side)
            ++c.sideColours;
        else
            ++c.other;
    }
    for (bool s : seen) c.distinctSides += s ? 1 : 0;
    return c;
}

void screenshot(const Server& server, const std::string& name) {
    const char* dir = std::getenv("ROVANTA_E2E_OUT");
    const std::string out = std::string(dir ? dir : "out/e2e") + "/" + name + ".png";
    shell(server, "mkdir -p \"$(dirname '" + out + "')\" && import -window root '" + out +
                      "' >/dev/null 2>&1");
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string tempDir() {
    char pattern[] = "/tmp/rovanta-e2e-XXXXXX";
    const char* made = mkdtemp(pattern);
    return made ? made : "/tmp";
}

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        pause(100);
    }
    return true;
}

int childCount(Display* d, Window w) {
    XSync(d, False);
    Window root = 0;
    Window up = 0;
    Window* list = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, w, &root, &up, &list, &count)) return -1;
    if (list) XFree(list);
    return static_cast<int>(count);
}

std::string settingsFile(const std::vector<std::string>& sides, std::int32_t pointStep,
                         std::int32_t maxRotation, std::int32_t reduceFactor) {
    std::string bytes(1584, '\0');
    const std::int32_t numbers[6] = {0, pointStep, reduceFactor, 0, 0, maxRotation};
    std::memcpy(bytes.data(), numbers, sizeof numbers);
    const char* defaults[6] = {"#ff0000", "#00ff00", "#0000ff", "#ffffff", "#000000", "#f0f0ff"};
    for (std::size_t i = 0; i < 6; ++i) {
        const std::string text = i < sides.size() ? sides[i] : defaults[i];
        std::memcpy(bytes.data() + 24 + 260 * i, text.data(), text.size());
    }
    return bytes;
}

bool ProgramTest::startServer(int width, int height) {
    std::string why;
    if (!start(&server, width, height, &why)) {
        [&] { GTEST_SKIP() << why; }();  // the macro returns void
        return false;
    }
    dir = tempDir();
    config = dir + "/rovanta.cfg";
    log = dir + "/rovanta.log";
    boxes = dir + "/boxes.log";
    return true;
}

void ProgramTest::TearDown() {
    for (pid_t p : started) reap(p);
    stop(&server);
    if (!HasFailure() && dir.rfind("/tmp/rovanta-e2e-", 0) == 0) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
}

pid_t ProgramTest::launch(const std::vector<std::string>& args, std::vector<std::string> env,
                          std::vector<std::string> prefix) {
    prefix.push_back(ROVANTA_PROGRAM);
    prefix.insert(prefix.end(), args.begin(), args.end());
    env.push_back("ROVANTA_CONFIG=" + config);
    env.push_back("ROVANTA_BOX_LOG=" + boxes);
    env.push_back("DISPLAY=" + server.display);
    const pid_t pid = spawn(prefix, env, log);
    started.push_back(pid);
    return pid;
}

void ProgramTest::writeConfig(const std::string& bytes) const {
    std::ofstream(config, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ProgramTest::testName() {
    return ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

}  // namespace xsession
