// What renderCube's route (cube_renderer.cpp) and its fast paths
// (cube_renderer_fast.cpp) share. Internal to the renderer.
//
//   kMaxUnrolledStep, kChunk   the fast paths' largest step, samples rotated
//                  at a time
//   Frame          one frame's constants, taken from the settings
//   SidePaint      what one side paints with along one row; packedToSurface,
//                  paintPixel (checkedPaintPixel off the picture), paintForRow
//   RowGeometry    one side's rotation along a row; geometryFor, rotateChunk
//   plotSample     one rotated sample projected, tested and drawn, at any
//                  step and factor: the public plotSample on a frame
//   drawCubeFast   the fast paths, for the frames fastPathsFit accepts
//   drawCubeFastSse2  the same built for SSE2, in the 32-bit program
//
// The functions defined here are static: each file keeps its own copy, so
// the SSE2 build of the fast paths in the 32-bit program never lends one to
// the files that run before SSE2 is known to be there.
#pragma once

#include <cstdint>

#include <algorithm>

#include "platform/pixel_surface.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"

namespace cube_paths {

// Splats up to this step get an unrolled marking and fill.
inline constexpr std::int32_t kMaxUnrolledStep = 10;
// Samples of one row rotated at a time.
inline constexpr std::int32_t kChunk = 256;

struct Frame {
    PixelSurface* target;
    std::int64_t faceSize;  // S, the cube's edge in sample units
    std::int64_t half;      // h = S / 2: the sides lie at +h and -h
    std::int64_t low;       // lo = (-S) / 2: the first loop value
    std::int32_t step;      // the sampling stride: k, or k times the spread
    std::int32_t splat;     // k, the splat's radius in pixels
    std::int32_t reduce;    // f, the divisor of the projected coordinates
    std::int64_t centerX;
    std::int64_t centerY;
    // Divides the depths of a cube too large for the 16-bit cells; 1 otherwise.
    std::int32_t depthDivisor;
    double m[3][3];  // the rotation matrix M
};

// What one side paints with in the current row: a row of texels for a
// picture, a fixed pixel for a colour side, or, for a picture that cannot
// cover the sampled square (only when faceSize did not come from the loader),
// the checked texel lookup, which answers black outside the picture.
struct SidePaint {
    const std::uint8_t* textureRow;
    std::uint32_t pixel;
    const Side* checked;
    std::int32_t y;
};

static inline std::uint32_t packedToSurface(std::int32_t red, std::int32_t green,
                                             std::int32_t blue) {
    const std::uint32_t colour = (static_cast<std::uint32_t>(red) & 0xFFu) |
                                 ((static_cast<std::uint32_t>(green) & 0xFFu) << 8) |
                                 ((static_cast<std::uint32_t>(blue) & 0xFFu) << 16);
    return surfacePixelFromColour(colour);
}

// The texel lookup of a paint with no full row to read, kept out of the
// per-sample paths it would otherwise crowd out of inlining.
[[gnu::noinline]] static std::uint32_t checkedPaintPixel(const SidePaint& paint, std::int64_t x) {
    const std::int32_t checkedX = x < 0 || x > INT32_MAX ? -1 : static_cast<std::int32_t>(x);
    const Texel texel = sideTexel(*paint.checked, checkedX, paint.y);
    return packedToSurface(texel.red, texel.green, texel.blue);
}

// The pixel of texture column x in the paint's row.
static inline std::uint32_t paintPixel(const SidePaint& paint, std::int64_t x) {
    if (paint.textureRow != nullptr) {
        const std::uint8_t* texel = paint.textureRow + 3 * x;
        return packedToSurface(texel[0], texel[1], texel[2]);
    }
    if (paint.checked != nullptr) return checkedPaintPixel(paint, x);
    return paint.pixel;
}

// The paint of one side for the row of loop value v.
SidePaint paintForRow(int sideNumber, std::int64_t half, std::int64_t v);

// Rotation of one side's samples along a row: the products of the fixed
// coordinates are taken once, the sum keeps its left-to-right order.
struct RowGeometry {
    int innerAxis;     // 0: the inner loop value is x, 2: it is z
    double fixedA[3];  // innerAxis 0: M[r][1]*y ; innerAxis 2: M[r][0]*x + M[r][1]*y
    double fixedB[3];  // innerAxis 0: M[r][2]*z
};

RowGeometry geometryFor(const Frame& frame, int sideNumber, std::int64_t rowValue);

// Rotates n samples of a row, inner values first, first + step, ...,
// into X, Y and Z, one sample at a time.
void rotateChunk(const Frame& frame, const RowGeometry& geometry, std::int32_t first,
                 std::int32_t step, std::int32_t n, std::int32_t* X, std::int32_t* Y,
                 std::int32_t* Z);

// Projects, tests and draws one rotated sample with the texture column texX
// of the paint's row. Defined here so that both routes inline it; the fast
// paths send it the samples near an edge of the buffers.
static inline void plotSample(const Frame& frame, const SidePaint& paint, std::int64_t texX,
                              std::int32_t X, std::int32_t Y, std::int32_t rawZ) {
    const std::int32_t Z = rawZ / frame.depthDivisor;
    const std::int64_t factor = frame.reduce;
    const std::int32_t step = frame.splat;
    // Samples beside the screen come here by the thousand; a division by one
    // is not worth a hardware divide.
    auto reduce = [factor](std::int64_t value) { return factor == 1 ? value : value / factor; };
    const std::int64_t col = frame.centerX + reduce(X);
    const std::int64_t row = frame.centerY + reduce(Y);
    const DepthBuffer buffer = depthBuffer;
    if (!depthTestAndMark(buffer, col, row, Z, step)) return;
    const std::uint32_t pixel = paintPixel(paint, texX);
    PixelSurface& s = *frame.target;
    if (step == 1) {
        // The offsets are added before the division, so at f > 1 the nine
        // land on two columns and rows, or one where X or Y is 0.
        for (std::int64_t i = -1; i <= 1; ++i) {
            const std::int64_t offsetCol = frame.centerX + reduce(X + i);
            for (std::int64_t j = -1; j <= 1; ++j) {
                const std::int64_t offsetRow = frame.centerY + reduce(Y + j);
                depthRaise(buffer, offsetCol, offsetRow, Z);
                if (offsetCol >= 0 && offsetCol < s.width && offsetRow >= 0 && offsetRow < s.height)
                    s.pixels[offsetRow * s.stride + offsetCol] = pixel;
            }
        }
        return;
    }
    // 2k + 3 runs of 2k + 2 pixels: one more row than the marked square below
    // it, one more column on its right.
    const std::int64_t top = std::max<std::int64_t>(row - step - 1, 0);
    const std::int64_t bottom = std::min<std::int64_t>(row + step + 1, s.height - 1);
    for (std::int64_t y = top; y <= bottom; ++y)
        fillSurfaceRun(s, col - step - 1, col + step + 1, y, pixel);
}

// Draw the whole frame; only for a frame fastPathsFit accepts.
void drawCubeFast(const Frame& frame);
#if defined(ROVANTA_RENDER_SSE2_PATH)
// The same source built for SSE2 on a processor whose baseline lacks it;
// only once the processor and the system have said they can run it.
void drawCubeFastSse2(const Frame& frame);
#endif

}  // namespace cube_paths
