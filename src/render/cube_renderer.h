// One frame of the cube: every shown side sampled on a grid, rotated,
// projected, depth-tested and splatted into a pixel surface.
//
//   renderCube   draw the frame at three angles (target already black)
//   plotSample   project, test and draw one rotated sample
#pragma once

#include <cstdint>

#include "platform/pixel_surface.h"

void renderCube(PixelSurface& target, float angleA, float angleB, float angleC);
void plotSample(int side, PixelSurface& target, std::int32_t u, std::int32_t v, std::int32_t X,
                std::int32_t Y, std::int32_t Z);
