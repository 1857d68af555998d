// One frame of the cube, and the route it takes down to the pixel.
//
// renderCube
//   frameFromSettings   the frame's constants: S, h, lo, the step k, the
//                       factor f, the centre, a depth divisor for cubes too
//                       large for 16-bit depths
//   buildMatrix         the rotation matrix M from the three angles
//   drawCubeFast        (cube_renderer_fast.cpp) takes the frame when the
//                       depth buffer exists and matches the surface, the
//                       depths need no divisor, k is at most 10, and at k = 1
//                       f is 1 and the surface at least 4 x 3. The default
//                       settings (k = 2, f = 1) come this way:
//                         k = 1   rotate a chunk of a row at once, then a
//                                 3 x 3 depth raise and splat per sample
//                         k >= 2  rotate a chunk, then plotStepK: an unrolled
//                                 (2k+1)^2 marking and (2k+3) runs of 2k+2
//                       samples near an edge go to plotGeneric. In the
//                       32-bit program it is drawCubeFastSse2, the same file
//                       built for SSE2, once chooseRendererPath has found
//                       SSE2 at the program's start.
//   drawCubePlain       every other frame: pairs of sides, rows, a chunk of a
//                       row rotated (rotateChunk), each sample to plotGeneric
//     plotGeneric       (cube_renderer_paths.h, so that both routes inline
//                       it) the literal reading of plotSample: the screen
//                       position, the depth test and marking (markDepthSquare
//                       for k > 1), the colour (paintPixel: a texel row, a
//                       colour, or sideTexel), then the nine pixels (k = 1) or
//                       the runs of fillSurfaceRun (k > 1)
//
// Every route draws the same frame pixel for pixel as the plain per-sample
// reading: the same sums of the same products in the same order
// (-ffp-contract=off keeps them apart), and the same order of samples.
#include "render/cube_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#if defined(ROVANTA_RENDER_SSE2_PATH)
#include <cpuid.h>
#endif

#include "platform/platform.h"
#include "render/cube_renderer_paths.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"
#include "settings/settings.h"

using cube_paths::Frame;
using cube_paths::SidePaint;

namespace {

#if defined(ROVANTA_RENDER_SSE2_PATH)
RendererPath activePath = RendererPath::Plain;
#elif defined(__SSE2__)
constexpr RendererPath kOnlyPath = RendererPath::Sse2;
#else
constexpr RendererPath kOnlyPath = RendererPath::Plain;
#endif

#if defined(ROVANTA_RENDER_SSE2_PATH)
// The processor must have SSE2 (CPUID leaf 1, EDX bit 26) and the system must
// save the XMM registers on a task switch, which only it can say: Windows 95
// cannot, and has no IsProcessorFeaturePresent to ask (feature 10: SSE2).
bool sse2Usable() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (edx & bit_SSE2) == 0) return false;
    const plat::Module kernel = plat::LoadLibraryA("KERNEL32.DLL");
    if (kernel == 0) return false;
    using FeatureQuery = int(__stdcall*)(unsigned);
    const auto present = reinterpret_cast<FeatureQuery>(
        reinterpret_cast<void (*)()>(plat::GetProcAddress(kernel, "IsProcessorFeaturePresent")));
    return present != nullptr && present(10) != 0;
}
#endif

Frame frameFromSettings(PixelSurface& target);
void buildMatrix(Frame& frame, float angleA, float angleB, float angleC);
void noteFrameDepthSpan(const Frame& frame);
void drawCubePlain(const Frame& frame);

}  // namespace

RendererPath chooseRendererPath() {
#if defined(ROVANTA_RENDER_SSE2_PATH)
    activePath = sse2Usable() ? RendererPath::Sse2 : RendererPath::Plain;
    return activePath;
#else
    return kOnlyPath;
#endif
}

bool useRendererPath(RendererPath path) {
#if defined(ROVANTA_RENDER_SSE2_PATH)
    if (path == RendererPath::Sse2 && !sse2Usable()) return false;
    activePath = path;
    return true;
#else
    return path == kOnlyPath;
#endif
}

const char* rendererPathName(RendererPath path) {
    return path == RendererPath::Sse2 ? "sse2" : "plain";
}

void renderCube(PixelSurface& target, float angleA, float angleB, float angleC) {
    Frame frame = frameFromSettings(target);
    clearTouchedDepthCells();
    noteFrameDepthSpan(frame);
    if (target.pixels == nullptr) return;
    buildMatrix(frame, angleA, angleB, angleC);
#if defined(ROVANTA_RENDER_SSE2_PATH)
    const bool drawn = activePath == RendererPath::Sse2 ? cube_paths::drawCubeFastSse2(frame)
                                                         : cube_paths::drawCubeFast(frame);
#else
    const bool drawn = cube_paths::drawCubeFast(frame);
#endif
    if (!drawn) drawCubePlain(frame);
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
    cube_paths::plotGeneric(frame, paint, static_cast<std::int64_t>(u) + frame.half, X, Y, Z);
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

void rotateChunk(const Frame& frame, const RowGeometry& g, std::int32_t first, std::int32_t step,
                 std::int32_t n, std::int32_t* X, std::int32_t* Y, std::int32_t* Z) {
    const double m00 = frame.m[0][0], m10 = frame.m[1][0], m20 = frame.m[2][0];
    const double m02 = frame.m[0][2], m12 = frame.m[1][2], m22 = frame.m[2][2];
    if (g.innerAxis == 0) {
        const double a0 = g.fixedA[0], a1 = g.fixedA[1], a2 = g.fixedA[2];
        const double b0 = g.fixedB[0], b1 = g.fixedB[1], b2 = g.fixedB[2];
        for (std::int32_t t = 0; t < n; ++t) {
            const double inner = static_cast<double>(first + t * step);
            X[t] = static_cast<std::int32_t>((m00 * inner + a0) + b0);
            Y[t] = static_cast<std::int32_t>((m10 * inner + a1) + b1);
            Z[t] = static_cast<std::int32_t>((m20 * inner + a2) + b2);
        }
    } else {
        const double a0 = g.fixedA[0], a1 = g.fixedA[1], a2 = g.fixedA[2];
        for (std::int32_t t = 0; t < n; ++t) {
            const double inner = static_cast<double>(first + t * step);
            X[t] = static_cast<std::int32_t>(a0 + m02 * inner);
            Y[t] = static_cast<std::int32_t>(a1 + m12 * inner);
            Z[t] = static_cast<std::int32_t>(a2 + m22 * inner);
        }
    }
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
    frame.step = renderPointStep();
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
        reach / frame.reduce + std::min(frame.step, cube_paths::kMaxUnrolledStep) + 2;
    const std::int64_t width = depthBuffer.width;
    const std::int64_t left = frame.centerX - radius, right = frame.centerX + radius;
    const std::int64_t top = frame.centerY - radius, bottom = frame.centerY + radius;
    if (left >= 0 && top >= 0 && right < width && bottom < depthBuffer.height)
        noteDepthBox(left, top, right, bottom);
    else
        noteDepthWrites(width * top + left, width * bottom + right);
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
                        cube_paths::plotGeneric(frame, paintA, texX, ra.x[t], ra.y[t], ra.z[t]);
                    if (showB)
                        cube_paths::plotGeneric(frame, paintB, texX, rb.x[t], rb.y[t], rb.z[t]);
                }
            }
        }
    }
}

}  // namespace
