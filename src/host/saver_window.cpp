#include "host/saver_window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// ---- How much a tick clears and sends ----------------------------------------
//
// What the user sees after every tick is the whole frame redrawn from black:
// the cube, then the credit line, then the frame-rate line, all of it copied
// to the window. Only how much of the surface is cleared and copied differs.
// Outside the boxes the last frame drew into, the surface is black already
// and the window shows it so; a tick therefore blackens those boxes, draws,
// and sends the union of the cube's last box and its new one (and a text
// line's boxes when the line changed). The whole surface is cleared and sent
// at the first frame, after the window was painted over or resized, and
// whenever the union is nearly all of the frame. ROVANTA_FULL_FRAMES=1
// clears, draws the text and sends the whole frame at every tick.

// Of the frame's area, the share (in per cent) above which the whole is sent.
// On Xvfb with shared memory a part cost the server no more than the whole
// even when it was most of the frame (1920 x 1080, six 1000-pixel pictures,
// parts of half the frame and more: 1.41 ms a frame against 1.50 whole), so
// only a part that saves less than a tenth of the copy goes out whole.
constexpr std::int64_t kWholeFramePercent = 90;

// A line of text kept as pixels to copy. Its cell is opaque: drawing the text
// over anything leaves exactly these pixels in `box` and touches nothing
// else, which is checked when the stamp is made; `exact` is false when that
// does not hold, and then the text is drawn afresh at every tick.
struct TextStamp {
    plat::Rect box;          // in the frame, clipped to it
    std::uint32_t* pixels;   // the box's rows, packed
    bool exact;
    char text[48];           // what it shows
};

struct Presentation {
    bool fullFrames = false;  // ROVANTA_FULL_FRAMES
    bool wholeNext = true;    // the next tick clears and sends the whole surface
    plat::Rect lastCube{0, 0, 0, 0};
    plat::Rect lastRate{0, 0, 0, 0};
    plat::FrameSurface* scratch = nullptr;  // where stamps are made
    std::int32_t pad = 0;                   // room around a stamp's text there
    TextStamp credit{};
    TextStamp rate{};
};
Presentation presentation;

bool isEmpty(const plat::Rect& r) { return r.left >= r.right || r.top >= r.bottom; }

