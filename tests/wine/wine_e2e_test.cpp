// rovanta.scr end to end under Wine on a virtual X display.
//
// One Xvfb and one fresh Wine prefix serve the whole run (making a prefix
// takes longer than all cases together). The program is installed as
// C:\saver\rovanta.scr, so its settings file is C:\saver\rovanta.cfg.
// `--wine-arch=32` runs the shipped 32-bit build: natively where the kernel
// starts 32-bit programs, else with Wine's i386 loader under the qemu-i386
// handler that scripts/setup.sh registers; it fails, naming what is missing,
// rather than run anything else. `--wine-arch=64` runs the 64-bit build of
// the same sources, which guards the 64-bit code paths.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;
constexpr const char* kSaver = "C:\\saver\\rovanta.scr";

// ---- processes ----------------------------------------------------------------
struct Process {
    pid_t pid = -1;
};

std::vector<std::string> extraEnvironment;  // set once by the environment below

Process spawn(const std::vector<std::string>& args,
              const std::vector<std::string>& moreEnvironment = {}) {
    // Later entries replace earlier ones of the same name.
    std::vector<std::string> envStrings;
    auto put = [&envStrings](const std::string& entry) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        for (auto& e : envStrings)
            if (e.compare(0, name.size(), name) == 0) {
                e = entry;
                return;
            }
        envStrings.push_back(entry);
    };
    for (char** e = environ; *e != nullptr; ++e) put(*e);
    for (const auto& e : extraEnvironment) put(e);
    for (const auto& e : moreEnvironment) put(e);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    Process p;
    if (posix_spawnp(&p.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        p.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return p;
}

// The exit status, or nothing when the process is still running after `wait`.
std::optional<int> waitFor(Process& p, std::chrono::milliseconds wait) {
    const auto end = std::chrono::steady_clock::now() + wait;
    for (;;) {
        int status = 0;
        const pid_t r = waitpid(p.pid, &status, WNOHANG);
        if (r == p.pid) {
            p.pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (r < 0) return -1;
        if (std::chrono::steady_clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(50ms);
    }
}

// The exit status, -1 when still running after `wait`.
int exitCode(Process& p, std::chrono::milliseconds wait) { return waitFor(p, wait).value_or(-1); }

bool running(Process& p) { return p.pid > 0 && !waitFor(p, 0ms).has_value(); }

void killProcess(Process& p) {
    if (p.pid <= 0) return;
    kill(p.pid, SIGKILL);
    int status = 0;
    waitpid(p.pid, &status, 0);
    p.pid = -1;
}

// Runs to the end (at most `limit`) and gives the exit status, -1 on timeout.
int runToEnd(const std::vector<std::string>& args, std::chrono::milliseconds limit = 60s,
             const std::vector<std::string>& moreEnvironment = {}) {
    Process p = spawn(args, moreEnvironment);
    if (p.pid < 0) return -1;
    const int code = exitCode(p, limit);
    if (code == -1) killProcess(p);
    return code;
}

std::string capture(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[65536];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// ---- the environment: display, prefix, programs --------------------------------------
struct Wine {
    std::string loader;       // starts the programs under test: wine or wine64
    std::string bootLoader;   // makes the prefix and edits its registry
    std::string server;       // the prefix's wineserver
    std::string programs;     // the build's bin folder of the chosen architecture
    std::string arch;         // "32-bit" or "64-bit"
    std::string emulator;     // the qemu-i386 interpreter when the loader is emulated
    int patience = 1;         // how many times longer a start may take
    fs::path prefix;
    fs::path saverDir;        // drive_c/saver
    std::string display;
    pid_t xvfb = -1;
};
Wine wine;
int wantedArch = 32;  // --wine-arch=32|64

constexpr const char* kLoader32 = "/usr/lib/wine/wine";
constexpr const char* kLoader64 = "/usr/lib/wine/wine64";
// The address space Wine's 32-bit layout expects, reserved up front: without
// it the emulator takes Wine's fixed reservations as hints and Wine probes
// the upper space 64 KiB at a time, about a minute of CPU per start.
constexpr const char* kReservedVa = "QEMU_RESERVED_VA=0x81000000";

// A wait for something the program under test has to do, scaled for an
// emulated loader (about three times slower to start and to draw).
std::chrono::milliseconds patient(std::chrono::milliseconds limit) { return limit * wine.patience; }

// The interpreter of an enabled binfmt_misc handler for i386 programs, or "".
std::string i386Emulator() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/sys/fs/binfmt_misc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name == "register" || name == "status") continue;
        std::ifstream in(entry.path());
        std::string line, interpreter;
        bool enabled = false;
        while (std::getline(in, line)) {
            if (line == "enabled") enabled = true;
            if (line.rfind("interpreter ", 0) == 0) interpreter = line.substr(12);
        }
        if (enabled && interpreter.find("qemu-i386") != std::string::npos) return interpreter;
    }
    return {};
}

// Chooses how the 32-bit build runs, or says what is missing.
std::string choose32() {
    if (!fs::exists(ROVANTA_WINDOWS_BIN_32 "/rovanta.scr"))
        return "the i686 build is missing (" ROVANTA_WINDOWS_BIN_32
               "/rovanta.scr; needs g++-mingw-w64-i686)";
    if (!fs::exists(kLoader32))
        return std::string(kLoader32) + " is missing (Debian's wine32:i386; run scripts/setup.sh)";
    wine.emulator = i386Emulator();
    if (wine.emulator.empty()) {
        if (runToEnd({kLoader32, "--version"}, 20s) != 0)
            return "this kernel cannot start 32-bit programs and no qemu-i386 handler is "
                   "registered in /proc/sys/fs/binfmt_misc (run scripts/setup.sh, which installs "
                   "qemu-user-static and registers it)";
        wine.loader = wine.bootLoader = kLoader32;
        wine.server = fs::exists("/usr/lib/wine/wineserver32") ? "/usr/lib/wine/wineserver32"
                                                               : "/usr/lib/wine/wineserver";
        return {};
    }
    if (!fs::exists(wine.emulator))
        return "the qemu-i386 handler's interpreter " + wine.emulator +
               " is missing (qemu-user-static)";
    if (runToEnd({kLoader32, "--version"}, 60s, {kReservedVa}) != 0)
        return std::string(kLoader32) + " does not start under " + wine.emulator;
    // The prefix is made and served by the native 64-bit Wine (a win64
    // prefix runs 32-bit programs through WoW64), so only the programs under
    // test are emulated; a win32 prefix's emulated explorer is not reliable.
    wine.loader = kLoader32;
    wine.bootLoader = kLoader64;
    wine.server = "/usr/lib/wine/wineserver64";
    wine.patience = 3;
    return {};
}

class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const bool use32 = wantedArch == 32;
        wine.arch = use32 ? "32-bit" : "64-bit";
        if (use32) {
            const std::string missing = choose32();
            ASSERT_TRUE(missing.empty()) << "cannot run the 32-bit build: " << missing;
            wine.programs = ROVANTA_WINDOWS_BIN_32;
        } else {
            ASSERT_TRUE(fs::exists(ROVANTA_WINDOWS_BIN_64 "/rovanta.scr"))
                << "the x86_64 build is missing (" ROVANTA_WINDOWS_BIN_64 "/rovanta.scr)";
            wine.loader = wine.bootLoader = kLoader64;
            wine.server = "/usr/lib/wine/wineserver64";
            wine.programs = ROVANTA_WINDOWS_BIN_64;
        }
        if (!fs::exists(wine.server)) wine.server = "/usr/lib/wine/wineserver";
        std::printf("[ wine     ] running the %s build from %s under %s%s\n", wine.arch.c_str(),
                    wine.programs.c_str(), wine.loader.c_str(),
                    wine.emulator.empty()
                        ? " (native)"
                        : (", emulated by " + wine.emulator + " (this kernel cannot run it)")
                              .c_str());

        startDisplay();
        ASSERT_GT(wine.xvfb, 0) << "Xvfb did not start";

        char dir[] = "/tmp/rovanta-wine-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        wine.prefix = dir;
        const bool win32Prefix = use32 && wine.emulator.empty();
        extraEnvironment = {"WINEPREFIX=" + wine.prefix.string(), "WINEDEBUG=-all",
                            "WINEARCH=" + std::string(win32Prefix ? "win32" : "win64"),
                            "WINELOADER=" + wine.loader, "DISPLAY=" + wine.display,
                            // No downloads of Mono or Gecko while the prefix is made.
                            "WINEDLLOVERRIDES=mscoree,mshtml=",
                            // Where an i386 handler is registered a win64 prefix
                            // runs its 32-bit setup emulated, in either lane.
                            kReservedVa};
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(runToEnd({wine.bootLoader, "wineboot", "-i"}, 600s,
                           {"WINELOADER=" + wine.bootLoader}),
                  0)
            << "wineboot failed";
        runToEnd({wine.server, "-w"}, 120s);
        // A server that stays up saves every later start from booting Wine again.
        runToEnd({wine.server, "-p"}, 30s);
        // Wine starts its debugger on an unhandled fault even when the program
        // asked for no fault box, and that debugger hangs without a terminal.
        // A win64 prefix keeps the setting apart for 32-bit programs.
        for (const char* view : {"/reg:64", "/reg:32"}) {
            if (win32Prefix && std::string(view) == "/reg:64") continue;
            std::vector<std::string> args{
                wine.bootLoader, "reg", "add",
                "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug",
                "/v", "Debugger", "/d", "", "/f"};
            if (!win32Prefix) args.push_back(view);
            ASSERT_EQ(runToEnd(args, 60s, {"WINELOADER=" + wine.bootLoader}), 0);
        }
        std::printf("[ wine     ] prefix %s (%s) ready in %.1f s\n", wine.prefix.c_str(),
                    win32Prefix ? "win32" : "win64",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                        .count());

        wine.saverDir = wine.prefix / "drive_c" / "saver";
        fs::create_directories(wine.saverDir);
        for (const char* name :
             {"rovanta.scr", "preview_parent.exe", "fault_guard.exe", "window_texts.exe",
              "renderer_paths.exe"})
            fs::copy_file(fs::path(wine.programs) / name, wine.saverDir / name,
                          fs::copy_options::overwrite_existing);
    }

    void TearDown() override {
        if (!wine.prefix.empty()) {
            runToEnd({wine.server, "-k"}, 30s);
            // An emulated program can outlive its server's end.
            endProcessesOfPrefix();
            std::error_code ec;
            if (std::getenv("ROVANTA_KEEP_PREFIX") == nullptr) fs::remove_all(wine.prefix, ec);
        }
        if (wine.xvfb > 0) {
            kill(wine.xvfb, SIGTERM);
            int status = 0;
            waitpid(wine.xvfb, &status, 0);
        }
    }

