#include "render/depth_buffer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/platform.h"
#include "settings/settings.h"

DepthBuffer depthBuffer;

namespace {

// Width and height are 16-bit in the record; anything outside that, or an
// area whose cell count would not fit 32 bits, gets no memory at all rather
// than a buffer whose recorded size lies about what was allocated.
constexpr std::int32_t kMaxSide = 32767;

// The linear indices that may hold something other than empty: every write
// through the operations here widens it, and the renderer notes where its
// own direct writes can land. A frame then clears only that span, which for
// a small cube on a large screen is a small part of the buffer.
std::int64_t touchedFirst = INT64_MAX;
std::int64_t touchedLast = -1;
// A box of whole cells written directly, for a cube that lies inside the
// buffer: its rows' runs are a small part of the span from its first cell
// to its last. Empty while boxRight < boxLeft.
std::int64_t boxLeft = 0, boxTop = 0, boxRight = -1, boxBottom = -1;

// Nothing touched; the first span written then wins both comparisons.
void forgetTouched() {
    touchedFirst = INT64_MAX;
    touchedLast = -1;
    boxRight = -1;
}

void fillEmpty(std::int64_t first, std::int64_t last) {
    constexpr std::uint16_t kEmptyBits = static_cast<std::uint16_t>(kEmptyDepth);
    constexpr std::uint64_t kEmptyPattern = 0x0001000100010001ull * kEmptyBits;
    std::int16_t* c = depthBuffer.cells + first;
    const auto count = static_cast<std::size_t>(last - first + 1);
    // Whole 64-bit words, so the clear runs at memory speed whatever the
    // optimiser makes of a 16-bit fill.
    const std::size_t words = count / 4;
    auto* bytes = reinterpret_cast<unsigned char*>(c);
    for (std::size_t i = 0; i < words; ++i) std::memcpy(bytes + i * 8, &kEmptyPattern, 8);
    for (std::size_t i = words * 4; i < count; ++i) c[i] = kEmptyDepth;
}

}  // namespace

void noteDepthWrites(std::int64_t first, std::int64_t last) {
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, static_cast<std::int64_t>(depthBuffer.cellCount) - 1);
    if (first > last) return;
    touchedFirst = std::min(touchedFirst, first);
    touchedLast = std::max(touchedLast, last);
}

void noteDepthBox(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom) {
    left = std::max<std::int64_t>(left, 0);
    top = std::max<std::int64_t>(top, 0);
    right = std::min<std::int64_t>(right, static_cast<std::int64_t>(depthBuffer.width) - 1);
    bottom = std::min<std::int64_t>(bottom, static_cast<std::int64_t>(depthBuffer.height) - 1);
    if (left > right || top > bottom) return;
    if (boxRight >= boxLeft) {
        left = std::min(left, boxLeft);
        top = std::min(top, boxTop);
        right = std::max(right, boxRight);
        bottom = std::max(bottom, boxBottom);
    }
    boxLeft = left;
    boxTop = top;
    boxRight = right;
    boxBottom = bottom;
}

void clearTouchedDepthCells() {
    if (depthBuffer.cells != nullptr) {
        if (touchedFirst <= touchedLast) fillEmpty(touchedFirst, touchedLast);
        const std::int64_t w = depthBuffer.width;
        for (std::int64_t row = boxTop; boxLeft <= boxRight && row <= boxBottom; ++row)
            fillEmpty(row * w + boxLeft, row * w + boxRight);
    }
    forgetTouched();
}

void createDepthBuffer(std::int32_t width, std::int32_t height) {
    depthBuffer.cells = nullptr;
    if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) {
        depthBuffer.width = 0;
        depthBuffer.height = 0;
        depthBuffer.cellCount = 0;
        return;
    }
    depthBuffer.width = static_cast<std::int16_t>(width);
    depthBuffer.height = static_cast<std::int16_t>(height);
    depthBuffer.cellCount = width * height;  // at most 32767^2, fits
    if (depthBuffer.cellCount == 0) return;
    depthBuffer.cells = static_cast<std::int16_t*>(
        plat::GlobalAllocFixed(static_cast<std::size_t>(depthBuffer.cellCount) * 2));
    if (depthBuffer.cells != nullptr) clearDepthBuffer();
}

