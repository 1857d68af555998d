#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/headless/headless.h"
#include "reference_renderer.h"
#include "render/cube_renderer.h"
#include "render/depth_buffer.h"
#include "render/side_table.h"
#include "settings/settings.h"

namespace {

constexpr std::uint32_t kPad = 0xDEADBEEFu;  // stride padding must stay untouched
constexpr float kQuarter = 0.7853982f;

struct Angles {
    float a, b, c;
};
const Angles kAngles[] = {
    {0.0f, 0.0f, 0.0f},
    {kQuarter, kQuarter, kQuarter},
    {0.3f, 1.1f, -0.7f},
    {1234.567f, -987.25f, 40000.5f},
    {1.5707964f, 0.0f, 3.1415927f},
};

struct Surface {
    std::vector<std::uint32_t> memory;
    PixelSurface view{};
    Surface(std::int32_t w, std::int32_t h, std::int32_t pad) {
        const std::int32_t stride = w + pad;
        memory.assign(static_cast<std::size_t>(stride) * h, 0);
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = w; x < stride; ++x) memory[static_cast<std::size_t>(y) * stride + x] = kPad;
        view = {memory.data(), w, h, stride};
    }
    std::uint32_t at(std::int32_t x, std::int32_t y) const {
        return memory[static_cast<std::size_t>(y) * view.stride + x];
    }
};

enum class Kind { Picture, Colour, Empty };

class CubeRendererTest : public ::testing::Test {
protected:
    void SetUp() override {
        headless::reset();
        savedSettings = saverSettings;
        for (auto& s : sideTable) s = Side{};
    }
    void TearDown() override {
        freeSidePixels();
        for (auto& s : sideTable) s = Side{};
        destroyDepthBuffer();
        headless::reset();
        saverSettings = savedSettings;
    }

    static void setPicture(int side, std::int32_t w, std::int32_t h, std::uint32_t seed) {
        Side& s = sideTable[side];
        s = Side{};
        allocSidePixels(s, w, h);
        ASSERT_NE(s.pixels, nullptr);
        std::uint32_t x = seed * 2654435761u + 1;
        for (std::int64_t i = 0; i < static_cast<std::int64_t>(w) * h * 3; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            s.pixels[i] = static_cast<std::uint8_t>(x);
        }
        s.rowsFilled = h;
    }
    static void setColour(int side, std::int32_t r, std::int32_t g, std::int32_t b) {
        Side& s = sideTable[side];
        s.width = -1;
        s.height = -1;
        s.red = r;
        s.green = g;
        s.blue = b;
        s.isEmpty = 0;
    }
    static void setEmpty(int side) { sideTable[side].isEmpty = 1; }

    static void setScene(const std::vector<Kind>& kinds, std::int32_t faceSize) {
        for (int s = 0; s < 6; ++s) {
            switch (kinds[static_cast<std::size_t>(s)]) {
                case Kind::Picture: setPicture(s, faceSize + 3 + s, faceSize + 2 * s, 17u * s + 3); break;
                // Red and blue differ everywhere, and one component needs masking.
                case Kind::Colour: setColour(s, 40 * s + 15, 255 - 30 * s, s == 3 ? 0x1A7 : 9 * s); break;
                case Kind::Empty: setEmpty(s); break;
            }
        }
    }

    static void setView(std::int32_t faceSize, std::int32_t step, std::int32_t reduce,
                        std::int32_t cx, std::int32_t cy) {
        saverSettings.faceSize = faceSize;
        saverSettings.pointStep = step;
        saverSettings.reduceFactor = reduce;
        saverSettings.centerX = cx;
        saverSettings.centerY = cy;
    }

    // The saver's renderer with a depth buffer of its own, as large as the
    // surface unless another size is given.
    static void renderProduction(Surface& frame, const Angles& a, std::int32_t depthW = 0,
                                 std::int32_t depthH = 0) {
        createDepthBuffer(depthW > 0 ? depthW : frame.view.width,
                          depthH > 0 ? depthH : frame.view.height);
        renderCube(frame.view, a.a, a.b, a.c);
        destroyDepthBuffer();
    }
    static void renderReference(Surface& frame, const Angles& a, std::int32_t depthW = 0,
                                std::int32_t depthH = 0, bool depthMemory = true) {
        ReferenceDepth depth;
        referenceCreateDepth(depth, depthW > 0 ? depthW : frame.view.width,
                             depthH > 0 ? depthH : frame.view.height);
        depth.present = depthMemory;
        referenceRenderCube(frame.view, depth, a.a, a.b, a.c);
    }

