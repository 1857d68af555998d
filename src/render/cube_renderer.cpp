// One frame of the cube, and the route it takes down to the pixel.
//
// renderCube takes the frame's constants from the settings
// (frameFromSettings: S, h, lo, the step k, the factor f, the centre, a depth
// divisor for cubes too large for 16-bit depths), builds the rotation matrix
// M from the three angles (buildMatrix) and chooses how to draw:
//   drawCubeFast    (cube_renderer_fast.cpp) where fastPathsFit says its
//                   preconditions hold, as at the default settings (k = 2,
//                   f = 1); in the 32-bit program drawCubeFastSse2 once
//                   chooseRendererPath has found SSE2
//   drawCubePlain   every other frame: pairs of sides, rows, a chunk of a row
//                   rotated (rotateChunk), each sample to plotSample
//     plotSample    (cube_renderer_paths.h, so that both routes inline it)
//                   the screen position, depthTestAndMark, the colour
//                   (paintPixel), then the nine pixels with depthRaise (k = 1)
//                   or the runs of fillSurfaceRun (k > 1)
//
// Both draw the same frame pixel for pixel: the same sums of the same
// products in the same order (-ffp-contract=off keeps them apart), each
// rounded as a double (on the x87 unit rotateChunk sets the precision for
// it), and the same order of samples.
#include "render/cube_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "platform/platform.h"
#include "render/cube_renderer_paths.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"
#include "render/truncate.h"
#include "settings/settings.h"

using cube_paths::Frame;
using cube_paths::SidePaint;

namespace {

std::int32_t sampleSpread = 1;

#if defined(ROVANTA_RENDER_SSE2_PATH)
RendererPath activePath = RendererPath::Plain;
#elif defined(__SSE2__)
constexpr RendererPath kOnlyPath = RendererPath::Sse2;
#else
constexpr RendererPath kOnlyPath = RendererPath::Plain;
#endif

Frame frameFromSettings(PixelSurface& target);
void buildMatrix(Frame& frame, float angleA, float angleB, float angleC);
void noteFrameDepthSpan(const Frame& frame);
bool fastPathsFit(const Frame& frame);
void drawCubePlain(const Frame& frame);

}  // namespace

void renderCube(PixelSurface& target, float angleA, float angleB, float angleC) {
    Frame frame = frameFromSettings(target);
    clearTouchedDepthCells();
    noteFrameDepthSpan(frame);
    if (target.pixels == nullptr) return;
    buildMatrix(frame, angleA, angleB, angleC);
    // The fast paths draw what drawCubePlain draws, faster, but only where
    // their preconditions hold; see fastPathsFit. The 32-bit
    // program has them in two builds and takes the SSE2 one only once
    // chooseRendererPath has found it usable.
    if (!fastPathsFit(frame))
        drawCubePlain(frame);
#if defined(ROVANTA_RENDER_SSE2_PATH)
    else if (activePath == RendererPath::Sse2)
        cube_paths::drawCubeFastSse2(frame);
#endif
    else
        cube_paths::drawCubeFast(frame);
}

// Every sample coordinate lies in [-h, h] (lo is -h), so a rotated one is at
// most h times the sum of its matrix row's magnitudes: the projected corners
// of the cube. The sums of products round by far less than the one unit
// added; reduction by f truncates towards zero, so it cannot reach further.
// Around a sample's position the splat covers k + 1 pixels on each side
// (the 3 x 3 of k = 1 adds its offsets before the reduction: one pixel).
PixelBox cubePixelBox(const PixelSurface& target, float angleA, float angleB, float angleC) {
    PixelSurface unused = target;  // the frame only keeps where it would draw
    Frame frame = frameFromSettings(unused);
    buildMatrix(frame, angleA, angleB, angleC);
    const double h = static_cast<double>(std::max(std::abs(frame.half), std::abs(frame.low)));
    auto radius = [&](int r) {
        const double reach =
            h * (std::fabs(frame.m[r][0]) + std::fabs(frame.m[r][1]) + std::fabs(frame.m[r][2]));
        // Beyond any surface: a cube this large covers it whole.
        const double capped = std::min(std::floor(reach) + 1.0, 4.0e9);
        return static_cast<std::int64_t>(capped) / frame.reduce + frame.step + 1;
    };
    const std::int64_t rx = radius(0);
    const std::int64_t ry = radius(1);
    auto clip = [](std::int64_t value, std::int32_t limit) {
        return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, 0, limit));
    };
    PixelBox box{clip(frame.centerX - rx, target.width), clip(frame.centerY - ry, target.height),
                 clip(frame.centerX + rx + 1, target.width),
                 clip(frame.centerY + ry + 1, target.height)};
    if (frame.faceSize <= 0 || box.left >= box.right || box.top >= box.bottom)
        box = PixelBox{0, 0, 0, 0};
    return box;
}