private:
    // Every process that runs in this run's prefix was started by this run.
    static void endProcessesOfPrefix() {
        const std::string mark = "WINEPREFIX=" + wine.prefix.string();
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator("/proc", ec)) {
            const std::string name = entry.path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::ifstream in(entry.path() / "environ", std::ios::binary);
            for (std::string var; std::getline(in, var, '\0');)
                if (var == mark) {
                    kill(static_cast<pid_t>(std::stol(name)), SIGKILL);
                    break;
                }
        }
    }

    static void startDisplay() {
        for (int n = 70 + getpid() % 100; n < 400; ++n) {
            if (fs::exists("/tmp/.X" + std::to_string(n) + "-lock")) continue;
            wine.display = ":" + std::to_string(n);
            Process x = spawn({"Xvfb", wine.display, "-screen", "0",
                               std::to_string(kScreenWidth) + "x" +
                                   std::to_string(kScreenHeight) + "x24",
                               "-nolisten", "tcp"});
            if (x.pid < 0) return;
            for (int i = 0; i < 100; ++i) {
                if (!running(x)) break;
                if (fs::exists("/tmp/.X11-unix/X" + std::to_string(n))) {
                    wine.xvfb = x.pid;
                    return;
                }
                std::this_thread::sleep_for(50ms);
            }
            killProcess(x);
        }
    }
};

