// Per-pixel depth for hidden-surface removal: larger is nearer, -20000 is empty.
//
//   kEmptyDepth         the value of a cell nothing has been drawn into
//   DepthBuffer         the record: size, cell count, the cells
//   depthBuffer         the process-wide record
//   createDepthBuffer   size it to the drawing area (platform global memory)
//   clearDepthBuffer    every cell back to empty
//   depthTestAndMark    may a sample at (col,row,depth) be drawn? marks its square
//   depthRaise          raise one cell to depth where it is not nearer already
//   destroyDepthBuffer  give the memory back
//   markDepthSquare     the marking of depthTestAndMark for any radius, bounded
//                       to the cells the square can reach
//   raiseDepthRange     raise a run of linear indices, clipped to the buffer
//   noteDepthWrites     a span of cells written directly, for the next clear
//   noteDepthBox        the same for a box of columns and rows, clipped to the
//                       buffer
//   clearTouchedDepthCells  clearDepthBuffer's result, clearing only the cells
//                       written since the last clear (through the operations
//                       here or a noted span); the frame's clear
//   depthPasses, and depthTestAndMark and depthRaise on a given buffer and
//                       step: the per-sample forms the renderer inlines
#pragma once

#include <cstdint>

inline constexpr std::int16_t kEmptyDepth = -20000;

struct DepthBuffer {
    std::int16_t width;
    std::int16_t height;
    std::int32_t cellCount;
    std::int16_t* cells;  // null when the memory could not be had
};

extern DepthBuffer depthBuffer;

void createDepthBuffer(std::int32_t width, std::int32_t height);
void clearDepthBuffer();
int depthTestAndMark(std::int32_t col, std::int32_t row, std::int32_t depth);
void depthRaise(std::int32_t col, std::int32_t row, std::int32_t depth);
void destroyDepthBuffer();
void markDepthSquare(std::int64_t col, std::int64_t row, std::int64_t radius, std::int32_t depth);
void raiseDepthRange(std::int64_t first, std::int64_t last, std::int32_t depth);
void noteDepthWrites(std::int64_t first, std::int64_t last);
void noteDepthBox(std::int64_t left, std::int64_t top, std::int64_t right, std::int64_t bottom);
void clearTouchedDepthCells();

// The per-sample forms. depthTestAndMark and depthRaise above are these on
// depthBuffer and the settings' step, noting what they write; the renderer
// calls these directly, with the record copied into its locals (so a store to
// a cell need not make it read the record again), and notes the whole frame's
// writes at once. markDepthSquare notes its own.
//
// They are static so that every file has its own copy: the build of the
// renderer's fast paths for SSE2 must not lend one to code that runs on a
// processor without it.

// Whether a sample at depth may be drawn over a cell holding stored: it is
// nearer, or as near (the later of two equal samples wins).
static inline bool depthPasses(std::int16_t stored, std::int32_t depth) { return stored <= depth; }

// Tests the cell at (col, row) by its linear index and, where the sample
// passes, marks it (step 1) or the square of radius step around it. Without
// cells there is no hidden-surface removal: everything passes.
static inline bool depthTestAndMark(const DepthBuffer& buffer, std::int64_t col, std::int64_t row,
                                    std::int32_t depth, std::int32_t step) {
    if (buffer.cells == nullptr) return true;
    const std::int64_t index = std::int64_t{buffer.width} * row + col;
    if (index < 0 || index >= buffer.cellCount) return false;
    if (!depthPasses(buffer.cells[index], depth)) return false;
    if (step == 1)
        buffer.cells[index] = static_cast<std::int16_t>(depth);
    else
        markDepthSquare(col, row, step, depth);
    return true;
}

// True when it wrote the cell.
static inline bool depthRaise(const DepthBuffer& buffer, std::int64_t col, std::int64_t row,
                              std::int32_t depth) {
    if (buffer.cells == nullptr) return false;
    const std::int64_t index = std::int64_t{buffer.width} * row + col;
    if (index < 0 || index >= buffer.cellCount || !depthPasses(buffer.cells[index], depth))
        return false;
    buffer.cells[index] = static_cast<std::int16_t>(depth);
    return true;
}
