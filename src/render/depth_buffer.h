// Per-pixel depth for hidden-surface removal: larger is nearer, -20000 is empty.
//
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