// ---- things the cases share ----------------------------------------------------------
std::string x11(const std::string& args) {
    return capture("DISPLAY=" + wine.display + " xdotool " + args + " 2>/dev/null");
}

bool windowShown(const std::string& title) {
    return !x11("search --onlyvisible --name '^" + title + "$'").empty();
}

// Wine takes a moment to put a new window on the display and to take a
// closed one off.
bool waitForWindowState(const std::string& title, bool shown, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (windowShown(title) == shown) return true;
        std::this_thread::sleep_for(100ms);
    }
    return false;
}
bool waitForWindow(const std::string& title, std::chrono::milliseconds limit = 20s) {
    return waitForWindowState(title, true, patient(limit));
}
bool waitForWindowGone(const std::string& title) {
    return waitForWindowState(title, false, patient(10s));
}

// The window is up and has had `settle` to draw and take input.
bool windowSettles(const std::string& title, std::chrono::milliseconds settle,
                   std::chrono::milliseconds limit = 20s) {
    if (!waitForWindow(title, limit)) return false;
    std::this_thread::sleep_for(patient(settle));
    return true;
}

void pressKey(const std::string& key) { x11("key " + key); }

// Without a window manager the keyboard goes to the window under the pointer
// and nobody moves the focus to a new message box; a user would click it, the
// test puts the pointer on it and focuses it.
// A slow (emulated) dialog can come up after the pointer moved on, so
// dialogs are focused the same way before their keys.
void focusWindow(const std::string& title) {
    const std::string id = x11("search --onlyvisible --name '^" + title + "$'");
    const std::string first = id.substr(0, id.find('\n'));
    if (!first.empty()) {
        x11("mousemove --window " + first + " 30 30");
        x11("windowfocus --sync " + first);
    }
}
void pressKeyIn(const std::string& title, const std::string& key) {
    focusWindow(title);
    pressKey(key);
}

