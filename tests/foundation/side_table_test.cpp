// The side table: buffers, rows, texels, release.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "loader/side_loader.h"
#include "render/side_table.h"

namespace {

class SideTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        freeSidePixels();
        std::memset(sideTable, 0, sizeof sideTable);
    }
    void TearDown() override { freeSidePixels(); }
};

std::string allocCapturingStdout(Side& side, std::int32_t width, std::int32_t height) {
    ::testing::internal::CaptureStdout();
    allocSidePixels(side, width, height);
    return ::testing::internal::GetCapturedStdout();
}

TEST_F(SideTableTest, ColourSideAnswersItsColourEverywhere) {
    Side& side = sideTable[0];
    ASSERT_TRUE(loadSide(side, "#102030"));
    for (auto [x, y] : {std::pair{0, 0}, {5000, 7}, {-3, 100000}}) {
        const Texel t = sideTexel(side, x, y);
        EXPECT_EQ(t.red, 0x10);
        EXPECT_EQ(t.green, 0x20);
        EXPECT_EQ(t.blue, 0x30);
    }
    // Whatever the parser yielded is handed on; drawing masks it.
    side.red = 300;
    EXPECT_EQ(sideTexel(side, 1, 1).red, 300);
}

TEST_F(SideTableTest, RowsGoToTheirPlaceAndPadColumnsAreBlack) {
    Side& side = sideTable[1];
    EXPECT_EQ(allocCapturingStdout(side, 644, 3), "");
    ASSERT_NE(side.pixels, nullptr);
    EXPECT_EQ(side.rowsFilled, 0);
    EXPECT_EQ(side.width, 644);
    EXPECT_EQ(side.height, 3);

    std::vector<std::uint8_t> row(641 * 3);
    for (std::size_t i = 0; i < row.size(); i += 3) {
        row[i] = 200;
        row[i + 1] = 100;
        row[i + 2] = 50;
    }
    appendSideRow(side, row.data(), row.size());
    EXPECT_EQ(side.rowsFilled, 1);
    const Texel inside = sideTexel(side, 640, 0);
    EXPECT_EQ(inside.red, 200);
    EXPECT_EQ(inside.green, 100);
    EXPECT_EQ(inside.blue, 50);
    for (int x = 641; x < 644; ++x) {
        const Texel pad = sideTexel(side, x, 0);
        EXPECT_EQ(pad.red + pad.green + pad.blue, 0) << "pad column " << x;
    }
    // A row not yet filled is black too.
    EXPECT_EQ(sideTexel(side, 0, 2).red, 0);
}

TEST_F(SideTableTest, RowCopyNeverLeavesItsRowOrTheBuffer) {
    Side& side = sideTable[2];
    allocSidePixels(side, 4, 2);
    ASSERT_NE(side.pixels, nullptr);
    std::vector<std::uint8_t> tooLong(100, 0xAB);
    appendSideRow(side, tooLong.data(), tooLong.size());
    EXPECT_EQ(sideTexel(side, 3, 0).red, 0xAB);
    EXPECT_EQ(sideTexel(side, 0, 1).red, 0) << "spilled into the next row";
    appendSideRow(side, tooLong.data(), tooLong.size());
    appendSideRow(side, tooLong.data(), tooLong.size());  // beyond the last row
    EXPECT_EQ(side.rowsFilled, 2);
}

TEST_F(SideTableTest, AbsurdSizesFailWithTheMessageAndChangeNothing) {
    Side& side = sideTable[3];
    side.width = 8;
    side.height = 9;
    side.rowsFilled = 5;
    EXPECT_EQ(allocCapturingStdout(side, 65536, 65535), "Image of size 65536 by 65535 is too large.\n");
    EXPECT_EQ(side.pixels, nullptr);
    EXPECT_EQ(side.width, 8);
    EXPECT_EQ(side.height, 9);
    EXPECT_EQ(side.rowsFilled, 5);
    EXPECT_EQ(allocCapturingStdout(side, INT32_MAX, INT32_MAX),
              "Image of size 2147483647 by 2147483647 is too large.\n");
    EXPECT_EQ(allocCapturingStdout(side, 0, 10), "Image of size 0 by 10 is too large.\n");
    EXPECT_EQ(side.pixels, nullptr);
    // Rows for a missing buffer go nowhere.
    std::uint8_t row[12] = {};
    appendSideRow(side, row, sizeof row);
    EXPECT_EQ(side.rowsFilled, 5);
    EXPECT_EQ(sideTexel(side, 0, 0).red, 0);
}

TEST_F(SideTableTest, AllSidesTogetherStayWithinOneTotal) {
    // Two of the largest pictures fill the total (the buffers start zeroed
    // and untouched, so this costs no memory); a buffer still held by a side
    // that has since turned to a colour counts as much as any other.
    allocSidePixels(sideTable[0], 13376, 13376);
    allocSidePixels(sideTable[1], 13376, 13376);
    ASSERT_NE(sideTable[1].pixels, nullptr);
    ASSERT_TRUE(loadSide(sideTable[1], "#00ff00"));
    EXPECT_LT(sideBytesAvailable(), 1u << 20);
    EXPECT_EQ(allocCapturingStdout(sideTable[2], 1024, 1024), "Image of size 1024 by 1024 is too large.\n");
    EXPECT_EQ(sideTable[2].pixels, nullptr);
    // A side's own old buffer is not counted against its new one.
    EXPECT_EQ(allocCapturingStdout(sideTable[0], 13376, 13376), "");
    EXPECT_NE(sideTable[0].pixels, nullptr);
    freeSidePixels();
    EXPECT_EQ(sideBytesAvailable(), kMaxAllSidesBytes);
}

TEST_F(SideTableTest, FreeReleasesEveryBufferWhateverTheSideNowShows) {
    allocSidePixels(sideTable[0], 4, 4);
    allocSidePixels(sideTable[1], 4, 4);
    allocSidePixels(sideTable[2], 8, 2);
    ASSERT_NE(sideTable[0].pixels, nullptr);
    // Sides 1 and 2 turn into a colour and an empty side without a release.
    ASSERT_TRUE(loadSide(sideTable[1], "#00ff00"));
    ASSERT_TRUE(loadSide(sideTable[2], "$none"));
    // A second buffer for a side that still holds one replaces it.
    allocSidePixels(sideTable[0], 12, 4);

    freeSidePixels();
    for (const Side& side : sideTable) EXPECT_EQ(side.pixels, nullptr);
    // The queries answer as before.
    EXPECT_EQ(sideTexel(sideTable[1], 0, 0).green, 255);
    EXPECT_EQ(sideShown(2), 0);
    EXPECT_EQ(sideTable[2].width, 8);
    EXPECT_EQ(sideTable[2].height, 2);
    EXPECT_EQ(sideTable[0].width, 12);
    EXPECT_EQ(sideTable[0].rowsFilled, 0);
    freeSidePixels();  // nothing left to release
    for (const Side& side : sideTable) EXPECT_EQ(side.pixels, nullptr);
}

TEST_F(SideTableTest, ShownUnlessEmpty) {
    sideTable[4].isEmpty = 0;
    sideTable[5].isEmpty = 1;
    EXPECT_EQ(sideShown(4), 1);
    EXPECT_EQ(sideShown(5), 0);
    EXPECT_EQ(sideShown(-1), 0);
    EXPECT_EQ(sideShown(6), 0);
}

}  // namespace
