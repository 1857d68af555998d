#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "platform/headless/headless.h"
#include "render/depth_buffer.h"
#include "settings/settings.h"

namespace {

class DepthBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        headless::reset();
        saved = saverSettings;
        saverSettings.pointStep = 1;
        createDepthBuffer(10, 6);
        ASSERT_NE(depthBuffer.cells, nullptr);
    }
    void TearDown() override {
        destroyDepthBuffer();
        headless::reset();
        saverSettings = saved;
    }
    std::int16_t& cell(int col, int row) { return depthBuffer.cells[row * depthBuffer.width + col]; }
    int countNotEmpty() {
        int n = 0;
        for (int i = 0; i < depthBuffer.cellCount; ++i) n += depthBuffer.cells[i] != kEmptyDepth;
        return n;
    }
    SaverSettings saved{};
};

TEST_F(DepthBufferTest, FreshAndClearedBufferIsEmptyAndLetsAnythingFromEmptyUp) {
    EXPECT_EQ(depthBuffer.width, 10);
    EXPECT_EQ(depthBuffer.height, 6);
    EXPECT_EQ(depthBuffer.cellCount, 60);
    EXPECT_EQ(countNotEmpty(), 0);
    EXPECT_EQ(depthTestAndMark(3, 2, -20001), 0);
    EXPECT_EQ(depthTestAndMark(3, 2, -20000), 1);
    cell(9, 5) = 123;
    clearDepthBuffer();
    EXPECT_EQ(countNotEmpty(), 0);
}

TEST_F(DepthBufferTest, EqualDepthPassesNearerStoredDepthBlocks) {
    EXPECT_EQ(depthTestAndMark(4, 3, 50), 1);
    EXPECT_EQ(cell(4, 3), 50);
    EXPECT_EQ(depthTestAndMark(4, 3, 50), 1);
    EXPECT_EQ(depthTestAndMark(4, 3, 49), 0);
    EXPECT_EQ(cell(4, 3), 50);
    EXPECT_EQ(countNotEmpty(), 1);  // step 1 writes only the centre
}

TEST_F(DepthBufferTest, StepThreeRaisesSevenBySevenWhereLower) {
    destroyDepthBuffer();
    createDepthBuffer(12, 10);
    saverSettings.pointStep = 3;
    cell(5, 5) = 10;   // centre: lower, so the test passes and it is raised
    cell(3, 3) = 100;  // inside the square, nearer: must keep 100
    EXPECT_EQ(depthTestAndMark(5, 5, 40), 1);
    int raised = 0;
    for (int r = 0; r < 10; ++r)
        for (int c = 0; c < 12; ++c) {
            const bool inside = c >= 2 && c <= 8 && r >= 2 && r <= 8;
            if (c == 3 && r == 3) {
                EXPECT_EQ(cell(c, r), 100);
            } else if (inside) {
                EXPECT_EQ(cell(c, r), 40) << c << "," << r;
                ++raised;
            } else {
                EXPECT_EQ(cell(c, r), kEmptyDepth) << c << "," << r;
            }
        }
    EXPECT_EQ(raised, 48);
}

TEST_F(DepthBufferTest, OnlyTheLinearIndexIsCheckedSoColumnsWrapIntoNeighbouringRows) {
    cell(9, 1) = 500;  // end of row 1
    EXPECT_EQ(depthTestAndMark(-1, 2, 0), 0);  // column -1 of row 2 is cell (9, 1)
    cell(0, 3) = 500;  // start of row 3
    EXPECT_EQ(depthTestAndMark(10, 2, 0), 0);  // column 10 of row 2 is cell (0, 3)
    EXPECT_EQ(depthTestAndMark(-1, 0, 0), 0);  // index -1
    EXPECT_EQ(depthTestAndMark(0, 6, 0), 0);   // index == cellCount
    EXPECT_EQ(depthTestAndMark(9, 5, 0), 1);   // the last cell
    EXPECT_EQ(depthTestAndMark(5, -1, 0), 0);
}

