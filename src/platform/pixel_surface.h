// A 32-bit pixel surface in memory: 0x00RRGGBB per pixel, rows of `stride`
// pixels, top row first. This is the layout of a 32-bit DIB section and of
// cairo's RGB24, so the renderer writes straight into what the screen shows.
#pragma once

#include <cstdint>

struct PixelSurface {
    std::uint32_t* pixels;
    std::int32_t width;
    std::int32_t height;
    std::int32_t stride;  // in pixels
};

// The saver packs colours as red | green << 8 | blue << 16; the surface wants
// 0x00RRGGBB.
constexpr std::uint32_t surfacePixelFromColour(std::uint32_t colour) {
    return ((colour & 0xFFu) << 16) | (colour & 0xFF00u) | ((colour >> 16) & 0xFFu);
}

inline void setSurfacePixel(PixelSurface& s, std::int32_t x, std::int32_t y, std::uint32_t pixel) {
    if (static_cast<std::uint32_t>(x) < static_cast<std::uint32_t>(s.width) &&
        static_cast<std::uint32_t>(y) < static_cast<std::uint32_t>(s.height))
        s.pixels[static_cast<std::int64_t>(y) * s.stride + x] = pixel;
}

// Fills columns x0 .. x1 - 1 of row y (the end point is left out), clipped.
inline void fillSurfaceRun(PixelSurface& s, std::int64_t x0, std::int64_t x1, std::int64_t y,
                           std::uint32_t pixel) {
    if (y < 0 || y >= s.height) return;
    if (x0 < 0) x0 = 0;
    if (x1 > s.width) x1 = s.width;
    std::uint32_t* row = s.pixels + y * s.stride;
    for (std::int64_t x = x0; x < x1; ++x) row[x] = pixel;
}