// Polls `done` until it holds or `limit` has passed; whether it held.
template <typename Done>
bool waitUntil(Done done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

void moveMouseTo(int x, int y) { x11("mousemove " + std::to_string(x) + " " + std::to_string(y)); }
void moveMouseBy(int dx, int dy) {
    x11("mousemove_relative -- " + std::to_string(dx) + " " + std::to_string(dy));
}

std::vector<std::string> saverCommand(const std::vector<std::string>& args) {
    std::vector<std::string> all{wine.loader, kSaver};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

Process startSaver(const std::vector<std::string>& args,
                   const std::vector<std::string>& moreEnvironment = {}) {
    return spawn(saverCommand(args), moreEnvironment);
}

int runSaver(const std::vector<std::string>& args, std::chrono::milliseconds limit = 30s,
             const std::vector<std::string>& moreEnvironment = {}) {
    return runToEnd(saverCommand(args), patient(limit), moreEnvironment);
}

// HKCU is one view for 32-bit and 64-bit programs, so the native loader edits it.
int runReg(const std::vector<std::string>& args) {
    std::vector<std::string> all{wine.bootLoader, "reg"};
    all.insert(all.end(), args.begin(), args.end());
    return runToEnd(all, 60s, {"WINELOADER=" + wine.bootLoader});
}
void reg(const std::vector<std::string>& args) {
    ASSERT_EQ(runReg(args), 0) << "reg " << args[0] << " " << args[1] << " failed";
}

// Wine answers GetVersionExA for our program as Windows 98 while this lives.
struct Windows98 {
    Windows98() {
        reg({"add", "HKCU\\Software\\Wine\\AppDefaults\\rovanta.scr", "/v", "Version", "/d",
             "win98", "/f"});
    }
    ~Windows98() { runReg({"delete", "HKCU\\Software\\Wine\\AppDefaults\\rovanta.scr", "/f"}); }
};

fs::path cfgPath() { return wine.saverDir / "rovanta.cfg"; }

// "class|text" of the window with this title and of each of its children.
std::string windowTexts(const std::string& title) {
    const fs::path out = wine.saverDir / "texts.txt";
    std::error_code ec;
    fs::remove(out, ec);
    if (runToEnd({wine.loader, "C:\\saver\\window_texts.exe", title, "C:\\saver\\texts.txt"},
                 patient(30s)) != 0)
        return {};
    std::ifstream in(out);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int32_t fieldOf(const std::vector<std::uint8_t>& file, int index) {
    const std::size_t at = static_cast<std::size_t>(index) * 4;
    return static_cast<std::int32_t>(file[at] | file[at + 1] << 8 | file[at + 2] << 16 |
                                     static_cast<std::uint32_t>(file[at + 3]) << 24);
}

// A settings file: faceSize, pointStep, reduceFactor, centerX, centerY,
// maxRotationDegrees, then six side texts of 260 bytes.
void writeSettings(const std::array<const char*, 6>& sides, std::int32_t pointStep = 2,
                   std::int32_t reduceFactor = 1, std::int32_t maxRotation = 5) {
    std::vector<std::uint8_t> file(1584, 0);
    const std::array<std::int32_t, 6> numbers{0, pointStep, reduceFactor, 0, 0, maxRotation};
    for (std::size_t i = 0; i < numbers.size(); ++i)
        for (int b = 0; b < 4; ++b)
            file[i * 4 + static_cast<std::size_t>(b)] =
                static_cast<std::uint8_t>(static_cast<std::uint32_t>(numbers[i]) >> (8 * b));
    for (std::size_t s = 0; s < 6; ++s)
        std::memcpy(file.data() + 24 + s * 260, sides[s], std::strlen(sides[s]));
    std::ofstream(cfgPath(), std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

struct Screenshot {
    int width = 0;
    int height = 0;
    std::string rgb;
    std::uint32_t at(int x, int y) const {
        const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                               static_cast<std::size_t>(x)) * 3;
        return static_cast<std::uint32_t>(static_cast<unsigned char>(rgb[i])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(rgb[i + 1])) << 8 |
               static_cast<unsigned char>(rgb[i + 2]);
    }
};

Screenshot screenshot() {
    Screenshot s;
    s.rgb = capture("import -display " + wine.display + " -window root -depth 8 rgb:- 2>/dev/null");
    if (s.rgb.size() == static_cast<std::size_t>(kScreenWidth) * kScreenHeight * 3) {
        s.width = kScreenWidth;
        s.height = kScreenHeight;
    }
    return s;
}

struct ColourCount {
    int sidePixels = 0;     // pixels of the default side colours
    int otherPixels = 0;    // neither black nor a side colour
    int coloursSeen = 0;    // how many of the five visible default colours
};

// The default sides: red, green, blue, white, black (invisible) and #f0f0ff.
ColourCount countDefaultColours(const Screenshot& s, int left, int top, int right, int bottom) {
    constexpr std::array<std::uint32_t, 5> colours{0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF,
                                                   0xF0F0FF};
    std::array<int, 5> seen{};
    ColourCount c;
    for (int y = top; y < bottom; ++y)
        for (int x = left; x < right; ++x) {
            const std::uint32_t p = s.at(x, y);
            if (p == 0) continue;
            bool side = false;
            for (std::size_t i = 0; i < colours.size(); ++i)
                if (p == colours[i]) {
                    ++seen[i];
                    side = true;
                }
            side ? ++c.sidePixels : ++c.otherPixels;
        }
    for (int n : seen) c.coloursSeen += n > 0 ? 1 : 0;
    return c;
}

// Ends a still running saver so that the next case starts clean.
struct SaverGuard {
    Process& p;
    ~SaverGuard() {
        if (running(p)) {
            pressKey("Escape");
            if (!waitFor(p, 5s)) killProcess(p);
        }
    }
};

class WineSaver : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(wine.prefix.empty()) << "no Wine prefix";
        std::error_code ec;
        fs::remove(cfgPath(), ec);
        moveMouseTo(700, 300);
    }
};

// ---- full screen --------------------------------------------------------------------
TEST_F(WineSaver, FullScreenDrawsTheDefaultCubeSavesTheSettingsAndAKeyEndsIt) {
    Process saver = startSaver({"/s"});
    SaverGuard guard{saver};
    ASSERT_TRUE(windowSettles("Screen Saver", 1500ms)) << "no full-screen window";

    const Screenshot shot = screenshot();
    ASSERT_EQ(shot.width, kScreenWidth);
    const ColourCount centre = countDefaultColours(shot, kScreenWidth / 2 - 250,
                                                   kScreenHeight / 2 - 250, kScreenWidth / 2 + 250,
                                                   kScreenHeight / 2 + 250);
    EXPECT_GT(centre.sidePixels, 5000) << "the cube is not near the centre";
    EXPECT_GE(centre.coloursSeen, 2) << "a cube shows at least two sides at these angles";
    EXPECT_EQ(centre.otherPixels, 0) << "colours that no default side has";
    // Far from the cube the screen is black.
    EXPECT_EQ(shot.at(20, 20), 0u);
    EXPECT_EQ(shot.at(kScreenWidth - 20, 20), 0u);

    const auto file = readBytes(cfgPath());
    ASSERT_EQ(file.size(), 1584u);
    EXPECT_EQ(fieldOf(file, 0), 200) << "faceSize";
    EXPECT_EQ(fieldOf(file, 3), kScreenWidth / 2) << "centerX";
    EXPECT_EQ(fieldOf(file, 4), kScreenHeight / 2) << "centerY";

    EXPECT_TRUE(running(saver));
    pressKey("space");
    EXPECT_EQ(exitCode(saver, patient(15s)), 0) << "a key press did not end the saver";
}

TEST_F(WineSaver, SmallMouseMovementsAddUpUntilTheyEndTheSaver) {
    Process saver = startSaver({"/s"});
    SaverGuard guard{saver};
    ASSERT_TRUE(windowSettles("Screen Saver", 1500ms));

    moveMouseBy(2, 1);  // 3 pixels from where it started
    EXPECT_FALSE(waitFor(saver, 2s).has_value()) << "a movement of 3 pixels ended the saver";
    moveMouseBy(3, 3);  // now 5 + 4 from the start
    EXPECT_EQ(exitCode(saver, patient(15s)), 0) << "a movement of 9 pixels did not end the saver";
}

TEST_F(WineSaver, ASecondFullScreenStartEndsAtOnceAndTheFirstKeepsRunning) {
    Process first = startSaver({"/s"});
    SaverGuard guard{first};
    ASSERT_TRUE(windowSettles("Screen Saver", 500ms));

    EXPECT_EQ(runSaver({"/s"}, 20s), 0);
    EXPECT_TRUE(running(first));
    EXPECT_TRUE(windowShown("Screen Saver"));

    pressKey("space");
    EXPECT_EQ(exitCode(first, patient(15s)), 0);
}

TEST_F(WineSaver, CommandLinesThatSelectNoModeExitWithMinusOne) {
    EXPECT_EQ(runSaver({"/x"}), 255);
    EXPECT_EQ(runSaver({"/p:1234"}), 255);
    EXPECT_EQ(runSaver({"/p", "0"}), 255);
    EXPECT_FALSE(fs::exists(cfgPath())) << "a refused command line touched the settings";
}

TEST_F(WineSaver, AMissingPictureShowsTheErrorBoxAndTheSaverQuitsAfterIt) {
    writeSettings({"C:\\saver\\missing.jpg", "#00ff00", "#0000ff", "#ffffff", "#000000",
                   "#f0f0ff"});
    Process saver = startSaver({"/s"});
    SaverGuard guard{saver};
    ASSERT_TRUE(waitForWindow("Error")) << "no \"Error\" box for the missing picture";
    const std::string box = windowTexts("Error");
    EXPECT_TRUE(contains(box, "|Image C:\\saver\\missing.jpg not found.\n")) << box;
    EXPECT_TRUE(running(saver));
    pressKeyIn("Error", "Return");
    EXPECT_EQ(exitCode(saver, patient(15s)), 0) << "the saver did not quit after the box";

    const auto file = readBytes(cfgPath());
    ASSERT_EQ(file.size(), 1584u);
    EXPECT_EQ(fieldOf(file, 3), kScreenWidth / 2) << "the settings were not written back";
    EXPECT_EQ(fieldOf(file, 0), 0) << "faceSize of a failed load";
}

// In a folder this long "rovanta.cfg.~<pid>.<n>" beside the settings file is
// past MAX_PATH: a file made under that name could be neither moved nor
// removed. A save there leaves no temporary file, and removes the one a
// killed save left (a process id no process has), by its short name.
TEST_F(WineSaver, ASaveInALongFolderLeavesNoTemporaryFileAndSweepsAStaleOne) {
    const std::string folder = "long-" + std::string(235, 'f');
    const fs::path dir = wine.prefix / "drive_c" / folder;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    fs::copy_file(wine.saverDir / "rovanta.scr", dir / "rovanta.scr");
    const std::string stale = "rovanta.cfg.~4000000001.1";
    std::ofstream(dir / stale, std::ios::binary) << std::string(1584, 'x');

    Process saver = spawn({wine.loader, "C:\\" + folder + "\\rovanta.scr", "/s"});
    SaverGuard guard{saver};
    ASSERT_TRUE(windowSettles("Screen Saver", 1500ms)) << "no full-screen window";
    pressKey("space");
    EXPECT_EQ(exitCode(saver, patient(15s)), 0);

    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"rovanta.cfg", "rovanta.scr"}));
    const auto file = readBytes(dir / "rovanta.cfg");
    ASSERT_EQ(file.size(), 1584u);
    EXPECT_EQ(fieldOf(file, 3), kScreenWidth / 2) << "centerX";
    fs::remove_all(dir, ec);
}