void spreadSamples(std::int32_t n) { sampleSpread = n < 1 ? 1 : n; }

void plotSample(int side, PixelSurface& target, std::int32_t u, std::int32_t v, std::int32_t X,
                std::int32_t Y, std::int32_t Z) {
    if (side < 0 || side > 5 || target.pixels == nullptr) return;
    Frame frame = frameFromSettings(target);
    // The depth divisor belongs to renderCube's frame; a caller of plotSample
    // hands in its depth as it is.
    frame.depthDivisor = 1;
    const Side& record = sideTable[side];
    const std::int64_t y = static_cast<std::int64_t>(v) + frame.half;
    const std::int32_t checkedY = y < 0 || y > INT32_MAX ? -1 : static_cast<std::int32_t>(y);
    SidePaint paint{nullptr, 0, &record, checkedY};
    if (isColourSide(record))
        paint = {nullptr, cube_paths::packedToSurface(record.red, record.green, record.blue),
                 nullptr, 0};
    // Its direct writes (the centre and the 3x3 offsets) lie within two
    // cells of the sample; the next frame's clear must know of them.
    const std::int64_t width = depthBuffer.width;
    const std::int64_t col = frame.centerX + X / frame.reduce;
    const std::int64_t row = frame.centerY + Y / frame.reduce;
    noteDepthWrites(width * (row - 2) + col - 2, width * (row + 2) + col + 2);
    cube_paths::plotSample(frame, paint, static_cast<std::int64_t>(u) + frame.half, X, Y, Z);
}

// The 32-bit program's baseline processor lacks SSE2, so it asks once, at
// its start, before anything could run an SSE2 instruction. Wherever SSE2 is
// the build's baseline (or out of reach) there is one path.
RendererPath chooseRendererPath() {
#if defined(ROVANTA_RENDER_SSE2_PATH)
    activePath = plat::ProcessorHasSse2() ? RendererPath::Sse2 : RendererPath::Plain;
    return activePath;
#else
    return kOnlyPath;
#endif
}

bool useRendererPath(RendererPath path) {
#if defined(ROVANTA_RENDER_SSE2_PATH)
    if (path == RendererPath::Sse2 && !plat::ProcessorHasSse2()) return false;
    activePath = path;
    return true;
#else
    return path == kOnlyPath;
#endif
}

const char* rendererPathName(RendererPath path) {
    return path == RendererPath::Sse2 ? "sse2" : "plain";
}

// ---- The pieces both routes use --------------------------------------------------

