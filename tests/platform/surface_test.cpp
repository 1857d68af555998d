// The frame surface: direct pixel writes, black fills and text in a real font.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/headless/headless.h"
#include "platform/platform.h"

namespace {

plat::LResult plainProc(plat::Window w, std::uint32_t m, plat::WParam wp, plat::LParam lp) {
    return plat::DefWindowProcA(w, m, wp, lp);
}

class Surface : public ::testing::Test {
protected:
    plat::Window window = 0;
    plat::FrameSurface* surface = nullptr;
    static constexpr std::int32_t kW = 320;
    static constexpr std::int32_t kH = 60;
    static constexpr std::uint32_t kMarker = 0x00123456;

    void SetUp() override {
        headless::reset();
        ASSERT_TRUE(plat::RegisterClassA(plat::WindowClass{0, plainProc, 0, 0, "S"}));
        window = plat::CreateWindowExA(0, "S", "", plat::WS_POPUP, 0, 0, kW, kH, 0, 0);
        surface = plat::CreateFrameSurface(window, kW, kH);
        ASSERT_NE(surface, nullptr);
    }
    void TearDown() override { plat::DestroyFrameSurface(surface); }

    void fill(std::uint32_t pixel) {
        PixelSurface* p = plat::FrameSurfacePixels(surface);
        for (std::int32_t y = 0; y < p->height; ++y)
            for (std::int32_t x = 0; x < p->width; ++x) p->pixels[y * p->stride + x] = pixel;
    }
    std::uint32_t at(std::int32_t x, std::int32_t y) {
        PixelSurface* p = plat::FrameSurfacePixels(surface);
        return p->pixels[y * p->stride + x];
    }
};

TEST_F(Surface, StartsBlackHasCairosStrideAndBlackensAfterDirectWrites) {
    PixelSurface* p = plat::FrameSurfacePixels(surface);
    ASSERT_EQ(p->width, kW);
    ASSERT_EQ(p->height, kH);
    EXPECT_GE(p->stride, kW);
    EXPECT_EQ(at(kW - 1, kH - 1), 0u);
    fill(kMarker);
    plat::BlackenFrameSurface(surface);
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) ASSERT_EQ(at(x, y), 0u) << x << "," << y;
    EXPECT_EQ(plat::CreateFrameSurface(0x9999, 10, 10), nullptr);  // no such window
}

TEST_F(Surface, TextMetricsComeFromARealFont) {
    plat::TextMetrics m = plat::GetFrameSurfaceTextMetrics(surface);
    EXPECT_GE(m.height, 10);
    EXPECT_LE(m.height, 30);
    EXPECT_GE(m.averageCharWidth, 5);
    EXPECT_LT(m.averageCharWidth, m.height);
    EXPECT_GE(m.externalLeading, 0);
    EXPECT_LT(m.externalLeading, m.height);
}

TEST_F(Surface, TextFillsExactlyItsOpaqueCellInTheGivenColoursAndKeepsDirectWrites) {
    fill(kMarker);
    plat::TextMetrics m = plat::GetFrameSurfaceTextMetrics(surface);
    const char* text = "Visit us at";
    auto n = static_cast<std::int32_t>(std::strlen(text));
    // The credit line's placement: flush with the right edge.
    std::int32_t x0 = kW - n * m.averageCharWidth;
    std::int32_t y0 = kH - 3 * (m.height + m.externalLeading) / 2;
    // Red text (Win32 packs red in the low byte) on black.
    plat::FrameSurfaceTextOut(surface, x0, y0, text, 0x0000FF, 0x000000);

    int textPixels = 0;
    for (std::int32_t y = 0; y < kH; ++y)
        for (std::int32_t x = 0; x < kW; ++x) {
            std::uint32_t p = at(x, y);
            bool inCell = x >= x0 && y >= y0 && y < y0 + m.height;
            if (!inCell) {
                ASSERT_EQ(p, kMarker) << "outside the cell at " << x << "," << y;
                continue;
            }
            ASSERT_NE(p, kMarker) << "cell not filled at " << x << "," << y;
            ASSERT_EQ(p & 0x0000FFFFu, 0u) << "only red may appear at " << x << "," << y;
            textPixels += p != 0;
        }
    EXPECT_GT(textPixels, n * 10);

    // A direct write made after the text is not undone by more text.
    PixelSurface* p = plat::FrameSurfacePixels(surface);
    p->pixels[0] = 0x00ABCDEF;
    plat::FrameSurfaceTextOut(surface, 10, 20, "x", 0xFFFFFF, 0);
    EXPECT_EQ(at(0, 0), 0x00ABCDEFu);
}

TEST_F(Surface, ShowingCopiesTheSurfaceClippedToItsSize) {
    fill(kMarker);
    plat::ShowFrameSurface(window, surface, kW + 50, 10);
    ASSERT_EQ(headless::frameCount(), 1);
    const headless::Frame& f = headless::lastFrame();
    EXPECT_EQ(f.window, window);
    EXPECT_EQ(f.shown.left, 0);
    EXPECT_EQ(f.shown.top, 0);
    EXPECT_EQ(f.shown.right, kW);
    EXPECT_EQ(f.shown.bottom, 10);
    ASSERT_EQ(f.pixels.size(), static_cast<std::size_t>(kW * kH));
    EXPECT_EQ(f.pixels[kW * 10 - 1], kMarker);
    EXPECT_EQ(f.pixels[kW * 10], 0u);  // never shown
}

}  // namespace
