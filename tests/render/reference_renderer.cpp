#include "reference_renderer.h"

#include <cmath>

#include "render/side_table.h"
#include "settings/settings.h"

namespace {

struct Context {
    PixelSurface* target;
    ReferenceDepth* depth;
    std::int64_t k;
    std::int64_t f;
    std::int64_t h;
    std::int64_t centerX;
    std::int64_t centerY;
    double m[3][3];
};

int testAndMark(Context& cx, std::int64_t col, std::int64_t row, std::int32_t depth) {
    ReferenceDepth& d = *cx.depth;
    if (!d.present) return 1;
    const std::int64_t index = static_cast<std::int64_t>(d.width) * row + col;
    if (index < 0 || index >= d.cellCount) return 0;
    if (d.cells[index] > depth) return 0;
    if (cx.k == 1) {
        d.cells[index] = static_cast<std::int16_t>(depth);
        return 1;
    }
    for (std::int64_t dc = -cx.k; dc <= cx.k; ++dc)
        for (std::int64_t dr = -cx.k; dr <= cx.k; ++dr) {
            const std::int64_t idx = static_cast<std::int64_t>(d.width) * (row + dr) + (col + dc);
            if (idx >= 0 && idx < d.cellCount && d.cells[idx] < depth)
                d.cells[idx] = static_cast<std::int16_t>(depth);
        }
    return 1;
}

void raise(Context& cx, std::int64_t col, std::int64_t row, std::int32_t depth) {
    ReferenceDepth& d = *cx.depth;
    if (!d.present) return;
    const std::int64_t index = static_cast<std::int64_t>(d.width) * row + col;
    if (index >= 0 && index < d.cellCount && d.cells[index] <= depth)
        d.cells[index] = static_cast<std::int16_t>(depth);
}

void plot(Context& cx, int side, std::int64_t u, std::int64_t v, std::int32_t X, std::int32_t Y,
          std::int32_t Z) {
    const std::int64_t col = cx.centerX + X / cx.f;
    const std::int64_t row = cx.centerY + Y / cx.f;
    if (!testAndMark(cx, col, row, Z)) return;
    const Texel t = sideTexel(sideTable[side], static_cast<std::int32_t>(u + cx.h),
                              static_cast<std::int32_t>(v + cx.h));
    const std::uint32_t colour = (static_cast<std::uint32_t>(t.red) & 0xFF) |
                                 ((static_cast<std::uint32_t>(t.green) & 0xFF) << 8) |
                                 ((static_cast<std::uint32_t>(t.blue) & 0xFF) << 16);
    const std::uint32_t pixel = surfacePixelFromColour(colour);
    if (cx.k == 1) {
        for (std::int64_t i = -1; i <= 1; ++i)
            for (std::int64_t j = -1; j <= 1; ++j) {
                const std::int64_t c2 = cx.centerX + (X + i) / cx.f;
                const std::int64_t r2 = cx.centerY + (Y + j) / cx.f;
                raise(cx, c2, r2, Z);
                if (c2 >= INT32_MIN && c2 <= INT32_MAX && r2 >= INT32_MIN && r2 <= INT32_MAX)
                    setSurfacePixel(*cx.target, static_cast<std::int32_t>(c2),
                                    static_cast<std::int32_t>(r2), pixel);
            }
        return;
    }
    for (std::int64_t y = row - cx.k - 1; y <= row + cx.k + 1; ++y)
        fillSurfaceRun(*cx.target, col - cx.k - 1, col + cx.k + 1, y, pixel);
}

void rotateAndPlot(Context& cx, int side, std::int64_t u, std::int64_t v, std::int64_t x,
                   std::int64_t y, std::int64_t z) {
    const double dx = static_cast<double>(x), dy = static_cast<double>(y),
                 dz = static_cast<double>(z);
    const auto X = static_cast<std::int32_t>(cx.m[0][0] * dx + cx.m[0][1] * dy + cx.m[0][2] * dz);
    const auto Y = static_cast<std::int32_t>(cx.m[1][0] * dx + cx.m[1][1] * dy + cx.m[1][2] * dz);
    const auto Z = static_cast<std::int32_t>(cx.m[2][0] * dx + cx.m[2][1] * dy + cx.m[2][2] * dz);
    plot(cx, side, u, v, X, Y, Z);
}

}  // namespace

void referenceCreateDepth(ReferenceDepth& depth, std::int32_t width, std::int32_t height) {
    depth.width = static_cast<std::int16_t>(width);
    depth.height = static_cast<std::int16_t>(height);
    depth.cellCount = width * height;
    depth.cells.assign(static_cast<std::size_t>(depth.cellCount), -20000);
}

void referenceRenderCube(PixelSurface& target, ReferenceDepth& depth, float angleA, float angleB,
                         float angleC) {
    for (auto& c : depth.cells) c = -20000;
    Context cx{};
    cx.target = &target;
    cx.depth = &depth;
    const std::int64_t S = saverSettings.faceSize;
    cx.k = renderPointStep();
    cx.f = renderReduceFactor();
    cx.h = S / 2;
    const std::int64_t lo = (-S) / 2;
    const std::int64_t h = cx.h;
    cx.centerX = saverSettings.centerX;
    cx.centerY = saverSettings.centerY;
    const double a = angleA, b = angleB, c = angleC;
    cx.m[0][0] = std::cos(b) * std::cos(c);
    cx.m[0][1] = std::sin(a) * std::sin(b) * std::cos(c) - std::cos(a) * std::sin(c);
    cx.m[0][2] = std::sin(a) * std::sin(c) + std::cos(a) * std::sin(b) * std::cos(c);
    cx.m[1][0] = std::cos(b) * std::sin(c);
    cx.m[1][1] = std::cos(a) * std::cos(c) + std::sin(a) * std::sin(b) * std::sin(c);
    cx.m[1][2] = std::cos(a) * std::sin(b) * std::sin(c) - std::sin(a) * std::cos(c);
    cx.m[2][0] = -std::sin(b);
    cx.m[2][1] = std::sin(a) * std::cos(b);
    cx.m[2][2] = std::cos(a) * std::cos(b);

    if (sideShown(0) || sideShown(1))
        for (std::int64_t q = lo; q < h; q += cx.k)
            for (std::int64_t p = lo; p < h; p += cx.k) {
                if (sideShown(0)) rotateAndPlot(cx, 0, p, q, p, q, h);
                if (sideShown(1)) rotateAndPlot(cx, 1, p, q, p, q, -h);
            }
    if (sideShown(2) || sideShown(3))
        for (std::int64_t q = lo; q < h; q += cx.k)
            for (std::int64_t p = lo; p < h; p += cx.k) {
                if (sideShown(2)) rotateAndPlot(cx, 2, p, q, p, h, q);
                if (sideShown(3)) rotateAndPlot(cx, 3, p, q, p, -h, q);
            }
    if (sideShown(4) || sideShown(5))
        for (std::int64_t q = lo; q < h; q += cx.k)
            for (std::int64_t r = lo; r < h; r += cx.k) {
                if (sideShown(4)) rotateAndPlot(cx, 4, r, q, lo, q, r);
                if (sideShown(5)) rotateAndPlot(cx, 5, r, q, -lo, q, r);
            }
}