// ---- preview ----------------------------------------------------------------------------
// Waits until the frame log the saver keeps (ROVANTA_FRAME_LOG) counts more
// than `atLeast` frames; the count reached goes to *count.
bool waitForFrames(const fs::path& log, long atLeast, long* count) {
    return waitUntil(
        [&] {
            std::ifstream counted(log);
            std::string word;
            return counted >> word >> *count && *count > atLeast;
        },
        patient(20s));
}

struct PreviewParent {
    Process process;
    std::string handle;
    fs::path closeFile = wine.saverDir / "close-parent";
    fs::path childrenFile = wine.saverDir / "children.txt";

    bool start() {
        std::error_code ec;
        fs::remove(closeFile, ec);
        fs::remove(wine.saverDir / "parent.txt", ec);
        fs::remove(childrenFile, ec);
        process = spawn({wine.loader, "C:\\saver\\preview_parent.exe", "C:\\saver\\parent.txt",
                         "C:\\saver\\close-parent", "C:\\saver\\children.txt"});
        const auto end = std::chrono::steady_clock::now() + patient(20s);
        while (handle.empty() && std::chrono::steady_clock::now() < end) {
            std::ifstream in(wine.saverDir / "parent.txt");
            std::getline(in, handle);
            while (!handle.empty() && (handle.back() == '\r' || handle.back() == ' '))
                handle.pop_back();
            if (handle.empty()) std::this_thread::sleep_for(100ms);
        }
        return !handle.empty();
    }
    void close() { std::ofstream(closeFile) << "close\n"; }
    std::string children() const {
        std::ifstream in(childrenFile);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    ~PreviewParent() {
        if (running(process)) {
            close();
            if (!waitFor(process, 5s)) killProcess(process);
        }
    }
};

TEST_F(WineSaver, PreviewDrawsInsideTheParentIgnoresInputAndEndsWithIt) {
    PreviewParent parent;
    ASSERT_TRUE(parent.start()) << "the parent window helper did not start";
    ASSERT_TRUE(waitForWindow("Rovanta Preview Parent"));

    const fs::path frames = wine.saverDir / "preview-frames.txt";
    std::error_code ec;
    fs::remove(frames, ec);
    Process saver = startSaver({"/p", parent.handle},
                               {"ROVANTA_FRAME_LOG=C:\\saver\\preview-frames.txt"});
    SaverGuard guard{saver};
    // Wine shows no child window that another process owns, so its pixels
    // cannot be looked at here; the frame counter shows the frames drawn.
    // An emulated 32-bit start on a loaded machine takes a while, so wait for
    // the frames rather than for a fixed time.
    long count = 0;
    const bool drawn = waitForFrames(frames, 20, &count);
    ASSERT_TRUE(running(saver)) << "the preview ended by itself";
    EXPECT_TRUE(drawn) << "only " << count << " frames drawn into the preview";

    // The preview is a child of the parent that fills its client area.
    EXPECT_EQ(parent.children(), "WindowsScreenSaverClass|Preview|400|300\n");
    const Screenshot shot = screenshot();
    ASSERT_EQ(shot.width, kScreenWidth);
    const ColourCount outside = countDefaultColours(shot, 600, 100, 1900, 1000);
    EXPECT_EQ(outside.sidePixels, 0) << "the preview drew outside its parent";

    moveMouseTo(300, 250);
    moveMouseBy(40, 40);
    pressKey("space");
    x11("click 1");
    EXPECT_FALSE(waitFor(saver, 2s).has_value()) << "input ended the preview";

    parent.close();
    EXPECT_EQ(exitCode(saver, patient(15s)), 0) << "the preview outlived its parent";
}

// A host that is killed takes the preview's window with it, but no
// WM_DESTROY reaches the preview's thread: the preview still ends, as a
// closed host ends it.
TEST_F(WineSaver, APreviewWhoseHostIsKilledEnds) {
    PreviewParent parent;
    ASSERT_TRUE(parent.start()) << "the parent window helper did not start";
    ASSERT_TRUE(waitForWindow("Rovanta Preview Parent"));
    const fs::path frames = wine.saverDir / "killed-host-frames.txt";
    std::error_code ec;
    fs::remove(frames, ec);
    Process saver = startSaver({"/p", parent.handle},
                               {"ROVANTA_FRAME_LOG=C:\\saver\\killed-host-frames.txt"});
    SaverGuard guard{saver};
    long count = 0;
    ASSERT_TRUE(waitForFrames(frames, 5, &count)) << "the preview drew nothing";

    killProcess(parent.process);
    EXPECT_EQ(exitCode(saver, patient(5s)), 0) << "the preview outlived its killed host";
}

// ---- configuration dialog ------------------------------------------------------------
TEST_F(WineSaver, ConfigureOkWritesTheFileAndExitsWith200CancelExitsWith0) {
    {
        Process dialog = startSaver({"/c"});
        SaverGuard guard{dialog};
        ASSERT_TRUE(waitForWindow("Rovanta Configuration"));
        // With no file the boxes show the defaults, in tab order.
        const std::string texts = windowTexts("Rovanta Configuration");
        EXPECT_TRUE(contains(texts, "Edit|#ff0000\nEdit|#00ff00\nEdit|#0000ff\nEdit|#ffffff\n"
                                    "Edit|#000000\nEdit|#f0f0ff\n"))
            << texts;
        EXPECT_TRUE(contains(texts, "Edit|1\n")) << texts;
        EXPECT_TRUE(contains(texts, "Edit|2\n")) << texts;
        EXPECT_TRUE(contains(texts, "Edit|5\n")) << texts;
        std::this_thread::sleep_for(patient(500ms));
        pressKeyIn("Rovanta Configuration", "Return");  // the focus starts on OK
        EXPECT_EQ(exitCode(dialog, patient(20s)), 200) << "OK did not close the dialog";
    }
    const auto written = readBytes(cfgPath());
    ASSERT_EQ(written.size(), 1584u);
    EXPECT_EQ(fieldOf(written, 1), 2) << "pointStep";
    EXPECT_EQ(fieldOf(written, 2), 1) << "reduceFactor";
    EXPECT_EQ(fieldOf(written, 5), 5) << "maxRotationDegrees";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(written.data()) + 24), "#ff0000");

    writeSettings({"#123456", "$none", "#0000ff", "#ffffff", "#000000", "#f0f0ff"}, 3, 2, 7);
    const auto before = readBytes(cfgPath());
    {
        Process dialog = startSaver({"/c"});
        SaverGuard guard{dialog};
        ASSERT_TRUE(windowSettles("Rovanta Configuration", 500ms));
        pressKeyIn("Rovanta Configuration", "Escape");
        EXPECT_EQ(exitCode(dialog, patient(20s)), 0) << "Cancel did not close the dialog";
    }
    EXPECT_EQ(readBytes(cfgPath()), before) << "Cancel changed the file";
}