    // Renders with both renderers; a failure tells how many pixels differ
    // and where the first one is.
    static ::testing::AssertionResult framesMatch(std::int32_t w, std::int32_t h, const Angles& a,
                                                  bool depthMemory = true, std::int32_t pad = 3) {
        Surface production(w, h, pad), reference(w, h, pad);
        headless::setGlobalAllocFails(!depthMemory);
        renderProduction(production, a);
        headless::setGlobalAllocFails(false);
        renderReference(reference, a, w, h, depthMemory);
        int differing = 0;
        std::ostringstream first;
        for (std::size_t i = 0; i < production.memory.size(); ++i) {
            if (production.memory[i] == reference.memory[i]) continue;
            if (differing++ == 0)
                first << "first at (" << i % production.view.stride << ","
                      << i / production.view.stride << "): production " << std::hex
                      << production.memory[i] << " reference " << reference.memory[i];
        }
        if (differing == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << differing << " pixels differ, " << first.str();
    }

    // The whole grid of steps, reduce factors and angles on one surface.
    static void expectGridMatches(std::int32_t w, std::int32_t h, std::int32_t faceSize,
                                  std::int32_t cx, std::int32_t cy,
                                  const std::vector<std::int32_t>& steps = {1, 2, 3, 10}) {
        for (const std::int32_t step : steps)
            for (const std::int32_t reduce : {1, 2, 3})
                for (const Angles& a : kAngles) {
                    setView(faceSize, step, reduce, cx, cy);
                    EXPECT_TRUE(framesMatch(w, h, a))
                        << w << "x" << h << " S " << faceSize << " k " << step << " f " << reduce
                        << " angles " << a.a << "," << a.b << "," << a.c;
                }
    }

    SaverSettings savedSettings{};
};

TEST_F(CubeRendererTest, ScenesMatchTheReferenceOnFullClippedAndOffCentreSurfaces) {
    const Kind P = Kind::Picture, C = Kind::Colour, E = Kind::Empty;
    struct Scene {
        std::vector<Kind> kinds;
        std::int32_t faceSize;
        std::vector<std::array<std::int32_t, 4>> surfaces;  // width, height, centre
        std::vector<std::int32_t> steps;
    };
    const Scene scenes[] = {
        // Six pictures: a full surface, a preview pane smaller than the cube,
        // and off the left and bottom edges, where rows wrap.
        {{P, P, P, P, P, P}, 61, {{160, 120, 80, 60}, {48, 36, 24, 18}, {120, 90, 6, 85}}, {1, 2, 3, 10}},
        // Pictures, colours and an empty side; then off the right and top edges.
        {{P, C, E, P, C, C}, 50, {{140, 100, 70, 50}, {60, 40, 58, 3}}, {1, 2, 3, 10}},
        // Colour sides with an empty pair and an odd edge.
        {{C, C, E, E, C, E}, 47, {{100, 80, 50, 40}}, {1, 2, 3, 10}},
        // Large steps: 20 marks squares narrower than the buffer; 40 wider, joined runs.
        {{P, C, P, C, P, C}, 61, {{64, 48, 32, 24}}, {20, 40}},
    };
    for (const Scene& scene : scenes) {
        freeSidePixels();
        for (auto& side : sideTable) side = Side{};
        setScene(scene.kinds, scene.faceSize);
        for (const auto& [w, h, cx, cy] : scene.surfaces)
            expectGridMatches(w, h, scene.faceSize, cx, cy, scene.steps);
    }
}

TEST_F(CubeRendererTest, FacesLongerThanTheRenderersWorkBatchesMatchOnTightAndPaddedRows) {
    // The step-1 path works through a row of samples in batches, so faces
    // well past a few hundred samples and rows with no stride padding are
    // where a batch's last sample could take a wrong texel or pixel.
    setScene({Kind::Picture, Kind::Picture, Kind::Colour, Kind::Picture, Kind::Empty,
              Kind::Picture}, 301);
    for (const std::int32_t pad : {0, 5})
        for (const auto& [cx, cy] : {std::pair{200, 150}, std::pair{12, 290}, std::pair{390, 8}})
            for (const Angles& a : kAngles) {
                setView(301, 1, 1, cx, cy);
                EXPECT_TRUE(framesMatch(400, 300, a, true, pad))
                    << "pad " << pad << " centre " << cx << "," << cy << " angles " << a.a << ","
                    << a.b << "," << a.c;
            }
}

TEST_F(CubeRendererTest, MissingDepthMemoryDrawsEverySampleLikeTheReference) {
    setScene({Kind::Picture, Kind::Colour, Kind::Picture, Kind::Colour, Kind::Empty,
              Kind::Colour}, 41);
    for (const std::int32_t step : {1, 3})
        for (const Angles& a : kAngles) {
            setView(41, step, 1, 40, 30);
            EXPECT_TRUE(framesMatch(80, 60, a, false)) << "k " << step;
        }
}

TEST_F(CubeRendererTest, DepthBufferOfAnotherSizeThanTheSurfaceMatchesTheReference) {
    setScene({Kind::Picture, Kind::Colour, Kind::Picture, Kind::Colour, Kind::Colour,
              Kind::Colour}, 41);
    for (const std::int32_t step : {1, 2}) {
        setView(41, step, 1, 40, 30);
        Surface production(90, 50, 0), reference(90, 50, 0);
        renderProduction(production, {0.4f, 0.9f, 0.2f}, 70, 64);
        renderReference(reference, {0.4f, 0.9f, 0.2f}, 70, 64);
        EXPECT_EQ(production.memory, reference.memory) << "k " << step;
    }
}

// Each frame clears only what earlier frames (and stray calls) wrote, so a
// run of frames that move, shrink and change step must still each start from
// an empty buffer.
TEST_F(CubeRendererTest, ConsecutiveFramesEachStartFromAnEmptyBuffer) {
    setScene({Kind::Picture, Kind::Colour, Kind::Picture, Kind::Colour, Kind::Picture,
              Kind::Colour}, 61);
    struct Step {
        std::int32_t k, f, cx, cy;
        Angles a;
    };
    const Step steps[] = {{2, 1, 60, 50, kAngles[1]}, {1, 1, 60, 50, kAngles[2]},
                          {3, 1, 60, 50, kAngles[4]}, {1, 1, 10, 90, kAngles[2]},
                          {10, 3, 110, 5, kAngles[3]}, {3, 2, 60, 50, kAngles[4]},
                          {1, 1, 60, 50, kAngles[0]}, {25, 1, 0, 0, kAngles[2]},
                          {2, 1, 119, 99, kAngles[1]}, {2, 1, 60, 50, kAngles[2]}};
    for (int writer = 0; writer < 3; ++writer) {
        createDepthBuffer(120, 100);
        for (const Step& st : steps) {
            // Stray near writes right where this frame's cube lands, by one
            // of the three ways to write; the frame's clear must take them away.
            setView(61, 1, 1, st.cx, st.cy);
            Surface scratch(120, 100, 0);
            for (int dy = -4; dy <= 4; ++dy)
                for (int dx = -4; dx <= 4; ++dx) {
                    if (writer == 0) depthRaise(st.cx + dx, st.cy + dy, 20000);
                    if (writer == 1) depthTestAndMark(st.cx + dx, st.cy + dy, 20000);
                    if (writer == 2) plotSample(1, scratch.view, 0, 0, dx, dy, 20000);
                }
            setView(61, st.k, st.f, st.cx, st.cy);
            Surface production(120, 100, 0), reference(120, 100, 0);
            renderCube(production.view, st.a.a, st.a.b, st.a.c);
            renderReference(reference, st.a);
            EXPECT_EQ(production.memory, reference.memory)
                << "writer " << writer << " k " << st.k << " at " << st.cx << "," << st.cy;
        }
        destroyDepthBuffer();
    }
}

TEST_F(CubeRendererTest, StepAndFactorBelowOneAreUsedAsOne) {
    setScene({Kind::Picture, Kind::Colour, Kind::Picture, Kind::Colour, Kind::Colour,
              Kind::Colour}, 31);
    setView(31, 1, 1, 30, 25);
    Surface expected(60, 50, 0);
    renderReference(expected, {0.5f, 0.6f, 0.7f});
    for (const std::int32_t bad : {0, -1, -2147483647 - 1}) {
        setView(31, bad, bad, 30, 25);
        Surface production(60, 50, 0);
        renderProduction(production, {0.5f, 0.6f, 0.7f});
        EXPECT_EQ(production.memory, expected.memory) << bad;
    }
}

// With a step past the cube every side has one sample whose square covers the
// whole buffer; the largest step a file can hold gives the same frame as a
// modest one with that property, and finishes.
TEST_F(CubeRendererTest, HugeStepGivesTheFrameOfAnyStepPastTheCube) {
    setScene({Kind::Picture, Kind::Colour, Kind::Picture, Kind::Colour, Kind::Colour,
              Kind::Colour}, 200);
    for (const Angles& a : kAngles) {
        setView(200, 300, 1, 30, 20);
        Surface expected(64, 48, 2);
        renderReference(expected, a);
        setView(200, 2147483647, 1, 30, 20);
        Surface production(64, 48, 2);
        renderProduction(production, a);
        EXPECT_EQ(production.memory, expected.memory);
    }
}

TEST_F(CubeRendererTest, FacingSideShowsItsPictureUprightAndColoursKeepTheirOrder) {
    setPicture(0, 64, 64, 99);
    setColour(1, 1, 2, 3);
    for (int s = 2; s < 6; ++s) setColour(s, 0x11, 0x22, 0x33);
    setView(64, 1, 1, 50, 40);
    Surface frame(100, 80, 0);
    renderProduction(frame, kAngles[0]);
    // Overlapping splats: the last sample to cover a pixel is the one a step
    // right and a step down, so pixel (cx + p, cy + q) shows texel (p+h+1, q+h+1).
    const Side& side = sideTable[0];
    for (int q = -31; q <= 30; ++q)
        for (int p = -31; p <= 30; ++p) {
            const std::uint8_t* t = side.pixels + 3 * (side.width * (q + 33) + (p + 33));
            const std::uint32_t want = (std::uint32_t{t[0]} << 16) | (std::uint32_t{t[1]} << 8) | t[2];
            ASSERT_EQ(frame.at(50 + p, 40 + q), want) << p << "," << q;
        }

    // One sample per side (S 2, k 2): the facing side's splat alone, 6 wide
    // and 7 high, in 0x00RRGGBB with red and blue not swapped, red masked.
    for (auto& s : sideTable) s.isEmpty = 0;
    freeSidePixels();
    setColour(0, 0x111, 0x22, 0x33);
    setView(2, 2, 1, 20, 20);
    Surface small(40, 40, 1);
    renderProduction(small, kAngles[0]);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            const bool inside = x >= 16 && x <= 21 && y >= 16 && y <= 22;
            ASSERT_EQ(small.at(x, y), inside ? 0x00112233u : 0u) << x << "," << y;
        }
}

