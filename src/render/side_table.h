// The six sides of the cube and their picture buffers.
//
//   Side / sideTable   what each side shows: picture, solid colour or nothing
//   Texel              one texture position's colour
//   kMaxSideBytes, kMaxAllSidesBytes  what one picture, and all six, may take
//   allocSidePixels    get a width x height RGB buffer for a side
//   appendSideRow      copy the next decoded row in
//   freeSidePixels     release every picture buffer
//   sideTexel          colour of one texture position
//   sideShown          whether the side is drawn at all
//   sideBytesAvailable what the six sides' pictures may still take together
//   reportTooLargeSide the "too large" line on the standard output
//   isColourSide, isPictureSide  what kind of side a record holds
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

// One picture may hold at most 512 MiB (a 13000 x 13000 picture), all six
// sides' pictures together 1 GiB: six large camera pictures fit, and a set of
// files that merely claim huge sizes cannot make the saver commit gigabytes.
// The sides that come first get their share first; the one that would pass
// the total is refused as too large. Where the process's address space is
// limited (plat::AddressSpaceLeft), the total is what is left of it after the
// room the boxes and the dialog need, when that is less.
inline constexpr std::uint64_t kMaxSideBytes = std::uint64_t{1} << 29;
inline constexpr std::uint64_t kMaxAllSidesBytes = std::uint64_t{1} << 30;

void allocSidePixels(Side& side, std::int32_t width, std::int32_t height);
void appendSideRow(Side& side, const std::uint8_t* row, std::size_t byteCount);
void freeSidePixels();
Texel sideTexel(const Side& side, std::int32_t x, std::int32_t y);
int sideShown(int side);
// The total less every buffer the side table holds now; a decoder filling one
// of them may use this much for its own work.
std::uint64_t sideBytesAvailable();
// "Image of size %d by %d is too large." on the standard output, which a
// windowed process does not show.
void reportTooLargeSide(std::int32_t width, std::int32_t height);
// Set by a caller that says itself why a side failed, in one line of its
// own: the "too large" line and the decoder's messages are then not printed.
inline bool quietSideReports = false;

inline bool isColourSide(const Side& s) { return s.width == -1 && s.height == -1; }
inline bool isPictureSide(const Side& s) { return !isColourSide(s) && s.isEmpty == 0; }