namespace cube_paths {

SidePaint paintForRow(int sideNumber, std::int64_t half, std::int64_t v) {
    const Side& side = sideTable[sideNumber];
    if (isColourSide(side))
        return {nullptr, packedToSurface(side.red, side.green, side.blue), nullptr, 0};
    const std::int64_t y = v + half;
    const std::int32_t checkedY = y < 0 || y > INT32_MAX ? -1 : static_cast<std::int32_t>(y);
    if (side.pixels == nullptr || side.width < 2 * half || side.height < 2 * half || y < 0 ||
        y >= side.height)
        return {nullptr, 0, &side, checkedY};
    return {side.pixels + 3 * static_cast<std::int64_t>(side.width) * y, 0, nullptr, 0};
}

// The sample points of the six sides for the outer loop value q (rowValue):
// (p, q, h), (p, q, -h), (p, h, q), (p, -h, q), (lo, q, r), (-lo, q, r),
// the inner value p or r being the one left out.
RowGeometry geometryFor(const Frame& frame, int sideNumber, std::int64_t rowValue) {
    const double half = static_cast<double>(frame.half);
    const double low = static_cast<double>(frame.low);
    const double q = static_cast<double>(rowValue);
    RowGeometry g{};
    for (int r = 0; r < 3; ++r) {
        const double* m = frame.m[r];
        switch (sideNumber) {
            case 0: g.innerAxis = 0; g.fixedA[r] = m[1] * q; g.fixedB[r] = m[2] * half; break;
            case 1: g.innerAxis = 0; g.fixedA[r] = m[1] * q; g.fixedB[r] = m[2] * -half; break;
            case 2: g.innerAxis = 0; g.fixedA[r] = m[1] * half; g.fixedB[r] = m[2] * q; break;
            case 3: g.innerAxis = 0; g.fixedA[r] = m[1] * -half; g.fixedB[r] = m[2] * q; break;
            case 4: g.innerAxis = 2; g.fixedA[r] = m[0] * low + m[1] * q; break;
            default: g.innerAxis = 2; g.fixedA[r] = m[0] * -low + m[1] * q; break;
        }
    }
    return g;
}

namespace {

// rotateChunk's arithmetic, in a function of its own so that none of it can
// be moved across the precision setting around the call.
[[gnu::noinline]] void rotateChunkSums(const Frame& frame, const RowGeometry& g,
                                       std::int32_t first, std::int32_t step, std::int32_t n,
                                       std::int32_t* X, std::int32_t* Y, std::int32_t* Z) {
    const double m00 = frame.m[0][0], m10 = frame.m[1][0], m20 = frame.m[2][0];
    const double m02 = frame.m[0][2], m12 = frame.m[1][2], m22 = frame.m[2][2];
    if (g.innerAxis == 0) {
        const double a0 = g.fixedA[0], a1 = g.fixedA[1], a2 = g.fixedA[2];
        const double b0 = g.fixedB[0], b1 = g.fixedB[1], b2 = g.fixedB[2];
        for (std::int32_t t = 0; t < n; ++t) {
            const double inner = static_cast<double>(first + t * step);
            X[t] = truncateToInt32((m00 * inner + a0) + b0);
            Y[t] = truncateToInt32((m10 * inner + a1) + b1);
            Z[t] = truncateToInt32((m20 * inner + a2) + b2);
        }
    } else {
        const double a0 = g.fixedA[0], a1 = g.fixedA[1], a2 = g.fixedA[2];
        for (std::int32_t t = 0; t < n; ++t) {
            const double inner = static_cast<double>(first + t * step);
            X[t] = truncateToInt32(a0 + m02 * inner);
            Y[t] = truncateToInt32(a1 + m12 * inner);
            Z[t] = truncateToInt32(a2 + m22 * inner);
        }
    }
}

}  // namespace

void rotateChunk(const Frame& frame, const RowGeometry& g, std::int32_t first, std::int32_t step,
                 std::int32_t n, std::int32_t* X, std::int32_t* Y, std::int32_t* Z) {
#if defined(__i386__) && !defined(__SSE2_MATH__) && defined(__GNUC__)
    // The 32-bit program's x87 unit carries a 64-bit mantissa, and a sum
    // held that way can lie on the other side of a whole number than the
    // same sum rounded as a double, as the SSE2 path and the 64-bit program
    // take it: then a coordinate, and a pixel, differ. With the precision
    // control at a double's 53 bits every product and sum rounds as theirs
    // do (the unit's wider exponent does not matter at these magnitudes).
    // The rounding mode stays as it is; the setting is made once a chunk.
    std::uint16_t saved = 0;
    __asm__ volatile("fnstcw %0" : "=m"(saved) : : "memory");
    const auto asDouble = static_cast<std::uint16_t>((saved & ~0x0300u) | 0x0200u);
    __asm__ volatile("fldcw %0" : : "m"(asDouble) : "memory");
    rotateChunkSums(frame, g, first, step, n, X, Y, Z);
    __asm__ volatile("fldcw %0" : : "m"(saved) : "memory");
#else
    rotateChunkSums(frame, g, first, step, n, X, Y, Z);
#endif
}

}  // namespace cube_paths