TEST_F(CubeRendererTest, NoSideShownLeavesTheFrameBlack) {
    for (int s = 0; s < 6; ++s) setEmpty(s);
    setView(100, 1, 1, 40, 30);
    Surface frame(80, 60, 2);
    createDepthBuffer(80, 60);
    renderCube(frame.view, 0.3f, 0.2f, 0.1f);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 80; ++x) ASSERT_EQ(frame.at(x, y), 0u);
    for (int i = 0; i < depthBuffer.cellCount; ++i) ASSERT_EQ(depthBuffer.cells[i], kEmptyDepth);
}

// Depths of a cube past the 16-bit range would wrap in the cells and let far
// samples through; scaled down, the facing side stays in front.
TEST_F(CubeRendererTest, CubeBeyondSixteenBitDepthsKeepsTheFacingSideInFront) {
    setColour(0, 200, 10, 20);
    for (int s = 1; s < 6; ++s) setColour(s, 10, 20 * s, 200);
    setView(70000, 2000, 1000, 50, 50);
    Surface frame(100, 100, 0);
    renderProduction(frame, kAngles[0]);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(frame.at(x, y), 0x00C80A14u) << x << "," << y;
}

TEST_F(CubeRendererTest, PictureSmallerThanTheCubeReadsNothingOutsideIt) {
    // Only a hand-set faceSize can do this; the loader never does.
    setPicture(0, 20, 16, 5);
    for (int s = 1; s < 6; ++s) setColour(s, 0, 0, 255);
    for (const std::int32_t step : {1, 2}) {
        setView(40, step, 1, 40, 30);
        EXPECT_TRUE(framesMatch(80, 60, kAngles[2])) << "k " << step;
    }
}

}  // namespace