TEST_F(WineSaver, ConfigureRefusesScale11WithTheMessageAndLeavesTheFile) {
    writeSettings({"#ff0000", "#00ff00", "#0000ff", "#ffffff", "#000000", "#f0f0ff"});
    const auto before = readBytes(cfgPath());
    Process dialog = startSaver({"/c"});
    SaverGuard guard{dialog};
    ASSERT_TRUE(windowSettles("Rovanta Configuration", 500ms));
    // From OK the tab order runs Cancel, six side boxes, six Browse buttons,
    // then the scale box, whose text is selected when the focus arrives.
    focusWindow("Rovanta Configuration");
    x11("key --delay 30 " + [] {
        std::string tabs;
        for (int i = 0; i < 14; ++i) tabs += "Tab ";
        return tabs;
    }());
    x11("type --delay 50 11");
    pressKey("Return");
    ASSERT_TRUE(waitForWindow("Error", 10s)) << "no message box for scale 11";
    const std::string box = windowTexts("Error");
    EXPECT_TRUE(contains(box, "|Sorry, the scale factor must be between 1 and 10.\n")) << box;
    EXPECT_TRUE(windowShown("Rovanta Configuration"));
    EXPECT_EQ(readBytes(cfgPath()), before) << "a refused OK wrote the file";

    pressKeyIn("Error", "Return");  // dismiss the message; the dialog stays
    EXPECT_TRUE(waitForWindowGone("Error")) << "the message box did not go";
    EXPECT_TRUE(running(dialog));
    EXPECT_TRUE(windowShown("Rovanta Configuration"));
    pressKeyIn("Rovanta Configuration", "Escape");
    EXPECT_EQ(exitCode(dialog, patient(15s)), 0);
    EXPECT_EQ(readBytes(cfgPath()), before);
}