// ---- The frame and the plain route -----------------------------------------------

namespace {

using cube_paths::kChunk;
using cube_paths::RowGeometry;

// Depths fit the 16-bit cells while faceSize stays below this (the cube's
// half space diagonal is then below 32767). Larger cubes get their depths
// divided down instead of wrapping round in the cells.
constexpr std::int64_t kDepthSafeFaceSize = 37800;
// Past the 16-bit range the depths are scaled into what an empty cell (-20000)
// lets through, so every sample of such a cube can still be drawn.
constexpr std::int64_t kScaledDepthLimit = 19999;

Frame frameFromSettings(PixelSurface& target) {
    Frame frame{};
    frame.target = &target;
    frame.faceSize = saverSettings.faceSize;
    frame.half = frame.faceSize / 2;
    frame.low = (-frame.faceSize) / 2;
    frame.splat = renderPointStep();
    // Both at most 10 where the spread is 1; a spread comes with a
    // reduction that keeps the cube's samples few.
    frame.step = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::int64_t{frame.splat} * sampleSpread, INT32_MAX / 2));
    frame.reduce = renderReduceFactor();
    frame.centerX = saverSettings.centerX;
    frame.centerY = saverSettings.centerY;
    frame.depthDivisor = 1;
    if (frame.faceSize >= kDepthSafeFaceSize) {
        // |Z| <= sqrt(3) * h because every row of the matrix is a unit vector.
        const double reach = std::ceil(std::sqrt(3.0) * static_cast<double>(frame.half)) + 1.0;
        frame.depthDivisor = static_cast<std::int32_t>(std::ceil(reach / kScaledDepthLimit));
    }
    return frame;
}

// M = Rz(c) * Ry(b) * Rx(a), in double precision.
void buildMatrix(Frame& frame, float angleA, float angleB, float angleC) {
    const double a = angleA;
    const double b = angleB;
    const double c = angleC;
    const double sa = std::sin(a), ca = std::cos(a);
    const double sb = std::sin(b), cb = std::cos(b);
    const double sc = std::sin(c), cc = std::cos(c);
    frame.m[0][0] = cb * cc;
    frame.m[0][1] = sa * sb * cc - ca * sc;
    frame.m[0][2] = sa * sc + ca * sb * cc;
    frame.m[1][0] = cb * sc;
    frame.m[1][1] = ca * cc + sa * sb * sc;
    frame.m[1][2] = ca * sb * sc - sa * cc;
    frame.m[2][0] = -sb;
    frame.m[2][1] = sa * cb;
    frame.m[2][2] = ca * cb;
}

// Where this frame's direct depth writes can land. Every rotated coordinate
// is at most sqrt(3) * h in magnitude (each row of the matrix is a unit
// vector), so samples, their 3x3 offsets and their splats up to the unrolled
// radius stay within this span of linear indices; larger squares go through
// markDepthSquare, which records its own writes. When that square around
// the centre lies inside the buffer, no linear index wraps into another row,
// so the square itself is all that needs clearing.
void noteFrameDepthSpan(const Frame& frame) {
    const std::int64_t reach =
        static_cast<std::int64_t>(std::ceil(std::sqrt(3.0) * static_cast<double>(frame.half))) + 3;
    const std::int64_t radius =
        reach / frame.reduce + std::min(frame.splat, cube_paths::kMaxUnrolledStep) + 2;
    const std::int64_t width = depthBuffer.width;
    const std::int64_t left = frame.centerX - radius, right = frame.centerX + radius;
    const std::int64_t top = frame.centerY - radius, bottom = frame.centerY + radius;
    if (left >= 0 && top >= 0 && right < width && bottom < depthBuffer.height)
        noteDepthBox(left, top, right, bottom);
    else
        noteDepthWrites(width * top + left, width * bottom + right);
}