plat::Rect unite(const plat::Rect& a, const plat::Rect& b) {
    if (isEmpty(a)) return b;
    if (isEmpty(b)) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

bool overlaps(const plat::Rect& a, const plat::Rect& b) {
    return !isEmpty(a) && !isEmpty(b) && a.left < b.right && b.left < a.right &&
           a.top < b.bottom && b.top < a.bottom;
}

std::int64_t area(const plat::Rect& r) {
    return isEmpty(r) ? 0 : static_cast<std::int64_t>(r.right - r.left) * (r.bottom - r.top);
}

void releaseStamp(TextStamp* stamp) {
    std::free(stamp->pixels);
    *stamp = TextStamp{};
}

// The text drawn at (pad, pad) of the scratch surface over black and over
// white: the pixels either changes make the box, and inside it both must
// agree (the opaque cell hides what lay below). Ink reaching the scratch's
// edge may go further than we can see: not exact.
void makeStamp(TextStamp* stamp, const char* text, std::int32_t x, std::int32_t y) {
    releaseStamp(stamp);
    std::snprintf(stamp->text, sizeof stamp->text, "%s", text);
    plat::FrameSurface* scratch = presentation.scratch;
    const PixelSurface* s = plat::FrameSurfacePixels(scratch);
    if (s == nullptr || s->pixels == nullptr || std::strlen(text) >= sizeof stamp->text) return;
    const std::int32_t width = s->width;
    const std::int32_t height = s->height;
    const std::int32_t pad = presentation.pad;
    auto* overBlack = static_cast<std::uint32_t*>(
        std::malloc(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4));
    if (overBlack == nullptr) return;

    plat::BlackenFrameSurface(scratch);
    plat::FrameSurfaceTextOut(scratch, pad, pad, text, kCreditColour, 0u);
    s = plat::FrameSurfacePixels(scratch);
    for (std::int32_t row = 0; row < height; ++row)
        std::memcpy(overBlack + static_cast<std::int64_t>(row) * width,
                    s->pixels + static_cast<std::int64_t>(row) * s->stride,
                    static_cast<std::size_t>(width) * 4);
    for (std::int32_t row = 0; row < height; ++row)
        std::fill_n(s->pixels + static_cast<std::int64_t>(row) * s->stride, width, 0xFFFFFFu);
    plat::FrameSurfaceTextOut(scratch, pad, pad, text, kCreditColour, 0u);
    s = plat::FrameSurfacePixels(scratch);

    plat::Rect ink{width, height, 0, 0};
    for (std::int32_t row = 0; row < height; ++row)
        for (std::int32_t col = 0; col < width; ++col) {
            const std::uint32_t black = overBlack[static_cast<std::int64_t>(row) * width + col];
            const std::uint32_t white = s->pixels[static_cast<std::int64_t>(row) * s->stride + col];
            if ((black & 0xFFFFFFu) == 0 && (white & 0xFFFFFFu) == 0xFFFFFFu) continue;
            ink = {std::min(ink.left, col), std::min(ink.top, row), std::max(ink.right, col + 1),
                   std::max(ink.bottom, row + 1)};
        }
    bool exact = isEmpty(ink) || (ink.left > 0 && ink.top > 0 && ink.right < width &&
                                  ink.bottom < height);
    for (std::int32_t row = ink.top; exact && row < ink.bottom; ++row)
        for (std::int32_t col = ink.left; col < ink.right; ++col)
            if (((overBlack[static_cast<std::int64_t>(row) * width + col] ^
                  s->pixels[static_cast<std::int64_t>(row) * s->stride + col]) &
                 0xFFFFFFu) != 0) {
                exact = false;
                break;
            }

    // Where the box lands in the frame, clipped to it.
    const std::int32_t dx = x - pad;
    const std::int32_t dy = y - pad;
    plat::Rect box{std::clamp(ink.left + dx, 0, saverDrawing.width),
                   std::clamp(ink.top + dy, 0, saverDrawing.height),
                   std::clamp(ink.right + dx, 0, saverDrawing.width),
                   std::clamp(ink.bottom + dy, 0, saverDrawing.height)};
    if (isEmpty(ink) || isEmpty(box)) box = plat::Rect{0, 0, 0, 0};
    const std::int64_t boxWidth = box.right - box.left;
    if (exact && !isEmpty(box)) {
        stamp->pixels = static_cast<std::uint32_t*>(
            std::malloc(static_cast<std::size_t>(area(box)) * 4));
        exact = stamp->pixels != nullptr;
        for (std::int32_t row = box.top; exact && row < box.bottom; ++row)
            std::memcpy(stamp->pixels + (row - box.top) * boxWidth,
                        overBlack + static_cast<std::int64_t>(row - dy) * width + (box.left - dx),
                        static_cast<std::size_t>(boxWidth) * 4);
    }
    stamp->box = box;
    stamp->exact = exact;
    std::free(overBlack);
}

void copyStamp(plat::FrameSurface* target, const TextStamp& stamp) {
    PixelSurface* p = plat::FrameSurfacePixels(target);
    if (p == nullptr || p->pixels == nullptr || stamp.pixels == nullptr) return;
    const std::int64_t boxWidth = stamp.box.right - stamp.box.left;
    for (std::int32_t row = stamp.box.top; row < stamp.box.bottom; ++row)
        std::memcpy(p->pixels + static_cast<std::int64_t>(row) * p->stride + stamp.box.left,
                    stamp.pixels + (row - stamp.box.top) * boxWidth,
                    static_cast<std::size_t>(boxWidth) * 4);
}

std::int32_t textLineY(const plat::TextMetrics& metrics) {
    return saverDrawing.height - (3 * (metrics.height + metrics.externalLeading)) / 2;
}

// The credit line never changes while the size stays: its stamp is made once
// and compared with the line drawn afresh on the (still black) new surface.
void makeCreditStamp(plat::FrameSurface* surface) {
    const plat::TextMetrics metrics = plat::GetFrameSurfaceTextMetrics(surface);
    const auto length = static_cast<std::int32_t>(std::strlen(kCreditText));
    presentation.pad = std::max(metrics.height + metrics.externalLeading, 8);
    presentation.scratch = plat::CreateFrameSurface(
        saverDrawing.window, 2 * length * std::max(metrics.averageCharWidth, 8) + 2 * presentation.pad,
        metrics.height + 2 * presentation.pad);
    makeStamp(&presentation.credit, kCreditText,
              saverDrawing.width - length * metrics.averageCharWidth, textLineY(metrics));
    PixelSurface* p = plat::FrameSurfacePixels(surface);
    if (!presentation.credit.exact || p == nullptr || p->pixels == nullptr) return;
    drawCredit(surface);
    p = plat::FrameSurfacePixels(surface);
    const TextStamp& stamp = presentation.credit;
    const std::int64_t boxWidth = stamp.box.right - stamp.box.left;
    for (std::int32_t row = 0; row < p->height && stamp.exact; ++row)
        for (std::int32_t col = 0; col < p->width; ++col) {
            const bool inside = col >= stamp.box.left && col < stamp.box.right &&
                                row >= stamp.box.top && row < stamp.box.bottom;
            const std::uint32_t expected =
                inside ? stamp.pixels[(row - stamp.box.top) * boxWidth + (col - stamp.box.left)] : 0u;
            if (((p->pixels[static_cast<std::int64_t>(row) * p->stride + col] ^ expected) &
                 0xFFFFFFu) != 0) {
                presentation.credit.exact = false;
                break;
            }
        }
    plat::BlackenFrameSurface(surface);
}

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
    saverDrawing.window = window;
    saverDrawing.surface = plat::CreateFrameSurface(window, width, height);
    createDepthBuffer(width, height);
    saverSettings.centerX = width / 2;
    saverSettings.centerY = height / 2;
    fitCubeToWindow();
    presentation.wholeNext = true;
    if (saverDrawing.surface != nullptr && !presentation.fullFrames)
        makeCreditStamp(saverDrawing.surface);
}