// The program as r.scr in a 246-character folder: the settings path has 261
// characters, one past the 259 the program holds. Cut, it would be
// "...\\rovanta.c", a user's own file, read as the settings and overwritten by
// the next save; instead no file is used: the defaults, and a failed save.
TEST_F(WineSaver, ASettingsPathTooLongIsNotCutIntoAnotherFile) {
    const std::string folder(246, 'd');
    const fs::path dir = wine.prefix / "drive_c" / folder;
    fs::create_directories(dir);
    fs::copy_file(wine.saverDir / "rovanta.scr", dir / "r.scr",
                  fs::copy_options::overwrite_existing);
    writeSettings({"#123456", "#00ff00", "#0000ff", "#ffffff", "#000000", "#f0f0ff"});
    fs::rename(cfgPath(), dir / "rovanta.c");
    const auto before = readBytes(dir / "rovanta.c");

    Process dialog = spawn({wine.loader, "C:\\" + folder + "\\r.scr", "/c"});
    SaverGuard guard{dialog};
    ASSERT_TRUE(windowSettles("Rovanta Configuration", 500ms));
    const std::string texts = windowTexts("Rovanta Configuration");
    EXPECT_TRUE(contains(texts, "Edit|#ff0000\n")) << "not the defaults: " << texts;
    pressKeyIn("Rovanta Configuration", "Return");
    ASSERT_TRUE(waitForWindow("Error", 10s)) << "OK saved somewhere";
    EXPECT_TRUE(contains(windowTexts("Error"), "|Error writing configuration to  (ID_OK)\n"));
    pressKeyIn("Error", "Return");
    EXPECT_EQ(exitCode(dialog, patient(20s)), 200);
    EXPECT_EQ(readBytes(dir / "rovanta.c"), before) << "another file was overwritten";
    fs::remove_all(dir);
}

// ---- Windows 98: password and change-password -----------------------------------------
TEST_F(WineSaver, PasswordOnWindows98AsksOnEveryKeyUntilTheVerifierSaysYes) {
    Windows98 win98;
    reg({"add", "HKCU\\Control Panel\\Desktop", "/v", "ScreenSaveUsePassword", "/t", "REG_DWORD",
         "/d", "1", "/f"});
    fs::copy_file(fs::path(wine.programs) / "PASSWORD.CPL", wine.saverDir / "PASSWORD.CPL",
                  fs::copy_options::overwrite_existing);
    const fs::path answer = wine.saverDir / "pwanswer.txt";
    const fs::path log = wine.saverDir / "pwlog.txt";
    std::error_code ec;
    fs::remove(log, ec);
    std::ofstream(answer) << "0\n";
    auto calls = [&] {
        std::ifstream in(log);
        int n = 0;
        for (std::string line; std::getline(in, line);) ++n;
        return n;
    };

    Process saver = startSaver({"/s"});
    SaverGuard guard{saver};
    ASSERT_TRUE(windowSettles("Screen Saver", 1s));

    pressKey("space");
    std::this_thread::sleep_for(1500ms);
    waitUntil([&] { return calls() >= 1; }, patient(1500ms));
    EXPECT_EQ(calls(), 1) << "the first key press did not run the verifier";
    EXPECT_TRUE(running(saver)) << "an answer of 0 ended the saver";

    pressKey("space");  // well over 200 ms later: asks again
    std::this_thread::sleep_for(1500ms);
    waitUntil([&] { return calls() >= 2; }, patient(1500ms));
    EXPECT_EQ(calls(), 2);
    EXPECT_TRUE(running(saver));

    std::ofstream(answer) << "1\n";
    pressKey("space");
    EXPECT_EQ(exitCode(saver, patient(15s)), 0) << "an answer of 1 did not end the saver";
    EXPECT_EQ(calls(), 3);

    runReg({"delete", "HKCU\\Control Panel\\Desktop", "/v", "ScreenSaveUsePassword", "/f"});
    fs::remove(wine.saverDir / "PASSWORD.CPL", ec);
}

TEST_F(WineSaver, ChangePasswordCallsTheProviderOnWindows98AndIsRefusedElsewhere) {
    PreviewParent owner;
    ASSERT_TRUE(owner.start());
    fs::copy_file(fs::path(wine.programs) / "MPR.DLL", wine.saverDir / "MPR.DLL",
                  fs::copy_options::overwrite_existing);
    const fs::path log = wine.saverDir / "mprlog.txt";
    std::error_code ec;
    fs::remove(log, ec);
    const std::vector<std::string> ourMpr{"WINEDLLOVERRIDES=mscoree,mshtml=;mpr=n"};

    EXPECT_EQ(runSaver({"/a", owner.handle}, 30s, ourMpr), 255) << "/a off the Windows 95 family";
    EXPECT_FALSE(fs::exists(log));
    {
        Windows98 win98;
        EXPECT_EQ(runSaver({"/a", owner.handle}, 30s, ourMpr), 0);
    }
    std::ifstream in(log);
    std::string provider, handle, reserved1, reserved2;
    ASSERT_TRUE(in >> provider >> handle >> reserved1 >> reserved2) << "MPR.DLL was not called";
    EXPECT_EQ(provider, "SCRSAVE");
    EXPECT_EQ(handle, owner.handle);
    EXPECT_EQ(reserved1, "0");
    EXPECT_EQ(reserved2, "0");
    fs::remove(wine.saverDir / "MPR.DLL", ec);
}

// ---- the fault guard of the real platform --------------------------------------------------
TEST_F(WineSaver, TheFaultGuardRunsItsHandlerOnAFaultAndPassesResultsThrough) {
    EXPECT_EQ(runToEnd({wine.loader, "C:\\saver\\fault_guard.exe", "clean"}, patient(60s)), 42);
    const fs::path marker = wine.saverDir / "fault.txt";
    std::error_code ec;
    fs::remove(marker, ec);
    const int code = runToEnd(
        {wine.loader, "C:\\saver\\fault_guard.exe", "fault", "C:\\saver\\fault.txt"},
        patient(60s));
    EXPECT_TRUE(fs::exists(marker)) << "the guard's handler did not run";
    // The process ends with the fault's code: an access violation (0xC0000005)
    // leaves 5 in the exit status. The emulator hands Wine the fault without
    // the processor's trap number, and Wine then reports an illegal
    // instruction (0xC000001D, 29); only an emulated run may end so.
    constexpr int kAccessViolation = 5, kIllegalInstruction = 29;
    if (!wine.emulator.empty() && code == kIllegalInstruction)
        std::printf("[ wine     ] the fault ended with 29 (illegal instruction), not 5: accepted "
                    "because %s reports no trap number\n",
                    wine.emulator.c_str());
    else
        EXPECT_EQ(code, kAccessViolation) << "-1 means the faulting program hung";
}