// The fast paths address the depth buffer and the surface through one
// linear index and unroll the marking and fill of every step up to
// kMaxUnrolledStep; the samples near an edge they hand to plotSample. So
// they need a depth buffer the size of the surface whose depths go into the
// cells undivided, a step of at most kMaxUnrolledStep, and room for their
// unrolled form: at k = 1 f = 1 (only the undivided projection keeps the
// 3 x 3 block in one piece) and a buffer of at least 4 x 3 (the block's
// rows are raised four cells at a time); above it at least one whole splat,
// 2k + 2 by 2k + 3.
bool fastPathsFit(const Frame& frame) {
    const PixelSurface& target = *frame.target;
    if (depthBuffer.cells == nullptr || frame.depthDivisor != 1 ||
        depthBuffer.width != target.width || depthBuffer.height != target.height)
        return false;
    const std::int64_t width = depthBuffer.width;
    const std::int64_t height = depthBuffer.height;
    const std::int64_t k = frame.step;
    if (k != frame.splat || k > cube_paths::kMaxUnrolledStep) return false;
    if (k == 1) return frame.reduce == 1 && width >= 4 && height >= 3;
    return width >= 2 * k + 2 && height >= 2 * k + 3;
}

// Pairs of sides in order, rows of the outer loop value q upwards, and within
// a row each grid position's even side before its odd one: where depths tie
// the later sample wins, so this order is part of the frame.
void drawCubePlain(const Frame& frame) {
    struct Rotated {
        std::int32_t x[kChunk];
        std::int32_t y[kChunk];
        std::int32_t z[kChunk];
    };
    Rotated ra, rb;
    const std::int64_t step = frame.step;
    const std::int64_t span = frame.half - frame.low;
    if (span <= 0) return;
    const std::int64_t samplesPerRow = (span + step - 1) / step;
    for (int pair = 0; pair < 3; ++pair) {
        const int sideA = 2 * pair;
        const int sideB = 2 * pair + 1;
        const bool showA = sideShown(sideA) != 0;
        const bool showB = sideShown(sideB) != 0;
        if (!showA && !showB) continue;
        for (std::int64_t q = frame.low; q < frame.half; q += step) {
            const SidePaint paintA = showA ? cube_paths::paintForRow(sideA, frame.half, q)
                                           : SidePaint{};
            const SidePaint paintB = showB ? cube_paths::paintForRow(sideB, frame.half, q)
                                           : SidePaint{};
            const RowGeometry ga = cube_paths::geometryFor(frame, sideA, q);
            const RowGeometry gb = cube_paths::geometryFor(frame, sideB, q);
            for (std::int64_t j0 = 0; j0 < samplesPerRow; j0 += kChunk) {
                const auto m =
                    static_cast<std::int32_t>(std::min<std::int64_t>(kChunk, samplesPerRow - j0));
                // Inner loop values stay within [lo, h), so they fit 32 bits.
                const auto first = static_cast<std::int32_t>(frame.low + j0 * step);
                const auto stepInner =
                    static_cast<std::int32_t>(std::min<std::int64_t>(step, span));
                if (showA)
                    cube_paths::rotateChunk(frame, ga, first, stepInner, m, ra.x, ra.y, ra.z);
                if (showB)
                    cube_paths::rotateChunk(frame, gb, first, stepInner, m, rb.x, rb.y, rb.z);
                for (std::int32_t t = 0; t < m; ++t) {
                    const std::int64_t texX = (j0 + t) * step;  // inner value + h
                    if (showA)
                        cube_paths::plotSample(frame, paintA, texX, ra.x[t], ra.y[t], ra.z[t]);
                    if (showB)
                        cube_paths::plotSample(frame, paintB, texX, rb.x[t], rb.y[t], rb.z[t]);
                }
            }
        }
    }
}

}  // namespace