void releaseDrawing() {
    if (saverDrawing.surface != nullptr) {
        plat::DestroyFrameSurface(saverDrawing.surface);
        saverDrawing.surface = nullptr;
    }
    if (presentation.scratch != nullptr) {
        plat::DestroyFrameSurface(presentation.scratch);
        presentation.scratch = nullptr;
    }
    releaseStamp(&presentation.credit);
    releaseStamp(&presentation.rate);
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
        plat::WriteDiagnostic(plat::DiagnosticStream::Error, "rovanta: side %d left empty: %s: %s\n",
                              static_cast<int>(i + 1), text, sideFailureText(lastSideFailure()));
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

    const char* fullFrames = std::getenv("ROVANTA_FULL_FRAMES");
    presentation.fullFrames = fullFrames != nullptr && std::strcmp(fullFrames, "1") == 0;

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

// Returns whether the line's pixels stay within *box (empty when nothing is
// drawn); `fresh` draws the text itself rather than its stamp.
bool drawFrameRate(plat::FrameSurface* target, bool fresh, plat::Rect* box) {
    *box = plat::Rect{0, 0, 0, 0};
    const std::uint32_t now = plat::GetTickCount();
    ++frameRate.frames;
    const std::uint32_t elapsed = now - frameRate.since;
    if (elapsed >= 1000) {
        std::snprintf(frameRate.text, sizeof frameRate.text, "%.1f fps",
                      frameRate.frames * 1000.0 / elapsed);
        frameRate.since = now;
        frameRate.frames = 0;
    }
    if (frameRate.text[0] == '\0') return true;  // the first second is not over
    const plat::TextMetrics metrics = plat::GetFrameSurfaceTextMetrics(target);
    TextStamp& stamp = presentation.rate;
    if (!fresh && std::strcmp(stamp.text, frameRate.text) != 0)
        makeStamp(&stamp, frameRate.text, 0, textLineY(metrics));
    if (fresh || !stamp.exact) {
        plat::FrameSurfaceTextOut(target, 0, textLineY(metrics), frameRate.text, kCreditColour, 0u);
        return false;
    }
    copyStamp(target, stamp);
    *box = stamp.box;
    return true;
}

// Every tick as the frame is meant: black, cube, text, all of it sent.
void drawWholeFrame(plat::Window window, plat::FrameSurface* surface) {
    plat::BlackenFrameSurface(surface);
    if (failureText[0] != '\0')
        drawFailure(surface);
    else if (PixelSurface* pixels = plat::FrameSurfacePixels(surface))
        renderCube(*pixels, rotationState.angleA, rotationState.angleB, rotationState.angleC);
    drawCredit(surface);
    plat::Rect unused{};
    if (saverRunOptions.showFrameRate) drawFrameRate(surface, true, &unused);
    plat::ShowFrameSurface(window, surface, saverDrawing.width, saverDrawing.height);
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
    if (presentation.fullFrames || failureText[0] != '\0' || !presentation.credit.exact) {
        drawWholeFrame(window, surface);
        presentation.wholeNext = true;  // what lies where is not kept
        return;
    }

    // The same frame as drawWholeFrame's: everything but the last boxes is
    // black already, and the window shows everything but the new boxes.
    const bool whole = presentation.wholeNext;
    if (whole) {
        plat::BlackenFrameSurface(surface);
    } else {
        plat::BlackenFrameSurfaceRect(surface, presentation.lastCube);
        plat::BlackenFrameSurfaceRect(surface, presentation.lastRate);
    }
    plat::Rect cube{0, 0, 0, 0};
    if (PixelSurface* pixels = plat::FrameSurfacePixels(surface)) {
        renderCube(*pixels, rotationState.angleA, rotationState.angleB, rotationState.angleC);
        const PixelBox box =
            cubePixelBox(*pixels, rotationState.angleA, rotationState.angleB, rotationState.angleC);
        cube = plat::Rect{box.left, box.top, box.right, box.bottom};
    }
    copyStamp(surface, presentation.credit);
    char rateBefore[sizeof presentation.rate.text];
    std::memcpy(rateBefore, presentation.rate.text, sizeof rateBefore);
    plat::Rect rate{0, 0, 0, 0};
    const bool bounded = !saverRunOptions.showFrameRate || drawFrameRate(surface, false, &rate);

    // A stamp's pixels do not depend on what lies below it: where the cube
    // crosses a line of text, the line looks as it did. So the cube's boxes
    // are sent, and the frame-rate line's only when it changed.
    const plat::Rect cubes = unite(presentation.lastCube, cube);
    const bool rateChanged = std::memcmp(&rate, &presentation.lastRate, sizeof rate) != 0 ||
                             std::strcmp(rateBefore, presentation.rate.text) != 0;
    const plat::Rect rates =
        rateChanged ? unite(presentation.lastRate, rate) : plat::Rect{0, 0, 0, 0};
    const std::int64_t frameArea =
        static_cast<std::int64_t>(saverDrawing.width) * saverDrawing.height;
    if (whole || !bounded || (area(cubes) + area(rates)) * 100 > frameArea * kWholeFramePercent) {
        plat::ShowFrameSurface(window, surface, saverDrawing.width, saverDrawing.height);
    } else if (overlaps(cubes, rates)) {
        plat::ShowFrameSurfaceRect(window, surface, unite(cubes, rates));
    } else {
        plat::ShowFrameSurfaceRect(window, surface, cubes);
        if (!isEmpty(rates)) plat::ShowFrameSurfaceRect(window, surface, rates);
    }
    presentation.lastCube = cube;
    presentation.lastRate = rate;
    presentation.wholeNext = !bounded;
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
    plat::FrameSurfaceTextOut(target, x, textLineY(metrics), kCreditText, kCreditColour, 0u);
}

const char* frameRateText() { return frameRate.text; }

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
        presentation.wholeNext = true;  // the window no longer shows the frame
        break;
    case plat::WM_PAINT:
        presentation.wholeNext = true;
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
