#include "platform/desktop/pixel_format.h"

#include <bit>
#include <cstring>
#include <initializer_list>

namespace desktop {

namespace {

struct Channel {
    int shift;  // of the mask's lowest bit
    int bits;   // width of the mask
};

Channel channelOf(std::uint32_t mask) {
    if (mask == 0) return {0, 0};
    return {std::countr_zero(mask), std::popcount(mask)};
}

// An 8-bit value into `bits` bits at `shift`.
std::uint32_t place(std::uint32_t value8, Channel c) {
    if (c.bits == 0) return 0;
    const std::uint32_t v = c.bits >= 8 ? value8 << (c.bits - 8) : value8 >> (8 - c.bits);
    return v << c.shift;
}

}  // namespace

bool isFrameLayout(const PixelFormat& f) {
    return f.bitsPerPixel == 32 && f.redMask == 0xFF0000u && f.greenMask == 0xFF00u &&
           f.blueMask == 0xFFu && f.depth == 24;
}

bool canConvert(const PixelFormat& f) {
    if (f.bitsPerPixel != 16 && f.bitsPerPixel != 32) return false;
    const std::uint32_t all = f.redMask | f.greenMask | f.blueMask;
    if (f.redMask == 0 || f.greenMask == 0 || f.blueMask == 0) return false;
    // Masks must be contiguous runs and must not overlap.
    for (std::uint32_t m : {f.redMask, f.greenMask, f.blueMask}) {
        const std::uint32_t low = m >> std::countr_zero(m);
        if ((low & (low + 1)) != 0) return false;
    }
    if (std::popcount(all) !=
        std::popcount(f.redMask) + std::popcount(f.greenMask) + std::popcount(f.blueMask))
        return false;
    return f.bitsPerPixel == 32 || (all >> 16) == 0;
}

void convertRow(const std::uint32_t* frame, std::int32_t width, const PixelFormat& f,
                std::uint8_t* row) {
    const Channel r = channelOf(f.redMask);
    const Channel g = channelOf(f.greenMask);
    const Channel b = channelOf(f.blueMask);
    std::uint32_t extra = 0;
    if (f.bitsPerPixel == 32 && f.depth == 32)
        extra = ~(f.redMask | f.greenMask | f.blueMask);
    for (std::int32_t x = 0; x < width; ++x) {
        const std::uint32_t p = frame[x];
        const std::uint32_t v = place((p >> 16) & 0xFFu, r) | place((p >> 8) & 0xFFu, g) |
                                place(p & 0xFFu, b) | extra;
        if (f.bitsPerPixel == 32) {
            std::memcpy(row + 4 * x, &v, 4);
        } else {
            const auto v16 = static_cast<std::uint16_t>(v);
            std::memcpy(row + 2 * x, &v16, 2);
        }
    }
}

}  // namespace desktop
