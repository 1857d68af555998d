// Moving frame pixels (0x00RRGGBB) into an X image of whatever visual the
// target window has. The usual 24-bit TrueColor visual takes the frame as it
// is; other masks and 16-bit visuals go through one conversion per row.
#pragma once

#include <cstdint>

namespace desktop {

struct PixelFormat {
    std::uint32_t redMask;
    std::uint32_t greenMask;
    std::uint32_t blueMask;
    std::int32_t bitsPerPixel;  // 16 or 32; other layouts are not converted
    std::int32_t depth;
};

// The frame's own layout: no conversion needed.
bool isFrameLayout(const PixelFormat& format);
// Whether convertRow can produce this layout.
bool canConvert(const PixelFormat& format);
// `width` frame pixels into one image row in host byte order. Bits of a
// 32-bit visual's depth that no colour mask covers (alpha) are set, so a
// window of an ARGB visual shows the frame opaque.
void convertRow(const std::uint32_t* frame, std::int32_t width, const PixelFormat& format,
                std::uint8_t* row);

}  // namespace desktop
