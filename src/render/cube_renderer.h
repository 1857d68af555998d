// One frame of the cube: every shown side sampled on a grid, rotated,
// projected, depth-tested and splatted into a pixel surface.
//
//   renderCube   draw the frame at three angles (target already black)
//   cubePixelBox where that frame can draw
//   spreadSamples  take every n-th sample only, for a cube reduced n times
//                  further than its settings say
//   plotSample   project, test and draw one rotated sample
//
// The fast paths come in two builds where the processor may lack SSE2 (the
// 32-bit program): plain and SSE2. The program chooses once, at its start,
// before anything could run an SSE2 instruction; until then, and wherever
// SSE2 is the build's baseline, there is one path.
//   RendererPath        Plain or Sse2
//   chooseRendererPath  the processor's path (plat::ProcessorHasSse2), now in
//                       use
//   useRendererPath     draw with this path, if this build and processor
//                       have it (for comparing the two)
//   rendererPathName    "plain" or "sse2"
#pragma once

#include <cstdint>

#include "platform/pixel_surface.h"

enum class RendererPath { Plain, Sse2 };

RendererPath chooseRendererPath();
bool useRendererPath(RendererPath path);
const char* rendererPathName(RendererPath path);

// Every n-th sample of the stride, drawn with the stride's splat: a cube
// reduced n times further than its settings say then costs, and looks, as
// the smaller cube would. 1 (the start) takes every sample.
void spreadSamples(std::int32_t n);

void renderCube(PixelSurface& target, float angleA, float angleB, float angleC);

// A box no pixel written by renderCube at these angles lies outside of,
// clipped to the target: left and top included, right and bottom excluded;
// left == right when the frame can draw nothing there.
struct PixelBox {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};
PixelBox cubePixelBox(const PixelSurface& target, float angleA, float angleB, float angleC);
void plotSample(int side, PixelSurface& target, std::int32_t u, std::int32_t v, std::int32_t X,
                std::int32_t Y, std::int32_t Z);
