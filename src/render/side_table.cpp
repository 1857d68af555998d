// The six sides and their picture buffers.
//
// Buffers start zeroed, so the pad columns beyond a picture's real width, and
// any row a failed decode never reached, read as black rather than as
// whatever the heap held.
#include "render/side_table.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

Side sideTable[6]{};

namespace {

// The size of the buffer each side of the table holds, for the total; what
// the record's width and height say no longer tells once a side has turned
// to a colour.
std::uint64_t bufferBytes[6]{};

int tableIndex(const Side& side) {
    for (int i = 0; i < 6; ++i)
        if (&side == &sideTable[i]) return i;
    return -1;  // a record of the caller's own: no share of the total
}

std::uint64_t bytesHeldExcept(int except) {
    std::uint64_t held = 0;
    for (int i = 0; i < 6; ++i)
        if (i != except && sideTable[i].pixels != nullptr) held += bufferBytes[i];
    return held;
}

// What all six may hold together: the fixed total, or less where the process
// has a smaller address space left (a limit set on it), so that the boxes
// and the dialog still find theirs. Buffers already held count as held.
std::uint64_t allSidesLimit(int except) {
    const std::uint64_t held = bytesHeldExcept(except);
    const std::uint64_t left = plat::AddressSpaceLeft();
    if (left >= kMaxAllSidesBytes || held + left >= kMaxAllSidesBytes) return kMaxAllSidesBytes;
    return held + left;
}

}  // namespace

void reportTooLargeSide(std::int32_t width, std::int32_t height) {
    if (quietSideReports) return;
    plat::WriteDiagnostic(plat::DiagnosticStream::Output, "Image of size %d by %d is too large.\n",
                          static_cast<int>(width), static_cast<int>(height));
}

std::uint64_t sideBytesAvailable() {
    const std::uint64_t held = bytesHeldExcept(-1);
    const std::uint64_t limit = allSidesLimit(-1);
    return held < limit ? limit - held : 0;
}

void allocSidePixels(Side& side, std::int32_t width, std::int32_t height) {
    // A buffer still held from an earlier load of this side would otherwise
    // be lost when the pointer is replaced.
    const int index = tableIndex(side);
    std::free(side.pixels);
    side.pixels = nullptr;

    // Larger pictures are refused before any allocation is tried: a 32-bit
    // process could not hold them, and a file that merely claims such a size
    // must not make us commit the memory.
    std::uint8_t* pixels = nullptr;
    std::uint64_t bytes = 0;
    if (width > 0 && height > 0) {
        bytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * 3u;
        const bool fits = bytes <= kMaxSideBytes &&
                          (index < 0 || bytesHeldExcept(index) + bytes <= allSidesLimit(index));
        if (fits) pixels = static_cast<std::uint8_t*>(std::calloc(static_cast<std::size_t>(bytes), 1));
    }
    if (pixels == nullptr) {
        reportTooLargeSide(width, height);
        return;
    }
    if (index >= 0) bufferBytes[index] = bytes;
    side.pixels = pixels;
    side.rowsFilled = 0;
    side.width = width;
    side.height = height;
}

void appendSideRow(Side& side, const std::uint8_t* row, std::size_t byteCount) {
    if (side.pixels == nullptr || row == nullptr || side.width <= 0 ||
        side.rowsFilled < 0 || side.rowsFilled >= side.height)
        return;
    // Never more than one row, whatever the caller asks for.
    const std::size_t rowBytes = static_cast<std::size_t>(side.width) * 3u;
    const std::size_t n = byteCount < rowBytes ? byteCount : rowBytes;
    std::memcpy(side.pixels + static_cast<std::size_t>(side.rowsFilled) * rowBytes, row, n);
    ++side.rowsFilled;
}

void freeSidePixels() {
    // Every held buffer goes, whatever the side shows now: a side that turned
    // from picture to colour or empty still holds its old one. No query reads
    // pixels of a colour or empty side, so nothing they answer changes.
    for (Side& side : sideTable) {
        std::free(side.pixels);
        side.pixels = nullptr;
    }
}

Texel sideTexel(const Side& side, std::int32_t x, std::int32_t y) {
    if (isColourSide(side)) return Texel{side.red, side.green, side.blue};
    // Callers stay inside the picture; a missing buffer or a stray position
    // still must not read outside it.
    if (side.pixels == nullptr || side.width <= 0 || side.height <= 0 ||
        static_cast<std::uint32_t>(x) >= static_cast<std::uint32_t>(side.width) ||
        static_cast<std::uint32_t>(y) >= static_cast<std::uint32_t>(side.height))
        return Texel{0, 0, 0};
    const std::uint8_t* p =
        side.pixels + (static_cast<std::size_t>(y) * static_cast<std::size_t>(side.width) +
                       static_cast<std::size_t>(x)) * 3u;
    return Texel{p[0], p[1], p[2]};
}

int sideShown(int side) {
    if (side < 0 || side >= 6) return 0;
    return sideTable[side].isEmpty == 0 ? 1 : 0;
}
