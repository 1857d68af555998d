#include "host/saver_window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "host/host_window.h"
#include "loader/side_loader.h"
#include "render/cube_renderer.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"
#include "settings/settings.h"

RotationState rotationState;
SaverDrawing saverDrawing;
SaverRunOptions saverRunOptions;

namespace {

std::uint32_t randomState = 1;

constexpr std::uint32_t kCreditColour = 0x3C3C3Cu;

// A hack none of whose sides loaded shows why instead of a cube.
char failureText[320];

// The reduction the settings gave, before a hack fits its cube to the window.
std::int32_t settingsReduce = 1;

// The start failed and the saver only waits for its quit: it draws nothing
// more, so it holds nothing to draw with.
bool startFailed = false;

struct FrameRate {
    std::uint32_t since = 0;  // tick count the current second began at
    std::uint32_t frames = 0;
    char text[32] = "";
};
FrameRate frameRate;

constexpr double kPi = 3.1415926535;

// Unbounded float angles lose their small steps after long runs (about two
// weeks at the default setting) and the cube would stop turning; keeping
// them within one turn changes a frame only by rounding.
float advanceAngle(float angle, float step) {
    float next = angle + step;
    if (next >= kFullTurn || next < 0.0f) next = std::fmod(next, kFullTurn);
    if (next < 0.0f) next += kFullTurn;
    return next;
}

float drawStep() {
    const double maxRadians = saverSettings.maxRotationDegrees * kPi / 180.0;
    return static_cast<float>(maxRadians * randomUnit());
}

// A hack's window may be a small preview or a screen smaller than the
// pictures: unless the run names a reduction, the smallest one not below the
// settings' keeps the tumbling cube (its space diagonal, and the splat
// beyond it) inside the window's smaller side. The samples are spread by as
// much as the cube is reduced beyond the settings, so a reduced cube costs
// what a small one does.
void fitCubeToWindow() {
    if (!saverRunOptions.hack || saverRunOptions.reduceFactor >= 0) return;
    const std::int64_t smaller = std::min(saverDrawing.width, saverDrawing.height);
    const std::int64_t room = smaller - 2 * (std::int64_t{renderPointStep()} + 2);
    std::int64_t reduce = settingsReduce;
    if (room > 0 && saverSettings.faceSize > 0) {
        const double diagonal = std::sqrt(3.0) * saverSettings.faceSize;
        reduce = std::max<std::int64_t>(
            reduce, static_cast<std::int64_t>(std::ceil(diagonal / static_cast<double>(room))));
    }
    saverSettings.reduceFactor = static_cast<std::int32_t>(reduce);
    spreadSamples(static_cast<std::int32_t>(reduce / settingsReduce));
}

// The surface, the depth buffer and the centre all follow the drawing
// area's size.
void sizeDrawing(plat::Window window, std::int32_t width, std::int32_t height) {
    saverDrawing.width = width;
    saverDrawing.height = height;
    saverDrawing.surface = plat::CreateFrameSurface(window, width, height);
    createDepthBuffer(width, height);
    saverSettings.centerX = width / 2;
    saverSettings.centerY = height / 2;
    fitCubeToWindow();
}

void releaseDrawing() {
    if (saverDrawing.surface != nullptr) {
        plat::DestroyFrameSurface(saverDrawing.surface);
        saverDrawing.surface = nullptr;
    }
    destroyDepthBuffer();
}

// Everything set-up takes: the timer, the sides' pictures and the drawing.
void releaseAll(plat::Window window) {
    plat::KillTimer(window, kFrameTimerId);
    freeSidePixels();
    releaseDrawing();
}

void applyRunOptions() {
    for (std::size_t i = 0; i < kSideCount; ++i) {
        const char* text = saverRunOptions.sides[i];
        if (text == nullptr || std::strlen(text) >= kSideTextSize) continue;
        std::memcpy(saverSettings.sidePaths[i], text, std::strlen(text) + 1);
    }
    if (saverRunOptions.pointStep >= 0) saverSettings.pointStep = saverRunOptions.pointStep;
    if (saverRunOptions.reduceFactor >= 0) saverSettings.reduceFactor = saverRunOptions.reduceFactor;
    if (saverRunOptions.maxRotationDegrees >= 0)
        saverSettings.maxRotationDegrees = saverRunOptions.maxRotationDegrees;
}

// A hack draws the sides that load; each one that does not is left empty
// and named in one line on stderr (the daemon's log). The cube's edge, or 0
// when no side loaded and at least one failed: the first failure is then the
// window's message.
std::int32_t loadHackSides() {
    quietSideReports = true;
    bool anyShown = false;
    bool anyFailed = false;
    for (std::size_t i = 0; i < kSideCount; ++i) {
        const char* text = sideText(i);
        if (plat::StopRequested()) break;
        if (loadSide(sideTable[i], text)) {
            anyShown = anyShown || sideTable[i].isEmpty == 0;
            continue;
        }
        if (plat::StopRequested()) break;
        sideTable[i].isEmpty = 1;
        std::fprintf(stderr, "rovanta: side %zu left empty: %s: %s\n", i + 1, text,
                     sideFailureText(lastSideFailure()));
        if (!anyFailed)
            std::snprintf(failureText, sizeof failureText, "Side %zu: %s: %s", i + 1, text,
                          sideFailureText(lastSideFailure()));
        anyFailed = true;
    }
    std::fflush(stderr);
    quietSideReports = false;
    if (plat::StopRequested()) {
        failureText[0] = '\0';
        return 0;
    }
    if (anyFailed && !anyShown) return 0;
    failureText[0] = '\0';
    return edgeLengthOfSides();
}

void setUp(plat::Window window) {
    plat::InitCommonControls();
    buildSettingsPath();
    // Several monitors start several savers in the same second: the process
    // id keeps their cubes apart.
    seedRandom(static_cast<std::uint32_t>(std::time(nullptr)) ^
               (saverRunOptions.seedMix * 2654435761u));

    plat::Rect client{0, 0, 0, 0};
    plat::GetClientRect(window, &client);
    sizeDrawing(window, client.right - client.left, client.bottom - client.top);
    loadSettings();
    applyRunOptions();

    failureText[0] = '\0';
    startFailed = false;
    settingsReduce = renderReduceFactor();
    spreadSamples(1);
    // The daemon would show a crash box for a hack that ends: with no side
    // to draw, the message is drawn instead, until we are ended. A load
    // given up because we are being ended leaves no message.
    saverSettings.faceSize = saverRunOptions.hack
                                 ? loadHackSides()
                                 : loadAllSides(sideText(0), sideText(1), sideText(2),
                                                sideText(3), sideText(4), sideText(5));
    fitCubeToWindow();
    if (saverSettings.faceSize == 0) {
        if (failureText[0] == '\0') {
            startFailed = true;
            plat::PostQuitMessage(0);
        }
    }

    rotationState = {kInitialAngle, kInitialAngle, kInitialAngle,
                     kInitialStep,  kInitialStep,  kInitialStep};
    saverSettings.centerX = saverDrawing.width / 2;
    saverSettings.centerY = saverDrawing.height / 2;
    frameRate = FrameRate{plat::GetTickCount(), 0, ""};
    plat::SetTimer(window, kFrameTimerId, saverRunOptions.framePeriodMs);

    // A hack only reads: it runs at every activation, on every monitor.
    if (!saverRunOptions.hack && !saveSettings())
        plat::MessageBoxA(0, kSaveFailedText, "Error", plat::MB_ICONERROR);

    // The window outlives a failed start until the process ends; what the
    // start took goes back now.
    if (startFailed) releaseAll(window);
}

void resize(plat::Window window, std::int32_t width, std::int32_t height) {
    if (startFailed || width <= 0 || height <= 0 ||
        (width == saverDrawing.width && height == saverDrawing.height))
        return;
    releaseDrawing();
    sizeDrawing(window, width, height);
}

void drawFailure(plat::FrameSurface* target) {
    const plat::TextMetrics metrics = plat::GetFrameSurfaceTextMetrics(target);
    const auto length = static_cast<std::int32_t>(std::strlen(failureText));
    const std::int32_t x = (saverDrawing.width - length * metrics.averageCharWidth) / 2;
    const std::int32_t y = (saverDrawing.height - metrics.height) / 2;
    plat::FrameSurfaceTextOut(target, x, y, failureText, kCreditColour, 0u);
}

void drawFrameRate(plat::FrameSurface* target) {
    const std::uint32_t now = plat::GetTickCount();
    ++frameRate.frames;
    const std::uint32_t elapsed = now - frameRate.since;
    if (elapsed >= 1000) {
        std::snprintf(frameRate.text, sizeof frameRate.text, "%.1f fps",
                      frameRate.frames * 1000.0 / elapsed);
        frameRate.since = now;
        frameRate.frames = 0;
    }
    if (frameRate.text[0] == '\0') return;  // the first second is not over
    const plat::TextMetrics metrics = plat::GetFrameSurfaceTextMetrics(target);
    const std::int32_t y =
        saverDrawing.height - (3 * (metrics.height + metrics.externalLeading)) / 2;
    plat::FrameSurfaceTextOut(target, 0, y, frameRate.text, kCreditColour, 0u);
}

void tick(plat::Window window) {
    rotationState.angleA = advanceAngle(rotationState.angleA, rotationState.stepA);
    rotationState.angleB = advanceAngle(rotationState.angleB, rotationState.stepB);
    rotationState.angleC = advanceAngle(rotationState.angleC, rotationState.stepC);
    rotationState.stepA = drawStep();
    rotationState.stepB = drawStep();
    rotationState.stepC = drawStep();

    plat::FrameSurface* surface = saverDrawing.surface;
    if (surface == nullptr) return;  // no surface could be had: nothing to draw into
    plat::BlackenFrameSurface(surface);
    if (failureText[0] != '\0')
        drawFailure(surface);
    else if (PixelSurface* pixels = plat::FrameSurfacePixels(surface))
        renderCube(*pixels, rotationState.angleA, rotationState.angleB, rotationState.angleC);
    drawCredit(surface);
    if (saverRunOptions.showFrameRate) drawFrameRate(surface);
    plat::ShowFrameSurface(window, surface, saverDrawing.width, saverDrawing.height);
}

void tearDown(plat::Window window) {
    releaseAll(window);
    plat::PostQuitMessage(0);
}

}  // namespace