TEST_F(DepthBufferTest, RaiseStoresWhenNotNearerAndIgnoresOutsideIndices) {
    cell(2, 2) = 7;
    depthRaise(2, 2, 7);
    EXPECT_EQ(cell(2, 2), 7);
    depthRaise(2, 2, 6);
    EXPECT_EQ(cell(2, 2), 7);
    depthRaise(2, 2, 9);
    EXPECT_EQ(cell(2, 2), 9);
    depthRaise(0, 6, 9);
    depthRaise(-1, 0, 9);
    depthRaise(-3, 1, 9);  // index 7: cell (7, 0)
    EXPECT_EQ(cell(7, 0), 9);
    EXPECT_EQ(countNotEmpty(), 2);
}

TEST_F(DepthBufferTest, DepthsBeyondSixteenBitsStoreTheirLowBitsAndCompareInFull) {
    EXPECT_EQ(depthTestAndMark(1, 1, 40000), 1);
    EXPECT_EQ(cell(1, 1), static_cast<std::int16_t>(40000));
    saverSettings.pointStep = 2;
    EXPECT_EQ(depthTestAndMark(5, 3, 40000), 1);
    EXPECT_EQ(cell(6, 4), static_cast<std::int16_t>(40000));
}

// The bounded marking against the straightforward double loop, on positions inside,
// beside and far outside the buffer, radii from 0 to past the buffer's size.
TEST_F(DepthBufferTest, BoundedMarkingMatchesTheDoubleLoop) {
    destroyDepthBuffer();
    createDepthBuffer(13, 7);
    const int w = 13, count = 91;
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> depthDist(-300, 300);
    std::uniform_int_distribution<int> posDist(-30, 40);
    for (int trial = 0; trial < 400; ++trial) {
        const int radius = trial % 25;
        const int col = posDist(rng), row = posDist(rng) / 2, depth = depthDist(rng);
        std::vector<std::int16_t> expected(count);
        for (int i = 0; i < count; ++i) expected[i] = depthBuffer.cells[i] = static_cast<std::int16_t>(depthDist(rng));
        for (int dc = -radius; dc <= radius; ++dc)
            for (int dr = -radius; dr <= radius; ++dr) {
                const int idx = w * (row + dr) + (col + dc);
                if (idx >= 0 && idx < count && expected[idx] < depth) expected[idx] = static_cast<std::int16_t>(depth);
            }
        markDepthSquare(col, row, radius, depth);
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(depthBuffer.cells[i], expected[i]) << "trial " << trial << " radius " << radius
                                                         << " at " << col << "," << row << " cell " << i;
    }
    // A radius far past every cell reaches all of them, from anywhere near.
    for (const std::int64_t radius : {std::int64_t{1000}, std::int64_t{2147483647}}) {
        clearDepthBuffer();
        markDepthSquare(-50, 30, radius, 5);
        EXPECT_EQ(countNotEmpty(), count);
    }
    // ... but not from where even the widest square misses the buffer.
    clearDepthBuffer();
    markDepthSquare(0, -100, 20, 5);
    EXPECT_EQ(countNotEmpty(), 0);
}

TEST_F(DepthBufferTest, HugeStepFinishesAndMarksEveryReachableCell) {
    saverSettings.pointStep = 2147483647;
    EXPECT_EQ(depthTestAndMark(4, 3, 10), 1);
    EXPECT_EQ(countNotEmpty(), 60);
    EXPECT_EQ(depthTestAndMark(0, 0, 9), 0);
}

TEST_F(DepthBufferTest, MissingMemoryMeansEverythingDrawsAndNothingIsTouched) {
    destroyDepthBuffer();
    saverSettings.pointStep = 3;
    headless::setGlobalAllocFails(true);
    createDepthBuffer(64, 48);
    EXPECT_EQ(depthBuffer.cells, nullptr);
    clearDepthBuffer();
    EXPECT_EQ(depthTestAndMark(10, 10, -30000), 1);
    EXPECT_EQ(depthTestAndMark(-5, -5, 0), 1);
    depthRaise(1, 1, 1);
    destroyDepthBuffer();
    // An area the 16-bit record cannot describe gets no memory either.
    headless::setGlobalAllocFails(false);
    createDepthBuffer(40000, 10);
    EXPECT_EQ(depthBuffer.cells, nullptr);
}

}  // namespace