void clearDepthBuffer() {
    forgetTouched();
    if (depthBuffer.cells == nullptr || depthBuffer.cellCount <= 0) return;
    fillEmpty(0, static_cast<std::int64_t>(depthBuffer.cellCount) - 1);
}

void raiseDepthRange(std::int64_t first, std::int64_t last, std::int32_t depth) {
    const std::int64_t count = depthBuffer.cellCount;
    if (depthBuffer.cells == nullptr || count <= 0) return;
    first = std::max<std::int64_t>(first, 0);
    last = std::min<std::int64_t>(last, count - 1);
    if (first > last) return;
    noteDepthWrites(first, last);
    std::int16_t* c = depthBuffer.cells + first;
    const std::int64_t n = last - first + 1;
    if (depth >= INT16_MIN && depth <= INT16_MAX) {
        const auto d = static_cast<std::int16_t>(depth);
        for (std::int64_t i = 0; i < n; ++i) c[i] = std::max(c[i], d);
    } else {
        // Only the low 16 bits are stored, so "raise" is not a plain maximum.
        const auto low = static_cast<std::int16_t>(depth);
        for (std::int64_t i = 0; i < n; ++i)
            if (c[i] < depth) c[i] = low;
    }
}

void markDepthSquare(std::int64_t col, std::int64_t row, std::int64_t radius, std::int32_t depth) {
    const std::int64_t w = depthBuffer.width;
    const std::int64_t count = depthBuffer.cellCount;
    if (depthBuffer.cells == nullptr || w <= 0 || count <= 0 || radius < 0) return;
    // Every cell of the square is raised to at least depth, in any order: the
    // result depends only on which linear indices the square covers. Each row
    // of the square is one run of 2r+1 indices and the next row's run starts w
    // further on, so once 2r+1 >= w the runs join into one.
    const std::int64_t span = 2 * radius + 1;
    if (span >= w) {
        raiseDepthRange(w * (row - radius) + col - radius, w * (row + radius) + col + radius, depth);
        return;
    }
    // Here radius < w / 2 <= 16383. Only rows whose run can meet the buffer
    // matter: base + radius >= 0 and base - radius < count.
    std::int64_t firstRow = row - radius;
    std::int64_t lastRow = row + radius;
    const std::int64_t lowRow = (-col - radius) / w - 1;   // a row or two early is harmless
    const std::int64_t highRow = (count - col + radius) / w + 1;
    firstRow = std::max(firstRow, lowRow);
    lastRow = std::min(lastRow, highRow);
    for (std::int64_t r = firstRow; r <= lastRow; ++r) {
        const std::int64_t base = w * r + col;
        raiseDepthRange(base - radius, base + radius, depth);
    }
}

int depthTestAndMark(std::int32_t col, std::int32_t row, std::int32_t depth) {
    const std::int32_t step = renderPointStep();
    if (!depthTestAndMark(depthBuffer, col, row, depth, step)) return 0;
    // At step 1 the centre cell is the one write that is not noted yet.
    if (step == 1) {
        const std::int64_t index = std::int64_t{depthBuffer.width} * row + col;
        noteDepthWrites(index, index);
    }
    return 1;
}

void depthRaise(std::int32_t col, std::int32_t row, std::int32_t depth) {
    if (!depthRaise(depthBuffer, col, row, depth)) return;
    const std::int64_t index = std::int64_t{depthBuffer.width} * row + col;
    noteDepthWrites(index, index);
}

void destroyDepthBuffer() {
    forgetTouched();
    if (depthBuffer.cells != nullptr) plat::GlobalFree(depthBuffer.cells);
    depthBuffer.cells = nullptr;
}