void seedRandom(std::uint32_t seed) { randomState = seed; }

std::int32_t nextRandom() {
    // The classic 31-bit linear congruential step; its upper bits are the
    // well-mixed ones, so the 15 returned come from there.
    randomState = randomState * 1103515245u + 12345u;
    return static_cast<std::int32_t>((randomState >> 16) & 0x7FFFu);
}

double randomUnit() { return nextRandom() / 32767.0; }

void drawCredit(plat::FrameSurface* target) {
    const plat::TextMetrics metrics = plat::GetFrameSurfaceTextMetrics(target);
    const auto length = static_cast<std::int32_t>(std::strlen(kCreditText));
    const std::int32_t x = saverDrawing.width - length * metrics.averageCharWidth;
    const std::int32_t y =
        saverDrawing.height - (3 * (metrics.height + metrics.externalLeading)) / 2;
    plat::FrameSurfaceTextOut(target, x, y, kCreditText, kCreditColour, 0u);
}

plat::LResult SaverWindowProc(plat::Window window, std::uint32_t message, plat::WParam wParam,
                              plat::LParam lParam) {
    switch (message) {
    case plat::WM_CREATE:
        setUp(window);
        break;
    case plat::WM_DESTROY:
        tearDown(window);
        break;
    case plat::WM_ERASEBKGND:
        plat::FillClientBlack(window);
        break;
    case plat::WM_TIMER:
        tick(window);
        break;
    case plat::WM_SIZE:
        // The window's owner may resize it (a preview pane, the daemon's
        // window on a resolution change): draw at the new size from now on.
        resize(window, static_cast<std::int32_t>(lParam & 0xFFFF),
               static_cast<std::int32_t>((lParam >> 16) & 0xFFFF));
        break;
    default:
        break;
    }
    return HostDefaultProc(window, message, wParam, lParam);
}
