// A second cube renderer, written for nothing but being easy to check: every
// sample through a per-sample plot, every pixel through its own call, its own
// depth buffer. The saver's renderer must reproduce its frames exactly; the
// benchmark measures how much faster the saver's is.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/pixel_surface.h"

struct ReferenceDepth {
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::int32_t cellCount = 0;
    bool present = true;  // false: no memory, so no hidden-surface removal
    std::vector<std::int16_t> cells;
};

void referenceCreateDepth(ReferenceDepth& depth, std::int32_t width, std::int32_t height);

// Reads saverSettings and sideTable exactly as renderCube does.
void referenceRenderCube(PixelSurface& target, ReferenceDepth& depth, float angleA, float angleB,
                         float angleC);
