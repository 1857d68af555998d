// The six sides of the cube and their picture buffers.
//
//   Side / sideTable   what each side shows: picture, solid colour or nothing
//   allocSidePixels    get a width x height RGB buffer for a side
//   appendSideRow      copy the next decoded row in
//   freeSidePixels     release every picture buffer
//   sideTexel          colour of one texture position
//   sideShown          whether the side is drawn at all
#pragma once

#include <cstddef>
#include <cstdint>

struct Side {
    std::uint8_t* pixels;      // height rows of 3 * width bytes, R G B
    std::int32_t rowsFilled;
    std::int32_t width;        // padded to a multiple of 4; -1 for a colour side
    std::int32_t height;       // -1 for a colour side
    std::int32_t red;
    std::int32_t green;
    std::int32_t blue;
    std::int32_t isEmpty;
};

struct Texel {
    std::int32_t red;
    std::int32_t green;
    std::int32_t blue;
};

extern Side sideTable[6];

void allocSidePixels(Side& side, std::int32_t width, std::int32_t height);
void appendSideRow(Side& side, const std::uint8_t* row, std::size_t byteCount);
void freeSidePixels();
Texel sideTexel(const Side& side, std::int32_t x, std::int32_t y);
int sideShown(int side);

inline bool isColourSide(const Side& s) { return s.width == -1 && s.height == -1; }
inline bool isPictureSide(const Side& s) { return !isColourSide(s) && s.isEmpty == 0; }
