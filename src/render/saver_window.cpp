#include "render/saver_window.h"

#include <cmath>
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

namespace {

std::uint32_t randomState = 1;

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

void setUp(plat::Window window) {
    plat::InitCommonControls();
    buildSettingsPath();
    seedRandom(static_cast<std::uint32_t>(std::time(nullptr)));

    plat::Rect client{0, 0, 0, 0};
    plat::GetClientRect(window, &client);
    saverDrawing.width = client.right - client.left;
    saverDrawing.height = client.bottom - client.top;
    saverDrawing.surface =
        plat::CreateFrameSurface(window, saverDrawing.width, saverDrawing.height);

    createDepthBuffer(saverDrawing.width, saverDrawing.height);
    loadSettings();

    saverSettings.faceSize = loadAllSides(sideText(0), sideText(1), sideText(2), sideText(3),
                                          sideText(4), sideText(5));
    if (saverSettings.faceSize == 0) plat::PostQuitMessage(0);

    rotationState = {kInitialAngle, kInitialAngle, kInitialAngle,
                     kInitialStep,  kInitialStep,  kInitialStep};
    saverSettings.centerX = saverDrawing.width / 2;
    saverSettings.centerY = saverDrawing.height / 2;
    plat::SetTimer(window, kFrameTimerId, kFramePeriodMs);

    if (!saveSettings()) plat::MessageBoxA(0, kSaveFailedText, "Error", plat::MB_ICONERROR);
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
    if (PixelSurface* pixels = plat::FrameSurfacePixels(surface))
        renderCube(*pixels, rotationState.angleA, rotationState.angleB, rotationState.angleC);
    drawCredit(surface);
    plat::ShowFrameSurface(window, surface, saverDrawing.width, saverDrawing.height);
}

void tearDown(plat::Window window) {
    plat::KillTimer(window, kFrameTimerId);
    freeSidePixels();
    if (saverDrawing.surface != nullptr) {
        plat::DestroyFrameSurface(saverDrawing.surface);
        saverDrawing.surface = nullptr;
    }
    destroyDepthBuffer();
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
    plat::FrameSurfaceTextOut(target, x, y, kCreditText, 0x3C3C3Cu, 0u);
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
    default:
        break;
    }
    return HostDefaultProc(window, message, wParam, lParam);
}
