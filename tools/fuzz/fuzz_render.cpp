// One frame of the cube from any settings record, drawn by the saver's renderer
// and by the plain reference renderer; the two frames must be equal pixel for
// pixel. The sides are the record's own colours and empty sides, and small
// pictures made here in place of every path, so the fast paths meet pictures,
// colours and gaps in every mix.
//
// Input: a 32-byte head, then the settings file (a short one as it would be
// read). Head: frame width and height, three angles, then per side the
// picture's width, height and pattern.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "loader/side_loader.h"
#include "platform/pixel_surface.h"
#include "reference_renderer.h"
#include "render/cube_renderer.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"
#include "settings/settings.h"
#include "test_pictures.h"

namespace {

constexpr std::size_t kHeadSize = 32;
constexpr std::int32_t kLargestComparedStep = 256;

float angleFrom(const std::uint8_t* p) {
    const auto raw = static_cast<std::int16_t>(p[0] | p[1] << 8);
    return static_cast<float>(raw) / 4096.0f;  // about -8 to 8 radians
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeadSize) return 0;
    const std::uint8_t* head = data;
    const std::int32_t width = 1 + head[0] % 128;
    const std::int32_t height = 1 + head[1] % 96;
    const float a = angleFrom(head + 2), b = angleFrom(head + 4), c = angleFrom(head + 6);

    saverSettings = SaverSettings{};
    loadSettingsFromBytes(data + kHeadSize, size - kHeadSize);

    freeSidePixels();
    for (Side& side : sideTable) side = Side{};
    static const std::string stem = "/tmp/rovanta-fuzz-render-" + std::to_string(getpid());
    bool loaded = true;
    for (std::size_t s = 0; s < kSideCount && loaded; ++s) {
        const std::uint8_t* picture = head + 8 + 4 * s;
        std::string text = sideText(s);
        if (sideKindOf(text.c_str()) == SideKind::Picture) {
            text = stem + "-" + std::to_string(s) + ".jpg";
            loaded = writeTestJpeg(text, 1 + picture[0] % 48, 1 + picture[1] % 48,
                                   picture[2] | picture[3] << 8u);
        }
        loaded = loaded && loadSide(sideTable[s], text.c_str());
    }
    for (std::size_t s = 0; s < kSideCount; ++s)
        std::remove((stem + "-" + std::to_string(s) + ".jpg").c_str());
    if (!loaded) __builtin_trap();  // every side here is one the loader takes

    // As the saver sets up its window.
    saverSettings.faceSize = edgeLengthOfSides();
    saverSettings.centerX = width / 2;
    saverSettings.centerY = height / 2;

    std::vector<std::uint32_t> fast(static_cast<std::size_t>(width) * height, 0);
    std::vector<std::uint32_t> plain(fast.size(), 0);
    PixelSurface fastView{fast.data(), width, height, width};
    PixelSurface plainView{plain.data(), width, height, width};
    createDepthBuffer(width, height);
    renderCube(fastView, a, b, c);
    destroyDepthBuffer();
    // The reference marks every cell of a splat's square, clipped or not; past
    // this stride it would take minutes a frame, so there the saver's renderer
    // is only run, not compared.
    if (renderPointStep() <= kLargestComparedStep) {
        ReferenceDepth depth;
        referenceCreateDepth(depth, width, height);
        referenceRenderCube(plainView, depth, a, b, c);
        if (fast != plain) __builtin_trap();
    }
    freeSidePixels();
    return 0;
}