// ---- the renderer's paths ----------------------------------------------------------------------
// What renderer_paths.exe wrote, or "" when it failed to run to the end.
std::string rendererPaths(const std::vector<std::string>& moreEnvironment = {}) {
    const fs::path out = wine.saverDir / "paths.txt";
    std::error_code ec;
    fs::remove(out, ec);
    const int code = runToEnd({wine.loader, "C:\\saver\\renderer_paths.exe", "C:\\saver\\paths.txt"},
                              patient(120s), moreEnvironment);
    std::ifstream in(out);
    std::string text;
    for (std::string line; std::getline(in, line);) {  // Windows line ends
        if (!line.empty() && line.back() == '\r') line.pop_back();
        text += line + "\n";
    }
    std::printf("%s", text.c_str());
    return code == 0 ? text : std::string();
}

// The saver asks the processor first thing (chooseRendererPath, as the
// helper does); every processor Wine runs on has SSE2. In the 32-bit build
// the plain path (x87 arithmetic) and the SSE2 build of the fast paths draw
// the heavy and the default scene and 200 seeded random scenes frame for
// frame the same. The heavy scene's time on each path is printed for the
// log, never judged: it depends on the machine and its load.
TEST_F(WineSaver, TheRendererPathsDrawTheSameFramesAndSse2IsChosenWhereThereIsSse2) {
    const std::string text = rendererPaths();
    ASSERT_FALSE(text.empty()) << "renderer_paths.exe failed or found differing frames";
    EXPECT_TRUE(contains(text, "renderer path: sse2\n")) << text;
    if (wine.arch == "32-bit") {
        EXPECT_TRUE(contains(text, "heavy scene (six 1000x1000 pictures, stride 1): 2 frames "
                                   "identical (0 differing pixels)"))
            << text;
        EXPECT_TRUE(contains(text, "default scene (six colours, stride 2): 6 frames identical "
                                   "(0 differing pixels)"))
            << text;
        EXPECT_TRUE(contains(text, "random scenes: 200 scenes of 3 frames identical (0 differing "
                                   "pixels)"))
            << text;
        EXPECT_TRUE(contains(text, "renderer paths: plain ")) << text;
    }
    if (wine.emulator.empty()) return;
    // The emulator can play a processor without SSE2; the choice follows.
    const std::string old = rendererPaths({"QEMU_CPU=pentium3"});
    EXPECT_TRUE(contains(old, "renderer path: plain\n")) << old;
}

// ---- speed ------------------------------------------------------------------------------------
TEST_F(WineSaver, FrameRateWithSixLargePicturesAtPointStep1) {
    std::array<std::string, 6> paths;
    for (std::size_t i = 0; i < 6; ++i) {
        const std::string name = "big" + std::to_string(i) + ".jpg";
        paths[i] = "C:\\saver\\" + name;
        const fs::path out = wine.saverDir / name;
        if (fs::exists(out)) continue;
        ASSERT_EQ(std::system(("convert -size 1000x1000 -seed " + std::to_string(i) +
                               " plasma: -quality 85 '" + out.string() + "' 2>/dev/null")
                                  .c_str()),
                  0);
    }
    writeSettings({paths[0].c_str(), paths[1].c_str(), paths[2].c_str(), paths[3].c_str(),
                   paths[4].c_str(), paths[5].c_str()},
                  1, 1, 5);
    const fs::path frames = wine.saverDir / "frames.txt";
    std::error_code ec;
    fs::remove(frames, ec);

    // The counter file is rewritten every second with the frames and the
    // milliseconds since the first frame. Two readings a few seconds apart
    // give the steady rate; start-up (mapping the window, the first loads)
    // and tear-down are left out, as they are not ticks the saver could keep.
    // The saver may be rewriting the file at the moment it is read, and an
    // emulated 32-bit saver under load may take seconds a frame: retry.
    const auto readCounter = [&frames](long* count, long* ms) {
        return waitUntil(
            [&] {
                std::ifstream in(frames);
                std::string word1, word2;
                return static_cast<bool>(in >> word1 >> *count >> word2 >> *ms) && *ms > 0;
            },
            patient(20s));
    };
    Process saver = startSaver({"/s"}, {"ROVANTA_FRAME_LOG=C:\\saver\\frames.txt"});
    SaverGuard guard{saver};
    ASSERT_TRUE(windowSettles("Screen Saver", 4s, 60s));
    long count1 = 0, ms1 = 0;
    ASSERT_TRUE(readCounter(&count1, &ms1)) << "no frame count was written";
    std::this_thread::sleep_for(8s);
    long count2 = 0, ms2 = 0;
    ASSERT_TRUE(readCounter(&count2, &ms2)) << "no frame count was written";
    pressKey("space");
    EXPECT_EQ(exitCode(saver, patient(20s)), 0);

    ASSERT_GT(ms2, ms1);
    const long count = count2 - count1;
    const long ms = ms2 - ms1;
    const double perSecond = static_cast<double>(count) * 1000.0 / static_cast<double>(ms);
    std::printf("[ speed    ] %ld frames in %ld ms: %.1f frames a second of 20 (%s build)\n",
                count, ms, perSecond, wine.arch.c_str());
    RecordProperty("frames_per_second", std::to_string(perSecond));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--wine-arch=32" || arg == "--wine-arch=64") {
            wantedArch = arg.back() == '2' ? 32 : 64;
        } else {
            std::fprintf(stderr, "usage: %s [gtest options] [--wine-arch=32|64]\n", argv[0]);
            return 2;
        }
    }
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);
    return RUN_ALL_TESTS();
}
